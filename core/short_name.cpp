#include "core/short_name.h"

#include <algorithm>
#include <set>

#include "core/cp1251.h"

namespace skarvel {
namespace {

bool ValidChar(unsigned char c) {
    if (c < 0x20 || c == 0x7F) return false;
    if (c >= 0x80) return c != 0x98 && c != 0xA0;  // unassigned byte and no-break space
    static const std::string bad = " .\"*+,/:;<=>?[\\]|";
    return bad.find(static_cast<char>(c)) == std::string::npos;
}

std::string UpperAll(const std::string& s) {
    std::string out = s;
    for (char& c : out) c = static_cast<char>(CapsTable[static_cast<unsigned char>(c)]);
    return out;
}

std::string Cp1251Lossy(const std::string& utf8) {
    std::string out;
    if (Utf8ToCp1251(utf8, out)) return out;
    return ToCp1251(utf8);  // what has no code page 1251 form becomes '?', dropped below
}

// The base (before ~N) and the extension of a name that does not fit 8.3.
void SplitLong(const std::string& cp, std::string& base, std::string& ext) {
    const size_t dot = cp.rfind('.');
    const std::string rawBase = dot == std::string::npos || dot == 0 ? cp : cp.substr(0, dot);
    const std::string rawExt = dot == std::string::npos || dot == 0 ? "" : cp.substr(dot + 1);
    base.clear();
    ext.clear();
    for (char c : rawBase)
        if (ValidChar(static_cast<unsigned char>(c))) base += static_cast<char>(CapsTable[static_cast<unsigned char>(c)]);
    for (char c : rawExt)
        if (ValidChar(static_cast<unsigned char>(c)) && ext.size() < 3)
            ext += static_cast<char>(CapsTable[static_cast<unsigned char>(c)]);
    if (base.empty()) base.push_back('_');
    if (base.size() > 6) base.resize(6);
}

// "~999999" leaves one character of the base; no folder or medium comes near.
constexpr int MaxTildeNumber = 999999;

}  // namespace

bool FitsShortName(const std::string& cp) {
    if (cp.empty() || cp == "." || cp == "..") return false;
    const size_t dot = cp.find('.');
    const std::string base = dot == std::string::npos ? cp : cp.substr(0, dot);
    const std::string ext = dot == std::string::npos ? "" : cp.substr(dot + 1);
    if (base.empty() || base.size() > 8 || ext.size() > 3) return false;
    if (dot != std::string::npos && ext.empty()) return false;
    for (char c : base)
        if (!ValidChar(static_cast<unsigned char>(c))) return false;
    for (char c : ext)
        if (!ValidChar(static_cast<unsigned char>(c))) return false;
    return true;
}

std::string ShortNameAmong(const std::string& name, std::vector<std::string> folder, const TShortNameTaken& elsewhere) {
    if (std::find(folder.begin(), folder.end(), name) == folder.end()) folder.push_back(name);
    std::sort(folder.begin(), folder.end());

    // Names that fit keep their form and are taken first.
    std::set<std::string> taken;
    for (const std::string& n : folder) {
        const std::string cp = Cp1251Lossy(n);
        if (FitsShortName(cp) && cp.find('?') == std::string::npos) taken.insert(UpperAll(cp));
    }
    const std::string own = Cp1251Lossy(name);
    if (FitsShortName(own) && own.find('?') == std::string::npos) return own;

    for (const std::string& n : folder) {
        const std::string cp = Cp1251Lossy(n);
        if (FitsShortName(cp) && cp.find('?') == std::string::npos) continue;
        std::string base, ext;
        SplitLong(cp, base, ext);
        // Only the file's own number looks beyond the folder: the others keep
        // the numbers the folder alone gives them, so a name stays the same
        // whichever files of its folder are written with it.
        const bool isOwn = n == name;
        std::string shortName;
        for (int i = 1; i <= MaxTildeNumber; ++i) {
            const std::string number = std::to_string(i);
            shortName.assign(base, 0, std::min(base.size(), 7 - number.size()));
            shortName.push_back('~');
            shortName.append(number);
            if (!ext.empty()) {
                shortName.push_back('.');
                shortName.append(ext);
            }
            if (!taken.count(shortName) && !(isOwn && elsewhere && elsewhere(shortName))) break;
        }
        taken.insert(shortName);
        if (n == name) return shortName;
    }
    return own;  // not reached
}

}  // namespace skarvel
