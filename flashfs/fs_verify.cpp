// The check after a save: every FAT and directory sector the save wrote,
// and the file's bytes, read back and compared.
#include <algorithm>
#include <cstring>
#include <vector>

#include "flashfs/fs_flash.h"

namespace skarvel {

namespace {

void AddName(std::vector<std::string>& names, const std::string& name) {
    if (!name.empty() && std::find(names.begin(), names.end(), name) == names.end()) names.push_back(name);
}

std::string FileName(const uint8_t* slot) {
    return SlotKind(slot) == TSlotKind::File ? DisplayName(reinterpret_cast<const char*>(slot)) : std::string();
}

// True when a slot other than skip differs between the two sector images.
bool SlotsDiffer(const uint8_t* a, const uint8_t* b, int skip) {
    for (uint32_t k = 0; k < SectorSize / dirent::Size; ++k)
        if (static_cast<int>(k) != skip && std::memcmp(a + k * dirent::Size, b + k * dirent::Size, dirent::Size) != 0)
            return true;
    return false;
}

}  // namespace

bool TSaveCheck::Touches(const std::string& displayName) const {
    for (const TSaveFault& f : Faults)
        if (std::find(f.Files.begin(), f.Files.end(), displayName) != f.Files.end()) return true;
    return false;
}

std::vector<std::string> TFlash::ClusterOwners(TDirCopy& dir) const {
    std::vector<std::string> owners(FFat.size());
    for (uint32_t i = 0; i < dir.Slots; ++i) {
        const uint8_t* slot = dir.Slot(i);
        if (SlotKind(slot) != TSlotKind::File) continue;
        const std::string name = FileName(slot);
        std::vector<bool> seen(FFat.size(), false);
        for (uint32_t c = GetU16(slot, dirent::FirstCluster); IsDataCluster(c) && c < FFat.size() && !seen[c];
             c = FatAt(c)) {
            seen[c] = true;
            if (owners[c].empty()) owners[c] = name;
        }
    }
    return owners;
}

void TFlash::CompareSector(uint16_t sector, const uint8_t* expected, const uint8_t* found, int skipSlot,
                           const std::vector<std::string>* owners, TSaveFault& fault) const {
    fault.Sector = sector;
    if (sector >= FReservedSectors && sector < FFirstRootSector) {
        // Two bytes an entry: the clusters whose entries changed, and the
        // files whose chains hold them.
        fault.Area = TSaveArea::Fat;
        // Any copy of the FAT: each holds the same entries.
        const uint32_t firstEntry = (sector - FReservedSectors) % FSectorsPerFAT * (SectorSize / 2u);
        for (uint32_t k = 0; k < SectorSize / 2u; ++k) {
            if (GetU16(expected, k * 2) == GetU16(found, k * 2)) continue;
            const uint32_t cluster = firstEntry + k;
            if (owners && cluster < owners->size()) AddName(fault.Files, (*owners)[cluster]);
        }
        return;
    }
    // A directory sector: each slot that changed names its file as it was
    // meant and as it reads now.
    fault.Area = TSaveArea::Directory;
    for (uint32_t k = 0; k < SectorSize / dirent::Size; ++k) {
        if (static_cast<int>(k) == skipSlot) continue;
        const uint8_t* was = expected + k * dirent::Size;
        const uint8_t* is = found + k * dirent::Size;
        if (std::memcmp(was, is, dirent::Size) == 0) continue;
        AddName(fault.Files, FileName(was));
        AddName(fault.Files, FileName(is));
    }
}

TFlashError TFlash::VerifySave(const TSaveRecord& save, const void* data, uint32_t size, TSaveCheck& check) {
    check = TSaveCheck{};
    FAbort = false;
    if (!FMounted) return NotMounted();
    std::vector<uint8_t> back(SectorSize);
    std::vector<std::string> owners;
    bool ownersRead = false;
    for (const auto& [sector, written] : save.Sectors) {
        if (FAbort) return feAborted;
        if (written.size() != SectorSize) continue;
        if (const TFlashError r = ReadSectors(sector, 1, back.data()); r != feOk) return r;
        const bool fat = sector >= FReservedSectors && sector < FFirstRootSector;
        TSaveFault fault;
        bool differs = false;
        if (std::memcmp(written.data(), back.data(), SectorSize) != 0) {
            if (fat && !ownersRead) {
                // Only now the directory is needed: whose chains the entries are.
                TDirCopy dir;
                if (const TFlashError e = ReadDirectory(dir); e != feOk) return e;
                owners = ClusterOwners(dir);
                ownersRead = true;
            }
            CompareSector(sector, written.data(), back.data(), -1, fat ? &owners : nullptr, fault);
            differs = true;
        }
        // A directory sector written twice: between the versions only the
        // entry's own slot may have changed.
        const auto earlier = save.Earlier.find(sector);
        if (!fat && earlier != save.Earlier.end() && earlier->second.size() == SectorSize) {
            const int skip = sector == save.EntrySector ? save.EntryOffset / static_cast<int>(dirent::Size) : -1;
            if (SlotsDiffer(earlier->second.data(), written.data(), skip)) {
                CompareSector(sector, earlier->second.data(), written.data(), skip, nullptr, fault);
                differs = true;
            }
        }
        if (differs) check.Faults.push_back(std::move(fault));
    }

    // The file itself, as a load finds it now.
    std::vector<uint8_t> loaded;
    const TFlashError e = LoadFile(save.Name.c_str(), loaded, FMediumKind);
    const bool same = e == feOk && loaded.size() == size &&
                      (size == 0 || std::memcmp(loaded.data(), data, size) == 0);
    if (e != feOk && e != feNotFound && e != feDamagedFile) return e;
    if (!same) {
        TSaveFault fault;
        fault.Area = TSaveArea::Data;
        AddName(fault.Files, save.Shown.empty() ? save.Name : save.Shown);
        check.Faults.push_back(std::move(fault));
    }
    return feOk;
}

}  // namespace skarvel
