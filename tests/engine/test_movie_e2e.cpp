// A thousand camera-like stills through the whole run, for every encoder: the movie read back
// holds exactly the selected stills, in their order, upright, each a key frame.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "engine/codecs.h"
#include "engine/movie_gen.h"
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

constexpr int kStills = 1000;
constexpr int kWidth = 96;
constexpr int kHeight = 64;
constexpr int kStepSeconds = 10;

// Each still shows its index in two flat halves: the top half carries index / 32 with red
// at 0 or 85, the bottom half index % 32 with red at 170 or 255. The levels lie 85 apart,
// so a lossy encoder cannot blur one still into another, and a picture upside down shows
// a red that no top half has.
constexpr int kLevels[4] = {0, 85, 170, 255};

uint32_t HalfColour(int code, bool top) {
  const int red = kLevels[(code >> 4) + (top ? 0 : 2)];
  const int green = kLevels[(code >> 2) & 3];
  const int blue = kLevels[code & 3];
  return static_cast<uint32_t>(red << 16 | green << 8 | blue);
}

// The level a measured channel stands for, or -1 when it is near none.
int LevelOf(double value) {
  for (int i = 0; i < 4; ++i) {
    if (std::fabs(value - kLevels[i]) < 30) return i;
  }
  return -1;
}

// The still index a decoded frame shows, or -1 (unreadable, or the wrong way up).
int StillShown(const test::DecodedFrame& frame, int width = kWidth, int height = kHeight) {
  if (frame.width != width || frame.height != height) return -1;
  int codes[2];
  for (int half = 0; half < 2; ++half) {
    double bgr[3];
    const int y0 = half == 0 ? 4 : height / 2 + 4;
    frame.MeanColour(8, y0, width - 8, y0 + height / 2 - 8, bgr);
    const int r = LevelOf(bgr[2]), g = LevelOf(bgr[1]), b = LevelOf(bgr[0]);
    if (r < 0 || g < 0 || b < 0) return -1;
    const int red_bit = half == 0 ? r : r - 2;
    if (red_bit < 0 || red_bit > 1) return -1;
    codes[half] = red_bit << 4 | g << 2 | b;
  }
  return codes[0] * 32 + codes[1];
}

std::string StillName(int index) {
  // 7 December 2006 from 08:00:00, one still every ten seconds.
  const int seconds = 8 * 3600 + index * kStepSeconds;
  char name[32];
  std::snprintf(name, sizeof name, "061207%02d%02d%02d.jpg", seconds / 3600, seconds / 60 % 60,
                seconds % 60);
  return name;
}

DateTime StillTime(int index) {
  return *DateTimeFromCivil(2006, 12, 7, 8, 0, 0) + index * kStepSeconds / 86400.0;
}

// A still that shows its index.
void WriteStill(const std::string& path, int i) {
  std::vector<uint8_t> rgb(static_cast<size_t>(kWidth) * kHeight * 3);
  for (int y = 0; y < kHeight; ++y) {
    const uint32_t c = y < kHeight / 2 ? HalfColour(i / 32, true) : HalfColour(i % 32, false);
    for (int x = 0; x < kWidth; ++x) {
      uint8_t* p = &rgb[(static_cast<size_t>(y) * kWidth + x) * 3];
      p[0] = static_cast<uint8_t>(c >> 16);
      p[1] = static_cast<uint8_t>(c >> 8);
      p[2] = static_cast<uint8_t>(c);
    }
  }
  WriteBytes(path, EncodeJpeg(rgb, kWidth, kHeight));
}

// The stills are made once for every case.
class Stills {
 public:
  static const Stills& Get() {
    static const Stills stills;
    return stills;
  }
  std::string Dir() const { return dir_.Str(); }

 private:
  Stills() {
    for (int i = 0; i < kStills; ++i) WriteStill(dir_.File(StillName(i)), i);
  }
  TempDir dir_{"e2e-stills"};
};

enum class Pick { All, Window, ReversedWindow, EveryThird };

