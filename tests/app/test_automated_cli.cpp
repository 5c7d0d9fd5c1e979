// The conveniences of the command line, run through the real program: --help, --version,
// the quiet switch and the dry run.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "support/jpeg_maker.h"
#include "support/program.h"
#include "support/test_files.h"

namespace chronoreel {
namespace {

namespace fs = std::filesystem;

// Every entry under a folder with its bytes and modified time, as text for a comparison.
std::map<std::string, std::string> Snapshot(const fs::path& dir) {
  std::map<std::string, std::string> entries;
  for (const auto& e : fs::recursive_directory_iterator(dir)) {
    const auto when = fs::last_write_time(e.path()).time_since_epoch().count();
    entries[e.path().string()] = std::to_string(when) + ":" + (e.is_regular_file() ? ReadText(e.path()) : "");
  }
  return entries;
}

class CliTest : public ::testing::Test {
 protected:
  CliTest() {
    fs::create_directory(dir_.File("stills"));
    // Twelve stills, one an hour from 00:00 on 7 December 2006, named by their times.
    for (int h = 0; h < 12; ++h) {
      char name[32];
      std::snprintf(name, sizeof name, "061207%02d000000.jpg", h);
      WriteFlatJpeg(dir_.File("stills/" + std::string(name)), 32, 24, 0x204080 + h);
    }
    // A setup file that loading completes, a profile and an earlier movie.
    std::ofstream(dir_.File("cam.tls")) << "[General]\nStillDirectory=" << dir_.File("stills")
                                        << "\nImageFilter=*.jpg\nTimeStampOption=1\nOutputAVIPath="
                                        << dir_.File("cam.avi") << "\nDeleteOldImages=True\nDeleteOldImagesHours=1\n"
                                        << "PostGenerationShell=touch " << dir_.File("ran") << "\n";
    std::ofstream(dir_.File("Chronoreel.INI")) << "[Settings]\nLongitude=5\n";
    std::ofstream(dir_.File("cam.avi")) << "an earlier movie";
  }
  TempDir dir_{"chronoreel-cli"};
};

TEST_F(CliTest, HelpAndVersionAnswerAndChangeNothing) {
  const auto before = Snapshot(dir_.Path());
  for (const char* request : {"--help", "--version"}) {
    const test::ProgramRun r = test::RunProgram({"/a", "/f=cam.tls", request}, dir_.Str());
    EXPECT_EQ(r.status, 0) << request;
    EXPECT_EQ(r.err, "") << request;
    EXPECT_NE(r.out.find(std::string(request) == "--help" ? "/pgs=" : "chronoreel "), std::string::npos) << r.out;
  }
  EXPECT_EQ(Snapshot(dir_.Path()), before);
}

TEST_F(CliTest, DryRunListsTheRunAndLeavesEveryFileAsItWas) {
  const auto before = Snapshot(dir_.Path());
  const test::ProgramRun r = test::RunProgram({"/a", "/f=cam.tls", "/d"}, dir_.Str());
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("Stills found: 12"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Frames: 12"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Movie length: 0.50 s at 24 fps"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("06120700000000.jpg"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("06120711000000.jpg"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("... 2 more ..."), std::string::npos) << r.out;
  // Run long after the stills were taken: all twelve are old.
  EXPECT_NE(r.out.find("Stills that would be deleted: 12"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Command afterwards: touch"), std::string::npos) << r.out;
  EXPECT_EQ(Snapshot(dir_.Path()), before) << "the dry run changed a file";
}

TEST_F(CliTest, QuietRunsPrintNothingUnlessSomethingFailed) {
  // The clean-up would remove the stills that the second run needs.
  std::ofstream(dir_.File("cam.tls"), std::ios::app) << "DeleteOldImages=False\n";
  const test::ProgramRun ok = test::RunProgram({"/a", "/f=cam.tls", "/q"}, dir_.Str());
  EXPECT_EQ(ok.status, 0) << ok.err;
  EXPECT_EQ(ok.out, "");
  EXPECT_EQ(ok.err, "");
  EXPECT_TRUE(fs::exists(dir_.File("ran")));

  const test::ProgramRun failed =
      test::RunProgram({"/a", "/f=cam.tls", "/q", "/ip=" + dir_.File("no such folder")}, dir_.Str());
  EXPECT_EQ(failed.status, 1);
  EXPECT_EQ(failed.out, "");
  EXPECT_NE(failed.err, "") << "a failure must still say what went wrong";
}

}  // namespace
}  // namespace chronoreel
