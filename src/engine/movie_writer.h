#pragma once
// The movie file: one video stream through libavformat, compressed as the encoder plan
// (PlanEncoder) says. The container follows the output path's ending (ContainerForPath):
// AVI unless it names MP4, MOV, Matroska or WebM. The file replaces the output only once it
// is finished (index and trailer written, OutputReplacement), on a normal end and on an
// abort alike.
#include <cstdint>
#include <memory>
#include <string>

#include "engine/encoder_plan.h"
#include "engine/frame_composer.h"

namespace chronoreel {

class MovieWriter {
 public:
  MovieWriter();
  ~MovieWriter();  // removes an unfinished temporary file
  MovieWriter(const MovieWriter&) = delete;
  MovieWriter& operator=(const MovieWriter&) = delete;

  // Tells that the caller holds the output's lock (OutputLock), before Open: the temporary
  // files that dead runs of this output left are then removed at once, not after a minute.
  void SetOutputLocked(bool locked);

  // Opens the temporary file beside output_path (beside the file it leads to, when it is a
  // symbolic link: the link stays, its target is replaced). False on failure, with the reason in
  // Error(); an output that exists and may not be replaced fails here too, and so does a
  // `compression` for which the container holds neither its encoder nor the container's
  // default (DefaultEncoderForContainer).
  bool Open(const std::string& output_path, const EncoderChoice* compression = nullptr);

  // Creates the stream (the first call), then writes one key frame of 24-bit bottom-up BGR.
  // False: the stream could not be created or the frame not written (the run aborts).
  bool WriteFrame(const FrameView& frame, int32_t fps, const EncoderChoice& compression);

  // Makes the stream for frames of this size now rather than with the first frame. False:
  // it could not be made (as WriteFrame).
  bool Prepare(int32_t width, int32_t height, int32_t fps, const EncoderChoice& compression);

  // After Prepare: whether WritePlanes takes the frames (the plan's takes_planes for the
  // stream's size).
  bool TakesPlanes() const;

  // Writes one key frame given as planes of the stream's size. Only when TakesPlanes().
  bool WritePlanes(const FramePlanes& planes);

  // Finishes the file and renames it over the output path. False when that failed; the
  // temporary file is then removed and an earlier movie stays. Without any frame the
  // movie is an AVI file with no stream (it replaces the output; other containers cannot
  // be written empty and fail); after a failed stream creation nothing replaces it and the
  // result is false.
  bool Finish();

  int32_t FramesWritten() const;
  const std::string& Error() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace chronoreel
