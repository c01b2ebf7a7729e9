// The content-stream interpreter: token reader, operand stack, graphics
// state and every non-text operator.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>

#include "objects/PavonaContentLexer.h"
#include "objects/PavonaExtra.h"
#include "render/PavonaAnnotFlags.h"
#include "render/PavonaEPS.h"
#include "render/PavonaRenderer.h"
#include "render/PavonaRendererInternal.h"
#include "render/PavonaType3.h"

namespace {

// Coordinates handed to the back-ends stay finite and within a range every
// back-end can convert to integers.
double safeCoordinate(double v) {
  constexpr double kLimit = 1e8;
  if (!(v == v)) return 0;
  return std::clamp(v, -kLimit, kLimit);
}

TPDFPoint apply(const TPDFMatrix& m, double x, double y) {
  TPDFPoint p;
  MatrixTransformPoint(m, TPDFPoint{x, y}, p);
  p.x = safeCoordinate(p.x);
  p.y = safeCoordinate(p.y);
  return p;
}

bool readNumbers(TPDFRenderer& r, TPDFObject* value, size_t count, double* out) {
  TPDFArray* array = PDFAsArray(r.ResolveObject(value));
  if (!array || static_cast<size_t>(array->GetCount()) != count) return false;
  for (size_t i = 0; i < count; ++i) {
    TPDFNumeric* n = PDFAsNumeric(r.ResolveObject(array->GetItem(static_cast<int32_t>(i))));
    if (!n) return false;
    out[i] = n->GetValue();
  }
  return true;
}

// The content that draws a note (a text annotation) that brings no
// appearance of its own, in page space over its Rect: a sheet in the note's
// colour (/C: gray, RGB or CMYK; yellow without one) with three lines of
// writing. Empty for a Rect without area.
std::string noteIconContent(TPDFRenderer& r, TPDFDictionary* annot, double x1, double y1, double x2, double y2) {
  if (!(x2 - x1 > 0.5) || !(y2 - y1 > 0.5)) return {};
  // Written as PDF numbers whatever the process's locale.
  auto n = [](double v) {
    char buffer[32];
    const auto end = std::to_chars(buffer, buffer + sizeof buffer, v, std::chars_format::fixed, 3).ptr;
    return std::string(buffer, end);
  };
  std::string colour = "1 1 0 rg";
  double c[4];
  if (readNumbers(r, annot->GetValue("C"), 3, c))
    colour = n(c[0]) + " " + n(c[1]) + " " + n(c[2]) + " rg";
  else if (readNumbers(r, annot->GetValue("C"), 1, c))
    colour = n(c[0]) + " g";
  else if (readNumbers(r, annot->GetValue("C"), 4, c))
    colour = n(c[0]) + " " + n(c[1]) + " " + n(c[2]) + " " + n(c[3]) + " k";
  const double w = x2 - x1, h = y2 - y1;
  std::string text = "q " + colour + " 0.2 0.2 0.2 RG 0.8 w " + n(x1 + 0.4) + " " + n(y1 + 0.4) + " " + n(w - 0.8) +
                     " " + n(h - 0.8) + " re B 1 w";
  for (double f : {0.3, 0.5, 0.7})
    text += " " + n(x1 + w * 0.2) + " " + n(y1 + h * f) + " m " + n(x1 + w * 0.8) + " " + n(y1 + h * f) + " l S";
  return text + " Q";
}

}  // namespace

// ---------------------------------------------------------------------------
// Operand stack

void TPDFRenderer::TRun::Push(std::string_view token) {
  if (token.empty()) return;
  if (operands.size() >= MaxOperands) {
    // Operators only ever take operands from the top; the bottom half of a
    // stack this deep is never read again.
    operands.erase(operands.begin(), operands.begin() + static_cast<std::ptrdiff_t>(MaxOperands / 2));
  }
  operands.push_back(token);
}

double TPDFRenderer::TRun::PopNumber() {
  if (operands.empty()) return 0;
  double v = PDFTextToFloat(operands.back());
  operands.pop_back();
  return v;
}

std::string_view TPDFRenderer::TRun::PopName() {
  if (operands.empty()) return {};
  std::string_view v = operands.back();
  operands.pop_back();
  return v;
}

// ---------------------------------------------------------------------------
// Token reader

std::string_view TPDFRenderer::TRun::NextToken() { return NextContentToken(text, pos); }

// ---------------------------------------------------------------------------
// Running content

std::string TPDFRenderer::ReadStreamData(TPDFStream* stream, TPDFIndRef* ref) {
  if (!stream) return {};
  TStreamDecryption decrypted(*this, stream, ref);
  return stream->GetDecodedData();
}

void TPDFRenderer::RunNested(TPDFPicasso& canvas, TPDFObject* object, std::string_view contentText,
                             TPDFIndRef* reference) {
  if (std::find(activeObjects_.begin(), activeObjects_.end(), object) != activeObjects_.end()) {
    // Only the repeated drawing is left out: what the content draws around
    // it still reaches the page, and the skip is reported.
    if (ErrorText.empty()) ErrorText = "Rendering exception: Content draws itself; the repeated drawing was skipped";
    return;
  }
  if (++nestedRuns_ > MaxNestedRuns) throw EPDFRenderError("Too much nested content on the page");
  TPDFType3Rasterizer::TNestingGuard guard(nesting_);
  RunContentStream(canvas, object, contentText, reference);
}

TPDFDictionary* TPDFRenderer::ResourceDictionary(TRun& run, std::string_view category) const {
  if (!run.resources) return nullptr;
  return PDFAsDictionary(ResolveObject(run.resources->GetValue(category)));
}

void TPDFRenderer::RunContentStream(TPDFPicasso& canvas, TPDFObject* object, std::string_view contentText,
                                    TPDFIndRef* reference) {
  const bool topLevel = activeObjects_.empty();
  if (topLevel) ErrorText.clear();
  if (!object) return;
  TRun run;
  run.canvas = &canvas;
  run.object = object;
  TPDFDictionary* dict = PDFAsDictionary(object);
  TPDFStream* stream = PDFAsStream(object);
  Structure = object->GetOwner();

  // Resources and content.
  if (dict && !contentText.empty()) {
    run.resources = PDFAsDictionary(ResolveObject(dict->GetValue("Resources")));
    if (!run.resources) run.resources = DefaultResources;
    run.text = contentText;
  } else if (dict) {
    run.isPage = true;
    run.resources = PDFAsDictionary(GetInheritedAttribute(dict, "Resources"));
    TransparencyGroup = PDFAsDictionary(GetInheritedAttribute(dict, "Group"));
    TPDFObject* contents = dict->GetValue("Contents");
    TPDFObject* resolved = ResolveObject(contents);
    if (TPDFStream* s = PDFAsStream(resolved)) {
      run.owned = ReadStreamData(s, PDFAsIndRef(contents));
    } else if (TPDFArray* parts = PDFAsArray(resolved)) {
      for (TPDFObject* item : parts->Items()) {
        if (TPDFStream* s = PDFAsStream(ResolveObject(item))) run.owned += ReadStreamData(s, PDFAsIndRef(item));
      }
    }
    run.text = run.owned;
  } else if (stream) {
    TPDFDictionary* sd = stream->GetDictionary();
    run.resources = sd ? PDFAsDictionary(ResolveObject(sd->GetValue("Resources"))) : nullptr;
    if (!run.resources && sd) {
      std::string type = sd->GetNameValue("Type");
      if (type.empty() || type == "XObject") run.resources = DefaultResources;
    }
    if (!contentText.empty()) {
      run.text = contentText;
    } else if (reference) {
      run.owned = ReadStreamData(stream, reference);
      run.text = run.owned;
    }
  } else {
    return;
  }

  // Start state.
  if (UseSavedState) {
    UseSavedState = false;
    run.gs = SavedState;
  }
  run.gs.TextMatrix = IdentityMatrix;
  run.gs.TextLineMatrix = IdentityMatrix;
  run.gs.CTM = CTM;
  run.stack.reserve(16);

  activeObjects_.push_back(object);
  bool failed = false;
  try {
    PushState(run);
    for (;;) {
      std::string_view token = run.NextToken();
      if (token.empty()) break;
      Dispatch(run, token);
    }
  } catch (const Exception& e) {
    failed = true;
    // The first failure of the page is the one reported; later nested
    // failures do not overwrite it.
    if (ErrorText.empty()) {
      ErrorText = std::string("Rendering exception: ") + e.what() + "\r\nToken position " + std::to_string(run.pos + 1);
    }
  }
  // A run leaves the clip and CTM as it found them, whatever it left open.
  while (!run.stack.empty()) PopState(run);
  activeObjects_.pop_back();
  if (!failed && run.isPage && object == PageObject) DrawAnnotations(run);
}

// ---------------------------------------------------------------------------
// Graphics state stack

void TPDFRenderer::PushState(TRun& run) {
  if (run.stack.size() >= MaxStateDepth) {
    ++run.overflow;
    return;
  }
  run.gs.ClipRegion = run.canvas->SaveClip();
  run.stack.push_back(run.gs);
  run.textClipMarks.push_back({run.textClip.Size(), run.textClipShown, run.textObject});
  if (eps_) eps_->SaveState();
}

