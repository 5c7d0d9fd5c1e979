// Frame selection: the time window of a run, and the thinning of the image list into the
// frames of the movie.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <optional>
#include <cstdio>
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
    case 2: return day + end.today_days + end.today;
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

std::optional<Location> MovieGen::OwnPlace() const {
  if (std::isnan(latitude_) && std::isnan(longitude_)) return std::nullopt;
  return RunLocation();
}

void MovieGen::ComputeWindow() {
  const SunPlace place(sun_, OwnPlace());
  const WindowInputs in{{start_time_option_, start_time_relative_, start_time_today_, start_time_today_days_,
                         start_time_absolute_, start_time_sunrise_relative_, start_time_sunset_relative_},
                        {stop_time_option_, stop_time_relative_, stop_time_today_, stop_time_today_days_,
                         stop_time_absolute_, stop_time_sunrise_relative_, stop_time_sunset_relative_},
                        time_option_,
                        movie_direction_};
  const TimeWindow window =
      ComputeTimeWindow(in, run_time_, sun_, {window_start_, window_stop_, run_direction_});
  window_start_ = window.start;
  window_stop_ = window.stop;
  run_direction_ = window.direction;
}

DayHours MovieGen::DayHoursInputs() const {
  const Sun& sun = sun_;
  const std::optional<Location> place = OwnPlace();
  return {day_hours_option_, day_hours_start_, day_hours_stop_, day_hours_sunrise_relative_,
          day_hours_sunset_relative_, [&sun, place](DateTime day) { return sun.On(day, place); }};
}

MovieGen::Selection MovieGen::SelectFrames() {
  run_fps_ = MovieFPS();
  length_note_.clear();
  frames_ = {};
  skipped_dark_ = skipped_bright_ = 0;
  SelectionInputs in;
  in.time_option = time_option_;
  in.image_interval_option = image_interval_option_;
  in.images_per_hour = images_per_hour_;
  in.duplicate_count = duplicate_count_;
  in.window_start = window_start_;
  in.window_stop = window_stop_;
  if (!daily_times_.empty()) {
    if (!ParseDailyTimes(daily_times_, in.daily_times))
      host_.LogLine("DailyTimes: not a clock time (HH:MM) in \"" + daily_times_ + "\"");
    // Times that are all wrong must not fall back to a movie of every hour.
    if (in.daily_times.empty()) return Selection::NoFrames;
    in.daily_tolerance = daily_tolerance_minutes_ / 1440;
  }
  const ImageList* images = &images_;
  ImageList day_hours;
  if (day_hours_option_ != 0) {
    day_hours = KeepDayHours(DayHoursInputs(), images_);
    images = &day_hours;
  }
  // Measured after the hours of each day: the stills of the night are not even decoded.
  std::optional<BrightnessPass> pass;
  const BrightnessInputs limits{skip_dark_below_, skip_bright_above_, time_option_, window_start_, window_stop_};
  if (SkipsBrightness(limits)) {
    if (progress_) progress_->SetStatus("Status: Measuring Brightness");
    pass = SkipDarkAndBright(limits, *images, Report());
    if (!pass) return Selection::Cancelled;
    skipped_dark_ = pass->dark;
    skipped_bright_ = pass->bright;
    if (progress_) progress_->SetStatus("Status: Determining Which Files To Use");
    images = &pass->kept;
  }

  if (movie_seconds_ > 0) {
    const LengthChoice choice = ChooseForLength(movie_seconds_, run_fps_, in, *images, Report());
    if (choice.end == SelectionEnd::Cancelled) return choice.end;
    char note[160];
    if (in.daily_times.empty()) {
      in.image_interval_option = 1;
      in.images_per_hour = choice.images_per_hour;
      std::snprintf(note, sizeof note,
                    "Wanted length %g s: %.4g images per hour give %zu frames at %d frames per second",
                    movie_seconds_, choice.images_per_hour, choice.frames, static_cast<int>(run_fps_));
    } else {
      run_fps_ = choice.fps;
      std::snprintf(note, sizeof note, "Wanted length %g s: %zu frames at %d frames per second",
                    movie_seconds_, choice.frames, static_cast<int>(run_fps_));
    }
    length_note_ = note;
  }
  const Selection end = chronoreel::SelectFrames(in, *images, frames_, Report());
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
  std::vector<uint32_t> picked;
  const SelectionEnd end = PickFrames(in, images, picked, report);
  if (end != SelectionEnd::Selected) return end;
  frames.paths.reserve(picked.size());
  frames.times.reserve(picked.size());
  for (uint32_t i : picked) {
    frames.paths.push_back(images.paths[i]);
    frames.times.push_back(images.times[i]);
  }
  return end;
}

