// The progress window of the transfers that move files (delete, write,
// load, and the reads of the viewer and the compare): the current file with
// its bar, a bar for the whole operation and the cancel button; around them
// which file of how many, the share done, the bytes moved, the rate and the
// time left (TProgressInfo, shown at most every 200 ms). It lives for one operation; the main window creates it,
// and the window follows the main window's progress signals (Follow).
//
// Threads: GUI thread only. The worker's progress reaches it through the
// main window's signals, which are emitted on the GUI thread.
#pragma once

#include <QDialog>
#include <functional>
#include <memory>

class QFrame;
class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;

namespace skarvel {

class TForm1;
class TProgressInfo;

class TprogressForm : public QDialog {
    Q_OBJECT
public:
    explicit TprogressForm(QWidget* owner = nullptr);
    ~TprogressForm() override;

    QFrame* Panel1;
    QProgressBar* ProgressBar1;  // the whole operation
    QPushButton* Button1;        // "Отмена": the cancel button, Esc presses it too
    QLabel* Label1;              // the current file's caption
    QProgressBar* ProgressBar2;  // the current file
    QLabel* FileLabel;           // "Файл 2 из 5, 45 %", beside the caption
    QLabel* BytesLabel;          // "120 832 из 270 336 байт", left of the button
    QLabel* RateLabel;           // "10,5 КБ/с, осталось 0:14", right of the button

    // The clock of the rate and of the 200 ms between showings, in
    // milliseconds (a monotonic one by default). Tests drive their own;
    // set it before StartProgress.
    std::function<int64_t()> Clock;

    // Takes the main window's progress signals from now on.
    void Follow(TForm1& form);

    // Shows the window until the operation finishes (Accepted) or the user
    // cancels (Rejected), running the event loop meanwhile. When the
    // operation has finished before, it returns Accepted at once without
    // showing anything. The owner keeps its own input locked meanwhile.
    int Run();
    // The same, but the window appears only once showAfterMs have passed
    // without the end: a read of a moment shows no window at all.
    int Run(int showAfterMs);

    void StartProgress(int total);
    // How many files the operation moves (the "of 5" of "Файл 2 из 5").
    void SetFileCount(int count);
    void StartFile(int fileTotal, const QString& text);
    // Both bars advance by steps, each stopping at its maximum.
    void StepProgress(int steps = 1);
    // Closes the window with Accepted, also when it comes before Run.
    void FinishProgress();

signals:
    // The operation ended while the window was hidden (a delayed Run).
    void Ended();

private:
    // Shows the texts when they are due.
    void ShowInfo();

    bool finished_ = false;
    int fileCount_ = 0;
    int total_ = 0;
    std::unique_ptr<TProgressInfo> info_;
    QTimer* infoTimer_;
};

}  // namespace skarvel
