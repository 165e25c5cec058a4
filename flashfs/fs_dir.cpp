// Sector and cluster transfers, the chain and directory iterators, and the
// creation and completion of directory entries.
#include <algorithm>
#include <cstring>
#include <vector>

#include "flashfs/fs_flash.h"
#include "flashfs/my_str.h"

namespace skarvel {

// ---------------------------------------------------------------- transfers

uint8_t TFlash::ReadSectors(uint16_t first, uint16_t count, void* buffer) {
    if (static_cast<uint32_t>(first) + count > SectorLimit) return xrOutOfRange;
    auto* p = static_cast<uint8_t*>(buffer);
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t r = CallExchange(cmdReadSector, static_cast<uint16_t>(first + i), p + i * SectorSize);
        if (r != 0) return r;
    }
    return 0;
}

uint8_t TFlash::WriteSectors(uint16_t first, uint16_t count, const void* buffer) {
    if (static_cast<uint32_t>(first) + count > SectorLimit) return xrOutOfRange;
    // The transport takes a mutable pointer for both directions; a write
    // only reads from it.
    auto* p = static_cast<uint8_t*>(const_cast<void*>(buffer));
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t r = CallExchange(cmdWriteSector, static_cast<uint16_t>(first + i), p + i * SectorSize);
        if (r != 0) return r;
    }
    return 0;
}

uint8_t TFlash::ReadCluster(uint16_t n) {
    if (!IsDataCluster(n) || FClusterBuf.size() < FSectorsPerCluster * SectorSize) return xrOutOfRange;
    const uint16_t s = static_cast<uint16_t>(FFirstDataSector + (n - 2) * FSectorsPerCluster);
    return ReadSectors(s, FSectorsPerCluster, FClusterBuf.data());
}

uint8_t TFlash::WriteCluster(uint16_t n) {
    if (!IsDataCluster(n) || FClusterBuf.size() < FSectorsPerCluster * SectorSize) return xrOutOfRange;
    const uint16_t s = static_cast<uint16_t>(FFirstDataSector + (n - 2) * FSectorsPerCluster);
    return WriteSectors(s, FSectorsPerCluster, FClusterBuf.data());
}

uint8_t TFlash::WriteFat() {
    std::vector<uint8_t> bytes(FFat.size() * 2);
    for (size_t i = 0; i < FFat.size(); ++i) PutU16(bytes.data(), i * 2, FFat[i]);
    return WriteSectors(FReservedSectors, FSectorsPerFAT, bytes.data());
}

// ---------------------------------------------------------------- chains

uint16_t TFlash::NextCluster(uint16_t n) const {
    if (n >= FFat.size()) return 0;
    const uint16_t v = FFat[n];
    return v >= FatFirstEnd ? 0 : v;
}

bool TFlash::ReadChain(uint16_t start, uint8_t& error) {
    error = feOk;
    if (start != FChainStart) {
        FChainStart = start;
        FChainNext = start;
    }
    if (start < 2) return false;
    if (FChainNext == 0 || FChainNext >= FatFirstEnd) return false;  // exhausted
    if (!IsDataCluster(FChainNext)) {
        // The chain leads out of the volume: never followed.
        error = feUnformatted;
        FChainNext = 0;
        return false;
    }
    const uint16_t n = FChainNext;
    const uint8_t r = ReadCluster(n);
    if (r != 0) {
        error = LinkError(r);
        FChainNext = 0;
        return false;
    }
    FChainNext = NextCluster(n);
    return true;
}

uint8_t TFlash::CheckChain(uint16_t first, uint32_t needed, uint32_t walk) const {
    if (!IsDataCluster(first)) return feUnformatted;
    if (needed > FLastCluster) return feUnformatted;  // more than the volume holds
    std::vector<bool> seen(static_cast<size_t>(FLastCluster) + 1, false);
    uint16_t c = first;
    seen[c] = true;
    for (uint32_t k = 1; k < walk; ++k) {
        const uint16_t next = FFat[c];
        if (next >= FatFirstEnd && k >= needed) break;  // a regular end after the data
        if (!IsDataCluster(next) || seen[next]) return feUnformatted;  // ends early, leaves the volume, or loops
        seen[next] = true;
        c = next;
    }
    return feOk;
}

