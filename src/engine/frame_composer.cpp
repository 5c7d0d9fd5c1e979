#include "engine/frame_composer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <turbojpeg.h>
#include <unistd.h>

extern "C" {
#include <libavutil/pixfmt.h>
#include <libswscale/swscale.h>
}

#include <cerrno>
#include <cstddef>
#include <limits>
#include <string_view>

#include "engine/media_owners.h"

namespace chronoreel {
namespace {

class FileOwner {
 public:
  explicit FileOwner(int fd) : fd_(fd) {}
  ~FileOwner() {
    if (fd_ >= 0) close(fd_);
  }
  FileOwner(const FileOwner&) = delete;
  FileOwner& operator=(const FileOwner&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

bool SizeInReach(int64_t width, int64_t height) {
  return width > 0 && height > 0 && width * height <= DIB::kMaxPixels;
}

int Scaled(int dimension, int denominator) {
  return TJSCALED(dimension, (tjscalingfactor{1, denominator}));
}

bool HasScalingFactor(int denominator) {
  int count = 0;
  const tjscalingfactor* factors = tjGetScalingFactors(&count);
  for (int i = 0; factors != nullptr && i < count; ++i) {
    if (factors[i].num == 1 && factors[i].denom == denominator) return true;
  }
  return false;
}

// The planar format libswscale reads for a JPEG's own chroma subsampling; AV_PIX_FMT_NONE
// for one it has no name for.
AVPixelFormat PlanarFormat(int subsampling) {
  switch (subsampling) {
    case TJSAMP_444: return AV_PIX_FMT_YUV444P;
    case TJSAMP_422: return AV_PIX_FMT_YUV422P;
    case TJSAMP_420: return AV_PIX_FMT_YUV420P;
    case TJSAMP_GRAY: return AV_PIX_FMT_GRAY8;
    case TJSAMP_440: return AV_PIX_FMT_YUV440P;
    case TJSAMP_411: return AV_PIX_FMT_YUV411P;
    default: return AV_PIX_FMT_NONE;
  }
}

int ShrinkFlags(StretchFilter filter) {
  switch (filter) {
    case StretchFilter::kArea: return SWS_AREA;
    case StretchFilter::kBilinear: return SWS_BILINEAR;
    case StretchFilter::kFastBilinear: return SWS_FAST_BILINEAR;
    case StretchFilter::kBicubic: return SWS_BICUBIC;
    case StretchFilter::kLanczos:
      return SWS_LANCZOS | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT | SWS_FULL_CHR_H_INP;
  }
  return SWS_AREA;
}

// A still's planes as TurboJPEG writes them: plane i is strides[i] x heights[i] bytes, of
// which libswscale reads the first rows[i] (TurboJPEG pads a plane to whole MCUs).
struct Planes {
  AVPixelFormat format = AV_PIX_FMT_NONE;
  int count = 0;
  int strides[3] = {0, 0, 0};
  int heights[3] = {0, 0, 0};
  int rows[3] = {0, 0, 0};
  int64_t bytes = 0;
};

Planes PlanesFor(int subsampling, int colorspace, int width, int height) {
  Planes planes;
  // Raw planes of an RGB or CMYK JPEG are no YUV; those take the BGR path.
  if (colorspace != TJCS_YCbCr && colorspace != TJCS_GRAY) return planes;
  const AVPixelFormat format = PlanarFormat(subsampling);
  if (format == AV_PIX_FMT_NONE) return planes;
  planes.count = subsampling == TJSAMP_GRAY ? 1 : 3;
  for (int i = 0; i < planes.count; ++i) {
    planes.strides[i] = tjPlaneWidth(i, width, subsampling);
    planes.heights[i] = tjPlaneHeight(i, height, subsampling);
    const bool halved = i > 0 && (subsampling == TJSAMP_420 || subsampling == TJSAMP_440);
    planes.rows[i] = halved ? (height + 1) / 2 : height;
    if (planes.strides[i] <= 0 || planes.heights[i] < planes.rows[i]) return Planes{};
    planes.bytes += int64_t{planes.strides[i]} * planes.heights[i];
  }
  planes.format = format;
  return planes;
}

// A 4:4:4 chroma plane of width x height (both even) to 4:2:0: each output sample is the
// rounded mean of its 2x2 block, centred between the four as JPEG sites its chroma.
void HalveChroma(const uint8_t* from, int from_stride, int width, int height, uint8_t* to,
                 int to_stride) {
  for (int y = 0; y < height / 2; ++y) {
    const uint8_t* upper = from + static_cast<ptrdiff_t>(2 * y) * from_stride;
    const uint8_t* lower = upper + from_stride;
    uint8_t* out = to + static_cast<ptrdiff_t>(y) * to_stride;
    for (int x = 0; x < width / 2; ++x) {
      const unsigned sum = upper[2 * x] + upper[2 * x + 1] + lower[2 * x] + lower[2 * x + 1];
      out[x] = static_cast<uint8_t>((sum + 2) >> 2);
    }
  }
}

// JPEG's YCbCr is BT.601 over the full 0-255 range.
bool SetJpegColourspace(SwsContext* context) {
  const int* coefficients = sws_getCoefficients(SWS_CS_ITU601);
  return sws_setColorspaceDetails(context, coefficients, 1, coefficients, 1, 0, 1 << 16, 1 << 16) >= 0;
}

}  // namespace

void FramePlanes::Resize(int32_t w, int32_t h) {
  width = w;
  height = h;
  // Rows padded to 64 bytes for the SIMD paths.
  strides[0] = (w + 63) & ~63;
  strides[1] = strides[2] = ((w + 1) / 2 + 63) & ~63;
  const size_t total = static_cast<size_t>(strides[0]) * Rows(0) + 2 * static_cast<size_t>(strides[1]) * Rows(1);
  if (bytes.size() < total) bytes.resize(total);
}

uint8_t* FramePlanes::Plane(int plane) {
  return const_cast<uint8_t*>(static_cast<const FramePlanes&>(*this).Plane(plane));
}

const uint8_t* FramePlanes::Plane(int plane) const {
  size_t offset = 0;
  for (int i = 0; i < plane; ++i) offset += static_cast<size_t>(strides[i]) * Rows(i);
  return bytes.data() + offset;
}

struct PlanesConverter::Impl {
  SwsHandle converter;
  int width = 0, height = 0;
};

PlanesConverter::PlanesConverter() : impl_(std::make_unique<Impl>()) {}

PlanesConverter::~PlanesConverter() = default;

bool PlanesConverter::Convert(const FramePlanes& planes, DIB& to) {
  const int w = planes.width, h = planes.height;
  if (w <= 0 || h <= 0) return false;
  if (to.Width() != w || to.Height() != h) to.SetWidthHeight(w, h);
  if (!to.HasSurface()) return false;
  Impl& d = *impl_;
  if (!d.converter || d.width != w || d.height != h) {
    d.converter.reset(sws_getContext(w, h, AV_PIX_FMT_YUV420P, w, h, AV_PIX_FMT_BGR24, SWS_POINT,
                                     nullptr, nullptr, nullptr));
    if (d.converter && !SetJpegColourspace(d.converter.get())) d.converter.reset();
    d.width = w;
    d.height = h;
  }
  if (!d.converter) return false;
  // Top-down planes, read from their last row up into the bottom-up surface.
  const uint8_t* from[4] = {nullptr, nullptr, nullptr, nullptr};
  int from_stride[4] = {0, 0, 0, 0};
  for (int i = 0; i < 3; ++i) {
    from[i] = planes.Plane(i) + static_cast<ptrdiff_t>(planes.Rows(i) - 1) * planes.strides[i];
    from_stride[i] = -planes.strides[i];
  }
  uint8_t* const target[4] = {to.DIBPtr(), nullptr, nullptr, nullptr};
  const int target_stride[4] = {to.Stride(), 0, 0, 0};
  return sws_scale(d.converter.get(), from, from_stride, 0, h, target, target_stride) == h;
}

struct FrameComposer::Impl {
  TjHandle decoder;
  ComposeTuning tuning;
  bool even_height = false;
  DecodeInfo last;
  std::vector<uint8_t> still;  // the still file's bytes; only grows, so it is reused
  std::vector<uint8_t> ended, check;  // a still without its end marker: the check's buffers

