#include "ui/main_form.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QCompleter>
#include <QCoreApplication>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFrame>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QSettings>
#include <QStyledItemDelegate>
#include <QTimer>
#include <QToolBar>
#include <QVBoxLayout>
#include <algorithm>
#include <climits>
#include <stdexcept>

#include "core/cp1251.h"
#include "core/journal.h"
#include "core/short_name.h"
#include "flashfs/fs_flash.h"
#include "flashfs/image_transport.h"
#include "link/port_watch.h"
#include "link/zvt_drv.h"
#include "shell/data_object.h"
#include "shell/action.h"
#include "shell/drag_rules.h"
#include "shell/file_drop.h"
#include "ui/file_dialog_fit.h"
#include "ui/file_list_view.h"
#include "ui/lamps.h"
#include "ui/menu_keys.h"
#include "ui/message_boxes.h"
#include "ui/my_list_box.h"
#include "ui/progress_info.h"
#include "ui/pc_files.h"
#include "ui/qt_main_thread.h"
#include "ui/readable_color.h"
#include "ui/settings.h"
#include "ui/text_tool_bar.h"

namespace skarvel {

namespace {

constexpr int FirstInterval = 8000;
constexpr int IdleInterval = 10000;
// Soon after a request's last sector transfer, so that the window is idle
// again at once rather than ten seconds later.
constexpr int AfterOperationInterval = 200;
// How often the window shows the worker's reports while sectors move.
constexpr int ReportInterval = 100;

// The worker's text of one of its result codes (code page 1251), or null
// for a code it has no text for. Every worker text the window shows comes
// through here, so a code the worker gains is shown with its text.
const char* WorkerText(uint8_t code) { return WorkerErrorText(code); }

const char* const ImageList2[IconCount] = {
    ":/ui/icons/open.svg",      ":/ui/icons/write.svg",     ":/ui/icons/refresh.svg",
    ":/ui/icons/load.svg",      ":/ui/icons/port_settings.svg", ":/ui/icons/port_open.svg",
    ":/ui/icons/port_closed.svg", ":/ui/icons/delete.svg",
};

QString FromCp1251(const char* text) { return QString::fromStdString(Cp1251ToUtf8(text ? text : "")); }
QString FromCp1251(const std::string& text) { return QString::fromStdString(Cp1251ToUtf8(text)); }

// Why the PC file at path cannot be added for writing, or nothing when it
// can (size is then its size). Read access is all that is needed:
// read-only files can be written to the medium too.
QString UnreadablePcFile(const QString& path, qint64& size) {
    const QString head = QStringLiteral("Не удалось открыть файл ") + path + QStringLiteral(": ");
    const QFileInfo info(path);
    if (info.isDir()) return head + QStringLiteral("это каталог");
    // A pipe or a device would keep the window waiting in the open.
    if (info.exists() && !info.isFile()) return head + QStringLiteral("это не обычный файл");
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return head + file.errorString();
    size = file.size();
    if (size > INT32_MAX) return QStringLiteral("Файл ") + path + QStringLiteral(" слишком велик");
    return QString();
}

// Draws the rows through the window's own handler, all of one fixed height.
class TListBoxDelegate : public QStyledItemDelegate {
public:
    TListBoxDelegate(TForm1* form, TFileListView* view) : QStyledItemDelegate(form), form_(form), view_(view) {}
    int ItemHeight = 13;

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        form_->ListBox1DrawItem(painter, option, index.row());
    }
    // As wide as the columns, so that the list scrolls sideways only when
    // they do not fit.
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const override {
        return QSize(view_->RowWidth(option.fontMetrics.horizontalAdvance(QStringLiteral("отличается")) + 4),
                     ItemHeight);
    }

private:
    TForm1* form_;
    TFileListView* view_;
};

}  // namespace

// The window handle that the worker posts its completion messages to.
class TWindowTarget : public TMessageTarget {
public:
    explicit TWindowTarget(TForm1* form) : form_(form) {}
    void PostMsg(uint32_t msg, uintptr_t wParam, intptr_t lParam) override {
        QCoreApplication::postEvent(form_, new TFlashMessageEvent(msg, wParam, lParam));
    }

private:
    TForm1* form_;
};

QEvent::Type TFlashMessageEvent::EventType() {
    static const QEvent::Type type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

std::function<void(QWidget*)> TForm1::ShowAboutHook;

QString ToQtFilter(const QString& filter) {
    const QStringList parts = filter.split(QLatin1Char('|'));
    QStringList out;
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        QString text = parts[i].trimmed();
        const QString patterns = parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts).join(QLatin1Char(' '));
        // The text names the patterns in brackets already; Qt reads the
        // patterns from the last brackets, separated by blanks.
        const int open = text.lastIndexOf(QLatin1Char('('));
        if (open >= 0 && text.endsWith(QLatin1Char(')'))) text = text.left(open).trimmed();
        out << text + QStringLiteral(" (") + patterns + QLatin1Char(')');
    }
    return out.join(QStringLiteral(";;"));
}

// ---------------------------------------------------------------- creation

