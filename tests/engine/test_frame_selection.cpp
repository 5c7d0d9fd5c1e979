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
        WindowCase{"BothEndsYesterdayStillPlayBackwards", 2, 2, 1, 1, [](Sun&) { return At(6 - 24); },
                   [](Sun&) { return At(18 - 24); }, -1, -1, -1},
        WindowCase{"StopTomorrowMorning", 2, 2, 1, 1, [](Sun&) { return At(18); },
                   [](Sun&) { return At(6 + 24); }, 1, 0, 1},
        WindowCase{"DaysMoveOnlyTodayAt", 4, 1, 1, 1, [](Sun& s) { return kDay + s.Sunrise() - 1.5 / 24; },
                   [](Sun&) { return At(17.5); }, 1, -3, -3}),
    [](const auto& p) { return std::string(p.param.name); });

// Midnight sun: sunrise 00:00 and sunset 23:59:59, so the window spans the day. Polar
// night: both are the sun's highest point, 13:03 at 13.4 E in summer time.
TEST(WindowSunTest, PolarDayAndNightGiveWholeDayAndNoon) {
  const double noon = 13.05 / 24;
  const struct { double latitude; double sunrise, sunset, slack; } cases[] = {
      {78.0, 0, 86399.0 / 86400, 1e-9},
      {-78.0, noon, noon, 3.0 / 1440},
  };
  for (const auto& c : cases) {
    ProgramState state;
    state.location = {c.latitude, 13.4};
    Sun sun(state.location, [] { return kRun; }, [] { return -2.0; });
    NullHost host;
    MovieGen gen(state, sun, host);
    gen.SetRunTime(kRun);
    gen.SetStartTimeOption(4);
    gen.SetStartTimeSunriseRelative(-1.5);
    gen.SetStopTimeOption(5);
    gen.SetStopTimeSunsetRelative(2);
    gen.ComputeWindow();
    EXPECT_NEAR(gen.WindowStart(), kDay + c.sunrise - 1.5 / 24, c.slack) << c.latitude;
    EXPECT_NEAR(gen.WindowStop(), kDay + c.sunset + 2.0 / 24, c.slack) << c.latitude;
  }
}

// ---- runs over many days: hours of each day, daily times, a wanted length ----

// Stills in minutes from midnight of 30 March 2024; the clocks of Europe went forward the
// next night at 02:00 and back on 27 October.
const DateTime kFirstDay = DateTimeFromCivil(2024, 3, 30).value();
constexpr int kDayMinutes = 24 * 60;

int Hm(int day, int hour, int minute = 0) { return day * kDayMinutes + hour * 60 + minute; }

// Stills from `first` to `last` every `step` minutes, each day only from `from` to `to` hours.
std::vector<int> EveryDay(int days, int from, int to, int step, int minute = 0) {
  std::vector<int> v;
  for (int d = 0; d < days; ++d) {
    for (int m = from * 60 + minute; m <= to * 60 + minute && m < kDayMinutes; m += step) v.push_back(Hm(d, 0, m));
  }
  return v;
}

std::vector<int> Without(std::vector<int> v, int from, int to) {
  std::erase_if(v, [&](int m) { return m >= from && m <= to; });
  return v;
}

// The list a scan would give: local times, and moments `shift` minutes behind them from the
// still `shift_from` on (a modified time counted in Universal Time across a clock change).
ImageList ListOf(const std::vector<int>& minutes, int shift = 0, size_t shift_from = 0) {
  ImageList list;
  for (size_t i = 0; i < minutes.size(); ++i) {
    list.paths.push_back(std::to_string(minutes[i]));
    list.times.push_back(kFirstDay + minutes[i] / 1440.0);
    list.moments.push_back(kFirstDay + (minutes[i] - (i >= shift_from ? shift : 0)) / 1440.0);
  }
  return list;
}

std::vector<int> MinutesOf(const std::vector<DateTime>& times) {
  std::vector<int> v;
  for (DateTime t : times) v.push_back(static_cast<int>(std::lround((t - kFirstDay) * 1440)));
  return v;
}

struct DayHoursCase {
  const char* name;
  std::vector<int> stills;
  int shift;  // minutes the moments lie behind the local times, from the still shift_from on
  size_t shift_from;
  DayHours hours;
  double images_per_hour;  // 0: every still kept
  int duplicate_count;
  std::vector<int> frames;
};

