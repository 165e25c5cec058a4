#include "tests/fuzz/fuzz_volume.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "flashfs/fat_layout.h"
#include "flashfs/fs_flash.h"
#include "tests/mem_medium.h"

namespace skarvel::fuzz {

void Fail(const std::string& what) {
    std::fprintf(stderr, "fuzz check failed: %s\n", what.c_str());
    std::abort();
}

// ---------------------------------------------------------------- inputs

TDirInput ParseDirInput(const uint8_t* data, size_t size) {
    uint8_t h[DirHeaderSize] = {};
    if (size) std::memcpy(h, data, std::min(size, DirHeaderSize));
    TDirInput in;
    in.SectorsPerCluster = static_cast<uint8_t>((h[0] & 0x0F) + 1);
    in.RootEntries = static_cast<uint16_t>((GetU16(h, 1) % 1024) + 1);
    in.ReservedSectors = static_cast<uint16_t>((h[3] & 3) + 1);
    in.NumFATs = (h[3] & 4) ? 2 : 1;
    in.SaveSize = static_cast<uint16_t>(GetU16(h, 4) % 12000);
    in.DeleteIndex = h[6];
    const size_t rest = size > DirHeaderSize ? size - DirHeaderSize : 0;
    const size_t rootLen = std::min<size_t>(GetU16(h, 8), rest);
    const uint8_t* p = data + std::min(size, DirHeaderSize);
    in.Root.assign(p, p + rootLen);
    in.Fat.assign(p + rootLen, p + rest);
    return in;
}

std::vector<uint8_t> EncodeDirInput(const TDirInput& in) {
    std::vector<uint8_t> out(DirHeaderSize, 0);
    out[0] = static_cast<uint8_t>((in.SectorsPerCluster - 1) & 0x0F);
    PutU16(out.data(), 1, static_cast<uint16_t>(in.RootEntries - 1));
    out[3] = static_cast<uint8_t>(((in.ReservedSectors - 1) & 3) | (in.NumFATs == 2 ? 4 : 0));
    PutU16(out.data(), 4, in.SaveSize);
    out[6] = in.DeleteIndex;
    PutU16(out.data(), 8, static_cast<uint16_t>(in.Root.size()));
    out.insert(out.end(), in.Root.begin(), in.Root.end());
    out.insert(out.end(), in.Fat.begin(), in.Fat.end());
    return out;
}

bool DirGeometry(const TDirInput& in, TVolumeGeometry& g) {
    TVolumeGeometry v;
    v.SectorsPerCluster = in.SectorsPerCluster;
    v.ReservedSectors = in.ReservedSectors;
    v.NumFATs = in.NumFATs;
    v.RootEntries = in.RootEntries;
    v.TotalSectors = MediumSectors;
    const uint32_t clusters = v.TotalSectors / v.SectorsPerCluster;
    v.SectorsPerFAT = static_cast<uint16_t>(clusters * 2 / SectorSize + 1);
    if (!DeriveGeometry(v)) return false;
    g = v;
    return true;
}

void PutPattern(uint8_t* p, uint32_t s) {
    std::memset(p, 0, SectorSize);
    p[0] = static_cast<uint8_t>(s);
    p[1] = static_cast<uint8_t>(s >> 8);
    p[2] = static_cast<uint8_t>(~s);
    p[3] = static_cast<uint8_t>(~s >> 8);
}

// ---------------------------------------------------------------- checks

void CheckGeometry(const TFlash& f) {
    const uint32_t spc = f.FSectorsPerCluster;
    Check(f.FBytesPerSector == SectorSize, "bytes per sector is not 512 after a mount");
    Check(spc > 0, "no sectors per cluster");
    Check(f.FClusterBuf.size() == spc * SectorSize, "cluster buffer of the wrong size");
    Check(f.FFat.size() == static_cast<size_t>(f.FSectorsPerFAT) * (SectorSize / 2), "FAT image of the wrong size");
    Check(f.FLastCluster < f.FFat.size() || f.FLastCluster < 2, "data clusters beyond the FAT image");
    Check(f.FLastCluster <= FatMaxCluster, "a data cluster number that reads as a chain end");
    Check(static_cast<uint32_t>(f.FRootDirSectors) * SectorSize >= static_cast<uint32_t>(f.FRootEntries) * 32,
          "root directory smaller than its entries");
    Check(f.FFirstRootSector == f.FReservedSectors + f.FNumFATs * f.FSectorsPerFAT, "first root sector");
    Check(f.FFirstDataSector == f.FFirstRootSector + f.FRootDirSectors, "first data sector");
    const uint32_t rootBlocks = (f.FRootDirSectors + spc - 1) / spc;
    Check(f.FFirstRootSector + rootBlocks * spc <= SectorLimit, "root blocks beyond sector 65535");
    if (f.FLastCluster >= 2) {
        const uint64_t end = f.FFirstDataSector + static_cast<uint64_t>(f.FLastCluster - 1) * spc;
        Check(end <= std::min<uint64_t>(f.FTotalSectors, SectorLimit), "data clusters beyond the volume");
    }
}

void CheckWrites(const TFlash& f, const test::TMemMedium& m) {
    const uint32_t spc = f.FSectorsPerCluster;
    // Every copy of the FAT the volume keeps is written.
    const uint32_t fat0 = f.FReservedSectors, fat1 = fat0 + uint32_t{f.FNumFATs} * f.FSectorsPerFAT;
    const uint32_t root0 = f.FFirstRootSector;
    const uint32_t root1 = root0 + (f.FRootDirSectors + spc - 1) / spc * spc;
    const uint32_t data0 = f.FFirstDataSector;
    const uint32_t data1 = f.FLastCluster >= 2 ? data0 + (f.FLastCluster - 1u) * spc : data0;
    for (const test::TExchangeRecord& r : m.Log()) {
        if (r.Cmd != cmdWriteSector) continue;
        const uint32_t s = r.Sector;
        const bool ok = (s >= fat0 && s < fat1) || (s >= root0 && s < root1) || (s >= data0 && s < data1);
        if (!ok || s == 0)
            Fail("sector " + std::to_string(s) + " written outside the FAT, root and data clusters");
    }
}

namespace {

uint32_t FreeClusters(const TFlash& f) {
    uint32_t n = 0;
    for (uint32_t c = 2; c <= f.FLastCluster && c < f.FFat.size(); ++c)
        if (f.FFat[c] == FatFree) ++n;
    return n;
}

// A loaded file is made of whole data sectors, cluster by cluster.
void CheckPatternFile(const TFlash& f, const uint8_t* p, uint32_t size) {
    const uint32_t spc = f.FSectorsPerCluster;
    uint32_t prev = 0;
    uint8_t expect[SectorSize];
    for (uint32_t j = 0; j * SectorSize < size; ++j) {
        const uint32_t n = std::min<uint32_t>(SectorSize, size - j * SectorSize);
        const uint8_t* chunk = p + static_cast<size_t>(j) * SectorSize;
        uint32_t s;
        if (j % spc != 0) {
            s = prev + 1;  // the next sector of the same cluster
        } else if (n >= 2) {
            s = chunk[0] | (chunk[1] << 8);
            Check(s >= f.FFirstDataSector && s < MediumSectors && (s - f.FFirstDataSector) % spc == 0,
                  "a loaded cluster that does not start at a data cluster's first sector");
        } else {
            return;  // one byte of a cluster: nothing to tell it by
        }
        PutPattern(expect, s);
        if (std::memcmp(chunk, expect, n) != 0)
            Fail("loaded bytes " + std::to_string(j * SectorSize) + ".. are not sector " + std::to_string(s));
        prev = s;
    }
}

std::vector<uint8_t> SaveContent(uint32_t size) {
    std::vector<uint8_t> v(size);
    for (uint32_t i = 0; i < size; ++i) v[i] = static_cast<uint8_t>((i * 7 + (i >> 8) * 13 + 1) & 0xFF);
    return v;
}

constexpr uint32_t MaxLoad = 4u << 20;  // larger than any file of a 2 MiB volume
constexpr int MaxLoads = 64;
const char* const SaveName = "FUZZ.TNC";

}  // namespace

void Exercise(TFlash& f, test::TMemMedium& m, const TExercise& how) {
    CheckGeometry(f);
    const uint32_t capacity = static_cast<uint32_t>(f.FRootDirSectors) * (SectorSize / 32);

    uint8_t r = f.ReadDir(0, nullptr);
    const int count = f.FFiles.Count();
    if (r == feOk) Check(count > 0, "ReadDir succeeded with an empty list");
    else Check(count == 0, "ReadDir failed but left a list");
    Check(static_cast<uint32_t>(count) <= capacity, "more files listed than the root holds");
    const std::vector<std::string> names = f.FFiles.StringList();
    std::vector<uint32_t> sizes;
    for (int i = 0; i < count; ++i) sizes.push_back(static_cast<uint32_t>(f.FFiles.Sizes(i)));

    for (int i = 0; i < count && i < MaxLoads; ++i) {
        const std::string& name = names[static_cast<size_t>(i)];
        const uint32_t size = sizes[static_cast<size_t>(i)];
        // The entry a lookup finds may be another one that lists alike
        // (one in small letters).
        uint32_t stored = 0;
        const bool found = f.GetFileAttr(name.c_str(), stored, 0) == feOk;
        if (size <= MaxLoad) {
            // A buffer of exactly the listed size: writing past it is caught.
            std::unique_ptr<uint8_t[]> buf(new uint8_t[size]);
            r = f.LoadFile(name.c_str(), buf.get(), 0, size);
            if (r == feOk) {
                Check(found && stored <= size, "LoadFile succeeded for a file that does not fit");
                for (uint32_t k = stored; k < size; ++k) Check(buf[k] == 0, "bytes after the file are not zero");
                if (how.Strict) CheckPatternFile(f, buf.get(), stored);
            }
        } else {
            // No file of this size fits the volume; a small buffer must be safe.
            std::unique_ptr<uint8_t[]> buf(new uint8_t[16]);
            r = f.LoadFile(name.c_str(), buf.get(), 0, 16);
            if (r == feOk) Check(found && stored <= 16, "LoadFile succeeded for a file that does not fit");
        }
        Check(f.FPendingEntry == 0, "LoadFile left a pending entry");
    }

    if (count > 0) {
        f.DeleteFile(names[how.DeleteIndex % static_cast<size_t>(count)].c_str(), 0);
        Check(f.FPendingEntry == 0, "DeleteFile left a pending entry");
    }

    // A small file saved now must come back unchanged.
    const std::vector<uint8_t> content = SaveContent(how.SaveSize);
    const uint32_t freeBefore = FreeClusters(f);
    r = f.SaveFile(SaveName, content.data(), 0, how.SaveSize);
    Check(f.FPendingEntry == 0, "SaveFile left a pending entry");
    if (r != feOk) {
        if (how.Strict) Check(FreeClusters(f) == freeBefore, "a failed save kept clusters");
    } else {
        const uint32_t clusters = ChainLength(how.SaveSize, f.FSectorsPerCluster * SectorSize);
        Check(FreeClusters(f) + clusters == freeBefore, "a save took other than its chain's clusters");
        std::unique_ptr<uint8_t[]> back(new uint8_t[how.SaveSize]);
        r = f.LoadFile(SaveName, back.get(), 0, how.SaveSize);
        if (r != feOk) Fail("the saved file does not load: error " + std::to_string(r));
        Check(how.SaveSize == 0 || std::memcmp(back.get(), content.data(), how.SaveSize) == 0,
              "the saved file loads changed");
        uint32_t attr = 0;
        Check(f.GetFileAttr(SaveName, attr, 0) == feOk && attr == how.SaveSize, "the saved file's size");
        if (f.ReadDir(0, nullptr) == feOk) {
            bool listed = false;
            for (int i = 0; i < f.FFiles.Count(); ++i)
                listed = listed || (f.FFiles.Strings(i) == SaveName &&
                                    static_cast<uint32_t>(f.FFiles.Sizes(i)) == how.SaveSize);
            Check(listed, "the saved file is not listed with its size");
        }
        r = f.DeleteFile(SaveName, 0);
        if (how.Strict) {
            Check(r == feOk, "the saved file cannot be deleted");
            Check(FreeClusters(f) == freeBefore, "deleting the saved file did not free its clusters");
        }
    }
    CheckWrites(f, m);
}

}  // namespace skarvel::fuzz
