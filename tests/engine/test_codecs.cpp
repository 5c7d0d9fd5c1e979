#include "engine/codecs.h"

#include <gtest/gtest.h>

#include "engine/container.h"
#include "engine/encoder_plan.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <set>

#include "engine/container.h"
#include "engine/hardware_encoders.h"
#include "support/env_guard.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/log.h>
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

// A position survives the trip through dwQuality and every map rises over the whole range;
// the default position is x264's CRF 23.
TEST(QualityScaleTest, PositionsRoundTripAndRise) {
  for (const char* name : {"libx264", "libx265", "libsvtav1", "libvpx-vp9", "mjpeg", "mpeg4"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(QualityForPosition(name, -5), 1);
    EXPECT_EQ(QualityForPosition(name, 1000), 10000);
    EXPECT_EQ(PositionForQuality(name, 0), kDefaultQualityPosition);
    for (int p = 1; p <= kQualityPositions; ++p) {
      ASSERT_LT(QualityForPosition(name, p - 1), QualityForPosition(name, p)) << p;
      ASSERT_EQ(PositionForQuality(name, QualityForPosition(name, p)), p);
    }
  }
  EXPECT_EQ(CrfForQuality(QualityForPosition("libx264", kDefaultQualityPosition)), 23);
}

// dwQuality 0 plans today's encoders at the default position (MJPEG through TurboJPEG); the
// rest keep their own default. SVT-AV1 reads crf 0 as unset: its best end is crf 1.
TEST(QualityScaleTest, EncoderDefaultPlansTheDefaultPosition) {
  const struct {
    const char *fourcc, *parms, *encoder;
  } cases[] = {{"H264", "", "libx264"}, {"HEVC", "", "libx265"}, {"AV01", "encoder=libsvtav1", "libsvtav1"},
               {"VP90", "", "libvpx-vp9"}, {"MJPG", "", "mjpeg"}, {"FMP4", "", "mpeg4"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.encoder);
    if (!avcodec_find_encoder_by_name(c.encoder)) continue;
    const std::string parms = c.parms;
    EncoderChoice choice{};
    choice.record.fccHandler = FourccFromText(c.fourcc);
    choice.record.dwQuality = 0;
    choice.parms = {reinterpret_cast<const uint8_t*>(parms.data()), parms.size()};
    const EncoderPlan plan = PlanEncoder(choice, "matroska", 64, 48);
    ASSERT_EQ(plan.encoder, c.encoder);
    const int32_t q = IsTodaysEncoder(c.encoder) ? QualityForPosition(c.encoder, kDefaultQualityPosition) : 0;
    EXPECT_EQ(plan.path == FramePath::TurboJpeg, plan.encoder == "mjpeg");
    EXPECT_EQ(plan.jpeg_quality, plan.encoder == "mjpeg" ? JpegQualityForQscale(QscaleForQuality(q)) : 0);
    EXPECT_EQ(plan.crf, plan.path == FramePath::Encoder && q > 0 ? CrfForQuality(q) : -1);
    EXPECT_EQ(plan.qscale, -1);
    choice.record.dwQuality = 10000;
    if (plan.crf >= 0) {
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

// Today's encoders the container takes come first, in their order, then the rest; no
// encoder twice.
TEST(EncoderListTest, TodaysEncodersFirstThenTheRestEachOnce) {
  const struct {
    const char *muxer, *today;  // today's encoders the container takes (where linked)
  } cases[] = {
      {"avi", "libx264 libsvtav1 libvpx-vp9 mjpeg ffv1 rawvideo"},
      {"mp4", "libx264 libx265 libsvtav1 libvpx-vp9 mjpeg"},
      {"mov", "libx264 libx265 libsvtav1 libvpx-vp9 mjpeg rawvideo"},
      {"matroska", "libx264 libx265 libsvtav1 libvpx-vp9 mjpeg ffv1"},
      {"webm", "libsvtav1 libvpx-vp9"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.muxer);
    const auto list = ListContainerEncoders(c.muxer);
    std::set<std::string> names;
    std::string today, expected;
    for (size_t i = 0; i < list.size(); ++i) {
      EXPECT_TRUE(names.insert(list[i].name).second) << list[i].name << " twice";
      if (list[i].group != EncoderGroup::Today) continue;
      EXPECT_TRUE(i == 0 || list[i - 1].group == EncoderGroup::Today) << list[i].name << " after the rest";
      // AVI holds H.265 only where FFmpeg's table has a code for it (6.0 on).
      if (!(IsAviContainer(c.muxer) && list[i].name == "libx265")) today += " " + list[i].name;
    }
    const std::string takes = " " + std::string(c.today) + " ";
    for (const std::string name : TodaysEncoders()) {
      if (avcodec_find_encoder_by_name(name.c_str()) && takes.find(" " + name + " ") != std::string::npos)
        expected += " " + name;
    }
    EXPECT_EQ(today, expected);
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
      {"HEVC", "", "libx265"},  {"hevc", "libx264", "libx265"},
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

// ---- hardware encoders ----

TEST(HardwareEncoderTest, FamiliesSoftwareStandInsAndQualityScales) {
  const struct {
    const char* name;
    HardwareFamily family;
    const char* software;  // "" for no stand-in
    int32_t worst, best;   // the constant quality at dwQuality 1 and 10000; -1: none
  } cases[] = {
      {"h264_vaapi", HardwareFamily::Vaapi, "libx264", 51, 1},
      {"hevc_nvenc", HardwareFamily::Nvenc, "libx265", 51, 1},
      {"h264_qsv", HardwareFamily::Qsv, "libx264", 51, 1},
      {"vp9_qsv", HardwareFamily::Qsv, "libvpx-vp9", 51, 1},
      {"vp9_vaapi", HardwareFamily::Vaapi, "libvpx-vp9", 255, 1},
      {"mjpeg_vaapi", HardwareFamily::Vaapi, "mjpeg", 1, 100},
      {"mpeg2_qsv", HardwareFamily::Qsv, "mpeg2video", 51, 1},
      {"h264_v4l2m2m", HardwareFamily::V4l2m2m, "libx264", -1, -1},
      {"libx264", HardwareFamily::None, "", -1, -1},
      {"vaapi", HardwareFamily::None, "", -1, -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(HardwareFamilyOf(c.name), c.family);
    EXPECT_EQ(IsHardwareEncoderName(c.name), c.family != HardwareFamily::None);
    if (!avcodec_find_encoder_by_name(c.name)) continue;
    if (*c.software && avcodec_find_encoder_by_name(c.software)) {
      EXPECT_EQ(SoftwareEncoderFor(c.name), c.software);
    }
    const HardwareQuality scale = HardwareQualityOf(c.name);
    EXPECT_EQ(HardwareQualityValue(scale, 1), c.worst);
    EXPECT_EQ(HardwareQualityValue(scale, 10000), c.best);
    EXPECT_EQ(HardwareQualityValue(scale, 0), -1);
    for (int32_t q = 2; c.worst >= 0 && q <= 10000; ++q) {
      const int32_t step = HardwareQualityValue(scale, q) - HardwareQualityValue(scale, q - 1);
      ASSERT_TRUE(c.best > c.worst ? step >= 0 : step <= 0) << q;
    }
  }
  EXPECT_EQ(SoftwareEncoderFor("no_such_vaapi"), "");
}

bool Listed(const std::vector<std::string>& names, const std::string& name) {
  return std::find(names.begin(), names.end(), name) != names.end();
}

// Only an encoder whose device opened is offered, and what is offered writes with itself.
TEST(HardwareEncoderTest, OnlyEncodersThatOpenAreListed) {
  const std::vector<std::string> available = AvailableHardwareEncoders();
  const bool no_render_node = !std::filesystem::exists("/dev/dri");
  void* it = nullptr;
  while (const AVCodec* codec = av_codec_iterate(&it)) {
    if (!av_codec_is_encoder(codec) || !IsHardwareEncoderName(codec->name)) continue;
    SCOPED_TRACE(codec->name);
    const std::string reason = HardwareUnavailableReason(codec->name);
    EXPECT_EQ(IsHardwareEncoderAvailable(codec->name), reason.empty());
    EXPECT_EQ(Listed(available, codec->name), reason.empty());
    const HardwareFamily family = HardwareFamilyOf(codec->name);
    if (no_render_node && (family == HardwareFamily::Vaapi || family == HardwareFamily::Qsv)) {
      EXPECT_EQ(reason, "no " + HardwareFamilyName(family) + " device");
    }
  }
  for (const char* muxer : {"avi", "mp4", "matroska", "webm"}) {
    for (const EncoderInfo& e : ListHardwareEncoders(muxer)) {
      SCOPED_TRACE(e.name);
      EXPECT_TRUE(Listed(available, e.name));
      EXPECT_NE(e.long_name.find("hardware"), std::string::npos);
      EXPECT_EQ(EncoderNameForFourcc(e.fourcc, e.name), e.name);
      EXPECT_TRUE(IsAviContainer(muxer) || EncoderFitsContainer(e.name, muxer));
    }
  }
  test::EnvGuard off("CHRONOREEL_NO_HARDWARE_ENCODERS", "1");
  EXPECT_TRUE(AvailableHardwareEncoders().empty());
  EXPECT_TRUE(ListHardwareEncoders("mp4").empty());
  EXPECT_NE(HardwareUnavailableReason("h264_vaapi").find("switched off"), std::string::npos);
  EXPECT_EQ(EncoderNameForFourcc(FourccFromText("H264"), "h264_vaapi"), SoftwareEncoderFor("h264_vaapi"));
}

// In a process of its own, so that the probe really runs: FFmpeg's complaints about missing
// devices stay unheard even at its most talkative, and its messages flow again afterwards.
TEST(HardwareEncoderTest, TheProbeIsSilent) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        unsetenv("CHRONOREEL_NO_HARDWARE_ENCODERS");
        av_log_set_level(AV_LOG_DEBUG);
        AvailableHardwareEncoders();
        av_log(nullptr, AV_LOG_ERROR, "after\n");
        std::exit(0);
      },
      ::testing::ExitedWithCode(0), "^after\n$");
}

}  // namespace
}  // namespace chronoreel
