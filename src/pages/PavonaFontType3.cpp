// Two further ways to a writer font: a Type 3 font built from an installed
// font's outlines for exactly the characters of a text, and a font read
// back from the dictionary of a loaded document.
#include <algorithm>
#include <array>
#include <cmath>
#include <map>

#include "objects/PavonaStructure.h"
#include "pages/PavonaFont.h"
#include "platform/Fonts.h"
#include "render/PavonaCMap.h"
#include "render/PavonaFontConst.h"
#include "render/PavonaTrueTypeParser.h"

namespace {

// The names under which a font of a file stands for a standard font, by
// standard-font number - 1. Every name is matched whole.
constexpr const char* kStandardNameLists[14] = {
    "Courier*CourierNew*CourierNewPSMT*CourierNewPS*",
    "Courier-Bold*Courier,Bold*CourierNew-Bold*CourierNew,Bold*CourierNewPS,BoldMT*CourierNewPS,Bold*"
    "CourierNewPS,BoldMT,Bold*",
    "Courier-BoldOblique*Courier,BoldItalic*CourierNew-BoldItalic*CourierNew,BoldItalic*CourierNewPS-BoldItalicMT*",
    "Courier-Oblique*Courier,Italic*CourierNew-Italic*CourierNew,Italic*CourierNewPS-ItalicMT*"
    "CourierNewPS,ItalicMT,Italic*",
    // A bold name ("Arial,BoldMT,Bold") belongs to the bold list only.
    "Helvetica*Arial*ArialMT*HelveticaNeue-Roman*HelveticaNeue-UltraLight*",
    "Helvetica-Bold*Helvetica,Bold*Arial-Bold*Arial,Bold*Arial-BoldMT*HelveticaNeue,Bold*Arial,BoldMT,Bold*",
    "Helvetica-BoldOblique*Helvetica-BoldItalic*Helvetica,BoldItalic*Arial-BoldItalic*Arial,BoldItalic*"
    "Arial-BoldItalicMT*",
    "Helvetica-Oblique*Helvetica-Italic*Helvetica,Italic*Arial-Italic*Arial,Italic*Arial-ItalicMT*",
    "Times-Roman*TimesNewRoman*TimesNewRomanPS*TimesNewRomanPSMT*",
    "Times-Bold*TimesNewRoman-Bold*TimesNewRoman,Bold*TimesNewRomanPS-Bold*TimesNewRomanPS-BoldMT*"
    "TimesNewRomanPS,Bold*TimesNewRomanPS,BoldMT*",
    "Times-Italic*TimesNewRoman-Italic*TimesNewRoman,Italic*TimesNewRomanPS-Italic*TimesNewRomanPS-ItalicMT*",
    "Times-BoldItalic*TimesNewRoman-BoldItalic*TimesNewRoman,BoldItalic*TimesNewRomanPS-BoldItalic*"
    "TimesNewRomanPS-BoldItalicMT*",
    "Symbol*", "ZapfDingbats*"};

constexpr const char* kStandardNames[14] = {
    "Courier",     "Courier-Bold",   "Courier-BoldOblique",   "Courier-Oblique",
    "Helvetica",   "Helvetica-Bold", "Helvetica-BoldOblique", "Helvetica-Oblique",
    "Times-Roman", "Times-Bold",     "Times-Italic",          "Times-BoldItalic",
    "Symbol",      "ZapfDingbats"};

// Widths of a font read from a file come from its own numbers; a range
// beyond this is not a font's.
constexpr int64_t kMaxCode = 0xFFFF;

std::string hex(uint32_t v, int digits) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out(size_t(digits), '0');
  for (int i = digits - 1; i >= 0; --i, v >>= 4) out[size_t(i)] = kHex[v & 15];
  return out;
}

