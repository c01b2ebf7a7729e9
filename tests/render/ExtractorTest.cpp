// Content text extractor: plain text and rows from content built by the
// tests, the clean-up, and the corpus pages compared with pdftotext.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>

#include "FontCollectionTestSupport.h"
#include "objects/PavonaExtra.h"
#include "render/PavonaExtractor.h"

namespace {

using pvlfont::TObjectPool;

std::string U8(const std::u16string& s) { return WideToUTF8(s); }

class ExtractorTest : public ::testing::Test {
protected:
  TObjectPool objs;
  TPDFFontCollection fc;
  TPDFDictionary* resources = nullptr;
  void SetUp() override {
    fc.LoadOutlines = true;
    objs.Def(10, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>");
    objs.Def(11, "<< /Type /Font /Subtype /Type0 /BaseFont /Comp /Encoding /Identity-H /DescendantFonts [12 0 R] "
                 "/ToUnicode 13 0 R >>");
    objs.Def(12, "<< /Type /Font /Subtype /CIDFontType2 /BaseFont /Comp /DW 500 >>");
    objs.DefStream(13, "<< >>",
                   "begincodespacerange <0000> <FFFF> endcodespacerange beginbfrange <0001> <001A> <0061> endbfrange");
    resources = PDFAsDictionary(objs.Parse("<< /Font << /F1 10 0 R /F2 11 0 R >> >>"));
  }
  std::string Run(const std::string& content, int32_t option = 0) {
    TPDFExtractor ex(resources, &fc);
    return U8(ex.Extract(content, option));
  }
};

struct TExtractCase {
  const char* name;
  const char* content;
  int32_t option;
  const char* expected;
};

class ExtractCases : public ExtractorTest, public ::testing::WithParamInterface<TExtractCase> {};

TEST_P(ExtractCases, WritesTheExpectedText) {
  const TExtractCase& c = GetParam();
  EXPECT_EQ(Run(c.content, c.option), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ExtractCases,
    ::testing::Values(
        // The move down by 14 writes a blank and one line break (14 >= 10.2, not an upward move).
        TExtractCase{"MoveDown", "BT /F1 12 Tf 72 700 Td (Hello) Tj 0 -14 Td (World) Tj ET", 0,
                     "\r\n\r\nHello \r\nWorld"},
        // Up by 25 at size 12: two breaks, kept by the clean-up.
        TExtractCase{"MoveUp", "BT /F1 12 Tf (A) Tj 0 25 Td (B) Tj ET", 0, "A \r\n\r\nB"},
        TExtractCase{"TJGap", "BT /F1 12 Tf [(Hel) -300 (lo)] TJ ET", 0, "Hel lo"},
        TExtractCase{"TJKern", "BT /F1 12 Tf [(Hel) -100 (lo)] TJ ET", 0, "Hello"},
        TExtractCase{"Quote", "BT /F1 12 Tf (one) Tj (two) ' ET", 0, "one\r\ntwo"},
        TExtractCase{"TStar", "BT /F1 12 Tf 14 TL (a) Tj T* (b) Tj ET", 0, "a\r\nb"},
        TExtractCase{"Composite", "BT /F2 10 Tf [<00010002> -600 <0003>] TJ ET", 0, "ab c"},
        TExtractCase{"CharSpacingSpreads", "BT /F1 10 Tf 5 Tc [(abc)] TJ ET", 0, "a b c"},
        TExtractCase{"InlineImageSkipped", "BT /F1 12 Tf (x) Tj ET BI /W 2 /H 2 ID (junk) Tj EI BT (y) Tj ET", 0, "xy"},
        TExtractCase{"Row", "BT /F1 12 Tf 72 700 Td (He said \"hi\") Tj ET", 2,
                     "72,700,#000000,12,\"Helvetica\",\"He said \\\"hi\\\"\"\r\n"},
        TExtractCase{"RowColour", "1 0 0 rg BT /F1 9 Tf 1 0 0 1 10 20 Tm (a) Tj 0.5 g [(b)] TJ ET", 2,
                     "10,20,#FF0000,9,\"Helvetica\",\"a\"\r\n15,20,#808080,9,\"Helvetica\",\"b\"\r\n"},
        TExtractCase{"Option1", "BT /F1 12 Tf (a) Tj ET", 1, ""},
        TExtractCase{"Option9", "BT /F1 12 Tf (a) Tj ET", 9, ""},
        // Damaged content: an unterminated string, stray operators and a missing font.
        TExtractCase{"Damaged", "BT /F9 12 Tf (z) Tj ] TJ 1 0 0 Tm /F1 12 Tf (b) Tj (unterminated", 0, "b"},
        TExtractCase{"NullBytes", "BT /F1 12 Tf <41004200> Tj ET", 0, "A B"},
        // Comments and property dictionaries are read as the renderer reads them.
        TExtractCase{"Comment", "BT /F1 12 Tf % (Junk) Tj\n(Hello) Tj ET", 0, "Hello"},
        TExtractCase{"PropertyDictionary", "/Span << /ActualText (x) /E <41> >> BDC BT /F1 12 Tf (a) Tj ET EMC", 0,
                     "a"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ExtractedTextCleanUp, BlankLinesAndBreakRuns) {
  struct Case {
    std::u16string in;
    std::u16string out;
  } cases[] = {
      {u"a\r\n \r\nb", u"a\r\nb"},
      {u"a\r\n \r\n \r\nb", u"a\r\nb"},
      {u"a\r\n\r\n\r\nb", u"a\r\nb"},
      {u"a\r\n\r\n\r\n\r\nb", u"a\r\n\r\nb"},
      {u"a\r\n\r\n\r\n\r\n\r\nb", u"a\r\nb"},
      {std::u16string(u"  a\0b  ", 7), u"a b"},
      {std::u16string(u"x\0", 2), u"x"},
  };
  for (const Case& c : cases) EXPECT_EQ(U8(CleanExtractedText(c.in)), U8(c.out)) << U8(c.in);
}

// ---------------------------------------------------------------------------
// Corpus pages against pdftotext

// The pages of a document in order, with their inherited resources.
struct TPage {
  TPDFDictionary* page;
  TPDFDictionary* resources;
};
void CollectPages(TPDFDictionary* node, TPDFDictionary* inherited, std::set<TPDFObject*>& seen,
                  std::vector<TPage>& pages, int depth) {
  if (!node || depth > 64 || !seen.insert(node).second || pages.size() > 1000) return;
  TPDFDictionary* res = node->GetDictionary("Resources");
  if (!res) res = inherited;
  if (TPDFArray* kids = node->GetArray("Kids")) {
    for (TPDFObject* kid : kids->Items()) CollectPages(PDFAsDictionary(PDFResolve(kid)), res, seen, pages, depth + 1);
  } else {
    pages.push_back({node, res});
  }
}

std::string PageContent(TPDFDictionary* page) {
  std::string text;
  TPDFObject* contents = page->GetValue("Contents", true);
  std::vector<TPDFObject*> parts;
  if (TPDFArray* a = PDFAsArray(contents))
    parts = a->Items();
  else
    parts.push_back(contents);
  for (TPDFObject* p : parts)
    if (TPDFStream* s = PDFAsStream(PDFResolve(p))) text += " " + s->GetDecodedData();
  return text;
}

// Share of the characters (white space aside) the two texts have in common.
double CharacterOverlap(const std::u16string& a, const std::u16string& b) {
  std::map<char16_t, int> ca, cb;
  size_t na = 0, nb = 0;
  for (char16_t c : a)
    if (c > u' ') ++ca[c], ++na;
  for (char16_t c : b)
    if (c > u' ') ++cb[c], ++nb;
  if (na == 0 && nb == 0) return 1;
  size_t common = 0;
  for (auto [c, n] : ca) common += static_cast<size_t>(std::min(n, cb[c]));
  return static_cast<double>(common) / static_cast<double>(std::max(na, nb));
}

TEST(ExtractorCorpus, PageTextMatchesPdftotext) {
  if (!pvltest::HaveTool("pdftotext")) GTEST_SKIP();
  int pagesCompared = 0, close = 0;
  std::vector<std::string> differing;
  for (const std::string& file : pvltest::CorpusPdfFiles()) {
    if (file.find("fuzzed") != std::string::npos) continue;
    auto doc = pvlfont::OpenDocument(file);
    if (!doc || !doc->GetTrailer()) continue;
    TPDFDictionary* root = doc->GetTrailer()->GetDictionary("Root");
    TPDFDictionary* pagesRoot = root ? root->GetDictionary("Pages") : nullptr;
    std::vector<TPage> pages;
    std::set<TPDFObject*> seen;
    CollectPages(pagesRoot, nullptr, seen, pages, 0);
    // The first two pages of each file keep the run short.
    for (size_t p = 0; p < pages.size() && p < 2; ++p) {
      std::string content = PageContent(pages[p].page);
      TPDFFontCollection fc;
      fc.LoadOutlines = true;
      TPDFExtractor ex(pages[p].resources, &fc);
      std::u16string ours = ex.Extract(content, 0);
      const std::string number = std::to_string(p + 1);
      auto r = pvltest::RunCommand({"pdftotext", "-raw", "-q", "-f", number, "-l", number, file, "-"});
      if (r.exitCode != 0) continue;
      std::u16string theirs = UTF8ToWide(r.out);
      ++pagesCompared;
      const double overlap = CharacterOverlap(ours, theirs);
      if (overlap >= 0.9) {
        ++close;
      } else {
        differing.push_back(file.substr(file.find("corpus/") + 7) + " p" + number + " overlap " +
                            FormatPDFNumber(2, overlap) + " (" + std::to_string(ours.size()) + " vs " +
                            std::to_string(theirs.size()) + " chars)");
      }
    }
  }
  for (const std::string& d : differing) std::cout << "  differs: " << d << "\n";
  std::cout << pagesCompared << " pages compared, " << close << " with at least 90% of their characters in common\n";
  EXPECT_GT(pagesCompared, 100);
  EXPECT_GE(close * 10, pagesCompared * 7);
}

}  // namespace
