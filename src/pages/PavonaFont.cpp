#include "pages/PavonaFont.h"

#include <iconv.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <mutex>
#include <numeric>

#include "objects/PavonaStructure.h"
#include "platform/Fonts.h"
#include "render/PavonaFontConst.h"
#include "render/PavonaTrueTypeParser.h"

namespace {

// --- Code pages (the system's single-byte conversion, here through iconv) ----

struct TCodePageInfo {
  int32_t codePage;
  uint8_t charset;
  bool differences;  // has a Differences array over WinAnsiEncoding
  bool allCodes;     // the array names every code from 128 (the DOS code pages)
};

constexpr TCodePageInfo kCodePages[] = {
    {437, 255, true, true},    {850, 255, true, true},    {852, 255, true, true},    {874, 222, false, false},
    {932, 128, false, false},  {936, 134, false, false},  {949, 129, false, false},  {950, 136, false, false},
    {1250, 238, true, false},  {1251, 204, true, false},  {1252, 0, true, false},    {1253, 161, true, false},
    {1254, 162, true, false},  {1255, 177, true, false},  {1256, 178, false, false}, {1257, 186, true, false},
    {1258, 163, true, false},  {1361, 130, false, false},
};

const TCodePageInfo* findCodePage(int32_t codePage) {
  for (const auto& info : kCodePages)
    if (info.codePage == codePage) return &info;
  return nullptr;
}

std::array<char16_t, 256> convertCodePage(int32_t codePage) {
  std::array<char16_t, 256> table{};
  for (int i = 0; i < 128; ++i) table[static_cast<size_t>(i)] = static_cast<char16_t>(i);
  std::string name = "CP" + std::to_string(codePage);
  iconv_t cd = iconv_open("UTF-16LE", name.c_str());
  if (cd == reinterpret_cast<iconv_t>(-1)) return table;
  for (int i = 128; i < 256; ++i) {
    char in = static_cast<char>(i);
    char out[8];
    char* inPtr = &in;
    size_t inLeft = 1;
    char* outPtr = out;
    size_t outLeft = sizeof out;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    if (iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) != static_cast<size_t>(-1) && sizeof out - outLeft == 2)
      table[static_cast<size_t>(i)] = static_cast<char16_t>(uint8_t(out[0]) | (uint8_t(out[1]) << 8));
  }
  iconv_close(cd);
  return table;
}

// Glyph name of a character for a Differences array.
std::string glyphNameFor(char16_t ch) {
  std::string name = GlyphNameOfCode(ch);
  if (!name.empty()) return name;
  return "uni" + IntToHexStr(ch, 4);
}

uint16_t be16(std::string_view d, size_t at) {
  return at + 2 <= d.size() ? static_cast<uint16_t>((uint8_t(d[at]) << 8) | uint8_t(d[at + 1])) : 0;
}
int16_t bes16(std::string_view d, size_t at) { return static_cast<int16_t>(be16(d, at)); }
uint32_t be32(std::string_view d, size_t at) {
  return at + 4 <= d.size() ? (uint32_t(be16(d, at)) << 16) | be16(d, at + 2) : 0;
}

// Face name parts: "Face [Style] {codepage}".
struct TFaceName {
  std::string face;
  uint8_t style = 0;
  int32_t codePage = 0;  // 0: none given
};

TFaceName parseFaceName(std::string_view full) {
  TFaceName out;
  std::string name(full);
  size_t open = name.find('{');
  if (open != std::string::npos) {
    size_t close = name.find('}', open);
    if (close != std::string::npos) {
      out.codePage = StringToIntDef(name.substr(open + 1, close - open - 1), 0);
      name.erase(open);
      while (!name.empty() && name.back() == ' ') name.pop_back();
    }
  }
  static const std::pair<const char*, uint8_t> kSuffixes[] = {
      {" [Bold]", fsBold}, {" [Italic]", fsItalic}, {" [BoldItalic]", fsBold | fsItalic}};
  for (const auto& [suffix, style] : kSuffixes) {
    std::string_view s(suffix);
    size_t at = name.find(s);
    if (at != std::string::npos) {
      name.erase(at, s.size());
      out.style = style;
    }
  }
  out.face = name;
  return out;
}

}  // namespace

uint8_t CodePageToCharset(int32_t codePage) {
  const TCodePageInfo* info = findCodePage(codePage);
  return info ? info->charset : 1;
}

const std::array<char16_t, 256>& CodePageToUnicode(int32_t codePage) {
  static std::mutex mutex;
  static std::map<int32_t, std::array<char16_t, 256>> cache;
  std::lock_guard<std::mutex> lock(mutex);
  auto it = cache.find(codePage);
  if (it == cache.end()) it = cache.emplace(codePage, convertCodePage(codePage)).first;
  return it->second;
}

