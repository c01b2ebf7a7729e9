// Object syntax parser: what each piece of syntax becomes and how much of
// the text it consumes; malformed and hostile input.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "PavonaStructureTestSupport.h"
#include "objects/PavonaStructure.h"

namespace {

using pvltest::Dump;

struct ParseCase {
  std::string text;
  std::string dump;  // Dump() of the result
  size_t consumed;
};

const ParseCase kParseCases[] = {
    // Containers
    {"<< /Type /Page /Kids [ 3 0 R 4 0 R ] >>", "<</\"Type\":/\"Page\" /\"Kids\":[R3.0 R4.0]>>", 39},
    {"<<>>", "<<>>", 4},
    {"<< /A << /B [1 (x) <41>] >> >>", "<</\"A\":<</\"B\":[n1 s\"x\" h\"A\"]>>>>", 30},
    {"<< /A 1 /A 2 >>", "<</\"A\":n2>>", 15},
    {"<< /A >>", "<<>>", 8},
    {"<< 5 /X >>", "<<>>", 10},  // stray values where keys belong are passed over
    {"<</A 1/B/C>>", "<</\"A\":n1 /\"B\":/\"C\">>", 12},
    {"[ 1 2 foo ]", "[n1 n2]", 6},
    {"[true]", "[true]", 6},
    {"[true false null]x", "[true false null]", 17},
    {"[1 0 R 2 0 R]", "[R1.0 R2.0]", 13},
    {"[1 2 3]", "[n1 n2 n3]", 7},
    {"[", "null", 0},
    {"[]", "[]", 2},
    {"[[(abc", "[[]]", 2},
    {"[1 0 R [2 0 R] 3 0 R]", "[R1.0 [R2.0] R3.0]", 21},
    // Numbers and references
    {"12 0 R", "R12.0", 6},
    {"12 0 obj", "n12", 2},
    {"12 0", "n12", 2},
    {"1.5 0 R", "n1.5", 3},
    {"1 0 R2", "R1.0", 5},
    {"7 % c\n 0 % d\n R", "R7.0", 15},
    {"-.5", "n-0.5", 3},
    {"5.", "n5", 2},
    {".", "n0", 1},
    {"-", "n0", 1},
    {"5-3", "n5", 1},
    {"1.2.3", "n1.2", 3},
    {"+5", "n5", 2},
    {"+.5", "n0.5", 3},
    {"+12345678", "n12345678", 9},
    {"-12345678", "n-12345678", 9},
    {"123456789012", "n123456789012", 12},
    {"2147483648", "n2147483648", 10},
    {"-2147483649", "n-2147483649", 11},
    {"99999999999 0 R", "R2147483647.0", 15},
    // Keywords
    {"true", "true", 4},
    {"false", "false", 5},
    {"null", "null", 4},
    {"truex", "null", 0},
    {"true/x", "true", 4},
    // Literal strings
    {"(a\\(b\\)c)", "s\"a(b)c\"", 9},
    {"(a(b)c)", "s\"a(b)c\"", 7},
    {"(\\101\\60)", "s\"A0\"", 9},
    {"(\\0053)", "s\"\\x053\"", 7},
    {"(\\777)", "s\"\\xFF\"", 6},
    {"(a\\x)", "s\"ax\"", 5},
    {"(line1\\\nline2)", "s\"line1line2\"", 14},
    {"(a\\\r\nb)", "s\"ab\"", 7},
    {"(a\r\nb)", "s\"a\\x0Ab\"", 6},
    {"(a\rb)", "s\"a\\x0Ab\"", 5},
    {"(\\b\\f\\n\\r\\t)", "s\"\\x08\\x0C\\x0A\\x0D\\x09\"", 12},
    {"(a\\\\)", "s\"a\\x5C\"", 5},
    {"(abc", "null", 0},
    {"(abc\\)", "null", 0},
    {"(", "null", 0},
    {"()", "s\"\"", 2},
    {"(\\", "null", 0},
    // Hex strings
    {"<41 42 4>", "h\"AB@\"", 9},
    {"<>", "h\"\"", 2},
    {"<aBc>", "h\"\\xAB\\xC0\"", 5},
    {"<4x1>", "h\"A\"", 5},
    {"<414", "h\"A@\"", 4},
    {"<<>", "h\"\"", 3},
    // Names
    {"/A#20B", "/\"A B\"", 6},
    {"/A#2", "/\"A#2\"", 4},
    {"/A#", "/\"A#\"", 3},
    {"/A#zz", "/\"A#zz\"", 5},
    {"/Name}", "/\"Name\"", 5},
    {"/ x", "/\"\"", 1},
    {"/", "/\"\"", 1},
    // Nothing readable
    {"", "null", 0},
    {"   % comment\n 7", "n7", 15},
    {"% only a comment", "null", 0},
    {"R", "null", 0},
    {")", "null", 0},
    {"obj", "null", 0},
};

TEST(PavonaStructureParser, TableOfSyntax) {
  for (const ParseCase& c : kParseCases) {
    TPDFStructure pool;
    size_t consumed = 12345;
    TPDFObject* obj = pool.ParseObjectEx(c.text, consumed);
    ASSERT_NE(obj, nullptr) << c.text;
    EXPECT_EQ(Dump(obj), c.dump) << "text: " << c.text;
    EXPECT_EQ(consumed, c.consumed) << "text: " << c.text;
  }
}

TEST(PavonaStructureParser, ParsedKeysAreNotShared) {
  TPDFStructure pool;
  TPDFDictionary* d = PDFAsDictionary(pool.ParseObject("<< /Type /Page >>"));
  ASSERT_NE(d, nullptr);
  EXPECT_FALSE(d->GetEntry(0).key->IsSharedKey());
}

TEST(PavonaStructureParser, ReferenceListsReserveTheirSlots) {
  TPDFStructure pool;
  std::string text = "[";
  for (int i = 1; i <= 100000; ++i) text += std::to_string(i) + " 0 R ";
  text += "]";
  size_t consumed = 0;
  TPDFArray* a = PDFAsArray(pool.ParseObjectEx(text, consumed));
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(consumed, text.size());
  ASSERT_EQ(a->GetCount(), 100000);
  EXPECT_EQ(a->GetItem(99999)->AsIndRef()->GetRefNumber(), 100000);
  EXPECT_GE(a->Items().capacity(), 100000u);
  EXPECT_LE(a->Items().capacity(), 100001u);  // reserved once, not grown geometrically
}

// Deep nesting is refused as a whole (null, nothing consumed); the parser
// neither overflows its stack nor builds a huge tree.
TEST(PavonaStructureParser, DeepNestingIsBounded) {
  const std::string openers[] = {std::string(100000, '['), [] {
                                   std::string s;
                                   for (int i = 0; i < 100000; ++i) s += "<</A ";
                                   return s;
                                 }()};
  for (const std::string& text : openers) {
    TPDFStructure pool;
    size_t consumed = 1;
    TPDFObject* obj = pool.ParseObjectEx(text, consumed);
    EXPECT_EQ(obj->GetKind(), pdfkNull);
    EXPECT_EQ(consumed, 0u);
    EXPECT_LE(pool.GetCount(), 2 * kMaxObjectDepth + 2);
  }
  // Just inside the limit still parses and writes back.
  TPDFStructure pool;
  std::string text = std::string(kMaxObjectDepth, '[') + std::string(kMaxObjectDepth, ']');
  size_t consumed = 0;
  TPDFObject* obj = pool.ParseObjectEx(text, consumed);
  ASSERT_EQ(obj->GetKind(), pdfkArray);
  EXPECT_EQ(consumed, text.size());
  EXPECT_NO_THROW(obj->WriteText());
}

// A hostile dictionary of many distinct and repeated keys parses in about
// linear time and keeps one entry per key (the last value).
TEST(PavonaStructureParser, LargeDictionaryKeepsOneEntryPerKey) {
  std::string text = "<<";
  for (int round = 0; round < 2; ++round)
    for (int i = 0; i < 20000; ++i) text += " /K" + std::to_string(i) + " " + std::to_string(round);
  text += " >>";
  TPDFStructure pool;
  size_t consumed = 0;
  TPDFDictionary* d = PDFAsDictionary(pool.ParseObjectEx(text, consumed));
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(consumed, text.size());
  ASSERT_EQ(d->GetCount(), 20000);
  EXPECT_EQ(d->GetEntry(0).key->GetValue(), "K0");
  EXPECT_EQ(d->GetInteger("K19999", -1), 1);
  EXPECT_EQ(d->GetInteger("K0", -1), 1);
}

TEST(PavonaStructureParser, UnescapeLiteral) {
  TPDFStructure pool;
  const std::pair<std::string, std::string> cases[] = {
      {"(abc)", "abc"},
      {"(a\\(b\\))", "a(b)"},
      {"(\\101\\60\\0053)",
       "A0\x05"
       "3"},
      {"(a\\\r\nb)", "ab"},
      {"(a\\\rb)", "ab"},
      {"(a\\\nb)", "ab"},
      {"(a\rb)", "a\rb"},  // unescaped CR stays
      {"(\\b\\t\\n\\f\\r)", "\b\t\n\f\r"},
      {"(a\\q)", "aq"},
      {"(a\\)", "a\\"},
      {"(\\7)", "\x07"},
      {"()", ""},
      {"(", ""},
      {"", ""},
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(pool.UnescapeLiteral(in), out) << in;
}

TEST(PavonaStructureParser, HexToBytes) {
  TPDFStructure pool;
  const std::pair<std::string, std::string> cases[] = {
      {"<414243>", "ABC"},
      {"<41 42\n43>", "ABC"},
      {"<4>", "@"},
      {"<aBc>", "\xAB\xC0"},
      {"<4G41>", std::string("\0A", 2)},
      {"<>", ""},
      {"414243", ""},
      {"<4142", ""},
      {"<", ""},
      {">", ""},
  };
  for (const auto& [in, out] : cases) {
    EXPECT_EQ(pool.HexToBytes(in), out) << in;
    EXPECT_EQ(HexStringToBytes(in), out) << in;
  }
}

}  // namespace