class DayHoursTest : public ::testing::TestWithParam<DayHoursCase> {};

TEST_P(DayHoursTest, KeepsTheHoursAndRunsTheSlotsOverThemOnly) {
  const DayHoursCase& c = GetParam();
  const ImageList kept = KeepDayHours(c.hours, ListOf(c.stills, c.shift, c.shift_from));
  ASSERT_EQ(kept.moments.size(), kept.times.size());
  EXPECT_TRUE(std::is_sorted(kept.moments.begin(), kept.moments.end()));
  NullHost host;
  FrameList frames;
  const SelectionInputs in{.image_interval_option = c.images_per_hour > 0 ? 1 : 0,
                           .images_per_hour = c.images_per_hour,
                           .duplicate_count = c.duplicate_count,
                           .daily_times = {}};
  SelectFrames(in, kept, frames, StageReport{host});
  EXPECT_EQ(MinutesOf(frames.times), c.frames);
}

// Clock times as a fraction of a day.
constexpr double H(double hours) { return hours / 24; }

DayHours ClockHours(double start, double stop) { return {1, H(start), H(stop), 0, 0, nullptr}; }

std::vector<int> Twice(std::vector<int> v, std::initializer_list<int> doubled) {
  for (int m : doubled) v.insert(std::find(v.begin(), v.end(), m), m);
  return v;
}

SunTimes kPolarDay{0, 86399.0 / 86400};
SunTimes kPolarNight{H(12), H(12)};

INSTANTIATE_TEST_SUITE_P(
    Edges, DayHoursTest,
    ::testing::Values(
        // Without the hours, each night's gap would be filled with repeats.
        DayHoursCase{"NightsLeaveNoRepeatedFrames", EveryDay(2, 0, 23, 60, 30), 0, 0, ClockHours(7, 17), 1, 100000,
                     EveryDay(2, 7, 16, 60, 30)},
        DayHoursCase{"EndsAreKept", EveryDay(1, 0, 23, 60), 0, 0, ClockHours(7, 9), 0, 2,
                     {Hm(0, 7), Hm(0, 8), Hm(0, 9)}},
        DayHoursCase{"StartAfterStopWrapsPastMidnight", EveryDay(2, 0, 23, 60), 0, 0, ClockHours(22, 2), 0, 2,
                     {Hm(0, 0), Hm(0, 1), Hm(0, 2), Hm(0, 22), Hm(0, 23), Hm(1, 0), Hm(1, 1), Hm(1, 2), Hm(1, 22),
                      Hm(1, 23)}},
        DayHoursCase{"WrappedNightsRunOnWithoutGap", EveryDay(2, 0, 23, 60, 30), 0, 0, ClockHours(22, 2), 1, 100000,
                     {Hm(0, 0, 30), Hm(0, 1, 30), Hm(0, 22, 30), Hm(0, 23, 30), Hm(1, 0, 30), Hm(1, 1, 30),
                      Hm(1, 22, 30), Hm(1, 23, 30)}},
        DayHoursCase{"EqualStartAndStopKeepTheWholeDay", {Hm(0, 0), Hm(0, 12), Hm(0, 23, 59)}, 0, 0,
                     ClockHours(6, 6), 0, 2, {Hm(0, 0), Hm(0, 12), Hm(0, 23, 59)}},
        // A day without stills keeps its hours: the gap is filled up to the repeat limit.
        DayHoursCase{"ADayWithoutStills", Without(EveryDay(3, 7, 16, 60, 30), Hm(1, 0), Hm(2, 0) - 1), 0, 0,
                     ClockHours(7, 17), 1, 2,
                     Twice(Without(EveryDay(3, 7, 16, 60, 30), Hm(1, 0), Hm(2, 0) - 1), {Hm(0, 16, 30), Hm(2, 7, 30)})},
        // Moments in Universal Time: the clocks go forward at 02:00 inside the kept night.
        DayHoursCase{"ClocksForwardInsideTheKeptHours",
                     {Hm(0, 22, 30), Hm(0, 23, 30), Hm(1, 0, 30), Hm(1, 1, 30), Hm(1, 3, 30), Hm(1, 4, 30)}, 60,
                     4, ClockHours(22, 6), 1, 2,
                     {Hm(0, 22, 30), Hm(0, 23, 30), Hm(1, 0, 30), Hm(1, 1, 30), Hm(1, 3, 30), Hm(1, 4, 30)}},
        // Back: 02:00 to 03:00 comes twice, the second time an hour later in real time.
        DayHoursCase{"ClocksBackInsideTheKeptHours",
                     {Hm(0, 0, 30), Hm(0, 1, 30), Hm(0, 2, 30), Hm(0, 2, 30), Hm(0, 3, 30), Hm(0, 4, 30)}, -60,
                     3, ClockHours(0, 6), 1, 1,
                     {Hm(0, 0, 30), Hm(0, 1, 30), Hm(0, 2, 30), Hm(0, 2, 30), Hm(0, 3, 30), Hm(0, 4, 30)}},
        DayHoursCase{"EachDayItsOwnSunrise", EveryDay(2, 0, 23, 60), 0, 0,
                     {2, 0, 0, 0.5, -0.5,
                      [](DateTime day) {
                        return day == kFirstDay ? SunTimes{H(6), H(9)} : SunTimes{H(5.5), H(8)};
                      }},
                     0, 2, {Hm(0, 7), Hm(0, 8), Hm(1, 6), Hm(1, 7)}},
        DayHoursCase{"SunriseMovedBackIntoThePreviousDay", EveryDay(2, 0, 23, 60), 0, 0,
                     {2, 0, 0, -3, -10, [](DateTime) { return SunTimes{H(2), H(12.5)}; }}, 0, 2,
                     {Hm(0, 0), Hm(0, 1), Hm(0, 2), Hm(0, 23), Hm(1, 0), Hm(1, 1), Hm(1, 2), Hm(1, 23)}},
        DayHoursCase{"PolarDayKeepsTheWholeDay", EveryDay(2, 0, 23, 60), 0, 0,
                     {2, 0, 0, 0, 0, [](DateTime) { return kPolarDay; }}, 0, 2, EveryDay(2, 0, 23, 60)},
        DayHoursCase{"PolarNightKeepsHoursAroundNoon", EveryDay(2, 0, 23, 60), 0, 0,
                     {2, 0, 0, -1, 1, [](DateTime) { return kPolarNight; }}, 0, 2,
                     {Hm(0, 11), Hm(0, 12), Hm(0, 13), Hm(1, 11), Hm(1, 12), Hm(1, 13)}},
        DayHoursCase{"PolarNightWithoutHoursKeepsOnlyNoon", EveryDay(1, 0, 23, 60, 30), 0, 0,
                     {2, 0, 0, 0, 0, [](DateTime) { return kPolarNight; }}, 0, 2, {}}),
    [](const auto& p) { return std::string(p.param.name); });

