// Stream data: the /Filter chain with its parameters, storing new data,
// loading files.
#include <gtest/gtest.h>

#include "PavonaStructureTestSupport.h"
#include "TestSupport.h"
#include "objects/PavonaExtra.h"
#include "objects/PavonaFlate.h"
#include "objects/PavonaStructure.h"

namespace {

std::string zlibCompress(const std::string& data) {
  std::string out = CompressString(data);
  EXPECT_FALSE(out.empty());
  return out;
}

std::string toHex(const std::string& data) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : data) {
    out += digits[c >> 4];
    out += digits[c & 15];
    if (out.size() % 60 == 0) out += '\n';
  }
  return out;
}

// A stream with the given dictionary text and raw data.
TPDFStream* makeStream(TPDFStructure& pool, std::string_view dict, std::string raw) {
  return pool.NewStreamWith(std::move(raw), PDFAsDictionary(pool.ParseObject(dict)));
}

const std::string kText = "BT /F1 12 Tf 72 712 Td (Hello, world) Tj ET\n" + std::string(300, 'x');

TEST(PavonaStructureStream, NewStreamCompressesAndDecodes) {
  TPDFStructure pool;
  TPDFStream* s = pool.NewStream(kText, true);
  EXPECT_EQ(s->GetDictionary()->GetNameValue("Filter"), "FlateDecode");
  EXPECT_EQ(s->GetDictionary()->GetInteger("Length", -1), static_cast<int64_t>(s->GetData().size()));
  EXPECT_LT(s->GetData().size(), kText.size());
  TPDFDecodeStatus status = TPDFDecodeStatus::dsFailed;
  EXPECT_EQ(s->GetDecodedData(&status), kText);
  EXPECT_EQ(status, TPDFDecodeStatus::dsOk);

  TPDFStream* plain = pool.NewStream(kText, false);
  EXPECT_EQ(plain->GetDictionary()->GetValue("Filter"), nullptr);
  EXPECT_EQ(plain->GetData(), kText);
  EXPECT_EQ(plain->GetDecodedData(), kText);

  // Nothing to compress: stored as it is, without a filter.
  TPDFStream* empty = pool.NewStream("", true);
  EXPECT_EQ(empty->GetDictionary()->GetValue("Filter"), nullptr);
  EXPECT_EQ(empty->GetDictionary()->GetInteger("Length", -1), 0);
}

TEST(PavonaStructureStream, SetDataReplacesFilterLengthAndParameters) {
  TPDFStructure pool;
  TPDFStream* s =
      makeStream(pool, "<< /Length 9 0 R /Filter /LZWDecode /DecodeParms << /EarlyChange 0 >> /DP 3 >>", "old");
  s->SetData(kText, true);
  TPDFDictionary* d = s->GetDictionary();
  EXPECT_EQ(d->GetNameValue("Filter"), "FlateDecode");
  EXPECT_EQ(d->GetValue("DecodeParms"), nullptr);
  EXPECT_EQ(d->GetValue("DP"), nullptr);
  ASSERT_EQ(d->GetValue("Length")->GetKind(), pdfkNumeric);  // the reference became a number
  EXPECT_EQ(d->GetInteger("Length", -1), static_cast<int64_t>(s->GetData().size()));
  EXPECT_EQ(s->GetDecodedData(), kText);

  s->SetData("plain", false);
  EXPECT_EQ(d->GetValue("Filter"), nullptr);
  EXPECT_EQ(s->GetData(), "plain");
  EXPECT_EQ(d->GetInteger("Length", -1), 5);

  s->SetRawData("raw bytes");
  EXPECT_EQ(d->GetInteger("Length", -1), 9);
  EXPECT_EQ(s->GetData(), "raw bytes");
}

TEST(PavonaStructureStream, FilterChainsInOrder) {
  TPDFStructure pool;
  // ASCIIHex over Flate, written as a chain in decoding order.
  TPDFStream* chain =
      makeStream(pool, "<< /Filter [ /ASCIIHexDecode /FlateDecode ] >>", toHex(zlibCompress(kText)) + ">");
  EXPECT_EQ(chain->GetDecodedData(), kText);
  // Image filters reach the image decoder still encoded.
  TPDFStream* jpeg = makeStream(pool, "<< /Filter /DCTDecode >>", "\xFF\xD8\xFF\xE0 jpeg");
  EXPECT_EQ(jpeg->GetDecodedData(), "\xFF\xD8\xFF\xE0 jpeg");
  // Unknown names pass the data on; the following filters still apply.
  TPDFStream* mixed = makeStream(pool, "<< /Filter [ /Crypt 7 /FlateDecode ] >>", zlibCompress(kText));
  EXPECT_EQ(mixed->GetDecodedData(), kText);
  TPDFStream* none = makeStream(pool, "<< /Filter [ ] >>", "as is");
  EXPECT_EQ(none->GetDecodedData(), "as is");
  // A chain longer than any real file's is refused rather than run.
  std::string names;
  for (int i = 0; i < 100000; ++i) names += "/Crypt ";
  TPDFStream* hostile = makeStream(pool, "<< /Filter [ " + names + "] >>", std::string(100000, 'x'));
  TPDFDecodeStatus status = TPDFDecodeStatus::dsOk;
  EXPECT_EQ(hostile->GetDecodedData(&status), "");
  EXPECT_EQ(status, TPDFDecodeStatus::dsFailed);
}

