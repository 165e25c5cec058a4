// The serial port that carries the device link.
//
// TComPort holds the line settings, opens the device, runs an event thread
// that waits for received data and hands each batch to the main thread
// (OnRxChar runs there), and offers blocking writes and non-blocking reads.
// The operating system's side lives in one source file per platform behind
// TComBackend (cport_linux.cpp, cport_win.cpp); CMake picks the file.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>

#include "core/sync.h"

namespace skarvel {

enum TBaudRate : uint8_t {
    brCustom, br110, br300, br600, br1200, br2400, br4800, br9600, br14400, br19200,
    br38400, br56000, br57600, br115200, br128000, br256000
};
enum TStopBits : uint8_t { sbOneStopBit, sbOne5StopBits, sbTwoStopBits };
enum TDataBits : uint8_t { dbFive, dbSix, dbSeven, dbEight };
enum TParityBits : uint8_t { prNone, prOdd, prEven, prMark, prSpace };
enum TDTRFlowControl : uint8_t { dtrDisable, dtrEnable, dtrHandshake };
enum TRTSFlowControl : uint8_t { rtsDisable, rtsEnable, rtsHandshake, rtsToggle };
enum TFlowControl : uint8_t { fcHardware, fcSoftware, fcNone, fcCustom };
enum TComEvent : uint8_t { evRxChar, evTxEmpty, evRxFlag, evRing, evBreak, evCTS, evDSR, evError, evRLSD, evRx80Full };
using TComEvents = uint16_t;  // one bit per TComEvent
constexpr TComEvents AllComEvents = 0x3FF;
enum TSyncMethod : uint8_t { smThreadSync, smWindowSync, smNone };

// Rate in bits per second of a TBaudRate (brCustom: 0, the port uses CustomBaudRate).
uint32_t BaudRateValue(TBaudRate rate);

// Error codes of EComPort: the step of the port that failed.
enum TComError : int {
    CE_OPEN_FAILED = 1,
    CE_WRITE_FAILED = 2,
    CE_READ_FAILED = 3,
    CE_INVALID_ASYNC = 4,
    CE_PURGE_FAILED = 5,
    CE_SETSTATE_FAILED = 7,
    CE_TIMEOUTS_FAILED = 8,
    CE_SETUPCOM_FAILED = 9,
    CE_CLEARCOM_FAILED = 10,
    CE_MODEMSTAT_FAILED = 11,
    CE_REGISTRY = 23,
};

// Text of an EComPort code ("Unable to open com port", ...).
const char* ComErrorText(TComError code);

// The system's error codes for the port's own refusals, defined by each
// platform's backend: a port that is closed (EBADF, ERROR_INVALID_HANDLE)
// and an argument it cannot take (EINVAL, ERROR_INVALID_PARAMETER).
extern const int ComErrorClosed;
extern const int ComErrorInvalid;

class EComPort : public std::runtime_error {
public:
    // winCode -1: no operating-system error applies; the message is the text alone.
    // Advice for the user, when given, follows the message on a line of its own.
    EComPort(TComError code, int winCode, const std::string& advice = std::string());
    TComError Code() const { return code_; }
    int WinCode() const { return winCode_; }

private:
    TComError code_;
    int winCode_;
};

class TComPort;

class TComParity {
public:
    explicit TComParity(TComPort* port) : port_(port) {}
    TParityBits Bits() const { return bits_; }
    bool Check() const { return check_; }
    bool Replace() const { return replace_; }
    uint8_t ReplaceChar() const { return replaceChar_; }
    void SetBits(TParityBits v);
    void SetCheck(bool v);
    void SetReplace(bool v);
    void SetReplaceChar(uint8_t v);

private:
    TComPort* port_;
    TParityBits bits_ = prNone;
    bool check_ = false;
    bool replace_ = false;
    uint8_t replaceChar_ = 0;
};

class TComBuffer {
public:
    explicit TComBuffer(TComPort* port) : port_(port) {}
    int32_t InputSize() const { return input_; }
    int32_t OutputSize() const { return output_; }
    void SetInputSize(int32_t v);   // an odd value is stored reduced by one
    void SetOutputSize(int32_t v);

private:
    TComPort* port_;
    int32_t input_ = 1024;
    int32_t output_ = 1024;
};

class TComTimeouts {
public:
    explicit TComTimeouts(TComPort* port) : port_(port) {}
    int32_t ReadInterval() const { return readInterval_; }
    int32_t ReadTotalMultiplier() const { return readMult_; }
    int32_t ReadTotalConstant() const { return readConst_; }
    int32_t WriteTotalMultiplier() const { return writeMult_; }
    int32_t WriteTotalConstant() const { return writeConst_; }
    void SetReadInterval(int32_t v);
    void SetReadTotalMultiplier(int32_t v);
    void SetReadTotalConstant(int32_t v);
    void SetWriteTotalMultiplier(int32_t v);
    void SetWriteTotalConstant(int32_t v);

private:
    TComPort* port_;
    int32_t readInterval_ = -1;
    int32_t readMult_ = 0;
    int32_t readConst_ = 0;
    int32_t writeMult_ = 100;
    int32_t writeConst_ = 1000;
};

class TComFlowControl {
public:
    explicit TComFlowControl(TComPort* port) : port_(port) {}
    bool OutCTSFlow() const { return outCTS_; }
    bool OutDSRFlow() const { return outDSR_; }
    TDTRFlowControl ControlDTR() const { return dtr_; }
    TRTSFlowControl ControlRTS() const { return rts_; }
    bool XonXoffOut() const { return xonOut_; }
    bool XonXoffIn() const { return xonIn_; }
    bool DSRSensitivity() const { return dsrSens_; }
    bool TxContinueOnXoff() const { return txCont_; }
    uint8_t XonChar() const { return xonChar_; }
    uint8_t XoffChar() const { return xoffChar_; }
    TFlowControl FlowControl() const;  // the summary value
    void SetOutCTSFlow(bool v);
    void SetOutDSRFlow(bool v);
    void SetControlDTR(TDTRFlowControl v);
    void SetControlRTS(TRTSFlowControl v);
    void SetXonXoffOut(bool v);
    void SetXonXoffIn(bool v);
    void SetDSRSensitivity(bool v);
    void SetTxContinueOnXoff(bool v);
    void SetXonChar(uint8_t v);
    void SetXoffChar(uint8_t v);
    void SetFlowControl(TFlowControl v);

private:
    TComPort* port_;
    bool outCTS_ = false, outDSR_ = false;
    TDTRFlowControl dtr_ = dtrDisable;
    TRTSFlowControl rts_ = rtsDisable;
    bool xonOut_ = false, xonIn_ = false, dsrSens_ = false, txCont_ = false;
    uint8_t xonChar_ = 0x11, xoffChar_ = 0x13;
};

// Everything the platform layer needs to configure the line. Windows
// applies every field; termios has no counterpart for some of them (see
// cport_linux.cpp).
struct TLineSettings {
    uint32_t BaudRate = 9600;  // bits per second
    TDataBits DataBits = dbEight;
    TParityBits Parity = prNone;
    bool ParityCheck = false;
    bool ParityReplace = false;  // with ParityCheck: a faulty byte reads as ReplaceChar
    uint8_t ReplaceChar = 0;
    TStopBits StopBits = sbOneStopBit;
    bool OutCTSFlow = false, OutDSRFlow = false;
    TDTRFlowControl ControlDTR = dtrDisable;
    TRTSFlowControl ControlRTS = rtsDisable;
    bool XonXoffOut = false, XonXoffIn = false;
    bool DSRSensitivity = false, TxContinueOnXoff = false;
    uint8_t XonChar = 0x11, XoffChar = 0x13;
    bool DiscardNull = false;
    uint8_t EventChar = 0;
    int32_t InputSize = 1024;  // the XON/XOFF limits are a quarter of it
};

// The port's time-outs in milliseconds, as the settings hold them.
struct TComTimeoutValues {
    uint32_t ReadInterval = 0xFFFFFFFF, ReadTotalMultiplier = 0, ReadTotalConstant = 0;
    uint32_t WriteTotalMultiplier = 100, WriteTotalConstant = 1000;
};

struct TModemSignals {
    bool CTS = false, DSR = false, Ring = false, RLSD = false;
};

// What a wait for line events ended with.
enum class TComWait : uint8_t {
    Input,      // received bytes are waiting
    HangUp,     // the line is gone (far end closed, adapter pulled)
    Cancelled,  // the port is being closed
};

// The platform side of one open port. Implemented per operating system.
// All operations may be called from different threads; Close wakes every
// wait and write in progress, waits until they have left, and only then
// releases the device, so no operation ever touches a released descriptor.
class TComBackend {
public:
    virtual ~TComBackend() = default;
    // Each operation throws EComPort with the code of the failing step and
    // the system's error (errno on Linux, GetLastError on Windows); after
    // Close every operation fails (code of the step, EBADF or
    // ERROR_INVALID_HANDLE) and waits return Cancelled.
    virtual void ApplyLine(const TLineSettings& s) = 0;
    // The sizes of the device's queues and its time-outs. A platform whose
    // driver sizes its own queues, and whose writes TComPort bounds itself,
    // keeps these defaults, which change nothing.
    virtual void ApplyBuffers(int32_t /*inputSize*/, int32_t /*outputSize*/) {}
    virtual void ApplyTimeouts(const TComTimeoutValues& /*t*/) {}
    // Writes all bytes; timeoutMs < 0 waits without limit.
    virtual size_t Write(const uint8_t* data, size_t len, int timeoutMs) = 0;
    virtual size_t Read(uint8_t* data, size_t len) = 0;  // never waits
    virtual int QueuedInput() = 0;
    virtual TModemSignals Modem() = 0;
    virtual void Purge() = 0;
    // At least how long, in milliseconds, no program has written to the
    // line, as far as the system tells; nothing when it cannot tell.
    virtual std::optional<uint64_t> UnwrittenMs() const { return std::nullopt; }
    // Blocks until input is waiting (only when wantInput), the line hangs up
    // or the port is closed.
    virtual TComWait WaitForEvent(bool wantInput) = 0;
    virtual bool HungUp() const = 0;
    // Cancels waits and writes, discards both queues and releases the device.
    // Safe to call more than once; never throws.
    virtual void Close() = 0;
};

// Opens a port by name; throws EComPort code 1 with the system's error.
std::shared_ptr<TComBackend> OpenComBackend(const std::string& name);
// The device path a port name stands for on this system. On Linux a name
// beginning with "/" is a path, "COMn" (any case, n from 1) is /dev/ttyS(n-1),
// a name with a '-' is an adapter's name under /dev/serial/by-id/, any other
// name is /dev/<name>. On Windows it is "\\.\" and the name
// (which reaches COM10 and above too), a name that already begins with "\\"
// is a path. An empty name gives an empty path.
std::string ComDevicePath(const std::string& name);

using TRxCharEvent = std::function<void(TComPort* sender, int count)>;

class TComThread;

// Threads: Open, Close, the setters, Read and QueuedInputCount belong to the
// main thread; WriteString may run on another thread at the same time, and a
// Close meanwhile makes it fail at once with code 2. OnRxChar may close the
// port but must not destroy it.
class TComPort {
public:
    // main: where OnRxChar runs (the GUI's event loop, or a plain loop).
    explicit TComPort(TMainThread* main);
    ~TComPort();  // closes the port
    TComPort(const TComPort&) = delete;
    TComPort& operator=(const TComPort&) = delete;