TForm1::TForm1(const TFormOptions& options, QWidget* parent) : QMainWindow(parent) {
    FMain = std::make_unique<TQtMainThread>();
    FWindowTarget = std::make_unique<TWindowTarget>(this);
    FMessageBoxes = options.Messages ? options.Messages : &DefaultMessageBoxes();
    ExecOpenDialog = [](QFileDialog& dlg) {
        const bool chosen = dlg.exec() == QDialog::Accepted;
        // A name typed and confirmed with Return can leave the name
        // completer's list floating over the window after the dialog is gone.
        for (QCompleter* c : dlg.findChildren<QCompleter*>())
            if (c->popup()) c->popup()->hide();
        return chosen ? dlg.selectedFiles() : QStringList();
    };
    ExecFolderDialog = [this](QString& folder) { return ExecFolderChoice(folder); };
    ExecCompareFolderDialog = [this](QString& folder) {
        const QString chosen =
            QFileDialog::getExistingDirectory(this, QStringLiteral("Папка для сравнения с флэш"), folder);
        if (chosen.isEmpty()) return false;
        folder = chosen;
        return true;
    };
    ExecDragDrop = [this](TDataObject* object) { return TFileSource(ListBox1).DoDragDrop(object); };
    CreateComponents();
    FormCreate(options);
}

TForm1::~TForm1() { FormDestroy(); }

QAction* TForm1::MakeAction(const QString& caption, const QString& hint, const QStringList& shortcuts,
                            TActionIcon icon) {
    QAction* a = skarvel::MakeAction(this, caption, hint, shortcuts);
    SetActionImage(a, icon);
    return a;
}

void TForm1::SetActionImage(QAction* action, TActionIcon icon) {
    action->setIcon(icon != iconNone ? QIcon(QString::fromLatin1(ImageList2[icon])) : QIcon());
    action->setProperty("imageIndex", static_cast<int>(icon));
}

void TForm1::CreateComponents() {
    setWindowTitle(QStringLiteral("Skarvel"));
    setWindowIcon(QIcon(QStringLiteral(":/ui/icons/skarvel.svg")));
    CreateActions();
    ConnectActions();
    CreateMenus();

    auto* central = new QWidget(this);
    auto* column = new QVBoxLayout(central);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    CreateLamps(column);
    CreateIconToolBar(column);
    CreateList(column);
    CreateTextToolBar(column);
    CreateStatusLine(column);
    setCentralWidget(central);

    CreateTimers();
    OpenDialog1 = new QFileDialog(this);
    FitFileDialog(*OpenDialog1);

    resize(562, 426 + menuBar()->sizeHint().height());
    setMinimumHeight(255);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect avail = screen->availableGeometry();
        move(avail.center() - QPoint(width() / 2, height() / 2));
    }
}

void TForm1::CreateActions() {
    Open = MakeAction(QStringLiteral("&Открыть"), QStringLiteral("Выбрать файлы для записи на флэш"),
                      {QStringLiteral("F2"), QStringLiteral("Alt+O"), QStringLiteral("Ctrl+O")}, iconOpen);
    MenuSave = MakeAction(QStringLiteral("&Запись"), QStringLiteral("Запись новых файлов на флэш"),
                          {QStringLiteral("F7"), QStringLiteral("Alt+S"), QStringLiteral("Ctrl+S")}, iconWrite);
    Action4 = MakeAction(QStringLiteral("&Обновить"), QStringLiteral("Обновить"), {QStringLiteral("F5")}, iconRefresh);
    Action5 = MakeAction(QStringLiteral("Загрузка &данных"), QStringLiteral("Загрузка выбранных файлов с флэш"),
                         {QStringLiteral("F6"), QStringLiteral("Ctrl+L"), QStringLiteral("Alt+L")}, iconLoad);
    DelFileFlash = MakeAction(QStringLiteral("&Удалить"), QStringLiteral("Удалить выбранные файлы"),
                              {QStringLiteral("F8"), QStringLiteral("Del")}, iconDelete);
    Action2 = MakeAction(QStringLiteral("Фо&рматирование"), QString(), {}, iconNone);
    Action7 = MakeAction(QStringLiteral("&Настройка порта"), QStringLiteral("Настроить порт"),
                         {QStringLiteral("Ctrl+P")}, iconPortSettings);
    Action8 = MakeAction(QStringLiteral("Открыть &порт"), QStringLiteral("Открыть порт"), {}, iconPortClosed);
    Action1 = MakeAction(QStringLiteral("&Выход"), QString(), {QStringLiteral("Alt+F4")}, iconNone);
    AboutAc = MakeAction(QStringLiteral("&О программе"), QStringLiteral("О программе"),
                         {QStringLiteral("Ctrl+H"), QStringLiteral("Alt+H")}, iconNone);
    SaveImageAc = MakeAction(QStringLiteral("Сохранить о&браз…"),
                             QStringLiteral("Сохранить весь носитель в файл образа"), {}, iconNone);
    RestoreImageAc = MakeAction(QStringLiteral("&Восстановить из образа…"),
                                QStringLiteral("Записать на носитель сохранённый образ"), {}, iconNone);
    JournalAc = MakeAction(QStringLiteral("&Журнал"), QStringLiteral("Журнал передач"), {QStringLiteral("Ctrl+J")},
                           iconNone);
    ViewAc = MakeAction(QStringLiteral("&Просмотр"), QStringLiteral("Показать текст выбранного файла"),
                        {QStringLiteral("F3")}, iconNone);
    CompareFolderAc = MakeAction(QStringLiteral("&Сравнить с папкой…"),
                                 QStringLiteral("Сравнить файлы флэш с файлами папки на ПК"), {}, iconNone);
    CompareAc = MakeAction(QStringLiteral("Срав&нить"),
                           QStringLiteral("Показать выбранный файл рядом с его копией на ПК"), {}, iconNone);
    MenuVerify = MakeAction(QStringLiteral("Проверять &запись"),
                            QStringLiteral("Читать каждый записанный файл обратно и сравнивать с файлом ПК"), {},
                            iconNone);
    MenuVerify->setCheckable(true);
    MenuVerify->setChecked(true);
    // The actions that busy disables and idle enables again; opening PC
    // files, the journal and the About window stay available. Viewing and
    // comparing stay available while busy too: their reads wait for the
    // worker like any request, and the progress window locks the window
    // while it is up.
    ActionList1 = {Action1, Action2, MenuSave, Action4, Action5, Action7, Action8, DelFileFlash, SaveImageAc,
                   RestoreImageAc};
    ActionList2 = {Open, AboutAc, JournalAc};
}

