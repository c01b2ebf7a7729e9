#include "graphics/PavonaPicasso.h"

#include "graphics/PavonaPicassoBackend.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "objects/PavonaExtra.h"
#include "platform/Cairo.h"

using namespace gdip;

namespace {

constexpr const char* kCRLF = "\r\n";
constexpr const char* kLazyInit = "LazyInit";

// GDI+ colour value: alpha in bits 24-31, red 16-23, green 8-15, blue 0-7.
ARGB GdipColor(TColor color, double opacity) {
  double a = std::clamp(opacity, 0.0, 1.0) * 255;
  auto alpha = static_cast<uint32_t>(std::nearbyint(a));
  return (alpha << 24) | (uint32_t(GetRValue(color)) << 16) | (uint32_t(GetGValue(color)) << 8) | GetBValue(color);
}

long RoundHalfEven(double v) { return std::lrint(v); }

// Longest side of a picture the drawing library can address (cairo's limit).
constexpr int kMaxPictureSide = 32767;

std::string Num(double v) { return FormatPDFNumber(3, v); }

std::string HexColor(TColor c) {
  static const char* digits = "0123456789ABCDEF";
  std::string s = "#";
  for (uint8_t b : {GetRValue(c), GetGValue(c), GetBValue(c)}) {
    s += digits[b >> 4];
    s += digits[b & 15];
  }
  return s;
}

// The whole stream from its start; false when it cannot all be read.
bool ReadWholeStream(TStream& stream, std::string& bytes) {
  try {
    int64_t size = stream.GetSize();
    if (size <= 0 || size > (int64_t(1) << 31)) return false;
    bytes.resize(static_cast<size_t>(size));
    stream.SetPosition(0);
    stream.ReadBuffer(bytes.data(), size);  // raises on a short read
    return true;
  } catch (const Exception&) {
    return false;
  }
}

// Makes pixels whose colour lies in [low, high] (per component, GDI+ colour
// values) transparent in a premultiplied 32-bit picture.
void ApplyColorKey(TBitmap& picture, uint32_t low, uint32_t high) {
  auto in = [](uint8_t v, uint32_t lo, uint32_t hi) { return v >= lo && v <= hi; };
  for (int y = 0; y < picture.Height(); ++y) {
    uint8_t* p = picture.ScanLine(y);
    for (int x = 0; x < picture.Width(); ++x, p += 4) {
      if (in(p[0], low & 0xFF, high & 0xFF) && in(p[1], (low >> 8) & 0xFF, (high >> 8) & 0xFF) &&
          in(p[2], (low >> 16) & 0xFF, (high >> 16) & 0xFF))
        p[0] = p[1] = p[2] = p[3] = 0;
    }
  }
}

}  // namespace

TPDFPicasso::TPDFPicasso() { savedRegions_.reserve(100); }

TPDFPicasso::~TPDFPicasso() {
  if (kind_ == pkGDIPlus) {
    if (path_) GdiPlus.GdipDeletePath(path_);
    for (GpRegion* r : savedRegions_) GdiPlus.GdipDeleteRegion(r);
    if (graphics_) GdiPlus.GdipDeleteGraphics(graphics_);
    if (gdipTarget_) GdiPlus.GdipDisposeImage(gdipTarget_);
    if (gdipDC_) ReleaseDCSurface(gdipDC_);
    if (token_ && settings_.LibraryName != kLazyInit) GdiPlusStop(token_);
  }
  // The back-end, if any, releases its device objects as it is destroyed.
}

TCairoDLL* TPDFPicasso::CairoLibrary() const { return backend_ ? backend_->CairoLibrary() : nullptr; }

// ---------------------------------------------------------------------------
// Attaching

void TPDFPicasso::SetCanvas(TCanvas& canvas) {
  canvas_ = &canvas;
  kind_ = pkGDI;
}

void TPDFPicasso::SetStreamTarget(int width, int height, TStream& stream) {
  streamTarget_ = true;
  streamWidth_ = width;
  streamHeight_ = height;
  metafileStream_ = &stream;
}

void TPDFPicasso::SetDeviceContext(int width, int height, HDC dc) {
  dcTarget_ = true;
  dcWidth_ = width;
  dcHeight_ = height;
  dc_ = dc;
}

bool TPDFPicasso::FallBackToGDI() {
  if (graphics_) GdiPlus.GdipDeleteGraphics(graphics_);
  if (gdipTarget_) GdiPlus.GdipDisposeImage(gdipTarget_);
  if (gdipDC_) ReleaseDCSurface(gdipDC_);
  if (token_ && settings_.LibraryName != kLazyInit) GdiPlusStop(token_);
  graphics_ = nullptr;
  gdipTarget_ = nullptr;
  gdipDC_ = nullptr;
  token_ = 0;
  kind_ = pkGDI;
  return false;
}

