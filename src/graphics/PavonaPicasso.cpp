// TPDFPicasso: the state all back-ends share, attaching a back-end, and the
// operations handed to it. The drawing itself is in the back-end classes
// (PavonaPicasso*Backend.cpp).
#include "graphics/PavonaPicasso.h"

#include <algorithm>
#include <cmath>

#include "graphics/PavonaPicassoBackend.h"
#include "platform/Cairo.h"
#include "platform/EmfWriter.h"

using namespace gdip;

namespace {

constexpr const char* kLazyInit = "LazyInit";

// Longest side of a picture the drawing library can address (cairo's limit).
constexpr int kMaxPictureSide = 32767;

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

}  // namespace

// ---------------------------------------------------------------------------
// The defaults of the back-end interface

void TPicassoBackend::QuadraticCurveTo(double cx, double cy, double x, double y) {
  // Degree elevation: the cubic with the same curve.
  const double x0 = CurrentX(), y0 = CurrentY();
  double c1x = x0 + (cx - x0) * 2.0 / 3.0, c1y = y0 + (cy - y0) * 2.0 / 3.0;
  double c2x = cx + (x - cx) / 3.0, c2y = cy + (y - cy) / 3.0;
  CurveTo(c1x, c1y, c2x, c2y, x, y);
}

bool TPicassoBackend::PushSavedClip() {
  owner_.savedClips_.push_back(owner_.clip_);
  return true;
}

size_t TPicassoBackend::SavedClipCount() const { return owner_.savedClips_.size(); }

void TPicassoBackend::SelectSavedClip(size_t index) {
  owner_.clip_ = owner_.savedClips_[index];
  ApplyClip(owner_.clip_);
}

void TPicassoBackend::DropSavedClipsAfter(size_t index) {
  if (owner_.savedClips_.size() > index + 1) owner_.savedClips_.resize(index + 1);
}

void TPicassoBackend::DrawPictureRect(TBitmap& picture, double x, double y, double w, double h) {
  const double pts[6] = {x, y, x + w, y, x, y + h};
  DrawPicture(picture, pts, nullptr);
}

void TPicassoBackend::ApplyColorKey(TBitmap& picture, const ColorKey& key) {
  auto in = [](uint8_t v, uint32_t lo, uint32_t hi) { return v >= lo && v <= hi; };
  const uint32_t low = key.Low, high = key.High;
  for (int y = 0; y < picture.Height(); ++y) {
    uint8_t* p = picture.ScanLine(y);
    for (int x = 0; x < picture.Width(); ++x, p += 4) {
      if (in(p[0], low & 0xFF, high & 0xFF) && in(p[1], (low >> 8) & 0xFF, (high >> 8) & 0xFF) &&
          in(p[2], (low >> 16) & 0xFF, (high >> 16) & 0xFF))
        p[0] = p[1] = p[2] = p[3] = 0;
    }
  }
}

// ---------------------------------------------------------------------------
// Unattached: nothing is drawn and no clip is kept.

namespace {

class TPicassoNull final : public TPicassoBackend {
public:
  using TPicassoBackend::TPicassoBackend;
  void BeginPath() override {}
  void MoveTo(double, double) override {}
  void LineTo(double, double) override {}
  void CurveTo(double, double, double, double, double, double) override {}
  void QuadraticCurveTo(double, double, double, double) override {}
  void ClosePath() override {}
  void Paint(PaintKind) override {}
  void EndPathNoPaint() override {}
  bool PushSavedClip() override { return false; }
  size_t SavedClipCount() const override { return 0; }
  bool DrawsPictures() const override { return false; }
  void DrawPicture(TBitmap&, const double[6], const ColorKey*) override {}
};

}  // namespace

std::unique_ptr<TPicassoBackend> CreateNullBackend(TPDFPicasso& owner) {
  return std::make_unique<TPicassoNull>(owner);
}

// ---------------------------------------------------------------------------
// Attaching

TPDFPicasso::TPDFPicasso() : backend_(CreateNullBackend(*this)) {}

