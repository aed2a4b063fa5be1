// Takes the README's pictures of the window polling the simulated meter:
//   sim_window_screenshot --tcp PORT OUT.png       TCP poll of 127.0.0.1:PORT
//   sim_window_screenshot --serial PATH OUT.png    serial poll of a pseudo-terminal
//   sim_window_screenshot --traffic PORT OUT.png   TCP poll with the "Traffico" panel shown
//   sim_window_screenshot --chart PORT OUT.png     "Grafico" of the voltages and a current
// Run from a folder holding map.cfg, on a display (docs/make-sim-screenshots.sh uses
// Xvfb), with kq517sim already serving.

#include <QApplication>
#include <QElapsedTimer>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QPixmap>
#include <QSettings>
#include <QTableWidget>
#include <QTemporaryDir>
#include <cstdio>
#include <cstring>

#include "CarbonStyle.h"
#include "Form1.h"
#include "MessageBoxes.h"
#include "QtMainThread.h"
#include "SerialPortCombo.h"
#include "TrafficDock.h"
#include "TrendChartWindow.h"

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
  const bool traffic = argc == 4 && std::strcmp(argv[1], "--traffic") == 0;
  const bool trend = argc == 4 && std::strcmp(argv[1], "--chart") == 0;
  const bool tcp = argc == 4 && (std::strcmp(argv[1], "--tcp") == 0 || traffic || trend);
  const bool serial = argc == 4 && std::strcmp(argv[1], "--serial") == 0;
  if (!tcp && !serial) {
    std::fprintf(stderr,
                 "usage: sim_window_screenshot --tcp PORT | --serial PATH | --traffic PORT | "
                 "--chart PORT  OUT.png\n");
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
  if (traffic) {
    form.TrafficDock->show();
    form.resize(1100, 780);
  }
  form.show();
  ProcessEventsFor(300);
  TTrendChartWindow* chart = nullptr;
  if (trend) {
    // The three voltages (V) and the current of L1 (A): two units, two axes.
    for (int row = 1; row <= 4; ++row)
      form.MBGrid->selectionModel()->select(
          form.MBGrid->model()->index(row, 0),
          QItemSelectionModel::Select | QItemSelectionModel::Rows);
    chart = form.OpenTrendChart();
    chart->SetSpan(std::chrono::minutes(1));
    form.PollIntervalEdit->setText(QStringLiteral("1"));
  }
  if (tcp) {
    form.edtIPAddress->setText(QStringLiteral("127.0.0.1"));
    form.PortEdit->setText(QString::fromLocal8Bit(argv[2]));
    form.PollButtonClick();
  } else {
    form.SerialPortEdit->setText(QString::fromLocal8Bit(argv[2]));
    form.SerialPollButtonClick();
  }
  // Two poll cycles at the default interval of 2 s; a chart gets half a minute of points.
  ProcessEventsFor(trend ? 30500 : 2600);
  if (traffic) form.TrafficDock->TakeArrivals();
  const QPixmap shot = chart != nullptr ? chart->grab() : form.grab();
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
