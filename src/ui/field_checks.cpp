#include "ui/field_checks.h"

#include <cmath>
#include <limits>
#include <vector>

#include <QLineEdit>
#include <QVariant>

#include "app/core/conversions.h"
#include "engine/deflicker.h"
#include "engine/stages.h"
#include "engine/stamp.h"
#include "time/date_time.h"

namespace chronoreel::field_checks {

namespace {

constexpr double kNone = std::numeric_limits<double>::infinity();

// The ranges are those the settings clamp to: a value outside would not be used as typed.
// clang-format off
constexpr FieldCheck kMainWindow[] = {
    {"txtDeleteOlderImagesHours", "Delete Images Older Than (hours)", "DeleteOldImagesHours", "chkDeleteOlderImages",
     Kind::Number, 0, kNone, "a number of hours", "72"},
    {"txtStartTimeRelative", "Start Time, Now, minus (hours)", "StartTimeRelative", "optStartTime_1",
     Kind::Number, -kNone, kNone, "a number of hours", "24.0"},
    {"txtStartTimeToday", "Start Time, Today at", "StartTimeToday", "optStartTime_2",
     Kind::TimeOfDay, 0, 0, "a time like", "6:00:00 AM"},
    {"txtStartTimeAbsolute", "Start Time, date", "StartTimeAbsolute", "optStartTime_3",
     Kind::Date, 0, 0, "a date like", "12/31/2002 11:22:33 PM"},
    {"txtStartTimeSunriseRelative", "Start Time, Sunrise +/- (hours)", "StartTimeSunriseRelative", "optStartTime_4",
     Kind::Number, -24, 24, "a number of hours", "-1.5"},
    {"txtStartTimeSunsetRelative", "Start Time, Sunset +/- (hours)", "StartTimeSunsetRelative", "optStartTime_5",
     Kind::Number, -24, 24, "a number of hours", "1.5"},
    {"txtStopTimeRelative", "Stop Time, Now, minus (hours)", "StopTimeRelative", "optStopTime_1",
     Kind::Number, -kNone, kNone, "a number of hours", "0"},
    {"txtStopTimeToday", "Stop Time, Today at", "StopTimeToday", "optStopTime_2",
     Kind::TimeOfDay, 0, 0, "a time like", "8:00:00 PM"},
    {"txtStopTimeAbsolute", "Stop Time, date", "StopTimeAbsolute", "optStopTime_3",
     Kind::Date, 0, 0, "a date like", "12/31/2002 11:22:33 PM"},
    {"txtStopTimeSunriseRelative", "Stop Time, Sunrise +/- (hours)", "StopTimeSunriseRelative", "optStopTime_4",
     Kind::Number, -24, 24, "a number of hours", "1.5"},
    {"txtStopTimeSunsetRelative", "Stop Time, Sunset +/- (hours)", "StopTimeSunsetRelative", "optStopTime_5",
     Kind::Number, -24, 24, "a number of hours", "1.5"},
    {"txtImageInterval", "Images per hour", "ImagesPerHour", "optImageInterval_1",
     Kind::Number, 1, 36000, "a number of images", "60"},
    {"txtDuplicateCount", "Max repeats per image", "DuplicateCount", "optImageInterval_1",
     Kind::Whole, 1, 100000, "a whole number", "2"},
    {"txtMovieWidth", "Movie width", "MovieSizeWidth", "optMovieSize_1",
     Kind::Whole, 1, 7680, "a whole number of pixels", "640"},
    {"txtMovieHeight", "Movie height", "MovieSizeHeight", "optMovieSize_1",
     Kind::Whole, 1, 4320, "a whole number of pixels", "480"},
    {"txtStampSize", "Date stamp height (%)", "StampSize", nullptr,
     Kind::Number, FrameStamper::kMinHeightPercent, FrameStamper::kMaxHeightPercent, "a percentage of the movie height", "5"},
    {"txtDeflickerFrames", "Deflicker over (frames)", "DeflickerFrames", nullptr,
     Kind::OffOrWhole, Deflicker::kMinWindow, Deflicker::kMaxWindow, "a whole number of frames", "10"},
    {"txtDayHoursStart", "Hours of each day, from", "DayHoursStart", "optDayHours_1",
     Kind::TimeOfDay, 0, 0, "a time like", "7:00:00 AM"},
    {"txtDayHoursStop", "Hours of each day, to", "DayHoursStop", "optDayHours_1",
     Kind::TimeOfDay, 0, 0, "a time like", "5:00:00 PM"},
    {"txtDayHoursSunriseRelative", "Hours of each day, Sunrise +/- (hours)", "DayHoursSunriseRelative", "optDayHours_2",
     Kind::Number, -12, 12, "a number of hours", "-0.5"},
    {"txtDayHoursSunsetRelative", "Hours of each day, to sunset +/- (hours)", "DayHoursSunsetRelative", "optDayHours_2",
     Kind::Number, -12, 12, "a number of hours", "0.5"},
    {"txtDailyTimes", "Stills at", "DailyTimes", nullptr,
     Kind::ClockTimes, 0, 0, "clock times like", "12:00 or 09:00,12:00,15:00"},
    {"txtDailyToleranceMinutes", "Stills at, within (minutes)", "DailyToleranceMinutes", "txtDailyTimes",
     Kind::Number, 0, 720, "a number of minutes", "30"},
    {"txtSkipDarkBelow", "Skip stills darker than", "SkipDarkBelow", nullptr,
     Kind::Whole, 0, 255, "a whole number", "40"},
    {"txtSkipBrightAbove", "Skip stills brighter than", "SkipBrightAbove", nullptr,
     Kind::Whole, 0, 255, "a whole number", "250"},
    {"txtMovieSeconds", "Movie length (seconds)", "MovieSeconds", nullptr,
     Kind::Number, 0, 86400, "a number of seconds", "30"},
    {"txtStartTimeTodayDays", "Start day (days)", "StartTimeTodayDays", nullptr,
     Kind::Whole, -36500, 36500, "a whole number of days", "-1"},
    {"txtStopTimeTodayDays", "Stop day (days)", "StopTimeTodayDays", nullptr,
     Kind::Whole, -36500, 36500, "a whole number of days", "0"},
    {"txtLatitude", "Latitude", "Latitude", nullptr,
     Kind::NumberOrEmpty, -90, 90, "a number of degrees", "52.5", "the profile's location"},
    {"txtLongitude", "Longitude", "Longitude", nullptr,
     Kind::NumberOrEmpty, -180, 180, "a number of degrees", "-1.25", "the profile's location"},
};

// The hemisphere is chosen in the list beside each row: the boxes hold sizes only.
constexpr FieldCheck kLocation[] = {
    {"txtLatitudeDegrees", "Latitude degrees", nullptr, nullptr, Kind::Number, 0, 90, "a number of degrees", "40"},
    {"txtLatitudeMinutes", "Latitude minutes", nullptr, nullptr, Kind::Number, 0, 60, "a number of minutes", "7.5"},
    {"txtLongitudeDegrees", "Longitude degrees", nullptr, nullptr, Kind::Number, 0, 180, "a number of degrees", "75"},
    {"txtLongitudeMinutes", "Longitude minutes", nullptr, nullptr, Kind::Number, 0, 60, "a number of minutes", "30"},
};
// clang-format on

constexpr const char* kMarkedProperty = "chronoreelMarked";
constexpr const char* kOwnTipProperty = "chronoreelOwnTip";

}  // namespace

std::span<const FieldCheck> MainWindowFields() { return kMainWindow; }
std::span<const FieldCheck> LocationFields() { return kLocation; }

std::optional<double> DateValue(Kind kind, std::string_view text) {
  std::optional<double> value = ParseDateText(text);
  if (kind == Kind::TimeOfDay && value && (*value < 0 || *value >= 1)) value.reset();
  return value;
}

bool IsValid(const FieldCheck& check, std::string_view text) {
  if (check.kind == Kind::TimeOfDay || check.kind == Kind::Date) return DateValue(check.kind, text).has_value();
  if (check.kind == Kind::ClockTimes) {
    std::vector<double> times;
    return ParseDailyTimes(text, times);
  }
  if (check.kind == Kind::NumberOrEmpty && TrimSpaces(std::string(text)).empty()) return true;
  const std::optional<double> value = TryCDblNI(text);
  if (!value || !std::isfinite(*value)) return false;
  const bool whole = *value == std::floor(*value);
  if (check.kind == Kind::OffOrWhole && *value == 0) return true;
  if (check.kind != Kind::Number && !whole) return false;
  return *value >= check.lo && *value <= check.hi;
}

std::string Hint(const FieldCheck& check) {
  std::string hint = check.what;
  if (check.kind == Kind::TimeOfDay || check.kind == Kind::Date || check.kind == Kind::ClockTimes) {
    return hint + " " + check.example;
  }
  if (check.kind == Kind::OffOrWhole) hint = "0 (off) or " + hint;
  if (check.kind == Kind::NumberOrEmpty) hint = std::string("nothing (") + check.if_none + ") or " + hint;
  if (std::isfinite(check.lo) && std::isfinite(check.hi)) {
    hint += " from " + CStrNI(check.lo) + " to " + CStrNI(check.hi);
  } else if (std::isfinite(check.lo)) {
    hint += ", " + CStrNI(check.lo) + " or more";
  }
  return hint + ", e.g. " + check.example;
}

std::string ClockTimesText(std::string_view text) {
  std::vector<double> times;
  ParseDailyTimes(text, times);
  std::string list;
  for (const double time : times) {
    const int seconds = static_cast<int>(std::lround(time * 86400)) % 86400;
    const auto two = [](int n) { return std::to_string(100 + n).substr(1); };
    list += (list.empty() ? "" : ", ") + two(seconds / 3600) + ":" + two(seconds / 60 % 60);
    if (seconds % 60 != 0) list += ":" + two(seconds % 60);
  }
  return list.empty() ? "none" : list;
}

void ShowMark(QLineEdit* box, const FieldCheck& check, bool marked) {
  if (IsMarked(box) == marked) return;
  if (marked) {
    box->setProperty(kOwnTipProperty, box->toolTip());
    // A style sheet draws the same frame in every style, Fusion and offscreen included.
    box->setStyleSheet("QLineEdit { border: 2px solid #d32f2f; border-radius: 3px; padding: 1px 2px; "
                       "background: #fff4f4; color: black; }");
    box->setToolTip(QString::fromStdString("Takes " + Hint(check) + "."));
  } else {
    box->setStyleSheet(QString());
    box->setToolTip(box->property(kOwnTipProperty).toString());
  }
  box->setProperty(kMarkedProperty, marked);
}

bool IsMarked(const QLineEdit* box) { return box->property(kMarkedProperty).toBool(); }

}  // namespace chronoreel::field_checks
