// Takes the README's pictures of the window polling the simulated meter:
//   sim_window_screenshot --tcp PORT OUT.png       TCP poll of 127.0.0.1:PORT
//   sim_window_screenshot --serial PATH OUT.png    serial poll of a pseudo-terminal
// Run from a folder holding map.cfg, on a display (take-screenshots.sh uses
// Xvfb), with kq517sim already serving.

#include "CarbonStyle.h"
#include "Form1.h"
#include "MessageBoxes.h"
#include "QtMainThread.h"
#include "SerialPortCombo.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPixmap>
#include <QSettings>
#include <QTemporaryDir>

#include <cstdio>
#include <cstring>

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

void ProcessEventsFor(int milliseconds) {
  QElapsedTimer timer;
  timer.start();
  while (timer.elapsed() < milliseconds) {
    QApplication::processEvents(QEventLoop::AllEvents, 20);
  }
}

}  // namespace

int main(int argc, char** argv) {
  const bool tcp = argc == 4 && std::strcmp(argv[1], "--tcp") == 0;
  const bool serial = argc == 4 && std::strcmp(argv[1], "--serial") == 0;
  if (!tcp && !serial) {
    std::fprintf(stderr, "usage: sim_window_screenshot --tcp PORT | --serial PATH  OUT.png\n");
    return 2;
  }
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Test_KQ517T"));
  const QString styleError = ApplyVisualStyle(app, QString::fromLatin1(DEFAULT_VISUAL_STYLE));
  if (!styleError.isEmpty()) std::fprintf(stderr, "%s\n", qPrintable(styleError));

  // The window remembers its settings; a picture starts from the defaults and
  // leaves the user's own settings alone.
  QTemporaryDir settingsFolder;
  QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settingsFolder.path());

  TPrintingBoxes boxes;
  // The serial library hands its results to the GUI thread through this.
  TQtMainThreadInstallation mainThread;
  TForm1 form(boxes);
  form.show();
  ProcessEventsFor(300);
  if (tcp) {
    form.edtIPAddress->setText(QStringLiteral("127.0.0.1"));
    form.PortEdit->setText(QString::fromLocal8Bit(argv[2]));
    form.PollButtonClick();
  } else {
    form.SerialPortEdit->setText(QString::fromLocal8Bit(argv[2]));
    form.SerialPollButtonClick();
  }
  // Two poll cycles at the default interval of 2 s.
  ProcessEventsFor(2600);
  const QPixmap shot = form.grab();
  if (tcp) {
    form.PollButtonClick();
  } else {
    form.SerialPollButtonClick();
  }
  ProcessEventsFor(300);
  if (!shot.save(QString::fromLocal8Bit(argv[3]))) {
    std::fprintf(stderr, "cannot write %s\n", argv[3]);
    return 1;
  }
  return 0;
}