std::string CodePageDifferences(int32_t codePage) {
  const TCodePageInfo* info = findCodePage(codePage);
  if (!info || !info->differences) return {};
  const auto& chars = CodePageToUnicode(codePage);
  // The characters of WinAnsiEncoding as the code map knows it.
  std::array<char16_t, 256> ansi{};
  for (const auto& glyph : kStandardGlyphs)
    if (glyph.WinAnsiCode >= 0 && glyph.WinAnsiCode < 256) ansi[size_t(glyph.WinAnsiCode)] = glyph.Unicode;
  // Readers of older PDF versions lack these five in WinAnsiEncoding, so the
  // arrays always name them.
  for (size_t code : {128, 142, 149, 153, 158}) ansi[code] = 0;
  // 173 is the soft hyphen of the code pages, which readers show as the hyphen.
  ansi[173] = 0x00AD;
  std::string out = "[";
  int32_t next = -1;
  for (int32_t c = 128; c < 256; ++c) {
    char16_t ch = chars[static_cast<size_t>(c)];
    if (ch == 0) continue;
    bool listed;
    std::string name;
    if (c == 160) {
      listed = true;
      name = "space";
    } else {
      listed = info->allCodes || ch != ansi[static_cast<size_t>(c)];
      name = glyphNameFor(ch);
    }
    if (!listed) continue;
    if (c != next) out += " " + std::to_string(c);
    out += " /" + name;
    next = c + 1;
  }
  out += " ]";
  return out;
}

// --- Width lookup ---------------------------------------------------------------

void TPavonaWidthLookup::SetWidth(uint16_t code, int32_t width) {
  if (static_cast<size_t>(count_) >= codes_.size()) {
    codes_.resize(codes_.size() + 1024);
    widths_.resize(widths_.size() + 1024);
  }
  codes_[static_cast<size_t>(count_)] = code;
  widths_[static_cast<size_t>(count_)] = width;
  ++count_;
  sorted_ = false;
}

void TPavonaWidthLookup::sort() const {
  codes_.resize(static_cast<size_t>(count_));
  widths_.resize(static_cast<size_t>(count_));
  std::vector<size_t> order(codes_.size());
  std::iota(order.begin(), order.end(), size_t{0});
  std::stable_sort(order.begin(), order.end(), [this](size_t a, size_t b) { return codes_[a] < codes_[b]; });
  std::vector<uint16_t> codes(order.size());
  std::vector<int32_t> widths(order.size());
  for (size_t i = 0; i < order.size(); ++i) {
    codes[i] = codes_[order[i]];
    widths[i] = widths_[order[i]];
  }
  codes_.swap(codes);
  widths_.swap(widths);
  sorted_ = true;
}

int32_t TPavonaWidthLookup::GetWidth(uint16_t code) const {
  if (!sorted_) sort();
  auto it = std::lower_bound(codes_.begin(), codes_.end(), code);
  if (it == codes_.end() || *it != code) return 0;
  return widths_[static_cast<size_t>(it - codes_.begin())];
}

// --- Font -------------------------------------------------------------------------

TPDFFont::TPDFFont(TPDFStructure* pool, std::string_view resourceName) : pool_(pool), resourceName_(resourceName) {}

int32_t TPDFFont::GetObjectNumber() const { return reference_ ? reference_->GetRefNumber() : 0; }

TPDFIndRef* TPDFFont::registerObject(TPDFDictionary* dict) {
  if (!pool_->OnGetObjectNumber) return nullptr;
  int32_t number = 0, generation = 0;
  pool_->OnGetObjectNumber(pool_, dict, number, generation);
  return pool_->NewIndRef(number, generation);
}

TPDFIndRef* TPDFFont::registerStream(TPDFStream* stream) {
  if (!pool_->OnGetObjectNumber) return nullptr;
  int32_t number = 0, generation = 0;
  pool_->OnGetObjectNumber(pool_, stream, number, generation);
  return pool_->NewIndRef(number, generation);
}

void TPDFFont::setTrueTypeMetrics(const TPDFTrueTypeParser& parser, const std::function<int32_t(double)>& em) {
  const std::string_view os2 = parser.GetTableData("OS/2"), hhea = parser.GetTableData("hhea");
  const TPDFTrueTypeHeader& head = parser.GetHeader();
  boxLeft_ = em(head.XMin), boxBottom_ = em(head.YMin), boxRight_ = em(head.XMax), boxTop_ = em(head.YMax);
  // The typographic ascent and descent of OS/2 where the table has them,
  // else the horizontal header's.
  const bool typographic = os2.size() >= 72;
  ascent_ = em(typographic ? bes16(os2, 68) : bes16(hhea, 4));
  descent_ = -std::abs(em(typographic ? bes16(os2, 70) : bes16(hhea, 6)));
}

