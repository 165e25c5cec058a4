#include "flashfs/volume_check.h"

#include <algorithm>
#include <map>

#include "flashfs/my_str.h"

namespace skarvel {

namespace {

class TChecker {
public:
    TChecker(const TVolumeTables& t, TCheckReport& rep) : t_(t), rep_(rep), g_(rep.Geometry) {}

    void Run() {
        owner_.assign(static_cast<size_t>(g_.LastCluster) + 1, -1);
        WalkRoot();
        FindLost();
        CountBeyondData();
    }

private:
    uint16_t Fat(uint32_t n) const {
        return n * 2 + 1 < t_.Fat.size() ? GetU16(t_.Fat.data(), n * 2) : FatFree;
    }
    void Problem(TCheckKind kind, const std::string& name, uint32_t cluster, uint32_t value = 0,
                 const std::string& other = "") {
        rep_.Problems.push_back(TCheckProblem{kind, name, other, cluster, value});
    }

    void WalkRoot() {
        const size_t slots = std::min<size_t>(g_.RootEntries, t_.Root.size() / dirent::Size);
        for (size_t i = 0; i < slots; ++i) {
            const uint8_t* e = t_.Root.data() + i * dirent::Size;
            const TSlotKind kind = SlotKind(e);
            if (kind == TSlotKind::End) break;
            if (kind == TSlotKind::Deleted) {
                NoteReservation(e);
                continue;
            }
            if (kind != TSlotKind::File && kind != TSlotKind::Directory) continue;
            TCheckedEntry entry;
            entry.Name = DisplayName(reinterpret_cast<const char*>(e));
            entry.Size = GetU32(e, dirent::FileSize);
            entry.Directory = kind == TSlotKind::Directory;
            hasSubdirs_ = hasSubdirs_ || entry.Directory;
            NoteDuplicate(entry);
            rep_.Entries.push_back(entry);
            WalkChain(rep_.Entries.size() - 1, GetU16(e, dirent::FirstCluster));
        }
    }

    // A save reserves its slot as a deleted entry of size 0 naming its first
    // cluster; if that cluster is lost, the save never finished.
    void NoteReservation(const uint8_t* e) {
        if (GetU32(e, dirent::FileSize) != 0) return;
        std::string name = DisplayName(reinterpret_cast<const char*>(e));
        if (!name.empty()) name[0] = '?';  // the first letter is gone with the deleted mark
        reserved_.emplace(GetU16(e, dirent::FirstCluster), name);
    }

    void NoteDuplicate(const TCheckedEntry& entry) {
        if (entry.Directory) return;
        std::string key = entry.Name;
        for (char& c : key) c = static_cast<char>(CapsTable[static_cast<uint8_t>(c)]);
        const auto [it, fresh] = names_.emplace(key, entry.Name);
        if (!fresh) Problem(TCheckKind::DuplicateName, it->second, 0, 0, entry.Name);
    }

    void WalkChain(size_t index, uint16_t first) {
        const TCheckedEntry& entry = rep_.Entries[index];
        const std::string& name = entry.Name;
        if (first == 0 && entry.Size == 0 && !entry.Directory) return;  // an empty file written elsewhere
        if (!g_.IsDataCluster(first)) return Problem(TCheckKind::BadFirstCluster, name, first);
        uint32_t c = first, previous = 0;
        for (;;) {
            if (owner_[c] == static_cast<int32_t>(index)) return Problem(TCheckKind::Loop, name, c);
            if (owner_[c] >= 0)
                return Problem(TCheckKind::CrossLink, name, c, 0, rep_.Entries[static_cast<size_t>(owner_[c])].Name);
            if (Fat(c) == FatFree) {
                if (previous == 0) return Problem(TCheckKind::UnfinishedSave, name, c);
                return Problem(TCheckKind::FreeInChain, name, previous, c);
            }
            Own(c, index);
            const uint16_t next = Fat(c);
            if (next >= FatFirstEndMark) break;
            if (!g_.IsDataCluster(next)) return Problem(TCheckKind::LeavesDataArea, name, c, next);
            previous = c;
            c = next;
        }
        if (entry.Directory) return;
        // This system writes size / cluster bytes + 1 clusters, other systems
        // as many as hold the bytes.
        const uint32_t cb = g_.ClusterBytes();
        const auto length = static_cast<uint32_t>(entry.Chain.size());
        if (length < ShortestChain(entry.Size, cb)) Problem(TCheckKind::ShortChain, name, first, length);
        if (length > ChainLength(entry.Size, cb)) Problem(TCheckKind::LongChain, name, first, length);
    }

