// The worker thread: its request loop, completions, hook, texts and the
// initialisation codes.
#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include "core/cp1251.h"
#include "flashfs/fs_flash.h"
#include "tests/mem_medium.h"

using namespace skarvel;

namespace {

// Stands in for the window: records every completion it is sent.
class TRecordingTarget : public TMessageTarget {
public:
    void PostMsg(uint32_t msg, uintptr_t wParam, intptr_t lParam) override {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            messages_.push_back({msg, wParam, lParam});
        }
        cond_.notify_all();
    }
    // Waits until n messages have arrived (the limit only keeps a broken
    // worker from hanging the test run); returns all that have.
    std::vector<TMessage> WaitFor(size_t n = 0) {
        std::unique_lock<std::mutex> lock(mutex_);
        cond_.wait_for(lock, std::chrono::seconds(20), [&] { return messages_.size() >= n; });
        return messages_;
    }

private:
    std::mutex mutex_;
    std::condition_variable cond_;
    std::vector<TMessage> messages_;
};

// A completion as (message, operation | error << 8, the request's argument).
using Done = std::tuple<uint32_t, uintptr_t, intptr_t>;
Done D(unsigned op, unsigned err, const void* arg = nullptr) {
    return {WM_FLASH_DONE, op | err << 8, reinterpret_cast<intptr_t>(arg)};
}
std::vector<Done> Seen(const std::vector<TMessage>& m) {
    std::vector<Done> d;
    for (const TMessage& x : m) d.emplace_back(x.Msg, x.WParam, x.LParam);
    return d;
}

struct WorkerFixture : ::testing::Test {
    test::TMemMedium medium;
    TRecordingTarget window;
    TFlash flash;
    WorkerFixture() {
        medium.Attach(flash);
        flash.FWindow = &window;
    }
};

}  // namespace

TEST_F(WorkerFixture, RequestsCompleteInOrderWithTheirArguments) {
    flash.Resume();
    static const char mask[] = "*.*";
    flash.PostRequest(opFormat, nullptr);
    flash.PostRequest(opReadDir, const_cast<char*>(mask));
    flash.PostRequest(opRenameFile, reinterpret_cast<void*>(intptr_t{0x1234}));
    EXPECT_EQ(Seen(window.WaitFor(3)), (std::vector<Done>{D(opFormat, feOk), D(opReadDir, feDiskEmpty, mask),
                                                           D(opRenameFile, feOk, reinterpret_cast<void*>(0x1234))}));
    EXPECT_EQ(flash.FCommand, opRenameFile);  // the last operation stays visible
}

TEST_F(WorkerFixture, UnknownOperationsCompleteWithCode12OtherMessagesNot) {
    flash.Resume();
    flash.PostRequest(11, reinterpret_cast<void*>(intptr_t{7}));
    flash.Queue().Post(MsgUser + 5, 1, 2);
    flash.PostRequest(255, nullptr);
    flash.PostRequest(opRemoveDir, nullptr);
    EXPECT_EQ(Seen(window.WaitFor(3)), (std::vector<Done>{D(11, 12, reinterpret_cast<void*>(7)), D(255, 12),
                                                           D(opRemoveDir, feUnformatted)}));
    EXPECT_TRUE(medium.Log().empty());
}

TEST_F(WorkerFixture, QuitEndsTheLoopWithoutACompletion) {
    flash.Resume();
    flash.PostRequest(opChangeDir, nullptr);
    flash.Queue().Post(MsgQuit, 0, 0);
    flash.PostRequest(opChangeDir, nullptr);  // never taken
    flash.WaitFor();
    EXPECT_EQ(Seen(window.WaitFor()), std::vector<Done>{D(opChangeDir, feUnformatted)});
    EXPECT_TRUE(flash.Terminated());
    flash.Stop();  // a second stop after the loop ended returns at once
}

TEST_F(WorkerFixture, HookReplacesTheDispatch) {
    std::vector<uint8_t> ops;
    bool onWorker = true;
    flash.OnCommand = [&](uint8_t op, uint8_t& result, void*) -> uint8_t {
        ops.push_back(op);
        onWorker = onWorker && flash.IsCurrent();
        result = 0;
        if (op == opChangeDir) return flash.ChangeDir();
        return feUnknownCommand;  // as the window answers 5, 6 and 7
    };
    flash.Resume();
    flash.PostRequest(opInit, nullptr);
    static const char dir[] = "DIR";
    flash.PostRequest(opMakeDir, const_cast<char*>(dir));
    flash.PostRequest(opChangeDir, nullptr);
    EXPECT_EQ(Seen(window.WaitFor(3)), (std::vector<Done>{D(opInit, feUnknownCommand),
                                                           D(opMakeDir, feUnknownCommand, dir),
                                                           D(opChangeDir, feUnformatted)}));
    EXPECT_EQ(ops, (std::vector<uint8_t>{opInit, opMakeDir, opChangeDir}));
    EXPECT_TRUE(onWorker);
    EXPECT_TRUE(medium.Log().empty());  // the built-in routines never ran
}