// The sun of the program's location, day by day: at 78 degrees north the June days keep
// every still and the December days none.
TEST(DayHoursSunTest, MidnightSunAndPolarNightFromTheLocation) {
  ProgramState state;
  state.location = {78.0, 15.6};
  Sun sun(state.location, [] { return kFirstDay; }, [] { return -1.0; });
  NullHost host;
  MovieGen gen(state, sun, host);
  gen.SetDayHoursOption(2);
  const struct {
    int month;
    size_t kept;
  } cases[] = {{6, 48}, {12, 0}};
  for (const auto& c : cases) {
    ImageList list;
    for (int h = 0; h < 48; ++h) {
      list.paths.push_back("x");
      list.times.push_back(DateTimeFromCivil(2024, c.month, 10).value() + (h + 0.5) / 24);
    }
    EXPECT_EQ(KeepDayHours(gen.DayHoursInputs(), list).times.size(), c.kept) << c.month;
  }
}

TEST(DailyTimesText, ReadsClockTimesAndFlagsTheRest) {
  const struct {
    const char* text;
    bool valid;
    std::vector<double> times;
  } cases[] = {
      {"12:00", true, {H(12)}},
      {" 09:00, 12:00,15:00 ", true, {H(9), H(12), H(15)}},
      {"15:00,09:00,15:00", true, {H(9), H(15)}},
      {"9:05,12:00:30", true, {(9 * 60 + 5) / 1440.0, (12 * 3600 + 30) / 86400.0}},
      {"00:00,23:59", true, {0, (23 * 60 + 59) / 1440.0}},
      {"12:00,,13:00", true, {H(12), H(13)}},
      {"", true, {}},
      {"24:00", false, {}},
      {"12:60,13:00", false, {H(13)}},
      {"noon", false, {}},
      {"12:0", false, {}},
      {":30", false, {}},
      {"12:00:00:00", false, {}},
      {"123:00", false, {}},
  };
  for (const auto& c : cases) {
    std::vector<double> times;
    EXPECT_EQ(ParseDailyTimes(c.text, times), c.valid) << c.text;
    ASSERT_EQ(times.size(), c.times.size()) << c.text;
    for (size_t i = 0; i < times.size(); ++i) EXPECT_NEAR(times[i], c.times[i], 1e-12) << c.text;
  }
}

