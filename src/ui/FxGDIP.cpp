#include "ui/FxGDIP.h"

#include <dlfcn.h>

#include <QBuffer>
#include <QByteArray>
#include <QGuiApplication>
#include <QImageReader>
#include <QPalette>
#include <algorithm>
#include <cstring>

namespace {

using gdip::GpStatus;
using gdip::REAL;
using WCHAR = char16_t;
using GetHeaderDelegate = int (*)(uint8_t*, int);

// The entry points the wrappers call, bound from the same library the engine
// uses (the platform binds its own table for the engine's back-end).
struct TFxGdipAPI {
  GpStatus (*GdipCreateBitmapFromScan0)(int, int, int, int, uint8_t*, void**);
  GpStatus (*GdipGetImageGraphicsContext)(void*, void**);
  GpStatus (*GdipDeleteGraphics)(void*);
  GpStatus (*GdipSetTextRenderingHint)(void*, int);
  GpStatus (*GdipSetSmoothingMode)(void*, int);
  GpStatus (*GdipDrawPath)(void*, void*, void*);
  GpStatus (*GdipFillRectangle)(void*, void*, REAL, REAL, REAL, REAL);
  GpStatus (*GdipDrawRectangle)(void*, void*, REAL, REAL, REAL, REAL);
  GpStatus (*GdipDrawString)(void*, const WCHAR*, int, void*, const TGPRect*, void*, void*);
  GpStatus (*GdipMeasureString)(void*, const WCHAR*, int, void*, const TGPRect*, void*, TGPRect*, int*, int*);
  GpStatus (*GdipDrawImageRect)(void*, void*, REAL, REAL, REAL, REAL);
  GpStatus (*GdipDrawImageRectRect)(void*, void*, REAL, REAL, REAL, REAL, REAL, REAL, REAL, REAL, int, void*, void*,
                                    void*);
  GpStatus (*GdipSetClipRegion)(void*, void*, int);
  GpStatus (*GdipResetClip)(void*);
  GpStatus (*GdipCreatePen1)(ARGB, REAL, int, void**);
  GpStatus (*GdipDeletePen)(void*);
  GpStatus (*GdipSetPenDashStyle)(void*, int);
  GpStatus (*GdipDeleteBrush)(void*);
  GpStatus (*GdipCreateSolidFill)(ARGB, void**);
  GpStatus (*GdipCreateLineBrushFromRect)(const TGPRect*, ARGB, ARGB, int, int, void**);
  GpStatus (*GdipCreatePathGradientFromPath)(void*, void**);
  GpStatus (*GdipSetPathGradientCenterColor)(void*, ARGB);
  GpStatus (*GdipGetPathGradientPointCount)(void*, int*);
  GpStatus (*GdipSetPathGradientSurroundColorsWithCount)(void*, const ARGB*, int*);
  GpStatus (*GdipSetPathGradientCenterPointI)(void*, const TGPPoint*);
  GpStatus (*GdipCreateRegionPath)(void*, void**);
  GpStatus (*GdipDeleteRegion)(void*);
  GpStatus (*GdipCreateFontFamilyFromName)(const WCHAR*, void*, void**);
  GpStatus (*GdipDeleteFontFamily)(void*);
  GpStatus (*GdipCreateFont)(void*, REAL, int, int, void**);
  GpStatus (*GdipDeleteFont)(void*);
  GpStatus (*GdipCreateStringFormat)(int, uint16_t, void**);
  GpStatus (*GdipDeleteStringFormat)(void*);
  GpStatus (*GdipSetStringFormatAlign)(void*, int);
  GpStatus (*GdipSetStringFormatLineAlign)(void*, int);
  GpStatus (*GdipSetStringFormatTrimming)(void*, int);
  GpStatus (*GdipSetStringFormatHotkeyPrefix)(void*, int);
  GpStatus (*GdipCreatePath)(int, void**);
  GpStatus (*GdipDeletePath)(void*);
  GpStatus (*GdipClosePathFigure)(void*);
  GpStatus (*GdipAddPathLine)(void*, REAL, REAL, REAL, REAL);
  GpStatus (*GdipAddPathArc)(void*, REAL, REAL, REAL, REAL, REAL, REAL);
  GpStatus (*GdipAddPathEllipse)(void*, REAL, REAL, REAL, REAL);
  GpStatus (*GdipAddPathCurve2I)(void*, const TGPPoint*, int, REAL);
  GpStatus (*GdipAddPathBezier)(void*, REAL, REAL, REAL, REAL, REAL, REAL, REAL, REAL);
  GpStatus (*GdipLoadImageFromDelegate_linux)(GetHeaderDelegate, gdip::GetBytesDelegate, gdip::PutBytesDelegate,
                                              gdip::SeekDelegate, gdip::CloseDelegate, gdip::SizeDelegate, void**);
  GpStatus (*GdipDisposeImage)(void*);
  GpStatus (*GdipGetImageWidth)(void*, uint32_t*);
  GpStatus (*GdipGetImageHeight)(void*, uint32_t*);
  GpStatus (*GdipGetImageRawFormat)(void*, gdip::GUID*);
  GpStatus (*GdipBitmapGetPixel)(void*, int, int, ARGB*);
  GpStatus (*GdipCreateImageAttributes)(void**);
  GpStatus (*GdipDisposeImageAttributes)(void*);
  GpStatus (*GdipSetImageAttributesColorKeys)(void*, int, int, ARGB, ARGB);
};

TFxGdipAPI api{};

#define FX_ENTRY(name) {#name, reinterpret_cast<void**>(&api.name)}
const struct {
  const char* name;
  void** slot;
} kEntries[] = {
    FX_ENTRY(GdipCreateBitmapFromScan0),
    FX_ENTRY(GdipGetImageGraphicsContext),
    FX_ENTRY(GdipDeleteGraphics),
    FX_ENTRY(GdipSetTextRenderingHint),
    FX_ENTRY(GdipSetSmoothingMode),
    FX_ENTRY(GdipDrawPath),
    FX_ENTRY(GdipFillRectangle),
    FX_ENTRY(GdipDrawRectangle),
    FX_ENTRY(GdipDrawString),
    FX_ENTRY(GdipMeasureString),
    FX_ENTRY(GdipDrawImageRect),
    FX_ENTRY(GdipDrawImageRectRect),
    FX_ENTRY(GdipSetClipRegion),
    FX_ENTRY(GdipResetClip),
    FX_ENTRY(GdipCreatePen1),
    FX_ENTRY(GdipDeletePen),
    FX_ENTRY(GdipSetPenDashStyle),
    FX_ENTRY(GdipDeleteBrush),
    FX_ENTRY(GdipCreateSolidFill),
    FX_ENTRY(GdipCreateLineBrushFromRect),
    FX_ENTRY(GdipCreatePathGradientFromPath),
    FX_ENTRY(GdipSetPathGradientCenterColor),
    FX_ENTRY(GdipGetPathGradientPointCount),
    FX_ENTRY(GdipSetPathGradientSurroundColorsWithCount),
    FX_ENTRY(GdipSetPathGradientCenterPointI),
    FX_ENTRY(GdipCreateRegionPath),
    FX_ENTRY(GdipDeleteRegion),
    FX_ENTRY(GdipCreateFontFamilyFromName),
    FX_ENTRY(GdipDeleteFontFamily),
    FX_ENTRY(GdipCreateFont),
    FX_ENTRY(GdipDeleteFont),
    FX_ENTRY(GdipCreateStringFormat),
    FX_ENTRY(GdipDeleteStringFormat),
    FX_ENTRY(GdipSetStringFormatAlign),
    FX_ENTRY(GdipSetStringFormatLineAlign),
    FX_ENTRY(GdipSetStringFormatTrimming),
    FX_ENTRY(GdipSetStringFormatHotkeyPrefix),
    FX_ENTRY(GdipCreatePath),
    FX_ENTRY(GdipDeletePath),
    FX_ENTRY(GdipClosePathFigure),
    FX_ENTRY(GdipAddPathLine),
    FX_ENTRY(GdipAddPathArc),
    FX_ENTRY(GdipAddPathEllipse),
    FX_ENTRY(GdipAddPathCurve2I),
    FX_ENTRY(GdipAddPathBezier),
    FX_ENTRY(GdipLoadImageFromDelegate_linux),
    FX_ENTRY(GdipDisposeImage),
    FX_ENTRY(GdipGetImageWidth),
    FX_ENTRY(GdipGetImageHeight),
    FX_ENTRY(GdipGetImageRawFormat),
    FX_ENTRY(GdipBitmapGetPixel),
    FX_ENTRY(GdipCreateImageAttributes),
    FX_ENTRY(GdipDisposeImageAttributes),
    FX_ENTRY(GdipSetImageAttributesColorKeys),
};
#undef FX_ENTRY

// GDI+ for the whole process: bound and started on first use, shut down
// once when the program ends.
class TGdiplusSession {
public:
  TGdiplusSession() {
    if (GdiPlusStatus() != gdipReady) LoadGdiPlus(kGdiPlusLibrary);
    library_ = dlopen(kGdiPlusLibrary, RTLD_NOW | RTLD_LOCAL);
    if (!library_) return;
    for (const auto& e : kEntries) *e.slot = dlsym(library_, e.name);
    // The widgets share fontconfig with GDI+, whose shutdown would finalise
    // it under the toolkit (an abort): GDI+ stays up once started.
    GdiPlusKeepRunning();
    started_ = GdiPlusStart(token_);
  }
  // GDI+ is not shut down at process exit: its shutdown finalises
  // fontconfig, which aborts when the toolkit still holds fontconfig caches
  // of its own. The process ends anyway; the library stays mapped, since
  // other code may still hold its objects.
  ~TGdiplusSession() = default;
  bool started() const { return started_; }

private:
  void* library_ = nullptr;
  uintptr_t token_ = 0;
  bool started_ = false;
};

TGdiplusSession& Session() {
  static TGdiplusSession session;
  return session;
}

// Calls an entry point when GDI+ runs and the entry is bound; otherwise a
// status that says why nothing was done.
// The entry is read only after the session has bound the table.
template <typename F, typename... A>
TStatus Call(F* TFxGdipAPI::*entry, A... args) {
  if (!Session().started()) return GdiplusNotInitialized;
  F* fn = api.*entry;
  if (!fn) return NotImplemented;
  return fn(args...);
}

// Image bytes read by the library's loader. Its callbacks carry no context,
// so one load at a time per thread.
thread_local std::string_view tLoadBytes;
thread_local size_t tLoadPos = 0;

int LoadHeader(uint8_t* buffer, int count) {
  if (count < 0) return 0;
  size_t n = std::min(static_cast<size_t>(count), tLoadBytes.size());
  std::memcpy(buffer, tLoadBytes.data(), n);
  return static_cast<int>(n);
}
int LoadBytes(uint8_t* buffer, int count, int peek) {
  if (count < 0) return 0;
  size_t pos = std::min(tLoadPos, tLoadBytes.size());
  size_t n = std::min(static_cast<size_t>(count), tLoadBytes.size() - pos);
  std::memcpy(buffer, tLoadBytes.data() + pos, n);
  if (!peek) tLoadPos = pos + n;
  return static_cast<int>(n);
}
int LoadPut(uint8_t*, int) { return 0; }
long LoadSeek(int offset, int whence) {
  long base = whence == SEEK_CUR ? static_cast<long>(tLoadPos)
              : whence == SEEK_END ? static_cast<long>(tLoadBytes.size())
                                   : 0;
  long pos = base + offset;
  if (pos < 0 || pos > static_cast<long>(tLoadBytes.size())) return -1;
  tLoadPos = static_cast<size_t>(pos);
  return pos;
}
void LoadClose() {}
long LoadSize() { return static_cast<long>(tLoadBytes.size()); }

// Image files name their own pixel size; a decoder trusting an absurd one
// would allocate without bound, so such images are refused before decoding.
constexpr int64_t kMaxImagePixels = int64_t{1} << 26;

bool PlausibleImageSize(std::string_view bytes) {
  QByteArray data = QByteArray::fromRawData(bytes.data(), static_cast<qsizetype>(bytes.size()));
  QBuffer buffer(&data);
  buffer.open(QIODevice::ReadOnly);
  QImageReader reader(&buffer);
  QSize size = reader.size();  // reads the header only; invalid when unknown
  if (!size.isValid()) return true;
  return int64_t{size.width()} * size.height() <= kMaxImagePixels;
}

TStatus LoadImageBytes(std::string_view bytes, void** image) {
  *image = nullptr;
  if (!Session().started()) return GdiplusNotInitialized;
  if (!api.GdipLoadImageFromDelegate_linux) return NotImplemented;
  if (bytes.empty()) return InvalidParameter;
  if (!PlausibleImageSize(bytes)) return OutOfMemory;
  tLoadBytes = bytes;
  tLoadPos = 0;
  TStatus st = api.GdipLoadImageFromDelegate_linux(LoadHeader, LoadBytes, LoadPut, LoadSeek, LoadClose, LoadSize,
                                                   image);
  tLoadBytes = {};
  if (st != Ok) *image = nullptr;
  return st;
}

// The classic default system colours (0x00BBGGRR), used without a palette.
TColor ClassicSystemColor(int index) {
  switch (index) {
    case 5: return 0xFFFFFF;   // window
    case 8: return 0x000000;   // window text
    case 13: return 0x6A240A;  // highlight
    case 14: return 0xFFFFFF;  // highlight text
    case 15: return 0xC8D0D4;  // button face
    case 16: return 0x99A8AC;  // button shadow
    case 17: return 0x99A8AC;  // grey text
    case 18: return 0x000000;  // button text
    case 20: return 0xFFFFFF;  // button highlight
    default: return 0xC8D0D4;
  }
}

TColor FromQColor(const QColor& c) { return c.red() | (c.green() << 8) | (c.blue() << 16); }

}  // namespace

