#include "time/clock.h"

#include <cmath>
#include <ctime>

#include "app/core/error_report.h"

namespace chronoreel {
namespace {

timespec ReadSystemClock() {
  timespec now{};
  if (clock_gettime(CLOCK_REALTIME, &now) != 0) throw Fault(1, "cannot read the system clock");
  return now;
}

// The whole-second local date-time.
DateTime WholeSecondReading() { return DateTimeFromUnix(ReadSystemClock().tv_sec, 0); }

// Seconds since local midnight, with fraction.
double SecondsSinceMidnight() {
  const timespec now = ReadSystemClock();
  std::tm local{};
  if (localtime_r(&now.tv_sec, &local) == nullptr) throw Fault(2, "cannot read the local time");
  const int sec = local.tm_sec > 59 ? 59 : local.tm_sec;
  return local.tm_hour * 3600.0 + local.tm_min * 60.0 + sec + now.tv_nsec / 1e9;
}

}  // namespace

DateTime ClockFromReadings(DateTime first, double timer_seconds, DateTime second) {
  const double fraction = timer_seconds - std::floor(timer_seconds);
  // When the second ticked between the readings, the timer's fraction says which side of
  // the tick it was read on.
  DateTime whole = first;
  if (first != second) whole = fraction >= 0.5 ? first : second;
  return (whole * 86400.0 + fraction) / 86400.0;
}

DateTime Clock() {
  ErrorTrap trap("modTime", "Clock");
  const DateTime first = WholeSecondReading();
  const double timer = SecondsSinceMidnight();
  const DateTime second = WholeSecondReading();
  return ClockFromReadings(first, timer, second);
}

double GMTOffset() {
  ErrorTrap trap("modTime", "GMTOffset");
  return GMTOffsetAt(std::time(nullptr));
}

double GMTOffsetAt(std::time_t moment) {
  std::tm local{};
  // A zone that cannot be read counts as Universal Time, unreported.
  if (localtime_r(&moment, &local) == nullptr) return 0.0;
  return -static_cast<double>(local.tm_gmtoff) / 3600.0;
}

}  // namespace chronoreel
