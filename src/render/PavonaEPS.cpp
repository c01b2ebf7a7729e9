// EPS export and the Stucki error-diffusion ditherer behind its image masks.
#include "render/PavonaEPS.h"

#include <algorithm>
#include <cmath>

#include "graphics/PavonaPicassoBackend.h"
#include "objects/PavonaFlate.h"

// ---------------------------------------------------------------------------
// Dithering

uint8_t TMonochromeLookup::PickColor(uint8_t r, uint8_t g, uint8_t b, uint8_t& outR, uint8_t& outG, uint8_t& outB) {
  const int32_t luminance = 77 * r + 150 * g + 29 * b;
  const bool white = luminance > kMonochromeThreshold;
  outR = outG = outB = white ? 255 : 0;
  return white ? 1 : 0;
}

uint8_t TDitherEngine::DitherPixel(uint8_t r, uint8_t g, uint8_t b, uint8_t& outR, uint8_t& outG, uint8_t& outB) {
  uint8_t index = lookup_->PickColor(r, g, b, outR, outG, outB);
  column_ += direction_;
  return index;
}

void TDitherEngine::AdvanceRow() {
  direction_ = -direction_;
  column_ = direction_ > 0 ? 0 : width_ - 1;
}

T5by3Ditherer::T5by3Ditherer(int32_t width, TColorLookup* lookup) : TDitherEngine(std::max(width, 0), lookup) {
  for (auto& component : rows_)
    for (auto& row : component) row.assign(static_cast<size_t>(width_) + 4, 0);
}

uint8_t T5by3Ditherer::DitherPixel(uint8_t r, uint8_t g, uint8_t b, uint8_t& outR, uint8_t& outG, uint8_t& outB) {
  const int32_t half = divisor_ / 2;
  const uint8_t in[3] = {r, g, b};
  int32_t adjusted[3];
  for (int k = 0; k < 3; ++k) {
    int32_t error = rows_[k][0][static_cast<size_t>(position_)];
    adjusted[k] = std::clamp(in[k] + (error + half) / divisor_, 0, 255);
  }
  uint8_t index = TDitherEngine::DitherPixel(static_cast<uint8_t>(adjusted[0]), static_cast<uint8_t>(adjusted[1]),
                                             static_cast<uint8_t>(adjusted[2]), outR, outG, outB);
  const uint8_t out[3] = {outR, outG, outB};
  for (int k = 0; k < 3; ++k) {
    auto at = [&](int row) { return rows_[k][row].data() + position_; };
    SpreadError(at(0), at(1), adjusted[k] - out[k], at(2));
  }
  position_ += direction_;
  return index;
}

void T5by3Ditherer::AdvanceRow() {
  for (auto& component : rows_) {
    std::fill(component[0].begin(), component[0].end(), 0);
    std::swap(component[0], component[1]);  // next becomes current
    std::swap(component[1], component[2]);  // after-next becomes next, the cleared row after-next
  }
  TDitherEngine::AdvanceRow();
  doubleDirection_ = 2 * direction_;
  position_ = direction_ > 0 ? 2 : width_ + 1;
}

TStuckiDitherer::TStuckiDitherer(int32_t width, TColorLookup* lookup) : T5by3Ditherer(width, lookup) {
  divisor_ = 42;
}

void TStuckiDitherer::SpreadError(int32_t* current, int32_t* next, int32_t error, int32_t* afterNext) {
  if (error == 0) return;
  const int32_t d = direction_;  // +1: ahead is to the right
  current[d] += 8 * error;
  current[2 * d] += 4 * error;
  next[-2 * d] += 2 * error;
  next[-d] += 4 * error;
  next[0] += 8 * error;
  next[d] += 4 * error;
  next[2 * d] += 2 * error;
  afterNext[-2 * d] += error;
  afterNext[-d] += 2 * error;
  afterNext[0] += 4 * error;
  afterNext[d] += 2 * error;
  afterNext[2 * d] += error;
}