    void Open();
    void Close();
    bool Connected() const { return connected_.load(); }

    int WriteString(const std::string& bytes);
    int Write(const void* data, int count);
    int Read(void* buffer, int count);
    int QueuedInputCount();
    // The open line's UnwrittenMs (nothing when the port is closed).
    std::optional<uint64_t> UnwrittenMs() const;
    TModemSignals ModemSignals();

    void BeginChange() { ++updateCount_; }
    void EndChange();
    void ApplySettings();
    void ApplyLineSettings();
    void ApplyTimeouts();
    void ApplyBufferSizes();

    // Properties.
    TBaudRate BaudRate() const { return baudRate_; }
    void SetBaudRate(TBaudRate v);
    int32_t CustomBaudRate() const { return customBaudRate_; }
    void SetCustomBaudRate(int32_t v);
    const std::string& Port() const { return port_; }
    void SetPort(const std::string& name);
    TStopBits StopBits() const { return stopBits_; }
    void SetStopBits(TStopBits v);
    TDataBits DataBits() const { return dataBits_; }
    void SetDataBits(TDataBits v);
    bool DiscardNull() const { return discardNull_; }
    void SetDiscardNull(bool v);
    uint8_t EventChar() const { return eventChar_; }
    void SetEventChar(uint8_t v);
    TComEvents Events() const { return events_; }
    void SetEvents(TComEvents v) { events_ = v; }
    TSyncMethod SyncMethod() const { return syncMethod_; }