bool GdiplusStarted() { return Session().started(); }

TColor ColorToRGB(TColor color) {
  if ((static_cast<uint32_t>(color) & 0xFF000000u) != 0xFF000000u) return color & 0xFFFFFF;
  int index = color & 0xFF;
  if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance())) return ClassicSystemColor(index);
  const QPalette pal = QGuiApplication::palette();
  switch (index) {
    case 5: return FromQColor(pal.color(QPalette::Base));
    case 8: return FromQColor(pal.color(QPalette::Text));
    case 13: return FromQColor(pal.color(QPalette::Highlight));
    case 14: return FromQColor(pal.color(QPalette::HighlightedText));
    case 15: return FromQColor(pal.color(QPalette::Button));
    case 16: return FromQColor(pal.color(QPalette::Dark));
    case 17: return FromQColor(pal.color(QPalette::Disabled, QPalette::Text));
    case 18: return FromQColor(pal.color(QPalette::ButtonText));
    case 20: return FromQColor(pal.color(QPalette::Light));
    default: return FromQColor(pal.color(QPalette::Window));
  }
}

ARGB ColorToARGB(TColor color) {
  uint32_t rgb = static_cast<uint32_t>(ColorToRGB(color));
  return 0xFF000000u | ((rgb & 0xFF) << 16) | (rgb & 0xFF00) | ((rgb >> 16) & 0xFF);
}

