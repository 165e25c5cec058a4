// What the worker does with media it did not leave consistent: saves cut off
// after every number of their writes, damaged chains, and volumes other
// systems formatted or wrote.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "flashfs/fs_flash.h"
#include "tests/mem_medium.h"
#include "tests/volume_check.h"

using namespace skarvel;
using namespace skarvel::test;

namespace {

using Image = std::vector<uint8_t>;
using Files = std::map<std::string, std::vector<uint8_t>>;
using Setup = std::function<void(TFlash&, Files&)>;

uint8_t Save(TFlash& f, Files& files, const std::string& name, size_t n, uint32_t seed) {
    auto data = RandomBytes(n, seed);
    const uint8_t r = f.SaveFile(name.c_str(), data.data(), 0, static_cast<uint32_t>(n));
    if (r == feOk) files[name] = std::move(data);
    return r;
}

uint8_t Load(TFlash& f, const std::string& name, std::vector<uint8_t>& out, size_t capacity) {
    out.assign(capacity, 0xEE);
    return f.LoadFile(name.c_str(), out.data(), 0, static_cast<uint32_t>(capacity));
}

// A fresh worker mounting m, as after the cable is back in.
uint8_t Mount(TMemMedium& m, TFlash& f) {
    m.Attach(f);
    return f.InitFlash();
}

void ExpectIntact(TFlash& f, const Files& files) {
    for (const auto& [name, data] : files) {
        std::vector<uint8_t> out;
        EXPECT_EQ(Load(f, name, out, data.size()), feOk) << name;
        EXPECT_TRUE(out == data) << name;
    }
}

// The check finds nothing but lost clusters; returns its report.
TCheckReport ExpectOnlyLost(const Image& image) {
    const TCheckReport r = CheckVolume(TablesOf(image));
    EXPECT_TRUE(r.Formatted);
    for (const TCheckProblem& p : r.Problems) EXPECT_EQ(p.Kind, TCheckKind::LostClusters) << ProblemLine(p);
    return r;
}

void ExpectClean(const Image& image) {
    const TCheckReport r = CheckVolume(TablesOf(image));
    EXPECT_TRUE(r.Clean());
    for (const TCheckProblem& p : r.Problems) ADD_FAILURE() << ProblemLine(p);
    if (const auto fsck = FsckFindings(image))
        for (const std::string& line : *fsck) ADD_FAILURE() << "fsck.fat: " << line;
}

uint16_t FatOf(const Image& image, uint32_t n) { return GetU16(image.data() + SectorSize, n * 2); }

// The image of a formatted medium after setup has saved and deleted on it.
Image Build(const Setup& setup, Files& files) {
    TMemMedium m;
    TFlash f;
    m.Attach(f);
    EXPECT_EQ(f.FormatFlash(0), feOk);
    setup(f, files);
    return m.Bytes();
}

// A worker that has mounted a medium holding image.
struct TMounted {
    TMemMedium Medium;
    TFlash Flash;
    uint8_t Mount;
    explicit TMounted(const Image& image) {
        Medium.Bytes() = image;
        Mount = ::Mount(Medium, Flash);
    }
};

// ---------------------------------------------------------------- cut saves

struct CutCase {
    const char* Name;
    Setup Before;                // the files on the medium before the save
    uint32_t Size;               // of the file saved
    std::vector<uint16_t> Chain;  // the clusters it takes
};

const CutCase kCutCases[] = {
    {"one cluster into the slot of a deleted larger file",
     [](TFlash& f, Files& files) {
         ASSERT_EQ(Save(f, files, "OLD.TNC", 5000, 1), feOk);  // 2, 3, 4
         ASSERT_EQ(Save(f, files, "KEEP.TNC", 100, 2), feOk);  // 5
         ASSERT_EQ(f.DeleteFile("OLD.TNC", 0), feOk);
         files.erase("OLD.TNC");
     },
     100, {2}},
    {"three clusters",
     [](TFlash& f, Files& files) { ASSERT_EQ(Save(f, files, "KEEP.TNC", 100, 2), feOk); },  // 2
     5000, {3, 4, 5}},
    {"a chain from one FAT sector into the next",
     [](TFlash& f, Files& files) {
         ASSERT_EQ(Save(f, files, "FILL.TNC", 250 * 2048 + 100, 3), feOk);  // 2..252
         ASSERT_EQ(Save(f, files, "GAP.TNC", 100, 4), feOk);                // 253
         ASSERT_EQ(Save(f, files, "FILL2.TNC", 5 * 2048 + 100, 5), feOk);   // 254..259
         ASSERT_EQ(f.DeleteFile("GAP.TNC", 0), feOk);
         files.erase("GAP.TNC");
     },
     3000, {253, 260}},
};

}  // namespace

