#include "render/PavonaFontCollection.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "render/PavonaCMap.h"
#include "render/PavonaType1.h"
#include "render/PavonaType3.h"
#include "objects/PavonaCharClass.h"

// ---------------------------------------------------------------------------
// TPDFRangeIndex

void TPDFRangeIndex::Clear() {
  ranges_.clear();
  maxLast_.clear();
  sorted_ = true;
}

void TPDFRangeIndex::Add(int64_t first, int64_t last) {
  ranges_.push_back(Range{first, last, static_cast<int32_t>(ranges_.size())});
  sorted_ = false;
}

void TPDFRangeIndex::prepare() const {
  if (sorted_) return;
  std::stable_sort(ranges_.begin(), ranges_.end(), [](const Range& a, const Range& b) { return a.first < b.first; });
  maxLast_.resize(ranges_.size());
  int64_t m = INT64_MIN;
  for (size_t i = 0; i < ranges_.size(); ++i) maxLast_[i] = m = std::max(m, ranges_[i].last);
  sorted_ = true;
}

int32_t TPDFRangeIndex::Find(int64_t value) const {
  prepare();
  // Ranges starting at or before value, walked back while one of them can still reach it.
  auto it = std::upper_bound(ranges_.begin(), ranges_.end(), value,
                             [](int64_t v, const Range& r) { return v < r.first; });
  int32_t best = -1;
  for (size_t i = static_cast<size_t>(it - ranges_.begin()); i-- > 0;) {
    if (maxLast_[i] < value) break;
    const Range& r = ranges_[i];
    if (r.last >= value && (best < 0 || r.order < best)) best = r.order;
  }
  return best;
}

// ---------------------------------------------------------------------------
// TPDFCIDWidths

void TPDFCIDWidths::AddRange(int64_t first, int64_t last, double width) {
  if (last < first) return;
  index_.Add(first, last);
  widths_.push_back(width);
}

bool TPDFCIDWidths::Find(uint32_t cid, double& width) const {
  int32_t i = index_.Find(cid);
  if (i < 0) return false;
  width = widths_[static_cast<size_t>(i)];
  return true;
}

bool TPDFCIDWidths::GetWidth(uint32_t cid, double& width) const {
  if (Find(cid, width)) return true;
  if (!HasDefault) return false;
  width = Default;
  return true;
}

void ReadCIDWidths(const TPDFArray* w, double defaultWidth, TPDFCIDWidths& widths,
                   const std::function<TPDFObject*(TPDFObject*)>& resolve) {
  widths.SetDefault(defaultWidth);
  if (!w) return;
  auto item = [&](int32_t i) -> TPDFObject* {
    TPDFObject* obj = w->GetItem(i);
    return resolve ? resolve(obj) : PDFResolve(obj);
  };
  auto asWidth = [](const TPDFNumeric* n) { return static_cast<double>(n->AsInteger()); };
  const int32_t count = w->GetCount();
  int32_t a = 0;
  while (a < count - 1) {
    TPDFNumeric* first = PDFAsNumeric(item(a));
    if (!first) break;
    TPDFObject* next = item(a + 1);
    if (TPDFNumeric* last = PDFAsNumeric(next)) {
      TPDFNumeric* width = a + 2 < count ? PDFAsNumeric(item(a + 2)) : nullptr;
      if (!width) break;
      widths.AddRange(first->AsInteger(), last->AsInteger(), asWidth(width));
      a += 3;
    } else if (TPDFArray* list = PDFAsArray(next)) {
      const int64_t cid = first->AsInteger();
      for (int32_t k = 0; k < list->GetCount(); ++k) {
        TPDFObject* e = resolve ? resolve(list->GetItem(k)) : PDFResolve(list->GetItem(k));
        if (TPDFNumeric* n = PDFAsNumeric(e)) widths.AddRange(cid + k, cid + k, asWidth(n));
      }
      a += 2;
    } else {
      break;
    }
  }
}

// ---------------------------------------------------------------------------
// TPDFFontCollectionData

TPDFFontCollectionData::TPDFFontCollectionData() {
  Widths.fill(750);
  for (auto& g : GlyphNames) g.clear();
}

TPDFFontCollectionData::~TPDFFontCollectionData() = default;

void TPDFFontCollectionData::IndexToUnicodeRanges() {
  toUnicodeIndex_.Clear();
  for (const TPDFToUnicodeRange& r : ToUnicodeRanges) toUnicodeIndex_.Add(r.First, r.Last);
}

int32_t TPDFFontCollectionData::FindToUnicodeRange(uint32_t code) const {
  if (toUnicodeIndex_.GetCount() != static_cast<int32_t>(ToUnicodeRanges.size())) {
    // Records added without reindexing: search them as they stand.
    for (size_t i = 0; i < ToUnicodeRanges.size(); ++i)
      if (ToUnicodeRanges[i].First <= code && code <= ToUnicodeRanges[i].Last) return static_cast<int32_t>(i);
    return -1;
  }
  return toUnicodeIndex_.Find(code);
}

uint32_t TPDFFontCollectionData::GlyphIndexOfCode(uint32_t code) const {
  const size_t at = static_cast<size_t>(code) * 2;
  if (!CIDToGIDMap.empty() && at + 1 < CIDToGIDMap.size())
    return (uint32_t(uint8_t(CIDToGIDMap[at])) << 8) | uint8_t(CIDToGIDMap[at + 1]);
  return code;
}

bool TPDFFontCollectionData::GetCIDWidth(uint32_t code, double& width) const {
  return CIDWidths && CIDWidths->GetWidth(code, width);
}

// ---------------------------------------------------------------------------
// ToUnicode CMaps

namespace {

int hexValue(char c) {
  return PDFHexValue(c);
}

// Reads "<hex>" items of one block in order. Positions only move forward,
// and the next "[" and "]" are remembered, so a block costs one pass.
struct TCMapBlockReader {
  std::string_view text;
  size_t pos = 0;
  size_t nextOpen = 0;   // position of the next "[" at or after pos (npos: none)
  size_t nextClose = 0;  // position of the next "]" at or after pos
  bool primed = false;

