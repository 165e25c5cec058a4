// The command-line client end to end: the real zvt binary against the
// simulated device over a pty.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>

#include "core/journal.h"
#include "core/sha256.h"
#include "core/user_env.h"
#include "flashfs/fat_layout.h"
#include "link/cport.h"
#include "tests/sim_process.h"
#include "tools/zvt/client.h"
#include "tools/zvt/commands.h"

using namespace skarvel;
using namespace skarvel::test;

#define EXPECT_HAS(text, part) EXPECT_NE((text).find(part), std::string::npos) << (text)

namespace {

struct ZvtRun {
    int Exit = -1;
    std::string Out, Err;
};

// Starts zvt with its stdout and stderr in scratch files; Wait reaps it.
class ZvtProcess {
public:
    explicit ZvtProcess(std::vector<std::string> args) {
        args.insert(args.begin(), ZVT_CLI_PATH);
        pid_ = fork();
        if (pid_ == 0) {
            dup2(fileno(out_), 1);
            dup2(fileno(err_), 2);
            std::vector<char*> argv;
            for (auto& a : args) argv.push_back(a.data());
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
    }
    ~ZvtProcess() {
        if (pid_ > 0) kill(pid_, SIGKILL), waitpid(pid_, nullptr, 0);
        std::fclose(out_);
        std::fclose(err_);
    }
    void Kill(int sig) { kill(pid_, sig); }
    ZvtRun Wait() {
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = -1;
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status), Text(out_), Text(err_)};
    }

private:
    static std::string Text(FILE* f) {
        std::string s;
        std::rewind(f);
        for (int c; (c = std::fgetc(f)) != EOF;) s += static_cast<char>(c);
        return s;
    }
    pid_t pid_ = -1;
    FILE* out_ = std::tmpfile();
    FILE* err_ = std::tmpfile();
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

// A scratch folder with an empty "out" folder to load into and the image.
class ZvtCli : public testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(mkdir(out.c_str(), 0755), 0); }

    // Formats the image and puts the PC files (name in dir, bytes) there with the real zvt.
    void MakeMedium(const std::vector<std::pair<std::string, std::vector<uint8_t>>>& files) {
        SimProcess sim({"--image", image});
        ASSERT_EQ(Zvt(sim.PtyPath(), {"format", "--yes"}).Exit, 0);
        if (files.empty()) return;
        std::vector<std::string> put = {"put"};
        for (const auto& [name, bytes] : files) {
            WriteFileBytes(dir.File(name), bytes);
            put.push_back(dir.File(name));
        }
        ASSERT_EQ(Zvt(sim.PtyPath(), put).Exit, 0);
    }
    // Renames the entry in slot 0 of the root (sector 6) on the image.
    void RenameFirstEntry(const char* name11) {
        auto img = ReadFileBytes(image);
        std::memcpy(img.data() + 6 * 512, name11, 11);
        WriteFileBytes(image, img);
    }

    TempDir dir;
    const std::string out = dir.File("out");
    const std::string image = dir.File("medium.img");
};

}  // namespace

TEST_F(ZvtCli, FormatPutListGetRemoveRoundTrip) {
    SimProcess sim({"--image", image});
    const std::string port = sim.PtyPath();
    ZvtRun r = Zvt(port, {"format", "--yes"});
    ASSERT_EQ(r.Exit, 0) << r.Err;

    struct File {
        std::string pc, medium;
        std::vector<uint8_t> bytes;
    };
    std::vector<File> files = {{"empty.tnc", "EMPTY.TNC", {}},
                               {"one.tnc", "ONE.TNC", RandomBytes(1, 2)},
                               {"c2048.iso", "C2048.ISO", RandomBytes(2048, 3)},
                               {"c2049.iso", "C2049.ISO", RandomBytes(2049, 4)},
                               {"big.lst", "BIG.LST", RandomBytes(100000, 5)}};
    std::vector<std::string> putArgs = {"put", "--verify"};
    for (const File& f : files) {
        WriteFileBytes(dir.File(f.pc), f.bytes);
        putArgs.push_back(dir.File(f.pc));
    }
    r = Zvt(port, putArgs);
    ASSERT_EQ(r.Exit, 0) << r.Err;
    EXPECT_HAS(r.Out, "big.lst -> BIG.LST (100000 байт, проверен)");

    r = Zvt(port, {"ls"});
    ASSERT_EQ(r.Exit, 0) << r.Err;
    for (const File& f : files) {
        EXPECT_HAS(r.Out, f.medium);
        EXPECT_HAS(r.Out, " " + std::to_string(f.bytes.size()) + "\n");
    }

    r = Zvt(port, {"get", "EMPTY.TNC", "one.tnc", "C2048.ISO", "C2049.ISO", "BIG.LST", "-C", out});
    ASSERT_EQ(r.Exit, 0) << r.Err;
    for (const File& f : files) EXPECT_EQ(ReadFileBytes(out + "/" + f.medium), f.bytes) << f.pc;

    ASSERT_EQ(Zvt(port, {"rm", "ONE.TNC", "BIG.LST"}).Exit, 0);
    r = Zvt(port, {"ls"});
    ASSERT_EQ(r.Exit, 0) << r.Err;
    EXPECT_EQ(r.Out.find("ONE.TNC"), std::string::npos);
    EXPECT_EQ(r.Out.find("BIG.LST"), std::string::npos);
    EXPECT_HAS(r.Out, "C2049.ISO");

    // Errors are the system's texts on stderr with a non-zero status.
    r = Zvt(port, {"get", "NOSUCH.TNC", "-C", out});
    EXPECT_NE(r.Exit, 0);
    EXPECT_HAS(r.Err, "файл не найден");
    EXPECT_NE(Zvt(port, {"put", dir.File("missing.tnc")}).Exit, 0);
    EXPECT_EQ(Zvt(port, {"format"}).Exit, 2);
}

