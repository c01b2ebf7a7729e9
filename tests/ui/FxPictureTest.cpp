#include "ui/FxPicture.h"

#include <gtest/gtest.h>

#include <QBuffer>

#include "TestSupport.h"
#include "UiTestImages.h"
#include "platform/Classes.h"
#include "ui/ACXPVS.h"
#include "ui/FxGDIP.h"
#include "ui/FxHintInfo.h"
#include "ui/FxWinVersion.h"

namespace {

std::string Encode(const QImage& image, const char* format) {
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  EXPECT_TRUE(image.save(&buffer, format)) << format;
  return bytes.toStdString();
}

QImage Solid(int w, int h, QRgb color) {
  QImage image(w, h, QImage::Format_RGB32);
  image.fill(color);
  return image;
}

QImage Canvas(int w, int h) {
  QImage image(w, h, QImage::Format_ARGB32_Premultiplied);
  image.fill(0xFFFFFFFF);
  return image;
}

// Counts the change and clear events in the order they come.
struct EventLog {
  std::string events;
  void Attach(TFxPicture& p) {
    p.OnChange = [this](TFxPicture*) { events += 'C'; };
    p.OnClear = [this](TFxPicture*) { events += 'X'; };
  }
};

TEST(FxPicture, NewPictureIsEmptyAndDrawsNothing) {
  TFxPicture picture;
  EXPECT_TRUE(picture.GetEmpty());
  EXPECT_EQ(picture.GetWidth(), 0);
  EXPECT_EQ(picture.GetHeight(), 0);
  EXPECT_FALSE(picture.MeasureImage());
  QImage canvas = Canvas(8, 8);
  picture.Draw(canvas, QRect(0, 0, 8, 8));
  EXPECT_EQ(canvas, Canvas(8, 8));
}

TEST(FxPicture, LoadsFilesOfEveryFormatAndMeasuresThem) {
  pvltest::TempDir dir;
  for (const char* format : {"PNG", "JPEG", "BMP"}) {
    std::string path = dir.File(std::string("p.") + format);
    pvltest::WriteFile(path, Encode(Solid(9, 6, qRgb(10, 200, 30)), format));
    TFxPicture picture;
    EventLog log;
    log.Attach(picture);
    picture.LoadFromFile(path);
    EXPECT_FALSE(picture.GetEmpty()) << format;
    EXPECT_EQ(picture.GetWidth(), 9) << format;
    EXPECT_EQ(picture.GetHeight(), 6) << format;
    EXPECT_EQ(log.events, "XC") << format;  // clear, then change
    EXPECT_EQ(picture.Data(), pvltest::ReadFile(path)) << format;  // bytes kept as loaded
  }
  {
    std::string path = dir.File("p.gif");
    pvltest::WriteFile(path, OneRedPixelGif());
    TFxPicture picture;
    picture.LoadFromFile(path);
    EXPECT_EQ(picture.GetWidth(), 1);
    EXPECT_EQ(picture.GetHeight(), 1);
    QImage canvas = Canvas(10, 6);
    picture.Draw(canvas, QRect(0, 0, 10, 6));
    QRgb mid = canvas.pixel(5, 3), corner = canvas.pixel(9, 5);  // stretched over the whole rectangle
    EXPECT_EQ(qRed(mid), 255);
    EXPECT_LT(qGreen(mid), 64);
    EXPECT_LT(qGreen(corner), 250);
  }
}

TEST(FxPicture, MissingFileLeavesItEmptyWithoutRaising) {
  TFxPicture picture;
  EventLog log;
  log.Attach(picture);
  EXPECT_NO_THROW(picture.LoadFromFile("/nonexistent/dir/none.png"));
  EXPECT_TRUE(picture.GetEmpty());
  EXPECT_EQ(log.events, "");
}

TEST(FxPicture, PngIsStretchedIntoTheRectangle) {
  QImage source = Solid(16, 16, qRgb(0, 0, 255));
  TMemoryStream stream(Encode(source, "PNG"));
  TFxPicture picture;
  picture.LoadFromStream(&stream);
  QImage canvas = Canvas(40, 40);
  picture.Draw(canvas, QRect(4, 4, 32, 32));
  EXPECT_EQ(canvas.pixel(5, 5), 0xFF0000FFu);
  EXPECT_EQ(canvas.pixel(34, 34), 0xFF0000FFu);
  EXPECT_EQ(canvas.pixel(37, 37), 0xFFFFFFFFu);
  EXPECT_EQ(canvas.pixel(2, 2), 0xFFFFFFFFu);
}

TEST(FxPicture, BmpIsDrawnAtItsOwnSizeWithTheBottomLeftColourTransparent) {
  QImage source = Solid(6, 6, qRgb(255, 0, 255));
  source.setPixel(2, 2, qRgb(0, 128, 0));
  TFxPicture picture;
  picture.Assign(&source);  // a bitmap is kept as a BMP file
  EXPECT_FALSE(picture.GetEmpty());
  EXPECT_EQ(picture.Data().substr(0, 2), "BM");
  EXPECT_EQ(picture.GetWidth(), 6);
  QImage canvas = Canvas(20, 20);
  picture.Draw(canvas, QRect(3, 3, 17, 17));
  EXPECT_EQ(canvas.pixel(5, 5), qRgb(0, 128, 0));      // (2, 2) of the bitmap, unscaled
  EXPECT_EQ(canvas.pixel(4, 4), 0xFFFFFFFFu);          // key colour: not drawn
  EXPECT_EQ(canvas.pixel(15, 15), 0xFFFFFFFFu);        // beyond the bitmap's size
}

TEST(FxPicture, AssignRules) {
  TFxPicture source;
  TMemoryStream stream(Encode(Solid(3, 4, qRgb(1, 2, 3)), "PNG"));
  source.LoadFromStream(&stream);

  TFxPicture target;
  EventLog log;
  log.Attach(target);
  target.Assign(&source);
  EXPECT_FALSE(target.GetEmpty());
  EXPECT_EQ(target.GetWidth(), 3);
  EXPECT_EQ(target.GetHeight(), 4);
  EXPECT_EQ(log.events, "C");

  log.events.clear();
  target.AssignNothing();
  EXPECT_TRUE(target.GetEmpty());
  EXPECT_TRUE(target.Data().empty());
  EXPECT_EQ(log.events, "CX");  // change first, then clear

  TFxPicture zero;
  target.Assign(&zero);
  EXPECT_TRUE(target.GetEmpty());
}

TEST(FxPicture, SizeComesOnlyFromTheImage) {
  TFxPicture picture;
  TMemoryStream stream(Encode(Solid(5, 7, qRgb(9, 9, 9)), "PNG"));
  picture.LoadFromStream(&stream);
  picture.SetWidth(100);
  picture.SetHeight(100);
  EXPECT_EQ(picture.GetWidth(), 5);
  EXPECT_EQ(picture.GetHeight(), 7);
}

TEST(FxPicture, DataRoundTripsUnchanged) {
  std::string bytes = Encode(Solid(2, 2, qRgb(5, 6, 7)), "PNG");
  TMemoryStream in(bytes);
  TFxPicture picture;
  picture.ReadData(in);
  EXPECT_FALSE(picture.GetEmpty());
  EXPECT_EQ(picture.GetWidth(), 0);  // read without measuring
  TMemoryStream out;
  picture.WriteData(out);
  EXPECT_EQ(out.Bytes(), bytes);
  TMemoryStream saved;
  picture.SaveToStream(&saved);
  picture.SaveToStream(nullptr);
  EXPECT_EQ(saved.Bytes(), bytes);
}

TEST(FxPicture, UndecodableOrAbsurdImagesMeasureZeroAndDrawNothing) {
  // A PNG header claiming 100000 x 100000 pixels, then nothing.
  std::string huge("\x89PNG\r\n\x1a\n\0\0\0\rIHDR\0\x01\x86\xa0\0\x01\x86\xa0\x08\x06\0\0\0", 29);
  for (const std::string& bytes : {std::string("garbage bytes"), huge}) {
    TMemoryStream stream(bytes);
    TFxPicture picture;
    picture.LoadFromStream(&stream);
    EXPECT_FALSE(picture.GetEmpty());
    EXPECT_EQ(picture.GetWidth(), 0);
    EXPECT_EQ(picture.GetHeight(), 0);
    QImage canvas = Canvas(8, 8);
    picture.Draw(canvas, QRect(0, 0, 8, 8));
    EXPECT_EQ(canvas, Canvas(8, 8));
  }
}

TEST(FxHintInfo, AssignCopiesEverything) {
  TFxHintInfo source;
  source.SetTitle("Title");
  source.SetNotes({"one", "two"});
  source.SetShowHelp(true);
  source.SetWideTitle(u"Wide");
  source.SetWideNotes(u"Notes");
  TMemoryStream stream(Encode(Solid(4, 4, qRgb(1, 1, 1)), "PNG"));
  source.GetPicture().LoadFromStream(&stream);

  TFxHintInfo target;
  EXPECT_FALSE(target.GetShowHelp());
  EXPECT_TRUE(target.GetPicture().GetEmpty());
  target.Assign(&source);
  EXPECT_EQ(target.GetTitle(), "Title");
  EXPECT_EQ(target.GetNotes(), QStringList({"one", "two"}));
  EXPECT_TRUE(target.GetShowHelp());
  EXPECT_EQ(target.GetWideTitle(), u"Wide");
  EXPECT_EQ(target.GetWideNotes(), u"Notes");
  EXPECT_EQ(target.GetPicture().GetWidth(), 4);
  source.SetTitle("changed");  // copies, not shared
  EXPECT_EQ(target.GetTitle(), "Title");
  target.Assign(nullptr);
  EXPECT_EQ(target.GetTitle(), "Title");
}

TEST(FxWinVersion, DefaultFontIsTahomaHere) {
  EXPECT_FALSE(IsVistaOrLater());
  EXPECT_STREQ(DefaultUIFontName(), "Tahoma");
}

TEST(ACXPVS, NoVisualStyleLibraryIsBoundAndBindingTwiceIsHarmless) {
  InitThemeLibrary();
  InitThemeLibrary();
  EXPECT_FALSE(ThemeLibraryLoaded());
  for (int i = 0; i < teThemeEntryCount; ++i) EXPECT_EQ(ThemeEntry(static_cast<TThemeEntry>(i)), nullptr);
  EXPECT_STREQ(kThemeEntryNames[teIsThemeActive], "IsThemeActive");
  EXPECT_STREQ(kThemeEntryNames[teEnableTheming], "EnableTheming");
  FreeThemeLibrary();
  EXPECT_FALSE(ThemeLibraryLoaded());
}

}  // namespace
