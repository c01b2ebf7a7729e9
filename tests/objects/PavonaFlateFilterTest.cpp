// DecodeFilter: filter names and the parameters read from /DecodeParms.
#include <gtest/gtest.h>

#include "objects/PavonaFlate.h"
#include "objects/PavonaStructure.h"

using DS = TPDFDecodeStatus;

namespace {

class DecodeFilterTest : public ::testing::Test {
protected:
  DecodeFilterTest() {
    // Object 5 is the number 3, object 6 the name /Three.
    pool_.OnLookupObject = [this](TPDFIndRef*, int32_t number, int32_t) -> TPDFObject* {
      if (number == 5) return three_;
      if (number == 6) return name_;
      return nullptr;
    };
  }
  const TPDFDictionary* parms(std::string_view text) { return PDFAsDictionary(pool_.ParseObject(text)); }

  TPDFStructure pool_;
  TPDFObject* three_ = pool_.NewNumeric(3);
  TPDFObject* name_ = pool_.NewName("Three");
  // Three rows of three bytes, each with the Up type byte.
  const std::string rows_ = std::string("\x02\x01\x02\x03\x02\x03\x03\x03\x02\xFF\x00\x01", 12);
  const std::string decoded_ = std::string("\x01\x02\x03\x04\x05\x06\x03\x05\x07", 9);
};

}  // namespace

TEST_F(DecodeFilterTest, PredictorParametersFromTheDictionary) {
  const std::string z = CompressString(rows_);
  struct Case {
    const char* dict;
    std::string expect;
    DS status;
  } cases[] = {
      {"<< /Predictor 12 /Columns 3 >>", decoded_, DS::dsOk},
      {"<< /Predictor 12 /Columns 5 0 R >>", decoded_, DS::dsOk},  // a reference is followed
      {"<< /Predictor 12 /Columns 3.0 /Colors 1 /BitsPerComponent 8 >>", decoded_, DS::dsOk},
      // Not a number: the default (Columns 1), so rows of two bytes.
      {"<< /Predictor 12 /Columns /Three >>", std::string("\x01\x04\x07\x06\x05\x01", 6), DS::dsOk},
      {"<< /Predictor 12 /Columns 6 0 R >>", std::string("\x01\x04\x07\x06\x05\x01", 6), DS::dsOk},
      {"<< /Predictor 1 /Columns 3 >>", rows_, DS::dsOk},
      {"<< /Predictor (12) /Columns 3 >>", rows_, DS::dsOk},
      {"<< /Predictor 12 /Columns 0 >>", "", DS::dsFailed},
      {"<< /Predictor 12 /Columns 3 /Colors 100000000000000000000 >>", "", DS::dsFailed},
      {"<< /Predictor 12 /Columns 99999999999 >>", "", DS::dsDamaged},  // longer than the data
      {"<< /Predictor 12 /Columns 3 /BitsPerComponent 7 >>", "", DS::dsFailed},
  };
  for (const auto& c : cases) {
    DS st = DS::dsOk;
    EXPECT_EQ(DecodeFilter("FlateDecode", z, parms(c.dict), &st), c.expect) << c.dict;
    EXPECT_EQ(st, c.status) << c.dict;
  }
  DS st = DS::dsFailed;
  EXPECT_EQ(DecodeFilter("FlateDecode", z, nullptr, &st), rows_);
  EXPECT_EQ(st, DS::dsOk);
}

TEST_F(DecodeFilterTest, NamesAndAbbreviations) {
  const std::string z = CompressString("Hello");
  struct Case {
    const char* name;
    std::string input, expect;
  } cases[] = {
      {"FlateDecode", z, "Hello"},
      {"Fl", z, "Hello"},
      {"ASCII85Decode", "87cURD]j7BEbo80~>", "Hello world!"},
      {"A85", "87cURD]j7BEbo80~>", "Hello world!"},
      {"ASCIIHexDecode", "48 65 6C 6C 6F>", "Hello"},
      {"AHx", "48656c6c6f>", "Hello"},
      // Decoders we do not run here pass the data on unchanged.
      {"DCTDecode", "\xFF\xD8\xFF\xE0 jpeg", "\xFF\xD8\xFF\xE0 jpeg"},
      {"RunLengthDecode",
       "\x01"
       "ab\x80",
       "\x01"
       "ab\x80"},
      {"Crypt", z, z},
      {"flatedecode", z, z},  // names are case-sensitive
  };
  for (const auto& c : cases) {
    DS st = DS::dsFailed;
    EXPECT_EQ(DecodeFilter(c.name, c.input, nullptr, &st), c.expect) << c.name;
    EXPECT_EQ(st, DS::dsOk) << c.name;
  }
}

namespace {

// Codes (value, width) packed most significant bit first.
std::string packCodes(const std::vector<std::pair<unsigned, int>>& codes) {
  uint64_t acc = 0;
  int n = 0;
  std::string out;
  for (auto [code, bits] : codes) {
    acc = (acc << bits) | code;
    n += bits;
    while (n >= 8) {
      out.push_back(static_cast<char>(acc >> (n - 8)));
      n -= 8;
    }
  }
  if (n > 0) out.push_back(static_cast<char>(acc << (8 - n)));
  return out;
}

}  // namespace

TEST_F(DecodeFilterTest, LZWEarlyChangeAndPredictor) {
  // 254 literals after a clear make entries 258..510, so the next code is
  // 511: with early change the codes are 10 bits wide from here, without it
  // still 9 until entry 511 exists.
  std::vector<std::pair<unsigned, int>> early = {{256, 9}}, late = {{256, 9}};
  std::string text;
  for (unsigned i = 0; i < 254; ++i) {
    early.push_back({i, 9});
    late.push_back({i, 9});
    text.push_back(static_cast<char>(i));
  }
  early.insert(early.end(), {{65, 10}, {257, 10}});
  late.insert(late.end(), {{65, 9}, {257, 10}});
  const std::string earlyData = packCodes(early), lateData = packCodes(late);
  struct Case {
    const char* dict;
    bool early;
  } cases[] = {
      {"<< >>", true},
      {"<< /EarlyChange 1 >>", true},
      {"<< /EarlyChange 5 0 R >>", false},  // 3: on exactly when the value is 1
      {"<< /EarlyChange 0 >>", false},
      {"<< /EarlyChange /Three >>", true},  // not a number: the default 1
  };
  for (const auto& c : cases) {
    DS st = DS::dsFailed;
    EXPECT_EQ(DecodeFilter("LZWDecode", c.early ? earlyData : lateData, parms(c.dict), &st), text + "A") << c.dict;
    EXPECT_EQ(st, DS::dsOk) << c.dict;
    EXPECT_NE(DecodeFilter("LZW", c.early ? lateData : earlyData, parms(c.dict), &st), text + "A") << c.dict;
  }
  DS st = DS::dsFailed;
  EXPECT_EQ(DecodeFilter("LZW", earlyData, nullptr, &st), text + "A");

  // A PNG predictor after LZW is undone as after Flate.
  std::vector<std::pair<unsigned, int>> literal = {{256, 9}};
  for (char ch : rows_) literal.push_back({static_cast<uint8_t>(ch), 9});
  literal.push_back({257, 9});
  EXPECT_EQ(DecodeFilter("LZWDecode", packCodes(literal), parms("<< /Predictor 12 /Columns 3 >>"), &st), decoded_);
  EXPECT_EQ(st, DS::dsOk);
}
