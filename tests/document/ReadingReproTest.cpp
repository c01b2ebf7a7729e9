// Files from public test suites that the peer readers open and this reader
// refused or read short (../shared/repro/reading, beside the corpus): each
// opens with the page count qpdf gives, and every page it counts is found.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

#include "DocumentTestFiles.h"
#include "DocumentTestSupport.h"
#include "LoadedDocument.h"
#include "TestSupport.h"

namespace {

std::string ReproPath(const std::string& name) {
  return pvltest::CorpusDir() + "/../repro/reading/" + name;
}

using pvltest::PageContent;
using pvltest::TLoadedDocument;

TLoadedDocument Load(const std::string& path, std::u16string_view password = u"") {
  return pvltest::LoadDocument(pvltest::ReadFile(path), password);
}

}  // namespace

// Each file with the page count qpdf gives for it (and its password where
// it has one); the count is what the tree delivers: every page is found.
TEST(ReadingReproTest, FilesOpenWithThePeersPageCount) {
  struct Case {
    const char* file;
    const char16_t* password;
    int32_t pages;
    const char* text;  // in the first page's content, when the file has some to check
  };
  const Case cases[] = {
      // An entry names object stream 1, whose Type is not ObjStm.
      {"objstm-entry-not-a-stream.pdf", u"", 1, "(Potato) Tj"},
      // The object stream lists its own number first; entries' indexes
      // count without it.
      {"objstm-lists-itself.pdf", u"", 1, "(Potato) Tj"},
      // 65,542 objects in one stream; the 2-byte index field wraps.
      {"large-object-streams.pdf", u"", 1, nullptr},
      {"xref-size-too-large.pdf", u"", 1, "(Potato) Tj"},
      // "/X 1 0 R 0 R" in the catalogue: the stray " 0 R" hid /Pages.
      {"dictionary-with-stray-tokens.pdf", u"", 1, "(Potato) Tj"},
      {"xref-stream-no-length-no-header.pdf", u"", 1, nullptr},
      // The page tree's object is not at its table offset.
      {"damaged-object-offset.pdf", u"", 1, "(Potato) Tj"},
      // 108 nested nodes ending in a node that is its own kid: no page is
      // reached, so the page object of the file is the page.
      {"deep-page-tree-with-loop.pdf", u"", 1, nullptr},
      {"direct-page-dictionaries.pdf", u"", 2, "(Potato) Tj"},
      // Offsets and Length wrong: the objects are found where they are.
      {"wrong-length-and-offsets.pdf", u"", 1, "(Hello, world!) Tj"},
      {"page-listed-twice.pdf", u"", 2, nullptr},
      {"page-listed-twice-2.pdf", u"", 3, nullptr},
      // AES-256 with Identity filters for streams and strings.
      {"r6-crypt-filter-pw-asdfqwer.pdf", u"asdfqwer", 1, "(Potato) Tj"},
      {"r6-unfilterable-pw-attachment.pdf", u"attachment", 30, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    const std::string path = ReproPath(c.file);
    if (!std::filesystem::exists(path)) GTEST_SKIP() << "no repro folder beside the corpus: " << path;
    TLoadedDocument l = Load(path, c.password);
    ASSERT_EQ(l.result, TPDFDocument::kLoadOk);
    TPDFPageTree* tree = l.doc->GetPageTree();
    ASSERT_EQ(tree->GetPageCount(), c.pages);
    for (int32_t n = 1; n <= c.pages; ++n) EXPECT_NE(tree->FindPage(n), nullptr) << "page " << n;
    EXPECT_EQ(tree->GetPageCount(), c.pages);
    if (c.text) {
      EXPECT_NE(PageContent(*l.doc, 1).find(c.text), std::string::npos) << PageContent(*l.doc, 1);
    }
  }
}

// The R6 files have a user password: without it they do not open, and a
// wrong one is refused too; the embedded file, whose own Crypt filter
// names StdCF, is decrypted while the Identity streams stay as written.
TEST(ReadingReproTest, AES256WithIdentityFiltersNeedsItsPassword) {
  for (const char* file : {"r6-crypt-filter-pw-asdfqwer.pdf", "r6-unfilterable-pw-attachment.pdf"}) {
    SCOPED_TRACE(file);
    const std::string path = ReproPath(file);
    if (!std::filesystem::exists(path)) GTEST_SKIP() << "no repro folder beside the corpus: " << path;
    EXPECT_EQ(Load(path).result, TPDFDocument::kLoadWrongPassword);
    EXPECT_EQ(Load(path, u"not it").result, TPDFDocument::kLoadWrongPassword);
  }
  const std::string path = ReproPath("r6-unfilterable-pw-attachment.pdf");
  if (!std::filesystem::exists(path) || !pvltest::HaveTool("qpdf")) GTEST_SKIP() << "needs qpdf and the repro folder";
  TLoadedDocument l = Load(path, u"attachment");
  ASSERT_EQ(l.result, TPDFDocument::kLoadOk);
  // qpdf's decoded attachment is the oracle.
  pvltest::CommandResult listed = pvltest::RunCommand({"qpdf", "--password=attachment", "--list-attachments", path});
  ASSERT_EQ(listed.exitCode, 0) << listed.err;
  // "attachment1.txt -> 60,0": the name, then the stream's object number.
  const std::string line = listed.out.substr(0, listed.out.find('\n'));
  const size_t arrow = line.find(" -> ");
  ASSERT_NE(arrow, std::string::npos) << line;
  const int32_t number = std::stoi(line.substr(arrow + 4));
  pvltest::CommandResult shown =
      pvltest::RunCommand({"qpdf", "--password=attachment", "--show-attachment=" + line.substr(0, arrow), path});
  ASSERT_EQ(shown.exitCode, 0) << shown.err;
  TPDFStream* file = PDFAsStream(l.doc->LookupObject(number));
  ASSERT_NE(file, nullptr);
  // Its filters are /Crypt /ZlateDecode (no such filter): the decrypted
  // data are what qpdf shows.
  EXPECT_EQ(file->GetData(), shown.out);
}

// The driver's raw listings open a file as the document does: the
// headerless file whose cross-reference stream lacks its Length gives the
// table qpdf reads from it, and its objects and streams.
TEST(ReadingReproTest, TheDriverReadsTheHeaderlessFileAsQpdfDoes) {
  if (!pvltest::HaveTool("qpdf")) GTEST_SKIP() << "qpdf is missing";
  const std::string path = ReproPath("xref-stream-no-length-no-header.pdf");
  if (!std::filesystem::exists(path)) GTEST_SKIP() << "no repro folder beside the corpus: " << path;
  // qpdf's "N/G: uncompressed; offset = O" and "N/G: compressed; stream = S,
  // index = I" lines in the driver's form.
  const std::string shown = pvltest::RunCommand({"qpdf", "--show-xref", path}).out;
  std::string table;
  const std::regex line(R"((\d+)/(\d+): (?:uncompressed; offset = (\d+)|compressed; stream = (\d+), index = (\d+)))");
  for (std::sregex_iterator it(shown.begin(), shown.end(), line), end; it != end; ++it) {
    const std::smatch& m = *it;
    table += m[1].str() + " " + m[2].str() +
             (m[3].matched ? " n " + m[3].str() : " o " + m[4].str() + " " + m[5].str()) + "\n";
  }
  ASSERT_FALSE(table.empty()) << shown;
  const pvltest::CommandResult xref = pvltest::RunCommand({pvldoc::PvlPath(), "xref", path});
  ASSERT_EQ(xref.exitCode, 0) << xref.err;
  EXPECT_EQ(xref.out, table);
  // Object stream 16 is known only from the damaged cross-reference stream.
  const pvltest::CommandResult stream = pvltest::RunCommand({pvldoc::PvlPath(), "stream", path, "16"});
  ASSERT_EQ(stream.exitCode, 0) << stream.err;
  EXPECT_EQ(stream.out, pvltest::RunCommand({"qpdf", "--show-object=16", "--filtered-stream-data", path}).out);
  const pvltest::CommandResult catalog = pvltest::RunCommand({pvldoc::PvlPath(), "object", path, "14"});
  ASSERT_EQ(catalog.exitCode, 0) << catalog.err;
  EXPECT_NE(catalog.out.find("/Pages 11 0 R"), std::string::npos) << catalog.out;
  for (const char* command : {"dump", "objects"})
    EXPECT_EQ(pvltest::RunCommand({pvldoc::PvlPath(), command, path}).exitCode, 0) << command;
  EXPECT_EQ(pvltest::RunCommand({pvldoc::PvlPath(), "npages", path}).out,
            pvltest::RunCommand({"qpdf", "--show-npages", path}).out);
}

// Stray values where a key belongs are passed over; a dictionary that is
// not closed still ends at the keyword after it.
TEST(ReadingReproTest, DictionaryWithStrayTokensKeepsLaterKeys) {
  TPDFStructure pool;
  TPDFDictionary* d = PDFAsDictionary(pool.ParseObject("<< /X 1 0 R 0 R /Pages 2 0 R 7 (s) /Type /Catalog >>"));
  ASSERT_NE(d, nullptr);
  EXPECT_NE(PDFAsIndRef(d->GetValue("Pages")), nullptr);
  EXPECT_EQ(d->GetNameValue("Type"), "Catalog");
  size_t consumed = 0;
  TPDFDictionary* open = PDFAsDictionary(pool.ParseObjectEx("<< /A 1 endobj 2 0 obj << /B 2 >>", consumed));
  ASSERT_NE(open, nullptr);
  EXPECT_EQ(open->GetValue("B"), nullptr);
}

// A file cut at a quarter, half and three quarters of its length: as many
// pages as mutool lists, and the document says it was repaired. (These
// files keep whole page objects before each cut; where mutool lists the
// pages of a surviving Count whose objects are gone, this reader lists
// only the pages that survive.)
TEST(ReadingReproTest, CutFilesShowThePagesThatSurvive) {
  if (!pvltest::HaveTool("mutool")) GTEST_SKIP() << "mutool is missing";
  for (const char* file :
       {"samples/mistitled_outlines_example.pdf", "pdfjs/poppler-90-0-fuzzed.pdf", "pdfjs/vertical.pdf"}) {
    const std::string whole = pvltest::ReadFile(pvltest::CorpusPath(file));
    for (int percent : {25, 50, 75}) {
      SCOPED_TRACE(std::string(file) + " cut at " + std::to_string(percent) + " %");
      const std::string cut = whole.substr(0, whole.size() * static_cast<size_t>(percent) / 100);
      pvltest::TempDir dir;
      pvltest::WriteFile(dir.File("cut.pdf"), cut);
      const pvltest::CommandResult info = pvltest::RunCommand({"mutool", "info", dir.File("cut.pdf")});
      const size_t at = info.out.find("\nPages: ");
      TPDFDocument doc;
      const int32_t result = doc.LoadFromString(cut, u"");
      if (at == std::string::npos) {
        // mutool cannot read it either.
        EXPECT_EQ(result, TPDFDocument::kLoadUnreadable);
        EXPECT_FALSE(doc.GetFailure().empty());
        continue;
      }
      const int32_t expected = std::stoi(info.out.substr(at + 8));
      ASSERT_EQ(result, TPDFDocument::kLoadOk);
      EXPECT_EQ(doc.GetPageTree()->GetPageCount(), expected);
      EXPECT_TRUE(doc.WasReconstructed());
    }
  }
}

// A stream that cannot be read, as a device that fails under the reader.
class TUnreadableStream : public TMemoryStream {
public:
  int64_t Read(void*, int64_t) override { throw EReadError("the device does not answer"); }
};

// Every refused load says why in the document's failure, the cause of this
// load and not one left over from the load before it.
TEST(ReadingReproTest, RefusedLoadsSayWhy) {
  TPDFDocument doc;
  EXPECT_EQ(doc.LoadFromString("", u""), TPDFDocument::kLoadUnreadable);
  EXPECT_EQ(doc.GetFailure(), "the file is empty");
  TUnreadableStream device;
  EXPECT_EQ(doc.LoadFromStream(device, u""), TPDFDocument::kLoadUnreadable);
  EXPECT_EQ(doc.GetFailure(), "the file cannot be read: the device does not answer");
  const std::string sound =
      pvltest::MakePdf({"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
                        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 100 100] >>"});
  EXPECT_EQ(doc.LoadFromString(sound, u""), TPDFDocument::kLoadOk);
  EXPECT_EQ(doc.GetFailure(), "");
  TPDFDocument fresh;
  EXPECT_EQ(fresh.LoadFromStream(device, u""), TPDFDocument::kLoadUnreadable);
  EXPECT_NE(fresh.GetFailure().find("the device does not answer"), std::string::npos) << fresh.GetFailure();
}

// An update cut off after its first objects: the table of the older
// version is complete, but the newer objects count (the update adds a
// page), and the document says it was repaired.
TEST(ReadingReproTest, CutUpdateIsReadByScanning) {
  pvldoc::FileBuilder b;
  b.Add(1, "<< /Type /Catalog /Pages 2 0 R >>");
  b.Add(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
  b.Add(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 100] >>");
  b.Table("/Size 4 /Root 1 0 R");
  b.Add(2, "<< /Type /Pages /Kids [3 0 R 4 0 R] /Count 2 >>");
  b.Add(4, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 300 100] >>");
  b.Raw("5 0 obj\n<< /Length 9");  // the cut
  TPDFDocument doc;
  ASSERT_EQ(doc.LoadFromString(b.Text(), u""), TPDFDocument::kLoadOk);
  EXPECT_EQ(doc.GetPageTree()->GetPageCount(), 2);
  EXPECT_TRUE(doc.WasReconstructed());
  // The same file whole is not repaired.
  TPDFDocument intact;
  ASSERT_EQ(intact.LoadFromString(b.Text().substr(0, b.Text().rfind("2 0 obj")), u""), TPDFDocument::kLoadOk);
  EXPECT_EQ(intact.GetPageTree()->GetPageCount(), 1);
  EXPECT_FALSE(intact.WasReconstructed());
}

// Counting and finding pages are one walk: a Count that promises more than
// a looping tree holds gives the pages that can be found, and every page
// counted is found.
TEST(ReadingReproTest, LoopingTreeCountsWhatItFinds) {
  struct Case {
    const char* name;
    std::string root;   // object 2
    std::string inner;  // object 5
    int32_t pages;
  };
  const Case cases[] = {
      {"inner node loops to the root", "<< /Type /Pages /Kids [3 0 R 5 0 R] /Count 2 >>",
       "<< /Type /Pages /Kids [2 0 R] /Count 1 >>", 1},
      {"inner node is its own kid", "<< /Type /Pages /Kids [5 0 R 3 0 R] /Count 3 >>",
       "<< /Type /Pages /Kids [5 0 R 4 0 R] /Count 2 >>", 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string text = pvltest::MakePdf({"<< /Type /Catalog /Pages 2 0 R >>", c.root,
                                               "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 100 100] >>",
                                               "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 100] >>", c.inner});
    TPDFDocument doc;
    ASSERT_EQ(doc.LoadFromString(text, u""), TPDFDocument::kLoadOk);
    TPDFPageTree* tree = doc.GetPageTree();
    ASSERT_EQ(tree->GetPageCount(), c.pages);
    for (int32_t n = 1; n <= c.pages; ++n) EXPECT_NE(tree->FindPage(n), nullptr) << n;
    EXPECT_EQ(tree->GetPageCount(), c.pages);
  }
}

// A root whose Count is null or missing is saved with the counted pages,
// so that qpdf (which believes Count) reads them.
TEST(ReadingReproTest, SavedTreeGetsItsCount) {
  for (const std::string count : {std::string("/Count null"), std::string("")}) {
    SCOPED_TRACE(count.empty() ? "missing" : "null");
    const std::string text =
        pvltest::MakePdf({"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R 4 0 R] " + count + " >>",
                          "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 100 100] >>",
                          "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 100] >>"});
    TPDFDocument doc;
    ASSERT_EQ(doc.LoadFromString(text, u""), TPDFDocument::kLoadOk);
    ASSERT_EQ(doc.GetPageTree()->GetPageCount(), 2);
    const std::string saved = doc.SaveToString();
    TPDFDocument again;
    ASSERT_EQ(again.LoadFromString(saved, u""), TPDFDocument::kLoadOk);
    TPDFNumeric* written = PDFAsNumeric(again.GetPages()->GetValue("Count", true));
    ASSERT_NE(written, nullptr);
    EXPECT_EQ(written->AsInteger(), 2);
    if (pvltest::HaveTool("qpdf")) {
      pvltest::TempDir dir;
      pvltest::WriteFile(dir.File("saved.pdf"), saved);
      EXPECT_EQ(pvltest::RunCommand({"qpdf", "--show-npages", dir.File("saved.pdf")}).out, "2\n");
    }
  }
}

// Outlines written directly in the catalogue, with items in an object
// stream: every item is listed.
TEST(ReadingReproTest, DirectOutlinesWithItemsInAnObjectStream) {
  // Items 5 and 6 live in object stream 7.
  const std::string one = "<< /Title (One) /Parent 2 0 R /Next 6 0 R >> ";
  const std::string items = one + "<< /Title (Two) /Parent 2 0 R /Prev 5 0 R >>";
  const std::string header = "5 0 6 " + std::to_string(one.size()) + " ";
  pvldoc::FileBuilder b;
  b.Add(1, "<< /Type /Catalog /Pages 2 0 R /Outlines << /Type /Outlines /First 5 0 R /Last 6 0 R /Count 2 >> >>");
  b.Add(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
  b.Add(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 100] >>");
  b.AddStream(7, "/Type /ObjStm /N 2 /First " + std::to_string(header.size()), header + items);
  std::string entries;
  auto put = [&](int type, uint64_t f2, uint64_t f3) {
    entries += pvldoc::Field(type, 1) + pvldoc::Field(f2, 4) + pvldoc::Field(f3, 2);
  };
  put(0, 0, 65535);
  put(1, b.OffsetOf(1), 0);
  put(1, b.OffsetOf(2), 0);
  put(1, b.OffsetOf(3), 0);
  put(0, 0, 0);
  put(2, 7, 0);
  put(2, 7, 1);
  put(1, b.OffsetOf(7), 0);
  const size_t xrefAt = b.Size();
  put(1, xrefAt, 0);
  b.AddStream(8, "/Type /XRef /Size 9 /W [1 4 2] /Root 1 0 R", entries);
  const std::string text = b.Text() + "startxref\n" + std::to_string(xrefAt) + "\n%%EOF\n";
  TPDFDocument doc;
  ASSERT_EQ(doc.LoadFromString(text, u""), TPDFDocument::kLoadOk);
  ASSERT_EQ(doc.GetOutlineCount(), 2);
  EXPECT_EQ(doc.GetOutlineTitle(doc.GetOutlineItem(1)), u"One");
  EXPECT_EQ(doc.GetOutlineTitle(doc.GetOutlineItem(2)), u"Two");
}
