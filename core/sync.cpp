#include "core/sync.h"

#include "core/deadline.h"
#include "core/thread_tune.h"

namespace skarvel {

void SleepMs(unsigned ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

uint64_t SteadyMs() {
    using namespace std::chrono;
    return static_cast<uint64_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

// ---------------------------------------------------------------- TEvent

TEvent::TEvent(bool manualReset, bool initialState)
    : manual_(manualReset), signaled_(initialState) {}

void TEvent::Set() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        signaled_ = true;
    }
    if (manual_)
        cond_.notify_all();
    else
        cond_.notify_one();
}

void TEvent::Reset() {
    std::lock_guard<std::mutex> lock(mutex_);
    signaled_ = false;
}

bool TEvent::IsSet() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return signaled_;
}

TEvent::WaitResult TEvent::Wait(int ms) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (ms < 0) {
        cond_.wait(lock, [this] { return signaled_; });
    } else if (!cond_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return signaled_; })) {
        return WaitResult::Timeout;
    }
    if (!manual_) signaled_ = false;
    return WaitResult::Signaled;
}

// ---------------------------------------------------------------- TThread

TThread::TThread() = default;

TThread::~TThread() {
    // A derived class should have joined already; never leave a joinable
    // std::thread behind (that would end the process).
    Terminate();
    WaitFor();
}

void TThread::Resume() {
    if (started_) return;
    started_ = true;
    thread_ = std::thread([this] {
        id_.store(std::this_thread::get_id());
        TuneThisThread();
        Execute();
    });
}

void TThread::WaitFor() {
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

bool TThread::IsCurrent() const {
    return started_ && id_.load() == std::this_thread::get_id();
}

// ---------------------------------------------------------------- TMessageQueue

void TMessageQueue::Post(uint32_t msg, uintptr_t wParam, intptr_t lParam) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        queue_.push_back(TMessage{msg, wParam, lParam});
    }
    cond_.notify_one();
}

TMessage TMessageQueue::Get() {
    std::unique_lock<std::mutex> lock(mutex_);
    cond_.wait(lock, [this] { return !queue_.empty(); });
    TMessage m = queue_.front();
    queue_.pop_front();
    return m;
}

bool TMessageQueue::TryGet(TMessage& out, int waitMs) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!cond_.wait_for(lock, std::chrono::milliseconds(waitMs < 0 ? 0 : waitMs),
                        [this] { return !queue_.empty(); }))
        return false;
    out = queue_.front();
    queue_.pop_front();
    return true;
}

size_t TMessageQueue::Size() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return queue_.size();
}

// ---------------------------------------------------------------- TMainThread

namespace {
struct CallState {
    std::mutex mutex;
    std::condition_variable cond;
    bool started = false;
    bool done = false;
    bool abandoned = false;
};
}  // namespace

bool TMainThread::Call(std::function<void()> fn, const std::atomic<bool>* stop) {
    if (IsCurrent()) {
        fn();
        return true;
    }
    auto state = std::make_shared<CallState>();
    Post([state, fn = std::move(fn)] {
        {
            std::lock_guard<std::mutex> lock(state->mutex);
            if (state->abandoned) return;
            state->started = true;
        }
        fn();
        {
            std::lock_guard<std::mutex> lock(state->mutex);
            state->done = true;
        }
        state->cond.notify_all();
    });
    std::unique_lock<std::mutex> lock(state->mutex);
    for (;;) {
        if (state->done) return true;
        if (!state->started && ((stop && stop->load()) || IsShutdown())) {
            state->abandoned = true;
            return false;
        }
        // Slices keep the stop flag observed without a second notification path.
        state->cond.wait_for(lock, std::chrono::milliseconds(10));
    }
}

// ---------------------------------------------------------------- TMainLoop

TMainLoop::TMainLoop() : owner_(std::this_thread::get_id()) {}

void TMainLoop::Post(std::function<void()> fn) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        calls_.push_back(std::move(fn));
    }
    cond_.notify_one();
}

bool TMainLoop::IsCurrent() const { return std::this_thread::get_id() == owner_; }

int TMainLoop::RunOnce(int waitMs) {
    std::deque<std::function<void()>> batch;
    {
        std::unique_lock<std::mutex> lock(mutex_);
        if (waitMs > 0)
            cond_.wait_for(lock, std::chrono::milliseconds(waitMs), [this] { return !calls_.empty(); });
        batch.swap(calls_);
    }
    int n = 0;
    for (auto& fn : batch) {
        fn();
        ++n;
    }
    return n;
}

bool TMainLoop::RunUntil(const std::function<bool()>& pred, int timeoutMs) {
    const TDeadline deadline(timeoutMs < 0 ? 0 : timeoutMs);
    while (!pred()) {
        if (deadline.Expired()) return pred();
        RunOnce(deadline.RemainingMs(20));
    }
    return true;
}

void TMainLoop::RunFor(int ms) {
    for (const TDeadline deadline(ms < 0 ? 0 : ms); !deadline.Expired();) RunOnce(deadline.RemainingMs(20));
}

}  // namespace skarvel
