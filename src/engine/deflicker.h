#pragma once
// Deflicker: evens out the brightness of successive frames, as libavfilter's deflicker
// filter does with its arithmetic-mean mode, but causal, since frames are written as they
// come. Each frame's mean luminance is compared with the mean over a window of the last
// frames (itself included) and the frame is scaled by their ratio.
//
// Invariant: history_ holds the luminances of at most window - 1 frames before the next one.
#include <cstdint>
#include <deque>

namespace chronoreel {

class Deflicker {
 public:
  static constexpr int kMinWindow = 2;
  static constexpr int kMaxWindow = 129;
  static constexpr double kMinGain = 0.5;
  static constexpr double kMaxGain = 2.0;

  // A window of 0 or 1 frames is off; more than kMaxWindow counts as kMaxWindow.
  explicit Deflicker(int window);

  int Window() const { return window_; }
  bool Enabled() const { return window_ >= kMinWindow; }

  // Scales the brightness of one 24-bit BGR frame (rows of `stride` bytes) towards the mean
  // of the window and remembers its luminance for the frames that follow.
  void Apply(uint8_t* pixels, int width, int height, int stride);

  // The gain the last Apply used (1 when it changed nothing).
  double LastGain() const { return last_gain_; }

  // Forgets the frames seen so far (a new movie).
  void Reset();

  // Mean of Y = 0.299 R + 0.587 G + 0.114 B over a grid of samples, 0..255.
  static double MeanLuminance(const uint8_t* pixels, int width, int height, int stride);

 private:
  int window_;
  std::deque<double> history_;
  double history_sum_ = 0.0;
  double last_gain_ = 1.0;
};

}  // namespace chronoreel
