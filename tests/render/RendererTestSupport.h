// Helpers of the renderer tests: small PDF files built by the tests, pages
// found through the page tree, pages rendered to bitmaps, and pixel checks.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "CodecTestSupport.h"
#include "PageImageCompare.h"
#include "TestSupport.h"
#include "document/PavonaDocument.h"
#include "render/PavonaFontCollection.h"
#include "render/PavonaRenderer.h"

namespace pvlrender {

// A PDF file of the given objects (object i is number i + 1; object 1 must be
// the catalog) with a correct cross-reference table.
inline std::string MakePdf(const std::vector<std::string>& objects) {
  return pvltest::MakePdf(objects);
}

// A stream object with the given dictionary entries.
inline std::string StreamObject(const std::string& entries, const std::string& data) {
  return "<< " + entries + " /Length " + std::to_string(data.size()) + " >>\nstream\n" + data + "\nendstream";
}

inline std::unique_ptr<TPDFDocument> LoadPdf(const std::string& bytes) {
  auto doc = std::make_unique<TPDFDocument>();
  doc->SetFileText(bytes);
  if (!doc->ReadXRef()) return nullptr;
  doc->BuildObjectTable();
  if (doc->GetTrailer() && doc->GetTrailer()->GetValue("Encrypt")) doc->Authenticate(u"");
  return doc;
}

// The page dictionaries in page order (the /Kids tree walked with a depth
// limit and a visited set).
inline std::vector<TPDFDictionary*> FindPages(TPDFDocument& doc) {
  std::vector<TPDFDictionary*> pages;
  TPDFDictionary* trailer = doc.GetTrailer();
  if (!trailer) return pages;
  TPDFDictionary* root = PDFAsDictionary(PDFResolve(trailer->GetValue("Root")));
  if (!root) return pages;
  std::vector<const TPDFObject*> seen;
  auto walk = [&](auto&& self, TPDFObject* node, int depth) -> void {
    TPDFDictionary* d = PDFAsDictionary(PDFResolve(node));
    if (!d || depth > 64 || pages.size() > 100000) return;
    for (const TPDFObject* s : seen)
      if (s == d) return;
    seen.push_back(d);
    TPDFArray* kids = PDFAsArray(PDFResolve(d->GetValue("Kids")));
    if (kids && d->GetNameValue("Type") != "Page") {
      for (TPDFObject* kid : kids->Items()) self(self, kid, depth + 1);
    } else {
      pages.push_back(d);
    }
  };
  walk(walk, root->GetValue("Pages"), 0);
  return pages;
}

// A one-page document whose page has the given content, resources and size;
// extra objects are numbered from 4 on.
inline std::string PagePdf(const std::string& content, const std::string& resources = "<< >>",
                           const std::vector<std::string>& extra = {}, const std::string& pageExtra = "",
                           const std::string& mediaBox = "[0 0 100 100]") {
  std::vector<std::string> objects = {
      "<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
      "<< /Type /Page /Parent 2 0 R /MediaBox " + mediaBox + " /Resources " + resources + " /Contents " +
          std::to_string(4 + extra.size()) + " 0 R " + pageExtra + " >>"};
  objects.insert(objects.end(), extra.begin(), extra.end());
  objects.push_back(StreamObject("", content));
  return MakePdf(objects);
}

struct TRendered {
  TBitmap bitmap;
  std::string error;
  int32_t width = 0, height = 0;
};

// Draws the page the renderer is set up for (page object, resolution, fonts)
// as a bitmap: kind 0 through plain GDI, or cairo (kind 10) on a bitmap's
// device context.
inline TBitmap DrawRendererPage(TPDFRenderer& renderer, bool cairo) {
  if (!cairo) {
    renderer.OutputKind = rokBitmap;
    renderer.RenderPage();
    return renderer.GetBitmap();
  }
  // The device context comes first, sized from the page.
  renderer.OutputKind = rokCairo;
  renderer.MeasurePage();
  TBitmap bitmap(renderer.GetOutputWidth(), renderer.GetOutputHeight(), TPixelFormat::pf24bit);
  {
    TCanvas canvas(bitmap);
    renderer.SetCairoTarget(canvas.Handle(), "libcairo.so.2", true);
    renderer.RenderPage();
    canvas.Flush();
  }
  return bitmap;
}

// Renders the page as a bitmap through plain GDI or cairo.
inline TRendered RenderPdfPage(TPDFDictionary* page, bool cairo, double dpi = 72, int32_t boxKind = 2) {
  TRendered out;
  TPDFFontCollection fonts;
  fonts.LoadOutlines = true;
  TPDFRenderer renderer(&fonts);
  renderer.PageObject = page;
  renderer.Resolution = dpi;
  renderer.PageBoxKind = boxKind;
  out.bitmap = DrawRendererPage(renderer, cairo);
  out.error = renderer.GetErrorText();
  out.width = renderer.GetOutputWidth();
  out.height = renderer.GetOutputHeight();
  return out;
}

inline TRendered RenderContent(const std::string& pdf, bool cairo = false, double dpi = 72) {
  auto doc = LoadPdf(pdf);
  if (!doc) return {};
  auto pages = FindPages(*doc);
  if (pages.empty()) return {};
  return RenderPdfPage(pages[0], cairo, dpi);
}

// Pixel at (x, y) counted from the top-left, as 0xRRGGBB for readable failures.
inline uint32_t Rgb(const TBitmap& b, int x, int y) {
  TColor c = b.Pixel(x, y);
  return ((c & 0xFF) << 16) | (c & 0xFF00) | ((c >> 16) & 0xFF);
}

// Peers drawing the same small page as the oracle of a test.
enum TPeerTool : unsigned { ptPoppler = 1, ptMupdf = 2 };

inline const char* PeerToolName(TPeerTool tool) {
  return tool == ptPoppler ? "pdftoppm" : "mutool";
}

// A page as a peer drew it at 72 dpi: R, G, B bytes row by row from the top.
struct TPeerPage {
  int width = 0, height = 0;
  std::string rgb;
  // 0xRRGGBB at pixel (x, y) counted from the top-left; white outside.
  uint32_t Rgb(int x, int y) const {
    if (x < 0 || y < 0 || x >= width || y >= height) return 0xFFFFFF;
    const size_t at = (static_cast<size_t>(y) * width + x) * 3;
    return (uint32_t(uint8_t(rgb[at])) << 16) | (uint32_t(uint8_t(rgb[at + 1])) << 8) | uint8_t(rgb[at + 2]);
  }
};

// The PDF file drawn by the peer; false when the tool fails or writes no picture.
inline bool DrawWithPeer(TPeerTool tool, const std::string& pdf, const pvltest::TempDir& dir, TPeerPage& page) {
  const std::string file = dir.File("peer.pdf"), picture = dir.File("peer.ppm");
  pvltest::WriteFile(file, pdf);
  std::remove(picture.c_str());
  const auto r = tool == ptPoppler
                     ? pvltest::RunCommand({"pdftoppm", "-r", "72", "-singlefile", file, dir.File("peer")})
                     : pvltest::RunCommand({"mutool", "draw", "-q", "-r", "72", "-o", picture, file, "1"});
  return r.exitCode == 0 && codectest::ReadPpmRgb(pvltest::ReadFile(picture), page.width, page.height, page.rgb);
}

// A small page and the peers (TPeerTool bits) it is compared with.
struct TPeerCase {
  std::string name;
  std::string pdf;
  unsigned peers = ptPoppler | ptMupdf;
};

// Every case drawn by both back-ends and compared with each named peer:
// differing(our bitmap, the peer's page), the share of pixels that differ,
// is at most maxShare.
template <class Differing>
void CompareWithPeers(const std::vector<TPeerCase>& cases, double maxShare, Differing differing) {
  std::string missing;
  const bool poppler = pvltest::RequireTool("pdftoppm", missing), mupdf = pvltest::RequireTool("mutool", missing);
  if (!poppler || !mupdf) GTEST_SKIP() << missing;
  pvltest::TempDir dir;
  for (const TPeerCase& c : cases) {
    SCOPED_TRACE(c.name);
    for (TPeerTool peer : {ptPoppler, ptMupdf}) {
      if (!(c.peers & peer)) continue;
      TPeerPage page;
      ASSERT_TRUE(DrawWithPeer(peer, c.pdf, dir, page));
      for (bool cairo : {false, true}) {
        TRendered r = RenderContent(c.pdf, cairo);
        EXPECT_EQ(r.error, "");
        EXPECT_LE(differing(r.bitmap, page), maxShare)
            << (cairo ? "cairo" : "GDI") << " against " << PeerToolName(peer);
      }
    }
  }
}

}  // namespace pvlrender
