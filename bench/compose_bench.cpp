// Times FrameComposer::Compose over folders of stills, the way a run calls it: one composer,
// one pair of surfaces, every still of the folder in name order.
//
//   compose_bench DIR_1280x720 DIR_1920x1080 [passes=3] [--levers]
//
// Cases: the 1280x720 stills at their own size, the same into 640x480, the 1920x1080 stills
// into 640x480. Prints the median pass as ms per frame and frames per second, wall clock and
// thread CPU time (CPU time is steadier on a busy machine). --levers repeats every case with
// each speed lever switched off or swapped in turn, and gives each one's PSNR against a
// slow reference: full decode, accurate DCT, Lanczos with full chroma.
#include <time.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/frame_composer.h"

namespace {

using chronoreel::ComposeTuning;
using chronoreel::DIB;
using chronoreel::FrameComposer;
using chronoreel::StretchFilter;

double Seconds(clockid_t clock) {
  timespec ts{};
  clock_gettime(clock, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

std::vector<std::string> Stills(const std::string& dir) {
  std::vector<std::string> paths;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(dir, error)) {
    if (entry.is_regular_file() && entry.path().extension() == ".jpg") {
      paths.push_back(entry.path().string());
    }
  }
  std::sort(paths.begin(), paths.end());
  return paths;
}

struct Case {
  const char* name;
  int dir;  // index into the folders
  int32_t movie_width, movie_height;  // 0: from the first still
};

struct Pass {
  double wall_s = 0, cpu_s = 0;
  int frames = 0;
};

struct Variant {
  const char* name;
  ComposeTuning tuning;
};

Pass RunPass(const std::vector<std::string>& stills, const Case& c, const ComposeTuning& tuning) {
  FrameComposer composer;
  composer.SetTuning(tuning);
  if (!composer.Init()) {
    std::fprintf(stderr, "compose_bench: cannot make the decoder\n");
    std::exit(1);
  }
  DIB frame, decode;
  int32_t width = c.movie_width, height = c.movie_height;
  Pass pass;
  const double wall0 = Seconds(CLOCK_MONOTONIC), cpu0 = Seconds(CLOCK_THREAD_CPUTIME_ID);
  for (const std::string& path : stills) {
    if (composer.Compose(path, width, height, frame, decode)) ++pass.frames;
  }
  pass.wall_s = Seconds(CLOCK_MONOTONIC) - wall0;
  pass.cpu_s = Seconds(CLOCK_THREAD_CPUTIME_ID) - cpu0;
  return pass;
}

// PSNR in dB of `tuning` against `reference` over every 10th still (frame rows only, not the
// padding); infinity when the frames are identical.
double Psnr(const std::vector<std::string>& stills, const Case& c, const ComposeTuning& tuning,
            const ComposeTuning& reference) {
  FrameComposer a, b;
  a.SetTuning(tuning);
  b.SetTuning(reference);
  DIB frame_a, decode_a, frame_b, decode_b;
  int32_t wa = c.movie_width, ha = c.movie_height, wb = c.movie_width, hb = c.movie_height;
  double squared = 0;
  int64_t samples = 0;
  for (size_t i = 0; i < stills.size(); i += 10) {
    if (!a.Compose(stills[i], wa, ha, frame_a, decode_a) ||
        !b.Compose(stills[i], wb, hb, frame_b, decode_b)) {
      continue;
    }
    for (int y = 0; y < ha; ++y) {
      const uint8_t* pa = frame_a.DIBPtr() + static_cast<size_t>(y) * frame_a.Stride();
      const uint8_t* pb = frame_b.DIBPtr() + static_cast<size_t>(y) * frame_b.Stride();
      for (int x = 0; x < wa * 3; ++x) {
        const double d = static_cast<double>(pa[x]) - pb[x];
        squared += d * d;
      }
      samples += wa * 3;
    }
  }
  if (samples == 0 || squared == 0) return INFINITY;
  return 10 * std::log10(255.0 * 255.0 / (squared / static_cast<double>(samples)));
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args;
  bool levers = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--levers") == 0) {
      levers = true;
    } else {
      args.emplace_back(argv[i]);
    }
  }
  if (args.size() < 2) {
    std::fprintf(stderr, "usage: compose_bench DIR_1280x720 DIR_1920x1080 [passes=3] [--levers]\n");
    return 2;
  }
  const int passes = args.size() > 2 ? std::max(1, std::atoi(args[2].c_str())) : 3;
  std::vector<std::vector<std::string>> stills;
  for (size_t i = 0; i < 2; ++i) {
    stills.push_back(Stills(args[i]));
    if (stills.back().empty()) {
      std::fprintf(stderr, "compose_bench: no .jpg stills in %s\n", args[i].c_str());
      return 1;
    }
  }
  const Case cases[] = {{"1280x720 -> same", 0, 0, 0},
                        {"1280x720 -> 640x480", 0, 640, 480},
                        {"1920x1080 -> 640x480", 1, 640, 480}};

  const ComposeTuning chosen;
  auto with = [&](auto change) {
    ComposeTuning tuning = chosen;
    change(tuning);
    return tuning;
  };
  const ComposeTuning reference = {.dct_scaling = false,
                                   .yuv_stretch = false,
                                   .shrink_filter = StretchFilter::kLanczos};
  std::vector<Variant> variants = {{"chosen", chosen}};
  if (levers) {
    variants = {
        {"full decode, BGR stretch", {.dct_scaling = false, .yuv_stretch = false}},
        {"+ DCT scaling", {.dct_scaling = true, .yuv_stretch = false}},
        {"+ YUV stretch (chosen)", chosen},
        {"chosen, bilinear", with([](ComposeTuning& t) { t.shrink_filter = StretchFilter::kBilinear; })},
        {"chosen, fast bilinear",
         with([](ComposeTuning& t) { t.shrink_filter = StretchFilter::kFastBilinear; })},
        {"chosen, bicubic", with([](ComposeTuning& t) { t.shrink_filter = StretchFilter::kBicubic; })},
        {"chosen, one-pass YUV stretch",
         with([](ComposeTuning& t) { t.planar_stretch = false; })},
        {"chosen, full chroma", with([](ComposeTuning& t) { t.full_chroma = true; })},
        {"chosen, fast DCT", with([](ComposeTuning& t) { t.fast_dct = true; })},
        {"reference (Lanczos)", reference},
    };
  }

  // Reads every still once so that the first pass does not pay for the disk.
  for (const Case& c : cases) RunPass(stills[c.dir], c, chosen);

  std::printf("| case | variant | frames | ms/frame | frames/s | CPU ms/frame | CPU frames/s | PSNR dB |\n");
  std::printf("|---|---|---|---|---|---|---|---|\n");
  for (const Case& c : cases) {
    for (const Variant& v : variants) {
      std::vector<double> wall, cpu;
      int frames = 0;
      for (int i = 0; i < passes; ++i) {
        const Pass pass = RunPass(stills[c.dir], c, v.tuning);
        frames = pass.frames;
        wall.push_back(pass.wall_s);
        cpu.push_back(pass.cpu_s);
      }
      if (frames == 0) {
        std::fprintf(stderr, "compose_bench: %s gave no frames\n", c.name);
        return 1;
      }
      const double w = Median(wall) / frames, t = Median(cpu) / frames;
      const double psnr = Psnr(stills[c.dir], c, v.tuning, reference);
      std::printf("| %s | %s | %d | %.2f | %.0f | %.2f | %.0f | %.1f |\n", c.name, v.name, frames,
                  w * 1e3, 1 / w, t * 1e3, 1 / t, psnr);
      std::fflush(stdout);
    }
  }
  return 0;
}