void TForm1::ConnectActions() {
    const std::pair<QAction*, void (TForm1::*)()> handlers[] = {
        {Open, &TForm1::OpenExecute},           {MenuSave, &TForm1::MenuSaveExecute},
        {Action4, &TForm1::Action4Execute},     {Action5, &TForm1::Action5Execute},
        {DelFileFlash, &TForm1::DelFileFlashExecute}, {Action2, &TForm1::Action2Execute},
        {Action1, &TForm1::Action1Execute},     {Action7, &TForm1::Action7Execute},
        {Action8, &TForm1::Action8Execute},     {AboutAc, &TForm1::AboutAcExecute},
        {SaveImageAc, &TForm1::SaveImageExecute}, {RestoreImageAc, &TForm1::RestoreImageExecute},
        {JournalAc, &TForm1::JournalAcExecute},
        {ViewAc, &TForm1::ViewExecute},         {CompareFolderAc, &TForm1::CompareFolderExecute},
        {CompareAc, &TForm1::CompareExecute},
    };
    for (const auto& [action, handler] : handlers) {
        connect(action, &QAction::triggered, this, [this, action = action, handler = handler] {
            // While the progress window is up only closing is taken (it cancels).
            if (FProgress && action != Action1) return;
            RunAction([this, handler] { (this->*handler)(); });
        });
    }
}

void TForm1::CreateMenus() {
    N1 = menuBar()->addMenu(QStringLiteral("&Файл"));
    N1->addAction(Open);
    N1->addAction(ViewAc);
    N1->addAction(Action1);
    N2 = menuBar()->addMenu(QStringLiteral("&ZVT"));
    N2->addActions({MenuSave, Action4, Action5, DelFileFlash, Action2});
    N2->addSeparator();
    N2->addActions({CompareFolderAc, CompareAc});
    N2->addSeparator();
    N2->addActions({SaveImageAc, RestoreImageAc});
    N2->addSeparator();
    N2->addAction(JournalAc);
    N3 = menuBar()->addMenu(QStringLiteral("&Настройка"));
    N3->addActions({Action7, Action8});
    N3->addSeparator();
    N3->addAction(MenuVerify);
    N4 = menuBar()->addMenu(QStringLiteral("&Помощь"));
    N4->addAction(AboutAc);
    PopupMenu1 = new QMenu(this);
    PopupMenu1->addActions({Open, Action4, MenuSave, Action5, DelFileFlash});
    // F10, a lone Alt and the mnemonics in either keyboard layout.
    new TMenuKeys(this, menuBar());
}

// The lamps: link at the left, medium access at the right edge.
void TForm1::CreateLamps(QVBoxLayout* column) {
    auto makeLampPanel = [this](QFrame*& panel, QLabel*& image, QLabel*& label, const QString& text) {
        panel = new QFrame(this);
        panel->setFrameShape(QFrame::NoFrame);
        panel->setFixedHeight(21);
        image = new QLabel(panel);
        image->setGeometry(2, 2, 17, 17);
        image->setAlignment(Qt::AlignCenter);
        label = new QLabel(text, panel);
        label->adjustSize();
        label->move(25, (21 - label->height()) / 2);
    };
    makeLampPanel(Panel4, Image1, Label1, QStringLiteral("Связь с флэш"));
    makeLampPanel(Panel3, Image2, Label2, QStringLiteral("Обращение к флэш"));
    auto* lampRow = new QHBoxLayout;
    lampRow->setContentsMargins(0, 0, 0, 0);
    lampRow->addWidget(Panel4);
    lampRow->addStretch(1);
    lampRow->addWidget(Panel3);
    column->addLayout(lampRow);
}

void TForm1::CreateIconToolBar(QVBoxLayout* column) {
    Panel5 = new QFrame(this);
    Panel5->setFrameShape(QFrame::NoFrame);
    auto* p5 = new QHBoxLayout(Panel5);
    p5->setContentsMargins(0, 0, 0, 0);
    ToolBar1 = new QToolBar(Panel5);
    ToolBar1->setIconSize(QSize(16, 16));
    ToolBar1->setMovable(false);
    ToolBar1->setFloatable(false);
    ToolBar1->addAction(Open);
    ToolBar1->addSeparator();
    ToolBar1->addActions({MenuSave, Action5, Action4, DelFileFlash});
    ToolBar1->addSeparator();
    ToolBar1->addActions({Action7, Action8});
    p5->addWidget(ToolBar1);
    column->addWidget(Panel5);
}

