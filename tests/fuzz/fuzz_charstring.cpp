// Charstrings alone. The first byte chooses Type 1 or Type 2; the rest is
// split at the first 0xFF 0xFF pair into the glyph's charstring and one
// subroutine. Type 1 data goes into an eexec-encrypted private part with
// lenIV -1; Type 2 data into a minimal CFF font (the subroutine serves as
// local and global subroutine 0 and 107 times over, so biased calls land).
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "../render/Type1TestSupport.h"
#include "FuzzGlyphCanvas.h"
#include "render/PavonaType1.h"

namespace {

void putIndex(std::string& out, const std::string* items, size_t count) {
  out += static_cast<char>(count >> 8);
  out += static_cast<char>(count & 0xFF);
  if (count == 0) return;
  out += '\4';
  uint32_t off = 1;
  auto put32 = [&](uint32_t v) {
    for (int s = 24; s >= 0; s -= 8) out += static_cast<char>((v >> s) & 0xFF);
  };
  put32(off);
  for (size_t i = 0; i < count; ++i) put32(off += static_cast<uint32_t>(items[i].size()));
  for (size_t i = 0; i < count; ++i) out += items[i];
}

std::string int32Operand(uint32_t v) {
  std::string s(1, '\x1d');
  for (int k = 24; k >= 0; k -= 8) s += static_cast<char>((v >> k) & 0xFF);
  return s;
}

std::string buildCFF(const std::string& glyph, const std::string& subr) {
  std::string subrs[108];
  for (auto& s : subrs) s = subr;
  std::string charStrings[2] = {glyph, glyph};
  // Fixed-size Top DICT: CharStrings (17) and Private (18) with int32 operands.
  auto top = [&](uint32_t cs, uint32_t privSize, uint32_t privOff) {
    return int32Operand(cs) + "\x11" + int32Operand(privSize) + int32Operand(privOff) + "\x12";
  };
  std::string head = std::string("\x01\x00\x04\x04", 4);
  std::string name = "F";
  std::string tail;
  putIndex(tail, nullptr, 0);         // strings
  putIndex(tail, subrs, 108);         // global subrs
  std::string probe;
  std::string topDict = top(0, 0, 0);
  putIndex(probe, &name, 1);
  putIndex(probe, &topDict, 1);
  size_t csOffset = head.size() + probe.size() + tail.size();
  std::string csIndex;
  putIndex(csIndex, charStrings, 2);
  std::string priv = int32Operand(6) + "\x13";  // Subrs right after the 6-byte Private DICT
  size_t privOffset = csOffset + csIndex.size();
  topDict = top(static_cast<uint32_t>(csOffset), static_cast<uint32_t>(priv.size()), static_cast<uint32_t>(privOffset));
  std::string out = head;
  putIndex(out, &name, 1);
  putIndex(out, &topDict, 1);
  out += tail + csIndex + priv;
  putIndex(out, subrs, 108);
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);
  size_t cut = rest.find("\xff\xff");
  std::string glyph(rest.substr(0, cut));
  std::string subr(cut == std::string_view::npos ? std::string_view() : rest.substr(cut + 2));
  TPDFType1Decoder dec;
  TFuzzNullCanvas canvas;
  if (data[0] & 1) {
    dec.LoadCFFData(buildCFF(glyph, subr));
    dec.DrawGlyph(&canvas, IdentityMatrix, "GID:1", 0, 0);
  } else {
    std::string priv = "/Private 8 dict dup begin /lenIV -1 def /Subrs 4 array\n";
    for (int i = 0; i < 4; ++i)
      priv += "dup " + std::to_string(i) + " " + std::to_string(subr.size()) + " RD " + subr + " NP\n";
    priv += "ND\n2 index /CharStrings 2 dict dup begin\n/a " + std::to_string(glyph.size()) + " RD " + glyph +
            " ND\n/b 1 RD \x0e ND\nend\n";
    std::string clear = "%!FontType1\n12 dict begin /FontName /F def /Encoding StandardEncoding def currentdict end\n"
                        "currentfile eexec\n";
    std::string enc = pvlrender::Type1Encrypt(priv, 55665);
    dec.SplitFontData(clear + enc, static_cast<int64_t>(clear.size()), static_cast<int64_t>(enc.size()), 0);
    dec.ParseCleartext();
    dec.ParsePrivate();
    dec.DrawGlyph(&canvas, IdentityMatrix, "a", 0, 0);
  }
  return 0;
}
