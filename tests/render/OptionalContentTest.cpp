// Optional content: what the document's default configuration (/OCProperties
// /D: /BaseState, /ON, /OFF) turns off is not drawn, whether it is marked
// content (BDC /OC), a form or image XObject with /OC, or an annotation with
// /OC; membership dictionaries combine their groups by their policy. Each
// page is compared with the peers' drawing of it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "CorpusPages.h"
#include "PageImageCompare.h"
#include "RendererTestSupport.h"

using namespace pvlrender;
using namespace pvltest;

namespace {

// A 100 x 100 page whose content is drawn with groups 5 (A) and 6 (B) and
// membership dictionaries 7 (A and B all on) and 8 (A or B any on) in its
// /Properties, form 9 marked with /OC ocOfForm, and an annotation 10 with
// /OC ocOfAnnot; config is the default configuration dictionary.
std::string OptionalPage(const std::string& config, const std::string& content, const std::string& formOC,
                         const std::string& annotOC) {
  const std::string form = "0 0 1 rg 0 0 20 20 re f";
  const std::string appearance = "1 0 0 rg 0 0 20 20 re f";
  std::vector<std::string> objects = {
      "<< /Type /Catalog /Pages 2 0 R /OCProperties << /OCGs [5 0 R 6 0 R] /D " + config + " >> >>",
      "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
      "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 100 100] /Resources << /Properties << /A 5 0 R /B 6 0 R "
      "/All 7 0 R /Any 8 0 R >> /XObject << /Fm 9 0 R >> >> /Contents 4 0 R /Annots [10 0 R] >>",
      StreamObject("", content),
      "<< /Type /OCG /Name (A) >>",
      "<< /Type /OCG /Name (B) >>",
      "<< /Type /OCMD /OCGs [5 0 R 6 0 R] /P /AllOn >>",
      "<< /Type /OCMD /OCGs [5 0 R 6 0 R] >>",
      StreamObject("/Type /XObject /Subtype /Form /BBox [0 0 20 20]" + formOC, form),
      "<< /Type /Annot /Subtype /Square /Rect [70 70 90 90] /F 4 /AP << /N 11 0 R >>" + annotOC + " >>",
      StreamObject("/Type /XObject /Subtype /Form /BBox [0 0 20 20]", appearance)};
  return pvlrender::MakePdf(objects);
}

struct TOptionalCase {
  const char* name;
  std::string pdf;
  bool hidden;            // the fixture's marked square is hidden
  bool mutoolToo = true;  // mutool draws it as pdftoppm does
};

bool PeerDraws(bool poppler, const std::string& pdf, const TempDir& dir, TReference& ref) {
  const std::string file = dir.File("page.pdf");
  WriteFile(file, pdf);
  if (poppler) return RenderReference(file, dir, ref);
  auto r = RunCommand({"mutool", "draw", "-q", "-r", "72", "-o", dir.File("mupdf.ppm"), file, "1"});
  return r.exitCode == 0 && codectest::ReadPpmRgb(ReadFile(dir.File("mupdf.ppm")), ref.width, ref.height, ref.pixels);
}

}  // namespace

TEST(OptionalContent, GroupsTheDefaultConfigurationTurnsOffAreHidden) {
  const std::string square = "0 g 10 10 30 30 re f";
  auto marked = [&](const std::string& tag) { return "/OC /" + tag + " BDC " + square + " EMC"; };
  const std::vector<TOptionalCase> cases = {
      {"group in /OFF", OptionalPage("<< /OFF [5 0 R] >>", marked("A"), "", ""), true},
      {"group not in /OFF", OptionalPage("<< /OFF [6 0 R] >>", marked("A"), "", ""), false},
      {"base state OFF", OptionalPage("<< /BaseState /OFF >>", marked("A"), "", ""), true},
      {"base state OFF, group in /ON", OptionalPage("<< /BaseState /OFF /ON [5 0 R] >>", marked("A"), "", ""), false},
      // Content inside hidden content stays hidden whatever its own group says.
      {"visible group inside a hidden one",
       OptionalPage("<< /OFF [5 0 R] >>", "/OC /A BDC /OC /B BDC " + square + " EMC EMC", "", ""), true},
      // mutool draws the content of an AllOn membership whose second group is off; pdftoppm hides it, as the
      // policy says.
      {"membership: all on, one off", OptionalPage("<< /OFF [6 0 R] >>", marked("All"), "", ""), true, false},
      {"membership: any on, one off", OptionalPage("<< /OFF [6 0 R] >>", marked("Any"), "", ""), false},
      {"membership: any on, both off", OptionalPage("<< /OFF [5 0 R 6 0 R] >>", marked("Any"), "", ""), true},
      // A form XObject and an annotation with /OC.
      {"form in a hidden group", OptionalPage("<< /OFF [5 0 R] >>", "q 1 0 0 1 50 10 cm /Fm Do Q", " /OC 5 0 R", ""),
       true},
      {"annotation in a hidden group", OptionalPage("<< /OFF [6 0 R] >>", "", "", " /OC 6 0 R"), true},
      {"form and annotation in a shown group",
       OptionalPage("<< /OFF [6 0 R] >>", "q 1 0 0 1 50 10 cm /Fm Do Q", " /OC 5 0 R", " /OC 5 0 R"), false},
  };
  std::string missing;
  const bool poppler = RequireTool("pdftoppm", missing), mupdf = RequireTool("mutool", missing);
  if (!poppler || !mupdf) GTEST_SKIP() << missing;
  TempDir dir;
  for (const TOptionalCase& c : cases) {
    SCOPED_TRACE(c.name);
    for (bool popplerPeer : {true, false}) {
      if (!popplerPeer && !c.mutoolToo) continue;
      TReference ref;
      ASSERT_TRUE(PeerDraws(popplerPeer, c.pdf, dir, ref));
      for (bool cairo : {false, true}) {
        TRendered r = RenderContent(c.pdf, cairo);
        EXPECT_EQ(r.error, "");
        EXPECT_LE(DifferingFraction(r.bitmap, ref), 0.02)
            << (cairo ? "cairo" : "GDI") << " against " << (popplerPeer ? "pdftoppm" : "mutool");
      }
    }
    // The fixture shows what it claims: the peers hide or show the marked square.
    TReference ref;
    ASSERT_TRUE(PeerDraws(true, c.pdf, dir, ref));
    const size_t at = (static_cast<size_t>(100 - 25) * ref.width + 25) * 3;  // the square's middle
    ASSERT_LT(at, ref.pixels.size());
    const bool white = static_cast<uint8_t>(ref.pixels[at]) > 200;
    const std::string name = c.name;
    if (name.find("form") == std::string::npos && name.find("annotation") == std::string::npos) {
      EXPECT_EQ(white, c.hidden) << "the peer " << (white ? "hid" : "drew") << " the square";
    }
  }
}