  struct Item {
    bool missing = true;
    bool array = false;
    std::string digits;  // hex digits only
  };

  explicit TCMapBlockReader(std::string_view t) : text(t) {}

  size_t following(char c, size_t& cached) {
    if (!primed || (cached != std::string_view::npos && cached < pos)) cached = text.find(c, pos);
    return cached;
  }
  void refresh() {
    following('[', nextOpen);
    following(']', nextClose);
    primed = true;
  }

  Item next() {
    Item it;
    refresh();
    size_t lt = text.find('<', pos);
    size_t gt = lt == std::string_view::npos ? lt : text.find('>', lt + 1);
    if (gt == std::string_view::npos) {
      pos = text.size();
      return it;
    }
    if (nextOpen != std::string_view::npos && nextOpen < lt) {
      pos = nextOpen + 1;
      it.missing = false;
      it.array = true;
      return it;
    }
    for (size_t i = lt + 1; i < gt; ++i)
      if (hexValue(text[i]) >= 0) it.digits += text[i];
    pos = gt + 1;
    it.missing = false;
    return it;
  }

  // True when a "]" comes before the next "<".
  bool arrayEnds() {
    refresh();
    if (nextClose == std::string_view::npos) return false;
    size_t lt = text.find('<', pos);
    return lt == std::string_view::npos || nextClose < lt;
  }
};

// Value of hex digits; values past 32 bits saturate (no code of a table is that large).
int64_t hexNumber(std::string_view digits) {
  int64_t v = 0;
  for (char c : digits) {
    v = v * 16 + hexValue(c);
    if (v > 0xFFFFFFFFLL) return 0x100000000LL;
  }
  return v;
}

// A destination: up to 4 digits one unit, more cut into units of 4 digits.
std::u16string hexUnits(std::string_view digits) {
  std::u16string units;
  if (digits.size() <= 4) {
    if (!digits.empty()) units += static_cast<char16_t>(hexNumber(digits));
    return units;
  }
  for (size_t i = 0; i < digits.size(); i += 4) units += static_cast<char16_t>(hexNumber(digits.substr(i, 4)));
  return units;
}

}  // namespace

void TPDFFontCollection::ParseToUnicodeCMap(std::string_view text, bool& singleByte,
                                            std::vector<TPDFToUnicodeRange>& ranges) {
  singleByte = false;
  ranges.clear();
  size_t csBegin = text.find("begincodespacerange");
  if (csBegin == std::string_view::npos) return;
  size_t csEnd = text.find("endcodespacerange", csBegin);
  if (csEnd == std::string_view::npos) return;
  {
    TCMapBlockReader rd{text.substr(csBegin + 19, csEnd - csBegin - 19)};
    TCMapBlockReader::Item lo = rd.next(), hi = rd.next();
    if (lo.missing || hi.missing || lo.array || hi.array) return;
    if (lo.digits.size() == 2) singleByte = true;
  }
  size_t pos = csEnd + 17;
  // Each keyword's next position is looked for again only once reading has
  // passed it, so many blocks (or many unterminated ones) cost one pass.
  struct TKeyword {
    std::string_view word;
    size_t at = 0;
    bool searched = false;
  } range{"beginbfrange"}, chars{"beginbfchar"}, endRange{"endbfrange"}, endChars{"endbfchar"}, endCMap{"endcmap"};
  auto find = [&text](TKeyword& k, size_t from) {
    if (!k.searched || (k.at != std::string_view::npos && k.at < from)) k.at = text.find(k.word, from);
    k.searched = true;
    return k.at;
  };
  for (;;) {
    const size_t r = find(range, pos), c = find(chars, pos);
    if (r == std::string_view::npos && c == std::string_view::npos) break;
    const bool isRange = r < c;
    const size_t bodyStart = isRange ? r + 12 : c + 11;
    size_t end = find(isRange ? endRange : endChars, bodyStart);
    size_t endLength = isRange ? 10 : 9;
    if (end == std::string_view::npos && !isRange) {
      end = find(endCMap, bodyStart);
      endLength = 7;
    }
    if (end == std::string_view::npos) end = text.size(), endLength = 0;
    TCMapBlockReader rd{text.substr(bodyStart, end - bodyStart)};
    if (isRange) {
      for (;;) {
        TCMapBlockReader::Item lo = rd.next();
        if (lo.missing || lo.array) break;
        TCMapBlockReader::Item hi = rd.next();
        if (hi.missing || hi.array) break;
        TCMapBlockReader::Item dst = rd.next();
        if (dst.missing) break;
        const int64_t first = hexNumber(lo.digits), last = hexNumber(hi.digits);
        if (!dst.array) {
          if (first <= 0xFFFF && last <= 0xFFFF && !dst.digits.empty())
            ranges.push_back(TPDFToUnicodeRange{static_cast<uint16_t>(first), static_cast<uint16_t>(last),
                                                hexUnits(dst.digits)});
          continue;
        }
        // One destination per code, as many as the array holds.
        for (int64_t code = first; code <= last && !rd.arrayEnds(); ++code) {
          TCMapBlockReader::Item d = rd.next();
          if (d.missing || d.array) break;
          std::u16string units = hexUnits(d.digits);
          if (code <= 0xFFFF && !units.empty() && units[0] < 0xFFFF)
            ranges.push_back(TPDFToUnicodeRange{static_cast<uint16_t>(code), static_cast<uint16_t>(code), units});
        }
      }
    } else {
      for (;;) {
        TCMapBlockReader::Item code = rd.next();
        if (code.missing || code.array) break;
        TCMapBlockReader::Item dst = rd.next();
        if (dst.missing || dst.array) break;
        const int64_t c = hexNumber(code.digits);
        std::u16string units = hexUnits(dst.digits);
        if (c <= 0xFFFF && !units.empty())
          ranges.push_back(TPDFToUnicodeRange{static_cast<uint16_t>(c), static_cast<uint16_t>(c), units});
      }
    }
    pos = end + endLength;
    if (endLength == 0) break;
  }
}

