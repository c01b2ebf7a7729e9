// Unicode converters, PDF text strings and the 8-bit encodings.
#include <gtest/gtest.h>

#include "TestSupport.h"
#include "objects/PavonaExtra.h"

namespace {

std::string hexOf(std::string_view s) {
  static const char* d = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : s) {
    if (!out.empty()) out += ' ';
    out += d[c >> 4];
    out += d[c & 15];
  }
  return out;
}

std::string hexOf16(std::u16string_view s) {
  char buf[8];
  std::string out;
  for (char16_t u : s) {
    std::snprintf(buf, sizeof buf, "%s%04X", out.empty() ? "" : " ", static_cast<unsigned>(u));
    out += buf;
  }
  return out;
}

}  // namespace

TEST(PDFDocEncoding, TableMatchesTheStandard) {
  const char16_t* t = PDFDocEncodingTable();
  struct {
    int code;
    char16_t unit;
  } cases[] = {{0, 0},        {21, 21},      {22, 0x17},    {23, 0x17},    {24, 0x02D8}, {31, 0x02DC},
               {32, 32},      {126, 126},    {127, 0xFFFD}, {128, 0x2022}, {141, 0x201C}, {147, 0xFB01},
               {158, 0x017E}, {159, 0xFFFD}, {160, 0x20AC}, {161, 0xA1},   {173, 0xFFFD}, {255, 0xFF}};
  for (auto& c : cases) EXPECT_EQ(t[c.code], c.unit) << "code " << c.code;
}

TEST(PDFDocEncoding, UnicodeToPDFDocFindsTheLowestCode) {
  EXPECT_EQ(UnicodeToPDFDoc(u'A'), 'A');
  EXPECT_EQ(UnicodeToPDFDoc(0x20AC), 160);
  EXPECT_EQ(UnicodeToPDFDoc(0x2022), 128);
  EXPECT_EQ(UnicodeToPDFDoc(0x17), 0x17);
  EXPECT_EQ(UnicodeToPDFDoc(0x16), -1);  // code 22 stands for U+0017
  EXPECT_EQ(UnicodeToPDFDoc(0x4E2D), -1);
  EXPECT_EQ(UnicodeToPDFDoc(0xFFFD), -1);  // marks undefined codes; not a character of its own
  EXPECT_EQ(UnicodeToPDFDoc(0xA4), 0xA4);
}

TEST(PDFText, WideToPDFTextCases) {
  struct {
    std::u16string text;
    bool force;
    std::string bytes;
  } cases[] = {
      {u"", false, ""},
      {u"", true, ""},
      {u"Caf\u00E9", false, "Caf\xE9"},
      {u"\u4E2D", false, "\xFE\xFF\x4E\x2D"},
      {u"\u20AC", false, "\xA0"},
      {u"A", true, std::string("\xFE\xFF\x00\x41", 4)},
      {u"A\U0001F600", false, std::string("\xFE\xFF\x00\x41\xD8\x3D\xDE\x00", 8)},
      {u"\xD800x", false, std::string("\xFE\xFF\xFF\xFD\x00x", 6)},  // lone surrogate
      // Text whose PDFDocEncoding bytes would begin like a byte-order mark is written as UTF-16.
      {u"\u00FE\u00FFab", false, std::string("\xFE\xFF\x00\xFE\x00\xFF\x00" "a\x00" "b", 10)},
      {u"\u00FF\u00FE", false, std::string("\xFE\xFF\x00\xFF\x00\xFE", 6)},
      {u"\u00EF\u00BB\u00BFa", false, std::string("\xFE\xFF\x00\xEF\x00\xBB\x00\xBF\x00" "a", 10)},
      // Packed text: U+E702 U+F800 carries a payload of 2 characters.
      {u"\uE702\uF800ab\u4E2D", false, "ab"},
  };
  for (auto& c : cases) EXPECT_EQ(hexOf(WideToPDFText(c.text, c.force)), hexOf(c.bytes)) << hexOf16(c.text);
}

TEST(PDFText, PDFTextToWideCases) {
  struct {
    std::string bytes;
    std::u16string text;
  } cases[] = {
      {"", u""},
      {"\xFE", u"\u00FE"},
      {"Caf\xE9\x80\xA0", u"Caf\u00E9\u2022\u20AC"},
      {std::string("\xFE\xFF\x00\x41\xD8\x3D\xDE\x00", 8), u"A\U0001F600"},
      {"\xFE\xFF\xD8\x3D", u"\uFFFD"},
      {std::string("\xFE\xFF\xDE\x00\x00", 5), u"\uFFFD\uFFFD"},               // lone low surrogate, odd last byte
      {std::string("\xFE\xFF\x00\x41\x00", 5), u"A\uFFFD"},  // odd last byte
      {"\xFE\xFF", u""},
      {std::string("\xFF\xFE\x41\x00\x3D\xD8\x00\xDE", 8), u"A\U0001F600"},  // UTF-16LE
      {"\xEF\xBB\xBF\x41\xC3\xA9", u"A\u00E9"},                              // UTF-8 with its mark
      {"\xEF\xBB\xBF\xC0", u"\uFFFD"},
      {"\x7F\x9F\xAD", u"\uFFFD\uFFFD\uFFFD"},
  };
  for (auto& c : cases) EXPECT_EQ(hexOf16(PDFTextToWide(c.bytes)), hexOf16(c.text)) << hexOf(c.bytes);
}

