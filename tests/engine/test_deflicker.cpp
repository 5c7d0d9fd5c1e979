#include "engine/deflicker.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

namespace chronoreel {
namespace {

constexpr uint8_t kPadding = 0x5A;

// A bottom-up BGR frame whose rows carry a marked padding.
struct Frame {
  int width, height, stride;
  std::vector<uint8_t> bytes;

  Frame(int w, int h, uint8_t level) : width(w), height(h), stride((w * 3 + 3) / 4 * 4 + 4) {
    bytes.assign(static_cast<size_t>(stride) * height, kPadding);
    for (int y = 0; y < height; ++y) std::fill_n(&bytes[static_cast<size_t>(y) * stride], width * 3, level);
  }
  uint8_t* Row(int y) { return &bytes[static_cast<size_t>(y) * stride]; }
  double Luminance() const { return Deflicker::MeanLuminance(bytes.data(), width, height, stride); }
  bool PaddingIntact() const {
    for (int y = 0; y < height; ++y) {
      for (int i = width * 3; i < stride; ++i) {
        if (bytes[static_cast<size_t>(y) * stride + i] != kPadding) return false;
      }
    }
    return true;
  }
};

// Mean square of the change from one frame's luminance to the next.
double FrameToFrameVariance(const std::vector<double>& levels) {
  double sum = 0;
  for (size_t i = 1; i < levels.size(); ++i) sum += (levels[i] - levels[i - 1]) * (levels[i] - levels[i - 1]);
  return sum / static_cast<double>(levels.size() - 1);
}

struct FlickerCase {
  int window;
  std::vector<uint8_t> cycle;  // the levels repeat in this order
};

class DeflickerSeries : public ::testing::TestWithParam<FlickerCase> {};

TEST_P(DeflickerSeries, EvensOutAFlickeringSeries) {
  const FlickerCase& c = GetParam();
  Deflicker deflicker(c.window);
  std::vector<double> before, after;
  for (int i = 0; i < 40; ++i) {
    Frame f(96, 64, c.cycle[i % c.cycle.size()]);
    before.push_back(f.Luminance());
    deflicker.Apply(f.bytes.data(), f.width, f.height, f.stride);
    after.push_back(f.Luminance());
    EXPECT_TRUE(f.PaddingIntact());
  }
  EXPECT_LT(FrameToFrameVariance(after), FrameToFrameVariance(before) / 4) << "window " << c.window;
}

INSTANTIATE_TEST_SUITE_P(Cycles, DeflickerSeries,
                         ::testing::Values(FlickerCase{5, {100, 140}}, FlickerCase{3, {100, 140}},
                                           FlickerCase{9, {100, 140}}, FlickerCase{129, {100, 140}},
                                           FlickerCase{5, {80, 120, 100}}, FlickerCase{7, {60, 60, 150}}));

TEST(Deflicker, OffLeavesEveryFrameAsItWas) {
  for (int window : {0, 1, -4}) {
    Deflicker deflicker(window);
    EXPECT_FALSE(deflicker.Enabled()) << window;
    for (uint8_t level : {100, 140, 30, 250, 100}) {
      Frame f(17, 9, level);
      const std::vector<uint8_t> original = f.bytes;
      deflicker.Apply(f.bytes.data(), f.width, f.height, f.stride);
      EXPECT_EQ(f.bytes, original) << "window " << window << " level " << int{level};
    }
  }
}

TEST(Deflicker, LeavesASteadySeriesAlone) {
  // A picture with detail, the same brightness frame after frame.
  Deflicker deflicker(5);
  for (int i = 0; i < 12; ++i) {
    Frame f(64, 48, 0);
    for (int y = 0; y < f.height; ++y) {
      for (int x = 0; x < f.width * 3; ++x) f.Row(y)[x] = static_cast<uint8_t>((x * 7 + y * 13) % 256);
    }
    const std::vector<uint8_t> original = f.bytes;
    deflicker.Apply(f.bytes.data(), f.width, f.height, f.stride);
    for (size_t k = 0; k < original.size(); ++k) {
      ASSERT_LE(std::abs(int{f.bytes[k]} - int{original[k]}), 1) << "frame " << i << " byte " << k;
    }
  }
}

TEST(Deflicker, GainStopsAtItsLimits) {
  struct Case {
    uint8_t steady, odd;
    double want_gain;
  };
  const Case cases[] = {{200, 10, Deflicker::kMaxGain}, {20, 250, Deflicker::kMinGain}, {120, 100, 1.16}};
  for (const Case& c : cases) {
    Deflicker deflicker(5);
    for (int i = 0; i < 4; ++i) {
      Frame f(32, 32, c.steady);
      deflicker.Apply(f.bytes.data(), f.width, f.height, f.stride);
    }
    Frame f(32, 32, c.odd);
    deflicker.Apply(f.bytes.data(), f.width, f.height, f.stride);
    EXPECT_NEAR(deflicker.LastGain(), c.want_gain, 0.01) << int{c.steady} << " then " << int{c.odd};
    EXPECT_NEAR(f.bytes[0], std::min(255.0, c.odd * c.want_gain), 1.0);
  }
}

TEST(Deflicker, BrightPixelsSaturateAndNeverWrap) {
  Deflicker deflicker(3);
  for (int i = 0; i < 2; ++i) {
    Frame f(32, 32, 200);
    deflicker.Apply(f.bytes.data(), f.width, f.height, f.stride);
  }
  // A dark frame with a few white pixels: it is brightened, the white stays white.
  Frame f(32, 32, 60);
  for (int x = 0; x < 32 * 3; ++x) f.Row(5)[x] = static_cast<uint8_t>(230 + x % 26);
  const std::vector<uint8_t> original = f.bytes;
  deflicker.Apply(f.bytes.data(), f.width, f.height, f.stride);
  ASSERT_GT(deflicker.LastGain(), 1.5);
  for (size_t k = 0; k < original.size(); ++k) {
    ASSERT_GE(f.bytes[k], original[k]) << "byte " << k;
  }
  for (int x = 0; x < 32 * 3; ++x) EXPECT_EQ(f.Row(5)[x], 255) << x;
  EXPECT_TRUE(f.PaddingIntact());
}

TEST(Deflicker, ResetForgetsEarlierFrames) {
  Deflicker deflicker(5);
  for (int i = 0; i < 4; ++i) {
    Frame f(16, 16, 200);
    deflicker.Apply(f.bytes.data(), f.width, f.height, f.stride);
  }
  deflicker.Reset();
  Frame f(16, 16, 50);
  deflicker.Apply(f.bytes.data(), f.width, f.height, f.stride);
  EXPECT_EQ(f.bytes[0], 50);
}

TEST(Deflicker, KeepsOnlyTheWindowOfFrames) {
  // After a long bright spell only the last window - 1 frames count: a dark phase that has
  // filled the window is left as it is.
  Deflicker deflicker(4);
  for (int i = 0; i < 10; ++i) {
    Frame f(16, 16, 200);
    deflicker.Apply(f.bytes.data(), f.width, f.height, f.stride);
  }
  for (int i = 0; i < 3; ++i) {
    Frame f(16, 16, 80);
    deflicker.Apply(f.bytes.data(), f.width, f.height, f.stride);
  }
  Frame f(16, 16, 80);
  deflicker.Apply(f.bytes.data(), f.width, f.height, f.stride);
  EXPECT_EQ(f.bytes[0], 80);
}

struct LumaCase {
  int width, height;
  uint8_t b, g, r;
  double want;
};

TEST(MeanLuminance, WeighsTheChannels) {
  const LumaCase cases[] = {{40, 30, 0, 0, 255, 76.245},   {40, 30, 0, 255, 0, 149.685},
                            {40, 30, 255, 0, 0, 29.07},    {1, 1, 10, 20, 30, 0.299 * 30 + 0.587 * 20 + 1.14},
                            {641, 3, 100, 100, 100, 100.0}, {3, 777, 0, 0, 0, 0.0}};
  for (const LumaCase& c : cases) {
    Frame f(c.width, c.height, 0);
    for (int y = 0; y < f.height; ++y) {
      for (int x = 0; x < f.width; ++x) {
        f.Row(y)[3 * x] = c.b, f.Row(y)[3 * x + 1] = c.g, f.Row(y)[3 * x + 2] = c.r;
      }
    }
    EXPECT_NEAR(f.Luminance(), c.want, 0.01) << c.width << "x" << c.height;
  }
}

TEST(MeanLuminance, SamplesTheWholeFrame) {
  // Half the frame white: the sample grid must reach every part of it.
  struct Half {
    int width, height;
    bool top_half;
  };
  for (const Half& h : {Half{640, 480, true}, Half{640, 480, false}, Half{1000, 7, true}, Half{7, 1000, false}}) {
    Frame f(h.width, h.height, 0);
    for (int y = 0; y < f.height; ++y) {
      if ((y >= f.height / 2) == h.top_half) std::fill_n(f.Row(y), f.width * 3, 255);
    }
    EXPECT_NEAR(f.Luminance(), 127.5, 20.0) << h.width << "x" << h.height << " " << h.top_half;
  }
  Frame left(640, 480, 0);
  for (int y = 0; y < left.height; ++y) std::fill_n(left.Row(y), left.width * 3 / 2, 255);
  EXPECT_NEAR(left.Luminance(), 127.5, 10.0);
  EXPECT_EQ(Deflicker::MeanLuminance(nullptr, 10, 10, 32), 0.0);
}

}  // namespace
}  // namespace chronoreel
