#include "ui/line_diff.h"

#include <dtl/dtl.hpp>

#include <algorithm>
#include <unordered_map>

namespace skarvel {

namespace {

// Lines as numbers, one per distinct line: the edit script compares
// integers instead of strings.
void Number(const std::vector<std::string>& left, const std::vector<std::string>& right, std::vector<int>& a,
            std::vector<int>& b) {
    std::unordered_map<std::string, int> ids;
    const auto id = [&](const std::string& line) { return ids.emplace(line, static_cast<int>(ids.size())).first->second; };
    a.reserve(left.size());
    b.reserve(right.size());
    for (const std::string& l : left) a.push_back(id(l));
    for (const std::string& l : right) b.push_back(id(l));
}

// Pairs a run of removed and added lines as changed rows; the longer side's
// rest stands alone.
void FlushRun(std::vector<int>& removed, std::vector<int>& added, std::vector<TDiffRow>& rows) {
    const size_t paired = std::min(removed.size(), added.size());
    for (size_t i = 0; i < paired; ++i) rows.push_back({removed[i], added[i], TLineDiff::Changed});
    for (size_t i = paired; i < removed.size(); ++i) rows.push_back({removed[i], -1, TLineDiff::LeftOnly});
    for (size_t i = paired; i < added.size(); ++i) rows.push_back({-1, added[i], TLineDiff::RightOnly});
    removed.clear();
    added.clear();
}

}  // namespace

std::vector<TDiffRow> AlignLines(const std::vector<std::string>& left, const std::vector<std::string>& right) {
    std::vector<int> a, b;
    Number(left, right, a, b);
    // What both texts begin and end with needs no edit script: a changed
    // program differs in a few lines of thousands.
    size_t head = 0;
    while (head < a.size() && head < b.size() && a[head] == b[head]) ++head;
    size_t tail = 0;
    while (tail < a.size() - head && tail < b.size() - head && a[a.size() - 1 - tail] == b[b.size() - 1 - tail]) ++tail;

    std::vector<TDiffRow> rows;
    rows.reserve(std::max(a.size(), b.size()));
    for (size_t i = 0; i < head; ++i) rows.push_back({static_cast<int>(i), static_cast<int>(i), TLineDiff::Same});
    const std::vector<int> midA(a.begin() + static_cast<long>(head), a.end() - static_cast<long>(tail));
    const std::vector<int> midB(b.begin() + static_cast<long>(head), b.end() - static_cast<long>(tail));
    if (!midA.empty() || !midB.empty()) {
        dtl::Diff<int, std::vector<int>> diff(midA, midB);
        diff.enableHuge();
        diff.compose();
        std::vector<int> removed, added;
        for (const auto& [elem, info] : diff.getSes().getSequence()) {
            // The edit script counts its lines from 1.
            const int l = static_cast<int>(head) + static_cast<int>(info.beforeIdx) - 1;
            const int r = static_cast<int>(head) + static_cast<int>(info.afterIdx) - 1;
            if (info.type == dtl::SES_DELETE) {
                removed.push_back(l);
            } else if (info.type == dtl::SES_ADD) {
                added.push_back(r);
            } else {
                FlushRun(removed, added, rows);
                rows.push_back({l, r, TLineDiff::Same});
            }
        }
        FlushRun(removed, added, rows);
    }
    for (size_t i = tail; i > 0; --i)
        rows.push_back({static_cast<int>(a.size() - i), static_cast<int>(b.size() - i), TLineDiff::Same});
    return rows;
}

int DifferingRows(const std::vector<TDiffRow>& rows) {
    return static_cast<int>(std::count_if(rows.begin(), rows.end(), [](const TDiffRow& r) { return r.Kind != TLineDiff::Same; }));
}

}  // namespace skarvel
