#include "graphics/PavonaFunctions.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <map>
#include <set>

#include "objects/PavonaExtra.h"
#include "objects/PavonaCharClass.h"

namespace {

double interpolate(double x, double x0, double x1, double y0, double y1) {
  // A zero-width source interval maps everything onto its start.
  if (x1 == x0) return y0;
  return y0 + (x - x0) * (y1 - y0) / (x1 - x0);
}

double clip(double v, double lo, double hi) {
  if (v < lo) return lo;
  if (v > hi) return hi;
  return v;
}

double finiteOrZero(double v) { return std::isfinite(v) ? v : 0.0; }

TPDFDictionary* functionDictionary(TPDFObject* obj, std::string* data) {
  obj = PDFResolve(obj);
  if (TPDFStream* stream = PDFAsStream(obj)) {
    if (data) *data = stream->GetDecodedData();
    return stream->GetDictionary();
  }
  return PDFAsDictionary(obj);
}

// FunctionType of obj when it is 0, 2, 3 or 4; -1 otherwise.
int functionType(TPDFObject* obj) {
  TPDFDictionary* dict = functionDictionary(obj, nullptr);
  if (!dict) return -1;
  TPDFNumeric* type = dict->GetNumeric("FunctionType");
  if (!type) return -1;
  double v = type->GetValue();
  if (v == 0 || v == 2 || v == 3 || v == 4) return static_cast<int>(v);
  return -1;
}

}  // namespace

// State shared while one stitching tree is built: the functions under
// construction (a function inside itself is refused), the functions already
// built (so a shared sub-function is built once) and the nesting depth.
struct TPDFFunctionBuildContext {
  std::set<const TPDFObject*> inProgress;
  std::map<const TPDFObject*, std::shared_ptr<const TPDFFunction>> built;
  int32_t depth = 0;
};

namespace {

constexpr size_t kMaxFunctionsPerTree = 4096;

std::shared_ptr<const TPDFFunction> buildSubFunction(TPDFObject* obj, TPDFFunctionBuildContext& context) {
  TPDFObject* target = PDFResolve(obj);
  if (!target) throw EPDFFunctionError("Stitching function: a sub-function is missing");
  TPDFObject* key = target;
  if (context.inProgress.count(key)) throw EPDFFunctionError("Stitching function contains itself");
  auto found = context.built.find(key);
  if (found != context.built.end()) return found->second;
  if (context.built.size() >= kMaxFunctionsPerTree)
    throw EPDFFunctionError("Stitching function has too many sub-functions");
  int type = functionType(target);
  std::shared_ptr<const TPDFFunction> result;
  switch (type) {
    case 0: result = std::make_shared<TPDFType0Function>(target); break;
    case 2: result = std::make_shared<TPDFType2Function>(target); break;
    case 3: {
      if (context.depth >= kMaxFunctionDepth) throw EPDFFunctionError("Stitching functions nest too deeply");
      context.inProgress.insert(key);
      ++context.depth;
      result = std::make_shared<TPDFType3Function>(target, context);
      --context.depth;
      context.inProgress.erase(key);
      break;
    }
    case 4: result = std::make_shared<TPDFType4Function>(target); break;
    default: throw EPDFFunctionError("Stitching function: a sub-function is not a supported function");
  }
  context.built.emplace(key, result);
  return result;
}

}  // namespace

// ---------------------------------------------------------------------------
// Base

TPDFFunction::TPDFFunction(TPDFObject* obj) {
  dictionary_ = functionDictionary(obj, &data_);
  if (!dictionary_) throw EPDFFunctionError("Function is not a dictionary or stream");
  domain_ = readNumbers("Domain");
  range_ = readNumbers("Range");
  m_ = static_cast<int32_t>(std::min<size_t>(domain_.size() / 2, INT32_MAX));
  n_ = static_cast<int32_t>(std::min<size_t>(range_.size() / 2, INT32_MAX));
  if (m_ < 1) throw EPDFFunctionError("Function has no Domain");
  if (m_ > kMaxFunctionInputs) throw EPDFFunctionError("Function has too many inputs");
  if (n_ > kMaxFunctionOutputs) throw EPDFFunctionError("Function has too many outputs");
}

bool TPDFFunction::hasKey(std::string_view key) const { return dictionary_->GetValue(key) != nullptr; }

