// Building Type 1 font programs in tests: the encryption of the private part
// and of charstrings, and charstring numbers.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

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

}  // namespace pvlrender