// ---------------------------------------------------------------------------
// TPDFFontCollection

namespace {

uint8_t encodingKindOf(std::string_view name) {
  if (name == "StandardEncoding") return pdfekStandard;
  if (name == "MacRomanEncoding") return pdfekMacRoman;
  if (name == "WinAnsiEncoding") return pdfekWinAnsi;
  if (name == "PDFDocEncoding") return pdfekPDFDoc;
  if (name == "MacExpertEncoding") return pdfekMacExpert;
  return pdfekStandard;
}

// /Ascent and /Descent: whole values are 1/1000 em already; a value of at
// most 1 (in magnitude) is a fraction of the em.
double verticalMetric(const TPDFNumeric* n, bool descent) {
  if (!n) return 0;
  const double v = n->GetValue();
  if (!std::isfinite(v)) return 0;
  const int64_t i = n->AsInteger();
  if (descent ? std::llabs(i) <= 1 : i <= 1) return v * 1000;
  return static_cast<double>(i);
}

std::string decimal(uint32_t n) { return std::to_string(n); }

}  // namespace

// What one LoadFont call works on before its record exists.
struct TPDFFontCollection::TLoadState {
  TPDFDictionary* font = nullptr;
  TPDFDictionary* descriptor = nullptr;
  std::string subtype;
  std::string fontName = "Arial";
  int32_t flags = 0;
  double ascent = 0, descent = 0;
  uint8_t encodingKind = pdfekStandard;
  std::string encodingName;
  bool hasEncodingName = false;
  TPDFArray* differences = nullptr;
  bool applyDifferences = true;  // in the glyph keys (symbolic TrueType keeps them for Unicode only)
  bool symbolicTrueType = false;
  bool embeddedCMapSingleByte = false;
  int32_t standardRow = 0;
  // A ZapfDingbats font: its glyph names (a1 ... a191) have characters of their own.
  bool dingbats = false;
  std::unique_ptr<TPDFFontRasterizer> rasterizer;
  TPDFGlyphNames glyphNames;
  std::array<double, 256> widths;
  std::unique_ptr<TPDFCIDWidths> cidWidths;
  std::string cidToGID;
  std::string cidSystemInfo;
  int32_t firstChar = 0, lastChar = 0;
};

TPDFFontCollection::TPDFFontCollection() = default;
TPDFFontCollection::~TPDFFontCollection() = default;

TPDFObject* TPDFFontCollection::resolve(TPDFObject* obj) const {
  if (TPDFIndRef* ref = PDFAsIndRef(obj)) {
    if (OnLookupObject) return OnLookupObject(ref, ref->GetRefNumber(), ref->GetRefGeneration());
    return ref->Resolve();
  }
  return obj;
}

template <class F>
auto TPDFFontCollection::withStream(TPDFObject* value, F&& read) const {
  TPDFIndRef* ref = PDFAsIndRef(value);
  TPDFStream* stream = PDFAsStream(resolve(value));
  // Decrypted around the read only, so the stored object stays as it was.
  if (stream && ref && OnDecryptStream) OnDecryptStream(stream, ref);
  struct Reencrypt {
    const TPDFFontCollection* self;
    TPDFStream* stream;
    TPDFIndRef* ref;
    ~Reencrypt() {
      if (stream && ref && self->OnEncryptStream) self->OnEncryptStream(stream, ref);
    }
  } guard{this, stream, ref};
  return read(stream);
}

std::string TPDFFontCollection::streamData(TPDFObject* value) const {
  return withStream(value, [](TPDFStream* s) { return s ? s->GetDecodedData() : std::string(); });
}

void TPDFFontCollection::indexFont(int32_t objectNumber, int32_t index) {
  auto it = std::lower_bound(ObjectNumbers.begin(), ObjectNumbers.end(), objectNumber);
  const auto at = it - ObjectNumbers.begin();
  if (it != ObjectNumbers.end() && *it == objectNumber) {
    ObjectIndex[static_cast<size_t>(at)] = index;
    return;
  }
  ObjectNumbers.insert(it, objectNumber);
  ObjectIndex.insert(ObjectIndex.begin() + at, index);
}

void TPDFFontCollection::SelectFont(TPDFObject* fontObject) {
  int32_t number = 0;
  if (TPDFIndRef* ref = PDFAsIndRef(fontObject))
    number = ref->GetRefNumber();
  else if (fontObject && fontObject->IsIndirect())
    number = fontObject->GetObjectNumber();
  if (number > 0) {
    // A collection kept for many pages meets the number again after the
    // document put another object there: that font is loaded anew.
    const TPDFObject* source = resolve(fontObject);
    auto it = std::lower_bound(ObjectNumbers.begin(), ObjectNumbers.end(), number);
    if (it != ObjectNumbers.end() && *it == number) {
      TPDFFontCollectionData* known =
          Fonts[static_cast<size_t>(ObjectIndex[static_cast<size_t>(it - ObjectNumbers.begin())])].get();
      if (known->Source == source) {
        CurrentFont = known;
        CurrentFont->LastPage = page_;
        return;
      }
    }
    TPDFFontCollectionData* rec = LoadFont(fontObject);
    rec->ObjectNumber = number;
    rec->Source = source;
    indexFont(number, static_cast<int32_t>(Fonts.size()) - 1);
    CurrentFont = rec;
    CurrentFont->LastPage = page_;
    return;
  }
  // A font given directly: two different dictionaries are two fonts.
  if (auto it = directFonts_.find(fontObject); it != directFonts_.end()) {
    CurrentFont = Fonts[static_cast<size_t>(it->second)].get();
    CurrentFont->LastPage = page_;
    return;
  }
  TPDFFontCollectionData* rec = LoadFont(fontObject);
  directFonts_[fontObject] = static_cast<int32_t>(Fonts.size()) - 1;
  CurrentFont = rec;
  CurrentFont->LastPage = page_;
}

