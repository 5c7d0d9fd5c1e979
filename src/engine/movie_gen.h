#pragma once
// MovieGen: the one object that describes a movie (the generation settings) and makes it
// (MakeMovie). Every setter clamps, compares and marks the program's SetupChanged flag.
#include <algorithm>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "app/core/host.h"
#include "app/core/program_state.h"
#include "bitmap/dib.h"
#include "engine/default_paths.h"
#include "engine/settings.h"
#include "engine/stages.h"
#include "time/clock.h"
#include "time/date_time.h"

namespace chronoreel {

class OutputLock;
struct MovieWriteResult;
class Sun;

// The Video for Windows compression options record, field for field: eleven 32-bit values.
// The pointer fields hold the low 32 bits of the block addresses whenever the record is
// handed out; the full addresses are FormatPointer() and ParmsPointer().
struct AviCompressOptions {
  int32_t fccType = 0;
  int32_t fccHandler = 541215044;  // "DIB "
  int32_t dwKeyFrameEvery = 0;
  int32_t dwQuality = 50;
  int32_t dwBytesPerSecond = 100000;
  int32_t dwFlags = 8;  // AVICOMPRESSF_VALID
  int32_t lpFormat = 0;
  int32_t cbFormat = 0;
  int32_t lpParms = 0;
  int32_t cbParms = 0;
  int32_t dwInterleaveEvery = 0;
};
static_assert(sizeof(AviCompressOptions) == 44);

constexpr int32_t kAviCompressDataRate = 2;  // AVICOMPRESSF_DATARATE
constexpr int32_t kAviCompressKeyFrames = 4;  // AVICOMPRESSF_KEYFRAMES: dwKeyFrameEvery is set

class MovieGen {
 public:
  MovieGen(ProgramState& state, Sun& sun, Host& host);
  ~MovieGen();
  MovieGen(const MovieGen&) = delete;
  MovieGen& operator=(const MovieGen&) = delete;

  // ---- settings: SetStillDirectory(), StillDirectory() and so on, one pair per row of
  // CHRONOREEL_SETTINGS (engine/settings.h). Setters compare, store, clamp and mark the
  // program's SetupChanged flag; DeleteOldImagesHours NaN means "no number": no still is
  // deleted. ----
#define CHRONOREEL_SETTING_ACCESS(Name, member, Type, ...)             \
  void Set##Name(SettingArg<SettingType::Type> value);                 \
  SettingValue<SettingType::Type> Name() const { return SettingGet<SettingType::Type>(member); }
  CHRONOREEL_SETTINGS(CHRONOREEL_SETTING_ACCESS)
#undef CHRONOREEL_SETTING_ACCESS

  // ---- the compression record: store and mark, no comparison ----
#define CHRONOREEL_RECORD_ACCESS(Name, field, ...) \
  void Set##Name(int32_t v);                        \
  int32_t Name() const { return compress_.field; }
  CHRONOREEL_RECORD_KEYS(CHRONOREEL_RECORD_ACCESS)
#undef CHRONOREEL_RECORD_ACCESS
  // Setting a pointer stores and marks; reading gives the block's address.
  void SetCompressFormatPointer(uintptr_t v);
  uintptr_t CompressFormatPointer() const;
  void SetCompressParmsPointer(uintptr_t v);
  uintptr_t CompressParmsPointer() const;
  // The record as handed out: its pointer fields refreshed from the blocks.
  const AviCompressOptions* CompressOptionsPointer();

  // ---- the two byte blocks: they grow, never shrink ----
  void SetFormatSize(int32_t n);
  int32_t FormatSize() const { return format_size_; }
  void SetParmsSize(int32_t n);
  int32_t ParmsSize() const { return parms_size_; }
  void SetFormatBytes(int32_t index, uint8_t value);  // index outside the block: a fault
  uint8_t FormatBytes(int32_t index) const;
  void SetParmsBytes(int32_t index, uint8_t value);
  uint8_t ParmsBytes(int32_t index) const;
  const uint8_t* FormatPointer() const { return format_.data(); }
  const uint8_t* ParmsPointer() const { return parms_.data(); }
  int32_t FormatHeld() const { return static_cast<int32_t>(format_.size()); }
  int32_t ParmsHeld() const { return static_cast<int32_t>(parms_.size()); }
  // The bytes the record's sizes name, as far as the blocks hold them.
  std::span<const uint8_t> FormatData() const { return Held(format_, compress_.cbFormat); }
  std::span<const uint8_t> ParmsData() const { return Held(parms_, compress_.cbParms); }

  // Called after each setting that marks SetupChanged (the main window shows unsaved edits).
  void SetChangeListener(std::function<void()> listener) { change_listener_ = std::move(listener); }