void TPDFPicasso::AttachCanvas(TCanvas* canvas, const TGDIPlusSettings& settings) {
  settings_ = settings;
  canvas_ = canvas;
  graphics_ = nullptr;
  token_ = 0;
  kind_ = pkGDIPlus;
  if (GdiPlusStatus() == gdipNotLoaded) {
    // The name given (or the system's), then the system's beside the executable.
    std::string name = settings.LibraryName == kLazyInit ? "" : settings.LibraryName;
    if (LoadGdiPlus(name) == gdipNoLibrary) LoadGdiPlus(ExecutableFolder() + kGdiPlusLibrary);
  }
  if (GdiPlusStatus() != gdipReady) {
    FallBackToGDI();
    return;
  }
  if (settings.LibraryName != kLazyInit) {
    if (!GdiPlusStart(token_)) {
      FallBackToGDI();
      return;
    }
  }
  if (!GetGdiPlusEncoderClsid("image/bmp", bmpEncoder_)) bmpEncoder_ = CLSID{};
  if (!GetGdiPlusEncoderClsid("image/png", pngEncoder_)) pngEncoder_ = CLSID{};
  if (streamTarget_) {
    // Metafile recording is not implemented by the library here.
    canvas_ = nullptr;
    FallBackToGDI();
    return;
  }
  // GDI+ draws in place on the device context's premultiplied pixels.
  HDC dc = dcTarget_ ? dc_ : canvas ? canvas->Handle() : nullptr;
  TGdiSurface surface;
  if (!dc || !GetDCSurface(dc, surface)) {
    FallBackToGDI();
    return;
  }
  gdipDC_ = dc;
  if (GdiPlus.GdipCreateBitmapFromScan0(surface.width, surface.height, surface.stride, PixelFormat32bppPARGB,
                                        surface.data, &gdipTarget_) != 0 ||
      GdiPlus.GdipGetImageGraphicsContext(gdipTarget_, &graphics_) != 0) {
    FallBackToGDI();
    return;
  }
  ApplyQuality(false);
  GdiPlus.GdipSetPageUnit(graphics_, UnitPixel);
}

void TPDFPicasso::ApplyQuality(bool forImage) {
  if (!graphics_) return;
  bool smooth = forImage ? settings_.ImageQuality != 0 && settings_.AntiAlias != 0 : settings_.AntiAlias != 0;
  GdiPlus.GdipSetSmoothingMode(graphics_, smooth ? SmoothingModeAntiAlias : SmoothingModeNone);
  GdiPlus.GdipSetInterpolationMode(graphics_, smooth ? InterpolationModeBicubic : InterpolationModeNearestNeighbor);
  GdiPlus.GdipSetPixelOffsetMode(graphics_, PixelOffsetModeHalf);
  smoothing_ = smooth;
}

void TPDFPicasso::BeginCairo(HDC dc, const std::string& libraryPath, bool clearToWhite) {
  auto lib = std::make_unique<TCairoDLL>();
  TGdiSurface surface;
  if (!GetDCSurface(dc, surface)) return;  // no device: stays unattached
  if (!lib->Load(libraryPath)) {
    // Without cairo the page is still drawn, by GDI on the same pixels.
    dc_ = dc;
    kind_ = pkGDI;
    if (clearToWhite) {
      RECT all{0, 0, surface.width, surface.height};
      FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    }
    return;
  }
  backend_ = CreateCairoBackend(*this, std::move(lib), dc, surface, clearToWhite);
  if (backend_) kind_ = pkCairo;
}

void TPDFPicasso::BeginHTMLCanvas(TStream& stream) {
  html_ = &stream;
  kind_ = pkHTML;
  std::string head;
  for (const char* line : {"<!DOCTYPE html><html><head><script type=\"text/javascript\">",
                           "function PavonaLibraryDraw() {", "  var canvas = document.getElementById(\"PVLCanvas\");",
                           "  if (canvas.getContext) {", "    var ctx = canvas.getContext(\"2d\");"}) {
    head += line;
    head += kCRLF;
  }
  WriteHTML(head);
}

void TPDFPicasso::EndHTMLCanvas(int width, int height) {
  if (kind_ != pkHTML) return;
  if (htmlSaved_) WriteHTML("ctx.restore();");
  htmlSaved_ = false;
  std::string tail;
  for (const char* line : {"  }", "}", "</script>", "</head><body onload=\"PavonaLibraryDraw()\">"}) {
    tail += line;
    tail += kCRLF;
  }
  tail += "<canvas id=\"PVLCanvas\" width=\"";
  tail += std::to_string(width);
  tail += "\" ";
  tail += "height=\"";
  tail += std::to_string(height);
  tail += "\"></canvas>";
  tail += kCRLF;
  tail += "</body></html>";
  WriteHTML(tail);
}

void TPDFPicasso::WriteHTML(const std::string& text) {
  if (html_ && !text.empty()) html_->WriteString(text);
}

void TPDFPicasso::HTMLPath(const std::string& text) {
  htmlPath_ += text;  // kept to set the path again as a clip
  WriteHTML(text);
}

