#include "engine/hardware_frames.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/error.h>
#include <libavutil/hwcontext.h>
}

namespace chronoreel {

namespace {

std::string AvError(int code) {
  char buffer[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(code, buffer, sizeof buffer);
  return buffer;
}

AVHWDeviceType DeviceTypeOf(HardwareFamily family) {
  switch (family) {
    case HardwareFamily::Vaapi: return AV_HWDEVICE_TYPE_VAAPI;
    case HardwareFamily::Nvenc: return AV_HWDEVICE_TYPE_CUDA;
    case HardwareFamily::Qsv: return AV_HWDEVICE_TYPE_QSV;
    default: return AV_HWDEVICE_TYPE_NONE;
  }
}

// Frames the encoder may hold at once (look-ahead, reordering) and one being filled.
constexpr int kDeviceFrames = 20;

}  // namespace

std::string HardwareFrames::Attach(AVCodecContext* ctx, HardwareFamily family,
                                   AVPixelFormat picture_format) {
  const AVHWDeviceType type = DeviceTypeOf(family);
  if (type == AV_HWDEVICE_TYPE_NONE) return {};
  // The system's default device: the first DRM render node for VAAPI, CUDA device 0.
  AVBufferRef* device = nullptr;
  if (av_hwdevice_ctx_create(&device, type, nullptr, nullptr, 0) < 0 || device == nullptr)
    return "no " + HardwareFamilyName(family) + " device";
  device_.reset(device);

  if (family != HardwareFamily::Vaapi) {
    ctx->hw_device_ctx = av_buffer_ref(device_.get());
    return ctx->hw_device_ctx ? std::string() : "out of memory";
  }
  frames_.reset(av_hwframe_ctx_alloc(device_.get()));
  if (!frames_) return "out of memory";
  auto* frames = reinterpret_cast<AVHWFramesContext*>(frames_->data);
  frames->format = AV_PIX_FMT_VAAPI;
  frames->sw_format = picture_format;
  frames->width = ctx->width;
  frames->height = ctx->height;
  frames->initial_pool_size = kDeviceFrames;
  if (const int rc = av_hwframe_ctx_init(frames_.get()); rc < 0)
    return "the VAAPI device takes no " + std::to_string(ctx->width) + "x" +
           std::to_string(ctx->height) + " frames: " + AvError(rc);
  ctx->hw_frames_ctx = av_buffer_ref(frames_.get());
  if (!ctx->hw_frames_ctx) return "out of memory";
  ctx->pix_fmt = AV_PIX_FMT_VAAPI;
  return {};
}

AVFrame* HardwareFrames::FrameFor(AVFrame* picture, std::string* error) {
  if (!frames_) return picture;
  if (!upload_) upload_.reset(av_frame_alloc());
  if (!upload_) {
    *error = "out of memory";
    return nullptr;
  }
  // The encoder keeps its own reference to the frame it was sent; ours goes back here.
  av_frame_unref(upload_.get());
  int rc = av_hwframe_get_buffer(frames_.get(), upload_.get(), 0);
  if (rc >= 0) rc = av_hwframe_transfer_data(upload_.get(), picture, 0);
  if (rc >= 0) rc = av_frame_copy_props(upload_.get(), picture);
  if (rc < 0) {
    *error = "cannot copy the frame to the VAAPI device: " + AvError(rc);
    return nullptr;
  }
  return upload_.get();
}

}  // namespace chronoreel
