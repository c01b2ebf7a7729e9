// EPS export: the file's own lines (header, prolog, colours, custom colours,
// images stored once), the Stucki ditherer behind image masks, and
// Ghostscript as the oracle that the output is PostScript drawing what was asked.
#include <gtest/gtest.h>

#include <algorithm>

#include "TestSupport.h"
#include "objects/PavonaFlate.h"
#include "render/PavonaEPS.h"

namespace {

std::vector<std::string> Lines(const TPDFEPSExport& eps) {
  std::vector<std::string> out;
  for (int32_t i = 0; i < eps.GetLines().GetCount(); ++i) out.push_back(eps.GetLines().GetString(i));
  return out;
}

// Lines written after the header (the prolog ends with "%%PavonaLibrary-End").
std::vector<std::string> Body(const TPDFEPSExport& eps) {
  std::vector<std::string> all = Lines(eps);
  auto end = std::find(all.begin(), all.end(), "%%PavonaLibrary-End");
  return end == all.end() ? all : std::vector<std::string>(end + 1, all.end());
}

TBitmap Uniform(int w, int h, uint8_t r, uint8_t g, uint8_t b) {
  TBitmap bmp(w, h, TPixelFormat::pf24bit);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      uint8_t* p = bmp.ScanLine(y) + 3 * x;
      p[0] = b, p[1] = g, p[2] = r;
    }
  return bmp;
}

double WhiteShare(const TBitmap& dithered) {
  int64_t white = 0;
  for (int y = 0; y < dithered.Height(); ++y)
    for (int x = 0; x < dithered.Width(); ++x) white += dithered.ScanLine(y)[x];
  return double(white) / (double(dithered.Width()) * dithered.Height());
}

}  // namespace

// ---------------------------------------------------------------------------
// Dithering

TEST(Dithering, SerpentineColumnsForNarrowRows) {
  TMonochromeLookup lookup;
  for (int width : {1, 2, 3}) {
    TStuckiDitherer d(width, &lookup);
    std::vector<int> visited;
    for (int row = 0; row < 3; ++row) {
      uint8_t r, g, b;
      while (d.GetColumn() >= 0 && d.GetColumn() < width) {
        visited.push_back(d.GetColumn());
        d.DitherPixel(128, 128, 128, r, g, b);
      }
      d.AdvanceRow();
    }
    std::vector<int> expected;
    for (int row = 0; row < 3; ++row)
      for (int k = 0; k < width; ++k) expected.push_back(row % 2 == 0 ? k : width - 1 - k);
    EXPECT_EQ(visited, expected) << "width " << width;
  }
}

TEST(Dithering, ExtremesStayAndGreysKeepTheirShareOfWhite) {
  TBitmap out;
  DitherToMonochrome(Uniform(37, 23, 255, 255, 255), out);
  EXPECT_EQ(out.PixelFormat(), TPixelFormat::pf8bit);
  EXPECT_DOUBLE_EQ(WhiteShare(out), 1.0);
  DitherToMonochrome(Uniform(37, 23, 0, 0, 0), out);
  EXPECT_DOUBLE_EQ(WhiteShare(out), 0.0);
  // Mid-grey: luminance 32768 lies above the threshold, so the first pixel is white.
  DitherToMonochrome(Uniform(64, 64, 128, 128, 128), out);
  EXPECT_EQ(out.ScanLine(0)[0], 1);
  // Error diffusion keeps the mean: the share of white follows the grey level.
  for (int level : {16, 64, 128, 191, 240}) {
    DitherToMonochrome(Uniform(64, 64, uint8_t(level), uint8_t(level), uint8_t(level)), out);
    EXPECT_NEAR(WhiteShare(out), level / 255.0, 0.02) << "grey " << level;
  }
  // Colour goes by luminance, with each component's error kept apart: pure
  // green (luminance above the threshold) stays white although red and blue
  // owe error, since they are clamped at 0; pure blue stays black.
  DitherToMonochrome(Uniform(32, 32, 0, 255, 0), out);
  EXPECT_DOUBLE_EQ(WhiteShare(out), 1.0);
  DitherToMonochrome(Uniform(32, 32, 0, 0, 255), out);
  EXPECT_DOUBLE_EQ(WhiteShare(out), 0.0);
  // Empty source: an empty destination.
  DitherToMonochrome(TBitmap(0, 0, TPixelFormat::pf24bit), out);
  EXPECT_TRUE(out.Empty());
}

