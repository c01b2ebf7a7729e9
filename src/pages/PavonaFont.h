// Fonts as the writing side sees them: the font dictionary (with descriptor,
// font file and ToUnicode stream) that a document gets when a font is added,
// and what the painter needs to write text in it: Unicode text to byte codes,
// widths, metrics and kerning pairs.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "objects/PavonaExtra.h"

class TPDFStructure;
class TPDFArray;
class TPDFDictionary;
class TPDFIndRef;

// Font kinds.
constexpr uint8_t pdffkNone = 0;
constexpr uint8_t pdffkStandard = 1;
constexpr uint8_t pdffkTrueType = 2;
constexpr uint8_t pdffkTrueTypeEmbedded = 3;
constexpr uint8_t pdffkType1 = 5;
constexpr uint8_t pdffkType3Built = 6;
constexpr uint8_t pdffkType3Read = 7;
constexpr uint8_t pdffkCIDType0 = 8;
constexpr uint8_t pdffkCIDType2 = 9;

// Widths by Unicode character: appended in any order, sorted once before the
// first lookup after a change, found by binary search (0 when absent).
class TPavonaWidthLookup {
public:
  void SetWidth(uint16_t code, int32_t width);
  int32_t GetWidth(uint16_t code) const;
  int32_t GetCount() const { return count_; }

private:
  void sort() const;
  mutable std::vector<uint16_t> codes_;
  mutable std::vector<int32_t> widths_;
  int32_t count_ = 0;
  mutable bool sorted_ = true;
};

// Character set of the system font for a code page (1 for unknown or none).
uint8_t CodePageToCharset(int32_t codePage);
// The Differences array text of a code page over WinAnsiEncoding ("[ 128 /Euro
// ... ]"), empty for code pages without one.
std::string CodePageDifferences(int32_t codePage);
// The characters of the bytes 0..255 of a code page (U+0000 where undefined).
const std::array<char16_t, 256>& CodePageToUnicode(int32_t codePage);

class TPDFFont {
public:
  TPDFFont(TPDFStructure* pool, std::string_view resourceName);
  TPDFFont(const TPDFFont&) = delete;
  TPDFFont& operator=(const TPDFFont&) = delete;

  // A standard 14 font (number 1..14) without a font file.
  void CreateStandardFont(std::string_view name, int32_t number);
  // A TrueType font of the installed fonts. The name is a face name with an
  // optional style suffix (" [Bold]", " [Italic]", " [BoldItalic]") and an
  // optional code page ("{1251}"). False when embedding is asked and the font
  // forbids it.
  bool EmbedTrueTypeFont(std::string_view name, bool embed, bool kerning, bool ignoreRestriction);
  void SetResourceName(std::string_view name);
  // Rebuilds the code map from a base encoding and a Differences array.
  void ApplyDifferences(std::string_view baseEncoding, const TPDFArray* differences);
  // The ToUnicode CMap of the names of a Differences array.
  std::string WriteToUnicodeCMap(std::string_view baseEncoding, const TPDFArray* differences) const;
  // Text in the 8-bit code page of the system (1252); characters without a
  // byte become "?".
  std::string EncodeText(std::u16string_view text) const;
  // Text through the code map; characters without a code are left out.
  std::string EncodeTextW(std::u16string_view text) const;
  bool HasCode(char16_t ch) const;
  int32_t GetCharWidth(int32_t code) const;
  int32_t GetKerning(int32_t first, int32_t next) const;

  const std::string& GetResourceName() const { return resourceName_; }
  const std::string& GetBaseName() const { return baseName_; }
  uint8_t GetKind() const { return kind_; }
  bool IsTwoByte() const { return kind_ == pdffkCIDType0 || kind_ == pdffkCIDType2; }
  TPDFIndRef* GetReference() const { return reference_; }
  int32_t GetObjectNumber() const;
  TPDFDictionary* GetFontDictionary() const { return fontDictionary_; }
  int32_t GetAscent() const { return ascent_; }
  int32_t GetDescent() const { return descent_; }
  int32_t GetBoxLeft() const { return boxLeft_; }
  int32_t GetBoxBottom() const { return boxBottom_; }
  int32_t GetBoxRight() const { return boxRight_; }
  int32_t GetBoxTop() const { return boxTop_; }
  int32_t GetFirstCode() const { return firstCode_; }
  int32_t GetLastCode() const { return lastCode_; }
  const std::vector<int32_t>& GetWidths() const { return widths_; }
  const std::vector<std::pair<int32_t, int32_t>>& GetKerningPairs() const { return kerningPairs_; }

