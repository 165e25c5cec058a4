// The file operations of the worker: mount, format, list, save, load,
// delete, size lookup and directory creation.
#include <algorithm>
#include <cstring>
#include <vector>

#include "flashfs/fs_flash.h"

namespace skarvel {

TFlashError TFlash::RefuseVolume(TVolumeFault fault) {
    FVolumeFault = fault;
    return feForeignVolume;
}

TFlashError TFlash::InitFlash() {
    const TFlashError id = Identify();
    if (id != feOk) return id;

    // Mount. Nothing counts as mounted until the boot sector and the whole
    // FAT have been read: a FAT image with holes must never hand out clusters.
    FMounted = false;
    FVolumeFault = TVolumeFault::None;
    const TTransportResult r = CallExchange(cmdReadSector, 0, FBootSector.data());
    FBytesPerSector = SectorSize;
    if (r != xrOk) return feNoAnswer;
    TVolumeGeometry g;
    if (!DecodeBootSector(FBootSector.data(), g)) return feUnformatted;
    // A volume another system formatted for other rules is never written:
    // its FAT would be read and written with the wrong entry width, or its
    // end would lie beyond the device's.
    const TVolumeFault fault = BootSectorFault(FBootSector.data(), g, FMediumSize / SectorSize);
    if (fault != TVolumeFault::None) return RefuseVolume(fault);
    SetGeometry(g);
    std::vector<uint8_t> bytes(FFat.size() * 2);
    // The FAT's first sector tells a FAT12 volume: it is refused before the
    // rest is read.
    if (ReadSectors(FReservedSectors, 1, bytes.data()) != feOk) return feNoAnswer;
    if (Fat12Start(bytes.data())) return RefuseVolume(TVolumeFault::Fat12);
    if (FSectorsPerFAT > 1 &&
        ReadSectors(static_cast<uint16_t>(FReservedSectors + 1), static_cast<uint16_t>(FSectorsPerFAT - 1),
                    bytes.data() + SectorSize) != feOk)
        return feNoAnswer;
    LoadFat(bytes);
    FMounted = true;
    return feOk;
}

TFlashError TFlash::FormatFlash(uint8_t /*kind: only 512-byte sectors exist*/) {
    if (FMediumSize == 0) {
        const TFlashError id = Identify();
        if (id != feOk) return id;
    }
    if (FMediumSize == 0) return feNoAnswer;
    TVolumeGeometry g;
    if (!FormatGeometry(FMediumSize, g)) return feNoAnswer;  // no volume fits this medium

    FMounted = false;
    FVolumeFault = TVolumeFault::None;  // whatever the medium held is being replaced
    SetGeometry(g);
    ResetFat();
    uint8_t* buf = FClusterBuf.data();
    std::memset(buf, 0, SectorSize);
    for (uint32_t s = FFirstRootSector; s < FFirstDataSector; ++s) {
        const TFlashError e = WriteSectors(static_cast<uint16_t>(s), 1, buf);
        if (e != feOk) return e;
    }
    EncodeBootSector(g, buf);
    std::copy(buf, buf + SectorSize, FBootSector.begin());  // what a mount would read now
    TFlashError e = WriteSectors(0, 1, buf);
    if (e != feOk) return e;
    e = WriteFat();
    if (e != feOk) return e;
    FMounted = true;
    return feOk;
}

TFlashError TFlash::ReadDir(uint8_t /*kind*/, const char* mask) {
    FFiles.Clear();
    if (!FMounted) return NotMounted();
    TDirCopy dir;
    const TFlashError error = ReadDirectory(dir);
    // A partial listing would pass for the whole directory.
    if (error != feOk) return error;
    for (uint32_t i = 0; i < dir.Slots; ++i) {
        const uint8_t* slot = dir.Slot(i);
        // Long-name pieces, the volume label and subdirectories that other
        // systems wrote are no files of this system.
        if (SlotKind(slot) != TSlotKind::File) continue;
        const char* entry = reinterpret_cast<const char*>(slot);
        if (MatchMask(entry, mask))
            FFiles.AddFile(DisplayName(entry), static_cast<int32_t>(GetU32(slot, dirent::FileSize)), false);
    }
    return FFiles.Count() == 0 ? feDiskEmpty : feOk;
}

TFlashError TFlash::RecordedSave(const char* name, uint32_t size, const std::function<TFlashError()>& save) {
    FLastSave = TSaveRecord{};
    FLastSave.Name = name ? name : "";
    FLastSave.Size = size;
    FRecordSave = true;
    const TFlashError e = save();
    FRecordSave = false;
    FLastSave.Finished = e == feOk;
    return e;
}

TFlashError TFlash::SaveFile(const char* name, const void* data, uint8_t /*kind*/, uint32_t size) {
    return RecordedSave(name, size, [&] { return SaveEntry(name, data, size); });
}

TFlashError TFlash::SaveEntry(const char* name, const void* data, uint32_t size) {
    FAbort = false;
    if (!FMounted) return NotMounted();
    char entryName[12];
    if (!MakeEntryName(name, entryName)) return feBadName;
    FLastSave.Shown = DisplayName(entryName);
    if (data == nullptr && size > 0) return feFileEmpty;
    if (FAbort) return feAborted;

    uint16_t first = 0;
    const TFlashError e = CreateEntry(entryName, false, first);
    if (e != feOk) return e;
    const uint32_t slotOffset = FPendingEntry & 0xFFFF;
    FLastSave.EntrySector = static_cast<uint16_t>((FPendingEntry >> 16) + slotOffset / SectorSize);
    FLastSave.EntryOffset = static_cast<uint16_t>(slotOffset % SectorSize);

    // The clusters go out while nothing on the medium refers to them: a
    // failure or an abort here only sets the FAT image back.
    const auto* src = static_cast<const uint8_t*>(data);
    const uint32_t clusterBytes = ClusterBytes();
    const uint32_t chain = ChainLength(size, clusterBytes);
    uint16_t cl = first;
    for (uint32_t k = 0; k < chain; ++k) {
        const uint32_t offset = k * clusterBytes;
        const uint32_t n = std::min(clusterBytes, size - offset);
        if (n > 0) std::memcpy(FClusterBuf.data(), src + offset, n);
        std::memset(FClusterBuf.data() + n, 0, clusterBytes - n);
        if (const TFlashError w = WriteCluster(cl); w != feOk) {
            DiscardEntry(first);
            return w;
        }
        if (FAbort) {
            DiscardEntry(first);
            return feAborted;
        }
        if (k + 1 < chain) {
            const uint16_t next = AllocCluster(cl);
            if (next == 0) {
                DiscardEntry(first);
                return feNoRoom;
            }
            cl = next;
        }
    }
    return FinishEntry(first, size);
}

TFlashError TFlash::LoadFile(const char* name, void* dest, uint8_t /*kind*/, uint32_t size) {
    if (dest == nullptr) size = 0;
    uint32_t loaded = 0;
    const TFlashError e = LoadEntry(name, [&](uint32_t stored, uint8_t*& out) {
        if (stored > size) return TFlashError{feNoRoom};
        loaded = stored;
        out = static_cast<uint8_t*>(dest);
        return TFlashError{feOk};
    });
    if (e == feOk && size > loaded) std::memset(static_cast<uint8_t*>(dest) + loaded, 0, size - loaded);
    return e;
}

TFlashError TFlash::LoadFile(const char* name, std::vector<uint8_t>& out, uint8_t /*kind*/) {
    out.clear();
    const TFlashError e = LoadEntry(name, [&](uint32_t stored, uint8_t*& dest) {
        if (stored > FMediumSize.load()) return TFlashError{feDamagedFile};  // no medium holds such a file
        out.resize(stored);
        dest = out.data();
        return TFlashError{feOk};
    });
    if (e != feOk) out.clear();
    return e;
}

TFlashError TFlash::LoadEntry(const char* name, const std::function<TFlashError(uint32_t, uint8_t*&)>& place) {
    FAbort = false;
    if (!FMounted) return NotMounted();
    // The whole directory: a cluster that another entry's chain holds too
    // makes the bytes doubtful.
    TDirCopy dir;
    int64_t index = -1;
    const TFlashError e = LocateFile(name, dir, index, true);
    if (e != feOk) return e;
    const uint8_t* slot = dir.Slot(static_cast<uint32_t>(index));
    const uint32_t stored = GetU32(slot, dirent::FileSize);
    const uint16_t cl = GetU16(slot, dirent::FirstCluster);
    uint8_t* out = nullptr;
    if (const TFlashError p = place(stored, out); p != feOk) return p;
    const std::vector<bool> others = ReachedClusters(dir, index);
    if (CheckChain(cl, stored, &others) != feOk) return feDamagedFile;

    // Only the clusters that hold the file's bytes are read (an exact
    // multiple of the cluster size has one more, which holds nothing).
    const uint32_t clusterBytes = ClusterBytes();
    const uint32_t passes = FilledClusters(stored, clusterBytes);
    TFlashError error = feOk;
    ReadChain(0, error);
    for (uint32_t k = 0; k < passes; ++k) {
        if (FAbort) return feAborted;
        if (!ReadChain(cl, error)) return error != feOk ? error : TFlashError{feDamagedFile};
        const uint64_t offset = static_cast<uint64_t>(k) * clusterBytes;
        const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(clusterBytes, stored - offset));
        std::memcpy(out + offset, FClusterBuf.data(), n);
    }
    return feOk;
}

