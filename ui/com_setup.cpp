#include "ui/com_setup.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "link/port_enum.h"

namespace skarvel {

namespace {

const std::vector<QString>& Texts(std::initializer_list<const char*> list, std::vector<QString>& store) {
    if (store.empty())
        for (const char* s : list) store.push_back(QString::fromLatin1(s));
    return store;
}

int Find(const std::vector<QString>& table, const QString& s) {
    for (size_t i = 0; i < table.size(); ++i)
        if (table[i].toUpper() == s.toUpper()) return static_cast<int>(i);
    return -1;
}

template <typename T>
T ToValue(const std::vector<QString>& table, const QString& s, T fallback) {
    const int i = Find(table, s);
    return i < 0 ? fallback : static_cast<T>(i);
}

}  // namespace

// The port's own rates, in TBaudRate order; brCustom has none.
const std::vector<QString>& BaudRateTexts() {
    static const std::vector<QString> t = [] {
        std::vector<QString> texts{QStringLiteral("Custom")};
        for (int b = br110; b <= br256000; ++b)
            texts.push_back(QString::number(BaudRateValue(static_cast<TBaudRate>(b))));
        return texts;
    }();
    return t;
}
const std::vector<QString>& DataBitsTexts() {
    static std::vector<QString> t;
    return Texts({"5", "6", "7", "8"}, t);
}
const std::vector<QString>& StopBitsTexts() {
    static std::vector<QString> t;
    return Texts({"1", "1.5", "2"}, t);
}
const std::vector<QString>& ParityTexts() {
    static std::vector<QString> t;
    return Texts({"None", "Odd", "Even", "Mark", "Space"}, t);
}
const std::vector<QString>& FlowControlTexts() {
    static std::vector<QString> t;
    return Texts({"Hardware", "Software", "None", "Custom"}, t);
}

TBaudRate StrToBaudRate(const QString& s) { return ToValue(BaudRateTexts(), s, br9600); }
TDataBits StrToDataBits(const QString& s) { return ToValue(DataBitsTexts(), s, dbEight); }
TStopBits StrToStopBits(const QString& s) { return ToValue(StopBitsTexts(), s, sbOneStopBit); }
TParityBits StrToParity(const QString& s) { return ToValue(ParityTexts(), s, prNone); }
TFlowControl StrToFlowControl(const QString& s) { return ToValue(FlowControlTexts(), s, fcCustom); }

// ---------------------------------------------------------------- TComComboBox

std::function<void(std::vector<std::string>&)> TComComboBox::PortLister = [](std::vector<std::string>& names) {
    ListComPorts(names);
};

TComComboBox::TComComboBox(QWidget* parent) : QComboBox(parent) {
    setEditable(false);
    connect(this, &QComboBox::currentIndexChanged, this, [this] { Changed(); });
}

void TComComboBox::SetComPort(TComPort* port) {
    port_ = port;
    if (port_) UpdateFromPort();
}

void TComComboBox::SetComProperty(TComProperty p) {
    property_ = p;
    updating_ = true;
    clear();
    const std::vector<QString>* table = nullptr;
    switch (p) {
        case cpNone: break;
        case cpPort: {
            std::vector<std::string> names;
            if (PortLister) PortLister(names);
            for (const auto& n : names) addItem(QString::fromStdString(n));
            break;
        }
        case cpBaudRate: table = &BaudRateTexts(); break;
        case cpDataBits: table = &DataBitsTexts(); break;
        case cpStopBits: table = &StopBitsTexts(); break;
        case cpParity: table = &ParityTexts(); break;
        case cpFlowControl: table = &FlowControlTexts(); break;
    }
    if (table)
        for (const auto& t : *table) addItem(t);
    updating_ = false;
    if (count() > 0) {
        if (port_) UpdateFromPort();
        else setCurrentIndex(0);
    }
}

void TComComboBox::UpdateFromPort() {
    if (!port_) return;
    int found = -1;
    if (property_ == cpPort) {
        // A port is the same however it is written (COM2, com2, ttyS1).
        const std::string current = port_->Port();
        for (int i = 0; i < count() && found < 0; ++i)
            if (SamePort(itemText(i).toStdString(), current)) found = i;
        if (found < 0 && !current.empty()) {
            // A port the system does not list is kept, so that OK does not lose it.
            updating_ = true;
            addItem(QString::fromStdString(current));
            updating_ = false;
            found = count() - 1;
        }
    } else {
        QString text;
        switch (property_) {
            case cpBaudRate: text = BaudRateTexts()[port_->BaudRate()]; break;
            case cpDataBits: text = DataBitsTexts()[port_->DataBits()]; break;
            case cpStopBits: text = StopBitsTexts()[port_->StopBits()]; break;
            case cpParity: text = ParityTexts()[port_->Parity.Bits()]; break;
            case cpFlowControl: text = FlowControlTexts()[port_->FlowControl.FlowControl()]; break;
            default: break;
        }
        for (int i = 0; i < count() && found < 0; ++i)
            if (itemText(i).toUpper() == text.toUpper()) found = i;
    }
    updating_ = true;
    setCurrentIndex(found);
    updating_ = false;
    if (found >= 0) Changed();
}

void TComComboBox::Changed() {
    if (updating_) return;
    const QString text = currentIndex() >= 0 ? currentText() : QString();
    switch (property_) {
        case cpNone: break;
        case cpPort: select_.Port = text.toStdString(); break;
        case cpBaudRate: select_.BaudRate = StrToBaudRate(text); break;
        case cpDataBits: select_.DataBits = StrToDataBits(text); break;
        case cpStopBits: select_.StopBits = StrToStopBits(text); break;
        case cpParity: select_.Parity = StrToParity(text); break;
        case cpFlowControl: select_.FlowControl = StrToFlowControl(text); break;
    }
    if (autoApply_) ApplyToPort();
}

void TComComboBox::ApplyToPort() {
    if (!port_) return;
    switch (property_) {
        case cpNone: break;
        case cpPort: port_->SetPort(select_.Port); break;
        case cpBaudRate: port_->SetBaudRate(select_.BaudRate); break;
        case cpDataBits: port_->SetDataBits(select_.DataBits); break;
        case cpStopBits: port_->SetStopBits(select_.StopBits); break;
        case cpParity: port_->Parity.SetBits(select_.Parity); break;
        case cpFlowControl: port_->FlowControl.SetFlowControl(select_.FlowControl); break;
    }
}

// ---------------------------------------------------------------- TComSetupFrm

TComSetupFrm::TComSetupFrm(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Settings"));
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);