  // ---- Type 3 fonts and fonts of loaded files
  // A Type 3 font holding exactly the characters of the text (each once),
  // its glyphs the outlines and advances of an installed font ("Face" with
  // an optional style suffix). With unitMatrix the glyphs are drawn in
  // thousandths of an em; without it the caller scales the size by 0.001.
  // False when no installed font can be read or nothing could be coded.
  bool BuildFont(std::string_view face, uint8_t charset, bool unitMatrix, std::u16string_view characters);
  // A composite font (Type0, Identity-H) over an installed TrueType face that
  // has glyphs for every character of the text: the face asked for when it
  // has them, else the face fontconfig finds. Codes are glyph numbers, two
  // bytes each; the face is embedded whole. Its widths and ToUnicode map
  // grow with UseCharacters. False when no installed face covers the text.
  bool BuildType0Font(std::string_view face, std::u16string_view characters);
  // Makes the characters encodable in a font of BuildType0Font (those its
  // face has a glyph for), adding their widths and ToUnicode entries.
  void UseCharacters(std::u16string_view characters);
  // Fills the font from a font dictionary of a loaded document, so that
  // text can be measured and encoded in it.
  void LoadFromDictionary(TPDFIndRef* reference);
  // Number (1..14) of the standard font that a font name stands for
  // (whole names only), 0 when none.
  static int32_t StandardFontNumberOf(std::string_view baseName);

  bool Compress = true;

private:
  TPDFIndRef* registerObject(TPDFDictionary* dict);
  TPDFIndRef* registerStream(class TPDFStream* stream);
  // Box, ascent and descent (in thousandths of the em, through em) of a
  // TrueType program.
  void setTrueTypeMetrics(const class TPDFTrueTypeParser& parser, const std::function<int32_t(double)>& em);
  // An embedded TrueType program (FontFile2) with its length.
  TPDFIndRef* registerFontFile2(std::string_view program);
  // A font descriptor with the name, flags, stem and angle given and the
  // font's box and vertical metrics.
  TPDFDictionary* newDescriptor(const std::string& fontName, int32_t flags, double stemV, double italicAngle);
  // Unicode character of a glyph name: the glyph list, else "uniXXXX".
  static char16_t glyphUnicode(std::string_view name);
  static void forEachDifference(const TPDFArray* differences, const std::function<void(int32_t, char16_t)>& take);
  // Codes 24..255 of the WinAnsi encoding with the widths of standard font
  // number (1..14; numbers past 12 measure as 12, Times-BoldItalic).
  void setStandardWinAnsiWidths(int32_t number);
  // Ascent, descent and bounding box of standard font number (1..14).
  void setStandardMetrics(int32_t number);
  // LoadFromDictionary's parts: the one-byte codes of a composite font's
  // ToUnicode map, the descriptor's metrics, the simple widths and the CID widths.
  void loadType0CodeMap(TPDFDictionary* dict);
  void loadDescriptor(TPDFDictionary* descriptor);
  void loadWidths(TPDFDictionary* font);
  void loadCIDWidths(TPDFArray* w);

  TPDFStructure* pool_;
  std::string resourceName_;
  std::string baseName_;
  std::string family_;
  TPDFIndRef* reference_ = nullptr;
  uint8_t kind_ = pdffkNone;
  std::vector<int32_t> widths_;
  int32_t firstCode_ = 0, lastCode_ = 0;
  int32_t ascent_ = 0, descent_ = 0;
  int32_t boxLeft_ = 0, boxTop_ = 0, boxRight_ = 0, boxBottom_ = 0;
  TPDFDictionary* fontDictionary_ = nullptr;
  // Kerning pairs: first code * 65536 + next code, amount (positive = closer).
  std::vector<std::pair<int32_t, int32_t>> kerningPairs_;
  // Code map: Unicode character -> byte code, and its code range.
  std::vector<std::pair<char16_t, uint8_t>> codeMap_;
  int32_t codeLow_ = 0, codeHigh_ = -1;
  TPavonaWidthLookup widthLookup_;
  // Fonts of BuildType0Font: the face read, characters -> glyph numbers
  // (sorted), and the objects that list the glyphs in use.
  std::shared_ptr<class TPDFTrueTypeParser> type0Face_;
  int32_t type0Cmap_ = -1;
  std::vector<std::pair<char16_t, uint16_t>> wideCodeMap_;
  TPDFDictionary* cidFont_ = nullptr;
  class TPDFStream* toUnicode_ = nullptr;
};

// The text without the characters the font's code map cannot encode.
std::u16string FilterMappedChars(const TPDFFont& font, std::u16string_view text);