void TPDFRenderer::PopState(TRun& run) {
  if (run.overflow > 0) {
    --run.overflow;
    return;
  }
  if (!run.stack.empty()) {
    run.gs = std::move(run.stack.back());
    run.stack.pop_back();
    // Glyphs shown in a clipping mode after the q are given up with the
    // state; an object that ended in between left nothing to give back.
    const TRun::TTextClipMark mark = run.textClipMarks.back();
    run.textClipMarks.pop_back();
    if (mark.textObject == run.textObject) {
      run.textClip.Truncate(mark.size);
      run.textClipShown = mark.shown;
    }
    if (eps_) eps_->RestoreState();
  }
  run.canvas->RestoreClip(run.gs.ClipRegion);
  CTM = run.gs.CTM;
}

// ---------------------------------------------------------------------------
// Paths

void TRecordedPath::Replay(TPDFGenericCanvas& canvas) const {
  for (const TPDFShapeCommand& c : commands_) {
    switch (c.kind) {
      case sckMoveTo:
        canvas.MoveTo(c.x1, c.y1);
        break;
      case sckLineTo:
        canvas.LineTo(c.x1, c.y1);
        break;
      case sckCurveTo:
        canvas.CurveTo(c.x1, c.y1, c.x2, c.y2, c.x3, c.y3);
        break;
      case sckQuadTo:
        canvas.QuadraticCurveTo(c.x1, c.y1, c.x2, c.y2);
        break;
      case sckClosePath:
        canvas.ClosePath();
        break;
      default:
        break;
    }
  }
}

void TPDFRenderer::OpenPath(TRun& run) {
  if (!run.pathOpen) {
    run.pathOpen = true;
    run.canvas->BeginPath();
    run.path.Clear();
  }
}

void TPDFRenderer::EndPath(TRun& run) {
  run.pathOpen = false;
  run.path.Clear();
  run.pendingClip = frUnset;
}

void TPDFRenderer::MoveTo(TRun& run, double x, double y) {
  TPDFPoint p = apply(CTM, x, y);
  run.canvas->MoveTo(p.x, p.y);
  run.path.MoveTo(p.x, p.y);
  run.gs.CurrentPointX = p.x;
  run.gs.CurrentPointY = p.y;
}

void TPDFRenderer::LineTo(TRun& run, double x, double y) {
  TPDFPoint p = apply(CTM, x, y);
  run.canvas->LineTo(p.x, p.y);
  run.path.LineTo(p.x, p.y);
  run.gs.CurrentPointX = p.x;
  run.gs.CurrentPointY = p.y;
}

void TPDFRenderer::ClosePath(TRun& run) {
  run.canvas->ClosePath();
  run.path.ClosePath();
}

void TPDFRenderer::CurveTo(TRun& run, double x1, double y1, double x2, double y2, double x3, double y3) {
  TPDFPoint p1 = apply(CTM, x1, y1), p2 = apply(CTM, x2, y2), p3 = apply(CTM, x3, y3);
  run.canvas->CurveTo(p1.x, p1.y, p2.x, p2.y, p3.x, p3.y);
  run.path.CurveTo(p1.x, p1.y, p2.x, p2.y, p3.x, p3.y);
  run.gs.CurrentPointX = p3.x;
  run.gs.CurrentPointY = p3.y;
}

void TPDFRenderer::StrokeSetup(TRun& run) {
  TPDFPicasso& c = *run.canvas;
  c.SetStrokeColor(run.gs.StrokeColor);
  c.SetStrokeAlpha(run.gs.StrokeAlpha);
  TPDFPoint a = apply(CTM, 0, 0), b = apply(CTM, 0, run.gs.LineWidth);
  c.SetLineWidth(std::hypot(b.x - a.x, b.y - a.y));
  TGPDashArray dashes;
  double phase = 0;
  if (!run.gs.DashArray.empty()) {
    const double unit = run.gs.LineWidth > 0 ? run.gs.LineWidth : 1;
    dashes.reserve(run.gs.DashArray.size());
    for (double d : run.gs.DashArray) dashes.push_back(static_cast<float>(d / unit));
    phase = run.gs.DashPhase / unit;
  }
  c.SetDashPattern(dashes, phase);
  c.SetLineJoin(run.gs.LineJoin);
  c.SetLineCap(run.gs.LineCap);
  c.SetMiterLimit(run.gs.MiterLimit);
  if (eps_)
    eps_->SetStrokeState(run.gs.StrokeColor, nullptr, std::hypot(b.x - a.x, b.y - a.y), run.gs.LineCap,
                         run.gs.LineJoin, run.gs.MiterLimit);
}

void TPDFRenderer::FillSetup(TRun& run, TFillRule rule) {
  run.fillRule = rule;
  run.canvas->SetFillAlpha(run.gs.FillAlpha);
  run.canvas->SetFillRule(rule);
  run.canvas->SetFillColor(run.gs.FillColor);
  if (eps_) eps_->SetFillState(run.gs.FillColor, nullptr, RuleCode(rule));
}

void TPDFRenderer::SetDeviceColor(TRun& run, bool fill, TColorSpaceKind kind) {
  if (!run.uncolouredGlyph) (fill ? run.gs.FillColorSpace : run.gs.StrokeColorSpace) = {kind};
  SetColor(run, fill);
}

void TPDFRenderer::Paint(TRun& run, TPaintOp op) {
  // Stroking with a pattern is not painted; filling with one paints the
  // pattern's cells inside the path (which the fill consumes).
  const bool patternFill = Fills(op) && run.gs.FillColorSpace.Kind == TColorSpaceKind::Pattern;
  const bool fill = Fills(op) && !patternFill;
  const bool stroke = Strokes(op) && run.gs.StrokeColorSpace.Kind != TColorSpaceKind::Pattern;
  if (run.visible && patternFill) {
    // The cells build paths of their own in this run (their box): the
    // path as built is taken aside first.
    const TFillRule clipRule = run.pendingClip;
    const TRecordedPath path = std::exchange(run.path, TRecordedPath());
    run.pathOpen = false;
    FillWithPattern(run, run.fillRule);
    // The cells took the path as their clip and gave it up: the path is
    // built again for the stroke over them and for a clip W asked for.
    if (stroke || clipRule != frUnset) {
      TPDFPicasso& canvas = *run.canvas;
      canvas.BeginPath();
      path.Replay(canvas);
      if (clipRule != frUnset) {
        canvas.SetClip(clipRule);
        if (eps_) eps_->SetClipRule(RuleCode(clipRule));
      }
      if (stroke) {
        // The cells' content set the canvas's line settings of its own.
        StrokeSetup(run);
        canvas.StrokePath();
      } else {
        canvas.EndPathNoPaint();
        if (eps_) eps_->EndPath();
      }
    }
    EndPath(run);
    return;
  }
  if (!run.visible || (!fill && !stroke)) {
    run.canvas->EndPathNoPaint();
    if (eps_) eps_->EndPath();
  } else if (fill && stroke) {
    run.canvas->FillAndStrokePath();
  } else if (fill) {
    run.canvas->FillPath();
  } else {
    run.canvas->StrokePath();
  }
  EndPath(run);
}

void TPDFRenderer::ClipToBox(TRun& run, double x1, double y1, double x2, double y2) {
  OpenPath(run);
  MoveTo(run, x1, y1);
  LineTo(run, x1, y2);
  LineTo(run, x2, y2);
  LineTo(run, x2, y1);
  ClosePath(run);
  run.canvas->SetClip(frEvenOdd);
  run.canvas->EndPathNoPaint();
  if (eps_) eps_->SetClipRule(RuleCode(frEvenOdd)), eps_->EndPath();
  EndPath(run);
}

// ---------------------------------------------------------------------------
// Operator table

