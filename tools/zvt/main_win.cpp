// zvt on Windows. The program splits its command line itself and expands
// the wildcards of put's file arguments, as cmd leaves both to the program
// (command_line_win.h); the arguments are handed on as UTF-8, the client's
// own encoding. The console is switched to UTF-8 for the run so that its
// messages (Russian ones included) print as they are, and the progress
// bar's terminal sequences are switched on.
#include <windows.h>

#include <string>
#include <vector>

#include "core/utf16_win.h"
#include "tools/zvt/command_line_win.h"
#include "tools/zvt/commands.h"
#include "tools/zvt/zvt_main.h"

namespace {

// The console's output code page and stderr's mode, put back at the end:
// they belong to the console window, which outlives this program.
class TConsoleUtf8 {
public:
    TConsoleUtf8() : codePage_(GetConsoleOutputCP()), err_(GetStdHandle(STD_ERROR_HANDLE)) {
        SetConsoleOutputCP(CP_UTF8);
        if (GetConsoleMode(err_, &errMode_))
            SetConsoleMode(err_, errMode_ | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
        else
            err_ = nullptr;
    }
    ~TConsoleUtf8() {
        if (codePage_) SetConsoleOutputCP(codePage_);
        if (err_) SetConsoleMode(err_, errMode_);
    }
    TConsoleUtf8(const TConsoleUtf8&) = delete;
    TConsoleUtf8& operator=(const TConsoleUtf8&) = delete;

private:
    UINT codePage_;
    HANDLE err_;
    DWORD errMode_ = 0;
};

}  // namespace

// The C runtime's own split of the line (argv) is not used: it takes the
// backslash before a closing quote for an escaped quote.
int wmain(int, wchar_t**) {
    using namespace skarvel;
    TConsoleUtf8 console;
    std::vector<std::wstring> wide = zvtcmd::SplitCommandLine(GetCommandLineW());
    const std::string error = zvtcmd::ExpandFileWildcards(wide);
    if (!error.empty()) {
        zvtcmd::Fail(error);
        return 1;
    }
    std::vector<std::string> args;
    for (const std::wstring& a : wide) args.push_back(WideToUtf8(a));
    std::vector<char*> pointers;
    for (std::string& a : args) pointers.push_back(a.data());
    pointers.push_back(nullptr);
    return ZvtMain(static_cast<int>(args.size()), pointers.data());
}
