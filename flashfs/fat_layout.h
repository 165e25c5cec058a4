// The FAT volume on the device's medium: boot sector, geometry, the 16-bit
// file allocation table, the 32-byte directory entry and the 8.3 name rules.
//
// Every multi-byte value on the medium is little-endian and is read and
// written through GetU16/GetU32/PutU16/PutU32 at the named offsets below.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace skarvel {

constexpr uint32_t SectorSize = 512;
constexpr uint32_t BootReadSize = 528;    // a read of sector 0 before the sector size is known
constexpr uint32_t BootBufferSize = 530;  // the boot-sector buffer
constexpr uint32_t SectorLimit = 65536;   // sector numbers are 16-bit

// FAT entry values.
constexpr uint16_t FatFree = 0x0000;
constexpr uint16_t FatFirstEnd = 0xFFF7;  // this and every higher value: no successor
constexpr uint16_t FatBad = 0xFFF7;       // a bad cluster: taken, and never part of a file
constexpr uint16_t FatFirstEndMark = 0xFFF8;  // this and every higher value: a regular end of chain
constexpr uint16_t FatEnd = 0xFFFF;       // what this system writes to end a chain
constexpr uint16_t FatMedia0 = 0xFFF0;    // entry 0 after format
constexpr uint16_t FatMaxCluster = 0xFFF6;

// Boot sector offsets.
namespace boot {
constexpr size_t Jump = 0;
constexpr size_t OemName = 3;
constexpr size_t BytesPerSector = 11;
constexpr size_t SectorsPerCluster = 13;
constexpr size_t ReservedSectors = 14;
constexpr size_t NumFATs = 16;
constexpr size_t RootEntries = 17;
constexpr size_t TotalSectors16 = 19;
constexpr size_t Media = 21;
constexpr size_t SectorsPerFAT = 22;
constexpr size_t TotalSectors32 = 32;
constexpr size_t Signature1 = 510;
constexpr size_t Signature2 = 511;
constexpr uint8_t MediaFixed = 0xF0;
// The extended boot record other formatters write from offset 36 on (this
// system writes none): with its signature at 38, offset 54 names the FAT
// type in 8 blank-padded characters.
constexpr size_t ExtSignature = 38;
constexpr size_t FsType = 54;
constexpr uint8_t ExtSignatureMark = 0x29;
}  // namespace boot

// Directory entry offsets and marks.
namespace dirent {
constexpr size_t Size = 32;
constexpr size_t Name = 0;  // 8 bytes base + 3 bytes extension
constexpr size_t NameLen = 11;
constexpr size_t Attr = 11;
constexpr size_t FirstCluster = 26;
constexpr size_t FileSize = 28;
constexpr uint8_t EndMark = 0x00;
constexpr uint8_t DeletedMark = 0xE5;
constexpr uint8_t AttrLabel = 0x08;
constexpr uint8_t AttrDirectory = 0x10;
// Read-only, hidden, system and label at once: a piece of another system's
// long name, stored in the slots just before the entry it names.
constexpr uint8_t AttrLongName = 0x0F;
constexpr uint8_t LongNameMask = 0x3F;
constexpr size_t LongNameChecksum = 13;  // in a long-name piece: checksum of the entry's 11 name bytes
}  // namespace dirent

// What a directory slot holds.
enum class TSlotKind : uint8_t { End, Deleted, File, Directory, Label, LongName };
TSlotKind SlotKind(const uint8_t* slot);

// The checksum of an 11-byte entry name that its long-name pieces carry.
uint8_t LongNameChecksum(const uint8_t* name11);

inline uint16_t GetU16(const uint8_t* p, size_t off) {
    return static_cast<uint16_t>(p[off] | (p[off + 1] << 8));
}
inline uint32_t GetU32(const uint8_t* p, size_t off) {
    return static_cast<uint32_t>(p[off]) | (static_cast<uint32_t>(p[off + 1]) << 8) |
           (static_cast<uint32_t>(p[off + 2]) << 16) | (static_cast<uint32_t>(p[off + 3]) << 24);
}
inline void PutU16(uint8_t* p, size_t off, uint16_t v) {
    p[off] = static_cast<uint8_t>(v);
    p[off + 1] = static_cast<uint8_t>(v >> 8);
}
inline void PutU32(uint8_t* p, size_t off, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[off + i] = static_cast<uint8_t>(v >> (8 * i));
}