// put --replace gives an existing name new contents, put without it leaves
// the name alone; get overwrites a PC file as cp does, get -n keeps it.
TEST_F(ZvtCli, ReplaceOnTheMediumAndNoClobberOnThePc) {
    SimProcess sim({"--image", image});
    const std::string port = sim.PtyPath();
    ASSERT_EQ(Zvt(port, {"format", "--yes"}).Exit, 0);
    const auto v1 = RandomBytes(5000, 1), v2 = RandomBytes(9000, 2), edited = RandomBytes(10, 3);
    const std::string prog = dir.File("prog.tnc");
    const std::string local = out + "/PROG.TNC";
    WriteFileBytes(prog, v1);
    ASSERT_EQ(Zvt(port, {"put", prog}).Exit, 0);
    WriteFileBytes(prog, v2);

    const struct {
        const char* What;
        std::vector<std::string> Args;
        int Exit;
        const char* Said;  // on stdout (exit 0) or stderr
        std::vector<uint8_t> OnMedium, OnPc;
    } steps[] = {
        {"put without --replace", {"put", prog}, 1, "файл с этим именем уже существует", v1, {}},
        {"put --replace --verify", {"put", "--replace", "--verify", prog}, 0, "(9000 байт, заменён, проверен)", v2, {}},
        {"get", {"get", "PROG.TNC", "-C", out}, 0, "PROG.TNC", v2, v2},
        {"get -n onto an edited file", {"get", "-n", "PROG.TNC", "-C", out}, 0, "уже есть, не загружен", v2, edited},
        {"get --no-clobber", {"get", "--no-clobber", "PROG.TNC", "-C", out}, 0, "не загружен", v2, edited},
        {"get onto it again", {"get", "PROG.TNC", "-C", out}, 0, "PROG.TNC", v2, v2},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.What);
        if (step.OnPc == edited) WriteFileBytes(local, edited);
        const ZvtRun r = Zvt(port, step.Args);
        EXPECT_EQ(r.Exit, step.Exit) << r.Err;
        EXPECT_HAS(step.Exit == 0 ? r.Out : r.Err, step.Said);
        if (!step.OnPc.empty()) {
            EXPECT_EQ(ReadFileBytes(local), step.OnPc);
        }
        const std::string copy = dir.File("copy");
        ASSERT_EQ(mkdir(copy.c_str(), 0755) == 0 || errno == EEXIST, true);
        ASSERT_EQ(Zvt(port, {"get", "PROG.TNC", "-C", copy}).Exit, 0);
        EXPECT_EQ(ReadFileBytes(copy + "/PROG.TNC"), step.OnMedium);
    }
    const ZvtRun check = Zvt(port, {"check"});
    EXPECT_EQ(check.Exit, 0) << check.Out << check.Err;
}

// What zvt says about its command line, in the language of its other
// texts: the usage fits an 80-column console, and each mistake is named
// with its exit status (2 for usage, 1 for a failed operation).
TEST_F(ZvtCli, CommandLineMistakesAreNamedInRussian) {
    ZvtRun help = ZvtProcess({"--help"}).Wait();
    ASSERT_EQ(help.Exit, 0) << help.Err;
    EXPECT_EQ(help.Out.rfind("использование: zvt [--port ИМЯ | --image ОБРАЗ] [--baud N] КОМАНДА", 0), 0u) << help.Out;
    for (size_t at = 0, end; (end = help.Out.find('\n', at)) != std::string::npos; at = end + 1)
        EXPECT_LE(zvtcmd::Utf8Length(help.Out.substr(at, end - at)), 79u) << help.Out.substr(at, end - at);

    SimProcess sim({"--image", image});
    ASSERT_EQ(Zvt(sim.PtyPath(), {"format", "--yes"}).Exit, 0);
    WriteFileBytes(dir.File("file.tnc"), RandomBytes(10, 1));
    const struct {
        std::vector<std::string> args;
        int exit;
        std::string err;
    } cases[] = {
        {{"bogus"}, 2, "zvt: неизвестная команда: bogus\nиспользование: zvt"},
        {{"--baud", "fast", "ls"}, 2, "zvt: неверная скорость линии: fast\n"},
        {{"ls", "extra"}, 2, "zvt: ls: лишний аргумент extra\n"},
        {{"format"}, 2, "zvt: format стирает все файлы на носителе; чтобы продолжить, повторите команду с --yes\n"},
        {{"get"}, 2, "zvt: get: не указаны имена файлов\n"},
        {{"rm"}, 2, "zvt: rm: не указаны имена файлов\n"},
        {{"backup"}, 2, "zvt: backup: нужен один файл образа\n"},
        {{"restore", "a.img", "b.img", "--yes"}, 2, "zvt: restore: нужен один файл образа\n"},
        {{"restore", dir.File("file.tnc")}, 2, "zvt: restore заменяет всё, что есть на носителе, содержимым образа"},
        {{"cat"}, 2, "zvt: cat: не указаны имена файлов\n"},
        {{"diff"}, 2, "zvt: diff: не указана папка\n"},
        {{"diff", "a", "b"}, 2, "zvt: diff: лишний аргумент b\n"},
        {{"diff", dir.File("none")}, 1, "zvt: " + dir.File("none") + ": папка не найдена\n"},
        {{"diff", dir.File("file.tnc")}, 1, "zvt: " + dir.File("file.tnc") + ": это не папка\n"},
        {{"put", dir.File("none.tnc")}, 1, "zvt: " + dir.File("none.tnc") + ": нет такого файла или папки\n"},
        {{"get", "X.TNC", "-C", dir.File("file.tnc")}, 1, "zvt: " + dir.File("file.tnc") + ": это не папка\n"},
        {{"get", "X.TNC", "-C", dir.File("none")}, 1, "zvt: " + dir.File("none") + ": папка не найдена\n"},
    };
    for (const auto& c : cases) {
        ZvtRun r = Zvt(sim.PtyPath(), c.args);
        EXPECT_EQ(r.Exit, c.exit) << c.args.front();
        EXPECT_EQ(r.Err.rfind(c.err, 0), 0u) << r.Err;
        EXPECT_EQ(r.Out, "");
    }
}

