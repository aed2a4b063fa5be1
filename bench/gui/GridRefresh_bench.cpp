// UpdateGridData(true) of the main window for a 2,000-entry map, on the
// offscreen platform. Every iteration refreshes the grid with new value texts
// (two decoded states alternate), so no cell is skipped as unchanged.
//
//   bench_gui_grid --benchmark_repetitions=10 --benchmark_report_aggregates_only=true

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTableWidget>
#include <QTemporaryDir>
#include <cstdio>
#include <memory>
#include <vector>

#include "Form1.h"
#include "MessageBoxes.h"
#include "ValueDecoding.h"

namespace {

constexpr int ENTRIES = 2000;

class TSilentBoxes final : public TMessageBoxes {
 public:
  void ShowError(QWidget*, const QString& text) override {
    std::fprintf(stderr, "error box: %s\n", qPrintable(text));
  }
  void ShowMessage(QWidget*, const QString&) override {}
};

// A map of ENTRIES lines cycling through every data type.
void WriteMap(const QString& path) {
  static const char* codes[] = {"i", "I", "f", "F", "D", "T", "t", "d", "u"};
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly)) std::abort();
  for (int i = 0; i < ENTRIES - 1; ++i)  // the firmware entry makes ENTRIES rows
    file.write(QStringLiteral("1-0:%1.7.0|%2|Grandezza %1\r\n")
                   .arg(i)
                   .arg(QLatin1String(codes[i % 9]))
                   .toUtf8());
}

struct TFixture {
  TFixture() {
    WriteMap(Dir.filePath(QStringLiteral("map.cfg")));
    QDir::setCurrent(Dir.path());
    Form = std::make_unique<TForm1>(Boxes);
    Form->show();
    QApplication::processEvents();
    const auto count = static_cast<std::size_t>(Form->RegisterMap().MBRegCount());
    for (int s = 0; s < 2; ++s) {
      Words[s].resize(count);
      for (std::size_t i = 0; i < count; ++i)
        Words[s][i] = static_cast<uint16_t>(i * 7 + 1 + s * 3);
    }
  }
  void Decode(int state) {
    DecodeRegisters(Form->MutableRegisterMap(), Words[state], TDecodeOptions{});
  }

  QTemporaryDir Dir;
  TSilentBoxes Boxes;
  std::unique_ptr<TForm1> Form;
  std::vector<uint16_t> Words[2];
};

TFixture& Fixture() {
  static TFixture fixture;
  return fixture;
}

void BM_UpdateGridData(benchmark::State& state) {
  TFixture& f = Fixture();
  int flip = 0;
  for (auto _ : state) {
    state.PauseTiming();
    f.Decode(flip ^= 1);
    state.ResumeTiming();
    f.Form->UpdateGridData(true);
  }
  state.counters["rows"] = f.Form->MBGrid->rowCount();
}
BENCHMARK(BM_UpdateGridData)->Unit(benchmark::kMillisecond);

// The same followed by a synchronous repaint of the visible part of the grid.
void BM_UpdateGridDataAndPaint(benchmark::State& state) {
  TFixture& f = Fixture();
  int flip = 0;
  for (auto _ : state) {
    state.PauseTiming();
    f.Decode(flip ^= 1);
    state.ResumeTiming();
    f.Form->UpdateGridData(true);
    f.Form->MBGrid->viewport()->repaint();
  }
}
BENCHMARK(BM_UpdateGridDataAndPaint)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  // The window remembers its settings: keep the user's own out of reach.
  QTemporaryDir settingsFolder;
  QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settingsFolder.path());
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  Fixture().Form.reset();
  return 0;
}
