#include "probe_movie.h"

#include <cstdio>
#include <memory>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

namespace chronoreel::test {

namespace {

struct InputDeleter {
  void operator()(AVFormatContext* c) const { avformat_close_input(&c); }
};
struct CodecDeleter {
  void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
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
using Input = std::unique_ptr<AVFormatContext, InputDeleter>;

Input OpenInput(const std::string& path, std::string* error) {
  AVFormatContext* ctx = nullptr;
  if (int rc = avformat_open_input(&ctx, path.c_str(), nullptr, nullptr); rc < 0) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(rc, text, sizeof text);
    if (error) *error = text;
    return nullptr;
  }
  Input input(ctx);
  if (avformat_find_stream_info(ctx, nullptr) < 0 && error) *error = "no stream info";
  return input;
}

int FirstVideo(AVFormatContext* ctx) {
  for (unsigned i = 0; i < ctx->nb_streams; ++i)
    if (ctx->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) return static_cast<int>(i);
  return -1;
}

void Convert(const AVFrame* f, DecodedFrame& out) {
  out.width = f->width;
  out.height = f->height;
  out.bgr.assign(static_cast<size_t>(f->width) * f->height * 3, 0);
  // Accurate rounding also keeps libswscale off its fast 4:2:0 path, which leaves the last
  // columns of a width that is no multiple of 8 unwritten.
  std::unique_ptr<SwsContext, SwsDeleter> sws(
      sws_getContext(f->width, f->height, static_cast<AVPixelFormat>(f->format), f->width,
                     f->height, AV_PIX_FMT_BGR24, SWS_POINT | SWS_ACCURATE_RND, nullptr, nullptr,
                     nullptr));
  if (!sws) return;
  uint8_t* dst[4] = {out.bgr.data(), nullptr, nullptr, nullptr};
  const int dst_stride[4] = {f->width * 3, 0, 0, 0};
  sws_scale(sws.get(), f->data, f->linesize, 0, f->height, dst, dst_stride);
}

}  // namespace

void DecodedFrame::MeanColour(int x0, int y0, int x1, int y1, double out_bgr[3]) const {
  double sum[3] = {0, 0, 0};
  int n = 0;
  for (int y = y0; y < y1; ++y)
    for (int x = x0; x < x1; ++x, ++n)
      for (int c = 0; c < 3; ++c) sum[c] += bgr[(static_cast<size_t>(y) * width + x) * 3 + c];
  for (int c = 0; c < 3; ++c) out_bgr[c] = n ? sum[c] / n : 0;
}

ProbedMovie ProbeMovie(const std::string& path) {
  ProbedMovie movie;
  Input input = OpenInput(path, &movie.error);
  if (!input) return movie;
  movie.opened = true;
  movie.stream_count = static_cast<int>(input->nb_streams);
  for (unsigned i = 0; i < input->nb_streams; ++i)
    if (input->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) ++movie.video_streams;
  const int index = FirstVideo(input.get());
  if (index < 0) return movie;
  const AVStream* st = input->streams[index];
  movie.codec_name = avcodec_get_name(st->codecpar->codec_id);
  movie.codec_tag = st->codecpar->codec_tag;
  movie.width = st->codecpar->width;
  movie.height = st->codecpar->height;
  movie.rate_num = st->r_frame_rate.num;
  movie.rate_den = st->r_frame_rate.den;
  if (const char* format = av_get_pix_fmt_name(static_cast<AVPixelFormat>(st->codecpar->format))) {
    movie.pixel_format = format;
  }
  std::unique_ptr<AVPacket, PacketDeleter> pkt(av_packet_alloc());
  while (av_read_frame(input.get(), pkt.get()) >= 0) {
    if (pkt->stream_index == index) movie.key_flags.push_back((pkt->flags & AV_PKT_FLAG_KEY) != 0);
    av_packet_unref(pkt.get());
  }
  return movie;
}

std::vector<bool> KeyFlagsByFfprobe(const std::string& path) {
  std::vector<bool> flags;
  const std::string command = "ffprobe -v error -select_streams v:0 -show_entries packet=flags "
                              "-of csv=p=0 '" + path + "' 2>/dev/null";
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
  if (!pipe) return flags;
  char line[64];
  while (fgets(line, sizeof line, pipe.get())) flags.push_back(line[0] == 'K');
  return flags;
}

std::vector<DecodedFrame> DecodeAllFrames(const std::string& path) {
  std::vector<DecodedFrame> frames;
  Input input = OpenInput(path, nullptr);
  if (!input) return frames;
  const int index = FirstVideo(input.get());
  if (index < 0) return frames;
  const AVCodec* codec = avcodec_find_decoder(input->streams[index]->codecpar->codec_id);
  if (!codec) return frames;
  std::unique_ptr<AVCodecContext, CodecDeleter> dec(avcodec_alloc_context3(codec));
  avcodec_parameters_to_context(dec.get(), input->streams[index]->codecpar);
  dec->thread_count = 1;
  if (avcodec_open2(dec.get(), codec, nullptr) < 0) return frames;
  std::unique_ptr<AVPacket, PacketDeleter> pkt(av_packet_alloc());
  std::unique_ptr<AVFrame, FrameDeleter> frame(av_frame_alloc());
  auto receive = [&] {
    while (avcodec_receive_frame(dec.get(), frame.get()) >= 0) {
      frames.emplace_back();
      Convert(frame.get(), frames.back());
      av_frame_unref(frame.get());
    }
  };
  while (av_read_frame(input.get(), pkt.get()) >= 0) {
    if (pkt->stream_index == index && avcodec_send_packet(dec.get(), pkt.get()) >= 0) receive();
    av_packet_unref(pkt.get());
  }
  avcodec_send_packet(dec.get(), nullptr);
  receive();
  return frames;
}

}  // namespace chronoreel::test
