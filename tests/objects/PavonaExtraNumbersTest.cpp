// Number formatting and reading, text helpers, PDF dates and page ranges.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <ctime>
#include <limits>

#include "objects/PavonaExtra.h"

TEST(FormatPDFNumber, Cases) {
  const double inf = std::numeric_limits<double>::infinity();
  struct {
    int digits;
    double value;
    const char* text;
  } cases[] = {
      {4, 0, "0"},
      {4, 1, "1"},
      {4, -1, "-1"},
      {4, 0.5, "0.5"},
      {4, -0.5, "-0.5"},
      {4, 612, "612"},
      {4, 1.23456, "1.2346"},
      {4, 3.14159265, "3.1416"},
      {2, 0.125, "0.13"},  // half away from zero on the decimal form
      {2, 2.675, "2.68"},
      {2, -2.675, "-2.68"},
      {0, 2.5, "3"},
      {0, 0.4, "0"},
      {4, 0.00001, "0"},
      {4, -0.00001, "0"},  // never "-0"
      {4, -0.0, "0"},
      {4, 9.99996, "10"},
      {4, 1e-7, "0"},
      {4, 1e20, "100000000000000000000"},  // never an exponent
      {4, -1e21, "-1000000000000000000000"},
      {4, 123456789012.5, "123456789012.5"},
      {4, std::nan(""), "0"},
      {4, inf, "0"},
      {4, -inf, "0"},
      {-3, 1.5, "2"},
      {6, 0.1 + 0.2, "0.3"},
  };
  for (auto& c : cases) EXPECT_EQ(FormatPDFNumber(c.digits, c.value), c.text) << c.value << " @" << c.digits;
  std::string big = FormatPDFNumber(4, 1e300);
  EXPECT_EQ(big.size(), 301u);
  EXPECT_EQ(big.substr(0, 2), "10");
}

TEST(FormatPDFNumber, PaddedAndZeroPadded) {
  EXPECT_EQ(FormatFloatPadded(6, 2, 3.14159), "003.14");
  EXPECT_EQ(FormatFloatPadded(6, 2, -3.14159), "-03.14");
  EXPECT_EQ(FormatFloatPadded(2, 2, 123.5), "123.5");
  EXPECT_EQ(FormatFloatPadded(4, 2, -0.001), "0000");
  EXPECT_EQ(ZeroPadInt(42, 5), "00042");
  EXPECT_EQ(ZeroPadInt(123456, 3), "123456");
  EXPECT_EQ(ZeroPadInt(-7, 3), "000");
  EXPECT_EQ(ZeroPadInt(0, 0), "0");
}

TEST(NumberText, IsNumberTextAndPDFTextToFloat) {
  struct {
    const char* text;
    bool isNumber;
    double value;
  } cases[] = {
      {" 12 ", true, 12},
      {"-3.5", true, -3.5},
      {"-.5", true, -0.5},
      {".5", true, 0.5},
      {"5.", true, 5},
      {"+5", true, 5},
      {"+.5", true, 0.5},
      {"+-5", false, 0},
      {"++5", false, 0},
      {"1.1234567891", true, 1.123456789},
      {"0.0000000019", true, 1e-9},  // at most 9 fraction digits count
      {"-", true, 0},
      {".", true, 0},
      {"--5", true, 0},
      {"5-", false, 0},
      {"1.2.3", false, 0},
      {"abc", false, 0},
      {"1e5", false, 0},
      {"12345678901234567890123", true, 9223372036854775807.0},  // saturates
      {"-12345678901234567890123.5", true, -9223372036854775807.0},
      {"00012", true, 12},
      {"-0", true, 0},
      {"3.000000000000000000000001", true, 3},
  };
  for (auto& c : cases) {
    EXPECT_EQ(IsNumberText(c.text), c.isNumber) << c.text;
    EXPECT_DOUBLE_EQ(PDFTextToFloat(c.text), c.value) << c.text;
  }
  EXPECT_FALSE(std::signbit(PDFTextToFloat("-0.0")));
}

