// The unattended run of the real program: each case starts `chronoreel /a /f=... ` in a
// folder of its own with generated stills, then reads back the movie, the setup file, the
// program profile, the exit status and what went to standard error.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "engine/codecs.h"
#include "setup/ini.h"
#include "support/jpeg_maker.h"
#include "support/probe_movie.h"
#include "support/program.h"
#include "support/test_files.h"

namespace chronoreel {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// A value as it stands in a profile file, without writing anything back.
std::string Stored(const std::string& path, const std::string& section, const std::string& key) {
  INI ini;
  ini.SetFile(path);
  return ini.GetKey(section, key, false, "");
}

// The run's standard output and error together, as a scheduler's log holds them.
test::ProgramRun RunChronoreel(const std::string& cwd, const std::vector<std::string>& switches,
                               const std::vector<std::string>& extra_env = {}) {
  return test::RunProgram(switches, cwd, {.env = extra_env, .output_in_err = true});
}

// Twelve stills of 7 December 2026, one an hour from 06:00 to 17:00, named YYMMDDHHMMSS.
constexpr int kStills = 12;

std::string StillName(int hour) {
  char name[32];
  std::snprintf(name, sizeof name, "261207%02d0000.jpg", hour);
  return name;
}

void MakeStills(const std::string& folder) {
  fs::create_directories(folder);
  const std::vector<uint8_t> jpeg = MakeFlatJpeg(32, 24, 0x3080C0);
  for (int i = 0; i < kStills; ++i) WriteBytes(folder + "/" + StillName(6 + i), jpeg);
}

// A setup file with the keys that differ from the defaults; the run completes the rest.
std::string SetupText(const std::string& stills, const std::string& movie, const std::string& eol = "\n") {
  const std::vector<std::string> lines = {
      "; written by the test",
      "[General]",
      "StillDirectory=" + stills,
      "TimeStampOption=1",
      "TimeOption=0",
      "MovieSizeOption=1",
      "MovieSizeWidth=64",
      "MovieSizeHeight=48",
      "MovieFPS=10",
      "OutputAVIPath=" + movie,
      "[Mine]",
      "Kept=yes",
  };
  std::string text;
  for (const std::string& l : lines) text += l + eol;
  return text;
}

// One folder: the stills in stills/, the setup file cam.tls, the movie out.avi.
struct World {
  TempDir dir{"chronoreel-auto"};
  std::string stills = dir.File("stills");
  std::string setup = dir.File("cam.tls");
  std::string movie = dir.File("out.avi");
  std::string profile = dir.File("Chronoreel.INI");

