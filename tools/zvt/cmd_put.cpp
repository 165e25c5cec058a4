// zvt put: writes PC files onto the medium one by one, under 8.3 names that
// are unique in their folder and on the medium, optionally reading each back.
//
// A failure of one file (its name is taken, the PC file cannot be read, the
// medium has no room for it, its copy on the medium differs) is reported and
// the next file follows; a failure of the link or the medium ends the run.
#include <algorithm>
#include <climits>
#include <cstdint>
#include <optional>

#include "core/cp1251.h"
#include "core/short_name.h"
#include "flashfs/frame_cost.h"
#include "tools/zvt/commands.h"
#include "tools/zvt/console.h"
#include "tools/zvt/pc_files.h"

namespace skarvel::zvtcmd {

namespace {

enum class TPutOutcome { Written, Failed, LinkDown };

// What the files of one put share. Runs on the client's main thread.
struct TPutRun {
    TZvtClient& Client;
    TProgress Progress;
    bool Verify;
    bool Replace;
    // The names on the medium and those this run has written; read only
    // once a generated name needs them.
    std::optional<std::vector<TZvtFile>> Taken;
    uint8_t ListError = 0;
};

TPutOutcome FileFailed(const std::string& what, uint8_t code) {
    Fail(what);
    return IsLinkFailure(code) ? TPutOutcome::LinkDown : TPutOutcome::Failed;
}

// The 8.3 name of the PC file, whose generated "~n" is also free on the
// medium. "" when the medium's names could not be read (ListError).
std::string MediumShortName(TPutRun& run, const std::string& path) {
    run.ListError = 0;
    const std::string name = ShortPathName(path, [&run](const std::string& candidate) {
        if (!run.Taken) {
            std::vector<TZvtFile> files;
            if (const uint8_t r = run.Client.List(files); r != feOk) {
                run.ListError = r;
                return false;
            }
            run.Taken = std::move(files);
        }
        return FindFile(*run.Taken, candidate) != nullptr;
    });
    return run.ListError != feOk ? std::string() : name;
}

// The most bytes a file may have to fit into the free clusters (a file
// takes one cluster more than its whole clusters); -1 when none fits.
int64_t LargestFit(TZvtClient& client) {
    const uint64_t free = client.Driver().FreeBytes();
    return free == 0 ? -1 : static_cast<int64_t>(free - 1);
}

std::string AreaText(const TSaveFault& f) {
    switch (f.Area) {
        case TSaveArea::Fat: return "сектор FAT " + std::to_string(f.Sector) + " читается не так, как записан";
        case TSaveArea::Directory:
            return "сектор каталога " + std::to_string(f.Sector) + " читается не так, как записан";
        case TSaveArea::Data: break;
    }
    return "файл на флэш не совпадает с файлом ПК";
}

std::string FilesText(const TSaveFault& f) {
    if (f.Area == TSaveArea::Data) return "";
    if (f.Files.empty()) return " (файлов не затрагивает)";
    std::string names;
    for (const std::string& n : f.Files) names += (names.empty() ? "" : ", ") + MediumNameToUtf8(n);
    return "; затронуты файлы: " + names;
}

// Reads back everything the save wrote: the FAT and directory sectors and
// the file. A difference is named with the files it touches; a saved file
// that is among them is deleted, so that no wrong program stays on the
// medium under its name. Other files are left as they are: the report
// names them (zvt check tells more).
TPutOutcome VerifyOne(TPutRun& run, const std::string& path, const std::string& name, const std::vector<uint8_t>& data) {
    TZVT_drv& d = run.Client.Driver();
    const std::string prefix = "Ошибка проверки файла " + path + ": ";
    run.Progress.Begin("проверка " + MediumNameToUtf8(name),
                       VerifyFrames(d.Geometry(), static_cast<uint32_t>(data.size())).All());
    TSaveCheck check;
    const uint8_t r = run.Client.RunOnWorker([&](TZVT_drv& drv) {
        return drv.VerifySave(drv.LastSave(), data.data(), static_cast<uint32_t>(data.size()), check);
    });
    run.Progress.End();
    if (r != feOk) return FileFailed(prefix + ErrorText(r), r);
    if (check.Clean()) return TPutOutcome::Written;
    std::string report;
    for (const TSaveFault& f : check.Faults) report += (report.empty() ? "" : "; ") + AreaText(f) + FilesText(f);
    if (!check.Touches(d.LastSave().Shown)) return FileFailed(prefix + report, feOk);
    const uint8_t del = run.Client.Delete(name);
    if (del != feOk) return FileFailed(prefix + report + ", удалить его не удалось: " + ErrorText(del), del);
    return FileFailed(prefix + report + ", файл удалён с флэш", feOk);
}

TPutOutcome PutOne(TPutRun& run, const std::string& path) {
    const std::string writeError = "Ошибка записи файла " + path + ": ";
    // The size the file records decides before a byte is read; the read
    // stops one piece past what fits (a file that records no size, one that
    // grows meanwhile).
    const int64_t fit = LargestFit(run.Client);
    const std::string noRoom =
        writeError + ErrorText(feNoRoom) + " (свободно " + BytesText(fit < 0 ? 0 : static_cast<uint64_t>(fit) + 1) + ")";
    std::vector<uint8_t> data;
    std::string error;
    switch (fit < 0 ? TPcRead::TooBig : ReadPcFile(path, static_cast<uint64_t>(fit), data, error)) {
        case TPcRead::Ok: break;
        case TPcRead::TooBig: return FileFailed(noRoom, feNoRoom);
        case TPcRead::Failed: return FileFailed(error, feOk);
    }
    const std::string name = MediumShortName(run, path);
    if (name.empty()) return FileFailed(writeError + ErrorText(run.ListError), run.ListError);

    run.Progress.Begin(MediumNameToUtf8(name),
                       SaveFrames(run.Client.Driver().Geometry(), static_cast<uint32_t>(data.size())).All());
    TFlashError r = run.Client.Save(name, data);
    // Only a name the file has as it stands can be taken: a generated one
    // is free on the medium.
    const bool replaced = r == feExists && run.Replace;
    if (replaced) r = run.Client.Replace(name, data);
    run.Progress.End();
    if (r == feExists) return FileFailed(writeError + ErrorText(r) + " (--replace заменит его)", r);
    if (r == feNoRoomForCopy)
        return FileFailed(writeError + ErrorText(r) + "; старый файл на флэш не изменён (удалите его командой rm и "
                                                      "запишите файл снова)", r);
    if (r != feOk) return FileFailed(writeError + ErrorText(r), r);
    if (run.Taken) run.Taken->push_back(TZvtFile{name, static_cast<uint32_t>(data.size())});
    if (run.Verify) {
        const TPutOutcome checked = VerifyOne(run, path, name, data);
        if (checked != TPutOutcome::Written) return checked;
    }
    // As ls lists it: the entry holds the name in capitals.
    const std::string& shown = run.Client.Driver().LastSave().Shown;
    const std::string& listed = shown.empty() ? name : shown;
    PrintOut(path + " -> " + MediumNameToUtf8(listed) + " (" + BytesText(data.size()) +
             (replaced ? ", заменён" : "") + (run.Verify ? ", проверен" : "") + ")\n");
    return TPutOutcome::Written;
}

}  // namespace

bool SelectPcFiles(const std::vector<std::string>& paths, std::vector<std::string>& files) {
    files.clear();
    bool all = true;
    for (const std::string& path : paths) {
        uint64_t size = 0;
        std::string error;
        if (LookAtPcFile(path, size, error) == TPcKind::Regular) {
            files.push_back(path);
        } else {
            Fail(error);
            all = false;
        }
    }
    return all;
}

int CmdPut(TZvtClient& client, const std::vector<std::string>& paths, bool verify, bool replace) {
    if (paths.empty()) {
        Fail("put: не указаны файлы");
        return 2;
    }
    if (int rc = Mount(client)) return rc;
    TPutRun run{client, TProgress(client), verify, replace, std::nullopt, 0};
    int rc = 0;
    for (size_t i = 0; i < paths.size(); ++i) {
        const TPutOutcome outcome = PutOne(run, paths[i]);
        if (outcome == TPutOutcome::Written) continue;
        rc = 1;
        if (outcome == TPutOutcome::LinkDown) {
            std::string rest;
            for (size_t k = i + 1; k < paths.size(); ++k) rest += (rest.empty() ? "" : ", ") + paths[k];
            if (!rest.empty()) Fail("запись остановлена, не записаны: " + rest);
            break;
        }
    }
    return rc;
}

}  // namespace skarvel::zvtcmd