std::span<const TPDFRenderer::TOperator> TPDFRenderer::GraphicsOperators() {
  using O = TOperands;
  static const TOperator table[] = {
      // Paths.
      {"m", 2, "nn", [](TPDFRenderer& R, TRun& r, const O& o) {
         R.OpenPath(r);
         R.MoveTo(r, o.Number(0), o.Number(1));
       }},
      {"l", 2, "nn", [](TPDFRenderer& R, TRun& r, const O& o) { R.LineTo(r, o.Number(0), o.Number(1)); }},
      {"c", 6, "nnnnnn", [](TPDFRenderer& R, TRun& r, const O& o) {
         R.CurveTo(r, o.Number(0), o.Number(1), o.Number(2), o.Number(3), o.Number(4), o.Number(5));
       }},
      {"v", 4, "nnnn", [](TPDFRenderer& R, TRun& r, const O& o) {
         TPDFPoint p2 = apply(R.CTM, o.Number(0), o.Number(1)), p3 = apply(R.CTM, o.Number(2), o.Number(3));
         r.canvas->CurveTo(r.gs.CurrentPointX, r.gs.CurrentPointY, p2.x, p2.y, p3.x, p3.y);
         r.path.CurveTo(r.gs.CurrentPointX, r.gs.CurrentPointY, p2.x, p2.y, p3.x, p3.y);
         r.gs.CurrentPointX = p3.x;
         r.gs.CurrentPointY = p3.y;
       }},
      {"y", 4, "nnnn", [](TPDFRenderer& R, TRun& r, const O& o) {
         R.CurveTo(r, o.Number(0), o.Number(1), o.Number(2), o.Number(3), o.Number(2), o.Number(3));
       }},
      {"h", 0, "", [](TPDFRenderer& R, TRun& r, const O&) { R.ClosePath(r); }},
      {"re", 4, "nnnn", [](TPDFRenderer& R, TRun& r, const O& o) {
         const double x = o.Number(0), y = o.Number(1), w = o.Number(2), h = o.Number(3);
         R.OpenPath(r);
         R.MoveTo(r, x, y);
         R.LineTo(r, x + w, y);
         R.LineTo(r, x + w, y + h);
         R.LineTo(r, x, y + h);
         R.ClosePath(r);
         TPDFPoint p = apply(R.CTM, x, y);
         r.gs.CurrentPointX = p.x;
         r.gs.CurrentPointY = p.y;
       }},
      // Painting and clipping.
      {"S", 0, "", [](TPDFRenderer& R, TRun& r, const O&) {
         R.StrokeSetup(r);
         R.Paint(r, TPaintOp::Stroke);
       }},
      {"s", 0, "", [](TPDFRenderer& R, TRun& r, const O&) {
         R.StrokeSetup(r);
         R.ClosePath(r);
         R.Paint(r, TPaintOp::Stroke);
       }},
      {"f", 0, "", [](TPDFRenderer& R, TRun& r, const O&) {
         R.FillSetup(r, frNonZero);
         R.Paint(r, TPaintOp::Fill);
       }},
      {"F", 0, "", [](TPDFRenderer& R, TRun& r, const O&) {
         R.FillSetup(r, frNonZero);
         R.Paint(r, TPaintOp::Fill);
       }},
      {"f*", 0, "", [](TPDFRenderer& R, TRun& r, const O&) {
         R.FillSetup(r, frEvenOdd);
         R.Paint(r, TPaintOp::Fill);
       }},
      {"B", 0, "", [](TPDFRenderer& R, TRun& r, const O&) {
         R.StrokeSetup(r);
         R.FillSetup(r, frNonZero);
         R.Paint(r, TPaintOp::FillAndStroke);
       }},
      {"B*", 0, "", [](TPDFRenderer& R, TRun& r, const O&) {
         R.StrokeSetup(r);
         R.FillSetup(r, frEvenOdd);
         R.Paint(r, TPaintOp::FillAndStroke);
       }},
      {"b", 0, "", [](TPDFRenderer& R, TRun& r, const O&) {
         R.StrokeSetup(r);
         R.FillSetup(r, frNonZero);
         R.ClosePath(r);
         R.Paint(r, TPaintOp::FillAndStroke);
       }},
      {"b*", 0, "", [](TPDFRenderer& R, TRun& r, const O&) {
         R.StrokeSetup(r);
         R.FillSetup(r, frEvenOdd);
         R.ClosePath(r);
         R.Paint(r, TPaintOp::FillAndStroke);
       }},
      {"n", 0, "", [](TPDFRenderer& R, TRun& r, const O&) {
         r.canvas->EndPathNoPaint();
         if (R.eps_) R.eps_->EndPath();
         R.EndPath(r);
       }},
      {"W", 0, "", [](TPDFRenderer& R, TRun& r, const O&) {
         r.canvas->SetClip(frNonZero);
         r.pendingClip = frNonZero;
         if (R.eps_) R.eps_->SetClipRule(RuleCode(frNonZero));
       }},
      {"W*", 0, "", [](TPDFRenderer& R, TRun& r, const O&) {
         r.canvas->SetClip(frEvenOdd);
         r.pendingClip = frEvenOdd;
         if (R.eps_) R.eps_->SetClipRule(RuleCode(frEvenOdd));
       }},
      // Graphics state.
      {"q", 0, "", [](TPDFRenderer& R, TRun& r, const O&) { R.PushState(r); }},
      {"Q", 0, "", [](TPDFRenderer& R, TRun& r, const O&) {
         R.PopState(r);
         R.SelectFontFromKey(r);
       }},
      {"cm", 6, "nnnnnn", [](TPDFRenderer& R, TRun& r, const O& o) {
         MatrixMultiply(R.CTM, o.Matrix(), R.CTM);
         r.gs.CTM = R.CTM;
       }},
      {"w", 1, "n", [](TPDFRenderer& R, TRun& r, const O& o) {
         const double w = o.Number(0);
         r.gs.LineWidth = w == 0 ? 72.0 / R.Resolution : w;
       }},
      {"J", 1, "n", [](TPDFRenderer&, TRun& r, const O& o) {
         r.gs.LineCap = static_cast<int32_t>(std::clamp(std::nearbyint(o.Number(0)), 0.0, 2.0));
       }},
      {"j", 1, "n", [](TPDFRenderer&, TRun& r, const O& o) {
         r.gs.LineJoin = static_cast<int32_t>(std::clamp(std::nearbyint(o.Number(0)), 0.0, 2.0));
       }},
      {"M", 1, "n", [](TPDFRenderer&, TRun& r, const O& o) { r.gs.MiterLimit = o.Number(0); }},
      // The dash array's numbers were put on the stack by '[' and counted.
      {"d", TOperator::ReadsStack, "", [](TPDFRenderer&, TRun& r, const O&) {
         r.gs.DashPhase = r.PopNumber();
         size_t count = std::min<size_t>(static_cast<size_t>(std::max(r.textArrayCount, 0)), r.operands.size());
         std::vector<double> dashes(count);
         for (size_t i = count; i-- > 0;) dashes[i] = r.PopNumber();
         if (count % 2 == 1) dashes.insert(dashes.end(), dashes.begin(), dashes.end());
         r.gs.DashArray = std::move(dashes);
         r.textArrayCount = 0;
       }},
      {"[", TOperator::ReadsStack, "", [](TPDFRenderer&, TRun& r, const O&) {
         r.textArrayCount = 0;
         for (;;) {
           std::string_view t = r.NextToken();
           if (t.empty() || t == "]") break;
           r.Push(t);
           ++r.textArrayCount;
         }
       }},
      {"gs", 1, "/", [](TPDFRenderer& R, TRun& r, const O& o) { R.ApplyExtGState(r, o.Name(0)); }},
      {"d1", 0, "", [](TPDFRenderer&, TRun& r, const O&) {
         // A glyph that sets no colour of its own: whatever it paints takes
         // the colour the text is painted with (the fill colour, the stroke
         // colour for text that is only stroked), strokes included.
         r.uncolouredGlyph = true;
         TPDFGraphicsState& g = r.gs;
         if (Strokes(g.TextRenderMode) && !Fills(g.TextRenderMode)) {
           g.FillColor = g.StrokeColor, g.FillAlpha = g.StrokeAlpha, g.FillColorSpace = g.StrokeColorSpace;
           g.FillPattern = g.StrokePattern;
         } else {
           g.StrokeColor = g.FillColor, g.StrokeAlpha = g.FillAlpha, g.StrokeColorSpace = g.FillColorSpace;
           g.StrokePattern = g.FillPattern;
         }
       }},
      // Colour. Inside an uncoloured glyph the colour operators leave their
      // operands where they are, so they read the stack themselves.
      {"g", TOperator::ReadsStack, "",
       [](TPDFRenderer& R, TRun& r, const O&) { R.SetDeviceColor(r, true, TColorSpaceKind::DeviceGray); }},
      {"G", TOperator::ReadsStack, "",
       [](TPDFRenderer& R, TRun& r, const O&) { R.SetDeviceColor(r, false, TColorSpaceKind::DeviceGray); }},
      {"k", TOperator::ReadsStack, "",
       [](TPDFRenderer& R, TRun& r, const O&) { R.SetDeviceColor(r, true, TColorSpaceKind::DeviceCMYK); }},
      {"K", TOperator::ReadsStack, "",
       [](TPDFRenderer& R, TRun& r, const O&) { R.SetDeviceColor(r, false, TColorSpaceKind::DeviceCMYK); }},
      {"rg", TOperator::ReadsStack, "",
       [](TPDFRenderer& R, TRun& r, const O&) { R.SetDeviceColor(r, true, TColorSpaceKind::DeviceRGB); }},
      {"RG", TOperator::ReadsStack, "",
       [](TPDFRenderer& R, TRun& r, const O&) { R.SetDeviceColor(r, false, TColorSpaceKind::DeviceRGB); }},
      {"sc", TOperator::ReadsStack, "", [](TPDFRenderer& R, TRun& r, const O&) { R.SetColor(r, true); }},
      {"SC", TOperator::ReadsStack, "", [](TPDFRenderer& R, TRun& r, const O&) { R.SetColor(r, false); }},
      {"scn", TOperator::ReadsStack, "", [](TPDFRenderer& R, TRun& r, const O&) { R.SetColor(r, true); }},
      {"SCN", TOperator::ReadsStack, "", [](TPDFRenderer& R, TRun& r, const O&) { R.SetColor(r, false); }},
      {"cs", TOperator::ReadsStack, "", [](TPDFRenderer& R, TRun& r, const O&) {
         if (r.uncolouredGlyph) return;
         r.gs.FillColorSpace = R.ResolveColorSpace(r, r.PopName());
       }},
      {"CS", TOperator::ReadsStack, "", [](TPDFRenderer& R, TRun& r, const O&) {
         if (r.uncolouredGlyph) return;
         r.gs.StrokeColorSpace = R.ResolveColorSpace(r, r.PopName());
       }},
      // XObjects, images, shadings.
      {"Do", 1, "*", [](TPDFRenderer& R, TRun& r, const O& o) {
         TStateSave save(R, r);
         R.DrawXObject(r, o.Name(0));
       }},
      {"BI", TOperator::ReadsStack, "", [](TPDFRenderer& R, TRun& r, const O&) { R.DrawInlineImage(r); }},
      // Shadings are looked up but not painted.
      {"sh", 1, "*", [](TPDFRenderer&, TRun&, const O&) {}},
      // Marked content.
      {"BMC", 1, "*", [](TPDFRenderer& R, TRun& r, const O& o) { R.BeginMarkedContent(r, o.Name(0), {}); }},
      {"BDC", 2, "**", [](TPDFRenderer& R, TRun& r, const O& o) { R.BeginMarkedContent(r, o.Name(0), o.Name(1)); }},
      {"EMC", 0, "", [](TPDFRenderer&, TRun& r, const O&) {
         if (r.marked.empty()) {
           r.visible = true;
         } else {
           r.visible = r.marked.back();
           r.marked.pop_back();
         }
       }},
  };
  return table;
}