TEST_F(WorkerFixture, ArgumentBlockOperationsThroughTheQueue) {
    flash.Resume();
    std::vector<uint8_t> data = test::RandomBytes(3000, 7);
    std::vector<uint8_t> back(3000, 0xEE);
    TFlashArgs save{"prog.lst", data.data(), data.size()};
    TFlashArgs attr{"PROG.LST", nullptr, 0};
    TFlashArgs load{"Prog.Lst", back.data(), back.size()};
    flash.PostRequest(opFormat, nullptr);
    flash.PostRequest(opSaveFile, &save);
    flash.PostRequest(opGetFileAttr, &attr);
    flash.PostRequest(opLoadFile, &load);
    flash.PostRequest(opSaveFile, nullptr);
    EXPECT_EQ(Seen(window.WaitFor(5)), (std::vector<Done>{D(opFormat, feOk), D(opSaveFile, feOk, &save),
                                                           D(opGetFileAttr, feOk, &attr), D(opLoadFile, feOk, &load),
                                                           D(opSaveFile, feBadName)}));
    EXPECT_EQ(attr.Size, 3000u);
    EXPECT_EQ(back, data);
}

TEST_F(WorkerFixture, ExceptionsOnTheWorkerAreInternalErrorsAndDoNotEndIt) {
    // Thrown from the transport, from a routine of the hook, and something
    // that is no std::exception: each completes as a fault of the program,
    // never as a device that did not answer.
    flash.FExchange = [](uint8_t, uint8_t, uint8_t, void*) -> TTransportResult { throw std::runtime_error("port"); };
    flash.OnCommand = [&](uint8_t op, uint8_t&, void* param) -> uint8_t {
        if (op == opMakeDir) throw std::logic_error("hook");
        if (op == opRemoveDir) throw 7;
        return flash.Dispatch(op, param);
    };
    flash.Resume();
    flash.PostRequest(opInit, nullptr);
    flash.PostRequest(opFormat, nullptr);
    flash.PostRequest(opMakeDir, nullptr);
    EXPECT_EQ(Seen(window.WaitFor(3)), (std::vector<Done>{D(opInit, feInternalError), D(opFormat, feInternalError),
                                                           D(opMakeDir, feInternalError)}));
    EXPECT_EQ(flash.FInternalError, "hook");
    flash.PostRequest(opRemoveDir, nullptr);
    EXPECT_EQ(Seen(window.WaitFor(4)).back(), D(opRemoveDir, feInternalError));
    EXPECT_EQ(flash.FInternalError, "");
}

TEST_F(WorkerFixture, NoWindowDropsResults) {
    flash.FWindow = nullptr;
    flash.Resume();
    flash.PostRequest(opFormat, nullptr);
    flash.Stop();  // requests before the quit are still carried out
    EXPECT_TRUE(flash.FMounted);
    EXPECT_TRUE(window.WaitFor().empty());
}

TEST(Worker, StopAndDestroyWithoutResume) {
    TFlash f;
    f.Stop();
    f.Stop();
    TFlash g;
    g.PostRequest(opInit, nullptr);  // never resumed: nothing to join
}

TEST(Worker, DestructorStopsARunningWorker) {
    TRecordingTarget window;
    {
        TFlash f;
        f.FWindow = &window;
        f.Resume();
        f.PostRequest(opChangeDir, nullptr);
    }
    // The request posted before destruction was carried out before the quit.
    EXPECT_EQ(window.WaitFor().size(), 1u);
}

