// kernel32: FILETIME to SYSTEMTIME, in UTC, by calendar arithmetic on the
// proleptic Gregorian calendar.
#include "internal/win32call.h"

#include <windows.h>

#include <cstdint>

namespace {

const int64_t kTicksPerMillisecond = 10000;
const int64_t kMillisecondsPerDay = 86400000;
// Days from 1601-01-01 (the FILETIME epoch) to 1970-01-01.
const int64_t kEpochDays = 134774;

struct CivilDate {
  int64_t year;
  unsigned month;
  unsigned day;
};

// The date of a day counted from 1970-01-01 (the days-from-civil inverse,
// exact for every day of the Gregorian calendar).
CivilDate civilFromDays(int64_t days) {
  days += 719468;  // from 0000-03-01
  const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const unsigned dayOfEra = static_cast<unsigned>(days - era * 146097);
  const unsigned yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const unsigned shiftedMonth = (5 * dayOfYear + 2) / 153;  // March = 0
  const unsigned day = dayOfYear - (153 * shiftedMonth + 2) / 5 + 1;
  const unsigned month = shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9;
  return {static_cast<int64_t>(yearOfEra) + era * 400 + (month <= 2 ? 1 : 0), month, day};
}

}  // namespace

WINBASEAPI BOOL WINAPI FileTimeToSystemTime(const FILETIME* lpFileTime, LPSYSTEMTIME lpSystemTime) {
  return tv::win32Bool([&] {
    tv::require(lpFileTime != nullptr && lpSystemTime != nullptr);
    const uint64_t ticks = (static_cast<uint64_t>(lpFileTime->dwHighDateTime) << 32) | lpFileTime->dwLowDateTime;
    tv::require(ticks < 0x8000000000000000ull);
    // Ticks below a millisecond are cut off, not rounded.
    const int64_t milliseconds = static_cast<int64_t>(ticks) / kTicksPerMillisecond;
    const int64_t days = milliseconds / kMillisecondsPerDay;
    const int64_t ofDay = milliseconds % kMillisecondsPerDay;
    const CivilDate date = civilFromDays(days - kEpochDays);
    SYSTEMTIME& t = *lpSystemTime;
    t.wYear = static_cast<WORD>(date.year);
    t.wMonth = static_cast<WORD>(date.month);
    t.wDay = static_cast<WORD>(date.day);
    t.wDayOfWeek = static_cast<WORD>((days + 1) % 7);  // 1601-01-01 was a Monday
    t.wHour = static_cast<WORD>(ofDay / 3600000);
    t.wMinute = static_cast<WORD>(ofDay / 60000 % 60);
    t.wSecond = static_cast<WORD>(ofDay / 1000 % 60);
    t.wMilliseconds = static_cast<WORD>(ofDay % 1000);
  });
}
