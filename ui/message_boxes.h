// The program's message boxes behind a small interface, so that tests can
// answer them. Results follow the toolkit's modal results (Yes 6, No 7, ...).
#pragma once

#include <QString>

class QWidget;

namespace skarvel {

enum TModalResult : int {
    mrNone = 0,
    mrOk = 1,
    mrCancel = 2,
    mrAbort = 3,
    mrRetry = 4,
    mrIgnore = 5,
    mrYes = 6,
    mrNo = 7,
    mrAll = 8,
    mrNoToAll = 9,
    mrYesToAll = 10,
};

enum class TMsgDlgType { Warning, Error, Information, Confirmation, Custom };

// Button set of a box (any combination).
enum TMsgDlgButton : unsigned {
    mbYes = 1u << 0,
    mbNo = 1u << 1,
    mbOK = 1u << 2,
    mbCancel = 1u << 3,
    mbAbort = 1u << 4,
    mbNoToAll = 1u << 5,
    mbYesToAll = 1u << 6,
    // Not a button: Return takes the button that backs out, for a question
    // whose "yes" destroys something.
    mbSafeDefault = 1u << 7,
};

// The keyboard's buttons of a box. Every question this program asks with a
// "No" is one whose "Yes" changes or destroys something (format, delete,
// replace, overwrite, quit without writing), so Return presses No there, as
// Esc does; a box without No takes Return on its first button (in the order
// of TMsgDlgButton), unless mbSafeDefault makes Return back out too. Esc
// presses the one that backs out: Cancel, else Abort, else No, else OK.
struct TBoxKeys {
    TMsgDlgButton Default;
    TMsgDlgButton Escape;
};
TBoxKeys BoxKeys(unsigned buttons);

class TMessageBoxes {
public:
    virtual ~TMessageBoxes() = default;
    // A modal box with the given buttons; returns the modal result of the
    // button pressed (mrCancel or mrNone when closed otherwise).
    virtual int Ask(QWidget* parent, const QString& text, TMsgDlgType type, unsigned buttons) = 0;
    // A modal box with OK only.
    virtual void Show(QWidget* parent, const QString& text, TMsgDlgType type) = 0;
};

// The real boxes (QMessageBox; the standard buttons take the application's
// translation, Russian when it is installed).
class TQtMessageBoxes : public TMessageBoxes {
public:
    int Ask(QWidget* parent, const QString& text, TMsgDlgType type, unsigned buttons) override;
    void Show(QWidget* parent, const QString& text, TMsgDlgType type) override;
};

// The process-wide default instance.
TMessageBoxes& DefaultMessageBoxes();

// Loads Qt's own Russian translation of the standard buttons, if installed.
// Returns true when it was found.
bool InstallRussianTranslation();

}  // namespace skarvel
