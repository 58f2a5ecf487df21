#include "time/time.h"

#include <time.h>

namespace quorvale::time {

Time Now() {
  struct timespec ts;
  // CLOCK_REALTIME cannot fail on Linux; a zeroed value stands in if it did.
  if (::clock_gettime(CLOCK_REALTIME, &ts) != 0) return {};
  return {static_cast<std::int64_t>(ts.tv_sec),
          static_cast<std::int32_t>(ts.tv_nsec)};
}

// The calendar conversions count in eras of 400 years, the period after
// which the Gregorian calendar repeats, with years starting on 1 March so
// that the leap day falls at the end of a year.

std::int64_t DaysFromCivil(std::int64_t year, int month, int day) {
  const std::int64_t y = month <= 2 ? year - 1 : year;
  const std::int64_t era = FloorDiv(y, 400);
  const std::int64_t year_of_era = y - era * 400;             // [0, 399]
  const int march_month = month > 2 ? month - 3 : month + 9;  // [0, 11]
  const std::int64_t day_of_year = (153 * march_month + 2) / 5 + day - 1;
  const std::int64_t day_of_era =
      year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
  return era * 146097 + day_of_era - 719468;  // 719468: 0000-03-01 to 1970
}

Civil CivilFromSeconds(std::int64_t seconds, std::int32_t utoff) {
  // Split before the offset is added, so that it cannot overflow.
  std::int64_t days = FloorDiv(seconds, kSecondsPerDay);
  std::int64_t of_day = FloorMod(seconds, kSecondsPerDay) + utoff;
  days += FloorDiv(of_day, kSecondsPerDay);
  of_day = FloorMod(of_day, kSecondsPerDay);

  const std::int64_t z = days + 719468;  // cannot overflow: |days| < 2^47
  const std::int64_t era = FloorDiv(z, 146097);
  const std::int64_t day_of_era = z - era * 146097;  // [0, 146096]
  const std::int64_t year_of_era = (day_of_era - day_of_era / 1460 +
                                    day_of_era / 36524 - day_of_era / 146096) /
                                   365;  // [0, 399]
  const std::int64_t day_of_year =
      day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
  const std::int64_t march_month = (5 * day_of_year + 2) / 153;  // [0, 11]

  Civil c;
  c.day = static_cast<int>(day_of_year - (153 * march_month + 2) / 5 + 1);
  c.month =
      static_cast<int>(march_month < 10 ? march_month + 3 : march_month - 9);
  c.year = year_of_era + era * 400 + (c.month <= 2 ? 1 : 0);
  c.hour = static_cast<int>(of_day / 3600);
  c.minute = static_cast<int>(of_day / 60 % 60);
  c.second = static_cast<int>(of_day % 60);
  return c;
}

}  // namespace quorvale::time
