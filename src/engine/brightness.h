#pragma once
// Dark and bright stills left out before the selection: nights and blown-out frames. The
// brightness is the mean luma of a 1/8-scale decode, cheap enough for a year of stills.
#include <cstdint>
#include <optional>
#include <string>

#include "engine/stages.h"

namespace chronoreel {

// The mean luma (0 to 255) of the still at `path`, from a grey decode at 1/8 scale;
// nullopt when it does not decode cleanly.
std::optional<double> MeanLuma(const std::string& path);

struct BrightnessInputs {
  int32_t dark_below = 0;      // a mean below this is too dark; 0: none is
  int32_t bright_above = 255;  // a mean above this is too bright; 255: none is
  int32_t time_option = 0;     // 1: only stills inside the window are measured
  DateTime window_start = 0;
  DateTime window_stop = 0;
  int32_t workers = 0;  // threads that measure; 0: one per core
};
// True when the limits leave any still out.
bool SkipsBrightness(const BrightnessInputs& in);

struct BrightnessPass {
  ImageList kept;  // the stills the selection sees, in their order
  int32_t measured = 0;
  int32_t dark = 0;
  int32_t bright = 0;
};
// Measures the stills the selection could take and keeps those within the limits; stills
// outside the window, and stills that do not decode, are kept for the selection to judge
// as it always has. nullopt when cancelled.
std::optional<BrightnessPass> SkipDarkAndBright(const BrightnessInputs& in, const ImageList& images,
                                                const StageReport& report);

}  // namespace chronoreel