TPDFIndRef* TPDFFont::registerFontFile2(std::string_view program) {
  TPDFStream* file = pool_->NewStream(program, Compress);
  file->GetDictionary()->SetValue("Length1", pool_->NewNumeric(double(program.size())));
  return registerStream(file);
}

TPDFDictionary* TPDFFont::newDescriptor(const std::string& fontName, int32_t flags, double stemV, double italicAngle) {
  TPDFDictionary* descriptor = pool_->NewDictionary();
  descriptor->SetValue("Type", pool_->NewName("FontDescriptor"));
  descriptor->SetValue("FontName", pool_->NewName(fontName));
  const int32_t box[4] = {boxLeft_, boxBottom_, boxRight_, boxTop_};
  descriptor->SetValue("FontBBox", pool_->NewIntegerArray(box));
  descriptor->SetValue("Flags", pool_->NewNumeric(flags));
  descriptor->SetValue("StemV", pool_->NewNumeric(stemV));
  descriptor->SetValue("ItalicAngle", pool_->NewNumeric(italicAngle));
  descriptor->SetValue("CapHeight", pool_->NewNumeric(ascent_));
  descriptor->SetValue("Ascent", pool_->NewNumeric(ascent_));
  descriptor->SetValue("Descent", pool_->NewNumeric(descent_));
  return descriptor;
}

void TPDFFont::SetResourceName(std::string_view name) {
  resourceName_ = name;
  if (fontDictionary_) fontDictionary_->SetValue("Name", pool_->NewName(name));
}

char16_t TPDFFont::glyphUnicode(std::string_view name) {
  uint16_t u = GlyphNameToCode(name);
  if (u != 0) return u;
  if (name.size() == 7 && name.substr(0, 3) == "uni") {
    uint32_t v = 0;
    for (char c : name.substr(3)) {
      int d = c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
      if (d < 0) return 0;
      v = v * 16 + static_cast<uint32_t>(d);
    }
    return static_cast<char16_t>(v);
  }
  return 0;
}

// The character of every byte code a Differences array names: a number sets
// the next code, each name takes one.
void TPDFFont::forEachDifference(const TPDFArray* differences, const std::function<void(int32_t, char16_t)>& take) {
  if (!differences) return;
  int32_t code = 0;
  for (TPDFObject* item : differences->Items()) {
    if (TPDFNumeric* n = PDFAsNumeric(item)) {
      code = static_cast<int32_t>(n->AsInteger());
    } else if (TPDFName* name = PDFAsName(item)) {
      if (code >= 0 && code < 256) take(code, glyphUnicode(name->GetValue()));
      ++code;
    }
  }
}

