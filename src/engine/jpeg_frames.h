#pragma once
// MJPEG frames by TurboJPEG, about three times as fast as libavcodec's encoder: 4:2:0
// pictures of bottom-up BGR frames or of 4:2:0 planes, into one buffer sized for the worst
// case, so that nothing is allocated per frame.
#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include <turbojpeg.h>

#include "engine/frame_composer.h"
#include "engine/media_owners.h"

namespace chronoreel {

class JpegFrames {
 public:
  // False with the reason in Error() when the compressor or its buffer cannot be made.
  bool Start(int width, int height, int quality);

  // The compressed frame, valid until the next call; empty with the reason in Error().
  std::span<const uint8_t> Compress(const FrameView& frame);
  std::span<const uint8_t> Compress(const FramePlanes& planes);

  const std::string& Error() const { return error_; }

 private:
  std::span<const uint8_t> Compressed(int rc, unsigned long size);

  TjHandle compressor_;
  std::unique_ptr<unsigned char, void (*)(unsigned char*)> buffer_{nullptr, tjFree};
  unsigned long capacity_ = 0;
  int width_ = 0, height_ = 0, quality_ = 0;
  std::string error_;
};

}  // namespace chronoreel