uint16_t TFlash::FindFreeCluster() const {
    const uint32_t last = std::min<uint32_t>(FLastCluster, FFat.empty() ? 0 : static_cast<uint32_t>(FFat.size() - 1));
    for (uint32_t n = 2; n <= last; ++n)
        if (FFat[n] == FatFree && (n >= FNamedClusters.size() || !FNamedClusters[n]))
            return static_cast<uint16_t>(n);
    return 0;
}

uint16_t TFlash::AllocCluster(uint16_t previous) {
    const uint16_t c = FindFreeCluster();
    if (c == 0) return 0;
    FFat[c] = FatEnd;
    if (previous != 0 && IsDataCluster(previous) && previous < FFat.size()) FFat[previous] = c;
    return c;
}

void TFlash::ReleaseChain(uint16_t first) {
    // Each released entry reads 0 afterwards, so even a looping chain ends.
    uint16_t c = first;
    while (IsDataCluster(c) && c < FFat.size()) {
        const uint16_t next = FFat[c];
        FFat[c] = FatFree;
        c = next;
    }
}

// ---------------------------------------------------------------- directories

uint16_t TFlash::ReadDirBlock(uint16_t dir, uint8_t& error) {
    error = feOk;
    if (dir != FDirCluster) {
        // Only the root is ever walked; another directory has no blocks here.
        FDirNext = dir == 1 ? FFirstRootSector : 0;
        FDirCluster = dir;
    }
    if (dir == 0 || FDirNext == 0) return 0;
    const uint16_t s = FDirNext;
    const uint8_t r = ReadSectors(s, FSectorsPerCluster, FClusterBuf.data());
    if (r != 0) {
        // A block that could not be read ends the walk; it is never used.
        FDirNext = 0;
        error = LinkError(r);
        return 0;
    }
    if (dir == 1) {
        const uint32_t next = static_cast<uint32_t>(s) + FSectorsPerCluster;
        FDirNext = next < FFirstDataSector ? static_cast<uint16_t>(next) : 0;
    }
    return s;
}

uint8_t TFlash::StartScan(TDirPos& pos, bool& end) {
    pos = TDirPos{};
    end = false;
    uint8_t error = feOk;
    ReadDirBlock(0, error);
    pos.Block = ReadDirBlock(FCurDir, error);
    if (error != feOk) return error;
    if (pos.Block == 0) end = true;
    pos.Blocks = 1;
    return feOk;
}

uint8_t TFlash::NextSlot(TDirPos& pos, uint32_t capacity, bool& end) {
    end = false;
    ++pos.Index;
    if (pos.Index >= capacity) {
        end = true;
        return feOk;
    }
    if (++pos.Slot < SlotsPerBlock()) return feOk;
    uint8_t error = feOk;
    const uint16_t s = ReadDirBlock(FCurDir, error);
    if (error != feOk) return error;
    if (s == 0) {
        end = true;
        return feOk;
    }
    pos.Block = s;
    pos.Slot = 0;
    ++pos.Blocks;
    return feOk;
}

uint8_t TFlash::FindEntry(const char* name, uint32_t& size, bool remove, uint16_t& cluster) {
    size = 0;
    cluster = 0;
    if (FPendingEntry != 0) return feNotFound;
    char entryName[12];
    if (!MakeEntryName(name, entryName)) return feBadName;

    const uint32_t capacity = FRootDirSectors * (SectorSize / dirent::Size);
    TDirPos pos;
    bool end = false;
    uint8_t error = StartScan(pos, end);
    while (error == feOk && !end) {
        uint8_t* slot = SlotAt(pos);
        if (slot[0] == dirent::EndMark) break;
        if (StrSameN(reinterpret_cast<const char*>(slot), entryName, dirent::NameLen) &&
            (slot[dirent::Attr] & dirent::AttrDirectory) == 0) {
            if (remove) {
                slot[0] = dirent::DeletedMark;
                const uint8_t r = WriteSectors(pos.Block, FSectorsPerCluster, FClusterBuf.data());
                if (r != 0) return LinkError(r);
            }
            size = GetU32(slot, dirent::FileSize);
            cluster = GetU16(slot, dirent::FirstCluster);
            return feOk;
        }
        error = NextSlot(pos, capacity, end);
    }
    return error != feOk ? error : feNotFound;
}

