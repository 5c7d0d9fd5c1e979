#pragma once
// The date stamp: a line of text drawn in one corner of each movie frame, white with a dark
// outline so that it reads on any sky. The font is found with fontconfig and rendered with
// FreeType. The same text is drawn on thousands of frames, so glyphs are kept per pixel size
// and the last text is kept as a ready alpha mask: a frame costs one blend of that mask.
//
// Invariant: either Ready() and the face is loaded, or Draw() never touches a frame.
#include <cstdint>
#include <memory>
#include <string>

#include "time/date_time.h"

namespace chronoreel {

enum StampCorner : int {
  kStampTopLeft = 0,
  kStampTopRight = 1,
  kStampBottomLeft = 2,
  kStampBottomRight = 3,
};

class FrameStamper {
 public:
  static constexpr double kMinHeightPercent = 1.0;
  static constexpr double kMaxHeightPercent = 50.0;
  static constexpr double kDefaultHeightPercent = 5.0;
  // Larger text would only cost memory: no frame needs letters taller than this.
  static constexpr int kMaxTextPixels = 1024;

  // Finds a bold sans-serif face with fontconfig.
  FrameStamper();
  // Loads the font file given (no fontconfig look-up); a file that does not load leaves the
  // stamper not Ready().
  explicit FrameStamper(const std::string& font_file);
  ~FrameStamper();
  FrameStamper(const FrameStamper&) = delete;
  FrameStamper& operator=(const FrameStamper&) = delete;

  // True when a font was found and loaded.
  bool Ready() const;
  // Why the stamper is not ready ("" when it is).
  const std::string& Error() const;
  // The font file in use ("" when none).
  const std::string& FontFile() const;

  // Replaces the strftime-style fields of `pattern` with the still's local date-time:
  // %Y %y %m %d %e %H %I %M %S %p %b %B %a %A %j %F %T %R and %%. Names are English,
  // whatever the locale; the process time zone plays no part. Any other % sequence, and a
  // lone % at the end, is kept as it is.
  static std::string FormatStillTime(const std::string& pattern, DateTime still_time);

  // Draws UTF-8 `text` into the corner `position` (a StampCorner; anything else is
  // bottom-right) of a 24-bit bottom-up BGR frame. The letters are height_percent of the
  // frame height (clamped to 1..50), with a margin of half that height. Text that does not
  // fit is clipped at the frame's edge (its start stays in view); nothing is ever written
  // outside the frame. Empty text, no font or no frame: nothing is drawn.
  void Draw(uint8_t* pixels, int width, int height, int stride, const std::string& text, int position,
            double height_percent);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace chronoreel
