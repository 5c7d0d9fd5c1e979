#include "engine/frame_composer.h"

#include <gtest/gtest.h>

#include <turbojpeg.h>

#include <climits>
#include <cstring>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "support/jpeg_maker.h"
#include "support/test_files.h"

namespace chronoreel {
namespace {

constexpr int kTolerance = 4;  // per channel, flat colours at quality 95

// The colour of a pixel counted from the top of the picture, as 0x00RRGGBB.
uint32_t PixelFromTop(const DIB& dib, int x, int y_from_top) {
  const uint8_t* p =
      dib.DIBPtr() + static_cast<size_t>(dib.Height() - 1 - y_from_top) * dib.Stride() + x * 3;
  return (uint32_t{p[2]} << 16) | (uint32_t{p[1]} << 8) | p[0];
}

bool Near(uint32_t a, uint32_t b) {
  for (int shift : {0, 8, 16}) {
    if (std::abs(int((a >> shift) & 0xFF) - int((b >> shift) & 0xFF)) > kTolerance) return false;
  }
  return true;
}

// Every row in [from, to) from the top holds `color`.
::testing::AssertionResult RowsAre(const DIB& dib, int from, int to, uint32_t color) {
  for (int y = from; y < to; ++y) {
    for (int x = 0; x < dib.Width(); ++x) {
      if (!Near(PixelFromTop(dib, x, y), color)) {
        return ::testing::AssertionFailure() << "pixel (" << x << ", " << y << ") is " << std::hex
                                             << PixelFromTop(dib, x, y) << ", want " << color;
      }
    }
  }
  return ::testing::AssertionSuccess();
}

TEST(RoundUpToMultipleOf4, RoundsUpOnlyWhatIsNotAMultiple) {
  const std::pair<int32_t, int32_t> cases[] = {{321, 324}, {320, 320}, {323, 324}, {1, 4}, {0, 0},
                                               {642, 644}, {INT32_MAX, INT32_MAX & ~3}};
  for (auto [in, out] : cases) EXPECT_EQ(RoundUpToMultipleOf4(in), out) << in;
  const std::pair<int32_t, int32_t> even[] = {{1079, 1080}, {1080, 1080}, {1, 2}, {0, 0},
                                              {INT32_MAX, INT32_MAX - 1}};
  for (auto [in, out] : even) EXPECT_EQ(RoundUpToEven(in), out) << in;
}

struct StillCase {
  int still_width, still_height;
  int32_t movie_width, movie_height;  // 0: from the first image
  int32_t want_width, want_height;
  JpegSubsampling subsampling;
  bool stretched;  // goes through the decode surface
  bool even_height = false;  // for a 4:2:0 stream
};

class ComposeStill : public ::testing::TestWithParam<StillCase> {};

// A still whose top half is red and bottom half blue must keep red on top of the frame, which
// in the bottom-up surface is the last row in memory.
TEST_P(ComposeStill, FillsTheFrameUprightAndInColour) {
  const StillCase& c = GetParam();
  const bool grey = c.subsampling == JpegSubsampling::kGray;
  const uint32_t top = grey ? 0xD0D0D0 : 0xE01010, bottom = grey ? 0x303030 : 0x1020E0;
  TempDir dir;
  const std::string path = WriteSplitJpeg(dir.File("still.jpg"), c.still_width, c.still_height,
                                          top, bottom, {95, c.subsampling});
  FrameComposer composer;
  ASSERT_TRUE(composer.Init());
  composer.SetEvenHeight(c.even_height);
  DIB frame, decode;
  int32_t width = c.movie_width, height = c.movie_height;
  ASSERT_TRUE(composer.Compose(path, width, height, frame, decode));
  EXPECT_EQ(width, c.want_width);
  EXPECT_EQ(height, c.want_height);
  ASSERT_EQ(frame.Width(), c.want_width);
  ASSERT_EQ(frame.Height(), c.want_height);
  EXPECT_EQ(decode.HasSurface(), c.stretched);  // a still of the movie size goes straight in
  // Away from the seam, where the filters blend the halves.
  const int margin = c.want_height / 8 + 2;
  EXPECT_TRUE(RowsAre(frame, 0, c.want_height / 2 - margin, top));
  EXPECT_TRUE(RowsAre(frame, c.want_height / 2 + margin, c.want_height, bottom));
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, ComposeStill,
    ::testing::Values(StillCase{64, 48, 0, 0, 64, 48, JpegSubsampling::k444, false},
                      StillCase{64, 48, 0, 0, 64, 48, JpegSubsampling::k420, false},
                      StillCase{64, 48, 0, 0, 64, 48, JpegSubsampling::kGray, false},
                      StillCase{64, 48, 64, 48, 64, 48, JpegSubsampling::k422, false},
                      StillCase{642, 480, 0, 0, 644, 480, JpegSubsampling::k420, true},
                      StillCase{62, 47, 0, 0, 64, 47, JpegSubsampling::k420, true},
                      StillCase{62, 47, 0, 0, 64, 48, JpegSubsampling::k420, true, true},
                      StillCase{64, 47, 0, 0, 64, 48, JpegSubsampling::k444, true, true},
                      StillCase{64, 47, 64, 47, 64, 47, JpegSubsampling::k444, false, true},
                      StillCase{320, 240, 324, 240, 324, 240, JpegSubsampling::k444, true},
                      StillCase{640, 480, 160, 120, 160, 120, JpegSubsampling::k420, false},
                      StillCase{100, 80, 400, 300, 400, 300, JpegSubsampling::kGray, true},
                      StillCase{80, 60, 40, 90, 40, 90, JpegSubsampling::k444, true},
                      StillCase{64, 48, 64, 96, 64, 96, JpegSubsampling::k444, true},
                      StillCase{64, 48, 32, 48, 32, 48, JpegSubsampling::k444, true}));

std::vector<uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

// Makes a Huffman table over-subscribed: the header still reads, the decode fails.
std::vector<uint8_t> WithBadHuffmanTable(std::vector<uint8_t> jpeg) {
  for (size_t i = 2; i + 21 < jpeg.size(); ++i) {
    if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xC4) {
      uint8_t* counts = &jpeg[i + 5];  // after marker, length and class/id
      for (int j = 1; j < 16; ++j) {
        counts[0] += counts[j];
        counts[j] = 0;
      }
      return jpeg;
    }
  }
  ADD_FAILURE() << "no Huffman table";
  return jpeg;
}

struct BadCase {
  const char* name;
  std::vector<uint8_t> bytes;  // written as the still unless `missing`
  bool fixes_size;             // the header reads, so the still fixes the movie size
  bool missing = false;
};

std::vector<BadCase> BadStills() {
  std::vector<uint8_t> jpeg = MakeFlatJpeg(32, 24, 0x808080);
  std::vector<uint8_t> huge = jpeg, over_limit = jpeg;
  SetJpegDimensions(huge, 65535, 65535);  // beyond what libjpeg reads
  SetJpegDimensions(over_limit, 60000, 40000);
  std::vector<uint8_t> random(4096);
  std::mt19937 rng(7);
  for (auto& b : random) b = static_cast<uint8_t>(rng());
  random[0] = 0xFF;
  random[1] = 0xD8;  // a JPEG start followed by noise
  return {
      {"png", Bytes("\x89PNG\r\n\x1a\n\0\0\0\rIHDR\0\0\0\x10\0\0\0\x10\x08\x02\0\0\0"), false},
      {"bmp", Bytes(std::string("BM\x46\0\0\0\0\0\0\0\x36\0\0\0\x28\0\0\0", 18) +
                    std::string(40, '\x01')), false},
      {"random", random, false},
      {"empty", {}, false},
      {"cut_in_header", {jpeg.begin(), jpeg.begin() + 40}, false},
      {"bad_huffman", WithBadHuffmanTable(jpeg), true},
      {"65535x65535", huge, false},
      {"60000x40000", over_limit, false},
      {"missing", {}, false, true},
  };
}

TEST(ComposeBadStill, GivesNoFrameAndDoesNotSpoilTheNext) {
  TempDir dir;
  const std::string good = WriteFlatJpeg(dir.File("good.jpg"), 40, 30, 0x20C040);
  for (const BadCase& c : BadStills()) {
    SCOPED_TRACE(c.name);
    const std::string path = dir.File(std::string(c.name) + ".jpg");
    if (!c.missing) WriteBytes(path, c.bytes);
    FrameComposer composer;
    ASSERT_TRUE(composer.Init());
    DIB frame, decode;
    int32_t width = 0, height = 0;
    EXPECT_FALSE(composer.Compose(path, width, height, frame, decode));
    EXPECT_EQ(width != 0, c.fixes_size);
    EXPECT_EQ(frame.HasSurface(), c.fixes_size);
    EXPECT_FALSE(decode.HasSurface());  // nothing allocated for a still that cannot decode

    // A folder path is no still either.
    EXPECT_FALSE(composer.Compose(dir.Str(), width, height, frame, decode));
    ASSERT_TRUE(composer.Compose(good, width, height, frame, decode));
    const int32_t want_width = c.fixes_size ? 32 : 40, want_height = c.fixes_size ? 24 : 30;
    EXPECT_EQ(width, want_width);
    EXPECT_EQ(height, want_height);
    EXPECT_TRUE(RowsAre(frame, 0, want_height, 0x20C040));
  }
}

// A still cut short inside its picture data decodes with a warning, its missing rows grey:
// no frame. Its header was read, so, as the first still, it has fixed the movie size.
TEST(ComposeTruncated, WarningStillCutInItsPictureGivesNoFrame) {
  std::vector<uint8_t> jpeg = MakeFlatJpeg(64, 64, 0xC02020);
  size_t scan = 0;
  while (scan + 1 < jpeg.size() && !(jpeg[scan] == 0xFF && jpeg[scan + 1] == 0xDA)) ++scan;
  jpeg.resize(scan + (jpeg.size() - scan) / 2);
  FrameComposer composer;
  DIB frame, decode;
  int32_t width = 0, height = 0;
  EXPECT_FALSE(composer.ComposeBytes(jpeg.data(), jpeg.size(), width, height, frame, decode));
  EXPECT_EQ(width, 64);
}

// Sizes change from still to still in one run; each frame is right and the movie size stays.
TEST(ComposeSequence, MixedSizesReuseTheSurfaces) {
  struct Frame { int width, height; uint32_t color; };
  const Frame frames[] = {{60, 40, 0x10E010}, {60, 40, 0xE0E010}, {120, 80, 0x1010E0},
                          {30, 20, 0xE01010}, {60, 40, 0x10E0E0}, {120, 80, 0x808080}};
  FrameComposer composer;
  ASSERT_TRUE(composer.Init());
  DIB frame, decode;
  int32_t width = 0, height = 0;
  for (const Frame& f : frames) {
    SCOPED_TRACE(f.color);
    std::vector<uint8_t> jpeg = MakeFlatJpeg(f.width, f.height, f.color);
    ASSERT_TRUE(composer.ComposeBytes(jpeg.data(), jpeg.size(), width, height, frame, decode));
    EXPECT_EQ(width, 60);
    EXPECT_EQ(height, 40);
    EXPECT_TRUE(RowsAre(frame, 0, 40, f.color));
  }
}

// The DCT-scaled decode: the smallest of 1/2, 1/4 and 1/8 that still covers the movie in both
// directions, straight into the frame when it lands on the movie size.
struct ScaleCase {
  int still_width, still_height;
  int32_t movie_width, movie_height;
  JpegSubsampling subsampling;
  int want_denominator;
  int want_decoded_width, want_decoded_height;
  bool want_into_frame;
};

class ComposeScaled : public ::testing::TestWithParam<ScaleCase> {};

TEST_P(ComposeScaled, PicksTheFactorThatCoversTheMovie) {
  const ScaleCase& c = GetParam();
  EXPECT_EQ(DctScaleDenominator(c.still_width, c.still_height, c.movie_width, c.movie_height),
            c.want_denominator);
  const bool grey = c.subsampling == JpegSubsampling::kGray;
  const uint32_t top = grey ? 0xD0D0D0 : 0xE01010, bottom = grey ? 0x303030 : 0x1020E0;
  const std::vector<uint8_t> jpeg =
      MakeSplitJpeg(c.still_width, c.still_height, top, bottom, {95, c.subsampling});
  FrameComposer composer;
  DIB frame, decode;
  int32_t width = c.movie_width, height = c.movie_height;
  ASSERT_TRUE(composer.ComposeBytes(jpeg.data(), jpeg.size(), width, height, frame, decode));
  const DecodeInfo& info = composer.LastDecode();
  EXPECT_EQ(info.scale_denominator, c.want_denominator);
  EXPECT_EQ(info.width, c.want_decoded_width);
  EXPECT_EQ(info.height, c.want_decoded_height);
  if (info.scale_denominator > 1) {
    EXPECT_GE(info.width, c.movie_width);
    EXPECT_GE(info.height, c.movie_height);
  }
  EXPECT_EQ(info.into_frame, c.want_into_frame);
  EXPECT_EQ(decode.HasSurface(), !c.want_into_frame);
  if (decode.HasSurface()) {
    EXPECT_EQ(decode.Width(), c.want_decoded_width);
    EXPECT_EQ(decode.Height(), c.want_decoded_height);
  }
  ASSERT_EQ(frame.Width(), c.movie_width);
  ASSERT_EQ(frame.Height(), c.movie_height);
  const int margin = c.movie_height / 8 + 2;
  EXPECT_TRUE(RowsAre(frame, 0, c.movie_height / 2 - margin, top));
  EXPECT_TRUE(RowsAre(frame, c.movie_height / 2 + margin, c.movie_height, bottom));
}

INSTANTIATE_TEST_SUITE_P(
    Factors, ComposeScaled,
    ::testing::Values(
        ScaleCase{1920, 1080, 640, 480, JpegSubsampling::k420, 2, 960, 540, false},
        ScaleCase{1920, 1080, 640, 480, JpegSubsampling::k444, 2, 960, 540, false},
        ScaleCase{1280, 720, 320, 180, JpegSubsampling::k420, 4, 320, 180, true},
        ScaleCase{1280, 720, 160, 90, JpegSubsampling::k422, 8, 160, 90, true},
        ScaleCase{1280, 720, 152, 88, JpegSubsampling::kGray, 8, 160, 90, false},
        ScaleCase{1280, 720, 640, 360, JpegSubsampling::k420, 2, 640, 360, true},
        ScaleCase{1280, 720, 700, 300, JpegSubsampling::k420, 1, 1280, 720, false},
        ScaleCase{1280, 720, 600, 400, JpegSubsampling::k420, 1, 1280, 720, false},
        ScaleCase{1280, 720, 600, 300, JpegSubsampling::k420, 2, 640, 360, false},
        ScaleCase{1280, 720, 640, 480, JpegSubsampling::k420, 1, 1280, 720, false},
        ScaleCase{1281, 721, 640, 361, JpegSubsampling::k420, 2, 641, 361, false},
        ScaleCase{1281, 721, 644, 361, JpegSubsampling::k420, 1, 1281, 721, false},
        ScaleCase{643, 481, 100, 80, JpegSubsampling::k420, 4, 161, 121, false},
        ScaleCase{320, 240, 640, 480, JpegSubsampling::k420, 1, 320, 240, false},
        ScaleCase{320, 240, 160, 480, JpegSubsampling::k444, 1, 320, 240, false}));

// Every speed lever on or off, and every shrink filter, gives the same upright picture in
// the right colours, for each chroma layout and for odd sizes whose planes are padded.
TEST(ComposeTuningPaths, AllGiveTheSamePicture) {
  // dct_scaling, yuv_stretch, fast_dct, full_chroma, shrink_filter, planar_stretch
  const ComposeTuning tunings[] = {
      {},
      {true, true, false, false, StretchFilter::kArea, false},
      {true, true, false, false, StretchFilter::kBilinear, false},
      {false, false, false, false, StretchFilter::kArea},
      {true, false, false, false, StretchFilter::kArea},
      {false, true, false, false, StretchFilter::kArea},
      {true, true, true, false, StretchFilter::kArea},
      {true, true, false, true, StretchFilter::kArea},
      {true, true, false, false, StretchFilter::kBilinear},
      {true, true, false, false, StretchFilter::kFastBilinear},
      {true, true, false, false, StretchFilter::kBicubic},
      {true, true, false, false, StretchFilter::kLanczos},
  };
  struct Size { int still_width, still_height; int32_t movie_width, movie_height; };
  const Size sizes[] = {{1920, 1080, 640, 480}, {643, 481, 100, 80}, {642, 480, 644, 480},
                        {99, 77, 40, 30}, {64, 48, 100, 80}};
  const JpegSubsampling layouts[] = {JpegSubsampling::k444, JpegSubsampling::k422,
                                     JpegSubsampling::k420, JpegSubsampling::kGray};
  for (const JpegSubsampling layout : layouts) {
    const bool grey = layout == JpegSubsampling::kGray;
    const uint32_t top = grey ? 0xC8C8C8 : 0x20C040, bottom = grey ? 0x282828 : 0xD0A020;
    for (const Size& size : sizes) {
      const std::vector<uint8_t> jpeg =
          MakeSplitJpeg(size.still_width, size.still_height, top, bottom, {95, layout});
      for (size_t t = 0; t < std::size(tunings); ++t) {
        SCOPED_TRACE(::testing::Message() << "layout " << int(layout) << ", " << size.still_width
                                          << "x" << size.still_height << ", tuning " << t);
        FrameComposer composer;
        composer.SetTuning(tunings[t]);
        DIB frame, decode;
        int32_t width = size.movie_width, height = size.movie_height;
        ASSERT_TRUE(composer.ComposeBytes(jpeg.data(), jpeg.size(), width, height, frame, decode));
        EXPECT_EQ(composer.LastDecode().yuv, tunings[t].yuv_stretch);
        if (!tunings[t].dct_scaling) {
          EXPECT_EQ(composer.LastDecode().scale_denominator, 1);
        }
        const int margin = height / 8 + 2;
        EXPECT_TRUE(RowsAre(frame, 0, height / 2 - margin, top));
        EXPECT_TRUE(RowsAre(frame, height / 2 + margin, height, bottom));
      }
    }
  }
}

// A stretched frame kept as planes must become, once converted, exactly the surface the
// composer makes when it keeps none; a decode that lands on the movie size goes into the
// planes without a colour conversion (TurboJPEG's own BGR differs in its rounding), so it
// is held to the colours. A frame that stops at its planes has no surface made until it
// is converted; stills that take another path leave the planes unfilled and the surface
// made.
TEST(ComposePlanes, ConvertedPlanesAreTheSurfaceTheComposerMakes) {
  struct Case {
    int still_width, still_height;
    int32_t movie_width, movie_height;
    JpegSubsampling layout;
    bool planes;  // the still stops at the planes
    bool exact = true;
  };
  const Case cases[] = {
      {1280, 720, 640, 480, JpegSubsampling::k420, true},   // shrink, full decode
      {1920, 1080, 640, 480, JpegSubsampling::k420, true},  // shrink, decoded at 1/2
      {96, 64, 64, 48, JpegSubsampling::k422, true},
      {40, 30, 64, 48, JpegSubsampling::k444, true},        // grow
      {64, 48, 64, 48, JpegSubsampling::k420, true, false},   // same size: decoded in place
      {128, 96, 64, 48, JpegSubsampling::k444, true, false},  // at 1/2, colour halved
      {64, 48, 64, 48, JpegSubsampling::k422, false},         // same size: straight into BGR
      {48, 46, 48, 46, JpegSubsampling::k444, true, false},
      {62, 46, 62, 46, JpegSubsampling::k444, false},         // width not a multiple of 16
      {63, 47, 63, 47, JpegSubsampling::k420, false},         // odd: no 4:2:0 of its own
      {96, 64, 100, 48, JpegSubsampling::k420, false},      // width not a multiple of 16
      {96, 64, 64, 48, JpegSubsampling::kGray, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.still_width << "x" << c.still_height << " -> "
                                      << c.movie_width << "x" << c.movie_height);
    const std::vector<uint8_t> jpeg =
        MakeSplitJpeg(c.still_width, c.still_height, 0x20C040, 0xD0A020, {90, c.layout});
    FrameComposer plain, planar;
    DIB want, frame, decode, decode2;
    int32_t w1 = c.movie_width, h1 = c.movie_height, w2 = w1, h2 = h1;
    ASSERT_TRUE(plain.ComposeBytes(jpeg.data(), jpeg.size(), w1, h1, want, decode));
    FramePlanes planes;
    ASSERT_TRUE(planar.ComposeBytes(jpeg.data(), jpeg.size(), w2, h2, frame, decode2, &planes));
    ASSERT_EQ(planes.filled, c.planes);
    if (c.planes) {
      EXPECT_EQ(planes.width, c.movie_width);
      EXPECT_EQ(planes.height, c.movie_height);
      EXPECT_FALSE(frame.HasSurface());
      PlanesConverter converter;
      ASSERT_TRUE(converter.Convert(planes, frame));
    }
    ASSERT_EQ(frame.Width(), want.Width());
    ASSERT_EQ(frame.Height(), want.Height());
    if (!c.exact) {
      const int margin = c.movie_height / 8 + 2;
      EXPECT_TRUE(RowsAre(frame, 0, c.movie_height / 2 - margin, 0x20C040));
      EXPECT_TRUE(RowsAre(frame, c.movie_height / 2 + margin, c.movie_height, 0xD0A020));
      continue;
    }
    for (int y = 0; y < want.Height(); ++y) {
      ASSERT_EQ(0, std::memcmp(frame.DIBPtr() + static_cast<size_t>(y) * frame.Stride(),
                               want.DIBPtr() + static_cast<size_t>(y) * want.Stride(),
                               static_cast<size_t>(want.Width()) * 3))
          << "row " << y;
    }
  }
}

// A CMYK still has no YCbCr planes to hand over, and TurboJPEG turns it into no BGR either:
// every path gives no frame rather than a garbled one.
TEST(ComposeTuningPaths, CmykStillGivesNoFrameOnEveryPath) {
  const int width = 64, height = 48;
  std::vector<uint8_t> cmyk(static_cast<size_t>(width) * height * 4, 128);
  tjhandle encoder = tjInitCompress();
  ASSERT_NE(encoder, nullptr);
  unsigned char* out = nullptr;
  unsigned long out_size = 0;
  const int result = tjCompress2(encoder, cmyk.data(), width, 0, height, TJPF_CMYK, &out,
                                 &out_size, TJSAMP_420, 95, 0);
  tjDestroy(encoder);
  ASSERT_EQ(result, 0);
  const std::vector<uint8_t> jpeg(out, out + out_size);
  tjFree(out);

  for (const bool yuv : {false, true}) {
    for (const int32_t movie_width : {64, 32, 40}) {
      SCOPED_TRACE(::testing::Message() << "yuv " << yuv << ", movie width " << movie_width);
      FrameComposer composer;
      composer.SetTuning({true, yuv, false, false, StretchFilter::kArea});
      DIB frame, decode;
      int32_t w = movie_width, h = 24;
      EXPECT_FALSE(composer.ComposeBytes(jpeg.data(), jpeg.size(), w, h, frame, decode));
      // Then an ordinary still still decodes with the same composer.
      const std::vector<uint8_t> good = MakeFlatJpeg(64, 48, 0x3060C0);
      ASSERT_TRUE(composer.ComposeBytes(good.data(), good.size(), w, h, frame, decode));
      EXPECT_TRUE(RowsAre(frame, 0, h, 0x3060C0));
    }
  }
}

// From disk, large and small stills in turn: the reused file buffer never lends a still the
// bytes of the one before it.
TEST(ComposeSequence, FilesOfFallingAndRisingLengthEachGiveTheirOwnFrame) {
  struct Still { int width, height; uint32_t color; };
  const Still stills[] = {{1280, 720, 0xE02020}, {80, 60, 0x20E020}, {1280, 720, 0x2020E0},
                          {160, 90, 0xE0E020}, {40, 30, 0x808080}};
  TempDir dir;
  FrameComposer composer;
  DIB frame, decode;
  int32_t width = 160, height = 90;
  for (size_t i = 0; i < std::size(stills); ++i) {
    SCOPED_TRACE(i);
    const std::string path =
        WriteFlatJpeg(dir.File(std::to_string(i) + ".jpg"), stills[i].width, stills[i].height,
                      stills[i].color, {90, JpegSubsampling::k420});
    ASSERT_TRUE(composer.Compose(path, width, height, frame, decode));
    EXPECT_TRUE(RowsAre(frame, 0, height, stills[i].color));
  }
}

}  // namespace
}  // namespace chronoreel