void TForm1::CreateList(QVBoxLayout* column) {
    Panel2 = new QFrame(this);
    Panel2->setFrameShape(QFrame::NoFrame);
    auto* p2 = new QVBoxLayout(Panel2);
    p2->setContentsMargins(0, 0, 0, 0);
    FListView = new TFileListView(Panel2);
    ListBox1 = FListView;
    ListBox1->setSelectionMode(QAbstractItemView::ExtendedSelection);
    ListBox1->setUniformItemSizes(true);
    ListBox1->setItemDelegate(new TListBoxDelegate(this, FListView));
    // A click on a column's header orders the rows by it; the model moves
    // its rows and the control's together.
    connect(FListView, &TFileListView::SortRequested, this, [this](int sortColumn, Qt::SortOrder order) {
        FMyListBox->SortBy(sortColumn, order == Qt::DescendingOrder);
        FListView->ShowSortIndicator(sortColumn, order);
    });
    // Without the link F8 follows the selection of PC files.
    connect(ListBox1, &QListWidget::itemSelectionChanged, this, [this] {
        if (!FLinkUp) EnableDeviceActions();
    });
    ListBox1->setContextMenuPolicy(Qt::CustomContextMenu);
    // Drags out of the list are the window's own (ListBox1MouseMove), with
    // the medium's files staged first.
    ListBox1->setDragEnabled(false);
    connect(ListBox1, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& pos) { PopupMenu1->popup(ListBox1->viewport()->mapToGlobal(pos)); });
    FListViewport = ListBox1->viewport();
    FListViewport->installEventFilter(this);
    ListBox1->installEventFilter(this);
    p2->addWidget(ListBox1);
    column->addWidget(Panel2, 1);
}

void TForm1::CreateTextToolBar(QVBoxLayout* column) {
    Panel6 = new QFrame(this);
    Panel6->setFrameShape(QFrame::NoFrame);
    Panel6->setFixedHeight(22);
    auto* p6 = new QVBoxLayout(Panel6);
    p6->setContentsMargins(0, 1, 0, 1);
    ToolBar2 = new TTextToolBar(Panel6);
    ToolBar2->AddButton(QStringLiteral("Открыть F2"), Open);
    ToolBar2->AddButton(QStringLiteral("Обновить F5"), Action4);
    ToolBar2->AddButton(QStringLiteral("Загрузить F6"), Action5);
    ToolBar2->AddButton(QStringLiteral("Записать F7"), MenuSave);
    ToolBar2->AddButton(QStringLiteral("Удалить F8"), DelFileFlash);
    ToolBar2->AddButton(QStringLiteral("Выход Alt+F4"), Action1);
    p6->addWidget(ToolBar2);
    column->addWidget(Panel6);
}

void TForm1::CreateStatusLine(QVBoxLayout* column) {
    Panel1 = new QFrame(this);
    Panel1->setFrameShape(QFrame::Panel);
    Panel1->setFrameShadow(QFrame::Sunken);
    Panel1->setFixedHeight(22);
    auto* p1 = new QHBoxLayout(Panel1);
    p1->setContentsMargins(2, 1, 2, 1);
    Label3 = new QLabel(QStringLiteral("Статус: ожидание"), Panel1);
    p1->addWidget(Label3, 1);
    // The medium's file count and free space, while the window is idle.
    LabelSummary = new QLabel(Panel1);
    LabelSummary->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    p1->addWidget(LabelSummary);
    column->addWidget(Panel1);
}

void TForm1::CreateTimers() {
    Timer1 = new QTimer(this);
    Timer1->setInterval(FirstInterval);
    connect(Timer1, &QTimer::timeout, this, [this] { Guarded([this] { Timer1Timer(); }); });
    FReportTimer = new QTimer(this);
    FReportTimer->setSingleShot(true);
    FReportTimer->setInterval(ReportInterval);
    connect(FReportTimer, &QTimer::timeout, this, [this] { TakeReports(); });
}

void TForm1::FillMessages() {
    // The worker's texts, but for the codes the window numbers its own
    // failures with (the worker's text of 12 is not shown).
    FMessages.assign(pcMissing + 1, QString());
    for (int code = 0; code <= UINT8_MAX; ++code) {
        const char* text = WorkerText(static_cast<uint8_t>(code));
        if (!text || (code >= pcNoMemory && code <= pcMissing)) continue;
        if (static_cast<size_t>(code) >= FMessages.size()) FMessages.resize(static_cast<size_t>(code) + 1);
        FMessages[static_cast<size_t>(code)] = FromCp1251(text);
    }
    FMessages[pcNoMemory] = QStringLiteral("Не удалось выделить память при чтении файла ");
    FMessages[pcWriteFailed] = QStringLiteral("Ошибка при записи файла ");
    FMessages[pcReadFailed] = QStringLiteral("Ошибка при чтения файла ");
    // pcMissing has a prompt of its own and no text.
}