  // ---- the run ----
  // Raising only: false leaves a raised request raised. Safe from a signal handler's thread.
  void SetCancelMovie(bool value) noexcept;
  bool CancelRequested() const noexcept { return cancel_.load(std::memory_order_relaxed); }
  // A stop from outside (a termination signal): a cancel after which the run changes
  // nothing more; it outlasts the start of the run. Safe from a signal handler.
  void StopFromOutside() noexcept;
  bool StoppedFromOutside() const noexcept { return stopped_.load(std::memory_order_relaxed); }

  // Makes one movie from the settings (stages, status texts and cancel points of the run).
  void MakeMovie(const RunOptions& options = {});
  // The output's lock for the next MakeMovie, taken early by a caller that must know at
  // once whether another run writes the movie; without one the run takes its own. The run
  // lets go of it once the movie is in place, before the command afterwards.
  void HoldOutputLock(std::unique_ptr<OutputLock> lock);
  // Scans StillDirectory into the image list, sorted by time.
  void GetFileSpecs();
  void ShellSort();
  // Fills the gap table (Sedgewick 1986) and returns the index of the first gap for n.
  static int32_t ShellSeq(int32_t (&gaps)[29], int32_t n);
  // Replaces every tag (letter case ignored), carrying on after the inserted value.
  static void Replace(std::string& text, const std::string& tag, const std::string& value);

  // Run values that outlive the run.
  DateTime WindowStart() const { return window_start_; }
  DateTime WindowStop() const { return window_stop_; }
  const std::vector<std::string>& ImagePaths() const { return images_.paths; }
  const std::vector<DateTime>& ImageTimes() const { return images_.times; }
  const std::vector<std::string>& FramePaths() const { return frames_.paths; }
  const std::vector<DateTime>& FrameTimes() const { return frames_.times; }
  int32_t MovieWidth() const { return movie_width_; }
  int32_t MovieHeight() const { return movie_height_; }

  // How the last run ended: true when the movie was written.
  bool LastRunCompleted() const { return last_run_completed_; }
  enum class RunEnd {
    Written,        // the movie was written, and the command afterwards (if any) succeeded
    NothingToMake,  // no stills, none in the window, none that gave a frame
    WriteFailed,    // the movie could not be written (open, encoder, write, disk)
    Busy,           // another run writes the same movie
    Stopped,        // cancelled, or stopped from outside
    CommandFailed,  // the movie was written; the command could not start or failed
  };
  RunEnd LastRunEnd() const { return last_run_end_; }
  // Stills the clean-up could not delete in the last run.
  int32_t LastRunUndeleted() const { return last_run_undeleted_; }
  // The frames the last run put into the movie (stills that gave no frame not counted).
  int32_t LastRunFrames() const { return last_run_frames_; }

  // Seams for tests: "now" for the run time.
  void SetClock(NowFunction now) { now_ = std::move(now); }
  // The progress window that the scan and the selection report to (the run makes its own).
  void SetProgressWindow(std::unique_ptr<ProgressWindow> window) { progress_ = std::move(window); }

  // ---- stages of the run, public for the tests ----
  // The time window from run_time_ and the reversed-window rule (sets WindowStart/Stop and
  // the run direction).
  void ComputeWindow();
  using Selection = SelectionEnd;
  // Thins the image list into the frame list, with the "Frame: i of n" labels and the
  // cancel check after each image.
  Selection SelectFrames();
  int32_t RunDirection() const { return run_direction_; }
  // Where the run's sun times are taken: the setup file's Latitude and Longitude where it
  // has them, the profile's location otherwise.
  Location RunLocation() const;
  // The setup file's own place, if it has one.
  std::optional<Location> OwnPlace() const;
  // The frame rate the movie is written at, and what a wanted length chose ("" if none).
  int32_t RunFPS() const { return run_fps_; }
  const std::string& LengthNote() const { return length_note_; }
  // The hours of each day as the selection takes them, each day with its own sun times.
  DayHours DayHoursInputs() const;
  // The window and how the hours of each day, the daily times and a wanted length shape
  // the selection, a line each, for the dry run's listing.
  std::vector<std::string> SelectionNotes() const;
  void SetRunTime(DateTime t) { run_time_ = t; }
  // The post-generation command with its tags, and the deletion of old stills. A failed
  // command is told (standard error, and a box with the progress window) before it returns.
  enum class CommandEnd { Succeeded, Failed, Cancelled };
  CommandEnd RunPostGenerationShell(const RunOptions& options = {});
  void DeleteOldImagesStep(const RunOptions& options = {});
  // True when a still of `still_time` is old enough for the clean-up at `run_time`; both
  // sides in single precision, as the hours setting is stored.
  static bool IsOldStill(DateTime run_time, DateTime still_time, float hours);

