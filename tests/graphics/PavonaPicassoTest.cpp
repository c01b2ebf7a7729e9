#include "graphics/PavonaPicasso.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <sstream>

#include "TestSupport.h"
#include "platform/Cairo.h"

namespace {

constexpr int kSize = 200;
constexpr TColor kRed = 0x0000FF, kBlue = 0xFF0000, kGreen = 0x00A000, kBlack = 0, kOrange = 0x0080FF,
                 kPurple = 0x800080, kWhite = 0xFFFFFF;

// The rotated picture: four coloured quadrants of an 8 x 6 bitmap.
TBitmap QuadrantPicture() {
  TBitmap b(8, 6, TPixelFormat::pf24bit);
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 8; ++x) b.SetPixel(x, y, y < 3 ? (x < 4 ? kRed : kGreen) : (x < 4 ? kBlue : 0x00FFFF));
  return b;
}

// Three corners (upper-left, upper-right, lower-left) of the picture turned by 30 degrees.
void PictureCorners(double pts[6]) {
  const double a = M_PI / 6, w = 48, h = 36, x0 = 130, y0 = 120;
  pts[0] = x0, pts[1] = y0;
  pts[2] = x0 + w * std::cos(a), pts[3] = y0 + w * std::sin(a);
  pts[4] = x0 - h * std::sin(a), pts[5] = y0 + h * std::cos(a);
}

const double kStar[5][2] = {{50, 10}, {73, 75}, {15, 35}, {85, 35}, {27, 75}};
const double kTransparentBox[4] = {100, 150, 190, 190};  // left, top, right, bottom

// A rectangle as a new closed path.
void RectPath(TPDFPicasso& p, double left, double top, double right, double bottom) {
  p.BeginPath();
  p.MoveTo(left, top);
  p.LineTo(right, top);
  p.LineTo(right, bottom);
  p.LineTo(left, bottom);
  p.ClosePath();
}

// The test scene through the canvas interface (device space, y downwards).
void DrawScene(TPDFPicasso& p, bool transparency) {
  auto star = [&](double dx) {
    p.BeginPath();
    p.MoveTo(kStar[0][0] + dx, kStar[0][1]);
    for (int i = 1; i < 5; ++i) p.LineTo(kStar[i][0] + dx, kStar[i][1]);
    p.ClosePath();
  };
  p.SetFillRule(frNonZero);
  p.SetFillColor(kRed);
  star(0);
  p.FillPath();
  p.SetFillRule(frEvenOdd);
  p.SetFillColor(kBlue);
  star(100);
  p.FillPath();

  // A curved blob, filled and stroked with round joins.
  p.SetFillRule(frNonZero);
  p.SetFillColor(kGreen);
  p.SetStrokeColor(kBlack);
  p.SetLineWidth(4);
  p.SetLineJoin(1);
  p.SetLineCap(0);
  p.BeginPath();
  p.MoveTo(20, 100);
  p.CurveTo(20, 80, 60, 80, 70, 100);
  p.QuadraticCurveTo(80, 130, 45, 135);
  p.CurveTo(25, 137, 20, 120, 20, 100);
  p.ClosePath();
  p.FillAndStrokePath();

  // A dashed polyline with miter joins: 12 on, 6 off.
  p.SetLineWidth(6);
  p.SetLineJoin(0);
  p.SetMiterLimit(10);
  p.SetDashPattern({2, 1}, 0);
  p.SetStrokeColor(kBlue);
  p.BeginPath();
  p.MoveTo(100, 90);
  p.LineTo(190, 90);
  p.LineTo(190, 110);
  p.StrokePath();
  p.SetDashPattern({}, 0);

  // Three caps on 10-wide lines ending at x = 60.
  p.SetLineWidth(10);
  p.SetStrokeColor(kPurple);
  for (int cap = 0; cap < 3; ++cap) {
    p.SetLineCap(cap);
    p.BeginPath();
    p.MoveTo(20, 150 + 18 * cap);
    p.LineTo(60, 150 + 18 * cap);
    p.StrokePath();
  }
  p.SetLineCap(0);

  // A diamond clip (even-odd), a big orange box through it, then the clip undone.
  TClipToken saved = p.SaveClip();
  p.SetClip(frEvenOdd);
  p.BeginPath();
  p.MoveTo(100, 120);
  p.LineTo(120, 140);
  p.LineTo(100, 160);
  p.LineTo(80, 140);
  p.ClosePath();
  p.EndPathNoPaint();
  p.SetFillRule(frNonZero);
  p.SetFillColor(kOrange);
  RectPath(p, 70, 110, 130, 170);
  p.FillPath();
  p.RestoreClip(saved);

  // The rotated picture.
  double pts[6];
  PictureCorners(pts);
  p.DrawImage(QuadrantPicture(), pts[0], pts[1], pts[2], pts[3], pts[4], pts[5]);

  // Half-transparent purple box over everything below it.
  if (transparency) {
    p.SetFillAlpha(0.5);
    p.SetFillColor(kPurple);
    RectPath(p, kTransparentBox[0], kTransparentBox[1], kTransparentBox[2], kTransparentBox[3]);
    p.FillPath();
    p.SetFillAlpha(1);
  }
}

