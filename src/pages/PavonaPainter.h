// The writer of one content stream (a page, a form XObject, a glyph procedure
// or an appearance stream) as PDF operator text.
//
// Graphics and text state set through the setters is kept as values (colours,
// line style, dash, font, spacing) and formatted into operators just before
// the next painting or text operator that needs it, so consecutive drawings in
// one state write each state operator once and every operator has one writer.
// Paths are buffered one operator per entry and written when painted or
// clipped. The owner (the page tree) is told of every completed change
// through OnChange and stores the text in the page's content stream.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

class TPDFPageTree;
class TPDFFont;
class TPDFImage;

// One line produced by word wrapping.
struct TPDFWrappedLine {
  int32_t Spaces = 0;         // space characters in the line
  bool ParagraphEnd = false;  // the line ended at the separator
  bool BrokenWord = false;    // a piece of a word wider than the box
};

class TPDFPainter {
public:
  using TChangeCallback = std::function<void(TPDFPainter* sender)>;

  // Bézier circle constant 4(sqrt(2) - 1) / 3.
  static constexpr double kKappa = 0.5522847498307935;

  explicit TPDFPainter(TPDFPageTree* owner = nullptr);
  TPDFPainter(const TPDFPainter&) = delete;
  TPDFPainter& operator=(const TPDFPainter&) = delete;

  // --- Raw output -----------------------------------------------------------
  // Appends text and then the terminator byte (when not 0); nothing at all
  // for an empty text.
  void WriteOp(std::string_view text, char terminator = '\n');
  // The number at the painter's precision followed by one space.
  void WriteNumber(double x);
  std::string FormatNumber(double x) const;
  // The whole content; the copy gets a line feed when the buffer does not
  // end with one.
  std::string GetContent() const;
  // The buffer becomes text; a non-empty text that does not end with a space
  // gets one, so the next operator stays separated from it.
  void SetContent(std::string_view text);
  // Default state, no font, empty buffer, everything pending again.
  void Reset();
  // Calls the change callback unless updates are suspended.
  void Changed();
  const std::string& Content() const { return content_; }

  int32_t GetPrecision() const { return precision_; }
  void SetPrecision(int32_t digits) { precision_ = digits; }
  void BeginUpdate() { ++updatesSuspended_; }
  void EndUpdate() {
    if (updatesSuspended_ > 0) --updatesSuspended_;
  }

  // --- Graphics state written at once --------------------------------------
  void SaveState();
  void RestoreState();
  void Scale(double s);
  void RotateAround(double x, double y, double angle);
  void SetExtGState(std::string_view name);

  // --- Pending state ---------------------------------------------------------
  void SetFillColor(double r, double g, double b);
  void SetLineColor(double r, double g, double b);
  void SetFillColorCMYK(double c, double m, double y, double k);
  void SetLineColorCMYK(double c, double m, double y, double k);
  void SetTextColor(double r, double g, double b);
  void SetTextColorCMYK(double c, double m, double y, double k);
  void SetTextBackgroundColor(double r, double g, double b);
  void SetFillColorSpace(std::string_view name, double tint);
  void SetLineColorSpace(std::string_view name, double tint);
  void SetTextColorSpace(std::string_view name, double tint);
  void SetFillPattern(std::string_view name);
  void SetRawShapeFillColor(std::string_view text);
  void SetRawLineColor(std::string_view text);
  void SetRawFillColor(std::string_view text);
  void SetLineWidth(double w);
  void SetMiterLimit(double m);
  double GetLineWidth() const { return lineWidth_; }
  void SetLineDash(double dash, double gap);
  void SetFont(TPDFFont* font, double size);
  void SetTextScaling(double percent);
  void SetTextRise(double rise);
  void SetCharSpacing(double c);
  void SetWordSpacing(double w);
  void SetTextMode(int32_t mode);
  void SetLeading(double points) { leading_ = points; }
  void SetDecorationWidth(double points) { decorationWidth_ = points; }
  void SetDecorationOffset(double points) { decorationOffset_ = points; }
  void SetDecorationKind(uint8_t kind) { decorationKind_ = kind <= 4 ? kind : 0; }
  void SetBackgroundKind(uint8_t kind) { backgroundKind_ = kind <= 2 ? kind : 0; }
  void SetDecorationDash(double dashFactor, double gapFactor) {
    dashFactor_ = dashFactor;
    gapFactor_ = gapFactor;
  }
  // Alignment 0 left, 1 centre, 2 right, 3..5 block justification modes.
  void SetTextAlignment(int32_t alignment) { alignment_ = alignment >= 1 && alignment <= 5 ? uint8_t(alignment) : 0; }
  int32_t GetTextAlignment() const { return alignment_; }
  void SetKerning(bool on) { kerning_ = on ? 1 : 0; }
  void DiscardPendingState();
  void MarkAllDirty();
  void ResetState();
  void ResetTextState();
  std::string SaveTextState() const;
  // The font is found again through lookupFont (object number -> font).
  void RestoreTextState(std::string_view saved, const std::function<TPDFFont*(int32_t)>& lookupFont);