TEST(PDFText, RoundTripsThroughBothForms) {
  std::u16string texts[] = {u"Hello", u"Caf\u00E9 \u20AC \u2022", u"\u4E2D\u6587", u"x\U0001F600y",
                            u"\u00FE\u00FF", u"\u02D8\u0141"};
  for (auto& t : texts) {
    EXPECT_EQ(PDFTextToWide(WideToPDFText(t)), t) << hexOf16(t);
    EXPECT_EQ(PDFTextToWide(WideToPDFText(t, true)), t) << hexOf16(t);
  }
}

TEST(PDFText, PlainBytesAndOtherEightBitForms) {
  EXPECT_EQ(PDFTextToPlainBytes(std::string("\xFE\xFF\x00\x41\x4E\x2D\x20\xAC", 8)), "A?\xA0");
  EXPECT_EQ(PDFTextToPlainBytes("abc\xE9"), "abc\xE9");
  EXPECT_EQ(WideToPDFDocBytes(u"a\u4E2D\u2022"), "a?\x80");
  EXPECT_EQ(AsciiToWide("a\x7E\x7F\xFF"), u"a~\uFFFD\uFFFD");
  EXPECT_EQ(AnsiToWideBytes("a\x80\xFF"), u"a\u0080\u00FF");
  EXPECT_EQ(WideToAnsi(u"a\u20AC\u00E9\u0153\u4E2D\U0001F600\u0081"), "a\x80\xE9\x9C??\x81");
  EXPECT_EQ(PDFTextOrUTF8ToWide("\xFE\xFF\x4E\x2D"), u"\u4E2D");
  EXPECT_EQ(PDFTextOrUTF8ToWide("\xC3\xA9t\xC3\xA9"), u"\u00E9t\u00E9");
  EXPECT_EQ(PDFTextOrUTF8ToWide("\xEF\xBB\xBFx"), u"x");
}

TEST(PackedWideText, Unpack) {
  EXPECT_EQ(UnpackWideText(u"plain"), u"plain");
  EXPECT_EQ(UnpackWideText(u"\uE703\uF800abcdef"), u"abc");
  EXPECT_EQ(UnpackWideText(u"\uE710\uF800ab"), u"ab");                  // cut to what is present
  EXPECT_EQ(UnpackWideText(std::u16string(u"\uE700\uF801") + std::u16string(300, u'x')).size(), 256u);
  EXPECT_EQ(UnpackWideText(u"\uE703"), u"\uE703");
  EXPECT_EQ(WideToUTF8(u"\uE701\uF800\u00E9zz"), "\xC3\xA9");
}

// ---------------------------------------------------------------------------
// Converters