void DitherToMonochrome(const TBitmap& source, TBitmap& dest) {
  const int width = source.Width(), height = source.Height();
  dest.SetPixelFormat(TPixelFormat::pf8bit);
  dest.SetSize(width, height);
  TMonochromeLookup lookup;
  TStuckiDitherer ditherer(width, &lookup);
  const bool direct = source.PixelFormat() == TPixelFormat::pf24bit;
  for (int y = 0; y < height; ++y) {
    const uint8_t* in = source.ScanLine(y);
    uint8_t* out = dest.ScanLine(y);
    for (int x = ditherer.GetColumn(); x >= 0 && x < width; x = ditherer.GetColumn()) {
      uint8_t r, g, b;
      if (direct) {
        b = in[3 * x], g = in[3 * x + 1], r = in[3 * x + 2];
      } else {
        TColor c = source.Pixel(x, y);
        r = c & 0xFF, g = (c >> 8) & 0xFF, b = (c >> 16) & 0xFF;
      }
      uint8_t outR, outG, outB;
      out[x] = ditherer.DitherPixel(r, g, b, outR, outG, outB);
    }
    ditherer.AdvanceRow();
  }
}

// ---------------------------------------------------------------------------
// EPS export

namespace {

std::string Num(double v) {
  return FormatPDFNumber(4, v) + " ";
}
std::string Int(int64_t v) {
  return std::to_string(v) + " ";
}

// The 24-bit rows of an image, red-green-blue, top row first.
std::string RGBRows(const TBitmap& image) {
  const int w = image.Width(), h = image.Height();
  std::string out;
  out.reserve(size_t(w) * size_t(h) * 3);
  for (int y = 0; y < h; ++y) {
    if (image.PixelFormat() == TPixelFormat::pf24bit) {
      const uint8_t* row = image.ScanLine(y);
      for (int x = 0; x < w; ++x) {
        out += static_cast<char>(row[3 * x + 2]);
        out += static_cast<char>(row[3 * x + 1]);
        out += static_cast<char>(row[3 * x]);
      }
    } else {
      for (int x = 0; x < w; ++x) {
        TColor c = image.Pixel(x, y);
        out += static_cast<char>(c & 0xFF);
        out += static_cast<char>((c >> 8) & 0xFF);
        out += static_cast<char>((c >> 16) & 0xFF);
      }
    }
  }
  return out;
}

// The mask at twice its size, dithered to 1 bit per pixel (1 = white, shown),
// rows padded to whole bytes. A mask too large to double keeps its size.
std::string MaskRows(const TBitmap& mask, int& width, int& height) {
  const int scale = int64_t(mask.Width()) * mask.Height() * 4 <= TBitmap::MaxPixels() ? 2 : 1;
  width = mask.Width() * scale;
  height = mask.Height() * scale;
  TBitmap doubled(width, height, TPixelFormat::pf24bit);
  for (int y = 0; y < height; ++y) {
    uint8_t* row = doubled.ScanLine(y);
    for (int x = 0; x < width; ++x) {
      TColor c = mask.Pixel(x / scale, y / scale);
      row[3 * x] = static_cast<uint8_t>((c >> 16) & 0xFF);
      row[3 * x + 1] = static_cast<uint8_t>((c >> 8) & 0xFF);
      row[3 * x + 2] = static_cast<uint8_t>(c & 0xFF);
    }
  }
  TBitmap dithered;
  DitherToMonochrome(doubled, dithered);
  const size_t stride = (size_t(width) + 7) / 8;
  std::string out(stride * size_t(height), '\0');
  for (int y = 0; y < height; ++y) {
    const uint8_t* row = dithered.ScanLine(y);
    for (int x = 0; x < width; ++x)
      if (row[x]) out[size_t(y) * stride + size_t(x) / 8] |= static_cast<char>(0x80 >> (x % 8));
  }
  return out;
}

// The two cubic control points of the quadratic segment from (x0, y0)
// through (cx, cy) to (x, y).
std::array<double, 4> CubicControls(double x0, double y0, double cx, double cy, double x, double y) {
  return {x0 + (cx - x0) * 2 / 3, y0 + (cy - y0) * 2 / 3, x + (cx - x) * 2 / 3, y + (cy - y) * 2 / 3};
}

// Image keys become parts of PostScript names: letters and digits stay, every
// other byte becomes "_" and two hex digits, so a key from a file can neither
// end the name early nor clash with another key.
std::string NameSafe(std::string_view key) {
  static const char* hex = "0123456789ABCDEF";
  std::string out;
  for (char ch : key) {
    auto c = static_cast<unsigned char>(ch);
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) {
      out += ch;
    } else {
      out += '_';
      out += hex[c >> 4];
      out += hex[c & 15];
    }
  }
  return out;
}

}  // namespace

