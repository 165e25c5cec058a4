// The main window: the file list, the two tool bars, the menu, the status
// line and the two lamps. It owns the device driver (which is the flash
// worker too), posts requests to it and shows what it reports.
//
// The window's code is in four files: main_form.cpp builds the window and
// runs the lamps, the timer and the list's input; main_form_ports.cpp
// opens and releases the port, watches for it while it is missing and
// follows ports plugged in and pulled; main_form_transfers.cpp holds the commands (write, load, delete, re-read,
// format), the jobs they post with their progress window, the completion
// handler and the row changes the worker asks for; main_form_dnd.cpp holds
// drag and drop with the desktop (files dropped on the window, rows dragged
// out of the list); main_form_images.cpp holds the whole-medium image
// commands (backup, restore), the journal, and the window's work on an
// image file instead of the port; main_form_view.cpp holds viewing (F3) and
// the compare with a PC folder, whose windows are ui/program_viewer.h and
// ui/diff_form.h. What runs on the worker thread is the transfer runner's
// (ui/transfer_runner.h).
//
// The window works either on the serial port, through the device driver,
// or on a medium image file, through a worker whose transport is the file
// (flashfs/image_transport.h); the requests, the runner and the lamps are
// the same for both, and only the line's own care (open, release, the port
// settings, the link check's reopen) differs.
//
// Threads: everything runs on the GUI thread except the driver's hooks that
// FormCreate installs: the command hook (the runner's Execute) and the
// sector notifications DoReadSector / DoWriteSector, which run on the worker
// thread. The worker never touches a widget or the list model: it waits for
// the GUI thread where the order matters (the row changes, through
// TMainThread::Call) and hands everything else over in batches
// (TWorkerReports). The fields below say which thread owns each.
#pragma once

#include <QEvent>
#include <QList>
#include <QMainWindow>
#include <QPoint>
#include <QPointer>
#include <QStringList>
#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "link/cport.h"
#include "flashfs/folder_compare.h"
#include "ui/lamps.h"
#include "ui/transfer_runner.h"
#include "ui/worker_reports.h"

class QAction;
class QFileDialog;
class QFrame;
class QLabel;
class QListWidget;
class QMenu;
class QPainter;
class QStyleOptionViewItem;
class QTimer;
class QToolBar;
class QVBoxLayout;

namespace skarvel {

class TDataObject;
class TDiffForm;
class TProgramViewer;
class TFileDropAcceptor;
class TFlash;
class TImageWorker;
class TJournal;
class TJournalForm;
class TFileListView;
class TMessageBoxes;
class TMyListBox;
class TPortWatch;
class TQtMainThread;
class TSettings;
class TTextToolBar;
struct TPortChange;
class TWindowTarget;
class TZVT_drv;
class TprogressForm;

// The worker's completion message, delivered to the window as a Qt event.
class TFlashMessageEvent : public QEvent {
public:
    static QEvent::Type EventType();
    TFlashMessageEvent(uint32_t msg, uintptr_t wParam, intptr_t lParam)
        : QEvent(EventType()), Msg(msg), WParam(wParam), LParam(lParam) {}
    uint32_t Msg;
    uintptr_t WParam;
    intptr_t LParam;
};

struct TFormOptions {
    // The port to start with; empty keeps the driver's own ("COM2").
    std::string Port;
    // What the window remembers between runs (the window's place, the
    // dialogs' folders, the line settings); null: nothing is read or kept.
    TSettings* Settings = nullptr;
    // The port dialog's OK also remembers the port and its line settings
    // (not when the port was given for this run only).
    bool RememberPort = true;
    // Said in the status line while nothing else is: how the port was
    // chosen ("the only USB adapter").
    QString PortNote;
    // Ports plugged in and pulled are followed (TPortWatch).
    bool WatchPorts = true;
    // Where message boxes go; null: the real boxes.
    TMessageBoxes* Messages = nullptr;
    // False leaves Timer1 stopped (tests call Timer1Timer themselves).
    bool StartTimer = true;
    // Runs right after the driver is created, before the port is opened.
    std::function<void(TZVT_drv&)> ConfigureDriver;
    // A medium image file to work on instead of the port (UTF-8); the port
    // options are then unused.
    std::string Image;
    // The transfer journal's file; empty: the user's own (DefaultJournalPath).
    std::string JournalPath;
    // The file the window's settings are kept in between starts (an INI
    // file); empty: the user's settings of the program.
    QString SettingsFile;
};

// One request of the window to the worker, from RunOperation until its
// completion has been handled; the request's argument points to its
// TTransferJob.
struct TOperationJob : TTransferJob {
    // Called on the GUI thread when the completion arrives, before it is
    // handled, with the result and the names the request left undone.
    std::function<void(uint8_t result, const std::vector<QString>& undone)> OnDone;
    // Called just before OnDone with the job's files as the worker left
    // them (a read's bytes are in their Data).
    std::function<void(std::vector<TTransferFile>& files)> OnFiles;
};

// Whether the window is working: busy once sector frames are reported (the
// medium's actions disabled), idle again when a tick of Timer1 finds that
// none moved since the tick before, or when the port is released.
enum TFormState : uint8_t { formBusy = 1, formIdle = 2 };

// The icons of the actions, as the image list holds them.
enum TActionIcon : int {
    iconNone = -1,
    iconOpen = 0,
    iconWrite,
    iconRefresh,
    iconLoad,
    iconPortSettings,
    iconPortOpen,    // the port is open (the action releases it)
    iconPortClosed,  // the port is released (the action opens it)
    iconDelete,
    IconCount
};

class TForm1 : public QMainWindow, private TTransferRows {
    Q_OBJECT
public:
    explicit TForm1(const TFormOptions& options = {}, QWidget* parent = nullptr);
    ~TForm1() override;

