// Text output: single lines, rotated text, positioned runs, measuring, word
// wrapping, text blocks, fitted text boxes and comb cells.
#include <algorithm>
#include <cmath>

#include "objects/PavonaExtra.h"
#include "pages/PavonaFont.h"
#include "pages/PavonaPainter.h"

namespace {

constexpr double kDegToRad = M_PI / 180.0;
constexpr std::u16string_view kCRLF = u"\r\n";

// Sets a precision for the lifetime of the object and restores the old one
// also when writing fails.
class TPrecisionScope {
public:
  TPrecisionScope(TPDFPainter& painter, int32_t digits) : painter_(painter), saved_(painter.GetPrecision()) {
    painter_.SetPrecision(digits);
  }
  ~TPrecisionScope() { painter_.SetPrecision(saved_); }

private:
  TPDFPainter& painter_;
  int32_t saved_;
};

std::vector<std::u16string_view> splitLines(std::u16string_view text, std::u16string_view separator) {
  std::vector<std::u16string_view> lines;
  if (separator.empty()) {
    lines.push_back(text);
    return lines;
  }
  size_t start = 0;
  while (true) {
    size_t at = text.find(separator, start);
    if (at == std::u16string_view::npos) {
      lines.push_back(text.substr(start));
      break;
    }
    lines.push_back(text.substr(start, at - start));
    start = at + separator.size();
  }
  return lines;
}

}  // namespace

bool TPDFPainter::twoByteFont() const { return font_ && font_->IsTwoByte(); }

// --- Measuring ------------------------------------------------------------------

double TPDFPainter::GetTextWidth(std::string_view bytes) const {
  if (!font_) return 0;
  double sum = 0;
  if (twoByteFont()) {
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
      int32_t code = (uint8_t(bytes[i]) << 8) | uint8_t(bytes[i + 1]);
      sum += font_->GetCharWidth(code) * fontSize_ / 1000 + charSpacing_;
      if (code == 32) sum += wordSpacing_;
    }
  } else {
    for (char c : bytes) {
      sum += font_->GetCharWidth(uint8_t(c)) * fontSize_ / 1000 + charSpacing_;
      if (c == ' ') sum += wordSpacing_;
    }
  }
  return sum * scaling_ / 100;
}

double TPDFPainter::GetTextWidthW(std::u16string_view text) const {
  if (!font_) return 0;
  double sum = 0;
  for (char16_t ch : text) {
    sum += font_->GetCharWidth(ch) * fontSize_ / 1000 + charSpacing_;
    if (ch == u' ') sum += wordSpacing_;
  }
  return sum * scaling_ / 100;
}

double TPDFPainter::GetFontAscent() const { return font_ ? font_->GetAscent() * fontSize_ / 1000 : 0; }

double TPDFPainter::GetFontDescent() const { return font_ ? font_->GetDescent() * fontSize_ / 1000 : 0; }

double TPDFPainter::GetLineHeight() const {
  return font_ ? (font_->GetBoxTop() - font_->GetBoxBottom()) * fontSize_ / 1000 : 0;
}

double TPDFPainter::GetFontMetric(int32_t selector) const {
  if (!font_) return 0;
  switch (selector) {
    case 1: return font_->GetBoxLeft() * fontSize_ / 1000;
    case 2: return font_->GetBoxTop() * fontSize_ / 1000;
    case 3: return font_->GetBoxRight() * fontSize_ / 1000;
    case 4: return font_->GetBoxBottom() * fontSize_ / 1000;
    default: return 0;
  }
}

