// Glyph outlines of PostScript-outline fonts: Type 1 programs (FontFile),
// CFF programs (FontFile3 Type1C / CIDFontType0C) and OpenType fonts with a
// "CFF " table.
//
// Every glyph goes through the glyph op list: Type 1 and Type 2 charstrings
// are first translated into short text entries ("rmoveto(12,-5)",
// "rrcurveto(...) rr", "endchar" ...), and only that list is replayed into an
// outline. The op lists and the outlines are cached per glyph key.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "graphics/PavonaGenericCanvas.h"
#include "graphics/PavonaMatrix.h"
#include "objects/PavonaExtra.h"
#include "objects/PavonaStructure.h"
#include "render/PavonaFontConst.h"
#include "render/PavonaFontRasterizer.h"

class TStream;

// The Type 1 encryption (eexec and charstrings): r starts at key; each cipher
// byte c gives c ^ (r >> 8), then r = (c + r) * 52845 + 22719. The first
// leadCount plain bytes are dropped. When the data starts with clear text
// holding the keyword "eexec", decryption starts after the keyword and one
// separator byte.
std::string EexecDecrypt(uint16_t key, int32_t leadCount, std::string_view data);

// Deepest nesting of Type 1 charstrings (subroutine calls and seac
// components); deeper charstrings are passed over.
constexpr int32_t kType1MaxDepth = 20;
// Type 2 limits: the argument stack and the subroutine nesting.
constexpr int32_t kType2MaxStack = 48;
constexpr int32_t kType2MaxSubrDepth = 10;
// Charstring bytes interpreted for one glyph, subroutines and seac components
// included. Nesting alone is no bound: a subroutine that calls others several
// times at every level grows exponentially. Real glyphs stay far below.
constexpr int64_t kCharStringMaxSteps = int64_t(1) << 16;

class TPDFType1Decoder : public TPDFFontRasterizer {
public:
  TPDFType1Decoder();
  ~TPDFType1Decoder() override;
  TPDFType1Decoder(const TPDFType1Decoder&) = delete;
  TPDFType1Decoder& operator=(const TPDFType1Decoder&) = delete;

  // Appends the outline of the glyph to the canvas: glyph points are scaled by
  // the glyph scale, moved by (x, y) and mapped through matrix. True when the
  // key names a glyph of the font (its op list held "endchar"), also when the
  // outline comes from the cache.
  bool DrawGlyph(TPDFGenericCanvas* canvas, const TPDFMatrix& matrix, std::string_view glyphKey, double x,
                 double y) override;
  double GetGlyphScale() override { return glyphScale_; }
  // "GID:" keys are glyph indexes even in a CID-keyed font (a CIDFontType2
  // whose OpenType program has CFF outlines maps CIDs to glyph indexes
  // itself); otherwise a CID-keyed font takes their number as a CID first.
  bool GlyphIndexKeys = false;

  // --- Type 1 programs
  // Splits the decoded FontFile data by /Length1, /Length2, /Length3.
  bool SplitFontFile(TPDFStream* stream);
  // Splits raw program bytes (clear text, encrypted part, trailer); the same
  // checks as SplitFontFile.
  bool SplitFontData(std::string_view data, int64_t length1, int64_t length2, int64_t length3);
  bool ParseCleartext();
  bool ParsePrivate();
  void Tokenize(std::string_view data, TPavonaStringList& tokens);
  bool Type1CharStringToOps(std::string_view glyphName);
  std::string GetType1Subr(int32_t index);
  // The program's built-in encoding.
  void GetEncoding(TPDFGlyphNames& names) const { names = encoding_; }

  // --- CFF programs
  bool LoadCFFStream(TPDFStream* stream);
  // Reads from the stream's position to its end.
  bool LoadCFF(TStream& stream);
  bool LoadCFFData(std::string_view data);

  // --- Glyph op list
  bool BuildGlyphOps(std::string_view glyphKey);
  // Charstring bytes of the key (empty when not found); sets the current FD index.
  std::string FindCharString(std::string_view glyphKey);
  bool Type2CharStringToOps(std::string_view glyphKey);
  std::string GetLocalSubr(int32_t biasedIndex) const;
  std::string GetGlobalSubr(int32_t biasedIndex) const;
  // Replays an op list into an outline; true when it held "endchar".
  // scale multiplies every outline point (a Font DICT's own FontMatrix).
  static bool ReplayOps(const TPavonaStringList& ops, TPDFGenericShape* shape, double scale = 1.0);

