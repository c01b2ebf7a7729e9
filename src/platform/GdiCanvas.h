// The class library's canvas over a bitmap: pen, brush and drawing calls
// that realise themselves as GDI objects on the canvas's device context.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/Bitmap.h"
#include "platform/Gdi.h"

enum class TPenStyle { psSolid, psDash, psDot, psDashDot, psDashDotDot, psClear, psInsideFrame };
enum class TBrushStyle { bsSolid, bsClear };

struct TPen {
  TColor Color = 0;  // black
  int Width = 1;
  TPenStyle Style = TPenStyle::psSolid;
};

struct TBrush {
  TColor Color = 0xFFFFFF;  // white
  TBrushStyle Style = TBrushStyle::bsSolid;
};

class TCanvas {
public:
  // The bitmap must outlive the canvas and keep its size while it exists.
  explicit TCanvas(TBitmap& bitmap);
  ~TCanvas();
  TCanvas(const TCanvas&) = delete;
  TCanvas& operator=(const TCanvas&) = delete;

  // The device context, with GDI objects matching Pen and Brush selected.
  HDC Handle();
  TPen& Pen() { return pen_; }
  TBrush& Brush() { return brush_; }
  TBitmap& Bitmap() { return bitmap_; }

  void MoveTo(int x, int y);
  void LineTo(int x, int y);
  void Rectangle(int left, int top, int right, int bottom);
  void FillRect(const RECT& rect);
  void Polygon(const POINT* points, int count);
  // Stretches a picture (a bitmap, or anything that saves itself as BMP or
  // PNG) into the rectangle; a picture that cannot be decoded is skipped.
  void StretchDraw(const RECT& rect, const TGraphic& graphic);
  void Draw(int x, int y, const TGraphic& graphic);
  TColor Pixel(int x, int y);
  void SetPixel(int x, int y, TColor color);
  // Writes pending pixels into the bitmap (also done on destruction).
  void Flush();

private:
  TBitmap& bitmap_;
  HDC dc_ = nullptr;
  TPen pen_;
  TBrush brush_;
  TPen realizedPen_;
  TBrush realizedBrush_;
  HPEN penHandle_ = nullptr;
  HBRUSH brushHandle_ = nullptr;
  bool realized_ = false;
};