TFlashError TFlash::DeleteFile(const char* name, uint8_t /*kind*/) {
    if (!FMounted) return NotMounted();
    // The whole directory: the other entries' chains decide which clusters
    // may be freed.
    TDirCopy dir;
    int64_t index = -1;
    const TFlashError e = LocateFile(name, dir, index, true);
    if (e != feOk) return e;
    uint8_t* slot = dir.Slot(static_cast<uint32_t>(index));
    const uint16_t first = GetU16(slot, dirent::FirstCluster);
    if (CheckChain(first, GetU32(slot, dirent::FileSize)) != feOk) return feDamagedFile;

    const std::vector<uint16_t> release = ReleasableChain(first, ReachedClusters(dir, index));

    // The entry and the long-name pieces before it, which may begin in an
    // earlier block; that block goes first, so that a cut leaves the entry
    // whole rather than pieces without their entry.
    const uint32_t perBlock = SlotsPerBlock();
    const uint8_t checksum = LongNameChecksum(slot);
    uint32_t from = static_cast<uint32_t>(index);
    while (from > 0 && SlotKind(dir.Slot(from - 1)) == TSlotKind::LongName &&
           dir.Slot(from - 1)[dirent::LongNameChecksum] == checksum)
        dir.Slot(--from)[0] = dirent::DeletedMark;
    slot[0] = dirent::DeletedMark;
    for (uint32_t b = from / perBlock; b <= index / perBlock; ++b) {
        if (const TFlashError w = WriteDirBlock(dir, b); w != feOk) return w;
    }

    if (release.empty()) return feOk;
    for (uint16_t c : release) SetFat(c, FatFree);
    return WriteFat();
}

