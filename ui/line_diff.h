// Two texts' lines set side by side: the shortest edit script between them
// (dtl, the Wu-Manber-Myers O(NP) algorithm) turned into rows of a two-pane
// view. Equal lines share a row; between two runs of equal lines the lines
// removed on the left and added on the right are paired row by row as
// changed lines, and what one side has more stands against an empty row of
// the other.
//
// Threads: a plain function, any thread (the compare window runs it on a
// pool thread for long files).
#pragma once

#include <string>
#include <vector>

namespace skarvel {

enum class TLineDiff : unsigned char { Same, Changed, LeftOnly, RightOnly };

struct TDiffRow {
    int Left = -1;   // line of the left text (from 0), -1 for an empty row
    int Right = -1;  // likewise on the right
    TLineDiff Kind = TLineDiff::Same;
    bool operator==(const TDiffRow&) const = default;
};

std::vector<TDiffRow> AlignLines(const std::vector<std::string>& left, const std::vector<std::string>& right);

// How many rows differ.
int DifferingRows(const std::vector<TDiffRow>& rows);

}  // namespace skarvel