// cat hands a file's bytes to a pipe as they are; diff prints one line per
// file and tells by its exit status whether the folder holds the medium's
// programs as they are.
TEST_F(ZvtCli, CatWritesTheBytesAndDiffJudgesTheFolder) {
    std::vector<uint8_t> binary = {'N', '1', '\r', '\n', 0, 0x1A, 0xE4, 0x98, '\n'};
    const std::vector<uint8_t> big = RandomBytes(70000, 7);
    MakeMedium({{"prog.tnc", binary}, {"longprogram.iso", {'L'}}, {"big.lst", big}});
    SimProcess sim({"--image", image});
    const std::string port = sim.PtyPath();

    ZvtRun r = Zvt(port, {"cat", "PROG.TNC"});
    ASSERT_EQ(r.Exit, 0) << r.Err;
    EXPECT_EQ(r.Out, std::string(binary.begin(), binary.end()));
    r = Zvt(port, {"cat", "big.lst", "LONGPR~1.ISO"});
    ASSERT_EQ(r.Exit, 0) << r.Err;
    EXPECT_EQ(r.Out, std::string(big.begin(), big.end()) + "L");
    r = Zvt(port, {"cat", "PROG.TNC", "NONE.TNC"});
    EXPECT_EQ(r.Exit, 1);
    EXPECT_EQ(r.Err, "zvt: NONE.TNC: файл не найден\n");

    // The folder: prog.tnc as written, the long name under its own name
    // but changed, a program the medium lacks and a file that is no program.
    const std::string pc = dir.File("pc");
    ASSERT_EQ(mkdir(pc.c_str(), 0755), 0);
    WriteFileBytes(pc + "/Prog.TNC", binary);
    WriteFileBytes(pc + "/longprogram.iso", {'M'});
    WriteFileBytes(pc + "/new part.lst", {'n'});
    WriteFileBytes(pc + "/notes.txt", {'t'});
    r = Zvt(port, {"diff", pc});
    EXPECT_EQ(r.Exit, 1) << r.Err;
    EXPECT_EQ(r.Out,
              "PROG.TNC     совпадает  Prog.TNC\n"
              "LONGPR~1.ISO отличается longprogram.iso\n"
              "BIG.LST      нет на ПК\n"
              "NEWPAR~1.LST нет на ZVT new part.lst\n");
    EXPECT_EQ(r.Err, "");

    // Everything in place: status 0; files of other types do not count.
    WriteFileBytes(pc + "/longprogram.iso", {'L'});
    WriteFileBytes(pc + "/big.lst", big);
    ASSERT_EQ(unlink((pc + "/new part.lst").c_str()), 0);
    r = Zvt(port, {"diff", pc});
    EXPECT_EQ(r.Exit, 0) << r.Out << r.Err;
    EXPECT_EQ(r.Out,
              "PROG.TNC     совпадает  Prog.TNC\n"
              "LONGPR~1.ISO совпадает  longprogram.iso\n"
              "BIG.LST      совпадает  big.lst\n");

    // A PC file that cannot be read is named, not taken for a difference.
    if (geteuid() != 0) {
        ASSERT_EQ(chmod((pc + "/big.lst").c_str(), 0), 0);
        r = Zvt(port, {"diff", pc});
        EXPECT_EQ(r.Exit, 1);
        EXPECT_HAS(r.Out, "BIG.LST      ошибка     ");
    }
}

// Counts read as Russian puts them: the word's form follows the number.
TEST(ZvtTexts, CountsTakeTheWordFormTheirNumberNeeds) {
    const std::pair<uint64_t, const char*> cases[] = {
        {0, "0 байт"},     {1, "1 байт"},     {2, "2 байта"},     {4, "4 байта"},         {5, "5 байт"},
        {11, "11 байт"},   {12, "12 байт"},   {14, "14 байт"},    {21, "21 байт"},        {22, "22 байта"},
        {101, "101 байт"}, {111, "111 байт"}, {112, "112 байт"},  {1024, "1024 байта"},   {2097152, "2097152 байта"},
    };
    for (const auto& [n, text] : cases) EXPECT_EQ(zvtcmd::BytesText(n), text);
    EXPECT_EQ(zvtcmd::CountOf(3, "кластер", "кластера", "кластеров"), "3 кластера");
    EXPECT_EQ(zvtcmd::CountOf(25, "кластер", "кластера", "кластеров"), "25 кластеров");
}

TEST_F(ZvtCli, TransfersOverTheRealLineAreExactlyTheOperations) {
    // Mounting a blank medium reads sector 0 only; the format that follows
    // identifies nothing more and writes the 32 root sectors, the boot
    // sector and the 5 FAT sectors. Then a mount (identify, boot sector, 5
    // FAT sectors) and a save of one cluster: scan, new entry, the cluster,
    // the size, the FAT.
    WriteFileBytes(dir.File("a.tnc"), RandomBytes(100, 9));
    const std::pair<std::vector<std::string>, const char*> steps[] = {
        {{"format", "--yes"}, "identify 1, read 1, write 38,"},
        {{"put", dir.File("a.tnc")}, "identify 1, read 14, write 17,"}};
    for (const auto& [args, counts] : steps) {
        SimProcess sim({"--image", image});
        ASSERT_EQ(Zvt(sim.PtyPath(), args).Exit, 0);
        sim.Stop();
        EXPECT_HAS(sim.Output(), counts);
    }
}

