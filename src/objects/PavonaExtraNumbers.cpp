// Number and text helpers, PDF dates and page ranges.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <ctime>
#include <cwctype>
#include <limits>
#include <unordered_set>

#include "objects/PavonaExtra.h"

namespace {

bool isBlank(char c) { return static_cast<uint8_t>(c) <= ' '; }

std::string_view trimView(std::string_view s) {
  size_t b = 0, e = s.size();
  while (b < e && isBlank(s[b])) ++b;
  while (e > b && isBlank(s[e - 1])) --e;
  return s.substr(b, e - b);
}

// Digits only, saturating at the 64-bit limit; false when empty or not all digits.
bool readUnsignedSaturated(std::string_view s, int64_t& value) {
  if (s.empty()) return false;
  int64_t v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
    int d = c - '0';
    if (v > (std::numeric_limits<int64_t>::max() - d) / 10)
      v = std::numeric_limits<int64_t>::max();
    else
      v = v * 10 + d;
  }
  value = v;
  return true;
}

// An optional sign, then digits; saturates.
bool readSignedSaturated(std::string_view s, int64_t& value) {
  bool negative = false;
  if (!s.empty() && (s[0] == '-' || s[0] == '+')) {
    negative = s[0] == '-';
    s.remove_prefix(1);
  }
  int64_t v;
  if (!readUnsignedSaturated(s, v)) return false;
  value = negative ? -v : v;
  return true;
}

// Rounds a plain decimal digit string (digits with an optional ".") to at most
// `digits` fraction digits, half away from zero, and drops trailing zeros.
std::string roundDecimal(std::string_view text, int digits) {
  size_t dot = text.find('.');
  std::string intPart(text.substr(0, dot));
  std::string frac = dot == std::string_view::npos ? std::string() : std::string(text.substr(dot + 1));
  if (static_cast<int>(frac.size()) > digits) {
    bool up = frac[static_cast<size_t>(digits)] >= '5';
    frac.resize(static_cast<size_t>(digits));
    if (up) {
      int i = static_cast<int>(frac.size()) - 1;
      for (; i >= 0; --i) {
        if (frac[static_cast<size_t>(i)] == '9') {
          frac[static_cast<size_t>(i)] = '0';
        } else {
          ++frac[static_cast<size_t>(i)];
          break;
        }
      }
      if (i < 0) {
        int j = static_cast<int>(intPart.size()) - 1;
        for (; j >= 0; --j) {
          if (intPart[static_cast<size_t>(j)] == '9') {
            intPart[static_cast<size_t>(j)] = '0';
          } else {
            ++intPart[static_cast<size_t>(j)];
            break;
          }
        }
        if (j < 0) intPart.insert(intPart.begin(), '1');
      }
    }
  }
  while (!frac.empty() && frac.back() == '0') frac.pop_back();
  if (intPart.empty()) intPart = "0";
  return frac.empty() ? intPart : intPart + "." + frac;
}

}  // namespace

// Rounds the shortest decimal form of the value (half away from zero, like
// the class library's float patterns), so 0.125 with 2 digits gives "0.13".
// Never an exponent; non-finite values write "0"; no "-0".
std::string FormatPDFNumber(int32_t digits, double value) {
  if (!std::isfinite(value)) return "0";
  digits = std::clamp(digits, 0, 40);
  char buf[400];
  auto res = std::to_chars(buf, buf + sizeof buf, std::fabs(value), std::chars_format::fixed);
  if (res.ec != std::errc()) return "0";
  std::string s = roundDecimal(std::string_view(buf, static_cast<size_t>(res.ptr - buf)), digits);
  if (value < 0 && s.find_first_not_of("0.") != std::string::npos) s.insert(s.begin(), '-');
  return s;
}

std::string FormatFloatPadded(int32_t width, int32_t digits, double value) {
  width = std::clamp(width, 0, 1024);
  auto pad = [](std::string s, int32_t w) {
    if (static_cast<int32_t>(s.size()) < w) s.insert(0, static_cast<size_t>(w) - s.size(), '0');
    return s;
  };
  std::string text = FormatPDFNumber(digits, value);
  if (text.empty() || text[0] != '-') return pad(text, width);
  return "-" + pad(text.substr(1), width - 1);
}

std::string ZeroPadInt(int64_t n, int32_t width) {
  width = std::clamp(width, 0, 1024);
  if (n < 0) return std::string(static_cast<size_t>(width), '0');
  std::string s = std::to_string(n);
  if (static_cast<int32_t>(s.size()) < width) s.insert(0, static_cast<size_t>(width) - s.size(), '0');
  return s;
}

