// JBIG2 stream: file header, segment headers, the segment types and the page
// bitmap on which immediate regions are placed.
#include "graphics/PavonaJBIG2.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "graphics/PavonaJBIG2Internal.h"

using namespace jbig2;

namespace {

// Named bit fields of a flags word; names as the segment formats call them.
class TFlags {
public:
  struct TField {
    const char* name;
    int firstBit, bitCount;
  };
  explicit TFlags(std::initializer_list<TField> fields) : fields_(fields) {}
  void SetFlags(uint32_t value) {
    flagsAsInt = value;
    values_.clear();
    for (const auto& f : fields_)
      values_.emplace_back(f.name, static_cast<int>((value >> f.firstBit) & ((1u << f.bitCount) - 1)));
  }
  int GetFlagValue(const char* name) const {
    for (const auto& [n, v] : values_)
      if (std::strcmp(n, name) == 0) return v;
    return 0;
  }
  uint32_t flagsAsInt = 0;

private:
  std::vector<TField> fields_;
  std::vector<std::pair<const char*, int>> values_;
};

TFlags PageInformationFlags() { return TFlags({{"DEFAULT_PIXEL_VALUE", 2, 1}, {"DEFAULT_COMBINATION_OPERATOR", 3, 2}}); }
TFlags RegionFlags() { return TFlags({{"EXTERNAL_COMBINATION_OPERATOR", 0, 3}}); }
TFlags GenericRegionFlags() { return TFlags({{"MMR", 0, 1}, {"GB_TEMPLATE", 1, 2}, {"TPGDON", 3, 1}}); }
TFlags RefinementRegionFlags() { return TFlags({{"GR_TEMPLATE", 0, 1}, {"TPGDON", 1, 1}}); }
TFlags HalftoneRegionFlags() {
  return TFlags({{"H_MMR", 0, 1}, {"H_TEMPLATE", 1, 2}, {"H_ENABLE_SKIP", 3, 1}, {"H_COMB_OP", 4, 3}, {"H_DEF_PIXEL", 7, 1}});
}
TFlags PatternDictionaryFlags() { return TFlags({{"HD_MMR", 0, 1}, {"HD_TEMPLATE", 1, 2}}); }
TFlags SymbolDictionaryFlags() {
  return TFlags({{"SD_HUFF", 0, 1},
                 {"SD_REF_AGG", 1, 1},
                 {"SD_HUFF_DH", 2, 2},
                 {"SD_HUFF_DW", 4, 2},
                 {"SD_HUFF_BM_SIZE", 6, 1},
                 {"SD_HUFF_AGG_INST", 7, 1},
                 {"BITMAP_CC_USED", 8, 1},
                 {"BITMAP_CC_RETAINED", 9, 1},
                 {"SD_TEMPLATE", 10, 2},
                 {"SD_R_TEMPLATE", 12, 1}});
}
TFlags TextRegionFlags() {
  return TFlags({{"SB_HUFF", 0, 1},
                 {"SB_REFINE", 1, 1},
                 {"LOG_SB_STRIPES", 2, 2},
                 {"REF_CORNER", 4, 2},
                 {"TRANSPOSED", 6, 1},
                 {"SB_COMB_OP", 7, 2},
                 {"SB_DEF_PIXEL", 9, 1},
                 {"SB_DS_OFFSET", 10, 5},
                 {"SB_R_TEMPLATE", 15, 1}});
}
TFlags TextRegionHuffmanFlags() {
  return TFlags({{"SB_HUFF_FS", 0, 2},
                 {"SB_HUFF_DS", 2, 2},
                 {"SB_HUFF_DT", 4, 2},
                 {"SB_HUFF_RDW", 6, 2},
                 {"SB_HUFF_RDH", 8, 2},
                 {"SB_HUFF_RDX", 10, 2},
                 {"SB_HUFF_RDY", 12, 2},
                 {"SB_HUFF_RSIZE", 14, 1}});
}

// Symbols a dictionary may hold or a text region may use: well above any
// real document, far below what a 32-bit count could ask for.
constexpr uint64_t kMaxSymbols = 1 << 20;

int CeilLog2(uint64_t n) {
  int bits = 0;
  while ((uint64_t(1) << bits) < n) ++bits;
  return bits;
}

// Sides (0 to 2^32 - 1) are checked before they are multiplied: the product
// of two near 2^32 overflows a signed 64-bit number.
bool TooManyPixels(int64_t width, int64_t height, int64_t limit) {
  return width > limit || height > limit || (height != 0 && width > limit / height);
}

// The adaptive template pixels of generic decoding: four pairs for template
// 0, one for the others; none when the data are not arithmetically coded
// (MMR regions, Huffman-coded dictionaries).
void ReadAdaptivePixels(TStreamReader& r, bool notArithmetic, int templ, int at[8]) {
  if (notArithmetic) return;
  const int n = templ == 0 ? 8 : 2;
  for (int i = 0; i < n; ++i) at[i] = r.ReadSignedByte();
}

// The decoders of a generic region read from r: the arithmetic decoder is
// started unless the data are MMR coded.
void StartGenericDecoding(TGenericParams& g, TArithmeticDecoder& arith, TStreamReader& r, int64_t mmrDataLength) {
  if (!g.mmr) {
    arith.ResetGenericStats(g.templ, nullptr);
    arith.Start();
  }
  g.arith = &arith;
  g.stats = &arith.genericRegionStats;
  g.reader = &r;
  g.mmrDataLength = mmrDataLength;
}

// Symbol dictionaries and text regions take the decoders of their data.
template <class TParams>
void AttachDecoders(TParams& p, TArithmeticDecoder& arith, THuffmanDecoder& huffman, TStreamReader& r) {
  p.arith = &arith;
  p.huffman = &huffman;
  p.reader = &r;
  p.refinementStats = &arith.refinementRegionStats;
}

// The custom Huffman tables a segment refers to, handed out in order.
class TCustomTables {
public:
  explicit TCustomTables(std::vector<const THuffmanTable*> tables) : tables_(std::move(tables)) {}
  const THuffmanTable* Next() {
    if (next_ >= tables_.size()) throw EJBIG2Error("missing custom Huffman table");
    return tables_[next_++];
  }

private:
  std::vector<const THuffmanTable*> tables_;
  size_t next_ = 0;
};

// ---------------------------------------------------------------------------

class TPageInformationSegmentImpl;

class TTableSegment : public TSegment {
public:
  using TSegment::TSegment;
  THuffmanTable table;
  void ReadSegment(TStreamReader& r) override {
    // T.88 7.4.13: a custom table's lines from its prefix and range sizes.
    uint8_t flags = r.ReadByte();
    bool oob = flags & 1;
    int prefixBits = ((flags >> 1) & 7) + 1, rangeBits = ((flags >> 4) & 7) + 1;
    int32_t low = r.ReadInt32(), high = r.ReadInt32();
    if (low > high) throw EJBIG2Error("bad table range");
    int64_t cur = low;
    THuffmanTable t;
    while (cur < high) {
      if (r.IsFinished() || t.size() > 65536) throw EJBIG2Error("bad table lines");
      THuffmanLine l;
      l.prefixLength = static_cast<int>(r.ReadBits(prefixBits));
      l.rangeLength = static_cast<int>(r.ReadBits(rangeBits));
      if (l.rangeLength > 31) throw EJBIG2Error("bad table range length");
      l.rangeLow = static_cast<int32_t>(cur);
      t.push_back(l);
      cur += int64_t(1) << l.rangeLength;
    }
    THuffmanLine lower;
    lower.prefixLength = static_cast<int>(r.ReadBits(prefixBits));
    lower.rangeLength = 32;
    lower.rangeLow = static_cast<int32_t>(int64_t(low) - 1);
    lower.kind = THuffmanLine::hlLower;
    t.push_back(lower);
    THuffmanLine upper;
    upper.prefixLength = static_cast<int>(r.ReadBits(prefixBits));
    upper.rangeLength = 32;
    upper.rangeLow = high;
    upper.kind = THuffmanLine::hlUpper;
    t.push_back(upper);
    if (oob) {
      THuffmanLine o;
      o.prefixLength = static_cast<int>(r.ReadBits(prefixBits));
      o.kind = THuffmanLine::hlOOB;
      t.push_back(o);
    }
    BuildHuffmanTable(t);
    table = std::move(t);
  }
};

}  // namespace