std::string Rgb(TColor c) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%g %g %g", GetRValue(c) / 255.0, GetGValue(c) / 255.0, GetBValue(c) / 255.0);
  return buf;
}

// The same scene as a one-page PDF (content written by hand; the page is
// flipped so that the numbers are the device's).
std::string ScenePdf() {
  std::ostringstream c;
  c << "1 0 0 -1 0 200 cm\n";
  auto star = [&](double dx) {
    c << kStar[0][0] + dx << " " << kStar[0][1] << " m\n";
    for (int i = 1; i < 5; ++i) c << kStar[i][0] + dx << " " << kStar[i][1] << " l\n";
    c << "h\n";
  };
  c << Rgb(kRed) << " rg\n";
  star(0);
  c << "f\n" << Rgb(kBlue) << " rg\n";
  star(100);
  c << "f*\n";
  c << Rgb(kGreen) << " rg " << Rgb(kBlack) << " RG 4 w 1 j 0 J\n";
  // The quadratic segment elevated to a cubic: (70,100) (80,130) (45,135).
  c << "20 100 m 20 80 60 80 70 100 c " << 70 + 20.0 / 3 << " " << 100 + 20.0 << " " << 80 - 35.0 / 3 << " "
    << 130 + 5.0 / 3 << " 45 135 c 25 137 20 120 20 100 c h B\n";
  c << "6 w 0 j 10 M [12 6] 0 d " << Rgb(kBlue) << " RG 100 90 m 190 90 l 190 110 l S [] 0 d\n";
  c << "10 w " << Rgb(kPurple) << " RG\n";
  for (int cap = 0; cap < 3; ++cap) c << cap << " J 20 " << 150 + 18 * cap << " m 60 " << 150 + 18 * cap << " l S\n";
  c << "0 J q 100 120 m 120 140 l 100 160 l 80 140 l h W* n " << Rgb(kOrange)
    << " rg 70 110 m 130 110 l 130 170 l 70 170 l h f Q\n";
  double pts[6];
  PictureCorners(pts);
  // Image space (0,1) -> upper-left, (1,1) -> upper-right, (0,0) -> lower-left.
  c << "q " << pts[2] - pts[0] << " " << pts[3] - pts[1] << " " << pts[0] - pts[4] << " " << pts[1] - pts[5] << " "
    << pts[4] << " " << pts[5] << " cm /Im1 Do Q\n";
  c << "/GS1 gs " << Rgb(kPurple) << " rg " << kTransparentBox[0] << " " << kTransparentBox[1] << " "
    << kTransparentBox[2] - kTransparentBox[0] << " " << kTransparentBox[3] - kTransparentBox[1] << " re f\n";
  std::string content = c.str();

  TBitmap pic = QuadrantPicture();
  std::string hex;
  char buf[8];
  for (int y = 0; y < pic.Height(); ++y)
    for (int x = 0; x < pic.Width(); ++x) {
      TColor col = pic.Pixel(x, y);
      std::snprintf(buf, sizeof buf, "%02X%02X%02X", GetRValue(col), GetGValue(col), GetBValue(col));
      hex += buf;
    }
  hex += ">";

  std::vector<std::string> objects = {
      "<< /Type /Catalog /Pages 2 0 R >>",
      "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
      "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 200] /Contents 4 0 R /Resources << /XObject << /Im1 5 0 R "
      ">> /ExtGState << /GS1 << /ca 0.5 >> >> >> >>",
      "<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content + "\nendstream",
      "<< /Type /XObject /Subtype /Image /Width 8 /Height 6 /ColorSpace /DeviceRGB /BitsPerComponent 8 /Filter "
      "/ASCIIHexDecode /Length " +
          std::to_string(hex.size()) + " >>\nstream\n" + hex + "\nendstream"};
  std::string pdf = "%PDF-1.4\n";
  std::vector<size_t> offsets;
  for (size_t i = 0; i < objects.size(); ++i) {
    offsets.push_back(pdf.size());
    pdf += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
  }
  size_t xref = pdf.size();
  pdf += "xref\n0 " + std::to_string(objects.size() + 1) + "\n0000000000 65535 f \n";
  for (size_t o : offsets) {
    std::snprintf(buf, sizeof buf, "%06zu", o);
    pdf += "0000" + std::string(buf) + " 00000 n \n";
  }
  pdf += "trailer\n<< /Size " + std::to_string(objects.size() + 1) + " /Root 1 0 R >>\nstartxref\n" +
         std::to_string(xref) + "\n%%EOF\n";
  return pdf;
}

