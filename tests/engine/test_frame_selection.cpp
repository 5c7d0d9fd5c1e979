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
  const SelectionInputs in{.image_interval_option = 1, .images_per_hour = 60, .duplicate_count = 2};
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
                   [](Sun&) { return At(6); }, 1}),
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

}  // namespace
}  // namespace chronoreel
