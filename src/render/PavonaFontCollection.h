// The render-side font set of one render or extraction call. Each PDF font
// met on a page is loaded once into a TPDFFontCollectionData record: its
// glyph-outline source (a TPDFFontRasterizer), the glyph key, width, code
// page 1252 byte and Unicode text of every one-byte code, the ToUnicode
// table, the CID widths of composite fonts, ascent and descent, and how a
// shown string splits into codes.
//
// Every value comes from the file and is checked: width arrays and /W
// ranges are kept as ranges (a /W entry covering millions of CIDs costs one
// entry), ToUnicode tables are read in one pass, and a font program that
// cannot be read leaves the font to the installed-font substitute.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "objects/PavonaStructure.h"
#include "render/PavonaFontConst.h"
#include "render/PavonaFontRasterizer.h"
#include "render/PavonaGlyphCache.h"

// One record of a ToUnicode table: codes First..Last map to Destination,
// whose last character moves with the code (see OffsetUnicodeText).
struct TPDFToUnicodeRange {
  uint16_t First = 0;
  uint16_t Last = 0;
  std::u16string Destination;
};

// Finds, among ranges kept in insertion order, the first inserted range
// holding a value; built once, then searched by halving.
class TPDFRangeIndex {
public:
  void Clear();
  void Add(int64_t first, int64_t last);
  // Index (insertion order) of the first range holding value; -1 when none.
  int32_t Find(int64_t value) const;
  int32_t GetCount() const { return static_cast<int32_t>(ranges_.size()); }

private:
  struct Range {
    int64_t first;
    int64_t last;
    int32_t order;
  };
  void prepare() const;
  mutable std::vector<Range> ranges_;
  mutable std::vector<int64_t> maxLast_;
  mutable bool sorted_ = true;
};

// Widths of the CIDs of a composite font (1/1000 em), from /W and /DW: one
// entry per /W range or array element, plus the default. Among entries
// covering a CID the first read wins.
class TPDFCIDWidths {
public:
  // Width of the entry holding cid (the "CID:" entry); false when none.
  bool Find(uint32_t cid, double& width) const;
  // The CID's entry, else the default; false when neither exists.
  bool GetWidth(uint32_t cid, double& width) const;
  void SetDefault(double width) {
    Default = width;
    HasDefault = true;
  }
  void AddRange(int64_t first, int64_t last, double width);
  int32_t GetCount() const { return static_cast<int32_t>(widths_.size()); }

  bool HasDefault = false;
  double Default = 1000;

private:
  TPDFRangeIndex index_;
  std::vector<double> widths_;
};

class TPDFFontCollectionData {
public:
  TPDFFontCollectionData();
  ~TPDFFontCollectionData();
  TPDFFontCollectionData(const TPDFFontCollectionData&) = delete;
  TPDFFontCollectionData& operator=(const TPDFFontCollectionData&) = delete;

  int32_t ObjectNumber = 0;              // 0 for a font given directly
  const uint64_t CacheId = NewGlyphCacheFontId();  // this font program's masks in the glyph cache
  const TPDFObject* Source = nullptr;    // the object the number named when the font was loaded
  uint32_t LastPage = 0;                 // the collection's page count when the font was last selected
  std::array<double, 256> Widths;        // 1/1000 text space units
  std::array<std::string, 256> CodeText;  // code page 1252 byte of each code (may be empty)
  std::string FontName = "Arial";
  std::unique_ptr<TPDFFontRasterizer> Rasterizer;
  TPDFGlyphNames GlyphNames;  // glyph key of each one-byte code
  bool IsComposite = false;
  std::unique_ptr<TPDFCIDWidths> CIDWidths;  // composite fonts only
  double Ascent = 0;
  double Descent = 0;
  std::array<std::u16string, 256> UnicodeText;
  std::vector<TPDFToUnicodeRange> ToUnicodeRanges;
  int32_t FirstChar = 0;
  int32_t LastChar = 0;
  std::string CIDToGIDMap;
  bool SingleByteCodes = false;
  std::string EncodingName;   // the Type0 font's encoding CMap name
  std::string CIDSystemInfo;  // Registry-Ordering-Supplement

