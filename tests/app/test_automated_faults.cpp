// Unattended runs of the real program when the disk misbehaves, when it is killed or
// signalled part-way, and when two runs meet. Each case ends in a known exit status, and
// the previous movie, setup file and profile are either untouched or wholly replaced.
//
// Full and read-only storage are small tmpfs mounts; where mounting is not permitted those
// cases skip with a message.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/core/conversions.h"
#include "app/core/host.h"
#include "app/core/program_state.h"
#include "engine/movie_gen.h"
#include "setup/documents.h"
#include "setup/ini.h"
#include "support/jpeg_maker.h"
#include "support/probe_movie.h"
#include "support/program.h"
#include "support/test_files.h"
#include "time/sun.h"

namespace chronoreel {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
using std::chrono::seconds;

constexpr char kMjpgHandler[] = "1196444237";  // "MJPG": small frames, a long frame loop


// Names of the folder's entries that start with `prefix`.
std::vector<std::string> EntriesStartingWith(const std::string& dir, const std::string& prefix) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(dir, ec)) {
    const std::string name = e.path().filename().string();
    if (name.compare(0, prefix.size(), prefix) == 0) names.push_back(name);
  }
  return names;
}

using test::Program;

// Wakes when a file whose name starts with a prefix is created or written in a folder.
class FolderWatch {
 public:
  explicit FolderWatch(const std::string& dir) : dir_(dir), fd_(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
    if (fd_ >= 0) ::inotify_add_watch(fd_, dir.c_str(), IN_CREATE | IN_MODIFY | IN_MOVED_TO);
  }
  ~FolderWatch() {
    if (fd_ >= 0) ::close(fd_);
  }
  FolderWatch(const FolderWatch&) = delete;
  FolderWatch& operator=(const FolderWatch&) = delete;

  // True once such a file exists holding at least min_size bytes; false after the limit.
  bool WaitFor(const std::string& prefix, uintmax_t min_size, milliseconds limit) {
    const auto deadline = Clock::now() + limit;
    for (;;) {
      for (const std::string& name : EntriesStartingWith(dir_, prefix)) {
        std::error_code ec;
        const uintmax_t size = fs::file_size(dir_ + "/" + name, ec);
        if (!ec && size >= min_size) return true;
      }
      const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now());
      if (left.count() <= 0 || fd_ < 0) return false;
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, static_cast<int>(std::min<long>(left.count(), 50))) > 0) {
        alignas(inotify_event) char buffer[16384];
        while (::read(fd_, buffer, sizeof buffer) > 0) {
        }
      }
    }
  }

 private:
  std::string dir_;
  int fd_;
};

// A tmpfs of the given size on a fresh folder, unmounted when the owner goes.
class TmpfsMount {
 public:
  TmpfsMount(const std::string& dir, const std::string& size) : dir_(dir), size_("size=" + size) {
    fs::create_directories(dir);
    if (::mount("tmpfs", dir.c_str(), "tmpfs", 0, size_.c_str()) == 0) {
      mounted_ = true;
    } else {
      reason_ = std::strerror(errno);
    }
  }
  ~TmpfsMount() {
    if (mounted_) ::umount2(dir_.c_str(), MNT_DETACH);
  }
  TmpfsMount(const TmpfsMount&) = delete;
  TmpfsMount& operator=(const TmpfsMount&) = delete;

  bool Mounted() const { return mounted_; }
  const std::string& Reason() const { return reason_; }
  bool MakeReadOnly() {
    return ::mount("tmpfs", dir_.c_str(), "tmpfs", MS_REMOUNT | MS_RDONLY, size_.c_str()) == 0;
  }

 private:
  std::string dir_;
  std::string size_;
  bool mounted_ = false;
  std::string reason_;
};

#define MOUNT_OR_SKIP(m)                                                                   \
  if (!(m).Mounted())                                                                      \
  GTEST_SKIP() << "mounting a tmpfs is not permitted here (" << (m).Reason()               \
               << "); run as root with CAP_SYS_ADMIN to test full and read-only storage"

