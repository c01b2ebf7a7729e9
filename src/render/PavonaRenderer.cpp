// The page renderer: page box, rotation and device transform, the output
// target, then the content interpreter over the page.
#include "render/PavonaRenderer.h"
#include "render/PavonaTextFunnel.h"

#include <algorithm>
#include <cmath>

#include "platform/EmfWriter.h"
#include "platform/GdiCanvas.h"
#include "render/PavonaEPS.h"
#include "render/PavonaFontCollection.h"
#include "render/PavonaPrinting.h"
#include "render/PavonaRendererInternal.h"

namespace {

constexpr const char* kBoxNames[] = {"MediaBox", "CropBox", "BleedBox", "TrimBox", "ArtBox"};
// Deepest /Parent chain followed for inherited attributes.
constexpr int kMaxInheritance = 64;

// Rounds to the nearest integer (halves to even), within the range a bitmap
// side can have.
int32_t roundSide(double v) {
  if (!(v == v)) return 1;
  return static_cast<int32_t>(std::nearbyint(std::clamp(v, 0.0, 1e9)));
}

int32_t outputSide(double size, double resolution) {
  int32_t side = roundSide(size * resolution / 72);
  if (static_cast<double>(side) * 72 < size * resolution) ++side;
  return std::max(side, 1);
}

}  // namespace

TPDFRenderer::TPDFRenderer(TPDFFontCollection* fontCollection)
    : fontCollection_(fontCollection),
      bitmap_(std::make_unique<TBitmap>()),
      metafile_(std::make_unique<TMetafile>()),
      epsExport_(std::make_unique<TPDFEPSExport>()) {
  GDIPlusSettings.LibraryName = "gdiplus.dll";
  GDIPlusSettings.AntiAlias = 1;
}

TPDFRenderer::~TPDFRenderer() = default;

void TPDFRenderer::SetDeviceContext(HDC dc, bool hasDC, int32_t x, int32_t y) {
  targetDC_ = dc;
  hasDC_ = hasDC;
  dcX_ = x;
  dcY_ = y;
}

void TPDFRenderer::SetCairoTarget(HDC dc, const std::string& libraryPath, bool clearToWhite) {
  targetDC_ = dc;
  cairoLibrary_ = libraryPath;
  cairoClear_ = clearToWhite;
}

TPDFObject* TPDFRenderer::ResolveObject(TPDFObject* obj) const {
  TPDFIndRef* ref = PDFAsIndRef(obj);
  if (!ref) return obj;
  if (OnLookupObject) return OnLookupObject(ref);
  return ref->Resolve();
}

TPDFObject* TPDFRenderer::GetInheritedAttribute(TPDFDictionary* dictionary, std::string_view key) const {
  // The /Parent chain is followed a bounded number of steps, so a cycle ends.
  for (int depth = 0; dictionary && depth < kMaxInheritance; ++depth) {
    if (TPDFObject* value = dictionary->GetValue(key)) return ResolveObject(value);
    dictionary = PDFAsDictionary(ResolveObject(dictionary->GetValue("Parent")));
  }
  return nullptr;
}

bool TPDFRenderer::GetPageBox(std::string_view boxName, double& x1, double& y1, double& x2, double& y2) const {
  TPDFObject* value = GetInheritedAttribute(PageObject, boxName);
  if (!value) {
    if (boxName == "MediaBox") return false;
    if (boxName != "CropBox") value = GetInheritedAttribute(PageObject, "CropBox");
    if (!value) value = GetInheritedAttribute(PageObject, "MediaBox");
  }
  TPDFArray* array = PDFAsArray(value);
  if (!array || array->GetCount() < 4) return false;
  double v[4];
  for (int32_t i = 0; i < array->GetCount(); ++i) {
    TPDFNumeric* n = PDFAsNumeric(ResolveObject(array->GetItem(i)));
    if (!n) return false;
    if (i < 4) v[i] = n->GetValue();
  }
  for (double d : v) {
    if (!std::isfinite(d)) return false;
  }
  x1 = std::min(v[0], v[2]);
  x2 = std::max(v[0], v[2]);
  y1 = std::min(v[1], v[3]);
  y2 = std::max(v[1], v[3]);
  return true;
}