// A number as the engine writes and reads it: optional sign, digits, at most
// one ".". A leading "+" is valid PDF number syntax and is accepted too. The
// first "-" must be the first character (so "-", "." and "--5" pass, "5-" does not).
bool IsNumberText(std::string_view text) {
  std::string_view t = trimView(text);
  size_t start = !t.empty() && t[0] == '+' ? 1 : 0;
  int dots = 0;
  for (size_t i = start; i < t.size(); ++i) {
    char c = t[i];
    if (c == '.') {
      if (++dots > 1) return false;
    } else if (c == '-') {
      if (t.find('-') != 0) return false;
    } else if (c < '0' || c > '9') {
      return false;
    }
  }
  return true;
}

double PDFTextToFloat(std::string_view text) {
  if (!IsNumberText(text)) return 0;
  std::string_view t = trimView(text);
  size_t dot = t.find('.');
  if (dot == std::string_view::npos) {
    int64_t v;
    return readSignedSaturated(t, v) ? static_cast<double>(v) : 0.0;
  }
  std::string_view intText = t.substr(0, dot);
  int64_t whole = 0;
  if (!intText.empty() && intText != "-" && intText != "+" && !readSignedSaturated(intText, whole)) whole = 0;
  if (whole < 0) whole = -whole;
  std::string_view fracText = t.substr(dot + 1, 9);
  double value = static_cast<double>(whole);
  int64_t f;
  if (readUnsignedSaturated(fracText, f)) value += static_cast<double>(f) / std::pow(10.0, fracText.size());
  if (t.find('-') != std::string_view::npos) value = -value;
  return value == 0 ? 0.0 : value;
}

std::string IntegerToString(int64_t value) { return std::to_string(value); }

std::string IntToHexStr(int64_t value, int32_t digits) {
  char buf[32];
  auto res = std::to_chars(buf, buf + sizeof buf, static_cast<uint64_t>(value), 16);
  std::string s(buf, res.ptr);
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  digits = std::clamp(digits, 0, 64);
  if (static_cast<int32_t>(s.size()) < digits) s.insert(0, static_cast<size_t>(digits) - s.size(), '0');
  return s;
}

namespace {

// Decimal digits and exponent of a value: value = 0.d1d2d3... * 10^exponent,
// rounded to `precision` significant digits, trailing zeros dropped.
void decimalDigits(double value, int precision, std::string& digits, int& exponent) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*e", precision - 1, std::fabs(value));
  // buf: d.ddddde[+-]xx
  digits.clear();
  const char* p = buf;
  for (; *p && *p != 'e'; ++p)
    if (*p != '.') digits.push_back(*p);
  exponent = (*p == 'e') ? std::atoi(p + 1) + 1 : 1;
  while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
  if (digits == "0") exponent = 0;
}

}  // namespace

// General format with 15 significant digits: plain notation unless the
// exponent is beyond the precision or the value is below 0.0001.
std::string FloatToStrA(double value) {
  if (std::isnan(value)) return "NAN";
  if (std::isinf(value)) return value > 0 ? "INF" : "-INF";
  if (value == 0) return "0";
  std::string digits;
  int exponent;
  decimalDigits(value, 15, digits, exponent);
  std::string out = value < 0 ? "-" : "";
  if (exponent > 15 || exponent < -3) {
    out += digits[0];
    if (digits.size() > 1) out += "." + digits.substr(1);
    out += "E" + std::to_string(exponent - 1);
    return out;
  }
  if (exponent <= 0) {
    out += "0." + std::string(static_cast<size_t>(-exponent), '0') + digits;
  } else if (static_cast<int>(digits.size()) <= exponent) {
    out += digits + std::string(static_cast<size_t>(exponent) - digits.size(), '0');
  } else {
    out += digits.substr(0, static_cast<size_t>(exponent)) + "." + digits.substr(static_cast<size_t>(exponent));
  }
  return out;
}