    TComParity Parity{this};
    TComBuffer Buffer{this};
    TComTimeouts Timeouts{this};
    TComFlowControl FlowControl{this};

    TRxCharEvent OnRxChar;
    // Runs on the main thread at the end of every Open, once the line is set
    // up and what was waiting on it has been discarded, before the event
    // thread hands on the first byte.
    std::function<void(TComPort* sender)> OnAfterOpen;

    // Settings dialog; installed by the GUI (the core has no windows). True
    // when the user confirmed it (and the settings were written).
    static std::function<bool(TComPort*)> SettingsDialogHook;
    bool ShowSettingsDialog();

    TMainThread* MainThread() const { return main_; }

    // True while the event thread waits for line events; false once the
    // line has hung up (or the port is closed).
    bool EventThreadRunning() const;

    // The line settings as the platform layer is given them.
    TLineSettings LineSettings() const;

private:
    friend class TComThread;
    // Runs on the main thread for each batch of events the thread saw;
    // queued receives the input count handed to OnRxChar.
    void DispatchEvents(TComEvents events, int& queued);
    int WriteTimeoutMs(size_t len) const;
    bool CanApply() const { return connected_.load() && updateCount_ == 0 && backend_; }

    TMainThread* main_;
    std::atomic<bool> connected_{false};
    // Shared so that a write on the worker thread keeps the backend alive
    // while the main thread closes the port (the backend's Close waits for
    // the write to leave the descriptor).
    std::shared_ptr<TComBackend> backend_;
    mutable std::mutex backendMutex_;
    std::unique_ptr<TComThread> thread_;
    bool dispatching_ = false;  // main thread: inside DispatchEvents
    int updateCount_ = 0;
    // Write time-outs as last applied to the open port (read by the writer).
    std::atomic<int32_t> appliedWriteMult_{100};
    std::atomic<int32_t> appliedWriteConst_{1000};

    TBaudRate baudRate_ = br9600;
    int32_t customBaudRate_ = 9600;
    std::string port_ = "COM1";
    TStopBits stopBits_ = sbOneStopBit;
    TDataBits dataBits_ = dbEight;
    bool discardNull_ = false;
    uint8_t eventChar_ = 0;
    TComEvents events_ = AllComEvents;
    TSyncMethod syncMethod_ = smThreadSync;
};

}  // namespace skarvel
