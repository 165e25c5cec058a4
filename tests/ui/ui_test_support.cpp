#include "tests/ui/ui_test_support.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QListWidget>
#include <QProgressBar>
#include <algorithm>
#include <stdexcept>

#include "flashfs/fs_flash.h"
#include "link/zvt_drv.h"
#include "tests/mem_medium.h"
#include "tests/sim_process.h"
#include "ui/my_list_box.h"
#include "ui/progress_form.h"

namespace skarvel::test {

int TScriptedBoxes::Ask(QWidget*, const QString& text, TMsgDlgType type, unsigned buttons) {
    Boxes.push_back({text, type, buttons});
    int a = DefaultAnswer;
    if (!Answers.empty()) {
        a = Answers.front();
        Answers.pop_front();
    }
    // The keyboard's answers: the button that Return or Esc presses.
    if (a == PressReturn || a == PressEscape) {
        const TBoxKeys keys = BoxKeys(buttons);
        return ResultOf(a == PressReturn ? keys.Default : keys.Escape);
    }
    return a;
}

int ResultOf(TMsgDlgButton button) {
    switch (button) {
        case mbYes: return mrYes;
        case mbNo: return mrNo;
        case mbOK: return mrOk;
        case mbCancel: return mrCancel;
        case mbAbort: return mrAbort;
        case mbNoToAll: return mrNoToAll;
        case mbYesToAll: return mrYesToAll;
        case mbSafeDefault: break;  // a flag, never a button
    }
    return mrNone;
}

void TScriptedBoxes::Show(QWidget*, const QString& text, TMsgDlgType type) { Boxes.push_back({text, type, 0}); }

std::vector<QString> TScriptedBoxes::Texts() const {
    std::vector<QString> out;
    for (const auto& b : Boxes) out.push_back(b.Text);
    return out;
}

bool ProcessUntil(const std::function<bool()>& pred, int capMs) {
    QElapsedTimer t;
    t.start();
    while (!pred()) {
        if (t.elapsed() > capMs) return pred();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QCoreApplication::sendPostedEvents();
    }
    return true;
}

void ProcessPending(int ms) {
    QElapsedTimer t;
    t.start();
    do {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    } while (t.elapsed() < ms);
}

void WriteFormattedImage(const std::string& path, const TFiles& files) {
    TMemMedium medium;
    TFlash flash;
    medium.Attach(flash);
    if (flash.FormatFlash(0) != 0) throw std::runtime_error("format of the image failed");
    for (const auto& [name, data] : files)
        if (flash.SaveFile(name.c_str(), data.data(), 0, static_cast<uint32_t>(data.size())) != 0)
            throw std::runtime_error("save of " + name + " failed");
    WriteFileBytes(path, medium.Bytes());
}

namespace {

// A window whose driver waits answerMs for an answer, sends a frame at most
// `sends` times and lets the line settle quietMs (at most quietLimitMs).
TFormOptions Options(const std::string& port, TMessageBoxes* boxes, int answerMs, int sends, int quietMs,
                     int quietLimitMs) {
    TFormOptions o;
    o.Port = port;
    o.Messages = boxes;
    o.StartTimer = false;
    // Adapters plugged into the machine running the tests are no business
    // of these windows; the hot-plug tests switch the watch on.
    o.WatchPorts = false;
    o.ConfigureDriver = [=](TZVT_drv& d) {
        d.AnswerTimeoutMs = answerMs;
        d.Sends = sends;
        d.QuietMs = quietMs;
        d.QuietLimitMs = quietLimitMs;
    };
    return o;
}

// For a device that never answers: time-outs short enough that each
// initialisation gives up within a fraction of a second.
TFormOptions SilentOptions(const std::string& port, TMessageBoxes* boxes) { return Options(port, boxes, 50, 2, 20, 100); }

}  // namespace

TFormOptions FastOptions(const std::string& port, TMessageBoxes* boxes) { return Options(port, boxes, 300, 4, 50, 300); }

void TickToIdle(TForm1& form) {
    ProcessPending(20);
    form.Timer1Timer();
    form.Timer1Timer();
}

TDoneLog::TDoneLog(TForm1& form) {
    QObject::connect(&form, &TForm1::OperationDone, &form, [this](int op, int result) { Done.emplace_back(op, result); });
}

TProgressLog::TProgressLog(TForm1& form) {
    QObject::connect(&form, &TForm1::ProgressStarted, &form, [this](int total) { Total = total; });
    QObject::connect(&form, &TForm1::FileStarted, &form, [this](int total, const QString& text) {
        Files.emplace_back(total, text);
        if (OnFile) OnFile();
    });
    QObject::connect(&form, &TForm1::ProgressStepped, &form, [this](int steps) {
        Steps += steps;
        if (OnStep) OnStep();
    });
    QObject::connect(&form, &TForm1::ProgressFinished, &form, [this, &form] {
        ++Finished;
        if (TprogressForm* p = form.Progress()) {
            Bar = p->ProgressBar1->value();
            BarMax = p->ProgressBar1->maximum();
            FileBar = p->ProgressBar2->value();
            FileBarMax = p->ProgressBar2->maximum();
        }
    });
}

int TDoneLog::Count(int op, int result) const {
    return int(std::count_if(Done.begin(), Done.end(),
                             [&](const auto& d) { return d.first == op && (result < 0 || d.second == result); }));
}

std::string Bytes(size_t n, unsigned seed) {
    std::string s(n, '\0');
    uint32_t x = seed;
    for (char& c : s) {
        x = x * 1103515245u + 12345u;
        c = static_cast<char>(x >> 16);
    }
    return s;
}

std::string ReadAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll().toStdString() : std::string("<missing>");
}

