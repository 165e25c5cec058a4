// Replacing a file's contents under its name without a moment in which the
// medium holds neither version.
//
// The new bytes go to free clusters while the old entry still names the old
// chain; the FAT then marks the new chain taken beside the old one. The
// commit is a single sector write: the entry's sector, with the entry now
// naming the new chain and size. Only after it the old chain is freed. A cut
// before the commit leaves the old file whole, one after it the new file
// whole; either way at most clusters no entry reaches remain taken, which
// the volume check's repair frees.
#include <algorithm>
#include <cstring>
#include <vector>

#include "flashfs/fs_flash.h"

namespace skarvel {

TFlashError TFlash::ReplaceFile(const char* name, const void* data, uint8_t /*kind*/, uint32_t size) {
    return RecordedSave(name, size, [&] { return ReplaceEntry(name, data, size); });
}

std::vector<uint16_t> TFlash::ReleasableChain(uint16_t first, const std::vector<bool>& others) const {
    // The chain up to its end, short of any cluster another entry reaches
    // (from there on the clusters are the other file's too) and of a cluster
    // marked bad, which stays marked.
    std::vector<uint16_t> release;
    std::vector<bool> seen(others.size(), false);
    for (uint32_t c = first; IsDataCluster(c) && c < seen.size() && !seen[c] && !others[c] &&
                             FatAt(c) != FatFree && FatAt(c) != FatBad;) {
        seen[c] = true;
        release.push_back(static_cast<uint16_t>(c));
        c = FatAt(c);
    }
    return release;
}

TFlashError TFlash::WriteFatSectors(const std::vector<uint16_t>& clusters, bool descending) {
    std::vector<uint32_t> sectors;
    for (uint16_t c : clusters) sectors.push_back(c * 2u / SectorSize);
    std::sort(sectors.begin(), sectors.end());
    sectors.erase(std::unique(sectors.begin(), sectors.end()), sectors.end());
    if (descending) std::reverse(sectors.begin(), sectors.end());
    const std::vector<uint8_t> bytes = FatBytes();
    // Every copy of the FAT the volume keeps, the first one first: this
    // system reads only the first, other systems may read another.
    for (uint32_t s : sectors) {
        for (uint32_t copy = 0; copy < FNumFATs; ++copy) {
            const auto sector = static_cast<uint16_t>(FReservedSectors + copy * FSectorsPerFAT + s);
            const TFlashError e = WriteSectors(sector, 1, bytes.data() + static_cast<size_t>(s) * SectorSize);
            if (e != feOk) return e;
        }
    }
    return feOk;
}

TFlashError TFlash::WriteReplacementChain(const void* data, uint32_t size, uint16_t& first,
                                      std::vector<uint16_t>& chain) {
    chain.clear();
    first = FindFreeCluster();
    if (first == 0) return feNoRoomForCopy;
    SetFat(first, FatEnd);
    chain.push_back(first);
    // Nothing on the medium names these clusters yet: a failure or an abort
    // only sets the FAT image back.
    const auto fail = [&](TFlashError error) {
        ReleaseChain(first);
        chain.clear();
        return error;
    };
    const auto* src = static_cast<const uint8_t*>(data);
    const uint32_t clusterBytes = ClusterBytes();
    const uint32_t length = ChainLength(size, clusterBytes);
    uint16_t cl = first;
    for (uint32_t k = 0; k < length; ++k) {
        const uint32_t offset = k * clusterBytes;
        const uint32_t n = std::min(clusterBytes, size - offset);
        if (n > 0) std::memcpy(FClusterBuf.data(), src + offset, n);
        std::memset(FClusterBuf.data() + n, 0, clusterBytes - n);
        if (const TFlashError w = WriteCluster(cl); w != feOk) return fail(w);
        if (FAbort) return fail(feAborted);
        if (k + 1 < length) {
            cl = AllocCluster(cl);
            if (cl == 0) return fail(feNoRoomForCopy);  // counted beforehand; only a changed image gets here
            chain.push_back(cl);
        }
    }
    return feOk;
}

TFlashError TFlash::ReplaceEntry(const char* name, const void* data, uint32_t size) {
    FAbort = false;
    if (!FMounted) return NotMounted();
    char entryName[12];
    if (name == nullptr || !MakeEntryName(name, entryName)) return feBadName;
    if (data == nullptr && size > 0) return feFileEmpty;

    // The whole directory: the other entries' chains decide which clusters
    // may be taken and which of the old ones may be freed.
    TDirCopy dir;
    int64_t index = -1;
    const TFlashError e = LocateFile(name, dir, index, true);
    if (e != feOk) return e;
    const auto slotIndex = static_cast<uint32_t>(index);
    const uint8_t* found = dir.Slot(slotIndex);
    FLastSave.Shown = DisplayName(reinterpret_cast<const char*>(found));
    const uint16_t oldFirst = GetU16(found, dirent::FirstCluster);
    const std::vector<bool> others = ReachedClusters(dir, index);
    // Checked as a delete checks it: a cross-link takes only the own part.
    if (CheckChain(oldFirst, GetU32(found, dirent::FileSize)) != feOk) return feDamagedFile;
    const std::vector<uint16_t> release = ReleasableChain(oldFirst, others);

    // Room for the whole new chain beside the old one, counted before the
    // first write: without it nothing is written at all.
    FReachedClusters = ReachedClusters(dir, -1);
    uint32_t room = 0;
    for (uint32_t c = 2; c <= FLastCluster; ++c)
        if (FatAt(c) == FatFree && (c >= FReachedClusters.size() || !FReachedClusters[c])) ++room;
    if (room < ChainLength(size, ClusterBytes())) return feNoRoomForCopy;
    if (FAbort) return feAborted;

    uint16_t first = 0;
    std::vector<uint16_t> chain;
    if (const TFlashError w = WriteReplacementChain(data, size, first, chain); w != feOk) return w;

    // The new chain taken beside the old one. Chains are built upwards, so
    // the FAT's last sector goes first: a cut leaves the new chain's tail
    // taken and ending, never a taken cluster linking to a free one. On a
    // failure the image keeps the chain: a sector may have been stored
    // although its answer never came.
    if (const TFlashError w = WriteFatSectors(chain, true); w != feOk) return w;

    // The commit: the entry's own sector, naming the new chain and size.
    const uint32_t perSector = SectorSize / dirent::Size;
    const uint32_t perBlock = SlotsPerBlock();
    const auto sector = static_cast<uint16_t>(dir.Blocks[slotIndex / perBlock] + (slotIndex % perBlock) / perSector);
    uint8_t* sectorBytes = dir.Slot(slotIndex - slotIndex % perSector);
    uint8_t* slot = dir.Slot(slotIndex);
    PutU16(slot, dirent::FirstCluster, first);
    PutU32(slot, dirent::FileSize, size);
    FLastSave.EntrySector = sector;
    FLastSave.EntryOffset = static_cast<uint16_t>((slotIndex % perSector) * dirent::Size);
    if (FAbort) {
        ReleaseChain(first);  // the medium's FAT may keep the chain taken: lost clusters, nothing more
        return feAborted;
    }
    // A failure here leaves it open which entry the medium holds: both
    // chains stay taken in the image.
    if (const TFlashError w = WriteSectors(sector, 1, sectorBytes); w != feOk) return w;

    // The old chain freed. A cut from here on leaves the new file whole and
    // at most the old chain's clusters taken with no entry reaching them.
    for (uint16_t c : release) SetFat(c, FatFree);
    return WriteFatSectors(release, false);
}

}  // namespace skarvel
