// Runs a program in this program's console and reads back what the console
// shows: the characters of its screen buffer, as a user sees them in a cmd
// window (ReadConsoleOutputCharacterW), whatever bytes went into it.
//
//   skarvel-console-screen SCREEN CODEPAGE [--stdout FILE] COMMAND_LINE
//
// The console's output code page is set to CODEPAGE (866 is a Russian
// system's), the buffer made wide and cleared, and COMMAND_LINE (one
// argument) started with the console as its standard handles, or with FILE
// as its standard output. Once it has ended, SCREEN gets the screen's rows
// down to the cursor as UTF-8 lines, blanks at their ends left out, and
// SCREEN.status the line "exit N codepage M": the program's exit status and
// the console's code page after it. The program's own exit status is 0, or
// 2 when it could not run the command (the reason on stderr, which is then
// the console too).
//
// It needs a console: under wine, one that a terminal gives (wine_run.sh
// --terminal); a headless wine refuses AllocConsole.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr SHORT kColumns = 160;
constexpr SHORT kRows = 400;

std::string Utf8(const std::wstring& wide) {
    if (wide.empty()) return {};
    const int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr,
                                      nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), out.data(), n, nullptr, nullptr);
    return out;
}

int Refuse(const char* what) {
    std::fprintf(stderr, "console-screen: %s (error %lu)\n", what, GetLastError());
    return 2;
}

HANDLE OpenConsole(const wchar_t* name) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    return CreateFileW(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                       OPEN_EXISTING, 0, nullptr);
}

// The rows down to the cursor's, as UTF-8 lines.
std::string ScreenText(HANDLE screen) {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    GetConsoleScreenBufferInfo(screen, &info);
    const SHORT last = info.dwCursorPosition.X > 0 ? info.dwCursorPosition.Y : info.dwCursorPosition.Y - 1;
    std::string text;
    for (SHORT y = 0; y <= last; ++y) {
        std::wstring row(static_cast<size_t>(info.dwSize.X), L' ');
        DWORD got = 0;
        ReadConsoleOutputCharacterW(screen, row.data(), static_cast<DWORD>(row.size()), COORD{0, y}, &got);
        row.resize(got);
        row.erase(row.find_last_not_of(L' ') + 1);
        text += Utf8(row) + "\n";
    }
    return text;
}

bool WriteText(const std::wstring& path, const std::string& text) {
    const HANDLE f = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE) return false;
    DWORD n = 0;
    const bool ok = WriteFile(f, text.data(), static_cast<DWORD>(text.size()), &n, nullptr) && n == text.size();
    return CloseHandle(f) && ok;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    std::vector<std::wstring> args(argv + 1, argv + argc);
    std::wstring stdoutFile;
    if (args.size() == 5 && args[2] == L"--stdout") {
        stdoutFile = args[3];
        args.erase(args.begin() + 2, args.begin() + 4);
    }
    if (args.size() != 3) {
        std::fprintf(stderr, "usage: skarvel-console-screen SCREEN CODEPAGE [--stdout FILE] COMMAND_LINE\n");
        return 2;
    }
    const HANDLE screen = OpenConsole(L"CONOUT$");
    const HANDLE keyboard = OpenConsole(L"CONIN$");
    if (screen == INVALID_HANDLE_VALUE || keyboard == INVALID_HANDLE_VALUE) return Refuse("no console");
    if (!SetConsoleOutputCP(static_cast<UINT>(std::wcstoul(args[1].c_str(), nullptr, 10))))
        return Refuse("the code page was refused");
    if (!SetConsoleScreenBufferSize(screen, COORD{kColumns, kRows})) return Refuse("the buffer size was refused");
    DWORD n = 0;
    FillConsoleOutputCharacterW(screen, L' ', static_cast<DWORD>(kColumns) * kRows, COORD{0, 0}, &n);
    SetConsoleCursorPosition(screen, COORD{0, 0});

    HANDLE out = screen;
    if (!stdoutFile.empty()) {
        SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
        out = CreateFileW(stdoutFile.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, nullptr);
        if (out == INVALID_HANDLE_VALUE) return Refuse("cannot make the standard output's file");
    }
    STARTUPINFOW start{};
    start.cb = sizeof start;
    start.dwFlags = STARTF_USESTDHANDLES;
    start.hStdInput = keyboard;
    start.hStdOutput = out;
    start.hStdError = screen;
    PROCESS_INFORMATION process{};
    std::wstring line = args[2];
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &start, &process))
        return Refuse("the command did not start");
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD exitCode = 0;
    GetExitCodeProcess(process.hProcess, &exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    if (out != screen) CloseHandle(out);

    const std::string status =
        "exit " + std::to_string(exitCode) + " codepage " + std::to_string(GetConsoleOutputCP()) + "\n";
    if (!WriteText(args[0], ScreenText(screen)) || !WriteText(args[0] + L".status", status))
        return Refuse("cannot write the screen's file");
    return 0;
}
