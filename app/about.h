// The About window: a picture at the left, the program's lines at the right.
// Any click, any key or switching to another window closes it.
#pragma once

#include <QDialog>

class QFrame;
class QLabel;
class QTextEdit;

namespace skarvel {

class TAbout : public QDialog {
    Q_OBJECT
public:
    explicit TAbout(QWidget* owner = nullptr);

    QFrame* Panel1;
    QLabel* Image3;
    QFrame* Panel2;
    QTextEdit* Memo1;
    QLabel* Label1;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void FormClick();
    bool wasActive_ = false;
};

// Shows a new About window modally and frees it when it closes.
void ShowAbout(QWidget* owner);

}  // namespace skarvel
