// State of one interpreter run, shared by the renderer's source files.
#pragma once

#include <string>
#include <string_view>
#include <vector>

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
