// The progress window of the transfers that move files (delete, write,
// load): the current file with its bar, a bar for the whole operation and
// the cancel button. It lives for one operation; the main window creates it,
// and the window follows the main window's progress signals (Follow).
//
// Threads: GUI thread only. The worker's progress reaches it through the
// main window's signals, which are emitted on the GUI thread.
#pragma once

#include <QDialog>

class QFrame;
class QLabel;
class QProgressBar;
class QPushButton;

namespace skarvel {

class TForm1;

class TprogressForm : public QDialog {
    Q_OBJECT
public:
    explicit TprogressForm(QWidget* owner = nullptr);

    QFrame* Panel1;
    QProgressBar* ProgressBar1;  // the whole operation
    QPushButton* Button1;        // "Отмена": the cancel button, Esc presses it too
    QLabel* Label1;              // the current file's caption
    QProgressBar* ProgressBar2;  // the current file

    // Takes the main window's progress signals from now on.
    void Follow(TForm1& form);

    // Shows the window until the operation finishes (Accepted) or the user
    // cancels (Rejected), running the event loop meanwhile. When the
    // operation has finished before, it returns Accepted at once without
    // showing anything. The owner keeps its own input locked meanwhile.
    int Run();

    void StartProgress(int total);
    void StartFile(int fileTotal, const QString& text);
    // Both bars advance by steps, each stopping at its maximum.
    void StepProgress(int steps = 1);
    // Closes the window with Accepted, also when it comes before Run.
    void FinishProgress();

private:
    bool finished_ = false;
};

}  // namespace skarvel
