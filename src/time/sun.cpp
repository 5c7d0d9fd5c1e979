#include "time/sun.h"

#include <cmath>
#include <ctime>
#include <optional>
#include <utility>

#include "app/core/error_report.h"

namespace chronoreel {
namespace {

// Every angle constant derives from this value of pi, not the full double one, so that
// results match the established tables to the minute.
constexpr double kPi = 3.14159265358979;
constexpr double kTwoPi = 6.28318530717958;
constexpr double kRadiansPerDegree = 0.017453292519943278;
constexpr double kDegreesPerRadian = 57.29577951308238;

constexpr int kMaxPasses = 35;
constexpr double kTolerance = 0.001;  // radians, about 13.75 s of time
constexpr double kUnixEpochDay = 25569;  // 1 January 1970 as a date-time value
constexpr double kLastSecond = 86399.0 / 86400.0;

bool IsSunset(std::string_view event) { return event.size() == 1 && (event[0] == 'S' || event[0] == 's'); }

}  // namespace

double NormalizeRadians(double x) {
  const double q = x / kTwoPi;
  double r = (q - std::trunc(q)) * kTwoPi;
  if (r < 0) r += kTwoPi;
  return r;
}

namespace {

// One iteration on the Universal Time of the event, in radians from 00:00 UT of `day`.
// Started at 00:00 it keeps every pass within that UT day; started from a guess, each
// pass takes the event nearest to the guess, on whichever day it falls.
struct Pass {
  double ut = 0;
  bool sun_up = false;  // the sun never sets that day
  int passes = 0;
};

Pass IterateEvent(double latitude, double longitude, double s, double day,
                  std::optional<double> guess) {
  const double h0 = -0.833;
  const double d = day - 36526.5;  // days from J2000.0 to 00:00 UT of the day

  const double sin_h0 = std::sin(h0 * kRadiansPerDegree);
  const double sin_phi = std::sin(latitude * kRadiansPerDegree);
  const double cos_phi = std::cos(latitude * kRadiansPerDegree);
  const double lambda_o = longitude * kRadiansPerDegree;

  Pass pass;
  double ut = guess.value_or(0.0);
  double ut0 = ut + kPi;
  int n = 0;
  double c = 0;
  while (std::fabs(ut0 - ut) > kTolerance && n < kMaxPasses) {
    ++n;
    ut0 = ut;
    const double t = (ut0 / kTwoPi + d) / 36525.0;
    const double l = NormalizeRadians(4.8949504201433 + 628.331969753199 * t);
    const double g = NormalizeRadians(6.2400408 + 628.3019501 * t);
    const double ec = 0.033423 * std::sin(g) + 0.00034907 * std::sin(2 * g);
    const double lambda = l + ec;
    const double e = -ec + 0.0430398 * std::sin(2 * lambda) - 0.00092502 * std::sin(4 * lambda);
    const double obliquity = 0.409093 - 0.0002269 * t;
    const double delta = std::asin(std::sin(obliquity) * std::sin(lambda));
    const double gha = ut0 - kPi + e;
    c = (sin_h0 - sin_phi * std::sin(delta)) / (cos_phi * std::cos(delta));
    // Where the sun stays down (c > 1) the hour angle 0 leads to its highest point; where
    // it stays up the event does not happen, and the caller is told so.
    double hour_angle;
    if (c > 1) {
      hour_angle = 0.0;
    } else if (c < -1) {
      hour_angle = kPi;
    } else {
      hour_angle = std::acos(c);
    }
    const double step = -(gha + lambda_o + s * hour_angle);
    ut = guess ? ut0 + std::remainder(step, kTwoPi) : NormalizeRadians(ut0 + step);
    if (!std::isfinite(ut)) break;  // a NaN would also end the loop; leave at once
  }
  pass.ut = ut;
  pass.sun_up = c < -1;
  pass.passes = n;
  return pass;
}

}  // namespace

SunEvent ComputeSunEvent(double latitude, double longitude, const OffsetAtFunction& offset_at,
                         std::string_view event, DateTime date) {
  if (!std::isfinite(latitude) || !std::isfinite(longitude) || !std::isfinite(date)) return {};
  const bool sunset = IsSunset(event);
  const double s = sunset ? -1.0 : 1.0;
  const double local_day = std::floor(date);

  // The event is first sought on the UT day of the same date. East or west of Greenwich
  // its local clock time may fall on the next or the previous local day (Sydney's sunrise
  // lies on the UT day before); it is then sought once more a day away, so that the
  // declination and the offset are those of the local day asked for.
  std::optional<double> guess;
  SunEvent result;
  for (int attempt = 0; attempt < 2; ++attempt) {
    const Pass pass = IterateEvent(latitude, longitude, s, local_day, guess);
    result.passes = pass.passes;
    // An arithmetic fault in the passes (NaN or infinity anywhere) reads as "not available".
    if (!std::isfinite(pass.ut)) return {0.0, pass.passes};
    if (pass.sun_up) return {sunset ? kLastSecond : 0.0, pass.passes};

    const double ut_seconds = pass.ut / kTwoPi * 86400.0;
    const double moment = (local_day - kUnixEpochDay) * 86400.0 + ut_seconds;
    // Beyond what time_t and the zone rules cover, the offset of the epoch stands in.
    const bool in_range = std::fabs(moment) < 1e15;
    const double offset = offset_at(in_range ? static_cast<std::time_t>(std::floor(moment)) : 0);
    const double raw = (pass.ut * kDegreesPerRadian / 15.0 - offset) / 24.0;
    if (!std::isfinite(raw)) return {0.0, pass.passes};
    const double day_shift = std::floor(raw);
    double f = raw - day_shift;
    if (f >= 1) f = 0.0;  // rounding at the very top of the day
    result.fraction = f;
    if (day_shift == 0 || std::fabs(day_shift) > 1) break;
    guess = pass.ut - day_shift * kTwoPi;
  }
  return result;
}

SunEvent ComputeSunEvent(double latitude, double longitude, double offset_hours,
                         std::string_view event, DateTime date) {
  return ComputeSunEvent(latitude, longitude, [offset_hours](std::time_t) { return offset_hours; },
                         event, date);
}

double GetSunset(double latitude, double longitude, double offset_hours, std::string_view event,
                 DateTime date) {
  return ComputeSunEvent(latitude, longitude, offset_hours, event, date).fraction;
}

Sun::Sun(const Location& location, NowFunction now, OffsetAtFunction offset)
    : location_(location), now_(std::move(now)), offset_at_(std::move(offset)) {}

Sun::Sun(const Location& location, NowFunction now, OffsetFunction fixed_offset)
    : location_(location), now_(std::move(now)), fixed_offset_(std::move(fixed_offset)) {}

SunTimes Sun::On(DateTime day, const std::optional<Location>& place) const {
  OffsetAtFunction offset_at = offset_at_;
  if (fixed_offset_) {
    const double offset = fixed_offset_();
    offset_at = [offset](std::time_t) { return offset; };
  }
  const Location& at = place ? *place : place_ ? *place_ : location_;
  return {ComputeSunEvent(at.latitude, at.longitude, offset_at, "R", day).fraction,
          ComputeSunEvent(at.latitude, at.longitude, offset_at, "S", day).fraction};
}

void Sun::Refresh() {
  const DateTime today = std::floor(now_());
  if (cached_ && today == cached_date_) return;
  cached_date_ = today;
  cached_ = true;
  const SunTimes times = On(cached_date_);
  sunrise_ = times.sunrise;
  sunset_ = times.sunset;
  ++calculations_;
}

double Sun::Sunrise() {
  ErrorTrap trap("modTime", "Sunrise");
  Refresh();
  return sunrise_;
}

double Sun::Sunset() {
  ErrorTrap trap("modTime", "Sunset");
  Refresh();
  return sunset_;
}

}  // namespace chronoreel
