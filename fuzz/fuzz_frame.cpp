// Frame composition from JPEG bytes: two stills into the frame surface, first with the
// movie size taken from the first still (straight decode, then a stretch when the second
// differs), then into a fixed small size (every still stretched).
//
// Input: one byte of options, two bytes giving the first still's length, then the stills.
#include <turbojpeg.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

extern "C" {
#include <libavutil/log.h>
}

#include "bitmap/dib.h"
#include "engine/frame_composer.h"
#include "fuzz_support.h"

using chronoreel::fuzz::Violation;

namespace {

// Keeps each input quick: stills above this are left to the size limit of the surface and
// to the hostile-still tests. Large pictures run the same code as small ones, only longer.
constexpr int64_t kMaxFuzzPixels = 1 << 14;

struct Size {
  int32_t width;
  int32_t height;
};
constexpr Size kCustomSizes[] = {{64, 48}, {64, 48}, {1, 1}, {130, 7}};

struct TjDeleter {
  void operator()(void* handle) const { tjDestroy(handle); }
};

// A handle of its own each time: after a failed header TurboJPEG's handle may not be reusable.
bool SmallEnough(const uint8_t* data, size_t size) {
  const std::unique_ptr<void, TjDeleter> probe(tjInitDecompress());
  if (!probe) return false;
  int width = 0, height = 0, subsampling = 0, colorspace = 0;
  if (size == 0) return true;
  // A header with a warning still decodes, so its size counts like any other.
  tjDecompressHeader3(probe.get(), data, static_cast<unsigned long>(size), &width, &height, &subsampling,
                      &colorspace);
  return static_cast<int64_t>(width) * height <= kMaxFuzzPixels;
}

void CheckFrame(bool composed, const chronoreel::DIB& frame, int32_t width, int32_t height,
                std::string_view input) {
  if (!composed) return;
  if (!frame.HasSurface() || frame.Width() != width || frame.Height() != height)
    Violation("a composed frame does not have the movie size", input);
  if (frame.Stride() % 4 != 0 || frame.Stride() < 3 * frame.Width())
    Violation("the frame stride is not a padded row", input);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  av_log_set_level(AV_LOG_QUIET);  // libswscale's notes would fill the log
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3 || size > 64 * 1024) return -1;
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const uint8_t options = data[0];
  size_t first_size = static_cast<size_t>(data[1]) << 8 | data[2];
  const uint8_t* first = data + 3;
  const size_t rest = size - 3;
  if (first_size > rest) first_size = rest;
  const uint8_t* second = first + first_size;
  size_t second_size = rest - first_size;
  if (second_size == 0) {
    second = first;
    second_size = first_size;
  }

  if (!SmallEnough(first, first_size) || !SmallEnough(second, second_size))
    return -1;

  // One composer and one set of surfaces for every input, as a run keeps them for all its
  // stills: they meet stills of every size in turn.
  static chronoreel::FrameComposer composer;
  static chronoreel::DIB frame, decode;
  static chronoreel::FramePlanes planes;
  static chronoreel::PlanesConverter converter;
  if (!composer.Init()) Violation("the decoder cannot be made", input);

  {
    int32_t width = 0, height = 0;
    bool composed = composer.ComposeBytes(first, first_size, width, height, frame, decode);
    if (composed && (width <= 0 || height <= 0 || width % 4 != 0))
      Violation("the movie size from the first still is not usable", input);
    CheckFrame(composed, frame, width, height, input);
    composed = composer.ComposeBytes(second, second_size, width, height, frame, decode);
    CheckFrame(composed, frame, width, height, input);
  }
  {
    const Size custom = kCustomSizes[options % std::size(kCustomSizes)];
    // Half the inputs stop at the planes where the still is stretched through them.
    chronoreel::FramePlanes* keep = (options & 0x80) != 0 ? &planes : nullptr;
    int32_t width = custom.width, height = custom.height;
    for (int pass = 0; pass < 2; ++pass) {
      bool composed = pass == 0
                          ? composer.ComposeBytes(first, first_size, width, height, frame, decode, keep)
                          : composer.ComposeBytes(second, second_size, width, height, frame, decode, keep);
      if (width != custom.width || height != custom.height)
        Violation("a custom movie size was changed", input);
      if (composed && keep != nullptr && keep->filled) {
        if (keep->width != width || keep->height != height)
          Violation("the planes do not have the movie size", input);
        composed = converter.Convert(*keep, frame);
        if (!composed) Violation("planes that were made do not convert", input);
      }
      CheckFrame(composed, frame, width, height, input);
    }
  }
  return 0;
}
