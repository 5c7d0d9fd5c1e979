// Frame selection: the time window of a run, and the thinning of the image list into the
// frames of the movie.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <optional>
#include <string>

#include "app/core/error_report.h"
#include "engine/brightness.h"
#include "engine/movie_gen.h"
#include "engine/stages.h"
#include "time/sun.h"

namespace chronoreel {

namespace {

constexpr auto kLabelInterval = std::chrono::milliseconds(30);

// Slots that can no longer take a frame (the still has filled its repeats) are stepped over
// in one stride when there are very many of them: a still with a stray date years away
// must not cost billions of steps. The last slots before the target are still stepped one
// by one, so the decisions near a still are the usual ones.
void SkipDeadSlots(DateTime& next_slot, DateTime target, double interval) {
  constexpr double kMinSkip = 1e6;
  constexpr double kMargin = 1000;
  const double steps = std::floor((target - next_slot) / interval) - kMargin;
  if (steps > kMinSkip) next_slot += steps * interval;
}

DateTime ComputeEnd(const WindowEnd& end, DateTime run_time, Sun& sun, DateTime previous) {
  const double day = std::floor(run_time);
  switch (end.option) {
    case 0: return run_time;
    case 1: return run_time - end.relative_hours / 24;
    case 2: return day + end.today;
    case 3: return end.absolute;
    case 4: return day + sun.Sunrise() + end.sunrise_hours / 24;
    case 5: return day + sun.Sunset() + end.sunset_hours / 24;
    default: return previous;
  }
}

// The sun at a setup file's own place while the window is computed; the profile's again
// afterwards, for whatever else shows sun times.
class SunPlace {
 public:
  SunPlace(Sun& sun, const std::optional<Location>& place) : sun_(sun) { sun_.UseLocation(place); }
  ~SunPlace() { sun_.UseLocation(std::nullopt); }
  SunPlace(const SunPlace&) = delete;
  SunPlace& operator=(const SunPlace&) = delete;

