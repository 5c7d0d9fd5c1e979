#include "engine/hardware_encoders.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdlib>
#include <map>
#include <memory>

#include "engine/container.h"
#include "engine/hardware_frames.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/log.h>
}

namespace chronoreel {

namespace {

constexpr const char* kSwitchOff = "CHRONOREEL_NO_HARDWARE_ENCODERS";

bool SwitchedOff() {
  const char* value = std::getenv(kSwitchOff);
  return value != nullptr && *value != '\0' && std::string(value) != "0";
}

bool EndsWith(const std::string& name, const std::string& suffix) {
  return name.size() > suffix.size() &&
         name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// FFmpeg's messages of the probing thread are dropped: a machine without the device is
// the common case and no news. Other threads' messages go on as before (nothing here sets
// a callback of its own, so the default one is put back).
thread_local bool t_probing = false;

void QuietWhileProbing(void* avcl, int level, const char* fmt, va_list args) {
  if (!t_probing) av_log_default_callback(avcl, level, fmt, args);
}

class QuietProbe {
 public:
  QuietProbe() {
    t_probing = true;
    av_log_set_callback(&QuietWhileProbing);
  }
  ~QuietProbe() {
    av_log_set_callback(&av_log_default_callback);
    t_probing = false;
  }
  QuietProbe(const QuietProbe&) = delete;
  QuietProbe& operator=(const QuietProbe&) = delete;
};

struct CodecContextDeleter {
  void operator()(AVCodecContext* ctx) const { avcodec_free_context(&ctx); }
};

struct Probed {
  std::string name;
  std::string reason;  // "" when it opened
};

// Opens the encoder on a small picture the way a run would: why it cannot be used, or ""
// when it opened. *device_missing when the family's device did not open, so that its
// other encoders are not tried.
std::string TryEncoder(const AVCodec* codec, HardwareFamily family, bool* device_missing) {
  HardwareFrames hardware;  // released after the context that refers to it
  std::unique_ptr<AVCodecContext, CodecContextDeleter> ctx(avcodec_alloc_context3(codec));
  if (!ctx) return "out of memory";
  ctx->width = 256;
  ctx->height = 144;
  ctx->pix_fmt = HardwarePictureFormat(codec->name);
  ctx->time_base = AVRational{1, 25};
  ctx->framerate = AVRational{25, 1};
  ctx->sample_aspect_ratio = AVRational{1, 1};
  if (std::string why = hardware.Attach(ctx.get(), family, ctx->pix_fmt); !why.empty()) {
    *device_missing = true;
    return why;
  }
  if (avcodec_open2(ctx.get(), codec, nullptr) < 0) {
    if (family == HardwareFamily::V4l2m2m) return "no V4L2 memory-to-memory device encodes it";
    return "the " + HardwareFamilyName(family) + " device cannot encode it";
  }
  return {};
}

std::vector<Probed> ProbeAll() {
  QuietProbe quiet;
  std::vector<Probed> result;
  std::map<HardwareFamily, std::string> missing;  // the families whose device did not open
  void* it = nullptr;
  while (const AVCodec* codec = av_codec_iterate(&it)) {
    if (!av_codec_is_encoder(codec) || codec->type != AVMEDIA_TYPE_VIDEO) continue;
    const HardwareFamily family = HardwareFamilyOf(codec->name);
    if (family == HardwareFamily::None) continue;
    if (const auto m = missing.find(family); m != missing.end()) {
      result.push_back({codec->name, m->second});
      continue;
    }
    bool device_missing = false;
    std::string reason = TryEncoder(codec, family, &device_missing);
    if (device_missing) missing[family] = reason;
    result.push_back({codec->name, std::move(reason)});
  }
  return result;
}

const std::vector<Probed>& ProbedEncoders() {
  static const std::vector<Probed> probed = ProbeAll();
  return probed;
}

// Short names for people; FFmpeg's own long names run on ("H.264 / AVC / MPEG-4 AVC / ...").
std::string CodecLabel(AVCodecID id) {
  switch (id) {
    case AV_CODEC_ID_H264: return "H.264";
    case AV_CODEC_ID_HEVC: return "H.265 / HEVC";
    case AV_CODEC_ID_VP8: return "VP8";
    case AV_CODEC_ID_VP9: return "VP9";
    case AV_CODEC_ID_AV1: return "AV1";
    case AV_CODEC_ID_MJPEG: return "Motion JPEG";
    case AV_CODEC_ID_MPEG2VIDEO: return "MPEG-2";
    case AV_CODEC_ID_MPEG4: return "MPEG-4 part 2";
    case AV_CODEC_ID_H263: return "H.263";
    default: return avcodec_get_name(id);
  }
}

}  // namespace

HardwareFamily HardwareFamilyOf(const std::string& encoder_name) {
  if (EndsWith(encoder_name, "_vaapi")) return HardwareFamily::Vaapi;
  if (EndsWith(encoder_name, "_nvenc")) return HardwareFamily::Nvenc;
  if (EndsWith(encoder_name, "_qsv")) return HardwareFamily::Qsv;
  if (EndsWith(encoder_name, "_v4l2m2m")) return HardwareFamily::V4l2m2m;
  return HardwareFamily::None;
}

bool IsHardwareEncoderName(const std::string& encoder_name) {
  return HardwareFamilyOf(encoder_name) != HardwareFamily::None;
}

std::string HardwareFamilyName(HardwareFamily family) {
  switch (family) {
    case HardwareFamily::Vaapi: return "VAAPI";
    case HardwareFamily::Nvenc: return "NVENC";
    case HardwareFamily::Qsv: return "Quick Sync";
    case HardwareFamily::V4l2m2m: return "V4L2 memory-to-memory";
    default: return {};
  }
}

std::vector<std::string> AvailableHardwareEncoders() {
  std::vector<std::string> names;
  if (SwitchedOff()) return names;
  for (const Probed& p : ProbedEncoders())
    if (p.reason.empty()) names.push_back(p.name);
  return names;
}

bool IsHardwareEncoderAvailable(const std::string& encoder_name) {
  return IsHardwareEncoderName(encoder_name) && HardwareUnavailableReason(encoder_name).empty();
}

std::string HardwareUnavailableReason(const std::string& encoder_name) {
  if (!IsHardwareEncoderName(encoder_name)) return {};
  if (!avcodec_find_encoder_by_name(encoder_name.c_str())) return "not in this FFmpeg";
  if (SwitchedOff()) return std::string("switched off by ") + kSwitchOff;
  for (const Probed& p : ProbedEncoders())
    if (p.name == encoder_name) return p.reason;
  return "not in this FFmpeg";
}

std::string SoftwareEncoderFor(const std::string& hardware_name) {
  const AVCodec* codec = avcodec_find_encoder_by_name(hardware_name.c_str());
  if (!codec) return {};
  // The code's own encoder is the software one (hardware encoders are never the default).
  const int32_t code = static_cast<int32_t>(CodeFor(codec->id));
  return code == 0 ? std::string() : EncoderNameForFourcc(code);
}

std::vector<EncoderInfo> ListHardwareEncoders(const std::string& muxer) {
  std::vector<EncoderInfo> list;
  const AVOutputFormat* avi = av_guess_format("avi", nullptr, nullptr);
  for (const std::string& name : AvailableHardwareEncoders()) {
    const AVCodec* codec = avcodec_find_encoder_by_name(name.c_str());
    const int32_t code = codec ? static_cast<int32_t>(CodeFor(codec->id)) : 0;
    if (code == 0) continue;
    const bool fits = IsAviContainer(muxer)
                          ? avi && avformat_query_codec(avi, codec->id, FF_COMPLIANCE_NORMAL) == 1
                          : EncoderFitsContainer(name, muxer);
    if (!fits) continue;
    EncoderInfo info;
    info.fourcc = code;
    info.fourcc_text = FourccToText(info.fourcc);
    info.name = name;
    info.long_name = CodecLabel(codec->id) + " (" + HardwareFamilyName(HardwareFamilyOf(name)) + " hardware)";
    info.supports_quality = !HardwareQualityOf(name).option.empty();
    list.push_back(std::move(info));
  }
  return list;
}

AVPixelFormat HardwarePictureFormat(const std::string& encoder_name) {
  switch (HardwareFamilyOf(encoder_name)) {
    case HardwareFamily::Vaapi:
    case HardwareFamily::Qsv: return AV_PIX_FMT_NV12;  // what every such device holds
    case HardwareFamily::Nvenc:
    case HardwareFamily::V4l2m2m: return AV_PIX_FMT_YUV420P;
    default: return AV_PIX_FMT_NONE;
  }
}

HardwareQuality HardwareQualityOf(const std::string& encoder_name) {
  const HardwareFamily family = HardwareFamilyOf(encoder_name);
  const AVCodec* codec = avcodec_find_encoder_by_name(encoder_name.c_str());
  if (!codec || family == HardwareFamily::None || family == HardwareFamily::V4l2m2m) return {};
  // NVENC's target quality in its variable-rate mode; 0 would mean "automatic".
  if (family == HardwareFamily::Nvenc) return {"cq", 51, 1};
  // JPEG takes its quality percentage; the rest a quantiser (VAAPI's CQP) or Quick Sync's
  // ICQ factor, both 51 (worst) .. 1 for H.264 and HEVC.
  if (codec->id == AV_CODEC_ID_MJPEG) return {"global_quality", 1, 100};
  if (family == HardwareFamily::Qsv) return {"global_quality", 51, 1};
  switch (codec->id) {
    case AV_CODEC_ID_MPEG2VIDEO: return {"global_quality", 31, 1};
    case AV_CODEC_ID_VP8: return {"global_quality", 127, 1};
    case AV_CODEC_ID_VP9:
    case AV_CODEC_ID_AV1: return {"global_quality", 255, 1};
    default: return {"global_quality", 51, 1};
  }
}

int32_t HardwareQualityValue(const HardwareQuality& scale, int32_t quality) {
  if (scale.option.empty() || quality <= 0) return -1;
  const int32_t q = std::min(quality, 10000);
  const int32_t span = scale.best - scale.worst;
  const auto moved = static_cast<int32_t>(std::lround((q - 1) * std::abs(span) / 9999.0));
  return scale.worst + (span < 0 ? -moved : moved);
}

}  // namespace chronoreel
