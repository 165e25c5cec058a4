// The command-line client end to end: the real zvt binary against the
// simulated device over a pty.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <random>

#include "core/cp1251.h"
#include "link/cport.h"
#include "flashfs/fat_layout.h"
#include "tests/sim_process.h"
#include "tools/zvt/client.h"

using namespace skarvel;
using namespace skarvel::test;

namespace {

struct ZvtRun {
    int Exit = -1;
    std::string Out, Err;
};

// Starts zvt; Wait collects its output and exit status.
class ZvtProcess {
public:
    explicit ZvtProcess(const std::vector<std::string>& args) {
        int out[2], err[2];
        if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
        pid_ = fork();
        if (pid_ == 0) {
            dup2(out[1], 1);
            dup2(err[1], 2);
            std::vector<char*> argv;
            std::string bin = ZVT_CLI_PATH;
            argv.push_back(bin.data());
            std::vector<std::string> copy = args;
            for (auto& a : copy) argv.push_back(a.data());
            argv.push_back(nullptr);
            execv(bin.c_str(), argv.data());
            _exit(127);
        }
        close(out[1]);
        close(err[1]);
        out_ = out[0];
        err_ = err[0];
    }
    ~ZvtProcess() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        close(out_);
        close(err_);
    }
    ZvtRun Wait() {
        ZvtRun r;
        pollfd fds[2] = {{out_, POLLIN, 0}, {err_, POLLIN, 0}};
        int open = 2;
        while (open > 0) {
            if (poll(fds, 2, 60000) <= 0) break;
            for (auto& f : fds) {
                if (f.fd < 0 || !(f.revents & (POLLIN | POLLHUP))) continue;
                char buf[4096];
                const ssize_t n = read(f.fd, buf, sizeof buf);
                if (n <= 0) {
                    f.fd = -1;
                    --open;
                } else {
                    (f.fd == out_ ? r.Out : r.Err).append(buf, static_cast<size_t>(n));
                }
            }
        }
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = -1;
        r.Exit = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
        return r;
    }

private:
    pid_t pid_ = -1;
    int out_ = -1, err_ = -1;
};

ZvtRun Zvt(const std::string& port, std::vector<std::string> args) {
    args.insert(args.begin(), {"--port", port});
    return ZvtProcess(args).Wait();
}

std::vector<uint8_t> RandomBytes(size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> v(n);
    for (auto& b : v) b = static_cast<uint8_t>(rng());
    return v;
}

// A freshly formatted medium image holding the PC files (name in dir, bytes),
// put there with the real zvt.
void MakeMedium(TempDir& dir, const std::string& image,
                const std::vector<std::pair<std::string, std::vector<uint8_t>>>& files) {
    SimProcess sim({"--image", image});
    ASSERT_EQ(Zvt(sim.PtyPath(), {"format", "--yes"}).Exit, 0);
    std::vector<std::string> put = {"put"};
    for (const auto& [name, bytes] : files) {
        WriteFileBytes(dir.File(name), bytes);
        put.push_back(dir.File(name));
    }
    ASSERT_EQ(Zvt(sim.PtyPath(), put).Exit, 0);
    sim.Stop();
}

}  // namespace