TEST(CutSave, NoCutLeavesAnEntryThatLoadsWrongBytes) {
    for (const CutCase& c : kCutCases) {
        SCOPED_TRACE(c.Name);
        Files files;
        const Image base = Build(c.Before, files);
        const auto data = RandomBytes(c.Size, 77);
        size_t writes = 0;
        {
            TMounted mounted(base);
            ASSERT_EQ(mounted.Mount, feOk);
            TMemMedium& m = mounted.Medium;
            m.ClearLog();
            ASSERT_EQ(mounted.Flash.SaveFile("NEW.TNC", data.data(), 0, c.Size), feOk);
            writes = m.WrittenSectors().size();
            for (size_t i = 0; i < c.Chain.size(); ++i)
                EXPECT_EQ(FatOf(m.Bytes(), c.Chain[i]), i + 1 < c.Chain.size() ? c.Chain[i + 1] : FatEnd);
        }
        for (size_t n = 0; n < writes; ++n) {
            SCOPED_TRACE("cut after " + std::to_string(n) + " of " + std::to_string(writes) + " writes");
            TMemMedium m;
            m.Bytes() = base;
            {
                TFlash cut;
                ASSERT_EQ(Mount(m, cut), feOk);
                m.CutAfterWrites(n);
                EXPECT_NE(cut.SaveFile("NEW.TNC", data.data(), 0, c.Size), feOk);
            }
            m.ClearFaults();
            TFlash f;  // the cable back in, a fresh mount
            ASSERT_EQ(Mount(m, f), feOk);
            std::vector<uint8_t> out;
            const uint8_t loaded = Load(f, "NEW.TNC", out, c.Size);
            EXPECT_TRUE(loaded == feNotFound || (loaded == feOk && out == data)) << int(loaded);
            ExpectIntact(f, files);
            ExpectOnlyLost(m.Bytes());

            Files later = files;
            ASSERT_EQ(Save(f, later, "LATER.TNC", 3000, 9), feOk);
            ExpectIntact(f, later);
            ExpectOnlyLost(m.Bytes());

            // Whatever the cut left: deleting it frees nothing of another file.
            EXPECT_EQ(f.DeleteFile("NEW.TNC", 0), loaded == feOk ? feOk : feNotFound);
            ExpectIntact(f, later);
            const TCheckReport report = ExpectOnlyLost(m.Bytes());

            // The repair writes only FAT sectors and leaves a clean volume.
            ASSERT_TRUE(report.Repairable());
            m.ClearLog();
            uint32_t freed = 0;
            ASSERT_EQ(f.FreeClustersOnMedium(report.Lost, freed), feOk);
            EXPECT_EQ(freed, report.Lost.size());
            for (uint16_t s : m.WrittenSectors()) EXPECT_TRUE(s >= 1 && s <= 5) << s;
            ExpectClean(m.Bytes());
            ExpectIntact(f, later);
        }
    }
}

