#include "shell/drag_rules.h"

#include <QDir>

#include "shell/folder_logic.h"

namespace skarvel {

bool DragOutStarts(QPoint press, QPoint pos) {
    if (press.x() == -1 || press.y() == -1) return false;
    return qAbs(pos.x() - press.x()) + qAbs(pos.y() - press.y()) >= 2;
}

QString StagingFolder() {
    QString folder = qEnvironmentVariable("TEMP");
    if (folder.isEmpty()) folder = qEnvironmentVariable("TMPDIR");
    if (folder.isEmpty()) folder = QDir::tempPath();
    if (QDir::isRelativePath(folder)) folder = QDir::current().absoluteFilePath(folder);
    return NativeFolderPath(folder);
}

}  // namespace skarvel
