// The dry run: the frames and deletions a run would make, with nothing changed on disk.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "engine/brightness.h"
#include "engine/dry_run.h"
#include "engine/movie_gen.h"
#include "support/fake_host.h"
#include "support/jpeg_maker.h"
#include "support/test_files.h"
#include "time/sun.h"

namespace chronoreel {
namespace {

namespace fs = std::filesystem;

// Every entry under a folder with its bytes and modified time.
std::map<std::string, std::pair<std::vector<uint8_t>, fs::file_time_type>> Snapshot(const fs::path& dir) {
  std::map<std::string, std::pair<std::vector<uint8_t>, fs::file_time_type>> entries;
  for (const auto& e : fs::recursive_directory_iterator(dir)) {
    std::vector<uint8_t> bytes;
    if (e.is_regular_file()) bytes = ReadBytes(e.path().string());
    entries[e.path().string()] = {bytes, fs::last_write_time(e.path())};
  }
  return entries;
}

class DryRunTest : public ::testing::Test {
 protected:
  DryRunTest() : sun_(state_.location), gen_(state_, sun_, host_) {
    fs::create_directory(dir_.File("in"));
    gen_.SetStillDirectory(dir_.File("in"));
    gen_.SetImageFilter("*.jpg");
    gen_.SetTimeStampOption(1);
    gen_.SetOutputAVIPath(dir_.File("cam.avi"));
    gen_.SetPostGenerationShell("touch \"" + dir_.File("ran.txt") + "\" <outfile>");
    gen_.SetClock([] { return *DateTimeFromCivil(2006, 12, 7, 12, 0, 0); });
    state_.cmd.AutomatedRun = true;
    // Stills one hour apart from 02:00 to 11:00 on the run's day, each brighter than the
    // one before: grey 40 at 02:00 to 220 at 11:00.
    for (int h = 2; h <= 11; ++h) {
      char name[32];
      std::snprintf(name, sizeof name, "061207%02d000000.jpg", h);
      WriteFlatJpeg(dir_.File("in/" + std::string(name)), 16, 16, 0x010101u * static_cast<uint32_t>(20 * h));
    }
  }

