// The page tree over small trees built by the tests: lookup (flat, nested,
// damaged, cyclic), the page count, selection with its content-stream
// normalisation, sizes, resources and inherited attributes.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "objects/PavonaStructure.h"
#include "NumberedPool.h"
#include "pages/PavonaPageTree.h"

namespace {

using TestDoc = pagetest::NumberedPool;

int32_t numberOf(TPDFDictionary* d) {
  return d ? d->GetObjectNumber() : 0;
}

// PDF syntax of an object with arrays written tight ("[1 2]").
std::string text(TPDFObject* obj) {
  if (!obj) return "<none>";
  std::string t = obj->WriteText(), out;
  for (size_t i = 0; i < t.size(); ++i) {
    if (t.compare(i, 2, "[ ") == 0) {
      out += '[';
      ++i;
    } else if (t.compare(i, 2, " ]") == 0) {
      continue;
    } else {
      out += t[i];
    }
  }
  return out;
}

// A balanced tree: root 1 -> nodes 2 (pages 10, 11) and 3 (node 4 (pages
// 12, 13), page 14).
void buildNested(TestDoc& d) {
  d.Add(1, "<< /Type /Pages /Count 5 /Kids [2 0 R 3 0 R] >>");
  d.Add(2, "<< /Type /Pages /Parent 1 0 R /Count 2 /Kids [10 0 R 11 0 R] >>");
  d.Add(3, "<< /Type /Pages /Parent 1 0 R /Count 3 /Kids [4 0 R 14 0 R] >>");
  d.Add(4, "<< /Type /Pages /Parent 3 0 R /Count 2 /Kids [12 0 R 13 0 R] >>");
  for (int n = 10; n <= 11; ++n) d.Add(n, "<< /Type /Page /Parent 2 0 R /Contents 90 0 R >>");
  for (int n = 12; n <= 13; ++n) d.Add(n, "<< /Type /Page /Parent 4 0 R /Contents 90 0 R >>");
  d.Add(14, "<< /Type /Page /Parent 3 0 R /Contents 90 0 R >>");
  d.AddStream(90, "<< >>", "0 0 m 1 1 l S");
}

TEST(PageTreeLookup, FlatNestedAndDamagedTrees) {
  struct Case {
    const char* name;
    std::vector<std::pair<int32_t, std::string>> objects;
    int32_t count;
    std::vector<int32_t> pages;  // object number of page 1, 2, ... (every page counted is found)
  };
  const std::vector<Case> cases = {
      {"flat",
       {{1, "<< /Type /Pages /Count 3 /Kids [10 0 R 11 0 R 12 0 R] >>"},
        {10, "<< /Type /Page >>"},
        {11, "<< /Type /Page >>"},
        {12, "<< /Type /Page >>"}},
       3,
       {10, 11, 12}},
      {"flat count but a Pages node in place: walk",
       {{1, "<< /Type /Pages /Count 2 /Kids [2 0 R 12 0 R] >>"},
        {2, "<< /Type /Pages /Count 1 /Kids [10 0 R] >>"},
        {10, "<< /Type /Page >>"},
        {12, "<< /Type /Page >>"}},
       2,
       {10, 12}},
      {"missing Type inferred from Kids",
       {{1, "<< /Count 3 /Kids [2 0 R 12 0 R] >>"},
        {2, "<< /Count 2 /Kids [10 0 R 11 0 R] >>"},
        {10, "<< /MediaBox [0 0 1 1] >>"},
        {11, "<< >>"},
        {12, "<< >>"}},
       3,
       {10, 11, 12}},
      {"a direct page becomes an object of its own; other types are skipped",
       {{1, "<< /Type /Pages /Count 2 /Kids [<< /Type /Page >> 5 0 R 10 0 R 11 0 R 99 0 R] >>"},
        {5, "<< /Type /Font >>"},
        {10, "<< /Type /Page >>"},
        {11, "<< /Type /Page >>"}},
       3,
       {-1, 10, 11}},
      {"wrong intermediate Count: the whole walk finds every page",
       {{1, "<< /Type /Pages /Count 3 /Kids [2 0 R 12 0 R] >>"},
        {2, "<< /Type /Pages /Count 1 /Kids [10 0 R 11 0 R] >>"},
        {10, "<< /Type /Page >>"},
        {11, "<< /Type /Page >>"},
        {12, "<< /Type /Page >>"}},
       3,
       {10, 11, 12}},
      {"intermediate Count that is not a number: its pages are counted",
       {{1, "<< /Type /Pages /Count 3 /Kids [2 0 R 12 0 R] >>"},
        {2, "<< /Type /Pages /Count /Two /Kids [10 0 R 11 0 R] >>"},
        {10, "<< /Type /Page >>"},
        {11, "<< /Type /Page >>"},
        {12, "<< /Type /Page >>"}},
       3,
       {10, 11, 12}},
      {"root without Count: pages counted",
       {{1, "<< /Type /Pages /Kids [2 0 R 12 0 R] >>"},
        {2, "<< /Type /Pages /Count 2 /Kids [10 0 R 11 0 R] >>"},
        {10, "<< /Type /Page >>"},
        {11, "<< /Type /Page >>"},
        {12, "<< /Type /Page >>"}},
       3,
       {10, 11, 12}},
      {"absurd root Count: pages counted",
       {{1, "<< /Type /Pages /Count 2000000000 /Kids [10 0 R 11 0 R] >>"},
        {10, "<< /Type /Page >>"},
        {11, "<< /Type /Page >>"}},
       2,
       {10, 11}},
      {"negative root Count: pages counted",
       {{1, "<< /Type /Pages /Count -5 /Kids [10 0 R] >>"}, {10, "<< /Type /Page >>"}},
       1,
       {10}},
      {"Kids cycle through the root and a node listing itself",
       {{1, "<< /Type /Pages /Kids [2 0 R 1 0 R 12 0 R] >>"},
        {2, "<< /Type /Pages /Kids [2 0 R 10 0 R 1 0 R] >>"},
        {10, "<< /Type /Page >>"},
        {12, "<< /Type /Page >>"}},
       2,
       {10, 12}},
      {"cycle under a node with a Count that covers the page sought",
       {{1, "<< /Type /Pages /Count 3 /Kids [2 0 R] >>"},
        {2, "<< /Type /Pages /Count 3 /Kids [10 0 R 2 0 R 3 0 R] >>"},
        {3, "<< /Type /Pages /Count 2 /Kids [2 0 R] >>"},
        {10, "<< /Type /Page >>"}},
       1,
       {10}},
      {"Kids not an array", {{1, "<< /Type /Pages /Count 2 /Kids 10 0 R >>"}, {10, "<< /Type /Page >>"}}, 0, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TestDoc d;
    for (const auto& [n, t] : c.objects) d.Add(n, t);
    TPDFPageTree tree(d.Dict(1), 100);
    ASSERT_EQ(tree.GetPageCount(), c.count);
    for (size_t i = 0; i < c.pages.size(); ++i) {
      // -1: a page made an object of its own here, whatever its number.
      if (c.pages[i] == -1) {
        EXPECT_NE(tree.FindPage(static_cast<int32_t>(i) + 1), nullptr) << "page " << i + 1;
        continue;
      }
      EXPECT_EQ(numberOf(tree.FindPage(static_cast<int32_t>(i) + 1)), c.pages[i]) << "page " << i + 1;
    }
    EXPECT_EQ(tree.FindPage(0), nullptr);
    EXPECT_EQ(tree.FindPage(c.count + 1), nullptr);
  }
}

TEST(PageTreeLookup, DeepChainIsCutAndLimitBoundsTheCount) {
  // A chain of 400 nested Pages nodes with one page at the bottom: the walk
  // stops at its depth cap instead of exhausting the stack.
  TestDoc d;
  const int depth = 400;
  for (int i = 1; i <= depth; ++i) {
    std::string kid = i == depth ? "5000 0 R" : std::to_string(i + 1) + " 0 R";
    d.Add(i, "<< /Type /Pages /Kids [" + kid + "] >>");
  }
  d.Add(5000, "<< /Type /Page >>");
  TPDFPageTree deep(d.Dict(1), 10000);
  EXPECT_EQ(deep.GetPageCount(), 0);

  // A hundred kids all naming the same page, but a limit of 10.
  TestDoc e;
  std::string kids;
  for (int i = 0; i < 100; ++i) kids += "10 0 R ";
  e.Add(1, "<< /Type /Pages /Kids [" + kids + "] >>");
  e.Add(10, "<< /Type /Page >>");
  TPDFPageTree limited(e.Dict(1), 10);
  EXPECT_EQ(limited.GetPageCount(), 10);
  EXPECT_EQ(numberOf(limited.FindPage(10)), 10);
}

TEST(PageTreeLookup, NestedPagesReferencesAndParents) {
  TestDoc d;
  buildNested(d);
  TPDFPageTree tree(d.Dict(1));
  ASSERT_EQ(tree.GetPageCount(), 5);
  const int32_t expected[] = {10, 11, 12, 13, 14};
  const int32_t parents[] = {2, 2, 4, 4, 3};
  for (int32_t n = 1; n <= 5; ++n) {
    EXPECT_EQ(numberOf(tree.FindPage(n)), expected[n - 1]);
    EXPECT_EQ(numberOf(tree.GetFoundParent()), parents[n - 1]);
    ASSERT_NE(tree.GetFoundRef(), nullptr);
    EXPECT_EQ(tree.GetFoundRef()->GetRefNumber(), expected[n - 1]);
  }
  tree.SelectPage(2);
  TPDFIndRef* ref = tree.GetPageRef(4);
  ASSERT_NE(ref, nullptr);
  EXPECT_EQ(ref->GetRefNumber(), 13);
  EXPECT_EQ(tree.GetSelectedPageNumber(), 2);
  EXPECT_EQ(numberOf(tree.GetFoundParent()), 2);  // lookup record restored

  // Not flat: the index comes from the callback.
  EXPECT_EQ(tree.IndexOfPageRef(ref), 0);
  tree.OnPageIndex = [](TPDFIndRef* r) { return r->GetRefNumber() == 13 ? 4 : 0; };
  EXPECT_EQ(tree.IndexOfPageRef(ref), 4);
}

TEST(PageTreeLookup, IndexOfPageRefInFlatTree) {
  TestDoc d;
  d.Add(1, "<< /Type /Pages /Count 2 /Kids [10 0 R 11 1 R] >>");
  d.Add(10, "<< /Type /Page >>");
  d.Add(11, "<< /Type /Page >>");
  TPDFPageTree tree(d.Dict(1));
  EXPECT_EQ(tree.IndexOfPageRef(d.pool.NewIndRef(11, 1)), 2);
  EXPECT_EQ(tree.IndexOfPageRef(d.pool.NewIndRef(11, 0)), 0);
  EXPECT_EQ(tree.IndexOfPageRef(d.pool.NewIndRef(10, 0)), 1);
}

TEST(PageTreeSelection, ContentsNormalisedAndMarkedStreamChosen) {
  struct Case {
    const char* name;
    std::string page;                // page 10
    std::string lastStreamDict;      // dictionary of stream 20
    size_t lastStreamSize;           // its raw size
    std::string contentsAfter;       // Contents written after the selection
    int32_t streams;                 // content streams listed
  };
  const std::string marked = "<< /LC /iSPV >>";
  const std::vector<Case> cases = {
      {"single stream reference", "<< /Type /Page /Contents 20 0 R >>", "<< >>", 5, "[20 0 R 30 0 R]", 2},
      {"missing Contents", "<< /Type /Page >>", "<< >>", 0, "[30 0 R]", 1},
      {"marked last stream reused", "<< /Type /Page /Contents [21 0 R 20 0 R] >>", marked, 10,
       "[21 0 R 20 0 R]", 2},
      {"marked stream of exactly 500000 bytes", "<< /Type /Page /Contents [20 0 R] >>", marked, 500000,
       "[20 0 R]", 1},
      {"marked stream of 500001 bytes", "<< /Type /Page /Contents [20 0 R] >>", marked, 500001,
       "[20 0 R 30 0 R]", 2},
      {"marker given by reference counts as unmarked", "<< /Type /Page /Contents [20 0 R] >>",
       "<< /LC 22 0 R >>", 3, "[20 0 R 30 0 R]", 2},
      {"marker of other case", "<< /Type /Page /Contents [20 0 R] >>", "<< /LC /ispv >>", 3, "[20 0 R 30 0 R]", 2},
      {"element that is not a stream replaced", "<< /Type /Page /Contents [23 0 R 99 0 R 20 0 R] >>", marked, 3,
       "[30 0 R 31 0 R 20 0 R]", 3},
      {"indirect array kept", "<< /Type /Page /Contents 24 0 R >>", "<< >>", 3, "24 0 R", 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TestDoc d;
    d.Add(1, "<< /Type /Pages /Count 1 /Kids [10 0 R] >>");
    d.Add(10, c.page);
    d.AddStream(20, c.lastStreamDict, std::string(c.lastStreamSize, ' '));
    d.AddStream(21, "<< >>", "q Q");
    d.Add(22, "/iSPV");
    d.Add(23, "<< /Not /AStream >>");
    d.Add(24, "[21 0 R 20 0 R]");
    // New objects are numbered from 30.
    for (int n = 25; n < 30; ++n) d.Add(n, "null");
    TPDFPageTree tree(d.Dict(1));
    EXPECT_EQ(tree.GetSelectedPageNumber(), 1);
    EXPECT_EQ(text(d.Dict(10)->GetValue("Contents")), c.contentsAfter);
    EXPECT_EQ(tree.GetContentStreamCount(), c.streams);
    EXPECT_EQ(tree.GetCurrentStreamNumber(), c.streams);
    if (d.objects.count(30) && d.objects[30]->AsStream()) {
      TPDFStream* fresh = d.objects[30]->AsStream();
      const bool markedFresh = c.contentsAfter.find("30 0 R") == c.contentsAfter.size() - 7;
      if (markedFresh) {
        EXPECT_EQ(fresh->GetDictionary()->GetNameValue("LC"), "iSPV");
      }
    }
    // Selecting the page again adds nothing more.
    const size_t objectCount = d.objects.size();
    tree.SelectPage(1);
    EXPECT_EQ(d.objects.size(), objectCount);
    EXPECT_EQ(text(d.Dict(10)->GetValue("Contents")), c.contentsAfter);
  }
}

TEST(PageTreeSelection, PainterWritesIntoTheMarkedStreamOnly) {
  TestDoc d;
  d.Add(1, "<< /Type /Pages /Count 2 /Kids [10 0 R 11 0 R] >>");
  d.Add(10, "<< /Type /Page /Contents 20 0 R >>");
  d.Add(11, "<< /Type /Page /Contents 21 0 R >>");
  d.AddStream(20, "<< /Filter /FlateDecode >>", "not deflated");
  d.AddStream(21, "<< /LC /iSPV >>", "1 0 0 RG");
  TPDFPageTree tree(d.Dict(1));
  TPDFPainter* painter = tree.GetPainter();
  ASSERT_EQ(tree.GetContentStreamCount(), 2);
  painter->SetContent("0 0 m 5 5 l S");
  painter->Changed();
  TPDFStream* target = tree.GetContentStream(2);
  EXPECT_EQ(target->GetData(), "0 0 m 5 5 l S \n");
  EXPECT_EQ(target->GetDictionary()->GetValue("Filter"), nullptr);
  EXPECT_EQ(d.objects[20]->AsStream()->GetData(), "not deflated");  // other producers' content untouched

  // Page 2's marked stream is loaded into the painter.
  tree.SelectPage(2);
  EXPECT_EQ(tree.GetContentStreamCount(), 1);
  EXPECT_EQ(painter->GetContent(), "1 0 0 RG \n");
  EXPECT_EQ(tree.GetContentStreamData(), "1 0 0 RG");
  // Out-of-range selections keep the page.
  tree.SelectPage(0);
  EXPECT_EQ(tree.GetSelectedPageNumber(), 2);
  tree.SelectPage(3);
  EXPECT_EQ(tree.GetSelectedPageNumber(), 2);
}

TEST(PageTreeSelection, WithoutRegistrationNothingOfOthersIsWritten) {
  TestDoc d;
  d.pool.OnGetObjectNumber = nullptr;
  d.Add(1, "<< /Type /Pages /Count 1 /Kids [10 0 R] >>");
  d.Add(10, "<< /Type /Page /Contents 20 0 R >>");
  d.AddStream(20, "<< >>", "BT ET");
  TPDFPageTree tree(d.Dict(1));
  EXPECT_EQ(tree.GetSelectedPageNumber(), 1);
  EXPECT_EQ(tree.GetCurrentStreamNumber(), 0);
  tree.GetPainter()->SetContent("x");
  tree.GetPainter()->Changed();
  EXPECT_EQ(d.objects[20]->AsStream()->GetData(), "BT ET");
}

TEST(PageTreeSelection, EmptyTree) {
  TPDFPageTree tree(nullptr);
  EXPECT_EQ(tree.GetPageCount(), 0);
  EXPECT_EQ(tree.GetSelectedPageNumber(), 0);
  tree.SelectPage(1);
  EXPECT_EQ(tree.GetSelectedPage(), nullptr);
  EXPECT_EQ(tree.GetPageResources(), nullptr);
  EXPECT_EQ(tree.GetPainter()->GetPrecision(), 4);
}

TEST(PageTreeSizes, MediaBoxInheritedDefaultAndSet) {
  TestDoc d;
  d.Add(1, "<< /Type /Pages /Count 3 /Kids [2 0 R 12 0 R] >>");
  d.Add(2, "<< /Type /Pages /Parent 1 0 R /Count 2 /MediaBox [0 0 300 400] /Kids [10 0 R 11 0 R] >>");
  d.Add(10, "<< /Type /Page /Parent 2 0 R >>");
  d.Add(11, "<< /Type /Page /Parent 2 0 R /MediaBox [100 100 500 800] >>");
  d.Add(12, "<< /Type /Page /Parent 1 0 R >>");
  TPDFPageTree tree(d.Dict(1));
  EXPECT_EQ(tree.GetPageWidth(), 300);
  EXPECT_EQ(tree.GetPageHeight(), 400);
  tree.SelectPage(3);
  EXPECT_EQ(tree.GetPageWidth(), 612);
  EXPECT_EQ(tree.GetPageHeight(), 792);
  EXPECT_EQ(text(d.Dict(12)->GetValue("MediaBox")), "[0 0 612 792]");
  tree.SelectPage(2);
  EXPECT_EQ(tree.GetPageHeight(), 700);
  tree.SetPageWidth(210);
  EXPECT_EQ(text(d.Dict(11)->GetValue("MediaBox")), "[0 0 210 700]");
  EXPECT_EQ(text(d.Dict(11)->GetValue("CropBox")), "[0 0 210 700]");
  EXPECT_EQ(tree.GetPageWidth(), 210);
  tree.SetPageHeight(297);
  EXPECT_EQ(text(d.Dict(11)->GetValue("MediaBox")), "[0 0 210 297]");
}

TEST(PageTreeSizes, DefaultFromRootAndParentLoop) {
  TestDoc d;
  d.Add(1, "<< /Type /Pages /Count 1 /MediaBox [0 0 200 /X] /Kids [10 0 R] >>");
  d.Add(10, "<< /Type /Page /Parent 11 0 R >>");
  d.Add(11, "<< /Type /Pages /Parent 10 0 R >>");  // Parent chain loops back
  TPDFPageTree tree(d.Dict(1));
  EXPECT_EQ(tree.GetPageWidth(), 200);
  EXPECT_EQ(tree.GetPageHeight(), 0);
  EXPECT_EQ(TPDFPageTree::GetPageBox(d.Dict(10), "CropBox"), std::nullopt);
  EXPECT_EQ(TPDFPageTree::GetPageRotate(d.Dict(10)), 0);
}

TEST(PageTreeAttributes, InheritedBoxesRotateAndResources) {
  TestDoc d;
  d.Add(1, "<< /Type /Pages /Count 2 /Rotate -90 /Resources << /Font << >> >> /CropBox [10 20 5 8] "
           "/Kids [10 0 R 11 0 R] >>");
  d.Add(10, "<< /Type /Page /Parent 1 0 R /MediaBox [0 0 100 200] /Rotate 45 /TrimBox [1 1 2 2] >>");
  d.Add(11, "<< /Type /Page /Parent 1 0 R /MediaBox [0 0 100 200] /Resources 12 0 R >>");
  d.Add(12, "<< /XObject << >> >>");
  TPDFDictionary* p1 = d.Dict(10);
  TPDFDictionary* p2 = d.Dict(11);
  EXPECT_EQ(TPDFPageTree::GetPageRotate(p1), 0);    // 45 is not a quarter turn
  EXPECT_EQ(TPDFPageTree::GetPageRotate(p2), 270);  // -90 inherited
  auto crop = TPDFPageTree::GetPageBox(p1, "CropBox");
  ASSERT_TRUE(crop);
  EXPECT_EQ(*crop, (std::array<double, 4>{5, 8, 10, 20}));
  EXPECT_TRUE(TPDFPageTree::GetPageBox(p1, "TrimBox"));
  EXPECT_FALSE(TPDFPageTree::GetPageBox(p2, "TrimBox"));  // not inheritable
  EXPECT_EQ(TPDFPageTree::GetInheritedResources(p1), d.Dict(1)->GetDictionary("Resources"));
  EXPECT_EQ(TPDFPageTree::GetInheritedResources(p2), d.Dict(12));

  // Resources for writing: page 1 has none of its own and gets its parent's,
  // so a resource registered there is shared.
  TPDFPageTree tree(d.Dict(1));
  TPDFDictionary* res = tree.GetPageResources();
  EXPECT_EQ(res, d.Dict(1)->GetDictionary("Resources"));
  res->SetValue("ExtGState", d.pool.NewDictionary());
  EXPECT_NE(d.Dict(1)->GetDictionary("Resources")->GetValue("ExtGState"), nullptr);
  tree.SelectPage(2);
  EXPECT_EQ(tree.GetPageResources(), d.Dict(12));
}

TEST(PageTreeAttributes, ResourcesCreatedOrReplaced) {
  TestDoc d;
  d.Add(1, "<< /Type /Pages /Count 2 /Kids [10 0 R 11 0 R] >>");
  d.Add(10, "<< /Type /Page >>");
  d.Add(11, "<< /Type /Page /Resources 5 >>");
  TPDFPageTree tree(d.Dict(1));
  TPDFDictionary* res = tree.GetPageResources();
  ASSERT_NE(res, nullptr);
  EXPECT_EQ(d.Dict(10)->GetValue("Resources"), res);
  tree.SelectPage(2);
  res = tree.GetPageResources();
  ASSERT_NE(res, nullptr);
  EXPECT_EQ(d.Dict(11)->GetValue("Resources"), res);
  // Thumb and the selected page's reference.
  tree.SetThumb(d.pool.NewDictionary());
  EXPECT_NE(d.Dict(11)->GetValue("Thumb"), nullptr);
  TPDFIndRef* ref = tree.GetSelectedPageRef();
  ASSERT_NE(ref, nullptr);
  EXPECT_EQ(ref->GetRefNumber(), 11);
}

}  // namespace
