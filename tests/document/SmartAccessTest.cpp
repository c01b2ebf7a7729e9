// Direct access: the reader on small files built here (header positions,
// one-character line ends, tables numbered from 1, newer sections, the object
// cache, object streams, trailer rebuild) and on the corpus against the
// loaded document's object table; the writer's exact table bytes.
#include <gtest/gtest.h>

#include <iostream>

#include "TestSupport.h"
#include "document/PavonaDocument.h"
#include "document/PavonaSmartAccess.h"

namespace {

struct TBuiltPdf {
  std::string text;
  std::vector<size_t> offsets;  // of objects 1..n
};

// Objects numbered from 1, a classic table with entries of entryLength (20 or
// 19) bytes, a trailer, and an optional prefix before the header.
TBuiltPdf Build(const std::vector<std::string>& objects, const std::string& prefix = "", int entryLength = 20,
                const std::string& trailerExtra = "") {
  TBuiltPdf pdf;
  pdf.text = prefix + "%PDF-1.7\n";
  for (size_t i = 0; i < objects.size(); ++i) {
    pdf.offsets.push_back(pdf.text.size());
    pdf.text += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
  }
  const size_t xref = pdf.text.size();
  pdf.text += "xref\n0 " + std::to_string(objects.size() + 1) + "\n";
  const std::string end = entryLength == 20 ? " \n" : "\n";
  char line[32];
  pdf.text += "0000000000 65535 f" + end;
  for (size_t off : pdf.offsets) {
    std::snprintf(line, sizeof line, "%010zu 00000 n", off);
    pdf.text += line + end;
  }
  pdf.text += "trailer\n<< /Size " + std::to_string(objects.size() + 1) + " /Root 1 0 R" + trailerExtra +
              " >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
  return pdf;
}

// The object's text with white space runs folded to one blank.
std::string Text(TPDFObject* obj) {
  if (!obj) return "(none)";
  std::string out;
  for (char c : obj->WriteText()) {
    const bool space = c == ' ' || c == '\n' || c == '\r' || c == '\t';
    if (space && (out.empty() || out.back() == ' ')) continue;
    out += space ? ' ' : c;
  }
  while (!out.empty() && out.back() == ' ') out.pop_back();
  return out;
}

}  // namespace

TEST(SmartReader, HeaderWithinTheFirst1024Bytes) {
  const std::vector<std::string> objs = {"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [] /Count 0 >>"};
  TMemoryStream ok(Build(objs, std::string(500, ' ')).text);
  TSmartPDFReader reader(ok);
  EXPECT_EQ(reader.GetState(), 0);
  EXPECT_EQ(reader.GetVersion(), "1.7");
  TMemoryStream late(Build(objs, std::string(1100, ' ')).text);
  EXPECT_EQ(TSmartPDFReader(late).GetState(), 1);
  TMemoryStream ps("%!PS-Adobe-3.0 PDF-1.4\n" + Build(objs).text.substr(9));
  TSmartPDFReader psReader(ps);
  EXPECT_EQ(psReader.GetVersion(), "1.4");
  TMemoryStream noXref("%PDF-1.4\n1 0 obj << >> endobj\n");
  EXPECT_EQ(TSmartPDFReader(noXref).GetState(), 2);
  TMemoryStream empty("");
  EXPECT_EQ(TSmartPDFReader(empty).GetState(), 1);
}

TEST(SmartReader, ObjectsOneCharacterLineEndsAndStreams) {
  for (int entryLength : {20, 19}) {
    SCOPED_TRACE(entryLength);
    TBuiltPdf pdf =
        Build({"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [] /Count 0 >>",
               "<< /Length 5 >>\nstream\nhello\nendstream", "<< /Length 3 >>\nstream\nlonger body\nendstream",
               "<< /Length 4 0 R >>\nstream\nabcd\nendstream"},
              "", entryLength);
    TMemoryStream s(pdf.text);
    TSmartPDFReader reader(s);
    ASSERT_EQ(reader.GetState(), 0);
    EXPECT_EQ(reader.GetMaxObjectNumber(), 5);
    EXPECT_EQ(Text(reader.GetCachedObject(2)), "<< /Type /Pages /Kids [ ] /Count 0 >>");
    EXPECT_EQ(reader.GetObjectText(1).find("<< /Type /Catalog"), 1u);
    TPDFStream* stream = PDFAsStream(reader.GetCachedObject(3));
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(stream->GetDecodedData(), "hello");
    // A wrong /Length: the body runs to "endstream".
    stream = PDFAsStream(reader.GetCachedObject(4));
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(stream->GetDecodedData(), "longer body");
    // An indirect /Length naming something that is not a number: to "endstream" as well.
    stream = PDFAsStream(reader.GetCachedObject(5));
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(stream->GetDecodedData(), "abcd");
    EXPECT_EQ(reader.GetCachedObject(6), nullptr);
    EXPECT_EQ(reader.GetCachedObject(0), nullptr);
    EXPECT_EQ(reader.GetCachedObject(-3), nullptr);
    EXPECT_EQ(reader.GetObjectText(99), "");
    EXPECT_NE(reader.GetTrailerDict("Root"), nullptr);
    EXPECT_NE(reader.GetTrailerRef("Root"), nullptr);
    EXPECT_EQ(reader.GetTrailerDict("Info"), nullptr);
  }
}

