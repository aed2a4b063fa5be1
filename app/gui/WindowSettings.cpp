#include "WindowSettings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <array>
#include <utility>

#include "Form1.h"
#include "SerialPortCombo.h"

namespace {

constexpr char ORGANIZATION[] = "KQ517";
constexpr char APPLICATION[] = "Test_KQ517T";

// Every remembered line edit with its key.
template <typename Form>
auto TextFields(Form& form) {
  return std::array<std::pair<const char*, QLineEdit*>, 5>{
      {{"tcp/ip", form.edtIPAddress},
       {"tcp/port", form.PortEdit},
       {"tcp/interval", form.PollIntervalEdit},
       {"serial/interval", form.SerialPollIntervalEdit},
       {"serial/slave", form.SerialSlaveAddressEdit}}};
}

template <typename Form>
auto ListFields(Form& form) {
  return std::array<std::pair<const char*, QComboBox*>, 10>{
      {{"map/meter", form.MeterInstanceCombo},
       {"tcp/byteSequence", form.BytesSequenceCombo},
       {"tcp/function", form.TcpFunctionCombo},
       {"serial/baudRate", form.BaudRateCombo},
       {"serial/parity", form.ParityCombo},
       {"serial/mode", form.ModeCombo},
       {"serial/dataBits", form.DataBitsCombo},
       {"serial/stopBits", form.StopBitsCombo},
       {"serial/function", form.SerialFunctionCombo},
       {"serial/byteSequence", form.SerialBytesSequenceCombo}}};
}

template <typename Form>
auto CheckFields(Form& form) {
  return std::array<std::pair<const char*, QCheckBox*>, 6>{
      {{"map/qvzt", form.QvztModeCheckBox},
       {"map/float32", form.Float32CheckBox},
       {"tcp/leaveOpen", form.chkLeaveConnectionOpen},
       {"tcp/keepGoing", form.chkKeepGoing},
       {"serial/frameEndByLength", form.chkFrameEndByLength},
       {"serial/keepGoing", form.chkSerialKeepGoing}}};
}

}  // namespace

std::unique_ptr<QSettings> OpenWindowSettings() {
  return std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope,
                                     QString::fromLatin1(ORGANIZATION),
                                     QString::fromLatin1(APPLICATION));
}

void RestoreWindowSettings(TForm1& form, const QSettings& settings) {
  for (const auto& [key, edit] : TextFields(form))
    if (settings.contains(QLatin1String(key)))
      edit->setText(settings.value(QLatin1String(key)).toString());
  // The serial device servers polled before, then the port last used.
  form.SerialPortEdit->SetRecentPorts(
      settings.value(QStringLiteral("serial/recentPorts")).toStringList());
  if (settings.contains(QStringLiteral("serial/port")))
    form.SerialPortEdit->setText(settings.value(QStringLiteral("serial/port")).toString());
  for (const auto& [key, combo] : ListFields(form)) {
    bool ok = false;
    const int index = settings.value(QLatin1String(key)).toInt(&ok);
    if (ok && index >= 0 && index < combo->count()) combo->setCurrentIndex(index);
  }
  for (const auto& [key, box] : CheckFields(form))
    if (settings.contains(QLatin1String(key)))
      box->setChecked(settings.value(QLatin1String(key)).toBool());
  if (settings.contains(QStringLiteral("window/geometry")))
    form.restoreGeometry(settings.value(QStringLiteral("window/geometry")).toByteArray());
  // The docks: whether the "Traffico" panel is shown, and where.
  if (settings.contains(QStringLiteral("window/state")))
    form.restoreState(settings.value(QStringLiteral("window/state")).toByteArray());
}

void SaveWindowSettings(const TForm1& form, QSettings& settings) {
  for (const auto& [key, edit] : TextFields(form))
    settings.setValue(QLatin1String(key), edit->text());
  settings.setValue(QStringLiteral("serial/port"), form.SerialPortEdit->text());
  settings.setValue(QStringLiteral("serial/recentPorts"), form.SerialPortEdit->RecentPorts());
  for (const auto& [key, combo] : ListFields(form))
    settings.setValue(QLatin1String(key), combo->currentIndex());
  for (const auto& [key, box] : CheckFields(form))
    settings.setValue(QLatin1String(key), box->isChecked());
  settings.setValue(QStringLiteral("window/geometry"), form.saveGeometry());
  settings.setValue(QStringLiteral("window/state"), form.saveState());
}
