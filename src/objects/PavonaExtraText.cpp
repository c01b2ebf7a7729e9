// Unicode converters, PDF text strings and the 8-bit encodings.
//
// Converter parameters:
//   input form (UTF-16):  1 native order with surrogate pairs, 2 byte-swapped
//                         with pairs, 3 native UCS-2, 4 byte-swapped UCS-2
//                         (in the UCS-2 forms a surrogate unit is an error).
//   output form (UTF-16): 0 nothing (the call fails), 1 native up to U+10FFFF,
//                         2 byte-swapped up to U+10FFFF, 3 native up to
//                         U+FFFF, 4 byte-swapped up to U+FFFF.
//   error policy:         0 stop and fail, discarding the output (a written
//                         byte-order mark stays); 1 stop and fail, keeping
//                         the output so far; 2 skip; 3 write U+FFFD; any
//                         other value writes the character as decoded.
//   byte-order-mark mode: 2 writes a mark first; 1 and 2 drop a U+FEFF that
//                         would be the first character written; 0 keeps it.
// U+FFFD itself, surrogate code points, code points above the output limit,
// U+FDD0..U+FDEF and every code point ending in FFFE or FFFF count as errors:
// U+FFFD is the converters' own error marker.
#include <array>
#include <cstring>

#include "objects/PavonaExtra.h"

const char16_t kReplacementChar = 0xFFFD;
const char16_t kByteOrderMark = 0xFEFF;

