#pragma once
// The hardware encoders of the linked FFmpeg (VAAPI, NVENC, Quick Sync, V4L2
// memory-to-memory) and whether this machine can use them. One is available only when its
// device opens and the encoder opens on it; that is tried once per process, on first
// asking, with FFmpeg's messages held back so that a machine without the device hears
// nothing of it. CHRONOREEL_NO_HARDWARE_ENCODERS=1 makes every hardware encoder unavailable
// without trying.
#include <cstdint>
#include <string>
#include <vector>

#include "engine/codecs.h"

extern "C" {
#include <libavutil/pixfmt.h>
}

namespace chronoreel {

enum class HardwareFamily { None, Vaapi, Nvenc, Qsv, V4l2m2m };

// By the name's ending, whether or not the linked FFmpeg has the encoder.
HardwareFamily HardwareFamilyOf(const std::string& encoder_name);
bool IsHardwareEncoderName(const std::string& encoder_name);
// "VAAPI", "NVENC", "Quick Sync", "V4L2 memory-to-memory"; "" for None.
std::string HardwareFamilyName(HardwareFamily family);

// The names of the hardware encoders that open here, in FFmpeg's order.
std::vector<std::string> AvailableHardwareEncoders();
bool IsHardwareEncoderAvailable(const std::string& encoder_name);
// Why the encoder cannot be used here ("no VAAPI device"); "" when it can.
std::string HardwareUnavailableReason(const std::string& encoder_name);

// The software encoder of the same codec (h264_vaapi -> libx264, vp9_qsv -> libvpx-vp9);
// "" for a name the linked FFmpeg does not have or a codec without a software encoder.
std::string SoftwareEncoderFor(const std::string& hardware_name);

// The available hardware encoders the container takes (muxer as ContainerForPath names
// it), as the compression dialog lists them: long_name "H.264 (VAAPI hardware)", the
// codec's AVI code.
std::vector<EncoderInfo> ListHardwareEncoders(const std::string& muxer);

// The software pixel format the frames are converted to before they reach the encoder (or
// its device): NV12 for VAAPI and Quick Sync, yuv420p for the others.
AVPixelFormat HardwarePictureFormat(const std::string& encoder_name);

// How dwQuality reaches a hardware encoder: the option that sets its constant quality and
// that option's worst and best values (VAAPI and Quick Sync: global_quality; NVENC: cq).
// option "" when the encoder has none (V4L2 memory-to-memory).
struct HardwareQuality {
  std::string option;
  int32_t worst = 0;
  int32_t best = 0;
};
HardwareQuality HardwareQualityOf(const std::string& encoder_name);
// dwQuality 1..10000 -> the option's value, linear and rounded; -1 for quality <= 0 or no option.
int32_t HardwareQualityValue(const HardwareQuality& scale, int32_t quality);

}  // namespace chronoreel
