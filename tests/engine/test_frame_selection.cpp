// Frame selection: the time window of a run and the thinning of the stills into frames.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/core/host.h"
#include "app/core/program_state.h"
#include "engine/movie_gen.h"
#include "support/fake_host.h"
#include "support/test_files.h"
#include "time/date_time.h"
#include "time/sun.h"

namespace chronoreel {
namespace {

namespace fs = std::filesystem;
using Selection = MovieGen::Selection;

// Stills are named after their time (taken from the name); the day is 6 May 2024 and
// offsets count seconds from noon.
const DateTime kNoon = DateTimeFromCivil(2024, 5, 6, 12, 0).value();

class SelectionTest : public ::testing::Test {
 protected:
  SelectionTest() {
    gen.SetStillDirectory(dir.Str());
    gen.SetImageFilter("*.jpg");
    gen.SetTimeStampOption(1);
    gen.SetRunTime(kNoon + 0.25);
  }

  // `others`: stills already in the folder.
  void MakeStills(const std::vector<int>& offsets, size_t others = 0) {
    for (int offset : offsets) {
      char name[32];
      std::snprintf(name, sizeof name, "240506%02d%02d%02d.jpg", 12 + offset / 3600,
                    offset / 60 % 60, offset % 60);
      std::ofstream(dir.File(name)).put('x');
    }
    gen.GetFileSpecs();
    ASSERT_EQ(gen.ImageTimes().size(), offsets.size() + others);
  }

  // Frame times as seconds from noon.
  std::vector<int> FrameOffsets() const {
    std::vector<int> offsets;
    for (DateTime t : gen.FrameTimes()) {
      offsets.push_back(static_cast<int>(std::lround((t - kNoon) * 86400)));
    }
    return offsets;
  }