// A number at two decimal places, without trailing zeros.
std::string num2(double v) {
  long long scaled = std::llround(v * 100);
  std::string sign = scaled < 0 ? "-" : "";
  scaled = std::llabs(scaled);
  std::string out = sign + std::to_string(scaled / 100);
  if (scaled % 100) {
    std::string frac = std::to_string(100 + scaled % 100).substr(1);
    while (!frac.empty() && frac.back() == '0') frac.pop_back();
    out += "." + frac;
  }
  if (out == "-0") out = "0";
  return out + " ";
}

// Collects one glyph's path as content operators and its bounding box.
struct TGlyphPath : TGlyphOutlineSink {
  std::string path;
  double left = 0, bottom = 0, right = 0, top = 0;
  bool any = false;
  void point(double x, double y) {
    if (!any) {
      left = right = x;
      bottom = top = y;
      any = true;
      return;
    }
    left = std::min(left, x);
    right = std::max(right, x);
    bottom = std::min(bottom, y);
    top = std::max(top, y);
  }
  void MoveTo(double x, double y) override {
    point(x, y);
    path += num2(x) + num2(y) + "m\n";
  }
  void LineTo(double x, double y) override {
    point(x, y);
    path += num2(x) + num2(y) + "l\n";
  }
  void CurveTo(double x1, double y1, double x2, double y2, double x3, double y3) override {
    point(x1, y1);
    point(x2, y2);
    point(x3, y3);
    path += num2(x1) + num2(y1) + num2(x2) + num2(y2) + num2(x3) + num2(y3) + "c\n";
  }
  void Close() override { path += "h\n"; }
};

uint16_t be16(std::string_view d, size_t at) {
  return at + 2 <= d.size() ? static_cast<uint16_t>((uint8_t(d[at]) << 8) | uint8_t(d[at + 1])) : 0;
}
int16_t bes16(std::string_view d, size_t at) {
  return static_cast<int16_t>(be16(d, at));
}

}  // namespace

int32_t TPDFFont::StandardFontNumberOf(std::string_view baseName) {
  if (baseName.empty()) return 0;
  int32_t match = 0;
  for (int32_t i = 0; i < 14; ++i) {
    std::string_view list = kStandardNameLists[i];
    size_t start = 0;
    while (start < list.size()) {
      size_t end = list.find('*', start);
      if (end == std::string_view::npos) end = list.size();
      if (list.substr(start, end - start) == baseName) match = i + 1;
      start = end + 1;
    }
  }
  return match;
}

// ---------------------------------------------------------------------------
// Type 3 fonts built from installed outlines