class TPageInformationSegment : public TSegment {
public:
  using TSegment::TSegment;
  uint32_t pageBitmapWidth = 0, pageBitmapHeight = 0, xResolution = 0, yResolution = 0;
  TFlags pageInformationFlags = PageInformationFlags();
  uint16_t pageStriping = 0;
  std::unique_ptr<TJBIG2Bitmap> pageBitmap;
  bool HeightUnknown() const { return pageBitmapHeight == 0xFFFFFFFF; }
  int DefaultPixel() const { return pageInformationFlags.GetFlagValue("DEFAULT_PIXEL_VALUE"); }

  void ReadSegment(TStreamReader& r) override {
    pageBitmapWidth = r.ReadUInt32();
    pageBitmapHeight = r.ReadUInt32();
    xResolution = r.ReadUInt32();
    yResolution = r.ReadUInt32();
    pageInformationFlags.SetFlags(r.ReadByte());
    pageStriping = r.ReadUInt16();
    int64_t h = HeightUnknown() ? (pageStriping & 0x7FFF) : pageBitmapHeight;
    // A page beyond the caller's pixel limit is refused before its regions
    // are decoded, not after.
    if (TooManyPixels(pageBitmapWidth, h, decoder_.MaxPagePixels)) throw EJBIG2Error("page too large");
    pageBitmap = decoder_.NewBitmap(pageBitmapWidth, h);
    if (DefaultPixel()) pageBitmap->Clear(1);
  }

  // Grows a page of unknown height to hold rows up to bottom (exclusive).
  void GrowTo(int64_t bottom) {
    if (!pageBitmap || !HeightUnknown() || bottom <= pageBitmap->height) return;
    if (bottom * int64_t(pageBitmap->width) > decoder_.MaxPagePixels)
      throw EJBIG2Error("page too large");
    pageBitmap->Expand(static_cast<int32_t>(bottom), DefaultPixel());
  }
};

