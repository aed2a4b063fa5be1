// The "Traffico" panel under a steady line: frames reach the real window's
// frame hook from another thread at 100 a second, as a busy poll would send
// them, until 10,000 have arrived and the panel is full, then for a while
// longer while every new frame pushes out the oldest. Reports the GUI
// thread's and the whole process's CPU as a share of one core, and the
// resident memory when the panel had filled and at the end.
//
//   QT_QPA_PLATFORM=offscreen bench_gui_traffic_panel [FILL_SECONDS [ROLL_SECONDS
//   [FRAMES_PER_SECOND]]]
//
// Defaults: 100 s to fill (10,000 frames at 100/s), then 30 s rolling.

#include <QApplication>
#include <QEventLoop>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <string>
#include <thread>

#include "CarbonStyle.h"
#include "Form1.h"
#include "MessageBoxes.h"
#include "TrafficDock.h"
#include "TrafficModel.h"

namespace {

class TSilentBoxes final : public TMessageBoxes {
 public:
  void ShowError(QWidget*, const QString& text) override {
    std::fprintf(stderr, "error: %s\n", qPrintable(text));
  }
  void ShowMessage(QWidget*, const QString&) override {}
};

double ThreadCpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

double ProcessCpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

long ResidentKiB() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
  return -1;
}

// A read of 124 registers and its reply, as a TCP poll sends them.
TFrameRecord Frame(bool Request) {
  TFrameRecord record;
  record.Time = std::chrono::steady_clock::now();
  record.Framing = TFrameFraming::ffTcp;
  record.Direction = Request ? TFrameDirection::fdSent : TFrameDirection::fdReceived;
  if (Request) {
    record.Bytes = {0, 1, 0, 0, 0, 6, 0, 3, 0, 0, 0, 0x7C};
  } else {
    record.Bytes.assign(7 + 2 + 248, 0x42);
    const std::uint8_t head[] = {0, 1, 0, 0, 0, 251, 0, 3, 248};
    std::copy(std::begin(head), std::end(head), record.Bytes.begin());
    record.ResponseTime = std::chrono::microseconds(600);
  }
  return record;
}

// The window's own event loop, sleeping between events as it does in use.
void RunEventsFor(double Seconds) {
  QEventLoop loop;
  QTimer::singleShot(static_cast<int>(Seconds * 1000), &loop, &QEventLoop::quit);
  loop.exec();
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  const double fillSeconds = argc > 1 ? std::atof(argv[1]) : 100.0;
  const double rollSeconds = argc > 2 ? std::atof(argv[2]) : 30.0;
  // A third argument changes the rate, to reach the full panel sooner.
  const int FRAMES_PER_SECOND = argc > 3 ? std::atoi(argv[3]) : 100;

  QApplication app(argc, argv);
  ApplyVisualStyle(app, QString::fromLatin1(DEFAULT_VISUAL_STYLE));
  QTemporaryDir folder;
  QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, folder.path());
  TSilentBoxes boxes;
  TForm1 form(boxes);
  form.TrafficDock->show();
  form.resize(1280, 800);
  form.show();
  RunEventsFor(0.5);

  std::atomic<bool> stop{false};
  std::atomic<long> sent{0};
  std::atomic<double> producerCpu{0};
  TFrameHook& hook = form.ModbusClient().FrameHook();
  std::thread producer([&] {
    const auto start = std::chrono::steady_clock::now();
    for (long n = 0; !stop; ++n) {
      std::this_thread::sleep_until(start +
                                    std::chrono::microseconds(n * 1000000 / FRAMES_PER_SECOND));
      hook.Emit(Frame(n % 2 == 0));
      sent = n + 1;
    }
    producerCpu = ThreadCpuSeconds();
  });

  const double gui0 = ThreadCpuSeconds();
  const double proc0 = ProcessCpuSeconds();
  RunEventsFor(fillSeconds);
  const double guiFill = ThreadCpuSeconds() - gui0;
  const double procFill = ProcessCpuSeconds() - proc0;
  const long rssFilled = ResidentKiB();
  const long rowsFilled = form.TrafficDock->Model().rowCount();
  // Memory while every frame pushes out the oldest: sampled every 10 s.
  std::string rolling;
  for (double done = 0; done < rollSeconds; done += 10) {
    RunEventsFor(std::min(10.0, rollSeconds - done));
    rolling += " " + std::to_string(ResidentKiB());
  }
  stop = true;
  producer.join();
  const double gui = ThreadCpuSeconds() - gui0;
  const double proc = ProcessCpuSeconds() - proc0 - producerCpu;
  const long rssEnd = ResidentKiB();
  const double total = fillSeconds + rollSeconds;

  std::printf("frames sent: %ld in %.0f s (%d/s); panel rows after filling: %ld, at the end: %d\n",
              sent.load(), total, FRAMES_PER_SECOND, rowsFilled,
              form.TrafficDock->Model().rowCount());
  std::printf("GUI thread CPU: %.2f %% of a core while filling, %.2f %% over the whole run\n",
              100.0 * guiFill / fillSeconds, 100.0 * gui / total);
  std::printf(
      "process CPU without the frame producer: %.2f %% of a core (filling: %.2f %% with it)\n",
      100.0 * proc / total, 100.0 * procFill / fillSeconds);
  std::printf(
      "resident memory: %ld KiB when full, %ld KiB at the end (%+ld KiB); every 10 s after "
      "filling:%s KiB\n",
      rssFilled, rssEnd, rssEnd - rssFilled, rolling.c_str());
  return 0;
}
