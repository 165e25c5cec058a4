#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QListWidget>
#include <QTemporaryDir>
#include <QTextBlock>
#include <stdexcept>
#include <string>

#include "tests/sim_process.h"
#include "bench/window_bench.h"
#include "flashfs/fs_flash.h"
#include "link/zvt_drv.h"
#include "tools/zvt/client.h"
#include "ui/main_form.h"
#include "ui/message_boxes.h"
#include "ui/my_list_box.h"
#include "ui/program_text.h"
#include "ui/program_viewer.h"
#include "ui/code_editor.h"

namespace skarvel::bench {

namespace {

// Nothing may ask the operator during the figure.
class TNoBoxes : public TMessageBoxes {
public:
    int Ask(QWidget*, const QString& text, TMsgDlgType, unsigned) override {
        Texts << text;
        return mrNo;
    }
    void Show(QWidget*, const QString& text, TMsgDlgType) override { Texts << text; }
    QStringList Texts;
};

bool RunUntil(const std::function<bool()>& pred, int capMs) {
    QElapsedTimer t;
    t.start();
    while (!pred()) {
        if (t.elapsed() > capMs) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 20);
    }
    return true;
}

QApplication& Application() {
    static int argc = 1;
    static char name[] = "skarvel-bench";
    static char* argv[] = {name, nullptr};
    static QApplication* app = [] {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        return new QApplication(argc, argv);
    }();
    return *app;
}

class TQtWindowBench : public TWindowBench {
public:
    explicit TQtWindowBench(uint32_t baud) : baud_(baud), sim_({"--baud", std::to_string(baud)}) {
        Application();
        {
            TZvtClient client;  // a freshly formatted medium
            if (!client.Open(sim_.PtyPath(), baud) || client.Format() != 0)
                throw std::runtime_error("cannot format the window's medium");
        }
        TFormOptions options;
        options.Port = sim_.PtyPath();
        options.Messages = &boxes_;
        options.StartTimer = false;
        form_ = std::make_unique<TForm1>(options);
        QObject::connect(form_.get(), &TForm1::OperationDone, form_.get(), [this](int op, int result) {
            ++done_[op & 15];
            last_ = result;
        });
        QObject::connect(form_.get(), &TForm1::ProgressStarted, form_.get(), [this](int total) {
            total_ = total;
            steps_ = 0;
        });
        QObject::connect(form_.get(), &TForm1::ProgressStepped, form_.get(), [this](int n) { steps_ += n; });
        if (!RunUntil([&] { return done_[opInit] >= 2 && done_[opReadDir] >= 2; }, 30000))
            throw std::runtime_error("the window does not reach its simulator");
        frames_.Install(*form_->Driver());  // the worker is idle now
        form_->ExecFolderDialog = [this](QString& folder) {
            folder = dir_.path() + QLatin1Char('/');
            return true;
        };
    }

    TLineResult Put(const std::vector<uint8_t>& data, const std::string& name, bool verify) override {
        const QString path = dir_.filePath(QStringLiteral("pc/") + QString::fromStdString(name));
        QDir().mkpath(dir_.filePath(QStringLiteral("pc")));
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly) || f.write(Bytes(data)) != static_cast<qint64>(data.size()))
            throw std::runtime_error("cannot write " + path.toStdString());
        f.close();
        Idle();
        form_->MenuVerify->setChecked(verify);  // no settings file: nothing is kept
        form_->AddFiles({path});
        return MeasureOnLine((verify ? "window put+verify " : "window put ") + Size(data), *form_->Driver(), frames_, baud_,
                             static_cast<double>(data.size()), [&] { return Run(form_->MenuSave, opSaveFile); });
    }

    TLineResult Get(const std::vector<uint8_t>& data, const std::string& name) override {
        Idle();
        const QString row = QString::fromStdString(name);
        form_->ListBox1->clearSelection();
        form_->ListBox1->item(form_->MyListBox()->IndexOfName(row))->setSelected(true);
        TLineResult r = MeasureOnLine("window get " + Size(data), *form_->Driver(), frames_, baud_,
                                      static_cast<double>(data.size()), [&] { return Run(form_->Action5, opLoadFile); });
        QFile back(dir_.filePath(row));
        if (!back.open(QIODevice::ReadOnly) || back.readAll() != Bytes(data))
            throw std::runtime_error("the file loaded through the window differs from the one written");
        return r;
    }

    TLineResult View(const std::vector<uint8_t>& data, const std::string& name) override {
        Idle();
        const QString row = QString::fromStdString(name);
        form_->ListBox1->clearSelection();
        form_->ListBox1->item(form_->MyListBox()->IndexOfName(row))->setSelected(true);
        if (TProgramViewer* old = form_->Viewer()) delete old;
        TLineResult r = MeasureOnLine("window F3 " + Size(data), *form_->Driver(), frames_, baud_,
                                      static_cast<double>(data.size()), [&] {
                                          form_->ViewAc->trigger();
                                          if (!RunUntil([&] { return form_->Viewer() != nullptr; }, 600000))
                                              throw std::runtime_error("no viewer");
                                          QCoreApplication::processEvents();
                                          return uint8_t{0};
                                      });
        size_t at = 0;
        const QString first = DecodeProgramLines(data, at, TProgramViewer::ChunkLines);
        if (form_->Viewer()->Editor->document()->firstBlock().text() != first.section(QLatin1Char('\n'), 0, 0))
            throw std::runtime_error("the viewer does not show the file's first line");
        if (!boxes_.Texts.isEmpty())
            throw std::runtime_error("the window asked: " + boxes_.Texts.join('/').toStdString());
        delete form_->Viewer();
        return r;
    }

private:
    static QByteArray Bytes(const std::vector<uint8_t>& data) {
        return QByteArray(reinterpret_cast<const char*>(data.data()), static_cast<qsizetype>(data.size()));
    }
    static std::string Size(const std::vector<uint8_t>& data) { return std::to_string(data.size() / 1024) + " KiB"; }

    void Idle() {
        form_->Timer1Timer();
        form_->Timer1Timer();
    }

    // Triggers action and waits until the window has handled the completion of op.
    uint8_t Run(QAction* action, int op) {
        const int before = done_[op];
        action->trigger();
        if (!RunUntil([&] { return done_[op] > before; }, 600000)) throw std::runtime_error("no completion");
        if (!boxes_.Texts.isEmpty())
            throw std::runtime_error("the window asked: " + boxes_.Texts.join('/').toStdString());
        if (last_ == 0 && steps_ != total_)
            throw std::runtime_error("the progress bars ended at " + std::to_string(steps_) + " of " +
                                     std::to_string(total_));
        return static_cast<uint8_t>(last_);
    }

    uint32_t baud_;
    test::SimProcess sim_;
    QTemporaryDir dir_;
    TNoBoxes boxes_;
    std::unique_ptr<TForm1> form_;
    TFrameCounter frames_;
    int done_[16] = {};
    int last_ = 0;
    int total_ = 0, steps_ = 0;
};

}  // namespace

std::unique_ptr<TWindowBench> TWindowBench::Create(uint32_t baud) { return std::make_unique<TQtWindowBench>(baud); }

}  // namespace skarvel::bench
