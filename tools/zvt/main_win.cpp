// zvt on Windows. The program splits its command line itself and expands
// the wildcards of put's file arguments, as cmd leaves both to the program
// (command_line_win.h); the arguments are handed on as UTF-8, the client's
// own encoding. Its texts reach the console as characters (console_win.cpp),
// so the console's code page and modes stay as the user has them.
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "core/utf16_win.h"
#include "tools/zvt/command_line_win.h"
#include "tools/zvt/commands.h"
#include "tools/zvt/zvt_main.h"

// The C runtime's own split of the line (argv) is not used: it takes the
// backslash before a closing quote for an escaped quote.
int wmain(int, wchar_t**) {
    using namespace skarvel;
    std::vector<std::wstring> wide = zvtcmd::SplitCommandLine(GetCommandLineW());
    // Paths are shown with the system's separator, a pattern that matches
    // nothing included.
    for (const size_t i : zvtcmd::FileArguments(wide)) std::replace(wide[i].begin(), wide[i].end(), L'/', L'\\');
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