TEST(UnicodeConverters, UTF8ToWideAndValidity) {
  struct {
    std::string bytes;
    std::u16string text;
    bool valid;
  } cases[] = {
      {"", u"", true},
      {"abc", u"abc", true},
      {"\xC3\xA9", u"\u00E9", true},
      {"\xE4\xB8\xAD", u"\u4E2D", true},
      {"\xF0\x9F\x98\x80", u"\U0001F600", true},
      {"\xF4\x8F\xBF\xBD", u"\U0010FFFD", true},
      {"\xEF\xBB\xBF" "a", u"a", true},           // leading mark dropped
      {"a\xEF\xBB\xBF", u"a\uFEFF", true},        // only a leading one
      {"\xC0\x80", u"\uFFFD\uFFFD", false},       // over-long
      {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD", false},  // encoded surrogate
      {"\xE0\x80\x80", u"\uFFFD\uFFFD\uFFFD", false},
      {"\xE4\xB8", u"\uFFFD", false},             // cut by the end
      {"\xE4\xB8x", u"\uFFFDx", false},
      {"\xF5\x80", u"\uFFFD\uFFFD", false},
      {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD", false},
      {"\xEF\xBF\xBE", u"\uFFFD", false},         // U+FFFE: not a character
      {"\xEF\xB7\x90", u"\uFFFD", false},         // U+FDD0
      {"\xF0\x9F\xBF\xBF", u"\uFFFD", false},     // U+1FFFF
      {"\xEF\xBF\xBD", u"\uFFFD", false},         // U+FFFD is the error marker itself
  };
  for (auto& c : cases) {
    EXPECT_EQ(hexOf16(UTF8ToWide(c.bytes)), hexOf16(c.text)) << hexOf(c.bytes);
    EXPECT_EQ(IsValidUTF8(c.bytes), c.valid) << hexOf(c.bytes);
  }
}

TEST(UnicodeConverters, WideToUTF8) {
  EXPECT_EQ(WideToUTF8(u"\uFEFFa"), "a");  // leading mark dropped, none written
  EXPECT_EQ(WideToUTF8(u"a\u00E9\u4E2D\U0001F600"), "a\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80");
  EXPECT_EQ(WideToUTF8(u"\xD800" "a\xDC00"), "\xEF\xBF\xBD" "a\xEF\xBF\xBD");
  EXPECT_EQ(WideToUTF8(u""), "");
}

TEST(UnicodeConverters, ErrorPolicies) {
  const std::string bad = "a\xC0" "b";
  struct {
    int policy;
    bool result;
    std::u16string out;
  } cases[] = {
      {0, false, u""}, {1, false, u"a"}, {2, true, u"ab"}, {3, true, u"a\uFFFDb"}, {7, true, u"a\uFFFDb"}};
  for (auto& c : cases) {
    std::u16string out;
    EXPECT_EQ(UTF8ToUTF16(bad, out, c.policy, 1, 1), c.result) << c.policy;
    EXPECT_EQ(out, c.out) << c.policy;
  }
  // Policy 0 keeps a written mark; "as decoded" writes a not-allowed but well-formed character.
  std::u16string out;
  EXPECT_FALSE(UTF8ToUTF16(bad, out, 0, 2, 1));
  EXPECT_EQ(out, u"\uFEFF");
  EXPECT_TRUE(UTF8ToUTF16("\xEF\xBF\xBE", out, 9, 1, 1));
  EXPECT_EQ(out, u"\uFFFE");
  std::string bytes;
  EXPECT_TRUE(UTF16ToUTF8(u"\xD800", bytes, 1, 9, 1));
  EXPECT_EQ(bytes, "\xED\xA0\x80");
  EXPECT_FALSE(UTF16ToUTF8(u"a\xD800", bytes, 1, 1, 1));
  EXPECT_EQ(bytes, "a");
}

TEST(UnicodeConverters, FormsAndMarks) {
  std::u16string out;
  // Output forms: 0 converts nothing; 2 and 4 byte-swapped; 3 and 4 stop at U+FFFF.
  EXPECT_FALSE(UTF8ToUTF16("a", out, 3, 1, 0));
  EXPECT_EQ(out, u"");
  EXPECT_TRUE(UTF8ToUTF16("a\xF0\x9F\x98\x80", out, 3, 1, 2));
  EXPECT_EQ(hexOf16(out), "6100 3DD8 00DE");
  EXPECT_TRUE(UTF8ToUTF16("a\xF0\x9F\x98\x80", out, 3, 1, 3));
  EXPECT_EQ(hexOf16(out), "0061 FFFD");
  EXPECT_TRUE(UTF8ToUTF16("a\xF0\x9F\x98\x80", out, 3, 1, 4));
  EXPECT_EQ(hexOf16(out), "6100 FDFF");
  // Mark modes: 2 writes one (in the output order), 1 and 2 drop a leading one, 0 keeps it.
  EXPECT_TRUE(UTF8ToUTF16("\xEF\xBB\xBFx", out, 3, 0, 1));
  EXPECT_EQ(out, u"\uFEFFx");
  EXPECT_TRUE(UTF8ToUTF16("\xEF\xBB\xBFx", out, 3, 2, 1));
  EXPECT_EQ(out, u"\uFEFFx");
  EXPECT_TRUE(UTF8ToUTF16("x", out, 3, 2, 2));
  EXPECT_EQ(hexOf16(out), "FFFE 7800");
  // Input forms: 2 byte-swapped with pairs; 3 and 4 UCS-2 where a surrogate is an error.
  EXPECT_TRUE(UTF16Recode(u"\x4100\x3DD8\x00DE", out, 2, 3, 1, 1));
  EXPECT_EQ(out, u"A\U0001F600");
  EXPECT_TRUE(UTF16Recode(u"A\U0001F600", out, 3, 3, 1, 1));
  EXPECT_EQ(out, u"A\uFFFD\uFFFD");
  EXPECT_TRUE(UTF16Recode(u"\x4100\x3DD8", out, 4, 3, 1, 1));
  EXPECT_EQ(out, u"A\uFFFD");
  EXPECT_FALSE(UTF16Recode(u"a", out, 0, 3, 1, 1));
  EXPECT_FALSE(UTF16Recode(u"a", out, 5, 3, 1, 1));
  std::string bytes;
  EXPECT_TRUE(UTF16ToUTF8(u"x", bytes, 1, 3, 2));
  EXPECT_EQ(bytes, "\xEF\xBB\xBFx");
  EXPECT_TRUE(UTF16ToUTF8(u"\x7800\xBBFE", bytes, 2, 3, 1));  // swapped: "x" then U+FEBB
  EXPECT_EQ(bytes, "x\xEF\xBA\xBB");
}

// Malformed UTF-8 is replaced per maximal subpart, as Python's "replace" does.
TEST(UnicodeConverters, AgreesWithPythonOnMalformedUTF8) {
  if (!pvltest::HaveTool("python3")) GTEST_SKIP() << "python3 not installed";
  std::vector<std::string> samples = {
      "\x80",         "\xBF",         "\xC0\xAF",     "\xC1\xBF",         "\xC2",         "\xC2\x41",
      "\xDF\xC0",     "\xE0\x9F\x80", "\xE0\xA0",     "\xE0\xA0\x41",     "\xED\xBF\xBF", "\xEE\x80",
      "\xEF\xBF",     "\xF0\x8F\xBF", "\xF0\x90\x80", "\xF0\x90\x80\x41", "\xF4\x90",     "\xF5\x80\x80\x80",
      "\xF8\x88\x80", "\xFE\xFF",     "\xFF",         "a\xE1\x80\xE2\xF0\x91\x92\xF1\xBF\x41",
      "\xF1\x80\x80", "\xE1\x80\xC2", "\xC2\xC2\x80", "\xF3\xBF\xBF\xBD\xBF",
  };
  std::string script =
      "import sys\n"
      "for line in sys.stdin.read().split():\n"
      "    s = bytes.fromhex(line).decode('utf-8', 'replace')\n"
      "    b = s.encode('utf-16-be')\n"
      "    print(' '.join('%02X%02X' % (b[i], b[i + 1]) for i in range(0, len(b), 2)))\n";
  std::string input;
  for (auto& s : samples) {
    for (unsigned char c : s) {
      char b[3];
      std::snprintf(b, sizeof b, "%02x", c);
      input += b;
    }
    input += "\n";
  }
  pvltest::TempDir dir;
  pvltest::WriteFile(dir.File("in.txt"), input);
  pvltest::WriteFile(dir.File("t.py"), script);
  auto r = pvltest::RunCommand({"sh", "-c", "python3 " + dir.File("t.py") + " < " + dir.File("in.txt")});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  std::vector<std::string> lines;
  size_t from = 0;
  while (from < r.out.size()) {
    size_t nl = r.out.find('\n', from);
    if (nl == std::string::npos) nl = r.out.size();
    lines.push_back(r.out.substr(from, nl - from));
    from = nl + 1;
  }
  ASSERT_EQ(lines.size(), samples.size());
  for (size_t i = 0; i < samples.size(); ++i) {
    std::string ours;
    for (char16_t u : UTF8ToWide(samples[i])) {
      char b[8];
      std::snprintf(b, sizeof b, "%s%04X", ours.empty() ? "" : " ", static_cast<unsigned>(u));
      ours += b;
    }
    EXPECT_EQ(ours, lines[i]) << hexOf(samples[i]);
  }
}

// The ANSI code page is Windows-1252: every character of Python's cp1252
// codec maps back to its byte; the five unassigned bytes stand for the C1
// controls of the same value.
TEST(AnsiCodePage, AgreesWithPythonCp1252) {
  if (!pvltest::HaveTool("python3")) GTEST_SKIP() << "python3 not installed";
  auto r = pvltest::RunCommand(
      {"python3", "-c",
       "for b in range(256):\n"
       "    try: print(b, ord(bytes([b]).decode('cp1252')))\n"
       "    except UnicodeDecodeError: pass\n"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  int checked = 0;
  size_t from = 0;
  while (from < r.out.size()) {
    size_t nl = r.out.find('\n', from);
    if (nl == std::string::npos) nl = r.out.size();
    int byte = 0, unit = 0;
    ASSERT_EQ(std::sscanf(r.out.substr(from, nl - from).c_str(), "%d %d", &byte, &unit), 2);
    EXPECT_EQ(WideToAnsi(std::u16string(1, static_cast<char16_t>(unit))), std::string(1, static_cast<char>(byte)))
        << "U+" << std::hex << unit;
    ++checked;
    from = nl + 1;
  }
  EXPECT_EQ(checked, 251);
  for (char16_t c1 : {0x81, 0x8D, 0x8F, 0x90, 0x9D})
    EXPECT_EQ(WideToAnsi(std::u16string(1, c1)), std::string(1, static_cast<char>(c1)));
  EXPECT_EQ(WideToAnsi(u"\u0080\u009F\u0100"), "???");
}