    void Own(uint32_t c, size_t index) {
        owner_[c] = static_cast<int32_t>(index);
        rep_.Entries[index].Chain.push_back(static_cast<uint16_t>(c));
    }

    bool Taken(uint32_t c) const { return Fat(c) != FatFree && Fat(c) != FatBad; }

    void FindLost() {
        std::vector<bool> lost(owner_.size(), false), linked(owner_.size(), false);
        uint32_t count = 0;
        for (uint32_t c = 2; c <= g_.LastCluster; ++c) {
            lost[c] = owner_[c] < 0 && Taken(c);
            count += lost[c];
        }
        if (count == 0) return;
        if (hasSubdirs_) {
            rep_.Unexplained = count;
            return;
        }
        for (uint32_t c = 2; c <= g_.LastCluster; ++c)
            if (lost[c] && g_.IsDataCluster(Fat(c)) && lost[Fat(c)]) linked[Fat(c)] = true;
        // One problem per lost chain, from the clusters nothing links to; the
        // rest are loops among lost clusters.
        for (int pass = 0; pass < 2; ++pass)
            for (uint32_t c = 2; c <= g_.LastCluster; ++c)
                if (lost[c] && (pass == 1 || !linked[c])) TakeLostChain(c, lost);
    }

    void TakeLostChain(uint32_t head, std::vector<bool>& lost) {
        uint32_t n = 0;
        for (uint32_t c = head; g_.IsDataCluster(c) && lost[c]; c = Fat(c)) {
            lost[c] = false;
            rep_.Lost.push_back(static_cast<uint16_t>(c));
            ++n;
        }
        const auto it = reserved_.find(static_cast<uint16_t>(head));
        Problem(TCheckKind::LostClusters, it == reserved_.end() ? "" : it->second, head, n);
    }

    void CountBeyondData() {
        uint32_t n = 0;
        for (uint32_t c = g_.LastCluster + 1u; c < t_.Fat.size() / 2; ++c) n += Fat(c) != FatFree;
        if (n > 0) Problem(TCheckKind::TakenBeyondData, "", g_.LastCluster + 1u, n);
    }

    const TVolumeTables& t_;
    TCheckReport& rep_;
    const TVolumeGeometry& g_;
    std::vector<int32_t> owner_;  // entry index per cluster, -1 for none
    std::map<uint16_t, std::string> reserved_;
    std::map<std::string, std::string> names_;
    bool hasSubdirs_ = false;
};

}  // namespace

bool TCheckReport::Repairable() const {
    if (!Formatted || Foreign != TVolumeFault::None) return false;
    for (const TCheckProblem& p : Problems) {
        switch (p.Kind) {
            case TCheckKind::LostClusters:
            case TCheckKind::LongChain:
            case TCheckKind::DuplicateName:
            case TCheckKind::TakenBeyondData: break;
            default: return false;
        }
    }
    return true;
}

TCheckReport CheckVolume(const TVolumeTables& t) {
    TCheckReport rep;
    if (t.Boot.size() < SectorSize || !DecodeBootSector(t.Boot.data(), rep.Geometry)) return rep;
    rep.Formatted = true;
    rep.Foreign = BootSectorFault(t.Boot.data(), rep.Geometry, t.MediumSectors);
    if (rep.Foreign == TVolumeFault::None && t.Fat.size() >= 4 && Fat12Start(t.Fat.data()))
        rep.Foreign = TVolumeFault::Fat12;
    // A foreign FAT read with 16-bit entries says nothing true.
    if (rep.Foreign != TVolumeFault::None) return rep;
    TChecker(t, rep).Run();
    return rep;
}

}  // namespace skarvel
