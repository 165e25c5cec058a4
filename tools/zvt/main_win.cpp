// zvt on Windows. The arguments arrive as UTF-16 and are handed on as
// UTF-8, the client's own encoding; the console is switched to UTF-8 for
// the run so that its messages (Russian ones included) print as they are,
// and the progress bar's terminal sequences are switched on.
#include <windows.h>

#include <string>
#include <vector>

#include "core/utf16_win.h"
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

int wmain(int argc, wchar_t** argv) {
    TConsoleUtf8 console;
    std::vector<std::string> args;
    for (int i = 0; i < argc; ++i) args.push_back(skarvel::WideToUtf8(argv[i]));
    std::vector<char*> pointers;
    for (std::string& a : args) pointers.push_back(a.data());
    pointers.push_back(nullptr);
    return skarvel::ZvtMain(argc, pointers.data());
}