// Two programs on one port would take each other's answers: while one holds
// the port, zvt in another process is refused with the busy error, as a
// missing port is with its own, and the refused format writes nothing.
TEST_F(ZvtCli, PortErrorsAndUnformattedMediumAreClearErrors) {
    SimProcess sim({"--image", image});
    TMainLoop loop;
    TComPort holder(&loop);
    holder.SetPort(sim.PtyPath());
    holder.Open();
    for (const auto& [port, code] : {std::pair<std::string, int>{"/dev/zvt-no-such-port", 2}, {sim.PtyPath(), EBUSY}}) {
        ZvtRun r = Zvt(port, {"format", "--yes"});
        EXPECT_EQ(r.Exit, 1);
        EXPECT_HAS(r.Err, "Unable to open com port (win error code: " + std::to_string(code) + ")");
    }
    holder.Close();
    ZvtRun r = Zvt(sim.PtyPath(), {"ls"});
    EXPECT_EQ(r.Exit, 1);
    EXPECT_HAS(r.Err, "неформатированный носитель");
    // Another device on the port is named by the code it gave.
    SimProcess other({"--device-code", "0x2D"});
    r = Zvt(other.PtyPath(), {"info"});
    EXPECT_EQ(r.Exit, 1);
    EXPECT_HAS(r.Err, "неизвестный код устройства 0x2D (у ZVT код 0x2C)");
}

TEST_F(ZvtCli, HostileEntryNameOnTheMediumIsRefused) {
    MakeMedium({{"x.tnc", RandomBytes(10, 3)}});
    RenameFirstEntry("../X    TNC");
    SimProcess sim({"--image", image});
    ZvtRun r = Zvt(sim.PtyPath(), {"get", "../X.TNC", "-C", out});
    EXPECT_NE(r.Exit, 0);
    EXPECT_FALSE(r.Err.empty());
    EXPECT_NE(access(dir.File("X.TNC").c_str(), F_OK), 0);
}

TEST_F(ZvtCli, NamesWithBlanksLoadUnderTheNameShown) {
    const auto mine = RandomBytes(3000, 31), theirs = RandomBytes(5000, 30);
    MakeMedium({{"a.txt", theirs}, {"my.txt", mine}});
    // Another system's name with a blank: listed with it, apart from MY.TXT.
    RenameFirstEntry("MY FILE TXT");
    SimProcess sim({"--image", image});
    ZvtRun r = Zvt(sim.PtyPath(), {"ls"});
    ASSERT_EQ(r.Exit, 0) << r.Err;
    EXPECT_HAS(r.Out, "MY FILE.TXT");
    r = Zvt(sim.PtyPath(), {"get", "MY.TXT", "MY FILE.TXT", "-C", out});
    ASSERT_EQ(r.Exit, 0) << r.Err;
    EXPECT_EQ(ReadFileBytes(out + "/MY.TXT"), mine);
    EXPECT_EQ(ReadFileBytes(out + "/MY FILE.TXT"), theirs);
}

TEST_F(ZvtCli, ForeignAndDamagedMediaAreReportedAndCheckRepairsLostClusters) {
    const auto a = RandomBytes(3000, 40);
    MakeMedium({{"a.tnc", a}, {"b.tnc", RandomBytes(100, 41)}});  // clusters 2, 3 and 4
    const auto good = ReadFileBytes(image);

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
        EXPECT_HAS(r.Err, "носитель другого формата; форматирование сделает его пригодным");
        r = Zvt(sim.PtyPath(), {"check"});
        EXPECT_EQ(r.Exit, 1);
        EXPECT_HAS(r.Out, "12-битная FAT");
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
    EXPECT_HAS(r.Err, "файл на флэш повреждён");
    EXPECT_NE(access((out + "/B.TNC").c_str(), F_OK), 0);
    r = Zvt(sim.PtyPath(), {"check"});
    EXPECT_EQ(r.Exit, 1);
    EXPECT_HAS(r.Out, "B.TNC: цепочка пересекается с A.TNC в кластере 3");
    EXPECT_HAS(r.Out, "потерянные кластеры: 1, начиная с кластера 4");
    r = Zvt(sim.PtyPath(), {"check", "--repair"});  // not while a chain is damaged
    EXPECT_EQ(r.Exit, 1);
    EXPECT_HAS(r.Out, "не исправлено");
    ASSERT_EQ(Zvt(sim.PtyPath(), {"rm", "B.TNC"}).Exit, 0);
    r = Zvt(sim.PtyPath(), {"check", "--repair"});
    EXPECT_EQ(r.Exit, 0) << r.Out;
    EXPECT_HAS(r.Out, "исправлено: освобождено потерянных кластеров: 1");
    ASSERT_EQ(Zvt(sim.PtyPath(), {"get", "A.TNC", "-C", out}).Exit, 0);
    EXPECT_EQ(ReadFileBytes(out + "/A.TNC"), a);
    EXPECT_EQ(Zvt(sim.PtyPath(), {"check"}).Exit, 0);
    EXPECT_EQ(Zvt(sim.PtyPath(), {"check", "extra"}).Exit, 2);
}