uint8_t TFlash::CreateEntry(const char* entryName, bool directory, uint16_t& cluster) {
    cluster = 0;
    if (FPendingEntry != 0) return feNoRoom;
    TDirPos pos;
    bool end = false;
    uint8_t error = StartScan(pos, end);
    if (error != feOk) return error;
    if (end) return feNoRoom;

    // Is there an entry of this name and type already? The same pass notes
    // the clusters that live entries name.
    FNamedClusters.assign(FFat.size(), false);
    const uint32_t capacity = FRootEntries;
    while (!end) {
        const uint8_t* slot = SlotAt(pos);
        if (slot[0] == dirent::EndMark) break;
        const bool isDir = (slot[dirent::Attr] & dirent::AttrDirectory) != 0;
        if (StrSameN(reinterpret_cast<const char*>(slot), entryName, dirent::NameLen) && isDir == directory)
            return feExists;
        if (slot[0] != dirent::DeletedMark) {
            const uint16_t first = GetU16(slot, dirent::FirstCluster);
            if (first < FNamedClusters.size()) FNamedClusters[first] = true;
        }
        error = NextSlot(pos, capacity, end);
        if (error != feOk) return error;
    }

    const uint16_t c = FindFreeCluster();
    if (c == 0) return feNoRoom;

    // The first free slot: a deleted one or the end of the directory.
    if (pos.Blocks > 1) {
        error = StartScan(pos, end);
        if (error != feOk) return error;
        if (end) return feNoRoom;
    } else {
        pos.Slot = 0;
        pos.Index = 0;
        end = false;
    }
    for (;;) {
        const uint8_t b0 = SlotAt(pos)[0];
        if (b0 == dirent::DeletedMark || b0 == dirent::EndMark) break;
        error = NextSlot(pos, capacity, end);
        if (error != feOk) return error;
        if (end) return feNoRoom;
    }

    // Fill the slot; bytes 12..25 and the size keep what the slot held.
    uint8_t* slot = SlotAt(pos);
    std::memcpy(slot, entryName, dirent::NameLen);
    slot[dirent::Attr] = directory ? dirent::AttrDirectory : 0x00;
    PutU16(slot, dirent::FirstCluster, c);
    const uint8_t r = WriteSectors(pos.Block, FSectorsPerCluster, FClusterBuf.data());
    if (r != 0) return LinkError(r);
    FFat[c] = FatEnd;  // in memory; the FAT reaches the medium when the entry is finished
    FPendingEntry = (static_cast<uint32_t>(pos.Block) << 16) | (pos.Slot * dirent::Size);
    cluster = c;
    return feOk;
}

uint8_t TFlash::FinishEntry(uint16_t cluster, uint32_t size, bool discard, bool* entryWritten) {
    if (entryWritten != nullptr) *entryWritten = false;
    if (FPendingEntry == 0 || cluster == 0) return feOk;
    const uint16_t block = static_cast<uint16_t>(FPendingEntry >> 16);
    const uint32_t offset = FPendingEntry & 0xFFFF;
    FPendingEntry = 0;
    if (offset + dirent::Size > FClusterBuf.size()) return feUnformatted;

    uint8_t r = ReadSectors(block, FSectorsPerCluster, FClusterBuf.data());
    if (r != 0) return LinkError(r);  // a block that could not be read is never written back
    uint8_t* slot = FClusterBuf.data() + offset;
    if (discard)
        slot[0] = dirent::DeletedMark;
    else
        PutU32(slot, dirent::FileSize, size);
    r = WriteSectors(block, FSectorsPerCluster, FClusterBuf.data());
    if (r != 0) return LinkError(r);
    if (entryWritten != nullptr) *entryWritten = true;
    r = WriteFat();
    return LinkError(r);
}

}  // namespace skarvel
