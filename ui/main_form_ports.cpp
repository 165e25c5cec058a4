// The main window's port: opening and releasing it, waiting for a port that
// is missing, the link check's care of a line that hung up, ports plugged
// in and pulled (the port watch), the port settings action, and what the
// window remembers between runs.
//
// The window wants its port open from OpenPort until ClosePort. While it
// wants it and the port is not open (missing at start, taken by another
// program, its adapter pulled), every chance to open it is taken, quietly:
// the adapter's arrival, told by the port watch, opens it and asks the
// device at once; the link check's tick tries again too.
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QTime>
#include <QTimer>
#include <algorithm>

#include "link/port_enum.h"
#include "link/port_watch.h"
#include "link/zvt_drv.h"
#include "ui/com_setup.h"
#include "ui/main_form.h"
#include "ui/message_boxes.h"
#include "ui/my_list_box.h"
#include "ui/qt_main_thread.h"
#include "ui/settings.h"

namespace skarvel {

namespace {

// A port as the messages name it: its name, and the device when that says more.
QString PortShown(const std::string& name) {
    const std::string path = ComDevicePath(name);
    QString shown = QString::fromStdString(name);
    if (!path.empty() && path != name) shown += QStringLiteral(" (") + QString::fromStdString(path) + QLatin1Char(')');
    return shown;
}

// The system's code for a device that is not there (ENOENT on Linux,
// ERROR_FILE_NOT_FOUND on Windows: both 2).
constexpr int kNoSuchDevice = 2;

}  // namespace

// ---------------------------------------------------------------- open and release

bool TForm1::PortOpen() const { return FDriver && FDriver->ComPort.Connected(); }

void TForm1::OpenPort() {
    if (LineOpen()) return;
    if (!FDriver) {
        OpenImageLine();
        return;
    }
    FPortWanted = true;
    FPortLost = false;
    try {
        FDriver->ComPort.Open();
    } catch (const EComPort& e) {
        FWaitNote = QStringLiteral("ожидание порта ") + PortShown(FDriver->ComPort.Port());
        if (FState == formIdle) ShowIdleStatus();
        throw std::runtime_error(OpenFailureText(e).toStdString());
    }
    if (!FWaitNote.isEmpty()) {
        FWaitNote.clear();
        if (FState == formIdle) ShowIdleStatus();
    }
    Action8->setText(QStringLiteral("Освободить &порт"));
    Action8->setToolTip(QStringLiteral("Освободить порт"));
    SetActionImage(Action8, iconPortOpen);
    RunOperation(opInit);
}

QString TForm1::OpenFailureText(const EComPort& e) const {
    const QString port = PortShown(FDriver->ComPort.Port());
    const QString what = e.WinCode() == kNoSuchDevice
                             ? QStringLiteral("Порт ") + port + QStringLiteral(" не найден.")
                             : QStringLiteral("Порт ") + port + QStringLiteral(" не открылся.");
    return QString::fromUtf8(e.what()) + QLatin1Char('\n') + what +
           QStringLiteral(" Skarvel откроет его, как только это станет возможно.");
}

// A window on an image file opens the file where others open their port.
void TForm1::OpenImageLine() {
    FPortLost = false;
    OpenImageFile();
    Action8->setText(QStringLiteral("Освободить &образ"));
    Action8->setToolTip(QStringLiteral("Освободить файл образа"));
    SetActionImage(Action8, iconPortOpen);
    RunOperation(opInit);
}

void TForm1::ClosePort() {
    FPortWanted = false;
    FSilentNote.clear();
    if (!FWaitNote.isEmpty()) {
        FWaitNote.clear();
        if (FState == formIdle) ShowIdleStatus();
    }
    if (!LineOpen() && !FPortLost) return;
    FPortLost = false;
    FPortGone = false;
    FMediumNote.clear();
    FMyListBox->Clear();
    if (FDriver) FDriver->Disconnect();
    else CloseImageFile();
    Action8->setText(FDriver ? QStringLiteral("Открыть &порт") : QStringLiteral("Открыть &образ"));
    SetActionImage(Action8, iconPortClosed);
    Action8->setToolTip(FDriver ? QStringLiteral("Открыть порт") : QStringLiteral("Открыть файл образа"));
    FLinkUp = false;
    SetIdle();
    SetLamp(Image1, lampBlack);
}

bool TForm1::ReopenPort() {
    try {
        OpenPort();
        return true;
    } catch (const std::exception&) {
        return false;  // not back yet: the next chance tries again
    }
}

// ---------------------------------------------------------------- the link

void TForm1::LinkLost() {
    if (!FLinkUp && FLinkLamp == lampBlack) return;
    FLinkUp = false;
    FMediumNote.clear();
    SetLamp(Image1, lampBlack);
    FMyListBox->Clear();
    EnableDeviceActions();
    if (FState == formIdle) ShowIdleStatus();
}

void TForm1::DeviceSilent(bool asking) {
    if (!FDriver) return;
    QString next;
    if (asking) next = QStringLiteral(", новая попытка…");
    else if (Timer1->isActive())
        next = QStringLiteral(", следующая попытка в ") +
               QTime::currentTime().addMSecs(std::max(0, Timer1->remainingTime())).toString(QStringLiteral("HH:mm:ss"));
    FSilentNote = QStringLiteral("устройство не отвечает на порту ") + PortShown(FDriver->ComPort.Port()) + next;
    if (FState == formIdle) ShowIdleStatus();
}

bool TForm1::CheckLine() {
    // Only between requests: the worker must not lose its port mid-exchange.
    // An image file does not hang up.
    if (!FJobs.empty() || !FDriver) return false;
    TComPort& port = FDriver->ComPort;
    if (port.Connected() && !port.EventThreadRunning()) {
        // The far end hung up (an adapter pulled, a simulator ended): the
        // descriptor is dead, and only opening the port again finds the
        // device when it is back.
        LinkLost();
        FDriver->Disconnect();
        FPortLost = true;
        FPortGone = false;
        FSilentNote.clear();
    }
    if (!FPortWanted || port.Connected()) return false;
    return ReopenPort();
}

void TForm1::DropPort() {
    LinkLost();
    FPortGone = true;
    CloseDroppedPort();
}

void TForm1::CloseDroppedPort() {
    // A request still out keeps its port until it has failed on it.
    if (!FPortGone || !FJobs.empty() || !FDriver) return;
    FPortGone = false;
    if (!FDriver->ComPort.Connected()) return;
    FDriver->Disconnect();
    FPortLost = true;
}

// ---------------------------------------------------------------- ports that come and go

void TForm1::StartPortWatch() {
    FPortWatch = TPortWatch::Start(FMain.get(), [this](const TPortChange& change) { PortChanged(change); });
}

void TForm1::PortChanged(const TPortChange& change) {
    // An open port dialog shows what is there now.
    NotifyPortsChanged();
    if (!FDriver || !PortNamed(change.Port, FDriver->ComPort.Port())) return;
    if (change.Added) {
        // The adapter the window waits for: open it and ask the device now,
        // not at the next tick.
        if (WaitingForPort()) ReopenPort();
    } else if (FDriver->ComPort.Connected() && !FPortGone) {
        DropPort();
    }
}

// ---------------------------------------------------------------- actions

void TForm1::Action7Execute() {
    if (!FDriver) return;  // an image file has no line settings
    ClosePort();
    if (FDriver->ComPort.ShowSettingsDialog()) {
        // The user chose the port: no word of how it was chosen at start.
        FChoiceNote.clear();
        if (FSettings && FRememberPort) FSettings->SavePort(FDriver->ComPort);
    }
    OpenPort();
}

void TForm1::Action8Execute() {
    if (LineOpen() || FPortLost) ClosePort();
    else OpenPort();
}

// ---------------------------------------------------------------- remembered between runs

void TForm1::RestoreSettings() {
    if (!FSettings) return;
    if (FDriver) FSettings->LoadLine(FDriver->ComPort);
    const QByteArray geometry = FSettings->WindowGeometry();
    if (!geometry.isEmpty()) restoreGeometry(geometry);
    const QString open = FSettings->OpenFolder();
    if (!open.isEmpty() && QFileInfo(open).isDir()) OpenDialog1->setDirectory(open);
}

void TForm1::KeepSettings() {
    if (!FSettings) return;
    FSettings->SetWindowGeometry(saveGeometry());
    FSettings->Sync();
}

}  // namespace skarvel
