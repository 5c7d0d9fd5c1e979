#pragma once
// The one place where numbers and truth values cross between text and values. Stored text
// always uses a decimal point ("NI" procedures); FormatI formats for display in the
// user's locale. Nothing here throws for text that does not convert: it gives 0 or false.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace chronoreel {

// Stored text to number; 0 when the whole text is not one number (a lone decimal comma is
// read as a point).
double CDblNI(std::string_view text);
// Stored text to 32-bit integer, halves to even; 0 outside [-2147483648.5, 2147483647.5).
int32_t CLngNI(std::string_view text);
// A 64-bit value to 32-bit integer by the same rule.
int32_t CLngNI(double value);

// The same readers, telling "does not convert" apart from a real 0.
std::optional<double> TryCDblNI(std::string_view text);
std::optional<int32_t> TryCLngNI(std::string_view text);
std::optional<int32_t> TryCLngNI(double value);

// Value to stored text: doubles as C's %.15G, integers as digits, truth values True/False.
std::string CStrNI(double value);
std::string CStrNI(int32_t value);
std::string CStrNI(bool value);

double Str2DblNI(std::string_view text);
int32_t Str2LngNI(std::string_view text);
double Str2Dbl(std::string_view text);
int32_t Str2Lng(std::string_view text);
bool Str2Bool(std::string_view text);

// Formats with a pattern of "0" (mandatory digit) and "#" places and one point; the point
// becomes the user's locale decimal separator. FormatI(5.5, "00.0000") gives 05.5000.
std::string FormatI(double value, std::string_view pattern);

// Rounds to the nearest whole number, halves to the even neighbour.
double RoundHalfEven(double v);

// Spaces (not tabs) cut from both ends.
std::string TrimSpaces(std::string_view text);

// ASCII letters in lower case, whatever the locale: for keys and switches.
std::string AsciiLower(std::string_view text);

// x - floor(x).
double FP(double x);

}  // namespace chronoreel
