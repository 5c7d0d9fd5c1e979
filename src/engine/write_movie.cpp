// The composition and writing stage: workers read and decode the next stills while this
// thread writes the current frame and keeps the window alive.
#include "engine/write_movie.h"

#include <chrono>
#include <optional>

#include "engine/container.h"
#include "engine/deflicker.h"
#include "engine/frame_pipeline.h"
#include "engine/movie_gen.h"
#include "engine/movie_writer.h"
#include "engine/stamp.h"

extern "C" {
#include <libavutil/log.h>
}

namespace chronoreel {

namespace {

// Label, preview and event-pump updates in the frame loop are limited to about 30 a
// second: a fast run would otherwise spend its time repainting.
constexpr auto kUiInterval = std::chrono::milliseconds(33);

}  // namespace

MovieWriteResult WriteMovie(const MovieWriteInputs& in, const StageReport& report,
                            const RunOptions& /*options*/) {
  using End = MovieWriteResult::End;
  MovieWriteResult result;
  result.width = in.width;
  ProgressWindow* const window = report.window;
  const size_t m = in.stills.size();
  const EncoderChoice& compression = in.compression;

  // The libraries' notes and statistics (x264's, libswscale's) are no news to a user and
  // would bury our own lines in a scheduler's mail; their errors still show.
  av_log_set_level(AV_LOG_ERROR);
  // A 4:2:0 stream wants an even height: the stills are stretched to it, as they are to a
  // width of a multiple of 4.
  const EncoderPlan plan = PlanEncoder(compression, ContainerForPath(in.output_path), in.width,
                                       RoundUpToEven(in.height));
  const int32_t height = plan.even_height ? RoundUpToEven(in.height) : in.height;
  result.height = height;
  FramePipeline pipeline(in.stills, in.width, height, FramePipeline::DefaultWorkers());
  pipeline.EvenHeight(plan.even_height);
  // Frames that go to the writer untouched can stay as the planes the decoder made; a
  // deflickered or stamped frame is worked on in BGR from the start.
  const bool touched = Deflicker(in.deflicker_frames).Enabled() || !in.stamp_text.empty();
  pipeline.KeepPlanes(!touched && plan.takes_planes);
  MovieWriter writer;
  writer.SetOutputLocked(in.output_locked);
  if (!pipeline.Start()) return result;  // NoDecoder

  if (window) {
    window->SetStatus("Status: Opening AVI");
    window->Refresh();
  }
  if (!writer.Open(in.output_path, &compression)) {
    result.end = End::OpenFailed;
    result.error = writer.Error();
    return result;
  }
  // Another encoder than the stored one: said once, before the first frame.
  if (!plan.note.empty()) report.host.LogLine(plan.note);
  if (window) {
    window->SetStatus("Status: Adding Frames to AVI");
    window->Refresh();
  }

  // The composed frame is evened out first, then stamped, so the text keeps its colour.
  Deflicker deflicker(in.deflicker_frames);
  std::optional<FrameStamper> stamper;
  const std::optional<MovieGen::FrameSpan> span = MovieGen::SpanOf(in.times);
  if (!in.stamp_text.empty()) {
    stamper.emplace();
    if (!stamper->Ready()) {
      // The movie is still worth having without its stamp.
      report.host.LogLine("the date stamp is left out: " + stamper->Error());
      stamper.reset();
    }
  }

  // An abort writes no message and runs no command. A cancel keeps the frames written so
  // far; after a stop from outside the unfinished file goes with the writer.
  auto abort_run = [&](End end) {
    if (!report.Stopped()) writer.Finish();
    result.end = end;
    return result;
  };

  const std::string of_m = " of " + std::to_string(m);
  auto last_ui = std::chrono::steady_clock::time_point{};
  for (size_t k = 0; k < m; ++k) {
    if (report.Cancelled()) {
      if (window) {
        report.Show("Status: Cancelled by User", "");
        window->HoldStatus(2);
      }
      return abort_run(End::Cancelled);
    }
    const auto now = std::chrono::steady_clock::now();
    const bool ui_due = k == 0 || k + 1 == m || now - last_ui >= kUiInterval;
    if (ui_due) last_ui = now;
    if (window && ui_due) {
      window->SetFrameLabel("Frame: " + std::to_string(k + 1) + of_m + NoFrameLabelSuffix(result.no_frame));
      window->SetFrameProgress(static_cast<int>(k), static_cast<int>(m));
      window->Refresh();
    }
    DIB* frame = pipeline.Take(k);
    if (frame == nullptr) {
      pipeline.Release(k);
      result.no_frame.Add(in.stills[k]);
      continue;  // a still that does not decode gives no frame
    }
    result.width = pipeline.MovieWidth();
    result.height = pipeline.MovieHeight();
    // A frame still in planes goes to the writer as it is when the stream takes planes
    // and nothing draws on it; its surface is made only for the preview.
    const FramePlanes* planes = pipeline.Planes(k);
    bool planes_out = false;
    bool written = true;
    if (planes != nullptr) {
      written = writer.Prepare(planes->width, planes->height, in.fps, compression);
      planes_out = written && writer.TakesPlanes() && !deflicker.Enabled() && !stamper;
      const bool surface_needed = !planes_out || (window && ui_due);
      if (written && surface_needed && !pipeline.MakeSurface(k)) {
        pipeline.Release(k);
        result.no_frame.Add(in.stills[k]);
        continue;  // no picture: as a still that does not decode
      }
    }
    if (written && deflicker.Enabled()) {
      deflicker.Apply(frame->DIBPtr(), frame->Width(), frame->Height(), frame->Stride());
    }
    if (written && stamper) {
      // The still's fields first: a '%' that a tag brings in (a path) stays as it is.
      const std::string text = MovieGen::ExpandShellTags(
          FrameStamper::FormatStillTime(in.stamp_text, in.times[k]), in.run_time, in.output_path, span);
      stamper->Draw(frame->DIBPtr(), frame->Width(), frame->Height(), frame->Stride(), text,
                    in.stamp_position, in.stamp_size);
    }
    const FrameView view = frame->View();
    if (written && window && ui_due) window->ShowFrame(view);
    if (written)
      written = planes_out ? writer.WritePlanes(*planes) : writer.WriteFrame(view, in.fps, compression);
    pipeline.Release(k);
    if (!written) {
      // No message box on this path: the log learns why (a full disk, most often), and the
      // main window shows the log at the end of its run.
      report.host.LogLine("the movie could not be written: " + writer.Error());
      return abort_run(End::WriteFailed);
    }
    if (ui_due) report.host.ProcessEvents();
  }
  if (window) window->SetFrameProgress(static_cast<int>(m), static_cast<int>(m));
  if (result.no_frame.Count() > 0) {
    // The counter ends on what was written, not only on what was read.
    if (window) {
      window->SetFrameLabel("Frame: " + std::to_string(m) + of_m + NoFrameLabelSuffix(result.no_frame));
    }
    if (result.no_frame.Count() < m) report.host.LogLine(NoFrameNote(result.no_frame, m));
  }

  // Not one frame: nothing replaces the last movie; the temporary goes with the writer.
  if (report.Stopped()) {
    result.end = End::Stopped;
  } else if (result.no_frame.Count() == m) {
    result.end = End::NothingDecoded;
  } else if (!writer.Finish()) {
    result.end = End::FinishFailed;
    result.error = writer.Error();
  } else {
    result.end = End::Written;
  }
  return result;
}

}  // namespace chronoreel
