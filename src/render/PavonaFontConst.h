// Process-wide font constants: the PDF Latin character set with its codes in
// the four Latin encodings, the Symbol character set, the widths of the
// standard fonts, the glyph list (glyph name -> Unicode), the dingbats font
// and the installed font families per character set; and the operations that
// build a font's 256-entry glyph-name vector and derive codes, Unicode text
// and widths from it.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class TPDFArray;

constexpr int32_t kStandardGlyphCount = 229;
constexpr int32_t kSymbolGlyphCount = 189;
constexpr int32_t kDingbatsGlyphCount = 202;

// One character of the PDF Latin character set; codes are -1 where the
// encoding lacks the character.
struct TPDFStandardGlyph {
  const char* Name;
  int16_t StandardCode;
  int16_t MacRomanCode;
  int16_t WinAnsiCode;
  int16_t PDFDocCode;
  uint16_t Unicode;
};

struct TPDFSymbolGlyph {
  const char* Name;
  int16_t Code;  // in the Symbol encoding
  uint16_t Unicode;
  uint16_t Width;
};

// Sorted in ASCII order of the names.
extern const TPDFStandardGlyph kStandardGlyphs[kStandardGlyphCount];
// Widths of the standard names for the standard-font rows 1..12 (Courier,
// Helvetica and Times faces), in 1/1000 em.
extern const uint16_t kStandardWidths[12][kStandardGlyphCount];
extern const TPDFSymbolGlyph kSymbolGlyphs[kSymbolGlyphCount];
// The ZapfDingbats names (a1 ... a191) at their codes in the font's own
// encoding, with their characters and widths.
extern const TPDFSymbolGlyph kDingbatsGlyphs[kDingbatsGlyphCount];

// Encoding kinds of simple fonts.
constexpr uint8_t pdfekStandard = 0;
constexpr uint8_t pdfekMacRoman = 1;
constexpr uint8_t pdfekWinAnsi = 2;
constexpr uint8_t pdfekPDFDoc = 3;
constexpr uint8_t pdfekMacExpert = 4;
constexpr uint8_t pdfekSymbol = 5;

using TPDFGlyphNames = std::array<std::string, 256>;

// The glyph-name vector of an encoding kind.
void BuildEncodingVector(uint8_t kind, TPDFGlyphNames& names);
// Glyph keys "U+XXXX" of the symbol characters at their Symbol codes, others empty.
void BuildSymbolEncoding(TPDFGlyphNames& keys);
// The ZapfDingbats font's own encoding: its glyph names at their codes, others ".notdef".
void BuildDingbatsEncoding(TPDFGlyphNames& names);
// Standard ZapfDingbats widths of the names; other names get 750.
void DingbatsWidths(const TPDFGlyphNames& names, std::array<double, 256>& widths);
// Unicode value of a ZapfDingbats glyph name (a1 ... a191); 0 when it is not one.
uint16_t DingbatsNameToCode(std::string_view name);
// Writes a /Differences array into the vector (numbers set the code, each name
// takes the current code, which then advances). Codes outside 0..255 are not written.
void ApplyDifferences(TPDFGlyphNames& names, const TPDFArray* differences);
// Code page 1252 byte of each glyph name's character (empty where there is none).
void EncodingVectorToCodes(const TPDFGlyphNames& names, std::array<std::string, 256>& codes);
// Unicode character of each glyph name (U+0000 when the name is not in the glyph list).
void EncodingVectorToUnicode(const TPDFGlyphNames& names, std::array<std::u16string, 256>& text);
// Standard widths of the names for a standard-font row (1..12 Latin faces, 13
// Symbol); names the row does not know get 750. Other rows change nothing.
void EncodingWidths(int32_t row, const TPDFGlyphNames& names, std::array<double, 256>& widths);

// 1-based position among the standard names; 0 when absent.
int32_t StandardGlyphIndex(std::string_view name);
// Unicode value of a glyph name from the glyph list; 0 when absent.
uint16_t GlyphNameToCode(std::string_view name);
// The standard name, else the symbol name, with that Unicode value; empty when none.
std::string GlyphNameOfCode(uint16_t unicode);
// WinAnsi code of the standard character with that Unicode value; 0 when none.
uint8_t WinAnsiByteOfUnicode(uint16_t unicode);

// The dingbats font that stands in for ZapfDingbats: the installed URW
// D050000L face (an OpenType font with CFF outlines), read on each request.
// Empty when it is not installed.
std::string GetDingbatsFontData();

// Sorted family names of the fonts installed for a character set
// (DEFAULT_CHARSET 1, SHIFTJIS_CHARSET 128), enumerated once per process.
const std::vector<std::string>& InstalledFontNames(uint8_t charset);

// PDFDocEncoding byte of each code page 1252 byte.
uint8_t WinAnsiToPDFDocByte(uint8_t b);

// ---------------------------------------------------------------------------
// System-font substitution

struct TFont;

// One row of the standard-font table: the names it answers to (each followed
// by "*"), its canonical name, bounding box and vertical metrics (1/1000 em).
struct TPDFStandardFont {
  const char* Patterns;
  const char* Name;
  int32_t BBox[4];
  int32_t Ascent;
  int32_t Descent;
};
// Rows 1..14 (Courier, Courier-Bold, -BoldOblique, -Oblique, Helvetica ...,
// Times ..., Symbol, ZapfDingbats) at indexes 0..13.
extern const TPDFStandardFont kStandardFonts[14];

// Row 1..14 of the last row whose pattern list holds name + "*"; 0 when none
// (and for an empty name).
int32_t FindStandardFont(std::string_view name);
// Sets the family name and style of font for a PDF font name and the font
// descriptor's Flags (0 without a descriptor).
void MapFontNameToSystemFont(std::string_view pdfFontName, int32_t flags, TFont& font);
// Courier itself (not Courier New) is drawn with the URW Courier, Nimbus Mono
// PS, when installed: the face other readers use, lighter than the Courier
// New stand-in. Keeps the style MapFontNameToSystemFont set; false (font
// unchanged) for other names or when the face is missing.
bool MapCourierToURWFace(std::string_view pdfFontName, TFont& font);
// The installed font that stands in for "HeiseiKakuGo-W5..." names: false for
// other names. Sets family, style and the Shift-JIS character set.
bool MapJapaneseFontToSystemFont(std::string_view pdfFontName, TFont& font);

// ---------------------------------------------------------------------------
// PDF text strings

// PDFDocEncoding, or UTF-16BE after the bytes FE FF (a trailing odd byte
// becomes a last unit with that byte as its high half).
std::u16string PDFTextToWideString(std::string_view pdfText);
std::string PDFTextToUTF8(std::string_view pdfText);
// Code page 1252 bytes to PDFDocEncoding; a string beginning with FE FF is returned unchanged.
std::string WinAnsiToPDFDocBytes(std::string_view bytes);
