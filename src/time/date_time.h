#pragma once
// The date-time value: days since 30 December 1899, the fraction being the time of day,
// always local time (a 64-bit float).
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace chronoreel {

using DateTime = double;

struct CivilTime {
  int year = 1899;
  int month = 12;
  int day = 30;
  int hour = 0;
  int minute = 0;
  double second = 0.0;  // with fraction
};

// A valid civil date and time (year 1-9999, 1 <= month <= 12, day within the month, hour
// 0-23, minute and second 0-59) gives its value; anything else gives nullopt.
std::optional<DateTime> DateTimeFromCivil(int year, int month, int day, int hour = 0,
                                          int minute = 0, double second = 0.0);
// Days since 1970-01-01 of a proleptic Gregorian date (any year, month 1-12).
int64_t DaysFromCivil(int64_t y, int64_t m, int64_t d);

// The civil date and time of a value; the seconds are rounded to the millisecond (a
// round-up carries, so second is never 60). The day is floor(value), so before
// 1899-12-30 the fraction is still the time of day: -0.25 is 1899-12-29 18:00 (the old
// date type would read 1899-12-30 06:00; no date in use lies that early).
CivilTime CivilFromDateTime(DateTime value);

// A moment of the system clock as local date-time (localtime_r), with its fraction.
DateTime DateTimeFromUnix(std::time_t seconds, long nanoseconds = 0);
// The file's last-modified time as local date-time; nullopt when it cannot be read.
std::optional<DateTime> FileModifiedTime(const std::filesystem::path& path);
// The same, with the moment itself: Universal Time on the date-time scale. Local times
// repeat an hour on the night the clocks go back; the moment orders files as written.
struct FileTime {
  DateTime local = 0;
  double moment = 0;
};
std::optional<FileTime> FileModifiedStamp(const std::filesystem::path& path);

// Formats with one of the patterns the program uses: "HHMM", "HHMMSS", "YYMMDD",
// "MMDDYY", "DDMMYY", "HH:MM:SS AM/PM", "MM/DD/YYYY HH:MM:SS AM/PM", "YYYY-MM-DD HH:MM:SS".
// Every field has two digits (four for YYYY) with leading zeros; the time is rounded to
// the nearest second; the 12-hour forms show 12 for midnight and noon. Any other pattern
// gives "".
std::string FormatDateTime(DateTime value, std::string_view pattern);

// The date text of the command line and the date boxes: M/D/YYYY, M/D/YY, each with an
// optional h:mm[:ss] [AM|PM]; a time alone (day 0); ISO YYYY-MM-DD[( |T)HH:MM[:SS]].
// Two-digit years 00-29 are 2000-2029, 30-99 are 1930-1999. Anything else: nullopt.
std::optional<DateTime> ParseDateText(std::string_view text);

}  // namespace chronoreel