ARGB MakeColor(uint8_t a, uint8_t r, uint8_t g, uint8_t b) {
  return (static_cast<ARGB>(a) << 24) | (static_cast<ARGB>(r) << 16) | (static_cast<ARGB>(g) << 8) | b;
}
ARGB MakeColor(uint8_t r, uint8_t g, uint8_t b) { return MakeColor(255, r, g, b); }
uint8_t GetRed(ARGB color) { return (color >> 16) & 0xFF; }
uint8_t GetGreen(ARGB color) { return (color >> 8) & 0xFF; }
uint8_t GetBlue(ARGB color) { return color & 0xFF; }
TGPPoint MakeGPPoint(int x, int y) { return {x, y}; }
TGPRect MakeGPRect(float x, float y, float width, float height) { return {x, y, width, height}; }

// ---- graphics

TGPGraphics::TGPGraphics(QImage& image) {
  if (image.isNull() || image.format() != QImage::Format_ARGB32_Premultiplied) {
    SetCreated(nullptr, InvalidParameter);
    return;
  }
  void* bitmap = nullptr;
  TStatus st = Call(&TFxGdipAPI::GdipCreateBitmapFromScan0, image.width(), image.height(), static_cast<int>(image.bytesPerLine()),
                    gdip::PixelFormat32bppPARGB, image.bits(), &bitmap);
  void* graphics = nullptr;
  if (st == Ok) {
    bitmap_ = bitmap;
    st = Call(&TFxGdipAPI::GdipGetImageGraphicsContext, bitmap, &graphics);
  }
  SetCreated(st == Ok ? graphics : nullptr, st);
}

