// Conversion of Windows enhanced metafiles into page content: the converter
// that plays the records through a painter, the graphics states it makes
// for constant alpha, and the tiling patterns that stand in for bitmap
// pattern brushes.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "objects/PavonaStructure.h"
#include "platform/Bitmap.h"

class TPDFFont;
class TPDFImage;
class TPDFPainter;
class TEmfFile;
struct TEmfRecord;
struct TDibImage;

// A coloured tiling pattern that paints a bitmap once per cell.
class TPDFPattern {
public:
  // name: the resource name ("PVLP" and an 8-hex-digit tag, chosen by the creator).
  TPDFPattern(TPDFStructure* structure, std::string name) : Structure(structure), Name(std::move(name)) {}

  // Builds the pattern stream and makes it an indirect object of the
  // document; false when the bitmap is empty or the structure cannot number
  // objects (no document behind it).
  bool BuildFromBitmap(const TBitmap& bitmap);

  TPDFStructure* Structure;  // not owned
  std::string Name;
  TPDFIndRef* Reference = nullptr;
};

// An ExtGState made for one constant alpha of the bitmap records.
struct TEMFGraphicState {
  std::string Name;  // "PavonaGS" + tag
  double Alpha = 1;
  TPDFIndRef* Reference = nullptr;
  std::string Purpose;  // "AlphaBlend"
};

// What a conversion creates; the owner turns them into the resources of
// the form that holds the content.
struct TPDFMetafileLists {
  std::vector<std::unique_ptr<TPDFFont>> Fonts;
  std::vector<std::unique_ptr<TPDFImage>> Images;
  std::vector<std::unique_ptr<TEMFGraphicState>> GraphicStates;
  std::vector<std::unique_ptr<TPDFPattern>> Patterns;
};

// Six floats of the platform's XFORM: x' = x*M11 + y*M21 + Dx, y' = x*M12 + y*M22 + Dy.
struct TEmfXForm {
  double M11 = 1, M12 = 0, M21 = 0, M22 = 1, Dx = 0, Dy = 0;
  // this first, then next.
  TEmfXForm Then(const TEmfXForm& next) const;
  bool Finite() const;
};

class TPDFMetafile {
public:
  // faces: the installed face names (nullptr: the system's font list).
  TPDFMetafile(TPDFStructure* pool, TPDFMetafileLists& lists, const std::vector<std::string>* faces = nullptr);
  ~TPDFMetafile();
  TPDFMetafile(const TPDFMetafile&) = delete;
  TPDFMetafile& operator=(const TPDFMetafile&) = delete;

  // Plays every record and returns the content (operators for a box whose
  // shorter side is 1 and whose other side keeps the picture's aspect).
  std::string ConvertMetafile(const TEmfFile& emf);

  bool EmbedFonts = false;
  bool CompressFonts = true;
  // "<PVLNoEmbedFont>" + face with style suffix + "</PVLNoEmbedFont>" entries.
  std::string NoEmbedText;
  // Records whose handler failed in the last conversion (left out whole).
  int32_t FailedRecords = 0;

  // Mapping of logical points and lengths to content space.
  double MapX(double x, double y) const;
  double MapY(double x, double y) const;
  double ScaleX(double length) const;
  double ScaleY(double length) const;
  void SetMapMode(int32_t mode);
  void UpdateTransform();