  World() {
    MakeStills(stills);
    WriteText(setup, SetupText(stills, movie));
  }
};

struct OverrideCase {
  const char* name;
  std::vector<std::string> switches;  // after /a /f=cam.tls /i; "@" stands for the folder
  std::function<void(World&)> prepare;
  int status;
  int frames;                // of the movie at `movie`; -1: no movie is written
  std::string movie;         // relative to the folder; empty: out.avi
  std::string err_contains;  // in standard error
  std::string copy = "";     // a copy of the movie that the command afterwards makes
  int stills_left = -1;      // stills in stills/ afterwards; -1: not looked at
  std::string codec = "";    // of the movie, with yuv420p; empty: not looked at
};

void PrintTo(const OverrideCase& c, std::ostream* os) {
  *os << c.name;
}

std::string Expand(const std::string& text, const World& w) {
  std::string out = text;
  for (size_t at = out.find('@'); at != std::string::npos; at = out.find('@', at)) {
    out.replace(at, 1, w.dir.Str());
    at += w.dir.Str().size();
  }
  return out;
}

// The clean-up on, for every still: the stills are days old by the time the test runs.
void DeleteEveryStill(World& w) {
  std::string text = ReadText(w.setup);
  text.replace(text.find("TimeOption=0\n"), 13, "TimeOption=0\nDeleteOldImages=True\nDeleteOldImagesHours=1\n");
  WriteText(w.setup, text);
}

class AutomatedOverride : public ::testing::TestWithParam<OverrideCase> {};

TEST_P(AutomatedOverride, MakesTheMovieTheSwitchesAskFor) {
  const OverrideCase& c = GetParam();
  World w;
  if (c.prepare) c.prepare(w);
  const std::string setup_before = ReadText(w.setup);
  std::vector<std::string> switches = {"/a", "/f=cam.tls", "/i"};
  for (const std::string& s : c.switches) switches.push_back(Expand(s, w));

  const test::ProgramRun run = RunChronoreel(w.dir.Str(), switches);
  ASSERT_TRUE(run.status.has_value()) << "no normal end; output:\n" << run.err;
  EXPECT_EQ(*run.status, c.status) << run.err;
  if (!c.err_contains.empty()) {
    const std::string said = Expand(c.err_contains, w);
    const size_t at = run.err.find(said);
    EXPECT_NE(at, std::string::npos) << run.err;
    EXPECT_EQ(run.err.find(said, at + 1), std::string::npos) << "said twice:\n" << run.err;
  }

  const std::string movie = c.movie.empty() ? w.movie : w.dir.File(c.movie);
  if (c.frames < 0) {
    EXPECT_FALSE(fs::exists(movie));
  } else {
    const test::ProbedMovie probed = test::ProbeMovie(movie);
    ASSERT_TRUE(probed.opened) << probed.error << "\n" << run.err;
    EXPECT_EQ(probed.FrameCount(), c.frames);
    EXPECT_EQ(probed.width, 64);
    EXPECT_EQ(probed.height, 48);
    EXPECT_EQ(probed.rate_num, 10);
    EXPECT_EQ(probed.rate_den, 1);
    if (!c.codec.empty()) {
      EXPECT_EQ(probed.codec_name, c.codec);
      EXPECT_EQ(probed.pixel_format, "yuv420p");
    }
    if (movie != w.movie) {
      EXPECT_FALSE(fs::exists(w.movie));  // the override replaced the path
    }
  }
  if (!c.copy.empty()) {
    EXPECT_EQ(test::ProbeMovie(w.dir.File(c.copy)).FrameCount(), c.frames);
  }
  // Nothing of ours beside the movie: no temporary file, no lock.
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(fs::path(movie).parent_path(), ec)) {
    const std::string name = e.path().filename().string();
    EXPECT_NE(name.rfind("." + fs::path(movie).filename().string(), 0), 0u) << name << " left beside the movie";
  }

  // The overrides are for this run only: the setup file keeps its own values, gains the
  // keys it lacked, and the lines the program does not know.
  EXPECT_EQ(ReadText(w.setup).rfind(setup_before.substr(0, setup_before.find("[Mine]")), 0), 0u);
  EXPECT_EQ(Stored(w.setup, "General", "StillDirectory"), w.stills);
  EXPECT_EQ(Stored(w.setup, "General", "OutputAVIPath"), w.movie);
  EXPECT_EQ(Stored(w.setup, "General", "PostGenerationShell"), "");
  EXPECT_EQ(Stored(w.setup, "General", "StartTimeOption"), "1");
  EXPECT_EQ(Stored(w.setup, "Mine", "Kept"), "yes");
  EXPECT_EQ(Stored(w.setup, "Compress", "FormatData00032"), std::string(64, '0'));
  if (c.stills_left >= 0) {
    EXPECT_EQ(std::distance(fs::directory_iterator(w.stills), fs::directory_iterator()), c.stills_left);
  }
}

// The stills are at 06:00 ... 17:00 on 12/7/2026.
const std::string kOutsideWindow =
    "chronoreel: No Files Met Timing Criteria: the window is 2026-12-08 00:00:00 to 2173-10-14 "
    "00:00:00; the 12 stills found are from 2026-12-07 06:00:00 to 2026-12-07 17:00:00\n";
