// The rows of the settings table, made from CHRONOREEL_SETTINGS and the compression record's
// keys.
#include "engine/settings.h"

#include <cmath>
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
  if constexpr (R == SettingRead::Str2Bool) return Str2Bool(text);
  if constexpr (R == SettingRead::Str2LngNI) return Str2LngNI(text);
  if constexpr (R == SettingRead::Rounded) return CLngNI(Str2DblNI(text));  // 0 when out of range
  if constexpr (R == SettingRead::Str2DblNI) return Str2DblNI(text);
  // Read as 0 hours, a limit that is no number would delete every still.
  if constexpr (R == SettingRead::NumberOrNaN || R == SettingRead::NumberOrAbsent)
    return TryCDblNI(text).value_or(std::numeric_limits<double>::quiet_NaN());
}

// A value as the file holds it: numbers as CStrNI writes them, True or False, text; an
// absent number as no text, so that it is not written.
template <typename T, SettingRead R = SettingRead::Text>
std::string FileText(const T& value) {
  if constexpr (std::is_same_v<T, std::string>) {
    return value;
  } else {
    if constexpr (R == SettingRead::NumberOrAbsent) {
      if (std::isnan(value)) return "";
    }
    return CStrNI(value);
  }
}

template <typename T>
using Bare = std::remove_cvref_t<T>;

// Setter and getter of MovieGen as one row of the table.
template <auto Set, auto Get, SettingRead R>
SettingInfo Row(const char* property, SettingType type, SettingRange range, const char* section,
                const char* key, SettingFile file, std::string (*file_default)()) {
  using Value = Bare<decltype((std::declval<const MovieGen&>().*Get)())>;
  SettingInfo row{property, type, range, section, key, R, file, file_default};
  row.load = [](MovieGen& m, const std::string& t) { (m.*Set)(ReadText<R>(t)); };
  row.text = [](const MovieGen& m) { return FileText<Value, R>((m.*Get)()); };
  if constexpr (!std::is_same_v<Value, std::string>) {
    row.set_number = [](MovieGen& m, double v) { (m.*Set)(static_cast<Value>(v)); };
    row.number = [](const MovieGen& m) { return static_cast<double>((m.*Get)()); };
  }
  return row;
}

// A file default as the file holds it, from a value of the setting's own type.
template <SettingType T, SettingRead R>
std::string DefaultText(SettingValue<T> value) {
  return FileText<Bare<SettingValue<T>>, R>(value);
}

// clang-format off
#define CHRONOREEL_SETTING_ROW(Name, member, Type, range, creation, key, file_default, read, file)        \
  Row<&MovieGen::Set##Name, &MovieGen::Name, SettingRead::read>(                                          \
      #Name, SettingType::Type, range, "General", key, SettingFile::file,                                 \
      [] { return DefaultText<SettingType::Type, SettingRead::read>(file_default); }),
#define CHRONOREEL_RECORD_ROW(Name, field, key, file_default)                                             \
  Row<&MovieGen::Set##Name, &MovieGen::Name, SettingRead::Str2LngNI>(                                     \
      #Name, SettingType::Whole, kAny, "Compress", key, SettingFile::Original,                            \
      [] { return std::string(file_default); }),

std::vector<SettingInfo> MakeTable() {
  return {CHRONOREEL_SETTINGS(CHRONOREEL_SETTING_ROW) CHRONOREEL_RECORD_KEYS(CHRONOREEL_RECORD_ROW)};
}
// clang-format on

#undef CHRONOREEL_SETTING_ROW
#undef CHRONOREEL_RECORD_ROW

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
