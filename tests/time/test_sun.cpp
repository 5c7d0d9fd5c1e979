#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <ctime>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "time/sun.h"
#include "time_zone_guard.h"

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
        // Beyond 63 degrees the times go on from those of 63.
        SunCase{"BeyondNorthRise", 63.0001, 0, 0, "R", Day(2026, 6, 21), HM(1, 52)},
        SunCase{"BeyondNorthSet", 63.0001, 0, 0, "S", Day(2026, 6, 21), HM(22, 11)},
        SunCase{"BeyondSouth", -63.0001, 0, 0, "S", Day(2026, 12, 21), HM(22, 8)},
        // Midnight sun: the whole day; polar night: both at the sun's highest point.
        SunCase{"MidnightSunRise", 78, 0, 0, "R", Day(2026, 6, 21), HM(0, 0)},
        SunCase{"MidnightSunSet", 78, 0, 0, "S", Day(2026, 6, 21), HM(24, 0)},
        SunCase{"PolarNightRise", 78, 15, -1, "R", Day(2026, 12, 21), HM(11, 58)},
        SunCase{"PolarNightSet", 78, 15, -1, "S", Day(2026, 12, 21), HM(11, 58)},
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

// ---- against NOAA's solar calculator, whose formulas (Meeus) share nothing with ours ----

namespace noaa {

double Rad(double d) { return d * M_PI / 180; }
double Deg(double r) { return r * 180 / M_PI; }

struct Sun {
  double declination;  // degrees
  double equation_of_time;  // minutes
};

Sun At(double julian_day) {
  const double t = (julian_day - 2451545.0) / 36525.0;
  const double l0 = std::fmod(280.46646 + t * (36000.76983 + t * 0.0003032), 360.0);
  const double m = 357.52911 + t * (35999.05029 - 0.0001537 * t);
  const double e = 0.016708634 - t * (0.000042037 + 0.0000001267 * t);
  const double c = std::sin(Rad(m)) * (1.914602 - t * (0.004817 + 0.000014 * t)) +
                   std::sin(Rad(2 * m)) * (0.019993 - 0.000101 * t) + std::sin(Rad(3 * m)) * 0.000289;
  const double omega = 125.04 - 1934.136 * t;
  const double lambda = l0 + c - 0.00569 - 0.00478 * std::sin(Rad(omega));
  const double seconds = 21.448 - t * (46.8150 + t * (0.00059 - t * 0.001813));
  const double epsilon = 23 + (26 + seconds / 60) / 60 + 0.00256 * std::cos(Rad(omega));
  const double y = std::pow(std::tan(Rad(epsilon) / 2), 2);
  const double eot = y * std::sin(2 * Rad(l0)) - 2 * e * std::sin(Rad(m)) +
                     4 * e * y * std::sin(Rad(m)) * std::cos(2 * Rad(l0)) -
                     0.5 * y * y * std::sin(4 * Rad(l0)) - 1.25 * e * e * std::sin(2 * Rad(m));
  return {Deg(std::asin(std::sin(Rad(epsilon)) * std::sin(Rad(lambda)))), Deg(eot) * 4};
}

double CosHourAngle(double latitude, double declination) {
  return std::cos(Rad(90.833)) / (std::cos(Rad(latitude)) * std::cos(Rad(declination))) -
         std::tan(Rad(latitude)) * std::tan(Rad(declination));
}

// Local clock time of sunrise or sunset on the local day whose 00:00 UT is `midnight_utc`,
// by the zone's rules at that instant, as a fraction of a day; polar days and nights as the
// program should report them.
double LocalEvent(bool rise, std::time_t midnight_utc, double latitude, double longitude) {
  const double jd = static_cast<double>(midnight_utc) / 86400.0 + 2440587.5;
  auto utc_minutes = [&](double at_jd, double& cos_ha) {
    const Sun sun = At(at_jd);
    cos_ha = CosHourAngle(latitude, sun.declination);
    const double ha = Deg(std::acos(std::clamp(cos_ha, -1.0, 1.0)));
    return 720 - 4 * (longitude + (rise ? ha : -ha)) - sun.equation_of_time;
  };
  double cos_ha = 0;
  const double noon = utc_minutes(jd + 0.5 - longitude / 360, cos_ha);  // first guess near noon
  double minutes = utc_minutes(jd + noon / 1440, cos_ha);
  if (cos_ha < -1) return rise ? 0.0 : 86399.0 / 86400.0;  // the sun stays up
  if (cos_ha > 1) {  // it stays down: the moment of its highest point
    const Sun sun = At(jd + 0.5 - longitude / 360);
    minutes = 720 - 4 * longitude - sun.equation_of_time;
  }
  const std::time_t instant = midnight_utc + static_cast<std::time_t>(std::lround(minutes * 60));
  std::tm local{};
  localtime_r(&instant, &local);
  return (local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec) / 86400.0;
}

}  // namespace noaa

// Two minutes at every latitude, on the solstices, the equinoxes and the days the clocks
// change, in zones with the clocks forward in either half of the year.
TEST(SunAgainstNoaa, WithinTwoMinutesEverywhereAndOnClockChangeDays) {
  const struct { const char* zone; double longitude; std::pair<int, int> changes[2]; } zones[] = {
      {"Europe/Berlin", 13.40, {{3, 29}, {10, 25}}},
      {"America/New_York", -74.01, {{3, 8}, {11, 1}}},
      {"Australia/Sydney", 151.21, {{4, 5}, {10, 4}}},
  };
  const std::pair<int, int> fixed_days[] = {{3, 20}, {6, 21}, {9, 23}, {12, 21}};
  const double latitudes[] = {0, 40, -40, 60, -60, 64, 70, -70, 78, -78};
  int checked = 0;
  for (const auto& z : zones) {
    testing::TimeZoneGuard guard(z.zone);
    std::vector<std::pair<int, int>> days(std::begin(fixed_days), std::end(fixed_days));
    days.insert(days.end(), std::begin(z.changes), std::end(z.changes));
    for (auto [month, day] : days) {
      const DateTime date = Day(2026, month, day);
      const std::time_t midnight_utc = static_cast<std::time_t>(std::llround((date - 25569) * 86400));
      for (double latitude : latitudes) {
        Location location{latitude, z.longitude};
        ::chronoreel::Sun sun(location, [&] { return date + 0.375; });
        for (bool rise : {true, false}) {
          const double expected = noaa::LocalEvent(rise, midnight_utc, latitude, z.longitude);
          const double got = rise ? sun.Sunrise() : sun.Sunset();
          const double apart = std::fabs(std::remainder(got - expected, 1.0)) * 1440;
          EXPECT_LE(apart, 2.0) << z.zone << " 2026-" << month << "-" << day << " latitude "
                                << latitude << (rise ? " sunrise " : " sunset ") << got * 24
                                << " h, NOAA " << expected * 24 << " h";
          ++checked;
        }
      }
    }
  }
  EXPECT_EQ(checked, 3 * 6 * 10 * 2);
}

TEST(SunIteration, EquinoxAtGreenwichTakesTwoPasses) {
  EXPECT_EQ(ComputeSunEvent(0, 0, 0, "R", Day(2026, 3, 21)).passes, 2);
  EXPECT_GT(ComputeSunEvent(70, 0, 0, "R", Day(2026, 3, 21)).passes, 0);
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