void TPDFPainter::WrapText(std::u16string_view text, std::vector<std::u16string>& lines, double width,
                           std::u16string_view separator, std::vector<TPDFWrappedLine>& records) const {
  lines.clear();
  records.clear();
  auto finish = [&](std::u16string line, bool paragraphEnd, bool broken) {
    TPDFWrappedLine record;
    record.Spaces = static_cast<int32_t>(std::count(line.begin(), line.end(), u' '));
    record.ParagraphEnd = paragraphEnd;
    record.BrokenWord = broken;
    records.push_back(record);
    lines.push_back(std::move(line));
  };
  auto measure = [this](std::u16string_view s) { return GetTextWidthW(s) - scaling_ / 100 * charSpacing_; };
  auto separatorAt = [&](size_t at) { return !separator.empty() && text.substr(at, separator.size()) == separator; };
  std::u16string current;
  size_t pos = 0;
  const size_t n = text.size();
  while (pos < n) {
    if (separatorAt(pos)) {
      finish(std::move(current), true, false);
      current.clear();
      pos += separator.size();
      continue;
    }
    size_t spaceStart = pos;
    while (pos < n && text[pos] == u' ') ++pos;
    std::u16string_view spaces = text.substr(spaceStart, pos - spaceStart);
    if (pos >= n || separatorAt(pos)) continue;
    size_t wordStart = pos;
    while (pos < n && text[pos] != u' ' && !separatorAt(pos)) ++pos;
    std::u16string_view word = text.substr(wordStart, pos - wordStart);
    std::u16string candidate = current;
    if (!current.empty()) candidate.append(spaces);
    candidate.append(word);
    if (candidate.size() <= 1 || measure(candidate) <= width) {
      current = std::move(candidate);
      continue;
    }
    if (!current.empty()) {
      finish(std::move(current), false, false);
      current.clear();
      pos = wordStart;
      continue;
    }
    size_t keep = word.size();
    while (keep > 1 && measure(word.substr(0, keep)) > width) --keep;
    finish(std::u16string(word.substr(0, keep)), false, true);
    pos = wordStart + keep;
  }
  if (!current.empty()) finish(std::move(current), false, false);
}

double TPDFPainter::MeasureTextBlock(std::u16string_view text, std::u16string_view separator, double width,
                                     std::vector<TPDFWrappedLine>& records) const {
  std::vector<std::u16string> lines;
  WrapText(text, lines, width, separator, records);
  const double n = static_cast<double>(lines.size());
  if (n == 0) return 0;
  return n * GetLineHeight() + (n - 1) * leading_;
}

double TPDFPainter::GetTextBlockHeight(std::u16string_view text, std::u16string_view separator, double width) const {
  std::vector<TPDFWrappedLine> records;
  return MeasureTextBlock(text, separator, width, records);
}

// --- Pieces of the line writers -------------------------------------------------------

void TPDFPainter::BeginTextObject() {
  beforeWrite();
  if (content_.size() >= 3 && content_.compare(content_.size() - 3, 3, "ET\n") == 0)
    content_.resize(content_.size() - 3);
  else
    WriteOp("BT");
}

void TPDFPainter::WriteLiteralString(std::string_view bytes, std::string_view suffix) {
  std::string out;
  out.reserve(bytes.size() + suffix.size() + 4);
  out += '(';
  for (char c : bytes) {
    switch (c) {
      case '\b': out += "\\b"; break;
      case '\t': out += "\\t"; break;
      case '\n': out += "\\n"; break;
      case '\f': out += "\\f"; break;
      case '\r': out += "\\r"; break;
      case '(': out += "\\("; break;
      case ')': out += "\\)"; break;
      case '\\': out += "\\\\"; break;
      default: out += c;
    }
  }
  out += ')';
  out.append(suffix);
  out += '\n';
  beforeWrite();
  content_ += out;
}

void TPDFPainter::writeTextBackground(double x, double y, double w) {
  if (backgroundKind_ == 0) return;
  const TPendingColor savedFill = fillColor_;
  fillColor_ = textBgColor_;
  setDirty(dFill);
  const double top = y + GetFontMetric(2) + rise_;
  if (backgroundKind_ == 1)
    DrawBox(true, false, x - 0.5, top, w + 1, GetLineHeight());
  else
    DrawRoundedBox(true, false, x - 0.5, top, w + 1, GetLineHeight(), GetLineHeight() / 4);
  fillColor_ = savedFill;
  setDirty(dFill | dTextColor);
}

void TPDFPainter::writeRenderModeAndStroke() {
  if (!dirty(dRenderMode)) return;
  WriteOp(std::to_string(renderMode_) + " Tr");
  if (renderMode_ == 1 || renderMode_ == 2 || renderMode_ == 5 || renderMode_ == 6) {
    writePendingShapeState(false);
    clearDirty(dStroke | dLineStyle | dDash);
  }
  clearDirty(dRenderMode);
}

