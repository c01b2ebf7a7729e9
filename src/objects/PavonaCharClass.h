// Character classes of PDF syntax, shared by every reader of PDF bytes
// (object parser, cross-reference reader, content-stream lexers, inline
// images, embedded font and CMap programs), so that all of them agree on
// where a token ends.
//
// White space: NUL, TAB, LF, FF, CR and SPACE. Delimiters: ( ) < > [ ] { } / %.
// Every other byte is a regular character. The classes are table lookups:
// they sit in the innermost loops of the lexers.
#pragma once

#include <array>
#include <cstdint>

namespace pdfchar {

enum : uint8_t { kWhite = 1, kDelimiter = 2, kDigit = 4, kHexDigit = 8 };

constexpr std::array<uint8_t, 256> makeClassTable() {
  std::array<uint8_t, 256> table{};
  for (unsigned char c : {0, 9, 10, 12, 13, 32}) table[c] |= kWhite;
  for (unsigned char c : {'(', ')', '<', '>', '[', ']', '{', '}', '/', '%'}) table[c] |= kDelimiter;
  for (int c = '0'; c <= '9'; ++c) table[static_cast<size_t>(c)] |= kDigit | kHexDigit;
  for (int c = 'A'; c <= 'F'; ++c) table[static_cast<size_t>(c)] |= kHexDigit;
  for (int c = 'a'; c <= 'f'; ++c) table[static_cast<size_t>(c)] |= kHexDigit;
  return table;
}

inline constexpr std::array<uint8_t, 256> kClassTable = makeClassTable();

constexpr uint8_t classOf(char c) {
  return kClassTable[static_cast<unsigned char>(c)];
}

}  // namespace pdfchar

// NUL, TAB, LF, FF, CR or SPACE.
constexpr bool PDFIsWhite(char c) {
  return (pdfchar::classOf(c) & pdfchar::kWhite) != 0;
}
constexpr bool PDFIsWhite(unsigned char c) {
  return PDFIsWhite(static_cast<char>(c));
}

// One of ( ) < > [ ] { } / %.
constexpr bool PDFIsDelimiter(char c) {
  return (pdfchar::classOf(c) & pdfchar::kDelimiter) != 0;
}
constexpr bool PDFIsDelimiter(unsigned char c) {
  return PDFIsDelimiter(static_cast<char>(c));
}

// Neither white space nor a delimiter: part of a name, number or keyword.
constexpr bool PDFIsRegular(char c) {
  return (pdfchar::classOf(c) & (pdfchar::kWhite | pdfchar::kDelimiter)) == 0;
}
constexpr bool PDFIsRegular(unsigned char c) {
  return PDFIsRegular(static_cast<char>(c));
}

// A token ends before white space or a delimiter (or at the end of the data).
constexpr bool PDFEndsToken(char c) {
  return !PDFIsRegular(c);
}

constexpr bool PDFIsDigit(char c) {
  return (pdfchar::classOf(c) & pdfchar::kDigit) != 0;
}

// Value of a hex digit in either case; -1 for any other byte.
constexpr int PDFHexValue(char c) {
  if ((pdfchar::classOf(c) & pdfchar::kHexDigit) == 0) return -1;
  if (c <= '9') return c - '0';
  return (c | 0x20) - 'a' + 10;
}
constexpr int PDFHexValue(unsigned char c) {
  return PDFHexValue(static_cast<char>(c));
}
