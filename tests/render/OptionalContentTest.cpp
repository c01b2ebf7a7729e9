// Optional content: what the document's default configuration (/OCProperties
// /D: /BaseState, /ON, /OFF) turns off is not drawn, whether it is marked
// content (BDC /OC), a form or image XObject with /OC, or an annotation with
// /OC; membership dictionaries combine their groups by their policy or by
// their visibility expression; properties may be written inline in the
// content. Each page is compared with the peers' drawing of it.
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

// A 100 x 100 page drawing a square at 10..40 marked /OC /V, where V is
// membership dictionary 7 with visibility expression ve over groups 5 (A), 6
// (B) and 8 (C, listed with the others); objects 9 on are extra.
std::string ExpressionPage(const std::string& config, const std::string& ve,
                           const std::vector<std::string>& extra = {}) {
  std::vector<std::string> objects = {
      "<< /Type /Catalog /Pages 2 0 R /OCProperties << /OCGs [5 0 R 6 0 R 8 0 R] /D " + config + " >> >>",
      "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
      "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 100 100] /Resources << /Properties << /V 7 0 R >> >> "
      "/Contents 4 0 R >>",
      StreamObject("", "/OC /V BDC 0 g 10 10 30 30 re f EMC"), "<< /Type /OCG /Name (A) >>",
      "<< /Type /OCG /Name (B) >>",
      // The groups and policy a reader that ignores the expression would use:
      // they hide the square whenever B is off.
      "<< /Type /OCMD /VE " + ve + " /OCGs [6 0 R] /P /AllOn >>", "<< /Type /OCG /Name (C) >>"};
  objects.insert(objects.end(), extra.begin(), extra.end());
  return pvlrender::MakePdf(objects);
}

struct TOptionalCase {
  const char* name;
  std::string pdf;
  bool hidden;                           // the fixture's marked square is hidden
  unsigned peers = ptPoppler | ptMupdf;  // the peers that draw it right
};

bool PeerDraws(bool poppler, const std::string& pdf, const TempDir& dir, TReference& ref) {
  const std::string file = dir.File("page.pdf");
  WriteFile(file, pdf);
  if (poppler) return RenderReference(file, dir, ref);
  auto r = RunCommand({"mutool", "draw", "-q", "-r", "72", "-o", dir.File("mupdf.ppm"), file, "1"});
  return r.exitCode == 0 && codectest::ReadPpmRgb(ReadFile(dir.File("mupdf.ppm")), ref.width, ref.height, ref.pixels);
}

// Draws each case with both back-ends and compares it with the peers that
// draw it right; the first of them shows the fixture is what it claims.
void ExpectLikePeers(const std::vector<TOptionalCase>& cases) {
  std::string missing;
  const bool poppler = RequireTool("pdftoppm", missing), mupdf = RequireTool("mutool", missing);
  if (!poppler || !mupdf) GTEST_SKIP() << missing;
  TempDir dir;
  for (const TOptionalCase& c : cases) {
    SCOPED_TRACE(c.name);
    for (bool popplerPeer : {true, false}) {
      if (!(c.peers & (popplerPeer ? ptPoppler : ptMupdf))) continue;
      TReference ref;
      ASSERT_TRUE(PeerDraws(popplerPeer, c.pdf, dir, ref));
      for (bool cairo : {false, true}) {
        TRendered r = RenderContent(c.pdf, cairo);
        EXPECT_EQ(r.error, "");
        EXPECT_LE(DifferingFraction(r.bitmap, ref), 0.02)
            << (cairo ? "cairo" : "GDI") << " against " << (popplerPeer ? "pdftoppm" : "mutool");
      }
    }
    // The fixture shows what it claims: the peer hides or shows the marked square.
    TReference ref;
    ASSERT_TRUE(PeerDraws((c.peers & ptPoppler) != 0, c.pdf, dir, ref));
    const size_t at = (static_cast<size_t>(100 - 25) * ref.width + 25) * 3;  // the square's middle
    ASSERT_LT(at, ref.pixels.size());
    const bool white = static_cast<uint8_t>(ref.pixels[at]) > 200;
    const std::string name = c.name;
    if (name.find("form") == std::string::npos && name.find("annotation") == std::string::npos) {
      EXPECT_EQ(white, c.hidden) << "the peer " << (white ? "hid" : "drew") << " the square";
    }
  }
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
      {"membership: all on, one off", OptionalPage("<< /OFF [6 0 R] >>", marked("All"), "", ""), true, ptPoppler},
      {"membership: any on, one off", OptionalPage("<< /OFF [6 0 R] >>", marked("Any"), "", ""), false},
      {"membership: any on, both off", OptionalPage("<< /OFF [5 0 R 6 0 R] >>", marked("Any"), "", ""), true},
      // A form XObject and an annotation with /OC.
      {"form in a hidden group", OptionalPage("<< /OFF [5 0 R] >>", "q 1 0 0 1 50 10 cm /Fm Do Q", " /OC 5 0 R", ""),
       true},
      {"annotation in a hidden group", OptionalPage("<< /OFF [6 0 R] >>", "", "", " /OC 6 0 R"), true},
      {"form and annotation in a shown group",
       OptionalPage("<< /OFF [6 0 R] >>", "q 1 0 0 1 50 10 cm /Fm Do Q", " /OC 5 0 R", " /OC 5 0 R"), false},
  };
  ExpectLikePeers(cases);
}