void TForm1::FormCreate(const TFormOptions& options) {
    // Before anything can fail: every error box takes its text from here.
    FillMessages();

    FSettings = options.Settings;
    FSettingsFile = options.SettingsFile;
    LoadSettings();
    connect(MenuVerify, &QAction::toggled, this, [this] { SaveSettings(); });

    // Rows as high as the list font's text.
    static_cast<TListBoxDelegate*>(ListBox1->itemDelegate())->ItemHeight = QFontMetrics(ListBox1->font()).height();

    // The window cannot get narrower than the two lamp panels together, nor
    // than the text tool bar showing every caption whole (it spans the
    // window's width).
    Panel3->setFixedWidth(Label2->width() + 30);
    Panel4->setFixedWidth(Label1->width() + 30);
    const int m = std::max(Panel3->width() + Panel4->width(), ToolBar2->CaptionsWidth());
    setMinimumWidth(m);
    if (width() < m) resize(m, height());

    // The list model before the driver: the worker's first completion fills it.
    FMyListBox = new TMyListBox(ListBox1);
    FMyListBox->Messages = FMessageBoxes;
    FMyListBox->DialogParent = this;

    // Files dropped anywhere on the window.
    CreateDropTarget();

    FRememberPort = options.RememberPort;
    FChoiceNote = options.PortNote;
    CreateDriver(options);
    RestoreSettings();

    OpenDialog1->setNameFilter(ToQtFilter(QStringLiteral("ISO программы (*.lst;*.tnc;*.iso)|*.lst;*.tnc;*.iso")));
    OpenDialog1->setFileMode(QFileDialog::ExistingFiles);
    OpenDialog1->setAcceptMode(QFileDialog::AcceptOpen);

    // Both lamps dark until the device answers: the port may not open at all.
    SetLamp(Image1, lampBlack);
    SetLamp(Image2, lampBlack);
    EnableDeviceActions();
    ShowIdleStatus();

    if (options.StartTimer) Timer1->start();
    // Before the port is opened: an adapter plugged in from now on is seen.
    if (options.WatchPorts) StartPortWatch();

    // The device is asked at once, not a tick later. A port that cannot be
    // opened is reported, and the tick is left out; the window waits for it.
    Guarded([this] {
        OpenPort();
        Timer1Timer();
    });
}

void TForm1::CreateDriver(const TFormOptions& options) {
    CreateJournal(options);
    if (!options.Image.empty()) {
        // Its worker thread starts at once, idle until the first request.
        FImageWorker = std::make_unique<TImageWorker>(FWindowTarget.get());
        CreateImageWorker(options);
    } else {
        // Its worker thread starts at once, idle until the first request.
        FDriver = new TZVT_drv(FMain.get(), FWindowTarget.get());
        if (!options.Port.empty()) FDriver->ComPort.SetPort(options.Port);
        if (options.ConfigureDriver) options.ConfigureDriver(*FDriver);
        FDriver->OnReadSector = [this] { DoReadSector(); };
        FDriver->OnWriteSector = [this] { DoWriteSector(); };
        FWorker = FDriver;
    }
    TTransferRows& rows = *this;
    FRunner = std::make_unique<TTransferRunner>(*FWorker, rows, FReports);
    FRunner->OnGui = [this](const std::function<void()>& fn) { return FMain->Call(fn); };
    FRunner->OnReports = [this] { PostToWindow([this] { TakeReports(); }); };
    FRunner->Journal = FJournal.get();
    // The texts are fixed once the window is made: the worker may read them.
    FRunner->ResultText = [this](uint8_t code) { return MessageText(code).toStdString(); };
    FWorker->OnCommand = [this](uint8_t op, uint8_t& result, void* param) {
        result = FRunner->Execute(op, static_cast<TTransferJob*>(param)).Code();
        return result;
    };
}

void TForm1::FormDestroy() {
    // No drop and no port change may reach a window that is being taken apart.
    FDropAcceptor.reset();
    FPortWatch.reset();
    // Nothing may wait for the GUI thread from here on: calls still waiting
    // are abandoned, so the port's event thread and the worker can end.
    if (FMain) FMain->Shutdown();
    if (Timer1) Timer1->stop();
    for (auto& job : FJobs) job->Cancel = true;
    if (ListBox1) {
        FListViewport->removeEventFilter(this);
        ListBox1->removeEventFilter(this);
        FListViewport = nullptr;
    }
    delete FMyListBox;  // frees ListBox1 too
    FMyListBox = nullptr;
    ListBox1 = nullptr;
    // Stops the worker and closes the port; requests still queued run at
    // once against the closed port, so their arguments go only after it.
    delete FDriver;
    FDriver = nullptr;
    FImageWorker.reset();
    FWorker = nullptr;
    FRunner.reset();  // only now: the worker has stopped
    FJobs.clear();
    FNames.clear();
    FMain.reset();
}

// ---------------------------------------------------------------- settings

namespace {

// The window's settings: those the program keeps for the user, else an
// INI file of the caller's (tests); none, and the defaults hold.
void UseSettings(TSettings* shared, const QString& file, const std::function<void(TSettings&)>& fn) {
    if (shared) return fn(*shared);
    if (file.isEmpty()) return;
    TSettings own(file);
    fn(own);
    own.Sync();
}

}  // namespace

void TForm1::LoadSettings() {
    // On unless the user turned it off.
    UseSettings(FSettings, FSettingsFile, [this](TSettings& s) { MenuVerify->setChecked(s.VerifyWrites()); });
}

void TForm1::SaveSettings() const {
    UseSettings(FSettings, FSettingsFile, [this](TSettings& s) { s.SetVerifyWrites(MenuVerify->isChecked()); });
}

// ---------------------------------------------------------------- helpers

void TForm1::Guarded(const std::function<void()>& fn) {
    try {
        fn();
    } catch (const std::exception& e) {
        ShowException(e);
    }
}

void TForm1::RunAction(const std::function<void()>& fn) {
    Guarded(fn);
    // Back to the list after every dialog, so that the keyboard keeps working.
    if (ListBox1 && isVisible()) ListBox1->setFocus(Qt::OtherFocusReason);
}

void TForm1::ShowException(const std::exception& e) {
    FMessageBoxes->Show(this, QString::fromUtf8(e.what()), TMsgDlgType::Error);
}

void TForm1::PostToWindow(std::function<void()> fn) {
    QMetaObject::invokeMethod(this, [fn = std::move(fn)] { fn(); }, Qt::QueuedConnection);
}