const std::string kNothingMatches =
    "chronoreel: No Files Found: nothing in \"@/stills\" matches \"*.png\" (subfolders not "
    "searched)\n";
INSTANTIATE_TEST_SUITE_P(
    Switches, AutomatedOverride,
    ::testing::Values(
        OverrideCase{"NoOverrides", {}, nullptr, 0, kStills, "", ""},
        OverrideCase{"StartInMonthDayYearWithPm", {"/s=12/7/2026 12:00 PM"}, nullptr, 0, 6, "", ""},
        OverrideCase{"StartInIsoFormUpperCaseSwitch", {"/S=2026-12-07T15:30"}, nullptr, 0, 2, "", ""},
        OverrideCase{"StopInIsoFormWithBlank", {"/e=2026-12-07 08:00"}, nullptr, 0, 3, "", ""},
        OverrideCase{"StopInShortYearWithLowerCaseAm", {"/E=12/7/26 9:00 am"}, nullptr, 0, 4, "", ""},
        OverrideCase{"StartAndStopInBothForms",
                     {"/s=12/7/2026 10:00", "/e=2026-12-07T13:00:00"},
                     nullptr,
                     0,
                     4,
                     "",
                     ""},
        OverrideCase{"StartAfterEveryStill", {"/s=12/8/2026"}, nullptr, 1, -1, "", kOutsideWindow},
        OverrideCase{"StartAfterEveryStillQuiet", {"/s=12/8/2026", "/q"}, nullptr, 1, -1, "",
                     kOutsideWindow},
        OverrideCase{"DateThatIsNoDateIsIgnored", {"/s=yesterday"}, nullptr, 0, kStills, "", ""},
        OverrideCase{"StillFolderWithBlanksAndCapitals",
                     {"/IP=@/Cam Stills"},
                     [](World& w) {
                       fs::rename(w.stills, w.dir.File("Cam Stills"));
                       fs::create_directory(
                           w.dir.File("cam stills"));  // the lower-case name is another folder
                     },
                     0,
                     kStills,
                     "",
                     ""},
        OverrideCase{"MissingStillFolder", {"/ip=@/nowhere"}, nullptr, 1, -1, "",
                     "chronoreel: No Files Found: nothing in \"@/nowhere\" matches \"*.jpg\""},
        OverrideCase{"FilterInMixedCase", {"/If=2612071*.JPG"}, nullptr, 0, 8, "", ""},
        OverrideCase{"FilterMatchingNothing", {"/if=*.png"}, nullptr, 1, -1, "", kNothingMatches},
        OverrideCase{"FilterMatchingNothingQuiet", {"/if=*.png", "/q"}, nullptr, 1, -1, "",
                     kNothingMatches},
        OverrideCase{"OutputWithBlanksAndCapitals",
                     {"/OP=@/Movies Out/Garden Day.AVI"},
                     [](World& w) { fs::create_directory(w.dir.File("Movies Out")); },
                     0,
                     kStills,
                     "Movies Out/Garden Day.AVI",
                     ""},
        // The setup's uncompressed frames fit AVI and MOV; MP4, Matroska and WebM take their
        // default encoder and say so once.
        OverrideCase{"OutputMp4", {"/op=@/out.mp4"}, nullptr, 0, kStills, "out.mp4",
                     "chronoreel: the mp4 container cannot hold rawvideo: H.264 (libx264) is used instead\n",
                     "", -1, "h264"},
        OverrideCase{"OutputMkv", {"/op=@/out.mkv"}, nullptr, 0, kStills, "out.mkv",
                     "chronoreel: the matroska container cannot hold rawvideo: H.264 (libx264) is used instead\n",
                     "", -1, "h264"},
        OverrideCase{"OutputWebm", {"/op=@/out.webm"}, nullptr, 0, kStills, "out.webm",
                     "chronoreel: the webm container cannot hold rawvideo: VP9 (libvpx-vp9) is used instead\n",
                     "", -1, "vp9"},
        OverrideCase{"OutputFolderMissing",
                     {"/op=@/no such folder/x.avi"},
                     nullptr,
                     4,
                     -1,
                     "no such folder/x.avi",
                     "There was an error writing the AVI file."},
        OverrideCase{"CommandAfterwardsWithQuotedBlanks",
                     {"/PGS=cp <outpath> '@/Copy Of Movie.AVI'"},
                     nullptr,
                     0,
                     kStills,
                     "",
                     "",
                     "Copy Of Movie.AVI"},
        // A command that fails keeps the stills for a run whose command succeeds.
        OverrideCase{"CommandThatCannotStart", {"/pgs=/nonexistent/tool <outpath>"}, DeleteEveryStill, 7,
                     kStills, "", "it could not start: No such file or directory", "", kStills},
        OverrideCase{"CommandThatFails", {"/pgs=cp <outpath> '@/no such folder/'"}, DeleteEveryStill, 7,
                     kStills, "", "it ended with status 1", "", kStills},
        OverrideCase{"CommandEndingWithThree", {"/pgs=sh -c 'exit 3'"}, DeleteEveryStill, 7, kStills, "",
                     "sh -c 'exit 3': it ended with status 3; the old stills are kept", "", kStills},
        OverrideCase{"CommandKilled", {"/pgs=sh -c 'kill -KILL $$'"}, DeleteEveryStill, 7, kStills, "",
                     "it was ended by signal 9", "", kStills},
        OverrideCase{"CommandThatSucceedsThenCleanUp", {"/pgs=true"}, DeleteEveryStill, 0, kStills, "", "",
                     "", 0},
        OverrideCase{"SetupFileWithByteOrderMark",
                     {},
                     [](World& w) {
                       const std::string text = SetupText(w.stills, w.movie);
                       WriteText(w.setup, "\xEF\xBB\xBF" + text.substr(text.find("[General]")));
                     },
                     0,
                     kStills,
                     "",
                     ""},
        // The stills are days old: an age limit read as 0 hours would delete them all.
        OverrideCase{
            "AgeLimitThatIsNoNumberDeletesNothing",
            {},
            [](World& w) {
              WriteText(
                  w.setup,
                  "[General]\nDeleteOldImages=True\nDeleteOldImagesHours=48h\n" +
                      SetupText(w.stills, w.movie).substr(std::strlen("; written by the test\n[General]\n")));
            },
            0,
            kStills,
            "",
            "Old images not deleted: DeleteOldImagesHours is not a number, so no image was deleted.",
            "",
            kStills}),
    [](const ::testing::TestParamInfo<OverrideCase>& p) { return std::string(p.param.name); });

