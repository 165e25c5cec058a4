// The serial port on Windows: a COM device opened for overlapped I/O.
//
// Every call that may wait (a write, a read, the wait for line events)
// issues its operation with an event of its own and waits for it together
// with the port's close event, so that Close can wake it; the call then
// cancels its operation and waits until it has ended before it leaves, and
// Close releases the handle only after every call has left.
//
// Reads ask only for what ClearCommError reports queued. With the port's
// read time-outs a read of an empty queue would return at once on Windows,
// but not under wine, and a read never has to wait here.
#include "link/cport_win.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <memory>

#include "core/utf16_win.h"
#include "link/cport_users.h"

namespace skarvel {

const int ComErrorClosed = ERROR_INVALID_HANDLE;
const int ComErrorInvalid = ERROR_INVALID_PARAMETER;

namespace detail {

DCB MakeDcb(const TLineSettings& s) {
    DCB d{};
    d.DCBlength = sizeof(DCB);
    d.BaudRate = s.BaudRate;
    d.fBinary = TRUE;
    d.fParity = s.ParityCheck;
    d.fOutxCtsFlow = s.OutCTSFlow;
    d.fOutxDsrFlow = s.OutDSRFlow;
    d.fDtrControl = s.ControlDTR;  // DTR_CONTROL_DISABLE, _ENABLE, _HANDSHAKE
    d.fDsrSensitivity = s.DSRSensitivity;
    d.fTXContinueOnXoff = s.TxContinueOnXoff;
    d.fOutX = s.XonXoffOut;
    d.fInX = s.XonXoffIn;
    d.fErrorChar = s.ParityCheck && s.ParityReplace;
    d.fNull = s.DiscardNull;
    d.fRtsControl = s.ControlRTS;  // RTS_CONTROL_DISABLE, _ENABLE, _HANDSHAKE, _TOGGLE
    // A quarter of the input queue, held to what the fields can carry.
    const WORD limit = static_cast<WORD>(std::clamp<int32_t>(s.InputSize / 4, 0, 0xFFFF));
    d.XonLim = limit;
    d.XoffLim = limit;
    d.ByteSize = static_cast<BYTE>(5 + std::min<int>(s.DataBits, dbEight));
    d.Parity = s.Parity;      // NOPARITY .. SPACEPARITY
    d.StopBits = s.StopBits;  // ONESTOPBIT, ONE5STOPBITS, TWOSTOPBITS
    d.XonChar = static_cast<char>(s.XonChar);
    d.XoffChar = static_cast<char>(s.XoffChar);
    d.ErrorChar = static_cast<char>(d.fErrorChar ? s.ReplaceChar : 0);
    d.EofChar = 0;
    d.EvtChar = static_cast<char>(s.EventChar);
    return d;
}

COMMTIMEOUTS MakeCommTimeouts(const TComTimeoutValues& t) {
    COMMTIMEOUTS c{};
    c.ReadIntervalTimeout = t.ReadInterval;
    c.ReadTotalTimeoutMultiplier = t.ReadTotalMultiplier;
    c.ReadTotalTimeoutConstant = t.ReadTotalConstant;
    c.WriteTotalTimeoutMultiplier = t.WriteTotalMultiplier;
    c.WriteTotalTimeoutConstant = t.WriteTotalConstant;
    return c;
}

}  // namespace detail

namespace {

// An OVERLAPPED record with a manual-reset event of its own.
struct TOverlapped {
    TOverlapped() { ov.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr); }
    ~TOverlapped() {
        if (ov.hEvent) CloseHandle(ov.hEvent);
    }
    TOverlapped(const TOverlapped&) = delete;
    TOverlapped& operator=(const TOverlapped&) = delete;
    OVERLAPPED ov{};
};

// Errors after which the device is gone (a USB adapter pulled, the far end
// of wine's pty closed) rather than one call refused.
bool IsGoneError(DWORD err) {
    return err == ERROR_BAD_COMMAND || err == ERROR_GEN_FAILURE || err == ERROR_DEVICE_REMOVED ||
           err == ERROR_NOT_READY || err == ERROR_ACCESS_DENIED || err == ERROR_DEV_NOT_EXIST;
}

class TWinComBackend final : public TComBackend {
public:
    TWinComBackend(HANDLE handle, HANDLE closeEvent) : handle_(handle), closeEvent_(closeEvent) {}

    ~TWinComBackend() override {
        Close();
        CloseHandle(closeEvent_);
    }

    void ApplyLine(const TLineSettings& s) override {
        detail::TComUsers::TUse use(users_, CE_SETSTATE_FAILED);
        if (s.BaudRate == 0 || s.BaudRate > INT32_MAX) throw EComPort(CE_SETSTATE_FAILED, ERROR_INVALID_PARAMETER);
        DCB dcb = detail::MakeDcb(s);
        if (!SetCommState(handle_, &dcb)) Fail(CE_SETSTATE_FAILED);
    }

