// Sector and cluster transfers, the FAT image and the chains in it.
#include <algorithm>
#include <cstring>
#include <vector>

#include "flashfs/fs_flash.h"

namespace skarvel {

// ---------------------------------------------------------------- transfers

TFlashError TFlash::ReadSectors(uint16_t first, uint16_t count, void* buffer) {
    if (static_cast<uint32_t>(first) + count > SectorLimit) return LinkError(xrOutOfRange);
    auto* p = static_cast<uint8_t*>(buffer);
    for (uint32_t i = 0; i < count; ++i) {
        const TTransportResult r = CallExchange(cmdReadSector, static_cast<uint16_t>(first + i), p + i * SectorSize);
        if (r != xrOk) return LinkError(r);
    }
    return feOk;
}

TFlashError TFlash::WriteSectors(uint16_t first, uint16_t count, const void* buffer) {
    if (static_cast<uint32_t>(first) + count > SectorLimit) return LinkError(xrOutOfRange);
    // The transport takes a mutable pointer for both directions; a write
    // only reads from it.
    auto* p = static_cast<uint8_t*>(const_cast<void*>(buffer));
    for (uint32_t i = 0; i < count; ++i) {
        const auto sector = static_cast<uint16_t>(first + i);
        // Recorded before the exchange: a write whose answer never came may
        // have been stored all the same.
        if (FRecordSave && sector < FFirstDataSector) {
            std::vector<uint8_t>& last = FLastSave.Sectors[sector];
            if (!last.empty() && FLastSave.Earlier.count(sector) == 0) FLastSave.Earlier[sector] = last;
            last.assign(p + i * SectorSize, p + (i + 1) * SectorSize);
        }
        const TTransportResult r = CallExchange(cmdWriteSector, sector, p + i * SectorSize);
        if (r != xrOk) return LinkError(r);
    }
    return feOk;
}

TFlashError TFlash::ReadCluster(uint16_t n) {
    if (!IsDataCluster(n) || FClusterBuf.size() < ClusterBytes()) return LinkError(xrOutOfRange);
    return ReadSectors(FGeometry.ClusterSector(n), FSectorsPerCluster, FClusterBuf.data());
}

TFlashError TFlash::WriteCluster(uint16_t n) {
    if (!IsDataCluster(n) || FClusterBuf.size() < ClusterBytes()) return LinkError(xrOutOfRange);
    return WriteSectors(FGeometry.ClusterSector(n), FSectorsPerCluster, FClusterBuf.data());
}

// ---------------------------------------------------------------- the FAT image

uint16_t TFlash::FatAt(uint32_t n) const {
    if (!IsDataCluster(n) || n >= FFat.size()) return FatBad;
    return FFat[n];
}

void TFlash::SetFat(uint32_t n, uint16_t value) {
    if (IsDataCluster(n) && n < FFat.size()) FFat[n] = value;
}

void TFlash::ResetFat() {
    std::fill(FFat.begin(), FFat.end(), FatFree);
    // Entries 0 and 1 are no clusters: the media byte and an end mark.
    if (FFat.size() >= 2) {
        FFat[0] = FatMedia0;
        FFat[1] = FatEnd;
    }
}

void TFlash::LoadFat(const std::vector<uint8_t>& bytes) {
    for (size_t i = 0; i < FFat.size() && i * 2 + 1 < bytes.size(); ++i) FFat[i] = GetU16(bytes.data(), i * 2);
}

std::vector<uint8_t> TFlash::FatBytes() const {
    std::vector<uint8_t> bytes(FFat.size() * 2);
    for (size_t i = 0; i < FFat.size(); ++i) PutU16(bytes.data(), i * 2, FFat[i]);
    return bytes;
}

TFlashError TFlash::WriteFat() {
    // Every copy the volume keeps, the first one first: this system reads
    // only the first, other systems may read another.
    const std::vector<uint8_t> bytes = FatBytes();
    for (uint32_t copy = 0; copy < FNumFATs; ++copy) {
        const auto first = static_cast<uint16_t>(FReservedSectors + copy * FSectorsPerFAT);
        if (const TFlashError e = WriteSectors(first, FSectorsPerFAT, bytes.data()); e != feOk) return e;
    }
    return feOk;
}

TFlashError TFlash::FreeClustersOnMedium(const std::vector<uint16_t>& clusters, uint32_t& freed) {
    freed = 0;
    if (!FMounted) return NotMounted();
    std::vector<uint16_t> changed;
    for (uint16_t c : clusters) {
        if (FatAt(c) == FatFree || FatAt(c) == FatBad) continue;
        SetFat(c, FatFree);
        changed.push_back(c);
        ++freed;
    }
    return WriteFatSectors(changed, false);
}

// ---------------------------------------------------------------- chains

uint16_t TFlash::NextCluster(uint16_t n) const {
    const uint16_t v = FatAt(n);
    return v >= FatFirstEnd ? 0 : v;
}

uint32_t TFlash::DataClusterCount() const {
    return FMounted.load() && FLastCluster >= 2 ? FLastCluster - 1u : 0;
}

uint32_t TFlash::FreeClusterCount() const {
    uint32_t n = 0;
    const uint32_t last = DataClusterCount() + 1;
    for (uint32_t c = 2; c <= last && c < FFat.size(); ++c)
        if (FFat[c] == FatFree) ++n;
    return n;
}

bool TFlash::ReadChain(uint16_t start, TFlashError& error) {
    error = feOk;
    if (start != FChainStart) {
        FChainStart = start;
        FChainNext = start;
    }
    if (start < 2) return false;
    if (FChainNext == 0 || FChainNext >= FatFirstEnd) return false;  // exhausted
    if (!IsDataCluster(FChainNext)) {
        // The chain leads out of the volume: never followed.
        error = feDamagedFile;
        FChainNext = 0;
        return false;
    }
    const uint16_t n = FChainNext;
    const TFlashError e = ReadCluster(n);
    if (e != feOk) {
        error = e;
        FChainNext = 0;
        return false;
    }
    FChainNext = NextCluster(n);
    return true;
}

TFlashError TFlash::CheckChain(uint16_t first, uint32_t size, const std::vector<bool>* others) const {
    // An empty file as other systems write it has no cluster at all.
    if (first == 0) return size == 0 ? feOk : feDamagedFile;
    const uint32_t needed = ShortestChain(size, ClusterBytes());
    if (needed > FLastCluster) return feDamagedFile;  // more than the volume holds
    std::vector<bool> seen(static_cast<size_t>(FLastCluster) + 1, false);
    uint32_t c = first;
    for (uint32_t k = 1;; ++k) {
        if (!IsDataCluster(c) || seen[c]) return feDamagedFile;  // left the data area, or loops
        if (others != nullptr && c < others->size() && (*others)[c]) return feDamagedFile;  // cross-linked
        seen[c] = true;
        const uint16_t next = FatAt(c);
        // A free cluster in a file is what a save cut off before its FAT
        // write leaves; a bad-cluster mark is no link either.
        if (next == FatFree || next == FatBad) return feDamagedFile;
        const bool end = next >= FatFirstEndMark;
        // Past the bytes the chain may go on (this system's unused cluster
        // after an exact multiple), but not back into itself or out of the
        // data area.
        if (k == needed) return end || (IsDataCluster(next) && !seen[next]) ? feOk : feDamagedFile;
        if (end) return feDamagedFile;  // ends before the size is covered
        c = next;
    }
}

void TFlash::MarkReach(std::vector<bool>& reach, uint16_t first) const {
    uint32_t c = first;
    while (IsDataCluster(c) && c < reach.size() && !reach[c]) {
        reach[c] = true;
        const uint16_t next = FatAt(c);
        if (next == FatFree || next >= FatFirstEnd) break;
        c = next;
    }
}

std::vector<bool> TFlash::ReachedClusters(TDirCopy& dir, int64_t skip) const {
    std::vector<bool> reach(static_cast<size_t>(FLastCluster) + 1, false);
    for (uint32_t i = 0; i < dir.Slots; ++i) {
        const uint8_t* slot = dir.Slot(i);
        const TSlotKind kind = SlotKind(slot);
        if (static_cast<int64_t>(i) == skip || (kind != TSlotKind::File && kind != TSlotKind::Directory)) continue;
        MarkReach(reach, GetU16(slot, dirent::FirstCluster));
    }
    return reach;
}

uint16_t TFlash::FindFreeCluster() const {
    for (uint32_t n = 2; n <= FLastCluster; ++n)
        if (FatAt(n) == FatFree && (n >= FReachedClusters.size() || !FReachedClusters[n]))
            return static_cast<uint16_t>(n);
    return 0;
}

uint16_t TFlash::AllocCluster(uint16_t previous) {
    const uint16_t c = FindFreeCluster();
    if (c == 0) return 0;
    SetFat(c, FatEnd);
    if (previous != 0) SetFat(previous, c);
    return c;
}

void TFlash::ReleaseChain(uint16_t first) {
    // Only a chain this worker built is released: each entry reads free
    // afterwards, so even a looping chain ends.
    uint32_t c = first;
    while (IsDataCluster(c) && FatAt(c) != FatFree) {
        const uint16_t next = FatAt(c);
        SetFat(c, FatFree);
        c = next;
    }
}

}  // namespace skarvel