    // The About window, shown by AboutAc (installed by the program entry).
    static std::function<void(QWidget* owner)> ShowAboutHook;

    // ---- components
    QMenu *N1, *N2, *N3, *N4;  // "&Файл", "&ZVT", "&Настройка", "&Помощь"
    QTimer* Timer1;
    QListWidget* ListBox1;
    QFileDialog* OpenDialog1;
    QAction *Action1, *Action2, *MenuSave, *Action4, *Action5, *Action7, *Action8, *DelFileFlash;
    QAction *Open, *AboutAc;
    // "Сохранить образ…", "Восстановить из образа…", "Журнал"
    QAction *SaveImageAc, *RestoreImageAc, *JournalAc;
    QAction *ViewAc, *CompareFolderAc, *CompareAc;  // "Просмотр", "Сравнить с папкой…", "Сравнить"
    // "Проверять запись": every written file is read back and compared
    // (checked, in the menu "Настройка"; remembered between starts).
    QAction* MenuVerify;
    QList<QAction*> ActionList1, ActionList2;
    QMenu* PopupMenu1;
    QFrame *Panel1, *Panel2, *Panel3, *Panel4, *Panel5, *Panel6;
    QLabel *Label1, *Label2, *Label3;
    QLabel* LabelSummary;  // "Файлов: 12, свободно 1 884 160 байт" while idle
    QLabel *Image1, *Image2;  // link lamp, access lamp
    QToolBar* ToolBar1;
    TTextToolBar* ToolBar2;

    // Runs the open dialog and returns the files chosen (nothing when it is
    // cancelled). Tests replace it.
    std::function<QStringList(QFileDialog&)> ExecOpenDialog;
    // Asks for the folder a load writes into (the folder choice dialog);
    // false when the user cancels. The folder ends with a path separator.
    // Tests replace it.
    std::function<bool(QString& folder)> ExecFolderDialog;
    // Runs the desktop's drag of data out of the list (TFileSource) and
    // returns the action the target took; data is the callee's from here
    // on. Tests replace it.
    std::function<Qt::DropAction(TDataObject* data)> ExecDragDrop;
    // Asks for a medium image file: one to save a backup as (save true) or
    // one to restore from; empty when the user cancels. Tests replace it.
    std::function<QString(bool save)> ExecImageDialog;
    // Asks for the PC folder to compare the medium with, starting at folder
    // (the last one compared); false when the user cancels. Only reads are
    // done there, so any folder that can be listed will do. Tests replace it.
    std::function<bool(QString& folder)> ExecCompareFolderDialog;

