// Cross-reference reader: the startxref search, classic tables, streams,
// hybrid files, chains with loops and offsets outside the file, and the
// reconstruction of damaged files.
#include <gtest/gtest.h>

#include <chrono>
#include <tuple>

#include "DocumentTestFiles.h"
#include "document/PavonaXRef.h"

using pvldoc::Field;
using pvldoc::FileBuilder;

namespace {

struct Entry {
  int32_t number;
  int64_t second;
  char kind;
  int32_t third;
  bool operator==(const Entry& o) const {
    return std::tie(number, second, kind, third) == std::tie(o.number, o.second, o.kind, o.third);
  }
};
std::ostream& operator<<(std::ostream& os, const Entry& e) {
  return os << e.number << " " << e.second << " " << e.kind << " " << e.third;
}

struct Capture {
  std::vector<Entry> entries;
  std::vector<std::string> trailers;
  std::vector<int64_t> sections;
  bool ok = false;
  bool hasXRefStm = false;
};

Capture Read(const std::string& text) {
  Capture c;
  TPDFXRefReader reader{std::string_view(text)};
  reader.OnEntry = [&](int32_t n, int64_t s, char k, int32_t t) { c.entries.push_back({n, s, k, t}); };
  reader.OnTrailer = [&](const std::string& t) { c.trailers.push_back(t); };
  reader.OnSection = [&](int64_t o) { c.sections.push_back(o); };
  c.ok = reader.ReadSection(reader.FindStartXRef());
  c.hasXRefStm = reader.HasXRefStm;
  return c;
}

int64_t StartXRef(const std::string& text) {
  TPDFXRefReader reader{std::string_view(text)};
  return reader.FindStartXRef();
}

// An uncompressed cross-reference stream object with the given entries.
std::string XRefStreamObject(int32_t number, const std::string& entries, const std::string& data) {
  return std::to_string(number) + " 0 obj\n<< /Type /XRef " + entries + " /Length " + std::to_string(data.size()) +
         " >>\nstream\n" + data + "\nendstream\nendobj\n";
}

}  // namespace

TEST(XRefReaderTest, FindStartXRefVariants) {
  struct Case {
    const char* name;
    std::string tail;
    int64_t expected;
  };
  const std::vector<Case> cases = {
      {"line ends after the marker", "startxref\n1234\n%%EOF\r\n\r\n\n", 1234},
      {"no line end", "startxref\n77\n%%EOF", 77},
      {"cut inside the marker", "startxref\n555\n%%E", 555},
      {"comment after the value", "startxref\n999 % the table\n%%EOF\n", 999},
      {"two updates: the last counts", "startxref\n10\n%%EOF\nxyz\nstartxref\n20\n%%EOF\n", 20},
      {"no marker", "startxref\n10\n", 0},
      {"no startxref", "%%EOF\n", 0},
      {"value not a number", "startxref\nabc\n%%EOF\n", 0},
  };
  for (const Case& c : cases) {
    std::string text = "%PDF-1.4\n" + std::string(3000, ' ') + c.tail;
    EXPECT_EQ(StartXRef(text), c.expected) << c.name;
  }
}

TEST(XRefReaderTest, ClassicTableEntriesOf19And20BytesAndSubsections) {
  std::string text = "%PDF-1.4\n";
  size_t at = text.size();
  text +=
      "xref\n0 2\n0000000000 65535 f \n0000000015 00000 n\n"  // 20 and 19 bytes
      "5 2\r\n0000000100 00002 n\r\n0000000200 00000 n \r\n"
      "trailer\n<< /Size 7 /Root 1 0 R >>\nstartxref\n" +
      std::to_string(at) + "\n%%EOF\n";
  Capture c = Read(text);
  ASSERT_TRUE(c.ok);
  std::vector<Entry> expected = {{1, 15, 'n', 0}, {5, 100, 'n', 2}, {6, 200, 'n', 0}, {0, 0, 'f', 65535}};
  EXPECT_EQ(c.entries, expected);
  ASSERT_EQ(c.trailers.size(), 1u);
  EXPECT_NE(c.trailers[0].find("/Root"), std::string::npos);
  EXPECT_EQ(c.sections, std::vector<int64_t>{static_cast<int64_t>(at)});
}