void TPDFPainter::writeDecorationLine(double x, double y, double w) {
  const double size = fontSize_;
  switch (decorationKind_) {
    case 1: DrawLine(x, y - size * 12.5 / 100 - decorationOffset_, x + w, y - size * 12.5 / 100 - decorationOffset_); break;
    case 2:
      DrawLine(x, y - size * 12.5 / 100 - decorationOffset_, x + w, y - size * 12.5 / 100 - decorationOffset_);
      DrawLine(x, y - size * 25 / 100 - 2 * decorationOffset_, x + w, y - size * 25 / 100 - 2 * decorationOffset_);
      break;
    case 3: DrawLine(x, y + size * 0.3 + decorationOffset_, x + w, y + size * 0.3 + decorationOffset_); break;
    case 4: {
      const double yl = y + GetFontAscent() + size * 12.5 / 100 + decorationOffset_;
      DrawLine(x, yl, x + w, yl);
      break;
    }
    default: break;
  }
}

void TPDFPainter::writeTextDecoration(double x, double y, double w) {
  if (decorationKind_ == 0) return;
  const TPendingColor savedStroke = strokeColor_;
  const TPendingDash savedDash = dash_;
  const double savedWidth = lineWidth_;
  strokeColor_ = textColor_;
  setDirty(dStroke);
  SetLineWidth(decorationWidth_);
  if (dashFactor_ != 0 && gapFactor_ != 0)
    dash_ = TPendingDash{false, dashFactor_ * decorationWidth_, gapFactor_ * decorationWidth_};
  else
    dash_ = TPendingDash{};
  setDirty(dDash);
  writeDecorationLine(x, y, w);
  SetLineWidth(savedWidth);
  dash_ = savedDash;
  strokeColor_ = savedStroke;
  setDirty(dStroke | dDash | dLineStyle);
}

// The text operator: one literal string with Tj, or with kerning a TJ array
// cut before every pair that has a kerning amount.
void TPDFPainter::writeShowText(std::string_view shown, bool) {
  if (kerning_ != 0 && font_ && !twoByteFont() && !shown.empty()) {
    WriteOp("[");
    size_t start = 0;
    for (size_t i = 1; i <= shown.size(); ++i) {
      int32_t amount = i < shown.size() ? font_->GetKerning(uint8_t(shown[i - 1]), uint8_t(shown[i])) : 0;
      if (i < shown.size() && amount == 0) continue;
      WriteLiteralString(shown.substr(start, i - start), i == shown.size() ? "] TJ" : "");
      if (i < shown.size()) WriteNumber(amount);
      start = i;
    }
    return;
  }
  WriteLiteralString(shown, "Tj");
}

double TPDFPainter::beginAlignedText(double x, double y, double w) {
  if (alignment_ == 1) x -= w / 2;
  if (alignment_ == 2) x -= w;
  writeTextBackground(x, y, w);
  writeRenderModeAndStroke();
  writePendingTextState();
  BeginTextObject();
  return x;
}

void TPDFPainter::drawTextCore(std::string_view shown, double textWidth, double x, double y) {
  double w = 0;
  if (backgroundKind_ != 0 || decorationKind_ != 0 || alignment_ == 1 || alignment_ == 2)
    w = textWidth - scaling_ / 100 * charSpacing_;
  x = beginAlignedText(x, y, w);
  WriteOp("1 0 0 1 " + FormatNumber(x) + FormatNumber(y) + "Tm");
  writeShowText(shown, false);
  WriteOp("ET");
  lastTextX_ = x + textWidth;
  lastTextY_ = y;
  clearDirty(dFont | dTextColor | dScaling | dRise | dSpacing);
  writeTextDecoration(x, y, w);
  Changed();
}

// --- Drawing ----------------------------------------------------------------------------

void TPDFPainter::DrawText(std::string_view bytes, double x, double y) {
  if (twoByteFont()) {
    std::string shown(bytes);
    for (size_t i = 0; i + 1 < shown.size(); i += 2)
      if (shown[i] == 0 && uint8_t(shown[i + 1]) == 0xA0) shown[i + 1] = 0x20;
    drawTextCore(shown, GetTextWidth(bytes), x, y);
    return;
  }
  drawTextCore(bytes, GetTextWidth(bytes), x, y);
}

void TPDFPainter::DrawTextW(std::u16string_view text, double x, double y) {
  std::u16string source(text);
  if (twoByteFont()) std::replace(source.begin(), source.end(), u'\u00A0', u' ');
  const std::string shown = font_ ? font_->EncodeTextW(source) : std::string();
  drawTextCore(shown, GetTextWidthW(text), x, y);
}

