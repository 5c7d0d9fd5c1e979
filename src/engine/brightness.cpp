// Dark and bright stills: a grey decode at 1/8 scale reads the luma alone (no chroma
// conversion, an eighth of the rows and columns), measured over the cores.
#include "engine/brightness.h"

#include <turbojpeg.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <memory>
#include <system_error>
#include <thread>
#include <vector>

#include "engine/media_owners.h"

namespace chronoreel {

namespace {

constexpr auto kUiInterval = std::chrono::milliseconds(30);
constexpr size_t kChunk = 64;  // stills a worker takes at a time
constexpr float kUnmeasured = -1;

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

// One decoder and its buffers, reused from still to still.
class LumaMeter {
 public:
  std::optional<double> Measure(const std::string& path) {
    if (!Read(path)) return std::nullopt;
    if (!decoder_) decoder_.reset(tjInitDecompress());
    if (!decoder_) return std::nullopt;
    int width = 0, height = 0, subsampling = 0, colorspace = 0;
    const auto size = static_cast<unsigned long>(file_.size());
    if (tjDecompressHeader3(decoder_.get(), file_.data(), size, &width, &height, &subsampling, &colorspace) !=
        0)
      return Failed();
    const tjscalingfactor eighth{1, 8};
    const int w = TJSCALED(width, eighth), h = TJSCALED(height, eighth);
    if (w <= 0 || h <= 0) return Failed();
    grey_.resize(static_cast<size_t>(w) * static_cast<size_t>(h));
    // Any warning (a still cut short, stray bytes) counts as no measure: grey filler rows
    // would pass for a bright still.
    if (tjDecompress2(decoder_.get(), file_.data(), size, grey_.data(), w, w, h, TJPF_GRAY,
                      TJFLAG_LIMITSCANS | TJFLAG_STOPONWARNING) != 0)
      return Failed();
    uint64_t sum = 0;
    for (const uint8_t v : grey_) sum += v;
    return static_cast<double>(sum) / static_cast<double>(grey_.size());
  }

 private:
  bool Read(const std::string& path) {
    std::unique_ptr<std::FILE, FileCloser> f(std::fopen(path.c_str(), "rb"));
    if (!f) return false;
    file_.clear();
    uint8_t block[1 << 16];
    size_t n = 0;
    while ((n = std::fread(block, 1, sizeof block, f.get())) > 0) file_.insert(file_.end(), block, block + n);
    return !std::ferror(f.get()) && !file_.empty();
  }
  // An error may leave the handle unusable; the next still gets a fresh one.
  std::optional<double> Failed() {
    decoder_.reset();
    return std::nullopt;
  }

  TjHandle decoder_;
  std::vector<uint8_t> file_;
  std::vector<uint8_t> grey_;
};

}  // namespace

std::optional<double> MeanLuma(const std::string& path) {
  LumaMeter meter;
  return meter.Measure(path);
}

bool SkipsBrightness(const BrightnessInputs& in) {
  return in.dark_below > 0 || in.bright_above < 255;
}

std::optional<BrightnessPass> SkipDarkAndBright(const BrightnessInputs& in, const ImageList& images,
                                                const StageReport& report) {
  const size_t n = images.paths.size();
  // Only what the window lets through is worth a decode.
  std::vector<size_t> todo;
  todo.reserve(n);
  for (size_t i = 0; i < n; ++i) {
    const DateTime t = i < images.times.size() ? images.times[i] : 0;
    if (in.time_option != 1 || (in.window_start <= t && t <= in.window_stop)) todo.push_back(i);
  }

  std::vector<float> means(todo.size(), kUnmeasured);
  std::atomic<size_t> next{0};
  std::atomic<size_t> done{0};
  // Takes chunks until none is left; `between` runs after each chunk (the reporting thread's
  // window and events).
  auto work = [&](auto&& between) {
    LumaMeter meter;
    for (;;) {
      if (report.Cancelled()) return;
      const size_t from = next.fetch_add(kChunk, std::memory_order_relaxed);
      if (from >= todo.size()) return;
      const size_t to = std::min(todo.size(), from + kChunk);
      for (size_t k = from; k < to; ++k) {
        try {
          if (const std::optional<double> mean = meter.Measure(images.paths[todo[k]]))
            means[k] = static_cast<float>(*mean);
        } catch (const std::exception&) {
          // Left unmeasured: the selection judges the still as it always has.
        }
      }
      done.fetch_add(to - from, std::memory_order_relaxed);
      between();
    }
  };

  const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
  const size_t workers = std::min<size_t>(in.workers > 0 ? static_cast<size_t>(in.workers) : cores,
                                          std::max<size_t>(1, todo.size() / kChunk));
  std::vector<std::thread> threads;
  try {
    for (size_t w = 1; w < workers; ++w) threads.emplace_back([&] { work([] {}); });
  } catch (const std::system_error&) {
    // Fewer threads than cores: the ones that started, and this one, do the work.
  }
  using SteadyClock = std::chrono::steady_clock;
  auto last_ui = SteadyClock::now() - kUiInterval;
  const std::string of = " of " + std::to_string(todo.size());
  work([&] {
    const auto now = SteadyClock::now();
    if (now - last_ui < kUiInterval) return;
    last_ui = now;
    if (report.window) {
      report.window->SetFrameLabel("Measured: " + std::to_string(done.load(std::memory_order_relaxed)) + of);
      report.window->Refresh();
    }
    report.host.ProcessEvents();
  });
  for (std::thread& t : threads) t.join();
  if (report.Cancelled()) return std::nullopt;

  BrightnessPass pass;
  pass.kept.paths.reserve(n);
  pass.kept.times.reserve(n);
  pass.kept.moments.reserve(images.moments.size() == n ? n : 0);
  size_t k = 0;
  for (size_t i = 0; i < n; ++i) {
    if (k < todo.size() && todo[k] == i) {
      const float mean = means[k++];
      if (mean != kUnmeasured) {
        ++pass.measured;
        if (mean < static_cast<float>(in.dark_below)) {
          ++pass.dark;
          continue;
        }
        if (mean > static_cast<float>(in.bright_above)) {
          ++pass.bright;
          continue;
        }
      }
    }
    pass.kept.paths.push_back(images.paths[i]);
    if (i < images.times.size()) pass.kept.times.push_back(images.times[i]);
    if (images.moments.size() == n) pass.kept.moments.push_back(images.moments[i]);
  }
  return pass;
}

}  // namespace chronoreel
