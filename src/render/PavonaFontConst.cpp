#include "render/PavonaFontConst.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>
#include <vector>

#include "platform/Classes.h"
#include "platform/Fonts.h"
#include "render/PavonaResources.h"

namespace {

// MacExpertEncoding positions whose glyphs are also standard names. The other
// expert glyphs (small capitals, old-style figures, fractions) are not in the
// standard set, so their codes stay ".notdef".
struct TExpertPosition {
  uint8_t code;
  const char* name;
};
const TExpertPosition kMacExpertStandard[] = {
    {32, "space"},       {44, "comma"},        {45, "hyphen"},        {46, "period"},      {47, "fraction"},
    {58, "colon"},       {59, "semicolon"},    {71, "onequarter"},    {72, "onehalf"},     {73, "threequarters"},
    {87, "fi"},          {88, "fl"},           {218, "onesuperior"},  {219, "twosuperior"}, {220, "threesuperior"}};

int16_t codeIn(const TPDFStandardGlyph& g, uint8_t kind) {
  switch (kind) {
    case pdfekStandard: return g.StandardCode;
    case pdfekMacRoman: return g.MacRomanCode;
    case pdfekWinAnsi: return g.WinAnsiCode;
    case pdfekPDFDoc: return g.PDFDocCode;
    default: return -1;
  }
}

const std::string& glyphListData() {
  static const std::string data = InflateProgramResource(kResourceGlyphList);
  return data;
}

// The first standard glyph of a Unicode value: asked for every code of
// every simple font, so looked up in a sorted index made once.
const TPDFStandardGlyph* standardByUnicode(uint16_t unicode) {
  static const std::vector<std::pair<uint16_t, uint16_t>> index = [] {
    std::vector<std::pair<uint16_t, uint16_t>> byUnicode;
    for (int32_t i = 0; i < kStandardGlyphCount; ++i)
      byUnicode.emplace_back(kStandardGlyphs[i].Unicode, static_cast<uint16_t>(i));
    std::sort(byUnicode.begin(), byUnicode.end());  // equal values keep the glyphs' order
    return byUnicode;
  }();
  auto it = std::lower_bound(index.begin(), index.end(), std::make_pair(unicode, uint16_t(0)));
  return it != index.end() && it->first == unicode ? &kStandardGlyphs[it->second] : nullptr;
}

// Code page 1252 byte of a Unicode character through the standard names:
// 0xFF for a standard character without a WinAnsi code, 0 outside the set.
uint8_t ansiByteOfCharacter(uint32_t unicode) {
  if (unicode == 0 || unicode > 0xFFFF) return 0;
  const TPDFStandardGlyph* g = standardByUnicode(static_cast<uint16_t>(unicode));
  if (!g) return 0;
  return g->WinAnsiCode < 0 ? 0xFF : static_cast<uint8_t>(g->WinAnsiCode);
}

bool parseDecimal(std::string_view text, uint32_t& value) {
  if (text.empty() || text.size() > 9) return false;
  value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<uint32_t>(c - '0');
  }
  return true;
}

int compareNoCase(const std::string& a, const std::string& b) {
  size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    int ca = static_cast<unsigned char>(a[i]), cb = static_cast<unsigned char>(b[i]);
    if (ca >= 'a' && ca <= 'z') ca -= 32;
    if (cb >= 'a' && cb <= 'z') cb -= 32;
    if (ca != cb) return ca < cb ? -1 : 1;
  }
  return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

}  // namespace

void BuildEncodingVector(uint8_t kind, TPDFGlyphNames& names) {
  names.fill(".notdef");
  if (kind <= pdfekPDFDoc) {
    for (const auto& g : kStandardGlyphs) {
      int16_t code = codeIn(g, kind);
      if (code >= 0 && code < 256) names[static_cast<size_t>(code)] = g.Name;
    }
    if (kind == pdfekWinAnsi) {
      for (int c = 33; c < 256; ++c)
        if (names[c] == ".notdef") names[c] = "bullet";
      names[160] = "space";
      names[173] = "hyphen";
    } else if (kind == pdfekMacRoman && names[202] == ".notdef") {
      names[202] = "space";
    }
  } else if (kind == pdfekMacExpert) {
    for (const auto& p : kMacExpertStandard) names[p.code] = p.name;
  } else if (kind == pdfekSymbol) {
    for (auto& n : names) n.clear();
    for (const auto& s : kSymbolGlyphs)
      if (s.Code >= 0 && s.Code < 256) names[static_cast<size_t>(s.Code)] = s.Name;
  }
}

void BuildSymbolEncoding(TPDFGlyphNames& keys) {
  static const char kHex[] = "0123456789ABCDEF";
  for (auto& k : keys) k.clear();
  for (const auto& s : kSymbolGlyphs) {
    if (s.Code < 0 || s.Code > 255) continue;
    std::string key = "U+";
    for (int shift = 12; shift >= 0; shift -= 4) key += kHex[(s.Unicode >> shift) & 0xF];
    keys[static_cast<size_t>(s.Code)] = key;
  }
}