TBitmap WhitePage() {
  TBitmap b(kSize, kSize, TPixelFormat::pf24bit);
  b.Fill(kWhite);
  return b;
}

// Draws through a back-end set up by attach; returns the page.
TBitmap Render(const std::function<void(TPDFPicasso&, TCanvas&)>& attach, bool transparency, uint8_t* kind = nullptr) {
  TBitmap page = WhitePage();
  {
    TCanvas canvas(page);
    TPDFPicasso p;
    attach(p, canvas);
    if (kind) *kind = p.Kind();
    DrawScene(p, transparency);
  }
  return page;
}

TBitmap RenderGDI(bool transparency) {
  return Render([](TPDFPicasso& p, TCanvas& c) { p.SetCanvas(c); }, transparency);
}

TGDIPlusSettings SmoothSettings() {
  TGDIPlusSettings s;
  s.AntiAlias = 1;
  s.ImageQuality = 0;  // pictures sharp, as PDF viewers draw them
  return s;
}

TBitmap ReadPpm(const std::string& bytes) {
  // "P6\n200 200\n255\n" then RGB triples.
  std::istringstream in(bytes);
  std::string magic;
  int w = 0, h = 0, max = 0;
  in >> magic >> w >> h >> max;
  in.get();
  TBitmap b(w, h, TPixelFormat::pf24bit);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      unsigned char rgb[3];
      in.read(reinterpret_cast<char*>(rgb), 3);
      b.SetPixel(x, y, RGB(rgb[0], rgb[1], rgb[2]));
    }
  return b;
}

struct Difference {
  double strongFraction = 0;  // pixels differing by more than 96 in a channel
  double meanAbs = 0;         // mean absolute channel difference
};

Difference Compare(const TBitmap& a, const TBitmap& b, bool skipTransparentBox) {
  Difference d;
  long strong = 0, count = 0;
  double sum = 0;
  for (int y = 0; y < kSize; ++y)
    for (int x = 0; x < kSize; ++x) {
      if (skipTransparentBox && x >= kTransparentBox[0] - 1 && x <= kTransparentBox[2] && y >= kTransparentBox[1] - 1 &&
          y <= kTransparentBox[3])
        continue;
      TColor p = a.Pixel(x, y), q = b.Pixel(x, y);
      int m = 0;
      for (int s = 0; s < 24; s += 8) {
        int diff = std::abs(int((p >> s) & 255) - int((q >> s) & 255));
        m = std::max(m, diff);
        sum += diff;
      }
      strong += m > 96;
      ++count;
    }
  d.strongFraction = double(strong) / count;
  d.meanAbs = sum / (3.0 * count);
  return d;
}

// Points whose colour every correct drawing of the scene agrees on.
struct Probe {
  int x, y;
  TColor color;
  const char* what;
};
const Probe kProbes[] = {
    {50, 45, kRed, "nonzero star centre filled"},
    {150, 45, kWhite, "even-odd star centre empty"},
    {150, 22, kBlue, "even-odd star point filled"},
    {45, 110, kGreen, "curved blob inside"},
    {20, 110, kBlack, "blob outline"},
    {105, 90, kBlue, "first dash"},
    {115, 90, kWhite, "first gap"},
    {124, 90, kBlue, "second dash"},
    {17, 150, kWhite, "butt cap adds nothing"},
    {17, 168, kPurple, "round cap"},
    {17, 186, kPurple, "square cap"},
    {63, 186, kPurple, "square cap at the end"},
    {100, 140, kOrange, "inside the clip"},
    {75, 115, kWhite, "outside the clip"},
    {75, 165, kWhite, "outside the clip, lower left"},
};

void CheckProbes(const TBitmap& page, const char* backend, bool transparency) {
  for (const Probe& pr : kProbes) {
    TColor c = page.Pixel(pr.x, pr.y);
    for (int s = 0; s < 24; s += 8)
      EXPECT_NEAR(int((c >> s) & 255), int((pr.color >> s) & 255), 40)
          << backend << ": " << pr.what << " at " << pr.x << "," << pr.y << " is " << std::hex << c;
  }
  // The picture: its upper-left quadrant is red, lower-right cyan.
  double pts[6];
  PictureCorners(pts);
  auto at = [&](double u, double v) {  // u, v in 0..1 from the upper-left corner
    return page.Pixel(int(pts[0] + u * (pts[2] - pts[0]) + v * (pts[4] - pts[0])),
                      int(pts[1] + u * (pts[3] - pts[1]) + v * (pts[5] - pts[1])));
  };
  auto near = [&](TColor c, TColor want, const char* what) {
    for (int s = 0; s < 24; s += 8)
      EXPECT_NEAR(int((c >> s) & 255), int((want >> s) & 255), 40) << backend << ": picture " << what;
  };
  near(at(0.25, 0.25), kRed, "upper left");
  near(at(0.75, 0.25), kGreen, "upper right");
  near(at(0.25, 0.75), kBlue, "lower left");
  if (!transparency) near(at(0.8, 0.8), 0x00FFFF, "lower right");
}

}  // namespace