void TPDFEPSExport::writeLine(std::string line) {
  if (!line.empty() && line.back() == ' ') line.pop_back();
  lines_.Add(line);
}

void TPDFEPSExport::BeginPath() {
  writeLine("n");
}

void TPDFEPSExport::MoveTo(double x, double y) {
  writeLine(Num(x) + Num(y) + "m");
  currentX_ = x, currentY_ = y;
}

void TPDFEPSExport::LineTo(double x, double y) {
  writeLine(Num(x) + Num(y) + "l");
  currentX_ = x, currentY_ = y;
}

void TPDFEPSExport::CurveTo(double x1, double y1, double x2, double y2, double x3, double y3) {
  writeLine(Num(x1) + Num(y1) + Num(x2) + Num(y2) + Num(x3) + Num(y3) + "c");
  currentX_ = x3, currentY_ = y3;
}

void TPDFEPSExport::QuadraticCurveTo(double cx, double cy, double x, double y) {
  const auto c = CubicControls(currentX_, currentY_, cx, cy, x, y);
  CurveTo(c[0], c[1], c[2], c[3], x, y);
}

void TPDFEPSExport::ClosePath() {
  writeLine("h");
}

void TPDFEPSExport::StrokePath() {
  writeLine("s");
}

void TPDFEPSExport::FillPath() {
  writeLine("f");
}

void TPDFEPSExport::FillAndStrokePath() {
  // A PostScript fill consumes the path: fill a copy inside gsave/grestore.
  writeLine("q");
  writeLine("f");
  writeLine("Q");
  writeLine("s");
}

void TPDFEPSExport::DrawImage(const TGraphic&, double, double, double, double, double, double) {}

void TPDFEPSExport::WriteHeader(double llx, double lly, double urx, double ury) {
  lines_.Clear();
  lastColor_.clear();
  auto rounded = [](double v) {
    // Halves to even (the default rounding mode); absurd boxes are clamped.
    double r = std::nearbyint(std::isfinite(v) ? std::clamp(v, -1e15, 1e15) : 0.0);
    return Int(static_cast<int64_t>(r));
  };
  writeLine("%!PS-Adobe-3.0 EPSF-3.0");
  writeLine("%%BoundingBox: " + rounded(llx) + rounded(lly) + rounded(urx) + rounded(ury));
  writeLine("%%Creator: (Pavona Library DVer)");
  writeLine("%%DocumentProcessColors: (Cyan) (Magenta) (Yellow) (Black)");
  writeLine("%%EndComments");
  writeLine("%%PavonaLibrary-Start");
  for (const char* def :
       {"/c { curveto } def", "/cm { concat } def", "/cp { currentpoint } def", "/f { fill } def", "/f* { eofill } def",
        "/h { closepath } def", "/j { setlinejoin } def", "/J { setlinecap } def", "/l { lineto } def",
        "/m { moveto } def", "/M { setmiterlimit } def", "/n { newpath } def", "/q { gsave } def",
        "/Q { grestore } def", "/s { stroke } def", "/w { setlinewidth } def", "/W { clip } def", "/W* { eoclip } def"})
    writeLine(def);
  writeLine("%%PavonaLibrary-End");
  writtenImages_.Clear();
}

