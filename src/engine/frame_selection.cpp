// Frame selection: the time window of a run, and the thinning of the image list into the
// frames of the movie.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <string>

#include "app/core/error_report.h"
#include "engine/movie_gen.h"
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

// One end of the window from its option and the matching settings; any other option
// keeps the previous value.
struct WindowEnd {
  int32_t option;
  double relative_hours;
  double today;
  double absolute;
  double sunrise_hours;
  double sunset_hours;
};

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

}  // namespace

void MovieGen::ComputeWindow() {
  window_start_ = ComputeEnd({start_time_option_, start_time_relative_, start_time_today_,
                              start_time_absolute_, start_time_sunrise_relative_,
                              start_time_sunset_relative_},
                             run_time_, sun_, window_start_);
  window_stop_ = ComputeEnd({stop_time_option_, stop_time_relative_, stop_time_today_,
                             stop_time_absolute_, stop_time_sunrise_relative_,
                             stop_time_sunset_relative_},
                            run_time_, sun_, window_stop_);
  // A window given backwards selects the same stills and plays them the other way round.
  run_direction_ = movie_direction_;
  if (window_start_ > window_stop_ && time_option_ == 1) {
    run_direction_ = -run_direction_;
    std::swap(window_start_, window_stop_);
  }
}

MovieGen::Selection MovieGen::SelectFrames() {
  frame_paths_.clear();
  frame_times_.clear();
  const size_t n = image_times_.size();
  if (n == 0) return Selection::NoFrames;
  // The list is in the order the stills were taken; their local times go back an hour on
  // the night the clocks do, so the slots are laid on the moments.
  if (image_moments_.size() != n) image_moments_ = image_times_;

  // Every still is a frame: nothing to thin and nothing outside the window.
  const auto [earliest, latest] = std::minmax_element(image_times_.begin(), image_times_.end());
  if (image_interval_option_ != 1 &&
      (time_option_ != 1 || (*earliest >= window_start_ && *latest <= window_stop_))) {
    frame_paths_ = image_paths_;
    frame_times_ = image_times_;
    return Selection::Selected;
  }

  frame_paths_.reserve(n);
  frame_times_.reserve(n);
  const double interval = images_per_hour_ != 0 ? 1.0 / 24.0 / images_per_hour_ : 1.0 / 24.0;
  DateTime next_slot = 0;
  const std::string of = " of " + std::to_string(n);
  using SteadyClock = std::chrono::steady_clock;
  auto last_label = SteadyClock::now() - kLabelInterval;

  for (size_t i = 0; i < n; ++i) {
    const DateTime local = image_times_[i];
    const double t = image_moments_[i];
    int32_t repeats = 0;
    auto append = [&] {
      frame_paths_.push_back(image_paths_[i]);
      frame_times_.push_back(local);
      ++repeats;
    };
    const bool in_window = time_option_ == 0 || (window_start_ <= local && local <= window_stop_);
    if (in_window) {
      if (image_interval_option_ == 0) {
        append();
      } else {
        if (next_slot == 0) {
          append();
          next_slot = t + interval;
        }
        if (i + 1 < n) {
          // Each slot goes to the nearer still; a tie goes to the later one.
          const double next = image_moments_[i + 1];
          if (next > next_slot) {
            while (t >= next_slot || std::fabs(next - next_slot) > std::fabs(next_slot - t)) {
              if (repeats >= duplicate_count_) SkipDeadSlots(next_slot, t + (next - t) / 2, interval);
              next_slot += interval;
              if (repeats < duplicate_count_) append();
            }
          }
        } else {
          while (t >= next_slot) {
            if (repeats >= duplicate_count_) SkipDeadSlots(next_slot, t, interval);
            next_slot += interval;
            if (repeats < duplicate_count_) append();
          }
          // One more slot for the last still when it lies less than half an interval on.
          if (t < next_slot && std::fabs(t - next_slot) < interval * 0.5 &&
              repeats < duplicate_count_) {
            append();
            next_slot += interval;
          }
        }
      }
    }

    if (progress_) {
      const auto now = SteadyClock::now();
      if (now - last_label >= kLabelInterval || i + 1 == n) {
        last_label = now;
        progress_->SetFrameLabel("Frame: " + std::to_string(i + 1) + of);
        progress_->Refresh();
      }
    }
    if (CancelRequested()) return Selection::Cancelled;
  }

  if (frame_paths_.empty()) return Selection::NoFrames;
  frame_paths_.shrink_to_fit();
  frame_times_.shrink_to_fit();
  return Selection::Selected;
}

}  // namespace chronoreel
