// Tells when serial ports come and go: a USB adapter plugged in or pulled.
// On Linux a udev monitor on a thread of its own (port_watch_linux.cpp);
// Windows has no watch (port_watch_win.cpp), and there the window's link
// check alone finds a port that has come back.
//
// Threads: the watch's thread only waits for the system's events and hands
// each one to the main thread (TMainThread::Post), where OnChange runs.
// Start and destroy the watch on the main thread; once it is destroyed
// OnChange is not called again, not even for an event already handed over.
#pragma once

#include <functional>
#include <memory>

#include "core/sync.h"
#include "link/port_enum.h"

namespace skarvel {

struct TPortChange {
    bool Added = false;  // false: the port has gone
    // The port as the system described it in the event. Of a port that
    // has gone only its names and udev's facts are known.
    TPortInfo Port;
};

using TPortChangeFn = std::function<void(const TPortChange& change)>;

class TPortWatch {
public:
    virtual ~TPortWatch() = default;
    // A running watch, or null where the system offers none (no udev
    // events to listen to: another system, or no netlink socket allowed).
    static std::unique_ptr<TPortWatch> Start(TMainThread* main, TPortChangeFn onChange);

protected:
    TPortWatch() = default;
};

}  // namespace skarvel