// ---------------------------------------------------------------------------
// State

void TPDFPicasso::SetDashPattern(const TGPDashArray& dashes, double phase) {
  dashes_ = dashes;
  dashPhase_ = phase;
}

void TPDFPicasso::SetFillRule(int rule) {
  fillRule_ = static_cast<uint8_t>(rule);
  if (kind_ == pkGDIPlus && path_) {
    if (rule == 1) GdiPlus.GdipSetPathFillMode(path_, FillModeWinding);
    if (rule == 2) GdiPlus.GdipSetPathFillMode(path_, FillModeAlternate);
  }
}

void TPDFPicasso::SetClip(int rule) {
  SetFillRule(rule);
  clipPending_ = true;
  clipChanged_ = true;
}

// ---------------------------------------------------------------------------
// Paths

void TPDFPicasso::BeginPath() {
  switch (kind_) {
    case pkGDI: recorded_.clear(); break;
    case pkGDIPlus:
      if (path_) GdiPlus.GdipDeletePath(path_);
      path_ = nullptr;
      GdiPlus.GdipCreatePath(fillRule_ == 1 ? FillModeWinding : FillModeAlternate, &path_);
      break;
    case pkHTML:
      htmlPath_.clear();
      WriteHTML("ctx.beginPath();");
      break;
    case pkCairo: backend_->BeginPath(); break;
    default: break;
  }
}

void TPDFPicasso::MoveTo(double x, double y) {
  curX_ = x;
  curY_ = y;
  switch (kind_) {
    case pkGDI: recorded_.push_back(Seg{Op::Move, {x}, {y}}); break;
    case pkGDIPlus:
      if (path_) GdiPlus.GdipStartPathFigure(path_);
      break;
    case pkHTML: HTMLPath("ctx.moveTo(" + Num(x) + "," + Num(y) + ");"); break;
    case pkCairo: backend_->MoveTo(x, y); break;
    default: break;
  }
}

void TPDFPicasso::LineTo(double x, double y) {
  switch (kind_) {
    case pkGDI: recorded_.push_back(Seg{Op::Line, {x}, {y}}); break;
    case pkGDIPlus:
      if (path_) GdiPlus.GdipAddPathLine(path_, REAL(curX_), REAL(curY_), REAL(x), REAL(y));
      break;
    case pkHTML: HTMLPath("ctx.lineTo(" + Num(x) + "," + Num(y) + ");"); break;
    case pkCairo: backend_->LineTo(x, y); break;
    default: break;
  }
  curX_ = x;
  curY_ = y;
}

void TPDFPicasso::CurveTo(double x1, double y1, double x2, double y2, double x3, double y3) {
  switch (kind_) {
    case pkGDI: recorded_.push_back(Seg{Op::Curve, {x1, x2, x3}, {y1, y2, y3}}); break;
    case pkGDIPlus:
      if (path_)
        GdiPlus.GdipAddPathBezier(path_, REAL(curX_), REAL(curY_), REAL(x1), REAL(y1), REAL(x2), REAL(y2), REAL(x3),
                                  REAL(y3));
      break;
    case pkHTML:
      HTMLPath("ctx.bezierCurveTo(" + Num(x1) + "," + Num(y1) + "," + Num(x2) + "," + Num(y2) + "," + Num(x3) + "," +
                Num(y3) + ");");
      break;
    case pkCairo: backend_->CurveTo(x1, y1, x2, y2, x3, y3); break;
    default: break;
  }
  curX_ = x3;
  curY_ = y3;
}

void TPDFPicasso::QuadraticCurveTo(double cx, double cy, double x, double y) {
  if (kind_ == pkHTML) {
    HTMLPath("ctx.quadraticCurveTo(" + Num(cx) + "," + Num(cy) + "," + Num(x) + "," + Num(y) + ");");
    curX_ = x;
    curY_ = y;
    return;
  }
  // Degree elevation: the cubic with the same curve.
  double c1x = curX_ + (cx - curX_) * 2.0 / 3.0, c1y = curY_ + (cy - curY_) * 2.0 / 3.0;
  double c2x = cx + (x - cx) / 3.0, c2y = cy + (y - cy) / 3.0;
  CurveTo(c1x, c1y, c2x, c2y, x, y);
}

void TPDFPicasso::ClosePath() {
  switch (kind_) {
    case pkGDI: recorded_.push_back(Seg{Op::Close, {}, {}}); break;
    case pkGDIPlus:
      if (path_) GdiPlus.GdipClosePathFigure(path_);
      break;
    case pkHTML: HTMLPath("ctx.closePath();"); break;
    case pkCairo: backend_->ClosePath(); break;
    default: break;
  }
}

void TPDFPicasso::StrokePath() { Paint(TPaintKind::Stroke); }
void TPDFPicasso::FillPath() { Paint(TPaintKind::Fill); }
void TPDFPicasso::FillAndStrokePath() { Paint(TPaintKind::FillStroke); }

