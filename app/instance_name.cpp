// The platform-neutral part of the window's address.
#include <cstdio>

#include "app/instance_name.h"

namespace skarvel {

std::string SessionTag(const std::string& session) {
    // "host:0.1" and "host:0" are one X server: drop a screen number.
    std::string s = session;
    const size_t colon = s.rfind(':');
    const size_t dot = s.rfind('.');
    if (colon != std::string::npos && dot != std::string::npos && dot > colon + 1 &&
        s.find_first_not_of("0123456789", colon + 1) == dot &&
        s.find_first_not_of("0123456789", dot + 1) == std::string::npos && dot + 1 < s.size())
        s.resize(dot);
    std::string out;
    for (unsigned char c : s) {
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '-' ||
            c == '_') {
            out += static_cast<char>(c);
        } else {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", c);
            out += hex;
        }
    }
    return out.empty() ? "default" : out;
}

}  // namespace skarvel