TPDFPicasso::~TPDFPicasso() {
  // The back-end releases its device objects as it is destroyed, while the
  // state it was given is still here.
  backend_.reset();
  // An unfinished recording is dropped without reaching its stream.
  recordingCanvas_.reset();
}

void TPDFPicasso::SelectBackend(std::unique_ptr<TPicassoBackend> backend, TPicassoKind kind) {
  backend_ = std::move(backend);
  kind_ = kind;
}

TCairoDLL* TPDFPicasso::CairoLibrary() const { return backend_->CairoLibrary(); }

bool TPDFPicasso::MaskArea(int& width, int& height) const {
  return backend_->MaskArea(width, height);
}

void TPDFPicasso::SetCanvas(TCanvas& canvas) {
  canvas_ = &canvas;
  SelectBackend(CreateGdiBackend(*this, canvas_, dc_), pkGDI);
}

void TPDFPicasso::SetStreamTarget(int width, int height, TStream& stream, double dpi) {
  streamTarget_ = true;
  streamWidth_ = width;
  streamHeight_ = height;
  metafileStream_ = &stream;
  streamDpi_ = dpi > 0 && std::isfinite(dpi) ? dpi : 96;
}

void TPDFPicasso::EndStreamTarget() {
  if (!recordingCanvas_) return;
  // The back-end lets go of the metafile DC before it is closed.
  SelectBackend(CreateNullBackend(*this), kind_);
  dc_ = nullptr;
  std::unique_ptr<TMetafileCanvas> canvas = std::move(recordingCanvas_);
  canvas->Close();
  canvas.reset();
  const std::string& bytes = recording_->EnhancedBytes();
  if (bytes.empty()) throw EEmfWriteError("The metafile cannot be recorded");
  TStream& stream = *metafileStream_;
  const int64_t start = stream.GetPosition(), size = stream.GetSize();
  try {
    stream.WriteString(bytes);
  } catch (const Exception&) {
    try {
      stream.SetSize(size);
      stream.SetPosition(start);
    } catch (const Exception&) {
      // The stream cannot be cut back either; the failure below says so.
    }
    throw;
  }
}

void TPDFPicasso::SetDeviceContext(int width, int height, HDC dc) {
  dcTarget_ = true;
  dcWidth_ = width;
  dcHeight_ = height;
  dc_ = dc;
}

void TPDFPicasso::AttachCanvas(TCanvas* canvas, const TGDIPlusSettings& settings) {
  settings_ = settings;
  canvas_ = canvas;
  if (streamTarget_) {
    // GDI+ here cannot record metafiles: the page is drawn by GDI onto a
    // metafile DC of our own recorder.
    recording_ = std::make_unique<TMetafile>();
    recording_->Width = std::max(1, streamWidth_);
    recording_->Height = std::max(1, streamHeight_);
    recording_->DPI = streamDpi_;
    recording_->EmfPlusDual = true;
    recordingCanvas_ = std::make_unique<TMetafileCanvas>(*recording_);
    canvas_ = nullptr;
    dc_ = recordingCanvas_->Handle();
    SelectBackend(CreateGdiBackend(*this, nullptr, dc_), pkGDI);
    return;
  }
  if (GdiPlusStatus() == gdipNotLoaded) {
    // The name given (or the system's), then the system's beside the executable.
    std::string name = settings.LibraryName == kLazyInit ? "" : settings.LibraryName;
    if (LoadGdiPlus(name) == gdipNoLibrary) LoadGdiPlus(ExecutableFolder() + kGdiPlusLibrary);
  }
  std::unique_ptr<TPicassoBackend> gdiPlus;
  uintptr_t token = 0;
  if (GdiPlusStatus() == gdipReady && (settings.LibraryName == kLazyInit || GdiPlusStart(token))) {
    if (!GetGdiPlusEncoderClsid("image/bmp", bmpEncoder_)) bmpEncoder_ = CLSID{};
    if (!GetGdiPlusEncoderClsid("image/png", pngEncoder_)) pngEncoder_ = CLSID{};
    HDC dc = dcTarget_ ? dc_ : canvas ? canvas->Handle() : nullptr;
    gdiPlus = CreateGdiPlusBackend(*this, settings, dc, token);
  }
  if (gdiPlus)
    SelectBackend(std::move(gdiPlus), pkGDIPlus);
  else
    SelectBackend(CreateGdiBackend(*this, canvas_, dc_), pkGDI);
}