TEST(ZvtCli, FormatPutListGetRemoveRoundTrip) {
    TempDir dir;
    SimProcess sim({"--image", dir.File("medium.img")});
    const std::string port = sim.PtyPath();

    ZvtRun r = Zvt(port, {"format", "--yes"});
    ASSERT_EQ(r.Exit, 0) << r.Err;

    const std::vector<std::pair<std::string, size_t>> files = {
        {"empty.tnc", 0}, {"one.tnc", 1}, {"c2048.iso", 2048}, {"c2049.iso", 2049}, {"big.lst", 100000}};
    std::vector<std::string> putArgs = {"put", "--verify"};
    for (size_t i = 0; i < files.size(); ++i) {
        WriteFileBytes(dir.File(files[i].first), RandomBytes(files[i].second, static_cast<unsigned>(i + 1)));
        putArgs.push_back(dir.File(files[i].first));
    }
    r = Zvt(port, putArgs);
    ASSERT_EQ(r.Exit, 0) << r.Err;
    EXPECT_NE(r.Out.find("big.lst -> big.lst (100000 bytes, verified)"), std::string::npos) << r.Out;

    r = Zvt(port, {"ls"});
    ASSERT_EQ(r.Exit, 0) << r.Err;
    for (const auto& [name, size] : files) {
        std::string upper;
        for (char c : name) upper += static_cast<char>(toupper(static_cast<unsigned char>(c)));
        EXPECT_NE(r.Out.find(upper), std::string::npos) << r.Out;
        EXPECT_NE(r.Out.find(" " + std::to_string(size) + "\n"), std::string::npos) << r.Out;
    }

    const std::string out = dir.File("out");
    ASSERT_EQ(mkdir(out.c_str(), 0755), 0);
    r = Zvt(port, {"get", "EMPTY.TNC", "one.tnc", "C2048.ISO", "C2049.ISO", "BIG.LST", "-C", out});
    ASSERT_EQ(r.Exit, 0) << r.Err;
    for (size_t i = 0; i < files.size(); ++i) {
        std::string upper;
        for (char c : files[i].first) upper += static_cast<char>(toupper(static_cast<unsigned char>(c)));
        EXPECT_EQ(ReadFileBytes(out + "/" + upper), RandomBytes(files[i].second, static_cast<unsigned>(i + 1)))
            << files[i].first;
    }

    r = Zvt(port, {"rm", "ONE.TNC", "BIG.LST"});
    ASSERT_EQ(r.Exit, 0) << r.Err;
    r = Zvt(port, {"ls"});
    ASSERT_EQ(r.Exit, 0) << r.Err;
    EXPECT_EQ(r.Out.find("ONE.TNC"), std::string::npos);
    EXPECT_EQ(r.Out.find("BIG.LST"), std::string::npos);
    EXPECT_NE(r.Out.find("C2049.ISO"), std::string::npos);

    // Errors are the system's texts on stderr with a non-zero status.
    r = Zvt(port, {"get", "NOSUCH.TNC", "-C", out});
    EXPECT_NE(r.Exit, 0);
    EXPECT_NE(r.Err.find("файл не найден"), std::string::npos) << r.Err;
    r = Zvt(port, {"put", dir.File("missing.tnc")});
    EXPECT_NE(r.Exit, 0);
    r = Zvt(port, {"format"});
    EXPECT_EQ(r.Exit, 2);
}

TEST(ZvtCli, TransfersOverTheRealLineAreExactlyTheOperations) {
    TempDir dir;
    {
        // Mounting a blank medium reads sector 0 only; the format that
        // follows identifies nothing more and writes the 32 root sectors,
        // the boot sector and the 5 FAT sectors.
        SimProcess sim({"--image", dir.File("medium.img")});
        ASSERT_EQ(Zvt(sim.PtyPath(), {"format", "--yes"}).Exit, 0);
        sim.Stop();
        EXPECT_NE(sim.Output().find("identify 1, read 1, write 38,"), std::string::npos) << sim.Output();
    }
    {
        // A mount (identify, boot sector, 5 FAT sectors) and a save of one
        // cluster: scan, new entry, the cluster, the size, the FAT.
        SimProcess sim({"--image", dir.File("medium.img")});
        WriteFileBytes(dir.File("a.tnc"), RandomBytes(100, 9));
        ASSERT_EQ(Zvt(sim.PtyPath(), {"put", dir.File("a.tnc")}).Exit, 0);
        sim.Stop();
        EXPECT_NE(sim.Output().find("identify 1, read 14, write 17,"), std::string::npos) << sim.Output();
    }
}

TEST(ZvtCli, MissingPortAndUnformattedMediumAreClearErrors) {
    ZvtRun r = Zvt("/dev/zvt-no-such-port", {"ls"});
    EXPECT_EQ(r.Exit, 1);
    EXPECT_NE(r.Err.find("Unable to open com port (win error code: 2)"), std::string::npos) << r.Err;

    TempDir dir;
    SimProcess sim({"--image", dir.File("blank.img")});
    r = Zvt(sim.PtyPath(), {"ls"});
    EXPECT_EQ(r.Exit, 1);
    EXPECT_NE(r.Err.find("неформатированный носитель"), std::string::npos) << r.Err;
}

// Two programs on one port would take each other's answers: while one holds
// the port, zvt in another process is refused with the busy error.
TEST(ZvtCli, SecondProgramOnThePortGetsTheBusyError) {
    TempDir dir;
    SimProcess sim({"--image", dir.File("medium.img")});
    TMainLoop loop;
    TComPort holder(&loop);
    holder.SetPort(sim.PtyPath());
    holder.Open();
    ZvtRun r = Zvt(sim.PtyPath(), {"format", "--yes"});
    EXPECT_EQ(r.Exit, 1);
    EXPECT_NE(r.Err.find("Unable to open com port (win error code: " + std::to_string(EBUSY) + ")"), std::string::npos)
        << r.Err;
    holder.Close();
    r = Zvt(sim.PtyPath(), {"format", "--yes"});
    EXPECT_EQ(r.Exit, 0) << r.Err;
}

