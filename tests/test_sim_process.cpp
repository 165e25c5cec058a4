// The simulator handle the tests share, on Linux a child process and under
// wine a simulator that a broker outside wine runs: a handle that goes has
// ended its simulator, and a simulator that cannot start says why.
#include <gtest/gtest.h>

#include <stdexcept>

#include "tests/sim_process.h"

using namespace skarvel::test;

TEST(SimProcess, TheNextSimulatorOnAnImageStartsAsSoonAsTheLastHandleHasGone) {
    TempDir dir;
    const std::string image = dir.File("medium.img");
    // The image is locked while a simulator has it open: a simulator still
    // on its way out would refuse the next one.
    for (int round = 0; round < 8; ++round) {
        std::unique_ptr<SimProcess> sim;
        ASSERT_NO_THROW(sim = std::make_unique<SimProcess>(std::vector<std::string>{"--image", image}))
            << "round " << round;
        EXPECT_TRUE(sim->Running());
    }
}

TEST(SimProcess, ASimulatorThatCannotStartGivesItsOwnReason) {
    TempDir dir;
    const std::string image = dir.File("medium.img");
    SimProcess first({"--image", image});
    try {
        SimProcess second({"--image", image});
        FAIL() << "a second simulator started on the same image";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("is in use by another simulator"), std::string::npos) << e.what();
    }
    EXPECT_TRUE(first.Running());
}
