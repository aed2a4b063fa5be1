// What the live trend chart costs per poll cycle with a 10,000-point series:
// an hour of points one every 0.36 s, the longest span the chart keeps. One
// iteration is what a finished cycle makes the window do: take the new point
// (the oldest one drops out), redraw the chart and paint it, on Qt's offscreen
// platform. The argument is the span shown, in minutes: 60 shows all 10,000
// points, 10 (the default) a sixth of them. CPU per second of a poll is this
// cost times the cycles per second.
//
//   bench_gui_trend_chart --benchmark_repetitions=5 --benchmark_report_aggregates_only=true

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QPixmap>
#include <chrono>
#include <string>

#include "MessageBoxes.h"
#include "RegisterMap.h"
#include "TrendChartWindow.h"

namespace {

constexpr int POINTS = 10000;
constexpr auto STEP = std::chrono::milliseconds(360);  // POINTS * STEP = one hour

class TSilentBoxes final : public TMessageBoxes {
 public:
  void ShowError(QWidget*, const QString&) override {}
  void ShowMessage(QWidget*, const QString&) override {}
};

TRegisterMap VoltageMap() {
  TRegisterMap map;
  if (map.LoadConfigFromBytes(mpQVZT, "1-0:32.7.0|F|Tensione L1 (V)\n", TMapSettings{}) !=
      TLoadResult::lrOk)
    std::abort();
  map.UpdateGridStruct();
  return map;
}

// One chart filled once for every run: filling it shows a one-minute span, so
// that each of the 10,000 cycles redraws only a few points.
struct TFilledChart {
  TFilledChart() : Map(VoltageMap()), Chart(Map, {0}, Boxes) {
    Chart.SetSpan(std::chrono::minutes(1));
    Chart.show();
    for (int i = 0; i < POINTS; ++i) AddPoint(i);
  }
  void AddPoint(int i) {
    Map.MutableRegData()[0] = std::to_string(220 + i % 20);
    Chart.AddCycle(Now += STEP, Map, true);
  }
  TSilentBoxes Boxes;
  TRegisterMap Map;
  TTrendChartWindow Chart;
  std::chrono::system_clock::time_point Now = std::chrono::system_clock::now();
};

void BM_TrendChartCycle(benchmark::State& state) {
  static TFilledChart filled;
  filled.Chart.SetSpan(std::chrono::minutes(state.range(0)));
  QPixmap target(filled.Chart.size());
  int i = 0;
  for (auto _ : state) {
    filled.AddPoint(++i);
    QApplication::processEvents();
    filled.Chart.render(&target);
    benchmark::DoNotOptimize(target);
  }
  state.counters["points"] = static_cast<double>(filled.Chart.History().Series()[0].Points.size());
}
BENCHMARK(BM_TrendChartCycle)->Arg(10)->Arg(60)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