TEST_F(ZvtCli, SimulatorKilledDuringPutLeavesAClearErrorAndAUsableVolume) {
    const auto keep = RandomBytes(5000, 42);
    MakeMedium({{"keep.tnc", keep}});
    {
        // The put is under way once its new entry has reached the root
        // directory (sectors 6..9); the paced line makes the rest take
        // seconds, so the kill lands inside it however slowly zvt started.
        auto root = [this] {
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
        EXPECT_HAS(r.Err, "Ошибка записи файла");
    }
    SimProcess sim({"--image", image});
    ZvtRun r = Zvt(sim.PtyPath(), {"get", "KEEP.TNC", "-C", out});
    ASSERT_EQ(r.Exit, 0) << r.Err;
    EXPECT_EQ(ReadFileBytes(out + "/KEEP.TNC"), keep);
}

// A name another system wrote in its own code page (here a DOS name whose
// 0x98 is no character of code page 1251) is listed with that byte as
// \x98, taken in that form by get and rm, loaded under %98, and named by
// check. Columns of ls line up by characters, Cyrillic names too.
TEST_F(ZvtCli, NamesOfAnotherCodePageAreShownEscapedAndTakenSo) {
    const auto bytes = RandomBytes(700, 50);
    MakeMedium({{"n23.nc", bytes}, {"\xD0\x9F\xD0\xA0\xD0\x9E\xD0\x93.TNC", RandomBytes(12345, 51)}});
    RenameFirstEntry("N23\x98    NC ");
    SimProcess sim({"--image", image});
    ZvtRun r = Zvt(sim.PtyPath(), {"ls"});
    ASSERT_EQ(r.Exit, 0) << r.Err;
    EXPECT_HAS(r.Out, "N23\\x98.NC          700\n");
    EXPECT_HAS(r.Out, "ПРОГ.TNC          12345\n");
    r = Zvt(sim.PtyPath(), {"check"});
    EXPECT_EQ(r.Exit, 0) << r.Out;
    EXPECT_HAS(r.Out, "примечание: N23\\x98.NC: в имени есть байты");
    r = Zvt(sim.PtyPath(), {"get", "N23\\x98.NC", "-C", out});
    ASSERT_EQ(r.Exit, 0) << r.Err;
    EXPECT_EQ(ReadFileBytes(out + "/N23%98.NC"), bytes);
    r = Zvt(sim.PtyPath(), {"get", "N23\\x9.NC", "-C", out});
    EXPECT_EQ(r.Exit, 1);
    EXPECT_HAS(r.Err, "ошибка в имени файла");
    ASSERT_EQ(Zvt(sim.PtyPath(), {"rm", "n23\\x98.nc"}).Exit, 0);
    r = Zvt(sim.PtyPath(), {"ls"});
    EXPECT_EQ(r.Out.find("N23"), std::string::npos) << r.Out;
}

// A root directory that holds its 512 entries says so, although clusters
// are free; the put goes on to its next file and fails it the same way.
TEST_F(ZvtCli, FullRootDirectoryHasItsOwnMessage) {
    MakeMedium({});
    auto img = ReadFileBytes(image);
    for (int i = 0; i < 512; ++i) {
        char name[12];
        std::snprintf(name, sizeof name, "E%03d    TNC", i);
        std::memcpy(img.data() + 6 * 512 + i * 32, name, 11);  // empty files of another system
    }
    WriteFileBytes(image, img);
    WriteFileBytes(dir.File("a.tnc"), RandomBytes(10, 1));
    WriteFileBytes(dir.File("b.tnc"), RandomBytes(10, 2));
    SimProcess sim({"--image", image});
    ZvtRun r = Zvt(sim.PtyPath(), {"put", dir.File("a.tnc"), dir.File("b.tnc")});
    EXPECT_EQ(r.Exit, 1);
    EXPECT_HAS(r.Err, "Ошибка записи файла " + dir.File("a.tnc") + ": корневой каталог заполнен (512 записей)");
    EXPECT_HAS(r.Err, "Ошибка записи файла " + dir.File("b.tnc") + ": корневой каталог заполнен (512 записей)");
    EXPECT_EQ(r.Err.find("недостаточно места"), std::string::npos) << r.Err;
}

// PC inputs whose size or kind lies: a named pipe and a folder are refused
// before the port is taken (here another program holds it, and the errors
// are theirs, not the port's), a file in /proc is read to its end, a file
// larger than the free space is refused before it is read, and the files
// after each such one are written.
TEST_F(ZvtCli, PcInputsAreReadForWhatTheyAre) {
    const std::string fifo = dir.File("pipe.tnc");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
    {
        SimProcess sim({"--image", image});
        TMainLoop loop;
        TComPort holder(&loop);
        holder.SetPort(sim.PtyPath());
        holder.Open();
        ZvtRun r = Zvt(sim.PtyPath(), {"put", fifo, out});
        EXPECT_EQ(r.Exit, 1);
        EXPECT_HAS(r.Err, fifo + ": это именованный канал, а не обычный файл");
        EXPECT_HAS(r.Err, out + ": это папка, а не файл");
        EXPECT_EQ(r.Err.find("Unable to open com port"), std::string::npos) << r.Err;
    }
    MakeMedium({});
    const std::string big = dir.File("big.tnc");
    {
        std::ofstream f(big, std::ios::binary);
        f.seekp(3 * 1024 * 1024 - 1);
        f.put('\0');
    }
    const auto after = RandomBytes(2000, 60);
    WriteFileBytes(dir.File("after.tnc"), after);
    SimProcess sim({"--image", image});
    ZvtRun r = Zvt(sim.PtyPath(), {"put", fifo, "/proc/version", big, dir.File("after.tnc")});
    EXPECT_EQ(r.Exit, 1);
    EXPECT_HAS(r.Err, "pipe.tnc: это именованный канал");
    EXPECT_HAS(r.Err, "Ошибка записи файла " + big + ": недостаточно места на флэш (свободно ");
    EXPECT_HAS(r.Out, "after.tnc -> AFTER.TNC (2000 байт)");
    r = Zvt(sim.PtyPath(), {"get", "VERSION", "AFTER.TNC", "-C", out});
    ASSERT_EQ(r.Exit, 0) << r.Err;
    std::ifstream v("/proc/version", std::ios::binary);
    const std::string version((std::istreambuf_iterator<char>(v)), std::istreambuf_iterator<char>());
    ASSERT_FALSE(version.empty());
    EXPECT_EQ(ReadFileBytes(out + "/VERSION"), std::vector<uint8_t>(version.begin(), version.end()));
    EXPECT_EQ(ReadFileBytes(out + "/AFTER.TNC"), after);
}

// The real binary against a device that answers late: the last answer of
// zvt info comes after info has resent its command and exited; a get killed
// in the middle leaves an answer on its way too. The run after each loads
// exactly (the clients in-process meet the same many more times in
// test_late_answers.cpp).
TEST_F(ZvtCli, LateAnswersOfAnEarlierRunNeverReachTheNext) {
    const auto big = RandomBytes(300 * 1024, 70);
    MakeMedium({{"big.tnc", big}});
    // A mount: identify, the boot sector and the 5 FAT sectors.
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        SimProcess sim({"--image", image, "--late-answer", "7", "--late-ms", "600"});
        ZvtRun r = Zvt(sim.PtyPath(), {"info"});
        ASSERT_EQ(r.Exit, 0) << r.Err;
        r = Zvt(sim.PtyPath(), {"get", "BIG.TNC", "-C", out});
        ASSERT_EQ(r.Exit, 0) << r.Err;
        EXPECT_EQ(ReadFileBytes(out + "/BIG.TNC"), big);
        unlink((out + "/BIG.TNC").c_str());
    }
    for (const int sig : {SIGKILL, SIGINT}) {
        SCOPED_TRACE(sig == SIGKILL ? "killed" : "interrupted");
        SimProcess sim({"--image", image, "--p-late", "0.005", "--seed", std::to_string(sig)});
        ZvtProcess get({"--port", sim.PtyPath(), "get", "BIG.TNC", "-C", out});
        usleep(1500 * 1000);  // the open's settling done, the load under way
        get.Kill(sig);
        const ZvtRun killed = get.Wait();
        if (sig == SIGINT) {
            // Ends in order: the line settled, nothing half loaded.
            EXPECT_TRUE(killed.Exit == 130 || killed.Exit == 0) << killed.Exit << killed.Err;
            if (killed.Exit == 130) {
                EXPECT_HAS(killed.Err, "прервано (сигнал 2)");
            }
        }
        if (killed.Exit != 0) {
            EXPECT_NE(access((out + "/BIG.TNC").c_str(), F_OK), 0);
        }
        ZvtRun r = Zvt(sim.PtyPath(), {"get", "BIG.TNC", "-C", out});
        ASSERT_EQ(r.Exit, 0) << r.Err;
        EXPECT_EQ(ReadFileBytes(out + "/BIG.TNC"), big);
        unlink((out + "/BIG.TNC").c_str());
    }
}

