#include "link/zvt_drv.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <optional>
#include <vector>

#include "core/deadline.h"

namespace skarvel {

std::atomic<int16_t> TZVT_drv::ExchangeGate{0};

TZVT_drv::TZVT_drv(TMainThread* main, TMessageTarget* window) : TFlash(), ComPort(main) {
    // The worker thread exists suspended (TFlash); the port stays closed
    // until the window opens it.
    ComPort.SetBaudRate(br115200);
    ComPort.SetPort("COM2");
    Rx.OnAnswer = [this](const TRxMachine& rx) { OnAnswer(rx); };
    FExchange = [this](uint8_t cmd, uint8_t lo, uint8_t hi, void* buffer) {
        return Exchange(cmd, lo, hi, buffer);
    };
    Resume();
    ComPort.OnRxChar = [this](TComPort* sender, int count) { RxChar(sender, count); };
    ComPort.OnAfterOpen = [this](TComPort*) { LineOpened(); };
    FWindow = window;
}

TZVT_drv::~TZVT_drv() {
    // Wake an exchange that waits for an answer, so the worker can see the
    // request to stop instead of running out its resends.
    shuttingDown_.store(true);
    AnswerEvent.Set();
    ComPort.Close();
    Stop();
}

std::string TZVT_drv::BuildFrame(uint8_t cmd, uint8_t sectorHi, uint8_t sectorLo, const void* buffer,
                                 uint32_t dataLen) {
    std::string bytes = BuildFrameBytes(cmd, sectorHi, sectorLo, buffer, dataLen, BytesPerSector());
    if (cmd == cmdReadSector && OnReadSector) OnReadSector();
    if (cmd == cmdWriteSector && OnWriteSector) OnWriteSector();
    return bytes;
}

void TZVT_drv::OnAnswer(const TRxMachine& rx) {
    {
        std::lock_guard<std::mutex> lock(answerMutex_);
        answerFromBlock_ = rx.RxLast != TRxMachine::AnswerLast;
        // The machine's data buffer also holds the bytes of blocks that
        // failed their check; only a block that signalled is taken.
        if (answerFromBlock_)
            std::memcpy(answerData_, rx.AnswerData, sizeof answerData_);
        else
            std::memcpy(answerHeader_, rx.AnswerHeader, sizeof answerHeader_);
    }
    AnswerEvent.Set();
}

void TZVT_drv::RxChar(TComPort* sender, int count) {
    if (count <= 0) return;
    // The bytes are taken in one read and fed to the machine one by one.
    std::vector<uint8_t> bytes(static_cast<size_t>(count));
    const int got = sender->Read(bytes.data(), count);
    if (got <= 0) return;
    lastRxMs_.store(NowMs());
    if (resetRx_.exchange(false)) Rx.Reset();
    for (int i = 0; i < got; ++i) Rx.Feed(bytes[static_cast<size_t>(i)]);
}

// A program that used the line before this open may have sent a command
// whose answer is still on its way: the answer of its last exchange when that
// one resent, of the command it was killed in, of a command sent just before
// the port was closed and opened again. When that command went out is
// unknown, so the open itself counts as the last byte seen: the first command
// waits until the line has been quiet QuietMs since the open. Only a line
// that the system knows nobody has written to for longer than a command
// written last could still be on the wire (at this rate: the device answers
// only commands sent at its own), plus twice the quiet time, owes no answer:
// the device left alone on its port before the program starts. Its first
// command goes out at once.
void TZVT_drv::LineOpened() {
    lastRxMs_.store(NowMs());
    resetRx_.store(true);
    const uint64_t bitsPerSecond = std::max<uint32_t>(ComPort.LineSettings().BaudRate, 1);
    const uint64_t lastFrameMs = (CommandFrameLen + SendDataBlockLen) * 10 * 1000 / bitsPerSecond + 1;
    const std::optional<uint64_t> unwritten = ComPort.UnwrittenMs();
    needQuiet_.store(!unwritten || *unwritten < 2 * static_cast<uint64_t>(QuietMs) + lastFrameMs);
    sentSinceOpen_.store(false);
}

// Answers carry neither the command nor the sector they belong to. After an
// exchange that had to resend, or that gave up, the device may still send the
// answer to an earlier copy of the command; taken for the answer to the next
// command it would hand a sector's data to the wrong read. So before the
// next command goes out the line must have been quiet for QuietMs since the
// last byte received and the last frame sent; the receive machine then starts
// afresh and the event is cleared. On a line that is quiet already the wait
// is QuietMs from the last byte, never the limit.
bool TZVT_drv::SettleLine() {
    if (!needQuiet_.load()) return false;
    QuietWaits.fetch_add(1);
    const TDeadline limit(QuietLimitMs, NowMs);
    for (;;) {
        const uint64_t now = NowMs();
        const uint64_t last = std::max(lastRxMs_.load(), lastTxMs_.load());
        const uint64_t quiet = now > last ? now - last : 0;
        if (quiet >= static_cast<uint64_t>(QuietMs)) break;
        if (limit.Expired() || shuttingDown_.load()) break;
        PauseMs(static_cast<unsigned>(std::min<uint64_t>(QuietMs - quiet, 20)));
    }
    resetRx_.store(true);
    AnswerEvent.Reset();
    needQuiet_.store(false);
    return true;
}

// The device answers a write busy (Value non-zero) until it has stored the
// sector, then reports again on its own.
TTransportResult TZVT_drv::AwaitWriteDone() {
    int attempts = 0;
    AnswerEvent.Reset();
    uint8_t value;
    {
        std::lock_guard<std::mutex> lock(answerMutex_);
        value = answerHeader_[TRxMachine::HeaderValue];
    }
    while (value != 0) {
        ++attempts;
        if (AnswerEvent.Wait(BusyWaitMs) == TEvent::WaitResult::Signaled) {
            bool block;
            {
                std::lock_guard<std::mutex> lock(answerMutex_);
                value = answerHeader_[TRxMachine::HeaderValue];
                block = answerFromBlock_;
            }
            if (block) {
                // A data block is no report of the write; wait on.
                needQuiet_.store(true);
                value = 1;
                if (attempts > 10) return xrBusyTimeout;
                continue;
            }
            if (value == 0) break;
            AnswerEvent.Reset();
            if (attempts > 10) {
                needQuiet_.store(true);
                return xrStillBusy;
            }
        } else if (attempts > 10 || shuttingDown_.load()) {
            needQuiet_.store(true);
            return shuttingDown_.load() ? xrPortClosed : xrBusyTimeout;
        }
    }
    return xrOk;
}

// Waits up to AnswerTimeoutMs for an answer. A read is answered only by a
// data block: an answer frame without one would leave the previous sector's
// bytes in the buffer. Other commands are answered only by an answer frame:
// a stray data block is no acknowledgement. What does not fit is passed over
// like noise on the line. A block is copied to dest (copyLen bytes) under
// the same lock that judged it, so a newer answer cannot slip in between.
bool TZVT_drv::WaitAnswer(bool needBlock, void* dest, size_t copyLen) {
    const TDeadline deadline(std::max(AnswerTimeoutMs, 0));
    for (;;) {
        if (AnswerEvent.Wait(deadline.RemainingMs()) != TEvent::WaitResult::Signaled) return false;
        {
            std::lock_guard<std::mutex> lock(answerMutex_);
            if (answerFromBlock_ == needBlock) {
                if (needBlock && dest) std::memcpy(dest, answerData_, copyLen);
                return true;
            }
        }
        needQuiet_.store(true);
        if (shuttingDown_.load()) return false;
    }
}

bool TZVT_drv::EnterGate() {
    int16_t inGate = ++ExchangeGate;
    while (inGate != 1) {
        const int16_t others = --ExchangeGate;
        if (shuttingDown_.load()) return false;
        SleepMs(static_cast<unsigned>(others > 0 ? others : 0) * 5);
        inGate = ++ExchangeGate;
    }
    return true;
}

bool TZVT_drv::SendUntilAnswered(uint8_t cmd, uint8_t sectorHi, uint8_t sectorLo, void* buffer, uint32_t dataLen,
                                 size_t readLen, int& sends) {
    bool signaled = false;
    int attempts = 0;
    for (;;) {
        if (ComPort.Connected()) {
            const std::string bytes = BuildFrame(cmd, sectorHi, sectorLo, buffer, dataLen);
            lastTxMs_.store(NowMs());
            sentSinceOpen_.store(true);
            ComPort.WriteString(bytes);
            lastTxMs_.store(NowMs());
            FramesSent.fetch_add(1);
        }
        signaled = WaitAnswer(cmd == cmdReadSector, buffer, readLen);
        ++attempts;
        ++sends;
        if (shuttingDown_.load()) {
            signaled = false;
            break;
        }
        // An answer that arrives during the last wait is accepted too.
        if (signaled || sends >= Sends) break;
    }
    if (attempts > 1) needQuiet_.store(true);
    return signaled;
}

std::string DeviceCodeText(int code) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", static_cast<unsigned>(code & 0xFF));
    return text;
}

