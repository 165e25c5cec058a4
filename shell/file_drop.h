// The main window's drop target: files dragged from the desktop (a file
// manager, the desktop itself) and dropped anywhere on the window are handed
// to the window, which queues them for writing to the medium.
//
// The acceptor reads the paths when a drag enters, asks the window whether
// it takes them (it refuses while a drag-out of its own list runs), answers
// every move with the copy action or with "no drop", and on a drop hands the
// paths over. Only local files count: a drag of text, a picture or remote
// URLs shows the no-drop cursor and a drop of it does nothing.
//
// Use: create it with the two handlers, then Register(window). Qt delivers a
// drag to the widget under the pointer that accepts drops, or to its nearest
// such ancestor, the window at last; none of the main window's parts (list,
// tool bars, status line) takes drops of its own, so Register makes the
// window accept them and a drop lands on any part alike. A widget that
// accepts drops itself keeps them, and so do other top-level windows.
//
// Threads: GUI thread only; Qt delivers every drag event there.
#pragma once

#include <QObject>
#include <QPointer>
#include <QStringList>
#include <functional>

class QDragEnterEvent;
class QDragMoveEvent;
class QDropEvent;
class QMimeData;
class QWidget;

namespace skarvel {

class TFileDropAcceptor : public QObject {
    Q_OBJECT
public:
    using TDropHandler = std::function<void(TFileDropAcceptor* sender, const QStringList& files)>;
    using TQueryAcceptHandler =
        std::function<void(TFileDropAcceptor* sender, const QStringList& files, bool& accept)>;

    TFileDropAcceptor(TDropHandler onDrop, TQueryAcceptHandler onQueryAccept, QObject* parent = nullptr);
    ~TFileDropAcceptor() override;

    // The whole local paths read at the last drag entry, in the source's
    // order; emptied when the window refused them. Kept until the next entry.
    QStringList DroppedFiles;
    // Called with the paths of a drop, from the event loop right after the
    // drop has been answered: a message box it shows does not keep the
    // source program waiting for the end of its drag.
    TDropHandler OnDrop;
    // Asked at every drag entry whether the paths may be taken; starts true.
    TQueryAcceptHandler OnQueryAccept;

    // Takes the drops of window (an event filter on it); one window at a time
    // (a second call moves the acceptor).
    void Register(QWidget* window);
    // Gives the drops back; the destructor does it too.
    void Revoke();

    // The drag events, as Register routes them (tests send them directly).
    void DragEnter(QDragEnterEvent* event);
    void DragOver(QDragMoveEvent* event);
    void DragLeave();
    void Drop(QDropEvent* event);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QPointer<QWidget> FWindow;
};

// The local files a drag carries, as whole paths in the source's order; empty
// when it carries no URL list or any entry that is not a local file (a drag
// that mixes remote URLs in is not taken in part).
QStringList LocalFilePaths(const QMimeData* data);

}  // namespace skarvel