    // ---- window routines
    // Opens the port and asks the device; from now on the window wants the
    // port open and opens it again whenever it can (when it appears, and at
    // the link check's ticks). When it cannot be opened now, the error
    // (naming the port) is thrown, and the window waits for it.
    void OpenPort();
    // Releases the port; the window no longer wants it open.
    void ClosePort();
    void SetBusy();
    void SetIdle();
    void ShowStatus(const QString& text);
    void Timer1Timer();
    // Posts the request op; a delete, write or load takes the files FNames
    // names, each as its row is now, and shows the progress window until
    // the operation ends or the user cancels. onDone becomes the request's
    // OnDone.
    void RunOperation(uint8_t op, std::function<void(uint8_t, const std::vector<QString>&)> onDone = {});
    void AddFiles(const QStringList& files);

    // ---- action handlers
    void OpenExecute();
    void MenuSaveExecute();
    void Action4Execute();
    void Action5Execute();
    void DelFileFlashExecute();
    void Action2Execute();
    void Action1Execute();
    void Action7Execute();
    void Action8Execute();
    void AboutAcExecute();
    // main_form_images.cpp
    void SaveImageExecute();
    void RestoreImageExecute();
    void JournalAcExecute();

    // ---- viewing and comparing (main_form_view.cpp)
    // F3: the selected row's text in a viewer window: a file of the medium
    // read from the device (the progress window appears when the read takes
    // more than a moment), a pending or folder row's PC file read from disk.
    // Nothing is written anywhere.
    void ViewExecute();
    // Compares every file of the medium with the file of its 8.3 name in a
    // folder the user picks; the outcomes go into the list's compare column,
    // the folder's programs missing on the medium become folder rows, until
    // the list is read again.
    void CompareFolderExecute();
    // The selected row's pair of the last compare side by side.
    void CompareExecute();
    // The viewer and compare windows opened last (null once closed).
    TProgramViewer* Viewer() const;
    TDiffForm* DiffWindow() const;
    // The folder the medium was last compared with (empty: none yet).
    const QString& CompareFolder() const { return FCompareFolder; }

    // ---- worker thread: the driver's sector notifications
    void DoReadSector();
    void DoWriteSector();

    // ---- completion of a request (GUI thread); after a write FNames holds
    // the names it left undone
    void WMOperationDone(uint8_t op, uint8_t result);

    // ---- list events (viewport coordinates)
    void ListBox1DrawItem(QPainter* painter, const QStyleOptionViewItem& option, int index);
    void ListBox1MouseDown(Qt::MouseButton button, Qt::KeyboardModifiers modifiers, QPoint pos);
    void ListBox1MouseUp(Qt::MouseButton button, QPoint pos);
    void ListBox1MouseMove(Qt::MouseButtons buttons, QPoint pos);
    bool ListBox1KeyDown(int key, Qt::KeyboardModifiers modifiers);

    // ---- drag and drop with the desktop (main_form_dnd.cpp)
    // The paths a drag-out of the selected rows offers, in row order: a
    // medium row's file in the staging folder, a pending row's own PC path.
    // A medium name that cannot be a file name on the PC gives no path; it
    // goes to unfit instead.
    void CollectDragPaths(QStringList& paths, QStringList& unfit) const;
    // Loads the medium's files among paths into the staging folder (the
    // ordinary load with its progress window) and returns once the load has
    // ended. paths then keeps only what the desktop may be given: the
    // pending rows' paths and the files this load has written; a file it
    // failed to load or did not reach is left out, whatever an earlier
    // drag left in the staging folder under its name.
    void StageDragFiles(QStringList& paths);
    // Whether files dragged onto the window are taken now: not while a
    // drag-out of the list runs, nor while a transfer's progress window is up.
    bool AcceptsDrop() const;
    // Files dropped on the window, or handed to it from the desktop (the
    // command line, a later start of the program): they become pending rows
    // as AddFiles makes them, when the window takes drops now (AcceptsDrop);
    // false, and nothing added, when it does not.
    bool DropFiles(const QStringList& files);
    // Colour of a row's text: window text for the medium's rows, highlight
    // text when such a row is selected, grey text for the other rows, as
    // readable on their background (RowBackground) as ReadableContrast.
    QColor RowTextColor(int index, bool selected) const;
    QColor RowBackground(bool selected) const;
    // The least contrast of a row's text on its background.
    static constexpr double ReadableContrast = 4.5;
    // What row index shows in a column (TListColumn).
    QString ColumnText(int index, int column) const;
    // The status line's right part while idle: the medium's file count and
    // free space; empty while the medium is not listed.
    QString SummaryText() const;
    // What a row shows: its name, and for a replacement the marker that
    // says the medium's file of that name is to be replaced.
    QString RowText(int index) const;

