// Bitmap pattern brushes as tiling patterns: the pattern object's keys, the
// inline image of the cell (RGB order, Flate), and poppler filling a shape
// with it.
#include <gtest/gtest.h>

#include "TestSupport.h"
#include "objects/PavonaFlate.h"
#include "pages/PavonaMetafile.h"

namespace {

// A pool whose new indirect objects are numbered from 4 and remembered.
struct TNumberedPool {
  TPDFStructure pool;
  std::vector<TPDFObject*> objects;
  TNumberedPool() {
    pool.OnGetObjectNumber = [this](TPDFStructure*, TPDFObject* obj, int32_t& number, int32_t& generation) {
      objects.push_back(obj);
      number = static_cast<int32_t>(objects.size()) + 3;
      generation = 0;
    };
  }
};

TBitmap Checker(int size, TColor a, TColor b) {
  TBitmap bmp(size, size, TPixelFormat::pf24bit);
  for (int y = 0; y < size; ++y)
    for (int x = 0; x < size; ++x) bmp.SetPixel(x, y, ((x + y) % 2) ? b : a);
  return bmp;
}

}  // namespace

TEST(MetafilePattern, PatternObjectAndCellImage) {
  TNumberedPool p;
  TPDFPattern pattern(&p.pool, "PVLP0000002A");
  TBitmap bmp(8, 8, TPixelFormat::pf1bit);
  bmp.SetPixelIndex(0, 0, 1);  // white top-left, the rest black
  ASSERT_TRUE(pattern.BuildFromBitmap(bmp));
  ASSERT_NE(pattern.Reference, nullptr);
  EXPECT_EQ(pattern.Reference->GetRefNumber(), 4);
  ASSERT_EQ(p.objects.size(), 1u);
  TPDFStream* stream = PDFAsStream(p.objects[0]);
  ASSERT_NE(stream, nullptr);
  TPDFDictionary* d = stream->GetDictionary();
  EXPECT_EQ(d->GetNameValue("Type"), "Pattern");
  EXPECT_EQ(d->GetInteger("PatternType", 0), 1);
  EXPECT_EQ(d->GetInteger("PaintType", 0), 1);
  EXPECT_EQ(d->GetInteger("TilingType", 0), 1);
  EXPECT_EQ(d->GetInteger("XStep", 0), 8);
  EXPECT_EQ(d->GetInteger("YStep", 0), 8);
  EXPECT_EQ(d->GetValue("BBox")->WriteText(), "[ 0 0 8 8 ]");
  // The cell: one inline image, 192 bytes of RGB once inflated, white first.
  const std::string content = stream->GetDecodedData();
  ASSERT_EQ(content.rfind("q 8 0 0 8 0 0 cm\nBI\n/BPC 8\n/H 8\n/W 8\n/CS /RGB\n/F /Fl\nID\n", 0), 0u) << content;
  const size_t start = content.find("\nID\n") + 4, end = content.rfind("\nEI\nQ");
  ASSERT_NE(end, std::string::npos);
  const std::string rgb = DecompressString(content.substr(start, end - start));
  ASSERT_EQ(rgb.size(), 192u);
  EXPECT_EQ(rgb.substr(0, 6), std::string("\xff\xff\xff\0\0\0", 6));
  // Red and blue keep their places although the bitmap stores blue first.
  TBitmap red(1, 1, TPixelFormat::pf24bit);
  red.SetPixel(0, 0, 0x0000FF);
  TPDFPattern second(&p.pool, "PVLP0000002B");
  ASSERT_TRUE(second.BuildFromBitmap(red));
  const std::string c2 = PDFAsStream(p.objects[1])->GetDecodedData();
  const size_t s2 = c2.find("\nID\n") + 4;
  EXPECT_EQ(DecompressString(c2.substr(s2, c2.rfind("\nEI") - s2)), std::string("\xff\0\0", 3));
  // Nothing to build from, or no document to number the object.
  EXPECT_FALSE(TPDFPattern(&p.pool, "x").BuildFromBitmap(TBitmap()));
  TPDFStructure lone;
  EXPECT_FALSE(TPDFPattern(&lone, "x").BuildFromBitmap(red));
}

TEST(MetafilePattern, PopplerFillsAShapeWithThePattern) {
  if (!pvltest::HaveTool("pdftoppm")) GTEST_SKIP();
  TNumberedPool p;
  TPDFPattern pattern(&p.pool, "PVLP00000001");
  // 2 x 2 cells of red and blue. The converter's pattern matrix (0.00072, checked
  // below) suits its own coordinates; here the cell is scaled to 10 points a
  // pixel so that poppler's rendering shows the cell's content and colour order.
  ASSERT_TRUE(pattern.BuildFromBitmap(Checker(2, 0x0000FF, 0xFF0000)));
  TPDFDictionary* dict = PDFAsStream(p.objects[0])->GetDictionary();
  TPDFArray* matrix = PDFAsArray(dict->GetValue("Matrix"));
  ASSERT_NE(matrix, nullptr);
  ASSERT_EQ(matrix->GetCount(), 6);
  EXPECT_DOUBLE_EQ(PDFAsNumeric(matrix->GetItem(0))->GetValue(), 0.00072);
  EXPECT_DOUBLE_EQ(PDFAsNumeric(matrix->GetItem(3))->GetValue(), 0.00072);
  const double tenPoints[] = {10, 0, 0, 10, 0, 0};
  dict->SetValue("Matrix", p.pool.NewRealArray(tenPoints));
  std::string pdf = "%PDF-1.4\n";
  std::vector<size_t> offsets;
  auto add = [&](const std::string& body) {
    offsets.push_back(pdf.size());
    pdf += std::to_string(offsets.size()) + " 0 obj\n" + body + "\nendobj\n";
  };
  const std::string content = "/Pattern cs /PVLP00000001 scn 0 0 100 100 re f";
  add("<< /Type /Catalog /Pages 2 0 R >>");
  add("<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
  add("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 100 100] /Contents 5 0 R /Resources << /Pattern << "
      "/PVLP00000001 4 0 R >> >> >>");
  add(p.objects[0]->WriteText());
  add("<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content + "\nendstream");
  const size_t xref = pdf.size();
  pdf += "xref\n0 6\n0000000000 65535 f \n";
  for (size_t off : offsets) {
    char line[32];
    std::snprintf(line, sizeof line, "%010zu 00000 n \n", off);
    pdf += line;
  }
  pdf += "trailer\n<< /Size 6 /Root 1 0 R >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
  pvltest::TempDir dir;
  pvltest::WriteFile(dir.File("p.pdf"), pdf);
  auto r = pvltest::RunCommand({"timeout", "60", "pdftoppm", "-r", "72", dir.File("p.pdf")});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const std::string& ppm = r.out;
  const size_t data = ppm.size() - 100 * 100 * 3;
  auto px = [&](int x, int yDown) {
    size_t at = data + (size_t(yDown) * 100 + x) * 3;
    return std::to_string(uint8_t(ppm[at])) + "," + std::to_string(uint8_t(ppm[at + 1])) + "," +
           std::to_string(uint8_t(ppm[at + 2]));
  };
  // The cell's top-left pixel (red) lies at the top-left of each 20-point tile.
  EXPECT_EQ(px(5, 85), "255,0,0");
  EXPECT_EQ(px(15, 85), "0,0,255");
  EXPECT_EQ(px(5, 95), "0,0,255");
  EXPECT_EQ(px(15, 95), "255,0,0");
  EXPECT_EQ(px(25, 85), "255,0,0");  // the next tile repeats
}
