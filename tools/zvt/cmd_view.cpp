// zvt cat: a file of the medium on standard output, byte for byte (for a
// pager or diff). zvt diff: the medium's files against a PC folder, one line
// each, exit status 0 when every file matches.
#include "core/cp1251.h"
#include "core/short_name.h"
#include "flashfs/folder_compare.h"
#include "flashfs/frame_cost.h"
#include "tools/zvt/commands.h"
#include "tools/zvt/console.h"
#include "tools/zvt/pc_files.h"

namespace skarvel::zvtcmd {

namespace {

// Loads one file of the list with the progress bar; the worker's result.
uint8_t LoadListed(TZvtClient& client, TProgress& progress, const TZvtFile& file, std::vector<uint8_t>& data) {
    progress.Begin(MediumNameToUtf8(file.Name), LoadFrames(client.Worker().Geometry(), file.Size).All());
    const uint8_t r = client.LoadWhole(file.Name, data);
    progress.End();
    return r;
}

std::string Padded(std::string utf8, size_t width) {
    const size_t shown = Utf8Length(utf8);
    if (shown < width) utf8.append(width - shown, ' ');
    return utf8;
}

// One line of the table: the name on the medium (for a file missing there,
// the 8.3 name it would take), the outcome, and the PC file's own name
// where it is another, or why the pair could not be compared.
std::string TableLine(const TCompareRow& row) {
    const std::string name = MediumNameToUtf8(row.MediumName.empty() ? row.ShortName : row.MediumName);
    std::string line = Padded(name, 12) + " " + Padded(CompareOutcomeText(row.Outcome), 10);
    std::string note = row.PcName == name ? std::string() : row.PcName;
    if (!row.Error.empty()) note = row.Error;
    if (!note.empty()) line += " " + note;
    while (!line.empty() && line.back() == ' ') line.pop_back();
    return line + "\n";
}

}  // namespace

int CmdCat(TZvtClient& client, const std::vector<std::string>& names) {
    if (names.empty()) {
        Fail("cat: не указаны имена файлов");
        return 2;
    }
    std::vector<TZvtFile> files;
    if (int rc = ListMedium(client, files)) return rc;
    TProgress progress(client);
    for (const std::string& utf8 : names) {
        std::string name;
        if (!ToMediumName(utf8, name)) return 1;
        const TZvtFile* file = FindFile(files, name);
        if (!file) {
            Fail(utf8 + ": " + ErrorText(feNotFound));
            return 1;
        }
        std::vector<uint8_t> data;
        if (const uint8_t r = LoadListed(client, progress, *file, data); r != feOk) {
            Fail("Ошибка чтения файла " + MediumNameToUtf8(file->Name) + ": " + ErrorText(r));
            return 1;
        }
        switch (WriteOutBytes(data.data(), data.size())) {
            case TWriteOut::Written: break;
            case TWriteOut::ReaderGone: return 0;
            case TWriteOut::Failed: Fail("не удалось записать в стандартный вывод"); return 1;
        }
    }
    return 0;
}

int CmdDiff(TZvtClient& client, const std::string& dir) {
    std::vector<std::string> pcNames;
    std::string error;
    if (!IsFolder(dir)) {
        uint64_t size = 0;
        Fail(dir + (LookAtPcFile(dir, size, error) == TPcKind::Missing ? ": папка не найдена" : ": это не папка"));
        return 1;
    }
    if (!ListFolderFiles(dir, pcNames, error)) {
        Fail(error);
        return 1;
    }
    std::vector<TZvtFile> files;
    if (int rc = ListMedium(client, files)) return rc;
    std::vector<TMediumFile> medium;
    for (const TZvtFile& f : files) medium.push_back({f.Name, f.Size});

    TProgress progress(client);
    // Once the link has failed no later file can be read: the run ends
    // with its reason instead of a table of errors.
    std::string linkError;
    TCompareSources sources;
    sources.ReadMedium = [&](const TCompareRow& row, std::vector<uint8_t>& data, std::string& why) {
        if (!linkError.empty()) return false;
        const uint8_t r = LoadListed(client, progress, {row.MediumName, row.MediumSize}, data);
        why = ErrorText(r);
        if (r != feOk && IsLinkFailure(r)) linkError = why;
        return r == feOk;
    };
    sources.ReadPc = [&](const std::string& pcName, std::vector<uint8_t>& data, std::string& why) {
        return ReadPcFile(PcPath(dir, pcName), data, why);
    };
    const std::vector<TCompareRow> rows = CompareWithFolder(
        medium, pcNames, [&](const std::vector<std::string>& names) { return FolderShortNames(dir, names); }, sources);
    if (!linkError.empty()) {
        Fail(linkError);
        return 1;
    }
    for (const TCompareRow& row : rows) PrintOut(TableLine(row));
    return AllSame(rows) ? 0 : 1;
}

}  // namespace skarvel::zvtcmd