void BuildDingbatsEncoding(TPDFGlyphNames& names) {
  names.fill(".notdef");
  for (const auto& d : kDingbatsGlyphs)
    if (d.Code >= 0 && d.Code < 256) names[static_cast<size_t>(d.Code)] = d.Name;
}

void DingbatsWidths(const TPDFGlyphNames& names, std::array<double, 256>& widths) {
  for (size_t i = 0; i < 256; ++i) {
    widths[i] = 750;
    for (const auto& d : kDingbatsGlyphs)
      if (names[i] == d.Name) {
        widths[i] = d.Width;
        break;
      }
  }
}

uint16_t DingbatsNameToCode(std::string_view name) {
  for (const auto& d : kDingbatsGlyphs)
    if (name == d.Name) return d.Unicode;
  return 0;
}

void EncodingVectorToCodes(const TPDFGlyphNames& names, std::array<std::string, 256>& codes) {
  for (size_t i = 0; i < 256; ++i) {
    const std::string& name = names[i];
    uint8_t b = ansiByteOfCharacter(GlyphNameToCode(name));
    uint32_t n = 0;
    if (b == 0 && name.size() > 4 && name.compare(0, 4, "CID:") == 0 && parseDecimal(std::string_view(name).substr(4), n))
      b = ansiByteOfCharacter(n);
    codes[i] = b ? std::string(1, static_cast<char>(b)) : std::string();
  }
}

void EncodingVectorToUnicode(const TPDFGlyphNames& names, std::array<std::u16string, 256>& text) {
  for (size_t i = 0; i < 256; ++i) {
    text[i] = std::u16string(1, static_cast<char16_t>(GlyphNameToCode(names[i])));
    const std::string_view name = names[i];
    // The Latin ligatures named by their letters read as those letters, as
    // other readers write them.
    if (name == "ff" || name == "fi" || name == "fl" || name == "ffi" || name == "ffl") {
      text[i] = std::u16string(name.begin(), name.end());
      continue;
    }
    if (text[i][0] != 0 || name.find('_') == std::string_view::npos) continue;
    // A ligature named by its parts ("f_f_i"): the characters of every part.
    std::u16string parts;
    size_t start = 0;
    while (start <= name.size()) {
      const size_t end = std::min(name.find('_', start), name.size());
      const uint16_t u = GlyphNameToCode(name.substr(start, end - start));
      if (u == 0) {
        parts.clear();
        break;
      }
      parts += static_cast<char16_t>(u);
      start = end + 1;
    }
    if (!parts.empty()) text[i] = parts;
  }
}

void EncodingWidths(int32_t row, const TPDFGlyphNames& names, std::array<double, 256>& widths) {
  if (row < 1 || row > 13) return;
  for (size_t i = 0; i < 256; ++i) {
    double w = 750;
    if (row <= 12) {
      int32_t index = StandardGlyphIndex(names[i]);
      if (index > 0) w = kStandardWidths[row - 1][index - 1];
    } else {
      for (const auto& s : kSymbolGlyphs)
        if (!names[i].empty() && names[i] == s.Name) {
          w = s.Width;
          break;
        }
    }
    widths[i] = w;
  }
}

int32_t StandardGlyphIndex(std::string_view name) {
  auto first = std::begin(kStandardGlyphs), last = std::end(kStandardGlyphs);
  auto it = std::lower_bound(first, last, name,
                             [](const TPDFStandardGlyph& g, std::string_view n) { return std::string_view(g.Name) < n; });
  if (it == last || std::string_view(it->Name) != name) return 0;
  return static_cast<int32_t>(it - first) + 1;
}

namespace {

uint16_t glyphListCode(std::string_view name);

// "uniXXXX" (the first of its groups of four) and "uXXXX" to "uXXXXXX":
// names that spell their character, as producers write them for glyphs the
// glyph list does not name. Only characters of the basic plane count.
uint16_t spelledCharacter(std::string_view name) {
  std::string_view digits;
  if (name.size() >= 7 && name.substr(0, 3) == "uni" && (name.size() - 3) % 4 == 0) {
    digits = name.substr(3, 4);
  } else if (name.size() >= 5 && name.size() <= 7 && name[0] == 'u') {
    digits = name.substr(1);
  } else {
    return 0;
  }
  uint32_t v = 0;
  for (char c : digits) {
    int h = (c >= '0' && c <= '9') ? c - '0' : (c >= 'A' && c <= 'F') ? c - 'A' + 10 : -1;
    if (h < 0) return 0;  // the names use upper-case digits only
    v = v * 16 + static_cast<uint32_t>(h);
  }
  if (v == 0 || v > 0xFFFF || (v >= 0xD800 && v <= 0xDFFF)) return 0;
  return static_cast<uint16_t>(v);
}

}  // namespace