struct DailyCase {
  const char* name;
  std::vector<int> stills;
  int shift;  // as in DayHoursCase: moments in Universal Time
  size_t shift_from;
  const char* times;
  double tolerance_minutes;
  int window_start;  // minutes; start and stop equal: no window
  int window_stop;
  std::vector<int> frames;
};

class DailyTimesTest : public ::testing::TestWithParam<DailyCase> {};

TEST_P(DailyTimesTest, EachDayGivesTheNearestStillToEachTime) {
  const DailyCase& c = GetParam();
  SelectionInputs in{.time_option = c.window_start != c.window_stop ? 1 : 0,
                     .image_interval_option = 1,  // the daily times replace the slots
                     .images_per_hour = 60,
                     .duplicate_count = 2,
                     .window_start = kFirstDay + c.window_start / 1440.0,
                     .window_stop = kFirstDay + c.window_stop / 1440.0,
                     .daily_times = {},
                     .daily_tolerance = c.tolerance_minutes / 1440};
  ParseDailyTimes(c.times, in.daily_times);
  NullHost host;
  FrameList frames;
  const SelectionEnd end = SelectFrames(in, ListOf(c.stills, c.shift, c.shift_from), frames, StageReport{host});
  EXPECT_EQ(end, c.frames.empty() ? SelectionEnd::NoFrames : SelectionEnd::Selected);
  EXPECT_EQ(MinutesOf(frames.times), c.frames);
}

INSTANTIATE_TEST_SUITE_P(
    Edges, DailyTimesTest,
    ::testing::Values(
        DailyCase{"NoonOfEachDay", EveryDay(3, 0, 23, 10), 0, 0, "12:00", 30, 0, 0,
                  {Hm(0, 12), Hm(1, 12), Hm(2, 12)}},
        DailyCase{"SeveralTimesInOrder", EveryDay(2, 0, 23, 10), 0, 0, "15:00,09:00", 30, 0, 0,
                  {Hm(0, 9), Hm(0, 15), Hm(1, 9), Hm(1, 15)}},
        DailyCase{"ToleranceEndIsIn", {Hm(0, 11, 30), Hm(0, 12, 45)}, 0, 0, "12:00", 30, 0, 0, {Hm(0, 11, 30)}},
        DailyCase{"JustPastTheToleranceIsOut", {Hm(0, 11, 29), Hm(0, 12, 31)}, 0, 0, "12:00", 30, 0, 0, {}},
        DailyCase{"ATieGoesToTheLaterStill", {Hm(0, 11, 50), Hm(0, 12, 10)}, 0, 0, "12:00", 30, 0, 0,
                  {Hm(0, 12, 10)}},
        DailyCase{"NoToleranceNeedsTheExactMinute", {Hm(0, 11, 59), Hm(0, 12), Hm(1, 12, 1)}, 0, 0, "12:00", 0, 0,
                  0, {Hm(0, 12)}},
        DailyCase{"ADayWithoutAStillGivesNoFrame", {Hm(0, 12), Hm(1, 8), Hm(2, 12, 5)}, 0, 0, "12:00", 30, 0, 0,
                  {Hm(0, 12), Hm(2, 12, 5)}},
        DailyCase{"NearMidnightTheStillOfTheDayBefore", {Hm(0, 12), Hm(0, 23, 50)}, 0, 0, "00:10", 30, 0, 0,
                  {Hm(0, 23, 50)}},
        // Clock times are local: on the day the clocks went forward, noon is the local noon.
        DailyCase{"LocalNoonOnTheDayOfTheClockChange", {Hm(1, 11), Hm(1, 12), Hm(1, 13)}, 60, 0, "12:00",
                  30, 0, 0, {Hm(1, 12)}},
        DailyCase{"OnlyInsideTheWindow", EveryDay(3, 0, 23, 60), 0, 0, "12:00", 30, Hm(1, 0), Hm(2, 12) - 1,
                  {Hm(1, 12)}}),
    [](const auto& p) { return std::string(p.param.name); });