  // The scaler and what it was made for; rebuilt only when one of these changes.
  SwsHandle scaler;
  struct ScalerKey {
    int source_width = 0, source_height = 0, target_width = 0, target_height = 0;
    AVPixelFormat source_format = AV_PIX_FMT_NONE;
    int flags = 0;
    bool operator==(const ScalerKey&) const = default;
  } scaler_key;

  // The first pass of a planar stretch (planes to 4:2:0 at the movie size), its output when
  // the caller keeps none, and the second pass (to BGR).
  SwsHandle resizer;
  ScalerKey resizer_key;
  FramePlanes resized;
  PlanesConverter converter;

  bool EnsureDecoder() {
    if (!decoder) decoder.reset(tjInitDecompress());
    return decoder != nullptr;
  }

  // An error may leave a TurboJPEG handle unusable; the next still gets a fresh one.
  void DropDecoder() { decoder.reset(); }

  // A warning (TJERR_WARNING) means the decoder ran to its end with every row written; a
  // slightly corrupt still (stray bytes before a marker) is kept, as a viewer would show
  // it. A fatal error leaves rows unwritten. (libjpeg-turbo 2.x still says "warning" when
  // a fatal error follows a warning in the same call; that needs a still that is both
  // corrupt and cut short in a particular way.)
  bool Succeeded(int result) {
    if (result == 0) return true;
    const bool warning = tjGetErrorCode(decoder.get()) == TJERR_WARNING;
    DropDecoder();
    return warning;
  }

