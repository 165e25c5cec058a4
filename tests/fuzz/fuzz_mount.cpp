// Fuzz target: the mount.
//
// The input's first 512 bytes are sector 0 of the medium, the rest follows
// from the first FAT sector the boot sector names (sector 1 when it names
// 0); sectors the input leaves out hold a pattern. InitFlash must either
// refuse the volume (unformatted, or foreign: a 12-bit FAT, a total beyond
// the 2 MiB device, an oversized FAT), leaving the worker unmounted and the
// medium unwritten, or mount a geometry that every later operation can walk
// safely.
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
    // One medium for all inputs (a fresh 2 MiB per input costs more than the
    // rest of the run); every sector is rewritten below.
    static test::TMemMedium medium(MediumSectors);
    medium.ClearLog();
    for (uint32_t s = 0; s < MediumSectors; ++s) PutPattern(medium.Sector(s), s);
    uint8_t* boot = medium.Sector(0);
    std::memset(boot, 0, SectorSize);
    if (size) std::memcpy(boot, data, std::min<size_t>(size, SectorSize));
    if (size > SectorSize) {
        const uint32_t first = std::max<uint32_t>(1, GetU16(boot, boot::ReservedSectors));
        if (first < MediumSectors) {
            const size_t room = static_cast<size_t>(MediumSectors - first) * SectorSize;
            const size_t n = std::min(size - SectorSize, room);
            std::memcpy(medium.Sector(first), data + SectorSize, n);
        }
    }
    const bool signature = boot[boot::Signature1] == 0x55 && boot[boot::Signature2] == 0xAA;
    const bool zeroField = boot[boot::SectorsPerCluster] == 0 || boot[boot::NumFATs] == 0 ||
                           GetU16(boot, boot::RootEntries) == 0 || GetU16(boot, boot::SectorsPerFAT) == 0 ||
                           (GetU16(boot, boot::TotalSectors16) == 0 && GetU32(boot, boot::TotalSectors32) == 0);

    TFlash flash;  // never resumed: the routines run on this thread
    medium.Attach(flash);
    const uint8_t r = flash.InitFlash();
    if (!signature || zeroField) Check(r != feOk, "a boot sector that must be refused was mounted");
    if (r != feOk) {
        // A refused foreign volume says so to every later operation.
        const uint8_t unmounted = r == feForeignVolume ? feForeignVolume : feUnformatted;
        Check(!flash.FMounted, "a failed mount left the worker mounted");
        Check((r == feForeignVolume) == (flash.FVolumeFault.load() != TVolumeFault::None), "the refusal's reason");
        Check(flash.ReadDir(0, nullptr) == unmounted, "ReadDir on an unmounted worker");
        Check(flash.SaveFile("A.TNC", "x", 0, 1) == unmounted, "SaveFile on an unmounted worker");
        uint32_t sz = 0;
        Check(flash.GetFileAttr("A.TNC", sz, 0) == unmounted, "GetFileAttr on an unmounted worker");
        for (const test::TExchangeRecord& e : medium.Log())
            Check(e.Cmd != cmdWriteSector, "a failed mount wrote to the medium");
        return 0;
    }
    Check(flash.FMounted, "mounted flag not set");
    Check(flash.FSectorsPerCluster == boot[boot::SectorsPerCluster] &&
              flash.FReservedSectors == GetU16(boot, boot::ReservedSectors) &&
              flash.FNumFATs == boot[boot::NumFATs] && flash.FRootEntries == GetU16(boot, boot::RootEntries) &&
              flash.FSectorsPerFAT == GetU16(boot, boot::SectorsPerFAT),
          "the mount's geometry differs from the boot sector");
    for (const test::TExchangeRecord& e : medium.Log())
        Check(e.Cmd != cmdWriteSector, "the mount wrote to the medium");

    TExercise how;
    how.SaveSize = size > 2 ? static_cast<uint32_t>(data[size - 1] * 37 + data[size - 2]) : 100;
    how.DeleteIndex = size > 3 ? data[size - 3] : 0;
    Exercise(flash, medium, how);
    return 0;
}