TEST(XRefReaderTest, HeaderWithCountZeroEndsTheTable) {
  std::string text = "%PDF-1.4\nxref\n0 1\n0000000000 65535 f \n0 0\ntrailer\n<< /Size 1 >>\nstartxref\n9\n%%EOF\n";
  Capture c = Read(text);
  EXPECT_TRUE(c.ok);
  EXPECT_EQ(c.entries.size(), 1u);
}

TEST(XRefReaderTest, TableShorterThanItsCountFails) {
  std::string text = "%PDF-1.4\nxref\n0 3\n0000000000 65535 f \ntrailer\n<< /Size 3 >>\nstartxref\n9\n%%EOF\n";
  Capture c = Read(text);
  EXPECT_FALSE(c.ok);
  EXPECT_EQ(c.sections, (std::vector<int64_t>{9, -9}));
}

TEST(XRefReaderTest, TrailerLongerThanTwoKilobytesIsRead) {
  FileBuilder b;
  b.Add(1, "<< /Type /Catalog >>");
  std::string big = "/Big (" + std::string(10000, 'x') + ")";
  b.Table("/Size 2 /Root 1 0 R " + big);
  Capture c = Read(b.Text());
  ASSERT_TRUE(c.ok);
  ASSERT_EQ(c.trailers.size(), 1u);
  EXPECT_NE(c.trailers[0].find(std::string(10000, 'x')), std::string::npos);
}

TEST(XRefReaderTest, IncrementalUpdateDeliversNewestSectionFirst) {
  FileBuilder b;
  b.Add(1, "<< /Type /Catalog >>");
  b.Add(2, "(old)");
  size_t first = b.Table("/Size 3 /Root 1 0 R");
  b.Add(2, "(new)");
  size_t second = b.Table("/Size 3 /Root 1 0 R /Prev " + std::to_string(first), {2});
  Capture c = Read(b.Text());
  ASSERT_TRUE(c.ok);
  EXPECT_EQ(c.sections, (std::vector<int64_t>{static_cast<int64_t>(second), static_cast<int64_t>(first)}));
  ASSERT_GE(c.entries.size(), 2u);
  EXPECT_EQ(c.entries[0], (Entry{2, static_cast<int64_t>(b.OffsetOf(2)), 'n', 0}));
  EXPECT_EQ(c.trailers.size(), 2u);
}

TEST(XRefReaderTest, PrevLoopsEndAndOffsetsOutsideTheFileFail) {
  // Two tables whose Prev point at each other, and one that points at itself.
  auto pad = [](size_t v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%010zu", v);
    return std::string(buf);
  };
  for (bool selfLoop : {false, true}) {
    std::string text = "%PDF-1.4\n";
    size_t a = text.size();
    text += "xref\n0 1\n0000000000 65535 f \ntrailer\n<< /Size 1 /Prev XXXXXXXXXX >>\n";
    size_t b = text.size();
    text += "xref\n0 1\n0000000000 65535 f \ntrailer\n<< /Size 1 /Prev " + pad(selfLoop ? b : a) + " >>\nstartxref\n" +
            std::to_string(b) + "\n%%EOF\n";
    text.replace(text.find("XXXXXXXXXX"), 10, pad(b));
    Capture c = Read(text);
    EXPECT_TRUE(c.ok) << selfLoop;
    EXPECT_EQ(c.sections.size(), selfLoop ? 1u : 2u) << selfLoop;
  }
  // Prev far outside the file.
  FileBuilder b;
  b.Add(1, "<< /Type /Catalog >>");
  b.Table("/Size 2 /Root 1 0 R /Prev 99999999999");
  Capture c = Read(b.Text());
  EXPECT_FALSE(c.ok);
  EXPECT_EQ(c.sections.back(), -99999999999);
  EXPECT_EQ(c.entries.size(), 2u);  // what was read stays delivered
}

