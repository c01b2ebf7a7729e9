#include "platform/Gdi.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "TestSupport.h"
#include "platform/GdiCanvas.h"

namespace {

constexpr COLORREF kWhite = 0xFFFFFF;
constexpr COLORREF kRed = 0x0000FF;
constexpr COLORREF kBlue = 0xFF0000;

// A white 24-bit bitmap and a DC on it, freed together.
struct Page {
  TBitmap bmp;
  HDC dc;
  Page(int w, int h, TPixelFormat f = TPixelFormat::pf24bit) : bmp(w, h, f) {
    bmp.Fill(kWhite);
    dc = CreateBitmapDC(bmp);
  }
  ~Page() { DeleteDC(dc); }
};

void SquarePath(HDC dc, int l, int t, int r, int b, bool clockwise) {
  MoveToEx(dc, l, t, nullptr);
  if (clockwise) {
    LineTo(dc, r, t);
    LineTo(dc, r, b);
    LineTo(dc, l, b);
  } else {
    LineTo(dc, l, b);
    LineTo(dc, r, b);
    LineTo(dc, r, t);
  }
  CloseFigure(dc);
}

}  // namespace

TEST(Gdi, FillModesDecideTheInnerSquare) {
  for (int mode : {ALTERNATE, WINDING}) {
    Page p(40, 40);
    HBRUSH red = CreateSolidBrush(kRed);
    SelectObject(p.dc, red);
    SelectObject(p.dc, GetStockObject(NULL_PEN));
    SetPolyFillMode(p.dc, mode);
    BeginPath(p.dc);
    SquarePath(p.dc, 5, 5, 35, 35, true);
    SquarePath(p.dc, 15, 15, 25, 25, true);  // same direction: a hole only for even-odd
    EndPath(p.dc);
    EXPECT_TRUE(FillPath(p.dc));
    EXPECT_EQ(GetPixel(p.dc, 8, 8), kRed);
    EXPECT_EQ(GetPixel(p.dc, 20, 20), mode == WINDING ? kRed : kWhite) << mode;
    EXPECT_EQ(GetPixel(p.dc, 2, 2), kWhite);
    EXPECT_FALSE(FillPath(p.dc));  // the path was used up
    SelectObject(p.dc, GetStockObject(WHITE_BRUSH));
    EXPECT_TRUE(DeleteObject(red));
  }
}

TEST(Gdi, PenDashesCapsAndWidth) {
  Page p(120, 40);
  // A user-styled geometric pen: 10 on, 10 off, flat caps.
  LOGBRUSH lb{BS_SOLID, kBlue, 0};
  DWORD dashes[] = {10, 10};
  HPEN dashed = ExtCreatePen(PS_GEOMETRIC | PS_USERSTYLE | PS_ENDCAP_FLAT, 4, &lb, 2, dashes);
  ASSERT_NE(dashed, nullptr);
  SelectObject(p.dc, dashed);
  MoveToEx(p.dc, 10, 10, nullptr);
  LineTo(p.dc, 110, 10);
  EXPECT_EQ(GetPixel(p.dc, 15, 10), kBlue);
  EXPECT_EQ(GetPixel(p.dc, 25, 10), kWhite);  // a gap
  EXPECT_EQ(GetPixel(p.dc, 35, 10), kBlue);
  EXPECT_EQ(GetPixel(p.dc, 15, 13), kWhite);  // 4 wide around y = 10
  EXPECT_EQ(GetPixel(p.dc, 15, 8), kBlue);
  // Square caps reach half the width beyond the end point; flat ones do not.
  HPEN square = ExtCreatePen(PS_GEOMETRIC | PS_SOLID | PS_ENDCAP_SQUARE, 8, &lb, 0, nullptr);
  HPEN flat = ExtCreatePen(PS_GEOMETRIC | PS_SOLID | PS_ENDCAP_FLAT, 8, &lb, 0, nullptr);
  SelectObject(p.dc, square);
  MoveToEx(p.dc, 20, 25, nullptr);
  LineTo(p.dc, 40, 25);
  SelectObject(p.dc, flat);
  MoveToEx(p.dc, 70, 25, nullptr);
  LineTo(p.dc, 90, 25);
  EXPECT_EQ(GetPixel(p.dc, 17, 25), kBlue);
  EXPECT_EQ(GetPixel(p.dc, 67, 25), kWhite);
  EXPECT_EQ(GetPixel(p.dc, 71, 25), kBlue);
  // Objects selected in a DC cannot be deleted; stock objects are ignored.
  EXPECT_FALSE(DeleteObject(flat));
  SelectObject(p.dc, GetStockObject(BLACK_PEN));
  EXPECT_TRUE(DeleteObject(flat));
  EXPECT_FALSE(DeleteObject(flat));  // stale handle
  EXPECT_TRUE(DeleteObject(GetStockObject(BLACK_PEN)));
  EXPECT_TRUE(DeleteObject(dashed));
  EXPECT_TRUE(DeleteObject(square));
  // Invalid pen descriptions are refused.
  EXPECT_EQ(ExtCreatePen(PS_GEOMETRIC | PS_USERSTYLE, 2, &lb, 0, nullptr), nullptr);
  EXPECT_EQ(ExtCreatePen(PS_COSMETIC | PS_SOLID, 5, &lb, 0, nullptr), nullptr);
}