  TempDir dir{"chronoreel-frames"};
  ProgramState state;
  Sun sun{state.location, [] { return kNoon; }, [] { return 0.0; }};
  NullHost host;
  MovieGen gen{state, sun, host};
};

std::vector<int> Every(int step, int last) {
  std::vector<int> v;
  for (int t = 0; t <= last; t += step) v.push_back(t);
  return v;
}

std::vector<int> Repeat(std::vector<std::pair<int, int>> runs) {
  std::vector<int> v;
  for (auto [value, count] : runs) v.insert(v.end(), static_cast<size_t>(count), value);
  return v;
}

struct SelectionCase {
  const char* name;
  std::vector<int> stills;
  int interval_option;
  double images_per_hour;
  int duplicate_count;
  int time_option;
  int window_start;  // seconds from noon, used with time option 1
  int window_stop;
  Selection result;
  std::vector<int> frames;
};

class SelectionTableTest : public SelectionTest,
                           public ::testing::WithParamInterface<SelectionCase> {};

TEST_P(SelectionTableTest, SelectsTheExpectedFrames) {
  const SelectionCase& c = GetParam();
  MakeStills(c.stills);
  gen.SetImageIntervalOption(c.interval_option);
  gen.SetImagesPerHour(c.images_per_hour);
  gen.SetDuplicateCount(c.duplicate_count);
  gen.SetTimeOption(c.time_option);
  gen.SetStartTimeOption(3);
  gen.SetStopTimeOption(3);
  gen.SetStartTimeAbsolute(kNoon + c.window_start / 86400.0);
  gen.SetStopTimeAbsolute(kNoon + c.window_stop / 86400.0);
  gen.ComputeWindow();
  EXPECT_EQ(gen.SelectFrames(), c.result);
  EXPECT_EQ(FrameOffsets(), c.frames);
  // Every frame path names the still of that time.
  std::map<std::string, DateTime> time_of;
  for (size_t i = 0; i < gen.ImagePaths().size(); ++i) time_of[gen.ImagePaths()[i]] = gen.ImageTimes()[i];
  ASSERT_EQ(gen.FramePaths().size(), gen.FrameTimes().size());
  for (size_t i = 0; i < gen.FramePaths().size(); ++i) {
    EXPECT_EQ(time_of.at(gen.FramePaths()[i]), gen.FrameTimes()[i]) << i;
  }
}

std::vector<int> Minutes(int first, int last) {
  std::vector<int> v;
  for (int m = first; m <= last; ++m) v.push_back(m * 60);
  return v;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SelectionTableTest,
    ::testing::Values(
        SelectionCase{"SixtyPerHourTakesTheStillNearestEachMinute", Every(10, 3600), 1, 60, 2, 0,
                      0, 0, Selection::Selected, Every(60, 3600)},
        SelectionCase{"GapFilledUpToTheRepeatLimit", {0, 300, 600}, 1, 60, 100000, 0, 0, 0,
                      Selection::Selected, Repeat({{0, 3}, {300, 5}, {600, 3}})},
        SelectionCase{"SlotsBeyondTheRepeatLimitAreDropped", {0, 300, 600}, 1, 60, 3, 0, 0, 0,
                      Selection::Selected, Repeat({{0, 3}, {300, 3}, {600, 3}})},
        SelectionCase{"ATieGoesToTheLaterStill", {0, 60}, 1, 120, 10, 0, 0, 0,
                      Selection::Selected, {0, 60, 60}},
        SelectionCase{"LastStillTakesOneSlotLessThanHalfAnIntervalOn", {0, 50}, 1, 60, 10, 0, 0, 0,
                      Selection::Selected, {0, 50}},
        SelectionCase{"LastStillTakesNoSlotHalfAnIntervalOrMoreOn", {0, 30}, 1, 60, 10, 0, 0, 0,
                      Selection::Selected, {0}},
        SelectionCase{"AllImagesIgnoreTheRepeatLimit", {0, 10, 3000}, 0, 60, 1, 0, 0, 0,
                      Selection::Selected, {0, 10, 3000}},
        SelectionCase{"AllImagesInsideTheWindowAreAllTaken", Every(60, 300), 0, 60, 1, 1, 0, 300,
                      Selection::Selected, Every(60, 300)},
        SelectionCase{"WindowEndsAreInclusive", Every(60, 300), 0, 60, 1, 1, 60, 240,
                      Selection::Selected, Minutes(1, 4)},
        SelectionCase{"WindowEndsAreInclusiveWhenThinning", Every(60, 300), 1, 60, 5, 1, 60, 240,
                      Selection::Selected, Minutes(1, 4)},
        SelectionCase{"ReversedWindowSelectsTheSameStills", Every(60, 300), 1, 60, 5, 1, 240, 60,
                      Selection::Selected, Minutes(1, 4)},
        SelectionCase{"IgnoringFileTimeIgnoresTheWindow", Every(60, 300), 1, 60, 5, 0, 5000, 6000,
                      Selection::Selected, Every(60, 300)},
        SelectionCase{"NothingInTheWindow", Every(60, 300), 1, 60, 5, 1, 5000, 6000,
                      Selection::NoFrames, {}},
        SelectionCase{"NothingInTheWindowUsingAllImages", Every(60, 300), 0, 60, 5, 1, 5000, 6000,
                      Selection::NoFrames, {}}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(SelectionTest, StrayStillFarAwayDoesNotStallTheSelection) {
  // A still dated thirty years earlier, at the finest interval: the dead slots are stepped over.
  std::ofstream(dir.File("940506120000.jpg")).put('x');
  MakeStills({0, 1, 2}, 1);
  gen.SetImageIntervalOption(1);
  gen.SetImagesPerHour(36000);
  gen.SetDuplicateCount(1);
  EXPECT_EQ(gen.SelectFrames(), Selection::Selected);
  ASSERT_EQ(gen.FrameTimes().size(), 4u);
  EXPECT_EQ(gen.FrameTimes().front(), gen.ImageTimes().front());
  EXPECT_EQ(FrameOffsets().back(), 2);
}

// The stage on its own: the image list in, the frame list and the labels out.
TEST_F(SelectionTest, LabelsCountTheStillsAndCancelStopsAfterOne) {
  MakeStills(Every(10, 90));
  const ImageList images{gen.ImagePaths(), gen.ImageTimes(), {}};
  const SelectionInputs in{.image_interval_option = 1, .images_per_hour = 60, .duplicate_count = 2, .daily_times = {}};
  FakeHost windows;
  std::atomic<bool> cancel{false};
  const std::unique_ptr<ProgressWindow> window = windows.CreateProgressWindow([&] { cancel = true; });
  const StageReport report{windows, window.get(), &cancel};
  FrameList frames;

  EXPECT_EQ(SelectFrames(in, images, frames, report), SelectionEnd::Selected);
  EXPECT_FALSE(frames.paths.empty());
  const std::vector<std::string> labels = windows.Labels();
  ASSERT_FALSE(labels.empty());
  EXPECT_EQ(labels.front(), "Frame: 1 of 10");
  EXPECT_EQ(labels.back(), "Frame: 10 of 10");
  EXPECT_EQ(std::count(windows.log.begin(), windows.log.end(), "refresh"), static_cast<int>(labels.size()));

  windows.log.clear();
  windows.CancelOnLabel("", true);  // on the first label
  EXPECT_EQ(SelectFrames(in, images, frames, report), SelectionEnd::Cancelled);
  EXPECT_EQ(windows.Labels(), std::vector<std::string>{"Frame: 1 of 10"});
}

TEST_F(SelectionTest, EmptyImageListSelectsNothing) {
  gen.GetFileSpecs();
  EXPECT_EQ(gen.SelectFrames(), Selection::NoFrames);
  EXPECT_TRUE(gen.FramePaths().empty());
}

// ---- the window ----

struct WindowCase {
  const char* name;
  int start_option;
  int stop_option;
  int time_option;
  int movie_direction;
  std::function<DateTime(Sun&)> start;
  std::function<DateTime(Sun&)> stop;
  int direction;
  int start_days = 0;  // whole days added to "Today at"
  int stop_days = 0;
};

const DateTime kRun = DateTimeFromCivil(2024, 5, 6, 14, 30).value();
const DateTime kDay = DateTimeFromCivil(2024, 5, 6).value();
const DateTime kAbsolute = DateTimeFromCivil(2024, 5, 1, 6, 0).value();

class WindowTest : public ::testing::TestWithParam<WindowCase> {
 protected:
  WindowTest() {
    state.location = {52.5, 13.4};
    gen.SetRunTime(kRun);
    gen.SetStartTimeRelative(2);
    gen.SetStopTimeRelative(-3);
    gen.SetStartTimeToday(18.0 / 24);
    gen.SetStopTimeToday(6.0 / 24);
    gen.SetStartTimeAbsolute(kAbsolute);
    gen.SetStopTimeAbsolute(kAbsolute + 2);
    gen.SetStartTimeSunriseRelative(-1.5);
    gen.SetStopTimeSunriseRelative(1);
    gen.SetStartTimeSunsetRelative(0.5);
    gen.SetStopTimeSunsetRelative(-2);
  }
  ProgramState state;
  Sun sun{state.location, [] { return kRun; }, [] { return -2.0; }};
  NullHost host;
  MovieGen gen{state, sun, host};
};

TEST_P(WindowTest, ComputesBothEndsAndTheDirection) {
  const WindowCase& c = GetParam();
  gen.SetStartTimeOption(c.start_option);
  gen.SetStopTimeOption(c.stop_option);
  gen.SetTimeOption(c.time_option);
  gen.SetMovieDirection(c.movie_direction);
  gen.SetStartTimeTodayDays(c.start_days);
  gen.SetStopTimeTodayDays(c.stop_days);
  gen.ComputeWindow();
  EXPECT_NEAR(gen.WindowStart(), c.start(sun), 1e-9);
  EXPECT_NEAR(gen.WindowStop(), c.stop(sun), 1e-9);
  EXPECT_EQ(gen.RunDirection(), c.direction);
}

DateTime At(double hours) { return kDay + hours / 24; }

INSTANTIATE_TEST_SUITE_P(
    Kinds, WindowTest,
    ::testing::Values(
        WindowCase{"NowAndNowMinus", 0, 1, 1, 1, [](Sun&) { return kRun; },
                   [](Sun&) { return At(17.5); }, 1},
        WindowCase{"NowMinusBeforeNow", 1, 0, 1, 1, [](Sun&) { return At(12.5); },
                   [](Sun&) { return kRun; }, 1},
        WindowCase{"AbsoluteDates", 3, 3, 1, 1, [](Sun&) { return kAbsolute; },
                   [](Sun&) { return kAbsolute + 2; }, 1},
        WindowCase{"SunriseMinusNinetyMinutes", 4, 4, 1, 1,
                   [](Sun& s) {
                     EXPECT_GT(s.Sunrise(), 3.0 / 24);  // Berlin in May, summer time
                     EXPECT_LT(s.Sunrise(), 6.5 / 24);
                     return kDay + s.Sunrise() - 1.5 / 24;
                   },
                   [](Sun& s) { return kDay + s.Sunrise() + 1.0 / 24; }, 1},
        WindowCase{"SunsetRelative", 5, 5, 1, 1, [](Sun& s) { return kDay + s.Sunset() - 2.0 / 24; },
                   [](Sun& s) { return kDay + s.Sunset() + 0.5 / 24; }, -1},
        WindowCase{"StopBeforeStartPlaysBackwards", 2, 2, 1, 1, [](Sun&) { return At(6); },
                   [](Sun&) { return At(18); }, -1},
        WindowCase{"StopBeforeStartWithReverseOrderPlaysForwards", 2, 2, 1, -1,
                   [](Sun&) { return At(6); }, [](Sun&) { return At(18); }, 1},
        WindowCase{"StopBeforeStartIgnoredWithoutFileTime", 2, 2, 0, 1, [](Sun&) { return At(18); },
                   [](Sun&) { return At(6); }, 1},
        WindowCase{"YesterdayEveningToThisMorning", 2, 2, 1, 1, [](Sun&) { return At(18 - 24); },
                   [](Sun&) { return At(6); }, 1, -1, 0},
        WindowCase{"DaysMoveOnlyTodayAt", 4, 1, 1, 1, [](Sun& s) { return kDay + s.Sunrise() - 1.5 / 24; },
                   [](Sun&) { return At(17.5); }, 1, -3, -3}),
    [](const auto& p) { return std::string(p.param.name); });

// Midnight sun: sunrise 00:00 and sunset 23:59:59, so the window spans the day. Polar
// night: both are the sun's highest point, 13:03 at 13.4 E in summer time. A setup file's
// Latitude and Longitude, each where it is given, stand in for the profile's location for
// the run; the sun the program shows stays the profile's.
TEST(WindowSunTest, PolarDayAndNightGiveWholeDayAndNoon) {
  const double noon = 13.05 / 24;
  const double none = kNoNumber;
  const struct { double latitude, longitude, file_latitude, file_longitude; double sunrise, sunset, slack; } cases[] = {
      {78.0, 13.4, none, none, 0, 86399.0 / 86400, 1e-9},
      {-78.0, 13.4, none, none, noon, noon, 3.0 / 1440},
      {52.5, 13.4, 78.0, none, 0, 86399.0 / 86400, 1e-9},
      {78.0, -70.0, -78.0, 13.4, noon, noon, 3.0 / 1440},
      // 15 degrees further east: the sun is highest an hour earlier.
      {-78.0, 13.4, none, 28.4, noon - 1.0 / 24, noon - 1.0 / 24, 3.0 / 1440},
  };
  for (const auto& c : cases) {
    ProgramState state;
    state.location = {c.latitude, c.longitude};
    Sun sun(state.location, [] { return kRun; }, [] { return -2.0; });
    Sun profile(state.location, [] { return kRun; }, [] { return -2.0; });
    NullHost host;
    MovieGen gen(state, sun, host);
    gen.SetLatitude(c.file_latitude);
    gen.SetLongitude(c.file_longitude);
    const double profile_sunrise = sun.Sunrise();
    gen.SetRunTime(kRun);
    gen.SetStartTimeOption(4);
    gen.SetStartTimeSunriseRelative(-1.5);
    gen.SetStopTimeOption(5);
    gen.SetStopTimeSunsetRelative(2);
    gen.ComputeWindow();
    EXPECT_NEAR(gen.WindowStart(), kDay + c.sunrise - 1.5 / 24, c.slack) << c.latitude;
    EXPECT_NEAR(gen.WindowStop(), kDay + c.sunset + 2.0 / 24, c.slack) << c.latitude;
    EXPECT_EQ(sun.Sunrise(), profile_sunrise) << c.latitude;
    EXPECT_EQ(sun.Sunrise(), profile.Sunrise()) << c.latitude;
  }
}

// ---- runs over many days: hours of each day, daily times, a wanted length ----

// Stills in minutes from midnight of 30 March 2024 (the clocks of Europe went forward the next night).
const DateTime kFirstDay = DateTimeFromCivil(2024, 3, 30).value();
int Hm(int day, int hour, int minute = 0) { return (day * 24 + hour) * 60 + minute; }
constexpr double H(double hours) { return hours / 24; }

// A still every hour from `from` to `to` o'clock, `minute` past, on each day but `skip_day`.
std::vector<int> Hourly(int days, int from, int to, int minute = 0, int skip_day = -1) {
  std::vector<int> v;
  for (int d = 0; d < days; ++d)
    for (int h = from; h <= to && d != skip_day; ++h) v.push_back(Hm(d, h, minute));
  return v;
}

// Local times, with moments `shift` minutes behind them from the still `shift_from` on (modified
// times across a clock change).
ImageList ListOf(const std::vector<int>& minutes, int shift = 0, size_t shift_from = 0) {
  ImageList list;
  for (size_t i = 0; i < minutes.size(); ++i) {
    list.paths.push_back(std::to_string(minutes[i]));
    list.times.push_back(kFirstDay + minutes[i] / 1440.0);
    list.moments.push_back(kFirstDay + (minutes[i] - (i >= shift_from ? shift : 0)) / 1440.0);
  }
  return list;
}

std::vector<int> Select(const SelectionInputs& in, const ImageList& images) {
  NullHost host;
  FrameList frames;
  SelectFrames(in, images, frames, StageReport{host});
  std::vector<int> v;
  for (DateTime t : frames.times) v.push_back(static_cast<int>(std::lround((t - kFirstDay) * 1440)));
  return v;
}

struct LongRunCase {
  const char* name;
  std::vector<int> stills;
  int shift;
  size_t shift_from;
  DayHours hours;
  double images_per_hour;  // 0: every still kept
  int duplicate_count;
  const char* daily_times;
  double tolerance_minutes;
  std::vector<int> frames;
};
class LongRunTest : public ::testing::TestWithParam<LongRunCase> {};

TEST_P(LongRunTest, SelectsAtTheEdges) {
  const LongRunCase& c = GetParam();
  const ImageList kept = KeepDayHours(c.hours, ListOf(c.stills, c.shift, c.shift_from));
  EXPECT_TRUE(std::is_sorted(kept.moments.begin(), kept.moments.end()));
  SelectionInputs in{.image_interval_option = c.images_per_hour > 0, .images_per_hour = c.images_per_hour,
                     .duplicate_count = c.duplicate_count, .daily_times = {},
                     .daily_tolerance = c.tolerance_minutes / 1440};
  ParseDailyTimes(c.daily_times, in.daily_times);
  EXPECT_EQ(Select(in, kept), c.frames);
}

DayHours Clock(double start, double stop) { return {1, H(start), H(stop), 0, 0, nullptr}; }
DayHours SunHours(double rise, double set, SunTimes first, SunTimes later) {
  return {2, 0, 0, rise, set, [=](DateTime day) { return day == kFirstDay ? first : later; }};
}
const SunTimes kPolarDay{0, 86399.0 / 86400}, kPolarNight{H(12), H(12)};

INSTANTIATE_TEST_SUITE_P(
    Edges, LongRunTest,
    ::testing::Values(
        // Without the hours each night would be filled with repeats.
        LongRunCase{"NightsLeaveNoRepeatedFrames", Hourly(2, 0, 23, 30), 0, 0, Clock(7, 17), 1, 100000, "", 0,
                     Hourly(2, 7, 16, 30)},
        LongRunCase{"StartAfterStopWrapsPastMidnightEndsIncluded", Hourly(2, 0, 23), 0, 0, Clock(22, 2), 0, 2, "", 0,
                     {Hm(0, 0), Hm(0, 1), Hm(0, 2), Hm(0, 22), Hm(0, 23), Hm(1, 0), Hm(1, 1), Hm(1, 2), Hm(1, 22),
                      Hm(1, 23)}},
        LongRunCase{"EqualStartAndStopKeepTheWholeDay", Hourly(1, 0, 23), 0, 0, Clock(6, 6), 0, 2, "", 0, Hourly(1, 0, 23)},
        // A day without stills keeps its hours: a gap filled up to the repeat limit.
        LongRunCase{"ADayWithoutStills", Hourly(3, 7, 16, 30, 1), 0, 0, Clock(7, 17), 1, 2, "", 0,
                     [] {
                       std::vector<int> v = Hourly(3, 7, 16, 30, 1);
                       v.insert(v.begin() + 9, Hm(0, 16, 30));
                       v.insert(v.begin() + 11, Hm(2, 7, 30));
                       return v;
                     }()},
        // Moments in Universal Time: the clocks go forward, then back, inside the kept hours.
        LongRunCase{"ClocksForwardInsideTheKeptHours",
                     {Hm(0, 22, 30), Hm(0, 23, 30), Hm(1, 0, 30), Hm(1, 1, 30), Hm(1, 3, 30), Hm(1, 4, 30)}, 60, 4,
                     Clock(22, 6), 1, 2, "", 0,
                     {Hm(0, 22, 30), Hm(0, 23, 30), Hm(1, 0, 30), Hm(1, 1, 30), Hm(1, 3, 30), Hm(1, 4, 30)}},
        LongRunCase{"ClocksBackInsideTheKeptHours", {30, 90, 150, 150, 210, 270}, -60, 3, Clock(0, 6), 1, 1, "", 0,
                     {30, 90, 150, 150, 210, 270}},
        LongRunCase{"EachDayItsOwnSunTimes", Hourly(2, 0, 23), 0, 0, SunHours(0.5, -0.5, {H(6), H(9)}, {H(5.5), H(8)}),
                     0, 2, "", 0, {Hm(0, 7), Hm(0, 8), Hm(1, 6), Hm(1, 7)}},
        LongRunCase{"PolarDayKeepsTheWholeDay", Hourly(2, 0, 23), 0, 0, SunHours(0, 0, kPolarDay, kPolarDay), 0, 2, "", 0,
                     Hourly(2, 0, 23)},
        LongRunCase{"PolarNightKeepsTheHoursAroundNoon", Hourly(2, 0, 23), 0, 0,
                     SunHours(-1, 1, kPolarNight, kPolarNight), 0, 2, "", 0, Hourly(2, 11, 13)},
        // Daily times: each day the still nearest to each time, within the tolerance.
        LongRunCase{"SeveralTimesOnEachDay", Hourly(2, 0, 23), 0, 0, {}, 1, 2, " 15:00, 9:00,,15:00 ", 30,
                  {Hm(0, 9), Hm(0, 15), Hm(1, 9), Hm(1, 15)}},
        LongRunCase{"WhatIsNoClockTimeGivesNoFrame", Hourly(1, 0, 23), 0, 0, {}, 1, 2, "24:00,12:60,12:0,:30,1:2:3:4,noon,13:00:00",
                  0, {Hm(0, 13)}},
        LongRunCase{"SecondsCount", {Hm(0, 11, 59), Hm(0, 12, 1)}, 0, 0, {}, 1, 2, "12:00:50", 0.5, {Hm(0, 12, 1)}},
        LongRunCase{"ToleranceEndIsIn", {Hm(0, 11, 30), Hm(0, 12, 45)}, 0, 0, {}, 1, 2, "12:00", 30, {Hm(0, 11, 30)}},
        LongRunCase{"JustPastTheToleranceIsOut", {Hm(0, 11, 29), Hm(0, 12, 31)}, 0, 0, {}, 1, 2, "12:00", 30, {}},
        LongRunCase{"ATieGoesToTheLaterStill", {Hm(0, 11, 50), Hm(0, 12, 10)}, 0, 0, {}, 1, 2, "12:00", 30, {Hm(0, 12, 10)}},
        LongRunCase{"ADayWithoutAStillGivesNoFrame", {Hm(0, 12), Hm(1, 8), Hm(2, 12, 5)}, 0, 0, {}, 1, 2, "12:00", 30,
                  {Hm(0, 12), Hm(2, 12, 5)}},
        LongRunCase{"NearMidnightTheStillOfTheDayBefore", {Hm(0, 12), Hm(0, 23, 50)}, 0, 0, {}, 1, 2, "00:10", 30,
                  {Hm(0, 23, 50)}},
        // Clock times are local: on the day the clocks went forward, noon is the local noon.
        LongRunCase{"LocalNoonOnTheDayOfTheClockChange", {Hm(1, 11), Hm(1, 12), Hm(1, 13)}, 60, 0, {}, 1, 2, "12:00", 30,
                  {Hm(1, 12)}},
        LongRunCase{"DailyTimesWithinTheHoursOfEachDay", Hourly(2, 0, 23), 0, 0, Clock(10, 14), 1, 2, "09:00,12:00", 30,
                    {Hm(0, 12), Hm(1, 12)}}),
    [](const auto& p) { return std::string(p.param.name); });

// Ten days of hourly stills (239 hours), or ten noons at 24 frames a second.
TEST(MovieLength, ChoosesTheRateOfTheNearestLength) {
  const struct {
    const char* times;
    double seconds;
    int fps;
    size_t frames;
  } cases[] = {{"", 2, 24, 48}, {"", 10, 24, 240}, {"", 1000, 24, 480},  // every still twice: the most there is
               {"12:00", 1, 10, 10}, {"12:00", 3, 3, 10}, {"12:00", 4.5, 2, 10} /* 5 s nearer than 3.3 s */,
               {"12:00", 100, 1, 10}, {"12:00", 0.1, 60, 10}};
  const ImageList list = ListOf(Hourly(10, 0, 23));
  for (const auto& c : cases) {
    SelectionInputs in{.image_interval_option = 0, .images_per_hour = 60, .duplicate_count = 2, .daily_times = {},
                       .daily_tolerance = 0};
    ParseDailyTimes(c.times, in.daily_times);
    NullHost host;
    const LengthChoice choice = ChooseForLength(c.seconds, 24, in, list, StageReport{host});
    EXPECT_EQ(choice.fps, c.fps) << c.seconds;
    EXPECT_NEAR(static_cast<double>(choice.frames), static_cast<double>(c.frames), 1) << c.seconds;
    in.image_interval_option = 1;  // the choice is what the selection then gives
    if (in.daily_times.empty()) in.images_per_hour = choice.images_per_hour;
    EXPECT_EQ(Select(in, list).size(), choice.frames) << c.seconds;
  }
}

}  // namespace
}  // namespace chronoreel
