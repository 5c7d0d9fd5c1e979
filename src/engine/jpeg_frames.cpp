#include "engine/jpeg_frames.h"

#include <algorithm>
#include <climits>

namespace chronoreel {

bool JpegFrames::Start(int width, int height, int quality) {
  width_ = width;
  height_ = height;
  quality_ = quality;
  compressor_.reset(tjInitCompress());
  if (!compressor_) {
    error_ = "cannot make the JPEG compressor";
    return false;
  }
  // The worst case of a frame, so that TurboJPEG never has to grow the buffer.
  capacity_ = tjBufSize(width, height, TJSAMP_420);
  if (capacity_ == static_cast<unsigned long>(-1)) {
    error_ = "frame too large";
    return false;
  }
  buffer_.reset(tjAlloc(static_cast<int>(std::min<unsigned long>(capacity_, INT32_MAX))));
  if (!buffer_ || capacity_ > INT32_MAX) {
    error_ = "out of memory";
    return false;
  }
  return true;
}

std::span<const uint8_t> JpegFrames::Compressed(int rc, unsigned long size) {
  if (rc == 0) return {buffer_.get(), size};
  error_ = tjGetErrorStr2(compressor_.get());
  return {};
}

std::span<const uint8_t> JpegFrames::Compress(const FrameView& frame) {
  unsigned char* out = buffer_.get();
  unsigned long size = capacity_;
  const int rc = tjCompress2(compressor_.get(), frame.pixels, width_, frame.stride, height_,
                             TJPF_BGR, &out, &size, TJSAMP_420, quality_,
                             TJFLAG_BOTTOMUP | TJFLAG_NOREALLOC);
  return Compressed(rc, size);
}

std::span<const uint8_t> JpegFrames::Compress(const FramePlanes& planes) {
  const uint8_t* in[3] = {planes.Plane(0), planes.Plane(1), planes.Plane(2)};
  unsigned char* out = buffer_.get();
  unsigned long size = capacity_;
  const int rc = tjCompressFromYUVPlanes(compressor_.get(), in, width_, planes.strides, height_,
                                         TJSAMP_420, &out, &size, quality_, TJFLAG_NOREALLOC);
  return Compressed(rc, size);
}

}  // namespace chronoreel
