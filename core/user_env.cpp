// What both platforms share of the user's environment.
#include <cstdio>

#include "core/user_env.h"

namespace skarvel {

namespace detail {
// The ISO 8601 text of broken-down local time with its offset from UTC in seconds.
std::string FormatTimestamp(const std::tm& local, long offsetSeconds) {
    char zone[16];
    const char sign = offsetSeconds < 0 ? '-' : '+';
    const long a = offsetSeconds < 0 ? -offsetSeconds : offsetSeconds;
    std::snprintf(zone, sizeof zone, "%c%02ld:%02ld", sign, a / 3600 % 100, a / 60 % 60);
    char text[80];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d%s", local.tm_year + 1900, local.tm_mon + 1,
                  local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec, zone);
    return text;
}
}  // namespace detail

}  // namespace skarvel
