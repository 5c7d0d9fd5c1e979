// The whole run against a recording host: stage order, status texts, cancel points, early
// ends, and the movie read back.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <thread>

#include "engine/codecs.h"
#include "engine/movie_gen.h"
#include "engine/output_lock.h"
#include "support/fake_host.h"
#include "support/jpeg_maker.h"
#include "support/probe_movie.h"
#include "support/test_files.h"
#include "time/sun.h"

namespace chronoreel {
namespace {

namespace fs = std::filesystem;

constexpr uint32_t kColors[] = {0xff0000, 0x00ff00, 0x0000ff, 0xffffff};

// "frame:WxH:rrggbb" near the colour (JPEG moves a channel by a few levels).
bool FrameShows(const std::string& line, uint32_t color) {
  const size_t colon = line.rfind(':');
  if (colon == std::string::npos) return false;
  const uint32_t got = static_cast<uint32_t>(std::stoul(line.substr(colon + 1), nullptr, 16));
  for (int shift = 0; shift < 24; shift += 8) {
    const int a = static_cast<int>((got >> shift) & 0xff);
    const int b = static_cast<int>((color >> shift) & 0xff);
    if (std::abs(a - b) > 12) return false;
  }
  return true;
}

class MakeMovieTest : public ::testing::Test {
 protected:
  MakeMovieTest() : sun_(state_.location), gen_(state_, sun_, host_) {
    host_.cancel_action = [this] { gen_.SetCancelMovie(true); };
    fs::create_directory(dir_.File("in"));
    gen_.SetStillDirectory(dir_.File("in"));
    gen_.SetImageFilter("*.jpg");
    gen_.SetTimeStampOption(1);
    gen_.SetOutputAVIPath(Output());
    gen_.SetMovieFPS(10);
    gen_.SetClock([] { return *DateTimeFromCivil(2006, 12, 7, 12, 0, 0); });
  }

  std::string Output() const { return dir_.File("cam.avi"); }
  std::string Marker() const { return dir_.File("ran.txt"); }

  // Stills one hour apart from 10:00 on the run's day (run at 12:00), in the colours above.
  void AddStills(int count, bool decodable = true) {
    for (int i = 0; i < count; ++i) {
      const std::string path = dir_.File("in/0612071" + std::to_string(i) + "0000.jpg");
      if (decodable) {
        WriteFlatJpeg(path, 32, 24, kColors[i % 4]);
      } else {
        std::ofstream(path) << "not a picture";
      }
    }
  }

  // The command leaves a marker so the test sees that it ran (and with which tags).
  void SetMarkerCommand() {
    gen_.SetPostGenerationShell("sh -c 'echo \"$1\" > \"$0\"' <outdir>ran.txt <outfilebase><date>");
  }

  std::string OldOutput() {
    std::ofstream(Output()) << "previous movie";
    return "previous movie";
  }
  std::string ReadOutput() {
    std::ifstream in(Output());
    std::string s;
    std::getline(in, s);
    return s;
  }

  TempDir dir_;
  ProgramState state_;
  RunOptions run_{.show_progress = true, .unattended = true};
  FakeHost host_;
  Sun sun_;
  MovieGen gen_;
};

TEST_F(MakeMovieTest, FullRunGoesThroughEveryStageInOrder) {
  AddStills(3);
  SetMarkerCommand();
  gen_.SetDeleteOldImages(true);
  gen_.SetDeleteOldImagesHours(1000);
  const auto start = std::chrono::steady_clock::now();
  gen_.MakeMovie(run_);
  // The window holds the last status; the run itself waits for nothing (the holds alone
  // took two seconds when the run waited for them).
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1500));

