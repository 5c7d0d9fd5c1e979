// Stills that are not what they claim to be, or that change under the run: each gives a
// frame or no frame, the stills after it are untouched, and the run neither crashes nor
// stalls.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

// libjpeg itself, for the kinds of still that the TurboJPEG API cannot write.
#include <jpeglib.h>
#include <turbojpeg.h>

#include "engine/frame_composer.h"
#include "engine/movie_gen.h"
#include "support/fake_host.h"
#include "support/jpeg_maker.h"
#include "support/probe_movie.h"
#include "support/test_files.h"
#include "time/sun.h"

namespace chronoreel {
namespace {

namespace fs = std::filesystem;

constexpr int kWidth = 96;
constexpr int kHeight = 64;
constexpr uint32_t kBefore = 0x2020D0;   // the good still before the hostile one
constexpr uint32_t kHostile = 0xD02020;  // the hostile still's picture, where it has one
constexpr uint32_t kAfter = 0x20D020;    // the good still after it

using Bytes = std::vector<uint8_t>;

// ---- making the stills ----

struct CompressOwner {
  jpeg_compress_struct info{};
  jpeg_error_mgr error{};
  CompressOwner() {
    info.err = jpeg_std_error(&error);  // a libjpeg error ends the test program
    jpeg_create_compress(&info);
  }
  ~CompressOwner() { jpeg_destroy_compress(&info); }
  CompressOwner(const CompressOwner&) = delete;
  CompressOwner& operator=(const CompressOwner&) = delete;
};

// A flat still written by libjpeg with arithmetic instead of Huffman coding.
Bytes ArithmeticJpeg(int width, int height, uint32_t color) {
  CompressOwner c;
  unsigned char* out = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&c.info, &out, &size);
  c.info.image_width = static_cast<JDIMENSION>(width);
  c.info.image_height = static_cast<JDIMENSION>(height);
  c.info.input_components = 3;
  c.info.in_color_space = JCS_RGB;
  jpeg_set_defaults(&c.info);
  jpeg_set_quality(&c.info, 95, TRUE);
  c.info.arith_code = TRUE;
  jpeg_start_compress(&c.info, TRUE);
  Bytes row(static_cast<size_t>(width) * 3);
  for (int x = 0; x < width; ++x) {
    row[x * 3] = static_cast<uint8_t>(color >> 16);
    row[x * 3 + 1] = static_cast<uint8_t>(color >> 8);
    row[x * 3 + 2] = static_cast<uint8_t>(color);
  }
  while (c.info.next_scanline < c.info.image_height) {
    JSAMPROW rows[1] = {row.data()};
    jpeg_write_scanlines(&c.info, rows, 1);
  }
  jpeg_finish_compress(&c.info);
  const std::unique_ptr<unsigned char, decltype(&std::free)> held(out, &std::free);
  return Bytes(out, out + size);
}

// Position of the first marker FF `code` after SOI, or npos.
size_t FindMarker(const Bytes& jpeg, uint8_t code) {
  for (size_t i = 2; i + 1 < jpeg.size(); ++i) {
    if (jpeg[i] == 0xFF && jpeg[i + 1] == code) return i;
  }
  return std::string::npos;
}

// A progressive still (TurboJPEG writes one when asked).
Bytes ProgressiveJpeg(uint32_t color) {
  Bytes jpeg = MakeFlatJpeg(kWidth, kHeight, color);
  // Rewriting the scan is TurboJPEG's lossless transform with the progressive option.
  tjhandle raw = tjInitTransform();
  const std::unique_ptr<void, int (*)(tjhandle)> transformer(raw, tjDestroy);
  unsigned char* out = nullptr;
  unsigned long size = 0;
  tjtransform xform{};
  xform.options = TJXOPT_PROGRESSIVE;
  if (tjTransform(raw, jpeg.data(), jpeg.size(), 1, &out, &size, &xform, 0) != 0) {
    throw std::runtime_error(tjGetErrorStr2(raw));
  }
  const std::unique_ptr<unsigned char, void (*)(unsigned char*)> held(out, tjFree);
  return Bytes(out, out + size);
}

// A 12-bit still: the frame header says SOF1 with 12 bits of precision.
Bytes TwelveBitJpeg() {
  Bytes jpeg = MakeFlatJpeg(kWidth, kHeight, kHostile);
  const size_t sof = FindMarker(jpeg, 0xC0);
  jpeg.at(sof + 1) = 0xC1;
  jpeg.at(sof + 4) = 12;
  return jpeg;
}

Bytes CmykJpeg() {
  const std::vector<uint8_t> cmyk(static_cast<size_t>(kWidth) * kHeight * 4, 0x40);
  tjhandle raw = tjInitCompress();
  const std::unique_ptr<void, int (*)(tjhandle)> compressor(raw, tjDestroy);
  unsigned char* out = nullptr;
  unsigned long size = 0;
  if (tjCompress2(raw, cmyk.data(), kWidth, 0, kHeight, TJPF_CMYK, &out, &size, TJSAMP_444, 90,
                  0) != 0) {
    throw std::runtime_error(tjGetErrorStr2(raw));
  }
  const std::unique_ptr<unsigned char, void (*)(unsigned char*)> held(out, tjFree);
  return Bytes(out, out + size);
}

// What a camera writes when only the metadata arrived: SOI, an Exif block that carries a
// complete thumbnail, EOI, and no picture of its own.
Bytes ExifOnlyJpeg() {
  const Bytes thumb = MakeFlatJpeg(16, 16, kHostile);
  Bytes tiff = {'I', 'I', 42, 0, 8, 0, 0, 0, 0, 0, 0, 0, 0, 0};  // header, empty IFD
  std::string head = "Exif";
  head.push_back('\0');
  head.push_back('\0');
  Bytes app1(head.begin(), head.end());
  app1.insert(app1.end(), tiff.begin(), tiff.end());
  app1.insert(app1.end(), thumb.begin(), thumb.end());
  const size_t length = app1.size() + 2;
  Bytes jpeg = {0xFF, 0xD8, 0xFF, 0xE1, static_cast<uint8_t>(length >> 8),
                static_cast<uint8_t>(length)};
  jpeg.insert(jpeg.end(), app1.begin(), app1.end());
  jpeg.push_back(0xFF);
  jpeg.push_back(0xD9);
  return jpeg;
}

// A real 1x1 PNG.
Bytes Png() {
  return {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A, 0x00, 0x00, 0x00, 0x0D, 0x49, 0x48,
          0x44, 0x52, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x08, 0x02, 0x00, 0x00,
          0x00, 0x90, 0x77, 0x53, 0xDE, 0x00, 0x00, 0x00, 0x0C, 0x49, 0x44, 0x41, 0x54, 0x08,
          0xD7, 0x63, 0xF8, 0xCF, 0xC0, 0x00, 0x00, 0x03, 0x01, 0x01, 0x00, 0x18, 0xDD, 0x8D,
          0xB0, 0x00, 0x00, 0x00, 0x00, 0x49, 0x45, 0x4E, 0x44, 0xAE, 0x42, 0x60, 0x82};
}

// A 2x2 24-bit Windows bitmap.
Bytes Bmp() {
  Bytes b = {'B', 'M', 70, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0,  // file header
             40, 0, 0, 0, 2, 0, 0, 0, 2, 0, 0, 0, 1, 0, 24, 0, 0, 0, 0, 0, 16, 0, 0, 0,
             0x13, 0x0B, 0, 0, 0x13, 0x0B, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  for (int row = 0; row < 2; ++row) {
    for (int px = 0; px < 2; ++px) b.insert(b.end(), {0x20, 0x20, 0xD0});
    b.insert(b.end(), {0, 0});  // rows padded to 4 bytes
  }
  return b;
}

Bytes Prefix(const Bytes& jpeg, size_t n) { return Bytes(jpeg.begin(), jpeg.begin() + n); }

// The still cut right after the scan header: every header is there, no picture data.
Bytes HeadersOnly() {
  const Bytes jpeg = MakeFlatJpeg(kWidth, kHeight, kHostile);
  const size_t sos = FindMarker(jpeg, 0xDA);
  const size_t length = static_cast<size_t>(jpeg.at(sos + 2)) << 8 | jpeg.at(sos + 3);
  return Prefix(jpeg, sos + 2 + length);
}

Bytes CutInPictureData() {
  const Bytes jpeg = MakeFlatJpeg(kWidth, kHeight, kHostile);
  const size_t sos = FindMarker(jpeg, 0xDA);
  return Prefix(jpeg, sos + (jpeg.size() - sos) / 2);
}

// Two stray bytes before a marker in the headers: libjpeg warns and decodes the rest.
Bytes StrayBytesInHeaders() {
  Bytes jpeg = MakeFlatJpeg(kWidth, kHeight, kHostile);
  const size_t dqt = FindMarker(jpeg, 0xDB);
  jpeg.insert(jpeg.begin() + static_cast<std::ptrdiff_t>(dqt), {0x00, 0x11});
  return jpeg;
}

Bytes HugeHeader() {
  Bytes jpeg = MakeFlatJpeg(kWidth, kHeight, kHostile);
  SetJpegDimensions(jpeg, 65535, 65535);
  return jpeg;
}

// ---- one run with a hostile still between two good ones ----

struct HostileCase {
  const char* name;
  std::function<Bytes()> make;
  bool frame;         // the hostile still gives a frame
  bool its_colour;    // ... and that frame shows its picture
};

void PrintTo(const HostileCase& c, std::ostream* os) { *os << c.name; }

std::vector<HostileCase> HostileCases() {
  return {
      {"baseline", [] { return MakeFlatJpeg(kWidth, kHeight, kHostile); }, true, true},
      {"progressive", [] { return ProgressiveJpeg(kHostile); }, true, true},
      {"arithmetic", [] { return ArithmeticJpeg(kWidth, kHeight, kHostile); }, true, true},
      {"greyscale",
       [] { return MakeFlatJpeg(kWidth, kHeight, kHostile, {95, JpegSubsampling::kGray}); },
       true, false},
      {"one_by_one", [] { return MakeFlatJpeg(1, 1, kHostile); }, true, true},
      {"odd_size_stretched", [] { return MakeFlatJpeg(333, 17, kHostile); }, true, true},
      {"cmyk", CmykJpeg, false, false},
      {"twelve_bit", TwelveBitJpeg, false, false},
      {"exif_only", ExifOnlyJpeg, false, false},
      {"png", Png, false, false},
      {"bmp", Bmp, false, false},
      {"zero_length", [] { return Bytes{}; }, false, false},
      {"soi_only", [] { return Bytes{0xFF, 0xD8}; }, false, false},
      {"huge_header", HugeHeader, false, false},
      // A still still being written: as far as its headers, or into its picture data.
      {"cut_in_headers", [] { return Prefix(MakeFlatJpeg(kWidth, kHeight, kHostile), 120); },
       false, false},
      {"cut_after_headers", HeadersOnly, false, false},
      {"cut_in_picture", CutInPictureData, false, false},
      // Every picture byte arrived, only the end marker did not: the picture is whole.
      {"cut_before_end_marker",
       [] { const Bytes j = MakeFlatJpeg(kWidth, kHeight, kHostile); return Prefix(j, j.size() - 2); },
       true, true},
      {"stray_bytes_in_headers", StrayBytesInHeaders, true, true},
  };
}

class HostileStillRun : public ::testing::TestWithParam<HostileCase> {
 protected:
  HostileStillRun() : sun_(state_.location), gen_(state_, sun_, host_) {
    host_.cancel_action = [this] { gen_.SetCancelMovie(true); };
    fs::create_directory(dir_.File("in"));
    gen_.SetStillDirectory(dir_.File("in"));
    gen_.SetImageFilter("*.jpg");
    gen_.SetTimeStampOption(1);
    gen_.SetOutputAVIPath(dir_.File("movie.avi"));
    gen_.SetMovieFPS(5);
    gen_.SetClock([] { return *DateTimeFromCivil(2006, 12, 7, 12, 0, 0); });
  }

  // Stills at 10:00, 10:01, ... in name order.
  std::string StillPath(int minute) const {
    char name[32];
    std::snprintf(name, sizeof name, "0612071%d%02d00.jpg", minute / 60, minute % 60);
    return dir_.File(std::string("in/") + name);
  }

  // The colour of each frame of the movie, read back.
  std::vector<uint32_t> FrameColours() const {
    std::vector<uint32_t> colours;
    for (const test::DecodedFrame& f : test::DecodeAllFrames(dir_.File("movie.avi"))) {
      double bgr[3];
      const int x0 = f.width / 4, y0 = f.height / 4;  // the middle, at least one pixel
      f.MeanColour(x0, y0, std::max(x0 + 1, f.width * 3 / 4), std::max(y0 + 1, f.height * 3 / 4),
                   bgr);
      colours.push_back(static_cast<uint32_t>(std::lround(bgr[2])) << 16 |
                        static_cast<uint32_t>(std::lround(bgr[1])) << 8 |
                        static_cast<uint32_t>(std::lround(bgr[0])));
    }
    return colours;
  }

  TempDir dir_{"hostile-stills"};
  ProgramState state_;
  FakeHost host_;
  Sun sun_;
  MovieGen gen_;
};

bool Near(uint32_t got, uint32_t want) {
  for (int shift = 0; shift < 24; shift += 8) {
    if (std::abs(static_cast<int>((got >> shift) & 0xFF) - static_cast<int>((want >> shift) & 0xFF)) >
        12) {
      return false;
    }
  }
  return true;
}

TEST_P(HostileStillRun, GivesItsFrameOrNoneAndSpoilsNothingAfter) {
  const HostileCase& c = GetParam();
  WriteFlatJpeg(StillPath(0), kWidth, kHeight, kBefore);
  WriteBytes(StillPath(1), c.make());
  WriteFlatJpeg(StillPath(2), kWidth, kHeight, kAfter);
  gen_.MakeMovie(kQuietRun);

  ASSERT_TRUE(gen_.LastRunCompleted());
  EXPECT_EQ(gen_.FramePaths().size(), 3u);  // all three were selected
  const test::ProbedMovie movie = test::ProbeMovie(dir_.File("movie.avi"));
  ASSERT_TRUE(movie.opened) << movie.error;
  EXPECT_EQ(movie.width, kWidth);
  EXPECT_EQ(movie.height, kHeight);
  ASSERT_EQ(movie.FrameCount(), c.frame ? 3 : 2);
  const std::vector<uint32_t> colours = FrameColours();
  ASSERT_EQ(colours.size(), c.frame ? 3u : 2u);
  EXPECT_TRUE(Near(colours.front(), kBefore)) << std::hex << colours.front();
  EXPECT_TRUE(Near(colours.back(), kAfter)) << std::hex << colours.back();
  if (c.its_colour) {
    EXPECT_TRUE(Near(colours[1], kHostile)) << std::hex << colours[1];
  }
}

INSTANTIATE_TEST_SUITE_P(Kinds, HostileStillRun, ::testing::ValuesIn(HostileCases()),
                         [](const auto& param_info) { return std::string(param_info.param.name); });

std::vector<HostileCase> NoFrameCases() {
  std::vector<HostileCase> cases = HostileCases();
  std::erase_if(cases, [](const HostileCase& c) { return c.frame; });
  return cases;
}

class HostileFirstStill : public HostileStillRun {};

// First in line, a still that gives no frame does not fix the movie size either: the
// first one that does, does.
TEST_P(HostileFirstStill, FixesNoSizeTheNextStillDoes) {
  const HostileCase& c = GetParam();
  WriteBytes(StillPath(0), c.make());
  WriteFlatJpeg(StillPath(1), kWidth, kHeight, kBefore);
  WriteFlatJpeg(StillPath(2), 40, 30, kAfter);
  gen_.MakeMovie(kQuietRun);

  ASSERT_TRUE(gen_.LastRunCompleted());
  EXPECT_EQ(gen_.MovieWidth(), kWidth);
  EXPECT_EQ(gen_.MovieHeight(), kHeight);
  const std::vector<uint32_t> colours = FrameColours();
  ASSERT_EQ(colours.size(), 2u);
  EXPECT_TRUE(Near(colours[0], kBefore));
  EXPECT_TRUE(Near(colours[1], kAfter));
}

INSTANTIATE_TEST_SUITE_P(NoFrameKinds, HostileFirstStill, ::testing::ValuesIn(NoFrameCases()),
                         [](const auto& param_info) { return std::string(param_info.param.name); });

// A 1x1 still that comes first fixes a 4x1 movie; the stills after it shrink into it.
TEST_F(HostileStillRun, OneByOneFirstMakesATinyMovie) {
  WriteBytes(StillPath(0), MakeFlatJpeg(1, 1, kHostile));
  WriteFlatJpeg(StillPath(1), kWidth, kHeight, kAfter);
  gen_.MakeMovie(kQuietRun);
  ASSERT_TRUE(gen_.LastRunCompleted());
  const test::ProbedMovie movie = test::ProbeMovie(dir_.File("movie.avi"));
  EXPECT_EQ(movie.width, 4);
  EXPECT_EQ(movie.height, 1);
  EXPECT_EQ(movie.FrameCount(), 2);
  const std::vector<uint32_t> colours = FrameColours();
  ASSERT_EQ(colours.size(), 2u);
  EXPECT_TRUE(Near(colours[0], kHostile)) << std::hex << colours[0];
  EXPECT_TRUE(Near(colours[1], kAfter)) << std::hex << colours[1];
}

// ---- stills that change between the scan and their frame ----

TEST(StillsChangingDuringTheRun, VanishedShrunkOrReplacedStillsGiveNoFrameAndNoStall) {
  TempDir dir("hostile-change");
  ProgramState state;
  FakeHost host;
  Sun sun(state.location);
  MovieGen gen(state, sun, host);
  fs::create_directory(dir.File("in"));
  gen.SetStillDirectory(dir.File("in"));
  gen.SetTimeStampOption(1);
  gen.SetOutputAVIPath(dir.File("movie.avi"));
  gen.SetClock([] { return *DateTimeFromCivil(2006, 12, 7, 12, 0, 0); });
  gen.SetDeleteOldImages(true);
  gen.SetDeleteOldImagesHours(0);  // every still is old: the clean-up meets each change too

  const char* names[] = {"061207100000.jpg", "061207100100.jpg", "061207100200.jpg",
                         "061207100300.jpg", "061207100400.jpg", "061207100500.jpg",
                         "061207100600.jpg"};
  std::vector<std::string> paths;
  for (const char* name : names) {
    paths.push_back(WriteFlatJpeg(dir.File(std::string("in/") + name), kWidth, kHeight, kBefore));
  }
  WriteFlatJpeg(paths.back(), kWidth, kHeight, kAfter);
  // Once the scan has listed the stills (frames may be composed ahead from then on).
  host.OnStatus("Status: Determining Which Files To Use", [&] {
    fs::remove(paths[1]);                    // vanished
    fs::resize_file(paths[2], 0);            // emptied
    fs::remove(paths[3]);                    // replaced by a folder
    fs::create_directory(paths[3]);
    fs::remove(paths[4]);                    // replaced by a pipe nobody writes to
    ASSERT_EQ(mkfifo(paths[4].c_str(), 0600), 0);
    const Bytes whole = ReadBytes(paths[5]);  // shrunk into its picture data
    const size_t sos = FindMarker(whole, 0xDA);
    fs::resize_file(paths[5], sos + (whole.size() - sos) / 2);
  });

  gen.MakeMovie({.unattended = true});

  ASSERT_TRUE(gen.LastRunCompleted());
  const test::ProbedMovie movie = test::ProbeMovie(dir.File("movie.avi"));
  ASSERT_TRUE(movie.opened) << movie.error;
  EXPECT_EQ(movie.FrameCount(), 2);  // the first and the last
  // The clean-up removes the stills and the pipe, and passes over the folder.
  EXPECT_TRUE(fs::is_directory(paths[3]));
  EXPECT_EQ(gen.LastRunUndeleted(), 1);
  EXPECT_FALSE(fs::exists(paths[0]));
  EXPECT_FALSE(fs::exists(paths[6]));
}

// A still cut short gives no frame at whichever scale it is decoded, into the frame or
// stretched from YUV planes or BGR; the whole still gives its frame on the same path.
TEST(CutShortStill, GivesNoFrameAtEveryScale) {
  struct Case {
    int32_t width, height;
    int denominator;
    bool yuv;
  };
  const Bytes whole = MakeFlatJpeg(kWidth, kHeight, kHostile);
  const Bytes cut = CutInPictureData();
  for (const Case& c : {Case{kWidth, kHeight, 1, true}, Case{48, 32, 2, true},
                        Case{40, 30, 2, true}, Case{40, 30, 2, false}, Case{20, 14, 4, true},
                        Case{12, 8, 8, true}}) {
    SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height) + (c.yuv ? " yuv" : " bgr"));
    FrameComposer composer;
    ComposeTuning tuning;
    tuning.yuv_stretch = c.yuv;
    composer.SetTuning(tuning);
    DIB frame, decode;
    int32_t width = c.width, height = c.height;
    ASSERT_TRUE(composer.ComposeBytes(whole.data(), whole.size(), width, height, frame, decode));
    EXPECT_EQ(composer.LastDecode().scale_denominator, c.denominator);
    EXPECT_FALSE(composer.ComposeBytes(cut.data(), cut.size(), width, height, frame, decode));
  }
}