// ---------------------------------------------------------------------------
// EPS lines

TEST(EPSExport, HeaderPrologAndBoundingBox) {
  TPDFEPSExport eps;
  eps.WriteHeader(0, 0, 612, 792);
  std::vector<std::string> lines = Lines(eps);
  ASSERT_GE(lines.size(), 25u);
  EXPECT_EQ(lines[0], "%!PS-Adobe-3.0 EPSF-3.0");
  EXPECT_EQ(lines[1], "%%BoundingBox: 0 0 612 792");
  EXPECT_EQ(lines[2], "%%Creator: (Pavona Library DVer)");
  EXPECT_EQ(lines[4], "%%EndComments");
  EXPECT_EQ(lines[6], "/c { curveto } def");
  EXPECT_EQ(lines[23], "/W* { eoclip } def");
  EXPECT_EQ(lines[24], "%%PavonaLibrary-End");
  // Halves round to even; a new header starts a new file.
  eps.WriteHeader(0.5, 1.5, 612.5, -2.5);
  EXPECT_EQ(Lines(eps)[1], "%%BoundingBox: 0 2 612 -2");
  EXPECT_EQ(Lines(eps).size(), 25u);
}

TEST(EPSExport, PathsNumbersAndQuadraticCurves) {
  TPDFEPSExport eps;
  eps.WriteHeader(0, 0, 10, 10);
  eps.BeginPath();
  eps.MoveTo(1, 2.5);
  eps.LineTo(3.14159, -4);
  eps.QuadraticCurveTo(6, 2, 9, -4);  // from (3.14159, -4)
  eps.CurveToV(1, 1, 2, 2);
  eps.CurveToY(1, 1, 2, 2);
  eps.ClosePath();
  eps.Fill(true);
  eps.Clip(false);
  eps.FillAndStrokePath();
  eps.SetLineWidth(0.5);
  eps.SetLineCap(1);
  eps.SetLineJoin(2);
  eps.SetMiterLimit(10);
  eps.ConcatMatrix({2, 0, 0, -2, 5, 7.25});
  EXPECT_EQ(Body(eps), (std::vector<std::string>{"n", "1 2.5 m", "3.1416 -4 l", "5.0472 0 7 0 9 -4 c", "cp 1 1 2 2 c",
                                                 "1 1 2 2 2 2 c", "h", "f*", "W", "q", "f", "Q", "s", "0.5 w", "1 J",
                                                 "2 j", "10 M", "[ 2 0 0 -2 5 7.25 ] cm"}));
}

TEST(EPSExport, ColoursAreWrittenOnceAndRestoredWithTheState) {
  TPDFEPSExport eps;
  eps.WriteHeader(0, 0, 10, 10);
  eps.SetColor("1 0 0 setrgbcolor");
  eps.SetColor("1 0 0 setrgbcolor");
  eps.SaveState();
  eps.SetColor("0 0 1 setrgbcolor");
  eps.RestoreState();
  eps.SetColor("1 0 0 setrgbcolor");  // in effect again after Q: nothing written
  eps.SetColor("0.5 setgray");
  EXPECT_EQ(Body(eps), (std::vector<std::string>{"1 0 0 setrgbcolor", "q", "0 0 1 setrgbcolor", "Q", "0.5 setgray"}));
  // Unbalanced Q keeps the colour it has.
  eps.RestoreState();
  eps.SetColor("0.5 setgray");
  EXPECT_EQ(Body(eps).back(), "Q");
  // A new header forgets the colour, so the first colour is always written.
  eps.WriteHeader(0, 0, 10, 10);
  eps.SetColor("0.5 setgray");
  EXPECT_EQ(Body(eps), std::vector<std::string>{"0.5 setgray"});
}