SelectionEnd PickFrames(const SelectionInputs& in, const ImageList& images, std::vector<uint32_t>& picked,
                        const StageReport& report) {
  picked.clear();
  if (!in.daily_times.empty()) return PickDailyFrames(in, images, picked, report);
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
    picked.resize(n);
    for (size_t i = 0; i < n; ++i) picked[i] = static_cast<uint32_t>(i);
    return SelectionEnd::Selected;
  }

  picked.reserve(n);
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
      picked.push_back(static_cast<uint32_t>(i));
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

  if (picked.empty()) return SelectionEnd::NoFrames;
  return SelectionEnd::Selected;
}

LengthChoice ChooseForLength(double seconds, int32_t fps, const SelectionInputs& in, const ImageList& images,
                             const StageReport& report) {
  LengthChoice choice;
  choice.fps = fps;
  choice.images_per_hour = in.images_per_hour;
  const StageReport quiet{report.host, nullptr, report.cancel, report.stopped};
  std::vector<uint32_t> picked;
  if (!in.daily_times.empty()) {
    // The frames are fixed by the times; the rate is what is left to choose.
    choice.end = PickDailyFrames(in, images, picked, quiet);
    choice.frames = picked.size();
    if (choice.end != SelectionEnd::Selected) return choice;
    const double frames = static_cast<double>(picked.size());
    const double exact = std::clamp(frames / seconds, 1.0, 60.0);
    const double low = std::floor(exact);
    const double high = std::min(low + 1, 60.0);
    choice.fps = static_cast<int32_t>(
        std::fabs(frames / low - seconds) <= std::fabs(frames / high - seconds) ? low : high);
    return choice;
  }

  // More frames per hour never give fewer frames, so the rate is found by halving the range
  // between two rates (on a log scale).
  SelectionInputs trial = in;
  trial.image_interval_option = 1;
  const double wanted = seconds * fps;
  double best_miss = -1;
  auto count = [&](double rate) {
    trial.images_per_hour = rate;
    const SelectionEnd end = PickFrames(trial, images, picked, quiet);
    if (end == SelectionEnd::Cancelled) return false;
    const double miss = std::fabs(static_cast<double>(picked.size()) - wanted);
    if (best_miss < 0 || miss < best_miss) {
      best_miss = miss;
      choice.images_per_hour = rate;
      choice.frames = picked.size();
    }
    return true;
  };
  // From one frame in about eleven years to ten a second. The search starts from the rate
  // that spreads the frames evenly over the stills' hours: a rate far too high costs a
  // step for every slot.
  constexpr double kLowest = 1e-5;
  constexpr double kHighest = 36000;
  const std::vector<double>& moments =
      images.moments.size() == images.times.size() ? images.moments : images.times;
  const double hours = moments.empty() ? 0 : (moments.back() - moments.front()) * 24;
  const double guess = std::clamp(hours > 0 ? wanted / hours : kHighest, kLowest, kHighest);
  double low = std::max(guess / 2, kLowest);
  double high = std::min(guess * 2, kHighest);
  auto cancelled = [&] {
    choice.end = SelectionEnd::Cancelled;
    return choice;
  };
  // Widen until the wanted count lies between the two ends, or an end is the last rate.
  bool low_short_enough = false;
  for (;;) {
    if (!count(high)) return cancelled();
    if (static_cast<double>(picked.size()) >= wanted || high >= kHighest) break;
    low = high;
    low_short_enough = true;
    high = std::min(high * 4, kHighest);
  }
  const bool high_too_short = static_cast<double>(picked.size()) < wanted;
  for (;;) {
    if (high_too_short || low_short_enough || low <= kLowest) break;
    if (!count(low)) return cancelled();
    if (static_cast<double>(picked.size()) <= wanted) break;
    high = low;
    low = std::max(low / 4, kLowest);
  }
  if (!high_too_short) {
    for (int step = 0; step < 60 && best_miss >= 0.5; ++step) {
      const double middle = std::sqrt(low * high);
      if (!count(middle)) return cancelled();
      (static_cast<double>(picked.size()) < wanted ? low : high) = middle;
    }
  }
  if (choice.frames == 0) choice.end = SelectionEnd::NoFrames;
  return choice;
}

}  // namespace chronoreel
