#pragma once
// Test stills made with TurboJPEG, in memory or on disk. Colours are 0x00RRGGBB.
#include <cstdint>
#include <string>
#include <vector>

namespace chronoreel {

enum class JpegSubsampling { k444, k422, k420, kGray };

struct JpegOptions {
  int quality = 95;
  JpegSubsampling subsampling = JpegSubsampling::k444;
};

// Compresses a top-down RGB image (3 bytes per pixel, no padding). Throws on failure.
std::vector<uint8_t> EncodeJpeg(const std::vector<uint8_t>& rgb, int width, int height,
                                JpegOptions options = {});

// One colour all over.
std::vector<uint8_t> MakeFlatJpeg(int width, int height, uint32_t color,
                                  JpegOptions options = {});

// Top half (rows [0, height/2)) in one colour, the rest in another: shows orientation.
std::vector<uint8_t> MakeSplitJpeg(int width, int height, uint32_t top_color,
                                   uint32_t bottom_color, JpegOptions options = {});

// The same stills written to a file; return the path for convenience.
std::string WriteFlatJpeg(const std::string& path, int width, int height, uint32_t color,
                          JpegOptions options = {});
std::string WriteSplitJpeg(const std::string& path, int width, int height, uint32_t top_color,
                           uint32_t bottom_color, JpegOptions options = {});

// Rewrites the width and height in the frame header (SOF0/1/2) of a JPEG: a tiny file that
// claims a huge picture. Throws when no frame header is found.
void SetJpegDimensions(std::vector<uint8_t>& jpeg, uint16_t width, uint16_t height);

}  // namespace chronoreel