void TPDFPicasso::Paint(TPaintKind what) {
  switch (kind_) {
    case pkGDI: PaintGDI(what); break;
    case pkGDIPlus: PaintGdiPlus(what); break;
    case pkHTML: PaintHTML(what); break;
    case pkCairo: backend_->Paint(what); break;
    default: break;
  }
}

// ---------------------------------------------------------------------------
// GDI

void TPDFPicasso::ReplayGDI(HDC dc, const Path& path) {
  ::BeginPath(dc);
  for (const Seg& s : path) {
    switch (s.op) {
      case Op::Move: MoveToEx(dc, RoundHalfEven(s.x[0]), RoundHalfEven(s.y[0]), nullptr); break;
      case Op::Line: ::LineTo(dc, RoundHalfEven(s.x[0]), RoundHalfEven(s.y[0])); break;
      case Op::Curve: {
        POINT pts[3];
        for (int i = 0; i < 3; ++i) pts[i] = POINT{int32_t(RoundHalfEven(s.x[i])), int32_t(RoundHalfEven(s.y[i]))};
        PolyBezierTo(dc, pts, 3);
        break;
      }
      case Op::Close: CloseFigure(dc); break;
    }
  }
  ::EndPath(dc);
}

void TPDFPicasso::PaintGDI(TPaintKind what) {
  HDC dc = canvas_ ? canvas_->Handle() : dc_;
  if (!dc) return;
  SetPolyFillMode(dc, fillRule_ == 1 ? WINDING : ALTERNATE);
  HGDIOBJ oldBrush = nullptr, oldPen = nullptr;
  HBRUSH brush = nullptr;
  HPEN pen = nullptr;
  if (what != TPaintKind::Stroke) {
    brush = CreateSolidBrush(fillColor_);
    oldBrush = SelectObject(dc, brush);
  } else {
    oldBrush = SelectObject(dc, GetStockObject(NULL_BRUSH));
  }
  if (what != TPaintKind::Fill) {
    long width = RoundHalfEven(lineWidth_);
    if (width <= 0) {
      pen = CreatePen(PS_SOLID, 0, strokeColor_);
    } else {
      // The dash lengths, caps and joins of the stroke (in lengths of the width).
      DWORD style = PS_GEOMETRIC;
      style |= lineCap_ == 1 ? PS_ENDCAP_ROUND : lineCap_ == 2 ? PS_ENDCAP_SQUARE : PS_ENDCAP_FLAT;
      style |= lineJoin_ == 1 ? PS_JOIN_ROUND : lineJoin_ == 2 ? PS_JOIN_BEVEL : PS_JOIN_MITER;
      std::vector<DWORD> entries;
      for (float d : dashes_) entries.push_back(static_cast<DWORD>(std::max(0L, RoundHalfEven(d * lineWidth_))));
      bool dashed = !entries.empty() && entries.size() <= 16;
      style |= dashed ? PS_USERSTYLE : PS_SOLID;
      LOGBRUSH lb{BS_SOLID, strokeColor_ & 0xFFFFFF, 0};
      pen = ExtCreatePen(style, static_cast<DWORD>(width), &lb, dashed ? static_cast<DWORD>(entries.size()) : 0,
                         dashed ? entries.data() : nullptr);
    }
    oldPen = SelectObject(dc, pen);
    ::SetMiterLimit(dc, static_cast<float>(std::max(1.0, miterLimit_)), nullptr);
  } else {
    oldPen = SelectObject(dc, GetStockObject(NULL_PEN));
  }
  ReplayGDI(dc, recorded_);
  if (what == TPaintKind::Fill)
    ::FillPath(dc);
  else if (what == TPaintKind::Stroke)
    ::StrokePath(dc);
  else
    ::StrokeAndFillPath(dc);
  if (clipPending_) {
    ReplayGDI(dc, recorded_);
    SelectClipPath(dc, RGN_AND);
    clip_.push_back(ClipPath{recorded_, fillRule_, {}});
    currentClip_ = 0;
    clipPending_ = false;
  }
  if (oldPen) SelectObject(dc, oldPen);
  if (oldBrush) SelectObject(dc, oldBrush);
  if (pen) DeleteObject(pen);
  if (brush) DeleteObject(brush);
  recorded_.clear();
}

// ---------------------------------------------------------------------------
// GDI+

void TPDFPicasso::CreateGdiPlusPath() {
  if (!path_) GdiPlus.GdipCreatePath(fillRule_ == 1 ? FillModeWinding : FillModeAlternate, &path_);
}