TPDFPoint TPDFRenderer::TransformPoint(const TPDFPoint& p) const {
  TPDFPoint result;
  MatrixTransformPoint(CTM, p, result);
  return result;
}

void TPDFRenderer::SetTextFunnel(TPDFTextFunnel* funnel) { funnel_ = funnel; }

TPDFTextFunnel* TPDFRenderer::GetTextFunnel() {
  if (funnel_) return funnel_;
  if (!ownFunnel_) ownFunnel_ = std::make_unique<TPDFTextFunnel>();
  return ownFunnel_.get();
}

TPDFRenderer::TPageGeometry TPDFRenderer::MeasurePage() {
  TPageGeometry g;
  if (Resolution == 0 || !std::isfinite(Resolution)) Resolution = 1;
  Resolution = std::clamp(std::fabs(Resolution), 1e-3, 1e5);
  if (!PageObject) return g;
  double x1 = 0, y1 = 0, x2 = 612, y2 = 792;
  const int32_t boxKind = std::clamp(PageBoxKind, 1, 5);
  GetPageBox(kBoxNames[boxKind - 1], x1, y1, x2, y2);
  double mx1 = 0, my1 = 0, mx2 = 612, my2 = 792;
  GetPageBox("MediaBox", mx1, my1, mx2, my2);
  // An empty or degenerate media box (or one of numbers too large to use)
  // shows a Letter page, as other readers do, instead of a 1 x 1 picture;
  // a visible box that is degenerate too follows it.
  auto usable = [](double a1, double b1, double a2, double b2) {
    return std::isfinite(a1) && std::isfinite(b1) && std::isfinite(a2) && std::isfinite(b2) && a2 - a1 >= 1 &&
           b2 - b1 >= 1;
  };
  if (!usable(mx1, my1, mx2, my2)) {
    mx1 = my1 = 0;
    mx2 = 612;
    my2 = 792;
    if (!usable(x1, y1, x2, y2)) x1 = 0, y1 = 0, x2 = 612, y2 = 792;
  }
  x1 = std::max(x1, mx1);
  y1 = std::max(y1, my1);
  x2 = std::min(x2, mx2);
  y2 = std::min(y2, my2);
  double boxWidth = x2 - x1, boxHeight = y2 - y1;
  // Boxes that do not overlap the media box leave nothing visible.
  if (boxWidth <= 0) boxWidth = 1;
  if (boxHeight <= 0) boxHeight = 1;
  int32_t rotate = 0;
  if (TPDFNumeric* r = PDFAsNumeric(GetInheritedAttribute(PageObject, "Rotate"))) {
    int64_t value = std::clamp<int64_t>(r->AsInteger(), -1000000, 1000000);
    rotate = static_cast<int32_t>(((value / 90) % 4) * 90);
    if (rotate < 0) rotate += 360;
  }
  if (rotate == 90 || rotate == 270) std::swap(boxWidth, boxHeight);
  g = TPageGeometry{x1, y1, x2, y2, boxWidth, boxHeight, rotate};
  if (OutputKind != rokImageList && OutputKind != rokText) {
    OutputWidth = outputSide(boxWidth, Resolution);
    OutputHeight = outputSide(boxHeight, Resolution);
  } else {
    OutputWidth = roundSide(x2) + 1;
    OutputHeight = roundSide(y2) + 1;
  }
  return g;
}

