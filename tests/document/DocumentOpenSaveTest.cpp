// Opening documents (result codes, header, passwords, linearized files, the
// page tree), new documents, and saving as a full rewrite, checked byte by
// byte and by qpdf and pdftotext as oracles.
#include <gtest/gtest.h>

#include <filesystem>

#include "DocumentTestSupport.h"
#include "document/PavonaDocument.h"

namespace {

using pvltest::CorpusPath;
using pvltest::HaveTool;
using pvltest::ReadFile;
using pvltest::RunCommand;
using pvltest::TempDir;

// A small classic file: catalogue, a Pages node, two pages (the second
// inheriting its MediaBox), one content stream, Info; offsets computed here.
// With gap, an incremental update adds object far (9: leaving 7 and 8 unused).
std::string buildFile(const std::string& header = "%PDF-1.3\n", bool gap = false, int32_t far = 9) {
  const std::string farText = std::to_string(far);
  const std::string catalogExtra = gap ? " /Extra " + farText + " 0 R" : "";
  std::vector<std::string> objects = {
      "<< /Type /Catalog /Pages 2 0 R" + catalogExtra + " >>",
      "<< /Type /Pages /Count 2 /MediaBox [0 0 300 400] /Kids [3 0 R 4 0 R] >>",
      "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 100] /Contents 5 0 R >>",
      "<< /Type /Page /Parent 2 0 R >>",
      "<< /Length 8 >>\nstream\n0 0 m S\n\nendstream",
      "<< /Title (Test) >>",
  };
  std::string out = header;
  std::vector<size_t> offsets;
  for (size_t i = 0; i < objects.size(); ++i) {
    offsets.push_back(out.size());
    out += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
  }
  const size_t xref = out.size();
  out += "xref\n0 " + std::to_string(objects.size() + 1) + "\n0000000000 65535 f \n";
  for (size_t o : offsets) out += ZeroPadInt(static_cast<int64_t>(o), 10) + " 00000 n \n";
  out += "trailer\n<< /Size 7 /Root 1 0 R /Info 6 0 R >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
  if (gap) {
    const size_t at = out.size();
    out += farText + " 0 obj\n(gap)\nendobj\n";
    const size_t xref2 = out.size();
    out += "xref\n" + farText + " 1\n" + ZeroPadInt(static_cast<int64_t>(at), 10) + " 00000 n \n";
    out += "trailer\n<< /Size " + std::to_string(far + 1) + " /Root 1 0 R /Info 6 0 R /Prev " + std::to_string(xref) +
           " >>\nstartxref\n" + std::to_string(xref2) + "\n%%EOF\n";
  }
  return out;
}

std::string replaced(std::string text, const std::string& from, const std::string& to) {
  const size_t at = text.find(from);
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

bool allDigits(std::string_view text) {
  return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
}

// qpdf --check on bytes: 0 clean, 2 errors, 3 warnings.
int qpdfCheck(const TempDir& dir, const std::string& bytes, const std::string& password = "",
              std::string* output = nullptr) {
  const std::string path = dir.File("check.pdf");
  pvltest::WriteFile(path, bytes);
  std::vector<std::string> argv = {"qpdf", "--check"};
  if (!password.empty()) argv.push_back("--password=" + password);
  argv.push_back(path);
  pvltest::CommandResult r = RunCommand(argv);
  if (output) *output = r.out + r.err;
  return r.exitCode;
}

TEST(DocumentOpen, ResultCodesHeadersAndJunk) {
  const std::string good = buildFile();
  struct Case {
    const char* name;
    std::string bytes;
    int32_t result;
    const char* version;
  };
  std::string lateHeader(1100, ' ');
  const std::vector<Case> cases = {
      {"plain file", good, 0, "1.3"},
      {"300 bytes of junk before the header", std::string(300, 'j') + good, 0, "1.3"},
      {"PostScript-style header", "%!PS-Adobe-3.0 PDF-1.2\n" + good.substr(9), 0, "1.2"},
      {"header beyond the first 1024 bytes", lateHeader + good, 2, ""},
      {"no version after the header", "%PDF-x\n" + good.substr(9), 2, ""},
      // Without a header, a file that starts with an object opens (as the
      // peers open it), with the version defaulted; other text does not.
      {"no header, starts with an object", good.substr(9), 0, "1.4"},
      {"no header, starts with text", "Hello\n" + good.substr(9), 2, ""},
      {"empty", "", 2, ""},
      {"catalogue without Pages", replaced(good, "/Pages 2 0 R", "/Pagez 2 0 R"), 2, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TPDFDocument doc;
    EXPECT_EQ(doc.LoadFromString(c.bytes, u""), c.result);
    if (c.result != 0) {
      EXPECT_EQ(doc.GetObjectCount(), 0);  // cleared
      EXPECT_EQ(doc.GetPageTree()->GetPageCount(), 0);
      continue;
    }
    EXPECT_EQ(doc.GetPDFVersion(), c.version);
    TPDFPageTree* tree = doc.GetPageTree();
    ASSERT_EQ(tree->GetPageCount(), 2);
    EXPECT_EQ(tree->GetSelectedPageNumber(), 1);
    EXPECT_EQ(tree->GetPageWidth(), 200);
    tree->SelectPage(2);
    EXPECT_EQ(tree->GetPageWidth(), 300);
    EXPECT_EQ(doc.GetInfoDictionary()->GetString("Title")->GetValue(), "Test");
  }
}

TEST(DocumentOpen, OpeningParsesOnlyWhatItNeeds) {
  // Objects are parsed on first use: opening reads the catalogue, the path
  // of the page tree to page 1 and that page's content-stream dictionaries.
  int checked = 0;
  for (const std::string& path : pvltest::CorpusPdfFiles()) {
    TPDFDocument doc;
    if (doc.LoadFromString(ReadFile(path), u"") != 0 || doc.GetObjectCount() < 300) continue;
    if (doc.WasReconstructed() || doc.GetEncryptionStatus() != 0) continue;
    int32_t loaded = 0;
    for (int32_t i = 0; i < doc.GetObjectCount(); ++i) loaded += doc.GetIndObj(i)->Loaded ? 1 : 0;
    EXPECT_LT(loaded, 40) << path << ": " << loaded << " of " << doc.GetObjectCount() << " objects parsed";
    ++checked;
  }
  EXPECT_GT(checked, 0);
}

TEST(DocumentOpen, LoadFromStreamReadsTheWholeStream) {
  TMemoryStream stream(buildFile());
  stream.Seek(0, TSeekOrigin::soEnd);
  TPDFDocument doc;
  ASSERT_EQ(doc.LoadFromStream(stream, u""), 0);
  EXPECT_EQ(doc.GetPageTree()->GetPageCount(), 2);
  TPDFIndRef* ref = doc.GetPool().NewIndRef(4, 0);
  EXPECT_EQ(doc.PageIndexOf(ref), 2);
  EXPECT_EQ(doc.GetPageTree()->IndexOfPageRef(ref), 2);
}

TEST(DocumentOpen, PasswordsOfEncryptedFiles) {
  struct Case {
    const char* file;
    std::u16string password;
    int32_t result;
    bool owner;
    bool withoutPassword;
  };
  const std::vector<Case> cases = {
      {"samples/libreoffice-writer-password.pdf", u"", 1, false, false},
      {"samples/libreoffice-writer-password.pdf", u"wrong", 1, false, false},
      {"samples/libreoffice-writer-password.pdf", u"openpassword", 0, false, false},
      {"samples/libreoffice-writer-password.pdf", u"permissionpassword", 0, true, false},
      {"pdfjs/issue6010_1.pdf", u"abc", 0, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.file) + " / " + WideToUTF8(c.password));
    TPDFDocument doc;
    ASSERT_EQ(doc.LoadFromString(ReadFile(CorpusPath(c.file)), c.password), c.result);
    if (c.result != 0) continue;
    EXPECT_EQ(doc.GetEncryption().OwnerAuthenticated, c.owner);
    EXPECT_EQ(doc.OpenedWithoutPassword(), c.withoutPassword);
    EXPECT_EQ(doc.GetPassword(), c.password);
    EXPECT_GT(doc.GetPageTree()->GetPageCount(), 0);
  }
}

TEST(DocumentOpen, EmptyUserPasswordAndOwnerPassword) {
  if (!HaveTool("qpdf")) GTEST_SKIP() << "qpdf missing";
  TempDir dir;
  pvltest::WriteFile(dir.File("in.pdf"), buildFile());
  ASSERT_EQ(RunCommand({"qpdf", "--allow-weak-crypto", "--encrypt", "", "own", "128", "--", dir.File("in.pdf"),
                        dir.File("enc.pdf")}).exitCode,
            0);
  const std::string bytes = ReadFile(dir.File("enc.pdf"));
  TPDFDocument doc;
  ASSERT_EQ(doc.LoadFromString(bytes, u""), 0);
  EXPECT_TRUE(doc.OpenedWithoutPassword());
  EXPECT_EQ(doc.LoadFromString(bytes, u"wrong"), 1);
  ASSERT_EQ(doc.LoadFromString(bytes, u"own"), 0);
  EXPECT_TRUE(doc.OpenedWithoutPassword());
  EXPECT_TRUE(doc.GetEncryption().OwnerAuthenticated);
}

TEST(DocumentOpen, LinearizedFileIsDetectedAndWrittenPlain) {
  const std::string path = CorpusPath("pdfjs/devicen.pdf");
  const std::string bytes = ReadFile(path);
  ASSERT_NE(bytes.substr(0, 1024).find("/Linearized"), std::string::npos);
  TPDFDocument doc;
  ASSERT_EQ(doc.LoadFromString(bytes, u""), 0);
  EXPECT_TRUE(doc.IsLinearized());
  const std::string saved = doc.SaveToString();
  ASSERT_FALSE(saved.empty());
  EXPECT_EQ(saved.find("/Linearized"), std::string::npos);

  TPDFDocument plain;
  ASSERT_EQ(plain.LoadFromString(buildFile(), u""), 0);
  EXPECT_FALSE(plain.IsLinearized());
}

TEST(DocumentOpen, HostileTreesOpenWithoutHanging) {
  // A root Count far above the objects of the file, and Kids that cycle.
  const std::string hostile =
      replaced(buildFile(), "/Count 2 ", "/Count 999999999 ");
  const std::string cyclic = replaced(buildFile(), "[3 0 R 4 0 R]", "[2 0 R 3 0 R 2 0 R]");
  for (const std::string& bytes : {hostile, cyclic}) {
    TPDFDocument doc;
    ASSERT_EQ(doc.LoadFromString(bytes, u""), 0);
    EXPECT_LE(doc.GetPageTree()->GetPageCount(), 2);
    EXPECT_NE(doc.GetPageTree()->FindPage(1), nullptr);
    EXPECT_FALSE(doc.SaveToString().empty());
  }
}

TEST(DocumentNew, OnePageDocumentSavesAsAValidFile) {
  TPDFDocument doc;
  doc.InitNewDocument();
  EXPECT_EQ(doc.GetPDFVersion(), "1.4");
  TPDFPageTree* tree = doc.GetPageTree();
  ASSERT_EQ(tree->GetPageCount(), 1);
  EXPECT_EQ(tree->GetPageWidth(), 612);
  EXPECT_EQ(tree->GetPageHeight(), 792);
  EXPECT_EQ(doc.GetPages()->GetObjectNumber(), 1);
  EXPECT_EQ(tree->FindPage(1)->GetObjectNumber(), 2);
  EXPECT_EQ(doc.GetRoot()->GetObjectNumber(), 3);
  EXPECT_EQ(doc.GetInfoDictionary()->GetObjectNumber(), 4);
  TPDFArray* id = doc.GetTrailer()->GetArray("ID");
  ASSERT_NE(id, nullptr);
  ASSERT_EQ(id->GetCount(), 2);
  EXPECT_EQ(id->GetItem(0)->AsString()->GetValue().size(), 16u);
  EXPECT_EQ(id->GetItem(0)->AsString()->GetValue(), id->GetItem(1)->AsString()->GetValue());

  const std::string saved = doc.SaveToString();
  TPDFDocument reopened;
  ASSERT_EQ(reopened.LoadFromString(saved, u""), 0);
  EXPECT_EQ(reopened.GetPageTree()->GetPageCount(), 1);
  EXPECT_FALSE(reopened.WasReconstructed());
  if (HaveTool("qpdf")) {
    TempDir dir;
    std::string report;
    EXPECT_EQ(qpdfCheck(dir, saved, "", &report), 0) << report;
  }
}

// A new document's identifier is made when the trailer is first asked for
// or written, from the time the document was made; a file loaded into the
// document instead keeps its own trailer (one without an identifier gets
// none: its keys were made without one).
TEST(DocumentNew, IdentifierIsMadeWhenFirstNeededAndOnlyForTheNewDocument) {
  auto idOf = [](const std::string& file) {
    TPDFDocument doc;
    EXPECT_EQ(doc.LoadFromString(file, u""), 0);
    TPDFArray* id = doc.GetTrailer()->GetArray("ID");
    if (!id || id->GetCount() != 2) return std::string("none");
    const std::string first = id->GetItem(0)->AsString()->GetValue();
    return first == id->GetItem(1)->AsString()->GetValue() ? first : std::string("two different");
  };
  TPDFDocument saved;
  saved.InitNewDocument();
  const std::string file = saved.SaveToString();
  EXPECT_EQ(idOf(file).size(), 16u) << "written without the trailer asked for first";

  TPDFDocument stripped;
  stripped.InitNewDocument();
  stripped.GetTrailer()->DeleteKey("ID");
  const std::string withoutID = stripped.SaveToString();
  ASSERT_EQ(idOf(withoutID), "none");

  TPDFDocument replaced;
  replaced.InitNewDocument();
  ASSERT_EQ(replaced.LoadFromString(withoutID, u""), 0);
  EXPECT_EQ(replaced.GetTrailer()->GetValue("ID"), nullptr);
  EXPECT_EQ(idOf(replaced.SaveToString()), "none");
}

TEST(DocumentSave, LayoutOfTheWrittenFile) {
  TPDFDocument doc;
  ASSERT_EQ(doc.LoadFromString(buildFile("%PDF-1.3\n", true), u""), 0);
  const std::string saved = doc.SaveToString();
  ASSERT_FALSE(saved.empty());
  EXPECT_EQ(saved.substr(0, 15), "%PDF-1.3\n%\xE2\xE3\xCF\xD3\n");
  const size_t tail = saved.rfind("startxref\n");
  ASSERT_NE(tail, std::string::npos);
  const std::string last = saved.substr(tail + 10);
  ASSERT_GT(last.size(), 7u);
  ASSERT_EQ(last.substr(last.size() - 7), "\n%%EOF\n");
  ASSERT_TRUE(allDigits(last.substr(0, last.size() - 7)));
  const size_t xref = std::stoul(last);
  ASSERT_EQ(saved.compare(xref, 5, "xref\n"), 0);
  // Objects 1-6, 9 and the content stream that the selection of page 1
  // added (10); 7 and 8 are free.
  const std::string table = saved.substr(xref);
  ASSERT_EQ(table.substr(0, 7), "xref\n0 ");
  const size_t eol = table.find('\n', 7);
  ASSERT_TRUE(allDigits(table.substr(7, eol - 7)));
  const int32_t entries = std::stoi(table.substr(7));
  EXPECT_EQ(entries, 11);
  size_t p = eol + 1;
  EXPECT_EQ(table.substr(p, 20), "0000000000 65535 f \n");
  for (int32_t n = 1; n < entries; ++n) {
    const std::string line = table.substr(p + 20 * static_cast<size_t>(n), 20);
    if (n == 7 || n == 8) {
      EXPECT_EQ(line, "0000000000 00000 f \n");
      continue;
    }
    ASSERT_TRUE(allDigits(line.substr(0, 10)) && line[10] == ' ' && allDigits(line.substr(11, 5)) &&
                line.substr(16) == " n \n")
        << line;
    const size_t offset = std::stoul(line.substr(0, 10));
    EXPECT_EQ(saved.compare(offset, std::to_string(n).size() + 6, std::to_string(n) + " 0 obj")
              , 0) << "object " << n;
  }
  EXPECT_NE(table.find("/Size 11"), std::string::npos);
  EXPECT_EQ(table.find("/Prev"), std::string::npos);

  TPDFDocument again;
  ASSERT_EQ(again.LoadFromString(saved, u""), 0);
  EXPECT_FALSE(again.WasReconstructed());
  EXPECT_EQ(again.GetPageTree()->GetPageCount(), 2);
  EXPECT_EQ(again.GetObjectCount(), 8);
}

// One object numbered near the top of the range (found by fuzz_document):
// the table listed every number up to it, 160 MB of free entries written
// for a 1 KB file. A long gap now starts a subsection of its own.
TEST(DocumentSave, FarObjectNumberStartsASubsection) {
  TPDFDocument doc;
  ASSERT_EQ(doc.LoadFromString(buildFile("%PDF-1.3\n", true, 8000000), u""), 0);
  const std::string saved = doc.SaveToString();
  ASSERT_FALSE(saved.empty());
  EXPECT_LT(saved.size(), 4096u);
  const size_t xref = saved.rfind("\nxref\n");
  ASSERT_NE(xref, std::string::npos);
  // Objects 1-6 after the free head, then the far one and the content
  // stream the selection of page 1 added after it.
  EXPECT_EQ(saved.compare(xref + 1, 33, "xref\n0 7\n0000000000 65535 f \n0000"), 0) << saved.substr(xref);
  EXPECT_NE(saved.find("\n8000000 2\n", xref), std::string::npos) << saved.substr(xref);
  EXPECT_NE(saved.find("/Size 8000002", xref), std::string::npos);

  TPDFDocument again;
  ASSERT_EQ(again.LoadFromString(saved, u""), 0);
  EXPECT_FALSE(again.WasReconstructed());
  EXPECT_EQ(again.GetPageTree()->GetPageCount(), 2);
  TPDFObject* extra = again.GetRoot()->GetValue("Extra", true);
  ASSERT_NE(extra, nullptr);
  EXPECT_EQ(extra->WriteText(), "(gap)");
  if (pvltest::HaveTools({"qpdf"})) {
    TempDir dir;
    std::string report;
    EXPECT_EQ(qpdfCheck(dir, saved, "", &report), 0) << report;
  }
}

TEST(DocumentSave, GapsAndObjectStreamsBecomeFreeEntries) {
  if (!HaveTool("qpdf")) GTEST_SKIP() << "qpdf missing";
  TempDir dir;
  pvltest::WriteFile(dir.File("in.pdf"), buildFile());
  // Object streams and a cross-reference stream; objects renumbered with a gap.
  ASSERT_EQ(RunCommand({"qpdf", "--object-streams=generate", "--", dir.File("in.pdf"), dir.File("os.pdf")}).exitCode, 0);
  const std::string bytes = ReadFile(dir.File("os.pdf"));
  TPDFDocument doc;
  ASSERT_EQ(doc.LoadFromString(bytes, u""), 0);
  std::vector<int32_t> streamNumbers;
  for (int32_t i = 0; i < doc.GetObjectCount(); ++i) {
    const TPDFIndObj* r = doc.GetIndObj(i);
    if (r->Compressed) streamNumbers.push_back(r->StreamNumber);
  }
  ASSERT_FALSE(streamNumbers.empty());
  const std::string saved = doc.SaveToString();
  EXPECT_EQ(saved.find("/ObjStm"), std::string::npos);
  EXPECT_EQ(saved.find("/XRef"), std::string::npos);
  std::string report;
  EXPECT_EQ(qpdfCheck(dir, saved, "", &report), 0) << report;
  const size_t xref = saved.rfind("\nxref\n") + 1;
  const size_t firstEntry = saved.find('\n', xref + 5) + 1;
  for (int32_t n : streamNumbers) {
    EXPECT_EQ(saved.substr(firstEntry + 20 * static_cast<size_t>(n), 20), "0000000000 00000 f \n") << n;
  }
  TPDFDocument again;
  ASSERT_EQ(again.LoadFromString(saved, u""), 0);
  EXPECT_EQ(pvldoc::ContentDigests(again).size() > 0, true);
  EXPECT_EQ(again.GetPageTree()->GetPageCount(), 2);
}

TEST(DocumentSave, VersionRaise) {
  struct Case {
    const char* start;
    const char* raise;
    const char* result;
  };
  const Case cases[] = {{"1.4", "1.7", "1.7"}, {"1.4", "1.3", "1.4"}, {"1.4", "2", "1.4"},
                        {"1.4", "1.10", "1.4"}, {"1.4", "1.4", "1.4"}, {"1.4", "a.b", "1.4"},
                        {"1.6", "2.0", "2.0"}};
  for (const Case& c : cases) {
    TPDFDocument doc;
    doc.InitNewDocument();
    doc.SetPDFVersion(c.start);
    doc.RaisePDFVersion(c.raise);
    EXPECT_EQ(doc.GetPDFVersion(), c.result) << c.start << " raised with " << c.raise;
    EXPECT_EQ(doc.SaveToString().substr(0, 8), std::string("%PDF-") + c.result);
  }
}

TEST(DocumentSave, FailedSaveKeepsTheExistingFile) {
  TempDir dir;
  const std::string target = dir.File("keep.pdf");
  pvltest::WriteFile(target, "original bytes");
  TPDFDocument doc;
  doc.InitNewDocument();
  // An array inside itself cannot be written.
  TPDFArray* loop = doc.GetPool().NewArray();
  loop->Add(loop);
  doc.GetRoot()->SetValue("Loop", loop);
  EXPECT_FALSE(doc.SaveToFile(NativePathToWide(target)));
  EXPECT_EQ(ReadFile(target), "original bytes");
  EXPECT_TRUE(doc.SaveToString().empty());
  std::vector<std::string> left;
  for (const auto& e : std::filesystem::directory_iterator(dir.Path())) left.push_back(e.path().filename());
  EXPECT_EQ(left, std::vector<std::string>{"keep.pdf"});

  doc.GetRoot()->DeleteKey("Loop");
  EXPECT_FALSE(doc.SaveToFile(NativePathToWide(dir.File("missing/folder/out.pdf"))));
  ASSERT_TRUE(doc.SaveToFile(NativePathToWide(target)));
  TPDFDocument reopened;
  EXPECT_EQ(reopened.LoadFromString(ReadFile(target), u""), 0);
}

// Encrypted documents saved re-encrypted: qpdf opens the result with the same
// password, and the decrypted content equals the original's.
TEST(DocumentSave, EncryptedDocumentsAreWrittenEncrypted) {
  if (!HaveTool("qpdf")) GTEST_SKIP() << "qpdf missing";
  TempDir dir;
  const std::string source = CorpusPath("samples/libreoffice-writer-password.pdf");
  struct Case {
    const char* name;
    std::vector<std::string> encrypt;  // qpdf --encrypt arguments
  };
  const std::vector<Case> cases = {
      {"RC4 40", {"user", "owner", "40"}},
      {"RC4 128", {"user", "owner", "128", "--use-aes=n"}},
      {"AES-128", {"user", "owner", "128", "--use-aes=y"}},
      {"AES-256", {"user", "owner", "256"}},
  };
  ASSERT_EQ(RunCommand({"qpdf", "--password=openpassword", "--decrypt", source, dir.File("plain.pdf")}).exitCode, 0);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> argv = {"qpdf", "--allow-weak-crypto", "--encrypt"};
    argv.insert(argv.end(), c.encrypt.begin(), c.encrypt.end());
    argv.insert(argv.end(), {"--", dir.File("plain.pdf"), dir.File("enc.pdf")});
    ASSERT_EQ(RunCommand(argv).exitCode, 0);
    TPDFDocument doc;
    ASSERT_EQ(doc.LoadFromString(ReadFile(dir.File("enc.pdf")), u"user"), 0);
    const std::string saved = doc.SaveToString();
    ASSERT_FALSE(saved.empty());
    std::string report;
    EXPECT_EQ(qpdfCheck(dir, saved, "user", &report), 0) << report;
    pvltest::WriteFile(dir.File("saved.pdf"), saved);
    pvltest::CommandResult shown = RunCommand({"qpdf", "--password=user", "--show-encryption", dir.File("saved.pdf")});
    EXPECT_NE(shown.out.find("User password = user"), std::string::npos) << shown.out;
    // A wrong password is refused by qpdf as by us.
    EXPECT_NE(RunCommand({"qpdf", "--password=nope", "--check", dir.File("saved.pdf")}).exitCode, 0);
    TPDFDocument again;
    ASSERT_EQ(again.LoadFromString(saved, u"user"), 0);
    EXPECT_EQ(again.LoadFromString(saved, u"nope"), 1);
    ASSERT_EQ(again.LoadFromString(saved, u"user"), 0);
    TPDFDocument original;
    ASSERT_EQ(original.LoadFromString(ReadFile(dir.File("enc.pdf")), u"user"), 0);
    // The saved file holds one more object (the stream the selection added).
    std::vector<std::string> a = pvldoc::ContentDigests(original), b = pvldoc::ContentDigests(again);
    for (const std::string& d : a) {
      auto it = std::find(b.begin(), b.end(), d);
      EXPECT_NE(it, b.end()) << "content lost: " << d;
      if (it != b.end()) b.erase(it);
    }
  }
}

}  // namespace
