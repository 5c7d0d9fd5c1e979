// The date stamp and deflicker through whole runs: movies made with and without them are
// read back and compared pixel by pixel (uncompressed frames, so nothing blurs).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "engine/codecs.h"
#include "engine/deflicker.h"
#include "engine/movie_gen.h"
#include "engine/stamp.h"
#include "support/fake_host.h"
#include "support/jpeg_maker.h"
#include "support/probe_movie.h"
#include "support/test_files.h"
#include "time/sun.h"

extern "C" {
#include <libavutil/log.h>
}

namespace chronoreel {
namespace {

const int kQuietLibraries = (av_log_set_level(AV_LOG_ERROR), 0);

constexpr int kWidth = 320;
constexpr int kHeight = 120;

// 7 December 2006, 08:00 plus `minutes`: the name carries the still's time.
std::string StillName(int minutes) {
  char name[32];
  std::snprintf(name, sizeof name, "061207%02d%02d00.jpg", 8 + minutes / 60, minutes % 60);
  return name;
}

uint32_t Grey(int level) {
  const auto v = static_cast<uint32_t>(level);
  return v << 16 | v << 8 | v;
}

class FeatureRun {
 public:
  FeatureRun() : sun_(state_.location), gen_(state_, sun_, host_) {
    gen_.SetStillDirectory(stills_.Str());
    gen_.SetImageFilter("*.jpg");
    gen_.SetTimeStampOption(1);
    gen_.SetCompressHandler(kFourccDib);
    gen_.SetCompressFlags(0);
    gen_.SetMovieFPS(10);
    gen_.SetClock([] { return *DateTimeFromCivil(2006, 12, 7, 12, 0, 0); });
  }

  void AddStill(int minutes, int grey) {
    WriteFlatJpeg(stills_.File(StillName(minutes)), kWidth, kHeight, Grey(grey));
  }

  // Makes the movie into `name` and decodes it; empty when the run did not complete.
  std::vector<test::DecodedFrame> Make(const std::string& name) {
    gen_.SetOutputAVIPath(out_.File(name));
    gen_.MakeMovie(kQuietRun);
    if (!gen_.LastRunCompleted()) return {};
    return test::DecodeAllFrames(out_.File(name));
  }

  MovieGen& Gen() { return gen_; }