namespace {

// The installed font a face name stands for ("Face", optionally with
// " [Bold]", " [Italic]" or " [BoldItalic]"), and its bytes with the table
// offsets of a collection member made relative to them.
bool readInstalledFont(std::string_view face, uint8_t charset, TInstalledFace& installed, std::string& fontData) {
  std::string name(face);
  TFont request;
  static const std::pair<const char*, uint8_t> kSuffixes[] = {
      {" [BoldItalic]", fsBold | fsItalic}, {" [Bold]", fsBold}, {" [Italic]", fsItalic}};
  for (const auto& [suffix, style] : kSuffixes) {
    const size_t at = name.find(suffix);
    if (at != std::string::npos) {
      name.erase(at, std::string_view(suffix).size());
      request.Style = style;
      break;
    }
  }
  request.Name = name.empty() ? "Arial" : name;
  request.Charset = charset;
  if (!SelectInstalledFace(request, installed)) return false;
  const uint32_t size = GetFontData(installed, 0, 0, nullptr, 0);
  if (size == GDI_ERROR || size == 0) return false;
  fontData.resize(size);
  fontData.resize(GetFontData(installed, 0, 0, fontData.data(), size));
  const uint32_t whole = GetFontData(installed, FontTableTag("ttcf"), 0, nullptr, 0);
  if (whole != GDI_ERROR && whole >= 16) {
    std::string header(16 + 4 * size_t(std::max(installed.Index, 0)), '\0');
    header.resize(GetFontData(installed, FontTableTag("ttcf"), 0, header.data(), uint32_t(header.size())));
    const size_t at = 12 + 4 * size_t(std::max(installed.Index, 0));
    const uint32_t base = (uint32_t(be16(header, at)) << 16) | be16(header, at + 2);
    TPDFTrueTypeParser::RebaseTableOffsets(fontData, base);
  }
  return true;
}

struct TType3Glyph {
  char16_t ch;
  int32_t code;
  int32_t advance;
  std::string procedure;
};

struct TType3Glyphs {
  std::vector<TType3Glyph> glyphs;  // by code
  int32_t box[4] = {0, 0, 0, 0};    // left, bottom, right, top of all glyphs
};

// The byte code of a character: its WinAnsi code when free, else the highest
// free code; -1 when all are taken.
int32_t type3Code(char16_t ch, std::array<bool, 256>& used) {
  const auto& systemBytes = CodePageToUnicode(1252);
  int32_t code = 255;
  if (ch <= 255) {
    for (int32_t b = 1; b < 256; ++b)
      if (systemBytes[size_t(b)] == ch) {
        code = b;
        break;
      }
  }
  if (used[size_t(code)]) {
    code = -1;
    for (int32_t b = 255; b > 0; --b)
      if (!used[size_t(b)]) {
        code = b;
        break;
      }
  }
  if (code >= 0) used[size_t(code)] = true;
  return code;
}

// One glyph procedure per character of the text (each once, in the order of
// the text): the installed outline at 1000 units per em, and its advance.
TType3Glyphs type3Glyphs(const TPDFTrueTypeParser& parser, const TInstalledFace& installed,
                         std::u16string_view characters) {
  const int32_t unicodeTable =
      parser.FindCmapSubtable(3, 1) >= 0 ? parser.FindCmapSubtable(3, 1) : parser.FindCmapSubtable(3, 0);
  std::vector<char16_t> chars;
  for (char16_t ch : characters)
    if (std::find(chars.begin(), chars.end(), ch) == chars.end()) chars.push_back(ch);
  std::array<bool, 256> used{};
  TType3Glyphs out;
  bool anyBox = false;
  for (char16_t ch : chars) {
    const int32_t code = type3Code(ch, used);
    if (code < 0) continue;  // no code left for this character
    const int32_t glyph = unicodeTable >= 0 ? parser.CmapLookup(unicodeTable, ch) : 0;
    const int32_t advance = glyph > 0 || parser.GetGlyphCount() > 0 ? parser.GetAdvance(std::max(glyph, 0)) : 0;
    TGlyphPath path;
    if (glyph > 0) GetInstalledGlyphOutline(installed, uint32_t(glyph), 1000, path);
    std::string procedure = std::to_string(advance) + " 0 ";
    if (path.any && !path.path.empty()) {
      const int32_t l = int32_t(std::lround(path.left)), b = int32_t(std::lround(path.bottom)),
                    r = int32_t(std::lround(path.right)), t = int32_t(std::lround(path.top));
      procedure += std::to_string(l) + " " + std::to_string(b) + " " + std::to_string(r) + " " + std::to_string(t);
      procedure += " d1\n" + path.path + "f\n";
      int32_t* box = out.box;
      if (!anyBox) {
        box[0] = l, box[1] = b, box[2] = r, box[3] = t;
        anyBox = true;
      } else {
        box[0] = std::min(box[0], l), box[1] = std::min(box[1], b), box[2] = std::max(box[2], r),
        box[3] = std::max(box[3], t);
      }
    } else {
      // A glyph without contours (a space) shows nothing but still advances.
      procedure += "0 0 0 0 d1\n";
    }
    out.glyphs.push_back({ch, code, advance, std::move(procedure)});
  }
  std::sort(out.glyphs.begin(), out.glyphs.end(),
            [](const TType3Glyph& a, const TType3Glyph& b) { return a.code < b.code; });
  return out;
}

// The ToUnicode map of the codes: one character each.
std::string type3ToUnicode(const std::vector<TType3Glyph>& glyphs) {
  std::string cmap =
      "%!PS-Adobe-3.0 Resource-CMap\r/CIDInit /ProcSet findresource begin\n12 dict begin\n\nbegincmap\n"
      "/CIDSystemInfo 3 dict dup begin\n/Registry (Adobe) def\n/Ordering () def\n/Supplement 0 def\nend def\n\n"
      "/CMapName /Adobe--000 def\n/CMapType 2 def\n\n/WMode 0 def\n\n1 begincodespacerange\n<00> <FF>\n"
      "endcodespacerange\n";
  for (size_t start = 0; start < glyphs.size(); start += 50) {
    const size_t end = std::min(glyphs.size(), start + 50);
    cmap += std::to_string(end - start) + " beginbfchar\n";
    for (size_t i = start; i < end; ++i)
      cmap += "<" + hex(uint32_t(glyphs[i].code), 2) + "> <" + hex(glyphs[i].ch, 4) + ">\n";
    cmap += "endbfchar\n";
  }
  cmap += "\nendcmap\nCMapName currentdict /CMap\ndefineresource pop\nend\nend";
  return cmap;
}

// A whole number of a dictionary, fallback when it is missing, not a number
// or out of any sensible range.
int64_t boundedInteger(TPDFObject* o, int64_t fallback) {
  TPDFNumeric* n = PDFAsNumeric(PDFResolve(o));
  if (!n || !std::isfinite(n->GetValue()) || std::fabs(n->GetValue()) > 1e9) return fallback;
  return n->AsInteger();
}

}  // namespace