TEST(Gdi, ClipPathsSaveAndRestore) {
  Page p(50, 50);
  HBRUSH red = CreateSolidBrush(kRed);
  SelectObject(p.dc, red);
  SelectObject(p.dc, GetStockObject(NULL_PEN));
  int level = SaveDC(p.dc);
  BeginPath(p.dc);
  SquarePath(p.dc, 10, 10, 30, 30, true);
  EndPath(p.dc);
  ASSERT_TRUE(SelectClipPath(p.dc, RGN_COPY));
  HRGN saved = CreateRectRgn(0, 0, 1, 1);
  EXPECT_EQ(GetClipRgn(p.dc, saved), 1);
  EXPECT_EQ(IntersectClipRect(p.dc, 20, 0, 50, 50), COMPLEXREGION);
  RECT all{0, 0, 50, 50};
  FillRect(p.dc, &all, red);
  EXPECT_EQ(GetPixel(p.dc, 15, 15), CLR_INVALID);  // outside the clip
  EXPECT_EQ(GetPixel(p.dc, 25, 25), kRed);
  ASSERT_TRUE(RestoreDC(p.dc, level));
  EXPECT_EQ(GetPixel(p.dc, 15, 15), kWhite);  // was clipped away
  EXPECT_EQ(GetPixel(p.dc, 40, 40), kWhite);
  // The region copy brings back the path clip without the rectangle.
  SelectClipRgn(p.dc, saved);
  FillRect(p.dc, &all, red);
  EXPECT_EQ(GetPixel(p.dc, 15, 15), kRed);
  EXPECT_EQ(GetPixel(p.dc, 40, 40), CLR_INVALID);
  SelectClipRgn(p.dc, nullptr);
  EXPECT_EQ(GetPixel(p.dc, 40, 40), kWhite);
  EXPECT_FALSE(RestoreDC(p.dc, 5));
  SelectObject(p.dc, GetStockObject(WHITE_BRUSH));
  DeleteObject(red);
  DeleteObject(saved);
}

TEST(Gdi, ImagesStretchRotateAndBlend) {
  TBitmap src(2, 2, TPixelFormat::pf24bit);
  src.SetPixel(0, 0, kRed);
  src.SetPixel(1, 0, kBlue);
  src.SetPixel(0, 1, 0x00FF00);
  src.SetPixel(1, 1, 0);
  Page p(60, 60);
  EXPECT_EQ(StretchDIBits(p.dc, 0, 0, 20, 20, 0, 0, 2, 2, src, SRCCOPY), 2);
  EXPECT_EQ(GetPixel(p.dc, 5, 5), kRed);
  EXPECT_EQ(GetPixel(p.dc, 15, 5), kBlue);
  EXPECT_EQ(GetPixel(p.dc, 5, 15), 0x00FF00u);
  // Upper-left at (50, 30), upper-right below it: turned 90 degrees clockwise.
  POINT pts[3] = {{50, 30}, {50, 50}, {30, 30}};
  ASSERT_TRUE(PlgBlt(p.dc, pts, src, 0, 0, 2, 2));
  EXPECT_EQ(GetPixel(p.dc, 45, 35), kRed);
  EXPECT_EQ(GetPixel(p.dc, 45, 45), kBlue);
  EXPECT_EQ(GetPixel(p.dc, 35, 35), 0x00FF00u);
  POINT flat[3] = {{0, 0}, {10, 0}, {20, 0}};
  EXPECT_FALSE(PlgBlt(p.dc, flat, src, 0, 0, 2, 2));  // degenerate: nothing drawn
  BLENDFUNCTION half{AC_SRC_OVER, 0, 128, 0};
  ASSERT_TRUE(AlphaBlend(p.dc, 0, 40, 10, 10, src, 0, 0, 1, 1, half));
  COLORREF c = GetPixel(p.dc, 5, 45);
  EXPECT_EQ(GetRValue(c), 255);
  EXPECT_NEAR(GetGValue(c), 127, 2);
  // The 24-bit bitmap receives the pixels when the DC writes back.
  GdiFlushDC(p.dc);
  EXPECT_EQ(p.bmp.Pixel(15, 5), kBlue);
}