TEST(NumberText, IntegerAndFloatConversions) {
  EXPECT_EQ(IntegerToString(-42), "-42");
  EXPECT_EQ(IntToHexStr(255, 4), "00FF");
  EXPECT_EQ(IntToHexStr(0xABCDEF, 2), "ABCDEF");
  EXPECT_EQ(IntToHexStr(-1, 4), "FFFFFFFFFFFFFFFF");
  struct {
    const char* text;
    int32_t def;
    int32_t value;
  } ints[] = {{"12", 0, 12},      {"-12", 0, -12},       {"+7", 0, 7},          {"$FF", 0, 255},
              {"0x1f", 0, 31},    {" 5", 0, 5},          {"5 ", -1, -1},        {"", -1, -1},
              {"x", -1, -1},      {"2147483647", 0, 2147483647}, {"2147483648", -1, -1},
              {"-2147483648", 0, -2147483647 - 1}, {"$FFFFFFFF", 0, -1}, {"$1FFFFFFFF", 3, 3}};
  for (auto& c : ints) EXPECT_EQ(StringToIntDef(c.text, c.def), c.value) << c.text;
  EXPECT_EQ(StringToInt64Def("9223372036854775807", 0), 9223372036854775807LL);
  EXPECT_EQ(StringToInt64Def("9223372036854775808", 5), 5);
  EXPECT_EQ(StringToInt("-17"), -17);
  EXPECT_THROW(StringToInt("1.5"), EConvertError);
  EXPECT_THROW(StringToInt("99999999999"), EConvertError);
  EXPECT_DOUBLE_EQ(StringToFloat(" 1.5e3 "), 1500);
  EXPECT_DOUBLE_EQ(StringToFloat("-.25"), -0.25);
  EXPECT_THROW(StringToFloat("1,5"), EConvertError);
  EXPECT_THROW(StringToFloat("abc"), EConvertError);
  EXPECT_THROW(StringToFloat(""), EConvertError);
  EXPECT_THROW(StringToFloat("1e999"), EConvertError);
  struct {
    double value;
    const char* text;
  } floats[] = {{0, "0"},           {1.5, "1.5"},           {-2, "-2"},       {0.1, "0.1"},
                {1.0 / 3, "0.333333333333333"}, {1e15, "1E15"}, {1e14, "100000000000000"},
                {0.0001, "0.0001"}, {0.00001, "1E-5"},      {1.25e-7, "1.25E-7"}};
  for (auto& c : floats) EXPECT_EQ(FloatToStrA(c.value), c.text) << c.value;
  struct {
    const char* pattern;
    double value;
    const char* text;
  } patterns[] = {{"0.00", 3.14159, "3.14"},  {"#,##0.0", 1234567.89, "1,234,567.9"}, {"0.###", 2.5, "2.5"},
                  {"000", 7, "007"},          {"0.00;(0.00)", -1.5, "(1.50)"},       {"0.0E+00", 12345, "1.2E+04"},
                  {"#.##", 0.5, ".5"},        {"0.0;-0.0;'zero'", 0, "zero"},        {"'x='0", 3, "x=3"}};
  for (auto& c : patterns) EXPECT_EQ(FormatFloatA(c.pattern, c.value), c.text) << c.pattern;
  TDateTime t = EncodeDateTime(2026, 12, 9, 14, 7, 3, 45);
  EXPECT_EQ(FormatDateTimeA("yyyy-mm-dd hh:nn:ss.zzz", t), "2026-12-09 14:07:03.045");
  EXPECT_EQ(FormatDateTimeA("d/m/yy h:mm", t), "9/12/26 14:07");
  EXPECT_EQ(FormatDateTimeA("ddd dddd mmm mmmm", t), "Wed Wednesday Dec December");
  EXPECT_EQ(FormatDateTimeA("hh:nn am/pm", t), "02:07 pm");
  EXPECT_EQ(FormatDateTimeA("'at' hh", t), "at 14");
}

TEST(TextHelpers, ByteStrings) {
  EXPECT_EQ(UpperCaseA("abc\xE9z"), "ABC\xE9Z");
  EXPECT_EQ(LowerCaseA("ABC\xC9Z"), "abc\xC9z");
  EXPECT_EQ(TrimStr(" \t a b \r\n"), "a b");
  EXPECT_EQ(MidStr("abcdef", 2, 3), "bcd");
  EXPECT_EQ(MidStr("abcdef", 0, 2), "ab");
  EXPECT_EQ(MidStr("abcdef", 5, 10), "ef");
  EXPECT_EQ(MidStr("abcdef", 7, 1), "");
  EXPECT_EQ(MidStr("abcdef", 2, -1), "");
  EXPECT_EQ(PosStr("cd", "abcdcd"), 3);
  EXPECT_EQ(PosStr("x", "abc"), 0);
  EXPECT_EQ(PosStr("", "abc"), 0);
  EXPECT_EQ(StringReplaceA("aXbxc", "x", "-", true, true), "a-b-c");
  EXPECT_EQ(StringReplaceA("aXbxc", "x", "-", true, false), "aXb-c");
  EXPECT_EQ(StringReplaceA("axbxc", "x", "", false, false), "abxc");
  EXPECT_EQ(StringReplaceA("abc", "", "z"), "abc");
  EXPECT_EQ(CopyString("a\0b"), "a");
  EXPECT_EQ(UniqueCopyString(std::string_view("a\0b", 3)).size(), 3u);
  EXPECT_EQ(CompareTextA("Font", "FONT"), 0);
  EXPECT_EQ(CompareTextA("\xE9t\xE9", "\xC9T\xC9"), 0);
  EXPECT_LT(CompareTextA("abc", "ABD"), 0);
  EXPECT_GT(CompareTextA("abcd", "ABC"), 0);
  EXPECT_NE(CompareStrA("Font", "FONT"), 0);
  EXPECT_LT(CompareStrA("A", "a"), 0);
  EXPECT_EQ(BoolToTF(true), "T");
  EXPECT_TRUE(IsTrueText("T"));
  EXPECT_FALSE(IsTrueText("t"));
  EXPECT_FALSE(IsTrueText("True"));
  EXPECT_TRUE(IsNaNSingle(0x7FC00000));
  EXPECT_TRUE(IsNaNSingle(0xFF800001));
  EXPECT_FALSE(IsNaNSingle(0x7F800000));  // infinity
  EXPECT_FALSE(IsNaNSingle(0x3F800000));
}