  const TPavonaStringList& GetOpList() const { return opList_; }
  const TPavonaCaseSensitiveStringList& GetGlyphNames() const { return glyphNames_; }
  const TPavonaStringList& GetCharStrings() const { return charStrings_; }
  const TPavonaStringList& GetLocalSubrs() const { return localSubrs_; }
  const TPavonaStringList& GetGlobalSubrs() const { return globalSubrs_; }
  TPDFDictionary* GetFontDictionary() const { return fontDictionary_; }
  TPDFArray* GetFontBBox() const { return fontBBox_; }
  int32_t GetCharStringType() const { return charStringType_; }
  int32_t GetLenIV() const { return lenIV_; }
  bool IsCIDKeyed() const { return cidKeyed_; }
  int32_t GetCurrentFDIndex() const { return currentFD_; }
  const std::vector<int32_t>& GetFDSelect() const { return fdSelect_; }
  int32_t GetFDCount() const { return static_cast<int32_t>(fdSubrs_.size()); }
  const std::vector<double>& GetFDScales() const { return fdScales_; }
  const std::string& GetRDName() const { return rdName_; }
  const std::string& GetNDName() const { return ndName_; }
  const std::string& GetNPName() const { return npName_; }
  const std::string& GetClearText() const { return clearText_; }
  const std::string& GetEncryptedText() const { return encryptedText_; }
  const std::string& GetTrailerText() const { return trailerText_; }
  // Advance of the last Type 2 glyph translated, in glyph units: the
  // charstring's width plus nominalWidthX, or defaultWidthX. The op list
  // carries no Type 2 width; callers that compare metrics read it here.
  double GetLastType2Width() const { return lastType2Width_; }
  // Advance of a glyph in 1/1000 em (its program width mapped by the
  // FontMatrix); false when the key names no glyph. Fonts given without
  // /Widths take their advances from here.
  bool GetGlyphAdvance(std::string_view glyphKey, double& width);

private:
  struct TType1State;
  struct TType2State;
  struct TCFFLoad;

  TPDFObject* resolve(TPDFObject* obj) const;
  void interpretType1(std::string_view code, TType1State& st, int32_t depth);
  void type1Seac(TType1State& st, int32_t depth);
  // Operator families of the Type 1 interpreter.
  void type1Op(uint8_t v, TType1State& st);
  void type1Moveto(uint8_t v, TType1State& st);
  void type1Escape(uint8_t e, TType1State& st, int32_t depth);
  void type1OtherSubr(TType1State& st);
  void type1Arithmetic(uint8_t e, TType1State& st);
  void interpretType2(std::string_view code, TType2State& st, int32_t depth);
  void type2Endchar(TType2State& st, int32_t depth);
  // Operator families of the Type 2 interpreter.
  bool type2Number(uint8_t v, std::string_view code, size_t& i, TType2State& st);
  void type2NoteWidth(double w);
  void type2WidthRule(TType2State& st, bool oddMeansWidth);
  void type2Stems(TType2State& st, bool horizontal);
  void type2Hintmask(uint8_t v, std::string_view code, size_t& i, TType2State& st);
  void type2Moveto(uint8_t v, TType2State& st);
  void type2Lines(uint8_t v, TType2State& st);
  void type2Curves(uint8_t v, TType2State& st);
  void type2AltCurves(bool vh, TType2State& st);
  void type2CallSubr(uint8_t v, TType2State& st, int32_t depth);
  void type2Arithmetic(uint8_t e, TType2State& st);
  void type2Flex(uint8_t e, TType2State& st);
  void clearGlyphs();
  void indexGlyphNames();
  int32_t glyphIndexOf(std::string_view name) const;

  // CFF pieces
  void cffReadCharset(TCFFLoad& ld, int64_t charsetOffset, int32_t glyphCount);
  void cffReadEncoding(TCFFLoad& ld, int64_t encodingOffset);
  void cffReadFDSelect(TCFFLoad& ld, int64_t offset);
  TPDFDictionary* cffReadPrivate(TCFFLoad& ld, TPDFDictionary* fontDict, TPavonaStringList& subrs, double& defaultWidth,
                                 double& nominalWidth);

  TPavonaStringList localSubrs_;
  TPavonaStringList globalSubrs_;
  std::vector<std::unique_ptr<TPavonaStringList>> fdSubrs_;
  std::vector<int32_t> fdSelect_;
  std::unique_ptr<TPDFStructure> pool_;
  TPDFDictionary* fontDictionary_ = nullptr;
  std::string clearText_, encryptedText_, trailerText_;
  TPavonaStringList opList_;
  TPavonaCaseSensitiveStringList glyphNames_;
  TPavonaStringList charStrings_;
  int32_t currentFD_ = -1;
  std::string rdName_ = "RD", ndName_ = "ND", npName_ = "NP";
  int32_t charStringType_ = 1;
  TPDFGlyphNames encoding_;
  TPDFArray* fontBBox_ = nullptr;
  double glyphScale_ = 1.0;
  // The whole FontMatrix x 1000 when it is more than a uniform scale (an
  // obliqued or stretched program); glyphs are then drawn through it.
  bool shapedMatrix_ = false;
  TPDFMatrix fontMatrix_{1, 0, 0, 1, 0, 0};
  void takeFontMatrix(TPDFArray* fm);
  bool cidKeyed_ = false;
  int32_t lenIV_ = 4;
  TPavonaCaseSensitiveStringList outlineCache_;

  // Cached keys that named no glyph: drawing them again reports false again.
  std::unordered_set<std::string> missingGlyphs_;
  // Owned payloads of the outline cache (the list holds raw pointers to them).
  std::vector<std::unique_ptr<TPDFGenericShape>> cachedOutlines_;
  // Name -> first position in glyphNames_, and declared Subrs index -> position.
  std::unordered_map<std::string, int32_t> glyphIndex_;
  std::unordered_map<int32_t, int32_t> subrIndex_;
  bool subrIndexBuilt_ = false;
  // Width defaults of the font's (and each Font DICT's) Private DICT.
  double defaultWidthX_ = 0, nominalWidthX_ = 0;
  std::vector<std::pair<double, double>> fdWidths_;
  // Scale of each Font DICT's FontMatrix relative to 1/1000 em (1 when it has none).
  std::vector<double> fdScales_;
  double lastType2Width_ = 0;
  // Bytes left of the current glyph's kCharStringMaxSteps budget.
  int64_t stepsLeft_ = 0;
};
