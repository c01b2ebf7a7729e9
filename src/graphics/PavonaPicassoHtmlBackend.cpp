// The HTML5 canvas back-end of TPDFPicasso: the page becomes a script of
// canvas calls in an HTML page. Pictures do not reach the script.
#include "graphics/PavonaPicassoBackend.h"

#include "objects/PavonaExtra.h"

namespace {

constexpr const char* kCRLF = "\r\n";

std::string Num(double v) { return FormatPDFNumber(3, v); }

std::string HexColor(TColor c) {
  static const char* digits = "0123456789ABCDEF";
  std::string s = "#";
  for (uint8_t b : {GetRValue(c), GetGValue(c), GetBValue(c)}) {
    s += digits[b >> 4];
    s += digits[b & 15];
  }
  return s;
}

const char* ClipCall(TFillRule rule) { return rule == frEvenOdd ? "ctx.clip(\"evenodd\");" : "ctx.clip();"; }

// Lines joined by CR LF, with one after the last.
std::string Lines(std::initializer_list<const char*> lines) {
  std::string text;
  for (const char* line : lines) {
    text += line;
    text += kCRLF;
  }
  return text;
}

class TPicassoHtml final : public TPicassoBackend {
public:
  TPicassoHtml(TPDFPicasso& owner, TStream& stream) : TPicassoBackend(owner), html_(stream) {
    Write(Lines({"<!DOCTYPE html><html><head><script type=\"text/javascript\">", "function PavonaLibraryDraw() {",
                 "  var canvas = document.getElementById(\"PVLCanvas\");", "  if (canvas.getContext) {",
                 "    var ctx = canvas.getContext(\"2d\");"}));
  }

  void EndPage(int width, int height) override {
    if (saved_) Write("ctx.restore();");
    saved_ = false;
    std::string tail = Lines({"  }", "}", "</script>", "</head><body onload=\"PavonaLibraryDraw()\">"});
    tail += "<canvas id=\"PVLCanvas\" width=\"" + std::to_string(width) + "\" height=\"" + std::to_string(height) +
            "\"></canvas>";
    tail += kCRLF;
    tail += "</body></html>";
    Write(tail);
  }

  void BeginPath() override {
    path_.clear();
    Write("ctx.beginPath();");
  }
  void MoveTo(double x, double y) override { PathCall("ctx.moveTo(" + Num(x) + "," + Num(y) + ");"); }
  void LineTo(double x, double y) override { PathCall("ctx.lineTo(" + Num(x) + "," + Num(y) + ");"); }
  void CurveTo(double x1, double y1, double x2, double y2, double x3, double y3) override {
    PathCall("ctx.bezierCurveTo(" + Num(x1) + "," + Num(y1) + "," + Num(x2) + "," + Num(y2) + "," + Num(x3) + "," +
             Num(y3) + ");");
  }
  void QuadraticCurveTo(double cx, double cy, double x, double y) override {
    PathCall("ctx.quadraticCurveTo(" + Num(cx) + "," + Num(cy) + "," + Num(x) + "," + Num(y) + ");");
  }
  void ClosePath() override { PathCall("ctx.closePath();"); }

  void Paint(PaintKind what) override {
    const TLineState before = line_;
    std::string text;
    auto alpha = [&](double a) {
      if (a != line_.alpha) {
        text += "ctx.globalAlpha=" + Num(a) + ";";
        line_.alpha = a;
      }
    };
    if (what != PaintKind::Stroke) {
      alpha(FillAlpha());
      text += "ctx.fillStyle = \"" + HexColor(FillColor()) + "\";";
      text += FillRule() == frEvenOdd ? "ctx.fill(\"evenodd\");" : "ctx.fill();";
    }
    if (what != PaintKind::Fill) {
      alpha(StrokeAlpha());
      text += LineSettings();
      text += "ctx.strokeStyle = \"" + HexColor(StrokeColor()) + "\";";
      text += "ctx.stroke();";
    }
    if (ClipPending()) {
      // The state is saved ahead of this painting's settings (the path is
      // not part of the state).
      text = SaveUnclipped(before) + text + ClipCall(ClipRule());
      CommitClip(ClipPath{{}, ClipRule(), path_});
    }
    Write(text);
  }

  void EndPathNoPaint() override {
    if (!ClipPending()) return;
    Write(SaveUnclipped(line_) + ClipCall(ClipRule()));
    CommitClip(ClipPath{{}, ClipRule(), path_});
  }

  void ApplyClip(const std::vector<ClipPath>& clips) override {
    if (!saved_) return;
    // Back to the unclipped state, then the saved clip again.
    std::string text = "ctx.restore();ctx.save();";
    line_ = unclippedLine_;
    for (const ClipPath& c : clips) text += "ctx.beginPath();" + c.htmlPath + ClipCall(c.rule);
    Write(text);
  }

  bool DrawsPictures() const override { return false; }
  void DrawPicture(TBitmap&, const double[6], const ColorKey*) override {}

private:
  // Settings the script has in effect (the canvas defaults at first).
  struct TLineState {
    double alpha = 1.0;
    double width = 1;
    std::string cap = "butt", join = "miter";
    double miter = 10;
    std::string dashes;
    double phase = 0;
  };

  void Write(const std::string& text) {
    if (!text.empty()) html_.WriteString(text);
  }

  void PathCall(const std::string& text) {
    path_ += text;  // kept to set the path again as a clip
    Write(text);
  }

  // Line settings reach the script only when they differ from what it has.
  std::string LineSettings() {
    std::string text;
    TLineState want;
    want.alpha = line_.alpha;
    const double lineWidth = LineWidth();
    const int cap = LineCap(), join = LineJoin();
    want.width = lineWidth;
    want.cap = cap == 1 ? "round" : cap == 2 ? "square" : "butt";
    want.join = join == 1 ? "round" : join == 2 ? "bevel" : "miter";
    want.miter = MiterLimit();
    double unit = lineWidth > 0 ? lineWidth : 1.0;
    for (float d : Dashes()) want.dashes += (want.dashes.empty() ? "" : ",") + Num(d * unit);
    want.phase = Dashes().empty() ? 0 : DashPhase() * unit;
    if (want.width != line_.width) text += "ctx.lineWidth=" + Num(want.width) + ";";
    if (want.cap != line_.cap) text += "ctx.lineCap=\"" + want.cap + "\";";
    if (want.join != line_.join) text += "ctx.lineJoin=\"" + want.join + "\";";
    if (want.miter != line_.miter) text += "ctx.miterLimit=" + Num(want.miter) + ";";
    if (want.dashes != line_.dashes) text += "ctx.setLineDash([" + want.dashes + "]);";
    if (want.phase != line_.phase) text += "ctx.lineDashOffset=" + Num(want.phase) + ";";
    line_ = want;
    return text;
  }

  // The canvas can only drop a clip by restoring a saved state: the
  // unclipped state (the settings the script had then) is saved once, before
  // the first clip.
  std::string SaveUnclipped(const TLineState& settings) {
    if (saved_) return {};
    saved_ = true;
    unclippedLine_ = settings;
    return "ctx.save();";
  }

  TStream& html_;
  std::string path_;  // the path statements since beginPath
  bool saved_ = false;
  TLineState line_, unclippedLine_;
};

}  // namespace

std::unique_ptr<TPicassoBackend> CreateHtmlBackend(TPDFPicasso& owner, TStream& stream) {
  return std::make_unique<TPicassoHtml>(owner, stream);
}
