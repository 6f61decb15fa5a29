#include "db/ado/value.h"

#include <cmath>
#include <cstdio>

namespace brenvo::ado {
namespace {

// Days from 1970-01-01 to y-m-d in the proleptic Gregorian calendar.
long long DaysFromCivil(long long y, unsigned m, unsigned d) {
  y -= m <= 2;
  const long long era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<long long>(doe) - 719468;
}

void CivilFromDays(long long z, int& y, int& m, int& d) {
  z += 719468;
  const long long era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  long long yy = static_cast<long long>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  y = static_cast<int>(yy + (m <= 2));
}

constexpr long long kOleEpochFromUnix = -25569;  // 1899-12-30 in days since 1970-01-01

}  // namespace

DateTime DateTimeFromOle(double ole) {
  // The integer part is the day (signed), the fraction the time of that day,
  // always counted forward (so -1.25 is 1899-12-29 06:00).
  double dayPart = std::trunc(ole);
  double frac = std::fabs(ole - dayPart);
  long long micros = std::llround(frac * 86400.0 * 1e6);
  // Jet keeps whole seconds in practice; round away float noise below a millisecond.
  long long rem = micros % 1000000;
  if (rem < 1000) micros -= rem;
  else if (rem > 999000) micros += 1000000 - rem;
  long long day = static_cast<long long>(dayPart);
  if (micros >= 86400LL * 1000000) {
    micros -= 86400LL * 1000000;
    day += (ole < 0 ? -1 : 1);
  }
  DateTime dt;
  CivilFromDays(day + kOleEpochFromUnix, dt.year, dt.month, dt.day);
  long long secs = micros / 1000000;
  dt.microsecond = static_cast<int>(micros % 1000000);
  dt.hour = static_cast<int>(secs / 3600);
  dt.minute = static_cast<int>(secs / 60 % 60);
  dt.second = static_cast<int>(secs % 60);
  return dt;
}

double OleFromDateTime(const DateTime& dt) {
  long long day = DaysFromCivil(dt.year, dt.month, dt.day) - kOleEpochFromUnix;
  double frac = (dt.hour * 3600.0 + dt.minute * 60.0 + dt.second + dt.microsecond / 1e6) / 86400.0;
  return day >= 0 ? static_cast<double>(day) + frac : static_cast<double>(day) - frac;
}

std::string FormatDateTime(const DateTime& dt) {
  char buf[48];
  if (dt.microsecond)
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d.%06d", dt.year, dt.month, dt.day, dt.hour,
                  dt.minute, dt.second, dt.microsecond);
  else
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", dt.year, dt.month, dt.day, dt.hour, dt.minute,
                  dt.second);
  return buf;
}

}  // namespace brenvo::ado