struct E2eCase {
  const char* fourcc;
  const char* codec_name;  // as libavformat reads it back
  Pick pick;
  int direction;
};

void PrintTo(const E2eCase& c, std::ostream* os) { *os << '"' << c.fourcc << '"'; }

// The stills each case should show, worked out from the stills' times, not by the engine.
std::vector<int> Expected(const E2eCase& c) {
  std::vector<int> order;
  for (int i = 0; i < kStills; ++i) {
    switch (c.pick) {
      case Pick::All: order.push_back(i); break;
      case Pick::Window:
      case Pick::ReversedWindow:
        if (i >= 60 && i <= 900) order.push_back(i);  // 08:10:00 to 10:30:00, ends included
        break;
      case Pick::EveryThird:
        if (i % 3 == 0) order.push_back(i);  // 120 an hour: the still on each half minute
        break;
    }
  }
  // A window given backwards plays the other way round.
  const bool backwards = (c.direction == -1) != (c.pick == Pick::ReversedWindow);
  if (backwards) std::reverse(order.begin(), order.end());
  return order;
}

class MovieE2eTest : public ::testing::TestWithParam<E2eCase> {
 protected:
  MovieE2eTest() : sun_(state_.location), gen_(state_, sun_, host_) {
    host_.cancel_action = [this] { gen_.SetCancelMovie(true); };
    gen_.SetStillDirectory(Stills::Get().Dir());
    gen_.SetImageFilter("*.jpg");
    gen_.SetTimeStampOption(1);
    gen_.SetOutputAVIPath(out_.File("movie.avi"));
    gen_.SetMovieFPS(25);
    gen_.SetClock([] { return *DateTimeFromCivil(2006, 12, 7, 12, 0, 0); });
  }

  TempDir out_{"e2e-out"};
  ProgramState state_;
  // A quiet scheduled run: no window.
  RunOptions run_{.show_progress = false, .unattended = true};
  FakeHost host_;
  Sun sun_;
  MovieGen gen_;
};

TEST_P(MovieE2eTest, MovieHoldsExactlyTheSelectedStillsAsKeyFrames) {
  const E2eCase& c = GetParam();
  if (std::string(c.fourcc) != "DIB " && EncoderNameForFourcc(FourccFromText(c.fourcc)).empty()) {
    GTEST_SKIP() << "the linked FFmpeg has no encoder for " << c.fourcc;
  }
  gen_.SetCompressHandler(FourccFromText(c.fourcc));
  gen_.SetCompressQuality(8000);
  gen_.SetCompressFlags(0);
  gen_.SetMovieDirection(c.direction);
  if (c.pick == Pick::Window || c.pick == Pick::ReversedWindow) {
    gen_.SetTimeOption(1);
    gen_.SetStartTimeOption(3);
    gen_.SetStopTimeOption(3);
    const DateTime from = StillTime(60), to = StillTime(900);
    gen_.SetStartTimeAbsolute(c.pick == Pick::Window ? from : to);
    gen_.SetStopTimeAbsolute(c.pick == Pick::Window ? to : from);
  }
  if (c.pick == Pick::EveryThird) {
    gen_.SetImageIntervalOption(1);
    gen_.SetImagesPerHour(120);
  }

  gen_.MakeMovie(run_);
  ASSERT_TRUE(gen_.LastRunCompleted());
  const std::vector<int> expected = Expected(c);
  ASSERT_EQ(gen_.FramePaths().size(), expected.size());

  const std::string movie_path = gen_.OutputAVIPath();
  const test::ProbedMovie movie = test::ProbeMovie(movie_path);
  ASSERT_TRUE(movie.opened) << movie.error;
  EXPECT_EQ(movie.stream_count, 1);
  EXPECT_EQ(movie.codec_name, c.codec_name);
  // The file names the code that was chosen (uncompressed frames carry none).
  const bool raw = std::string(c.fourcc) == "DIB ";
  EXPECT_EQ(movie.codec_tag, raw ? 0u : static_cast<uint32_t>(FourccFromText(c.fourcc)))
      << FourccToText(static_cast<int32_t>(movie.codec_tag));
  EXPECT_EQ(movie.width, kWidth);
  EXPECT_EQ(movie.height, kHeight);
  EXPECT_EQ(movie.rate_num, 25);
  EXPECT_EQ(movie.rate_den, 1);
  ASSERT_EQ(movie.FrameCount(), static_cast<int>(expected.size()));
  int not_key = 0;
  for (bool key : movie.key_flags) not_key += key ? 0 : 1;
  EXPECT_EQ(not_key, 0);

  const std::vector<test::DecodedFrame> frames = test::DecodeAllFrames(movie_path);
  ASSERT_EQ(frames.size(), expected.size());
  int wrong = 0;
  for (size_t k = 0; k < frames.size(); ++k) {
    const int shown = StillShown(frames[k]);
    if (shown != expected[k] && ++wrong <= 5) {
      ADD_FAILURE() << "frame " << k << " shows still " << shown << ", expected "
                    << expected[k];
    }
  }
  EXPECT_EQ(wrong, 0);

  // ffprobe, a reader that shares nothing with the writer's code, agrees on the packets.
  const std::vector<bool> flags = test::KeyFlagsByFfprobe(movie_path);
  const int packets = static_cast<int>(flags.size());
  const int keys = static_cast<int>(std::count(flags.begin(), flags.end(), true));
  EXPECT_EQ(packets, static_cast<int>(expected.size()));
  EXPECT_EQ(keys, packets);
}

