#include "engine/frame_composer.h"

#include <turbojpeg.h>

extern "C" {
#include <libavutil/pixfmt.h>
#include <libswscale/swscale.h>
}

#include <filesystem>
#include <fstream>
#include <limits>
#include <system_error>

namespace chronoreel {
namespace {

struct TjDeleter {
  void operator()(void* handle) const { tjDestroy(handle); }
};
using TjHandle = std::unique_ptr<void, TjDeleter>;

struct SwsDeleter {
  void operator()(SwsContext* context) const { sws_freeContext(context); }
};
using SwsHandle = std::unique_ptr<SwsContext, SwsDeleter>;

bool SizeInReach(int64_t width, int64_t height) {
  return width > 0 && height > 0 && width * height <= DIB::kMaxPixels;
}

}  // namespace

struct FrameComposer::Impl {
  TjHandle decoder;
  SwsHandle scaler;
  std::vector<uint8_t> still;  // the still file's bytes, reused from frame to frame

  bool EnsureDecoder() {
    if (!decoder) decoder.reset(tjInitDecompress());
    return decoder != nullptr;
  }

  // An error may leave a TurboJPEG handle unusable; the next still gets a fresh one.
  void DropDecoder() { decoder.reset(); }

  // A warning (TJERR_WARNING) means the decoder ran to its end: a truncated or slightly
  // corrupt still has every row written, the missing part filled in by libjpeg. Such a
  // frame is kept, as a viewer would show it. Only a fatal error leaves rows unwritten.
  // (libjpeg-turbo 2.x still says "warning" when a fatal error follows a warning in the
  // same call; that needs a still that is both corrupt and cut short in a particular way.)
  bool Succeeded(int result) {
    if (result == 0) return true;
    const bool warning = tjGetErrorCode(decoder.get()) == TJERR_WARNING;
    DropDecoder();
    return warning;
  }

  bool Stretch(const DIB& from, DIB& to) {
    const bool shrinking = to.Width() < from.Width() && to.Height() < from.Height();
    SwsContext* context = sws_getCachedContext(
        scaler.release(), from.Width(), from.Height(), AV_PIX_FMT_BGR24, to.Width(), to.Height(),
        AV_PIX_FMT_BGR24, shrinking ? SWS_AREA : SWS_BICUBIC, nullptr, nullptr, nullptr);
    scaler.reset(context);
    if (!scaler) return false;
    // Both surfaces are bottom-up, so scaling rows in memory order keeps the picture upright.
    const uint8_t* const source[4] = {from.DIBPtr(), nullptr, nullptr, nullptr};
    const int source_stride[4] = {from.Stride(), 0, 0, 0};
    uint8_t* const target[4] = {to.DIBPtr(), nullptr, nullptr, nullptr};
    const int target_stride[4] = {to.Stride(), 0, 0, 0};
    return sws_scale(scaler.get(), source, source_stride, 0, from.Height(), target,
                     target_stride) == to.Height();
  }
};

FrameComposer::FrameComposer() : impl_(std::make_unique<Impl>()) {}

FrameComposer::~FrameComposer() = default;

bool FrameComposer::Init() { return impl_->EnsureDecoder(); }

bool FrameComposer::Compose(const std::string& path, int32_t& movie_width, int32_t& movie_height,
                            DIB& frame, DIB& decode) {
  std::error_code error;
  const auto length = std::filesystem::file_size(path, error);  // fails for folders too
  if (error || length == 0 || length > std::numeric_limits<unsigned long>::max()) return false;
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::vector<uint8_t>& still = impl_->still;
  still.resize(static_cast<size_t>(length));
  in.read(reinterpret_cast<char*>(still.data()), static_cast<std::streamsize>(length));
  // A still shortened since it was measured is decoded as far as it goes.
  const auto got = static_cast<size_t>(in.gcount());
  if (in.bad() || got == 0) return false;
  return ComposeBytes(still.data(), got, movie_width, movie_height, frame, decode);
}

bool FrameComposer::ComposeBytes(const uint8_t* data, size_t size, int32_t& movie_width,
                                 int32_t& movie_height, DIB& frame, DIB& decode) {
  if (data == nullptr || size == 0 || size > std::numeric_limits<unsigned long>::max()) {
    return false;
  }
  Impl& impl = *impl_;
  if (!impl.EnsureDecoder()) return false;

  int width = 0;
  int height = 0;
  int subsampling = 0;
  int colorspace = 0;
  const int header = tjDecompressHeader3(impl.decoder.get(), data, static_cast<unsigned long>(size),
                                         &width, &height, &subsampling, &colorspace);
  if (!impl.Succeeded(header)) return false;
  // A still too large to hold gives no frame, and does not fix the movie size either.
  if (!SizeInReach(width, height)) return false;

  if (movie_width == 0) {
    movie_width = RoundUpToMultipleOf4(width);
    movie_height = height;
  }
  if (!SizeInReach(movie_width, movie_height)) return false;

  if (frame.Width() != movie_width || frame.Height() != movie_height) {
    frame.SetWidthHeight(movie_width, movie_height);
  }
  if (!frame.HasSurface()) return false;
  if (!impl.EnsureDecoder()) return false;  // a header warning may have cost the handle

  const bool same_size = width == movie_width && height == movie_height;
  DIB& target = same_size ? frame : decode;
  if (!same_size && (decode.Width() != width || decode.Height() != height)) {
    decode.SetWidthHeight(width, height);
  }
  if (!target.HasSurface()) return false;

  const int decoded = tjDecompress2(impl.decoder.get(), data, static_cast<unsigned long>(size),
                                    target.DIBPtr(), width, target.Stride(), height, TJPF_BGR,
                                    TJFLAG_BOTTOMUP | TJFLAG_LIMITSCANS);
  if (!impl.Succeeded(decoded)) return false;

  // Stretched to fill the frame; the still's aspect ratio is not kept.
  if (!same_size) return impl.Stretch(decode, frame);
  return true;
}

int32_t RoundUpToMultipleOf4(int32_t w) {
  if (w % 4 == 0) return w;
  const int64_t rounded = (static_cast<int64_t>(w) / 4 + 1) * 4;
  // Near the top of the range the next multiple does not exist; stay at the last one.
  if (rounded > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max() & ~3;
  return static_cast<int32_t>(rounded);
}

}  // namespace chronoreel