// ---------------------------------------------------------------- images and the journal

namespace {

// Replaces every occurrence of what in text.
std::string Replaced(std::string text, const std::string& what, const std::string& with) {
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + with.size()))
        text.replace(at, what.size(), with);
    return text;
}

// The journal's entries at path.
std::vector<TJournalEntry> JournalAt(const std::string& path) {
    std::vector<TJournalEntry> entries;
    size_t damaged = 0;
    std::string error;
    EXPECT_TRUE(ReadJournal(path, entries, damaged, error)) << error;
    EXPECT_EQ(damaged, 0u);
    return entries;
}

// Points the journal of the zvt runs this test starts at path, and back.
struct TJournalFor {
    std::string Old = EnvironmentValue("SKARVEL_JOURNAL");
    explicit TJournalFor(const std::string& path) { setenv("SKARVEL_JOURNAL", path.c_str(), 1); }
    ~TJournalFor() { setenv("SKARVEL_JOURNAL", Old.c_str(), 1); }
};

}  // namespace

// Every command of zvt on an image file does what it does on the device
// holding a copy of that image: the same status, the same output, the same
// bytes on the medium afterwards and the same journal.
TEST_F(ZvtCli, EveryCommandOnAnImageAsOnTheDevice) {
    MakeMedium({{"keep.tnc", RandomBytes(5000, 1)}, {"gone.tnc", RandomBytes(70000, 2)}});
    struct TSide {
        std::string Dir, Image, Journal;
    };
    TSide sides[2];
    for (int s = 0; s < 2; ++s) {
        sides[s].Dir = dir.File(s == 0 ? "file" : "device");
        ASSERT_EQ(mkdir(sides[s].Dir.c_str(), 0755), 0);
        ASSERT_EQ(mkdir((sides[s].Dir + "/out").c_str(), 0755), 0);
        sides[s].Image = sides[s].Dir + "/medium.img";
        sides[s].Journal = sides[s].Dir + "/journal.log";
        WriteFileBytes(sides[s].Image, ReadFileBytes(image));
        WriteFileBytes(sides[s].Dir + "/new.tnc", RandomBytes(30000, 3));
    }
    SimProcess sim({"--image", sides[1].Image});
    // "@" stands for the side's folder.
    const std::vector<std::vector<std::string>> commands = {
        {"info"},
        {"ls"},
        {"put", "--verify", "@/new.tnc"},
        {"put", "@/new.tnc"},  // taken: fails
        {"get", "KEEP.TNC", "NEW.TNC", "-C", "@/out"},
        {"get", "NOSUCH.TNC", "-C", "@/out"},
        {"cat", "KEEP.TNC"},
        {"diff", "@"},
        {"rm", "GONE.TNC"},
        {"check"},
        {"backup", "@/backup.img"},
        {"format", "--yes"},
        {"ls"},
        {"restore", "@/backup.img", "--yes"},
        {"restore", "@/new.tnc", "--yes"},  // no image: refused
        {"ls"},
        {"log", "new.tnc"},
    };
    for (const auto& command : commands) {
        ZvtRun runs[2];
        for (int s = 0; s < 2; ++s) {
            TJournalFor journal(sides[s].Journal);
            std::vector<std::string> args;
            if (s == 0) args = {"--image", sides[0].Image};
            else args = {"--port", sim.PtyPath()};
            for (const std::string& a : command) args.push_back(Replaced(a, "@", sides[s].Dir));
            runs[s] = ZvtProcess(args).Wait();
            runs[s].Out = Replaced(Replaced(runs[s].Out, sides[s].Dir, "@"), sim.PtyPath(), "образ @/medium.img");
            runs[s].Err = Replaced(runs[s].Err, sides[s].Dir, "@");
            // The journal's lines differ in their time only.
            if (command.front() == "log") {
                std::string untimed;
                for (size_t at = 0; at < runs[s].Out.size();) {
                    const size_t end = runs[s].Out.find('\n', at);
                    const std::string line = runs[s].Out.substr(at, end - at);
                    untimed += line.substr(line.find('\t') + 1) + "\n";
                    at = end == std::string::npos ? runs[s].Out.size() : end + 1;
                }
                runs[s].Out = untimed;
            }
        }
        const std::string what = command.front() + (command.size() > 1 ? " " + command[1] : "");
        EXPECT_EQ(runs[0].Exit, runs[1].Exit) << what << "\n" << runs[0].Err << runs[1].Err;
        EXPECT_EQ(runs[0].Out, runs[1].Out) << what;
        EXPECT_EQ(runs[0].Err, runs[1].Err) << what;
        EXPECT_EQ(ReadFileBytes(sides[0].Image), ReadFileBytes(sides[1].Image)) << what;
    }
    EXPECT_EQ(ReadFileBytes(sides[0].Dir + "/out/NEW.TNC"), RandomBytes(30000, 3));
    EXPECT_EQ(ReadFileBytes(sides[0].Dir + "/backup.img"), ReadFileBytes(sides[1].Dir + "/backup.img"));
    const std::vector<TJournalEntry> file = JournalAt(sides[0].Journal), device = JournalAt(sides[1].Journal);
    ASSERT_EQ(file.size(), device.size());
    ASSERT_FALSE(file.empty());
    for (size_t i = 0; i < file.size(); ++i) {
        EXPECT_EQ(file[i].Operation, device[i].Operation) << i;
        EXPECT_EQ(file[i].Name, device[i].Name) << i;
        EXPECT_EQ(Replaced(file[i].PcPath, sides[0].Dir, "@"), Replaced(device[i].PcPath, sides[1].Dir, "@")) << i;
        EXPECT_EQ(file[i].Size, device[i].Size) << i;
        EXPECT_EQ(file[i].Sha256, device[i].Sha256) << i;
        EXPECT_EQ(file[i].Result, device[i].Result) << i;
        EXPECT_EQ(file[i].Port, "образ " + sides[0].Image);
        EXPECT_EQ(device[i].Port, sim.PtyPath());
    }
}