void TPDFPicasso::PaintGdiPlus(TPaintKind what) {
  if (!graphics_ || !path_) return;
  int count = 0;
  GdiPlus.GdipGetPointCount(path_, &count);
  if (count == 2) GdiPlus.GdipAddPathLine(path_, REAL(curX_), REAL(curY_), REAL(curX_), REAL(curY_));
  GpPen* pen = nullptr;
  GpBrush* brush = nullptr;
  if (what != TPaintKind::Fill) {
    GdiPlus.GdipCreatePen1(GdipColor(strokeColor_, strokeAlpha_), REAL(lineWidth_), UnitPixel, &pen);
    if (!dashes_.empty()) {
      GdiPlus.GdipSetPenDashArray(pen, dashes_.data(), static_cast<int>(dashes_.size()));
      GdiPlus.GdipSetPenDashOffset(pen, REAL(dashPhase_));
    }
    if (lineJoin_ >= 0 && lineJoin_ <= 2)
      GdiPlus.GdipSetPenLineJoin(pen, lineJoin_ == 0 ? LineJoinMiter : lineJoin_ == 1 ? LineJoinRound : LineJoinBevel);
    if (lineCap_ >= 0 && lineCap_ <= 2) {
      int cap = lineCap_ == 0 ? LineCapFlat : lineCap_ == 1 ? LineCapRound : LineCapSquare;
      GdiPlus.GdipSetPenStartCap(pen, cap);
      GdiPlus.GdipSetPenEndCap(pen, cap);
    }
    GdiPlus.GdipSetPenMiterLimit(pen, REAL(miterLimit_));
  }
  if (what != TPaintKind::Stroke) GdiPlus.GdipCreateSolidFill(GdipColor(fillColor_, fillAlpha_), &brush);
  if (brush) GdiPlus.GdipFillPath(graphics_, brush, path_);
  if (pen) {
    // libgdiplus ignores the pixel offset mode and moves anti-aliased lines
    // by half a pixel (GDI+'s "none" mode); shift them back so that
    // coordinates are pixel corners, as the half mode has it.
    if (smoothing_) GdiPlus.GdipTranslateWorldTransform(graphics_, -0.5f, -0.5f, 0);
    GdiPlus.GdipDrawPath(graphics_, pen, path_);
    if (smoothing_) GdiPlus.GdipResetWorldTransform(graphics_);
  }
  if (clipPending_) {
    GdiPlus.GdipSetClipPath(graphics_, path_, CombineModeIntersect);
    currentClip_ = 0;
    clipPending_ = false;
  }
  if (pen) GdiPlus.GdipDeletePen(pen);
  if (brush) GdiPlus.GdipDeleteBrush(brush);
  GdiPlus.GdipDeletePath(path_);
  path_ = nullptr;
}

void TPDFPicasso::FillMask(const uint8_t* bits, int width, int height, int stride, int x, int y) {
  if (kind_ != pkCairo || !bits || width <= 0 || height <= 0) return;
  backend_->FillMask(bits, width, height, stride, x, y);
}

// ---------------------------------------------------------------------------
// HTML5 canvas

void TPDFPicasso::PaintHTML(TPaintKind what) {
  std::string text;
  auto alpha = [&](double a) {
    if (a != htmlAlpha_) {
      text += "ctx.globalAlpha=" + Num(a) + ";";
      htmlAlpha_ = a;
    }
  };
  if (what != TPaintKind::Stroke) {
    alpha(fillAlpha_);
    text += "ctx.fillStyle = \"" + HexColor(fillColor_) + "\";";
    text += fillRule_ == 2 ? "ctx.fill(\"evenodd\");" : "ctx.fill();";
  }
  if (what != TPaintKind::Fill) {
    alpha(strokeAlpha_);
    // Line settings reach the script only when they differ from what it has.
    HTMLLineState want;
    want.width = lineWidth_;
    want.cap = lineCap_ == 1 ? "round" : lineCap_ == 2 ? "square" : "butt";
    want.join = lineJoin_ == 1 ? "round" : lineJoin_ == 2 ? "bevel" : "miter";
    want.miter = miterLimit_;
    double unit = lineWidth_ > 0 ? lineWidth_ : 1.0;
    for (float d : dashes_) want.dashes += (want.dashes.empty() ? "" : ",") + Num(d * unit);
    want.phase = dashes_.empty() ? 0 : dashPhase_ * unit;
    if (want.width != htmlLine_.width) text += "ctx.lineWidth=" + Num(want.width) + ";";
    if (want.cap != htmlLine_.cap) text += "ctx.lineCap=\"" + want.cap + "\";";
    if (want.join != htmlLine_.join) text += "ctx.lineJoin=\"" + want.join + "\";";
    if (want.miter != htmlLine_.miter) text += "ctx.miterLimit=" + Num(want.miter) + ";";
    if (want.dashes != htmlLine_.dashes) text += "ctx.setLineDash([" + want.dashes + "]);";
    if (want.phase != htmlLine_.phase) text += "ctx.lineDashOffset=" + Num(want.phase) + ";";
    htmlLine_ = want;
    text += "ctx.strokeStyle = \"" + HexColor(strokeColor_) + "\";";
    text += "ctx.stroke();";
  }
  if (clipPending_) {
    // The canvas can only drop a clip by restoring a saved state: keep the
    // unclipped state saved once.
    if (!htmlSaved_) {
      text = "ctx.save();" + text;  // before any clip; the path is not part of the state
      htmlSaved_ = true;
      htmlBaseAlpha_ = htmlAlpha_;
      htmlBaseLine_ = htmlLine_;
    }
    text += fillRule_ == 2 ? "ctx.clip(\"evenodd\");" : "ctx.clip();";
    clip_.push_back(ClipPath{{}, fillRule_, htmlPath_});
    currentClip_ = 0;
    clipPending_ = false;
  }
  WriteHTML(text);
}

