#pragma once
// What the main window's layout and its settings binding share: the rows both build and fill.
#include <optional>

#include <QString>

namespace chronoreel::main_form {

// Highest first; 25 and 50 are the rates of PAL video.
inline constexpr const char* kFpsList[] = {"60", "50", "30", "25", "24", "20", "15", "12", "10", "6", "5", "3", "2", "1"};
// A rate that is not in the list shows this one.
inline constexpr const char* kFpsFallback = "24";

// The rows of the start and stop groups, by option index: the box txtStart<stem> shows the
// setting Start<stem> (and Stop likewise). 2 and 3 hold dates, the others hours.
struct TimeBox {
  int option;
  const char* stem;
  const char* caption;
  const char* initial;
  const char* label_suffix;  // lblStartTimeN / lblStopTimeN
  const char* label;
};

inline constexpr TimeBox kTimeBoxes[] = {
    {1, "TimeRelative", "Now, minus", "24.0", "3", "hours"},
    {2, "TimeToday", "Today at", "6:00:00 AM", "1", "(HH:MM:SS AM/PM)"},
    {3, "TimeAbsolute", "", "12/31/2002 11:22:33 PM", "2", "(MM/DD/YYYY HH:MM:SS AM/PM)"},
    {4, "TimeSunriseRelative", "Sunrise +/-", "24.0", "4", "hours"},
    {5, "TimeSunsetRelative", "Sunset +/-", "24.0", "5", "hours"},
};

// The value of a date box's text: a date and time for "absolute"; for "today" only a time
// of day, since a text with a day in it would be cut to the last second of the day.
std::optional<double> DateBoxValue(int option, const QString& text);

}  // namespace chronoreel::main_form
