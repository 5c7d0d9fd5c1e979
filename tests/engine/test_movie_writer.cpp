#include "engine/movie_writer.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "engine/codecs.h"
#include "engine/container.h"
#include "engine/hardware_encoders.h"
#include "engine/output_replacement.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/log.h>
}
#include "support/env_guard.h"
#include "support/probe_movie.h"
#include "support/test_files.h"

namespace chronoreel {
namespace {

namespace fs = std::filesystem;

// The encoders' statistics would bury the test output.
const int kQuietLibraries = (av_log_set_level(AV_LOG_ERROR), 0);

struct Bgr {
  uint8_t b, g, r;
};

// A bottom-up 24-bit frame with rows padded to 4 bytes, like the frame surface.
struct TestFrame {
  int width, height, stride;
  std::vector<uint8_t> pixels;
  TestFrame(int w, int h) : width(w), height(h), stride((w * 3 + 3) & ~3), pixels(stride * h, 0xEE) {}
  // top_row counts from the top of the picture.
  void FillRows(int top_row_begin, int top_row_end, Bgr c) {
    for (int y = top_row_begin; y < top_row_end; ++y) {
      uint8_t* row = pixels.data() + static_cast<size_t>(height - 1 - y) * stride;
      for (int x = 0; x < width; ++x) {
        row[x * 3] = c.b;
        row[x * 3 + 1] = c.g;
        row[x * 3 + 2] = c.r;
      }
    }
  }
  FrameView View() const { return FrameView{pixels.data(), width, height, stride}; }
};

TestFrame Flat(int w, int h, Bgr c) {
  TestFrame f(w, h);
  f.FillRows(0, h, c);
  return f;
}

TestFrame TwoTone(int w, int h, Bgr top, Bgr bottom) {
  TestFrame f(w, h);
  f.FillRows(0, h / 2, top);
  f.FillRows(h / 2, h, bottom);
  return f;
}

// Detail that an encoder cannot make small without losing quality.
TestFrame Textured(int w, int h, int seed) {
  TestFrame f(w, h);
  uint32_t s = 2463534242u + seed;
  for (auto& p : f.pixels) {
    s ^= s << 13;
    s ^= s >> 17;
    s ^= s << 5;
    p = static_cast<uint8_t>(s);
  }
  return f;
}

EncoderChoice Choice(const std::string& fourcc, int32_t quality = 8000,
                         const std::string& parms = {}) {
  static std::string held;  // the block lives as long as the choice is used
  held = parms;
  EncoderChoice c{};
  c.record.fccHandler = fourcc.empty() ? 0 : FourccFromText(fourcc);
  c.record.dwQuality = quality;
  c.record.dwFlags = 0;
  c.parms = std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(held.data()), held.size());
  return c;
}

bool HasEncoder(const std::string& fourcc) {
  return !EncoderNameForFourcc(FourccFromText(fourcc)).empty();
}

// The mean colour of rows [y0, y1) of a 64-wide frame, inside a 4-pixel margin.
void ExpectMeanNear(const test::DecodedFrame& f, int y0, int y1, Bgr want, double tolerance,
                    const char* what) {
  double got[3];
  f.MeanColour(4, y0, 60, y1, got);
  EXPECT_NEAR(got[0], want.b, tolerance) << what;
  EXPECT_NEAR(got[1], want.g, tolerance) << what;
  EXPECT_NEAR(got[2], want.r, tolerance) << what;
}

// ---- every codec of the table: structure, key frames, colours, orientation ----

struct CodecCase {
  const char* fourcc;
  const char* codec_name;  // as libavformat reads it back
  double tolerance;        // per channel, on a flat area
};

void PrintTo(const CodecCase& c, std::ostream* os) { *os << '"' << c.fourcc << '"'; }

class AviCodecTest : public ::testing::TestWithParam<CodecCase> {};

TEST_P(AviCodecTest, WritesOneStreamOfKeyFramesThatDecodeToTheFrames) {
  const CodecCase& c = GetParam();
  if (std::string(c.fourcc) != "DIB " && !HasEncoder(c.fourcc))
    GTEST_SKIP() << "no encoder for " << c.fourcc;
  TempDir dir("avi-codec");
  const std::string out = dir.File("movie.avi");
  const std::vector<Bgr> colours = {{0, 0, 220}, {0, 200, 0}, {210, 30, 30}, {128, 128, 128}};
  const Bgr top{20, 220, 230}, bottom{200, 40, 40};
  {
    MovieWriter w;
    ASSERT_TRUE(w.Open(out)) << w.Error();
    for (const Bgr& colour : colours)
      ASSERT_TRUE(w.WriteFrame(Flat(64, 48, colour).View(), 15, Choice(c.fourcc))) << w.Error();
    ASSERT_TRUE(w.WriteFrame(TwoTone(64, 48, top, bottom).View(), 15, Choice(c.fourcc)));
    EXPECT_EQ(w.FramesWritten(), 5);
    ASSERT_TRUE(w.Finish()) << w.Error();
  }
  const test::ProbedMovie movie = test::ProbeMovie(out);
  ASSERT_TRUE(movie.opened) << movie.error;
  EXPECT_EQ(movie.stream_count, 1);
  EXPECT_EQ(movie.codec_name, c.codec_name);
  EXPECT_EQ(movie.width, 64);
  EXPECT_EQ(movie.height, 48);
  EXPECT_EQ(movie.rate_num, 15);
  EXPECT_EQ(movie.rate_den, 1);
  ASSERT_EQ(movie.FrameCount(), 5);
  for (int k = 0; k < movie.FrameCount(); ++k) EXPECT_TRUE(movie.key_flags[k]) << "packet " << k;

  const auto frames = test::DecodeAllFrames(out);
  ASSERT_EQ(frames.size(), 5u);
  auto expect_near = [&](const test::DecodedFrame& f, int y0, int y1, Bgr want, const char* what) {
    ExpectMeanNear(f, y0, y1, want, c.tolerance, what);
  };
  for (size_t k = 0; k < colours.size(); ++k)
    expect_near(frames[k], 4, 44, colours[k], ("frame " + std::to_string(k)).c_str());
  expect_near(frames[4], 2, 20, top, "top half");
  expect_near(frames[4], 28, 46, bottom, "bottom half");
}

INSTANTIATE_TEST_SUITE_P(Codecs, AviCodecTest,
                         ::testing::Values(CodecCase{"DIB ", "rawvideo", 0},
                                           CodecCase{"MJPG", "mjpeg", 10},
                                           CodecCase{"XVID", "mpeg4", 10},
                                           CodecCase{"FMP4", "mpeg4", 10},
                                           CodecCase{"H264", "h264", 10},
                                           CodecCase{"FFV1", "ffv1", 0},
                                           CodecCase{"HFYU", "huffyuv", 0}),
                         [](const auto& param_info) {
                           std::string n = param_info.param.fourcc;
                           return n == "DIB " ? std::string("DIB") : n;
                         });

// ---- frames handed over as 4:2:0 planes ----

// The planes of a frame in JPEG's own colours (BT.601, full range), chroma averaged over
// each 2x2 block, rows top-down.
FramePlanes PlanesOf(const TestFrame& f) {
  FramePlanes p;
  p.Resize(f.width, f.height);
  auto at = [&](int x, int y_top, int channel) {
    return double(f.pixels[static_cast<size_t>(f.height - 1 - y_top) * f.stride + x * 3 + channel]);
  };
  for (int y = 0; y < f.height; ++y) {
    for (int x = 0; x < f.width; ++x) {
      const double b = at(x, y, 0), g = at(x, y, 1), r = at(x, y, 2);
      p.Plane(0)[y * p.strides[0] + x] = static_cast<uint8_t>(std::lround(0.299 * r + 0.587 * g + 0.114 * b));
    }
  }
  for (int y = 0; y < p.Rows(1); ++y) {
    for (int x = 0; x < (f.width + 1) / 2; ++x) {
      double cb = 0, cr = 0;
      for (int dy = 0; dy < 2; ++dy) {
        for (int dx = 0; dx < 2; ++dx) {
          const int px = std::min(2 * x + dx, f.width - 1), py = std::min(2 * y + dy, f.height - 1);
          const double b = at(px, py, 0), g = at(px, py, 1), r = at(px, py, 2);
          cb += 128 - 0.168736 * r - 0.331264 * g + 0.5 * b;
          cr += 128 + 0.5 * r - 0.418688 * g - 0.081312 * b;
        }
      }
      p.Plane(1)[y * p.strides[1] + x] = static_cast<uint8_t>(std::clamp(std::lround(cb / 4), 0L, 255L));
      p.Plane(2)[y * p.strides[2] + x] = static_cast<uint8_t>(std::clamp(std::lround(cr / 4), 0L, 255L));
    }
  }
  p.filled = true;
  return p;
}

struct PlanesCase {
  const char* name;
  const char* fourcc;
  int32_t quality;
  bool takes;              // the stream takes planes
  const char* parms = "";  // encoder options
  const char* file = "movie.avi";
  int height = 48;
};

void PrintTo(const PlanesCase& c, std::ostream* os) { *os << c.name; }

class AviPlanesTest : public ::testing::TestWithParam<PlanesCase> {};

// Streams that take planes decode to the same colours as from BGR, the right way up; the
// others say so before a frame is written, and refuse planes rather than misread them.
TEST_P(AviPlanesTest, PlanesDecodeToThePictureOrAreRefused) {
  const PlanesCase& c = GetParam();
  if (std::string(c.fourcc) != "DIB " && !HasEncoder(c.fourcc)) GTEST_SKIP();
  TempDir dir("avi-planes");
  const std::string out = dir.File(c.file);
  const EncoderChoice choice = Choice(c.fourcc, c.quality, c.parms);
  EXPECT_EQ(PlanEncoder(choice, ContainerForPath(out), 64, c.height).takes_planes, c.takes)
      << "the guess before the stream exists";
  const std::vector<Bgr> colours = {{0, 0, 220}, {0, 200, 0}, {210, 30, 30}, {128, 128, 128}};
  const Bgr top{20, 220, 230}, bottom{200, 40, 40};
  {
    MovieWriter w;
    ASSERT_TRUE(w.Open(out)) << w.Error();
    ASSERT_TRUE(w.Prepare(64, c.height, 15, choice)) << w.Error();
    ASSERT_EQ(w.TakesPlanes(), c.takes);
    if (!c.takes) {
      EXPECT_FALSE(w.WritePlanes(PlanesOf(Flat(64, c.height, colours[0]))));
      EXPECT_FALSE(w.Error().empty());
      EXPECT_EQ(w.FramesWritten(), 0);
      return;
    }
    EXPECT_FALSE(w.WritePlanes(PlanesOf(Flat(32, 48, colours[0])))) << "another size";
    for (const Bgr& colour : colours) ASSERT_TRUE(w.WritePlanes(PlanesOf(Flat(64, 48, colour)))) << w.Error();
    ASSERT_TRUE(w.WritePlanes(PlanesOf(TwoTone(64, 48, top, bottom)))) << w.Error();
    ASSERT_TRUE(w.WriteFrame(TwoTone(64, 48, top, bottom).View(), 15, choice)) << "BGR still goes";
    ASSERT_TRUE(w.Finish()) << w.Error();
  }
  const test::ProbedMovie movie = test::ProbeMovie(out);
  ASSERT_TRUE(movie.opened) << movie.error;
  ASSERT_EQ(movie.FrameCount(), 6);
  // AVI: every frame a key frame; the newer containers: the encoder's own spacing.
  const bool avi = IsAviContainer(ContainerForPath(out));
  EXPECT_TRUE(movie.key_flags[0]);
  for (int k = 1; k < movie.FrameCount(); ++k) EXPECT_EQ(movie.key_flags[k], avi) << "packet " << k;
  const auto frames = test::DecodeAllFrames(out);
  ASSERT_EQ(frames.size(), 6u);
  auto expect_near = [&](const test::DecodedFrame& f, int y0, int y1, Bgr want, const char* what) {
    ExpectMeanNear(f, y0, y1, want, 6, what);
  };
  for (size_t k = 0; k < colours.size(); ++k)
    expect_near(frames[k], 4, 44, colours[k], ("frame " + std::to_string(k)).c_str());
  for (size_t k : {4u, 5u}) {
    expect_near(frames[k], 2, 20, top, "top half");
    expect_near(frames[k], 28, 46, bottom, "bottom half");
  }
}

INSTANTIATE_TEST_SUITE_P(Codecs, AviPlanesTest,
                         ::testing::Values(PlanesCase{"MJPG", "MJPG", 7700, true},
                                           // the default position: TurboJPEG too
                                           PlanesCase{"MJPGDefaultQuality", "MJPG", 0, true},
                                           // libavcodec's MJPEG encoder: full-range 4:2:0
                                           PlanesCase{"MJPGWithOptions", "MJPG", 7700, false,
                                                      "huffman=default\n"},
                                           PlanesCase{"FMP4", "FMP4", 7700, true},
                                           PlanesCase{"XVID", "XVID", 8000, true},
                                           PlanesCase{"H264", "H264", 0, true},
                                           PlanesCase{"H264InMp4", "H264", 0, true, "", "movie.mp4"},
                                           // an odd height: the picture is stretched a row
                                           // taller, which planes of 47 rows are not
                                           PlanesCase{"H264OddHeight", "H264", 0, false, "", "movie.avi", 47},
                                           PlanesCase{"H264InMp4OddHeight", "H264", 0, false, "",
                                                      "movie.mp4", 47},
                                           PlanesCase{"HFYU", "HFYU", 8000, false},
                                           // lossless: its 4:2:0 would throw colour away
                                           PlanesCase{"FFV1", "FFV1", 8000, false},
                                           PlanesCase{"DIB", "DIB ", 0, false}),
                         [](const auto& param_info) { return std::string(param_info.param.name); });

// Sizes whose rows need padding, or whose height is odd, still come out the right way up;
// a 4:2:0 stream is an even number of rows high (stretched, not padded), lossless ones
// keep the exact size.
struct SizeRow {
  const char* fourcc;
  const char* file;
  int width, height;
  int stored_height;
};

void PrintTo(const SizeRow& c, std::ostream* os) {
  *os << c.fourcc << " " << c.file << " " << c.width << "x" << c.height;
}

class AviSizeTest : public ::testing::TestWithParam<SizeRow> {};

TEST_P(AviSizeTest, OddSizesKeepTheirPicture) {
  const auto [fourcc, file, width, height, stored_height] = GetParam();
  if (std::string(fourcc) != "DIB " && !HasEncoder(fourcc)) GTEST_SKIP();
  TempDir dir("avi-size");
  const std::string out = dir.File(file);
  const Bgr top{0, 0, 240}, bottom{240, 0, 0};
  MovieWriter w;
  ASSERT_TRUE(w.Open(out));
  ASSERT_TRUE(w.WriteFrame(TwoTone(width, height, top, bottom).View(), 10, Choice(fourcc)))
      << w.Error();
  ASSERT_TRUE(w.Finish()) << w.Error();
  const auto frames = test::DecodeAllFrames(out);
  ASSERT_EQ(frames.size(), 1u);
  ASSERT_EQ(frames[0].width, width);
  ASSERT_EQ(frames[0].height, stored_height);
  double got_top[3], got_bottom[3], last_row[3];
  frames[0].MeanColour(0, 0, width, stored_height / 2 - 2, got_top);
  frames[0].MeanColour(0, stored_height / 2 + 2, width, stored_height, got_bottom);
  frames[0].MeanColour(0, stored_height - 1, width, stored_height, last_row);
  EXPECT_NEAR(got_top[2], 240, 12);
  EXPECT_NEAR(got_top[0], 0, 12);
  EXPECT_NEAR(got_bottom[0], 240, 12);
  EXPECT_NEAR(got_bottom[2], 0, 12);
  EXPECT_NEAR(last_row[0], 240, 12) << "the last row is picture";
}

INSTANTIATE_TEST_SUITE_P(Sizes, AviSizeTest,
                         ::testing::Values(SizeRow{"DIB ", "odd.avi", 30, 20, 20},
                                           SizeRow{"DIB ", "odd.avi", 33, 17, 17},
                                           SizeRow{"MJPG", "odd.avi", 30, 21, 21},
                                           SizeRow{"H264", "odd.avi", 36, 21, 22},
                                           SizeRow{"H264", "odd.mkv", 36, 21, 22},
                                           SizeRow{"FMP4", "odd.mp4", 36, 21, 22},
                                           SizeRow{"VP90", "odd.webm", 36, 21, 22},
                                           SizeRow{"FFV1", "odd.avi", 30, 21, 21},
                                           SizeRow{"HFYU", "odd.avi", 32, 21, 21}));

// ---- key frames: how far apart each container keeps them ----

struct KeyFrameCase {
  const char* name;
  const char* file;
  const char* fourcc;
  int32_t fps;
  int32_t stored_every;  // > 0: the record's KeyFrameEvery with its flag
  int most_apart;        // frames between key frames at most, and (but 1) at least nearly
};

void PrintTo(const KeyFrameCase& c, std::ostream* os) { *os << c.name; }

class KeyFrameTest : public ::testing::TestWithParam<KeyFrameCase> {};

// ffprobe reads the key frames; the encoder is flushed at the end, B-frames and all, so
// every frame written is in the movie.
TEST_P(KeyFrameTest, KeyFramesComeAsOftenAsTheContainerWants) {
  const KeyFrameCase& c = GetParam();
  if (!HasEncoder(c.fourcc)) GTEST_SKIP() << "no encoder for " << c.fourcc;
  constexpr int kFrames = 260;
  TempDir dir("key-frames");
  const std::string out = dir.File(c.file);
  // Fast settings only; the spacing stays the writer's.
  EncoderChoice choice = Choice(c.fourcc, 0, std::string(c.fourcc) == "VP90"
                                                 ? "deadline=realtime\ncpu-used=8\n"
                                                 : "preset=ultrafast\n");
  if (c.stored_every > 0) {
    choice.record.dwFlags = kAviCompressKeyFrames;
    choice.record.dwKeyFrameEvery = c.stored_every;
  }
  {
    MovieWriter w;
    ASSERT_TRUE(w.Open(out, &choice)) << w.Error();
    for (int k = 0; k < kFrames; ++k)
      // Light that changes slowly: no scene cut, so only the spacing makes key frames.
      ASSERT_TRUE(w.WriteFrame(Flat(64, 48, {static_cast<uint8_t>(40 + k / 2), 120, 200}).View(),
                               c.fps, choice))
          << w.Error();
    ASSERT_TRUE(w.Finish()) << w.Error();
  }
  const std::vector<bool> keys = test::KeyFlagsByFfprobe(out);
  ASSERT_EQ(keys.size(), static_cast<size_t>(kFrames));
  ASSERT_TRUE(keys[0]);
  int widest = 0;
  for (int k = 0, last = 0; k < kFrames; ++k) {
    if (!keys[k]) continue;
    widest = std::max(widest, k - last);
    last = k;
  }
  EXPECT_LE(widest, c.most_apart);
  // B-frames may shift a key frame in file order by a few packets.
  EXPECT_GE(widest, c.most_apart > 1 ? c.most_apart - 3 : 1);
}

INSTANTIATE_TEST_SUITE_P(
    Containers, KeyFrameTest,
    ::testing::Values(KeyFrameCase{"Mp4Stored", "m.mp4", "H264", 30, 40, 40},
                      KeyFrameCase{"Mp4TenSeconds", "m.mp4", "H264", 10, 0, 100},
                      KeyFrameCase{"Mp4EncodersOwn", "m.mp4", "H264", 30, 0, 250},
                      KeyFrameCase{"MovStored", "m.mov", "H264", 25, 30, 30},
                      KeyFrameCase{"MovTenSeconds", "m.mov", "H264", 10, 0, 100},
                      KeyFrameCase{"MovEncodersOwn", "m.mov", "H264", 25, 0, 250},
                      KeyFrameCase{"MatroskaStored", "m.mkv", "H264", 30, 60, 60},
                      KeyFrameCase{"MatroskaTenSeconds", "m.mkv", "H264", 10, 0, 100},
                      KeyFrameCase{"MatroskaEncodersOwn", "m.mkv", "H264", 30, 0, 250},
                      KeyFrameCase{"WebmStored", "m.webm", "VP90", 30, 50, 50},
                      KeyFrameCase{"WebmTenSeconds", "m.webm", "VP90", 10, 0, 100},
                      KeyFrameCase{"WebmEncodersOwn", "m.webm", "VP90", 30, 0, 250},
                      // AVI: every frame, whatever is stored
                      KeyFrameCase{"AviStored", "m.avi", "H264", 30, 40, 1},
                      KeyFrameCase{"AviTenSeconds", "m.avi", "H264", 10, 0, 1},
                      KeyFrameCase{"AviEncodersOwn", "m.avi", "H264", 30, 0, 1}),
    [](const auto& p) { return std::string(p.param.name); });

// ---- the temporary file and the output path ----

TEST(MovieWriterFileTest, WritesUnderHiddenTemporaryNameAndRenamesOnFinish) {
  TempDir dir("avi-temp");
  const std::string out = dir.File("movie.avi");
  MovieWriter w;
  ASSERT_TRUE(w.Open(out));
  ASSERT_TRUE(w.WriteFrame(Flat(64, 48, {1, 2, 3}).View(), 15, Choice("DIB ")));
  EXPECT_FALSE(fs::exists(out));
  const auto during = Entries(dir.Path());
  ASSERT_EQ(during.size(), 1u);
  EXPECT_EQ(during[0].rfind(".movie.avi.", 0), 0u) << during[0];
  ASSERT_TRUE(w.Finish()) << w.Error();
  EXPECT_EQ(Entries(dir.Path()), std::vector<std::string>{"movie.avi"});
  struct stat st {};
  ASSERT_EQ(stat(out.c_str(), &st), 0);
  EXPECT_NE(st.st_mode & 0044, 0u) << "the movie must not keep the private mode of a temp file";
}

TEST(MovieWriterFileTest, TemporaryNamesNeverCollide) {
  TempDir dir("avi-two");
  const std::string long_name = std::string(250, 'm') + ".avi";  // at the name limit
  for (const std::string& name : {std::string("m.avi"), long_name}) {
    const size_t before = Entries(dir.Path()).size();
    MovieWriter a, b;
    ASSERT_TRUE(a.Open(dir.File(name))) << a.Error();
    ASSERT_TRUE(b.Open(dir.File(name))) << b.Error();
    EXPECT_EQ(Entries(dir.Path()).size(), before + 2);
    ASSERT_TRUE(a.Finish());
    EXPECT_TRUE(fs::exists(dir.File(name)));
  }
}

TEST(MovieWriterFileTest, UnfinishedWriterRemovesItsTemporaryFile) {
  TempDir dir("avi-drop");
  WriteText(dir.File("movie.avi"), "earlier movie");
  {
    MovieWriter w;
    ASSERT_TRUE(w.Open(dir.File("movie.avi")));
    ASSERT_TRUE(w.WriteFrame(Flat(64, 48, {9, 9, 9}).View(), 15, Choice("MJPG")));
  }
  EXPECT_EQ(Entries(dir.Path()), std::vector<std::string>{"movie.avi"});
  EXPECT_EQ(ReadText(dir.File("movie.avi")), "earlier movie");
}

TEST(MovieWriterFileTest, ExistingOutputIsReplacedOnlyBySuccess) {
  TempDir dir("avi-replace");
  const std::string out = dir.File("movie.avi");
  WriteText(out, "earlier movie");
  {
    MovieWriter w;
    ASSERT_TRUE(w.Open(out));
    EXPECT_FALSE(w.WriteFrame(Flat(64, 48, {9, 9, 9}).View(), 15, Choice("ZZZZ")));
    EXPECT_FALSE(w.Finish());
  }
  EXPECT_EQ(ReadText(out), "earlier movie");
  EXPECT_EQ(Entries(dir.Path()).size(), 1u);
  {
    MovieWriter w;
    ASSERT_TRUE(w.Open(out));
    ASSERT_TRUE(w.WriteFrame(Flat(64, 48, {9, 9, 9}).View(), 15, Choice("DIB ")));
    ASSERT_TRUE(w.Finish());
  }
  EXPECT_EQ(test::ProbeMovie(out).FrameCount(), 1);
}

TEST(MovieWriterFileTest, NoFrameGivesAMovieWithoutStream) {
  TempDir dir("avi-empty");
  const std::string out = dir.File("movie.avi");
  WriteText(out, "earlier movie");
  MovieWriter w;
  ASSERT_TRUE(w.Open(out));
  ASSERT_TRUE(w.Finish()) << w.Error();
  const test::ProbedMovie movie = test::ProbeMovie(out);
  ASSERT_TRUE(movie.opened) << movie.error;
  EXPECT_EQ(movie.stream_count, 0);
  EXPECT_EQ(Entries(dir.Path()).size(), 1u);
}

// An output that is a link stays one; the file it leads to (which may not exist yet) gets
// the movie, and the temporary file is written beside that file.
TEST(MovieWriterFileTest, LinkedOutputKeepsTheLinkAndReplacesItsTarget) {
  const struct {
    const char* name;
    std::vector<std::pair<std::string, std::string>> links;  // link in links/, what it holds
    bool target_exists;
  } cases[] = {
      {"relative", {{"out.avi", "../real/movie.avi"}}, true},
      {"dangling", {{"out.avi", "../real/movie.avi"}}, false},
      {"chain", {{"out.avi", "hop.avi"}, {"hop.avi", "../real/../real/movie.avi"}}, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir("avi-link");
    fs::create_directories(dir.File("links"));
    fs::create_directories(dir.File("real"));
    if (c.target_exists) WriteText(dir.File("real/movie.avi"), "earlier movie");
    for (const auto& [link, to] : c.links) fs::create_symlink(to, dir.File("links/" + link));
    const auto links = Entries(dir.File("links"));
    MovieWriter w;
    ASSERT_TRUE(w.Open(dir.File("links/out.avi"))) << w.Error();
    ASSERT_TRUE(w.WriteFrame(Flat(64, 48, {1, 2, 3}).View(), 15, Choice("DIB ")));
    ASSERT_TRUE(w.Finish()) << w.Error();
    EXPECT_EQ(Entries(dir.File("links")), links);
    EXPECT_TRUE(fs::is_symlink(dir.File("links/out.avi")));
    EXPECT_EQ(Entries(dir.File("real")), std::vector<std::string>{"movie.avi"});
    EXPECT_EQ(test::ProbeMovie(dir.File("real/movie.avi")).FrameCount(), 1);
  }
}

// Any writer can replace its output the same way: nothing changes until the commit.
TEST(OutputReplacementTest, TheOutputChangesOnlyOnCommit) {
  TempDir dir("avi-replace-bytes");
  const std::string out = dir.File("notes.txt");
  WriteText(out, "earlier");
  const auto bytes = [](const char* text) { return reinterpret_cast<const uint8_t*>(text); };
  {
    OutputReplacement file;
    ASSERT_TRUE(file.Open(out, ".txt", false)) << file.Error();
    ASSERT_TRUE(file.Write(bytes("dropped"), 7));
  }
  EXPECT_EQ(Entries(dir.Path()), std::vector<std::string>{"notes.txt"});
  OutputReplacement file;
  ASSERT_TRUE(file.Open(out, ".txt", false)) << file.Error();
  ASSERT_TRUE(file.Write(bytes("new notes"), 9));
  EXPECT_EQ(file.Seek(0, SEEK_SET), 0);
  ASSERT_TRUE(file.Write(bytes("N"), 1));
  EXPECT_EQ(file.Size(), 9);
  EXPECT_EQ(ReadText(out), "earlier");
  ASSERT_TRUE(file.Commit()) << file.Error();
  EXPECT_EQ(ReadText(out), "New notes");
  EXPECT_EQ(Entries(dir.Path()), std::vector<std::string>{"notes.txt"});
}

struct OpenFailure {
  const char* name;
  std::string (*prepare)(const TempDir& dir);  // returns the output path
  const char* reason;
};

const OpenFailure kOpenFailures[] = {
    {"MissingFolder", [](const TempDir& d) { return d.File("no/such/movie.avi"); },
     "No such file or directory"},
    {"ReadOnlyOutput",
     [](const TempDir& d) {
       WriteText(d.File("movie.avi"), "keep me");
       fs::permissions(d.File("movie.avi"), fs::perms::owner_read | fs::perms::group_read);
       return d.File("movie.avi");
     },
     "Permission denied"},
    {"OutputIsFolder",
     [](const TempDir& d) {
       fs::create_directory(d.File("movie.avi"));
       return d.File("movie.avi");
     },
     "Is a directory"},
    {"LinkLoop",
     [](const TempDir& d) {
       fs::create_symlink("b.avi", d.File("a.avi"));
       fs::create_symlink("a.avi", d.File("b.avi"));
       return d.File("a.avi");
     },
     "Too many levels of symbolic links"},
};

TEST(MovieWriterFileTest, OpenFailsWithPathAndReason) {
  for (const OpenFailure& f : kOpenFailures) {
    SCOPED_TRACE(f.name);
    TempDir dir("avi-open");
    const std::string out = f.prepare(dir);
    const auto before = Entries(dir.Path());
    MovieWriter w;
    EXPECT_FALSE(w.Open(out));
    EXPECT_EQ(w.Error(), "cannot open output " + out + ": " + f.reason);
    EXPECT_EQ(Entries(dir.Path()), before) << "nothing created, nothing removed";
    EXPECT_FALSE(w.WriteFrame(Flat(8, 8, {}).View(), 15, Choice("DIB ")));
  }
}

TEST(MovieWriterFileTest, FailedRenameRemovesTemporaryAndKeepsWhatIsThere) {
  TempDir dir("avi-rename");
  const std::string out = dir.File("movie.avi");
  MovieWriter w;
  ASSERT_TRUE(w.Open(out));
  ASSERT_TRUE(w.WriteFrame(Flat(64, 48, {5, 5, 5}).View(), 15, Choice("DIB ")));
  fs::create_directories(dir.File("movie.avi/inside"));  // appears while the run goes on
  EXPECT_FALSE(w.Finish());
  EXPECT_NE(w.Error().find("cannot replace output " + out), std::string::npos) << w.Error();
  EXPECT_EQ(Entries(dir.Path()), std::vector<std::string>{"movie.avi"});
  EXPECT_TRUE(fs::is_directory(out));
}

TEST(MovieWriterFileTest, FullDiskDuringWritingKeepsEarlierMovie) {
  TempDir dir("avi-full");
  const std::string out = dir.File("movie.avi");
  WriteText(out, "earlier movie");
  auto old_handler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit old_limit{};
  getrlimit(RLIMIT_FSIZE, &old_limit);
  MovieWriter w;
  ASSERT_TRUE(w.Open(out));
  rlimit small = old_limit;
  small.rlim_cur = 40000;  // the file system fills after a few frames
  setrlimit(RLIMIT_FSIZE, &small);
  for (int k = 0; k < 12; ++k) w.WriteFrame(Flat(64, 48, {7, 7, 7}).View(), 15, Choice("DIB "));
  const bool finished = w.Finish();
  setrlimit(RLIMIT_FSIZE, &old_limit);
  std::signal(SIGXFSZ, old_handler);
  EXPECT_FALSE(finished);
  EXPECT_EQ(ReadText(out), "earlier movie");
  EXPECT_EQ(Entries(dir.Path()).size(), 1u);
}

// ---- the compression record ----

TEST(MovieWriterCompressionTest, CodeWithoutEncoderFailsTheStream) {
  for (const char* fourcc : {"ZZZZ", "qq12"}) {
    SCOPED_TRACE(fourcc);
    if (HasEncoder(fourcc)) continue;
    TempDir dir("avi-nocodec");
    MovieWriter w;
    ASSERT_TRUE(w.Open(dir.File("m.avi")));
    EXPECT_FALSE(w.WriteFrame(Flat(64, 48, {}).View(), 15, Choice(fourcc)));
    EXPECT_NE(w.Error().find(FourccToText(FourccFromText(fourcc))), std::string::npos) << w.Error();
    EXPECT_FALSE(w.WriteFrame(Flat(64, 48, {}).View(), 15, Choice("DIB ")));
    EXPECT_EQ(w.FramesWritten(), 0);
  }
}

struct SizeCase {
  const char* name;
  const char* fourcc;
  int32_t small_quality, large_quality;    // dwQuality of the smaller and the larger file
  int32_t small_rate = 0, large_rate = 0;  // dwBytesPerSecond with the data-rate flag
};

uintmax_t MovieBytes(const TempDir& dir, const SizeCase& c, bool large) {
  const std::string out = dir.File(std::string(c.name) + (large ? "-large.avi" : "-small.avi"));
  EncoderChoice choice = Choice(c.fourcc, large ? c.large_quality : c.small_quality);
  if (c.small_rate > 0) {
    choice.record.dwFlags = kAviCompressDataRate;
    choice.record.dwBytesPerSecond = large ? c.large_rate : c.small_rate;
  }
  MovieWriter w;
  EXPECT_TRUE(w.Open(out));
  for (int k = 0; k < 3; ++k) EXPECT_TRUE(w.WriteFrame(Textured(64, 48, k).View(), 15, choice));
  EXPECT_TRUE(w.Finish()) << w.Error();
  return fs::file_size(out);
}

TEST(MovieWriterCompressionTest, QualityAndDataRateMoveTheSizeTheRightWay) {
  const SizeCase cases[] = {
      {"MjpegQuality", "MJPG", 500, 9500},
      {"Mpeg4Quality", "XVID", 1000, 10000},
      {"H264Quality", "H264", 1000, 9000},
      {"Mpeg4DataRate", "FMP4", 8000, 8000, 2000, 400000},
  };
  for (const SizeCase& c : cases) {
    SCOPED_TRACE(c.name);
    if (!HasEncoder(c.fourcc)) continue;
    TempDir dir("avi-size");
    EXPECT_LT(MovieBytes(dir, c, false) * 3 / 2, MovieBytes(dir, c, true));
  }
}

// A camera-like picture: smooth light with a little grain.
TestFrame Scene(int w, int h, int seed) {
  TestFrame f(w, h);
  uint32_t s = 2463534242u + seed;
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      s ^= s << 13;
      s ^= s >> 17;
      s ^= s << 5;
      const int grain = static_cast<int>(s % 5) - 2;
      uint8_t* p = f.pixels.data() + static_cast<size_t>(y) * f.stride + x * 3;
      p[0] = static_cast<uint8_t>(std::clamp(60 + x * 120 / w + grain, 0, 255));
      p[1] = static_cast<uint8_t>(std::clamp(90 + y * 100 / h + grain, 0, 255));
      p[2] = static_cast<uint8_t>(std::clamp(200 - (x + y) * 80 / (w + h) + grain, 0, 255));
    }
  }
  return f;
}

