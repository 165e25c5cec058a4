// zvt's command line on Windows: the split of the line as cmd passes it,
// and put's wildcards expanded against a real folder.
#include <gtest/gtest.h>

#include <windows.h>

#include <filesystem>
#include <fstream>

#include "core/utf16_win.h"
#include "tests/sim_process.h"
#include "tools/zvt/command_line_win.h"

using namespace skarvel;
using namespace skarvel::zvtcmd;
using Args = std::vector<std::wstring>;

TEST(ZvtCommandLineWin, SplitsAsTheRuntimeButKeepsTheBackslashBeforeAClosingQuote) {
    const struct {
        const wchar_t* line;
        Args args;
    } cases[] = {
        {L"zvt.exe ls", {L"zvt.exe", L"ls"}},
        {L"\"C:\\Program Files\\Skarvel\\zvt.exe\" ls", {L"C:\\Program Files\\Skarvel\\zvt.exe", L"ls"}},
        {L"zvt  \t put   a.tnc\t b.iso  ", {L"zvt", L"put", L"a.tnc", L"b.iso"}},
        {L"zvt put \"long program name.tnc\"", {L"zvt", L"put", L"long program name.tnc"}},
        {L"zvt put long\" program \"name.tnc", {L"zvt", L"put", L"long program name.tnc"}},
        {L"zvt put \"\"", {L"zvt", L"put", L""}},
        // The folder a user types, at the end and before more arguments.
        {L"zvt get A.TNC -C \"C:\\Loaded Programs\\\"", {L"zvt", L"get", L"A.TNC", L"-C", L"C:\\Loaded Programs\\"}},
        {L"zvt get -C \"C:\\Loaded Programs\\\" A.TNC B.TNC",
         {L"zvt", L"get", L"-C", L"C:\\Loaded Programs\\", L"A.TNC", L"B.TNC"}},
        {L"zvt get -C \"\\\\server\\share\\\\\\\" A.TNC", {L"zvt", L"get", L"-C", L"\\\\server\\share\\\\\\", L"A.TNC"}},
        // What a program that quotes by the runtime's rules passes.
        {L"zvt get -C \"C:\\Loaded Programs\\\\\" A.TNC", {L"zvt", L"get", L"-C", L"C:\\Loaded Programs\\", L"A.TNC"}},
        {L"zvt put C:\\dir\\a.tnc \\\\server\\share\\b.tnc", {L"zvt", L"put", L"C:\\dir\\a.tnc", L"\\\\server\\share\\b.tnc"}},
        // Escaped quotes inside an argument keep the runtime's meaning.
        {L"zvt a\\\"b \"c\\\"d\" \"e\"\"f\"", {L"zvt", L"a\"b", L"c\"d", L"e\"f"}},
        {L"zvt a\\\\\\\"b", {L"zvt", L"a\\\"b"}},
        // The program's name takes no escapes; an unclosed quote runs to the end.
        {L"\"C:\\x\\\" ls", {L"C:\\x\\", L"ls"}},
        {L"zvt get -C \"C:\\no end", {L"zvt", L"get", L"-C", L"C:\\no end"}},
        {L"zvt пут деталь.lst", {L"zvt", L"пут", L"деталь.lst"}},
    };
    for (const auto& c : cases) EXPECT_EQ(SplitCommandLine(c.line), c.args) << WideToUtf8(c.line);
}

TEST(ZvtCommandLineWin, OnlyTheOperandsOfPutAreFiles) {
    const struct {
        Args args;
        std::vector<size_t> files;
    } cases[] = {
        {{L"zvt", L"put", L"a", L"b"}, {2, 3}},
        {{L"zvt", L"--port", L"COM3", L"put", L"--verify", L"*.tnc"}, {5}},
        {{L"zvt", L"put", L"a", L"--baud", L"9600", L"b"}, {2, 5}},
        {{L"zvt", L"--port", L"put", L"ls", L"x"}, {}},
        {{L"zvt", L"get", L"*.TNC", L"-C", L"dir"}, {}},
        {{L"zvt", L"rm", L"*"}, {}},
        {{L"zvt", L"--help", L"put", L"a"}, {3}},
    };
    for (const auto& c : cases) EXPECT_EQ(FileArguments(c.args), c.files) << WideToUtf8(c.args[1]);
}

namespace {

// A folder with programs of three kinds and a folder whose name matches
// the patterns too; the current folder is moved there for the test.
class ZvtWildcardsWin : public ::testing::Test {
protected:
    void SetUp() override {
        root = Utf8ToWide(dir.Path()) + L"\\";
        for (const wchar_t* name : {L"b.tnc", L"A.TNC", L"деталь.tnc", L"c.iso", L"notes.txt", L"sub\\d.tnc"}) {
            std::filesystem::create_directories(std::filesystem::path(root + name).parent_path());
            std::ofstream(std::filesystem::path(root + name)) << "G90\r\n";
        }
        std::filesystem::create_directory(root + L"folder.tnc");
        GetCurrentDirectoryW(MAX_PATH, previous);
        ASSERT_TRUE(SetCurrentDirectoryW(root.c_str()));
    }
    void TearDown() override { SetCurrentDirectoryW(previous); }

    test::TempDir dir;
    std::wstring root;
    wchar_t previous[MAX_PATH] = {};
};

}  // namespace

TEST_F(ZvtWildcardsWin, PutPatternsBecomeTheFilesTheyMatchSortedByName) {
    const struct {
        Args args;
        Args expanded;
    } cases[] = {
        {{L"zvt", L"put", L"*.tnc"}, {L"zvt", L"put", L"A.TNC", L"b.tnc", L"деталь.tnc"}},
        {{L"zvt", L"put", L"--verify", L"?.tnc", L"*.iso", L"notes.txt"},
         {L"zvt", L"put", L"--verify", L"A.TNC", L"b.tnc", L"c.iso", L"notes.txt"}},
        {{L"zvt", L"put", L"sub\\*"}, {L"zvt", L"put", L"sub\\d.tnc"}},
        {{L"zvt", L"put", L"sub/*.TNC"}, {L"zvt", L"put", L"sub/d.tnc"}},
        {{L"zvt", L"put", root + L"*.iso"}, {L"zvt", L"put", root + L"c.iso"}},
        // A name without wildcards is put's to judge, even one that is missing.
        {{L"zvt", L"put", L"missing.tnc"}, {L"zvt", L"put", L"missing.tnc"}},
        // Names on the medium and options are no PC files.
        {{L"zvt", L"get", L"*.TNC", L"-C", L"*"}, {L"zvt", L"get", L"*.TNC", L"-C", L"*"}},
        {{L"zvt", L"--port", L"COM?", L"rm", L"*.*"}, {L"zvt", L"--port", L"COM?", L"rm", L"*.*"}},
    };
    for (const auto& c : cases) {
        Args args = c.args;
        EXPECT_EQ(ExpandFileWildcards(args), "") << WideToUtf8(c.args.back());
        EXPECT_EQ(args, c.expanded) << WideToUtf8(c.args.back());
    }
}

TEST_F(ZvtWildcardsWin, APatternThatMatchesNoFileIsAnErrorNamingIt) {
    for (const std::wstring pattern : {L"*.lst", L"folder.t?c", L"nowhere\\*.tnc", L"s*\\*.tnc"}) {
        Args args = {L"zvt", L"put", L"A.TNC", pattern, L"*.iso"};
        const Args before = args;
        EXPECT_EQ(ExpandFileWildcards(args), WideToUtf8(pattern) + ": нет файлов по этому образцу");
        EXPECT_EQ(args, before) << "nothing is put when one pattern matches nothing";
    }
}