TEST(TextHelpers, WideStrings) {
  EXPECT_EQ(WideTrimSpaces(u"  a\tb \t "), u"a\tb \t");
  EXPECT_EQ(WideStringReplace(u"a.PDF b.pdf", u".pdf", u".txt", wsrReplaceAll | wsrIgnoreCase), u"a.txt b.txt");
  EXPECT_EQ(WideStringReplace(u"a.PDF b.pdf", u".pdf", u".txt", wsrReplaceAll), u"a.PDF b.txt");
  EXPECT_EQ(WideStringReplace(u"xxx", u"x", u"y", 0), u"yxx");
  EXPECT_EQ(WideStringReplace(u"\u00E9t\u00C9", u"\u00C9", u"E", wsrReplaceAll | wsrIgnoreCase), u"EtE");
  EXPECT_EQ(WideInsert(u"XY", u"abcd", 3), u"abXYcd");
  EXPECT_EQ(WideInsert(u"XY", u"abcd", 0), u"XYabcd");
  EXPECT_EQ(WideInsert(u"XY", u"abcd", 99), u"abcdXY");
  EXPECT_EQ(WidePos(u"cd", u"abcd"), 3);
  EXPECT_EQ(WidePos(u"z", u"abcd"), 0);
}

TEST(TextHelpers, MillisecondsSince) {
  TDateTime earlier = Now() - 2.0 / 86400.0;
  int64_t ms = MillisecondsSince(earlier, false);
  EXPECT_GE(ms, 2000);
  EXPECT_LT(ms, 60000);
}

// ---------------------------------------------------------------------------
// PDF dates in several zones

namespace {

class ZoneScope {
public:
  explicit ZoneScope(const char* zone) {
    const char* old = std::getenv("TZ");
    had_ = old != nullptr;
    if (had_) old_ = old;
    setenv("TZ", zone, 1);
    tzset();
  }
  ~ZoneScope() {
    if (had_)
      setenv("TZ", old_.c_str(), 1);
    else
      unsetenv("TZ");
    tzset();
  }

private:
  bool had_ = false;
  std::string old_;
};

}  // namespace

TEST(PDFDates, ZonesIncludingSummerTime) {
  struct {
    const char* zone;
    int month;
    const char* suffix;
  } cases[] = {
      {"Asia/Kolkata", 12, "+05'30'"},   {"America/Sao_Paulo", 12, "-03'00'"}, {"Europe/Berlin", 1, "+01'00'"},
      {"Europe/Berlin", 7, "+02'00'"},   {"America/New_York", 1, "-05'00'"},   {"America/New_York", 7, "-04'00'"},
      {"UTC", 6, "Z"},                    {"Asia/Kathmandu", 3, "+05'45'"},     {"America/St_Johns", 1, "-03'30'"},
  };
  for (auto& c : cases) {
    ZoneScope zone(c.zone);
    TDateTime t = EncodeDateTime(2026, c.month, 9, 11, 7, 53, 0);
    std::string expected = std::string("D:2026") + (c.month < 10 ? "0" : "") + std::to_string(c.month) + "09110753" +
                           c.suffix;
    EXPECT_EQ(FormatPDFDate(t), expected) << c.zone;
  }
  ZoneScope zone("UTC");
  EXPECT_EQ(FormatPDFDate(EncodeDateTime(2026, 12, 9, 11, 7, 53, 0)), "D:20261209110753Z");
}