// MJPEG at a fixed quality (the default position's too) with nothing else asked is
// compressed by TurboJPEG; a data rate or any encoder option need libavcodec's encoder,
// which signs every frame "Lavc". Either way the movie holds MJPEG key frames of the picture.
TEST(MovieWriterCompressionTest, MjpegTakesTheFastPathOnlyWhenNothingElseIsAsked) {
  if (!HasEncoder("MJPG")) GTEST_SKIP();
  const struct {
    const char* name;
    int32_t quality;
    const char* parms;
    int32_t bytes_per_second;  // > 0: a data rate
    bool libavcodec;
  } cases[] = {
      {"fixed quality", 8000, "", 0, false},
      {"encoder named", 8000, "encoder=mjpeg", 0, false},
      {"default quality", 0, "", 0, false},
      {"encoder option", 8000, "huffman=default", 0, true},
      {"data rate", 8000, "", 20000, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir("avi-mjpeg");
    const std::string out = dir.File("m.avi");
    EncoderChoice choice = Choice("MJPG", c.quality, c.parms);
    if (c.bytes_per_second > 0) {
      choice.record.dwFlags = kAviCompressDataRate;
      choice.record.dwBytesPerSecond = c.bytes_per_second;
    }
    MovieWriter w;
    ASSERT_TRUE(w.Open(out));
    const Bgr top{20, 220, 230}, bottom{200, 40, 40};
    for (int k = 0; k < 3; ++k)
      ASSERT_TRUE(w.WriteFrame(TwoTone(64, 48, top, bottom).View(), 15, choice)) << w.Error();
    ASSERT_TRUE(w.Finish()) << w.Error();
    EXPECT_EQ(ReadText(out).find("Lavc") != std::string::npos, c.libavcodec);
    const test::ProbedMovie movie = test::ProbeMovie(out);
    EXPECT_EQ(movie.codec_name, "mjpeg");
    EXPECT_EQ(movie.codec_tag, static_cast<uint32_t>(FourccFromText("MJPG")));
    ASSERT_EQ(movie.FrameCount(), 3);
    for (bool key : movie.key_flags) EXPECT_TRUE(key);
    const auto frames = test::DecodeAllFrames(out);
    ASSERT_EQ(frames.size(), 3u);
    double got[3];
    frames[2].MeanColour(4, 2, 60, 20, got);
    EXPECT_NEAR(got[0], top.b, 12);
    EXPECT_NEAR(got[2], top.r, 12);
    frames[2].MeanColour(4, 28, 60, 46, got);
    EXPECT_NEAR(got[0], bottom.b, 12);
    EXPECT_NEAR(got[2], bottom.r, 12);
  }
}

// The quality setting means much the same on both paths: TurboJPEG's movie shrinks as the
// setting falls and stays within a small factor of libavcodec's at the same setting (it
// quantises without libavcodec's dead zone, so it keeps more grain and is the larger).
TEST(MovieWriterCompressionTest, MjpegQualityMeansMuchTheSameOnBothPaths) {
  if (!HasEncoder("MJPG")) GTEST_SKIP();
  uintmax_t previous = 0;
  for (int32_t quality : {9500, 7700, 3000}) {
    SCOPED_TRACE(quality);
    uintmax_t bytes[2] = {0, 0};
    for (int path = 0; path < 2; ++path) {
      TempDir dir("avi-mjpeg-size");
      const std::string out = dir.File("m.avi");
      MovieWriter w;
      ASSERT_TRUE(w.Open(out));
      // An option the encoder does not know still sends the frames through libavcodec.
      const EncoderChoice choice = Choice("MJPG", quality, path == 0 ? "" : "nosuchkey=1");
      for (int k = 0; k < 4; ++k)
        ASSERT_TRUE(w.WriteFrame(Scene(320, 240, k).View(), 15, choice)) << w.Error();
      ASSERT_TRUE(w.Finish()) << w.Error();
      bytes[path] = fs::file_size(out);
    }
    const double ratio = static_cast<double>(bytes[0]) / static_cast<double>(bytes[1]);
    EXPECT_GT(ratio, 0.5) << bytes[0] << " vs " << bytes[1];
    EXPECT_LT(ratio, 2.5) << bytes[0] << " vs " << bytes[1];
    if (previous != 0) {
      EXPECT_LT(bytes[0], previous);
    }
    previous = bytes[0];
  }
}

// Uncompressed rows go into the file as they are; rows padded beyond 4 bytes are cut back.
TEST(MovieWriterCompressionTest, UncompressedFramesWithWideRowsKeepTheirPicture) {
  const Bgr top{0, 0, 240}, bottom{240, 0, 0};
  for (int extra : {0, 8, 64}) {
    SCOPED_TRACE(extra);
    const TestFrame tight = TwoTone(30, 20, top, bottom);
    const int stride = tight.stride + extra;
    std::vector<uint8_t> wide(static_cast<size_t>(stride) * tight.height, 0x55);
    for (int y = 0; y < tight.height; ++y)
      std::memcpy(wide.data() + static_cast<size_t>(y) * stride,
                  tight.pixels.data() + static_cast<size_t>(y) * tight.stride, tight.stride);
    TempDir dir("avi-wide");
    const std::string out = dir.File("w.avi");
    MovieWriter w;
    ASSERT_TRUE(w.Open(out));
    for (int k = 0; k < 2; ++k)
      ASSERT_TRUE(w.WriteFrame(FrameView{wide.data(), 30, 20, stride}, 10, Choice("DIB ")));
    ASSERT_TRUE(w.Finish()) << w.Error();
    const auto frames = test::DecodeAllFrames(out);
    ASSERT_EQ(frames.size(), 2u);
    for (const auto& f : frames) {
      double got[3];
      f.MeanColour(0, 0, 30, 8, got);
      EXPECT_EQ(got[2], 240);
      EXPECT_EQ(got[0], 0);
      f.MeanColour(0, 12, 30, 20, got);
      EXPECT_EQ(got[0], 240);
      EXPECT_EQ(got[2], 0);
    }
  }
}

TEST(MovieWriterCompressionTest, ParameterLinesReachTheEncoder) {
  // libx264 and libx265 write their settings into the stream; ultrafast switches CABAC off.
  // Their own lookahead unless the user sets one, as an option of its own or in the
  // encoder's parameter string (AVI's key frames leave no lookahead, hence MP4).
  const struct {
    std::string parms;
    const char* expect;
    const char* fourcc = "H264";
    const char* file = "m.avi";
  } cases[] = {
      {"", "cabac=1"},
      {"preset=ultrafast", "cabac=0"},
      {"nosuchkey=1\n  preset = ultrafast \r\n", "cabac=0"},
      {std::string("preset=medium\0preset=ultrafast", 30), "cabac=1"},
      {"preset=ultrafast\ng=250\nbf=3", "cabac=0"},  // key frames stay whatever is asked
      {"", " rc_lookahead=40 ", "H264", "m.mp4"},
      {"rc-lookahead=25", " rc_lookahead=25 ", "H264", "m.mp4"},
      {"x264-params=bframes=2:rc-lookahead=30", " rc_lookahead=30 ", "H264", "m.mp4"},
      {"", " rc-lookahead=20 ", "HEVC", "m.mp4"},
      {"x265-params=rc-lookahead=15", " rc-lookahead=15 ", "HEVC", "m.mp4"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.parms);
    if (!HasEncoder(c.fourcc)) continue;
    TempDir dir("avi-parms");
    const std::string out = dir.File(c.file);
    MovieWriter w;
    ASSERT_TRUE(w.Open(out));
    for (int k = 0; k < 3; ++k)
      ASSERT_TRUE(w.WriteFrame(Textured(64, 48, k).View(), 15, Choice(c.fourcc, 8000, c.parms)));
    ASSERT_TRUE(w.Finish()) << w.Error();
    EXPECT_NE(ReadText(out).find(c.expect), std::string::npos);
    const test::ProbedMovie movie = test::ProbeMovie(out);
    ASSERT_EQ(movie.FrameCount(), 3);
    if (IsAviContainer(ContainerForPath(out))) {
      for (bool key : movie.key_flags) EXPECT_TRUE(key);
    }
  }
}

// A hardware encoder without its device (here none has one, or they are switched off)
// gives the software encoder of its code and a note that says which and why; its own
// options are passed over, and the movie is made.
TEST(MovieWriterCompressionTest, HardwareEncoderWithoutItsDeviceFallsBackToSoftware) {
  const struct {
    const char* fourcc;
    const char* hardware;
    const char* software;
    const char* codec;  // as read back
    const char* file;
  } cases[] = {
      {"H264", "h264_vaapi", "libx264", "h264", "m.avi"},
      {"HEVC", "hevc_nvenc", "libx265", "hevc", "m.mkv"},
      {"H264", "h264_qsv", "libx264", "h264", "m.mp4"},
      {"H264", "h264_v4l2m2m", "libx264", "h264", "m.mov"},
      {"MJPG", "mjpeg_vaapi", "mjpeg", "mjpeg", "m.avi"},
  };
  for (const char* switch_off : {static_cast<const char*>(nullptr), "1"}) {
    test::EnvGuard off("CHRONOREEL_NO_HARDWARE_ENCODERS", switch_off);
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(c.hardware) + (switch_off ? ", switched off" : ""));
      if (IsHardwareEncoderAvailable(c.hardware) || !avcodec_find_encoder_by_name(c.software))
        continue;
      const EncoderChoice choice =
          Choice(c.fourcc, 8000, std::string("encoder=") + c.hardware + "\nlow_power=1\nrc_mode=CQP\n");
      const EncoderPlan plan = PlanEncoder(choice, ContainerForPath(c.file), 64, 48);
      ASSERT_EQ(plan.error, "");
      EXPECT_EQ(plan.encoder, c.software);
      EXPECT_EQ(plan.note, std::string(c.hardware) + " cannot be used here (" +
                               HardwareUnavailableReason(c.hardware) + "): " + c.software +
                               " is used instead");
      TempDir dir("hw-fallback");
      const std::string out = dir.File(c.file);
      MovieWriter w;
      ASSERT_TRUE(w.Open(out, &choice)) << w.Error();
      for (int k = 0; k < 3; ++k)
        ASSERT_TRUE(w.WriteFrame(Textured(64, 48, k).View(), 15, choice)) << w.Error();
      ASSERT_TRUE(w.Finish()) << w.Error();
      const test::ProbedMovie movie = test::ProbeMovie(out);
      EXPECT_EQ(movie.codec_name, c.codec);
      EXPECT_EQ(movie.FrameCount(), 3);
    }
  }
  // A software encoder named is no hardware matter: no note.
  EXPECT_EQ(PlanEncoder(Choice("FMP4", 8000, "encoder=mjpeg"), "avi", 64, 48).note, "");
}

}  // namespace
}  // namespace chronoreel