void TPDFPicasso::BeginCairo(HDC dc, const std::string& libraryPath, bool clearToWhite) {
  auto lib = std::make_unique<TCairoDLL>();
  TGdiSurface surface;
  if (!GetDCSurface(dc, surface)) return;  // no device: stays unattached
  if (!lib->Load(libraryPath)) {
    // Without cairo the page is still drawn, by GDI on the same pixels.
    dc_ = dc;
    SelectBackend(CreateGdiBackend(*this, canvas_, dc_), pkGDI);
    if (clearToWhite) {
      RECT all{0, 0, surface.width, surface.height};
      FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    }
    return;
  }
  if (auto cairo = CreateCairoBackend(*this, std::move(lib), dc, surface, clearToWhite))
    SelectBackend(std::move(cairo), pkCairo);
}

void TPDFPicasso::BeginHTMLCanvas(TStream& stream) { SelectBackend(CreateHtmlBackend(*this, stream), pkHTML); }

void TPDFPicasso::EndHTMLCanvas(int width, int height) { backend_->EndPage(width, height); }

// ---------------------------------------------------------------------------
// State

void TPDFPicasso::SetDashPattern(const TGPDashArray& dashes, double phase) {
  dashes_ = dashes;
  dashPhase_ = phase;
}

void TPDFPicasso::SetFillRule(TFillRule rule) {
  fillRule_ = rule;
  backend_->FillRuleChanged();
}

void TPDFPicasso::SetClip(TFillRule rule) {
  SetFillRule(rule);
  clipRule_ = rule;
  clipPending_ = true;
  clipChanged_ = true;
}

// ---------------------------------------------------------------------------
// Paths

void TPDFPicasso::BeginPath() { backend_->BeginPath(); }

void TPDFPicasso::MoveTo(double x, double y) {
  curX_ = x;
  curY_ = y;
  backend_->MoveTo(x, y);
}

void TPDFPicasso::LineTo(double x, double y) {
  backend_->LineTo(x, y);
  curX_ = x;
  curY_ = y;
}

void TPDFPicasso::CurveTo(double x1, double y1, double x2, double y2, double x3, double y3) {
  backend_->CurveTo(x1, y1, x2, y2, x3, y3);
  curX_ = x3;
  curY_ = y3;
}

void TPDFPicasso::QuadraticCurveTo(double cx, double cy, double x, double y) {
  backend_->QuadraticCurveTo(cx, cy, x, y);
  curX_ = x;
  curY_ = y;
}

void TPDFPicasso::ClosePath() { backend_->ClosePath(); }

void TPDFPicasso::StrokePath() { backend_->Paint(TPaintKind::Stroke); }
void TPDFPicasso::FillPath() { backend_->Paint(TPaintKind::Fill); }
void TPDFPicasso::FillAndStrokePath() { backend_->Paint(TPaintKind::FillStroke); }

void TPDFPicasso::FillMask(const uint8_t* bits, int width, int height, int stride, int x, int y) {
  if (!bits || width <= 0 || height <= 0) return;
  backend_->FillMask(bits, width, height, stride, x, y);
}

// ---------------------------------------------------------------------------
// Clipping

void TPDFPicasso::EndPathNoPaint() { backend_->EndPathNoPaint(); }

TClipToken TPDFPicasso::SaveClip() {
  if (!clipChanged_) return currentClip_;
  if (!backend_->PushSavedClip()) return TClipToken{};
  clipChanged_ = false;
  currentClip_ = TClipToken{backend_->SavedClipCount()};
  return currentClip_;
}

size_t TPDFPicasso::SavedClipCount() const { return backend_->SavedClipCount(); }

void TPDFPicasso::RestoreClip(TClipToken saved) {
  if (!saved || saved.Saved > backend_->SavedClipCount()) return;  // none, or not ours any more
  const size_t index = saved.Saved - 1;
  if (!(saved == currentClip_)) {
    currentClip_ = saved;
    backend_->SelectSavedClip(index);
  }
  // Clips saved after the one restored belonged to states that are gone:
  // dropping them keeps the list as deep as the nesting, not as long as the page.
  backend_->DropSavedClipsAfter(index);
}

