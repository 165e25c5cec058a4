// zvt put: writes PC files onto the medium one by one, under 8.3 names that
// are unique in their folder and on the medium, optionally reading each back.
//
// A failure of one file (its name is taken, the PC file cannot be read, the
// medium has no room for it, its copy on the medium differs) is reported and
// the next file follows; a failure of the link or the medium ends the run.
#include <algorithm>
#include <climits>
#include <optional>

#include "core/cp1251.h"
#include "core/short_name.h"
#include "tools/zvt/commands.h"
#include "tools/zvt/pc_files.h"

namespace skarvel::zvtcmd {

namespace {

enum class TPutOutcome { Written, Failed, LinkDown };

// What the files of one put share. Runs on the client's main thread.
struct TPutRun {
    TZvtClient& Client;
    TProgress Progress;
    bool Verify;
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

// Clusters the save of size bytes takes.
uint32_t ClustersFor(TZvtClient& client, size_t size) {
    const uint32_t clusterBytes = client.Driver().FSectorsPerCluster * SectorSize;
    const auto bytes = static_cast<uint32_t>(std::min<size_t>(size, UINT32_MAX));
    return clusterBytes == 0 ? 0 : ChainLength(bytes, clusterBytes);
}

// Reads the file back; a copy that differs is deleted, so that no wrong
// program stays on the medium under the file's name.
TPutOutcome VerifyOne(TPutRun& run, const std::string& path, const std::string& name, const std::vector<uint8_t>& data) {
    TZVT_drv& d = run.Client.Driver();
    const std::string prefix = "Ошибка проверки файла " + path + ": ";
    run.Progress.Begin("проверка " + Cp1251ToUtf8(name),
                       d.SectorsForFile(name.c_str(), static_cast<uint32_t>(data.size())) + 2u * d.FSectorsPerCluster);
    bool same = false;
    const uint8_t r = run.Client.Verify(name, data, same);
    run.Progress.End();
    if (r != feOk) return FileFailed(prefix + ErrorText(r), r);
    if (same) return TPutOutcome::Written;
    const std::string differs = prefix + "файл на флэш не совпадает с файлом ПК";
    const uint8_t del = run.Client.Delete(name);
    if (del != feOk) return FileFailed(differs + ", удалить его не удалось: " + ErrorText(del), del);
    return FileFailed(differs + ", файл удалён с флэш", feOk);
}

TPutOutcome PutOne(TPutRun& run, const std::string& path) {
    std::vector<uint8_t> data;
    std::string error;
    if (!ReadPcFile(path, data, error)) return FileFailed(error, feOk);
    const std::string writeError = "Ошибка записи файла " + path + ": ";
    const std::string name = MediumShortName(run, path);
    if (name.empty()) return FileFailed(writeError + ErrorText(run.ListError), run.ListError);
    // A file the medium cannot hold is refused before anything is written.
    if (ClustersFor(run.Client, data.size()) > run.Client.FreeClusters())
        return FileFailed(writeError + ErrorText(feNoRoom), feNoRoom);

    TZVT_drv& d = run.Client.Driver();
    const uint32_t expected = d.SectorsForFile(name.c_str(), static_cast<uint32_t>(data.size()))
                              + 3u * d.FSectorsPerCluster + d.FSectorsPerFAT;
    run.Progress.Begin(Cp1251ToUtf8(name), expected);
    const uint8_t r = run.Client.Save(name, data);
    run.Progress.End();
    if (r != feOk) return FileFailed(writeError + ErrorText(r), r);
    if (run.Taken) run.Taken->push_back(TZvtFile{name, static_cast<uint32_t>(data.size())});
    if (run.Verify) {
        const TPutOutcome checked = VerifyOne(run, path, name, data);
        if (checked != TPutOutcome::Written) return checked;
    }
    std::printf("%s -> %s (%zu bytes%s)\n", path.c_str(), Cp1251ToUtf8(name).c_str(), data.size(),
                run.Verify ? ", verified" : "");
    return TPutOutcome::Written;
}

}  // namespace

int CmdPut(TZvtClient& client, const std::vector<std::string>& paths, bool verify) {
    if (paths.empty()) {
        Fail("put: no files given");
        return 2;
    }
    if (int rc = Mount(client)) return rc;
    TPutRun run{client, TProgress(client), verify, std::nullopt, 0};
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
