// Glyph-outline sources. TPDFFontRasterizer is the interface through which
// the renderer draws the glyphs of any font by glyph key ("GID:12",
// "CID:65", "U+0041", "PS:A" or a glyph name); the TrueType rasterizers
// implement it for TrueType programs (embedded or installed) and for the
// installed Japanese substitutes.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>

#include "graphics/PavonaGenericCanvas.h"
#include "objects/PavonaStructure.h"
#include "platform/Fonts.h"
#include "render/PavonaFontConst.h"
#include "render/PavonaTrueTypeParser.h"

// Called with a stream and its indirect reference around a read of its data.
using TPDFStreamCallback = std::function<void(TPDFStream* stream, TPDFIndRef* reference)>;

class TPDFFontRasterizer {
public:
  virtual ~TPDFFontRasterizer() = default;
  TPDFFontRasterizer(const TPDFFontRasterizer&) = delete;
  TPDFFontRasterizer& operator=(const TPDFFontRasterizer&) = delete;

  TPDFLookupCallback OnLookupObject;
  TPDFStreamCallback OnDecryptStream;
  TPDFStreamCallback OnEncryptStream;

  // Appends the outline of the glyph named by glyphKey to the canvas's
  // current path: glyph coordinates (1/1000 em times the glyph scale) are
  // translated by (x, y), then mapped through matrix. True when the font
  // holds a glyph for the key; a font that substitutes its missing glyph for
  // an unknown key still draws it, and reports false.
  virtual bool DrawGlyph(TPDFGenericCanvas* canvas, const TPDFMatrix& matrix, std::string_view glyphKey, double x,
                         double y) = 0;
  // Factor between the rasterizer's glyph units and 1/1000 text space units.
  virtual double GetGlyphScale() = 0;
  // The font descriptor's Flags.
  virtual void SetFlags(int32_t /*flags*/) {}

protected:
  TPDFFontRasterizer() = default;
};

// TrueType glyphs from font bytes: an embedded /FontFile2 program, or the
// data of the installed font chosen for the PDF font.
class TPDFTrueTypeRasterizer2 : public TPDFFontRasterizer {
public:
  TPDFTrueTypeRasterizer2();
  ~TPDFTrueTypeRasterizer2() override;

  bool SymbolicFont = false;
  bool HasCFF = false;
  // A key that names no glyph draws the missing glyph (glyph 0); an
  // installed stand-in draws nothing for it instead, as the other readers do.
  bool DrawMissingGlyphs = true;
  std::string FontData;  // the system font's bytes, kept only when they carry CFF outlines

  // The font the system is asked for (set by MapFontNameToSystemFont).
  TFont& GetFont() { return workFont_; }
  // Parses an embedded program.
  void LoadFontData(std::string_view bytes);
  // Fetches and parses the data of the installed face selected for GetFont().
  void LoadSystemFontData();
  // For every name found among the font's glyph names, its advance (1/1000 em).
  void GetWidths(const TPDFGlyphNames& names, std::array<double, 256>& widths) const;
  void SetFlags(int32_t flags) override { SymbolicFont = (flags & 4) != 0; }
  bool DrawGlyph(TPDFGenericCanvas* canvas, const TPDFMatrix& matrix, std::string_view glyphKey, double x,
                 double y) override;
  double GetGlyphScale() override { return 1.0; }
  const TPDFTrueTypeParser& GetParser() const { return *Parser; }
  // The glyph index a key selects (0, the missing glyph, when none).
  int32_t FindGlyphIndex(std::string_view glyphKey) const;
  // The same; found tells whether the key named a glyph of the font (an
  // explicit index inside the font, or a name or code some table maps).
  int32_t FindGlyphIndex(std::string_view glyphKey, bool& found) const;
  // The PDF font's glyph name of each code (encoding and Differences). A
  // name no table of the program knows is looked for by its code in the
  // code-keyed tables, and a code key of a symbolic font that its tables
  // miss is looked for by its name, as the other readers of such fonts do.
  void SetEncoding(const TPDFGlyphNames& names);

private:
  struct TCachedGlyph {
    std::unique_ptr<TPDFGenericShape> shape;
    bool found = false;
  };
  void buildOutline(int32_t glyph, TPDFGenericShape& shape) const;
  std::shared_ptr<const TPDFTrueTypeParser> Parser;  // an installed face's is shared with other fonts
  std::unordered_map<std::string, TCachedGlyph> OutlineCache;
  TPDFGlyphNames codeNames_;
  std::unordered_map<std::string, uint32_t> nameCodes_;
  int32_t glyphOfCode(uint32_t code) const;
  int32_t glyphOfName(std::string_view name) const;
  TFont workFont_;
};

// Glyphs of an installed font by glyph index ("CID:" or "GID:" keys), for the
// Japanese fonts that PDF files name without embedding them.
class TPDFSimpleTrueTypeRasterizer : public TPDFFontRasterizer {
public:
  TPDFSimpleTrueTypeRasterizer() = default;
  TFont& GetFont() { return workFont_; }
  bool DrawGlyph(TPDFGenericCanvas* canvas, const TPDFMatrix& matrix, std::string_view glyphKey, double x,
                 double y) override;
  double GetGlyphScale() override { return 1.0; }

private:
  TFont workFont_;
};
