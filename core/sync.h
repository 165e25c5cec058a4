// Small threading primitives shared by the device link and the flash file system.
//
// The link and the volume code run without Qt: the worker thread, its message
// queue, the answer event and the hand-over of serial events to the main thread
// are built from these classes. The GUI implements TMainThread on Qt's event
// loop; the command-line tools and the tests use TMainLoop.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace skarvel {

void SleepMs(unsigned ms);

// Milliseconds from a steady clock, for measuring quiet periods and time-outs.
uint64_t SteadyMs();

// An event with a timed wait: auto-reset (a successful wait clears it) or
// manual-reset (stays signalled until Reset).
class TEvent {
public:
    enum class WaitResult { Signaled, Timeout };

    explicit TEvent(bool manualReset = false, bool initialState = false);
    TEvent(const TEvent&) = delete;
    TEvent& operator=(const TEvent&) = delete;

    void Set();
    void Reset();
    // ms < 0 waits without a time-out.
    WaitResult Wait(int ms);
    bool IsSet() const;

private:
    const bool manual_;
    mutable std::mutex mutex_;
    std::condition_variable cond_;
    bool signaled_;
};

// A thread that is created suspended and starts when Resume is called.
// Derived classes implement Execute and must call Terminate and WaitFor in
// their own destructor (Execute cannot run once the derived part is gone).
class TThread {
public:
    TThread();
    virtual ~TThread();
    TThread(const TThread&) = delete;
    TThread& operator=(const TThread&) = delete;

    void Resume();                  // starts the thread once; later calls do nothing
    void Terminate() { terminated_.store(true); }
    bool Terminated() const { return terminated_.load(); }
    void WaitFor();                 // joins; safe to call twice or before Resume
    bool Started() const { return started_; }
    bool IsCurrent() const;         // true when called on this thread

protected:
    virtual void Execute() = 0;

private:
    std::atomic<bool> terminated_{false};
    bool started_ = false;
    std::thread thread_;
    std::atomic<std::thread::id> id_{};
};

// Window-message style values. Named apart from <windows.h>'s WM_QUIT,
// WM_USER and PostMessage, which are macros there.
constexpr uint32_t MsgQuit = 0x0012;
constexpr uint32_t MsgUser = 0x0400;

struct TMessage {
    uint32_t Msg = 0;
    uintptr_t WParam = 0;
    intptr_t LParam = 0;
};

// A thread's message queue: any thread posts, the owner takes them in order.
class TMessageQueue {
public:
    void Post(uint32_t msg, uintptr_t wParam, intptr_t lParam);
    TMessage Get();                         // blocks until a message is there
    bool TryGet(TMessage& out, int waitMs); // false on time-out
    size_t Size() const;

private:
    mutable std::mutex mutex_;
    std::condition_variable cond_;
    std::deque<TMessage> queue_;
};

// Receiver of posted completion messages (what a window handle is to the worker).
class TMessageTarget {
public:
    virtual ~TMessageTarget() = default;
    virtual void PostMsg(uint32_t msg, uintptr_t wParam, intptr_t lParam) = 0;
};

// "The main thread": where serial events are handled and windows live.
class TMainThread {
public:
    virtual ~TMainThread() = default;
    // Queue fn to run on the main thread; returns at once.
    virtual void Post(std::function<void()> fn) = 0;
    // True when the caller is the main thread.
    virtual bool IsCurrent() const = 0;

    // Runs fn on the main thread and waits until it has run. Called on the
    // main thread it runs fn at once. When *stop becomes true (or the main
    // thread stops taking calls) before fn has started, fn is abandoned, will
    // never run, and the result is false.
    bool Call(std::function<void()> fn, const std::atomic<bool>* stop = nullptr);

    // After Shutdown, Call abandons every call that has not started: a thread
    // waiting on the main thread can never hang once the main thread is
    // tearing things down.
    void Shutdown() { shutdown_.store(true); }
    bool IsShutdown() const { return shutdown_.load(); }

private:
    std::atomic<bool> shutdown_{false};
};

// A plain main loop for the command-line tools and the tests.
class TMainLoop : public TMainThread {
public:
    TMainLoop();  // the constructing thread is the main thread
    void Post(std::function<void()> fn) override;
    bool IsCurrent() const override;

    // Runs queued calls; waits up to waitMs for the first one. Returns the
    // number of calls run.
    int RunOnce(int waitMs);
    // Runs calls until pred() holds or timeoutMs has passed; returns pred().
    bool RunUntil(const std::function<bool()>& pred, int timeoutMs);
    // Runs calls for about ms milliseconds.
    void RunFor(int ms);

private:
    std::thread::id owner_;
    std::mutex mutex_;
    std::condition_variable cond_;
    std::deque<std::function<void()>> calls_;
};

}  // namespace skarvel