namespace {

constexpr char32_t kBadSequence = 0xFFFFFFFF;

inline char16_t swapUnit(char16_t u) { return static_cast<char16_t>((u >> 8) | (u << 8)); }

bool isNotAllowed(char32_t cp, char32_t limit) {
  return cp == 0xFFFD || (cp >= 0xD800 && cp <= 0xDFFF) || cp > limit || (cp >= 0xFDD0 && cp <= 0xFDEF) ||
         (cp & 0xFFFE) == 0xFFFE;
}

struct Utf16Sink {
  std::u16string& out;
  bool swap;
  char32_t limit;
  void put(char32_t cp) {
    if (cp > 0xFFFF && cp <= 0x10FFFF) {
      cp -= 0x10000;
      unit(static_cast<char16_t>(0xD800 + (cp >> 10)));
      unit(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      unit(static_cast<char16_t>(cp > 0x10FFFF ? 0xFFFD : cp));
    }
  }
  void unit(char16_t u) { out.push_back(swap ? swapUnit(u) : u); }
  size_t size() const { return out.size(); }
  void truncate(size_t n) { out.resize(n); }
  void mark() { unit(kByteOrderMark); }
};

struct Utf8Sink {
  std::string& out;
  char32_t limit = 0x10FFFF;
  void put(char32_t cp) {
    if (cp > 0x10FFFF) cp = 0xFFFD;
    if (cp < 0x80) {
      out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }
  size_t size() const { return out.size(); }
  void truncate(size_t n) { out.resize(n); }
  void mark() { out.append("\xEF\xBB\xBF"); }
};

// Applies the error policy and the byte-order-mark rule to each decoded
// character and hands the result to the sink.
template <class Sink>
class Emitter {
public:
  Emitter(Sink& sink, int errorPolicy, int bomMode) : sink_(sink), policy_(errorPolicy), bomMode_(bomMode) {
    if (bomMode_ == 2) sink_.mark();
    keep_ = sink_.size();
  }
  // False when the conversion must stop. An ill-formed sequence comes as
  // kBadSequence, or (a lone UTF-16 surrogate) as its unit with wellFormed false.
  bool emit(char32_t cp, bool wellFormed = true) {
    if (cp == kBadSequence) wellFormed = false;
    if (wellFormed && !isNotAllowed(cp, sink_.limit)) {
      bool dropMark = first_ && cp == kByteOrderMark && (bomMode_ == 1 || bomMode_ == 2);
      first_ = false;
      if (!dropMark) sink_.put(cp);
      return true;
    }
    switch (policy_) {
      case 0:
        sink_.truncate(keep_);
        failed_ = true;
        return false;
      case 1:
        failed_ = true;
        return false;
      case 2:
        return true;
      case 3:
        first_ = false;
        sink_.put(0xFFFD);
        return true;
      default:
        first_ = false;
        sink_.put(cp == kBadSequence ? 0xFFFD : cp);
        return true;
    }
  }
  bool ok() const { return !failed_; }

private:
  Sink& sink_;
  int policy_;
  int bomMode_;
  size_t keep_ = 0;
  bool first_ = true;
  bool failed_ = false;
};

// Decodes UTF-8 by the well-formed sequences of the Unicode standard. An
// ill-formed sequence is reported once for its maximal valid prefix; the
// offending byte is examined again as the start of the next sequence.
template <class E>
void decodeUTF8(std::string_view s, E& emitter) {
  const auto* p = reinterpret_cast<const uint8_t*>(s.data());
  size_t n = s.size(), i = 0;
  while (i < n) {
    uint8_t b = p[i];
    if (b < 0x80) {
      if (!emitter.emit(b)) return;
      ++i;
      continue;
    }
    int need;
    char32_t cp;
    uint8_t lo = 0x80, hi = 0xBF;
    if (b >= 0xC2 && b <= 0xDF) {
      need = 1;
      cp = b & 0x1F;
    } else if (b >= 0xE0 && b <= 0xEF) {
      need = 2;
      cp = b & 0x0F;
      if (b == 0xE0) lo = 0xA0;
      if (b == 0xED) hi = 0x9F;
    } else if (b >= 0xF0 && b <= 0xF4) {
      need = 3;
      cp = b & 0x07;
      if (b == 0xF0) lo = 0x90;
      if (b == 0xF4) hi = 0x8F;
    } else {
      if (!emitter.emit(kBadSequence)) return;
      ++i;
      continue;
    }
    size_t j = i + 1;
    bool good = true;
    for (int k = 0; k < need; ++k, ++j) {
      if (j >= n || p[j] < lo || p[j] > hi) {
        good = false;
        break;
      }
      cp = (cp << 6) | (p[j] & 0x3F);
      lo = 0x80;
      hi = 0xBF;
    }
    if (!emitter.emit(good ? cp : kBadSequence)) return;
    i = j;
  }
}

template <class E>
void decodeUTF16(std::u16string_view t, int inputForm, E& emitter) {
  bool swap = inputForm == 2 || inputForm == 4;
  bool pairs = inputForm == 1 || inputForm == 2;
  size_t n = t.size();
  for (size_t i = 0; i < n; ++i) {
    char16_t u = swap ? swapUnit(t[i]) : t[i];
    char32_t cp = u;
    bool wellFormed = true;
    if (u >= 0xD800 && u <= 0xDFFF) {
      wellFormed = false;
      if (pairs && u <= 0xDBFF && i + 1 < n) {
        char16_t l = swap ? swapUnit(t[i + 1]) : t[i + 1];
        if (l >= 0xDC00 && l <= 0xDFFF) {
          cp = 0x10000 + ((static_cast<char32_t>(u) - 0xD800) << 10) + (l - 0xDC00);
          wellFormed = true;
          ++i;
        }
      }
    }
    if (!emitter.emit(cp, wellFormed)) return;
  }
}

bool validOutputForm(int f) { return f >= 1 && f <= 4; }
bool validInputForm(int f) { return f >= 1 && f <= 4; }

}  // namespace

bool UTF8ToUTF16(std::string_view bytes, std::u16string& out, int errorPolicy, int bomMode, int outputForm) {
  out.clear();
  if (!validOutputForm(outputForm)) return false;
  out.reserve(bytes.size() + bytes.size() / 10 + 40);
  Utf16Sink sink{out, outputForm == 2 || outputForm == 4, outputForm <= 2 ? char32_t{0x10FFFF} : char32_t{0xFFFF}};
  Emitter<Utf16Sink> emitter(sink, errorPolicy, bomMode);
  decodeUTF8(bytes, emitter);
  return emitter.ok();
}

bool UTF16Recode(std::u16string_view text, std::u16string& out, int inputForm, int errorPolicy, int bomMode,
                 int outputForm) {
  out.clear();
  if (!validOutputForm(outputForm) || !validInputForm(inputForm)) return false;
  out.reserve(text.size() + text.size() / 10 + 40);
  Utf16Sink sink{out, outputForm == 2 || outputForm == 4, outputForm <= 2 ? char32_t{0x10FFFF} : char32_t{0xFFFF}};
  Emitter<Utf16Sink> emitter(sink, errorPolicy, bomMode);
  decodeUTF16(text, inputForm, emitter);
  return emitter.ok();
}

bool UTF16ToUTF8(std::u16string_view text, std::string& out, int inputForm, int errorPolicy, int bomMode) {
  out.clear();
  if (!validInputForm(inputForm)) return false;
  out.reserve(text.size() + text.size() / 10 + 40);
  Utf8Sink sink{out};
  Emitter<Utf8Sink> emitter(sink, errorPolicy, bomMode);
  decodeUTF16(text, inputForm, emitter);
  return emitter.ok();
}

std::u16string UTF8ToWide(std::string_view bytes) {
  std::u16string out;
  UTF8ToUTF16(bytes, out, 3, 1, 1);
  return out;
}

bool IsValidUTF8(std::string_view bytes) {
  std::u16string out;
  return UTF8ToUTF16(bytes, out, 0, 1, 1);
}

std::string WideToUTF8(std::u16string_view text) {
  std::string out;
  UTF16ToUTF8(UnpackWideText(text), out, 1, 3, 1);
  return out;
}

std::u16string PDFTextOrUTF8ToWide(std::string_view bytes) {
  if (bytes.size() >= 2 && static_cast<uint8_t>(bytes[0]) == 0xFE && static_cast<uint8_t>(bytes[1]) == 0xFF)
    return PDFTextToWide(bytes);
  return UTF8ToWide(bytes);
}

std::u16string UnpackWideText(std::u16string_view text) {
  if (text.size() >= 2 && (text[0] & 0xFF00) == 0xE700 && (text[1] & 0xFF00) == 0xF800) {
    size_t n = static_cast<size_t>((text[1] & 0xFF) * 256 + (text[0] & 0xFF));
    return std::u16string(text.substr(2, n));
  }
  return std::u16string(text);
}

// ---------------------------------------------------------------------------
// PDFDocEncoding

namespace {

std::array<char16_t, 256> buildPDFDocTable() {
  std::array<char16_t, 256> t{};
  for (int i = 0; i < 256; ++i) t[static_cast<size_t>(i)] = static_cast<char16_t>(i);
  t[22] = 0x0017;
  static const char16_t accents[8] = {0x02D8, 0x02C7, 0x02C6, 0x02D9, 0x02DD, 0x02DB, 0x02DA, 0x02DC};
  for (int i = 0; i < 8; ++i) t[static_cast<size_t>(24 + i)] = accents[i];
  t[127] = 0xFFFD;
  static const char16_t typographic[31] = {
      0x2022, 0x2020, 0x2021, 0x2026, 0x2014, 0x2013, 0x0192, 0x2044, 0x2039, 0x203A, 0x2212,
      0x2030, 0x201E, 0x201C, 0x201D, 0x2018, 0x2019, 0x201A, 0x2122, 0xFB01, 0xFB02, 0x0141,
      0x0152, 0x0160, 0x0178, 0x017D, 0x0131, 0x0142, 0x0153, 0x0161, 0x017E};
  for (int i = 0; i < 31; ++i) t[static_cast<size_t>(128 + i)] = typographic[i];
  t[159] = 0xFFFD;
  t[160] = 0x20AC;
  t[173] = 0xFFFD;
  return t;
}

const std::array<char16_t, 256> kPDFDocTable = buildPDFDocTable();

bool startsWithBytes(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && s.compare(0, prefix.size(), prefix) == 0;
}

// Appends UTF-16 read from bytes in the given order; an odd last byte counts
// as an ill-formed unit.
std::u16string decodeUTF16Bytes(std::string_view bytes, bool bigEndian) {
  std::u16string units;
  units.reserve(bytes.size() / 2 + 1);
  const auto* p = reinterpret_cast<const uint8_t*>(bytes.data());
  size_t pairs = bytes.size() / 2;
  for (size_t i = 0; i < pairs; ++i) {
    uint8_t a = p[2 * i], b = p[2 * i + 1];
    units.push_back(static_cast<char16_t>(bigEndian ? (a << 8) | b : (b << 8) | a));
  }
  std::u16string out;
  UTF16Recode(units, out, 1, 3, 1, 1);
  if (bytes.size() % 2 != 0) out.push_back(kReplacementChar);
  return out;
}

}  // namespace

const char16_t* PDFDocEncodingTable() { return kPDFDocTable.data(); }

int32_t UnicodeToPDFDoc(char16_t unit) {
  // U+FFFD marks the undefined codes; it has no code of its own.
  if (unit == kReplacementChar) return -1;
  if (kPDFDocTable[unit & 0xFF] == unit) return unit & 0xFF;
  for (int32_t c = 0; c < 256; ++c)
    if (kPDFDocTable[static_cast<size_t>(c)] == unit) return c;
  return -1;
}

std::string WideToPDFText(std::u16string_view text, bool forceUnicode) {
  std::u16string plain = UnpackWideText(text);
  if (plain.empty()) return {};
  if (!forceUnicode) {
    std::string bytes;
    bytes.reserve(plain.size());
    bool all = true;
    for (char16_t u : plain) {
      int32_t c = UnicodeToPDFDoc(u);
      if (c < 0) {
        all = false;
        break;
      }
      bytes.push_back(static_cast<char>(c));
    }
    // Bytes that begin like a byte-order mark would be read back as Unicode.
    if (all && !startsWithBytes(bytes, "\xFE\xFF") && !startsWithBytes(bytes, "\xFF\xFE") &&
        !startsWithBytes(bytes, "\xEF\xBB\xBF"))
      return bytes;
  }
  std::u16string units;
  UTF16Recode(plain, units, 1, 3, 2, 1);
  std::string out;
  out.reserve(units.size() * 2);
  for (char16_t u : units) {
    out.push_back(static_cast<char>(u >> 8));
    out.push_back(static_cast<char>(u & 0xFF));
  }
  return out;
}

std::u16string PDFTextToWide(std::string_view bytes) {
  if (startsWithBytes(bytes, "\xFE\xFF")) return decodeUTF16Bytes(bytes, true);
  // Also met in real files: UTF-16LE with its mark, and UTF-8 with its mark.
  if (startsWithBytes(bytes, "\xFF\xFE")) return decodeUTF16Bytes(bytes, false);
  if (startsWithBytes(bytes, "\xEF\xBB\xBF")) return UTF8ToWide(bytes);
  std::u16string out(bytes.size(), u'\0');
  for (size_t i = 0; i < bytes.size(); ++i) out[i] = kPDFDocTable[static_cast<uint8_t>(bytes[i])];
  return out;
}

std::string WideToPDFDocBytes(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char16_t u : text) {
    int32_t c = UnicodeToPDFDoc(u);
    out.push_back(c < 0 ? '?' : static_cast<char>(c));
  }
  return out;
}

std::string PDFTextToPlainBytes(std::string_view pdfText) { return WideToPDFDocBytes(PDFTextToWide(pdfText)); }

std::u16string AsciiToWide(std::string_view bytes) {
  std::u16string out(bytes.size(), u'\0');
  for (size_t i = 0; i < bytes.size(); ++i) {
    uint8_t b = static_cast<uint8_t>(bytes[i]);
    out[i] = b < 127 ? b : kReplacementChar;
  }
  return out;
}

std::u16string AnsiToWideBytes(std::string_view bytes) {
  std::u16string out(bytes.size(), u'\0');
  for (size_t i = 0; i < bytes.size(); ++i) out[i] = static_cast<uint8_t>(bytes[i]);
  return out;
}

namespace {
// Windows-1252 codes 0x80..0x9F; the five unassigned codes stand for the C1
// controls of the same value, as the system's conversion does.
constexpr char16_t kCp1252High[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                      0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                      0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                      0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
}  // namespace

// The ANSI code page of this system is Windows-1252 (the code page the
// engine's 8-bit texts were made for); characters without a code become "?".
std::string WideToAnsi(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char16_t u = text[i];
    if (u < 0x80 || (u >= 0xA0 && u <= 0xFF)) {
      out.push_back(static_cast<char>(u));
      continue;
    }
    int code = -1;
    for (int k = 0; k < 32; ++k)
      if (kCp1252High[k] == u) code = 0x80 + k;
    if (code < 0 && u >= 0xD800 && u <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF)
      ++i;  // one "?" for the whole supplementary character
    out.push_back(code < 0 ? '?' : static_cast<char>(code));
  }
  return out;
}