class PicassoScene : public ::testing::Test {
protected:
  void SetUp() override {
    UnloadGdiPlus();  // every test starts from an unbound library
  }
  void TearDown() override { UnloadGdiPlus(); }
};

TEST_F(PicassoScene, BackEndsAgreeWithEachOtherAndWithPdftoppm) {
  TBitmap gdi = RenderGDI(true);
  uint8_t gdipKind = 0, cairoKind = 0;
  TBitmap gdip = Render([](TPDFPicasso& p, TCanvas& c) { p.AttachCanvas(&c, SmoothSettings()); }, true, &gdipKind);
  ASSERT_EQ(gdipKind, pkGDIPlus) << "libgdiplus did not bind: status " << GdiPlusStatus();
  TBitmap cairo = Render([](TPDFPicasso& p, TCanvas& c) { p.BeginCairo(c.Handle(), "libcairo.so.2", true); }, true,
                         &cairoKind);
  ASSERT_EQ(cairoKind, pkCairo);

  CheckProbes(gdi, "GDI", true);
  CheckProbes(gdip, "GDI+", true);
  CheckProbes(cairo, "cairo", true);

  // GDI+ and cairo have transparency: the box is half purple over white.
  for (const TBitmap* page : {&gdip, &cairo}) {
    TColor c = page->Pixel(180, 185);
    EXPECT_NEAR(GetRValue(c), 191, 6);
    EXPECT_NEAR(GetGValue(c), 127, 6);
    EXPECT_NEAR(GetBValue(c), 191, 6);
  }

  // libgdiplus smooths enlarged pictures whatever the interpolation mode and
  // widens filled edges by a fraction of a pixel: a looser bound for it.
  Difference d1 = Compare(gdip, cairo, false);
  EXPECT_LT(d1.strongFraction, 0.025);
  EXPECT_LT(d1.meanAbs, 4.0);
  Difference d2 = Compare(gdi, cairo, true);  // GDI has no transparency and no smoothing
  EXPECT_LT(d2.strongFraction, 0.015);
  EXPECT_LT(d2.meanAbs, 6.0);

  if (!pvltest::HaveTool("pdftoppm")) GTEST_SKIP() << "pdftoppm missing";
  pvltest::TempDir dir;
  pvltest::WriteFile(dir.File("scene.pdf"), ScenePdf());
  auto r = pvltest::RunCommand({"pdftoppm", "-r", "72", "-singlefile", dir.File("scene.pdf"), dir.File("scene")});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  TBitmap oracle = ReadPpm(pvltest::ReadFile(dir.File("scene.ppm")));
  ASSERT_EQ(oracle.Width(), kSize);
  CheckProbes(oracle, "pdftoppm", true);
  Difference dc = Compare(cairo, oracle, false);
  EXPECT_LT(dc.strongFraction, 0.005);
  EXPECT_LT(dc.meanAbs, 1.5);
  Difference dp = Compare(gdip, oracle, false);
  EXPECT_LT(dp.strongFraction, 0.025);
  EXPECT_LT(dp.meanAbs, 4.0);
  if (getenv("PVL_DUMP_SCENE")) {
    gdi.SaveToFile("/tmp/scene-gdi.bmp");
    gdip.SaveToFile("/tmp/scene-gdip.bmp");
    cairo.SaveToFile("/tmp/scene-cairo.bmp");
    oracle.SaveToFile("/tmp/scene-pdftoppm.bmp");
  }
  Difference dg = Compare(gdi, oracle, true);
  EXPECT_LT(dg.strongFraction, 0.015);
  EXPECT_LT(dg.meanAbs, 6.0);
  std::printf("differing pixels: GDI+/cairo %.4f, GDI/cairo %.4f, cairo/pdftoppm %.4f, GDI+/pdftoppm %.4f, "
              "GDI/pdftoppm %.4f\n",
              d1.strongFraction, d2.strongFraction, dc.strongFraction, dp.strongFraction, dg.strongFraction);
}