    // ---- state, for the window's own routines and for tests
    // The device driver; null while the window works on an image file.
    TZVT_drv* Driver() const { return FDriver; }
    // The flash worker the requests go to: the driver, or the image's.
    TFlash& Worker() const { return *FWorker; }
    // The image file the window works on; empty on the port.
    const std::string& ImagePath() const { return FImagePath; }
    TJournal& Journal() const { return *FJournal; }
    TJournalForm* JournalWindow() const { return FJournalForm; }
    TMyListBox* MyListBox() const { return FMyListBox; }
    TMessageBoxes& Messages() const { return *FMessageBoxes; }
    bool LinkUp() const { return FLinkUp.load(); }
    TFormState State() const { return FState; }
    TLamp LinkLamp() const { return FLinkLamp; }
    TLamp AccessLamp() const { return FAccessLamp; }
    // The text of a result code: the worker's own texts, but for the codes
    // the window numbers its failures on the PC side with (TPcResult),
    // whose texts are the window's; pcMissing has a prompt instead.
    QString MessageText(int code) const;
    // The text of a result as a message box says it: for a fault of this
    // program what the exception said, too.
    QString ErrorText(uint8_t result) const;
    // The file the worker is at, or was at when its last request ended.
    QString CurrentFile() const;
    const std::vector<QString>& Names() const { return FNames; }
    // The progress window of the running operation, if one is shown.
    TprogressForm* Progress() const { return FProgress; }
    // Rows waiting to be written to the medium.
    int PendingCount() const;
    // Outstanding requests that change the medium or PC files (not the
    // initialisation and the list, which the port's release cuts short).
    bool TransferRunning() const;
    // The port is wanted open but is not (missing, taken, or its line gone):
    // it is opened as soon as it can be.
    bool WaitingForPort() const { return FPortWanted && !PortOpen(); }
    bool PortOpen() const;
    // A port came or went (GUI thread; the port watch calls it).
    void PortChanged(const TPortChange& change);

signals:
    // After a completion message has been handled.
    void OperationDone(int op, int result);
    // The progress of the operation that the progress window shows.
    void ProgressStarted(int total);
    void FileStarted(int total, const QString& text);
    void ProgressStepped(int steps);
    void ProgressFinished();

protected:
    bool event(QEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;
    void closeEvent(QCloseEvent* e) override;

private:
    // ---- creation and helpers (main_form.cpp)
    void FormCreate(const TFormOptions& options);
    void FormDestroy();
    // The window's parts, region by region from the top; each adds its
    // widgets to the window's column.
    void CreateComponents();
    void CreateActions();
    void ConnectActions();
    void CreateMenus();
    void CreateLamps(QVBoxLayout* column);
    void CreateIconToolBar(QVBoxLayout* column);
    void CreateList(QVBoxLayout* column);
    void CreateTextToolBar(QVBoxLayout* column);
    void CreateStatusLine(QVBoxLayout* column);
    void CreateTimers();
    // The driver and flash worker with the hooks that run on its thread.
    void CreateDriver(const TFormOptions& options);
    void FillMessages();
    QAction* MakeAction(const QString& caption, const QString& hint, const QStringList& shortcuts, TActionIcon icon);
    void SetActionImage(QAction* action, TActionIcon icon);
    void SetLamp(QLabel* lamp, TLamp colour);
    void PostToWindow(std::function<void()> fn);
    void Guarded(const std::function<void()>& fn);
    // An action handler: errors shown, the list keeps the keyboard after it.
    void RunAction(const std::function<void()>& fn);
    void ShowException(const std::exception& e);
    void ShowIdleStatus();
    int ItemAt(QPoint pos) const;
    void SelectRow(int row, bool select);
    // ---- the port (main_form_ports.cpp)
    // The link is gone (a failed transfer or a hung-up line): lamp dark,
    // the medium's rows removed, the link check asks again.
    void LinkLost();
    // The device did not answer the identification (asking: the link check
    // asks it again now).
    void DeviceSilent(bool asking);
    // What needs the device is enabled only while the link is up.
    void EnableDeviceActions();
    // The link check's care of the port: a line that hung up is closed, a
    // port that is wanted is opened again, quietly, until the device is
    // back. True when it opened the port (and so asked the device).
    bool CheckLine();
    // The port's device has gone: the link drops at once and the port is
    // closed as soon as no request uses it; the window waits for it.
    void DropPort();
    // Closes the port whose device has gone, once no request is out.
    void CloseDroppedPort();
    // Opens the wanted port without a word when it fails; true when open.
    bool ReopenPort();
    // The message for a port that cannot be opened: the port's error, the
    // port's name and what the window does about it.
    QString OpenFailureText(const EComPort& e) const;
    void StartPortWatch();
    // The window's place and its dialogs' folders, from and to the settings.
    void RestoreSettings();
    void KeepSettings();
    // A sector frame was built (worker thread).
    void SectorNotification(TLamp lamp);
    // After a completion has been handled: the quick return to idle, and a
    // port whose device has gone is closed.
    void AfterOperation();
    // Whether the window may close with its pending rows unwritten: asked
    // when there are any; true when there are none.
    bool ConfirmQuit();

    // ---- commands and completions (main_form_transfers.cpp)
    TOperationJob* NewJob(uint8_t op);
    // How the job of op treats the file name, as its row shows it now.
    TTransferFile FileOfJob(uint8_t op, const QString& name) const;
    std::unique_ptr<TOperationJob> AdoptJob(intptr_t lParam);
    // Shows the progress window for job until it ends; with showAfterMs the
    // window appears only after that long.
    void ShowProgress(TOperationJob& job, int showAfterMs = 0);
    void CancelOperations();
    void TakeReports();
    void InitDone(uint8_t result);
    void ListDone(uint8_t& result);
    void WriteDone(uint8_t& result);
    bool CopyPendingForLoad(int row, int& answer, TWindowResult& code);
    bool ExecFolderChoice(QString& folder);
    // The rows the runner changes in step with the medium (GUI thread).
    void RemoveRow(const QString& name) override;
    void MediumRow(const QString& name, const QString& shown, uint32_t size) override;
    void OldCopyGone(const QString& name) override;
    // A replace found no room for the new copy beside the old one: asks
    // whether the old one may go first, and writes on.
    void NoRoomForCopy(uint8_t& result);
    // ---- what a command did, for its closing message
    // The files a write, load or delete was asked for, as its jobs end
    // (a write may take several, one after each question).
    struct TBatch {
        uint8_t Op = 0;
        int Total = 0;
        int Done = 0;
        int Skipped = 0;
        QString Stopped;  // the file the last job stopped at
        QString Report;   // what the read-back of that file found
    };
    void StartBatch(uint8_t op, int total);
    void CountJob(const TTransferJob& job);
    // "; загружено файлов: 2 из 5", and the files skipped.
    QString BatchCounts() const;
    // The closing message of a load or delete that did not end well, or of
    // a load that skipped files.
    void ReportBatch(uint8_t op, uint8_t result);
    // Whether the load may write name into the folder: asked when a file of
    // that name is there. answer keeps "for all" across one load.
    bool MayOverwrite(const QString& folder, const QString& name, int& answer);
    // The window's settings (GUI thread).
    void LoadSettings();
    void SaveSettings() const;

    // ---- the line and the images (main_form_images.cpp)
    // The line is open: the port, or the image file.
    bool LineOpen() const;
    void OpenImageLine();
    // The image file's part of opening and releasing the line (OpenPort,
    // ClosePort): the file is locked while the window has it open.
    void OpenImageFile();
    void CloseImageFile();
    // The line as the journal names it.
    std::string LineName() const;
    // The worker has a mounted volume on an open line.
    bool WorkerReady();
    void CreateImageWorker(const TFormOptions& options);
    void CreateJournal(const TFormOptions& options);
    // The end of a backup or a restore: what it did, in a box.
    void ImageDone(const TOperationJob& job, uint8_t result);
    QString AskImageFile(bool save);
    void ShowJournalWarning();
    // ---- viewing and comparing (main_form_view.cpp)
    // Reads the medium's files names into memory with the progress window;
    // done gets the files once the worker has finished with them (also after
    // a cancel or a failure: each file's State says how far it came).
    void ReadMediumFiles(const std::vector<QString>& names, std::function<void(std::vector<TTransferFile>&)> done);
    // The row F3 and "Сравнить" act on: the current row when it is selected,
    // else the first selected one; -1 when none is.
    int ChosenRow() const;
    bool ReadPcForView(const QString& path, std::vector<uint8_t>& bytes);
    void PlaceOver(QWidget* window) const;
    void OpenViewer(const QString& name, const QString& where, std::vector<uint8_t> bytes);
    // The outcomes of a compare into the list.
    void ShowCompare(const std::vector<TCompareRow>& rows, const QString& folder);

    // ---- drag and drop (main_form_dnd.cpp)
    void CreateDropTarget();
    // The drag-out of the selected rows, with FDragOutActive set.
    void DragOut();

    // ---- GUI thread
    TZVT_drv* FDriver = nullptr;         // on the port
    std::unique_ptr<TImageWorker> FImageWorker;  // on an image file
    TFlash* FWorker = nullptr;           // whichever of the two
    std::string FImagePath;
    std::unique_ptr<TJournal> FJournal;  // appended to on the worker thread
    QString FJournalWarning;             // to show once no progress window is up
    TJournalForm* FJournalForm = nullptr;
    TprogressForm* FProgress = nullptr;  // while RunOperation shows it
    uint32_t FProgressJob = 0;           // the request it shows
    std::vector<QString> FMessages;
    TFormState FState = formIdle;
    std::vector<QString> FNames;
    QPoint FPressPoint{-1, -1};
    QPoint FAnchorPoint{-1, -1};
    bool FDragOutActive = false;
    bool FDragArmed = false;
    // A press on a row that was already selected keeps the selection, so
    // that a drag takes every selected row; the release without a drag
    // selects that row alone, as a click does.
    int FPressKeptSelection = -1;
    std::unique_ptr<TFileDropAcceptor> FDropAcceptor;
    TMyListBox* FMyListBox = nullptr;
    TFileListView* FListView = nullptr;  // ListBox1 itself
    QWidget* FListViewport = nullptr;
    QString FTargetFolder;
    std::vector<std::unique_ptr<TOperationJob>> FJobs;  // posted, completion not yet handled
    uint32_t FLastJobId = 0;
    // The worker's text for a medium that needs formatting; shown in the
    // status line instead of "ожидание" until the medium is formatted.
    QString FMediumNote;
    // Shown instead of "ожидание" (when there is no medium note): the port
    // the window waits for, else how the port was chosen at start.
    QString FWaitNote;
    QString FChoiceNote;
    // The open port's device has not answered: said instead of "ожидание",
    // with the link check's next try.
    QString FSilentNote;
    bool FPortWanted = false;    // the user wants the port open (OpenPort until ClosePort)
    bool FPortLost = false;      // the line hung up; the link check reopens the port
    bool FPortGone = false;      // the device went during a request: close the port after it
    TSettings* FSettings = nullptr;
    bool FRememberPort = true;
    bool FLoadFolderRestored = false;  // the first load dialog of the run opens at the remembered folder
    std::unique_ptr<TPortWatch> FPortWatch;  // its calls run on this thread
    bool FClosePending = false;  // close once the running transfer has ended
    TLamp FLinkLamp = lampBlack;
    TLamp FAccessLamp = lampBlack;
    QTimer* FReportTimer = nullptr;  // takes the worker's reports while they come
    std::unique_ptr<TQtMainThread> FMain;
    std::unique_ptr<TWindowTarget> FWindowTarget;
    TMessageBoxes* FMessageBoxes = nullptr;
    QPointer<TProgramViewer> FViewer;
    QPointer<TDiffForm> FDiff;
    QString FCompareFolder;               // the folder last compared with
    std::vector<TCompareRow> FCompareRows;  // its pairs, until the list is read again
    QString FSettingsFile;
    TBatch FBatch;
    // The medium rows whose files a load may write over a file of the same
    // name in its folder (the user said so); a staging load for a drag-out
    // writes over its own earlier copies.
    QStringList FMayOverwrite;
    bool FStagingLoad = false;
    // Replacements whose old file the user let go before the new one is
    // saved, the medium having no room for both.
    QStringList FDeleteFirst;

    // ---- worker side: the runner runs the requests on the worker thread;
    // created with the driver and gone only after the worker has stopped
    std::unique_ptr<TTransferRunner> FRunner;

    // ---- shared
    std::atomic<bool> FActivity{false};  // a sector moved since the last tick
    std::atomic<bool> FLinkUp{false};
    TWorkerReports FReports;
};

// Converts a filter of the form "text|patterns|text|patterns" (patterns
// separated by ";") to Qt's syntax, keeping the texts.
QString ToQtFilter(const QString& filter);

}  // namespace skarvel