void TPDFEPSExport::WriteTrailer() {
  int32_t end = lines_.IndexOf("%%EndComments");
  if (end >= 0) {
    auto between = [](const std::string& line, bool withName) {
      size_t open = line.find('('), close = line.find(')');
      if (close == std::string::npos) return withName ? line : std::string();
      if (withName) return line.substr(0, close + 1);
      return open == std::string::npos || open > close ? std::string() : line.substr(open, close - open + 1);
    };
    for (int32_t i = 0; i < customColors_.GetCount(); ++i)
      lines_.Insert(end++, (i == 0 ? "%%DocumentCustomColors: " : "%%+ ") + between(customColors_.GetString(i), false));
    for (int32_t i = 0; i < customColors_.GetCount(); ++i)
      lines_.Insert(end++, (i == 0 ? "%%CMYKCustomColor: " : "%%+ ") + between(customColors_.GetString(i), true));
  }
  writeLine("%%EOF");
}

void TPDFEPSExport::ConcatMatrix(const TPDFMatrix& m) {
  writeLine("[ " + Num(m.a) + Num(m.b) + Num(m.c) + Num(m.d) + Num(m.e) + Num(m.f) + "] cm");
}

void TPDFEPSExport::Fill(bool evenOdd) {
  writeLine(evenOdd ? "f*" : "f");
}

void TPDFEPSExport::Clip(bool evenOdd) {
  writeLine(evenOdd ? "W*" : "W");
}

void TPDFEPSExport::Stroke() {
  writeLine("s");
}

void TPDFEPSExport::SaveState() {
  writeLine("q");
  colorStack_.Add(lastColor_);
}

void TPDFEPSExport::RestoreState() {
  writeLine("Q");
  if (int32_t n = colorStack_.GetCount(); n > 0) {
    lastColor_ = colorStack_.GetString(n - 1);
    colorStack_.Delete(n - 1);
  }
}

void TPDFEPSExport::SetLineCap(uint8_t n) {
  writeLine(Int(n) + "J");
}

void TPDFEPSExport::SetLineJoin(uint8_t n) {
  writeLine(Int(n) + "j");
}

void TPDFEPSExport::SetLineWidth(double w) {
  writeLine(Num(w) + "w");
}

void TPDFEPSExport::SetMiterLimit(double m) {
  writeLine(Num(m) + "M");
}

void TPDFEPSExport::SetColor(std::string_view line) {
  if (line.find("findcmykcustomcolor") != std::string_view::npos && customColors_.IndexOf(line) < 0)
    customColors_.Add(line);
  if (line == lastColor_) return;
  writeLine(std::string(line));
  lastColor_ = line;
}

void TPDFEPSExport::CurveToV(double x2, double y2, double x3, double y3) {
  writeLine("cp " + Num(x2) + Num(y2) + Num(x3) + Num(y3) + "c");
}

void TPDFEPSExport::CurveToY(double x1, double y1, double x3, double y3) {
  writeLine(Num(x1) + Num(y1) + Num(x3) + Num(y3) + Num(x3) + Num(y3) + "c");
}

void TPDFEPSExport::writeEncodedData(std::string_view bytes, std::string_view name, std::string_view key) {
  writeLine("currentfile /ASCII85Decode filter /FlateDecode filter");
  writeLine("/ReusableStreamDecode filter");
  writeLine(bytes.empty() ? std::string() : ASCII85EncodeString(CompressString(bytes)));
  writeLine("/" + std::string(name) + std::string(key) + " exch def");
}