  // A decode of the still data[0, size) of width x height. A still that ends before its end
  // marker (one being written) decodes with a warning too, its missing rows filled in grey:
  // in a movie, a flash. Such a still gives no frame unless all of its picture data is
  // there and only the marker is missing.
  bool Decoded(int result, const uint8_t* data, size_t size, int width, int height) {
    if (result == 0) return true;
    // The first warning of the call is the one reported; an end of file comes first.
    const bool ended_early =
        std::string_view(tjGetErrorStr2(decoder.get())) == "Premature end of JPEG file";
    if (!Succeeded(result)) return false;
    return !ended_early || PictureDataWhole(data, size, width, height);
  }

  // With the end marker put back, picture data cut short stops the decoder with "premature
  // end of data segment"; whole data decodes cleanly. At 1/8 size the check costs little:
  // every coefficient is still read. (Arithmetic-coded data runs out without a warning.)
  bool PictureDataWhole(const uint8_t* data, size_t size, int width, int height) {
    if (!EnsureDecoder()) return false;
    ended.assign(data, data + size);
    ended.push_back(0xFF);
    ended.push_back(0xD9);
    const int denominator = HasScalingFactor(8) ? 8 : 1;
    const int w = Scaled(width, denominator), h = Scaled(height, denominator);
    check.resize(static_cast<size_t>(w) * 3 * static_cast<size_t>(h));
    const int result = tjDecompress2(decoder.get(), ended.data(), ended.size(), check.data(), w,
                                     0, h, TJPF_BGR, TJFLAG_STOPONWARNING | TJFLAG_LIMITSCANS);
    if (result != 0) DropDecoder();
    return result == 0;
  }

  // The fast DCT only ever replaces the full-size 8x8 one; a scaled decode to 4:2:0 planes
  // at 1/2 comes out garbled with it (libjpeg-turbo 2.1), so it is kept to full size.
  int DecodeFlags(int denominator) const {
    const bool fast = tuning.fast_dct && denominator == 1;
    return TJFLAG_BOTTOMUP | TJFLAG_LIMITSCANS | (fast ? TJFLAG_FASTDCT : 0);
  }

