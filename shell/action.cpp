#include "shell/action.h"

#include <QAction>
#include <QKeySequence>
#include <QWidget>

namespace skarvel {

QAction* MakeAction(QWidget* owner, const QString& caption, const QString& hint, const QStringList& keys,
                    const QIcon& icon) {
    auto* action = new QAction(caption, owner);
    if (!hint.isEmpty()) action->setToolTip(hint);
    QList<QKeySequence> shortcuts;
    for (const QString& k : keys) shortcuts << QKeySequence(k);
    action->setShortcuts(shortcuts);
    action->setShortcutContext(Qt::WindowShortcut);
    action->setIcon(icon);
    owner->addAction(action);
    return action;
}

}  // namespace skarvel
