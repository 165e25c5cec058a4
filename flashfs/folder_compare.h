// How the files on the medium stand against a folder of programs on the PC.
// Each file of the medium is paired with the folder's file of the same 8.3
// name (letter case ignored; a PC file whose name does not fit 8.3 answers to
// its short name) and judged by its bytes; the folder's programs (*.lst,
// *.tnc, *.iso) that no file of the medium names are listed too. The window's
// compare and `zvt diff` both use it: they differ only in how they read the
// two sides, which comes in through TCompareSources or, for a reader that
// cannot wait (the window loads the medium's files on the worker thread), in
// two steps: PairWithFolder, then JudgeRow for each pair.
//
// Threads: none of its own; plain functions on the caller's data.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace skarvel {

enum class TCompareOutcome : uint8_t {
    Pending,      // paired, the bytes not compared yet
    Same,         // the same bytes on both sides
    Differs,      // other bytes (or another size)
    NotOnPc,      // no file of the folder answers to the medium's name
    NotOnMedium,  // a program of the folder that no file of the medium names
    Failed,       // a side could not be read, or two PC files answer the name; Error says why
};

// The word the list and `zvt diff` show for an outcome (UTF-8): "совпадает",
// "отличается", "нет на ПК", "нет на ZVT", "ошибка"; empty for Pending.
const char* CompareOutcomeText(TCompareOutcome outcome);

// A file of the medium as its list names it.
struct TMediumFile {
    std::string Name;  // code page 1251, as the directory holds it
    uint32_t Size = 0;
};

struct TCompareRow {
    // The medium's file; empty for NotOnMedium.
    std::string MediumName;  // code page 1251
    uint32_t MediumSize = 0;
    // The folder's file (its name there, UTF-8); empty for NotOnPc.
    std::string PcName;
    // The 8.3 name (code page 1251) the PC file answers to; empty for NotOnPc.
    std::string ShortName;
    TCompareOutcome Outcome = TCompareOutcome::Pending;
    std::string Error;  // UTF-8, for Failed

    bool Paired() const { return !MediumName.empty() && !PcName.empty(); }
};

// The short names of a folder's files (code page 1251), index for index with
// the names given: core/short_name.h's FolderShortNames for a real folder.
using TShortNamesOf = std::function<std::vector<std::string>(const std::vector<std::string>& pcNames)>;

// Pairs the medium's files with the folder's files (pcNames: the names of its
// regular files, UTF-8). The rows come in the medium's order, each Pending
// when paired, NotOnPc otherwise, or Failed when two PC files answer the name
// alike (a.tnc beside A.TNC on a system that tells them apart: either could be
// the program meant); then the folder's programs that no medium file names,
// NotOnMedium, by short name.
std::vector<TCompareRow> PairWithFolder(const std::vector<TMediumFile>& medium, const std::vector<std::string>& pcNames,
                                        const TShortNamesOf& shortNames);

// Judges a Pending row by the two files' bytes.
void JudgeRow(TCompareRow& row, const std::vector<uint8_t>& mediumBytes, const std::vector<uint8_t>& pcBytes);
// A Pending row whose side could not be read: Failed with the reason.
void FailRow(TCompareRow& row, const std::string& error);

// How a synchronous caller reads the two sides: each returns false with a
// reason (UTF-8) when the file cannot be read whole.
struct TCompareSources {
    std::function<bool(const TCompareRow& row, std::vector<uint8_t>& data, std::string& error)> ReadMedium;
    std::function<bool(const std::string& pcName, std::vector<uint8_t>& data, std::string& error)> ReadPc;
};

// PairWithFolder, then every pair read and judged in turn.
std::vector<TCompareRow> CompareWithFolder(const std::vector<TMediumFile>& medium,
                                           const std::vector<std::string>& pcNames, const TShortNamesOf& shortNames,
                                           const TCompareSources& sources);

// True when every row is Same (an empty medium beside a folder without
// programs included).
bool AllSame(const std::vector<TCompareRow>& rows);

// Whether a PC file's name is one of the program types (*.lst, *.tnc, *.iso,
// letter case ignored).
bool IsProgramName(const std::string& pcName);

}  // namespace skarvel
