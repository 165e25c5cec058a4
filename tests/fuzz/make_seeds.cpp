// Writes the seed corpora of the fuzz targets:
//   fuzz_make_seeds DIR     (DIR is tests/fuzz/corpus; its three folders must exist)
// Seeds: a few frames as the device sends them, formatted boot sectors with
// their FAT, and directories with files, deleted slots, a subdirectory entry
// and damaged chains.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "flashfs/fat_layout.h"
#include "link/zvt_frame.h"
#include "tests/fuzz/fuzz_volume.h"

using namespace skarvel;
using namespace skarvel::fuzz;

namespace {

std::string gDir;
int gFailures = 0;

void Write(const std::string& target, const std::string& name, const std::string& bytes) {
    const std::string path = gDir + "/" + target + "/" + name;
    if (!std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()))) {
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
        ++gFailures;
    }
}
void Write(const std::string& target, const std::string& name, const std::vector<uint8_t>& bytes) {
    Write(target, name, std::string(bytes.begin(), bytes.end()));
}

// ---------------------------------------------------------------- frames

void RxSeeds() {
    std::vector<uint8_t> payload(RecvPayloadLen);
    for (size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<uint8_t>(i * 5 + 3);
    payload[10] = 0x10;  // frame-looking bytes inside a payload
    payload[11] = 0x01;
    const std::string read = BuildAnswerBytes(0, 0, 0, 1) + BuildDataBlockBytes(payload.data());
    Write("fuzz_rx", "identify", BuildAnswerBytes(0, 0x2C, 0, 0));
    Write("fuzz_rx", "read", read);
    Write("fuzz_rx", "busy-then-ready", BuildAnswerBytes(0, 1, 0, 0) + BuildAnswerBytes(0, 0, 0, 0));
    Write("fuzz_rx", "noise-then-answer", std::string("\x01\x55\x10\x10\x08", 5) + BuildAnswerBytes(0, 7, 9, 0));
    Write("fuzz_rx", "cut-block-then-answers",
          read.substr(0, 108) + BuildAnswerBytes(0, 0, 0, 0) + BuildAnswerBytes(2, 0, 0, 0));
    Write("fuzz_rx", "status-error-with-block",
          BuildAnswerBytes(1, 0, 0, 1) + BuildDataBlockBytes(payload.data()) + BuildAnswerBytes(0, 0x2C, 0, 0));
    Write("fuzz_rx", "command-frames",
          BuildFrameBytes(0x9F, 0, 0, nullptr, 0, 0) + BuildFrameBytes(0x80, 1, 0x23, nullptr, 0, 512));
}

// ---------------------------------------------------------------- volumes

void PutEntry(std::vector<uint8_t>& root, size_t slot, const char* name11, uint8_t attr, uint16_t cluster,
              uint32_t size) {
    if (root.size() < (slot + 1) * 32) root.resize((slot + 1) * 32, 0);
    uint8_t* e = root.data() + slot * 32;
    std::memcpy(e, name11, 11);
    e[11] = attr;
    PutU16(e, 26, cluster);
    PutU32(e, 28, size);
}

std::vector<uint8_t> FreshFat(size_t entries) {
    std::vector<uint8_t> fat(entries * 2, 0);
    PutU16(fat.data(), 0, FatMedia0);
    PutU16(fat.data(), 2, FatEnd);
    return fat;
}

void Link(std::vector<uint8_t>& fat, std::initializer_list<uint16_t> chain) {
    const uint16_t* c = chain.begin();
    for (size_t i = 0; i < chain.size(); ++i) {
        const uint16_t next = i + 1 < chain.size() ? c[i + 1] : FatEnd;
        if (fat.size() < (c[i] + 1u) * 2) fat.resize((c[i] + 1u) * 2, 0);
        PutU16(fat.data(), c[i] * 2u, next);
    }
}

void DirSeeds() {
    TDirInput empty;
    empty.Fat = FreshFat(4);
    Write("fuzz_dir", "formatted-empty", EncodeDirInput(empty));

    TDirInput three;
    three.SaveSize = 3000;
    PutEntry(three.Root, 0, "A       TNC", 0x00, 2, 100);
    PutEntry(three.Root, 1, "\xE5OLD    ISO", 0x00, 8, 10);
    PutEntry(three.Root, 2, "B       ISO", 0x20, 3, 5000);
    PutEntry(three.Root, 3, "SUB        ", 0x10, 9, 0);
    PutEntry(three.Root, 4, "C       LST", 0x00, 6, 2048);
    PutEntry(three.Root, 5, "A       TNC", 0x10, 10, 7);  // a directory of the same name
    three.Fat = FreshFat(16);
    for (auto chain : {std::initializer_list<uint16_t>{2}, {3, 4, 5}, {6, 7}, {9}, {10}}) Link(three.Fat, chain);
    Write("fuzz_dir", "three-files", EncodeDirInput(three));

    TDirInput many;  // more files than one block holds
    many.Fat = FreshFat(4);
    for (uint16_t i = 0; i < 70; ++i) {
        char name[12];
        std::snprintf(name, sizeof name, "F%-7uTNC", static_cast<unsigned>(i));
        PutEntry(many.Root, i, name, 0x00, static_cast<uint16_t>(2 + i), 10 + i);
        Link(many.Fat, {static_cast<uint16_t>(2 + i)});
    }
    many.DeleteIndex = 65;
    many.SaveSize = 2048;
    Write("fuzz_dir", "seventy-files", EncodeDirInput(many));

    TDirInput damaged;  // a loop, a link out of the volume, a free link, a cross-link
    damaged.SaveSize = 4097;
    PutEntry(damaged.Root, 0, "LOOP    TNC", 0x00, 2, 8000);
    PutEntry(damaged.Root, 1, "OUT     TNC", 0x00, 5, 4000);
    PutEntry(damaged.Root, 2, "FREE    TNC", 0x00, 7, 3000);
    PutEntry(damaged.Root, 3, "CROSS   TNC", 0x00, 9, 2100);
    PutEntry(damaged.Root, 4, "ZERO    TNC", 0x00, 0, 0);
    PutEntry(damaged.Root, 5, "HUGE    TNC", 0x00, 11, 0xFFFFFFF0u);
    damaged.Fat = FreshFat(16);
    for (auto [cluster, next] : {std::pair<int, uint16_t>{2, 3}, {3, 2}, {5, 0xF000}, {7, 8}, {9, 3}, {11, FatEnd}})
        PutU16(damaged.Fat.data(), cluster * 2u, next);
    Write("fuzz_dir", "damaged-chains", EncodeDirInput(damaged));

    TDirInput foreign;  // what other systems write: long names, a label, small letters, blanks
    foreign.SaveSize = 100;
    foreign.DeleteIndex = 1;
    PutEntry(foreign.Root, 0, "ZVT DISK   ", 0x08, 0, 0);
    for (size_t piece = 1; piece <= 2; ++piece) {
        PutEntry(foreign.Root, piece, "\x42p\0r\0o\0g\0r\0", 0x0F, 0, 0);
        foreign.Root[piece * 32] = piece == 1 ? 0x42 : 0x01;
        foreign.Root[piece * 32 + 13] = LongNameChecksum(reinterpret_cast<const uint8_t*>("PROGRA~1TNC"));
    }
    PutEntry(foreign.Root, 3, "PROGRA~1TNC", 0x20, 2, 3000);
    PutEntry(foreign.Root, 4, "my prog tnc", 0x20, 4, 10);
    PutEntry(foreign.Root, 5, "EMPTY   TXT", 0x20, 0, 0);
    foreign.Fat = FreshFat(8);
    Link(foreign.Fat, {2, 3});
    Link(foreign.Fat, {4});
    Write("fuzz_dir", "other-systems-entries", EncodeDirInput(foreign));

    TDirInput small;  // one sector per cluster, a root of 20 entries
    small.SectorsPerCluster = 1;
    small.RootEntries = 20;
    small.ReservedSectors = 2;
    small.NumFATs = 2;
    small.SaveSize = 1500;
    for (uint16_t i = 0; i < 20; ++i) {
        char name[12];
        std::snprintf(name, sizeof name, "S%-7uISO", static_cast<unsigned>(i));
        PutEntry(small.Root, i, name, 0x00, static_cast<uint16_t>(2 + 2 * i), 600);
        Link(small.Fat, {static_cast<uint16_t>(2 + 2 * i), static_cast<uint16_t>(3 + 2 * i)});
    }
    PutU16(small.Fat.data(), 0, FatMedia0);
    PutU16(small.Fat.data(), 2, FatEnd);
    small.Root[5 * 32] = 0xE5;
    Write("fuzz_dir", "small-clusters-full-root", EncodeDirInput(small));
}

void MountSeeds() {
    TVolumeGeometry g;
    FormatGeometry(0x200000, g);
    std::vector<uint8_t> img(SectorSize, 0);
    EncodeBootSector(g, img.data());
    Write("fuzz_mount", "formatted-boot", img);

    // Boot sector, the 5 FAT sectors and the first root sector, with files.
    std::vector<uint8_t> fat = FreshFat(static_cast<size_t>(g.SectorsPerFAT) * 256);
    Link(fat, {2, 3});
    Link(fat, {4});
    std::vector<uint8_t> root;
    PutEntry(root, 0, "PART1   TNC", 0x00, 2, 3000);
    PutEntry(root, 1, "PART2   ISO", 0x00, 4, 12);
    root.resize(SectorSize, 0);
    std::vector<uint8_t> withFiles = img;
    withFiles.insert(withFiles.end(), fat.begin(), fat.end());
    withFiles.insert(withFiles.end(), root.begin(), root.end());
    withFiles.push_back(20);  // size and delete choice of the exercise
    withFiles.push_back(1);
    withFiles.push_back(0);
    Write("fuzz_mount", "formatted-with-files", withFiles);

    // 32-bit total (70000 sectors), 8 sectors per cluster: more than the
    // 2 MiB device has, refused.
    std::vector<uint8_t> big = img;
    big[boot::SectorsPerCluster] = 8;
    PutU16(big.data(), boot::TotalSectors16, 0);
    PutU32(big.data(), boot::TotalSectors32, 70000);
    PutU16(big.data(), boot::SectorsPerFAT, 35);
    Write("fuzz_mount", "total-32-bit", big);

    // A 12-bit FAT as a PC formats 2 MiB: named in the extended boot
    // record, three FAT sectors, two FATs, entries 0 and 1 in three bytes.
    std::vector<uint8_t> fat12 = img;
    fat12[boot::Media] = 0xF8;
    fat12[boot::NumFATs] = 2;
    PutU16(fat12.data(), boot::SectorsPerFAT, 3);
    fat12[boot::ExtSignature] = boot::ExtSignatureMark;
    std::memcpy(fat12.data() + boot::FsType, "FAT12   ", 8);
    const uint8_t fat12Start[] = {0xF8, 0xFF, 0xFF, 0x03, 0xF0, 0xFF};
    fat12.insert(fat12.end(), std::begin(fat12Start), std::end(fat12Start));
    Write("fuzz_mount", "fat12-named", fat12);

    // The same without the name: refused by the FAT's size and first bytes.
    std::vector<uint8_t> fat12Plain = fat12;
    fat12Plain[boot::ExtSignature] = 0;
    std::memset(fat12Plain.data() + boot::FsType, 0, 8);
    Write("fuzz_mount", "fat12-unnamed", fat12Plain);

    // A FAT of 4050 sectors on the 2 MiB medium: refused before it is read.
    std::vector<uint8_t> hugeFat = img;
    PutU16(hugeFat.data(), boot::SectorsPerFAT, 4050);
    Write("fuzz_mount", "oversized-fat", hugeFat);

    // Sectors per FAT 0: a volume with 32-bit FAT fields, refused.
    std::vector<uint8_t> fat32 = img;
    PutU16(fat32.data(), boot::SectorsPerFAT, 0);
    Write("fuzz_mount", "sectors-per-fat-0", fat32);

    // One sector per cluster, two FATs, 16 root entries.
    std::vector<uint8_t> tiny = img;
    tiny[boot::SectorsPerCluster] = 1;
    tiny[boot::NumFATs] = 2;
    PutU16(tiny.data(), boot::RootEntries, 16);
    PutU16(tiny.data(), boot::TotalSectors16, 300);
    PutU16(tiny.data(), boot::SectorsPerFAT, 2);
    tiny.resize(SectorSize * 2, 0);
    PutU16(tiny.data(), SectorSize, FatMedia0);
    PutU16(tiny.data(), SectorSize + 2, FatEnd);
    Write("fuzz_mount", "tiny-volume", tiny);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: fuzz_make_seeds CORPUS-DIR\n");
        return 2;
    }
    gDir = argv[1];
    RxSeeds();
    MountSeeds();
    DirSeeds();
    return gFailures ? 1 : 0;
}