// One still of noise (so that it takes real work to decode and encode), linked under
// `count` names one minute apart from 7 December 2006 10:00.
void MakeStills(const std::string& dir, int count, int width = 320, int height = 240) {
  fs::create_directories(dir);
  std::mt19937 random(7);
  std::vector<uint8_t> rgb(static_cast<size_t>(width) * height * 3);
  for (uint8_t& v : rgb) v = static_cast<uint8_t>(random());
  const std::string first = dir + "/first.tmp";
  WriteBytes(first, EncodeJpeg(rgb, width, height));
  for (int i = 0; i < count; ++i) {
    char name[40];
    std::snprintf(name, sizeof name, "061207%02d%02d0000.jpg", 10 + i / 60, i % 60);
    fs::create_hard_link(first, dir + "/" + name);
  }
  fs::remove(first);
}

struct SetupOptions {
  std::string handler = "0";  // uncompressed
  bool delete_old = false;
  std::string command;
  std::string padding;  // extra lines, to make the file slow to rewrite
};

std::string SetupText(const std::string& stills, const std::string& movie, const SetupOptions& o = {}) {
  std::string text = "[General]\nStillDirectory=" + stills + "\nImageFilter=*.jpg\nOutputAVIPath=" + movie +
                     "\nTimeStampOption=1\nDeleteOldImages=" + (o.delete_old ? "True" : "False") +
                     "\nPostGenerationShell=" + o.command + "\n";
  text += o.padding;
  text += "[Compress]\nHandler=" + o.handler + "\nQuality=5000\n";
  return text;
}

// Padding of comment lines: a file of several megabytes, so that a save takes a while.
std::string Padding(int lines) {
  std::string text;
  for (int i = 0; i < lines; ++i) text += "; padding line " + std::to_string(i) + std::string(60, '.') + "\n";
  return text;
}

class AutomatedFaults : public ::testing::Test {
 protected:
  // The runs keep their locks in a runtime folder of this test's own.
  void SetUp() override {
    fs::create_directory(Path("run"));
    fs::permissions(Path("run"), fs::perms::owner_all);
    ::setenv("XDG_RUNTIME_DIR", Path("run").c_str(), 1);
  }
  void TearDown() override { ::unsetenv("XDG_RUNTIME_DIR"); }

  std::string Path(const std::string& name) const { return dir_.File(name); }
  // The profile folder: the program's current directory.
  std::string Home() {
    fs::create_directories(Path("home"));
    return Path("home");
  }

  TempDir dir_{"chronoreel-faults"};
};

// ---- faults of the disk ----

TEST_F(AutomatedFaults, FullOutputFolderKeepsThePreviousMovie) {
  TmpfsMount out(Path("out"), "1m");
  MOUNT_OR_SKIP(out);
  MakeStills(Path("stills"), 40);  // 40 uncompressed frames of 230 kB: far beyond 1 MB
  const std::string movie = Path("out/cam.avi");
  const std::string previous(300 * 1024, 'p');
  WriteText(movie, previous);
  WriteText(Path("cam.tls"), SetupText(Path("stills"), movie));

  Program run({"/a", "/f=" + Path("cam.tls"), "/i"}, Home());
  EXPECT_EQ(run.Wait(), 4);
  EXPECT_EQ(ReadText(movie), previous);
  EXPECT_EQ(Entries(Path("out")), std::vector<std::string>{"cam.avi"}) << "temporary movie or lock left behind";
  EXPECT_NE(run.Err().find("No space left on device"), std::string::npos) << run.Err();
}

