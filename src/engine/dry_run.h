#pragma once
// The wording of a dry run's report, shared by /d on the command line and "Preview
// Selection" in the main window, so that both say the same facts the same way.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/movie_gen.h"

namespace chronoreel::dry_run_text {

inline constexpr const char* kHeading = "Dry run: nothing is written, deleted or started.";

std::string StillsFound(int32_t stills);
// "Frames: 12, into <output>"; with repeated stills "Frames: 30 from 12 stills, into <output>".
std::string Frames(const std::vector<std::string>& frame_paths, const std::string& output);
// "Movie length: 1:02.50 at 24 fps"
std::string MovieLength(size_t frames, int32_t fps);
// "Played backwards: from the latest still to the earliest", or "" for a movie that plays forwards.
std::string Direction(int32_t direction);
// A frame's still: "2006-12-07 00:00:00  <path>".
std::string FrameText(DateTime time, const std::string& path);
// One frame, numbered from 1: "     1  2006-12-07 00:00:00  <path>".
std::string FrameLine(size_t number, DateTime time, const std::string& path);
std::string WouldDelete(size_t stills);
// "Command afterwards: <command>", or "none".
std::string CommandAfterwards(const std::string& command);

// The stills behind a frame list: a still that repeats gives neighbouring frames.
size_t StillsInFrames(const std::vector<std::string>& frame_paths);

}  // namespace chronoreel::dry_run_text
