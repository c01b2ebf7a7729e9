// Encapsulated PostScript output of a rendered page, and the error-diffusion
// dithering its image masks go through.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "graphics/PavonaGenericCanvas.h"
#include "graphics/PavonaMatrix.h"
#include "graphics/PavonaPicasso.h"
#include "objects/PavonaExtra.h"
#include "platform/Bitmap.h"
#include "platform/Classes.h"

// ---------------------------------------------------------------------------
// Dithering

// Luminance (77 R + 150 G + 29 B) above which the monochrome lookup picks white.
constexpr int32_t kMonochromeThreshold = 127 * 256;

// Maps a colour to one of a few output colours.
class TColorLookup {
public:
  explicit TColorLookup(int32_t colorCount) : ColorCount(colorCount) {}
  virtual ~TColorLookup() = default;
  // Chooses an output colour, stores its components and returns its index.
  virtual uint8_t PickColor(uint8_t r, uint8_t g, uint8_t b, uint8_t& outR, uint8_t& outG, uint8_t& outB) = 0;

  int32_t ColorCount;
};

// Index 0 black, index 1 white.
class TMonochromeLookup : public TColorLookup {
public:
  TMonochromeLookup() : TColorLookup(2) {}
  uint8_t PickColor(uint8_t r, uint8_t g, uint8_t b, uint8_t& outR, uint8_t& outG, uint8_t& outB) override;
};

// Walks a bitmap in serpentine order: left to right on the first row, right
// to left on the next, and so on. The caller dithers pixels while GetColumn()
// lies within the row, then calls AdvanceRow.
class TDitherEngine {
public:
  TDitherEngine(int32_t width, TColorLookup* lookup) : width_(width), lookup_(lookup) {}
  virtual ~TDitherEngine() = default;
  TDitherEngine(const TDitherEngine&) = delete;
  TDitherEngine& operator=(const TDitherEngine&) = delete;

  // Looks the colour up and moves one column on.
  virtual uint8_t DitherPixel(uint8_t r, uint8_t g, uint8_t b, uint8_t& outR, uint8_t& outG, uint8_t& outB);
  virtual void AdvanceRow();

  int32_t GetColumn() const { return column_; }
  int32_t GetDirection() const { return direction_; }
  int32_t GetWidth() const { return width_; }

protected:
  int32_t direction_ = 1;
  int32_t column_ = 0;
  int32_t width_;
  TColorLookup* lookup_;  // not owned
};

// Error diffusion over a kernel five columns wide and three rows deep. Each
// component keeps three rows of accumulated error (this row, the next, the
// one after), each with two spare entries on either side, so the kernel never
// tests bounds.
class T5by3Ditherer : public TDitherEngine {
public:
  T5by3Ditherer(int32_t width, TColorLookup* lookup);
  uint8_t DitherPixel(uint8_t r, uint8_t g, uint8_t b, uint8_t& outR, uint8_t& outG, uint8_t& outB) override;
  void AdvanceRow() override;

protected:
  // Adds one component's error to its three rows around the given positions.
  virtual void SpreadError(int32_t* current, int32_t* next, int32_t error, int32_t* afterNext) = 0;

  int32_t divisor_ = 1;
  int32_t doubleDirection_ = 2;

private:
  // [component][0 = current, 1 = next, 2 = after next]
  std::vector<int32_t> rows_[3][3];
  int32_t position_ = 2;  // the same entry in all nine rows
};

// The Stucki kernel (weights out of 42).
class TStuckiDitherer : public T5by3Ditherer {
public:
  TStuckiDitherer(int32_t width, TColorLookup* lookup);

protected:
  void SpreadError(int32_t* current, int32_t* next, int32_t error, int32_t* afterNext) override;
};

// Dithers a 24-bit bitmap to black and white: dest becomes an 8-bit bitmap
// of the same size holding 0 (black) or 1 (white) per pixel.
void DitherToMonochrome(const TBitmap& source, TBitmap& dest);

// ---------------------------------------------------------------------------
// EPS export

