// The program's main thread on Qt's event loop: serial events and the
// worker's notifications are handed to the GUI thread through it.
#pragma once

#include <QObject>

#include "core/sync.h"

namespace skarvel {

class TQtMainThread : public TMainThread {
public:
    // Must be created on the GUI thread; that thread is "the main thread".
    TQtMainThread();
    ~TQtMainThread() override;

    // Queues fn behind the events already waiting on the GUI thread.
    void Post(std::function<void()> fn) override;
    bool IsCurrent() const override;

private:
    // Receiver of the queued calls; calls still queued when it is destroyed
    // are dropped with it.
    QObject* context_;
};

}  // namespace skarvel