const TPDFRenderer::TOperator* TPDFRenderer::FindOperator(std::string_view name) {
  // Built once, sorted by text, searched by halves.
  static const std::vector<TOperator> sorted = [] {
    std::vector<TOperator> all;
    for (const TOperator& op : GraphicsOperators()) all.push_back(op);
    for (const TOperator& op : TextOperators()) all.push_back(op);
    std::sort(all.begin(), all.end(), [](const TOperator& a, const TOperator& b) { return a.name < b.name; });
    return all;
  }();
  auto at = std::lower_bound(sorted.begin(), sorted.end(), name,
                             [](const TOperator& op, std::string_view text) { return op.name < text; });
  return at != sorted.end() && at->name == name ? &*at : nullptr;
}

void TPDFRenderer::Dispatch(TRun& run, std::string_view token) {
  const char c0 = token[0];
  // Operands: numbers, names, strings; arrays' brackets are the '[' operator.
  if ((c0 >= '0' && c0 <= '9') || c0 == '-' || c0 == '+' || c0 == '.' || c0 == '/' || c0 == '(' ||
      (c0 == '<' && token != "<")) {
    run.Push(token);
    return;
  }
  const TOperator* op = FindOperator(token);
  if (!op) {
    // Unknown operators and other operands ("true", "d0" ...) stay on the stack.
    run.Push(token);
    return;
  }
  TOperands operands;
  if (op->count > 0) {
    // The operator's operands are the top of the stack; the ones a short
    // stack lacks are the first ones.
    const size_t count = std::min(static_cast<size_t>(op->count), TOperands::MaxCount);
    const size_t present = std::min(count, run.operands.size());
    const size_t first = count - present;
    for (size_t i = 0; i < present; ++i) operands.items[first + i] = run.operands[run.operands.size() - present + i];
    run.operands.resize(run.operands.size() - present);
    for (size_t i = 0; i < count; ++i) {
      const char kind = i < op->kinds.size() ? op->kinds[i] : '*';
      std::string_view item = operands.items[i];
      if (kind == 'n') {
        operands.numbers[i] = item.empty() ? 0 : PDFTextToFloat(item);
      } else if (kind == '/' && !item.starts_with("/")) {
        return;  // taken off the stack, not acted on
      }
    }
  }
  op->handler(*this, run, operands);
}

// ---------------------------------------------------------------------------
// Colours

void TPDFRenderer::SetColor(TRun& run, bool fill) {
  if (run.uncolouredGlyph) return;
  const TColorSpaceRef space = fill ? run.gs.FillColorSpace : run.gs.StrokeColorSpace;
  TColor& color = fill ? run.gs.FillColor : run.gs.StrokeColor;
  const size_t id = space.Index;
  switch (space.Kind) {
    case TColorSpaceKind::DeviceRGB: {
      double rgb[3];
      rgb[2] = run.PopNumber();
      rgb[1] = run.PopNumber();
      rgb[0] = run.PopNumber();
      color = colorManager_.RGBToColor(std::span<const double, 3>(rgb, 3));
      break;
    }
    case TColorSpaceKind::DeviceCMYK: {
      double cmyk[4], rgb[3];
      for (int i = 3; i >= 0; --i) cmyk[i] = run.PopNumber();
      colorManager_.CMYKToRGB(std::span<const double, 4>(cmyk, 4), std::span<double, 3>(rgb, 3));
      color = colorManager_.RGBToColor(std::span<const double, 3>(rgb, 3));
      if (fill) std::copy(cmyk, cmyk + 4, run.gs.FillCMYK.begin());
      break;
    }
    case TColorSpaceKind::DeviceGray: {
      double g = run.PopNumber();
      color = PackRGBColor(g, g, g);
      break;
    }
    case TColorSpaceKind::Separation: {
      double tint = run.PopNumber();
      if (id < separationSpaces_.size()) {
        separationSpaces_[id]->GetPostScript(tint);
        color = separationSpaces_[id]->GetColor();
      }
      break;
    }
    case TColorSpaceKind::DeviceN:
      if (id < deviceNSpaces_.size()) {
        TPDFDeviceNColorSpace& s = *deviceNSpaces_[id];
        size_t n = static_cast<size_t>(std::clamp(s.GetColorantCount(), 0, kMaxColorComponents));
        std::vector<double> tints(n);
        for (size_t i = n; i-- > 0;) tints[i] = run.PopNumber();
        s.GetPostScript(tints);
        color = s.GetColor();
      }
      break;
    case TColorSpaceKind::Lab: {
      double lab[3];
      lab[2] = run.PopNumber();
      lab[1] = run.PopNumber();
      lab[0] = run.PopNumber();
      if (id < labSpaces_.size())
        color = CalibratedToRGB(*labSpaces_[id], std::span<const double, 3>(lab, 3), &colorManager_);
      break;
    }
    case TColorSpaceKind::Indexed: {
      double index = run.PopNumber();
      if (id < indexedSpaces_.size()) color = IndexedColor(indexedSpaces_[id], index);
      break;
    }
    case TColorSpaceKind::Pattern:
      // The pattern's name, after the colour of an uncoloured pattern when
      // the space has a base: that colour is read in the base space.
      (fill ? run.gs.FillPattern : run.gs.StrokePattern) = std::string(run.PopName());
      if (id > 0 && id <= patternBases_.size()) {
        TColorSpaceRef& current = fill ? run.gs.FillColorSpace : run.gs.StrokeColorSpace;
        TAssignOnExit<TColorSpaceRef> restoreSpace(current);
        current = patternBases_[id - 1];  // never a Pattern space itself
        SetColor(run, fill);
      }
      break;
  }
}

TColor TPDFRenderer::IndexedColor(const TPDFIndexedColorSpace& s, double index) {
  const size_t n = s.Base == TColorSpaceKind::DeviceGray ? 1 : s.Base == TColorSpaceKind::DeviceCMYK ? 4 : 3;
  const int64_t i = static_cast<int64_t>(std::clamp(std::nearbyint(index), 0.0, double(s.HiVal)));
  double v[4] = {0, 0, 0, 0};
  for (size_t k = 0; k < n; ++k) {
    size_t at = static_cast<size_t>(i) * n + k;
    v[k] = at < s.Lookup.size() ? static_cast<uint8_t>(s.Lookup[at]) / 255.0 : 0;
  }
  if (n == 1) return PackRGBColor(v[0], v[0], v[0]);
  if (n == 3) return colorManager_.RGBToColor(std::span<const double, 3>(v, 3));
  double rgb[3];
  colorManager_.CMYKToRGB(std::span<const double, 4>(v, 4), std::span<double, 3>(rgb, 3));
  return colorManager_.RGBToColor(std::span<const double, 3>(rgb, 3));
}

TColorSpaceRef TPDFRenderer::ResolveColorSpace(TRun& run, std::string_view name) {
  if (name == "/DeviceRGB" || name == "/CalRGB") return {TColorSpaceKind::DeviceRGB};
  if (name == "/DeviceGray" || name == "/CalGray") return {TColorSpaceKind::DeviceGray};
  if (name == "/DeviceCMYK") return {TColorSpaceKind::DeviceCMYK};
  if (name == "/Pattern") return {TColorSpaceKind::Pattern};
  TPDFObject* value = nullptr;
  if (name.starts_with("/")) {
    if (TPDFDictionary* spaces = ResourceDictionary(run, "ColorSpace")) value = ResolveObject(spaces->GetValue(name.substr(1)));
  }
  return ColorSpaceOf(value, 0);
}

namespace {

// Device spaces by their family name; other names are drawn as RGB.
TColorSpaceRef deviceSpaceNamed(std::string_view name) {
  if (name == "DeviceGray" || name == "CalGray") return {TColorSpaceKind::DeviceGray};
  if (name == "DeviceCMYK") return {TColorSpaceKind::DeviceCMYK};
  if (name == "Pattern") return {TColorSpaceKind::Pattern};
  return {TColorSpaceKind::DeviceRGB};
}

bool isDeviceSpace(TColorSpaceRef space) {
  return space.Kind == TColorSpaceKind::DeviceGray || space.Kind == TColorSpaceKind::DeviceRGB ||
         space.Kind == TColorSpaceKind::DeviceCMYK;
}

}  // namespace

