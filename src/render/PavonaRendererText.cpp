// Text operators of the interpreter: text state, positioning and showing.
#include <algorithm>
#include <cmath>

#include "render/PavonaRenderer.h"
#include "render/PavonaRendererInternal.h"

namespace {

// Tm/Td/TD/T*: TextLineMatrix := [1 0 0 1 tx ty] x TextLineMatrix.
void moveLine(TPDFGraphicsState& gs, double tx, double ty) {
  MatrixMultiply(gs.TextLineMatrix, TPDFMatrix{1, 0, 0, 1, tx, ty}, gs.TextLineMatrix);
  gs.TextMatrix = gs.TextLineMatrix;
}

}  // namespace

bool TPDFRenderer::DispatchText(TRun& run, std::string_view token) {
  TPDFGraphicsState& gs = run.gs;
  if (token == "BT") {
    gs.TextMatrix = IdentityMatrix;
    gs.TextLineMatrix = IdentityMatrix;
  } else if (token == "Tf") {
    gs.FontSize = run.PopNumber();
    gs.FontKey = std::string(run.PopName());
    SelectFontFromKey(run);
  } else if (token == "Tm") {
    TPDFMatrix m;
    m.f = run.PopNumber();
    m.e = run.PopNumber();
    m.d = run.PopNumber();
    m.c = run.PopNumber();
    m.b = run.PopNumber();
    m.a = run.PopNumber();
    gs.TextMatrix = gs.TextLineMatrix = m;
  } else if (token == "Td" || token == "TD") {
    double ty = run.PopNumber(), tx = run.PopNumber();
    moveLine(gs, tx, ty);
    if (token[1] == 'D') gs.Leading = -ty;
  } else if (token == "T*") {
    moveLine(gs, 0, -gs.Leading);
  } else if (token == "Tz") {
    gs.HorizontalScaling = run.PopNumber();
  } else if (token == "Ts") {
    gs.TextRise = run.PopNumber();
  } else if (token == "Tc") {
    gs.CharSpacing = run.PopNumber();
  } else if (token == "Tw") {
    gs.WordSpacing = run.PopNumber();
  } else if (token == "TL") {
    gs.Leading = run.PopNumber();
  } else if (token == "Tr") {
    gs.TextRenderMode = static_cast<int32_t>(std::clamp(std::nearbyint(run.PopNumber()), 0.0, 7.0));
  } else if (token == "Tj") {
    run.textArrayCount = 1;
    ShowText(run);
  } else if (token == "TJ") {
    if (run.textArrayCount > 0) ShowText(run);
    run.textArrayCount = 0;
  } else if (token == "'") {
    moveLine(gs, 0, -gs.Leading);
    run.textArrayCount = 1;
    ShowText(run);
  } else if (token == "\"") {
    moveLine(gs, 0, -gs.Leading);
    std::string_view text = run.PopName();
    gs.CharSpacing = run.PopNumber();
    gs.WordSpacing = run.PopNumber();
    run.Push(text);
    run.textArrayCount = 1;
    ShowText(run);
  } else {
    return false;
  }
  return true;
}

void TPDFRenderer::SelectFontFromKey(TRun& /*run*/) {
  // Fonts come from the render's font collection; without one the current
  // (absent) font stays.
}

void TPDFRenderer::ShowText(TRun& run) {
  // Nothing is shown without a current font.
  run.textArrayCount = 0;
}
