// Glyph outlines of installed faces through FreeType (unhinted, in font units).
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H

#include <mutex>

#include "platform/Fonts.h"

namespace {

struct Decomposer {
  TGlyphOutlineSink* sink;
  double scale;
  double x = 0, y = 0;
  bool open = false;
};

int moveTo(const FT_Vector* to, void* user) {
  auto* d = static_cast<Decomposer*>(user);
  if (d->open) d->sink->Close();
  d->x = to->x * d->scale;
  d->y = to->y * d->scale;
  d->sink->MoveTo(d->x, d->y);
  d->open = true;
  return 0;
}

int lineTo(const FT_Vector* to, void* user) {
  auto* d = static_cast<Decomposer*>(user);
  d->x = to->x * d->scale;
  d->y = to->y * d->scale;
  d->sink->LineTo(d->x, d->y);
  return 0;
}

int conicTo(const FT_Vector* control, const FT_Vector* to, void* user) {
  auto* d = static_cast<Decomposer*>(user);
  const double cx = control->x * d->scale, cy = control->y * d->scale;
  const double ex = to->x * d->scale, ey = to->y * d->scale;
  // The cubic with the same shape as the quadratic.
  d->sink->CurveTo(d->x + 2.0 / 3.0 * (cx - d->x), d->y + 2.0 / 3.0 * (cy - d->y), ex + 2.0 / 3.0 * (cx - ex),
                   ey + 2.0 / 3.0 * (cy - ey), ex, ey);
  d->x = ex;
  d->y = ey;
  return 0;
}

int cubicTo(const FT_Vector* c1, const FT_Vector* c2, const FT_Vector* to, void* user) {
  auto* d = static_cast<Decomposer*>(user);
  d->x = to->x * d->scale;
  d->y = to->y * d->scale;
  d->sink->CurveTo(c1->x * d->scale, c1->y * d->scale, c2->x * d->scale, c2->y * d->scale, d->x, d->y);
  return 0;
}

}  // namespace

bool GetInstalledGlyphOutline(const TInstalledFace& face, uint32_t glyphIndex, double emSize, TGlyphOutlineSink& sink) {
  static std::mutex mutex;
  std::lock_guard<std::mutex> lock(mutex);
  FT_Library library = nullptr;
  if (FT_Init_FreeType(&library) != 0) return false;
  FT_Face ftFace = nullptr;
  bool ok = false;
  if (FT_New_Face(library, face.File.c_str(), face.Index, &ftFace) == 0) {
    if (ftFace->units_per_EM > 0 &&
        FT_Load_Glyph(ftFace, glyphIndex, FT_LOAD_NO_SCALE | FT_LOAD_NO_BITMAP) == 0 &&
        ftFace->glyph->format == FT_GLYPH_FORMAT_OUTLINE) {
      Decomposer d{&sink, emSize / ftFace->units_per_EM};
      FT_Outline_Funcs funcs{moveTo, lineTo, conicTo, cubicTo, 0, 0};
      ok = FT_Outline_Decompose(&ftFace->glyph->outline, &funcs, &d) == 0;
      if (d.open) sink.Close();
    }
    FT_Done_Face(ftFace);
  }
  FT_Done_FreeType(library);
  return ok;
}