void TPDFFontCollection::SelectFontByNumber(int32_t objectNumber) {
  auto it = std::lower_bound(ObjectNumbers.begin(), ObjectNumbers.end(), objectNumber);
  if (it != ObjectNumbers.end() && *it == objectNumber) {
    CurrentFont = Fonts[static_cast<size_t>(ObjectIndex[static_cast<size_t>(it - ObjectNumbers.begin())])].get();
    CurrentFont->LastPage = page_;
  }
}

void TPDFFontCollection::LoadAndSelectFont(TPDFObject* fontObject) {
  CurrentFont = LoadFont(fontObject);
  CurrentFont->LastPage = page_;
}

void TPDFFontCollection::BeginPage() {
  CurrentFont = nullptr;
  // Fonts the last page did not use go: a document whose pages each bring
  // their own fonts then holds one page's fonts, not all of them.
  std::vector<std::unique_ptr<TPDFFontCollectionData>> kept;
  std::vector<int32_t> newIndex(Fonts.size(), -1);
  for (size_t i = 0; i < Fonts.size(); ++i)
    if (Fonts[i]->LastPage == page_) {
      newIndex[i] = static_cast<int32_t>(kept.size());
      kept.push_back(std::move(Fonts[i]));
    }
  if (kept.size() != Fonts.size()) {
    std::vector<int32_t> numbers, indexes;
    for (size_t k = 0; k < ObjectNumbers.size(); ++k) {
      const int32_t to = newIndex[static_cast<size_t>(ObjectIndex[k])];
      if (to >= 0) numbers.push_back(ObjectNumbers[k]), indexes.push_back(to);
    }
    ObjectNumbers = std::move(numbers);
    ObjectIndex = std::move(indexes);
    for (auto it = directFonts_.begin(); it != directFonts_.end();) {
      const int32_t to = newIndex[static_cast<size_t>(it->second)];
      if (to < 0) {
        it = directFonts_.erase(it);
      } else {
        it->second = to;
        ++it;
      }
    }
  }
  Fonts = std::move(kept);
  ++page_;
}

TPDFFontCollectionData* TPDFFontCollection::LoadFont(TPDFObject* fontObject) { return loadFont(fontObject, 0); }

std::unique_ptr<TPDFFontRasterizer> TPDFFontCollection::installedFontRasterizer(std::string_view pdfFontName,
                                                                                int32_t flags,
                                                                                std::array<double, 256>* widths,
                                                                                const TPDFGlyphNames* names,
                                                                                std::string_view pdfName) {
  auto tt = std::make_unique<TPDFTrueTypeRasterizer2>();
  tt->OnLookupObject = OnLookupObject;
  tt->OnDecryptStream = OnDecryptStream;
  tt->OnEncryptStream = OnEncryptStream;
  MapFontNameToSystemFont(pdfFontName, flags, tt->GetFont());
  if (!pdfName.empty()) MapCourierToURWFace(pdfName, tt->GetFont());
  tt->DrawMissingGlyphs = false;
  tt->LoadSystemFontData();
  if (tt->HasCFF) {
    // An installed OpenType font with PostScript outlines.
    auto cff = std::make_unique<TPDFType1Decoder>();
    cff->OnLookupObject = OnLookupObject;
    cff->OnDecryptStream = OnDecryptStream;
    cff->OnEncryptStream = OnEncryptStream;
    if (cff->LoadCFFData(tt->FontData) && cff->GetCharStrings().GetCount() > 0) return cff;
    return tt;
  }
  if (widths && names) tt->GetWidths(*names, *widths);
  return tt;
}