 private:
  TempDir stills_{"feat-stills"};
  TempDir out_{"feat-out"};
  ProgramState state_;
  FakeHost host_;
  Sun sun_;
  MovieGen gen_;
};

bool FontAvailable() {
  static const bool ready = FrameStamper().Ready();
  return ready;
}

// The quadrant of a frame, top row first: 0 top left, 1 top right, 2 bottom left,
// 3 bottom right (the stamp's corners).
std::vector<uint8_t> Quadrant(const test::DecodedFrame& f, int q) {
  const int x0 = (q % 2) * f.width / 2, y0 = (q / 2) * f.height / 2;
  std::vector<uint8_t> bytes;
  for (int y = y0; y < y0 + f.height / 2; ++y) {
    const auto row = f.bgr.begin() + (static_cast<ptrdiff_t>(y) * f.width + x0) * 3;
    bytes.insert(bytes.end(), row, row + static_cast<ptrdiff_t>(f.width / 2) * 3);
  }
  return bytes;
}

uint8_t Brightest(const std::vector<uint8_t>& bytes) {
  return bytes.empty() ? 0 : *std::max_element(bytes.begin(), bytes.end());
}

double MeanLuma(const test::DecodedFrame& f) {
  return Deflicker::MeanLuminance(f.bgr.data(), f.width, f.height, f.width * 3);
}

// Mean square of the change in brightness from one frame to the next.
double FlickerOf(const std::vector<test::DecodedFrame>& frames) {
  double sum = 0;
  for (size_t k = 1; k < frames.size(); ++k) {
    const double d = MeanLuma(frames[k]) - MeanLuma(frames[k - 1]);
    sum += d * d;
  }
  return frames.size() < 2 ? 0 : sum / static_cast<double>(frames.size() - 1);
}

class StampCornerTest : public ::testing::TestWithParam<int> {};

TEST_P(StampCornerTest, OnlyTheStampsCornerChanges) {
  if (!FontAvailable()) GTEST_SKIP() << "no font for the stamp on this machine";
  const int corner = GetParam();
  FeatureRun run;
  run.AddStill(0, 90);
  run.AddStill(71, 90);  // 09:11
  const std::vector<test::DecodedFrame> plain = run.Make("plain.avi");
  run.Gen().SetStampText("%H:%M");
  run.Gen().SetStampPosition(corner);
  run.Gen().SetStampSize(20);
  const std::vector<test::DecodedFrame> stamped = run.Make("stamped.avi");
  ASSERT_EQ(plain.size(), 2u);
  ASSERT_EQ(stamped.size(), 2u);
  for (size_t k = 0; k < 2; ++k) {
    for (int q = 0; q < 4; ++q) {
      if (q == corner) {
        EXPECT_NE(Quadrant(stamped[k], q), Quadrant(plain[k], q)) << "frame " << k;
        EXPECT_GE(Brightest(Quadrant(stamped[k], q)), 240) << "white letters, frame " << k;
      } else {
        EXPECT_EQ(Quadrant(stamped[k], q), Quadrant(plain[k], q))
            << "frame " << k << " quadrant " << q;
      }
    }
  }
  // Each frame shows its own still's time: the two stills are alike, their stamps not.
  EXPECT_EQ(Quadrant(plain[0], corner), Quadrant(plain[1], corner));
  EXPECT_NE(Quadrant(stamped[0], corner), Quadrant(stamped[1], corner));
}

INSTANTIATE_TEST_SUITE_P(Corners, StampCornerTest,
                         ::testing::Values(kStampTopLeft, kStampTopRight, kStampBottomLeft,
                                           kStampBottomRight));

TEST(StampTest, ABackwardsMovieStampsEachStillWithItsOwnTime) {
  if (!FontAvailable()) GTEST_SKIP() << "no font for the stamp on this machine";
  FeatureRun run;
  for (int i = 0; i < 3; ++i) run.AddStill(i * 37, 90);
  run.Gen().SetStampText("%H:%M");
  run.Gen().SetStampSize(20);
  const std::vector<test::DecodedFrame> forwards = run.Make("forwards.avi");
  run.Gen().SetMovieDirection(-1);
  const std::vector<test::DecodedFrame> backwards = run.Make("backwards.avi");
  ASSERT_EQ(forwards.size(), 3u);
  ASSERT_EQ(backwards.size(), 3u);
  for (size_t k = 0; k < 3; ++k) EXPECT_EQ(backwards[k].bgr, forwards[2 - k].bgr) << k;
}

TEST(StampTest, TagsAndFieldsTogether) {
  if (!FontAvailable()) GTEST_SKIP() << "no font for the stamp on this machine";
  // A tag fills in after the still's fields: "<outfile>" brings a '%' that is no field.
  // Both stills have the same time, so both frames carry the same text, whatever it is,
  // and a literal pattern without fields draws the same on every frame too.
  FeatureRun run;
  run.AddStill(0, 90);
  run.AddStill(1, 90);
  run.Gen().SetStampText("<outfile> %H");
  run.Gen().SetStampSize(20);
  run.Gen().SetStampPosition(kStampTopLeft);
  const std::vector<test::DecodedFrame> tagged = run.Make("a%Hb.avi");
  run.Gen().SetStampText("a%%Hb.avi 08");
  const std::vector<test::DecodedFrame> literal = run.Make("other.avi");
  ASSERT_EQ(tagged.size(), 2u);
  ASSERT_EQ(literal.size(), 2u);
  // "<outfile>" is the file's name; its "%H" stays as it is.
  EXPECT_EQ(tagged[0].bgr, literal[0].bgr);
  EXPECT_EQ(tagged[1].bgr, literal[1].bgr);
}

TEST(DeflickerTest, AFlickeringSeriesComesOutSteadier) {
  FeatureRun run;
  // A sky that jumps between two levels from still to still, as auto-exposure does.
  for (int i = 0; i < 24; ++i) run.AddStill(i, i % 2 == 0 ? 80 : 130);
  const std::vector<test::DecodedFrame> raw = run.Make("raw.avi");
  run.Gen().SetDeflickerFrames(6);
  const std::vector<test::DecodedFrame> even = run.Make("even.avi");
  ASSERT_EQ(raw.size(), 24u);
  ASSERT_EQ(even.size(), 24u);
  const double before = FlickerOf(raw);
  const double after = FlickerOf(even);
  EXPECT_GT(before, 1000.0);
  EXPECT_LT(after, before / 4) << "before " << before << ", after " << after;
  // The first frame has no history: it stays as it was.
  EXPECT_EQ(even[0].bgr, raw[0].bgr);
}

TEST(DeflickerTest, TheStampKeepsItsColourOnEvenedFrames) {
  if (!FontAvailable()) GTEST_SKIP() << "no font for the stamp on this machine";
  FeatureRun run;
  for (int i = 0; i < 8; ++i) run.AddStill(i, i % 2 == 0 ? 60 : 160);
  run.Gen().SetDeflickerFrames(4);
  run.Gen().SetStampText("%H:%M");
  run.Gen().SetStampSize(20);
  run.Gen().SetStampPosition(kStampBottomRight);
  const std::vector<test::DecodedFrame> frames = run.Make("both.avi");
  ASSERT_EQ(frames.size(), 8u);
  // Bright frames are darkened by the deflicker; the letters drawn afterwards are not.
  for (size_t k = 0; k < frames.size(); ++k)
    EXPECT_GE(Brightest(Quadrant(frames[k], kStampBottomRight)), 250) << "frame " << k;
}

}  // namespace
}  // namespace chronoreel
