#pragma once
// DIB: a 24-bit BGR surface stored bottom-up, rows padded to 4 bytes, over a pixel buffer
// that it owns. Either no surface exists (DIBPtr() is null) or the buffer belongs to the
// Width() x Height() in the header. A size over 100 megapixels, or one whose buffer would
// overflow, leaves no surface.
#include <cstdint>
#include <memory>

#include "app/core/host.h"

namespace chronoreel {

struct BitmapInfoHeader {
  int32_t biSize = 40;
  int32_t biWidth = 0;
  int32_t biHeight = 0;
  int16_t biPlanes = 1;
  int16_t biBitCount = 24;
  int32_t biCompression = 0;
  int32_t biSizeImage = 0;
  int32_t biXPelsPerMeter = 0;
  int32_t biYPelsPerMeter = 0;
  int32_t biClrUsed = 0;
  int32_t biClrImportant = 0;
};
static_assert(sizeof(BitmapInfoHeader) == 40);

class DIB {
 public:
  static constexpr int64_t kMaxPixels = 100'000'000;

  DIB();
  ~DIB();
  DIB(const DIB&) = delete;
  DIB& operator=(const DIB&) = delete;

  int32_t Width() const { return header_.biWidth; }
  void SetWidth(int32_t value);
  int32_t Height() const { return header_.biHeight; }
  void SetHeight(int32_t value);
  void SetWidthHeight(int32_t width, int32_t height);

  // The surface's handles are its buffer: all three are null while no surface exists.
  uint8_t* hDC() const { return pixels_.get(); }
  uint8_t* hDIB() const { return pixels_.get(); }
  uint8_t* DIBPtr() const { return pixels_.get(); }
  bool HasSurface() const { return pixels_ != nullptr; }

  // Bytes per row of the surface: Width * 3 rounded up to a multiple of 4; 0 without one.
  int32_t Stride() const { return stride_; }
  const BitmapInfoHeader& Header() const { return header_; }

  // Fills the surface with one colour, 0x00RRGGBB; nothing without a surface.
  void Clear(uint32_t color);

  FrameView View() const { return FrameView{pixels_.get(), Width(), Height(), stride_}; }

 private:
  void CreateDIB();
  void DestroyDIB() noexcept;

  BitmapInfoHeader header_;
  std::unique_ptr<uint8_t[]> pixels_;
  int32_t stride_ = 0;
};

}  // namespace chronoreel
