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

// Answers of TScriptedBoxes that press a key rather than a button.
constexpr int PressReturn = -1;
constexpr int PressEscape = -2;
// The modal result of a button.
int ResultOf(TMsgDlgButton button);

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
    // Answers taken in order by Ask (empty: DefaultAnswer): modal results,
    // or the key pressed: PressReturn, PressEscape.
    std::deque<int> Answers;
    int DefaultAnswer = mrNo;
    // Texts of every box so far.
    std::vector<QString> Texts() const;
};

// Processes Qt events until pred holds or capMs has passed; returns pred().
bool ProcessUntil(const std::function<bool()>& pred, int capMs = 20000);
// Processes the events already queued (and those they queue) for a moment.
void ProcessPending(int ms = 50);

// (name, contents) of files on a medium.
using TFiles = std::vector<std::pair<std::string, std::string>>;

// A formatted 2 MiB medium image holding the files given.
void WriteFormattedImage(const std::string& path, const TFiles& files);

// Options for a window on port with short time-outs, Timer1 stopped, no
// port watch, nothing remembered and the boxes of boxes.
TFormOptions FastOptions(const std::string& port, TMessageBoxes* boxes);

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
    int Count(int op, int result = -1) const;  // -1: any result
};

// n bytes of a fixed pseudo-random sequence.
std::string Bytes(size_t n, unsigned seed = 1);
// A file's bytes, or "<missing>".
std::string ReadAll(const QString& path);
// The names of a folder's files, hidden ones included, sorted.
QStringList FolderEntries(const QString& folder);

// A main window with scripted boxes, the logs of what it reported and a
// scratch folder for PC files.
struct Window {
    TempDir dir;
    std::string image = dir.File("medium.img");
    std::unique_ptr<SimProcess> sim;
    TScriptedBoxes boxes;
    std::unique_ptr<TForm1> form;
    std::unique_ptr<TDoneLog> log;
    std::unique_ptr<TProgressLog> progress;
    int FolderAsks = 0;  // times the folder dialog of LoadFolder was asked

    // On a port that does not exist: no device, only the list (the port's
    // error box is in boxes).
    Window();
    // On the simulator run with simArgs, once the start-up's two
    // initialisations are done; silent: time-outs for a device that never
    // answers. With "--link" the window opens the link.
    Window(std::vector<std::string> simArgs, bool silent);

    TForm1& F() { return *form; }
    TMyListBox& List() { return *form->MyListBox(); }
    // A PC file in the scratch folder ("sub/name" for one in a folder of it).
    QString PcFile(const std::string& name, const std::string& data = "data");
    // A folder in the scratch folder, ending with a separator.
    QString Folder(const std::string& name);
    // Such a folder, given by the folder dialog whenever it is asked.
    QString LoadFolder(const std::string& name);
    void Select(const QStringList& names);
    // Of every row: (display name, of the medium), the display name, the path.
    std::vector<std::pair<QString, bool>> Rows();
    std::vector<QString> Names();
    std::vector<std::string> Paths();
    bool Completed(int op, int count);
    // Stops the device and checks what its medium holds.
    VolumeReport Medium();
    std::vector<QString> Texts() { return boxes.Texts(); }

protected:
    explicit Window(std::nullptr_t) {}
    void Open(const std::vector<std::string>& simArgs, bool silent);
};

// A window on the simulated device, its medium holding files, started up
// (both lists read) and, unless told otherwise, idle.
struct Rig : Window {
    explicit Rig(const TFiles& files, std::vector<std::string> simArgs = {}, bool idle = true);
};

}  // namespace skarvel::test
