#include "engine/codecs.h"

#include <gtest/gtest.h>

#include "engine/container.h"
#include "engine/encoder_plan.h"

#include <algorithm>
#include <set>

extern "C" {
#include <libavcodec/avcodec.h>
}

namespace chronoreel {
namespace {

TEST(FourccTest, TextAndCodeRoundTrip) {
  const struct {
    const char* text;
    int32_t code;
  } cases[] = {
      {"DIB ", 541215044}, {"MJPG", 0x47504A4D}, {"XVID", 0x44495658}, {"H264", 0x34363248},
      {"divx", 0x78766964},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(FourccFromText(c.text), c.code);
    EXPECT_EQ(FourccToText(c.code), c.text);
  }
  EXPECT_EQ(FourccFromText("HFY"), FourccFromText("HFY "));
  EXPECT_EQ(FourccFromText("MJPGX"), FourccFromText("MJPG"));
  EXPECT_EQ(FourccToText(0), "");
  EXPECT_TRUE(IsUncompressedFourcc(0));
  EXPECT_TRUE(IsUncompressedFourcc(FourccFromText("DIB ")));
  EXPECT_FALSE(IsUncompressedFourcc(FourccFromText("MJPG")));
}

TEST(QualityTest, EndsAndDirectionOfTheScales) {
  const struct {
    int32_t quality, qscale, crf;
  } cases[] = {
      {0, -1, -1}, {-20, -1, -1}, {1, 31, 51}, {10000, 1, 0}, {20000, 1, 0}, {5000, 16, 26},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.quality);
    EXPECT_EQ(QscaleForQuality(c.quality), c.qscale);
    EXPECT_EQ(CrfForQuality(c.quality), c.crf);
  }
  for (int32_t q = 2; q <= 10000; ++q) {
    ASSERT_LE(QscaleForQuality(q), QscaleForQuality(q - 1)) << q;
    ASSERT_LE(CrfForQuality(q), CrfForQuality(q - 1)) << q;
  }
}

// One position means one picture: every encoder's map rises from the worst to the best
// value, a position survives the trip through dwQuality, and the default is x264's CRF 23.
TEST(QualityScaleTest, PositionsMapEachEncoderOntoItsOwnScale) {
  for (const char* name : {"libx264", "libx265", "libsvtav1", "libvpx-vp9", "mjpeg", "mpeg4", "ffv1"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(QualityForPosition(name, 0), 1);
    EXPECT_EQ(QualityForPosition(name, kQualityPositions), 10000);
    EXPECT_EQ(QualityForPosition(name, -5), 1);
    EXPECT_EQ(QualityForPosition(name, 1000), 10000);
    for (int p = 0; p <= kQualityPositions; ++p) {
      if (p > 0) {
        ASSERT_LT(QualityForPosition(name, p - 1), QualityForPosition(name, p)) << p;
      }
      ASSERT_EQ(PositionForQuality(name, QualityForPosition(name, p)), p);
    }
    EXPECT_EQ(PositionForQuality(name, 0), kDefaultQualityPosition);
    EXPECT_EQ(PositionForQuality(name, -1), kDefaultQualityPosition);
    EXPECT_EQ(PositionForQuality(name, 1), 0);
    EXPECT_EQ(PositionForQuality(name, 20000), kQualityPositions);
  }
  EXPECT_EQ(CrfForQuality(QualityForPosition("libx264", kDefaultQualityPosition)), 23);
  // x264 keeps the line dwQuality always meant for it.
  for (int32_t q : {1, 2550, 5000, 7700, 10000})
    EXPECT_EQ(QualityForPosition("libx264", PositionForQuality("libx264", q)) / 100, q / 100) << q;
}

// dwQuality 0 is the default position for today's encoders with a quality; the rest keep
// their own default.
TEST(QualityScaleTest, EncoderDefaultIsTheDefaultPositionForTodaysEncoders) {
  const struct {
    const char* fourcc;
    const char* parms;
    const char* encoder;
    int32_t crf, qscale, jpeg;  // -1: not set
  } cases[] = {
      {"H264", "", "libx264", 23, -1, -1},
      {"HEVC", "", "libx265", CrfForQuality(QualityForPosition("libx265", kDefaultQualityPosition)), -1, -1},
      {"AV01", "encoder=libsvtav1", "libsvtav1",
       CrfForQuality(QualityForPosition("libsvtav1", kDefaultQualityPosition)), -1, -1},
      {"VP90", "", "libvpx-vp9", CrfForQuality(QualityForPosition("libvpx-vp9", kDefaultQualityPosition)), -1, -1},
      {"MJPG", "", "mjpeg", -1, -1,
       JpegQualityForQscale(QscaleForQuality(QualityForPosition("mjpeg", kDefaultQualityPosition)))},
      {"FMP4", "", "mpeg4", -1, -1, -1},
      {"FFV1", "", "ffv1", -1, -1, -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.encoder);
    if (!avcodec_find_encoder_by_name(c.encoder)) continue;
    const std::string parms = c.parms;
    EncoderChoice choice{};
    choice.record.fccHandler = FourccFromText(c.fourcc);
    choice.record.dwQuality = 0;
    choice.record.dwFlags = 0;
    choice.parms = std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(parms.data()), parms.size());
    const EncoderPlan plan = PlanEncoder(choice, "matroska", 64, 48);
    ASSERT_EQ(plan.error, "");
    EXPECT_EQ(plan.encoder, c.encoder);
    EXPECT_EQ(plan.crf, c.crf);
    EXPECT_EQ(plan.qscale, c.qscale);
    EXPECT_EQ(plan.path == FramePath::TurboJpeg, c.jpeg > 0);
    if (c.jpeg > 0) {
      EXPECT_EQ(plan.jpeg_quality, c.jpeg);
    }
    if (c.crf >= 0) {
      EXPECT_GT(c.crf, 0) << "the default is no lossless movie";
    }
    // The best end of the scale: SVT-AV1 takes crf 0 as none, so it gets 1.
    choice.record.dwQuality = 10000;
    if (c.crf >= 0) {
      EXPECT_EQ(PlanEncoder(choice, "matroska", 64, 48).crf, plan.encoder == "libsvtav1" ? 1 : 0);
    }
  }
}

// The JPEG quality that stands in for libavcodec's MJPEG quantiser: the best quantiser is
// near the top of the JPEG scale, the worst near its bottom, and the mapping never turns.
TEST(QualityTest, JpegQualityFollowsTheQuantiser) {
  const struct {
    int32_t qscale, quality;
  } cases[] = {{0, -1}, {-3, -1}, {1, 94}, {2, 88}, {8, 50}, {13, 31}, {31, 13}, {40, 10}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.qscale);
    EXPECT_EQ(JpegQualityForQscale(c.qscale), c.quality);
  }
  for (int32_t q = 2; q <= 31; ++q) {
    EXPECT_LE(JpegQualityForQscale(q), JpegQualityForQscale(q - 1)) << q;
    EXPECT_GE(JpegQualityForQscale(q), 1);
  }
  EXPECT_LT(JpegQualityForQscale(31), JpegQualityForQscale(8));
  EXPECT_LT(JpegQualityForQscale(8), JpegQualityForQscale(1));
  EXPECT_GE(JpegQualityForQscale(1000000), 1);
}