INSTANTIATE_TEST_SUITE_P(
    Codecs, MovieE2eTest,
    ::testing::Values(E2eCase{"DIB ", "rawvideo", Pick::All, 1},
                      E2eCase{"MJPG", "mjpeg", Pick::Window, 1},
                      E2eCase{"FMP4", "mpeg4", Pick::All, -1},
                      E2eCase{"XVID", "mpeg4", Pick::EveryThird, 1},
                      E2eCase{"H264", "h264", Pick::ReversedWindow, 1},
                      E2eCase{"FFV1", "ffv1", Pick::ReversedWindow, -1},
                      E2eCase{"HFYU", "huffyuv", Pick::EveryThird, -1}),
    [](const auto& param_info) {
      const std::string n = param_info.param.fourcc;
      return n == "DIB " ? std::string("DIB") : n;
    });

// Stills stretched to a movie size of their own: where the stream takes them, frames go to
// the writer as the decoder's planes, and the preview still shows each frame's picture.
TEST_F(MovieE2eTest, StretchedStillsKeepTheirOrderAndPictureOnEveryPath) {
  struct Case {
    const char* fourcc;
    int32_t quality;
  };
  const Case cases[] = {{"FMP4", 7700}, {"MJPG", 7700}, {"HFYU", 8000}};
  constexpr int kMovieWidth = 64, kMovieHeight = 48;
  run_.show_progress = true;
  host_.probe_x = kMovieWidth / 2;
  host_.probe_y = 4;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fourcc);
    if (EncoderNameForFourcc(FourccFromText(c.fourcc)).empty()) continue;
    host_.log.clear();
    gen_.SetCompressHandler(FourccFromText(c.fourcc));
    gen_.SetCompressQuality(c.quality);
    gen_.SetCompressFlags(0);
    gen_.SetMovieSizeOption(1);
    gen_.SetMovieSizeWidth(kMovieWidth);
    gen_.SetMovieSizeHeight(kMovieHeight);
    gen_.SetImageIntervalOption(1);
    gen_.SetImagesPerHour(30);  // one still in twelve
    gen_.MakeMovie(run_);
    ASSERT_TRUE(gen_.LastRunCompleted());
    std::vector<int> expected;
    for (int i = 0; i < kStills; ++i) {
      if (i % 12 == 0) expected.push_back(i);
    }
    ASSERT_EQ(gen_.FramePaths().size(), expected.size());
    const std::vector<test::DecodedFrame> frames = test::DecodeAllFrames(gen_.OutputAVIPath());
    ASSERT_EQ(frames.size(), expected.size());
    int wrong = 0;
    for (size_t k = 0; k < frames.size(); ++k) {
      const int shown = StillShown(frames[k], kMovieWidth, kMovieHeight);
      if (shown != expected[k] && ++wrong <= 3) {
        ADD_FAILURE() << "frame " << k << " shows still " << shown << ", expected " << expected[k];
      }
    }
    EXPECT_EQ(wrong, 0);
    // The first frame is always previewed: the top half of the first still.
    const std::vector<std::string> previews = host_.Lines("frame:");
    ASSERT_FALSE(previews.empty());
    const uint32_t want = HalfColour(expected[0] / 32, true);
    char text[32];
    std::snprintf(text, sizeof text, "%dx%d:", kMovieWidth, kMovieHeight);
    ASSERT_EQ(previews[0].rfind(text, 0), 0u) << previews[0];
    const uint32_t got = static_cast<uint32_t>(std::stoul(previews[0].substr(std::strlen(text)), nullptr, 16));
    for (int shift : {0, 8, 16}) {
      EXPECT_NEAR(int(got >> shift & 0xFF), int(want >> shift & 0xFF), 30) << previews[0];
    }
  }
}

