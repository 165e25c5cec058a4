// The serial port: settings, open/close, reads and writes, and the event
// thread. Everything the operating system does sits behind TComBackend.
#include "link/cport.h"

#include <climits>
#include <cstdio>

namespace skarvel {

// ---------------------------------------------------------------- basics

uint32_t BaudRateValue(TBaudRate rate) {
    static const uint32_t rates[] = {0,     110,   300,   600,   1200,  2400,   4800,   9600,
                                     14400, 19200, 38400, 56000, 57600, 115200, 128000, 256000};
    return rate < sizeof rates / sizeof rates[0] ? rates[rate] : 0;
}

const char* ComErrorText(TComError code) {
    switch (code) {
    case CE_OPEN_FAILED: return "Unable to open com port";
    case CE_WRITE_FAILED: return "WriteFile function failed";
    case CE_READ_FAILED: return "ReadFile function failed";
    case CE_INVALID_ASYNC: return "Invalid Async parameter";
    case CE_PURGE_FAILED: return "PurgeComm function failed";
    case CE_SETSTATE_FAILED: return "SetCommState function failed";
    case CE_TIMEOUTS_FAILED: return "SetCommTimeouts failed";
    case CE_SETUPCOM_FAILED: return "SetupComm function failed";
    case CE_CLEARCOM_FAILED: return "ClearCommError function failed";
    case CE_MODEMSTAT_FAILED: return "GetCommModemStatus function failed";
    case CE_REGISTRY: return "Registry error";
    default: return "Unknown error";
    }
}

namespace {
std::string ComErrorMessage(TComError code, int winCode) {
    std::string text = ComErrorText(code);
    if (winCode == -1) return text;
    char tail[48];
    std::snprintf(tail, sizeof tail, " (win error code: %d)", winCode);
    return text + tail;
}

constexpr TComEvents EventBit(TComEvent e) { return static_cast<TComEvents>(1u << e); }

// Stores v; true when that changed the field (setters re-apply only then).
template <class T>
bool Change(T& field, T v) {
    if (field == v) return false;
    field = v;
    return true;
}
}  // namespace

EComPort::EComPort(TComError code, int winCode, const std::string& advice)
    : std::runtime_error(advice.empty() ? ComErrorMessage(code, winCode)
                                        : ComErrorMessage(code, winCode) + "\n" + advice),
      code_(code),
      winCode_(winCode) {}

// ---------------------------------------------------------------- settings objects

void TComParity::SetBits(TParityBits v) {
    if (Change(bits_, v)) port_->ApplyLineSettings();
}
void TComParity::SetCheck(bool v) {
    if (Change(check_, v)) port_->ApplyLineSettings();
}
void TComParity::SetReplace(bool v) {
    if (Change(replace_, v)) port_->ApplyLineSettings();
}
void TComParity::SetReplaceChar(uint8_t v) {
    if (Change(replaceChar_, v)) port_->ApplyLineSettings();
}

namespace {
int32_t EvenSize(int32_t v) { return v - (v & 1); }
}  // namespace

void TComBuffer::SetInputSize(int32_t v) {
    v = EvenSize(v);
    if (Change(input_, v)) port_->ApplyBufferSizes();
}
void TComBuffer::SetOutputSize(int32_t v) {
    v = EvenSize(v);
    if (Change(output_, v)) port_->ApplyBufferSizes();
}

void TComTimeouts::SetReadInterval(int32_t v) {
    if (Change(readInterval_, v)) port_->ApplyTimeouts();
}
void TComTimeouts::SetReadTotalMultiplier(int32_t v) {
    if (Change(readMult_, v)) port_->ApplyTimeouts();
}
void TComTimeouts::SetReadTotalConstant(int32_t v) {
    if (Change(readConst_, v)) port_->ApplyTimeouts();
}
void TComTimeouts::SetWriteTotalMultiplier(int32_t v) {
    if (Change(writeMult_, v)) port_->ApplyTimeouts();
}
void TComTimeouts::SetWriteTotalConstant(int32_t v) {
    if (Change(writeConst_, v)) port_->ApplyTimeouts();
}

TFlowControl TComFlowControl::FlowControl() const {
    if (rts_ == rtsHandshake && outCTS_ && !xonIn_ && !xonOut_) return fcHardware;
    if (rts_ == rtsDisable && !outCTS_ && xonIn_ && xonOut_) return fcSoftware;
    if (rts_ == rtsDisable && !outCTS_ && !xonIn_ && !xonOut_) return fcNone;
    return fcCustom;
}

void TComFlowControl::SetOutCTSFlow(bool v) {
    if (Change(outCTS_, v)) port_->ApplyLineSettings();
}
void TComFlowControl::SetOutDSRFlow(bool v) {
    if (Change(outDSR_, v)) port_->ApplyLineSettings();
}
void TComFlowControl::SetControlDTR(TDTRFlowControl v) {
    if (Change(dtr_, v)) port_->ApplyLineSettings();
}
void TComFlowControl::SetControlRTS(TRTSFlowControl v) {
    if (Change(rts_, v)) port_->ApplyLineSettings();
}
void TComFlowControl::SetXonXoffOut(bool v) {
    if (Change(xonOut_, v)) port_->ApplyLineSettings();
}
void TComFlowControl::SetXonXoffIn(bool v) {
    if (Change(xonIn_, v)) port_->ApplyLineSettings();
}
void TComFlowControl::SetDSRSensitivity(bool v) {
    if (Change(dsrSens_, v)) port_->ApplyLineSettings();
}
void TComFlowControl::SetTxContinueOnXoff(bool v) {
    if (Change(txCont_, v)) port_->ApplyLineSettings();
}
void TComFlowControl::SetXonChar(uint8_t v) {
    if (Change(xonChar_, v)) port_->ApplyLineSettings();
}
void TComFlowControl::SetXoffChar(uint8_t v) {
    if (Change(xoffChar_, v)) port_->ApplyLineSettings();
}

void TComFlowControl::SetFlowControl(TFlowControl v) {
    if (v == fcCustom) return;
    TRTSFlowControl rts = rtsDisable;
    bool outCTS = false, xon = false;
    if (v == fcHardware) {
        rts = rtsHandshake;
        outCTS = true;
    } else if (v == fcSoftware) {
        xon = true;
    }
    if (rts == rts_ && outCTS == outCTS_ && xon == xonIn_ && xon == xonOut_) return;
    rts_ = rts;
    outCTS_ = outCTS;
    xonIn_ = xon;
    xonOut_ = xon;
    port_->ApplyLineSettings();
}

// ---------------------------------------------------------------- event thread

// Waits for line events while the port is open and hands each batch to the
// main thread, blocking until it has been handled there. It ends when the
// port closes or the line hangs up.
class TComThread : public TThread {
public:
    TComThread(TComPort* port, std::shared_ptr<TComBackend> backend, TMainThread* main,
               TComEvents events)
        : port_(port), backend_(std::move(backend)), main_(main), events_(events) {}

