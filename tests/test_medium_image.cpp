// Medium images: the image file as the worker's transport, whole-medium
// backup and restore (cut off, cancelled, refused), and the image saved on
// the PC.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/disk_file.h"
#include "flashfs/fs_flash.h"
#include "flashfs/image_transport.h"
#include "flashfs/medium_image.h"
#include "tests/mem_medium.h"
#include "tests/sim_process.h"

using namespace skarvel;
using test::RandomBytes;
using test::TempDir;
using test::TMemMedium;

namespace {

constexpr uint32_t MediumBytes = 0x200000;
constexpr uint32_t MediumSectors = MediumBytes / SectorSize;

// A formatted medium in memory with a few files on it.
struct TFilledMedium {
    TMemMedium Medium;
    TFlash Flash;
    TFilledMedium(uint32_t seed = 1) {
        Medium.Attach(Flash);
        EXPECT_EQ(Flash.FormatFlash(0), feOk);
        for (int i = 0; i < 3; ++i) {
            const auto data = RandomBytes(5000 + i * 7000, seed + i);
            const std::string name = "PART" + std::to_string(i) + ".TNC";
            EXPECT_EQ(Flash.SaveFile(name.c_str(), data.data(), 0, static_cast<uint32_t>(data.size())), feOk);
        }
    }
};

std::vector<uint8_t> Backup(TFlash& flash) {
    std::vector<uint8_t> image;
    const TMediumCopy copy = ReadWholeMedium(flash, image);
    EXPECT_TRUE(copy.Ok()) << MediumCopyText(copy);
    return image;
}

}  // namespace

// The worker on an image file does what it does on the device: the same
// operations leave the same bytes on the image as on a medium in memory.
TEST(ImageTransport, TheWorkerCannotTellAnImageFromTheDevice) {
    TempDir dir;
    const std::string path = dir.File("medium.img");
    TFilledMedium mem;
    {
        TImageTransport image;
        std::string error;
        ASSERT_TRUE(image.Create(path, MediumBytes, error)) << error;
        TFlash flash;
        image.Attach(flash);
        uint32_t reads = 0, writes = 0;
        image.OnReadSector = [&] { ++reads; };
        image.OnWriteSector = [&] { ++writes; };
        EXPECT_EQ(flash.InitFlash(), feUnformatted);
        EXPECT_EQ(flash.FMediumSize.load(), MediumBytes);
        EXPECT_EQ(flash.FormatFlash(0), feOk);
        for (int i = 0; i < 3; ++i) {
            const auto data = RandomBytes(5000 + i * 7000, 1 + i);
            const std::string name = "PART" + std::to_string(i) + ".TNC";
            EXPECT_EQ(flash.SaveFile(name.c_str(), data.data(), 0, static_cast<uint32_t>(data.size())), feOk);
        }
        EXPECT_GT(reads, 0u);
        EXPECT_GT(writes, 0u);
        ASSERT_TRUE(image.Close(error)) << error;
    }
    EXPECT_EQ(test::ReadFileBytes(path), mem.Medium.Bytes());
    // Opened again, the image mounts and loads what was saved.
    TImageTransport image;
    std::string error;
    ASSERT_TRUE(image.Open(path, error)) << error;
    TFlash flash;
    image.Attach(flash);
    ASSERT_EQ(flash.InitFlash(), feOk);
    std::vector<uint8_t> back;
    ASSERT_EQ(flash.LoadFile("PART2.TNC", back, 0), feOk);
    EXPECT_EQ(back, RandomBytes(19000, 3));
}

TEST(ImageTransport, WhatIsNoImageIsRefused) {
    TempDir dir;
    const std::vector<std::pair<const char*, size_t>> files = {
        {"empty", 0}, {"odd", 1000}, {"sector-and-a-bit", 513}, {"too-many-sectors", (SectorLimit + 1) * SectorSize}};
    for (const auto& [name, size] : files) {
        test::WriteFileBytes(dir.File(name), std::vector<uint8_t>(size, 0));
        TImageTransport image;
        std::string error;
        EXPECT_FALSE(image.Open(dir.File(name), error)) << name;
        EXPECT_NE(error.find("не образ"), std::string::npos) << error;
        EXPECT_FALSE(image.IsOpen());
    }
    TImageTransport image;
    std::string error;
    EXPECT_FALSE(image.Open(dir.File("missing.img"), error));
    // A closed image answers as a closed port.
    TFlash flash;
    image.Attach(flash);
    EXPECT_EQ(flash.InitFlash(), feNoAnswer);
}