TEST(EncoderListTest, UncompressedFirstAndEveryEntryResolvesToItself) {
  const auto list = ListAviEncoders();
  ASSERT_FALSE(list.empty());
  EXPECT_EQ(list[0].fourcc_text, "DIB ");
  EXPECT_EQ(list[0].fourcc, 541215044);
  std::set<std::string> names;
  for (const EncoderInfo& e : list) {
    SCOPED_TRACE(e.name);
    EXPECT_TRUE(names.insert(e.name).second) << "listed twice";
    EXPECT_EQ(FourccFromText(e.fourcc_text), e.fourcc);
    // What the dialog stores must write with the encoder it showed.
    EXPECT_EQ(EncoderNameForFourcc(e.fourcc, e.name), e.name);
    EXPECT_EQ(e.supports_quality, QualityScaleOf(e.name) != QualityScale::None);
    EXPECT_EQ(e.name.find("vaapi"), std::string::npos);
    EXPECT_EQ(e.name.find("v4l2m2m"), std::string::npos);
  }
  auto find = [&](const std::string& name) {
    return std::find_if(list.begin(), list.end(), [&](const auto& e) { return e.name == name; });
  };
  const auto mjpeg = find("mjpeg");
  if (mjpeg != list.end()) {
    EXPECT_EQ(mjpeg->fourcc_text, "MJPG");
    EXPECT_TRUE(mjpeg->supports_quality);
  }
  const auto ffv1 = find("ffv1");
  if (ffv1 != list.end()) {
    EXPECT_FALSE(ffv1->supports_quality);
  }
}

