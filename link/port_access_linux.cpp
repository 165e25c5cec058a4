// The advice for a serial port the system refused to open: the device's
// group comes from the device itself, the user from the password database.
#include "link/port_access_linux.h"

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "core/cp1251.h"

namespace skarvel {

namespace {

// "Нет доступа к порту %1: добавьте пользователя %2 в группу %3
// (sudo usermod -aG %3 %2) и войдите в систему заново."
const char* const kJoinGroup =
    "\xCD\xE5\xF2 \xE4\xEE\xF1\xF2\xF3\xEF\xE0 \xEA \xEF\xEE\xF0\xF2\xF3 %1: \xE4\xEE\xE1\xE0\xE2\xFC\xF2\xE5 "
    "\xEF\xEE\xEB\xFC\xE7\xEE\xE2\xE0\xF2\xE5\xEB\xFF %2 \xE2 \xE3\xF0\xF3\xEF\xEF\xF3 %3 (sudo usermod -aG %3 %2) "
    "\xE8 \xE2\xEE\xE9\xE4\xE8\xF2\xE5 \xE2 \xF1\xE8\xF1\xF2\xE5\xEC\xF3 \xE7\xE0\xED\xEE\xE2\xEE.";
// "Нет доступа к порту %1: добавьте пользователя %2 в группу, которой
// принадлежит порт (обычно dialout), и войдите в систему заново."
const char* const kJoinOwningGroup =
    "\xCD\xE5\xF2 \xE4\xEE\xF1\xF2\xF3\xEF\xE0 \xEA \xEF\xEE\xF0\xF2\xF3 %1: \xE4\xEE\xE1\xE0\xE2\xFC\xF2\xE5 "
    "\xEF\xEE\xEB\xFC\xE7\xEE\xE2\xE0\xF2\xE5\xEB\xFF %2 \xE2 \xE3\xF0\xF3\xEF\xEF\xF3, \xEA\xEE\xF2\xEE\xF0\xEE\xE9 "
    "\xEF\xF0\xE8\xED\xE0\xE4\xEB\xE5\xE6\xE8\xF2 \xEF\xEE\xF0\xF2 (\xEE\xE1\xFB\xF7\xED\xEE dialout), "
    "\xE8 \xE2\xEE\xE9\xE4\xE8\xF2\xE5 \xE2 \xF1\xE8\xF1\xF2\xE5\xEC\xF3 \xE7\xE0\xED\xEE\xE2\xEE.";
// "Нет доступа к порту %1: права устройства не дают доступа даже его группе
// %3, разрешить доступ может только администратор."
const char* const kAskAdministrator =
    "\xCD\xE5\xF2 \xE4\xEE\xF1\xF2\xF3\xEF\xE0 \xEA \xEF\xEE\xF0\xF2\xF3 %1: \xEF\xF0\xE0\xE2\xE0 "
    "\xF3\xF1\xF2\xF0\xEE\xE9\xF1\xF2\xE2\xE0 \xED\xE5 \xE4\xE0\xFE\xF2 \xE4\xEE\xF1\xF2\xF3\xEF\xE0 \xE4\xE0\xE6\xE5 "
    "\xE5\xE3\xEE \xE3\xF0\xF3\xEF\xEF\xE5 %3, \xF0\xE0\xE7\xF0\xE5\xF8\xE8\xF2\xFC \xE4\xEE\xF1\xF2\xF3\xEF "
    "\xEC\xEE\xE6\xE5\xF2 \xF2\xEE\xEB\xFC\xEA\xEE \xE0\xE4\xEC\xE8\xED\xE8\xF1\xF2\xF0\xE0\xF2\xEE\xF0.";

// The text in UTF-8 with %1, %2 and %3 replaced by path, user and group.
std::string Fill(const char* cp1251, const TPortAccess& a) {
    const std::string text = Cp1251ToUtf8(cp1251);
    const std::string user = a.User.empty() ? std::string("$USER") : a.User;
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 1 < text.size() && text[i + 1] >= '1' && text[i + 1] <= '3') {
            const char n = text[++i];
            out += n == '1' ? a.Path : n == '2' ? user : a.Group;
        } else {
            out += text[i];
        }
    }
    return out;
}

TPortAccess LookUp(const std::string& path) {
    TPortAccess a;
    a.Path = path;
    struct stat st {};
    if (stat(path.c_str(), &st) == 0) {
        a.Known = true;
        const group* g = getgrgid(st.st_gid);
        a.Group = g ? g->gr_name : std::to_string(st.st_gid);
        a.GroupMayUse = (st.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP);
    }
    if (const passwd* p = getpwuid(getuid())) a.User = p->pw_name;
    return a;
}

}  // namespace

std::string PortAccessAdvice(int err, const TPortAccess& access) {
    if (err != EACCES && err != EPERM) return std::string();
    if (!access.Known) return Fill(kJoinOwningGroup, access);
    return Fill(access.GroupMayUse ? kJoinGroup : kAskAdministrator, access);
}

EComPort ComOpenError(const std::string& path, int err) {
    if (err != EACCES && err != EPERM) return EComPort(CE_OPEN_FAILED, err);
    return EComPort(CE_OPEN_FAILED, err, PortAccessAdvice(err, LookUp(path)));
}

}  // namespace skarvel