// The geometry of a volume: the boot-sector values and what is derived from them.
struct TVolumeGeometry {
    uint8_t SectorsPerCluster = 0;
    uint16_t ReservedSectors = 0;  // also the first FAT sector
    uint8_t NumFATs = 0;
    uint16_t RootEntries = 0;
    uint16_t SectorsPerFAT = 0;
    uint32_t TotalSectors = 0;
    // derived
    uint16_t ClusterCount = 0;  // total sectors div sectors per cluster, in 16 bits
    uint16_t RootDirSectors = 0;
    uint16_t FirstRootSector = 0;
    uint16_t FirstDataSector = 0;
    uint16_t LastCluster = 1;  // clusters 2..LastCluster may be taken (none when 1)
    uint32_t DataClusters = 0;  // whole clusters between the data area and sector 65535 (FAT size aside)

    uint32_t ClusterBytes() const { return SectorsPerCluster * SectorSize; }
    uint32_t FatEntries() const { return SectorsPerFAT * (SectorSize / 2); }
    bool IsDataCluster(uint32_t n) const { return n >= 2 && n <= LastCluster; }
    // First sector of cluster n (n a data cluster).
    uint16_t ClusterSector(uint16_t n) const {
        return static_cast<uint16_t>(FirstDataSector + (n - 2) * SectorsPerCluster);
    }
};

// Fills the derived fields from the six boot-sector values. False when a value
// that must not be 0 is 0 (reserved sectors included: the FAT would overlay
// the boot sector), or when the layout cannot be addressed with 16-bit sector
// numbers or does not fit its own total.
bool DeriveGeometry(TVolumeGeometry& g);

// Reads and checks a boot sector (512 bytes). False: the medium counts as
// unformatted.
bool DecodeBootSector(const uint8_t* sector, TVolumeGeometry& g);

// Why a volume whose boot sector decodes is still none this system may
// write: each would make its 16-bit FAT code cross-link files or pass the
// end of the medium.
enum class TVolumeFault : uint8_t {
    None,
    Fat12,         // the FAT holds 12-bit entries (named so, sized so, or begun so)
    BeyondMedium,  // the boot sector claims more sectors than the device has
    OversizedFat,  // the FAT is far larger than its clusters need
};

// The faults the boot sector shows. mediumSectors: the device's size in
// sectors (0 = unknown, not compared).
TVolumeFault BootSectorFault(const uint8_t* sector, const TVolumeGeometry& g, uint32_t mediumSectors);

// True when the first four bytes of the FAT are those of a 12-bit FAT.
bool Fat12Start(const uint8_t* fat);

// The geometry format gives a medium of mediumSize bytes. False when the
// medium is too small for a volume.
bool FormatGeometry(uint32_t mediumSize, TVolumeGeometry& g);

// Builds the boot sector of g into 512 bytes.
void EncodeBootSector(const TVolumeGeometry& g, uint8_t* sector);

// The cluster counts of a file of size bytes; clusterBytes is never 0.
// Clusters its bytes fill: none for an empty file, each one begun otherwise.
// A load reads these.
inline uint32_t FilledClusters(uint32_t size, uint32_t clusterBytes) {
    return static_cast<uint32_t>((uint64_t{size} + clusterBytes - 1) / clusterBytes);
}
// Clusters a save of this system gives it: one more than the whole clusters
// it fills, so an empty file has one and an exact multiple carries one
// unused. A chain longer than this is none this system wrote.
inline uint32_t ChainLength(uint32_t size, uint32_t clusterBytes) { return size / clusterBytes + 1; }
// The shortest chain a stored file may have: the clusters its bytes fill,
// at least one (other systems write no unused cluster; an entry with a
// first cluster has at least that one).
inline uint32_t ShortestChain(uint32_t size, uint32_t clusterBytes) {
    const uint32_t filled = FilledClusters(size, clusterBytes);
    return filled == 0 ? 1 : filled;
}

// Converts a file name (zero-terminated, code page 1251) into the 11-byte
// entry name plus a terminating zero. False when the name is rejected.
bool MakeEntryName(const char* name, char entry[12]);

// True when the 11-byte entry name matches mask; nullptr stands for "*.*".
bool MatchMask(const char* entry, const char* mask);

// The displayed form NAME.EXT of an 11-byte entry name: base and extension
// without their trailing blanks (inner blanks kept, as other systems may
// store them), ASCII small letters of the base in capitals.
std::string DisplayName(const char* entry);

// A name looked up on the medium, in the two 11-byte forms an entry may
// carry it in: Entry as MakeEntryName makes it (blanks dropped), and Shown,
// the displayed form read back with its inner blanks, when the name has
// blanks and fits 8.3 as it stands. Both are in capitals.
struct TLookupName {
    char Entry[12] = {};
    char Shown[12] = {};
    bool HasShown = false;
};
// False when MakeEntryName rejects the name.
bool MakeLookupName(const char* name, TLookupName& out);

// True when the 11 name bytes of an entry equal key11 with the entry's
// letters taken as capitals (other systems may store small letters).
bool SameEntryName(const uint8_t* entry, const char* key11);

}  // namespace skarvel
