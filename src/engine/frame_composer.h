#pragma once
// Frame composition: reads a still, decodes it with TurboJPEG into the frame surface (same
// size) or the decode surface followed by a libswscale stretch to the movie size. A still
// larger than the movie is decoded at 1/2, 1/4 or 1/8 of its size in the DCT domain when that
// still covers the movie in both directions; a decode that lands on the movie size exactly
// goes straight into the frame surface, or into the frame's 4:2:0 planes when those are kept.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "bitmap/dib.h"

namespace chronoreel {

// The libswscale filter used when a still shrinks in both directions (growing always uses
// bicubic). kLanczos also asks for full chroma and accurate rounding: the slow yardstick the
// others are measured against.
enum class StretchFilter { kArea, kBilinear, kFastBilinear, kBicubic, kLanczos };

// How a still reaches the movie size. The defaults are the fast choices that keep the
// picture good; the others exist so that the benchmark can show what each one is worth.
struct ComposeTuning {
  bool dct_scaling = true;  // decode at 1/2, 1/4 or 1/8 when that still covers the movie
  bool yuv_stretch = true;  // a still that is stretched is decoded to YUV planes, not BGR
  bool fast_dct = false;    // TurboJPEG's faster, less accurate inverse DCT (full size only)
  bool full_chroma = false;  // YUV stretch: colour at every pixel rather than every second
  StretchFilter shrink_filter = StretchFilter::kArea;
  bool planar_stretch = true;  // YUV stretch in two SIMD passes: scale the planes, then to BGR
};

// What the last successful decode did.
struct DecodeInfo {
  int32_t width = 0, height = 0;  // the decoded size, after DCT scaling
  int scale_denominator = 1;      // 1, 2, 4 or 8
  bool into_frame = false;        // decoded straight into the frame surface, no stretch
  bool yuv = false;               // decoded to YUV planes and converted while stretching
};

// A frame as 4:2:0 planes at the movie size: BT.601 over the full 0-255 range (JPEG's own),
// rows top-down, each row padded to 64 bytes. A stretched still can stop here when the
// writer takes such planes; the BGR surface is then made only when someone looks at it.
struct FramePlanes {
  int32_t width = 0, height = 0;
  int strides[3] = {0, 0, 0};
  bool filled = false;  // the last composition stopped at the planes
  std::vector<uint8_t> bytes;

  void Resize(int32_t w, int32_t h);  // the buffer only grows
  int Rows(int plane) const { return plane == 0 ? height : (height + 1) / 2; }
  uint8_t* Plane(int plane);
  const uint8_t* Plane(int plane) const;
};

// Makes a frame's BGR surface from its planes, exactly as the composer itself does.
class PlanesConverter {
 public:
  PlanesConverter();
  ~PlanesConverter();
  PlanesConverter(const PlanesConverter&) = delete;
  PlanesConverter& operator=(const PlanesConverter&) = delete;

  // `to` is sized to the planes when it is not already.
  bool Convert(const FramePlanes& planes, DIB& to);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

class FrameComposer {
 public:
  FrameComposer();
  ~FrameComposer();
  FrameComposer(const FrameComposer&) = delete;
  FrameComposer& operator=(const FrameComposer&) = delete;

  // Makes the decoder (once per run). False when it cannot be made.
  bool Init();

  // Composes the still at `path` into `frame`. When movie_width is 0 (size from the first
  // image) the still fixes movie_width (rounded up to a multiple of 4) and movie_height
  // (rounded up to even after SetEvenHeight).
  // False: the still gives no frame (unreadable, not a JPEG, undecodable, too large).
  // With `planes`, a still stretched through 4:2:0 planes stops there (planes->filled), and
  // so does an even-sized 4:2:0 or 4:4:4 YCbCr still whose decode lands on the movie size:
  // `frame` is then left as it was (PlanesConverter sizes it and makes the picture).
  bool Compose(const std::string& path, int32_t& movie_width, int32_t& movie_height, DIB& frame,
               DIB& decode, FramePlanes* planes = nullptr);

  // The same from bytes already in memory.
  bool ComposeBytes(const uint8_t* data, size_t size, int32_t& movie_width, int32_t& movie_height,
                    DIB& frame, DIB& decode, FramePlanes* planes = nullptr);

  void SetTuning(const ComposeTuning& tuning);
  // For a 4:2:0 stream (EncoderPlan::even_height): a size taken from a still gets an even
  // height, and the still is stretched to it.
  void SetEvenHeight(bool even);
  const DecodeInfo& LastDecode() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// w rounded up to a multiple of 4: if w mod 4 != 0, (trunc(w / 4) + 1) * 4.
int32_t RoundUpToMultipleOf4(int32_t w);

// h rounded up to even (4:2:0 streams); the largest int32_t rounds down instead.
int32_t RoundUpToEven(int32_t h);

// The largest of 8, 4 and 2 whose DCT-scaled decode of a still_width x still_height still is
// at least movie_width x movie_height; 1 when none is. The other factors TurboJPEG offers
// are slower than a full decode and never chosen.
int DctScaleDenominator(int still_width, int still_height, int32_t movie_width,
                        int32_t movie_height);

}  // namespace chronoreel