TEST_F(WorkerFixture, InitialisationCodes) {
    medium.IdentifyResult = 6;  // another device
    EXPECT_EQ(flash.InitFlash(), feWrongDevice);
    EXPECT_EQ(flash.FormatFlash(0), feWrongDevice);
    medium.IdentifyResult = 1;  // no answer
    EXPECT_EQ(flash.InitFlash(), feNoAnswer);
    EXPECT_EQ(flash.FormatFlash(0), feNoAnswer);
    medium.IdentifyResult = 5;  // port closed
    EXPECT_EQ(flash.InitFlash(), feNoAnswer);
    EXPECT_EQ(medium.Log(), std::vector<test::TExchangeRecord>(5, {cmdIdentify, 0}));
    EXPECT_FALSE(flash.FMounted);

    medium.IdentifyResult = 0;
    EXPECT_EQ(flash.InitFlash(), feUnformatted);  // all-zero sector 0
    EXPECT_EQ(flash.FMediumSize, 0x200000u);
    EXPECT_FALSE(flash.FMounted);
    EXPECT_EQ(flash.ReadDir(0, nullptr), feUnformatted);
}

TEST(Worker, TextsAreTheSystemsOwn) {
    const char* ops[11] = {"попытка инициализации флэш", "форматирование ZVT", "чтение списка файлов",
                           "удаление файла ",           "переименование файла ", "создание каталога ",
                           "переход в каталог ",         "удаление каталога ",   "сохранение файла ",
                           "загрузка файла ",           "чтение атрибутов файла "};
    const char* errors[13] = {"нет ошибки", "неформатированный носитель", "ошибка в имени файла",
                              "файл с этим именем уже существует", "файл пуст", "файл не найден",
                              "недостаточно места на флэш", "диск пуст", "неизвесный код устройства",
                              "ошибка связи с ZVT", "ошибка готовности ZVT", "операция прервана пользователем",
                              "неизвесная команда"};
    for (int i = 0; i < 11; ++i) EXPECT_EQ(Cp1251ToUtf8(OperationTexts[i]), ops[i]) << i;
    for (int i = 0; i < 13; ++i) EXPECT_EQ(Cp1251ToUtf8(ErrorTexts[i]), errors[i]) << i;
    EXPECT_EQ(static_cast<uint8_t>(ErrorTexts[0][0]), 0xED);  // stored as code page 1251

    // One routine for every code the worker returns; 13 to 15 are the window's.
    for (int i = 0; i < 13; ++i) EXPECT_EQ(WorkerErrorText(static_cast<uint8_t>(i)), ErrorTexts[i]) << i;
    for (int i : {13, 14, 15, 21, 255}) EXPECT_EQ(WorkerErrorText(static_cast<uint8_t>(i)), nullptr) << i;
    EXPECT_EQ(Cp1251ToUtf8(WorkerErrorText(feRootFull)), "корневой каталог заполнен (512 записей); удалите ненужные файлы");
    EXPECT_EQ(Cp1251ToUtf8(WorkerErrorText(feDamagedFile)), "файл на флэш повреждён");
    EXPECT_EQ(Cp1251ToUtf8(WorkerErrorText(feNoRoomForCopy)), "на флэш нет места для новой копии рядом со старой");
    EXPECT_EQ(Cp1251ToUtf8(WorkerErrorText(feInternalError)), "внутренняя ошибка программы");
    EXPECT_EQ(Cp1251ToUtf8(WorkerErrorText(feForeignVolume)),
              "носитель другого формата; форматирование сделает его пригодным (файлы на нём будут потеряны)");
}

TEST_F(WorkerFixture, SectorsForFile) {
    EXPECT_EQ(flash.SectorsForFile("A", 5000), 0u);  // no geometry yet
    ASSERT_EQ(flash.FormatFlash(0), feOk);
    const std::pair<uint32_t, uint32_t> sizes[] = {{0, 0}, {1, 4}, {2048, 4}, {2049, 8}, {0xFFFFFFFFu, 2097152u * 4}};
    for (const auto& [size, sectors] : sizes) EXPECT_EQ(flash.SectorsForFile("A", size), sectors) << size;
    flash.FFiles.AddFile("PROG.LST", 4097, false);
    EXPECT_EQ(flash.SectorsForFile("prog.lst", 0), 12u);
    EXPECT_EQ(flash.SectorsForFile("other", 0), 0u);
}

TEST(Worker, LinkErrorMapping) {
    const std::pair<TTransportResult, TFlashError> map[] = {
        {xrOk, feOk},           {xrNoAnswer, feLinkLost},       {xrPortClosed, feLinkLost},
        {TTransportResult{2}, feLinkLost}, {xrBusyTimeout, feNotReady}, {xrStillBusy, feNotReady},
        {xrOutOfRange, feDamagedFile}, {xrInternalError, feInternalError}};
    for (const auto& [transport, error] : map) EXPECT_EQ(TFlash::LinkError(transport), error) << int(transport);
}
