#pragma once
// Reads a movie back with libavformat/libavcodec so tests can check what was written:
// the streams, the first video stream's codec, size, rate and packets, and decoded frames.
#include <cstdint>
#include <string>
#include <vector>

namespace chronoreel::test {

struct ProbedMovie {
  bool opened = false;
  std::string error;
  int stream_count = 0;
  int video_streams = 0;
  // Of the first video stream:
  std::string codec_name;  // FFmpeg's codec name ("rawvideo", "mjpeg", "h264", ...)
  uint32_t codec_tag = 0;
  int width = 0;
  int height = 0;
  int rate_num = 0;  // r_frame_rate
  int rate_den = 0;
  std::vector<bool> key_flags;  // one per packet, in file order
  int FrameCount() const { return static_cast<int>(key_flags.size()); }
};

ProbedMovie ProbeMovie(const std::string& path);

// A decoded picture, top row first, 3 bytes a pixel (B, G, R), no padding.
struct DecodedFrame {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> bgr;
  // Mean colour of a pixel rectangle, for checks with a tolerance.
  void MeanColour(int x0, int y0, int x1, int y1, double out_bgr[3]) const;
};

// Decodes every frame of the first video stream, in presentation order. Empty on failure.
std::vector<DecodedFrame> DecodeAllFrames(const std::string& path);

}  // namespace chronoreel::test
