// Page text in the funnel's layouts (rows with positions, the character grid,
// one run per line) against pdftotext -layout on the corpus text pages.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <sstream>

#include "TestSupport.h"
#include "document/Pavona0813.h"
#include "objects/PavonaExtra.h"

namespace {

// The share of what two texts have in common: characters (white space left
// out) or words, counted as multisets against the longer side.
double CommonShare(const std::string& ours, const std::string& theirs, bool words) {
  std::map<std::string, int> a, b;
  auto count = [&](const std::string& text, std::map<std::string, int>& into) {
    if (words) {
      std::istringstream in(text);
      for (std::string w; in >> w;) ++into[w];
      return;
    }
    const std::u16string wide = UTF8ToWide(text);
    for (char16_t c : wide)
      if (c > u' ' && c != 0xA0) ++into[WideToUTF8(std::u16string(1, c))];
  };
  count(ours, a);
  count(theirs, b);
  int common = 0, na = 0, nb = 0;
  for (const auto& [k, v] : a) {
    na += v;
    auto it = b.find(k);
    if (it != b.end()) common += std::min(v, it->second);
  }
  for (const auto& [k, v] : b) nb += v;
  return static_cast<double>(common) / std::max({na, nb, 1});
}

struct TTextPage {
  const char* file;
  double words;  // the word share measured when the test was written, less a margin
  const char* note;
};

const TTextPage kPages[] = {
    {"samples/pdflatex-4-pages.pdf", 0.5, "justified lines: interword gaps below the funnel's space threshold join words"},
    {"samples/multicolumn.pdf", 0.9, ""},
    {"samples/google-doc-document.pdf", 0.9, ""},
    {"samples/002-trivial-libre-office-writer.pdf", 0.98, ""},
    {"pdfjs/tracemonkey.pdf", 0.35, "justified two-column text: as above"},
    {"pdfjs/TAMReview.pdf", 0.95, ""},
    {"pdfjs/basicapi.pdf", 0.98, ""},
};

TEST(FacadeText, LayoutsAgreeWithPdftotext) {
  if (!pvltest::HaveTool("pdftotext")) GTEST_SKIP() << "pdftotext is missing";
  for (const TTextPage& c : kPages) {
    const std::string path = pvltest::CorpusPath(c.file);
    auto ref = pvltest::RunCommand({"pdftotext", "-layout", "-f", "1", "-l", "1", path, "-"});
    ASSERT_EQ(ref.exitCode, 0) << c.file;
    TPavona facade;
    ASSERT_EQ(facade.LoadFromFile(NativePathToWide(path), u""), 1) << c.file;
    for (int mode : {7, 8}) {
      std::u16string text;
      facade.GetPageText(mode, text);
      const std::string ours = WideToUTF8(text);
      const double chars = CommonShare(ours, ref.out, false), words = CommonShare(ours, ref.out, true);
      std::printf("[ text     ] %-46s mode %d: characters %.3f, words %.3f\n", c.file, mode, chars, words);
      EXPECT_GE(chars, 0.98) << c.file << " mode " << mode;
      EXPECT_GE(words, c.words) << c.file << " mode " << mode << " " << c.note;
    }
  }
}

TEST(FacadeText, DetailedRowsCarryFontColourSizeAndCorners) {
  TPavona facade;
  ASSERT_EQ(facade.LoadFromFile(NativePathToWide(pvltest::CorpusPath("samples/002-trivial-libre-office-writer.pdf")),
                                u""),
            1);
  std::u16string three, four, five;
  facade.GetPageText(3, three);
  facade.GetPageText(4, four);
  facade.GetPageText(5, five);
  const std::string rows = WideToUTF8(three);
  ASSERT_FALSE(rows.empty());
  // "font",#RRGGBB,size,x1,y1,x2,y2,x3,y3,x4,y4,"text"
  const std::string first = rows.substr(0, rows.find('\n'));
  EXPECT_EQ(first[0], '"') << first;
  EXPECT_NE(first.find(",#000000,"), std::string::npos) << first;
  // Font, colour, size and four corners come before the quoted text.
  const std::string head = first.substr(0, first.rfind(",\""));
  EXPECT_EQ(std::count(head.begin(), head.end(), ','), 10) << first;
  // Mode 5 adds a row of glyph widths after each run.
  EXPECT_GT(WideToUTF8(five).size(), rows.size());
  std::u16string none;
  facade.GetPageText(9, none);
  EXPECT_TRUE(none.empty());
}

}  // namespace
