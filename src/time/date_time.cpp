#include "time/date_time.h"

#include <sys/stat.h>

#include <cmath>
#include <cstdint>
#include <cstdio>

namespace chronoreel {
namespace {

// Days from 1970-01-01 to 1899-12-30 is -25569; values count from the latter.
constexpr int64_t kEpochShift = 25569;
constexpr int64_t kSecondsPerDay = 86400;
constexpr int64_t kMillisPerDay = kSecondsPerDay * 1000;

// Values are held to years 1-9999: beyond that no caller has a meaning for them, and the
// clamp keeps the integer arithmetic below far from overflow.
constexpr double kFirstDay = -693593.0;  // 0001-01-01
constexpr double kLastDay = 2958465.0;   // 9999-12-31

bool IsLeapYear(int64_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(int64_t year, int month) {
  static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month == 2 && IsLeapYear(year)) return 29;
  return kDays[month - 1];
}

// Civil date from days since 1970-01-01 (the era-based method; DaysFromCivil is the inverse).

void CivilFromDays(int64_t z, int& year, int& month, int& day) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  year = static_cast<int>(yoe + era * 400 + (month <= 2));
}

// Splits a value into its whole day (floor, so days before 1899-12-30 are negative and the
// fraction is always the time of day) and the count of `units_per_day` units into that
// day, rounded to the nearest unit; a round-up to the next midnight carries into the day.
void SplitValue(DateTime value, int64_t units_per_day, int64_t& day, int64_t& units) {
  if (!std::isfinite(value)) value = 0.0;
  if (value < kFirstDay) value = kFirstDay;
  if (value > kLastDay + 1.0) value = kLastDay + 1.0;
  const double whole = std::floor(value);
  day = static_cast<int64_t>(whole);
  units = std::llround((value - whole) * static_cast<double>(units_per_day));
  if (units >= units_per_day) {
    ++day;
    units -= units_per_day;
  }
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// A small cursor over the date text. Every read is bounded, so no text can make it loop
// or overflow.
class Scanner {
 public:
  explicit Scanner(std::string_view text) : text_(text) {}

  bool AtEnd() const { return pos_ >= text_.size(); }
  size_t Pos() const { return pos_; }
  void Rewind(size_t pos) { pos_ = pos; }

  // Reads between min and max digits (stops at the first non-digit); fails on fewer.
  bool Number(size_t min_digits, size_t max_digits, int& out, size_t* count = nullptr) {
    size_t n = 0;
    int v = 0;
    while (pos_ < text_.size() && IsDigit(text_[pos_]) && n < max_digits) {
      v = v * 10 + (text_[pos_] - '0');
      ++pos_;
      ++n;
    }
    if (n < min_digits) return false;
    // More digits than allowed is a malformed field, not a shorter one.
    if (pos_ < text_.size() && IsDigit(text_[pos_])) return false;
    out = v;
    if (count) *count = n;
    return true;
  }

  bool Char(char c) {
    if (pos_ < text_.size() && Lower(text_[pos_]) == c) {
      ++pos_;
      return true;
    }
    return false;
  }

  size_t SkipBlanks() {
    const size_t start = pos_;
    while (pos_ < text_.size() && IsBlank(text_[pos_])) ++pos_;
    return pos_ - start;
  }

 private:
  std::string_view text_;
  size_t pos_ = 0;
};

int ExpandTwoDigitYear(int yy) { return yy < 30 ? 2000 + yy : 1900 + yy; }

// h:mm[:ss] with an optional AM/PM. Hours 0-23, or 1-12 with AM/PM.
bool ParseClockTime(Scanner& s, double& seconds_of_day) {
  int hour = 0, minute = 0, second = 0;
  if (!s.Number(1, 2, hour) || !s.Char(':') || !s.Number(2, 2, minute)) return false;
  if (s.Char(':') && !s.Number(2, 2, second)) return false;
  const size_t before_blanks = s.Pos();
  s.SkipBlanks();
  int meridian = 0;  // 0 none, 1 AM, 2 PM
  if (s.Char('a')) {
    meridian = 1;
  } else if (s.Char('p')) {
    meridian = 2;
  }
  if (meridian != 0) {
    if (!s.Char('m')) return false;
  } else {
    s.Rewind(before_blanks);
  }
  if (minute > 59 || second > 59) return false;
  if (meridian == 0) {
    if (hour > 23) return false;
  } else {
    if (hour < 1 || hour > 12) return false;
    hour %= 12;
    if (meridian == 2) hour += 12;
  }
  seconds_of_day = hour * 3600.0 + minute * 60.0 + second;
  return true;
}

// ISO 8601: YYYY-MM-DD[( |T)HH:MM[:SS]].
std::optional<DateTime> ParseIso(Scanner& s) {
  int year = 0, month = 0, day = 0;
  if (!s.Number(4, 4, year) || !s.Char('-') || !s.Number(2, 2, month) || !s.Char('-') ||
      !s.Number(2, 2, day)) {
    return std::nullopt;
  }
  int hour = 0, minute = 0, second = 0;
  if (!s.AtEnd()) {
    if (!s.Char(' ') && !s.Char('t')) return std::nullopt;
    if (!s.Number(2, 2, hour) || !s.Char(':') || !s.Number(2, 2, minute)) return std::nullopt;
    if (s.Char(':') && !s.Number(2, 2, second)) return std::nullopt;
  }
  if (!s.AtEnd()) return std::nullopt;
  return DateTimeFromCivil(year, month, day, hour, minute, second);
}

// M/D/YYYY or M/D/YY, optionally followed by blanks and a clock time.
std::optional<DateTime> ParseUsDate(Scanner& s) {
  int month = 0, day = 0, year = 0;
  size_t year_digits = 0;
  if (!s.Number(1, 2, month) || !s.Char('/') || !s.Number(1, 2, day) || !s.Char('/') ||
      !s.Number(2, 4, year, &year_digits)) {
    return std::nullopt;
  }
  if (year_digits == 3) return std::nullopt;
  if (year_digits == 2) year = ExpandTwoDigitYear(year);
  double seconds_of_day = 0.0;
  if (!s.AtEnd()) {
    if (s.SkipBlanks() == 0) return std::nullopt;
    if (!ParseClockTime(s, seconds_of_day) || !s.AtEnd()) return std::nullopt;
  }
  const auto date = DateTimeFromCivil(year, month, day);
  if (!date) return std::nullopt;
  return *date + seconds_of_day / kSecondsPerDay;
}

}  // namespace

int64_t DaysFromCivil(int64_t y, int64_t m, int64_t d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

std::optional<DateTime> DateTimeFromCivil(int year, int month, int day, int hour, int minute,
                                          double second) {
  if (year < 1 || year > 9999 || month < 1 || month > 12) return std::nullopt;
  if (day < 1 || day > DaysInMonth(year, month)) return std::nullopt;
  if (hour < 0 || hour > 23 || minute < 0 || minute > 59) return std::nullopt;
  if (!(second >= 0.0 && second < 60.0)) return std::nullopt;  // also rejects NaN
  const double days = static_cast<double>(DaysFromCivil(year, month, day) + kEpochShift);
  return days + (hour * 3600.0 + minute * 60.0 + second) / kSecondsPerDay;
}

CivilTime CivilFromDateTime(DateTime value) {
  int64_t day = 0, ms = 0;
  SplitValue(value, kMillisPerDay, day, ms);
  CivilTime civil;
  CivilFromDays(day - kEpochShift, civil.year, civil.month, civil.day);
  civil.hour = static_cast<int>(ms / 3600000);
  civil.minute = static_cast<int>(ms / 60000 % 60);
  civil.second = static_cast<double>(ms % 60000) / 1000.0;
  return civil;
}

DateTime DateTimeFromUnix(std::time_t seconds, long nanoseconds) {
  std::tm local{};
  if (localtime_r(&seconds, &local) == nullptr) return 0.0;
  // A leap second reads as the last second of its minute.
  const int sec = local.tm_sec > 59 ? 59 : local.tm_sec;
  const int64_t days =
      DaysFromCivil(int64_t{local.tm_year} + 1900, local.tm_mon + 1, local.tm_mday) + kEpochShift;
  const double of_day = local.tm_hour * 3600.0 + local.tm_min * 60.0 + sec +
                        static_cast<double>(nanoseconds) / 1e9;
  return static_cast<double>(days) + of_day / kSecondsPerDay;
}

std::optional<DateTime> FileModifiedTime(const std::filesystem::path& path) {
  const std::optional<FileTime> stamp = FileModifiedStamp(path);
  if (!stamp) return std::nullopt;
  return stamp->local;
}

std::optional<FileTime> FileModifiedStamp(const std::filesystem::path& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return std::nullopt;
  const timespec& at = info.st_mtim;
  const double moment = static_cast<double>(at.tv_sec) / kSecondsPerDay + kEpochShift +
                        static_cast<double>(at.tv_nsec) / 1e9 / kSecondsPerDay;
  return FileTime{DateTimeFromUnix(at.tv_sec, at.tv_nsec), moment};
}

std::string FormatDateTime(DateTime value, std::string_view pattern) {
  // Shown times round to the nearest second, as the platform's date formatting did.
  int64_t day = 0, secs = 0;
  SplitValue(value, kSecondsPerDay, day, secs);
  int year = 0, month = 0, dom = 0;
  CivilFromDays(day - kEpochShift, year, month, dom);
  const int hour = static_cast<int>(secs / 3600);
  const int minute = static_cast<int>(secs / 60 % 60);
  const int second = static_cast<int>(secs % 60);
  const int hour12 = hour % 12 == 0 ? 12 : hour % 12;
  const char* meridian = hour < 12 ? "AM" : "PM";
  const int yy = year % 100;

  char buf[48];
  if (pattern == "HHMM") {
    std::snprintf(buf, sizeof buf, "%02d%02d", hour, minute);
  } else if (pattern == "HHMMSS") {
    std::snprintf(buf, sizeof buf, "%02d%02d%02d", hour, minute, second);
  } else if (pattern == "YYMMDD") {
    std::snprintf(buf, sizeof buf, "%02d%02d%02d", yy, month, dom);
  } else if (pattern == "MMDDYY") {
    std::snprintf(buf, sizeof buf, "%02d%02d%02d", month, dom, yy);
  } else if (pattern == "DDMMYY") {
    std::snprintf(buf, sizeof buf, "%02d%02d%02d", dom, month, yy);
  } else if (pattern == "HH:MM:SS AM/PM") {
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d %s", hour12, minute, second, meridian);
  } else if (pattern == "MM/DD/YYYY HH:MM:SS AM/PM") {
    std::snprintf(buf, sizeof buf, "%02d/%02d/%04d %02d:%02d:%02d %s", month, dom, year, hour12,
                  minute, second, meridian);
  } else if (pattern == "YYYY-MM-DD HH:MM:SS") {
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", year, month, dom, hour, minute,
                  second);
  } else {
    return {};  // not a pattern of the program
  }
  return buf;
}

std::optional<DateTime> ParseDateText(std::string_view text) {
  size_t first = 0, last = text.size();
  while (first < last && IsBlank(text[first])) ++first;
  while (last > first && IsBlank(text[last - 1])) --last;
  const std::string_view body = text.substr(first, last - first);
  if (body.empty()) return std::nullopt;

  // The separator after the leading number tells the forms apart.
  size_t digits = 0;
  while (digits < body.size() && IsDigit(body[digits])) ++digits;
  if (digits == 0 || digits == body.size()) return std::nullopt;

  Scanner s(body);
  switch (body[digits]) {
    case '-':
      return ParseIso(s);
    case '/':
      return ParseUsDate(s);
    case ':': {
      double seconds_of_day = 0.0;
      if (!ParseClockTime(s, seconds_of_day) || !s.AtEnd()) return std::nullopt;
      return seconds_of_day / kSecondsPerDay;
    }
    default:
      return std::nullopt;
  }
}

}  // namespace chronoreel