TEST(XRefReaderTest, StreamWithoutIndexCoversZeroToSize) {
  std::string text = "%PDF-1.5\n";
  std::string data = Field(0, 1) + Field(0, 2) + Field(255, 1) +  // 0: free
                     Field(1, 1) + Field(9, 2) + Field(0, 1) +    // 1: offset 9
                     Field(2, 1) + Field(7, 2) + Field(3, 1);     // 2: in stream 7 at index 3
  size_t at = text.size();
  text += XRefStreamObject(8, "/Size 3 /W [1 2 1] /Root 1 0 R", data);
  text += "startxref\n" + std::to_string(at) + "\n%%EOF\n";
  Capture c = Read(text);
  ASSERT_TRUE(c.ok);
  std::vector<Entry> expected = {{0, 0, 'f', 255}, {1, 9, 'n', 0}, {2, 7, 'c', 3}};
  EXPECT_EQ(c.entries, expected);
  ASSERT_EQ(c.trailers.size(), 1u);
  EXPECT_NE(c.trailers[0].find("/XRef"), std::string::npos);
}

TEST(XRefReaderTest, StreamFieldWidthsIndexAndShortData) {
  std::string text = "%PDF-1.5\n";
  // W0 = 0 makes every entry type 1; W2 = 0 gives generation 0; a field of
  // 5 bytes; two subsections, the second longer than the data.
  std::string data = Field(300, 5) + Field(400, 5) + Field(500, 5) + Field(1, 2);
  size_t at = text.size();
  text += XRefStreamObject(20, "/Size 30 /W [0 5 0] /Index [10 2 20 5]", data);
  text += "startxref\n" + std::to_string(at) + "\n%%EOF\n";
  Capture c = Read(text);
  ASSERT_TRUE(c.ok);
  std::vector<Entry> expected = {{10, 300, 'n', 0}, {11, 400, 'n', 0}, {20, 500, 'n', 0}};
  EXPECT_EQ(c.entries, expected);
}

TEST(XRefReaderTest, StreamWithZeroWidthsOrHugeSizeEndsQuickly) {
  for (const char* entries : {"/Size 2000000000 /W [0 0 0]", "/Size 2000000000 /W [1 2 1]", "/Size 5 /W [1 9 1]"}) {
    std::string text = "%PDF-1.5\n";
    size_t at = text.size();
    text += XRefStreamObject(1, entries, Field(1, 4));
    text += "startxref\n" + std::to_string(at) + "\n%%EOF\n";
    auto start = std::chrono::steady_clock::now();
    Capture c = Read(text);
    EXPECT_LE(c.entries.size(), 1u) << entries;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5)) << entries;
  }
}

TEST(XRefReaderTest, StreamWithIndirectLengthFindsEndstream) {
  std::string text = "%PDF-1.5\n";
  std::string data = Field(1, 1) + Field(42, 2) + Field(0, 1);
  size_t at = text.size();
  text += "3 0 obj\n<< /Type /XRef /Size 2 /Index [1 1] /W [1 2 1] /Length 9 0 R >>\nstream\r\n" + data +
          "\r\nendstream\nendobj\nstartxref\n" + std::to_string(at) + "\n%%EOF\n";
  Capture c = Read(text);
  ASSERT_TRUE(c.ok);
  EXPECT_EQ(c.entries, (std::vector<Entry>{{1, 42, 'n', 0}}));
}

