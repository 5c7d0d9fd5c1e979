#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "time/sun.h"

namespace chronoreel {
namespace {

DateTime Day(int y, int m, int d, int h = 0, int mi = 0) { return *DateTimeFromCivil(y, m, d, h, mi); }

// -1 stands for "not available" (exactly 0).
constexpr int kNone = -1;

struct SunCase {
  const char* name;
  double latitude, longitude, offset;
  const char* event;
  DateTime date;
  int expected_minutes;
};

class SunExamples : public ::testing::TestWithParam<SunCase> {};

TEST_P(SunExamples, LocalClockTimeToTheMinute) {
  const SunCase& c = GetParam();
  const double f = GetSunset(c.latitude, c.longitude, c.offset, c.event, c.date);
  ASSERT_GE(f, 0.0);
  ASSERT_LT(f, 1.0);
  if (c.expected_minutes == kNone) {
    EXPECT_EQ(f, 0.0);
  } else {
    EXPECT_EQ(std::llround(f * 1440), c.expected_minutes)
        << "got " << f * 24 << " h";
  }
}

constexpr int HM(int h, int m) { return h * 60 + m; }

INSTANTIATE_TEST_SUITE_P(
    Table, SunExamples,
    ::testing::Values(
        SunCase{"EquinoxRise", 0, 0, 0, "R", Day(2026, 3, 21), HM(6, 4)},
        SunCase{"EquinoxSet", 0, 0, 0, "S", Day(2026, 3, 21), HM(18, 10)},
        SunCase{"SummerRise", 40, -75, 4, "R", Day(2026, 6, 21), HM(5, 31)},
        // Local 20:32 is 00:32 UT of the next day: the fraction wraps up from below 0.
        SunCase{"SummerSetWraps", 40, -75, 4, "S", Day(2026, 6, 21), HM(20, 32)},
        SunCase{"WinterRise", 40, -75, 5, "R", Day(2026, 12, 21), HM(7, 18)},
        SunCase{"WinterSet", 40, -75, 5, "S", Day(2026, 12, 21), HM(16, 38)},
        SunCase{"Lat63Rise", 63, 0, 0, "R", Day(2026, 6, 21), HM(1, 52)},
        SunCase{"Lat63Set", 63, 0, 0, "S", Day(2026, 6, 21), HM(22, 11)},
        SunCase{"BeyondNorthRise", 63.0001, 0, 0, "R", Day(2026, 6, 21), kNone},
        SunCase{"BeyondNorthSet", 63.0001, 0, 0, "S", Day(2026, 6, 21), kNone},
        SunCase{"BeyondSouth", -63.0001, 0, 0, "S", Day(2026, 12, 21), kNone},
        // Sydney in June: 07:00 local is 21:00 UT of the day before (wraps down from 1).
        SunCase{"SouthernRiseWraps", -33.87, 151.21, -10, "R", Day(2026, 6, 21), HM(7, 0)},
        SunCase{"LowerCaseS", 0, 0, 0, "s", Day(2026, 3, 21), HM(18, 10)},
        SunCase{"EmptyIsRise", 0, 0, 0, "", Day(2026, 3, 21), HM(6, 4)},
        SunCase{"WordIsRise", 0, 0, 0, "Sunset", Day(2026, 3, 21), HM(6, 4)},
        SunCase{"TimeOfDayIgnored", 0, 0, 0, "S", Day(2026, 3, 21, 15, 30), HM(18, 10)},
        SunCase{"NaNLatitude", std::nan(""), 0, 0, "R", Day(2026, 3, 21), kNone},
        SunCase{"NaNDate", 0, 0, 0, "R", std::nan(""), kNone},
        SunCase{"InfiniteOffset", 0, 0, std::numeric_limits<double>::infinity(), "R",
                Day(2026, 3, 21), kNone}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(SunIteration, EquinoxAtGreenwichTakesTwoPasses) {
  EXPECT_EQ(ComputeSunEvent(0, 0, 0, "R", Day(2026, 3, 21)).passes, 2);
  EXPECT_EQ(ComputeSunEvent(70, 0, 0, "R", Day(2026, 3, 21)).passes, 0);
}

TEST(NormalizeRadians, ReducesIntoOneTurn) {
  const double two_pi = 6.28318530717958;
  const struct { double in, out; } cases[] = {
      {0, 0},           {3, 3},           {two_pi, 0},      {-1, two_pi - 1},
      {7, 7 - two_pi},  {-2 * two_pi - 0.5, two_pi - 0.5}, {100 * two_pi + 1, 1},
      {-two_pi, 0},
  };
  for (const auto& c : cases) {
    const double r = NormalizeRadians(c.in);
    EXPECT_NEAR(r, c.out, 1e-9) << c.in;
    EXPECT_GE(r, 0.0) << c.in;
    EXPECT_LT(r, two_pi) << c.in;
  }
}

class SunCache : public ::testing::Test {
 protected:
  Location location{0, 0};
  DateTime now = Day(2026, 3, 21, 9, 0);
  int offset_reads = 0;
  Sun sun{location, [this] { return now; }, [this] { ++offset_reads; return 0.0; }};
};

TEST_F(SunCache, OneCalculationPerDay) {
  const double rise = sun.Sunrise();
  const double set = sun.Sunset();
  now += 0.4;  // later the same day
  EXPECT_EQ(sun.Sunrise(), rise);
  EXPECT_EQ(sun.Sunset(), set);
  EXPECT_EQ(sun.Calculations(), 1);
  EXPECT_EQ(rise, GetSunset(0, 0, 0, "R", Day(2026, 3, 21)));
  EXPECT_EQ(set, GetSunset(0, 0, 0, "S", Day(2026, 3, 21)));

  now = Day(2026, 6, 21, 0, 1);
  EXPECT_EQ(sun.Sunset(), GetSunset(0, 0, 0, "S", Day(2026, 6, 21)));
  EXPECT_EQ(sun.Calculations(), 2);
}

TEST_F(SunCache, InvalidateTakesTheNewLocation) {
  sun.Sunrise();
  location = {40, -75};
  EXPECT_EQ(sun.Sunrise(), GetSunset(0, 0, 0, "R", Day(2026, 3, 21)));  // still cached
  sun.Invalidate();
  EXPECT_EQ(sun.Sunrise(), GetSunset(40, -75, 0, "R", Day(2026, 3, 21)));
  EXPECT_EQ(sun.Sunset(), GetSunset(40, -75, 0, "S", Day(2026, 3, 21)));
  EXPECT_EQ(sun.Calculations(), 2);
  EXPECT_EQ(offset_reads, 2);
}

TEST_F(SunCache, DayZeroIsCachedToo) {
  now = 0.5;
  sun.Sunrise();
  sun.Sunset();
  EXPECT_EQ(sun.Calculations(), 1);
}

}  // namespace
}  // namespace chronoreel