// ---------------------------------------------------------------------------
// Images

void TPDFPicasso::DrawPicture(TBitmap& picture, const double pts[6], const TColorKey* key) {
  if (picture.Width() <= 0 || picture.Height() <= 0) return;
  backend_->DrawPicture(picture, pts, key);
}

void TPDFPicasso::DrawEncoded(const std::string& bytes, const double pts[6], const TColorKey* key) {
  if (!backend_->DrawsPictures()) return;
  TBitmap picture;
  if (!DecodePicture(bytes, picture)) return;  // a picture that cannot be loaded is skipped
  DrawPicture(picture, pts, key);
}

void TPDFPicasso::DrawImage(const TGraphic& image, double x0, double y0, double x1, double y1, double x2, double y2) {
  if (!backend_->DrawsPictures()) return;
  const double pts[6] = {x0, y0, x1, y1, x2, y2};
  if (const auto* bitmap = dynamic_cast<const TBitmap*>(&image)) {
    if (backend_->DrawBitmapAsIs(*bitmap, pts)) return;
    // A bitmap is drawn from its pixels: the same picture its BMP file would
    // decode to, without writing and reading the file.
    TBitmap picture;
    if (!PremultipliedPicture(*bitmap, picture)) return;
    DrawPicture(picture, pts, nullptr);
    return;
  }
  TMemoryStream stream;
  try {
    image.SaveToStream(stream);
  } catch (const Exception&) {
    return;
  }
  DrawEncoded(stream.Bytes(), pts, nullptr);
}

void TPDFPicasso::DrawPremultiplied(const TBitmap& picture, double x0, double y0, double x1, double y1, double x2,
                                    double y2) {
  if (!backend_->DrawsPictures()) return;
  if (picture.PixelFormat() != TPixelFormat::pf32bit || picture.AlphaFormat() != TAlphaFormat::afPremultiplied ||
      picture.Width() > kMaxPictureSide || picture.Height() > kMaxPictureSide) {
    DrawImage(picture, x0, y0, x1, y1, x2, y2);
    return;
  }
  const double pts[6] = {x0, y0, x1, y1, x2, y2};
  // Unkeyed drawing only reads the pixels.
  DrawPicture(const_cast<TBitmap&>(picture), pts, nullptr);
}

void TPDFPicasso::DrawImageStreamPoints(TStream& stream, double x0, double y0, double x1, double y1, double x2,
                                        double y2) {
  std::string bytes;
  if (!ReadWholeStream(stream, bytes)) return;
  const double pts[6] = {x0, y0, x1, y1, x2, y2};
  DrawEncoded(bytes, pts, nullptr);
}

void TPDFPicasso::DrawImageStreamKeyed(TStream& stream, int sourceWidth, int sourceHeight, uint32_t lowColor,
                                       uint32_t highColor, double x0, double y0, double x1, double y1, double x2,
                                       double y2) {
  std::string bytes;
  if (!ReadWholeStream(stream, bytes)) return;
  const double pts[6] = {x0, y0, x1, y1, x2, y2};
  const TColorKey key{lowColor, highColor, sourceWidth, sourceHeight};
  DrawEncoded(bytes, pts, &key);
}

void TPDFPicasso::DrawImageStream(TStream& stream, bool /*useColourManagement: no colour profiles here*/, double x,
                                  double y, double w, double h) {
  std::string bytes;
  if (!ReadWholeStream(stream, bytes) || !backend_->DrawsPictures()) return;
  TBitmap picture;
  if (!DecodePicture(bytes, picture) || picture.Width() <= 0 || picture.Height() <= 0) return;
  backend_->DrawPictureRect(picture, x, y, w, h);
}

void TPDFPicasso::DrawBitmap(const TBitmap& bitmap, double x, double y, double w, double h) {
  if (bitmap.Empty()) return;
  backend_->DrawBitmap(bitmap, x, y, w, h);
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
