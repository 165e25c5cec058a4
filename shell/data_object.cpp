#include "shell/data_object.h"

#include <QDrag>
#include <QGuiApplication>
#include <QUrl>
#include <QWidget>

namespace skarvel {

namespace {

QList<QUrl> LocalFileUrls(const QStringList& files) {
    QList<QUrl> urls;
    urls.reserve(files.size());
    for (const QString& path : files) urls.append(QUrl::fromLocalFile(path));
    return urls;
}

}  // namespace

TDataObject::TDataObject(const QStringList& files, bool inNonClient, QPoint dropPoint,
                         TGetDataHandler onGetData, TReleaseHandler onRelease)
    : Files(files),
      OnGetData(std::move(onGetData)),
      OnRelease(std::move(onRelease)),
      DropPoint(dropPoint),
      InNonClient(inNonClient) {
    setUrls(LocalFileUrls(Files));
}

TDataObject::~TDataObject() {
    if (OnRelease) OnRelease(Files);
}

QVariant TDataObject::retrieveData(const QString& mimeType, QMetaType type) const {
    if (mimeType == QLatin1String("text/uri-list")) {
        if (OnGetData) OnGetData(Files, RenderCount);
        ++RenderCount;
    }
    return QMimeData::retrieveData(mimeType, type);
}

TFileSource::TFileSource(QWidget* source) : FSource(source) {}

Qt::DropAction TFileSource::DoDragDrop(TDataObject* data) {
    // The button may have been let go while the medium's files were staged:
    // a drag started now would follow the pointer until the next click, where
    // the desktop's own loop would have dropped at once.
    if (!(QGuiApplication::mouseButtons() & Qt::LeftButton)) {
        delete data;
        return Qt::IgnoreAction;
    }
    // Deleted by Qt when the drag is over, and with it the data.
    auto* drag = new QDrag(FSource);
    drag->setMimeData(data);
    if (OnGiveFeedback) QObject::connect(drag, &QDrag::actionChanged, drag, OnGiveFeedback);
    // No cursor of its own: the platform's copy and no-drop cursors. Esc
    // cancels and the button's release drops: that is Qt's drag loop.
    return drag->exec(AllowedEffects, Qt::CopyAction);
}

}  // namespace skarvel
