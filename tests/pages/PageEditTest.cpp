// Page editing on small trees built by the tests: insertion at every kind
// of place in a nested tree, deletion that keeps what other pages still
// use, joining of content streams shared between pages, inherited
// attributes, resource registration and the annotations the tree writes.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "objects/PavonaStructure.h"
#include "NumberedPool.h"
#include "pages/PavonaPageTree.h"

namespace {

// A numbered pool whose trailer names the root.
class EditDoc : public pagetest::NumberedPool {
public:
  // A tree over root object 1 whose trailer is the given catalogue text.
  std::unique_ptr<TPDFPageTree> Tree(const std::string& trailer = "<< /Root 100 0 R >>") {
    if (!objects.count(100)) Add(100, "<< /Type /Catalog /Pages 1 0 R >>");
    trailer_ = pool.ParseObject(trailer);
    auto tree = std::make_unique<TPDFPageTree>(Dict(1), 100000);
    tree->OnDocumentTrailer = [this]() { return trailer_; };
    return tree;
  }

private:
  TPDFObject* trailer_ = nullptr;
};

// Root 1 -> node 2 (pages 10, 11) and node 3 (node 4 (pages 12, 13), page 14).
void buildNested(EditDoc& d) {
  d.Add(1, "<< /Type /Pages /Count 5 /Kids [2 0 R 3 0 R] >>");
  d.Add(2, "<< /Type /Pages /Parent 1 0 R /Count 2 /Kids [10 0 R 11 0 R] >>");
  d.Add(3, "<< /Type /Pages /Parent 1 0 R /Count 3 /Kids [4 0 R 14 0 R] >>");
  d.Add(4, "<< /Type /Pages /Parent 3 0 R /Count 2 /Kids [12 0 R 13 0 R] >>");
  for (int n = 10; n <= 11; ++n) d.Add(n, "<< /Type /Page /Parent 2 0 R >>");
  for (int n = 12; n <= 13; ++n) d.Add(n, "<< /Type /Page /Parent 4 0 R >>");
  d.Add(14, "<< /Type /Page /Parent 3 0 R >>");
}

std::vector<int32_t> pageOrder(TPDFPageTree& tree) {
  std::vector<int32_t> out;
  for (int32_t n = 1; n <= tree.GetPageCount(); ++n) {
    TPDFDictionary* p = tree.FindPage(n);
    out.push_back(p ? p->GetObjectNumber() : 0);
  }
  return out;
}

// PDF text on one line with single spaces.
std::string flat(TPDFObject* obj) {
  std::string out;
  for (char c : obj ? obj->WriteText() : std::string("<none>")) {
    if (c == '\n') c = ' ';
    if (c == ' ' && (out.empty() || out.back() == ' ')) continue;
    out += c;
  }
  while (!out.empty() && out.back() == ' ') out.pop_back();
  return out;
}

int64_t countOf(EditDoc& d, int32_t node) {
  return d.Dict(node)->GetInteger("Count", -1);
}

TEST(PageEditInsert, FirstMiddleAndLastPlacesOfANestedTree) {
  struct Case {
    const char* name;
    int32_t position;
    int32_t count;
    int32_t holder;                     // node whose Kids receive the pages
    std::vector<int32_t> before;        // old pages before the new ones, in order
    std::map<int32_t, int64_t> counts;  // Count of nodes afterwards
  };
  const std::vector<Case> cases = {
      {"front of the root even though page 1 is deeper", 1, 2, 1, {}, {{1, 7}, {2, 2}, {3, 3}, {4, 2}}},
      {"after page 4, inside its own node", 5, 3, 4, {10, 11, 12, 13}, {{1, 8}, {2, 2}, {3, 6}, {4, 5}}},
      {"after the last page: end of the root", 6, 1, 1, {10, 11, 12, 13, 14}, {{1, 6}, {2, 2}, {3, 3}, {4, 2}}},
      {"after page 1", 2, 1, 2, {10}, {{1, 6}, {2, 3}, {3, 3}, {4, 2}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EditDoc d;
    buildNested(d);
    auto tree = d.Tree();
    const int32_t firstNew = static_cast<int32_t>(d.objects.rbegin()->first) + 1;
    tree->InsertPages(c.position, c.count, 300, 400);
    EXPECT_EQ(tree->GetPageCount(), 5 + c.count);
    for (const auto& [node, count] : c.counts) EXPECT_EQ(countOf(d, node), count) << "node " << node;
    const std::vector<int32_t> order = pageOrder(*tree);
    ASSERT_EQ(order.size(), size_t(5 + c.count));
    // Old pages keep their order around the new ones.
    std::vector<int32_t> old;
    for (int32_t n : order)
      if (n < firstNew) old.push_back(n);
    EXPECT_EQ(old, (std::vector<int32_t>{10, 11, 12, 13, 14}));
    for (size_t i = 0; i < c.before.size(); ++i) EXPECT_EQ(order[i], c.before[i]);
    for (int32_t k = 0; k < c.count; ++k) {
      TPDFDictionary* page = tree->FindPage(c.position + k);
      ASSERT_NE(page, nullptr);
      EXPECT_GE(page->GetObjectNumber(), firstNew) << "page " << c.position + k << " is new";
      TPDFIndRef* parent = PDFAsIndRef(page->GetValue("Parent"));
      ASSERT_NE(parent, nullptr);
      EXPECT_EQ(parent->GetRefNumber(), c.holder);
      EXPECT_EQ(PDFAsArray(page->GetValue("MediaBox"))->WriteText(), "[ 0 0 300 400 ]");
      TPDFArray* contents = PDFAsArray(page->GetValue("Contents"));
      ASSERT_NE(contents, nullptr);
      TPDFStream* s = PDFAsStream(PDFResolve(contents->GetItem(0)));
      ASSERT_NE(s, nullptr);
      EXPECT_EQ(s->GetDictionary()->GetNameValue("LC"), "iSPV");
    }
    EXPECT_EQ(tree->GetSelectedPageNumber(), c.position);
  }
}

TEST(PageEditInsert, PlacesOutsideTheDocumentInsertNothing) {
  EditDoc d;
  buildNested(d);
  auto tree = d.Tree();
  for (int32_t position : {0, -3, 7, 100}) {
    tree->InsertPages(position, 2, 100, 100);
    EXPECT_EQ(tree->GetPageCount(), 5) << position;
  }
  EXPECT_EQ(countOf(d, 1), 5);
}

TEST(PageEditDelete, RangesLeaveTheRestInOrderWithCountsUpTheChain) {
  struct Case {
    int32_t first, count;
    std::vector<int32_t> left;
    std::map<int32_t, int64_t> counts;
  };
  const std::vector<Case> cases = {
      {1, 1, {11, 12, 13, 14}, {{1, 4}, {2, 1}, {3, 3}, {4, 2}}},
      {2, 3, {10, 14}, {{1, 2}, {2, 1}, {3, 1}, {4, 0}}},
      {4, 10, {10, 11, 12}, {{1, 3}, {2, 2}, {3, 1}, {4, 1}}},
      {1, 5, {}, {{1, 0}, {2, 0}, {3, 0}, {4, 0}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.first) + "+" + std::to_string(c.count));
    EditDoc d;
    buildNested(d);
    auto tree = d.Tree();
    tree->DeletePages(c.first, c.count);
    EXPECT_EQ(pageOrder(*tree), c.left);
    for (const auto& [node, count] : c.counts) EXPECT_EQ(countOf(d, node), count) << "node " << node;
    if (c.left.empty()) {
      EXPECT_EQ(tree->GetSelectedPage(), nullptr);
    } else {
      EXPECT_NE(tree->GetSelectedPage(), nullptr);
    }
  }
}

// Pages 10, 11 and 12: 10 and 11 draw the same form (which draws image 30)
// and share content stream 40; 10 alone uses image 31 and font file 33;
// page 12 uses image 32 only in its annotation's appearance, and the form
// resources of the catalogue's AcroForm name font file 34.
void buildShared(EditDoc& d) {
  d.Add(1, "<< /Type /Pages /Count 3 /Kids [10 0 R 11 0 R 12 0 R] >>");
  d.Add(10,
        "<< /Type /Page /Parent 1 0 R /Contents [40 0 R 41 0 R] /Resources << /XObject << /Fm 20 0 R /Only 31 0 R >> "
        "/Font << /F1 50 0 R /F2 51 0 R >> >> >>");
  d.Add(11, "<< /Type /Page /Parent 1 0 R /Contents 40 0 R /Resources << /XObject << /Fm 20 0 R >> >> >>");
  d.Add(12, "<< /Type /Page /Parent 1 0 R /Contents 42 0 R /Annots [60 0 R] >>");
  d.AddStream(20, "<< /Type /XObject /Subtype /Form /BBox [0 0 1 1] /Resources << /XObject << /Im 30 0 R >> >> >>",
              "/Im Do");
  for (int n = 30; n <= 32; ++n)
    d.AddStream(n,
                "<< /Type /XObject /Subtype /Image /Width 1 /Height 1 /ColorSpace /DeviceGray /BitsPerComponent 8 >>",
                std::string(1, char(n)));
  d.AddStream(33, "<< >>", "font program of F1");
  d.AddStream(34, "<< >>", "font program of F2");
  d.Add(50, "<< /Type /Font /Subtype /TrueType /FontDescriptor 52 0 R >>");
  d.Add(52, "<< /Type /FontDescriptor /FontFile2 33 0 R >>");
  d.Add(51, "<< /Type /Font /Subtype /TrueType /FontDescriptor 53 0 R >>");
  d.Add(53, "<< /Type /FontDescriptor /FontFile2 34 0 R >>");
  d.AddStream(40, "<< >>", "shared content");
  d.AddStream(41, "<< >>", "own content");
  d.AddStream(42, "<< >>", "page 12 content");
  d.Add(60, "<< /Type /Annot /Subtype /Square /Rect [0 0 1 1] /AP << /N 61 0 R >> >>");
  d.AddStream(61, "<< /Subtype /Form /BBox [0 0 1 1] /Resources << /XObject << /I 32 0 R >> >> >>", "/I Do");
  d.Add(100, "<< /Type /Catalog /Pages 1 0 R /AcroForm << /DR << /Font << /Helv 51 0 R >> >> >> >>");
}

TEST(PageEditDelete, OnlyWhatNoRemainingPartReachesIsEmptied) {
  EditDoc d;
  buildShared(d);
  auto tree = d.Tree();
  tree->DeletePages(1, 1);
  EXPECT_EQ(pageOrder(*tree), (std::vector<int32_t>{11, 12}));
  // Used only by the deleted page: emptied.
  EXPECT_EQ(d.Stream(31)->GetDecodedData(), "123");
  EXPECT_EQ(d.Stream(33)->GetDecodedData(), "123");
  EXPECT_EQ(d.Stream(41)->GetDecodedData(), "");
  // Still reached by page 11 (through the form), by the AcroForm's /DR, or
  // shared content: untouched.
  EXPECT_EQ(d.Stream(30)->GetDecodedData(), std::string(1, char(30)));
  EXPECT_EQ(d.Stream(20)->GetDecodedData(), "/Im Do");
  EXPECT_EQ(d.Stream(34)->GetDecodedData(), "font program of F2");
  EXPECT_EQ(d.Stream(40)->GetDecodedData(), "shared content");
  // Other pages were not rewritten by the deletion.
  EXPECT_EQ(d.Dict(12)->GetValue("Contents")->WriteText(), "42 0 R");
}

TEST(PageEditDelete, AppearancesOfRemovedPagesAreReleasedButNotSharedOnes) {
  EditDoc d;
  buildShared(d);
  auto tree = d.Tree();
  tree->DeletePages(3, 1);
  EXPECT_EQ(d.Stream(32)->GetDecodedData(), "123");
  EXPECT_EQ(d.Stream(42)->GetDecodedData(), "");
  EXPECT_EQ(d.Stream(30)->GetDecodedData(), std::string(1, char(30)));
}

TEST(PageEditDelete, APageStillNamedByAnOutlineKeepsItsResources) {
  EditDoc d;
  buildShared(d);
  d.Add(100, "<< /Type /Catalog /Pages 1 0 R /Outlines << /First << /Dest [10 0 R /Fit] >> >> >>");
  auto tree = d.Tree();
  tree->DeletePages(1, 1);
  EXPECT_EQ(d.Stream(31)->GetDecodedData(), std::string(1, char(31)));
  EXPECT_EQ(d.Stream(41)->GetDecodedData(), "") << "the content of a deleted page is shown nowhere";
}

TEST(PageEditWrap, StreamsSharedWithOtherPagesAreNeverWiped) {
  EditDoc d;
  buildShared(d);
  auto tree = d.Tree();
  tree->SelectPage(1);
  const int32_t selectedStreams = tree->GetContentStreamCount();
  EXPECT_GE(selectedStreams, 2);
  ASSERT_TRUE(tree->WrapPageContents());
  EXPECT_EQ(d.Stream(40)->GetDecodedData(), "shared content") << "page 11 still shows it";
  EXPECT_EQ(d.Stream(41)->GetDecodedData(), "");
  TPDFArray* contents = PDFAsArray(d.Dict(10)->GetValue("Contents", true));
  ASSERT_NE(contents, nullptr);
  ASSERT_EQ(contents->GetCount(), 1);
  TPDFStream* joined = PDFAsStream(PDFResolve(contents->GetItem(0)));
  ASSERT_NE(joined, nullptr);
  EXPECT_NE(joined, d.Stream(40));
  const std::string text = joined->GetDecodedData();
  EXPECT_EQ(text.substr(0, 2), "q\n");
  EXPECT_NE(text.find("shared content"), std::string::npos);
  EXPECT_NE(text.find("own content"), std::string::npos);
  EXPECT_EQ(text.substr(text.size() - 3), "\nQ\n");
  EXPECT_EQ(joined->GetDictionary()->GetNameValue("LC"), "iSPV");
}

TEST(PageEditWrap, ContentsThatAreNotAnArrayAreRefused) {
  EditDoc d;
  d.Add(1, "<< /Type /Pages /Count 1 /Kids [10 0 R] >>");
  d.Add(10, "<< /Type /Page /Parent 1 0 R /Contents 5 >>");
  auto tree = d.Tree();
  EXPECT_FALSE(tree->WrapPageContents());
}

TEST(PageEditAttributes, InheritedValuesAreCopiedAndDefaultsFilled) {
  EditDoc d;
  d.Add(1, "<< /Type /Pages /Count 1 /Kids [2 0 R] /Rotate 90 /Resources << /Font << /F 9 0 R >> >> >>");
  d.Add(2, "<< /Type /Pages /Parent 1 0 R /Count 1 /Kids [10 0 R] /MediaBox [0 0 200 300] >>");
  d.Add(10, "<< /Type /Page /Parent 2 0 R >>");
  auto tree = d.Tree();
  tree->SelectPage(1);
  tree->CopyInheritedAttributes(true);
  TPDFDictionary* page = d.Dict(10);
  EXPECT_EQ(page->GetValue("MediaBox")->WriteText(), "[ 0 0 200 300 ]");
  EXPECT_EQ(page->GetValue("CropBox")->WriteText(), "[ 0 0 200 300 ]");
  EXPECT_EQ(page->GetValue("ArtBox")->WriteText(), "[ 0 0 200 300 ]");
  EXPECT_EQ(page->GetInteger("Rotate", -1), 90);
  TPDFDictionary* resources = PDFAsDictionary(page->GetValue("Resources"));
  ASSERT_NE(resources, nullptr);
  EXPECT_NE(resources, d.Dict(1)->GetValue("Resources", true)) << "a copy, not the parent's own";
  EXPECT_EQ(resources->GetDictionary("Font")->GetValue("F")->WriteText(), "9 0 R");
}

TEST(PageEditResources, SameNameSameReferenceIsKeptAnotherReferenceReplaces) {
  EditDoc d;
  d.Add(1, "<< /Type /Pages /Count 1 /Kids [10 0 R] >>");
  d.Add(10, "<< /Type /Page /Parent 1 0 R /Resources << /ExtGState 11 0 R /Pattern 5 >> >>");
  d.Add(11, "<< /GS1 20 0 R /Keep << /CA 1 >> >>");
  auto tree = d.Tree();
  tree->SelectPage(1);
  TPDFIndRef* same = d.pool.NewIndRef(20, 0);
  TPDFIndRef* other = d.pool.NewIndRef(21, 0);
  TPDFObject* before = d.Dict(11)->GetValue("GS1");
  tree->AddExtGStateResource("GS1", same);
  EXPECT_EQ(d.Dict(11)->GetValue("GS1"), before) << "left alone";
  tree->AddExtGStateResource("GS1", other);
  EXPECT_EQ(d.Dict(11)->GetValue("GS1")->WriteText(), "21 0 R");
  tree->AddExtGStateResource("Keep", other);
  EXPECT_EQ(flat(d.Dict(11)->GetValue("Keep")), "<< /CA 1 >>");
  // A category that is not a dictionary is replaced by one.
  tree->AddPatternResource("P0", other);
  TPDFDictionary* resources = PDFAsDictionary(d.Dict(10)->GetValue("Resources"));
  EXPECT_EQ(flat(resources->GetValue("Pattern")), "<< /P0 21 0 R >>");
}

TEST(PageEditAnnotations, NotesLinksAndAttachmentsAsWritten) {
  EditDoc d;
  d.Add(1, "<< /Type /Pages /Count 2 /Kids [10 0 R 11 0 R] >>");
  d.Add(10, "<< /Type /Page /Parent 1 0 R /Annots 5 >>");
  d.Add(11, "<< /Type /Page /Parent 1 0 R >>");
  auto tree = d.Tree();
  tree->SelectPage(1);

  struct NoteCase {
    int32_t icon;
    const char* name;
    const char* rect;
    bool dated;
  };
  for (const NoteCase& c :
       {NoteCase{103, "Insert", "[ 10 86 24 100 ]", false}, NoteCase{9, "Note", "[ 10 76 30 100 ]", true},
        NoteCase{-1, "Note", "[ 10 76 30 100 ]", true}, NoteCase{4, "Key", "[ 10 84 36 100 ]", true}}) {
    SCOPED_TRACE(c.icon);
    TPDFIndRef* ref =
        tree->AddNoteAnnotation(c.icon, u"Title \u0416", true, 1, 0, 0, u"Text", 10, 100, 50, 200, 80, 60);
    ASSERT_NE(ref, nullptr);
    TPDFDictionary* note = d.Dict(ref->GetRefNumber());
    EXPECT_EQ(note->GetNameValue("Name"), c.name);
    EXPECT_EQ(note->GetValue("Rect")->WriteText(), c.rect);
    EXPECT_EQ(note->GetValue("M") != nullptr, c.dated);
    EXPECT_EQ(PDFAsString(note->GetValue("T"))->GetText(), u"Title \u0416");
    TPDFDictionary* popup = PDFAsDictionary(note->GetValue("Popup", true));
    ASSERT_NE(popup, nullptr);
    EXPECT_EQ(popup->GetValue("Rect")->WriteText(), "[ 50 140 130 200 ]");
    EXPECT_EQ(popup->GetValue("Parent")->WriteText(), ref->WriteText());
  }
  TPDFArray* annots = PDFAsArray(d.Dict(10)->GetValue("Annots", true));
  ASSERT_NE(annots, nullptr) << "a non-array Annots is replaced";
  EXPECT_EQ(annots->GetCount(), 8) << "each note and its popup";

  EXPECT_EQ(tree->AddLinkToPage(3, true, 0, 50, 10, 10, 700), nullptr) << "no page 3";
  TPDFIndRef* link = tree->AddLinkToPage(2, true, 0, 50, 10, 10, 700);
  ASSERT_NE(link, nullptr);
  EXPECT_EQ(flat(d.Dict(link->GetRefNumber())->GetValue("A")),
            "<< /Type /Action /S /GoTo /D [ 11 0 R /XYZ 0 700 0 ] >>");
  EXPECT_EQ(d.Dict(link->GetRefNumber())->GetValue("Rect")->WriteText(), "[ 0 50 10 40 ]");
  EXPECT_EQ(d.Dict(link->GetRefNumber())->GetValue("Border")->WriteText(), "[ 0 0 1 ]");

  TPDFIndRef* web = tree->AddLinkToWeb("https://example.org/%C3%A9", false, 1, 2, 3, 4);
  ASSERT_NE(web, nullptr);
  EXPECT_EQ(d.Dict(web->GetRefNumber())->GetDictionary("A")->GetString("URI")->GetValue(),
            "https://example.org/%C3%A9");

  d.Add(70, "<< /Type /Filespec /F (a.txt) >>");
  const std::string contents = std::string("\xFE\xFF\x04\x16\x00!", 6);
  TPDFIndRef* attached = tree->AddFileAttachmentAnnotation(d.pool.NewIndRef(70, 0), contents, true, 5, 50, 20, 20);
  ASSERT_NE(attached, nullptr);
  TPDFDictionary* fa = d.Dict(attached->GetRefNumber());
  EXPECT_EQ(fa->GetString("Contents")->GetValue(), contents) << "a Unicode text string keeps its characters";
  EXPECT_EQ(fa->GetValue("FS")->WriteText(), "70 0 R");
  TPDFDictionary* ap = fa->GetDictionary("AP");
  ASSERT_NE(ap, nullptr);
  TPDFStream* icon = PDFAsStream(ap->GetValue("N", true));
  ASSERT_NE(icon, nullptr);
  EXPECT_EQ(icon->GetDecodedData().rfind("q 10 0 0 10 0 0 cm BI /W 28 /H 28 /CS /RGB /BPC 8 /F [ /AHx /Fl ] ID ", 0),
            0u);
  EXPECT_EQ(ap->GetValue("D")->WriteText(), ap->GetValue("N")->WriteText());

  // A widget is added once.
  const int32_t before = annots->GetCount();
  tree->AddFieldToPage(d.pool.NewIndRef(80, 0));
  tree->AddFieldToPage(d.pool.NewIndRef(80, 0));
  EXPECT_EQ(annots->GetCount(), before + 1);
}

TEST(PageEditAnnotations, NothingWithoutAWayToRegisterObjects) {
  EditDoc d;
  d.Add(1, "<< /Type /Pages /Count 1 /Kids [10 0 R] >>");
  d.Add(10, "<< /Type /Page /Parent 1 0 R /Contents [] >>");
  auto tree = d.Tree();
  d.pool.OnGetObjectNumber = nullptr;
  EXPECT_EQ(tree->AddLinkToWeb("x", true, 0, 0, 1, 1), nullptr);
  EXPECT_EQ(tree->AddNoteAnnotation(0, u"", false, 0, 0, 0, u"", 0, 0, 0, 0, 1, 1), nullptr);
  tree->InsertPages(1, 1, 10, 10);
  EXPECT_EQ(tree->GetPageCount(), 1);
  EXPECT_EQ(d.Dict(10)->GetValue("Annots"), nullptr);
}

}  // namespace
