// A medium image file as the flash worker's sector transport: it answers
// identify, read sector and write sector as the device does, from and to
// the file's sectors, so that every operation of the worker runs on an
// image exactly as on the device (the worker cannot tell the two apart).
// The image's size is the medium's size.
//
// TImageWorker is the worker on an image, as the device driver is the
// worker on the serial line.
//
// Threads: Exchange runs on the worker thread, and the notifications fire
// there; Open, Create and Close may run on another thread (the window's),
// and wait for an exchange under way to end: a lock guards the file.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "core/disk_file.h"
#include "flashfs/fs_flash.h"

namespace skarvel {

class TImageTransport {
public:
    // Opens an existing image for reading and writing (locked against other
    // programs that lock it, the simulator among them). False with the
    // reason in error for a file that is no image: its size is no whole
    // number of sectors, or more than 16-bit sector numbers reach.
    bool Open(const std::string& path, std::string& error);
    // Makes a new image of size bytes, all zero (an unformatted medium),
    // and opens it; fails when something exists under path.
    bool Create(const std::string& path, uint32_t size, std::string& error);
    // Flushes the image to the disk and closes it; false when the flush failed.
    bool Close(std::string& error);
    bool IsOpen() const;
    const std::string& Path() const { return path_; }
    uint32_t MediumSize() const { return static_cast<uint32_t>(file_.Size()); }

    // Makes this image the transport of flash (its FExchange); identify then
    // tells flash the image's size. The transport must outlive flash's use.
    void Attach(TFlash& flash);
    // The transport routine (flashfs/transport.h). A closed image answers
    // xrPortClosed; a sector beyond its end, or one the disk fails to move,
    // xrNoAnswer (LastError() then says what the disk said).
    TTransportResult Exchange(uint8_t cmd, uint8_t sectorLo, uint8_t sectorHi, void* buffer);
    std::string LastError() const { return lastError_; }

    // Fired before each read or write of a sector, as the driver fires its
    // own for each frame.
    std::function<void()> OnReadSector;
    std::function<void()> OnWriteSector;

private:
    bool CheckSize(const std::string& path, std::string& error);

    mutable std::mutex mutex_;
    TDiskFile file_;
    TFlash* flash_ = nullptr;
    std::string path_;
    std::string lastError_;
};

class TImageWorker : public TFlash {
public:
    // window: receiver of the completion messages. The worker thread starts
    // at once, idle until the first request; the image is opened later.
    explicit TImageWorker(TMessageTarget* window);
    ~TImageWorker() override;  // stops the worker, then closes the image

    TImageTransport Image;
};

}  // namespace skarvel