namespace {

class TEndOfStripeSegment : public TSegment {
public:
  using TSegment::TSegment;
  void ReadSegment(TStreamReader& r) override {
    // The stripe's last row: a page of unknown height reaches at least to it.
    uint32_t endRow = r.ReadUInt32();
    if (auto* page = decoder_.FindPageSegment(header.pageAssociation))
      if (endRow < 0x7FFFFFFF) page->GrowTo(int64_t(endRow) + 1);
  }
};

class TExtensionSegment : public TSegment {
public:
  using TSegment::TSegment;
  void ReadSegment(TStreamReader&) override {}
};

class TSymbolDictionarySegment;

class TRegionSegment : public TSegment {
public:
  TRegionSegment(TJBIG2StreamDecoder& d, TSegmentHeader h, bool isInline) : TSegment(d, std::move(h)), inline_(isInline) {}
  uint32_t regionBitmapWidth = 0, regionBitmapHeight = 0;
  bool RegionTooLarge() const {
    return TooManyPixels(regionBitmapWidth, regionBitmapHeight, TJBIG2StreamDecoder::MaxBitmapPixels);
  }
  int32_t regionBitmapXLocation = 0, regionBitmapYLocation = 0;
  TFlags regionFlags = RegionFlags();

protected:
  bool inline_;

  void ReadRegionInfo(TStreamReader& r) {
    regionBitmapWidth = r.ReadUInt32();
    regionBitmapHeight = r.ReadUInt32();
    regionBitmapXLocation = r.ReadInt32();
    regionBitmapYLocation = r.ReadInt32();
    regionFlags.SetFlags(r.ReadByte());
  }
  TPageInformationSegment* Page() const { return decoder_.FindPageSegment(header.pageAssociation); }
  void GrowPageFor(int64_t height) {
    if (auto* page = Page()) page->GrowTo(int64_t(regionBitmapYLocation) + height);
  }
  // Immediate regions go onto their page, intermediate ones are kept by number.
  void Place(std::unique_ptr<TJBIG2Bitmap> bitmap) {
    if (!inline_) {
      bitmap->bitmapNumber = static_cast<int32_t>(header.segmentNumber);
      decoder_.AddBitmap(std::move(bitmap));
      return;
    }
    auto* page = Page();
    if (!page || !page->pageBitmap) return;  // no page: decoded and dropped
    GrowPageFor(bitmap->height);
    decoder_.AddWork(int64_t(bitmap->width) * bitmap->height);
    page->pageBitmap->Combine(*bitmap, regionBitmapXLocation, regionBitmapYLocation,
                              regionFlags.GetFlagValue("EXTERNAL_COMBINATION_OPERATOR"));
  }
  std::vector<const THuffmanTable*> CustomTables() const;
  std::vector<const TJBIG2Bitmap*> ReferredSymbols() const;
};

class TSymbolDictionarySegment : public TSegment {
public:
  using TSegment::TSegment;
  TFlags symbolDictionaryFlags = SymbolDictionaryFlags();
  std::vector<std::unique_ptr<TJBIG2Bitmap>> exportedSymbols;
  std::unique_ptr<TArithmeticDecoderStats> genericStats, refinementStats;

  void ReadSegment(TStreamReader& r) override;
};

std::vector<const THuffmanTable*> TRegionSegment::CustomTables() const {
  std::vector<const THuffmanTable*> tables;
  for (uint32_t n : header.referredToSegments)
    if (auto* t = dynamic_cast<TTableSegment*>(decoder_.FindSegment(n))) tables.push_back(&t->table);
  return tables;
}

std::vector<const TJBIG2Bitmap*> TRegionSegment::ReferredSymbols() const {
  std::vector<const TJBIG2Bitmap*> symbols;
  for (uint32_t n : header.referredToSegments)
    if (auto* d = dynamic_cast<TSymbolDictionarySegment*>(decoder_.FindSegment(n)))
      for (auto& s : d->exportedSymbols) symbols.push_back(s.get());
  if (symbols.size() > kMaxSymbols) throw EJBIG2Error("too many symbols");
  return symbols;
}

void TSymbolDictionarySegment::ReadSegment(TStreamReader& r) {
  symbolDictionaryFlags.SetFlags(r.ReadUInt16());
  auto flag = [&](const char* n) { return symbolDictionaryFlags.GetFlagValue(n); };
  TSymbolDictionaryParams p;
  p.huff = flag("SD_HUFF");
  p.refAgg = flag("SD_REF_AGG");
  p.templ = flag("SD_TEMPLATE");
  p.rTemplate = flag("SD_R_TEMPLATE");
  ReadAdaptivePixels(r, p.huff, p.templ, p.at);
  if (p.refAgg && p.rTemplate == 0)
    for (int i = 0; i < 4; ++i) p.rat[i] = r.ReadSignedByte();
  p.numExported = r.ReadUInt32();
  p.numNew = r.ReadUInt32();

  TSymbolDictionarySegment* lastDictionary = nullptr;
  std::vector<const THuffmanTable*> custom;
  for (uint32_t n : header.referredToSegments) {
    TSegment* s = decoder_.FindSegment(n);
    if (auto* d = dynamic_cast<TSymbolDictionarySegment*>(s)) {
      for (auto& sym : d->exportedSymbols) p.inputSymbols.push_back(sym.get());
      lastDictionary = d;
    } else if (auto* t = dynamic_cast<TTableSegment*>(s)) {
      custom.push_back(&t->table);
    }
  }
  uint64_t all = p.inputSymbols.size() + uint64_t(p.numNew);
  if (all > kMaxSymbols || p.numExported > all) throw EJBIG2Error("bad symbol counts");
  p.symCodeLen = CeilLog2(all);

  TCustomTables customTables(std::move(custom));
  if (p.huff) {
    int dh = flag("SD_HUFF_DH"), dw = flag("SD_HUFF_DW");
    p.tableDH = dh == 0 ? &StandardHuffmanTable(4) : dh == 1 ? &StandardHuffmanTable(5) : customTables.Next();
    p.tableDW = dw == 0 ? &StandardHuffmanTable(2) : dw == 1 ? &StandardHuffmanTable(3) : customTables.Next();
    p.tableBMSize = flag("SD_HUFF_BM_SIZE") ? customTables.Next() : &StandardHuffmanTable(1);
    p.tableAggInst = flag("SD_HUFF_AGG_INST") ? customTables.Next() : &StandardHuffmanTable(1);
  }

  TArithmeticDecoder arith(r);
  THuffmanDecoder huffman(r);
  bool ccUsed = flag("BITMAP_CC_USED") && lastDictionary;
  if (!p.huff) {
    arith.ResetGenericStats(p.templ, ccUsed ? lastDictionary->genericStats.get() : nullptr);
    arith.ResetIntStats(p.symCodeLen);
  }
  if (p.refAgg) arith.ResetRefinementStats(p.rTemplate, ccUsed ? lastDictionary->refinementStats.get() : nullptr);
  if (!p.huff) arith.Start();
  AttachDecoders(p, arith, huffman, r);
  DecodeSymbolDictionary(decoder_, p, exportedSymbols);
  if (flag("BITMAP_CC_RETAINED")) {
    genericStats = std::make_unique<TArithmeticDecoderStats>(arith.genericRegionStats);
    refinementStats = std::make_unique<TArithmeticDecoderStats>(arith.refinementRegionStats);
  }
}

class TPatternDictionarySegment : public TSegment {
public:
  using TSegment::TSegment;
  TFlags patternDictionaryFlags = PatternDictionaryFlags();
  int32_t width = 0, height = 0;
  uint32_t grayMax = 0;
  uint64_t size = 0;
  std::vector<std::unique_ptr<TJBIG2Bitmap>> patterns;

