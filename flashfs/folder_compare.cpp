#include "flashfs/folder_compare.h"

#include <algorithm>
#include <map>

#include "flashfs/my_str.h"

namespace skarvel {

namespace {

std::string Caps(const std::string& cp1251) {
    std::string out = cp1251;
    for (char& c : out) c = static_cast<char>(CapsTable[static_cast<uint8_t>(c)]);
    return out;
}

bool EndsWithCaseless(const std::string& s, const char* tail) {
    const std::string t = tail;
    if (s.size() < t.size()) return false;
    for (size_t i = 0; i < t.size(); ++i) {
        const char a = s[s.size() - t.size() + i];
        const char b = t[i];
        if ((a >= 'A' && a <= 'Z' ? static_cast<char>(a + 0x20) : a) != b) return false;
    }
    return true;
}

}  // namespace

const char* CompareOutcomeText(TCompareOutcome outcome) {
    switch (outcome) {
        case TCompareOutcome::Pending: return "";
        case TCompareOutcome::Same: return "совпадает";
        case TCompareOutcome::Differs: return "отличается";
        case TCompareOutcome::NotOnPc: return "нет на ПК";
        case TCompareOutcome::NotOnMedium: return "нет на ZVT";
        case TCompareOutcome::Failed: return "ошибка";
    }
    return "";
}

bool IsProgramName(const std::string& pcName) {
    return EndsWithCaseless(pcName, ".lst") || EndsWithCaseless(pcName, ".tnc") || EndsWithCaseless(pcName, ".iso");
}

std::vector<TCompareRow> PairWithFolder(const std::vector<TMediumFile>& medium, const std::vector<std::string>& pcNames,
                                        const TShortNamesOf& shortNames) {
    const std::vector<std::string> shorts = shortNames(pcNames);
    // The folder's files by their short name in capitals; a name that two
    // files answer to keeps both.
    std::map<std::string, std::vector<size_t>> byName;
    for (size_t i = 0; i < pcNames.size() && i < shorts.size(); ++i) byName[Caps(shorts[i])].push_back(i);

    std::vector<TCompareRow> rows;
    std::vector<bool> named(pcNames.size(), false);
    for (const TMediumFile& file : medium) {
        TCompareRow row;
        row.MediumName = file.Name;
        row.MediumSize = file.Size;
        const auto it = byName.find(Caps(file.Name));
        if (it == byName.end()) {
            row.Outcome = TCompareOutcome::NotOnPc;
        } else {
            for (size_t i : it->second) named[i] = true;
            row.PcName = pcNames[it->second.front()];
            row.ShortName = shorts[it->second.front()];
            if (it->second.size() > 1) {
                std::string names;
                for (size_t i : it->second) names += (names.empty() ? "" : ", ") + pcNames[i];
                FailRow(row, "в папке несколько файлов с этим именем: " + names);
            }
        }
        rows.push_back(std::move(row));
    }

    std::vector<size_t> missing;
    for (size_t i = 0; i < pcNames.size() && i < shorts.size(); ++i)
        if (!named[i] && IsProgramName(pcNames[i])) missing.push_back(i);
    std::sort(missing.begin(), missing.end(), [&](size_t a, size_t b) {
        return std::make_pair(Caps(shorts[a]), pcNames[a]) < std::make_pair(Caps(shorts[b]), pcNames[b]);
    });
    for (size_t i : missing) {
        TCompareRow row;
        row.PcName = pcNames[i];
        row.ShortName = shorts[i];
        row.Outcome = TCompareOutcome::NotOnMedium;
        rows.push_back(std::move(row));
    }
    return rows;
}

void JudgeRow(TCompareRow& row, const std::vector<uint8_t>& mediumBytes, const std::vector<uint8_t>& pcBytes) {
    if (row.Outcome != TCompareOutcome::Pending) return;
    row.Outcome = mediumBytes == pcBytes ? TCompareOutcome::Same : TCompareOutcome::Differs;
}

void FailRow(TCompareRow& row, const std::string& error) {
    row.Outcome = TCompareOutcome::Failed;
    row.Error = error;
}

std::vector<TCompareRow> CompareWithFolder(const std::vector<TMediumFile>& medium,
                                           const std::vector<std::string>& pcNames, const TShortNamesOf& shortNames,
                                           const TCompareSources& sources) {
    std::vector<TCompareRow> rows = PairWithFolder(medium, pcNames, shortNames);
    for (TCompareRow& row : rows) {
        if (row.Outcome != TCompareOutcome::Pending) continue;
        std::vector<uint8_t> mediumBytes, pcBytes;
        std::string error;
        if (!sources.ReadMedium(row, mediumBytes, error) || !sources.ReadPc(row.PcName, pcBytes, error)) {
            FailRow(row, error);
            continue;
        }
        JudgeRow(row, mediumBytes, pcBytes);
    }
    return rows;
}

bool AllSame(const std::vector<TCompareRow>& rows) {
    return std::all_of(rows.begin(), rows.end(), [](const TCompareRow& r) { return r.Outcome == TCompareOutcome::Same; });
}

}  // namespace skarvel
