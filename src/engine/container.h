#pragma once
// Which container a movie is written in: chosen by the output path's ending, so that a
// setup file of the original program (which always wrote AVI) keeps meaning AVI.
#include <string>

namespace chronoreel {

// FFmpeg's muxer name for the output path: ".mp4" and ".m4v" give "mp4", ".mov" "mov",
// ".mkv" "matroska", ".webm" "webm" (letter case ignored); any other ending gives "avi".
std::string ContainerForPath(const std::string& path);

bool IsAviContainer(const std::string& muxer);

// True when the linked FFmpeg's muxer can hold what the named encoder writes.
bool EncoderFitsContainer(const std::string& encoder_name, const std::string& muxer);

// The encoder a container gets when the stored compression cannot go into it: H.264
// (libx264) for MP4, MOV and Matroska, VP9 (libvpx-vp9) for WebM; "" for AVI, which takes
// whatever the record names.
std::string DefaultEncoderForContainer(const std::string& muxer);

}  // namespace chronoreel
