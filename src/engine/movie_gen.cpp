// The settings of MovieGen: every setter compares, stores, clamps and marks the setup as
// changed; the compression record and its two byte blocks.
#include "engine/movie_gen.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "app/core/error_report.h"
#include "app/core/utility.h"
#include "engine/output_lock.h"
#include "time/sun.h"

namespace chronoreel {

namespace {

// The record keeps 32-bit pointer fields; only the low half of an address fits.
int32_t Low32(const void* address) {
  return static_cast<int32_t>(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(address)));
}

}  // namespace

MovieGen::MovieGen(ProgramState& state, Sun& sun, Host& host)
    : state_(state), sun_(sun), host_(host), now_(Clock) {
  ErrorTrap trap("MovieGen", "Class_Initialize");
}

MovieGen::~MovieGen() {
  ErrorTrap trap("MovieGen", "Class_Terminate");
  if (progress_) {
    progress_->Unload();
    progress_.reset();
  }
}

// ---- strings and truth values: compare exactly, store, mark ----

void MovieGen::SetStillDirectory(const std::string& value) {
  ErrorTrap trap("MovieGen", "StillDirectory_Let");
  if (value == still_directory_) return;
  still_directory_ = value;
  MarkChanged();
}

void MovieGen::SetImageFilter(const std::string& value) {
  ErrorTrap trap("MovieGen", "ImageFilter_Let");
  if (value == image_filter_) return;
  image_filter_ = value;
  MarkChanged();
}

void MovieGen::SetDeleteOldImages(bool value) {
  ErrorTrap trap("MovieGen", "DeleteOldImages_Let");
  if (value == delete_old_images_) return;
  delete_old_images_ = value;
  MarkChanged();
}

void MovieGen::SetDeleteOldImagesHours(double value) {
  ErrorTrap trap("MovieGen", "DeleteOldImagesHours_Let");
  // Held in single precision, so the comparison is too. Past the float range a value keeps
  // its meaning at the largest float: an infinity would be saved as text that reads back
  // as 0 hours, and then every still would count as old.
  constexpr double kLargest = std::numeric_limits<float>::max();
  // A value that is no number (NaN) stays one: the clean-up then deletes nothing.
  const float narrowed = static_cast<float>(std::clamp(value, -kLargest, kLargest));
  if (narrowed == delete_old_images_hours_ || (std::isnan(narrowed) && std::isnan(delete_old_images_hours_)))
    return;
  delete_old_images_hours_ = narrowed;
  MarkChanged();
}

void MovieGen::SetOutputAVIPath(const std::string& value) {
  ErrorTrap trap("MovieGen", "OutputAVIPath_Let");
  if (value == output_avi_path_) return;
  output_avi_path_ = value;
  MarkChanged();
}

void MovieGen::SetPostGenerationShell(const std::string& value) {
  ErrorTrap trap("MovieGen", "PostGenerationShell_Let");
  if (value == post_generation_shell_) return;
  post_generation_shell_ = value;
  MarkChanged();
}

void MovieGen::SetIncludeSubfolders(bool value) {
  ErrorTrap trap("MovieGen", "IncludeSubfolders_Let");
  if (value == include_subfolders_) return;
  include_subfolders_ = value;
  MarkChanged();
}

void MovieGen::SetStampText(const std::string& value) {
  ErrorTrap trap("MovieGen", "StampText_Let");
  if (value == stamp_text_) return;
  stamp_text_ = value;
  MarkChanged();
}

void MovieGen::SetMovieDirection(int32_t value) {
  ErrorTrap trap("MovieGen", "MovieDirection_Let");
  if (value != 1 && value != -1) return;
  if (value == movie_direction_) return;
  movie_direction_ = value;
  MarkChanged();
}

// ---- numbers: the comparison uses the value passed in, before clamping ----

#define CHRONOREEL_CLAMPED_SETTER(Name, Type, member, lo, hi)   \
  void MovieGen::Set##Name(Type value) {                         \
    ErrorTrap trap("MovieGen", #Name "_Let");                    \
    if (value == member) return;                                 \
    member = value;                                              \
    Limit(member, lo, hi);                                       \
    MarkChanged();                                               \
  }

#define CHRONOREEL_PLAIN_SETTER(Name, Type, member) \
  void MovieGen::Set##Name(Type value) {             \
    ErrorTrap trap("MovieGen", #Name "_Let");        \
    if (value == member) return;                     \
    member = value;                                  \
    MarkChanged();                                   \
  }