TEST(CutSave, AFailedExchangeLeavesTheFatImageFitToWriteOut) {
    // No remount this time: one exchange of a save or a delete fails (its
    // sector stored or not), the same worker goes on saving and deleting,
    // and the FAT image it writes out must not free what an entry uses.
    const struct {
        const char* Op;
        std::function<uint8_t(TFlash&, Files&)> Run;
    } ops[] = {
        {"save into a reused slot", [](TFlash& f, Files& files) { return Save(f, files, "NEW.TNC", 5000, 7); }},
        {"delete", [](TFlash& f, Files& files) { files.erase("OLD.TNC"); return f.DeleteFile("OLD.TNC", 0); }},
    };
    for (const auto& op : ops) {
        for (const bool stored : {false, true}) {
            for (size_t n = 1;; ++n) {
                SCOPED_TRACE(std::string(op.Op) + ", exchange " + std::to_string(n) + (stored ? " stored" : ""));
                TMemMedium m;
                TFlash f;
                m.Attach(f);
                ASSERT_EQ(f.FormatFlash(0), feOk);
                Files files;
                ASSERT_EQ(Save(f, files, "GONE.TNC", 5000, 1), feOk);
                ASSERT_EQ(Save(f, files, "OLD.TNC", 3000, 2), feOk);
                ASSERT_EQ(f.DeleteFile("GONE.TNC", 0), feOk);
                files.erase("GONE.TNC");
                size_t count = 0;
                f.FExchange = [&](uint8_t cmd, uint8_t lo, uint8_t hi, void* buffer) -> TTransportResult {
                    if (++count != n) return m.Exchange(cmd, lo, hi, buffer);
                    if (stored) m.Exchange(cmd, lo, hi, buffer);
                    return xrNoAnswer;
                };
                if (op.Run(f, files) == feOk) break;  // n is past the operation's last exchange
                ASSERT_EQ(Save(f, files, "LATER.TNC", 7000, 9), feOk);
                ASSERT_EQ(f.DeleteFile("LATER.TNC", 0), feOk);
                files.erase("LATER.TNC");
                ASSERT_EQ(Save(f, files, "LAST.TNC", 9000, 10), feOk);
                TFlash again;
                ASSERT_EQ(Mount(m, again), feOk);
                ExpectIntact(again, files);
                // What the failed operation was about is whole or gone.
                for (const auto& [name, data] : Files{{"NEW.TNC", RandomBytes(5000, 7)}, {"OLD.TNC", RandomBytes(3000, 2)}}) {
                    std::vector<uint8_t> out;
                    const uint8_t r = Load(again, name, out, data.size());
                    EXPECT_TRUE(r == feNotFound || (r == feOk && out == data)) << name << " " << int(r);
                }
                ExpectOnlyLost(m.Bytes());
            }
        }
    }
}

TEST(CutFormat, EntriesItLeftBehindTheEndMarkNeverComeBack) {
    // A format cut off after it had cleared the root's first sectors: the
    // old boot sector and FAT stand, the old entries of the later sectors
    // lie behind the end mark at slot 0. The check frees their clusters as
    // lost and new files take them: an old entry that came back would name
    // them. 65 new files fill the first block and open the second.
    const struct {
        const char* Case;
        size_t FormatWrites;
        int CutSave;  // the new file whose save is cut off after its first write, or -1
    } cases[] = {
        {"the first block cleared", 4, -1},
        {"the first sector cleared, the save into its last slot cut off", 1, 15},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Case);
        TMemMedium m;
        {
            TFlash f;
            m.Attach(f);
            ASSERT_EQ(f.FormatFlash(0), feOk);
            Files old;
            for (int i = 0; i < 65; ++i) ASSERT_EQ(Save(f, old, "OLD" + std::to_string(i) + ".TNC", 3000, i), feOk);
            m.CutAfterWrites(c.FormatWrites);
            ASSERT_NE(f.FormatFlash(0), feOk);
            m.ClearFaults();
        }
        TFlash f;
        ASSERT_EQ(Mount(m, f), feOk);
        const TCheckReport lost = ExpectOnlyLost(m.Bytes());
        uint32_t freed = 0;
        ASSERT_EQ(f.FreeClustersOnMedium(lost.Lost, freed), feOk);
        Files now;
        for (int i = 0; i < 65; ++i) {
            if (i == c.CutSave) m.CutAfterWrites(1);
            const uint8_t r = Save(f, now, "NEW" + std::to_string(i) + ".TNC", 5000, 100 + i);
            m.ClearFaults();
            ASSERT_EQ(r == feOk, i != c.CutSave) << i;
        }
        ASSERT_EQ(f.ReadDir(0, nullptr), feOk);
        for (const std::string& name : f.FFiles.StringList()) EXPECT_EQ(now.count(name), 1u) << name;
        ExpectIntact(f, now);
        ExpectOnlyLost(m.Bytes());
    }
}
// ---------------------------------------------------------------- damaged and foreign volumes

