// The file operations of the worker: mount, format, list, save, load,
// delete, size lookup and directory creation.
#include <algorithm>
#include <cstring>
#include <vector>

#include "flashfs/fs_flash.h"

namespace skarvel {

uint8_t TFlash::InitFlash() {
    const uint8_t id = Identify();
    if (id != feOk) return id;

    // Mount. Nothing counts as mounted until the boot sector and the whole
    // FAT have been read: a FAT image with holes must never hand out clusters.
    FMounted = false;
    const uint8_t r = CallExchange(cmdReadSector, 0, FBootSector.data());
    FBytesPerSector = SectorSize;
    if (r != 0) return feUnknownDevice;
    TVolumeGeometry g;
    if (!DecodeBootSector(FBootSector.data(), g)) return feUnformatted;
    SetGeometry(g);
    std::vector<uint8_t> bytes(FFat.size() * 2);
    if (ReadSectors(FReservedSectors, FSectorsPerFAT, bytes.data()) != 0) return feUnknownDevice;
    for (size_t i = 0; i < FFat.size(); ++i) FFat[i] = GetU16(bytes.data(), i * 2);
    FMounted = true;
    return feOk;
}

uint8_t TFlash::FormatFlash(uint8_t /*kind: only 512-byte sectors exist*/) {
    if (FMediumSize == 0) {
        const uint8_t id = Identify();
        if (id != feOk) return id;
    }
    if (FMediumSize == 0) return feUnknownDevice;
    TVolumeGeometry g;
    if (!FormatGeometry(FMediumSize, g)) return feUnknownDevice;  // no volume fits this medium

    FMounted = false;
    SetGeometry(g);
    FFat[0] = FatMedia0;
    FFat[1] = FatEnd;
    uint8_t* buf = FClusterBuf.data();
    std::memset(buf, 0, SectorSize);
    for (uint32_t s = FFirstRootSector; s < FFirstDataSector; ++s) {
        const uint8_t r = WriteSectors(static_cast<uint16_t>(s), 1, buf);
        if (r != 0) return LinkError(r);
    }
    EncodeBootSector(g, buf);
    uint8_t r = WriteSectors(0, 1, buf);
    if (r != 0) return LinkError(r);
    r = WriteFat();
    if (r != 0) return LinkError(r);
    FMounted = true;
    return feOk;
}

uint8_t TFlash::ReadDir(uint8_t /*kind*/, const char* mask) {
    FFiles.Clear();
    if (!FMounted) return feUnformatted;
    const uint32_t capacity = FRootDirSectors * (SectorSize / dirent::Size);
    TDirPos pos;
    bool end = false;
    uint8_t error = StartScan(pos, end);
    while (error == feOk && !end) {
        const uint8_t* slot = SlotAt(pos);
        if (slot[0] == dirent::EndMark) break;
        if (slot[0] != dirent::DeletedMark) {
            const char* entry = reinterpret_cast<const char*>(slot);
            if (MatchMask(entry, mask))
                FFiles.AddFile(DisplayName(entry), static_cast<int32_t>(GetU32(slot, dirent::FileSize)), false);
        }
        error = NextSlot(pos, capacity, end);
    }
    if (error != feOk) {
        FFiles.Clear();  // a partial listing would pass for the whole directory
        return error;
    }
    return FFiles.Count() == 0 ? feDiskEmpty : feOk;
}

void TFlash::DiscardEntry(uint16_t first) {
    ReleaseChain(first);
    bool entryWritten = false;
    FinishEntry(first, 0, true, &entryWritten);
    // When the entry could not be marked deleted it may still name its first
    // cluster on the medium: keep that cluster taken rather than hand it out
    // to another file.
    if (!entryWritten && IsDataCluster(first)) FFat[first] = FatEnd;
}

uint8_t TFlash::SaveFile(const char* name, const void* data, uint8_t /*kind*/, uint32_t size) {
    FAbort = false;
    if (!FMounted) return feUnformatted;
    char entryName[12];
    if (!MakeEntryName(name, entryName)) return feBadName;
    if (data == nullptr && size > 0) return feFileEmpty;
    if (FAbort) return feAborted;

    uint16_t first = 0;
    const uint8_t e = CreateEntry(entryName, false, first);
    if (e != feOk) return e;

    const auto* src = static_cast<const uint8_t*>(data);
    const uint32_t clusterBytes = FSectorsPerCluster * SectorSize;
    const uint32_t whole = size / clusterBytes;
    uint16_t cl = first;
    for (uint32_t k = 0; k <= whole; ++k) {
        const uint32_t offset = k * clusterBytes;
        const uint32_t n = std::min(clusterBytes, size - offset);
        if (n > 0) std::memcpy(FClusterBuf.data(), src + offset, n);
        std::memset(FClusterBuf.data() + n, 0, clusterBytes - n);
        const uint8_t r = WriteCluster(cl);
        if (r != 0) {
            DiscardEntry(first);
            return LinkError(r);
        }
        if (FAbort) {
            DiscardEntry(first);
            return feAborted;
        }
        if (k < whole) {
            const uint16_t next = AllocCluster(cl);
            if (next == 0) {
                DiscardEntry(first);
                return feNoRoom;
            }
            cl = next;
        }
    }
    // On a failure here the chain stays taken in the FAT image: the entry
    // may have reached the medium, and a later FAT write records it.
    return FinishEntry(first, size, false);
}

uint8_t TFlash::LoadFile(const char* name, void* dest, uint8_t /*kind*/, uint32_t size) {
    FAbort = false;
    if (!FMounted) return feUnformatted;
    uint32_t stored = 0;
    uint16_t cl = 0;
    const uint8_t e = FindEntry(name, stored, false, cl);
    if (e != feOk) return e;
    if (dest == nullptr) size = 0;
    if (stored > size) return feNoRoom;
    auto* out = static_cast<uint8_t*>(dest);

    if (cl == 0) {
        // An empty file as other systems write it: no cluster at all.
        if (stored != 0) return feUnformatted;
        if (size > 0) std::memset(out, 0, size);
        return feOk;
    }
    const uint32_t clusterBytes = FSectorsPerCluster * SectorSize;
    const uint32_t needed = std::max<uint32_t>(1, static_cast<uint32_t>((static_cast<uint64_t>(stored) + clusterBytes - 1) / clusterBytes));
    const uint32_t passes = stored / clusterBytes + 1;
    if (CheckChain(cl, needed, passes) != feOk) return feUnformatted;

    uint8_t error = feOk;
    ReadChain(0, error);
    for (uint32_t k = 0; k < passes; ++k) {
        if (FAbort) return feAborted;
        const uint64_t offset = static_cast<uint64_t>(k) * clusterBytes;
        if (!ReadChain(cl, error)) {
            if (error != feOk) return error;
            if (offset < stored) return feUnformatted;
            break;  // a chain without the unused last cluster (written elsewhere)
        }
        if (offset < stored) {
            const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(clusterBytes, stored - offset));
            std::memcpy(out + offset, FClusterBuf.data(), n);
        }
    }
    if (size > stored) std::memset(out + stored, 0, size - stored);
    return feOk;
}