TColorSpaceRef TPDFRenderer::ColorSpaceOf(TPDFObject* value, int depth) {
  constexpr TColorSpaceRef rgb{TColorSpaceKind::DeviceRGB};
  if (TPDFName* n = PDFAsName(value)) return deviceSpaceNamed(n->GetValue());
  TPDFArray* array = PDFAsArray(value);
  if (!array || array->GetCount() < 1 || depth > 4) return rgb;
  TPDFName* family = PDFAsName(ResolveObject(array->GetItem(0)));
  const std::string kind = family ? family->GetValue() : std::string();
  if (kind == "ICCBased") {
    TPDFStream* profile = PDFAsStream(ResolveObject(array->GetItem(1)));
    TPDFDictionary* pd = profile ? profile->GetDictionary() : nullptr;
    if (!pd) return rgb;
    TPDFObject* alternate = ResolveObject(pd->GetValue("Alternate"));
    if (alternate) {
      const TColorSpaceRef alt = ColorSpaceOf(alternate, depth + 1);
      if (isDeviceSpace(alt)) return alt;
    }
    switch (pd->GetInteger("N", 3)) {
      case 1: return {TColorSpaceKind::DeviceGray};
      case 4: return {TColorSpaceKind::DeviceCMYK};
      default: return rgb;
    }
  }
  if (kind == "CalGray") return {TColorSpaceKind::DeviceGray};
  if (kind == "Pattern") return PatternSpace(array, depth);
  // One space object per colour-space array, made on first use and named by
  // its kind and place in the list.
  auto reuse = [&](TColorSpaceKind spaceKind, auto& spaces, std::vector<TPDFObject*>& keys, auto make) {
    for (size_t i = 0; i < keys.size(); ++i)
      if (keys[i] == array) return TColorSpaceRef{spaceKind, static_cast<uint32_t>(i)};
    spaces.push_back(make());
    keys.push_back(array);
    return TColorSpaceRef{spaceKind, static_cast<uint32_t>(spaces.size() - 1)};
  };
  auto load = [&](auto space) {
    space->OnLookupObject = [this](TPDFIndRef* ref) { return ResolveObject(ref); };
    if constexpr (requires { space->Load(array); }) {
      space->Load(array);
    } else {
      space->Load(array, "");
    }
    return space;
  };
  if (kind == "Separation")
    return reuse(TColorSpaceKind::Separation, separationSpaces_, separationKeys_,
                 [&] { return load(std::make_unique<TPDFSeparationColorSpace>(&colorManager_)); });
  if (kind == "DeviceN")
    return reuse(TColorSpaceKind::DeviceN, deviceNSpaces_, deviceNKeys_,
                 [&] { return load(std::make_unique<TPDFDeviceNColorSpace>(&colorManager_)); });
  if (kind == "Lab")
    return reuse(TColorSpaceKind::Lab, labSpaces_, labKeys_, [&] { return load(std::make_unique<TPDFLabColorSpace>()); });
  if (kind == "Indexed")
    return reuse(TColorSpaceKind::Indexed, indexedSpaces_, indexedKeys_, [&] { return MakeIndexedSpace(array, depth); });
  return rgb;
}

TColorSpaceRef TPDFRenderer::PatternSpace(TPDFArray* array, int depth) {
  // Index 0: no base space; otherwise one past the base's place.
  for (size_t i = 0; i < patternKeys_.size(); ++i)
    if (patternKeys_[i] == array) return TColorSpaceRef{TColorSpaceKind::Pattern, static_cast<uint32_t>(i + 1)};
  if (array->GetCount() < 2) return {TColorSpaceKind::Pattern};
  const TColorSpaceRef base = ColorSpaceOf(ResolveObject(array->GetItem(1)), depth + 1);
  if (base.Kind == TColorSpaceKind::Pattern) return {TColorSpaceKind::Pattern};
  patternBases_.push_back(base);
  patternKeys_.push_back(array);
  return TColorSpaceRef{TColorSpaceKind::Pattern, static_cast<uint32_t>(patternBases_.size())};
}

TPDFIndexedColorSpace TPDFRenderer::MakeIndexedSpace(TPDFArray* array, int depth) {
  TPDFIndexedColorSpace space;
  const TColorSpaceRef base = ColorSpaceOf(ResolveObject(array->GetItem(1)), depth + 1);
  space.Base = base.Kind == TColorSpaceKind::DeviceGray || base.Kind == TColorSpaceKind::DeviceCMYK
                   ? base.Kind
                   : TColorSpaceKind::DeviceRGB;
  TPDFNumeric* hival = PDFAsNumeric(ResolveObject(array->GetItem(2)));
  space.HiVal = hival ? static_cast<int32_t>(std::clamp<int64_t>(hival->AsInteger(), 0, 255)) : 0;
  TPDFObject* lookupRef = array->GetItem(3);
  TPDFObject* lookup = ResolveObject(lookupRef);
  if (TPDFString* s = PDFAsString(lookup)) {
    space.Lookup = s->GetValue();
  } else if (TPDFStream* s = PDFAsStream(lookup)) {
    space.Lookup = ReadStreamData(s, PDFAsIndRef(lookupRef));
  }
  return space;
}

// ---------------------------------------------------------------------------
// Graphics state parameters

void TPDFRenderer::ApplyExtGState(TRun& run, std::string_view name) {
  if (!name.starts_with("/")) return;
  TPDFDictionary* states = ResourceDictionary(run, "ExtGState");
  if (!states) return;
  TPDFDictionary* gs = PDFAsDictionary(ResolveObject(states->GetValue(name.substr(1))));
  if (!gs) return;
  if (TPDFName* type = PDFAsName(ResolveObject(gs->GetValue("Type"))); type && type->GetValue() != "ExtGState") return;
  auto number = [&](std::string_view key) -> TPDFNumeric* { return PDFAsNumeric(ResolveObject(gs->GetValue(key))); };
  if (TPDFNumeric* n = number("LW")) run.gs.LineWidth = n->GetValue();
  if (TPDFNumeric* n = number("LC")) run.gs.LineCap = static_cast<int32_t>(std::clamp<int64_t>(n->AsInteger(), 0, 2));
  if (TPDFNumeric* n = number("LJ")) run.gs.LineJoin = static_cast<int32_t>(std::clamp<int64_t>(n->AsInteger(), 0, 2));
  if (TPDFNumeric* n = number("ML")) run.gs.MiterLimit = n->GetValue();
  if (TPDFArray* font = PDFAsArray(ResolveObject(gs->GetValue("Font"))); font && font->GetCount() == 2) {
    TPDFIndRef* ref = PDFAsIndRef(font->GetItem(0));
    TPDFNumeric* size = PDFAsNumeric(ResolveObject(font->GetItem(1)));
    if (ref && size) {
      run.gs.FontKey = std::to_string(ref->GetRefNumber()) + " " + std::to_string(ref->GetRefGeneration()) + " R";
      run.gs.FontSize = size->GetValue();
      SelectFontFromKey(run);
    }
  }
  if (TPDFNumeric* n = number("CA")) run.gs.StrokeAlpha = std::clamp(n->GetValue(), 0.0, 1.0);
  if (TPDFNumeric* n = number("ca")) run.gs.FillAlpha = std::clamp(n->GetValue(), 0.0, 1.0);
}

// ---------------------------------------------------------------------------
// XObjects and images

void TPDFRenderer::DrawXObject(TRun& run, std::string_view name) {
  if (!run.visible || !name.starts_with("/")) return;
  TPDFDictionary* xobjects = ResourceDictionary(run, "XObject");
  if (!xobjects) return;
  TPDFObject* entry = xobjects->GetValue(name.substr(1));
  TPDFIndRef* ref = PDFAsIndRef(entry);
  TPDFStream* stream = PDFAsStream(ResolveObject(entry));
  if (!stream || !stream->GetDictionary()) return;
  TPDFDictionary* sd = stream->GetDictionary();
  if (!OptionalContentVisible(sd->GetValue("OC"))) return;
  std::string subtype = sd->GetNameValue("Subtype");
  if (subtype == "Form") {
    double bbox[4];
    const bool hasBox = readNumbers(*this, sd->GetValue("BBox"), 4, bbox);
    double m[6];
    if (readNumbers(*this, sd->GetValue("Matrix"), 6, m)) {
      TPDFMatrix matrix{m[0], m[1], m[2], m[3], m[4], m[5]};
      MatrixMultiply(CTM, matrix, CTM);
      run.gs.CTM = CTM;
    }
    DefaultResources = run.resources;
    TStateSave save(*this, run);
    SavedState = run.gs;
    UseSavedState = true;
    TAssignOnExit<bool> savedStateTaken(UseSavedState, false);
    if (hasBox) ClipToBox(run, bbox[0], bbox[1], bbox[2], bbox[3]);
    RunNested(*run.canvas, stream, {}, ref);
  } else if (subtype == "Image") {
    if (OutputKind != rokText) DrawImageXObject(run, stream, ref);
  }
}

