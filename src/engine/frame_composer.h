#pragma once
// Frame composition: reads a still, decodes it with TurboJPEG into the frame surface (same
// size) or the decode surface followed by a libswscale stretch to the movie size.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "bitmap/dib.h"

namespace chronoreel {

class FrameComposer {
 public:
  FrameComposer();
  ~FrameComposer();
  FrameComposer(const FrameComposer&) = delete;
  FrameComposer& operator=(const FrameComposer&) = delete;

  // Makes the decoder (once per run). False when it cannot be made.
  bool Init();

  // Composes the still at `path` into `frame`. When movie_width is 0 (size from the first
  // image) the still fixes movie_width (rounded up to a multiple of 4) and movie_height.
  // False: the still gives no frame (unreadable, not a JPEG, undecodable, too large).
  bool Compose(const std::string& path, int32_t& movie_width, int32_t& movie_height, DIB& frame,
               DIB& decode);

  // The same from bytes already in memory.
  bool ComposeBytes(const uint8_t* data, size_t size, int32_t& movie_width, int32_t& movie_height,
                    DIB& frame, DIB& decode);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// w rounded up to a multiple of 4: if w mod 4 != 0, (trunc(w / 4) + 1) * 4.
int32_t RoundUpToMultipleOf4(int32_t w);

}  // namespace chronoreel
