// Selection over many days: the hours kept of each day, and the stills nearest to set
// clock times of each day.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <map>
#include <optional>
#include <string>

#include "engine/stages.h"

namespace chronoreel {

namespace {

struct Span {
  double begin = 0;
  double end = 0;
  double Length() const { return std::max(0.0, end - begin); }
};

// The kept span of each local day, its sun times asked for once.
class DaySpans {
 public:
  explicit DaySpans(const DayHours& hours) : hours_(hours) {}

  // Option 1: the span that starts on `day`; option 2: the one between that day's sun times
  // (empty when the hours moved make it end before it begins).
  Span Of(double day) {
    // Whole days added first, so that an end on the hour compares equal to a still's time.
    if (hours_.option == 1)
      return {day + hours_.start, (day + (hours_.stop <= hours_.start ? 1 : 0)) + hours_.stop};
    const auto known = sun_spans_.find(day);
    if (known != sun_spans_.end()) return known->second;
    const SunTimes sun = hours_.sun ? hours_.sun(day) : SunTimes{};
    const Span span{day + sun.sunrise + hours_.sunrise_hours / 24,
                    day + sun.sunset + hours_.sunset_hours / 24};
    sun_spans_.emplace(day, span);
    return span;
  }

  // The day whose span holds the local time `t`; moved sun times may reach into the next
  // or the previous day.
  std::optional<double> DayOf(double t) {
    if (hours_.option == 1) {
      const double day = std::floor(t - hours_.start);
      if (t <= Of(day).end) return day;
      return std::nullopt;
    }
    for (double day = std::floor(t) - 1; day <= std::floor(t) + 1; ++day) {
      const Span span = Of(day);
      if (span.begin <= t && t <= span.end) return day;
    }
    return std::nullopt;
  }

 private:
  const DayHours& hours_;
  std::map<double, Span> sun_spans_;
};

constexpr auto kLabelInterval = std::chrono::milliseconds(30);

}  // namespace

ImageList KeepDayHours(const DayHours& hours, const ImageList& images) {
  if (hours.option != 1 && hours.option != 2) return images;
  const size_t n = images.times.size();
  const std::vector<double>& moments = images.moments.size() == n ? images.moments : images.times;
  DaySpans spans(hours);
  ImageList kept;
  bool started = false;
  double day = 0;
  double origin = 0;           // where the kept time begins, so that moments stay dates
  double elapsed = 0;          // kept time before the current day's span
  double anchor_position = 0;  // the first still of the span, where it lies and when it was taken
  double anchor_moment = 0;
  double last = 0;
  for (size_t i = 0; i < n; ++i) {
    const double local = images.times[i];
    const std::optional<double> still_day = spans.DayOf(local);
    if (!still_day) continue;
    double position;
    if (!started || *still_day > day) {
      if (!started) {
        origin = spans.Of(*still_day).begin;
      } else {
        // Days without a still keep their hours: a day lost is a gap like any other.
        for (double d = day; d < *still_day; ++d) elapsed += spans.Of(d).Length();
      }
      started = true;
      day = *still_day;
      position = elapsed + (local - spans.Of(day).begin);
      anchor_position = position;
      anchor_moment = moments[i];
    } else {
      // Within a span the moments count, so a clock change inside it costs no hour.
      position = anchor_position + (moments[i] - anchor_moment);
    }
    position = std::max(position, last);
    last = position;
    kept.paths.push_back(images.paths[i]);
    kept.times.push_back(local);
    kept.moments.push_back(origin + position);
  }
  return kept;
}

bool ParseDailyTimes(std::string_view text, std::vector<double>& times) {
  times.clear();
  bool all_clock_times = true;
  while (!text.empty()) {
    const size_t comma = text.find(',');
    std::string_view entry = text.substr(0, comma);
    text = comma == std::string_view::npos ? std::string_view{} : text.substr(comma + 1);
    while (!entry.empty() && (entry.front() == ' ' || entry.front() == '\t')) entry.remove_prefix(1);
    while (!entry.empty() && (entry.back() == ' ' || entry.back() == '\t')) entry.remove_suffix(1);
    if (entry.empty()) continue;
    // H:MM, HH:MM, optionally :SS
    int fields[3] = {0, 0, 0};
    int count = 0;
    bool valid = true;
    size_t digits = 0;
    for (char c : entry) {
      if (c == ':') {
        // A third colon has no field to fill: the entry is no clock time.
        if (count == 2) {
          valid = false;
          break;
        }
        valid = valid && digits > 0;
        ++count;
        digits = 0;
      } else if (c >= '0' && c <= '9' && digits < 2) {
        fields[count] = fields[count] * 10 + (c - '0');
        ++digits;
      } else {
        valid = false;
      }
    }
    valid = valid && count >= 1 && digits == 2 && fields[0] < 24 && fields[1] < 60 && fields[2] < 60;
    if (!valid) {
      all_clock_times = false;
      continue;
    }
    times.push_back((fields[0] * 3600.0 + fields[1] * 60.0 + fields[2]) / 86400.0);
  }
  std::sort(times.begin(), times.end());
  times.erase(std::unique(times.begin(), times.end()), times.end());
  return all_clock_times;
}

SelectionEnd PickDailyFrames(const SelectionInputs& in, const ImageList& images,
                             std::vector<uint32_t>& picked, const StageReport& report) {
  picked.clear();
  const std::vector<DateTime>& times = images.times;
  // Clock times are local: the candidates in the order of their local times.
  std::vector<uint32_t> order;
  order.reserve(times.size());
  for (size_t i = 0; i < times.size(); ++i) {
    if (in.time_option != 1 || (in.window_start <= times[i] && times[i] <= in.window_stop))
      order.push_back(static_cast<uint32_t>(i));
  }
  if (order.empty() || in.daily_times.empty()) return SelectionEnd::NoFrames;
  std::stable_sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) { return times[a] < times[b]; });

  // Half a millisecond: a still at the very end of the tolerance is still in.
  const double tolerance = in.daily_tolerance + 0.5 / 86400000;
  const std::string of = " of " + std::to_string(order.size());
  using SteadyClock = std::chrono::steady_clock;
  auto last_label = SteadyClock::now() - kLabelInterval;
  const double last_day = std::floor(times[order.back()]) + 1;
  size_t at = 0;  // the first candidate at or after the target
  for (double day = std::floor(times[order.front()]) - 1; day <= last_day; ++day) {
    for (double clock : in.daily_times) {
      const double target = day + clock;
      while (at < order.size() && times[order[at]] < target) ++at;
      const double after = at < order.size() ? times[order[at]] - target : tolerance + 1;
      const double before = at > 0 ? target - times[order[at - 1]] : tolerance + 1;
      // The nearer one; a tie goes to the later still.
      if (after <= before && after <= tolerance) {
        picked.push_back(order[at]);
      } else if (before < after && before <= tolerance) {
        picked.push_back(order[at - 1]);
      }
    }
    if (report.window) {
      const auto now = SteadyClock::now();
      if (now - last_label >= kLabelInterval || day == last_day) {
        last_label = now;
        report.window->SetFrameLabel("Frame: " + std::to_string(std::max<size_t>(at, 1)) + of);
        report.window->Refresh();
      }
    }
    if (report.Cancelled()) return SelectionEnd::Cancelled;
  }
  return picked.empty() ? SelectionEnd::NoFrames : SelectionEnd::Selected;
}

}  // namespace chronoreel
