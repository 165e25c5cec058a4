// A part program's bytes as text to look at. Programs are ASCII or code page
// 1251; each byte is shown as its code page 1251 character, except the bytes
// that have none to show: the control bytes (but tab and the line ends) and
// DEL become their control pictures (NUL as "␀"), the one unassigned byte
// 0x98 the replacement mark "�". So every byte of the file is on the screen
// and none is lost or merged with its neighbours. CR LF, LF and a lone CR
// each end a line. A file is called text when it holds no NUL and at most
// one byte in a hundred shown as a mark (Ctrl-Z, DOS's end of file, counts
// for neither).
//
// Threads: plain functions, any thread.
#pragma once

#include <QString>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace skarvel {

struct TTextFacts {
    int Lines = 0;  // lines of text (a last line without a line end counts)
    int Marks = 0;  // bytes shown as marks
    bool Text = true;
};

TTextFacts ScanProgramBytes(const std::vector<uint8_t>& bytes);

// Decodes the lines from byte offset `at` on, at most maxLines of them,
// joined by "\n" (no line end after the last); `at` moves past the line ends
// taken. The text of a file is the pieces joined by "\n".
QString DecodeProgramLines(const std::vector<uint8_t>& bytes, size_t& at, int maxLines);

// True for the characters DecodeProgramLines shows in place of a byte
// without a character.
bool IsByteMark(QChar c);

}  // namespace skarvel
