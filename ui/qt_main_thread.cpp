#include "ui/qt_main_thread.h"

#include <QCoreApplication>
#include <QEvent>
#include <QThread>

namespace skarvel {

namespace {

QEvent::Type DrainEvent() {
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

}  // namespace

class TQtMainThread::TReceiver : public QObject {
public:
    explicit TReceiver(TQtMainThread* owner) : owner_(owner) {}
    bool event(QEvent* e) override {
        if (e->type() != DrainEvent()) return QObject::event(e);
        owner_->Drain();
        return true;
    }

private:
    TQtMainThread* owner_;
};

TQtMainThread::TQtMainThread() : receiver_(new TReceiver(this)) {}

TQtMainThread::~TQtMainThread() {
    Shutdown();
    delete receiver_;  // removes a drain event still queued
}

void TQtMainThread::Post(std::function<void()> fn) {
    bool wake = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        calls_.push_back(std::move(fn));
        wake = !drainPosted_;
        drainPosted_ = true;
    }
    if (wake) QCoreApplication::postEvent(receiver_, new QEvent(DrainEvent()));
}

void TQtMainThread::Drain() {
    for (;;) {
        std::function<void()> fn;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (calls_.empty()) {
                drainPosted_ = false;
                return;
            }
            fn = std::move(calls_.front());
            calls_.pop_front();
        }
        fn();
    }
}

bool TQtMainThread::IsCurrent() const { return QThread::currentThread() == receiver_->thread(); }

}  // namespace skarvel
