// Takes the README's screenshot: the window, in its "Carbon" style, polling a
// scripted meter on 127.0.0.1 with plausible values for the sample map.
// Run from a folder holding map.cfg, on a display (docs/make-screenshot.sh
// uses Xvfb):  gui_window_screenshot WINDOW.png [ABOUT.png]
// With --laptop it takes the window at its minimum height with the
// "Traffico" panel open instead, and with --file-dialog the file dialog of
// File > "Registra…", in the language of the locale:
//   gui_window_screenshot --laptop WINDOW.png
//   gui_window_screenshot --file-dialog DIALOG.png

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QPixmap>
#include <QSettings>
#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "AboutBox.h"
#include "CarbonStyle.h"
#include "Form1.h"
#include "GuiTestSupport.h"
#include "LoopbackModbusServer.h"
#include "QtTranslation.h"
#include "TrafficDock.h"

namespace {

class TPrintingBoxes final : public TMessageBoxes {
 public:
  void ShowError(QWidget*, const QString& text) override {
    std::fprintf(stderr, "error: %s\n", qPrintable(text));
  }
  void ShowMessage(QWidget*, const QString& text) override {
    std::fprintf(stderr, "%s\n", qPrintable(text));
  }
};

// A reading that suits the description of the entry.
double ReadingFor(const std::string& desc, int index) {
  const std::pair<const char*, double> readings[] = {
      {"Tensione", 230.4},         {"Corrente di neutro", 0.12},
      {"Corrente", 5.21},          {"Fattore", 0.97},
      {"Frequenza", 50.01},        {"Potenza reattiva", 0.42},
      {"Potenza apparente", 3.61}, {"Potenza", 3.48},
      {"Energia", 12873.35},       {"Massima", 6.27}};
  for (const auto& [word, value] : readings)
    if (desc.find(word) != std::string::npos) return value + 0.13 * (index % 3);
  return 1.0 + index;
}

// Writes every entry's value in the 1-0-3-2 sequence: least significant word first.
void FillMeter(TLoopbackModbusServer& server, const TRegisterMap& map) {
  auto put = [&server](uint32_t address, const void* value, int words) {
    uint16_t w[4];
    std::memcpy(w, value, static_cast<std::size_t>(words) * 2);
    for (int i = 0; i < words; ++i) server.SetRegister(static_cast<uint16_t>(address + i), w[i]);
  };
  int index = 0;
  for (const TConfigRecord& entry : map.Regs()) {
    uint32_t address = static_cast<uint32_t>(std::stoul(entry.regAddress));
    const double reading = ReadingFor(entry.desc, index++);
    switch (entry.regType) {
      case eWord:
        server.SetRegister(static_cast<uint16_t>(address), entry.obis.empty() ? 0x0107 : 3);
        break;
      case eInteger: {
        const int32_t v = 17051234;
        put(address, &v, 2);
        break;
      }
      case eFloat: {
        const float v = static_cast<float>(reading);
        put(address, &v, 2);
        break;
      }
      case eDouble: {
        const double v = reading;
        put(address, &v, 4);
        break;
      }
      case eDate: {
        const int32_t v = 20261208;
        put(address, &v, 2);
        break;
      }
      case eTime: {
        const int32_t v = 214512;
        put(address, &v, 2);
        break;
      }
      case eDate3:
        for (uint16_t v : {uint16_t{2026}, uint16_t{11}, uint16_t{27}})
          server.SetRegister(static_cast<uint16_t>(address++), v);
        break;
      case eTime3:
        for (uint16_t v : {uint16_t{18}, uint16_t{30}, uint16_t{0}})
          server.SetRegister(static_cast<uint16_t>(address++), v);
        break;
      case eTimeStamp12:
        break;
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  const QString mode = argc == 3 ? QString::fromLocal8Bit(argv[1]) : QString();
  const bool laptop = mode == QLatin1String("--laptop");
  const bool fileDialog = mode == QLatin1String("--file-dialog");
  if (argc != 2 && argc != 3) {
    std::fprintf(
        stderr, "usage: gui_window_screenshot [--laptop | --file-dialog] WINDOW.png [ABOUT.png]\n");
    return 2;
  }
  const char* windowFile = laptop || fileDialog ? argv[2] : argv[1];
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Test_KQ517T"));
  InstallQtTranslation(app);
  const QString styleError = ApplyVisualStyle(app, QString::fromLatin1(DEFAULT_VISUAL_STYLE));
  if (!styleError.isEmpty()) std::fprintf(stderr, "%s\n", qPrintable(styleError));

  // The window remembers its settings; a picture starts from the defaults and
  // leaves the user's own settings alone.
  QTemporaryDir settingsFolder;
  QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settingsFolder.path());

  TPrintingBoxes boxes;
  TLoopbackModbusServer server;
  TForm1 form(boxes);
  FillMeter(server, form.RegisterMap());
  form.edtIPAddress->setText(QStringLiteral("127.0.0.1"));
  form.PortEdit->setText(QString::number(server.Port()));
  // KQ_SHOT_ABSENT_METER=N: the window polls meter instance N, which is
  // switched off (every register 0xFFFF).
  if (const char* absent = std::getenv("KQ_SHOT_ABSENT_METER")) {
    const int instance = std::atoi(absent);
    for (int i = 0; i < MB_METER_INSTANCE_STRIDE; ++i)
      server.SetRegister(static_cast<uint16_t>(MB_METER_INSTANCE_STRIDE * (instance - 1) + i),
                         0xFFFF);
    form.MeterInstanceCombo->setCurrentIndex(instance - 1);
    form.MeterInstanceComboChange();
  }
  if (fileDialog) {
    // Qt's own dialog, as on a desktop without a platform dialog of its own.
    QFileDialog dialog(&form, QStringLiteral("Registra i valori"), QDir::currentPath(),
                       QStringLiteral("CSV con ; e virgola decimale (*.csv);;"
                                      "CSV con , e punto decimale (*.csv)"));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.selectFile(QStringLiteral("valori.csv"));
    dialog.resize(760, 440);
    dialog.show();
    ProcessEventsFor(500);
    if (!dialog.grab().save(QString::fromLocal8Bit(windowFile))) {
      std::fprintf(stderr, "cannot write %s\n", windowFile);
      return 1;
    }
    return 0;
  }
  if (laptop) form.TrafficDock->show();
  form.show();
  ProcessEventsFor(300);
  if (laptop) {
    form.resize(1000, form.minimumSizeHint().height());
    ProcessEventsFor(300);
  }
  form.PollButtonClick();
  ProcessEventsFor(laptop ? 6500 : 700);

  const QPixmap shot = form.grab();
  form.PollButtonClick();
  if (!shot.save(QString::fromLocal8Bit(windowFile))) {
    std::fprintf(stderr, "cannot write %s\n", windowFile);
    return 1;
  }
  if (argc == 3 && !laptop && !fileDialog) {
    TAboutBox about(&form);
    about.show();
    ProcessEventsFor(300);
    if (!about.grab().save(QString::fromLocal8Bit(argv[2]))) {
      std::fprintf(stderr, "cannot write %s\n", argv[2]);
      return 1;
    }
  }
  return 0;
}
