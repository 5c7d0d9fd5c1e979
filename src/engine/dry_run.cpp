// The dry run: the scan and the selection of a real run, then a report instead of a movie.
#include <filesystem>
#include <system_error>

#include "app/core/error_report.h"
#include "engine/movie_gen.h"

namespace chronoreel {

bool MovieGen::IsOldStill(DateTime run_time, DateTime still_time, float hours) {
  const float limit = static_cast<float>(static_cast<double>(hours) / 24.0);
  const float age = static_cast<float>(run_time - still_time);
  return age > limit;
}

MovieGen::DryRunResult MovieGen::DryRun() {
  ErrorTrap trap("MovieGen", "DryRun");
  DryRunResult result;
  StartRun();

  GetFileSpecs();
  result.stills_found = static_cast<int32_t>(images_.paths.size());
  if (CancelRequested()) {
    result.end = DryRunResult::End::Cancelled;
    return result;
  }
  if (images_.paths.empty()) {
    result.end = DryRunResult::End::NoFilesFound;
    return result;
  }
  const Selection selection = SelectFrames();
  result.skipped_dark = skipped_dark_;
  result.skipped_bright = skipped_bright_;
  switch (selection) {
    case Selection::Cancelled:
      result.end = DryRunResult::End::Cancelled;
      return result;
    case Selection::NoFrames:
      result.end = DryRunResult::End::NoFramesInWindow;
      return result;
    case Selection::Selected:
      break;
  }
  result.frame_paths = frames_.paths;
  result.frame_times = frames_.times;

  if (delete_old_images_) {
    for (size_t i = 0; i < images_.paths.size() && i < images_.times.size(); ++i) {
      if (!IsOldStill(run_time_, images_.times[i], delete_old_images_hours_)) continue;
      std::error_code ec;
      // The clean-up passes over folders that took a still's name; so does the report.
      if (std::filesystem::is_directory(std::filesystem::symlink_status(images_.paths[i], ec))) continue;
      result.would_delete.push_back(images_.paths[i]);
    }
  }
  if (!post_generation_shell_.empty()) {
    result.command = ExpandShellTags(post_generation_shell_, run_time_, output_avi_path_, SpanOf(frames_.times));
  }
  return result;
}

}  // namespace chronoreel