// The setup file is completed in its own line-end style; the profile gets the location but
// not the recent list, which an automated run leaves as it was.
TEST(AutomatedRun, CompletesTheSetupFileAndLeavesTheRecentList) {
  World w;
  WriteText(w.setup, SetupText(w.stills, w.movie, "\r\n"));
  const std::string other = w.dir.File("other.tls");
  WriteText(other, "[General]\n");
  WriteText(w.profile, "[General]\nLatitude=51.5\n[Last Files]\nFile1=" + other +
                           "\nFile2=" + w.dir.File("gone.tls") + "\n");
  const std::string profile_before = ReadText(w.profile);

  const test::ProgramRun run = RunChronoreel(w.dir.Str(), {"/a", "/f=cam.tls"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(test::ProbeMovie(w.movie).FrameCount(), kStills);

  const std::string bytes = ReadText(w.setup);
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] == '\n') {
      ASSERT_TRUE(i > 0 && bytes[i - 1] == '\r') << "bare LF at " << i;
    }
  }
  EXPECT_EQ(Stored(w.setup, "General", "DeleteOldImages"), "False");
  EXPECT_EQ(Stored(w.setup, "General", "MovieFPS"), "10");
  EXPECT_EQ(Stored(w.setup, "Compress", "ParmsData00032"), std::string(64, '0'));
  EXPECT_EQ(Stored(w.setup, "Compress", "ParmsData00033"), "");

  // Longitude was missing and is added; nothing else changes, the entry of a file that is
  // gone included.
  EXPECT_EQ(Stored(w.profile, "General", "Longitude"), "0");
  EXPECT_EQ(Stored(w.profile, "General", "Latitude"), "51.5");
  const std::string profile = ReadText(w.profile);
  EXPECT_EQ(profile.substr(profile.find("[Last Files]")),
            profile_before.substr(profile_before.find("[Last Files]")));
  EXPECT_EQ(profile.find("cam.tls"), std::string::npos);

  // Progress went to standard error, one line per status in a log.
  EXPECT_NE(run.err.find("\nStatus: Adding Frames to AVI"), std::string::npos) << run.err;
}