// Missing libraries: the binding reports it and the page is drawn by GDI.
TEST_F(PicassoScene, MissingLibrariesFallBackToGDI) {
  TBitmap reference = RenderGDI(false);
  struct Case {
    const char* library;
    int status;
  } cases[] = {{"libgdiplus-not-installed.so.0", gdipNoLibrary}, {"libcairo.so.2", gdipIncomplete}};
  for (const Case& c : cases) {
    UnloadGdiPlus();
    TGDIPlusSettings settings = SmoothSettings();
    settings.LibraryName = c.library;
    uint8_t kind = 0;
    TBitmap page = Render([&](TPDFPicasso& p, TCanvas& canvas) { p.AttachCanvas(&canvas, settings); }, false, &kind);
    EXPECT_EQ(GdiPlusStatus(), c.status) << c.library;
    EXPECT_EQ(kind, pkGDI) << c.library;
    EXPECT_TRUE(page == reference) << c.library;
  }
  // A metafile stream target cannot be recorded by libgdiplus: GDI, nothing drawn.
  {
    UnloadGdiPlus();
    TMemoryStream metafile;
    TPDFPicasso p;
    p.SetStreamTarget(100, 100, metafile);
    p.AttachCanvas(nullptr, SmoothSettings());
    EXPECT_EQ(p.Kind(), pkGDI);
    DrawScene(p, true);
    EXPECT_EQ(metafile.GetSize(), 0);
  }
  // A status other than "not loaded" is final: no second load is tried.
  UnloadGdiPlus();
  LoadGdiPlus("libgdiplus-not-installed.so.0");
  TGDIPlusSettings good = SmoothSettings();
  uint8_t kind = 0;
  Render([&](TPDFPicasso& p, TCanvas& canvas) { p.AttachCanvas(&canvas, good); }, false, &kind);
  EXPECT_EQ(kind, pkGDI);
  // The real library binds every entry point the back-end calls, though it
  // lacks one that nothing calls.
  UnloadGdiPlus();
  EXPECT_EQ(LoadGdiPlus("gdiplus.dll"), gdipReady);
  EXPECT_FALSE(GdiPlusEntryBound("GdipCreateBitmapFromGdiDib"));
  EXPECT_TRUE(GdiPlusEntryBound("GdipCreateBitmapFromScan0"));

  // cairo: a missing library or one without the entry points is refused and
  // the page is drawn by GDI on the same pixels.
  for (const char* lib : {"libcairo-not-installed.so.2", "libm.so.6", ""}) {
    TCairoDLL dll;
    EXPECT_FALSE(dll.Load(lib)) << lib;
    EXPECT_FALSE(dll.Loaded());
    EXPECT_EQ(dll.cairo_create, nullptr);
    uint8_t k = 0;
    TBitmap page =
        Render([&](TPDFPicasso& p, TCanvas& canvas) { p.BeginCairo(canvas.Handle(), lib, true); }, false, &k);
    EXPECT_EQ(k, pkGDI) << lib;
    EXPECT_TRUE(page == reference) << lib;
  }
  TCairoDLL partial;
  EXPECT_FALSE(partial.Load("libm.so.6"));
  EXPECT_EQ(partial.MissingEntry(), "cairo_image_surface_create");
  TCairoDLL real;
  EXPECT_TRUE(real.Load("libcairo.so.2"));
}