TEST(Gdi, CanvasAndDecodedPictures) {
  TBitmap target(30, 30, TPixelFormat::pf8bit);
  {
    TCanvas canvas(target);
    canvas.Brush().Color = 0x808080;
    canvas.Pen().Style = TPenStyle::psClear;
    canvas.Rectangle(0, 0, 30, 30);
    canvas.Pen().Style = TPenStyle::psSolid;
    canvas.Pen().Color = 0;
    canvas.MoveTo(0, 10);
    canvas.LineTo(30, 10);
  }
  EXPECT_EQ(target.Pixel(5, 5), 0x808080u);  // grey ramp entry 128
  EXPECT_EQ(target.Pixel(5, 10), 0u);

  // PNG through the picture decoder; ImageMagick makes the file.
  if (!pvltest::HaveTool("convert")) GTEST_SKIP();
  pvltest::TempDir dir;
  auto r = pvltest::RunCommand({"convert", "-size", "4x3", "xc:#FF000080", "PNG32:" + dir.File("a.png")});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  TBitmap png;
  ASSERT_TRUE(DecodePicture(pvltest::ReadFile(dir.File("a.png")), png));
  EXPECT_EQ(png.Width(), 4);
  EXPECT_EQ(png.AlphaFormat(), TAlphaFormat::afPremultiplied);
  EXPECT_EQ(png.ScanLine(0)[3], 0x80);
  EXPECT_EQ(png.ScanLine(0)[2], 0x80);  // premultiplied red
  std::string bytes = pvltest::ReadFile(dir.File("a.png"));
  EXPECT_FALSE(DecodePicture(bytes.substr(0, bytes.size() - 20), png));  // cut short
  EXPECT_FALSE(DecodePicture("junk", png));
}

