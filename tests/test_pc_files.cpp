// PC files as the command-line client reads and writes them: every byte
// comes back as it was (CR LF, Ctrl-Z and NUL are what a text mode would
// alter), a load replaces an older file and leaves nothing else behind, and
// a failed one leaves nothing at all.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/sim_process.h"
#include "tools/zvt/pc_files.h"

using namespace skarvel;
using namespace skarvel::test;

namespace {

std::vector<uint8_t> Bytes(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }

std::vector<std::string> Entries(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir)) names.push_back(e.path().filename().string());
    return names;
}

TEST(PcFiles, EveryByteComesBackAsItWas) {
    std::vector<uint8_t> all;
    for (int i = 0; i < 256; ++i) all.push_back(static_cast<uint8_t>(i));
    const struct {
        const char* name;
        std::vector<uint8_t> data;
    } cases[] = {
        {"EMPTY.TNC", {}},
        {"CRLF.TNC", Bytes("N10 G00 X0\r\nN20 M30\r\n")},
        {"CTRLZ.ISO", Bytes(std::string("\x1a" "after\x1a\x1a", 8))},
        {"MIXED.LST", Bytes(std::string("\r\r\n\n\0\x1a\r\n", 8))},
        {"ALL.TNC", all},
    };
    TempDir dir;
    for (const auto& c : cases) {
        std::string error;
        ASSERT_TRUE(WritePcFile(dir.Path(), c.name, c.data, error)) << c.name << ": " << error;
        std::vector<uint8_t> back{0xEE};
        ASSERT_TRUE(ReadPcFile(dir.File(c.name), back, error)) << c.name << ": " << error;
        EXPECT_EQ(back, c.data) << c.name;
        EXPECT_EQ(ReadFileBytes(dir.File(c.name)), c.data) << c.name;
    }
}

TEST(PcFiles, WriteReplacesAnOlderFileAndLeavesNothingElse) {
    TempDir dir;
    std::string error;
    ASSERT_TRUE(WritePcFile(dir.Path(), "PART.TNC", Bytes("an older and longer program\r\n"), error)) << error;
    ASSERT_TRUE(WritePcFile(dir.Path(), "PART.TNC", Bytes("new\r\n"), error)) << error;
    EXPECT_EQ(ReadFileBytes(dir.File("PART.TNC")), Bytes("new\r\n"));
    EXPECT_EQ(Entries(dir.Path()), std::vector<std::string>{"PART.TNC"});
}

TEST(PcFiles, FailedWriteLeavesNothing) {
    TempDir dir;
    const std::string missing = dir.File("no-such-folder");
    std::string error;
    EXPECT_FALSE(WritePcFile(missing, "PART.TNC", Bytes("x"), error));
    EXPECT_NE(error.find("PART.TNC"), std::string::npos) << error;
    EXPECT_TRUE(Entries(dir.Path()).empty());
}

TEST(PcFiles, ReadRefusesWhatIsNoFile) {
    TempDir dir;
    std::vector<uint8_t> data;
    std::string error;
    EXPECT_FALSE(ReadPcFile(dir.File("missing.tnc"), data, error));
    EXPECT_NE(error.find("missing.tnc"), std::string::npos) << error;
    error.clear();
    EXPECT_FALSE(ReadPcFile(dir.Path(), data, error));
    EXPECT_FALSE(error.empty());
}

TEST(PcFiles, IsFolder) {
    TempDir dir;
    WriteFileBytes(dir.File("file.tnc"), Bytes("x"));
    EXPECT_TRUE(IsFolder(dir.Path()));
    EXPECT_FALSE(IsFolder(dir.File("file.tnc")));
    EXPECT_FALSE(IsFolder(dir.File("missing")));
}

}  // namespace
