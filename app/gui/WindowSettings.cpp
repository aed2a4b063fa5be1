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
  return std::array<std::pair<const char*, QLineEdit*>, 7>{
      {{"tcp/ip", form.edtIPAddress},
       {"tcp/port", form.PortEdit},
       {"tcp/interval", form.PollIntervalEdit},
       {"tcp/unitId", form.UnitIdEdit},
       {"tcp/timeout", form.TimeoutEdit},
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
  return std::array<std::pair<const char*, QCheckBox*>, 7>{
      {{"map/qvzt", form.QvztModeCheckBox},
       {"map/float32", form.Float32CheckBox},
       {"tcp/leaveOpen", form.chkLeaveConnectionOpen},
       {"tcp/keepGoing", form.chkKeepGoing},
       {"serial/frameEndByLength", form.chkFrameEndByLength},
       {"serial/keepGoing", form.chkSerialKeepGoing},
       {"serial/leaveOpen", form.chkSerialLeaveOpen}}};
}

bool IsPanelKey(const char* key) {
  const QLatin1String text(key);
  return text.startsWith(QLatin1String("tcp/")) || text.startsWith(QLatin1String("serial/")) ||
         text.startsWith(QLatin1String("map/"));
}

// Which fields a pass over the tables takes.
enum class EFields { efAll, efPanels };

// Runs Visit(key, field) for every field of Fields that Which takes.
template <typename Fields, typename Visit>
void ForFields(const Fields& fields, EFields which, Visit&& visit) {
  for (const auto& [key, field] : fields)
    if (which == EFields::efAll || IsPanelKey(key)) visit(QLatin1String(key), field);
}

constexpr char SERIAL_PORT_KEY[] = "serial/port";
constexpr char RECENT_PORTS_KEY[] = "serial/recentPorts";

void RestoreFields(TForm1& form, const QSettings& settings, EFields which) {
  ForFields(TextFields(form), which, [&](const QLatin1String& key, QLineEdit* edit) {
    if (settings.contains(key)) edit->setText(settings.value(key).toString());
  });
  if (settings.contains(QLatin1String(SERIAL_PORT_KEY)))
    form.SerialPortEdit->setText(settings.value(QLatin1String(SERIAL_PORT_KEY)).toString());
  ForFields(ListFields(form), which, [&](const QLatin1String& key, QComboBox* combo) {
    bool ok = false;
    const int index = settings.value(key).toInt(&ok);
    if (ok && index >= 0 && index < combo->count()) combo->setCurrentIndex(index);
  });
  ForFields(CheckFields(form), which, [&](const QLatin1String& key, QCheckBox* box) {
    if (settings.contains(key)) box->setChecked(settings.value(key).toBool());
  });
}

void SaveFields(const TForm1& form, QSettings& settings, EFields which) {
  ForFields(TextFields(form), which, [&](const QLatin1String& key, QLineEdit* edit) {
    settings.setValue(key, edit->text());
  });
  settings.setValue(QLatin1String(SERIAL_PORT_KEY), form.SerialPortEdit->text());
  ForFields(ListFields(form), which, [&](const QLatin1String& key, QComboBox* combo) {
    settings.setValue(key, combo->currentIndex());
  });
  ForFields(CheckFields(form), which, [&](const QLatin1String& key, QCheckBox* box) {
    settings.setValue(key, box->isChecked());
  });
}

}  // namespace

std::unique_ptr<QSettings> OpenWindowSettings() {
  return std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope,
                                     QString::fromLatin1(ORGANIZATION),
                                     QString::fromLatin1(APPLICATION));
}

void RestorePanelSettings(TForm1& form, const QSettings& settings) {
  RestoreFields(form, settings, EFields::efPanels);
}

void SavePanelSettings(const TForm1& form, QSettings& settings) {
  SaveFields(form, settings, EFields::efPanels);
}

void RestoreWindowSettings(TForm1& form, const QSettings& settings) {
  // The serial device servers polled before: the window's history, which no
  // connection profile holds. Then every field, the port last used among them.
  form.SerialPortEdit->SetRecentPorts(
      settings.value(QLatin1String(RECENT_PORTS_KEY)).toStringList());
  RestoreFields(form, settings, EFields::efAll);
  if (settings.contains(QStringLiteral("window/geometry")))
    form.restoreGeometry(settings.value(QStringLiteral("window/geometry")).toByteArray());
  // The docks: whether the "Traffico" panel is shown, and where.
  if (settings.contains(QStringLiteral("window/state")))
    form.restoreState(settings.value(QStringLiteral("window/state")).toByteArray());
}

void SaveWindowSettings(const TForm1& form, QSettings& settings) {
  SaveFields(form, settings, EFields::efAll);
  settings.setValue(QLatin1String(RECENT_PORTS_KEY), form.SerialPortEdit->RecentPorts());
  settings.setValue(QStringLiteral("window/geometry"), form.saveGeometry());
  settings.setValue(QStringLiteral("window/state"), form.saveState());
}
