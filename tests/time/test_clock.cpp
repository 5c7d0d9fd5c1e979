#include <gtest/gtest.h>

#include <cmath>
#include <ctime>

#include "time/clock.h"
#include "time_zone_guard.h"

namespace chronoreel {
namespace {

using testing::TimeZoneGuard;

constexpr double kSecond = 1.0 / 86400.0;

DateTime At(int y, int m, int d, int h, int mi, int s) { return *DateTimeFromCivil(y, m, d, h, mi, s); }

TEST(ClockRule, JoinsTheWholeSecondAndTheTimerFraction) {
  const DateTime noon = At(2026, 3, 21, 12, 0, 0);
  const DateTime tick = At(2026, 3, 21, 12, 0, 1);
  const DateTime late = At(2026, 3, 21, 23, 59, 59);
  const DateTime midnight = At(2026, 3, 22, 0, 0, 0);
  const struct { const char* what; DateTime first; double timer; DateTime second, expected; } cases[] = {
      {"same second", noon, 43200.25, noon, noon + 0.25 * kSecond},
      {"tick, late fraction: first", noon, 43200.7, tick, noon + 0.7 * kSecond},
      {"tick, early fraction: second", noon, 43201.2, tick, tick + 0.2 * kSecond},
      {"tick, half: first", noon, 43200.5, tick, noon + 0.5 * kSecond},
      {"midnight, timer before", late, 86399.7, midnight, late + 0.7 * kSecond},
      {"midnight, timer after", late, 0.3, midnight, midnight + 0.3 * kSecond},
  };
  for (const auto& c : cases) {
    EXPECT_NEAR(ClockFromReadings(c.first, c.timer, c.second), c.expected, 1e-4 * kSecond)
        << c.what;
    // Never a whole day back from the first reading.
    EXPECT_GT(ClockFromReadings(c.first, c.timer, c.second), c.first - kSecond) << c.what;
  }
}

TEST(Clock, LiesBetweenTwoSystemReadings) {
  TimeZoneGuard zone("UTC");
  const std::time_t before = std::time(nullptr);
  const DateTime now = Clock();
  const std::time_t after = std::time(nullptr);
  EXPECT_GE(now, DateTimeFromUnix(before));
  EXPECT_LT(now, DateTimeFromUnix(after + 1));
}

// Fixed POSIX zones do not depend on the date or on tzdata.
TEST(GMTOffset, FixedZonesPositiveWest) {
  const struct { const char* zone; double hours; } cases[] = {
      {"UTC0", 0}, {"EST5", 5}, {"CET-1", -1}, {"IST-5:30", -5.5}, {"NPT-5:45", -5.75}, {"NST3:30", 3.5}};
  for (const auto& c : cases) {
    TimeZoneGuard zone(c.zone);
    EXPECT_DOUBLE_EQ(GMTOffset(), c.hours) << c.zone;
  }
}

// Named zones with daylight rules: the offset must match the local time of this moment.
TEST(GMTOffset, AgreesWithTheLocalClockNow) {
  const struct { const char* zone; double standard, daylight; } cases[] = {
      {"UTC", 0, 0}, {"Asia/Kolkata", -5.5, -5.5}, {"America/New_York", 5, 4}, {"Australia/Sydney", -10, -11}};
  for (const auto& c : cases) {
    TimeZoneGuard zone(c.zone);
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ASSERT_NE(localtime_r(&now, &local), nullptr);
    const double offset = GMTOffset();
    EXPECT_DOUBLE_EQ(offset, local.tm_isdst > 0 ? c.daylight : c.standard) << c.zone;
    const double utc_days = static_cast<double>(now) / 86400.0 + 25569.0;
    EXPECT_NEAR((DateTimeFromUnix(now) - utc_days) * 24.0, -offset, 1e-6) << c.zone;
  }
}

}  // namespace
}  // namespace chronoreel
