#include "MeterQuantities.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <numbers>

namespace {

// The value group C ("32" of "1-0:32.7.0") and the processing group D ("7").
struct TObisGroups {
  int c = -1;
  int d = -1;
};

int ParseNumber(std::string_view text) {
  int value = -1;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc{} || end != text.data() + text.size()) return -1;
  return value;
}

TObisGroups ParseObis(std::string_view obis) {
  if (const auto colon = obis.find(':'); colon != std::string_view::npos) {
    obis.remove_prefix(colon + 1);
  }
  const auto firstDot = obis.find('.');
  if (firstDot == std::string_view::npos) return {};
  const auto secondDot = obis.find('.', firstDot + 1);
  if (secondDot == std::string_view::npos) return {};
  return {ParseNumber(obis.substr(0, firstDot)),
          ParseNumber(obis.substr(firstDot + 1, secondDot - firstDot - 1))};
}

// A steady pseudo-random number 0..999 for an OBIS text (FNV-1a).
int SteadyNumber(std::string_view obis) {
  std::uint32_t hash = 2166136261u;
  for (char ch : obis) {
    hash ^= static_cast<unsigned char>(ch);
    hash *= 16777619u;
  }
  return static_cast<int>(hash % 1000u);
}

double Wave(double seconds, double period, double phase) {
  return std::sin(2.0 * std::numbers::pi * (seconds / period + phase));
}

// Per-phase readings; phase 1..3.
double Voltage(int instance, int phase, double s) {
  return 230.0 + 0.2 * instance + 3.0 * Wave(s, 47.0, phase / 3.0);
}
double Current(int instance, int phase, double s) {
  return 6.0 + instance + 3.0 * Wave(s, 83.0, phase / 5.0);
}
double PowerFactor(double s) {
  return 0.95 + 0.03 * Wave(s, 131.0, 0.0);
}

// Sum over the three phases (phase 0) or one phase of a power derived from
// voltage, current and power factor.
template <typename F>
double PhaseSum(int phase, F perPhase) {
  if (phase != 0) return perPhase(phase);
  return perPhase(1) + perPhase(2) + perPhase(3);
}

}  // namespace

double SimulatedQuantity(std::string_view obis, int instance, const TSimTime& t) {
  const TObisGroups g = ParseObis(obis);
  const double s = t.seconds;
  // Value groups 21..40, 41..60 and 61..80 repeat 1..20 for the phases L1..L3.
  const int phase = g.c >= 21 && g.c <= 80 ? (g.c - 1) / 20 : 0;
  const int quantity = g.c >= 1 && g.c <= 80 ? (g.c - 1) % 20 + 1 : g.c;
  const double pf = PowerFactor(s);
  const double sinPhi = std::sqrt(1.0 - pf * pf);
  // Powers are shown in kW, kvar and kVA.
  auto kva = [&](int p) { return Voltage(instance, p, s) * Current(instance, p, s) / 1000.0; };

  if (g.c == 96 && g.d == 1) return 51700000.0 + 1000.0 * instance + SteadyNumber(obis);
  if (g.c == 96 && g.d == 14) return t.hour >= 8 && t.hour < 20 ? 1.0 : 2.0;
  if (g.c == 91 && g.d == 7) return 0.3 + 0.2 * Wave(s, 61.0, 0.0);
  if (g.c < 1 || g.c > 80) return SteadyNumber(obis) % 50 + instance;

  switch (g.d) {
    case 8:
    case 9: {
      // Energy registers: a base of their own that grows at about the rate the
      // simulated load draws (5 to 10 kW), so the last digit moves every few seconds.
      const double base = 10000.0 * instance + 700.0 * quantity + SteadyNumber(obis) +
                          (SteadyNumber(obis) * 7 % 1000) / 1000.0;
      const double ratePerHour = 4.0 + instance + 0.25 * quantity;
      return base + ratePerHour * t.elapsed / 3600.0;
    }
    case 6:  // maximum demand: the power at the highest current seen
      return 3.0 * 231.0 * (9.0 + instance) / 1000.0 + 0.01 * (SteadyNumber(obis) % 100);
    case 4:
    case 5:
    case 7:
      switch (quantity) {
        case 12:
          return Voltage(instance, phase == 0 ? 1 : phase, s);
        case 11:
          return PhaseSum(phase, [&](int p) { return Current(instance, p, s); });
        case 1:
          return PhaseSum(phase, [&](int p) { return kva(p) * pf; });
        case 3:
          return PhaseSum(phase, [&](int p) { return kva(p) * sinPhi; });
        case 9:
          return PhaseSum(phase, kva);
        case 13:
          return pf;
        case 14:
          return 50.0 + 0.05 * Wave(s, 29.0, 0.0);
        default:
          return 0.0;  // exported powers: this meter only imports
      }
    default:  // event counters and the like
      return SteadyNumber(obis) % 20 + instance;
  }
}

int QuantityDecimals(std::string_view obis) {
  const TObisGroups g = ParseObis(obis);
  return g.c >= 1 && g.c <= 80 && (g.d == 8 || g.d == 9) ? 3 : 2;
}