namespace {

// A BMP wider than cairo can address is refused, not read through a null surface.
TEST(GdiPicture, TooWideBitmapIsRefused) {
  TBitmap wide(40000, 1, TPixelFormat::pf24bit);
  wide.Fill(0x0000FF);
  TBitmap result;
  EXPECT_FALSE(DecodePicture(wide.SaveToBytes(), result));
  TBitmap small(3, 2, TPixelFormat::pf24bit);
  small.Fill(0x0000FF);
  ASSERT_TRUE(DecodePicture(small.SaveToBytes(), result));
  EXPECT_EQ(result.Width(), 3);
}

// A bitmap drawn as a picture gives the pixels its BMP file decodes to,
// for every format and alpha meaning (premultiplied alpha goes out to the
// file's straight alpha and back, rounding included).
TEST(GdiPicture, BitmapsGiveThePixelsOfTheirFiles) {
  struct Case {
    const char* name;
    TPixelFormat format;
    TAlphaFormat alpha;
  };
  const Case cases[] = {
      {"1 bit", TPixelFormat::pf1bit, TAlphaFormat::afIgnored},
      {"8 bits", TPixelFormat::pf8bit, TAlphaFormat::afIgnored},
      {"24 bits", TPixelFormat::pf24bit, TAlphaFormat::afIgnored},
      {"32 bits opaque", TPixelFormat::pf32bit, TAlphaFormat::afIgnored},
      {"32 bits straight", TPixelFormat::pf32bit, TAlphaFormat::afDefined},
      {"32 bits premultiplied", TPixelFormat::pf32bit, TAlphaFormat::afPremultiplied},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const int w = 37, h = 11;
    TBitmap b(w, h, c.format);
    if (c.format == TPixelFormat::pf8bit) {
      std::vector<TRGBQuad> pal(200);  // indexes 200-255 lie beyond the palette
      for (int i = 0; i < 200; ++i) pal[i] = TRGBQuad{uint8_t(i * 7), uint8_t(255 - i), uint8_t(i), 0};
      b.SetPalette(pal);
    }
    if (c.format == TPixelFormat::pf1bit) b.SetPalette({TRGBQuad{10, 20, 200, 0}, TRGBQuad{250, 240, 5, 0}});
    for (int y = 0; y < h; ++y) {
      uint8_t* row = b.ScanLine(y);
      const int bytes = static_cast<int>((int64_t(w) * b.BitsPerPixel() + 7) / 8);
      for (int i = 0; i < bytes; ++i) row[i] = static_cast<uint8_t>(i * 31 + y * 17 + (i * y) % 7);
      if (c.format == TPixelFormat::pf32bit)
        for (int x = 0; x < w; ++x) row[4 * x + 3] = static_cast<uint8_t>(x * 7 + y * 23);  // 0 and 255 among them
    }
    b.SetAlphaFormat(c.alpha);
    TBitmap fromFile, direct;
    ASSERT_TRUE(DecodePicture(b.SaveToBytes(), fromFile));
    ASSERT_TRUE(PremultipliedPicture(b, direct));
    ASSERT_EQ(direct.PixelFormat(), TPixelFormat::pf32bit);
    EXPECT_EQ(direct.AlphaFormat(), TAlphaFormat::afPremultiplied);
    ASSERT_EQ(direct.BitsSize(), fromFile.BitsSize());
    EXPECT_EQ(std::memcmp(direct.Bits(), fromFile.Bits(), direct.BitsSize()), 0);
  }
  TBitmap result;
  EXPECT_FALSE(PremultipliedPicture(TBitmap(), result));
  EXPECT_FALSE(PremultipliedPicture(TBitmap(40000, 1, TPixelFormat::pf24bit), result));  // as DecodePicture
  EXPECT_FALSE(PremultipliedPicture(TBitmap(1, 33000, TPixelFormat::pf8bit), result));
}

// A DC over a bitmap that is not 32-bit draws on a converted copy and
// writes it back: pixels it did not draw on come back as they were.
TEST(Gdi, DrawingOnOtherFormatsKeepsUntouchedPixels) {
  for (TPixelFormat format : {TPixelFormat::pf24bit, TPixelFormat::pf8bit, TPixelFormat::pf1bit}) {
    SCOPED_TRACE(TBitmap::BitsPerPixel(format));
    TBitmap b(21, 9, format);
    if (format == TPixelFormat::pf8bit) {
      std::vector<TRGBQuad> pal(256);
      for (int i = 0; i < 256; ++i) pal[i] = TRGBQuad{uint8_t(i * 7), uint8_t(255 - i), uint8_t(i), 0};
      pal[255] = TRGBQuad{0, 0, 255, 0};  // red, what is drawn
      b.SetPalette(pal);
    }
    if (format == TPixelFormat::pf1bit) b.SetPalette({TRGBQuad{255, 255, 255, 0}, TRGBQuad{0, 0, 255, 0}});
    for (int y = 0; y < 9; ++y)
      for (int x = 0; x < 21; ++x) {
        if (format == TPixelFormat::pf24bit)
          b.SetPixel(x, y, RGB(uint8_t(x * 11), uint8_t(y * 27), uint8_t(x * y)));
        else
          b.SetPixelIndex(x, y, format == TPixelFormat::pf1bit ? 0 : (x * 13 + y * 5) % 255);
      }
    const TBitmap before = b;
    HDC dc = CreateBitmapDC(b);
    ASSERT_NE(dc, nullptr);
    HBRUSH red = CreateSolidBrush(kRed);
    RECT r{4, 2, 9, 6};
    FillRect(dc, &r, red);
    DeleteDC(dc);
    DeleteObject(red);
    for (int y = 0; y < 9; ++y)
      for (int x = 0; x < 21; ++x) {
        const bool inside = x >= 4 && x < 9 && y >= 2 && y < 6;
        EXPECT_EQ(b.Pixel(x, y), inside ? kRed : before.Pixel(x, y)) << x << "," << y;
      }
  }
}

}  // namespace