TFlashError TFlash::GetFileAttr(const char* name, uint32_t& size, uint8_t /*kind*/) {
    if (!FMounted) return NotMounted();
    uint16_t cl = 0;
    return FindEntry(name, size, cl);
}

TFlashError TFlash::MakeDir(const char* name, uint8_t /*kind*/) {
    if (!FMounted) return NotMounted();
    char entryName[12];
    if (!MakeEntryName(name, entryName)) return feBadName;
    uint16_t c = 0;
    const TFlashError e = CreateEntry(entryName, true, c);
    if (e != feOk) return e;
    // The new directory's cluster starts empty (its first slot is the end mark).
    std::fill(FClusterBuf.begin(), FClusterBuf.end(), 0);
    if (const TFlashError w = WriteCluster(c); w != feOk) {
        DiscardEntry(c);
        return w;
    }
    return FinishEntry(c, 0);
}

// Renaming and the directory operations do no work on this system.
TFlashError TFlash::RenameFile() { return FMounted ? TFlashError{feOk} : NotMounted(); }
TFlashError TFlash::ChangeDir() { return FMounted ? TFlashError{feOk} : NotMounted(); }
TFlashError TFlash::RemoveDir() { return FMounted ? TFlashError{feOk} : NotMounted(); }

}  // namespace skarvel
