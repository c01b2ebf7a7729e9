// Drawing faults met on real pages, each shown by a small page built here and
// compared with pdftoppm's rendering of the same page.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "../render/RendererTestSupport.h"
#include "TestSupport.h"

namespace {

// Columns [first, last] that hold ink (a pixel darker than mid-grey); -1, -1
// for a blank image.
struct InkColumns {
  int first = -1, last = -1;
};

InkColumns InkOf(const TBitmap& bitmap) {
  InkColumns ink;
  for (int x = 0; x < bitmap.Width(); ++x) {
    for (int y = 0; y < bitmap.Height(); ++y) {
      const uint32_t rgb = pvlrender::Rgb(bitmap, x, y);
      const int grey = (((rgb >> 16) & 0xFF) + ((rgb >> 8) & 0xFF) + (rgb & 0xFF)) / 3;
      if (grey < 128) {
        if (ink.first < 0) ink.first = x;
        ink.last = x;
        break;
      }
    }
  }
  return ink;
}

// The same for a binary PGM ("P5") as pdftoppm -gray writes it.
InkColumns InkOfPgm(const std::string& pgm) {
  InkColumns ink;
  int width = 0, height = 0, maxValue = 0, consumed = 0;
  if (std::sscanf(pgm.c_str(), "P5 %d %d %d%n", &width, &height, &maxValue, &consumed) != 3 || consumed <= 0)
    return ink;
  const size_t data = static_cast<size_t>(consumed) + 1;  // one blank after the header
  if (pgm.size() < data + static_cast<size_t>(width) * height) return ink;
  for (int x = 0; x < width; ++x) {
    for (int y = 0; y < height; ++y) {
      if (static_cast<unsigned char>(pgm[data + static_cast<size_t>(y) * width + x]) < 128) {
        if (ink.first < 0) ink.first = x;
        ink.last = x;
        break;
      }
    }
  }
  return ink;
}

InkColumns PdftoppmInk(const std::string& pdf) {
  pvltest::TempDir dir;
  pvltest::WriteFile(dir.File("page.pdf"), pdf);
  pvltest::CommandResult r =
      pvltest::RunCommand({"pdftoppm", "-r", "72", "-gray", "-singlefile", dir.File("page.pdf"), dir.File("out")});
  if (r.exitCode != 0) return {};
  return InkOfPgm(pvltest::ReadFile(dir.File("out.pgm")));
}

// The CFF program of a subset CMR10 of a corpus file (codes 0 1 2 5 c i n o s),
// with the widths and encoding of its font dictionary.
struct CorpusCFF {
  std::string program;
  std::string fontEntries;
};

CorpusCFF LoadCMR10() {
  CorpusCFF out;
  auto doc = pvlrender::LoadPdf(pvltest::ReadFile(pvltest::CorpusPath("samples/GeoTopo-komprimiert.pdf")));
  if (!doc) return out;
  TPDFDictionary* font = PDFAsDictionary(doc->LookupObject(190));
  if (!font || font->GetNameValue("BaseFont") != "AAABNJ+CMR10") return out;
  TPDFDictionary* descriptor = PDFAsDictionary(font->GetValue("FontDescriptor", true));
  TPDFStream* file = descriptor ? PDFAsStream(descriptor->GetValue("FontFile3", true)) : nullptr;
  TPDFObject* widths = font->GetValue("Widths", true);
  TPDFObject* encoding = font->GetValue("Encoding", true);
  if (!file || !widths || !encoding) return out;
  out.program = file->GetDecodedData();
  out.fontEntries = "/FirstChar 48 /LastChar 115 /Widths " + widths->WriteText() + " /Encoding " + encoding->WriteText();
  return out;
}

std::string TextPage(const CorpusCFF& font, const std::string& program, const std::string& content) {
  return pvlrender::MakePdf({
      "<< /Type /Catalog /Pages 2 0 R >>",
      "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
      "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 400 100] /Contents 4 0 R /Resources << /Font << /F1 5 0 R >> >> "
      ">>",
      pvlrender::StreamObject("", content),
      "<< /Type /Font /Subtype /Type1 /BaseFont /AAABNJ+CMR10 " + font.fontEntries + " /FontDescriptor 6 0 R >>",
      "<< /Type /FontDescriptor /Ascent 750 /CapHeight 750 /Descent -250 /Flags 4 /FontBBox [-40 -250 1009 750] "
      "/FontFile3 7 0 R /FontName /AAABNJ+CMR10 /ItalicAngle 0 /StemV 69 >>",
      pvlrender::StreamObject("/Subtype /Type1C", program),
  });
}

}  // namespace

// Character and word spacing in a font whose program has a font matrix
// other than 1/1000: the glyphs are laid out in the program's units, and Tc
// and Tw went through that scale too, so text set with Tc came out packed.
// The corpus program is used as it is and with its matrix halved.
TEST(RealFilesRenderTest, CharacterSpacingInAFontWithItsOwnMatrix) {
  const CorpusCFF font = LoadCMR10();
  ASSERT_FALSE(font.program.empty()) << "corpus font not found";
  // The matrix [.001 0 0 .001 0 0] of the Top DICT, as a real number ".001",
  // becomes 5E-04 in the same number of bytes.
  const std::string thousandth("\x1e\xa0\x01\xff", 4), half("\x1e\x5c\x04\xff", 4);
  std::string halved = font.program;
  int replaced = 0;
  for (size_t p = halved.find(thousandth); p != std::string::npos; p = halved.find(thousandth, p + 4)) {
    halved.replace(p, 4, half);
    ++replaced;
  }
  ASSERT_EQ(replaced, 2);

  struct Case {
    const char* name;
    const std::string* program;
    const char* content;
  };
  const std::vector<Case> cases = {
      {"own matrix, Tc", &halved, "0 g BT /F1 24 Tf 12 Tc 10 40 Td (sonic2015) Tj ET"},
      {"own matrix, Tc and TJ", &halved, "0 g BT /F1 24 Tf 6 Tc 10 40 Td [(son) -500 (ic) 250 (2015)] TJ ET"},
      {"own matrix, negative Tc", &halved, "0 g BT /F1 48 Tf -3 Tc 10 40 Td (sonic2015) Tj ET"},
      {"thousandth, Tc", &font.program, "0 g BT /F1 24 Tf 12 Tc 10 40 Td (sonic2015) Tj ET"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string pdf = TextPage(font, *c.program, c.content);
    pvlrender::TRendered ours = pvlrender::RenderContent(pdf, true, 72);
    ASSERT_EQ(ours.width, 400);
    const InkColumns mine = InkOf(ours.bitmap);
    ASSERT_GE(mine.first, 0) << "nothing drawn";
    if (!pvltest::HaveTool("pdftoppm")) continue;
    const InkColumns theirs = PdftoppmInk(pdf);
    ASSERT_GE(theirs.first, 0);
    // The run starts and ends where pdftoppm's does (a pixel of edge
    // rounding either way); without the spacing scaled, "sonic2015" with
    // 12 Tc ended 48 pixels early.
    EXPECT_NEAR(mine.first, theirs.first, 1);
    EXPECT_NEAR(mine.last, theirs.last, 2);
  }
}
