// The port settings dialog (six drop-down lists bound to one TComPort) and
// its combo box. The chosen settings go into the port; the window remembers
// them for later runs (ui/settings.h).
//
// The port list shows each port with what the system knows of it
// ("ttyUSB0 — FT232R USB UART (A50285BI)") and follows the ports that come
// and go while it is open (NotifyPortsChanged). A USB adapter chosen there
// is given to the port by its stable name under /dev/serial/by-id/, so that
// it is found again in any USB socket.
//
// Threads: GUI thread only.
#pragma once

#include <QComboBox>
#include <QDialog>
#include <functional>
#include <string>
#include <vector>

#include "link/cport.h"
#include "link/port_enum.h"

class QGroupBox;
class QLabel;
class QPushButton;

namespace skarvel {

enum TComProperty { cpNone, cpPort, cpBaudRate, cpDataBits, cpStopBits, cpParity, cpFlowControl };

// The value a combo box has chosen so far.
struct TComSelect {
    std::string Port;
    TBaudRate BaudRate = br9600;
    TDataBits DataBits = dbEight;
    TStopBits StopBits = sbOneStopBit;
    TParityBits Parity = prNone;
    TFlowControl FlowControl = fcCustom;
};

// Item texts, in enumeration order; the same tables convert both ways.
const std::vector<QString>& BaudRateTexts();
const std::vector<QString>& DataBitsTexts();
const std::vector<QString>& StopBitsTexts();
const std::vector<QString>& ParityTexts();
const std::vector<QString>& FlowControlTexts();

// Text to value: compared in capitals, first equal item wins; no match gives
// br9600, dbEight, sbOneStopBit, prNone, fcCustom.
TBaudRate StrToBaudRate(const QString& s);
TDataBits StrToDataBits(const QString& s);
TStopBits StrToStopBits(const QString& s);
TParityBits StrToParity(const QString& s);
TFlowControl StrToFlowControl(const QString& s);

// A port as the port list shows it: "ttyUSB0 — FT232R USB UART (A50285BI)",
// or the name alone when nothing more is known.
QString PortLabel(const TPortInfo& port);

// Tells every port list on the screen that ports have come or gone; each
// reads the system's list again and keeps its choice.
void NotifyPortsChanged();

class TComComboBox : public QComboBox {
    Q_OBJECT
public:
    explicit TComComboBox(QWidget* parent = nullptr);
    ~TComComboBox() override;

    // Fills the port list (ListPorts by default; tests replace it). It may
    // throw EComPort (code 23) when the system's list cannot be read.
    static std::function<void(std::vector<TPortInfo>&)> PortLister;

    TComPort* ComPort() const { return port_; }
    void SetComPort(TComPort* port);  // binds and runs UpdateFromPort
    TComProperty ComProperty() const { return property_; }
    void SetComProperty(TComProperty p);  // fills the items
    bool AutoApply() const { return autoApply_; }
    void SetAutoApply(bool v) { autoApply_ = v; }
    const TComSelect& Selected() const { return select_; }

    void UpdateFromPort();
    void ApplyToPort();
    // The port list read again (cpPort only); the port chosen stays chosen,
    // as an item of its own when it is gone. A list that cannot be read now
    // is left as it is.
    void RefreshPorts();

private:
    void Changed();
    // The port items from ports_, each with the name the port is given.
    void FillPorts();
    // The item of the port named name, or -1.
    int FindPort(const std::string& name) const;
    // Adds an item for a port the system does not list.
    int AddUnlistedPort(const std::string& name);
    TComPort* port_ = nullptr;
    std::vector<TPortInfo> ports_;  // cpPort: what each item shows, in item order
    TComProperty property_ = cpNone;
    bool autoApply_ = false;
    bool updating_ = false;
    TComSelect select_;
};

class TComSetupFrm : public QDialog {
    Q_OBJECT
public:
    explicit TComSetupFrm(QWidget* parent = nullptr);

    QGroupBox* GroupBox1;
    QLabel *Label1, *Label2, *Label3, *Label4, *Label5, *Label6;
    TComComboBox *Combo1, *Combo2, *Combo3, *Combo4, *Combo5, *Combo6;
    QPushButton *Button1, *Button2;

    std::vector<TComComboBox*> Combos() const { return {Combo1, Combo2, Combo3, Combo4, Combo5, Combo6}; }
};

// Runs the dialog on port; exec shows it and returns its result (QDialog's
// exec by default). The settings are written only when it returns Accepted;
// true then.
bool RunSettingsDialog(TComPort* port, const std::function<int(TComSetupFrm&)>& exec);
// The dialog, modal; installed as TComPort::SettingsDialogHook.
bool ShowSettingsDialog(TComPort* port);
void InstallSettingsDialog();

}  // namespace skarvel
