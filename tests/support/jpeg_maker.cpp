#include "jpeg_maker.h"

#include <turbojpeg.h>

#include <memory>
#include <stdexcept>

#include "test_files.h"

namespace chronoreel {
namespace {

struct TjDeleter {
  void operator()(void* handle) const { tjDestroy(handle); }
};
using TjHandle = std::unique_ptr<void, TjDeleter>;

struct TjBufferDeleter {
  void operator()(unsigned char* buffer) const { tjFree(buffer); }
};

int ToTjSubsampling(JpegSubsampling subsampling) {
  switch (subsampling) {
    case JpegSubsampling::k444: return TJSAMP_444;
    case JpegSubsampling::k422: return TJSAMP_422;
    case JpegSubsampling::k420: return TJSAMP_420;
    case JpegSubsampling::kGray: return TJSAMP_GRAY;
  }
  return TJSAMP_444;
}

void PutPixel(std::vector<uint8_t>& rgb, size_t index, uint32_t color) {
  rgb[index * 3] = static_cast<uint8_t>(color >> 16);
  rgb[index * 3 + 1] = static_cast<uint8_t>(color >> 8);
  rgb[index * 3 + 2] = static_cast<uint8_t>(color);
}

}  // namespace

std::vector<uint8_t> EncodeJpeg(const std::vector<uint8_t>& rgb, int width, int height,
                                JpegOptions options) {
  if (width <= 0 || height <= 0 || rgb.size() < static_cast<size_t>(width) * height * 3) {
    throw std::invalid_argument("cannot encode JPEG: bad image size");
  }
  TjHandle handle(tjInitCompress());
  if (!handle) throw std::runtime_error("cannot create JPEG compressor");
  unsigned char* out = nullptr;
  unsigned long out_size = 0;
  int rc = tjCompress2(handle.get(), rgb.data(), width, width * 3, height, TJPF_RGB, &out,
                       &out_size, ToTjSubsampling(options.subsampling), options.quality, 0);
  std::unique_ptr<unsigned char, TjBufferDeleter> owned(out);
  if (rc != 0) {
    throw std::runtime_error(std::string("cannot encode JPEG: ") +
                             tjGetErrorStr2(handle.get()));
  }
  return std::vector<uint8_t>(out, out + out_size);
}

std::vector<uint8_t> MakeFlatJpeg(int width, int height, uint32_t color, JpegOptions options) {
  return MakeSplitJpeg(width, height, color, color, options);
}

std::vector<uint8_t> MakeSplitJpeg(int width, int height, uint32_t top_color,
                                   uint32_t bottom_color, JpegOptions options) {
  if (width <= 0 || height <= 0) throw std::invalid_argument("cannot make JPEG: bad size");
  std::vector<uint8_t> rgb(static_cast<size_t>(width) * height * 3);
  for (int y = 0; y < height; ++y) {
    uint32_t color = y < height / 2 ? top_color : bottom_color;
    for (int x = 0; x < width; ++x) {
      PutPixel(rgb, static_cast<size_t>(y) * width + x, color);
    }
  }
  return EncodeJpeg(rgb, width, height, options);
}

std::string WriteFlatJpeg(const std::string& path, int width, int height, uint32_t color,
                          JpegOptions options) {
  WriteBytes(path, MakeFlatJpeg(width, height, color, options));
  return path;
}

std::string WriteSplitJpeg(const std::string& path, int width, int height, uint32_t top_color,
                           uint32_t bottom_color, JpegOptions options) {
  WriteBytes(path, MakeSplitJpeg(width, height, top_color, bottom_color, options));
  return path;
}

void SetJpegDimensions(std::vector<uint8_t>& jpeg, uint16_t width, uint16_t height) {
  // Walk the marker segments after SOI; a SOF segment is FF Cn, length, precision, H, W.
  size_t pos = 2;
  while (pos + 4 <= jpeg.size()) {
    if (jpeg[pos] != 0xFF) break;
    uint8_t marker = jpeg[pos + 1];
    size_t length = (static_cast<size_t>(jpeg[pos + 2]) << 8) | jpeg[pos + 3];
    if (marker >= 0xC0 && marker <= 0xC2) {
      if (pos + 9 > jpeg.size()) break;
      jpeg[pos + 5] = static_cast<uint8_t>(height >> 8);
      jpeg[pos + 6] = static_cast<uint8_t>(height);
      jpeg[pos + 7] = static_cast<uint8_t>(width >> 8);
      jpeg[pos + 8] = static_cast<uint8_t>(width);
      return;
    }
    pos += 2 + length;
  }
  throw std::runtime_error("cannot find the JPEG frame header");
}

}  // namespace chronoreel
