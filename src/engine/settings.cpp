// The rows of the settings table, made from CHRONOREEL_SETTINGS and the compression record's
// keys.
#include "engine/settings.h"

#include <limits>
#include <stdexcept>
#include <type_traits>
#include <vector>

#include "app/core/conversions.h"
#include "engine/movie_gen.h"

namespace chronoreel {

namespace {

template <SettingRead R>
auto ReadText(const std::string& text) {
  if constexpr (R == SettingRead::Text) return text;
  else if constexpr (R == SettingRead::Str2Bool) return Str2Bool(text);
  else if constexpr (R == SettingRead::Str2LngNI) return Str2LngNI(text);
  else if constexpr (R == SettingRead::Rounded) return CLngNI(Str2DblNI(text));  // 0 when out of range
  else if constexpr (R == SettingRead::Str2DblNI) return Str2DblNI(text);
  // Read as 0 hours, a limit that is no number would delete every still.
  else return TryCDblNI(text).value_or(std::numeric_limits<double>::quiet_NaN());
}

std::string FileText(const std::string& value) { return value; }
std::string FileText(bool value) { return CStrNI(value); }
std::string FileText(int32_t value) { return CStrNI(value); }
std::string FileText(double value) { return CStrNI(value); }

template <typename T>
using Bare = std::remove_cvref_t<T>;

// Setter and getter of MovieGen as one row of the table.
template <auto Set, auto Get, SettingRead R>
SettingInfo Row(const char* property, SettingType type, SettingRange range, const char* section,
                const char* key, SettingFile file, std::string (*file_default)()) {
  using Value = Bare<decltype((std::declval<const MovieGen&>().*Get)())>;
  SettingInfo row{property, type, range, section, key, R, file, file_default,
                  [](MovieGen& m, const std::string& t) { (m.*Set)(ReadText<R>(t)); },
                  [](const MovieGen& m) { return FileText((m.*Get)()); }, nullptr, nullptr};
  if constexpr (!std::is_same_v<Value, std::string>) {
    row.set_number = [](MovieGen& m, double v) { (m.*Set)(static_cast<Value>(v)); };
    row.number = [](const MovieGen& m) { return static_cast<double>((m.*Get)()); };
  }
  return row;
}

// A file default as the file holds it, from a value of the setting's own type.
template <SettingType T>
std::string DefaultText(SettingValue<T> value) {
  return FileText(value);
}

std::vector<SettingInfo> MakeTable() {
#define CHRONOREEL_SETTING_ROW(Name, member, Type, range, creation, key, file_default, read, file) \
  Row<&MovieGen::Set##Name, &MovieGen::Name, SettingRead::read>(                                   \
      #Name, SettingType::Type, range, "General", key, SettingFile::file,                          \
      [] { return DefaultText<SettingType::Type>(file_default); }),
#define CHRONOREEL_RECORD_ROW(Name, key, file_default)                                                 \
  Row<&MovieGen::Set##Name, &MovieGen::Name, SettingRead::Str2LngNI>(                                  \
      #Name, SettingType::Whole, kAny, "Compress", key, SettingFile::Original, [] { return std::string(file_default); }),

  return {
      CHRONOREEL_SETTINGS(CHRONOREEL_SETTING_ROW)
      // The compression record's fields (their creation defaults are AviCompressOptions'):
      // a file without them holds no choice yet, all 0, with blocks of 1024 bytes.
      CHRONOREEL_RECORD_ROW(CompressType, "Type", "0")
      CHRONOREEL_RECORD_ROW(CompressFormat, "Format", "1024")
      CHRONOREEL_RECORD_ROW(CompressParms, "Parms", "1024")
      CHRONOREEL_RECORD_ROW(CompressBytesPerSecond, "BytesPerSecond", "0")
      CHRONOREEL_RECORD_ROW(CompressFlags, "Flags", "0")
      CHRONOREEL_RECORD_ROW(CompressInterleaveEvery, "InterleaveEvery", "0")
      CHRONOREEL_RECORD_ROW(CompressKeyFrameEvery, "KeyFrameEvery", "0")
      CHRONOREEL_RECORD_ROW(CompressQuality, "Quality", "0")
      CHRONOREEL_RECORD_ROW(CompressHandler, "Handler", "0")
  };
#undef CHRONOREEL_SETTING_ROW
#undef CHRONOREEL_RECORD_ROW
}

}  // namespace

std::span<const SettingInfo> SettingTable() {
  static const std::vector<SettingInfo> table = MakeTable();
  return table;
}

const SettingInfo& FindSetting(std::string_view property) {
  for (const SettingInfo& row : SettingTable()) {
    if (property == row.property) return row;
  }
  throw std::logic_error("no setting " + std::string(property));
}

}  // namespace chronoreel