// GDI+ details: a lone move paints nothing, a single segment is padded,
// saved clips are reused and pruned, encoders are found with the real layout.
TEST_F(PicassoScene, GdiPlusPathsClipsAndEncoders) {
  TBitmap page = WhitePage();
  TCanvas canvas(page);
  {
    TPDFPicasso p;
    p.AttachCanvas(&canvas, TGDIPlusSettings{});
    ASSERT_EQ(p.Kind(), pkGDIPlus);
    p.SetStrokeColor(kBlack);
    p.SetLineWidth(4);
    p.SetLineCap(1);
    p.BeginPath();
    p.MoveTo(50, 50);
    p.StrokePath();  // nothing to paint
    p.BeginPath();
    p.MoveTo(100, 100);
    p.LineTo(150, 100);
    p.StrokePath();
    TClipToken first = p.SaveClip();
    EXPECT_NE(first, 0u);
    EXPECT_EQ(p.SaveClip(), first);  // unchanged clip: the same region
    for (int i = 0; i < 1000; ++i) {  // q W n ... Q many times: the saved list stays short
      TClipToken outer = p.SaveClip();
      p.SetClip(frNonZero);
      p.BeginPath();
      p.MoveTo(0, 0);
      p.LineTo(10, 0);
      p.LineTo(10, 10);
      p.ClosePath();
      p.EndPathNoPaint();
      p.SaveClip();
      p.RestoreClip(outer);
    }
    EXPECT_LE(p.SavedClipCount(), 3u);
    p.RestoreClip(first);
    p.RestoreClip(first);  // the current region: nothing happens
    EXPECT_EQ(p.SaveClip(), first);
    gdip::CLSID png{}, bmp{};
    EXPECT_NE(std::memcmp(&p.PngEncoder(), &png, sizeof png), 0);
    EXPECT_NE(std::memcmp(&p.BmpEncoder(), &bmp, sizeof bmp), 0);
    EXPECT_TRUE(GetGdiPlusEncoderClsid("image/tiff", png));
    EXPECT_FALSE(GetGdiPlusEncoderClsid("image/x-none", png));
    // Re-encoding a BMP as PNG through GDI+.
    TMemoryStream source(QuadrantPicture().SaveToBytes()), target;
    ASSERT_TRUE(p.ConvertImageStream(source, target, p.PngEncoder()));
    EXPECT_EQ(target.Bytes().substr(1, 3), "PNG");
    TBitmap back;
    ASSERT_TRUE(DecodePicture(target.Bytes(), back));
    EXPECT_EQ(back.Pixel(0, 0), kRed);
    // A short stream is never taken for a picture.
    TMemoryStream cut(QuadrantPicture().SaveToBytes().substr(0, 60));
    TMemoryStream none;
    EXPECT_FALSE(p.ConvertImageStream(cut, none, p.PngEncoder()));
  }
  canvas.Flush();
  EXPECT_EQ(page.Pixel(50, 50), kWhite);
  EXPECT_EQ(page.Pixel(125, 100), kBlack);
  EXPECT_EQ(page.Pixel(151, 100), kBlack);  // round cap of the padded line
}

// cairo fills and then strokes the same path.
TEST_F(PicassoScene, CairoFillThenStrokeKeepsThePath) {
  TBitmap page = WhitePage();
  {
    TCanvas canvas(page);
    TPDFPicasso p;
    p.BeginCairo(canvas.Handle(), "libcairo.so.2", true);
    ASSERT_EQ(p.Kind(), pkCairo);
    p.SetFillColor(kGreen);
    p.SetStrokeColor(kRed);
    p.SetLineWidth(6);
    p.BeginPath();
    p.MoveTo(50, 50);
    p.LineTo(150, 50);
    p.LineTo(150, 150);
    p.LineTo(50, 150);
    p.ClosePath();
    p.FillAndStrokePath();
    // Nested clips saved and restored many times: the saved list stays as
    // deep as the nesting.
    for (int i = 0; i < 500; ++i) {
      TClipToken outer = p.SaveClip();
      p.SetClip(frNonZero);
      p.BeginPath();
      p.MoveTo(0, 0);
      p.LineTo(200, 0);
      p.LineTo(0, 200);
      p.EndPathNoPaint();
      TClipToken inner = p.SaveClip();
      p.RestoreClip(inner);
      p.RestoreClip(outer);
    }
    EXPECT_LE(p.SavedClipCount(), 3u);
    // After the last restore nothing is clipped: the lower right corner paints.
    p.SetFillColor(kBlue);
    p.BeginPath();
    p.MoveTo(190, 190);
    p.LineTo(200, 190);
    p.LineTo(200, 200);
    p.ClosePath();
    p.FillPath();
  }
  EXPECT_EQ(page.Pixel(198, 193), kBlue);
  EXPECT_EQ(page.Pixel(100, 100), kGreen);
  EXPECT_EQ(page.Pixel(100, 51), kRed);
  EXPECT_EQ(page.Pixel(148, 100), kRed);
}

namespace {
const std::string kHead =
    "<!DOCTYPE html><html><head><script type=\"text/javascript\">\r\nfunction PavonaLibraryDraw() {\r\n  var canvas = "
    "document.getElementById(\"PVLCanvas\");\r\n  if (canvas.getContext) {\r\n    var ctx = "
    "canvas.getContext(\"2d\");\r\n";
std::string Tail(int w, int h) {
  return "  }\r\n}\r\n</script>\r\n</head><body onload=\"PavonaLibraryDraw()\">\r\n<canvas id=\"PVLCanvas\" width=\"" +
         std::to_string(w) + "\" height=\"" + std::to_string(h) + "\"></canvas>\r\n</body></html>";
}
}  // namespace

TEST(PicassoHTML, TriangleIsTheExactPage) {
  TMemoryStream out;
  {
    TPDFPicasso p;
    p.BeginHTMLCanvas(out);
    p.SetFillColor(kRed);
    p.BeginPath();
    p.MoveTo(10, 10);
    p.LineTo(10.5, 20);
    p.LineTo(0.333, 20.25);
    p.ClosePath();
    p.FillPath();
    p.DrawImage(QuadrantPicture(), 0, 0, 1, 0, 0, 1);  // images do not reach the script
    p.EndHTMLCanvas(612, 792);
  }
  EXPECT_EQ(out.Bytes(), kHead +
                             "ctx.beginPath();ctx.moveTo(10,10);ctx.lineTo(10.5,20);ctx.lineTo(0.333,20.25);"
                             "ctx.closePath();ctx.fillStyle = \"#FF0000\";ctx.fill();" +
                             Tail(612, 792));
}

