#include "tests/volume_check.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace skarvel::test {

TVolumeTables TablesOf(const std::vector<uint8_t>& img) {
    TVolumeTables t;
    t.MediumSectors = static_cast<uint32_t>(img.size() / SectorSize);
    if (img.size() < SectorSize) return t;
    t.Boot.assign(img.begin(), img.begin() + SectorSize);
    TVolumeGeometry g;
    if (!DecodeBootSector(img.data(), g)) return t;
    auto part = [&img](uint32_t first, uint32_t count) {
        const size_t from = std::min<size_t>(img.size(), size_t{first} * SectorSize);
        const size_t to = std::min<size_t>(img.size(), size_t{first + count} * SectorSize);
        return std::vector<uint8_t>(img.begin() + static_cast<long>(from), img.begin() + static_cast<long>(to));
    };
    t.Fat = part(g.ReservedSectors, g.SectorsPerFAT);
    t.Root = part(g.FirstRootSector, g.RootDirSectors);
    return t;
}

std::string ProblemLine(const TCheckProblem& p) {
    static const char* const kinds[] = {"lost clusters",  "cross-link",      "short chain", "long chain",
                                        "loop",           "leaves the data", "free in chain",
                                        "bad first cluster", "unfinished save", "duplicate name",
                                        "taken beyond the data"};
    std::ostringstream s;
    s << kinds[static_cast<int>(p.Kind)] << ": " << p.Name;
    if (!p.Other.empty()) s << " / " << p.Other;
    s << " cluster " << p.Cluster << " value " << p.Value;
    return s.str();
}

std::vector<TCheckKind> ProblemKinds(const TCheckReport& r) {
    std::vector<TCheckKind> kinds;
    for (const TCheckProblem& p : r.Problems) kinds.push_back(p.Kind);
    return kinds;
}

VolumeReport CheckVolume(const std::vector<uint8_t>& img) {
    VolumeReport rep;
    rep.Check = skarvel::CheckVolume(TablesOf(img));
    rep.Formatted = rep.Check.Formatted;
    for (const TCheckProblem& p : rep.Check.Problems) rep.Problems.push_back(ProblemLine(p));
    const TVolumeGeometry& g = rep.Check.Geometry;
    for (const TCheckedEntry& e : rep.Check.Entries) {
        if (e.Directory) continue;
        std::vector<uint8_t> data;
        for (uint16_t c : e.Chain) {
            const size_t at = size_t{g.ClusterSector(c)} * SectorSize;
            if (at + g.ClusterBytes() > img.size()) break;
            data.insert(data.end(), img.begin() + static_cast<long>(at),
                        img.begin() + static_cast<long>(at + g.ClusterBytes()));
        }
        if (data.size() >= e.Size) data.resize(e.Size);
        rep.Files[e.Name] = data;
    }
    return rep;
}

}  // namespace skarvel::test