void TForm1::SetLamp(QLabel* lamp, TLamp colour) {
    TLamp& shown = lamp == Image1 ? FLinkLamp : FAccessLamp;
    if (shown == colour && !lamp->pixmap().isNull()) return;  // no repaint for the same colour
    lamp->setPixmap(LampPixmap(colour));
    shown = colour;
}

QString TForm1::MessageText(int code) const {
    if (code >= 0 && code < static_cast<int>(FMessages.size()) && !FMessages[static_cast<size_t>(code)].isEmpty())
        return FMessages[static_cast<size_t>(code)];
    return QStringLiteral("ошибка %1").arg(code);
}

QString TForm1::CurrentFile() const { return FRunner ? FRunner->CurrentFile() : QString(); }

bool TForm1::event(QEvent* e) {
    if (e->type() == TFlashMessageEvent::EventType()) {
        const auto* m = static_cast<TFlashMessageEvent*>(e);
        if (m->Msg == WM_FLASH_DONE) {
            const auto [op, result] = UnpackFlashDone(m->WParam);
            TakeReports();  // what the worker reported before it ended comes first
            std::unique_ptr<TOperationJob> job = AdoptJob(m->LParam);
            if (job && (job->Op == opBackupMedium || job->Op == opRestoreMedium)) {
                // A whole-medium copy tells its own end.
                RunAction([&] { ImageDone(*job, result); });
                emit OperationDone(op, result);
                return true;
            }
            if (job) {
                CountJob(*job);
                const std::vector<QString> undone = job->Undone();
                if (job->OnFiles) job->OnFiles(job->Files);
                if (job->OnDone) job->OnDone(result, undone);
                // Only a write's completion asks about its undone names; a
                // command that is still gathering its own list keeps it.
                if (job->Op == opSaveFile) FNames = undone;
            }
            RunAction([&] { WMOperationDone(op, result); });
            AfterOperation();
        }
        return true;
    }
    return QMainWindow::event(e);
}

void TForm1::closeEvent(QCloseEvent* e) {
    // A transfer is cancelled, and the window closes once the worker has
    // ended it: the progress window's loop and the completion still have
    // to run, and the medium gets the end of what was cut off.
    if (TransferRunning()) {
        FClosePending = true;
        CancelOperations();
        e->ignore();
        return;
    }
    // Pending rows are the operator's work of choosing files: quitting
    // drops them, so it is asked, and Return keeps the window. A close that
    // a cancelled transfer left pending was asked for already.
    if (!FClosePending && !ConfirmQuit()) {
        e->ignore();
        return;
    }
    KeepSettings();
    QMainWindow::closeEvent(e);
}

int TForm1::PendingCount() const {
    int n = 0;
    for (int i = 0; i < FMyListBox->Count(); ++i)
        if (FMyListBox->Pending(i)) ++n;
    return n;
}

bool TForm1::ConfirmQuit() {
    const int pending = PendingCount();
    if (pending == 0) return true;
    const QString text = QStringLiteral("Файлов, ждущих записи на флэш: %1. Выйти, не записав их?").arg(pending);
    return FMessageBoxes->Ask(this, text, TMsgDlgType::Confirmation, mbYes | mbNo) == mrYes;
}

// ---------------------------------------------------------------- busy / idle

void TForm1::SetBusy() {
    FState = formBusy;
    for (QAction* a : ActionList1) a->setEnabled(false);
    LabelSummary->clear();
}

void TForm1::SetIdle() {
    for (QAction* a : ActionList1) a->setEnabled(true);
    FState = formIdle;
    EnableDeviceActions();
    SetLamp(Image2, lampBlack);
    ShowIdleStatus();
    Timer1->setInterval(IdleInterval);
    FActivity = false;
}

void TForm1::EnableDeviceActions() {
    if (FState != formIdle) return;  // busy: everything is off until idle
    // F2, the port, the settings, the journal and viewing a pending row's
    // file need no device.
    for (QAction* a : {Action4, Action5, MenuSave, Action2, SaveImageAc, RestoreImageAc, CompareAc, CompareFolderAc})
        a->setEnabled(FLinkUp);
    // Without the link the list holds only PC files: F8 takes the selected
    // ones out of it.
    DelFileFlash->setEnabled(FLinkUp || !ListBox1->selectedItems().isEmpty());
}

void TForm1::ShowStatus(const QString& text) { Label3->setText(QStringLiteral("Статус: ") + text); }

void TForm1::ShowIdleStatus() {
    QString status = QStringLiteral("ожидание");
    for (const QString* note : {&FChoiceNote, &FWaitNote, &FSilentNote, &FMediumNote})
        if (!note->isEmpty()) status = *note;
    ShowStatus(status);
    LabelSummary->setText(SummaryText());
}

QString TForm1::SummaryText() const {
    const std::optional<uint64_t> known = FRunner ? FRunner->FreeBytes() : std::nullopt;
    if (!FLinkUp || !FMediumNote.isEmpty() || !known.has_value()) return QString();
    const uint64_t free = known.value_or(0);
    int files = 0;
    for (int i = 0; i < FMyListBox->Count(); ++i) files += FMyListBox->Flags(i);
    return QStringLiteral("Файлов: %1, свободно %2 %3").arg(files).arg(GroupedNumber(free), BytesWord(free));
}

