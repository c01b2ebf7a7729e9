#include "platform/Fonts.h"

#include <fontconfig/fontconfig.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <sstream>

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
bool configLoaded = false;

FcConfig* config() {
  FcInit();
  configLoaded = true;
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

// ---------------------------------------------------------------------------
// Answers kept between runs. Loading fontconfig's configuration (some sixty
// XML files) and its font caches takes several milliseconds, more than a
// small document takes to draw, while a run asks it the same few questions
// as the last one. So the family lists and face selections it gave are kept
// in a file under the user's cache folder, with what they depend on: the
// environment fontconfig reads, and the modification stamps of every
// configuration file, configuration folder and font folder it used (adding
// a font to a folder changes the folder's stamp; fontconfig itself checks
// its caches the same way). A later run whose stamps all match answers from
// the file without loading fontconfig; any difference, a missing or damaged
// file, or a question not asked before loads it as before, and the file is
// written anew. Nothing is kept when the cache folder cannot be written.

constexpr char kAnswersHeader[] = "corvane installed-font answers 1";
constexpr size_t kMaxAnswersFile = 1 << 20;
constexpr size_t kMaxAnswers = 2048;
constexpr char kField = '\x1f';

// The variables fontconfig reads to find its configuration and folders.
const char* const kFontEnvironment[] = {"FONTCONFIG_FILE", "FONTCONFIG_PATH", "FONTCONFIG_SYSROOT", "HOME",
                                        "XDG_CONFIG_HOME", "XDG_DATA_HOME",   "XDG_CACHE_HOME"};

std::string environmentValue(const char* name) {
  const char* value = std::getenv(name);
  return value ? std::string("=") + value : std::string("-");
}

// What the file system says of a path: missing, or its stamp.
std::string pathStamp(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return "-";
  std::ostringstream out;
  out << st.st_mtim.tv_sec << '.' << st.st_mtim.tv_nsec << ' ' << st.st_size << ' ' << st.st_ino << ' ' << st.st_dev;
  return out.str();
}

bool storable(std::string_view text) {
  return text.find_first_of("\t\n") == std::string_view::npos;
}

std::vector<std::string_view> splitOn(std::string_view text, char separator) {
  std::vector<std::string_view> parts;
  for (;;) {
    const size_t at = text.find(separator);
    parts.push_back(text.substr(0, at));
    if (at == std::string_view::npos) return parts;
    text.remove_prefix(at + 1);
  }
}

std::string cacheFolder() {
  const char* xdg = std::getenv("XDG_CACHE_HOME");
  if (xdg && *xdg == '/') return std::string(xdg) + "/corvane-pdf-reader";
  const char* home = std::getenv("HOME");
  if (home && *home == '/') return std::string(home) + "/.cache/corvane-pdf-reader";
  return {};
}

// The paths whose stamps the answers depend on; fontconfig is loaded.
std::set<std::string> configurationPaths() {
  std::set<std::string> paths;
  auto addList = [&](FcStrList* list, bool withParent) {
    if (!list) return;
    while (FcChar8* entry = FcStrListNext(list)) {
      std::string path = reinterpret_cast<const char*>(entry);
      if (path.empty()) continue;
      if (withParent) {
        const size_t slash = path.find_last_of('/');
        if (slash != std::string::npos && slash > 0) paths.insert(path.substr(0, slash));
      }
      paths.insert(std::move(path));
    }
    FcStrListDone(list);
  };
  addList(FcConfigGetConfigFiles(config()), true);
  addList(FcConfigGetConfigDirs(config()), false);
  addList(FcConfigGetFontDirs(config()), false);
  // The user's own configuration, which the system files include only when
  // it exists: its creation must count as a change.
  const char* home = std::getenv("HOME");
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  std::string user = xdg && *xdg ? std::string(xdg) : home ? std::string(home) + "/.config" : std::string();
  if (!user.empty()) {
    paths.insert(user + "/fontconfig");
    paths.insert(user + "/fontconfig/fonts.conf");
    paths.insert(user + "/fontconfig/conf.d");
  }
  if (home) {
    paths.insert(std::string(home) + "/.fonts.conf");
    paths.insert(std::string(home) + "/.fonts.conf.d");
  }
  return paths;
}

class TFontAnswers {
public:
  // The answer kept for the question, or null (then ask fontconfig).
  const std::string* Find(const std::string& question) {
    load();
    if (!current_) return nullptr;
    auto it = answers_.find(question);
    return it == answers_.end() ? nullptr : &it->second;
  }

  // Keeps what fontconfig answered (it is loaded by now) and writes the file.
  void Remember(const std::string& question, const std::string& answer) {
    load();
    if (folder_.empty() || !storable(question) || !storable(answer)) return;
    if (!current_) {
      // The folder first: making it changes its parent's stamp, which may be kept.
      makeFolder();
      answers_.clear();
      stamps_.clear();
      for (const std::string& path : configurationPaths()) {
        if (!storable(path)) return;  // such a path cannot be written down: keep nothing
        stamps_.emplace_back(path, pathStamp(path));
      }
      current_ = true;
    }
    if (answers_.size() >= kMaxAnswers && !answers_.count(question)) return;
    answers_[question] = answer;
    save();
  }

private:
  void load() {
    if (loaded_) return;
    loaded_ = true;
    folder_ = cacheFolder();
    if (folder_.empty()) return;
    const std::string file = folder_ + "/installed-fonts";
    struct stat st {};
    if (::stat(file.c_str(), &st) != 0 || st.st_size <= 0 || st.st_size > static_cast<off_t>(kMaxAnswersFile)) return;
    std::string text;
    try {
      text = ReadFileBytes(file);
    } catch (const Exception&) {
      return;
    }
    std::vector<std::string_view> lines = splitOn(text, '\n');
    if (lines.empty() || lines.front() != kAnswersHeader) return;
    size_t environment = 0;
    std::map<std::string, std::string> answers;
    for (size_t i = 1; i < lines.size(); ++i) {
      if (lines[i].empty()) continue;
      const std::vector<std::string_view> f = splitOn(lines[i], '\t');
      if (f.size() != 3) return;
      if (f[0] == "env") {
        if (environment >= std::size(kFontEnvironment) || f[1] != kFontEnvironment[environment] ||
            f[2] != environmentValue(kFontEnvironment[environment]))
          return;
        ++environment;
      } else if (f[0] == "stamp") {
        const std::string path(f[1]);
        if (f[2] != pathStamp(path)) return;
        stamps_.emplace_back(path, std::string(f[2]));
      } else if (f[0] == "answer") {
        answers.emplace(std::string(f[1]), std::string(f[2]));
      } else {
        return;
      }
    }
    if (environment != std::size(kFontEnvironment) || stamps_.empty()) {
      stamps_.clear();
      return;
    }
    answers_ = std::move(answers);
    current_ = true;
  }

  void makeFolder() const {
    const size_t slash = folder_.find_last_of('/');
    if (slash != std::string::npos && slash > 0) ::mkdir(folder_.substr(0, slash).c_str(), 0700);
    ::mkdir(folder_.c_str(), 0700);
  }

  // Renamed into place, so that a reader never sees half a file; losing
  // the file costs only the next run's time.
  void save() {
    std::string text = std::string(kAnswersHeader) + '\n';
    for (const char* name : kFontEnvironment)
      text += std::string("env\t") + name + '\t' + environmentValue(name) + '\n';
    for (const auto& [path, stamp] : stamps_) text += "stamp\t" + path + '\t' + stamp + '\n';
    for (const auto& [question, answer] : answers_) text += "answer\t" + question + '\t' + answer + '\n';
    try {
      WriteFileBytesAtomic(folder_ + "/installed-fonts", text);
    } catch (const Exception&) {
      // Not kept: the next run asks fontconfig again.
    }
  }

  bool loaded_ = false;
  bool current_ = false;  // the stamps kept match the machine now
  std::string folder_;
  std::vector<std::pair<std::string, std::string>> stamps_;
  std::map<std::string, std::string> answers_;
};

TFontAnswers& fontAnswers() {
  static TFontAnswers answers;
  return answers;
}

std::string joinFields(const std::vector<std::string>& fields) {
  std::string out;
  for (size_t i = 0; i < fields.size(); ++i) {
    if (i) out += kField;
    out += fields[i];
  }
  return out;
}

std::vector<std::string> fieldsOf(const std::string& text) {
  std::vector<std::string> fields;
  if (text.empty()) return fields;
  for (std::string_view f : splitOn(text, kField)) fields.emplace_back(f);
  return fields;
}

}  // namespace