void TPDFPainter::DrawRotatedText(std::u16string_view text, double x, double y, double angle) {
  TPrecisionScope precision(*this, 8);
  const double a = angle * kDegToRad;
  auto matrix = [this](double rad, double tx, double ty) {
    const double c = std::cos(rad), s = std::sin(rad);
    WriteOp(FormatNumber(c) + FormatNumber(s) + FormatNumber(-s) + FormatNumber(c) + " " + FormatNumber(tx) +
            FormatNumber(ty) + "cm");
  };
  matrix(a, x, y);
  try {
    DrawTextW(text, 0, 0);
  } catch (...) {
    matrix(-a, 0, 0);
    WriteOp("1 0 0 1 " + FormatNumber(-x) + FormatNumber(-y) + "cm");
    throw;
  }
  matrix(-a, 0, 0);
  WriteOp("1 0 0 1 " + FormatNumber(-x) + FormatNumber(-y) + "cm");
  Changed();
}

void TPDFPainter::DrawTextRun(std::string_view bytes, double x, double y, double angleTenths,
                              const std::vector<double>& advances) {
  double w = 0;
  // One advance per character: two bytes each in a two-byte font.
  const size_t unit = twoByteFont() ? 2 : 1;
  if (!advances.empty()) {
    const size_t n = std::min(bytes.size() / unit, advances.size());
    for (size_t i = 0; i < n; ++i) w += advances[i];
  } else {
    w = GetTextWidth(bytes) - scaling_ / 100 * charSpacing_;
  }
  x = beginAlignedText(x, y, w);
  if (angleTenths != 0) {
    // The turn goes into the text matrix: a cm inside the text object would
    // be invalid there and would stay in force for everything drawn later.
    TPrecisionScope precision(*this, 8);
    const double a = angleTenths / 10 * kDegToRad;
    const double c = std::cos(a), s = std::sin(a);
    WriteOp(FormatNumber(c) + FormatNumber(s) + FormatNumber(-s) + FormatNumber(c) + FormatNumber(x) +
            FormatNumber(y) + "Tm");
  } else {
    WriteOp("1 0 0 1 " + FormatNumber(x) + FormatNumber(y) + "Tm");
  }
  if (advances.size() >= 2) {
    double previous = 0;
    for (size_t i = 0; i * unit < bytes.size(); ++i) {
      WriteOp(FormatNumber(previous) + "0 Td");
      WriteLiteralString(bytes.substr(i * unit, unit), "Tj");
      previous = i < advances.size() ? advances[i] : 0;
    }
  } else {
    WriteLiteralString(bytes, "Tj");
  }
  WriteOp("ET");
  lastTextX_ = x + w;
  lastTextY_ = y;
  clearDirty(dFont | dTextColor | dScaling | dRise | dSpacing);
  writeTextDecoration(x, y, w);
  Changed();
}