// Properties written inline in the content are weighed as named ones are.
// pdftoppm draws all inline-marked content, so mutool is the oracle here.
TEST(OptionalContent, InlinePropertiesAreWeighedAsNamedOnes) {
  const std::string square = "0 g 10 10 30 30 re f";
  auto marked = [&](const std::string& properties) { return "/OC " + properties + " BDC " + square + " EMC"; };
  auto page = [](const std::string& config, const std::string& content) {
    return OptionalPage(config, content, "", "");
  };
  const std::string membershipOfA = "<< /Type /OCMD /OCGs [5 0 R] >>";
  const std::vector<TOptionalCase> cases = {
      {"membership of a hidden group", page("<< /OFF [5 0 R] >>", marked(membershipOfA)), true, ptMupdf},
      {"membership of a shown group", page("<< /OFF [6 0 R] >>", marked(membershipOfA)), false, ptMupdf},
      {"membership, any on, both off",
       page("<< /OFF [5 0 R 6 0 R] >>", marked("<< /Type /OCMD /OCGs [5 0 R 6 0 R] /P /AnyOn >>")), true, ptMupdf},
      {"membership, all off, both off",
       page("<< /OFF [5 0 R 6 0 R] >>", marked("<< /Type /OCMD /OCGs [5 0 R 6 0 R] /P /AllOff >>")), false, ptMupdf},
      {"membership holding a string with >>",
       page("<< /OFF [5 0 R] >>", marked("<< /Type /OCMD /Note (a >> b) /OCGs [5 0 R] >>")), true, ptMupdf},
      {"group whose usage turns it off",
       page("<< >>", marked("<< /Type /OCG /Name (X) /Usage << /View << /ViewState /OFF >> >> >>")), true, ptMupdf},
      // A group written inline is none of the document's groups: the base
      // state does not govern it.
      {"group under base state OFF", page("<< /BaseState /OFF >>", marked("<< /Type /OCG /Name (X) >>")), false,
       ptMupdf},
      {"inline shown inside a named hidden one",
       page("<< /OFF [5 0 R] >>", "/OC /A BDC " + marked("<< /Type /OCMD /OCGs [6 0 R] >>") + " EMC"), true, ptMupdf},
      {"other marked content written inline",
       page("<< /OFF [5 0 R] >>", "/Span << /ActualText (A) >> BDC " + square + " EMC"), false},
  };
  ExpectLikePeers(cases);
}

// A membership dictionary's visibility expression decides alone when it is
// there; the fixtures' /OCGs and /P would hide the square whenever B is off.
// mutool ignores expressions, so pdftoppm is the oracle here.
TEST(OptionalContent, VisibilityExpressionsDecideOverGroupsAndPolicy) {
  const std::string bOff = "<< /OFF [6 0 R] >>", aOff = "<< /OFF [5 0 R] >>";
  const std::vector<TOptionalCase> cases = {
      {"and, one off", ExpressionPage(bOff, "[/And 5 0 R 6 0 R]"), true, ptPoppler},
      {"or, one on", ExpressionPage(bOff, "[/Or 5 0 R 6 0 R]"), false, ptPoppler},
      {"not of an off group", ExpressionPage(bOff, "[/Not 6 0 R]"), false, ptPoppler},
      {"not of an on group", ExpressionPage(bOff, "[/Not 5 0 R]"), true, ptPoppler},
      {"the groups would show it", ExpressionPage(aOff, "[/And 5 0 R 8 0 R]"), true, ptPoppler},
      {"nested, true", ExpressionPage(bOff, "[/And [/Not 6 0 R] [/Or 6 0 R 8 0 R]]"), false, ptPoppler},
      {"nested, false", ExpressionPage(bOff, "[/Or [/And 5 0 R 6 0 R] [/Not 8 0 R]]"), true, ptPoppler},
      {"through references", ExpressionPage(bOff, "9 0 R", {"[/And 5 0 R 10 0 R]", "[/Not 6 0 R]"}), false, ptPoppler},
      {"or of nothing", ExpressionPage(bOff, "[/Or]"), true, ptPoppler},
      // Terms that are no expression hide nothing.
      {"unknown operation", ExpressionPage(bOff, "[/Xor 6 0 R]"), false, ptPoppler},
      {"not of two terms", ExpressionPage(bOff, "[/And 5 0 R [/Not 5 0 R 6 0 R]]"), false, ptPoppler},
      // An expression that is not an array leaves the groups and policy to decide.
      {"expression not an array", ExpressionPage(bOff, "/And"), true, ptPoppler},
  };
  ExpectLikePeers(cases);
}

