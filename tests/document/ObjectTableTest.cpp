// The object table: which definition wins, lazy loading from slices and
// object streams, stream lengths, hostile numbers, new objects.
#include <gtest/gtest.h>

#include "DocumentTestFiles.h"
#include "document/PavonaDocument.h"
#include "objects/PavonaFlate.h"

using pvldoc::Field;
using pvldoc::FileBuilder;

namespace {

std::unique_ptr<TPDFDocument> Open(const std::string& text) {
  auto doc = std::make_unique<TPDFDocument>();
  doc->SetFileText(text);
  EXPECT_TRUE(doc->ReadXRef());
  doc->BuildObjectTable();
  return doc;
}

std::string TextOf(TPDFDocument& doc, int32_t number) {
  TPDFObject* obj = doc.LookupObject(number);
  return obj ? obj->WriteText() : std::string("<none>");
}

}  // namespace

TEST(ObjectTableTest, NewestDefinitionWinsAndFreeEntriesHideOlderOnes) {
  FileBuilder b;
  b.Add(1, "<< /Type /Catalog >>");
  b.Add(2, "(old two)");
  b.Add(3, "(three)");
  size_t first = b.Table("/Size 4 /Root 1 0 R");
  b.Add(2, "(new two)");
  size_t second = b.Size();
  b.Raw("xref\n2 2\n" + b.entryFor(2) + "0000000000 00001 f\r\n");
  b.Raw("trailer\n<< /Size 4 /Root 1 0 R /Prev " + std::to_string(first) + " >>\nstartxref\n" + std::to_string(second) +
        "\n%%EOF\n");
  auto doc = Open(b.Text());
  EXPECT_EQ(TextOf(*doc, 2), "(new two)");
  // Object 3 was deleted by the update: it must not come back.
  EXPECT_EQ(doc->FindObject(3), nullptr);
  EXPECT_EQ(doc->LookupObject(3), nullptr);
  EXPECT_EQ(TextOf(*doc, 1).find("/Catalog") != std::string::npos, true);
  // The newest trailer only; keys of older ones are not merged, Prev goes.
  EXPECT_EQ(doc->GetTrailer()->GetValue("Prev"), nullptr);
}

TEST(ObjectTableTest, TableNumberedOneTooHighIsShifted) {
  FileBuilder b;
  b.Add(1, "<< /Type /Catalog >>");
  b.Add(2, "(two)");
  std::string text = b.Text();
  size_t at = text.size();
  // Entries for 1 and 2 listed as 2 and 3.
  text += "xref\n2 2\n" + b.entryFor(1) + b.entryFor(2) + "trailer\n<< /Size 3 /Root 1 0 R >>\nstartxref\n" +
          std::to_string(at) + "\n%%EOF\n";
  auto doc = Open(text);
  EXPECT_EQ(TextOf(*doc, 2), "(two)");
  EXPECT_NE(TextOf(*doc, 1).find("Catalog"), std::string::npos);
}

TEST(ObjectTableTest, StreamLengths) {
  struct Case {
    const char* name;
    std::string body;
    std::string expectedData;  // "<dict>" when the object must stay a dictionary
  };
  const std::vector<Case> cases = {
      {"exact", "<< /Length 5 >>\nstream\nhello\nendstream", "hello"},
      {"CR LF after stream", "<< /Length 5 >>\nstream\r\nhello\r\nendstream", "hello"},
      {"indirect Length", "<< /Length 9 0 R >>\nstream\nhello\nendstream", "hello"},
      {"Length too small", "<< /Length 2 >>\nstream\nhello\nendstream", "hello"},
      {"Length too large", "<< /Length 500 >>\nstream\nhello\nendstream", "hello\n"},
      {"Length missing", "<< /Filter /None >>\nstream\nhello\nendstream", "hello"},
      {"no line end after stream", "<< /Length 5 >>\nstreamhello\nendstream", "<dict>"},
      {"plain dictionary", "<< /Length 5 >>", "<dict>"},
  };
  for (const Case& c : cases) {
    FileBuilder b;
    b.Add(1, "<< /Type /Catalog >>");
    b.Add(5, c.body);
    b.Add(9, "5");
    b.Table("/Size 10 /Root 1 0 R");
    auto doc = Open(b.Text());
    TPDFObject* obj = doc->LookupObject(5);
    ASSERT_NE(obj, nullptr) << c.name;
    if (c.expectedData == "<dict>") {
      EXPECT_EQ(obj->GetKind(), pdfkDictionary) << c.name;
      continue;
    }
    TPDFStream* s = PDFAsStream(obj);
    ASSERT_NE(s, nullptr) << c.name;
    EXPECT_EQ(s->GetData(), c.expectedData) << c.name;
    EXPECT_EQ(s->GetDictionary()->GetInteger("Length", -1), static_cast<int64_t>(c.expectedData.size())) << c.name;
    EXPECT_EQ(obj->GetObjectNumber(), 5) << c.name;
  }
}