// A vector canvas that collects the lines of an EPSF 3.0 file. The renderer
// writes the header, draws the page through the canvas operations and the
// operations below, and writes the trailer; SaveToStream then writes the file.
class TPDFEPSExport : public TPDFGenericCanvas {
public:
  TPDFEPSExport() = default;

  // Canvas operations; each also keeps the current point (for
  // QuadraticCurveTo). The renderer calls the same MoveTo, LineTo, CurveTo
  // and ClosePath for its own path operators.
  void BeginPath() override;
  void MoveTo(double x, double y) override;
  void LineTo(double x, double y) override;
  void CurveTo(double x1, double y1, double x2, double y2, double x3, double y3) override;
  void QuadraticCurveTo(double cx, double cy, double x, double y) override;
  void ClosePath() override;
  void StrokePath() override;
  void FillPath() override;
  void FillAndStrokePath() override;
  // Writes nothing: images come through DrawImage(image, mask, key).
  void DrawImage(const TGraphic& image, double x0, double y0, double x1, double y1, double x2, double y2) override;

  void WriteHeader(double llx, double lly, double urx, double ury);
  void WriteTrailer();
  void NewPath() { BeginPath(); }
  void ConcatMatrix(const TPDFMatrix& m);
  void Fill(bool evenOdd);
  void Clip(bool evenOdd);
  void Stroke();
  void SaveState();
  void RestoreState();
  void SetLineCap(uint8_t n);
  void SetLineJoin(uint8_t n);
  void SetLineWidth(double w);
  void SetMiterLimit(double m);
  // A complete PostScript colour line; written only when it differs from the
  // colour in effect.
  void SetColor(std::string_view line);
  void CurveToV(double x2, double y2, double x3, double y3);
  void CurveToY(double x1, double y1, double x3, double y3);
  // Paints the image (with an optional soft or stencil mask, white = shown)
  // into the unit square of the current transformation. The first use of a
  // key stores the image in reusable streams; later uses replay them.
  void DrawImage(const TBitmap& image, const TBitmap* mask, std::string_view key);
  // Every line followed by CR LF.
  void SaveToStream(TStream& stream) const;

  const TPavonaStringList& GetLines() const { return lines_; }
  const TPavonaStringList& GetCustomColors() const { return customColors_; }

private:
  void writeLine(std::string line);
  void writeEncodedData(std::string_view bytes, std::string_view name, std::string_view key);
  // The dictionary of an ImageType 1 image read from the named stream.
  void writeImageDictionary(const std::string& name, int width, int height, int bitsPerComponent,
                            const std::string& source, std::string_view decode);

  TPavonaCaseSensitiveStringList lines_;
  TPavonaCaseSensitiveStringList writtenImages_;
  TPavonaCaseSensitiveStringList customColors_;
  TPavonaCaseSensitiveStringList colorStack_;
  std::string lastColor_;
  double currentX_ = 0, currentY_ = 0;
};

// The drawing back-end of the renderer's EPS output: a TPDFPicasso whose
// back-end (kind 5) writes to the export. The page is run with the identity
// as base transform, so the device points the canvas receives are user-space
// points; paths are collected and written to the export when they are painted
// or become a clip. The renderer tells it what the canvas state does not
// carry: the painting colours (with CMYK) and line settings before a paint,
// the clip rule, a path ended without painting, and saved states. Pictures
// are written as they come, with their coverage as a dithered mask.
class TPicassoEPS;

class TEPSBackend : public TPDFPicasso {
public:
  explicit TEPSBackend(TPDFEPSExport& output);

  void SetFillState(TColor color, const std::array<double, 4>* cmyk, int rule);
  void SetStrokeState(TColor color, const std::array<double, 4>* cmyk, double width, int cap, int join,
                      double miterLimit);
  void SetClipRule(int rule);
  void EndPath();
  void SaveState() { output_.SaveState(); }
  void RestoreState() { output_.RestoreState(); }

private:
  TPDFEPSExport& output_;
  TPicassoEPS* eps_;  // the attached back-end, owned by the canvas
};
