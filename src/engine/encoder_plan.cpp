#include "engine/encoder_plan.h"

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "engine/container.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

namespace chronoreel {

namespace {

bool IsMp4Family(const std::string& muxer) { return muxer == "mp4" || muxer == "mov"; }

// Lossy encoders get their own first choice (what players expect); lossless ones the
// format that keeps the most of 24-bit BGR.
AVPixelFormat ChoosePixelFormat(const AVCodec* codec, int width, int height) {
  const AVPixelFormat* formats = EncoderPixelFormats(codec);
  if (!formats) return AV_PIX_FMT_BGR24;
  std::vector<AVPixelFormat> usable;
  for (const AVPixelFormat* f = formats; *f != AV_PIX_FMT_NONE; ++f)
    if (sws_isSupportedOutput(*f)) usable.push_back(*f);
  if (usable.empty()) return AV_PIX_FMT_NONE;
  usable.push_back(AV_PIX_FMT_NONE);
  const AVPixelFormat best =
      avcodec_find_best_pix_fmt_of_list(usable.data(), AV_PIX_FMT_BGR24, 0, nullptr);
  const AVCodecDescriptor* desc = avcodec_descriptor_get(codec->id);
  const bool lossless_only = desc && (desc->props & AV_CODEC_PROP_LOSSLESS) &&
                             !(desc->props & AV_CODEC_PROP_LOSSY);
  if (lossless_only) return best;
  const AVPixFmtDescriptor* first = av_pix_fmt_desc_get(usable.front());
  // Subsampled chroma needs even sizes in several encoders (libx264 refuses odd ones).
  const bool odd = (width % 2 != 0 && first->log2_chroma_w > 0) ||
                   (height % 2 != 0 && first->log2_chroma_h > 0);
  return odd ? best : usable.front();
}

bool TakesFormat(const AVCodec* codec, AVPixelFormat format) {
  for (const AVPixelFormat* f = EncoderPixelFormats(codec); f && *f != AV_PIX_FMT_NONE; ++f)
    if (*f == format) return true;
  return false;
}

// x264 and x265 hold a frame's planes and its lookahead copies for every frame of their
// lookahead (40 and 20 by default) and frame threads: at 1920x1080 some 450 MB with their
// own defaults. A ten-frame lookahead and, for x264, a thread per core (not 1.5) halve
// that; the cost in size and SSIM is in bench/README.md ("Encoder memory"). Each setting
// applies only where the user's options do not mention it, and the user's own
// x264-params / x265-params come after ours, so theirs win.
struct EncoderDefault {
  const char* key;  // in x264-params / x265-params
  std::string value;
  const char* own_option;  // the same setting as an option of its own, or nullptr
};

void AddMemoryDefaults(const AVCodec* codec, OptionList& options) {
  const std::string name = codec->name;
  const bool x264 = name == "libx264";
  if (!x264 && name != "libx265") return;
  const std::string cores = std::to_string(std::max(1u, std::thread::hardware_concurrency()));
  const std::vector<EncoderDefault> defaults =
      x264 ? std::vector<EncoderDefault>{{"rc-lookahead", "10", "rc-lookahead"},
                                         {"threads", cores, "threads"}}
           : std::vector<EncoderDefault>{{"rc-lookahead", "10", nullptr}};
  const std::string block = x264 ? "x264-params" : "x265-params";
  auto asked = std::find_if(options.begin(), options.end(),
                            [&](const auto& kv) { return kv.first == block; });
  const std::string theirs = asked != options.end() ? asked->second : "";
  auto mentioned = [&](const EncoderDefault& d) {
    for (const auto& kv : options)
      if (d.own_option && kv.first == d.own_option) return true;
    // key=value pairs separated by ':'
    const std::string key = d.key;
    for (size_t at = theirs.find(key); at != std::string::npos; at = theirs.find(key, at + 1)) {
      const size_t end = at + key.size();
      if ((at == 0 || theirs[at - 1] == ':') && (end == theirs.size() || theirs[end] == '=' || theirs[end] == ':'))
        return true;
    }
    return false;
  };
  std::string ours;
  for (const EncoderDefault& d : defaults)
    if (!mentioned(d)) ours += (ours.empty() ? "" : ":") + std::string(d.key) + "=" + d.value;
  if (ours.empty()) return;
  const std::string merged = theirs.empty() ? ours : ours + ":" + theirs;
  if (asked != options.end()) asked->second = merged;
  else options.emplace_back(block, merged);
}

}  // namespace

EncoderPlan PlanEncoder(const EncoderChoice& choice, const std::string& muxer, int width,
                        int height) {
  EncoderPlan plan;
  const AviCompressOptions& record = choice.record;
  plan.coded_height = height;
  if (IsUncompressedFourcc(record.fccHandler)) {
    plan.encoder = "rawvideo";
    if (IsAviContainer(muxer)) return plan;  // the DIB rows as they are
  }

  OptionList parms = ParseParameterBlock(choice.parms);
  if (plan.encoder.empty()) {
    std::string preferred;
    for (const auto& [key, value] : parms)
      if (key == "encoder") preferred = value;
    plan.encoder = EncoderNameForFourcc(record.fccHandler, preferred);
  }
  if (plan.encoder.empty()) {
    plan.error = "no encoder for FOURCC '" + FourccToText(record.fccHandler) + "'";
    return plan;
  }
  plan.codec = avcodec_find_encoder_by_name(plan.encoder.c_str());
  if (!plan.codec) {
    plan.error = "no encoder " + plan.encoder;
    return plan;
  }
  std::erase_if(parms, [](const auto& kv) { return kv.first == "encoder"; });
  plan.options = std::move(parms);

  const bool rate_set = (record.dwFlags & kAviCompressDataRate) && record.dwBytesPerSecond > 0;
  const int32_t qscale = QscaleForQuality(record.dwQuality);
  // MJPEG at a plain quality goes through TurboJPEG; a data rate or encoder options need
  // libavcodec's encoder, which knows them.
  if (plan.codec->id == AV_CODEC_ID_MJPEG && !rate_set && plan.options.empty() && qscale > 0) {
    plan.path = FramePath::TurboJpeg;
    plan.jpeg_quality = JpegQualityForQscale(qscale);
    plan.takes_planes = true;
    return plan;
  }

  plan.path = FramePath::Encoder;
  plan.pixel_format = ChoosePixelFormat(plan.codec, width, height);
  if (IsMp4Family(muxer) && plan.codec->id == AV_CODEC_ID_H264 && width % 2 == 0 &&
      TakesFormat(plan.codec, AV_PIX_FMT_YUV420P)) {
    // What every player and browser decodes; 4:2:0 needs an even height (movie widths
    // are multiples of 4 already).
    plan.pixel_format = AV_PIX_FMT_YUV420P;
    plan.coded_height = height + (height % 2);
  }
  if (plan.pixel_format == AV_PIX_FMT_NONE) {
    plan.error = plan.encoder + " takes no convertible format";
    return plan;
  }
  // A data rate is a target the encoder must meet; a fixed quality would override it, so
  // the quality applies only without one.
  if (rate_set) {
    plan.bit_rate = static_cast<int64_t>(record.dwBytesPerSecond) * 8;
  } else if (const QualityScale scale = QualityScaleOf(plan.encoder); scale == QualityScale::QScale) {
    plan.qscale = qscale;
  } else if (scale == QualityScale::Crf) {
    plan.crf = CrfForQuality(record.dwQuality);
  }
  if (!IsAviContainer(muxer)) {
    const bool stored = (record.dwFlags & kAviCompressKeyFrames) && record.dwKeyFrameEvery > 0;
    plan.key_frame_every = stored ? record.dwKeyFrameEvery : 0;
  }
  AddMemoryDefaults(plan.codec, plan.options);
  // Every frame a key frame: x264 is told in its own terms, after what the user asked of it.
  const AVClass* options = plan.codec->priv_class;
  if (plan.key_frame_every == 1 && options &&
      av_opt_find(&options, "x264-params", nullptr, 0, AV_OPT_SEARCH_FAKE_OBJ)) {
    const std::string key_frames = "keyint=1:min-keyint=1:scenecut=0:bframes=0";
    std::string asked;
    for (const auto& [key, value] : plan.options)
      if (key == "x264-params") asked = value;
    plan.options.emplace_back("x264-params", asked.empty() ? key_frames : asked + ":" + key_frames);
  }
  plan.takes_planes = plan.pixel_format == AV_PIX_FMT_YUV420P && plan.coded_height == height;
  return plan;
}

}  // namespace chronoreel