    ~TComThread() override {
        RequestStop();
        WaitFor();
    }

    // Wakes the pauses and abandons a pending hand-over; the waits on the
    // line are woken by closing the backend.
    void RequestStop() {
        stop_.store(true);
        Terminate();
        pause_.Set();
    }

    bool Finished() const { return finished_.load(); }

protected:
    void Execute() override {
        const bool wantInput = (events_ & EventBit(evRxChar)) != 0;
        while (!stop_.load()) {
            if (backend_->WaitForEvent(wantInput) != TComWait::Input || stop_.load()) break;
            int queued = 0;
            bool handled = true;
            const bool ran = main_->Call(
                [&] {
                    try {
                        port_->DispatchEvents(EventBit(evRxChar), queued);
                    } catch (...) {
                        // A failing read in the handler or a refused queue
                        // query ends the event handling, as a line fault does.
                        handled = false;
                    }
                },
                &stop_);
            if (!ran || !handled || stop_.load()) break;
            // Bytes nobody took stay queued and poll reports them at once
            // again: give the handler's side a moment instead of spinning.
            int after = 0;
            try {
                after = backend_->QueuedInput();
            } catch (const EComPort&) {
                break;
            }
            if (after >= queued) pause_.Wait(10);
        }
        finished_.store(true);
    }

private:
    TComPort* port_;
    std::shared_ptr<TComBackend> backend_;
    TMainThread* main_;
    TComEvents events_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> finished_{false};
    TEvent pause_{true, false};
};

// ---------------------------------------------------------------- TComPort

std::function<bool(TComPort*)> TComPort::SettingsDialogHook;

TComPort::TComPort(TMainThread* main) : main_(main) {}

TComPort::~TComPort() { Close(); }

void TComPort::Open() {
    if (connected_.load()) return;
    std::shared_ptr<TComBackend> backend = OpenComBackend(port_);
    {
        std::lock_guard<std::mutex> lock(backendMutex_);
        backend_ = backend;
    }
    connected_.store(true);
    try {
        ApplySettings();
    } catch (...) {
        {
            std::lock_guard<std::mutex> lock(backendMutex_);
            backend_.reset();
        }
        connected_.store(false);
        backend->Close();
        throw;
    }
    // Bytes that reached the line before this open belong to no command of
    // this program (a device still answering a program that ran before). A
    // port that refuses the purge still opens: the driver's quiet rule drops
    // such bytes too.
    try {
        backend->Purge();
    } catch (const EComPort&) {
    }
    if (OnAfterOpen) OnAfterOpen(this);
    if (events_ != 0 && main_) {
        thread_ = std::make_unique<TComThread>(this, backend, main_, events_);
        thread_->Resume();
    }
    // Read once at open; the values would only feed line-change
    // notifications, which nothing here assigns.
    try {
        (void)backend->Modem();
    } catch (const EComPort&) {
    }
}

void TComPort::Close() {
    if (!connected_.load()) return;
    std::shared_ptr<TComBackend> backend;
    {
        // From here on a write on another thread finds the port closed.
        std::lock_guard<std::mutex> lock(backendMutex_);
        backend.swap(backend_);
    }
    if (thread_) thread_->RequestStop();
    // Wakes the event thread's wait and any write in progress, waits until
    // they have left the descriptor, discards both queues, releases the device.
    if (backend) backend->Close();
    if (thread_) {
        if (main_->IsCurrent() && dispatching_) {
            // Closed from inside OnRxChar: the event thread is waiting for
            // this very handler to return, so it cannot be joined here. It
            // ends as soon as the handler returns; join it afterwards.
            std::shared_ptr<TComThread> late(std::move(thread_));
            main_->Post([late] {});
        } else {
            thread_.reset();
        }
    }
    connected_.store(false);
}

bool TComPort::EventThreadRunning() const { return thread_ && !thread_->Finished(); }

void TComPort::DispatchEvents(TComEvents events, int& queued) {
    queued = 0;
    // Of the line events only received data has an effect here; errors,
    // breaks and modem-line changes have no handlers in this system.
    if (!(events & EventBit(evRxChar))) return;
    struct TFlag {
        explicit TFlag(bool& f) : f_(f) { f_ = true; }
        ~TFlag() { f_ = false; }
        bool& f_;
    } flag(dispatching_);
    const int count = QueuedInputCount();
    queued = count;
    // The bytes stay queued; the handler reads them.
    if (count > 0 && OnRxChar) OnRxChar(this, count);
}

int TComPort::WriteString(const std::string& bytes) {
    if (bytes.empty()) return 0;
    if (bytes.size() > static_cast<size_t>(INT_MAX)) throw EComPort(CE_WRITE_FAILED, ComErrorInvalid);
    return Write(bytes.data(), static_cast<int>(bytes.size()));
}

int TComPort::WriteTimeoutMs(size_t len) const {
    // Milliseconds per byte plus a constant; both zero means no limit.
    const uint64_t mult = static_cast<uint32_t>(appliedWriteMult_.load());
    const uint64_t constant = static_cast<uint32_t>(appliedWriteConst_.load());
    const uint64_t total = mult * len + constant;
    if (total == 0) return -1;
    return total > static_cast<uint64_t>(INT_MAX) ? INT_MAX : static_cast<int>(total);
}

int TComPort::Write(const void* data, int count) {
    if (count <= 0) return 0;
    if (!data) throw EComPort(CE_WRITE_FAILED, ComErrorInvalid);
    std::shared_ptr<TComBackend> backend;
    {
        std::lock_guard<std::mutex> lock(backendMutex_);
        backend = backend_;
    }
    if (!backend) throw EComPort(CE_WRITE_FAILED, ComErrorClosed);
    const size_t len = static_cast<size_t>(count);
    return static_cast<int>(backend->Write(static_cast<const uint8_t*>(data), len, WriteTimeoutMs(len)));
}

int TComPort::Read(void* buffer, int count) {
    if (count <= 0) return 0;
    if (!buffer) throw EComPort(CE_READ_FAILED, ComErrorInvalid);
    std::shared_ptr<TComBackend> backend;
    {
        std::lock_guard<std::mutex> lock(backendMutex_);
        backend = backend_;
    }
    if (!backend) throw EComPort(CE_READ_FAILED, ComErrorClosed);
    return static_cast<int>(backend->Read(static_cast<uint8_t*>(buffer), static_cast<size_t>(count)));
}

int TComPort::QueuedInputCount() {
    std::shared_ptr<TComBackend> backend;
    {
        std::lock_guard<std::mutex> lock(backendMutex_);
        backend = backend_;
    }
    if (!backend) throw EComPort(CE_CLEARCOM_FAILED, ComErrorClosed);
    return backend->QueuedInput();
}

std::optional<uint64_t> TComPort::UnwrittenMs() const {
    std::shared_ptr<TComBackend> backend;
    {
        std::lock_guard<std::mutex> lock(backendMutex_);
        backend = backend_;
    }
    return backend ? backend->UnwrittenMs() : std::nullopt;
}

TModemSignals TComPort::ModemSignals() {
    std::shared_ptr<TComBackend> backend;
    {
        std::lock_guard<std::mutex> lock(backendMutex_);
        backend = backend_;
    }
    if (!backend) throw EComPort(CE_MODEMSTAT_FAILED, ComErrorClosed);
    return backend->Modem();
}

void TComPort::EndChange() {
    if (updateCount_ == 0) return;
    if (--updateCount_ == 0) ApplySettings();
}

void TComPort::ApplySettings() {
    ApplyBufferSizes();
    ApplyLineSettings();
    ApplyTimeouts();
}

void TComPort::ApplyLineSettings() {
    if (!CanApply()) return;
    backend_->ApplyLine(LineSettings());
}

void TComPort::ApplyTimeouts() {
    if (!CanApply()) return;
    // Reads never wait whatever the read time-outs say (they only take what
    // is queued); writes are bounded by the write time-outs, here and, where
    // the device knows them, by the device too.
    TComTimeoutValues t;
    t.ReadInterval = static_cast<uint32_t>(Timeouts.ReadInterval());
    t.ReadTotalMultiplier = static_cast<uint32_t>(Timeouts.ReadTotalMultiplier());
    t.ReadTotalConstant = static_cast<uint32_t>(Timeouts.ReadTotalConstant());
    t.WriteTotalMultiplier = static_cast<uint32_t>(Timeouts.WriteTotalMultiplier());
    t.WriteTotalConstant = static_cast<uint32_t>(Timeouts.WriteTotalConstant());
    backend_->ApplyTimeouts(t);
    appliedWriteMult_.store(Timeouts.WriteTotalMultiplier());
    appliedWriteConst_.store(Timeouts.WriteTotalConstant());
}

void TComPort::ApplyBufferSizes() {
    // The Linux tty driver sizes its own queues; there the sizes are kept as
    // settings only.
    if (!CanApply()) return;
    backend_->ApplyBuffers(Buffer.InputSize(), Buffer.OutputSize());
}

TLineSettings TComPort::LineSettings() const {
    TLineSettings s;
    s.BaudRate = baudRate_ == brCustom ? static_cast<uint32_t>(customBaudRate_) : BaudRateValue(baudRate_);
    s.DataBits = dataBits_;
    s.Parity = Parity.Bits();
    s.ParityCheck = Parity.Check();
    s.ParityReplace = Parity.Replace();
    s.ReplaceChar = Parity.ReplaceChar();
    s.StopBits = stopBits_;
    s.OutCTSFlow = FlowControl.OutCTSFlow();
    s.OutDSRFlow = FlowControl.OutDSRFlow();
    s.ControlDTR = FlowControl.ControlDTR();
    s.ControlRTS = FlowControl.ControlRTS();
    s.XonXoffOut = FlowControl.XonXoffOut();
    s.XonXoffIn = FlowControl.XonXoffIn();
    s.DSRSensitivity = FlowControl.DSRSensitivity();
    s.TxContinueOnXoff = FlowControl.TxContinueOnXoff();
    s.XonChar = FlowControl.XonChar();
    s.XoffChar = FlowControl.XoffChar();
    s.DiscardNull = discardNull_;
    s.EventChar = eventChar_;
    s.InputSize = Buffer.InputSize();
    return s;
}

// ---------------------------------------------------------------- properties

void TComPort::SetBaudRate(TBaudRate v) {
    if (Change(baudRate_, v)) ApplyLineSettings();
}

void TComPort::SetCustomBaudRate(int32_t v) {
    if (Change(customBaudRate_, v)) ApplyLineSettings();
}

void TComPort::SetPort(const std::string& name) {
    if (name == port_) return;
    if (connected_.load()) {
        Close();
        port_ = name;
        Open();
    } else {
        port_ = name;
    }
}

void TComPort::SetStopBits(TStopBits v) {
    if (Change(stopBits_, v)) ApplyLineSettings();
}

void TComPort::SetDataBits(TDataBits v) {
    if (Change(dataBits_, v)) ApplyLineSettings();
}

void TComPort::SetDiscardNull(bool v) {
    if (Change(discardNull_, v)) ApplyLineSettings();
}

void TComPort::SetEventChar(uint8_t v) {
    if (Change(eventChar_, v)) ApplyLineSettings();
}

bool TComPort::ShowSettingsDialog() { return SettingsDialogHook && SettingsDialogHook(this); }

}  // namespace skarvel
