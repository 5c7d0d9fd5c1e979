#include "engine/stamp.h"

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_GLYPH_H
#include FT_STROKER_H

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <type_traits>
#include <unordered_map>
#include <vector>

namespace chronoreel {
namespace {

// Owners for the C handles of FreeType and fontconfig.
template <typename Handle, auto Release>
struct Releaser {
  void operator()(Handle handle) const noexcept { Release(handle); }
};
template <typename Handle, auto Release>
using Owner = std::unique_ptr<std::remove_pointer_t<Handle>, Releaser<Handle, Release>>;

void DoneFreeType(FT_Library library) { FT_Done_FreeType(library); }
void DoneFace(FT_Face face) { FT_Done_Face(face); }
void DoneStroker(FT_Stroker stroker) { FT_Stroker_Done(stroker); }
void DoneGlyph(FT_Glyph glyph) { FT_Done_Glyph(glyph); }
void DestroyConfig(FcConfig* config) { FcConfigDestroy(config); }
void DestroyPattern(FcPattern* pattern) { FcPatternDestroy(pattern); }

using LibraryOwner = Owner<FT_Library, DoneFreeType>;
using FaceOwner = Owner<FT_Face, DoneFace>;
using StrokerOwner = Owner<FT_Stroker, DoneStroker>;
using GlyphOwner = Owner<FT_Glyph, DoneGlyph>;
using ConfigOwner = Owner<FcConfig*, DestroyConfig>;
using PatternOwner = Owner<FcPattern*, DestroyPattern>;

// The first bold sans-serif face that fontconfig offers, as file and face index.
bool FindFont(std::string& file, int& index, std::string& error) {
  ConfigOwner config(FcInitLoadConfigAndFonts());
  if (!config) {
    error = "cannot load the fontconfig configuration";
    return false;
  }
  for (const char* name : {"DejaVu Sans:bold:scalable=true", "sans-serif:bold:scalable=true"}) {
    PatternOwner pattern(FcNameParse(reinterpret_cast<const FcChar8*>(name)));
    if (!pattern) continue;
    FcConfigSubstitute(config.get(), pattern.get(), FcMatchPattern);
    FcDefaultSubstitute(pattern.get());
    FcResult result = FcResultNoMatch;
    PatternOwner match(FcFontMatch(config.get(), pattern.get(), &result));
    if (!match) continue;
    FcChar8* path = nullptr;
    if (FcPatternGetString(match.get(), FC_FILE, 0, &path) != FcResultMatch || path == nullptr) continue;
    int face_index = 0;
    if (FcPatternGetInteger(match.get(), FC_INDEX, 0, &face_index) != FcResultMatch) face_index = 0;
    file = reinterpret_cast<const char*>(path);
    index = face_index;
    return true;
  }
  error = "cannot find a sans-serif font";
  return false;
}

// UTF-8 to code points; a malformed sequence gives U+FFFD and decoding goes on.
std::u32string DecodeUtf8(const std::string& text) {
  std::u32string out;
  out.reserve(text.size());
  const auto* s = reinterpret_cast<const unsigned char*>(text.data());
  const size_t n = text.size();
  size_t i = 0;
  while (i < n) {
    const unsigned char lead = s[i];
    int extra = 0;
    char32_t cp = 0;
    char32_t min = 0;
    if (lead < 0x80) {
      out.push_back(lead);
      ++i;
      continue;
    } else if ((lead & 0xE0) == 0xC0) {
      extra = 1, cp = lead & 0x1F, min = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
      extra = 2, cp = lead & 0x0F, min = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
      extra = 3, cp = lead & 0x07, min = 0x10000;
    } else {
      out.push_back(0xFFFD);
      ++i;
      continue;
    }
    size_t j = 1;
    for (; j <= static_cast<size_t>(extra); ++j) {
      if (i + j >= n || (s[i + j] & 0xC0) != 0x80) break;
      cp = (cp << 6) | (s[i + j] & 0x3F);
    }
    if (j <= static_cast<size_t>(extra)) {
      out.push_back(0xFFFD);
      i += j;  // resynchronise on the byte that broke the sequence
      continue;
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
    out.push_back(cp);
    i += j;
  }
  return out;
}

constexpr const char* kMonthNames[] = {"January", "February", "March",     "April",   "May",      "June",
                                       "July",    "August",   "September", "October", "November", "December"};
constexpr const char* kDayNames[] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                     "Thursday", "Friday", "Saturday"};

void AppendNumber(std::string& out, int value, int width, char pad = '0') {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%d", value);
  const std::string digits(buffer);
  if (static_cast<int>(digits.size()) < width) out.append(width - digits.size(), pad);
  out += digits;
}

// A glyph's coverage, rows from the top; left and top are from the pen position on the baseline.
struct Coverage {
  int left = 0;
  int top = 0;
  int width = 0;
  int rows = 0;
  std::vector<uint8_t> alpha;
};

struct Glyph {
  FT_UInt index = 0;
  FT_Pos advance = 0;  // 26.6
  Coverage fill;
  Coverage border;
};

// Takes the bitmap out of a glyph rendered by FT_Glyph_To_Bitmap.
Coverage CoverageOf(FT_Glyph glyph) {
  Coverage c;
  if (glyph == nullptr || glyph->format != FT_GLYPH_FORMAT_BITMAP) return c;
  const auto* bitmap_glyph = reinterpret_cast<FT_BitmapGlyph>(glyph);
  const FT_Bitmap& bitmap = bitmap_glyph->bitmap;
  if (bitmap.buffer == nullptr || bitmap.width == 0 || bitmap.rows == 0) return c;
  if (bitmap.pixel_mode != FT_PIXEL_MODE_GRAY && bitmap.pixel_mode != FT_PIXEL_MODE_MONO) return c;
  c.left = bitmap_glyph->left;
  c.top = bitmap_glyph->top;
  c.width = static_cast<int>(bitmap.width);
  c.rows = static_cast<int>(bitmap.rows);
  c.alpha.resize(static_cast<size_t>(c.width) * c.rows);
  const int pitch = std::abs(bitmap.pitch);
  const int gray_max = bitmap.num_grays > 1 ? bitmap.num_grays - 1 : 255;
  for (int r = 0; r < c.rows; ++r) {
    const unsigned char* row =
        bitmap.buffer + static_cast<size_t>(bitmap.pitch >= 0 ? r : c.rows - 1 - r) * pitch;
    uint8_t* dst = c.alpha.data() + static_cast<size_t>(r) * c.width;
    for (int x = 0; x < c.width; ++x) {
      if (bitmap.pixel_mode == FT_PIXEL_MODE_MONO) {
        dst[x] = (row[x >> 3] & (0x80 >> (x & 7))) ? 255 : 0;
      } else {
        dst[x] = static_cast<uint8_t>(row[x] * 255 / gray_max);
      }
    }
  }
  return c;
}

// Renders a glyph to a bitmap in place; false leaves it as it was.
bool Rasterise(GlyphOwner& glyph) {
  FT_Glyph raw = glyph.get();
  if (FT_Glyph_To_Bitmap(&raw, FT_RENDER_MODE_NORMAL, nullptr, 1) != 0) return false;
  glyph.release();  // destroyed by FT_Glyph_To_Bitmap, which replaced it
  glyph.reset(raw);
  return true;
}

}  // namespace

struct FrameStamper::Impl {
  LibraryOwner library;
  FaceOwner face;
  StrokerOwner stroker;
  std::string error;
  std::string font_file;

