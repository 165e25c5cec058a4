// zvt-sim's option table and line pacing, in-process (the device itself is
// tested over its pty in test_sim.cpp).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/zvt-sim/line.h"
#include "tools/zvt-sim/options.h"

using namespace skarvel::sim;

namespace {

struct Parsed {
    TParse Result;
    TSimOptions Options;
    std::string Error;
};

Parsed Parse(std::vector<std::string> args) {
    args.insert(args.begin(), "zvt-sim");
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    Parsed p;
    p.Result = ParseOptions(static_cast<int>(argv.size()), argv.data(), p.Options, p.Error);
    return p;
}

}  // namespace

TEST(SimOptions, EveryOptionSetsItsOwnField) {
    const Parsed p = Parse({"--image=a.img", "--link", "l", "--baud=9600", "--device-code", "0x33",
                            "--busy-ms", "60000", "--seed", "18446744073709551615", "--p-drop", "0.25",
                            "--p-corrupt=1", "--p-status", "0.5", "--p-late", "1e-1", "--silent", "-v"});
    ASSERT_EQ(p.Result, TParse::Run) << p.Error;
    const TSimOptions& o = p.Options;
    EXPECT_EQ(o.ImagePath, "a.img");
    EXPECT_EQ(o.LinkPath, "l");
    EXPECT_EQ(o.DevicePath, "");
    EXPECT_EQ(o.Baud, 9600u);
    EXPECT_EQ(o.DeviceCode, 0x33);
    EXPECT_EQ(o.BusyMs, 60000u);
    EXPECT_EQ(o.Seed, UINT64_MAX);
    EXPECT_EQ(o.PDrop, 0.25);
    EXPECT_EQ(o.PCorrupt, 1.0);
    EXPECT_EQ(o.PStatus, 0.5);
    EXPECT_EQ(o.PLate, 0.1);
    EXPECT_TRUE(o.Silent);
    EXPECT_TRUE(o.Verbose);

    // Nothing given: a pty without pacing, a medium in memory, no faults.
    const Parsed none = Parse({});
    EXPECT_EQ(none.Result, TParse::Run);
    EXPECT_EQ(none.Options.Baud, 0u);
    EXPECT_EQ(none.Options.DeviceCode, 0x2C);
    EXPECT_EQ(none.Options.Seed, 1u);
    // A serial device runs at 115200 baud unless told otherwise.
    EXPECT_EQ(Parse({"--device", "/dev/ttyS0"}).Options.Baud, 115200u);
    EXPECT_EQ(Parse({"--baud", "9600", "--device", "/dev/ttyS0"}).Options.Baud, 9600u);
}

TEST(SimOptions, BadValuesAreRefusedWithTheReason) {
    const struct {
        std::vector<std::string> Args;
        std::string Error;
    } cases[] = {
        {{"--frobnicate=1"}, "unknown option '--frobnicate=1'"},
        {{"-v=1"}, "unknown option '-v=1'"},
        {{"--silent=1"}, "option --silent takes no value"},
        {{"--verbose="}, "option --verbose takes no value"},
        {{"--p-drop"}, "option --p-drop needs a value"},
        {{"--image="}, "option --image needs a non-empty path"},
        {{"--busy-ms", "-1"}, "bad value for --busy-ms: '-1' (a number from 0 to 60000)"},
        {{"--busy-ms", "+5"}, "bad value for --busy-ms: '+5' (a number from 0 to 60000)"},
        {{"--busy-ms=60001"}, "bad value for --busy-ms: '60001' (a number from 0 to 60000)"},
        {{"--device-code", "0x100"}, "bad value for --device-code: '0x100' (a number from 0 to 255)"},
        {{"--seed", "18446744073709551616"},
         "bad value for --seed: '18446744073709551616' (a number from 0 to 18446744073709551615)"},
        {{"--baud", "0"}, "bad value for --baud: must be at least 1"},
        {{"--baud", "4000001"}, "bad value for --baud: '4000001' (a number from 0 to 4000000)"},
        {{"--p-late", "nan"}, "bad value for --p-late: 'nan' (a probability from 0 to 1)"},
        {{"--p-status", "1.5"}, "bad value for --p-status: '1.5' (a probability from 0 to 1)"},
        {{"--link", "l", "--device", "/dev/ttyS0"}, "--link applies to the pseudo-terminal only, not to --device"},
        // Read from left to right: an error before --help is an error.
        {{"--p-late", "2", "--help"}, "bad value for --p-late: '2' (a probability from 0 to 1)"},
    };
    for (const auto& c : cases) {
        const Parsed p = Parse(c.Args);
        EXPECT_EQ(p.Result, TParse::Error) << c.Args[0];
        EXPECT_EQ(p.Error, c.Error) << c.Args[0];
    }
    EXPECT_EQ(Parse({"--help", "--p-late", "2"}).Result, TParse::Help);
    EXPECT_EQ(Parse({"-h"}).Result, TParse::Help);
}