namespace {

// A formatted medium with A.TNC (3000 bytes, clusters 2 and 3) in slot 0
// and B.TNC (100 bytes, cluster 4) in slot 1.
Image BaseImage(Files& files) {
    return Build(
        [](TFlash& f, Files& saved) {
            EXPECT_EQ(Save(f, saved, "A.TNC", 3000, 1), feOk);
            EXPECT_EQ(Save(f, saved, "B.TNC", 100, 2), feOk);
        },
        files);
}

// What the 12-bit FAT of another system names in the extended boot record.
void MarkFat12(Image& i) {
    i[boot::ExtSignature] = 0x29;
    std::memcpy(i.data() + boot::FsType, "FAT12   ", 8);
}

uint8_t* SlotOf(Image& img, int i) { return img.data() + 6 * SectorSize + i * 32; }
const uint8_t* SlotOf(const Image& img, int i) { return img.data() + 6 * SectorSize + i * 32; }
void SetFat(Image& img, uint32_t n, uint16_t v) { PutU16(img.data() + SectorSize, n * 2, v); }
// A long-name piece of the entry named name11.
void PutLongNamePiece(Image& img, int i, uint8_t ordinal, const char* name11) {
    uint8_t* e = SlotOf(img, i);
    std::memset(e, 0xFF, 32);
    e[0] = ordinal;
    e[11] = 0x0F;
    e[12] = 0;
    e[13] = LongNameChecksum(reinterpret_cast<const uint8_t*>(name11));
    PutU16(e, 26, 0);
    for (int k = 1; k < 10; k += 2) PutU16(e, static_cast<size_t>(k), static_cast<uint16_t>('b'));
}

struct ImageCase {
    const char* Fault;
    std::function<void(Image&)> Make;
    uint8_t Mount;
    std::vector<std::string> Listed;  // with the mount's result 0
    const char* Target;               // what get and rm name
    uint8_t Get, Rm, Put;             // load and delete Target, save NEW.TNC
    const char* Holds;                // the base file whose bytes Target loads, or nullptr
    std::vector<TCheckKind> Kinds;
    TVolumeFault Foreign;
    std::function<void(const Image&)> After;  // more to check on the image in the end
};

using K = TCheckKind;
const std::vector<std::string> kAB = {"A.TNC", "B.TNC"};

// A volume the worker refuses: nothing listed, loaded, deleted or saved.
ImageCase Foreign(const char* fault, std::function<void(Image&)> make, TVolumeFault why) {
    return {fault, std::move(make), feForeignVolume, {}, "A.TNC", feForeignVolume, feForeignVolume,
            feForeignVolume, nullptr, {}, why, nullptr};
}

const ImageCase kImageCases[] = {
    {"cross-link: B's first cluster is A's second", [](Image& i) { PutU16(SlotOf(i, 1), 26, 3); },
     feOk, kAB, "B.TNC", feDamagedFile, feOk, feOk, nullptr, {K::CrossLink, K::LostClusters},
     TVolumeFault::None, [](const Image& i) { EXPECT_EQ(FatOf(i, 3), FatEnd); }},  // A keeps it
    {"loop: A's second cluster links back to its first", [](Image& i) { SetFat(i, 3, 2); },
     feOk, kAB, "A.TNC", feDamagedFile, feDamagedFile, feOk, nullptr, {K::Loop}, TVolumeFault::None, nullptr},
    {"short chain: A's size needs three clusters", [](Image& i) { PutU32(SlotOf(i, 0), 28, 5000); },
     feOk, kAB, "A.TNC", feDamagedFile, feDamagedFile, feOk, nullptr, {K::ShortChain}, TVolumeFault::None,
     nullptr},
    {"chain out of the data area", [](Image& i) { SetFat(i, 3, 2000); },
     feOk, kAB, "A.TNC", feDamagedFile, feDamagedFile, feOk, nullptr, {K::LeavesDataArea}, TVolumeFault::None,
     nullptr},
    {"an older program's cut save: B's cluster free in the FAT", [](Image& i) { SetFat(i, 4, 0); },
     feOk, kAB, "B.TNC", feDamagedFile, feDamagedFile, feOk, nullptr, {K::UnfinishedSave},
     TVolumeFault::None, nullptr},
    {"a bad-cluster mark linked behind B's bytes", [](Image& i) { SetFat(i, 4, 5), SetFat(i, 5, FatBad); },
     feOk, kAB, "B.TNC", feOk, feOk, feOk, "B.TNC", {K::LeavesDataArea}, TVolumeFault::None,
     [](const Image& i) { EXPECT_EQ(FatOf(i, 5), FatBad); }},  // never handed to NEW.TNC
    Foreign("12-bit FAT named in the extended boot record", MarkFat12, TVolumeFault::Fat12),
    Foreign("12-bit FAT by its first entries",
            [](Image& i) {
                const uint8_t start[] = {0xF8, 0xFF, 0xFF, 0x03, 0x40, 0x00};
                std::memcpy(i.data() + SectorSize, start, sizeof start);
            },
            TVolumeFault::Fat12),
    Foreign("oversized total: 4 MiB claimed on the 2 MiB device",
            [](Image& i) { PutU16(i.data(), boot::TotalSectors16, 8192); }, TVolumeFault::BeyondMedium),
    Foreign("oversized FAT: 4050 sectors", [](Image& i) { PutU16(i.data(), boot::SectorsPerFAT, 4050); },
            TVolumeFault::OversizedFat),
    {"long-name entries before B",
     [](Image& i) {
         PutEntry(SlotOf(i, 3), "B       TNC", 0x20, 4, 100);
         PutLongNamePiece(i, 1, 0x42, "B       TNC");
         PutLongNamePiece(i, 2, 0x01, "B       TNC");
     },
     feOk, kAB, "B.TNC", feOk, feOk, feOk, "B.TNC", {}, TVolumeFault::None,
     [](const Image& i) {
         // The pieces went with B; NEW.TNC took the first of their slots.
         EXPECT_EQ(std::memcmp(SlotOf(i, 1), "NEW     TNC", 11), 0);
         for (int s = 2; s <= 3; ++s) EXPECT_EQ(SlotOf(i, s)[0], 0xE5) << s;
     }},
    {"volume label", [](Image& i) { PutEntry(SlotOf(i, 2), "ZVTLABEL   ", 0x08, 0, 0); },
     feOk, kAB, "ZVTLABEL", feNotFound, feNotFound, feOk, nullptr, {}, TVolumeFault::None,
     [](const Image& i) { EXPECT_EQ(SlotOf(i, 2)[0], 'Z'); }},
    {"subdirectory holding a file",
     [](Image& i) {
         PutEntry(SlotOf(i, 2), "SUB        ", 0x10, 5, 0);
         SetFat(i, 5, FatEnd);
         SetFat(i, 6, FatEnd);  // INNER.TXT inside SUB
         std::memcpy(i.data() + (38 + 3 * 4) * SectorSize, "INNER   TXT", 11);
     },
     feOk, kAB, "SUB", feNotFound, feNotFound, feOk, nullptr, {}, TVolumeFault::None,
     [](const Image& i) {
         EXPECT_EQ(CheckVolume(TablesOf(i)).Unexplained, 1u);  // INNER.TXT's cluster: not lost
         EXPECT_EQ(FatOf(i, 5), FatEnd);
         EXPECT_EQ(FatOf(i, 6), FatEnd);
     }},
    {"small letters and an inner blank", [](Image& i) { std::memcpy(SlotOf(i, 1), "my file tnc", 11); },
     feOk, {"A.TNC", "MY FILE.tnc"}, "MY FILE.tnc", feOk, feOk, feOk, "B.TNC", {}, TVolumeFault::None, nullptr},
};

}  // namespace

