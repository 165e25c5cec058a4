// PC files that lie about themselves, as Linux has them: a file of /proc
// that records no size, a named pipe whose open would wait for a writer, a
// device, a file that grows while it is read.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/sim_process.h"
#include "tools/zvt/pc_files.h"

using namespace skarvel;
using namespace skarvel::test;

namespace {

struct PcFilesLinux : testing::Test {
    TempDir dir;
    std::string error;
};

}  // namespace

TEST_F(PcFilesLinux, FileOfProcIsReadToItsEnd) {
    ASSERT_EQ(std::filesystem::file_size("/proc/version"), 0u);  // records no size, has bytes
    std::vector<uint8_t> data;
    ASSERT_EQ(ReadPcFile("/proc/version", 1 << 20, data, error), TPcRead::Ok) << error;
    EXPECT_GT(data.size(), 10u);
    EXPECT_EQ(ReadPcFile("/proc/version", 10, data, error), TPcRead::TooBig);
    EXPECT_TRUE(data.empty());
}

TEST_F(PcFilesLinux, WhatIsNoFileIsNamedWithoutBeingOpened) {
    const std::string fifo = dir.File("pipe.tnc");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
    const struct {
        std::string path;
        TPcKind kind;
        const char* text;
    } cases[] = {
        {fifo, TPcKind::Pipe, "это именованный канал, а не обычный файл"},  // an open would wait for a writer
        {dir.Path(), TPcKind::Folder, "это папка, а не файл"},
        {"/dev/null", TPcKind::Device, "это устройство, а не обычный файл"},
        {dir.File("missing.tnc"), TPcKind::Missing, "missing.tnc"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        uint64_t size = 1;
        error.clear();
        EXPECT_EQ(LookAtPcFile(c.path, size, error), c.kind);
        EXPECT_NE(error.find(c.text), std::string::npos) << error;
        std::vector<uint8_t> data;
        EXPECT_EQ(ReadPcFile(c.path, 1 << 20, data, error), TPcRead::Failed);
    }
}

TEST_F(PcFilesLinux, FileThatGrowsWhileReadFails) {
    const std::string path = dir.File("log.tnc");
    WriteFileBytes(path, std::vector<uint8_t>(2 * PcReadChunk, 0x30));
    std::vector<uint8_t> data;
    // Someone appends after the first piece has been read.
    const auto r = ReadPcFile(path, 1 << 20, data, error, [&](uint64_t got) {
        if (got != PcReadChunk) return;
        FILE* f = std::fopen(path.c_str(), "ab");
        std::fputs("N999 M30\r\n", f);
        std::fclose(f);
    });
    EXPECT_EQ(r, TPcRead::Failed);
    EXPECT_NE(error.find("файл изменялся, пока его читали"), std::string::npos) << error;
    EXPECT_TRUE(data.empty());
}