// What the canvas can honour reaches the script: even-odd fills, line
// settings, transparency and clips (undone through a saved state).
TEST(PicassoHTML, FillRuleLineSettingsAndClips) {
  TMemoryStream out;
  {
    TPDFPicasso p;
    p.BeginHTMLCanvas(out);
    TClipToken saved = p.SaveClip();
    p.SetClip(frEvenOdd);
    p.BeginPath();
    p.MoveTo(0, 0);
    p.LineTo(5, 0);
    p.LineTo(0, 5);
    p.EndPathNoPaint();
    p.SetStrokeColor(0x00FF00);
    p.SetStrokeAlpha(0.5);
    p.SetLineWidth(2);
    p.SetLineCap(1);
    p.SetDashPattern({3, 1}, 0.5);
    p.BeginPath();
    p.MoveTo(1, 1);
    p.QuadraticCurveTo(2, 3, 4, 5);
    p.StrokePath();
    p.RestoreClip(saved);
    p.SetFillRule(frEvenOdd);
    p.SetFillColor(0x0000FF);
    p.BeginPath();
    p.MoveTo(1, 2);
    p.CurveTo(1, 2, 3, 4, 5, 6);
    p.FillPath();
    p.EndHTMLCanvas(10, 20);
  }
  EXPECT_EQ(out.Bytes(),
            kHead +
                "ctx.beginPath();ctx.moveTo(0,0);ctx.lineTo(5,0);ctx.lineTo(0,5);ctx.save();ctx.clip(\"evenodd\");"
                "ctx.beginPath();ctx.moveTo(1,1);ctx.quadraticCurveTo(2,3,4,5);"
                "ctx.globalAlpha=0.5;ctx.lineWidth=2;ctx.lineCap=\"round\";ctx.setLineDash([6,2]);"
                "ctx.lineDashOffset=1;ctx.strokeStyle = \"#00FF00\";ctx.stroke();"
                "ctx.restore();ctx.save();"
                "ctx.beginPath();ctx.moveTo(1,2);ctx.bezierCurveTo(1,2,3,4,5,6);"
                "ctx.fillStyle = \"#FF0000\";ctx.fill(\"evenodd\");ctx.restore();" +
                Tail(10, 20));
}

// A clip taken from a stroke: the script's state is saved ahead of that
// stroke's settings, so after the clip is undone the next stroke sets its
// width again instead of taking the canvas default.
TEST(PicassoHTML, SettingsOfAClippedPaintAreSetAgainAfterTheClip) {
  TMemoryStream out;
  {
    TPDFPicasso p;
    p.BeginHTMLCanvas(out);
    TClipToken saved = p.SaveClip();
    p.SetStrokeColor(0x00FF00);
    p.SetLineWidth(3);
    p.SetClip(frNonZero);
    p.BeginPath();
    p.MoveTo(0, 0);
    p.LineTo(5, 0);
    p.LineTo(0, 5);
    p.StrokePath();
    p.RestoreClip(saved);
    p.BeginPath();
    p.MoveTo(1, 1);
    p.LineTo(2, 2);
    p.StrokePath();
    p.EndHTMLCanvas(10, 20);
  }
  EXPECT_EQ(out.Bytes(), kHead +
                             "ctx.beginPath();ctx.moveTo(0,0);ctx.lineTo(5,0);ctx.lineTo(0,5);"
                             "ctx.save();ctx.lineWidth=3;ctx.strokeStyle = \"#00FF00\";ctx.stroke();ctx.clip();"
                             "ctx.restore();ctx.save();"
                             "ctx.beginPath();ctx.moveTo(1,1);ctx.lineTo(2,2);"
                             "ctx.lineWidth=3;ctx.strokeStyle = \"#00FF00\";ctx.stroke();ctx.restore();" +
                             Tail(10, 20));
}