// Type1, MMType1 and CIDFontType0: the embedded program, the Japanese
// substitute, or the standard-font rule.
void TPDFFontCollection::loadSimpleProgram(TLoadState& st) {
  if (st.descriptor) {
    st.ascent = verticalMetric(PDFAsNumeric(resolve(st.descriptor->GetValue("Ascent"))), false);
    st.descent = verticalMetric(PDFAsNumeric(resolve(st.descriptor->GetValue("Descent"))), true);
    if (TPDFNumeric* f = PDFAsNumeric(resolve(st.descriptor->GetValue("Flags"))))
      st.flags = static_cast<int32_t>(std::clamp<int64_t>(f->AsInteger(), INT32_MIN, INT32_MAX));
    TPDFObject* fontFile = st.descriptor->GetValue("FontFile");
    TPDFObject* fontFile3 = st.descriptor->GetValue("FontFile3");
    if (LoadOutlines && PDFAsStream(resolve(fontFile))) {
      auto t1 = std::make_unique<TPDFType1Decoder>();
      t1->OnLookupObject = OnLookupObject;
      t1->OnDecryptStream = OnDecryptStream;
      t1->OnEncryptStream = OnEncryptStream;
      bool ok = withStream(fontFile, [&](TPDFStream* s) { return t1->SplitFontFile(s); });
      ok = ok && t1->ParseCleartext();
      if (ok) t1->ParsePrivate();
      // A program that cannot be read, or holds no glyphs, leaves the font to the installed substitute.
      if (ok && t1->GetCharStrings().GetCount() > 0) {
        if (!st.hasEncodingName || (st.flags & 4)) t1->GetEncoding(st.glyphNames);
        st.rasterizer = std::move(t1);
      }
    } else if (!LoadOutlines && PDFAsStream(resolve(fontFile)) && (!st.hasEncodingName || (st.flags & 4))) {
      // Text only: the program's built-in encoding still names the codes
      // (a ligature's code, say); its clear text is enough for that.
      TPDFType1Decoder t1;
      t1.OnLookupObject = OnLookupObject;
      t1.OnDecryptStream = OnDecryptStream;
      t1.OnEncryptStream = OnEncryptStream;
      if (withStream(fontFile, [&](TPDFStream* s) { return t1.SplitFontFile(s); }) && t1.ParseCleartext())
        t1.GetEncoding(st.glyphNames);
    } else if (PDFAsStream(resolve(fontFile3))) {
      auto cff = std::make_unique<TPDFType1Decoder>();
      cff->OnLookupObject = OnLookupObject;
      cff->OnDecryptStream = OnDecryptStream;
      cff->OnEncryptStream = OnEncryptStream;
      if (withStream(fontFile3, [&](TPDFStream* s) { return cff->LoadCFFStream(s); }) &&
          cff->GetCharStrings().GetCount() > 0) {
        if (!st.hasEncodingName) cff->GetEncoding(st.glyphNames);
        st.rasterizer = std::move(cff);
      }
    }
    if (!st.rasterizer && st.fontName.substr(0, 15) == "HeiseiKakuGo-W5") {
      auto jp = std::make_unique<TPDFSimpleTrueTypeRasterizer>();
      jp->OnLookupObject = OnLookupObject;
      jp->OnDecryptStream = OnDecryptStream;
      jp->OnEncryptStream = OnEncryptStream;
      MapJapaneseFontToSystemFont(st.fontName, jp->GetFont());
      st.rasterizer = std::move(jp);
    }
    // Symbol and ZapfDingbats described but not embedded are the standard
    // fonts still: their own encodings, glyphs and widths, not a Latin
    // stand-in's.
    const bool hasProgram = PDFAsStream(resolve(fontFile)) || PDFAsStream(resolve(fontFile3));
    const int32_t row = FindStandardFont(st.fontName);
    if (st.rasterizer || hasProgram || (row != 13 && row != 14)) return;
  }
  // No descriptor: one of the standard fonts, or a name the system maps.
  st.standardRow = FindStandardFont(st.fontName);
  if (st.standardRow == 0) return;
  const TPDFStandardFont& row = kStandardFonts[st.standardRow - 1];
  st.ascent = row.Ascent;
  st.descent = row.Descent;
  if (st.standardRow == 13) {
    st.encodingKind = pdfekSymbol;
    BuildSymbolEncoding(st.glyphNames);
  }
  if (!LoadOutlines) return;
  if (st.standardRow == 14) {
    st.fontName = "VRXDingbats";
    std::string data = GetDingbatsFontData();
    if (data.substr(0, 4) == "OTTO") {
      // The installed dingbats face has PostScript outlines.
      auto cff = std::make_unique<TPDFType1Decoder>();
      cff->OnLookupObject = OnLookupObject;
      if (cff->LoadCFFData(data)) st.rasterizer = std::move(cff);
    } else {
      auto tt = std::make_unique<TPDFTrueTypeRasterizer2>();
      tt->OnLookupObject = OnLookupObject;
      tt->LoadFontData(data);
      st.rasterizer = std::move(tt);
    }
    return;
  }
  const std::string pdfName = st.fontName;
  st.fontName = row.Name;
  st.rasterizer = installedFontRasterizer(st.fontName, 0, nullptr, nullptr, pdfName);
}

// TrueType and CIDFontType2: the embedded program.
void TPDFFontCollection::loadTrueTypeProgram(TLoadState& st) {
  st.descriptor = PDFAsDictionary(resolve(st.font->GetValue("FontDescriptor")));
  if (!st.descriptor) return;
  st.ascent = verticalMetric(PDFAsNumeric(resolve(st.descriptor->GetValue("Ascent"))), false);
  st.descent = verticalMetric(PDFAsNumeric(resolve(st.descriptor->GetValue("Descent"))), true);
  if (TPDFNumeric* f = PDFAsNumeric(resolve(st.descriptor->GetValue("Flags"))))
    st.flags = static_cast<int32_t>(std::clamp<int64_t>(f->AsInteger(), INT32_MIN, INT32_MAX));
  if (!LoadOutlines) return;
  std::string data = streamData(st.descriptor->GetValue("FontFile2"));
  if (data.empty()) return;
  auto tt = std::make_unique<TPDFTrueTypeRasterizer2>();
  tt->OnLookupObject = OnLookupObject;
  tt->OnDecryptStream = OnDecryptStream;
  tt->OnEncryptStream = OnEncryptStream;
  tt->LoadFontData(data);
  if (tt->HasCFF) {
    auto cff = std::make_unique<TPDFType1Decoder>();
    cff->OnLookupObject = OnLookupObject;
    cff->OnDecryptStream = OnDecryptStream;
    cff->OnEncryptStream = OnEncryptStream;
    cff->GlyphIndexKeys = st.subtype == "CIDFontType2";
    if (cff->LoadCFFData(data) && cff->GetCharStrings().GetCount() > 0) st.rasterizer = std::move(cff);
    return;
  }
  if (tt->GetParser().GetGlyphCount() < 1) return;  // unreadable: the installed substitute draws
  tt->SetFlags(st.flags);
  if (tt->SymbolicFont) {
    for (size_t i = 0; i < 256; ++i) st.glyphNames[i] = "CID:" + decimal(static_cast<uint32_t>(i));
    st.symbolicTrueType = true;
    if (!KeepDifferences) st.applyDifferences = false;
  }
  st.rasterizer = std::move(tt);
}

void TPDFFontCollection::programWidths(TLoadState& st) {
  if (auto* t1 = dynamic_cast<TPDFType1Decoder*>(st.rasterizer.get())) {
    for (size_t c = 0; c < 256; ++c) {
      double w = 0;
      if (!st.glyphNames[c].empty() && t1->GetGlyphAdvance(st.glyphNames[c], w)) st.widths[c] = w;
    }
  } else if (auto* tt = dynamic_cast<TPDFTrueTypeRasterizer2*>(st.rasterizer.get()); tt && st.subtype == "TrueType") {
    for (size_t c = 0; c < 256; ++c) {
      bool found = false;
      const int32_t g = tt->FindGlyphIndex(st.glyphNames[c], found);
      if (found) st.widths[c] = tt->GetParser().GetAdvance(g);
    }
  }
}

