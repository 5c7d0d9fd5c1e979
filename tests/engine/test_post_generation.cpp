// After the movie: tag replacement, the post-generation command and the old-still clean-up.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <limits>
#include <thread>

#include "engine/movie_gen.h"
#include "support/fake_host.h"
#include "support/test_files.h"
#include "time/sun.h"

namespace chronoreel {
namespace {

namespace fs = std::filesystem;

DateTime At(int y, int mo, int d, int h, int mi, int s = 0) {
  return *DateTimeFromCivil(y, mo, d, h, mi, s);
}

struct ReplaceCase {
  const char* text;
  const char* tag;
  const char* value;
  const char* expected;
};

class ReplaceTest : public ::testing::TestWithParam<ReplaceCase> {};

TEST_P(ReplaceTest, ReplacesEveryOccurrenceIgnoringCase) {
  std::string text = GetParam().text;
  MovieGen::Replace(text, GetParam().tag, GetParam().value);
  EXPECT_EQ(text, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ReplaceTest,
    ::testing::Values(ReplaceCase{"cp <OUTFILE> x", "<outfile>", "cam.avi", "cp cam.avi x"},
                      ReplaceCase{"<Date>-<date>-<DATE>", "<date>", "061207", "061207-061207-061207"},
                      ReplaceCase{"none here", "<date>", "1", "none here"},
                      ReplaceCase{"", "<date>", "1", ""},
                      // a value holding its own tag goes in once, unchanged
                      ReplaceCase{"a <t> b <t>", "<t>", "[<t>]", "a [<t>] b [<t>]"},
                      ReplaceCase{"<t><t>", "<t>", "<T>", "<T><T>"},
                      ReplaceCase{"<t>", "<t>", "", ""},
                      ReplaceCase{"<<t>>", "<t>", "x", "<x>"},
                      ReplaceCase{"text", "", "x", "text"}));

struct TagCase {
  const char* command;
  const char* output_path;
  const char* expected;
  // The frames' times in writing order; none: the run made no frames to name.
  std::vector<DateTime> frames = {};
};

class ExpandShellTagsTest : public ::testing::TestWithParam<TagCase> {};

TEST_P(ExpandShellTagsTest, FillsTagsFromRunTimeAndOutputPath) {
  const DateTime run = At(2006, 12, 7, 7, 5, 2);
  EXPECT_EQ(MovieGen::ExpandShellTags(GetParam().command, run, GetParam().output_path,
                                      MovieGen::SpanOf(GetParam().frames)),
            GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ExpandShellTagsTest,
    ::testing::Values(
        TagCase{"prog <outdir><outfilebase><date>", "/movies/cam.avi", "prog /movies/cam061207"},
        TagCase{"<time> <timehhmmss>", "/m/c.avi", "0705 070502"},
        TagCase{"<date> <datemmddyy> <dateddmmyy>", "/m/c.avi", "061207 120706 071206"},
        TagCase{"<outpath>|<outfile>|<outfilebase>|<outdir>", "/movies/cam.avi",
                "/movies/cam.avi|cam.avi|cam|/movies/"},
        TagCase{"<OUTFILE> <OutDir>", "/movies/cam.avi", "cam.avi /movies/"},
        TagCase{"[<outdir>]<outfile>", "cam.avi", "[]cam.avi"},          // bare name
        TagCase{"[<outdir>]<outfilebase>", "/cam.avi", "[/]cam"},        // root folder
        TagCase{"<outfilebase>", "/m/cam.v1.avi", "cam.v1"},
        TagCase{"<outfilebase>|<outdir>", "rel/dir/cam", "cam|rel/dir/"},
        // the longer tags are not eaten by the shorter ones replaced before them
        TagCase{"<timehhmmss><time>", "/m/c.avi", "0705020705"},
        TagCase{"<datemmddyy><date>", "/m/c.avi", "120706061207"},
        // a path that holds a tag is put in once, not expanded again
        TagCase{"<outpath>", "/m/<date>.avi", "/m/<date>.avi"},
        // the frames' own days and times, whatever day the run is
        TagCase{"<firstdate>-<lastdate> <firsttime>-<lasttime> <date>", "/m/c.avi", "051231-061201 2359-0001 061207",
                {At(2005, 12, 31, 23, 59), At(2006, 6, 1, 12, 0), At(2006, 12, 1, 0, 1)}},
        // a reversed movie names its days in time order too
        TagCase{"<FirstDate>_<LASTDATE>", "/m/c.avi", "060102_060103", {At(2006, 1, 3, 8, 0), At(2006, 1, 2, 8, 0)}},
        TagCase{"<firsttime><lasttime>", "/m/c.avi", "09300930", {At(2006, 1, 2, 9, 30)}},
        TagCase{"<firstdate> <time>", "/m/c.avi", "<firstdate> 0705"}));

// The command is split before the tags are filled in: a value is one argument, exactly.
struct ArgsCase {
  const char* command;
  const char* output_path;
  std::vector<std::string> expected;
};

class ExpandShellArgumentsTest : public ::testing::TestWithParam<ArgsCase> {};

TEST_P(ExpandShellArgumentsTest, ValuesNeverSplitOrOpenQuotes) {
  const DateTime run = At(2006, 12, 7, 7, 5, 2);
  EXPECT_EQ(MovieGen::ExpandShellArguments(GetParam().command, run, GetParam().output_path),
            GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ExpandShellArgumentsTest,
    ::testing::Values(
        ArgsCase{"prog <outdir><outfilebase><date>", "/movies/cam.avi",
                 {"prog", "/movies/cam061207"}},
        ArgsCase{"cp <outpath> /backup/<date>.avi", "/my movies/cam 1.avi",
                 {"cp", "/my movies/cam 1.avi", "/backup/061207.avi"}},
        // quoting a tag, as one had to before, still gives the same single argument
        ArgsCase{"cp \"<outpath>\" '<outfile>'", "/m/a b.avi", {"cp", "/m/a b.avi", "a b.avi"}},
        ArgsCase{"x <outfile>", "/m/it's \"q\".avi", {"x", "it's \"q\".avi"}},
        ArgsCase{"x <outpath>", "/m/back\\slash.avi", {"x", "/m/back\\slash.avi"}},
        ArgsCase{"x <outfilebase>", "/m/two\nlines.avi", {"x", "two\nlines"}},
        ArgsCase{"x <outdir>", "/m/-n/-e.avi", {"x", "/m/-n/"}},
        // a tag that stands for nothing still leaves its argument, empty
        ArgsCase{"x <outdir> y", "cam.avi", {"x", "", "y"}},
        ArgsCase{"   ", "/m/c.avi", {}}));

// A generation object with a fake host, and stills named by their time.
class PostGenerationTest : public ::testing::Test {
 protected:
  PostGenerationTest() : sun_(state_.location), gen_(state_, sun_, host_) {
    host_.cancel_action = [this] { gen_.SetCancelMovie(true); };
    gen_.SetStillDirectory(dir_.Str());
    gen_.SetImageFilter("*.jpg");
    gen_.SetTimeStampOption(1);
  }

  // A still whose name carries the time `minutes_before` the run.
  std::string StillAt(DateTime run, double minutes_before) {
    const DateTime t = run - minutes_before / 1440.0;
    const std::string name = FormatDateTime(t, "YYMMDD") + FormatDateTime(t, "HHMMSS") + ".jpg";
    std::ofstream(dir_.File(name)) << "still";
    return name;
  }

  TempDir dir_;
  ProgramState state_;
  FakeHost host_;
  Sun sun_;
  MovieGen gen_;
};

struct AgeCase {
  double hours;
  double minutes_before;
  bool deleted;
};

TEST_F(PostGenerationTest, DeletesStillsStrictlyOlderThanTheLimit) {
  const DateTime run = At(2006, 12, 7, 12, 0);
  const AgeCase cases[] = {
      {24, 23 * 60 + 59, false}, {24, 24 * 60 + 1, true}, {24, 24 * 60 * 3, true},
      {24, -60, false},          {0, -1, false},          {0, 0, false}, {0, 1, true},
      {1.5, 89, false},          {1.5, 91, true},
  };
  for (const AgeCase& c : cases) {
    for (const auto& e : fs::directory_iterator(dir_.Path())) fs::remove_all(e.path());
    const std::string name = StillAt(run, c.minutes_before);
    gen_.GetFileSpecs();
    ASSERT_EQ(gen_.ImagePaths().size(), 1u);
    gen_.SetRunTime(run);
    gen_.SetDeleteOldImages(true);
    gen_.SetDeleteOldImagesHours(c.hours);
    gen_.DeleteOldImagesStep();
    EXPECT_EQ(!fs::exists(dir_.File(name)), c.deleted)
        << "hours " << c.hours << ", minutes before " << c.minutes_before;
    EXPECT_EQ(gen_.LastRunUndeleted(), 0);
  }
}

TEST_F(PostGenerationTest, UndeletableStillIsPassedOverAndCounted) {
  const DateTime run = At(2006, 12, 7, 12, 0);
  const std::string old1 = StillAt(run, 3000);
  const std::string blocked = StillAt(run, 2900);
  const std::string readonly = StillAt(run, 2800);
  const std::string gone = StillAt(run, 2700);
  const std::string fresh = StillAt(run, 10);
  gen_.GetFileSpecs();
  ASSERT_EQ(gen_.ImagePaths().size(), 5u);
  // After the scan: one still becomes a folder that cannot go (even for root), one is
  // read-only (deleted all the same), one disappears (nothing left behind).
  fs::remove(dir_.File(blocked));
  fs::create_directory(dir_.File(blocked));
  std::ofstream(dir_.File(blocked) + "/inside") << "x";
  chmod(dir_.File(readonly).c_str(), 0444);
  fs::remove(dir_.File(gone));

  gen_.SetRunTime(run);
  gen_.SetDeleteOldImages(true);
  gen_.SetDeleteOldImagesHours(24);
  gen_.DeleteOldImagesStep();
  EXPECT_FALSE(fs::exists(dir_.File(old1)));
  EXPECT_FALSE(fs::exists(dir_.File(readonly)));
  EXPECT_TRUE(fs::exists(dir_.File(blocked) + "/inside"));
  EXPECT_TRUE(fs::exists(dir_.File(fresh)));
  EXPECT_EQ(gen_.LastRunUndeleted(), 1);
}

// Times from the files (modified, or capture time falling back to it): a still written anew
// under an old name since the scan is young again and stays.
TEST_F(PostGenerationTest, StillRewrittenSinceTheScanIsNotDeleted) {
  for (const int option : {0, 2}) {
    gen_.SetTimeStampOption(option);
    const auto three_days_ago = fs::file_time_type::clock::now() - std::chrono::hours(72);
    for (const char* name : {"webcam.jpg", "old.jpg"}) {
      std::ofstream(dir_.File(name)) << "still";
      fs::last_write_time(dir_.File(name), three_days_ago);
    }
    gen_.GetFileSpecs();
    ASSERT_EQ(gen_.ImagePaths().size(), 2u) << option;
    std::ofstream(dir_.File("webcam.jpg")) << "a new still";

    gen_.SetRunTime(Clock());
    gen_.SetDeleteOldImages(true);
    gen_.SetDeleteOldImagesHours(24);
    gen_.DeleteOldImagesStep();
    EXPECT_TRUE(fs::exists(dir_.File("webcam.jpg"))) << option;
    EXPECT_FALSE(fs::exists(dir_.File("old.jpg"))) << option;
    EXPECT_EQ(gen_.LastRunUndeleted(), 0) << option;
  }
}

// Switched off, or an age limit that is no number (a typing slip such as "48h"): no still
// goes, and only the slip is worth a message.
TEST_F(PostGenerationTest, NothingIsDeletedWhenSwitchedOffOrWithoutAnAgeLimit) {
  const double no_number = std::numeric_limits<double>::quiet_NaN();
  const struct {
    bool on;
    double hours;
    bool says_why;
  } cases[] = {{false, 1, false}, {true, no_number, true}};
  for (const auto& c : cases) {
    host_.messages.clear();
    const DateTime run = At(2006, 12, 7, 12, 0);
    const std::string old = StillAt(run, 5000);
    gen_.GetFileSpecs();
    gen_.SetRunTime(run);
    gen_.SetDeleteOldImages(c.on);
    gen_.SetDeleteOldImagesHours(c.hours);
    gen_.DeleteOldImagesStep();
    EXPECT_TRUE(fs::exists(dir_.File(old))) << c.hours;
    ASSERT_EQ(host_.messages.size(), c.says_why ? 1u : 0u) << c.hours;
    if (c.says_why) {
      EXPECT_NE(host_.messages[0].text.find("DeleteOldImagesHours"), std::string::npos);
    }
  }
}

struct ShellCase {
  const char* command;
  bool show_progress;
  const char* reason;  // the box's last line; nullptr: no box
};

class ShellErrorTest : public PostGenerationTest, public ::testing::WithParamInterface<ShellCase> {};

TEST_P(ShellErrorTest, BoxForCommandsThatFailAndOnlyWithProgress) {
  gen_.SetOutputAVIPath("/movies/cam.avi");
  gen_.SetRunTime(At(2006, 12, 7, 7, 5));
  gen_.SetPostGenerationShell(GetParam().command);
  gen_.RunPostGenerationShell({.show_progress = GetParam().show_progress});
  // Every failed command leaves its line in the run's log, with a box or without one (the
  // only case without a progress window fails).
  const bool failed = GetParam().reason != nullptr || !GetParam().show_progress;
  ASSERT_EQ(host_.notes.size(), failed ? 1u : 0u) << GetParam().command;
  if (failed) {
    EXPECT_EQ(host_.notes[0].rfind("Error calling shell: There was an error calling: ", 0), 0u);
  }
  ASSERT_EQ(host_.messages.size(), GetParam().reason != nullptr ? 1u : 0u) << GetParam().command;
  if (GetParam().reason != nullptr) {
    const MessageBoxRequest& box = host_.messages[0];
    EXPECT_EQ(box.title, "Error calling shell");
    EXPECT_EQ(box.icon, MessageIcon::Exclamation);
    EXPECT_EQ(box.buttons, MessageButtons::Ok);
    EXPECT_EQ(box.text, "There was an error calling:\r" +
                            MovieGen::ExpandShellTags(GetParam().command, At(2006, 12, 7, 7, 5), "/movies/cam.avi") +
                            "\r" + GetParam().reason);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, ShellErrorTest,
    ::testing::Values(
        ShellCase{"chronoreel-missing-tool <outpath> <time>", true, "It could not start: No such file or directory."},
        ShellCase{"chronoreel-missing-tool <outpath> <time>", false, nullptr},  // standard error only
        ShellCase{"true <outpath>", true, nullptr},
        ShellCase{"false", true, "It ended with status 1."},
        ShellCase{"sh -c 'exit 3'", true, "It ended with status 3."},
        ShellCase{"sh -c 'kill -KILL $$'", true, "It was ended by signal 9 (Killed)."},
        ShellCase{"   ", true, nullptr}));  // blanks only: nothing is run

TEST_F(PostGenerationTest, CommandGetsExpandedTagsAndIsWaitedFor) {
  gen_.SetOutputAVIPath(dir_.File("cam.avi"));
  gen_.SetRunTime(At(2006, 12, 7, 7, 5));
  // The command is finished before the step returns: its output is already there.
  gen_.SetPostGenerationShell("sh -c 'sleep 0.2; echo \"$1\" > \"$0\"' <outdir>done.txt <outfilebase><DATE>");
  gen_.RunPostGenerationShell();
  std::ifstream in(dir_.File("done.txt"));
  std::string line;
  std::getline(in, line);
  EXPECT_EQ(line, "cam061207");
  EXPECT_TRUE(host_.messages.empty());
  EXPECT_GT(host_.process_events, 0);
}

TEST_F(PostGenerationTest, CancelledWaitLeavesTheCommandRunning) {
  const std::string pid_file = dir_.File("pid");
  gen_.SetOutputAVIPath(dir_.File("cam.avi"));
  gen_.SetPostGenerationShell("sh -c 'echo $$ > \"$0\"; exec sleep 30' " + pid_file);
  host_.CancelOnProcessEvents(3);
  gen_.RunPostGenerationShell();
  EXPECT_EQ(host_.cancels, 1);
  EXPECT_TRUE(host_.messages.empty());

  pid_t pid = 0;
  for (int i = 0; i < 1000 && pid == 0; ++i) {
    std::ifstream in(pid_file);
    if (!(in >> pid)) {
      pid = 0;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }
  ASSERT_GT(pid, 0);
  EXPECT_EQ(kill(pid, 0), 0) << "the command should still be running";
  kill(pid, SIGKILL);

  // Once it has ended, the next command's step reaps it: no zombie stays behind.
  auto zombie = [pid] {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string id, name, state;
    stat >> id >> name >> state;
    return state == "Z";
  };
  for (int i = 0; i < 1000 && !zombie(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  ASSERT_TRUE(zombie());
  gen_.SetPostGenerationShell("true");
  gen_.RunPostGenerationShell();
  EXPECT_EQ(waitpid(pid, nullptr, WNOHANG), -1);
}

}  // namespace
}  // namespace chronoreel
