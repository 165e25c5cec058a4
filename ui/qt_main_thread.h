// The program's main thread on Qt's event loop: serial events and the
// worker's notifications are handed to the GUI thread through it.
//
// Calls go into a queue of their own, and one Qt event drains it: a burst of
// received bytes costs the GUI thread one wake-up, not one per call. Calls
// run in the order they were posted. Threads: Post from any thread; the
// calls run on the thread that created the object.
#pragma once

#include <QObject>
#include <deque>
#include <mutex>

#include "core/sync.h"

namespace skarvel {

class TQtMainThread : public TMainThread {
public:
    // Must be created on the GUI thread; that thread is "the main thread".
    TQtMainThread();
    // Calls still queued are dropped.
    ~TQtMainThread() override;

    void Post(std::function<void()> fn) override;
    bool IsCurrent() const override;

private:
    class TReceiver;
    void Drain();

    TReceiver* receiver_;
    std::mutex mutex_;
    std::deque<std::function<void()>> calls_;
    bool drainPosted_ = false;  // an event to drain the queue is on its way
};

}  // namespace skarvel
