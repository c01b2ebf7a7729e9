#include "pages/PavonaPainter.h"

#include <algorithm>
#include <cmath>

#include "objects/PavonaExtra.h"
#include "pages/PavonaFont.h"

namespace {

double clampUnit(double v) {
  if (!(v >= 0)) return 0;  // also NaN
  return v > 1 ? 1 : v;
}

// Integer of a field of the saved text state.
int32_t fieldInt(std::string_view text) { return StringToIntDef(TrimStr(text), 0); }

}  // namespace

TPDFPainter::TPDFPainter(TPDFPageTree* owner) : Owner(owner) {
  Reset();
  pathOpen_ = false;
  lineCap_ = 0;
  lineJoin_ = 0;
  lineWidth_ = 1.0;
  miterLimit_ = 10.0;
  kerning_ = 0;
}

// --- Raw output ---------------------------------------------------------------

void TPDFPainter::WriteOp(std::string_view text, char terminator) {
  if (text.empty()) return;
  content_.append(text);
  if (terminator != 0) content_ += terminator;
}

std::string TPDFPainter::FormatNumber(double x) const {
  std::string s = FormatPDFNumber(precision_, x);
  s += ' ';
  return s;
}

void TPDFPainter::WriteNumber(double x) { content_ += FormatNumber(x); }

std::string TPDFPainter::GetContent() const {
  std::string out = content_;
  if (out.empty() || out.back() != '\n') out += '\n';
  return out;
}

void TPDFPainter::SetContent(std::string_view text) {
  content_.assign(text);
  if (!content_.empty() && content_.back() != ' ') content_ += ' ';
}

void TPDFPainter::Reset() {
  ResetState();
  font_ = nullptr;
  fontSize_ = 0;
  content_.clear();
  MarkAllDirty();
  updatesSuspended_ = 0;
  Changed();
}

void TPDFPainter::Changed() {
  if (updatesSuspended_ == 0 && OnChange) OnChange(this);
}

// --- Graphics state written at once --------------------------------------------

void TPDFPainter::SaveState() {
  WriteOp("q");
  Changed();
}

void TPDFPainter::RestoreState() {
  WriteOp("Q");
  MarkAllDirty();
  Changed();
}

void TPDFPainter::Scale(double s) {
  std::string line = FormatNumber(s) + "0 0 " + FormatNumber(s) + "0 0 cm";
  WriteOp(line);
  Changed();
}

void TPDFPainter::RotateAround(double x, double y, double angle) {
  double rad = angle * M_PI / 180.0;
  double c = std::cos(rad), s = std::sin(rad);
  std::string line = FormatNumber(c) + FormatNumber(s) + FormatNumber(-s) + FormatNumber(c) + " " + FormatNumber(x) +
                     FormatNumber(y);
  WriteOp(line);
  WriteOp("cm");
}

void TPDFPainter::SetExtGState(std::string_view name) {
  std::string line = "/";
  line.append(name);
  line += " gs";
  WriteOp(line);
}

// --- Pending state ------------------------------------------------------------

std::string TPDFPainter::colorOp(double a, double b, double c, std::string_view op) const {
  std::string s = FormatNumber(clampUnit(a)) + FormatNumber(clampUnit(b)) + FormatNumber(clampUnit(c));
  s.append(op);
  return s;
}

std::string TPDFPainter::colorOp4(double a, double b, double c, double d, std::string_view op) const {
  std::string s =
      FormatNumber(clampUnit(a)) + FormatNumber(clampUnit(b)) + FormatNumber(clampUnit(c)) + FormatNumber(clampUnit(d));
  s.append(op);
  return s;
}

void TPDFPainter::SetFillColor(double r, double g, double b) {
  fillStr_ = colorOp(r, g, b, "rg");
  setDirty(dFill | dTextColor);
}

void TPDFPainter::SetLineColor(double r, double g, double b) {
  strokeStr_ = colorOp(r, g, b, "RG");
  setDirty(dStroke);
}

void TPDFPainter::SetFillColorCMYK(double c, double m, double y, double k) {
  fillStr_ = colorOp4(c, m, y, k, "k");
  setDirty(dFill | dTextColor);
}

void TPDFPainter::SetLineColorCMYK(double c, double m, double y, double k) {
  strokeStr_ = colorOp4(c, m, y, k, "K");
  setDirty(dStroke);
}