TEST(SimOptions, UsageTextKeepsItsColumns) {
    const std::string usage = UsageText();
    for (const char* line : {
             "\n  --image PATH       medium image; created as 2 MiB of zeros when missing (or empty);\n"
             "                     an image of another size is used as it is. Every accepted sector\n",
             "\n  --device-code N    device code in the identify answer (default 0x2C)\n",
             "\n  --p-late P         probability that an answer goes out late, after 460 to 900 ms\n"
             "                     (the PC side relies on late answers arriving within 1 s)\n",
             "\n  -v, --verbose      log every frame to stderr\n  -h, --help         show this text\n\n",
         })
        EXPECT_NE(usage.find(line), std::string::npos) << line;
}

// 115200 baud: a byte takes 86805 ns, and about a millisecond of the line
// is 11 bytes.
constexpr uint64_t ByteNs = 86805;
constexpr uint64_t T0 = 1'000'000'000;

TEST(SimPacing, ReceivedBytesAreInOneByteTimeApart) {
    TPacing pacing(115200);
    const uint8_t frame[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    pacing.Received(frame, 8, T0);
    // The device is woken when the whole frame is in, not a millisecond later.
    EXPECT_EQ(pacing.NextNs(T0, true), T0 + 8 * ByteNs);
    uint8_t b = 0;
    uint64_t in = 0;
    EXPECT_FALSE(pacing.TakeReceived(T0 + ByteNs - 1, b, in));
    for (uint8_t k = 1; k <= 8; ++k) {
        ASSERT_TRUE(pacing.TakeReceived(T0 + 8 * ByteNs, b, in));
        EXPECT_EQ(b, k);
        EXPECT_EQ(in, T0 + k * ByteNs);
    }
    EXPECT_FALSE(pacing.TakeReceived(UINT64_MAX, b, in));
    EXPECT_EQ(pacing.NextNs(T0, true), UINT64_MAX);

    // More bytes before the first are in queue up behind them.
    pacing.Received(frame, 1, T0);
    pacing.Received(frame, 1, T0);
    ASSERT_TRUE(pacing.TakeReceived(UINT64_MAX, b, in));
    ASSERT_TRUE(pacing.TakeReceived(UINT64_MAX, b, in));
    EXPECT_EQ(in, T0 + 10 * ByteNs);
}

TEST(SimPacing, AnswersGoOutNoFasterThanTheLine) {
    TPacing pacing(115200);
    ASSERT_TRUE(pacing.Queue(std::string(15, 'a'), T0));
    EXPECT_TRUE(pacing.Writable(T0).empty());
    EXPECT_TRUE(pacing.Writable(T0 + 10 * ByteNs).empty());  // less than a piece
    EXPECT_EQ(pacing.NextNs(T0, true), T0 + 11 * ByteNs);
    EXPECT_EQ(pacing.NextNs(T0, false), UINT64_MAX);  // the line takes nothing now
    EXPECT_EQ(pacing.Writable(T0 + 11 * ByteNs).size(), 11u);
    pacing.Written(11);
    // The rest, shorter than a piece, goes when its time has come.
    EXPECT_TRUE(pacing.Writable(T0 + 14 * ByteNs).empty());
    EXPECT_EQ(pacing.NextNs(T0 + 11 * ByteNs, true), T0 + 15 * ByteNs);
    EXPECT_EQ(pacing.Writable(T0 + 15 * ByteNs).size(), 4u);
    pacing.Written(4);
    EXPECT_TRUE(pacing.Writable(UINT64_MAX).empty());

    // An answer after a quiet line starts when it is due, not at the old clock.
    ASSERT_TRUE(pacing.Queue("b", 2 * T0));
    EXPECT_TRUE(pacing.Writable(2 * T0).empty());
    EXPECT_EQ(pacing.Writable(2 * T0 + ByteNs), "b");
}

TEST(SimPacing, UnpacedBytesPassAtOnceAndTheBacklogIsBounded) {
    TPacing pacing(0);
    const uint8_t b1 = 7;
    pacing.Received(&b1, 1, T0);
    uint8_t b = 0;
    uint64_t in = 0;
    ASSERT_TRUE(pacing.TakeReceived(T0, b, in));
    EXPECT_EQ(in, T0);

    ASSERT_TRUE(pacing.Queue(std::string(TxBacklogLimit - 1, 'x'), T0));
    EXPECT_EQ(pacing.Writable(T0).size(), TxBacklogLimit - 1);
    EXPECT_EQ(pacing.NextNs(T0, true), T0);
    EXPECT_FALSE(pacing.Queue("yy", T0));  // nobody reads: dropped, not grown
    EXPECT_TRUE(pacing.Queue("y", T0));
    pacing.DropQueued();
    EXPECT_TRUE(pacing.Writable(T0).empty());
}
