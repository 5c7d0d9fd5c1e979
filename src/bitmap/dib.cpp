#include "bitmap/dib.h"

#include <cstring>
#include <new>

#include "app/core/error_report.h"

namespace chronoreel {
namespace {

// SIMD decoders and scalers may touch a few bytes past the last row; this slack keeps
// them inside the allocation.
constexpr size_t kSlackBytes = 64;

// True when a surface of this size may exist: both sides positive, at most kMaxPixels.
bool SizeInReach(int64_t width, int64_t height) {
  return width > 0 && height > 0 && width * height <= DIB::kMaxPixels;
}

int64_t StrideFor(int64_t width) { return (width * 3 + 3) & ~int64_t{3}; }

}  // namespace

DIB::DIB() = default;

DIB::~DIB() { DestroyDIB(); }

void DIB::SetWidth(int32_t value) {
  ErrorTrap trap("DIB", "Width_Let");
  if (value != header_.biWidth && header_.biHeight != 0) {
    DestroyDIB();
    header_.biWidth = value;
    CreateDIB();
  } else {
    header_.biWidth = value;
  }
}

void DIB::SetHeight(int32_t value) {
  ErrorTrap trap("DIB", "Height_Let");
  if (value != header_.biHeight && header_.biWidth != 0) {
    DestroyDIB();
    header_.biHeight = value;
    CreateDIB();
  } else {
    header_.biHeight = value;
  }
}

void DIB::SetWidthHeight(int32_t width, int32_t height) {
  ErrorTrap trap("DIB", "SetWidthHeight");
  if (width == header_.biWidth && height == header_.biHeight) return;
  DestroyDIB();
  header_.biWidth = width;
  header_.biHeight = height;
  CreateDIB();
}

// Makes a new zero-filled buffer for the header's size. A size out of reach (negative,
// zero, over kMaxPixels) or memory that cannot be had leaves no surface: the caller sees a
// null DIBPtr, as with a failed allocation of the platform.
void DIB::CreateDIB() {
  ErrorTrap trap("DIB", "CreateDIB");
  const int64_t width = header_.biWidth;
  const int64_t height = header_.biHeight;
  if (!SizeInReach(width, height)) {
    header_.biSizeImage = 0;
    return;
  }
  // Within kMaxPixels every product below fits easily in 32 bits.
  header_.biSizeImage = static_cast<int32_t>(width * height * 3);
  const int64_t stride = StrideFor(width);
  const size_t bytes = static_cast<size_t>(stride * height) + kSlackBytes;
  try {
    pixels_.reset(new uint8_t[bytes]());
  } catch (const std::bad_alloc&) {
    pixels_.reset();
    return;
  }
  stride_ = static_cast<int32_t>(stride);
}

void DIB::DestroyDIB() noexcept {
  pixels_.reset();
  stride_ = 0;
}

void DIB::Clear(uint32_t color) {
  ErrorTrap trap("DIB", "Clear");
  if (!pixels_ || header_.biWidth == 0 || header_.biHeight == 0) return;
  const uint8_t blue = static_cast<uint8_t>(color);
  const uint8_t green = static_cast<uint8_t>(color >> 8);
  const uint8_t red = static_cast<uint8_t>(color >> 16);
  const size_t row_bytes = static_cast<size_t>(header_.biWidth) * 3;
  uint8_t* first = pixels_.get();
  for (size_t i = 0; i < row_bytes; i += 3) {
    first[i] = blue;
    first[i + 1] = green;
    first[i + 2] = red;
  }
  for (int32_t y = 1; y < header_.biHeight; ++y) {
    std::memcpy(first + static_cast<size_t>(y) * stride_, first, row_bytes);
  }
}

}  // namespace chronoreel
