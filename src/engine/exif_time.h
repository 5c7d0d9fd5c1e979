#pragma once
// The capture time that a camera writes into a still: EXIF DateTimeOriginal, with
// SubSecTimeOriginal for the fraction where the camera gives it.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "time/date_time.h"

namespace chronoreel {

// The EXIF block sits in the first segments of a JPEG file and is at most 64 KiB; reading
// further would only cost time on a directory of thousands of stills.
constexpr size_t kExifReadLimit = 128 * 1024;

// The capture time of the still at `path` as a local date-time; nullopt when the file
// cannot be read, holds no EXIF data, or its DateTimeOriginal is missing or no real date.
std::optional<DateTime> ReadCaptureTime(const std::string& path);

// The same for the first bytes of a file already in memory.
std::optional<DateTime> CaptureTimeFromBytes(const uint8_t* data, size_t size);

// "YYYY:MM:DD HH:MM:SS" (the EXIF form; blanks for unknown fields count as missing) and the
// digits of SubSecTimeOriginal ("" when none) as a date-time.
std::optional<DateTime> ParseExifDateTime(const std::string& text, const std::string& subseconds);

}  // namespace chronoreel