void TPDFPainter::SetTextColor(double r, double g, double b) {
  r = clampUnit(r);
  g = clampUnit(g);
  b = clampUnit(b);
  textColorText_ = "#";
  for (double v : {r, g, b}) textColorText_ += IntToHexStr(std::lround(v * 255), 2);
  textFillStr_ = colorOp(r, g, b, "rg");
  textStrokeStr_ = colorOp(r, g, b, "RG");
  setDirty(dTextColor | dFill);
}

void TPDFPainter::SetTextColorCMYK(double c, double m, double y, double k) {
  textFillStr_ = colorOp4(c, m, y, k, "k");
  textStrokeStr_ = colorOp4(c, m, y, k, "K");
  setDirty(dTextColor | dFill);
}

void TPDFPainter::SetTextBackgroundColor(double r, double g, double b) { textBgStr_ = colorOp(r, g, b, "rg"); }

void TPDFPainter::SetFillColorSpace(std::string_view name, double tint) {
  fillStr_ = "/" + std::string(name) + " cs " + FormatNumber(tint) + "scn";
  setDirty(dFill | dTextColor);
}

void TPDFPainter::SetLineColorSpace(std::string_view name, double tint) {
  strokeStr_ = "/" + std::string(name) + " CS " + FormatNumber(tint) + "SCN";
  setDirty(dStroke);
}

void TPDFPainter::SetTextColorSpace(std::string_view name, double tint) {
  textFillStr_ = "/" + std::string(name) + " cs " + FormatNumber(tint) + "scn";
  textStrokeStr_ = textFillStr_;
  setDirty(dTextColor | dFill);
}

void TPDFPainter::SetFillPattern(std::string_view name) {
  fillStr_ = "/Pattern cs /" + std::string(name) + " scn";
  setDirty(dFill);
}

void TPDFPainter::SetRawShapeFillColor(std::string_view text) {
  fillStr_ = text;
  setDirty(dFill | dTextColor);
}

void TPDFPainter::SetRawLineColor(std::string_view text) {
  strokeStr_ = text;
  setDirty(dStroke);
}

void TPDFPainter::SetRawFillColor(std::string_view text) {
  textFillStr_ = text;
  textStrokeStr_ = text;
  setDirty(dTextColor | dFill);
}

void TPDFPainter::rebuildLineStyle() {
  lineStyleStr_ = FormatNumber(miterLimit_) + "M " + FormatNumber(lineWidth_) + "w " + std::to_string(lineCap_) +
                  " J " + std::to_string(lineJoin_) + " j";
  setDirty(dLineStyle);
}

void TPDFPainter::SetLineWidth(double w) {
  lineWidth_ = w;
  rebuildLineStyle();
}

void TPDFPainter::SetMiterLimit(double m) {
  miterLimit_ = m;
  rebuildLineStyle();
}

void TPDFPainter::SetLineDash(double dash, double gap) {
  if (dash < 0.1 || gap < 0.1)
    dashStr_ = "[] 0 d";
  else
    dashStr_ = "[ " + FormatNumber(dash) + FormatNumber(gap) + "] 0 d";
  setDirty(dDash);
}

void TPDFPainter::SetFont(TPDFFont* font, double size) {
  if (!(size > 0)) size = 1;
  font_ = font;
  fontSize_ = size;
  decorationWidth_ = size * 6.25 / 100;
  decorationOffset_ = 0;
  fontStr_ = "/" + (font ? font->GetResourceName() : std::string()) + " " + FormatNumber(size) + "Tf";
  setDirty(dFont | dTextColor | dFill);
}

void TPDFPainter::SetTextScaling(double percent) {
  scaling_ = percent;
  scalingStr_ = FormatNumber(percent) + "Tz";
  setDirty(dScaling);
}

void TPDFPainter::SetTextRise(double rise) {
  rise_ = rise;
  riseStr_ = FormatNumber(rise) + "Ts";
  setDirty(dRise);
}

void TPDFPainter::rebuildSpacing() {
  spacingStr_ = FormatNumber(charSpacing_) + "Tc " + FormatNumber(wordSpacing_) + "Tw";
  setDirty(dSpacing);
}

