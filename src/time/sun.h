#pragma once
#include <optional>
#include <string_view>

#include "app/core/program_state.h"
#include "time/clock.h"

namespace chronoreel {

// x reduced to [0, 2pi), with pi taken as 3.14159265358979.
double NormalizeRadians(double x);

// Local clock time of sunrise or sunset ("S" in any case: sunset) on the local day of
// `date`, as a fraction of a day. Where the sun stays up all day, sunrise is 00:00 and
// sunset 23:59:59; where it stays down, both are the moment of its highest point. 0 when
// the inputs are not finite numbers.
double GetSunset(double latitude, double longitude, double offset_hours, std::string_view event,
                 DateTime date);

// GetSunset with the number of passes of the last iteration (0 when none ran), and with
// the offset taken at the moment of the event, as the zone's rules give it for that day.
struct SunEvent {
  double fraction = 0.0;
  int passes = 0;
};
SunEvent ComputeSunEvent(double latitude, double longitude, double offset_hours,
                         std::string_view event, DateTime date);
SunEvent ComputeSunEvent(double latitude, double longitude, const OffsetAtFunction& offset_at,
                         std::string_view event, DateTime date);

// Local sunrise and sunset of one day, as fractions of a day.
struct SunTimes {
  double sunrise = 0;
  double sunset = 0;
};

// Today's sunrise and sunset for the program's location, computed at most once a day.
class Sun {
 public:
  // The offset of each event is the one in force at its moment.
  explicit Sun(const Location& location, NowFunction now = Clock, OffsetAtFunction offset = GMTOffsetAt);
  // One offset for the whole day, read once per calculation (fixed zones, tests).
  Sun(const Location& location, NowFunction now, OffsetFunction fixed_offset);

  double Sunrise();
  double Sunset();
  // Any day's, uncached: a run over many days asks for each of them.
  // At `place` where given (a setup file's own), else as Sunrise and Sunset are.
  SunTimes On(DateTime day, const std::optional<Location>& place = std::nullopt) const;
  // Empties the day cache (the location changed).
  void Invalidate() noexcept {
    cached_date_ = 0;
    cached_ = false;
  }
  int Calculations() const noexcept { return calculations_; }
  // A place of its own for a while (a setup file's camera); nullopt: the location again.
  void UseLocation(const std::optional<Location>& place) noexcept {
    const bool same = place.has_value() == place_.has_value() &&
                      (!place || (place->latitude == place_->latitude && place->longitude == place_->longitude));
    if (same) return;
    place_ = place;
    Invalidate();
  }

 private:
  void Refresh();

  const Location& location_;
  std::optional<Location> place_;
  NowFunction now_;
  OffsetAtFunction offset_at_;
  OffsetFunction fixed_offset_;
  DateTime cached_date_ = 0;
  bool cached_ = false;  // so that day 0 itself can be cached
  double sunrise_ = 0;
  double sunset_ = 0;
  int calculations_ = 0;
};

}  // namespace chronoreel
