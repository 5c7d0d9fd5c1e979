#include "engine/codecs.h"
#include "engine/container.h"
#include "engine/hardware_encoders.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <iterator>
#include <string_view>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

namespace chronoreel {

namespace {

const AVCodecTag* const* RiffVideoTags() {
  static const AVCodecTag* const tags[] = {avformat_get_riff_video_tags(), nullptr};
  return tags;
}

// An encoder a movie run can use without devices or special flags.
bool IsUsableEncoder(const AVCodec* codec) {
  if (!codec || !av_codec_is_encoder(codec) || codec->type != AVMEDIA_TYPE_VIDEO) return false;
  if (codec->capabilities & (AV_CODEC_CAP_HARDWARE | AV_CODEC_CAP_EXPERIMENTAL)) return false;
  // Hardware wrappers that do not carry the flag.
  const std::string name = codec->name;
  for (const char* suffix : {"_v4l2m2m", "_omx", "_vaapi", "_qsv", "_nvenc", "_amf", "_mf",
                             "_videotoolbox", "_mediacodec", "_rkmpp", "_vulkan"}) {
    const std::string s = suffix;
    if (name.size() > s.size() && name.compare(name.size() - s.size(), s.size(), s) == 0)
      return false;
  }
  return true;
}

const AVCodec* PreferredEncoderFor(AVCodecID id) {
  void* it = nullptr;
  while (const AVCodec* codec = av_codec_iterate(&it)) {
    if (codec->id == id && IsUsableEncoder(codec)) return codec;
  }
  return nullptr;
}

// Common codes whose table entry names a codec without a usable encoder of its own, and
// codes the table lacks (HEVC before FFmpeg 6).
const char* FallbackEncoderName(const std::string& upper) {
  static const struct { const char* fourcc; const char* encoder; } kFallback[] = {
      {"H264", "libx264"}, {"X264", "libx264"}, {"AVC1", "libx264"},
      {"XVID", "mpeg4"},   {"FMP4", "mpeg4"},   {"DIVX", "mpeg4"},
      {"DX50", "mpeg4"},   {"MP4V", "mpeg4"},   {"MJPG", "mjpeg"},
      {"FFV1", "ffv1"},    {"HFYU", "huffyuv"}, {"FFVH", "ffvhuff"},
      {"HEVC", "libx265"}, {"H265", "libx265"},
  };
  for (const auto& f : kFallback)
    if (upper == f.fourcc) return f.encoder;
  return nullptr;
}


// Uncompressed first ("DIB "), then every other encoder in FFmpeg's order whose output the
// container can hold.
std::vector<EncoderInfo> ListEncodersFor(const std::string& muxer) {
  std::vector<EncoderInfo> list;
  const bool avi = IsAviContainer(muxer);
  if (avi || EncoderFitsContainer("rawvideo", muxer))
    list.push_back({kFourccDib, "DIB ", "rawvideo", "Full Frames (Uncompressed)", false});
  const AVOutputFormat* avi_format = av_guess_format("avi", nullptr, nullptr);
  void* it = nullptr;
  while (const AVCodec* codec = av_codec_iterate(&it)) {
    if (!IsUsableEncoder(codec) || codec->id == AV_CODEC_ID_RAWVIDEO) continue;
    const unsigned tag = CodeFor(codec->id);
    if (tag == 0) continue;
    if (avi ? avi_format && avformat_query_codec(avi_format, codec->id, FF_COMPLIANCE_NORMAL) != 1
            : !EncoderFitsContainer(codec->name, muxer))
      continue;
    // The frames are converted with libswscale: the encoder must take one of its outputs.
    const AVPixelFormat* formats = EncoderPixelFormats(codec);
    bool convertible = formats == nullptr;
    for (const AVPixelFormat* f = formats; f && *f != AV_PIX_FMT_NONE; ++f)
      if (sws_isSupportedOutput(*f)) convertible = true;
    if (!convertible) continue;
    EncoderInfo info;
    info.fourcc = static_cast<int32_t>(tag);
    info.fourcc_text = FourccToText(info.fourcc);
    info.name = codec->name;
    info.long_name = codec->long_name ? codec->long_name : codec->name;
    info.supports_quality = QualityScaleOf(info.name) != QualityScale::None;
    list.push_back(std::move(info));
  }
  return list;
}

std::string OptionTypeName(AVOptionType type) {
  switch (type) {
    case AV_OPT_TYPE_FLAGS: return "flags";
    case AV_OPT_TYPE_INT: return "int";
    case AV_OPT_TYPE_INT64: return "int64";
    case AV_OPT_TYPE_UINT64: return "uint64";
    case AV_OPT_TYPE_DOUBLE: return "double";
    case AV_OPT_TYPE_FLOAT: return "float";
    case AV_OPT_TYPE_STRING: return "string";
    case AV_OPT_TYPE_RATIONAL: return "rational";
    case AV_OPT_TYPE_BOOL: return "bool";
    case AV_OPT_TYPE_DICT: return "dictionary";
    case AV_OPT_TYPE_IMAGE_SIZE: return "image_size";
    case AV_OPT_TYPE_PIXEL_FMT: return "pix_fmt";
    case AV_OPT_TYPE_VIDEO_RATE: return "video_rate";
    case AV_OPT_TYPE_DURATION: return "duration";
    case AV_OPT_TYPE_COLOR: return "color";
    case AV_OPT_TYPE_BINARY: return "binary";
    default: return "other";
  }
}

std::string DefaultText(const AVOption& o) {
  char buffer[64];
  switch (o.type) {
    case AV_OPT_TYPE_FLAGS:
    case AV_OPT_TYPE_INT:
    case AV_OPT_TYPE_INT64:
    case AV_OPT_TYPE_UINT64:
    case AV_OPT_TYPE_DURATION:
      std::snprintf(buffer, sizeof buffer, "%lld", static_cast<long long>(o.default_val.i64));
      return buffer;
    case AV_OPT_TYPE_BOOL:
      return o.default_val.i64 < 0 ? "auto" : (o.default_val.i64 ? "true" : "false");
    case AV_OPT_TYPE_DOUBLE:
    case AV_OPT_TYPE_FLOAT:
      std::snprintf(buffer, sizeof buffer, "%g", o.default_val.dbl);
      return buffer;
    case AV_OPT_TYPE_RATIONAL:
      std::snprintf(buffer, sizeof buffer, "%d/%d", o.default_val.q.num, o.default_val.q.den);
      return buffer;
    case AV_OPT_TYPE_PIXEL_FMT: {
      const char* n = av_get_pix_fmt_name(static_cast<AVPixelFormat>(o.default_val.i64));
      return n ? n : "";
    }
    case AV_OPT_TYPE_STRING:
    case AV_OPT_TYPE_IMAGE_SIZE:
    case AV_OPT_TYPE_VIDEO_RATE:
    case AV_OPT_TYPE_COLOR:
      return o.default_val.str ? o.default_val.str : "";
    default:
      return "";
  }
}

}  // namespace

unsigned CodeFor(AVCodecID id) {
  if (const unsigned tag = av_codec_get_tag(RiffVideoTags(), id)) return tag;
  return id == AV_CODEC_ID_HEVC ? static_cast<unsigned>(FourccFromText("HEVC")) : 0;
}

int32_t FourccFromText(const std::string& text) {
  uint32_t code = 0;
  for (int i = 0; i < 4; ++i) {
    const uint8_t c = i < static_cast<int>(text.size()) ? static_cast<uint8_t>(text[i]) : ' ';
    code |= static_cast<uint32_t>(c) << (8 * i);
  }
  return static_cast<int32_t>(code);
}

std::string FourccToText(int32_t fourcc) {
  if (fourcc == 0) return {};
  std::string text(4, ' ');
  const auto code = static_cast<uint32_t>(fourcc);
  for (int i = 0; i < 4; ++i) text[i] = static_cast<char>((code >> (8 * i)) & 0xFF);
  return text;
}

bool IsUncompressedFourcc(int32_t fourcc) { return fourcc == 0 || fourcc == kFourccDib; }

std::string EncoderNameForFourcc(int32_t fourcc, const std::string& preferred_name) {
  if (IsUncompressedFourcc(fourcc)) return "rawvideo";
  std::string upper = FourccToText(fourcc);
  std::transform(upper.begin(), upper.end(), upper.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  const char* fallback = FallbackEncoderName(upper);
  AVCodecID id = av_codec_get_id(RiffVideoTags(), static_cast<unsigned>(fourcc));
  // A code the table lacks (HEVC before FFmpeg 6) names its codec through the fallback, so
  // that a preferred encoder of that codec is still recognised.
  if (const AVCodec* codec = fallback ? avcodec_find_encoder_by_name(fallback) : nullptr;
      id == AV_CODEC_ID_NONE && codec)
    id = codec->id;
  if (id != AV_CODEC_ID_NONE) {
    if (!preferred_name.empty()) {
      const AVCodec* chosen = avcodec_find_encoder_by_name(preferred_name.c_str());
      // Same codec, or a codec that the table writes under this very code (h263p, ljpeg).
      // A hardware encoder only where it opens; elsewhere the software one of its codec.
      if (chosen && (IsUsableEncoder(chosen) || IsHardwareEncoderAvailable(chosen->name)) &&
          (chosen->id == id ||
           av_codec_get_tag(RiffVideoTags(), chosen->id) == static_cast<unsigned>(fourcc)))
        return chosen->name;
    }
    if (const AVCodec* codec = PreferredEncoderFor(id)) return codec->name;
  }
  if (fallback && IsUsableEncoder(avcodec_find_encoder_by_name(fallback))) return fallback;
  return {};
}

QualityScale QualityScaleOf(const std::string& encoder_name) {
  const AVCodec* codec = avcodec_find_encoder_by_name(encoder_name.c_str());
  if (!codec) return QualityScale::None;
  if (codec->priv_class) {
    const AVClass* cls = codec->priv_class;
    if (av_opt_find(&cls, "crf", nullptr, 0, AV_OPT_SEARCH_FAKE_OBJ)) return QualityScale::Crf;
  }
  // The mpegvideo family and libxvid take a fixed quantiser through global_quality.
  static const char* const kQscale[] = {"mjpeg",    "mpeg4",    "libxvid",    "msmpeg4v2",
                                        "msmpeg4",  "h263",     "h263p",      "wmv1",
                                        "wmv2",     "mpeg1video", "mpeg2video", "flv",
                                        "h261",     "rv10",     "rv20",       "speedhq"};
  for (const char* name : kQscale)
    if (encoder_name == name) return QualityScale::QScale;
  return QualityScale::None;
}

int32_t QscaleForQuality(int32_t quality) {
  if (quality <= 0) return -1;
  const int32_t q = std::min(quality, 10000);
  return 31 - static_cast<int32_t>(std::lround((q - 1) * 30.0 / 9999.0));
}

int32_t CrfForQuality(int32_t quality) {
  if (quality <= 0) return -1;
  const int32_t q = std::min(quality, 10000);
  return 51 - static_cast<int32_t>(std::lround((q - 1) * 51.0 / 9999.0));
}

int32_t JpegQualityForQscale(int32_t qscale) {
  if (qscale <= 0) return -1;
  // libavcodec scales its base matrix by qscale / 8, libjpeg its base table by a
  // percentage (5000 / quality below 50, 200 - 2 * quality from there). Taking the same
  // factor for both gives movies of about the same size over the whole range.
  const double percent = 100.0 * qscale / 8.0;
  const double quality = percent <= 100.0 ? 100.0 - percent / 2.0 : 5000.0 / percent;
  return std::clamp(static_cast<int32_t>(std::lround(quality)), 1, 100);
}

namespace {

constexpr const char* kTodaysEncoders[] = {"libx264",    "libx265", "libsvtav1", "libvpx-vp9",
                                           "mjpeg",      "ffv1",    "rawvideo"};

struct QualityPoint {
  int position;
  int quality;  // dwQuality
};

// x264's line: dwQuality 1..10000 is CRF 51..0, position 0..100 is the same line.
constexpr QualityPoint kLinearQuality[] = {{0, 1}, {100, 10000}};

// Positions to dwQuality where the movie's SSIM against the stills matches x264's at the
// same position (interpolated in dB between measured points). Measured by
// bench/quality_scale.sh on 2026-12-10: 20 stills of 1920x1080 from make-photo-stills.sh,
// MP4 for the CRF encoders, AVI for MJPEG (TurboJPEG). SVT-AV1 and VP9 at their worst here
// (CRF 51 of 63) still look better than x264 at CRF 36, MJPEG at quantiser 31 about as
// good, so their lowest positions all lead to that worst dwQuality.
constexpr QualityPoint kX265Quality[] = {{0, 1}, {10, 1007}, {20, 2014}, {29, 3008}, {39, 3942},
    {47, 4579}, {55, 5444}, {63, 6286}, {71, 7178}, {78, 8042}, {86, 9091}, {94, 9835},
    {100, 10000}};
constexpr QualityPoint kSvtAv1Quality[] = {{0, 1}, {39, 1091}, {47, 2558}, {55, 4627}, {63, 7094},
    {71, 8643}, {78, 9647}, {86, 9804}, {100, 10000}};
constexpr QualityPoint kVp9Quality[] = {{0, 1}, {47, 1376}, {55, 3629}, {63, 5305}, {71, 6915},
    {78, 8333}, {86, 9089}, {94, 9553}, {100, 10000}};
constexpr QualityPoint kMjpegQuality[] = {{0, 1}, {29, 541}, {39, 5690}, {47, 7656}, {55, 8780},
    {63, 9422}, {71, 9773}, {100, 10000}};

std::span<const QualityPoint> QualityTable(const std::string& encoder_name) {
  if (encoder_name == "libx265") return kX265Quality;
  if (encoder_name == "libsvtav1") return kSvtAv1Quality;
  if (encoder_name == "libvpx-vp9") return kVp9Quality;
  if (encoder_name == "mjpeg") return kMjpegQuality;
  return kLinearQuality;
}

}  // namespace

std::span<const char* const> TodaysEncoders() { return kTodaysEncoders; }

bool IsTodaysEncoder(const std::string& encoder_name) {
  return std::any_of(std::begin(kTodaysEncoders), std::end(kTodaysEncoders),
                     [&](const char* name) { return encoder_name == name; });
}

namespace {

// Piecewise linear over the table, from one of its columns to the other.
int Interpolate(std::span<const QualityPoint> table, int x, int QualityPoint::*from,
                int QualityPoint::*to) {
  size_t i = 1;
  while (i + 1 < table.size() && table[i].*from < x) ++i;
  const QualityPoint& a = table[i - 1];
  const QualityPoint& b = table[i];
  return a.*to + static_cast<int>(std::lround(static_cast<double>(b.*to - a.*to) *
                                              (x - a.*from) / (b.*from - a.*from)));
}

}  // namespace

int32_t QualityForPosition(const std::string& encoder_name, int position) {
  return Interpolate(QualityTable(encoder_name), std::clamp(position, 0, kQualityPositions),
                     &QualityPoint::position, &QualityPoint::quality);
}

int PositionForQuality(const std::string& encoder_name, int32_t quality) {
  if (quality <= 0) return kDefaultQualityPosition;
  const std::span<const QualityPoint> table = QualityTable(encoder_name);
  return Interpolate(table, std::clamp(quality, table.front().quality, table.back().quality),
                     &QualityPoint::quality, &QualityPoint::position);
}

int32_t EffectiveQuality(const std::string& encoder_name, int32_t quality) {
  if (quality > 0 || !IsTodaysEncoder(encoder_name) ||
      QualityScaleOf(encoder_name) == QualityScale::None)
    return quality;
  return QualityForPosition(encoder_name, kDefaultQualityPosition);
}

std::vector<EncoderInfo> ListContainerEncoders(const std::string& muxer) {
  std::vector<EncoderInfo> rest = ListEncodersFor(muxer);
  std::vector<EncoderInfo> list;
  for (const char* name : kTodaysEncoders) {
    const auto it = std::find_if(rest.begin(), rest.end(), [name](const EncoderInfo& e) { return e.name == name; });
    if (it == rest.end()) continue;
    list.push_back(std::move(*it));
    list.back().group = EncoderGroup::Today;
    rest.erase(it);
  }
  for (EncoderInfo& e : rest) list.push_back(std::move(e));
  // The hardware encoders whose device opens here, after the software ones.
  for (EncoderInfo& e : ListHardwareEncoders(muxer)) {
    e.hardware = true;
    list.push_back(std::move(e));
  }
  return list;
}

std::vector<EncoderInfo> ListAviEncoders() { return ListEncodersFor("avi"); }

const AVPixelFormat* EncoderPixelFormats(const AVCodec* codec) {
#if LIBAVCODEC_VERSION_INT >= AV_VERSION_INT(61, 13, 100)
  const void* formats = nullptr;
  if (avcodec_get_supported_config(nullptr, codec, AV_CODEC_CONFIG_PIX_FORMAT, 0, &formats,
                                   nullptr) < 0)
    return nullptr;
  return static_cast<const AVPixelFormat*>(formats);
#else
  return codec->pix_fmts;
#endif
}

OptionList ParseParameterBlock(std::span<const uint8_t> block) {
  std::string_view text(reinterpret_cast<const char*>(block.data()), block.size());
  text = text.substr(0, text.find('\0'));
  const auto trim = [](std::string_view s) {
    const size_t first = s.find_first_not_of(" \t\r");
    if (first == std::string_view::npos) return std::string();
    return std::string(s.substr(first, s.find_last_not_of(" \t\r") - first + 1));
  };
  OptionList options;
  while (!text.empty()) {
    const size_t end = text.find('\n');
    const std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
    const size_t eq = line.find('=');
    if (eq == std::string_view::npos) continue;
    std::string key = trim(line.substr(0, eq));
    if (!key.empty()) options.emplace_back(std::move(key), trim(line.substr(eq + 1)));
  }
  return options;
}

std::vector<uint8_t> MakeParameterBlock(const OptionList& options) {
  std::string text;
  for (const auto& [key, value] : options) text += key + "=" + value + "\n";
  return {text.begin(), text.end()};
}

std::vector<EncoderOption> ListEncoderOptions(const std::string& encoder_name) {
  std::vector<EncoderOption> options;
  const AVCodec* codec = avcodec_find_encoder_by_name(encoder_name.c_str());
  if (!codec || !codec->priv_class) return options;
  const AVClass* cls = codec->priv_class;
  std::vector<const AVOption*> constants;
  std::vector<std::string> units;  // parallel to options: the unit of its named constants
  const AVOption* o = nullptr;
  while ((o = av_opt_next(&cls, o)) != nullptr) {
    if (o->type == AV_OPT_TYPE_CONST) {
      constants.push_back(o);
      continue;
    }
    if (!(o->flags & AV_OPT_FLAG_ENCODING_PARAM)) continue;
    EncoderOption option;
    option.name = o->name;
    option.help = o->help ? o->help : "";
    option.type = OptionTypeName(o->type);
    option.default_value = DefaultText(*o);
    option.min = o->min;
    option.max = o->max;
    options.push_back(std::move(option));
    units.emplace_back(o->unit ? o->unit : "");
  }
  for (size_t i = 0; i < options.size(); ++i) {
    if (units[i].empty()) continue;
    for (const AVOption* c : constants)
      if (c->unit && units[i] == c->unit) options[i].choices.emplace_back(c->name);
  }
  return options;
}

}  // namespace chronoreel
