#include "tests/volume_check.h"

#include <unistd.h>

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

std::optional<std::vector<std::string>> FsckFindings(const std::vector<uint8_t>& image) {
    const char* fsck = nullptr;
    for (const char* p : {"/usr/sbin/fsck.fat", "/sbin/fsck.fat"})
        if (access(p, X_OK) == 0) fsck = p;
    if (fsck == nullptr) return std::nullopt;
    char path[] = "/tmp/skarvel-fsck-XXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0) return std::vector<std::string>{"cannot make a temporary image"};
    const bool written = write(fd, image.data(), image.size()) == static_cast<ssize_t>(image.size());
    close(fd);
    std::vector<std::string> lines, findings;
    if (!written) findings.push_back("cannot write the temporary image");
    const std::string cmd = std::string(fsck) + " -A -n " + path + " 2>&1";
    FILE* out = written ? popen(cmd.c_str(), "r") : nullptr;
    char line[512];
    while (out != nullptr && std::fgets(line, sizeof line, out) != nullptr) {
        std::string s(line);
        if (!s.empty() && s.back() == '\n') s.pop_back();
        const bool remark = s.empty() || s.rfind("fsck.fat ", 0) == 0 ||
                            s == "Label '' stored in boot sector is not valid." ||
                            s == "  Auto-removing label from boot sector." || s == "Leaving filesystem unchanged." ||
                            s.rfind(std::string(path) + ": ", 0) == 0;  // the summary: files and clusters
        if (!remark) lines.push_back(s);
    }
    if (out != nullptr) pclose(out);
    unlink(path);
    // This system gives every file one cluster more than whole clusters of
    // bytes (an empty file one, an exact multiple an unused last one), which
    // fsck.fat calls a chain longer than the size: "/NAME", "  File size is
    // N bytes, cluster chain length is > N bytes.", "  Truncating file to N
    // bytes.". The volume check itself holds such chains to that length.
    TVolumeGeometry g;
    const uint32_t cb = image.size() >= SectorSize && DecodeBootSector(image.data(), g) ? g.ClusterBytes() : 0;
    for (size_t i = 0; i < lines.size(); ++i) {
        unsigned long size = 0, chain = 0;
        const char* longer = "  File size is %lu bytes, cluster chain length is > %lu bytes.";
        const bool extra = i > 0 && i + 1 < lines.size() && cb != 0 &&
                           std::sscanf(lines[i].c_str(), longer, &size, &chain) == 2 && size == chain &&
                           size % cb == 0 && lines[i + 1].rfind("  Truncating file to ", 0) == 0;
        if (extra) {
            findings.pop_back();  // the file's path
            ++i;
        } else {
            findings.push_back(lines[i]);
        }
    }
    return findings;
}

}  // namespace skarvel::test
