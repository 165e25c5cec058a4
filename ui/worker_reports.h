// What the worker thread reports to the window while it runs a request:
// sector activity (the access lamp and the operation for the status line)
// and the progress of an operation with a progress window (a file started,
// sectors moved, the end). Reports are collected under a lock and handed to
// the GUI thread in batches. The worker asks for a queued call only when the
// GUI is not taking batches already; the GUI keeps taking them at its own
// pace while reports come, and gives the hand-over back once a take finds
// nothing. So a burst of sectors costs the worker no wake-up of the GUI
// thread and the GUI a few updates a second. Progress reports keep their
// order, consecutive steps merged into one count, so the bars end exactly
// where the sector count ends.
//
// Threads: the reporting functions are called on the worker thread, Take
// and Release on the GUI thread; both sides go through the lock.
#pragma once

#include <QString>
#include <cstdint>
#include <mutex>
#include <vector>

#include "ui/lamps.h"

namespace skarvel {

struct TProgressReport {
    enum Kind : uint8_t { Step, FileStart, Finish };
    Kind What = Step;
    uint32_t Job = 0;   // the request it belongs to
    int Count = 0;      // Step: sectors; FileStart: the file's expected sectors
    QString Text;       // FileStart: the caption of the file
};

struct TReportBatch {
    bool Sector = false;  // at least one sector frame since the last batch
    TLamp Lamp = lampBlack;  // of the latest sector frame
    uint8_t Op = 0;       // the worker's operation at the latest sector frame
    std::vector<TProgressReport> Progress;
    bool Empty() const { return !Sector && Progress.empty(); }
};

class TWorkerReports {
public:
    // Worker thread. Each returns true when the caller has to hand a call
    // to the GUI thread that takes the batch.
    bool Sector(TLamp lamp, uint8_t op);
    bool Step(uint32_t job);
    bool StartFile(uint32_t job, int total, const QString& text);
    bool Finish(uint32_t job);

    // GUI thread: everything reported since the last Take. The GUI thread
    // keeps the hand-over: the worker asks for no call until Release.
    TReportBatch Take();
    // GUI thread: gives the hand-over back when nothing has come since the
    // last Take (true); otherwise the GUI has to take again (false).
    bool Release();

private:
    bool Added();  // with the lock held

    std::mutex mutex_;
    TReportBatch pending_;
    bool handedOver_ = false;  // a call to take the batch is on its way
};

}  // namespace skarvel
