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
//  - dwQuality 1..10000 (10000 best): quantiser 31..1 for the mpegvideo family, CRF 51..0
//    for libx264, linear and rounded; 0 or less leaves the encoder's default; lossless
//    encoders ignore it.
//  - AVICOMPRESSF_DATARATE: dwBytesPerSecond * 8 becomes the bit rate and its ceiling
//    (one-second buffer); the quality is then not applied, as it would override the rate.
//  - parameter block: "key=value" lines up to the first NUL, set on the encoder and its
//    private options before it opens; keys or values it refuses are passed over.
//    libx264 and libx265 get a ten-frame lookahead (x264 also a thread per core) unless
//    the block sets them: at 1080p that takes x264 from some 450 MB to 200 (bench/README.md).
//  - key frames: in AVI every frame is one, as it always was. In MP4, MOV, Matroska and
//    WebM, dwKeyFrameEvery when AVICOMPRESSF_KEYFRAMES is set; otherwise the encoder's own
//    spacing, with a key frame at least every ten seconds of movie, and B-frames where the
//    encoder uses them. The format block is not used.
//  - H.264 in MP4 and MOV is yuv420p, the height padded to even with the last row.
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