std::vector<std::string> EnumFontFamilies(uint8_t charset) {
  std::lock_guard<std::mutex> lock(configMutex());
  const std::string question = "families" + std::string(1, kField) + std::to_string(charset);
  if (const std::string* kept = fontAnswers().Find(question)) return fieldsOf(*kept);
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
  if (std::none_of(families.begin(), families.end(), [](const std::string& f) { return f.find(kField) != f.npos; }))
    fontAnswers().Remember(question, joinFields(families));
  return families;
}

namespace {

TInstalledFace selectFace(const TFont& font) {
  TInstalledFace face;
  PatternPtr match = matchFamily(font.Name, (font.Style & fsBold) ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR,
                                 (font.Style & fsItalic) ? FC_SLANT_ITALIC : FC_SLANT_ROMAN,
                                 font.Charset == SHIFTJIS_CHARSET);
  if (!match) return face;
  face.File = patternString(match.get(), FC_FILE);
  if (face.File.empty()) return face;
  face.Family = patternString(match.get(), FC_FAMILY);
  face.Index = patternInt(match.get(), FC_INDEX, 0) & 0xFFFF;  // the high bits name a variation instance
  face.Bold = patternInt(match.get(), FC_WEIGHT, FC_WEIGHT_REGULAR) >= FC_WEIGHT_DEMIBOLD;
  face.Italic = patternInt(match.get(), FC_SLANT, FC_SLANT_ROMAN) != FC_SLANT_ROMAN;
  return face;
}

}  // namespace

bool SelectInstalledFace(const TFont& font, TInstalledFace& face) {
  std::lock_guard<std::mutex> lock(configMutex());
  const std::string question = joinFields({"face", font.Name, std::to_string(font.Style & (fsBold | fsItalic)),
                                           std::to_string(font.Charset == SHIFTJIS_CHARSET)});
  std::vector<std::string> fields;
  if (const std::string* kept = fontAnswers().Find(question)) {
    fields = fieldsOf(*kept);
  } else {
    const TInstalledFace found = selectFace(font);
    if (!found.File.empty())
      fields = {found.File, std::to_string(found.Index), found.Family, found.Bold ? "1" : "0",
                found.Italic ? "1" : "0"};
    if (font.Name.find(kField) == std::string::npos &&
        std::none_of(fields.begin(), fields.end(), [](const std::string& f) { return f.find(kField) != f.npos; }))
      fontAnswers().Remember(question, joinFields(fields));
  }
  if (fields.size() != 5 || fields[0].empty()) return false;
  face.File = fields[0];
  face.Index = std::atoi(fields[1].c_str());
  face.Family = fields[2];
  face.Bold = fields[3] == "1";
  face.Italic = fields[4] == "1";
  return true;
}

bool InstalledFontConfigurationLoaded() {
  std::lock_guard<std::mutex> lock(configMutex());
  return configLoaded;
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