void TForm1::Timer1Timer() {
    if (!FActivity && FState == formBusy) SetIdle();
    FActivity = false;
    // A port opened again has just been asked.
    if (CheckLine()) return;
    // The link check: while the device has not answered, ask again.
    if (!FLinkUp && LineOpen()) {
        if (!FSilentNote.isEmpty()) DeviceSilent(true);
        RunOperation(opInit);
    }
}

void TForm1::AfterOperation() {
    // Back to idle soon after the last sector transfer, once the link is
    // up: decided here, after the completion has been handled, so that the
    // initialisation that brought the link up counts too (a medium that
    // needs formatting sends no list request after it).
    if (FLinkUp && FState == formBusy) Timer1->setInterval(AfterOperationInterval);
    // A port whose device went during the request is closed now.
    CloseDroppedPort();
}

// ---------------------------------------------------------------- sector notifications

void TForm1::DoReadSector() { SectorNotification(lampYellow); }
void TForm1::DoWriteSector() { SectorNotification(lampRed); }

void TForm1::SectorNotification(TLamp lamp) {
    FActivity = true;
    if (LineOpen()) FRunner->Sector(lamp);
}

// ---------------------------------------------------------------- actions

void TForm1::OpenExecute() {
    const QStringList files = ExecOpenDialog ? ExecOpenDialog(*OpenDialog1) : QStringList();
    if (files.isEmpty()) return;
    // The next dialog, in this run or a later one, opens where these were.
    const QString folder = QFileInfo(files.first()).absolutePath();
    OpenDialog1->setDirectory(folder);
    if (FSettings) FSettings->SetOpenFolder(folder);
    AddFiles(files);
}

void TForm1::Action1Execute() { close(); }

void TForm1::AboutAcExecute() {
    if (ShowAboutHook) ShowAboutHook(this);
}

// ---------------------------------------------------------------- adding PC files

void TForm1::AddFiles(const QStringList& files) {
    FMyListBox->ReplaceAnswer = mrOk;
    // A path that is no readable file (a folder dropped with the files, a
    // file gone meanwhile) is named in one box at the end; the others are
    // added all the same.
    QStringList refused;
    for (const QString& path : files) {
        qint64 size = 0;
        const QString problem = UnreadablePcFile(path, size);
        if (!problem.isEmpty()) {
            refused << problem;
            continue;
        }
        const std::string utf8 = path.toStdString();
        const QString name = FromCp1251(ShortPathName(utf8));
        FMyListBox->AddEntry(name, static_cast<int32_t>(size), utf8, false);
    }
    if (!refused.isEmpty()) FMessageBoxes->Show(this, refused.join(QLatin1Char('\n')), TMsgDlgType::Error);
}

// ---------------------------------------------------------------- list drawing and selection

QColor TForm1::RowBackground(bool selected) const {
    const QPalette& pal = ListBox1->palette();
    return selected ? pal.color(QPalette::Active, QPalette::Highlight) : pal.color(QPalette::Active, QPalette::Base);
}

QColor TForm1::RowTextColor(int index, bool selected) const {
    const QPalette& pal = ListBox1->palette();
    if (index < 0 || index >= FMyListBox->Count() || !FMyListBox->Flags(index)) {
        // Rows that are not the medium's are grey, but never so pale that
        // they cannot be read, selected or not.
        return ReadableOn(pal.color(QPalette::Disabled, QPalette::Text), RowBackground(selected), ReadableContrast);
    }
    return selected ? pal.color(QPalette::Active, QPalette::HighlightedText)
                    : pal.color(QPalette::Active, QPalette::Text);
}

QString TForm1::ColumnText(int index, int column) const {
    switch (column) {
        case colName: return RowText(index);
        case colSize: return GroupedNumber(static_cast<uint64_t>(std::max(0, FMyListBox->Sizes(index))));
        case colPlace:
            return FMyListBox->Flags(index)       ? QStringLiteral("ZVT")
                   : FMyListBox->FolderRow(index) ? QStringLiteral("папка ПК")
                                                  : QStringLiteral("ПК");
        case colCompare: return QString::fromUtf8(CompareOutcomeText(FMyListBox->Compare(index)));
        default: return QString();
    }
}

