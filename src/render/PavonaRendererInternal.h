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

#include "graphics/PavonaGenericCanvas.h"
#include "objects/PavonaExtra.h"
#include "render/PavonaRenderer.h"

// Most components a colour value is read with.
constexpr int32_t kMaxColorComponents = 32;

// The rule as the EPS output takes it (1 nonzero winding, 2 even-odd).
constexpr int RuleCode(TFillRule rule) { return static_cast<int>(rule); }

// A path in device space kept as it was built, to be built again on the
// canvas: a pattern fill takes the path as its clip before the stroke of B
// and b is painted, and the glyphs of text in a clipping mode join the clip
// only when the text object ends.
class TRecordedPath {
public:
  void Clear() { commands_.clear(); }
  bool Empty() const { return commands_.empty(); }
  size_t Size() const { return commands_.size(); }
  // Drops what was added after the path had this size.
  void Truncate(size_t size) {
    if (size < commands_.size()) commands_.resize(size);
  }
  void MoveTo(double x, double y) { commands_.push_back({sckMoveTo, x, y}); }
  void LineTo(double x, double y) { commands_.push_back({sckLineTo, x, y}); }
  void CurveTo(double x1, double y1, double x2, double y2, double x3, double y3) {
    commands_.push_back({sckCurveTo, x1, y1, x2, y2, x3, y3});
  }
  void QuadTo(double cx, double cy, double x, double y) { commands_.push_back({sckQuadTo, cx, cy, x, y}); }
  void ClosePath() { commands_.push_back({sckClosePath}); }
  void Append(const TRecordedPath& other) {
    commands_.insert(commands_.end(), other.commands_.begin(), other.commands_.end());
  }
  // Adds the path to the canvas's current path.
  void Replay(TPDFGenericCanvas& canvas) const;

private:
  std::vector<TPDFShapeCommand> commands_;
};

// Hands path construction on to a canvas (none: the path is only kept) and
// keeps a copy of it; the glyph rasterizers draw their outlines through it.
class TRecordingCanvas final : public TPDFGenericCanvas {
public:
  TRecordingCanvas(TPDFGenericCanvas* target, TRecordedPath& path) : target_(target), path_(path) {}
  void BeginPath() override {
    if (target_) target_->BeginPath();
  }
  void MoveTo(double x, double y) override {
    if (target_) target_->MoveTo(x, y);
    path_.MoveTo(x, y);
  }
  void LineTo(double x, double y) override {
    if (target_) target_->LineTo(x, y);
    path_.LineTo(x, y);
  }
  void CurveTo(double x1, double y1, double x2, double y2, double x3, double y3) override {
    if (target_) target_->CurveTo(x1, y1, x2, y2, x3, y3);
    path_.CurveTo(x1, y1, x2, y2, x3, y3);
  }
  void QuadraticCurveTo(double cx, double cy, double x, double y) override {
    if (target_) target_->QuadraticCurveTo(cx, cy, x, y);
    path_.QuadTo(cx, cy, x, y);
  }
  void ClosePath() override {
    if (target_) target_->ClosePath();
    path_.ClosePath();
  }
  // Glyph outlines are painted by the text's render mode, never by the rasterizer.
  void StrokePath() override {}
  void FillPath() override {}
  void FillAndStrokePath() override {}
  void DrawImage(const TGraphic&, double, double, double, double, double, double) override {}

private:
  TPDFGenericCanvas* target_;
  TRecordedPath& path_;
};

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
  // The path being built, as the canvas has it; and the rule of a clip W or
  // W* asked for at its painting (frUnset: none).
  TRecordedPath path;
  TFillRule pendingClip = frUnset;
  // The glyph outlines of the text object shown in clipping modes, added to
  // the clip at ET; textClipShown once such a glyph was shown (a space
  // included: an empty outline then clips everything away). Each ET starts a
  // new text object (textObject counts them), so a Q can tell a saved mark
  // of this object's glyphs from one of an object already ended.
  TRecordedPath textClip;
  bool textClipShown = false;
  uint32_t textObject = 0;
  // Beside each saved state: the text clip as it stood at the q.
  struct TTextClipMark {
    size_t size = 0;
    bool shown = false;
    uint32_t textObject = 0;
  };
  std::vector<TTextClipMark> textClipMarks;
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