  // Glyphs of the current pixel size.
  int pixel_size = 0;
  std::unordered_map<char32_t, Glyph> glyphs;

  // The mask of the last text drawn: outline (under) and fill (over), rows from the top.
  std::string mask_text;
  int mask_pixel_size = 0;
  int mask_limit = 0;
  int mask_width = 0;
  int mask_height = 0;
  std::vector<uint8_t> mask_fill;
  std::vector<uint8_t> mask_outline;

  bool Load(const std::string& file, int index) {
    FT_Library raw_library = nullptr;
    if (FT_Init_FreeType(&raw_library) != 0) {
      error = "cannot start FreeType";
      return false;
    }
    library.reset(raw_library);
    FT_Face raw_face = nullptr;
    if (FT_New_Face(library.get(), file.c_str(), index, &raw_face) != 0) {
      error = "cannot load font " + file;
      return false;
    }
    face.reset(raw_face);
    if (!FT_IS_SCALABLE(face.get())) {
      error = "cannot scale font " + file;
      face.reset();
      return false;
    }
    FT_Stroker raw_stroker = nullptr;
    if (FT_Stroker_New(library.get(), &raw_stroker) != 0) {
      error = "cannot make the outline of font " + file;
      face.reset();
      return false;
    }
    stroker.reset(raw_stroker);
    font_file = file;
    return true;
  }