TEST(DamagedAndForeignMedia, EachOutcomeOfLsGetRmPutAndCheck) {
    for (const ImageCase& c : kImageCases) {
        SCOPED_TRACE(c.Fault);
        Files files;
        Image image = BaseImage(files);
        c.Make(image);
        TMounted mounted(image);
        ASSERT_EQ(mounted.Mount, c.Mount);
        TMemMedium& m = mounted.Medium;
        TFlash& f = mounted.Flash;

        const uint8_t ls = f.ReadDir(0, nullptr);
        if (c.Mount == feOk) EXPECT_EQ(f.FFiles.StringList(), c.Listed);
        else EXPECT_EQ(ls, c.Mount);

        std::vector<uint8_t> out;
        EXPECT_EQ(Load(f, c.Target, out, 5000), c.Get);
        EXPECT_TRUE(!c.Holds || std::equal(files[c.Holds].begin(), files[c.Holds].end(), out.begin()));

        const TCheckReport before = CheckVolume(TablesOf(m.Bytes()));
        EXPECT_EQ(ProblemKinds(before), c.Kinds);
        EXPECT_EQ(before.Foreign, c.Foreign);

        m.ClearLog();
        EXPECT_EQ(f.DeleteFile(c.Target, 0), c.Rm);
        EXPECT_TRUE(c.Rm == feOk || m.WrittenSectors().empty());
        if (c.Holds || c.Rm == feOk) files.erase(c.Holds ? c.Holds : c.Target);
        EXPECT_EQ(Save(f, files, "NEW.TNC", 5000, 3), c.Put);

        if (c.Mount == feOk) {
            // The files no damage touches still load whole, and nothing new
            // is wrong with the volume.
            for (const TCheckProblem& p : before.Problems) files.erase(p.Name);
            ExpectIntact(f, files);
            const TCheckReport after = CheckVolume(TablesOf(m.Bytes()));
            for (const TCheckProblem& p : after.Problems) {
                const bool old = std::find(c.Kinds.begin(), c.Kinds.end(), p.Kind) != c.Kinds.end();
                EXPECT_TRUE(old) << ProblemLine(p);
            }
        } else {
            EXPECT_TRUE(m.WrittenSectors().empty());  // a foreign volume is never written
            EXPECT_EQ(m.Bytes(), image);
        }
        if (c.After) c.After(m.Bytes());
    }
}