TEST(ImageTransport, OneProgramAtATimeAndNoCreateOverAFile) {
    TempDir dir;
    const std::string path = dir.File("medium.img");
    TImageTransport first, second;
    std::string error;
    ASSERT_TRUE(first.Create(path, MediumBytes, error)) << error;
    EXPECT_FALSE(second.Open(path, error));
    EXPECT_NE(error.find("занят"), std::string::npos) << error;
    ASSERT_TRUE(first.Close(error));
    EXPECT_FALSE(second.Create(path, MediumBytes, error)) << "an existing image is never made anew";
    EXPECT_TRUE(second.Open(path, error)) << error;
}

TEST(MediumImage, BackupThenRestoreRoundTripByteForByte) {
    TFilledMedium source(7);
    source.Medium.ClearLog();
    const std::vector<uint8_t> image = Backup(source.Flash);
    EXPECT_EQ(image, source.Medium.Bytes());
    // Only reads: a backup changes nothing on the medium.
    EXPECT_TRUE(source.Medium.WrittenSectors().empty());

    TFilledMedium target(99);
    target.Medium.ClearLog();
    const TMediumCopy copy = WriteWholeMedium(target.Flash, image);
    ASSERT_TRUE(copy.Ok()) << MediumCopyText(copy);
    EXPECT_EQ(target.Medium.Bytes(), image);
    // The boot sector is made void first and written last; every sector
    // once, each read back after its write.
    const std::vector<uint16_t> written = target.Medium.WrittenSectors();
    ASSERT_EQ(written.size(), MediumSectors + 1);
    EXPECT_EQ(written.front(), 0);
    EXPECT_EQ(written.back(), 0);
    // The worker mounted what it wrote.
    EXPECT_TRUE(target.Flash.FMounted.load());
    std::vector<uint8_t> back;
    EXPECT_EQ(target.Flash.LoadFile("PART1.TNC", back, 0), feOk);
    EXPECT_EQ(back, RandomBytes(12000, 8));
}

TEST(MediumImage, RestoreRefusesAnImageOfAnotherMedium) {
    TFilledMedium source;
    const std::vector<uint8_t> good = Backup(source.Flash);
    std::vector<uint8_t> fat12 = good;
    PutU16(fat12.data() + SectorSize, 0, 0xFFF0);
    fat12[SectorSize + 2] = 0xFF;  // F0 FF FF 03: entries 0 and 1, and entry 2's low byte, of a 12-bit FAT
    fat12[SectorSize + 3] = 0x03;
    std::vector<uint8_t> beyond = good;
    PutU16(beyond.data(), boot::TotalSectors16, 0);
    PutU32(beyond.data(), boot::TotalSectors32, 2 * MediumSectors);
    const std::vector<std::pair<const char*, std::vector<uint8_t>>> images = {
        {"half the size", std::vector<uint8_t>(good.begin(), good.begin() + MediumBytes / 2)},
        {"a sector more", [&] { auto v = good; v.resize(good.size() + SectorSize); return v; }()},
        {"empty", {}},
        {"unformatted", std::vector<uint8_t>(MediumBytes, 0)},
        {"12-bit FAT", fat12},
        {"more sectors than the medium", beyond},
    };
    for (const auto& [what, image] : images) {
        TFilledMedium target(5);
        const std::vector<uint8_t> before = target.Medium.Bytes();
        target.Medium.ClearLog();
        const TMediumCopy copy = WriteWholeMedium(target.Flash, image);
        EXPECT_EQ(copy.End, TCopyEnd::Refused) << what;
        EXPECT_FALSE(MediumCopyText(copy).empty()) << what;
        EXPECT_TRUE(target.Medium.WrittenSectors().empty()) << what;
        EXPECT_EQ(target.Medium.Bytes(), before) << what;
        EXPECT_FALSE(CheckMediumImage(image, MediumBytes).empty()) << what;
    }
    EXPECT_EQ(CheckMediumImage(good, MediumBytes), "");
}

