#pragma once
// The generation settings, each declared once in CHRONOREEL_SETTINGS: MovieGen's setter and
// getter, its member, the setup file's key and default, and the rows that the setup file
// and the main window read all come from that one row.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>

#include "app/core/utility.h"
#include "engine/default_paths.h"
#include "engine/deflicker.h"
#include "engine/stamp.h"

namespace chronoreel {

class MovieGen;

// How a setting is held, and the type its setter takes and its getter gives.
enum class SettingType {
  Text,    // a string, compared exactly: letter case counts
  Truth,   // true or false
  Whole,   // a 32-bit integer
  Real,    // a 64-bit float
  Single,  // held in single precision, set and read as 64 bits; NaN is "no number"
  Rate,    // a whole number held as a 64-bit float, set and read as a 32-bit integer
};

// How a setter treats a value after the comparison with the one held.
struct SettingRange {
  enum class Rule { Any, Clamp, PlusOrMinusOne, OffOrClamp } rule = Rule::Any;
  double lo = 0;
  double hi = 0;
};
constexpr SettingRange kAny{};
constexpr SettingRange Clamp(double lo, double hi) {
  return {SettingRange::Rule::Clamp, lo, hi};
}
// Only 1 and -1 are taken; anything else leaves the setting as it was.
constexpr SettingRange kPlusOrMinusOne{SettingRange::Rule::PlusOrMinusOne, -1, 1};
// 0 and below is off; otherwise clamped to lo..hi.
constexpr SettingRange OffOrClamp(double lo, double hi) {
  return {SettingRange::Rule::OffOrClamp, lo, hi};
}

// How the setup file's text reaches the setter.
enum class SettingRead {
  Text,        // as it stands
  Str2Bool,    // a truth value
  Str2LngNI,   // a 32-bit integer
  Rounded,     // a 64-bit number rounded to the nearest 32-bit integer, halves to even
  Str2DblNI,   // a 64-bit number
  NumberOrNaN,    // a 64-bit number; text that is no number stays NaN
  NumberOrAbsent  // a 64-bit number; a missing key or text that is no number is NaN, written as no key
};

// Whether the original program's files hold the key. The newer keys are written only when
// they are used, so that such a file stays as it was.
enum class SettingFile { Original, Added };

// Ranges and defaults that other parts of the program hold to as well.
constexpr double kLastSecondOfDay = 86399.0 / 86400.0;
constexpr SettingRange kTimeOfDay = Clamp(0, kLastSecondOfDay);
constexpr SettingRange kStampPositions = Clamp(kStampTopLeft, kStampBottomRight);
constexpr SettingRange kStampHeights = Clamp(FrameStamper::kMinHeightPercent, FrameStamper::kMaxHeightPercent);
constexpr double kStampHeight = FrameStamper::kDefaultHeightPercent;
constexpr SettingRange kDeflickerWindows = OffOrClamp(Deflicker::kMinWindow, Deflicker::kMaxWindow);
constexpr double kNoNumber = std::numeric_limits<double>::quiet_NaN();
constexpr SettingRange kBrightness = Clamp(0, 255);

// clang-format off
// One row per setting, in the order of the keys in a new setup file (section General).
// Where the file default differs from the creation default, the difference is meant.
#define CHRONOREEL_SETTINGS(X)                                                                                                                                                             \
  /* property                 member                        type    range              creation default         key                         file default            read as      file */   \
  /* A missing key must not switch on the deletion of the user's stills: False, not True. */                                                                                               \
  X(DeleteOldImages,          delete_old_images_,           Truth,  kAny,              false,                   "DeleteOldImages",          false,                  Str2Bool,    Original) \
  X(DeleteOldImagesHours,     delete_old_images_hours_,     Single, kAny,              168,                     "DeleteOldImagesHours",     168,                    NumberOrNaN, Original) \
  X(ImageFilter,              image_filter_,                Text,   kAny,              "*.jpg",                 "ImageFilter",              "*.jpg",                Text,        Original) \
  X(ImageIntervalOption,      image_interval_option_,       Whole,  Clamp(0, 1),       0,                       "ImageIntervalOption",      0,                      Str2LngNI,   Original) \
  X(ImagesPerHour,            images_per_hour_,             Real,   Clamp(1, 36000),   60,                      "ImagesPerHour",            60,                     Str2DblNI,   Original) \
  X(DuplicateCount,           duplicate_count_,             Whole,  Clamp(1, 100000),  2,                       "DuplicateCount",           2,                      Rounded,     Original) \
  X(MovieDirection,           movie_direction_,             Whole,  kPlusOrMinusOne,   1,                       "Direction",                1,                      Str2LngNI,   Original) \
  X(MovieFPS,                 movie_fps_,                   Rate,   Clamp(1, 60),      24,                      "MovieFPS",                 24,                     Rounded,     Original) \
  X(MovieSizeHeight,          movie_size_height_,           Whole,  Clamp(1, 4320),    240,                     "MovieSizeHeight",          240,                    Rounded,     Original) \
  X(MovieSizeOption,          movie_size_option_,           Whole,  Clamp(0, 1),       0,                       "MovieSizeOption",          0,                      Str2LngNI,   Original) \
  X(MovieSizeWidth,           movie_size_width_,            Whole,  Clamp(1, 7680),    320,                     "MovieSizeWidth",           320,                    Str2LngNI,   Original) \
  X(OutputAVIPath,            output_avi_path_,             Text,   kAny,              DefaultOutputAVIPath(),  "OutputAVIPath",            DefaultOutputAVIPath(), Text,        Original) \
  X(PostGenerationShell,      post_generation_shell_,       Text,   kAny,              "",                      "PostGenerationShell",      "",                     Text,        Original) \
  X(TimeOption,               time_option_,                 Whole,  Clamp(0, 1),       0,                       "TimeOption",               0,                      Str2LngNI,   Original) \
  X(StartTimeAbsolute,        start_time_absolute_,         Real,   kAny,              0,                       "StartTimeAbsolute",        0,                      Str2DblNI,   Original) \
  /* A new window starts at "Now"; a file without the key at "Now, minus". */                                                                                                              \
  X(StartTimeOption,          start_time_option_,           Whole,  Clamp(0, 5),       0,                       "StartTimeOption",          1,                      Str2LngNI,   Original) \
  X(StartTimeRelative,        start_time_relative_,         Real,   kAny,              0,                       "StartTimeRelative",        0,                      Str2DblNI,   Original) \
  X(StartTimeToday,           start_time_today_,            Real,   kTimeOfDay,        0,                       "StartTimeToday",           0,                      Str2DblNI,   Original) \
  X(StartTimeSunriseRelative, start_time_sunrise_relative_, Real,   Clamp(-24, 24),    0,                       "StartTimeSunriseRelative", 0,                      Str2DblNI,   Original) \
  X(StartTimeSunsetRelative,  start_time_sunset_relative_,  Real,   Clamp(-24, 24),    0,                       "StartTimeSunsetRelative",  0,                      Str2DblNI,   Original) \
  /* On Windows a new window shows "c:\images\", a file without the key "c:\images". */                                                                                                    \
  X(StillDirectory,           still_directory_,             Text,   kAny,              DefaultStillDirectory(), "StillDirectory",           FileStillDirectory(),   Text,        Original) \
  X(StopTimeAbsolute,         stop_time_absolute_,          Real,   kAny,              0,                       "StopTimeAbsolute",         0,                      Str2DblNI,   Original) \
  X(StopTimeOption,           stop_time_option_,            Whole,  Clamp(0, 5),       0,                       "StopTimeOption",           0,                      Str2LngNI,   Original) \
  X(StopTimeRelative,         stop_time_relative_,          Real,   kAny,              0,                       "StopTimeRelative",         0,                      Str2DblNI,   Original) \
  X(StopTimeToday,            stop_time_today_,             Real,   kTimeOfDay,        0,                       "StopTimeToday",            0,                      Str2DblNI,   Original) \
  X(StopTimeSunriseRelative,  stop_time_sunrise_relative_,  Real,   Clamp(-24, 24),    0,                       "StopTimeSunriseRelative",  0,                      Str2DblNI,   Original) \
  X(StopTimeSunsetRelative,   stop_time_sunset_relative_,   Real,   Clamp(-24, 24),    0,                       "StopTimeSunsetRelative",   0,                      Str2DblNI,   Original) \
  /* 2 reads the capture time from the still's EXIF data. */                                                                                                                               \
  X(TimeStampOption,          time_stamp_option_,           Whole,  Clamp(0, 2),       0,                       "TimeStampOption",          0,                      Str2LngNI,   Original) \
  /* Keys beyond the original format: their defaults make the movie an original file always made. */                                                                                       \
  X(IncludeSubfolders,        include_subfolders_,          Truth,  kAny,              false,                   "IncludeSubfolders",        false,                  Str2Bool,    Added)    \
  /* A pattern with the command's tags and strftime-style fields of the still's time. */                                                                                                   \
  X(StampText,                stamp_text_,                  Text,   kAny,              "",                      "StampText",                "",                     Text,        Added)    \
  X(StampPosition,            stamp_position_,              Whole,  kStampPositions,   kStampBottomRight,       "StampPosition",            kStampBottomRight,      Str2LngNI,   Added)    \
  /* Letter height in percent of the movie height. */                                                                                                                                      \
  X(StampSize,                stamp_size_,                  Real,   kStampHeights,     kStampHeight,            "StampSize",                kStampHeight,           Str2DblNI,   Added)    \
  /* A window of one frame would change nothing: the nearest real window is two. */                                                                                                        \
  X(DeflickerFrames,          deflicker_frames_,            Whole,  kDeflickerWindows, 0,                       "DeflickerFrames",          0,                      Rounded,     Added)    \
  /* The camera's own place for its sun times; without the keys the profile's location. */                                                                                                 \
  X(Latitude,                 latitude_,                    Real,   Clamp(-90, 90),    kNoNumber,               "Latitude",                 kNoNumber,              NumberOrAbsent, Added) \
  X(Longitude,                longitude_,                   Real,   Clamp(-180, 180),  kNoNumber,               "Longitude",                kNoNumber,              NumberOrAbsent, Added) \
  /* Mean brightness of a still, 0 to 255: darker or brighter ones give no frame. */                                                                                                       \
  X(SkipDarkBelow,            skip_dark_below_,             Whole,  kBrightness,       0,                       "SkipDarkBelow",            0,                      Rounded,     Added)    \
  X(SkipBrightAbove,          skip_bright_above_,           Whole,  kBrightness,       255,                     "SkipBrightAbove",          255,                    Rounded,     Added) \
  /* Long runs. The hours kept of each day: 0 all, 1 DayHoursStart to DayHoursStop (a start                                                                                                \
     after the stop runs past midnight), 2 each day's sunrise to its sunset, moved by hours. */                                                                                             \
  X(DayHoursOption,           day_hours_option_,            Whole,  Clamp(0, 2),       0,                       "DayHoursOption",           0,                      Str2LngNI,   Added)    \
  X(DayHoursStart,            day_hours_start_,             Real,   kTimeOfDay,        0,                       "DayHoursStart",            0,                      Str2DblNI,   Added)    \
  X(DayHoursStop,             day_hours_stop_,              Real,   kTimeOfDay,        0,                       "DayHoursStop",             0,                      Str2DblNI,   Added)    \
  X(DayHoursSunriseRelative,  day_hours_sunrise_relative_,  Real,   Clamp(-12, 12),    0,                       "DayHoursSunriseRelative",  0,                      Str2DblNI,   Added)    \
  X(DayHoursSunsetRelative,   day_hours_sunset_relative_,   Real,   Clamp(-12, 12),    0,                       "DayHoursSunsetRelative",   0,                      Str2DblNI,   Added)    \
  /* Clock times such as "09:00,12:00,15:00": one frame per day and time instead of frames per hour. */                                                                                    \
  X(DailyTimes,               daily_times_,                 Text,   kAny,              "",                      "DailyTimes",               "",                     Text,        Added)    \
  X(DailyToleranceMinutes,    daily_tolerance_minutes_,     Real,   Clamp(0, 720),     30,                      "DailyToleranceMinutes",    30,                     Str2DblNI,   Added)    \
  /* The movie's length in seconds; 0: as long as the frames make it. */                                                                                                                    \
  X(MovieSeconds,             movie_seconds_,               Real,   Clamp(0, 86400),   0,                       "MovieSeconds",             0,                      Str2DblNI,   Added)    \
  /* Whole days added to "Today at": -1 is yesterday. */                                                                                                                                    \
  X(StartTimeTodayDays,       start_time_today_days_,       Whole,  Clamp(-36500, 36500), 0,                       "StartTimeTodayDays",       0,                      Rounded,     Added)    \
  X(StopTimeTodayDays,        stop_time_today_days_,        Whole,  Clamp(-36500, 36500), 0,                       "StopTimeTodayDays",        0,                      Rounded,     Added)

// The compression record's keys (section Compress): property, field, key, a file's default.
// Their creation defaults are those of AviCompressOptions; a file without them holds no
// choice yet: all 0, blocks of 1024 bytes.
#define CHRONOREEL_RECORD_KEYS(X)                                               \
  X(CompressType,            fccType,           "Type",            "0")    \
  X(CompressFormat,          cbFormat,          "Format",          "1024") \
  X(CompressParms,           cbParms,           "Parms",           "1024") \
  X(CompressBytesPerSecond,  dwBytesPerSecond,  "BytesPerSecond",  "0")    \
  X(CompressFlags,           dwFlags,           "Flags",           "0")    \
  X(CompressInterleaveEvery, dwInterleaveEvery, "InterleaveEvery", "0")    \
  X(CompressKeyFrameEvery,   dwKeyFrameEvery,   "KeyFrameEvery",   "0")    \
  X(CompressQuality,         dwQuality,         "Quality",         "0")    \
  X(CompressHandler,         fccHandler,        "Handler",         "0")
// clang-format on

// How each type is held, what its setter takes and what its getter gives.
// clang-format off
template <SettingType> struct SettingTraits;
template <> struct SettingTraits<SettingType::Text> { using Held = std::string; using Arg = const std::string&; using Value = const std::string&; };
template <> struct SettingTraits<SettingType::Truth> { using Held = bool; using Arg = bool; using Value = bool; };
template <> struct SettingTraits<SettingType::Whole> { using Held = int32_t; using Arg = int32_t; using Value = int32_t; };
template <> struct SettingTraits<SettingType::Real> { using Held = double; using Arg = double; using Value = double; };
template <> struct SettingTraits<SettingType::Single> { using Held = float; using Arg = double; using Value = double; };
template <> struct SettingTraits<SettingType::Rate> { using Held = double; using Arg = int32_t; using Value = int32_t; };
// clang-format on

template <SettingType T>
using SettingArg = typename SettingTraits<T>::Arg;
template <SettingType T>
using SettingValue = typename SettingTraits<T>::Value;
template <SettingType T>
using SettingHeld = typename SettingTraits<T>::Held;

// The getter's value.
template <SettingType T>
SettingValue<T> SettingGet(const SettingHeld<T>& held) {
  // Halves to even, like every other rounding to a whole number in the program.
  if constexpr (T == SettingType::Rate)
    return static_cast<int32_t>(std::nearbyint(held));
  else
    return held;
}

// Compare, store, clamp: true when the setup changed. The comparison uses the value passed
// in, before clamping: a value that clamps back to the one held still counts as a change.
template <SettingType T>
bool SettingAssign(SettingHeld<T>& held, SettingArg<T> value, const SettingRange& range) {
  if constexpr (T == SettingType::Single) {
    // Held in single precision, so the comparison is too. Past the float range a value keeps
    // its meaning at the largest float: an infinity would be saved as text that reads back
    // as 0 hours, and then every still would count as old. NaN stays NaN.
    constexpr double kLargest = std::numeric_limits<float>::max();
    const float narrowed = static_cast<float>(std::clamp(value, -kLargest, kLargest));
    if (narrowed == held || (std::isnan(narrowed) && std::isnan(held))) return false;
    held = narrowed;
    return true;
  } else if constexpr (T == SettingType::Text || T == SettingType::Truth) {
    if (value == held) return false;
    held = value;
    return true;
  } else {
    using Rule = SettingRange::Rule;
    if (range.rule == Rule::PlusOrMinusOne && value != 1 && value != -1) return false;
    const SettingHeld<T> given = static_cast<SettingHeld<T>>(value);
    if (given == held) return false;
    // "No number" set again is no change either.
    if constexpr (std::is_floating_point_v<SettingHeld<T>>) {
      if (std::isnan(given) && std::isnan(held)) return false;
    }
    held = given;
    if (range.rule == Rule::Clamp) Limit(held, range.lo, range.hi);
    if (range.rule == Rule::OffOrClamp) {
      if (held <= 0)
        held = 0;
      else
        Limit(held, range.lo, range.hi);
    }
    return true;
  }
}

// One setting as the setup file and the main window see it.
struct SettingInfo {
  const char* property;  // MovieGen's name: StillDirectory, SetStillDirectory
  SettingType type;
  SettingRange range;
  const char* section;
  const char* key;
  SettingRead read;
  SettingFile file;
  std::string (*file_default)();  // the text for a key that is missing or empty
  // The file's text, converted as `read` says, into the setter.
  void (*load)(MovieGen&, const std::string& text) = nullptr;
  // The value as the file holds it: numbers as CStrNI writes them, True or False, text.
  std::string (*text)(const MovieGen&) = nullptr;
  // Numbers and truth values (not text) as 64-bit floats, for the window's boxes.
  void (*set_number)(MovieGen&, double) = nullptr;
  double (*number)(const MovieGen&) = nullptr;
};

// The settings of the list above, then the compression record's keys (section Compress).
std::span<const SettingInfo> SettingTable();
// The row of a property ("StillDirectory"); a name that is not in the table is a fault.
const SettingInfo& FindSetting(std::string_view property);

}  // namespace chronoreel
