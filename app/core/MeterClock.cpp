#include "MeterClock.h"

#include <chrono>
#include <cstdio>

#include "ValueDecoding.h"
#include "ValueEncoding.h"
#include "platform/LocalTime.h"

namespace {

bool IsDateType(ERegisterType Type) {
  return Type == eDate || Type == eDate3;
}

bool IsTimeType(ERegisterType Type) {
  return Type == eTime || Type == eTime3;
}

// A civil date from its days since 1970-01-01 (H. Hinnant's algorithm, the
// inverse of DaysFromCivil).
void CivilFromDays(std::int64_t z, int& y, int& m, int& d) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const auto doe = static_cast<int>(z - era * 146097);
  const int yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int mp = (5 * doy + 2) / 153;
  d = doy - (153 * mp + 2) / 5 + 1;
  m = mp < 10 ? mp + 3 : mp - 9;
  y = static_cast<int>(yoe + era * 400 + (m <= 2 ? 1 : 0));
}

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
  return a / b - (a % b != 0 && (a < 0) != (b < 0) ? 1 : 0);
}

}  // namespace

std::pair<std::int32_t, std::int32_t> PackedDateTime(TLocalSeconds Seconds) {
  const std::int64_t days = FloorDiv(Seconds, 86400);
  const auto inDay = static_cast<std::int32_t>(Seconds - days * 86400);
  int y = 0, m = 0, d = 0;
  CivilFromDays(days, y, m, d);
  return {y * 10000 + m * 100 + d, inDay / 3600 * 10000 + inDay / 60 % 60 * 100 + inDay % 60};
}

namespace {

std::vector<std::uint8_t> WireBytes(const std::vector<std::uint16_t>& Words, std::size_t First,
                                    std::size_t Count) {
  std::vector<std::uint8_t> wire;
  for (std::size_t i = First; i < First + Count && i < Words.size(); ++i) {
    wire.push_back(static_cast<std::uint8_t>(Words[i] >> 8));
    wire.push_back(static_cast<std::uint8_t>(Words[i] & 0xFF));
  }
  return wire;
}

}  // namespace

std::uint16_t TClockLayout::First() const {
  return DateAddress < TimeAddress ? DateAddress : TimeAddress;
}

std::uint32_t TClockLayout::Count() const {
  const std::uint32_t dateEnd =
      DateAddress + static_cast<std::uint32_t>(RegisterWidth(DateType, false));
  const std::uint32_t timeEnd =
      TimeAddress + static_cast<std::uint32_t>(RegisterWidth(TimeType, false));
  return (dateEnd > timeEnd ? dateEnd : timeEnd) - First();
}

std::optional<TClockLayout> FindClock(const std::vector<TConfigRecord>& Regs,
                                      const TMapSettings& Settings) {
  std::optional<std::uint32_t> date;
  std::optional<std::uint32_t> time;
  TClockLayout layout;
  std::uint32_t address = BaseAddressFor(Settings);
  for (const TConfigRecord& entry : Regs) {
    if (entry.obis == CLOCK_OBIS && IsDateType(entry.regType) && !date) {
      date = address;
      layout.DateType = entry.regType;
    }
    if (entry.obis == CLOCK_OBIS && IsTimeType(entry.regType) && !time) {
      time = address;
      layout.TimeType = entry.regType;
    }
    address += static_cast<std::uint32_t>(RegisterWidth(entry.regType, Settings.float32));
  }
  if (!date || !time || *date + 3 > 65536u || *time + 3 > 65536u) return std::nullopt;
  layout.DateAddress = static_cast<std::uint16_t>(*date);
  layout.TimeAddress = static_cast<std::uint16_t>(*time);
  if (layout.Count() > 125) return std::nullopt;
  return layout;
}

