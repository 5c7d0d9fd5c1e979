#include "app/startup.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "app/core/error_report.h"
#include "app/core/utility.h"
#include "time/date_time.h"

namespace chronoreel {

namespace {

// An advisory lock on a file beside the output, held for the length of the run, so that
// two scheduled runs never write the same movie at once.
class OutputLock {
 public:
  explicit OutputLock(const std::string& output_path) {
    std::filesystem::path out(output_path);
    std::filesystem::path lock = out.parent_path() / ("." + out.filename().string() + ".lock");
    path_ = lock.string();
    fd_ = ::open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd_ < 0) return;  // a folder we cannot write: the run reports that itself
    if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
      busy_ = (errno == EWOULDBLOCK);
      ::close(fd_);
      fd_ = -1;
    }
  }
  ~OutputLock() {
    if (fd_ >= 0) ::close(fd_);
  }
  OutputLock(const OutputLock&) = delete;
  OutputLock& operator=(const OutputLock&) = delete;

  bool Busy() const { return busy_; }

 private:
  std::string path_;
  int fd_ = -1;
  bool busy_ = false;
};

// Lists the first and the last few of many lines, and says how many were left out.
template <typename Line>
void PrintEnds(std::FILE* out, size_t count, size_t shown_at_each_end, Line line) {
  for (size_t i = 0; i < count; ++i) {
    if (count > 2 * shown_at_each_end && i == shown_at_each_end) {
      std::fprintf(out, "  ... %zu more ...\n", count - 2 * shown_at_each_end);
      i = count - shown_at_each_end;
    }
    line(i);
  }
}

int ReportDryRun(Application& app) {
  const MovieGen::DryRunResult r = app.movie.DryRun();
  std::FILE* out = stdout;
  std::fprintf(out, "Dry run: nothing is written, deleted or started.\n");
  std::fprintf(out, "Stills found: %d\n", static_cast<int>(r.stills_found));
  switch (r.end) {
    case MovieGen::DryRunResult::End::NoFilesFound:
      std::fprintf(out, "No Files Found\n");
      break;
    case MovieGen::DryRunResult::End::NoFramesInWindow:
      std::fprintf(out, "No Files Met Timing Criteria\n");
      break;
    case MovieGen::DryRunResult::End::Cancelled:
      std::fprintf(out, "Cancelled by User\n");
      break;
    case MovieGen::DryRunResult::End::Frames:
      std::fprintf(out, "Frames: %zu, into %s\n", r.frame_paths.size(),
                   PrintableText(app.movie.OutputAVIPath()).c_str());
      PrintEnds(out, r.frame_paths.size(), 5, [&](size_t i) {
        std::fprintf(out, "  %6zu  %s  %s\n", i + 1, FormatDateTime(r.frame_times[i], "YYYY-MM-DD HH:MM:SS").c_str(),
                     PrintableText(r.frame_paths[i]).c_str());
      });
      break;
  }
  if (app.movie.DeleteOldImages()) {
    std::fprintf(out, "Stills that would be deleted: %zu\n", r.would_delete.size());
    PrintEnds(out, r.would_delete.size(), 5,
              [&](size_t i) { std::fprintf(out, "  %s\n", PrintableText(r.would_delete[i]).c_str()); });
  }
  if (!r.command.empty() && r.end == MovieGen::DryRunResult::End::Frames) {
    std::fprintf(out, "Command afterwards: %s\n", PrintableText(r.command).c_str());
  }
  std::fflush(out);
  app.Shutdown();
  return r.end == MovieGen::DryRunResult::End::Cancelled ? kExitEndedEarly : kExitCompleted;
}

// SIGTERM and SIGINT act as Cancel, with a display or without: the run stops at its next
// cancel point and keeps the movie written so far.
std::atomic<MovieGen*> g_running_movie{nullptr};

extern "C" void OnTerminate(int) {
  if (MovieGen* movie = g_running_movie.load()) movie->SetCancelMovie(true);
}

class CancelOnSignals {
 public:
  explicit CancelOnSignals(MovieGen& movie) {
    g_running_movie.store(&movie);
    struct sigaction action {};
    action.sa_handler = OnTerminate;
    sigemptyset(&action.sa_mask);
    sigaction(SIGTERM, &action, &old_term_);
    sigaction(SIGINT, &action, &old_int_);
  }
  ~CancelOnSignals() {
    sigaction(SIGTERM, &old_term_, nullptr);
    sigaction(SIGINT, &old_int_, nullptr);
    g_running_movie.store(nullptr);
  }
  CancelOnSignals(const CancelOnSignals&) = delete;
  CancelOnSignals& operator=(const CancelOnSignals&) = delete;

 private:
  struct sigaction old_term_ {};
  struct sigaction old_int_ {};
};

}  // namespace

int RunAutomated(Application& app) {
  ErrorTrap trap("modMain", "Main");
  const CancelOnSignals cancel_on_signals(app.movie);
  app.state.CurrentFile = app.state.cmd.SetupFileArgument;
  app.docs.LoadFile();
  app.ApplyOverrides();
  app.WarnOfSunWithoutLocation();
  if (app.state.cmd.DryRun) return ReportDryRun(app);

  OutputLock lock(app.movie.OutputAVIPath());
  if (lock.Busy()) {
    std::fprintf(stderr, "chronoreel: another run is writing %s; this run ends without making it\n",
                 app.movie.OutputAVIPath().c_str());
    app.Shutdown();
    return kExitEndedEarly;
  }
  app.movie.MakeMovie();
  const bool completed = app.movie.LastRunCompleted();
  app.Shutdown();
  return completed ? kExitCompleted : kExitEndedEarly;
}

}  // namespace chronoreel
