// Text operators of the interpreter: text state, positioning and showing.
#include <algorithm>
#include <cmath>

#include "render/PavonaFontCollection.h"
#include "render/PavonaEPS.h"
#include "render/PavonaRenderer.h"
#include "render/PavonaTextFunnel.h"
#include "render/PavonaRendererInternal.h"
#include "render/PavonaType3.h"

namespace {

// Tm/Td/TD/T*: TextLineMatrix := [1 0 0 1 tx ty] x TextLineMatrix.
void moveLine(TPDFGraphicsState& gs, double tx, double ty) {
  MatrixMultiply(gs.TextLineMatrix, TPDFMatrix{1, 0, 0, 1, tx, ty}, gs.TextLineMatrix);
  gs.TextMatrix = gs.TextLineMatrix;
}

}  // namespace

std::span<const TPDFRenderer::TOperator> TPDFRenderer::TextOperators() {
  using O = TOperands;
  static const TOperator table[] = {
      {"BT", 0, "", [](TPDFRenderer&, TRun& r, const O&) {
         r.gs.TextMatrix = IdentityMatrix;
         r.gs.TextLineMatrix = IdentityMatrix;
       }},
      {"Tf", 2, "*n", [](TPDFRenderer& R, TRun& r, const O& o) {
         r.gs.FontSize = o.Number(1);
         r.gs.FontKey = std::string(o.Name(0));
         R.SelectFontFromKey(r);
       }},
      {"Tm", 6, "nnnnnn", [](TPDFRenderer&, TRun& r, const O& o) {
         TPDFMatrix m;
         m.a = o.Number(0);
         m.b = o.Number(1);
         m.c = o.Number(2);
         m.d = o.Number(3);
         m.e = o.Number(4);
         m.f = o.Number(5);
         r.gs.TextMatrix = r.gs.TextLineMatrix = m;
       }},
      {"Td", 2, "nn", [](TPDFRenderer&, TRun& r, const O& o) { moveLine(r.gs, o.Number(0), o.Number(1)); }},
      {"TD", 2, "nn", [](TPDFRenderer&, TRun& r, const O& o) {
         moveLine(r.gs, o.Number(0), o.Number(1));
         r.gs.Leading = -o.Number(1);
       }},
      {"T*", 0, "", [](TPDFRenderer&, TRun& r, const O&) { moveLine(r.gs, 0, -r.gs.Leading); }},
      {"Tz", 1, "n", [](TPDFRenderer&, TRun& r, const O& o) { r.gs.HorizontalScaling = o.Number(0); }},
      {"Ts", 1, "n", [](TPDFRenderer&, TRun& r, const O& o) { r.gs.TextRise = o.Number(0); }},
      {"Tc", 1, "n", [](TPDFRenderer&, TRun& r, const O& o) { r.gs.CharSpacing = o.Number(0); }},
      {"Tw", 1, "n", [](TPDFRenderer&, TRun& r, const O& o) { r.gs.WordSpacing = o.Number(0); }},
      {"TL", 1, "n", [](TPDFRenderer&, TRun& r, const O& o) { r.gs.Leading = o.Number(0); }},
      {"Tr", 1, "n", [](TPDFRenderer&, TRun& r, const O& o) {
         r.gs.TextRenderMode = static_cast<int32_t>(std::clamp(std::nearbyint(o.Number(0)), 0.0, 7.0));
       }},
      // Showing reads the text operands marked on the stack: one string, or
      // the items of the array '[' put there.
      {"Tj", TOperator::ReadsStack, "", [](TPDFRenderer& R, TRun& r, const O&) {
         r.textArrayCount = 1;
         R.ShowText(r);
       }},
      {"TJ", TOperator::ReadsStack, "", [](TPDFRenderer& R, TRun& r, const O&) {
         if (r.textArrayCount > 0) R.ShowText(r);
         r.textArrayCount = 0;
       }},
      {"'", TOperator::ReadsStack, "", [](TPDFRenderer& R, TRun& r, const O&) {
         moveLine(r.gs, 0, -r.gs.Leading);
         r.textArrayCount = 1;
         R.ShowText(r);
       }},
      {"\"", 3, "nn*", [](TPDFRenderer& R, TRun& r, const O& o) {
         moveLine(r.gs, 0, -r.gs.Leading);
         r.gs.CharSpacing = o.Number(1);
         r.gs.WordSpacing = o.Number(0);
         r.Push(o.Name(2));
         r.textArrayCount = 1;
         R.ShowText(r);
       }},
  };
  return table;
}

