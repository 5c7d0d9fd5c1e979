#include "engine/avi_writer.h"

// How the compression record drives the encoder:
//  - fccHandler 0 or "DIB ": the DIB rows go into the file unchanged (rawvideo BGR24,
//    positive biHeight); any other code picks an encoder through FFmpeg's FOURCC table.
//    A parameter line "encoder=<name>" picks among encoders of one code (mpeg4, libxvid).
//  - dwQuality 1..10000 (10000 best): quantiser 31..1 for the mpegvideo family, CRF 51..0
//    for libx264, linear and rounded; 0 or less leaves the encoder's default; lossless
//    encoders ignore it.
//  - AVICOMPRESSF_DATARATE: dwBytesPerSecond * 8 becomes the bit rate and its ceiling
//    (one-second buffer); the quality is then not applied, as it would override the rate.
//  - parameter block: "key=value" lines up to the first NUL, set on the encoder and its
//    private options before it opens; keys or values it refuses are passed over.
//  - dwKeyFrameEvery and the format block are not used: every frame is a key frame.
//  - MP4, MOV, Matroska and WebM: the same encoders where the container holds them (checked
//    at Open), with the codec's own tag; uncompressed frames go through the rawvideo
//    encoder (top-down rows). H.264 in MP4 and MOV is yuv420p, the height padded to even
//    with the last row, and the index goes first (+faststart) so the movie plays while it
//    loads.
//  - MJPEG at a fixed quality with no other encoder option is compressed by TurboJPEG,
//    about three times as fast as libavcodec's encoder, at the JPEG quality whose steps
//    match the quantiser (JpegQualityForQscale); the packets go to the muxer as they are.

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <turbojpeg.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/codecs.h"
#include "engine/container.h"
#include "engine/output_lock.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

namespace chronoreel {

namespace fs = std::filesystem;

namespace {

struct FormatContextDeleter {
  void operator()(AVFormatContext* ctx) const {
    // A context of our own (FileSink) is released by its owner.
    if (ctx->pb && !(ctx->flags & AVFMT_FLAG_CUSTOM_IO)) avio_closep(&ctx->pb);
    avformat_free_context(ctx);
  }
};
struct IoContextDeleter {
  void operator()(AVIOContext* io) const {
    av_freep(&io->buffer);
    avio_context_free(&io);
  }
};

// The movie file under libavformat. Every few megabytes it asks the kernel to start
// writing what came so far, so the disk works while frames are made, and the flush before
// the rename finds little left to do.
class FileSink {
 public:
  FileSink() = default;
  FileSink(const FileSink&) = delete;
  FileSink& operator=(const FileSink&) = delete;
  ~FileSink() { Close(); }

  bool Open(const std::string& path) {
    fd_ = open(path.c_str(), O_WRONLY | O_CLOEXEC);
    position_ = started_ = 0;
    return fd_ >= 0;
  }

  // The context libavformat writes through; its buffer is its own.
  AVIOContext* MakeContext() {
    constexpr int kBufferBytes = 256 * 1024;
    auto* buffer = static_cast<unsigned char*>(av_malloc(kBufferBytes));
    if (buffer == nullptr) return nullptr;
    AVIOContext* io = avio_alloc_context(buffer, kBufferBytes, 1, this, nullptr, &Write, &Seek);
    if (io == nullptr) av_free(buffer);
    return io;
  }

  // On disk: false with errno when the data cannot be made durable.
  bool Sync() { return fd_ >= 0 && fsync(fd_) == 0; }

  // False with errno when the kernel reports a late write error on closing.
  bool Close() {
    if (fd_ < 0) return true;
    const int rc = close(fd_);
    fd_ = -1;
    return rc == 0;
  }

