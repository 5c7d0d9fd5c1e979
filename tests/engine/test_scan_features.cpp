// The scan beyond one flat folder of named stills: capture times from EXIF, a fixed order
// for equal times, and stills in subfolders (with links that loop, hidden and closed ones).
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "app/core/host.h"
#include "app/core/program_state.h"
#include "engine/movie_gen.h"
#include "support/exif_maker.h"
#include "support/fake_host.h"
#include "support/jpeg_maker.h"
#include "support/test_files.h"
#include "time/date_time.h"
#include "time/sun.h"

namespace chronoreel {
namespace {

namespace fs = std::filesystem;

class ScanTest : public ::testing::Test {
 protected:
  ScanTest() {
    fs::create_directory(root);
    gen.SetStillDirectory(root);
    gen.SetImageFilter("*.jpg");
  }

  // The list as paths below the still directory, in list order.
  std::vector<std::string> Listed() const {
    std::vector<std::string> out;
    for (const auto& p : gen.ImagePaths()) out.push_back(p.substr(root.size() + 1));
    return out;
  }

  // A still in a folder made on the way; with an EXIF capture time when one is given.
  std::string Still(const std::string& relative, const std::string& exif = "",
                    const std::string& subseconds = "", bool after_jfif = false) {
    const fs::path path = fs::path(root) / relative;
    fs::create_directories(path.parent_path());
    std::vector<uint8_t> jpeg = MakeFlatJpeg(8, 8, 0x808080);
    if (!exif.empty()) AddExifCaptureTime(jpeg, exif, subseconds, after_jfif);
    WriteBytes(path.string(), jpeg);
    return path.string();
  }