TEST(ZvtCli, NamesFromTheMediumNeverEscapeTheTargetFolder) {
    EXPECT_EQ(SafeLocalName("PROG.TNC"), "PROG.TNC");
    EXPECT_EQ(SafeLocalName("\xCF\xD0\xCE\xC3.TNC"), "ПРОГ.TNC");
    EXPECT_EQ(SafeLocalName(".."), "");
    EXPECT_EQ(SafeLocalName("."), "");
    EXPECT_EQ(SafeLocalName(""), "");
    EXPECT_EQ(SafeLocalName("A/B.TNC"), "");
    EXPECT_EQ(SafeLocalName("A\\B.TNC"), "");
    EXPECT_EQ(SafeLocalName("A\x01.TNC"), "");
    EXPECT_EQ(SafeLocalName("A\x7F.TNC"), "");
}

TEST(ZvtCli, HostileEntryNameOnTheMediumIsRefused) {
    TempDir dir;
    const std::string image = dir.File("medium.img");
    MakeMedium(dir, image, {{"x.tnc", RandomBytes(10, 3)}});
    // Rename the entry on the image to "../X" (slot 0 of the root, sector 6).
    auto img = ReadFileBytes(image);
    std::memcpy(img.data() + 6 * 512, "../X    TNC", 11);
    WriteFileBytes(image, img);

    SimProcess sim({"--image", image});
    const std::string out = dir.File("out");
    ASSERT_EQ(mkdir(out.c_str(), 0755), 0);
    ZvtRun r = Zvt(sim.PtyPath(), {"get", "../X.TNC", "-C", out});
    EXPECT_NE(r.Exit, 0);
    EXPECT_FALSE(r.Err.empty());
    EXPECT_NE(access(dir.File("X.TNC").c_str(), F_OK), 0);
}

TEST(ZvtCli, NamesWithBlanksLoadUnderTheNameShown) {
    TempDir dir;
    const std::string image = dir.File("medium.img");
    const auto mine = RandomBytes(3000, 31);
    const auto theirs = RandomBytes(5000, 30);
    MakeMedium(dir, image, {{"a.txt", theirs}, {"my.txt", mine}});
    // Another system's name with a blank: listed with it, apart from MY.TXT.
    auto img = ReadFileBytes(image);
    std::memcpy(img.data() + 6 * 512, "MY FILE TXT", 11);
    WriteFileBytes(image, img);

    SimProcess sim({"--image", image});
    ZvtRun r = Zvt(sim.PtyPath(), {"ls"});
    ASSERT_EQ(r.Exit, 0) << r.Err;
    EXPECT_NE(r.Out.find("MY FILE.TXT"), std::string::npos) << r.Out;
    const std::string out = dir.File("out");
    ASSERT_EQ(mkdir(out.c_str(), 0755), 0);
    r = Zvt(sim.PtyPath(), {"get", "MY.TXT", "MY FILE.TXT", "-C", out});
    ASSERT_EQ(r.Exit, 0) << r.Err;
    EXPECT_EQ(ReadFileBytes(out + "/MY.TXT"), mine);
    EXPECT_EQ(ReadFileBytes(out + "/MY FILE.TXT"), theirs);
}