TEST(ObjectTableTest, WrongHeadersOffsetsAndNumbersReadAsNull) {
  FileBuilder b;
  b.Add(1, "<< /Type /Catalog >>");
  b.Add(12, "(twelve)");
  std::string text = b.Text();
  size_t at = text.size();
  char line[64];
  std::snprintf(line, sizeof line, "%010zu 00000 n\r\n", b.OffsetOf(12));  // 13 points at "12 0 obj"
  // ... and 14 points past the end of the file.
  text += "xref\n0 1\n0000000000 65535 f\r\n1 1\n" + b.entryFor(1) + "13 2\n" + std::string(line) +
          "9999999999 00000 n\r\n" + "trailer\n<< /Size 15 /Root 1 0 R >>\nstartxref\n" + std::to_string(at) +
          "\n%%EOF\n";
  auto doc = Open(text);
  EXPECT_EQ(doc->LookupObject(13)->GetKind(), pdfkNull);
  EXPECT_EQ(doc->LookupObject(14)->GetKind(), pdfkNull);
  EXPECT_EQ(doc->LookupObject(12), nullptr);  // not in the table
  EXPECT_EQ(doc->LookupObject(-1), nullptr);
  EXPECT_EQ(doc->LookupObject(2000000000), nullptr);
}

TEST(ObjectTableTest, ObjectStreamsReadLastObjectToTheEnd) {
  // Object stream 10 holds 3 and 4; 4 is last and reaches the data's end.
  std::string objects = "(three) [4 0 R (four)]";
  std::string header = "3 0 4 8 ";
  std::string data = header + objects;
  std::string compressed = CompressString(data);
  FileBuilder b("%PDF-1.5\n");
  b.Add(1, "<< /Type /Catalog >>");
  b.AddStream(10, "/Type /ObjStm /N 2 /First " + std::to_string(header.size()) + " /Filter /FlateDecode", compressed);
  size_t at = b.Size();
  std::string xref = Field(0, 1) + Field(0, 4) + Field(0, 1) + Field(1, 1) + Field(b.OffsetOf(1), 4) + Field(0, 1) +
                     Field(0, 1) + Field(0, 4) + Field(0, 1) + Field(2, 1) + Field(10, 4) + Field(0, 1) + Field(2, 1) +
                     Field(10, 4) + Field(1, 1) + Field(0, 1) + Field(0, 4) + Field(0, 1) + Field(0, 1) + Field(0, 4) +
                     Field(0, 1) + Field(0, 1) + Field(0, 4) + Field(0, 1) + Field(0, 1) + Field(0, 4) + Field(0, 1) +
                     Field(0, 1) + Field(0, 4) + Field(0, 1) + Field(1, 1) + Field(b.OffsetOf(10), 4) + Field(0, 1) +
                     Field(1, 1) + Field(at, 4) + Field(0, 1);
  b.Raw("11 0 obj\n<< /Type /XRef /Size 12 /W [1 4 1] /Root 1 0 R /Length " + std::to_string(xref.size()) +
        " >>\nstream\n" + xref + "\nendstream\nendobj\nstartxref\n" + std::to_string(at) + "\n%%EOF\n");
  auto doc = Open(b.Text());
  EXPECT_EQ(TextOf(*doc, 3), "(three)");
  EXPECT_EQ(TextOf(*doc, 4), "[ 4 0 R (four) ]");
  TPDFIndObj* r4 = doc->FindObject(4);
  ASSERT_NE(r4, nullptr);
  EXPECT_TRUE(r4->Compressed);
  EXPECT_EQ(r4->StreamNumber, 10);
  EXPECT_EQ(r4->StreamIndex, 1);
  // The reference inside resolves back to the object itself.
  TPDFArray* arr = PDFAsArray(doc->LookupObject(4));
  ASSERT_NE(arr, nullptr);
  EXPECT_EQ(PDFAsIndRef(arr->GetItem(0))->Resolve(), doc->LookupObject(4));
  // The xref stream keys are not part of the trailer.
  EXPECT_EQ(doc->GetTrailer()->GetValue("W"), nullptr);
  EXPECT_NE(doc->GetTrailer()->GetValue("Root"), nullptr);
}

