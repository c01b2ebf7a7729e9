// Building Type 1 font programs in tests: the encryption of the private part
// and of charstrings, and charstring numbers; and CFF programs.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace pvlrender {

// lead followed by plain, encrypted with key r (55665 for the private part,
// 4330 for charstrings); a reader drops as many bytes as lead has.
inline std::string Type1Encrypt(std::string_view plain, uint16_t r, std::string lead = "xxxx") {
  std::string out = std::move(lead);
  out += plain;
  for (char& ch : out) {
    auto c = static_cast<uint8_t>(static_cast<uint8_t>(ch) ^ (r >> 8));
    r = static_cast<uint16_t>((c + r) * 52845u + 22719u);
    ch = static_cast<char>(c);
  }
  return out;
}

// A number in a Type 1 charstring: one byte, two bytes or 255 and four bytes.
inline std::string Type1Number(int v) {
  if (v >= -107 && v <= 107) return std::string(1, static_cast<char>(v + 139));
  if (v >= 108 && v <= 1131) {
    v -= 108;
    return std::string{static_cast<char>(247 + v / 256), static_cast<char>(v % 256)};
  }
  if (v <= -108 && v >= -1131) {
    v = -v - 108;
    return std::string{static_cast<char>(251 + v / 256), static_cast<char>(v % 256)};
  }
  std::string s(1, '\xff');
  for (int k = 24; k >= 0; k -= 8) s += static_cast<char>((static_cast<uint32_t>(v) >> k) & 0xFF);
  return s;
}

// CFF builder: header, Name / Top DICT / String / Global Subr INDEXes, then
// the CharStrings INDEX, charset, Private DICT and local Subrs.
namespace cfftest {

inline std::string Index(const std::vector<std::string>& items, int offSize = 4) {
  std::string out;
  out += static_cast<char>(items.size() >> 8);
  out += static_cast<char>(items.size() & 0xFF);
  if (items.empty()) return out;
  out += static_cast<char>(offSize);
  uint32_t off = 1;
  auto put = [&](uint32_t v) {
    for (int s = (offSize - 1) * 8; s >= 0; s -= 8) out += static_cast<char>((v >> s) & 0xFF);
  };
  put(off);
  for (const auto& i : items) put(off += static_cast<uint32_t>(i.size()));
  for (const auto& i : items) out += i;
  return out;
}

inline std::string I32(int32_t v) {
  std::string s(1, '\x1d');
  for (int k = 24; k >= 0; k -= 8) s += static_cast<char>((static_cast<uint32_t>(v) >> k) & 0xFF);
  return s;
}
inline std::string D(int v) {
  return I32(v);
}  // DICT integer operand
inline std::string T2(int v) {  // Type 2 number
  if (v >= -107 && v <= 107) return std::string(1, static_cast<char>(v + 139));
  return std::string("\x1c", 1) + static_cast<char>((v >> 8) & 0xFF) + static_cast<char>(v & 0xFF);
}

struct CFFFont {
  std::vector<std::string> glyphs;  // charstrings, glyph 0 first
  std::vector<std::string> sids;    // names of glyphs 1.. (custom strings)
  std::vector<std::string> localSubrs, globalSubrs;
  std::string topExtra;  // DICT bytes added to the Top DICT
  std::vector<std::string> strings;
  std::string encoding;   // a custom encoding's bytes, placed at the end
  std::vector<int> cids;  // charset values of glyphs 1.. in place of their strings' SIDs
  int headerSize = 4;
  bool isoAdobeCharset = false;  // the predefined charset (offset 0) in place of one of format 0
  std::string build() const {
    std::vector<std::string> strs = strings;
    std::string charset(isoAdobeCharset ? 0 : 1, '\0');  // format 0
    for (size_t g = 1; g < glyphs.size() && !isoAdobeCharset; ++g) {
      int sid = 391 + static_cast<int>(strs.size());
      strs.push_back(g - 1 < sids.size() ? sids[g - 1] : "g" + std::to_string(g));
      if (g - 1 < cids.size()) sid = cids[g - 1];  // a CID-keyed font's charset holds CIDs
      charset += static_cast<char>(sid >> 8);
      charset += static_cast<char>(sid & 0xFF);
    }
    int encOff = 0;
    auto top = [&](int cs, int cset, int psize, int poff) {
      return topExtra + D(isoAdobeCharset ? 0 : cset) + "\x0f" + D(cs) + "\x11" + D(psize) + D(poff) + "\x12" +
             (encoding.empty() ? std::string() : D(encOff) + "\x10");
    };
    std::string head = std::string("\x01\x00", 2) + static_cast<char>(headerSize) + '\x04' +
                       std::string(static_cast<size_t>(headerSize - 4), '\0');
    std::string mid = Index({"Test"}) + Index({top(0, 0, 0, 0)}) + Index(strs) + Index(globalSubrs);
    int csOff = static_cast<int>(head.size() + mid.size());
    std::string cs = Index(glyphs);
    int charsetOff = csOff + static_cast<int>(cs.size());
    // Subrs (19) right after this 12-byte Private DICT; defaultWidthX (20) 0.
    std::string priv = D(static_cast<int>(localSubrs.empty() ? 0 : 12)) + "\x13" + D(0) + "\x14";
    int privOff = charsetOff + static_cast<int>(charset.size());
    encOff = privOff + static_cast<int>(priv.size() + (localSubrs.empty() ? 0 : Index(localSubrs).size()));
    std::string out = head + Index({"Test"}) + Index({top(csOff, charsetOff, static_cast<int>(priv.size()), privOff)}) +
                      Index(strs) + Index(globalSubrs) + cs + charset + priv;
    if (!localSubrs.empty()) out += Index(localSubrs);
    return out + encoding;
  }
};

}  // namespace cfftest

}  // namespace pvlrender
