#include "engine/stamp.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace chronoreel {
namespace {

// --- The still's time in the text ---------------------------------------------------------

struct TimeCase {
  const char* pattern;
  int year, month, day, hour, minute;
  double second;
  const char* want;
};

class FormatStillTime : public ::testing::TestWithParam<TimeCase> {};

TEST_P(FormatStillTime, ReplacesTheFieldsItKnows) {
  const TimeCase& c = GetParam();
  const auto when = DateTimeFromCivil(c.year, c.month, c.day, c.hour, c.minute, c.second);
  ASSERT_TRUE(when.has_value());
  EXPECT_EQ(FrameStamper::FormatStillTime(c.pattern, *when), c.want) << c.pattern;
}

INSTANTIATE_TEST_SUITE_P(
    Fields, FormatStillTime,
    ::testing::Values(
        TimeCase{"%Y-%m-%d %H:%M", 2026, 12, 8, 14, 5, 9, "2026-12-08 14:05"},
        TimeCase{"%y%m%d%H%M%S", 2026, 1, 2, 3, 4, 5, "260102030405"},
        TimeCase{"%a %d %b %Y", 2026, 12, 8, 0, 0, 0, "Tue 08 Dec 2026"},
        TimeCase{"%A %e %B", 2026, 12, 8, 0, 0, 0, "Tuesday  8 December"},
        TimeCase{"%a", 1899, 12, 30, 0, 0, 0, "Sat"},
        TimeCase{"%a", 2000, 2, 29, 12, 0, 0, "Tue"},
        TimeCase{"%j", 2024, 12, 31, 0, 0, 0, "366"},
        TimeCase{"%j", 2026, 12, 8, 0, 0, 0, "342"},
        TimeCase{"%j", 2026, 1, 1, 23, 59, 59, "001"},
        TimeCase{"%I:%M %p", 2026, 6, 1, 0, 30, 0, "12:30 AM"},
        TimeCase{"%I:%M %p", 2026, 6, 1, 12, 0, 0, "12:00 PM"},
        TimeCase{"%I:%M %p", 2026, 6, 1, 13, 15, 0, "01:15 PM"},
        TimeCase{"%I %p", 2026, 6, 1, 11, 59, 59, "11 AM"},
        // A still's second is the one it began in, never the next.
        TimeCase{"%S", 2026, 6, 1, 10, 0, 59.7, "59"},
        TimeCase{"%T", 2026, 6, 1, 10, 0, 5.0, "10:00:05"},
        TimeCase{"%F %R", 2026, 6, 1, 7, 8, 0, "2026-06-01 07:08"},
        TimeCase{"%Y", 5, 3, 1, 0, 0, 0, "0005"},
        TimeCase{"%%Y is %Y", 2026, 6, 1, 0, 0, 0, "%Y is 2026"},
        TimeCase{"%Q %k 100%", 2026, 6, 1, 0, 0, 0, "%Q %k 100%"},
        TimeCase{"<date> cam", 2026, 6, 1, 0, 0, 0, "<date> cam"},
        TimeCase{"Größe %H°", 2026, 6, 1, 9, 0, 0, "Größe 09°"},
        TimeCase{"", 2026, 6, 1, 9, 0, 0, ""}));

TEST(FormatStillTimeOutOfRange, GivesADateNotGarbage) {
  // Values no still has are clamped by the date conversion; the text stays well formed.
  for (double value : {-1e12, 1e12}) {
    const std::string text = FrameStamper::FormatStillTime("%Y-%m-%d", value);
    ASSERT_EQ(text.size(), 10u) << value;
    EXPECT_EQ(text[4], '-');
    EXPECT_EQ(text[7], '-');
  }
}

// --- Drawing ------------------------------------------------------------------------------

constexpr uint8_t kPadding = 0xA5;
constexpr uint8_t kBackground = 40;

// A bottom-up BGR frame in a buffer of exactly stride * height bytes (so the sanitizer sees
// any write past it), with the padding of each row marked.
struct Frame {
  int width, height, stride;
  std::vector<uint8_t> bytes;