QStringList FolderEntries(const QString& folder) {
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

Window::Window() {
    form = std::make_unique<TForm1>(FastOptions(dir.File("no-port"), &boxes));
    log = std::make_unique<TDoneLog>(*form);
    progress = std::make_unique<TProgressLog>(*form);
}

Window::Window(std::vector<std::string> simArgs, bool silent) { Open(simArgs, silent); }

void Window::Open(const std::vector<std::string>& simArgs, bool silent) {
    sim = std::make_unique<SimProcess>(simArgs);
    const auto link = std::find(simArgs.begin(), simArgs.end(), "--link");
    const std::string port = link == simArgs.end() ? sim->PtyPath() : *(link + 1);
    form = std::make_unique<TForm1>(silent ? SilentOptions(port, &boxes) : FastOptions(port, &boxes));
    log = std::make_unique<TDoneLog>(*form);
    progress = std::make_unique<TProgressLog>(*form);
    EXPECT_TRUE(Completed(opInit, 2));
}

Rig::Rig(const TFiles& files, std::vector<std::string> simArgs, bool idle) : Window(nullptr) {
    WriteFormattedImage(image, files);
    simArgs.insert(simArgs.begin(), {"--image", image});
    Open(simArgs, false);
    EXPECT_TRUE(Completed(opReadDir, 2));
    if (idle) TickToIdle(*form);
}

QString Window::PcFile(const std::string& name, const std::string& data) {
    const std::string path = dir.File(name);
    WriteFileBytes(path, std::vector<uint8_t>(data.begin(), data.end()));
    return QString::fromStdString(path);
}

QString Window::Folder(const std::string& name) {
    QDir().mkpath(QString::fromStdString(dir.File(name)));
    return QString::fromStdString(dir.File(name)) + QLatin1Char('/');
}

QString Window::LoadFolder(const std::string& name) {
    const QString folder = Folder(name);
    form->ExecFolderDialog = [this, folder](QString& f) {
        ++FolderAsks;
        f = folder;
        return true;
    };
    return folder;
}

void Window::Select(const QStringList& names) {
    form->ListBox1->clearSelection();
    for (const QString& n : names) form->ListBox1->item(List().IndexOfName(n))->setSelected(true);
}

std::vector<std::pair<QString, bool>> Window::Rows() {
    std::vector<std::pair<QString, bool>> out;
    for (int i = 0; i < List().Count(); ++i) out.emplace_back(List().DisplayName(i), List().Flags(i));
    return out;
}

std::vector<QString> Window::Names() {
    std::vector<QString> out;
    for (int i = 0; i < List().Count(); ++i) out.push_back(List().DisplayName(i));
    return out;
}

std::vector<std::string> Window::Paths() {
    std::vector<std::string> out;
    for (int i = 0; i < List().Count(); ++i) out.push_back(List().Path(i));
    return out;
}

bool Window::Completed(int op, int count) {
    return ProcessUntil([&] { return log->Count(op) >= count; });
}

VolumeReport Window::Medium() {
    sim->Stop();
    return CheckVolume(ReadFileBytes(image));
}

}  // namespace skarvel::test
