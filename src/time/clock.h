#pragma once
#include <ctime>
#include <functional>

#include "time/date_time.h"

namespace chronoreel {

// The current local date-time with a fraction of a second (the two-reading rule).
DateTime Clock();

// Hours to add to local time to get Universal Time (positive west of Greenwich), by the
// rules in force now.
double GMTOffset();

// The same at a given moment (seconds since 1970 UT), by the rules in force then: on the
// day the clocks change, an hour before and an hour after may differ.
double GMTOffsetAt(std::time_t moment);

// The joining rule of Clock(): `first` and `second` are whole-second local date-time
// readings taken before and after `timer_seconds` (seconds since local midnight, with
// fraction). Pure, so that it can be checked with chosen readings.
DateTime ClockFromReadings(DateTime first, double timer_seconds, DateTime second);

// Seams for code that reads "now" and the time zone; the defaults are the two above.
using NowFunction = std::function<DateTime()>;
using OffsetFunction = std::function<double()>;
using OffsetAtFunction = std::function<double(std::time_t)>;

}  // namespace chronoreel