TGPGraphics::~TGPGraphics() {
  Call(&TFxGdipAPI::GdipDeleteGraphics, native_);
  if (bitmap_) Call(&TFxGdipAPI::GdipDisposeImage, bitmap_);
}

TStatus TGPGraphics::SetTextRenderingHint(int hint) {
  return SetStatus(Call(&TFxGdipAPI::GdipSetTextRenderingHint, native_, hint));
}
TStatus TGPGraphics::SetSmoothingMode(int mode) { return SetStatus(Call(&TFxGdipAPI::GdipSetSmoothingMode, native_, mode)); }
TStatus TGPGraphics::DrawPath(const TGPPen* pen, const TGPGraphicsPath* path) {
  return SetStatus(Call(&TFxGdipAPI::GdipDrawPath, native_, pen ? pen->Handle() : nullptr, path ? path->Handle() : nullptr));
}
TStatus TGPGraphics::FillRectangle(const TGPBrush* brush, float x, float y, float width, float height) {
  return SetStatus(Call(&TFxGdipAPI::GdipFillRectangle, native_, brush ? brush->Handle() : nullptr, x, y, width, height));
}
TStatus TGPGraphics::FillRectangle(const TGPBrush* brush, const TGPRect& r) {
  return FillRectangle(brush, r.X, r.Y, r.Width, r.Height);
}
TStatus TGPGraphics::DrawRectangle(const TGPPen& pen, float x, float y, float width, float height) {
  return SetStatus(Call(&TFxGdipAPI::GdipDrawRectangle, native_, pen.Handle(), x, y, width, height));
}
TStatus TGPGraphics::DrawString(std::string_view text, int length, const TGPFont* font, const TGPRect& layout,
                                const TGPStringFormat* format, const TGPBrush* brush) {
  // A zero-filled wide copy, one character per byte.
  std::u16string wide(text.size() + 1, u'\0');
  for (size_t i = 0; i < text.size(); ++i) wide[i] = static_cast<unsigned char>(text[i]);
  int n = std::clamp(length, -1, static_cast<int>(text.size()));
  return SetStatus(Call(&TFxGdipAPI::GdipDrawString, native_, wide.c_str(), n, font ? font->Handle() : nullptr, &layout,
                        format ? format->Handle() : nullptr, brush ? brush->Handle() : nullptr));
}
TStatus TGPGraphics::DrawString(std::u16string_view text, int length, const TGPFont* font, const TGPRect& layout,
                                const TGPStringFormat* format, const TGPBrush* brush) {
  std::u16string wide(text);  // the library wants a terminated string
  int n = std::clamp(length, -1, static_cast<int>(text.size()));
  return SetStatus(Call(&TFxGdipAPI::GdipDrawString, native_, wide.c_str(), n, font ? font->Handle() : nullptr, &layout,
                        format ? format->Handle() : nullptr, brush ? brush->Handle() : nullptr));
}
TStatus TGPGraphics::MeasureString(std::u16string_view text, int length, const TGPFont* font, const TGPRect& layout,
                                   const TGPStringFormat* format, TGPRect& bounds, int* codepointsFitted,
                                   int* linesFilled) {
  std::u16string wide(text);
  int n = std::clamp(length, -1, static_cast<int>(text.size()));
  bounds = {0, 0, 0, 0};
  return SetStatus(Call(&TFxGdipAPI::GdipMeasureString, native_, wide.c_str(), n, font ? font->Handle() : nullptr, &layout,
                        format ? format->Handle() : nullptr, &bounds, codepointsFitted, linesFilled));
}
TStatus TGPGraphics::DrawImage(const TGPImage* image, int x, int y, int width, int height) {
  return SetStatus(Call(&TFxGdipAPI::GdipDrawImageRect, native_, image ? image->Handle() : nullptr, static_cast<REAL>(x),
                        static_cast<REAL>(y), static_cast<REAL>(width), static_cast<REAL>(height)));
}
TStatus TGPGraphics::DrawImage(const TGPImage* image, const TGPRect& d, float srcX, float srcY, float srcWidth,
                               float srcHeight, int srcUnit, const TGPImageAttributes* attributes) {
  return SetStatus(Call(&TFxGdipAPI::GdipDrawImageRectRect, native_, image ? image->Handle() : nullptr, d.X, d.Y, d.Width,
                        d.Height, srcX, srcY, srcWidth, srcHeight, srcUnit,
                        attributes ? attributes->Handle() : nullptr, static_cast<void*>(nullptr),
                        static_cast<void*>(nullptr)));
}
TStatus TGPGraphics::SetClip(const TGPRegion* region, int combineMode) {
  return SetStatus(Call(&TFxGdipAPI::GdipSetClipRegion, native_, region ? region->Handle() : nullptr, combineMode));
}
TStatus TGPGraphics::ResetClip() { return SetStatus(Call(&TFxGdipAPI::GdipResetClip, native_)); }