  // A decode that lands on the movie size can stop at the frame's 4:2:0 planes, with no
  // colour conversion at all: a 4:2:0 still's planes are decoded in place; a 4:4:4 still's
  // chroma goes to the decode surface and is halved from there. The sizes are those the
  // planes' converter turns into BGR without a stale edge (see StretchPlanes).
  bool FitsFramePlanes(int subsampling, int colorspace, int width, int height) const {
    return tuning.yuv_stretch && colorspace == TJCS_YCbCr && width % 16 == 0 && height % 2 == 0 &&
           (subsampling == TJSAMP_420 || subsampling == TJSAMP_444);
  }

  bool DecodeIntoPlanes(const uint8_t* data, size_t size, int width, int height, int subsampling,
                        int denominator, DIB& decode, FramePlanes& out) {
    const int w = Scaled(width, denominator), h = Scaled(height, denominator);
    out.Resize(w, h);
    unsigned char* target[3] = {out.Plane(0), out.Plane(1), out.Plane(2)};
    int strides[3] = {out.strides[0], out.strides[1], out.strides[2]};
    const bool full_chroma = subsampling == TJSAMP_444;
    if (full_chroma) {
      if (decode.Width() != w || decode.Height() != h) decode.SetWidthHeight(w, h);
      if (!decode.HasSurface()) return false;
      target[1] = decode.DIBPtr();
      target[2] = target[1] + static_cast<size_t>(w) * h;
      strides[1] = strides[2] = w;
    }
    const int result =
        tjDecompressToYUVPlanes(decoder.get(), data, static_cast<unsigned long>(size), target, w,
                                strides, h, DecodeFlags(denominator) & ~TJFLAG_BOTTOMUP);
    if (!Decoded(result, data, size, width, height)) return false;
    if (full_chroma) {
      for (int i = 1; i < 3; ++i) HalveChroma(target[i], w, w, h, out.Plane(i), out.strides[i]);
    }
    out.filled = true;
    return true;
  }

  static bool SizeSurface(DIB& surface, int w, int h) {
    if (surface.Width() != w || surface.Height() != h) surface.SetWidthHeight(w, h);
    return surface.HasSurface();
  }

  SwsContext* Scaler(const ScalerKey& key) {
    if (scaler && key == scaler_key) return scaler.get();
    scaler_key = key;
    scaler.reset(sws_getContext(key.source_width, key.source_height, key.source_format,
                                key.target_width, key.target_height, AV_PIX_FMT_BGR24, key.flags,
                                nullptr, nullptr, nullptr));
    if (scaler && key.source_format != AV_PIX_FMT_BGR24 && !SetJpegColourspace(scaler.get())) {
      scaler.reset();
    }
    return scaler.get();
  }

  int StretchFlags(int from_width, int from_height, int to_width, int to_height) const {
    // Shrinking needs a filter that averages, or fine detail aliases.
    const bool shrinking = to_width < from_width && to_height < from_height;
    return shrinking ? ShrinkFlags(tuning.shrink_filter) : SWS_BICUBIC;
  }

  bool Stretch(const DIB& from, DIB& to) {
    // Without full chroma input libswscale averages BGR in pixel pairs, and the last column
    // of an odd-width still gets the colour of a pixel beyond the row.
    const int flags =
        StretchFlags(from.Width(), from.Height(), to.Width(), to.Height()) | SWS_FULL_CHR_H_INP;
    SwsContext* context =
        Scaler({from.Width(), from.Height(), to.Width(), to.Height(), AV_PIX_FMT_BGR24, flags});
    if (context == nullptr) return false;
    // Both surfaces are bottom-up, so scaling rows in memory order keeps the picture upright.
    const uint8_t* const source[4] = {from.DIBPtr(), nullptr, nullptr, nullptr};
    const int source_stride[4] = {from.Stride(), 0, 0, 0};
    uint8_t* const target[4] = {to.DIBPtr(), nullptr, nullptr, nullptr};
    const int target_stride[4] = {to.Stride(), 0, 0, 0};
    return sws_scale(context, source, source_stride, 0, from.Height(), target, target_stride) ==
           to.Height();
  }