  TPDFFont* GetFont() const { return font_; }
  double GetFontSize() const { return fontSize_; }
  double GetLeading() const { return leading_; }
  const std::string& GetTextColorText() const { return textColorText_; }
  std::pair<double, double> GetLastTextEnd() const { return {lastTextX_, lastTextY_}; }
  std::pair<double, double> GetCurrentPoint() const { return {currentX_, currentY_}; }

  // --- Paths -----------------------------------------------------------------
  void MoveTo(double x, double y);
  void MoveToKeepPath(double x, double y);
  void LineTo(double x, double y);
  void CurveTo(double x1, double y1, double x2, double y2, double x3, double y3);
  void ClosePath();
  void AddEndPath();
  void PaintPath(bool fill, bool stroke);
  void PaintPathEvenOdd(bool fill, bool stroke);
  void ClipPath();
  void ClipPathEvenOdd();
  void DrawLine(double x1, double y1, double x2, double y2);
  bool IsPathOpen() const { return pathOpen_; }

  // --- Shapes and images -------------------------------------------------------
  // Rectangles are given by left, top, width and height; they extend down.
  void DrawBox(bool fill, bool stroke, double left, double top, double width, double height);
  void DrawRoundedBox(bool fill, bool stroke, double left, double top, double width, double height, double radius);
  void DrawRoundedBoxXY(bool fill, bool stroke, double left, double top, double width, double height, double rx,
                        double ry);
  void DrawEllipse(bool fill, bool stroke, double cx, double cy, double width, double height);
  // Angles in degrees from the positive y axis towards the positive x axis.
  void AddArc(bool pie, bool fill, double cx, double cy, double radius, double startAngle, double endAngle,
              bool stroke, bool close);
  void AddArcBetweenPoints(bool pie, bool fill, double cx, double cy, double width, double height, double startAngle,
                           double endAngle, bool stroke, bool close);
  void DrawImage(const TPDFImage& image, double left, double top, double width, double height);
  void DrawImageMatrix(const TPDFImage& image, double left, double top, double width, double height, double skewX,
                       double skewY);

  // --- Text -------------------------------------------------------------------
  double GetTextWidth(std::string_view bytes) const;
  double GetTextWidthW(std::u16string_view text) const;
  double GetFontAscent() const;
  double GetFontDescent() const;
  double GetLineHeight() const;
  double GetFontMetric(int32_t selector) const;
  void WrapText(std::u16string_view text, std::vector<std::u16string>& lines, double width,
                std::u16string_view separator, std::vector<TPDFWrappedLine>& records) const;
  double MeasureTextBlock(std::u16string_view text, std::u16string_view separator, double width,
                          std::vector<TPDFWrappedLine>& records) const;
  double GetTextBlockHeight(std::u16string_view text, std::u16string_view separator, double width) const;

  void DrawText(std::string_view bytes, double x, double y);
  void DrawTextW(std::u16string_view text, double x, double y);
  void DrawRotatedText(std::u16string_view text, double x, double y, double angle);
  void DrawTextRun(std::string_view bytes, double x, double y, double angleTenths, const std::vector<double>& advances);
  void DrawTextBlock(std::u16string_view separator, std::u16string_view text, double x, double y,
                     const std::vector<TPDFWrappedLine>& records, double width);
  void DrawTextBlockW(std::u16string_view text, std::u16string_view separator, double x, double y, double width);
  int32_t DrawTextLines(std::u16string_view text, int32_t options, double x, double y, double width, double height,
                        std::u16string_view separator);
  int32_t DrawTextArea(std::u16string_view text, int32_t options, double x, double y, double width, double height,
                       std::u16string_view separator);
  int32_t DrawRotatedTextBox(std::u16string_view text, int32_t options, double x, double y, double width,
                             double height, double angle, std::u16string_view separator);
  void DrawCombText(std::u16string_view text, int32_t cells, double x, double y, double width, double height);
  void BeginTextObject();
  void WriteLiteralString(std::string_view bytes, std::string_view suffix);

  // HTML-subset layout parameters.
  void SetHTMLNormalFont(TPDFFont* font) { htmlFonts_[0] = font; }
  void SetHTMLBoldFont(TPDFFont* font) { htmlFonts_[1] = font; }
  void SetHTMLItalicFont(TPDFFont* font) { htmlFonts_[2] = font; }
  void SetHTMLBoldItalicFont(TPDFFont* font) { htmlFonts_[3] = font; }
  TPDFFont* GetHTMLFont(int32_t index) const { return index >= 0 && index < 4 ? htmlFonts_[index] : nullptr; }
  void SetHTMLBox(double x, double y, double width, double leading) {
    htmlX_ = x;
    htmlY_ = y;
    htmlWidth_ = width;
    htmlLeading_ = leading;
  }
  void AddHTMLNamePair(std::string_view name, std::string_view value) { htmlPairs_.emplace_back(name, value); }
  const std::vector<std::pair<std::string, std::string>>& GetHTMLNamePairs() const { return htmlPairs_; }

