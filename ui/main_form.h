// The main window: the file list, the two tool bars, the menu, the status
// line and the two lamps. It owns the device driver (which is the flash
// worker too), posts requests to it and shows what it reports.
//
// Threads: everything here runs on the GUI thread except ExecuteCommand (the
// worker's command hook) and DoReadSector / DoWriteSector (the driver's
// notifications), which run on the worker thread and post every change of
// the window to the GUI thread.
#pragma once

#include <QEvent>
#include <QList>
#include <QMainWindow>
#include <QPoint>
#include <QStringList>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "flashfs/file_list.h"

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

namespace skarvel {

class TMessageBoxes;
class TMyListBox;
class TQtMainThread;
class TTextToolBar;
class TWindowTarget;
class TZVT_drv;

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
    // Where message boxes go; null: the real boxes.
    TMessageBoxes* Messages = nullptr;
    // False leaves Timer1 stopped (tests call Timer1Timer themselves).
    bool StartTimer = true;
    // Runs right after the driver is created, before the port is opened.
    std::function<void(TZVT_drv&)> ConfigureDriver;
};

class TForm1 : public QMainWindow {
    Q_OBJECT
public:
    // The window's message table: the worker's texts 0..11 and the window's
    // own 12..14 (PC-side failures).
    static constexpr int MessageCount = 15;
    // Operation code meaning "no progress window".
    static constexpr uint8_t NoProgressOp = 11;

    explicit TForm1(const TFormOptions& options = {}, QWidget* parent = nullptr);
    ~TForm1() override;

    // The About window, shown by AboutAc (installed by the program entry).
    static std::function<void(QWidget* owner)> ShowAboutHook;

    // ---- components
    QMenu *N1, *N2, *N3, *N4;  // "&Файл", "&ZVT", "Настройка", "Помощь"
    QTimer* Timer1;
    QListWidget* ListBox1;
    QFileDialog* OpenDialog1;
    QAction *Action1, *Action2, *MenuSave, *Action4, *Action5, *Action7, *Action8, *DelFileFlash;
    QAction *Open, *AboutAc;
    QList<QAction*> ActionList1, ActionList2;
    QMenu* PopupMenu1;
    QFrame *Panel1, *Panel2, *Panel3, *Panel4, *Panel5, *Panel6;
    QLabel *Label1, *Label2, *Label3;
    QLabel *Image1, *Image2;  // link lamp, access lamp
    QToolBar* ToolBar1;
    TTextToolBar* ToolBar2;

    // Runs the open dialog and returns the files chosen (nothing when it is
    // cancelled). Tests replace it.
    std::function<QStringList(QFileDialog&)> ExecOpenDialog;

    // ---- window routines
    void OpenPort();
    void ClosePort();
    void SetBusy();
    void SetIdle();
    void ShowStatus(const QString& text);
    void Timer1Timer();
    void RunOperation(uint8_t op);
    void AddFiles(const QStringList& files);

    // ---- action handlers
    void OpenExecute();
    void Action1Execute();
    void Action4Execute();
    void Action7Execute();
    void Action8Execute();
    void AboutAcExecute();

    // ---- worker thread
    uint8_t ExecuteCommand(uint8_t op, uint8_t& result, void* param);
    void DoReadSector();
    void DoWriteSector();

    // ---- completion of a request (GUI thread)
    void WMOperationDone(uint8_t op, uint8_t result);

    // ---- list events (viewport coordinates)
    void ListBox1DrawItem(QPainter* painter, const QStyleOptionViewItem& option, int index);
    void ListBox1MouseDown(Qt::MouseButton button, Qt::KeyboardModifiers modifiers, QPoint pos);
    void ListBox1MouseUp(Qt::MouseButton button, QPoint pos);
    void ListBox1MouseMove(Qt::MouseButtons buttons, QPoint pos);
    bool ListBox1KeyDown(int key, Qt::KeyboardModifiers modifiers);
    // Colour of a row's text: window text for the medium's rows, highlight
    // text when such a row is selected, gray text for pending rows.
    QColor RowTextColor(int index, bool selected) const;

    // ---- state, for the window's own routines and for tests
    TZVT_drv* Driver() const { return FDriver; }
    TMyListBox* MyListBox() const { return FMyListBox; }
    TMessageBoxes& Messages() const { return *FMessageBoxes; }
    bool LinkUp() const { return FLinkUp.load(); }
    uint8_t State() const { return FState; }
    int LinkLamp() const { return FLinkLamp; }
    int AccessLamp() const { return FAccessLamp; }
    const QString& MessageText(int code) const;
    QString CurrentFile() const;
    void SetCurrentFile(const QString& name);

signals:
    // After a completion message has been handled.
    void OperationDone(int op, int result);

protected:
    bool event(QEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;
    // Where a drag-out of the selected rows would start (a press and a move
    // of more than one pixel); it carries no drag yet.
    virtual void StartDragOut();

private:
    void FormCreate(const TFormOptions& options);
    void FormDestroy();
    void CreateComponents();
    QAction* MakeAction(const QString& caption, const QString& hint, const QStringList& shortcuts, int image);
    void SetActionImage(QAction* action, int image);
    void SetLamp(QLabel* lamp, int index);
    void SectorNotification(int lamp);
    void PostToWindow(std::function<void()> fn);
    void Guarded(const std::function<void()>& fn);
    void ShowException(const std::exception& e);
    bool RemoveFromMedium(const QString& name);
    int ItemAt(QPoint pos) const;
    void SelectRow(int row, bool select);

    uint8_t FProgressOp = NoProgressOp;
    TZVT_drv* FDriver = nullptr;
    std::atomic<bool> FCancel{false};
    std::vector<QString> FMessages;
    uint8_t FState = 2;
    std::atomic<bool> FActivity{false};
    std::vector<std::string> FNames;
    QPoint FPressPoint{-1, -1};
    QPoint FAnchorPoint{-1, -1};
    bool FDragOutActive = false;
    bool FDragArmed = false;

    TMyListBox* FMyListBox = nullptr;
    QWidget* FListViewport = nullptr;
    std::atomic<bool> FLinkUp{false};
    mutable std::mutex FCurrentFileMutex;
    QString FCurrentFile;
    QString FTargetFolder;

    std::unique_ptr<TQtMainThread> FMain;
    std::unique_ptr<TWindowTarget> FWindowTarget;
    TMessageBoxes* FMessageBoxes = nullptr;
    int FLinkLamp = 3;
    int FAccessLamp = 3;
    // The medium's list as the last list request read it (copied on the
    // worker thread, so that a later request cannot change it under the
    // completion handler).
    std::mutex FListMutex;
    TFileList FListFiles;
};

// Converts a filter of the form "text|patterns|text|patterns" (patterns
// separated by ";") to Qt's syntax, keeping the texts.
QString ToQtFilter(const QString& filter);

}  // namespace skarvel
