// The user's environment on Linux.
#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

#include "core/user_env.h"

namespace skarvel {

namespace {
// The password database's entry of the effective user, or null.
const passwd* UserEntry(std::vector<char>& buffer, passwd& entry) {
    buffer.resize(16384);
    passwd* found = nullptr;
    if (getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &found) != 0) return nullptr;
    return found;
}
}  // namespace

std::string EnvironmentValue(const char* name) {
    const char* v = std::getenv(name);
    return v ? std::string(v) : std::string();
}

char PathSeparator() { return '/'; }

std::string AbsolutePath(const std::string& path) {
    if (path.empty() || path.front() == '/') return path;
    std::vector<char> buffer(4096);
    while (getcwd(buffer.data(), buffer.size()) == nullptr) {
        if (errno != ERANGE) return path;
        buffer.resize(buffer.size() * 2);
    }
    std::string cwd = buffer.data();
    if (cwd.back() != '/') cwd += '/';
    return cwd + (path.rfind("./", 0) == 0 ? path.substr(2) : path);
}

std::string StateFolder() {
    // A relative value is to be ignored (XDG base directory rules).
    std::string base = EnvironmentValue("XDG_STATE_HOME");
    if (base.empty() || base.front() != '/') {
        std::string home = EnvironmentValue("HOME");
        if (home.empty()) {
            std::vector<char> buffer;
            passwd entry{};
            if (const passwd* p = UserEntry(buffer, entry); p && p->pw_dir) home = p->pw_dir;
        }
        if (home.empty()) return {};
        base = home + "/.local/state";
    }
    while (base.size() > 1 && base.back() == '/') base.pop_back();
    return base + "/skarvel";
}

std::string CurrentUserName() {
    std::vector<char> buffer;
    passwd entry{};
    if (const passwd* p = UserEntry(buffer, entry); p && p->pw_name && *p->pw_name) return p->pw_name;
    return std::to_string(geteuid());
}

std::string LocalTimestamp(std::time_t t) {
    std::tm local{};
    localtime_r(&t, &local);
    return detail::FormatTimestamp(local, local.tm_gmtoff);
}

}  // namespace skarvel