void TPDFEPSExport::writeImageDictionary(const std::string& name, int width, int height, int bitsPerComponent,
                                         const std::string& source, std::string_view decode) {
  const std::string w = std::to_string(width), h = std::to_string(height);
  writeLine("/" + name + " 8 dict def");
  writeLine(name + " begin");
  writeLine("/ImageType 1 def");
  writeLine("/Width " + w + " def");
  writeLine("/Height " + h + " def");
  writeLine("/BitsPerComponent " + std::to_string(bitsPerComponent) + " def");
  writeLine("/DataSource " + source + " def");
  writeLine("/MultipleDataSources false def");
  writeLine("/ImageMatrix [ " + w + " 0 0 -" + h + " 0 " + h + " ] def");
  writeLine("/Decode [ " + std::string(decode) + " ] def");
  writeLine("end");
}

void TPDFEPSExport::DrawImage(const TBitmap& image, const TBitmap* mask, std::string_view key) {
  const std::string k = NameSafe(key);
  if (mask && mask->Empty()) mask = nullptr;
  if (writtenImages_.IndexOf(key) < 0) {
    writtenImages_.Add(key);
    int mw = 0, mh = 0;
    if (mask) writeEncodedData(MaskRows(*mask, mw, mh), "maskstreamfor", k);
    writeEncodedData(RGBRows(image), "datastreamfor", k);
    writeLine("/DeviceRGB setcolorspace");
    writeImageDictionary("ImageDataDictionaryfor" + k, image.Width(), image.Height(), 8, "datastreamfor" + k,
                         "0 1 0 1 0 1");
    if (mask) {
      writeImageDictionary("ImageMaskDictionaryfor" + k, mw, mh, 1, "maskstreamfor" + k, "1 0");
      writeLine("/MaskedImageDictionaryfor" + k + " 7 dict def");
      writeLine("MaskedImageDictionaryfor" + k + " begin");
      writeLine("/ImageType 3 def");
      writeLine("/InterleaveType 3 def");
      writeLine("/MaskDict ImageMaskDictionaryfor" + k + " def");
      writeLine("/DataDict ImageDataDictionaryfor" + k + " def");
      writeLine("end");
    }
  }
  if (mask) {
    writeLine("maskstreamfor" + k + " resetfile");
    writeLine("datastreamfor" + k + " resetfile");
    writeLine("MaskedImageDictionaryfor" + k + " image");
  } else {
    writeLine("datastreamfor" + k + " resetfile");
    writeLine("ImageDataDictionaryfor" + k + " image");
  }
}

void TPDFEPSExport::SaveToStream(TStream& stream) const {
  std::string out;
  for (int32_t i = 0; i < lines_.GetCount(); ++i) {
    out += lines_.GetString(i);
    out += "\r\n";
  }
  stream.WriteString(out);
}

// ---------------------------------------------------------------------------
// EPS back-end

namespace {

std::string ColorLine(TColor color, const std::array<double, 4>* cmyk) {
  if (cmyk) {
    return FormatPDFNumber(4, (*cmyk)[0]) + " " + FormatPDFNumber(4, (*cmyk)[1]) + " " +
           FormatPDFNumber(4, (*cmyk)[2]) + " " + FormatPDFNumber(4, (*cmyk)[3]) + " setcmykcolor";
  }
  return FormatPDFNumber(4, GetRValue(color) / 255.0) + " " + FormatPDFNumber(4, GetGValue(color) / 255.0) + " " +
         FormatPDFNumber(4, GetBValue(color) / 255.0) + " setrgbcolor";
}

}  // namespace

// The back-end behind TEPSBackend. Its colours and line settings are the ones
// the renderer hands TEPSBackend (CMYK colours and user-space widths), and its
// clips are undone by the export's saved states, not by the canvas.
class TPicassoEPS final : public TPicassoBackend {
public:
  TPicassoEPS(TPDFPicasso& owner, TPDFEPSExport& output) : TPicassoBackend(owner), output_(output) {}

