// The concrete vector canvas through which pages, glyphs and images reach a
// device: one object per render call, drawing through exactly one back-end
// chosen when it is attached: 1 GDI (our GDI layer), 2 GDI+ (libgdiplus on
// the same pixel buffer), 3 an HTML5-canvas script, 4 cairo (loaded at run
// time), 5 the renderer's EPS output. Kind 0 (unattached) draws nothing.
// Each back-end is a class of its own behind TPicassoBackend
// (PavonaPicassoBackend.h); this class keeps the state they share.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "graphics/PavonaGenericCanvas.h"
#include "platform/Classes.h"
#include "platform/Gdi.h"
#include "platform/GdiCanvas.h"
#include "platform/GdiPlus.h"

class TCairoDLL;
class TPicassoBackend;
class TMetafile;
class TMetafileCanvas;

// Drawing settings handed to the back-end.
struct TGDIPlusSettings {
  // Library file; empty means the system's GDI+ ("gdiplus.dll", which is
  // libgdiplus here). "LazyInit": GDI+ is already started by the owner and
  // is neither started nor shut down by the back-end.
  std::string LibraryName;
  uint8_t AntiAlias = 0;             // switch 1: anti-aliased drawing
  uint8_t DrawPagesWithGdiPlus = 0;  // switch 2: read by the renderer
  uint8_t Switch3 = 0;               // switch 3: not read by the back-ends
  uint8_t ImageQuality = 0;          // switch 4: images drawn with the quality of switch 1
};

// Dash lengths in multiples of the line width.
using TGPDashArray = std::vector<float>;

// Back-end kinds, as Kind() reports them.
enum TPicassoKind : uint8_t { pkNone = 0, pkGDI = 1, pkGDIPlus = 2, pkHTML = 3, pkCairo = 4, pkEPS = 5 };

// How the inside of a path is found for filling and clipping. frUnset is the
// rule before any is set: each back-end then uses its device's default.
enum TFillRule : uint8_t { frUnset = 0, frNonZero = 1, frEvenOdd = 2 };

// A clip kept by SaveClip, to be given back to RestoreClip. The empty token
// (the default) stands for no saved clip: restoring it does nothing.
struct TClipToken {
  size_t Saved = 0;  // 1 + the position of the clip among the saved ones; 0: none

  explicit operator bool() const { return Saved != 0; }
  friend bool operator==(TClipToken a, TClipToken b) { return a.Saved == b.Saved; }
  // Compared with a number: 0 is the empty token.
  friend bool operator==(TClipToken a, size_t saved) { return a.Saved == saved; }
};

class TPDFPicasso : public TPDFGenericCanvas {
public:
  TPDFPicasso();
  ~TPDFPicasso() override;
  TPDFPicasso(const TPDFPicasso&) = delete;
  TPDFPicasso& operator=(const TPDFPicasso&) = delete;

  // Attaching. The canvas, device context and streams must outlive the object.
  void SetCanvas(TCanvas& canvas);
  // Before AttachCanvas: the page is recorded as a metafile of width x
  // height pixels at dpi dots per inch (the frame gives its physical size)
  // and written into the stream by EndStreamTarget. libgdiplus records no
  // metafile data, so the drawing goes through GDI (kind 1) onto our own
  // metafile recorder, which writes an EMF+ dual metafile: GDI+ readers play
  // its GDI records, other readers read it as the plain EMF it also is.
  void SetStreamTarget(int width, int height, TStream& stream, double dpi = 96);
  // Completes the recording and writes it into the stream set by
  // SetStreamTarget (nothing without one). Raises EEmfWriteError when the
  // metafile cannot be made and EWriteError when the stream takes it only
  // in part; the stream is then cut back to what it held before. A
  // recording never completed is dropped: nothing reaches the stream.
  void EndStreamTarget();
  // Before AttachCanvas: kind 2 draws on this device context.
  void SetDeviceContext(int width, int height, HDC dc);
  // Kind 2 on the canvas (or the device context set before); falls back to
  // kind 1 on the same canvas when GDI+ is unavailable.
  void AttachCanvas(TCanvas* canvas, const TGDIPlusSettings& settings);
  // Kind 4 drawing on the device context's pixels with cairo loaded from
  // libraryPath; when cairo cannot be loaded (or lacks an entry point) the
  // page is drawn by GDI (kind 1) on the same device context instead.
  void BeginCairo(HDC dc, const std::string& libraryPath, bool clearToWhite);
  // Kind 3: writes the page head; EndHTMLCanvas writes the tail.
  void BeginHTMLCanvas(TStream& stream);
  void EndHTMLCanvas(int width, int height);
  TPicassoKind Kind() const { return kind_; }

  // State setters; each back-end reads them when painting.
  void SetFillColor(TColor color) { fillColor_ = color; }
  void SetStrokeColor(TColor color) { strokeColor_ = color; }
  void SetFillAlpha(double alpha) { fillAlpha_ = alpha; }
  void SetStrokeAlpha(double alpha) { strokeAlpha_ = alpha; }
  void SetLineWidth(double width) { lineWidth_ = width; }
  void SetLineCap(int cap) { lineCap_ = cap; }
  void SetLineJoin(int join) { lineJoin_ = join; }
  void SetMiterLimit(double limit) { miterLimit_ = limit; }
  void SetDashPattern(const TGPDashArray& dashes, double phase);
  void SetFillRule(TFillRule rule);

