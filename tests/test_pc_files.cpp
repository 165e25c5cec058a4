// PC files as the command-line client reads and writes them: every byte
// comes back as it was (CR LF, Ctrl-Z and NUL are what a text mode would
// alter), a load replaces an older file and leaves nothing else behind, and
// a failed one leaves nothing at all.
#include <gtest/gtest.h>

#include <filesystem>
#include <numeric>
#include <string>
#include <vector>

#include "tests/sim_process.h"
#include "tools/zvt/pc_files.h"

using namespace skarvel;
using namespace skarvel::test;

namespace {

std::vector<uint8_t> Bytes(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }

class PcFiles : public testing::Test {
protected:
    std::vector<std::string> Entries() const {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(dir.Path())) names.push_back(e.path().filename().string());
        return names;
    }
    TempDir dir;
    std::string error;
};

TEST_F(PcFiles, EveryByteComesBackAsItWas) {
    std::vector<uint8_t> all(256);
    std::iota(all.begin(), all.end(), uint8_t{0});
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
    for (const auto& c : cases) {
        ASSERT_TRUE(WritePcFile(dir.Path(), c.name, c.data, error)) << c.name << ": " << error;
        std::vector<uint8_t> back{0xEE};
        ASSERT_TRUE(ReadPcFile(dir.File(c.name), back, error)) << c.name << ": " << error;
        EXPECT_EQ(back, c.data) << c.name;
        EXPECT_EQ(ReadFileBytes(dir.File(c.name)), c.data) << c.name;
    }
}

TEST_F(PcFiles, WriteReplacesAnOlderFileAndLeavesNothingElse) {
    ASSERT_TRUE(WritePcFile(dir.Path(), "PART.TNC", Bytes("an older and longer program\r\n"), error)) << error;
    ASSERT_TRUE(WritePcFile(dir.Path(), "PART.TNC", Bytes("new\r\n"), error)) << error;
    EXPECT_EQ(ReadFileBytes(dir.File("PART.TNC")), Bytes("new\r\n"));
    EXPECT_EQ(Entries(), std::vector<std::string>{"PART.TNC"});
}

TEST_F(PcFiles, FailedWriteLeavesNothing) {
    EXPECT_FALSE(WritePcFile(dir.File("no-such-folder"), "PART.TNC", Bytes("x"), error));
    EXPECT_NE(error.find("PART.TNC"), std::string::npos) << error;
    EXPECT_TRUE(Entries().empty());
}

TEST_F(PcFiles, ReadRefusesWhatIsNoFileAndIsFolderTellsThemApart) {
    std::vector<uint8_t> data;
    EXPECT_FALSE(ReadPcFile(dir.File("missing.tnc"), data, error));
    EXPECT_NE(error.find("missing.tnc"), std::string::npos) << error;
    error.clear();
    EXPECT_FALSE(ReadPcFile(dir.Path(), data, error));
    EXPECT_FALSE(error.empty());

    WriteFileBytes(dir.File("file.tnc"), Bytes("x"));
    EXPECT_TRUE(IsFolder(dir.Path()));
    EXPECT_FALSE(IsFolder(dir.File("file.tnc")));
    EXPECT_FALSE(IsFolder(dir.File("missing")));
}

TEST_F(PcFiles, ReadGoesToTheEndAndStopsPastTheLimit) {
    WriteFileBytes(dir.File("four.tnc"), Bytes("1234"));
    WriteFileBytes(dir.File("big.tnc"), std::vector<uint8_t>(3 * PcReadChunk + 5, 0x41));
    const struct {
        const char* what;
        std::string path;
        uint64_t limit;
        TPcRead result;
        size_t bytes;
    } cases[] = {
        {"exactly the limit", dir.File("four.tnc"), 4, TPcRead::Ok, 4},
        {"one byte over, by its recorded size", dir.File("four.tnc"), 3, TPcRead::TooBig, 0},
        {"several pieces", dir.File("big.tnc"), 1 << 20, TPcRead::Ok, 3 * PcReadChunk + 5},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<uint8_t> data{0xEE};
        EXPECT_EQ(ReadPcFile(c.path, c.limit, data, error), c.result) << error;
        EXPECT_EQ(data.size(), c.bytes);
    }
    // A folder is named as one, not as a file that cannot be opened.
    uint64_t size = 0;
    EXPECT_EQ(LookAtPcFile(dir.Path(), size, error), TPcKind::Folder);
    EXPECT_NE(error.find("это папка, а не файл"), std::string::npos) << error;
}

}  // namespace
