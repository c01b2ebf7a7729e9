// PDF object syntax parser: one pass over the text, building objects in a
// pool; plus the stand-alone string decoders of content streams.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <string_view>
#include <unordered_map>

#include "objects/PavonaCharClass.h"
#include "objects/PavonaExtra.h"
#include "objects/PavonaStructure.h"

namespace {

inline bool isOctal(unsigned char c) {
  return c >= '0' && c <= '7';
}

// Nearest integer in the 32-bit range (object numbers from untrusted text).
int32_t toInt32(double v) {
  if (std::isnan(v)) return 0;
  v = std::nearbyint(v);
  if (v >= 2147483647.0) return std::numeric_limits<int32_t>::max();
  if (v <= -2147483648.0) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(v);
}

// Raised inside the parser when containers nest too deeply; the caller
// then gets the null object, as for any other unreadable text.
struct TooDeep {};

// Dictionaries larger than this find repeated keys through a hash index
// while parsing, so that a hostile dictionary cannot make parsing quadratic.
constexpr size_t kIndexedDictionarySize = 32;

}  // namespace

struct TPDFSyntaxParser {
  std::string_view t;
  size_t p = 0;
  TPDFStructure& pool;
  // Where an unbalanced literal string was found: every enclosing container
  // retries that spot, and must not scan to the end of the text again.
  size_t unbalancedAt = std::string_view::npos;

  TPDFSyntaxParser(std::string_view text, TPDFStructure& target) : t(text), pool(target) {}

  void skip() {
    const size_t n = t.size();
    while (p < n) {
      unsigned char c = static_cast<unsigned char>(t[p]);
      if (PDFIsWhite(c)) {
        ++p;
      } else if (c == '%') {
        while (p < n && t[p] != '\n' && t[p] != '\r') ++p;
      } else {
        break;
      }
    }
  }

  // "true", "false", "null" only when followed by the end, white space or a delimiter.
  bool keyword(std::string_view word) const {
    if (t.compare(p, word.size(), word) != 0) return false;
    size_t end = p + word.size();
    if (end > t.size()) return false;
    return end == t.size() || PDFIsWhite(static_cast<unsigned char>(t[end])) ||
           PDFIsDelimiter(static_cast<unsigned char>(t[end]));
  }

  TPDFObject* parseObject(int depth) {
    const size_t n = t.size();
    if (p >= n) return nullptr;
    const size_t remaining = n - p;
    const unsigned char c = static_cast<unsigned char>(t[p]);
    if (c == '<' && remaining >= 4 && t[p + 1] == '<') {
      if (depth >= kMaxObjectDepth) throw TooDeep{};
      return parseDictionary(depth);
    }
    if (c == '[' && remaining >= 2) {
      if (depth >= kMaxObjectDepth) throw TooDeep{};
      return parseArray(depth);
    }
    if (c == 't' && keyword("true")) {
      p += 4;
      return pool.NewBoolean(true);
    }
    if (c == 'f' && keyword("false")) {
      p += 5;
      return pool.NewBoolean(false);
    }
    if (c == 'n' && keyword("null")) {
      p += 4;
      return pool.NewNull();
    }
    // "+" is a valid sign of a PDF number ("+5", "+.5").
    if (c == '-' || c == '+' || c == '.' || PDFIsDigit(c)) return parseNumber();
    if (c == '(' && remaining >= 2) return parseLiteral();
    if (c == '<' && remaining >= 2) return parseHex();
    // A "/" at the very end is the empty name, as the writer writes it.
    if (c == '/') return parseName();
    return nullptr;
  }

