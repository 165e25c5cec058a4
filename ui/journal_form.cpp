#include "ui/journal_form.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace skarvel {

namespace {

enum TColumn : int { colTime, colUser, colPort, colOp, colName, colPath, colSize, colSha, colResult, ColumnCount };

QTableWidgetItem* Cell(const std::string& text) {
    auto* item = new QTableWidgetItem(QString::fromStdString(text));
    item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
    return item;
}

}  // namespace

TJournalForm::TJournalForm(std::string path, QWidget* owner) : QDialog(owner), path_(std::move(path)) {
    setWindowTitle(QStringLiteral("Журнал передач"));
    setModal(false);
    resize(900, 420);
    auto* column = new QVBoxLayout(this);
    auto* top = new QHBoxLayout;
    auto* label = new QLabel(QStringLiteral("&Имя файла на носителе:"), this);
    Filter = new QLineEdit(this);
    Filter->setClearButtonEnabled(true);
    Filter->setPlaceholderText(QStringLiteral("все файлы"));
    label->setBuddy(Filter);
    top->addWidget(label);
    top->addWidget(Filter, 1);
    column->addLayout(top);

    Table = new QTableWidget(0, ColumnCount, this);
    Table->setHorizontalHeaderLabels({QStringLiteral("Время"), QStringLiteral("Пользователь"), QStringLiteral("Порт"),
                                      QStringLiteral("Операция"), QStringLiteral("Имя на носителе"),
                                      QStringLiteral("Файл на ПК"), QStringLiteral("Размер"), QStringLiteral("SHA-256"),
                                      QStringLiteral("Результат")});
    Table->verticalHeader()->hide();
    Table->setSelectionBehavior(QAbstractItemView::SelectRows);
    Table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    Table->horizontalHeader()->setStretchLastSection(true);
    column->addWidget(Table, 1);

    Info = new QLabel(this);
    Info->setTextInteractionFlags(Qt::TextSelectableByMouse);
    column->addWidget(Info);
    auto* buttons = new QHBoxLayout;
    RefreshButton = new QPushButton(QStringLiteral("&Обновить"), this);
    CloseButton = new QPushButton(QStringLiteral("Закрыть"), this);
    buttons->addStretch(1);
    buttons->addWidget(RefreshButton);
    buttons->addWidget(CloseButton);
    column->addLayout(buttons);

    connect(Filter, &QLineEdit::textChanged, this, [this] { ApplyFilter(); });
    connect(RefreshButton, &QPushButton::clicked, this, [this] { Reload(); });
    connect(CloseButton, &QPushButton::clicked, this, &QDialog::reject);
    Filter->setFocus();
}

void TJournalForm::Reload() {
    std::vector<TJournalEntry> entries;
    size_t damaged = 0;
    std::string error;
    const bool read = !path_.empty() && ReadJournal(path_, entries, damaged, error);
    entries_.assign(entries.rbegin(), entries.rend());
    Table->setRowCount(0);
    Table->setRowCount(static_cast<int>(entries_.size()));
    for (int row = 0; row < static_cast<int>(entries_.size()); ++row) {
        const TJournalEntry& e = entries_[static_cast<size_t>(row)];
        const std::string cells[ColumnCount] = {e.Time, e.User,  e.Port, e.Operation, e.Name, e.PcPath,
                                                e.Size || !e.Sha256.empty() ? std::to_string(e.Size) : std::string(),
                                                e.Sha256, e.Result};
        for (int c = 0; c < ColumnCount; ++c) Table->setItem(row, c, Cell(cells[c]));
    }
    Table->resizeColumnsToContents();
    QString info = QStringLiteral("Журнал: ") + QString::fromStdString(path_.empty() ? std::string("не найден") : path_);
    if (!read && !path_.empty()) info += QStringLiteral(" — не читается: ") + QString::fromStdString(error);
    else info += QStringLiteral(" — записей: %1").arg(entries_.size());
    if (damaged > 0) info += QStringLiteral(", повреждённых строк пропущено: %1").arg(damaged);
    Info->setText(info);
    ApplyFilter();
}

void TJournalForm::ApplyFilter() {
    const QString part = Filter->text().trimmed();
    for (int row = 0; row < Table->rowCount(); ++row) {
        const QString name = QString::fromStdString(entries_[static_cast<size_t>(row)].Name);
        Table->setRowHidden(row, !part.isEmpty() && !name.contains(part, Qt::CaseInsensitive));
    }
}

int TJournalForm::VisibleRows() const {
    int n = 0;
    for (int row = 0; row < Table->rowCount(); ++row)
        if (!Table->isRowHidden(row)) ++n;
    return n;
}

}  // namespace skarvel
