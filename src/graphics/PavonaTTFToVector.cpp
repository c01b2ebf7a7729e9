#include "graphics/PavonaTTFToVector.h"

void TFontCurveCollection::AddContour(double x, double y) {
  starts_.push_back(TPDFPoint{x, y});
  segments_.emplace_back();
}

void TFontCurveCollection::AddSegment(double x, double y) {
  if (segments_.empty()) AddContour(x, y);  // a segment always belongs to a contour
  segments_.back().push_back(TFontCurveSegment{x, y});
}

void TFontCurveCollection::Clear() {
  starts_.clear();
  segments_.clear();
}

TTTFToVectorConverter::TTTFToVectorConverter() { Font.Name = "Arial"; }

void TTTFToVectorConverter::SetFont(const TFont& font) {
  Font.Name = font.Name;
  Font.Style = font.Style;
  Font.Charset = font.Charset;
}

void TTTFToVectorConverter::Prepare() { curves_.Clear(); }