void TPDFRenderer::DrawImageXObject(TRun& run, TPDFStream* stream, TPDFIndRef* ref) {
  // Raster targets take pictures at their device size; recorded and
  // exported kinds (metafiles, EPS, image lists) keep every pixel.
  if (OutputKind == rokBitmap || OutputKind == rokCairo || OutputKind == rokDeviceContext ||
      OutputKind == rokPrinter) {
    const double matrix[6] = {CTM.a, CTM.b, CTM.c, CTM.d, CTM.e, CTM.f};
    DrawPreparedImageXObject(run, stream, ref, matrix);
    return;
  }
  TPDFImageDecoder* decoder = nullptr;
  std::unique_ptr<TPDFImageDecoder> uncached;
  if (ref) {
    for (TPDFImageCacheEntry& e : imageCache_) {
      if (e.ObjectNumber == ref->GetRefNumber() && e.Generation == ref->GetRefGeneration()) {
        decoder = e.Decoder.get();
        break;
      }
    }
  }
  if (!decoder) {
    auto fresh = std::make_unique<TPDFImageDecoder>();
    fresh->KeepEncoded = OutputKind == rokImageList;
    fresh->OnLookupObject = [this](TPDFIndRef* r) { return ResolveObject(r); };
    fresh->OnBeforeRead = OnDecryptStream;
    fresh->OnAfterRead = OnEncryptStream;
    {
      TStreamDecryption decrypted(*this, stream, ref);
      fresh->SetImage(stream);
    }
    if (ref) {
      if (imageCacheBytes_ > MaxImageCacheBytes) {
        imageCache_.clear();
        imageCacheBytes_ = 0;
      }
      imageCacheBytes_ += std::max<int64_t>(fresh->GetImageByteCount(), 0);
      decoder = fresh.get();
      imageCache_.push_back(TPDFImageCacheEntry{ref->GetRefNumber(), ref->GetRefGeneration(), std::move(fresh)});
    } else {
      decoder = fresh.get();
      uncached = std::move(fresh);
    }
  }
  if (OutputKind == rokImageList) {
    if (!ImageList || !decoder->IsReady()) return;
    TPDFImageListItem item;
    uint8_t format = decoder->GetOutputFormat();
    item.DataForm = format == iofTIFF ? 3 : format == iofJPEG ? 1 : 2;
    item.Data = decoder->GetImageBytes();
    item.Width = decoder->GetWidth();
    item.Height = decoder->GetHeight();
    const double unit[4][2] = {{0, 1}, {1, 1}, {0, 0}, {1, 0}};
    for (int i = 0; i < 4; ++i) {
      TPDFPoint p = apply(CTM, unit[i][0], unit[i][1]);
      item.Corners[2 * i] = p.x;
      item.Corners[2 * i + 1] = p.y;
    }
    ImageList->Add(item);
    return;
  }
  if (!decoder->IsReady()) return warnPictureLeftOut(ref, decoder->GetErrorText());
  const double matrix[6] = {CTM.a, CTM.b, CTM.c, CTM.d, CTM.e, CTM.f};
  std::string failure;
  decoder->DrawImage(*run.canvas, matrix, run.gs.FillColor, &failure);
  if (!failure.empty()) warnPictureLeftOut(ref, failure);
}

void TPDFRenderer::warnPictureLeftOut(TPDFIndRef* ref, const std::string& reason) {
  // A picture drawn many times is noted once; a page of countless broken
  // pictures keeps only the first notes.
  constexpr size_t kMaxWarnings = 50;
  std::string note = ref ? "image " + std::to_string(ref->GetRefNumber()) + " " +
                               std::to_string(ref->GetRefGeneration()) + " R left out: "
                         : std::string("inline image left out: ");
  note += reason.empty() ? "it cannot be decoded" : reason;
  if (Warnings.size() >= kMaxWarnings || std::find(Warnings.begin(), Warnings.end(), note) != Warnings.end()) return;
  Warnings.push_back(std::move(note));
}

void TPDFRenderer::DrawPreparedImageXObject(TRun& run, TPDFStream* stream, TPDFIndRef* ref,
                                            const double matrix[6]) {
  if (!stream || !stream->GetDictionary()) return;
  TPDFDictionary* dict = stream->GetDictionary();
  auto dimension = [&](TPDFDictionary* d, const char* key) {
    TPDFNumeric* n = PDFAsNumeric(ResolveObject(d->GetValue(key)));
    const double v = n ? n->GetValue() : 0;
    return v >= 1 && v <= TPDFImageDecoder::MaxImageSide ? static_cast<int32_t>(v) : 0;
  };
  // The grid the picture is prepared from, as the dictionaries tell it: a
  // mask finer than the picture (text cut out of a flat colour) keeps its
  // resolution up to the device's.
  int32_t gridWidth = dimension(dict, "Width"), gridHeight = dimension(dict, "Height");
  {
    TPDFStream* mask = PDFAsStream(ResolveObject(dict->GetValue("SMask")));
    if (!mask) mask = PDFAsStream(ResolveObject(dict->GetValue("Mask")));
    if (mask && mask != stream && mask->GetDictionary() && gridWidth > 0 && gridHeight > 0) {
      gridWidth = std::max(gridWidth, dimension(mask->GetDictionary(), "Width"));
      gridHeight = std::max(gridHeight, dimension(mask->GetDictionary(), "Height"));
    }
  }
  int32_t width = 0, height = 0;
  PreparedImageSize(gridWidth, gridHeight, matrix, width, height);
  if (!ImageCache && !ownImageCache_) ownImageCache_ = std::make_unique<TPDFImageCache>();
  TPDFImageCache& cache = ImageCache ? *ImageCache : *ownImageCache_;
  // Images reached without a reference (direct streams) have no identity to
  // keep them under; they are prepared for the one draw.
  TPDFImageCacheKey key;
  if (ref) {
    key = TPDFImageCacheKey{ref->GetRefNumber(), ref->GetRefGeneration(), ImageStreamFingerprint(stream), width,
                            height};
    if (auto prepared = cache.Find(key)) {
      std::string failure;
      DrawPreparedImage(*run.canvas, *prepared, matrix, run.gs.FillColor, &failure);
      if (!failure.empty()) warnPictureLeftOut(ref, failure);
      return;
    }
  }
  // The last decoded picture serves when it is the same image decoded for
  // no less than this size (or holding no less).
  auto holds = [&](const TPDFImageDecoder& d) {
    int32_t w = 0, h = 0;
    DecodedImageGridSize(d, w, h);
    return w >= width && h >= height;
  };
  const bool again =
      ref && lastImage_.Decoder && lastImage_.Number == key.Number && lastImage_.Generation == key.Generation &&
      lastImage_.Fingerprint == key.Fingerprint &&
      (!lastImage_.Decoder->IsReady() || (lastImage_.NeededWidth >= width && lastImage_.NeededHeight >= height) ||
       holds(*lastImage_.Decoder));
  if (!again) {
    // The previous picture goes before the next is decoded: one at a time.
    lastImage_.Decoder.reset();
    auto fresh = std::make_unique<TPDFImageDecoder>();
    fresh->KeepBilevel = true;
    fresh->KeepSamples = true;
    fresh->NeededWidth = width;
    fresh->NeededHeight = height;
    fresh->OnLookupObject = [this](TPDFIndRef* r) { return ResolveObject(r); };
    fresh->OnBeforeRead = OnDecryptStream;
    fresh->OnAfterRead = OnEncryptStream;
    {
      TStreamDecryption decrypted(*this, stream, ref);
      fresh->SetImage(stream);
    }
    lastImage_ = TLastImage{key.Number, key.Generation, key.Fingerprint, width, height, std::move(fresh)};
  }
  TPDFImageDecoder& decoder = *lastImage_.Decoder;
  if (!decoder.IsReady()) return warnPictureLeftOut(ref, decoder.GetErrorText());
  // The decoded sizes hold where they differ from the dictionaries'.
  int32_t preparedWidth = width, preparedHeight = height;
  int32_t decodedWidth = 0, decodedHeight = 0;
  DecodedImageGridSize(decoder, decodedWidth, decodedHeight);
  if (decodedWidth != gridWidth || decodedHeight != gridHeight)
    PreparedImageSize(decodedWidth, decodedHeight, matrix, preparedWidth, preparedHeight);
  std::shared_ptr<TPDFPreparedImage> prepared;
  try {
    prepared = PrepareImage(decoder, preparedWidth, preparedHeight);
  } catch (...) {
    return warnPictureLeftOut(ref, CurrentExceptionText());
  }
  if (!prepared) return;
  std::string failure;
  DrawPreparedImage(*run.canvas, *prepared, matrix, run.gs.FillColor, &failure);
  if (!failure.empty()) warnPictureLeftOut(ref, failure);
  if (ref) cache.Insert(key, std::move(prepared));
  if (!ref) lastImage_.Decoder.reset();
}

void TPDFRenderer::DrawInlineImage(TRun& run) {
  TPDFInlineImage image;
  size_t position = run.pos;
  TPDFObjectLookup lookup = [this](TPDFIndRef* r) { return ResolveObject(r); };
  if (!ParseInlineImage(run.text, position, image, lookup, run.resources))
    throw EPDFRenderError("Inline image without ID");
  run.pos = position;
  if (OutputKind == rokText || OutputKind == rokImageList) return;
  TPDFImageDecoder decoder;
  decoder.OnLookupObject = lookup;
  const bool raster = OutputKind == rokBitmap || OutputKind == rokCairo || OutputKind == rokDeviceContext ||
                      OutputKind == rokPrinter;
  decoder.KeepBilevel = raster;
  decoder.KeepSamples = raster;
  decoder.ExpandInlineImage(image, run.resources ? run.resources->GetOwner() : Structure);
  const double matrix[6] = {CTM.a, CTM.b, CTM.c, CTM.d, CTM.e, CTM.f};
  if (!decoder.IsReady()) return warnPictureLeftOut(nullptr, decoder.GetErrorText());
  std::string failure;
  if (!raster) {
    decoder.DrawImage(*run.canvas, matrix, run.gs.FillColor, &failure);
    if (!failure.empty()) warnPictureLeftOut(nullptr, failure);
    return;
  }
  // Drawn as image objects are (reduced to the device size), not kept.
  int32_t width = 0, height = 0, gridWidth = 0, gridHeight = 0;
  DecodedImageGridSize(decoder, gridWidth, gridHeight);
  PreparedImageSize(gridWidth, gridHeight, matrix, width, height);
  try {
    if (auto prepared = PrepareImage(decoder, width, height))
      DrawPreparedImage(*run.canvas, *prepared, matrix, run.gs.FillColor, &failure);
  } catch (...) {
    failure = CurrentExceptionText();
  }
  // A picture that cannot be prepared is left out of the page, noted.
  if (!failure.empty()) warnPictureLeftOut(nullptr, failure);
}