TEST(ZvtCli, ForeignAndDamagedMediaAreReportedAndCheckRepairsLostClusters) {
    TempDir dir;
    const std::string image = dir.File("medium.img");
    const auto a = RandomBytes(3000, 40);
    MakeMedium(dir, image, {{"a.tnc", a}, {"b.tnc", RandomBytes(100, 41)}});  // clusters 2, 3 and 4
    const auto good = ReadFileBytes(image);
    const std::string out = dir.File("out");
    ASSERT_EQ(mkdir(out.c_str(), 0755), 0);

    // A 12-bit FAT, as another system names it: refused, never written,
    // and usable again after a format.
    auto fat12 = good;
    fat12[38] = 0x29;
    std::memcpy(fat12.data() + 54, "FAT12   ", 8);
    WriteFileBytes(image, fat12);
    {
        SimProcess sim({"--image", image});
        ZvtRun r = Zvt(sim.PtyPath(), {"put", dir.File("a.tnc")});
        EXPECT_EQ(r.Exit, 1);
        EXPECT_NE(r.Err.find("носитель другого формата; форматирование сделает его пригодным"), std::string::npos)
            << r.Err;
        r = Zvt(sim.PtyPath(), {"check"});
        EXPECT_EQ(r.Exit, 1);
        EXPECT_NE(r.Out.find("12-bit FAT"), std::string::npos) << r.Out;
        EXPECT_EQ(ReadFileBytes(image), fat12);
        ASSERT_EQ(Zvt(sim.PtyPath(), {"format", "--yes"}).Exit, 0);
        r = Zvt(sim.PtyPath(), {"check"});
        EXPECT_EQ(r.Exit, 0) << r.Out;
    }

    // B cross-linked into A's chain: B is damaged, A too while B is there.
    auto cross = good;
    PutU16(cross.data() + 6 * 512 + 32, 26, 3);
    WriteFileBytes(image, cross);
    SimProcess sim({"--image", image});
    ZvtRun r = Zvt(sim.PtyPath(), {"get", "B.TNC", "-C", out});
    EXPECT_EQ(r.Exit, 1);
    EXPECT_NE(r.Err.find("файл на флэш повреждён"), std::string::npos) << r.Err;
    EXPECT_NE(access((out + "/B.TNC").c_str(), F_OK), 0);
    r = Zvt(sim.PtyPath(), {"check"});
    EXPECT_EQ(r.Exit, 1);
    EXPECT_NE(r.Out.find("B.TNC: cross-linked with A.TNC at cluster 3"), std::string::npos) << r.Out;
    EXPECT_NE(r.Out.find("lost clusters: 1 from cluster 4"), std::string::npos) << r.Out;
    r = Zvt(sim.PtyPath(), {"check", "--repair"});  // not while a chain is damaged
    EXPECT_EQ(r.Exit, 1);
    EXPECT_NE(r.Out.find("not repaired"), std::string::npos) << r.Out;
    ASSERT_EQ(Zvt(sim.PtyPath(), {"rm", "B.TNC"}).Exit, 0);
    r = Zvt(sim.PtyPath(), {"check", "--repair"});
    EXPECT_EQ(r.Exit, 0) << r.Out;
    EXPECT_NE(r.Out.find("repaired: 1 lost clusters freed"), std::string::npos) << r.Out;
    ASSERT_EQ(Zvt(sim.PtyPath(), {"get", "A.TNC", "-C", out}).Exit, 0);
    EXPECT_EQ(ReadFileBytes(out + "/A.TNC"), a);
    EXPECT_EQ(Zvt(sim.PtyPath(), {"check"}).Exit, 0);
    EXPECT_EQ(Zvt(sim.PtyPath(), {"check", "extra"}).Exit, 2);
}

TEST(ZvtCli, SimulatorKilledDuringPutLeavesAClearErrorAndAUsableVolume) {
    TempDir dir;
    const std::string image = dir.File("medium.img");
    const auto keep = RandomBytes(5000, 42);
    MakeMedium(dir, image, {{"keep.tnc", keep}});
    {
        // The put is under way once its new entry has reached the root
        // directory (sectors 6..9); the paced line makes the rest take
        // seconds, so the kill lands inside it however slowly zvt started.
        auto root = [&image] {
            std::string bytes(4 * 512, '\0');
            std::ifstream f(image, std::ios::binary);
            f.seekg(6 * 512);
            f.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
            return bytes;
        };
        const std::string rootBefore = root();
        SimProcess sim({"--image", image, "--baud", "115200"});
        WriteFileBytes(dir.File("big.tnc"), RandomBytes(60000, 7));
        ZvtProcess put({"--port", sim.PtyPath(), "put", dir.File("big.tnc")});
        for (int i = 0; i < 3000 && root() == rootBefore; ++i) usleep(20 * 1000);
        sim.Kill();
        ZvtRun r = put.Wait();
        EXPECT_NE(r.Exit, 0);
        EXPECT_NE(r.Err.find("Ошибка записи файла"), std::string::npos) << r.Err;
    }
    SimProcess sim({"--image", image});
    const std::string out = dir.File("out");
    ASSERT_EQ(mkdir(out.c_str(), 0755), 0);
    ZvtRun r = Zvt(sim.PtyPath(), {"get", "KEEP.TNC", "-C", out});
    ASSERT_EQ(r.Exit, 0) << r.Err;
    EXPECT_EQ(ReadFileBytes(out + "/KEEP.TNC"), keep);
}
