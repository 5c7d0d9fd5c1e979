// The dry run: the frames and deletions a run would make, with nothing changed on disk.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

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
    // Stills one hour apart from 02:00 to 11:00 on the run's day.
    for (int h = 2; h <= 11; ++h) {
      char name[32];
      std::snprintf(name, sizeof name, "061207%02d000000.jpg", h);
      WriteFlatJpeg(dir_.File("in/" + std::string(name)), 16, 16, 0x808080);
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
  const MovieGen::DryRunResult r = gen_.DryRun();
  ASSERT_EQ(r.frame_paths.size(), 10u);
  EXPECT_EQ(fs::path(r.frame_paths.front()).filename(), "06120702000000.jpg");
  EXPECT_EQ(fs::path(r.frame_paths.back()).filename(), "06120711000000.jpg");
  EXPECT_NE(r.command.find("cam.avi"), std::string::npos) << r.command;
  EXPECT_EQ(r.command.find("<outfile>"), std::string::npos) << r.command;
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
