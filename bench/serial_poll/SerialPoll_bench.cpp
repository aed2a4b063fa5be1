// The window's serial poll of a 125-register map at 115200 baud, against a
// libmodbus RTU slave behind a pty bridge, both in a child process:
// - BM_SerialPollTickToGrid: one timer tick until the grid shows the decoded
//   reply (and the port is closed again); argument 1 with "Fine frame per
//   lunghezza" checked;
// - BM_SerialPollCpuAtOneSecond: the CPU time of this process (window, serial
//   worker, Qt) while the poll runs every second, as a share of one core.
// Run: QT_QPA_PLATFORM=offscreen bench_serial_poll --benchmark_repetitions=5
// A pseudo-terminal does not pace bytes at the baud rate; the library's frame
// timing for 115200 baud applies all the same.
#include <benchmark/benchmark.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCheckBox>
#include <QEventLoop>
#include <QLineEdit>
#include <QTableWidget>
#include <QTimer>
#include <chrono>
#include <memory>
#include <string>

#include "Form1.h"
#include "GuiTestSupport.h"
#include "LibmodbusSlaveProcess.h"
#include "ModbusClient.h"
#include "ModbusConnection.h"
#include "QtMainThread.h"
#include "SerialPortCombo.h"

namespace {

std::string GSlavePath;

// The firmware word and 62 singles: 125 registers, the most one request holds.
QStringList Map125() {
  QStringList lines;
  for (int i = 0; i < 62; ++i) lines << QStringLiteral("1-0:32.7.%1|f|Tensione %1").arg(i);
  return lines;
}

struct TWindow {
  TWindow() {
    EnsureApplication();
    folder.Write(QStringLiteral("map.cfg"), Map125());
    form = std::make_unique<TForm1>(boxes);
    form->SerialPortEdit->setText(QString::fromStdString(GSlavePath));
    // The window handles the reply (grid, port closed), then the loop ends.
    TModbusClient& client = form->SerialClient();
    client.OnHoldingRegistersRead = [this, handler = client.OnHoldingRegistersRead](
                                        TModbusClient& sender, const TTransactionInfo& info,
                                        uint16_t start, uint16_t count, const TRegValues& values) {
      handler(sender, info, start, count, values);
      replyLoop.quit();
    };
  }
  ~TWindow() {
    form.reset();
    ProcessEventsFor(20);
  }
  // Runs the event loop (blocking, as the program does) until the next reply.
  bool WaitForReply() {
    QTimer::singleShot(5000, &replyLoop, [this] { replyLoop.exit(1); });
    return replyLoop.exec() == 0 && !form->SerialConnection().Active();
  }
  TScratchFolder folder;
  TRecordingMessageBoxes boxes;
  TQtMainThreadInstallation mainThread;
  std::unique_ptr<TForm1> form;
  QEventLoop replyLoop;
};

void BM_SerialPollTickToGrid(benchmark::State& State) {
  TWindow window;
  window.form->chkFrameEndByLength->setChecked(State.range(0) != 0);
  window.form->SerialPollIntervalEdit->setText(
      QStringLiteral("0"));  // ticks come from the loop below
  window.form->SerialPollButtonClick();
  if (!window.WaitForReply()) State.SkipWithError("no reply to the first request");
  const QString value = window.form->MBGrid->item(1, 3)->text();
  if (value == QStringLiteral("<N/A>")) State.SkipWithError("the first reply was not decoded");
  for (auto _ : State) {
    window.form->MBGrid->item(1, 3)->setText(QString());
    window.form->SerialPollTimerTimer();
    if (!window.WaitForReply() || window.form->MBGrid->item(1, 3)->text() != value) {
      State.SkipWithError("cycle failed");
      break;
    }
  }
  window.form->SerialPollButtonClick();
}

double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const auto seconds = [](const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
  };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

void BM_SerialPollCpuAtOneSecond(benchmark::State& State) {
  constexpr int SECONDS = 10;
  for (auto _ : State) {
    TWindow window;
    window.form->SerialPollIntervalEdit->setText(QStringLiteral("1"));
    const double cpuBefore = CpuSeconds();
    const auto wallBefore = std::chrono::steady_clock::now();
    window.form->SerialPollButtonClick();
    QEventLoop idle;
    QTimer::singleShot(SECONDS * 1000, &idle, &QEventLoop::quit);
    idle.exec();
    window.form->SerialPollButtonClick();
    const double cpu = CpuSeconds() - cpuBefore;
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - wallBefore).count();
    State.counters["cpu_percent_of_core"] = 100.0 * cpu / wall;
    State.counters["grid"] =
        window.form->MBGrid->item(1, 3)->text() != QStringLiteral("<N/A>") ? 1 : 0;
  }
}

BENCHMARK(BM_SerialPollTickToGrid)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SerialPollCpuAtOneSecond)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(1);

}  // namespace

int main(int argc, char** argv) {
  // The registers are served from a child process, so that only the window's own CPU
  // time is counted.
  const interop::TLibmodbusSlaveProcess slave(1);
  GSlavePath = slave.LinePath();
  if (GSlavePath.empty()) return 1;
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