  // Planes are top-down. They are read from their last row upwards through negative
  // strides, so the picture lands upright in the bottom-up surface. (libswscale flips a
  // source reliably; a negative target stride corrupts memory in some of its output paths.)
  bool StretchPlanes(const uint8_t* base, const Planes& planes, int width, int height, int w,
                     int h, DIB& to, FramePlanes* keep) {
    const uint8_t* source[4] = {nullptr, nullptr, nullptr, nullptr};
    int source_stride[4] = {0, 0, 0, 0};
    const uint8_t* top_down[4] = {nullptr, nullptr, nullptr, nullptr};
    int top_down_stride[4] = {0, 0, 0, 0};
    const uint8_t* plane = base;
    for (int i = 0; i < planes.count; ++i) {
      source[i] = plane + static_cast<size_t>(planes.rows[i] - 1) * planes.strides[i];
      source_stride[i] = -planes.strides[i];
      top_down[i] = plane;
      top_down_stride[i] = planes.strides[i];
      plane += static_cast<size_t>(planes.strides[i]) * planes.heights[i];
    }
    // The SIMD converter writes whole blocks of 16 pixels and pairs of rows; other sizes
    // would keep a stale edge, so they take the single pass.
    const bool blocks = w % 16 == 0 && h % 2 == 0;
    if (tuning.planar_stretch && blocks && !tuning.full_chroma &&
        tuning.shrink_filter != StretchFilter::kLanczos && planes.format != AV_PIX_FMT_GRAY8) {
      return StretchPlanesTwice(top_down, top_down_stride, planes.format, width, height, w, h, to,
                                keep);
    }
    if (!SizeSurface(to, w, h)) return false;
    const int flags =
        StretchFlags(width, height, w, h) | (tuning.full_chroma ? SWS_FULL_CHR_H_INT : 0);
    SwsContext* context = Scaler({width, height, w, h, planes.format, flags});
    if (context == nullptr) return false;
    uint8_t* const target[4] = {to.DIBPtr(), nullptr, nullptr, nullptr};
    const int target_stride[4] = {to.Stride(), 0, 0, 0};
    return sws_scale(context, source, source_stride, 0, height, target, target_stride) ==
           to.Height();
  }

