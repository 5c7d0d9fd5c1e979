#include "engine/encoder_plan.h"

#include <algorithm>
#include <string>
#include <vector>

#include "engine/container.h"
#include "engine/hardware_encoders.h"

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
AVPixelFormat ChoosePixelFormat(const AVCodec* codec, int width) {
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
  // Subsampled chroma needs an even width in several encoders (libx264 refuses odd ones);
  // an odd height is stretched to even instead (HalvesRows). Movie widths are multiples
  // of 4, so only a writer given other frames gets here.
  const bool odd = width % 2 != 0 && av_pix_fmt_desc_get(usable.front())->log2_chroma_w > 0;
  return odd ? best : usable.front();
}

// 4:2:0: one chroma row for two picture rows, which an odd height leaves half filled.
bool HalvesRows(AVPixelFormat format) {
  const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(format);
  return desc && desc->log2_chroma_h > 0;
}

// How the note names an encoder the run puts in.
std::string EncoderTitle(const std::string& encoder) {
  if (encoder == "libx264") return "H.264 (libx264)";
  if (encoder == "libvpx-vp9") return "VP9 (libvpx-vp9)";
  return encoder;
}

bool TakesFormat(const AVCodec* codec, AVPixelFormat format) {
  for (const AVPixelFormat* f = EncoderPixelFormats(codec); f && *f != AV_PIX_FMT_NONE; ++f)
    if (*f == format) return true;
  return false;
}

}  // namespace

EncoderPlan PlanEncoder(const EncoderChoice& choice, const std::string& muxer, int width,
                        int height) {
  EncoderPlan plan;
  AviCompressOptions record = choice.record;
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
    // A hardware encoder without its device: the software one of the same code, never a
    // failed run; the run says so.
    if (IsHardwareEncoderName(preferred) && !plan.encoder.empty() && plan.encoder != preferred) {
      std::string why = HardwareUnavailableReason(preferred);
      if (why.empty()) why = "it does not write '" + FourccToText(record.fccHandler) + "'";
      plan.note = preferred + " cannot be used here (" + why + "): " + plan.encoder + " is used instead";
    }
  }
  if (plan.encoder.empty()) {
    plan.error = "no encoder for FOURCC '" + FourccToText(record.fccHandler) + "'";
    return plan;
  }
  if (!IsAviContainer(muxer) && !EncoderFitsContainer(plan.encoder, muxer)) {
    // A setup made for AVI (after "New": uncompressed) still makes a movie in the newer
    // containers: with the encoder players expect there, at its default quality, as the
    // stored quality, rate and options belong to another encoder. The record stays as it is.
    const std::string refused = "the " + muxer + " container cannot hold " + plan.encoder;
    const std::string fallback = DefaultEncoderForContainer(muxer);
    if (fallback.empty() || !EncoderFitsContainer(fallback, muxer)) {
      plan.error = refused;
      return plan;
    }
    plan.note = refused + ": " + EncoderTitle(fallback) + " is used instead";
    plan.encoder = fallback;
    parms.clear();
    record.dwQuality = 0;
    record.dwFlags &= ~kAviCompressDataRate;
  }
  plan.codec = avcodec_find_encoder_by_name(plan.encoder.c_str());
  if (!plan.codec) {
    plan.error = "no encoder " + plan.encoder;
    return plan;
  }
  std::erase_if(parms, [](const auto& kv) { return kv.first == "encoder"; });
  plan.options = std::move(parms);

  const bool rate_set = (record.dwFlags & kAviCompressDataRate) && record.dwBytesPerSecond > 0;
  const int32_t quality = EffectiveQuality(plan.encoder, record.dwQuality);
  const int32_t qscale = QscaleForQuality(quality);
  // MJPEG at a plain quality goes through TurboJPEG; a data rate or encoder options need
  // libavcodec's encoder, which knows them.
  const bool hardware = IsHardwareEncoderName(plan.encoder);
  if (plan.codec->id == AV_CODEC_ID_MJPEG && !hardware && !rate_set && plan.options.empty() &&
      qscale > 0) {
    plan.path = FramePath::TurboJpeg;
    plan.jpeg_quality = JpegQualityForQscale(qscale);
    plan.takes_planes = true;
    return plan;
  }

  plan.path = FramePath::Encoder;
  plan.pixel_format = ChoosePixelFormat(plan.codec, width);
  if (hardware) {
    // Each takes 4:2:0 frames in software memory (uploaded to the device for VAAPI).
    plan.pixel_format = HardwarePictureFormat(plan.encoder);
  } else if (IsMp4Family(muxer) && plan.codec->id == AV_CODEC_ID_H264 && width % 2 == 0 &&
      TakesFormat(plan.codec, AV_PIX_FMT_YUV420P)) {
    // What every player and browser decodes.
    plan.pixel_format = AV_PIX_FMT_YUV420P;
  }
  if (plan.pixel_format == AV_PIX_FMT_NONE) {
    plan.error = plan.encoder + " takes no convertible format";
    return plan;
  }
  plan.even_height = HalvesRows(plan.pixel_format);
  if (plan.even_height) plan.coded_height = height + height % 2;
  // A data rate is a target the encoder must meet; a fixed quality would override it, so
  // the quality applies only without one.
  if (rate_set) {
    plan.bit_rate = static_cast<int64_t>(record.dwBytesPerSecond) * 8;
  } else if (hardware) {
    // The encoder's constant quality, unless a parameter line sets it itself.
    const HardwareQuality scale = HardwareQualityOf(plan.encoder);
    if (const int32_t value = HardwareQualityValue(scale, record.dwQuality); value > 0)
      plan.options.insert(plan.options.begin(), {scale.option, std::to_string(value)});
  } else if (const QualityScale scale = QualityScaleOf(plan.encoder); scale == QualityScale::QScale) {
    plan.qscale = qscale;
  } else if (scale == QualityScale::Crf) {
    plan.crf = CrfForQuality(quality);
    // libsvtav1 reads crf 0 as "unset" and takes its own default, 35: the best end is 1.
    if (plan.crf == 0 && plan.encoder == "libsvtav1") plan.crf = 1;
  }
  if (!IsAviContainer(muxer)) {
    const bool stored = (record.dwFlags & kAviCompressKeyFrames) && record.dwKeyFrameEvery > 0;
    plan.key_frame_every = stored ? record.dwKeyFrameEvery : 0;
  }
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
  // libx265 writes its banner and notes to the standard error itself, past av_log; what
  // the user asks of it comes after and wins.
  if (options && av_opt_find(&options, "x265-params", nullptr, 0, AV_OPT_SEARCH_FAKE_OBJ)) {
    std::string asked;
    for (const auto& [key, value] : plan.options)
      if (key == "x265-params") asked = value;
    plan.options.emplace_back("x265-params", asked.empty() ? "log-level=error" : "log-level=error:" + asked);
  }
  plan.takes_planes = plan.pixel_format == AV_PIX_FMT_YUV420P && plan.coded_height == height;
  return plan;
}

}  // namespace chronoreel
