// Two small containers other parts fill or read: the outline converter for
// installed (not embedded) fonts with its contour collection, and the list
// of images met while a page is rendered for image extraction.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "graphics/PavonaMatrix.h"
#include "platform/Fonts.h"

// One segment of a contour: a line to its end point.
struct TFontCurveSegment {
  double x = 0, y = 0;
};

// Contours of a glyph outline: per contour its first point and its segments.
class TFontCurveCollection {
public:
  int ContourCount() const { return static_cast<int>(starts_.size()); }
  const TPDFPoint& ContourStart(int index) const { return starts_.at(static_cast<size_t>(index)); }
  const std::vector<TFontCurveSegment>& Segments(int index) const { return segments_.at(static_cast<size_t>(index)); }
  // Starts a contour at a point; segments are added to the last contour.
  void AddContour(double x, double y);
  void AddSegment(double x, double y);
  void Clear();

private:
  std::vector<TPDFPoint> starts_;
  std::vector<std::vector<TFontCurveSegment>> segments_;
};

class TTTFToVectorConverter {
public:
  TTTFToVectorConverter();
  virtual ~TTTFToVectorConverter() = default;
  // Copies the font's name, style and character set.
  virtual void SetFont(const TFont& font);
  // The conversion step, run after the caller has set the font and before it
  // walks the collection. It is given no glyph, so there is nothing to
  // convert: the collection is left empty and callers draw no outline.
  void Prepare();

  TFont Font;        // "Arial" after construction
  int FontSize = 28;  // set by callers: 72000 / scale, rounded (750 below scale 1)
  TFontCurveCollection& Curves() { return curves_; }
  const TFontCurveCollection& Curves() const { return curves_; }

private:
  TFontCurveCollection curves_;
};

// One image occurrence on a rendered page.
struct TPDFImageListItem {
  int32_t DataForm = 0;  // 1 JPEG, 2 other (BMP/PNG), 3 TIFF, as the image decoder reports it
  int32_t Width = 0;
  int32_t Height = 0;
  std::string Data;
  double Corners[8] = {};  // four points placing the image's corners on the page
};

class TPDFImageList {
public:
  // Appends a copy of the record.
  void Add(const TPDFImageListItem& item) { items_.push_back(item); }
  int Count() const { return static_cast<int>(items_.size()); }
  const TPDFImageListItem& Item(int index) const { return items_.at(static_cast<size_t>(index)); }
  const std::vector<TPDFImageListItem>& Items() const { return items_; }

private:
  std::vector<TPDFImageListItem> items_;
};
