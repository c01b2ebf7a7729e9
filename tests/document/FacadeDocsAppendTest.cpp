// Page copy and document append between loaded documents, and the facade's
// MergeDocument, on small files built here; qpdf checks what is saved.
#include <gtest/gtest.h>

#include <cstdlib>

#include "TestSupport.h"
#include "document/Pavona0813.h"
#include "document/PavonaDocument.h"
#include "objects/PavonaExtra.h"
#include "pages/PavonaPageTree.h"

namespace {

// Pages under an intermediate node with MediaBox [0 0 300 400], Rotate 90
// and a shared font; page 2 (when there is one) links to page 3 and to
// itself. Objects: 1 catalog, 2 root, 3 node, 4 font, then page/content
// pairs from 5, then the two link annotations. gapAt leaves one number out.
std::string Pages(int pages, const std::string& label, int gapAt = 0) {
  std::vector<std::string> objs(4);
  std::string kids;
  for (int k = 0; k < pages; ++k) {
    const int page = 5 + 2 * k;
    kids += std::to_string(page) + " 0 R ";
    std::string dict = "<< /Type /Page /Parent 3 0 R /Contents " + std::to_string(page + 1) + " 0 R";
    if (k == 1 && pages >= 3) {
      const int links = 5 + 2 * pages;
      dict += " /Annots [" + std::to_string(links) + " 0 R " + std::to_string(links + 1) + " 0 R]";
    }
    objs.push_back(dict + " >>");
    objs.push_back("STREAM:BT /F1 20 Tf 30 200 Td (" + label + " " + std::to_string(k + 1) + ") Tj ET");
  }
  if (pages >= 3) {
    objs.push_back("<< /Type /Annot /Subtype /Link /Rect [0 0 50 50] /Dest [9 0 R /Fit] >>");
    objs.push_back("<< /Type /Annot /Subtype /Link /Rect [60 0 110 50] /Dest [7 0 R /Fit] >>");
  }
  objs[0] = "<< /Type /Catalog /Pages 2 0 R >>";
  objs[1] = "<< /Type /Pages /Kids [3 0 R] /Count " + std::to_string(pages) + " >>";
  objs[2] = "<< /Type /Pages /Parent 2 0 R /Kids [" + kids + "] /Count " + std::to_string(pages) +
            " /MediaBox [0 0 300 400] /Rotate 90 /Resources << /Font << /F1 4 0 R >> >> >>";
  objs[3] = "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>";
  if (gapAt > 0) {
    objs.resize(std::max<size_t>(objs.size(), size_t(gapAt) + 1));
    objs[size_t(gapAt - 1)].clear();
  }
  return pvltest::MakePdf(objs);
}

std::unique_ptr<TPDFDocument> Open(const std::string& text) {
  auto doc = std::make_unique<TPDFDocument>();
  if (doc->LoadFromString(text, u"") != TPDFDocument::kLoadOk) return nullptr;
  return doc;
}

std::unique_ptr<TPDFDocument> Fresh() {
  auto doc = std::make_unique<TPDFDocument>();
  doc->InitNewDocument();
  return doc;
}

std::string PageText(TPDFDocument& doc, int32_t page) {
  TPDFPageTree* tree = doc.GetPageTree();
  tree->SelectPage(page);
  std::u16string out;
  tree->ExtractPageText(0, nullptr, out);
  return WideToUTF8(out);
}

// Saves and loads again; qpdf checks the saved bytes when it is there.
std::unique_ptr<TPDFDocument> RoundTrip(TPDFDocument& doc) {
  const std::string bytes = doc.SaveToString();
  if (pvltest::HaveTools({"qpdf"})) {
    pvltest::TempDir dir;
    pvltest::WriteFile(dir.File("x.pdf"), bytes);
    const auto r = pvltest::RunCommand({"qpdf", "--check", dir.File("x.pdf")});
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  }
  return Open(bytes);
}

}  // namespace

TEST(DocumentCopyPages, OnePageWithWhatItInheritedAndLinksToUncopiedPagesDropped) {
  auto source = Open(Pages(3, "Src"));
  ASSERT_TRUE(source);
  auto target = Fresh();
  ASSERT_TRUE(target->CopyPagesFrom(*source, "2"));
  auto copy = RoundTrip(*target);
  ASSERT_TRUE(copy);
  ASSERT_EQ(copy->GetPageTree()->GetPageCount(), 1);
  TPDFDictionary* page = copy->GetPageTree()->FindPage(1);
  ASSERT_TRUE(page);
  TPDFArray* media = PDFAsArray(page->GetValue("MediaBox", true));
  ASSERT_TRUE(media);
  EXPECT_EQ(PDFAsNumeric(media->GetItem(3))->GetValue(), 400);
  EXPECT_EQ(TPDFPageTree::GetPageRotate(page), 90);
  EXPECT_NE(PageText(*copy, 1).find("Src 2"), std::string::npos);
  TPDFArray* annots = PDFAsArray(page->GetValue("Annots", true));
  ASSERT_TRUE(annots);
  ASSERT_EQ(annots->GetCount(), 2);
  // The link to page 3 (not copied) leads nowhere; the one to page 2 itself
  // leads to the copy.
  TPDFArray* toThree = PDFAsArray(PDFAsDictionary(PDFResolve(annots->GetItem(0)))->GetValue("Dest", true));
  TPDFArray* toSelf = PDFAsArray(PDFAsDictionary(PDFResolve(annots->GetItem(1)))->GetValue("Dest", true));
  ASSERT_TRUE(toThree && toSelf);
  EXPECT_TRUE(PDFIsKind(toThree->GetItem(0), '0'));
  EXPECT_EQ(copy->PageIndexOf(PDFAsIndRef(toSelf->GetItem(0))), 1);
  // The source is unchanged.
  EXPECT_FALSE(source->GetPageTree()->FindPage(2)->GetValue("MediaBox"));
}

