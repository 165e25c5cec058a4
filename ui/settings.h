// What the window remembers between runs: the port and its line settings,
// the window's place and size, the last folders of its dialogs and its
// options. Kept with QSettings in the desktop's usual place (the INI file
// under the XDG configuration folder on Linux, the user's registry key on
// Windows: core/settings_store.h, where programs without Qt read the port).
//
// Each setting has its own getter and setter; the keys are named in
// settings.cpp and nowhere else (but the port's, which zvt reads too).
//
// Threads: GUI thread only.
#pragma once

#include <QByteArray>
#include <QString>
#include <memory>
#include <string>

class QSettings;

namespace skarvel {

class TComPort;

class TSettings {
public:
    // The user's settings.
    TSettings();
    // The settings in an INI file of their own (tests; on Linux the same
    // format as the user's settings).
    explicit TSettings(const QString& iniFile);
    ~TSettings();
    TSettings(const TSettings&) = delete;
    TSettings& operator=(const TSettings&) = delete;

    // ---- the port, as the port dialog closed with OK the last time
    // Its name (an adapter's /dev/serial/by-id/ path); empty: none yet.
    std::string Port() const;
    // Gives port the remembered line settings (baud rate, data bits, stop
    // bits, parity, flow control); a setting not remembered, or not
    // understood, stays as the port has it. The port's name is not touched.
    void LoadLine(TComPort& port) const;
    // Remembers the port's name and line settings.
    void SavePort(const TComPort& port);

    // ---- the main window's place and size (QWidget::saveGeometry)
    QByteArray WindowGeometry() const;
    void SetWindowGeometry(const QByteArray& geometry);

    // ---- the last folders: of the open dialog (F2), of loading (F6), of
    // the comparison of a PC folder with the medium
    QString OpenFolder() const;
    void SetOpenFolder(const QString& folder);
    QString LoadFolder() const;
    void SetLoadFolder(const QString& folder);
    QString CompareFolder() const;
    void SetCompareFolder(const QString& folder);

    // ---- "Проверять запись": read what was written back and compare; on
    // unless the user turned it off
    bool VerifyWrites() const;
    void SetVerifyWrites(bool verify);

    // Writes what was set to the store now (it is written at the latest
    // when this object goes).
    void Sync();

private:
    std::unique_ptr<QSettings> store_;
};

}  // namespace skarvel
