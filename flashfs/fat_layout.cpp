#include "flashfs/fat_layout.h"

#include <algorithm>
#include <cstring>

#include "flashfs/my_str.h"

namespace skarvel {

bool DeriveGeometry(TVolumeGeometry& g) {
    if (g.SectorsPerCluster == 0 || g.NumFATs == 0 || g.RootEntries == 0 || g.SectorsPerFAT == 0 ||
        g.TotalSectors == 0)
        return false;
    // A FAT starting in sector 0 would overwrite the boot sector at its first write.
    if (g.ReservedSectors == 0) return false;
    const uint32_t spc = g.SectorsPerCluster;
    const uint32_t rootSectors = (g.RootEntries * 32u + SectorSize - 1) / SectorSize;
    const uint32_t firstRoot = g.ReservedSectors + static_cast<uint32_t>(g.NumFATs) * g.SectorsPerFAT;
    const uint32_t firstData = firstRoot + rootSectors;
    // The FAT and the root must lie within 16-bit sector numbers, the root's
    // last block (read a cluster's worth at a time) included.
    if (firstData > 0xFFFF) return false;
    const uint32_t rootBlocks = (rootSectors + spc - 1) / spc;
    if (firstRoot + rootBlocks * spc > SectorLimit) return false;
    // A volume whose own total ends inside its FAT or root is not one.
    if (firstData >= g.TotalSectors) return false;

    g.ClusterCount = static_cast<uint16_t>(g.TotalSectors / spc);
    g.RootDirSectors = static_cast<uint16_t>(rootSectors);
    g.FirstRootSector = static_cast<uint16_t>(firstRoot);
    g.FirstDataSector = static_cast<uint16_t>(firstData);

    // Data clusters: as many whole clusters as fit between the first data
    // sector and the last addressable sector, limited by the FAT's entries
    // and by the values that would read as chain ends.
    const uint32_t total = std::min<uint32_t>(g.TotalSectors, SectorLimit);
    const uint32_t dataClusters = (total - firstData) / spc;
    g.DataClusters = dataClusters;
    uint32_t last = dataClusters + 1;
    last = std::min<uint32_t>(last, g.FatEntries() - 1);
    last = std::min<uint32_t>(last, FatMaxCluster);
    g.LastCluster = static_cast<uint16_t>(last);
    return true;
}

bool DecodeBootSector(const uint8_t* s, TVolumeGeometry& g) {
    if (s[boot::Signature1] != 0x55 || s[boot::Signature2] != 0xAA) return false;
    TVolumeGeometry v;
    v.SectorsPerCluster = s[boot::SectorsPerCluster];
    v.ReservedSectors = GetU16(s, boot::ReservedSectors);
    v.NumFATs = s[boot::NumFATs];
    v.RootEntries = GetU16(s, boot::RootEntries);
    v.SectorsPerFAT = GetU16(s, boot::SectorsPerFAT);
    v.TotalSectors = GetU16(s, boot::TotalSectors16);
    if (v.TotalSectors == 0) v.TotalSectors = GetU32(s, boot::TotalSectors32);
    if (!DeriveGeometry(v)) return false;
    g = v;
    return true;
}

TVolumeFault BootSectorFault(const uint8_t* s, const TVolumeGeometry& g, uint32_t mediumSectors) {
    // Other formatters name the FAT type; this system writes no extended
    // boot record, so a name there is never ours.
    if (s[boot::ExtSignature] == boot::ExtSignatureMark && std::memcmp(s + boot::FsType, "FAT12", 5) == 0)
        return TVolumeFault::Fat12;
    // Sectors beyond the device's end would be written somewhere else, or
    // not at all.
    if (mediumSectors != 0 && g.TotalSectors > mediumSectors) return TVolumeFault::BeyondMedium;
    // Every mount reads the whole FAT, a sector per exchange: a FAT more
    // than twice the size 16-bit entries for all clusters of the total need
    // is none a formatter wrote, and could take minutes to read.
    const uint64_t clusters = g.TotalSectors / g.SectorsPerCluster;
    const uint64_t needed = ((clusters + 2) * 2 + SectorSize - 1) / SectorSize;
    if (g.SectorsPerFAT > 2 * needed) return TVolumeFault::OversizedFat;
    // A FAT with room for the data clusters as 12-bit entries but not as
    // 16-bit ones was sized for 12-bit entries.
    const uint64_t entries = static_cast<uint64_t>(g.DataClusters) + 2;
    const uint64_t fatBytes = static_cast<uint64_t>(g.SectorsPerFAT) * SectorSize;
    if (fatBytes / 2 < entries && fatBytes * 2 / 3 >= entries) return TVolumeFault::Fat12;
    return TVolumeFault::None;
}

bool Fat12Start(const uint8_t* f) {
    // Entries 0 and 1 of a 12-bit FAT fill three bytes (media byte, FF, FF)
    // and the fourth is the low byte of entry 2. In a 16-bit FAT the fourth
    // byte is entry 1's high byte: FF, or with the clean-unmount and error
    // flags of some systems cleared 7F, BF or 3F.
    return f[0] >= 0xF0 && f[1] == 0xFF && f[2] == 0xFF && (f[3] & 0x3F) != 0x3F;
}

bool FormatGeometry(uint32_t mediumSize, TVolumeGeometry& g) {
    TVolumeGeometry v;
    v.SectorsPerCluster = 4;
    v.ReservedSectors = 1;
    v.NumFATs = 1;
    v.RootEntries = 512;
    v.TotalSectors = mediumSize / SectorSize;
    const uint16_t clusters = static_cast<uint16_t>(v.TotalSectors / v.SectorsPerCluster);
    v.SectorsPerFAT = static_cast<uint16_t>(clusters * 2u / SectorSize + 1);
    if (!DeriveGeometry(v) || v.LastCluster < 2) return false;
    g = v;
    return true;
}

void EncodeBootSector(const TVolumeGeometry& g, uint8_t* s) {
    std::memset(s, 0, SectorSize);
    s[boot::Jump] = 0xEB;
    s[boot::Jump + 1] = 0x00;
    s[boot::Jump + 2] = 0x90;
    std::memcpy(s + boot::OemName, "MSWIN4.1", 8);
    PutU16(s, boot::BytesPerSector, static_cast<uint16_t>(SectorSize));
    s[boot::SectorsPerCluster] = g.SectorsPerCluster;
    PutU16(s, boot::ReservedSectors, g.ReservedSectors);
    s[boot::NumFATs] = g.NumFATs;
    PutU16(s, boot::RootEntries, g.RootEntries);
    if (g.TotalSectors < 0x10000)
        PutU16(s, boot::TotalSectors16, static_cast<uint16_t>(g.TotalSectors));
    else
        PutU32(s, boot::TotalSectors32, g.TotalSectors);
    s[boot::Media] = boot::MediaFixed;
    PutU16(s, boot::SectorsPerFAT, g.SectorsPerFAT);
    s[boot::Signature1] = 0x55;
    s[boot::Signature2] = 0xAA;
}

bool MakeEntryName(const char* name, char entry[12]) {
    if (name == nullptr) return false;
    const auto* p = reinterpret_cast<const uint8_t*>(name);
    if (p[0] == ' ') return false;
    size_t i = 0;
    int n = 0;
    // Base: up to the dot, the end, or 8 stored characters; spaces are dropped.
    while (p[i] != 0 && p[i] != '.' && n < 8) {
        if (p[i] != ' ') entry[n++] = static_cast<char>(p[i]);
        ++i;
    }
    while (n < 8) entry[n++] = ' ';
    // Step over the dot (or, after a base longer than 8, its ninth character).
    if (p[i] != 0) ++i;
    // Extension: up to 3 characters as they stand.
    while (p[i] != 0 && n < 11) entry[n++] = static_cast<char>(p[i++]);
    while (n < 11) entry[n++] = ' ';
    entry[11] = 0;
    for (int k = 0; k < 11; ++k)
        entry[k] = static_cast<char>(CapsTable[static_cast<uint8_t>(entry[k])]);
    return true;
}

namespace {
// One part of a mask against entry bytes [from, to); j is the mask position.
// Returns 1 match (mask ended), 0 no match, -1 go on.
int MatchPart(const uint8_t* e, const uint8_t* m, size_t& j, int from, int to) {
    for (int i = from; i < to; ++i) {
        const uint8_t c = m[j];
        if (c != '*' && c != '?' && CapsTable[c] != e[i]) return 0;
        if (c == 0) return 1;
        if (c != '*') ++j;
    }
    return -1;
}
}  // namespace

bool MatchMask(const char* entry, const char* mask) {
    if (mask == nullptr) mask = "*.*";
    const auto* e = reinterpret_cast<const uint8_t*>(entry);
    const auto* m = reinterpret_cast<const uint8_t*>(mask);
    size_t j = 0;
    int r = MatchPart(e, m, j, 0, 8);
    if (r >= 0) return r == 1;
    while (j < 8 && m[j] != '.' && m[j] != 0) ++j;
    if (m[j] != 0) ++j;
    r = MatchPart(e, m, j, 8, 11);
    return r != 0;
}

namespace {
// Length of the part [from, to) of an entry name up to a zero byte, without
// its trailing blanks.
int PartLength(const char* entry, int from, int to) {
    int end = from;
    while (end < to && entry[end] != 0) ++end;
    while (end > from && entry[end - 1] == ' ') --end;
    return end - from;
}
}  // namespace

std::string DisplayName(const char* entry) {
    std::string out;
    out.reserve(12);
    const int base = PartLength(entry, 0, 8);
    for (int i = 0; i < base; ++i) {
        char c = entry[i];
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        out.push_back(c);
    }
    const int ext = PartLength(entry, 8, 11);
    if (ext > 0) {
        out.push_back('.');
        out.append(entry + 8, static_cast<size_t>(ext));
    }
    return out;
}

bool MakeLookupName(const char* name, TLookupName& out) {
    out = TLookupName{};
    if (!MakeEntryName(name, out.Entry)) return false;
    // Only a name with blanks can differ from its entry name as shown; it
    // is read back the way DisplayName shows it: base, dot, extension.
    if (std::strchr(name, ' ') == nullptr) return true;
    const char* dot = std::strchr(name, '.');
    const size_t baseLen = dot ? static_cast<size_t>(dot - name) : std::strlen(name);
    const char* ext = dot ? dot + 1 : "";
    const size_t extLen = std::strlen(ext);
    if (baseLen == 0 || baseLen > 8 || extLen > 3 || std::strchr(ext, '.') != nullptr) return true;
    std::memset(out.Shown, ' ', 11);
    std::memcpy(out.Shown, name, baseLen);
    std::memcpy(out.Shown + 8, ext, extLen);
    for (int k = 0; k < 11; ++k) out.Shown[k] = static_cast<char>(CapsTable[static_cast<uint8_t>(out.Shown[k])]);
    out.HasShown = std::memcmp(out.Shown, out.Entry, 11) != 0;
    return true;
}

bool SameEntryName(const uint8_t* entry, const char* key11) {
    for (size_t i = 0; i < dirent::NameLen; ++i)
        if (CapsTable[entry[i]] != static_cast<uint8_t>(key11[i])) return false;
    return true;
}

TSlotKind SlotKind(const uint8_t* slot) {
    if (slot[0] == dirent::EndMark) return TSlotKind::End;
    if (slot[0] == dirent::DeletedMark) return TSlotKind::Deleted;
    const uint8_t attr = slot[dirent::Attr];
    if ((attr & dirent::LongNameMask) == dirent::AttrLongName) return TSlotKind::LongName;
    if (attr & dirent::AttrLabel) return TSlotKind::Label;
    if (attr & dirent::AttrDirectory) return TSlotKind::Directory;
    return TSlotKind::File;
}

uint8_t LongNameChecksum(const uint8_t* name11) {
    uint8_t sum = 0;
    for (size_t i = 0; i < dirent::NameLen; ++i)
        sum = static_cast<uint8_t>(((sum & 1) << 7) + (sum >> 1) + name11[i]);
    return sum;
}

}  // namespace skarvel
