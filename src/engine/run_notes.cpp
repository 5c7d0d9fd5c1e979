#include "engine/run_notes.h"

namespace chronoreel {

namespace {

std::string Stamp(DateTime t) { return FormatDateTime(t, "YYYY-MM-DD HH:MM:SS"); }

std::string Named(const NoFrameStills& stills) {
  std::string names;
  for (const std::string& path : stills.First()) names += (names.empty() ? "" : ", ") + path;
  if (stills.Count() > stills.First().size()) names += ", ...";
  return names;
}

}  // namespace

void NoFrameStills::Add(const std::string& path) {
  if (first_.size() < kNamed) first_.push_back(path);
  ++count_;
}

std::string NoFilesFoundNote(const std::string& folder, const std::string& pattern,
                             bool subfolders) {
  return "No Files Found: nothing in \"" + folder + "\" matches \"" + pattern + "\"" +
         (subfolders ? " (subfolders searched too)" : " (subfolders not searched)");
}

std::string NoFilesInWindowNote(DateTime window_start, DateTime window_stop, DateTime first_still,
                                DateTime last_still, size_t stills) {
  return "No Files Met Timing Criteria: the window is " + Stamp(window_start) + " to " +
         Stamp(window_stop) + "; the " + std::to_string(stills) + " stills found are from " +
         Stamp(first_still) + " to " + Stamp(last_still);
}

std::string NoFrameNote(const NoFrameStills& stills, size_t selected) {
  if (stills.Count() >= selected) {
    return "No Files Could Be Decoded: none of the " + std::to_string(selected) +
           " stills gave a frame (" + Named(stills) + "); the movie is left as it was";
  }
  return std::to_string(stills.Count()) + " of " + std::to_string(selected) +
         " stills gave no frame: " + Named(stills);
}

std::string NoFrameLabelSuffix(const NoFrameStills& stills) {
  if (stills.Count() == 0) return "";
  return " - " + std::to_string(stills.Count()) + " gave no frame";
}

}  // namespace chronoreel
