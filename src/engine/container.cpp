#include "engine/container.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <cctype>

namespace chronoreel {

std::string ContainerForPath(const std::string& path) {
  const auto slash = path.find_last_of('/');
  const auto dot = path.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "avi";
  std::string ext = path.substr(dot + 1);
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (ext == "mp4" || ext == "m4v") return "mp4";
  if (ext == "mov") return "mov";
  if (ext == "mkv") return "matroska";
  if (ext == "webm") return "webm";
  return "avi";
}

bool IsAviContainer(const std::string& muxer) { return muxer == "avi"; }

bool EncoderFitsContainer(const std::string& encoder_name, const std::string& muxer) {
  const AVCodec* codec = avcodec_find_encoder_by_name(encoder_name.c_str());
  const AVOutputFormat* format = av_guess_format(muxer.c_str(), nullptr, nullptr);
  if (codec == nullptr || format == nullptr) return false;
  // Matroska's muxer accepts raw RGB frames in its tables but refuses them when the stream
  // is made (only a VFW wrapper could hold them).
  if (codec->id == AV_CODEC_ID_RAWVIDEO && muxer != "avi" && muxer != "mov") return false;
  // AVI takes any codec that has a code; the others answer for themselves. A muxer that
  // cannot tell (a negative answer) is not trusted with the movie.
  return avformat_query_codec(format, codec->id, FF_COMPLIANCE_NORMAL) == 1;
}

std::string DefaultEncoderForContainer(const std::string& muxer) {
  if (muxer == "webm") return "libvpx-vp9";
  if (muxer == "mp4" || muxer == "mov" || muxer == "matroska") return "libx264";
  return {};
}

}  // namespace chronoreel