// H. Hinnant's algorithm.
std::int64_t DaysFromCivil(std::int64_t Year, int Month, int Day) {
  Year -= Month <= 2 ? 1 : 0;
  const std::int64_t era = (Year >= 0 ? Year : Year - 399) / 400;
  const auto yoe = static_cast<int>(Year - era * 400);
  const int doy = (153 * (Month + (Month > 2 ? -3 : 9)) + 2) / 5 + Day - 1;
  const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

TLocalSeconds ComputerLocalSeconds() {
  const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
  const std::tm local = LocalTime(now).Fields;
  return DaysFromCivil(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday) * 86400 +
         local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec;
}

std::optional<TLocalSeconds> LocalSecondsOf(std::int32_t PackedDate, std::int32_t PackedTime) {
  if (!IsoDateText(PackedDate) || !IsoTimeOfDayText(PackedTime)) return std::nullopt;
  return DaysFromCivil(PackedDate / 10000, PackedDate / 100 % 100, PackedDate % 100) * 86400 +
         PackedTime / 10000 * 3600 + PackedTime / 100 % 100 * 60 + PackedTime % 100;
}

std::string LocalSecondsText(TLocalSeconds Seconds) {
  const auto [date, time] = PackedDateTime(Seconds);
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", date / 10000, date / 100 % 100,
                date % 100, time / 10000, time / 100 % 100, time % 100);
  return text;
}

TClockReading ClockFromWords(const TClockLayout& Layout, const std::vector<std::uint16_t>& Words,
                             EByteSequence Sequence, TLocalSeconds Computer) {
  TClockReading reading;
  reading.Computer = Computer;
  if (Words.size() < Layout.Count()) {
    reading.Error = "the reply does not hold the clock's registers";
    return reading;
  }
  const auto number = [&](std::uint16_t Address, ERegisterType Type) {
    const auto width = static_cast<std::size_t>(RegisterWidth(Type, false));
    const std::vector<std::uint8_t> wire = WireBytes(Words, Address - Layout.First(), width);
    const TEntryNumber value = DecodeNumber(Type, wire.data(), Sequence, false);
    const auto* whole = std::get_if<std::int64_t>(&value);
    return whole != nullptr ? static_cast<std::int32_t>(*whole) : 0;
  };
  const std::int32_t date = number(Layout.DateAddress, Layout.DateType);
  const std::int32_t time = number(Layout.TimeAddress, Layout.TimeType);
  const auto meter = LocalSecondsOf(date, time);
  if (!meter) {
    reading.Error = "the meter's clock reads no valid date and time (" + DateText(date) + " " +
                    TimeText(time) + ")";
    return reading;
  }
  reading.Ok = true;
  reading.Meter = *meter;
  reading.Difference = *meter - Computer;
  return reading;
}

TClockReading ReadMeterClock(TRegisterSource& Source, const TClockLayout& Layout,
                             EByteSequence Sequence) {
  const TRegisterRead read = Source.Read(Layout.First(), Layout.Count());
  const TLocalSeconds computer = ComputerLocalSeconds();
  if (!read.Ok) {
    TClockReading reading;
    reading.Computer = computer;
    reading.Error = read.Error;
    return reading;
  }
  return ClockFromWords(Layout, read.Words, Sequence, computer);
}

std::string ClockCheckText(const TClockReading& Reading, bool Italian) {
  if (!Reading.Ok) return (Italian ? "non letto: " : "not read: ") + Reading.Error;
  return (Italian ? "contatore " : "meter ") + LocalSecondsText(Reading.Meter) + ", computer " +
         LocalSecondsText(Reading.Computer) + (Italian ? ", differenza " : ", difference ") +
         std::to_string(Reading.Difference) + " s";
}

std::vector<std::pair<std::uint16_t, std::vector<std::uint16_t>>> ClockWrites(
    const TClockLayout& Layout, TLocalSeconds Moment, EByteSequence Sequence) {
  const auto [date, time] = PackedDateTime(Moment);
  std::vector<std::uint16_t> dateWords = EncodeDateTimeNumber(Layout.DateType, date, Sequence);
  std::vector<std::uint16_t> timeWords = EncodeDateTimeNumber(Layout.TimeType, time, Sequence);
  if (Layout.DateAddress + dateWords.size() == Layout.TimeAddress) {
    dateWords.insert(dateWords.end(), timeWords.begin(), timeWords.end());
    return {{Layout.DateAddress, dateWords}};
  }
  if (Layout.TimeAddress + timeWords.size() == Layout.DateAddress) {
    timeWords.insert(timeWords.end(), dateWords.begin(), dateWords.end());
    return {{Layout.TimeAddress, timeWords}};
  }
  return {{Layout.DateAddress, dateWords}, {Layout.TimeAddress, timeWords}};
}