// Today's encoders the container takes come first, in their order; then the rest, each
// encoder once, and together everything the container takes (H.265 too, which has no code
// in FFmpeg's AVI table before 6.0).
TEST(EncoderListTest, TodaysEncodersFirstThenTheRestWithoutDuplicates) {
  const struct {
    const char* muxer;
    const char* today;  // the first group, where every one of them is linked
  } cases[] = {
      {"avi", "libx264 libx265 libsvtav1 libvpx-vp9 mjpeg ffv1 rawvideo"},
      {"mp4", "libx264 libx265 libsvtav1 libvpx-vp9 mjpeg"},
      {"mov", "libx264 libx265 libsvtav1 libvpx-vp9 mjpeg rawvideo"},
      {"matroska", "libx264 libx265 libsvtav1 libvpx-vp9 mjpeg ffv1"},
      {"webm", "libsvtav1 libvpx-vp9"},
  };
  const auto all = ListAviEncoders();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.muxer);
    const auto list = ListContainerEncoders(c.muxer);
    std::string today;
    std::set<std::string> names;
    bool more = false;
    for (const EncoderInfo& e : list) {
      EXPECT_TRUE(names.insert(e.name).second) << e.name << " listed twice";
      EXPECT_TRUE(IsAviContainer(c.muxer) || EncoderFitsContainer(e.name, c.muxer)) << e.name;
      EXPECT_FALSE(e.hardware);
      if (e.group == EncoderGroup::More) more = true;
      if (e.group != EncoderGroup::Today) continue;
      EXPECT_FALSE(more) << e.name << " after the rest";
      EXPECT_TRUE(IsTodaysEncoder(e.name));
      today += (today.empty() ? "" : " ") + e.name;
    }
    std::string expected;
    for (const char* name : TodaysEncoders()) {
      const std::string n = name;
      // AVI holds H.265 only where FFmpeg's table has a code for it.
      const bool linked = avcodec_find_encoder_by_name(name) != nullptr &&
                          (!IsAviContainer(c.muxer) ||
                           std::any_of(all.begin(), all.end(), [&](const auto& e) { return e.name == n; }));
      if (linked && (" " + std::string(c.today) + " ").find(" " + n + " ") != std::string::npos)
        expected += (expected.empty() ? "" : " ") + n;
    }
    EXPECT_EQ(today, expected);
    for (const EncoderInfo& e : all) {
      if (IsAviContainer(c.muxer) || EncoderFitsContainer(e.name, c.muxer)) {
        EXPECT_TRUE(names.count(e.name)) << e.name;
      }
    }
  }
}

TEST(EncoderListTest, CodesResolveThroughTheTable) {
  const struct {
    const char* fourcc;
    const char* preferred;
    const char* expect;  // "" for none
  } cases[] = {
      {"DIB ", "", "rawvideo"}, {"MJPG", "", "mjpeg"},        {"mjpg", "", "mjpeg"},
      {"XVID", "", "mpeg4"},    {"DIVX", "", "mpeg4"},        {"FMP4", "libxvid", "libxvid"},
      {"FMP4", "mjpeg", "mpeg4"}, {"H264", "", "libx264"},    {"ZZZZ", "", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.fourcc) + "/" + c.preferred);
    const std::string got = EncoderNameForFourcc(FourccFromText(c.fourcc), c.preferred);
    if (got.empty() && *c.expect && !avcodec_find_encoder_by_name(c.expect)) continue;
    EXPECT_EQ(got, c.expect);
  }
}

TEST(EncoderOptionsTest, PrivateOptionsWithDefaultsAndChoices) {
  EXPECT_TRUE(ListEncoderOptions("no-such-encoder").empty());
  const struct {
    const char* encoder;
    const char* option;
    const char* type;
    const char* default_value;
    const char* a_choice;  // "" when the option has none
  } cases[] = {
      {"libx264", "preset", "string", "medium", ""},
      {"libx264", "crf", "float", "-1", ""},
      {"mjpeg", "huffman", "int", "1", "optimal"},
      {"ffv1", "context", "int", "0", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.encoder) + "." + c.option);
    const auto options = ListEncoderOptions(c.encoder);
    if (options.empty()) continue;  // encoder not in this FFmpeg
    const auto it = std::find_if(options.begin(), options.end(),
                                 [&](const auto& o) { return o.name == c.option; });
    ASSERT_NE(it, options.end());
    EXPECT_EQ(it->type, c.type);
    EXPECT_EQ(it->default_value, c.default_value);
    EXPECT_FALSE(it->help.empty());
    if (*c.a_choice) {
      EXPECT_NE(std::find(it->choices.begin(), it->choices.end(), c.a_choice), it->choices.end());
    }
  }
}

}  // namespace
}  // namespace chronoreel