// ---------------------------------------------------------------------------
// Clipping

void TPDFPicasso::EndPathNoPaint() {
  if (kind_ == pkGDIPlus && path_) {
    int count = 0;
    GdiPlus.GdipGetPointCount(path_, &count);
    if (count == 2) GdiPlus.GdipAddPathLine(path_, REAL(curX_), REAL(curY_), REAL(curX_), REAL(curY_));
    if (clipPending_ && graphics_) {
      GdiPlus.GdipSetClipPath(graphics_, path_, CombineModeIntersect);
      currentClip_ = 0;
      clipPending_ = false;
    }
    GdiPlus.GdipDeletePath(path_);
    path_ = nullptr;
  } else if (kind_ == pkCairo) {
    backend_->EndPathNoPaint();
  } else if (clipPending_ && kind_ == pkGDI) {
    HDC dc = canvas_ ? canvas_->Handle() : dc_;
    if (dc) {
      SetPolyFillMode(dc, fillRule_ == 1 ? WINDING : ALTERNATE);
      ReplayGDI(dc, recorded_);
      SelectClipPath(dc, RGN_AND);
    }
    clip_.push_back(ClipPath{recorded_, fillRule_, {}});
    currentClip_ = 0;
    clipPending_ = false;
  } else if (clipPending_ && kind_ == pkHTML) {
    std::string text;
    if (!htmlSaved_) {
      text = "ctx.save();";
      htmlSaved_ = true;
      htmlBaseAlpha_ = htmlAlpha_;
      htmlBaseLine_ = htmlLine_;
    }
    text += fillRule_ == 2 ? "ctx.clip(\"evenodd\");" : "ctx.clip();";
    WriteHTML(text);
    clip_.push_back(ClipPath{{}, fillRule_, htmlPath_});
    currentClip_ = 0;
    clipPending_ = false;
  }
  recorded_.clear();
}

uintptr_t TPDFPicasso::SaveClip() {
  if (kind_ == pkGDIPlus) {
    if (!clipChanged_) return currentClip_;
    clipChanged_ = false;
    GpRegion* region = nullptr;
    GdiPlus.GdipCreateRegion(&region);
    if (!region) return 0;
    GdiPlus.GdipGetClip(graphics_, region);
    savedRegions_.push_back(region);  // the vector grows by itself
    currentClip_ = reinterpret_cast<uintptr_t>(region);
    return currentClip_;
  }
  if (kind_ == pkGDI || kind_ == pkCairo || kind_ == pkHTML) {
    if (!clipChanged_) return currentClip_;
    clipChanged_ = false;
    savedClips_.push_back(clip_);
    currentClip_ = savedClips_.size();  // index + 1
    return currentClip_;
  }
  return 0;
}

void TPDFPicasso::PruneSavedAfter(size_t index) {
  // Clips saved after the one restored belonged to states that are gone:
  // dropping them keeps the list as deep as the nesting, not as long as the page.
  if (kind_ == pkGDIPlus) {
    while (savedRegions_.size() > index + 1) {
      GdiPlus.GdipDeleteRegion(savedRegions_.back());
      savedRegions_.pop_back();
    }
  } else {
    if (savedClips_.size() > index + 1) savedClips_.resize(index + 1);
  }
}

void TPDFPicasso::RestoreClip(uintptr_t region) {
  if (region == 0) return;
  if (kind_ == pkGDIPlus) {
    auto it = std::find(savedRegions_.begin(), savedRegions_.end(), reinterpret_cast<GpRegion*>(region));
    if (it == savedRegions_.end()) return;  // not ours
    size_t index = static_cast<size_t>(it - savedRegions_.begin());
    if (region != currentClip_) {
      currentClip_ = region;
      GdiPlus.GdipSetClipRegion(graphics_, reinterpret_cast<GpRegion*>(region), CombineModeReplace);
    }
    PruneSavedAfter(index);
    return;
  }
  if (kind_ != pkGDI && kind_ != pkCairo && kind_ != pkHTML) return;
  if (region > savedClips_.size()) return;
  size_t index = region - 1;
  if (region != currentClip_) {
    currentClip_ = region;
    clip_ = savedClips_[index];
    if (kind_ == pkGDI) {
      HDC dc = canvas_ ? canvas_->Handle() : dc_;
      if (dc) {
        SelectClipRgn(dc, nullptr);
        for (const ClipPath& c : clip_) {
          SetPolyFillMode(dc, c.rule == 1 ? WINDING : ALTERNATE);
          ReplayGDI(dc, c.path);
          SelectClipPath(dc, RGN_AND);
        }
      }
    } else if (kind_ == pkCairo) {
      backend_->ApplyClip(clip_);
    } else if (htmlSaved_) {
      // Back to the unclipped state, then the saved clip again.
      std::string text = "ctx.restore();ctx.save();";
      htmlAlpha_ = htmlBaseAlpha_;
      htmlLine_ = htmlBaseLine_;
      for (const ClipPath& c : clip_)
        text += "ctx.beginPath();" + c.htmlPath + (c.rule == 2 ? "ctx.clip(\"evenodd\");" : "ctx.clip();");
      WriteHTML(text);
    }
  }
  PruneSavedAfter(index);
}