void TPDFPainter::DrawTextBlock(std::u16string_view separator, std::u16string_view text, double x, double y,
                                const std::vector<TPDFWrappedLine>& records, double width) {
  const std::vector<std::u16string_view> lines = splitLines(text, separator);
  const double lh = GetLineHeight();
  const double advance = lh + leading_;
  const double scale = scaling_ / 100;
  auto record = [&](size_t i) { return i < records.size() ? records[i] : TPDFWrappedLine{}; };
  auto justified = [&](size_t i) {
    if (!(width > 0)) return false;
    const bool last = i + 1 == lines.size();
    switch (alignment_) {
      case 3: return !last && !record(i).ParagraphEnd;
      case 4: return true;
      case 5: return !record(i).ParagraphEnd;
      default: return false;
    }
  };
  auto lineWidth = [&](size_t i) { return alignment_ == 4 || justified(i) ? width : GetTextWidthW(lines[i]); };
  auto lineX = [&](double wl) { return alignment_ == 2 ? x - wl : alignment_ == 1 ? x - wl / 2 : x; };
  // Backgrounds and decorations: the box of every line that is not empty.
  auto eachLineBox = [&](auto&& draw) {
    double yl = y;
    for (size_t i = 0; i < lines.size(); ++i, yl -= advance) {
      if (lines[i].empty()) continue;
      const double wl = lineWidth(i);
      draw(lineX(wl), yl, wl);
    }
  };

  if (backgroundKind_ != 0) eachLineBox([&](double lx, double ly, double wl) { writeTextBackground(lx, ly, wl); });
  writeRenderModeAndStroke();
  writePendingTextState();
  BeginTextObject();
  const bool ownLines = alignment_ == 1 || alignment_ == 2;
  if (!ownLines) {
    WriteOp("1 0 0 1 " + FormatNumber(x) + FormatNumber(y + lh + leading_) + "Tm");
    WriteOp(FormatNumber(lh + leading_) + "TL");
  }
  double previousWs = wordSpacing_, previousCs = charSpacing_;
  // A spacing that differs from the line before's is written for this line.
  auto writeSpacingChange = [&](double value, double& previous, const char* op) {
    if (value != previous) {
      WriteOp(FormatNumber(value) + op);
      setDirty(dSpacing);
    }
    previous = value;
  };
  double yl = y;
  for (size_t i = 0; i < lines.size(); ++i, yl -= advance) {
    double ws = wordSpacing_, cs = charSpacing_;
    if (justified(i) && scale != 0) {
      const double free = width - GetTextWidthW(lines[i]) + scale * charSpacing_;
      const int32_t spaces = static_cast<int32_t>(std::count(lines[i].begin(), lines[i].end(), u' '));
      // Tw widens every space of the line, so the free room is shared by all of them.
      if (spaces > 1)
        ws = wordSpacing_ + free / spaces / scale;
      else if (spaces == 1 && lines[i].size() > 1)
        cs = charSpacing_ + free / static_cast<double>(lines[i].size() - 1) / scale;
    }
    writeSpacingChange(ws, previousWs, "Tw");
    writeSpacingChange(cs, previousCs, "Tc");
    const std::string shown = font_ ? font_->EncodeTextW(lines[i]) : std::string();
    if (ownLines) {
      const double wl = GetTextWidthW(lines[i]);
      WriteOp("1 0 0 1 " + FormatNumber(lineX(wl)) + FormatNumber(yl) + "Tm");
      WriteLiteralString(shown, "Tj");
    } else {
      WriteLiteralString(shown, "'");
    }
  }
  WriteOp("ET");
  clearDirty(dFont | dTextColor | dScaling | dRise);
  if (alignment_ == 4 || alignment_ == 5)
    setDirty(dSpacing);
  else
    clearDirty(dSpacing);
  if (decorationKind_ != 0) eachLineBox([&](double lx, double ly, double wl) { writeTextDecoration(lx, ly, wl); });
  Changed();
}

void TPDFPainter::DrawTextBlockW(std::u16string_view text, std::u16string_view separator, double x, double y,
                                 double width) {
  std::vector<std::u16string> lines;
  std::vector<TPDFWrappedLine> records;
  WrapText(text, lines, width, separator, records);
  std::u16string joined;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (i) joined.append(kCRLF);
    joined += lines[i];
  }
  DrawTextBlock(kCRLF, joined, x, y, records, width);
}

int32_t TPDFPainter::DrawTextLines(std::u16string_view text, int32_t options, double x, double y, double width,
                                   double height, std::u16string_view separator) {
  std::vector<std::u16string> lines;
  std::vector<TPDFWrappedLine> records;
  WrapText(text, lines, width, separator, records);
  const double lh = GetLineHeight();
  const double blockHeight =
      lines.empty() ? 0 : static_cast<double>(lines.size()) * lh + static_cast<double>(lines.size() - 1) * leading_;
  if (options >= 3 || blockHeight > height) {
    const double advance = lh + leading_;
    size_t fitting = 0;
    if (advance > 0) {
      double f = std::trunc(height / advance);
      fitting = f > 0 ? static_cast<size_t>(std::min(f, 1e9)) : 0;
      if (height >= lh + advance * static_cast<double>(fitting)) ++fitting;
    }
    if (options >= 3) {
      if (lines.size() > 1) {
        lines.resize(1);
        records.resize(1);
      }
    } else if (!lines.empty()) {
      size_t drop = lines.size() > fitting ? std::max<size_t>(lines.size() - fitting, 1) : 1;
      drop = std::min(drop, lines.size());
      lines.resize(lines.size() - drop);
      records.resize(lines.size());
    }
  }
  while (lines.size() >= 2 && lines.back().empty()) {
    lines.pop_back();
    records.resize(lines.size());
  }
  std::u16string joined;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (i) joined.append(kCRLF);
    joined += lines[i];
  }
  if (!joined.empty()) {
    const double n = static_cast<double>(lines.size());
    const double hb = n * lh + (n - 1) * leading_;
    const int32_t placement = options >= 3 ? options - 3 : options;
    double yFirst;
    if (placement == 1)
      yFirst = y - GetFontMetric(2);
    else if (placement == 2)
      yFirst = y - height + hb - GetFontMetric(2);
    else
      yFirst = y - (height - hb) / 2 - GetFontMetric(2);
    const double xFirst = alignment_ == 1 ? x + width / 2 : alignment_ == 2 ? x + width : x;
    DrawTextBlock(kCRLF, joined, xFirst, yFirst, records, width);
  }
  return static_cast<int32_t>(lines.size());
}

