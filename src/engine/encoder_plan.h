#pragma once
// What the compression record asks of the movie's stream, decided in one place from the
// record, the container and the frame size: how frames reach the file, which encoder, in
// which pixel format, at which quality or data rate, with which options. The frame
// pipeline's guess whether frames may stay as planes and the stream the writer makes both
// read this plan, so they cannot disagree.
//
// How the record drives the encoder:
//  - fccHandler 0 or "DIB " in AVI: the DIB rows go into the file unchanged (rawvideo
//    BGR24, positive biHeight); other containers take them through the rawvideo encoder.
//    Any other code picks an encoder through FFmpeg's FOURCC table; a parameter line
//    "encoder=<name>" picks among encoders of one code (mpeg4, libxvid).
//  - "encoder=" naming a hardware encoder (h264_vaapi, hevc_nvenc, h264_qsv, ...) uses it
//    where its device opens; elsewhere the software encoder of the same code, with a note.
//    Its frames are 4:2:0 (NV12 for VAAPI and Quick Sync), the height padded to even, and
//    dwQuality becomes its constant quality (HardwareQualityOf).
//  - dwQuality 1..10000 (10000 best): quantiser 31..1 for the mpegvideo family, CRF 51..0
//    for libx264 and the other CRF encoders (at least 1 for libsvtav1), linear and
//    rounded; 0 or less is the quality scale's default position for today's encoders
//    (EffectiveQuality) and the encoder's own default for the rest; lossless encoders
//    ignore it.
//  - AVICOMPRESSF_DATARATE: dwBytesPerSecond * 8 becomes the bit rate and its ceiling
//    (one-second buffer); the quality is then not applied, as it would override the rate.
//  - parameter block: "key=value" lines up to the first NUL, set on the encoder and its
//    private options before it opens; keys or values it refuses are passed over.
//    x264 and x265 keep their own lookahead and threads, whose memory at 1080p (some
//    500 MB) a block line such as x264-params=rc-lookahead=10 halves, at a cost in
//    picture (bench/README.md, "Encoder memory").
//  - key frames: in AVI every frame is one, as it always was. In MP4, MOV, Matroska and
//    WebM, dwKeyFrameEvery when AVICOMPRESSF_KEYFRAMES is set; otherwise the encoder's own
//    spacing, with a key frame at least every ten seconds of movie, and B-frames where the
//    encoder uses them. The format block is not used.
//  - H.264 in MP4 and MOV is yuv420p. A 4:2:0 stream (every lossy encoder's first choice)
//    is made an even number of rows high: the picture is stretched to it. Lossless and RGB
//    encoders keep the exact size.
//  - an encoder the container cannot hold (uncompressed frames in MP4, MJPEG in WebM):
//    DefaultEncoderForContainer's at its default quality, without the stored options or
//    data rate; the plan's note says so.
//  - MJPEG at a fixed quality with no other encoder option is compressed by TurboJPEG,
//    about three times as fast as libavcodec's encoder, at the JPEG quality whose steps
//    match the quantiser (JpegQualityForQscale).
#include <cstdint>
#include <span>
#include <string>

#include "engine/codecs.h"
#include "engine/movie_gen.h"

namespace chronoreel {

// The stored compression record with its two byte blocks, as the writer reads them.
struct EncoderChoice {
  AviCompressOptions record;
  std::span<const uint8_t> format;  // the format block (cbFormat bytes are meaningful)
  std::span<const uint8_t> parms;   // the parameter block: "key=value" lines for the encoder
};

enum class FramePath {
  RawRows,    // AVI, uncompressed: the bottom-up rows as they are
  TurboJpeg,  // MJPEG at a plain quality
  Encoder,    // a libavcodec encoder
};

struct EncoderPlan {
  std::string error;  // why no stream can be made; "" when one can
  // What the run uses instead of what the record asks for, and why (another encoder for
  // the container, a software encoder for a missing device); "" when nothing was replaced.
  // The run says it once.
  std::string note;
  FramePath path = FramePath::RawRows;
  std::string encoder;  // FFmpeg's encoder name; "rawvideo" for uncompressed frames
  const AVCodec* codec = nullptr;
  int jpeg_quality = 0;  // TurboJpeg: 1..100
  // Encoder:
  AVPixelFormat pixel_format = AV_PIX_FMT_NONE;
  int coded_height = 0;  // the encoder's height: the frame's, or one more to make it even
  // The chroma rows come in pairs: a movie meant for this plan is made an even number of
  // rows high (an odd frame is stretched to coded_height).
  bool even_height = false;
  int64_t bit_rate = 0;  // > 0: a data rate, and its ceiling
  int32_t qscale = -1;   // > 0: a fixed quantiser
  int32_t crf = -1;      // >= 0: a constant rate factor
  OptionList options;    // the parameter block's lines but "encoder"
  // 1: every frame a key frame (no B-frames); 0: the encoder's own spacing, at most ten
  // seconds of movie; more: the stored spacing in frames.
  int32_t key_frame_every = 1;
  // Frames may come as 4:2:0 planes (JPEG's full range), which saves two colour
  // conversions a frame.
  bool takes_planes = false;
};

// muxer as ContainerForPath names it. A size of 0 stands for one not known yet (the first
// still gives it): the plan is then the one for even sizes.
EncoderPlan PlanEncoder(const EncoderChoice& choice, const std::string& muxer, int width = 0,
                        int height = 0);

}  // namespace chronoreel
