#include "app/startup.h"

#include <atomic>
#include <csignal>
#include <cstdio>
#include <memory>

#include "app/core/error_report.h"
#include "app/core/utility.h"
#include "engine/output_lock.h"
#include "time/date_time.h"

namespace chronoreel {

namespace {

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
  if (app.state.cmd.DryRun) return ReportDryRun(app);

  // Taken before the scan, so that a second run on the same movie ends at once.
  auto lock = std::make_unique<OutputLock>(app.movie.OutputAVIPath());
  if (lock->Busy()) {
    std::fprintf(stderr, "chronoreel: another run is writing %s; this run ends without making it\n",
                 app.movie.OutputAVIPath().c_str());
    app.Shutdown();
    return kExitEndedEarly;
  }
  if (!lock->Held()) {
    std::fprintf(stderr, "chronoreel: cannot lock %s (%s); another run could write it at the same time\n",
                 app.movie.OutputAVIPath().c_str(), lock->Error().c_str());
  }
  app.movie.HoldOutputLock(std::move(lock));
  app.movie.MakeMovie();
  const bool completed = app.movie.LastRunCompleted();
  app.Shutdown();
  return completed ? kExitCompleted : kExitEndedEarly;
}

}  // namespace chronoreel