TEST_F(AutomatedFaults, ReadOnlyOutputFailsAndKeepsThePreviousMovie) {
  struct Case {
    const char* name;
    bool read_only_mount;  // else the movie file itself has no write permission
  };
  MakeStills(Path("stills"), 3);
  for (const Case c : {Case{"read-only storage", true}, Case{"read-only file", false}}) {
    SCOPED_TRACE(c.name);
    const std::string folder = Path(std::string("out-") + (c.read_only_mount ? "mount" : "file"));
    TmpfsMount out(folder, "4m");
    MOUNT_OR_SKIP(out);
    const std::string movie = folder + "/cam.avi";
    WriteText(movie, "previous movie");
    if (c.read_only_mount) {
      ASSERT_TRUE(out.MakeReadOnly());
    } else {
      fs::permissions(movie, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    }
    WriteText(Path("cam.tls"), SetupText(Path("stills"), movie));

    Program run({"/a", "/f=" + Path("cam.tls"), "/i"}, Home());
    EXPECT_EQ(run.Wait(), 4);
    EXPECT_EQ(ReadText(movie), "previous movie");
    EXPECT_NE(run.Err().find("There was an error writing the AVI file."), std::string::npos) << run.Err();
    EXPECT_TRUE(EntriesStartingWith(folder, ".cam.avi.chronoreel-").empty());
  }
}

TEST_F(AutomatedFaults, SetupFileOnReadOnlyStorageIsReadAndLeftAlone) {
  TmpfsMount setup_folder(Path("setup"), "1m");
  MOUNT_OR_SKIP(setup_folder);
  MakeStills(Path("stills"), 3);
  const std::string setup = Path("setup/cam.tls");
  // Most keys are missing: the run would complete the file if it could.
  const std::string text = SetupText(Path("stills"), Path("cam.avi"));
  WriteText(setup, text);
  ASSERT_TRUE(setup_folder.MakeReadOnly());

  Program run({"/a", "/f=" + setup, "/i"}, Home());
  EXPECT_EQ(run.Wait(), 0) << run.Err();
  EXPECT_EQ(ReadText(setup), text);
  EXPECT_EQ(test::ProbeMovie(Path("cam.avi")).FrameCount(), 3);
}

TEST_F(AutomatedFaults, ProfileThatCannotBeWrittenIsReportedAndLeftAlone) {
  TmpfsMount home(Path("rohome"), "1m");
  MOUNT_OR_SKIP(home);
  MakeStills(Path("stills"), 3);
  const std::string profile = Path("rohome/Chronoreel.INI");
  const std::string text = "[General]\nLatitude=47.5\n";  // no Longitude: the run must write one
  WriteText(profile, text);
  ASSERT_TRUE(home.MakeReadOnly());
  WriteText(Path("cam.tls"), SetupText(Path("stills"), Path("cam.avi")));

  Program run({"/a", "/f=" + Path("cam.tls"), "/i"}, Path("rohome"));
  // The movie is the purpose of the run; the profile's failure is told, not fatal.
  EXPECT_EQ(run.Wait(), 0) << run.Err();
  EXPECT_EQ(ReadText(profile), text);
  EXPECT_NE(run.Err().find("Chronoreel.INI"), std::string::npos) << run.Err();
  EXPECT_EQ(test::ProbeMovie(Path("cam.avi")).FrameCount(), 3);
}

TEST_F(AutomatedFaults, KillWhileWritingTheMovieKeepsThePreviousOne) {
  constexpr int kFrames = 400;
  MakeStills(Path("stills"), kFrames);
  fs::create_directories(Path("out"));
  const std::string movie = Path("out/cam.avi");
  const std::string previous = "previous movie";
  WriteText(movie, previous);
  SetupOptions options;
  options.handler = kMjpgHandler;
  WriteText(Path("cam.tls"), SetupText(Path("stills"), movie, options));

  {
    FolderWatch watch(Path("out"));
    Program run({"/a", "/f=" + Path("cam.tls"), "/i"}, Home());
    ASSERT_TRUE(watch.WaitFor(".cam.avi.chronoreel-", 64 * 1024, seconds(120)));
    run.Signal(SIGKILL);
    EXPECT_EQ(run.Wait(), std::nullopt);
    EXPECT_EQ(run.TermSignal(), SIGKILL);
  }
  EXPECT_EQ(ReadText(movie), previous);

  // The next run replaces it whole and at once clears what the killed run left behind,
  // but never the file of a run that is still writing (it holds a lock on it).
  ASSERT_EQ(EntriesStartingWith(Path("out"), ".cam.avi.chronoreel-").size(), 1u);
  const std::string live = Path("out/.cam.avi.chronoreel-LIVE01.avi");
  WriteText(live, "another run's movie");
  const int live_fd = ::open(live.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(live_fd, 0);
  ASSERT_EQ(::flock(live_fd, LOCK_EX), 0);

  Program again({"/a", "/f=" + Path("cam.tls"), "/i"}, Home());
  EXPECT_EQ(again.Wait(), 0) << again.Err();
  ::close(live_fd);
  EXPECT_EQ(test::ProbeMovie(movie).FrameCount(), kFrames);
  EXPECT_EQ(Entries(Path("out")), (std::vector<std::string>{".cam.avi.chronoreel-LIVE01.avi", "cam.avi"}));
  EXPECT_EQ(Entries(Path("run/chronoreel")), std::vector<std::string>{}) << "the killed run's lock stayed";
}

// A kill while the run rewrites a file it completes with defaults (the setup file at load,
// the profile at start): the file is the old one or the whole new one.
TEST_F(AutomatedFaults, KillWhileSavingLeavesTheOldFileOrTheWholeNewOne) {
  struct Case {
    const char* name;
    bool profile;  // else the setup file
  };
  for (const Case c : {Case{"setup file", false}, Case{"profile", true}}) {
    SCOPED_TRACE(c.name);
    const std::string folder = Path(c.profile ? "kill-profile" : "kill-setup");
    fs::create_directories(folder + "/stills");  // no stills: the run ends right after loading
    const std::string setup = folder + "/cam.tls";
    const std::string profile = folder + "/Chronoreel.INI";
    SetupOptions options;
    if (!c.profile) options.padding = Padding(120000);
    const std::string setup_text = SetupText(folder + "/stills", folder + "/cam.avi", options);
    const std::string profile_text = "[General]\nLatitude=47.5\n" + (c.profile ? Padding(120000) : "");
    const std::string target = c.profile ? profile : setup;
    const std::string temp_prefix = c.profile ? ".Chronoreel.INI." : ".cam.tls.";

    // What a completed save writes.
    WriteText(setup, setup_text);
    WriteText(profile, profile_text);
    {
      Program reference({"/a", "/f=" + setup, "/i"}, folder);
      ASSERT_EQ(reference.Wait(), 1) << reference.Err();  // no stills found
    }
    const std::string saved = ReadText(target);
    ASSERT_NE(saved, c.profile ? profile_text : setup_text);

    int killed_mid_save = 0;
    for (int attempt = 0; attempt < 5 && killed_mid_save == 0; ++attempt) {
      for (const std::string& t : EntriesStartingWith(folder, temp_prefix)) fs::remove(folder + "/" + t);
      WriteText(setup, setup_text);
      WriteText(profile, profile_text);
      FolderWatch watch(folder);
      Program run({"/a", "/f=" + setup, "/i"}, folder);
      ASSERT_TRUE(watch.WaitFor(temp_prefix, 0, seconds(60)));
      run.Signal(SIGKILL);
      run.Wait();
      const std::string now = ReadText(target);
      const std::string original = c.profile ? profile_text : setup_text;
      EXPECT_TRUE(now == original || now == saved) << "half-written: " << now.size() << " bytes";
      if (!EntriesStartingWith(folder, temp_prefix).empty()) ++killed_mid_save;
    }
    EXPECT_GT(killed_mid_save, 0) << "no kill landed in the middle of a save";
  }
}

// An age limit beyond the float range that holds it: once saved and loaded again it must
// still mean "keep every still", never 0 hours (which would delete them all).
TEST_F(AutomatedFaults, AgeLimitBeyondTheFloatRangeSurvivesASave) {
  MakeStills(Path("stills"), 3);
  const std::string setup = Path("cam.tls");
  WriteText(setup, "[General]\nStillDirectory=" + Path("stills") + "\nOutputAVIPath=" + Path("cam.avi") +
                       "\nTimeStampOption=1\nDeleteOldImages=True\nDeleteOldImagesHours=1E+65\n");
  for (int round = 0; round < 2; ++round) {
    ProgramState state;
    NullHost host;
    Sun sun(state.location);
    MovieGen movie(state, sun, host);
    INI ini;
    Documents docs(state, movie, ini, host, sun);
    state.cmd.AutomatedRun = true;
    state.CurrentFile = setup;
    docs.LoadFile();
    ASSERT_TRUE(docs.SaveFile());
  }
  INI saved;
  saved.SetFile(setup);
  EXPECT_GT(Str2DblNI(saved.GetKey("General", "DeleteOldImagesHours", false, "")), 1e38);

  Program run({"/a", "/f=" + setup, "/i"}, Home());
  EXPECT_EQ(run.Wait(), 0) << run.Err();
  EXPECT_EQ(EntriesStartingWith(Path("stills"), "0612").size(), 3u) << "stills were deleted";
}

// ---- concurrent runs ----

TEST_F(AutomatedFaults, SecondRunOnTheSameOutputEndsAtOnce) {
  constexpr int kFrames = 300;
  MakeStills(Path("stills"), kFrames);
  fs::create_directories(Path("out"));
  fs::create_directories(Path("links"));
  const std::string movie = Path("out/cam.avi");
  SetupOptions options;
  options.handler = kMjpgHandler;
  WriteText(Path("cam.tls"), SetupText(Path("stills"), movie, options));
  // The same movie under other names: a link, a chain of relative links, a linked folder.
  fs::create_symlink(movie, Path("links/direct.avi"));
  fs::create_symlink("../out/cam.avi", Path("links/hop.avi"));
  fs::create_symlink("hop.avi", Path("links/chain.avi"));
  fs::create_directory_symlink(Path("out"), Path("links/folder"));

  FolderWatch watch(Path("out"));
  Program first({"/a", "/f=" + Path("cam.tls"), "/i"}, Home());
  ASSERT_TRUE(watch.WaitFor(".cam.avi.chronoreel-", 1, seconds(120)));
  first.Signal(SIGSTOP);  // mid-movie for as long as the second runs take
  for (const std::string& output :
       {movie, Path("links/direct.avi"), Path("links/chain.avi"), Path("links/folder/cam.avi")}) {
    SCOPED_TRACE(output);
    Program second({"/a", "/f=" + Path("cam.tls"), "/i", "/op=" + output}, Home());
    EXPECT_EQ(second.Wait(seconds(60)), 5);
    EXPECT_NE(second.Err().find("another run is writing " + output), std::string::npos) << second.Err();
  }
  first.Signal(SIGCONT);
  EXPECT_EQ(first.Wait(), 0) << first.Err();
  EXPECT_EQ(test::ProbeMovie(movie).FrameCount(), kFrames);
  EXPECT_EQ(Entries(Path("out")), std::vector<std::string>{"cam.avi"});
  EXPECT_EQ(Entries(Path("links")), (std::vector<std::string>{"chain.avi", "direct.avi", "folder", "hop.avi"}));
}

// The lock guards the writing of the movie only: a command afterwards that never ends
// must not keep the next run from making it.
TEST_F(AutomatedFaults, CommandThatNeverEndsDoesNotHoldTheMovie) {
  MakeStills(Path("stills"), 3);
  const std::string movie = Path("cam.avi");
  SetupOptions hanging;
  hanging.command = "sh -c 'echo $$ > " + Path("command.pid") + "; exec sleep 60'";
  WriteText(Path("hang.tls"), SetupText(Path("stills"), movie, hanging));
  WriteText(Path("cam.tls"), SetupText(Path("stills"), movie));

  FolderWatch watch(dir_.Str());
  Program first({"/a", "/f=" + Path("hang.tls"), "/i"}, Home());
  ASSERT_TRUE(watch.WaitFor("command.pid", 1, seconds(120)));
  Program second({"/a", "/f=" + Path("cam.tls"), "/i"}, Home());
  EXPECT_EQ(second.Wait(seconds(60)), 0) << second.Err();
  EXPECT_TRUE(first.Running());
  ::kill(std::stoi(ReadText(Path("command.pid"))), SIGKILL);
}

TEST_F(AutomatedFaults, RunsSharingAStillFolderBothSucceed) {
  constexpr int kFrames = 60;
  MakeStills(Path("stills"), kFrames);
  SetupOptions options;
  options.handler = kMjpgHandler;
  WriteText(Path("a.tls"), SetupText(Path("stills"), Path("a.avi"), options));
  WriteText(Path("b.tls"), SetupText(Path("stills"), Path("b.avi"), options));

  Program a({"/a", "/f=" + Path("a.tls"), "/i"}, Home());
  Program b({"/a", "/f=" + Path("b.tls"), "/i"}, Home());
  EXPECT_EQ(a.Wait(), 0) << a.Err();
  EXPECT_EQ(b.Wait(), 0) << b.Err();
  EXPECT_EQ(test::ProbeMovie(Path("a.avi")).FrameCount(), kFrames);
  EXPECT_EQ(test::ProbeMovie(Path("b.avi")).FrameCount(), kFrames);
}

// One run deletes the old stills while another is still reading them: the reader takes a
// vanished still as no frame and finishes its movie.
TEST_F(AutomatedFaults, CleanUpByOneRunDoesNotBreakAnotherReadingTheStills) {
  constexpr int kFrames = 300;
  MakeStills(Path("stills"), kFrames);
  SetupOptions reader_options;
  reader_options.handler = kMjpgHandler;
  WriteText(Path("reader.tls"), SetupText(Path("stills"), Path("out/reader.avi"), reader_options));
  SetupOptions cleaner_options;
  cleaner_options.delete_old = true;  // every still is years old
  WriteText(Path("cleaner.tls"), SetupText(Path("stills"), Path("cleaner.avi"), cleaner_options));
  fs::create_directories(Path("out"));

  FolderWatch watch(Path("out"));
  Program reader({"/a", "/f=" + Path("reader.tls"), "/i"}, Home());
  ASSERT_TRUE(watch.WaitFor(".reader.avi.chronoreel-", 1, seconds(120)));
  // The reader holds still in the middle of its frames while the cleaner makes a movie of
  // the first still alone and then removes every still.
  reader.Signal(SIGSTOP);
  Program cleaner({"/a", "/f=" + Path("cleaner.tls"), "/i", "/s=2006-12-07T10:00", "/e=2006-12-07T10:00"}, Home());
  EXPECT_EQ(cleaner.Wait(), 0) << cleaner.Err();
  reader.Signal(SIGCONT);
  EXPECT_EQ(test::ProbeMovie(Path("cleaner.avi")).FrameCount(), 1);
  EXPECT_TRUE(EntriesStartingWith(Path("stills"), "0612").empty());

  EXPECT_EQ(reader.Wait(), 0) << reader.Err();
  const int frames = test::ProbeMovie(Path("out/reader.avi")).FrameCount();
  EXPECT_GE(frames, 1);
  EXPECT_LT(frames, kFrames) << "no still vanished under the reader";
}

// ---- signals ----

// A run stopped from outside changes nothing, with a display or without: the previous
// movie stays, the partial one goes, no command runs and no still is deleted.
TEST_F(AutomatedFaults, TerminationSignalChangesNothing) {
  constexpr int kFrames = 400;
  MakeStills(Path("stills"), kFrames);
  struct Case {
    int signal_number;
    bool with_display;
  };
  for (const Case c : {Case{SIGTERM, false}, Case{SIGINT, false}, Case{SIGHUP, false}, Case{SIGTERM, true}}) {
    SCOPED_TRACE(std::string(sigabbrev_np(c.signal_number)) + (c.with_display ? " with a display" : ""));
    const std::string folder = Path("out-" + std::to_string(c.signal_number) + (c.with_display ? "-display" : ""));
    fs::create_directories(folder);
    const std::string movie = folder + "/cam.avi";
    WriteText(movie, "previous movie");
    SetupOptions options;
    options.handler = kMjpgHandler;
    options.delete_old = true;  // every still is years old
    options.command = "touch " + folder + "/command-ran";
    WriteText(folder + "/cam.tls", SetupText(Path("stills"), movie, options));

    FolderWatch watch(folder);
    // With a display the run sees Qt's offscreen platform, as a run started from a desktop does.
    const test::Launch display{.env = {"QT_QPA_PLATFORM=offscreen"}};
    Program run({"/a", "/f=" + folder + "/cam.tls"}, Home(), c.with_display ? display : test::Launch{});
    ASSERT_TRUE(watch.WaitFor(".cam.avi.chronoreel-", 64 * 1024, seconds(120)));
    run.Signal(c.signal_number);
    EXPECT_EQ(run.Wait(), 6) << "ended by signal " << run.TermSignal();
    EXPECT_NE(run.Err().find(std::string("stopped by SIG") + sigabbrev_np(c.signal_number)), std::string::npos)
        << run.Err();
    EXPECT_EQ(ReadText(movie), "previous movie");
    EXPECT_TRUE(EntriesStartingWith(folder, ".cam.avi.chronoreel-").empty());
    EXPECT_FALSE(fs::exists(folder + "/command-ran")) << "a stopped run ran the command";
    EXPECT_EQ(EntriesStartingWith(Path("stills"), "0612").size(), size_t{kFrames});
  }
}

}  // namespace
}  // namespace chronoreel