// ---------------------------------------------------------------------------
// Marked content and optional content

void TPDFRenderer::BeginMarkedContent(TRun& run, std::string_view tag, std::string_view properties) {
  run.marked.push_back(run.visible);
  if (tag != "/OC") return;
  TPDFObject* oc = nullptr;
  if (properties.starts_with("<<")) {
    oc = inlineProperties(properties);
  } else if (properties.starts_with("/")) {
    TPDFDictionary* props = ResourceDictionary(run, "Properties");
    if (!props) return;
    oc = props->GetValue(properties.substr(1));
  }
  // Content inside hidden content stays hidden whatever its own group says.
  if (oc && !OptionalContentVisible(oc)) run.visible = false;
}

TPDFObject* TPDFRenderer::inlineProperties(std::string_view text) {
  // Properties run to their ">>" or to the end of the content: text this
  // long is no property list but a dictionary left open, and marks nothing.
  constexpr size_t kMaxInlineProperties = 64 * 1024;
  if (text.size() > kMaxInlineProperties) return nullptr;
  auto& known = optionalContent_.inlineObjects;
  if (auto found = known.find(std::string(text)); found != known.end()) return found->second;
  auto& pool = optionalContent_.inlinePool;
  if (!pool) {
    // The dictionary names the document's groups by reference: the
    // references are looked up in the document.
    pool = std::make_unique<TPDFStructure>();
    pool->OnLookupObject = [this](TPDFIndRef* ref, int32_t number, int32_t generation) -> TPDFObject* {
      return Structure && Structure->OnLookupObject ? Structure->OnLookupObject(ref, number, generation) : nullptr;
    };
  }
  TPDFObject* parsed = pool->ParseObject(text);
  known.emplace(std::string(text), parsed);
  return parsed;
}

void TPDFRenderer::loadOptionalContent() {
  if (optionalContent_.loaded) return;
  optionalContent_.loaded = true;
  if (!Structure || !PageObject) return;
  // The catalog is the dictionary that names the root of this page's tree.
  TPDFDictionary* root = PageObject;
  for (int depth = 0; depth < 64; ++depth) {
    TPDFDictionary* parent = PDFAsDictionary(ResolveObject(root->GetValue("Parent")));
    if (!parent || parent == root) break;
    root = parent;
  }
  const int32_t count = Structure->GetCount();
  for (int32_t i = 0; i < count; ++i) {
    TPDFDictionary* catalog = PDFAsDictionary(Structure->GetObject(i));
    if (!catalog || !catalog->GetValue("OCProperties") || catalog->GetNameValue("Type") != "Catalog") continue;
    if (PDFAsDictionary(ResolveObject(catalog->GetValue("Pages"))) != root) continue;
    TPDFDictionary* properties = PDFAsDictionary(ResolveObject(catalog->GetValue("OCProperties")));
    TPDFDictionary* config = properties ? PDFAsDictionary(ResolveObject(properties->GetValue("D"))) : nullptr;
    if (!config) return;
    optionalContent_.baseOff = config->GetNameValue("BaseState") == "OFF";
    auto collect = [&](TPDFDictionary* from, std::string_view key, std::vector<const TPDFObject*>& groups) {
      if (TPDFArray* list = PDFAsArray(ResolveObject(from->GetValue(key))))
        for (TPDFObject* item : list->Items())
          if (const TPDFObject* group = PDFAsDictionary(ResolveObject(item))) groups.push_back(group);
    };
    collect(config, "ON", optionalContent_.on);
    collect(config, "OFF", optionalContent_.off);
    if (PDFAsArray(ResolveObject(properties->GetValue("OCGs")))) {
      optionalContent_.groups.emplace();
      collect(properties, "OCGs", *optionalContent_.groups);
    }
    return;
  }
}

bool TPDFRenderer::groupIsOn(TPDFDictionary* group) {
  loadOptionalContent();
  auto holds = [group](const std::vector<const TPDFObject*>& list) {
    return std::find(list.begin(), list.end(), group) != list.end();
  };
  // A group the document does not list (one written inline among them) is
  // none of the configuration's business: only its usage can turn it off.
  const bool governed = !optionalContent_.groups || holds(*optionalContent_.groups);
  bool on = !governed || holds(optionalContent_.on) || (!holds(optionalContent_.off) && !optionalContent_.baseOff);
  // A group's usage for this output can turn it off as well.
  if (TPDFDictionary* usage = PDFAsDictionary(ResolveObject(group->GetValue("Usage")))) {
    const char* key = OutputKind == rokPrinter ? "Print" : "View";
    if (TPDFDictionary* byUse = PDFAsDictionary(ResolveObject(usage->GetValue(key))))
      if (TPDFName* state = PDFAsName(ResolveObject(byUse->GetValue(std::string(key) + "State"))))
        on = on && state->GetValue() != "OFF";
  }
  return on;
}

// Bounds of one visibility expression: how deep it may nest, how many terms
// it may have in all (terms shared by several operators count each time),
// and the arrays of the path being weighed, so one that holds itself ends.
struct TPDFRenderer::TExpressionWalk {
  static constexpr size_t MaxDepth = 32;
  static constexpr size_t MaxTerms = 4096;
  size_t terms = 0;
  std::vector<const TPDFArray*> path;
};

std::optional<bool> TPDFRenderer::visibilityExpression(TPDFObject* expression, TExpressionWalk& walk) {
  if (++walk.terms > TExpressionWalk::MaxTerms) return std::nullopt;
  TPDFObject* term = ResolveObject(expression);
  if (TPDFDictionary* group = PDFAsDictionary(term)) return groupIsOn(group);
  TPDFArray* array = PDFAsArray(term);
  // A term that is neither a group nor an operation hides nothing.
  if (!array || array->GetCount() < 1) return true;
  if (walk.path.size() >= TExpressionWalk::MaxDepth ||
      std::find(walk.path.begin(), walk.path.end(), array) != walk.path.end())
    return std::nullopt;
  walk.path.push_back(array);
  TPDFName* op = PDFAsName(ResolveObject(array->GetItem(0)));
  const std::string_view name = op ? std::string_view(op->GetValue()) : std::string_view();
  const int32_t count = array->GetCount();
  std::optional<bool> result = true;  // an unknown operation hides nothing
  if (name == "Not" && count == 2) {
    result = visibilityExpression(array->GetItem(1), walk);
    if (result) result = !*result;
  } else if (name == "And" || name == "Or") {
    // And of no terms is true, Or of none false; the first term that
    // decides ends the weighing.
    const bool all = name == "And";
    result = all;
    for (int32_t i = 1; i < count && result == all; ++i) result = visibilityExpression(array->GetItem(i), walk);
  }
  walk.path.pop_back();
  return result;
}

bool TPDFRenderer::OptionalContentVisible(TPDFObject* oc) {
  TPDFDictionary* d = PDFAsDictionary(ResolveObject(oc));
  if (!d) return true;
  auto known = optionalContent_.decided.find(d);
  if (known != optionalContent_.decided.end()) return known->second;
  bool visible = true;
  if (d->GetNameValue("Type") != "OCMD") {
    visible = groupIsOn(d);
  } else if (TPDFObject* ve = d->GetValue("VE"); PDFAsArray(ResolveObject(ve))) {
    // A visibility expression, when there is one, decides alone; one that
    // cannot be weighed (too deep, holding itself) hides nothing.
    TExpressionWalk walk;
    visible = visibilityExpression(ve, walk).value_or(true);
  } else {
    // Its groups under its policy (AnyOn by default).
    std::vector<TPDFDictionary*> groups;
    TPDFObject* ocgs = ResolveObject(d->GetValue("OCGs"));
    if (TPDFDictionary* one = PDFAsDictionary(ocgs)) groups.push_back(one);
    if (TPDFArray* list = PDFAsArray(ocgs))
      for (TPDFObject* item : list->Items())
        if (TPDFDictionary* group = PDFAsDictionary(ResolveObject(item))) groups.push_back(group);
    if (!groups.empty()) {
      size_t on = 0;
      for (TPDFDictionary* group : groups) on += groupIsOn(group);
      const std::string policy = d->GetNameValue("P");
      if (policy == "AllOn")
        visible = on == groups.size();
      else if (policy == "AnyOff")
        visible = on < groups.size();
      else if (policy == "AllOff")
        visible = on == 0;
      else
        visible = on > 0;
    }
  }
  optionalContent_.decided.emplace(d, visible);
  return visible;
}

// ---------------------------------------------------------------------------
// Annotations

