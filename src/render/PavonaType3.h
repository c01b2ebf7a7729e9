// Type 3 fonts: glyphs are small content streams (glyph procedures) in the
// font's /CharProcs. The rasterizer reads the FontMatrix and the decoded text
// of every procedure; the renderer runs a procedure through its own content
// interpreter. DrawGlyph itself understands only m, l, c, h, f, cm and inline
// images.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>

#include "objects/PavonaExtra.h"
#include "objects/PavonaStructure.h"
#include "platform/Classes.h"
#include "render/PavonaFontRasterizer.h"

// Raised when Type 3 glyph procedures nest deeper than kType3MaxNesting (a
// glyph that shows text in its own font, directly or through other fonts).
class EPDFType3Error : public Exception {
public:
  using Exception::Exception;
};

constexpr int32_t kType3MaxNesting = 12;

class TPDFType3Rasterizer : public TPDFFontRasterizer {
public:
  TPDFType3Rasterizer() = default;
  ~TPDFType3Rasterizer() override = default;

  TPDFDictionary* FontDictionary = nullptr;  // not owned
  TPavonaCaseSensitiveStringList CharNames;
  TPavonaStringList CharProcs;
  std::array<double, 6> FontMatrix{1, 0, 0, 1, 0, 0};
  int32_t ImageOption = 0;

  void Load(TPDFDictionary* fontDictionary);
  // The procedure text of that name (exact match); empty when absent.
  std::string GetCharProc(std::string_view glyphName) const;
  bool DrawGlyph(TPDFGenericCanvas* canvas, const TPDFMatrix& matrix, std::string_view glyphKey, double x,
                 double y) override;
  double GetGlyphScale() override { return 1.0; }

  // Nesting of glyph procedures run by the renderer: one guard per procedure
  // being run; constructing the guard beyond kType3MaxNesting raises
  // EPDFType3Error, so a procedure that shows its own glyphs ends with an
  // error instead of recursing without end.
  class TNestingGuard {
  public:
    explicit TNestingGuard(int32_t& depth);
    ~TNestingGuard();
    TNestingGuard(const TNestingGuard&) = delete;
    TNestingGuard& operator=(const TNestingGuard&) = delete;

  private:
    int32_t& depth_;
  };

  // End position (0-based, just after "EI") of the inline image that starts
  // at "BI" position biPosition in the procedure of glyphName; 0 when none
  // was read there yet.
  size_t GetInlineImageEnd(std::string_view glyphName, size_t biPosition) const;

private:
  TPDFObject* resolve(TPDFObject* obj) const;
  std::string streamText(TPDFObject* value) const;
  // Inline images met while drawing, keyed by glyph name and the position of
  // their "BI": each image of a procedure has its own entry, so a second image
  // in one glyph never sends the reader back to the first one's end.
  std::map<std::pair<std::string, size_t>, size_t> InlineImages;
};

// Finds the end of an inline image whose "BI" ends at position from: past
// "ID", its single white-space byte and the data, through the "EI" that
// stands alone between white space (or the end). npos when there is none.
size_t FindInlineImageEnd(std::string_view text, size_t from);