constexpr double kLastSecondOfDay = 86399.0 / 86400.0;

CHRONOREEL_CLAMPED_SETTER(TimeOption, int32_t, time_option_, 0, 1)
CHRONOREEL_CLAMPED_SETTER(StartTimeOption, int32_t, start_time_option_, 0, 5)
CHRONOREEL_PLAIN_SETTER(StartTimeRelative, double, start_time_relative_)
CHRONOREEL_CLAMPED_SETTER(StartTimeToday, double, start_time_today_, 0.0, kLastSecondOfDay)
CHRONOREEL_PLAIN_SETTER(StartTimeAbsolute, double, start_time_absolute_)
CHRONOREEL_CLAMPED_SETTER(StartTimeSunriseRelative, double, start_time_sunrise_relative_, -24.0, 24.0)
CHRONOREEL_CLAMPED_SETTER(StartTimeSunsetRelative, double, start_time_sunset_relative_, -24.0, 24.0)
CHRONOREEL_CLAMPED_SETTER(StopTimeOption, int32_t, stop_time_option_, 0, 5)
CHRONOREEL_PLAIN_SETTER(StopTimeRelative, double, stop_time_relative_)
CHRONOREEL_CLAMPED_SETTER(StopTimeToday, double, stop_time_today_, 0.0, kLastSecondOfDay)
CHRONOREEL_PLAIN_SETTER(StopTimeAbsolute, double, stop_time_absolute_)
CHRONOREEL_CLAMPED_SETTER(StopTimeSunriseRelative, double, stop_time_sunrise_relative_, -24.0, 24.0)
CHRONOREEL_CLAMPED_SETTER(StopTimeSunsetRelative, double, stop_time_sunset_relative_, -24.0, 24.0)
CHRONOREEL_CLAMPED_SETTER(ImageIntervalOption, int32_t, image_interval_option_, 0, 1)
CHRONOREEL_CLAMPED_SETTER(ImagesPerHour, double, images_per_hour_, 1.0, 36000.0)
CHRONOREEL_CLAMPED_SETTER(DuplicateCount, int32_t, duplicate_count_, 1, 100000)
// 2 reads the capture time from the still's EXIF data.
CHRONOREEL_CLAMPED_SETTER(TimeStampOption, int32_t, time_stamp_option_, 0, 2)
CHRONOREEL_CLAMPED_SETTER(MovieSizeOption, int32_t, movie_size_option_, 0, 1)
CHRONOREEL_CLAMPED_SETTER(MovieSizeWidth, int32_t, movie_size_width_, 1, 1600)
CHRONOREEL_CLAMPED_SETTER(MovieSizeHeight, int32_t, movie_size_height_, 1, 1200)
CHRONOREEL_CLAMPED_SETTER(StampPosition, int32_t, stamp_position_, 0, 3)
CHRONOREEL_CLAMPED_SETTER(StampSize, double, stamp_size_, 1.0, 50.0)

#undef CHRONOREEL_CLAMPED_SETTER
#undef CHRONOREEL_PLAIN_SETTER

void MovieGen::SetDeflickerFrames(int32_t value) {
  ErrorTrap trap("MovieGen", "DeflickerFrames_Let");
  if (value == deflicker_frames_) return;
  // A window of one frame would change nothing: the nearest real window is two.
  deflicker_frames_ = value <= 0 ? 0 : value;
  Limit(deflicker_frames_, deflicker_frames_ == 0 ? 0 : 2, 129);
  MarkChanged();
}

void MovieGen::SetMovieFPS(int32_t value) {
  ErrorTrap trap("MovieGen", "MovieFPS_Let");
  const double widened = static_cast<double>(value);
  if (widened == movie_fps_) return;
  movie_fps_ = widened;
  Limit(movie_fps_, 1, 60);
  MarkChanged();
}

int32_t MovieGen::MovieFPS() const {
  ErrorTrap trap("MovieGen", "MovieFPS_Get");
  // Halves to even, like every other rounding to a whole number in the program.
  return static_cast<int32_t>(std::nearbyint(movie_fps_));
}

// ---- the compression record: store and mark ----

#define CHRONOREEL_RECORD_SETTER(Name, field)  \
  void MovieGen::Set##Name(int32_t v) {         \
    ErrorTrap trap("MovieGen", #Name "_Let");   \
    compress_.field = v;                        \
    MarkChanged();                              \
  }

