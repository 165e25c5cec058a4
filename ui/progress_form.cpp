#include "ui/progress_form.h"

#include <QEventLoop>
#include <QFrame>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <algorithm>

#include "ui/main_form.h"

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

}  // namespace

TprogressForm::TprogressForm(QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
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
    // Esc rejects the dialog already; so does closing it by the window manager.
}

void TprogressForm::Follow(TForm1& form) {
    connect(&form, &TForm1::ProgressStarted, this, &TprogressForm::StartProgress);
    connect(&form, &TForm1::FileStarted, this, &TprogressForm::StartFile);
    connect(&form, &TForm1::ProgressStepped, this, &TprogressForm::StepProgress);
    connect(&form, &TForm1::ProgressFinished, this, &TprogressForm::FinishProgress);
}

int TprogressForm::Run() {
    if (finished_) return Accepted;
    // Not the toolkit's modality: that would swallow a close of the main
    // window, which has to reach it and cancel the operation. The main
    // window takes no other input while this window is up.
    show();
    activateWindow();
    QEventLoop loop;
    connect(this, &QDialog::finished, &loop, &QEventLoop::quit);
    loop.exec(QEventLoop::DialogExec);
    return result();
}

void TprogressForm::StartProgress(int total) {
    ProgressBar1->setRange(0, std::max(total, 1));
    ProgressBar1->setValue(0);
    ProgressBar2->setValue(0);
}

void TprogressForm::StartFile(int fileTotal, const QString& text) {
    ProgressBar2->setRange(0, std::max(fileTotal, 1));
    ProgressBar2->setValue(0);
    Label1->setText(text);
}

void TprogressForm::StepProgress(int steps) {
    Advance(ProgressBar1, steps);
    Advance(ProgressBar2, steps);
}

void TprogressForm::FinishProgress() {
    finished_ = true;
    if (isVisible()) done(Accepted);
}

}  // namespace skarvel
