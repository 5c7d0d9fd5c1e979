#include "engine/codecs.h"

#include <gtest/gtest.h>

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
