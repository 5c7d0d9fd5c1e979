#pragma once
// The stages of a run, each a function of what it reads and where it reports, so that a
// run, the dry run and the tests go through the same code: the time window, the scan of
// the still folder and the selection of the frames (the composition and writing:
// write_movie.h), and what every stage is given besides its own inputs.
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "app/core/host.h"
#include "time/date_time.h"
#include "time/sun.h"

namespace chronoreel {

// How a run was asked for; its caller decides (the command line, the main window).
struct RunOptions {
  bool show_progress = true;  // the progress window, and boxes for what goes wrong
  bool unattended = false;    // no main window to come back to; the log is all there is
};

// Where a stage reports: the host and the run's progress window (none: nullptr), and the
// run's cancel and its stop from outside.
struct StageReport {
  Host& host;
  ProgressWindow* window = nullptr;
  const std::atomic<bool>* cancel = nullptr;
  const std::atomic<bool>* stopped = nullptr;

  bool Cancelled() const { return cancel != nullptr && cancel->load(std::memory_order_relaxed); }
  bool Stopped() const { return stopped != nullptr && stopped->load(std::memory_order_relaxed); }
  // The status and the frame label together, shown at once.
  void Show(const std::string& status, const std::string& label) const {
    if (window == nullptr) return;
    window->SetStatus(status);
    window->SetFrameLabel(label);
    window->Refresh();
  }
};

// The stills found, in the order they were taken, then by path.
struct ImageList {
  std::vector<std::string> paths;
  std::vector<DateTime> times;  // local times: what the window and the clean-up compare
  // When each still was taken, in days, for the order and the spacing of frames: Universal
  // Time for modified times (local times repeat the night the clocks go back), the local
  // time itself for times read from names or EXIF, which carry no zone.
  std::vector<double> moments;
};

// The frames of the movie in time order (a reversed movie is written from the back).
struct FrameList {
  std::vector<std::string> paths;
  std::vector<DateTime> times;
};

// The inputs of each stage are a snapshot of the settings that MovieGen fills in: they
// carry no defaults of their own.

// ---- the time window ----
// One end of the window: its option (0 the run time, 1 hours before it, 2 a time today,
// 3 a date and time, 4 and 5 hours from sunrise and sunset) and the value each one reads.
struct WindowEnd {
  int32_t option = 0;
  double relative_hours = 0;
  double today = 0;
  int32_t today_days = 0;  // whole days added to "today" (-1: yesterday)
  double absolute = 0;
  double sunrise_hours = 0;
  double sunset_hours = 0;
};
struct WindowInputs {
  WindowEnd start;
  WindowEnd stop;
  int32_t time_option = 0;  // 1: the window applies
  int32_t movie_direction = 0;
};
struct TimeWindow {
  DateTime start = 0;
  DateTime stop = 0;
  int32_t direction = 1;  // the run's: a window given backwards turns the movie round
};
// An end whose option is none of the above keeps its value in `previous`.
TimeWindow ComputeTimeWindow(const WindowInputs& in, DateTime run_time, Sun& sun, const TimeWindow& previous);

// ---- the scan ----
struct ScanInputs {
  std::string directory;
  std::string filter;  // "*" and "?", letter case ignored
  bool include_subfolders = false;
  int32_t time_stamp_option = 0;  // 0 modified time, 1 from the name, 2 EXIF capture time
};
// Lists and sorts the stills, with the "Found: <name>" labels and "Status: Sorting Files By
// Date"; a folder that cannot be read is named in the log. A cancel ends it early.
ImageList ScanStills(const ScanInputs& in, const StageReport& report);
// Sorts by moment, then by path (a Shell sort with Sedgewick's gaps); a cancel stops it.
void SortStills(ImageList& list, const StageReport& report);

// ---- the hours of each day, for runs over many days ----
struct DayHours {
  int32_t option = 0;  // 0 the whole day, 1 a span of clock time, 2 sunrise to sunset
  double start = 0;    // option 1, fractions of a day: a start after the stop runs past midnight,
  double stop = 0;     // and a start equal to the stop keeps the whole day
  double sunrise_hours = 0;  // option 2: added to each day's sunrise and sunset
  double sunset_hours = 0;
  std::function<SunTimes(DateTime day)> sun;  // option 2: that day's own sun times
};
// The stills inside the hours of their day. Their moments close up over the hours left out,
// so that frames per hour run over the kept hours only and a night leaves no repeated frames.
ImageList KeepDayHours(const DayHours& hours, const ImageList& images);
// Clock times such as "09:00,12:00" (seconds may follow) as fractions of a day, in order and
// each once; false when an entry is no clock time (the others are still given).
bool ParseDailyTimes(std::string_view text, std::vector<double>& times);

// ---- the selection ----
struct SelectionInputs {
  int32_t time_option = 0;            // 1: only stills inside the window
  int32_t image_interval_option = 0;  // 1: thinned to images_per_hour
  double images_per_hour = 0;
  int32_t duplicate_count = 0;  // the most frames one still may give
  DateTime window_start = 0;
  DateTime window_stop = 0;
  // Not empty: instead of the slots, each day gives for each of these clock times the still
  // nearest to it, when one lies within daily_tolerance (days) either side.
  std::vector<double> daily_times;
  double daily_tolerance = 0;
};
enum class SelectionEnd { Selected, NoFrames, Cancelled };
// Thins the image list into the frame list, with the "Frame: i of n" labels and the
// cancel check after each image.
SelectionEnd SelectFrames(const SelectionInputs& in, const ImageList& images, FrameList& frames,
                          const StageReport& report);
// The same as indexes into the image list; a report without a window shows no labels.
SelectionEnd PickFrames(const SelectionInputs& in, const ImageList& images, std::vector<uint32_t>& picked,
                        const StageReport& report);
SelectionEnd PickDailyFrames(const SelectionInputs& in, const ImageList& images,
                             std::vector<uint32_t>& picked, const StageReport& report);

// What a wanted movie length chose: frames per hour, or with daily times the frame rate.
struct LengthChoice {
  SelectionEnd end = SelectionEnd::Selected;
  double images_per_hour = 0;
  int32_t fps = 0;
  size_t frames = 0;
};
// The frames per hour (or with daily times the rate within 1 to 60) whose movie at `fps`
// comes nearest to `seconds`.
LengthChoice ChooseForLength(double seconds, int32_t fps, const SelectionInputs& in, const ImageList& images,
                             const StageReport& report);

}  // namespace chronoreel
