#include "SimulatedMeter.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <stdexcept>

#include "MeterQuantities.h"
#include "RegisterEncoding.h"

namespace {

constexpr std::uint16_t OFF_WORD = 0xFFFF;

// Values are kept to the decimals a meter keeps (two, three for energies),
// never half-way between two hundredths, so that the two-decimal text a
// reader shows does not depend on how it rounds a value that lies half-way.
double MeterValue(std::string_view obis, double value) {
  if (QuantityDecimals(obis) == 2) return std::round(value * 100.0) / 100.0;
  double thousandths = std::round(value * 1000.0);
  if (std::fmod(std::fabs(thousandths), 10.0) == 5.0) thousandths += 1.0;
  return thousandths / 1000.0;
}

std::string PaddedNumber(int value, int digits) {
  char text[16];
  std::snprintf(text, sizeof text, "%0*d", digits, value);
  return text;
}

std::string DateString(const TSimTime& t) {
  return PaddedNumber(t.day, 2) + "/" + PaddedNumber(t.month, 2) + "/" + PaddedNumber(t.year, 4);
}

std::string TimeString(const TSimTime& t) {
  return PaddedNumber(t.hour, 2) + ":" + PaddedNumber(t.minute, 2) + ":" +
         PaddedNumber(t.second, 2);
}

std::uint16_t Field(int value) {
  return static_cast<std::uint16_t>(value);
}

}  // namespace

std::string TwoDecimalText(double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%.2f", value);
  std::string s = text;
  if (s.find('.') != std::string::npos) {
    while (s.back() == '0') s.pop_back();
    if (s.back() == '.') s.pop_back();
  }
  if (s == "-0") s = "0";
  return s;
}

std::string RawRegisterText(const std::vector<std::uint16_t>& words) {
  static constexpr char HEX[] = "0123456789ABCDEF";
  std::string text;
  for (auto it = words.rbegin(); it != words.rend(); ++it) {
    for (unsigned byte : {*it & 0xFFu, (*it >> 8) & 0xFFu}) {
      text += HEX[byte >> 4];
      text += HEX[byte & 0xFu];
    }
  }
  return text;
}

std::string ShownRawText(const TServedEntry& entry) {
  return entry.type == eTimeStamp12 ? std::string() : RawRegisterText(entry.words);
}

TRegisterBank::TRegisterBank() : FValues(65536, 0), FReadable(65536, 0) {}

void TRegisterBank::Clear() {
  std::fill(FValues.begin(), FValues.end(), std::uint16_t{0});
  std::fill(FReadable.begin(), FReadable.end(), std::uint8_t{0});
}

void TRegisterBank::Store(std::uint16_t address, const std::vector<std::uint16_t>& words) {
  for (std::size_t i = 0; i < words.size(); ++i) {
    const std::size_t at = address + i;
    if (at > 0xFFFF) break;
    FValues[at] = words[i];
    FReadable[at] = 1;
  }
}

TSimulatedMeter::TSimulatedMeter(std::vector<TConfigRecord> entries,
                                 const TSimulatedMeterSettings& settings)
    : FEntries(std::move(entries)), FSettings(settings) {
  if (FEntries.empty()) throw std::invalid_argument("the register map has no entries");
  const int room =
      FSettings.mapType == mpNormal ? MB_FLOAT32_MAP_ADDRESS : MB_METER_INSTANCE_STRIDE;
  if (SpanOf(false) > room) {
    throw std::invalid_argument("the register map spans " + std::to_string(SpanOf(false)) +
                                " registers; a meter instance has room for " +
                                std::to_string(room));
  }
}

int TSimulatedMeter::SpanOf(bool float32) const {
  int span = 0;
  for (const auto& e : FEntries) span += RegisterWidth(e.regType, float32);
  return span;
}

std::uint16_t TSimulatedMeter::BaseOf(int instance, bool float32) const {
  const bool floatLayout = float32 && FSettings.mapType == mpNormal;
  return BaseAddressFor(TMapSettings{floatLayout, instance - 1});
}

std::vector<bool> TSimulatedMeter::Layouts() const {
  if (FSettings.mapType == mpQVZT) return {false};
  return {false, true};
}

