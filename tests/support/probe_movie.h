#pragma once
// Reads a movie back with libavformat/libavcodec so tests can check what was written:
// the streams, the first video stream's codec, size, rate, pixel format and packets, and
// decoded frames; or with ffprobe, outside this process.
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
  std::string pixel_format;     // as stored ("yuv420p", "bgr24", ...)
  std::vector<bool> key_flags;  // one per packet, in file order
  int FrameCount() const { return static_cast<int>(key_flags.size()); }
  // -1 when there is no video stream (or no movie) at all.
  int VideoFrames() const { return video_streams > 0 ? FrameCount() : -1; }
};

ProbedMovie ProbeMovie(const std::string& path);

// The key flags of the first video stream's packets as ffprobe reads them: a reader that
// shares nothing with the writer's code. Empty when ffprobe cannot read the movie.
std::vector<bool> KeyFlagsByFfprobe(const std::string& path);

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
