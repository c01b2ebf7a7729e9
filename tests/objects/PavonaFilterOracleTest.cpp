// Our filter chains against qpdf's decoding of the same corpus streams
// (Flate with PNG/TIFF predictors, LZW, ASCII85, ASCIIHex and chains).
#include <gtest/gtest.h>

#include <map>
#include <sstream>

#include "TestSupport.h"
#include "objects/PavonaFlate.h"
#include "objects/PavonaStructure.h"

using DS = TPDFDecodeStatus;

namespace {

const char* const kFiles[] = {
    "pdfjs/TAMReview.pdf",             // images with PNG predictor 15
    "samples/imagemagick-images.pdf",  // LZW and ASCII85 images
    "samples/imagemagick-lzw.pdf",
    "samples/imagemagick-ASCII85Decode.pdf",
    "pdfjs/asciihexdecode.pdf",
    "pdfjs/cmykjpeg.pdf",  // [/ASCII85Decode /FlateDecode]
    "samples/inline-image.pdf",
    "samples/reportlab-overlay.pdf",
    "pdfjs/ZapfDingbats.pdf",  // cross-reference streams with predictor 12
    "pdfjs/annotation-line.pdf",
    "pdfjs/annotation-choice-widget.pdf",
    "pdfjs/bug_jpx.pdf",
    "samples/pdflatex-image.pdf",
    "samples/crazyones-pdfa.pdf",
    "samples/libreoffice-form.pdf",
    "pdfjs/poppler-90-0-fuzzed.pdf",  // many short ASCII85 / ASCIIHex streams, some damaged
};

struct FilterItem {
  std::string name;
  std::map<std::string, int32_t> parms;  // only the numeric ones given
};

std::vector<std::string> split(const std::string& s, char sep) {
  std::vector<std::string> out;
  std::string cur;
  std::istringstream in(s);
  while (std::getline(in, cur, sep)) out.push_back(cur);
  if (!s.empty() && s.back() == sep) out.emplace_back();
  return out;
}

DS worse(DS a, DS b) {
  return static_cast<int>(b) > static_cast<int>(a) ? b : a;
}

int32_t parm(const FilterItem& f, const char* key, int32_t def) {
  auto it = f.parms.find(key);
  return it == f.parms.end() ? def : it->second;
}

// One filter through DecodeFilter with a /DecodeParms dictionary holding
// the numeric parameters qpdf reported.
std::string applyFilter(TPDFStructure& pool, const FilterItem& f, const std::string& data, DS& status) {
  TPDFDictionary* parms = nullptr;
  if (!f.parms.empty()) {
    parms = pool.NewDictionary();
    for (const auto& [key, value] : f.parms) parms->SetValue(key, pool.NewNumeric(value));
  }
  DS st = DS::dsOk;
  std::string out = DecodeFilter(f.name, data, parms, &st);
  status = worse(status, st);
  return out;
}

}  // namespace

TEST(FilterOracle, CorpusStreamsDecodeLikeQpdf) {
  if (!pvltest::HaveTool("qpdf") || !pvltest::HaveTool("python3")) GTEST_SKIP() << "qpdf or python3 missing";
  pvltest::TempDir dir;
  std::vector<std::string> argv = {"python3", std::string(PVL_SOURCE_DIR) + "/tests/objects/oracle/qpdf_streams.py",
                                   dir.Path()};
  for (const char* f : kFiles) argv.push_back(pvltest::CorpusPath(f));
  auto r = pvltest::RunCommand(argv);
  ASSERT_EQ(r.exitCode, 0) << r.err;

  static const char* const keys[] = {"Predictor", "Colors", "BitsPerComponent", "Columns", "EarlyChange"};
  int compared = 0, damaged = 0;
  std::map<std::string, int> seen;  // what the comparisons covered
  for (const std::string& line : split(r.out, '\n')) {
    if (line.empty()) continue;
    auto cols = split(line, '\t');
    ASSERT_EQ(cols.size(), 4u) << line;
    std::vector<FilterItem> chain;
    for (const std::string& item : split(cols[3], ';')) {
      auto fields = split(item, ',');
      ASSERT_EQ(fields.size(), 6u) << item;
      FilterItem f{fields[0], {}};
      for (int k = 0; k < 5; ++k)
        if (!fields[k + 1].empty()) f.parms[keys[k]] = std::stoi(fields[k + 1]);
      chain.push_back(f);
    }
    std::string data = pvltest::ReadFile(cols[0]);
    const std::string expected = pvltest::ReadFile(cols[1]);
    DS status = DS::dsOk;
    TPDFStructure pool;
    for (const auto& f : chain) data = applyFilter(pool, f, data, status);
    if (status != DS::dsOk) {
      // Damaged data (here: fuzzed streams cut before their end marker, or
      // ASCII85 groups out of range) may be repaired differently by another
      // reader, but the bytes before the damage must not be thrown away.
      ++damaged;
      EXPECT_FALSE(data.empty() && !expected.empty()) << cols[2] << " " << cols[3];
      continue;
    }
    EXPECT_EQ(data.size(), expected.size()) << cols[2] << " " << cols[3];
    EXPECT_TRUE(data == expected) << cols[2] << " " << cols[3];
    ++compared;
    std::string kind = chain[0].name;
    if (chain.size() > 1) kind = "chain";
    int pred = parm(chain.back(), "Predictor", 1);
    if (pred >= 10) kind += " PNG";
    if (pred == 2) kind += " TIFF";
    ++seen[kind];
  }
  EXPECT_GE(compared, 150);
  EXPECT_LE(damaged, compared / 4);
  std::string covered;
  for (const auto& [k, n] : seen) covered += k + "=" + std::to_string(n) + " ";
  for (const char* kind :
       {"FlateDecode", "FlateDecode PNG", "LZWDecode", "ASCII85Decode", "ASCIIHexDecode", "AHx", "A85", "chain"})
    EXPECT_GT(seen[kind], 0) << kind << " not covered; covered: " << covered;
}