  Frame(int w, int h, int extra = 0) : width(w), height(h), stride((w * 3 + 3) / 4 * 4 + extra) {
    bytes.assign(static_cast<size_t>(stride) * height, kPadding);
    for (int y = 0; y < height; ++y) std::fill_n(&bytes[static_cast<size_t>(y) * stride], width * 3, kBackground);
  }
  // Pixel counted from the top of the picture.
  const uint8_t* At(int x, int y_from_top) const {
    return &bytes[static_cast<size_t>(height - 1 - y_from_top) * stride + size_t{3} * x];
  }
  bool PaddingIntact() const {
    for (int y = 0; y < height; ++y) {
      for (int i = width * 3; i < stride; ++i) {
        if (bytes[static_cast<size_t>(y) * stride + i] != kPadding) return false;
      }
    }
    return true;
  }
};

struct Changes {
  int count = 0, bright = 0, dark = 0;
  int left = 1 << 30, top = 1 << 30, right = -1, bottom = -1;  // box, from the top, inclusive
};

Changes Compare(const Frame& f) {
  Changes c;
  for (int y = 0; y < f.height; ++y) {
    for (int x = 0; x < f.width; ++x) {
      const uint8_t* p = f.At(x, y);
      if (p[0] == kBackground && p[1] == kBackground && p[2] == kBackground) continue;
      ++c.count;
      if (std::min({p[0], p[1], p[2]}) >= 220) ++c.bright;
      if (std::max({p[0], p[1], p[2]}) <= 10) ++c.dark;
      c.left = std::min(c.left, x), c.right = std::max(c.right, x);
      c.top = std::min(c.top, y), c.bottom = std::max(c.bottom, y);
    }
  }
  return c;
}

class Stamp : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!stamper.Ready()) GTEST_SKIP() << "no font: " << stamper.Error();
  }
  void Draw(Frame& f, const std::string& text, int position, double percent) {
    stamper.Draw(f.bytes.data(), f.width, f.height, f.stride, text, position, percent);
  }
  FrameStamper stamper;
};

TEST_F(Stamp, FindsAFontFile) { EXPECT_FALSE(stamper.FontFile().empty()); }

struct CornerCase {
  int position;
  bool right, bottom;
};

class StampCorner : public Stamp, public ::testing::WithParamInterface<CornerCase> {};

TEST_P(StampCorner, DrawsWhiteOnDarkInThatCornerOnly) {
  const CornerCase& c = GetParam();
  Frame f(640, 480);
  Draw(f, "2026-12-08 14:05", c.position, 5.0);
  const Changes ch = Compare(f);
  ASSERT_GT(ch.count, 0);
  EXPECT_GT(ch.bright, 50) << "letters";
  EXPECT_GT(ch.dark, 50) << "outline";
  // Everything changed lies in the chosen quarter of the frame ...
  EXPECT_EQ(ch.left >= 320, c.right);
  EXPECT_EQ(ch.right >= 320, c.right);
  EXPECT_EQ(ch.top >= 240, c.bottom);
  EXPECT_EQ(ch.bottom >= 240, c.bottom);
  // ... near its corner: about half the text height (24 px) from both edges.
  const int gap_x = c.right ? f.width - 1 - ch.right : ch.left;
  const int gap_y = c.bottom ? f.height - 1 - ch.bottom : ch.top;
  EXPECT_GE(gap_x, 6);
  EXPECT_LE(gap_x, 24);
  EXPECT_GE(gap_y, 4);
  EXPECT_LE(gap_y, 24);
  EXPECT_TRUE(f.PaddingIntact());
}

INSTANTIATE_TEST_SUITE_P(Corners, StampCorner,
                         ::testing::Values(CornerCase{kStampTopLeft, false, false},
                                           CornerCase{kStampTopRight, true, false},
                                           CornerCase{kStampBottomLeft, false, true},
                                           CornerCase{kStampBottomRight, true, true},
                                           CornerCase{7, true, true}, CornerCase{-1, true, true}));

TEST_F(Stamp, HeightFollowsThePercentOfTheFrame) {
  struct SizeCase {
    int frame_height;
    double percent;
  };
  const SizeCase cases[] = {{480, 5}, {480, 10}, {480, 20}, {960, 5}, {480, 5}};
  std::vector<int> heights;
  for (const SizeCase& c : cases) {
    Frame f(640, c.frame_height);
    Draw(f, "12:34", kStampTopLeft, c.percent);
    const Changes ch = Compare(f);
    ASSERT_GT(ch.count, 0) << c.percent;
    const int ink = ch.bottom - ch.top + 1;
    const double want = c.frame_height * c.percent / 100.0;
    // Digits with their outline stand between 0.6 and 1.2 of the font's pixel size.
    EXPECT_GE(ink, 0.6 * want) << c.frame_height << " at " << c.percent << "%";
    EXPECT_LE(ink, 1.2 * want + 4) << c.frame_height << " at " << c.percent << "%";
    heights.push_back(ink);
  }
  EXPECT_EQ(heights.front(), heights.back()) << "back to the first size after others";
  EXPECT_EQ(heights[1] > heights[0] && heights[2] > heights[1], true);
}