 private:
  Sun& sun_;
};

}  // namespace

TimeWindow ComputeTimeWindow(const WindowInputs& in, DateTime run_time, Sun& sun,
                             const TimeWindow& previous) {
  TimeWindow window;
  window.start = ComputeEnd(in.start, run_time, sun, previous.start);
  window.stop = ComputeEnd(in.stop, run_time, sun, previous.stop);
  // A window given backwards selects the same stills and plays them the other way round.
  window.direction = in.movie_direction;
  if (window.start > window.stop && in.time_option == 1) {
    window.direction = -window.direction;
    std::swap(window.start, window.stop);
  }
  return window;
}

Location MovieGen::RunLocation() const {
  Location at = state_.location;
  if (!std::isnan(latitude_)) at.latitude = latitude_;
  if (!std::isnan(longitude_)) at.longitude = longitude_;
  return at;
}

void MovieGen::ComputeWindow() {
  const bool own_place = !std::isnan(latitude_) || !std::isnan(longitude_);
  const SunPlace place(sun_, own_place ? std::optional<Location>(RunLocation()) : std::nullopt);
  const WindowInputs in{{start_time_option_, start_time_relative_, start_time_today_, start_time_absolute_,
                         start_time_sunrise_relative_, start_time_sunset_relative_},
                        {stop_time_option_, stop_time_relative_, stop_time_today_, stop_time_absolute_,
                         stop_time_sunrise_relative_, stop_time_sunset_relative_},
                        time_option_,
                        movie_direction_};
  const TimeWindow window =
      ComputeTimeWindow(in, run_time_, sun_, {window_start_, window_stop_, run_direction_});
  window_start_ = window.start;
  window_stop_ = window.stop;
  run_direction_ = window.direction;
}

MovieGen::Selection MovieGen::SelectFrames() {
  const SelectionInputs in{time_option_, image_interval_option_, images_per_hour_, duplicate_count_,
                           window_start_, window_stop_};
  skipped_dark_ = skipped_bright_ = 0;
  const BrightnessInputs limits{skip_dark_below_, skip_bright_above_, time_option_, window_start_, window_stop_};
  if (!SkipsBrightness(limits)) return chronoreel::SelectFrames(in, images_, frames_, Report());

  if (progress_) progress_->SetStatus("Status: Measuring Brightness");
  const std::optional<BrightnessPass> pass = SkipDarkAndBright(limits, images_, Report());
  if (!pass) return Selection::Cancelled;
  skipped_dark_ = pass->dark;
  skipped_bright_ = pass->bright;
  if (progress_) progress_->SetStatus("Status: Determining Which Files To Use");
  const Selection end = chronoreel::SelectFrames(in, pass->kept, frames_, Report());
  // "No files met the timing criteria" alone would hide that the light left them out.
  if (end == Selection::NoFrames && skipped_dark_ + skipped_bright_ > 0) {
    host_.LogLine(std::to_string(skipped_dark_) + " stills darker than " + std::to_string(skip_dark_below_) +
                  " and " + std::to_string(skipped_bright_) + " brighter than " +
                  std::to_string(skip_bright_above_) + " were left out");
  }
  return end;
}

SelectionEnd SelectFrames(const SelectionInputs& in, const ImageList& images, FrameList& frames,
                          const StageReport& report) {
  frames = {};
  const std::vector<std::string>& paths = images.paths;
  const std::vector<DateTime>& times = images.times;
  const size_t n = times.size();
  if (n == 0) return SelectionEnd::NoFrames;
  // The list is in the order the stills were taken; their local times go back an hour on
  // the night the clocks do, so the slots are laid on the moments.
  const std::vector<double>& moments = images.moments.size() == n ? images.moments : times;

  // Every still is a frame: nothing to thin and nothing outside the window.
  const auto [earliest, latest] = std::minmax_element(times.begin(), times.end());
  if (in.image_interval_option != 1 &&
      (in.time_option != 1 || (*earliest >= in.window_start && *latest <= in.window_stop))) {
    frames.paths = paths;
    frames.times = times;
    return SelectionEnd::Selected;
  }

  frames.paths.reserve(n);
  frames.times.reserve(n);
  const double interval = in.images_per_hour != 0 ? 1.0 / 24.0 / in.images_per_hour : 1.0 / 24.0;
  DateTime next_slot = 0;
  const std::string of = " of " + std::to_string(n);
  using SteadyClock = std::chrono::steady_clock;
  auto last_label = SteadyClock::now() - kLabelInterval;

  for (size_t i = 0; i < n; ++i) {
    const DateTime local = times[i];
    const double t = moments[i];
    int32_t repeats = 0;
    auto append = [&] {
      frames.paths.push_back(paths[i]);
      frames.times.push_back(local);
      ++repeats;
    };
    const bool in_window = in.time_option == 0 || (in.window_start <= local && local <= in.window_stop);
    if (in_window) {
      if (in.image_interval_option == 0) {
        append();
      } else {
        if (next_slot == 0) {
          append();
          next_slot = t + interval;
        }
        if (i + 1 < n) {
          // Each slot goes to the nearer still; a tie goes to the later one.
          const double next = moments[i + 1];
          if (next > next_slot) {
            while (t >= next_slot || std::fabs(next - next_slot) > std::fabs(next_slot - t)) {
              if (repeats >= in.duplicate_count) SkipDeadSlots(next_slot, t + (next - t) / 2, interval);
              next_slot += interval;
              if (repeats < in.duplicate_count) append();
            }
          }
        } else {
          while (t >= next_slot) {
            if (repeats >= in.duplicate_count) SkipDeadSlots(next_slot, t, interval);
            next_slot += interval;
            if (repeats < in.duplicate_count) append();
          }
          // One more slot for the last still when it lies less than half an interval on.
          if (t < next_slot && std::fabs(t - next_slot) < interval * 0.5 && repeats < in.duplicate_count) {
            append();
            next_slot += interval;
          }
        }
      }
    }

    if (report.window) {
      const auto now = SteadyClock::now();
      if (now - last_label >= kLabelInterval || i + 1 == n) {
        last_label = now;
        report.window->SetFrameLabel("Frame: " + std::to_string(i + 1) + of);
        report.window->Refresh();
      }
    }
    if (report.Cancelled()) return SelectionEnd::Cancelled;
  }

  if (frames.paths.empty()) return SelectionEnd::NoFrames;
  frames.paths.shrink_to_fit();
  frames.times.shrink_to_fit();
  return SelectionEnd::Selected;
}

}  // namespace chronoreel
