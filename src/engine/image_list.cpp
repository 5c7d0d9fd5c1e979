// The image list: the stills of StillDirectory (and, when asked, of its subfolders) that
// match ImageFilter, each with its time, sorted by the moment it was taken and then by path.
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#include "app/core/error_report.h"
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

bool IsSeparator(char c) {
#ifdef _WIN32
  return c == '/' || c == '\\';
#else
  return c == '/';
#endif
}

void ReportScanProblem(const char* what, const std::string& directory, const std::error_code& ec) {
  std::fprintf(stderr, "chronoreel: %s: %s (%s)\n", what,
               directory.empty() ? "." : directory.c_str(), ec.message().c_str());
  std::fflush(stderr);
}

}  // namespace

void MovieGen::GetFileSpecs() {
  ErrorTrap trap("MovieGen", "GetFileSpecs");
  namespace fs = std::filesystem;

  image_paths_.clear();
  image_times_.clear();
  image_moments_.clear();

  std::string prefix = still_directory_;
  if (!prefix.empty() && !IsSeparator(prefix.back())) prefix += '/';

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
  image_paths_.reserve(1024);
  image_times_.reserve(1024);
  image_moments_.reserve(1024);

  while (!CancelRequested() && !(real_folders.empty() && linked_folders.empty())) {
    std::vector<std::string>& from = real_folders.empty() ? linked_folders : real_folders;
    const std::string relative = std::move(from.back());
    from.pop_back();
    const std::string folder = prefix + relative;
    if (include_subfolders_) {
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
          relative.empty() ? "The still directory could not be read" : "A subfolder could not be read",
          folder, ec);
      continue;
    }
    const fs::directory_iterator end;
    for (; it != end && !CancelRequested(); it.increment(ec)) {
      const fs::directory_entry& entry = *it;
      const std::string& native = entry.path().native();
      size_t slash = native.size();
      while (slash > 0 && !IsSeparator(native[slash - 1])) --slash;
      const std::string_view name = std::string_view(native).substr(slash);
      if (name.empty() || name.front() == '.') continue;  // hidden, files and folders alike
      std::error_code type_ec;
      if (include_subfolders_ && entry.is_directory(type_ec) && !type_ec) {
        // The type comes with the listing: only links and folders cost a stat.
        std::string below = relative;
        below.append(name);
        below += '/';
        std::error_code link_ec;
        const bool linked = entry.is_symlink(link_ec) || link_ec;
        (linked ? linked_folders : real_folders).push_back(std::move(below));
        continue;
      }
      if (!MatchesPattern(name, image_filter_)) continue;
      if (!entry.is_regular_file(type_ec) || type_ec) continue;

      std::string path = folder;
      path.append(name);
      std::optional<DateTime> time;
      double moment = 0;
      if (time_stamp_option_ == 1) {
        time = TimeFromStillName(name);  // nullopt: no date in the name
        if (time) moment = *time;
      } else if (time_stamp_option_ == 2) {
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
        if (progress_) progress_->SetFrameLabel("Found: " + path.substr(prefix.size()));
        host_.ProcessEvents();
      }
      image_times_.push_back(*time);
      image_moments_.push_back(moment);
      image_paths_.push_back(std::move(path));
    }
    // A read error ends the listing early: the run goes on with what was found, but the
    // log says that the list is short.
    if (ec) {
      ReportScanProblem(relative.empty() ? "The still directory could not be read to its end"
                                         : "A subfolder could not be read to its end",
                        folder, ec);
    }
  }
  // The last name found stays on show, whatever the pace above skipped.
  if (progress_ && !image_paths_.empty()) {
    const std::string& last = image_paths_.back();
    progress_->SetFrameLabel("Found: " + last.substr(prefix.size()));
  }

  if (image_paths_.empty()) {
    image_paths_ = {};
    image_times_ = {};
    image_moments_ = {};
  }
  if (progress_) progress_->SetStatus("Status: Sorting Files By Date");
  if (!image_paths_.empty()) ShellSort();
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
  ErrorTrap trap("MovieGen", "ShellSort");
  const ptrdiff_t count = static_cast<ptrdiff_t>(image_times_.size());
  if (count == 0) return;
  // A list made without moments (filled by other means) sorts by its local times.
  if (image_moments_.size() != image_times_.size()) image_moments_ = image_times_;
  int32_t gaps[29] = {};
  int32_t s = ShellSeq(gaps, static_cast<int32_t>(count));
  while (s >= 0 && !CancelRequested()) {
    const ptrdiff_t h = gaps[s];
    for (ptrdiff_t i = h; i < count; ++i) {
      const double m = image_moments_[i];
      const DateTime t = image_times_[i];
      std::string path = std::move(image_paths_[i]);
      ptrdiff_t j = i - h;
      // Equal times go by path, so that the order never depends on the file system.
      while (j >= 0 && (image_moments_[j] > m || (image_moments_[j] == m && image_paths_[j] > path))) {
        image_moments_[j + h] = image_moments_[j];
        image_times_[j + h] = image_times_[j];
        image_paths_[j + h] = std::move(image_paths_[j]);
        j -= h;
      }
      image_moments_[j + h] = m;
      image_times_[j + h] = t;
      image_paths_[j + h] = std::move(path);
      if (CancelRequested()) break;
    }
    --s;
  }
}

}  // namespace chronoreel