void TPDFRenderer::RenderPage() {
  UseSavedState = false;
  // What optional content shows depends on the page's document and the
  // output: weighed afresh for every page drawn.
  {
    TOptionalContent& oc = optionalContent_;
    oc.loaded = oc.baseOff = false;
    oc.groups.reset();
    oc.on.clear(), oc.off.clear();
    oc.decided.clear();
  }
  if (fontCollection_) fontCollection_->KeepDifferences = OutputKind == rokText;
  ErrorText.clear();
  Warnings.clear();
  OutputWidth = OutputHeight = 0;
  if (OutputKind == rokText) {
    // Text positions are user-space points: the resolution plays no part.
    Resolution = 72;
    GetTextFunnel()->Clear();
  }
  if (!PageObject) {
    ErrorText = "No page to render";
    return;
  }
  const TPageGeometry g = MeasurePage();
  CTM = IdentityMatrix;
  switch (OutputKind) {
    case rokMetafile:
    case rokEnhancedMetafile: RenderToMetafile(g); break;
    case rokPrinter: RenderToPrinter(g); break;
    case rokEPS: RenderToEPS(g); break;
    default: RenderToCanvas(g); break;
  }
}

void TPDFRenderer::RotateAndMove(const TPageGeometry& g, double width, double height) {
  TPDFMatrix rotation = IdentityMatrix;
  switch (g.rotate) {
    case 90: rotation = TPDFMatrix{0, -1, 1, 0, 0, height}; break;
    case 180: rotation = TPDFMatrix{-1, 0, 0, -1, width, height}; break;
    case 270: rotation = TPDFMatrix{0, 1, -1, 0, width, 0}; break;
    default: break;
  }
  MatrixMultiply(CTM, rotation, CTM);
  MatrixMultiply(CTM, TPDFMatrix{1, 0, 0, 1, -g.x1, -g.y1}, CTM);
}