TEST(PDFDates, ShiftMovesUtcToLocalTime) {
  {
    ZoneScope zone("Asia/Kolkata");
    EXPECT_EQ(FormatPDFDate(EncodeDateTime(2026, 12, 9, 20, 0, 0, 0), true), "D:20261210013000+05'30'");
  }
  {
    ZoneScope zone("Europe/Berlin");
    EXPECT_EQ(FormatPDFDate(EncodeDateTime(2026, 7, 1, 12, 0, 0, 0), true), "D:20260701140000+02'00'");
    EXPECT_EQ(FormatPDFDate(EncodeDateTime(2026, 1, 1, 12, 0, 0, 0), true), "D:20260101130000+01'00'");
  }
}

TEST(PDFDates, NowUsesTheCurrentZone) {
  for (const char* z : {"Asia/Kolkata", "America/Sao_Paulo", "UTC"}) {
    ZoneScope zone(z);
    time_t t = time(nullptr);
    struct tm local;
    localtime_r(&t, &local);
    std::string now = PDFDateNow();
    ASSERT_EQ(now.size(), z[0] == 'U' ? 17u : 23u) << now;
    EXPECT_EQ(now.substr(0, 6), "D:" + std::to_string(local.tm_year + 1900));
    EXPECT_EQ(now.substr(16), FormatPDFZone(static_cast<int>(local.tm_gmtoff / 60)));
  }
  EXPECT_EQ(FormatPDFZone(60), "+01'00'");
  EXPECT_EQ(FormatPDFZone(-300), "-05'00'");
  EXPECT_EQ(FormatPDFZone(0), "Z");
}

// ---------------------------------------------------------------------------
// Page ranges

TEST(PageRanges, Cases) {
  using V = std::vector<int32_t>;
  struct {
    const char* text;
    int32_t lowest, highest;
    TPageRangeOptions options;
    bool ok;
    V pages;
  } cases[] = {
      {"1,3-5", 1, 10, {}, true, V{1, 3, 4, 5}},
      {"5-3", 1, 10, {}, true, V{5, 4, 3}},
      {"5-3", 1, 10, {.sort = true}, true, V{3, 4, 5}},
      {"3-1", 1, 10, {.sort = true}, true, V{1, 2, 3}},
      {"", 1, 10, {}, false, V{}},
      {"abc", 1, 10, {}, false, V{}},
      {"2,x", 1, 10, {}, true, V{2}},
      {"2,x", 1, 10, {.strict = true}, false, V{}},
      {"2, 4", 1, 10, {.strict = true}, false, V{}},
      {"1,1,2", 1, 10, {}, true, V{1, 2}},
      {"1,1,2", 1, 10, {.acceptRepeats = true}, true, V{1, 1, 2}},
      {"1-3,2", 1, 10, {.failOnRepeat = true}, false, V{}},
      {"8-12", 1, 10, {}, true, V{8, 9, 10}},
      {"8-12", 1, 10, {.failOutOfRange = true}, false, V{}},
      {"0", 1, 10, {.failOutOfRange = true}, false, V{}},
      {"0", 1, 10, {}, false, V{}},
      {"-5,7-", 1, 10, {}, false, V{}},
      {"1-2000000000", 1, 5, {}, true, V{1, 2, 3, 4, 5}},  // walks only the document's pages
      {"2000000000-1", 1, 3, {}, true, V{3, 2, 1}},
      {"1-2000000000", 1, 5, {.failOutOfRange = true}, false, V{}},
      {"99999999999", 1, 5, {}, false, V{}},  // beyond the integer range: not a number
      {"4,,2", 1, 5, {}, true, V{4, 2}},
  };
  for (auto& c : cases) {
    V pages{99};
    EXPECT_EQ(ParsePageRanges(c.text, c.lowest, c.highest, pages, c.options), c.ok) << c.text;
    EXPECT_EQ(pages, c.pages) << c.text;
  }
}

TEST(PageRanges, HugeRangesStayBounded) {
  std::vector<int32_t> pages;
  EXPECT_TRUE(ParsePageRanges("1-2000000000,1-2000000000", 1, 200000, pages));
  EXPECT_EQ(pages.size(), 200000u);
  EXPECT_TRUE(ParsePageRanges("5,2000000000-1999999998,5", 1, 2000000000, pages));
  EXPECT_EQ(pages, (std::vector<int32_t>{5, 2000000000, 1999999999, 1999999998}));
  TPageRangeOptions repeats;
  repeats.acceptRepeats = true;
  EXPECT_TRUE(ParsePageRanges("1-3,1-3", 1, 3, pages, repeats));
  EXPECT_EQ(pages, (std::vector<int32_t>{1, 2, 3, 1, 2, 3}));
}