std::vector<double> TPDFFunction::readNumbers(std::string_view key) const {
  std::vector<double> values;
  TPDFArray* array = PDFAsArray(dictionary_->GetValue(key, true));
  if (!array) return values;
  values.reserve(array->GetCount());
  for (TPDFObject* item : array->Items()) {
    TPDFNumeric* number = PDFAsNumeric(PDFResolve(item));
    values.push_back(number ? finiteOrZero(number->GetValue()) : 0.0);
  }
  return values;
}

double TPDFFunction::clipInput(std::span<const double> inputs, int32_t i) const {
  double x = static_cast<size_t>(i) < inputs.size() ? inputs[i] : 0.0;
  x = finiteOrZero(x);
  return clip(x, domain_[2 * i], domain_[2 * i + 1]);
}

void TPDFFunction::finishOutputs(std::vector<double>& outputs) const {
  for (size_t j = 0; j < outputs.size(); ++j) {
    double v = finiteOrZero(outputs[j]);
    if (2 * j + 1 < range_.size()) v = clip(v, range_[2 * j], range_[2 * j + 1]);
    outputs[j] = v;
  }
}

// ---------------------------------------------------------------------------
// Type 0: sampled

TPDFType0Function::TPDFType0Function(TPDFObject* obj) : TPDFFunction(obj) {
  if (n_ < 1) throw EPDFFunctionError("Sampled function has no Range");
  if (m_ > kMaxSampledInputs) throw EPDFFunctionError("Sampled function has too many inputs");
  size_ = readNumbers("Size");
  if (size_.size() < static_cast<size_t>(m_)) throw EPDFFunctionError("Sampled function: Size is too short");
  int64_t bps = dictionary_->GetInteger("BitsPerSample", 0);
  switch (bps) {
    case 1: case 2: case 4: case 8: case 12: case 16: case 24: case 32: break;
    default: throw EPDFFunctionError("Sampled function: unsupported BitsPerSample");
  }
  bitsPerSample_ = static_cast<int32_t>(bps);
  maxSample_ = std::ldexp(1.0, bitsPerSample_) - 1.0;
  order_ = static_cast<int32_t>(std::clamp<int64_t>(dictionary_->GetInteger("Order", 1), INT32_MIN, INT32_MAX));

  // The whole sample table must be addressable; 2^40 bits is far beyond any
  // stream the filters decode, so larger tables are malformed.
  constexpr double kMaxTableBits = 1099511627776.0;
  double tableBits = static_cast<double>(bitsPerSample_) * n_;
  uint64_t stride = 1;
  for (int32_t i = 0; i < m_; ++i) {
    double s = size_[i];
    if (!(s >= 1) || s != std::floor(s)) throw EPDFFunctionError("Sampled function: Size entries must be positive integers");
    tableBits *= s;
    if (tableBits > kMaxTableBits) throw EPDFFunctionError("Sampled function: sample table is too large");
    sizes_.push_back(static_cast<uint64_t>(s));
    strides_.push_back(stride);
    stride *= static_cast<uint64_t>(s);
  }

  if (hasKey("Encode")) {
    encode_ = readNumbers("Encode");
    if (encode_.size() < 2 * static_cast<size_t>(m_)) throw EPDFFunctionError("Sampled function: Encode is too short");
  } else {
    for (int32_t i = 0; i < m_; ++i) {
      encode_.push_back(0);
      encode_.push_back(size_[i] - 1);
    }
  }
  if (hasKey("Decode")) {
    decode_ = readNumbers("Decode");
    if (decode_.size() < 2 * static_cast<size_t>(n_)) throw EPDFFunctionError("Sampled function: Decode is too short");
  } else {
    decode_ = range_;
  }
}

uint32_t TPDFType0Function::readSample(uint64_t bitOffset) const {
  // Gather the (at most five) bytes that hold the sample; bytes past the end
  // of the data read as 0.
  uint64_t byte = bitOffset / 8;
  uint32_t shift = static_cast<uint32_t>(bitOffset % 8);
  uint32_t needed = (shift + bitsPerSample_ + 7) / 8;
  uint64_t window = 0;
  for (uint32_t k = 0; k < needed; ++k) {
    uint64_t at = byte + k;
    uint8_t b = at < data_.size() ? static_cast<uint8_t>(data_[at]) : 0;
    window = (window << 8) | b;
  }
  uint32_t unused = needed * 8 - shift - bitsPerSample_;
  uint64_t mask = (uint64_t{1} << bitsPerSample_) - 1;
  return static_cast<uint32_t>((window >> unused) & mask);
}

