#include "graphics/PavonaFunctions.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <sstream>

#include "TestSupport.h"
#include "objects/PavonaStructure.h"

namespace {

// Packs sample values MSB first, bits per sample each, into bytes.
std::string packSamples(const std::vector<uint64_t>& samples, int bits) {
  std::string out;
  uint64_t acc = 0;
  int accBits = 0;
  for (uint64_t s : samples) {
    for (int b = bits - 1; b >= 0; --b) {
      acc = (acc << 1) | ((s >> b) & 1);
      if (++accBits == 8) {
        out.push_back(static_cast<char>(acc));
        acc = 0;
        accBits = 0;
      }
    }
  }
  if (accBits > 0) out.push_back(static_cast<char>(acc << (8 - accBits)));
  return out;
}

class FunctionFixture : public ::testing::Test {
protected:
  TPDFDictionary* dict(const std::string& text) {
    TPDFDictionary* d = PDFAsDictionary(pool.ParseObject(text));
    EXPECT_NE(d, nullptr) << text;
    return d;
  }
  TPDFStream* stream(const std::string& dictText, const std::string& data) {
    return pool.NewStreamWith(data, dict(dictText));
  }
  static std::vector<double> eval(const TPDFFunction& f, std::vector<double> in) {
    std::vector<double> out;
    f.Evaluate(in, out);
    return out;
  }
  TPDFStructure pool;
};

// ---------------------------------------------------------------------------
// Type 0

struct SampledCase {
  const char* name;
  std::string dict;  // without /FunctionType and /BitsPerSample
  int bits;
  std::vector<uint64_t> samples;
  std::vector<double> input;
  std::vector<double> expected;
};

class SampledFunction : public FunctionFixture, public ::testing::WithParamInterface<SampledCase> {};

TEST_P(SampledFunction, InterpolatesBetweenSamples) {
  const SampledCase& c = GetParam();
  std::string text = "<< /FunctionType 0 /BitsPerSample " + std::to_string(c.bits) + " " + c.dict + " >>";
  auto f = CreatePDFFunction(stream(text, packSamples(c.samples, c.bits)));
  ASSERT_NE(f, nullptr);
  std::vector<double> out = eval(*f, c.input);
  ASSERT_EQ(out.size(), c.expected.size());
  for (size_t j = 0; j < out.size(); ++j) EXPECT_NEAR(out[j], c.expected[j], 1e-9) << "output " << j;
}

const double k4095 = 4095.0;
INSTANTIATE_TEST_SUITE_P(
    Cases, SampledFunction,
    ::testing::Values(
        // Two 8-bit samples 0 and 255: a straight line, 0.5 in the middle (not a step).
        SampledCase{"EightBitMiddle", "/Size [2] /Domain [0 1] /Range [0 1]", 8, {0, 255}, {0.5}, {0.5}},
        SampledCase{"EightBitQuarter", "/Size [2] /Domain [0 1] /Range [0 1]", 8, {0, 255}, {0.25}, {0.25}},
        SampledCase{"InputClippedToDomain", "/Size [2] /Domain [0 1] /Range [0 1]", 8, {0, 255}, {7}, {1}},
        // 1 bit, four samples 0 1 1 0: index 2.5 lies half way between 1 and 0.
        SampledCase{"OneBit", "/Size [4] /Domain [0 1] /Range [0 1]", 1, {0, 1, 1, 0}, {2.5 / 3}, {0.5}},
        SampledCase{"OneBitOnSample", "/Size [4] /Domain [0 1] /Range [0 1]", 1, {0, 1, 1, 0}, {1.0 / 3}, {1}},
        // 2 bits with an Encode that reverses the table.
        SampledCase{"TwoBitReversedEncode", "/Size [4] /Domain [0 1] /Range [0 1] /Encode [3 0]", 2, {0, 1, 2, 3},
                    {0.0}, {1.0}},
        SampledCase{"TwoBitReversedMiddle", "/Size [4] /Domain [0 1] /Range [0 1] /Encode [3 0]", 2, {0, 1, 2, 3},
                    {0.5}, {0.5}},
        // 12 bits: index 1.5 between 4095 and 2048.
        SampledCase{"TwelveBit", "/Size [3] /Domain [0 1] /Range [0 1]", 12, {0, 4095, 2048}, {0.75},
                    {(4095.0 + 2048.0) / 2 / k4095}},
        // 16 bits, two outputs per sample with their own Decode.
        SampledCase{"SixteenBitTwoOutputs", "/Size [2] /Domain [0 1] /Range [0 1 0 10] /Decode [0 1 10 0]", 16,
                    {0, 65535, 65535, 0}, {0.25}, {0.25, 2.5}},
        // 32 bits: the largest sample decodes as the upper Decode bound.
        SampledCase{"ThirtyTwoBitMax", "/Size [1] /Domain [0 1] /Range [0 1]", 32, {0xFFFFFFFFu}, {0.3}, {1.0}},
        SampledCase{"ThirtyTwoBitMiddle", "/Size [2] /Domain [0 1] /Range [0 1]", 32, {0, 0xFFFFFFFFu}, {0.5},
                    {0.5}},
        // Two inputs (first varies fastest): bilinear in the cell.
        SampledCase{"TwoInputsBilinear", "/Size [2 2] /Domain [0 1 0 1] /Range [0 1]", 8, {0, 255, 255, 0},
                    {0.25, 0.5}, {0.5}},
        SampledCase{"TwoInputsCorner", "/Size [2 2] /Domain [0 1 0 1] /Range [0 1]", 8, {0, 51, 102, 255},
                    {0, 1}, {0.4}},
        // Data shorter than the table: missing samples read as 0.
        SampledCase{"TruncatedData", "/Size [4] /Domain [0 1] /Range [0 1]", 8, {255}, {1}, {0}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(FunctionFixture, SampledFunctionsWithBadParametersAreRefused) {
  const char* cases[] = {
      "/BitsPerSample 0 /Size [2] /Domain [0 1] /Range [0 1]",
      "/BitsPerSample 3 /Size [2] /Domain [0 1] /Range [0 1]",
      "/BitsPerSample 64 /Size [2] /Domain [0 1] /Range [0 1]",
      "/Size [2] /Domain [0 1] /Range [0 1]",                                   // no BitsPerSample
      "/BitsPerSample 8 /Size [2] /Domain [0 1]",                               // no Range
      "/BitsPerSample 8 /Size [2] /Domain [0 1 0 1] /Range [0 1]",              // Size too short
      "/BitsPerSample 8 /Size [0] /Domain [0 1] /Range [0 1]",                  // empty table
      "/BitsPerSample 8 /Size [2.5] /Domain [0 1] /Range [0 1]",
      "/BitsPerSample 8 /Size [2] /Domain [0 1] /Range [0 1] /Encode [0]",      // Encode too short
      "/BitsPerSample 8 /Size [2] /Domain [0 1] /Range [0 1 0 1] /Decode [0 1]",  // Decode too short
      "/BitsPerSample 32 /Size [100000 100000 100000] /Domain [0 1 0 1 0 1] /Range [0 1]",
      "/BitsPerSample 8 /Size [2] /Range [0 1]",                                // no Domain
  };
  for (const char* c : cases) {
    std::string text = std::string("<< /FunctionType 0 ") + c + " >>";
    EXPECT_THROW(CreatePDFFunction(stream(text, std::string(16, '\x7f'))), EPDFFunctionError) << c;
  }
}

// ---------------------------------------------------------------------------
// Type 2

TEST_F(FunctionFixture, ExponentialFunctions) {
  auto plain = CreatePDFFunction(dict("<< /FunctionType 2 /Domain [0 1] /N 1 >>"));
  ASSERT_NE(plain, nullptr);
  EXPECT_EQ(plain->GetOutputCount(), 1);
  EXPECT_EQ(eval(*plain, {0.3}), std::vector<double>{0.3});
  EXPECT_EQ(eval(*plain, {1.7}), std::vector<double>{1.0});  // clipped input

  auto rgb = CreatePDFFunction(dict("<< /FunctionType 2 /Domain [0 1] /C0 [1 0 0.5] /C1 [0 1 0.5] /N 2 >>"));
  ASSERT_NE(rgb, nullptr);
  std::vector<double> out = eval(*rgb, {0.5});
  ASSERT_EQ(out.size(), 3u);
  EXPECT_DOUBLE_EQ(out[0], 0.75);
  EXPECT_DOUBLE_EQ(out[1], 0.25);
  EXPECT_DOUBLE_EQ(out[2], 0.5);

  auto ranged = CreatePDFFunction(dict("<< /FunctionType 2 /Domain [0 1] /C0 [0] /C1 [4] /Range [0 1] >>"));
  EXPECT_EQ(eval(*ranged, {0.5}), std::vector<double>{1.0});  // 2 clipped to Range

  // x^N without a real result gives a finite value, never NaN.
  auto root = CreatePDFFunction(dict("<< /FunctionType 2 /Domain [-1 1] /N 0.5 >>"));
  double v = eval(*root, {-0.5})[0];
  EXPECT_TRUE(std::isfinite(v));
  auto inverse = CreatePDFFunction(dict("<< /FunctionType 2 /Domain [0 1] /N -1 >>"));
  EXPECT_TRUE(std::isfinite(eval(*inverse, {0})[0]));

  EXPECT_THROW(CreatePDFFunction(dict("<< /FunctionType 2 /Domain [0 1] /C0 [0 0] /C1 [1] >>")), EPDFFunctionError);
  EXPECT_THROW(CreatePDFFunction(dict("<< /FunctionType 2 /Domain [0 1] /C0 [0] /C1 [1] /Range [0 1 0 1] >>")),
               EPDFFunctionError);
  EXPECT_THROW(CreatePDFFunction(dict("<< /FunctionType 2 /Domain [0 1] /C0 [] /C1 [] >>")), EPDFFunctionError);
}

TEST_F(FunctionFixture, UnsupportedTypesGiveNoFunction) {
  for (const char* text : {"<< /FunctionType 1 /Domain [0 1] >>", "<< /FunctionType 5 /Domain [0 1] >>",
                           "<< /Domain [0 1] >>", "<< /FunctionType /Two /Domain [0 1] >>"}) {
    EXPECT_EQ(CreatePDFFunction(dict(text)), nullptr) << text;
  }
  EXPECT_EQ(CreatePDFFunction(pool.NewNumeric(2)), nullptr);
  EXPECT_EQ(CreatePDFFunction(nullptr), nullptr);
}

// ---------------------------------------------------------------------------
// Type 3

class StitchingFixture : public FunctionFixture {
protected:
  void SetUp() override {
    pool.OnLookupObject = [this](TPDFIndRef*, int32_t number, int32_t) -> TPDFObject* {
      auto it = objects.find(number);
      return it == objects.end() ? nullptr : it->second;
    };
  }
  std::map<int32_t, TPDFObject*> objects;
};

TEST_F(StitchingFixture, ChoosesTheSubDomainAndEncodes) {
  objects[1] = dict("<< /FunctionType 2 /Domain [0 1] /C0 [0] /C1 [1] >>");
  objects[2] = dict("<< /FunctionType 2 /Domain [0 1] /C0 [10] /C1 [20] >>");
  auto f = CreatePDFFunction(
      dict("<< /FunctionType 3 /Domain [0 1] /Functions [1 0 R 2 0 R] /Bounds [0.5] /Encode [0 1 1 0] >>"));
  ASSERT_NE(f, nullptr);
  EXPECT_DOUBLE_EQ(eval(*f, {0.25})[0], 0.5);   // first: (0.25 - 0) / 0.5
  EXPECT_DOUBLE_EQ(eval(*f, {0.5})[0], 20.0);   // second, encoded 1 .. 0
  EXPECT_DOUBLE_EQ(eval(*f, {0.75})[0], 15.0);
  EXPECT_DOUBLE_EQ(eval(*f, {1.0})[0], 10.0);   // the last sub-domain includes its upper bound
  EXPECT_DOUBLE_EQ(eval(*f, {-3})[0], 0.0);     // clipped to Domain

  // A zero-width sub-domain does not divide by zero.
  auto zero = CreatePDFFunction(
      dict("<< /FunctionType 3 /Domain [0 1] /Functions [1 0 R 2 0 R] /Bounds [1] /Encode [0 1 0.5 1] >>"));
  EXPECT_DOUBLE_EQ(eval(*zero, {1.0})[0], 15.0);
  auto point = CreatePDFFunction(dict("<< /FunctionType 3 /Domain [0.5 0.5] /Functions [1 0 R] /Encode [0.3 1] >>"));
  EXPECT_DOUBLE_EQ(eval(*point, {0.9})[0], 0.3);
}

TEST_F(StitchingFixture, MalformedStitchingIsRefused) {
  objects[1] = dict("<< /FunctionType 2 /Domain [0 1] /C0 [0] /C1 [1] >>");
  objects[2] = dict("<< /FunctionType 2 /Domain [0 1] /C0 [0 0] /C1 [1 1] >>");
  objects[3] = dict("<< /FunctionType 7 /Domain [0 1] >>");
  // Contains itself directly and through another function.
  objects[5] = dict("<< /FunctionType 3 /Domain [0 1] /Functions [5 0 R] /Encode [0 1] >>");
  objects[6] = dict("<< /FunctionType 3 /Domain [0 1] /Functions [7 0 R] /Encode [0 1] >>");
  objects[7] = dict("<< /FunctionType 3 /Domain [0 1] /Functions [6 0 R] /Encode [0 1] >>");
  const char* cases[] = {
      "<< /FunctionType 3 /Domain [0 1] /Functions [1 0 R 1 0 R] /Encode [0 1 0 1] >>",          // Bounds short
      "<< /FunctionType 3 /Domain [0 1] /Functions [1 0 R 1 0 R] /Bounds [0.5] /Encode [0 1] >>",  // Encode short
      "<< /FunctionType 3 /Domain [0 1] /Functions [] >>",
      "<< /FunctionType 3 /Domain [0 1] /Functions [1 0 R 2 0 R] /Bounds [0.5] >>",  // outputs differ
      "<< /FunctionType 3 /Domain [0 1] /Functions [3 0 R] >>",                      // not a function
      "<< /FunctionType 3 /Domain [0 1] /Functions [9 0 R] >>",                      // missing
      "<< /FunctionType 3 /Domain [0 1] /Functions [1 0 R] /Range [0 1 0 1] >>",     // Range mismatch
  };
  for (const char* c : cases) EXPECT_THROW(CreatePDFFunction(dict(c)), EPDFFunctionError) << c;
  EXPECT_THROW(CreatePDFFunction(objects[5]), EPDFFunctionError);
  EXPECT_THROW(CreatePDFFunction(objects[6]), EPDFFunctionError);
  EXPECT_THROW(CreatePDFFunction(pool.NewIndRef(7, 0)), EPDFFunctionError);
}

TEST_F(StitchingFixture, SharedSubFunctionsAreBuiltOnceAndDepthIsCapped) {
  // Ten levels, each listing the level below 50 times: built once per level.
  objects[100] = dict("<< /FunctionType 2 /Domain [0 1] /C0 [0] /C1 [1] >>");
  for (int level = 101; level <= 110; ++level) {
    std::string list;
    for (int i = 0; i < 50; ++i) list += std::to_string(level - 1) + " 0 R ";
    std::string bounds;
    for (int i = 1; i < 50; ++i) bounds += std::to_string(i / 50.0) + " ";
    objects[level] = dict("<< /FunctionType 3 /Domain [0 1] /Functions [" + list + "] /Bounds [" + bounds + "] >>");
  }
  auto f = CreatePDFFunction(objects[110]);
  ASSERT_NE(f, nullptr);
  EXPECT_TRUE(std::isfinite(eval(*f, {0.37})[0]));

  // A chain deeper than the nesting limit.
  for (int level = 201; level <= 201 + kMaxFunctionDepth + 2; ++level) {
    int below = level == 201 ? 100 : level - 1;
    objects[level] = dict("<< /FunctionType 3 /Domain [0 1] /Functions [" + std::to_string(below) + " 0 R] >>");
  }
  EXPECT_THROW(CreatePDFFunction(objects[201 + kMaxFunctionDepth + 2]), EPDFFunctionError);
  EXPECT_NE(CreatePDFFunction(objects[205]), nullptr);
}

// ---------------------------------------------------------------------------
// Type 4

class CalculatorFixture : public FunctionFixture {
protected:
  std::unique_ptr<TPDFFunction> calc(const std::string& program, int inputs, int outputs) {
    std::string domain, range;
    for (int i = 0; i < inputs; ++i) domain += "-1000000 1000000 ";
    for (int i = 0; i < outputs; ++i) range += "-10000000000 10000000000 ";
    return CreatePDFFunction(
        stream("<< /FunctionType 4 /Domain [" + domain + "] /Range [" + range + "] >>", program));
  }
};

TEST_F(CalculatorFixture, ProgramsFromTheDocumentation) {
  EXPECT_EQ(eval(*calc("{ 2 index }", 3, 4), {7, 8, 9}), (std::vector<double>{7, 8, 9, 7}));
  EXPECT_EQ(eval(*calc("{ 2 index }", 3, 1), {7, 8, 9}), std::vector<double>{7});
  for (const char* text : {"{ 1 exch sub }", "   { 1 exch sub }", "\n\r\t{1 exch sub}  \n", "1 exch sub"})
    EXPECT_EQ(eval(*calc(text, 1, 1), {0.25}), std::vector<double>{0.75}) << text;
  EXPECT_NEAR(eval(*calc("{ pop 30 sin }", 1, 1), {0})[0], 0.5, 1e-12);
  EXPECT_NEAR(eval(*calc("{ pop -1 1 atan }", 1, 1), {0})[0], 315, 1e-12);
  EXPECT_NEAR(eval(*calc("{ pop 1 -1 atan }", 1, 1), {0})[0], 135, 1e-12);
}

TEST_F(CalculatorFixture, HostileProgramsStayBounded) {
  // Stack overflow is an error, not a write past the stack.
  std::string many = "{";
  for (int i = 0; i < kMaxCalculatorStack + 5; ++i) many += " 1";
  many += " }";
  EXPECT_THROW(eval(*calc(many, 1, 1), {0}), EPDFFunctionError);
  EXPECT_THROW(eval(*calc("{ 1000 copy }", 1, 1), {0}), EPDFFunctionError);
  EXPECT_THROW(eval(*calc("{ 2147483647 copy }", 1, 1), {0}), EPDFFunctionError);
  // Reading below the bottom gives 0; huge or negative operands are harmless.
  EXPECT_EQ(eval(*calc("{ 5 index }", 1, 2), {3}), (std::vector<double>{3, 0}));
  EXPECT_EQ(eval(*calc("{ -5 index }", 1, 2), {3}), (std::vector<double>{3, 0}));
  EXPECT_EQ(eval(*calc("{ 2 copy }", 1, 3), {3}), (std::vector<double>{3, 0, 3}));
  EXPECT_EQ(eval(*calc("{ -2 copy }", 1, 1), {3}), (std::vector<double>{3}));
  EXPECT_EQ(eval(*calc("{ 2 2147483647 roll }", 2, 2), {1, 2}), (std::vector<double>{2, 1}));
  EXPECT_EQ(eval(*calc("{ 2 -2147483648 roll }", 2, 2), {1, 2}), (std::vector<double>{1, 2}));
  EXPECT_EQ(eval(*calc("{ 99999 1 roll }", 2, 2), {1, 2}), (std::vector<double>{2, 1}));
  EXPECT_EQ(eval(*calc("{ -3 1 roll }", 2, 2), {1, 2}), (std::vector<double>{1, 2}));
  EXPECT_EQ(eval(*calc("{ pop pop pop add }", 1, 1), {3}), std::vector<double>{0});
  // Integer edge cases without undefined behaviour.
  EXPECT_EQ(eval(*calc("{ -2147483648 -1 idiv }", 1, 1), {0})[0], 2147483648.0);
  EXPECT_EQ(eval(*calc("{ -2147483648 -1 mod }", 1, 1), {0})[0], 0);
  EXPECT_EQ(eval(*calc("{ 99999999999 1 bitshift }", 1, 1), {0})[0], -2);
  EXPECT_EQ(eval(*calc("{ 1 40 bitshift 1 -40 bitshift }", 1, 2), {0}), (std::vector<double>{0, 0}));
  EXPECT_EQ(eval(*calc("{ 5 0 idiv 5 0 mod 5 0 div }", 1, 3), {0}), (std::vector<double>{0, 0, 0}));
  EXPECT_EQ(eval(*calc("{ -1 sqrt 0 ln -5 log 1e300 1e300 mul }", 1, 4), {0}), (std::vector<double>{0, 0, 0, 0}));
  // Unknown words and stray braces are ignored; deep nesting is refused.
  EXPECT_EQ(eval(*calc("{ 2 frobnicate } } 3 mul }", 1, 1), {0}), std::vector<double>{6});
  EXPECT_THROW(calc(std::string(500, '{') + std::string(500, '}'), 1, 1), EPDFFunctionError);
  // An if without a procedure consumes its condition only.
  EXPECT_EQ(eval(*calc("{ 4 true if }", 1, 2), {1}), (std::vector<double>{1, 4}));
}

// Ghostscript evaluates the same programs; its results are the reference.
struct CalcCase {
  std::vector<double> inputs;
  std::string program;
};

std::string numberText(double v) {
  std::ostringstream s;
  s.precision(17);
  s << v;
  return s.str();
}

TEST_F(CalculatorFixture, AgreesWithGhostscript) {
  if (!pvltest::HaveTool("gs")) GTEST_SKIP() << "gs is not installed";
  const std::vector<CalcCase> cases = {
      {{3, 4}, "add"},          {{3, 4}, "sub"},          {{3, 4}, "mul"},        {{3, 4}, "div"},
      {{7, 2}, "idiv"},         {{-7, 2}, "idiv"},        {{7, -2}, "mod"},       {{-7, 2}, "mod"},
      {{2.5}, "neg"},           {{-2.5}, "abs"},          {{-2.5}, "ceiling"},    {{-2.5}, "floor"},
      {{2.5}, "round"},         {{-2.5}, "round"},        {{3.49}, "round"},      {{-2.7}, "truncate"},
      {{16}, "sqrt"},           {{30}, "sin"},            {{60}, "cos"},          {{390}, "sin"},
      {{-1, 1}, "atan"},        {{1, -1}, "atan"},        {{0, 1}, "atan"},       {{1, 0}, "atan"},
      {{2, 10}, "exp"},         {{9, 0.5}, "exp"},        {{100}, "log"},         {{2.718281828}, "ln"},
      {{2.7}, "cvi"},           {{-2.7}, "cvi"},          {{2.5}, "cvr"},         {{3, 3}, "eq"},
      {{3, 4}, "ne"},           {{3, 4}, "gt"},           {{4, 4}, "ge"},         {{3, 4}, "lt"},
      {{5, 4}, "le"},           {{12, 10}, "and"},        {{12, 10}, "or"},       {{12, 10}, "xor"},
      {{1}, "not"},             {{0}, "not"},             {{1, 2}, "lt not"},     {{1, 2}, "gt not"},
      {{1, 2}, "lt 3 4 lt and"}, {{1, 2}, "gt 3 4 lt or"}, {{1, 2}, "lt 3 4 lt xor"},
      {{1, 3}, "bitshift"},     {{16, -2}, "bitshift"},   {{5, 0}, "bitshift"},   {{}, "true false"},
      {{1, 2}, "pop"},          {{1, 2}, "exch"},         {{1, 2}, "dup"},        {{1, 2, 3}, "2 copy"},
      {{1, 2, 3}, "0 copy"},    {{1, 2, 3}, "0 index"},   {{1, 2, 3}, "2 index"}, {{1, 2, 3}, "3 1 roll"},
      {{1, 2, 3}, "3 -1 roll"}, {{1, 2, 3, 4}, "4 2 roll"}, {{1, 2, 3, 4}, "3 -5 roll"}, {{1, 2, 3}, "3 0 roll"},
      {{0.3}, "dup 0.5 gt { 1 sub } if"},
      {{0.7}, "dup 0.5 gt { 1 sub } if"},
      {{0.3}, "dup 0.5 lt { 2 mul } { 3 mul } ifelse"},
      {{0.7}, "dup 0.5 lt { 2 mul } { 3 mul } ifelse"},
      {{0.2, 0.9}, "2 copy gt { sub } { exch sub dup 0.5 gt { 10 mul } { 100 mul } ifelse } ifelse"},
      // A typical CMYK tint transform.
      {{0.4}, "dup 0.1 mul exch dup 0.8 mul exch dup 0 mul exch 0.25 mul"},
  };
  std::string script;
  for (const CalcCase& c : cases) {
    script += "[ ";
    for (double v : c.inputs) script += numberText(v) + " ";
    script += "{ " + c.program + " } exec ] { == } forall (---) =\n";
  }
  pvltest::TempDir dir;
  pvltest::WriteFile(dir.File("cases.ps"), script);
  pvltest::CommandResult r =
      pvltest::RunCommand({"gs", "-dNODISPLAY", "-dNOSAFER", "-dBATCH", "-q", dir.File("cases.ps")});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  std::istringstream lines(r.out);
  std::string line;
  for (const CalcCase& c : cases) {
    std::vector<double> expected;
    while (std::getline(lines, line) && line != "---") {
      if (line == "true") expected.push_back(1);
      else if (line == "false") expected.push_back(0);
      else expected.push_back(std::stod(line));
    }
    ASSERT_FALSE(expected.empty()) << c.program << ": " << r.out;
    auto f = calc("{ " + c.program + " }", std::max<int>(1, static_cast<int>(c.inputs.size())),
                  static_cast<int>(expected.size()));
    std::vector<double> inputs = c.inputs;
    if (inputs.empty()) {
      // The function needs one input; drop it first so the stack starts empty.
      f = calc("{ pop " + c.program + " }", 1, static_cast<int>(expected.size()));
      inputs = {0};
    }
    std::vector<double> out = eval(*f, inputs);
    ASSERT_EQ(out.size(), expected.size()) << c.program;
    for (size_t j = 0; j < out.size(); ++j) {
      // Ghostscript computes reals in single precision.
      EXPECT_NEAR(out[j], expected[j], 1e-5 * std::max(1.0, std::fabs(expected[j])))
          << c.program << " with inputs " << ::testing::PrintToString(c.inputs) << ", output " << j;
    }
  }
}

}  // namespace