  // What a run would do, without doing it: the scan and the selection run as usual (with
  // their cancel checks), nothing is written, deleted or started.
  struct DryRunResult {
    enum class End { Frames, NoFilesFound, NoFramesInWindow, Cancelled } end = End::Frames;
    int32_t stills_found = 0;
    std::vector<std::string> frame_paths;  // in the order the movie plays them
    std::vector<DateTime> frame_times;
    std::vector<std::string> would_delete;
    std::string command;  // the post-generation command with its tags replaced; "" if none
    std::string reason;   // an early end: what a run would write to its log
    int32_t direction = 1;  // -1: a movie played backwards (frame_paths already are)
    int32_t skipped_dark = 0;    // stills left out as darker than SkipDarkBelow
    int32_t skipped_bright = 0;  // and as brighter than SkipBrightAbove
    // How the hours of each day, the daily times and a wanted length shape the selection.
    std::vector<std::string> selection_notes;
  };
  DryRunResult DryRun();
  // The times of the movie's earliest and latest frame, for the tags that name the days a
  // movie shows rather than the day it was made.
  struct FrameSpan {
    DateTime first = 0;
    DateTime last = 0;
  };
  // The span of frames in either order (a reversed movie's too); nullopt for none.
  static std::optional<FrameSpan> SpanOf(std::span<const DateTime> times);
  // The command after tag replacement for the given run time and output path; without a
  // span the frame tags stay as they are.
  static std::string ExpandShellTags(const std::string& command, DateTime run_time,
                                     const std::string& output_path,
                                     const std::optional<FrameSpan>& frames = std::nullopt);
  // The arguments the command is started with: split first, then each one's tags filled
  // in, so that a value never splits into more arguments.
  static std::vector<std::string> ExpandShellArguments(const std::string& command,
                                                       DateTime run_time,
                                                       const std::string& output_path,
                                                       const std::optional<FrameSpan>& frames = std::nullopt);

 private:
  static std::span<const uint8_t> Held(const std::vector<uint8_t>& block, int32_t wanted) {
    return std::span(block).first(static_cast<size_t>(std::clamp(wanted, 0, static_cast<int32_t>(block.size()))));
  }
  void MarkChanged() {
    state_.SetupChanged = true;
    if (change_listener_) change_listener_();
  }
  // The start of a run and of a dry run: cancel cleared, run time read once, time window.
  void StartRun();

  ProgramState& state_;
  Sun& sun_;
  Host& host_;
  NowFunction now_;
  std::function<void()> change_listener_;

  // The settings first (one member per row of CHRONOREEL_SETTINGS), then the run's own.
  std::atomic<bool> cancel_{false};
  std::atomic<bool> stopped_{false};
  std::unique_ptr<ProgressWindow> progress_;

#define CHRONOREEL_SETTING_MEMBER(Name, member, Type, range, creation, ...) \
  SettingHeld<SettingType::Type> member = creation;
  CHRONOREEL_SETTINGS(CHRONOREEL_SETTING_MEMBER)
#undef CHRONOREEL_SETTING_MEMBER
  DateTime window_start_ = 0;
  DateTime window_stop_ = 0;
  DIB frame_surface_;
  DIB decode_surface_;
  int32_t movie_width_ = 0;
  int32_t movie_height_ = 0;
  ImageList images_;

  AviCompressOptions compress_;
  int32_t format_size_ = 0;
  int32_t parms_size_ = 0;
  std::vector<uint8_t> format_ = std::vector<uint8_t>(1, 0);
  std::vector<uint8_t> parms_ = std::vector<uint8_t>(1, 0);

  // ---- run state (frame selection, composition, output) ----
  // The run's helpers may add members below this line.
  DateTime run_time_ = 0;
  int32_t run_direction_ = 1;
  int32_t run_fps_ = 24;     // MovieFPS, or the rate a wanted length chose
  std::string length_note_;  // what a wanted length chose; "" when none was wanted
  FrameList frames_;
  bool last_run_completed_ = false;
  int32_t skipped_dark_ = 0;    // stills the last selection left out as too dark
  int32_t skipped_bright_ = 0;  // and as too bright
  RunEnd last_run_end_ = RunEnd::NothingToMake;
  int32_t last_run_undeleted_ = 0;
  int32_t last_run_frames_ = 0;
  std::unique_ptr<OutputLock> output_lock_;

  // The stages of MakeMovie, and how the run ended. Where they report: the host, the run's
  // window, its cancel.
  RunEnd RunStages(const RunOptions& options);
  StageReport Report();
  void OpenProgress(const RunOptions& options);
  // The scan and the selection; false when the run ended there (its status shown).
  bool ScanAndSelect(const RunOptions& options);
  MovieWriteResult ComposeAndWrite(bool output_locked, const RunOptions& options);
  // Ends of the run: the final status held on screen, then the window closed.
  void CloseWithStatus(const std::string& status, const RunOptions& options);
  void CloseProgress(const RunOptions& options);
  // An early end with nothing to make (no stills, none in the window, none that decoded):
  // the final status, then the reason in the log.
  void EndNothingToMake(const std::string& status, const std::string& reason, const RunOptions& options);
  // "There was an error writing the AVI file." with the writer's reason.
  void ReportAviError(const std::string& reason, const RunOptions& options);
  // Commands whose wait was cancelled: reaped by a later run once they have ended.
  std::vector<int32_t> left_running_;
};

}  // namespace chronoreel
