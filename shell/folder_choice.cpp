#include "shell/folder_choice.h"

#include <QAction>
#include <QApplication>
#include <QFileSystemModel>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QToolBar>
#include <QVBoxLayout>

#include "shell/action.h"
#include "shell/folder_logic.h"
#include "shell/folder_tree.h"

namespace skarvel {

namespace {

// The status line's label: a path too long for the bar loses its middle
// ("/home/op/…/progs") rather than its end; the whole text is its tool tip.
class TPathLabel : public QLabel {
public:
    using QLabel::QLabel;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        const QRect r = contentsRect();
        painter.drawText(r, int(alignment()), fontMetrics().elidedText(text(), Qt::ElideMiddle, r.width()));
    }
};

}  // namespace

TfolderChoice::TfolderChoice(QWidget* owner)
    : QDialog(owner), NewFolderName(DefaultNewFolderName()), TestFileName(QStringLiteral("~~temp.tmp")) {
    ShowError = [this](const QString& text) {
        QMessageBox box(QMessageBox::Critical, QApplication::applicationDisplayName(), text, QMessageBox::Ok, this);
        box.exec();
    };
    setWindowTitle(QStringLiteral("Выбор каталога"));
    // No close, minimise or maximise box: the dialog ends through its buttons.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    CreateActions();
    CreateComponents();
    resize(334, 461);
    setMinimumSize(135, 135);
}

void TfolderChoice::CreateActions() {
    Home = MakeAction(this, QStringLiteral("Домой"), QStringLiteral("Переход в домашний каталог"),
                      {QStringLiteral("Alt+Home")}, QIcon(QStringLiteral(":/shell/icons/home.svg")));
    CreateFolder = MakeAction(this, QStringLiteral("Создать каталог"), QStringLiteral("Создание новой папки"),
                              {QStringLiteral("Ctrl+N"), QStringLiteral("Alt+N")},
                              QIcon(QStringLiteral(":/shell/icons/new_folder.svg")));
    choice = MakeAction(this, QStringLiteral("Выбор"), QString(), {});
    FileExit = MakeAction(this, QStringLiteral("&Отмена"), QString(), {});
    connect(Home, &QAction::triggered, this, [this] { HomeExecute(); });
    connect(CreateFolder, &QAction::triggered, this, [this] { CreateFolderExecute(); });
    connect(choice, &QAction::triggered, this, [this] { choiceExecute(); });
    connect(FileExit, &QAction::triggered, this, [this] { FileExitExecute(); });
}

void TfolderChoice::CreateComponents() {
    ToolBar1 = new QToolBar(this);
    ToolBar1->setIconSize(QSize(16, 16));
    ToolBar1->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    ToolBar1->addAction(Home);
    ToolBar1->addSeparator();
    ToolBar1->addAction(CreateFolder);

    ShellTreeView1 = new TFolderTree(this);
    connect(ShellTreeView1, &TFolderTree::Pressed, this, [this] { ShowFolderInStatus(); });
    connect(ShellTreeView1, &TFolderTree::KeyReleased, this, [this] { ShowFolderInStatus(); });
    connect(ShellTreeView1, &TFolderTree::RenameFailed, this,
            [this](const QString& path, const QString& name) { ShowRenameError(path, name); });

    Button1 = new QPushButton(choice->text(), this);
    Button2 = new QPushButton(FileExit->text(), this);
    Button1->setDefault(true);
    for (QPushButton* b : {Button1, Button2}) b->setMinimumSize(60, 25);
    connect(Button1, &QPushButton::clicked, choice, &QAction::trigger);
    connect(Button2, &QPushButton::clicked, FileExit, &QAction::trigger);
    auto* buttons = new QHBoxLayout;
    buttons->setContentsMargins(1, 3, 1, 2);
    buttons->addWidget(Button1);
    buttons->addStretch();
    buttons->addWidget(Button2);

    PanelStatus = new QFrame(this);
    PanelStatus->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    PanelStatus->setFixedHeight(25);
    Label1 = new TPathLabel(QStringLiteral("Папка:"), PanelStatus);
    Label1->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    Label1->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);  // never widens the dialog
    auto* status = new QHBoxLayout(PanelStatus);
    status->setContentsMargins(4, 0, 4, 0);
    status->addWidget(Label1);

    auto* main = new QVBoxLayout(this);
    main->setContentsMargins(0, 0, 0, 0);
    main->setSpacing(0);
    main->addWidget(ToolBar1);
    main->addWidget(ShellTreeView1, 1);
    main->addLayout(buttons);
    main->addWidget(PanelStatus);

    setTabOrder(ShellTreeView1, Button1);
    setTabOrder(Button1, Button2);
}

void TfolderChoice::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (shown_) return;
    shown_ = true;
    // Wide enough for the caller's caption beside the title bar's buttons.
    const int captionWidth = fontMetrics().horizontalAdvance(windowTitle()) + 160;
    if (width() < captionWidth) resize(captionWidth, height());
    SelectStartFolder();
    ShowFolderInStatus();
    ShellTreeView1->setFocus();
}

void TfolderChoice::SelectStartFolder() { ShellTreeView1->SelectFolder(QDir::currentPath()); }

void TfolderChoice::ShowFolderInStatus() {
    Label1->setText(QStringLiteral("Папка: ") + QDir::toNativeSeparators(ShellTreeView1->SelectedFolder()));
    Label1->setToolTip(Label1->text());
}

void TfolderChoice::HomeExecute() {
    ShellTreeView1->SelectFolder(QDir::homePath());
    ShellTreeView1->setFocus();
    ShowFolderInStatus();
}

void TfolderChoice::CreateFolderExecute() {
    const QModelIndex parent = ShellTreeView1->SelectedIndex();
    if (!parent.isValid()) return;
    ShellTreeView1->setFocus();
    const QString path = ShellTreeView1->Model()->filePath(parent);
    ShellTreeView1->WhenListed(parent, [this, path] { CreateFolderIn(path); });
}

void TfolderChoice::CreateFolderIn(const QString& parent) {
    if (!isVisible()) return;  // the dialog ended while the folder was being read
    const QDir dir(parent);
    const QString name =
        skarvel::NewFolderName(NewFolderName, [&](const QString& n) { return PathTaken(dir.filePath(n)); });
    if (!ShellTreeView1->CreateFolder(ShellTreeView1->Model()->index(parent), name).isValid())
        ShowError(QStringLiteral("Ошибка создания каталога ") + QDir::toNativeSeparators(dir.filePath(name)));
}

void TfolderChoice::choiceExecute() {
    const QString folder = ShellTreeView1->SelectedFolder();
    if (folder.isEmpty()) {
        ShowError(QStringLiteral("Каталог не выбран"));
        return;
    }
    const TChoice result = ChooseFolder(folder, TestFileName);
    SelectedPath = result.SelectedPath;
    if (!result.Error.isEmpty()) {
        ShowError(result.Error);
        return;
    }
    accept();
}

void TfolderChoice::FileExitExecute() { reject(); }

void TfolderChoice::reject() {
    SelectedPath.clear();
    QDialog::reject();
}

void TfolderChoice::ShowRenameError(const QString& path, const QString& newName) {
    ShowError(QStringLiteral("Ошибка переименования каталога ") + QDir::toNativeSeparators(path) +
              QStringLiteral(" в \"") + newName + QLatin1Char('"'));
}

}  // namespace skarvel
