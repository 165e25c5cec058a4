// Helpers of the widget tests: message boxes answered from a script, an
// event loop that runs until a condition holds, images of the medium, and
// main windows on the simulator with short time-outs.
#pragma once

#include <QString>
#include <QStringList>
#include <deque>
#include <ostream>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "tests/sim_process.h"
#include "tests/volume_check.h"
#include "ui/main_form.h"
#include "ui/message_boxes.h"

// Readable QStrings in test failures.
inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

namespace skarvel::test {

class TScriptedBoxes : public TMessageBoxes {
public:
    struct Box {
        QString Text;
        TMsgDlgType Type;
        unsigned Buttons;  // 0 for Show
    };
    int Ask(QWidget* parent, const QString& text, TMsgDlgType type, unsigned buttons) override;
    void Show(QWidget* parent, const QString& text, TMsgDlgType type) override;

    std::vector<Box> Boxes;
    std::deque<int> Answers;  // taken in order by Ask; empty: DefaultAnswer
    int DefaultAnswer = mrNo;
    // Texts of every box so far.
    std::vector<QString> Texts() const;
};

// Processes Qt events until pred holds or capMs has passed; returns pred().
bool ProcessUntil(const std::function<bool()>& pred, int capMs = 20000);
// Processes the events already queued (and those they queue) for a moment.
void ProcessPending(int ms = 50);

// A formatted 2 MiB medium image holding the files given (name, contents).
void WriteFormattedImage(const std::string& path,
                         const std::vector<std::pair<std::string, std::string>>& files);

// Options for a window on port with short time-outs, Timer1 stopped and the
// boxes of boxes.
TFormOptions FastOptions(const std::string& port, TMessageBoxes* boxes);

// The same for a device that never answers: time-outs short enough that
// each initialisation gives up within a fraction of a second.
TFormOptions SilentOptions(const std::string& port, TMessageBoxes* boxes);

// Two quiet ticks: the window is idle again after its last sector transfer.
void TickToIdle(TForm1& form);

// What the window reported to its progress window, and the bars as they
// stood when the operation finished.
class TProgressLog {
public:
    explicit TProgressLog(TForm1& form);
    int Total = -1;
    std::vector<std::pair<int, QString>> Files;  // (file total, caption)
    int Steps = 0;
    int Finished = 0;
    // Values and maxima of the bars at the finish: whole operation, file.
    int Bar = -1, BarMax = -1, FileBar = -1, FileBarMax = -1;
    // Called on the GUI thread as each report arrives (for cancelling or
    // cutting the line at a chosen point).
    std::function<void()> OnFile, OnStep;
};

// Waits for completions of operation op; returns the results seen.
class TDoneLog {
public:
    explicit TDoneLog(TForm1& form);
    std::vector<std::pair<int, int>> Done;  // (op, result)
    int Count(int op) const;
    int Count(int op, int result) const;
};

// Waits until the start-up's two initialisations and the list requests
// they started have completed.
bool WaitForStartUp(TDoneLog& log, int lists);

// (name, contents) of files on a medium.
using TFiles = std::vector<std::pair<std::string, std::string>>;

// n bytes of a fixed pseudo-random sequence.
std::string Bytes(size_t n, unsigned seed = 1);
// A file's bytes, or "<missing>".
std::string ReadAll(const QString& path);
// The names of a folder's files, hidden ones included, sorted.
QStringList FolderEntries(const QString& folder);

// A window on the simulated device, its medium holding files, started up
// and idle.
struct Rig {
    TempDir dir;
    std::string image = dir.File("medium.img");
    std::unique_ptr<SimProcess> sim;
    TScriptedBoxes boxes;
    std::unique_ptr<TForm1> form;
    std::unique_ptr<TDoneLog> log;
    std::unique_ptr<TProgressLog> progress;

    explicit Rig(const TFiles& files, std::vector<std::string> simArgs = {});
    TForm1& F() { return *form; }
    TMyListBox& List() { return *form->MyListBox(); }

    // A PC file in the rig's folder.
    QString PcFile(const std::string& name, const std::string& data);
    // A folder in the rig's folder, ending with a separator.
    QString Folder(const std::string& name);
    void Select(const QStringList& names);
    // (display name, of the medium) of every row.
    std::vector<std::pair<QString, bool>> Rows();
    bool Completed(int op, int count);
    // Stops the device and checks what its medium holds.
    VolumeReport Medium();
    std::vector<QString> Texts() { return boxes.Texts(); }
};

}  // namespace skarvel::test
