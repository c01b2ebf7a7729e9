// The content-stream interpreter on arbitrary content: the input is a
// resource dictionary, a zero byte, then the page content (without a zero
// byte the whole input is content under the default resources). The page
// lives in a small document that also holds a form XObject (object 6, which
// draws the page's resources again), an image (7) and a Type 3 font (8), so
// the fuzzer can reach forms, images, colour spaces, graphics states and
// self-drawing content. Errors are fine; crashes, hangs and huge
// allocations are not.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "../support/MakePdf.h"
#include "FuzzLimits.h"
#include "document/PavonaDocument.h"
#include "objects/PavonaFlate.h"
#include "platform/Bitmap.h"
#include "render/PavonaFontCollection.h"
#include "render/PavonaRenderer.h"

namespace {

std::string streamObject(const std::string& entries, const std::string& data) {
  return "<< " + entries + " /Length " + std::to_string(data.size()) + " >>\nstream\n" + data + "\nendstream";
}

std::string makePdf(const std::string& resources, const std::string& content) {
  const std::vector<std::string> objects = {
      "<< /Type /Catalog /Pages 2 0 R >>",
      "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
      "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 200] /Resources 5 0 R /Contents 4 0 R "
      "/Annots [9 0 R] >>",
      streamObject("", content),
      resources,
      streamObject("/Type /XObject /Subtype /Form /BBox [0 0 50 50] /Resources 5 0 R", "0 g 0 0 10 10 re f /Fm Do"),
      streamObject("/Type /XObject /Subtype /Image /Width 2 /Height 2 /ColorSpace /DeviceGray /BitsPerComponent 8",
                   std::string("\x00\x40\x80\xff", 4)),
      "<< /Type /Font /Subtype /Type3 /FontBBox [0 0 1 1] /FontMatrix [1 0 0 1 0 0] /Resources 5 0 R "
      "/CharProcs << /a 10 0 R >> /Encoding << /Differences [97 /a] >> /FirstChar 97 /LastChar 97 /Widths [1] >>",
      "<< /Type /Annot /Subtype /Square /Rect [0 0 50 50] /AP << /N 6 0 R >> >>",
      streamObject("", "1 0 0 1 0 0 d1 0 0 1 1 re f /Fm Do /T3 1 Tf (a) Tj")};
  return pvltest::MakePdf(objects);
}

const char* const kDefaultResources =
    "<< /XObject << /Fm 6 0 R /Im 7 0 R >> /Font << /T3 8 0 R >> /ExtGState << /G << /LW 3 /CA 0.5 /ca 0.5 >> >> "
    "/ColorSpace << /Sep [/Separation /S /DeviceRGB << /FunctionType 2 /Domain [0 1] /C0 [1 1 1] /C1 [1 0 0] /N 1 >>] "
    "/Idx [/Indexed /DeviceRGB 1 <00000000FF00>] /Lab [/Lab << /WhitePoint [0.95 1 1.09] >>] >> "
    "/Properties << /OC << /Usage << /View << /ViewState /OFF >> >> >> >> >>";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  LimitFuzzSizes(int64_t(1) << 22, uint64_t(1) << 24);
  const std::string input(reinterpret_cast<const char*>(data), size);
  const size_t zero = input.find('\0');
  std::string resources = zero == std::string::npos ? kDefaultResources : input.substr(0, zero);
  std::string content = zero == std::string::npos ? input : input.substr(zero + 1);
  // The resource text must not end the object early.
  if (resources.find("endobj") != std::string::npos || resources.find("stream") != std::string::npos)
    resources = kDefaultResources;
  if (content.find("endstream") != std::string::npos) return 0;
  TPDFDocument doc;
  try {
    doc.SetFileText(makePdf(resources, content));
    if (!doc.ReadXRef()) return 0;
    doc.BuildObjectTable();
    TPDFDictionary* page = PDFAsDictionary(doc.LookupObject(3));
    if (!page) return 0;
    TPDFFontCollection fonts;
    fonts.LoadOutlines = true;
    TPDFRenderer renderer(&fonts);
    renderer.PageObject = page;
    renderer.Resolution = 18;
    renderer.RenderPage();
  } catch (const Exception&) {
  }
  return 0;
}