uint16_t GlyphNameToCode(std::string_view name) {
  if (uint16_t u = glyphListCode(name)) return u;
  return spelledCharacter(name);
}

namespace {

// The first eight bytes of a name as a big-endian number (zeros after a
// shorter name): numbers in the order of the names, compared in one step.
uint64_t namePrefix(std::string_view name) {
  uint64_t prefix = 0;
  for (size_t i = 0; i < 8; ++i) prefix = (prefix << 8) | (i < name.size() ? static_cast<unsigned char>(name[i]) : 0u);
  return prefix;
}

// The glyph list's records (after 58 bucket positions: a length byte, the
// name, a little-endian Unicode value), in an index sorted by name made
// once: every code of every simple font is looked up by name.
uint16_t glyphListCode(std::string_view name) {
  struct TEntry {
    uint64_t prefix;
    std::string_view name;
    uint16_t code;
  };
  static const std::vector<TEntry> index = [] {
    const std::string& d = glyphListData();
    constexpr size_t kHeader = 58 * 3;
    std::vector<TEntry> entries;
    entries.reserve(d.size() / 10);
    for (size_t pos = kHeader; pos < d.size();) {
      const size_t len = static_cast<unsigned char>(d[pos]);
      if (len == 0 || pos + 1 + len + 2 > d.size()) break;
      const std::string_view entry = std::string_view(d).substr(pos + 1, len);
      entries.push_back({namePrefix(entry), entry,
                         static_cast<uint16_t>(uint8_t(d[pos + 1 + len]) | (uint8_t(d[pos + 2 + len]) << 8))});
      pos += 1 + len + 2;
    }
    auto byName = [](const TEntry& x, const TEntry& y) { return x.name < y.name; };
    if (!std::is_sorted(entries.begin(), entries.end(), byName))
      std::stable_sort(entries.begin(), entries.end(), byName);  // a repeated name keeps its first value
    return entries;
  }();
  if (name.empty()) return 0;
  const uint64_t prefix = namePrefix(name);
  auto it =
      std::lower_bound(index.begin(), index.end(), prefix, [](const TEntry& e, uint64_t p) { return e.prefix < p; });
  for (; it != index.end() && it->prefix == prefix; ++it)
    if (it->name == name) return it->code;
  return 0;
}

}  // namespace

std::string GlyphNameOfCode(uint16_t unicode) {
  if (const TPDFStandardGlyph* g = standardByUnicode(unicode)) return g->Name;
  for (const auto& s : kSymbolGlyphs)
    if (s.Unicode == unicode) return s.Name;
  return {};
}

uint8_t WinAnsiByteOfUnicode(uint16_t unicode) {
  const TPDFStandardGlyph* g = standardByUnicode(unicode);
  return (g && g->WinAnsiCode >= 0) ? static_cast<uint8_t>(g->WinAnsiCode) : 0;
}

uint8_t WinAnsiToPDFDocByte(uint8_t b) {
  static const std::array<uint8_t, 256> table = [] {
    std::array<uint8_t, 256> t{};
    for (int i = 0; i < 256; ++i) t[i] = static_cast<uint8_t>(i);
    for (const auto& g : kStandardGlyphs)
      if (g.WinAnsiCode >= 0 && g.PDFDocCode >= 0) t[static_cast<size_t>(g.WinAnsiCode)] = static_cast<uint8_t>(g.PDFDocCode);
    return t;
  }();
  return table[b];
}

std::string GetDingbatsFontData() {
  TFont font;
  font.Name = "D050000L";
  TInstalledFace face;
  if (!SelectInstalledFace(font, face) || face.Family != "D050000L") return {};
  uint32_t size = GetFontData(face, 0, 0, nullptr, 0);
  if (size == 0 || size == GDI_ERROR) return {};
  std::string data(size, '\0');
  if (GetFontData(face, 0, 0, data.data(), size) != size) return {};
  return data;
}

const std::vector<std::string>& InstalledFontNames(uint8_t charset) {
  static std::mutex mutex;
  static std::map<uint8_t, std::vector<std::string>> lists;
  std::lock_guard<std::mutex> lock(mutex);
  auto it = lists.find(charset);
  if (it != lists.end()) return it->second;
  std::vector<std::string> names;
  for (std::string& family : EnumFontFamilies(charset)) {
    if (!names.empty() && compareNoCase(names.back(), family) == 0) continue;
    names.push_back(std::move(family));
  }
  std::stable_sort(names.begin(), names.end(),
                   [](const std::string& a, const std::string& b) { return compareNoCase(a, b) < 0; });
  return lists.emplace(charset, std::move(names)).first->second;
}
