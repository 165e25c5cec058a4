// What a drag-out of the file list hands to the desktop: TDataObject carries
// whole PC paths as local-file URLs ("text/uri-list", the list every file
// manager takes; on Windows Qt renders it as the platform's file-drop list),
// and TFileSource runs the drag with copy as the only action. The receiving
// program copies the files itself, so they must exist when it asks: the
// window stages the medium's files before it starts the drag.
//
// Threads: GUI thread only. Qt runs the drag loop on it and asks the data
// object for its data there, also after DoDragDrop has returned (an X11
// target fetches the list once the drop has been sent).
#pragma once

#include <QMimeData>
#include <QPoint>
#include <QStringList>
#include <functional>

class QWidget;

namespace skarvel {

class TDataObject : public QMimeData {
    Q_OBJECT
public:
    // Files, and how many times the list has been rendered before this one.
    using TGetDataHandler = std::function<void(const QStringList& files, int renderCount)>;
    using TReleaseHandler = std::function<void(const QStringList& files)>;

    TDataObject(const QStringList& files, bool inNonClient, QPoint dropPoint, TGetDataHandler onGetData,
                TReleaseHandler onRelease);
    // Calls OnRelease with Files.
    ~TDataObject() override;

    const QStringList Files;  // whole PC paths, in the order they are offered
    TGetDataHandler OnGetData;
    TReleaseHandler OnRelease;
    // Renderings of the URL list so far: every request of a receiving program
    // renders it afresh.
    mutable int RenderCount = 0;
    // Kept for the window's use; Qt's drop protocols carry no drop point or
    // non-client flag of the source.
    QPoint DropPoint;
    bool InNonClient;

protected:
    QVariant retrieveData(const QString& mimeType, QMetaType type) const override;
};

// The drag source: Esc cancels the drag, releasing the button drops, and the
// platform's own cursors show whether the target takes the files.
class TFileSource {
public:
    static constexpr Qt::DropActions AllowedEffects = Qt::CopyAction;

    // source: the widget the drag starts from.
    explicit TFileSource(QWidget* source);

    // Told each time the target under the pointer changes its answer
    // (Qt::CopyAction: it takes the files; Qt::IgnoreAction: no drop). The
    // cursors stay the platform's whatever it does.
    std::function<void(Qt::DropAction action)> OnGiveFeedback;

    // Runs the drag until the files are dropped or the drag is cancelled and
    // returns Qt::CopyAction when a target took them, else
    // Qt::IgnoreAction. Qt owns data from here on and frees it (which calls
    // OnRelease) once the target is done with it. When the left button is no
    // longer held (let go during the staging) no drag starts: data is freed at
    // once and the result is Qt::IgnoreAction.
    Qt::DropAction DoDragDrop(TDataObject* data);

private:
    QWidget* FSource;
};

}  // namespace skarvel
