#pragma once
#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "app/core/host.h"

namespace chronoreel {

// Clamps in place: at or below min gives min, above max gives max. No check that min <= max.
template <typename T, typename U, typename V>
void Limit(T& value, U min, V max) {
  if (value <= static_cast<T>(min)) {
    value = static_cast<T>(min);
  } else if (value > static_cast<T>(max)) {
    value = static_cast<T>(max);
  }
}

// True when the list holds at least one entry.
template <typename Container>
bool IsValidArray(const Container& list) {
  return !list.empty();
}

// Waits, letting the host process events, until the elapsed whole seconds (rounded, ties
// to even, modulo a day) reach `seconds`.
void Delay(Host& host, double seconds);

// The clock and the pause that Delay uses, replaceable by tests.
using SecondsSinceMidnightSource = std::function<double()>;
using PauseFunction = std::function<void(std::chrono::milliseconds)>;
void Delay(Host& host, double seconds, const SecondsSinceMidnightSource& timer, const PauseFunction& pause);

// Seconds since local midnight of the system clock, with fractions.
double SecondsSinceMidnight();

// A character that separates the folders of a path on this system.
constexpr bool IsFolderSeparator(char c) {
#ifdef _WIN32
  if (c == '\\') return true;
#endif
  return c == '/';
}

// Text for a terminal or a log: control bytes (a file name may hold any) become \xNN, so
// that a name can neither forge a line nor drive the terminal. Other bytes pass unchanged.
std::string PrintableText(const std::string& text);

}  // namespace chronoreel
