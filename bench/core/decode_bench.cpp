// One poll's worth of work on the user-interface thread after the registers
// arrive: the decoding pass plus the grid-text fill, for a 2,000-entry map of
// every data type. Run with --benchmark_repetitions=10 for a median.
#include <benchmark/benchmark.h>

#include <random>
#include <string>
#include <vector>

#include "RegisterMap.h"
#include "ValueDecoding.h"

namespace {

constexpr int kEntries = 2000;

TRegisterMap MixedMap(const TMapSettings& settings) {
  static constexpr const char* codes[] = {"i", "I", "f", "F", "D", "T", "t", "d", "u"};
  std::string text;
  for (int i = 0; i < kEntries; ++i) {
    text += "1-0:" + std::to_string(i % 100) + ".7.0|" + codes[i % 9] + "|Grandezza di prova n. " +
            std::to_string(i) + "\r\n";
  }
  TRegisterMap map;
  map.LoadConfigFromBytes(mpNormal, text, settings);
  map.UpdateGridStruct();
  map.SetBaseAddress(BaseAddressFor(settings));
  return map;
}

void BM_DecodeAndFillGrid(benchmark::State& state) {
  const TMapSettings settings{state.range(0) != 0, 1};
  TRegisterMap map = MixedMap(settings);
  std::vector<std::uint16_t> words(map.RequestSize(settings));
  std::mt19937 rng(7);
  for (auto& w : words) w = static_cast<std::uint16_t>(rng());
  words[0] = 0x0100;  // firmware version present, so the serial path decodes too
  const TDecodeOptions options{BS_3_2_1_0, settings.float32, EDecodePath::dpSerial};

  for (auto _ : state) {
    DecodeRegisters(map, words, options);
    map.UpdateGridData(true, settings.float32);
    benchmark::DoNotOptimize(map.Grid().Rows().data());
  }
  state.counters["entries"] = static_cast<double>(map.Regs().size());
  state.counters["registers"] = static_cast<double>(words.size());
}

}  // namespace

BENCHMARK(BM_DecodeAndFillGrid)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
BENCHMARK_MAIN();
