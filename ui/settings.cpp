#include "ui/settings.h"

#include <QSettings>
#include <vector>

#include "core/settings_store.h"
#include "link/cport.h"
#include "ui/com_setup.h"

namespace skarvel {

namespace {

// The keys. The port's name is core's: zvt reads it without Qt.
const QString kPortName = QString::fromLatin1(kPortNameKey);
const QString kBaudRate = QStringLiteral("port/baudRate");
const QString kDataBits = QStringLiteral("port/dataBits");
const QString kStopBits = QStringLiteral("port/stopBits");
const QString kParity = QStringLiteral("port/parity");
const QString kFlowControl = QStringLiteral("port/flowControl");
const QString kGeometry = QStringLiteral("window/geometry");
const QString kOpenFolder = QStringLiteral("folders/open");
const QString kLoadFolder = QStringLiteral("folders/load");
const QString kCompareFolder = QStringLiteral("folders/compare");
const QString kVerify = QStringLiteral("transfer/verify");

// The line settings are kept as the port dialog shows them ("115200",
// "None"): readable in the file, and converted by the dialog's own tables.
// The index of the remembered text in table, or -1.
int Remembered(const QSettings& s, const QString& key, const std::vector<QString>& table) {
    const QString text = s.value(key).toString();
    if (text.isEmpty()) return -1;
    for (size_t i = 0; i < table.size(); ++i)
        if (table[i].compare(text, Qt::CaseInsensitive) == 0) return static_cast<int>(i);
    return -1;
}

}  // namespace

TSettings::TSettings()
    : store_(std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                         QString::fromLatin1(kSettingsOrganization),
                                         QString::fromLatin1(kSettingsApplication))) {}

TSettings::TSettings(const QString& iniFile) : store_(std::make_unique<QSettings>(iniFile, QSettings::IniFormat)) {}

TSettings::~TSettings() = default;

std::string TSettings::Port() const { return store_->value(kPortName).toString().toStdString(); }

void TSettings::LoadLine(TComPort& port) const {
    const QSettings& s = *store_;
    port.BeginChange();
    if (const int i = Remembered(s, kBaudRate, BaudRateTexts()); i >= 0) port.SetBaudRate(static_cast<TBaudRate>(i));
    if (const int i = Remembered(s, kDataBits, DataBitsTexts()); i >= 0) port.SetDataBits(static_cast<TDataBits>(i));
    if (const int i = Remembered(s, kStopBits, StopBitsTexts()); i >= 0) port.SetStopBits(static_cast<TStopBits>(i));
    if (const int i = Remembered(s, kParity, ParityTexts()); i >= 0) port.Parity.SetBits(static_cast<TParityBits>(i));
    if (const int i = Remembered(s, kFlowControl, FlowControlTexts()); i >= 0)
        port.FlowControl.SetFlowControl(static_cast<TFlowControl>(i));
    port.EndChange();
}

void TSettings::SavePort(const TComPort& port) {
    store_->setValue(kPortName, QString::fromStdString(port.Port()));
    store_->setValue(kBaudRate, BaudRateTexts()[port.BaudRate()]);
    store_->setValue(kDataBits, DataBitsTexts()[port.DataBits()]);
    store_->setValue(kStopBits, StopBitsTexts()[port.StopBits()]);
    store_->setValue(kParity, ParityTexts()[port.Parity.Bits()]);
    store_->setValue(kFlowControl, FlowControlTexts()[port.FlowControl.FlowControl()]);
    // zvt may be started any moment now.
    store_->sync();
}

QByteArray TSettings::WindowGeometry() const { return store_->value(kGeometry).toByteArray(); }
void TSettings::SetWindowGeometry(const QByteArray& geometry) { store_->setValue(kGeometry, geometry); }

QString TSettings::OpenFolder() const { return store_->value(kOpenFolder).toString(); }
void TSettings::SetOpenFolder(const QString& folder) { store_->setValue(kOpenFolder, folder); }
QString TSettings::LoadFolder() const { return store_->value(kLoadFolder).toString(); }
void TSettings::SetLoadFolder(const QString& folder) { store_->setValue(kLoadFolder, folder); }
QString TSettings::CompareFolder() const { return store_->value(kCompareFolder).toString(); }
void TSettings::SetCompareFolder(const QString& folder) { store_->setValue(kCompareFolder, folder); }

bool TSettings::VerifyWrites() const { return store_->value(kVerify, true).toBool(); }
void TSettings::SetVerifyWrites(bool verify) { store_->setValue(kVerify, verify); }

void TSettings::Sync() { store_->sync(); }

}  // namespace skarvel