TEST(EPSExport, CustomColoursAreAnnouncedBeforeTheEndOfComments) {
  TPDFEPSExport eps;
  eps.WriteHeader(0, 0, 10, 10);
  const std::string spotA = "0 0.5 1 0 (Spot A) findcmykcustomcolor 1 setcustomcolor";
  const std::string spotB = "1 0 0 0 (B\\)) findcmykcustomcolor 0.5 setcustomcolor";
  eps.SetColor(spotA);
  eps.SetColor(spotB);
  eps.SetColor(spotA);
  eps.WriteTrailer();
  std::vector<std::string> lines = Lines(eps);
  auto end = std::find(lines.begin(), lines.end(), "%%EndComments");
  ASSERT_NE(end, lines.end());
  ASSERT_GE(end - lines.begin(), 4);
  EXPECT_EQ(*(end - 4), "%%DocumentCustomColors: (Spot A)");
  EXPECT_EQ(*(end - 3), "%%+ (B\\)");
  EXPECT_EQ(*(end - 2), "%%CMYKCustomColor: 0 0.5 1 0 (Spot A)");
  EXPECT_EQ(*(end - 1), "%%+ 1 0 0 0 (B\\)");
  EXPECT_EQ(lines.back(), "%%EOF");
  EXPECT_EQ(eps.GetCustomColors().GetCount(), 2);
}

TEST(EPSExport, ImagesAreStoredOnceAndReplayed) {
  TPDFEPSExport eps;
  eps.WriteHeader(0, 0, 10, 10);
  TBitmap image = Uniform(40, 30, 10, 20, 30);
  image.ScanLine(29)[3 * 39] = 99;  // blue of the bottom-right pixel
  eps.DrawImage(image, nullptr, "Im1");
  std::vector<std::string> body = Body(eps);
  ASSERT_GE(body.size(), 18u);
  EXPECT_EQ(body[0], "currentfile /ASCII85Decode filter /FlateDecode filter");
  EXPECT_EQ(body[3], "/datastreamforIm1 exch def");
  EXPECT_NE(std::find(body.begin(), body.end(), "/ImageMatrix [ 40 0 0 -30 0 30 ] def"), body.end());
  // The data line decodes to the rows, red-green-blue, top row first.
  std::string rows = DecompressString(ASCII85DecodeString(body[2]));
  ASSERT_EQ(rows.size(), 40u * 30 * 3);
  EXPECT_EQ(rows.substr(0, 3), "\x0a\x14\x1e");
  EXPECT_EQ(static_cast<uint8_t>(rows.back()), 99);
  EXPECT_EQ(body.back(), "ImageDataDictionaryforIm1 image");
  const size_t before = Lines(eps).size();
  eps.DrawImage(image, nullptr, "Im1");
  EXPECT_EQ(Lines(eps).size(), before + 2);
  // Keys from a file cannot break out of the PostScript name.
  eps.DrawImage(image, nullptr, "a b/(x)");
  EXPECT_EQ(Body(eps).back(), "ImageDataDictionaryfora_20b_2F_28x_29 image");
  // With a mask: the dithered mask at twice the size, an ImageType 3 dictionary.
  TBitmap mask = Uniform(40, 30, 255, 255, 255);
  eps.DrawImage(image, &mask, "Im2");
  std::vector<std::string> masked = Body(eps);
  auto maskDef = std::find(masked.begin(), masked.end(), "/maskstreamforIm2 exch def");
  ASSERT_NE(maskDef, masked.end());
  std::string bits = DecompressString(ASCII85DecodeString(*(maskDef - 1)));
  EXPECT_EQ(bits, std::string(10 * 60, '\xff'));  // 80 pixels per row: 10 bytes, all shown
  EXPECT_NE(std::find(masked.begin(), masked.end(), "/ImageMatrix [ 80 0 0 -60 0 60 ] def"), masked.end());
  EXPECT_EQ(masked.back(), "MaskedImageDictionaryforIm2 image");
}