// ---------------------------------------------------------------------------
// Images

void TPDFPicasso::DrawPicture(TBitmap& picture, const double pts[6], bool keyed, uint32_t low, uint32_t high,
                              int srcW, int srcH) {
  const int w = picture.Width(), h = picture.Height();
  if (w <= 0 || h <= 0) return;
  if (kind_ == pkGDIPlus) {
    if (!graphics_) return;
    GpBitmap* image = nullptr;
    if (GdiPlus.GdipCreateBitmapFromScan0(w, h, picture.Stride(), PixelFormat32bppPARGB, picture.Bits(), &image) != 0)
      return;
    GpPointF p[3] = {{REAL(pts[0]), REAL(pts[1])}, {REAL(pts[2]), REAL(pts[3])}, {REAL(pts[4]), REAL(pts[5])}};
    ApplyQuality(true);
    if (keyed) {
      GpImageAttributes* attributes = nullptr;
      GdiPlus.GdipCreateImageAttributes(&attributes);
      if (attributes) {
        GdiPlus.GdipSetImageAttributesColorKeys(attributes, ColorAdjustTypeBitmap, 1, low, high);
        GdiPlus.GdipDrawImagePointsRect(graphics_, image, p, 3, 0, 0, REAL(srcW > 0 ? srcW : w),
                                        REAL(srcH > 0 ? srcH : h), UnitPixel, attributes, nullptr, nullptr);
        GdiPlus.GdipDisposeImageAttributes(attributes);
      }
    } else {
      GdiPlus.GdipDrawImagePoints(graphics_, image, p, 3);
    }
    ApplyQuality(false);
    GdiPlus.GdipDisposeImage(image);
    return;
  }
  if (kind_ != pkGDI && kind_ != pkCairo) return;
  if (keyed) ApplyColorKey(picture, low, high);
  if (kind_ == pkGDI) {
    HDC dc = canvas_ ? canvas_->Handle() : dc_;
    POINT p[3];
    for (int i = 0; i < 3; ++i)
      p[i] = POINT{int32_t(RoundHalfEven(pts[2 * i])), int32_t(RoundHalfEven(pts[2 * i + 1]))};
    if (dc) PlgBlt(dc, p, picture, 0, 0, w, h);
    return;
  }
  backend_->DrawPicture(picture, pts);
}

void TPDFPicasso::DrawEncoded(const std::string& bytes, const double pts[6], bool keyed, uint32_t low, uint32_t high,
                              int srcW, int srcH) {
  if (kind_ == pkNone || kind_ == pkHTML) return;
  TBitmap picture;
  if (!DecodePicture(bytes, picture)) return;  // a picture that cannot be loaded is skipped
  DrawPicture(picture, pts, keyed, low, high, srcW, srcH);
}

void TPDFPicasso::DrawImage(const TGraphic& image, double x0, double y0, double x1, double y1, double x2, double y2) {
  if (kind_ == pkNone || kind_ == pkHTML) return;
  const double pts[6] = {x0, y0, x1, y1, x2, y2};
  if (const auto* bitmap = dynamic_cast<const TBitmap*>(&image)) {
    // A bitmap is drawn from its pixels: the same picture its BMP file would
    // decode to, without writing and reading the file.
    if (kind_ == pkGDI && !(bitmap->PixelFormat() == TPixelFormat::pf32bit &&
                            bitmap->AlphaFormat() == TAlphaFormat::afPremultiplied)) {
      // GDI converts any bitmap to its drawing format once, as the decoded
      // picture would be: no intermediate copy.
      if (bitmap->Empty() || bitmap->Width() > kMaxPictureSide || bitmap->Height() > kMaxPictureSide) return;
      HDC dc = canvas_ ? canvas_->Handle() : dc_;
      POINT p[3];
      for (int i = 0; i < 3; ++i)
        p[i] = POINT{int32_t(RoundHalfEven(pts[2 * i])), int32_t(RoundHalfEven(pts[2 * i + 1]))};
      if (dc) PlgBlt(dc, p, *bitmap, 0, 0, bitmap->Width(), bitmap->Height());
      return;
    }
    TBitmap picture;
    if (!PremultipliedPicture(*bitmap, picture)) return;
    DrawPicture(picture, pts, false, 0, 0, 0, 0);
    return;
  }
  TMemoryStream stream;
  try {
    image.SaveToStream(stream);
  } catch (const Exception&) {
    return;
  }
  DrawEncoded(stream.Bytes(), pts, false, 0, 0, 0, 0);
}

