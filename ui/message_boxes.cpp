#include "ui/message_boxes.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QMessageBox>
#include <QTranslator>

#include "ui/dialog_frame.h"

namespace skarvel {

namespace {

QMessageBox::Icon IconOf(TMsgDlgType type) {
    switch (type) {
        case TMsgDlgType::Warning: return QMessageBox::Warning;
        case TMsgDlgType::Error: return QMessageBox::Critical;
        case TMsgDlgType::Information: return QMessageBox::Information;
        case TMsgDlgType::Confirmation: return QMessageBox::Question;
        case TMsgDlgType::Custom: break;
    }
    return QMessageBox::NoIcon;
}

struct ButtonMap {
    unsigned Mine;
    QMessageBox::StandardButton Qt;
    int Result;
};

constexpr ButtonMap kButtons[] = {
    {mbYes, QMessageBox::Yes, mrYes},
    {mbNo, QMessageBox::No, mrNo},
    {mbOK, QMessageBox::Ok, mrOk},
    {mbCancel, QMessageBox::Cancel, mrCancel},
    {mbAbort, QMessageBox::Abort, mrAbort},
    {mbNoToAll, QMessageBox::NoToAll, mrNoToAll},
    {mbYesToAll, QMessageBox::YesToAll, mrYesToAll},
};

QMessageBox::StandardButton QtButton(TMsgDlgButton b) {
    for (const auto& m : kButtons)
        if (m.Mine == b) return m.Qt;
    return QMessageBox::Ok;
}

}  // namespace

TBoxKeys BoxKeys(unsigned buttons) {
    if ((buttons & (mbYes | mbNo | mbOK | mbCancel | mbAbort | mbNoToAll | mbYesToAll)) == 0) buttons = mbOK;
    TBoxKeys keys{mbOK, mbOK};
    for (const auto& b : kButtons)
        if (buttons & b.Mine) {
            keys.Default = static_cast<TMsgDlgButton>(b.Mine);
            break;
        }
    // One Enter must never format the medium or throw a program away.
    if (buttons & mbNo) keys.Default = mbNo;
    keys.Escape = keys.Default;
    for (TMsgDlgButton b : {mbCancel, mbAbort, mbNo, mbOK})
        if (buttons & b) {
            keys.Escape = b;
            break;
        }
    if (buttons & mbSafeDefault) keys.Default = keys.Escape;
    return keys;
}

int TQtMessageBoxes::Ask(QWidget* parent, const QString& text, TMsgDlgType type, unsigned buttons) {
    QMessageBox box(IconOf(type), QApplication::applicationDisplayName(), text, QMessageBox::NoButton, parent);
    QMessageBox::StandardButtons set;
    for (const auto& b : kButtons)
        if (buttons & b.Mine) set |= b.Qt;
    if (!set) set = QMessageBox::Ok;
    box.setStandardButtons(set);
    // Closed by its frame it answers as Esc (QMessageBox presses the escape
    // button).
    box.setWindowFlags(CloseOnlyDialogFrame() | (box.windowFlags() & Qt::MSWindowsFixedSizeDialogHint));
    // Return and Esc as the operator knows them from the platform the
    // program comes from, whatever order the style lays the buttons out in.
    const TBoxKeys keys = BoxKeys(buttons);
    box.setDefaultButton(QtButton(keys.Default));
    box.setEscapeButton(box.button(QtButton(keys.Escape)));
    const int pressed = box.exec();
    for (const auto& b : kButtons)
        if (pressed == b.Qt) return b.Result;
    return mrCancel;
}

void TQtMessageBoxes::Show(QWidget* parent, const QString& text, TMsgDlgType type) {
    Ask(parent, text, type, mbOK);
}

TMessageBoxes& DefaultMessageBoxes() {
    static TQtMessageBoxes boxes;
    return boxes;
}

bool InstallRussianTranslation() {
    auto* translator = new QTranslator(QCoreApplication::instance());
    if (translator->load(QStringLiteral("qtbase_ru"), QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        QCoreApplication::installTranslator(translator);
        return true;
    }
    delete translator;
    return false;
}

}  // namespace skarvel
