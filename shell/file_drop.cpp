#include "shell/file_drop.h"

#include <QDragEnterEvent>
#include <QDragLeaveEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QSysInfo>
#include <QUrl>
#include <QWidget>

namespace skarvel {

namespace {

// Some file managers name the machine in their file URLs
// ("file://localhost/home/op/a.tnc"); such a URL is a local path all the same.
bool NamesThisMachine(const QString& host) {
    return host.isEmpty() || host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0 ||
           host.compare(QSysInfo::machineHostName(), Qt::CaseInsensitive) == 0;
}

// Copy is the one action this window performs with dropped files.
void Answer(QDropEvent* event, bool accept) {
    if (accept) {
        event->setDropAction(Qt::CopyAction);
        event->accept();
    } else {
        event->setDropAction(Qt::IgnoreAction);
        event->ignore();
    }
}

}  // namespace

QStringList LocalFilePaths(const QMimeData* data) {
    QStringList paths;
    if (!data || !data->hasUrls()) return paths;
    for (QUrl url : data->urls()) {
        if (!url.isLocalFile() || !NamesThisMachine(url.host())) return {};
        url.setHost(QString());
        // QUrl decodes the percent-escapes as UTF-8, the file names' own
        // encoding; nothing is cut.
        paths.append(url.toLocalFile());
    }
    return paths;
}

TFileDropAcceptor::TFileDropAcceptor(TDropHandler onDrop, TQueryAcceptHandler onQueryAccept, QObject* parent)
    : QObject(parent), OnDrop(std::move(onDrop)), OnQueryAccept(std::move(onQueryAccept)) {}

TFileDropAcceptor::~TFileDropAcceptor() { Revoke(); }

void TFileDropAcceptor::Register(QWidget* window) {
    Revoke();
    FWindow = window;
    window->setAcceptDrops(true);
    window->installEventFilter(this);
}

void TFileDropAcceptor::Revoke() {
    if (!FWindow) return;
    FWindow->removeEventFilter(this);
    FWindow->setAcceptDrops(false);
    FWindow = nullptr;
}

bool TFileDropAcceptor::eventFilter(QObject* watched, QEvent* event) {
    if (watched != FWindow) return false;
    switch (event->type()) {
        case QEvent::DragEnter: DragEnter(static_cast<QDragEnterEvent*>(event)); return true;
        case QEvent::DragMove: DragOver(static_cast<QDragMoveEvent*>(event)); return true;
        case QEvent::DragLeave: DragLeave(); return true;
        case QEvent::Drop: Drop(static_cast<QDropEvent*>(event)); return true;
        default: return false;
    }
}

void TFileDropAcceptor::DragEnter(QDragEnterEvent* event) {
    DroppedFiles = LocalFilePaths(event->mimeData());
    bool accept = !DroppedFiles.isEmpty();
    if (accept && OnQueryAccept) OnQueryAccept(this, DroppedFiles, accept);
    if (!accept) DroppedFiles.clear();
    Answer(event, accept);
}

void TFileDropAcceptor::DragOver(QDragMoveEvent* event) { Answer(event, !DroppedFiles.isEmpty()); }

void TFileDropAcceptor::DragLeave() {
    // The paths stay until the next drag enters.
}

void TFileDropAcceptor::Drop(QDropEvent* event) {
    if (!OnDrop || DroppedFiles.isEmpty()) {
        Answer(event, false);
        return;
    }
    Answer(event, true);
    QMetaObject::invokeMethod(
        this, [this, files = DroppedFiles] {
            if (OnDrop) OnDrop(this, files);
        },
        Qt::QueuedConnection);
}

}  // namespace skarvel