void TPDFPicasso::DrawPremultiplied(const TBitmap& picture, double x0, double y0, double x1, double y1, double x2,
                                    double y2) {
  if (kind_ == pkNone || kind_ == pkHTML) return;
  if (picture.PixelFormat() != TPixelFormat::pf32bit || picture.AlphaFormat() != TAlphaFormat::afPremultiplied ||
      picture.Width() > kMaxPictureSide || picture.Height() > kMaxPictureSide) {
    DrawImage(picture, x0, y0, x1, y1, x2, y2);
    return;
  }
  const double pts[6] = {x0, y0, x1, y1, x2, y2};
  // Unkeyed drawing only reads the pixels.
  DrawPicture(const_cast<TBitmap&>(picture), pts, false, 0, 0, 0, 0);
}

void TPDFPicasso::DrawImageStreamPoints(TStream& stream, double x0, double y0, double x1, double y1, double x2,
                                        double y2) {
  std::string bytes;
  if (!ReadWholeStream(stream, bytes)) return;
  const double pts[6] = {x0, y0, x1, y1, x2, y2};
  DrawEncoded(bytes, pts, false, 0, 0, 0, 0);
}

void TPDFPicasso::DrawImageStreamKeyed(TStream& stream, int sourceWidth, int sourceHeight, uint32_t lowColor,
                                       uint32_t highColor, double x0, double y0, double x1, double y1, double x2,
                                       double y2) {
  std::string bytes;
  if (!ReadWholeStream(stream, bytes)) return;
  const double pts[6] = {x0, y0, x1, y1, x2, y2};
  DrawEncoded(bytes, pts, true, lowColor, highColor, sourceWidth, sourceHeight);
}

void TPDFPicasso::DrawImageStream(TStream& stream, bool /*useColourManagement: no colour profiles here*/, double x,
                                  double y, double w, double h) {
  std::string bytes;
  if (!ReadWholeStream(stream, bytes)) return;
  if (kind_ == pkGDIPlus) {
    TBitmap picture;
    if (!graphics_ || !DecodePicture(bytes, picture)) return;
    GpBitmap* image = nullptr;
    if (GdiPlus.GdipCreateBitmapFromScan0(picture.Width(), picture.Height(), picture.Stride(), PixelFormat32bppPARGB,
                                          picture.Bits(), &image) != 0)
      return;
    GdiPlus.GdipDrawImageRect(graphics_, image, REAL(x), REAL(y), REAL(w), REAL(h));
    GdiPlus.GdipDisposeImage(image);
    return;
  }
  const double pts[6] = {x, y, x + w, y, x, y + h};
  DrawEncoded(bytes, pts, false, 0, 0, 0, 0);
}

void TPDFPicasso::DrawBitmap(const TBitmap& bitmap, double x, double y, double w, double h) {
  if (bitmap.Empty()) return;
  if (kind_ == pkGDI) {
    RECT r{int32_t(RoundHalfEven(x)), int32_t(RoundHalfEven(y)), int32_t(RoundHalfEven(x + w)),
           int32_t(RoundHalfEven(y + h))};
    if (canvas_)
      canvas_->StretchDraw(r, bitmap);
    else if (dc_)
      StretchDIBits(dc_, r.left, r.top, r.right - r.left, r.bottom - r.top, 0, 0, bitmap.Width(), bitmap.Height(),
                    bitmap, SRCCOPY);
  } else if (kind_ == pkGDIPlus) {
    TMemoryStream stream(bitmap.SaveToBytes());
    DrawImageStream(stream, false, x, y, w, h);
  }
}

bool TPDFPicasso::ConvertImageStream(TStream& source, TStream& target, const CLSID& encoder) {
  if (GdiPlusStatus() != gdipReady) return false;
  std::string bytes;
  TBitmap picture;
  if (!ReadWholeStream(source, bytes) || !DecodePicture(bytes, picture)) return false;
  // With "LazyInit" the owner keeps GDI+ started; otherwise hold it started
  // for the conversion.
  const bool own = settings_.LibraryName != kLazyInit;
  uintptr_t token = 0;
  if (own && !GdiPlusStart(token)) return false;
  bool ok = false;
  GpBitmap* image = nullptr;
  if (GdiPlus.GdipCreateBitmapFromScan0(picture.Width(), picture.Height(), picture.Stride(), PixelFormat32bppPARGB,
                                        picture.Bits(), &image) == 0) {
    std::string out;
    if (SaveGdiPlusImage(image, encoder, out)) {
      try {
        target.WriteString(out);
        ok = true;
      } catch (const Exception&) {
        ok = false;
      }
    }
    GdiPlus.GdipDisposeImage(image);
  }
  if (own) GdiPlusStop(token);
  return ok;
}
