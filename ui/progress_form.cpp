#include "ui/progress_form.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QFrame>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <algorithm>

#include "ui/dialog_frame.h"
#include "ui/main_form.h"
#include "ui/progress_info.h"

namespace skarvel {

namespace {

QProgressBar* MakeBar(QWidget* parent, int top) {
    auto* bar = new QProgressBar(parent);
    bar->setGeometry(0, top, 432, 24);
    bar->setTextVisible(false);
    bar->setRange(0, 1);
    bar->setValue(0);
    return bar;
}

void Advance(QProgressBar* bar, int steps) { bar->setValue(std::min(bar->maximum(), bar->value() + steps)); }

QLabel* InfoLabel(QWidget* parent, const QRect& place, Qt::Alignment align) {
    auto* label = new QLabel(parent);
    label->setGeometry(place);
    label->setAlignment(align | Qt::AlignVCenter);
    return label;
}

std::function<int64_t()> MonotonicClock() {
    auto timer = std::make_shared<QElapsedTimer>();
    timer->start();
    return [timer] { return timer->elapsed(); };
}

}  // namespace

TprogressForm::TprogressForm(QWidget* owner)
    : QDialog(owner, CloseOnlyDialogFrame()) {
    setWindowTitle(QStringLiteral("Прогресс"));
    setFixedSize(432, 96);

    Panel1 = new QFrame(this);
    Panel1->setFrameShape(QFrame::NoFrame);
    Panel1->setGeometry(0, 0, 432, 71);
    Label1 = new QLabel(QStringLiteral("Прогресс"), Panel1);
    QFont bold = Label1->font();
    bold.setBold(true);
    Label1->setFont(bold);
    Label1->setGeometry(3, 2, 426, 19);
    ProgressBar2 = MakeBar(Panel1, 23);
    ProgressBar1 = MakeBar(Panel1, 47);

    Button1 = new QPushButton(QStringLiteral("Отмена"), this);
    Button1->setGeometry(178, 72, 75, 25);
    connect(Button1, &QPushButton::clicked, this, &QDialog::reject);
    // Esc rejects the dialog already; so does its close button (QDialog's
    // closeEvent), which cancels like "Отмена".

    // The figures take the free room of the layout: the caption's row and
    // the two sides of the button.
    FileLabel = InfoLabel(Panel1, QRect(216, 2, 213, 19), Qt::AlignRight);
    BytesLabel = InfoLabel(this, QRect(3, 74, 172, 21), Qt::AlignLeft);
    RateLabel = InfoLabel(this, QRect(256, 74, 173, 21), Qt::AlignRight);
    Clock = MonotonicClock();
    info_ = std::make_unique<TProgressInfo>([this] { return Clock(); });
    // A change that came too soon after the last showing is shown here.
    infoTimer_ = new QTimer(this);
    infoTimer_->setInterval(static_cast<int>(TProgressInfo::ShowEveryMs));
    connect(infoTimer_, &QTimer::timeout, this, &TprogressForm::ShowInfo);
}

TprogressForm::~TprogressForm() = default;

void TprogressForm::ShowInfo() {
    if (!info_->Due()) return;
    FileLabel->setText(info_->FileText());
    BytesLabel->setText(info_->BytesText());
    RateLabel->setText(info_->RateText());
}

void TprogressForm::Follow(TForm1& form) {
    connect(&form, &TForm1::ProgressStarted, this, &TprogressForm::StartProgress);
    connect(&form, &TForm1::FileStarted, this, &TprogressForm::StartFile);
    connect(&form, &TForm1::ProgressStepped, this, &TprogressForm::StepProgress);
    connect(&form, &TForm1::ProgressFinished, this, &TprogressForm::FinishProgress);
}

int TprogressForm::Run() { return Run(0); }

int TprogressForm::Run(int showAfterMs) {
    if (finished_) return Accepted;
    // Not the toolkit's modality: that would swallow a close of the main
    // window, which has to reach it and cancel the operation. The main
    // window takes no other input while this window is up.
    const auto showNow = [this] {
        if (finished_ || isVisible()) return;
        show();
        activateWindow();
    };
    QTimer later;
    if (showAfterMs > 0) {
        later.setSingleShot(true);
        connect(&later, &QTimer::timeout, this, showNow);
        later.start(showAfterMs);
    } else {
        showNow();
    }
    infoTimer_->start();
    QEventLoop loop;
    connect(this, &QDialog::finished, &loop, &QEventLoop::quit);
    // The end may come before the window is shown: done() on a hidden
    // dialog sends no finished(), so the end quits the loop itself.
    connect(this, &TprogressForm::Ended, &loop, &QEventLoop::quit);
    loop.exec(QEventLoop::DialogExec);
    infoTimer_->stop();
    return finished_ ? Accepted : result();
}

void TprogressForm::StartProgress(int total) {
    ProgressBar1->setRange(0, std::max(total, 1));
    ProgressBar1->setValue(0);
    ProgressBar2->setValue(0);
    total_ = total;
    info_->Start(total, fileCount_);
    ShowInfo();
}

void TprogressForm::SetFileCount(int count) {
    fileCount_ = count;
    info_->Start(total_, count);
    ShowInfo();
}

void TprogressForm::StartFile(int fileTotal, const QString& text) {
    ProgressBar2->setRange(0, std::max(fileTotal, 1));
    ProgressBar2->setValue(0);
    Label1->setText(text);
    info_->FileStarted();
    ShowInfo();
}

void TprogressForm::StepProgress(int steps) {
    Advance(ProgressBar1, steps);
    Advance(ProgressBar2, steps);
    info_->Stepped(steps);
    ShowInfo();
}

void TprogressForm::FinishProgress() {
    finished_ = true;
    if (isVisible()) done(Accepted);
    else emit Ended();
}

}  // namespace skarvel
