// Our GDI: device contexts that draw with cairo on a bitmap's 32-bit
// premultiplied pixel buffer, with the Win32 names and semantics the engine
// and the user-interface components use: pens (width, style, dashes, caps,
// joins), brushes, paths, clip regions with save and restore, image
// stretching, alpha blending and pixel access. Coordinates are integers as
// in GDI; drawing is aliased as in GDI.
//
// Handles are small numbers looked up in a process-wide table, so a stale or
// wrong handle makes a call fail instead of touching freed memory.
#pragma once

#include <cstdint>

#include "platform/Bitmap.h"

using COLORREF = uint32_t;  // 0x00BBGGRR
using DWORD = uint32_t;
using UINT = uint32_t;
using BYTE = uint8_t;
using BOOL = int;

struct HDC__;
struct HPEN__;
struct HBRUSH__;
struct HRGN__;
struct HFONT__;
using HDC = HDC__*;
using HPEN = HPEN__*;
using HBRUSH = HBRUSH__*;
using HRGN = HRGN__*;
using HFONT = HFONT__*;
using HGDIOBJ = void*;

struct POINT {
  int32_t x = 0, y = 0;
};
struct RECT {
  int32_t left = 0, top = 0, right = 0, bottom = 0;
};

constexpr COLORREF CLR_INVALID = 0xFFFFFFFF;

// Pen styles.
constexpr DWORD PS_SOLID = 0, PS_DASH = 1, PS_DOT = 2, PS_DASHDOT = 3, PS_DASHDOTDOT = 4, PS_NULL = 5,
                PS_INSIDEFRAME = 6, PS_USERSTYLE = 7, PS_STYLE_MASK = 0x0000000F;
constexpr DWORD PS_ENDCAP_ROUND = 0x000, PS_ENDCAP_SQUARE = 0x100, PS_ENDCAP_FLAT = 0x200, PS_ENDCAP_MASK = 0xF00;
constexpr DWORD PS_JOIN_ROUND = 0x0000, PS_JOIN_BEVEL = 0x1000, PS_JOIN_MITER = 0x2000, PS_JOIN_MASK = 0xF000;
constexpr DWORD PS_COSMETIC = 0x00000, PS_GEOMETRIC = 0x10000, PS_TYPE_MASK = 0xF0000;

constexpr UINT BS_SOLID = 0, BS_NULL = 1, BS_HOLLOW = BS_NULL;
struct LOGBRUSH {
  UINT lbStyle = BS_SOLID;
  COLORREF lbColor = 0;
  uintptr_t lbHatch = 0;
};

// Stock objects.
constexpr int WHITE_BRUSH = 0, LTGRAY_BRUSH = 1, GRAY_BRUSH = 2, DKGRAY_BRUSH = 3, BLACK_BRUSH = 4, NULL_BRUSH = 5,
              HOLLOW_BRUSH = NULL_BRUSH, WHITE_PEN = 6, BLACK_PEN = 7, NULL_PEN = 8;

// Polygon fill modes.
constexpr int ALTERNATE = 1, WINDING = 2;
// Region combination modes and results.
constexpr int RGN_AND = 1, RGN_OR = 2, RGN_XOR = 3, RGN_DIFF = 4, RGN_COPY = 5;
constexpr int RGN_ERROR = 0, NULLREGION = 1, SIMPLEREGION = 2, COMPLEXREGION = 3;

constexpr DWORD SRCCOPY = 0x00CC0020;

struct BLENDFUNCTION {
  BYTE BlendOp = 0;  // AC_SRC_OVER
  BYTE BlendFlags = 0;
  BYTE SourceConstantAlpha = 255;
  BYTE AlphaFormat = 0;  // 0 or AC_SRC_ALPHA
};
constexpr BYTE AC_SRC_OVER = 0, AC_SRC_ALPHA = 1;

// Memory device context over a bitmap. 32-bit bitmaps are drawn in place
// (opaque ones get alpha 255, straight alpha is premultiplied while the DC
// lives); other formats are drawn in a 32-bit copy that is written back by
// GdiFlushDC and DeleteDC. The bitmap must outlive the DC and must not be
// resized while the DC exists. Returns nullptr for an empty bitmap.
HDC CreateBitmapDC(TBitmap& bitmap);
BOOL DeleteDC(HDC dc);
// A metafile DC: what is drawn on it is recorded by the writer (which must
// outlive the DC) instead of painted. Its pixels cannot be had
// (GetDCSurface fails), so drawing libraries fall back to GDI calls.
class TEmfWriter;
HDC CreateMetafileDC(TEmfWriter& writer);
// Called after a DC is deleted (the printing layer frees the pages of its
// printer DCs this way); one hook per process.
using TDeleteDCHook = void (*)(HDC dc);
void SetDeleteDCHook(TDeleteDCHook hook);
// Writes the DC's pixels back into its bitmap.
BOOL GdiFlushDC(HDC dc);

// The DC's premultiplied 32-bit pixel buffer (cairo ARGB32, GDI+
// PixelFormat32bppPARGB), for drawing libraries that work on it directly.
// Between GetDCSurface and ReleaseDCSurface the caller may change the
// pixels; ReleaseDCSurface tells the DC they changed.
struct TGdiSurface {
  uint8_t* data = nullptr;
  int width = 0;
  int height = 0;
  int stride = 0;
};
BOOL GetDCSurface(HDC dc, TGdiSurface& surface);
BOOL ReleaseDCSurface(HDC dc);