// Rows of 3 bytes, PNG "Up" predictor: each row adds the row above.
std::string predictedRows() {
  std::string rows;
  rows += std::string("\x02\x01\x02\x03", 4);
  rows += std::string("\x02\x01\x01\x01", 4);
  return zlibCompress(rows);
}
const std::string kPredictedDecoded("\x01\x02\x03\x02\x03\x04", 6);

TEST(PavonaStructureStream, DecodeParmsReachTheirFilter) {
  TPDFStructure pool;
  TPDFDictionary* parms = PDFAsDictionary(pool.ParseObject("<< /Predictor 12 /Columns 3 >>"));
  pool.OnLookupObject = [&](TPDFIndRef*, int32_t number, int32_t) -> TPDFObject* {
    return number == 8 ? parms : nullptr;
  };
  const std::pair<const char*, std::string> cases[] = {
      {"<< /Filter /FlateDecode /DecodeParms << /Predictor 12 /Columns 3 >> >>", kPredictedDecoded},
      {"<< /Filter /FlateDecode /DecodeParms 8 0 R >>", kPredictedDecoded},  // a reference is followed
      {"<< /Filter /FlateDecode /DP << /Predictor 12 /Columns 3 >> >>", kPredictedDecoded},
      {"<< /Filter [ /FlateDecode ] /DecodeParms [ << /Predictor 12 /Columns 3 >> ] >>", kPredictedDecoded},
  };
  for (const auto& [dict, expected] : cases)
    EXPECT_EQ(makeStream(pool, dict, predictedRows())->GetDecodedData(), expected) << dict;
  // A reference inside a /DecodeParms array is taken as it stands (no parameters).
  std::string unpredicted =
      makeStream(pool, "<< /Filter [ /FlateDecode ] /DecodeParms [ 8 0 R ] >>", predictedRows())->GetDecodedData();
  EXPECT_EQ(unpredicted.size(), 8u);
}

TEST(PavonaStructureStream, DamagedDataReportsItsStatus) {
  TPDFStructure pool;
  std::string packed = zlibCompress(kText);
  packed.resize(packed.size() / 2);
  TPDFStream* s = makeStream(pool, "<< /Filter /FlateDecode >>", packed);
  TPDFDecodeStatus status = TPDFDecodeStatus::dsOk;
  std::string decoded = s->GetDecodedData(&status);
  EXPECT_NE(status, TPDFDecodeStatus::dsOk);
  EXPECT_EQ(kText.compare(0, decoded.size(), decoded), 0);
}

TEST(PavonaStructureStream, DecodedText) {
  TPDFStructure pool;
  TPDFStream* s = pool.NewStream(WideToPDFText(u"Grüße \u20AC"), true);
  EXPECT_EQ(s->GetDecodedText(), u"Grüße \u20AC");
}

TEST(PavonaStructureStream, LoadFromFile) {
  pvltest::TempDir dir;
  const std::string path = dir.File("data.bin");
  pvltest::WriteFile(path, kText);
  const std::u16string widePath = NativePathToWide(path);

  TPDFStructure pool;
  TPDFStream* s = makeStream(pool, "<< /DecodeParms << /Predictor 2 >> >>", "");
  s->LoadFromFile(widePath, true);
  EXPECT_EQ(s->GetDictionary()->GetNameValue("Filter"), "FlateDecode");
  EXPECT_EQ(s->GetDictionary()->GetValue("DecodeParms"), nullptr);
  EXPECT_EQ(s->GetDictionary()->GetInteger("Length", -1), static_cast<int64_t>(s->GetData().size()));
  EXPECT_EQ(s->GetDecodedData(), kText);

  {
    std::unique_ptr<TPavonaWideFileStream> file = CreateWideFileStream(widePath, fmOpenRead | fmShareDenyWrite);
    file->SetPosition(10);  // read from the start whatever the position
    s->LoadFromFile(*file, false);
  }
  EXPECT_EQ(s->GetDictionary()->GetValue("Filter"), nullptr);
  EXPECT_EQ(s->GetData(), kText);

  // An empty file empties the data and leaves /Filter alone.
  const std::string emptyPath = dir.File("empty.bin");
  pvltest::WriteFile(emptyPath, "");
  TPDFStream* t = makeStream(pool, "<< /Filter /FlateDecode /Length 4 >>", "abcd");
  t->LoadFromFile(NativePathToWide(emptyPath), true);
  EXPECT_EQ(t->GetData(), "");
  EXPECT_EQ(t->GetDictionary()->GetNameValue("Filter"), "FlateDecode");
  EXPECT_EQ(t->GetDictionary()->GetInteger("Length", -1), 0);

  EXPECT_ANY_THROW(t->LoadFromFile(NativePathToWide(dir.File("missing.bin")), true));
}

}  // namespace
