#include "platform/IniFile.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

#include "platform/Classes.h"

namespace {

std::string lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

std::string trim(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\t')) ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t' || s[e - 1] == '\r')) --e;
  return s.substr(b, e - b);
}

}  // namespace

TIniFile::TIniFile(std::string path) : path_(std::move(path)) {
  std::string bytes;
  try {
    bytes = ReadFileBytes(path_);
  } catch (const std::exception&) {
    return;
  }
  // A UTF-8 byte-order mark is not part of the first line.
  if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) bytes.erase(0, 3);
  std::string section;
  size_t pos = 0;
  while (pos < bytes.size()) {
    size_t end = bytes.find('\n', pos);
    if (end == std::string::npos) end = bytes.size();
    std::string text = bytes.substr(pos, end - pos);
    if (!text.empty() && text.back() == '\r') text.pop_back();
    pos = end + 1;
    TLine line{text, section, {}, {}};
    const std::string t = trim(text);
    if (t.size() >= 2 && t.front() == '[' && t.back() == ']') {
      section = lower(trim(t.substr(1, t.size() - 2)));
      line.section = section;
    } else if (!t.empty() && t[0] != ';' && t[0] != '#') {
      const size_t eq = t.find('=');
      if (eq != std::string::npos && eq > 0) {
        line.key = lower(trim(t.substr(0, eq)));
        line.value = trim(t.substr(eq + 1));
      }
    }
    lines_.push_back(std::move(line));
  }
}

const TIniFile::TLine* TIniFile::find(const std::string& section, const std::string& key) const {
  const std::string s = lower(section), k = lower(key);
  for (const TLine& l : lines_)
    if (!l.key.empty() && l.section == s && l.key == k) return &l;
  return nullptr;
}

bool TIniFile::ValueExists(const std::string& section, const std::string& key) const {
  return find(section, key) != nullptr;
}

std::string TIniFile::ReadString(const std::string& section, const std::string& key,
                                 const std::string& fallback) const {
  const TLine* l = find(section, key);
  return l ? l->value : fallback;
}

int TIniFile::ReadInteger(const std::string& section, const std::string& key, int fallback) const {
  const TLine* l = find(section, key);
  if (!l || l->value.empty()) return fallback;
  char* end = nullptr;
  const bool hex = l->value.size() > 1 && l->value[0] == '$';
  const long v = std::strtol(l->value.c_str() + (hex ? 1 : 0), &end, hex ? 16 : 10);
  if (*end || v < -2147483647L - 1 || v > 2147483647L) return fallback;
  return static_cast<int>(v);
}

bool TIniFile::ReadBool(const std::string& section, const std::string& key, bool fallback) const {
  const TLine* l = find(section, key);
  if (!l) return fallback;
  char* end = nullptr;
  const long v = std::strtol(l->value.c_str(), &end, 10);
  if (l->value.empty() || *end) return fallback;
  return v != 0;
}

void TIniFile::WriteString(const std::string& section, const std::string& key, const std::string& value) {
  // Values are single lines.
  std::string clean = value;
  std::replace(clean.begin(), clean.end(), '\n', ' ');
  std::replace(clean.begin(), clean.end(), '\r', ' ');
  if (TLine* l = const_cast<TLine*>(find(section, key))) {
    l->value = clean;
    l->text = key + "=" + clean;
    return;
  }
  const std::string s = lower(section);
  // After the last line of the section, or in a new section at the end.
  size_t insertAt = lines_.size();
  bool found = false;
  for (size_t i = 0; i < lines_.size(); ++i) {
    if (lines_[i].section == s) {
      found = true;
      if (!trim(lines_[i].text).empty()) insertAt = i + 1;
    } else if (found) {
      break;
    }
  }
  if (!found) {
    lines_.push_back(TLine{"[" + section + "]", s, {}, {}});
    insertAt = lines_.size();
  }
  lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(insertAt), TLine{key + "=" + clean, s, lower(key), clean});
}

void TIniFile::WriteInteger(const std::string& section, const std::string& key, int value) {
  WriteString(section, key, std::to_string(value));
}

void TIniFile::WriteBool(const std::string& section, const std::string& key, bool value) {
  WriteString(section, key, value ? "1" : "0");
}

void TIniFile::UpdateFile() const {
  std::string out;
  for (const TLine& l : lines_) out += l.text + "\n";
  WriteFileBytesAtomic(path_, out);
}