  TempDir dir_;
  ProgramState state_;
  Sun sun_;
  FakeHost host_;
  MovieGen gen_;
};

struct DryRunCase {
  const char* name;
  int time_option;
  double start_hours_ago;  // "now, minus" start
  bool delete_old;
  float delete_hours;
  MovieGen::DryRunResult::End end;
  size_t frames;
  size_t deletions;
};

class DryRunCases : public DryRunTest, public ::testing::WithParamInterface<DryRunCase> {};

TEST_P(DryRunCases, ReportsWhatARunWouldDoAndChangesNothing) {
  const DryRunCase& c = GetParam();
  gen_.SetTimeOption(c.time_option);
  gen_.SetStartTimeOption(1);
  gen_.SetStartTimeRelative(c.start_hours_ago);
  gen_.SetStopTimeOption(0);
  gen_.SetDeleteOldImages(c.delete_old);
  gen_.SetDeleteOldImagesHours(c.delete_hours);
  const auto before = Snapshot(dir_.Path());

  const MovieGen::DryRunResult r = gen_.DryRun();

  EXPECT_EQ(r.end, c.end);
  EXPECT_EQ(r.stills_found, 10);
  EXPECT_EQ(r.frame_paths.size(), c.frames);
  EXPECT_EQ(r.frame_times.size(), c.frames);
  EXPECT_EQ(r.would_delete.size(), c.deletions);
  EXPECT_EQ(Snapshot(dir_.Path()), before) << "the folder changed";
  EXPECT_FALSE(fs::exists(dir_.File("ran.txt")));
  EXPECT_FALSE(fs::exists(dir_.File("cam.avi")));
}

INSTANTIATE_TEST_SUITE_P(
    Windows, DryRunCases,
    ::testing::Values(
        DryRunCase{"all", 0, 0, false, 0, MovieGen::DryRunResult::End::Frames, 10, 0},
        // 4.5 hours back from 12:00: 08:00 to 11:00.
        DryRunCase{"window", 1, 4.5, false, 0, MovieGen::DryRunResult::End::Frames, 4, 0},
        DryRunCase{"none", 1, 0.5, false, 0, MovieGen::DryRunResult::End::NoFramesInWindow, 0, 0},
        // Older than 6 hours at 12:00: 02:00 to 05:00.
        DryRunCase{"clean-up", 0, 0, true, 6, MovieGen::DryRunResult::End::Frames, 10, 4}),
    [](const auto& p) { return std::string(p.param.name) == "clean-up" ? std::string("cleanup") : std::string(p.param.name); });

TEST_F(DryRunTest, FramesComeInTimeOrderAndTheCommandIsExpanded) {
  gen_.SetPostGenerationShell("touch <outfile> <firstdate><firsttime>-<lastdate><lasttime>");
  // Reversed, the movie still names the hours it shows, earliest first.
  gen_.SetMovieDirection(-1);
  const MovieGen::DryRunResult r = gen_.DryRun();
  ASSERT_EQ(r.frame_paths.size(), 10u);
  // Listed as the movie plays them: the latest first.
  EXPECT_EQ(fs::path(r.frame_paths.front()).filename(), "06120711000000.jpg");
  EXPECT_EQ(fs::path(r.frame_paths.back()).filename(), "06120702000000.jpg");
  EXPECT_EQ(r.command, "touch cam.avi 0612070200-0612071100");
}

// Too dark and too bright stills are measured only where the window lets stills through,
// and left out before the selection.
struct BrightnessCase {
  const char* name;
  int time_option;
  double start_hours_ago;
  int dark_below;
  int bright_above;
  MovieGen::DryRunResult::End end;
  size_t frames;
  int dark;
  int bright;
};

class BrightnessCases : public DryRunTest, public ::testing::WithParamInterface<BrightnessCase> {};

TEST_P(BrightnessCases, LeavesOutTheStillsBeyondTheLimits) {
  const BrightnessCase& c = GetParam();
  gen_.SetTimeOption(c.time_option);
  gen_.SetStartTimeOption(1);
  gen_.SetStartTimeRelative(c.start_hours_ago);
  gen_.SetStopTimeOption(0);
  gen_.SetSkipDarkBelow(c.dark_below);
  gen_.SetSkipBrightAbove(c.bright_above);
  const MovieGen::DryRunResult r = gen_.DryRun();
  EXPECT_EQ(r.end, c.end);
  EXPECT_EQ(r.frame_paths.size(), c.frames);
  EXPECT_EQ(r.skipped_dark, c.dark);
  EXPECT_EQ(r.skipped_bright, c.bright);
}

INSTANTIATE_TEST_SUITE_P(
    Limits, BrightnessCases,
    ::testing::Values(
        BrightnessCase{"Off", 0, 0, 0, 255, MovieGen::DryRunResult::End::Frames, 10, 0, 0},
        BrightnessCase{"Dark", 0, 0, 90, 255, MovieGen::DryRunResult::End::Frames, 7, 3, 0},
        BrightnessCase{"Bright", 0, 0, 0, 190, MovieGen::DryRunResult::End::Frames, 8, 0, 2},
        BrightnessCase{"Both", 0, 0, 90, 190, MovieGen::DryRunResult::End::Frames, 5, 3, 2},
        // 08:00 to 11:00 (160 to 220): the dark stills before the window are not measured.
        BrightnessCase{"InsideTheWindowOnly", 1, 4.5, 90, 170, MovieGen::DryRunResult::End::Frames, 1, 0, 3},
        BrightnessCase{"NothingLeft", 0, 0, 255, 255, MovieGen::DryRunResult::End::NoFramesInWindow, 0, 10, 0}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(DryRunTest, StillsThatDoNotDecodeAreLeftForTheSelection) {
  std::vector<uint8_t> cut = MakeFlatJpeg(64, 64, 0x101010);
  cut.resize(cut.size() / 2);
  WriteBytes(dir_.File("in/06120711300000.jpg"), cut);
  WriteBytes(dir_.File("in/06120711400000.jpg"), std::vector<uint8_t>{'n', 'o', 't'});
  gen_.SetSkipDarkBelow(255);
  const MovieGen::DryRunResult r = gen_.DryRun();
  EXPECT_EQ(r.skipped_dark, 10);
  ASSERT_EQ(r.frame_paths.size(), 2u);
  EXPECT_EQ(fs::path(r.frame_paths[0]).filename(), "06120711300000.jpg");
}

// The mean luma of a 1/8-scale decode, whatever the subsampling and size.
TEST(MeanLumaTest, MeasuresTheMeanOfTheLuma) {
  TempDir dir;
  const struct {
    std::vector<uint8_t> jpeg;
    double mean;
  } cases[] = {
      {MakeFlatJpeg(16, 16, 0x000000), 0},
      {MakeFlatJpeg(64, 48, 0x282828, {90, JpegSubsampling::k420}), 40},
      {MakeFlatJpeg(13, 7, 0xC8C8C8, {90, JpegSubsampling::kGray}), 200},
      {MakeFlatJpeg(32, 32, 0xFFFFFF), 255},
      {MakeSplitJpeg(64, 64, 0x000000, 0xFFFFFF), 127.5},
      // Pure red: luma 0.299 * 255.
      {MakeFlatJpeg(32, 32, 0xFF0000), 76.2},
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    const std::string path = dir.File(std::to_string(i) + ".jpg");
    WriteBytes(path, cases[i].jpeg);
    const std::optional<double> mean = MeanLuma(path);
    ASSERT_TRUE(mean.has_value()) << i;
    EXPECT_NEAR(*mean, cases[i].mean, 2.0) << i;
  }
  EXPECT_FALSE(MeanLuma(dir.File("missing.jpg")).has_value());
}

// Many workers over one list: every still counted once, the order kept.
TEST(SkipDarkAndBrightTest, WorkersShareTheListWithoutLosingAStill) {
  TempDir dir;
  const std::string dark = WriteFlatJpeg(dir.File("dark.jpg"), 16, 16, 0x101010);
  const std::string light = WriteFlatJpeg(dir.File("light.jpg"), 16, 16, 0xE0E0E0);
  ImageList list;
  for (int i = 0; i < 1001; ++i) {
    list.paths.push_back(i % 3 == 0 ? dark : light);
    list.times.push_back(i);
    list.moments.push_back(i);
  }
  NullHost host;
  for (const int workers : {1, 2, 7}) {
    const std::optional<BrightnessPass> pass =
        SkipDarkAndBright({.dark_below = 50, .workers = workers}, list, StageReport{host});
    ASSERT_TRUE(pass.has_value());
    EXPECT_EQ(pass->measured, 1001) << workers;
    EXPECT_EQ(pass->dark, 334) << workers;
    ASSERT_EQ(pass->kept.paths.size(), 667u) << workers;
    EXPECT_TRUE(std::is_sorted(pass->kept.times.begin(), pass->kept.times.end())) << workers;
    EXPECT_EQ(pass->kept.moments, pass->kept.times) << workers;
  }
}

// The listing says how the window, the hours of each day, the daily times and a wanted
// length shaped the selection, also when nothing was selected.
TEST_F(DryRunTest, ListsHowTheSelectionWasShaped) {
  const struct {
    std::function<void(MovieGen&)> set;
    size_t frames;
    std::vector<std::string> notes;
  } cases[] = {
      {[](MovieGen& g) { g.SetDayHoursOption(1), g.SetDayHoursStart(7.0 / 24), g.SetDayHoursStop(9.5 / 24); }, 3,
       {"Hours of each day: 07:00 to 09:30"}},
      {[](MovieGen& g) { g.SetTimeOption(1), g.SetStartTimeOption(2), g.SetStartTimeTodayDays(-1), g.SetStopTimeOption(2); },
       0, {"Window: 2006-12-06 00:00:00 to 2006-12-07 00:00:00"}},
      {[](MovieGen& g) { g.SetDailyTimes("06:00,03:10"), g.SetDailyToleranceMinutes(15), g.SetMovieSeconds(1); }, 2,
       {"Daily times: 03:10, 06:00 (the nearest still within 15 minutes)",
        "Wanted length 1 s: 2 frames at 2 frames per second"}},
      // No clock time at all: no movie of every still instead.
      {[](MovieGen& g) { g.SetDailyTimes("noon"); }, 0, {"Daily times: none (the nearest still within 15 minutes)"}},
  };
  for (const auto& c : cases) {
    c.set(gen_);
    const MovieGen::DryRunResult r = gen_.DryRun();
    EXPECT_EQ(r.frame_paths.size(), c.frames) << c.notes.size();
    EXPECT_EQ(r.selection_notes, c.notes);
    gen_.SetTimeOption(0), gen_.SetDayHoursOption(0), gen_.SetDailyTimes(""), gen_.SetMovieSeconds(0);
  }
}

TEST(DryRunText, MovieLengthReadsAsAClockWouldShowIt) {
  const struct {
    size_t frames;
    int32_t fps;
    const char* text;
  } cases[] = {
      {0, 24, "0.00 s"},
      {12, 24, "0.50 s"},
      {3599, 60, "59.98 s"},
      {1500, 24, "1:02.50"},
      // Hundredths that round up to the next minute carry into it.
      {35999, 600, "1:00.00"},
      {216000, 60, "1:00:00.00"},
      {2160001, 24, "25:00:00.04"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(dry_run_text::MovieLength(c.frames, c.fps),
              "Movie length: " + std::string(c.text) + " at " + std::to_string(c.fps) + " fps");
  }
}

TEST_F(DryRunTest, AnEmptyFolderFindsNothing) {
  gen_.SetStillDirectory(dir_.File("empty"));
  fs::create_directory(dir_.File("empty"));
  EXPECT_EQ(gen_.DryRun().end, MovieGen::DryRunResult::End::NoFilesFound);
}

}  // namespace
}  // namespace chronoreel
