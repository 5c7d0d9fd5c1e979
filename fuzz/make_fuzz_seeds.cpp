// Writes the seed inputs of fuzz_frame: small JPEGs in the forms a webcam may store
// (baseline, progressive, greyscale, each subsampling, odd sizes, a cut-off file), packed
// as the target reads them: one options byte, the first still's length (two bytes, high
// first), the first still, the second still.
//
//   make_fuzz_seeds DIR
#include <turbojpeg.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace {

struct TjDeleter {
  void operator()(void* handle) const { tjDestroy(handle); }
};

struct Still {
  int width;
  int height;
  int subsampling;  // TJSAMP_*
  int flags;        // TJFLAG_PROGRESSIVE or 0
  int quality;
};

// A diagonal gradient with a bright square: cheap to compress, not flat.
std::vector<uint8_t> Encode(const Still& s) {
  std::vector<uint8_t> rgb(static_cast<size_t>(s.width) * s.height * 3);
  for (int y = 0; y < s.height; ++y) {
    for (int x = 0; x < s.width; ++x) {
      uint8_t* p = &rgb[(static_cast<size_t>(y) * s.width + x) * 3];
      const bool square = x > s.width / 4 && x < s.width / 2 && y > s.height / 4 && y < s.height / 2;
      p[0] = square ? 250 : static_cast<uint8_t>(x * 255 / (s.width > 1 ? s.width - 1 : 1));
      p[1] = square ? 240 : static_cast<uint8_t>(y * 255 / (s.height > 1 ? s.height - 1 : 1));
      p[2] = static_cast<uint8_t>((x + y) * 4);
    }
  }
  std::unique_ptr<void, TjDeleter> encoder(tjInitCompress());
  unsigned char* jpeg = nullptr;
  unsigned long size = 0;
  if (!encoder || tjCompress2(encoder.get(), rgb.data(), s.width, 0, s.height, TJPF_RGB, &jpeg,
                              &size, s.subsampling, s.quality, s.flags) != 0) {
    std::fprintf(stderr, "cannot encode a %dx%d still: %s\n", s.width, s.height,
                 tjGetErrorStr2(encoder.get()));
    std::exit(1);
  }
  std::vector<uint8_t> bytes(jpeg, jpeg + size);
  tjFree(jpeg);
  return bytes;
}

void WriteSeed(const std::string& dir, const char* name, uint8_t options,
               const std::vector<uint8_t>& first, const std::vector<uint8_t>& second) {
  std::vector<uint8_t> seed = {options, static_cast<uint8_t>(first.size() >> 8),
                               static_cast<uint8_t>(first.size() & 0xFF)};
  seed.insert(seed.end(), first.begin(), first.end());
  seed.insert(seed.end(), second.begin(), second.end());
  const std::string path = dir + "/" + name;
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr || std::fwrite(seed.data(), 1, seed.size(), f) != seed.size() || std::fclose(f) != 0) {
    std::fprintf(stderr, "cannot write %s\n", path.c_str());
    std::exit(1);
  }
  if (seed.size() > 4096) std::fprintf(stderr, "note: %s is %zu bytes\n", name, seed.size());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_fuzz_seeds DIR\n");
    return 2;
  }
  const std::string dir = argv[1];
  const auto baseline = Encode({32, 24, TJSAMP_420, 0, 75});
  const auto progressive = Encode({32, 24, TJSAMP_420, TJFLAG_PROGRESSIVE, 75});
  const auto grey = Encode({24, 16, TJSAMP_GRAY, 0, 75});
  const auto full = Encode({16, 16, TJSAMP_444, 0, 90});
  const auto odd = Encode({13, 7, TJSAMP_422, 0, 60});
  const auto tall = Encode({8, 40, TJSAMP_440, TJFLAG_PROGRESSIVE, 50});
  auto truncated = Encode({40, 30, TJSAMP_420, 0, 80});
  truncated.resize(truncated.size() * 2 / 3);

  WriteSeed(dir, "baseline_420", 0, baseline, {});
  WriteSeed(dir, "progressive_420", 1, progressive, {});
  WriteSeed(dir, "greyscale", 2, grey, {});
  WriteSeed(dir, "full_444", 3, full, {});
  WriteSeed(dir, "odd_width_422", 0, odd, {});  // width 13: the frame is 16 wide, a stretch
  WriteSeed(dir, "progressive_440_tall", 1, tall, {});
  WriteSeed(dir, "truncated", 0, truncated, {});
  WriteSeed(dir, "baseline_then_grey", 0, baseline, grey);       // second still stretched
  WriteSeed(dir, "progressive_then_odd", 3, progressive, odd);
  WriteSeed(dir, "truncated_then_full", 2, truncated, full);
  return 0;
}