// Saved clips on every kind: a token for the clip as it is, the same token
// while it is unchanged, a new one after a clip, and restoring an outer
// token drops the inner one. Unattached, no clip is kept at all.
TEST_F(PicassoScene, ClipTokensOnEveryKind) {
  struct Case {
    const char* name;
    std::function<void(TPDFPicasso&, TCanvas&, TStream&)> attach;
    TPicassoKind kind;
  } cases[] = {
      {"none", [](TPDFPicasso&, TCanvas&, TStream&) {}, pkNone},
      {"GDI", [](TPDFPicasso& p, TCanvas& c, TStream&) { p.SetCanvas(c); }, pkGDI},
      {"GDI+", [](TPDFPicasso& p, TCanvas& c, TStream&) { p.AttachCanvas(&c, TGDIPlusSettings{}); }, pkGDIPlus},
      {"cairo", [](TPDFPicasso& p, TCanvas& c, TStream&) { p.BeginCairo(c.Handle(), "libcairo.so.2", true); },
       pkCairo},
      {"HTML", [](TPDFPicasso& p, TCanvas&, TStream& s) { p.BeginHTMLCanvas(s); }, pkHTML},
  };
  for (const Case& c : cases) {
    TBitmap page = WhitePage();
    TCanvas canvas(page);
    TMemoryStream html;
    TPDFPicasso p;
    c.attach(p, canvas, html);
    ASSERT_EQ(p.Kind(), c.kind) << c.name;
    const bool keeps = c.kind != pkNone;
    TClipToken outer = p.SaveClip();
    EXPECT_EQ(bool(outer), keeps) << c.name;
    EXPECT_EQ(p.SaveClip(), outer) << c.name;
    p.SetClip(frNonZero);
    RectPath(p, 0, 0, 50, 50);
    p.EndPathNoPaint();
    TClipToken inner = p.SaveClip();
    EXPECT_EQ(bool(inner), keeps) << c.name;
    EXPECT_EQ(p.SavedClipCount(), keeps ? 2u : 0u) << c.name;
    if (keeps) EXPECT_FALSE(inner == outer) << c.name;
    p.RestoreClip(TClipToken{});  // the empty token: nothing happens
    EXPECT_EQ(p.SavedClipCount(), keeps ? 2u : 0u) << c.name;
    p.RestoreClip(outer);
    EXPECT_EQ(p.SavedClipCount(), keeps ? 1u : 0u) << c.name;
    p.RestoreClip(inner);  // dropped with its state: ignored
    EXPECT_EQ(p.SaveClip(), outer) << c.name;
  }
}

// "W* f" and "W f*": the clip keeps its own rule when the fill rule is set
// between the clip and the painting. The star's centre is inside it by the
// nonzero rule only; a box filled through the clip shows where the clip is.
TEST_F(PicassoScene, ClipRuleStaysWhenTheFillRuleChanges) {
  struct Rules {
    TFillRule clip, fill;
    TColor centre;  // the star's centre after the box
  } rules[] = {{frEvenOdd, frNonZero, kRed}, {frNonZero, frEvenOdd, kBlue}};
  struct Kind {
    const char* name;
    std::function<void(TPDFPicasso&, TCanvas&)> attach;
  } kinds[] = {
      {"GDI", [](TPDFPicasso& p, TCanvas& c) { p.SetCanvas(c); }},
      {"cairo", [](TPDFPicasso& p, TCanvas& c) { p.BeginCairo(c.Handle(), "libcairo.so.2", true); }},
  };  // libgdiplus takes the clip of a painted path by the painting's rule
  for (const Rules& r : rules) {
    auto draw = [&](TPDFPicasso& p) {
      p.SetClip(r.clip);
      p.BeginPath();
      p.MoveTo(kStar[0][0], kStar[0][1]);
      for (int i = 1; i < 5; ++i) p.LineTo(kStar[i][0], kStar[i][1]);
      p.ClosePath();
      p.SetFillRule(r.fill);
      p.SetFillColor(kRed);
      p.FillPath();
      p.SetFillRule(frNonZero);
      p.SetFillColor(kBlue);
      RectPath(p, 0, 0, 100, 100);
      p.FillPath();
    };
    for (const Kind& k : kinds) {
      TBitmap page = WhitePage();
      TCanvas canvas(page);
      {
        TPDFPicasso p;
        k.attach(p, canvas);
        draw(p);
      }
      canvas.Flush();
      EXPECT_EQ(page.Pixel(50, 45), r.centre) << k.name << " clip rule " << int(r.clip);
      EXPECT_EQ(page.Pixel(50, 22), kBlue) << k.name << " star point";
      EXPECT_EQ(page.Pixel(90, 90), kWhite) << k.name << " outside the star";
    }
    TMemoryStream out;
    {
      TPDFPicasso p;
      p.BeginHTMLCanvas(out);
      draw(p);
    }
    const std::string fill = r.fill == frEvenOdd ? "ctx.fill(\"evenodd\");" : "ctx.fill();";
    const std::string clip = r.clip == frEvenOdd ? "ctx.clip(\"evenodd\");" : "ctx.clip();";
    EXPECT_NE(out.Bytes().find(fill + clip), std::string::npos) << out.Bytes();
  }
}