struct LengthCase {
  const char* name;
  std::vector<int> stills;
  const char* times;  // daily times; "" for frames per hour
  double seconds;
  int fps;
  int chosen_fps;
  size_t frames;  // the frames the choice gives (give or take one with frames per hour)
};

class MovieLengthTest : public ::testing::TestWithParam<LengthCase> {};

TEST_P(MovieLengthTest, ChoosesTheNearestLength) {
  const LengthCase& c = GetParam();
  SelectionInputs in{.image_interval_option = 0, .images_per_hour = 60, .duplicate_count = 2, .daily_times = {}};
  ParseDailyTimes(c.times, in.daily_times);
  in.daily_tolerance = 30.0 / 1440;
  NullHost host;
  const ImageList list = ListOf(c.stills);
  const LengthChoice choice = ChooseForLength(c.seconds, c.fps, in, list, StageReport{host});
  EXPECT_EQ(choice.end, SelectionEnd::Selected);
  EXPECT_EQ(choice.fps, c.chosen_fps);
  EXPECT_NEAR(static_cast<double>(choice.frames), static_cast<double>(c.frames), in.daily_times.empty() ? 1 : 0);
  // The choice is what the selection then gives.
  if (in.daily_times.empty()) {
    in.image_interval_option = 1;
    in.images_per_hour = choice.images_per_hour;
  }
  FrameList frames;
  SelectFrames(in, list, frames, StageReport{host});
  EXPECT_EQ(frames.times.size(), choice.frames);
}

INSTANTIATE_TEST_SUITE_P(
    Lengths, MovieLengthTest,
    ::testing::Values(
        // Ten days of stills every ten minutes from 00:00 to 23:00: 239 hours.
        LengthCase{"BelowOneFramePerHour", EveryDay(10, 0, 23, 10), "", 2, 24, 24, 48},
        LengthCase{"SeveralFramesPerHour", EveryDay(10, 0, 23, 10), "", 20, 24, 24, 480},
        // Longer than every still twice over (1390 stills): the most there is.
        LengthCase{"LongerThanTheStillsAllow", EveryDay(10, 0, 23, 10), "", 1000, 24, 24, 2780},
        // Thirty noons: 30 frames.
        LengthCase{"DailyRateExact", EveryDay(30, 12, 12, 60), "12:00", 2, 24, 15, 30},
        LengthCase{"DailyRateNearest", EveryDay(30, 12, 12, 60), "12:00", 7, 24, 4, 30},
        LengthCase{"DailyRateAtLeastOne", EveryDay(30, 12, 12, 60), "12:00", 100, 24, 1, 30},
        LengthCase{"DailyRateAtMostSixty", EveryDay(30, 12, 12, 60), "12:00", 0.1, 24, 60, 30}),
    [](const auto& p) { return std::string(p.param.name); });

// Through the settings: the hours, the daily times and the length as a run takes them.
TEST_F(SelectionTest, ALengthWithDailyTimesSetsTheRunRateAndSaysSo) {
  MakeStills(Every(600, 3 * 3600));
  gen.SetDailyTimes("13:00,14:00,nonsense");
  gen.SetDailyToleranceMinutes(5);
  gen.SetMovieSeconds(1);
  EXPECT_EQ(gen.SelectFrames(), Selection::Selected);
  EXPECT_EQ(FrameOffsets(), (std::vector<int>{3600, 7200}));
  EXPECT_EQ(gen.RunFPS(), 2);
  EXPECT_EQ(gen.LengthNote(), "Wanted length 1 s: 2 frames at 2 frames per second");

  gen.SetDailyTimes("nonsense");  // no clock time at all: no movie of every still instead
  EXPECT_EQ(gen.SelectFrames(), Selection::NoFrames);
  EXPECT_EQ(gen.RunFPS(), 24);

  gen.SetDailyTimes("");
  gen.SetDayHoursOption(1);
  gen.SetDayHoursStart(12.5 / 24);
  gen.SetDayHoursStop(13.5 / 24);
  gen.SetMovieSeconds(0);
  EXPECT_EQ(gen.SelectFrames(), Selection::Selected);
  EXPECT_EQ(FrameOffsets(), (std::vector<int>{1800, 2400, 3000, 3600, 4200, 4800, 5400}));
}

}  // namespace
}  // namespace chronoreel
