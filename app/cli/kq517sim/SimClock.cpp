#include "SimClock.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <string>

#include "MeterClock.h"
#include "platform/LocalTime.h"

namespace {

double SecondsOf(const TSimTime& t) {
  return static_cast<double>(DaysFromCivil(t.year, t.month, t.day)) * 86400.0 + t.hour * 3600.0 +
         t.minute * 60.0 + t.second;
}

bool IsLeapYear(int y) {
  return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

int DaysInMonth(int y, int m) {
  static constexpr int DAYS[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeapYear(y) ? 29 : DAYS[m - 1];
}

TSimTime LocalWallTime() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t whole = std::chrono::system_clock::to_time_t(now);
  const std::tm local = LocalTime(whole).Fields;
  TSimTime t;
  t.year = local.tm_year + 1900;
  t.month = local.tm_mon + 1;
  t.day = local.tm_mday;
  t.hour = local.tm_hour;
  t.minute = local.tm_min;
  t.second = local.tm_sec;
  const double fraction =
      std::chrono::duration<double>(now - std::chrono::system_clock::from_time_t(whole)).count();
  t.seconds = SecondsOf(t) + fraction;
  return t;
}

}  // namespace

TSimTime SimTimeAt(std::int64_t localSeconds) {
  const auto [date, time] = PackedDateTime(localSeconds);
  TSimTime t;
  t.year = date / 10000;
  t.month = date / 100 % 100;
  t.day = date % 100;
  t.hour = time / 10000;
  t.minute = time / 100 % 100;
  t.second = time % 100;
  t.seconds = static_cast<double>(localSeconds);
  return t;
}

TSimClock::TSimClock() : FStartSeconds(LocalWallTime().seconds) {}

TSimClock::TSimClock(const TSimTime& fixed) : FFixed(fixed) {
  FFixed->seconds = SecondsOf(fixed);
  FFixed->elapsed = 0;
}

void TSimClock::Set(const TSimTime& moment) {
  FSetSeconds = SecondsOf(moment);
  FSetAt = std::chrono::steady_clock::now();
}

TSimTime TSimClock::Now() const {
  if (FSetAt) {
    const double since =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - *FSetAt).count();
    const double seconds = FSetSeconds + since;
    const auto whole = static_cast<TLocalSeconds>(std::floor(seconds));
    TSimTime t = SimTimeAt(whole);
    t.seconds = seconds;
    t.elapsed = FFixed ? 0 : seconds - FStartSeconds;
    return t;
  }
  if (FFixed) return *FFixed;
  TSimTime t = LocalWallTime();
  t.elapsed = t.seconds - FStartSeconds;
  return t;
}

std::int64_t TSimClock::SecondTick() const {
  if (FSetAt)
    return static_cast<std::int64_t>(std::floor(
        FSetSeconds +
        std::chrono::duration<double>(std::chrono::steady_clock::now() - *FSetAt).count()));
  if (FFixed) return 0;
  return std::chrono::duration_cast<std::chrono::seconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

std::optional<TSimTime> ParseSimTime(std::string_view text) {
  const std::string s(text);
  TSimTime t;
  char separator = 0;
  int consumed = 0;
  if (std::sscanf(s.c_str(), "%4d-%2d-%2d%c%2d:%2d:%2d%n", &t.year, &t.month, &t.day, &separator,
                  &t.hour, &t.minute, &t.second, &consumed) != 7 ||
      static_cast<std::size_t>(consumed) != s.size()) {
    return std::nullopt;
  }
  if (separator != 'T' && separator != ' ') return std::nullopt;
  if (t.year < 1 || t.year > 9999 || t.month < 1 || t.month > 12 || t.day < 1 ||
      t.day > DaysInMonth(t.year, t.month) || t.hour < 0 || t.hour > 23 || t.minute < 0 ||
      t.minute > 59 || t.second < 0 || t.second > 59) {
    return std::nullopt;
  }
  t.seconds = SecondsOf(t);
  return t;
}