void TPDFType0Function::Evaluate(std::span<const double> inputs, std::vector<double>& outputs) const {
  // Each input selects a cell of the sample grid: its lower corner and the
  // fraction of the way to the next sample.
  std::array<uint64_t, kMaxSampledInputs> lower{};
  std::array<double, kMaxSampledInputs> fraction{};
  std::array<int32_t, kMaxSampledInputs> moving{};  // inputs with a non-zero fraction
  int32_t movingCount = 0;
  uint64_t baseIndex = 0;
  for (int32_t i = 0; i < m_; ++i) {
    double x = clipInput(inputs, i);
    double maxIndex = static_cast<double>(sizes_[i] - 1);
    double e = interpolate(x, domain_[2 * i], domain_[2 * i + 1], encode_[2 * i], encode_[2 * i + 1]);
    e = clip(finiteOrZero(e), 0.0, maxIndex);
    double k = std::floor(e);
    if (k >= maxIndex) k = maxIndex;
    lower[i] = static_cast<uint64_t>(k);
    fraction[i] = e - k;
    baseIndex += lower[i] * strides_[i];
    if (fraction[i] > 0) moving[movingCount++] = i;
  }

  outputs.assign(n_, 0.0);
  const uint64_t sampleBits = static_cast<uint64_t>(bitsPerSample_) * n_;
  // Multilinear interpolation over the corners of the cell; inputs that sit
  // exactly on a sample contribute a single corner.
  const uint32_t corners = 1u << movingCount;
  for (uint32_t corner = 0; corner < corners; ++corner) {
    double weight = 1;
    uint64_t index = baseIndex;
    for (int32_t b = 0; b < movingCount; ++b) {
      int32_t i = moving[b];
      if (corner & (1u << b)) {
        weight *= fraction[i];
        index += strides_[i];
      } else {
        weight *= 1 - fraction[i];
      }
    }
    if (weight == 0) continue;
    uint64_t offset = index * sampleBits;
    for (int32_t j = 0; j < n_; ++j) {
      outputs[j] += weight * readSample(offset + static_cast<uint64_t>(j) * bitsPerSample_);
    }
  }
  for (int32_t j = 0; j < n_; ++j)
    outputs[j] = interpolate(outputs[j], 0, maxSample_, decode_[2 * j], decode_[2 * j + 1]);
  finishOutputs(outputs);
}

// ---------------------------------------------------------------------------
// Type 2: exponential

TPDFType2Function::TPDFType2Function(TPDFObject* obj) : TPDFFunction(obj) {
  c0_ = hasKey("C0") ? readNumbers("C0") : std::vector<double>{0.0};
  c1_ = hasKey("C1") ? readNumbers("C1") : std::vector<double>{1.0};
  if (c0_.size() != c1_.size()) throw EPDFFunctionError("Exponential function: C0 and C1 differ in length");
  if (n_ == 0) {
    if (c0_.empty() || c0_.size() > static_cast<size_t>(kMaxFunctionOutputs))
      throw EPDFFunctionError("Exponential function: bad C0 length");
    n_ = static_cast<int32_t>(c0_.size());
  } else if (c0_.size() < static_cast<size_t>(n_)) {
    throw EPDFFunctionError("Exponential function: C0 and C1 are shorter than Range");
  }
  exponent_ = finiteOrZero(dictionary_->GetNumber("N", 1));
}

void TPDFType2Function::Evaluate(std::span<const double> inputs, std::vector<double>& outputs) const {
  double x = clipInput(inputs, 0);
  double p = exponent_ == 1 ? x : std::pow(x, exponent_);
  outputs.resize(n_);
  for (int32_t i = 0; i < n_; ++i) outputs[i] = c0_[i] + p * (c1_[i] - c0_[i]);
  finishOutputs(outputs);
}

// ---------------------------------------------------------------------------
// Type 3: stitching

TPDFType3Function::TPDFType3Function(TPDFObject* obj) : TPDFFunction(obj) {
  TPDFFunctionBuildContext context;
  context.inProgress.insert(PDFResolve(obj));
  context.depth = 1;
  build(context);
}

TPDFType3Function::TPDFType3Function(TPDFObject* obj, TPDFFunctionBuildContext& context) : TPDFFunction(obj) {
  build(context);
}

