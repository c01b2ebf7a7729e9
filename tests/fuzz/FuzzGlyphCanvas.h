// A canvas that takes every drawing call and keeps nothing, for the glyph
// decoder fuzz targets.
#pragma once

#include "graphics/PavonaGenericCanvas.h"

class TFuzzNullCanvas : public TPDFGenericCanvas {
public:
  void BeginPath() override {}
  void MoveTo(double, double) override {}
  void LineTo(double, double) override {}
  void CurveTo(double, double, double, double, double, double) override {}
  void QuadraticCurveTo(double, double, double, double) override {}
  void ClosePath() override {}
  void StrokePath() override {}
  void FillPath() override {}
  void FillAndStrokePath() override {}
  void DrawImage(const TGraphic&, double, double, double, double, double, double) override {}
};