  void ReadSegment(TStreamReader& r) override {
    patternDictionaryFlags.SetFlags(r.ReadByte());
    width = r.ReadByte();
    height = r.ReadByte();
    grayMax = r.ReadUInt32();
    size = uint64_t(grayMax) + 1;
    if (width == 0 || height == 0 || size * uint64_t(width) * uint64_t(height) >
                                         uint64_t(TJBIG2StreamDecoder::MaxBitmapPixels))
      throw EJBIG2Error("bad pattern dictionary size");
    auto collective = decoder_.NewBitmap(int64_t(size) * width, height);
    TGenericParams g;
    g.mmr = patternDictionaryFlags.GetFlagValue("HD_MMR");
    g.templ = patternDictionaryFlags.GetFlagValue("HD_TEMPLATE");
    int at[8] = {-width, 0, -3, -1, 2, -2, -2, -2};
    std::copy(at, at + 8, g.at);
    TArithmeticDecoder arith(r);
    StartGenericDecoding(g, arith, r, r.Remaining());
    ReadGenericRegion(decoder_, *collective, g);
    for (uint64_t n = 0; n < size; ++n)
      patterns.push_back(collective->GetSlice(static_cast<int32_t>(n * uint64_t(width)), 0, width, height));
  }
};

class TGenericRegionSegment : public TRegionSegment {
public:
  using TRegionSegment::TRegionSegment;
  TFlags genericRegionFlags = GenericRegionFlags();
  int64_t consumed = -1;  // bytes taken by a segment of unknown length

  void ReadSegment(TStreamReader& r) override {
    int64_t segStart = r.Position();
    ReadRegionInfo(r);
    genericRegionFlags.SetFlags(r.ReadByte());
    TGenericParams g;
    g.mmr = genericRegionFlags.GetFlagValue("MMR");
    g.templ = genericRegionFlags.GetFlagValue("GB_TEMPLATE");
    g.tpgdon = genericRegionFlags.GetFlagValue("TPGDON");
    ReadAdaptivePixels(r, g.mmr, g.templ, g.at);
    int64_t dataStart = r.Position();
    int64_t height = regionBitmapHeight;
    std::string_view data = r.Data().substr(static_cast<size_t>(std::min(dataStart, r.Size())));
    if (header.DataLengthUnknown()) {
      // The data end with 00 00 (MMR) or FF AC, then a 4-byte row count; without
      // them the region is cut at the end of the data.
      size_t found = std::string_view::npos;
      for (size_t i = 0; i + 1 < data.size(); ++i) {
        bool end = g.mmr ? (data[i] == 0 && data[i + 1] == 0) : (uint8_t(data[i]) == 0xFF && uint8_t(data[i + 1]) == 0xAC);
        if (end) {
          found = i;
          break;
        }
      }
      if (found != std::string_view::npos) {
        TStreamReader rows(data.substr(std::min(found + 2, data.size())));
        uint32_t rowCount = rows.ReadUInt32();
        if (rowCount < regionBitmapHeight) height = rowCount;
        data = data.substr(0, found + 2);
        consumed = dataStart - segStart + int64_t(found) + 6;
      } else {
        consumed = dataStart - segStart + int64_t(data.size());
      }
      if (height == 0xFFFFFFFF) throw EJBIG2Error("region of unknown height without row count");
    }
    auto bitmap = decoder_.NewBitmap(regionBitmapWidth, height);
    if (inline_) GrowPageFor(height);
    TStreamReader sub(data);
    TArithmeticDecoder arith(sub);
    StartGenericDecoding(g, arith, sub, static_cast<int64_t>(data.size()));
    ReadGenericRegion(decoder_, *bitmap, g);
    Place(std::move(bitmap));
  }
};

class TRefinementRegionSegment : public TRegionSegment {
public:
  using TRegionSegment::TRegionSegment;
  TFlags refinementRegionFlags = RefinementRegionFlags();

