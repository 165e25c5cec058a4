// The device vanishing in the middle of a transfer: killed, or frozen so
// that the line falls silent. The client must end with a clear error within
// the resend budget, release the port, and leave the other files intact.
#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <thread>

#include "tests/sim_process.h"
#include "tests/volume_check.h"
#include "tools/zvt/client.h"

using namespace skarvel;
using namespace skarvel::test;

namespace {

std::vector<uint8_t> Bytes(size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> v(n);
    for (auto& b : v) b = static_cast<uint8_t>(rng());
    return v;
}

// Calls act once the client has sent `frames` sector frames.
std::thread WhenFrames(TZvtClient& client, uint32_t frames, std::function<void()> act) {
    return std::thread([&client, frames, act] {
        while (client.SectorFrames.load() < frames) SleepMs(2);
        act();
    });
}

// A formatted medium holding KEEP.TNC and BIG.TNC, and a session on it whose
// simulator paces the bytes as a real line does.
class Unplug : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(Connect({}));
        client->Init();
        ASSERT_EQ(client->Format(), feOk);
        ASSERT_EQ(client->Save("KEEP.TNC", Bytes(7000, 1)), feOk);
        ASSERT_EQ(client->Save("BIG.TNC", Bytes(40000, 2)), feOk);
        ASSERT_NO_FATAL_FAILURE(Connect({"--baud", "115200"}));
        ASSERT_EQ(client->Init(), feOk);
    }
    void Connect(std::vector<std::string> simArgs) {
        client.reset();
        sim.reset();
        simArgs.insert(simArgs.begin(), {"--image", image});
        sim = std::make_unique<SimProcess>(simArgs);
        client = std::make_unique<TZvtClient>();
        ASSERT_TRUE(client->Open(sim->PtyPath(), 115200));
    }
    // Ends the session on the cut line; a new one finds KEEP.TNC as it was.
    void ExpectPortReleasedAndKeepIntact() {
        client->Close();
        EXPECT_FALSE(client->Driver().ComPort.Connected());
        sim->Thaw();
        sim->Stop();
        ASSERT_NO_FATAL_FAILURE(Connect({}));
        ASSERT_EQ(client->Init(), feOk);
        std::vector<uint8_t> data;
        ASSERT_EQ(client->Load("KEEP.TNC", 7000, data), feOk);
        EXPECT_EQ(data, Bytes(7000, 1));
    }

    TempDir dir;
    const std::string image = dir.File("medium.img");
    std::unique_ptr<SimProcess> sim;
    std::unique_ptr<TZvtClient> client;
};

}  // namespace

TEST_F(Unplug, DeviceKilledDuringALoad) {
    std::thread killer = WhenFrames(*client, 12, [&] { sim->Kill(); });
    std::vector<uint8_t> data;
    const uint8_t r = client->Load("BIG.TNC", 40000, data);
    killer.join();
    EXPECT_EQ(r, feLinkLost) << ErrorText(r);  // "ошибка связи с ZVT"
    EXPECT_TRUE(data.empty());
    ExpectPortReleasedAndKeepIntact();
}

TEST_F(Unplug, LineFallsSilentDuringASave) {
    // Frozen, the device keeps its end of the line open but answers nothing.
    std::thread freezer = WhenFrames(*client, 12, [&] { sim->Freeze(); });
    const uint8_t r = client->Save("NEW.TNC", Bytes(30000, 3));
    freezer.join();
    EXPECT_EQ(r, feLinkLost) << ErrorText(r);
    ExpectPortReleasedAndKeepIntact();
    // The save's entry may stay behind, but nothing it touched is handed to
    // another file and the files that were there load as they were.
    client.reset();
    sim->Stop();
    const VolumeReport report = CheckVolume(ReadFileBytes(image));
    for (const auto& p : report.Problems) EXPECT_NE(p.find("NEW.TNC"), std::string::npos) << p;
    ASSERT_TRUE(report.Files.count("BIG.TNC"));
    EXPECT_EQ(report.Files.at("BIG.TNC"), Bytes(40000, 2));
}
