// The dry run: the scan and the selection of a real run, then a report instead of a movie.
#include <cmath>
#include <filesystem>
#include <system_error>

#include <cstdio>

#include "app/core/error_report.h"
#include "engine/movie_gen.h"

namespace chronoreel {

namespace {

std::string ClockText(double fraction) {
  const long seconds = std::lround(fraction * 86400);
  char text[16];
  if (seconds % 60 != 0)
    std::snprintf(text, sizeof text, "%02ld:%02ld:%02ld", seconds / 3600 % 24, seconds / 60 % 60, seconds % 60);
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
    notes.push_back("Hours of each day: " + ClockText(day_hours_start_) + " to " + ClockText(day_hours_stop_));
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
    std::snprintf(tolerance, sizeof tolerance, " (the nearest still within %g minutes)", daily_tolerance_minutes_);
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

  GetFileSpecs();
  result.stills_found = static_cast<int32_t>(images_.paths.size());
  if (CancelRequested()) {
    result.end = DryRunResult::End::Cancelled;
    return result;
  }
  if (images_.paths.empty()) {
    result.end = DryRunResult::End::NoFilesFound;
    return result;
  }
  const Selection selection = SelectFrames();
  result.selection_notes = SelectionNotes();
  switch (selection) {
    case Selection::Cancelled:
      result.end = DryRunResult::End::Cancelled;
      return result;
    case Selection::NoFrames:
      result.end = DryRunResult::End::NoFramesInWindow;
      return result;
    case Selection::Selected:
      break;
  }
  result.frame_paths = frames_.paths;
  result.frame_times = frames_.times;

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
    result.command = ExpandShellTags(post_generation_shell_, run_time_, output_avi_path_);
  }
  return result;
}

}  // namespace chronoreel
