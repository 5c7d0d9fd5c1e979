// The dry run: the scan and the selection of a real run, then a report instead of a movie.
#include "engine/dry_run.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "app/core/error_report.h"
#include "engine/movie_gen.h"
#include "engine/run_notes.h"

namespace chronoreel {

namespace {

std::string ClockText(double fraction) {
  const long seconds = std::lround(fraction * 86400);
  char text[16];
  if (seconds % 60 != 0)
    std::snprintf(text, sizeof text, "%02ld:%02ld:%02ld", seconds / 3600 % 24, seconds / 60 % 60,
                  seconds % 60);
  else
    std::snprintf(text, sizeof text, "%02ld:%02ld", seconds / 3600 % 24, seconds / 60 % 60);
  return text;
}

std::string HoursText(double hours) {
  char text[32];
  std::snprintf(text, sizeof text, "%+g h", hours);
  return text;
}

}  // namespace

std::vector<std::string> MovieGen::SelectionNotes() const {
  std::vector<std::string> notes;
  if (time_option_ == 1)
    notes.push_back("Window: " + FormatDateTime(window_start_, "YYYY-MM-DD HH:MM:SS") + " to " +
                    FormatDateTime(window_stop_, "YYYY-MM-DD HH:MM:SS"));
  if (day_hours_option_ == 1) {
    notes.push_back("Hours of each day: " + ClockText(day_hours_start_) + " to " +
                    ClockText(day_hours_stop_));
  } else if (day_hours_option_ == 2) {
    notes.push_back("Hours of each day: sunrise " + HoursText(day_hours_sunrise_relative_) + " to sunset " +
                    HoursText(day_hours_sunset_relative_));
  }
  if (!daily_times_.empty()) {
    std::vector<double> times;
    ParseDailyTimes(daily_times_, times);
    std::string list;
    for (double t : times) list += (list.empty() ? "" : ", ") + ClockText(t);
    char tolerance[64];
    std::snprintf(tolerance, sizeof tolerance, " (the nearest still within %g minutes)",
                  daily_tolerance_minutes_);
    notes.push_back("Daily times: " + (list.empty() ? "none" : list) + tolerance);
  }
  if (!length_note_.empty()) notes.push_back(length_note_);
  return notes;
}

bool MovieGen::IsOldStill(DateTime run_time, DateTime still_time, float hours) {
  const float limit = static_cast<float>(static_cast<double>(hours) / 24.0);
  const float age = static_cast<float>(run_time - still_time);
  return age > limit;
}

MovieGen::DryRunResult MovieGen::DryRun() {
  ErrorTrap trap("MovieGen", "DryRun");
  DryRunResult result;
  StartRun();
  result.direction = run_direction_;
  // The same words as the run's status and log line for the same end.
  auto end = [&result](DryRunResult::End how, std::string reason) {
    result.end = how;
    result.reason = std::move(reason);
    return result;
  };

  GetFileSpecs();
  result.stills_found = static_cast<int32_t>(images_.paths.size());
  if (CancelRequested()) return end(DryRunResult::End::Cancelled, "Cancelled by User");
  if (images_.paths.empty()) {
    return end(DryRunResult::End::NoFilesFound,
               NoFilesFoundNote(still_directory_, image_filter_, include_subfolders_));
  }
  const Selection selection = SelectFrames();
  result.skipped_dark = skipped_dark_;
  result.skipped_bright = skipped_bright_;
  result.selection_notes = SelectionNotes();
  switch (selection) {
    case Selection::Cancelled:
      return end(DryRunResult::End::Cancelled, "Cancelled by User");
    case Selection::NoFrames:
      return end(DryRunResult::End::NoFramesInWindow,
                 NoFilesInWindowNote(window_start_, window_stop_, images_.times.front(), images_.times.back(),
                                     images_.times.size()));
    case Selection::Selected:
      break;
  }
  result.frame_paths = frames_.paths;
  result.frame_times = frames_.times;
  if (run_direction_ != 1) {
    std::reverse(result.frame_paths.begin(), result.frame_paths.end());
    std::reverse(result.frame_times.begin(), result.frame_times.end());
  }

  if (delete_old_images_) {
    for (size_t i = 0; i < images_.paths.size() && i < images_.times.size(); ++i) {
      if (!IsOldStill(run_time_, images_.times[i], delete_old_images_hours_)) continue;
      std::error_code ec;
      // The clean-up passes over folders that took a still's name; so does the report.
      if (std::filesystem::is_directory(std::filesystem::symlink_status(images_.paths[i], ec))) continue;
      result.would_delete.push_back(images_.paths[i]);
    }
  }
  if (!post_generation_shell_.empty()) {
    result.command = ExpandShellTags(post_generation_shell_, run_time_, output_avi_path_, SpanOf(frames_.times));
  }
  return result;
}

namespace dry_run_text {

std::string StillsFound(int32_t stills) {
  return "Stills found: " + std::to_string(stills);
}

size_t StillsInFrames(const std::vector<std::string>& frame_paths) {
  size_t stills = 0;
  for (size_t i = 0; i < frame_paths.size(); ++i) stills += (i == 0 || frame_paths[i] != frame_paths[i - 1]);
  return stills;
}

std::string Frames(const std::vector<std::string>& frame_paths, const std::string& output) {
  const size_t stills = StillsInFrames(frame_paths);
  std::string text = "Frames: " + std::to_string(frame_paths.size());
  if (stills != frame_paths.size()) text += " from " + std::to_string(stills) + " stills";
  return text + ", into " + output;
}

std::string MovieLength(size_t frames, int32_t fps) {
  const double seconds = fps > 0 ? static_cast<double>(frames) / fps : 0;
  // Hundredths, rounded once, so that 59.998 s reads 1:00.00 and not 59.100.
  const long long hundredths = std::llround(seconds * 100);
  const long long whole = hundredths / 100;
  const int fraction = static_cast<int>(hundredths % 100);
  char text[64];
  if (whole < 60) {
    std::snprintf(text, sizeof text, "%lld.%02d s", whole, fraction);
  } else if (whole < 3600) {
    std::snprintf(text, sizeof text, "%lld:%02lld.%02d", whole / 60, whole % 60, fraction);
  } else {
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld.%02d", whole / 3600, whole / 60 % 60, whole % 60,
                  fraction);
  }
  return "Movie length: " + std::string(text) + " at " + std::to_string(fps) + " fps";
}

std::string Direction(int32_t direction) {
  return direction == 1 ? "" : "Played backwards: from the latest still to the earliest";
}

std::string FrameText(DateTime time, const std::string& path) {
  return FormatDateTime(time, "YYYY-MM-DD HH:MM:SS") + "  " + path;
}

std::string FrameLine(size_t number, DateTime time, const std::string& path) {
  char head[32];
  std::snprintf(head, sizeof head, "%6zu  ", number);
  return head + FrameText(time, path);
}

std::string WouldDelete(size_t stills) {
  return "Stills that would be deleted: " + std::to_string(stills);
}

std::string CommandAfterwards(const std::string& command) {
  return "Command afterwards: " + (command.empty() ? std::string("none") : command);
}

}  // namespace dry_run_text

}  // namespace chronoreel