    void ApplyBuffers(int32_t inputSize, int32_t outputSize) override {
        detail::TComUsers::TUse use(users_, CE_SETUPCOM_FAILED);
        if (inputSize < 0 || outputSize < 0) throw EComPort(CE_SETUPCOM_FAILED, ERROR_INVALID_PARAMETER);
        if (!SetupComm(handle_, static_cast<DWORD>(inputSize), static_cast<DWORD>(outputSize)))
            Fail(CE_SETUPCOM_FAILED);
    }

    void ApplyTimeouts(const TComTimeoutValues& t) override {
        detail::TComUsers::TUse use(users_, CE_TIMEOUTS_FAILED);
        COMMTIMEOUTS c = detail::MakeCommTimeouts(t);
        if (!SetCommTimeouts(handle_, &c)) Fail(CE_TIMEOUTS_FAILED);
    }

    size_t Write(const uint8_t* data, size_t len, int timeoutMs) override {
        detail::TComUsers::TUse use(users_, CE_WRITE_FAILED);
        if (len > MAXDWORD) throw EComPort(CE_WRITE_FAILED, ERROR_INVALID_PARAMETER);
        TOverlapped op;
        if (!op.ov.hEvent) Fail(CE_WRITE_FAILED);
        if (!WriteFile(handle_, data, static_cast<DWORD>(len), nullptr, &op.ov) && GetLastError() != ERROR_IO_PENDING)
            Fail(CE_WRITE_FAILED);
        const DWORD done = Finish(op, CE_WRITE_FAILED, timeoutMs);
        // The device's own write time-outs end a write short.
        if (done < len) throw EComPort(CE_WRITE_FAILED, WAIT_TIMEOUT);
        return done;
    }

    size_t Read(uint8_t* data, size_t len) override {
        detail::TComUsers::TUse use(users_, CE_READ_FAILED);
        const DWORD want = static_cast<DWORD>(std::min<size_t>(len, Queued(CE_READ_FAILED)));
        if (want == 0) return 0;
        TOverlapped op;
        if (!op.ov.hEvent) Fail(CE_READ_FAILED);
        if (!ReadFile(handle_, data, want, nullptr, &op.ov) && GetLastError() != ERROR_IO_PENDING)
            Fail(CE_READ_FAILED);
        return Finish(op, CE_READ_FAILED, -1);
    }

    int QueuedInput() override {
        detail::TComUsers::TUse use(users_, CE_CLEARCOM_FAILED);
        return static_cast<int>(std::min<DWORD>(Queued(CE_CLEARCOM_FAILED), INT32_MAX));
    }

    TModemSignals Modem() override {
        detail::TComUsers::TUse use(users_, CE_MODEMSTAT_FAILED);
        DWORD bits = 0;
        if (!GetCommModemStatus(handle_, &bits)) Fail(CE_MODEMSTAT_FAILED);
        TModemSignals m;
        m.CTS = (bits & MS_CTS_ON) != 0;
        m.DSR = (bits & MS_DSR_ON) != 0;
        m.Ring = (bits & MS_RING_ON) != 0;
        m.RLSD = (bits & MS_RLSD_ON) != 0;
        return m;
    }

    void Purge() override {
        detail::TComUsers::TUse use(users_, CE_PURGE_FAILED);
        if (!PurgeComm(handle_, PURGE_TXCLEAR | PURGE_RXCLEAR)) Fail(CE_PURGE_FAILED);
    }

    TComWait WaitForEvent(bool wantInput) override {
        const detail::TComUsers::TWait wait(users_);
        if (!wait.Entered()) return TComWait::Cancelled;
        if (!wantInput) {
            WaitForSingleObject(closeEvent_, INFINITE);
            return TComWait::Cancelled;
        }
        if (!SetCommMask(handle_, detail::ComEventMask)) return HangUp();
        // A wait may end without an event while the line is fine (wine ends
        // one whenever a poll of the modem lines fails); it is issued again.
        // The line is gone when it refuses ClearCommError, or when waits
        // keep failing and nothing else does.
        int failedWaits = 0;
        for (;;) {
            if (users_.Closing()) return TComWait::Cancelled;
            // Bytes already queued count at once: a line event reports only
            // what arrives while the wait is pending. Reading the state also
            // clears a line error that ended the last wait.
            COMSTAT stat{};
            DWORD errors = 0;
            if (!ClearCommError(handle_, &errors, &stat)) return HangUp();
            if (stat.cbInQue > 0) return TComWait::Input;
            switch (WaitLineEvent()) {
            case TLineWait::Event: failedWaits = 0; break;
            case TLineWait::Closing: return TComWait::Cancelled;
            case TLineWait::Failed:
                if (++failedWaits >= kFailedWaitsToHangUp) return HangUp();
                break;
            }
        }
    }

