// EPS export and the Stucki error-diffusion ditherer behind its image masks.
#include "render/PavonaEPS.h"

#include <algorithm>
#include <cmath>

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
  const double x1 = currentX_ + (cx - currentX_) * 2 / 3, y1 = currentY_ + (cy - currentY_) * 2 / 3;
  const double x2 = x + (cx - x) * 2 / 3, y2 = y + (cy - y) * 2 / 3;
  CurveTo(x1, y1, x2, y2, x, y);
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

void TPDFEPSExport::DrawImage(const TBitmap& image, const TBitmap* mask, std::string_view key) {
  const std::string k = NameSafe(key);
  if (mask && mask->Empty()) mask = nullptr;
  if (writtenImages_.IndexOf(key) < 0) {
    writtenImages_.Add(key);
    int mw = 0, mh = 0;
    if (mask) writeEncodedData(MaskRows(*mask, mw, mh), "maskstreamfor", k);
    writeEncodedData(RGBRows(image), "datastreamfor", k);
    const std::string w = std::to_string(image.Width()), h = std::to_string(image.Height());
    writeLine("/DeviceRGB setcolorspace");
    writeLine("/ImageDataDictionaryfor" + k + " 8 dict def");
    writeLine("ImageDataDictionaryfor" + k + " begin");
    writeLine("/ImageType 1 def");
    writeLine("/Width " + w + " def");
    writeLine("/Height " + h + " def");
    writeLine("/BitsPerComponent 8 def");
    writeLine("/DataSource datastreamfor" + k + " def");
    writeLine("/MultipleDataSources false def");
    writeLine("/ImageMatrix [ " + w + " 0 0 -" + h + " 0 " + h + " ] def");
    writeLine("/Decode [ 0 1 0 1 0 1 ] def");
    writeLine("end");
    if (mask) {
      const std::string sw = std::to_string(mw), sh = std::to_string(mh);
      writeLine("/ImageMaskDictionaryfor" + k + " 8 dict def");
      writeLine("ImageMaskDictionaryfor" + k + " begin");
      writeLine("/ImageType 1 def");
      writeLine("/Width " + sw + " def");
      writeLine("/Height " + sh + " def");
      writeLine("/BitsPerComponent 1 def");
      writeLine("/DataSource maskstreamfor" + k + " def");
      writeLine("/MultipleDataSources false def");
      writeLine("/ImageMatrix [ " + sw + " 0 0 -" + sh + " 0 " + sh + " ] def");
      writeLine("/Decode [ 1 0 ] def");
      writeLine("end");
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

void TEPSBackend::SetFillState(TColor color, const std::array<double, 4>* cmyk, int rule) {
  fillColor_ = ColorLine(color, cmyk);
  fillRule_ = rule;
}

void TEPSBackend::SetStrokeState(TColor color, const std::array<double, 4>* cmyk, double width, int cap, int join,
                                 double miterLimit) {
  strokeColor_ = ColorLine(color, cmyk);
  lineWidth_ = width;
  lineCap_ = cap;
  lineJoin_ = join;
  miterLimit_ = miterLimit;
}

void TEPSBackend::BeginPath() { path_.clear(); }

void TEPSBackend::MoveTo(double x, double y) {
  path_.push_back(TSegment{'m', {x, y}});
  curX_ = x, curY_ = y;
}

void TEPSBackend::LineTo(double x, double y) {
  path_.push_back(TSegment{'l', {x, y}});
  curX_ = x, curY_ = y;
}

void TEPSBackend::CurveTo(double x1, double y1, double x2, double y2, double x3, double y3) {
  path_.push_back(TSegment{'c', {x1, y1, x2, y2, x3, y3}});
  curX_ = x3, curY_ = y3;
}

void TEPSBackend::QuadraticCurveTo(double cx, double cy, double x, double y) {
  CurveTo(curX_ + (cx - curX_) * 2 / 3, curY_ + (cy - curY_) * 2 / 3, x + (cx - x) * 2 / 3, y + (cy - y) * 2 / 3, x,
          y);
}

void TEPSBackend::ClosePath() { path_.push_back(TSegment{'h', {}}); }

void TEPSBackend::writePath() {
  output_.NewPath();
  for (const TSegment& s : path_) {
    switch (s.op) {
      case 'm': output_.MoveTo(s.v[0], s.v[1]); break;
      case 'l': output_.LineTo(s.v[0], s.v[1]); break;
      case 'c': output_.CurveTo(s.v[0], s.v[1], s.v[2], s.v[3], s.v[4], s.v[5]); break;
      default: output_.ClosePath(); break;
    }
  }
}

void TEPSBackend::applyClip() {
  if (clipRule_ == 0) return;
  // A clip comes after the painting of its path and lasts until the state
  // saved before it is restored, as in the page.
  writePath();
  output_.Clip(clipRule_ == 2);
  output_.NewPath();
  clipRule_ = 0;
}

void TEPSBackend::paint(bool fill, bool stroke) {
  if (!path_.empty() && (fill || stroke)) {
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
  path_.clear();
}

void TEPSBackend::EndPath() {
  applyClip();
  path_.clear();
}

void TEPSBackend::StrokePath() { paint(false, true); }
void TEPSBackend::FillPath() { paint(true, false); }
void TEPSBackend::FillAndStrokePath() { paint(true, true); }

void TEPSBackend::DrawImage(const TGraphic& image, double x0, double y0, double x1, double y1, double x2,
                            double y2) {
  const auto* picture = dynamic_cast<const TBitmap*>(&image);
  if (!picture || picture->Empty()) return;
  const int w = picture->Width(), h = picture->Height();
  TBitmap pixels = *picture;
  pixels.SetPixelFormat(TPixelFormat::pf32bit);
  const bool premultiplied = picture->PixelFormat() == TPixelFormat::pf32bit &&
                             picture->AlphaFormat() == TAlphaFormat::afPremultiplied;
  const bool hasAlpha = picture->PixelFormat() == TPixelFormat::pf32bit &&
                        picture->AlphaFormat() != TAlphaFormat::afIgnored;
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