std::vector<TServedEntry> TSimulatedMeter::ServedEntries(int instance, bool float32,
                                                         const TSimTime& t) const {
  if (instance < 1 || instance > METER_INSTANCE_COUNT) return {};
  const bool layout = float32 && FSettings.mapType == mpNormal;
  std::vector<TServedEntry> served;
  served.reserve(FEntries.size());
  std::uint16_t address = BaseOf(instance, layout);
  for (std::size_t i = 0; i < FEntries.size(); ++i) {
    const bool firmwareEntry = i == 0 && FSettings.mapType == mpNormal;
    TServedEntry entry = Serve(FEntries[i], firmwareEntry, instance, layout, t);
    entry.address = address;
    address = static_cast<std::uint16_t>(address + entry.words.size());
    served.push_back(std::move(entry));
  }
  return served;
}

void TSimulatedMeter::Render(const TSimTime& t, TRegisterBank& bank) const {
  bank.Clear();
  for (int instance = 1; instance <= METER_INSTANCE_COUNT; ++instance) {
    for (bool float32 : Layouts()) {
      for (const auto& entry : ServedEntries(instance, float32, t)) {
        bank.Store(entry.address, entry.words);
      }
    }
  }
}

TServedEntry TSimulatedMeter::Serve(const TConfigRecord& entry, bool firmwareEntry, int instance,
                                    bool float32, const TSimTime& t) const {
  TServedEntry out;
  out.type = entry.regType;
  out.obis = entry.obis;
  const int width = RegisterWidth(entry.regType, float32);
  if (!FSettings.instanceOn[static_cast<std::size_t>(instance - 1)]) {
    out.words.assign(static_cast<std::size_t>(width), OFF_WORD);
    return out;
  }
  const EByteSequence seq = FSettings.byteSequence;
  const double q =
      firmwareEntry ? FSettings.firmwareVersion : SimulatedQuantity(entry.obis, instance, t);
  switch (entry.regType) {
    case eWord: {
      const auto v = static_cast<std::uint16_t>(std::clamp(std::lround(q), 0L, 65535L));
      out.words = EncodeWord(seq, v);
      out.value = std::to_string(v);
      break;
    }
    case eInteger: {
      const auto v = static_cast<std::int32_t>(
          std::clamp<long long>(std::llround(q), std::numeric_limits<std::int32_t>::min(),
                                std::numeric_limits<std::int32_t>::max()));
      out.words = EncodeInt32(seq, v);
      out.value = std::to_string(v);
      break;
    }
    case eFloat: {
      const auto v = static_cast<float>(MeterValue(entry.obis, q));
      out.words = EncodeFloat(seq, v);
      out.value = TwoDecimalText(v);
      break;
    }
    case eDouble: {
      const double v = MeterValue(entry.obis, q);
      if (float32) {
        out.words = EncodeFloat(seq, static_cast<float>(v));
        out.value = TwoDecimalText(static_cast<float>(v));
      } else {
        out.words = EncodeDouble(seq, v);
        out.value = TwoDecimalText(v);
      }
      break;
    }
    case eDate:
      out.words = EncodeInt32(seq, t.year * 10000 + t.month * 100 + t.day);
      out.value = DateString(t);
      break;
    case eTime:
      out.words = EncodeInt32(seq, t.hour * 10000 + t.minute * 100 + t.second);
      out.value = TimeString(t);
      break;
    case eTime3: {
      const std::uint16_t fields[] = {Field(t.hour), Field(t.minute), Field(t.second)};
      out.words = EncodeWordFields(seq, fields);
      out.value = TimeString(t);
      break;
    }
    case eDate3: {
      const std::uint16_t fields[] = {Field(t.year), Field(t.month), Field(t.day)};
      out.words = EncodeWordFields(seq, fields);
      out.value = DateString(t);
      break;
    }
    case eTimeStamp12: {
      const std::uint16_t fields[] = {Field(t.year), Field(t.month),  Field(t.day),
                                      Field(t.hour), Field(t.minute), Field(t.second)};
      out.words = EncodeWordFields(seq, fields);
      break;
    }
    default:
      out.words.assign(static_cast<std::size_t>(std::max(width, 0)), 0);
      break;
  }
  return out;
}