  bool SetPixelSize(int size) {
    if (size == pixel_size) return true;
    glyphs.clear();
    pixel_size = 0;
    if (FT_Set_Pixel_Sizes(face.get(), 0, static_cast<FT_UInt>(size)) != 0) return false;
    // The outline grows with the letters but never vanishes.
    const double radius = std::max(1.0, size * 0.075);
    FT_Stroker_Set(stroker.get(), static_cast<FT_Fixed>(std::lround(radius * 64.0)),
                   FT_STROKER_LINECAP_ROUND, FT_STROKER_LINEJOIN_ROUND, 0);
    pixel_size = size;
    return true;
  }

  int StrokeRadius() const { return static_cast<int>(std::ceil(std::max(1.0, pixel_size * 0.075))); }

  const Glyph& GlyphOf(char32_t cp) {
    auto found = glyphs.find(cp);
    if (found != glyphs.end()) return found->second;
    Glyph g;
    g.index = FT_Get_Char_Index(face.get(), cp);
    if (FT_Load_Glyph(face.get(), g.index, FT_LOAD_NO_BITMAP) == 0) {
      g.advance = face->glyph->advance.x;
      FT_Glyph raw = nullptr;
      if (FT_Get_Glyph(face->glyph, &raw) == 0) {
        GlyphOwner fill(raw);
        FT_Glyph copy = nullptr;
        if (FT_Glyph_Copy(fill.get(), &copy) == 0) {
          GlyphOwner border(copy);
          if (border->format == FT_GLYPH_FORMAT_OUTLINE) {
            FT_Glyph stroked = border.get();
            if (FT_Glyph_StrokeBorder(&stroked, stroker.get(), 0, 1) == 0) {
              border.release();  // destroyed by FT_Glyph_StrokeBorder, which replaced it
              border.reset(stroked);
            }
          }
          if (Rasterise(border)) g.border = CoverageOf(border.get());
        }
        if (Rasterise(fill)) g.fill = CoverageOf(fill.get());
      }
    }
    return glyphs.emplace(cp, std::move(g)).first->second;
  }

