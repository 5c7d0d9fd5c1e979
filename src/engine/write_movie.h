#pragma once
// The composition and writing stage of a run: the selected stills become frames (decoded,
// stretched, evened out, stamped) and go into the movie file.
#include <cstdint>
#include <span>
#include <string>

#include "engine/encoder_plan.h"
#include "engine/run_notes.h"
#include "engine/stages.h"
#include "time/date_time.h"

namespace chronoreel {

struct MovieWriteInputs {
  std::span<const std::string> stills;  // in writing order
  std::span<const DateTime> times;      // the stills' times, in the same order
  std::string output_path;
  int32_t width = 0;  // 0 x 0: the size of the first still that gives a frame
  int32_t height = 0;
  int32_t fps = 0;
  EncoderChoice compression;
  int32_t deflicker_frames = 0;
  std::string stamp_text;  // "" for no stamp
  int32_t stamp_position = 0;
  double stamp_size = 0;
  DateTime run_time = 0;  // for the stamp's tags
  bool output_locked = false;
};

struct MovieWriteResult {
  enum class End {
    Written,         // the file is in place
    NothingDecoded,  // not one still gave a frame: nothing replaced the last movie
    NoDecoder,       // the decoders could not be made: nothing was written
    OpenFailed,      // the file could not be opened (`error` says why)
    FinishFailed,    // the file could not be finished (`error` says why)
    WriteFailed,     // a frame could not be written; the frames before it were kept
    Cancelled,       // cancelled: the frames so far were kept
    Stopped,         // stopped from outside: the last movie stays
  } end = End::NoDecoder;
  std::string error;
  NoFrameStills no_frame;
  int32_t width = 0;  // the movie size as fixed (0 x 0 before the first frame)
  int32_t height = 0;
};

// Reports "Status: Opening AVI", "Status: Adding Frames to AVI", the "Frame: k of m"
// labels and the preview; a cancel ends it with "Status: Cancelled by User" held.
MovieWriteResult WriteMovie(const MovieWriteInputs& in, const StageReport& report, const RunOptions& options);

}  // namespace chronoreel