CHRONOREEL_RECORD_SETTER(CompressType, fccType)
CHRONOREEL_RECORD_SETTER(CompressFormat, cbFormat)
CHRONOREEL_RECORD_SETTER(CompressParms, cbParms)
CHRONOREEL_RECORD_SETTER(CompressBytesPerSecond, dwBytesPerSecond)
CHRONOREEL_RECORD_SETTER(CompressFlags, dwFlags)
CHRONOREEL_RECORD_SETTER(CompressInterleaveEvery, dwInterleaveEvery)
CHRONOREEL_RECORD_SETTER(CompressKeyFrameEvery, dwKeyFrameEvery)
CHRONOREEL_RECORD_SETTER(CompressQuality, dwQuality)
CHRONOREEL_RECORD_SETTER(CompressHandler, fccHandler)

#undef CHRONOREEL_RECORD_SETTER

void MovieGen::SetCompressFormatPointer(uintptr_t v) {
  ErrorTrap trap("MovieGen", "CompressFormatPointer_Let");
  compress_.lpFormat = static_cast<int32_t>(static_cast<uint32_t>(v));
  MarkChanged();
}

uintptr_t MovieGen::CompressFormatPointer() const {
  // Derived from the block: growing it may have moved it since the pointer was set.
  return reinterpret_cast<uintptr_t>(format_.data());
}

void MovieGen::SetCompressParmsPointer(uintptr_t v) {
  ErrorTrap trap("MovieGen", "CompressParmsPointer_Let");
  compress_.lpParms = static_cast<int32_t>(static_cast<uint32_t>(v));
  MarkChanged();
}

uintptr_t MovieGen::CompressParmsPointer() const {
  return reinterpret_cast<uintptr_t>(parms_.data());
}

const AviCompressOptions* MovieGen::CompressOptionsPointer() {
  ErrorTrap trap("MovieGen", "CompressOptionsPointer_Get");
  compress_.lpFormat = Low32(format_.data());
  compress_.lpParms = Low32(parms_.data());
  return &compress_;
}

// ---- the byte blocks ----

namespace {

// Grows a block to hold indexes 0..n-1; it never shrinks, even when the size was set
// smaller in between.
void GrowBlock(std::vector<uint8_t>& block, int32_t n) {
  if (n > 0 && static_cast<size_t>(n) > block.size()) block.resize(static_cast<size_t>(n), 0);
}

bool InBlock(const std::vector<uint8_t>& block, int32_t index) {
  return index >= 0 && static_cast<size_t>(index) < block.size();
}

}  // namespace

void MovieGen::SetFormatSize(int32_t n) {
  ErrorTrap trap("MovieGen", "FormatSize_Let");
  if (n > format_size_) GrowBlock(format_, n);
  format_size_ = n;
  MarkChanged();
}

void MovieGen::SetParmsSize(int32_t n) {
  ErrorTrap trap("MovieGen", "ParmsSize_Let");
  if (n > parms_size_) GrowBlock(parms_, n);
  parms_size_ = n;
  MarkChanged();
}

void MovieGen::SetFormatBytes(int32_t index, uint8_t value) {
  ErrorTrap trap("MovieGen", "FormatBytes_Let");
  if (!InBlock(format_, index)) throw Fault(9, "Subscript out of range");
  format_[static_cast<size_t>(index)] = value;
  MarkChanged();
}

uint8_t MovieGen::FormatBytes(int32_t index) const {
  ErrorTrap trap("MovieGen", "FormatBytes_Get");
  if (!InBlock(format_, index)) throw Fault(9, "Subscript out of range");
  return format_[static_cast<size_t>(index)];
}

void MovieGen::SetParmsBytes(int32_t index, uint8_t value) {
  ErrorTrap trap("MovieGen", "ParmsBytes_Let");
  if (!InBlock(parms_, index)) throw Fault(9, "Subscript out of range");
  parms_[static_cast<size_t>(index)] = value;
  MarkChanged();
}

uint8_t MovieGen::ParmsBytes(int32_t index) const {
  ErrorTrap trap("MovieGen", "ParmsBytes_Get");
  if (!InBlock(parms_, index)) throw Fault(9, "Subscript out of range");
  return parms_[static_cast<size_t>(index)];
}

// ---- the run's cancel request ----

void MovieGen::SetCancelMovie(bool value) noexcept {
  // Only the run clears the request, at its start.
  if (value) cancel_.store(true, std::memory_order_relaxed);
}

void MovieGen::StopFromOutside() noexcept {
  stopped_.store(true, std::memory_order_relaxed);
  cancel_.store(true, std::memory_order_relaxed);
}

}  // namespace chronoreel
