// The transfer journal: its lines, the hash of the bytes moved, appends by
// two writers at once, and a journal that cannot be written.
#include <gtest/gtest.h>

#include <cstdlib>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "core/disk_file.h"
#include "core/journal.h"
#include "core/sha256.h"
#include "core/user_env.h"
#include "tests/sim_process.h"

using namespace skarvel;
using test::TempDir;

namespace {

#ifdef _WIN32
void SetEnv(const char* name, const std::string& value) { _putenv_s(name, value.c_str()); }
#else
void SetEnv(const char* name, const std::string& value) {
    if (value.empty()) unsetenv(name);
    else setenv(name, value.c_str(), 1);
}
#endif

// Restores an environment variable when the test ends.
struct TEnvGuard {
    const char* Name;
    std::string Old = EnvironmentValue(Name);
    ~TEnvGuard() { SetEnv(Name, Old); }
};

TJournalEntry Sample(const std::string& name, const std::string& path) {
    return MovedEntry(TJournalOp::Write, "/dev/ttyUSB0", name, path, "abc", 3, JournalSuccess);
}

}  // namespace

TEST(Sha256, KnownDigestsWholeAndInPieces) {
    EXPECT_EQ(TSha256::Of("", 0), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(TSha256::Of("abc", 3), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    // A million 'a's (the FIPS 180-2 vector), fed in uneven pieces: a
    // digest over pieces is the digest over their bytes together.
    const std::string a(1000000, 'a');
    TSha256 h;
    for (size_t at = 0, piece = 1; at < a.size(); at += piece, piece = piece * 3 % 4099 + 1)
        h.Update(a.data() + at, std::min(piece, a.size() - at));
    EXPECT_EQ(h.Hex(), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
    // Hex starts over.
    h.Update("abc", 3);
    EXPECT_EQ(h.Hex(), TSha256::Of("abc", 3));
}

TEST(JournalLine, FieldsComeBackWhateverTheyHold) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"PROG.TNC", "/home/ivan/prog.tnc"},
        {"ДЕТАЛЬ.ISO", "/home/иван/детали/деталь.iso"},
        {"N23\\x98.NC", "C:\\Программы\\n23.nc"},             // backslashes
        {"A\tB", "/tmp/with\ttab/and\nnewline\r.lst"},        // separators inside fields
        {"", std::string("/tmp/ctl\x01\x1F\x7F", 12)},        // control bytes
    };
    for (const auto& [name, path] : cases) {
        TJournalEntry e = Sample(name, path);
        e.Time = "2024-05-17T14:03:09+03:00";
        e.User = "ivan";
        const std::string line = FormatJournalLine(e);
        ASSERT_EQ(line.back(), '\n');
        EXPECT_EQ(line.find('\n'), line.size() - 1) << "one entry, one line: " << line;
        TJournalEntry back;
        ASSERT_TRUE(ParseJournalLine(line, back)) << line;
        EXPECT_EQ(back.Time, e.Time);
        EXPECT_EQ(back.User, e.User);
        EXPECT_EQ(back.Port, e.Port);
        EXPECT_EQ(back.Operation, "запись");
        EXPECT_EQ(back.Name, name);
        EXPECT_EQ(back.PcPath, path);
        EXPECT_EQ(back.Size, 3u);
        EXPECT_EQ(back.Sha256, TSha256::Of("abc", 3));
        EXPECT_EQ(back.Result, "успешно");
    }
}

TEST(JournalLine, WhatIsNoEntryIsRefused) {
    const char* const lines[] = {
        "a\tb\tc\td\te\tf\t1\th",              // eight fields
        "a\tb\tc\td\te\tf\t1\th\ti\tj",        // ten
        "a\tb\tc\td\te\tf\t12x\th\ti",         // size no number
        "a\tb\tc\td\te\tf\t\th\ti",            // no size
        "a\tb\tc\td\te\\q\tf\t1\th\ti",        // unknown escape
        "a\tb\tc\td\te\\x4\tf\t1\th\ti",       // escape cut short (a line cut by a full disk)
        "",
    };
    for (const char* line : lines) {
        TJournalEntry e;
        EXPECT_FALSE(ParseJournalLine(line, e)) << line;
    }
}

