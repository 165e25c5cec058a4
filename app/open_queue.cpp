// Files from the command line and from later starts, on their way into the
// window's list.
#include <QApplication>
#include <QTimer>
#include <QWidget>

#include "app/open_queue.h"
#include "ui/main_form.h"

namespace skarvel {

TOpenQueue::TOpenQueue(QObject* parent) : QObject(parent), retry_(new QTimer(this)) {
    retry_->setSingleShot(true);
    retry_->setInterval(RetryMs);
    connect(retry_, &QTimer::timeout, this, &TOpenQueue::Deliver);
}

void TOpenQueue::SetWindow(TForm1* window) {
    window_ = window;
    if (!waiting_.isEmpty()) QTimer::singleShot(0, this, &TOpenQueue::Deliver);
}

void TOpenQueue::Open(const QStringList& files, bool toFront) {
    if (toFront && window_) BringToFront(window_);
    if (files.isEmpty()) return;
    waiting_ += files;
    // Not from inside the caller: the window's boxes run loops of their own.
    QTimer::singleShot(0, this, &TOpenQueue::Deliver);
}

bool TOpenQueue::Deliver() {
    if (waiting_.isEmpty()) return true;
    // A dialog holds the window (and the user) until it closes: a box about
    // these files in the middle of it would answer the wrong question.
    if (window_ && window_->isVisible() && !QApplication::activeModalWidget()) {
        const QStringList files = waiting_;
        if (window_->DropFiles(files)) {
            waiting_.erase(waiting_.begin(), waiting_.begin() + files.size());
            // Files handed over while the boxes of these were shown wait for
            // the next turn.
            if (waiting_.isEmpty()) return true;
        }
    }
    retry_->start();
    return false;
}

void BringToFront(QWidget* window) {
    if (window->isMinimized()) window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
    window->show();
    window->raise();
    window->activateWindow();
    if (QWidget* modal = QApplication::activeModalWidget()) {
        modal->raise();
        modal->activateWindow();
    }
}

}  // namespace skarvel
