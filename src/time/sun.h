#pragma once
#include <string_view>

#include "app/core/program_state.h"
#include "time/clock.h"

namespace chronoreel {

// x reduced to [0, 2pi), with pi taken as 3.14159265358979.
double NormalizeRadians(double x);

// Local time of sunrise or sunset ("S" in any case: sunset) on the day of `date`, as a
// fraction of a day; 0 when not available (|latitude| > 63).
double GetSunset(double latitude, double longitude, double offset_hours, std::string_view event,
                 DateTime date);

// GetSunset with the number of passes its iteration took (0 when it did not run).
struct SunEvent {
  double fraction = 0.0;
  int passes = 0;
};
SunEvent ComputeSunEvent(double latitude, double longitude, double offset_hours,
                         std::string_view event, DateTime date);

// Today's sunrise and sunset for the program's location, computed at most once a day.
class Sun {
 public:
  explicit Sun(const Location& location, NowFunction now = Clock, OffsetFunction offset = GMTOffset);

  double Sunrise();
  double Sunset();
  // Empties the day cache (the location changed).
  void Invalidate() noexcept {
    cached_date_ = 0;
    cached_ = false;
  }
  int Calculations() const noexcept { return calculations_; }

 private:
  void Refresh();

  const Location& location_;
  NowFunction now_;
  OffsetFunction offset_;
  DateTime cached_date_ = 0;
  bool cached_ = false;  // so that day 0 itself can be cached
  double sunrise_ = 0;
  double sunset_ = 0;
  int calculations_ = 0;
};

}  // namespace chronoreel