void TPDFType3Function::build(TPDFFunctionBuildContext& context) {
  TPDFArray* list = PDFAsArray(dictionary_->GetValue("Functions", true));
  if (!list || list->GetCount() < 1) throw EPDFFunctionError("Stitching function has no Functions");
  const size_t k = static_cast<size_t>(list->GetCount());
  if (k > kMaxFunctionsPerTree) throw EPDFFunctionError("Stitching function has too many sub-functions");
  std::vector<double> bounds = readNumbers("Bounds");
  if (bounds.size() < k - 1) throw EPDFFunctionError("Stitching function: Bounds is too short");
  bounds_.assign(bounds.begin(), bounds.begin() + static_cast<std::ptrdiff_t>(k - 1));
  bounds_.push_back(domain_[1]);
  if (hasKey("Encode")) {
    encode_ = readNumbers("Encode");
    if (encode_.size() < 2 * k) throw EPDFFunctionError("Stitching function: Encode is too short");
  } else {
    for (size_t i = 0; i < k; ++i) {
      encode_.push_back(0);
      encode_.push_back(1);
    }
  }
  functions_.reserve(k);
  for (TPDFObject* item : list->Items()) functions_.push_back(buildSubFunction(item, context));
  int32_t subOutputs = functions_[0]->GetOutputCount();
  for (const auto& f : functions_) {
    if (f->GetOutputCount() != subOutputs)
      throw EPDFFunctionError("Stitching function: sub-functions differ in their output count");
  }
  if (n_ == 0) {
    n_ = subOutputs;
  } else if (n_ != subOutputs) {
    throw EPDFFunctionError("Stitching function: Range does not match the sub-functions");
  }
}

void TPDFType3Function::Evaluate(std::span<const double> inputs, std::vector<double>& outputs) const {
  double x = clipInput(inputs, 0);
  double lower = domain_[0];
  size_t i = 0;
  const size_t last = functions_.size() - 1;
  while (i < last && !(x >= lower && x < bounds_[i])) {
    lower = bounds_[i];
    ++i;
  }
  double sub = interpolate(x, lower, bounds_[i], encode_[2 * i], encode_[2 * i + 1]);
  functions_[i]->Evaluate(std::span<const double>(&sub, 1), outputs);
  outputs.resize(n_);
  finishOutputs(outputs);
}

// ---------------------------------------------------------------------------
// Type 4: PostScript calculator

namespace {

enum TCalcOp : uint8_t {
  opPush, opJumpUnless, opJump, opPop,
  opAdd, opSub, opMul, opDiv, opIdiv, opMod, opNeg, opAbs, opCeiling, opFloor, opRound, opTruncate,
  opSqrt, opSin, opCos, opAtan, opExp, opLn, opLog, opCvi, opCvr,
  opEq, opNe, opGt, opGe, opLt, opLe, opAnd, opOr, opXor, opNot, opBitshift, opTrue, opFalse,
  opExch, opDup, opCopy, opIndex, opRoll,
  opNone
};

struct TOperatorName {
  const char* name;
  TCalcOp op;
};

constexpr TOperatorName kOperators[] = {
    {"abs", opAbs},         {"add", opAdd},     {"and", opAnd},       {"atan", opAtan},   {"bitshift", opBitshift},
    {"ceiling", opCeiling}, {"copy", opCopy},   {"cos", opCos},       {"cvi", opCvi},     {"cvr", opCvr},
    {"div", opDiv},         {"dup", opDup},     {"eq", opEq},         {"exch", opExch},   {"exp", opExp},
    {"false", opFalse},     {"floor", opFloor}, {"ge", opGe},         {"gt", opGt},       {"idiv", opIdiv},
    {"index", opIndex},     {"le", opLe},       {"ln", opLn},         {"log", opLog},     {"lt", opLt},
    {"mod", opMod},         {"mul", opMul},     {"ne", opNe},         {"neg", opNeg},     {"not", opNot},
    {"or", opOr},           {"pop", opPop},     {"roll", opRoll},     {"round", opRound}, {"sin", opSin},
    {"sqrt", opSqrt},       {"sub", opSub},     {"true", opTrue},     {"truncate", opTruncate},
    {"xor", opXor},
};

TCalcOp lookupOperator(std::string_view word) {
  for (const TOperatorName& entry : kOperators) {
    if (word == entry.name) return entry.op;
  }
  return opNone;
}

bool isCalcSpace(uint8_t c) { return PDFIsWhite(c); }

constexpr int32_t kMaxProcedureNesting = 100;

using TCode = std::vector<TPDFType4Function::TInstruction>;

// Splits the program into tokens and compiles it. Jumps are stored relative
// to their own position so that a compiled procedure can be inlined anywhere.
class TCalcCompiler {
public:
  explicit TCalcCompiler(std::string_view text) : text_(text) {}

