#include "app/about.h"

#include <QFile>
#include <QFrame>
#include <QGuiApplication>
#include <QScreen>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QTextEdit>

#include "app/jpeg_image.h"

namespace skarvel {

namespace {

const QColor Background(57, 75, 119);
const QColor TextColour(203, 150, 87);

QFrame* MakePanel(QWidget* parent, const QRect& geometry) {
    auto* panel = new QFrame(parent);
    panel->setFrameShape(QFrame::NoFrame);
    panel->setGeometry(geometry);
    panel->setAutoFillBackground(true);
    QPalette pal = panel->palette();
    pal.setColor(QPalette::Window, Background);
    panel->setPalette(pal);
    return panel;
}

}  // namespace

TAbout::TAbout(QWidget* owner) : QDialog(owner) {
    setWindowTitle(QStringLiteral("О программе"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    setFixedSize(456, 300);
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->geometry().center() - QPoint(width() / 2, height() / 2));
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Background);
    setPalette(pal);

    Panel1 = MakePanel(this, QRect(0, 0, 228, 300));
    Image3 = new QLabel(Panel1);
    Image3->setGeometry(0, 0, 228, 300);
    QFile picture(QStringLiteral(":/app/about.jpg"));
    if (picture.open(QIODevice::ReadOnly)) Image3->setPixmap(QPixmap::fromImage(DecodeJpeg(picture.readAll())));

    Panel2 = MakePanel(this, QRect(228, 32, 228, 249));
    QFont memoFont = font();
    memoFont.setBold(true);
    memoFont.setPointSize(12);
    Memo1 = new QTextEdit(Panel2);
    Memo1->setGeometry(0, 0, 228, 193);
    Memo1->setReadOnly(true);
    Memo1->setFrameShape(QFrame::NoFrame);
    Memo1->setFocusPolicy(Qt::NoFocus);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    Memo1->setTextInteractionFlags(Qt::NoTextInteraction);
    Memo1->setFont(memoFont);
    QPalette memoPal = Memo1->palette();
    memoPal.setColor(QPalette::Base, Background);
    memoPal.setColor(QPalette::Text, TextColour);
    Memo1->setPalette(memoPal);
    Memo1->setPlainText(QStringLiteral("Файловый менеджер \nдля устройства \nпереноса программ \n"
                                       "систем ЧПУ серии Н,\nверсия 1.0"));
    QTextCursor cursor(Memo1->document());
    cursor.select(QTextCursor::Document);
    QTextBlockFormat centred;
    centred.setAlignment(Qt::AlignHCenter);
    cursor.mergeBlockFormat(centred);

    Label1 = new QLabel(QStringLiteral("Skarvel, 2005"), Panel2);
    Label1->setGeometry(0, 193, 228, 56);
    Label1->setAlignment(Qt::AlignHCenter | Qt::AlignBottom);
    Label1->setWordWrap(true);
    QFont labelFont = font();
    labelFont.setBold(true);
    labelFont.setPointSize(10);
    Label1->setFont(labelFont);
    QPalette labelPal = Label1->palette();
    labelPal.setColor(QPalette::WindowText, TextColour);
    Label1->setPalette(labelPal);

    for (QWidget* w : {static_cast<QWidget*>(Panel1), static_cast<QWidget*>(Image3), static_cast<QWidget*>(Panel2),
                       static_cast<QWidget*>(Memo1), Memo1->viewport(), static_cast<QWidget*>(Label1)})
        w->installEventFilter(this);
}

void TAbout::FormClick() { done(QDialog::Accepted); }

void TAbout::keyPressEvent(QKeyEvent*) { FormClick(); }

void TAbout::mousePressEvent(QMouseEvent*) { FormClick(); }

void TAbout::changeEvent(QEvent* event) {
    QDialog::changeEvent(event);
    if (event->type() != QEvent::ActivationChange) return;
    // Losing activation to another window closes the box (once it has been
    // the active window at all).
    if (isActiveWindow()) wasActive_ = true;
    else if (wasActive_ && isVisible()) FormClick();
}

bool TAbout::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonPress) {
        FormClick();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void ShowAbout(QWidget* owner) {
    TAbout about(owner);
    about.exec();
}

}  // namespace skarvel
