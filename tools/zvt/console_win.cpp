// The console on Windows. A console takes characters: WriteConsoleW shows
// Cyrillic whatever the console's code page (866 on a Russian system, where
// UTF-8 bytes written as bytes turn into mojibake), so the code page, which
// belongs to the console window and outlives zvt, is never changed. A
// handle that is no console (a file, a pipe, NUL) gets UTF-8 bytes with the
// CR LF line ends of the system's text files. Nothing goes through the C
// runtime's streams: its narrow output would write the bytes as they are.
#include "tools/zvt/console.h"

#include <windows.h>

#include <algorithm>
#include <string>

#include "core/cp1251.h"
#include "core/utf16_win.h"

namespace skarvel::zvtcmd {

namespace {

bool IsConsole(HANDLE h) {
    DWORD mode = 0;
    return GetConsoleMode(h, &mode) != 0;
}

void WriteToConsole(HANDLE h, std::string_view utf8) {
    const std::wstring wide = Utf8ToWide(utf8);
    // In pieces: older consoles refuse a call of more than 64 KiB.
    constexpr size_t kPiece = 8192;
    for (size_t at = 0; at < wide.size();) {
        size_t n = std::min(wide.size() - at, kPiece);
        // A surrogate pair stays whole.
        if (at + n < wide.size() && IS_HIGH_SURROGATE(wide[at + n - 1])) --n;
        DWORD written = 0;
        if (!WriteConsoleW(h, wide.data() + at, static_cast<DWORD>(n), &written, nullptr) || written == 0) return;
        at += written;
    }
}

void WriteBytes(HANDLE h, std::string_view utf8) {
    std::string bytes;
    bytes.reserve(utf8.size() + 16);
    for (const char c : utf8) {
        if (c == '\n') bytes += '\r';
        bytes += c;
    }
    for (size_t at = 0; at < bytes.size();) {
        DWORD written = 0;
        if (!WriteFile(h, bytes.data() + at, static_cast<DWORD>(bytes.size() - at), &written, nullptr) ||
            written == 0)
            return;
        at += written;
    }
}

void Put(DWORD stream, std::string_view utf8) {
    const HANDLE h = GetStdHandle(stream);
    if (h == nullptr || h == INVALID_HANDLE_VALUE || utf8.empty()) return;
    if (IsConsole(h)) WriteToConsole(h, utf8);
    else WriteBytes(h, utf8);
}

}  // namespace

void PrintOut(std::string_view utf8) { Put(STD_OUTPUT_HANDLE, utf8); }

void PrintErr(std::string_view utf8) { Put(STD_ERROR_HANDLE, utf8); }

TWriteOut WriteOutBytes(const void* data, size_t size) {
    const HANDLE h = GetStdHandle(STD_OUTPUT_HANDLE);
    if (h == nullptr || h == INVALID_HANDLE_VALUE) return TWriteOut::Failed;
    const auto* p = static_cast<const char*>(data);
    if (IsConsole(h)) {
        WriteToConsole(h, Cp1251ToUtf8(std::string_view(p, size)));
        return TWriteOut::Written;
    }
    // WriteFile moves the bytes as they are, whatever mode the C runtime
    // would give the stream.
    for (size_t at = 0; at < size;) {
        DWORD written = 0;
        const DWORD piece = static_cast<DWORD>(std::min<size_t>(size - at, 1 << 20));
        if (!WriteFile(h, p + at, piece, &written, nullptr) || written == 0)
            return GetLastError() == ERROR_NO_DATA || GetLastError() == ERROR_BROKEN_PIPE ? TWriteOut::ReaderGone
                                                                                          : TWriteOut::Failed;
        at += written;
    }
    return TWriteOut::Written;
}

bool StderrIsTerminal() { return IsConsole(GetStdHandle(STD_ERROR_HANDLE)); }

const char* PortOptionHelp() {
    return "  --port ИМЯ    последовательный порт: COMn (COM10 и выше тоже)\n"
           "                или путь устройства \\\\.\\... (по умолчанию порт, на котором\n"
           "                последним работало окно Skarvel, иначе COM2)\n";
}

}  // namespace skarvel::zvtcmd
