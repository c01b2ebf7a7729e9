// CMaps: the parser, range storage, the predefined Japanese CMaps, and every
// CMap file of poppler-data as an oracle for the parser.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "TestSupport.h"
#include "objects/PavonaBuffer.h"
#include "render/PavonaCMap.h"
#include "render/PavonaResources.h"

namespace {

std::unique_ptr<TPavonaCMap> parseBody(const std::string& body) {
  TPavonaCMapParser parser;
  return parser.Parse("begincmap\n" + body + "\nendcmap\n");
}

std::string bytes(std::initializer_list<int> list) {
  std::string s;
  for (int b : list) s.push_back(static_cast<char>(b));
  return s;
}

TEST(CMap, CodespaceRangesKeepTheirCodeLengths) {
  auto map = parseBody("2 begincodespacerange <00> <80> <8140> <9ffc> endcodespacerange");
  ASSERT_EQ(map->CodespaceRanges.size(), 2u);
  EXPECT_EQ(map->CodespaceRanges[0].First, 0u);
  EXPECT_EQ(map->CodespaceRanges[0].Last, 0x80u);
  EXPECT_EQ(map->CodespaceRanges[0].CodeLength, 1u);
  EXPECT_EQ(map->CodespaceRanges[1].First, 0x8140u);
  EXPECT_EQ(map->CodespaceRanges[1].Last, 0x9FFCu);
  EXPECT_EQ(map->CodespaceRanges[1].CodeLength, 2u);
}

struct LookupCase {
  const char* body;
  uint32_t codeLength;
  uint32_t code;
  std::u16string unicode;  // expected LookupUnicode
};

class CMapUnicode : public testing::TestWithParam<LookupCase> {};

TEST_P(CMapUnicode, Lookup) {
  const LookupCase& c = GetParam();
  auto map = parseBody(c.body);
  EXPECT_EQ(map->LookupUnicode(c.codeLength, c.code), c.unicode) << c.body << " code " << c.code;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CMapUnicode,
    testing::Values(
        LookupCase{"1 beginbfrange <0000> <0002> <0041> endbfrange", 2, 0, u"A"},
        LookupCase{"1 beginbfrange <0000> <0002> <0041> endbfrange", 2, 2, u"C"},
        LookupCase{"1 beginbfrange <0000> <0002> <0041> endbfrange", 2, 3, u""},
        LookupCase{"1 beginbfrange <0000> <0002> <0041> endbfrange", 1, 0, u""},
        // The last unit carries into the next byte: 00FF, 0100, 0101.
        LookupCase{"1 beginbfrange <00> <02> <00FF> endbfrange", 1, 2, u"\u0101"},
        // A ligature destination moves only its last character.
        LookupCase{"1 beginbfrange <10> <11> <00660066> endbfrange", 1, 0x11, u"fg"},
        // A surrogate pair moves as one character: U+1D400 + 1.
        LookupCase{"1 beginbfrange <20> <21> <D835DC00> endbfrange", 1, 0x21, u"\U0001D401"},
        // Code ranges count across bytes: 00FE..0102 holds 0100.
        LookupCase{"1 beginbfrange <00FE> <0102> <0061> endbfrange", 2, 0x100, u"c"},
        LookupCase{"2 beginbfrange <01> <02> [<0041> <0042>] <03> <03> <0043> endbfrange", 1, 2, u"B"},
        LookupCase{"2 beginbfrange <01> <02> [<0041> <0042>] <03> <03> <0043> endbfrange", 1, 3, u"C"},
        LookupCase{"1 beginbfrange <01> <05> [<0041> <0042>] endbfrange", 1, 3, u""},
        LookupCase{"2 beginbfchar <03> <0044> <0004> <00660069> endbfchar", 1, 3, u"D"},
        LookupCase{"2 beginbfchar <03> <0044> <0004> <00660069> endbfchar", 2, 4, u"fi"},
        LookupCase{"1 beginbfchar <03> <44> endbfchar", 1, 3, u"D"},
        LookupCase{"x beginbfchar <03> <0044> endbfchar", 1, 3, u""},
        LookupCase{"1 beginbfchar <0003> <0044> endbfchar 1 beginbfchar <0003> <0045> endbfchar", 2, 3, u"D"},
        LookupCase{"1 beginbfrange <0000> <FFFF> <0020> 1 beginbfchar <0003> <0045> endbfchar", 2, 3, u"#"},
        LookupCase{"1 beginbfchar <0 0 0 3> <00 44> endbfchar", 2, 3, u"D"},
        LookupCase{"1 beginbfchar <0003> <0044 endbfchar", 2, 3, u""}));

TEST(CMap, CidRangesAndCharsGiveNumbers) {
  auto map = parseBody("1 begincidrange <8140> <817e> 633 endcidrange");
  EXPECT_EQ(map->LookupCID(2, 0x8140), 633);
  EXPECT_EQ(map->LookupCID(2, 0x817E), 633 + 0x3E);
  EXPECT_EQ(map->LookupCID(0, 0x8141), 634);
  EXPECT_EQ(map->LookupCID(1, 0x8141), 0);
  ASSERT_EQ(map->Sections.size(), 1u);
  EXPECT_EQ(map->Sections[0]->ValueSize, 2u);
  EXPECT_EQ(map->Sections[0]->GetValue(0x8140), bytes({0x02, 0x79}));
  // A range that starts below 256 and ends above is stored in two bytes.
  map = parseBody("1 begincidrange <20> <7d> 231 endcidrange 1 begincidchar <7e> 631 endcidchar");
  EXPECT_EQ(map->LookupCID(1, 0x20), 231);
  EXPECT_EQ(map->LookupCID(1, 0x7D), 231 + 0x5D);
  EXPECT_EQ(map->LookupCID(1, 0x7E), 631);
  // An array destination ends the cidrange block.
  map = parseBody("2 begincidrange <00> <01> [ 5 6 ] <02> <03> 7 endcidrange");
  EXPECT_FALSE(map->HasCode(1, 2));
}

TEST(CMap, HugeRangesCostOneEntry) {
  auto map = parseBody(
      "1 begincidrange <00000000> <ffffffff> 0 endcidrange 1 beginbfrange <00000000> <FFFFFFFF> [<0041>] endbfrange");
  ASSERT_EQ(map->Sections.size(), 2u);
  EXPECT_EQ(map->Sections[0]->GetCount(), 1);
  EXPECT_EQ(map->Sections[0]->GetValue(0xFFFFFFFF), bytes({0xFF, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(map->Sections[0]->GetValue(0x12345), bytes({0x00, 0x01, 0x23, 0x45}));
  EXPECT_EQ(map->Sections[1]->GetCount(), 1);
  // Codes too long for 32 bits, or mismatched lengths, map nothing.
  map = parseBody("1 begincidrange <0000000000> <0000000001> 0 endcidrange 1 begincidrange <00> <0001> 0 endcidrange");
  EXPECT_TRUE(map->Sections.empty());
}

TEST(CMap, TokensAndStates) {
  TPavonaCMapParser parser;
  EXPECT_TRUE(parser.Parse("1 beginbfchar <01> <0041> endbfchar")->Sections.empty());  // no begincmap
  EXPECT_TRUE(parser.Parse("")->Sections.empty());
  auto map = parser.Parse("%!comment\nbegincmap\n/CMapName /X def\n1 beginbfchar <01> <0041> endbfchar\n"
                          "<< /A 1 >> endcmap\n1 beginbfchar <02> <0042> endbfchar\n");
  EXPECT_EQ(map->LookupUnicode(1, 1), u"A");
  EXPECT_EQ(map->LookupUnicode(1, 2), u"");  // after endcmap
  // A count larger than the entries that follow stops at the end keyword.
  map = parser.Parse("begincmap 100 beginbfchar <01> <0041> endbfchar 1 beginbfchar <02> <0042> endbfchar endcmap");
  EXPECT_EQ(map->LookupUnicode(1, 2), u"B");
}

TEST(CMap, EncodeAndIdentity) {
  auto map = parseBody("1 beginbfchar <20> <01> endbfchar 1 beginbfchar <41> <02> endbfchar");
  std::string value;
  EXPECT_TRUE(map->EncodeCode(1, 0x41, value));
  EXPECT_EQ(value, "\x02");
  EXPECT_TRUE(map->EncodeCode(1, 0x42, value));
  EXPECT_EQ(value, "\x01");  // the space's value
  EXPECT_FALSE(map->EncodeCode(2, 0x41, value));
  map->IsIdentity = true;
  EXPECT_TRUE(map->HasCode(3, 7));
  EXPECT_TRUE(map->EncodeCode(2, 0x1234, value));
  EXPECT_EQ(value, "\x12\x34");
  EXPECT_FALSE(map->EncodeCode(1, 0x12, value));
  map->Clear();
  EXPECT_TRUE(map->Sections.empty());
}

TEST(CMap, BinaryLayoutRoundTripAndDamage) {
  // Two sections: (1, 2, keys 0x20 0x22) and (2, 1, key 0x8140).
  std::string data = bytes({2, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0, 2, 0, 0, 0, 0x20, 2, 0, 1, 0, 2,
                            2, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 0x40, 0x81, 9});
  TPavonaCMap map;
  map.LoadFromString(data);
  ASSERT_EQ(map.Sections.size(), 2u);
  EXPECT_EQ(map.LookupCID(1, 0x20), 1);
  EXPECT_EQ(map.LookupCID(1, 0x22), 2);
  EXPECT_EQ(map.LookupCID(2, 0x8140), 9);
  for (size_t cut = 0; cut < data.size(); ++cut) {
    map.LoadFromString(std::string_view(data).substr(0, cut));
    EXPECT_LE(map.Sections.size(), 2u);
  }
  // A section claiming too many entries stops reading.
  std::string big = bytes({1, 0, 0, 0, 2, 0, 0, 0, 2, 0, 0, 0, 0, 0, 1, 0});
  map.LoadFromString(big);
  EXPECT_TRUE(map.Sections.empty());
}

TEST(CMap, PredefinedResources) {
  auto map = LoadPredefinedCMap(kResourceCMap90msRKSJH);
  ASSERT_EQ(map->Sections.size(), 2u);
  EXPECT_EQ(map->Sections[0]->CodeLength, 1u);
  EXPECT_EQ(map->Sections[1]->CodeLength, 2u);
  EXPECT_FALSE(map->HasCode(1, 0x80));
  EXPECT_TRUE(map->HasCode(1, 0xA0));
  EXPECT_TRUE(LoadPredefinedCMap(4711)->Sections.empty());

  EXPECT_EQ(PredefinedCMapToUnicode("90ms-RKSJ-H", "Adobe-Japan1-4", 0x20), u"\u2002");
  EXPECT_EQ(PredefinedCMapToUnicode("90msp-RKSJ-H", "Adobe-Japan1-4", 0x20), u" ");  // CID 1
  EXPECT_EQ(PredefinedCMapToUnicode("90ms-RKSJ-H", "Adobe-Japan1-4", 0x82A0), u"\u3042");
  EXPECT_EQ(PredefinedCMapToUnicode("Identity-H", "Adobe-Japan1-2", 843), u"\u3042");
  EXPECT_EQ(PredefinedCMapToUnicode("Identity-H", "Adobe-Identity-0", 0x4E00), u"\u4E00");
  EXPECT_EQ(PredefinedCMapToUnicode("Identity-H", "Adobe-GB1-0", 1), u"");
  EXPECT_EQ(PredefinedCMapToUnicode("UniGB-UCS2-H", "Adobe-Japan1-0", 1), u"");

  std::vector<uint16_t> codes;
  ASSERT_TRUE(PredefinedCMapEncode("90ms-RKSJ-H", "", std::string("\x41\x82\xA0\x42"), codes));
  EXPECT_EQ(codes, (std::vector<uint16_t>{0x41, 0x82A0, 0x42}));
  ASSERT_TRUE(PredefinedCMapEncode("Identity-H", "", std::string("\x01\x02\x03"), codes));
  EXPECT_EQ(codes, (std::vector<uint16_t>{0x0102}));
  EXPECT_FALSE(PredefinedCMapEncode("Nope", "", "ab", codes));
  EXPECT_TRUE(codes.empty());
  ASSERT_TRUE(PredefinedCMapEncode("90msp-RKSJ-H", "", std::string("\x82"), codes));
  EXPECT_TRUE(codes.empty());
}

// The compiled resources agree with the CMap files they were made from.
TEST(CMap, PredefinedResourcesAgreeWithTheirSources) {
  const struct {
    int32_t id;
    const char* file;
  } sources[] = {{kResourceCMap90msRKSJH, "90ms-RKSJ-H"}, {kResourceCMap90mspRKSJH, "90msp-RKSJ-H"}};
  for (const auto& s : sources) {
    auto resource = LoadPredefinedCMap(s.id);
    TPavonaCMapParser parser;
    auto parsed = parser.Parse(pvltest::ReadFile(std::string(PVL_SOURCE_DIR) + "/data/" + s.file));
    int checked = 0;
    for (uint32_t code = 0; code < 0x10000; ++code) {
      uint32_t length = code < 0x100 ? 1 : 2;
      ASSERT_EQ(resource->LookupCID(length, code), parsed->LookupCID(length, code)) << s.file << " " << code;
      checked += parsed->HasCode(length, code);
    }
    EXPECT_GT(checked, 7000);
  }
}

// Every CMap file of poppler-data parses, and sampled codes of every range and
// character line give what the line says (read here line by line, apart from
// our tokenizer). Codes defined twice keep their first definition.
TEST(CMap, PopplerDataFiles) {
  const std::filesystem::path root = "/usr/share/poppler/cMap";
  if (!std::filesystem::exists(root)) GTEST_SKIP() << "poppler-data is not installed";
  int files = 0, lines = 0;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
    if (!entry.is_regular_file()) continue;
    std::string text = pvltest::ReadFile(entry.path().string());
    TPavonaCMapParser parser;
    auto map = parser.Parse(text);
    ++files;
    // Font-switching maps ("usefont") overlay whole-range defaults with later
    // ranges; the line-by-line oracle below does not model that.
    if (text.find("usefont") != std::string::npos) continue;
    std::istringstream in(text);
    std::string line, block;
    std::map<std::pair<uint32_t, uint32_t>, bool> seen;
    while (std::getline(in, line)) {
      if (line.find("begincidrange") != std::string::npos || line.find("begincidchar") != std::string::npos ||
          line.find("beginbfrange") != std::string::npos || line.find("beginbfchar") != std::string::npos) {
        block = line.substr(line.find("begin"));
        block.erase(block.find_last_not_of(" \t\r") + 1);
        continue;
      }
      if (line.rfind("end", 0) == 0) {
        block.clear();
        continue;
      }
      if (block.empty() || line.empty() || line[0] != '<') continue;
      std::istringstream fields(line);
      std::string lo, hi, dest;
      if (block == "begincidrange" || block == "beginbfrange")
        fields >> lo >> hi >> dest;
      else
        fields >> lo >> dest, hi = lo;
      if (dest.empty() || dest[0] == '[') continue;
      uint32_t length = static_cast<uint32_t>(lo.size() - 2) / 2;
      uint32_t first = static_cast<uint32_t>(std::stoul(lo.substr(1, lo.size() - 2), nullptr, 16));
      uint32_t last = static_cast<uint32_t>(std::stoul(hi.substr(1, hi.size() - 2), nullptr, 16));
      for (uint32_t code : {first, last, first + (last - first) / 2}) {
        if (seen.count({length, code})) continue;
        seen[{length, code}] = true;
        if (block == "begincidrange" || block == "begincidchar") {
          uint32_t cid = static_cast<uint32_t>(std::stoul(dest)) + (code - first);
          if (cid > 0xFFFF) continue;
          ASSERT_EQ(map->LookupCID(length, code), cid) << entry.path() << ": " << line;
        } else if (dest.size() == 6) {  // one UTF-16 unit
          uint32_t unit = static_cast<uint32_t>(std::stoul(dest.substr(1, 4), nullptr, 16)) + (code - first);
          if (unit > 0xFFFF) continue;
          ASSERT_EQ(map->LookupUnicode(length, code), std::u16string(1, static_cast<char16_t>(unit)))
              << entry.path() << ": " << line;
        }
        ++lines;
      }
    }
  }
  EXPECT_GT(files, 150);
  EXPECT_GT(lines, 100000);
}

TEST(CMap, OffsetValues) {
  EXPECT_EQ(OffsetCMapValue(bytes({0xFF}), 1), bytes({0x01, 0x00}));
  EXPECT_EQ(OffsetCMapValue(bytes({0x00, 0x41}), 2), bytes({0x00, 0x43}));
  EXPECT_EQ(OffsetCMapValue(bytes({0x01, 0xFF, 0xFF}), 1), bytes({0x02, 0x00, 0x00}));
  EXPECT_EQ(OffsetCMapValue(bytes({0xFF, 0xFF, 0xFF}), 1), bytes({0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(OffsetUnicodeText(u"\uFFFF", 1), u"\U00010000");
  EXPECT_EQ(OffsetUnicodeText(u"ffi", 0), u"ffi");
  EXPECT_EQ(OffsetUnicodeText(u"", 5), u"");
  EXPECT_EQ(OffsetUnicodeText(u"\U0010FFFF", 9), u"\U0010FFFF");
}

}  // namespace

namespace {

TEST(CMap, ParsesFromTheByteReader) {
  TPVLBuffer reader;
  reader.SetString("begincmap 1 beginbfchar <01> <0041> endbfchar endcmap");
  reader.SetPosition(10);
  TPavonaCMapParser parser;
  auto map = parser.Parse(reader);
  EXPECT_EQ(map->LookupUnicode(1, 1), u"A");
}

}  // namespace
