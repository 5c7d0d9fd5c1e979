// Still directories that are huge, oddly named, looped, too deep, not directories at all
// or not readable: the scan completes or ends as "No Files Found", and the command's tags
// carry odd names as single arguments.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "engine/movie_gen.h"
#include "engine/shell.h"
#include "support/fake_host.h"
#include "support/jpeg_maker.h"
#include "support/probe_movie.h"
#include "support/test_files.h"
#include "time/sun.h"

namespace chronoreel {
namespace {

namespace fs = std::filesystem;

// A generation object on a recording host, run as an automated run would.
struct Rig {
  Rig() : sun(state.location), gen(state, sun, host) {
    host.cancel_action = [this] { gen.SetCancelMovie(true); };
    gen.SetImageFilter("*.jpg");
    gen.SetClock([] { return *DateTimeFromCivil(2006, 12, 7, 12, 0, 0); });
  }
  ProgramState state;
  RunOptions run{.show_progress = true, .unattended = true};
  FakeHost host;
  Sun sun;
  MovieGen gen;
};

// ---- 200,000 stills ----

TEST(HugeDirectory, TwoHundredThousandStillsAreListedSortedAndSelected) {
  constexpr int kCount = 200000;
  // In memory where the system has it: on a disk, making and removing the files alone takes
  // a minute or more, and nothing here is about the disk.
  TempDir dir("hostile-huge-dir", fs::is_directory("/dev/shm") ? "/dev/shm" : "/tmp");
  // Names in time order, one a second from midnight; written in a scrambled order so the
  // directory does not hand them out sorted.
  std::vector<std::string> names(kCount);
  const DateTime midnight = *DateTimeFromCivil(2006, 12, 5, 0, 0, 0);
  for (int i = 0; i < kCount; ++i) {
    const DateTime t = midnight + i / 86400.0 + 0.1 / 86400.0;
    names[i] = FormatDateTime(t, "YYMMDD") + FormatDateTime(t, "HHMMSS") + ".jpg";
  }
  for (int k = 0; k < kCount; ++k) {
    const int i = static_cast<int>((static_cast<int64_t>(k) * 7919) % kCount);
    const int fd = open(dir.File(names[i]).c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0) << names[i];
    close(fd);
  }

  Rig rig;
  rig.gen.SetStillDirectory(dir.Str());
  rig.gen.SetTimeStampOption(1);
  auto window = rig.host.CreateProgressWindow([&] { rig.gen.SetCancelMovie(true); });
  rig.gen.SetProgressWindow(std::move(window));
  rig.gen.GetFileSpecs();

  const auto& paths = rig.gen.ImagePaths();
  const auto& times = rig.gen.ImageTimes();
  ASSERT_EQ(paths.size(), static_cast<size_t>(kCount));
  ASSERT_EQ(times.size(), static_cast<size_t>(kCount));
  int misplaced = 0;
  for (int i = 0; i < kCount; ++i) {
    if (paths[i] != dir.File(names[i])) ++misplaced;
  }
  EXPECT_EQ(misplaced, 0);
  EXPECT_TRUE(std::is_sorted(times.begin(), times.end()));
  // The labels are paced, not one per still, and the last name found stays on show.
  const std::vector<std::string> labels = rig.host.Labels();
  ASSERT_FALSE(labels.empty());
  EXPECT_LT(labels.size(), static_cast<size_t>(kCount / 10));
  EXPECT_EQ(labels.back().rfind("Found: ", 0), 0u);
  EXPECT_EQ(rig.host.Statuses().back(), "Status: Sorting Files By Date");

  // 60 an hour over 200,000 seconds of stills, one a second: the still on each minute.
  rig.gen.SetImageIntervalOption(1);
  rig.gen.SetImagesPerHour(60);
  ASSERT_EQ(rig.gen.SelectFrames(), MovieGen::Selection::Selected);
  const auto& frames = rig.gen.FramePaths();
  ASSERT_EQ(frames.size(), static_cast<size_t>((kCount - 1) / 60 + 1));
  EXPECT_EQ(frames[1], dir.File(names[60]));
  EXPECT_EQ(frames.back(), dir.File(names[(kCount - 1) / 60 * 60]));

  // A cancel in the middle of so long a scan stops it at once.
  rig.host.CancelOnLabel("Found: ", true);
  rig.gen.GetFileSpecs();
  EXPECT_EQ(rig.gen.ImagePaths().size(), 1u);
  EXPECT_TRUE(rig.gen.CancelRequested());
}

// ---- odd names ----

// Every one of these is a still, and each ends up in the movie in its place.
const std::vector<std::string>& OddNames() {
  static const std::vector<std::string> names = {
      "plain.jpg",        "with blank.jpg",  " leading blank.jpg", "quote\"d.jpg",
      "it's.jpg",         "new\nline.jpg",   "-leading-dash.jpg",  "--.jpg",
      "back\\slash.jpg",  "$(touch x).jpg",  "`x`;|&.jpg",         "star*.jpg",
      "caf\xe9.jpg",      "\xff\xfe.jpg",    "tab\there.jpg",      "\xe2\x80\xae.jpg"};
  return names;
}

TEST(OddNames, EveryStillIsListedDecodedAndCleanedUp) {
  TempDir dir("hostile-names");
  const std::string in = dir.File("in 'dir' \"x\" -y \xff");
  fs::create_directory(in);
  const auto& names = OddNames();
  for (size_t i = 0; i < names.size(); ++i) {
    const std::string path = in + "/" + names[i];
    WriteFlatJpeg(path, 32, 24, static_cast<uint32_t>(0x101010 * (i % 15 + 1)));
    // Modified times one minute apart fix the order.
    const auto when = fs::file_time_type::clock::now() - std::chrono::hours(1) +
                      std::chrono::minutes(static_cast<int>(i));
    fs::last_write_time(path, when);
  }

  Rig rig;
  rig.gen.SetStillDirectory(in);
  rig.gen.SetTimeStampOption(0);
  rig.gen.SetClock([] { return Clock(); });
  rig.gen.SetOutputAVIPath(dir.File("movie.avi"));
  rig.gen.SetDeleteOldImages(true);
  rig.gen.SetDeleteOldImagesHours(0);
  rig.gen.MakeMovie(rig.run);

  ASSERT_TRUE(rig.gen.LastRunCompleted());
  std::vector<std::string> listed;
  for (const std::string& p : rig.gen.ImagePaths()) listed.push_back(p.substr(in.size() + 1));
  EXPECT_EQ(listed, names);
  const test::ProbedMovie movie = test::ProbeMovie(dir.File("movie.avi"));
  EXPECT_EQ(movie.FrameCount(), static_cast<int>(names.size()));
  const auto frames = test::DecodeAllFrames(dir.File("movie.avi"));
  ASSERT_EQ(frames.size(), names.size());
  for (size_t i = 0; i < names.size(); ++i) {
    double bgr[3];
    frames[i].MeanColour(4, 4, 28, 20, bgr);
    EXPECT_NEAR(bgr[1], 0x10 * (i % 15 + 1), 6) << i;
  }
  // The clean-up found every one of them by its name.
  EXPECT_EQ(rig.gen.LastRunUndeleted(), 0);
  EXPECT_TRUE(fs::is_empty(in));
}

// The command's tags go in as whole arguments, whatever the output path holds.
struct TagArgsCase {
  const char* name;
  const char* out_name;  // the output file's name inside the odd folder
};

class TagArgsTest : public ::testing::TestWithParam<TagArgsCase> {};

TEST_P(TagArgsTest, EachTagIsOneArgumentExactly) {
  TempDir dir("hostile-tags");
  const std::string folder = dir.File("out dir \"q\" 'x' \\ -n\n$(x) \xff");
  fs::create_directory(folder);
  const std::string out = folder + "/" + GetParam().out_name;
  const std::string record = dir.File("args");
  // The child writes each argument it gets followed by a 0x01 byte.
  const std::string command = "sh -c 'for a in \"$@\"; do printf \"%s\\001\" \"$a\"; done > \"$0\"' " +
                              record + " <outpath> <outfile> <outfilebase> \"<outdir>\" <outdir>x";
  Rig rig;
  rig.gen.SetOutputAVIPath(out);
  rig.gen.SetPostGenerationShell(command);
  rig.gen.SetRunTime(*DateTimeFromCivil(2006, 12, 7, 12, 0, 0));
  rig.gen.RunPostGenerationShell(rig.run);

  const std::string base = fs::path(GetParam().out_name).stem().string();
  const std::string expected = out + '\1' + GetParam().out_name + '\1' + base + '\1' + folder +
                               "/\1" + folder + "/x\1";
  EXPECT_EQ(ReadText(record), expected);
  EXPECT_TRUE(rig.host.messages.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Names, TagArgsTest,
    ::testing::Values(TagArgsCase{"blanks", "my movie.avi"},
                      TagArgsCase{"quotes", "it's \"the\" movie.avi"},
                      TagArgsCase{"newline", "two\nlines.avi"},
                      TagArgsCase{"leading_dash", "-rf.avi"},
                      TagArgsCase{"backslashes", "a\\ b\\.avi"},
                      TagArgsCase{"shell_words", "$(touch x);`touch x`|&.avi"},
                      TagArgsCase{"not_utf8", "\xff\xfe\xe9.avi"}),
    [](const auto& param_info) { return std::string(param_info.param.name); });

// ---- paths that cannot be scanned ----

// Removes a tree whose paths may be longer than the system takes, one level at a time.
void RemoveTreeAt(int parent, const char* name) {
  const int fd = openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd >= 0) {
    DIR* d = fdopendir(fd);
    if (d == nullptr) {
      close(fd);
      return;
    }
    const std::unique_ptr<DIR, int (*)(DIR*)> owner(d, closedir);
    std::vector<std::string> entries;
    while (const dirent* e = readdir(d)) {
      const std::string n = e->d_name;
      if (n != "." && n != "..") entries.push_back(n);
    }
    for (const std::string& n : entries) {
      if (unlinkat(fd, n.c_str(), 0) != 0) RemoveTreeAt(fd, n.c_str());
    }
  }
  unlinkat(parent, name, AT_REMOVEDIR);
}

// Folders nested until the path is `length` bytes or more; returns the deepest path.
std::string NestFolders(const std::string& root, size_t length) {
  std::string path = root;
  int fd = open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  const std::string part(200, 'd');
  while (path.size() < length) {
    if (mkdirat(fd, part.c_str(), 0755) != 0) break;
    const int next = openat(fd, part.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    close(fd);
    fd = next;
    path += "/" + part;
  }
  // A still at the bottom, written through the folder's handle.
  const std::vector<uint8_t> jpeg = MakeFlatJpeg(16, 16, 0x808080);
  const int still = openat(fd, "061207100000.jpg", O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  if (still >= 0) {
    if (write(still, jpeg.data(), jpeg.size()) < 0) path.clear();
    close(still);
  }
  close(fd);
  return path;
}

struct UnscannableCase {
  const char* name;
  std::function<std::string(const TempDir&)> make;  // returns the still directory
  size_t found;
};

void PrintTo(const UnscannableCase& c, std::ostream* os) { *os << c.name; }

class UnscannableTest : public ::testing::TestWithParam<UnscannableCase> {};

TEST_P(UnscannableTest, ScanEndsWithWhatItCanReach) {
  TempDir dir("hostile-paths");
  const std::string still_dir = GetParam().make(dir);
  ASSERT_FALSE(still_dir.empty());
  Rig rig;
  rig.gen.SetStillDirectory(still_dir);
  rig.gen.SetTimeStampOption(0);
  rig.gen.SetClock([] { return Clock(); });
  rig.gen.SetOutputAVIPath(dir.File("movie.avi"));
  rig.gen.MakeMovie(rig.run);
  std::string log;
  for (const std::string& note : rig.host.notes) log += "chronoreel: " + note + "\n";
  EXPECT_EQ(rig.gen.ImagePaths().size(), GetParam().found);
  if (GetParam().found == 0) {
    EXPECT_EQ(rig.host.Statuses().back(), "Status: No Files Found");
    // The scheduler's log says why, not only that nothing was found.
    EXPECT_NE(log.find("chronoreel: The still directory could not be read: " + still_dir),
              std::string::npos)
        << log;
    EXPECT_FALSE(fs::exists(dir.File("movie.avi")));
  } else {
    EXPECT_TRUE(rig.gen.LastRunCompleted());
    EXPECT_EQ(test::ProbeMovie(dir.File("movie.avi")).FrameCount(),
              static_cast<int>(GetParam().found));
  }
  RemoveTreeAt(AT_FDCWD, dir.Str().c_str());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, UnscannableTest,
    ::testing::Values(
        UnscannableCase{"deep_but_within_reach",
                        [](const TempDir& d) { return NestFolders(d.Str(), 3800); }, 1},
        UnscannableCase{"deeper_than_the_system_takes",
                        [](const TempDir& d) { return NestFolders(d.Str(), 5000); }, 0},
        UnscannableCase{"directory_is_a_file",
                        [](const TempDir& d) {
                          return WriteFlatJpeg(d.File("061207100000.jpg"), 8, 8, 0);
                        },
                        0},
        UnscannableCase{"missing", [](const TempDir& d) { return d.File("nowhere"); }, 0},
        UnscannableCase{"directory_links_to_itself",
                        [](const TempDir& d) {
                          fs::create_symlink(d.File("self"), d.File("self"));
                          return d.File("self");
                        },
                        0},
        UnscannableCase{"links_that_loop_and_links_that_lead_somewhere",
                        [](const TempDir& d) {
                          const std::string in = d.File("in");
                          fs::create_directory(in);
                          WriteFlatJpeg(d.File("outside.jpeg"), 8, 8, 0x00FF00);
                          WriteFlatJpeg(in + "/real.jpg", 8, 8, 0xFF0000);
                          fs::create_symlink(in + "/self.jpg", in + "/self.jpg");
                          fs::create_symlink(in + "/b.jpg", in + "/a.jpg");
                          fs::create_symlink(in + "/a.jpg", in + "/b.jpg");
                          fs::create_symlink(in, in + "/up.jpg");  // a folder: no still
                          fs::create_symlink(d.File("outside.jpeg"), in + "/link.jpg");
                          fs::create_symlink(d.File("gone.jpg"), in + "/dangling.jpg");
                          return in;
                        },
                        2}),
    [](const auto& param_info) { return std::string(param_info.param.name); });

// ---- permissions (root reads everything, so these run as nobody in a child) ----

// Runs `body` in a child process without root's rights; its result is the child's exit
// status, or -1 when it did not exit normally.
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

TEST(Permissions, UnreadableFolderAndStillAndUnwritableOutput) {
  TempDir dir("hostile-perms");
  fs::permissions(dir.Path(), fs::perms(0755));
  const std::string in = dir.File("in"), closed = dir.File("closed"), out = dir.File("out");
  for (const std::string& d : {in, closed, out}) fs::create_directory(d);
  WriteFlatJpeg(in + "/061207100000.jpg", 16, 16, 0xFF0000);
  WriteFlatJpeg(in + "/061207100100.jpg", 16, 16, 0x00FF00);
  WriteFlatJpeg(in + "/061207100200.jpg", 16, 16, 0x0000FF);
  WriteFlatJpeg(closed + "/061207100000.jpg", 16, 16, 0xFF0000);
  fs::permissions(in + "/061207100100.jpg", fs::perms::none);  // listed, cannot be read
  fs::permissions(closed, fs::perms(0311));                     // cannot be listed
  fs::permissions(out, fs::perms(0777));

  // The folder that cannot be listed: no stills, the run ends early.
  EXPECT_EQ(RunAsNobody([&] {
              Rig rig;
              rig.gen.SetStillDirectory(closed);
              rig.gen.SetTimeStampOption(1);
              rig.gen.SetOutputAVIPath(out + "/closed.avi");
              rig.gen.MakeMovie(rig.run);
              const bool ok = rig.gen.ImagePaths().empty() &&
                              rig.host.Statuses().back() == "Status: No Files Found";
              return ok ? 0 : 1;
            }),
            0);
  EXPECT_FALSE(fs::exists(out + "/closed.avi"));

  // The still that cannot be read gives no frame; the others do.
  EXPECT_EQ(RunAsNobody([&] {
              Rig rig;
              rig.gen.SetStillDirectory(in);
              rig.gen.SetTimeStampOption(1);
              rig.gen.SetOutputAVIPath(out + "/movie.avi");
              rig.gen.MakeMovie(rig.run);
              return rig.gen.LastRunCompleted() && rig.gen.ImagePaths().size() == 3 ? 0 : 1;
            }),
            0);
  EXPECT_EQ(test::ProbeMovie(out + "/movie.avi").FrameCount(), 2);

  // An output folder that cannot be written: the open fails and says so; nothing is left.
  fs::permissions(out, fs::perms(0555));
  EXPECT_EQ(RunAsNobody([&] {
              Rig rig;
              rig.gen.SetStillDirectory(in);
              rig.gen.SetTimeStampOption(1);
              rig.gen.SetOutputAVIPath(out + "/movie2.avi");
              rig.run.show_progress = true;
              rig.gen.MakeMovie(rig.run);
              const bool told = rig.host.messages.size() == 1 &&
                                rig.host.messages[0].text.rfind(
                                    "There was an error writing the AVI file.", 0) == 0;
              return told && !rig.gen.LastRunCompleted() ? 0 : 1;
            }),
            0);
  EXPECT_FALSE(fs::exists(out + "/movie2.avi"));
  EXPECT_EQ(std::distance(fs::directory_iterator(out), fs::directory_iterator()), 1);
  fs::permissions(out, fs::perms(0777));
  fs::permissions(closed, fs::perms(0755));
}

}  // namespace
}  // namespace chronoreel
