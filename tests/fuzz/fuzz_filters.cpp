// Stream filters on arbitrary bytes. The first bytes choose the filter (or
// chain) and its predictor parameters; the rest is the data. Decoders must
// never crash, hang or pass the output limit, and report failures through
// their status with an empty result.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "objects/PavonaFlate.h"
#include "objects/PavonaStructure.h"

namespace {

constexpr uint64_t kLimit = uint64_t(8) << 20;

void check(const std::string& out, TPDFDecodeStatus st) {
  if (out.size() > kLimit) std::abort();
  if ((st == TPDFDecodeStatus::dsTooLarge || st == TPDFDecodeStatus::dsFailed) && !out.empty()) std::abort();
}

int32_t pick(uint8_t b, std::initializer_list<int32_t> usual) {
  // Mostly sensible values, sometimes anything (negative, zero, huge).
  if (b < 200) return usual.begin()[b % usual.size()];
  return static_cast<int32_t>(int8_t(b)) * 1000003;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool limited = [] {
    SetMaxDecodedSize(kLimit);
    return true;
  }();
  (void)limited;
  if (size < 6) return 0;
  const uint8_t op = data[0] % 11;
  TPDFFlateParms p;
  p.Predictor = pick(data[1], {1, 2, 10, 11, 12, 13, 14, 15, 5});
  p.Colors = pick(data[2], {1, 3, 4, 2, 32, 0});
  p.BitsPerComponent = pick(data[3], {8, 1, 2, 4, 16, 3});
  p.Columns = pick(data[4], {1, 3, 5, 17, 100, 1000, 0});
  const uint8_t flags = data[5];
  std::string_view in(reinterpret_cast<const char*>(data + 6), size - 6);
  TPDFDecodeStatus st = TPDFDecodeStatus::dsOk;
  std::string out;
  switch (op) {
    case 0:
      out = DecompressString(in, &st);
      break;
    case 1:
      out = FlateDecodeWithPredictor(in, p, &st);
      break;
    case 2:
      out = ASCII85DecodeString(in, &st);
      break;
    case 3:
      out = ASCIIHexDecodeString(in, &st);
      break;
    case 4:
    case 5: {
      TPDFLZWDecompressor lzw;
      lzw.EarlyChange = flags & 1;
      lzw.MSBFirst = !(flags & 2);
      lzw.InitialCodeSize = (flags & 4) ? 2 + (flags >> 4) : 9;
      TPDFLZWParms lp{p.Predictor, p.Colors, p.BitsPerComponent, p.Columns};
      out = op == 4 ? lzw.Decode(in, &st) : lzw.DecodeWithParms(in, lp, &st);
      break;
    }
    case 6: {
      // ASCII85 then Flate with a predictor, as /Filter [/A85 /Fl] does.
      std::string mid = ASCII85DecodeString(in, &st);
      check(mid, st);
      out = FlateDecodeWithPredictor(mid, p, &st);
      break;
    }
    case 7:
      out = UndoPredictor(in, p, &st);
      if (out.size() > in.size()) std::abort();
      break;
    case 8: {
      // Compression round trip must be exact.
      std::string z = CompressString(in);
      if (z.empty() != in.empty()) std::abort();
      out = DecompressString(z, &st);
      if (out != in || st != TPDFDecodeStatus::dsOk) std::abort();
      break;
    }
    case 9: {
      std::string text = ASCII85EncodeString(in);
      out = ASCII85DecodeString(text, &st);
      if (out != in || st != TPDFDecodeStatus::dsOk) std::abort();
      break;
    }
    case 10: {
      // A filter by name with a parameter dictionary parsed from the data
      // up to the first line end: any kind of value may stand in /DecodeParms.
      static const char* const names[] = {"FlateDecode",    "Fl",       "LZWDecode", "LZW", "ASCII85Decode",
                                          "ASCIIHexDecode", "DCTDecode"};
      size_t eol = in.find('\n');
      std::string_view text = in.substr(0, eol == std::string_view::npos ? 0 : eol);
      std::string_view body = eol == std::string_view::npos ? in : in.substr(eol + 1);
      TPDFStructure pool;
      const TPDFDictionary* parms = PDFAsDictionary(pool.ParseObject(text));
      out = DecodeFilter(names[flags % 7], body, parms, &st);
      break;
    }
  }
  check(out, st);
  return 0;
}
