// The metafile device context: what is drawn on it becomes EMF records that
// our reader takes back record by record, with a header that names the
// picture's bounds, frame and objects; and the renderer's metafile kinds.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "RendererTestSupport.h"
#include "platform/EmfReader.h"
#include "platform/EmfWriter.h"
#include "platform/Gdi.h"
#include "render/PavonaEPS.h"
#include "render/PavonaFontCollection.h"
#include "render/PavonaRenderer.h"

namespace {

std::vector<uint32_t> TypesOf(const TEmfFile& file) {
  std::vector<uint32_t> types;
  for (const TEmfRecord& r : file.Records()) types.push_back(r.Type);
  return types;
}

size_t CountOf(const std::vector<uint32_t>& types, uint32_t type) {
  return static_cast<size_t>(std::count(types.begin(), types.end(), type));
}

TEST(EmfRecording, DrawingOnAMetafileDCBecomesRecords) {
  TMetafile metafile;
  metafile.Width = 200;
  metafile.Height = 100;
  metafile.DPI = 96;
  {
    TMetafileCanvas canvas(metafile);
    HDC dc = canvas.Handle();
    ASSERT_NE(dc, nullptr);
    TGdiSurface surface;
    EXPECT_EQ(GetDCSurface(dc, surface), 0) << "a metafile DC has no pixels";
    HBRUSH red = CreateSolidBrush(0x0000FF);
    LOGBRUSH lb{BS_SOLID, 0xFF0000, 0};
    DWORD dashes[2] = {6, 2};
    HPEN pen = ExtCreatePen(PS_GEOMETRIC | PS_USERSTYLE | PS_ENDCAP_FLAT | PS_JOIN_MITER, 3, &lb, 2, dashes);
    HGDIOBJ oldBrush = SelectObject(dc, red);
    HGDIOBJ oldPen = SelectObject(dc, pen);
    SetPolyFillMode(dc, WINDING);
    SaveDC(dc);
    BeginPath(dc);
    MoveToEx(dc, 10, 10, nullptr);
    LineTo(dc, 100, 10);
    POINT curve[3] = {{120, 20}, {120, 60}, {100, 80}};
    PolyBezierTo(dc, curve, 3);
    CloseFigure(dc);
    EndPath(dc);
    StrokeAndFillPath(dc);
    BeginPath(dc);
    Rectangle(dc, 0, 0, 50, 50);
    EndPath(dc);
    SelectClipPath(dc, RGN_AND);
    RestoreDC(dc, -1);
    SelectClipRgn(dc, nullptr);
    TBitmap picture(4, 2, TPixelFormat::pf24bit);
    picture.Fill(0x00FF00);
    StretchDIBits(dc, 150, 10, 40, 20, 0, 0, 4, 2, picture, SRCCOPY);
    POINT turned[3] = {{150, 90}, {150, 50}, {170, 90}};  // a quarter turn
    PlgBlt(dc, turned, picture, 0, 0, 4, 2);
    SelectObject(dc, oldBrush);
    SelectObject(dc, oldPen);
    EXPECT_EQ(DeleteObject(red), 1);
    EXPECT_EQ(DeleteObject(pen), 1);
  }
  const std::string& bytes = metafile.EnhancedBytes();
  ASSERT_TRUE(IsEnhancedMetafile(bytes));
  TEmfFile file(bytes);
  const TEmfHeader& h = file.Header();
  EXPECT_EQ(h.Bounds[2], 199);
  EXPECT_EQ(h.Bounds[3], 99);
  // 200 pixels at 96 dpi are 52.92 mm.
  EXPECT_NEAR(file.FrameWidth(), 5292, 2);
  EXPECT_NEAR(file.FrameHeight(), 2646, 2);
  const TEmfRecord& header = file.Records().front();
  EXPECT_EQ(header.U32(48), bytes.size()) << "header byte count";
  EXPECT_EQ(header.U32(52), file.Records().size()) << "header record count";
  EXPECT_GE(header.U16(56), 3) << "object slots in use at once, plus the metafile's own";
  const auto types = TypesOf(file);
  EXPECT_EQ(types.back(), 14u);                      // EOF
  EXPECT_EQ(CountOf(types, 95), 2u);                 // every pen selected once: the dashed one and the default
  EXPECT_EQ(CountOf(types, 39), 2u);                 // brushes: red and the default white
  EXPECT_EQ(CountOf(types, 63), 1u);                 // STROKEANDFILLPATH
  EXPECT_EQ(CountOf(types, 67), 1u);                 // SELECTCLIPPATH
  EXPECT_EQ(CountOf(types, 75), 1u);                 // the clip removed
  EXPECT_EQ(CountOf(types, 81), 2u);                 // both pictures as STRETCHDIBITS
  EXPECT_EQ(CountOf(types, 36), 1u);                 // the turned one through a world transform
  EXPECT_EQ(CountOf(types, 33), CountOf(types, 34));  // saves and restores pair up
  EXPECT_GE(CountOf(types, 40), 2u);                 // the deleted objects
  // The dashed pen keeps its style entries.
  for (const TEmfRecord& r : file.Records()) {
    if (r.Type != 95 || r.U32(24) != (PS_GEOMETRIC | PS_USERSTYLE | PS_ENDCAP_FLAT | PS_JOIN_MITER)) continue;
    EXPECT_EQ(r.U32(28), 3u);
    EXPECT_EQ(r.U32(36), 0xFF0000u);
    EXPECT_EQ(r.U32(44), 2u);
    EXPECT_EQ(r.U32(48), 6u);
    EXPECT_EQ(r.U32(52), 2u);
  }
  // The picture's pixels are green in the 24-bit DIB.
  for (const TEmfRecord& r : file.Records()) {
    if (r.Type != 81) continue;
    const uint32_t bits = r.U32(56);
    EXPECT_EQ(r.U16(r.U32(48) + 14), 24);
    EXPECT_EQ(r.U8(bits + 0), 0);
    EXPECT_EQ(r.U8(bits + 1), 255);
    EXPECT_EQ(r.U8(bits + 2), 0);
  }
}

TEST(EmfRecording, TranslucentPicturesBlend) {
  TMetafile metafile;
  metafile.Width = metafile.Height = 10;
  {
    TMetafileCanvas canvas(metafile);
    TBitmap picture(2, 2, TPixelFormat::pf32bit);
    picture.SetAlphaFormat(TAlphaFormat::afDefined);
    picture.Fill(0x0000FF);
    picture.ScanLine(0)[3] = 0;  // one transparent pixel
    POINT p[3] = {{0, 0}, {10, 0}, {0, 10}};
    PlgBlt(canvas.Handle(), p, picture, 0, 0, 2, 2);
  }
  TEmfFile file(metafile.EnhancedBytes());
  const auto types = TypesOf(file);
  ASSERT_EQ(CountOf(types, 114), 1u);  // ALPHABLEND
  for (const TEmfRecord& r : file.Records())
    if (r.Type == 114) EXPECT_EQ((r.U32(40) >> 24) & 0xFF, 1u) << "per-pixel alpha";
}

// A page with a filled square, a stroked line, a clipped circle and an image.
std::string DrawingPdf() {
  const std::string content =
      "1 0 0 rg 10 10 40 40 re f "
      "0 0 1 RG 4 w 1 J 10 90 m 90 60 l S "
      "q 60 10 30 30 re W n 0 1 0 rg 75 25 m 75 45 l 95 45 l h f Q "
      "q 30 0 0 20 60 60 cm /Im1 Do Q";
  const std::string image = pvlrender::StreamObject(
      "/Type /XObject /Subtype /Image /Width 2 /Height 2 /ColorSpace /DeviceRGB /BitsPerComponent 8",
      std::string("\xFF\x00\x00\x00\xFF\x00\x00\x00\xFF\xFF\xFF\x00", 12));
  return pvlrender::PagePdf(content, "<< /XObject << /Im1 4 0 R >> >>", {image});
}

TEST(EmfRecording, RendererKindsWriteMetafilesAndEps) {
  auto doc = pvlrender::LoadPdf(DrawingPdf());
  ASSERT_TRUE(doc);
  auto pages = pvlrender::FindPages(*doc);
  ASSERT_EQ(pages.size(), 1u);
  for (uint8_t kind : {rokMetafile, rokEnhancedMetafile}) {
    TPDFFontCollection fonts;
    TPDFRenderer renderer(&fonts);
    renderer.PageObject = pages[0];
    renderer.OutputKind = kind;
    renderer.Resolution = 144;
    renderer.RenderPage();
    EXPECT_EQ(renderer.GetErrorText(), "");
    // Rounded, without the extra pixel of bitmaps: 100 points at 144 dpi.
    EXPECT_EQ(renderer.GetOutputWidth(), 200);
    EXPECT_EQ(renderer.GetMetafile().Enhanced, kind == rokEnhancedMetafile);
    TEmfFile file(renderer.GetMetafile().EnhancedBytes());
    const auto types = TypesOf(file);
    EXPECT_EQ(file.Header().Bounds[2], 199);
    EXPECT_GE(CountOf(types, 62), 3u);  // the white page, the square, the clipped triangle
    EXPECT_GE(CountOf(types, 64), 1u);  // the line
    EXPECT_GE(CountOf(types, 67), 1u);  // the clip
    EXPECT_EQ(CountOf(types, 81), 1u) << "the image";
  }
  TPDFFontCollection fonts;
  TPDFRenderer renderer(&fonts);
  renderer.PageObject = pages[0];
  renderer.OutputKind = rokEPS;
  renderer.RenderPage();
  EXPECT_EQ(renderer.GetErrorText(), "");
  EXPECT_EQ(renderer.GetOutputWidth(), 101);
  const TPavonaStringList& lines = renderer.GetEPSExport().GetLines();
  std::string eps;
  for (int32_t i = 0; i < lines.GetCount(); ++i) eps += lines.GetString(i) + "\n";
  EXPECT_NE(eps.find("%%BoundingBox: 0 0 100 100"), std::string::npos);
  EXPECT_NE(eps.find("1 0 0 setrgbcolor\nf"), std::string::npos) << eps;   // the red square
  EXPECT_NE(eps.find("0 0 1 setrgbcolor\n4 w\n1 J"), std::string::npos) << eps;  // the blue line
  EXPECT_NE(eps.find("W\nn"), std::string::npos) << eps;                    // the clip
  EXPECT_NE(eps.find("ImageDataDictionaryfor"), std::string::npos) << eps;  // the image
  EXPECT_NE(eps.find("[ 30 0 0 20 60 60 ] cm"), std::string::npos) << eps;
  EXPECT_EQ(eps.substr(eps.size() - 6), "%%EOF\n");
}

}  // namespace
