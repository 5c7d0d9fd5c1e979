// The generation run as a sequence of stages: lock, window, scan, selection, composition
// and writing, command, clean-up.
#include <algorithm>
#include <string>
#include <vector>

#include "app/core/error_report.h"
#include "app/core/utility.h"
#include "engine/frame_composer.h"
#include "engine/movie_gen.h"
#include "engine/output_lock.h"
#include "engine/run_notes.h"
#include "engine/write_movie.h"

namespace chronoreel {

StageReport MovieGen::Report() {
  return StageReport{host_, progress_.get(), &cancel_, &stopped_};
}

void MovieGen::CloseWithStatus(const std::string& status, const RunOptions& options) {
  if (progress_) {
    Report().Show(status, "");
    progress_->HoldStatus(2);
  }
  CloseProgress(options);
}

void MovieGen::EndNothingToMake(const std::string& status, const std::string& reason,
                                const RunOptions& options) {
  CloseWithStatus(status, options);
  host_.LogLine(reason);
}

void MovieGen::CloseProgress(const RunOptions& options) {
  if (progress_) {
    progress_->Unload();
    progress_.reset();
  }
  if (!options.unattended) {
    host_.BringMainWindowToFront();
    host_.ProcessEvents();
  }
}

void MovieGen::ReportAviError(const std::string& reason, const RunOptions& options) {
  const std::string text = "There was an error writing the AVI file.";
  // The reason goes to the log in any case: the scheduler's, or the main window's notice.
  host_.LogLine(text + " (" + reason + ")");
  if (options.show_progress) {
    host_.ShowMessage({reason.empty() ? text : text + "\n" + reason, "Chronoreel", MessageButtons::Ok,
                       MessageIcon::Information});
  }
}

void MovieGen::StartRun() {
  // A stop from outside that came while the setup was loading still counts.
  cancel_.store(StoppedFromOutside(), std::memory_order_relaxed);
  run_time_ = now_ ? now_() : Clock();
  run_fps_ = MovieFPS();
  ComputeWindow();
  frames_ = {};
}

void MovieGen::HoldOutputLock(std::unique_ptr<OutputLock> lock) { output_lock_ = std::move(lock); }

void MovieGen::OpenProgress(const RunOptions& options) {
  progress_.reset();
  if (!options.show_progress) return;
  progress_ = host_.CreateProgressWindow([this] { SetCancelMovie(true); });
  if (!progress_) return;
  progress_->SetStatus("Status: Reading Source Directory");
  progress_->SetFrameLabel("");
  progress_->ClearPreview();
  progress_->Show();
  progress_->Refresh();
}

bool MovieGen::ScanAndSelect(const RunOptions& options) {
  GetFileSpecs();
  if (CancelRequested()) {
    CloseWithStatus("Status: Cancelled by User", options);
    return false;
  }
  if (progress_) progress_->SetFrameLabel("");
  if (!IsValidArray(images_.paths)) {
    EndNothingToMake("Status: No Files Found",
                     NoFilesFoundNote(still_directory_, image_filter_, include_subfolders_), options);
    return false;
  }
  if (progress_) {
    progress_->SetFrameLabel("Found: " + std::to_string(images_.paths.size()) + " Files");
    progress_->SetStatus("Status: Determining Which Files To Use");
  }
  switch (SelectFrames()) {
    case Selection::Cancelled:
      CloseWithStatus("Status: Cancelled by User", options);
      return false;
    case Selection::NoFrames:
      EndNothingToMake("Status: No Files Met Timing Criteria",
                       NoFilesInWindowNote(window_start_, window_stop_, images_.times.front(),
                                           images_.times.back(), images_.times.size()),
                       options);
      return false;
    case Selection::Selected:
      // What a wanted length chose; a quiet run says nothing unless something failed.
      if (!length_note_.empty() && !state_.cmd.Quiet) host_.LogLine(length_note_);
      return true;
  }
  return false;
}

MovieWriteResult MovieGen::ComposeAndWrite(bool output_locked, const RunOptions& options) {
  MovieWriteInputs in;
  const bool custom_size = movie_size_option_ == 1;
  if (progress_)
    progress_->FitToMovieSize(custom_size ? std::max(movie_size_width_, 320) : 320,
                              custom_size ? movie_size_height_ : 240);
  if (custom_size) {
    in.width = RoundUpToMultipleOf4(movie_size_width_);
    in.height = movie_size_height_;
  }
  // The stills and their times in writing order.
  std::vector<std::string> stills = frames_.paths;
  std::vector<DateTime> times = frames_.times;
  if (run_direction_ != 1) {
    std::reverse(stills.begin(), stills.end());
    std::reverse(times.begin(), times.end());
  }
  in.stills = stills;
  in.times = times;
  in.output_path = output_avi_path_;
  in.fps = run_fps_;
  in.compression.record = *CompressOptionsPointer();
  in.compression.format = FormatData();
  in.compression.parms = ParmsData();
  in.deflicker_frames = deflicker_frames_;
  in.stamp_text = stamp_text_;
  in.stamp_position = stamp_position_;
  in.stamp_size = stamp_size_;
  in.run_time = run_time_;
  in.output_locked = output_locked;
  MovieWriteResult result = WriteMovie(in, Report(), options);
  movie_width_ = result.width;
  movie_height_ = result.height;
  return result;
}

void MovieGen::MakeMovie(const RunOptions& options) {
  ErrorTrap trap("MovieGen", "MakeMovie");
  last_run_completed_ = false;
  last_run_undeleted_ = 0;
  last_run_frames_ = 0;
  last_run_end_ = RunStages(options);
  // An end that names no other outcome made nothing, or was cancelled.
  if (last_run_end_ == RunEnd::NothingToMake && CancelRequested()) last_run_end_ = RunEnd::Stopped;
}

MovieGen::RunEnd MovieGen::RunStages(const RunOptions& options) {
  // One run per movie; every way out of the run lets go of the lock.
  std::unique_ptr<OutputLock> output_lock = std::move(output_lock_);
  if (!output_lock) output_lock = std::make_unique<OutputLock>(output_avi_path_);
  if (output_lock->Busy()) {
    ReportAviError("another run is writing " + output_avi_path_, options);
    return RunEnd::Busy;
  }

  StartRun();
  OpenProgress(options);
  if (!ScanAndSelect(options)) return RunEnd::NothingToMake;

  using End = MovieWriteResult::End;
  const MovieWriteResult written = ComposeAndWrite(output_lock->Held(), options);
  switch (written.end) {
    case End::OpenFailed:
    case End::FinishFailed:
      ReportAviError(written.error, options);
      [[fallthrough]];
    case End::WriteFailed:
      CloseProgress(options);
      return RunEnd::WriteFailed;
    case End::Cancelled:
    case End::Stopped:
      CloseProgress(options);
      return RunEnd::Stopped;
    case End::NothingDecoded:
    case End::NoDecoder:
    case End::Written:
      break;
  }
  last_run_frames_ = static_cast<int32_t>(frames_.paths.size() - written.no_frame.Count());
  output_lock.reset();  // the movie is in place: a command that never ends must not hold it
  if (written.end == End::NothingDecoded) {
    EndNothingToMake("Status: No Files Could Be Decoded", NoFrameNote(written.no_frame, frames_.paths.size()),
                     options);
    return RunEnd::NothingToMake;
  }

  // After a stop from outside nothing more changes; a failed command keeps the stills for a
  // run whose command succeeds.
  CommandEnd command = CommandEnd::Succeeded;
  if (!StoppedFromOutside()) command = RunPostGenerationShell(options);
  if (delete_old_images_ && command != CommandEnd::Failed && !StoppedFromOutside()) DeleteOldImagesStep(options);

  if (progress_) {
    for (int i = 0; i < 4; ++i) progress_->HoldStatus(0.5);
    CloseProgress(options);
  }
  // Without a decoder no movie was written: the run did not reach its purpose.
  last_run_completed_ = written.end == End::Written;
  return !last_run_completed_             ? RunEnd::WriteFailed
         : CancelRequested()             ? RunEnd::Stopped
         : command == CommandEnd::Failed ? RunEnd::CommandFailed
                                         : RunEnd::Written;
}

}  // namespace chronoreel
