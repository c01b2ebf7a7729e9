// Every font dictionary of the corpus loads (outlines on) without an error;
// what pdffonts reports of each font used on a page (embedded program kind,
// ToUnicode) is what the collection made of it.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <sstream>

#include "FontCollectionTestSupport.h"
#include "render/PavonaFontCollection.h"
#include "render/PavonaType1.h"
#include "render/PavonaType3.h"

namespace {

struct TPdfFontsRow {
  std::string type;
  bool embedded = false;
  bool unicode = false;
};

// pdffonts rows by object number; the columns are fixed-width after the name.
std::map<int32_t, TPdfFontsRow> PdfFonts(const std::string& file) {
  std::map<int32_t, TPdfFontsRow> rows;
  auto r = pvltest::RunCommand({"pdffonts", file});
  std::istringstream in(r.out);
  std::string line;
  int n = 0;
  while (std::getline(in, line)) {
    if (++n <= 2 || line.size() < 37 + 17 + 17 + 12) continue;
    std::string rest = line.substr(37);
    TPdfFontsRow row;
    row.type = rest.substr(0, 17);
    while (!row.type.empty() && row.type.back() == ' ') row.type.pop_back();
    std::istringstream tail(rest.substr(35));
    std::string emb, sub, uni;
    int32_t number = 0, gen = 0;
    if (!(tail >> emb >> sub >> uni >> number >> gen)) continue;
    row.embedded = emb == "yes";
    row.unicode = uni == "yes";
    rows[number] = row;
  }
  return rows;
}

TEST(FontCollectionCorpus, EveryFontLoadsAndMatchesPdffonts) {
  if (!pvltest::HaveTool("pdffonts")) GTEST_SKIP();
  int fonts = 0, compared = 0;
  std::vector<std::string> differences;
  for (const std::string& file : pvltest::CorpusPdfFiles()) {
    auto doc = pvlfont::OpenDocument(file);
    if (!doc) continue;
    std::vector<int32_t> numbers = pvlfont::FontObjectNumbers(*doc);
    if (numbers.empty()) continue;
    TPDFFontCollection fc;
    fc.LoadOutlines = true;
    std::map<int32_t, TPdfFontsRow> oracle = PdfFonts(file);
    for (int32_t n : numbers) {
      TPDFIndRef* ref = doc->GetPool().NewIndRef(n, 0);
      fc.SelectFont(ref);
      ASSERT_NE(fc.CurrentFont, nullptr) << file << " " << n;
      ++fonts;
      auto it = oracle.find(n);
      if (it == oracle.end()) continue;
      ++compared;
      const TPdfFontsRow& row = it->second;
      TPDFFontCollectionData* f = fc.CurrentFont;
      std::string why;
      if (row.embedded) {
        TPDFFontRasterizer* r = f->Rasterizer.get();
        auto* t1 = dynamic_cast<TPDFType1Decoder*>(r);
        auto* tt = dynamic_cast<TPDFTrueTypeRasterizer2*>(r);
        const bool postscript = row.type.find("Type 1") != std::string::npos || row.type.find("Type 0") != std::string::npos ||
                                row.type.find("(OT)") != std::string::npos;
        if (row.type == "Type 3") {
          if (!dynamic_cast<TPDFType3Rasterizer*>(r)) why = "no Type 3 procedures";
        } else if (postscript) {
          if (!t1 || t1->GetCharStrings().GetCount() == 0) why = "embedded PostScript program not decoded";
        } else if (row.type.find("TrueType") != std::string::npos) {
          if (!tt && !t1) why = "embedded TrueType program not decoded";
        }
      }
      if (row.unicode && f->ToUnicodeRanges.empty()) {
        // pdffonts says "uni yes" for a ToUnicode map; one with mappings must give records.
        TPDFDictionary* d = PDFAsDictionary(doc->LookupObject(n));
        TPDFStream* map = d ? PDFAsStream(PDFResolve(d->GetValue("ToUnicode"))) : nullptr;
        if (map && map->GetDecodedData().find("beginbf") != std::string::npos)
          why += (why.empty() ? "" : "; ") + std::string("ToUnicode read empty");
      }
      if (f->IsComposite != (row.type.rfind("CID", 0) == 0)) why += (why.empty() ? "" : "; ") + std::string("composite flag");
      if (!why.empty()) differences.push_back(file + " obj " + std::to_string(n) + " (" + row.type + "): " + why);
    }
  }
  for (const std::string& d : differences) std::cout << "  differs: " << d << "\n";
  std::cout << fonts << " fonts loaded, " << compared << " compared with pdffonts, " << differences.size()
            << " differ\n";
  EXPECT_GT(fonts, 100);
  EXPECT_GT(compared, 80);
  EXPECT_LE(differences.size(), 0u);
}

}  // namespace
