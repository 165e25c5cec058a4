// The directory walk, name lookups, and the creation and completion of
// entries.
#include <cstring>
#include <vector>

#include "flashfs/fs_flash.h"

namespace skarvel {

// ---------------------------------------------------------------- directories

uint16_t TFlash::ReadDirBlock(uint16_t dir, TFlashError& error) {
    error = feOk;
    if (dir != FDirCluster) {
        // Only the root is ever walked; another directory has no blocks here.
        FDirNext = dir == 1 ? FFirstRootSector : 0;
        FDirCluster = dir;
    }
    if (dir == 0 || FDirNext == 0) return 0;
    const uint16_t s = FDirNext;
    const TFlashError e = ReadSectors(s, FSectorsPerCluster, FClusterBuf.data());
    if (e != feOk) {
        // A block that could not be read ends the walk; it is never used.
        FDirNext = 0;
        error = e;
        return 0;
    }
    if (dir == 1) {
        const uint32_t next = static_cast<uint32_t>(s) + FSectorsPerCluster;
        FDirNext = next < FFirstDataSector ? static_cast<uint16_t>(next) : 0;
    }
    return s;
}

TFlashError TFlash::ReadDirectory(TDirCopy& dir, const std::function<bool(const uint8_t*, uint32_t)>& stop) {
    dir = TDirCopy{};
    const uint32_t perBlock = SlotsPerBlock();
    // The root's entries, not its sectors: a root of 80 entries ends inside
    // the block that reaches into the data area.
    const uint32_t capacity = FRootEntries;
    TFlashError error = feOk;
    ReadDirBlock(0, error);
    for (;;) {
        const uint16_t s = ReadDirBlock(FCurDir, error);
        if (error != feOk) return error;
        if (s == 0) return feOk;
        dir.Blocks.push_back(s);
        dir.Bytes.insert(dir.Bytes.end(), FClusterBuf.begin(), FClusterBuf.begin() + perBlock * dirent::Size);
        for (uint32_t k = 0; k < perBlock; ++k) {
            if (dir.Slots >= capacity) return feOk;
            const uint8_t* slot = dir.Slot(dir.Slots);
            if (slot[0] == dirent::EndMark) {
                dir.HasEnd = true;
                return feOk;
            }
            ++dir.Slots;
            if (stop && stop(slot, dir.Slots - 1)) return feOk;
        }
    }
}

int64_t TFlash::PickEntry(TDirCopy& dir, const TLookupName& key) {
    // Two files that answer the name alike (another system's small letters
    // beside capitals, or one name twice) are both refused: the list shows
    // them as two rows, and either row would get the first one's bytes.
    int64_t byShown = -1, byEntryName = -1;
    uint32_t shown = 0, entryNames = 0;
    for (uint32_t i = 0; i < dir.Slots; ++i) {
        const uint8_t* slot = dir.Slot(i);
        if (SlotKind(slot) != TSlotKind::File) continue;
        if (key.HasShown && SameEntryName(slot, key.Shown) && shown++ == 0) byShown = i;
        if (SameEntryName(slot, key.Entry) && entryNames++ == 0) byEntryName = i;
    }
    if (shown > 0) return shown == 1 ? byShown : AmbiguousName;
    return entryNames > 1 ? AmbiguousName : byEntryName;
}

TFlashError TFlash::WriteDirBlock(TDirCopy& dir, uint32_t block) {
    const size_t bytes = static_cast<size_t>(SlotsPerBlock()) * dirent::Size;
    return WriteSectors(dir.Blocks[block], FSectorsPerCluster, dir.Bytes.data() + block * bytes);
}

TFlashError TFlash::ReadVolumeTables(TVolumeTables& tables) {
    tables = TVolumeTables{};
    if (!FMounted) return NotMounted();
    TDirCopy dir;
    const TFlashError e = ReadDirectory(dir);
    if (e != feOk) return e;
    tables.Boot.assign(FBootSector.begin(), FBootSector.begin() + SectorSize);
    tables.Fat = FatBytes();
    tables.Root = std::move(dir.Bytes);
    tables.MediumSectors = FMediumSize / SectorSize;
    return feOk;
}

TFlashError TFlash::LocateFile(const char* name, TDirCopy& dir, int64_t& index, bool whole) {
    index = -1;
    TLookupName key;
    if (name == nullptr || !MakeLookupName(name, key)) return feBadName;
    if (FPendingEntry != 0) return feNotFound;
    // Unless the whole directory is wanted, the walk stops at a name that
    // settles the choice; a name that may be meant as shown with its blanks
    // reads on to the end mark.
    std::function<bool(const uint8_t*, uint32_t)> settled;
    if (!whole) {
        settled = [&key](const uint8_t* slot, uint32_t) {
            return SlotKind(slot) == TSlotKind::File &&
                   SameEntryName(slot, key.HasShown ? key.Shown : key.Entry);
        };
    }
    const TFlashError e = ReadDirectory(dir, settled);
    if (e != feOk) return e;
    index = PickEntry(dir, key);
    if (index == AmbiguousName) {
        index = -1;
        return feDamagedFile;
    }
    return index < 0 ? TFlashError{feNotFound} : TFlashError{feOk};
}

TFlashError TFlash::FindEntry(const char* name, uint32_t& size, uint16_t& cluster) {
    size = 0;
    cluster = 0;
    TDirCopy dir;
    int64_t index = -1;
    const TFlashError e = LocateFile(name, dir, index, false);
    if (e != feOk) return e;
    const uint8_t* slot = dir.Slot(static_cast<uint32_t>(index));
    size = GetU32(slot, dirent::FileSize);
    cluster = GetU16(slot, dirent::FirstCluster);
    return feOk;
}

TFlashError TFlash::CreateEntry(const char* entryName, bool directory, uint16_t& cluster) {
    cluster = 0;
    if (FPendingEntry != 0) return feNoRoom;
    // An entry of this name and type already? Other systems' small letters
    // count as capitals. The walk ends there.
    const TSlotKind kind = directory ? TSlotKind::Directory : TSlotKind::File;
    bool exists = false;
    TDirCopy dir;
    const TFlashError e = ReadDirectory(dir, [&](const uint8_t* slot, uint32_t) {
        return exists = SlotKind(slot) == kind && SameEntryName(slot, entryName);
    });
    if (e != feOk) return e;
    if (exists) return feExists;
    if (dir.Blocks.empty()) return feNoRoom;

    constexpr uint32_t none = UINT32_MAX;
    uint32_t freeSlot = none;  // the first deleted slot, else the end mark's
    for (uint32_t i = 0; i < dir.Slots && freeSlot == none; ++i)
        if (dir.Slot(i)[0] == dirent::DeletedMark) freeSlot = i;
    if (freeSlot == none && dir.HasEnd) freeSlot = dir.Slots;
    FReachedClusters = ReachedClusters(dir, -1);
    const uint16_t c = FindFreeCluster();
    // A full root is its own fault: the clusters may well be free.
    if (freeSlot == none) return feRootFull;
    if (c == 0) return feNoRoom;

    // Reserve the slot: a deleted entry that names the cluster, size 0. What
    // the slot held before (a deleted file's size above all) is gone, and
    // nothing loads from it until FinishEntry writes its first byte.
    const uint32_t perBlock = SlotsPerBlock();
    uint8_t* slot = dir.Slot(freeSlot);
    std::memcpy(slot, entryName, dirent::NameLen);
    slot[0] = dirent::DeletedMark;
    slot[dirent::Attr] = directory ? dirent::AttrDirectory : 0x00;
    PutU16(slot, dirent::FirstCluster, c);
    PutU32(slot, dirent::FileSize, 0);
    // Taking the end mark's slot moves the end one slot on. What lies after
    // the end is no entry, yet may hold an old one (a format cut off after
    // the root's first sectors leaves the old entries of the others), which
    // would come back naming clusters given to other files since: the next
    // slot must read as the end before this one stops doing so. In the
    // slot's own sector both go out in one write; a next slot that opens a
    // sector has that sector, wholly after the end, cleared first.
    const uint32_t block = freeSlot / perBlock, next = freeSlot + 1;
    if (freeSlot == dir.Slots && next < FRootEntries) {
        constexpr uint32_t perSector = SectorSize / dirent::Size;
        if (next % perSector != 0) {
            dir.Slot(next)[0] = dirent::EndMark;
        } else {
            static const uint8_t zeros[SectorSize] = {};
            const TFlashError w = WriteSectors(static_cast<uint16_t>(FFirstRootSector + next / perSector), 1, zeros);
            if (w != feOk) return w;
            if (next / perBlock == block) std::memset(dir.Slot(next), 0, SectorSize);
        }
    }
    if (const TFlashError w = WriteDirBlock(dir, block); w != feOk) return w;

    SetFat(c, FatEnd);  // in the image; the FAT reaches the medium in FinishEntry
    std::memcpy(FPendingName, entryName, sizeof FPendingName);
    FPendingDir = directory;
    FPendingEntry = (static_cast<uint32_t>(dir.Blocks[block]) << 16) | ((freeSlot % perBlock) * dirent::Size);
    cluster = c;
    return feOk;
}

void TFlash::DiscardEntry(uint16_t first) {
    ReleaseChain(first);
    FPendingEntry = 0;
}

TFlashError TFlash::FinishEntry(uint16_t first, uint32_t size) {
    if (FPendingEntry == 0) return feOk;
    const uint16_t block = static_cast<uint16_t>(FPendingEntry >> 16);
    const uint32_t offset = FPendingEntry & 0xFFFF;
    FPendingEntry = 0;

    // The FAT first: once the entry is live its chain must be on the medium.
    // Until then a cut leaves clusters that no entry names, never an entry
    // whose chain is missing.
    TFlashError e = WriteFat();
    if (e == feOk) e = ReadSectors(block, FSectorsPerCluster, FClusterBuf.data());
    if (e != feOk) {
        ReleaseChain(first);
        return e;
    }
    uint8_t* slot = FClusterBuf.data() + offset;
    std::memcpy(slot, FPendingName, dirent::NameLen);
    slot[dirent::Attr] = FPendingDir ? dirent::AttrDirectory : 0x00;
    PutU16(slot, dirent::FirstCluster, first);
    PutU32(slot, dirent::FileSize, size);
    // On a failure here the chain stays taken in the image: the sector with
    // the entry may have been stored although its answer never came.
    return WriteSectors(block, FSectorsPerCluster, FClusterBuf.data());
}

}  // namespace skarvel