  TCode compileAll() { return compileBlock(0); }

private:
  bool nextToken(std::string_view& token) {
    while (pos_ < text_.size() && isCalcSpace(static_cast<uint8_t>(text_[pos_]))) ++pos_;
    if (pos_ >= text_.size()) return false;
    size_t start = pos_;
    char c = text_[pos_];
    if (c == '{' || c == '}') {
      ++pos_;
    } else {
      while (pos_ < text_.size()) {
        char d = text_[pos_];
        if (isCalcSpace(static_cast<uint8_t>(d)) || d == '{' || d == '}') break;
        ++pos_;
      }
    }
    token = text_.substr(start, pos_ - start);
    return true;
  }

  static void append(TCode& code, const TCode& part) { code.insert(code.end(), part.begin(), part.end()); }

  static void emit(TCode& code, TCalcOp op, double value = 0, int32_t target = 0) {
    TPDFType4Function::TInstruction ins;
    ins.op = op;
    ins.value = value;
    ins.target = target;
    code.push_back(ins);
  }

  // Compiles tokens up to the "}" that closes this block (depth > 0) or the
  // end of the program. Procedures are kept until the next if or ifelse,
  // which runs the first (if) or one of the first two (ifelse).
  TCode compileBlock(int32_t depth) {
    if (depth > kMaxProcedureNesting) throw EPDFFunctionError("Calculator function: procedures nest too deeply");
    TCode code;
    std::vector<TCode> procedures;
    std::string_view token;
    while (nextToken(token)) {
      if (token == "{") {
        procedures.push_back(compileBlock(depth + 1));
        continue;
      }
      if (token == "}") {
        if (depth > 0) return code;
        continue;  // a stray closing brace
      }
      uint8_t first = static_cast<uint8_t>(token[0]);
      if (first < 'a' || first > 'z') {
        emit(code, opPush, finiteOrZero(PDFTextToFloat(token)));
        continue;
      }
      if (token == "if") {
        if (!procedures.empty()) {
          const TCode& proc = procedures[0];
          emit(code, opJumpUnless, 0, static_cast<int32_t>(proc.size()) + 1);
          append(code, proc);
        } else {
          emit(code, opPop);
        }
        procedures.clear();
        continue;
      }
      if (token == "ifelse") {
        if (procedures.size() >= 2) {
          const TCode& yes = procedures[0];
          const TCode& no = procedures[1];
          emit(code, opJumpUnless, 0, static_cast<int32_t>(yes.size()) + 2);
          append(code, yes);
          emit(code, opJump, 0, static_cast<int32_t>(no.size()) + 1);
          append(code, no);
        } else {
          emit(code, opPop);
        }
        procedures.clear();
        continue;
      }
      TCalcOp op = lookupOperator(token);
      if (op != opNone) emit(code, op);
      // Unknown words are ignored.
    }
    return code;
  }

