// Files that reach the window from outside it, the command line's and those
// a later start hands over: they wait here until the window takes them as it
// takes a drop, with the same checks and messages (a folder, an unreadable
// path). The window takes none while it refuses drops (a transfer's progress
// window, a drag-out) or while any dialog is open; they are added once it is
// idle again, in the order they came.
//
// GUI thread only: the queue, its timer and the window pointer.
#pragma once

#include <QObject>
#include <QPointer>
#include <QStringList>

class QTimer;
class QWidget;

namespace skarvel {

class TForm1;

class TOpenQueue : public QObject {
    Q_OBJECT
public:
    explicit TOpenQueue(QObject* parent = nullptr);

    // The window, once it exists; files that came before wait for it.
    void SetWindow(TForm1* window);
    // Queues files and adds them at the next turn of the event loop, or as
    // soon as the window takes them. toFront: the window (or the dialog it
    // has open) comes to the front first, also when files is empty.
    void Open(const QStringList& files, bool toFront);
    // Gives the waiting files to the window now if it takes them; true when
    // none are left waiting. Runs again on its own while files wait.
    bool Deliver();
    const QStringList& Waiting() const { return waiting_; }

    // How often a window that is busy is asked again.
    static constexpr int RetryMs = 250;

private:
    QPointer<TForm1> window_;
    QStringList waiting_;
    QTimer* retry_;
};

// Shows window in front of the others and gives it the focus: restored when
// minimised; a modal dialog it has open comes up above it.
void BringToFront(QWidget* window);

}  // namespace skarvel
