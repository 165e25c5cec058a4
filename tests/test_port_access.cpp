// A port the system refuses to open: the message keeps the port's own line
// and says on the next one what the user has to do.
#include <gtest/gtest.h>

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "link/port_access_linux.h"
#include "tests/sim_process.h"

using namespace skarvel;
using namespace skarvel::test;

namespace {

TPortAccess Access(bool known, const std::string& group, bool groupMayUse, const std::string& user) {
    return {"/dev/ttyUSB0", known, group, groupMayUse, user};
}

// The advice to join the group that owns the port.
std::string JoinAdvice(const std::string& port, const std::string& user, const std::string& group) {
    return "Нет доступа к порту " + port + ": добавьте пользователя " + user + " в группу " + group +
           " (sudo usermod -aG " + group + " " + user + ") и войдите в систему заново.";
}

}  // namespace

TEST(PortAccess, AdviceNamesTheGroupThatOwnsTheDeviceOnlyWhenJoiningItHelps) {
    struct Case {
        const char* what;
        int err;
        TPortAccess access;
        std::string advice;
    };
    const Case cases[] = {
        {"group may read and write", EACCES, Access(true, "dialout", true, "ivan"),
         JoinAdvice("/dev/ttyUSB0", "ivan", "dialout")},
        {"refused by a security module", EPERM, Access(true, "uucp", true, "ivan"),
         JoinAdvice("/dev/ttyUSB0", "ivan", "uucp")},
        {"user not in the password database", EACCES, Access(true, "dialout", true, ""),
         JoinAdvice("/dev/ttyUSB0", "$USER", "dialout")},
        {"device not readable by its group", EACCES, Access(true, "root", false, "ivan"),
         "Нет доступа к порту /dev/ttyUSB0: права устройства не дают доступа даже его группе root, "
         "разрешить доступ может только администратор."},
        {"device could not be looked at", EACCES, Access(false, "", false, "ivan"),
         "Нет доступа к порту /dev/ttyUSB0: добавьте пользователя ivan в группу, которой принадлежит "
         "порт (обычно dialout), и войдите в систему заново."},
        {"no such device", ENOENT, Access(false, "", false, "ivan"), ""},
        {"taken by another program", EBUSY, Access(true, "dialout", true, "ivan"), ""},
        {"not a tty", ENXIO, Access(true, "dialout", true, "ivan"), ""},
    };
    for (const Case& c : cases) EXPECT_EQ(PortAccessAdvice(c.err, c.access), c.advice) << c.what;
}

TEST(PortAccess, AdviceFollowsThePortsOwnMessageOnALineOfItsOwn) {
    EXPECT_STREQ(ComOpenError("/dev/zvt-no-such-port", ENOENT).what(),
                 "Unable to open com port (win error code: 2)");

    TempDir dir;
    WriteFileBytes(dir.File("ttyS9"), {});
    ASSERT_EQ(chmod(dir.File("ttyS9").c_str(), 0600), 0);
    const EComPort e = ComOpenError(dir.File("ttyS9"), EACCES);
    EXPECT_EQ(e.Code(), CE_OPEN_FAILED);
    EXPECT_EQ(e.WinCode(), EACCES);
    const std::string text = e.what();
    const std::string first = "Unable to open com port (win error code: 13)\n";
    ASSERT_EQ(text.substr(0, first.size()), first) << text;
    EXPECT_EQ(text.find('\n', first.size()), std::string::npos) << text;
    EXPECT_NE(text.find(": права устройства не дают доступа даже его группе"), std::string::npos) << text;
}

// A real refusal: root passes every mode check, so zvt runs as nobody
// against a device file that only root and the group dialout may open.
TEST(PortAccess, ZvtShowsTheAdviceForAPortTheUserMayNotOpen) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to run zvt as another user";
    const group* dialout = getgrnam("dialout");
    const passwd* nobody = getpwnam("nobody");
    if (!dialout || !nobody) GTEST_SKIP() << "no group dialout or user nobody";

    TempDir dir;
    ASSERT_EQ(chmod(dir.Path().c_str(), 0755), 0);
    const std::string port = dir.File("ttyS9");
    WriteFileBytes(port, {});
    ASSERT_EQ(chown(port.c_str(), 0, dialout->gr_gid), 0);
    ASSERT_EQ(chmod(port.c_str(), 0660), 0);

    const std::string command = "setpriv --reuid=" + std::to_string(nobody->pw_uid) + " --regid=" +
                                std::to_string(nobody->pw_gid) + " --clear-groups '" ZVT_CLI_PATH "' --port '" +
                                port + "' ls 2>&1";
    FILE* p = popen(command.c_str(), "r");
    ASSERT_NE(p, nullptr);
    std::string out;
    char buf[512];
    for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
    const int status = pclose(p);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << out;
    EXPECT_EQ(out, "zvt: Unable to open com port (win error code: 13) (" + port + ")\n" +
                       JoinAdvice(port, "nobody", "dialout") + "\n");
}
