// The actions of the program's windows, made one way: the main window's
// commands and the folder dialog's buttons alike. GUI thread.
#pragma once

#include <QIcon>
#include <QString>
#include <QStringList>

class QAction;
class QWidget;

namespace skarvel {

// An action of owner's window, owned by owner: caption, tool tip (none when
// hint is empty), its keys in QKeySequence's portable text (the first one is
// shown in menus) and icon. The keys work anywhere in owner's window, not
// only where the action is shown.
QAction* MakeAction(QWidget* owner, const QString& caption, const QString& hint, const QStringList& keys,
                    const QIcon& icon = QIcon());

}  // namespace skarvel