    GroupBox1 = new QGroupBox(QStringLiteral(" Settings "), this);
    auto* grid = new QGridLayout(GroupBox1);
    const char* labels[] = {"Port", "Baud rate", "Data bits", "Stop bits", "Parity", "Flow control"};
    const TComProperty props[] = {cpPort, cpBaudRate, cpDataBits, cpStopBits, cpParity, cpFlowControl};
    QLabel** labelFields[] = {&Label1, &Label2, &Label3, &Label4, &Label5, &Label6};
    TComComboBox** comboFields[] = {&Combo1, &Combo2, &Combo3, &Combo4, &Combo5, &Combo6};
    for (int i = 0; i < 6; ++i) {
        *labelFields[i] = new QLabel(QString::fromLatin1(labels[i]), GroupBox1);
        *comboFields[i] = new TComComboBox(GroupBox1);
        (*comboFields[i])->setMinimumWidth(129);
        grid->addWidget(*labelFields[i], i, 0);
        grid->addWidget(*comboFields[i], i, 1);
    }
    // Setting the property fills the lists (the port list is read here).
    for (int i = 0; i < 6; ++i) (*comboFields[i])->SetComProperty(props[i]);
    for (int i = 1; i < 6; ++i) setTabOrder(*comboFields[i - 1], *comboFields[i]);

    Button1 = new QPushButton(QStringLiteral("OK"), this);
    Button1->setDefault(true);
    Button2 = new QPushButton(QStringLiteral("Cancel"), this);
    connect(Button1, &QPushButton::clicked, this, &QDialog::accept);
    connect(Button2, &QPushButton::clicked, this, &QDialog::reject);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(Button1);
    buttons->addWidget(Button2);
    auto* main = new QVBoxLayout(this);
    main->addWidget(GroupBox1);
    main->addLayout(buttons);
    main->setSizeConstraint(QLayout::SetFixedSize);
}

void RunSettingsDialog(TComPort* port, const std::function<int(TComSetupFrm&)>& exec) {
    TComSetupFrm form;
    for (auto* c : form.Combos()) c->SetComPort(port);
    for (auto* c : form.Combos()) c->UpdateFromPort();
    if (exec(form) != QDialog::Accepted) return;
    port->BeginChange();
    try {
        for (auto* c : form.Combos()) c->ApplyToPort();
    } catch (...) {
        port->EndChange();
        throw;
    }
    port->EndChange();
}

void ShowSettingsDialog(TComPort* port) {
    RunSettingsDialog(port, [](TComSetupFrm& f) { return f.exec(); });
}

void InstallSettingsDialog() { TComPort::SettingsDialogHook = &ShowSettingsDialog; }

}  // namespace skarvel