int32_t TPDFPainter::DrawTextArea(std::u16string_view text, int32_t options, double x, double y, double width,
                                  double height, std::u16string_view separator) {
  bool noBrokenWords = false, singleLine = false;
  if (options >= 100) {
    options -= 100;
    noBrokenWords = true;
  }
  if (options > 2) {
    options -= 3;
    singleLine = true;
  }
  const double entrySize = fontSize_;
  double size = entrySize;
  auto reselect = [&](double s) {
    size = s;
    SetFont(font_, s);
  };
  auto search = [&](const std::function<bool()>& tooLarge, bool capAtStart) {
    // The height phase must not undo what the width phase shrank: its
    // increases stop at the size it started from.
    const double startSize = size;
    double step = 10;
    for (int32_t round = 1; round <= 31; ++round) {
      if (tooLarge()) {
        if (size - step <= 0) step = size / 4;
        reselect(size - step);
        continue;
      }
      if (step / 10 < 0.009) break;
      double next = size + step;
      if (capAtStart) next = std::min(next, startSize);
      reselect(next);
      step /= 10;
    }
  };
  if (singleLine) search([&] { return GetTextWidthW(text) - scaling_ / 100 * charSpacing_ > width; }, false);
  search(
      [&] {
        if (singleLine) return GetLineHeight() > height;
        std::vector<std::u16string> lines;
        std::vector<TPDFWrappedLine> records;
        WrapText(text, lines, width, separator, records);
        const double n = static_cast<double>(lines.size());
        const double h = n > 0 ? n * GetLineHeight() + (n - 1) * leading_ : 0;
        if (h > height) return true;
        if (noBrokenWords)
          for (size_t i = 0; i + 1 < records.size(); ++i)
            if (records[i].BrokenWord) return true;
        return false;
      },
      true);
  const int32_t drawn = DrawTextLines(text, singleLine ? options + 3 : options, x, y, width, height, separator);
  SetFont(font_, entrySize);
  return drawn;
}

int32_t TPDFPainter::DrawRotatedTextBox(std::u16string_view text, int32_t options, double x, double y, double width,
                                        double height, double angle, std::u16string_view separator) {
  TPrecisionScope precision(*this, 8);
  const double a = angle * kDegToRad;
  auto turn = [this](double rad) {
    const double c = std::cos(rad), s = std::sin(rad);
    WriteOp(FormatNumber(c) + FormatNumber(s) + FormatNumber(-s) + FormatNumber(c) + " 0 0 cm");
  };
  WriteOp("1 0 0 1 " + FormatNumber(x) + FormatNumber(y) + "cm");
  turn(a);
  int32_t lines = 0;
  try {
    lines = DrawTextLines(text, options, 0, 0, width, height, separator);
  } catch (...) {
    turn(-a);
    WriteOp("1 0 0 1 " + FormatNumber(-x) + FormatNumber(-y) + "cm");
    throw;
  }
  turn(-a);
  WriteOp("1 0 0 1 " + FormatNumber(-x) + FormatNumber(-y) + "cm");
  Changed();
  return lines;
}

void TPDFPainter::DrawCombText(std::u16string_view text, int32_t cells, double x, double y, double width,
                               double height) {
  if (cells <= 0) return;  // no cells to put characters in
  const double cw = width / cells;
  const size_t n = std::min(text.size(), static_cast<size_t>(cells));
  const uint8_t savedAlignment = alignment_;
  alignment_ = 1;
  for (size_t i = 0; i < n; ++i) {
    const size_t cell = savedAlignment == 2 ? i + static_cast<size_t>(cells) - n : i;
    DrawTextArea(text.substr(i, 1), 0, x + cw * static_cast<double>(cell), y, cw, height, kCRLF);
  }
  alignment_ = savedAlignment;
}
