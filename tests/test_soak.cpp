// Soak: random sequences of format, put, get, rm and ls through the
// command-line client's code path against the simulated device with faults
// on the line (lost, corrupted, failed and late answers, busy writes).
// Every get is compared with what was put; at the end an independent
// checker walks the image.
//
// SKARVEL_SOAK_STEPS sets the number of operations (default 40; try 2000
// for a long run), SKARVEL_SOAK_SEED the seed.
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <random>

#include "tests/sim_process.h"
#include "tests/volume_check.h"
#include "tools/zvt/client.h"

using namespace skarvel;
using namespace skarvel::test;

namespace {

int EnvInt(const char* name, int fallback) {
    const char* v = std::getenv(name);
    return v && *v ? std::atoi(v) : fallback;
}

}  // namespace

TEST(Soak, RandomOperationsOnAFaultyLineKeepEveryByte) {
    const int steps = EnvInt("SKARVEL_SOAK_STEPS", 40);
    const unsigned seed = static_cast<unsigned>(EnvInt("SKARVEL_SOAK_SEED", 2026));
    std::mt19937 rng(seed);

    TempDir dir;
    const std::string image = dir.File("medium.img");
    SimProcess sim({"--image", image, "--seed", std::to_string(seed), "--p-drop", "0.004", "--p-corrupt",
                    "0.004", "--p-status", "0.004", "--p-late", "0.004", "--busy-ms", "3"});
    TZvtClient client;
    ASSERT_TRUE(client.Open(sim.PtyPath(), 115200)) << client.Error();

    ASSERT_EQ(client.Init(), feUnformatted);  // a blank medium
    ASSERT_EQ(client.Format(), feOk);

    const std::vector<std::string> names = {"P1.TNC", "P2.TNC", "P3.ISO", "P4.ISO", "P5.LST", "LONG1.TNC",
                                            "A.B",    "Z.TNC",  "Q9.ISO", "EMPTY.LST"};
    const std::vector<size_t> sizes = {0, 1, 100, 2047, 2048, 2049, 4096, 5000, 12000};
    std::map<std::string, std::vector<uint8_t>> model;
    int wrongBytes = 0;

    for (int step = 0; step < steps; ++step) {
        const int dice = static_cast<int>(rng() % 100);
        const std::string name = names[rng() % names.size()];
        SCOPED_TRACE("step " + std::to_string(step) + " " + name);
        if (dice < 40) {
            std::vector<uint8_t> data(sizes[rng() % sizes.size()]);
            for (auto& b : data) b = static_cast<uint8_t>(rng());
            const uint8_t r = client.Save(name, data);
            if (model.count(name)) {
                EXPECT_EQ(r, feExists);
            } else {
                ASSERT_EQ(r, feOk) << ErrorText(r);
                model[name] = data;
            }
        } else if (dice < 70) {
            if (model.empty()) continue;
            auto it = model.begin();
            std::advance(it, static_cast<long>(rng() % model.size()));
            std::vector<uint8_t> data;
            const uint8_t r = client.Load(it->first, static_cast<uint32_t>(it->second.size()), data);
            ASSERT_EQ(r, feOk) << ErrorText(r);
            if (data != it->second) ++wrongBytes;
        } else if (dice < 85) {
            const uint8_t r = client.Delete(name);
            EXPECT_EQ(r, model.count(name) ? feOk : feNotFound) << ErrorText(r);
            model.erase(name);
        } else if (dice < 97) {
            std::vector<TZvtFile> files;
            ASSERT_EQ(client.List(files), feOk);
            std::map<std::string, uint32_t> listed, expected;
            for (const auto& f : files) listed[f.Name] = f.Size;
            for (const auto& [n, d] : model) expected[n] = static_cast<uint32_t>(d.size());
            EXPECT_EQ(listed, expected);
        } else {
            ASSERT_EQ(client.Format(), feOk);
            model.clear();
        }
    }
    EXPECT_EQ(wrongBytes, 0);
    client.Close();
    sim.Stop();

    const VolumeReport report = CheckVolume(ReadFileBytes(image));
    EXPECT_TRUE(report.Formatted);
    for (const auto& p : report.Problems) ADD_FAILURE() << p;
    EXPECT_EQ(report.Files.size(), model.size());
    for (const auto& [n, d] : model) {
        ASSERT_TRUE(report.Files.count(n)) << n;
        EXPECT_EQ(report.Files.at(n), d) << n;
    }
    std::printf("soak: %d steps, %zu files at the end, sim: %s\n", steps, model.size(), sim.Output().c_str());
}