  TChangeCallback OnChange;
  // Called once, just before the first operator is added to the content,
  // and cleared then. The page tree sets it when it selects a page, so that
  // new drawing can be made to start from the default graphics state; the
  // call may replace the content (SetContent) but leaves the pending state.
  std::function<void()> OnBeforeWrite;
  TPDFPageTree* Owner = nullptr;

private:
  void beforeWrite() {
    if (!OnBeforeWrite) return;
    auto hook = std::move(OnBeforeWrite);
    OnBeforeWrite = nullptr;
    hook();
  }
  enum TDirty : uint16_t {
    dRenderMode = 1 << 0,
    dFont = 1 << 1,
    dTextColor = 1 << 2,
    dFill = 1 << 3,
    dStroke = 1 << 4,
    dLineStyle = 1 << 5,
    dDash = 1 << 6,
    dScaling = 1 << 7,
    dRise = 1 << 8,
    dSpacing = 1 << 9,
    dAll = 0x3FF
  };
  bool dirty(uint16_t flag) const { return (dirty_ & flag) != 0; }
  void setDirty(uint16_t flags) { dirty_ |= flags; }
  void clearDirty(uint16_t flags) { dirty_ &= static_cast<uint16_t>(~flags); }
  // A colour as set, written with the fill or the stroke operators when a
  // drawing needs it.
  struct TPendingColor {
    enum TKind : uint8_t { pckRGB, pckCMYK, pckSpace, pckPattern, pckRaw };
    TKind Kind = pckRGB;
    double C[4] = {0, 0, 0, 0};  // components in 0..1, or the tint of pckSpace
    std::string Name;            // colour space or pattern, or the operator text of pckRaw
    static TPendingColor RGB(double r, double g, double b);
    static TPendingColor CMYK(double c, double m, double y, double k);
    // A colour space with its tint, a pattern, or operator text as given.
    static TPendingColor Named(TKind kind, std::string_view name, double tint = 0);
  };
  // A colour into its slot, with the state it makes pending: the fill colour
  // is also the text colour, and the other way round.
  void assignFill(TPendingColor color);
  void assignStroke(TPendingColor color);
  void assignText(TPendingColor color);
  // A dash pattern; solid writes the empty array.
  struct TPendingDash {
    bool Solid = true;
    double On = 0, Off = 0;
  };
  std::string formatColor(const TPendingColor& color, bool stroke) const;
  std::string formatLineStyle() const;
  std::string formatDash(const TPendingDash& dash) const;
  std::string formatFont() const;
  std::string formatSpacing() const;
  // Font, text colour, scaling, rise and spacing, each only when pending.
  void writePendingTextState();
  void writePendingShapeState(bool fillToo);
  void paintPathWith(bool fill, bool stroke, std::string_view fillOp, std::string_view bothOp);
  void clipWith(std::string_view op);
  void addPathEntry(std::string entry);
  bool twoByteFont() const;
  void writeRoundedBoxPath(double left, double top, double width, double height, double rx, double ry);
  void writeEllipsePath(double cx, double cy, double width, double height);
  void arcSegments(double cx, double cy, double rx, double yScale, double start, double end, bool pie);
  // Text pieces shared by the single-line writers.
  void writeTextBackground(double x, double y, double w);
  void writeRenderModeAndStroke();
  // Opens the text object of a drawing w wide at x, y: x moved by the
  // alignment, the background, render mode and pending text state written
  // first. Returns the aligned x.
  double beginAlignedText(double x, double y, double w);
  void writeTextDecoration(double x, double y, double w);
  void writeDecorationLine(double x, double y, double w);
  void writeShowText(std::string_view shown, bool unicodeLowBytes);
  void drawTextCore(std::string_view shown, double textWidth, double x, double y);

  std::string content_;
  TPDFFont* font_ = nullptr;
  double fontSize_ = 0;
  uint8_t alignment_ = 0;
  double leading_ = 0;
  uint8_t decorationKind_ = 0;
  uint8_t backgroundKind_ = 0;
  double wordSpacing_ = 0;
  double charSpacing_ = 0;
  double scaling_ = 100;
  double rise_ = 0;
  TPDFFont* htmlFonts_[4] = {nullptr, nullptr, nullptr, nullptr};
  double htmlX_ = 0, htmlY_ = 0, htmlWidth_ = 0, htmlLeading_ = 0;
  std::vector<std::pair<std::string, std::string>> htmlPairs_;
  double lastTextX_ = 0, lastTextY_ = 0;
  int32_t kerning_ = 0;
  int32_t updatesSuspended_ = 0;
  double currentX_ = 0, currentY_ = 0;
  std::vector<std::string> pathList_;
  bool pathOpen_ = false;
  int32_t lineCap_ = 0, lineJoin_ = 0;
  double lineWidth_ = 1.0;
  double miterLimit_ = 10.0;
  bool lineStyleFull_ = false;  // a line style never set writes its width only
  TPendingColor textColor_, fillColor_, strokeColor_, textBgColor_;
  TPendingDash dash_;
  double dashFactor_ = 0, gapFactor_ = 0;
  double decorationWidth_ = 0, decorationOffset_ = 0;
  int32_t renderMode_ = 0;
  uint16_t dirty_ = 0;
  int32_t precision_ = 0;
  std::string textColorText_;
};