void TPDFPainter::SetCharSpacing(double c) {
  charSpacing_ = c;
  rebuildSpacing();
}

void TPDFPainter::SetWordSpacing(double w) {
  wordSpacing_ = w;
  rebuildSpacing();
}

void TPDFPainter::SetTextMode(int32_t mode) {
  renderMode_ = mode >= 0 && mode <= 7 ? mode : 0;
  setDirty(dRenderMode);
}

void TPDFPainter::DiscardPendingState() { clearDirty(dFill | dStroke | dLineStyle | dDash); }

void TPDFPainter::MarkAllDirty() { dirty_ = dAll; }

void TPDFPainter::ResetState() {
  textFillStr_ = "0 0 0 rg";
  fillStr_ = "1 1 1 rg";
  strokeStr_ = "0 0 0 RG";
  lineStyleStr_ = "1 w";
  dashStr_ = "[] 0 d";
  scalingStr_ = "100 Tz";
  riseStr_ = "0 Ts";
  spacingStr_ = "0 Tw 0 Tc";
  textBgStr_ = "0.5 0.5 0.5 rg";
  textStrokeStr_ = "0 0 0 RG";
  scaling_ = 100;
  rise_ = 0;
  wordSpacing_ = 0;
  charSpacing_ = 0;
  dashFactor_ = 0;
  gapFactor_ = 0;
  renderMode_ = 0;
  alignment_ = 0;
  leading_ = 0;
  decorationKind_ = 0;
  backgroundKind_ = 0;
}

void TPDFPainter::ResetTextState() {
  textFillStr_ = "0 0 0 rg";
  scaling_ = 100;
  scalingStr_ = "100 Tz";
  charSpacing_ = 0;
  wordSpacing_ = 0;
  spacingStr_ = "0 Tc 0 Tw";
  rise_ = 0;
  riseStr_ = "0 Ts";
  renderMode_ = 0;
  dashFactor_ = 0;
  gapFactor_ = 0;
  textBgStr_ = "0.5 0.5 0.5 rg";
  textStrokeStr_ = "0 0 0 RG";
  alignment_ = 0;
  leading_ = 0;
  decorationKind_ = 0;
  backgroundKind_ = 0;
  setDirty(dTextColor | dScaling | dSpacing | dRise | dRenderMode);
}

std::string TPDFPainter::SaveTextState() const {
  auto num = [this](double v) { return FormatPDFNumber(precision_, v); };
  std::vector<std::string> fields = {
      std::to_string(font_ ? font_->GetObjectNumber() : 0),
      num(fontSize_),
      textFillStr_,
      fillStr_,
      strokeStr_,
      lineStyleStr_,
      dashStr_,
      num(scaling_),
      scalingStr_,
      num(charSpacing_),
      num(wordSpacing_),
      spacingStr_,
      textBgStr_,
      textStrokeStr_,
      num(dashFactor_),
      num(gapFactor_),
      std::to_string(renderMode_),
      std::to_string(alignment_),
      num(leading_),
      std::to_string(decorationKind_),
      std::to_string(backgroundKind_),
      num(rise_),
      num(decorationWidth_),
      num(decorationOffset_),
  };
  std::string out;
  for (const std::string& f : fields) {
    out += f;
    out += '\t';
  }
  return out;
}

void TPDFPainter::RestoreTextState(std::string_view saved, const std::function<TPDFFont*(int32_t)>& lookupFont) {
  std::vector<std::string_view> f;
  size_t start = 0;
  while (start <= saved.size() && f.size() < 24) {
    size_t tab = saved.find('\t', start);
    if (tab == std::string_view::npos) {
      if (start < saved.size()) f.push_back(saved.substr(start));
      break;
    }
    f.push_back(saved.substr(start, tab - start));
    start = tab + 1;
  }
  if (f.size() < 24) return;  // not a saved state of this painter
  auto num = [](std::string_view t) { return PDFTextToFloat(t); };
  TPDFFont* font = lookupFont ? lookupFont(fieldInt(f[0])) : nullptr;
  double size = num(f[1]);
  textFillStr_ = f[2];
  fillStr_ = f[3];
  strokeStr_ = f[4];
  lineStyleStr_ = f[5];
  dashStr_ = f[6];
  scaling_ = num(f[7]);
  scalingStr_ = f[8];
  charSpacing_ = num(f[9]);
  wordSpacing_ = num(f[10]);
  spacingStr_ = f[11];
  textBgStr_ = f[12];
  textStrokeStr_ = f[13];
  dashFactor_ = num(f[14]);
  gapFactor_ = num(f[15]);
  renderMode_ = std::clamp(fieldInt(f[16]), 0, 7);
  SetTextAlignment(fieldInt(f[17]));
  leading_ = num(f[18]);
  SetDecorationKind(static_cast<uint8_t>(std::clamp(fieldInt(f[19]), 0, 255)));
  SetBackgroundKind(static_cast<uint8_t>(std::clamp(fieldInt(f[20]), 0, 255)));
  double rise = num(f[21]);
  double decoWidth = num(f[22]);
  double decoOffset = num(f[23]);
  if (font) SetFont(font, size);
  decorationWidth_ = decoWidth;
  decorationOffset_ = decoOffset;
  SetTextRise(rise);
  MarkAllDirty();
}

