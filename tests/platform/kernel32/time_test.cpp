// FileTimeToSystemTime: UTC calendar fields of 100-ns ticks since 1601,
// with the weekday, truncated milliseconds and the upper limit Windows has.
#include <windows.h>

#include <gtest/gtest.h>

#include <ctime>

// Found by argument-dependent lookup: SYSTEMTIME is in the global namespace.
static bool operator==(const SYSTEMTIME& a, const SYSTEMTIME& b) {
  return a.wYear == b.wYear && a.wMonth == b.wMonth && a.wDayOfWeek == b.wDayOfWeek && a.wDay == b.wDay &&
         a.wHour == b.wHour && a.wMinute == b.wMinute && a.wSecond == b.wSecond && a.wMilliseconds == b.wMilliseconds;
}

static std::ostream& operator<<(std::ostream& out, const SYSTEMTIME& t) {
  return out << t.wYear << "-" << t.wMonth << "-" << t.wDay << " " << t.wHour << ":" << t.wMinute << ":" << t.wSecond
             << "." << t.wMilliseconds << " weekday " << t.wDayOfWeek;
}

namespace {

FILETIME fileTime(uint64_t ticks) { return {static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)}; }

struct TimeVector {
  uint64_t ticks;
  SYSTEMTIME expected;  // year, month, weekday, day, hour, minute, second, ms
};

// The edges the day-by-day sweep below does not reach: the last time there
// is, sub-millisecond ticks, and the high bit.
TEST(FileTimeToSystemTime, GivesTheEdgesAndRefusesTheHighBit) {
  const TimeVector vectors[] = {
      {0x7FFFFFFFFFFFFFFFull, {30828, 9, 4, 14, 2, 48, 5, 477}},
      {0x1BF82B162C9FC50ull + 9999, {2000, 2, 2, 29, 12, 34, 56, 789}},  // sub-millisecond ticks are cut off
  };
  for (const TimeVector& v : vectors) {
    const FILETIME ft = fileTime(v.ticks);
    SYSTEMTIME st;
    ASSERT_TRUE(FileTimeToSystemTime(&ft, &st)) << std::hex << v.ticks;
    EXPECT_EQ(st, v.expected) << std::hex << v.ticks;
  }
  for (const uint64_t ticks : {0x8000000000000000ull, 0xFFFFFFFFFFFFFFFFull}) {
    const FILETIME ft = fileTime(ticks);
    SYSTEMTIME st{};
    SetLastError(0);
    EXPECT_FALSE(FileTimeToSystemTime(&ft, &st));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  }
}

TEST(FileTimeToSystemTime, AgreesWithTheCLibraryOnEveryDayFrom1601To2500) {
  const int64_t epochSeconds = 11644473600;  // 1601-01-01 to 1970-01-01
  for (int64_t day = 0; day < 329000; ++day) {
    const int64_t seconds = day * 86400 + (day * 7919) % 86400;  // a different time of day each day
    const FILETIME ft = fileTime(static_cast<uint64_t>(seconds) * 10000000);
    SYSTEMTIME st;
    ASSERT_TRUE(FileTimeToSystemTime(&ft, &st));
    const time_t unixTime = static_cast<time_t>(seconds - epochSeconds);
    tm expected;
    ASSERT_NE(gmtime_r(&unixTime, &expected), nullptr);
    const SYSTEMTIME want = {static_cast<WORD>(expected.tm_year + 1900), static_cast<WORD>(expected.tm_mon + 1),
                             static_cast<WORD>(expected.tm_wday),        static_cast<WORD>(expected.tm_mday),
                             static_cast<WORD>(expected.tm_hour),        static_cast<WORD>(expected.tm_min),
                             static_cast<WORD>(expected.tm_sec),         0};
    ASSERT_EQ(st, want) << "day " << day;
  }
}

}  // namespace
