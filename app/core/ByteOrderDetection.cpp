#include "ByteOrderDetection.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <optional>

#include "MeterPresence.h"
#include "ValueDecoding.h"

namespace {

enum class ECheck {
  ckNone,
  ckFirmware,
  ckFrequency,
  ckVoltage,
  ckPowerFactor,
  ckEnergy,
  ckDate,
  ckTime
};

// Value group C and processing group D of an OBIS code "A-B:C.D.E"; -1 when
// the text has no such groups.
struct TObisGroups {
  int c = -1;
  int d = -1;
};

int GroupNumber(std::string_view text) {
  int value = -1;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc{} && end == text.data() + text.size() ? value : -1;
}

TObisGroups ObisGroups(std::string_view obis) {
  if (const auto colon = obis.find(':'); colon != std::string_view::npos)
    obis.remove_prefix(colon + 1);
  const auto dot1 = obis.find('.');
  if (dot1 == std::string_view::npos) return {};
  const auto dot2 = obis.find('.', dot1 + 1);
  const auto d = obis.substr(dot1 + 1, dot2 == std::string_view::npos ? dot2 : dot2 - dot1 - 1);
  return {GroupNumber(obis.substr(0, dot1)), GroupNumber(d)};
}

bool IsOneOf(int value, std::initializer_list<int> values) {
  return std::find(values.begin(), values.end(), value) != values.end();
}

ECheck CheckFor(const TConfigRecord& Entry, bool First) {
  switch (Entry.regType) {
    case eDate:
    case eDate3:
      return ECheck::ckDate;
    case eTime:
    case eTime3:
      return ECheck::ckTime;
    case eWord:
      if (First && IsFirmwareEntry(Entry)) return ECheck::ckFirmware;
      break;
    default:
      break;
  }
  if (Entry.regType != eFloat && Entry.regType != eDouble) return ECheck::ckNone;
  const TObisGroups g = ObisGroups(Entry.obis);
  if (g.d == 7 && g.c == 14) return ECheck::ckFrequency;
  if (g.d == 7 && IsOneOf(g.c, {12, 32, 52, 72})) return ECheck::ckVoltage;
  if (g.d == 7 && IsOneOf(g.c, {13, 33, 53, 73})) return ECheck::ckPowerFactor;
  if ((g.d == 8 || g.d == 9) && g.c >= 1 && g.c <= 80) return ECheck::ckEnergy;
  return ECheck::ckNone;
}

// Dates and times are 32-bit packed numbers.
bool ValidDate(std::int64_t v) {
  const std::int64_t year = v / 10000;
  return year >= 1990 && year <= 2099 && IsoDateText(static_cast<std::int32_t>(v)).has_value();
}

bool ValidTime(std::int64_t v) {
  return v >= 0 && v <= INT32_MAX && IsoTimeOfDayText(static_cast<std::int32_t>(v)).has_value();
}

bool Passes(ECheck Check, double v) {
  if (!std::isfinite(v)) return false;
  switch (Check) {
    case ECheck::ckFirmware:
      return v >= 1 && v <= 9999;
    case ECheck::ckFrequency:
      return v >= 45 && v <= 65;
    case ECheck::ckVoltage:
      return v >= 0 && v <= 500;
    case ECheck::ckPowerFactor:
      return v >= -1 && v <= 1;
    case ECheck::ckEnergy:
      return v >= 0 && v < 1e12 && (v == 0 || v >= 1e-3);
    case ECheck::ckDate:
      return ValidDate(static_cast<std::int64_t>(v));
    case ECheck::ckTime:
      return ValidTime(static_cast<std::int64_t>(v));
    case ECheck::ckNone:
      break;
  }
  return true;
}

std::string NumberText(double v) {
  char buf[32];
  const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general, 6);
  return ec == std::errc{} ? std::string(buf, end) : std::string("?");
}

std::uint32_t LayoutRegisters(const std::vector<TConfigRecord>& Regs, bool Float32) {
  std::uint32_t count = 0;
  for (const TConfigRecord& entry : Regs)
    count += static_cast<std::uint32_t>(RegisterWidth(entry.regType, Float32));
  return count;
}

std::string LayoutName(bool Float32) {
  return Float32 ? "32-bit-float layout" : "64-bit layout";
}

}  // namespace

