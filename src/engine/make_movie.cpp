// The generation run: window, scan, selection, frames, file, post-generation steps.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "app/core/error_report.h"
#include "app/core/utility.h"
#include "engine/container.h"
#include "engine/deflicker.h"
#include "engine/frame_composer.h"
#include "engine/frame_pipeline.h"
#include "engine/movie_gen.h"
#include "engine/movie_writer.h"
#include "engine/output_lock.h"
#include "engine/run_notes.h"
#include "engine/stamp.h"

extern "C" {
#include <libavutil/log.h>
}

namespace chronoreel {

namespace {

// Label, preview and event-pump updates in the frame loop are limited to about 30 a
// second: a fast run would otherwise spend its time repainting.
constexpr auto kUiInterval = std::chrono::milliseconds(33);

bool IsBlankText(const std::string& s) {
  return s.find_first_not_of(" \t") == std::string::npos;
}

// Runs `done` when the scope ends, on every path.
template <typename Done>
class AtScopeEnd {
 public:
  explicit AtScopeEnd(Done done) : done_(done) {}
  ~AtScopeEnd() { done_(); }
  AtScopeEnd(const AtScopeEnd&) = delete;
  AtScopeEnd& operator=(const AtScopeEnd&) = delete;

 private:
  Done done_;
};

std::span<const uint8_t> HeldBytes(const uint8_t* data, int32_t wanted, int32_t held) {
  const int32_t n = std::clamp(wanted, 0, std::max(held, 0));
  return {data, static_cast<size_t>(n)};
}

}  // namespace

void MovieGen::CloseWithStatus(const std::string& status) {
  if (progress_) {
    progress_->SetStatus(status);
    progress_->SetFrameLabel("");
    progress_->Refresh();
    Delay(host_, 2);
  }
  CloseProgress();
}

void MovieGen::EndNothingToMake(const std::string& status, const std::string& reason) {
  last_run_completed_ = false;
  CloseWithStatus(status);
  host_.LogLine(reason);
}

void MovieGen::CloseProgress() {
  if (progress_) {
    progress_->Unload();
    progress_.reset();
  }
  if (!state_.cmd.AutomatedRun) {
    host_.BringMainWindowToFront();
    host_.ProcessEvents();
  }
}

void MovieGen::ReportAviError(const std::string& reason) {
  const std::string text = "There was an error writing the AVI file.";
  if (state_.cmd.ShowProgress) {
    MessageBoxRequest box;
    box.text = reason.empty() ? text : text + "\n" + reason;
    box.title = "Chronoreel";
    box.buttons = MessageButtons::Ok;
    box.icon = MessageIcon::Information;
    host_.ShowMessage(box);
  } else {
    // Without a window the reason still reaches the scheduler's log.
    std::fprintf(stderr, "chronoreel: %s (%s)\n", text.c_str(), reason.c_str());
    std::fflush(stderr);
  }
}

void MovieGen::StartRun() {
  // A stop from outside that came while the setup was loading still counts.
  cancel_.store(StoppedFromOutside(), std::memory_order_relaxed);
  run_direction_ = movie_direction_;
  run_time_ = now_ ? now_() : Clock();
  ComputeWindow();
  frame_paths_.clear();
  frame_times_.clear();
}

void MovieGen::HoldOutputLock(std::unique_ptr<OutputLock> lock) { output_lock_ = std::move(lock); }

void MovieGen::MakeMovie() {
  ErrorTrap trap("MovieGen", "MakeMovie");
  last_run_completed_ = false;
  last_run_undeleted_ = 0;
  // An end that names no other outcome made nothing, or was cancelled.
  last_run_end_ = RunEnd::NothingToMake;
  const AtScopeEnd settle_end([this] {
    if (last_run_end_ == RunEnd::NothingToMake && CancelRequested()) last_run_end_ = RunEnd::Stopped;
  });
  const bool show_progress = state_.cmd.ShowProgress;

  // One run per movie; every way out of the run lets go of the lock.
  std::unique_ptr<OutputLock> output_lock = std::move(output_lock_);
  if (!output_lock) output_lock = std::make_unique<OutputLock>(output_avi_path_);
  if (output_lock->Busy()) {
    ReportAviError("another run is writing " + output_avi_path_);
    last_run_end_ = RunEnd::Busy;
    return;
  }

  // 1. Start.
  StartRun();

  // 2. Progress window.
  progress_.reset();
  if (show_progress) {
    progress_ = host_.CreateProgressWindow([this] { SetCancelMovie(true); });
    if (progress_) {
      progress_->SetStatus("Status: Reading Source Directory");
      progress_->SetFrameLabel("");
      progress_->ClearPreview();
      progress_->Show();
      progress_->Refresh();
      progress_->SetSizeTwips(4680, 4890);
    }
  }

  // 3-4. Scan.
  GetFileSpecs();
  if (CancelRequested()) {
    CloseWithStatus("Status: Cancelled by User");
    return;
  }

  // 5-6.
  if (progress_) progress_->SetFrameLabel("");
  if (!IsValidArray(image_paths_)) {
    EndNothingToMake("Status: No Files Found",
                     NoFilesFoundNote(still_directory_, image_filter_, include_subfolders_));
    return;
  }
  if (progress_) {
    progress_->SetFrameLabel("Found: " + std::to_string(image_paths_.size()) + " Files");
  }

  // 7. Selection.
  if (progress_) progress_->SetStatus("Status: Determining Which Files To Use");
  switch (SelectFrames()) {
    case Selection::Cancelled:
      CloseWithStatus("Status: Cancelled by User");
      return;
    case Selection::NoFrames:
      EndNothingToMake("Status: No Files Met Timing Criteria",
                       NoFilesInWindowNote(window_start_, window_stop_, image_times_.front(),
                                           image_times_.back(), image_times_.size()));
      return;
    case Selection::Selected:
      break;
  }

  // 8. Frame stage set-up.
  movie_width_ = 0;
  movie_height_ = 0;
  const bool custom_size = movie_size_option_ == 1;
  if (progress_) {
    if (custom_size) {
      progress_->FitToMovieSize(std::max(movie_size_width_, 320), movie_size_height_);
    } else {
      progress_->FitToMovieSize(320, 240);
    }
  }
  if (custom_size) {
    movie_width_ = RoundUpToMultipleOf4(movie_size_width_);
    movie_height_ = movie_size_height_;
  }

  bool wrote_movie = false;
  NoFrameStills no_frame;
  bool nothing_decoded = false;
  {
    // The stills in writing order: workers read and decode the next ones while this
    // thread writes the current frame and keeps the window alive.
    const size_t m = frame_paths_.size();
    std::vector<std::string> writing_order;
    if (run_direction_ != 1) writing_order.assign(frame_paths_.rbegin(), frame_paths_.rend());
    const std::span<const std::string> stills =
        run_direction_ == 1 ? std::span<const std::string>(frame_paths_) : writing_order;
    EncoderChoice compression;
    compression.record = *CompressOptionsPointer();
    compression.format = HeldBytes(FormatPointer(), compression.record.cbFormat, FormatHeld());
    compression.parms = HeldBytes(ParmsPointer(), compression.record.cbParms, ParmsHeld());
    // The libraries' notes and statistics (x264's, libswscale's) are no news to a user and
    // would bury our own lines in a scheduler's mail; their errors still show.
    av_log_set_level(AV_LOG_ERROR);
    FramePipeline pipeline(stills, movie_width_, movie_height_, FramePipeline::DefaultWorkers());
    // Frames that go to the writer untouched can stay as the planes the decoder made; a
    // deflickered or stamped frame is worked on in BGR from the start.
    const bool touched = Deflicker(deflicker_frames_).Enabled() || !stamp_text_.empty();
    pipeline.KeepPlanes(!touched && PlanEncoder(compression, ContainerForPath(output_avi_path_),
                                                movie_width_, movie_height_).takes_planes);
    MovieWriter writer;
    writer.SetOutputLocked(output_lock->Held());
    const bool decoder_ready = pipeline.Start();
    if (decoder_ready) {
      if (progress_) {
        progress_->SetStatus("Status: Opening AVI");
        progress_->Refresh();
      }
      if (!writer.Open(output_avi_path_, &compression)) {
        ReportAviError(writer.Error());
        CloseProgress();
        last_run_end_ = RunEnd::WriteFailed;
        return;
      }

      // 9.
      if (progress_) {
        progress_->SetStatus("Status: Adding Frames to AVI");
        progress_->Refresh();
      }

      // Abort: no message, no command. A cancel keeps the frames written so far; after a
      // stop from outside the unfinished file goes with the writer and the last movie stays.
      auto abort_run = [&](RunEnd end) {
        if (!StoppedFromOutside()) writer.Finish();
        CloseProgress();
        last_run_end_ = end;
      };

      // 10. Frame loop.
      const int32_t fps = MovieFPS();

      // The composed frame is evened out first, then stamped, so the text keeps its colour.
      Deflicker deflicker(deflicker_frames_);
      std::optional<FrameStamper> stamper;
      if (!stamp_text_.empty()) {
        stamper.emplace();
        if (!stamper->Ready()) {
          // The movie is still worth having without its stamp.
          std::fprintf(stderr, "chronoreel: the date stamp is left out: %s\n",
                       stamper->Error().c_str());
          std::fflush(stderr);
          stamper.reset();
        }
      }

      const std::string of_m = " of " + std::to_string(m);
      auto last_ui = std::chrono::steady_clock::time_point{};
      for (size_t k = 0; k < m; ++k) {
        if (CancelRequested()) {
          if (progress_) {
            progress_->SetStatus("Status: Cancelled by User");
            progress_->SetFrameLabel("");
            progress_->Refresh();
            Delay(host_, 2);
          }
          abort_run(RunEnd::Stopped);
          return;
        }
        const auto now = std::chrono::steady_clock::now();
        const bool ui_due = k == 0 || k + 1 == m || now - last_ui >= kUiInterval;
        if (ui_due) last_ui = now;
        if (progress_ && ui_due) {
          progress_->SetFrameLabel("Frame: " + std::to_string(k + 1) + of_m +
                                   NoFrameLabelSuffix(no_frame));
          progress_->Refresh();
        }
        DIB* frame = pipeline.Take(k);
        if (frame == nullptr) {
          pipeline.Release(k);
          no_frame.Add(stills[k]);
          continue;  // a still that does not decode gives no frame
        }
        movie_width_ = pipeline.MovieWidth();
        movie_height_ = pipeline.MovieHeight();
        // A frame still in planes goes to the writer as it is when the stream takes planes
        // and nothing draws on it; its surface is made only for the preview.
        const FramePlanes* planes = pipeline.Planes(k);
        bool planes_out = false;
        bool written = true;
        if (planes != nullptr) {
          written = writer.Prepare(planes->width, planes->height, fps, compression);
          planes_out = written && writer.TakesPlanes() && !deflicker.Enabled() && !stamper;
          const bool surface_needed = !planes_out || (progress_ && ui_due);
          if (written && surface_needed && !pipeline.MakeSurface(k)) {
            pipeline.Release(k);
            no_frame.Add(stills[k]);
            continue;  // no picture: as a still that does not decode
          }
        }
        if (written && deflicker.Enabled()) {
          deflicker.Apply(frame->DIBPtr(), frame->Width(), frame->Height(), frame->Stride());
        }
        if (written && stamper) {
          const DateTime still_time = frame_times_[run_direction_ == 1 ? k : m - 1 - k];
          // The still's fields first: a '%' that a tag brings in (a path) stays as it is.
          const std::string text = ExpandShellTags(
              FrameStamper::FormatStillTime(stamp_text_, still_time), run_time_, output_avi_path_);
          stamper->Draw(frame->DIBPtr(), frame->Width(), frame->Height(), frame->Stride(), text,
                        stamp_position_, stamp_size_);
        }
        const FrameView view = frame->View();
        if (written && progress_ && ui_due) progress_->ShowFrame(view);
        if (written) written = planes_out ? writer.WritePlanes(*planes) : writer.WriteFrame(view, fps, compression);
        pipeline.Release(k);
        if (!written) {
          // No message box on this path; an unattended run's log still learns why (a full
          // disk, most often).
          if (state_.cmd.AutomatedRun) {
            std::fprintf(stderr, "chronoreel: the movie could not be written: %s\n",
                         writer.Error().c_str());
            std::fflush(stderr);
          }
          abort_run(RunEnd::WriteFailed);
          return;
        }
        if (ui_due) host_.ProcessEvents();
      }
      if (no_frame.Count() > 0) {
        // The counter ends on what was written, not only on what was read.
        if (progress_) {
          progress_->SetFrameLabel("Frame: " + std::to_string(m) + of_m +
                                   NoFrameLabelSuffix(no_frame));
        }
        if (no_frame.Count() < m) host_.LogLine(NoFrameNote(no_frame, m));
      }
    }

    // 11. Completion: the decoder goes with this scope; the file is finished first.
    // Not one frame: nothing replaces the last movie; the temporary goes with the writer.
    nothing_decoded = decoder_ready && no_frame.Count() == m;
    if (decoder_ready && StoppedFromOutside()) {
      CloseProgress();
      last_run_end_ = RunEnd::Stopped;
      return;
    }
    if (decoder_ready && !nothing_decoded) {
      if (!writer.Finish()) {
        ReportAviError(writer.Error());
        CloseProgress();
        last_run_end_ = RunEnd::WriteFailed;
        return;
      }
      wrote_movie = true;
    }
  }
  output_lock.reset();  // the movie is in place: a command that never ends must not hold it
  if (nothing_decoded) {
    EndNothingToMake("Status: No Files Could Be Decoded", NoFrameNote(no_frame, frame_paths_.size()));
    return;
  }

  // After a stop from outside nothing more changes; a failed command keeps the stills for a
  // run whose command succeeds.
  CommandEnd command = CommandEnd::Succeeded;
  if (!IsBlankText(post_generation_shell_) && !StoppedFromOutside()) command = RunPostGenerationShell();
  if (delete_old_images_ && command != CommandEnd::Failed && !StoppedFromOutside()) DeleteOldImagesStep();

  if (progress_) {
    for (int i = 0; i < 4; ++i) Delay(host_, 0.5);
    CloseProgress();
  }
  // Without a decoder no movie was written: the run did not reach its purpose.
  last_run_completed_ = wrote_movie;
  last_run_end_ = !wrote_movie                    ? RunEnd::WriteFailed
                  : CancelRequested()             ? RunEnd::Stopped
                  : command == CommandEnd::Failed ? RunEnd::CommandFailed
                                                  : RunEnd::Written;
}

}  // namespace chronoreel