void TPDFFontCollection::fallbackOutlines(TLoadState& st) {
  st.rasterizer = installedFontRasterizer(st.fontName, st.flags, &st.widths, &st.glyphNames, st.fontName);
}

void TPDFFontCollection::readCIDFont(TLoadState& st, TPDFDictionary* font) {
  if (TPDFDictionary* info = PDFAsDictionary(resolve(font->GetValue("CIDSystemInfo")))) {
    auto text = [&](std::string_view key) {
      TPDFObject* v = resolve(info->GetValue(key));
      if (TPDFString* s = PDFAsString(v)) return s->GetValue();
      if (TPDFName* n = PDFAsName(v)) return n->GetValue();
      return std::string();
    };
    TPDFNumeric* supplement = PDFAsNumeric(resolve(info->GetValue("Supplement")));
    st.cidSystemInfo = text("Registry") + "-" + text("Ordering") + "-" +
                       std::to_string(supplement ? std::clamp<int64_t>(supplement->AsInteger(), 0, 1 << 30) : 0);
  }
  TPDFNumeric* dw = PDFAsNumeric(resolve(font->GetValue("DW")));
  const double defaultWidth = dw ? static_cast<double>(dw->AsInteger()) : 1000;
  st.cidWidths = std::make_unique<TPDFCIDWidths>();
  ReadCIDWidths(PDFAsArray(resolve(font->GetValue("W"))), defaultWidth, *st.cidWidths,
                [this](TPDFObject* o) { return resolve(o); });
  if (st.subtype == "CIDFontType2") {
    TPDFObject* map = font->GetValue("CIDToGIDMap");
    if (PDFAsStream(resolve(map))) st.cidToGID = streamData(map);
  }
}

void TPDFFontCollection::buildUnicode(TLoadState& st, TPDFFontCollectionData& rec, TPDFDictionary* fontDict) {
  TPDFObject* toUnicode = fontDict ? fontDict->GetValue("ToUnicode") : nullptr;
  const bool hasToUnicode = PDFAsStream(resolve(toUnicode)) != nullptr;
  const bool compositeStyle = rec.IsComposite || st.symbolicTrueType;
  if (hasToUnicode) {
    bool singleByte = false;
    ParseToUnicodeCMap(streamData(toUnicode), singleByte, rec.ToUnicodeRanges);
    rec.IndexToUnicodeRanges();
    if (compositeStyle) {
      // Identity-H and -V fix two-byte codes whatever the ToUnicode's codespace says.
      const bool identity = rec.EncodingName == "Identity-H" || rec.EncodingName == "Identity-V";
      if (!rec.SingleByteCodes && !identity) rec.SingleByteCodes = singleByte;
    } else {
      rec.SingleByteCodes = singleByte;
    }
    EncodingVectorToCodes(rec.GlyphNames, rec.CodeText);
    EncodingVectorToUnicode(rec.GlyphNames, rec.UnicodeText);
    for (uint32_t code = 0; code < 256; ++code) {
      int32_t i = rec.FindToUnicodeRange(code);
      if (i < 0) continue;
      const TPDFToUnicodeRange& r = rec.ToUnicodeRanges[static_cast<size_t>(i)];
      std::u16string text = OffsetUnicodeText(r.Destination, code - r.First);
      rec.UnicodeText[code] = text;
      uint8_t b = text.empty() ? 0 : WinAnsiByteOfUnicode(static_cast<uint16_t>(text[0]));
      rec.CodeText[code] = b ? std::string(1, static_cast<char>(b)) : std::string();
    }
    return;
  }
  // Without a ToUnicode, the glyph names speak for the codes. The symbolic
  // TrueType keys ("CID:n") stay for drawing; its Unicode comes from the
  // encoding and Differences.
  TPDFGlyphNames names = rec.GlyphNames;
  if (compositeStyle && st.symbolicTrueType && !st.applyDifferences) {
    BuildEncodingVector(st.encodingKind, names);
    ApplyDifferences(names, st.differences);
  }
  EncodingVectorToCodes(names, rec.CodeText);
  EncodingVectorToUnicode(names, rec.UnicodeText);
  if (st.dingbats)
    for (size_t i = 0; i < 256; ++i)
      if (rec.UnicodeText[i] == std::u16string(1, u'\0'))
        if (uint16_t u = DingbatsNameToCode(names[i])) rec.UnicodeText[i] = std::u16string(1, static_cast<char16_t>(u));
  // The Symbol substitute's keys name their characters.
  for (size_t i = 0; i < 256; ++i) {
    const std::string& key = names[i];
    if (key.size() == 6 && key[0] == 'U' && key[1] == '+' && rec.UnicodeText[i] == std::u16string(1, u'\0')) {
      int64_t v = hexNumber(std::string_view(key).substr(2));
      if (v <= 0 || v > 0xFFFF) continue;
      rec.UnicodeText[i] = std::u16string(1, static_cast<char16_t>(v));
      uint8_t b = WinAnsiByteOfUnicode(static_cast<uint16_t>(v));
      rec.CodeText[i] = b ? std::string(1, static_cast<char>(b)) : std::string();
    }
  }
}