// ---- pens and brushes

TGPPen::TGPPen(ARGB color, float width) {
  void* pen = nullptr;
  TStatus st = Call(&TFxGdipAPI::GdipCreatePen1, color, width, 0, &pen);
  SetCreated(st == Ok ? pen : nullptr, st);
}
TGPPen::~TGPPen() { Call(&TFxGdipAPI::GdipDeletePen, native_); }
TStatus TGPPen::SetDashStyle(int style) { return SetStatus(Call(&TFxGdipAPI::GdipSetPenDashStyle, native_, style)); }

TGPBrush::~TGPBrush() { Call(&TFxGdipAPI::GdipDeleteBrush, native_); }

TGPSolidBrush::TGPSolidBrush(ARGB color) {
  void* brush = nullptr;
  TStatus st = Call(&TFxGdipAPI::GdipCreateSolidFill, color, &brush);
  SetCreated(st == Ok ? brush : nullptr, st);
}

TGPLinearGradientBrush::TGPLinearGradientBrush(const TGPRect& rect, ARGB color1, ARGB color2, int mode) {
  void* brush = nullptr;
  TStatus st = Call(&TFxGdipAPI::GdipCreateLineBrushFromRect, &rect, color1, color2, mode, 0, &brush);
  SetCreated(st == Ok ? brush : nullptr, st);
}

