// Reader of sfnt fonts (TrueType, and OpenType with CFF outlines): the table
// directory, font header, glyph locations and outlines (simple and
// composite), glyph names, character maps and horizontal metrics.
//
// Every offset, length and count comes from the file and is checked against
// the bytes present. Glyphs are decoded on request, so a font that claims
// huge glyphs costs nothing until one of them is asked for; a damaged glyph
// reads as an empty one. Character maps are kept as their segments, never
// expanded code by code.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class TStream;

struct TPDFTrueTypeTable {
  uint32_t Tag = 0;
  std::string TagText;
  uint32_t Checksum = 0;
  uint32_t Offset = 0;  // from the start of the font's data (CollectionOffset already subtracted)
  uint32_t Length = 0;
  int64_t OffsetFieldPosition = 0;  // where the offset field lies in the data
};

struct TPDFTrueTypeHeader {
  double Version = 0;
  double FontRevision = 0;
  uint16_t Flags = 0;
  uint16_t UnitsPerEm = 2048;
  uint32_t Created = 0;
  uint32_t Modified = 0;
  int32_t XMin = 0, YMin = 0, XMax = 0, YMax = 0;
  uint16_t MacStyle = 0;
  int16_t IndexToLocFormat = 0;
  int16_t GlyphDataFormat = 0;
};

struct TPDFTrueTypeComponent {
  uint16_t Flags = 0;
  uint16_t GlyphIndex = 0;
  int32_t Dx = 0, Dy = 0;  // arguments: offsets, or point numbers when flag 0x02 is clear
  double XScale = 1, YScale = 1, Scale01 = 0, Scale10 = 0;
};

struct TPDFTrueTypePoint {
  int32_t X = 0;
  int32_t Y = 0;
};

struct TPDFTrueTypeGlyph {
  int32_t NumberOfContours = 0;  // 0 for empty and composite glyphs
  int32_t XMin = 0, YMin = 0, XMax = 0, YMax = 0;
  std::vector<uint16_t> EndPoints;
  std::vector<TPDFTrueTypePoint> Points;
  std::vector<uint8_t> Flags;  // bit 0: on curve
  std::vector<TPDFTrueTypeComponent> Components;
};

// A glyph's outline with composites resolved: points in font units.
struct TPDFGlyphOutlinePoint {
  double X = 0;
  double Y = 0;
  bool OnCurve = true;
};
struct TPDFGlyphOutline {
  std::vector<TPDFGlyphOutlinePoint> Points;
  std::vector<uint32_t> EndPoints;  // last point of each contour
};

// One segment of a character map: codes First..Last map to glyphs as Kind says.
struct TPDFCmapSegment {
  uint32_t First = 0;
  uint32_t Last = 0;
  uint8_t Kind = 0;       // 0 (code + Delta), 1 glyph array + Delta, 2 byte array, 3 glyph array, 4 StartGlyph + (code - First)
  int32_t Delta = 0;      // idDelta, or the first glyph of kind 4
  uint32_t ArrayPos = 0;  // position in the font data of the first code's array entry (kinds 1..3)
};

struct TPDFCmapSubtable {
  uint16_t PlatformID = 0;
  uint16_t EncodingID = 0;
  uint32_t Offset = 0;
  uint16_t Format = 0;
  uint16_t Language = 0;
  std::vector<TPDFCmapSegment> Segments;
  bool Ordered = true;  // segments ascend without overlapping (lookups may halve)
};

class TPDFTrueTypeParser {
public:
  TPDFTrueTypeParser() = default;

  int32_t CollectionOffset = 0;  // subtracted from every table offset
  bool OffsetsOnly = false;      // read the directory and nothing else

  // The parser keeps views into its bytes: it is neither copied nor moved.
  TPDFTrueTypeParser(const TPDFTrueTypeParser&) = delete;
  TPDFTrueTypeParser& operator=(const TPDFTrueTypeParser&) = delete;

  void LoadFromStream(TStream& stream);
  void LoadFromString(std::string_view bytes);
  // Reads bytes that owner keeps alive (a mapped font file, say) without
  // copying them; the parser holds owner as long as it holds the bytes.
  void LoadFromShared(std::shared_ptr<const void> owner, std::string_view bytes);
  // Rewrites the offset field of every table in the directory of the font in
  // bytes as offset - base (for a font taken out of a collection).
  static void RebaseTableOffsets(std::string& bytes, uint32_t base);

  double GetVersion() const { return Version; }
  const std::vector<TPDFTrueTypeTable>& GetTables() const { return Tables; }
  uint32_t GetCFFTableOffset() const;
  int32_t FindTable(std::string_view tag) const;
  // Bytes of a table; empty when absent or outside the data.
  std::string_view GetTableData(std::string_view tag) const;