// /Encoding: a predefined name, an embedded CMap, or a dictionary of a base
// encoding and /Differences; the glyph names start from the base.
void TPDFFontCollection::readEncoding(TLoadState& st, TPDFDictionary* font) {
  TPDFObject* encodingValue = font->GetValue("Encoding");
  TPDFObject* encoding = resolve(encodingValue);
  if (TPDFName* name = PDFAsName(encoding)) {
    st.encodingName = name->GetValue();
    st.hasEncodingName = true;
    st.encodingKind = encodingKindOf(st.encodingName);
  } else if (PDFIsKind(encoding, pdfkStream)) {
    bool singleByte = false;
    std::vector<TPDFToUnicodeRange> unused;
    ParseToUnicodeCMap(streamData(encodingValue), singleByte, unused);
    st.embeddedCMapSingleByte = singleByte;
  } else if (TPDFDictionary* dict = PDFAsDictionary(encoding)) {
    if (TPDFName* base = PDFAsName(resolve(dict->GetValue("BaseEncoding")))) {
      st.encodingName = base->GetValue();
      st.hasEncodingName = true;
      st.encodingKind = encodingKindOf(st.encodingName);
    }
    st.differences = PDFAsArray(resolve(dict->GetValue("Differences")));
  }
  BuildEncodingVector(st.encodingKind, st.glyphNames);
}

// A Type0 font takes the record of its one CIDFont descendant, marked
// composite, with the Type0 font's own encoding and ToUnicode.
TPDFFontCollectionData* TPDFFontCollection::loadComposite(TLoadState& st, TPDFDictionary* font, int32_t depth) {
  TPDFArray* descendants = PDFAsArray(resolve(font->GetValue("DescendantFonts")));
  TPDFFontCollectionData* rec = nullptr;
  // A descendant is a CIDFont; one that is itself composite is not followed.
  TPDFDictionary* descendant =
      descendants && descendants->GetCount() == 1 ? PDFAsDictionary(resolve(descendants->GetItem(0))) : nullptr;
  if (descendant && depth == 0 && descendant->GetNameValue("Subtype") != "Type0") {
    rec = loadFont(descendants->GetItem(0), depth + 1);
  } else {
    // No usable descendant: a record of its own, two-byte codes with the default width.
    auto fresh = std::make_unique<TPDFFontCollectionData>();
    fresh->GlyphNames = st.glyphNames;
    fresh->FontName = st.fontName;
    fresh->CIDWidths = std::make_unique<TPDFCIDWidths>();
    fresh->CIDWidths->SetDefault(1000);
    Fonts.push_back(std::move(fresh));
    rec = Fonts.back().get();
  }
  rec->IsComposite = true;
  rec->EncodingName = st.encodingName;
  rec->SingleByteCodes = st.embeddedCMapSingleByte;
  if (!rec->CIDWidths) {
    rec->CIDWidths = std::make_unique<TPDFCIDWidths>();
    rec->CIDWidths->SetDefault(1000);
  }
  if (PDFAsStream(resolve(font->GetValue("ToUnicode")))) {
    TLoadState unicodeState;
    buildUnicode(unicodeState, *rec, font);
  }
  return rec;
}

// /FirstChar, /LastChar and /Widths of a simple font; without /Widths the
// embedded program's own advances.
void TPDFFontCollection::readSimpleWidths(TLoadState& st, TPDFDictionary* font) {
  TPDFNumeric* first = PDFAsNumeric(resolve(font->GetValue("FirstChar")));
  TPDFNumeric* last = PDFAsNumeric(resolve(font->GetValue("LastChar")));
  TPDFArray* widths = PDFAsArray(resolve(font->GetValue("Widths")));
  if (widths) {
    // Codes the array does not cover are as wide as the descriptor's
    // /MissingWidth, 0 without one (not the 750 of a font without widths);
    // a missing /FirstChar counts from 0, a missing /LastChar ends with the array.
    TPDFNumeric* missing = st.descriptor ? PDFAsNumeric(resolve(st.descriptor->GetValue("MissingWidth"))) : nullptr;
    st.widths.fill(missing && std::isfinite(missing->GetValue()) ? missing->GetValue() : 0);
    st.firstChar = first ? static_cast<int32_t>(std::clamp<int64_t>(first->AsInteger(), INT32_MIN, INT32_MAX)) : 0;
    st.lastChar = last ? static_cast<int32_t>(std::clamp<int64_t>(last->AsInteger(), INT32_MIN, 255))
                       : static_cast<int32_t>(std::min<int64_t>(int64_t(st.firstChar) + widths->GetCount() - 1, 255));
    for (int32_t i = 0; i < widths->GetCount(); ++i) {
      const int64_t code = static_cast<int64_t>(st.firstChar) + i;
      if (code > st.lastChar) break;
      if (code < 0) continue;
      TPDFNumeric* w = PDFAsNumeric(resolve(widths->GetItem(i)));
      st.widths[static_cast<size_t>(code)] = w && std::isfinite(w->GetValue()) ? w->GetValue() : 0;
    }
  } else {
    if (first && last) {
      st.firstChar = static_cast<int32_t>(std::clamp<int64_t>(first->AsInteger(), INT32_MIN, INT32_MAX));
      st.lastChar = static_cast<int32_t>(std::clamp<int64_t>(last->AsInteger(), INT32_MIN, 255));
    }
    // No widths in the PDF: an embedded program's own advances.
    if (st.standardRow == 0 && st.descriptor) programWidths(st);
  }
}

