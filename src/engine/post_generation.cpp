// After the movie: the post-generation command with its tags, and the clean-up of old stills.
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

#include "app/core/error_report.h"
#include "engine/exif_time.h"
#include "engine/movie_gen.h"
#include "engine/shell.h"

namespace chronoreel {

namespace {

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

size_t FindNoCase(const std::string& text, const std::string& tag, size_t from) {
  if (tag.empty() || text.size() < tag.size()) return std::string::npos;
  for (size_t i = from; i + tag.size() <= text.size(); ++i) {
    size_t j = 0;
    while (j < tag.size() && LowerAscii(text[i + j]) == LowerAscii(tag[j])) ++j;
    if (j == tag.size()) return i;
  }
  return std::string::npos;
}

struct PathParts {
  std::string file;    // last component
  std::string base;    // last component without its extension
  std::string parent;  // folder part, "" for a bare name
};

PathParts SplitOutputPath(const std::string& path) {
  PathParts parts;
  std::string p = path;
  // "/movies/" names the folder movies, as the file-system object reads it.
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  const size_t slash = p.rfind('/');
  if (slash == std::string::npos) {
    parts.file = p;
  } else {
    parts.file = p.substr(slash + 1);
    parts.parent = slash == 0 ? std::string("/") : p.substr(0, slash);
  }
  const size_t dot = parts.file.rfind('.');
  parts.base = dot == std::string::npos ? parts.file : parts.file.substr(0, dot);
  return parts;
}

std::string Trimmed(const std::string& s) {
  const size_t b = s.find_first_not_of(" \t");
  if (b == std::string::npos) return {};
  const size_t e = s.find_last_not_of(" \t");
  return s.substr(b, e - b + 1);
}

// The tags of one piece of text, in their order.
std::string ExpandTags(const std::string& text, DateTime run_time, const std::string& output_path,
                       const PathParts& parts, const std::string& outdir,
                       const std::optional<MovieGen::FrameSpan>& frames) {
  std::string out = text;
  MovieGen::Replace(out, "<time>", FormatDateTime(run_time, "HHMM"));
  MovieGen::Replace(out, "<timehhmmss>", FormatDateTime(run_time, "HHMMSS"));
  MovieGen::Replace(out, "<date>", FormatDateTime(run_time, "YYMMDD"));
  MovieGen::Replace(out, "<datemmddyy>", FormatDateTime(run_time, "MMDDYY"));
  MovieGen::Replace(out, "<dateddmmyy>", FormatDateTime(run_time, "DDMMYY"));
  MovieGen::Replace(out, "<outpath>", output_path);
  MovieGen::Replace(out, "<outfile>", parts.file);
  MovieGen::Replace(out, "<outfilebase>", parts.base);
  MovieGen::Replace(out, "<outdir>", outdir);
  if (frames) {
    MovieGen::Replace(out, "<firstdate>", FormatDateTime(frames->first, "YYMMDD"));
    MovieGen::Replace(out, "<lastdate>", FormatDateTime(frames->last, "YYMMDD"));
    MovieGen::Replace(out, "<firsttime>", FormatDateTime(frames->first, "HHMM"));
    MovieGen::Replace(out, "<lasttime>", FormatDateTime(frames->last, "HHMM"));
  }
  return out;
}

std::string OutDir(const PathParts& parts) {
  std::string outdir = parts.parent;
  if (!outdir.empty() && outdir.back() != '/') outdir += '/';
  return outdir;
}

}  // namespace

void MovieGen::Replace(std::string& text, const std::string& tag, const std::string& value) {
  ErrorTrap trap("MovieGen", "Replace");
  size_t pos = 0;
  while ((pos = FindNoCase(text, tag, pos)) != std::string::npos) {
    text.replace(pos, tag.size(), value);
    pos += value.size();  // a value holding the tag is inserted once, unchanged
  }
}

std::optional<MovieGen::FrameSpan> MovieGen::SpanOf(std::span<const DateTime> times) {
  if (times.empty()) return std::nullopt;
  return FrameSpan{std::min(times.front(), times.back()), std::max(times.front(), times.back())};
}

std::string MovieGen::ExpandShellTags(const std::string& command, DateTime run_time,
                                      const std::string& output_path,
                                      const std::optional<FrameSpan>& frames) {
  const PathParts parts = SplitOutputPath(output_path);
  return ExpandTags(command, run_time, output_path, parts, OutDir(parts), frames);
}

std::vector<std::string> MovieGen::ExpandShellArguments(const std::string& command,
                                                        DateTime run_time,
                                                        const std::string& output_path,
                                                        const std::optional<FrameSpan>& frames) {
  // Split first, fill in afterwards: a path with blanks, quotes or backslashes stays one
  // argument, exactly as it is, and can never open a quote of its own.
  const PathParts parts = SplitOutputPath(output_path);
  const std::string outdir = OutDir(parts);
  std::vector<std::string> args = SplitCommandLine(command);
  for (std::string& arg : args) arg = ExpandTags(arg, run_time, output_path, parts, outdir, frames);
  return args;
}

MovieGen::CommandEnd MovieGen::RunPostGenerationShell(const RunOptions& options) {
  if (Trimmed(post_generation_shell_).empty()) return CommandEnd::Succeeded;
  Report().Show("Status: Running Post-Generation Shell", "");
  const std::optional<FrameSpan> frames = SpanOf(frames_.times);
  const std::string command = ExpandShellTags(post_generation_shell_, run_time_, output_avi_path_, frames);
  std::erase_if(left_running_, [](int32_t pid) {
    ProcessRecord earlier;
    earlier.pid = pid;
    return ProcessStatus(earlier) != kProcessRunning;
  });

  // From here a failure to start or watch the command is remembered, not raised.
  bool failed = false;
  ProcessRecord process;
  int status = kProcessInvalid;
  try {
    process = ExecArgs(ExpandShellArguments(post_generation_shell_, run_time_, output_avi_path_, frames));
    for (;;) {
      host_.ProcessEvents();
      status = ProcessStatus(process);
      if (status == kProcessEnded || status == kProcessInvalid || CancelRequested()) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  } catch (const std::exception&) {
    failed = true;
  }
  const bool cancelled = CancelRequested();
  // A cancelled wait leaves the command running on its own; one that ended is reaped.
  if (!cancelled || status == kProcessEnded) {
    try {
      CloseProcess(process);
    } catch (const std::exception&) {
      failed = true;
    }
  } else if (process.pid > 0) {
    left_running_.push_back(process.pid);
  }

  if (cancelled) {
    Report().Show("Status: Post-Generation Shell Wait Cancelled",
                  "*Note: The shelled process may still be running.");
    if (progress_) progress_->HoldStatus(1);
  } else {
    Report().Show("Status: Post-Generation Shell Complete", "");
  }
  if (cancelled && status == kProcessRunning) return CommandEnd::Cancelled;

  // Why the command failed, "" when it did not.
  std::string why;
  const int wait_status = process.exit_status;
  if (failed || status == kProcessInvalid) {
    why = "could not start";
    if (process.start_error != 0) why += std::string(": ") + std::strerror(process.start_error);
  } else if (wait_status == -1) {
    why = "ended, but its exit status could not be read";
  } else if (WIFSIGNALED(wait_status)) {
    why = "was ended by signal " + std::to_string(WTERMSIG(wait_status)) + " (" + strsignal(WTERMSIG(wait_status)) + ")";
  } else if (WIFEXITED(wait_status) && WEXITSTATUS(wait_status) != 0) {
    why = "ended with status " + std::to_string(WEXITSTATUS(wait_status));
  }
  if (why.empty()) return CommandEnd::Succeeded;

  // One line for a scheduler's log, whatever else shows it; the box where a window can.
  const std::string line = "Error calling shell: There was an error calling: " + command + ": it " + why +
                           (delete_old_images_ ? "; the old stills are kept" : "");
  if (options.show_progress) {
    host_.LogAndShow(line, {"There was an error calling:\r" + command + "\rIt " + why + ".",
                            "Error calling shell", MessageButtons::Ok, MessageIcon::Exclamation});
  } else {
    host_.LogLine(line);
  }
  return CommandEnd::Failed;
}

void MovieGen::DeleteOldImagesStep(const RunOptions& options) {
  namespace fs = std::filesystem;
  last_run_undeleted_ = 0;
  if (!delete_old_images_) return;
  if (std::isnan(delete_old_images_hours_)) {
    // A slip in the age limit ("48h") must not cost the stills; the run says why they stay.
    MessageBoxRequest box{"DeleteOldImagesHours is not a number, so no image was deleted.",
                          "Old images not deleted", MessageButtons::Ok, MessageIcon::Exclamation};
    if (options.show_progress) {
      host_.ShowMessage(box);
    } else {
      host_.LogLine(box.title + ": " + box.text);
    }
    return;
  }
  Report().Show("Status: Deleting old images", "");
  int32_t undeleted = 0;
  for (size_t i = 0; i < images_.paths.size() && i < images_.times.size(); ++i) {
    if (!IsOldStill(run_time_, images_.times[i], delete_old_images_hours_)) continue;
    const std::string& path = images_.paths[i];
    if (progress_) {
      const size_t slash = path.rfind('/');
      progress_->SetFrameLabel("Deleting: " +
                               (slash == std::string::npos ? path : path.substr(slash + 1)));
      progress_->Refresh();
    }
    std::error_code ec;
    const fs::file_status st = fs::symlink_status(path, ec);
    if (ec || !fs::exists(st)) continue;  // already gone: nothing left behind
    if (time_stamp_option_ != 1) {
      // The camera may have written a new still under the old name since the scan: only a
      // still that is still old goes. The time is taken again as the scan took it.
      std::optional<DateTime> now_time;
      if (time_stamp_option_ == 2) now_time = ReadCaptureTime(path);
      if (!now_time) now_time = FileModifiedTime(path);
      if (now_time && !IsOldStill(run_time_, *now_time, delete_old_images_hours_)) continue;
    }
    // Only files are stills; a folder that took a still's name is left alone.
    if (fs::is_directory(st)) {
      ++undeleted;
      continue;
    }
    if (!fs::remove(path, ec)) {
      // Read-only stills go too: where the file's own mode guards it (Windows), lift it.
      fs::permissions(path, fs::perms::owner_write, fs::perm_options::add, ec);
      if (!fs::remove(path, ec)) ++undeleted;
    }
  }
  last_run_undeleted_ = undeleted;
  if (undeleted > 0) {
    const std::string note = " - " + std::to_string(undeleted) + " could not be deleted";
    if (progress_) {
      progress_->SetStatus("Status: Deleting old images" + note);
      progress_->Refresh();
    }
    host_.LogLine("Deleting old images" + note);
  }
}

}  // namespace chronoreel
