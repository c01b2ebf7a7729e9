// One filter of a stream's /Filter chain with its /DecodeParms dictionary.
#include <climits>

#include "objects/PavonaFlate.h"

namespace {

// The parameter as a 32-bit integer; missing or not a number gives def.
int32_t intParm(const TPDFDictionary* parms, std::string_view key, int32_t def) {
  if (!parms) return def;
  TPDFNumeric* n = PDFAsNumeric(parms->GetValue(key, true));
  if (!n) return def;
  int64_t v = n->AsInteger();
  if (v < INT32_MIN) return INT32_MIN;
  if (v > INT32_MAX) return INT32_MAX;
  return static_cast<int32_t>(v);
}

}  // namespace

std::string DecodeFilter(std::string_view name, std::string_view data, const TPDFDictionary* parms,
                         TPDFDecodeStatus* status, size_t expectedSize) {
  if (status) *status = TPDFDecodeStatus::dsOk;
  if (name == "FlateDecode" || name == "Fl") {
    TPDFFlateParms p;
    p.Predictor = intParm(parms, "Predictor", 1);
    if (p.Predictor < 2) return DecompressString(data, status, expectedSize);
    p.Colors = intParm(parms, "Colors", 1);
    p.BitsPerComponent = intParm(parms, "BitsPerComponent", 8);
    p.Columns = intParm(parms, "Columns", 1);
    return FlateDecodeWithPredictor(data, p, status, expectedSize);
  }
  if (name == "ASCII85Decode" || name == "A85") return ASCII85DecodeString(data, status);
  if (name == "ASCIIHexDecode" || name == "AHx") return ASCIIHexDecodeString(data, status);
  if (name == "LZWDecode" || name == "LZW") {
    TPDFLZWParms p;
    p.Predictor = intParm(parms, "Predictor", 1);
    p.Colors = intParm(parms, "Colors", 1);
    p.BitsPerComponent = intParm(parms, "BitsPerComponent", 8);
    p.Columns = intParm(parms, "Columns", 1);
    TPDFLZWDecompressor lzw;
    lzw.MSBFirst = true;
    lzw.InitialCodeSize = 9;
    lzw.EarlyChange = intParm(parms, "EarlyChange", 1) == 1;
    return lzw.DecodeWithParms(data, p, status);
  }
  // Image codecs, Crypt and unknown names: the data passes on unchanged.
  return std::string(data);
}
