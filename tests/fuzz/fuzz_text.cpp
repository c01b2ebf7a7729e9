// PDF text strings, UTF-8 and UTF-16 converters, the number reader and
// writer, and page ranges on arbitrary bytes. The first byte chooses the
// check; the rest is its input. Besides crashes, each check asserts a round
// trip or an invariant and aborts when it does not hold.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "objects/PavonaExtra.h"

namespace {

void check(bool ok) {
  if (!ok) std::abort();
}

std::u16string unitsOf(std::string_view bytes) {
  std::u16string w(bytes.size() / 2, u'\0');
  if (!w.empty()) std::memcpy(w.data(), bytes.data(), w.size() * 2);
  return w;
}

// Text that survives every writer unchanged: only allowed characters (or
// U+FFFD), not starting with a byte-order mark or a packed-text header.
bool isPlainText(const std::u16string& w) {
  if (!w.empty() && w[0] == kByteOrderMark) return false;
  if (w.size() >= 2 && (w[0] & 0xFF00) == 0xE700 && (w[1] & 0xFF00) == 0xF800) return false;
  return true;
}

void pdfTextRoundTrip(std::string_view bytes) {
  std::u16string decoded = PDFTextToWide(bytes);
  std::u16string clean;
  UTF16Recode(unitsOf(bytes), clean, 1, 3, 0, 1);
  for (const std::u16string* w : {&decoded, &clean}) {
    std::u16string normal;
    UTF16Recode(*w, normal, 1, 3, 0, 1);
    if (!isPlainText(normal)) continue;
    check(PDFTextToWide(WideToPDFText(normal)) == normal);
    check(PDFTextToWide(WideToPDFText(normal, true)) == normal);
    std::string plain = WideToPDFDocBytes(normal);
    check(plain.size() == normal.size());
  }
  check(PDFTextToPlainBytes(bytes).size() == PDFTextToWide(bytes).size());
}

void utf8RoundTrip(std::string_view bytes) {
  std::u16string w = UTF8ToWide(bytes);
  bool valid = IsValidUTF8(bytes);
  // Every ill-formed sequence becomes at least one U+FFFD.
  if (!valid) check(w.find(kReplacementChar) != std::u16string::npos);
  if (isPlainText(w)) {
    std::string back = WideToUTF8(w);
    check(UTF8ToWide(back) == w);
    if (valid) {
      std::string_view expected = bytes;
      if (expected.substr(0, 3) == "\xEF\xBB\xBF") expected.remove_prefix(3);
      check(back == expected);
    }
  }
  // Policies: stopping keeps a prefix of what skipping writes.
  std::u16string stopped, skipped;
  bool ok = UTF8ToUTF16(bytes, stopped, 1, 1, 1);
  UTF8ToUTF16(bytes, skipped, 2, 1, 1);
  check(skipped.compare(0, stopped.size(), stopped) == 0);
  check(ok == valid);
  check(PDFTextOrUTF8ToWide(bytes).size() <= bytes.size());
}

void utf16Forms(std::string_view bytes) {
  std::u16string w = unitsOf(bytes);
  std::u16string swapped, back, ucs2;
  UTF16Recode(w, swapped, 1, 3, 0, 2);
  UTF16Recode(swapped, back, 2, 3, 0, 1);
  std::u16string normal;
  UTF16Recode(w, normal, 1, 3, 0, 1);
  check(back == normal);
  std::string utf8;
  UTF16ToUTF8(w, utf8, 1, 3, 0);
  std::u16string again;
  UTF8ToUTF16(utf8, again, 3, 0, 1);
  check(again == normal);
  UTF16Recode(w, ucs2, 3, 3, 0, 3);
  for (char16_t u : ucs2) check(u < 0xD800 || u > 0xDFFF);
  check(WideToAnsi(w).size() <= w.size());
}

void numbers(std::string_view bytes) {
  std::string text(bytes);
  double v = PDFTextToFloat(text);
  check(std::isfinite(v));
  if (!IsNumberText(text)) check(v == 0);
  if (bytes.size() >= 9) {
    int digits = static_cast<uint8_t>(bytes[0]) % 10;
    double value;
    std::memcpy(&value, bytes.data() + 1, sizeof value);
    std::string out = FormatPDFNumber(digits, value);
    check(!out.empty() && IsNumberText(out) && out != "-0");
    check(out.find_first_not_of("-.0123456789") == std::string::npos);
    size_t dot = out.find('.');
    if (dot != std::string::npos) check(out.back() != '0' && out.size() - dot - 1 <= static_cast<size_t>(digits));
    if (std::isfinite(value) && std::fabs(value) < 1e15) {
      double read = PDFTextToFloat(out);
      check(std::fabs(read - value) <= 0.5 * std::pow(10.0, -digits) + std::fabs(value) * 1e-12 + 1e-9);
    }
  }
}

void pageRanges(std::string_view bytes) {
  if (bytes.size() < 3) return;
  int32_t lowest = static_cast<uint8_t>(bytes[0]) % 8;
  int32_t highest = lowest + static_cast<uint8_t>(bytes[1]) * 97;
  uint8_t flags = static_cast<uint8_t>(bytes[2]);
  TPageRangeOptions o;
  o.sort = flags & 1;
  o.acceptRepeats = flags & 2;
  o.failOnRepeat = flags & 4;
  o.strict = flags & 8;
  o.failOutOfRange = flags & 16;
  std::vector<int32_t> pages;
  bool ok = ParsePageRanges(bytes.substr(3), lowest, highest, pages, o);
  check(ok == !pages.empty());
  for (size_t i = 0; i < pages.size(); ++i) {
    check(pages[i] >= lowest && pages[i] <= highest);
    if (o.sort && i > 0) check(pages[i - 1] <= pages[i]);
  }
  if (!o.acceptRepeats) {
    std::vector<int32_t> sorted = pages;
    std::sort(sorted.begin(), sorted.end());
    check(std::adjacent_find(sorted.begin(), sorted.end()) == sorted.end());
  }
}

void dates(std::string_view bytes) {
  if (bytes.size() < 8) return;
  double value;
  std::memcpy(&value, bytes.data(), sizeof value);
  std::string d = FormatPDFDate(value, bytes.size() > 8 && (bytes[8] & 1));
  check(d.size() >= 17 && d.compare(0, 2, "D:") == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
  switch (data[0] % 6) {
    case 0: pdfTextRoundTrip(bytes); break;
    case 1: utf8RoundTrip(bytes); break;
    case 2: utf16Forms(bytes); break;
    case 3: numbers(bytes); break;
    case 4: pageRanges(bytes); break;
    default: dates(bytes); break;
  }
  return 0;
}
