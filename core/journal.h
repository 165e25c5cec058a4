// The transfer journal: one line for every file written, loaded, deleted or
// replaced on the medium, every format, and every whole-medium backup and
// restore, by the window and by zvt alike, so that a shop can show which
// program went to which medium, when and by whom.
//
// The journal is a text file of lines (UTF-8), one entry a line, its nine
// fields separated by tabs in this order: time (ISO 8601 with the zone),
// user, port (or the image file worked on), operation, medium name, PC
// path, size in bytes, SHA-256 of the bytes moved (empty when none moved)
// and the result text. A backslash, a tab, a line break or another control
// character inside a field is written \\, \t, \n, \r or \xHH.
//
// Appending never stops a transfer: a journal that cannot be written is
// reported once (OnWarning) and the work goes on.
//
// Threads: a TJournal may be used from any thread; OnWarning runs on the
// thread whose append failed first. The free functions are plain.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace skarvel {

// What an entry records. The journal stores the Russian word (JournalOpName).
enum class TJournalOp : uint8_t { Write, Load, Delete, Replace, Format, Backup, Restore };
const char* JournalOpName(TJournalOp op);

struct TJournalEntry {
    std::string Time;       // set by Append
    std::string User;       // set by Append
    std::string Port;       // the port name, or "образ " and the image file's path
    std::string Operation;  // JournalOpName
    std::string Name;       // the medium's name as shown, or the image file of a backup or restore
    std::string PcPath;     // the PC file read or written; empty when none
    uint64_t Size = 0;      // bytes moved
    std::string Sha256;     // of the bytes moved, small hex digits; empty when none moved
    std::string Result;     // JournalSuccess, or the error's text
};

// The result text of an operation that succeeded.
extern const char* const JournalSuccess;

// An entry for bytes that moved between the PC and the medium: size and
// SHA-256 are those of data, as sent or as received.
TJournalEntry MovedEntry(TJournalOp op, const std::string& port, const std::string& name, const std::string& pcPath,
                         const void* data, size_t size, const std::string& result);
// An entry without bytes moved (a delete, a format, a failure before any
// byte moved).
TJournalEntry PlainEntry(TJournalOp op, const std::string& port, const std::string& name, const std::string& pcPath,
                         const std::string& result);

// The line of an entry, its line break included.
std::string FormatJournalLine(const TJournalEntry& entry);
// False for a line that is no entry (a wrong count of fields, a size that
// is no number).
bool ParseJournalLine(std::string_view line, TJournalEntry& entry);

// Where the journal lies: the file $SKARVEL_JOURNAL names, else journal.log
// in the program's state folder (core/user_env.h). Empty when neither can
// be found.
std::string DefaultJournalPath();

// The entries of the journal at path in the order they were written; a line
// that is no entry is skipped and counted in damaged. A journal that does
// not exist yet is empty. False with the reason in error when it cannot be
// read.
bool ReadJournal(const std::string& path, std::vector<TJournalEntry>& entries, size_t& damaged, std::string& error);

// True when the entry's medium name is name (letters of either case).
bool JournalNameIs(const TJournalEntry& entry, const std::string& name);

class TJournal {
public:
    explicit TJournal(std::string path = DefaultJournalPath());

    // Fills the entry's time and user and appends its line. False when the
    // line could not be written; the first such failure of this journal
    // calls OnWarning with the text to show, the later ones say nothing.
    bool Append(TJournalEntry entry);

    const std::string& Path() const { return path_; }
    std::function<void(const std::string& text)> OnWarning;

private:
    std::string path_;
    std::atomic<bool> warned_{false};
};

}  // namespace skarvel
