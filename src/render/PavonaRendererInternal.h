// State of one interpreter run, shared by the renderer's source files.
#pragma once

#include <array>
#include <cstdint>
#include <exception>
#include <utility>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "objects/PavonaExtra.h"
#include "render/PavonaRenderer.h"

// Most components a colour value is read with.
constexpr int32_t kMaxColorComponents = 32;

// The rule as the EPS output takes it (1 nonzero winding, 2 even-odd).
constexpr int RuleCode(TFillRule rule) { return static_cast<int>(rule); }

struct TPDFRenderer::TRun {
  TPDFPicasso* canvas = nullptr;
  TPDFObject* object = nullptr;
  bool isPage = false;
  std::string owned;      // content read from streams
  std::string_view text;  // the content being read
  size_t pos = 0;         // reading position (0-based)
  std::vector<std::string_view> operands;
  std::vector<TPDFGraphicsState> stack;
  size_t overflow = 0;  // q operations beyond the saved depth
  TPDFGraphicsState gs;
  TPDFDictionary* resources = nullptr;
  bool pathOpen = false;
  bool visible = true;
  bool uncolouredGlyph = false;
  int32_t textArrayCount = 0;
  TFillRule fillRule = frNonZero;  // rule of the last fill set-up
  std::vector<bool> marked;  // visibility before each open marked-content section

  std::string_view NextToken();
  void Push(std::string_view token);
  double PopNumber();
  std::string_view PopName();
};

// Operands of one operator, taken off the stack before its handler runs and
// read in the order they were written. A stack shorter than the operator's
// count leaves the first operands empty: they read as 0 and as an empty
// name, which is what a short stack has always given.
struct TPDFRenderer::TOperands {
  static constexpr size_t MaxCount = 6;
  std::array<std::string_view, MaxCount> items{};
  std::array<double, MaxCount> numbers{};

  double Number(size_t i) const { return numbers[i]; }
  std::string_view Name(size_t i) const { return items[i]; }
  // The six numbers of cm and Tm, a b c d e f, as a matrix.
  TPDFMatrix Matrix() const { return TPDFMatrix{numbers[0], numbers[1], numbers[2], numbers[3], numbers[4], numbers[5]}; }
};

// One entry of the operator table. Kinds, one letter per operand: 'n' a
// number (parsed once, before the handler), '/' a name (the operator is
// skipped when the operand is anything else), '*' taken as written.
// Operators whose operands depend on state (colour operators read as many
// components as the colour space has, text showing reads the marked text
// operands) take ReadsStack and read the stack themselves.
struct TPDFRenderer::TOperator {
  static constexpr int8_t ReadsStack = -1;
  using THandler = void (*)(TPDFRenderer&, TRun&, const TOperands&);
  std::string_view name;
  int8_t count = 0;
  std::string_view kinds;
  THandler handler = nullptr;
};

// ---------------------------------------------------------------------------
// Scope guards. Each undoes one step of a run when its scope ends, by return
// or by exception, so a failing form, pattern cell, glyph or image leaves the
// renderer as it found it. An undo step that fails while an exception is
// already on its way is dropped: the first failure is the one reported.

// Runs an undo step; one that fails while an exception is already on its
// way is dropped (a destructor may not throw then).
template <class TUndo>
void RunUndoStep(int exceptionsAtStart, TUndo&& undo) {
  if (std::uncaught_exceptions() > exceptionsAtStart) {
    try {
      undo();
    } catch (...) {
    }
  } else {
    undo();
  }
}

// Runs an undo step at the end of a scope.
template <class TUndo>
class TScopeExit {
 public:
  explicit TScopeExit(TUndo undo) : undo_(std::move(undo)), exceptions_(std::uncaught_exceptions()) {}
  ~TScopeExit() noexcept(false) { RunUndoStep(exceptions_, undo_); }
  TScopeExit(const TScopeExit&) = delete;
  TScopeExit& operator=(const TScopeExit&) = delete;

 private:
  TUndo undo_;
  int exceptions_;
};

// Gives a variable a value at the end of a scope (the value it has now,
// unless another is given).
template <class T>
class TAssignOnExit {
 public:
  explicit TAssignOnExit(T& variable) : variable_(variable), value_(variable) {}
  TAssignOnExit(T& variable, T value) : variable_(variable), value_(std::move(value)) {}
  ~TAssignOnExit() { variable_ = std::move(value_); }
  TAssignOnExit(const TAssignOnExit&) = delete;
  TAssignOnExit& operator=(const TAssignOnExit&) = delete;

 private:
  T& variable_;
  T value_;
};

// Saves the graphics state (q) for a scope and restores it (Q) at its end:
// the clip, the CTM and the saved-state stack are as they were. Nothing is
// restored when the save itself fails.
struct TPDFRenderer::TStateSave {
  TStateSave(TPDFRenderer& renderer, TRun& run) : renderer_(renderer), run_(run) { renderer_.PushState(run_); }
  ~TStateSave() noexcept(false) {
    RunUndoStep(exceptions_, [this] { renderer_.PopState(run_); });
  }
  TStateSave(const TStateSave&) = delete;
  TStateSave& operator=(const TStateSave&) = delete;

 private:
  TPDFRenderer& renderer_;
  TRun& run_;
  int exceptions_ = std::uncaught_exceptions();
};

// Decrypts a shared stream object for a scope and encrypts it again at its
// end: no read, failed or not, leaves a document's stream decrypted.
class TStreamDecryption {
 public:
  TStreamDecryption(TPDFRenderer& renderer, TPDFStream* stream, TPDFIndRef* ref)
      : renderer_(renderer), stream_(stream), ref_(ref) {
    if (ref_ && renderer_.OnDecryptStream) renderer_.OnDecryptStream(stream_, ref_);
  }
  ~TStreamDecryption() noexcept(false) {
    RunUndoStep(exceptions_, [this] {
      if (ref_ && renderer_.OnEncryptStream) renderer_.OnEncryptStream(stream_, ref_);
    });
  }
  TStreamDecryption(const TStreamDecryption&) = delete;
  TStreamDecryption& operator=(const TStreamDecryption&) = delete;

 private:
  TPDFRenderer& renderer_;
  TPDFStream* stream_;
  TPDFIndRef* ref_;
  int exceptions_ = std::uncaught_exceptions();
};
