// Damaged objects and undecryptable data are reported with the object and
// where it stands in the file, as a reader needs to find the damage.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "document/PavonaDocument.h"

namespace {

// A classic file with objects 1 (catalog), 2 (pages) and 3 (the body under
// test, written as it stands); offsets[3] tells where object 3 starts.
std::string fileWithObject3(const std::string& body, int64_t& offset3) {
  std::string out = "%PDF-1.4\n";
  std::vector<int64_t> offsets;
  const std::string objects[] = {"1 0 obj\n<< /Type /Catalog /Pages 2 0 R >>\nendobj\n",
                                 "2 0 obj\n<< /Type /Pages /Count 0 /Kids [ ] >>\nendobj\n", body};
  for (const std::string& o : objects) {
    offsets.push_back(static_cast<int64_t>(out.size()));
    out += o;
  }
  offset3 = offsets[2];
  const size_t xref = out.size();
  out += "xref\n0 4\n0000000000 65535 f \n";
  for (int64_t o : offsets) {
    char line[32];
    std::snprintf(line, sizeof line, "%010lld 00000 n \n", static_cast<long long>(o));
    out += line;
  }
  out += "trailer\n<< /Size 4 /Root 1 0 R >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
  return out;
}

struct TDamageCase {
  const char* what;
  std::string body;
  // Expected message with "@" standing for object 3's offset plus the
  // number after it ("@12" = offset + 12).
  const char* message;
  int64_t delta;
};

std::vector<std::string> warningsFor(const std::string& body, int64_t& offset3) {
  TPDFDocument doc;
  const std::string file = fileWithObject3(body, offset3);
  EXPECT_EQ(doc.LoadFromString(file, u""), TPDFDocument::kLoadOk);
  for (int32_t i = 0; i < doc.GetObjectCount(); ++i) doc.GetIndObj(i)->GetObject();
  return doc.GetWarnings();
}

TEST(ObjectMessages, DamagedObjectsNameObjectAndOffset) {
  const TDamageCase cases[] = {
      {"missing endobj", "3 0 obj\n<< /A 1 >>\nxyz\n", "object 3 0 at offset %lld: expected 'endobj'", 19},
      {"nothing after obj", "3 0 obj\n) )\nendobj\n", "object 3 0 at offset %lld: expected an object after 'obj'", 8},
      {"stream without end", "3 0 obj\n<< /Filter /None >>\nstream\nabcdefghijklmnop\n",
       "object 3 0 at offset %lld: expected 'endstream' (the stream's data are left out)", 35},
      {"another object's header", "4 0 obj\n<< /A 1 >>\nendobj\n", "object 3 0 at offset %lld: expected '3 0 obj'", 0},
  };
  for (const TDamageCase& c : cases) {
    int64_t offset3 = 0;
    const std::vector<std::string> warnings = warningsFor(c.body, offset3);
    char expected[200];
    std::snprintf(expected, sizeof expected, c.message, static_cast<long long>(offset3 + c.delta));
    EXPECT_EQ(warnings, std::vector<std::string>{expected}) << c.what;
  }
}

TEST(ObjectMessages, SoundObjectsGiveNoMessage) {
  const std::string bodies[] = {"3 0 obj\n<< /A 1 >>\nendobj\n", "3 0 obj 42 endobj\n",
                                "3 0 obj\n<< /Length 3 >>\nstream\nabc\nendstream\nendobj\n",
                                "3 0 obj\n[ (a) ] % comment\nendobj\n"};
  for (const std::string& body : bodies) {
    int64_t offset3 = 0;
    EXPECT_TRUE(warningsFor(body, offset3).empty()) << body;
  }
}

// An AES-encrypted string cut short names the object that holds it.
TEST(ObjectMessages, UndecryptableStringsNameTheObject) {
  struct TCase {
    const char* hex;
    const char* problem;  // empty: no message
  } cases[] = {
      {"0011", "2 bytes, shorter than the AES initialisation vector"},
      {"00112233445566778899AABBCCDDEEFF0011223344", "21 bytes, not a whole number of AES blocks"},
      {"", ""},
  };
  for (const TCase& c : cases) {
    TPDFDocument doc;
    doc.InitNewDocument();
    TPDFStructure& pool = doc.GetPool();
    TPDFDictionary* dict = pool.NewDictionary();
    dict->SetValue("Marker", pool.NewString("secret text", psmHex));
    TPDFIndRef* ref = doc.AddIndirectRef(dict);
    doc.GetTrailer()->SetValue("Probe", ref);
    ASSERT_TRUE(doc.SetEncryption(u"owner", u"", 15, 15, 2));
    std::string file = doc.SaveToString();
    const size_t marker = file.find("/Marker <");
    ASSERT_NE(marker, std::string::npos);
    const size_t open = marker + 8, close = file.find('>', open);
    // Padded with white space (ignored in hex strings) so that no offset moves.
    std::string digits = c.hex;
    ASSERT_LE(digits.size(), close - open - 1);
    digits.resize(close - open - 1, ' ');
    file.replace(open + 1, close - open - 1, digits);

    TPDFDocument damaged;
    ASSERT_EQ(damaged.LoadFromString(file, u""), TPDFDocument::kLoadOk);
    TPDFIndObj* record = damaged.FindObject(ref->GetRefNumber());
    ASSERT_NE(record, nullptr);
    ASSERT_NE(record->GetObject(), nullptr);
    const std::string place = "object " + std::to_string(ref->GetRefNumber()) + " 0: cannot decrypt string: ";
    std::vector<std::string> expected;
    if (*c.problem) expected.push_back(place + c.problem);
    EXPECT_EQ(damaged.GetWarnings(), expected) << c.hex;
  }
}

}  // namespace
