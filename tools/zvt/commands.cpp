#include "tools/zvt/commands.h"

#include <algorithm>
#include <cstdio>

#include "core/cp1251.h"
#include "core/local_name.h"
#include "flashfs/frame_cost.h"
#include "core/user_env.h"
#include "tools/zvt/console.h"
#include "tools/zvt/pc_files.h"

namespace skarvel::zvtcmd {

TProgress::TProgress(TZvtClient& client) : client_(client), tty_(StderrIsTerminal()) {}

void TProgress::Draw() {
    const uint32_t done = client_.SectorFrames.load();
    const uint32_t total = expected_ ? expected_ : 1;
    const uint32_t pct = std::min<uint32_t>(100, done * 100 / total);
    const int width = 30;
    const int filled = static_cast<int>(pct * width / 100);
    std::string line = "[" + std::string(static_cast<size_t>(filled), '#') +
                       std::string(static_cast<size_t>(width - filled), '.') + "] ";
    const std::string number = std::to_string(pct);
    line += std::string(3 - std::min<size_t>(3, number.size()), ' ') + number + "% " + label_;
    // A shorter line than the last one leaves none of it behind.
    const size_t shown = Utf8Length(line);
    if (shown < drawn_) line.append(drawn_ - shown, ' ');
    drawn_ = std::max(drawn_, shown);
    PrintErr("\r" + line);
}

void TProgress::End() {
    if (tty_ && client_.OnTick && drawn_ > 0) PrintErr("\r" + std::string(drawn_, ' ') + "\r");
    drawn_ = 0;
    client_.OnTick = nullptr;
}

void Fail(const std::string& what) { PrintErr("zvt: " + what + "\n"); }

size_t Utf8Length(const std::string& utf8) {
    size_t n = 0;
    for (char c : utf8) n += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    return n;
}

std::string CountOf(uint64_t n, const char* one, const char* few, const char* many) {
    const uint64_t tens = n % 100, units = n % 10;
    const char* word = many;
    if (tens < 11 || tens > 14) {
        if (units == 1) word = one;
        else if (units >= 2 && units <= 4) word = few;
    }
    return std::to_string(n) + " " + word;
}

std::string BytesText(uint64_t n) { return CountOf(n, "байт", "байта", "байт"); }

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
    Fail(client.InitFailureText(r));
    return 1;
}

int ListMedium(TZvtClient& client, std::vector<TZvtFile>& files) {
    if (int rc = Mount(client)) return rc;
    if (const TFlashError r = client.List(files); r != feOk) {
        Fail(ErrorText(r));
        return 1;
    }
    return 0;
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
        Fail(client.InitFailureText(r));
        return 1;
    }
    TFlash& d = client.Worker();
    PrintOut("код устройства: " + DeviceCodeText(ZvtDeviceCode) + "\n");
    PrintOut("объём носителя: " + BytesText(d.MediumSize()) + "\n");
    if (r != feOk) {
        Fail(ErrorText(r));
        return 1;
    }
    const TVolumeGeometry g = d.Geometry();
    const std::pair<const char*, uint32_t> lines[] = {
        {"байт в секторе", d.BytesPerSector()},
        {"секторов в кластере", g.SectorsPerCluster},
        {"зарезервированных секторов", g.ReservedSectors},
        {"копий FAT", g.NumFATs},
        {"секторов в FAT", g.SectorsPerFAT},
        {"записей в корневом каталоге", g.RootEntries},
        {"всего секторов", g.TotalSectors},
        {"первый сектор корневого каталога", g.FirstRootSector},
        {"первый сектор данных", g.FirstDataSector},
    };
    for (const auto& [label, value] : lines) PrintOut(std::string(label) + ": " + std::to_string(value) + "\n");
    PrintOut("свободных кластеров: " + std::to_string(client.FreeClusters()) + " из " +
             std::to_string(client.DataClusters()) + "\n");
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
        const std::string size = std::to_string(f.Size);
        PrintOut(name + " " + std::string(10 - std::min<size_t>(10, size.size()), ' ') + size + "\n");
    }
    return 0;
}

int CmdGet(TZvtClient& client, const std::vector<std::string>& names, const std::string& dir, bool noClobber) {
    if (names.empty()) {
        Fail("get: не указаны имена файлов");
        return 2;
    }
    if (!IsFolder(dir)) {
        uint64_t size = 0;
        std::string error;
        Fail(dir + (LookAtPcFile(dir, size, error) == TPcKind::Missing ? ": папка не найдена" : ": это не папка"));
        return 1;
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
        const std::string local = SafeLocalName(file->Name);
        if (local.empty()) {
            Fail(MediumNameToUtf8(file->Name) + ": имя файла на носителе непригодно для файла ПК, файл не загружен");
            return 1;
        }
        const std::string target = PcPath(dir, local);
        uint64_t existing = 0;
        std::string ignored;
        if (noClobber && LookAtPcFile(target, existing, ignored) != TPcKind::Missing) {
            PrintOut(MediumNameToUtf8(file->Name) + ": " + target + " уже есть, не загружен\n");
            continue;
        }
        // Two entries may list alike (one in small letters): the bytes are
        // those of the entry the load reads, with the size it records.
        progress.Begin(local, LoadFrames(client.Worker().Geometry(), file->Size).All());
        std::vector<uint8_t> data;
        const uint8_t r = client.LoadWhole(file->Name, data);
        progress.End();
        if (r != feOk) {
            Record(client, TJournalOp::Load, file->Name, target, nullptr, r);
            Fail("Ошибка чтения файла " + local + ": " + ErrorText(r));
            return 1;
        }
        std::string error;
        const bool written = WritePcFile(dir, local, data, error, !noClobber);
        // The hash is that of the bytes as they came from the medium.
        Record(client, TJournalOp::Load, file->Name, target, &data, feOk, written ? std::string() : error);
        if (!written) {
            Fail(error);
            return 1;
        }
        PrintOut(local + " -> " + PcPath(dir, local) + " (" + BytesText(data.size()) + ")\n");
    }
    return 0;
}

int CmdRm(TZvtClient& client, const std::vector<std::string>& names) {
    if (names.empty()) {
        Fail("rm: не указаны имена файлов");
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
        Fail("format стирает все файлы на носителе; чтобы продолжить, повторите команду с --yes");
        return 2;
    }
    // A medium of another format is what formatting is for.
    const uint8_t init = client.Init();
    if (init != feOk && init != feUnformatted && init != feForeignVolume) {
        Fail(client.InitFailureText(init));
        return 1;
    }
    const uint8_t r = client.Format();
    Record(client, TJournalOp::Format, "", "", nullptr, r);
    if (r != feOk) {
        Fail(ErrorText(r));
        return 1;
    }
    PrintOut("ZVT успешно отформатировано\n");
    return 0;
}

}  // namespace skarvel::zvtcmd