void TPDFRenderer::DrawAnnotations(TRun& run) {
  TPDFArray* annots = PDFAsArray(ResolveObject(PageObject->GetValue("Annots")));
  if (!annots) return;
  // A path the page content built and never painted is no part of any
  // appearance: left open, it joined the first annotation's clip (a
  // page-sized shape in place of the appearance).
  if (run.pathOpen) {
    run.canvas->EndPathNoPaint();
    EndPath(run);
  }
  for (TPDFObject* item : annots->Items()) {
    if (!PDFAsIndRef(item)) continue;
    TPDFDictionary* annot = PDFAsDictionary(ResolveObject(item));
    if (!annot) continue;
    TPDFNumeric* f = PDFAsNumeric(ResolveObject(annot->GetValue("F")));
    const int64_t flags = f ? f->AsInteger() : 0;
    CTM = BaseCTM;
    if (!AnnotationIsDrawn(static_cast<uint32_t>(flags), OutputKind == rokPrinter)) continue;
    if (!OptionalContentVisible(annot->GetValue("OC"))) continue;
    try {
      DrawAnnotation(run, annot);
    } catch (const Exception& e) {
      if (ErrorText.empty()) ErrorText = std::string("Rendering exception: ") + e.what();
    }
  }
  CTM = BaseCTM;
}

void TPDFRenderer::DrawAnnotation(TRun& run, TPDFDictionary* annot) {
  double rect[4];
  if (!readNumbers(*this, annot->GetValue("Rect"), 4, rect)) return;
  const double xmin = std::min(rect[0], rect[2]), xmax = std::max(rect[0], rect[2]);
  const double ymin = std::min(rect[1], rect[3]), ymax = std::max(rect[1], rect[3]);
  TPDFDictionary* ap = PDFAsDictionary(ResolveObject(annot->GetValue("AP")));
  TPDFObject* normal = ap ? ap->GetValue("N") : nullptr;
  TPDFIndRef* ref = nullptr;
  TPDFStream* appearance = nullptr;
  if (!ap) {
    // A note without an appearance (as the program adds them) still shows
    // where it is, as other readers show it.
    if (annot->GetNameValue("Subtype") == "Text") {
      const std::string icon = noteIconContent(*this, annot, xmin, ymin, xmax, ymax);
      if (!icon.empty()) {
        DefaultResources = run.resources;
        RunNested(*run.canvas, annot, icon, nullptr);
      }
    }
    return;
  }
  if (TPDFIndRef* r = PDFAsIndRef(normal); r && PDFAsStream(ResolveObject(r))) {
    ref = r;
    appearance = PDFAsStream(ResolveObject(r));
  } else if (TPDFDictionary* states = PDFAsDictionary(ResolveObject(normal))) {
    TPDFObject* as = annot->GetValue("AS");
    if (TPDFIndRef* asRef = PDFAsIndRef(as)) {
      ref = asRef;
      appearance = PDFAsStream(ResolveObject(asRef));
    } else if (TPDFName* asName = PDFAsName(as)) {
      ref = PDFAsIndRef(states->GetValue(asName->GetValue()));
      appearance = ref ? PDFAsStream(ResolveObject(ref)) : nullptr;
    }
  }
  if (!appearance || !ref || !appearance->GetDictionary()) return;
  TPDFDictionary* ad = appearance->GetDictionary();
  double bb[4];
  if (!readNumbers(*this, ad->GetValue("BBox"), 4, bb)) return;
  // The appearance's matrix maps its box; the box as mapped is fitted to the Rect.
  TPDFMatrix matrix;
  double m[6];
  if (readNumbers(*this, ad->GetValue("Matrix"), 6, m)) matrix = TPDFMatrix{m[0], m[1], m[2], m[3], m[4], m[5]};
  const TPDFBox mapped = MatrixTransformBox(matrix, bb[0], bb[1], bb[2], bb[3]);
  const double bx1 = mapped.x1, by1 = mapped.y1, bx2 = mapped.x2, by2 = mapped.y2;
  // A box without area clips everything away: nothing to draw (drawing the
  // form unscaled and unclipped would spill it over the page).
  if (!(bx2 > bx1) || !(by2 > by1)) return;
  TStateSave save(*this, run);
  ClipToBox(run, xmin, ymin, xmax, ymax);
  const double sx = (xmax - xmin) / (bx2 - bx1);
  const double sy = (ymax - ymin) / (by2 - by1);
  TAssignOnExit<TPDFMatrix> restoreCTM(CTM);
  MatrixMultiply(CTM, TPDFMatrix{1, 0, 0, 1, xmin - sx * bx1, ymin - sy * by1}, CTM);
  MatrixMultiply(CTM, TPDFMatrix{sx, 0, 0, sy, 0, 0}, CTM);
  MatrixMultiply(CTM, matrix, CTM);
  DefaultResources = run.resources;
  RunNested(*run.canvas, appearance, {}, ref);
}

// ---------------------------------------------------------------------------
// Tiling patterns

void TPDFRenderer::FillWithPattern(TRun& run, TFillRule rule) {
  TPDFPicasso& canvas = *run.canvas;
  const std::string& name = run.gs.FillPattern;
  TPDFDictionary* patterns = ResourceDictionary(run, "Pattern");
  TPDFObject* entry = patterns && name.starts_with("/") ? patterns->GetValue(std::string_view(name).substr(1)) : nullptr;
  TPDFIndRef* ref = PDFAsIndRef(entry);
  TPDFStream* pattern = PDFAsStream(ResolveObject(entry));
  TPDFDictionary* pd = pattern ? pattern->GetDictionary() : nullptr;
  double bbox[4];
  TPDFNumeric* xstepValue = pd ? PDFAsNumeric(ResolveObject(pd->GetValue("XStep"))) : nullptr;
  TPDFNumeric* ystepValue = pd ? PDFAsNumeric(ResolveObject(pd->GetValue("YStep"))) : nullptr;
  if (!ref || !pd || pd->GetInteger("PatternType", 0) != 1 || !xstepValue || !ystepValue ||
      !readNumbers(*this, pd->GetValue("BBox"), 4, bbox) || OutputWidth <= 0 || OutputHeight <= 0) {
    canvas.EndPathNoPaint();
    if (eps_) eps_->EndPath();
    return;
  }
  const double xstep = std::fabs(xstepValue->GetValue()), ystep = std::fabs(ystepValue->GetValue());
  TPDFMatrix toDevice;
  double m[6];
  if (readNumbers(*this, pd->GetValue("Matrix"), 6, m)) toDevice = TPDFMatrix{m[0], m[1], m[2], m[3], m[4], m[5]};
  MatrixMultiply(toDevice, toDevice, BaseCTM);
  const double det = toDevice.a * toDevice.d - toDevice.b * toDevice.c;
  if (!(xstep > 0) || !(ystep > 0) || !std::isfinite(det) || std::fabs(det) < 1e-12) {
    canvas.EndPathNoPaint();
    if (eps_) eps_->EndPath();
    return;
  }
  // The output's corners in pattern space give the cells that can show.
  const TPDFMatrix inverse{toDevice.d / det,
                           -toDevice.b / det,
                           -toDevice.c / det,
                           toDevice.a / det,
                           (toDevice.c * toDevice.f - toDevice.d * toDevice.e) / det,
                           (toDevice.b * toDevice.e - toDevice.a * toDevice.f) / det};
  const TPDFBox visible = MatrixTransformBox(inverse, 0, 0, double(OutputWidth), double(OutputHeight));
  const double minX = visible.x1, maxX = visible.x2, minY = visible.y1, maxY = visible.y2;
  const double bx1 = std::min(bbox[0], bbox[2]), bx2 = std::max(bbox[0], bbox[2]);
  const double by1 = std::min(bbox[1], bbox[3]), by2 = std::max(bbox[1], bbox[3]);
  const double i0 = std::floor((minX - bx2) / xstep), i1 = std::ceil((maxX - bx1) / xstep);
  const double j0 = std::floor((minY - by2) / ystep), j1 = std::ceil((maxY - by1) / ystep);
  const double cells = (i1 - i0 + 1) * (j1 - j0 + 1);
  if (!std::isfinite(cells) || cells > double(MaxPatternCells) || cells < 1) {
    // Too many cells to draw one by one: the area stays unpainted.
    canvas.EndPathNoPaint();
    if (eps_) eps_->EndPath();
    return;
  }
  const TClipToken outerClip = canvas.SaveClip();
  canvas.SetClip(rule);
  canvas.EndPathNoPaint();
  if (eps_) eps_->SaveState(), eps_->SetClipRule(RuleCode(rule)), eps_->EndPath();
  // The clip and state saved above are given back last, after the CTM.
  TScopeExit restoreOuter([this, &canvas, outerClip] {
    canvas.RestoreClip(outerClip);
    if (eps_) eps_->RestoreState();
  });
  TAssignOnExit<TPDFMatrix> restoreCTM(CTM);
  const bool uncoloured = pd->GetInteger("PaintType", 1) == 2;
  for (double j = j0; j <= j1; ++j) {
    for (double i = i0; i <= i1; ++i) {
      MatrixMultiply(CTM, TPDFMatrix{1, 0, 0, 1, i * xstep, j * ystep}, toDevice);
      TStateSave save(*this, run);
      run.gs.CTM = CTM;
      TAssignOnExit<bool> savedStateTaken(UseSavedState, false);
      ClipToBox(run, bx1, by1, bx2, by2);
      if (uncoloured) {
        // An uncoloured cell paints, fills and strokes alike, in the colour
        // the fill was set with; left in the Pattern space, its own painting
        // would fill with the pattern again and show nothing.
        SavedState = run.gs;
        SavedState.FillColorSpace = SavedState.StrokeColorSpace = {TColorSpaceKind::DeviceRGB};
        SavedState.StrokeColor = SavedState.FillColor;
        SavedState.StrokeAlpha = SavedState.FillAlpha;
        UseSavedState = true;
      }
      RunNested(canvas, pattern, {}, ref);
    }
  }
}
