// The port watch on Linux: a udev monitor for the tty subsystem. udev
// announces a device once it has made its links and set its rights, so a
// port announced as added can be opened by any of its names at once.
#include <fcntl.h>
#include <libudev.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "link/port_enum_linux.h"
#include "link/port_watch.h"

namespace skarvel {

namespace {

// What the watch's thread and the calls it posts share: the receiver, which
// only the main thread calls or forgets.
struct TReceiver {
    TPortChangeFn OnChange;
    bool Gone = false;
};

class TUdevPortWatch final : public TPortWatch, private TThread {
public:
    TUdevPortWatch(TMainThread* main, TPortChangeFn onChange, TUdev u, udev_monitor* monitor, int wakeRead,
                   int wakeWrite)
        : main_(main),
          receiver_(std::make_shared<TReceiver>()),
          udev_(std::move(u)),
          monitor_(monitor),
          wakeRead_(wakeRead),
          wakeWrite_(wakeWrite) {
        receiver_->OnChange = std::move(onChange);
        Resume();
    }

    ~TUdevPortWatch() override {
        receiver_->Gone = true;  // calls already posted find it gone
        Terminate();
        const char byte = 0;
        while (write(wakeWrite_, &byte, 1) < 0 && errno == EINTR) {}
        WaitFor();
        udev_monitor_unref(monitor_);
        close(wakeRead_);
        close(wakeWrite_);
    }

private:
    void Execute() override {
        pollfd fds[2] = {{udev_monitor_get_fd(monitor_), POLLIN, 0}, {wakeRead_, POLLIN, 0}};
        while (!Terminated()) {
            if (poll(fds, 2, -1) < 0) {
                if (errno == EINTR) continue;
                return;
            }
            if (fds[1].revents != 0) return;
            if (fds[0].revents & POLLIN) Take();
            if (fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) return;
        }
    }

    // One event from the monitor; nothing when the monitor has none after
    // all (a message that was not udev's, a buffer that ran over).
    void Take() {
        udev_device* d = udev_monitor_receive_device(monitor_);
        if (!d) return;
        const char* action = udev_device_get_action(d);
        TPortChange change;
        change.Added = action && std::strcmp(action, "add") == 0;
        const bool removed = action && std::strcmp(action, "remove") == 0;
        // A device that has gone cannot be looked at in sysfs any more:
        // whatever it was, those who had it open must hear of it.
        if (removed || (change.Added && IsSerialPort(d))) {
            change.Port = PortInfoOf(d);
            Post(std::move(change));
        }
        udev_device_unref(d);
    }

    void Post(TPortChange change) {
        main_->Post([receiver = receiver_, change = std::move(change)] {
            if (!receiver->Gone && receiver->OnChange) receiver->OnChange(change);
        });
    }

    TMainThread* main_;
    std::shared_ptr<TReceiver> receiver_;
    TUdev udev_;
    udev_monitor* monitor_;
    const int wakeRead_, wakeWrite_;
};

}  // namespace

std::unique_ptr<TPortWatch> TPortWatch::Start(TMainThread* main, TPortChangeFn onChange) {
    TUdev u = NewUdev();
    if (!u) return nullptr;
    udev_monitor* monitor = udev_monitor_new_from_netlink(u.get(), "udev");
    if (!monitor) return nullptr;
    if (udev_monitor_filter_add_match_subsystem_devtype(monitor, "tty", nullptr) < 0 ||
        udev_monitor_enable_receiving(monitor) < 0) {
        udev_monitor_unref(monitor);
        return nullptr;
    }
    int wake[2];
    if (pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0) {
        udev_monitor_unref(monitor);
        return nullptr;
    }
    return std::make_unique<TUdevPortWatch>(main, std::move(onChange), std::move(u), monitor, wake[0], wake[1]);
}

}  // namespace skarvel