  std::string_view text_;
  size_t pos_ = 0;
};

// One stack entry: a number, or a truth value (so that "not" and the bitwise
// operators treat comparisons as booleans, as PostScript does).
struct TCalcValue {
  double v;
  bool isBool;
};

int32_t toInteger(double v) {
  if (!std::isfinite(v)) return 0;
  double r = std::nearbyint(v);
  if (r >= 2147483647.0) return INT32_MAX;
  if (r <= -2147483648.0) return INT32_MIN;
  return static_cast<int32_t>(r);
}

class TCalcStack {
public:
  void push(double v, bool isBool = false) {
    if (size_ >= kMaxCalculatorStack) throw EPDFFunctionError("Calculator function: stack overflow");
    items_[size_++] = TCalcValue{finiteOrZero(v), isBool};
  }
  void pushBool(bool b) { push(b ? 1.0 : 0.0, true); }
  // Pop from an empty stack gives 0.
  TCalcValue pop() { return size_ > 0 ? items_[--size_] : TCalcValue{0.0, false}; }
  double popNumber() { return pop().v; }
  int32_t popInt() { return toInteger(pop().v); }
  // The entry k below the top (0 = top); 0 below the bottom.
  TCalcValue peek(int32_t k) const {
    return k >= 0 && k < size_ ? items_[size_ - 1 - k] : TCalcValue{0.0, false};
  }
  int32_t size() const { return size_; }
  TCalcValue* top(int32_t count) { return &items_[size_ - count]; }

private:
  std::array<TCalcValue, kMaxCalculatorStack> items_{};
  int32_t size_ = 0;
};

double degrees(double radians) { return radians * 180.0 / 3.14159265358979323846; }
double radians(double degrees) { return degrees * 3.14159265358979323846 / 180.0; }

void runProgram(const TCode& code, TCalcStack& stack) {
  const size_t count = code.size();
  size_t pc = 0;
  while (pc < count) {
    const auto& ins = code[pc];
    switch (static_cast<TCalcOp>(ins.op)) {
      case opPush: stack.push(ins.value); break;
      case opJumpUnless: {
        TCalcValue c = stack.pop();
        if (c.v != 1.0) {
          pc += ins.target;
          continue;
        }
        break;
      }
      case opJump: pc += ins.target; continue;
      case opPop: stack.pop(); break;
      case opAdd: { double b = stack.popNumber(), a = stack.popNumber(); stack.push(a + b); break; }
      case opSub: { double b = stack.popNumber(), a = stack.popNumber(); stack.push(a - b); break; }
      case opMul: { double b = stack.popNumber(), a = stack.popNumber(); stack.push(a * b); break; }
      case opDiv: { double b = stack.popNumber(), a = stack.popNumber(); stack.push(b == 0 ? 0.0 : a / b); break; }
      case opIdiv: {
        int64_t b = stack.popInt(), a = stack.popInt();
        stack.push(b == 0 ? 0.0 : static_cast<double>(a / b));
        break;
      }
      case opMod: {
        int64_t b = stack.popInt(), a = stack.popInt();
        stack.push(b == 0 ? 0.0 : static_cast<double>(a % b));
        break;
      }
      case opNeg: stack.push(-stack.popNumber()); break;
      case opAbs: stack.push(std::fabs(stack.popNumber())); break;
      case opCeiling: stack.push(std::ceil(stack.popNumber())); break;
      case opFloor: stack.push(std::floor(stack.popNumber())); break;
      // PostScript rounds halves upwards (2.5 -> 3, -2.5 -> -2).
      case opRound: stack.push(std::floor(stack.popNumber() + 0.5)); break;
      case opTruncate: stack.push(std::trunc(stack.popNumber())); break;
      case opSqrt: { double a = stack.popNumber(); stack.push(a < 0 ? 0.0 : std::sqrt(a)); break; }
      case opSin: stack.push(std::sin(radians(std::fmod(stack.popNumber(), 360.0)))); break;
      case opCos: stack.push(std::cos(radians(std::fmod(stack.popNumber(), 360.0)))); break;
      case opAtan: {
        double den = stack.popNumber(), num = stack.popNumber();
        double r = (num == 0 && den == 0) ? 0.0 : degrees(std::atan2(num, den));
        if (r < 0) r += 360.0;
        if (r >= 360.0) r -= 360.0;
        stack.push(r);
        break;
      }
      case opExp: { double e = stack.popNumber(), b = stack.popNumber(); stack.push(std::pow(b, e)); break; }
      case opLn: { double a = stack.popNumber(); stack.push(a > 0 ? std::log(a) : 0.0); break; }
      case opLog: { double a = stack.popNumber(); stack.push(a > 0 ? std::log10(a) : 0.0); break; }
      // cvi truncates towards zero, as PostScript does.
      case opCvi: {
        double a = std::trunc(stack.popNumber());
        stack.push(std::clamp(a, -2147483648.0, 2147483647.0));
        break;
      }
      case opCvr: { double a = stack.popNumber(); stack.push(a); break; }
      case opEq: { double b = stack.popNumber(), a = stack.popNumber(); stack.pushBool(a == b); break; }
      case opNe: { double b = stack.popNumber(), a = stack.popNumber(); stack.pushBool(a != b); break; }
      case opGt: { double b = stack.popNumber(), a = stack.popNumber(); stack.pushBool(a > b); break; }
      case opGe: { double b = stack.popNumber(), a = stack.popNumber(); stack.pushBool(a >= b); break; }
      case opLt: { double b = stack.popNumber(), a = stack.popNumber(); stack.pushBool(a < b); break; }
      case opLe: { double b = stack.popNumber(), a = stack.popNumber(); stack.pushBool(a <= b); break; }
      case opAnd: case opOr: case opXor: {
        TCalcValue b = stack.pop(), a = stack.pop();
        uint32_t x = static_cast<uint32_t>(toInteger(a.v)), y = static_cast<uint32_t>(toInteger(b.v));
        uint32_t r = ins.op == opAnd ? (x & y) : ins.op == opOr ? (x | y) : (x ^ y);
        if (a.isBool && b.isBool) {
          stack.pushBool(r != 0);
        } else {
          stack.push(static_cast<double>(static_cast<int32_t>(r)));
        }
        break;
      }
      case opNot: {
        TCalcValue a = stack.pop();
        if (a.isBool) {
          stack.pushBool(a.v == 0);
        } else {
          stack.push(static_cast<double>(~toInteger(a.v)));
        }
        break;
      }
      case opBitshift: {
        int32_t s = stack.popInt();
        uint32_t a = static_cast<uint32_t>(stack.popInt());
        uint32_t r = a;
        if (s > 0) r = s >= 32 ? 0 : a << s;
        if (s < 0) r = s <= -32 ? 0 : a >> (-static_cast<int64_t>(s));
        stack.push(static_cast<double>(static_cast<int32_t>(r)));
        break;
      }
      case opTrue: stack.pushBool(true); break;
      case opFalse: stack.pushBool(false); break;
      case opExch: {
        TCalcValue b = stack.pop(), a = stack.pop();
        stack.push(b.v, b.isBool);
        stack.push(a.v, a.isBool);
        break;
      }
      case opDup: { TCalcValue a = stack.peek(0); stack.push(a.v, a.isBool); break; }
      case opCopy: {
        int32_t k = stack.popInt();
        if (k <= 0) break;
        if (k > kMaxCalculatorStack) throw EPDFFunctionError("Calculator function: stack overflow");
        // Entries below the bottom read as 0.
        for (int32_t i = 0; i < k; ++i) {
          TCalcValue a = stack.peek(k - 1);
          stack.push(a.v, a.isBool);
        }
        break;
      }
      case opIndex: {
        int32_t k = stack.popInt();
        TCalcValue a = stack.peek(k);
        stack.push(a.v, a.isBool);
        break;
      }
      case opRoll: {
        int64_t j = stack.popInt();
        int64_t n = stack.popInt();
        // Only the entries that exist take part.
        n = std::min<int64_t>(n, stack.size());
        if (n <= 1) break;
        int64_t shift = ((j % n) + n) % n;  // positive j moves entries towards the top
        if (shift == 0) break;
        TCalcValue* base = stack.top(static_cast<int32_t>(n));
        std::rotate(base, base + (n - shift), base + n);
        break;
      }
      case opNone: break;
    }
    ++pc;
  }
}

}  // namespace

