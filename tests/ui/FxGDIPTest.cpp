#include "ui/FxGDIP.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QByteArray>
#include <QGuiApplication>
#include <QPalette>

#include "TestSupport.h"
#include "UiTestImages.h"

namespace {

std::string Encode(const QImage& image, const char* format) {
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  EXPECT_TRUE(image.save(&buffer, format)) << format;
  return bytes.toStdString();
}

QImage Canvas(int w, int h, QRgb fill = 0xFFFFFFFF) {
  QImage image(w, h, QImage::Format_ARGB32_Premultiplied);
  image.fill(fill);
  return image;
}

TEST(FxGDIPColor, ColorToARGBMovesRedToTheHighChannelAndIsOpaque) {
  struct Case {
    TColor color;
    ARGB argb;
  } cases[] = {
      {0x0000FF, 0xFFFF0000}, {0x00FF00, 0xFF00FF00}, {0xFF0000, 0xFF0000FF},
      {0x123456, 0xFF563412}, {0x000000, 0xFF000000}, {0xFFFFFF, 0xFFFFFFFF},
  };
  for (const Case& c : cases) EXPECT_EQ(ColorToARGB(c.color), c.argb) << std::hex << c.color;
}

TEST(FxGDIPColor, SystemColoursTakeTheCurrentPalette) {
  QColor h = QGuiApplication::palette().color(QPalette::Highlight);
  EXPECT_EQ(ColorToARGB(clHighlight), MakeColor(h.red(), h.green(), h.blue()));
  QColor b = QGuiApplication::palette().color(QPalette::Button);
  EXPECT_EQ(ColorToRGB(clBtnFace), b.red() | (b.green() << 8) | (b.blue() << 16));
}

TEST(FxGDIPColor, MakeColorAndChannels) {
  EXPECT_EQ(MakeColor(1, 2, 3), 0xFF010203u);
  EXPECT_EQ(MakeColor(0x80, 0x11, 0x22, 0x33), 0x80112233u);
  EXPECT_EQ(GetRed(0x80112233), 0x11);
  EXPECT_EQ(GetGreen(0x80112233), 0x22);
  EXPECT_EQ(GetBlue(0x80112233), 0x33);
  TGPRect r = MakeGPRect(1.5f, 2, 3, 4);
  EXPECT_FLOAT_EQ(r.X, 1.5f);
  EXPECT_FLOAT_EQ(r.Height, 4);
  EXPECT_EQ(MakeGPPoint(-3, 7).Y, 7);
}

TEST(FxGDIPWrappers, GraphicsDrawsInPlaceOnTheBuffer) {
  ASSERT_TRUE(GdiplusStarted());
  QImage image = Canvas(20, 10);
  {
    TGPGraphics g(image);
    ASSERT_EQ(g.GetLastStatus(), Ok);
    TGPSolidBrush red(MakeColor(255, 0, 0));
    EXPECT_EQ(g.FillRectangle(&red, 0, 0, 10, 10), Ok);
    TGPLinearGradientBrush grad(MakeGPRect(10, 0, 10, 10), MakeColor(0, 0, 0), MakeColor(0, 0, 255), 1);
    EXPECT_EQ(g.FillRectangle(&grad, MakeGPRect(10, 0, 10, 10)), Ok);
  }
  EXPECT_EQ(image.pixel(5, 5), 0xFFFF0000u);
  EXPECT_EQ(image.pixel(0, 0), 0xFFFF0000u);
  // Vertical gradient: blue grows downwards, nothing else.
  QRgb top = image.pixel(15, 0), bottom = image.pixel(15, 9);
  EXPECT_LT(qBlue(top), 40);
  EXPECT_GT(qBlue(bottom), 200);
  EXPECT_EQ(qRed(bottom), 0);
}

TEST(FxGDIPWrappers, GraphicsNeedsAPremultipliedBuffer) {
  QImage rgb(4, 4, QImage::Format_RGB32);
  TGPGraphics g(rgb);
  EXPECT_EQ(g.Handle(), nullptr);
  EXPECT_NE(g.GetLastStatus(), Ok);
  TGPSolidBrush brush(MakeColor(0, 0, 0));
  EXPECT_NE(g.FillRectangle(&brush, 0, 0, 1, 1), Ok);  // no raise, a status
}

TEST(FxGDIPWrappers, LastStatusKeepsTheFailureAfterASuccess) {
  QImage image = Canvas(10, 10);
  TGPGraphics g(image);
  TGPGraphicsPath path;
  path.AddLine(1, 1, 8, 8);
  TGPPen pen(MakeColor(0, 0, 0), 1);
  EXPECT_EQ(g.DrawPath(nullptr, &path), InvalidParameter);
  EXPECT_EQ(g.DrawPath(&pen, &path), Ok);
  EXPECT_EQ(g.GetLastStatus(), InvalidParameter);
  EXPECT_EQ(pen.SetDashStyle(2), Ok);
  EXPECT_EQ(pen.GetLastStatus(), Ok);
}

TEST(FxGDIPWrappers, SurroundColoursAreCheckedAgainstThePathPoints) {
  TGPGraphicsPath empty;
  TGPPathGradientBrush onEmpty(empty);
  ARGB colors[3] = {0xFFFF0000, 0xFF00FF00, 0xFF0000FF};
  int count = 1;
  EXPECT_EQ(onEmpty.SetSurroundColors(colors, count), InvalidParameter);
  EXPECT_EQ(onEmpty.GetLastStatus(), InvalidParameter);

  TGPGraphicsPath triangle;
  triangle.AddLine(0, 0, 10, 0);
  triangle.AddLine(10, 0, 5, 10);
  triangle.CloseFigure();
  TGPPathGradientBrush brush(triangle);
  ASSERT_EQ(brush.GetLastStatus(), Ok);
  int points = brush.GetPointCount();
  ASSERT_GT(points, 0);
  count = points + 1;
  EXPECT_EQ(brush.SetSurroundColors(colors, count), InvalidParameter);
  EXPECT_EQ(count, points + 1);  // untouched
  TGPPathGradientBrush good(triangle);
  count = 1;
  EXPECT_EQ(good.SetSurroundColors(colors, count), Ok);
  EXPECT_EQ(count, 1);
  EXPECT_EQ(good.SetCenterPoint(MakeGPPoint(5, 5)), Ok);
  EXPECT_EQ(good.GetLastStatus(), Ok);
}

TEST(FxGDIPWrappers, RadialGradientFillsFromCentreToEdge) {
  QImage image = Canvas(40, 40);
  {
    TGPGraphics g(image);
    TGPGraphicsPath ellipse;
    ellipse.AddEllipse(0, 0, 40, 40);
    TGPPathGradientBrush brush(ellipse);
    brush.SetCenterColor(MakeColor(255, 0, 0));
    ARGB surround = MakeColor(0, 0, 255);
    int count = 1;
    brush.SetSurroundColors(&surround, count);
    g.FillRectangle(&brush, 0, 0, 40, 40);
    EXPECT_EQ(g.GetLastStatus(), Ok);
  }
  QRgb centre = image.pixel(20, 20), edge = image.pixel(20, 1);
  EXPECT_GT(qRed(centre), 200);
  EXPECT_GT(qBlue(edge), qRed(edge));
}

struct FormatCase {
  const char* qtFormat;
  int index;
};

TEST(FxGDIPImage, LoadsImageBytesAndTellsTheirFormat) {
  QImage source(7, 5, QImage::Format_RGB32);
  source.fill(qRgb(0, 128, 255));
  for (FormatCase c : {FormatCase{"PNG", ifPNG}, FormatCase{"BMP", ifBMP}, FormatCase{"JPEG", ifJPEG}}) {
    std::string bytes = Encode(source, c.qtFormat);
    TGPBitmap image(bytes);
    ASSERT_EQ(image.GetLastStatus(), Ok) << c.qtFormat;
    EXPECT_EQ(image.GetFormat(), c.index) << c.qtFormat;
    EXPECT_EQ(image.GetWidth(), 7u) << c.qtFormat;
    EXPECT_EQ(image.GetHeight(), 5u) << c.qtFormat;
    ARGB pixel = 0;
    EXPECT_EQ(image.GetPixel(3, 2, pixel), Ok);
    EXPECT_NEAR(GetBlue(pixel), 255, 4) << c.qtFormat;
    EXPECT_NEAR(GetRed(pixel), 0, 4) << c.qtFormat;
  }
}

TEST(FxGDIPImage, GifAndIconBuiltByHand) {
  TGPImage gif(OneRedPixelGif());
  ASSERT_EQ(gif.GetLastStatus(), Ok);
  EXPECT_EQ(gif.GetFormat(), ifGIF);
  EXPECT_EQ(gif.GetWidth(), 1u);
  TGPImage icon(GreenIcon16());
  ASSERT_EQ(icon.GetLastStatus(), Ok);
  EXPECT_EQ(icon.GetFormat(), ifIcon);
  EXPECT_EQ(icon.GetWidth(), 16u);
  EXPECT_EQ(icon.GetHeight(), 16u);
}

TEST(FxGDIPImage, UndecodableBytesGiveNoImageAndNoRaise) {
  for (std::string bytes : {std::string(), std::string("not an image at all"), std::string("\x89PNG\r\n\x1a\n", 8)}) {
    TGPImage image(bytes);
    EXPECT_EQ(image.Handle(), nullptr);
    EXPECT_NE(image.GetLastStatus(), Ok);
    EXPECT_EQ(image.GetWidth(), 0u);
    EXPECT_EQ(image.GetHeight(), 0u);
    EXPECT_EQ(image.GetFormat(), ifUndefined);
  }
}

// libgdiplus lets a keyed pixel through as white rather than transparent, so
// the components key bitmaps themselves; the wrapper still passes the call on.
TEST(FxGDIPImage, ColourKeyCallReachesTheLibrary) {
  QImage source(4, 4, QImage::Format_RGB32);
  source.fill(qRgb(255, 0, 255));
  source.setPixel(1, 1, qRgb(0, 0, 0));
  std::string bytes = Encode(source, "BMP");
  TGPImage image(bytes);
  QImage target = Canvas(4, 4, 0xFF00FF00);
  {
    TGPGraphics g(target);
    TGPImageAttributes attributes;
    EXPECT_EQ(attributes.SetColorKey(0xFFFF00FF, 0xFFFF00FF, 0), Ok);
    EXPECT_EQ(g.DrawImage(&image, MakeGPRect(0, 0, 4, 4), 0, 0, 4, 4, gdip::UnitPixel, &attributes), Ok);
  }
  EXPECT_NE(target.pixel(3, 3), 0xFFFF00FFu);  // the key colour is not drawn
  EXPECT_EQ(target.pixel(1, 1), 0xFF000000u);
}

TEST(FxGDIPText, DrawsAndMeasuresText) {
  QImage image = Canvas(120, 30);
  TGPGraphics g(image);
  TGPFontFamily family(u"DejaVu Sans");
  ASSERT_EQ(family.GetLastStatus(), Ok);
  TGPFont font(&family, 12, 1, 3);
  TGPStringFormat format(0x1000);
  format.SetAlignment(0);
  format.SetTrimming(StringTrimmingNone);
  format.SetHotkeyPrefix(1);
  TGPRect bounds{};
  EXPECT_EQ(g.MeasureString(u"Hello", -1, &font, MakeGPRect(0, 0, 4096, 4096), &format, bounds), Ok);
  EXPECT_GT(bounds.Width, 20);
  EXPECT_GT(bounds.Height, 8);
  TGPSolidBrush black(MakeColor(0, 0, 0));
  EXPECT_EQ(g.DrawString(std::string_view("Hello"), 5, &font, MakeGPRect(0, 0, 120, 30), &format, &black), Ok);
  int dark = 0;
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 120; ++x) dark += qRed(image.pixel(x, y)) < 100;
  EXPECT_GT(dark, 20);
  EXPECT_EQ(g.GetLastStatus(), Ok);
}

TEST(FxGDIPText, UnknownFamilyStillGivesAUsableFont) {
  // libgdiplus matches family names through fontconfig and substitutes.
  TGPFontFamily family(u"No Such Family Qzx");
  TGPFont font(&family, 10, 0, 3);
  QImage image = Canvas(10, 10);
  TGPGraphics g(image);
  TGPRect bounds{};
  EXPECT_EQ(g.MeasureString(u"W", -1, &font, MakeGPRect(0, 0, 100, 100), nullptr, bounds), Ok);
  EXPECT_GT(bounds.Width, 0);
}

}  // namespace
