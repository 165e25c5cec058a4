// The medium image as a sector transport.
#include "flashfs/image_transport.h"

#include <cstring>

namespace skarvel {

bool TImageTransport::CheckSize(const std::string& path, std::string& error) {
    const uint64_t size = file_.Size();
    if (size == 0 || size % SectorSize != 0 || size / SectorSize > SectorLimit) {
        error = path + ": не образ носителя (размер " + std::to_string(size) + " байт не кратен " +
                std::to_string(SectorSize) + " или больше " + std::to_string(SectorLimit) + " секторов)";
        std::string ignored;
        file_.Close(ignored);
        return false;
    }
    path_ = path;
    return true;
}

bool TImageTransport::Open(const std::string& path, std::string& error) {
    std::lock_guard<std::mutex> lock(mutex_);
    return file_.Open(path, error) && CheckSize(path, error);
}

bool TImageTransport::Create(const std::string& path, uint32_t size, std::string& error) {
    std::lock_guard<std::mutex> lock(mutex_);
    return file_.Create(path, size, error) && CheckSize(path, error);
}

bool TImageTransport::Close(std::string& error) {
    std::lock_guard<std::mutex> lock(mutex_);
    return file_.Close(error);
}

bool TImageTransport::IsOpen() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return file_.IsOpen();
}

void TImageTransport::Attach(TFlash& flash) {
    flash_ = &flash;
    flash.FExchange = [this](uint8_t cmd, uint8_t lo, uint8_t hi, void* buffer) { return Exchange(cmd, lo, hi, buffer); };
}

TTransportResult TImageTransport::Exchange(uint8_t cmd, uint8_t sectorLo, uint8_t sectorHi, void* buffer) {
    // The notifications run outside the lock: they may wait for the
    // window's thread, which may be closing the image.
    if (cmd == cmdReadSector && OnReadSector) OnReadSector();
    if (cmd == cmdWriteSector && OnWriteSector) OnWriteSector();
    std::lock_guard<std::mutex> lock(mutex_);
    if (!file_.IsOpen()) return xrPortClosed;
    const uint32_t sector = static_cast<uint32_t>(sectorLo | (sectorHi << 8));
    const uint64_t at = static_cast<uint64_t>(sector) * SectorSize;
    auto* buf = static_cast<uint8_t*>(buffer);
    switch (cmd) {
        case cmdIdentify:
            if (flash_ != nullptr) flash_->FMediumSize = MediumSize();
            return xrOk;
        case cmdReadSector: {
            if (at + SectorSize > file_.Size()) return xrNoAnswer;
            if (!file_.ReadAt(at, buf, SectorSize, lastError_)) return xrNoAnswer;
            // Before the worker knows its sector size it takes the device's
            // whole answer payload (flashfs/transport.h): the rest is zero.
            if (flash_ != nullptr && flash_->FBytesPerSector == 0) std::memset(buf + SectorSize, 0, BootReadSize - SectorSize);
            return xrOk;
        }
        case cmdWriteSector:
            if (at + SectorSize > file_.Size()) return xrNoAnswer;
            return file_.WriteAt(at, buf, SectorSize, lastError_) ? xrOk : xrNoAnswer;
        default:
            return xrNoAnswer;
    }
}

TImageWorker::TImageWorker(TMessageTarget* window) {
    Image.Attach(*this);
    FWindow = window;
    Resume();
}

TImageWorker::~TImageWorker() {
    // The transport is a member: no exchange may run once it goes.
    Stop();
    std::string ignored;
    Image.Close(ignored);
}

}  // namespace skarvel