  // libswscale's scaled BGR24 output is plain C and costs more than the decode; its planar
  // scaler and its unscaled YUV-to-BGR converter are SIMD. So: planes to 4:2:0 at the movie
  // size, then to BGR at that size. (Colour is shared by each 2x2 block either way.) The
  // source planes come top-down, and so do the 4:2:0 ones; the second pass turns them over.
  bool StretchPlanesTwice(const uint8_t* const source[4], const int source_stride[4],
                          AVPixelFormat format, int width, int height, int w, int h, DIB& to,
                          FramePlanes* keep) {
    const ScalerKey key{width, height, w, h, format, StretchFlags(width, height, w, h)};
    if (!resizer || !(key == resizer_key)) {
      resizer_key = key;
      resizer.reset(sws_getContext(width, height, format, w, h, AV_PIX_FMT_YUV420P, key.flags,
                                   nullptr, nullptr, nullptr));
    }
    if (!resizer) return false;
    FramePlanes& middle = keep != nullptr ? *keep : resized;
    middle.Resize(w, h);
    uint8_t* const target[4] = {middle.Plane(0), middle.Plane(1), middle.Plane(2), nullptr};
    const int target_stride[4] = {middle.strides[0], middle.strides[1], middle.strides[2], 0};
    if (sws_scale(resizer.get(), source, source_stride, 0, height, target, target_stride) != h) {
      return false;
    }
    if (keep != nullptr) {
      keep->filled = true;
      return true;
    }
    return converter.Convert(middle, to);
  }
};

FrameComposer::FrameComposer() : impl_(std::make_unique<Impl>()) {}

FrameComposer::~FrameComposer() = default;

bool FrameComposer::Init() { return impl_->EnsureDecoder(); }

void FrameComposer::SetTuning(const ComposeTuning& tuning) { impl_->tuning = tuning; }

void FrameComposer::SetEvenHeight(bool even) { impl_->even_height = even; }

const DecodeInfo& FrameComposer::LastDecode() const { return impl_->last; }

bool FrameComposer::Compose(const std::string& path, int32_t& movie_width, int32_t& movie_height,
                            DIB& frame, DIB& decode, FramePlanes* planes) {
  // Non-blocking: a pipe that took a still's name must not hold the run until someone
  // writes to it. Reads of a regular file are not affected.
  const FileOwner file(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (file.get() < 0) return false;
  struct stat info {};
  // Folders and devices are no stills.
  if (fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_size <= 0) return false;
  const auto length = static_cast<uint64_t>(info.st_size);
  // Far beyond the largest still that could decode (DIB::kMaxPixels): such a file is not
  // read into memory at all.
  constexpr uint64_t kMaxStillBytes = uint64_t{1} << 30;
  if (length > kMaxStillBytes || length > std::numeric_limits<unsigned long>::max() ||
      length > std::numeric_limits<size_t>::max() / 2) {
    return false;
  }
  std::vector<uint8_t>& still = impl_->still;
  if (still.size() < length) still.resize(static_cast<size_t>(length));
  size_t got = 0;
  while (got < length) {
    const ssize_t n = read(file.get(), still.data() + got, static_cast<size_t>(length) - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) break;  // shortened since it was measured: decoded as far as it goes
    got += static_cast<size_t>(n);
  }
  if (got == 0) return false;
  return ComposeBytes(still.data(), got, movie_width, movie_height, frame, decode, planes);
}

bool FrameComposer::ComposeBytes(const uint8_t* data, size_t size, int32_t& movie_width,
                                 int32_t& movie_height, DIB& frame, DIB& decode,
                                 FramePlanes* planes) {
  if (planes != nullptr) planes->filled = false;
  if (data == nullptr || size == 0 || size > std::numeric_limits<unsigned long>::max()) {
    return false;
  }
  Impl& impl = *impl_;
  if (!impl.EnsureDecoder()) return false;

  int width = 0;
  int height = 0;
  int subsampling = 0;
  int colorspace = 0;
  const auto jpeg_size = static_cast<unsigned long>(size);
  const int header = tjDecompressHeader3(impl.decoder.get(), data, jpeg_size, &width, &height,
                                         &subsampling, &colorspace);
  if (!impl.Succeeded(header)) return false;
  // A still too large to hold gives no frame, and does not fix the movie size either.
  if (!SizeInReach(width, height)) return false;

  // The movie size comes from the still's own size, whatever the decode does below.
  if (movie_width == 0) {
    movie_width = RoundUpToMultipleOf4(width);
    movie_height = impl.even_height ? RoundUpToEven(height) : height;
  }
  if (!SizeInReach(movie_width, movie_height)) return false;

  // The frame's surface is made only when the picture goes into it: one that stops at its
  // planes is left to PlanesConverter, and its memory is not touched until then.
  if (!impl.EnsureDecoder()) return false;  // a header warning may have cost the handle

  const int denominator =
      impl.tuning.dct_scaling ? DctScaleDenominator(width, height, movie_width, movie_height) : 1;
  const int decoded_width = Scaled(width, denominator);
  const int decoded_height = Scaled(height, denominator);
  const bool same_size = decoded_width == movie_width && decoded_height == movie_height;
  const DecodeInfo info{decoded_width, decoded_height, denominator, same_size, false};

  if (same_size && planes != nullptr &&
      impl.FitsFramePlanes(subsampling, colorspace, decoded_width, decoded_height)) {
    if (!impl.DecodeIntoPlanes(data, size, width, height, subsampling, denominator, decode, *planes))
      return false;
    impl.last = info;
    impl.last.yuv = true;
    return true;
  }
  if (same_size) {
    if (!Impl::SizeSurface(frame, movie_width, movie_height)) return false;
    const int result = tjDecompress2(impl.decoder.get(), data, jpeg_size, frame.DIBPtr(),
                                     decoded_width, frame.Stride(), decoded_height, TJPF_BGR,
                                     impl.DecodeFlags(denominator));
    if (!impl.Decoded(result, data, size, width, height)) return false;
    impl.last = info;
    return true;
  }

  if (decode.Width() != decoded_width || decode.Height() != decoded_height) {
    decode.SetWidthHeight(decoded_width, decoded_height);
  }
  if (!decode.HasSurface()) return false;

  // YUV planes skip TurboJPEG's colour conversion and let libswscale convert while it
  // stretches, one pass instead of two. They fit in the decode surface's BGR buffer.
  const Planes still_planes = impl.tuning.yuv_stretch
                            ? PlanesFor(subsampling, colorspace, decoded_width, decoded_height)
                            : Planes{};
  const int64_t capacity = int64_t{decode.Stride()} * decode.Height();
  if (still_planes.count > 0 && still_planes.bytes <= capacity) {
    unsigned char* plane_ptrs[3] = {decode.DIBPtr(), nullptr, nullptr};
    for (int i = 1; i < still_planes.count; ++i) {
      plane_ptrs[i] = plane_ptrs[i - 1] + static_cast<size_t>(still_planes.strides[i - 1]) *
                                              still_planes.heights[i - 1];
    }
    int strides[3] = {still_planes.strides[0], still_planes.strides[1], still_planes.strides[2]};
    const int result = tjDecompressToYUVPlanes(
        impl.decoder.get(), data, jpeg_size, plane_ptrs, decoded_width, strides, decoded_height,
        impl.DecodeFlags(denominator) & ~TJFLAG_BOTTOMUP);
    if (!impl.Decoded(result, data, size, width, height)) return false;
    // Stretched to fill the frame; the still's aspect ratio is not kept.
    if (!impl.StretchPlanes(decode.DIBPtr(), still_planes, decoded_width, decoded_height,
                            movie_width, movie_height, frame, planes)) {
      return false;
    }
    impl.last = info;
    impl.last.yuv = true;
    return true;
  }

  const int result = tjDecompress2(impl.decoder.get(), data, jpeg_size, decode.DIBPtr(),
                                   decoded_width, decode.Stride(), decoded_height, TJPF_BGR,
                                   impl.DecodeFlags(denominator));
  if (!impl.Decoded(result, data, size, width, height)) return false;
  if (!Impl::SizeSurface(frame, movie_width, movie_height) || !impl.Stretch(decode, frame))
    return false;
  impl.last = info;
  return true;
}

int32_t RoundUpToMultipleOf4(int32_t w) {
  if (w % 4 == 0) return w;
  const int64_t rounded = (static_cast<int64_t>(w) / 4 + 1) * 4;
  // Near the top of the range the next multiple does not exist; stay at the last one.
  if (rounded > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max() & ~3;
  return static_cast<int32_t>(rounded);
}

int32_t RoundUpToEven(int32_t h) {
  if (h % 2 == 0) return h;
  return h == std::numeric_limits<int32_t>::max() ? h - 1 : h + 1;
}

int DctScaleDenominator(int still_width, int still_height, int32_t movie_width,
                        int32_t movie_height) {
  if (still_width <= 0 || still_height <= 0 || movie_width <= 0 || movie_height <= 0) return 1;
  for (int denominator : {8, 4, 2}) {
    if (Scaled(still_width, denominator) >= movie_width &&
        Scaled(still_height, denominator) >= movie_height && HasScalingFactor(denominator)) {
      return denominator;
    }
  }
  return 1;
}

}  // namespace chronoreel