uint8_t TFlash::DeleteFile(const char* name, uint8_t /*kind*/) {
    if (!FMounted) return feUnformatted;
    uint32_t size = 0;
    uint16_t cl = 0;
    const uint8_t e = FindEntry(name, size, true, cl);
    if (e != feOk) return e;

    // Release the chain up to the first sign of damage: a link out of the
    // volume, or a cluster already free (which is also where a loop ends,
    // since every released entry reads free).
    bool damaged = false;
    if (cl == 0) {
        damaged = size != 0;
    } else if (!IsDataCluster(cl)) {
        damaged = true;
    } else {
        uint16_t c = cl;
        for (;;) {
            const uint16_t next = FFat[c];
            FFat[c] = FatFree;
            if (next >= FatFirstEnd) break;
            if (!IsDataCluster(next)) {
                damaged = true;
                break;
            }
            c = next;
        }
    }
    const uint8_t r = WriteFat();
    if (r != 0) return LinkError(r);
    return damaged ? feUnformatted : feOk;
}

uint8_t TFlash::GetFileAttr(const char* name, uint32_t& size, uint8_t /*kind*/) {
    if (!FMounted) return feUnformatted;
    uint16_t cl = 0;
    return FindEntry(name, size, false, cl);
}

uint8_t TFlash::MakeDir(const char* name, uint8_t /*kind*/) {
    if (!FMounted) return feUnformatted;
    char entryName[12];
    if (!MakeEntryName(name, entryName)) return feBadName;
    uint16_t c = 0;
    const uint8_t e = CreateEntry(entryName, true, c);
    if (e != feOk) return e;
    // The new directory's cluster starts empty (its first slot is the end mark).
    std::fill(FClusterBuf.begin(), FClusterBuf.end(), 0);
    const uint8_t r = WriteCluster(c);
    if (r != 0) {
        DiscardEntry(c);
        return LinkError(r);
    }
    return FinishEntry(c, 0, false);
}

uint8_t TFlash::RenameFile() { return FMounted ? feOk : feUnformatted; }
uint8_t TFlash::ChangeDir() { return FMounted ? feOk : feUnformatted; }
uint8_t TFlash::RemoveDir() { return FMounted ? feOk : feUnformatted; }

}  // namespace skarvel