TPDFType4Function::TPDFType4Function(TPDFObject* obj) : TPDFFunction(obj) {
  if (n_ < 1) throw EPDFFunctionError("Calculator function has no Range");
  std::string_view text = data_;
  size_t start = 0;
  while (start < text.size() && isCalcSpace(static_cast<uint8_t>(text[start]))) ++start;
  if (start < text.size() && text[start] == '{') ++start;
  size_t end = text.rfind('}');
  if (end == std::string_view::npos || end < start) end = text.size();
  compile(text.substr(start, end - start));
}

void TPDFType4Function::compile(std::string_view program) {
  TCalcCompiler compiler(program);
  code_ = compiler.compileAll();
}

void TPDFType4Function::Evaluate(std::span<const double> inputs, std::vector<double>& outputs) const {
  TCalcStack stack;
  for (int32_t i = 0; i < m_; ++i) stack.push(clipInput(inputs, i));
  runProgram(code_, stack);
  outputs.resize(n_);
  for (int32_t j = n_ - 1; j >= 0; --j) outputs[j] = stack.popNumber();
  finishOutputs(outputs);
}

// ---------------------------------------------------------------------------

std::unique_ptr<TPDFFunction> CreatePDFFunction(TPDFObject* obj) {
  switch (functionType(obj)) {
    case 0: return std::make_unique<TPDFType0Function>(obj);
    case 2: return std::make_unique<TPDFType2Function>(obj);
    case 3: return std::make_unique<TPDFType3Function>(obj);
    case 4: return std::make_unique<TPDFType4Function>(obj);
    default: return nullptr;
  }
}
