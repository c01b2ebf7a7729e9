// Thin object layer over the GDI+ flat API for the user-interface components:
// one class per GDI+ object kind holding the native handle and the last
// failure status, the colour and geometry helpers, and the process-wide start
// of GDI+. The components draw only through these classes. Nothing here
// raises: failures are kept as GDI+ status codes.
//
// libgdiplus stands in for gdiplus.dll; it is bound at run time. Where the
// system drew on a device context, a graphics draws in place on a premultiplied
// 32-bit pixel buffer (a QImage), and images load from bytes in memory.
#pragma once

#include <QImage>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/Color.h"
#include "platform/GdiPlus.h"

// Class-library colours: 0x00BBGGRR, system colours 0xFF0000nn.
constexpr TColor clNone = 0x1FFFFFFF;
constexpr TColor clBlack = 0x000000;
constexpr TColor clWhite = 0xFFFFFF;
constexpr TColor clRed = 0x0000FF;
constexpr TColor clGray = 0x808080;
constexpr TColor clSilver = 0xC0C0C0;
// System colours (the index of the system colour in the low byte).
constexpr TColor clSystemColor = 0xFF000000u;
constexpr TColor clWindow = clSystemColor | 5;
constexpr TColor clWindowText = clSystemColor | 8;
constexpr TColor clHighlight = clSystemColor | 13;
constexpr TColor clHighlightText = clSystemColor | 14;
constexpr TColor clBtnFace = clSystemColor | 15;
constexpr TColor clBtnShadow = clSystemColor | 16;
constexpr TColor clGrayText = clSystemColor | 17;
constexpr TColor clBtnText = clSystemColor | 18;
constexpr TColor clBtnHighlight = clSystemColor | 20;

// A class-library colour as plain 0x00BBGGRR; system colours take the current
// colour of the application's palette (the classic defaults without one).
TColor ColorToRGB(TColor color);

enum TAntiAlias { aaNone, aaClearType, aaAntiAlias };
enum StringTrimming {
  StringTrimmingNone,
  StringTrimmingCharacter,
  StringTrimmingWord,
  StringTrimmingEllipsisCharacter,
  StringTrimmingEllipsisWord,
  StringTrimmingEllipsisPath
};

using ARGB = uint32_t;
using TStatus = int;  // GDI+ status: 0 Ok
constexpr TStatus Ok = 0;
constexpr TStatus InvalidParameter = 2;
constexpr TStatus OutOfMemory = 3;
constexpr TStatus NotImplemented = 6;
constexpr TStatus FontFamilyNotFound = 14;
constexpr TStatus FontStyleNotFound = 15;
constexpr TStatus GdiplusNotInitialized = 18;

struct TGPPoint {
  int32_t X, Y;
};
struct TGPRect {
  float X, Y, Width, Height;
};

ARGB ColorToARGB(TColor color);
ARGB MakeColor(uint8_t a, uint8_t r, uint8_t g, uint8_t b);
ARGB MakeColor(uint8_t r, uint8_t g, uint8_t b);
uint8_t GetRed(ARGB color);
uint8_t GetGreen(ARGB color);
uint8_t GetBlue(ARGB color);
TGPPoint MakeGPPoint(int x, int y);
TGPRect MakeGPRect(float x, float y, float width, float height);

// Starts GDI+ for the process on first use (shut down at exit). False when
// the library cannot be bound or started.
bool GdiplusStarted();

// Root of the wrappers: the native handle and the last non-zero status.
class TGdiplusBase {
public:
  TGdiplusBase() = default;
  TGdiplusBase(const TGdiplusBase&) = delete;
  TGdiplusBase& operator=(const TGdiplusBase&) = delete;
  virtual ~TGdiplusBase() = default;
  void* Handle() const { return native_; }
  TStatus GetLastStatus() const { return lastResult_; }

protected:
  // Records a creation result whatever it is.
  void SetCreated(void* handle, TStatus status) {
    native_ = handle;
    lastResult_ = status;
  }
  // Returns the status and keeps it when it is a failure.
  TStatus SetStatus(TStatus status) {
    if (status != Ok) lastResult_ = status;
    return status;
  }
  void* native_ = nullptr;
  TStatus lastResult_ = Ok;
};

class TGPPen;
class TGPBrush;
class TGPGraphicsPath;
class TGPFont;
class TGPStringFormat;
class TGPImage;
class TGPImageAttributes;
class TGPRegion;

