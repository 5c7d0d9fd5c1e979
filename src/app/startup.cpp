#include "app/startup.h"

#include <atomic>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <memory>

#include "app/core/conversions.h"
#include "app/core/error_report.h"
#include "app/core/utility.h"
#include "engine/dry_run.h"
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
  namespace text = dry_run_text;
  const MovieGen::DryRunResult r = app.movie.DryRun();
  std::FILE* out = stdout;
  auto line = [out](const std::string& text) { std::fprintf(out, "%s\n", text.c_str()); };
  line(text::kHeading);
  line(text::StillsFound(r.stills_found));
  const MovieGen& m = app.movie;
  if (!std::isnan(m.Latitude()) || !std::isnan(m.Longitude())) {
    const Location at = m.RunLocation();
    line("Sun times at: " + CStrNI(at.latitude) + ", " + CStrNI(at.longitude) +
         " (the setup file's Latitude and Longitude)");
  }
  if (m.SkipDarkBelow() > 0 || m.SkipBrightAbove() < 255) {
    line("Left out: " + std::to_string(r.skipped_dark) + " darker than " + std::to_string(m.SkipDarkBelow()) +
         ", " + std::to_string(r.skipped_bright) + " brighter than " + std::to_string(m.SkipBrightAbove()));
  }
  for (const std::string& note : r.selection_notes) line(PrintableText(note));
  if (r.end == MovieGen::DryRunResult::End::Frames) {
    line(text::Frames(r.frame_paths, PrintableText(app.movie.OutputAVIPath())));
    line(text::MovieLength(r.frame_paths.size(), app.movie.RunFPS()));
    if (!text::Direction(r.direction).empty()) line(text::Direction(r.direction));
    PrintEnds(out, r.frame_paths.size(), 5, [&](size_t i) {
      line("  " + text::FrameLine(i + 1, r.frame_times[i], PrintableText(r.frame_paths[i])));
    });
  } else {
    line(PrintableText(r.reason));
  }
  if (app.movie.DeleteOldImages()) {
    line(text::WouldDelete(r.would_delete.size()));
    PrintEnds(out, r.would_delete.size(), 5,
              [&](size_t i) { std::fprintf(out, "  %s\n", PrintableText(r.would_delete[i]).c_str()); });
  }
  if (!r.command.empty() && r.end == MovieGen::DryRunResult::End::Frames) {
    line(text::CommandAfterwards(PrintableText(r.command)));
  }
  std::fflush(out);
  app.Shutdown();
  return r.end == MovieGen::DryRunResult::End::Cancelled ? kExitStopped : kExitCompleted;
}

// SIGTERM, SIGINT and SIGHUP stop the run at its next cancel point, with a display or
// without, and it changes nothing more: the previous movie stays, no command, no clean-up.
std::atomic<MovieGen*> g_running_movie{nullptr};
std::atomic<int> g_stop_signal{0};

extern "C" void OnTerminate(int signal_number) {
  g_stop_signal.store(signal_number);
  if (MovieGen* movie = g_running_movie.load()) movie->StopFromOutside();
}

class StopOnSignals {
 public:
  explicit StopOnSignals(MovieGen& movie) {
    g_running_movie.store(&movie);
    struct sigaction action {};
    action.sa_handler = OnTerminate;
    sigemptyset(&action.sa_mask);
    for (size_t i = 0; i < std::size(kSignals); ++i) sigaction(kSignals[i], &action, &old_[i]);
  }
  ~StopOnSignals() {
    for (size_t i = 0; i < std::size(kSignals); ++i) sigaction(kSignals[i], &old_[i], nullptr);
    g_running_movie.store(nullptr);
  }
  StopOnSignals(const StopOnSignals&) = delete;
  StopOnSignals& operator=(const StopOnSignals&) = delete;

 private:
  static constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};
  struct sigaction old_[std::size(kSignals)] {};
};

int ExitStatus(MovieGen::RunEnd end) {
  switch (end) {
    case MovieGen::RunEnd::Written: return kExitCompleted;
    case MovieGen::RunEnd::NothingToMake: return kExitNothingToMake;
    case MovieGen::RunEnd::WriteFailed: return kExitWriteFailed;
    case MovieGen::RunEnd::Busy: return kExitBusy;
    case MovieGen::RunEnd::Stopped: return kExitStopped;
    case MovieGen::RunEnd::CommandFailed: return kExitCommandFailed;
  }
  return kExitWriteFailed;
}

}  // namespace

int RunAutomated(Application& app) {
  ErrorTrap trap("modMain", "Main");
  const StopOnSignals stop_on_signals(app.movie);
  app.state.CurrentFile = app.state.cmd.SetupFileArgument;
  app.docs.LoadFile();
  app.ApplyOverrides();
  app.WarnOfSunWithoutLocation();
  if (app.state.cmd.DryRun) return ReportDryRun(app);

  // Taken before the scan, so that a second run on the same movie ends at once.
  auto lock = std::make_unique<OutputLock>(app.movie.OutputAVIPath());
  if (lock->Busy()) {
    std::fprintf(stderr, "chronoreel: another run is writing %s; this run ends without making it\n",
                 app.movie.OutputAVIPath().c_str());
    app.Shutdown();
    return kExitBusy;
  }
  if (!lock->Held()) {
    std::fprintf(stderr, "chronoreel: cannot lock %s (%s); another run could write it at the same time\n",
                 app.movie.OutputAVIPath().c_str(), lock->Error().c_str());
  }
  app.movie.HoldOutputLock(std::move(lock));
  app.movie.MakeMovie(
      {.show_progress = app.state.cmd.ShowProgress, .unattended = app.state.cmd.AutomatedRun});
  const int signal_number = g_stop_signal.load();
  if (signal_number != 0 && app.movie.LastRunEnd() == MovieGen::RunEnd::Stopped) {
    std::fprintf(stderr, "chronoreel: stopped by SIG%s%s\n", sigabbrev_np(signal_number),
                 app.movie.LastRunCompleted() ? " after the movie was written" : "; the previous movie stays");
    std::fflush(stderr);
  }
  const int status = ExitStatus(app.movie.LastRunEnd());
  app.Shutdown();
  return status;
}

}  // namespace chronoreel
