#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "core/cp1251.h"
#include "core/sync.h"

using namespace skarvel;

TEST(Event, AutoResetClearsOnWaitManualStays) {
    TEvent autoEv(false, true);
    EXPECT_EQ(autoEv.Wait(0), TEvent::WaitResult::Signaled);
    EXPECT_EQ(autoEv.Wait(0), TEvent::WaitResult::Timeout);
    TEvent manual(true, false);
    manual.Set();
    EXPECT_EQ(manual.Wait(0), TEvent::WaitResult::Signaled);
    EXPECT_EQ(manual.Wait(0), TEvent::WaitResult::Signaled);
    manual.Reset();
    EXPECT_EQ(manual.Wait(0), TEvent::WaitResult::Timeout);
}

TEST(MessageQueue, KeepsOrderAcrossThreads) {
    TMessageQueue q;
    std::thread t([&] {
        for (int i = 0; i < 100; ++i) q.Post(MsgUser, static_cast<uintptr_t>(i), -i);
    });
    for (int i = 0; i < 100; ++i) {
        TMessage m = q.Get();
        EXPECT_EQ(m.WParam, static_cast<uintptr_t>(i));
        EXPECT_EQ(m.LParam, -i);
    }
    t.join();
    TMessage m;
    EXPECT_FALSE(q.TryGet(m, 0));
}

TEST(MainLoop, CallRunsOnMainThreadAndWaits) {
    TMainLoop loop;
    std::atomic<bool> ranOnMain{false}, returned{false};
    std::thread t([&] {
        EXPECT_TRUE(loop.Call([&] { ranOnMain = loop.IsCurrent(); }));
        returned = true;
    });
    EXPECT_TRUE(loop.RunUntil([&] { return returned.load(); }, 10000));
    t.join();
    EXPECT_TRUE(ranOnMain);
    // On the main thread a call runs at once.
    bool inline_ran = false;
    EXPECT_TRUE(loop.Call([&] { inline_ran = true; }));
    EXPECT_TRUE(inline_ran);
}

TEST(MainLoop, StoppedCallIsAbandonedAndNeverRuns) {
    TMainLoop loop;
    std::atomic<bool> stop{false}, ran{false};
    std::atomic<int> result{-1};
    std::thread t([&] { result = loop.Call([&] { ran = true; }, &stop) ? 1 : 0; });
    stop = true;  // the main loop is not running: the caller must give up
    t.join();
    EXPECT_EQ(result.load(), 0);
    loop.RunOnce(0);
    EXPECT_FALSE(ran);
}

TEST(MainLoop, ShutdownReleasesWaitingThreads) {
    TMainLoop loop;
    std::atomic<int> result{-1};
    std::thread t([&] { result = loop.Call([] {}) ? 1 : 0; });
    loop.Shutdown();
    t.join();
    EXPECT_EQ(result.load(), 0);
}

TEST(Cp1251, RoundTripsEveryByte) {
    std::string all;
    for (int b = 1; b < 256; ++b)
        if (b != 0x98) all += static_cast<char>(b);
    std::string back;
    ASSERT_TRUE(Utf8ToCp1251(Cp1251ToUtf8(all), back));
    EXPECT_EQ(back, all);
    EXPECT_EQ(Cp1251ToUtf8("\xC0\xFF\xA8\xB8"), "АяЁё");
    std::string out;
    EXPECT_FALSE(Utf8ToCp1251("日本", out));
    EXPECT_EQ(ToCp1251("ошибка 日"), "\xEE\xF8\xE8\xE1\xEA\xE0 ?");
}

// Names on the medium: every byte, 0x98 and the control bytes included,
// comes back from its shown form; only the bytes that are no characters
// (and the backslash that marks them) are shown as \xHH.
TEST(Cp1251, MediumNamesShowEveryByteReversibly) {
    std::string all;
    for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
    std::string back;
    ASSERT_TRUE(Utf8ToMediumName(MediumNameToUtf8(all), back));
    EXPECT_EQ(back, all);
    const std::pair<std::string, std::string> shown[] = {
        {"N23\x98.NC", "N23\\x98.NC"},  // a DOS letter that code page 1251 lacks
        {"A\\B", "A\\x5CB"},
        {std::string("T\x01\x1F\x7F", 4), "T\\x01\\x1F\\x7F"},
        {"\xCF\xD0\xCE\xC3.TNC", "ПРОГ.TNC"},
        {"\xE0\xA8", "аЁ"},
    };
    for (const auto& [bytes, text] : shown) {
        EXPECT_EQ(MediumNameToUtf8(bytes), text);
        EXPECT_TRUE(Utf8ToMediumName(text, back)) << text;
        EXPECT_EQ(back, bytes) << text;
        EXPECT_EQ(HasEscapedNameBytes(bytes), text.find('\\') != std::string::npos) << text;
    }
    EXPECT_TRUE(Utf8ToMediumName("n23\\x98.nc", back));  // small hex digits too
    EXPECT_EQ(back, "n23\x98.nc");
    for (const char* bad : {"A\\", "A\\x9", "A\\x9G", "A\\98", "日"}) EXPECT_FALSE(Utf8ToMediumName(bad, back)) << bad;
}