  struct TState;
  struct TObjectEntry;

private:
  // Records are played by handlers found by record type in one table per
  // family; dispatch drops a record shorter than its entry's MinSize before
  // the handler sees it.
  struct TRecordHandler;
  static std::span<const TRecordHandler> StateRecords();
  static std::span<const TRecordHandler> PathRecords();
  static std::span<const TRecordHandler> PaintRecords();
  static std::span<const TRecordHandler> ClipRecords();
  static std::span<const TRecordHandler> ObjectRecords();
  static std::span<const TRecordHandler> TextRecords();
  static std::span<const TRecordHandler> BitmapRecords();  // PavonaMetafileRaster.cpp
  static const TRecordHandler* findRecordHandler(uint32_t type);
  void dispatch(const TEmfRecord& r);
  // State records.
  void setPair(double* pair, const TEmfRecord& r);
  void scaleExtent(double* ext, const TEmfRecord& r);
  void saveDC();
  void restoreDC(int64_t level);
  void modifyWorldTransform(const TEmfXForm& x, uint32_t mode);
  // Path records.
  bool arcsCounterClockwise() const;
  void polyRecord(const TEmfRecord& r);
  void polyPolyRecord(const TEmfRecord& r);
  void polyDrawRecord(const TEmfRecord& r);
  void lineToRecord(double x, double y);
  void angleArcRecord(const TEmfRecord& r);
  void shapeRecord(const TEmfRecord& r);
  void arcRecord(const TEmfRecord& r);
  void paintPathRecord(bool fill, bool stroke);
  // Painting records.
  void setPixelRecord(const TEmfRecord& r);
  size_t regionPath(std::string_view data, bool skipEmpty, const std::function<void()>& beforeFirst);
  void fillRegionRecord(const TEmfRecord& r);
  void gradientFillRecord(const TEmfRecord& r);
  // Clipping records.
  void openClipLevel();
  void intersectClipRecord(const TEmfRecord& r);
  void selectClipPathRecord(uint32_t mode);
  void selectClipRegionRecord(const TEmfRecord& r);
  // Object records.
  void storeObject(uint32_t index, std::unique_ptr<TObjectEntry> entry);
  void createPenRecord(const TEmfRecord& r);
  void createBrushRecord(const TEmfRecord& r);
  void createFontRecord(const TEmfRecord& r);
  void createPatternBrushRecord(const TEmfRecord& r);
  // Text records.
  void smallTextOutRecord(const TEmfRecord& r);
  // Path building in logical coordinates (mapped through the full transform).
  void pathMove(double x, double y, bool keep = true);
  void pathLine(double x, double y);
  void pathCurve(double x1, double y1, double x2, double y2, double x3, double y3);
  void pathArc(double l, double t, double r, double b, double a0, double a1, bool connect);
  void paint(bool fill, bool stroke);
  void closeClipLevels();
  void applyPen();
  void applyBrush();
  void selectObject(uint32_t index);
  void selectStockObject(uint32_t index);
  void selectFontEntry(const TObjectEntry& entry);
  TPDFFont* fontFor(const std::string& name, int32_t codePage);
  // A composite font of a face that has glyphs for every character of the
  // text (nullptr when no installed face has).
  TPDFFont* wideFontFor(const std::string& name, std::u16string_view text);
  void drawTextRecord(const TEmfRecord& r, size_t emrText, bool wide, bool glyphIndices);
  void drawString(std::u16string text, double x, double y, const std::vector<double>& advances);
  // Bitmap records.
  void bltRecord(const TEmfRecord& r);
  void plgBltRecord(const TEmfRecord& r);
  void alphaBlendRecord(const TEmfRecord& r);
  void transparentBltRecord(const TEmfRecord& r);
  void fillWithoutBitmap(uint32_t rop, int32_t x, int32_t y, int32_t w, int32_t h);
  TEMFGraphicState* alphaState(double alpha);
  bool imageFromRecord(const TEmfRecord& r, size_t offBmi, size_t cbBmi, size_t offBits, size_t cbBits,
                       uint32_t usage, int64_t sx, int64_t sy, int64_t sw, int64_t sh, TDibImage& out);
  TPDFImage* makeImage(const TDibImage& dib, bool alpha);
  void drawImageAt(TPDFImage* image, int32_t x, int32_t y, int32_t w, int32_t h);
  void fillBoxAt(int32_t x, int32_t y, int32_t w, int32_t h);
  std::string newTag();
  TPDFFont* fontByNumber(int32_t number) const;
  void writeQ();
  // Gives the painter back the colours, line and text settings SaveTextState kept.
  void restorePainterState(const std::string& saved);
  static void decodeColor(uint32_t colorRef, uint8_t& r, uint8_t& g, uint8_t& b);

  TPDFStructure* pool_;
  TPDFMetafileLists& lists_;
  std::vector<std::string> faces_;
  std::unique_ptr<TPDFPainter> painter_;
  std::unique_ptr<TState> state_;
  std::vector<std::pair<std::unique_ptr<TState>, std::string>> saves_;
  std::vector<std::unique_ptr<TObjectEntry>> objects_;  // by EMF object index
  TEmfXForm device_, output_;
  double refPixels_[2] = {1, 1}, refMillimeters_[2] = {1, 1};
  TEmfXForm full_, deviceMap_;
  int32_t totalDepth_ = 0;
  // Fonts made by this converter under their face, style and code page, so
  // one font object serves every record that names the same face.
  std::vector<std::pair<std::string, TPDFFont*>> fontsByName_;
  // Glyph-to-character maps of the faces that glyph-index text used.
  std::vector<std::pair<std::string, std::vector<char16_t>>> glyphMaps_;  // every "q" written and not yet closed
};
