// The device driver: the flash worker with a serial port and the request
// routine Exchange, through which every sector travels to and from the ZVT.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "core/sync.h"
#include "flashfs/fs_flash.h"
#include "link/cport.h"
#include "link/zvt_frame.h"

namespace skarvel {

// Exchange answers with the transport results of flashfs/transport.h.
constexpr uint8_t ZvtDeviceCode = 0x2C;
// A device code as the messages write it: "0x2C".
std::string DeviceCodeText(int code);
constexpr uint32_t ZvtMediumSize = 0x200000;

class TZVT_drv : public TFlash {
public:
    // main: the thread that handles serial events (the receive machine runs
    // there); window: receiver of the worker's completion messages.
    TZVT_drv(TMainThread* main, TMessageTarget* window);
    ~TZVT_drv() override;

    // Fired on the calling (worker) thread each time a read or write frame
    // is built, resends included.
    std::function<void()> OnReadSector;
    std::function<void()> OnWriteSector;

    TEvent AnswerEvent{false, false};  // auto-reset
    TComPort ComPort;

    TTransportResult Exchange(uint8_t cmd, uint8_t sectorLo, uint8_t sectorHi, void* buffer);
    std::string BuildFrame(uint8_t cmd, uint8_t sectorHi, uint8_t sectorLo, const void* buffer,
                           uint32_t dataLen);
    void RxChar(TComPort* sender, int count);  // main thread
    void Disconnect();
    bool IsReady();

    // Exchanges in progress in this process (the gate).
    static std::atomic<int16_t> ExchangeGate;

    // Receive state; touched only on the main thread.
    TRxMachine Rx;

    // Time-outs; tests may shorten them. Defaults are the device's.
    int AnswerTimeoutMs = 450;
    int BusyWaitMs = 80;
    int Sends = 11;
    // A write whose "done" report never came is sent again this many times
    // (within the budget of Sends).
    int BusyResends = 3;
    // After an exchange that needed a resend or ended without its answer, a
    // late answer may still be on its way; the next command waits until the
    // line has been quiet this long (at most QuietLimitMs) and drops what came.
    // The same holds after every open of the port: a program that used the
    // line before (or this one, before a reopen) may have left a command
    // whose answer is still to come.
    int QuietMs = 1000;
    int QuietLimitMs = 6000;

    // The clock of the quiet rule and the pause it waits with; tests drive
    // them. Set before the port opens.
    std::function<uint64_t()> NowMs = [] { return SteadyMs(); };
    std::function<void(unsigned)> PauseMs = [](unsigned ms) { SleepMs(ms); };

    // When a late answer may still come (after an open, or an exchange that
    // resent or gave up): waits until the line has been quiet QuietMs, drops
    // what came meanwhile and returns true; else returns false at once. Runs
    // on the thread that exchanges, while the main thread handles the
    // port's events. Every exchange does this first; a program that closes
    // the port calls it before, so that no answer of its own reaches the
    // next program on the line.
    bool SettleLine();
    bool LineUnsettled() const { return needQuiet_.load(); }
    // True when a command this driver sent since the port opened may still
    // be answered (the line is unsettled after one of its exchanges): what
    // a program that closes the port waits for.
    bool OwesAnswer() const { return needQuiet_.load() && sentSinceOpen_.load(); }
    // The device code of the last identification answered (-1 before any):
    // what a device that is not a ZVT calls itself.
    int AnsweredDeviceCode() const { return answeredCode_.load(); }
    // "0x2D (у ZVT код 0x2C)" after a device answered with another code than
    // the ZVT's; empty otherwise (the failure was not the code).
    std::string WrongDeviceNote() const;
    // When a byte last came in (NowMs's clock; the open counts as one).
    uint64_t LastRxMs() const { return lastRxMs_.load(); }

    // Counters for tests and benchmarks.
    std::atomic<uint32_t> FramesSent{0};
    std::atomic<uint32_t> QuietWaits{0};

private:
    void OnAnswer(const TRxMachine& rx);  // main thread
    void LineOpened();                    // main thread
    TTransportResult AwaitWriteDone();    // worker thread
    // The steps of Exchange (worker thread). Enters the gate: one exchange
    // at a time in the whole process; false when the driver shuts down
    // meanwhile.
    bool EnterGate();
    // Inside the gate: settles the line, sends, judges the answer, and
    // sends a write again whose report of being done never came.
    TTransportResult ExchangeInGate(uint8_t cmd, uint8_t sectorLo, uint8_t sectorHi, void* buffer);
    // Sends the frame until an answer comes or the exchange's budget of
    // sends (counted in sends) is spent; true when answered.
    bool SendUntilAnswered(uint8_t cmd, uint8_t sectorHi, uint8_t sectorLo, void* buffer, uint32_t dataLen,
                           size_t readLen, int& sends);
    // The result of an answered identify; the known device sets the
    // worker's medium size.
    TTransportResult IdentifyAnswer();
    bool WaitAnswer(bool needBlock, void* dest, size_t copyLen);  // worker thread

    std::mutex answerMutex_;
    uint8_t answerHeader_[TRxMachine::AnswerBodyLen] = {};
    uint8_t answerData_[RecvPayloadLen] = {};
    bool answerFromBlock_ = false;  // the last signal came from a data block

    std::atomic<uint64_t> lastRxMs_{0};
    std::atomic<uint64_t> lastTxMs_{0};
    std::atomic<bool> needQuiet_{false};
    std::atomic<int> answeredCode_{-1};
    std::atomic<bool> sentSinceOpen_{false};
    std::atomic<bool> resetRx_{false};
    std::atomic<bool> shuttingDown_{false};
};

}  // namespace skarvel
