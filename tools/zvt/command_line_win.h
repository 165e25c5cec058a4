// zvt's command line on Windows, where the program itself splits the line
// into arguments and expands wildcards: cmd hands both tasks to the program.
// Windows only.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace skarvel::zvtcmd {

// Splits a command line (GetCommandLineW) into arguments by the C runtime's
// rules: blanks and tabs separate arguments, double quotes group, 2n
// backslashes before a quote are n backslashes and the quote groups, 2n+1
// are n backslashes and a literal quote. One exception keeps a habit of
// cmd: a backslash before the closing quote of an argument (a quote that
// blanks or the line's end follow) stays a backslash, so
// -C "C:\Loaded Programs\" is the folder, not a folder name with a quote
// that swallows the arguments after it. No argument of zvt can hold a
// quote (file names, 8.3 names and port names have none), so the exception
// takes nothing away. The program's own name (the first argument) runs to
// the next blank, or from a quote to the next quote, with no escapes.
std::vector<std::wstring> SplitCommandLine(std::wstring_view line);

// The indexes of the arguments that name PC files: the operands of put
// (args[0] is the program). The same reading of options as the command
// line's own: --port and --baud take a value wherever they stand.
std::vector<size_t> FileArguments(const std::vector<std::wstring>& args);

// Replaces each file argument that holds * or ? by the files it matches
// (FindFirstFileW, folders left out), sorted by name and with the pattern's
// folder in front as it was typed. Other arguments stay as they are: a
// name without wildcards goes to put as it is, and put says what is wrong
// with it. Returns "" or, when a pattern matches no file, the message that
// names the pattern (UTF-8); args are then unchanged.
std::string ExpandFileWildcards(std::vector<std::wstring>& args);

}  // namespace skarvel::zvtcmd