  void ReadSegment(TStreamReader& r) override {
    ReadRegionInfo(r);
    refinementRegionFlags.SetFlags(r.ReadByte());
    int templ = refinementRegionFlags.GetFlagValue("GR_TEMPLATE");
    bool tpgron = refinementRegionFlags.GetFlagValue("TPGDON");
    int8_t at[4] = {};
    if (templ == 0)
      for (auto& a : at) a = r.ReadSignedByte();
    if (header.referredToSegments.size() > 1) return;
    std::unique_ptr<TJBIG2Bitmap> pageSlice;
    const TJBIG2Bitmap* reference = nullptr;
    if (header.referredToSegments.size() == 1) {
      reference = decoder_.FindBitmap(static_cast<int32_t>(header.referredToSegments[0]));
    } else {
      auto* page = Page();
      if (page && page->pageBitmap) {
        if (inline_) GrowPageFor(regionBitmapHeight);
        if (RegionTooLarge())
          throw EJBIG2Error("region too large");
        pageSlice = page->pageBitmap->GetSlice(regionBitmapXLocation, regionBitmapYLocation,
                                               static_cast<int32_t>(regionBitmapWidth),
                                               static_cast<int32_t>(regionBitmapHeight));
        reference = pageSlice.get();
      }
    }
    if (!reference) return;
    auto bitmap = decoder_.NewBitmap(regionBitmapWidth, regionBitmapHeight);
    TArithmeticDecoder arith(r);
    arith.ResetRefinementStats(templ, nullptr);
    arith.Start();
    ReadGenericRefinementRegion(decoder_, *bitmap, arith, arith.refinementRegionStats, templ, tpgron, at, *reference,
                                0, 0);
    Place(std::move(bitmap));
  }
};

class TTextRegionSegment : public TRegionSegment {
public:
  using TRegionSegment::TRegionSegment;
  TFlags textRegionFlags = TextRegionFlags();
  TFlags textRegionHuffmanFlags = TextRegionHuffmanFlags();

  void ReadSegment(TStreamReader& r) override {
    ReadRegionInfo(r);
    textRegionFlags.SetFlags(r.ReadUInt16());
    auto flag = [&](const char* n) { return textRegionFlags.GetFlagValue(n); };
    TTextRegionParams p;
    p.huff = flag("SB_HUFF");
    p.refine = flag("SB_REFINE");
    p.logStrips = flag("LOG_SB_STRIPES");
    p.refCorner = flag("REF_CORNER");
    p.transposed = flag("TRANSPOSED");
    p.combOp = flag("SB_COMB_OP");
    p.defPixel = flag("SB_DEF_PIXEL");
    p.dsOffset = flag("SB_DS_OFFSET");
    if (p.dsOffset & 0x10) p.dsOffset -= 32;
    p.rTemplate = flag("SB_R_TEMPLATE");
    if (p.huff) textRegionHuffmanFlags.SetFlags(r.ReadUInt16());
    if (p.refine && p.rTemplate == 0)
      for (auto& a : p.rat) a = r.ReadSignedByte();
    p.numInstances = r.ReadUInt32();
    p.symbols = ReferredSymbols();
    p.symCodeLen = CeilLog2(p.symbols.size());
    if (RegionTooLarge())
      throw EJBIG2Error("region too large");
    p.width = static_cast<int32_t>(regionBitmapWidth);
    p.height = static_cast<int32_t>(regionBitmapHeight);

    TCustomTables customTables(CustomTables());
    THuffmanDecoder huffman(r);
    THuffmanTable symbolCodes;
    if (p.huff) {
      auto hf = [&](const char* n) { return textRegionHuffmanFlags.GetFlagValue(n); };
      auto pick = [&](int v, std::initializer_list<int> standard) -> const THuffmanTable* {
        if (v < static_cast<int>(standard.size())) return &StandardHuffmanTable(standard.begin()[v]);
        return customTables.Next();
      };
      // Custom tables are taken in this order from the referred-to tables.
      p.tableFS = pick(hf("SB_HUFF_FS"), {6, 7, 0}) ;
      p.tableDS = pick(hf("SB_HUFF_DS"), {8, 9, 10});
      p.tableDT = pick(hf("SB_HUFF_DT"), {11, 12, 13});
      p.tableRDW = pick(hf("SB_HUFF_RDW"), {14, 15, 0});
      p.tableRDH = pick(hf("SB_HUFF_RDH"), {14, 15, 0});
      p.tableRDX = pick(hf("SB_HUFF_RDX"), {14, 15, 0});
      p.tableRDY = pick(hf("SB_HUFF_RDY"), {14, 15, 0});
      p.tableRSIZE = pick(hf("SB_HUFF_RSIZE"), {1});
      symbolCodes = ReadSymbolIDTable(r, huffman, p.symbols.size());
      p.symCodes = &symbolCodes;
    }
    TArithmeticDecoder arith(r);
    if (!p.huff) {
      arith.ResetIntStats(p.symCodeLen);
      arith.Start();
    }
    if (p.refine) arith.ResetRefinementStats(p.rTemplate, nullptr);
    AttachDecoders(p, arith, huffman, r);
    if (inline_) GrowPageFor(regionBitmapHeight);
    auto bitmap = ReadTextRegion(decoder_, p);
    Place(std::move(bitmap));
  }

