// Date text of the command line and the date boxes: any text must parse or be refused
// without a fault, and an accepted value must survive FormatDateTime and a second parse.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_support.h"
#include "time/date_time.h"

using chronoreel::fuzz::Violation;

namespace {

constexpr std::string_view kPatterns[] = {
    "HHMM", "HHMMSS", "YYMMDD", "MMDDYY", "DDMMYY", "HH:MM:SS AM/PM",
    "MM/DD/YYYY HH:MM:SS AM/PM", "YYYY-MM-DD HH:MM:SS", "bogus", ""};

constexpr double kSecond = 1.0 / 86400.0;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 256) return -1;  // date texts are short; longer inputs add nothing
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  const auto value = chronoreel::ParseDateText(text);
  if (!value) return 0;
  if (!std::isfinite(*value)) Violation("ParseDateText gave a non-finite value", text);

  for (std::string_view pattern : kPatterns) (void)chronoreel::FormatDateTime(*value, pattern);
  (void)chronoreel::CivilFromDateTime(*value);

  // Both long forms carry the full date and the time to the second, and both are forms the
  // parser accepts; the text holds whole seconds, so the value must come back to the second.
  for (std::string_view pattern : {std::string_view("YYYY-MM-DD HH:MM:SS"),
                                   std::string_view("MM/DD/YYYY HH:MM:SS AM/PM")}) {
    const std::string formatted = chronoreel::FormatDateTime(*value, pattern);
    const auto again = chronoreel::ParseDateText(formatted);
    if (!again) Violation("a formatted date does not parse again", formatted);
    if (std::fabs(*again - *value) > 0.5 * kSecond + 1e-9)
      Violation("a formatted date parses to another time", formatted);
  }
  return 0;
}
