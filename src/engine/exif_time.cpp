#include "engine/exif_time.h"

#include <libexif/exif-data.h>

#include <cctype>
#include <cstdio>
#include <memory>
#include <vector>

namespace chronoreel {

namespace {

struct ExifDataRelease {
  void operator()(ExifData* data) const { exif_data_unref(data); }
};
using ExifDataOwner = std::unique_ptr<ExifData, ExifDataRelease>;

struct FileClose {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

// The ASCII value of a tag in the EXIF sub-IFD, without its terminating NUL; "" if absent.
std::string AsciiTag(ExifData* data, ExifTag tag) {
  ExifEntry* entry = exif_content_get_entry(data->ifd[EXIF_IFD_EXIF], tag);
  if (entry == nullptr || entry->format != EXIF_FORMAT_ASCII || entry->data == nullptr) return "";
  std::string text(reinterpret_cast<const char*>(entry->data), entry->size);
  const auto nul = text.find('\0');
  if (nul != std::string::npos) text.resize(nul);
  return text;
}

// Digits at text[pos, pos + count) as a number; -1 when any is not a digit.
int Digits(const std::string& text, size_t pos, size_t count) {
  int value = 0;
  for (size_t i = pos; i < pos + count; ++i) {
    if (i >= text.size() || !std::isdigit(static_cast<unsigned char>(text[i]))) return -1;
    value = value * 10 + (text[i] - '0');
  }
  return value;
}

}  // namespace

std::optional<DateTime> ParseExifDateTime(const std::string& text, const std::string& subseconds) {
  // Cameras without a clock write "0000:00:00 00:00:00" or blanks; neither is a date.
  if (text.size() < 19 || text[4] != ':' || text[7] != ':' || text[10] != ' ' || text[13] != ':' ||
      text[16] != ':') {
    return std::nullopt;
  }
  const int year = Digits(text, 0, 4);
  const int month = Digits(text, 5, 2);
  const int day = Digits(text, 8, 2);
  const int hour = Digits(text, 11, 2);
  const int minute = Digits(text, 14, 2);
  const int second = Digits(text, 17, 2);
  if (year < 1 || month < 0 || day < 0 || hour < 0 || minute < 0 || second < 0) return std::nullopt;

  // SubSecTimeOriginal holds the digits of the fraction: "5" is .5, "05" is .05.
  double fraction = 0.0;
  double scale = 0.1;
  for (char c : subseconds) {
    if (c == ' ') break;
    if (!std::isdigit(static_cast<unsigned char>(c))) return DateTimeFromCivil(year, month, day, hour, minute, second);
    fraction += (c - '0') * scale;
    scale /= 10;
  }
  return DateTimeFromCivil(year, month, day, hour, minute, second + fraction);
}

std::optional<DateTime> CaptureTimeFromBytes(const uint8_t* data, size_t size) {
  if (data == nullptr || size < 4) return std::nullopt;
  ExifDataOwner exif(exif_data_new());
  if (!exif) return std::nullopt;
  // Only the tags are wanted: no maker-note parsing, no fixing up of missing entries.
  exif_data_unset_option(exif.get(), EXIF_DATA_OPTION_FOLLOW_SPECIFICATION);
  exif_data_set_option(exif.get(), EXIF_DATA_OPTION_IGNORE_UNKNOWN_TAGS);
  exif_data_load_data(exif.get(), data, static_cast<unsigned int>(size));
  const std::string original = AsciiTag(exif.get(), EXIF_TAG_DATE_TIME_ORIGINAL);
  if (original.empty()) return std::nullopt;
  return ParseExifDateTime(original, AsciiTag(exif.get(), EXIF_TAG_SUB_SEC_TIME_ORIGINAL));
}

std::optional<DateTime> ReadCaptureTime(const std::string& path) {
  std::unique_ptr<std::FILE, FileClose> file(std::fopen(path.c_str(), "rb"));
  if (!file) return std::nullopt;
  std::vector<uint8_t> head(kExifReadLimit);
  const size_t got = std::fread(head.data(), 1, head.size(), file.get());
  return CaptureTimeFromBytes(head.data(), got);
}

}  // namespace chronoreel