TPDFFontCollectionData* TPDFFontCollection::loadFont(TPDFObject* fontObject, int32_t depth) {
  TLoadState st;
  st.widths.fill(750);
  BuildEncodingVector(pdfekStandard, st.glyphNames);
  st.font = PDFAsDictionary(resolve(fontObject));
  if (!st.font) {
    auto rec = std::make_unique<TPDFFontCollectionData>();
    BuildEncodingVector(pdfekStandard, rec->GlyphNames);
    for (int i = 0; i < 256; ++i) {
      rec->CodeText[i] = std::string(1, static_cast<char>(i));
      rec->UnicodeText[i] = std::u16string(1, static_cast<char16_t>(i));
    }
    Fonts.push_back(std::move(rec));
    return Fonts.back().get();
  }
  TPDFDictionary* font = st.font;
  st.descriptor = PDFAsDictionary(resolve(font->GetValue("FontDescriptor")));
  if (st.descriptor) {
    TPDFNumeric* missing = PDFAsNumeric(resolve(st.descriptor->GetValue("MissingWidth")));
    if (missing && std::isfinite(missing->GetValue())) st.widths.fill(missing->GetValue());
  }
  if (TPDFName* base = PDFAsName(resolve(font->GetValue("BaseFont")))) st.fontName = base->GetValue();
  st.subtype = font->GetNameValue("Subtype");

  readEncoding(st, font);

  if (st.subtype == "Type0") return loadComposite(st, font, depth);
  st.dingbats = (st.subtype == "Type1" || st.subtype == "MMType1") &&
                (st.fontName.find("Dingbats") != std::string::npos || FindStandardFont(st.fontName) == 14);
  // Without an encoding of its own the program's built-in one applies; it
  // is also what the names are when the program is not read.
  if (st.dingbats && !st.hasEncodingName) BuildDingbatsEncoding(st.glyphNames);

  if (st.subtype == "Type1" || st.subtype == "MMType1" || st.subtype == "CIDFontType0") {
    loadSimpleProgram(st);
  } else if (st.subtype == "TrueType" || st.subtype == "CIDFontType2") {
    loadTrueTypeProgram(st);
  } else if (st.subtype == "Type3" && LoadOutlines) {
    auto t3 = std::make_unique<TPDFType3Rasterizer>();
    t3->OnLookupObject = OnLookupObject;
    t3->OnDecryptStream = OnDecryptStream;
    t3->OnEncryptStream = OnEncryptStream;
    t3->Load(font);
    st.rasterizer = std::move(t3);
  }
  if (LoadOutlines && !st.rasterizer) fallbackOutlines(st);
  if (st.applyDifferences) ApplyDifferences(st.glyphNames, st.differences);
  if (auto* tt = dynamic_cast<TPDFTrueTypeRasterizer2*>(st.rasterizer.get()); tt && st.subtype == "TrueType") {
    TPDFGlyphNames names = st.glyphNames;
    if (st.symbolicTrueType) {
      // Names stand in for the codes of a symbolic font only where the PDF gives them.
      for (auto& n : names) n.clear();
      if (st.hasEncodingName || st.differences) {
        BuildEncodingVector(st.encodingKind, names);
        ApplyDifferences(names, st.differences);
      }
    }
    tt->SetEncoding(names);
  }
  if (st.standardRow >= 1 && st.standardRow <= 12) {
    EncodingWidths(st.standardRow, st.glyphNames, st.widths);
  } else if (st.standardRow == 13) {
    TPDFGlyphNames symbolNames;
    BuildEncodingVector(pdfekSymbol, symbolNames);
    EncodingWidths(13, symbolNames, st.widths);
  } else if (st.standardRow == 14) {
    DingbatsWidths(st.glyphNames, st.widths);
  }

  if (st.subtype == "CIDFontType0" || st.subtype == "CIDFontType2") {
    readCIDFont(st, font);
  } else {
    readSimpleWidths(st, font);
  }

  auto fresh = std::make_unique<TPDFFontCollectionData>();
  TPDFFontCollectionData& rec = *fresh;
  rec.Widths = st.widths;
  rec.FontName = st.fontName;
  rec.Rasterizer = std::move(st.rasterizer);
  rec.GlyphNames = st.glyphNames;
  rec.CIDWidths = std::move(st.cidWidths);
  rec.Ascent = st.ascent;
  rec.Descent = st.descent;
  rec.FirstChar = st.firstChar;
  rec.LastChar = st.lastChar;
  rec.CIDToGIDMap = std::move(st.cidToGID);
  rec.CIDSystemInfo = std::move(st.cidSystemInfo);
  buildUnicode(st, rec, font);  // also the codes' text
  if (std::all_of(rec.CodeText.begin(), rec.CodeText.end(), [](const std::string& s) { return s.empty(); })) {
    for (int i = 0; i < 256; ++i) {
      rec.CodeText[i] = std::string(1, static_cast<char>(i));
      rec.UnicodeText[i] = std::u16string(1, static_cast<char16_t>(i));
    }
  }
  Fonts.push_back(std::move(fresh));
  return Fonts.back().get();
}

std::vector<uint16_t> TPDFFontCollection::TextToCodes(std::string_view bytes) const {
  std::vector<uint16_t> codes;
  if (bytes.empty()) return codes;
  const TPDFFontCollectionData* f = CurrentFont;
  if (f && f->SingleByteCodes) {
    codes.reserve(bytes.size());
    for (char c : bytes) codes.push_back(static_cast<uint8_t>(c));
    return codes;
  }
  if (f && f->ToUnicodeRanges.empty() && !f->CIDSystemInfo.empty() &&
      PredefinedCMapEncode(f->EncodingName, f->CIDSystemInfo, bytes, codes))
    return codes;
  codes.clear();
  codes.reserve(bytes.size() / 2);
  for (size_t i = 0; i + 1 < bytes.size(); i += 2)
    codes.push_back(static_cast<uint16_t>((uint8_t(bytes[i]) << 8) | uint8_t(bytes[i + 1])));
  return codes;
}

std::u16string TPDFFontCollection::CodeToUnicode(uint32_t code) const {
  const TPDFFontCollectionData* f = CurrentFont;
  if (!f) return {};
  if (f->IsComposite) {
    if (f->ToUnicodeRanges.empty()) {
      if (!f->CIDSystemInfo.empty()) return PredefinedCMapToUnicode(f->EncodingName, f->CIDSystemInfo, code);
      return {};
    }
    int32_t i = f->FindToUnicodeRange(code);
    if (i < 0) return {};
    const TPDFToUnicodeRange& r = f->ToUnicodeRanges[static_cast<size_t>(i)];
    return OffsetUnicodeText(r.Destination, code - r.First);
  }
  if (code > 255) return {};
  const std::u16string& text = f->UnicodeText[code];
  if (text.size() == 1 && text[0] == u'\0') return std::u16string(1, static_cast<char16_t>(code));
  return text;
}
