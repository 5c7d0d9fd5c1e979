// Writes a folder of camera-like stills: a sky whose light changes, a sun that moves,
// textured ground, and sensor noise, JPEG quality 85, named YYMMDDHHMMSS.jpg one
// interval apart with modified times to match.
//
//   make_stills DIR [count=600] [width=1280] [height=720] [start=2026-12-08T06:00] [interval_s=60] [--empty]
//
// --empty writes zero-length files (for timing the scan alone).
#include <sys/stat.h>
#include <turbojpeg.h>
#include <utime.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace {

uint32_t Hash(uint32_t x) {
  x ^= x >> 16;
  x *= 0x7feb352dU;
  x ^= x >> 15;
  x *= 0x846ca68bU;
  x ^= x >> 16;
  return x;
}

// Smooth value noise in [0, 1) for the ground texture.
double ValueNoise(double x, double y) {
  int xi = static_cast<int>(std::floor(x)), yi = static_cast<int>(std::floor(y));
  double fx = x - xi, fy = y - yi;
  auto v = [](int a, int b) { return (Hash(static_cast<uint32_t>(a * 73856093) ^ static_cast<uint32_t>(b * 19349663)) & 0xffff) / 65536.0; };
  double top = v(xi, yi) * (1 - fx) + v(xi + 1, yi) * fx;
  double bottom = v(xi, yi + 1) * (1 - fx) + v(xi + 1, yi + 1) * fx;
  return top * (1 - fy) + bottom * fy;
}

uint8_t Clamp(double v) { return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v); }

bool ParseStart(const char* text, std::tm& tm) {
  std::memset(&tm, 0, sizeof tm);
  int y, mo, d, h, mi;
  if (std::sscanf(text, "%d-%d-%dT%d:%d", &y, &mo, &d, &h, &mi) != 5) return false;
  tm.tm_year = y - 1900;
  tm.tm_mon = mo - 1;
  tm.tm_mday = d;
  tm.tm_hour = h;
  tm.tm_min = mi;
  tm.tm_isdst = -1;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: make_stills DIR [count] [width] [height] [start YYYY-MM-DDTHH:MM] [interval_s] [--empty]\n");
    return 2;
  }
  std::vector<std::string> args;
  bool empty = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--empty") == 0) {
      empty = true;
    } else {
      args.emplace_back(argv[i]);
    }
  }
  const std::filesystem::path dir = args.at(0);
  const int count = args.size() > 1 ? std::atoi(args[1].c_str()) : 600;
  const int width = args.size() > 2 ? std::atoi(args[2].c_str()) : 1280;
  const int height = args.size() > 3 ? std::atoi(args[3].c_str()) : 720;
  std::tm start{};
  if (!ParseStart(args.size() > 4 ? args[4].c_str() : "2026-12-08T06:00", start)) {
    std::fprintf(stderr, "make_stills: start must look like 2026-12-08T06:00\n");
    return 2;
  }
  const int interval = args.size() > 5 ? std::atoi(args[5].c_str()) : 60;
  if (count < 0 || width < 8 || height < 8 || interval < 1) {
    std::fprintf(stderr, "make_stills: bad count, size or interval\n");
    return 2;
  }
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  if (ec) {
    std::fprintf(stderr, "make_stills: cannot create %s: %s\n", dir.c_str(), ec.message().c_str());
    return 1;
  }
  const std::time_t t0 = std::mktime(&start);

  std::unique_ptr<void, int (*)(tjhandle)> tj(tjInitCompress(), tjDestroy);
  std::vector<uint8_t> rgb(static_cast<size_t>(width) * height * 3);
  std::vector<uint8_t> ground(static_cast<size_t>(width) * height);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      ground[static_cast<size_t>(y) * width + x] =
          Clamp(255 * (0.6 * ValueNoise(x / 23.0, y / 17.0) + 0.4 * ValueNoise(x / 3.1, y / 2.7)));

  unsigned char* jpeg = nullptr;
  unsigned long jpeg_capacity = 0;  // TurboJPEG reuses and grows this buffer
  for (int i = 0; i < count; ++i) {
    const std::time_t t = t0 + static_cast<std::time_t>(i) * interval;
    std::tm lt{};
    localtime_r(&t, &lt);
    char name[32];
    std::snprintf(name, sizeof name, "%02d%02d%02d%02d%02d%02d.jpg", lt.tm_year % 100, lt.tm_mon + 1,
                  lt.tm_mday, lt.tm_hour, lt.tm_min, lt.tm_sec);
    const std::filesystem::path path = dir / name;
    unsigned long size = 0;
    if (!empty) {
      size = jpeg_capacity;
      const double phase = count > 1 ? static_cast<double>(i) / (count - 1) : 0.0;
      const double light = 0.55 + 0.45 * std::sin(3.14159 * phase);
      const int horizon = height * 3 / 5;
      const double sun_x = width * (0.1 + 0.8 * phase), sun_y = horizon * (0.9 - 0.7 * std::sin(3.14159 * phase));
      const double sun_r = height / 14.0;
      uint32_t seed = Hash(static_cast<uint32_t>(i) + 1);
      for (int y = 0; y < height; ++y) {
        uint8_t* row = &rgb[static_cast<size_t>(y) * width * 3];
        for (int x = 0; x < width; ++x) {
          seed = Hash(seed);
          const double noise = static_cast<int>(seed % 13) - 6;
          double r, g, b;
          if (y < horizon) {
            const double k = static_cast<double>(y) / horizon;
            r = (90 + 80 * k) * light;
            g = (140 + 60 * k) * light;
            b = (230 - 30 * k) * light;
            const double dx = x - sun_x, dy = y - sun_y;
            if (dx * dx + dy * dy < sun_r * sun_r) r = g = 250, b = 200;
          } else {
            const double tex = ground[static_cast<size_t>(y) * width + x];
            r = (50 + 0.35 * tex) * light;
            g = (90 + 0.45 * tex) * light;
            b = (40 + 0.2 * tex) * light;
          }
          row[x * 3 + 0] = Clamp(r + noise);
          row[x * 3 + 1] = Clamp(g + noise);
          row[x * 3 + 2] = Clamp(b + noise);
        }
      }
      if (tjCompress2(tj.get(), rgb.data(), width, 0, height, TJPF_RGB, &jpeg, &size, TJSAMP_420, 85,
                      TJFLAG_FASTDCT) != 0) {
        std::fprintf(stderr, "make_stills: cannot compress %s: %s\n", name, tjGetErrorStr2(tj.get()));
        return 1;
      }
      jpeg_capacity = std::max(jpeg_capacity, size);
    }
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f || (size && std::fwrite(jpeg, 1, size, f) != size) || std::fclose(f) != 0) {
      std::fprintf(stderr, "make_stills: cannot write %s\n", path.c_str());
      return 1;
    }
    utimbuf times{t, t};
    utime(path.c_str(), &times);
  }
  tjFree(jpeg);
  std::printf("make_stills: %d stills of %dx%d in %s\n", count, width, height, dir.c_str());
  return 0;
}