// A pulled cable at any point of a restore leaves a medium that does not
// mount (never the old volume over new data); the restore repeated then
// ends with the image's bytes exactly.
TEST(MediumImage, RestoreCutOffAnywhereAndRepeated) {
    TFilledMedium source(3);
    const std::vector<uint8_t> image = Backup(source.Flash);
    for (const size_t cut : {size_t{0}, size_t{1}, size_t{2}, size_t{1000}, size_t{MediumSectors - 1},
                             size_t{MediumSectors}}) {
        TFilledMedium target(11);
        target.Medium.CutAfterWrites(cut);
        const TMediumCopy cutCopy = WriteWholeMedium(target.Flash, image);
        EXPECT_EQ(cutCopy.End, TCopyEnd::Failed) << cut;
        EXPECT_EQ(cutCopy.Error, feWrongDevice) << cut;
        target.Medium.ClearFaults();
        TFlash fresh;
        target.Medium.Attach(fresh);
        EXPECT_EQ(fresh.InitFlash(), cut == 0 ? feOk : feUnformatted) << "after a cut at write " << cut;
        const TMediumCopy again = WriteWholeMedium(fresh, image);
        ASSERT_TRUE(again.Ok()) << MediumCopyText(again);
        EXPECT_EQ(target.Medium.Bytes(), image) << cut;
    }
}

TEST(MediumImage, CancelAndMismatchLeaveAMediumThatDoesNotMount) {
    TFilledMedium source(4);
    const std::vector<uint8_t> image = Backup(source.Flash);
    {
        TFilledMedium target(12);
        size_t writes = 0;
        target.Medium.OnExchange = [&](uint8_t cmd, uint16_t) {
            if (cmd == cmdWriteSector && ++writes == 50) target.Flash.FAbort = true;
        };
        const TMediumCopy copy = WriteWholeMedium(target.Flash, image);
        EXPECT_EQ(copy.End, TCopyEnd::Aborted);
        EXPECT_EQ(copy.Error, feAborted);
        target.Medium.OnExchange = nullptr;
        EXPECT_EQ(target.Flash.InitFlash(), feUnformatted);
    }
    {
        // The device stores sector 77 wrongly and says all is well, twice.
        TFilledMedium target(13);
        target.Medium.OnStored = [](uint16_t sector, uint8_t* stored) {
            if (sector == 77) stored[5] ^= 0x40;
        };
        const TMediumCopy copy = WriteWholeMedium(target.Flash, image);
        EXPECT_EQ(copy.End, TCopyEnd::Mismatch);
        EXPECT_EQ(copy.Sector, 77u);
        EXPECT_NE(MediumCopyText(copy).find("77"), std::string::npos);
        target.Medium.OnStored = nullptr;
        EXPECT_EQ(target.Flash.InitFlash(), feUnformatted);
    }
}

TEST(MediumImage, BackupNeedsAVolumeAndStopsOnCancelOrSilence) {
    TMemMedium blank;
    TFlash flash;
    blank.Attach(flash);
    std::vector<uint8_t> image;
    TMediumCopy copy = ReadWholeMedium(flash, image);
    EXPECT_EQ(copy.End, TCopyEnd::Failed);
    EXPECT_EQ(copy.Error, feUnformatted);
    EXPECT_TRUE(image.empty());

    TFilledMedium filled;
    filled.Medium.FailSector(cmdReadSector, 3000, xrNoAnswer);
    copy = ReadWholeMedium(filled.Flash, image);
    EXPECT_EQ(copy.End, TCopyEnd::Failed);
    EXPECT_EQ(copy.Sector, 3000u);
    EXPECT_TRUE(image.empty());
    filled.Medium.ClearFaults();
    size_t reads = 0;
    filled.Medium.OnExchange = [&](uint8_t, uint16_t) {
        if (++reads == 200) filled.Flash.FAbort = true;
    };
    copy = ReadWholeMedium(filled.Flash, image);
    EXPECT_EQ(copy.End, TCopyEnd::Aborted);
    EXPECT_TRUE(image.empty());
}

TEST(MediumImage, SavedImageIsCheckedBeforeItTakesItsName) {
    TempDir dir;
    const std::string path = dir.File("backup.img");
    TFilledMedium source;
    const std::vector<uint8_t> image = Backup(source.Flash);
    std::string error;
    ASSERT_TRUE(SaveMediumImage(path, image, MediumBytes, error)) << error;
    EXPECT_EQ(test::ReadFileBytes(path), image);
    EXPECT_FALSE(PathExists(path + ".part"));
    // What is no volume of the medium never replaces the image there.
    EXPECT_FALSE(SaveMediumImage(path, std::vector<uint8_t>(MediumBytes, 0), MediumBytes, error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(test::ReadFileBytes(path), image);
    EXPECT_FALSE(PathExists(path + ".part"));
    std::vector<uint8_t> loaded;
    ASSERT_TRUE(LoadMediumImage(path, loaded, error)) << error;
    EXPECT_EQ(loaded, image);
}