// Pens and brushes.
HPEN CreatePen(int style, int width, COLORREF color);
HPEN ExtCreatePen(DWORD style, DWORD width, const LOGBRUSH* brush, DWORD styleCount, const DWORD* styleEntries);
HBRUSH CreateSolidBrush(COLORREF color);
HGDIOBJ GetStockObject(int index);
// Selects a pen, brush or font; returns the previous one (nullptr on error).
HGDIOBJ SelectObject(HDC dc, HGDIOBJ object);
// Fails for stock objects (ignored, returns true) and objects still selected.
BOOL DeleteObject(HGDIOBJ object);
BOOL SetMiterLimit(HDC dc, float limit, float* old);
int SetPolyFillMode(HDC dc, int mode);
int GetPolyFillMode(HDC dc);

// Lines and shapes drawn at once with the selected pen and brush.
BOOL MoveToEx(HDC dc, int x, int y, POINT* old);
BOOL LineTo(HDC dc, int x, int y);
BOOL PolyBezierTo(HDC dc, const POINT* points, DWORD count);
BOOL Polygon(HDC dc, const POINT* points, int count);
BOOL Polyline(HDC dc, const POINT* points, int count);
BOOL Rectangle(HDC dc, int left, int top, int right, int bottom);
BOOL Ellipse(HDC dc, int left, int top, int right, int bottom);
int FillRect(HDC dc, const RECT* rect, HBRUSH brush);

// Paths: between BeginPath and EndPath, MoveToEx, LineTo, PolyBezierTo,
// Polygon, Polyline, Rectangle and CloseFigure record instead of drawing.
BOOL BeginPath(HDC dc);
BOOL EndPath(HDC dc);
BOOL AbortPath(HDC dc);
BOOL CloseFigure(HDC dc);
BOOL FillPath(HDC dc);
BOOL StrokePath(HDC dc);
BOOL StrokeAndFillPath(HDC dc);
// Makes the path (with the current fill mode) the clip, combined by mode.
BOOL SelectClipPath(HDC dc, int mode);

// Regions: a rectangle or a path, and intersections of them.
HRGN CreateRectRgn(int left, int top, int right, int bottom);
// RGN_AND and RGN_COPY are supported; other modes give RGN_ERROR.
int CombineRgn(HRGN dest, HRGN src1, HRGN src2, int mode);
// nullptr removes the clip.
int SelectClipRgn(HDC dc, HRGN region);
int ExtSelectClipRgn(HDC dc, HRGN region, int mode);
// 1 and a copy of the clip in region, 0 when the DC has no clip, -1 on error.
int GetClipRgn(HDC dc, HRGN region);
int IntersectClipRect(HDC dc, int left, int top, int right, int bottom);
// Saves pen, brush, font, fill mode, miter limit, position and clip.
int SaveDC(HDC dc);
// A positive level restores that save; a negative one counts back from the last.
BOOL RestoreDC(HDC dc, int savedDC);

// Pixels (CLR_INVALID outside the bitmap or the clip).
COLORREF GetPixel(HDC dc, int x, int y);
COLORREF SetPixel(HDC dc, int x, int y, COLORREF color);

// Images. The source is a bitmap of any format; 32-bit sources with
// alpha are drawn with their alpha. Sampling is nearest-neighbour as in GDI.
int StretchDIBits(HDC dc, int xDest, int yDest, int destWidth, int destHeight, int xSrc, int ySrc, int srcWidth,
                  int srcHeight, const TBitmap& source, DWORD rop);
// The source rectangle lands in the parallelogram whose upper-left,
// upper-right and lower-left corners are points[0], points[1], points[2].
BOOL PlgBlt(HDC dc, const POINT* points, const TBitmap& source, int xSrc, int ySrc, int width, int height);
BOOL AlphaBlend(HDC dc, int xDest, int yDest, int destWidth, int destHeight, const TBitmap& source, int xSrc, int ySrc,
                int srcWidth, int srcHeight, BLENDFUNCTION blend);
BOOL BitBlt(HDC dest, int x, int y, int width, int height, HDC source, int xSrc, int ySrc, DWORD rop);

// Decodes an encoded picture (BMP or PNG) into a 32-bit bitmap with
// premultiplied alpha. False when the bytes are neither or are damaged.
bool DecodePicture(std::string_view bytes, TBitmap& result);
// The pixels of a bitmap of any format as premultiplied 32-bit pixels
// (opaque formats get alpha 255, straight alpha is multiplied in), written
// row by row at out with outStride bytes per row (at least Width() * 4).
void CopyToPremultiplied(const TBitmap& source, uint8_t* out, int outStride);
// The picture DecodePicture makes of the bitmap's BMP file, without the file:
// the same pixels (alpha already premultiplied goes through straight alpha
// and back, as the file does), the same refusal of pictures wider or higher
// than the drawing library can address. False for an empty or too large one.
bool PremultipliedPicture(const TBitmap& source, TBitmap& result);
