// The setup file (".tls"): sections "General" and "Compress" of a profile file, with the
// codec blocks as hex lines. LoadFile and SaveFile move the settings between MovieGen and
// the file named by CurrentFile.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <optional>
#include <string_view>

#include "app/core/conversions.h"
#include "app/core/error_report.h"
#include "app/core/utility.h"
#include "engine/default_paths.h"
#include "setup/documents.h"

namespace chronoreel {

namespace {

constexpr const char* kGeneral = "General";
constexpr const char* kCompress = "Compress";

// How a key's text is read as a number: to tell a value that was used as written from one
// that was no number or was clamped. None: text and truth values.
enum class Number { None, Whole, Single, Real };

// One key of the file: its default text, how its text reaches the setter, how the property
// is written, and how the value is read as a number.
struct SetupKey {
  const char* section;
  const char* key;
  const char* default_text;
  void (*load)(MovieGen&, const std::string&);
  std::string (*save)(const MovieGen&);
  Number number = Number::None;
  // Beyond the original format: written only when it differs from its default or the file
  // holds it already, so that a file of the original program stays as it was.
  bool added = false;
  // What a value that is no number means, when it is not "0, clamped".
  const char* not_a_number = nullptr;
};

// The paths default to the user's own folders, looked up when a file is read; the texts
// of the table stay the defaults on Windows.
std::string DefaultText(const SetupKey& k) {
#ifndef _WIN32
  const std::string_view key = k.key;
  if (key == "StillDirectory") return DefaultStillDirectory();
  if (key == "OutputAVIPath") return DefaultOutputAVIPath();
#endif
  return k.default_text;
}

// A number read as 64 bits and rounded to the nearest 32-bit integer (0 when out of range).
int32_t Rounded(const std::string& text) {
  return CLngNI(Str2DblNI(text));
}

// The order of this table is the order of the keys in a new file.
const SetupKey kSetupKeys[] = {
    // A missing DeleteOldImages must not switch on the deletion of the user's stills.
    {kGeneral, "DeleteOldImages", "False", [](MovieGen& m, const std::string& t) { m.SetDeleteOldImages(Str2Bool(t)); },
     [](const MovieGen& m) { return CStrNI(m.DeleteOldImages()); }},
    {kGeneral, "DeleteOldImagesHours", "168",
     // A limit that is no number deletes nothing; read as 0 hours it would delete every still.
     [](MovieGen& m, const std::string& t) {
       m.SetDeleteOldImagesHours(TryCDblNI(t).value_or(std::numeric_limits<double>::quiet_NaN()));
     },
     [](const MovieGen& m) { return CStrNI(m.DeleteOldImagesHours()); }, Number::Single, false,
     "no still is deleted"},
    {kGeneral, "ImageFilter", "*.jpg", [](MovieGen& m, const std::string& t) { m.SetImageFilter(t); },
     [](const MovieGen& m) { return m.ImageFilter(); }},
    {kGeneral, "ImageIntervalOption", "0",
     [](MovieGen& m, const std::string& t) { m.SetImageIntervalOption(Str2LngNI(t)); },
     [](const MovieGen& m) { return CStrNI(m.ImageIntervalOption()); }, Number::Whole},
    {kGeneral, "ImagesPerHour", "60", [](MovieGen& m, const std::string& t) { m.SetImagesPerHour(Str2DblNI(t)); },
     [](const MovieGen& m) { return CStrNI(m.ImagesPerHour()); }, Number::Real},
    {kGeneral, "DuplicateCount", "2", [](MovieGen& m, const std::string& t) { m.SetDuplicateCount(Rounded(t)); },
     [](const MovieGen& m) { return CStrNI(m.DuplicateCount()); }, Number::Whole},
    {kGeneral, "Direction", "1", [](MovieGen& m, const std::string& t) { m.SetMovieDirection(Str2LngNI(t)); },
     [](const MovieGen& m) { return CStrNI(m.MovieDirection()); }, Number::Whole},
    {kGeneral, "MovieFPS", "24", [](MovieGen& m, const std::string& t) { m.SetMovieFPS(Rounded(t)); },
     [](const MovieGen& m) { return CStrNI(m.MovieFPS()); }, Number::Whole},
    {kGeneral, "MovieSizeHeight", "240", [](MovieGen& m, const std::string& t) { m.SetMovieSizeHeight(Rounded(t)); },
     [](const MovieGen& m) { return CStrNI(m.MovieSizeHeight()); }, Number::Whole},
    {kGeneral, "MovieSizeOption", "0", [](MovieGen& m, const std::string& t) { m.SetMovieSizeOption(Str2LngNI(t)); },
     [](const MovieGen& m) { return CStrNI(m.MovieSizeOption()); }, Number::Whole},
    {kGeneral, "MovieSizeWidth", "320", [](MovieGen& m, const std::string& t) { m.SetMovieSizeWidth(Str2LngNI(t)); },
     [](const MovieGen& m) { return CStrNI(m.MovieSizeWidth()); }, Number::Whole},
    {kGeneral, "OutputAVIPath", "c:\\mymovie.avi", [](MovieGen& m, const std::string& t) { m.SetOutputAVIPath(t); },
     [](const MovieGen& m) { return m.OutputAVIPath(); }},
    {kGeneral, "PostGenerationShell", "", [](MovieGen& m, const std::string& t) { m.SetPostGenerationShell(t); },
     [](const MovieGen& m) { return m.PostGenerationShell(); }},
    {kGeneral, "TimeOption", "0", [](MovieGen& m, const std::string& t) { m.SetTimeOption(Str2LngNI(t)); },
     [](const MovieGen& m) { return CStrNI(m.TimeOption()); }, Number::Whole},
    {kGeneral, "StartTimeAbsolute", "0",
     [](MovieGen& m, const std::string& t) { m.SetStartTimeAbsolute(Str2DblNI(t)); },
     [](const MovieGen& m) { return CStrNI(m.StartTimeAbsolute()); }, Number::Real},
    {kGeneral, "StartTimeOption", "1", [](MovieGen& m, const std::string& t) { m.SetStartTimeOption(Str2LngNI(t)); },
     [](const MovieGen& m) { return CStrNI(m.StartTimeOption()); }, Number::Whole},
    {kGeneral, "StartTimeRelative", "0",
     [](MovieGen& m, const std::string& t) { m.SetStartTimeRelative(Str2DblNI(t)); },
     [](const MovieGen& m) { return CStrNI(m.StartTimeRelative()); }, Number::Real},
    {kGeneral, "StartTimeToday", "0", [](MovieGen& m, const std::string& t) { m.SetStartTimeToday(Str2DblNI(t)); },
     [](const MovieGen& m) { return CStrNI(m.StartTimeToday()); }, Number::Real},
    {kGeneral, "StartTimeSunriseRelative", "0",
     [](MovieGen& m, const std::string& t) { m.SetStartTimeSunriseRelative(Str2DblNI(t)); },
     [](const MovieGen& m) { return CStrNI(m.StartTimeSunriseRelative()); }, Number::Real},
    {kGeneral, "StartTimeSunsetRelative", "0",
     [](MovieGen& m, const std::string& t) { m.SetStartTimeSunsetRelative(Str2DblNI(t)); },
     [](const MovieGen& m) { return CStrNI(m.StartTimeSunsetRelative()); }, Number::Real},
    {kGeneral, "StillDirectory", "c:\\images", [](MovieGen& m, const std::string& t) { m.SetStillDirectory(t); },
     [](const MovieGen& m) { return m.StillDirectory(); }},
    {kGeneral, "StopTimeAbsolute", "0", [](MovieGen& m, const std::string& t) { m.SetStopTimeAbsolute(Str2DblNI(t)); },
     [](const MovieGen& m) { return CStrNI(m.StopTimeAbsolute()); }, Number::Real},
    {kGeneral, "StopTimeOption", "0", [](MovieGen& m, const std::string& t) { m.SetStopTimeOption(Str2LngNI(t)); },
     [](const MovieGen& m) { return CStrNI(m.StopTimeOption()); }, Number::Whole},
    {kGeneral, "StopTimeRelative", "0", [](MovieGen& m, const std::string& t) { m.SetStopTimeRelative(Str2DblNI(t)); },
     [](const MovieGen& m) { return CStrNI(m.StopTimeRelative()); }, Number::Real},
    {kGeneral, "StopTimeToday", "0", [](MovieGen& m, const std::string& t) { m.SetStopTimeToday(Str2DblNI(t)); },
     [](const MovieGen& m) { return CStrNI(m.StopTimeToday()); }, Number::Real},
    {kGeneral, "StopTimeSunriseRelative", "0",
     [](MovieGen& m, const std::string& t) { m.SetStopTimeSunriseRelative(Str2DblNI(t)); },
     [](const MovieGen& m) { return CStrNI(m.StopTimeSunriseRelative()); }, Number::Real},
    {kGeneral, "StopTimeSunsetRelative", "0",
     [](MovieGen& m, const std::string& t) { m.SetStopTimeSunsetRelative(Str2DblNI(t)); },
     [](const MovieGen& m) { return CStrNI(m.StopTimeSunsetRelative()); }, Number::Real},
    {kGeneral, "TimeStampOption", "0", [](MovieGen& m, const std::string& t) { m.SetTimeStampOption(Str2LngNI(t)); },
     [](const MovieGen& m) { return CStrNI(m.TimeStampOption()); }, Number::Whole},
    // Keys beyond the original format: its program leaves them alone, and their defaults
    // make the movie an original file always made.
    {kGeneral, "IncludeSubfolders", "False",
     [](MovieGen& m, const std::string& t) { m.SetIncludeSubfolders(Str2Bool(t)); },
     [](const MovieGen& m) { return CStrNI(m.IncludeSubfolders()); }, Number::None, true},
    {kGeneral, "StampText", "", [](MovieGen& m, const std::string& t) { m.SetStampText(t); },
     [](const MovieGen& m) { return m.StampText(); }, Number::None, true},
    {kGeneral, "StampPosition", "3", [](MovieGen& m, const std::string& t) { m.SetStampPosition(Str2LngNI(t)); },
     [](const MovieGen& m) { return CStrNI(m.StampPosition()); }, Number::Whole, true},
    {kGeneral, "StampSize", "5", [](MovieGen& m, const std::string& t) { m.SetStampSize(Str2DblNI(t)); },
     [](const MovieGen& m) { return CStrNI(m.StampSize()); }, Number::Real, true},
    {kGeneral, "DeflickerFrames", "0", [](MovieGen& m, const std::string& t) { m.SetDeflickerFrames(Rounded(t)); },
     [](const MovieGen& m) { return CStrNI(m.DeflickerFrames()); }, Number::Whole, true},
    {kCompress, "Type", "0", [](MovieGen& m, const std::string& t) { m.SetCompressType(Str2LngNI(t)); },
     [](const MovieGen& m) { return CStrNI(m.CompressType()); }, Number::Whole},
    {kCompress, "Format", "1024", [](MovieGen& m, const std::string& t) { m.SetCompressFormat(Str2LngNI(t)); },
     [](const MovieGen& m) { return CStrNI(m.CompressFormat()); }, Number::Whole},
    {kCompress, "Parms", "1024", [](MovieGen& m, const std::string& t) { m.SetCompressParms(Str2LngNI(t)); },
     [](const MovieGen& m) { return CStrNI(m.CompressParms()); }, Number::Whole},
    {kCompress, "BytesPerSecond", "0",
     [](MovieGen& m, const std::string& t) { m.SetCompressBytesPerSecond(Str2LngNI(t)); },
     [](const MovieGen& m) { return CStrNI(m.CompressBytesPerSecond()); }, Number::Whole},
    {kCompress, "Flags", "0", [](MovieGen& m, const std::string& t) { m.SetCompressFlags(Str2LngNI(t)); },
     [](const MovieGen& m) { return CStrNI(m.CompressFlags()); }, Number::Whole},
    {kCompress, "InterleaveEvery", "0",
     [](MovieGen& m, const std::string& t) { m.SetCompressInterleaveEvery(Str2LngNI(t)); },
     [](const MovieGen& m) { return CStrNI(m.CompressInterleaveEvery()); }, Number::Whole},
    {kCompress, "KeyFrameEvery", "0",
     [](MovieGen& m, const std::string& t) { m.SetCompressKeyFrameEvery(Str2LngNI(t)); },
     [](const MovieGen& m) { return CStrNI(m.CompressKeyFrameEvery()); }, Number::Whole},
    {kCompress, "Quality", "0", [](MovieGen& m, const std::string& t) { m.SetCompressQuality(Str2LngNI(t)); },
     [](const MovieGen& m) { return CStrNI(m.CompressQuality()); }, Number::Whole},
    {kCompress, "Handler", "0", [](MovieGen& m, const std::string& t) { m.SetCompressHandler(Str2LngNI(t)); },
     [](const MovieGen& m) { return CStrNI(m.CompressHandler()); }, Number::Whole},
};

// The line that names a value the setter did not take as written ("" when it did): text
// that is no number, or a number that was clamped or ignored. Rounding as the key is read
// (a whole number, single precision) is no change.
std::string ValueNotUsedAsWritten(const SetupKey& k, const std::string& text, const MovieGen& m) {
  if (k.number == Number::None) return "";
  const std::string used = k.save(m);
  const std::string head = std::string(k.key) + "=" + text;
  const std::optional<double> given = TryCDblNI(text);
  if (!given) {
    return head + " is not a number: " + (k.not_a_number ? k.not_a_number : used + " is used instead");
  }
  std::optional<double> read = given;
  if (k.number == Number::Whole) {
    const std::optional<int32_t> whole = TryCLngNI(*given);
    read = whole ? std::optional<double>(*whole) : std::nullopt;
  } else if (k.number == Number::Single) {
    constexpr double kLargest = std::numeric_limits<float>::max();
    read = std::abs(*given) <= kLargest ? std::optional<double>(static_cast<float>(*given)) : std::nullopt;
  }
  if (read && CStrNI(*read) == used) return "";
  return head + " is out of range: " + used + " is used instead";
}

const std::string kZeroLine(64, '0');

std::string HexKey(const char* prefix, int32_t i) {
  char number[16];
  std::snprintf(number, sizeof number, "%05d", static_cast<int>(i));
  return std::string(prefix) + number;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// The block size that is held and moved: a count read from a file is not trusted to be
// allocatable.
int32_t HeldSize(int32_t n) {
  return std::clamp(n, 0, kMaxSetupBlockBytes);
}

// Bytes of hex line i (from 1) of a block of n bytes.
int32_t BytesOfLine(int32_t n, int32_t i) {
  return std::min<int32_t>(32, n - 32 * (i - 1));
}

}  // namespace

int32_t HexLineCount(int32_t n) {
  // In 64 bits: n - 1 must not overflow for the smallest n.
  const int64_t lines = (static_cast<int64_t>(n) - 1) / 32 + 1;
  return static_cast<int32_t>(std::max<int64_t>(lines, 0));
}

std::string EncodeHexLine(const uint8_t* bytes, int32_t count) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string line = kZeroLine;
  for (int32_t k = 0; k < std::min<int32_t>(count, 32); ++k) {
    line[static_cast<size_t>(2 * k)] = kDigits[bytes[k] >> 4];
    line[static_cast<size_t>(2 * k + 1)] = kDigits[bytes[k] & 0x0F];
  }
  return line;
}

uint8_t DecodeHexByte(const std::string& line, int32_t k) {
  const size_t at = static_cast<size_t>(2 * k);
  if (k < 0 || at + 2 > line.size()) return 0;
  const int hi = HexDigit(line[at]);
  const int lo = HexDigit(line[at + 1]);
  if (hi < 0 || lo < 0) return 0;
  return static_cast<uint8_t>(hi * 16 + lo);
}

void Documents::LoadFile() {
  ErrorTrap trap("modFile", "LoadFile");
  ini_.SetFile(state_.CurrentFile);
  load_warnings_.clear();
  for (const SetupKey& k : kSetupKeys) {
    std::string text = ini_.GetKey(k.section, k.key, !k.added, DefaultText(k));
    if (text.empty()) text = DefaultText(k);
    k.load(movie_, text);
    std::string warning = ValueNotUsedAsWritten(k, text, movie_);
    if (!warning.empty()) load_warnings_.push_back(std::move(warning));
  }
  // Nobody watches an unattended run: its log says which values were not used as written.
  if (state_.cmd.AutomatedRun) {
    for (const std::string& line : load_warnings_) host_.LogLine(line);
  }

  const int32_t format_count = std::min(movie_.CompressFormat(), kMaxSetupBlockBytes);
  const int32_t parms_count = std::min(movie_.CompressParms(), kMaxSetupBlockBytes);
  movie_.SetFormatSize(HeldSize(format_count));
  movie_.SetParmsSize(HeldSize(parms_count));

  struct Block {
    const char* prefix;
    int32_t count;
    void (MovieGen::*set)(int32_t, uint8_t);
    const uint8_t* data;
    int32_t held;
  };
  const Block blocks[] = {
      {"FormatData", format_count, &MovieGen::SetFormatBytes, movie_.FormatPointer(), movie_.FormatHeld()},
      {"ParmsData", parms_count, &MovieGen::SetParmsBytes, movie_.ParmsPointer(), movie_.ParmsHeld()},
  };
  for (const Block& b : blocks) {
    const int32_t lines = HexLineCount(b.count);
    for (int32_t i = 1; i <= lines; ++i) {
      const std::string line = ini_.GetKey(kCompress, HexKey(b.prefix, i), true, kZeroLine);
      const int32_t bytes = BytesOfLine(b.count, i);
      for (int32_t k = 0; k < bytes; ++k) {
        const int32_t index = 32 * (i - 1) + k;
        if (index >= b.held) continue;
        // Most bytes are already what the line says (zeros); only changes go through the setter.
        const uint8_t value = DecodeHexByte(line, k);
        if (b.data[index] != value) (movie_.*b.set)(index, value);
      }
    }
  }
  movie_.SetCompressFormatPointer(reinterpret_cast<uintptr_t>(movie_.FormatPointer()));
  movie_.SetCompressParmsPointer(reinterpret_cast<uintptr_t>(movie_.ParmsPointer()));

  // A file that cannot be written keeps what it had; the defaults are used all the same.
  ini_.Flush();
  AfterLoad();
}

bool Documents::SaveFile() {
  ErrorTrap trap("modFile", "SaveFile");
  const std::string previous_file = state_.CurrentFile;
  if (state_.CurrentFile.empty()) {
    std::optional<std::string> chosen = SetupFileDialog("Save Setup File", FileDialogStyle::Open);
    if (!chosen) return false;
    state_.CurrentFile = *chosen;
  }
  ini_.SetFile(state_.CurrentFile);
  for (const SetupKey& k : kSetupKeys) {
    const std::string text = k.save(movie_);
    if (k.added && text == k.default_text && !ini_.HasKey(k.section, k.key)) continue;
    ini_.SetKey(k.section, k.key, text);
  }

  const int32_t format_count = std::min(movie_.CompressFormat(), kMaxSetupBlockBytes);
  const int32_t parms_count = std::min(movie_.CompressParms(), kMaxSetupBlockBytes);
  movie_.SetFormatSize(HeldSize(format_count));
  movie_.SetParmsSize(HeldSize(parms_count));
  movie_.SetCompressFormatPointer(reinterpret_cast<uintptr_t>(movie_.FormatPointer()));
  movie_.SetCompressParmsPointer(reinterpret_cast<uintptr_t>(movie_.ParmsPointer()));

  struct Block {
    const char* prefix;
    int32_t count;
    const uint8_t* data;
    int32_t held;
  };
  const Block blocks[] = {
      {"FormatData", format_count, movie_.FormatPointer(), movie_.FormatHeld()},
      {"ParmsData", parms_count, movie_.ParmsPointer(), movie_.ParmsHeld()},
  };
  for (const Block& b : blocks) {
    const int32_t lines = HexLineCount(b.count);
    for (int32_t i = 1; i <= lines; ++i) {
      uint8_t bytes[32] = {};
      const int32_t count = BytesOfLine(b.count, i);
      for (int32_t k = 0; k < count; ++k) {
        const int32_t index = 32 * (i - 1) + k;
        if (index < b.held) bytes[k] = b.data[index];
      }
      ini_.SetKey(kCompress, HexKey(b.prefix, i), EncodeHexLine(bytes, count));
    }
  }

  if (!ini_.Flush()) {
    // The document stays as it was: unsaved, under its former name.
    state_.CurrentFile = previous_file;
    MessageBoxRequest box;
    box.text = "The setup file could not be saved:\n" + ini_.LastError();
    box.title = "Chronoreel";
    box.buttons = MessageButtons::Ok;
    box.icon = MessageIcon::Exclamation;
    host_.ShowMessage(box);
    return false;
  }
  AfterSave();
  return true;
}

}  // namespace chronoreel