  TPDFObject* parseDictionary(int depth) {
    p += 2;
    TPDFDictionary* dict = pool.NewDictionary();
    std::vector<TPDFDictEntry>& entries = dict->entries_;
    std::unordered_map<std::string_view, size_t> index;  // only for large dictionaries
    for (;;) {
      skip();
      const size_t keyAt = p;
      TPDFObject* key = parseObject(depth + 1);
      TPDFName* name = PDFAsName(key);
      if (!name) {
        // A stray value where a key belongs (the " 0 R" of "/X 1 0 R 0 R"):
        // it is passed over, and the entries after it still count.
        if (key && p > keyAt) continue;
        if (strayReference()) continue;
        break;
      }
      skip();
      TPDFObject* value = parseObject(depth + 1);
      if (!value) break;
      // A repeated key overwrites the earlier entry in place.
      std::string_view keyText = name->GetValue();
      const TPDFDictEntry entry{name, value};
      pool.noteEntry(dict, entry, 1);
      if (entries.size() < kIndexedDictionarySize) {
        int32_t i = dict->IndexOfKey(keyText);
        if (i >= 0) {
          pool.noteEntry(dict, entries[static_cast<size_t>(i)], -1);
          entries[static_cast<size_t>(i)] = entry;
        } else {
          entries.push_back(entry);
        }
      } else {
        if (index.empty())
          for (size_t i = 0; i < entries.size(); ++i) index.emplace(entries[i].key->GetValue(), i);
        auto found = index.find(keyText);
        if (found != index.end()) {
          const size_t at = found->second;
          pool.noteEntry(dict, entries[at], -1);
          entries[at] = entry;
          // The key text now lives in the new name object.
          index.erase(found);
          index.emplace(name->GetValue(), at);
        } else {
          index.emplace(keyText, entries.size());
          entries.push_back(entry);
        }
      }
    }
    if (p + 1 < t.size() && t[p] == '>' && t[p + 1] == '>') p += 2;
    return dict;
  }

  // A lone "R" (a reference's tail without its numbers) at p: passed over.
  bool strayReference() {
    if (p >= t.size() || t[p] != 'R') return false;
    if (p + 1 < t.size() && !PDFIsWhite(static_cast<unsigned char>(t[p + 1])) &&
        !PDFIsDelimiter(static_cast<unsigned char>(t[p + 1])))
      return false;
    ++p;
    return true;
  }

  TPDFObject* parseArray(int depth) {
    p += 1;
    TPDFArray* arr = pool.NewArray();
    bool first = true;
    for (;;) {
      skip();
      TPDFObject* item = parseObject(depth + 1);
      if (!item) break;
      arr->items_.push_back(item);
      pool.noteHold(arr, item, 1);
      if (first) {
        first = false;
        // A list of references (page /Kids, /Annots ...) reserves its slots
        // once. Counting stops at a nested array too, so that nested lists
        // never rescan the same bytes (the count is only a capacity hint).
        if (item->GetKind() == pdfkIndRef && p < t.size() && t[p] != ']') {
          std::string_view rest = t.substr(p);
          size_t close = rest.find_first_of("[]");
          if (close != std::string_view::npos) rest = rest.substr(0, close);
          arr->Reserve(static_cast<int32_t>(
              std::min<size_t>(std::count(rest.begin(), rest.end(), 'R'), std::numeric_limits<int32_t>::max())));
        }
      }
    }
    if (p < t.size() && t[p] == ']') ++p;
    return arr;
  }

  // One number token from p: the first byte, then digits and at most one ".".
  double numberToken(bool& hasDot) {
    const size_t start = p;
    hasDot = t[p] == '.';
    ++p;
    while (p < t.size()) {
      unsigned char c = static_cast<unsigned char>(t[p]);
      if (PDFIsDigit(c)) {
        ++p;
      } else if (c == '.' && !hasDot) {
        hasDot = true;
        ++p;
      } else {
        break;
      }
    }
    std::string_view token = t.substr(start, p - start);
    bool negative = false;
    if (token[0] == '+' || token[0] == '-') {
      negative = token[0] == '-';
      token.remove_prefix(1);
    }
    if (!hasDot && token.size() + (negative ? 1 : 0) <= 8) {
      // At most 8 digits: always inside the 32-bit range.
      int32_t v = 0;
      for (char d : token) v = v * 10 + (d - '0');
      return negative ? -v : v;
    }
    // Longer integers and decimals: "0" before a leading ".", "0" after a
    // trailing "."; the text reader takes no "+".
    char buffer[64];
    std::string longText;
    size_t needed = token.size() + 3;
    char* out = buffer;
    if (needed > sizeof(buffer)) {
      longText.resize(needed);
      out = longText.data();
    }
    size_t k = 0;
    if (negative) out[k++] = '-';
    if (!token.empty() && token.front() == '.') out[k++] = '0';
    std::memcpy(out + k, token.data(), token.size());
    k += token.size();
    if (!token.empty() && token.back() == '.') out[k++] = '0';
    if (token.empty()) out[k++] = '0';
    // Every digit read counts (a font matrix of 0.00048828125 must stay
    // that), so the value is the nearest double, not the text reader's
    // nine decimals; out-of-range values go to the text reader.
    double value = 0;
    const auto [end, ec] = std::from_chars(out, out + k, value, std::chars_format::fixed);
    if (ec == std::errc() && end == out + k && std::isfinite(value)) return value == 0 ? 0.0 : value;
    return PDFTextToFloat(std::string_view(out, k));
  }