TEST(DamagedAndForeignMedia, FormattingMakesAForeignMediumUsable) {
    Files files;
    Image image = BaseImage(files);
    MarkFat12(image);
    TMounted mounted(image);
    ASSERT_EQ(mounted.Mount, feForeignVolume);
    TFlash& f = mounted.Flash;
    EXPECT_EQ(f.FVolumeFault.load(), TVolumeFault::Fat12);
    ASSERT_EQ(f.FormatFlash(0), feOk);
    EXPECT_EQ(f.FVolumeFault.load(), TVolumeFault::None);
    Files fresh;
    ASSERT_EQ(Save(f, fresh, "NEW.TNC", 3000, 4), feOk);
    TFlash again;
    ASSERT_EQ(Mount(mounted.Medium, again), feOk);
    ExpectIntact(again, fresh);
    ExpectClean(mounted.Medium.Bytes());
}

TEST(DamagedAndForeignMedia, LongNamePiecesInThePreviousBlockGoWithTheirEntry) {
    // Slots 62 and 63 close the first block with B's pieces; B opens the second.
    Files files;
    Image image = BaseImage(files);
    const std::string name = "LONGB   TNC";
    PutEmptyFiles(SlotOf(image, 2), 60);
    PutLongNamePiece(image, 62, 0x42, name.c_str());
    PutLongNamePiece(image, 63, 0x01, name.c_str());
    PutEntry(SlotOf(image, 64), name.c_str(), 0x20, 4, 100);  // B's cluster under another name
    PutEntry(SlotOf(image, 1), "OTHER   TNC", 0x20, 0, 0);
    TMounted mounted(image);
    ASSERT_EQ(mounted.Mount, feOk);
    TMemMedium& m = mounted.Medium;
    TFlash& f = mounted.Flash;
    m.ClearLog();
    ASSERT_EQ(f.DeleteFile("LONGB.TNC", 0), feOk);
    // The earlier block first, the entry's block last, then the FAT.
    EXPECT_EQ(m.WrittenSectors(), (std::vector<uint16_t>{6, 7, 8, 9, 10, 11, 12, 13, 1, 2, 3, 4, 5}));
    for (int s : {62, 63, 64}) EXPECT_EQ(SlotOf(m.Bytes(), s)[0], 0xE5) << s;
    EXPECT_EQ(SlotOf(m.Bytes(), 61)[0], 'E');
    EXPECT_EQ(FatOf(m.Bytes(), 4), FatFree);
}