TEST(JournalTime, IsoWithTheZonesOffset) {
    std::tm t{};
    t.tm_year = 124;
    t.tm_mon = 4;
    t.tm_mday = 7;
    t.tm_hour = 9;
    t.tm_min = 3;
    t.tm_sec = 5;
    EXPECT_EQ(detail::FormatTimestamp(t, 3 * 3600), "2024-05-07T09:03:05+03:00");
    EXPECT_EQ(detail::FormatTimestamp(t, 0), "2024-05-07T09:03:05+00:00");
    EXPECT_EQ(detail::FormatTimestamp(t, -(5 * 3600 + 30 * 60)), "2024-05-07T09:03:05-05:30");
    EXPECT_TRUE(std::regex_match(LocalTimestamp(std::time(nullptr)),
                                 std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d[+-]\d\d:\d\d)")));
}

TEST(Journal, AppendsInOrderWithTimeAndUser) {
    TempDir dir;
    // The folders above the journal are made as needed.
    TJournal journal(dir.File("state/skarvel/journal.log"));
    ASSERT_TRUE(journal.Append(Sample("ONE.TNC", "/a/one.tnc")));
    ASSERT_TRUE(journal.Append(PlainEntry(TJournalOp::Delete, "COM2", "TWO.TNC", "", "файл не найден")));
    std::vector<TJournalEntry> entries;
    size_t damaged = 1;
    std::string error;
    ASSERT_TRUE(ReadJournal(journal.Path(), entries, damaged, error)) << error;
    EXPECT_EQ(damaged, 0u);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].Name, "ONE.TNC");
    EXPECT_EQ(entries[1].Operation, "удаление");
    EXPECT_EQ(entries[1].Sha256, "");
    EXPECT_EQ(entries[1].Size, 0u);
    EXPECT_EQ(entries[1].Result, "файл не найден");
    EXPECT_EQ(entries[0].User, CurrentUserName());
    EXPECT_FALSE(entries[0].User.empty());
    EXPECT_FALSE(entries[0].Time.empty());
    EXPECT_TRUE(JournalNameIs(entries[0], "one.tnc"));
    EXPECT_FALSE(JournalNameIs(entries[0], "ONE.TN"));
}

TEST(Journal, MissingJournalReadsEmptyAndDamagedLinesAreCounted) {
    TempDir dir;
    std::vector<TJournalEntry> entries;
    size_t damaged = 0;
    std::string error;
    ASSERT_TRUE(ReadJournal(dir.File("none.log"), entries, damaged, error));
    EXPECT_TRUE(entries.empty());
    TJournal journal(dir.File("j.log"));
    ASSERT_TRUE(journal.Append(Sample("A.TNC", "/a")));
    std::string ignored;
    ASSERT_TRUE(AppendLine(journal.Path(), "half a line\n", ignored));
    ASSERT_TRUE(journal.Append(Sample("B.TNC", "/b")));
    ASSERT_TRUE(ReadJournal(journal.Path(), entries, damaged, error));
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[1].Name, "B.TNC");
    EXPECT_EQ(damaged, 1u);
}

// Two programs appending at once: every line arrives whole, each writer's
// lines in its own order. Each writer opens the file for every line, as two
// programs do.
TEST(Journal, TwoWritersAtOnceNeverMixTheirLines) {
    TempDir dir;
    const std::string path = dir.File("journal.log");
    constexpr int Lines = 400;
    const auto writer = [&](const std::string& who) {
        TJournal journal(path);
        // Long lines: a mix would show within one.
        const std::string longPath = "/" + std::string(3000, who[0]);
        for (int i = 0; i < Lines; ++i) journal.Append(Sample(who + std::to_string(i), longPath));
    };
    std::thread a(writer, "A"), b(writer, "B");
    a.join();
    b.join();
    std::vector<TJournalEntry> entries;
    size_t damaged = 0;
    std::string error;
    ASSERT_TRUE(ReadJournal(path, entries, damaged, error)) << error;
    EXPECT_EQ(damaged, 0u);
    ASSERT_EQ(entries.size(), 2u * Lines);
    int next[2] = {0, 0};
    for (const TJournalEntry& e : entries) {
        const int w = e.Name[0] == 'A' ? 0 : 1;
        EXPECT_EQ(e.Name, std::string(1, "AB"[w]) + std::to_string(next[w]));
        EXPECT_EQ(e.PcPath, "/" + std::string(3000, "AB"[w]));
        ++next[w];
    }
}

TEST(Journal, UnwritableJournalWarnsOnceAndNeverThrows) {
    TempDir dir;
    // A file stands where the journal's folder should be.
    std::string ignored;
    ASSERT_TRUE(AppendLine(dir.File("blocker"), "x\n", ignored));
    const std::vector<std::string> paths = {dir.File("blocker/journal.log"), ""};
    for (const std::string& path : paths) {
        TJournal journal(path);
        std::vector<std::string> warnings;
        journal.OnWarning = [&](const std::string& text) { warnings.push_back(text); };
        for (int i = 0; i < 3; ++i) EXPECT_FALSE(journal.Append(Sample("A.TNC", "/a")));
        ASSERT_EQ(warnings.size(), 1u) << path;
        EXPECT_NE(warnings[0].find("журнал"), std::string::npos) << warnings[0];
    }
}

TEST(Journal, WhereTheJournalLies) {
    TEnvGuard journalVar{"SKARVEL_JOURNAL"};
    TEnvGuard stateVar{"XDG_STATE_HOME"};
    TEnvGuard localVar{"LOCALAPPDATA"};
    SetEnv("SKARVEL_JOURNAL", "");
    SetEnv("XDG_STATE_HOME", "/srv/state");
    SetEnv("LOCALAPPDATA", "C:\\Users\\ivan\\AppData\\Local");
    const std::string standard = DefaultJournalPath();
    EXPECT_EQ(standard, StateFolder() + PathSeparator() + "journal.log");
    EXPECT_TRUE(standard == "/srv/state/skarvel/journal.log" ||
                standard == "C:\\Users\\ivan\\AppData\\Local\\Skarvel\\journal.log")
        << standard;
    SetEnv("SKARVEL_JOURNAL", "/shared/zvt-journal.log");
    EXPECT_EQ(DefaultJournalPath(), "/shared/zvt-journal.log");
}
