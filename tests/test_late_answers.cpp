// Answers carry no sector number: an answer that comes late, after its
// command was sent again or after the program that sent it has gone, must
// never be taken for the answer to another command. One run of the client
// ends while the device still owes it an answer; the next run opens the same
// line at once and loads a file, which must come back byte for byte.
//
// The runs here are clients in this process, one after the other, with the
// device's late answer and the driver's waits scaled down alike; the real
// zvt binary meets the same in test_zvt_cli.cpp.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/mem_medium.h"
#include "tests/sim_process.h"
#include "tools/zvt/client.h"

using namespace skarvel;
using namespace skarvel::test;

namespace {

// The device answers late after LateMs; the driver gives up waiting after
// AnswerMs and waits QuietMs of quiet before the first command of a run, as
// the device's 450 ms, its at most one second and the 1000 ms relate.
constexpr int AnswerMs = 100, LateMs = 200, QuietMs = 300;

void Scale(TZvtClient& c) {
    c.Driver().AnswerTimeoutMs = AnswerMs;
    c.Driver().QuietMs = QuietMs;
}

// How the first run ends.
enum class TEnd { Closed, Killed };

}  // namespace

TEST(LateAnswers, NextRunNeverTakesTheAnswerOwedToTheLastOne) {
    TempDir dir;
    const std::string image = dir.File("medium.img");
    const std::vector<uint8_t> data = RandomBytes(64 * 1024, 7);
    uint32_t mountAnswers = 0;
    {
        SimProcess sim({"--image", image});
        TZvtClient c;
        Scale(c);
        ASSERT_TRUE(c.Open(sim.PtyPath(), 115200)) << c.Error();
        ASSERT_EQ(c.Format(), feOk);
        ASSERT_EQ(c.Save("BIG.TNC", data), feOk);
        // A mount: identify, boot sector, the FAT's sectors; its last
        // answer is the one the device sends late below.
        mountAnswers = 2u + c.Driver().FSectorsPerFAT;
        c.Close();
    }
    // A fault that strikes one run in five must show within the rounds.
    constexpr int Rounds = 12;
    for (const TEnd end : {TEnd::Closed, TEnd::Killed}) {
        for (int round = 0; round < Rounds; ++round) {
            SCOPED_TRACE((end == TEnd::Closed ? "closed, round " : "killed, round ") + std::to_string(round));
            SimProcess sim({"--image", image, "--late-answer", std::to_string(mountAnswers), "--late-ms",
                            std::to_string(LateMs)});
            {
                TZvtClient first;
                Scale(first);
                ASSERT_TRUE(first.Open(sim.PtyPath(), 115200)) << first.Error();
                // Resends its last read and gets the answer; the first copy's
                // answer is still to come.
                ASSERT_EQ(first.Init(), feOk);
                // A run that ends the usual way waits for the owed answer; a
                // killed one leaves it on the line.
                if (end == TEnd::Closed) first.Close();
                else first.Driver().ComPort.Close();
            }
            TZvtClient next;
            Scale(next);
            ASSERT_TRUE(next.Open(sim.PtyPath(), 115200)) << next.Error();
            ASSERT_EQ(next.Init(), feOk);
            std::vector<uint8_t> back;
            ASSERT_EQ(next.LoadWhole("BIG.TNC", back), feOk);
            EXPECT_EQ(back, data);
            next.Close();
        }
    }
}
