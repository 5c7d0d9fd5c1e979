#pragma once
// The device side of a hardware encoder: the device it encodes on and, for VAAPI, the
// frames on that device that each software picture is copied into. NVENC and Quick Sync
// take the software frames themselves (given the device), V4L2 memory-to-memory finds its
// device alone. Everything is released with the owner, on every path.
#include <memory>
#include <string>

#include "engine/hardware_encoders.h"

extern "C" {
#include <libavutil/buffer.h>
#include <libavutil/frame.h>
}

struct AVCodecContext;

namespace chronoreel {

struct AvBufferDeleter {
  void operator()(AVBufferRef* ref) const { av_buffer_unref(&ref); }
};
using AvBuffer = std::unique_ptr<AVBufferRef, AvBufferDeleter>;

struct AvFrameDeleter {
  void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
using AvFrame = std::unique_ptr<AVFrame, AvFrameDeleter>;

class HardwareFrames {
 public:
  // Before avcodec_open2, with ctx's size set: opens the family's device and hands it to
  // ctx. VAAPI also gets a pool of device frames of ctx's size holding `picture_format`,
  // and ctx->pix_fmt becomes AV_PIX_FMT_VAAPI. "" on success, else why not
  // ("no VAAPI device").
  std::string Attach(AVCodecContext* ctx, HardwareFamily family, AVPixelFormat picture_format);

  // The frame to send the encoder for the filled-in software picture: the picture itself,
  // or (VAAPI) a device frame holding a copy of it, with its timestamp and picture type.
  // nullptr on failure, with the reason in *error. The device frame stays valid until the
  // next call.
  AVFrame* FrameFor(AVFrame* picture, std::string* error);

 private:
  AvBuffer device_;
  AvBuffer frames_;  // VAAPI only
  AvFrame upload_;
};

}  // namespace chronoreel
