#include "platform/Fonts.h"

#include <fontconfig/fontconfig.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <memory>
#include <mutex>

#include "platform/Classes.h"

namespace {

// Windows family names that PDF substitution asks for by name. They count as
// installed when fontconfig binds them to a specific face (the metric
// aliases of Liberation and URW) rather than to its generic default.
const char* const kWindowsFamilyNames[] = {"Arial",  "Times New Roman", "Courier New", "Courier",
                                           "Symbol", "Helvetica",       "Times",       "ZapfDingbats"};

std::mutex& configMutex() {
  static std::mutex mutex;
  return mutex;
}

// The current configuration, asked for on every use: libgdiplus finishes
// fontconfig when GDI+ shuts down, which frees the configuration a cached
// pointer would still name (the next use then loads it again).
FcConfig* config() {
  FcInit();
  return FcConfigGetCurrent();
}

struct PatternDeleter {
  void operator()(FcPattern* p) const { FcPatternDestroy(p); }
};
using PatternPtr = std::unique_ptr<FcPattern, PatternDeleter>;

std::string patternString(FcPattern* pattern, const char* object) {
  FcChar8* value = nullptr;
  if (FcPatternGetString(pattern, object, 0, &value) == FcResultMatch && value)
    return reinterpret_cast<const char*>(value);
  return {};
}

int patternInt(FcPattern* pattern, const char* object, int def) {
  int value = def;
  if (FcPatternGetInteger(pattern, object, 0, &value) != FcResultMatch) return def;
  return value;
}

PatternPtr matchPattern(FcPattern* request) {
  FcConfigSubstitute(config(), request, FcMatchPattern);
  FcDefaultSubstitute(request);
  FcResult result = FcResultNoMatch;
  return PatternPtr(FcFontMatch(config(), request, &result));
}

PatternPtr matchFamily(const std::string& family, int weight, int slant, bool japanese) {
  PatternPtr request(FcPatternCreate());
  FcPatternAddString(request.get(), FC_FAMILY, reinterpret_cast<const FcChar8*>(family.c_str()));
  FcPatternAddInteger(request.get(), FC_WEIGHT, weight);
  FcPatternAddInteger(request.get(), FC_SLANT, slant);
  FcPatternAddBool(request.get(), FC_SCALABLE, FcTrue);
  if (japanese) FcPatternAddString(request.get(), FC_LANG, reinterpret_cast<const FcChar8*>("ja"));
  return matchPattern(request.get());
}

uint32_t readU32(std::string_view data, size_t pos) {
  if (pos + 4 > data.size()) return 0;
  return (uint32_t(uint8_t(data[pos])) << 24) | (uint32_t(uint8_t(data[pos + 1])) << 16) |
         (uint32_t(uint8_t(data[pos + 2])) << 8) | uint32_t(uint8_t(data[pos + 3]));
}
uint16_t readU16(std::string_view data, size_t pos) {
  if (pos + 2 > data.size()) return 0;
  return uint16_t((uint8_t(data[pos]) << 8) | uint8_t(data[pos + 1]));
}

uint32_t copyOut(std::string_view bytes, uint32_t offset, void* buffer, uint32_t size) {
  if (!buffer || size == 0) return static_cast<uint32_t>(bytes.size());
  if (offset >= bytes.size()) return GDI_ERROR;
  uint32_t n = std::min<uint32_t>(size, static_cast<uint32_t>(bytes.size() - offset));
  std::memcpy(buffer, bytes.data() + offset, n);
  return n;
}

}  // namespace

std::vector<std::string> EnumFontFamilies(uint8_t charset) {
  std::lock_guard<std::mutex> lock(configMutex());
  std::vector<std::string> families;
  PatternPtr pattern(FcPatternCreate());
  FcPatternAddBool(pattern.get(), FC_SCALABLE, FcTrue);
  if (charset == SHIFTJIS_CHARSET)
    FcPatternAddString(pattern.get(), FC_LANG, reinterpret_cast<const FcChar8*>("ja"));
  FcObjectSet* objects = FcObjectSetBuild(FC_FAMILY, nullptr);
  FcFontSet* set = FcFontList(config(), pattern.get(), objects);
  FcObjectSetDestroy(objects);
  if (set) {
    for (int i = 0; i < set->nfont; ++i) {
      std::string family = patternString(set->fonts[i], FC_FAMILY);
      if (!family.empty() && std::find(families.begin(), families.end(), family) == families.end())
        families.push_back(family);
    }
    FcFontSetDestroy(set);
  }
  if (charset == DEFAULT_CHARSET) {
    PatternPtr fallback = matchFamily("corvane-no-such-family", FC_WEIGHT_REGULAR, FC_SLANT_ROMAN, false);
    std::string defaultFamily = fallback ? patternString(fallback.get(), FC_FAMILY) : std::string();
    for (const char* name : kWindowsFamilyNames) {
      if (std::find(families.begin(), families.end(), name) != families.end()) continue;
      PatternPtr match = matchFamily(name, FC_WEIGHT_REGULAR, FC_SLANT_ROMAN, false);
      if (match && patternString(match.get(), FC_FAMILY) != defaultFamily) families.emplace_back(name);
    }
  }
  return families;
}