void TPDFRenderer::SelectFontFromKey(TRun& run) {
  if (!fontCollection_) return;
  const std::string& key = run.gs.FontKey;
  if (OnDecryptStream) fontCollection_->OnDecryptStream = OnDecryptStream;
  if (OnEncryptStream) fontCollection_->OnEncryptStream = OnEncryptStream;
  if (key.size() > 2 && key.ends_with(" R")) {
    // A font named by reference (ExtGState /Font): one reference object per
    // distinct text, so repeated Q operations allocate nothing.
    auto found = fontReferences_.find(key);
    TPDFIndRef* ref = found != fontReferences_.end() ? found->second : nullptr;
    if (!ref && Structure) {
      ref = PDFAsIndRef(Structure->ParseObject(key));
      if (ref) fontReferences_.emplace(key, ref);
    }
    if (ref) fontCollection_->SelectFont(ref);
    return;
  }
  if (!key.starts_with("/")) return;
  TPDFDictionary* fonts = ResourceDictionary(run, "Font");
  if (!fonts) return;
  TPDFObject* value = fonts->GetValue(std::string_view(key).substr(1));
  if (PDFAsIndRef(value) || PDFAsDictionary(value)) fontCollection_->SelectFont(value);
}

void TPDFRenderer::ShowText(TRun& run) {
  const size_t count = std::min(static_cast<size_t>(std::max(run.textArrayCount, 0)), run.operands.size());
  run.textArrayCount = 0;
  if (!fontCollection_ || count == 0) return;
  TPDFFontCollectionData* font = fontCollection_->CurrentFont;
  TPDFGraphicsState& gs = run.gs;
  if (!font || gs.FontSize == 0 || !std::isfinite(gs.FontSize)) return;
  TPDFPicasso& canvas = *run.canvas;
  TPDFFontRasterizer* rasterizer = font->Rasterizer.get();
  auto* type3 = dynamic_cast<TPDFType3Rasterizer*>(rasterizer);
  double t = 1000;
  const double k = rasterizer ? rasterizer->GetGlyphScale() : 1;
  const bool drawing = run.visible && gs.TextRenderMode != 3;

  canvas.BeginPath();
  run.pathOpen = false;
  const TPDFMatrix userCTM = CTM;
  // Whatever a glyph throws, the text's own scaling leaves the CTM with it.
  TAssignOnExit<TPDFMatrix> restoreUserCTM(CTM);
  const TPDFMatrix sizeScale{gs.FontSize * gs.HorizontalScaling / 100, 0, 0, gs.FontSize, 0, 0};
  double riseUnits = 1000;  // glyph units per text space unit, vertically
  MatrixMultiply(CTM, gs.TextMatrix, CTM);
  MatrixMultiply(CTM, sizeScale, CTM);
  if (type3) {
    // Glyph space is mapped by the font's own matrix: text-space amounts
    // (spacing, TJ numbers, rise) are converted with its scale.
    const auto& fm = type3->FontMatrix;
    MatrixMultiply(CTM, TPDFMatrix{fm[0], fm[1], fm[2], fm[3], fm[4], fm[5]}, CTM);
    t = std::fabs(fm[0]) > 1e-12 ? 1 / fm[0] : 1;
    riseUnits = std::fabs(fm[3]) > 1e-12 ? 1 / fm[3] : 1;
  } else {
    MatrixMultiply(CTM, TPDFMatrix{0.001, 0, 0, 0.001, 0, 0}, CTM);
  }

  const double size = std::fabs(gs.FontSize);
  const double rise = gs.TextRise * riseUnits / size;
  const double charSpacing = gs.CharSpacing * t / size;
  const double wordSpacing = gs.WordSpacing * t / size;
  double x = 0;
  std::string glyphKey;

  // Text extraction: characters gather into pending texts that go to the
  // funnel as runs with their advances and glyph-space box.
  const bool extracting = OutputKind == rokText;
  TPDFTextFunnel* funnel = extracting ? GetTextFunnel() : nullptr;
  std::u16string pending;
  std::vector<double> advances;
  double wordStart = 0;
  double deviceSize = 0;
  std::string colorText;
  if (extracting) {
    TPDFPoint a, b;
    MatrixTransformPoint(CTM, TPDFPoint{0, 0}, a);
    MatrixTransformPoint(CTM, TPDFPoint{0, t}, b);
    deviceSize = std::hypot(b.x - a.x, b.y - a.y);
    char hex[12];
    if (funnel->CMYKColorText && gs.FillColorSpace == "DeviceCMYK") {
      auto byte = [](double v) { return static_cast<int>(std::nearbyint(std::clamp(v, 0.0, 1.0) * 255)); };
      std::snprintf(hex, sizeof hex, "%02X%02X%02X%02X", byte(gs.FillCMYK[0]), byte(gs.FillCMYK[1]),
                    byte(gs.FillCMYK[2]), byte(gs.FillCMYK[3]));
    } else {
      std::snprintf(hex, sizeof hex, "#%02X%02X%02X", unsigned(GetRValue(gs.FillColor)),
                    unsigned(GetGValue(gs.FillColor)), unsigned(GetBValue(gs.FillColor)));
    }
    colorText = hex;
  }
  const double riseGlyph = gs.TextRise * t / size;
  auto emit = [&](const std::u16string& text) {
    if (text.empty()) return;
    std::vector<double> list = advances;
    list.resize(text.size(), 0);
    funnel->AddText(CTM, text, list, font->Ascent - font->Descent, x - wordStart, font->Descent + riseGlyph,
                    wordStart, deviceSize, font->FontName, colorText);
  };
  auto extract = [&](const std::u16string& ch, double w) {
    const bool keepApart = funnel->KeepWordsApart != 0;
    if (ch == u" " && !pending.empty() && keepApart) {
      emit(pending);
      pending.clear();
      advances.clear();
      funnel->SetMerge(!keepApart);
      wordStart = x + w;
    } else if (ch != u" " || !pending.empty() || !keepApart) {
      if (gs.CharSpacing > 1) {
        emit(ch);
        pending.clear();
        advances.clear();
        funnel->SetMerge(true);
        wordStart = x + w;
      } else {
        pending += ch;
        advances.resize(pending.size(), 0);
        if (!advances.empty()) advances.back() = w;
      }
    } else {
      funnel->SetMerge(false);
      wordStart = x + w;
    }
  };
  // Filled text on cairo is blended from cached glyph masks; the other
  // modes need the glyphs' path (to stroke it or clip with it), Type 3
  // glyphs run content, and a pattern fill clips to the path. Glyphs too
  // large for a mask still join the path, filled at the end as before.
  TCairoDLL* cairo = canvas.CairoLibrary();
  const bool useMasks = UseGlyphCache && cairo && rasterizer && !type3 && drawing && !extracting && !eps_ &&
                        gs.TextRenderMode == 0 && gs.FillColorSpace != "Pattern";
  if (useMasks) FillSetup(run, 1);
  auto drawGlyph = [&](std::string_view key) {
    if (!drawing || extracting) return;
    if (type3) {
      DrawType3Glyph(run, *type3, font, key, x, rise);
    } else if (rasterizer) {
      if (useMasks) {
        int32_t px = 0, py = 0;
        const TPDFGlyphMask* mask =
            fontCollection_->GlyphCache.Find(*cairo, font->CacheId, *rasterizer, key, CTM, x, rise, px, py);
        if (mask) {
          if (!mask->Empty())
            canvas.FillMask(mask->Bits.data(), mask->Width, mask->Height, mask->Stride, px + mask->Left,
                            py + mask->Top);
          return;
        }
      }
      rasterizer->DrawGlyph(&canvas, CTM, key, x, rise);
    }
  };

  const size_t first = run.operands.size() - count;
  for (size_t i = first; i < first + count && i < run.operands.size(); ++i) {
    std::string_view operand = run.operands[i];
    if (operand.empty()) continue;
    if (operand[0] == '(' || operand[0] == '<') {
      const std::string bytes = operand[0] == '(' ? Structure->UnescapeLiteral(operand) : HexStringToBytes(operand);
      if (font->IsComposite) {
        const auto codes = fontCollection_->TextToCodes(bytes);
        // A string with a code that has no text contributes nothing to
        // extracted text.
        bool textless = false;
        if (extracting)
          for (uint16_t code : codes) {
            const std::u16string u = fontCollection_->CodeToUnicode(code);
            if (u.empty() || u[0] < u' ') textless = true;
          }
        for (uint16_t code : codes) {
          double w = t;
          // Character spacing applies to every glyph, also one that takes
          // the default width.
          font->GetCIDWidth(code, w);
          w += charSpacing;
          glyphKey = "GID:" + std::to_string(font->GlyphIndexOfCode(code));
          drawGlyph(glyphKey);
          if (extracting && !textless) extract(fontCollection_->CodeToUnicode(code), w);
          x += w;
        }
      } else {
        for (unsigned char c : bytes) {
          // x counts in the rasterizer's glyph units (a font matrix other
          // than 1/1000 scales them by k): the widths, the spacings and
          // the TJ numbers all go through the same scale, or Tc and Tw
          // would shrink or grow with the font's matrix.
          const double scale = rasterizer && k != 0 ? k : 1;
          double w = font->Widths[c] / scale;
          w += charSpacing / scale;
          if (c == 32) w += wordSpacing / scale;
          drawGlyph(font->GlyphNames[c]);
          if (extracting) extract(fontCollection_->CodeToUnicode(c), w);
          x += w;
        }
      }
    } else {
      if (extracting && !pending.empty()) {
        emit(pending);
        pending.clear();
        advances.clear();
        funnel->SetMerge(true);
      }
      if (k != 0) {
        x -= PDFTextToFloat(operand) * t / 1000 / k;
        wordStart = x;
      }
    }
  }

  if (extracting && !pending.empty() && !(pending == u" " && funnel->KeepWordsApart)) emit(pending);

  const double kk = k == 0 ? 1 : k;
  const double tx = gs.HorizontalScaling / 100 * kk * size * x / t;
  MatrixMultiply(gs.TextMatrix, TPDFMatrix{1, 0, 0, 1, std::isfinite(tx) ? tx : 0, 0}, gs.TextMatrix);

  // Painting uses the user-space line width, so the CTM goes back first.
  CTM = userCTM;
  if (extracting) return;
  const int mode = gs.TextRenderMode;
  if (!drawing) {
    if (mode >= 4 && mode <= 7) {
      canvas.SetClip(frNonZero);
      canvas.EndPathNoPaint();
      if (eps_) eps_->SetClipRule(1), eps_->EndPath();
    }
    return;
  }
  if ((mode == 0 || mode == 2 || mode == 4 || mode == 6) && gs.FillColorSpace == "Pattern") {
    // Text filled with a pattern: the glyphs are the pattern's clip.
    FillWithPattern(run, 1);
    return;
  }
  if (mode == 1 || mode == 2 || mode == 5 || mode == 6) StrokeSetup(run);
  if (mode == 0 || mode == 2 || mode == 4 || mode == 6) FillSetup(run, 1);
  if (mode >= 4) canvas.SetClip(frNonZero);
  if (mode >= 4 && eps_) eps_->SetClipRule(1);
  switch (mode) {
    case 0:
    case 4: canvas.FillPath(); break;
    case 1:
    case 5: canvas.StrokePath(); break;
    case 2:
    case 6: canvas.FillAndStrokePath(); break;
    case 7:
      canvas.EndPathNoPaint();
      if (eps_) eps_->EndPath();
      break;
    default: break;
  }
}

void TPDFRenderer::DrawType3Glyph(TRun& run, TPDFType3Rasterizer& type3, TPDFFontCollectionData* font,
                                  std::string_view glyphName, double x, double rise) {
  const std::string procedure = type3.GetCharProc(glyphName);
  if (procedure.empty() || !type3.FontDictionary) return;
  const int32_t fontNumber = font->ObjectNumber;
  // Undone in reverse: the saved state is dropped, the graphics state
  // restored, the CTM put back and the text's font selected again (the
  // glyph may select fonts of its own).
  TScopeExit reselectFont([this, fontNumber] { fontCollection_->SelectFontByNumber(fontNumber); });
  TAssignOnExit<TPDFMatrix> restoreCTM(CTM);
  TStateSave save(*this, run);
  DefaultResources = run.resources;
  MatrixMultiply(CTM, TPDFMatrix{1, 0, 0, 1, x, rise}, CTM);
  SavedState = run.gs;
  UseSavedState = true;
  TAssignOnExit<bool> savedStateTaken(UseSavedState, false);
  RunNested(*run.canvas, type3.FontDictionary, procedure, nullptr);
  // The glyph ran its own painting: the text path starts again.
  run.canvas->BeginPath();
}
