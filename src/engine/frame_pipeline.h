#pragma once
// Composes the frames of a run ahead of the caller on worker threads, so that reading and
// decoding the next stills overlaps the encoding of the current frame. Frames come back
// strictly in writing order and each one is exactly what FrameComposer makes of its still
// on its own, including the movie size fixed by the first still whose header reads.
// Everything the user sees (labels, preview, cancel checks) stays with the caller.
#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "bitmap/dib.h"
#include "engine/frame_composer.h"

namespace chronoreel {

class FramePipeline {
 public:
  // `stills` in writing order; they must outlive the pipeline. movie_width 0: the size
  // comes from the first still (as FrameComposer::Compose). `workers` threads compose;
  // 0 composes on the calling thread inside Take.
  FramePipeline(std::span<const std::string> stills, int32_t movie_width, int32_t movie_height,
                int workers, const ComposeTuning& tuning = {});
  ~FramePipeline();  // stops the workers; a frame being composed is finished, then dropped
  FramePipeline(const FramePipeline&) = delete;
  FramePipeline& operator=(const FramePipeline&) = delete;

  // Before Start: stills stretched through 4:2:0 planes stop there (for a writer that takes
  // planes), and their surfaces are made only on request (MakeSurface).
  void KeepPlanes(bool keep);
  // Before Start: a size taken from a still gets an even height (FrameComposer::SetEvenHeight).
  void EvenHeight(bool even);

  // Makes every decoder and starts the workers. False when a decoder cannot be made.
  bool Start();

  // Frame k (taken in order 0, 1, 2, ... with a Release between): waits for it and
  // returns its surface, or nullptr when that still gives no frame. The surface stays
  // the caller's, to read and change, until Release.
  DIB* Take(size_t k);
  void Release(size_t k);

  // After Take(k): frame k's planes when the still stopped at them, else nullptr.
  const FramePlanes* Planes(size_t k);
  // Makes frame k's surface from its planes (once is enough), on the calling thread. False
  // when it cannot.
  bool MakeSurface(size_t k);

  // The movie size as fixed so far (0 x 0 until a still fixed it).
  int32_t MovieWidth() const;
  int32_t MovieHeight() const;

  // Worker threads a run uses on this machine: one fewer than the cores, at least one.
  static int DefaultWorkers();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace chronoreel
