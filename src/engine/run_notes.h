#pragma once
// The lines a run leaves in its log when it ends early or when stills gave no frame: what a
// reader of a scheduler's log needs to act on, one line each.
#include <cstddef>
#include <string>
#include <vector>

#include "time/date_time.h"

namespace chronoreel {

// The stills of a run that gave no frame: how many, and the first few by path.
class NoFrameStills {
 public:
  static constexpr size_t kNamed = 3;
  void Add(const std::string& path);
  size_t Count() const { return count_; }
  const std::vector<std::string>& First() const { return first_; }

 private:
  size_t count_ = 0;
  std::vector<std::string> first_;
};

std::string NoFilesFoundNote(const std::string& folder, const std::string& pattern,
                             bool subfolders);
// The window next to the times of the first and last of the `stills` found.
std::string NoFilesInWindowNote(DateTime window_start, DateTime window_stop, DateTime first_still,
                                DateTime last_still, size_t stills);
// Of `selected` stills, those that gave no frame; every one of them: nothing to make.
std::string NoFrameNote(const NoFrameStills& stills, size_t selected);
// What follows "Frame: k of m" once a still gave no frame: " - 2 gave no frame".
std::string NoFrameLabelSuffix(const NoFrameStills& stills);

}  // namespace chronoreel