 private:
  static constexpr int64_t kWriteBehindBytes = 8 << 20;

#if LIBAVFORMAT_VERSION_MAJOR >= 61
  static int Write(void* opaque, const uint8_t* data, int size) {
#else
  static int Write(void* opaque, uint8_t* data, int size) {
#endif
    auto& sink = *static_cast<FileSink*>(opaque);
    int done = 0;
    while (done < size) {
      const ssize_t n = write(sink.fd_, data + done, static_cast<size_t>(size - done));
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return AVERROR(errno);
      if (n == 0) return AVERROR(EIO);
      done += static_cast<int>(n);
    }
    sink.position_ += size;
    if (sink.position_ - sink.started_ >= kWriteBehindBytes) {
      // Only a hint: where the file system cannot, the flush at the end does it all.
      sync_file_range(sink.fd_, sink.started_, sink.position_ - sink.started_, SYNC_FILE_RANGE_WRITE);
      sink.started_ = sink.position_;
    }
    return size;
  }

  static int64_t Seek(void* opaque, int64_t offset, int whence) {
    auto& sink = *static_cast<FileSink*>(opaque);
    if (whence == AVSEEK_SIZE) {
      struct stat st {};
      return fstat(sink.fd_, &st) == 0 ? static_cast<int64_t>(st.st_size) : AVERROR(errno);
    }
    const off_t at = lseek(sink.fd_, static_cast<off_t>(offset), whence & ~AVSEEK_FORCE);
    if (at < 0) return AVERROR(errno);
    sink.position_ = at;
    // Writing back into the file (the header at the end) starts a new range.
    if (sink.position_ < sink.started_) sink.started_ = sink.position_;
    return at;
  }

  int fd_ = -1;
  int64_t position_ = 0;
  int64_t started_ = 0;  // where the range not yet handed to the disk begins
};
struct CodecContextDeleter {
  void operator()(AVCodecContext* ctx) const { avcodec_free_context(&ctx); }
};
struct FrameDeleter {
  void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct PacketDeleter {
  void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct SwsDeleter {
  void operator()(SwsContext* s) const { sws_freeContext(s); }
};
struct TjDeleter {
  void operator()(void* handle) const { tjDestroy(handle); }
};
struct TjBufferDeleter {
  void operator()(unsigned char* buffer) const { tjFree(buffer); }
};
struct DictionaryOwner {
  AVDictionary* dict = nullptr;
  ~DictionaryOwner() { av_dict_free(&dict); }
};

std::string AvError(int code) {
  char buffer[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(code, buffer, sizeof buffer);
  return buffer;
}

std::string Trim(std::string_view s) {
  const char* blanks = " \t\r\n";
  const size_t first = s.find_first_not_of(blanks);
  if (first == std::string_view::npos) return {};
  const size_t last = s.find_last_not_of(blanks);
  return std::string(s.substr(first, last - first + 1));
}

// The parameter block: "key=value" lines, ending at the first NUL.
std::vector<std::pair<std::string, std::string>> ParseParms(std::span<const uint8_t> block) {
  std::string_view text(reinterpret_cast<const char*>(block.data()), block.size());
  text = text.substr(0, text.find('\0'));
  std::vector<std::pair<std::string, std::string>> pairs;
  while (!text.empty()) {
    const size_t end = text.find('\n');
    const std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
    const size_t eq = line.find('=');
    if (eq == std::string_view::npos) continue;
    std::string key = Trim(line.substr(0, eq));
    if (!key.empty()) pairs.emplace_back(std::move(key), Trim(line.substr(eq + 1)));
  }
  return pairs;
}

// Lossy encoders get their own first choice (what players expect); lossless ones the
// format that keeps the most of 24-bit BGR.
AVPixelFormat ChoosePixelFormat(const AVCodec* codec, int width, int height) {
  if (!codec->pix_fmts) return AV_PIX_FMT_BGR24;
  std::vector<AVPixelFormat> usable;
  for (const AVPixelFormat* f = codec->pix_fmts; *f != AV_PIX_FMT_NONE; ++f)
    if (sws_isSupportedOutput(*f)) usable.push_back(*f);
  if (usable.empty()) return AV_PIX_FMT_NONE;
  usable.push_back(AV_PIX_FMT_NONE);
  const AVPixelFormat best =
      avcodec_find_best_pix_fmt_of_list(usable.data(), AV_PIX_FMT_BGR24, 0, nullptr);
  const AVCodecDescriptor* desc = avcodec_descriptor_get(codec->id);
  const bool lossless_only = desc && (desc->props & AV_CODEC_PROP_LOSSLESS) &&
                             !(desc->props & AV_CODEC_PROP_LOSSY);
  if (lossless_only) return best;
  const AVPixFmtDescriptor* first = av_pix_fmt_desc_get(usable.front());
  // Subsampled chroma needs even sizes in several encoders (libx264 refuses odd ones).
  const bool odd = (width % 2 != 0 && first->log2_chroma_w > 0) ||
                   (height % 2 != 0 && first->log2_chroma_h > 0);
  return odd ? best : usable.front();
}

// MJPEG at a plain quality goes through TurboJPEG; a data rate or encoder options need
// libavcodec's encoder, which knows them.
bool CompressesWithTurboJpeg(const AVCodec* codec, const AviCompressOptions& record,
                             const std::vector<std::pair<std::string, std::string>>& parms) {
  const bool rate_set = (record.dwFlags & kAviCompressDataRate) && record.dwBytesPerSecond > 0;
  const bool options_set =
      std::any_of(parms.begin(), parms.end(), [](const auto& kv) { return kv.first != "encoder"; });
  return codec->id == AV_CODEC_ID_MJPEG && !rate_set && !options_set &&
         QscaleForQuality(record.dwQuality) > 0;
}

// Full-range (JPEG) luma and chroma to video range, rounded: 0-255 to 16-235 and 16-240.
// In 16-bit arithmetic, so that the compiler can do sixteen at a time (x / 255 is
// (x + 1 + (x >> 8)) >> 8 below 65535).
void ToVideoRange(const uint8_t* __restrict in, uint8_t* __restrict out, int count, bool luma) {
  const uint16_t scale = luma ? 219 : 224, offset = luma ? 4207 : 4095;
  auto one = [=](uint8_t v) {
    const auto x = static_cast<uint16_t>(v * scale + offset);
    return static_cast<uint8_t>(static_cast<uint16_t>(x + 1 + (x >> 8)) >> 8);
  };
  int i = 0;
  for (; i + 16 <= count; i += 16) {
    for (int j = 0; j < 16; ++j) out[i + j] = one(in[i + j]);  // a fixed count: vectorised
  }
  for (; i < count; ++i) out[i] = one(in[i]);
}

std::string SystemReason(int err) { return std::strerror(err); }

// umask can only be read by setting it; the run is the only thread that creates files.
mode_t NewFileMode() {
  const mode_t mask = umask(0);
  umask(mask);
  return 0666 & ~mask;
}

// A file is read-only for us when we may not write it, or when no one may (the owner's
// read-only mark, which even the superuser's runs respect here).
bool IsReadOnly(const fs::path& path, const struct stat& st) {
  return access(path.c_str(), W_OK) != 0 || (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
}

// A run that was killed leaves its temporary movie behind. Each writer holds an flock on
// its own temporary file, so one that can be locked belongs to no living run and goes:
// at once when this run holds the output's lock (no other run of this output can then be
// between creating its file and locking it), else only once it is not brand new.
void RemoveStaleTemporaries(const fs::path& folder, const std::string& stem,
                             const std::string& tail, bool output_locked) {
  const std::string head = "." + stem + ".chronoreel-";
  const time_t now = time(nullptr);
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.size() != head.size() + 6 + tail.size() || name.compare(0, head.size(), head) != 0 ||
        name.compare(name.size() - tail.size(), tail.size(), tail) != 0)
      continue;
    struct stat st {};
    if (lstat(it->path().c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    if (!output_locked && now - st.st_mtime < 60) continue;
    const int fd = open(it->path().c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) continue;
    if (flock(fd, LOCK_EX | LOCK_NB) == 0) unlink(it->path().c_str());
    close(fd);
  }
}

// The temporary file's ending: the output's own for the newer containers (a file left by a
// killed run still says what it holds), ".avi" as always otherwise.
std::string TemporarySuffix(const std::string& output_path, const std::string& muxer) {
  if (IsAviContainer(muxer)) return ".avi";
  std::string ext = fs::path(output_path).extension().string();
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return ext;
}

bool IsMp4Family(const std::string& muxer) { return muxer == "mp4" || muxer == "mov"; }

// The encoder a compression record asks for: "rawvideo" for uncompressed frames, "" when
// the linked FFmpeg has none for its code.
std::string EncoderNameFor(const CompressionChoice& choice,
                           const std::vector<std::pair<std::string, std::string>>& parms) {
  if (IsUncompressedFourcc(choice.record.fccHandler)) return "rawvideo";
  std::string preferred;
  for (const auto& [key, value] : parms)
    if (key == "encoder") preferred = value;
  return EncoderNameForFourcc(choice.record.fccHandler, preferred);
}

}  // namespace

struct AviWriter::Impl {
  std::string output_path;
  std::string target_path;  // the file the movie replaces: output_path with its links followed
  bool output_locked = false;
  std::string muxer = "avi";  // FFmpeg's name of the container
  std::string temp_path;
  int temp_lock = -1;  // open on the temporary file with an flock: a living run's file
  std::string error;
  bool opened = false;
  bool finished = false;
  bool finish_result = false;
  bool stream_failed = false;
  bool raw = false;
  int jpeg_quality = 0;  // > 0: frames are compressed by TurboJPEG at this quality
  int width = 0;
  int height = 0;
  int coded_height = 0;  // the encoder's height: height, or one more to make it even
  int raw_stride = 0;
  int32_t frames_written = 0;
  AVRational codec_time_base{1, 1};

  FileSink sink;
  std::unique_ptr<AVIOContext, IoContextDeleter> io;  // released after `format`
  std::unique_ptr<AVFormatContext, FormatContextDeleter> format;
  std::unique_ptr<AVCodecContext, CodecContextDeleter> encoder;
  std::unique_ptr<AVFrame, FrameDeleter> picture;
  std::unique_ptr<AVPacket, PacketDeleter> packet;
  std::unique_ptr<SwsContext, SwsDeleter> scaler;
  std::unique_ptr<void, TjDeleter> jpeg;
  std::unique_ptr<unsigned char, TjBufferDeleter> jpeg_buffer;  // one frame's worst case
  unsigned long jpeg_capacity = 0;
  std::vector<uint8_t> raw_rows;  // only for a frame whose rows are padded differently
  AVStream* stream = nullptr;

  bool Fail(std::string message) {
    error = std::move(message);
    return false;
  }

  void ReleaseAll() noexcept {
    jpeg_buffer.reset();
    jpeg.reset();
    scaler.reset();
    picture.reset();
    packet.reset();
    encoder.reset();
    format.reset();
    io.reset();
    stream = nullptr;
  }

  void RemoveTemporary() noexcept {
    if (!temp_path.empty()) {
      std::error_code ec;
      fs::remove(temp_path, ec);
      temp_path.clear();
    }
    ReleaseTempLock();
  }

  void ReleaseTempLock() noexcept {
    if (temp_lock >= 0) close(temp_lock);
    temp_lock = -1;
  }

  Impl() = default;
  Impl(const Impl&) = delete;
  Impl& operator=(const Impl&) = delete;
  ~Impl() { ReleaseTempLock(); }

  bool CreateStream(int frame_width, int frame_height, int32_t fps, const CompressionChoice& choice);
  bool EnsureStream(int frame_width, int frame_height, int32_t fps, const CompressionChoice& choice);
  bool SendPicture();
  bool CreateJpegStream(int32_t handler);
  bool WritePacket(AVPacket* pkt);
  bool WriteBorrowed(const uint8_t* data, int size);
  bool WriteRaw(const FrameView& frame);
  bool WriteJpeg(const FrameView& frame);
  bool Drain();
  bool WriteStreamlessAvi();
};

bool AviWriter::Impl::CreateStream(int frame_width, int frame_height, int32_t fps,
                                   const CompressionChoice& choice) {
  const std::string prefix = "cannot create the video stream: ";
  if (fps <= 0) return Fail(prefix + "frame rate " + std::to_string(fps));
  width = frame_width;
  height = frame_height;
  coded_height = height;
  codec_time_base = AVRational{1, fps};
  const int32_t handler = choice.record.fccHandler;
  const bool avi = IsAviContainer(muxer);

  stream = avformat_new_stream(format.get(), nullptr);
  if (!stream) return Fail(prefix + "out of memory");
  stream->time_base = codec_time_base;
  stream->avg_frame_rate = stream->r_frame_rate = AVRational{fps, 1};
  packet.reset(av_packet_alloc());
  if (!packet) return Fail(prefix + "out of memory");

  DictionaryOwner muxer_options;
  if (IsMp4Family(muxer)) av_dict_set(&muxer_options.dict, "movflags", "+faststart", 0);
  if (avi && IsUncompressedFourcc(handler)) {
    // The DIB rows go into the file as they are: bottom-up, padded to 4 bytes.
    raw = true;
    raw_stride = (width * 3 + 3) & ~3;
    AVCodecParameters* par = stream->codecpar;
    par->codec_type = AVMEDIA_TYPE_VIDEO;
    par->codec_id = AV_CODEC_ID_RAWVIDEO;
    par->codec_tag = 0;
    par->format = AV_PIX_FMT_BGR24;
    par->width = width;
    par->height = height;
    par->bits_per_coded_sample = 24;
    av_dict_set(&muxer_options.dict, "flipped_raw_rgb", "1", 0);
  } else {
    const auto parms = ParseParms(choice.parms);
    const std::string name = EncoderNameFor(choice, parms);
    if (name.empty())
      return Fail(prefix + "no encoder for FOURCC '" + FourccToText(handler) + "'");
    const AVCodec* codec = avcodec_find_encoder_by_name(name.c_str());
    if (!codec) return Fail(prefix + "no encoder " + name);
    if (CompressesWithTurboJpeg(codec, choice.record, parms)) {
      jpeg_quality = JpegQualityForQscale(QscaleForQuality(choice.record.dwQuality));
      if (!CreateJpegStream(handler)) return false;
      if (const int rc = avformat_write_header(format.get(), &muxer_options.dict); rc < 0)
        return Fail(prefix + AvError(rc));
      return true;
    }
    AVPixelFormat pix_fmt = ChoosePixelFormat(codec, width, height);
    if (IsMp4Family(muxer) && codec->id == AV_CODEC_ID_H264 && codec->pix_fmts && width % 2 == 0) {
      // What every player and browser decodes; 4:2:0 needs an even height (movie widths
      // are multiples of 4 already).
      for (const AVPixelFormat* f = codec->pix_fmts; *f != AV_PIX_FMT_NONE; ++f) {
        if (*f == AV_PIX_FMT_YUV420P) {
          pix_fmt = AV_PIX_FMT_YUV420P;
          coded_height = height + (height % 2);
        }
      }
    }
    if (pix_fmt == AV_PIX_FMT_NONE) return Fail(prefix + name + " takes no convertible format");

    encoder.reset(avcodec_alloc_context3(codec));
    if (!encoder) return Fail(prefix + "out of memory");
    AVCodecContext* ctx = encoder.get();
    ctx->width = width;
    ctx->height = coded_height;
    ctx->pix_fmt = pix_fmt;
    ctx->time_base = codec_time_base;
    ctx->framerate = AVRational{fps, 1};
    ctx->sample_aspect_ratio = AVRational{1, 1};
    ctx->thread_count = 0;
    if (format->oformat->flags & AVFMT_GLOBALHEADER) ctx->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;

    // A data rate is a target the encoder must meet; a fixed quality would override it, so
    // the quality applies only without one.
    const AviCompressOptions& rec = choice.record;
    if ((rec.dwFlags & kAviCompressDataRate) && rec.dwBytesPerSecond > 0) {
      // A one-second buffer makes the rate a ceiling, not just an average over the movie.
      ctx->bit_rate = static_cast<int64_t>(rec.dwBytesPerSecond) * 8;
      ctx->rc_max_rate = ctx->bit_rate;
      ctx->rc_buffer_size = static_cast<int>(std::min<int64_t>(ctx->bit_rate, INT32_MAX));
    } else {
      switch (QualityScaleOf(name)) {
        case QualityScale::QScale:
          if (const int32_t q = QscaleForQuality(rec.dwQuality); q > 0) {
            ctx->flags |= AV_CODEC_FLAG_QSCALE;
            ctx->global_quality = q * FF_QP2LAMBDA;
          }
          break;
        case QualityScale::Crf:
          if (const int32_t crf = CrfForQuality(rec.dwQuality); crf >= 0)
            av_opt_set_double(ctx->priv_data, "crf", crf, 0);
          break;
        case QualityScale::None:
          break;
      }
    }
    // Encoder options: unknown keys and values an encoder refuses are passed over, as a
    // setting never stops a run.
    for (const auto& [key, value] : parms) {
      if (key == "encoder") continue;
      av_opt_set(ctx, key.c_str(), value.c_str(), AV_OPT_SEARCH_CHILDREN);
    }
    // Every frame is a key frame, whatever the options asked for.
    ctx->gop_size = 1;
    ctx->max_b_frames = 0;
    if (codec->priv_class) {
      const AVClass* cls = codec->priv_class;
      if (av_opt_find(&cls, "x264-params", nullptr, 0, AV_OPT_SEARCH_FAKE_OBJ)) {
        const char* extra = "keyint=1:min-keyint=1:scenecut=0:bframes=0";
        uint8_t* existing = nullptr;
        std::string merged = extra;
        if (av_opt_get(ctx->priv_data, "x264-params", 0, &existing) >= 0 && existing) {
          if (*existing) merged = std::string(reinterpret_cast<char*>(existing)) + ":" + extra;
          av_free(existing);
        }
        av_opt_set(ctx->priv_data, "x264-params", merged.c_str(), 0);
      }
    }

    if (const int rc = avcodec_open2(ctx, codec, nullptr); rc < 0)
      return Fail(prefix + "cannot open encoder " + name + ": " + AvError(rc));
    if (const int rc = avcodec_parameters_from_context(stream->codecpar, ctx); rc < 0)
      return Fail(prefix + AvError(rc));
    // Keep the user's own code (XVID, DIVX, ...) when it names the same codec.
    const AVCodecTag* const tags[] = {avformat_get_riff_video_tags(), nullptr};
    if (avi && av_codec_get_id(tags, static_cast<unsigned>(handler)) == codec->id)
      stream->codecpar->codec_tag = static_cast<unsigned>(handler);

    picture.reset(av_frame_alloc());
    if (!picture) return Fail(prefix + "out of memory");
    picture->format = pix_fmt;
    picture->width = width;
    picture->height = coded_height;
    if (const int rc = av_frame_get_buffer(picture.get(), 0); rc < 0)
      return Fail(prefix + AvError(rc));
    scaler.reset(sws_getContext(width, height, AV_PIX_FMT_BGR24, width, height, pix_fmt,
                                SWS_BICUBIC | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT, nullptr,
                                nullptr, nullptr));
    if (!scaler) return Fail(prefix + "cannot convert to " + av_get_pix_fmt_name(pix_fmt));
  }

  if (const int rc = avformat_write_header(format.get(), &muxer_options.dict); rc < 0)
    return Fail(prefix + AvError(rc));
  return true;
}

bool AviWriter::Impl::CreateJpegStream(int32_t handler) {
  const std::string prefix = "cannot create the video stream: ";
  jpeg.reset(tjInitCompress());
  if (!jpeg) return Fail(prefix + "cannot make the JPEG compressor");
  // The worst case of a frame, so that TurboJPEG never has to grow the buffer.
  jpeg_capacity = tjBufSize(width, height, TJSAMP_420);
  if (jpeg_capacity == static_cast<unsigned long>(-1)) return Fail(prefix + "frame too large");
  jpeg_buffer.reset(tjAlloc(static_cast<int>(std::min<unsigned long>(jpeg_capacity, INT32_MAX))));
  if (!jpeg_buffer || jpeg_capacity > INT32_MAX) return Fail(prefix + "out of memory");
  AVCodecParameters* par = stream->codecpar;
  par->codec_type = AVMEDIA_TYPE_VIDEO;
  par->codec_id = AV_CODEC_ID_MJPEG;
  par->format = AV_PIX_FMT_YUVJ420P;
  par->width = width;
  par->height = height;
  par->bits_per_coded_sample = 24;
  par->sample_aspect_ratio = AVRational{1, 1};
  if (!IsAviContainer(muxer)) {
    par->codec_tag = 0;  // the container's own tag for MJPEG
    return true;
  }
  const AVCodecTag* const tags[] = {avformat_get_riff_video_tags(), nullptr};
  unsigned int tag = 0;
  if (av_codec_get_id(tags, static_cast<unsigned>(handler)) == AV_CODEC_ID_MJPEG) {
    tag = static_cast<unsigned>(handler);  // the user's own code for it
  } else if (!av_codec_get_tag2(tags, AV_CODEC_ID_MJPEG, &tag)) {
    tag = 0;
  }
  par->codec_tag = tag;
  return true;
}

// A packet of bytes that stay ours: written at once, never copied or kept by the muxer.
bool AviWriter::Impl::WriteBorrowed(const uint8_t* data, int size) {
  AVPacket* pkt = packet.get();
  pkt->buf = nullptr;
  pkt->data = const_cast<uint8_t*>(data);
  pkt->size = size;
  pkt->pts = pkt->dts = frames_written;
  pkt->duration = 1;
  pkt->flags = AV_PKT_FLAG_KEY;
  pkt->stream_index = stream->index;
  av_packet_rescale_ts(pkt, codec_time_base, stream->time_base);
  const int rc = av_write_frame(format.get(), pkt);
  av_packet_unref(pkt);
  if (rc < 0) return Fail("cannot write to output " + output_path + ": " + AvError(rc));
  return true;
}

bool AviWriter::Impl::WriteRaw(const FrameView& frame) {
  const int64_t size = int64_t{raw_stride} * height;
  if (size > INT32_MAX) return Fail("cannot write frame: frame too large");
  if (frame.stride == raw_stride) return WriteBorrowed(frame.pixels, static_cast<int>(size));
  raw_rows.resize(static_cast<size_t>(size));
  for (int row = 0; row < height; ++row) {
    uint8_t* out = raw_rows.data() + static_cast<ptrdiff_t>(row) * raw_stride;
    std::memcpy(out, frame.pixels + static_cast<ptrdiff_t>(row) * frame.stride,
                static_cast<size_t>(width) * 3);
    std::memset(out + width * 3, 0, static_cast<size_t>(raw_stride - width * 3));
  }
  return WriteBorrowed(raw_rows.data(), static_cast<int>(size));
}

bool AviWriter::Impl::WriteJpeg(const FrameView& frame) {
  unsigned char* out = jpeg_buffer.get();
  unsigned long size = jpeg_capacity;
  if (tjCompress2(jpeg.get(), frame.pixels, width, frame.stride, height, TJPF_BGR, &out, &size,
                  TJSAMP_420, jpeg_quality, TJFLAG_BOTTOMUP | TJFLAG_NOREALLOC) != 0) {
    return Fail(std::string("cannot encode frame: ") + tjGetErrorStr2(jpeg.get()));
  }
  return WriteBorrowed(out, static_cast<int>(size));
}

bool AviWriter::Impl::WritePacket(AVPacket* pkt) {
  pkt->stream_index = stream->index;
  av_packet_rescale_ts(pkt, codec_time_base, stream->time_base);
  const int rc = av_interleaved_write_frame(format.get(), pkt);
  av_packet_unref(pkt);
  if (rc < 0) return Fail("cannot write to output " + output_path + ": " + AvError(rc));
  return true;
}

// Moves every packet the encoder has ready into the file.
bool AviWriter::Impl::Drain() {
  for (;;) {
    const int rc = avcodec_receive_packet(encoder.get(), packet.get());
    if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return true;
    if (rc < 0) return Fail("cannot encode frame: " + AvError(rc));
    if (!WritePacket(packet.get())) return false;
  }
}

// libavformat will not write a file without streams; this is the smallest AVI there is:
// a main header that counts no streams, an empty movie list and an empty index.
bool AviWriter::Impl::WriteStreamlessAvi() {
  AVIOContext* pb = format->pb;
  auto tag = [pb](const char* t) { avio_write(pb, reinterpret_cast<const unsigned char*>(t), 4); };
  tag("RIFF");
  avio_wl32(pb, 100);
  tag("AVI ");
  tag("LIST");
  avio_wl32(pb, 68);
  tag("hdrl");
  tag("avih");
  avio_wl32(pb, 56);
  avio_wl32(pb, 0);     // microseconds per frame
  avio_wl32(pb, 0);     // max bytes per second
  avio_wl32(pb, 0);     // padding granularity
  avio_wl32(pb, 0x10);  // AVIF_HASINDEX
  for (int i = 0; i < 10; ++i) avio_wl32(pb, 0);  // frames, initial, streams, buffer, size, reserved
  tag("LIST");
  avio_wl32(pb, 4);
  tag("movi");
  tag("idx1");
  avio_wl32(pb, 0);
  avio_flush(pb);
  return pb->error >= 0 || Fail("cannot write to output " + output_path + ": " + AvError(pb->error));
}

AviWriter::AviWriter() : impl_(std::make_unique<Impl>()) {}

void AviWriter::SetOutputLocked(bool locked) { impl_->output_locked = locked; }

AviWriter::~AviWriter() {
  if (impl_->opened && !impl_->finished) {
    impl_->ReleaseAll();
    impl_->RemoveTemporary();
  }
}

bool AviWriter::Open(const std::string& output_path, const CompressionChoice* compression) {
  Impl& d = *impl_;
  if (d.opened) return d.Fail("cannot open output " + output_path + ": already open");
  d.output_path = output_path;
  d.muxer = ContainerForPath(output_path);
  const std::string prefix = "cannot open output " + output_path + ": ";
  if (compression && !IsAviContainer(d.muxer)) {
    // Known before anything is written; AVI takes whatever it always took.
    const std::string encoder = EncoderNameFor(*compression, ParseParms(compression->parms));
    if (!encoder.empty() && !EncoderFitsContainer(encoder, d.muxer))
      return d.Fail(prefix + "the " + d.muxer + " container cannot hold " + encoder);
  }
  if (fs::path(output_path).filename().empty()) return d.Fail(prefix + SystemReason(EISDIR));
  // An output that is a link stays one: the movie replaces the file it leads to.
  std::error_code target_ec;
  const fs::path output = OutputTarget(output_path, target_ec);
  if (target_ec) return d.Fail(prefix + target_ec.message());
  const fs::path folder = output.parent_path();
  if (output.filename().empty()) return d.Fail(prefix + SystemReason(EISDIR));
  d.target_path = output.string();

  mode_t mode = NewFileMode();
  struct stat st {};
  if (stat(output.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) return d.Fail(prefix + SystemReason(EISDIR));
    if (IsReadOnly(output, st)) return d.Fail(prefix + SystemReason(EACCES));
    mode = st.st_mode & 07777;
    // The movie about to be replaced only crowds the page cache: on a virtual machine, new
    // pages from a cold pool cost several times more to fill than the ones this frees. Only
    // clean pages go; the file on disk stays whole until the rename.
    if (S_ISREG(st.st_mode)) {
      if (const int old = open(output.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK); old >= 0) {
        posix_fadvise(old, 0, 0, POSIX_FADV_DONTNEED);
        close(old);
      }
    }
  }

  // The temporary name is hidden and unique, so two runs into one folder never collide.
  // Cut long names so the temporary one still fits the file system's name limit (a cut
  // name may be another output's, whose lock this run does not hold).
  const std::string name = output.filename().string();
  const std::string stem = name.substr(0, 200);
  const std::string suffix = TemporarySuffix(output_path, d.muxer);
  RemoveStaleTemporaries(folder, stem, suffix, d.output_locked && stem == name);
  std::string pattern = (folder / ("." + stem + ".chronoreel-XXXXXX" + suffix)).string();
  const int fd = mkostemps(pattern.data(), static_cast<int>(suffix.size()), O_CLOEXEC);
  if (fd < 0) return d.Fail(prefix + SystemReason(errno));
  d.temp_path = pattern;
  d.opened = true;  // from here on the temporary file is ours to remove
  // Locked while still private (mkstemp's 0600), so no other user's run can ever take it
  // for a dead one; then the permissions the output had, or a new file's.
  flock(fd, LOCK_EX | LOCK_NB);  // a new file: nobody else holds it
  fchmod(fd, mode);
  d.temp_lock = fd;

  AVFormatContext* raw_ctx = nullptr;
  if (const int rc = avformat_alloc_output_context2(&raw_ctx, nullptr, d.muxer.c_str(), d.temp_path.c_str());
      rc < 0 || !raw_ctx) {
    d.RemoveTemporary();
    return d.Fail(prefix + AvError(rc));
  }
  d.format.reset(raw_ctx);
  if (!d.sink.Open(d.temp_path)) {
    const int err = errno;
    d.ReleaseAll();
    d.RemoveTemporary();
    return d.Fail(prefix + SystemReason(err));
  }
  d.io.reset(d.sink.MakeContext());
  if (!d.io) {
    d.ReleaseAll();
    d.sink.Close();
    d.RemoveTemporary();
    return d.Fail(prefix + "out of memory");
  }
  d.format->pb = d.io.get();
  d.format->flags |= AVFMT_FLAG_CUSTOM_IO;
  return true;
}

bool AviWriter::Impl::EnsureStream(int frame_width, int frame_height, int32_t fps,
                                   const CompressionChoice& choice) {
  if (!opened || finished || !format) return Fail("cannot write frame: no open output");
  if (stream_failed) return false;
  if (!stream) {
    if (!CreateStream(frame_width, frame_height, fps, choice)) {
      stream_failed = true;
      return false;
    }
  } else if (frame_width != width || frame_height != height) {
    return Fail("cannot write frame: size changed");
  }
  return true;
}

// The picture is filled in; the encoder takes it as a key frame.
bool AviWriter::Impl::SendPicture() {
  if (coded_height > height) {
    // The padding row repeats the last one (4:2:0: the chroma rows already cover it).
    uint8_t* luma = picture->data[0];
    const ptrdiff_t pitch = picture->linesize[0];
    std::memcpy(luma + pitch * height, luma + pitch * (height - 1), static_cast<size_t>(width));
  }
  picture->pts = frames_written;
  // The mpegvideo encoders take a fixed quantiser from each frame, not from the context.
  if (encoder->flags & AV_CODEC_FLAG_QSCALE) picture->quality = encoder->global_quality;
  picture->pict_type = AV_PICTURE_TYPE_I;
  picture->key_frame = 1;
  if (const int rc = avcodec_send_frame(encoder.get(), picture.get()); rc < 0)
    return Fail("cannot encode frame: " + AvError(rc));
  return Drain();
}

bool AviWriter::WriteFrame(const FrameView& frame, int32_t fps,
                           const CompressionChoice& compression) {
  Impl& d = *impl_;
  if (!d.opened || d.finished || !d.format) return d.Fail("cannot write frame: no open output");
  if (d.stream_failed) return false;
  if (!frame.pixels || frame.width <= 0 || frame.height <= 0 || frame.stride < frame.width * 3)
    return d.Fail("cannot write frame: no picture");
  if (!d.EnsureStream(frame.width, frame.height, fps, compression)) return false;

  if (d.raw) {
    if (!d.WriteRaw(frame)) return false;
  } else if (d.jpeg) {
    if (!d.WriteJpeg(frame)) return false;
  } else {
    if (const int rc = av_frame_make_writable(d.picture.get()); rc < 0)
      return d.Fail("cannot write frame: " + AvError(rc));
    // Read the bottom-up rows from the last one up: the picture arrives top first.
    const uint8_t* src[4] = {frame.pixels + static_cast<ptrdiff_t>(frame.height - 1) * frame.stride,
                             nullptr, nullptr, nullptr};
    const int src_stride[4] = {-frame.stride, 0, 0, 0};
    sws_scale(d.scaler.get(), src, src_stride, 0, frame.height, d.picture->data,
              d.picture->linesize);
    if (!d.SendPicture()) return false;
  }
  ++d.frames_written;
  return true;
}

bool AviWriter::Prepare(int32_t width, int32_t height, int32_t fps,
                        const CompressionChoice& compression) {
  if (width <= 0 || height <= 0) return impl_->Fail("cannot write frame: no picture");
  return impl_->EnsureStream(width, height, fps, compression);
}

bool AviWriter::TakesPlanes() const {
  const Impl& d = *impl_;
  if (!d.stream || d.stream_failed || d.raw) return false;
  if (d.jpeg) return true;
  return d.encoder && d.picture && d.encoder->pix_fmt == AV_PIX_FMT_YUV420P &&
         d.coded_height == d.height;
}

bool AviWriter::WritePlanes(const FramePlanes& planes) {
  Impl& d = *impl_;
  if (!d.opened || d.finished || !d.format) return d.Fail("cannot write frame: no open output");
  if (d.stream_failed) return false;
  if (!TakesPlanes()) return d.Fail("cannot write frame: the stream takes no planes");
  if (planes.width != d.width || planes.height != d.height)
    return d.Fail("cannot write frame: size changed");
  const uint8_t* planes_in[3] = {planes.Plane(0), planes.Plane(1), planes.Plane(2)};

  if (d.jpeg) {
    unsigned char* out = d.jpeg_buffer.get();
    unsigned long size = d.jpeg_capacity;
    if (tjCompressFromYUVPlanes(d.jpeg.get(), planes_in, d.width, planes.strides, d.height,
                                TJSAMP_420, &out, &size, d.jpeg_quality, TJFLAG_NOREALLOC) != 0) {
      return d.Fail(std::string("cannot encode frame: ") + tjGetErrorStr2(d.jpeg.get()));
    }
    if (!d.WriteBorrowed(out, static_cast<int>(size))) return false;
  } else {
    if (const int rc = av_frame_make_writable(d.picture.get()); rc < 0)
      return d.Fail("cannot write frame: " + AvError(rc));
    // The planes span the full 0-255 range (JPEG's); the encoders expect video range.
    for (int i = 0; i < 3; ++i) {
      const int columns = i == 0 ? d.width : (d.width + 1) / 2;
      for (int row = 0; row < planes.Rows(i); ++row) {
        ToVideoRange(planes_in[i] + static_cast<ptrdiff_t>(row) * planes.strides[i],
                     d.picture->data[i] + static_cast<ptrdiff_t>(row) * d.picture->linesize[i],
                     columns, i == 0);
      }
    }
    if (!d.SendPicture()) return false;
  }
  ++d.frames_written;
  return true;
}

bool AviWriter::MayTakePlanes(const CompressionChoice& compression) {
  if (IsUncompressedFourcc(compression.record.fccHandler)) return false;
  const auto parms = ParseParms(compression.parms);
  const std::string name = EncoderNameFor(compression, parms);
  const AVCodec* codec = name.empty() ? nullptr : avcodec_find_encoder_by_name(name.c_str());
  if (codec == nullptr) return false;
  // The same choices CreateStream makes; a guess that is wrong costs a conversion per frame.
  if (CompressesWithTurboJpeg(codec, compression.record, parms)) return true;
  return ChoosePixelFormat(codec, 16, 16) == AV_PIX_FMT_YUV420P;
}

bool AviWriter::Finish() {
  Impl& d = *impl_;
  if (d.finished) return d.finish_result;
  if (!d.opened) return d.Fail("cannot finish output: not open");
  d.finished = true;

  bool ok = true;
  if (d.stream_failed || !d.format) {
    ok = false;  // nothing worth keeping: the earlier movie stays
  } else if (!d.stream) {
    ok = IsAviContainer(d.muxer) ? d.WriteStreamlessAvi()
                                 : d.Fail("cannot finish output " + d.output_path + ": no frame");
  } else {
    if (d.encoder) {
      avcodec_send_frame(d.encoder.get(), nullptr);
      ok = d.Drain();
    }
    if (const int rc = av_write_trailer(d.format.get()); rc < 0 && ok)
      ok = d.Fail("cannot finish output " + d.output_path + ": " + AvError(rc));
  }
  if (d.io) {
    avio_flush(d.io.get());
    if (d.io->error < 0 && ok)
      ok = d.Fail("cannot finish output " + d.output_path + ": " + AvError(d.io->error));
  }
  d.ReleaseAll();

  // On disk before it takes the output's name, so a crash leaves one movie or the other.
  if (ok && !d.sink.Sync()) {
    const int err = errno;
    ok = d.Fail("cannot finish output " + d.output_path + ": " + SystemReason(err));
  }
  if (!d.sink.Close() && ok) {
    const int err = errno;
    ok = d.Fail("cannot finish output " + d.output_path + ": " + SystemReason(err));
  }
  if (ok) {
    std::error_code ec;
    fs::rename(d.temp_path, d.target_path, ec);
    if (ec) {
      ok = d.Fail("cannot replace output " + d.output_path + ": " + ec.message());
    } else {
      d.temp_path.clear();
      d.ReleaseTempLock();
    }
  }
  if (!ok) d.RemoveTemporary();
  d.finish_result = ok;
  return ok;
}

int32_t AviWriter::FramesWritten() const { return impl_->frames_written; }

const std::string& AviWriter::Error() const { return impl_->error; }

}  // namespace chronoreel