// A setup file of the original format with every key is left as it is by a run, and a value
// that was not a number is named on standard error with the value used instead.
TEST(AutomatedRun, OriginalSetupFileIsLeftAsItIs) {
  const struct {
    const char* width;
    int movie_width;
    const char* warning;
  } cases[] = {{"64", 64, nullptr},
               {"abc", 4, "\nchronoreel: MovieSizeWidth=abc is not a number: 1 is used instead\n"}};
  for (const auto& c : cases) {
    World w;
    std::string text =
        "[General]\r\nDeleteOldImages=False\r\nDeleteOldImagesHours=168\r\nImageFilter=*.jpg\r\n"
        "ImageIntervalOption=0\r\nImagesPerHour=60\r\nDuplicateCount=2\r\nDirection=1\r\n"
        "MovieFPS=10\r\nMovieSizeHeight=48\r\nMovieSizeOption=1\r\nMovieSizeWidth=" +
        std::string(c.width) + "\r\nOutputAVIPath=" + w.movie +
        "\r\nPostGenerationShell=\r\nTimeOption=0\r\nStartTimeAbsolute=0\r\nStartTimeOption=1\r\n"
        "StartTimeRelative=0\r\nStartTimeToday=0\r\nStartTimeSunriseRelative=0\r\n"
        "StartTimeSunsetRelative=0\r\nStillDirectory=" +
        w.stills +
        "\r\nStopTimeAbsolute=0\r\nStopTimeOption=0\r\nStopTimeRelative=0\r\nStopTimeToday=0\r\n"
        "StopTimeSunriseRelative=0\r\nStopTimeSunsetRelative=0\r\nTimeStampOption=1\r\n"
        "[Compress]\r\nType=0\r\nFormat=1024\r\nParms=1024\r\nBytesPerSecond=0\r\nFlags=0\r\n"
        "InterleaveEvery=0\r\nKeyFrameEvery=0\r\nQuality=0\r\nHandler=0\r\n";
    for (const char* prefix : {"FormatData", "ParmsData"}) {
      for (int i = 1; i <= 32; ++i)
        text += prefix + std::string(i < 10 ? "0000" : "000") + std::to_string(i) + "=" +
                std::string(64, '0') + "\r\n";
    }
    WriteText(w.setup, text);
    const test::ProgramRun run = RunChronoreel(w.dir.Str(), {"/a", "/f=cam.tls", "/i"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(test::ProbeMovie(w.movie).width, c.movie_width);
    EXPECT_EQ(ReadText(w.setup), text);
    if (c.warning) {
      EXPECT_NE(("\n" + run.err).find(c.warning), std::string::npos) << run.err;
    } else {
      EXPECT_EQ(run.err, "");
    }
  }
}

// Nor do the encoders' own statistics and notes reach a scheduler's mail.
TEST(AutomatedRun, QuietRunWritesNoProgress) {
  for (const char* handler : {"", "875967048" /* H264 */, "877677894" /* FMP4 */}) {
    SCOPED_TRACE(handler);
    World w;
    if (*handler) WriteText(w.setup, SetupText(w.stills, w.movie) + "[Compress]\nHandler=" + handler + "\n");
    const test::ProgramRun run = RunChronoreel(w.dir.Str(), {"/A", "/F=cam.tls", "/I"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_GT(test::ProbeMovie(w.movie).FrameCount(), 0);
  }
}

// A setup file naming a hardware encoder whose device this machine lacks still makes its
// movie, with the software encoder of the same format, and the run succeeds.
TEST(AutomatedRun, HardwareEncoderWithoutItsDeviceMakesTheMovieInSoftware) {
  const struct {
    const char* fourcc;
    const char* encoder;
    const char* codec;  // as read back
    const char* movie;
  } cases[] = {
      {"H264", "h264_vaapi", "h264", "out.mp4"},
      {"HEVC", "hevc_nvenc", "hevc", "out.mkv"},
      {"H264", "h264_qsv", "h264", "out.avi"},
      {"H264", "h264_v4l2m2m", "h264", "out.mov"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.encoder);
    World w;
    const std::string movie = w.dir.File(c.movie);
    const std::string parms = std::string("encoder=") + c.encoder + "\n";
    std::string hex;
    for (const char ch : parms) {
      char digits[3];
      std::snprintf(digits, sizeof digits, "%02X", static_cast<unsigned char>(ch));
      hex += digits;
    }
    hex.resize(64, '0');
    WriteText(w.setup, SetupText(w.stills, movie) + "[Compress]\nHandler=" +
                           std::to_string(FourccFromText(c.fourcc)) + "\nQuality=8000\nParms=" +
                           std::to_string(parms.size()) + "\nParmsData00001=" + hex + "\n");
    const test::ProgramRun run = RunChronoreel(w.dir.Str(), {"/a", "/f=cam.tls", "/i"});
    ASSERT_EQ(run.status, 0) << run.err;
    const test::ProbedMovie probed = test::ProbeMovie(movie);
    EXPECT_EQ(probed.codec_name, c.codec);
    EXPECT_EQ(probed.FrameCount(), kStills);
    // The encoders' own banners stay out of a scheduler's mail.
    EXPECT_EQ(run.err.find("x265 ["), std::string::npos) << run.err;
  }
}

// A window counted from sunset with no location in the profile: the log names the
// profile, even with /i; a profile with a location, or a window that is not used, is quiet.
TEST(AutomatedRun, SunWindowWithoutLocationNamesTheProfile) {
  const struct { const char* name; const char* profile; const char* time_option; bool warned; const char* own = ""; } cases[] = {
      {"no profile", nullptr, "1", true},
      {"profile at 0, 0", "[General]\nLatitude=0\nLongitude=0\n", "1", true},
      {"profile with a location", "[General]\nLatitude=51.5\nLongitude=-0.1\n", "1", false},
      {"window not used", nullptr, "0", false},
      {"setup file with a location", nullptr, "1", false, "\nLatitude=51.5\nLongitude=-0.1"},
  };
  for (const auto& c : cases) {
    World w;
    std::string setup = SetupText(w.stills, w.movie);
    setup.replace(setup.find("TimeOption=0"), 12,
                  std::string("TimeOption=") + c.time_option +
                      "\nStartTimeOption=3\nStartTimeAbsolute=0\nStopTimeOption=5" + c.own);
    WriteText(w.setup, setup);
    if (c.profile) WriteText(w.profile, c.profile);
    const test::ProgramRun run = RunChronoreel(w.dir.Str(), {"/a", "/f=cam.tls", "/i"});
    ASSERT_TRUE(run.status.has_value()) << c.name;
    EXPECT_EQ(run.err.find(w.profile + " holds no location") != std::string::npos, c.warned)
        << c.name << ": " << run.err;
  }
}

// A start that cannot become an unattended run, without a display: status 2 and a hint.
TEST(AutomatedRun, StartsThatNeedADisplayEndWithStatusTwo) {
  struct Case {
    const char* name;
    std::vector<std::string> switches;
    const char* hint;
  };
  const Case cases[] = {
      {"no switches", {}, "no display"},
      {"setup file without /a", {"/f=cam.tls"}, "no display"},
      {"/a without a setup file", {"/a"}, "needs an existing setup file"},
      {"/a with a missing setup file", {"/a", "/f=missing.tls"}, "needs an existing setup file"},
      {"setup file named in other letter case", {"/a", "/f=CAM.TLS"}, "needs an existing setup file"},
  };
  World w;
  const std::string setup_before = ReadText(w.setup);
  for (const Case& c : cases) {
    const test::ProgramRun run = RunChronoreel(w.dir.Str(), c.switches);
    EXPECT_EQ(run.status, 2) << c.name << ": " << run.err;
    EXPECT_NE(run.err.find(c.hint), std::string::npos) << c.name << ": " << run.err;
  }
  EXPECT_FALSE(fs::exists(w.movie));
  EXPECT_FALSE(fs::exists(w.profile));
  EXPECT_EQ(ReadText(w.setup), setup_before);
}

// A setup file that cannot be written still gives its movie; the file stays as it was.
TEST(AutomatedRun, ReadOnlySetupFileStillMakesTheMovie) {
  World w;
  const std::string before = ReadText(w.setup);
  ASSERT_EQ(::chmod(w.setup.c_str(), 0444), 0);
  const test::ProgramRun run = RunChronoreel(w.dir.Str(), {"/a", "/f=cam.tls", "/i"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(test::ProbeMovie(w.movie).FrameCount(), kStills);
  EXPECT_EQ(ReadText(w.setup), before);
}

// A profile that cannot be written (here a folder of that name, which no user may replace)
// costs the profile only: the movie is made, the setup file completed, and the log says why.
TEST(AutomatedRun, UnwritableProfileLosesNothingElse) {
  World w;
  fs::create_directory(w.profile);
  WriteText(w.profile + "/inside", "keep");
  const test::ProgramRun run = RunChronoreel(w.dir.Str(), {"/a", "/f=cam.tls", "/i"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(test::ProbeMovie(w.movie).FrameCount(), kStills);
  EXPECT_EQ(Stored(w.setup, "Compress", "Handler"), "0");
  EXPECT_NE(run.err.find("cannot write " + w.profile), std::string::npos) << run.err;
  EXPECT_EQ(ReadText(w.profile + "/inside"), "keep");
}

// SIGTERM ends the wait for the command at once; the run counts as stopped and deletes
// nothing, although the movie was written before the command started.
TEST(AutomatedRun, TerminationWhileTheCommandRunsDeletesNothing) {
  World w;
  DeleteEveryStill(w);
  const std::string marker = w.dir.File("started");
  test::Program child({"/a", "/f=cam.tls", "/i", "/pgs=sh -c 'echo $$ > " + marker + "; exec sleep 60'"},
                      w.dir.Str(), {.env = {}, .output_in_err = true});
  ASSERT_TRUE(child.Started());
  const auto deadline = Clock::now() + std::chrono::seconds(60);
  while (!fs::exists(marker) && Clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  ASSERT_TRUE(fs::exists(marker)) << child.Err();
  const auto signalled = Clock::now();
  child.Signal(SIGTERM);
  EXPECT_EQ(child.Wait(std::chrono::seconds(30)), 6) << child.Err();
  EXPECT_LT(Clock::now() - signalled, std::chrono::seconds(20));
  EXPECT_EQ(test::ProbeMovie(w.movie).FrameCount(), kStills);
  EXPECT_EQ(std::distance(fs::directory_iterator(w.stills), fs::directory_iterator()), kStills);
  // A cancelled wait leaves the command running on its own; the test ends the one it caused.
  const pid_t command = static_cast<pid_t>(std::atoi(ReadText(marker).c_str()));
  if (command > 0) ::kill(command, SIGKILL);
}

// An X server of the test's own (Xvfb), on the display number it picks itself.
class XServer {
 public:
  XServer() {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return;
    server_.emplace(std::vector<std::string>{"Xvfb", "-displayfd", "3", "-screen", "0", "640x480x24", "-nolisten", "tcp"},
                    "", test::Launch{.env = {}, .output_in_err = false, .fd3 = fds[1]});
    const bool started = server_->Started();
    ::close(fds[1]);
    std::string number;
    if (started) {
      // The server writes its display number and a line end once it accepts clients.
      const auto deadline = Clock::now() + std::chrono::seconds(20);
      char c = 0;
      ::fcntl(fds[0], F_SETFL, O_NONBLOCK);
      while (Clock::now() < deadline) {
        const ssize_t n = ::read(fds[0], &c, 1);
        if (n == 1 && c == '\n') break;
        if (n == 1) {
          number.push_back(c);
        } else if (n == 0) {
          break;
        } else {
          std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
      }
    }
    ::close(fds[0]);
    if (!number.empty()) display_ = ":" + number;
  }

  // Empty when no server could be started.
  const std::string& Display() const { return display_; }

 private:
  std::optional<test::Process> server_;
  std::string display_;
};

bool OnPath(const std::string& program) {
  const char* path = std::getenv("PATH");
  std::stringstream dirs(path != nullptr ? path : "");
  for (std::string dir; std::getline(dirs, dir, ':');) {
    if (!dir.empty() && ::access((dir + "/" + program).c_str(), X_OK) == 0) return true;
  }
  return false;
}

// With a display, an automated run given /n= holds a hidden window whose caption is "QZ"
// and the instance number in at least three digits, for the length of the run. The command
// afterwards runs inside the run, so it lists the windows that exist at that moment.
TEST(AutomatedRunWithDisplay, InstanceWindowCarriesTheNumber) {
  if (!OnPath("Xvfb") || !OnPath("xwininfo")) GTEST_SKIP() << "needs Xvfb and xwininfo";
  XServer x;
  if (x.Display().empty()) GTEST_SKIP() << "Xvfb did not start";
  struct Case {
    std::vector<std::string> switches;
    const char* caption;  // nullptr: no instance window
  };
  const Case cases[] = {
      {{"/n=7"}, "\"QZ007\""},
      {{"/N=1234"}, "\"QZ1234\""},
      {{"/n=6.5"}, "\"QZ006\""},  // halves round to even
      {{}, nullptr},
      {{"/n=abc"}, nullptr},
  };
  for (const Case& c : cases) {
    World w;
    const std::string listing = w.dir.File("windows.txt");
    std::vector<std::string> switches = {"/a", "/f=cam.tls", "/i",
                                         "/pgs=sh -c 'xwininfo -root -tree > " + listing + "'"};
    switches.insert(switches.end(), c.switches.begin(), c.switches.end());
    // libxkbcommon-x11 hands strndup a name without its NUL; the sanitizer's strict string
    // checks would fail the run inside Xlib's keyboard set-up, which is not ours.
    const char* asan = std::getenv("ASAN_OPTIONS");
    const std::string asan_options =
        "ASAN_OPTIONS=" + std::string(asan != nullptr ? asan : "") + ":strict_string_checks=0";
    const test::ProgramRun run = RunChronoreel(w.dir.Str(), switches, {"DISPLAY=" + x.Display(), asan_options});
    const std::string name = c.switches.empty() ? "no /n=" : c.switches[0];
    ASSERT_EQ(run.status, 0) << name << ": " << run.err;
    EXPECT_EQ(test::ProbeMovie(w.movie).FrameCount(), kStills) << name;
    const std::string windows = ReadText(listing);
    ASSERT_FALSE(windows.empty()) << name << ": " << run.err;
    if (c.caption != nullptr) {
      EXPECT_NE(windows.find(c.caption), std::string::npos) << name << ":\n" << windows;
    } else {
      EXPECT_EQ(windows.find("\"QZ"), std::string::npos) << name << ":\n" << windows;
    }
  }
}

}  // namespace
}  // namespace chronoreel
