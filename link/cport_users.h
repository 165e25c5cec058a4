// The calls that are using an open port's device, for the platform
// backends. Closing marks the port closing (every later call is refused),
// wakes the calls in progress, waits until each has left, and only then
// releases the device: no call ever touches a released handle.
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>

#include "link/cport.h"

namespace skarvel::detail {

class TComUsers {
public:
    // False once the port is closing.
    bool Enter() {
        std::lock_guard<std::mutex> lock(mutex_);
        if (closing_) return false;
        ++busy_;
        return true;
    }
    void Leave() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            --busy_;
        }
        idle_.notify_all();
    }
    bool Closing() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return closing_;
    }

    // The first call runs wake (it must not wait for the users); every call
    // waits until no user is left; release runs once, after that. Both run
    // under the lock, so a second Close returns only once the device is gone.
    void Close(const std::function<void()>& wake, const std::function<void()>& release) {
        std::unique_lock<std::mutex> lock(mutex_);
        if (released_) return;
        if (!closing_) {
            closing_ = true;
            wake();
        }
        idle_.wait(lock, [this] { return busy_ == 0; });
        if (released_) return;
        release();
        released_ = true;
    }

    // One operation on the device: throws EComPort(code, ComErrorClosed)
    // when the port is closing.
    class TUse {
    public:
        TUse(TComUsers& users, TComError code) : users_(users) {
            if (!users_.Enter()) throw EComPort(code, ComErrorClosed);
        }
        ~TUse() { users_.Leave(); }
        TUse(const TUse&) = delete;
        TUse& operator=(const TUse&) = delete;

    private:
        TComUsers& users_;
    };

    // One wait on the device, which ends quietly when the port is closing:
    // Entered() is false then.
    class TWait {
    public:
        explicit TWait(TComUsers& users) : users_(users), entered_(users.Enter()) {}
        ~TWait() {
            if (entered_) users_.Leave();
        }
        TWait(const TWait&) = delete;
        TWait& operator=(const TWait&) = delete;
        bool Entered() const { return entered_; }

    private:
        TComUsers& users_;
        const bool entered_;
    };

private:
    mutable std::mutex mutex_;
    std::condition_variable idle_;
    int busy_ = 0;
    bool closing_ = false;
    bool released_ = false;
};

}  // namespace skarvel::detail
