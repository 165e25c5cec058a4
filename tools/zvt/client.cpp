#include "tools/zvt/client.h"

#include <algorithm>
#include <cstdio>

#include "core/cp1251.h"
#include "core/deadline.h"
#include "core/disk_file.h"
#include "core/user_env.h"
#include "tools/zvt/console.h"
#include "core/local_name.h"

namespace skarvel {

// ------------------------------------------------------------------ helpers

TBaudRate BaudRateFor(uint32_t rate) {
    for (int b = br110; b <= br256000; ++b)
        if (BaudRateValue(static_cast<TBaudRate>(b)) == rate) return static_cast<TBaudRate>(b);
    return brCustom;
}

std::string ErrorText(uint8_t code) {
    if (const char* text = WorkerErrorText(code)) return Cp1251ToUtf8(text);
    return "код ошибки " + std::to_string(code);
}

bool IsLinkFailure(uint8_t code) {
    switch (code) {
    case feBadName:
    case feExists:
    case feFileEmpty:
    case feNotFound:
    case feNoRoom:
    case feRootFull:
    case feDiskEmpty:
    case feDamagedFile:  // only the file read back for a verify can be damaged
        return false;
    default:
        // Unmounted or damaged volume, no answer, another device, busy, abort,
        // and any code not known here: nothing more is sent.
        return code != feOk;
    }
}

// ------------------------------------------------------------------ client

namespace {
// The request that carries a routine of the client to the worker thread: a
// code the worker's own dispatch never uses.
constexpr uint8_t opClientRoutine = 0xC0;
using TWorkerRoutine = std::function<TFlashError(TFlash&)>;
}  // namespace

TZvtClient::TZvtClient(TClientLine line) : journal_(std::make_unique<TJournal>()) {
    auto count = [this] { SectorFrames.fetch_add(1); };
    if (line == TClientLine::Image) {
        image_ = std::make_unique<TImageWorker>(this);
        image_->Image.OnReadSector = count;
        image_->Image.OnWriteSector = count;
        worker_ = image_.get();
    } else {
        driver_ = std::make_unique<TZVT_drv>(&loop_, this);
        driver_->OnReadSector = count;
        driver_->OnWriteSector = count;
        worker_ = driver_.get();
    }
    worker_->OnCommand = [this](uint8_t op, uint8_t&, void* param) -> uint8_t {
        if (op == opClientRoutine) return (*static_cast<const TWorkerRoutine*>(param))(*worker_);
        return worker_->Dispatch(op, param);
    };
    // Once per run, and the run goes on.
    journal_->OnWarning = [](const std::string& text) { zvtcmd::PrintErr("zvt: внимание: " + text + "\n"); };
}

TZvtClient::~TZvtClient() {
    loop_.Shutdown();
    driver_.reset();
    image_.reset();
}

std::string TZvtClient::LineName() const {
    if (driver_) return driver_->ComPort.Port();
    return "образ " + AbsolutePath(image_->Image.Path());
}

bool TZvtClient::OpenImage(const std::string& path, bool create) {
    if (create && !PathExists(path)) return image_->Image.Create(path, ZvtMediumSize, error_);
    return image_->Image.Open(path, error_);
}

void TZvtClient::PostMsg(uint32_t msg, uintptr_t wParam, intptr_t) {
    if (msg != WM_FLASH_DONE) return;
    // Runs on the worker thread; the waiting loop picks the result up.
    loop_.Post([this, wParam] {
        result_.store(UnpackFlashDone(wParam).Result);
        done_.store(true);
    });
}

bool TZvtClient::Open(const std::string& port, uint32_t baud) {
    try {
        TComPort& p = driver_->ComPort;
        const TBaudRate br = BaudRateFor(baud);
        if (br == brCustom) p.SetCustomBaudRate(static_cast<int32_t>(baud));
        p.SetBaudRate(br);
        p.SetPort(port);
        p.Open();
        return true;
    } catch (const EComPort& e) {
        // The device path belongs to the port's own line; advice for the
        // user, when the message has any, stays on the lines after it.
        error_ = e.what();
        error_.insert(std::min(error_.find('\n'), error_.size()), " (" + ComDevicePath(port) + ")");
        return false;
    }
}

void TZvtClient::Close() {
    if (image_) {
        std::string error;
        if (!image_->Image.Close(error)) zvtcmd::PrintErr("zvt: " + image_->Image.Path() + ": " + error + "\n");
        return;
    }
    if (driver_->ComPort.Connected() && driver_->OwesAnswer()) {
        // The settle runs where exchanges run, while this loop hands the
        // port's bytes to the driver; an interrupt does not cut it short.
        // The worker of a port client is its driver.
        static const TWorkerRoutine settle = [](TFlash& worker) {
            static_cast<TZVT_drv&>(worker).SettleLine();
            return feOk;
        };
        RunRequest(opClientRoutine, const_cast<TWorkerRoutine*>(&settle));
    }
    driver_->Disconnect();
}

TFlashError TZvtClient::Run(uint8_t op, void* param) {
    if (StopRequested && StopRequested()) return feAborted;
    return RunRequest(op, param);
}

TFlashError TZvtClient::RunRequest(uint8_t op, void* param) {
    done_.store(false);
    SectorFrames.store(0);
    worker_->PostRequest(op, param);
    TDeadline nextTick(0);
    while (!done_.load()) {
        loop_.RunOnce(20);
        // The operations clear the flag as they start: it is set again
        // until the request has ended.
        if (StopRequested && StopRequested()) worker_->RequestAbort();
        if (OnTick && nextTick.Expired()) {
            OnTick();
            nextTick = TDeadline(100);
        }
    }
    if (OnTick) OnTick();
    // The client's hook answers with worker codes only.
    return static_cast<TFlashError>(result_.load());
}

TFlashError TZvtClient::RunOnWorker(const TWorkerRoutine& fn) {
    return Run(opClientRoutine, const_cast<TWorkerRoutine*>(&fn));
}

TFlashError TZvtClient::Init() { return Run(opInit, nullptr); }

std::string TZvtClient::InitFailureText(uint8_t code) const {
    const std::string note = driver_ && code == feWrongDevice ? driver_->WrongDeviceNote() : std::string();
    return note.empty() ? ErrorText(code) : "неизвестный код устройства " + note;
}

TFlashError TZvtClient::Format() { return Run(opFormat, nullptr); }

TFlashError TZvtClient::List(std::vector<TZvtFile>& files) {
    files.clear();
    const TFlashError r = Run(opReadDir, nullptr);
    if (r != feOk && r != feDiskEmpty) return r;
    // The worker is idle now; its list is ours to read.
    const TFileList& list = worker_->Files();
    for (int i = 0; i < list.Count(); ++i)
        files.push_back(TZvtFile{list.Strings(i), static_cast<uint32_t>(list.Sizes(i))});
    return feOk;
}

TFlashError TZvtClient::Save(const std::string& name, const std::vector<uint8_t>& data) {
    TFlashArgs args;
    args.Name = name.c_str();
    args.Data = const_cast<uint8_t*>(data.data());
    args.Size = data.size();
    return Run(opSaveFile, &args);
}

TFlashError TZvtClient::Replace(const std::string& name, const std::vector<uint8_t>& data) {
    return RunOnWorker([&](TFlash& d) {
        return d.ReplaceFile(name.c_str(), data.data(), d.MediumKind(), static_cast<uint32_t>(data.size()));
    });
}

TFlashError TZvtClient::Load(const std::string& name, uint32_t size, std::vector<uint8_t>& data) {
    data.assign(size, 0);
    uint8_t dummy = 0;
    TFlashArgs args;
    args.Name = name.c_str();
    args.Data = size ? data.data() : &dummy;
    args.Size = size;
    const TFlashError r = Run(opLoadFile, &args);
    if (r != feOk) data.clear();
    return r;
}

TFlashError TZvtClient::Attr(const std::string& name, uint32_t& size) {
    TFlashArgs args;
    args.Name = name.c_str();
    const TFlashError r = Run(opGetFileAttr, &args);
    size = r == feOk ? static_cast<uint32_t>(args.Size) : 0;
    return r;
}

TFlashError TZvtClient::LoadWhole(const std::string& name, std::vector<uint8_t>& data) {
    return RunOnWorker([&](TFlash& d) { return d.LoadFile(name.c_str(), data, d.MediumKind()); });
}

TFlashError TZvtClient::Verify(const std::string& name, const std::vector<uint8_t>& data, bool& same) {
    same = false;
    std::vector<uint8_t> back;
    if (const TFlashError r = LoadWhole(name, back); r != feOk) return r;
    same = back == data;
    return feOk;
}

TFlashError TZvtClient::Delete(const std::string& name) {
    std::string copy = name;
    return Run(opDeleteFile, copy.data());
}

uint32_t TZvtClient::DataClusters() const { return worker_->DataClusterCount(); }

uint32_t TZvtClient::FreeClusters() const { return worker_->FreeClusterCount(); }

}  // namespace skarvel