bool SelectInstalledFace(const TFont& font, TInstalledFace& face) {
  std::lock_guard<std::mutex> lock(configMutex());
  PatternPtr match = matchFamily(font.Name, (font.Style & fsBold) ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR,
                                 (font.Style & fsItalic) ? FC_SLANT_ITALIC : FC_SLANT_ROMAN,
                                 font.Charset == SHIFTJIS_CHARSET);
  if (!match) return false;
  face.File = patternString(match.get(), FC_FILE);
  if (face.File.empty()) return false;
  face.Family = patternString(match.get(), FC_FAMILY);
  face.Index = patternInt(match.get(), FC_INDEX, 0) & 0xFFFF;  // the high bits name a variation instance
  face.Bold = patternInt(match.get(), FC_WEIGHT, FC_WEIGHT_REGULAR) >= FC_WEIGHT_DEMIBOLD;
  face.Italic = patternInt(match.get(), FC_SLANT, FC_SLANT_ROMAN) != FC_SLANT_ROMAN;
  return true;
}

bool FindTrueTypeFaceFor(const std::string& family, std::u16string_view text, TInstalledFace& face) {
  std::lock_guard<std::mutex> lock(configMutex());
  std::unique_ptr<FcCharSet, void (*)(FcCharSet*)> wanted(FcCharSetCreate(), FcCharSetDestroy);
  for (size_t i = 0; i < text.size(); ++i) {
    uint32_t c = text[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000)
      c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
    if (c > 32) FcCharSetAddChar(wanted.get(), c);
  }
  PatternPtr request(FcPatternCreate());
  FcPatternAddString(request.get(), FC_FAMILY, reinterpret_cast<const FcChar8*>(family.c_str()));
  FcPatternAddBool(request.get(), FC_SCALABLE, FcTrue);
  FcPatternAddCharSet(request.get(), FC_CHARSET, wanted.get());
  FcConfigSubstitute(config(), request.get(), FcMatchPattern);
  FcDefaultSubstitute(request.get());
  FcResult result;
  FcFontSet* set = FcFontSort(config(), request.get(), FcFalse, nullptr, &result);
  if (!set) return false;
  bool found = false;
  for (int i = 0; i < set->nfont && !found; ++i) {
    FcPattern* candidate = set->fonts[i];
    FcCharSet* has = nullptr;
    if (FcPatternGetCharSet(candidate, FC_CHARSET, 0, &has) != FcResultMatch || !has) continue;
    if (!FcCharSetIsSubset(wanted.get(), has)) continue;
    const std::string file = patternString(candidate, FC_FILE);
    std::string lower = file;
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
    if (lower.size() < 4 || lower.compare(lower.size() - 4, 4, ".ttf") != 0) continue;  // glyf outlines, one font
    face.File = file;
    face.Family = patternString(candidate, FC_FAMILY);
    face.Index = 0;
    face.Bold = patternInt(candidate, FC_WEIGHT, FC_WEIGHT_REGULAR) >= FC_WEIGHT_DEMIBOLD;
    face.Italic = patternInt(candidate, FC_SLANT, FC_SLANT_ROMAN) != FC_SLANT_ROMAN;
    found = true;
  }
  FcFontSetDestroy(set);
  return found;
}

namespace {

// Where the face's table directory starts in its file (0 for a lone font);
// false for a face index the collection does not have.
bool faceDirectory(std::string_view file, const TInstalledFace& face, uint32_t& directory) {
  directory = 0;
  if (file.size() < 12 || file.compare(0, 4, "ttcf") != 0) return true;
  const uint32_t count = readU32(file, 8);
  if (face.Index < 0 || static_cast<uint32_t>(face.Index) >= count) return false;
  directory = readU32(file, 12 + 4 * static_cast<size_t>(face.Index));
  return directory < file.size();
}

}  // namespace

uint32_t GetFontData(const TInstalledFace& face, uint32_t tag, uint32_t offset, void* buffer, uint32_t size) {
  // Mapped, not read: callers ask for sizes first and a table at a time.
  std::unique_ptr<TMappedFile> mapped;
  try {
    mapped = std::make_unique<TMappedFile>(face.File);
  } catch (const Exception&) {
    return GDI_ERROR;
  }
  const std::string_view file = mapped->View();
  if (file.size() >= 0xFFFFFFFFu) return GDI_ERROR;
  const bool collection = file.size() >= 12 && file.compare(0, 4, "ttcf") == 0;
  if (tag == FontTableTag("ttcf")) {
    if (!collection) return GDI_ERROR;
    return copyOut(file, offset, buffer, size);
  }
  uint32_t directory = 0;
  if (!faceDirectory(file, face, directory)) return GDI_ERROR;
  if (tag == 0) return copyOut(file.substr(directory), offset, buffer, size);
  uint16_t numTables = readU16(file, directory + 4);
  for (uint32_t i = 0; i < numTables; ++i) {
    size_t record = directory + 12 + 16 * static_cast<size_t>(i);
    if (record + 16 > file.size()) break;
    if (readU32(file, record) != tag) continue;
    uint64_t start = readU32(file, record + 8);
    uint64_t length = readU32(file, record + 12);
    if (start > file.size() || length > file.size() - start) return GDI_ERROR;
    return copyOut(file.substr(start, length), offset, buffer, size);
  }
  return GDI_ERROR;
}

bool MapInstalledFace(const TInstalledFace& face, TInstalledFaceBytes& out) {
  out = TInstalledFaceBytes();
  std::shared_ptr<const TMappedFile> mapped;
  try {
    mapped = std::make_shared<const TMappedFile>(face.File);
  } catch (const Exception&) {
    return false;
  }
  const std::string_view file = mapped->View();
  uint32_t directory = 0;
  if (file.empty() || file.size() >= 0xFFFFFFFFu || !faceDirectory(file, face, directory)) return false;
  out.File = std::move(mapped);
  out.Bytes = file.substr(directory);
  out.DirectoryOffset = directory;
  return true;
}
