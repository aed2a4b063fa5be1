// What one step of the window's busy bar costs to paint under the "Carbon"
// style, next to one frame of Qt's own indeterminate bar, which repaints at
// the screen's rate. The bar's CPU per second is this cost times its steps
// per second (TBusyBar: 1000 / STEP_INTERVAL_MS).
//
//   bench_gui_busy_bar --benchmark_repetitions=5 --benchmark_report_aggregates_only=true

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QPixmap>

#include "BusyBar.h"
#include "CarbonStyle.h"

namespace {

template <typename Bar>
void PaintSteps(benchmark::State& state, Bar& bar) {
  bar.resize(215, 10);
  QPixmap target(bar.size());
  for (auto _ : state) {
    bar.render(&target);
    benchmark::DoNotOptimize(target);
  }
}

void BM_BusyBarStep(benchmark::State& state) {
  TBusyBar bar;
  bar.SetBusy(true);
  PaintSteps(state, bar);
}
BENCHMARK(BM_BusyBarStep)->Unit(benchmark::kMicrosecond);

void BM_IndeterminateProgressBarFrame(benchmark::State& state) {
  QProgressBar bar;
  bar.setTextVisible(false);
  bar.setRange(0, 0);
  PaintSteps(state, bar);
}
BENCHMARK(BM_IndeterminateProgressBarFrame)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  ApplyVisualStyle(app, QString::fromLatin1(DEFAULT_VISUAL_STYLE));
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