// A writer rewrites the still over and over while it is being composed: every attempt ends
// with a frame or none, and the finished still gives its frame.
TEST(StillBeingWritten, EveryReadEndsAndTheFinishedStillDecodes) {
  TempDir dir("hostile-writing");
  const std::string path = dir.File("still.jpg");
  const Bytes jpeg = MakeFlatJpeg(kWidth, kHeight, kHostile);
  WriteBytes(path, jpeg);
  std::atomic<bool> stop{false};
  std::thread writer([&] {
    while (!stop.load()) {
      const int fd = open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
      if (fd < 0) continue;
      for (size_t at = 0; at < jpeg.size(); at += 61) {
        const size_t n = std::min<size_t>(61, jpeg.size() - at);
        if (write(fd, jpeg.data() + at, n) < 0) break;
      }
      close(fd);
    }
  });
  FrameComposer composer;
  ASSERT_TRUE(composer.Init());
  DIB frame, decode;
  int32_t width = kWidth, height = kHeight;
  int frames = 0;
  for (int i = 0; i < 2000; ++i) frames += composer.Compose(path, width, height, frame, decode);
  stop = true;
  writer.join();
  EXPECT_EQ(width, kWidth);
  EXPECT_EQ(height, kHeight);
  ASSERT_TRUE(composer.Compose(path, width, height, frame, decode));
  RecordProperty("frames_while_written", frames);
}

// A file that claims to be a still but is gigabytes long (here sparse) is not read into
// memory: no frame, and quickly.
TEST(OversizedStill, GivesNoFrameWithoutReadingIt) {
  TempDir dir("hostile-huge");
  const std::string path = dir.File("huge.jpg");
  WriteBytes(path, MakeFlatJpeg(kWidth, kHeight, kHostile));
  fs::resize_file(path, uint64_t{64} << 30);
  FrameComposer composer;
  ASSERT_TRUE(composer.Init());
  DIB frame, decode;
  int32_t width = 0, height = 0;
  EXPECT_FALSE(composer.Compose(path, width, height, frame, decode));
  EXPECT_EQ(width, 0);
}

}  // namespace
}  // namespace chronoreel
