#include "ui/file_dialog_fit.h"

#include <QFileDialog>
#include <QFontMetrics>
#include <QHeaderView>
#include <QTreeView>
#include <algorithm>

namespace skarvel {

void FitFileDialog(QFileDialog& dialog) {
    dialog.setViewMode(QFileDialog::Detail);
    auto* view = dialog.findChild<QTreeView*>(QStringLiteral("treeView"));
    if (!view) return;
    // The dialog gives the size column the width of a short sample text
    // without the cell's margins, which cuts "300 KiB"; each of size, type and
    // date follows its widest text instead, the name stretches.
    QHeaderView* header = view->header();
    header->setStretchLastSection(false);
    header->setSectionResizeMode(0, QHeaderView::Stretch);
    for (int column = 1; column < 4; ++column) header->setSectionResizeMode(column, QHeaderView::ResizeToContents);
    // Room for the folders at the side and a name of some length beside them.
    const QFontMetrics fm(view->font());
    dialog.resize(std::max(dialog.width(), fm.averageCharWidth() * 110), std::max(dialog.height(), fm.height() * 28));
}

}  // namespace skarvel
