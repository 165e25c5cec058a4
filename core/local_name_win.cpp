// Windows reads ':' as the start of a stream name, keeps device names in
// every folder, and drops a trailing dot or blank from a name.
#include <algorithm>
#include <cctype>

#include "core/local_name.h"

namespace skarvel::detail {

namespace {

bool IsDeviceName(std::string base) {
    std::transform(base.begin(), base.end(), base.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    if (base == "CON" || base == "PRN" || base == "AUX" || base == "NUL") return true;
    return base.size() == 4 && (base.compare(0, 3, "COM") == 0 || base.compare(0, 3, "LPT") == 0) &&
           base[3] >= '1' && base[3] <= '9';
}

}  // namespace

bool PlatformRefusesName(const std::string& utf8) {
    if (utf8.find_first_of(":*?\"<>|") != std::string::npos) return true;
    if (utf8.back() == '.' || utf8.back() == ' ') return true;
    std::string base = utf8.substr(0, utf8.find('.'));
    while (!base.empty() && base.back() == ' ') base.pop_back();
    return IsDeviceName(base);
}

}  // namespace skarvel::detail
