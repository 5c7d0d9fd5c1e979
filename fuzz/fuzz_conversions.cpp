// Locale-neutral conversions: text to number and truth value, number to stored text. The
// stored text of every value must read back as that value (to the 15 digits it keeps), and
// no double, however odd (NaN, infinities, huge), may trip the integer conversion.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>

#include "app/core/conversions.h"
#include "fuzz_support.h"

using chronoreel::fuzz::Violation;

namespace {

// %.15G keeps 15 significant digits; the largest doubles round up past DBL_MAX when
// printed that way, so they are left to the plain no-fault checks.
void CheckDoubleRoundTrip(double value, std::string_view input) {
  if (!std::isfinite(value) || std::fabs(value) > 1e308) return;
  const std::string text = chronoreel::CStrNI(value);
  const auto back = chronoreel::TryCDblNI(text);
  if (!back) Violation("CStrNI text of a double does not convert back", text);
  const double tolerance = std::fabs(value) * 1e-14 + 1e-320;
  if (std::fabs(*back - value) > tolerance) Violation("CStrNI/CDblNI changed a double", input);
  if (chronoreel::CDblNI(text) != *back) Violation("CDblNI and TryCDblNI disagree", text);
}

void CheckIntegerRoundTrip(int32_t value, std::string_view input) {
  const std::string text = chronoreel::CStrNI(value);
  const auto back = chronoreel::TryCLngNI(text);
  if (!back || *back != value) Violation("CStrNI/CLngNI changed an integer", input);
}

// The 64-bit to 32-bit rule: halves to even, defined on [-2147483648.5, 2147483647.5) only.
void CheckLongFromDouble(double value, std::string_view input) {
  const auto converted = chronoreel::TryCLngNI(value);
  const bool in_range = value >= -2147483648.5 && value < 2147483647.5;
  if (converted.has_value() != in_range) Violation("TryCLngNI(double) range is wrong", input);
  if (converted && static_cast<double>(*converted) != std::nearbyint(value))
    Violation("TryCLngNI(double) does not round halves to even", input);
  if (chronoreel::CLngNI(value) != converted.value_or(0))
    Violation("CLngNI(double) and TryCLngNI(double) disagree", input);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 512) return -1;  // numbers are short; longer texts add nothing
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  // Text to values.
  const auto as_double = chronoreel::TryCDblNI(text);
  const auto as_long = chronoreel::TryCLngNI(text);
  if (chronoreel::CDblNI(text) != as_double.value_or(0.0) &&
      !(as_double && std::isnan(*as_double)))
    Violation("CDblNI and TryCDblNI disagree", text);
  if (chronoreel::CLngNI(text) != as_long.value_or(0)) Violation("CLngNI and TryCLngNI disagree", text);
  if (as_double) {
    if (!std::isfinite(*as_double)) Violation("text converted to a non-finite double", text);
    CheckDoubleRoundTrip(*as_double, text);
    CheckLongFromDouble(*as_double, text);
    // A text that is a number is a truth value by being non-zero.
    if (chronoreel::Str2Bool(text) != (*as_double != 0.0))
      Violation("Str2Bool of a number is not its being non-zero", text);
  } else {
    (void)chronoreel::Str2Bool(text);
  }
  if (as_long) CheckIntegerRoundTrip(*as_long, text);
  (void)chronoreel::Str2DblNI(text);
  (void)chronoreel::Str2LngNI(text);
  (void)chronoreel::Str2Dbl(text);
  (void)chronoreel::Str2Lng(text);

  // The raw bytes as values: every bit pattern of a double and of an integer.
  if (size >= sizeof(double)) {
    double value;
    std::memcpy(&value, data, sizeof value);
    CheckDoubleRoundTrip(value, text);
    CheckLongFromDouble(value, text);
    (void)chronoreel::FP(value);
    // The display pattern comes from the rest of the input, kept short.
    const std::string_view pattern = text.substr(sizeof(double), 24);
    (void)chronoreel::FormatI(value, pattern);
  }
  if (size >= sizeof(int32_t)) {
    int32_t value;
    std::memcpy(&value, data, sizeof value);
    CheckIntegerRoundTrip(value, text);
  }
  (void)chronoreel::CStrNI(size % 2 == 0);
  return 0;
}
