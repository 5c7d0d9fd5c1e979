#pragma once
// The video encoders of the linked FFmpeg that can go into an AVI file, named by the
// four-character codes of the AVI format, and the options each encoder takes. The
// compression dialog lists these; the AVI writer resolves a stored code through the same
// table, so a choice made here is the one that writes the movie.
#include <cstdint>
#include <span>
#include <string>
#include <utility>
#include <vector>

extern "C" {
#include <libavutil/pixfmt.h>
#include <libavcodec/codec_id.h>
}

struct AVCodec;

namespace chronoreel {

// Where the compression dialog lists an encoder.
enum class EncoderGroup {
  Today,  // today's encoders, offered first
  More,   // the rest of the linked FFmpeg's encoders ("More encoders")
};

struct EncoderInfo {
  int32_t fourcc = 0;         // as stored in the compression record's fccHandler
  std::string fourcc_text;    // "MJPG"; "DIB " for uncompressed frames
  std::string name;           // FFmpeg's encoder name ("mjpeg"); "rawvideo" for "DIB "
  std::string long_name;      // for people
  bool supports_quality = false;  // dwQuality has an effect
  EncoderGroup group = EncoderGroup::More;
  bool hardware = false;  // a device encoder, listed only where its device opens
};

// How dwQuality (1..10000, 10000 best) reaches an encoder.
enum class QualityScale {
  None,    // lossless or no rate control: quality is ignored
  QScale,  // the mpegvideo family: fixed quantiser 31 (worst) .. 1 (best)
  Crf,     // libx264 and kin: constant rate factor 51 (worst) .. 0 (best)
};

// Uncompressed first ("DIB "), then every other encoder in FFmpeg's order. Hardware and
// experimental encoders are left out: they need devices or flags a movie run cannot give.
std::vector<EncoderInfo> ListAviEncoders();
// The encoders of that list a container can hold (muxer as ContainerForPath names it; for
// AVI the whole list), each once: today's encoders first, in the order of TodaysEncoders
// (group Today), then the rest in the order of ListAviEncoders, then the hardware encoders
// that open here (ListHardwareEncoders; group More).
std::vector<EncoderInfo> ListContainerEncoders(const std::string& muxer);

// FFmpeg's names of today's encoders, in the order they are offered: H.264 (libx264), H.265
// (libx265), AV1 (libsvtav1), VP9 (libvpx-vp9), MJPEG, FFV1, uncompressed ("rawvideo").
std::span<const char* const> TodaysEncoders();
bool IsTodaysEncoder(const std::string& encoder_name);

// The code an encoder of this codec is stored under: FFmpeg's RIFF table, or for H.265,
// which that table lacks in older FFmpeg, the code other programs write. 0 for none.
unsigned CodeFor(AVCodecID id);

// "MJPG" -> the little-endian code the record stores; shorter text is padded with blanks,
// longer text is cut at four characters.
int32_t FourccFromText(const std::string& text);
// The code as four characters; 0 gives "" (the record's "no handler").
std::string FourccToText(int32_t fourcc);

constexpr int32_t kFourccDib = 541215044;  // "DIB "

// True for 0 and "DIB ": frames go into the file uncompressed.
bool IsUncompressedFourcc(int32_t fourcc);

// The FFmpeg encoder name for a code ("" when the linked FFmpeg has none).
// preferred_name, when it names an encoder of the same codec, wins (mpeg4 vs libxvid).
std::string EncoderNameForFourcc(int32_t fourcc, const std::string& preferred_name = {});

QualityScale QualityScaleOf(const std::string& encoder_name);

// dwQuality -> the encoder's own value; quality <= 0 means "encoder default" (nullopt-like:
// returns -1). Rounded to the nearest step; 10000 gives the best value.
int32_t QscaleForQuality(int32_t quality);  // 31..1, or -1
int32_t CrfForQuality(int32_t quality);     // 51..0, or -1

// One quality scale for every encoder: a position from 0 ("smaller file") to 100 ("better
// picture") that gives about the same picture (SSIM against the stills) whichever of
// today's encoders writes the movie. libx264 is the anchor: its CRF runs linearly from 51
// at 0 to 0 at 100, so the default position is x264's own default, CRF 23. The other
// encoders with a quality follow measured tables; encoders without one take x264's line.
// dwQuality keeps its meaning per encoder, so a setup file makes the same movie as before.
constexpr int kQualityPositions = 100;
constexpr int kDefaultQualityPosition = 55;
// position (clamped to 0..100) -> dwQuality 1..10000 for that encoder.
int32_t QualityForPosition(const std::string& encoder_name, int position);
// dwQuality -> the nearest position; 0 or less ("encoder default") gives the default one.
int PositionForQuality(const std::string& encoder_name, int32_t quality);
// The dwQuality a run applies: for today's encoders 0 or less stands for the default
// position (for MJPEG and VP9 a better picture than libavcodec's and libvpx's own low
// default data rates); every other encoder keeps 0 as its own default.
int32_t EffectiveQuality(const std::string& encoder_name, int32_t quality);

// The JPEG quality (1..100, as libjpeg scales its tables) that stands in for libavcodec's
// MJPEG encoder at the fixed quantiser qscale (1..31): a movie compressed with TurboJPEG
// comes out about the size the setting gives there. -1 for qscale <= 0.
int32_t JpegQualityForQscale(int32_t qscale);

// The pixel formats an encoder takes, ending in AV_PIX_FMT_NONE; nullptr when it takes any.
const AVPixelFormat* EncoderPixelFormats(const AVCodec* codec);

// The parameter block: "key=value" lines (LF or CRLF; a NUL ends the text), blanks around
// key and value trimmed; lines without "=" or without a key are skipped.
using OptionList = std::vector<std::pair<std::string, std::string>>;
OptionList ParseParameterBlock(std::span<const uint8_t> block);
std::vector<uint8_t> MakeParameterBlock(const OptionList& options);

struct EncoderOption {
  std::string name;
  std::string help;
  std::string type;           // "int", "int64", "bool", "flags", "float", "double", "string", ...
  std::string default_value;  // as av_opt_set accepts it
  double min = 0;
  double max = 0;
  std::vector<std::string> choices;  // named values, for options that have them
};

// The encoder's private options (the ones "key=value" lines in the parameter block set).
// An unknown encoder gives an empty list.
std::vector<EncoderOption> ListEncoderOptions(const std::string& encoder_name);

}  // namespace chronoreel