// --- Paths -------------------------------------------------------------------------

void TPDFPainter::addPathEntry(std::string entry) { pathList_.push_back(std::move(entry)); }

void TPDFPainter::MoveTo(double x, double y) {
  pathList_.clear();
  MoveToKeepPath(x, y);
}

void TPDFPainter::MoveToKeepPath(double x, double y) {
  pathOpen_ = true;
  currentX_ = x;
  currentY_ = y;
  addPathEntry(FormatNumber(x) + FormatNumber(y) + "m");
}

void TPDFPainter::LineTo(double x, double y) {
  addPathEntry(FormatNumber(x) + FormatNumber(y) + "l");
  currentX_ = x;
  currentY_ = y;
}

void TPDFPainter::CurveTo(double x1, double y1, double x2, double y2, double x3, double y3) {
  addPathEntry(FormatNumber(x1) + FormatNumber(y1) + FormatNumber(x2) + FormatNumber(y2) + FormatNumber(x3) +
               FormatNumber(y3) + "c");
  currentX_ = x3;
  currentY_ = y3;
}

void TPDFPainter::ClosePath() {
  if (pathOpen_) addPathEntry("h");
}

void TPDFPainter::AddEndPath() {
  if (pathOpen_) addPathEntry("n");
}

void TPDFPainter::writePendingShapeState(bool fillToo) {
  if (dirty(dStroke)) WriteOp(strokeStr_);
  if (fillToo && dirty(dFill)) WriteOp(fillStr_);
  if (dirty(dLineStyle)) WriteOp(lineStyleStr_);
  if (dirty(dDash)) WriteOp(dashStr_);
}

void TPDFPainter::paintPathWith(bool fill, bool stroke, std::string_view fillOp, std::string_view bothOp) {
  if (pathOpen_) {
    writePendingShapeState(true);
    for (const std::string& entry : pathList_) WriteOp(entry);
    if (fill && stroke)
      WriteOp(bothOp);
    else if (fill)
      WriteOp(fillOp);
    else if (stroke)
      WriteOp("S");
    else
      WriteOp("n");
    pathList_.clear();
    Changed();
    pathOpen_ = false;
  }
  clearDirty(dFill | dStroke | dLineStyle | dDash);
  setDirty(dTextColor);
}

void TPDFPainter::PaintPath(bool fill, bool stroke) { paintPathWith(fill, stroke, "f", "B"); }

void TPDFPainter::PaintPathEvenOdd(bool fill, bool stroke) { paintPathWith(fill, stroke, "f*", "B*"); }

void TPDFPainter::clipWith(std::string_view op) {
  if (!pathOpen_) return;
  for (const std::string& entry : pathList_) WriteOp(entry);
  WriteOp(op);
  pathList_.clear();
  Changed();
  pathOpen_ = false;
}

void TPDFPainter::ClipPath() { clipWith("W n"); }

void TPDFPainter::ClipPathEvenOdd() { clipWith("W* n"); }

void TPDFPainter::DrawLine(double x1, double y1, double x2, double y2) {
  writePendingShapeState(false);
  WriteOp(FormatNumber(x1) + FormatNumber(y1) + "m " + FormatNumber(x2) + FormatNumber(y2) + "l S");
  Changed();
  clearDirty(dStroke | dLineStyle | dDash);
}