bool TPDFFont::BuildFont(std::string_view face, uint8_t charset, bool unitMatrix, std::u16string_view characters) {
  TInstalledFace installed;
  std::string fontData;
  if (!readInstalledFont(face, charset, installed, fontData)) return false;
  TPDFTrueTypeParser parser;
  try {
    parser.LoadFromString(fontData);
  } catch (const std::exception&) {
    return false;
  }
  const TType3Glyphs built = type3Glyphs(parser, installed, characters);
  const std::vector<TType3Glyph>& glyphs = built.glyphs;
  if (glyphs.empty()) return false;

  // Codes, widths and metrics.
  kind_ = pdffkType3Built;
  baseName_ = face;
  firstCode_ = glyphs.front().code;
  lastCode_ = glyphs.back().code;
  widths_.assign(size_t(lastCode_ - firstCode_ + 1), 0);
  codeMap_.clear();
  widthLookup_ = TPavonaWidthLookup();
  for (const TType3Glyph& g : glyphs) {
    widths_[size_t(g.code - firstCode_)] = g.advance;
    codeMap_.emplace_back(g.ch, static_cast<uint8_t>(g.code));
    widthLookup_.SetWidth(g.ch, g.advance);
  }
  std::stable_sort(codeMap_.begin(), codeMap_.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  codeLow_ = firstCode_;
  codeHigh_ = lastCode_;
  const double unitsPerEm = parser.GetUnitsPerEm() > 0 ? parser.GetUnitsPerEm() : 1000;
  auto em = [unitsPerEm](double v) { return static_cast<int32_t>(std::lround(v * 1000.0 / unitsPerEm)); };
  const std::string_view os2 = parser.GetTableData("OS/2");
  const std::string_view hhea = parser.GetTableData("hhea");
  if (os2.size() >= 72) {
    ascent_ = em(bes16(os2, 68));
    descent_ = -std::abs(em(bes16(os2, 70)));
  } else {
    ascent_ = em(bes16(hhea, 4));
    descent_ = -std::abs(em(bes16(hhea, 6)));
  }
  boxLeft_ = built.box[0], boxBottom_ = built.box[1], boxRight_ = built.box[2], boxTop_ = built.box[3];

  // Glyph procedures and the encoding that names them.
  TPDFDictionary* charProcs = pool_->NewDictionary();
  TPDFArray* differences = pool_->NewArray();
  int32_t expected = -1;
  for (const TType3Glyph& g : glyphs) {
    const std::string glyphName = "Pavona" + hex(g.ch, 4);
    TPDFStream* procedure = pool_->NewStream(g.procedure, true);
    if (TPDFIndRef* ref = registerStream(procedure)) charProcs->SetValue(glyphName, ref);
    if (g.code != expected) differences->Add(pool_->NewNumeric(g.code));
    differences->Add(pool_->NewName(glyphName));
    expected = g.code + 1;
  }
  TPDFDictionary* encoding = pool_->NewDictionary();
  encoding->SetValue("Type", pool_->NewName("Encoding"));
  encoding->SetValue("Differences", differences);

  TPDFStream* toUnicode = pool_->NewStream(type3ToUnicode(glyphs), true);
  TPDFDictionary* cmapDict = toUnicode->GetDictionary();
  cmapDict->SetValue("Type", pool_->NewName("CMap"));
  cmapDict->SetValue("CMapName", pool_->NewName("Adobe--000"));
  cmapDict->SetValue("CIDSystemInfo", pool_->ParseObject("<< /Registry (Adobe) /Ordering () /Supplement 0 >>"));
  cmapDict->SetValue("WMode", pool_->NewNumeric(0));
  TPDFIndRef* toUnicodeRef = registerStream(toUnicode);

  fontDictionary_ = pool_->NewDictionary();
  fontDictionary_->SetValue("Type", pool_->NewName("Font"));
  fontDictionary_->SetValue("Subtype", pool_->NewName("Type3"));
  const int32_t box[4] = {boxLeft_, boxBottom_, boxRight_, boxTop_};
  fontDictionary_->SetValue("FontBBox", pool_->NewIntegerArray(box));
  fontDictionary_->SetValue("FontMatrix",
                            pool_->ParseObject(unitMatrix ? "[ 0.001 0 0 0.001 0 0 ]" : "[ 1 0 0 1 0 0 ]"));
  fontDictionary_->SetValue("Encoding", encoding);
  fontDictionary_->SetValue("CharProcs", charProcs);
  fontDictionary_->SetValue("FirstChar", pool_->NewNumeric(firstCode_));
  fontDictionary_->SetValue("LastChar", pool_->NewNumeric(lastCode_));
  fontDictionary_->SetValue("Widths", pool_->NewIntegerArray(widths_));
  if (toUnicodeRef) fontDictionary_->SetValue("ToUnicode", toUnicodeRef);
  reference_ = registerObject(fontDictionary_);
  return reference_ != nullptr;
}

// ---------------------------------------------------------------------------
// Fonts of loaded files

void TPDFFont::setStandardWinAnsiWidths(int32_t number) {
  firstCode_ = 24;
  lastCode_ = 255;
  TPDFGlyphNames names;
  BuildEncodingVector(pdfekWinAnsi, names);
  std::array<double, 256> widths{};
  EncodingWidths(std::min(number, 12), names, widths);
  widths_.assign(size_t(lastCode_ - firstCode_ + 1), 0);
  for (int32_t c = firstCode_; c <= lastCode_; ++c)
    if (!names[size_t(c)].empty()) widths_[size_t(c - firstCode_)] = int32_t(std::lround(widths[size_t(c)]));
}

void TPDFFont::setStandardMetrics(int32_t number) {
  const TPDFStandardFont& metrics = kStandardFonts[number - 1];
  ascent_ = metrics.Ascent;
  descent_ = metrics.Descent;
  boxLeft_ = metrics.BBox[0];
  boxBottom_ = metrics.BBox[1];
  boxRight_ = metrics.BBox[2];
  boxTop_ = metrics.BBox[3];
}

void TPDFFont::LoadFromDictionary(TPDFIndRef* reference) {
  kind_ = pdffkNone;
  reference_ = reference;
  TPDFDictionary* dict = reference ? PDFAsDictionary(reference->Resolve()) : nullptr;
  if (!dict) return;
  fontDictionary_ = dict;
  std::string subtype = dict->GetNameValue("Subtype");
  codeMap_.clear();
  if (subtype == "Type0") {
    loadType0CodeMap(dict);
    TPDFArray* descendants = PDFAsArray(dict->GetValue("DescendantFonts", true));
    TPDFDictionary* descendant = descendants ? PDFAsDictionary(PDFResolve(descendants->GetItem(0))) : nullptr;
    if (descendant) {
      fontDictionary_ = descendant;
      subtype = descendant->GetNameValue("Subtype");
    }
  }
  TPDFObject* encoding = dict->GetValue("Encoding", true);
  if (TPDFName* n = PDFAsName(encoding); n && n->GetValue() == "WinAnsiEncoding") {
    ApplyDifferences("WinAnsiEncoding", nullptr);
  } else if (TPDFDictionary* e = PDFAsDictionary(encoding)) {
    if (TPDFArray* diffs = PDFAsArray(e->GetValue("Differences", true)))
      ApplyDifferences(e->GetNameValue("BaseEncoding"), diffs);
  }
  TPDFDictionary* font = fontDictionary_;
  if (TPDFName* base = PDFAsName(dict->GetValue("BaseFont", true))) baseName_ = base->GetValue();
  firstCode_ = static_cast<int32_t>(std::clamp<int64_t>(boundedInteger(font->GetValue("FirstChar"), 0), 0, kMaxCode));
  lastCode_ = static_cast<int32_t>(std::clamp<int64_t>(boundedInteger(font->GetValue("LastChar"), -1), -1, kMaxCode));

  TPDFDictionary* descriptor = PDFAsDictionary(font->GetValue("FontDescriptor", true));
  const int32_t standard = subtype == "Type1" && !descriptor ? StandardFontNumberOf(baseName_) : 0;
  if (standard > 0) {
    kind_ = pdffkStandard;
    setStandardWinAnsiWidths(standard);
    setStandardMetrics(standard);
    if (codeMap_.empty()) ApplyDifferences("WinAnsiEncoding", nullptr);
    return;
  }
  if (subtype == "Type1")
    kind_ = pdffkType1;
  else if (subtype == "TrueType")
    kind_ = pdffkTrueType;
  else if (subtype == "Type3")
    kind_ = pdffkType3Read;
  else if (subtype == "CIDFontType0")
    kind_ = pdffkCIDType0;
  else if (subtype == "CIDFontType2")
    kind_ = pdffkCIDType2;
  if (descriptor) loadDescriptor(descriptor);
  loadWidths(font);
  TPDFArray* w = (kind_ == pdffkCIDType0 || kind_ == pdffkCIDType2) ? PDFAsArray(font->GetValue("W", true)) : nullptr;
  if (w && w->GetCount() > 1) loadCIDWidths(w);
}

// The codes a simple code map can hold (one byte) come from ToUnicode.
void TPDFFont::loadType0CodeMap(TPDFDictionary* dict) {
  TPDFStream* toUnicode = PDFAsStream(dict->GetValue("ToUnicode", true));
  if (!toUnicode) return;
  TPavonaCMapParser parser;
  std::unique_ptr<TPavonaCMap> map;
  try {
    map = parser.Parse(toUnicode->GetDecodedData());
  } catch (const std::exception&) {
    map.reset();
  }
  if (!map) return;
  for (uint32_t code = 0; code < 256; ++code) {
    std::u16string u = map->LookupUnicode(2, code);
    if (u.empty()) u = map->LookupUnicode(1, code);
    if (u.size() == 1) codeMap_.emplace_back(u[0], static_cast<uint8_t>(code));
  }
  std::stable_sort(codeMap_.begin(), codeMap_.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
}

// Ascent and descent (a standard font's when the name stands for one and
// they are missing), family, bounding box, and whether a TrueType font is embedded.
void TPDFFont::loadDescriptor(TPDFDictionary* descriptor) {
  ascent_ = static_cast<int32_t>(boundedInteger(descriptor->GetValue("Ascent"), 0));
  descent_ = static_cast<int32_t>(boundedInteger(descriptor->GetValue("Descent"), 0));
  if (ascent_ == 0 || descent_ == 0) {
    if (const int32_t like = StandardFontNumberOf(baseName_); like > 0) {
      if (ascent_ == 0) ascent_ = kStandardFonts[like - 1].Ascent;
      if (descent_ == 0) descent_ = kStandardFonts[like - 1].Descent;
    }
  }
  if (TPDFString* family = PDFAsString(descriptor->GetValue("FontFamily", true))) family_ = family->GetValue();
  if (TPDFArray* box = PDFAsArray(descriptor->GetValue("FontBBox", true)); box && box->GetCount() == 4) {
    boxLeft_ = static_cast<int32_t>(boundedInteger(box->GetItem(0), 0));
    boxBottom_ = static_cast<int32_t>(boundedInteger(box->GetItem(1), 0));
    boxRight_ = static_cast<int32_t>(boundedInteger(box->GetItem(2), 0));
    boxTop_ = static_cast<int32_t>(boundedInteger(box->GetItem(3), 0));
  }
  if (kind_ == pdffkTrueType && descriptor->GetValue("FontFile2")) kind_ = pdffkTrueTypeEmbedded;
}

void TPDFFont::loadWidths(TPDFDictionary* font) {
  widths_.clear();
  TPDFArray* widths = PDFAsArray(font->GetValue("Widths", true));
  if (!widths || lastCode_ < firstCode_) return;
  // Sized by the checked code range, never by what the array claims.
  widths_.assign(size_t(lastCode_ - firstCode_ + 1), 0);
  for (int32_t i = 0; i < widths->GetCount() && size_t(i) < widths_.size(); ++i)
    if (TPDFNumeric* n = PDFAsNumeric(PDFResolve(widths->GetItem(i))); n && std::isfinite(n->GetValue()))
      widths_[size_t(i)] = static_cast<int32_t>(std::lround(std::clamp(n->GetValue(), -1e6, 1e6)));
}

// Two passes: the CID range first, then the widths into an array of exactly
// that range.
void TPDFFont::loadCIDWidths(TPDFArray* w) {
  std::map<int32_t, int32_t> byCid;
  int32_t i = 0;
  const int32_t count = w->GetCount();
  auto numberAt = [&](int32_t at, int64_t& out) {
    TPDFNumeric* n = PDFAsNumeric(PDFResolve(w->GetItem(at)));
    if (!n || !std::isfinite(n->GetValue())) return false;
    out = n->AsInteger();
    return true;
  };
  while (i < count) {
    int64_t first = 0;
    if (!numberAt(i, first) || first < 0 || first > kMaxCode) break;
    if (TPDFArray* list = PDFAsArray(PDFResolve(w->GetItem(i + 1)))) {
      for (int32_t k = 0; k < list->GetCount() && first + k <= kMaxCode; ++k) {
        TPDFNumeric* n = PDFAsNumeric(PDFResolve(list->GetItem(k)));
        if (!n || !std::isfinite(n->GetValue())) break;
        byCid[int32_t(first + k)] = static_cast<int32_t>(std::lround(std::clamp(n->GetValue(), -1e6, 1e6)));
      }
      i += 2;
      continue;
    }
    int64_t last = 0, width = 0;
    if (!numberAt(i + 1, last) || !numberAt(i + 2, width) || last < first || last > kMaxCode) break;
    for (int64_t c = first; c <= last; ++c)
      byCid[int32_t(c)] = static_cast<int32_t>(std::clamp<int64_t>(width, -1000000, 1000000));
    i += 3;
  }
  if (byCid.empty()) return;
  firstCode_ = byCid.begin()->first;
  lastCode_ = byCid.rbegin()->first;
  widths_.assign(size_t(lastCode_ - firstCode_ + 1), 0);
  widthLookup_ = TPavonaWidthLookup();
  for (const auto& [cid, width] : byCid) {
    widths_[size_t(cid - firstCode_)] = width;
    widthLookup_.SetWidth(static_cast<uint16_t>(cid), width);
  }
}
