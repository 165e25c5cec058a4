// zvt backup, restore and log: the whole medium into an image file and
// back, and the transfer journal.
#include "core/cp1251.h"
#include "core/sha256.h"
#include "flashfs/medium_image.h"
#include "tools/zvt/commands.h"
#include "tools/zvt/console.h"

namespace skarvel::zvtcmd {

namespace {

// What a copy that a request never began (an interrupt before it) counts as.
TMediumCopy Settled(TMediumCopy copy, TFlashError request) {
    if (request != feOk && copy.Ok()) {
        copy.End = request == feAborted ? TCopyEnd::Aborted : TCopyEnd::Failed;
        copy.Error = request;
    }
    return copy;
}

std::string Summary(const std::vector<uint8_t>& image) {
    return BytesText(image.size()) + ", SHA-256 " + TSha256::Of(image.data(), image.size());
}

}  // namespace

int CmdBackup(TZvtClient& client, const std::string& path) {
    // Only a volume is worth saving: an image without one could never be
    // restored.
    if (int rc = Mount(client)) return rc;
    TFlash& worker = client.Worker();
    TProgress progress(client);
    progress.Begin("образ", BackupTransfers(worker.MediumSize() / SectorSize, worker.Geometry().SectorsPerFAT));
    std::vector<uint8_t> image;
    TMediumCopy copy;
    const TFlashError r = client.RunOnWorker([&](TFlash& f) {
        copy = ReadWholeMedium(f, image);
        return copy.Ok() ? feOk : copy.Error;
    });
    progress.End();
    copy = Settled(copy, r);
    if (!copy.Ok()) {
        const std::string text = MediumCopyText(copy);
        Record(client, TJournalOp::Backup, "", path, nullptr, copy.Error, text);
        Fail("образ не сохранён: " + text);
        return 1;
    }
    std::string error;
    if (!SaveMediumImage(path, image, worker.MediumSize(), error)) {
        Record(client, TJournalOp::Backup, "", path, &image, feOk, error);
        Fail("образ не сохранён: " + error);
        return 1;
    }
    Record(client, TJournalOp::Backup, "", path, &image, feOk);
    PrintOut("носитель -> " + path + " (" + Summary(image) + ")\n");
    return 0;
}

int CmdRestore(TZvtClient& client, const std::string& path, bool yes) {
    if (!yes) {
        Fail("restore заменяет всё, что есть на носителе, содержимым образа; чтобы продолжить, повторите команду с "
             "--yes");
        return 2;
    }
    std::vector<uint8_t> image;
    std::string error;
    if (!LoadMediumImage(path, image, error)) {
        Fail(error);
        return 1;
    }
    // A medium that is unformatted or of another format is restored too;
    // the device has to answer, to tell its size.
    const uint8_t init = client.Init();
    if (init != feOk && init != feUnformatted && init != feForeignVolume) {
        Fail(client.InitFailureText(init));
        return 1;
    }
    TFlash& worker = client.Worker();
    if (const std::string why = CheckMediumImage(image, worker.MediumSize()); !why.empty()) {
        Fail(path + ": образ не подходит к этому носителю: " + why);
        return 1;
    }
    TProgress progress(client);
    TVolumeGeometry g;
    DecodeBootSector(image.data(), g);
    progress.Begin("восстановление", RestoreTransfers(worker.MediumSize() / SectorSize, g.SectorsPerFAT));
    TMediumCopy copy;
    const TFlashError r = client.RunOnWorker([&](TFlash& f) {
        copy = WriteWholeMedium(f, image);
        return copy.Ok() ? feOk : copy.Error;
    });
    progress.End();
    copy = Settled(copy, r);
    if (!copy.Ok()) {
        const std::string text = MediumCopyText(copy);
        Record(client, TJournalOp::Restore, "", path, nullptr, copy.Error, text);
        Fail("восстановление из образа " + path + " не закончено: " + text);
        if (copy.Wrote)
            Fail("носитель теперь неполон и не читается: повторите восстановление или отформатируйте носитель");
        return 1;
    }
    Record(client, TJournalOp::Restore, "", path, &image, feOk);
    PrintOut(path + " -> носитель (" + Summary(image) + ")\n");
    return 0;
}

int CmdLog(const std::vector<std::string>& names) {
    const std::string path = DefaultJournalPath();
    if (path.empty()) {
        Fail("журнал не найден: не заданы ни SKARVEL_JOURNAL, ни домашняя папка");
        return 1;
    }
    std::vector<TJournalEntry> entries;
    size_t damaged = 0;
    std::string error;
    if (!ReadJournal(path, entries, damaged, error)) {
        Fail(error);
        return 1;
    }
    for (const TJournalEntry& e : entries) {
        bool wanted = names.empty();
        for (const std::string& n : names) wanted = wanted || JournalNameIs(e, n);
        if (wanted) PrintOut(FormatJournalLine(e));
    }
    if (damaged > 0) Fail(path + ": пропущено повреждённых строк: " + std::to_string(damaged));
    return 0;
}

}  // namespace skarvel::zvtcmd