  // Lays out `text` on one line and renders it into the masks, at most `limit` pixels wide.
  void BuildMask(const std::string& text, int limit) {
    mask_text = text;
    mask_pixel_size = pixel_size;
    mask_limit = limit;
    mask_width = mask_height = 0;
    mask_fill.clear();
    mask_outline.clear();

    struct Placed {
      const Glyph* glyph;
      int x;  // pen position on the baseline, in pixels
    };
    std::vector<Placed> placed;
    const bool kerning = FT_HAS_KERNING(face.get());
    const int radius = StrokeRadius();
    FT_Pos pen = 0;
    FT_UInt previous = 0;
    for (char32_t cp : DecodeUtf8(text)) {
      if (cp < 0x20 || cp == 0x7F) continue;  // one line: control characters draw nothing
      const Glyph& g = GlyphOf(cp);
      if (kerning && previous != 0 && g.index != 0) {
        FT_Vector delta{0, 0};
        if (FT_Get_Kerning(face.get(), previous, g.index, FT_KERNING_DEFAULT, &delta) == 0) pen += delta.x;
      }
      const int x = static_cast<int>((pen + 32) >> 6);
      if (x - radius > limit) break;  // the rest lies beyond any frame this is drawn on
      placed.push_back({&g, x});
      pen += g.advance;
      previous = g.index;
    }
    if (placed.empty()) return;

    // The box: the line's ascent and descent with the outline, and every glyph's ink.
    const FT_Size_Metrics& metrics = face->size->metrics;
    int min_x = 0;
    int max_x = static_cast<int>((pen + 32) >> 6) + radius;
    int min_y = -static_cast<int>((metrics.ascender + 63) >> 6) - radius;
    int max_y = static_cast<int>((-metrics.descender + 63) >> 6) + radius;
    for (const Placed& p : placed) {
      for (const Coverage* c : {&p.glyph->fill, &p.glyph->border}) {
        if (c->alpha.empty()) continue;
        min_x = std::min(min_x, p.x + c->left);
        max_x = std::max(max_x, p.x + c->left + c->width);
        min_y = std::min(min_y, -c->top);
        max_y = std::max(max_y, -c->top + c->rows);
      }
    }
    mask_width = std::min(max_x - min_x, limit);
    mask_height = max_y - min_y;
    if (mask_width <= 0 || mask_height <= 0) {
      mask_width = mask_height = 0;
      return;
    }
    mask_fill.assign(static_cast<size_t>(mask_width) * mask_height, 0);
    mask_outline.assign(mask_fill.size(), 0);

    auto plot = [&](const Coverage& c, int pen_x, std::vector<uint8_t>& mask) {
      const int x0 = pen_x + c.left - min_x;
      const int y0 = -c.top - min_y;
      for (int r = 0; r < c.rows; ++r) {
        const int y = y0 + r;
        if (y < 0 || y >= mask_height) continue;
        const uint8_t* src = c.alpha.data() + static_cast<size_t>(r) * c.width;
        uint8_t* dst = mask.data() + static_cast<size_t>(y) * mask_width;
        const int from = std::max(0, -x0);
        const int to = std::min(c.width, mask_width - x0);
        for (int i = from; i < to; ++i) dst[x0 + i] = std::max(dst[x0 + i], src[i]);
      }
    };
    for (const Placed& p : placed) {
      plot(p.glyph->fill, p.x, mask_fill);
      plot(p.glyph->border, p.x, mask_outline);
    }
    // The dark underlay also covers the letters, so their anti-aliased edges blend into
    // the outline and not into the sky.
    for (size_t i = 0; i < mask_fill.size(); ++i) mask_outline[i] = std::max(mask_outline[i], mask_fill[i]);
  }
};

FrameStamper::FrameStamper() : impl_(std::make_unique<Impl>()) {
  std::string file;
  int index = 0;
  if (FindFont(file, index, impl_->error)) impl_->Load(file, index);
}

FrameStamper::FrameStamper(const std::string& font_file) : impl_(std::make_unique<Impl>()) {
  impl_->Load(font_file, 0);
}

FrameStamper::~FrameStamper() = default;

bool FrameStamper::Ready() const { return impl_->face != nullptr; }
const std::string& FrameStamper::Error() const { return impl_->error; }
const std::string& FrameStamper::FontFile() const { return impl_->font_file; }

std::string FrameStamper::FormatStillTime(const std::string& pattern, DateTime still_time) {
  if (pattern.find('%') == std::string::npos) return pattern;
  // The date conversion lets the value past the last day run into year 10000; a stamp has
  // four-digit years.
  static const DateTime kLastSecond = DateTimeFromCivil(9999, 12, 31, 23, 59, 59.0).value_or(0.0);
  if (still_time > kLastSecond) still_time = kLastSecond;
  const CivilTime t = CivilFromDateTime(still_time);
  // Seconds come rounded to the millisecond; a still's second is the one it began in.
  const int second = std::clamp(static_cast<int>(std::floor(t.second)), 0, 59);
  const int64_t days = DaysFromCivil(t.year, t.month, t.day);
  const int weekday = static_cast<int>(((days + 4) % 7 + 7) % 7);  // 1970-01-01 was a Thursday
  const int day_of_year = static_cast<int>(days - DaysFromCivil(t.year, 1, 1)) + 1;
  const int hour12 = t.hour % 12 == 0 ? 12 : t.hour % 12;
  const std::string month_name = kMonthNames[std::clamp(t.month, 1, 12) - 1];
  const std::string day_name = kDayNames[weekday];

  std::string out;
  out.reserve(pattern.size() + 16);
  for (size_t i = 0; i < pattern.size(); ++i) {
    const char c = pattern[i];
    if (c != '%' || i + 1 >= pattern.size()) {
      out += c;
      continue;
    }
    const char field = pattern[++i];
    switch (field) {
      case 'Y': AppendNumber(out, t.year, 4); break;
      case 'y': AppendNumber(out, t.year % 100, 2); break;
      case 'm': AppendNumber(out, t.month, 2); break;
      case 'd': AppendNumber(out, t.day, 2); break;
      case 'e': AppendNumber(out, t.day, 2, ' '); break;
      case 'H': AppendNumber(out, t.hour, 2); break;
      case 'I': AppendNumber(out, hour12, 2); break;
      case 'M': AppendNumber(out, t.minute, 2); break;
      case 'S': AppendNumber(out, second, 2); break;
      case 'p': out += t.hour < 12 ? "AM" : "PM"; break;
      case 'b': out += month_name.substr(0, 3); break;
      case 'B': out += month_name; break;
      case 'a': out += day_name.substr(0, 3); break;
      case 'A': out += day_name; break;
      case 'j': AppendNumber(out, day_of_year, 3); break;
      case 'F':
        AppendNumber(out, t.year, 4), out += '-', AppendNumber(out, t.month, 2), out += '-';
        AppendNumber(out, t.day, 2);
        break;
      case 'T':
        AppendNumber(out, t.hour, 2), out += ':', AppendNumber(out, t.minute, 2), out += ':';
        AppendNumber(out, second, 2);
        break;
      case 'R': AppendNumber(out, t.hour, 2), out += ':', AppendNumber(out, t.minute, 2); break;
      case '%': out += '%'; break;
      default:  // not ours: kept for whoever reads it
        out += '%';
        out += field;
        break;
    }
  }
  return out;
}

void FrameStamper::Draw(uint8_t* pixels, int width, int height, int stride, const std::string& text,
                        int position, double height_percent) {
  if (!Ready() || pixels == nullptr || width <= 0 || height <= 0 || text.empty()) return;
  if (static_cast<int64_t>(stride) < static_cast<int64_t>(width) * 3) return;
  if (!std::isfinite(height_percent)) height_percent = kDefaultHeightPercent;
  height_percent = std::clamp(height_percent, kMinHeightPercent, kMaxHeightPercent);
  const int size = static_cast<int>(
      std::clamp<double>(std::lround(height * height_percent / 100.0), 1.0, double{kMaxTextPixels}));
  Impl& m = *impl_;
  if (!m.SetPixelSize(size)) return;
  if (text != m.mask_text || size != m.mask_pixel_size || width != m.mask_limit) m.BuildMask(text, width);
  if (m.mask_width == 0 || m.mask_height == 0) return;

  const int margin = size / 2;
  const bool right = position == kStampTopRight || (position != kStampTopLeft && position != kStampBottomLeft);
  const bool bottom = position != kStampTopLeft && position != kStampTopRight;
  const int left = right ? std::max(0, width - margin - m.mask_width) : margin;
  const int top = bottom ? std::max(0, height - margin - m.mask_height) : margin;

  // Rows and columns of the mask that land inside the frame.
  const int columns = std::min(m.mask_width, width - left);
  const int rows = std::min(m.mask_height, height - top);
  for (int r = 0; r < rows; ++r) {
    const int frame_row = height - 1 - (top + r);  // the frame is stored bottom-up
    uint8_t* dst = pixels + static_cast<size_t>(frame_row) * static_cast<size_t>(stride) + size_t{3} * left;
    const uint8_t* fill = m.mask_fill.data() + static_cast<size_t>(r) * m.mask_width;
    const uint8_t* outline = m.mask_outline.data() + static_cast<size_t>(r) * m.mask_width;
    for (int x = 0; x < columns; ++x, dst += 3) {
      const unsigned under = outline[x];
      if (under == 0) continue;
      const unsigned over = fill[x];
      for (int ch = 0; ch < 3; ++ch) {
        unsigned v = (dst[ch] * (255 - under) + 127) / 255;  // darken under the outline
        v = (v * (255 - over) + 255 * over + 127) / 255;       // then white letters
        dst[ch] = static_cast<uint8_t>(v);
      }
    }
  }
}

}  // namespace chronoreel
