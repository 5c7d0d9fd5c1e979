#include "time/sun.h"

#include <cmath>
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

constexpr double kMaxLatitude = 63.0;
constexpr int kMaxPasses = 35;
constexpr double kTolerance = 0.001;  // radians, about 13.75 s of time

bool IsSunset(std::string_view event) { return event.size() == 1 && (event[0] == 'S' || event[0] == 's'); }

}  // namespace

double NormalizeRadians(double x) {
  const double q = x / kTwoPi;
  double r = (q - std::trunc(q)) * kTwoPi;
  if (r < 0) r += kTwoPi;
  return r;
}

SunEvent ComputeSunEvent(double latitude, double longitude, double offset_hours,
                         std::string_view event, DateTime date) {
  SunEvent result;
  if (std::fabs(latitude) > kMaxLatitude) return result;

  const double h0 = -0.833;
  const double s = IsSunset(event) ? -1.0 : 1.0;
  const double d = std::floor(date) - 36526.5;  // days from J2000.0 to 00:00 of the date

  const double sin_h0 = std::sin(h0 * kRadiansPerDegree);
  const double sin_phi = std::sin(latitude * kRadiansPerDegree);
  const double cos_phi = std::cos(latitude * kRadiansPerDegree);
  const double lambda_o = longitude * kRadiansPerDegree;

  double ut0 = kPi;
  double ut = 0.0;
  int n = 0;
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
    const double c = (sin_h0 - sin_phi * std::sin(delta)) / (cos_phi * std::cos(delta));
    double hour_angle;
    if (c > 1) {
      hour_angle = 0.0;
    } else if (c < -1) {
      hour_angle = kPi;
    } else {
      hour_angle = std::acos(c);
    }
    ut = NormalizeRadians(ut0 - (gha + lambda_o + s * hour_angle));
    if (!std::isfinite(ut)) break;  // a NaN would also end the loop; leave at once
  }
  result.passes = n;

  // An arithmetic fault in the passes (NaN or infinity anywhere) reads as "not available".
  if (!std::isfinite(ut)) return SunEvent{0.0, n};
  double f = (ut * kDegreesPerRadian / 15.0 - offset_hours) / 24.0;
  if (!std::isfinite(f)) return SunEvent{0.0, n};
  if (f < 0) f += 1;
  if (f >= 1) f -= 1;
  // Only an offset beyond a day could leave f outside [0, 1) here.
  if (f < 0 || f >= 1) {
    f -= std::floor(f);
    if (f >= 1) f = 0.0;
  }
  result.fraction = f;
  return result;
}

double GetSunset(double latitude, double longitude, double offset_hours, std::string_view event,
                 DateTime date) {
  return ComputeSunEvent(latitude, longitude, offset_hours, event, date).fraction;
}

Sun::Sun(const Location& location, NowFunction now, OffsetFunction offset)
    : location_(location), now_(std::move(now)), offset_(std::move(offset)) {}

void Sun::Refresh() {
  const DateTime today = std::floor(now_());
  if (cached_ && today == cached_date_) return;
  cached_date_ = today;
  cached_ = true;
  // Both events with the same offset, so a zone change cannot split them.
  const double offset = offset_();
  sunrise_ = GetSunset(location_.latitude, location_.longitude, offset, "R", cached_date_);
  sunset_ = GetSunset(location_.latitude, location_.longitude, offset, "S", cached_date_);
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