  TempDir dir{"chronoreel-scan"};
  std::string root = dir.File("stills");
  ProgramState state;
  Sun sun{state.location, [] { return 45000.5; }, [] { return 0.0; }};
  FakeHost windows;  // outlives the window it gives to gen
  NullHost host;
  MovieGen gen{state, sun, host};
};

DateTime Civil(int y, int mo, int d, int h, int mi, double s) {
  return DateTimeFromCivil(y, mo, d, h, mi, s).value();
}

// ---- capture time ----

TEST_F(ScanTest, CaptureTimeComesFromExifAndFallsBackToTheModifiedTime) {
  const auto now = fs::file_time_type::clock::now();
  struct Case {
    const char* name;
    const char* exif;  // "" none
    const char* subseconds;
    bool after_jfif;
    int modified_minutes_ago;
  };
  const std::vector<Case> cases = {
      {"a.jpg", "2001:05:06 07:08:09", "5", false, 1},
      {"b.jpg", "2001:05:06 07:08:09", "", true, 2},
      {"c.jpg", "", "", false, 30},
      {"d.jpg", "0000:00:00 00:00:00", "", false, 20},  // a camera without a clock
      {"e.jpg", "2000:12:31 23:59:59", "25", false, 3},
  };
  for (const Case& c : cases) {
    Still(c.name, c.exif, c.subseconds, c.after_jfif);
    fs::last_write_time(fs::path(root) / c.name, now - std::chrono::minutes(c.modified_minutes_ago));
  }
  const auto modified = [&](const char* name) { return FileModifiedTime(fs::path(root) / name).value(); };

  gen.SetTimeStampOption(2);
  gen.GetFileSpecs();
  EXPECT_EQ(Listed(), (std::vector<std::string>{"e.jpg", "b.jpg", "a.jpg", "c.jpg", "d.jpg"}));
  const std::vector<DateTime> want = {Civil(2000, 12, 31, 23, 59, 59.25), Civil(2001, 5, 6, 7, 8, 9),
                                      Civil(2001, 5, 6, 7, 8, 9.5), modified("c.jpg"), modified("d.jpg")};
  ASSERT_EQ(gen.ImageTimes().size(), want.size());
  for (size_t i = 0; i < want.size(); ++i) EXPECT_NEAR(gen.ImageTimes()[i], want[i], 1e-9) << i;

  // The other options never look inside: modified times, and names that are no dates.
  gen.SetTimeStampOption(0);
  gen.GetFileSpecs();
  EXPECT_EQ(Listed(), (std::vector<std::string>{"c.jpg", "d.jpg", "e.jpg", "b.jpg", "a.jpg"}));
  gen.SetTimeStampOption(1);
  gen.GetFileSpecs();
  EXPECT_TRUE(Listed().empty());
}

// ---- equal times ----

class EqualTimesTest : public ScanTest, public ::testing::WithParamInterface<int> {};

TEST_P(EqualTimesTest, SortByPathWhateverTheListingOrder) {
  const int option = GetParam();
  const auto moment = fs::file_time_type::clock::now() - std::chrono::hours(5);
  // Names without a fraction all read as 12:00:00; three stills of other times in between.
  std::vector<std::string> names;
  for (int i = 0; i < 60; ++i) names.push_back("240506120000_" + std::to_string(i * 37 % 101) + ".jpg");
  for (const char* other : {"2405061159590.jpg", "2405061200001.jpg", "2405061200002.jpg"}) {
    names.push_back(other);
  }
  for (const std::string& name : names) {
    const bool tie = name.find('_') != std::string::npos;
    const std::string path = Still(name, tie ? "2024:05:06 12:00:00" : "2024:05:06 12:00:01");
    fs::last_write_time(path, tie ? moment : moment + std::chrono::seconds(1));
  }
  std::vector<std::string> listing;
  for (const auto& e : fs::directory_iterator(root)) listing.push_back(e.path().filename());
  std::vector<std::string> by_name = listing;
  std::sort(by_name.begin(), by_name.end());
  ASSERT_NE(listing, by_name) << "the file system lists in name order: no test";

  gen.SetTimeStampOption(option);
  gen.GetFileSpecs();
  ASSERT_EQ(gen.ImagePaths().size(), names.size());
  std::vector<std::pair<DateTime, std::string>> got;
  for (size_t i = 0; i < names.size(); ++i) got.emplace_back(gen.ImageTimes()[i], gen.ImagePaths()[i]);
  EXPECT_TRUE(std::is_sorted(got.begin(), got.end()));
}

INSTANTIATE_TEST_SUITE_P(Options, EqualTimesTest, ::testing::Values(0, 1, 2));

// ---- subfolders ----

TEST_F(ScanTest, SubfoldersAreListedOnceEachWhenAsked) {
  // A dated tree with a loop, a link to itself, a second way into a listed folder, a link
  // out of the tree, a dangling link, hidden folders and a folder named like a still.
  for (const char* name :
       {"061207120000.jpg", "2026/12/08/061208063000.jpg", "2026/12/09/061209063000.JPG",
        "2026/12/08/061208070000.txt", ".hidden/061207000000.jpg", "2026/.thumbs/061208000000.jpg",
        "folder.jpg/061208120000.jpg", "../elsewhere/061210000000.jpg"}) {
    Still(name);
  }
  fs::create_directory_symlink(root, root + "/2026/12/08/up");
  fs::create_directory_symlink(".", root + "/2026/12/09/self");
  fs::create_directory_symlink(root + "/2026/12", root + "/alias");
  fs::create_directory_symlink(dir.File("elsewhere"), root + "/outside");
  fs::create_directory_symlink(root + "/missing", root + "/broken");
  gen.SetTimeStampOption(1);
  struct Case {
    bool include;
    std::vector<std::string> expected;
  };
  const std::vector<Case> cases = {
      {false, {"061207120000.jpg"}},
      {true,
       {"061207120000.jpg", "2026/12/08/061208063000.jpg", "folder.jpg/061208120000.jpg",
        "2026/12/09/061209063000.JPG", "outside/061210000000.jpg"}},
  };
  for (const Case& c : cases) {
    gen.SetIncludeSubfolders(c.include);
    gen.GetFileSpecs();
    EXPECT_EQ(Listed(), c.expected) << c.include;
  }
}

TEST_F(ScanTest, FoundLabelAndCancelReachIntoSubfolders) {
  for (const char* name : {"a/1.jpg", "a/2.jpg", "b/c/3.jpg", "b/c/4.jpg"}) Still(name);
  gen.SetIncludeSubfolders(true);
  gen.SetProgressWindow(windows.CreateProgressWindow([this] { gen.SetCancelMovie(true); }));

  gen.GetFileSpecs();
  ASSERT_EQ(gen.ImagePaths().size(), 4u);
  const std::vector<std::string> labels = windows.Labels();
  ASSERT_FALSE(labels.empty());
  // The label names each still by its path below the still directory; the last one stays.
  EXPECT_EQ(labels.back().substr(0, 7), "Found: ");
  for (const std::string& label : labels) {
    EXPECT_TRUE(label.rfind("Found: a/", 0) == 0 || label.rfind("Found: b/c/", 0) == 0) << label;
  }

  windows.log.clear();
  windows.CancelOnLabel("", true);  // on the first label
  gen.GetFileSpecs();
  ASSERT_EQ(gen.ImagePaths().size(), 1u);
  EXPECT_EQ(windows.Labels().back(), "Found: " + Listed()[0]);
}

// Runs `body` in a child without root's rights (root reads every folder); its exit status.
int RunAsNobody(const std::function<int()>& body) {
  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(100);
    _exit(body());
  }
  int status = 0;
  if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

TEST_F(ScanTest, ClosedSubfolderIsPassedOver) {
  fs::permissions(dir.Path(), fs::perms(0755));
  Still("061207120000.jpg");
  Still("open/061207130000.jpg");
  Still("closed/061207140000.jpg");
  Still("open/deeper/061207150000.jpg");
  fs::permissions(root + "/closed", fs::perms(0311));
  gen.SetTimeStampOption(1);
  gen.SetIncludeSubfolders(true);
  const int status = RunAsNobody([this] {
    gen.GetFileSpecs();
    const std::vector<std::string> want = {"061207120000.jpg", "open/061207130000.jpg",
                                           "open/deeper/061207150000.jpg"};
    return Listed() == want ? 0 : 1;
  });
  fs::permissions(root + "/closed", fs::perms(0755));
  EXPECT_EQ(status, 0);
}

}  // namespace
}  // namespace chronoreel