  // The first ToUnicode record holding code; -1 when none.
  int32_t FindToUnicodeRange(uint32_t code) const;
  // Glyph index of a code of a composite font: its CIDToGIDMap entry, else the code.
  uint32_t GlyphIndexOfCode(uint32_t code) const;
  // Advance of a code of a composite font: its CID width, else the default;
  // false when neither exists.
  bool GetCIDWidth(uint32_t code, double& width) const;
  // Rebuilds the ToUnicode lookup after ToUnicodeRanges changed.
  void IndexToUnicodeRanges();

private:
  TPDFRangeIndex toUnicodeIndex_;
};

class TPDFFontCollection {
public:
  TPDFFontCollection();
  ~TPDFFontCollection();
  TPDFFontCollection(const TPDFFontCollection&) = delete;
  TPDFFontCollection& operator=(const TPDFFontCollection&) = delete;

  // Object numbers of the loaded fonts, ascending, and the index of each one's record in Fonts.
  std::vector<int32_t> ObjectNumbers;
  std::vector<int32_t> ObjectIndex;
  std::vector<std::unique_ptr<TPDFFontCollectionData>> Fonts;  // in load order

  TPDFLookupCallback OnLookupObject;
  TPDFStreamCallback OnDecryptStream;
  TPDFStreamCallback OnEncryptStream;

  TPDFFontCollectionData* CurrentFont = nullptr;
  // Rasterised glyphs of these fonts, shared by every page drawn with them.
  TPDFGlyphCache GlyphCache;
  bool LoadOutlines = false;
  bool KeepDifferences = false;

  // Makes the font current, loading it on first use (a reference or an
  // indirect object is keyed by its object number, a direct dictionary by
  // itself).
  void SelectFont(TPDFObject* fontObject);
  // Makes the loaded font with that number current; unchanged when none.
  void SelectFontByNumber(int32_t objectNumber);
  // For a collection kept across pages, before each page: drops the fonts
  // the previous page did not select and clears the current font.
  void BeginPage();
  // Loads the font again, without the cache, and makes it current.
  void LoadAndSelectFont(TPDFObject* fontObject);
  // Appends the font's record (exactly one) and returns it.
  TPDFFontCollectionData* LoadFont(TPDFObject* fontObject);

  // Codes of a shown string (after literal or hex decoding) in the current font.
  std::vector<uint16_t> TextToCodes(std::string_view bytes) const;
  // Unicode text of a code of the current font; empty without a current font.
  std::u16string CodeToUnicode(uint32_t code) const;

  // Reads the mappings of a ToUnicode CMap; singleByte tells whether its
  // codespace has one-byte codes.
  static void ParseToUnicodeCMap(std::string_view text, bool& singleByte, std::vector<TPDFToUnicodeRange>& ranges);

private:
  struct TLoadState;
  TPDFFontCollectionData* loadFont(TPDFObject* fontObject, int32_t depth);
  void loadSimpleProgram(TLoadState& st);
  void loadTrueTypeProgram(TLoadState& st);
  void fallbackOutlines(TLoadState& st);
  // Widths of a font given without /Widths, from its glyph program.
  void programWidths(TLoadState& st);
  void buildUnicode(TLoadState& st, TPDFFontCollectionData& rec, TPDFDictionary* fontDict);
  void readCIDFont(TLoadState& st, TPDFDictionary* fontDict);
  void readEncoding(TLoadState& st, TPDFDictionary* font);
  TPDFFontCollectionData* loadComposite(TLoadState& st, TPDFDictionary* font, int32_t depth);
  void readSimpleWidths(TLoadState& st, TPDFDictionary* font);
  std::unique_ptr<TPDFFontRasterizer> installedFontRasterizer(std::string_view pdfFontName, int32_t flags,
                                                              std::array<double, 256>* widths,
                                                              const TPDFGlyphNames* names,
                                                              std::string_view pdfName = {});
  TPDFObject* resolve(TPDFObject* obj) const;
  std::string streamData(TPDFObject* value) const;
  template <class F>
  auto withStream(TPDFObject* value, F&& read) const;
  void indexFont(int32_t objectNumber, int32_t index);

  uint32_t page_ = 0;  // pages begun
  // Direct font dictionaries, keyed by the object itself.
  std::unordered_map<const TPDFObject*, int32_t> directFonts_;
};

// Widths of a /W array: the list starts with the default, then one entry per
// range "first last width" and per element of "first [w1 w2 ...]"; reading
// ends at the first malformed entry.
// Elements are resolved through resolve when it is given.
void ReadCIDWidths(const TPDFArray* w, double defaultWidth, TPDFCIDWidths& widths,
                   const std::function<TPDFObject*(TPDFObject*)>& resolve = nullptr);