  // The symbol ID Huffman table (T.88 7.4.3.1.7): 35 run-code lengths, then
  // one code length per symbol, run-length coded.
  static THuffmanTable ReadSymbolIDTable(TStreamReader& r, THuffmanDecoder& huffman, size_t numSymbols) {
    THuffmanTable runCodes;
    for (int i = 0; i < 35; ++i) {
      THuffmanLine l;
      l.prefixLength = static_cast<int>(r.ReadBits(4));
      l.rangeLow = i;
      runCodes.push_back(l);
    }
    BuildHuffmanTable(runCodes);
    std::vector<int> lengths;
    lengths.reserve(numSymbols);
    while (lengths.size() < numSymbols) {
      int32_t code;
      if (!huffman.DecodeInt(runCodes, code)) throw EJBIG2Error("bad symbol ID code length");
      int repeat = 0, value = 0;
      if (code < 32) {
        lengths.push_back(code);
        continue;
      }
      if (code == 32) {
        if (lengths.empty()) throw EJBIG2Error("repeat without a length");
        value = lengths.back();
        repeat = 3 + static_cast<int>(r.ReadBits(2));
      } else if (code == 33) {
        repeat = 3 + static_cast<int>(r.ReadBits(3));
      } else {
        repeat = 11 + static_cast<int>(r.ReadBits(7));
      }
      for (int i = 0; i < repeat && lengths.size() < numSymbols; ++i) lengths.push_back(value);
    }
    r.ConsumeRemainingBits();
    THuffmanTable ids;
    for (size_t i = 0; i < lengths.size(); ++i) {
      THuffmanLine l;
      l.prefixLength = lengths[i];
      l.rangeLow = static_cast<int32_t>(i);
      ids.push_back(l);
    }
    BuildHuffmanTable(ids);
    return ids;
  }
};

class THalftoneRegionSegment : public TRegionSegment {
public:
  using TRegionSegment::TRegionSegment;
  TFlags halftoneRegionFlags = HalftoneRegionFlags();

  void ReadSegment(TStreamReader& r) override {
    ReadRegionInfo(r);
    halftoneRegionFlags.SetFlags(r.ReadByte());
    auto flag = [&](const char* n) { return halftoneRegionFlags.GetFlagValue(n); };
    uint32_t gw = r.ReadUInt32(), gh = r.ReadUInt32();
    int64_t gx = r.ReadInt32(), gy = r.ReadInt32();
    int64_t rx = r.ReadUInt16(), ry = r.ReadUInt16();
    TPatternDictionarySegment* dict = nullptr;
    if (!header.referredToSegments.empty())
      dict = dynamic_cast<TPatternDictionarySegment*>(decoder_.FindSegment(header.referredToSegments[0]));
    auto region = decoder_.NewBitmap(regionBitmapWidth, regionBitmapHeight);
    if (flag("H_DEF_PIXEL")) region->Clear(1);
    // A grid without cells places nothing and has no planes to decode.
    if (dict && !dict->patterns.empty() && gw > 0 && gh > 0) {
      if (uint64_t(gw) * gh > uint64_t(TJBIG2StreamDecoder::MaxBitmapPixels)) throw EJBIG2Error("bad grid size");
      int32_t w = static_cast<int32_t>(gw), h = static_cast<int32_t>(gh);
      int bpp = CeilLog2(dict->patterns.size());
      // Each bit plane of the gray-scale image is a generic region of the
      // grid's size: a grid of millions of cells with many planes is
      // refused before its first plane, not after minutes of decoding.
      decoder_.CheckWork(int64_t(w) * h * bpp);
      int64_t pw = dict->width, ph = dict->height;
      std::unique_ptr<TJBIG2Bitmap> skip;
      if (flag("H_ENABLE_SKIP")) {
        skip = decoder_.NewBitmap(w, h);
        for (int32_t m = 0; m < h; ++m)
          for (int32_t n = 0; n < w; ++n) {
            int64_t x = (gx + m * ry + n * rx) >> 8, y = (gy + m * rx - n * ry) >> 8;
            if (x + pw <= 0 || x >= region->width || y + ph <= 0 || y >= region->height) skip->SetPixel(n, m, 1);
          }
      }
      TGenericParams g;
      g.mmr = flag("H_MMR");
      g.templ = flag("H_TEMPLATE");
      int at[8] = {g.templ <= 1 ? 3 : 2, -1, -3, -1, 2, -2, -2, -2};
      std::copy(at, at + 8, g.at);
      g.skip = skip.get();
      TArithmeticDecoder arith(r);
      StartGenericDecoding(g, arith, r, -1);
      std::vector<uint32_t> gray = DecodeGrayScaleImage(decoder_, g, bpp, w, h);
      int op = flag("H_COMB_OP");
      uint32_t last = static_cast<uint32_t>(dict->patterns.size() - 1);
      for (int32_t m = 0; m < h; ++m)
        for (int32_t n = 0; n < w; ++n) {
          if (skip && skip->GetPixel(n, m)) continue;
          int64_t x = (gx + m * ry + n * rx) >> 8, y = (gy + m * rx - n * ry) >> 8;
          // Gray values past the dictionary use its last pattern.
          uint32_t v = std::min(gray[static_cast<size_t>(m) * static_cast<size_t>(w) + static_cast<size_t>(n)], last);
          decoder_.AddWork(pw * ph);
          region->Combine(*dict->patterns[v], x, y, op);
        }
    }
    if (inline_) GrowPageFor(regionBitmapHeight);
    Place(std::move(region));
  }
};

}  // namespace

