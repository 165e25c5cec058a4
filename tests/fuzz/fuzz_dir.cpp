// Fuzz target: the directory and chain walks.
//
// The input gives a volume laid out as format lays it out on the 2 MiB
// medium (with a few geometry choices), whose root directory and FAT come
// from the input; the data area holds a pattern that tells each sector
// apart. After the mount every listed file is loaded with its listed size,
// looked up, one is deleted and a small file is saved and loaded back.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "flashfs/fat_layout.h"
#include "flashfs/fs_flash.h"
#include "tests/fuzz/fuzz_volume.h"
#include "tests/mem_medium.h"

using namespace skarvel;
using namespace skarvel::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const TDirInput in = ParseDirInput(data, size);
    TVolumeGeometry g;
    if (!DirGeometry(in, g)) return 0;

    // One medium for all inputs (a fresh 2 MiB per input costs more than the
    // rest of the run); every sector is rewritten below.
    static test::TMemMedium medium(MediumSectors);
    medium.ClearLog();
    std::memset(medium.Sector(0), 0, static_cast<size_t>(g.FirstDataSector) * SectorSize);
    EncodeBootSector(g, medium.Sector(0));
    const size_t fatBytes = std::min<size_t>(in.Fat.size(), static_cast<size_t>(g.SectorsPerFAT) * SectorSize);
    if (fatBytes) std::memcpy(medium.Sector(g.ReservedSectors), in.Fat.data(), fatBytes);
    // Entries 0 and 1 as format writes them: the first bytes of a 12-bit
    // FAT are fuzz_mount's matter; here the chains are.
    PutU16(medium.Sector(g.ReservedSectors), 0, FatMedia0);
    PutU16(medium.Sector(g.ReservedSectors), 2, FatEnd);
    const size_t rootBytes = std::min<size_t>(in.Root.size(), static_cast<size_t>(g.RootDirSectors) * SectorSize);
    if (rootBytes) std::memcpy(medium.Sector(g.FirstRootSector), in.Root.data(), rootBytes);
    for (uint32_t s = g.FirstDataSector; s < MediumSectors; ++s) PutPattern(medium.Sector(s), s);

    TFlash flash;  // never resumed: the routines run on this thread
    medium.Attach(flash);
    const uint8_t r = flash.InitFlash();
    Check(r == feOk, "a volume laid out like a formatted one does not mount");
    Check(flash.FMounted, "mounted flag not set");
    Check(flash.FSectorsPerCluster == g.SectorsPerCluster && flash.FFirstDataSector == g.FirstDataSector &&
              flash.FLastCluster == g.LastCluster,
          "the mount's geometry differs from the boot sector");

    TExercise how;
    how.SaveSize = in.SaveSize;
    how.DeleteIndex = in.DeleteIndex;
    how.Strict = true;
    Exercise(flash, medium, how);
    return 0;
}
