// zvt check [--repair]: what the boot sector, the FAT and the root directory
// say about the medium, in plain words; the repair frees lost clusters and
// writes nothing but the FAT sectors that change.
#include <cstdio>

#include "core/cp1251.h"
#include "flashfs/volume_check.h"
#include "tools/zvt/commands.h"

namespace skarvel::zvtcmd {

namespace {

std::string U(const std::string& cp1251) { return MediumNameToUtf8(cp1251); }
std::string N(uint32_t n) { return std::to_string(n); }

std::string Describe(const TCheckProblem& p) {
    const std::string name = U(p.Name);
    switch (p.Kind) {
        case TCheckKind::LostClusters:
            return "lost clusters: " + N(p.Value) + " from cluster " + N(p.Cluster) +
                   " are taken in the FAT but belong to no file" +
                   (p.Name.empty() ? "" : " (left by a save of " + name + " that never finished)");
        case TCheckKind::CrossLink:
            return name + ": cross-linked with " + U(p.Other) + " at cluster " + N(p.Cluster);
        case TCheckKind::ShortChain:
            return name + ": chain shorter than the file's size (" + N(p.Value) + " clusters)";
        case TCheckKind::LongChain:
            return name + ": chain longer than the file's size (" + N(p.Value) + " clusters)";
        case TCheckKind::Loop: return name + ": chain loops back to cluster " + N(p.Cluster);
        case TCheckKind::LeavesDataArea:
            return name + ": chain leaves the data area (cluster " + N(p.Cluster) + " links to " + N(p.Value) + ")";
        case TCheckKind::FreeInChain:
            return name + ": chain runs into free cluster " + N(p.Value) + " (after cluster " + N(p.Cluster) + ")";
        case TCheckKind::BadFirstCluster: return name + ": bad first cluster " + N(p.Cluster);
        case TCheckKind::UnfinishedSave:
            return name + ": first cluster " + N(p.Cluster) + " is free: the entry of a save that never finished";
        case TCheckKind::DuplicateName:
            return name + " and " + U(p.Other) + " answer one name alike: neither is loaded or deleted by it";
        case TCheckKind::TakenBeyondData:
            return N(p.Value) + " FAT entries from " + N(p.Cluster) + " on, beyond the data area, are not free";
    }
    return "";
}

std::string DescribeForeign(TVolumeFault fault, const TVolumeGeometry& g, uint32_t mediumSectors) {
    switch (fault) {
        case TVolumeFault::Fat12:
            return "the medium holds a 12-bit FAT (formatted elsewhere); this program keeps 16-bit FATs only";
        case TVolumeFault::BeyondMedium:
            return "the boot sector claims " + N(g.TotalSectors) + " sectors, more than the device's " +
                   N(mediumSectors);
        case TVolumeFault::OversizedFat:
            return "the FAT has " + N(g.SectorsPerFAT) + " sectors, far more than its clusters need";
        case TVolumeFault::None: break;
    }
    return "";
}

// The mount refused the medium: say why, and what helps.
int ReportRefusal(TZvtClient& client, uint8_t init) {
    TFlash& d = client.Worker();
    if (init == feUnformatted) {
        std::printf("the medium is not formatted (no valid boot sector)\n");
        return 1;
    }
    TVolumeGeometry g;
    DecodeBootSector(d.FBootSector.data(), g);
    const uint32_t mediumSectors = d.FMediumSize.load() / SectorSize;
    std::printf("%s\n", DescribeForeign(d.FVolumeFault.load(), g, mediumSectors).c_str());
    std::printf("nothing was checked or written; formatting (zvt format --yes) makes the medium usable "
                "and loses its files\n");
    return 1;
}

void Print(const TCheckReport& r) {
    for (const TCheckProblem& p : r.Problems) std::printf("%s\n", Describe(p).c_str());
    if (r.Unexplained > 0)
        std::printf("note: %u clusters are taken by no entry of the root; files inside its subdirectories, "
                    "which this program does not read, may hold them\n",
                    r.Unexplained);
    uint32_t files = 0;
    for (const TCheckedEntry& e : r.Entries) {
        files += !e.Directory;
        if (HasEscapedNameBytes(e.Name))
            std::printf("note: %s: the name holds bytes that are no letters of code page 1251 (another "
                        "system's code page?); zvt shows them as \\xHH and takes the name so\n",
                        U(e.Name).c_str());
    }
    const auto problems = static_cast<uint32_t>(r.Problems.size());
    if (problems == 0) std::printf("%u files, no problems found\n", files);
    else std::printf("%u files, %u problems found\n", files, problems);
}

}  // namespace

int CmdCheck(TZvtClient& client, bool repair) {
    TProgress progress(client);
    progress.Begin("mount", 6);  // boot sector and FAT of the 2 MiB medium
    const uint8_t init = client.Init();
    progress.End();
    if (init == feUnformatted || init == feForeignVolume) return ReportRefusal(client, init);
    if (init != feOk) {
        Fail(ErrorText(init));
        return 1;
    }

    TCheckReport report, after;
    uint32_t freed = 0;
    bool repaired = false;
    progress.Begin("check", client.Worker().FRootDirSectors);
    const uint8_t r = client.RunOnWorker([&](TFlash& d) -> uint8_t {
        TVolumeTables tables;
        if (const uint8_t e = d.ReadVolumeTables(tables); e != feOk) return e;
        report = CheckVolume(tables);
        after = report;
        if (!repair || report.Lost.empty() || !report.Repairable()) return feOk;
        if (const uint8_t e = d.FreeClusters(report.Lost, freed); e != feOk) return e;
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
            std::printf("repaired: %u lost clusters freed (only the FAT was written)\n", freed);
        else if (!report.Lost.empty())
            std::printf("not repaired: a damaged file above may own some of the lost clusters; "
                        "nothing was written\n");
        else
            std::printf("nothing to repair\n");
    }
    return after.Clean() ? 0 : 1;
}

}  // namespace skarvel::zvtcmd