// What each command adds to the journal: the files moved with the hash of
// their bytes, deletes, the format, the backup and the restore.
TEST_F(ZvtCli, JournalLinesOfEachOperation) {
    const std::string journal = dir.File("state/journal.log");
    TJournalFor pointed(journal);
    const std::vector<uint8_t> data = RandomBytes(12345, 5);
    WriteFileBytes(dir.File("prog.tnc"), data);
    const std::string img = dir.File("work.img");
    const auto zvt = [&](std::vector<std::string> args) {
        args.insert(args.begin(), {"--image", img});
        return ZvtProcess(args).Wait();
    };
    EXPECT_EQ(zvt({"ls"}).Exit, 1) << "no image is made but by format";
    ASSERT_EQ(zvt({"format", "--yes"}).Exit, 0);
    ASSERT_EQ(zvt({"put", dir.File("prog.tnc")}).Exit, 0);
    ASSERT_EQ(zvt({"get", "PROG.TNC", "-C", out}).Exit, 0);
    ASSERT_EQ(zvt({"backup", dir.File("b.img")}).Exit, 0);
    ASSERT_EQ(zvt({"rm", "PROG.TNC"}).Exit, 0);
    ASSERT_EQ(zvt({"restore", dir.File("b.img"), "--yes"}).Exit, 0);
    const std::vector<uint8_t> backup = ReadFileBytes(dir.File("b.img"));
    const std::string dataSha = TSha256::Of(data.data(), data.size());
    const std::string imageSha = TSha256::Of(backup.data(), backup.size());
    const struct {
        const char* Op;
        std::string Name, Path;
        uint64_t Size;
        std::string Sha;
    } expected[] = {
        {"форматирование", "", "", 0, ""},
        {"запись", "PROG.TNC", dir.File("prog.tnc"), data.size(), dataSha},
        {"загрузка", "PROG.TNC", out + "/PROG.TNC", data.size(), dataSha},
        {"сохранение образа", "", dir.File("b.img"), backup.size(), imageSha},
        {"удаление", "PROG.TNC", "", 0, ""},
        {"восстановление из образа", "", dir.File("b.img"), backup.size(), imageSha},
    };
    const std::vector<TJournalEntry> entries = JournalAt(journal);
    ASSERT_EQ(entries.size(), std::size(expected));
    for (size_t i = 0; i < entries.size(); ++i) {
        const TJournalEntry& e = entries[i];
        EXPECT_EQ(e.Operation, expected[i].Op);
        EXPECT_EQ(e.Name, expected[i].Name) << e.Operation;
        EXPECT_EQ(e.PcPath, expected[i].Path) << e.Operation;
        EXPECT_EQ(e.Size, expected[i].Size) << e.Operation;
        EXPECT_EQ(e.Sha256, expected[i].Sha) << e.Operation;
        EXPECT_EQ(e.Result, "успешно") << e.Operation;
        EXPECT_EQ(e.Port, "образ " + img);
        EXPECT_EQ(e.User, CurrentUserName());
    }
    // zvt log prints the lines, of one file when named.
    const ZvtRun all = ZvtProcess({"log"}).Wait();
    EXPECT_EQ(all.Exit, 0);
    EXPECT_EQ(std::count(all.Out.begin(), all.Out.end(), '\n'), 6);
    const ZvtRun one = ZvtProcess({"log", "prog.tnc"}).Wait();
    EXPECT_EQ(std::count(one.Out.begin(), one.Out.end(), '\n'), 3);
    EXPECT_HAS(one.Out, dataSha);

    // A journal that cannot be written: one warning, and the work is done.
    TJournalFor blocked(dir.File("prog.tnc") + "/journal.log");
    const ZvtRun r = zvt({"get", "PROG.TNC", "-C", dir.File("state")});
    EXPECT_EQ(r.Exit, 0) << r.Err;
    EXPECT_HAS(r.Err, "журнал передач не записывается");
    EXPECT_EQ(ReadFileBytes(dir.File("state/PROG.TNC")), data);
}