// --- TJBIG2StreamDecoder ----------------------------------------------------------

TJBIG2StreamDecoder::TJBIG2StreamDecoder() = default;
TJBIG2StreamDecoder::~TJBIG2StreamDecoder() = default;

std::unique_ptr<TJBIG2Bitmap> TJBIG2StreamDecoder::NewBitmap(int64_t width, int64_t height) {
  if (width < 0 || height < 0 || width > INT32_MAX || height > INT32_MAX || width * height > MaxBitmapPixels)
    throw EJBIG2Error("bitmap too large");
  AddWork(width * height / 8);
  return std::make_unique<TJBIG2Bitmap>(static_cast<int32_t>(width), static_cast<int32_t>(height));
}

void TJBIG2StreamDecoder::AddWork(int64_t pixels) {
  work_ += pixels;
  if (work_ > WorkLimit) throw EJBIG2Error("decoding work limit reached");
}

void TJBIG2StreamDecoder::CheckWork(int64_t pixels) const {
  if (pixels > WorkLimit - work_) throw EJBIG2Error("decoding work limit reached");
}

TSegment* TJBIG2StreamDecoder::FindSegment(uint32_t number) const {
  for (const auto& s : segments_)
    if (s && s->header.segmentNumber == number) return s.get();
  return nullptr;
}

TPageInformationSegment* TJBIG2StreamDecoder::FindPageSegment(uint32_t page) const {
  for (const auto& s : segments_)
    if (s && s->header.segmentType == 48 && s->header.pageAssociation == page)
      return static_cast<TPageInformationSegment*>(s.get());
  return nullptr;
}

TJBIG2Bitmap* TJBIG2StreamDecoder::GetPageBitmap() const {
  auto* page = FindPageSegment(1);
  return page ? page->pageBitmap.get() : nullptr;
}

void TJBIG2StreamDecoder::AddBitmap(std::unique_ptr<TJBIG2Bitmap> bitmap) { bitmaps_.push_back(std::move(bitmap)); }

TJBIG2Bitmap* TJBIG2StreamDecoder::FindBitmap(int32_t number) const {
  for (const auto& b : bitmaps_)
    if (b->bitmapNumber == number) return b.get();
  return nullptr;
}

bool TJBIG2StreamDecoder::ReadSegmentHeader(TStreamReader& r, TSegmentHeader& h) {
  h.segmentNumber = r.ReadUInt32();
  uint8_t flags = r.ReadByte();
  h.segmentType = flags & 63;
  h.pageAssociationSizeSet = flags & 0x40;
  h.deferredNonRetainSet = flags & 0x80;
  uint8_t rts = r.ReadByte();
  uint32_t count = rts >> 5;
  if (count <= 4) {
    h.retentionFlags.assign(1, rts);
  } else if (count == 7) {
    count = (uint32_t(rts & 0x1F) << 24) | (uint32_t(r.ReadByte()) << 16) | (uint32_t(r.ReadByte()) << 8) | r.ReadByte();
    int64_t flagBytes = (int64_t(count) + 8) / 8;
    if (flagBytes > r.Remaining()) return false;
    std::string_view f = r.ReadBytes(flagBytes);
    h.retentionFlags.assign(f.begin(), f.end());
  } else {
    return false;  // 5 and 6 are not used
  }
  int refSize = h.segmentNumber <= 256 ? 1 : h.segmentNumber <= 65536 ? 2 : 4;
  if (int64_t(count) * refSize > r.Remaining()) return false;
  h.referredToSegmentCount = count;
  h.referredToSegments.resize(count);
  for (auto& n : h.referredToSegments) n = refSize == 1 ? r.ReadByte() : refSize == 2 ? r.ReadUInt16() : r.ReadUInt32();
  h.pageAssociation = h.pageAssociationSizeSet ? r.ReadUInt32() : r.ReadByte();
  h.dataLength = r.ReadUInt32();
  return r.Overrun() == 0;
}

std::unique_ptr<TSegment> TJBIG2StreamDecoder::MakeSegment(const TSegmentHeader& h) {
  switch (h.segmentType) {
    case 0:
      return std::make_unique<TSymbolDictionarySegment>(*this, h);
    case 4:
      return std::make_unique<TTextRegionSegment>(*this, h, false);
    case 6:
    case 7:
      return std::make_unique<TTextRegionSegment>(*this, h, true);
    case 16:
      return std::make_unique<TPatternDictionarySegment>(*this, h);
    case 20:
      return std::make_unique<THalftoneRegionSegment>(*this, h, false);
    case 22:
    case 23:
      return std::make_unique<THalftoneRegionSegment>(*this, h, true);
    case 36:
      return std::make_unique<TGenericRegionSegment>(*this, h, false);
    case 38:
    case 39:
      return std::make_unique<TGenericRegionSegment>(*this, h, true);
    case 40:
      return std::make_unique<TRefinementRegionSegment>(*this, h, false);
    case 42:
    case 43:
      return std::make_unique<TRefinementRegionSegment>(*this, h, true);
    case 48:
      return std::make_unique<TPageInformationSegment>(*this, h);
    case 50:
      return std::make_unique<TEndOfStripeSegment>(*this, h);
    case 53:
      return std::make_unique<TTableSegment>(*this, h);
    case 62:
      return std::make_unique<TExtensionSegment>(*this, h);
    default:
      return nullptr;  // end of page, profiles and unknown types carry nothing we use
  }
}