void TPDFFont::ApplyDifferences(std::string_view baseEncoding, const TPDFArray* differences) {
  std::array<char16_t, 256> byCode{};
  int32_t low = 256, high = -1;
  auto touch = [&](int32_t code, char16_t ch) {
    byCode[static_cast<size_t>(code)] = ch;
    low = std::min(low, code);
    high = std::max(high, code);
  };
  const bool mac = baseEncoding == "MacRomanEncoding";
  for (const auto& glyph : kStandardGlyphs) {
    int32_t code = mac ? glyph.MacRomanCode : glyph.WinAnsiCode;
    if (code >= 0 && code < 256) touch(code, glyph.Unicode);
  }
  forEachDifference(differences, touch);
  codeMap_.clear();
  codeLow_ = low;
  codeHigh_ = high;
  for (int32_t c = std::max(low, 0); c <= high; ++c) {
    char16_t ch = byCode[static_cast<size_t>(c)];
    if (ch != 0) codeMap_.emplace_back(ch, static_cast<uint8_t>(c));
  }
  // Sorted by character, the lowest code first for a character with several.
  std::stable_sort(codeMap_.begin(), codeMap_.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
}

std::string TPDFFont::WriteToUnicodeCMap(std::string_view, const TPDFArray* differences) const {
  std::vector<std::pair<int32_t, char16_t>> entries;
  forEachDifference(differences, [&](int32_t code, char16_t ch) { entries.emplace_back(code, ch); });
  std::string out =
      "/CIDInit /ProcSet findresource begin\n12 dict begin\nbegincmap\n/CIDSystemInfo\n<< /Registry (Adobe)\n"
      "/Ordering ()\n/Supplement 0\n>> def\n/CMapName /Adobe--000 def\n/CMapType 2 def\n1 begincodespacerange\n"
      "<00> <FF>\nendcodespacerange\n";
  // One bfchar section holds at most 100 entries.
  for (size_t start = 0; start < entries.size(); start += 100) {
    size_t end = std::min(entries.size(), start + 100);
    out += std::to_string(end - start) + " beginbfchar\n";
    for (size_t i = start; i < end; ++i)
      out += "<" + IntToHexStr(entries[i].first, 2) + "> <" + IntToHexStr(entries[i].second, 4) + ">\n";
    out += "endbfchar\n";
  }
  out += "endcmap\nCMapName currentdict /CMap defineresource pop\nend\nend";
  return out;
}

bool TPDFFont::HasCode(char16_t ch) const {
  if (type0Face_) {
    auto w = std::lower_bound(wideCodeMap_.begin(), wideCodeMap_.end(), ch,
                              [](const auto& entry, char16_t value) { return entry.first < value; });
    return w != wideCodeMap_.end() && w->first == ch;
  }
  auto it = std::lower_bound(codeMap_.begin(), codeMap_.end(), ch,
                             [](const auto& entry, char16_t value) { return entry.first < value; });
  return it != codeMap_.end() && it->first == ch;
}

std::string TPDFFont::EncodeText(std::u16string_view text) const {
  std::string out;
  out.reserve(text.size());
  for (char16_t ch : text) {
    if (ch < 128) {
      out += static_cast<char>(ch);
    } else if (ch == 0xA0) {
      out += static_cast<char>(0xA0);
    } else {
      uint8_t b = WinAnsiByteOfUnicode(ch);
      out += b ? static_cast<char>(b) : '?';
    }
  }
  return out;
}

std::string TPDFFont::EncodeTextW(std::u16string_view text) const {
  std::string out;
  out.reserve(text.size());
  if (type0Face_) {
    for (char16_t ch : text) {
      auto it = std::lower_bound(wideCodeMap_.begin(), wideCodeMap_.end(), ch,
                                 [](const auto& entry, char16_t value) { return entry.first < value; });
      if (it == wideCodeMap_.end() || it->first != ch) continue;
      out += static_cast<char>(it->second >> 8);
      out += static_cast<char>(it->second & 0xFF);
    }
    return out;
  }
  for (char16_t ch : text) {
    auto it = std::lower_bound(codeMap_.begin(), codeMap_.end(), ch,
                               [](const auto& entry, char16_t value) { return entry.first < value; });
    if (it != codeMap_.end() && it->first == ch) out += static_cast<char>(it->second);
  }
  return out;
}

int32_t TPDFFont::GetCharWidth(int32_t code) const {
  if (widthLookup_.GetCount() > 0) return code >= 0 && code <= 0xFFFF ? widthLookup_.GetWidth(uint16_t(code)) : 0;
  if (code < 0 || code > 0xFFFF) return 0;
  auto it = std::lower_bound(codeMap_.begin(), codeMap_.end(), static_cast<char16_t>(code),
                             [](const auto& entry, char16_t value) { return entry.first < value; });
  if (it == codeMap_.end() || it->first != code) return 0;
  int32_t cid = it->second;
  if (cid < firstCode_ || cid > lastCode_ || static_cast<int32_t>(widths_.size()) != lastCode_ - firstCode_ + 1)
    return 0;
  return widths_[static_cast<size_t>(cid - firstCode_)];
}

int32_t TPDFFont::GetKerning(int32_t first, int32_t next) const {
  const int32_t key = (first & 0xFF) * 65536 + (next & 0xFF);
  for (const auto& [k, amount] : kerningPairs_)
    if (k == key) return amount;
  return 0;
}

std::u16string FilterMappedChars(const TPDFFont& font, std::u16string_view text) {
  std::u16string out;
  for (char16_t ch : text)
    if (font.HasCode(ch)) out += ch;
  return out;
}

// --- Standard 14 fonts ----------------------------------------------------------------

void TPDFFont::CreateStandardFont(std::string_view name, int32_t number) {
  number = std::clamp(number, 1, 14);
  baseName_ = name;
  fontDictionary_ = pool_->NewDictionary();
  fontDictionary_->SetValue("Type", pool_->NewName("Font"));
  fontDictionary_->SetValue("Subtype", pool_->NewName("Type1"));
  fontDictionary_->SetValue("BaseFont", pool_->NewName(name));
  codeMap_.clear();
  if (name == "Symbol") {
    firstCode_ = 32;
    lastCode_ = 254;
    widths_.assign(size_t(lastCode_ - firstCode_ + 1), 0);
    for (const auto& g : kSymbolGlyphs) {
      if (g.Code >= firstCode_ && g.Code <= lastCode_) widths_[size_t(g.Code - firstCode_)] = g.Width;
      if (g.Code >= 0 && g.Code < 256) codeMap_.emplace_back(g.Unicode, static_cast<uint8_t>(g.Code));
    }
    std::stable_sort(codeMap_.begin(), codeMap_.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    codeLow_ = 32;
    codeHigh_ = 254;
  } else if (name == "ZapfDingbats") {
    firstCode_ = 32;
    lastCode_ = 254;
    widths_.assign(size_t(lastCode_ - firstCode_ + 1), 0);
    // The widths come from the installed metric-compatible dingbats face.
    TPDFTrueTypeParser parser;
    try {
      parser.LoadFromString(GetDingbatsFontData());
    } catch (const std::exception&) {
    }
    int32_t sub = parser.FindCmapSubtable(3, 0);
    if (sub < 0) sub = parser.FindCmapSubtable(3, 1);
    for (int32_t c = firstCode_; c <= lastCode_; ++c) {
      codeMap_.emplace_back(static_cast<char16_t>(c), static_cast<uint8_t>(c));
      if (sub < 0) continue;
      int32_t glyph = parser.CmapLookup(sub, static_cast<uint32_t>(c));
      if (glyph <= 0) glyph = parser.CmapLookup(sub, 0xF000u + static_cast<uint32_t>(c));
      if (glyph > 0) widths_[size_t(c - firstCode_)] = parser.GetAdvance(glyph);
    }
    codeLow_ = 32;
    codeHigh_ = 254;
  } else {
    fontDictionary_->SetValue("Encoding", pool_->NewName("WinAnsiEncoding"));
    setStandardWinAnsiWidths(number);
    widths_[size_t(160 - firstCode_)] = widths_[size_t(32 - firstCode_)];
    ApplyDifferences("WinAnsiEncoding", nullptr);
  }
  setStandardMetrics(number);
  reference_ = registerObject(fontDictionary_);
  kind_ = pdffkStandard;
}

// --- TrueType fonts of the installed fonts -------------------------------------------------

namespace {

// The whole font file of the installed face the name selects (empty when
// none is found); a face of a collection comes with offsets relative to its
// own table directory, as a stand-alone font file has them.
std::string installedFaceData(const TFaceName& parsed) {
  TFont request;
  request.Name = parsed.face;
  request.Style = parsed.style;
  request.Charset = CodePageToCharset(parsed.codePage);
  TInstalledFace face;
  std::string fontData;
  if (SelectInstalledFace(request, face)) {
    uint32_t size = GetFontData(face, 0, 0, nullptr, 0);
    if (size != GDI_ERROR && size > 0) {
      fontData.resize(size);
      fontData.resize(GetFontData(face, 0, 0, fontData.data(), size));
      // A face of a collection: its offsets become relative to its own directory.
      uint32_t whole = GetFontData(face, FontTableTag("ttcf"), 0, nullptr, 0);
      if (whole != GDI_ERROR && whole >= 16) {
        std::string header(16 + 4 * size_t(std::max(face.Index, 0)), '\0');
        header.resize(GetFontData(face, FontTableTag("ttcf"), 0, header.data(), uint32_t(header.size())));
        uint32_t base = be32(header, 12 + 4 * size_t(std::max(face.Index, 0)));
        TPDFTrueTypeParser::RebaseTableOffsets(fontData, base);
      }
    }
  }
  return fontData;
}

// Kerning pairs of the kern table (format 0, horizontal), keyed by the
// character codes (left * 65536 + right) of the glyphs, in font units of 1000.
template <typename TEm>
std::vector<std::pair<int32_t, int32_t>> kernPairsOfCodes(const TPDFTrueTypeParser& parser,
                                                          const std::array<int32_t, 256>& glyphOfCode,
                                                          int32_t firstCode, int32_t lastCode, TEm em) {
  std::vector<std::pair<int32_t, int32_t>> out;
  std::map<int32_t, std::vector<int32_t>> codesOfGlyph;
  for (int32_t c = firstCode; c <= lastCode; ++c)
    if (glyphOfCode[size_t(c)] > 0) codesOfGlyph[glyphOfCode[size_t(c)]].push_back(c);
  const std::string_view kern = parser.GetTableData("kern");
  if (be16(kern, 0) == 0) {
    size_t at = 4;
    for (uint16_t t = 0, tables = be16(kern, 2); t < tables && at + 6 <= kern.size(); ++t) {
      const uint16_t length = be16(kern, at + 2), coverage = be16(kern, at + 4);
      if ((coverage >> 8) == 0 && (coverage & 1) != 0) {
        const uint16_t pairs = be16(kern, at + 6);
        for (uint32_t i = 0; i < pairs && at + 14 + 6 * (i + 1) <= kern.size(); ++i) {
          size_t p = at + 14 + 6 * i;
          auto left = codesOfGlyph.find(be16(kern, p));
          auto right = codesOfGlyph.find(be16(kern, p + 2));
          if (left == codesOfGlyph.end() || right == codesOfGlyph.end()) continue;
          int32_t amount = -em(bes16(kern, p + 4));
          for (int32_t a : left->second)
            for (int32_t b : right->second) out.emplace_back(a * 65536 + b, amount);
        }
      }
      if (length < 6) break;
      at += length;
    }
  }
  std::sort(out.begin(), out.end());
  return out;
}

// The BaseFont name: the face without blanks and the style after a comma.
std::string trueTypeBaseName(const TFaceName& parsed) {
  std::string fontName;
  for (char c : parsed.face)
    if (c != ' ') fontName += c;
  if (parsed.style == fsBold) fontName += ",Bold";
  if (parsed.style == fsItalic) fontName += ",Italic";
  if (parsed.style == (fsBold | fsItalic)) fontName += ",BoldItalic";
  return fontName;
}

}  // namespace

bool TPDFFont::BuildType0Font(std::string_view face, std::u16string_view characters) {
  const TFaceName parsed = parseFaceName(face);
  TInstalledFace installed;
  if (!FindTrueTypeFaceFor(parsed.face.empty() ? "Arial" : parsed.face, characters, installed)) return false;
  TInstalledFaceBytes mapped;
  if (!MapInstalledFace(installed, mapped) || mapped.DirectoryOffset != 0) return false;
  auto parser = std::make_shared<TPDFTrueTypeParser>();
  try {
    parser->LoadFromShared(mapped.File, mapped.Bytes);
  } catch (const std::exception&) {
    return false;
  }
  int32_t cmap = parser->FindCmapSubtable(3, 1);
  if (cmap < 0) cmap = parser->FindCmapSubtable(3, 10);
  if (cmap < 0 || parser->GetGlyphCount() <= 0) return false;
  const double unitsPerEm = parser->GetUnitsPerEm() > 0 ? parser->GetUnitsPerEm() : 1000;
  auto em = [unitsPerEm](double v) { return static_cast<int32_t>(std::lround(v * 1000.0 / unitsPerEm)); };
  setTrueTypeMetrics(*parser, em);
  std::string fontName;
  for (char c : installed.Family)
    if (c != ' ') fontName += c;
  if (fontName.empty()) fontName = "Type0Font";
  baseName_ = installed.Family;
  family_ = installed.Family;

  TPDFIndRef* fileRef = registerFontFile2(mapped.Bytes);
  TPDFDictionary* descriptor = newDescriptor(fontName, 4, 80, 0);
  if (fileRef) descriptor->SetValue("FontFile2", fileRef);
  TPDFIndRef* descriptorRef = registerObject(descriptor);

  cidFont_ = pool_->NewDictionary();
  cidFont_->SetValue("Type", pool_->NewName("Font"));
  cidFont_->SetValue("Subtype", pool_->NewName("CIDFontType2"));
  cidFont_->SetValue("BaseFont", pool_->NewName(fontName));
  cidFont_->SetValue("CIDSystemInfo", pool_->ParseObject("<< /Registry (Adobe) /Ordering (Identity) /Supplement 0 >>"));
  if (descriptorRef) cidFont_->SetValue("FontDescriptor", descriptorRef);
  cidFont_->SetValue("DW", pool_->NewNumeric(1000));
  cidFont_->SetValue("CIDToGIDMap", pool_->NewName("Identity"));
  TPDFIndRef* cidRef = registerObject(cidFont_);
  toUnicode_ = pool_->NewStream(std::string_view(), false);
  TPDFIndRef* toUnicodeRef = registerStream(toUnicode_);

  fontDictionary_ = pool_->NewDictionary();
  fontDictionary_->SetValue("Type", pool_->NewName("Font"));
  fontDictionary_->SetValue("Subtype", pool_->NewName("Type0"));
  fontDictionary_->SetValue("BaseFont", pool_->NewName(fontName));
  fontDictionary_->SetValue("Encoding", pool_->NewName("Identity-H"));
  TPDFArray* descendants = pool_->NewArray();
  if (cidRef) descendants->Add(cidRef);
  fontDictionary_->SetValue("DescendantFonts", descendants);
  if (toUnicodeRef) fontDictionary_->SetValue("ToUnicode", toUnicodeRef);
  reference_ = registerObject(fontDictionary_);
  kind_ = pdffkCIDType2;
  firstCode_ = 0;
  lastCode_ = 0xFFFF;
  type0Face_ = std::move(parser);
  type0Cmap_ = cmap;
  UseCharacters(characters);
  return true;
}

void TPDFFont::UseCharacters(std::u16string_view characters) {
  if (!type0Face_) return;
  bool added = false;
  for (char16_t ch : characters) {
    auto it = std::lower_bound(wideCodeMap_.begin(), wideCodeMap_.end(), ch,
                               [](const auto& entry, char16_t value) { return entry.first < value; });
    if (it != wideCodeMap_.end() && it->first == ch) continue;
    const int32_t glyph = type0Face_->CmapLookup(type0Cmap_, ch);
    if (glyph <= 0 || glyph > 0xFFFF) continue;
    wideCodeMap_.insert(it, {ch, static_cast<uint16_t>(glyph)});
    widthLookup_.SetWidth(static_cast<char16_t>(glyph), type0Face_->GetAdvance(glyph));
    added = true;
  }
  if (!added) return;
  // Widths and characters of the glyphs in use, by glyph number.
  std::vector<std::pair<uint16_t, char16_t>> glyphs;
  for (const auto& [ch, glyph] : wideCodeMap_) glyphs.emplace_back(glyph, ch);
  std::sort(glyphs.begin(), glyphs.end());
  std::string widths = "[";
  for (size_t i = 0; i < glyphs.size(); ++i) {
    if (i > 0 && glyphs[i].first == glyphs[i - 1].first) continue;
    widths +=
        " " + std::to_string(glyphs[i].first) + " [ " + std::to_string(type0Face_->GetAdvance(glyphs[i].first)) + " ]";
  }
  widths += " ]";
  cidFont_->SetValue("W", pool_->ParseObject(widths));
  std::string cmap =
      "/CIDInit /ProcSet findresource begin\n12 dict begin\nbegincmap\n/CIDSystemInfo << /Registry (Adobe) "
      "/Ordering (UCS) /Supplement 0 >> def\n/CMapName /Adobe-Identity-UCS def\n/CMapType 2 def\n"
      "1 begincodespacerange\n<0000> <FFFF>\nendcodespacerange\n";
  for (size_t start = 0; start < glyphs.size(); start += 100) {
    const size_t end = std::min(glyphs.size(), start + 100);
    cmap += std::to_string(end - start) + " beginbfchar\n";
    for (size_t i = start; i < end; ++i)
      cmap += "<" + IntToHexStr(glyphs[i].first, 4) + "> <" + IntToHexStr(glyphs[i].second, 4) + ">\n";
    cmap += "endbfchar\n";
  }
  cmap += "endcmap\nCMapName currentdict /CMap defineresource pop\nend\nend\n";
  toUnicode_->SetData(cmap, Compress);
}

bool TPDFFont::EmbedTrueTypeFont(std::string_view name, bool embed, bool kerning, bool ignoreRestriction) {
  baseName_ = name;
  const TFaceName parsed = parseFaceName(name);
  const std::string fontData = installedFaceData(parsed);
  TPDFTrueTypeParser parser;
  try {
    parser.LoadFromString(fontData);
  } catch (const std::exception&) {
    parser.LoadFromString({});  // an empty parser: no tables
  }
  const double unitsPerEm = parser.GetUnitsPerEm() > 0 ? parser.GetUnitsPerEm() : 1000;
  auto em = [unitsPerEm](double v) { return static_cast<int32_t>(std::lround(v * 1000.0 / unitsPerEm)); };
  const std::string_view os2 = parser.GetTableData("OS/2");
  const std::string_view hhea = parser.GetTableData("hhea");
  const std::string_view post = parser.GetTableData("post");
  const uint16_t fsType = be16(os2, 8);
  if (embed && (fsType & 0x0002) != 0 && !ignoreRestriction) return false;

  setTrueTypeMetrics(parser, em);
  const double italicAngle = static_cast<int32_t>(be32(post, 4)) / 65536.0;
  const bool fixedPitch = be32(post, 12) != 0;
  int32_t unicodeTable = parser.FindCmapSubtable(3, 1);
  const int32_t symbolTable = parser.FindCmapSubtable(3, 0);
  const bool symbolFont = unicodeTable < 0 && symbolTable >= 0;

  // Character codes of the font, their characters and glyphs.
  firstCode_ = 32;
  lastCode_ = 255;
  const auto& chars = CodePageToUnicode(parsed.codePage != 0 ? parsed.codePage : 1252);
  std::array<int32_t, 256> glyphOfCode{};
  widths_.assign(size_t(lastCode_ - firstCode_ + 1), 0);
  int32_t maxWidth = 0;
  int64_t widthSum = 0, widthCount = 0;
  for (int32_t c = firstCode_; c <= lastCode_; ++c) {
    char16_t ch = chars[size_t(c)];
    int32_t glyph = 0;
    if (symbolFont)
      glyph = parser.CmapLookup(symbolTable, 0xF000u + uint32_t(c));
    else if (unicodeTable >= 0 && ch != 0)
      glyph = parser.CmapLookup(unicodeTable, ch);
    glyphOfCode[size_t(c)] = glyph;
    int32_t width = parser.GetGlyphCount() > 0 ? parser.GetAdvance(glyph) : 0;
    widths_[size_t(c - firstCode_)] = width;
    if (ch != 0) widthLookup_.SetWidth(ch, width);
    maxWidth = std::max(maxWidth, width);
    if (glyph > 0) {
      widthSum += width;
      ++widthCount;
    }
  }
  int32_t avgWidth = os2.size() >= 4 ? em(bes16(os2, 2)) : (widthCount ? int32_t(widthSum / widthCount) : 0);
  if (hhea.size() >= 12) maxWidth = std::max(maxWidth, em(be16(hhea, 10)));

  kerningPairs_.clear();
  if (kerning) kerningPairs_ = kernPairsOfCodes(parser, glyphOfCode, firstCode_, lastCode_, em);

  TPDFIndRef* fontFileRef = nullptr;
  if (embed) {
    kind_ = pdffkTrueTypeEmbedded;
    fontFileRef = registerFontFile2(fontData);
  } else {
    kind_ = pdffkTrueType;
  }

  const std::string fontName = trueTypeBaseName(parsed);

  TPDFDictionary* descriptor =
      newDescriptor(fontName, (symbolFont ? 4 : 32) + (fixedPitch ? 1 : 0), 0, std::round(italicAngle * 100) / 100);
  descriptor->SetValue("MissingWidth", pool_->NewNumeric(750));
  descriptor->SetValue("MaxWidth", pool_->NewNumeric(maxWidth));
  descriptor->SetValue("AvgWidth", pool_->NewNumeric(avgWidth));
  if (fontFileRef) descriptor->SetValue("FontFile2", fontFileRef);
  TPDFIndRef* descriptorRef = registerObject(descriptor);

  fontDictionary_ = pool_->NewDictionary();
  fontDictionary_->SetValue("Type", pool_->NewName("Font"));
  fontDictionary_->SetValue("Subtype", pool_->NewName("TrueType"));
  fontDictionary_->SetValue("BaseFont", pool_->NewName(fontName));
  if (parsed.codePage == 0) {
    fontDictionary_->SetValue("Encoding", pool_->NewName("WinAnsiEncoding"));
    ApplyDifferences("WinAnsiEncoding", nullptr);
  } else {
    TPDFDictionary* encoding = pool_->NewDictionary();
    encoding->SetValue("Type", pool_->NewName("Encoding"));
    encoding->SetValue("BaseEncoding", pool_->NewName("WinAnsiEncoding"));
    TPDFArray* differences = nullptr;
    std::string differencesText = CodePageDifferences(parsed.codePage);
    if (!differencesText.empty()) {
      differences = PDFAsArray(pool_->ParseObject(differencesText));
      if (differences) encoding->SetValue("Differences", differences);
    }
    ApplyDifferences("WinAnsiEncoding", differences);
    if (differences) {
      TPDFStream* toUnicode = pool_->NewStream(WriteToUnicodeCMap("WinAnsiEncoding", differences), false);
      if (TPDFIndRef* ref = registerStream(toUnicode)) fontDictionary_->SetValue("ToUnicode", ref);
    }
    fontDictionary_->SetValue("Encoding", encoding);
  }
  fontDictionary_->SetValue("FirstChar", pool_->NewNumeric(firstCode_));
  fontDictionary_->SetValue("LastChar", pool_->NewNumeric(lastCode_));
  fontDictionary_->SetValue("Widths", pool_->NewIntegerArray(widths_));
  if (descriptorRef) fontDictionary_->SetValue("FontDescriptor", descriptorRef);
  reference_ = registerObject(fontDictionary_);
  return true;
}
