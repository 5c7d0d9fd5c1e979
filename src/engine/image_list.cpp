// The image list: the stills of StillDirectory (and, when asked, of its subfolders) that
// match ImageFilter, each with its time, sorted by the moment it was taken and then by path.
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#include "app/core/error_report.h"
#include "app/core/utility.h"
#include "engine/exif_time.h"
#include "engine/movie_gen.h"

namespace chronoreel {

namespace {

// A directory can hold hundreds of thousands of stills: the window and the event pump are
// fed at a pace the eye cannot tell from every file.
constexpr auto kUiInterval = std::chrono::milliseconds(30);

char FoldAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// "*" any run of characters, "?" any one character, ASCII letter case ignored. Linear time:
// only the last "*" needs to be backtracked to.
bool MatchesPattern(std::string_view name, std::string_view pattern) {
  size_t n = 0, p = 0;
  size_t star = std::string_view::npos, star_n = 0;
  while (n < name.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      star_n = n;
    } else if (p < pattern.size() &&
               (pattern[p] == '?' || FoldAscii(pattern[p]) == FoldAscii(name[n]))) {
      ++p;
      ++n;
    } else if (star != std::string_view::npos) {
      p = star + 1;
      n = ++star_n;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

bool AllDigits(std::string_view text) {
  return !text.empty() &&
         std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

int TwoDigits(std::string_view text, size_t at) {
  return (text[at] - '0') * 10 + (text[at + 1] - '0');
}

// YYMMDDHHMMSS[d|dd].jpg: the first twelve characters are the date and time, the year in
// 1930-2029; one or two digits before ".jpg" are tenths of a second (two digits too, so
// "25" adds 2.5 seconds). nullopt when the name starts with no valid date and time.
std::optional<DateTime> TimeFromStillName(std::string_view name) {
  if (name.size() < 12 || !AllDigits(name.substr(0, 12))) return std::nullopt;
  const int yy = TwoDigits(name, 0);
  const int year = yy < 30 ? 2000 + yy : 1900 + yy;
  auto time = DateTimeFromCivil(year, TwoDigits(name, 2), TwoDigits(name, 4), TwoDigits(name, 6),
                                TwoDigits(name, 8), TwoDigits(name, 10));
  if (!time) return std::nullopt;
  // Positions counted from 1: ".jpg" at 14 leaves one digit after the seconds, at 15 two.
  const size_t found = name.find(".jpg");
  if (found == 13 || found == 14) {
    const std::string_view tenths = name.substr(12, found - 12);
    if (AllDigits(tenths)) {
      const int value = tenths.size() == 1 ? tenths[0] - '0' : TwoDigits(tenths, 0);
      *time += value / 864000.0;
    }
  }
  return time;
}

void ReportScanProblem(Host& host, const char* what, const std::string& directory,
                       const std::error_code& ec) {
  host.LogLine(std::string(what) + ": " + (directory.empty() ? "." : directory) + " (" + ec.message() + ")");
}

}  // namespace

ImageList ScanStills(const ScanInputs& in, const StageReport& report) {
  ErrorTrap trap("MovieGen", "GetFileSpecs");
  namespace fs = std::filesystem;
  ImageList list;
  ProgressWindow* const window = report.window;

  std::string prefix = in.directory;
  if (!prefix.empty() && !IsFolderSeparator(prefix.back())) prefix += '/';

  using SteadyClock = std::chrono::steady_clock;
  auto last_ui = SteadyClock::now() - kUiInterval;

  // Folders still to list, relative to the prefix ("" is the still directory itself, the
  // others end in '/'). Worked as stacks, not by recursion: a tree can be very deep. Folders
  // reached through a link wait until the real ones are listed, so that a link into the
  // tree is the one passed over and each still keeps its real path.
  std::vector<std::string> real_folders = {""};
  std::vector<std::string> linked_folders;
  // Every folder listed, by device and inode: a link back up the tree, or a second link to
  // one folder, does not list it again.
  std::set<std::pair<dev_t, ino_t>> visited;
  // Sized for a typical webcam folder at once; the vectors double beyond that.
  list.paths.reserve(1024);
  list.times.reserve(1024);
  list.moments.reserve(1024);

  while (!report.Cancelled() && !(real_folders.empty() && linked_folders.empty())) {
    std::vector<std::string>& from = real_folders.empty() ? linked_folders : real_folders;
    const std::string relative = std::move(from.back());
    from.pop_back();
    const std::string folder = prefix + relative;
    if (in.include_subfolders) {
      struct stat info {};
      const char* at = folder.empty() ? "." : folder.c_str();
      if (::stat(at, &info) == 0 && !visited.emplace(info.st_dev, info.st_ino).second) continue;
    }
    std::error_code ec;
    fs::directory_iterator it(folder.empty() ? fs::path(".") : fs::path(folder), ec);
    if (ec) {
      // "No Files Found" alone would hide a missing, unreadable or mistyped folder; a
      // subfolder that cannot be read is passed over, but the log says so.
      ReportScanProblem(
          report.host,
          relative.empty() ? "The still directory could not be read" : "A subfolder could not be read",
          folder, ec);
      continue;
    }
    const fs::directory_iterator end;
    for (; it != end && !report.Cancelled(); it.increment(ec)) {
      const fs::directory_entry& entry = *it;
      const std::string& native = entry.path().native();
      size_t slash = native.size();
      while (slash > 0 && !IsFolderSeparator(native[slash - 1])) --slash;
      const std::string_view name = std::string_view(native).substr(slash);
      if (name.empty() || name.front() == '.') continue;  // hidden, files and folders alike
      std::error_code type_ec;
      if (in.include_subfolders && entry.is_directory(type_ec) && !type_ec) {
        // The type comes with the listing: only links and folders cost a stat.
        std::string below = relative;
        below.append(name);
        below += '/';
        std::error_code link_ec;
        const bool linked = entry.is_symlink(link_ec) || link_ec;
        (linked ? linked_folders : real_folders).push_back(std::move(below));
        continue;
      }
      if (!MatchesPattern(name, in.filter)) continue;
      if (!entry.is_regular_file(type_ec) || type_ec) continue;

      std::string path = folder;
      path.append(name);
      std::optional<DateTime> time;
      double moment = 0;
      if (in.time_stamp_option == 1) {
        time = TimeFromStillName(name);  // nullopt: no date in the name
        if (time) moment = *time;
      } else if (in.time_stamp_option == 2) {
        // Only the capture-time option opens the still; without EXIF data its modified
        // time stands in, on the same local scale as the others.
        time = ReadCaptureTime(path);
        if (!time) time = FileModifiedTime(path);
        if (time) moment = *time;
      } else if (const std::optional<FileTime> stamp = FileModifiedStamp(path)) {
        time = stamp->local;
        moment = stamp->moment;
      }
      if (!time) continue;  // no date in the name, or the still vanished since it was listed

      const auto now = SteadyClock::now();
      if (now - last_ui >= kUiInterval) {
        last_ui = now;
        if (window) window->SetFrameLabel("Found: " + path.substr(prefix.size()));
        report.host.ProcessEvents();
      }
      list.times.push_back(*time);
      list.moments.push_back(moment);
      list.paths.push_back(std::move(path));
    }
    // A read error ends the listing early: the run goes on with what was found, but the
    // log says that the list is short.
    if (ec) {
      ReportScanProblem(report.host,
                        relative.empty() ? "The still directory could not be read to its end"
                                         : "A subfolder could not be read to its end",
                        folder, ec);
    }
  }
  // The last name found stays on show, whatever the pace above skipped.
  if (window && !list.paths.empty())
    window->SetFrameLabel("Found: " + list.paths.back().substr(prefix.size()));

  if (list.paths.empty()) list = {};
  if (window) window->SetStatus("Status: Sorting Files By Date");
  if (!list.paths.empty()) SortStills(list, report);
  return list;
}

void MovieGen::GetFileSpecs() {
  images_ = ScanStills({still_directory_, image_filter_, include_subfolders_, time_stamp_option_}, Report());
}

int32_t MovieGen::ShellSeq(int32_t (&gaps)[29], int32_t n) {
  ErrorTrap trap("MovieGen", "ShellSeq");
  // Sedgewick (1986): 9*4^k - 9*2^k + 1 and 8*4^k - 6*2^k + 1, interleaved. Worked in 64
  // bits so that the last entries cannot overflow; every gap used fits 32 bits.
  int64_t a = 1, b = 1, c = 1;
  int32_t s = -1;
  int64_t gap = 0;
  do {
    ++s;
    if (s % 2 == 1) {
      gap = 8 * a - 6 * b + 1;
    } else {
      gap = 9 * a - 9 * c + 1;
      b *= 2;
      c *= 2;
    }
    a *= 2;
    gaps[s] = static_cast<int32_t>(gap);
  } while (3 * gap < n && s < 28);
  return s > 0 ? s - 1 : 0;
}

void MovieGen::ShellSort() {
  SortStills(images_, Report());
}

void SortStills(ImageList& list, const StageReport& report) {
  ErrorTrap trap("MovieGen", "ShellSort");
  std::vector<std::string>& paths = list.paths;
  std::vector<DateTime>& times = list.times;
  std::vector<double>& moments = list.moments;
  const ptrdiff_t count = static_cast<ptrdiff_t>(times.size());
  if (count == 0) return;
  // A list made without moments (filled by other means) sorts by its local times.
  if (moments.size() != times.size()) moments = times;
  int32_t gaps[29] = {};
  int32_t s = MovieGen::ShellSeq(gaps, static_cast<int32_t>(count));
  while (s >= 0 && !report.Cancelled()) {
    const ptrdiff_t h = gaps[s];
    for (ptrdiff_t i = h; i < count; ++i) {
      const double m = moments[i];
      const DateTime t = times[i];
      std::string path = std::move(paths[i]);
      ptrdiff_t j = i - h;
      // Equal times go by path, so that the order never depends on the file system.
      while (j >= 0 && (moments[j] > m || (moments[j] == m && paths[j] > path))) {
        moments[j + h] = moments[j];
        times[j + h] = times[j];
        paths[j + h] = std::move(paths[j]);
        j -= h;
      }
      moments[j + h] = m;
      times[j + h] = t;
      paths[j + h] = std::move(path);
      if (report.Cancelled()) break;
    }
    --s;
  }
}

}  // namespace chronoreel
