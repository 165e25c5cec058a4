// Shared parts of the volume fuzz targets: the layout of a directory input,
// the sector pattern of the data area, and the operations run on a mounted
// volume with the checks around them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace skarvel {
class TFlash;
struct TVolumeGeometry;
namespace test {
class TMemMedium;
}
}  // namespace skarvel

namespace skarvel::fuzz {

// Sectors of the in-memory medium: the device's 2 MiB.
constexpr uint32_t MediumSectors = 4096;

// A directory input (fuzz_dir): a header, then the root directory's bytes,
// then the FAT's bytes; what the input leaves out reads as zeros.
//   0      sectors per cluster - 1 (low 4 bits)
//   1..2   root entries - 1 (modulo 1024)
//   3      bits 0-1: reserved sectors - 1; bit 2: a second FAT
//   4..5   size of the file saved at the end (modulo 12000)
//   6      which listed file is deleted
//   7      unused
//   8..9   number of root directory bytes that follow
constexpr size_t DirHeaderSize = 10;

struct TDirInput {
    uint8_t SectorsPerCluster = 4;
    uint16_t RootEntries = 512;
    uint16_t ReservedSectors = 1;
    uint8_t NumFATs = 1;
    uint16_t SaveSize = 0;
    uint8_t DeleteIndex = 0;
    std::vector<uint8_t> Root;
    std::vector<uint8_t> Fat;
};

// Parses a directory input (missing header bytes count as zeros).
TDirInput ParseDirInput(const uint8_t* data, size_t size);
// The inverse, for writing seeds.
std::vector<uint8_t> EncodeDirInput(const TDirInput& in);
// The geometry of a directory input on the 2 MiB medium, laid out as format
// lays it out. False when no volume fits.
bool DirGeometry(const TDirInput& in, TVolumeGeometry& g);

// Sector s of the data area holds s (little-endian), its complement, then
// zeros, so that every piece of a loaded file tells where it came from.
void PutPattern(uint8_t* sector512, uint32_t s);

// What Exercise does besides the checks that always hold.
struct TExercise {
    uint32_t SaveSize = 0;
    uint8_t DeleteIndex = 0;
    // The data area holds the pattern and the medium covers the whole
    // volume: loaded files are checked against the pattern and the free
    // space is checked around a save and a delete.
    bool Strict = false;
};

// Runs the operations on a mounted worker: ReadDir, LoadFile of each listed
// file with its listed size, GetFileAttr, DeleteFile, then SaveFile of a
// small file, which must load back unchanged. Aborts on a broken check.
void Exercise(TFlash& flash, test::TMemMedium& medium, const TExercise& how);

// Every sector written lies in the FAT, the root directory's blocks or the
// data clusters of the mounted volume. Aborts otherwise.
void CheckWrites(const TFlash& flash, const test::TMemMedium& medium);

// Geometry fields of a mounted worker are consistent. Aborts otherwise.
void CheckGeometry(const TFlash& flash);

[[noreturn]] void Fail(const std::string& what);
inline void Check(bool ok, const char* what) {
    if (!ok) Fail(what);
}

}  // namespace skarvel::fuzz
