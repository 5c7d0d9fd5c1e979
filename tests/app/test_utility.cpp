// The clamp, the list test and the yielding wait (on a simulated clock: no real waiting).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <ctime>
#include <limits>
#include <vector>

#include "app/core/host.h"
#include "app/core/utility.h"
#include "support/fake_host.h"

namespace chronoreel {
namespace {

TEST(LimitTest, ClampsIntoRange) {
  const struct {
    int value, min, max, expected;
  } cases[] = {
      {5, 1, 100000, 5},      {0, 1, 100000, 1},   {200000, 1, 100000, 100000},
      {1, 1, 100000, 1},      {100000, 1, 100000, 100000}, {-7, -5, 5, -5},
      {5, 10, 1, 10},   // min above max: the lower bound is tested first
      {15, 10, 1, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value);
    int v = c.value;
    Limit(v, c.min, c.max);
    EXPECT_EQ(v, c.expected);
  }
  double d = 1.5;
  Limit(d, 0, 1);
  EXPECT_EQ(d, 1.0);
  d = -0.25;
  Limit(d, 0, 1);
  EXPECT_EQ(d, 0.0);
  d = 0.75;
  Limit(d, 0, 1);
  EXPECT_EQ(d, 0.75);
}

TEST(IsValidArrayTest, EmptyIsNotValid) {
  EXPECT_FALSE(IsValidArray(std::vector<int>{}));
  EXPECT_TRUE(IsValidArray(std::vector<int>{0}));
  std::vector<double> erased{1.0, 2.0};
  erased.clear();
  EXPECT_FALSE(IsValidArray(erased));
}

// A clock that moves only when Delay pauses, by an exact binary step.
struct SimulatedClock {
  double start;
  double passed = 0.0;
  int pauses = 0;
  static constexpr double kStep = 1.0 / 128.0;

  double Read() const { return std::fmod(start + passed, 86400.0); }
  void Pause() {
    passed += kStep;
    ++pauses;
  }
};

double RunDelay(double seconds, double start, FakeHost& host, SimulatedClock& clock) {
  clock.start = start;
  Delay(
      host, seconds, [&] { return clock.Read(); }, [&](std::chrono::milliseconds) { clock.Pause(); });
  return clock.passed;
}

TEST(DelayTest, WaitsWholeSecondsRoundedHalfToEven) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const struct {
    double seconds;
    double at_least;  // the wait returns at this time or within one step after
    bool strictly_after;
  } cases[] = {
      {2, 1.5, false},   // 1.5 rounds to 2
      {1, 0.5, true},    // 0.5 rounds to 0: one more step
      {0.5, 0.5, true},
      {3, 2.5, true},    // 2.5 rounds to 2
      {4, 3.5, false},
      {0, 0, false},
      {-1, 0, false},
      {nan, 0, false},
  };
  // Starts in the middle of the day and just before midnight: the same wait either way.
  const double starts[] = {0.0, 43200.0, 86399.25, 86399.75, 86399.9, 86398.6};
  for (const auto& c : cases) {
    for (double start : starts) {
      SCOPED_TRACE(::testing::Message() << "Delay(" << c.seconds << ") from " << start);
      FakeHost host;
      SimulatedClock clock{start};
      const double waited = RunDelay(c.seconds, start, host, clock);
      if (c.strictly_after) {
        EXPECT_GT(waited, c.at_least);
      } else {
        EXPECT_GE(waited, c.at_least - 1e-9);
      }
      EXPECT_LE(waited, c.at_least + SimulatedClock::kStep + 1e-9);
      // Events are processed on every pass, including the last.
      EXPECT_EQ(host.process_events, clock.pauses + 1);
    }
  }
}

TEST(DelayTest, WaitOfMoreThanADayEnds) {
  FakeHost host;
  double now = 100.0;
  Delay(
      host, 90000, [&] { return std::fmod(now, 86400.0); },
      [&](std::chrono::milliseconds) { now += 60.0; });
  EXPECT_GE(now - 100.0, 90000 - 0.5);
  EXPECT_LE(now - 100.0, 90060);
}

TEST(DelayTest, ClockCountsLocalTime) {
  // Five hours east of UTC: the seconds since local midnight are UTC's plus 18000.
  const char* old_tz = std::getenv("TZ");
  const std::string saved = old_tz ? old_tz : "";
  setenv("TZ", "XYZ-5", 1);
  tzset();
  const double expected = std::fmod(static_cast<double>(std::time(nullptr) % 86400) + 18000.0, 86400.0);
  const double got = SecondsSinceMidnight();
  if (old_tz) {
    setenv("TZ", saved.c_str(), 1);
  } else {
    unsetenv("TZ");
  }
  tzset();
  double diff = std::fabs(got - expected);
  diff = std::min(diff, 86400.0 - diff);
  EXPECT_LT(diff, 3.0);
  EXPECT_GE(got, 0.0);
  EXPECT_LT(got, 86400.0);
}

}  // namespace
}  // namespace chronoreel

namespace chronoreel {
namespace {

TEST(PrintableTextTest, OnlyControlBytesAreEscaped) {
  const struct {
    std::string in;
    std::string out;
  } cases[] = {
      {"", ""},
      {"garden 2026.jpg", "garden 2026.jpg"},
      {"a\nb", "a\\x0Ab"},
      {"\r\t\x1b[0m", "\\x0D\\x09\\x1B[0m"},
      {std::string("nul\0byte", 8), "nul\\x00byte"},
      {"del\x7f", "del\\x7F"},
      {"caf\xc3\xa9 \xff", "caf\xc3\xa9 \xff"},  // UTF-8 and stray bytes pass unchanged
  };
  for (const auto& c : cases) EXPECT_EQ(PrintableText(c.in), c.out) << c.in;
}

}  // namespace
}  // namespace chronoreel
