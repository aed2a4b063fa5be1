#include "../LocalTime.h"

namespace {

// Days from 1970-01-01 to the given civil date (proleptic Gregorian calendar).
long long DaysFromCivil(int Year, int Month, int Day) {
  Year -= Month <= 2;
  const long long era = (Year >= 0 ? Year : Year - 399) / 400;
  const int yearOfEra = Year - static_cast<int>(era * 400);
  const int dayOfYear = (153 * (Month + (Month > 2 ? -3 : 9)) + 2) / 5 + Day - 1;
  const int dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;
}

long long MinutesOf(const std::tm& Fields) {
  return DaysFromCivil(Fields.tm_year + 1900, Fields.tm_mon + 1, Fields.tm_mday) * 1440 +
         Fields.tm_hour * 60 + Fields.tm_min;
}

}  // namespace

// The C runtime has no tm_gmtoff: the offset is the distance between the local and the
// UTC reading of the same moment.
TLocalTime LocalTime(std::time_t Moment) {
  TLocalTime local;
  std::tm utc{};
  localtime_s(&local.Fields, &Moment);
  gmtime_s(&utc, &Moment);
  local.UtcOffsetMinutes = static_cast<int>(MinutesOf(local.Fields) - MinutesOf(utc)) % (24 * 60);
  return local;
}