  TPDFObject* parseNumber() {
    bool hasDot = false;
    const double first = numberToken(hasDot);
    if (!hasDot) {
      // "n g R": a reference.
      const size_t afterFirst = p;
      skip();
      if (p < t.size() && PDFIsDigit(static_cast<unsigned char>(t[p]))) {
        bool secondDot = false;
        const double second = numberToken(secondDot);
        skip();
        if (p < t.size() && t[p] == 'R') {
          ++p;
          return pool.NewIndRef(toInt32(first), toInt32(second));
        }
      }
      p = afterFirst;
    }
    return pool.NewNumeric(first);
  }

  TPDFObject* parseLiteral() {
    if (p == unbalancedAt) return nullptr;
    const size_t n = t.size();
    size_t i = p + 1;
    int64_t nesting = 1;
    while (i < n) {
      char c = t[i];
      if (c == '\\' && i + 1 < n && (t[i + 1] == '(' || t[i + 1] == ')' || t[i + 1] == '\\')) {
        i += 2;
        continue;
      }
      if (c == '(') {
        ++nesting;
      } else if (c == ')') {
        if (--nesting == 0) break;
      }
      ++i;
    }
    if (nesting > 0) {
      unbalancedAt = p;
      return nullptr;
    }
    std::string_view content = t.substr(p + 1, i - p - 1);
    p = i + 1;
    TPDFString* s = pool.NewString({}, psmLiteral);
    std::string bytes;
    bytes.reserve(content.size());
    const size_t m = content.size();
    for (size_t k = 0; k < m;) {
      char c = content[k];
      if (c == '\r') {
        // CR and CR LF read as LF.
        bytes += '\n';
        k += (k + 1 < m && content[k + 1] == '\n') ? 2 : 1;
        continue;
      }
      if (c != '\\' || k + 1 >= m) {
        bytes += c;
        ++k;
        continue;
      }
      char e = content[k + 1];
      k += 2;
      switch (e) {
        case '\n':
          break;
        case '\r':
          if (k < m && content[k] == '\n') ++k;
          break;
        case 'b':
          bytes += '\b';
          break;
        case 'f':
          bytes += '\f';
          break;
        case 'n':
          bytes += '\n';
          break;
        case 'r':
          bytes += '\r';
          break;
        case 't':
          bytes += '\t';
          break;
        default:
          if (isOctal(static_cast<unsigned char>(e))) {
            int v = e - '0';
            for (int d = 1; d < 3 && k < m && isOctal(static_cast<unsigned char>(content[k])); ++d, ++k)
              v = v * 8 + (content[k] - '0');
            bytes += static_cast<char>(v & 0xFF);
          } else {
            bytes += e;
          }
      }
    }
    s->SetValue(bytes);
    return s;
  }

  TPDFObject* parseHex() {
    const size_t n = t.size();
    size_t close = t.find('>', p + 1);
    std::string_view content = t.substr(p + 1, (close == std::string_view::npos ? n : close) - p - 1);
    p = close == std::string_view::npos ? n : close + 1;
    std::string bytes;
    bytes.reserve(content.size() / 2 + 1);
    int high = -1;
    for (unsigned char c : content) {
      int v = PDFHexValue(c);
      if (v < 0) continue;
      if (high < 0) {
        high = v;
      } else {
        bytes += static_cast<char>(high * 16 + v);
        high = -1;
      }
    }
    if (high >= 0) bytes += static_cast<char>(high * 16);
    return pool.NewString(bytes, psmHex);
  }

