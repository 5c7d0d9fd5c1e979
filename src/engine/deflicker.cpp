#include "engine/deflicker.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace chronoreel {
namespace {

// About 64 x 64 samples: plenty for a mean, and cheap on any frame size.
constexpr int kSamplesPerSide = 64;

// Below this a frame is black; scaling it would only amplify noise.
constexpr double kDarkest = 1.0;

bool ValidFrame(const uint8_t* pixels, int width, int height, int stride) {
  return pixels != nullptr && width > 0 && height > 0 &&
         static_cast<int64_t>(stride) >= static_cast<int64_t>(width) * 3;
}

}  // namespace

Deflicker::Deflicker(int window) : window_(std::clamp(window, 0, kMaxWindow)) {}

void Deflicker::Reset() {
  history_.clear();
  history_sum_ = 0.0;
  last_gain_ = 1.0;
}

double Deflicker::MeanLuminance(const uint8_t* pixels, int width, int height, int stride) {
  if (!ValidFrame(pixels, width, height, stride)) return 0.0;
  const int step_x = std::max(1, width / kSamplesPerSide);
  const int step_y = std::max(1, height / kSamplesPerSide);
  // Integer weights of 0.299, 0.587 and 0.114 in 1/1000.
  uint64_t sum = 0;
  uint64_t count = 0;
  for (int y = step_y / 2; y < height; y += step_y) {
    const uint8_t* row = pixels + static_cast<size_t>(y) * static_cast<size_t>(stride);
    for (int x = step_x / 2; x < width; x += step_x) {
      const uint8_t* p = row + size_t{3} * x;
      sum += 114u * p[0] + 587u * p[1] + 299u * p[2];
      ++count;
    }
  }
  return count == 0 ? 0.0 : static_cast<double>(sum) / (1000.0 * static_cast<double>(count));
}

void Deflicker::Apply(uint8_t* pixels, int width, int height, int stride) {
  last_gain_ = 1.0;
  if (!Enabled() || !ValidFrame(pixels, width, height, stride)) return;
  const double luminance = MeanLuminance(pixels, width, height, stride);
  const double target = (history_sum_ + luminance) / static_cast<double>(history_.size() + 1);

  // The window keeps the frames' own luminances, as they came, not the corrected ones.
  // Summed afresh each time (at most 128 terms), so no rounding drift builds up over a long run.
  history_.push_back(luminance);
  if (static_cast<int>(history_.size()) > window_ - 1) history_.pop_front();
  history_sum_ = 0.0;
  for (double value : history_) history_sum_ += value;

  if (luminance < kDarkest) return;
  const double gain = std::clamp(target / luminance, kMinGain, kMaxGain);
  if (std::abs(gain - 1.0) < 1e-3) return;
  last_gain_ = gain;

  std::array<uint8_t, 256> table{};
  for (int v = 0; v < 256; ++v) {
    table[v] = static_cast<uint8_t>(std::min<long>(255, std::lround(v * gain)));
  }
  const size_t row_bytes = size_t{3} * static_cast<size_t>(width);
  for (int y = 0; y < height; ++y) {
    uint8_t* row = pixels + static_cast<size_t>(y) * static_cast<size_t>(stride);
    for (size_t i = 0; i < row_bytes; ++i) row[i] = table[row[i]];
  }
}

}  // namespace chronoreel