namespace {

struct FloatPattern {
  std::string prefix, suffix;  // literal text before and after the number
  int minInt = 0;              // "0" placeholders before the point
  int minFrac = 0, maxFrac = 0;
  bool thousands = false;
  bool scientific = false;
  char expChar = 'E';
  bool expPlus = false;  // "E+" writes the sign of positive exponents too
  int expDigits = 0;
  bool hasDigits = false;
};

FloatPattern parseFloatPattern(std::string_view section) {
  FloatPattern p;
  bool inNumber = false, afterNumber = false, afterPoint = false;
  for (size_t i = 0; i < section.size(); ++i) {
    char c = section[i];
    std::string& lit = inNumber ? p.suffix : p.prefix;
    if (c == '"' || c == '\'') {
      size_t end = section.find(c, i + 1);
      if (end == std::string_view::npos) end = section.size();
      (p.hasDigits ? p.suffix : p.prefix) += section.substr(i + 1, end - i - 1);
      if (p.hasDigits) afterNumber = true;
      i = end;
      continue;
    }
    if (!afterNumber && (c == '0' || c == '#')) {
      inNumber = true;
      p.hasDigits = true;
      if (afterPoint) {
        ++p.maxFrac;
        if (c == '0') p.minFrac = p.maxFrac;
      } else if (c == '0') {
        ++p.minInt;
      }
      continue;
    }
    if (!afterNumber && c == '.' && !afterPoint) {
      afterPoint = true;
      inNumber = true;
      continue;
    }
    if (!afterNumber && c == ',' && inNumber) {
      p.thousands = true;
      continue;
    }
    if ((c == 'E' || c == 'e') && p.hasDigits && i + 1 < section.size() &&
        (section[i + 1] == '+' || section[i + 1] == '-')) {
      p.scientific = true;
      p.expChar = c;
      p.expPlus = section[i + 1] == '+';
      i += 2;
      while (i < section.size() && section[i] == '0') {
        ++p.expDigits;
        ++i;
      }
      --i;
      afterNumber = true;
      continue;
    }
    if (inNumber) afterNumber = true;
    lit.push_back(c);
  }
  return p;
}

std::string groupThousands(const std::string& intDigits) {
  std::string out;
  int n = static_cast<int>(intDigits.size());
  for (int i = 0; i < n; ++i) {
    out.push_back(intDigits[static_cast<size_t>(i)]);
    int left = n - 1 - i;
    if (left > 0 && left % 3 == 0) out.push_back(',');
  }
  return out;
}

std::string applyFloatPattern(const FloatPattern& p, double value, bool writeSign) {
  std::string body;
  double a = std::fabs(value);
  if (!p.hasDigits) return (writeSign && value < 0 ? "-" : "") + p.prefix + p.suffix;
  if (p.scientific) {
    int exp10 = 0;
    if (a != 0) exp10 = static_cast<int>(std::floor(std::log10(a))) - std::max(p.minInt, 1) + 1;
    double mant = a / std::pow(10.0, exp10);
    std::string m = roundDecimal(FormatPDFNumber(std::max(p.maxFrac, 0), mant), p.maxFrac);
    size_t dot = m.find('.');
    std::string ip = m.substr(0, dot), fp = dot == std::string::npos ? "" : m.substr(dot + 1);
    if (static_cast<int>(ip.size()) > std::max(p.minInt, 1) && a != 0) {
      ++exp10;  // rounding carried into a new digit
      mant = a / std::pow(10.0, exp10);
      m = roundDecimal(FormatPDFNumber(p.maxFrac, mant), p.maxFrac);
      dot = m.find('.');
      ip = m.substr(0, dot);
      fp = dot == std::string::npos ? "" : m.substr(dot + 1);
    }
    while (static_cast<int>(fp.size()) < p.minFrac) fp.push_back('0');
    body = ip + (fp.empty() ? "" : "." + fp);
    std::string e = std::to_string(std::abs(exp10));
    while (static_cast<int>(e.size()) < p.expDigits) e.insert(e.begin(), '0');
    body += p.expChar;
    if (exp10 < 0)
      body += '-';
    else if (p.expPlus)
      body += '+';
    body += e;
  } else {
    std::string m = FormatPDFNumber(p.maxFrac, a);
    size_t dot = m.find('.');
    std::string ip = m.substr(0, dot), fp = dot == std::string::npos ? "" : m.substr(dot + 1);
    if (ip == "0" && p.minInt == 0) ip.clear();
    while (static_cast<int>(ip.size()) < p.minInt) ip.insert(ip.begin(), '0');
    while (static_cast<int>(fp.size()) < p.minFrac) fp.push_back('0');
    if (p.thousands) ip = groupThousands(ip);
    body = ip + (fp.empty() ? "" : "." + fp);
  }
  bool isZero = body.find_first_of("123456789") == std::string::npos;
  std::string sign = writeSign && value < 0 && !isZero ? "-" : "";
  return sign + p.prefix + body + p.suffix;
}

}  // namespace