TEST(SmartReader, TableNumberedFromOneAndNewerSections) {
  // One subsection "1 4" whose first entry is the free head: object 1 is at entry 2.
  const std::vector<std::string> objs = {"<< /Type /Catalog /Pages 3 0 R >>", "(two)",
                                         "<< /Type /Pages /Kids [] /Count 0 >>"};
  TBuiltPdf pdf = Build(objs);
  const size_t table = pdf.text.find("xref\n0 4");
  pdf.text.replace(table, 8, "xref\n1 4");
  TMemoryStream s(pdf.text);
  TSmartPDFReader reader(s);
  ASSERT_EQ(reader.GetState(), 0);
  EXPECT_EQ(Text(reader.GetCachedObject(1)), "<< /Type /Catalog /Pages 3 0 R >>");
  EXPECT_EQ(Text(reader.GetCachedObject(2)), "(two)");

  // An update that redefines object 2 and frees object 1 (the catalog), with
  // a trailer that names no Root: the file is read as a document reads it,
  // so the catalog is still found (by the repair that looks for it) and the
  // newer object 2 wins.
  TBuiltPdf base = Build({"<< /Type /Catalog /Pages 3 0 R >>", "(old)", "<< /Type /Pages /Kids [] /Count 0 >>"});
  std::string text = base.text;
  const size_t prev = text.find("startxref\n") + 10;
  const std::string prevOffset = text.substr(prev, text.find('\n', prev) - prev);
  const size_t newObj = text.size();
  text += "2 0 obj\n(new)\nendobj\n";
  const size_t xref = text.size();
  char line[64];
  std::snprintf(line, sizeof line, "%010zu 00000 n \n", newObj);
  text += "xref\n1 2\n0000000000 00001 f \n" + std::string(line) + "trailer\n<< /Size 4 /Prev " + prevOffset +
          " >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
  TMemoryStream s2(text);
  TSmartPDFReader updated(s2);
  ASSERT_EQ(updated.GetState(), 0);
  EXPECT_EQ(Text(updated.GetCachedObject(2)), "(new)");
  EXPECT_EQ(Text(updated.GetCachedObject(1)), "<< /Type /Catalog /Pages 3 0 R >>");
  EXPECT_NE(updated.GetTrailerRef("Root"), nullptr);
  updated.RebuildTrailer();
  TPDFDictionary* t = updated.GetTrailer();
  EXPECT_EQ(t->GetInteger("Size", 0), 4);
  EXPECT_NE(PDFAsIndRef(t->GetValue("Root")), nullptr);
  EXPECT_EQ(t->GetValue("Prev"), nullptr);
  TPDFArray* id = PDFAsArray(t->GetValue("ID"));
  ASSERT_NE(id, nullptr);
  EXPECT_EQ(id->GetCount(), 2);
  EXPECT_EQ(PDFAsString(id->GetItem(0))->GetValue().size(), 16u);
}

TEST(SmartReader, ObjectCacheHoldsTheLast100) {
  std::vector<std::string> objs = {"<< /Type /Catalog /Pages 103 0 R >>"};
  for (int i = 2; i <= 102; ++i) objs.push_back("[ " + std::to_string(i) + " ]");
  objs.push_back("<< /Type /Pages /Kids [] /Count 0 >>");
  TMemoryStream s(Build(objs).text);
  TSmartPDFReader reader(s);
  ASSERT_EQ(reader.GetState(), 0);
  TPDFObject* first = reader.GetCachedObject(2);
  EXPECT_EQ(reader.GetCachedObject(2), first);
  for (int i = 3; i <= 102; ++i) ASSERT_NE(reader.GetCachedObject(i), nullptr);
  TPDFObject* again = reader.GetCachedObject(2);  // dropped after 100 others: parsed anew
  EXPECT_NE(again, first);
  EXPECT_EQ(Text(again), "[ 2 ]");
  // Reading into another pool bypasses the cache.
  TPDFStructure pool;
  TPDFObject* own = reader.GetObject(5, &pool);
  ASSERT_NE(own, nullptr);
  EXPECT_EQ(own->GetOwner(), &pool);
}

