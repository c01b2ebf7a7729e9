// PDF function objects: sampled (type 0), exponential (type 2), stitching
// (type 3) and PostScript calculator (type 4). They map m input numbers to n
// output numbers; the colour spaces use them as tint transforms.
//
// A function is checked completely when it is created: a malformed function
// dictionary raises EPDFFunctionError there, so evaluation (which runs per
// pixel) needs no checks of its own and never reads outside its data.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "objects/PavonaStructure.h"

class EPDFFunctionError : public Exception {
public:
  using Exception::Exception;
};

// Most inputs and outputs a function may declare.
constexpr int32_t kMaxFunctionInputs = 32;
constexpr int32_t kMaxFunctionOutputs = 32;
// A sampled function interpolates between 2^m samples per evaluation, so its
// input count is held lower.
constexpr int32_t kMaxSampledInputs = 16;
// Deepest nesting of stitching functions.
constexpr int32_t kMaxFunctionDepth = 16;
// Operand stack of the calculator (the limit PDF sets for type 4 programs).
constexpr int32_t kMaxCalculatorStack = 100;

class TPDFFunction {
public:
  // Reads the dictionary (of obj, or of obj's stream with its decoded data),
  // Domain and Range.
  explicit TPDFFunction(TPDFObject* obj);
  virtual ~TPDFFunction() = default;
  TPDFFunction(const TPDFFunction&) = delete;
  TPDFFunction& operator=(const TPDFFunction&) = delete;

  // outputs is resized to GetOutputCount() and filled. Missing inputs read
  // as 0 (before clipping to the Domain). Outputs are always finite.
  virtual void Evaluate(std::span<const double> inputs, std::vector<double>& outputs) const = 0;

  int32_t GetInputCount() const { return m_; }
  int32_t GetOutputCount() const { return n_; }
  const std::vector<double>& GetDomain() const { return domain_; }
  const std::vector<double>& GetRange() const { return range_; }
  TPDFDictionary* GetDictionary() const { return dictionary_; }

protected:
  // Input i clipped to its Domain pair.
  double clipInput(std::span<const double> inputs, int32_t i) const;
  // Non-finite values become 0, then each output is clipped to its Range pair.
  void finishOutputs(std::vector<double>& outputs) const;
  // The number array under key (resolved), empty when absent or not an array.
  std::vector<double> readNumbers(std::string_view key) const;
  bool hasKey(std::string_view key) const;

  TPDFDictionary* dictionary_ = nullptr;
  std::string data_;
  std::vector<double> domain_;
  std::vector<double> range_;
  int32_t m_ = 0;
  int32_t n_ = 0;
};

class TPDFType0Function : public TPDFFunction {
public:
  explicit TPDFType0Function(TPDFObject* obj);
  void Evaluate(std::span<const double> inputs, std::vector<double>& outputs) const override;

private:
  uint32_t readSample(uint64_t bitOffset) const;

  std::vector<double> size_;
  int32_t bitsPerSample_ = 0;
  int32_t order_ = 1;
  std::vector<double> encode_;
  std::vector<double> decode_;
  std::vector<uint64_t> sizes_;    // Size as integers
  std::vector<uint64_t> strides_;  // samples to skip per step in each input
  double maxSample_ = 0;           // 2^BitsPerSample - 1
};

class TPDFType2Function : public TPDFFunction {
public:
  explicit TPDFType2Function(TPDFObject* obj);
  void Evaluate(std::span<const double> inputs, std::vector<double>& outputs) const override;

private:
  std::vector<double> c0_;
  std::vector<double> c1_;
  double exponent_ = 1;
};

struct TPDFFunctionBuildContext;

class TPDFType3Function : public TPDFFunction {
public:
  explicit TPDFType3Function(TPDFObject* obj);
  TPDFType3Function(TPDFObject* obj, TPDFFunctionBuildContext& context);
  void Evaluate(std::span<const double> inputs, std::vector<double>& outputs) const override;

private:
  void build(TPDFFunctionBuildContext& context);

  std::vector<double> bounds_;  // Bounds followed by the upper Domain bound
  std::vector<double> encode_;
  // A sub-function may appear several times in one stitching tree; it is
  // built once and shared.
  std::vector<std::shared_ptr<const TPDFFunction>> functions_;
};

class TPDFType4Function : public TPDFFunction {
public:
  explicit TPDFType4Function(TPDFObject* obj);
  void Evaluate(std::span<const double> inputs, std::vector<double>& outputs) const override;

  // One step of the compiled program.
  struct TInstruction {
    uint8_t op = 0;
    int32_t target = 0;  // jump target (index into the code)
    double value = 0;    // pushed number
  };
  const std::vector<TInstruction>& GetCode() const { return code_; }

private:
  void compile(std::string_view program);

  std::vector<TInstruction> code_;
};

// The function for a function dictionary or stream; nullptr when FunctionType
// is missing, not a number or not 0, 2, 3 or 4. Raises EPDFFunctionError for
// a malformed function of a supported type.
std::unique_ptr<TPDFFunction> CreatePDFFunction(TPDFObject* obj);