  EXPECT_EQ(host_.Statuses(),
            (std::vector<std::string>{
                "Status: Reading Source Directory", "Status: Sorting Files By Date",
                "Status: Determining Which Files To Use", "Status: Opening AVI",
                "Status: Adding Frames to AVI", "Status: Running Post-Generation Shell",
                "Status: Post-Generation Shell Complete", "Status: Deleting old images"}));
  const auto labels = host_.Labels();
  EXPECT_NE(std::find(labels.begin(), labels.end(), "Found: 3 Files"), labels.end());
  EXPECT_NE(std::find(labels.begin(), labels.end(), "Frame: 1 of 3"), labels.end());
  EXPECT_NE(std::find(labels.begin(), labels.end(), "Frame: 3 of 3"), labels.end());
  EXPECT_TRUE(host_.Has("show"));
  EXPECT_TRUE(host_.Has("fit:320x240"));
  EXPECT_LT(host_.IndexOf("fit:320x240"), host_.IndexOf("status:Status: Opening AVI"));
  EXPECT_EQ(std::vector<std::string>(host_.log.end() - 6, host_.log.end()),
            (std::vector<std::string>{"refresh", "hold:0.5", "hold:0.5", "hold:0.5", "hold:0.5", "unload"}));
  EXPECT_FALSE(host_.Has("front"));  // automated: the main window is not brought back
  EXPECT_TRUE(host_.messages.empty());

  const test::ProbedMovie p = test::ProbeMovie(Output());
  EXPECT_EQ(p.VideoFrames(), 3);
  EXPECT_EQ(p.width, 32);
  EXPECT_EQ(p.height, 24);
  std::ifstream marker(Marker());
  std::string line;
  std::getline(marker, line);
  EXPECT_EQ(line, "cam061207");
  EXPECT_TRUE(gen_.LastRunCompleted());
  EXPECT_TRUE(fs::exists(dir_.File("in/061207100000.jpg")));  // younger than the limit
}

TEST_F(MakeMovieTest, CleanUpFollowsTheCommandAndReportsWhatItLeft) {
  AddStills(3);
  // The command turns the oldest still into a folder, which the clean-up must pass over.
  const std::string oldest = dir_.File("in/061207100000.jpg");
  gen_.SetPostGenerationShell("sh -c 'rm \"$0\" && mkdir \"$0\" && touch \"$0/x\"' " + oldest);
  gen_.SetDeleteOldImages(true);
  gen_.SetDeleteOldImagesHours(0.5);
  gen_.MakeMovie(run_);

  EXPECT_EQ(host_.Statuses().back(), "Status: Deleting old images - 1 could not be deleted");
  EXPECT_TRUE(host_.Has("label:Deleting: 061207110000.jpg"));
  EXPECT_TRUE(fs::is_directory(oldest));
  EXPECT_FALSE(fs::exists(dir_.File("in/061207110000.jpg")));
  EXPECT_TRUE(fs::exists(dir_.File("in/061207120000.jpg")));  // exactly the run's time
  EXPECT_EQ(gen_.LastRunUndeleted(), 1);
  EXPECT_TRUE(gen_.LastRunCompleted());
}

struct DirectionCase {
  int32_t direction;
  bool window_backwards;  // start after stop with "Use Start to Stop Time:"
  bool plays_backwards;
};

class DirectionTest : public MakeMovieTest, public ::testing::WithParamInterface<DirectionCase> {};

TEST_P(DirectionTest, LabelCountsUpWhateverTheOrder) {
  AddStills(3);
  gen_.SetMovieDirection(GetParam().direction);
  if (GetParam().window_backwards) {
    gen_.SetTimeOption(1);
    gen_.SetStartTimeOption(3);
    gen_.SetStopTimeOption(3);
    gen_.SetStartTimeAbsolute(*DateTimeFromCivil(2006, 12, 7, 12, 30, 0));
    gen_.SetStopTimeAbsolute(*DateTimeFromCivil(2006, 12, 7, 9, 0, 0));
  }
  host_.probe_x = 16;
  host_.probe_y = 12;
  gen_.MakeMovie(run_);

  const auto frames = host_.Lines("frame:");
  ASSERT_GE(frames.size(), 2u);
  const uint32_t first = GetParam().plays_backwards ? kColors[2] : kColors[0];
  const uint32_t last = GetParam().plays_backwards ? kColors[0] : kColors[2];
  EXPECT_TRUE(FrameShows(frames.front(), first)) << frames.front();
  EXPECT_TRUE(FrameShows(frames.back(), last)) << frames.back();
  // Frame labels of the loop come after "Adding Frames": 1 first, 3 last.
  const int loop_start = host_.IndexOf("status:Status: Adding Frames to AVI");
  ASSERT_GE(loop_start, 0);
  std::vector<std::string> loop_labels;
  for (size_t i = static_cast<size_t>(loop_start); i < host_.log.size(); ++i) {
    if (host_.log[i].rfind("label:Frame: ", 0) == 0) loop_labels.push_back(host_.log[i]);
  }
  ASSERT_FALSE(loop_labels.empty());
  EXPECT_EQ(loop_labels.front(), "label:Frame: 1 of 3");
  EXPECT_EQ(loop_labels.back(), "label:Frame: 3 of 3");
  EXPECT_EQ(test::ProbeMovie(Output()).VideoFrames(), 3);
}

