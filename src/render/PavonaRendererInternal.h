// State of one interpreter run, shared by the renderer's source files.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "objects/PavonaExtra.h"
#include "render/PavonaRenderer.h"

// Most components a colour value is read with.
constexpr int32_t kMaxColorComponents = 32;

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
  int fillRule = 1;  // rule of the last fill set-up
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

// Saves the graphics state for a scope and restores it when the scope ends,
// by return or by exception: a failed XObject or glyph leaves the clip, the
// CTM and the saved-state stack as they were.
struct TPDFRenderer::TStateSave {
  TStateSave(TPDFRenderer& renderer, TRun& run) : renderer_(renderer), run_(run) { renderer_.PushState(run_); }
  ~TStateSave() { renderer_.PopState(run_); }
  TStateSave(const TStateSave&) = delete;
  TStateSave& operator=(const TStateSave&) = delete;

 private:
  TPDFRenderer& renderer_;
  TRun& run_;
};