  // The glyph record; an empty record for an index out of range or a damaged glyph.
  TPDFTrueTypeGlyph GetGlyph(int32_t index) const;
  // The outline of a glyph with its composite parts placed (nested composites
  // to a bounded depth, cycles refused), positioned as TrueType rasterizers
  // do: shifted so that the glyph's left side bearing is the one hmtx gives
  // (a no-op in fonts whose bounding boxes agree with hmtx). False (and an
  // empty outline) for a damaged glyph.
  bool GetGlyphOutline(int32_t index, TPDFGlyphOutline& outline) const;
  int32_t GetGlyphCount() const { return NumGlyphs; }
  const TPDFTrueTypeHeader& GetHeader() const { return Header; }
  int32_t GetUnitsPerEm() const { return Header.UnitsPerEm; }

  int32_t FindCmapSubtable(uint16_t platform, uint16_t encoding) const;
  const TPDFCmapSubtable& GetCmapSubtable(int32_t index) const { return CmapSubtables.at(static_cast<size_t>(index)); }
  int32_t GetCmapSubtableCount() const { return static_cast<int32_t>(CmapSubtables.size()); }
  // Glyph of the first code equal to code; -1 when the subtable lacks it.
  int32_t CmapLookup(int32_t subtable, uint32_t code) const;
  // Glyph of the last code whose low byte is lowByte; -1 when none.
  int32_t CmapLookupLowByte(int32_t subtable, uint8_t lowByte) const;
  // Number of codes the subtable maps.
  uint64_t CmapCodeCount(int32_t subtable) const;

  int32_t GetGlyphNameCount() const { return static_cast<int32_t>(glyphNameNumbers_.size()); }
  // The post table's name of a glyph ("" when it has none); throws
  // std::out_of_range for a glyph past the count.
  std::string_view GetGlyphName(int32_t index) const;
  // The last glyph named so; -1 when none is.
  int32_t FindGlyphName(std::string_view name) const;

  // Advance in 1/1000 em: the glyph's, else the last one, 750 when there are none.
  int32_t GetAdvance(int32_t index) const;
  // Advance in font units as the hmtx table has it; 0 when there are none.
  int32_t GetAdvanceUnits(int32_t index) const;
  // Left side bearing in font units from hmtx; 0 when the font has none for the glyph.
  int32_t GetLeftSideBearing(int32_t index) const;
  int32_t GetNumberOfHMetrics() const { return NumberOfHMetrics; }

  // Horizontal header values (1/1000 em where the font has them in font units).
  int32_t Ascender = 0, Descender = 0, LineGap = 0, AdvanceWidthMax = 0, MinLeftSideBearing = 0,
          MinRightSideBearing = 0, XMaxExtent = 0, CaretSlopeRise = 0, CaretSlopeRun = 0, CaretOffset = 0;
  // post values.
  double PostVersion = 0, ItalicAngle = 0;
  int16_t UnderlinePosition = 0, UnderlineThickness = 0;
  uint32_t IsFixedPitch = 0;
  double MaxpVersion = 0;

private:
  void clear();
  void readHead();
  void readMaxp();
  void readLoca();
  void readPost();
  void readCmap();
  void readHhea();
  void readHmtx();
  bool glyphSpan(int32_t index, std::string_view& span) const;
  // False for a damaged glyph (the record is then empty).
  bool readGlyph(int32_t index, TPDFTrueTypeGlyph& g) const;
  bool appendOutline(int32_t index, int depth, std::vector<int32_t>& path, size_t& budget,
                     TPDFGlyphOutline& out) const;

  std::string_view data_;  // ownData_, or bytes dataOwner_ keeps
  std::string ownData_;
  std::shared_ptr<const void> dataOwner_;
  void parse();
  double Version = 0;
  uint16_t NumTables = 0, SearchRange = 0, EntrySelector = 0, RangeShift = 0;
  std::vector<TPDFTrueTypeTable> Tables;
  TPDFTrueTypeHeader Header;
  int32_t NumGlyphs = 0;
  std::vector<uint32_t> Locations;
  // Glyph names, kept as numbers: below 258 a standard Macintosh name,
  // from 258 on one of the post table's own (customNames_), kNoGlyphName
  // for none. A font's names are looked up rarely, and parsing a system
  // font must not build thousands of strings.
  static constexpr uint16_t kNoGlyphName = 0xFFFF;
  std::vector<uint16_t> glyphNameNumbers_;
  struct TCustomName {
    uint32_t Offset;  // in data_
    uint8_t Length;
  };
  std::vector<TCustomName> customNames_;
  // Named glyphs ordered by name, then glyph; made at the first lookup.
  mutable std::vector<uint16_t> glyphsByName_;
  mutable bool glyphsByNameMade_ = false;
  uint16_t CmapVersion = 0;
  std::vector<TPDFCmapSubtable> CmapSubtables;
  int32_t NumberOfHMetrics = 0;
  std::vector<int32_t> AdvanceWidths;  // 1/1000 em
  std::vector<uint16_t> advanceUnits_;
  std::vector<int16_t> leftSideBearings_;  // one per glyph where the font has them
};