  void SetFillState(TColor color, const std::array<double, 4>* cmyk, int rule) {
    fillColor_ = ColorLine(color, cmyk);
    fillRule_ = rule;
  }
  void SetStrokeState(TColor color, const std::array<double, 4>* cmyk, double width, int cap, int join,
                      double miterLimit) {
    strokeColor_ = ColorLine(color, cmyk);
    lineWidth_ = width;
    lineCap_ = cap;
    lineJoin_ = join;
    miterLimit_ = miterLimit;
  }
  void SetClipRule(int rule) { clipRule_ = rule; }
  void EndPath() {
    applyClip();
    path_.Clear();
  }

  void BeginPath() override { path_.Clear(); }
  void MoveTo(double x, double y) override { path_.MoveTo(x, y); }
  void LineTo(double x, double y) override { path_.LineTo(x, y); }
  void CurveTo(double x1, double y1, double x2, double y2, double x3, double y3) override {
    path_.CurveTo(x1, y1, x2, y2, x3, y3);
  }
  void QuadraticCurveTo(double cx, double cy, double x, double y) override {
    const auto c = CubicControls(CurrentX(), CurrentY(), cx, cy, x, y);
    CurveTo(c[0], c[1], c[2], c[3], x, y);
  }
  void ClosePath() override { path_.ClosePath(); }
  void Paint(PaintKind what) override { paint(what != PaintKind::Stroke, what != PaintKind::Fill); }
  // The renderer ends the path through EndPath, which knows the clip rule.
  void EndPathNoPaint() override {}
  bool PushSavedClip() override { return false; }
  size_t SavedClipCount() const override { return 0; }

  // Every bitmap is converted here, whatever its format.
  bool DrawBitmapAsIs(const TBitmap& picture, const double pts[6]) override {
    drawPicture(picture, pts);
    return true;
  }
  void DrawPicture(TBitmap& picture, const double pts[6], const ColorKey* key) override {
    if (key) ApplyColorKey(picture, *key);
    drawPicture(picture, pts);
  }

private:
  void writePath();
  void paint(bool fill, bool stroke);
  void applyClip();
  // A picture (with alpha = coverage, premultiplied or not) onto the
  // parallelogram of its upper-left, upper-right and lower-left corners.
  void drawPicture(const TBitmap& picture, const double pts[6]);

  TPDFEPSExport& output_;
  TPicassoRecordedPath path_;
  std::string fillColor_ = "0 0 0 setrgbcolor", strokeColor_ = "0 0 0 setrgbcolor";
  int fillRule_ = 1;
  double lineWidth_ = 1, miterLimit_ = 10;
  int lineCap_ = 0, lineJoin_ = 0;
  int clipRule_ = 0;  // 0: no clip pending
};

void TPicassoEPS::writePath() {
  output_.NewPath();
  for (const Seg& s : path_.Segments()) {
    switch (s.op) {
      case Op::Move: output_.MoveTo(s.x[0], s.y[0]); break;
      case Op::Line: output_.LineTo(s.x[0], s.y[0]); break;
      case Op::Curve: output_.CurveTo(s.x[0], s.y[0], s.x[1], s.y[1], s.x[2], s.y[2]); break;
      case Op::Close: output_.ClosePath(); break;
    }
  }
}

void TPicassoEPS::applyClip() {
  if (clipRule_ == 0) return;
  // A clip comes after the painting of its path and lasts until the state
  // saved before it is restored, as in the page.
  writePath();
  output_.Clip(clipRule_ == 2);
  output_.NewPath();
  clipRule_ = 0;
}

void TPicassoEPS::paint(bool fill, bool stroke) {
  if (!path_.Empty() && (fill || stroke)) {
    writePath();
    if (fill && stroke) {
      // PostScript's fill ends the path: the saved state keeps it for the stroke.
      output_.SaveState();
      output_.SetColor(fillColor_);
      output_.Fill(fillRule_ == 2);
      output_.RestoreState();
    } else if (fill) {
      output_.SetColor(fillColor_);
      output_.Fill(fillRule_ == 2);
    }
    if (stroke) {
      output_.SetColor(strokeColor_);
      output_.SetLineWidth(lineWidth_);
      output_.SetLineCap(static_cast<uint8_t>(std::clamp(lineCap_, 0, 2)));
      output_.SetLineJoin(static_cast<uint8_t>(std::clamp(lineJoin_, 0, 2)));
      output_.SetMiterLimit(std::max(1.0, miterLimit_));
      output_.Stroke();
    }
  }
  applyClip();
  path_.Clear();
}

