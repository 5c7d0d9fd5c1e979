// The still-name time of the image list ("YYMMDDHHMMSSdd"): one file with the input as its
// name is scanned with name times on. A name must never fault the scan, and the time found
// must be the one its first twelve digits spell, plus at most 9.9 seconds of tenths.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>

#include "app/core/host.h"
#include "app/core/program_state.h"
#include "engine/movie_gen.h"
#include "fuzz_support.h"
#include "time/date_time.h"
#include "time/sun.h"

using chronoreel::fuzz::ScratchName;
using chronoreel::fuzz::ScratchPath;
using chronoreel::fuzz::Violation;

namespace {

constexpr double kSecond = 1.0 / 86400.0;

const std::string& StillDirectory() {
  static const ScratchPath folder(ScratchName("stills"));
  static const bool made = std::filesystem::create_directories(folder.Path());
  (void)made;
  return folder.Path();
}

// The name a file system can hold: no "/" or NUL, at most 255 bytes, never "." or "..".
std::string FileNameFrom(std::string_view input) {
  std::string name(input.substr(0, 255));
  for (char& c : name) {
    if (c == '/' || c == '\0') c = '_';
  }
  if (name.empty() || name == "." || name == "..") name += "_";
  return name;
}

// What the first twelve characters spell, read the way the date boxes read ISO text.
std::optional<chronoreel::DateTime> SpelledTime(std::string_view name) {
  if (name.size() < 12) return std::nullopt;
  for (char c : name.substr(0, 12)) {
    if (c < '0' || c > '9') return std::nullopt;
  }
  const int yy = (name[0] - '0') * 10 + (name[1] - '0');
  char iso[32];
  std::snprintf(iso, sizeof iso, "%04d-%.2s-%.2s %.2s:%.2s:%.2s", yy < 30 ? 2000 + yy : 1900 + yy,
                name.data() + 2, name.data() + 4, name.data() + 6, name.data() + 8, name.data() + 10);
  return chronoreel::ParseDateText(iso);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 300) return -1;
  const std::string name = FileNameFrom(std::string_view(reinterpret_cast<const char*>(data), size));
  const std::string& folder = StillDirectory();

  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(folder, ec))
    std::filesystem::remove_all(entry.path(), ec);
  const std::string path = folder + "/" + name;
  if (!chronoreel::fuzz::WriteWholeFile(path, nullptr, 0)) return 0;

  chronoreel::ProgramState state;
  chronoreel::NullHost host;
  chronoreel::Sun sun(state.location);
  chronoreel::MovieGen movie(state, sun, host);
  movie.SetStillDirectory(folder);
  movie.SetImageFilter("*");
  movie.SetTimeStampOption(1);  // times from the names
  movie.GetFileSpecs();

  const auto& times = movie.ImageTimes();
  if (times.size() != movie.ImagePaths().size()) Violation("paths and times differ in count", name);
  const auto spelled = SpelledTime(name);
  const bool visible = name[0] != '.';
  if (!visible || !spelled) {
    if (!times.empty()) Violation("a name without a valid date and time was listed", name);
    return 0;
  }
  if (times.size() != 1) Violation("a name with a valid date and time was left out", name);
  if (movie.ImagePaths()[0] != path) Violation("the listed path is not the file's", name);
  const double extra = times[0] - *spelled;
  if (extra < -1e-9 || extra > 9.9 * kSecond + 1e-9)
    Violation("the time is not the one the name spells", name);
  return 0;
}
