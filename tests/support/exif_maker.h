#pragma once
// Stills with an EXIF block, as a camera writes them, made with libexif.
#include <cstdint>
#include <string>
#include <vector>

namespace chronoreel {

// Inserts an APP1 EXIF segment holding DateTimeOriginal (e.g. "2026:12:08 06:30:15") and,
// when not empty, SubSecTimeOriginal: right after the start marker, or after the JFIF APP0
// segment that TurboJPEG writes, as some cameras do. Throws on failure.
void AddExifCaptureTime(std::vector<uint8_t>& jpeg, const std::string& date_time_original,
                        const std::string& subseconds = "", bool after_jfif = false);

}  // namespace chronoreel
