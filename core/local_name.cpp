#include "core/local_name.h"

#include "core/cp1251.h"

namespace skarvel {

bool IsLocalFileName(const std::string& utf8) {
    if (utf8.empty() || utf8 == "." || utf8 == "..") return false;
    for (char c : utf8) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x20 || b == 0x7F || c == '/' || c == '\\') return false;
    }
    return !detail::PlatformRefusesName(utf8);
}

std::string SafeLocalName(const std::string& cp1251Name) {
    static const char hex[] = "0123456789ABCDEF";
    std::string utf8;
    for (char c : cp1251Name) {
        const auto b = static_cast<unsigned char>(c);
        if (IsEscapedNameByte(b)) {
            utf8 += '%';
            utf8 += hex[b >> 4];
            utf8 += hex[b & 0x0F];
        } else {
            utf8 += Cp1251ToUtf8(std::string(1, c));
        }
    }
    return IsLocalFileName(utf8) ? utf8 : std::string();
}

}  // namespace skarvel
