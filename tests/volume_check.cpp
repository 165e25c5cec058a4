#include "tests/volume_check.h"

#include <algorithm>
#include <set>

namespace skarvel::test {
namespace {

uint16_t U16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t U32(const uint8_t* p) { return U16(p) | (static_cast<uint32_t>(U16(p + 2)) << 16); }

std::string Displayed(const uint8_t* e) {
    std::string name;
    for (int i = 0; i < 8 && e[i] != ' '; ++i) name += static_cast<char>(e[i]);
    std::string ext;
    for (int i = 8; i < 11 && e[i] != ' '; ++i) ext += static_cast<char>(e[i]);
    return ext.empty() ? name : name + "." + ext;
}

}  // namespace

VolumeReport CheckVolume(const std::vector<uint8_t>& img) {
    VolumeReport rep;
    auto problem = [&](const std::string& s) { rep.Problems.push_back(s); };
    if (img.size() < 512 || img[510] != 0x55 || img[511] != 0xAA) return rep;
    const uint8_t* b = img.data();
    const uint32_t spc = b[13], reserved = U16(b + 14), fats = b[16], rootEntries = U16(b + 17);
    const uint32_t spf = U16(b + 22);
    const uint32_t total = U16(b + 19) ? U16(b + 19) : U32(b + 32);
    if (!spc || !fats || !rootEntries || !spf || !total || !reserved) return rep;
    rep.Formatted = true;

    const uint32_t firstRoot = reserved + fats * spf;
    const uint32_t rootSectors = (rootEntries * 32 + 511) / 512;
    const uint32_t firstData = firstRoot + rootSectors;
    const uint32_t sectors = static_cast<uint32_t>(img.size() / 512);
    if (firstData > std::min(total, sectors)) {
        problem("the layout does not fit the medium");
        return rep;
    }
    const uint32_t dataClusters = (std::min(total, sectors) - firstData) / spc;
    const uint32_t last = dataClusters + 1;
    const uint32_t clusterBytes = spc * 512;
    auto fat = [&](uint32_t n) { return U16(b + reserved * 512 + n * 2); };
    if (fat(0) != 0xFFF0 || fat(1) != 0xFFFF) problem("FAT entries 0 and 1 are not F0 FF FF FF");

    std::vector<std::string> owner(last + 1);
    for (uint32_t i = 0; i < rootEntries; ++i) {
        const uint8_t* e = b + firstRoot * 512 + i * 32;
        if (e[0] == 0x00) break;
        if (e[0] == 0xE5) continue;
        const std::string name = Displayed(e);
        const uint32_t size = U32(e + 28);
        uint32_t c = U16(e + 26);
        const uint32_t want = size / clusterBytes + 1;
        std::vector<uint8_t> data;
        uint32_t count = 0;
        std::set<uint32_t> seen;
        bool broken = false;
        while (true) {
            if (c < 2 || c > last) {
                problem(name + ": cluster " + std::to_string(c) + " is outside the volume");
                broken = true;
                break;
            }
            if (!seen.insert(c).second) {
                problem(name + ": the chain loops at cluster " + std::to_string(c));
                broken = true;
                break;
            }
            if (!owner[c].empty()) problem(name + ": cluster " + std::to_string(c) + " is also " + owner[c] + "'s");
            owner[c] = name;
            ++count;
            const uint8_t* cl = b + (firstData + (c - 2) * spc) * 512;
            data.insert(data.end(), cl, cl + clusterBytes);
            const uint16_t next = fat(c);
            if (next == 0) {
                problem(name + ": the chain runs into free cluster " + std::to_string(c));
                broken = true;
                break;
            }
            if (next >= 0xFFF7) break;
            c = next;
        }
        if (!broken && count != want)
            problem(name + ": " + std::to_string(size) + " bytes but " + std::to_string(count) + " clusters");
        if (data.size() >= size) data.resize(size);
        rep.Files[name] = data;
    }
    for (uint32_t c = 2; c <= last; ++c)
        if (fat(c) != 0 && owner[c].empty()) problem("cluster " + std::to_string(c) + " is taken but lost");
    for (uint32_t c = last + 1; c < spf * 256; ++c)
        if (fat(c) != 0) problem("FAT entry " + std::to_string(c) + " beyond the data area is not free");
    return rep;
}

}  // namespace skarvel::test
