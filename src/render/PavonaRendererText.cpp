// Text operators of the interpreter: text state, positioning and showing.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <optional>

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

// Text extraction: characters gather into pending texts that go to the
// funnel as runs with their advances and glyph-space box. Positions are
// the pen's, in glyph units; textSpace maps glyph units to the device.
class TTextGathering {
 public:
  TTextGathering(TPDFTextFunnel& funnel, const TPDFFontCollectionData& font, const TPDFGraphicsState& gs,
                 const TPDFMatrix& textSpace, double t)
      : funnel_(funnel), font_(font), textSpace_(textSpace), charSpacing_(gs.CharSpacing) {
    TPDFPoint a, b;
    MatrixTransformPoint(textSpace, TPDFPoint{0, 0}, a);
    MatrixTransformPoint(textSpace, TPDFPoint{0, t}, b);
    deviceSize_ = std::hypot(b.x - a.x, b.y - a.y);
    char hex[12];
    if (funnel.CMYKColorText && gs.FillColorSpace.Kind == TColorSpaceKind::DeviceCMYK) {
      auto byte = [](double v) { return static_cast<int>(std::nearbyint(std::clamp(v, 0.0, 1.0) * 255)); };
      std::snprintf(hex, sizeof hex, "%02X%02X%02X%02X", byte(gs.FillCMYK[0]), byte(gs.FillCMYK[1]),
                    byte(gs.FillCMYK[2]), byte(gs.FillCMYK[3]));
    } else {
      std::snprintf(hex, sizeof hex, "#%02X%02X%02X", unsigned(GetRValue(gs.FillColor)),
                    unsigned(GetGValue(gs.FillColor)), unsigned(GetBValue(gs.FillColor)));
    }
    colorText_ = hex;
    riseGlyph_ = gs.TextRise * t / std::fabs(gs.FontSize);
  }

  // The character ch of advance w, at x.
  void Add(const std::u16string& ch, double x, double w) {
    const bool keepApart = funnel_.KeepWordsApart != 0;
    if (ch == u" " && !pending_.empty() && keepApart) {
      Emit(pending_, x);
      pending_.clear();
      advances_.clear();
      funnel_.SetMerge(!keepApart);
      wordStart_ = x + w;
    } else if (ch != u" " || !pending_.empty() || !keepApart) {
      if (charSpacing_ > 1) {
        Emit(ch, x);
        pending_.clear();
        advances_.clear();
        funnel_.SetMerge(true);
        wordStart_ = x + w;
      } else {
        pending_ += ch;
        advances_.resize(pending_.size(), 0);
        if (!advances_.empty()) advances_.back() = w;
      }
    } else {
      funnel_.SetMerge(false);
      wordStart_ = x + w;
    }
  }
  // The pen is about to move by a TJ number: the pending text goes as one run.
  void Flush(double x) {
    if (pending_.empty()) return;
    Emit(pending_, x);
    pending_.clear();
    advances_.clear();
    funnel_.SetMerge(true);
  }
  // The next word starts at x.
  void StartWord(double x) { wordStart_ = x; }
  // The end of the showing, at x.
  void Finish(double x) {
    if (!pending_.empty() && !(pending_ == u" " && funnel_.KeepWordsApart)) Emit(pending_, x);
  }

 private:
  void Emit(const std::u16string& text, double x) {
    if (text.empty()) return;
    std::vector<double> list = advances_;
    list.resize(text.size(), 0);
    funnel_.AddText(textSpace_, text, list, font_.Ascent - font_.Descent, x - wordStart_, font_.Descent + riseGlyph_,
                    wordStart_, deviceSize_, font_.FontName, colorText_);
  }

  TPDFTextFunnel& funnel_;
  const TPDFFontCollectionData& font_;
  const TPDFMatrix textSpace_;
  const double charSpacing_;
  double deviceSize_ = 0, riseGlyph_ = 0, wordStart_ = 0;
  std::string colorText_;
  std::u16string pending_;
  std::vector<double> advances_;
};

}  // namespace