    bool HungUp() const override { return hungUp_.load(); }

    void Close() override {
        users_.Close(
            [this] {
                SetEvent(closeEvent_);
                // Ends a pending event wait and aborts writes and reads in
                // progress; the calls themselves also cancel what they wait for.
                SetCommMask(handle_, 0);
                PurgeComm(handle_, PURGE_TXABORT | PURGE_RXABORT);
            },
            [this] {
                // What is still queued goes with the port; a device that has
                // vanished refuses the purge, which changes nothing here.
                PurgeComm(handle_, PURGE_TXCLEAR | PURGE_RXCLEAR);
                CloseHandle(handle_);
            });
    }

private:
    [[noreturn]] void Fail(TComError code) {
        const DWORD err = GetLastError();
        if (IsGoneError(err)) hungUp_.store(true);
        throw EComPort(code, static_cast<int>(err));
    }

    DWORD Queued(TComError code) {
        COMSTAT stat{};
        DWORD errors = 0;
        if (!ClearCommError(handle_, &errors, &stat)) Fail(code);
        return stat.cbInQue;
    }

    // Waits for an issued operation to end, for Close, or for timeoutMs
    // (< 0: no limit), and returns its byte count. An operation that Close
    // or the time-out interrupts is cancelled and waited for (its record
    // must outlive it), and the call fails with code.
    DWORD Finish(TOverlapped& op, TComError code, int timeoutMs) {
        const HANDLE events[2] = {op.ov.hEvent, closeEvent_};
        const DWORD r = WaitForMultipleObjects(2, events, FALSE, timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs));
        DWORD count = 0;
        if (r != WAIT_OBJECT_0) {
            CancelIoEx(handle_, &op.ov);
            GetOverlappedResult(handle_, &op.ov, &count, TRUE);
            throw EComPort(code, r == WAIT_TIMEOUT ? WAIT_TIMEOUT : ERROR_OPERATION_ABORTED);
        }
        if (!GetOverlappedResult(handle_, &op.ov, &count, FALSE)) Fail(code);
        return count;
    }

    enum class TLineWait { Event, Failed, Closing };
    static constexpr int kFailedWaitsToHangUp = 20;

    // One overlapped wait for a line event. Event: something happened (the
    // caller looks at the queue).
    TLineWait WaitLineEvent() {
        TOverlapped op;
        if (!op.ov.hEvent) return TLineWait::Failed;
        DWORD mask = 0;
        if (!WaitCommEvent(handle_, &mask, &op.ov)) {
            if (GetLastError() != ERROR_IO_PENDING) return users_.Closing() ? TLineWait::Closing : TLineWait::Failed;
            const HANDLE events[2] = {op.ov.hEvent, closeEvent_};
            const DWORD r = WaitForMultipleObjects(2, events, FALSE, INFINITE);
            DWORD unused = 0;
            if (r != WAIT_OBJECT_0) {
                // A wait for line events is not cancelled by CancelIoEx under
                // wine; a new mask ends it everywhere.
                SetCommMask(handle_, 0);
                GetOverlappedResult(handle_, &op.ov, &unused, TRUE);
                return TLineWait::Closing;
            }
            if (!GetOverlappedResult(handle_, &op.ov, &unused, FALSE))
                return users_.Closing() ? TLineWait::Closing : TLineWait::Failed;
        }
        return TLineWait::Event;
    }

    // The line no longer reports events: the device is gone.
    TComWait HangUp() {
        hungUp_.store(true);
        return TComWait::HangUp;
    }

    const HANDLE handle_;
    const HANDLE closeEvent_;  // manual reset, set by Close
    detail::TComUsers users_;
    std::atomic<bool> hungUp_{false};
};

}  // namespace

std::string ComDevicePath(const std::string& name) {
    if (name.empty()) return std::string();
    if (name.rfind("\\\\", 0) == 0) return name;
    return "\\\\.\\" + name;
}

std::shared_ptr<TComBackend> OpenComBackend(const std::string& name) {
    const std::string path = ComDevicePath(name);
    if (path.empty()) throw EComPort(CE_OPEN_FAILED, ERROR_FILE_NOT_FOUND);
    // No sharing: a port that another program holds cannot be opened.
    const HANDLE handle = CreateFileW(Utf8ToWide(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (handle == INVALID_HANDLE_VALUE) throw EComPort(CE_OPEN_FAILED, static_cast<int>(GetLastError()));
    const HANDLE closeEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!closeEvent) {
        const DWORD err = GetLastError();
        CloseHandle(handle);
        throw EComPort(CE_OPEN_FAILED, static_cast<int>(err));
    }
    return std::make_shared<TWinComBackend>(handle, closeEvent);
}

}  // namespace skarvel
