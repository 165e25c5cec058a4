// The command-line client's engine: one flash worker, a plain main loop on
// the calling thread that runs the receive side, and blocking calls that
// post a request and wait for its completion while the loop runs. The
// worker is the device driver on the serial port, or, for --image, a worker
// whose transport is a medium image file (flashfs/image_transport.h): the
// commands see only the worker, and work on either alike.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/journal.h"
#include "core/sync.h"
#include "flashfs/image_transport.h"
#include "link/zvt_drv.h"

namespace skarvel {

struct TZvtFile {
    std::string Name;  // displayed name, code page 1251 (MediumNameToUtf8 shows it)
    uint32_t Size = 0;
};

// Where the client's sectors go.
enum class TClientLine : uint8_t { Port, Image };

class TZvtClient : public TMessageTarget {
public:
    explicit TZvtClient(TClientLine line = TClientLine::Port);
    ~TZvtClient() override;

    // Opens the port; false with a message in Error() when it cannot. The
    // first request waits until the line has been quiet (the driver's quiet
    // rule), so that an answer meant for a program that used the line
    // before is never taken.
    bool Open(const std::string& port, uint32_t baud);
    // Opens the medium image file at path (an image client); create makes a
    // blank medium of the device's size when nothing is there. False with a
    // message in Error() when it cannot.
    bool OpenImage(const std::string& path, bool create);
    // Closes the port, after the line has settled when the last exchange
    // resent or gave up: its answer may still come, and must not reach the
    // program that opens the port next.
    void Close();

    // Each returns the worker's error code (0 success).
    TFlashError Init();                                     // identify and mount
    TFlashError Format();
    TFlashError List(std::vector<TZvtFile>& files);         // an empty medium counts as success
    TFlashError Save(const std::string& name, const std::vector<uint8_t>& data);
    // Writes data as the new contents of the existing file name, the old
    // contents whole until the new ones are (TFlash::ReplaceFile).
    TFlashError Replace(const std::string& name, const std::vector<uint8_t>& data);
    TFlashError Load(const std::string& name, uint32_t size, std::vector<uint8_t>& data);
    // Loads the file with the size its entry records (one directory read:
    // no lookup of the size first).
    TFlashError LoadWhole(const std::string& name, std::vector<uint8_t>& data);
    TFlashError Delete(const std::string& name);
    TFlashError Attr(const std::string& name, uint32_t& size);  // size of the entry a load would read
    // Reads the file name back from the medium and compares it with data,
    // size and bytes. Returns the error code of the lookup or the load (the
    // file could not be read back), else 0 with same telling the outcome.
    TFlashError Verify(const std::string& name, const std::vector<uint8_t>& data, bool& same);

    // Runs one request and waits for its completion.
    TFlashError Run(uint8_t op, void* param);
    // Runs fn on the worker thread as one request, between the others, and
    // waits for it; fn's result is the request's error code.
    TFlashError RunOnWorker(const std::function<TFlashError(TFlash&)>& fn);

    // What a failed Init (code) tells the user: for a device that answered
    // with a code of its own, that code and the ZVT's.
    std::string InitFailureText(uint8_t code) const;

    // The worker, on the port or on the image.
    TFlash& Worker() { return *worker_; }
    // The device driver of a port client (tests set its time-outs).
    TZVT_drv& Driver() { return *driver_; }
    // The line as the journal names it: the port, or "образ " and the image.
    std::string LineName() const;
    // The transfer journal (DefaultJournalPath); a failed append warns once
    // on stderr.
    TJournal& Journal() { return *journal_; }
    TMainLoop& Loop() { return loop_; }
    const std::string& Error() const { return error_; }

    // Free clusters in the mounted volume's FAT image.
    uint32_t FreeClusters() const;
    uint32_t DataClusters() const;

    // Called on the main loop about ten times a second while a request runs.
    std::function<void()> OnTick;
    // Asked on the main loop while a request runs and before each one: true
    // once the run is to stop (an interrupt). The request under way is then
    // aborted at its next cluster, and further requests end at once with
    // feAborted.
    std::function<bool()> StopRequested;
    // Sector frames sent since the current request started (resends included).
    std::atomic<uint32_t> SectorFrames{0};

    // TMessageTarget: completion messages from the worker.
    void PostMsg(uint32_t msg, uintptr_t wParam, intptr_t lParam) override;

private:
    TFlashError RunRequest(uint8_t op, void* param);

    TMainLoop loop_;
    std::unique_ptr<TZVT_drv> driver_;       // a port client's
    std::unique_ptr<TImageWorker> image_;    // an image client's
    TFlash* worker_ = nullptr;               // whichever of the two
    std::unique_ptr<TJournal> journal_;
    std::atomic<bool> done_{false};
    std::atomic<uint8_t> result_{0};
    std::string error_;
};

// Baud rate enumeration value for a rate in bits per second (brCustom when
// the rate is not one of the list).
TBaudRate BaudRateFor(uint32_t rate);


// Text of a worker error code (UTF-8).
std::string ErrorText(uint8_t code);

// True for the errors after which no further file can be moved: the link
// or the device failed, the medium is not mounted, or the user aborted.
// False for the failures of one file (its name, its size, no room for it).
bool IsLinkFailure(uint8_t code);

}  // namespace skarvel
