#include "platform/GdiCanvas.h"

namespace {
bool SamePen(const TPen& a, const TPen& b) { return a.Color == b.Color && a.Width == b.Width && a.Style == b.Style; }
bool SameBrush(const TBrush& a, const TBrush& b) { return a.Color == b.Color && a.Style == b.Style; }
}  // namespace

TCanvas::TCanvas(TBitmap& bitmap) : bitmap_(bitmap) {
  dc_ = CreateBitmapDC(bitmap_);
  if (!dc_) throw EBitmapError("Cannot draw on an empty bitmap");
}

TCanvas::~TCanvas() {
  DeleteDC(dc_);  // writes the pixels back and releases the selections
  if (penHandle_) DeleteObject(penHandle_);
  if (brushHandle_) DeleteObject(brushHandle_);
}

HDC TCanvas::Handle() {
  if (!realized_ || !SamePen(pen_, realizedPen_)) {
    HPEN pen = CreatePen(static_cast<int>(pen_.Style), pen_.Width, pen_.Color);
    if (pen) {
      SelectObject(dc_, pen);
      if (penHandle_) DeleteObject(penHandle_);
      penHandle_ = pen;
      realizedPen_ = pen_;
    }
  }
  if (!realized_ || !SameBrush(brush_, realizedBrush_)) {
    HBRUSH brush = brush_.Style == TBrushStyle::bsClear ? nullptr : CreateSolidBrush(brush_.Color);
    SelectObject(dc_, brush ? static_cast<HGDIOBJ>(brush) : GetStockObject(NULL_BRUSH));
    if (brushHandle_) DeleteObject(brushHandle_);
    brushHandle_ = brush;
    realizedBrush_ = brush_;
  }
  realized_ = true;
  return dc_;
}

void TCanvas::MoveTo(int x, int y) { MoveToEx(Handle(), x, y, nullptr); }
void TCanvas::LineTo(int x, int y) { ::LineTo(Handle(), x, y); }
void TCanvas::Rectangle(int left, int top, int right, int bottom) { ::Rectangle(Handle(), left, top, right, bottom); }
void TCanvas::Polygon(const POINT* points, int count) { ::Polygon(Handle(), points, count); }

void TCanvas::FillRect(const RECT& rect) {
  HDC dc = Handle();
  if (brushHandle_) ::FillRect(dc, &rect, brushHandle_);
}

void TCanvas::StretchDraw(const RECT& rect, const TGraphic& graphic) {
  HDC dc = Handle();
  if (const auto* bmp = dynamic_cast<const TBitmap*>(&graphic)) {
    if (!bmp->Empty())
      StretchDIBits(dc, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top, 0, 0, bmp->Width(),
                    bmp->Height(), *bmp, SRCCOPY);
    return;
  }
  TMemoryStream stream;
  graphic.SaveToStream(stream);
  TBitmap decoded;
  if (DecodePicture(stream.Bytes(), decoded))
    StretchDIBits(dc, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top, 0, 0, decoded.Width(),
                  decoded.Height(), decoded, SRCCOPY);
}

void TCanvas::Draw(int x, int y, const TGraphic& graphic) {
  StretchDraw(RECT{x, y, x + graphic.Width(), y + graphic.Height()}, graphic);
}

TColor TCanvas::Pixel(int x, int y) { return GetPixel(Handle(), x, y); }
void TCanvas::SetPixel(int x, int y, TColor color) { ::SetPixel(Handle(), x, y, color); }
void TCanvas::Flush() { GdiFlushDC(dc_); }