// Every object of the corpus files that load: the direct reader, which opens
// files as a document is opened, gives it as the file's object table holds
// it (the first page too, which opening prepares for drawing).
TEST(SmartReader, CorpusObjectsMatchTheObjectTable) {
  int files = 0, objects = 0;
  for (const std::string& path : pvltest::CorpusPdfFiles()) {
    std::string bytes = pvltest::ReadFile(path);
    if (bytes.size() > (size_t(8) << 20)) continue;
    // Broken on purpose: opening repairs them (Kids given as one reference).
    if (path.find("fuzzed") != std::string::npos) continue;
    auto doc = std::make_unique<TPDFDocument>();
    doc->GetPool().SetPrecision(kExactNumberDigits);
    doc->SetFileText(bytes);
    if (!doc->ReadXRef()) continue;
    doc->BuildObjectTable();
    TFileStream file(path, fmOpenRead);
    TSmartPDFReader reader(file);
    if (reader.GetState() != 0 || reader.IsEncrypted()) continue;
    ++files;
    const int32_t last = std::min(reader.GetMaxObjectNumber(), 400);
    for (int32_t n = 1; n <= last; ++n) {
      TPDFObject* ours = reader.GetCachedObject(n);
      TPDFObject* table = doc->LookupObject(n);
      if (!ours || !table || table->GetKind() == pdfkNull) continue;
      // Opening a document empties its linearization parameters (they do
      // not describe what is written).
      if (TPDFDictionary* d = PDFAsDictionary(table); d && d->GetValue("Linearized")) continue;
      ++objects;
      TPDFStream* ourStream = PDFAsStream(ours);
      TPDFStream* tableStream = PDFAsStream(table);
      ASSERT_EQ(ourStream != nullptr, tableStream != nullptr) << path << " object " << n;
      if (ourStream) {
        EXPECT_EQ(ourStream->GetDecodedData(), tableStream->GetDecodedData()) << path << " stream " << n;
      } else {
        EXPECT_EQ(Text(ours), Text(table)) << path << " object " << n;
      }
    }
  }
  std::cout << files << " files, " << objects << " objects compared\n";
  EXPECT_GT(files, 100);
  EXPECT_GT(objects, 3000);
}

// ---------------------------------------------------------------------------
// Writer

TEST(SmartWriter, TablesInBothLayouts) {
  for (bool single : {true, false}) {
    TMemoryStream out;
    TSmartPDFWriter writer(out);
    writer.WriteHeader("1.6");
    writer.WriteObject(5, 0, "(five)\n");
    writer.WriteObject(1, 0, "<< /Type /Catalog /Pages 2 3 R >>");
    writer.WriteObject(2, 3, "<< /Type /Pages /Kids [ ] /Count 0 >>");
    TPDFStructure pool;
    TPDFDictionary* trailer = PDFAsDictionary(pool.ParseObject("<< /Root 1 0 R >>"));
    writer.WriteXRefAndTrailer(trailer, 0, single);
    const std::string& text = out.Bytes();
    EXPECT_EQ(text.rfind("%PDF-1.6\n%\xE2\xE3\xCF\xD3\n", 0), 0u);
    EXPECT_NE(text.find("5 0 obj\n(five)\nendobj\n"), std::string::npos);  // no second line end
    EXPECT_NE(text.find("1 0 obj\n<< /Type /Catalog /Pages 2 3 R >>\nendobj\n"), std::string::npos);
    const size_t at5 = text.find("5 0 obj"), at1 = text.find("1 0 obj"), at2 = text.find("2 3 obj");
    char n5[32], n1[32], n2[32];
    std::snprintf(n5, sizeof n5, "%010zu 00000 n \n", at5);
    std::snprintf(n1, sizeof n1, "%010zu 00000 n \n", at1);
    std::snprintf(n2, sizeof n2, "%010zu 00003 n \n", at2);
    const size_t xref = text.find("xref\n");
    std::string expected = single ? "xref\n0 6\n0000000003 65535 f \n" + std::string(n1) + n2 +
                                        "0000000004 00001 f \n0000000000 00001 f \n" + n5
                                  : "xref\n0 3\n0000000000 65535 f \n" + std::string(n1) + n2 + "5 1\n" + n5;
    EXPECT_EQ(text.substr(xref, expected.size()), expected) << (single ? "single" : "subsections");
    EXPECT_EQ(trailer->GetInteger("Size", 0), single ? 6 : 0);
    EXPECT_NE(text.find("startxref\n" + std::to_string(xref) + "\n%%EOF\n"), std::string::npos);
    // The result reads back through the direct reader.
    TMemoryStream back(text);
    TSmartPDFReader reader(back);
    ASSERT_EQ(reader.GetState(), 0);
    EXPECT_EQ(Text(reader.GetCachedObject(5)), "(five)");
    EXPECT_EQ(reader.GetGeneration(2), 3);
  }
}
