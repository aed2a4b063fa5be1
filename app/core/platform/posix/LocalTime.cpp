#include "../LocalTime.h"

TLocalTime LocalTime(std::time_t Moment) {
  TLocalTime local;
  localtime_r(&Moment, &local.Fields);
  local.UtcOffsetMinutes = static_cast<int>(local.Fields.tm_gmtoff / 60) % (24 * 60);
  return local;
}