INSTANTIATE_TEST_SUITE_P(Table, DirectionTest,
                         ::testing::Values(DirectionCase{1, false, false},
                                           DirectionCase{-1, false, true},
                                           DirectionCase{1, true, true},
                                           DirectionCase{-1, true, false}));

enum class Trigger { ScanLabel, SortStatus, SelectionLabel, FirstFrame, BeforeFrames };

struct CancelCase {
  const char* name;
  Trigger trigger;
  int frames_in_movie;  // -2: no movie file at all; -1: a file without a stream
  const char* output = "cam.avi";
  const char* fourcc = "DIB ";  // x264 and libvpx hold frames back until they are flushed
};

class CancelTest : public MakeMovieTest, public ::testing::WithParamInterface<CancelCase> {};

TEST_P(CancelTest, EndsWithCancelledStatusAndNoCommand) {
  AddStills(4);
  // A window that leaves out the last still, so that the selection runs its loop.
  gen_.SetTimeOption(1);
  gen_.SetStartTimeOption(3);
  gen_.SetStopTimeOption(3);
  gen_.SetStartTimeAbsolute(*DateTimeFromCivil(2006, 12, 7, 9, 0, 0));
  gen_.SetStopTimeAbsolute(*DateTimeFromCivil(2006, 12, 7, 12, 30, 0));
  SetMarkerCommand();
  gen_.SetDeleteOldImages(true);
  gen_.SetDeleteOldImagesHours(0);
  const std::string output = dir_.File(GetParam().output);
  gen_.SetOutputAVIPath(output);
  gen_.SetCompressHandler(FourccFromText(GetParam().fourcc));
  switch (GetParam().trigger) {
    case Trigger::ScanLabel: host_.CancelOnLabel("Found: 0612", true); break;
    case Trigger::SortStatus: host_.CancelOnStatus("Status: Sorting Files By Date"); break;
    case Trigger::SelectionLabel: host_.CancelOnLabel("Frame: 1 of 4"); break;
    case Trigger::FirstFrame: host_.CancelOnFrame(1); break;
    case Trigger::BeforeFrames: host_.CancelOnStatus("Status: Adding Frames to AVI"); break;
  }
  gen_.MakeMovie(run_);

  EXPECT_EQ(host_.cancels, 1);
  const auto statuses = host_.Statuses();
  ASSERT_FALSE(statuses.empty());
  EXPECT_EQ(statuses.back(), "Status: Cancelled by User");
  EXPECT_EQ(host_.Labels().back(), "");
  // The final status is held in the window before it closes.
  EXPECT_EQ(std::vector<std::string>(host_.log.end() - 5, host_.log.end()),
            (std::vector<std::string>{"status:Status: Cancelled by User", "label:", "refresh", "hold:2",
                                      "unload"}));
  EXPECT_FALSE(fs::exists(Marker()));
  EXPECT_EQ(fs::exists(dir_.File("in/061207100000.jpg")), true);  // no clean-up either
  EXPECT_FALSE(gen_.LastRunCompleted());
  EXPECT_EQ(gen_.LastRunEnd(), MovieGen::RunEnd::Stopped);
  if (GetParam().frames_in_movie == -2) {
    EXPECT_FALSE(fs::exists(output));
  } else {
    EXPECT_EQ(test::ProbeMovie(output).VideoFrames(), GetParam().frames_in_movie);
    if (GetParam().frames_in_movie > 0) {
      EXPECT_EQ(test::KeyFlagsByFfprobe(output).size(), static_cast<size_t>(GetParam().frames_in_movie));
      EXPECT_EQ(test::DecodeAllFrames(output).size(), static_cast<size_t>(GetParam().frames_in_movie));
    }
  }
  // No temporary file is left beside the movie.
  for (const auto& e : fs::directory_iterator(dir_.Path())) {
    const std::string name = e.path().filename().string();
    EXPECT_TRUE(name == "in" || name == GetParam().output) << name;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, CancelTest,
    ::testing::Values(CancelCase{"scan", Trigger::ScanLabel, -2},
                      CancelCase{"after_scan", Trigger::SortStatus, -2},
                      CancelCase{"selection", Trigger::SelectionLabel, -2},
                      CancelCase{"before_frames", Trigger::BeforeFrames, -1},
                      CancelCase{"frame_loop", Trigger::FirstFrame, 1},
                      CancelCase{"frame_loop_mp4", Trigger::FirstFrame, 1, "cam.mp4", "H264"},
                      CancelCase{"frame_loop_mkv", Trigger::FirstFrame, 1, "cam.mkv", "H264"},
                      CancelCase{"frame_loop_webm", Trigger::FirstFrame, 1, "cam.webm", "VP90"}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(MakeMovieTest, CancelDuringShellWaitLeavesItRunningAndFinishesTheRun) {
  AddStills(2);
  const std::string pid_file = dir_.File("pid");
  gen_.SetPostGenerationShell("sh -c 'echo $$ > \"$0\"; exec sleep 30' " + pid_file);
  host_.CancelOnStatus("Status: Running Post-Generation Shell");
  gen_.MakeMovie(run_);

  const auto statuses = host_.Statuses();
  EXPECT_EQ(statuses.back(), "Status: Post-Generation Shell Wait Cancelled");
  EXPECT_TRUE(host_.Has("label:*Note: The shelled process may still be running."));
  EXPECT_EQ(test::ProbeMovie(Output()).VideoFrames(), 2);
  EXPECT_TRUE(gen_.LastRunCompleted());
  EXPECT_EQ(gen_.LastRunEnd(), MovieGen::RunEnd::Stopped);

  pid_t pid = 0;
  for (int i = 0; i < 1000 && pid == 0; ++i) {
    std::ifstream in(pid_file);
    if (!(in >> pid)) {
      pid = 0;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }
  ASSERT_GT(pid, 0);
  EXPECT_EQ(kill(pid, 0), 0);
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
}

struct EarlyEndCase {
  const char* name;
  int stills;
  bool outside_window;
  const char* status;
  const char* note;  // "@" stands for the still folder
};

class EarlyEndTest : public MakeMovieTest, public ::testing::WithParamInterface<EarlyEndCase> {};

TEST_P(EarlyEndTest, FinalStatusAndPreviousMovieStays) {
  AddStills(GetParam().stills);
  if (GetParam().outside_window) {
    gen_.SetTimeOption(1);
    gen_.SetStartTimeOption(3);
    gen_.SetStopTimeOption(3);
    gen_.SetStartTimeAbsolute(*DateTimeFromCivil(2005, 1, 1, 0, 0, 0));
    gen_.SetStopTimeAbsolute(*DateTimeFromCivil(2005, 1, 2, 0, 0, 0));
  }
  const std::string old = OldOutput();
  SetMarkerCommand();
  run_.unattended = false;
  gen_.MakeMovie(run_);

  EXPECT_EQ(host_.Statuses().back(), GetParam().status);
  EXPECT_FALSE(host_.Has("status:Status: Opening AVI"));
  EXPECT_EQ(ReadOutput(), old);
  EXPECT_FALSE(fs::exists(Marker()));
  EXPECT_TRUE(host_.messages.empty());
  std::string note = GetParam().note;
  if (const size_t at = note.find('@'); at != std::string::npos) note.replace(at, 1, dir_.File("in"));
  EXPECT_EQ(host_.notes, std::vector<std::string>{note});
  EXPECT_FALSE(gen_.LastRunCompleted());
  EXPECT_EQ(gen_.LastRunEnd(), MovieGen::RunEnd::NothingToMake);
  // Interactive: the window goes, then the main window comes back.
  ASSERT_GE(host_.log.size(), 2u);
  EXPECT_EQ(host_.log[host_.log.size() - 2], "unload");
  EXPECT_EQ(host_.log.back(), "front");
}

INSTANTIATE_TEST_SUITE_P(
    Table, EarlyEndTest,
    ::testing::Values(
        EarlyEndCase{"empty", 0, false, "Status: No Files Found",
                     "No Files Found: nothing in \"@\" matches \"*.jpg\" (subfolders not searched)"},
        EarlyEndCase{"outside", 3, true, "Status: No Files Met Timing Criteria",
                     "No Files Met Timing Criteria: the window is 2005-01-01 00:00:00 to "
                     "2005-01-02 00:00:00; the 3 stills found are from 2006-12-07 10:00:00 to "
                     "2006-12-07 12:00:00"}),
    [](const auto& p) { return std::string(p.param.name); });

class OpenFailureTest : public MakeMovieTest, public ::testing::WithParamInterface<bool> {};

TEST_P(OpenFailureTest, UnwritableOutputIsToldAndRunsNoCommand) {
  const bool show_progress = GetParam();
  run_.show_progress = show_progress;
  AddStills(2);
  gen_.SetOutputAVIPath(dir_.File("no-such-folder/cam.avi"));
  SetMarkerCommand();
  gen_.SetPostGenerationShell("sh -c 'echo x > \"$0\"' " + Marker());
  gen_.MakeMovie(run_);

  ASSERT_EQ(host_.messages.size(), show_progress ? 1u : 0u);
  if (show_progress) {
    const MessageBoxRequest& box = host_.messages[0];
    EXPECT_EQ(box.title, "Chronoreel");
    EXPECT_EQ(box.icon, MessageIcon::Information);
    EXPECT_EQ(box.text.rfind("There was an error writing the AVI file.", 0), 0u) << box.text;
    EXPECT_EQ(host_.log.back(), "unload");
  }
  EXPECT_EQ(host_.Has("create"), show_progress);
  EXPECT_FALSE(host_.Has("status:Status: Adding Frames to AVI"));
  EXPECT_FALSE(fs::exists(Marker()));
  EXPECT_FALSE(gen_.LastRunCompleted());
  EXPECT_EQ(gen_.LastRunEnd(), MovieGen::RunEnd::WriteFailed);
}

INSTANTIATE_TEST_SUITE_P(Table, OpenFailureTest, ::testing::Bool());

// "Make Movie" in the window keeps to one run per movie too.
TEST_F(MakeMovieTest, MovieThatAnotherRunWritesIsLeftAlone) {
  run_.show_progress = true;
  AddStills(2);
  const std::string previous = OldOutput();
  OutputLock other(Output());
  ASSERT_TRUE(other.Held()) << other.Error();
  gen_.MakeMovie(run_);
  ASSERT_EQ(host_.messages.size(), 1u);
  EXPECT_NE(host_.messages[0].text.find("another run is writing " + Output()), std::string::npos);
  EXPECT_EQ(ReadOutput(), previous);
}

TEST_F(MakeMovieTest, QuietRunShowsNothingButDoesEverything) {
  run_.show_progress = false;
  AddStills(3);
  SetMarkerCommand();
  gen_.SetDeleteOldImages(true);
  gen_.SetDeleteOldImagesHours(1.5);  // the still at 10:00 is two hours old
  gen_.MakeMovie(run_);

  EXPECT_TRUE(host_.log.empty()) << host_.log.front();
  EXPECT_EQ(test::ProbeMovie(Output()).VideoFrames(), 3);
  EXPECT_TRUE(fs::exists(Marker()));
  EXPECT_FALSE(fs::exists(dir_.File("in/061207100000.jpg")));
  EXPECT_TRUE(fs::exists(dir_.File("in/061207110000.jpg")));
  EXPECT_TRUE(gen_.LastRunCompleted());
  EXPECT_EQ(gen_.LastRunEnd(), MovieGen::RunEnd::Written);
}

TEST_F(MakeMovieTest, WindowRefusedByHostMeansNoUpdates) {
  host_.give_window = false;
  AddStills(2);
  gen_.MakeMovie(run_);
  EXPECT_EQ(host_.log, std::vector<std::string>{"create"});
  EXPECT_EQ(test::ProbeMovie(Output()).VideoFrames(), 2);
  EXPECT_TRUE(gen_.LastRunCompleted());
}

// Not one frame: the run ends early and changes nothing, as when no still is in the window.
TEST_F(MakeMovieTest, StillsThatNeverDecodeLeaveEverythingAsItWas) {
  AddStills(4, /*decodable=*/false);
  const std::string old = OldOutput();
  SetMarkerCommand();
  gen_.SetDeleteOldImages(true);
  gen_.SetDeleteOldImagesHours(0);
  gen_.MakeMovie(run_);

  EXPECT_EQ(host_.Statuses().back(), "Status: No Files Could Be Decoded");
  EXPECT_EQ(ReadOutput(), old);
  EXPECT_FALSE(fs::exists(Marker()));
  EXPECT_TRUE(fs::exists(dir_.File("in/061207100000.jpg")));
  EXPECT_FALSE(gen_.LastRunCompleted());
  ASSERT_EQ(host_.notes.size(), 1u);  // the first three named, then "..."
  const std::string first = dir_.File("in/061207100000.jpg");
  EXPECT_NE(host_.notes[0].find("none of the 4 stills gave a frame (" + first), std::string::npos);
  EXPECT_NE(host_.notes[0].find("120000.jpg, ...)"), std::string::npos) << host_.notes[0];
  for (const auto& e : fs::directory_iterator(dir_.Path())) {
    const std::string name = e.path().filename().string();
    EXPECT_TRUE(name == "in" || name == "cam.avi") << name;
  }
}

// Stills are read ahead of the frame being written: one that does not decode still gives
// no frame, the frames after it close up in order, and the counter still counts every still.
TEST_F(MakeMovieTest, UndecodableStillsInTheMiddleCloseUp) {
  for (int i = 0; i < 6; ++i) {
    const std::string path = dir_.File("in/0612071" + std::to_string(i) + "0000.jpg");
    if (i == 1 || i == 2) {
      std::ofstream(path) << "not a picture";
    } else {
      WriteFlatJpeg(path, 32, 24, kColors[i % 4]);
    }
  }
  gen_.SetClock([] { return *DateTimeFromCivil(2006, 12, 7, 16, 0, 0); });
  gen_.MakeMovie(run_);

  const auto labels = host_.Labels();
  EXPECT_EQ(labels.back(), "Frame: 6 of 6 - 2 gave no frame");
  EXPECT_EQ(host_.notes, std::vector<std::string>{"2 of 6 stills gave no frame: " +
                                                  dir_.File("in/061207110000.jpg") + ", " +
                                                  dir_.File("in/061207120000.jpg")});
  const auto frames = test::DecodeAllFrames(Output());
  ASSERT_EQ(frames.size(), 4u);
  const uint32_t expected[] = {kColors[0], kColors[3], kColors[0], kColors[1]};
  for (size_t k = 0; k < frames.size(); ++k) {
    double bgr[3];
    frames[k].MeanColour(4, 4, 28, 20, bgr);
    EXPECT_NEAR(bgr[2], (expected[k] >> 16) & 0xff, 12) << k;
    EXPECT_NEAR(bgr[1], (expected[k] >> 8) & 0xff, 12) << k;
    EXPECT_NEAR(bgr[0], expected[k] & 0xff, 12) << k;
  }
  EXPECT_TRUE(gen_.LastRunCompleted());
}

struct SizeCase {
  int32_t option;
  int32_t width;
  int32_t height;
  const char* fit;
  const char* frame_size;
  int movie_width;
};

class MovieSizeTest : public MakeMovieTest, public ::testing::WithParamInterface<SizeCase> {};

TEST_P(MovieSizeTest, FitsWindowAndRoundsWidth) {
  AddStills(1);
  gen_.SetMovieSizeOption(GetParam().option);
  gen_.SetMovieSizeWidth(GetParam().width);
  gen_.SetMovieSizeHeight(GetParam().height);
  gen_.MakeMovie(run_);
  EXPECT_TRUE(host_.Has(std::string("fit:") + GetParam().fit));
  const auto frames = host_.Lines("frame:");
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].substr(0, frames[0].find(':')), GetParam().frame_size);
  EXPECT_EQ(test::ProbeMovie(Output()).width, GetParam().movie_width);
}

INSTANTIATE_TEST_SUITE_P(Table, MovieSizeTest,
                         ::testing::Values(SizeCase{0, 640, 480, "320x240", "32x24", 32},
                                           SizeCase{1, 160, 120, "320x120", "160x120", 160},
                                           SizeCase{1, 321, 240, "321x240", "324x240", 324}));

}  // namespace
}  // namespace chronoreel