void TPicassoEPS::drawPicture(const TBitmap& picture, const double pts[6]) {
  if (picture.Empty()) return;
  const double x0 = pts[0], y0 = pts[1], x1 = pts[2], y1 = pts[3], x2 = pts[4], y2 = pts[5];
  const int w = picture.Width(), h = picture.Height();
  TBitmap pixels = picture;
  pixels.SetPixelFormat(TPixelFormat::pf32bit);
  const bool premultiplied = picture.PixelFormat() == TPixelFormat::pf32bit &&
                             picture.AlphaFormat() == TAlphaFormat::afPremultiplied;
  const bool hasAlpha = picture.PixelFormat() == TPixelFormat::pf32bit &&
                        picture.AlphaFormat() != TAlphaFormat::afIgnored;
  TBitmap rgb(w, h, TPixelFormat::pf24bit), mask;
  bool translucent = false;
  uint64_t hash = 1469598103934665603ull;  // FNV-1a over the pixels: equal pictures share one key
  for (int y = 0; y < h; ++y) {
    const uint8_t* src = pixels.ScanLine(y);
    uint8_t* dst = rgb.ScanLine(y);
    for (int x = 0; x < w; ++x, src += 4, dst += 3) {
      const uint8_t a = hasAlpha ? src[3] : 255;
      for (int c = 0; c < 3; ++c) {
        uint8_t v = src[c];
        if (premultiplied && a != 0 && a != 255) v = static_cast<uint8_t>(std::min(255, (v * 255 + a / 2) / a));
        dst[c] = v;
      }
      if (a != 255) translucent = true;
      for (int c = 0; c < 4; ++c) hash = (hash ^ (c < 3 ? dst[c] : a)) * 1099511628211ull;
    }
  }
  if (translucent) {
    // Coverage as grey: the export dithers it into the stencil of the picture.
    mask = TBitmap(w, h, TPixelFormat::pf24bit);
    for (int y = 0; y < h; ++y) {
      const uint8_t* src = pixels.ScanLine(y);
      uint8_t* dst = mask.ScanLine(y);
      for (int x = 0; x < w; ++x, src += 4, dst += 3) dst[0] = dst[1] = dst[2] = src[3];
    }
  }
  static const char* digits = "0123456789ABCDEF";
  std::string key = "Pic";
  for (int i = 15; i >= 0; --i) key += digits[(hash >> (4 * i)) & 15];
  key += "x" + std::to_string(w) + "x" + std::to_string(h);
  // The unit square, row 0 at the top, onto the three corners.
  const TPDFMatrix m{x1 - x0, y1 - y0, x0 - x2, y0 - y2, x2, y2};
  output_.SaveState();
  output_.ConcatMatrix(m);
  output_.DrawImage(rgb, translucent ? &mask : nullptr, key);
  output_.RestoreState();
}

TEPSBackend::TEPSBackend(TPDFEPSExport& output) : output_(output) {
  auto backend = std::make_unique<TPicassoEPS>(*this, output);
  eps_ = backend.get();
  SelectBackend(std::move(backend), pkEPS);
}

void TEPSBackend::SetFillState(TColor color, const std::array<double, 4>* cmyk, int rule) {
  eps_->SetFillState(color, cmyk, rule);
}

void TEPSBackend::SetStrokeState(TColor color, const std::array<double, 4>* cmyk, double width, int cap, int join,
                                 double miterLimit) {
  eps_->SetStrokeState(color, cmyk, width, cap, join, miterLimit);
}

void TEPSBackend::SetClipRule(int rule) { eps_->SetClipRule(rule); }

void TEPSBackend::EndPath() { eps_->EndPath(); }