void TForm1::ListBox1DrawItem(QPainter* painter, const QStyleOptionViewItem& option, int index) {
    if (!FMyListBox || index < 0 || index >= FMyListBox->Count()) return;
    const bool selected = option.state & QStyle::State_Selected;
    // The whole width of the row, however far the columns reach.
    QRect row = option.rect;
    row.setLeft(std::min(row.left(), 0));
    row.setRight(std::max(row.right(), ListBox1->viewport()->width() - 1));
    painter->fillRect(row, RowBackground(selected));
    QFont font = ListBox1->font();
    // A program of the compared folder is shown in italics: it is no
    // pending row and is not written.
    font.setItalic(FMyListBox->FolderRow(index));
    painter->setFont(font);
    painter->setPen(RowTextColor(index, selected));
    const int pad = QFontMetrics(font).horizontalAdvance(QLatin1Char('0')) / 2;
    for (int c = 0; c < ListColumnCount; ++c) {
        QRect cell = FListView->ColumnRect(c, option.rect);
        // The name starts at the row's edge; the other columns keep a
        // little room from their neighbours.
        if (c != colName) cell.adjust(pad, 0, -pad, 0);
        const Qt::Alignment align = (c == colSize ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignTop;
        const QString text = QFontMetrics(font).elidedText(ColumnText(index, c), Qt::ElideRight, cell.width());
        painter->drawText(cell, align | Qt::TextSingleLine, text);
    }
}

QString TForm1::RowText(int index) const {
    const QString name = FMyListBox->DisplayName(index);
    if (FMyListBox->Flags(index) || !FMyListBox->Replaces(index)) return name;
    return name + QStringLiteral("   \u21c4 заменит файл на флэш");
}

int TForm1::ItemAt(QPoint pos) const {
    if (pos.x() < 0 || pos.y() < 0) return -1;
    const QModelIndex idx = ListBox1->indexAt(pos);
    return idx.isValid() ? idx.row() : -1;
}

void TForm1::SelectRow(int row, bool select) {
    if (QListWidgetItem* item = ListBox1->item(row)) item->setSelected(select);
}

void TForm1::ListBox1MouseDown(Qt::MouseButton button, Qt::KeyboardModifiers modifiers, QPoint pos) {
    if (button != Qt::LeftButton) return;
    FPressPoint = pos;
    FPressKeptSelection = -1;
    const int hit = ItemAt(pos);
    if (!(modifiers & (Qt::ControlModifier | Qt::ShiftModifier)) && hit >= 0 && ListBox1->item(hit)->isSelected()) {
        // Perhaps the start of a drag of the whole selection.
        FPressKeptSelection = hit;
    } else if (!(modifiers & Qt::ControlModifier)) {
        ListBox1->clearSelection();
        if (hit >= 0) SelectRow(hit, true);
    } else if (hit >= 0) {
        // The list's own Ctrl+click: the row is toggled, the rest kept.
        SelectRow(hit, !ListBox1->item(hit)->isSelected());
    }
    if ((modifiers & Qt::ShiftModifier) && FAnchorPoint != QPoint(-1, -1)) {
        const int a = ItemAt(FAnchorPoint);
        const int b = hit;
        if (a >= 0 && b >= 0)
            for (int i = qMin(a, b); i <= qMax(a, b); ++i) SelectRow(i, true);
    }
    FAnchorPoint = FPressPoint;
    if (hit >= 0)
        ListBox1->selectionModel()->setCurrentIndex(ListBox1->model()->index(hit, 0), QItemSelectionModel::NoUpdate);
}

void TForm1::ListBox1MouseUp(Qt::MouseButton button, QPoint) {
    if (button != Qt::LeftButton) return;
    // A click on a selected row without a drag: that row alone, as any click.
    if (FPressKeptSelection >= 0 && FPressKeptSelection < ListBox1->count()) {
        ListBox1->clearSelection();
        SelectRow(FPressKeptSelection, true);
    }
    FPressKeptSelection = -1;
    FDragArmed = false;
    FPressPoint = QPoint(-1, -1);
}

void TForm1::ListBox1MouseMove(Qt::MouseButtons buttons, QPoint pos) {
    if (FDragOutActive || !(buttons & Qt::LeftButton)) return;
    if (!FDragArmed) {
        FDragArmed = true;
        const int hit = ItemAt(FPressPoint);
        if (hit >= 0) SelectRow(hit, true);
    }
    if (!DragOutStarts(FPressPoint, pos)) return;
    FPressPoint = QPoint(-1, -1);
    FPressKeptSelection = -1;
    // The drag swallows the button's release, so ListBox1MouseUp does not
    // come after it: the flags are cleared here, however the drag ended.
    struct TDragFlags {
        bool& Active;
        bool& Armed;
        ~TDragFlags() { Active = Armed = false; }
    } flags{FDragOutActive, FDragArmed};
    FDragOutActive = true;
    DragOut();
}

bool TForm1::ListBox1KeyDown(int key, Qt::KeyboardModifiers modifiers) {
    if (key == Qt::Key_A && (modifiers & Qt::ControlModifier)) {
        ListBox1->selectAll();
        return true;
    }
    return false;
}

bool TForm1::eventFilter(QObject* watched, QEvent* e) {
    // While the progress window is up the list takes no clicks or keys.
    if (FProgress && (watched == FListViewport || watched == ListBox1)) {
        switch (e->type()) {
            case QEvent::MouseButtonPress:
            case QEvent::MouseButtonDblClick:
            case QEvent::MouseButtonRelease:
            case QEvent::MouseMove:
            case QEvent::KeyPress:
            case QEvent::KeyRelease:
            case QEvent::Wheel: return true;
            default: break;
        }
    }
    if (FListViewport && watched == FListViewport) {
        switch (e->type()) {
            case QEvent::MouseButtonPress:
            case QEvent::MouseButtonDblClick: {
                auto* me = static_cast<QMouseEvent*>(e);
                ListBox1->setFocus(Qt::MouseFocusReason);
                Guarded([&] { ListBox1MouseDown(me->button(), me->modifiers(), me->position().toPoint()); });
                return true;
            }
            case QEvent::MouseButtonRelease: {
                auto* me = static_cast<QMouseEvent*>(e);
                Guarded([&] { ListBox1MouseUp(me->button(), me->position().toPoint()); });
                return true;
            }
            case QEvent::MouseMove: {
                auto* me = static_cast<QMouseEvent*>(e);
                Guarded([&] { ListBox1MouseMove(me->buttons(), me->position().toPoint()); });
                return true;
            }
            default: break;
        }
    } else if (ListBox1 && watched == ListBox1 && e->type() == QEvent::KeyPress) {
        auto* ke = static_cast<QKeyEvent*>(e);
        if (ListBox1KeyDown(ke->key(), ke->modifiers())) return true;
    }
    return QMainWindow::eventFilter(watched, e);
}

}  // namespace skarvel