  // Clipping: the current path becomes the clip, by this rule, at its
  // painting operation or at EndPathNoPaint. The rule is also the fill rule
  // until SetFillRule changes that: a fill rule set before the painting
  // leaves the clip's rule alone.
  void SetClip(TFillRule rule);
  void EndPathNoPaint();
  // A token of the current clip (the empty token on kinds without clipping).
  TClipToken SaveClip();
  void RestoreClip(TClipToken saved);
  // Number of clips saved and still restorable.
  size_t SavedClipCount() const;

  // The vector canvas.
  void BeginPath() override;
  void MoveTo(double x, double y) override;
  void LineTo(double x, double y) override;
  void CurveTo(double x1, double y1, double x2, double y2, double x3, double y3) override;
  void QuadraticCurveTo(double cx, double cy, double x, double y) override;
  void ClosePath() override;
  void StrokePath() override;
  void FillPath() override;
  void FillAndStrokePath() override;
  void DrawImage(const TGraphic& image, double x0, double y0, double x1, double y1, double x2, double y2) override;
  // Draws a premultiplied 32-bit picture as it stands, without the copy
  // DrawImage makes (pictures the renderer prepared and keeps); any other
  // bitmap goes through DrawImage.
  void DrawPremultiplied(const TBitmap& picture, double x0, double y0, double x1, double y1, double x2, double y2);

  // Glyphs from a glyph cache (kind 4 only): the loaded drawing library, to
  // rasterise masks with (nullptr on other kinds), and the blend of an 8-bit
  // coverage mask (width x height, rows of stride bytes) with its first pixel
  // at device pixel (x, y), in the fill colour and alpha, inside the clip.
  TCairoDLL* CairoLibrary() const;
  void FillMask(const uint8_t* bits, int width, int height, int stride, int x, int y);
  // The device pixels [0, width) x [0, height) masks can show in (false on
  // kinds that draw no masks).
  bool MaskArea(int& width, int& height) const;

  // Images.
  void DrawBitmap(const TBitmap& bitmap, double x, double y, double w, double h);
  void DrawImageStream(TStream& stream, bool useColourManagement, double x, double y, double w, double h);
  void DrawImageStreamPoints(TStream& stream, double x0, double y0, double x1, double y1, double x2, double y2);
  // Pixels whose colour lies within [low, high] (GDI+ colour values: blue in
  // bits 0-7, red in 16-23) are transparent.
  void DrawImageStreamKeyed(TStream& stream, int sourceWidth, int sourceHeight, uint32_t lowColor,
                            uint32_t highColor, double x0, double y0, double x1, double y1, double x2, double y2);
  // Re-encodes the picture in source with the GDI+ encoder; true on success.
  bool ConvertImageStream(TStream& source, TStream& target, const gdip::CLSID& encoder);
  const gdip::CLSID& BmpEncoder() const { return bmpEncoder_; }
  const gdip::CLSID& PngEncoder() const { return pngEncoder_; }

protected:
  // Makes the back-end draw everything from now on (kinds drawn by a
  // subclass, such as the renderer's EPS output, attach theirs here).
  void SelectBackend(std::unique_ptr<TPicassoBackend> backend, TPicassoKind kind);

private:
  // The back-ends read the shared drawing state.
  friend class TPicassoBackend;

  enum class Op : uint8_t { Move, Line, Curve, Close };
  struct Seg {
    Op op;
    double x[3], y[3];
  };
  using Path = std::vector<Seg>;
  struct ClipPath {
    Path path;
    TFillRule rule;
    std::string htmlPath;  // the script's path statements (kind 3)
  };
  enum class TPaintKind { Fill, Stroke, FillStroke };
  struct TColorKey;

  void DrawPicture(TBitmap& picture, const double pts[6], const TColorKey* key);
  void DrawEncoded(const std::string& bytes, const double pts[6], const TColorKey* key);

  double curX_ = 0, curY_ = 0;
  TGDIPlusSettings settings_;
  TColor fillColor_ = 0, strokeColor_ = 0;
  double lineWidth_ = 1;
  int lineCap_ = 0, lineJoin_ = 0;
  double miterLimit_ = 10;
  TGPDashArray dashes_;
  double dashPhase_ = 0;
  TPicassoKind kind_ = pkNone;
  TCanvas* canvas_ = nullptr;
  double strokeAlpha_ = 1.0, fillAlpha_ = 1.0;
  TFillRule fillRule_ = frUnset;
  TFillRule clipRule_ = frUnset;
  bool clipPending_ = false;
  bool clipChanged_ = true;
  TClipToken currentClip_;
  // Metafile target of kind 2.
  bool streamTarget_ = false;
  int streamWidth_ = 0, streamHeight_ = 0;
  TStream* metafileStream_ = nullptr;
  double streamDpi_ = 96;
  // The recording of the stream target while it is drawn (the canvas goes
  // first: closing it completes the metafile).
  std::unique_ptr<TMetafile> recording_;
  std::unique_ptr<TMetafileCanvas> recordingCanvas_;
  // Device-context target of kind 2 (and of kind 1 when cairo is missing).
  bool dcTarget_ = false;
  int dcWidth_ = 0, dcHeight_ = 0;
  HDC dc_ = nullptr;
  gdip::CLSID bmpEncoder_{}, pngEncoder_{};
  // The attached back-end; unattached, one that draws nothing.
  std::unique_ptr<TPicassoBackend> backend_;
  // The clip as a list of paths (kinds that cannot save their device's
  // clip) and its saved copies: token = position + 1.
  std::vector<std::vector<ClipPath>> savedClips_;
  std::vector<ClipPath> clip_;
};
