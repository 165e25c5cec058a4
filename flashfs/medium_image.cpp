// Whole-medium backup and restore through the worker's transport.
#include "flashfs/medium_image.h"

#include <cstring>

#include "core/disk_file.h"
#include "core/cp1251.h"
#include "flashfs/volume_check.h"

namespace skarvel {

namespace {

constexpr uint64_t ImageFileLimit = 32ull * 1024 * 1024;

TMediumCopy Failed(TMediumCopy copy, TFlashError error, uint32_t sector) {
    copy.End = error == feAborted ? TCopyEnd::Aborted : TCopyEnd::Failed;
    copy.Error = error;
    copy.Sector = sector;
    return copy;
}

// The tables the volume check reads, taken from an image's bytes.
TVolumeTables TablesOf(const std::vector<uint8_t>& image, const TVolumeGeometry& g, uint32_t mediumSize) {
    TVolumeTables t;
    const auto part = [&](uint32_t first, uint32_t count) {
        const size_t from = static_cast<size_t>(first) * SectorSize;
        const size_t to = std::min(image.size(), from + static_cast<size_t>(count) * SectorSize);
        return from < to ? std::vector<uint8_t>(image.begin() + from, image.begin() + to) : std::vector<uint8_t>();
    };
    t.Boot = part(0, 1);
    t.Fat = part(g.ReservedSectors, g.SectorsPerFAT);
    t.Root = part(g.FirstRootSector, g.RootDirSectors);
    t.MediumSectors = mediumSize / SectorSize;
    return t;
}

// Writes one sector and reads it back; a copy that differs is written
// once more before the sector counts as stored wrongly.
TMediumCopy WriteVerified(TFlash& flash, TMediumCopy copy, uint32_t sector, const uint8_t* bytes) {
    uint8_t back[SectorSize];
    const auto s = static_cast<uint16_t>(sector);
    for (int attempt = 0; attempt < 2; ++attempt) {
        copy.Wrote = true;
        TFlashError r = flash.WriteSectors(s, 1, bytes);
        if (r == feOk) r = flash.ReadSectors(s, 1, back);
        if (r != feOk) return Failed(copy, r, sector);
        if (std::memcmp(back, bytes, SectorSize) == 0) return copy;
    }
    copy.End = TCopyEnd::Mismatch;
    copy.Sector = sector;
    return copy;
}

}  // namespace

std::string MediumCopyText(const TMediumCopy& copy) {
    switch (copy.End) {
        case TCopyEnd::Done: return {};
        case TCopyEnd::Failed: {
            const char* text = WorkerErrorText(copy.Error);
            return (text ? Cp1251ToUtf8(text) : "код ошибки " + std::to_string(copy.Error)) + " (сектор " +
                   std::to_string(copy.Sector) + ")";
        }
        case TCopyEnd::Aborted: return Cp1251ToUtf8(ErrorTexts[feAborted]);
        case TCopyEnd::Mismatch:
            return "сектор " + std::to_string(copy.Sector) + " прочитан с носителя не таким, каким был записан";
        case TCopyEnd::Refused: return copy.Why;
    }
    return {};
}

std::string CheckMediumImage(const std::vector<uint8_t>& image, uint32_t mediumSize) {
    if (image.size() != mediumSize)
        return "размер образа " + std::to_string(image.size()) + " байт, а носителя " + std::to_string(mediumSize) +
               " байт: образ снят с другого носителя";
    TVolumeGeometry g;
    if (image.size() < SectorSize || !DecodeBootSector(image.data(), g))
        return "в образе нет тома: его загрузочный сектор не читается";
    const TCheckReport report = CheckVolume(TablesOf(image, g, mediumSize));
    if (!report.Formatted) return "в образе нет тома: его загрузочный сектор не читается";
    if (report.Foreign != TVolumeFault::None)
        return "том в образе другого формата (" + Cp1251ToUtf8(WorkerErrorText(feForeignVolume)) + ")";
    return {};
}

TMediumCopy ReadWholeMedium(TFlash& flash, std::vector<uint8_t>& image) {
    TMediumCopy copy;
    image.clear();
    flash.FAbort = false;
    const TFlashError mount = flash.InitFlash();
    if (mount != feOk) return Failed(copy, mount, 0);
    copy.Sectors = flash.MediumSize() / SectorSize;
    image.assign(static_cast<size_t>(copy.Sectors) * SectorSize, 0);
    for (uint32_t s = 0; s < copy.Sectors; ++s) {
        if (flash.FAbort) {
            image.clear();
            return Failed(copy, feAborted, s);
        }
        const TFlashError r = flash.ReadSectors(static_cast<uint16_t>(s), 1, image.data() + static_cast<size_t>(s) * SectorSize);
        if (r != feOk) {
            image.clear();
            return Failed(copy, r, s);
        }
    }
    return copy;
}

TMediumCopy WriteWholeMedium(TFlash& flash, const std::vector<uint8_t>& image) {
    TMediumCopy copy;
    flash.FAbort = false;
    // A medium that is unformatted or of another format may be restored;
    // only a device that does not answer stops it here.
    const TFlashError mount = flash.InitFlash();
    if (mount != feOk && mount != feUnformatted && mount != feForeignVolume) return Failed(copy, mount, 0);
    copy.Sectors = flash.MediumSize() / SectorSize;
    copy.Why = CheckMediumImage(image, flash.MediumSize());
    if (!copy.Why.empty()) {
        copy.End = TCopyEnd::Refused;
        return copy;
    }
    // From here on the worker's picture of the volume is void.
    flash.FMounted = false;
    const uint8_t zero[SectorSize] = {};
    copy = WriteVerified(flash, copy, 0, zero);
    for (uint32_t s = 1; s < copy.Sectors && copy.Ok(); ++s) {
        if (flash.FAbort) return Failed(copy, feAborted, s);
        copy = WriteVerified(flash, copy, s, image.data() + static_cast<size_t>(s) * SectorSize);
    }
    if (!copy.Ok()) return copy;
    if (flash.FAbort) return Failed(copy, feAborted, 0);
    copy = WriteVerified(flash, copy, 0, image.data());
    if (!copy.Ok()) return copy;
    const TFlashError remount = flash.InitFlash();
    if (remount != feOk) return Failed(copy, remount, 0);
    return copy;
}

bool LoadMediumImage(const std::string& path, std::vector<uint8_t>& image, std::string& error) {
    return ReadWholeFile(path, ImageFileLimit, image, error);
}

bool SaveMediumImage(const std::string& path, const std::vector<uint8_t>& image, uint32_t mediumSize,
                     std::string& error) {
    const std::string temp = path + ".part";
    if (!WriteNewFile(temp, image, error)) return false;
    // What the disk holds now is what is checked, not what was meant.
    std::vector<uint8_t> back;
    std::string why;
    if (!ReadWholeFile(temp, ImageFileLimit, back, error)) {
        RemoveFile(temp);
        return false;
    }
    if (back != image) why = "образ на диске не совпадает с прочитанным с носителя";
    else why = CheckMediumImage(back, mediumSize);
    if (!why.empty()) {
        error = temp + ": " + why;
        RemoveFile(temp);
        return false;
    }
    if (RenameOver(temp, path, error)) return true;
    RemoveFile(temp);
    return false;
}

}  // namespace skarvel