TDetectionCandidate ScoreReading(const std::vector<TConfigRecord>& Regs,
                                 std::span<const std::uint16_t> Words, EByteSequence Sequence,
                                 bool Float32) {
  TDetectionCandidate candidate{Sequence, Float32, 0, 0, {}};
  std::vector<std::uint8_t> wire(Words.size() * 2);
  for (std::size_t k = 0; k < Words.size(); ++k) {
    wire[2 * k] = static_cast<std::uint8_t>(Words[k] >> 8);
    wire[2 * k + 1] = static_cast<std::uint8_t>(Words[k] & 0xFF);
  }
  std::size_t j = 0;
  for (std::size_t i = 0; i < Regs.size(); ++i) {
    const TConfigRecord& entry = Regs[i];
    const auto width = static_cast<std::size_t>(RegisterWidth(entry.regType, Float32));
    const ECheck check = CheckFor(entry, i == 0);
    if (check != ECheck::ckNone) {
      ++candidate.Total;
      const std::optional<double> value =
          j + width <= Words.size()
              ? NumberValue(DecodeNumber(entry.regType, wire.data() + 2 * j, Sequence, Float32))
              : std::nullopt;
      if (value && Passes(check, *value))
        ++candidate.Score;
      else
        candidate.Failed.push_back(entry.desc + " = " + (value ? NumberText(*value) : NOT_AVAIL));
    }
    j += width;
  }
  return candidate;
}

TDetectionResult DetectByteOrder(const std::vector<TConfigRecord>& Regs, int MeterInstanceIndex,
                                 TRegisterSource& Source, EReadFunction Function) {
  TDetectionResult result;
  for (const bool float32 : {false, true}) {
    const std::uint16_t base = BaseAddressFor(TMapSettings{float32, MeterInstanceIndex});
    const TRegisterRead read = Source.ReadTable(Function, base, LayoutRegisters(Regs, float32));
    if (!read.Ok) {
      result.LayoutErrors.push_back(LayoutName(float32) + ": " + read.Error);
      continue;
    }
    if (MeterInstanceAbsent(Regs, read.Words)) {
      result.LayoutErrors.push_back(LayoutName(float32) + ": meter instance " +
                                    std::to_string(MeterInstanceIndex + 1) + " not present");
      continue;
    }
    for (int s = 0; s < BYTE_SEQUENCE_COUNT; ++s)
      result.Ranking.push_back(
          ScoreReading(Regs, read.Words, static_cast<EByteSequence>(s), float32));
  }
  std::stable_sort(
      result.Ranking.begin(), result.Ranking.end(),
      [](const TDetectionCandidate& a, const TDetectionCandidate& b) { return a.Score > b.Score; });
  if (result.Found()) {
    const TDetectionCandidate& best = result.Winner();
    result.Ambiguous = std::any_of(result.Ranking.begin() + 1, result.Ranking.end(),
                                   [&](const TDetectionCandidate& c) {
                                     return c.Score == best.Score && c.Sequence != best.Sequence;
                                   });
  }
  return result;
}

std::string CandidateText(const TDetectionCandidate& Candidate) {
  return "byte order " + ByteSequenceWord(Candidate.Sequence) + ", " +
         LayoutName(Candidate.Float32) + ", score " + std::to_string(Candidate.Score) + "/" +
         std::to_string(Candidate.Total);
}

std::string VerdictText(const TDetectionResult& Result) {
  if (Result.Ranking.empty()) return "no layout could be read";
  if (!Result.Found()) return "the map has no entry whose plausibility can be judged";
  const TDetectionCandidate& best = Result.Winner();
  if (Result.Ambiguous) {
    std::string tied;
    for (const TDetectionCandidate& c : Result.Ranking)
      if (c.Score == best.Score && tied.find(ByteSequenceWord(c.Sequence)) == std::string::npos)
        tied += (tied.empty() ? "" : ", ") + ByteSequenceWord(c.Sequence);
    return "ambiguous: byte orders " + tied + " score " + std::to_string(best.Score) + "/" +
           std::to_string(best.Total) + " alike; compare their values with the meter's display";
  }
  std::string text = "best: " + CandidateText(best);
  if (best.Score < best.Total) text += " (not every value is plausible)";
  const bool otherLayoutAlike = std::any_of(
      Result.Ranking.begin() + 1, Result.Ranking.end(), [&](const TDetectionCandidate& c) {
        return c.Sequence == best.Sequence && c.Score == best.Score;
      });
  if (otherLayoutAlike) text += "; the " + LayoutName(!best.Float32) + " reads as well";
  return text;
}