TEST(DamagedAndForeignMedia, NamesAreLookedUpAsTheyAreShown) {
    // Two entries another system wrote: "MY FILE" and "MYFILE", both TNC.
    Files files;
    Image image = BaseImage(files);
    std::memcpy(SlotOf(image, 0), "MY FILE TNC", 11);  // A's bytes
    std::memcpy(SlotOf(image, 1), "myfile  tnc", 11);  // B's bytes
    TMounted mounted(image);
    ASSERT_EQ(mounted.Mount, feOk);
    TFlash& f = mounted.Flash;
    ASSERT_EQ(f.ReadDir(0, nullptr), feOk);
    EXPECT_EQ(f.FFiles.StringList(), (std::vector<std::string>{"MY FILE.TNC", "MYFILE.tnc"}));
    const struct {
        const char* Name;
        const char* Holds;
    } lookups[] = {{"MY FILE.TNC", "A.TNC"}, {"my file.tnc", "A.TNC"}, {"MYFILE.tnc", "B.TNC"},
                   {"MYFILE.TNC", "B.TNC"},  {"myfile.tnc", "B.TNC"},  {"MY  FILE.TNC", "B.TNC"}};
    for (const auto& l : lookups) {
        std::vector<uint8_t> out;
        ASSERT_EQ(Load(f, l.Name, out, 3000), feOk) << l.Name;
        EXPECT_TRUE(std::equal(files[l.Holds].begin(), files[l.Holds].end(), out.begin())) << l.Name;
    }
    // A file of the same name in capitals is the same file.
    Files more;
    EXPECT_EQ(Save(f, more, "MYFILE.TNC", 10, 5), feExists);
    ASSERT_EQ(f.DeleteFile("My File.tnc", 0), feOk);
    ASSERT_EQ(f.ReadDir(0, nullptr), feOk);
    EXPECT_EQ(f.FFiles.StringList(), (std::vector<std::string>{"MYFILE.tnc"}));
}

TEST(DamagedAndForeignMedia, NamesThatTwoEntriesAnswerLoadAndDeleteNeither) {
    // Another system wrote a second entry that a name also answers to: the
    // list shows both, and whichever row is meant, the other file's bytes
    // must not come back, nor the other file go.
    const struct {
        const char* Case;
        const char* A;  // the entry name A.TNC's bytes are stored under
        const char* B;  // and B.TNC's
        std::vector<const char*> Lookups;
    } cases[] = {
        {"capitals and small letters", "myfile  tnc", "MYFILE  TNC", {"MYFILE.TNC", "MYFILE.tnc", "myfile.tnc"}},
        {"one entry name twice", "TWICE   TNC", "TWICE   TNC", {"TWICE.TNC"}},
        {"an inner blank in both letter cases", "my file tnc", "MY FILE TNC", {"MY FILE.TNC", "my file.tnc"}},
        {"Cyrillic small letters and capitals", "\xF4\xE0\xE9\xEB    TNC", "\xD4\xC0\xC9\xCB    TNC",
         {"\xD4\xC0\xC9\xCB.TNC", "\xF4\xE0\xE9\xEB.TNC"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Case);
        Files files;
        Image image = BaseImage(files);
        std::memcpy(SlotOf(image, 0), c.A, 11);
        std::memcpy(SlotOf(image, 1), c.B, 11);
        TMounted mounted(image);
        ASSERT_EQ(mounted.Mount, feOk);
        TFlash& f = mounted.Flash;
        ASSERT_EQ(f.ReadDir(0, nullptr), feOk);
        EXPECT_EQ(f.FFiles.Count(), 2);
        for (const char* name : c.Lookups) {
            std::vector<uint8_t> out;
            EXPECT_EQ(Load(f, name, out, 5000), feDamagedFile) << name;
            EXPECT_EQ(f.DeleteFile(name, 0), feDamagedFile) << name;
        }
        EXPECT_EQ(mounted.Medium.Bytes(), image);
        EXPECT_EQ(ProblemKinds(CheckVolume(TablesOf(image))), std::vector<TCheckKind>{TCheckKind::DuplicateName});
    }
}
