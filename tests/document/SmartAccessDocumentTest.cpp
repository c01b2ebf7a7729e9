// The page-tree view of a direct-access file: page counts that do not trust
// Count, guarded walks, inherited attributes pushed down across many reads,
// page selection for a split, and page text in its modes.
#include <gtest/gtest.h>

#include <algorithm>

#include "TestSupport.h"
#include "document/PavonaSmartAccess.h"
#include "objects/PavonaExtra.h"
#include "platform/Classes.h"

namespace {

// 1 catalog, 2 root (rootExtra inside), 3 node with MediaBox, Rotate 90 and
// the font, 4 font, then page/content pairs; nodeKidsExtra is appended to
// the node's Kids.
std::string Tree(int pages, const std::string& rootExtra = " /Count 1", const std::string& nodeKidsExtra = "") {
  std::vector<std::string> objs(4);
  std::string kids;
  for (int k = 0; k < pages; ++k) {
    kids += std::to_string(5 + 2 * k) + " 0 R ";
    objs.push_back("<< /Type /Page /Parent 3 0 R /Contents " + std::to_string(6 + 2 * k) + " 0 R >>");
    objs.push_back("STREAM:BT /F1 20 Tf 30 200 Td (Leaf " + std::to_string(k + 1) + ") Tj ET");
  }
  objs[0] = "<< /Type /Catalog /Pages 2 0 R >>";
  objs[1] = "<< /Type /Pages /Kids [3 0 R]" + rootExtra + " >>";
  objs[2] = "<< /Type /Pages /Parent 2 0 R /Kids [" + kids + nodeKidsExtra + "] /MediaBox [0 0 300 400] /Rotate 90 "
            "/Resources << /Font << /F1 4 0 R >> >> >>";
  objs[3] = "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>";
  return pvltest::MakePdf(objs);
}

}  // namespace

TEST(SmartDocument, PageCountComesFromTheTreeNotFromCount) {
  struct TCase {
    std::string name, pdf;
    int32_t pages;
  };
  const std::vector<TCase> cases = {
      {"Count too small", Tree(3, " /Count 1"), 3},
      {"no Count", Tree(3, ""), 3},
      {"Count not a number", Tree(2, " /Count (two)"), 2},
      {"Count far too large", Tree(2, " /Count 99999999"), 2},
      // Kids that lead back up the tree (the root and the node itself) are
      // not followed again.
      {"cycle", Tree(2, " /Count 2", "2 0 R 3 0 R"), 2},
      // A page listed twice is a page at each listing.
      {"kid repeated", Tree(2, " /Count 2", "5 0 R"), 3},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    TMemoryStream stream(c.pdf);
    TSmartPDFReader reader(stream);
    ASSERT_EQ(reader.GetState(), 0);
    TSmartPDFDocument document(reader);
    EXPECT_EQ(document.GetPageCount(), c.pages);
    EXPECT_TRUE(document.FindPage(c.pages));
    EXPECT_FALSE(document.FindPage(c.pages + 1));
    EXPECT_FALSE(document.FindPage(0));
  }
  // No catalog at all: no pages, and nothing breaks.
  TMemoryStream bare(pvltest::MakePdf({"<< /Type /Foo >>"}));
  TSmartPDFReader reader(bare);
  TSmartPDFDocument document(reader);
  EXPECT_EQ(document.GetPageCount(), 0);
}

TEST(SmartDocument, PushDownReachesEveryPageAcrossManyReads) {
  // More pages than the reader's object cache holds.
  const int pages = 150;
  TMemoryStream stream(Tree(pages, " /Count 150"));
  TSmartPDFReader reader(stream);
  TSmartPDFDocument document(reader);
  document.PushDownPageAttributes();
  TPDFStructure pool;
  for (int k = 1; k <= pages; ++k) {
    TPDFIndRef* ref = document.FindPage(k);
    ASSERT_TRUE(ref) << k;
    TPDFDictionary* page = PDFAsDictionary(document.GetObject(ref->GetRefNumber(), &pool));
    ASSERT_TRUE(page) << k;
    EXPECT_EQ(page->GetInteger("Rotate", -1), 90) << k;
    TPDFArray* media = PDFAsArray(page->GetValue("MediaBox"));
    ASSERT_TRUE(media) << k;
    EXPECT_EQ(PDFAsNumeric(media->GetItem(2))->GetValue(), 300) << k;
    EXPECT_TRUE(page->GetValue("CropBox")) << k;
    // Resources stay shared: a reference or the node's dictionary itself.
    EXPECT_TRUE(PDFAsDictionary(page->GetValue("Resources"))) << k;
  }
}

TEST(SmartDocument, SelectPagesCollectsOnlyWhatTheChosenPagesUse) {
  TMemoryStream stream(Tree(3, " /Count 3"));
  TSmartPDFReader reader(stream);
  TSmartPDFDocument document(reader);
  std::vector<int32_t> progress;
  document.OnProgress = [&](int32_t p) { progress.push_back(p); };
  document.SelectPages({2});
  std::vector<int32_t> used;
  for (int32_t i = 1; i <= document.GetUsedObjectCount(); ++i) used.push_back(document.GetUsedObjectNumber(i));
  std::sort(used.begin(), used.end());
  // Catalog, root, font, page 2 and its content; not the node, pages 1 and
  // 3 nor their contents.
  EXPECT_EQ(used, (std::vector<int32_t>{1, 2, 4, 7, 8}));
  TPDFDictionary* root = PDFAsDictionary(document.GetObject(2, nullptr));
  ASSERT_TRUE(root);
  EXPECT_EQ(root->GetInteger("Count", 0), 1);
  EXPECT_EQ(document.GetPageCount(), 1);
  ASSERT_FALSE(progress.empty());
  EXPECT_EQ(progress.back(), 100);
  EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
}

TEST(SmartDocument, PageTextModesAgreeWithEachOther) {
  TMemoryStream stream(Tree(2, " /Count 2"));
  TSmartPDFReader reader(stream);
  TSmartPDFDocument document(reader);
  TSmartPDFTextOptions options;
  std::u16string one, two, simple, none;
  document.ExtractPageText(document.FindPage(2), 1, one, options);
  document.ExtractPageText(document.FindPage(2), 2, two, options);
  document.ExtractPageText(document.FindPage(2), 8, simple, options);
  document.ExtractPageText(nullptr, 0, none, options);
  EXPECT_EQ(one, two);
  EXPECT_NE(WideToUTF8(two).find("Leaf 2"), std::string::npos) << WideToUTF8(two);
  EXPECT_NE(WideToUTF8(simple).find("Leaf 2"), std::string::npos) << WideToUTF8(simple);
  EXPECT_TRUE(none.empty());
}
