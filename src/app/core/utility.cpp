#include "app/core/utility.h"

#include <cstdio>

#include <time.h>

#include <cmath>
#include <thread>

#include "app/core/conversions.h"
#include "app/core/error_report.h"

namespace chronoreel {

namespace {

constexpr double kSecondsPerDay = 86400.0;

}  // namespace

double SecondsSinceMidnight() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  tm local{};
  localtime_r(&now.tv_sec, &local);
  return local.tm_hour * 3600.0 + local.tm_min * 60.0 + local.tm_sec + now.tv_nsec / 1e9;
}

void Delay(Host& host, double seconds, const SecondsSinceMidnightSource& timer, const PauseFunction& pause) {
  ErrorTrap trap("modMain", "Delay");
  // The clock restarts at midnight: each step is taken modulo a day. Summing the steps
  // gives the same whole seconds as (now - start + 86400) mod 86400 for any wait under a
  // day, and still ends a wait of a day or more.
  double previous = timer();
  double total = 0.0;
  for (;;) {
    host.ProcessEvents();
    const double now = timer();
    total += std::fmod(now - previous + kSecondsPerDay, kSecondsPerDay);
    previous = now;
    const double elapsed = RoundHalfEven(total);
    // A NaN wait ends at once instead of never.
    if (!(elapsed < seconds)) return;
    pause(std::chrono::milliseconds(5));
  }
}

void Delay(Host& host, double seconds) {
  ErrorTrap trap("modMain", "Delay");
  Delay(host, seconds, SecondsSinceMidnight,
        [](std::chrono::milliseconds duration) { std::this_thread::sleep_for(duration); });
}

void Host::LogLine(const std::string& text) {
  std::fprintf(stderr, "chronoreel: %s\n", PrintableText(text).c_str());
  std::fflush(stderr);
}

std::string PrintableText(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (unsigned char c : text) {
    if (c < 0x20 || c == 0x7F) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
      out += escaped;
    } else {
      out.push_back(static_cast<char>(c));
    }
  }
  return out;
}

}  // namespace chronoreel