void TJBIG2StreamDecoder::ReadSegmentData(TSegment& segment, TStreamReader& reader, int64_t start) {
  // Each segment reads exactly its own data; a length past the end is cut there.
  int64_t avail = std::max<int64_t>(reader.Size() - start, 0);
  int64_t len = segment.header.DataLengthUnknown() ? avail : std::min<int64_t>(segment.header.dataLength, avail);
  TStreamReader sub(reader.Data().substr(static_cast<size_t>(std::min(start, reader.Size())), static_cast<size_t>(len)));
  int64_t next = start + len;
  try {
    segment.ReadSegment(sub);
    if (segment.header.DataLengthUnknown()) {
      auto* g = dynamic_cast<TGenericRegionSegment*>(&segment);
      next = g && g->consumed >= 0 ? start + g->consumed : reader.Size();
    }
  } catch (const EJBIG2Error&) {
    // The segment is dropped; the segments after it are still read.
    if (work_ > WorkLimit) throw;
    if (segment.header.DataLengthUnknown()) next = reader.Size();
  }
  reader.SetPosition(next);
}

void TJBIG2StreamDecoder::ReadSegments(TStreamReader& reader) {
  std::vector<std::pair<TSegment*, uint32_t>> unread;
  while (!reader.IsFinished() && !endOfFile_) {
    TSegmentHeader h;
    if (!ReadSegmentHeader(reader, h)) break;
    if (h.segmentType == 51) {
      endOfFile_ = true;
      break;
    }
    auto seg = MakeSegment(h);
    TSegment* raw = seg.get();
    if (randomAccessOrganisation) {
      if (h.DataLengthUnknown()) break;
      segments_.push_back(std::move(seg));
      unread.emplace_back(raw, h.dataLength);
      continue;
    }
    int64_t start = reader.Position();
    if (raw) {
      segments_.push_back(std::move(seg));
      ReadSegmentData(*raw, reader, start);
    } else {
      if (h.DataLengthUnknown()) break;
      reader.SetPosition(start + h.dataLength);
    }
  }
  if (randomAccessOrganisation) {
    // All headers first, then every segment's data in order.
    int64_t pos = reader.Position();
    for (auto [s, length] : unread) {
      int64_t start = pos;
      if (start >= reader.Size()) break;
      pos += length;
      if (s) ReadSegmentData(*s, reader, start);
    }
  }
}

void TJBIG2StreamDecoder::Decode(std::string_view data) {
  segments_.clear();
  bitmaps_.clear();
  noOfPagesKnown = false;
  randomAccessOrganisation = false;
  noOfPages = -1;
  endOfFile_ = false;
  work_ = 0;
  static constexpr uint8_t kId[8] = {0x97, 0x4A, 0x42, 0x32, 0x0D, 0x0A, 0x1A, 0x0A};
  TStreamReader reader(data);
  bool file = data.size() >= 8 && std::memcmp(data.data(), kId, 8) == 0;
  try {
    if (file) {
      reader.MovePointer(8);
      uint8_t flags = reader.ReadByte();
      randomAccessOrganisation = !(flags & 1);
      noOfPagesKnown = !(flags & 2);
      if (noOfPagesKnown) noOfPages = static_cast<int32_t>(std::min<uint32_t>(reader.ReadUInt32(), INT32_MAX));
      ReadSegments(reader);
    } else {
      noOfPagesKnown = true;
      noOfPages = 1;
      if (!globals_.empty()) {
        TStreamReader g(globals_);
        ReadSegments(g);
        endOfFile_ = false;
      }
      ReadSegments(reader);
    }
  } catch (const EJBIG2Error&) {
    // Work limit: what was decoded stays.
  }
}

// --- TPVLJBIG2Decoder ---------------------------------------------------------

bool TPVLJBIG2Decoder::DecodeWithGlobals(std::string_view data, std::string_view globals) {
  Width = 0;
  Height = 0;
  Scanlines.clear();
  PackedRows.clear();
  if (data.empty()) return false;
  TJBIG2StreamDecoder decoder;
  decoder.MaxPagePixels = std::min(MaxPixels, TJBIG2StreamDecoder::MaxBitmapPixels);
  if (!globals.empty()) decoder.SetGlobalData(globals);
  decoder.Decode(data);
  // A file that does not declare its page count is still read for page 1.
  if (decoder.noOfPagesKnown && decoder.NoOfPages() <= 0) return false;
  TJBIG2Bitmap* page = decoder.GetPageBitmap();
  if (!page || page->width <= 0 || page->height <= 0) return false;
  if (int64_t(page->width) * page->height > MaxPixels) return false;
  Width = page->width;
  Height = page->height;
  if (PackRows) {
    const size_t stride = (static_cast<size_t>(Width) + 7) / 8;
    PackedRows.assign(stride * static_cast<size_t>(Height), '\0');
    // The page is kept in this layout already (padding bits clear).
    for (int32_t y = 0; y < Height; ++y)
      std::memcpy(&PackedRows[stride * static_cast<size_t>(y)], page->PackedRow(y), stride);
    return true;
  }
  Scanlines.reserve(static_cast<size_t>(Height));
  for (int32_t y = 0; y < Height; ++y) Scanlines.push_back(page->GetRow(y));
  return true;
}

bool TPVLJBIG2Decoder::GetScanline(int32_t row, std::vector<uint8_t>& bytes) const {
  bytes.assign(static_cast<size_t>(std::max(Width, 0)), 0);
  if (row < 0 || row >= Height) return false;
  bytes = Scanlines[static_cast<size_t>(row)];
  return true;
}