TGPPathGradientBrush::TGPPathGradientBrush(const TGPGraphicsPath& path) {
  void* brush = nullptr;
  TStatus st = Call(&TFxGdipAPI::GdipCreatePathGradientFromPath, path.Handle(), &brush);
  SetCreated(st == Ok ? brush : nullptr, st);
}
TStatus TGPPathGradientBrush::SetCenterColor(ARGB color) {
  return SetStatus(Call(&TFxGdipAPI::GdipSetPathGradientCenterColor, native_, color));
}
int TGPPathGradientBrush::GetPointCount() {
  int count = 0;
  if (SetStatus(Call(&TFxGdipAPI::GdipGetPathGradientPointCount, native_, &count)) != Ok) return 0;
  return count;
}
TStatus TGPPathGradientBrush::SetSurroundColors(const ARGB* colors, int& count) {
  int points = GetPointCount();
  if (!colors || count <= 0 || points <= 0 || points < count) return SetStatus(InvalidParameter);
  int n = count;
  TStatus st = SetStatus(Call(&TFxGdipAPI::GdipSetPathGradientSurroundColorsWithCount, native_, colors, &n));
  if (st == Ok) count = n;
  return st;
}
TStatus TGPPathGradientBrush::SetCenterPoint(const TGPPoint& point) {
  return SetStatus(Call(&TFxGdipAPI::GdipSetPathGradientCenterPointI, native_, &point));
}

