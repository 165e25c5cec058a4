#include "ui/file_list_view.h"

#include <QHeaderView>
#include <QScrollBar>
#include <QStandardItemModel>
#include <algorithm>

namespace skarvel {

QString ListColumnTitle(int column) {
    switch (column) {
        case colName: return QStringLiteral("Имя");
        case colSize: return QStringLiteral("Размер");
        case colPlace: return QStringLiteral("Где");
        case colCompare: return QStringLiteral("Сравнение");
        default: return QString();
    }
}

TFileListView::TFileListView(QWidget* parent) : QListWidget(parent) {
    // The header has no rows of its own: a model of columns only.
    headerModel_ = new QStandardItemModel(0, ListColumnCount, this);
    for (int c = 0; c < ListColumnCount; ++c)
        headerModel_->setHorizontalHeaderItem(c, new QStandardItem(ListColumnTitle(c)));
    header_ = new QHeaderView(Qt::Horizontal, this);
    header_->setModel(headerModel_);
    header_->setSectionsClickable(true);
    header_->setSectionResizeMode(QHeaderView::Interactive);
    header_->setStretchLastSection(true);
    header_->setSortIndicatorShown(false);
    header_->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    header_->setFocusPolicy(Qt::NoFocus);
    SetInitialWidths();

    // The first click on a column sorts it ascending, the next one turns
    // the order round.
    connect(header_, &QHeaderView::sectionClicked, this, [this](int column) {
        const Qt::SortOrder order = column == sortColumn_ && sortOrder_ == Qt::AscendingOrder ? Qt::DescendingOrder
                                                                                              : Qt::AscendingOrder;
        emit SortRequested(column, order);
    });
    // The columns follow the rows sideways; a resized column redraws them.
    connect(horizontalScrollBar(), &QScrollBar::valueChanged, header_, &QHeaderView::setOffset);
    connect(header_, &QHeaderView::sectionResized, this, [this] {
        doItemsLayout();
        viewport()->update();
    });
    setViewportMargins(0, header_->sizeHint().height(), 0, 0);
}

void TFileListView::SetInitialWidths() {
    const QFontMetrics fm(font());
    const int pad = 2 * fm.horizontalAdvance(QLatin1Char('0'));
    const auto width = [&](int column, std::initializer_list<const char*> samples) {
        int w = fm.horizontalAdvance(ListColumnTitle(column)) + 2 * pad;
        for (const char* s : samples) w = std::max(w, fm.horizontalAdvance(QString::fromUtf8(s)) + pad);
        header_->resizeSection(column, w);
    };
    width(colName, {"ДЕТАЛЬ~1.LST"});
    width(colSize, {"2 097 152"});
    width(colPlace, {"ZVT", "папка ПК"});
    width(colCompare, {"отличается"});
}

QRect TFileListView::ColumnRect(int column, const QRect& row) const {
    const int left = header_->sectionViewportPosition(column);
    return QRect(left, row.top(), header_->sectionSize(column), row.height());
}

int TFileListView::RowWidth(int lastTextWidth) const {
    int width = 0;
    for (int c = 0; c + 1 < ListColumnCount; ++c) width += header_->sectionSize(c);
    return width + lastTextWidth;
}

void TFileListView::ShowSortIndicator(int column, Qt::SortOrder order) {
    sortColumn_ = column;
    sortOrder_ = order;
    header_->setSortIndicatorShown(column >= 0);
    if (column >= 0) header_->setSortIndicator(column, order);
}

void TFileListView::updateGeometries() {
    QListWidget::updateGeometries();
    // The header sits in the margin above the rows, inside the frame.
    const QRect vg = viewport()->geometry();
    const int h = header_->sizeHint().height();
    header_->setGeometry(vg.left(), vg.top() - h, vg.width(), h);
    header_->setOffset(horizontalScrollBar()->value());
}

}  // namespace skarvel
