#include "pages/PavonaPainter.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "objects/PavonaExtra.h"
#include "pages/PavonaFont.h"

namespace {

double clampUnit(double v) {
  if (!(v >= 0)) return 0;  // also NaN
  return v > 1 ? 1 : v;
}

// The stroking form of fill-colour operator text (as an appearance's default
// appearance string gives it): the same operands with the operators g, rg,
// k, cs, sc and scn in their stroking names. Text without them is kept.
std::string strokeFormOfFillText(std::string_view text) {
  static constexpr std::string_view kFill[] = {"g", "rg", "k", "cs", "sc", "scn"};
  static constexpr std::string_view kStroke[] = {"G", "RG", "K", "CS", "SC", "SCN"};
  std::string out;
  size_t pos = 0;
  while (pos < text.size()) {
    const size_t end = std::min(text.find_first_of(" \t\r\n", pos), text.size());
    std::string_view token = text.substr(pos, end - pos);
    size_t k = 0;
    while (k < std::size(kFill) && kFill[k] != token) ++k;
    out.append(k < std::size(kFill) ? kStroke[k] : token);
    if (end < text.size()) out += text[end];
    pos = end + 1;
  }
  return out;
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
  beforeWrite();
  content_.append(text);
  if (terminator != 0) content_ += terminator;
}

std::string TPDFPainter::FormatNumber(double x) const {
  std::string s = FormatPDFNumber(precision_, x);
  s += ' ';
  return s;
}

void TPDFPainter::WriteNumber(double x) {
  beforeWrite();
  content_ += FormatNumber(x);
}

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

TPDFPainter::TPendingColor TPDFPainter::TPendingColor::RGB(double r, double g, double b) {
  TPendingColor c;
  c.Kind = pckRGB;
  c.C[0] = clampUnit(r);
  c.C[1] = clampUnit(g);
  c.C[2] = clampUnit(b);
  return c;
}

TPDFPainter::TPendingColor TPDFPainter::TPendingColor::CMYK(double c, double m, double y, double k) {
  TPendingColor p;
  p.Kind = pckCMYK;
  p.C[0] = clampUnit(c);
  p.C[1] = clampUnit(m);
  p.C[2] = clampUnit(y);
  p.C[3] = clampUnit(k);
  return p;
}

TPDFPainter::TPendingColor TPDFPainter::TPendingColor::Named(TKind kind, std::string_view name, double tint) {
  return TPendingColor{kind, {tint, 0, 0, 0}, std::string(name)};
}

void TPDFPainter::assignFill(TPendingColor color) {
  fillColor_ = std::move(color);
  setDirty(dFill | dTextColor);
}

void TPDFPainter::assignStroke(TPendingColor color) {
  strokeColor_ = std::move(color);
  setDirty(dStroke);
}

void TPDFPainter::assignText(TPendingColor color) {
  textColor_ = std::move(color);
  setDirty(dTextColor | dFill);
}

std::string TPDFPainter::formatColor(const TPendingColor& color, bool stroke) const {
  switch (color.Kind) {
    case TPendingColor::pckRGB:
      return FormatNumber(color.C[0]) + FormatNumber(color.C[1]) + FormatNumber(color.C[2]) + (stroke ? "RG" : "rg");
    case TPendingColor::pckCMYK:
      return FormatNumber(color.C[0]) + FormatNumber(color.C[1]) + FormatNumber(color.C[2]) +
             FormatNumber(color.C[3]) + (stroke ? "K" : "k");
    case TPendingColor::pckSpace:
      return "/" + color.Name + (stroke ? " CS " : " cs ") + FormatNumber(color.C[0]) + (stroke ? "SCN" : "scn");
    case TPendingColor::pckPattern: return (stroke ? "/Pattern CS /" : "/Pattern cs /") + color.Name + (stroke ? " SCN" : " scn");
    case TPendingColor::pckRaw: return stroke ? strokeFormOfFillText(color.Name) : color.Name;
  }
  return {};
}

std::string TPDFPainter::formatLineStyle() const {
  if (!lineStyleFull_) return FormatNumber(lineWidth_) + "w";
  return FormatNumber(miterLimit_) + "M " + FormatNumber(lineWidth_) + "w " + std::to_string(lineCap_) + " J " +
         std::to_string(lineJoin_) + " j";
}

std::string TPDFPainter::formatDash(const TPendingDash& dash) const {
  if (dash.Solid) return "[] 0 d";
  return "[ " + FormatNumber(dash.On) + FormatNumber(dash.Off) + "] 0 d";
}

std::string TPDFPainter::formatFont() const {
  return "/" + (font_ ? font_->GetResourceName() : std::string()) + " " + FormatNumber(fontSize_) + "Tf";
}

std::string TPDFPainter::formatSpacing() const {
  return FormatNumber(wordSpacing_) + "Tw " + FormatNumber(charSpacing_) + "Tc";
}

void TPDFPainter::writePendingTextState() {
  if (dirty(dFont)) WriteOp(formatFont());
  if (dirty(dTextColor)) WriteOp(formatColor(textColor_, false));
  if (dirty(dScaling)) WriteOp(FormatNumber(scaling_) + "Tz");
  if (dirty(dRise)) WriteOp(FormatNumber(rise_) + "Ts");
  if (dirty(dSpacing)) WriteOp(formatSpacing());
}

void TPDFPainter::SetFillColor(double r, double g, double b) {
  assignFill(TPendingColor::RGB(r, g, b));
}

void TPDFPainter::SetLineColor(double r, double g, double b) {
  assignStroke(TPendingColor::RGB(r, g, b));
}

void TPDFPainter::SetFillColorCMYK(double c, double m, double y, double k) {
  assignFill(TPendingColor::CMYK(c, m, y, k));
}

void TPDFPainter::SetLineColorCMYK(double c, double m, double y, double k) {
  assignStroke(TPendingColor::CMYK(c, m, y, k));
}

void TPDFPainter::SetTextColor(double r, double g, double b) {
  assignText(TPendingColor::RGB(r, g, b));
  textColorText_ = "#";
  for (int i = 0; i < 3; ++i) textColorText_ += IntToHexStr(std::lround(textColor_.C[i] * 255), 2);
}

void TPDFPainter::SetTextColorCMYK(double c, double m, double y, double k) {
  assignText(TPendingColor::CMYK(c, m, y, k));
}

void TPDFPainter::SetTextBackgroundColor(double r, double g, double b) { textBgColor_ = TPendingColor::RGB(r, g, b); }

void TPDFPainter::SetFillColorSpace(std::string_view name, double tint) {
  assignFill(TPendingColor::Named(TPendingColor::pckSpace, name, tint));
}

void TPDFPainter::SetLineColorSpace(std::string_view name, double tint) {
  assignStroke(TPendingColor::Named(TPendingColor::pckSpace, name, tint));
}

void TPDFPainter::SetTextColorSpace(std::string_view name, double tint) {
  assignText(TPendingColor::Named(TPendingColor::pckSpace, name, tint));
}

void TPDFPainter::SetFillPattern(std::string_view name) {
  // A pattern leaves the text colour as it was.
  fillColor_ = TPendingColor::Named(TPendingColor::pckPattern, name);
  setDirty(dFill);
}

void TPDFPainter::SetRawShapeFillColor(std::string_view text) {
  assignFill(TPendingColor::Named(TPendingColor::pckRaw, text));
}

void TPDFPainter::SetRawLineColor(std::string_view text) {
  assignStroke(TPendingColor::Named(TPendingColor::pckRaw, text));
}

void TPDFPainter::SetRawFillColor(std::string_view text) {
  assignText(TPendingColor::Named(TPendingColor::pckRaw, text));
}

void TPDFPainter::SetLineWidth(double w) {
  lineWidth_ = w;
  lineStyleFull_ = true;
  setDirty(dLineStyle);
}

void TPDFPainter::SetMiterLimit(double m) {
  miterLimit_ = m;
  lineStyleFull_ = true;
  setDirty(dLineStyle);
}

void TPDFPainter::SetLineDash(double dash, double gap) {
  if (dash < 0.1 || gap < 0.1)
    dash_ = TPendingDash{};
  else
    dash_ = TPendingDash{false, dash, gap};
  setDirty(dDash);
}

void TPDFPainter::SetFont(TPDFFont* font, double size) {
  if (!(size > 0)) size = 1;
  font_ = font;
  fontSize_ = size;
  decorationWidth_ = size * 6.25 / 100;
  decorationOffset_ = 0;
  setDirty(dFont | dTextColor | dFill);
}

void TPDFPainter::SetTextScaling(double percent) {
  scaling_ = percent;
  setDirty(dScaling);
}

void TPDFPainter::SetTextRise(double rise) {
  rise_ = rise;
  setDirty(dRise);
}

void TPDFPainter::SetCharSpacing(double c) {
  charSpacing_ = c;
  setDirty(dSpacing);
}

void TPDFPainter::SetWordSpacing(double w) {
  wordSpacing_ = w;
  setDirty(dSpacing);
}

void TPDFPainter::SetTextMode(int32_t mode) {
  renderMode_ = mode >= 0 && mode <= 7 ? mode : 0;
  setDirty(dRenderMode);
}

void TPDFPainter::DiscardPendingState() { clearDirty(dFill | dStroke | dLineStyle | dDash); }

void TPDFPainter::MarkAllDirty() { dirty_ = dAll; }

void TPDFPainter::ResetState() {
  fillColor_ = TPendingColor::RGB(1, 1, 1);
  strokeColor_ = TPendingColor::RGB(0, 0, 0);
  lineWidth_ = 1.0;
  miterLimit_ = 10.0;
  lineCap_ = 0;
  lineJoin_ = 0;
  lineStyleFull_ = false;
  dash_ = TPendingDash{};
  setDirty(dFill | dStroke | dLineStyle | dDash);
  ResetTextState();
}

void TPDFPainter::ResetTextState() {
  textColor_ = TPendingColor::RGB(0, 0, 0);
  textBgColor_ = TPendingColor::RGB(0.5, 0.5, 0.5);
  scaling_ = 100;
  charSpacing_ = 0;
  wordSpacing_ = 0;
  rise_ = 0;
  renderMode_ = 0;
  dashFactor_ = 0;
  gapFactor_ = 0;
  alignment_ = 0;
  leading_ = 0;
  decorationKind_ = 0;
  backgroundKind_ = 0;
  setDirty(dTextColor | dScaling | dSpacing | dRise | dRenderMode);
}

// --- Saved text state -----------------------------------------------------------
//
// Tab-separated fields of exact numbers (shortest text that reads back to the
// same double), so saving and restoring never rounds the state.

namespace {

constexpr size_t kSavedFields = 20;

std::string exactNumber(double v) {
  char buf[64];
  auto res = std::to_chars(buf, buf + sizeof buf, v);
  return res.ec == std::errc() ? std::string(buf, res.ptr) : std::string("0");
}

double readExact(std::string_view t) {
  double v = 0;
  auto res = std::from_chars(t.data(), t.data() + t.size(), v);
  return res.ec == std::errc() && std::isfinite(v) ? v : 0;
}

// Splits at single spaces, at most limit pieces (the last keeps the rest).
std::vector<std::string_view> splitSpaces(std::string_view text, size_t limit) {
  std::vector<std::string_view> out;
  while (out.size() + 1 < limit) {
    size_t sp = text.find(' ');
    if (sp == std::string_view::npos) break;
    out.push_back(text.substr(0, sp));
    text.remove_prefix(sp + 1);
  }
  out.push_back(text);
  return out;
}

}  // namespace

std::string TPDFPainter::SaveTextState() const {
  // A colour: kind, four components and the name last, as the name may hold
  // blanks; tabs in raw operator text become blanks (the same to a reader).
  auto color = [](const TPendingColor& c) {
    std::string out = std::to_string(static_cast<int>(c.Kind));
    for (double v : c.C) out += ' ' + exactNumber(v);
    out += ' ';
    for (char ch : c.Name) out += ch == '\t' ? ' ' : ch;
    return out;
  };
  const std::string lineStyle = exactNumber(lineWidth_) + ' ' + exactNumber(miterLimit_) + ' ' +
                                std::to_string(lineCap_) + ' ' + std::to_string(lineJoin_) + ' ' +
                                (lineStyleFull_ ? "1" : "0");
  const std::string dash = std::string(dash_.Solid ? "1" : "0") + ' ' + exactNumber(dash_.On) + ' ' +
                           exactNumber(dash_.Off);
  const std::vector<std::string> fields = {
      std::to_string(font_ ? font_->GetObjectNumber() : 0),
      exactNumber(fontSize_),
      color(textColor_),
      color(fillColor_),
      color(strokeColor_),
      color(textBgColor_),
      lineStyle,
      dash,
      exactNumber(scaling_),
      exactNumber(charSpacing_),
      exactNumber(wordSpacing_),
      exactNumber(rise_),
      exactNumber(dashFactor_),
      exactNumber(gapFactor_),
      std::to_string(renderMode_),
      std::to_string(alignment_),
      exactNumber(leading_),
      std::to_string(decorationKind_) + ' ' + std::to_string(backgroundKind_),
      exactNumber(decorationWidth_),
      exactNumber(decorationOffset_),
  };
  static_assert(kSavedFields == 20);
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
  while (start <= saved.size() && f.size() < kSavedFields) {
    size_t tab = saved.find('\t', start);
    if (tab == std::string_view::npos) {
      if (start < saved.size()) f.push_back(saved.substr(start));
      break;
    }
    f.push_back(saved.substr(start, tab - start));
    start = tab + 1;
  }
  if (f.size() < kSavedFields) return;  // not a saved state of this painter
  auto color = [](std::string_view text, TPendingColor& out) {
    const std::vector<std::string_view> p = splitSpaces(text, 6);
    if (p.size() < 6) return false;
    const int32_t kind = fieldInt(p[0]);
    if (kind < TPendingColor::pckRGB || kind > TPendingColor::pckRaw) return false;
    TPendingColor c;
    c.Kind = static_cast<TPendingColor::TKind>(kind);
    for (size_t i = 0; i < 4; ++i) c.C[i] = readExact(p[i + 1]);
    c.Name = p[5];
    out = std::move(c);
    return true;
  };
  TPendingColor text, fill, stroke, background;
  const std::vector<std::string_view> style = splitSpaces(f[6], 5), dash = splitSpaces(f[7], 3),
                                      kinds = splitSpaces(f[17], 2);
  if (!color(f[2], text) || !color(f[3], fill) || !color(f[4], stroke) || !color(f[5], background) ||
      style.size() < 5 || dash.size() < 3 || kinds.size() < 2)
    return;
  TPDFFont* font = lookupFont ? lookupFont(fieldInt(f[0])) : nullptr;
  const double size = readExact(f[1]);
  textColor_ = std::move(text);
  fillColor_ = std::move(fill);
  strokeColor_ = std::move(stroke);
  textBgColor_ = std::move(background);
  lineWidth_ = readExact(style[0]);
  miterLimit_ = readExact(style[1]);
  lineCap_ = std::clamp(fieldInt(style[2]), 0, 2);
  lineJoin_ = std::clamp(fieldInt(style[3]), 0, 2);
  lineStyleFull_ = fieldInt(style[4]) != 0;
  dash_ = TPendingDash{fieldInt(dash[0]) != 0, readExact(dash[1]), readExact(dash[2])};
  scaling_ = readExact(f[8]);
  charSpacing_ = readExact(f[9]);
  wordSpacing_ = readExact(f[10]);
  const double rise = readExact(f[11]);
  dashFactor_ = readExact(f[12]);
  gapFactor_ = readExact(f[13]);
  renderMode_ = std::clamp(fieldInt(f[14]), 0, 7);
  SetTextAlignment(fieldInt(f[15]));
  leading_ = readExact(f[16]);
  SetDecorationKind(static_cast<uint8_t>(std::clamp(fieldInt(kinds[0]), 0, 255)));
  SetBackgroundKind(static_cast<uint8_t>(std::clamp(fieldInt(kinds[1]), 0, 255)));
  const double decoWidth = readExact(f[18]);
  const double decoOffset = readExact(f[19]);
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
  if (dirty(dStroke)) WriteOp(formatColor(strokeColor_, true));
  if (fillToo && dirty(dFill)) WriteOp(formatColor(fillColor_, false));
  if (dirty(dLineStyle)) WriteOp(formatLineStyle());
  if (dirty(dDash)) WriteOp(formatDash(dash_));
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
