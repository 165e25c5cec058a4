// zvt check [--repair]: what the boot sector, the FAT and the root directory
// say about the medium, in plain words; the repair frees lost clusters and
// writes nothing but the FAT sectors that change.
#include "core/cp1251.h"
#include "flashfs/volume_check.h"
#include "tools/zvt/commands.h"
#include "tools/zvt/console.h"

namespace skarvel::zvtcmd {

namespace {

std::string U(const std::string& cp1251) { return MediumNameToUtf8(cp1251); }
std::string N(uint32_t n) { return std::to_string(n); }

std::string Clusters(uint32_t n) { return CountOf(n, "кластер", "кластера", "кластеров"); }

std::string Describe(const TCheckProblem& p) {
    const std::string name = U(p.Name);
    switch (p.Kind) {
        case TCheckKind::LostClusters:
            return "потерянные кластеры: " + N(p.Value) + ", начиная с кластера " + N(p.Cluster) +
                   ", заняты в FAT, но не принадлежат ни одному файлу" +
                   (p.Name.empty() ? "" : " (остались от незавершённой записи " + name + ")");
        case TCheckKind::CrossLink:
            return name + ": цепочка пересекается с " + U(p.Other) + " в кластере " + N(p.Cluster);
        case TCheckKind::ShortChain:
            return name + ": цепочка короче размера файла (" + Clusters(p.Value) + ")";
        case TCheckKind::LongChain:
            return name + ": цепочка длиннее размера файла (" + Clusters(p.Value) + ")";
        case TCheckKind::Loop: return name + ": цепочка замыкается на кластер " + N(p.Cluster);
        case TCheckKind::LeavesDataArea:
            return name + ": цепочка выходит за область данных (кластер " + N(p.Cluster) + " ссылается на " +
                   N(p.Value) + ")";
        case TCheckKind::FreeInChain:
            return name + ": цепочка приводит в свободный кластер " + N(p.Value) + " (после кластера " +
                   N(p.Cluster) + ")";
        case TCheckKind::BadFirstCluster: return name + ": неверный первый кластер " + N(p.Cluster);
        case TCheckKind::UnfinishedSave:
            return name + ": первый кластер " + N(p.Cluster) + " свободен: запись файла, сохранение которого " +
                   "не было завершено";
        case TCheckKind::DuplicateName:
            return name + " и " + U(p.Other) + " отзываются на одно имя: ни один из них по нему не загружается " +
                   "и не удаляется";
        case TCheckKind::TakenBeyondData:
            return "записи FAT за областью данных заняты: " + N(p.Value) + ", начиная с кластера " + N(p.Cluster);
    }
    return "";
}

std::string DescribeForeign(TVolumeFault fault, const TVolumeGeometry& g, uint32_t mediumSectors) {
    switch (fault) {
        case TVolumeFault::Fat12:
            return "на носителе 12-битная FAT (он отформатирован в другой системе); эта программа работает "
                   "только с 16-битной FAT";
        case TVolumeFault::BeyondMedium:
            return "загрузочный сектор указывает " + CountOf(g.TotalSectors, "сектор", "сектора", "секторов") +
                   ", больше, чем есть у устройства (" + N(mediumSectors) + ")";
        case TVolumeFault::OversizedFat:
            return "в FAT " + CountOf(g.SectorsPerFAT, "сектор", "сектора", "секторов") +
                   ", намного больше, чем нужно для её кластеров";
        case TVolumeFault::None: break;
    }
    return "";
}

// The mount refused the medium: say why, and what helps.
int ReportRefusal(TZvtClient& client, uint8_t init) {
    TFlash& d = client.Worker();
    if (init == feUnformatted) {
        PrintOut("носитель не отформатирован (нет действительного загрузочного сектора)\n");
        return 1;
    }
    TVolumeGeometry g;
    DecodeBootSector(d.BootSector().data(), g);
    const uint32_t mediumSectors = d.MediumSize() / SectorSize;
    PrintOut(DescribeForeign(d.VolumeFault(), g, mediumSectors) + "\n");
    PrintOut("ничего не проверено и не записано; форматирование (zvt format --yes) сделает носитель пригодным, "
             "но его файлы будут потеряны\n");
    return 1;
}

void Print(const TCheckReport& r) {
    for (const TCheckProblem& p : r.Problems) PrintOut(Describe(p) + "\n");
    if (r.Unexplained > 0)
        PrintOut("примечание: кластеров, не занятых ни одной записью корневого каталога: " + N(r.Unexplained) +
                 "; их могут занимать файлы в его подкаталогах, которые эта программа не читает\n");
    uint32_t files = 0;
    for (const TCheckedEntry& e : r.Entries) {
        files += !e.Directory;
        if (HasEscapedNameBytes(e.Name))
            PrintOut("примечание: " + U(e.Name) + ": в имени есть байты, которые не являются буквами кодовой "
                     "страницы 1251 (кодовая страница другой системы?); zvt показывает их как \\xHH и так же "
                     "принимает имя\n");
    }
    const auto problems = static_cast<uint32_t>(r.Problems.size());
    if (problems == 0) PrintOut("файлов: " + N(files) + ", проблем не найдено\n");
    else PrintOut("файлов: " + N(files) + ", найдено проблем: " + N(problems) + "\n");
}

}  // namespace

int CmdCheck(TZvtClient& client, bool repair) {
    TProgress progress(client);
    progress.Begin("подключение", 6);  // boot sector and FAT of the 2 MiB medium
    const uint8_t init = client.Init();
    progress.End();
    if (init == feUnformatted || init == feForeignVolume) return ReportRefusal(client, init);
    if (init != feOk) {
        Fail(client.InitFailureText(init));
        return 1;
    }

    TCheckReport report, after;
    uint32_t freed = 0;
    bool repaired = false;
    progress.Begin("проверка", client.Worker().Geometry().RootDirSectors);
    const uint8_t r = client.RunOnWorker([&](TFlash& d) -> TFlashError {
        TVolumeTables tables;
        if (const TFlashError e = d.ReadVolumeTables(tables); e != feOk) return e;
        report = CheckVolume(tables);
        after = report;
        if (!repair || report.Lost.empty() || !report.Repairable()) return feOk;
        if (const TFlashError e = d.FreeClustersOnMedium(report.Lost, freed); e != feOk) return e;
        repaired = true;
        tables.Fat = d.FatBytes();
        after = CheckVolume(tables);
        return feOk;
    });
    progress.End();
    if (r != feOk) {
        Print(report);
        Fail(ErrorText(r));
        return 1;
    }
    Print(report);
    if (repair) {
        if (repaired)
            PrintOut("исправлено: освобождено потерянных кластеров: " + N(freed) + " (записана только FAT)\n");
        else if (!report.Lost.empty())
            PrintOut("не исправлено: часть потерянных кластеров может принадлежать повреждённому файлу, "
                     "названному выше; ничего не записано\n");
        else
            PrintOut("исправлять нечего\n");
    }
    return after.Clean() ? 0 : 1;
}

}  // namespace skarvel::zvtcmd