// Expressions of hostile files end: one that holds itself, one nested deeper
// than any real one, and one whose shared terms would be weighed an
// exponential number of times. Such an expression hides nothing.
TEST(OptionalContent, HostileVisibilityExpressionsEndAndHideNothing) {
  // Objects 10 on: a chain of 200 /Not, and 25 levels of /And whose two
  // terms are one object (2^25 terms weighed in full).
  std::vector<std::string> chain, shared;
  for (int i = 11; i < 210; ++i) chain.push_back("[/Not " + std::to_string(i) + " 0 R]");
  chain.push_back("[/Not 6 0 R]");
  for (int i = 11; i < 36; ++i) shared.push_back("[/And " + std::to_string(i) + " 0 R " + std::to_string(i) + " 0 R]");
  shared.push_back("[/And 5 0 R 5 0 R]");
  const struct {
    const char* name;
    std::string pdf;
  } cases[] = {
      {"holds itself", ExpressionPage("<< /OFF [6 0 R] >>", "9 0 R", {"[/Not 9 0 R]"})},
      {"holds itself further down", ExpressionPage("<< /OFF [6 0 R] >>", "9 0 R", {"[/And 5 0 R [/Or 9 0 R]]"})},
      {"nested 200 deep", ExpressionPage("<< /OFF [6 0 R] >>", "9 0 R",
                                         [&] {
                                           std::vector<std::string> objects = {"[/Not 10 0 R]"};
                                           objects.insert(objects.end(), chain.begin(), chain.end());
                                           return objects;
                                         }())},
      {"shared terms", ExpressionPage("<< /OFF [6 0 R] >>", "9 0 R",
                                      [&] {
                                        std::vector<std::string> objects = {"[/Not 10 0 R]"};
                                        objects.insert(objects.end(), shared.begin(), shared.end());
                                        return objects;
                                      }())},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    for (bool cairo : {false, true}) {
      TRendered r = RenderContent(c.pdf, cairo);
      EXPECT_EQ(r.error, "");
      EXPECT_EQ(Rgb(r.bitmap, 25, 75), 0x000000u) << (cairo ? "cairo" : "GDI");
    }
  }
}

// A renderer drawing one page after another weighs each page's optional
// content under its own document's configuration: a second document whose
// group is on was drawn with the first one's base state OFF.
TEST(OptionalContent, EachPageDrawnTakesItsOwnDocumentsConfiguration) {
  const std::string content = "/OC /A BDC 0 g 10 10 30 30 re f EMC";
  auto hiding = LoadPdf(OptionalPage("<< /BaseState /OFF >>", content, "", ""));
  auto showing = LoadPdf(OptionalPage("<< >>", content, "", ""));
  ASSERT_TRUE(hiding && showing);
  TPDFFontCollection fonts;
  TPDFRenderer renderer(&fonts);
  for (auto* doc : {hiding.get(), showing.get()}) {
    const bool shown = doc == showing.get();
    SCOPED_TRACE(shown ? "second document" : "first document");
    auto pages = FindPages(*doc);
    ASSERT_EQ(pages.size(), 1u);
    renderer.PageObject = pages[0];
    renderer.Resolution = 72;
    const TBitmap bitmap = DrawRendererPage(renderer, false);
    EXPECT_EQ(renderer.GetErrorText(), "");
    EXPECT_EQ(Rgb(bitmap, 25, 75), shown ? 0x000000u : 0xFFFFFFu);
  }
}