TGPRegion::TGPRegion(const TGPGraphicsPath& path) {
  void* region = nullptr;
  TStatus st = Call(&TFxGdipAPI::GdipCreateRegionPath, path.Handle(), &region);
  SetCreated(st == Ok ? region : nullptr, st);
}
TGPRegion::~TGPRegion() { Call(&TFxGdipAPI::GdipDeleteRegion, native_); }

// ---- fonts and text formats

TGPFontFamily::TGPFontFamily(std::u16string_view name, void* fontCollection) {
  std::u16string wide(name);
  void* family = nullptr;
  TStatus st = Call(&TFxGdipAPI::GdipCreateFontFamilyFromName, wide.c_str(), fontCollection, &family);
  SetCreated(st == Ok ? family : nullptr, st);
}
TGPFontFamily::~TGPFontFamily() { Call(&TFxGdipAPI::GdipDeleteFontFamily, native_); }

TGPFont::TGPFont(const TGPFontFamily* family, float emSize, int style, int unit) {
  void* font = nullptr;
  TStatus st = Call(&TFxGdipAPI::GdipCreateFont, family ? family->Handle() : nullptr, emSize, style, unit, &font);
  SetCreated(st == Ok ? font : nullptr, st);
}
TGPFont::~TGPFont() { Call(&TFxGdipAPI::GdipDeleteFont, native_); }

TGPStringFormat::TGPStringFormat(int formatFlags, uint16_t language) {
  void* format = nullptr;
  TStatus st = Call(&TFxGdipAPI::GdipCreateStringFormat, formatFlags, language, &format);
  SetCreated(st == Ok ? format : nullptr, st);
}
TGPStringFormat::~TGPStringFormat() { Call(&TFxGdipAPI::GdipDeleteStringFormat, native_); }
TStatus TGPStringFormat::SetAlignment(int align) { return SetStatus(Call(&TFxGdipAPI::GdipSetStringFormatAlign, native_, align)); }
TStatus TGPStringFormat::SetLineAlignment(int align) {
  return SetStatus(Call(&TFxGdipAPI::GdipSetStringFormatLineAlign, native_, align));
}
TStatus TGPStringFormat::SetTrimming(StringTrimming trimming) {
  return SetStatus(Call(&TFxGdipAPI::GdipSetStringFormatTrimming, native_, static_cast<int>(trimming)));
}
TStatus TGPStringFormat::SetHotkeyPrefix(int prefix) {
  return SetStatus(Call(&TFxGdipAPI::GdipSetStringFormatHotkeyPrefix, native_, prefix));
}

// ---- paths

TGPGraphicsPath::TGPGraphicsPath(int fillMode) {
  void* path = nullptr;
  TStatus st = Call(&TFxGdipAPI::GdipCreatePath, fillMode, &path);
  SetCreated(st == Ok ? path : nullptr, st);
}
TGPGraphicsPath::~TGPGraphicsPath() { Call(&TFxGdipAPI::GdipDeletePath, native_); }
TStatus TGPGraphicsPath::CloseFigure() { return SetStatus(Call(&TFxGdipAPI::GdipClosePathFigure, native_)); }
TStatus TGPGraphicsPath::AddLine(float x1, float y1, float x2, float y2) {
  return SetStatus(Call(&TFxGdipAPI::GdipAddPathLine, native_, x1, y1, x2, y2));
}
TStatus TGPGraphicsPath::AddArc(float x, float y, float width, float height, float startAngle, float sweepAngle) {
  return SetStatus(Call(&TFxGdipAPI::GdipAddPathArc, native_, x, y, width, height, startAngle, sweepAngle));
}
TStatus TGPGraphicsPath::AddEllipse(float x, float y, float width, float height) {
  return SetStatus(Call(&TFxGdipAPI::GdipAddPathEllipse, native_, x, y, width, height));
}
TStatus TGPGraphicsPath::AddCurve(const TGPPoint* points, int count, float tension) {
  return SetStatus(Call(&TFxGdipAPI::GdipAddPathCurve2I, native_, points, count, tension));
}
TStatus TGPGraphicsPath::AddBezier(float x1, float y1, float x2, float y2, float x3, float y3, float x4, float y4) {
  return SetStatus(Call(&TFxGdipAPI::GdipAddPathBezier, native_, x1, y1, x2, y2, x3, y3, x4, y4));
}