TEST_F(Stamp, TheLastTextDrawnDoesNotLeakIntoTheNext) {
  Frame first(320, 240), other(320, 240), again(320, 240);
  Draw(first, "10:00", kStampBottomLeft, 8);
  Draw(other, "10:01", kStampBottomLeft, 8);
  Draw(again, "10:00", kStampBottomLeft, 8);
  EXPECT_NE(first.bytes, other.bytes);
  EXPECT_EQ(first.bytes, again.bytes);
}

TEST_F(Stamp, NothingForTextThatDrawsNothing) {
  for (const std::string text : {"", " ", "   ", "\t\n\r"}) {
    Frame f(64, 48);
    const std::vector<uint8_t> before = f.bytes;
    Draw(f, text, kStampTopLeft, 10);
    EXPECT_EQ(f.bytes, before) << "[" << text << "]";
  }
}

struct BoundsCase {
  int width, height, extra_stride;
  double percent;
  const char* text;
};

class StampBounds : public Stamp, public ::testing::WithParamInterface<BoundsCase> {};

TEST_P(StampBounds, NeverWritesOutsideTheFrame) {
  const BoundsCase& c = GetParam();
  for (int position = 0; position < 4; ++position) {
    Frame f(c.width, c.height, c.extra_stride);
    Draw(f, c.text, position, c.percent);
    EXPECT_TRUE(f.PaddingIntact()) << c.width << "x" << c.height << " corner " << position;
    EXPECT_GT(Compare(f).count, 0) << c.width << "x" << c.height << " corner " << position;
  }
}

const std::string kLongText(600, 'W');

INSTANTIATE_TEST_SUITE_P(
    Sizes, StampBounds,
    ::testing::Values(BoundsCase{8, 8, 0, 5, "2026-12-08 14:05"}, BoundsCase{8, 8, 0, 50, "W"},
                      BoundsCase{1, 1, 0, 50, "W"}, BoundsCase{5, 3, 4, 50, "Wg"},
                      BoundsCase{33, 17, 0, 50, "2026-12-08"}, BoundsCase{640, 480, 0, 5, kLongText.c_str()},
                      BoundsCase{641, 479, 8, 30, kLongText.c_str()},
                      BoundsCase{160, 120, 0, 1e9, "Huge"}, BoundsCase{160, 120, 0, -3, "tiny"},
                      BoundsCase{160, 120, 0, 5, "\xff\xfe bad \xe2\x82 utf8 \xc0\xaf"}));

TEST_F(Stamp, TextWiderThanTheFrameKeepsItsStartInView) {
  for (int position : {kStampTopRight, kStampBottomRight, kStampTopLeft}) {
    Frame f(200, 150);
    Draw(f, kLongText, position, 10);
    const Changes ch = Compare(f);
    EXPECT_LE(ch.left, 16) << position;
    EXPECT_EQ(ch.right, f.width - 1) << position;
    EXPECT_TRUE(f.PaddingIntact());
  }
}

TEST(StampWithoutFont, IsNotReadyAndDrawsNothing) {
  FrameStamper stamper("/nonexistent/font.ttf");
  EXPECT_FALSE(stamper.Ready());
  EXPECT_FALSE(stamper.Error().empty());
  Frame f(64, 48);
  const std::vector<uint8_t> before = f.bytes;
  stamper.Draw(f.bytes.data(), f.width, f.height, f.stride, "12:00", kStampTopLeft, 20);
  EXPECT_EQ(f.bytes, before);
}

TEST(StampWithoutFrame, IgnoresAFrameItCannotAddress) {
  FrameStamper stamper;
  if (!stamper.Ready()) GTEST_SKIP();
  Frame f(64, 48);
  const std::vector<uint8_t> before = f.bytes;
  stamper.Draw(nullptr, 64, 48, f.stride, "12:00", kStampTopLeft, 20);
  stamper.Draw(f.bytes.data(), 0, 48, f.stride, "12:00", kStampTopLeft, 20);
  stamper.Draw(f.bytes.data(), 64, -1, f.stride, "12:00", kStampTopLeft, 20);
  stamper.Draw(f.bytes.data(), 64, 48, 64 * 3 - 1, "12:00", kStampTopLeft, 20);  // stride too short
  EXPECT_EQ(f.bytes, before);
}

}  // namespace
}  // namespace chronoreel