void TPDFRenderer::RenderToMetafile(const TPageGeometry& g) {
  // Metafiles take the rounded size, without the pixel a bitmap adds.
  OutputWidth = std::max(1, roundSide(g.boxWidth * Resolution / 72));
  OutputHeight = std::max(1, roundSide(g.boxHeight * Resolution / 72));
  metafile_->Clear();
  metafile_->Enhanced = OutputKind == rokEnhancedMetafile;
  metafile_->Width = OutputWidth;
  metafile_->Height = OutputHeight;
  metafile_->DPI = Resolution;
  try {
    TMetafileCanvas canvas(*metafile_);
    if (!canvas.Handle()) throw EEmfWriteError("The metafile cannot be recorded");
    RECT page{0, 0, OutputWidth, OutputHeight};
    FillRect(canvas.Handle(), &page, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    const double s = Resolution / 72;
    MatrixMultiply(CTM, TPDFMatrix{s, 0, 0, -s, 0, double(OutputHeight)}, CTM);
    RotateAndMove(g, g.boxWidth, g.boxHeight);
    RenderOnDC(canvas.Handle(), OutputWidth, OutputHeight);
    canvas.Close();
  } catch (const EEmfWriteError& e) {
    metafile_->Clear();
    if (ErrorText.empty()) ErrorText = std::string("Rendering exception: ") + e.what();
  }
}

void TPDFRenderer::RenderToPrinter(const TPageGeometry& g) {
  TPrinterCanvas* printerCanvas = Printer ? Printer->GetCanvas() : nullptr;
  HDC dc = printerCanvas ? printerCanvas->Handle() : nullptr;
  if (!dc) {
    ErrorText = "Rendering exception: no printer to print on";
    return;
  }
  OutputWidth = GetDeviceCaps(dc, PHYSICALWIDTH);
  OutputHeight = GetDeviceCaps(dc, PHYSICALHEIGHT);
  RECT paper{0, 0, OutputWidth, OutputHeight};
  FillRect(dc, &paper, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
  double w = g.boxWidth, h = g.boxHeight;
  PlaceOnPaper(dc, g.boxWidth, g.boxHeight, w, h);
  RotateAndMove(g, w, h);
  RenderOnDC(dc, OutputWidth, OutputHeight);
}

void TPDFRenderer::RenderToEPS(const TPageGeometry& g) {
  // User-space points, unrotated: the EPS shows the page box as it is.
  OutputWidth = roundSide(g.x2) + 1;
  OutputHeight = roundSide(g.y2) + 1;
  epsExport_->WriteHeader(g.x1, g.y1, g.x2, g.y2);
  {
    TEPSBackend backend(*epsExport_);
    // The back-end lives in this block only: the renderer lets go of it
    // however the run ends.
    TAssignOnExit<decltype(eps_)> releaseBackend(eps_, nullptr);
    eps_ = &backend;
    BaseCTM = CTM;
    RunContentStream(backend, PageObject, {}, nullptr);
  }
  epsExport_->WriteTrailer();
}

void TPDFRenderer::RenderToCanvas(const TPageGeometry& g) {
  const bool drawn = OutputKind != rokImageList && OutputKind != rokText;

  std::unique_ptr<TCanvas> canvas;
  try {
    if (OutputKind == rokBitmap) {
      // Drawn in the canvas's own 32-bit format, in place (white is opaque,
      // so premultiplied as it stands), and made 24-bit once at the end.
      *bitmap_ = TBitmap::ForOverwrite(OutputWidth, OutputHeight, TPixelFormat::pf32bit);
      bitmap_->Fill(0xFFFFFF);
      bitmap_->SetAlphaFormat(TAlphaFormat::afPremultiplied);
      canvas = std::make_unique<TCanvas>(*bitmap_);
    }
  } catch (const Exception& e) {
    ErrorText = std::string("Rendering exception: ") + e.what();
    return;
  }

  if (drawn) {
    if (OutputKind == rokDeviceContext && hasDC_ && targetDC_) {
      RECT page{dcX_, dcY_, dcX_ + OutputWidth, dcY_ + OutputHeight};
      FillRect(targetDC_, &page, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    }
    if (OutputKind == rokDeviceContext) CTM = TPDFMatrix{1, 0, 0, 1, double(dcX_), double(dcY_)};
    const double s = Resolution / 72;
    MatrixMultiply(CTM, TPDFMatrix{s, 0, 0, -s, 0, double(OutputHeight)}, CTM);
    RotateAndMove(g, g.boxWidth, g.boxHeight);
  }

  if (OutputKind == rokRawStream && !rawStream_) {
    ErrorText = "Rendering exception: no stream to record the page into";
    return;
  }
  {
    TPDFPicasso backend;
    AttachBackend(backend, canvas.get());
    BaseCTM = CTM;
    RunContentStream(backend, PageObject, {}, nullptr);
    if (OutputKind == rokHTML && htmlStream_) backend.EndHTMLCanvas(OutputWidth, OutputHeight);
    if (OutputKind == rokRawStream) {
      try {
        backend.EndStreamTarget();
      } catch (const Exception& e) {
        if (!ErrorText.empty()) ErrorText += "\r\n";
        ErrorText += std::string("Rendering exception: ") + e.what();
      }
    }
  }
  if (canvas) {
    canvas.reset();  // the canvas draws on the pixels: gone before they are converted
    bitmap_->SetAlphaFormat(TAlphaFormat::afIgnored);
    bitmap_->SetPixelFormat(TPixelFormat::pf24bit);
  }
}

void TPDFRenderer::AttachBackend(TPDFPicasso& backend, TCanvas* canvas) {
  switch (OutputKind) {
    case rokRawStream:
      backend.SetStreamTarget(OutputWidth, OutputHeight, *rawStream_, Resolution);
      backend.AttachCanvas(nullptr, GDIPlusSettings);
      break;
    case rokDeviceContext:
      if (targetDC_) {
        backend.SetDeviceContext(OutputWidth, OutputHeight, targetDC_);
        backend.AttachCanvas(nullptr, GDIPlusSettings);
      }
      break;
    case rokHTML:
      if (htmlStream_) backend.BeginHTMLCanvas(*htmlStream_);
      break;
    case rokCairo:
      if (targetDC_) backend.BeginCairo(targetDC_, cairoLibrary_, cairoClear_);
      break;
    case rokBitmap:
      if (GDIPlusSettings.DrawPagesWithGdiPlus)
        backend.AttachCanvas(canvas, GDIPlusSettings);
      else
        backend.SetCanvas(*canvas);
      break;
    default: break;
  }
}

void TPDFRenderer::RenderOnDC(HDC dc, int32_t width, int32_t height) {
  TPDFPicasso backend;
  if (OutputKind == rokPrinter && GDIPlusSettings.AntiAlias && !GDIPlusSettings.DrawPagesWithGdiPlus) {
    // Printed pages are drawn as page images are: through cairo when
    // anti-aliased drawing is asked for (GDI when cairo is missing).
    backend.BeginCairo(dc, "libcairo.so.2", false);
  } else {
    // GDI+ where it can reach the pixels; a metafile DC has none, so its
    // drawing falls back to GDI calls, which the metafile records.
    backend.SetDeviceContext(width, height, dc);
    backend.AttachCanvas(nullptr, GDIPlusSettings);
  }
  BaseCTM = CTM;
  RunContentStream(backend, PageObject, {}, nullptr);
}

void TPDFRenderer::PlaceOnPaper(HDC dc, double bw, double bh, double& rotWidth, double& rotHeight) {
  const double W = GetDeviceCaps(dc, PHYSICALWIDTH), H = GetDeviceCaps(dc, PHYSICALHEIGHT);
  const double offX = GetDeviceCaps(dc, PHYSICALOFFSETX), offY = GetDeviceCaps(dc, PHYSICALOFFSETY);
  const double pw = Printer->GetPageWidth(), ph = Printer->GetPageHeight();
  const double R = Resolution, u = 72.0 / R;
  auto concat = [&](const TPDFMatrix& n) { MatrixMultiply(CTM, n, CTM); };
  concat(TPDFMatrix{1, 0, 0, 1, -offX, H - offY});
  concat(TPDFMatrix{R / 72, 0, 0, -R / 72, 0, 0});
  // The rotation below works on the page before it is scaled.
  rotWidth = bw;
  rotHeight = bh;
  const bool differs = (bw > bh && pw < ph) || (bw < bh && pw > ph);
  const bool autoRotate = PrintAutoRotate != 0;
  const uint8_t fit = PrintFitMode == 1 || PrintFitMode == 2 ? PrintFitMode : 0;
  double s = 1, X = 0, Y = 0;
  if (fit != 0) {
    double r = bw, q = bh;
    if (autoRotate && differs) std::swap(r, q);
    s = std::min(pw * u / r, ph * u / q);
    if (!std::isfinite(s) || s <= 0) s = 1;
    if (fit == 2 && s > 1) s = 1;
    bw *= s;
    bh *= s;
    if (!autoRotate) {
      X = (bw - pw * u) / 2 - offX * u;
      Y = (bh - ph * u) / 2 - (H - ph - offY) * u;
      concat(TPDFMatrix{1, 0, 0, 1, -X, -Y});
    }
  }
  if (autoRotate) {
    if (s != 1) {
      X = ((differs ? bw - ph * u : bw - pw * u)) / 2 - offX * u;
      Y = ((differs ? bh - pw * u : bh - ph * u)) / 2 - (H - ph - offY) * u;
    } else if (differs) {
      X = (bw - H * u) / 2;
      Y = (bh - W * u) / 2;
    } else {
      X = (bw - W * u) / 2;
      Y = (bh - H * u) / 2;
    }
    if (differs)
      concat(TPDFMatrix{0, 1, -1, 0, bh - Y, -X});
    else
      concat(TPDFMatrix{1, 0, 0, 1, -X, -Y});
  } else if (fit == 0) {
    concat(TPDFMatrix{1, 0, 0, 1, 0, H * u - bh});  // the page at the top of the paper
  }
  if (s != 1) concat(TPDFMatrix{s, 0, 0, s, 0, 0});
}
