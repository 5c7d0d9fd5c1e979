// The setup file (".tls"): sections "General" and "Compress" of a profile file, with the
// codec blocks as hex lines. LoadFile and SaveFile move the settings between MovieGen and
// the file named by CurrentFile.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <optional>

#include "app/core/conversions.h"
#include "app/core/error_report.h"
#include "app/core/utility.h"
#include "engine/settings.h"
#include "setup/documents.h"

namespace chronoreel {

namespace {

constexpr const char* kCompress = "Compress";

// The line that names a value the setter did not take as written ("" when it did): text
// that is no number, or a number that was clamped or ignored. Rounding as the key is read
// (a whole number, single precision) is no change.
std::string ValueNotUsedAsWritten(const SettingInfo& k, const std::string& text, const MovieGen& m) {
  if (k.read == SettingRead::Text || k.read == SettingRead::Str2Bool) return "";
  const std::string used = k.text(m);
  const std::string head = std::string(k.key) + "=" + text;
  const std::optional<double> given = TryCDblNI(text);
  if (!given && k.read == SettingRead::NumberOrAbsent) {
    // A missing or empty key means "the profile's", and says nothing.
    return text.empty() ? "" : head + " is not a number: the profile's location is used";
  }
  if (!given) {
    // Only the age limit keeps a value that is no number as such.
    return head + " is not a number: " +
           (k.read == SettingRead::NumberOrNaN ? "no still is deleted" : used + " is used instead");
  }
  std::optional<double> read = given;
  if (k.read == SettingRead::Str2LngNI || k.read == SettingRead::Rounded) {
    const std::optional<int32_t> whole = TryCLngNI(*given);
    read = whole ? std::optional<double>(*whole) : std::nullopt;
  } else if (k.type == SettingType::Single) {
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
  for (const SettingInfo& k : SettingTable()) {
    const bool added = k.file == SettingFile::Added;
    std::string text = ini_.GetKey(k.section, k.key, !added, k.file_default());
    if (text.empty()) text = k.file_default();
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
  for (const SettingInfo& k : SettingTable()) {
    const std::string text = k.text(movie_);
    if (k.file == SettingFile::Added && text == k.file_default() && !ini_.HasKey(k.section, k.key)) continue;
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