// A month of stills, one an hour on the half hour through June 2006, made once.
std::string MonthOfStills() {
  static const TempDir dir{"e2e-month"};
  static const bool made = [] {
    for (int i = 0; i < 30 * 24; ++i) {
      char name[32];
      std::snprintf(name, sizeof name, "0606%02d%02d3000.jpg", 1 + i / 24, i % 24);
      WriteStill(dir.File(name), i);
    }
    return true;
  }();
  return made ? dir.Str() : "";
}

// The stills a movie of the month shows, and its frame rate.
std::pair<std::vector<int>, int> MonthMovie(MovieGen& gen) {
  gen.SetStillDirectory(MonthOfStills());
  gen.SetCompressHandler(FourccFromText("DIB "));
  gen.MakeMovie({.show_progress = false, .unattended = true});
  EXPECT_TRUE(gen.LastRunCompleted());
  std::vector<int> shown;
  for (const test::DecodedFrame& frame : test::DecodeAllFrames(gen.OutputAVIPath())) shown.push_back(StillShown(frame));
  return {shown, test::ProbeMovie(gen.OutputAVIPath()).rate_num};
}

TEST_F(MovieE2eTest, AMonthInWorkingHoursAtAChosenLengthLeavesNoNights) {
  gen_.SetDayHoursOption(1);
  gen_.SetDayHoursStart(8.0 / 24);
  gen_.SetDayHoursStop(17.0 / 24);
  gen_.SetMovieSeconds(6);  // 150 frames at 25 a second, from 270 stills of working hours
  const auto [shown, rate] = MonthMovie(gen_);
  EXPECT_EQ(rate, 25);
  EXPECT_NEAR(static_cast<double>(shown.size()), 150, 1);
  // Stills of working hours in order, each once, never more than two such stills apart.
  int previous = -1;
  for (int still : shown) {
    EXPECT_TRUE(still % 24 >= 8 && still % 24 <= 16) << still;
    const int rank = still / 24 * 9 + still % 24 - 8;
    EXPECT_TRUE(previous < 0 || rank - previous == 1 || rank - previous == 2) << still;
    previous = rank;
  }
}

TEST_F(MovieE2eTest, AMonthOfNoonsSetsTheRateForTheLength) {
  gen_.SetDailyTimes("12:00");
  gen_.SetMovieSeconds(3);  // 30 frames: 10 a second
  std::vector<int> noons;  // 11:30 and 12:30 lie equally near: the later one
  for (int day = 0; day < 30; ++day) noons.push_back(day * 24 + 12);
  EXPECT_EQ(MonthMovie(gen_), std::pair(noons, 10));
}

}  // namespace
}  // namespace chronoreel