  TPDFObject* parseName() {
    const size_t n = t.size();
    size_t end = p + 1;
    while (end < n && !PDFIsWhite(static_cast<unsigned char>(t[end])) && !PDFIsDelimiter(static_cast<unsigned char>(t[end])))
      ++end;
    std::string_view raw = t.substr(p + 1, end - p - 1);
    p = end;
    TPDFName* name = pool.NewName({});
    if (raw.find('#') == std::string_view::npos) {
      name->SetValue(raw);
      return name;
    }
    std::string value;
    value.reserve(raw.size());
    for (size_t k = 0; k < raw.size();) {
      if (raw[k] == '#' && k + 2 < raw.size()) {
        int hi = PDFHexValue(static_cast<unsigned char>(raw[k + 1]));
        int lo = PDFHexValue(static_cast<unsigned char>(raw[k + 2]));
        if (hi >= 0 && lo >= 0) {
          value += static_cast<char>(hi * 16 + lo);
          k += 3;
          continue;
        }
      }
      value += raw[k];
      ++k;
    }
    name->SetValue(value);
    return name;
  }
};

TPDFObject* TPDFStructure::ParseObjectEx(std::string_view text, size_t& consumed) {
  consumed = 0;
  try {
    TPDFSyntaxParser parser(text, *this);
    parser.skip();
    TPDFObject* obj = parser.parseObject(0);
    if (obj) {
      consumed = parser.p;
      return obj;
    }
  } catch (const TooDeep&) {
    // Deeper nesting than any real file has: unreadable.
  } catch (const std::exception&) {
    // Anything unreadable is a null object with nothing consumed.
  }
  return NewNull();
}

TPDFObject* TPDFStructure::ParseObject(std::string_view text) {
  size_t consumed = 0;
  return ParseObjectEx(text, consumed);
}

std::string TPDFStructure::UnescapeLiteral(std::string_view text) const {
  if (text.size() < 2) return {};
  std::string_view s = text.substr(1, text.size() - 2);
  std::string out;
  out.reserve(s.size());
  const size_t m = s.size();
  for (size_t k = 0; k < m;) {
    char c = s[k];
    if (c != '\\' || k + 1 >= m) {
      // Unescaped CR stays: content-stream strings are often binary codes.
      out += c;
      ++k;
      continue;
    }
    char e = s[k + 1];
    k += 2;
    switch (e) {
      case 'b':
        out += '\b';
        break;
      case 't':
        out += '\t';
        break;
      case 'n':
        out += '\n';
        break;
      case 'f':
        out += '\f';
        break;
      case 'r':
        out += '\r';
        break;
      case '\n':
        break;
      case '\r':
        if (k < m && s[k] == '\n') ++k;
        break;
      default:
        if (isOctal(static_cast<unsigned char>(e))) {
          int v = e - '0';
          for (int d = 1; d < 3 && k < m && isOctal(static_cast<unsigned char>(s[k])); ++d, ++k)
            v = v * 8 + (s[k] - '0');
          out += static_cast<char>(v & 0xFF);
        } else {
          out += e;
        }
    }
  }
  return out;
}

std::string TPDFStructure::HexToBytes(std::string_view text) const {
  return HexStringToBytes(text);
}

std::string HexStringToBytes(std::string_view text) {
  if (text.size() < 2 || text.front() != '<' || text.back() != '>') return {};
  std::string_view s = text.substr(1, text.size() - 2);
  std::string out;
  out.reserve(s.size() / 2 + 1);
  // Letters and digits count (upper-cased); a pair holding a letter beyond
  // "F" gives byte 0.
  int high = -2;  // -2: no pending digit; -1: pending digit that is not hex
  for (unsigned char c : s) {
    bool alnum = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
    if (!alnum) continue;
    int v = PDFHexValue(c);
    if (high == -2) {
      high = v;  // -1 when not a hex digit
    } else {
      out += static_cast<char>(high >= 0 && v >= 0 ? high * 16 + v : 0);
      high = -2;
    }
  }
  if (high != -2) out += static_cast<char>(high >= 0 ? high * 16 : 0);
  return out;
}
