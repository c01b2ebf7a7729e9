// The page renderer: page box, rotation and device transform, the output
// target, then the content interpreter over the page.
#include "render/PavonaRenderer.h"
#include "render/PavonaTextFunnel.h"

#include <algorithm>
#include <cmath>

#include "platform/GdiCanvas.h"
#include "render/PavonaFontCollection.h"
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
    : fontCollection_(fontCollection), bitmap_(std::make_unique<TBitmap>()) {
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
  if (fontCollection_) fontCollection_->KeepDifferences = OutputKind == rokText;
  ErrorText.clear();
  OutputWidth = OutputHeight = 0;
  if (OutputKind >= rokMetafile && OutputKind <= rokPrinter) {
    ErrorText = "Output kind " + std::to_string(OutputKind) + " is not available";
    return;
  }
  if (OutputKind == rokText) {
    // Text positions are user-space points: the resolution plays no part.
    Resolution = 72;
    GetTextFunnel()->Clear();
  }
  if (!PageObject) {
    ErrorText = "No page to render";
    return;
  }
  TPageGeometry g = MeasurePage();
  const double x1 = g.x1, y1 = g.y1, boxWidth = g.boxWidth, boxHeight = g.boxHeight;
  const int32_t rotate = g.rotate;
  CTM = IdentityMatrix;
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
    TPDFMatrix rotation = IdentityMatrix;
    switch (rotate) {
      case 90: rotation = TPDFMatrix{0, -1, 1, 0, 0, boxHeight}; break;
      case 180: rotation = TPDFMatrix{-1, 0, 0, -1, boxWidth, boxHeight}; break;
      case 270: rotation = TPDFMatrix{0, 1, -1, 0, boxWidth, 0}; break;
      default: break;
    }
    MatrixMultiply(CTM, rotation, CTM);
    MatrixMultiply(CTM, TPDFMatrix{1, 0, 0, 1, -x1, -y1}, CTM);
  }

  {
    TPDFPicasso backend;
    switch (OutputKind) {
      case rokRawStream:
        if (rawStream_) backend.SetStreamTarget(OutputWidth, OutputHeight, *rawStream_);
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
          backend.AttachCanvas(canvas.get(), GDIPlusSettings);
        else
          backend.SetCanvas(*canvas);
        break;
      default: break;
    }
    BaseCTM = CTM;
    RunContentStream(backend, PageObject, {}, nullptr);
    if (OutputKind == rokHTML && htmlStream_) backend.EndHTMLCanvas(OutputWidth, OutputHeight);
  }
  if (canvas) {
    canvas.reset();  // the canvas draws on the pixels: gone before they are converted
    bitmap_->SetAlphaFormat(TAlphaFormat::afIgnored);
    bitmap_->SetPixelFormat(TPixelFormat::pf24bit);
  }
}