TEST(XRefReaderTest, HybridFileOrderTableThenStreamThenPrev) {
  // Older section: a table defining 1 and 2.
  FileBuilder b;
  b.Add(1, "<< /Type /Catalog >>");
  b.Add(2, "(two)");
  size_t first = b.Table("/Size 4 /Root 1 0 R");
  // Newer: the table lists 2 (changed) and 3 as free (it lives in an object
  // stream that the XRefStm stream names).
  b.Add(2, "(two again)");
  size_t streamAt = b.Size();
  std::string data = Field(2, 1) + Field(9, 2) + Field(0, 1);
  b.Raw(XRefStreamObject(8, "/Size 4 /Index [3 1] /W [1 2 1]", data));
  size_t tableAt = b.Size();
  b.Raw("xref\n2 2\n" + b.entryFor(2) + "0000000000 00001 f\r\ntrailer\n<< /Size 4 /Root 1 0 R /Prev " +
        std::to_string(first) + " /XRefStm " + std::to_string(streamAt) + " >>\nstartxref\n" + std::to_string(tableAt) +
        "\n%%EOF\n");
  Capture c = Read(b.Text());
  ASSERT_TRUE(c.ok);
  EXPECT_TRUE(c.hasXRefStm);
  ASSERT_GE(c.entries.size(), 4u);
  EXPECT_EQ(c.entries[0].number, 2);               // the table's own entry
  EXPECT_EQ(c.entries[1], (Entry{3, 9, 'c', 0}));  // then the XRefStm stream
  EXPECT_EQ(c.entries[2], (Entry{3, 0, 'f', 1}));  // the table's free entry after the stream
  EXPECT_EQ(c.entries[3].number, 1);               // then the Prev section
  EXPECT_EQ(c.sections, (std::vector<int64_t>{static_cast<int64_t>(tableAt), static_cast<int64_t>(streamAt),
                                              static_cast<int64_t>(first)}));
}

TEST(XRefReaderTest, ReconstructFindsObjectsAndTheNewestTrailer) {
  std::string text =
      "%PDF-1.4\n1 0 obj\n<< /Type /Catalog /Pages 2 0 R >>\nendobj\n2 0 obj (old) endobj 2 0 obj\n(new)\nendobj\n"
      "  3 1 obj [1 2 3] endobj\n"
      "xref\ngarbage\ntrailer\n<< /Size 4 /Root 1 0 R /Info (first) >>\ntrailer\n<< /Size 4 /Root 1 0 R >>\n";
  std::vector<Entry> entries;
  std::vector<std::string> trailers;
  TPDFXRefReader reader{std::string_view(text)};
  reader.OnEntry = [&](int32_t n, int64_t s, char k, int32_t t) { entries.push_back({n, s, k, t}); };
  reader.OnTrailer = [&](const std::string& t) { trailers.push_back(t); };
  EXPECT_FALSE(reader.ReadSection(reader.FindStartXRef()));
  ASSERT_TRUE(reader.Reconstruct());
  // Newest first: the second "2 0 obj" comes before the first one.
  size_t second2 = text.find("2 0 obj\n(new)");
  ASSERT_EQ(entries.size(), 4u);
  EXPECT_EQ(entries[0], (Entry{3, static_cast<int64_t>(text.find("3 1 obj")), 'n', 1}));
  EXPECT_EQ(entries[1], (Entry{2, static_cast<int64_t>(second2), 'n', 0}));
  ASSERT_EQ(trailers.size(), 1u);
  EXPECT_EQ(trailers[0].find("first"), std::string::npos);
}

TEST(XRefReaderTest, ReconstructMakesATrailerForTheCatalogue) {
  std::string text = "%PDF-1.4\n1 0 obj\n[0]\nendobj\n7 0 obj\n<< /Type /Catalog >>\nendobj\n";
  std::vector<std::string> trailers;
  TPDFXRefReader reader{std::string_view(text)};
  reader.OnTrailer = [&](const std::string& t) { trailers.push_back(t); };
  ASSERT_TRUE(reader.Reconstruct());
  ASSERT_EQ(trailers.size(), 1u);
  EXPECT_NE(trailers[0].find("7 0 R"), std::string::npos);
  EXPECT_NE(trailers[0].find("/Size 8"), std::string::npos);
}
