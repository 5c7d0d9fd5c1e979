#include "app/core/conversions.h"

#include <algorithm>
#include <charconv>
#include <clocale>
#include <cmath>
#include <string>

#include "app/core/error_report.h"

namespace chronoreel {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

char AsciiUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (AsciiUpper(a[i]) != AsciiUpper(b[i])) return false;
  }
  return true;
}

// "&H1F" and "&O17": up to 32 bits, read as the 32-bit pattern they spell, so &HFFFFFFFF
// is -1 like the platform's own hex literals.
std::optional<int64_t> ParseRadixInteger(std::string_view s) {
  if (s.size() < 3 || s[0] != '&') return std::nullopt;
  const char kind = AsciiUpper(s[1]);
  const int base = kind == 'H' ? 16 : kind == 'O' ? 8 : 0;
  if (base == 0) return std::nullopt;
  uint64_t value = 0;
  for (char c : s.substr(2)) {
    int digit;
    if (IsDigit(c)) {
      digit = c - '0';
    } else if (base == 16 && AsciiUpper(c) >= 'A' && AsciiUpper(c) <= 'F') {
      digit = AsciiUpper(c) - 'A' + 10;
    } else {
      return std::nullopt;
    }
    if (digit >= base) return std::nullopt;
    value = value * static_cast<uint64_t>(base) + static_cast<uint64_t>(digit);
    if (value > 0xFFFFFFFFull) return std::nullopt;  // overflow
  }
  return static_cast<int64_t>(static_cast<int32_t>(static_cast<uint32_t>(value)));
}

// Digits with at most one decimal separator and an optional exponent, nothing else. The
// result is handed to std::from_chars in its plain form, so no locale is involved.
std::optional<double> ParseUnsignedDecimal(std::string_view body) {
  // A lone comma is the decimal separator of a decimal-comma locale.
  char separator = '.';
  const size_t commas = static_cast<size_t>(std::count(body.begin(), body.end(), ','));
  if (commas > 0) {
    if (commas > 1 || body.find('.') != std::string_view::npos) return std::nullopt;
    separator = ',';
  }

  size_t i = 0;
  const size_t int_begin = i;
  while (i < body.size() && IsDigit(body[i])) ++i;
  const std::string_view int_digits = body.substr(int_begin, i - int_begin);
  std::string_view frac_digits;
  if (i < body.size() && body[i] == separator) {
    ++i;
    const size_t frac_begin = i;
    while (i < body.size() && IsDigit(body[i])) ++i;
    frac_digits = body.substr(frac_begin, i - frac_begin);
  }
  if (int_digits.empty() && frac_digits.empty()) return std::nullopt;

  std::string plain;
  plain.reserve(body.size() + 2);
  plain.append(int_digits.empty() ? std::string_view("0") : int_digits);
  if (!frac_digits.empty()) {
    plain.push_back('.');
    plain.append(frac_digits);
  }
  if (i < body.size() && (body[i] == 'e' || body[i] == 'E')) {
    ++i;
    plain.push_back('e');
    if (i < body.size() && (body[i] == '+' || body[i] == '-')) plain.push_back(body[i++]);
    const size_t exp_begin = i;
    while (i < body.size() && IsDigit(body[i])) ++i;
    if (i == exp_begin) return std::nullopt;
    plain.append(body.substr(exp_begin, i - exp_begin));
  }
  if (i != body.size()) return std::nullopt;

  double value = 0.0;
  const char* first = plain.data();
  const char* last = plain.data() + plain.size();
  const auto [ptr, ec] = std::from_chars(first, last, value, std::chars_format::general);
  if (ec != std::errc() || ptr != last || !std::isfinite(value)) return std::nullopt;
  return value;
}

std::optional<double> ParseNumber(std::string_view text) {
  std::string_view s = TrimBlanks(text);
  if (s.empty()) return std::nullopt;
  if (s[0] == '&') {
    const auto integer = ParseRadixInteger(s);
    if (!integer) return std::nullopt;
    return static_cast<double>(*integer);
  }
  bool negative = false;
  if (s.size() >= 2 && s.front() == '(' && s.back() == ')') {
    negative = true;
    s = s.substr(1, s.size() - 2);
  } else if (s.front() == '+' || s.front() == '-') {
    negative = s.front() == '-';
    s.remove_prefix(1);
  } else if (s.back() == '+' || s.back() == '-') {
    negative = s.back() == '-';
    s.remove_suffix(1);
  }
  const auto value = ParseUnsignedDecimal(s);
  if (!value) return std::nullopt;
  return negative ? -*value : *value;
}

std::string LocaleDecimalSeparator() {
  const std::lconv* conv = std::localeconv();
  if (conv == nullptr || conv->decimal_point == nullptr || conv->decimal_point[0] == '\0') return ".";
  return conv->decimal_point;
}

// Adds one to the last digit of a digit string; returns false on a carry out of the front.
bool IncrementDigits(std::string& digits) {
  for (size_t i = digits.size(); i-- > 0;) {
    if (digits[i] == '9') {
      digits[i] = '0';
    } else {
      ++digits[i];
      return true;
    }
  }
  return false;
}

}  // namespace

double RoundHalfEven(double v) {
  double r = std::floor(v);
  const double diff = v - r;
  if (diff > 0.5 || (diff == 0.5 && std::fmod(r, 2.0) != 0.0)) r += 1.0;
  return r;
}

std::string AsciiLower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return lower;
}

std::string TrimSpaces(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  return std::string(text);
}

std::optional<double> TryCDblNI(std::string_view text) { return ParseNumber(text); }