class TGPGraphics : public TGdiplusBase {
public:
  // Draws in place on image, which must be Format_ARGB32_Premultiplied and
  // outlive the graphics.
  explicit TGPGraphics(QImage& image);
  ~TGPGraphics() override;
  TStatus SetTextRenderingHint(int hint);
  TStatus SetSmoothingMode(int mode);
  TStatus DrawPath(const TGPPen* pen, const TGPGraphicsPath* path);
  TStatus FillRectangle(const TGPBrush* brush, float x, float y, float width, float height);
  TStatus FillRectangle(const TGPBrush* brush, const TGPRect& rect);
  TStatus DrawRectangle(const TGPPen& pen, float x, float y, float width, float height);
  // 8-bit text is taken as Latin-1 (this platform's default code page stand-in).
  TStatus DrawString(std::string_view text, int length, const TGPFont* font, const TGPRect& layout,
                     const TGPStringFormat* format, const TGPBrush* brush);
  TStatus DrawString(std::u16string_view text, int length, const TGPFont* font, const TGPRect& layout,
                     const TGPStringFormat* format, const TGPBrush* brush);
  TStatus MeasureString(std::u16string_view text, int length, const TGPFont* font, const TGPRect& layout,
                        const TGPStringFormat* format, TGPRect& bounds, int* codepointsFitted = nullptr,
                        int* linesFilled = nullptr);
  TStatus DrawImage(const TGPImage* image, int x, int y, int width, int height);
  TStatus DrawImage(const TGPImage* image, const TGPRect& dest, float srcX, float srcY, float srcWidth,
                    float srcHeight, int srcUnit, const TGPImageAttributes* attributes);
  TStatus SetClip(const TGPRegion* region, int combineMode);
  TStatus ResetClip();

private:
  void* bitmap_ = nullptr;  // the bitmap over the caller's pixels
};

class TGPPen : public TGdiplusBase {
public:
  TGPPen(ARGB color, float width);
  ~TGPPen() override;
  TStatus SetDashStyle(int style);
};

class TGPBrush : public TGdiplusBase {
public:
  ~TGPBrush() override;

protected:
  TGPBrush() = default;
};

class TGPSolidBrush : public TGPBrush {
public:
  explicit TGPSolidBrush(ARGB color);
};

class TGPLinearGradientBrush : public TGPBrush {
public:
  // mode: 0 horizontal, 1 vertical, 2 forward diagonal, 3 backward diagonal.
  TGPLinearGradientBrush(const TGPRect& rect, ARGB color1, ARGB color2, int mode);
};

class TGPPathGradientBrush : public TGPBrush {
public:
  explicit TGPPathGradientBrush(const TGPGraphicsPath& path);
  TStatus SetCenterColor(ARGB color);
  int GetPointCount();
  // Sets up to count colours; count becomes what GDI+ took.
  TStatus SetSurroundColors(const ARGB* colors, int& count);
  TStatus SetCenterPoint(const TGPPoint& point);
};

class TGPRegion : public TGdiplusBase {
public:
  explicit TGPRegion(const TGPGraphicsPath& path);
  ~TGPRegion() override;
};

class TGPFontFamily : public TGdiplusBase {
public:
  explicit TGPFontFamily(std::u16string_view name, void* fontCollection = nullptr);
  ~TGPFontFamily() override;
};

class TGPFont : public TGdiplusBase {
public:
  // style: bold 1, italic 2, underline 4, strike-out 8; unit 3 is points.
  TGPFont(const TGPFontFamily* family, float emSize, int style, int unit);
  ~TGPFont() override;
};

class TGPStringFormat : public TGdiplusBase {
public:
  explicit TGPStringFormat(int formatFlags = 0, uint16_t language = 0);
  ~TGPStringFormat() override;
  TStatus SetAlignment(int align);
  TStatus SetLineAlignment(int align);
  TStatus SetTrimming(StringTrimming trimming);
  TStatus SetHotkeyPrefix(int prefix);
};

class TGPGraphicsPath : public TGdiplusBase {
public:
  explicit TGPGraphicsPath(int fillMode = 0);
  ~TGPGraphicsPath() override;
  TStatus CloseFigure();
  TStatus AddLine(float x1, float y1, float x2, float y2);
  TStatus AddArc(float x, float y, float width, float height, float startAngle, float sweepAngle);
  TStatus AddEllipse(float x, float y, float width, float height);
  TStatus AddCurve(const TGPPoint* points, int count, float tension);
  TStatus AddBezier(float x1, float y1, float x2, float y2, float x3, float y3, float x4, float y4);
};

// Adds a closed rectangle (x, y, w, h) with corners rounded by radius to
// the path: the one outline of rounded buttons and frames.
void AddRoundRect(TGPGraphicsPath& path, float x, float y, float w, float h, float radius);

// Image formats of TGPImage::GetFormat.
enum { ifUndefined, ifMemoryBMP, ifBMP, ifEMF, ifWMF, ifJPEG, ifPNG, ifGIF, ifTIFF, ifEXIF, ifIcon };

class TGPImage : public TGdiplusBase {
public:
  // Loads an image file's bytes (the system's stream); the ICM flag has no
  // effect here. The bytes need not outlive the image.
  explicit TGPImage(std::string_view bytes, bool useEmbeddedColorManagement = false);
  ~TGPImage() override;
  uint32_t GetWidth();
  uint32_t GetHeight();
  int GetFormat();
};

class TGPBitmap : public TGPImage {
public:
  explicit TGPBitmap(std::string_view bytes, bool useEmbeddedColorManagement = false);
  TStatus GetPixel(int x, int y, ARGB& color);
};

class TGPImageAttributes : public TGdiplusBase {
public:
  TGPImageAttributes();
  ~TGPImageAttributes() override;
  TStatus SetColorKey(ARGB low, ARGB high, int adjustType = 0);
};
