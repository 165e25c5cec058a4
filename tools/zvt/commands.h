// The commands of the command-line client and what they share.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "tools/zvt/client.h"

namespace skarvel::zvtcmd {

// Prints "zvt: what" on stderr.
void Fail(const std::string& what);
// Characters (code points) in a UTF-8 string.
size_t Utf8Length(const std::string& utf8);
// n and the word in the form Russian gives it after n: CountOf(2, "байт",
// "байта", "байт") is "2 байта", 5 and 11 to 14 take many, 21 takes one.
std::string CountOf(uint64_t n, const char* one, const char* few, const char* many);
// n bytes in words ("1 байт", "100000 байт").
std::string BytesText(uint64_t n);

// A progress bar on stderr while a request runs, when stderr is a terminal.
// Runs on the client's main thread (the client's ticks come there).
class TProgress {
public:
    explicit TProgress(TZvtClient& client);
    void Begin(const std::string& label, uint32_t expected) {
        label_ = label;
        expected_ = expected;
        if (tty_) client_.OnTick = [this] { Draw(); };
    }
    // Blanks the bar's line; the next text starts at its beginning. Blanks
    // rather than a terminal sequence: a Windows console before Windows 10
    // shows such sequences as they are.
    void End();

private:
    void Draw();

    TZvtClient& client_;
    bool tty_;
    std::string label_;
    uint32_t expected_ = 0;
    size_t drawn_ = 0;  // characters of the bar's line on the screen
};

// A name as the user gives it (the shown form, \xHH for bytes that are no
// characters) in the medium's bytes; false after a message.
bool ToMediumName(const std::string& utf8, std::string& cp1251);
const TZvtFile* FindFile(const std::vector<TZvtFile>& files, const std::string& cp1251Name);
// Identifies the device and mounts the medium; 0, or 1 after a message.
int Mount(TZvtClient& client);
// Mounts the medium and reads its list; 0, or 1 after a message.
int ListMedium(TZvtClient& client, std::vector<TZvtFile>& files);
// Appends the journal's line of one operation: medium name in code page
// 1251, the PC file, the bytes that moved (null: none) and the result code
// (its text, or the journal's success text for 0). resultText, when not
// empty, is the text instead.
void Record(TZvtClient& client, TJournalOp op, const std::string& mediumName, const std::string& pcPath,
            const std::vector<uint8_t>* data, uint8_t result, const std::string& resultText = {});

int CmdInfo(TZvtClient& client);
int CmdLs(TZvtClient& client);
// The paths of put that name regular files, looked at without opening them
// (a named pipe would block the open); each other one is named on stderr.
// Runs before the port is taken. False when any was refused.
bool SelectPcFiles(const std::vector<std::string>& paths, std::vector<std::string>& files);
// Writes the PC files one by one; see cmd_put.cpp. verify: after each file
// has been written, the FAT and directory sectors the save wrote and the
// file are read back and compared.
// replace: a file whose 8.3 name (as it stands, never a generated "~n") is
// on the medium already gets its new contents there safely; without it
// such a file is an error.
int CmdPut(TZvtClient& client, const std::vector<std::string>& paths, bool verify, bool replace = false);
// Loads the files into dir, replacing PC files of their names as cp does;
// noClobber: a PC file of the name stays as it is and that file is skipped.
int CmdGet(TZvtClient& client, const std::vector<std::string>& names, const std::string& dir,
           bool noClobber = false);
int CmdRm(TZvtClient& client, const std::vector<std::string>& names);
int CmdFormat(TZvtClient& client, bool yes);
// Writes the files' bytes one after the other on standard output.
int CmdCat(TZvtClient& client, const std::vector<std::string>& names);
// Compares the medium's files with the folder dir (flashfs/folder_compare.h)
// and prints a line per file; exit 0 when every file matches, 1 otherwise.
int CmdDiff(TZvtClient& client, const std::string& dir);
// Exit 0 when the volume is (or, repaired, has become) consistent, 1 otherwise.
int CmdCheck(TZvtClient& client, bool repair);
// The whole medium into the image file at path, and an image file back
// onto the medium (cmd_image.cpp).
int CmdBackup(TZvtClient& client, const std::string& path);
int CmdRestore(TZvtClient& client, const std::string& path, bool yes);
// The journal's lines, of the files named only when names are given.
int CmdLog(const std::vector<std::string>& names);

// The port a command uses without --port: the one the window last worked
// on (the settings store), else COM2.
std::string DefaultPort();
// Lists the serial ports present, marking the one named port (which need
// not be present); opens none of them.
int CmdPorts(const std::string& port);

}  // namespace skarvel::zvtcmd