std::optional<int32_t> TryCLngNI(double value) {
  if (!(value >= -2147483648.5 && value < 2147483647.5)) return std::nullopt;
  return static_cast<int32_t>(RoundHalfEven(value));
}

std::optional<int32_t> TryCLngNI(std::string_view text) {
  const auto value = ParseNumber(text);
  if (!value) return std::nullopt;
  return TryCLngNI(*value);
}

double CDblNI(std::string_view text) {
  ErrorTrap trap("modNumbers", "CDblNI");
  return ParseNumber(text).value_or(0.0);
}

int32_t CLngNI(std::string_view text) {
  ErrorTrap trap("modNumbers", "CLngNI");
  return TryCLngNI(text).value_or(0);
}

int32_t CLngNI(double value) {
  ErrorTrap trap("modNumbers", "CLngNI");
  return TryCLngNI(value).value_or(0);
}

std::string CStrNI(double value) {
  ErrorTrap trap("modNumbers", "CStrNI");
  if (value == 0.0) return "0";  // also -0
  // to_chars with a precision formats exactly like printf's %.15g in the "C" locale,
  // whatever LC_NUMERIC the process runs under.
  char buffer[64];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 15);
  std::string text(buffer, result.ptr);
  for (char& c : text) c = AsciiUpper(c);
  return text;
}

std::string CStrNI(int32_t value) {
  ErrorTrap trap("modNumbers", "CStrNI");
  return std::to_string(value);
}

std::string CStrNI(bool value) {
  ErrorTrap trap("modNumbers", "CStrNI");
  return value ? "True" : "False";
}

double Str2DblNI(std::string_view text) {
  ErrorTrap trap("modNumbers", "Str2DblNI");
  return CDblNI(text);
}

int32_t Str2LngNI(std::string_view text) {
  ErrorTrap trap("modNumbers", "Str2LngNI");
  return CLngNI(text);
}

double Str2Dbl(std::string_view text) {
  ErrorTrap trap("modNumbers", "Str2Dbl");
  return Str2DblNI(text);
}

int32_t Str2Lng(std::string_view text) {
  ErrorTrap trap("modNumbers", "Str2Lng");
  return Str2LngNI(text);
}

bool Str2Bool(std::string_view text) {
  ErrorTrap trap("modNumbers", "Str2Bool");
  const std::string_view t = TrimBlanks(text);
  if (EqualsNoCase(t, "true") || EqualsNoCase(t, "#TRUE#")) return true;
  if (EqualsNoCase(t, "false") || EqualsNoCase(t, "#FALSE#")) return false;
  if (const auto number = ParseNumber(t)) return *number != 0.0;
  // "TRUE" and "1" were already taken above; only "YES" is left of the fallbacks.
  return EqualsNoCase(t, "YES");
}

std::string FormatI(double value, std::string_view pattern_text) {
  ErrorTrap trap("modNumbers", "FormatI");
  std::string pattern(pattern_text);
  if (const size_t comma = pattern.find(','); comma != std::string::npos) pattern[comma] = '.';

  const std::string separator = LocaleDecimalSeparator();
  const size_t first = pattern.find_first_of("0#.");
  if (first == std::string::npos || !std::isfinite(value)) {
    std::string text = CStrNI(value);
    if (const size_t point = text.find('.'); point != std::string::npos) text.replace(point, 1, separator);
    return text;
  }
  const size_t last = pattern.find_last_of("0#.");
  const std::string prefix = pattern.substr(0, first);
  const std::string suffix = pattern.substr(last + 1);

  size_t min_int = 0;
  size_t frac_min = 0;
  size_t frac_max = 0;
  bool in_fraction = false;
  for (size_t i = first; i <= last; ++i) {
    const char c = pattern[i];
    if (c == '.') {
      in_fraction = true;
    } else if (c == '0' || c == '#') {
      if (!in_fraction) {
        if (c == '0') ++min_int;
      } else {
        ++frac_max;
        if (c == '0') frac_min = frac_max;
      }
    }
  }

  // The shortest exact text of the value, then decimal rounding (halves away from zero),
  // so that 1.005 shows as 1.01 the way a user reads it.
  char buffer[400];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, std::fabs(value), std::chars_format::fixed);
  const std::string_view plain(buffer, static_cast<size_t>(result.ptr - buffer));
  const size_t point = plain.find('.');
  std::string int_digits(plain.substr(0, point));
  std::string frac_digits(point == std::string_view::npos ? std::string_view() : plain.substr(point + 1));
  if (frac_digits.size() > frac_max) {
    const bool round_up = frac_digits[frac_max] >= '5';
    frac_digits.resize(frac_max);
    if (round_up && !IncrementDigits(frac_digits)) {
      if (!IncrementDigits(int_digits)) int_digits.insert(int_digits.begin(), '1');
    }
  }
  while (frac_digits.size() > frac_min && frac_digits.back() == '0') frac_digits.pop_back();
  while (frac_digits.size() < frac_min) frac_digits.push_back('0');
  const size_t nonzero = int_digits.find_first_not_of('0');
  int_digits = nonzero == std::string::npos ? std::string() : int_digits.substr(nonzero);
  const bool is_zero = int_digits.empty() && frac_digits.find_first_not_of('0') == std::string::npos;
  if (int_digits.size() < min_int) int_digits.insert(0, min_int - int_digits.size(), '0');

  std::string text;
  if (value < 0 && !is_zero) text += '-';
  text += prefix;
  text += int_digits;
  if (!frac_digits.empty()) {
    text += separator;
    text += frac_digits;
  }
  text += suffix;
  return text;
}

double FP(double x) {
  ErrorTrap trap("modNumbers", "FP");
  return x - std::floor(x);
}

}  // namespace chronoreel
