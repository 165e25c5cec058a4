// The window's address on Linux: a socket in a folder of the user's own.
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "app/instance_name.h"

namespace skarvel {

namespace {

// Why path cannot hold the user's socket, or nothing when it can: a real
// folder (not a link), the user's, closed to group and others.
std::string PrivateFolderProblem(const std::string& path) {
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0) return path + ": " + std::strerror(errno);
    if (!S_ISDIR(st.st_mode)) return path + " is not a folder";
    if (st.st_uid != geteuid()) return path + " belongs to another user";
    if ((st.st_mode & 077) != 0) return path + " is open to other users";
    return {};
}

std::string EnvOr(const char* name, const char* fallback) {
    const char* v = std::getenv(name);
    return v && *v ? v : fallback;
}

}  // namespace

TInstanceAddress InstanceAddress(const std::string& session) {
    TInstanceAddress a;
    const std::string uid = std::to_string(geteuid());
    std::string folder = EnvOr("XDG_RUNTIME_DIR", "");
    if (folder.empty() || folder[0] != '/' || !PrivateFolderProblem(folder).empty()) {
        std::string tmp = EnvOr("TMPDIR", "/tmp");
        while (tmp.size() > 1 && tmp.back() == '/') tmp.pop_back();
        folder = tmp + "/skarvel-" + uid;
        if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
            a.Problem = folder + ": " + std::strerror(errno);
            return a;
        }
        a.Problem = PrivateFolderProblem(folder);
        if (!a.Problem.empty()) return a;
    }
    const std::string base = folder + "/skarvel-" + uid + "-" + SessionTag(session);
    if (base.size() + 7 >= sizeof(sockaddr_un{}.sun_path)) {
        a.Problem = base + ".socket: the path is too long for a local socket";
        return a;
    }
    a.ServerName = base + ".socket";
    a.LockPath = base + ".lock";
    return a;
}

bool PeerIsSameUser(intptr_t socketDescriptor) {
    ucred cred {};
    socklen_t len = sizeof cred;
    if (getsockopt(static_cast<int>(socketDescriptor), SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0) return false;
    return cred.uid == geteuid();
}

}  // namespace skarvel