// ---- images

TGPImage::TGPImage(std::string_view bytes, bool) {
  void* image = nullptr;
  TStatus st = LoadImageBytes(bytes, &image);
  SetCreated(image, st);
}
TGPImage::~TGPImage() { Call(&TFxGdipAPI::GdipDisposeImage, native_); }
uint32_t TGPImage::GetWidth() {
  uint32_t w = 0;
  if (SetStatus(Call(&TFxGdipAPI::GdipGetImageWidth, native_, &w)) != Ok) return 0;
  return w;
}
uint32_t TGPImage::GetHeight() {
  uint32_t h = 0;
  if (SetStatus(Call(&TFxGdipAPI::GdipGetImageHeight, native_, &h)) != Ok) return 0;
  return h;
}
int TGPImage::GetFormat() {
  gdip::GUID g{};
  if (SetStatus(Call(&TFxGdipAPI::GdipGetImageRawFormat, native_, &g)) != Ok) return ifUndefined;
  // The published image-format identifiers differ only in their first field.
  static const uint8_t kTail[8] = {0x9D, 0x7B, 0x00, 0x00, 0xF8, 0x1E, 0xF3, 0x2E};
  if (g.Data2 != 0x0728 || g.Data3 != 0x11D3 || std::memcmp(g.Data4, kTail, 8) != 0) return ifUndefined;
  switch (g.Data1) {
    case 0xB96B3CAA: return ifMemoryBMP;
    case 0xB96B3CAB: return ifBMP;
    case 0xB96B3CAC: return ifEMF;
    case 0xB96B3CAD: return ifWMF;
    case 0xB96B3CAE: return ifJPEG;
    case 0xB96B3CAF: return ifPNG;
    case 0xB96B3CB0: return ifGIF;
    case 0xB96B3CB1: return ifTIFF;
    case 0xB96B3CB2: return ifEXIF;
    case 0xB96B3CB5: return ifIcon;
    default: return ifUndefined;
  }
}

TGPBitmap::TGPBitmap(std::string_view bytes, bool icm) : TGPImage(bytes, icm) {}
TStatus TGPBitmap::GetPixel(int x, int y, ARGB& color) {
  color = 0;
  return SetStatus(Call(&TFxGdipAPI::GdipBitmapGetPixel, native_, x, y, &color));
}

TGPImageAttributes::TGPImageAttributes() {
  void* attributes = nullptr;
  TStatus st = Call(&TFxGdipAPI::GdipCreateImageAttributes, &attributes);
  SetCreated(st == Ok ? attributes : nullptr, st);
}
TGPImageAttributes::~TGPImageAttributes() { Call(&TFxGdipAPI::GdipDisposeImageAttributes, native_); }
TStatus TGPImageAttributes::SetColorKey(ARGB low, ARGB high, int adjustType) {
  return SetStatus(Call(&TFxGdipAPI::GdipSetImageAttributesColorKeys, native_, adjustType, 1, low, high));
}

void AddRoundRect(TGPGraphicsPath& path, float x, float y, float w, float h, float radius) {
  const float d = 2 * radius;
  path.AddLine(x + radius, y, x + w - radius, y);
  path.AddArc(x + w - d, y, d, d, 270, 90);
  path.AddLine(x + w, y + radius, x + w, y + h - radius);
  path.AddArc(x + w - d, y + h - d, d, d, 0, 90);
  path.AddLine(x + w - radius, y + h, x + radius, y + h);
  path.AddArc(x, y + h - d, d, d, 90, 90);
  path.AddLine(x, y + h - radius, x, y + radius);
  path.AddArc(x, y, d, d, 180, 90);
  path.CloseFigure();
}