// Ghostscript draws the file: a filled rectangle in a colour, an image in its
// own unit square, and a masked image whose hidden half leaves the page white.
TEST(EPSExport, GhostscriptDrawsWhatWasWritten) {
  if (!pvltest::HaveTool("gs")) GTEST_SKIP() << "gs missing";
  TPDFEPSExport eps;
  eps.WriteHeader(0, 0, 100, 100);
  eps.SetColor("0 0 1 setrgbcolor");
  eps.NewPath();
  eps.MoveTo(0, 0);
  eps.LineTo(50, 0);
  eps.LineTo(50, 50);
  eps.LineTo(0, 50);
  eps.ClosePath();
  eps.Fill(false);
  TBitmap image = Uniform(2, 2, 255, 0, 0);
  eps.SaveState();
  eps.ConcatMatrix({40, 0, 0, 40, 55, 55});
  eps.DrawImage(image, nullptr, "red");
  eps.RestoreState();
  TBitmap mask = Uniform(2, 1, 255, 255, 255);
  mask.ScanLine(0)[3] = mask.ScanLine(0)[4] = mask.ScanLine(0)[5] = 0;  // right half hidden
  TBitmap green = Uniform(2, 1, 0, 255, 0);
  eps.SaveState();
  eps.ConcatMatrix({40, 0, 0, 40, 5, 55});
  eps.DrawImage(green, &mask, "green");
  eps.RestoreState();
  eps.WriteTrailer();
  TMemoryStream out;
  eps.SaveToStream(out);

  pvltest::TempDir dir;
  pvltest::WriteFile(dir.File("page.eps"), out.Bytes());
  auto run = pvltest::RunCommand({"gs", "-q", "-dSAFER", "-dBATCH", "-dNOPAUSE", "-sDEVICE=ppmraw", "-r72", "-dEPSCrop",
                                  "-sOutputFile=" + dir.File("page.ppm"), dir.File("page.eps")});
  ASSERT_EQ(run.exitCode, 0) << run.err << run.out;
  std::string ppm = pvltest::ReadFile(dir.File("page.ppm"));
  // P6 header: four fields, with "#" comments between them.
  size_t start = 0;
  std::vector<std::string> fields;
  while (fields.size() < 4 && start < ppm.size()) {
    if (ppm[start] == '#') {
      start = ppm.find('\n', start);
      if (start == std::string::npos) break;
    } else if (!isspace(static_cast<unsigned char>(ppm[start]))) {
      size_t end = start;
      while (end < ppm.size() && !isspace(static_cast<unsigned char>(ppm[end]))) ++end;
      fields.push_back(ppm.substr(start, end - start));
      start = end;
      continue;
    }
    ++start;
  }
  ASSERT_EQ(fields, (std::vector<std::string>{"P6", "100", "100", "255"}));
  ++start;  // the one white-space byte before the samples
  const int w = 100, h = 100;
  auto pixel = [&](int x, int yUp) {
    size_t at = start + (size_t(h - 1 - yUp) * w + x) * 3;
    return std::make_tuple(uint8_t(ppm[at]), uint8_t(ppm[at + 1]), uint8_t(ppm[at + 2]));
  };
  EXPECT_EQ(pixel(25, 25), std::make_tuple(0, 0, 255));      // the rectangle
  EXPECT_EQ(pixel(75, 75), std::make_tuple(255, 0, 0));      // the image
  EXPECT_EQ(pixel(15, 75), std::make_tuple(0, 255, 0));      // shown half of the masked image
  EXPECT_EQ(pixel(35, 75), std::make_tuple(255, 255, 255));  // hidden half
  EXPECT_EQ(pixel(75, 25), std::make_tuple(255, 255, 255));  // untouched page
}