std::string TZVT_drv::WrongDeviceNote() const {
    const int answered = AnsweredDeviceCode();
    if (answered < 0 || answered == ZvtDeviceCode) return std::string();
    return DeviceCodeText(answered) + " (у ZVT код " + DeviceCodeText(ZvtDeviceCode) + ")";
}

TTransportResult TZVT_drv::IdentifyAnswer() {
    uint8_t value;
    {
        std::lock_guard<std::mutex> lock(answerMutex_);
        value = answerHeader_[TRxMachine::HeaderValue];
    }
    answeredCode_.store(value);
    if (value != ZvtDeviceCode) return xrWrongDevice;
    FMediumSize.store(ZvtMediumSize);
    return xrOk;
}

TTransportResult TZVT_drv::ExchangeInGate(uint8_t cmd, uint8_t sectorLo, uint8_t sectorHi, void* buffer) {
    const uint32_t dataLen = cmd == cmdWriteSector ? static_cast<uint32_t>(SendDataBlockLen) : 0;
    // A read copies the sector (all 528 payload bytes while the sector
    // size is not known yet) as soon as its block has been judged.
    const uint32_t bps = BytesPerSector();
    const size_t readLen = bps == 0 ? RecvPayloadLen : std::min<size_t>(bps, RecvPayloadLen);
    int sends = 0;  // the whole exchange's budget of sends
    int busyRetries = 0;
    for (;;) {
        SettleLine();
        AnswerEvent.Reset();
        const bool signaled = SendUntilAnswered(cmd, sectorHi, sectorLo, buffer, dataLen, readLen, sends);
        if (shuttingDown_.load()) return xrPortClosed;
        if (!signaled) {
            needQuiet_.store(true);
            return xrNoAnswer;
        }
        if (cmd == cmdIdentify) return IdentifyAnswer();
        if (cmd != cmdWriteSector) return xrOk;
        const TTransportResult result = AwaitWriteDone();
        // The device reported busy and its report of being done never came
        // (lost or garbled on the line). Writing the sector again is
        // harmless, so it is sent again a few times before the write counts
        // as failed.
        if (result == xrBusyTimeout && busyRetries < BusyResends && sends < Sends && !shuttingDown_.load()) {
            ++busyRetries;
            continue;
        }
        return result;
    }
}

TTransportResult TZVT_drv::Exchange(uint8_t cmd, uint8_t sectorLo, uint8_t sectorHi, void* buffer) {
    if (!ComPort.Connected() || shuttingDown_.load()) return xrPortClosed;
    if (!EnterGate()) return xrPortClosed;
    // Whatever happens below, the gate is left (and after the pause that
    // lets another thread's exchange in).
    struct GateExit {
        ~GateExit() {
            SleepMs(1);
            --ExchangeGate;
        }
    } gateExit;
    try {
        return ExchangeInGate(cmd, sectorLo, sectorHi, buffer);
    } catch (const EComPort&) {
        // The line failed under the write (device gone, adapter pulled): the
        // exchange ends as if the port were closed, and the gate is left.
        needQuiet_.store(true);
        return xrPortClosed;
    }
}

void TZVT_drv::Disconnect() {
    ComPort.Close();
    FMounted.store(false);
    FMediumSize.store(0);
}

bool TZVT_drv::IsReady() {
    if (Mounted()) FMounted.store(ComPort.Connected());
    return Mounted();
}

}  // namespace skarvel