TEST(ObjectTableTest, ObjectStreamWithHostileHeaderGivesNull) {
  for (std::string header : {"3 0 4 999999 ", "3 -5 4 1 ", "7 0 4 1 ", "3 0 "}) {
    std::string data = header + "(three) (four)";
    FileBuilder b("%PDF-1.5\n");
    b.Add(1, "<< /Type /Catalog >>");
    b.AddStream(10, "/Type /ObjStm /N 2 /First " + std::to_string(header.size()), data);
    size_t at = b.Size();
    std::string xref = Field(2, 1) + Field(10, 2) + Field(0, 1) + Field(2, 1) + Field(10, 2) + Field(1, 1) +
                       Field(1, 1) + Field(b.OffsetOf(1), 2) + Field(0, 1) + Field(1, 1) + Field(b.OffsetOf(10), 2) +
                       Field(0, 1);
    b.Raw("11 0 obj\n<< /Type /XRef /Size 12 /Index [3 2 1 1 10 1] /W [1 2 1] /Root 1 0 R /Length " +
          std::to_string(xref.size()) + " >>\nstream\n" + xref + "\nendstream\nendobj\nstartxref\n" +
          std::to_string(at) + "\n%%EOF\n");
    auto doc = Open(b.Text());
    TPDFObject* three = doc->LookupObject(3);
    TPDFObject* four = doc->LookupObject(4);
    ASSERT_NE(three, nullptr);
    ASSERT_NE(four, nullptr);
    if (header == "3 0 4 999999 ") {
      EXPECT_EQ(three->WriteText(), "(three)");  // its end is cut at the data's end
      EXPECT_EQ(four->GetKind(), pdfkNull);
    } else if (header == "7 0 4 1 ") {
      EXPECT_EQ(three->GetKind(), pdfkNull);  // the header names another number
    } else {
      EXPECT_EQ(three->GetKind() == pdfkNull || four->GetKind() == pdfkNull, true) << header;
    }
  }
}

TEST(ObjectTableTest, ReferenceCyclesAndLengthChainsTerminate) {
  FileBuilder b;
  b.Add(1, "<< /Type /Catalog >>");
  // Each stream's Length names the next stream: a long chain of loads.
  for (int i = 2; i < 300; ++i) b.Add(i, "<< /Length " + std::to_string(i + 1) + " 0 R >>\nstream\nab\nendstream");
  b.Add(300, "<< /Length 300 0 R >>\nstream\nab\nendstream");
  b.Table("/Size 301 /Root 1 0 R");
  auto doc = Open(b.Text());
  for (int i = 2; i <= 300; ++i) {
    TPDFObject* obj = doc->LookupObject(i);
    if (obj) {
      EXPECT_TRUE(obj->GetKind() == pdfkStream || obj->GetKind() == pdfkDictionary) << i;
    }
  }
}

TEST(ObjectTableTest, DamagedTableIsRebuiltByScanning) {
  FileBuilder b;
  b.Add(1, "<< /Type /Catalog /Pages 2 0 R >>");
  b.Add(2, "<< /Type /Pages /Count 0 /Kids [] >>");
  std::string text = b.Text() + "xref\n0 3\ngarbage here\ntrailer\n<< /Size 3 /Root 1 0 R >>\nstartxref\n" +
                     std::to_string(b.Size()) + "\n%%EOF\n";
  auto doc = Open(text);
  EXPECT_TRUE(doc->WasReconstructed());
  EXPECT_NE(TextOf(*doc, 2).find("/Pages"), std::string::npos);
  EXPECT_NE(doc->GetTrailer()->GetValue("Root"), nullptr);
}

TEST(ObjectTableTest, UnreadableFileGivesFalse) {
  for (std::string text : {std::string(), std::string("%PDF-1.4\n"), std::string("%PDF-1.4\nstartxref\n9\n%%EOF")}) {
    TPDFDocument doc;
    doc.SetFileText(text);
    EXPECT_FALSE(doc.ReadXRef());
    doc.BuildObjectTable();
    EXPECT_EQ(doc.GetObjectCount(), 0);
  }
}

TEST(ObjectTableTest, NewObjectsTakeTheNextNumberAndRaiseSize) {
  FileBuilder b;
  b.Add(1, "<< /Type /Catalog >>");
  b.Add(7, "(seven)");
  b.Table("/Size 8 /Root 1 0 R");
  auto doc = Open(b.Text());
  TPDFIndRef* ref = doc->AddIndirectRef(doc->GetPool().NewString("new"));
  EXPECT_EQ(ref->GetRefNumber(), 8);
  EXPECT_EQ(doc->GetTrailer()->GetInteger("Size", 0), 9);
  EXPECT_EQ(TextOf(*doc, 8), "(new)");
  TPDFIndObj* record = doc->FindObject(8);
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(record->WriteText(), "8 0 obj\n(new)\nendobj\n");
  // The pool's numbering callback adds objects the same way.
  int32_t number = 0, generation = -1;
  doc->GetPool().OnGetObjectNumber(&doc->GetPool(), doc->GetPool().NewDictionary(), number, generation);
  EXPECT_EQ(number, 9);
  EXPECT_EQ(generation, 0);
}