// The class library's float patterns: "0" and "#" digit placeholders, ".",
// "," (thousands), "E+00"/"E-00" (scientific), quoted literals and up to
// three ";"-separated sections (positive; negative; zero).
std::string FormatFloatA(std::string_view pattern, double value) {
  if (!std::isfinite(value)) return FloatToStrA(value);
  std::vector<std::string_view> sections;
  size_t start = 0;
  char quote = 0;
  for (size_t i = 0; i < pattern.size(); ++i) {
    char c = pattern[i];
    if (quote) {
      if (c == quote) quote = 0;
    } else if (c == '"' || c == '\'') {
      quote = c;
    } else if (c == ';') {
      sections.push_back(pattern.substr(start, i - start));
      start = i + 1;
    }
  }
  sections.push_back(pattern.substr(start));
  if (pattern.empty()) return FloatToStrA(value);
  if (value == 0 && sections.size() >= 3 && !sections[2].empty())
    return applyFloatPattern(parseFloatPattern(sections[2]), value, false);
  if (value < 0 && sections.size() >= 2 && !sections[1].empty())
    return applyFloatPattern(parseFloatPattern(sections[1]), value, false);
  return applyFloatPattern(parseFloatPattern(sections[0]), value, true);
}

namespace {
const char* const kShortMonths[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                      "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
const char* const kLongMonths[12] = {"January", "February", "March",     "April",   "May",      "June",
                                     "July",    "August",   "September", "October", "November", "December"};
const char* const kShortDays[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
const char* const kLongDays[7] = {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};

std::string pad2(int v) { return ZeroPadInt(v, 2); }

bool startsWithNoCase(std::string_view s, size_t i, std::string_view word) {
  if (s.size() - i < word.size()) return false;
  for (size_t k = 0; k < word.size(); ++k)
    if (std::tolower(static_cast<unsigned char>(s[i + k])) != std::tolower(static_cast<unsigned char>(word[k])))
      return false;
  return true;
}

void formatDateTimeInto(std::string& out, std::string_view pat, TDateTime value, int depth);

}  // namespace

// The class library's date-time patterns with English names, "/" and ":" as
// separators: d dd ddd dddd ddddd (m/d/yyyy) dddddd, m mm mmm mmmm (minutes
// after h), yy yyyy, h hh, n nn, s ss, z zzz, t tt, c, am/pm, a/p, ampm,
// quoted literals.
std::string FormatDateTimeA(std::string_view pattern, TDateTime value) {
  std::string out;
  formatDateTimeInto(out, pattern.empty() ? std::string_view("c") : pattern, value, 0);
  return out;
}

namespace {

void formatDateTimeInto(std::string& out, std::string_view pat, TDateTime value, int depth) {
  if (depth > 2) return;
  TDateTimeParts p = DecodeDateTime(value);
  // Day 1 (1899-12-31) was a Sunday.
  int64_t dayNumber = static_cast<int64_t>(std::floor(value));
  int weekday = static_cast<int>((((dayNumber - 1) % 7) + 7) % 7);
  bool ampm = false;
  for (size_t i = 0; i < pat.size(); ++i)
    if (startsWithNoCase(pat, i, "am/pm") || startsWithNoCase(pat, i, "a/p") || startsWithNoCase(pat, i, "ampm"))
      ampm = true;
  auto hour12 = [&]() { return p.hour % 12 == 0 ? 12 : p.hour % 12; };
  bool lastWasHour = false;
  size_t i = 0;
  while (i < pat.size()) {
    char c = pat[i];
    char lc = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    size_t run = 1;
    while (i + run < pat.size() && std::tolower(static_cast<unsigned char>(pat[i + run])) == lc) ++run;
    if (c == '"' || c == '\'') {
      size_t end = pat.find(c, i + 1);
      if (end == std::string_view::npos) end = pat.size();
      out += pat.substr(i + 1, end - i - 1);
      i = end + 1;
      continue;
    }
    if (startsWithNoCase(pat, i, "am/pm")) {
      out += p.hour < 12 ? "am" : "pm";
      if (std::isupper(static_cast<unsigned char>(c))) out = out.substr(0, out.size() - 2) + (p.hour < 12 ? "AM" : "PM");
      i += 5;
      continue;
    }
    if (startsWithNoCase(pat, i, "a/p")) {
      char ch = p.hour < 12 ? 'a' : 'p';
      out += std::isupper(static_cast<unsigned char>(c)) ? static_cast<char>(std::toupper(ch)) : ch;
      i += 3;
      continue;
    }
    if (startsWithNoCase(pat, i, "ampm")) {
      out += p.hour < 12 ? "AM" : "PM";
      i += 4;
      continue;
    }
    switch (lc) {
      case 'y':
        out += run <= 2 ? pad2(p.year % 100) : ZeroPadInt(p.year, 4);
        break;
      case 'm':
        if (lastWasHour && run <= 2) {
          out += run == 1 ? std::to_string(p.minute) : pad2(p.minute);
        } else if (run == 1) {
          out += std::to_string(p.month);
        } else if (run == 2) {
          out += pad2(p.month);
        } else if (run == 3) {
          out += kShortMonths[p.month - 1];
        } else {
          out += kLongMonths[p.month - 1];
        }
        break;
      case 'd':
        if (run == 1)
          out += std::to_string(p.day);
        else if (run == 2)
          out += pad2(p.day);
        else if (run == 3)
          out += kShortDays[weekday];
        else if (run == 4)
          out += kLongDays[weekday];
        else if (run == 5)
          formatDateTimeInto(out, "m/d/yyyy", value, depth + 1);
        else
          formatDateTimeInto(out, "dddd, mmmm d, yyyy", value, depth + 1);
        break;
      case 'h': {
        int h = ampm ? hour12() : p.hour;
        out += run == 1 ? std::to_string(h) : pad2(h);
        break;
      }
      case 'n':
        out += run == 1 ? std::to_string(p.minute) : pad2(p.minute);
        break;
      case 's':
        out += run == 1 ? std::to_string(p.second) : pad2(p.second);
        break;
      case 'z':
        out += run >= 3 ? ZeroPadInt(p.millisecond, 3) : std::to_string(p.millisecond);
        break;
      case 't':
        formatDateTimeInto(out, run == 1 ? "h:nn" : "h:nn:ss", value, depth + 1);
        break;
      case 'c':
        formatDateTimeInto(out, "m/d/yyyy", value, depth + 1);
        if (p.hour || p.minute || p.second) {
          out += ' ';
          formatDateTimeInto(out, "h:nn:ss", value, depth + 1);
        }
        break;
      default:
        out.append(pat.substr(i, run));
        break;
    }
    if (lc == 'h')
      lastWasHour = true;
    else if (lc != ' ' && lc != ':' && lc != '/' && lc != '.' && lc != '-')
      lastWasHour = false;
    i += run;
  }
}

// Integer text as the class library reads it: blanks before, an optional
// sign, then decimal digits, or "$" / "0x" and hexadecimal digits.
bool parseInt64(std::string_view text, int64_t minValue, int64_t maxValue, int64_t& result) {
  size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  int base = 10;
  if (i < text.size() && text[i] == '$') {
    base = 16;
    ++i;
  } else if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  if (i >= text.size()) return false;
  uint64_t v = 0;
  const uint64_t limit = base == 16 ? std::numeric_limits<uint64_t>::max() : static_cast<uint64_t>(maxValue) + 1;
  for (; i < text.size(); ++i) {
    char c = text[i];
    int d;
    if (c >= '0' && c <= '9')
      d = c - '0';
    else if (base == 16 && c >= 'a' && c <= 'f')
      d = c - 'a' + 10;
    else if (base == 16 && c >= 'A' && c <= 'F')
      d = c - 'A' + 10;
    else
      return false;
    if (v > (limit - static_cast<uint64_t>(d)) / static_cast<uint64_t>(base)) return false;
    v = v * static_cast<uint64_t>(base) + static_cast<uint64_t>(d);
  }
  if (base == 16) {
    // Hexadecimal text gives the bit pattern of the target size.
    if (maxValue == std::numeric_limits<int32_t>::max()) {
      if (v > 0xFFFFFFFFull) return false;
      int64_t s = static_cast<int32_t>(static_cast<uint32_t>(v));
      result = negative ? -s : s;
      return true;
    }
    int64_t s = static_cast<int64_t>(v);
    result = negative ? static_cast<int64_t>(0 - static_cast<uint64_t>(s)) : s;
    return true;
  }
  if (!negative && v > static_cast<uint64_t>(maxValue)) return false;
  if (negative && v > static_cast<uint64_t>(maxValue) + 1) return false;
  (void)minValue;
  result = negative ? static_cast<int64_t>(0 - v) : static_cast<int64_t>(v);
  return true;
}

}  // namespace

int32_t StringToInt(std::string_view text) {
  int64_t v;
  if (!parseInt64(text, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max(), v))
    throw EConvertError("'" + std::string(text) + "' is not a valid integer value");
  return static_cast<int32_t>(v);
}

int32_t StringToIntDef(std::string_view text, int32_t def) {
  int64_t v;
  if (!parseInt64(text, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max(), v)) return def;
  return static_cast<int32_t>(v);
}

int64_t StringToInt64Def(std::string_view text, int64_t def) {
  int64_t v;
  if (!parseInt64(text, std::numeric_limits<int64_t>::min(), std::numeric_limits<int64_t>::max(), v)) return def;
  return v;
}

// Decimal text with "." as the separator and an optional exponent, blanks
// around it allowed.
double StringToFloat(std::string_view text) {
  std::string_view t = trimView(text);
  size_t i = 0;
  if (i < t.size() && (t[i] == '+' || t[i] == '-')) ++i;
  size_t digits = 0;
  while (i < t.size() && t[i] >= '0' && t[i] <= '9') ++i, ++digits;
  if (i < t.size() && t[i] == '.') {
    ++i;
    while (i < t.size() && t[i] >= '0' && t[i] <= '9') ++i, ++digits;
  }
  bool ok = digits > 0;
  if (ok && i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
    ++i;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) ++i;
    size_t expDigits = 0;
    while (i < t.size() && t[i] >= '0' && t[i] <= '9') ++i, ++expDigits;
    ok = expDigits > 0;
  }
  if (!ok || i != t.size()) throw EConvertError("'" + std::string(text) + "' is not a valid floating point value");
  std::string_view num = t;
  if (!num.empty() && num[0] == '+') num.remove_prefix(1);
  double v = 0;
  auto res = std::from_chars(num.data(), num.data() + num.size(), v);
  if (res.ec == std::errc::result_out_of_range) {
    // Magnitude beyond the double range: the class library reports this as bad text too.
    bool tiny = num.find_first_of("eE") != std::string_view::npos && num.find("e-") != std::string_view::npos;
    if (!tiny && num.find("E-") == std::string_view::npos)
      throw EConvertError("'" + std::string(text) + "' is not a valid floating point value");
    return 0.0;
  }
  if (res.ec != std::errc() || res.ptr != num.data() + num.size())
    throw EConvertError("'" + std::string(text) + "' is not a valid floating point value");
  return v;
}

// ASCII case mapping: the engine's byte strings may hold UTF-8 or binary data.
std::string UpperCaseA(std::string_view text) {
  std::string s(text);
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  return s;
}

std::string LowerCaseA(std::string_view text) {
  std::string s(text);
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  return s;
}

std::string TrimStr(std::string_view text) { return std::string(trimView(text)); }

std::string MidStr(std::string_view text, int32_t start, int32_t count) {
  if (start < 1) start = 1;
  if (count <= 0 || static_cast<size_t>(start) > text.size()) return {};
  return std::string(text.substr(static_cast<size_t>(start - 1), static_cast<size_t>(count)));
}

int32_t PosStr(std::string_view part, std::string_view text) {
  if (part.empty()) return 0;
  size_t p = text.find(part);
  return p == std::string_view::npos ? 0 : static_cast<int32_t>(p + 1);
}

namespace {

// Windows-1252 case folding to upper case, for the case-insensitive compare.
uint8_t foldUpper1252(uint8_t c) {
  if (c >= 'a' && c <= 'z') return static_cast<uint8_t>(c - 32);
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<uint8_t>(c - 32);
  switch (c) {
    case 0x9A: return 0x8A;  // š
    case 0x9C: return 0x8C;  // œ
    case 0x9E: return 0x8E;  // ž
    case 0xFF: return 0x9F;  // ÿ
    default: return c;
  }
}

}  // namespace

std::string StringReplaceA(std::string_view text, std::string_view oldPart, std::string_view newPart, bool all,
                           bool ignoreCase) {
  if (oldPart.empty()) return std::string(text);
  std::string hay = ignoreCase ? UpperCaseA(text) : std::string(text);
  std::string needle = ignoreCase ? UpperCaseA(oldPart) : std::string(oldPart);
  std::string out;
  size_t from = 0;
  for (;;) {
    size_t p = hay.find(needle, from);
    if (p == std::string::npos) break;
    out.append(text.substr(from, p - from));
    out.append(newPart);
    from = p + oldPart.size();
    if (!all) break;
  }
  out.append(text.substr(from));
  return out;
}

std::string CopyString(std::string_view text) { return std::string(text); }
std::string UniqueCopyString(std::string_view text) { return std::string(text); }

// Case-insensitive compare in the ANSI code page (Windows-1252 letters folded).
int CompareTextA(std::string_view a, std::string_view b) {
  size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    uint8_t x = foldUpper1252(static_cast<uint8_t>(a[i])), y = foldUpper1252(static_cast<uint8_t>(b[i]));
    if (x != y) return x < y ? -1 : 1;
  }
  return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

int CompareStrA(std::string_view a, std::string_view b) {
  int c = a.compare(b);
  return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

std::u16string WideTrimSpaces(std::u16string_view text) {
  size_t b = 0, e = text.size();
  while (b < e && text[b] == u' ') ++b;
  while (e > b && text[e - 1] == u' ') --e;
  return std::u16string(text.substr(b, e - b));
}

namespace {

// Upper case of one UTF-16 unit (simple case mapping, unit for unit so that
// positions stay the same).
char16_t wideUpper(char16_t u) {
  if (u < 0x80) return (u >= u'a' && u <= u'z') ? static_cast<char16_t>(u - 32) : u;
  if (u >= 0xD800 && u <= 0xDFFF) return u;
  static locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
  if (utf8 == static_cast<locale_t>(0)) {
    if (u >= 0xE0 && u <= 0xFE && u != 0xF7) return static_cast<char16_t>(u - 32);
    return u;
  }
  wint_t r = towupper_l(static_cast<wint_t>(u), utf8);
  return (r > 0xFFFF || (r >= 0xD800 && r <= 0xDFFF)) ? u : static_cast<char16_t>(r);
}

std::u16string wideUpperText(std::u16string_view s) {
  std::u16string out(s);
  for (char16_t& u : out) u = wideUpper(u);
  return out;
}

}  // namespace

std::u16string WideStringReplace(std::u16string_view text, std::u16string_view oldPart, std::u16string_view newPart,
                                 int32_t flags) {
  if (oldPart.empty()) return std::u16string(text);
  bool ignoreCase = (flags & wsrIgnoreCase) != 0;
  std::u16string hay = ignoreCase ? wideUpperText(text) : std::u16string(text);
  std::u16string needle = ignoreCase ? wideUpperText(oldPart) : std::u16string(oldPart);
  std::u16string out;
  size_t from = 0;
  for (;;) {
    size_t p = hay.find(needle, from);
    if (p == std::u16string::npos) break;
    out.append(text.substr(from, p - from));
    out.append(newPart);
    from = p + oldPart.size();
    if ((flags & wsrReplaceAll) == 0) break;
  }
  out.append(text.substr(from));
  return out;
}

std::u16string WideInsert(std::u16string_view part, std::u16string_view text, int32_t position) {
  std::u16string out(text);
  size_t at = position < 1 ? 0 : std::min(static_cast<size_t>(position - 1), out.size());
  out.insert(at, part);
  return out;
}

int32_t WidePos(std::u16string_view part, std::u16string_view text) {
  if (part.empty()) return 0;
  size_t p = text.find(part);
  return p == std::u16string_view::npos ? 0 : static_cast<int32_t>(p + 1);
}

std::string BoolToTF(bool value) { return value ? "T" : "F"; }
bool IsTrueText(std::string_view text) { return text == "T"; }

bool IsNaNSingle(uint32_t bits) { return (bits & 0x7F800000u) == 0x7F800000u && (bits & 0x007FFFFFu) != 0; }

namespace {

// Days from 1899-12-30 to 1970-01-01.
constexpr double kUnixEpochDays = 25569.0;

TDateTime utcNow() {
  struct timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  return kUnixEpochDays + (static_cast<double>(ts.tv_sec) + ts.tv_nsec / 1e9) / 86400.0;
}

}  // namespace

int64_t MillisecondsSince(TDateTime time, bool isUTC) {
  TDateTime utc = isUTC ? time : time - LocalUtcOffsetMinutes(time) / 1440.0;
  return static_cast<int64_t>(std::floor((utcNow() - utc) * 86400000.0 + 1e-6));
}

// ---------------------------------------------------------------------------
// PDF dates

std::string FormatPDFZone(int offsetMinutes) {
  if (offsetMinutes == 0) return "Z";
  int a = std::abs(offsetMinutes);
  return std::string(offsetMinutes > 0 ? "+" : "-") + pad2(a / 60) + "'" + pad2(a % 60) + "'";
}

// The zone written is the local offset in force on the date being written
// (summer time included), the same for every caller.
std::string FormatPDFDate(TDateTime value, bool shift) {
  if (!std::isfinite(value)) value = 0;
  if (shift) {
    // The value is UTC: find the local offset in force at that instant.
    int offset = LocalUtcOffsetMinutes(value);
    offset = LocalUtcOffsetMinutes(value + offset / 1440.0);
    value += offset / 1440.0;
  }
  TDateTimeParts p = DecodeDateTime(value);
  std::string out = "D:";
  out += ZeroPadInt(p.year, 4) + pad2(p.month) + pad2(p.day) + pad2(p.hour) + pad2(p.minute) + pad2(p.second);
  out += FormatPDFZone(LocalUtcOffsetMinutes(value));
  return out;
}

std::string PDFDateNow() { return FormatPDFDate(Now(), false); }

// ---------------------------------------------------------------------------
// Page ranges

namespace {

// A side of a range: its digits as a number, -1 when it is not one (empty or
// beyond the 32-bit range).
int64_t rangeSide(std::string_view s) {
  int64_t v;
  if (!readUnsignedSaturated(s, v) || v > std::numeric_limits<int32_t>::max()) return -1;
  return v;
}

// A list longer than this is refused: repeated wide ranges could otherwise
// exhaust memory.
constexpr size_t kMaxPageListLength = size_t{1} << 24;

}  // namespace

bool ParsePageRanges(std::string_view text, int32_t lowest, int32_t highest, std::vector<int32_t>& pages,
                     const TPageRangeOptions& options) {
  pages.clear();
  std::string kept;
  kept.reserve(text.size());
  for (char c : text) {
    if ((c >= '0' && c <= '9') || c == ',' || c == '-')
      kept.push_back(c);
    else if (options.strict)
      return false;
  }
  if (kept.empty()) return false;
  // Pages already listed: a bitmap over lowest..highest when that is small, else a hash set.
  int64_t span = static_cast<int64_t>(highest) - lowest + 1;
  bool useBitmap = span > 0 && span <= (int64_t{1} << 24);
  std::vector<bool> seenBits(useBitmap ? static_cast<size_t>(span) : 0);
  std::unordered_set<int32_t> seenSet;
  auto markSeen = [&](int32_t page) {
    if (!useBitmap) return seenSet.insert(page).second;
    auto bit = seenBits[static_cast<size_t>(static_cast<int64_t>(page) - lowest)];
    if (bit) return false;
    bit = true;
    return true;
  };
  auto fail = [&]() {
    pages.clear();
    return false;
  };
  std::string_view rest(kept);
  while (true) {
    size_t comma = rest.find(',');
    std::string_view part = rest.substr(0, comma);
    size_t dash = part.find('-');
    int64_t a = rangeSide(part.substr(0, dash));
    int64_t b = dash == std::string_view::npos ? a : rangeSide(part.substr(dash + 1));
    if (a >= 0 && b >= 0) {
      int64_t lo = std::min(a, b), hi = std::max(a, b);
      if (options.failOutOfRange && (lo < lowest || hi > highest)) return fail();
      // Walk only the pages of the document: "1-2000000000" costs no more than the document's pages.
      int64_t from = std::max<int64_t>(lo, lowest), to = std::min<int64_t>(hi, highest);
      if (from <= to) {
        int64_t step = a <= b ? 1 : -1;
        int64_t first = step > 0 ? from : to, last = step > 0 ? to : from;
        for (int64_t page = first;; page += step) {
          int32_t pg = static_cast<int32_t>(page);
          bool fresh = markSeen(pg);
          if (!fresh && options.failOnRepeat) return fail();
          if (fresh || options.acceptRepeats) {
            if (pages.size() >= kMaxPageListLength) return fail();
            pages.push_back(pg);
          }
          if (page == last) break;
        }
      }
    }
    if (comma == std::string_view::npos) break;
    rest.remove_prefix(comma + 1);
  }
  if (options.sort) std::sort(pages.begin(), pages.end());
  return !pages.empty();
}