std::span<const TPDFRenderer::TOperator> TPDFRenderer::TextOperators() {
  using O = TOperands;
  static const TOperator table[] = {
      // A BT inside an unended text object starts no new one for the clip:
      // its glyphs gather with the others until an ET.
      {"BT", 0, "", [](TPDFRenderer&, TRun& r, const O&) {
         r.gs.TextMatrix = IdentityMatrix;
         r.gs.TextLineMatrix = IdentityMatrix;
       }},
      {"ET", 0, "", [](TPDFRenderer& R, TRun& r, const O&) { R.EndTextObject(r); }},
      {"Tf", 2, "*n", [](TPDFRenderer& R, TRun& r, const O& o) {
         r.gs.FontSize = o.Number(1);
         r.gs.FontKey = std::string(o.Name(0));
         R.SelectFontFromKey(r);
       }},
      {"Tm", 6, "nnnnnn", [](TPDFRenderer&, TRun& r, const O& o) {
         r.gs.TextMatrix = r.gs.TextLineMatrix = o.Matrix();
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
         r.gs.TextRenderMode = static_cast<TTextRenderMode>(std::clamp(std::nearbyint(o.Number(0)), 0.0, 7.0));
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

// One showing of text (Tj, TJ, ', "): the font, how text space maps to
// glyph units, and the pen position x in glyph units along the line.
struct TPDFRenderer::TTextShow {
  TPDFFontCollectionData* font = nullptr;
  TPDFFontRasterizer* rasterizer = nullptr;
  TPDFType3Rasterizer* type3 = nullptr;
  double t = 1000;  // glyph units per text-space unit, horizontally
  double k = 1;     // the rasterizer's glyph scale
  double rise = 0, charSpacing = 0, wordSpacing = 0;  // in glyph units
  double x = 0;
  // Glyphs are painted: the text is visible and not in the invisible mode.
  bool drawing = false;
  // Filled from the glyph cache's masks on cairo (cairo set) rather than as outlines.
  bool useMasks = false;
  TCairoDLL* cairo = nullptr;
  // Kind 5: the text goes to the funnel and no glyph is drawn.
  TTextGathering* gathering = nullptr;
  std::string glyphKey;  // composite fonts' glyph keys, reused
  // Outline glyphs go to the target: the canvas's path when the mode paints
  // them, a recording canvas when they are kept as well, or nowhere.
  TPDFGenericCanvas* target = nullptr;
  // The glyphs join the text object's clip (outline fonts in a clipping
  // mode; Type 3 glyphs paint what their procedures paint and clip nothing).
  bool clips = false;
  // The outlines kept: for the clip, and to stroke them again after a
  // pattern fill took them as its clip.
  TRecordedPath outlines;
};

void TPDFRenderer::ShowText(TRun& run) {
  const size_t count = std::min(static_cast<size_t>(std::max(run.textArrayCount, 0)), run.operands.size());
  run.textArrayCount = 0;
  if (!fontCollection_ || count == 0) return;
  TPDFGraphicsState& gs = run.gs;
  TTextShow show;
  show.font = fontCollection_->CurrentFont;
  if (!show.font || gs.FontSize == 0 || !std::isfinite(gs.FontSize)) return;
  TPDFPicasso& canvas = *run.canvas;
  show.rasterizer = show.font->Rasterizer.get();
  show.type3 = dynamic_cast<TPDFType3Rasterizer*>(show.rasterizer);
  show.k = show.rasterizer ? show.rasterizer->GetGlyphScale() : 1;
  show.drawing = run.visible && gs.TextRenderMode != TTextRenderMode::Invisible;

  canvas.BeginPath();
  run.pathOpen = false;
  run.path.Clear();
  const TPDFMatrix userCTM = CTM;
  // Whatever a glyph throws, the text's own scaling leaves the CTM with it.
  TAssignOnExit<TPDFMatrix> restoreUserCTM(CTM);
  const double riseUnits = EnterTextSpace(gs, show);
  const double size = std::fabs(gs.FontSize);
  show.rise = gs.TextRise * riseUnits / size;
  show.charSpacing = gs.CharSpacing * show.t / size;
  show.wordSpacing = gs.WordSpacing * show.t / size;

  const bool extracting = OutputKind == rokText;
  std::optional<TTextGathering> gathering;
  if (extracting) show.gathering = &gathering.emplace(*GetTextFunnel(), *show.font, gs, CTM, show.t);
  // Filled text on cairo is blended from cached glyph masks; the other
  // modes need the glyphs' path (to stroke it or clip with it), Type 3
  // glyphs run content, and a pattern fill clips to the path. Glyphs too
  // large for a mask still join the path, filled at the end as before.
  show.cairo = canvas.CairoLibrary();
  show.useMasks = UseGlyphCache && show.cairo && show.rasterizer && !show.type3 && show.drawing && !extracting &&
                  !eps_ && gs.TextRenderMode == TTextRenderMode::Fill &&
                  gs.FillColorSpace.Kind != TColorSpaceKind::Pattern;
  if (show.useMasks) FillSetup(run, frNonZero);
  const TTextRenderMode mode = gs.TextRenderMode;
  const bool outlineGlyphs = show.rasterizer && !show.type3 && !extracting;
  show.clips = outlineGlyphs && Clips(mode);
  const bool painted = show.drawing && (Fills(mode) || Strokes(mode));
  const bool restroked =
      show.drawing && Strokes(mode) && Fills(mode) && gs.FillColorSpace.Kind == TColorSpaceKind::Pattern;
  TRecordingCanvas recorder(painted ? &canvas : nullptr, show.outlines);
  if (outlineGlyphs && (show.clips || restroked))
    show.target = &recorder;
  else if (outlineGlyphs && painted)
    show.target = &canvas;

  const size_t first = run.operands.size() - count;
  for (size_t i = first; i < first + count && i < run.operands.size(); ++i) {
    std::string_view operand = run.operands[i];
    if (operand.empty()) continue;
    if (operand[0] == '(' || operand[0] == '<') {
      ShowString(run, show, operand);
    } else {
      // A TJ number moves the pen back by thousandths of text space.
      if (gathering) gathering->Flush(show.x);
      if (show.k != 0) {
        show.x -= PDFTextToFloat(operand) * show.t / 1000 / show.k;
        if (gathering) gathering->StartWord(show.x);
      }
    }
  }
  if (gathering) gathering->Finish(show.x);

  const double kk = show.k == 0 ? 1 : show.k;
  const double tx = gs.HorizontalScaling / 100 * kk * size * show.x / show.t;
  MatrixMultiply(gs.TextMatrix, TPDFMatrix{1, 0, 0, 1, std::isfinite(tx) ? tx : 0, 0}, gs.TextMatrix);

  // Painting uses the user-space line width, so the CTM goes back first.
  CTM = userCTM;
  if (extracting) return;
  PaintTextPath(run, show);
}

double TPDFRenderer::EnterTextSpace(const TPDFGraphicsState& gs, TTextShow& show) {
  const TPDFMatrix sizeScale{gs.FontSize * gs.HorizontalScaling / 100, 0, 0, gs.FontSize, 0, 0};
  double riseUnits = 1000;
  MatrixMultiply(CTM, gs.TextMatrix, CTM);
  MatrixMultiply(CTM, sizeScale, CTM);
  if (show.type3) {
    // Glyph space is mapped by the font's own matrix: text-space amounts
    // (spacing, TJ numbers, rise) are converted with its scale.
    const auto& fm = show.type3->FontMatrix;
    MatrixMultiply(CTM, TPDFMatrix{fm[0], fm[1], fm[2], fm[3], fm[4], fm[5]}, CTM);
    show.t = std::fabs(fm[0]) > 1e-12 ? 1 / fm[0] : 1;
    riseUnits = std::fabs(fm[3]) > 1e-12 ? 1 / fm[3] : 1;
  } else {
    MatrixMultiply(CTM, TPDFMatrix{0.001, 0, 0, 0.001, 0, 0}, CTM);
    show.t = 1000;
  }
  return riseUnits;
}

void TPDFRenderer::ShowString(TRun& run, TTextShow& show, std::string_view operand) {
  TPDFFontCollectionData& font = *show.font;
  const std::string bytes = operand[0] == '(' ? Structure->UnescapeLiteral(operand) : HexStringToBytes(operand);
  if (font.IsComposite) {
    const auto codes = fontCollection_->TextToCodes(bytes);
    // A string with a code that has no text contributes nothing to
    // extracted text.
    bool textless = false;
    if (show.gathering)
      for (uint16_t code : codes) {
        const std::u16string u = fontCollection_->CodeToUnicode(code);
        if (u.empty() || u[0] < u' ') textless = true;
      }
    for (uint16_t code : codes) {
      double w = show.t;
      // Character spacing applies to every glyph, also one that takes
      // the default width.
      font.GetCIDWidth(code, w);
      w += show.charSpacing;
      show.glyphKey = "GID:" + std::to_string(font.GlyphIndexOfCode(code));
      DrawGlyph(run, show, show.glyphKey);
      if (show.gathering && !textless) show.gathering->Add(fontCollection_->CodeToUnicode(code), show.x, w);
      show.x += w;
    }
    return;
  }
  // x counts in the rasterizer's glyph units (a font matrix other than
  // 1/1000 scales them by k): the widths, the spacings and the TJ numbers
  // all go through the same scale, or Tc and Tw would shrink or grow with
  // the font's matrix.
  const double scale = show.rasterizer && show.k != 0 ? show.k : 1;
  for (unsigned char c : bytes) {
    double w = font.Widths[c] / scale;
    w += show.charSpacing / scale;
    if (c == 32) w += show.wordSpacing / scale;
    DrawGlyph(run, show, font.GlyphNames[c]);
    if (show.gathering) show.gathering->Add(fontCollection_->CodeToUnicode(c), show.x, w);
    show.x += w;
  }
}

void TPDFRenderer::DrawGlyph(TRun& run, TTextShow& show, std::string_view key) {
  if (show.gathering) return;
  // A glyph without an outline (a space) still counts: the text object
  // then clips to what its glyphs enclose, nothing at all for a space.
  if (show.clips) run.textClipShown = true;
  if (show.type3) {
    if (show.drawing) DrawType3Glyph(run, *show.type3, show.font, key, show.x, show.rise);
  } else if (show.rasterizer) {
    if (show.drawing && show.useMasks && DrawGlyphMask(run, show, key)) return;
    // The outline joins the text's path, painted at the end.
    if (show.target) show.rasterizer->DrawGlyph(show.target, CTM, key, show.x, show.rise);
  }
}

bool TPDFRenderer::DrawGlyphMask(TRun& run, TTextShow& show, std::string_view key) {
  int32_t px = 0, py = 0;
  int areaWidth = 0, areaHeight = 0;
  run.canvas->MaskArea(areaWidth, areaHeight);
  const TPDFGlyphMask* mask = fontCollection_->GlyphCache.Find(*show.cairo, show.font->CacheId, *show.rasterizer, key,
                                                               CTM, show.x, show.rise, px, py, areaWidth, areaHeight);
  if (!mask) return false;
  if (!mask->Empty())
    run.canvas->FillMask(mask->Bits.data(), mask->Width, mask->Height, mask->Stride, px + mask->Left,
                         py + mask->Top);
  return true;
}

void TPDFRenderer::PaintTextPath(TRun& run, TTextShow& show) {
  TPDFPicasso& canvas = *run.canvas;
  const TTextRenderMode mode = run.gs.TextRenderMode;
  // The clip waits for the end of the text object; hidden text clips too.
  if (show.clips && run.textClip.Size() + show.outlines.Size() <= MaxTextClipSteps) run.textClip.Append(show.outlines);
  if (!show.drawing) return;
  if (Fills(mode) && run.gs.FillColorSpace.Kind == TColorSpaceKind::Pattern) {
    // Text filled with a pattern: the glyphs are the pattern's clip, and
    // their outlines are built again to be stroked over the cells. Type 3
    // glyphs filled the pattern themselves and left no path: cells drawn
    // into nothing would only spend the page's nested runs.
    if (show.type3) {
      canvas.EndPathNoPaint();
      if (eps_) eps_->EndPath();
      return;
    }
    FillWithPattern(run, frNonZero);
    if (Strokes(mode) && !show.outlines.Empty()) {
      canvas.BeginPath();
      show.outlines.Replay(canvas);
      StrokeSetup(run);
      canvas.StrokePath();
    }
    return;
  }
  if (Strokes(mode)) StrokeSetup(run);
  if (Fills(mode)) FillSetup(run, frNonZero);
  if (Fills(mode) && Strokes(mode)) {
    canvas.FillAndStrokePath();
  } else if (Fills(mode)) {
    canvas.FillPath();
  } else if (Strokes(mode)) {
    canvas.StrokePath();
  } else {
    canvas.EndPathNoPaint();
    if (eps_) eps_->EndPath();
  }
}

void TPDFRenderer::EndTextObject(TRun& run) {
  ++run.textObject;
  if (!run.textClipShown) return;
  // The outlines of every glyph shown in a clipping mode, as one path.
  TPDFPicasso& canvas = *run.canvas;
  constexpr TFillRule rule = frNonZero;
  canvas.BeginPath();
  run.textClip.Replay(canvas);
  canvas.SetClip(rule);
  canvas.EndPathNoPaint();
  if (eps_) eps_->SetClipRule(RuleCode(rule)), eps_->EndPath();
  run.pathOpen = false;
  run.path.Clear();
  run.textClip.Clear();
  run.textClipShown = false;
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
