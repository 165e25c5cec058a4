// Names from the medium as PC file names, and the load's way into the PC
// folder: nothing written outside the folder the user chose, whatever the
// medium or the folder holds.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "core/local_name.h"
#include "tests/sim_process.h"
#include "tools/zvt/pc_files.h"

using namespace skarvel;
using namespace skarvel::test;

TEST(LocalNames, NamesThatLeaveTheFolderOrNameNoFileAreRefused) {
    for (const char* name : {"", ".", "..", "../A.TNC", "A/B.TNC", "A\\B.TNC", "A\x01.TNC", "A\x7f.TNC"})
        EXPECT_FALSE(IsLocalFileName(name)) << name;
    for (const char* name : {"PROG.TNC", "корпус.tnc", "MY FILE.TXT", "...A", "CONSOLE.TNC", "COM10.LST"})
        EXPECT_TRUE(IsLocalFileName(name)) << name;
}

TEST(LocalNames, ALinkUnderTheTemporaryNameIsNotWrittenThrough) {
    TempDir dir;
    TempDir outside;
    const std::string victim = outside.File("victim.txt");
    WriteFileBytes(victim, {'k', 'e', 'e', 'p'});
    std::error_code ec;
    std::filesystem::create_symlink(victim, dir.File(".PROG.TNC.zvt-part"), ec);
    if (ec) GTEST_SKIP() << "no symbolic links here: " << ec.message();
    std::string error;
    ASSERT_TRUE(WritePcFile(dir.Path(), "PROG.TNC", {'n', 'e', 'w'}, error)) << error;
    EXPECT_EQ(ReadFileBytes(victim), (std::vector<uint8_t>{'k', 'e', 'e', 'p'}));
    EXPECT_EQ(ReadFileBytes(dir.File("PROG.TNC")), (std::vector<uint8_t>{'n', 'e', 'w'}));
}

TEST(LocalNames, NamesFromTheMediumNeverEscapeTheTargetFolder) {
    // Bytes that are shown escaped (\xHH) are written %HH on the PC: no
    // separator and no control character reaches a PC name.
    const std::pair<const char*, const char*> cases[] = {
        {"PROG.TNC", "PROG.TNC"},        {"\xCF\xD0\xCE\xC3.TNC", "ПРОГ.TNC"},
        {"N23\x98.NC", "N23%98.NC"},     {"A\\B.TNC", "A%5CB.TNC"},
        {"A\x01.TNC", "A%01.TNC"},       {"A\x7F.TNC", "A%7F.TNC"},
        {"..", ""},                      {".", ""},
        {"", ""},                        {"A/B.TNC", ""},
    };
    for (const auto& [medium, pc] : cases) EXPECT_EQ(SafeLocalName(medium), pc) << medium;
}
