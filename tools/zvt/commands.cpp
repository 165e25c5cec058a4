#include "tools/zvt/commands.h"

#include <algorithm>
#include <cstdio>

#include "core/cp1251.h"
#include "core/local_name.h"
#include "flashfs/frame_cost.h"
#include "tools/zvt/console.h"
#include "tools/zvt/pc_files.h"

namespace skarvel::zvtcmd {

TProgress::TProgress(TZvtClient& client) : client_(client), tty_(StderrIsTerminal()) {}

void Fail(const std::string& what) { std::fprintf(stderr, "zvt: %s\n", what.c_str()); }

size_t Utf8Length(const std::string& utf8) {
    size_t n = 0;
    for (char c : utf8) n += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    return n;
}

bool ToMediumName(const std::string& utf8, std::string& cp1251) {
    if (!Utf8ToMediumName(utf8, cp1251)) {
        Fail(utf8 + ": " + ErrorText(feBadName));
        return false;
    }
    return true;
}

const TZvtFile* FindFile(const std::vector<TZvtFile>& files, const std::string& cp1251Name) {
    TFileList probe;
    for (const TZvtFile& f : files) probe.AddFile(f.Name, static_cast<int32_t>(f.Size), false);
    const int i = probe.IndexOf(cp1251Name);
    return i < 0 ? nullptr : &files[static_cast<size_t>(i)];
}

int Mount(TZvtClient& client) {
    const uint8_t r = client.Init();
    if (r == feOk) return 0;
    Fail(ErrorText(r));
    return 1;
}

int CmdInfo(TZvtClient& client) {
    const uint8_t r = client.Init();
    if (r != feOk && r != feUnformatted && r != feForeignVolume) {
        Fail(ErrorText(r));
        return 1;
    }
    TZVT_drv& d = client.Driver();
    std::printf("device code: 0x%02X\n", ZvtDeviceCode);
    std::printf("medium size: %u bytes\n", d.MediumSize());
    if (r != feOk) {
        Fail(ErrorText(r));
        return 1;
    }
    const TVolumeGeometry g = d.Geometry();
    std::printf("bytes per sector: %u\n", d.BytesPerSector());
    std::printf("sectors per cluster: %u\n", g.SectorsPerCluster);
    std::printf("reserved sectors: %u\n", g.ReservedSectors);
    std::printf("FATs: %u\n", g.NumFATs);
    std::printf("sectors per FAT: %u\n", g.SectorsPerFAT);
    std::printf("root entries: %u\n", g.RootEntries);
    std::printf("total sectors: %u\n", g.TotalSectors);
    std::printf("first root sector: %u\n", g.FirstRootSector);
    std::printf("first data sector: %u\n", g.FirstDataSector);
    std::printf("free clusters: %u of %u\n", client.FreeClusters(), client.DataClusters());
    return 0;
}

int CmdLs(TZvtClient& client) {
    if (int rc = Mount(client)) return rc;
    std::vector<TZvtFile> files;
    const uint8_t r = client.List(files);
    if (r != feOk) {
        Fail(ErrorText(r));
        return 1;
    }
    // Columns by characters: a Cyrillic letter takes two bytes of UTF-8.
    for (const TZvtFile& f : files) {
        std::string name = MediumNameToUtf8(f.Name);
        const size_t shown = Utf8Length(name);
        if (shown < 12) name.append(12 - shown, ' ');
        std::printf("%s %10u\n", name.c_str(), f.Size);
    }
    return 0;
}

int CmdGet(TZvtClient& client, const std::vector<std::string>& names, const std::string& dir) {
    if (names.empty()) {
        Fail("get: no names given");
        return 2;
    }
    if (!IsFolder(dir)) {
        Fail(dir + ": not a folder");
        return 1;
    }
    if (int rc = Mount(client)) return rc;
    std::vector<TZvtFile> files;
    if (const uint8_t r = client.List(files); r != feOk) {
        Fail(ErrorText(r));
        return 1;
    }
    TProgress progress(client);
    for (const std::string& utf8 : names) {
        std::string name;
        if (!ToMediumName(utf8, name)) return 1;
        const TZvtFile* file = FindFile(files, name);
        if (!file) {
            Fail(utf8 + ": " + ErrorText(feNotFound));
            return 1;
        }
        const std::string local = SafeLocalName(file->Name);
        if (local.empty()) {
            Fail(MediumNameToUtf8(file->Name) + ": имя файла на носителе непригодно для файла ПК, файл не загружен");
            return 1;
        }
        // Two entries may list alike (one in small letters): the bytes are
        // those of the entry the load reads, with the size it records.
        progress.Begin(local, LoadFrames(client.Driver().Geometry(), file->Size).All());
        std::vector<uint8_t> data;
        const uint8_t r = client.LoadWhole(file->Name, data);
        progress.End();
        if (r != feOk) {
            Fail("Ошибка чтения файла " + local + ": " + ErrorText(r));
            return 1;
        }
        std::string error;
        if (!WritePcFile(dir, local, data, error)) {
            Fail(error);
            return 1;
        }
        std::printf("%s -> %s/%s (%zu bytes)\n", local.c_str(), dir.c_str(), local.c_str(), data.size());
    }
    return 0;
}

int CmdRm(TZvtClient& client, const std::vector<std::string>& names) {
    if (names.empty()) {
        Fail("rm: no names given");
        return 2;
    }
    if (int rc = Mount(client)) return rc;
    for (const std::string& utf8 : names) {
        std::string name;
        if (!ToMediumName(utf8, name)) return 1;
        const uint8_t r = client.Delete(name);
        if (r != feOk) {
            Fail(utf8 + ": " + ErrorText(r));
            return 1;
        }
    }
    return 0;
}

int CmdFormat(TZvtClient& client, bool yes) {
    if (!yes) {
        Fail("format destroys every file on the medium; repeat with --yes to go ahead");
        return 2;
    }
    // A medium of another format is what formatting is for.
    const uint8_t init = client.Init();
    if (init != feOk && init != feUnformatted && init != feForeignVolume) {
        Fail(ErrorText(init));
        return 1;
    }
    const uint8_t r = client.Format();
    if (r != feOk) {
        Fail(ErrorText(r));
        return 1;
    }
    std::printf("ZVT успешно отформатировано\n");
    return 0;
}

}  // namespace skarvel::zvtcmd
