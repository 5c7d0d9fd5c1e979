// The image list: which directory entries become stills, their times, and the sort.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "app/core/host.h"
#include "app/core/program_state.h"
#include "engine/movie_gen.h"
#include "support/fake_host.h"
#include "support/test_files.h"
#include "time/date_time.h"
#include "time/sun.h"
#include "time/time_zone_guard.h"

namespace chronoreel {
namespace {

namespace fs = std::filesystem;

void Touch(const std::string& path) { std::ofstream(path).put('x'); }

class ImageListTest : public ::testing::Test {
 protected:
  ImageListTest() {
    gen.SetStillDirectory(dir.Str());
    gen.SetImageFilter("*.jpg");
  }

  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto& p : gen.ImagePaths()) names.push_back(fs::path(p).filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  // The scan reports to `windows`; a cancel there cancels the run.
  void AttachWindow() {
    gen.SetProgressWindow(windows.CreateProgressWindow([this] { gen.SetCancelMovie(true); }));
  }

  TempDir dir{"chronoreel-images"};
  ProgramState state;
  Sun sun{state.location, [] { return 45000.5; }, [] { return 0.0; }};
  FakeHost windows;  // outlives the window it gives to gen
  NullHost host;
  MovieGen gen{state, sun, host};
};

// ---- the gap table ----

TEST(ShellSeqTest, GapsAreSedgewicks1986Increments) {
  int32_t gaps[29] = {};
  MovieGen::ShellSeq(gaps, 1'000'000'000);
  const std::vector<int32_t> expected = {1,    5,    19,   41,    109,   209,   505,  929,
                                         2161, 3905, 8929, 16001, 36289, 64769, 146305};
  for (size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(gaps[i], expected[i]) << i;
}

TEST(ShellSeqTest, StartsWithTheLargestGapWhoseTripleIsBelowN) {
  struct Case {
    int32_t n;
    int32_t first_gap;
  };
  const std::vector<Case> cases = {{1, 1},      {2, 1},      {15, 1},     {16, 5},     {57, 5},
                                   {58, 19},    {123, 19},   {124, 41},   {327, 41},   {328, 109},
                                   {627, 109},  {628, 209},  {1516, 505}, {2788, 929}, {6484, 2161},
                                   {6483, 929}, {200000, 64769}};
  for (const auto& c : cases) {
    int32_t gaps[29] = {};
    const int32_t s = MovieGen::ShellSeq(gaps, c.n);
    ASSERT_GE(s, 0) << c.n;
    EXPECT_EQ(gaps[s], c.first_gap) << "n = " << c.n;
  }
}

// ---- which entries are stills ----

struct PatternCase {
  const char* pattern;
  std::vector<std::string> expected;
};

class PatternTest : public ImageListTest, public ::testing::WithParamInterface<PatternCase> {};

TEST_P(PatternTest, ListsMatchingRegularVisibleFilesOnly) {
  for (const char* name : {"a.jpg", "B.JPG", "c.jpeg", "notes.txt", ".hidden.jpg", "ab.Jpg"}) {
    Touch(dir.File(name));
  }
  fs::create_directory(dir.File("folder.jpg"));
  fs::create_symlink(dir.File("missing.jpg"), dir.File("dangling.jpg"));
  gen.SetImageFilter(GetParam().pattern);
  gen.GetFileSpecs();
  EXPECT_EQ(Names(), GetParam().expected);
  EXPECT_EQ(gen.ImagePaths().size(), gen.ImageTimes().size());
}

INSTANTIATE_TEST_SUITE_P(
    Patterns, PatternTest,
    ::testing::Values(PatternCase{"*.jpg", {"B.JPG", "a.jpg", "ab.Jpg"}},
                      PatternCase{"*.JPG", {"B.JPG", "a.jpg", "ab.Jpg"}},
                      PatternCase{"?.jpg", {"B.JPG", "a.jpg"}},
                      PatternCase{"a*", {"a.jpg", "ab.Jpg"}},
                      PatternCase{"*", {"B.JPG", "a.jpg", "ab.Jpg", "c.jpeg", "notes.txt"}},
                      PatternCase{"*.jp*g", {"B.JPG", "a.jpg", "ab.Jpg", "c.jpeg"}},
                      PatternCase{"c.jp?g", {"c.jpeg"}}, PatternCase{"*.png", {}},
                      PatternCase{"", {}}, PatternCase{"a.jpg*", {"a.jpg"}}));

TEST_F(ImageListTest, DirectoryWithAndWithoutTrailingSlashGivesTheSamePaths) {
  Touch(dir.File("x.jpg"));
  for (const std::string& directory : {dir.Str(), dir.Str() + "/"}) {
    gen.SetStillDirectory(directory);
    gen.GetFileSpecs();
    ASSERT_EQ(gen.ImagePaths().size(), 1u) << directory;
    EXPECT_EQ(gen.ImagePaths()[0], dir.Str() + "/x.jpg") << directory;
  }
}

TEST_F(ImageListTest, EmptyDirectoryNameScansTheCurrentDirectoryWithBareNames) {
  Touch(dir.File("x.jpg"));
  const fs::path before = fs::current_path();
  fs::current_path(dir.Path());
  gen.SetStillDirectory("");
  gen.GetFileSpecs();
  fs::current_path(before);
  EXPECT_EQ(gen.ImagePaths(), std::vector<std::string>{"x.jpg"});
}

TEST_F(ImageListTest, MissingOrEmptyDirectoryGivesAnEmptyListAndStillReportsTheSort) {
  AttachWindow();
  for (const std::string& directory : {dir.File("absent"), dir.Str()}) {
    windows.log.clear();
    gen.SetStillDirectory(directory);
    gen.GetFileSpecs();
    EXPECT_TRUE(gen.ImagePaths().empty()) << directory;
    EXPECT_TRUE(gen.ImageTimes().empty()) << directory;
    EXPECT_EQ(windows.Statuses(), std::vector<std::string>{"Status: Sorting Files By Date"}) << directory;
    EXPECT_TRUE(windows.Labels().empty());
  }
}

TEST_F(ImageListTest, ModifiedTimesStampAndOrderTheStills) {
  const auto now = fs::file_time_type::clock::now();
  const std::vector<std::pair<std::string, int>> files = {
      {"b.jpg", -3600}, {"c.jpg", -7200}, {"a.jpg", -60}, {"d.jpg", -86400}};
  for (const auto& [name, offset] : files) {
    Touch(dir.File(name));
    fs::last_write_time(dir.File(name), now + std::chrono::seconds(offset));
  }
  gen.GetFileSpecs();
  std::vector<std::string> order;
  for (size_t i = 0; i < gen.ImagePaths().size(); ++i) {
    order.push_back(fs::path(gen.ImagePaths()[i]).filename().string());
    EXPECT_EQ(gen.ImageTimes()[i], FileModifiedTime(gen.ImagePaths()[i]).value());
  }
  EXPECT_EQ(order, (std::vector<std::string>{"d.jpg", "c.jpg", "b.jpg", "a.jpg"}));
}

// The night the clocks go back in Berlin (02:00-03:00 comes twice): stills every ten minutes
// keep the order in which they were taken, show their local times, and thinned to six an
// hour in a window of local times they each give one frame, in order.
TEST_F(ImageListTest, RepeatedHourOfModifiedTimesPlaysOnceInOrder) {
  testing::TimeZoneGuard zone("Europe/Berlin");
  const std::time_t change = DaysFromCivil(2026, 10, 25) * 86400 + 3600;  // 01:00 UT
  std::vector<std::string> taken;
  for (int i = 0; i < 18; ++i) {
    char name[16];
    std::snprintf(name, sizeof name, "s%02d.jpg", i);
    const std::string path = dir.File(name);
    Touch(path);
    const std::time_t t = change - 90 * 60 + i * 600;
    const timespec times[2] = {{t, 0}, {t, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
    taken.push_back(path);
  }
  gen.GetFileSpecs();
  ASSERT_EQ(gen.ImagePaths(), taken);
  for (size_t i = 0; i < taken.size(); ++i) {
    EXPECT_EQ(gen.ImageTimes()[i], FileModifiedTime(taken[i]).value());
  }
  EXPECT_EQ(FormatDateTime(gen.ImageTimes()[9], "HHMMSS"), "020000");  // 02:00 the second time

  const DateTime day = DateTimeFromCivil(2026, 10, 25).value();
  gen.SetTimeOption(1);
  gen.SetStartTimeOption(3);
  gen.SetStartTimeAbsolute(day + 1.0 / 24);
  gen.SetStopTimeOption(3);
  gen.SetStopTimeAbsolute(day + 4.0 / 24);
  gen.SetImageIntervalOption(1);
  gen.SetImagesPerHour(6);
  gen.ComputeWindow();
  ASSERT_EQ(gen.SelectFrames(), MovieGen::Selection::Selected);
  EXPECT_EQ(gen.FramePaths(), taken);
}

// ---- times from the names ----

struct NameCase {
  const char* name;
  // Expected civil time, seconds with fraction; year 0: the still is left out.
  int year, month, day, hour, minute;
  double second;
};

class NameTimeTest : public ImageListTest, public ::testing::WithParamInterface<NameCase> {};

TEST_P(NameTimeTest, DecodesTheNameOrLeavesTheStillOut) {
  const NameCase& c = GetParam();
  Touch(dir.File(c.name));
  gen.SetImageFilter("*");
  gen.SetTimeStampOption(1);
  gen.GetFileSpecs();
  if (c.year == 0) {
    EXPECT_TRUE(gen.ImagePaths().empty()) << c.name;
    return;
  }
  ASSERT_EQ(gen.ImageTimes().size(), 1u) << c.name;
  const DateTime expected =
      DateTimeFromCivil(c.year, c.month, c.day, c.hour, c.minute).value() + c.second / 86400;
  EXPECT_NEAR(gen.ImageTimes()[0], expected, 1e-9) << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    Names, NameTimeTest,
    ::testing::Values(NameCase{"0301021530451.jpg", 2003, 1, 2, 15, 30, 45.1},
                      NameCase{"03010215304525.jpg", 2003, 1, 2, 15, 30, 47.5},
                      NameCase{"030102153045.jpg", 2003, 1, 2, 15, 30, 45.0},
                      NameCase{"030102153045_1.jpg", 2003, 1, 2, 15, 30, 45.0},
                      NameCase{"0301021530451.JPG", 2003, 1, 2, 15, 30, 45.0},
                      NameCase{"030102153045123.jpg", 2003, 1, 2, 15, 30, 45.0},
                      NameCase{"0301021530459.jpg.jpg", 2003, 1, 2, 15, 30, 45.9},
                      NameCase{"0301021530457", 2003, 1, 2, 15, 30, 45.0},
                      NameCase{"2901010000000.jpg", 2029, 1, 1, 0, 0, 0.0},
                      NameCase{"3001010000000.jpg", 1930, 1, 1, 0, 0, 0.0},
                      NameCase{"991231235959.jpg", 1999, 12, 31, 23, 59, 59.0},
                      NameCase{"000229120000.jpg", 2000, 2, 29, 12, 0, 0.0},
                      NameCase{"010229120000.jpg", 0, 0, 0, 0, 0, 0},
                      NameCase{"031301000000.jpg", 0, 0, 0, 0, 0, 0},
                      NameCase{"030100000000.jpg", 0, 0, 0, 0, 0, 0},
                      NameCase{"030101240000.jpg", 0, 0, 0, 0, 0, 0},
                      NameCase{"030101006000.jpg", 0, 0, 0, 0, 0, 0},
                      NameCase{"0301010000.jpg", 0, 0, 0, 0, 0, 0},
                      NameCase{"03-01-01 00.jpg", 0, 0, 0, 0, 0, 0},
                      NameCase{"snapshot.jpg", 0, 0, 0, 0, 0, 0}),
    [](const auto& p) {
      std::string n = p.param.name;
      for (char& ch : n) {
        if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
      }
      return n + "_" + std::to_string(p.index);
    });

// ---- the sort ----

class SortTest : public ImageListTest, public ::testing::WithParamInterface<int> {};

TEST_P(SortTest, SortsPathsTogetherWithTheirTimes) {
  // Stills of one minute with tenths; "…d" and "…0d" name the same moment, so ties occur.
  std::mt19937 rng(static_cast<uint32_t>(GetParam()) * 7919u);
  std::map<std::string, DateTime> expected_time;
  const DateTime day = DateTimeFromCivil(2024, 5, 6).value();
  while (static_cast<int>(expected_time.size()) < GetParam()) {
    const int second = static_cast<int>(rng() % 60), tenth = static_cast<int>(rng() % 10);
    char name[32];
    std::snprintf(name, sizeof name, rng() % 2 ? "2405061200%02d%d.jpg" : "2405061200%02d0%d.jpg",
                  second, tenth);
    expected_time[name] = day + (12 * 3600 + second + tenth / 10.0) / 86400;
    Touch(dir.File(name));
  }
  gen.SetTimeStampOption(1);
  gen.GetFileSpecs();

  std::vector<DateTime> sorted;
  for (const auto& entry : expected_time) sorted.push_back(entry.second);
  std::stable_sort(sorted.begin(), sorted.end());
  ASSERT_EQ(gen.ImageTimes().size(), sorted.size());
  for (size_t i = 0; i < sorted.size(); ++i) {
    EXPECT_NEAR(gen.ImageTimes()[i], sorted[i], 1e-9) << i;
    const std::string name = fs::path(gen.ImagePaths()[i]).filename().string();
    EXPECT_NEAR(gen.ImageTimes()[i], expected_time.at(name), 1e-9) << name;
  }
  EXPECT_TRUE(std::is_sorted(gen.ImageTimes().begin(), gen.ImageTimes().end()));
  // Equal times go by path, whatever order the directory gave them in.
  for (size_t i = 1; i < sorted.size(); ++i) {
    if (gen.ImageTimes()[i - 1] == gen.ImageTimes()[i]) {
      EXPECT_LT(gen.ImagePaths()[i - 1], gen.ImagePaths()[i]) << i;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Sizes, SortTest, ::testing::Values(1, 2, 15, 16, 57, 58, 124, 400));

// ---- progress and cancel ----

TEST_F(ImageListTest, ShowsTheLastNameFoundThenTheSortStatus) {
  for (const char* name : {"a.jpg", "b.jpg", "c.jpg"}) Touch(dir.File(name));
  AttachWindow();
  gen.GetFileSpecs();
  const std::vector<std::string> labels = windows.Labels();
  // The last name the directory gives is the one left on show.
  std::string last_listed;
  for (const auto& entry : fs::directory_iterator(dir.Path())) {
    last_listed = entry.path().filename().string();
  }
  ASSERT_FALSE(labels.empty());
  EXPECT_EQ(labels.back(), "Found: " + last_listed);
  const std::set<std::string> expected_labels = {"Found: a.jpg", "Found: b.jpg", "Found: c.jpg"};
  for (const auto& label : labels) EXPECT_TRUE(expected_labels.count(label)) << label;
  EXPECT_EQ(windows.Statuses(), std::vector<std::string>{"Status: Sorting Files By Date"});
}

TEST_F(ImageListTest, CancelStopsTheScanBeforeTheNextFile) {
  for (int i = 0; i < 40; ++i) Touch(dir.File("still" + std::to_string(i) + ".jpg"));
  AttachWindow();
  windows.CancelOnLabel("", true);  // on the first label
  gen.GetFileSpecs();
  EXPECT_EQ(gen.ImagePaths().size(), 1u);
  EXPECT_EQ(gen.ImageTimes().size(), 1u);
  const std::vector<std::string> labels = windows.Labels();
  ASSERT_FALSE(labels.empty());
  EXPECT_EQ(labels.back(), "Found: " + fs::path(gen.ImagePaths()[0]).filename().string());
}

}  // namespace
}  // namespace chronoreel
