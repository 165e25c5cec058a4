#include "tools/zvt/commands.h"

#include <algorithm>
#include <cstdio>

#include "core/cp1251.h"
#include "core/local_name.h"
#include "core/user_env.h"
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

void Record(TZvtClient& client, TJournalOp op, const std::string& mediumName, const std::string& pcPath,
            const std::vector<uint8_t>* data, uint8_t result, const std::string& resultText) {
    const std::string text = !resultText.empty() ? resultText : result == feOk ? JournalSuccess : ErrorText(result);
    // A written file under the name its entry stores.
    char entry[12];
    const bool stored = op == TJournalOp::Write && MakeEntryName(mediumName.c_str(), entry);
    const std::string name = MediumNameToUtf8(stored ? DisplayName(entry) : mediumName);
    const std::string path = pcPath.empty() ? pcPath : AbsolutePath(pcPath);
    client.Journal().Append(data ? MovedEntry(op, client.LineName(), name, path, data->data(), data->size(), text)
                                 : PlainEntry(op, client.LineName(), name, path, text));
}

int CmdInfo(TZvtClient& client) {
    const uint8_t r = client.Init();
    if (r != feOk && r != feUnformatted && r != feForeignVolume) {
        Fail(ErrorText(r));
        return 1;
    }
    TFlash& d = client.Worker();
    std::printf("device code: 0x%02X\n", ZvtDeviceCode);
    std::printf("medium size: %u bytes\n", d.FMediumSize.load());
    if (r != feOk) {
        Fail(ErrorText(r));
        return 1;
    }
    std::printf("bytes per sector: %u\n", d.FBytesPerSector.load());
    std::printf("sectors per cluster: %u\n", d.FSectorsPerCluster);
    std::printf("reserved sectors: %u\n", d.FReservedSectors);
    std::printf("FATs: %u\n", d.FNumFATs);
    std::printf("sectors per FAT: %u\n", d.FSectorsPerFAT);
    std::printf("root entries: %u\n", d.FRootEntries);
    std::printf("total sectors: %u\n", d.FTotalSectors);
    std::printf("first root sector: %u\n", d.FFirstRootSector);
    std::printf("first data sector: %u\n", d.FFirstDataSector);
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
        TFlash& d = client.Worker();
        progress.Begin(local, d.SectorsForFile(file->Name.c_str(), file->Size) + d.FSectorsPerCluster);
        std::vector<uint8_t> data;
        const uint8_t r = client.LoadWhole(file->Name, data);
        progress.End();
        const std::string target = dir + "/" + local;
        if (r != feOk) {
            Record(client, TJournalOp::Load, file->Name, target, nullptr, r);
            Fail("Ошибка чтения файла " + local + ": " + ErrorText(r));
            return 1;
        }
        std::string error;
        const bool written = WritePcFile(dir, local, data, error);
        // The hash is that of the bytes as they came from the medium.
        Record(client, TJournalOp::Load, file->Name, target, &data, feOk, written ? std::string() : error);
        if (!written) {
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
        Record(client, TJournalOp::Delete, name, "", nullptr, r);
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
    Record(client, TJournalOp::Format, "", "", nullptr, r);
    if (r != feOk) {
        Fail(ErrorText(r));
        return 1;
    }
    std::printf("ZVT успешно отформатировано\n");
    return 0;
}

}  // namespace skarvel::zvtcmd
