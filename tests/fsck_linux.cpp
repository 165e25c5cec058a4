// What fsck.fat finds on an image: the second opinion of the volume tests.
#include <unistd.h>

#include <cstdio>

#include "tests/volume_check.h"

namespace skarvel::test {

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
