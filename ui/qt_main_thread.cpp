#include "ui/qt_main_thread.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>

namespace skarvel {

TQtMainThread::TQtMainThread() : context_(new QObject) {}

TQtMainThread::~TQtMainThread() {
    Shutdown();
    delete context_;
}

void TQtMainThread::Post(std::function<void()> fn) {
    QMetaObject::invokeMethod(
        context_, [fn = std::move(fn)] { fn(); }, Qt::QueuedConnection);
}

bool TQtMainThread::IsCurrent() const { return QThread::currentThread() == context_->thread(); }

}  // namespace skarvel
