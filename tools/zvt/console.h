// The command-line client's terminal side, which differs per platform
// (console_posix.cpp, console_win.cpp): where its texts go, and whether
// stderr is a terminal.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace skarvel::zvtcmd {

// Texts for the user, UTF-8: results on standard output, messages and the
// progress bar on standard error. On Windows a console gets them as
// characters (WriteConsoleW), whatever its code page; an output redirected
// to a file or a pipe gets UTF-8 bytes with CR LF line ends. On Linux the
// bytes go out as they are. Nothing else in zvt writes to either stream
// but WriteOutBytes.
void PrintOut(std::string_view utf8);
void PrintErr(std::string_view utf8);

// The bytes of a file as they are, on standard output (zvt cat): no line
// end or code page conversion when it goes to a file or a pipe (binary mode
// on Windows). A Windows console gets them as code page 1251 characters,
// the medium's own. 1 when the output cannot take them (a disk full: a
// message says so), 0 when it took them all or its reader has gone (a pager
// quit before the end): that ends the output quietly.
enum class TWriteOut : uint8_t { Written, ReaderGone, Failed };
TWriteOut WriteOutBytes(const void* data, size_t size);

// True when stderr is a terminal (the progress bar is drawn only there).
bool StderrIsTerminal();

// The help lines of --port: how port names are written on this system.
const char* PortOptionHelp();

}  // namespace skarvel::zvtcmd
