// Rasterised glyphs kept between text operations (and pages): filling a
// glyph's outline through the drawing library costs far more than blending a
// small coverage mask that was made once. A mask is keyed by the font (a
// number given to each loaded font program), the glyph key, the device
// matrix's 2x2 part and the glyph origin's sub-pixel phase (quarter pixels),
// both quantised so that repeated glyphs of a line share one mask. The masks
// are made with the drawing library itself, so their anti-aliasing is the
// one the outline fill would give. The cache holds a memory budget and drops
// the least recently used masks beyond it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <list>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "graphics/PavonaGenericCanvas.h"
#include "graphics/PavonaMatrix.h"

class TCairoDLL;
class TPDFFontRasterizer;

// One glyph's 8-bit coverage, placed relative to the whole pixel that holds
// the glyph origin (after phase rounding).
struct TPDFGlyphMask {
  int32_t Left = 0, Top = 0;  // offset of the mask's first pixel from the origin pixel
  int32_t Width = 0, Height = 0;
  int32_t Stride = 0;          // bytes per row (a multiple of 4, as the drawing library wants)
  std::vector<uint8_t> Bits;   // Stride * Height bytes; empty for a glyph without ink
  bool Empty() const { return Width <= 0 || Height <= 0; }
};

// A canvas that only records the outline a font rasterizer draws, in device
// units, to rasterise it into a mask.
class TPDFOutlineRecorder : public TPDFGenericCanvas {
public:
  enum class Op : uint8_t { Move, Line, Curve, Close };
  struct Seg {
    Op op;
    double x[3], y[3];
  };
  std::vector<Seg> Segments;

  void BeginPath() override { Segments.clear(); }
  void MoveTo(double x, double y) override;
  void LineTo(double x, double y) override;
  void CurveTo(double x1, double y1, double x2, double y2, double x3, double y3) override;
  void QuadraticCurveTo(double cx, double cy, double x, double y) override;
  void ClosePath() override;
  void StrokePath() override {}
  void FillPath() override {}
  void FillAndStrokePath() override {}
  void DrawImage(const TGraphic&, double, double, double, double, double, double) override {}
  // Bounds of every point, control points included (false when no point).
  bool Bounds(double& minX, double& minY, double& maxX, double& maxY) const;

private:
  double curX_ = 0, curY_ = 0;
};

class TPDFGlyphCache {
public:
  // Glyphs whose mask would be wider or taller than this many pixels are
  // drawn as outlines: their masks would crowd out many small ones, and big
  // text is rare enough that filling it costs little.
  static constexpr int32_t kMaxGlyphPixels = 256;
  // Sub-pixel positions of the glyph origin per pixel, in x and in y.
  static constexpr int32_t kPhasesX = 8, kPhasesY = 4;

  // The default budget holds the glyphs of several pages of body text at
  // screen resolutions (a 10-point glyph at 72 dpi takes a few hundred bytes
  // with its bookkeeping).
  explicit TPDFGlyphCache(size_t budgetBytes = 1u << 20);
  TPDFGlyphCache(const TPDFGlyphCache&) = delete;
  TPDFGlyphCache& operator=(const TPDFGlyphCache&) = delete;

  // The mask of a glyph drawn through matrix (glyph units to device pixels,
  // translation included) with its origin at glyph point (x, y). On success
  // originX/originY receive the whole device pixel the mask's Left/Top count
  // from. nullptr when the glyph is too large for a mask or cannot be
  // rasterised: the caller draws the outline instead. The mask stays valid
  // until the next call. With an area (device pixels [0, areaWidth) x
  // [0, areaHeight); 0 for none), a glyph not cached whose mask would fall
  // wholly outside it is measured but neither rasterised nor kept: an empty
  // mask comes back (text far off the page costs no fill).
  const TPDFGlyphMask* Find(TCairoDLL& cairo, uint64_t fontId, TPDFFontRasterizer& rasterizer,
                            std::string_view glyphKey, const TPDFMatrix& matrix, double x, double y, int32_t& originX,
                            int32_t& originY, int32_t areaWidth = 0, int32_t areaHeight = 0);

  void Clear();
  // A new budget; masks beyond it are dropped at once.
  void SetBudget(size_t budgetBytes);
  size_t UsedBytes() const { return used_; }
  size_t Budget() const { return budget_; }
  size_t Count() const { return entries_.size(); }
  // Lookups answered from the cache, and masks made.
  uint64_t Hits() const { return hits_; }
  uint64_t Misses() const { return misses_; }

  // Draws the recorded outline, shifted by (dx, dy), into an 8-bit mask of
  // width x height with the drawing library's anti-aliasing (nonzero rule).
  static bool Rasterize(TCairoDLL& cairo, const TPDFOutlineRecorder& outline, double dx, double dy,
                        TPDFGlyphMask& mask);

private:
  struct Key {
    uint64_t font;
    int32_t m[4];  // the 2x2 part in 1/64 pixel per em
    int8_t phaseX, phaseY;
    std::string glyph;
    bool operator==(const Key& o) const {
      return font == o.font && m[0] == o.m[0] && m[1] == o.m[1] && m[2] == o.m[2] && m[3] == o.m[3] &&
             phaseX == o.phaseX && phaseY == o.phaseY && glyph == o.glyph;
    }
  };
  struct KeyHash {
    size_t operator()(const Key& k) const;
  };
  struct Entry {
    Key key;
    TPDFGlyphMask mask;
    bool tooLarge = false;  // remembered so the outline is not measured again
    size_t bytes = 0;
  };
  using List = std::list<Entry>;

  void evict();

  size_t budget_;
  size_t used_ = 0;
  uint64_t hits_ = 0, misses_ = 0;
  List entries_;  // most recently used first
  std::unordered_map<Key, List::iterator, KeyHash> index_;
  TPDFOutlineRecorder recorder_;
  Key probe_;  // reused for lookups, so a hit allocates nothing
};

// A process-wide number for a newly loaded font program, never reused: masks
// of a font that was unloaded can never be taken for another font's.
uint64_t NewGlyphCacheFontId();