// Two programs journalling at once: each on an image of its own, many
// files each; every line arrives whole.
TEST_F(ZvtCli, TwoProgramsJournalAtOnce) {
    const std::string journal = dir.File("journal.log");
    TJournalFor pointed(journal);
    std::vector<std::string> put[2];
    for (int s = 0; s < 2; ++s) {
        const std::string img = dir.File("m" + std::to_string(s) + ".img");
        ASSERT_EQ(ZvtProcess({"--image", img, "format", "--yes"}).Wait().Exit, 0);
        put[s] = {"--image", img, "put"};
        for (int i = 0; i < 40; ++i) {
            const std::string pc = dir.File("f" + std::to_string(s) + "_" + std::to_string(i) + ".tnc");
            WriteFileBytes(pc, RandomBytes(100 + i, static_cast<unsigned>(s * 100 + i)));
            put[s].push_back(pc);
        }
    }
    ZvtProcess a(put[0]), b(put[1]);
    EXPECT_EQ(a.Wait().Exit, 0);
    EXPECT_EQ(b.Wait().Exit, 0);
    const std::vector<TJournalEntry> entries = JournalAt(journal);
    EXPECT_EQ(entries.size(), 2u + 80u);
}

TEST_F(ZvtCli, RestoreRefusesAForeignOrShortImageAndAsksFirst) {
    MakeMedium({{"keep.tnc", RandomBytes(300, 1)}});
    const std::vector<uint8_t> before = ReadFileBytes(image);
    WriteFileBytes(dir.File("short.img"), std::vector<uint8_t>(before.begin(), before.begin() + 0x100000));
    WriteFileBytes(dir.File("blank.img"), std::vector<uint8_t>(before.size(), 0));
    WriteFileBytes(dir.File("good.img"), before);
    SimProcess sim({"--image", image});
    for (const char* name : {"short.img", "blank.img"}) {
        const ZvtRun r = Zvt(sim.PtyPath(), {"restore", dir.File(name), "--yes"});
        EXPECT_EQ(r.Exit, 1) << name;
        EXPECT_HAS(r.Err, "образ не подходит к этому носителю");
    }
    const ZvtRun unasked = Zvt(sim.PtyPath(), {"restore", dir.File("good.img")});
    EXPECT_EQ(unasked.Exit, 2);
    EXPECT_HAS(unasked.Err, "--yes");
    EXPECT_EQ(ReadFileBytes(image), before);
}

// The cable pulled in the middle of a restore (the simulator killed): a
// clear error, a medium that no longer mounts, and the restore repeated
// ends with the image's bytes exactly.
TEST_F(ZvtCli, RestoreCutByAPulledCableThenRepeated) {
    MakeMedium({{"a.tnc", RandomBytes(40000, 1)}, {"b.tnc", RandomBytes(900, 2)}});
    const std::vector<uint8_t> backup = ReadFileBytes(image);
    WriteFileBytes(dir.File("backup.img"), backup);
    MakeMedium({{"other.tnc", RandomBytes(7000, 3)}});
    {
        SimProcess sim({"--image", image, "--baud", "115200"});
        ZvtProcess restore({"--port", sim.PtyPath(), "restore", dir.File("backup.img"), "--yes"});
        // Under way once the boot sector is void; the paced line makes the
        // rest take minutes.
        const auto bootVoid = [this] {
            std::ifstream f(image, std::ios::binary);
            char b[3] = {1, 1, 1};
            f.read(b, 3);
            return b[0] == 0 && b[1] == 0 && b[2] == 0;
        };
        for (int i = 0; i < 3000 && !bootVoid(); ++i) usleep(20 * 1000);
        usleep(300 * 1000);
        sim.Kill();
        const ZvtRun r = restore.Wait();
        EXPECT_EQ(r.Exit, 1);
        EXPECT_HAS(r.Err, "неполон");
    }
    SimProcess sim({"--image", image});
    ZvtRun r = Zvt(sim.PtyPath(), {"ls"});
    EXPECT_EQ(r.Exit, 1);
    EXPECT_HAS(r.Err, "неформатированный носитель");
    r = Zvt(sim.PtyPath(), {"restore", dir.File("backup.img"), "--yes"});
    ASSERT_EQ(r.Exit, 0) << r.Err;
    sim.Stop();
    EXPECT_EQ(ReadFileBytes(image), backup);
}

// zvt works where the window last worked: the port the window remembered is
// its default, and `zvt ports` marks it, present or not.
TEST_F(ZvtCli, TheWindowsRememberedPortIsTheDefault) {
    MakeMedium({{"shaft.tnc", RandomBytes(700, 3)}});
    SimProcess sim({"--image", image});
    const std::string config = dir.File("config");
    ASSERT_EQ(mkdir(config.c_str(), 0755), 0);
    ASSERT_EQ(mkdir((config + "/Skarvel").c_str(), 0755), 0);
    const auto remember = [&](const std::string& port) {
        std::ofstream(config + "/Skarvel/Skarvel.conf") << "[General]\nverify=true\n\n[port]\nbaudRate=115200\nname="
                                                        << port << "\n";
    };
    const char* old = std::getenv("XDG_CONFIG_HOME");
    const std::string saved = old ? old : "";
    setenv("XDG_CONFIG_HOME", config.c_str(), 1);

    remember(sim.PtyPath());
    ZvtRun r = ZvtProcess({"ls"}).Wait();
    EXPECT_EQ(r.Exit, 0) << r.Err;
    EXPECT_HAS(r.Out, "SHAFT.TNC");
    // --port still wins.
    r = ZvtProcess({"--port", "/dev/zvt-no-such-port", "ls"}).Wait();
    EXPECT_EQ(r.Exit, 1);
    EXPECT_HAS(r.Err, "/dev/zvt-no-such-port");

    remember("/dev/zvt-gone-adapter");
    r = ZvtProcess({"ports"}).Wait();
    EXPECT_EQ(r.Exit, 0) << r.Err;
    EXPECT_HAS(r.Out, "* /dev/zvt-gone-adapter  (нет в системе)\n");
    r = ZvtProcess({"ls"}).Wait();
    EXPECT_EQ(r.Exit, 1);
    EXPECT_HAS(r.Err, "Unable to open com port (win error code: 2) (/dev/zvt-gone-adapter)");
    r = ZvtProcess({"ports", "extra"}).Wait();
    EXPECT_EQ(r.Exit, 2);

    if (old) setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
    else unsetenv("XDG_CONFIG_HOME");
}
