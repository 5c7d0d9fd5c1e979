#include "engine/movie_writer.h"

// The stream follows the encoder plan; here is how it goes into the file:
//  - uncompressed frames in AVI: rawvideo BGR24 rows, bottom-up and padded as the DIB has
//    them (positive biHeight); in the other containers through the rawvideo encoder.
//  - MP4, MOV, Matroska and WebM: the same encoders where the container holds them, else
//    the container's default (the plan's note), with the codec's own tag; in AVI the user's
//    own code when it names the same codec. In MP4 and MOV the index goes first
//    (+faststart) so the movie plays while it loads.
//  - TurboJPEG's packets go to the muxer as they are, without a copy.
//  - a hardware encoder gets its device from HardwareFrames, which copies each picture
//    onto the device where the encoder wants it there (VAAPI).

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <utility>
#include <vector>

#include "engine/container.h"
#include "engine/hardware_frames.h"
#include "engine/jpeg_frames.h"
#include "engine/media_owners.h"
#include "engine/output_replacement.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

namespace chronoreel {

namespace {

struct FormatContextDeleter {
  void operator()(AVFormatContext* ctx) const {
    // A context of our own (the replacement's file) is released by its owner.
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
struct CodecContextDeleter {
  void operator()(AVCodecContext* ctx) const { avcodec_free_context(&ctx); }
};
struct FrameDeleter {
  void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct PacketDeleter {
  void operator()(AVPacket* p) const { av_packet_free(&p); }
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

// libavformat writes the movie through the replacement's temporary file.
#if LIBAVFORMAT_VERSION_MAJOR >= 61
int WriteToFile(void* opaque, const uint8_t* data, int size) {
#else
int WriteToFile(void* opaque, uint8_t* data, int size) {
#endif
  return static_cast<OutputReplacement*>(opaque)->Write(data, size) ? size : AVERROR(errno);
}

int64_t SeekInFile(void* opaque, int64_t offset, int whence) {
  auto& file = *static_cast<OutputReplacement*>(opaque);
  const int64_t at = whence == AVSEEK_SIZE ? file.Size() : file.Seek(offset, whence & ~AVSEEK_FORCE);
  return at < 0 ? AVERROR(errno) : at;
}

AVIOContext* MakeIoContext(OutputReplacement& file) {
  constexpr int kBufferBytes = 256 * 1024;
  auto* buffer = static_cast<unsigned char*>(av_malloc(kBufferBytes));
  if (buffer == nullptr) return nullptr;
  AVIOContext* io =
      avio_alloc_context(buffer, kBufferBytes, 1, &file, nullptr, &WriteToFile, &SeekInFile);
  if (io == nullptr) av_free(buffer);
  return io;
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

// The temporary file's ending: the output's own for the newer containers (a file left by a
// killed run still says what it holds), ".avi" as always otherwise.
std::string TemporarySuffix(const std::string& output_path, const std::string& muxer) {
  if (IsAviContainer(muxer)) return ".avi";
  std::string ext = std::filesystem::path(output_path).extension().string();
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return ext;
}

// The user's own code (XVID, DIVX, ...) when it names the codec in AVI; 0 otherwise.
unsigned UsersCode(int32_t handler, AVCodecID id) {
  const AVCodecTag* const tags[] = {avformat_get_riff_video_tags(), nullptr};
  return av_codec_get_id(tags, static_cast<unsigned>(handler)) == id ? static_cast<unsigned>(handler) : 0;
}

}  // namespace

struct MovieWriter::Impl {
  std::string output_path;
  bool output_locked = false;
  std::string muxer = "avi";  // FFmpeg's name of the container
  std::string error;
  bool opened = false;
  bool finished = false;
  bool finish_result = false;
  bool stream_failed = false;
  EncoderPlan plan;  // the stream's, once it exists
  int width = 0;
  int height = 0;
  int raw_stride = 0;
  int32_t frames_written = 0;
  AVRational codec_time_base{1, 1};

  OutputReplacement file;  // released after the contexts that write into it
  std::unique_ptr<AVIOContext, IoContextDeleter> io;  // released after `format`
  std::unique_ptr<AVFormatContext, FormatContextDeleter> format;
  std::unique_ptr<AVCodecContext, CodecContextDeleter> encoder;
  std::unique_ptr<HardwareFrames> hardware;  // a hardware encoder's device
  std::unique_ptr<AVFrame, FrameDeleter> picture;
  std::unique_ptr<AVPacket, PacketDeleter> packet;
  SwsHandle scaler;
  JpegFrames jpeg;
  std::vector<uint8_t> raw_rows;  // only for a frame whose rows are padded differently
  AVStream* stream = nullptr;

  bool Fail(std::string message) {
    error = std::move(message);
    return false;
  }

  void ReleaseAll() noexcept {
    jpeg = {};
    scaler.reset();
    picture.reset();
    packet.reset();
    encoder.reset();
    hardware.reset();
    format.reset();
    io.reset();
    stream = nullptr;
  }

  bool Writable() {
    if (!opened || finished || !format) return Fail("cannot write frame: no open output");
    return !stream_failed;
  }

  bool CreateStream(int frame_width, int frame_height, int32_t fps, const EncoderChoice& choice);
  bool EnsureStream(int frame_width, int frame_height, int32_t fps, const EncoderChoice& choice);
  AVCodecParameters* DescribeStream(AVCodecID codec, AVPixelFormat pixels);
  bool CreateJpegStream(int32_t handler);
  bool OpenEncoder(int32_t fps, int32_t handler);
  bool SendPicture();
  bool WritePacket(AVPacket* pkt, bool interleaved);
  bool WriteBorrowed(const uint8_t* data, int size);
  bool WriteRaw(const FrameView& frame);
  bool WriteJpeg(std::span<const uint8_t> picture);
  bool Drain();
  bool WriteStreamlessAvi();
};

bool MovieWriter::Impl::CreateStream(int frame_width, int frame_height, int32_t fps,
                                     const EncoderChoice& choice) {
  const std::string prefix = "cannot create the video stream: ";
  if (fps <= 0) return Fail(prefix + "frame rate " + std::to_string(fps));
  width = frame_width;
  height = frame_height;
  codec_time_base = AVRational{1, fps};

  stream = avformat_new_stream(format.get(), nullptr);
  if (!stream) return Fail(prefix + "out of memory");
  stream->time_base = codec_time_base;
  stream->avg_frame_rate = stream->r_frame_rate = AVRational{fps, 1};
  packet.reset(av_packet_alloc());
  if (!packet) return Fail(prefix + "out of memory");

  plan = PlanEncoder(choice, muxer, width, height);
  if (!plan.error.empty()) return Fail(prefix + plan.error);
  DictionaryOwner muxer_options;
  if (muxer == "mp4" || muxer == "mov") av_dict_set(&muxer_options.dict, "movflags", "+faststart", 0);
  switch (plan.path) {
    case FramePath::RawRows:
      // The DIB rows go into the file as they are: bottom-up, padded to 4 bytes.
      raw_stride = (width * 3 + 3) & ~3;
      DescribeStream(AV_CODEC_ID_RAWVIDEO, AV_PIX_FMT_BGR24);
      av_dict_set(&muxer_options.dict, "flipped_raw_rgb", "1", 0);
      break;
    case FramePath::TurboJpeg:
      if (!CreateJpegStream(choice.record.fccHandler)) return false;
      break;
    case FramePath::Encoder:
      if (!OpenEncoder(fps, choice.record.fccHandler)) return false;
      break;
  }
  if (const int rc = avformat_write_header(format.get(), &muxer_options.dict); rc < 0)
    return Fail(prefix + AvError(rc));
  return true;
}

// A stream whose packets are made here, not by a libavcodec encoder.
AVCodecParameters* MovieWriter::Impl::DescribeStream(AVCodecID codec, AVPixelFormat pixels) {
  AVCodecParameters* par = stream->codecpar;
  par->codec_type = AVMEDIA_TYPE_VIDEO;
  par->codec_id = codec;
  par->codec_tag = 0;  // the container's own tag
  par->format = pixels;
  par->width = width;
  par->height = height;
  par->bits_per_coded_sample = 24;
  return par;
}

bool MovieWriter::Impl::OpenEncoder(int32_t fps, int32_t handler) {
  const std::string prefix = "cannot create the video stream: ";
  const AVCodec* codec = plan.codec;
  encoder.reset(avcodec_alloc_context3(codec));
  if (!encoder) return Fail(prefix + "out of memory");
  AVCodecContext* ctx = encoder.get();
  ctx->width = width;
  ctx->height = plan.coded_height;
  ctx->pix_fmt = plan.pixel_format;
  ctx->time_base = codec_time_base;
  ctx->framerate = AVRational{fps, 1};
  ctx->sample_aspect_ratio = AVRational{1, 1};
  ctx->thread_count = 0;
  if (format->oformat->flags & AVFMT_GLOBALHEADER) ctx->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  if (plan.bit_rate > 0) {
    // A one-second buffer makes the rate a ceiling, not just an average over the movie.
    ctx->bit_rate = plan.bit_rate;
    ctx->rc_max_rate = ctx->bit_rate;
    ctx->rc_buffer_size = static_cast<int>(std::min<int64_t>(ctx->bit_rate, INT32_MAX));
  } else if (plan.qscale > 0) {
    ctx->flags |= AV_CODEC_FLAG_QSCALE;
    ctx->global_quality = plan.qscale * FF_QP2LAMBDA;
  } else if (plan.crf >= 0) {
    av_opt_set_double(ctx->priv_data, "crf", plan.crf, 0);
  }
  // Encoder options: unknown keys and values an encoder refuses are passed over, as a
  // setting never stops a run.
  for (const auto& [key, value] : plan.options)
    av_opt_set(ctx, key.c_str(), value.c_str(), AV_OPT_SEARCH_CHILDREN);
  if (plan.key_frame_every == 1) {
    // Every frame is a key frame, whatever the options asked for (the plan's x264-params too).
    ctx->gop_size = 1;
    ctx->max_b_frames = 0;
  } else if (plan.key_frame_every > 1) {
    ctx->gop_size = plan.key_frame_every;
  } else {
    // The encoder's own spacing (x264 and x265: 250 frames), but never more than ten
    // seconds of movie, so that a viewer can seek in it.
    const int most = 10 * fps;
    ctx->gop_size = ctx->gop_size > 0 ? std::min(ctx->gop_size, most) : std::min(most, 250);
  }

  if (IsHardwareEncoderName(plan.encoder)) {
    hardware = std::make_unique<HardwareFrames>();
    if (const std::string why = hardware->Attach(ctx, HardwareFamilyOf(plan.encoder), plan.pixel_format);
        !why.empty())
      return Fail(prefix + "cannot open encoder " + plan.encoder + ": " + why);
  }
  if (const int rc = avcodec_open2(ctx, codec, nullptr); rc < 0)
    return Fail(prefix + "cannot open encoder " + plan.encoder + ": " + AvError(rc));
  if (const int rc = avcodec_parameters_from_context(stream->codecpar, ctx); rc < 0)
    return Fail(prefix + AvError(rc));
  if (const unsigned code = UsersCode(handler, codec->id); code != 0 && IsAviContainer(muxer))
    stream->codecpar->codec_tag = code;
  // Browsers that play H.265 in MP4 (Safari, Edge) want its parameter sets in the header.
  if (codec->id == AV_CODEC_ID_HEVC && (muxer == "mp4" || muxer == "mov"))
    stream->codecpar->codec_tag = MKTAG('h', 'v', 'c', '1');

  picture.reset(av_frame_alloc());
  if (!picture) return Fail(prefix + "out of memory");
  picture->format = plan.pixel_format;
  picture->width = width;
  picture->height = plan.coded_height;
  if (const int rc = av_frame_get_buffer(picture.get(), 0); rc < 0)
    return Fail(prefix + AvError(rc));
  // An odd frame for a 4:2:0 stream is stretched to the even height, not padded.
  scaler.reset(sws_getContext(width, height, AV_PIX_FMT_BGR24, width, plan.coded_height, plan.pixel_format,
                              SWS_BICUBIC | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT, nullptr,
                              nullptr, nullptr));
  if (!scaler)
    return Fail(prefix + "cannot convert to " + av_get_pix_fmt_name(plan.pixel_format));
  return true;
}

bool MovieWriter::Impl::CreateJpegStream(int32_t handler) {
  const std::string prefix = "cannot create the video stream: ";
  if (!jpeg.Start(width, height, plan.jpeg_quality)) return Fail(prefix + jpeg.Error());
  AVCodecParameters* par = DescribeStream(AV_CODEC_ID_MJPEG, AV_PIX_FMT_YUVJ420P);
  par->sample_aspect_ratio = AVRational{1, 1};
  if (!IsAviContainer(muxer)) return true;
  unsigned int tag = UsersCode(handler, AV_CODEC_ID_MJPEG);
  const AVCodecTag* const tags[] = {avformat_get_riff_video_tags(), nullptr};
  if (tag == 0 && !av_codec_get_tag2(tags, AV_CODEC_ID_MJPEG, &tag)) tag = 0;
  par->codec_tag = tag;
  return true;
}

// A packet of bytes that stay ours: written at once, never copied or kept by the muxer.
bool MovieWriter::Impl::WriteBorrowed(const uint8_t* data, int size) {
  AVPacket* pkt = packet.get();
  pkt->buf = nullptr;
  pkt->data = const_cast<uint8_t*>(data);
  pkt->size = size;
  pkt->pts = pkt->dts = frames_written;
  pkt->duration = 1;
  pkt->flags = AV_PKT_FLAG_KEY;
  return WritePacket(pkt, false);
}

bool MovieWriter::Impl::WriteRaw(const FrameView& frame) {
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

bool MovieWriter::Impl::WriteJpeg(std::span<const uint8_t> picture) {
  if (picture.empty()) return Fail("cannot encode frame: " + jpeg.Error());
  return WriteBorrowed(picture.data(), static_cast<int>(picture.size()));
}

// An encoder's packets may need reordering; borrowed bytes must be written at once.
bool MovieWriter::Impl::WritePacket(AVPacket* pkt, bool interleaved) {
  pkt->stream_index = stream->index;
  av_packet_rescale_ts(pkt, codec_time_base, stream->time_base);
  const int rc =
      interleaved ? av_interleaved_write_frame(format.get(), pkt) : av_write_frame(format.get(), pkt);
  av_packet_unref(pkt);
  if (rc < 0) return Fail("cannot write to output " + output_path + ": " + AvError(rc));
  return true;
}

// Moves every packet the encoder has ready into the file.
bool MovieWriter::Impl::Drain() {
  for (;;) {
    const int rc = avcodec_receive_packet(encoder.get(), packet.get());
    if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return true;
    if (rc < 0) return Fail("cannot encode frame: " + AvError(rc));
    if (!WritePacket(packet.get(), true)) return false;
  }
}

// libavformat will not write a file without streams; this is the smallest AVI there is:
// a main header that counts no streams, an empty movie list and an empty index.
bool MovieWriter::Impl::WriteStreamlessAvi() {
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

MovieWriter::MovieWriter() : impl_(std::make_unique<Impl>()) {}

void MovieWriter::SetOutputLocked(bool locked) { impl_->output_locked = locked; }

MovieWriter::~MovieWriter() = default;  // an unfinished file goes with `file`, after the contexts

bool MovieWriter::Open(const std::string& output_path, const EncoderChoice* compression) {
  Impl& d = *impl_;
  if (d.opened) return d.Fail("cannot open output " + output_path + ": already open");
  d.output_path = output_path;
  d.muxer = ContainerForPath(output_path);
  const std::string prefix = "cannot open output " + output_path + ": ";
  if (compression && !IsAviContainer(d.muxer)) {
    // Known before anything is written: a container that holds neither the stored encoder
    // nor its own default. AVI takes whatever it always took.
    const EncoderPlan plan = PlanEncoder(*compression, d.muxer);
    if (!plan.encoder.empty() && !EncoderFitsContainer(plan.encoder, d.muxer))
      return d.Fail(prefix + plan.error);
  }
  if (!d.file.Open(output_path, TemporarySuffix(output_path, d.muxer), d.output_locked))
    return d.Fail(d.file.Error());
  d.opened = true;  // from here on the temporary file is ours to remove

  AVFormatContext* raw_ctx = nullptr;
  if (const int rc = avformat_alloc_output_context2(&raw_ctx, nullptr, d.muxer.c_str(),
                                                    d.file.Path().c_str());
      rc < 0 || !raw_ctx) {
    d.file.Discard();
    return d.Fail(prefix + AvError(rc));
  }
  d.format.reset(raw_ctx);
  d.io.reset(MakeIoContext(d.file));
  if (!d.io) {
    d.ReleaseAll();
    d.file.Discard();
    return d.Fail(prefix + "out of memory");
  }
  d.format->pb = d.io.get();
  d.format->flags |= AVFMT_FLAG_CUSTOM_IO;
  return true;
}

bool MovieWriter::Impl::EnsureStream(int frame_width, int frame_height, int32_t fps,
                                     const EncoderChoice& choice) {
  if (!Writable()) return false;
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
bool MovieWriter::Impl::SendPicture() {
  picture->pts = frames_written;
  // The mpegvideo encoders take a fixed quantiser from each frame, not from the context.
  if (encoder->flags & AV_CODEC_FLAG_QSCALE) picture->quality = encoder->global_quality;
  // Forced key frames only where every frame is one; elsewhere the encoder decides.
  picture->pict_type = plan.key_frame_every == 1 ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
  AVFrame* frame = picture.get();
  if (hardware) {
    std::string why;
    frame = hardware->FrameFor(frame, &why);
    if (!frame) return Fail("cannot encode frame: " + why);
  }
  if (const int rc = avcodec_send_frame(encoder.get(), frame); rc < 0)
    return Fail("cannot encode frame: " + AvError(rc));
  return Drain();
}

bool MovieWriter::WriteFrame(const FrameView& frame, int32_t fps, const EncoderChoice& compression) {
  Impl& d = *impl_;
  if (!d.Writable()) return false;
  if (!frame.pixels || frame.width <= 0 || frame.height <= 0 || frame.stride < frame.width * 3)
    return d.Fail("cannot write frame: no picture");
  if (!d.EnsureStream(frame.width, frame.height, fps, compression)) return false;

  if (d.plan.path == FramePath::RawRows) {
    if (!d.WriteRaw(frame)) return false;
  } else if (d.plan.path == FramePath::TurboJpeg) {
    if (!d.WriteJpeg(d.jpeg.Compress(frame))) return false;
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

bool MovieWriter::Prepare(int32_t width, int32_t height, int32_t fps,
                          const EncoderChoice& compression) {
  if (width <= 0 || height <= 0) return impl_->Fail("cannot write frame: no picture");
  return impl_->EnsureStream(width, height, fps, compression);
}

bool MovieWriter::TakesPlanes() const {
  return impl_->stream && !impl_->stream_failed && impl_->plan.takes_planes;
}

bool MovieWriter::WritePlanes(const FramePlanes& planes) {
  Impl& d = *impl_;
  if (!d.Writable()) return false;
  if (!TakesPlanes()) return d.Fail("cannot write frame: the stream takes no planes");
  if (planes.width != d.width || planes.height != d.height)
    return d.Fail("cannot write frame: size changed");
  if (d.plan.path == FramePath::TurboJpeg) {
    if (!d.WriteJpeg(d.jpeg.Compress(planes))) return false;
  } else {
    if (const int rc = av_frame_make_writable(d.picture.get()); rc < 0)
      return d.Fail("cannot write frame: " + AvError(rc));
    // The planes span the full 0-255 range (JPEG's); the encoders expect video range.
    for (int i = 0; i < 3; ++i) {
      const int columns = i == 0 ? d.width : (d.width + 1) / 2;
      for (int row = 0; row < planes.Rows(i); ++row) {
        ToVideoRange(planes.Plane(i) + static_cast<ptrdiff_t>(row) * planes.strides[i],
                     d.picture->data[i] + static_cast<ptrdiff_t>(row) * d.picture->linesize[i],
                     columns, i == 0);
      }
    }
    if (!d.SendPicture()) return false;
  }
  ++d.frames_written;
  return true;
}

bool MovieWriter::Finish() {
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
  if (ok && !d.file.Commit()) ok = d.Fail(d.file.Error());
  if (!ok) d.file.Discard();
  d.finish_result = ok;
  return ok;
}

int32_t MovieWriter::FramesWritten() const { return impl_->frames_written; }

const std::string& MovieWriter::Error() const { return impl_->error; }

}  // namespace chronoreel
