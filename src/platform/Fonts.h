// Installed fonts: the stand-in for the system's font enumeration, font
// selection and font-data queries, on fontconfig. A TFont names a family, a
// style and a character set as the class library's font object does; the
// system resolves it to a face (a file and the face index inside it) the way
// its font mapper does, and hands out that face's raw sfnt data.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// Character sets the engine asks for.
constexpr uint8_t DEFAULT_CHARSET = 1;
constexpr uint8_t SHIFTJIS_CHARSET = 128;

// Font styles of the class library.
constexpr uint8_t fsBold = 1;
constexpr uint8_t fsItalic = 2;

// Errors of the font-data query.
constexpr uint32_t GDI_ERROR = 0xFFFFFFFF;

struct TFont {
  std::string Name = "Arial";
  uint8_t Style = 0;  // fsBold | fsItalic
  uint8_t Charset = DEFAULT_CHARSET;
};

// The face the system selects for a font.
struct TInstalledFace {
  std::string Family;  // the face's own family name
  std::string File;    // UTF-8 path
  int32_t Index = 0;   // face index inside a collection file
  bool Bold = false;
  bool Italic = false;
};

// Family names of the scalable fonts installed for a character set, as the
// screen's font enumeration reports them (one entry per family, unsorted).
// DEFAULT_CHARSET lists every family plus the common Windows family names
// ("Arial", "Times New Roman", "Courier New", "Symbol" ...) that the system's
// configuration maps onto installed metric-compatible faces; SHIFTJIS_CHARSET
// lists families that cover Japanese.
std::vector<std::string> EnumFontFamilies(uint8_t charset);

// The face the system selects for the font (its mapper always finds one when
// any font is installed). False when no font is installed at all.
bool SelectInstalledFace(const TFont& font, TInstalledFace& face);

// Family lists and face selections are kept between runs in
// $XDG_CACHE_HOME/corvane-pdf-reader/installed-fonts (~/.cache when unset),
// with the stamps of the font configuration and font folders they came
// from; while those are unchanged, a run answers from that file without
// loading fontconfig. True once this process has loaded fontconfig.
bool InstalledFontConfigurationLoaded();

// A single-font TrueType face (not in a collection) that has a glyph for
// every character of the text, the family asked for first, then the faces
// fontconfig orders after it; false when no installed face covers them all.
// Stands in for the system's font linking of scripts a face lacks.
bool FindTrueTypeFaceFor(const std::string& family, std::u16string_view text, TInstalledFace& face);

// Size of a table of the selected face, or its data: tag 0 is the whole font
// (from the face's table directory to the end of the file), the tag "ttcf"
// the whole collection file (GDI_ERROR when the face is not in a collection),
// any other tag one table of the face (GDI_ERROR when absent). With an empty
// buffer only the size is returned; else up to buffer size bytes from offset
// are copied and their count returned.
uint32_t GetFontData(const TInstalledFace& face, uint32_t tag, uint32_t offset, void* buffer, uint32_t size);

// The bytes GetFontData gives for tag 0 without copying them: the face's
// file stays mapped while File is held. DirectoryOffset is where the face's
// table directory starts in the file (its tables' offsets count from the
// file's start). False when the file cannot be mapped or lacks the face.
class TMappedFile;
struct TInstalledFaceBytes {
  std::shared_ptr<const TMappedFile> File;
  std::string_view Bytes;
  uint32_t DirectoryOffset = 0;
};
bool MapInstalledFace(const TInstalledFace& face, TInstalledFaceBytes& out);

// Four-character table tag as the big-endian value GetFontData takes.
constexpr uint32_t FontTableTag(const char (&text)[5]) {
  return (uint32_t(uint8_t(text[0])) << 24) | (uint32_t(uint8_t(text[1])) << 16) |
         (uint32_t(uint8_t(text[2])) << 8) | uint32_t(uint8_t(text[3]));
}

// Outline of a glyph of an installed face, by glyph index, at emSize units per
// em (y up): lines and cubic curves (quadratic parts are raised to cubics),
// one closed contour after another. False when the face or the glyph cannot
// be read. Stands in for the system's glyph-outline query.
struct TGlyphOutlineSink {
  virtual ~TGlyphOutlineSink() = default;
  virtual void MoveTo(double x, double y) = 0;
  virtual void LineTo(double x, double y) = 0;
  virtual void CurveTo(double x1, double y1, double x2, double y2, double x3, double y3) = 0;
  virtual void Close() = 0;
};
bool GetInstalledGlyphOutline(const TInstalledFace& face, uint32_t glyphIndex, double emSize, TGlyphOutlineSink& sink);
