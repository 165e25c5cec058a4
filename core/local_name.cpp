#include "core/local_name.h"

namespace skarvel {

bool IsLocalFileName(const std::string& utf8) {
    if (utf8.empty() || utf8 == "." || utf8 == "..") return false;
    for (char c : utf8) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x20 || b == 0x7F || c == '/' || c == '\\') return false;
    }
    return !detail::PlatformRefusesName(utf8);
}

}  // namespace skarvel
