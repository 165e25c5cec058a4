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

// A progress bar on stderr while a request runs, when stderr is a terminal.
class TProgress {
public:
    explicit TProgress(TZvtClient& client);
    void Begin(const std::string& label, uint32_t expected) {
        label_ = label;
        expected_ = expected;
        if (tty_) client_.OnTick = [this] { Draw(); };
    }
    void End() {
        if (tty_ && client_.OnTick) std::fprintf(stderr, "\r\033[K");
        client_.OnTick = nullptr;
    }

private:
    void Draw() {
        const uint32_t done = client_.SectorFrames.load();
        const uint32_t total = expected_ ? expected_ : 1;
        const uint32_t pct = std::min<uint32_t>(100, done * 100 / total);
        const int width = 30;
        const int filled = static_cast<int>(pct * width / 100);
        std::string bar(static_cast<size_t>(filled), '#');
        bar.append(static_cast<size_t>(width - filled), '.');
        std::fprintf(stderr, "\r[%s] %3u%% %s", bar.c_str(), pct, label_.c_str());
        std::fflush(stderr);
    }

    TZvtClient& client_;
    bool tty_;
    std::string label_;
    uint32_t expected_ = 0;
};

// A name as the user gives it (the shown form, \xHH for bytes that are no
// characters) in the medium's bytes; false after a message.
bool ToMediumName(const std::string& utf8, std::string& cp1251);
const TZvtFile* FindFile(const std::vector<TZvtFile>& files, const std::string& cp1251Name);
// Identifies the device and mounts the medium; 0, or 1 after a message.
int Mount(TZvtClient& client);

int CmdInfo(TZvtClient& client);
int CmdLs(TZvtClient& client);
// The paths of put that name regular files, looked at without opening them
// (a named pipe would block the open); each other one is named on stderr.
// Runs before the port is taken. False when any was refused.
bool SelectPcFiles(const std::vector<std::string>& paths, std::vector<std::string>& files);
// Writes the PC files one by one; see cmd_put.cpp. verify: after each file
// has been written, the FAT and directory sectors the save wrote and the
// file are read back and compared.
int CmdPut(TZvtClient& client, const std::vector<std::string>& paths, bool verify);
int CmdGet(TZvtClient& client, const std::vector<std::string>& names, const std::string& dir);
int CmdRm(TZvtClient& client, const std::vector<std::string>& names);
int CmdFormat(TZvtClient& client, bool yes);
// Exit 0 when the volume is (or, repaired, has become) consistent, 1 otherwise.
int CmdCheck(TZvtClient& client, bool repair);

// The port a command uses without --port: the one the window last worked
// on (the settings store), else COM2.
std::string DefaultPort();
// Lists the serial ports present, marking the one named port (which need
// not be present); opens none of them.
int CmdPorts(const std::string& port);

}  // namespace skarvel::zvtcmd