TEST(DocumentCopyPages, RepeatedPagesShareWhatTheyUseAndEmptyRangesCopyNothing) {
  auto source = Open(Pages(3, "Rep"));
  ASSERT_TRUE(source);
  auto target = Fresh();
  ASSERT_TRUE(target->CopyPagesFrom(*source, "1,1"));
  auto copy = RoundTrip(*target);
  ASSERT_TRUE(copy);
  ASSERT_EQ(copy->GetPageTree()->GetPageCount(), 2);
  int fonts = 0;
  for (int32_t i = 0; i < copy->GetObjectCount(); ++i)
    if (TPDFDictionary* d = PDFAsDictionary(copy->GetIndObj(i)->GetObject()); d && d->GetNameValue("BaseFont") == "Helvetica")
      ++fonts;
  EXPECT_EQ(fonts, 1);
  EXPECT_NE(PageText(*copy, 2).find("Rep 1"), std::string::npos);

  auto other = Fresh();
  for (const char* range : {"0", "", "9-12", "x"}) EXPECT_FALSE(other->CopyPagesFrom(*source, range)) << range;
  EXPECT_EQ(other->GetPageTree()->GetPageCount(), 1);

  // A target with content of its own keeps its page.
  auto drawn = Open(Pages(1, "Mine"));
  ASSERT_TRUE(drawn->CopyPagesFrom(*source, "3"));
  auto both = RoundTrip(*drawn);
  ASSERT_EQ(both->GetPageTree()->GetPageCount(), 2);
  EXPECT_NE(PageText(*both, 1).find("Mine 1"), std::string::npos);
  EXPECT_NE(PageText(*both, 2).find("Rep 3"), std::string::npos);
}

TEST(DocumentAppend, OtherTreeHangsUnderTheRootWithNumbersAligned) {
  auto target = Open(Pages(2, "T"));
  // Object 15 of the other file (a link) is missing: its number must stay a gap.
  auto other = Open(Pages(5, "O", 15));
  ASSERT_TRUE(target && other);
  const int32_t t = target->GetHighestNumber();
  const int32_t otherHighest = other->GetHighestNumber();
  ASSERT_EQ(target->AppendDocument(*other), 1);
  EXPECT_EQ(target->GetHighestNumber(), t + otherHighest);
  TPDFDictionary* root = target->GetPages();
  EXPECT_EQ(root->GetInteger("Count", 0), 7);
  TPDFArray* kids = PDFAsArray(root->GetValue("Kids", true));
  ASSERT_TRUE(kids);
  TPDFDictionary* hung = PDFAsDictionary(PDFResolve(kids->GetItem(kids->GetCount() - 1)));
  ASSERT_TRUE(hung);
  EXPECT_EQ(hung->GetNameValue("Type"), "Pages");
  EXPECT_EQ(PDFAsIndRef(hung->GetValue("Parent"))->GetRefNumber(), PDFAsIndRef(target->GetRoot()->GetValue("Pages"))->GetRefNumber());
  EXPECT_TRUE(PDFIsKind(target->LookupObject(t + 15), '0'));
  auto copy = RoundTrip(*target);
  ASSERT_TRUE(copy);
  ASSERT_EQ(copy->GetPageTree()->GetPageCount(), 7);
  for (int32_t k = 1; k <= 7; ++k) {
    const std::string want = k <= 2 ? "T " + std::to_string(k) : "O " + std::to_string(k - 2);
    EXPECT_NE(PageText(*copy, k).find(want), std::string::npos) << k;
    EXPECT_EQ(TPDFPageTree::GetPageRotate(copy->GetPageTree()->FindPage(k)), 90);
  }
}

TEST(DocumentAppend, FacadeMergeDocumentTakesTheOtherDocumentOver) {
  TPavona facade;
  ASSERT_EQ(facade.LoadFromString(Pages(2, "First"), u""), 1);
  const int32_t first = facade.SelectedDocument();
  ASSERT_EQ(facade.LoadFromString(Pages(3, "Second"), u""), 1);
  const int32_t second = facade.SelectedDocument();
  ASSERT_EQ(facade.SelectDocument(first), 1);
  const int32_t documents = facade.DocumentCount();
  EXPECT_EQ(facade.MergeDocument(first), 0);
  ASSERT_EQ(facade.MergeDocument(second), 1);
  EXPECT_EQ(facade.DocumentCount(), documents - 1);
  EXPECT_EQ(facade.SelectDocument(second), 0) << "the merged document's handle is dead";
  EXPECT_EQ(facade.PageCount(), 5);
  std::u16string producer;
  facade.GetInformation(6, producer);
  EXPECT_EQ(WideToUTF8(producer), TPavona::Banner());
  ASSERT_EQ(facade.SelectPage(5), 1);
  std::u16string text;
  facade.GetPageText(0, text);
  EXPECT_NE(WideToUTF8(text).find("Second 3"), std::string::npos);
}
