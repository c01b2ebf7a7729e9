#include "render/PavonaExtractor.h"

#include <algorithm>
#include <cmath>

#include "objects/PavonaContentLexer.h"
#include "objects/PavonaExtra.h"

namespace {

// The shared content token reader over one content text.
struct TTokenReader {
  std::string_view text;
  size_t pos = 0;
  std::string_view next() { return NextContentToken(text, pos); }
};

bool isNumber(std::string_view t) { return IsNumberText(t); }
double number(std::string_view t) {
  const double v = PDFTextToFloat(t);
  return std::isfinite(v) ? v : 0;
}

std::string hexByte(double component) {
  static const char kHex[] = "0123456789ABCDEF";
  const double v = std::nearbyint(std::clamp(component, 0.0, 1.0) * 255);
  const int b = static_cast<int>(v);
  return {kHex[b >> 4], kHex[b & 15]};
}

const std::u16string kBreak = u"\r\n";

bool endsWithBreak(const std::u16string& s) {
  return s.size() >= 2 && s[s.size() - 2] == u'\r' && s[s.size() - 1] == u'\n';
}

}  // namespace

// The state of one Extract call.
struct TPDFExtractor::TRun {
  int32_t option = 0;
  std::u16string out;
  double x = 0, y = 0, lineX = 0, lineY = 0, tjStartX = 0, lastX = 0, lastY = 0;
  double scale = 1, leading = 0, charSpacing = 0, wordSpacing = 0, fontSize = 12;
  uint8_t spaceCode = 32;
  double spaceWidth = 280;
  std::array<double, 256> widths;
  std::array<std::string, 256> codeText;
  std::string displayName;
  std::string pending;
  std::u16string pendingTJ;
  std::array<std::string, 6> t;  // t[0] = t1, the newest token

  double width(std::string_view s) const {
    double sum = 0;
    for (char ch : s) {
      const uint8_t b = static_cast<uint8_t>(ch);
      sum += widths[b] + (b == spaceCode ? wordSpacing : 0) + charSpacing;
    }
    return scale * fontSize * sum / 1000;
  }
  bool plain = false, rows = false;  // option 0, option 2
  TPDFStructure syntax;              // string syntax only

  void lineBreak() { out += kBreak; }
  // Operand i of the operator (1 = the last one before it).
  double num(int i) const { return number(t[static_cast<size_t>(i - 1)]); }
  double numOr(int i, double def) const {
    const std::string& s = t[static_cast<size_t>(i - 1)];
    return isNumber(s) ? number(s) : def;
  }
  // One line break for a move of half a line, two for a whole line (upward
  // moves only, when asked).
  void lineBreaksFor(double dy, bool upwardOnly) {
    const double step = fontSize * scale * 1.7;
    if (std::fabs(dy) >= step / 2) lineBreak();
    if ((upwardOnly ? dy : std::fabs(dy)) >= step) lineBreak();
  }
};

TPDFExtractor::TPDFExtractor(TPDFDictionary* resources, TPDFFontCollection* fontCollection)
    : FontCollection(fontCollection), resources_(resources) {}

TPDFObject* TPDFExtractor::resolve(TPDFObject* obj) const {
  if (TPDFIndRef* ref = PDFAsIndRef(obj)) {
    if (OnLookupObject) return OnLookupObject(ref, ref->GetRefNumber(), ref->GetRefGeneration());
    return ref->Resolve();
  }
  return obj;
}

std::u16string TPDFExtractor::decode(std::string_view bytes) const {
  std::u16string text;
  if (!FontCollection) return text;
  const TPDFFontCollectionData* font = FontCollection->CurrentFont;
  if (font && font->IsComposite) {
    for (uint16_t code : FontCollection->TextToCodes(bytes)) text += FontCollection->CodeToUnicode(code);
  } else {
    for (char c : bytes) text += FontCollection->CodeToUnicode(static_cast<uint8_t>(c));
  }
  return text;
}

std::string TPDFExtractor::displayName(const std::string& resourceName) {
  auto it = displayNames_.find(resourceName);
  if (it != displayNames_.end()) return it->second;
  std::string name;
  if (fontDictionary_) {
    if (TPDFDictionary* font = PDFAsDictionary(resolve(fontDictionary_->GetValue(resourceName))))
      if (TPDFName* base = PDFAsName(resolve(font->GetValue("BaseFont")))) name = base->GetValue();
  }
  displayNames_[resourceName] = name;
  return name;
}

void TPDFExtractor::selectFont(TRun& run, const std::string& resourceName) {
  if (!FontCollection || !fontDictionary_) return;
  TPDFObject* entry = fontDictionary_->GetValue(resourceName);
  // A font given directly in the resources is a font too.
  if (!PDFAsIndRef(entry) && !PDFAsDictionary(entry)) return;
  FontCollection->SelectFont(entry);
  const TPDFFontCollectionData* font = FontCollection->CurrentFont;
  if (!font) return;
  run.widths = font->Widths;
  run.codeText = font->CodeText;
}

// A row of option 2: position, colour, size and font, then the quoted text.
void TPDFExtractor::writeRow(TRun& run, double x, double y, const std::u16string& text) const {
  if (!run.rows) return;
  std::string head = FormatPDFNumber(2, x) + "," + FormatPDFNumber(2, y) + "," + FontColor + "," +
                     FormatPDFNumber(2, run.fontSize) + ",\"" + run.displayName + "\",\"";
  run.out += PDFTextOrUTF8ToWide(head);
  for (char16_t c : text) {
    if (c == u'"') run.out += u'\\';
    run.out += c;
  }
  run.out += u"\"";
  run.lineBreak();
}

std::u16string TPDFExtractor::spaceText(const TRun& run) const {
  const TPDFFontCollectionData* font = FontCollection ? FontCollection->CurrentFont : nullptr;
  if (!font || font->IsComposite) return u" ";
  return decode(std::string(1, static_cast<char>(run.spaceCode)));
}

// Tf: the font, its size, and which code is its space and how wide it is.
void TPDFExtractor::setFont(TRun& run) {
  const std::string name = run.t[1].size() > 1 ? run.t[1].substr(1) : std::string();
  if (run.rows) run.displayName = displayName(name);
  selectFont(run, name);
  run.fontSize = run.numOr(1, 12);
  int32_t code = -1;
  if (run.codeText[32] == " ") {
    code = 32;
  } else {
    for (int32_t c = 0; c < 256 && code < 0; ++c)
      if (run.codeText[static_cast<size_t>(c)] == " ") code = c;
  }
  run.spaceCode = static_cast<uint8_t>(code < 0 ? 32 : code);
  run.spaceWidth = code >= 0 && run.widths[run.spaceCode] != 750 ? run.widths[run.spaceCode] : 280;
}

// The array of a TJ, read from "[" through "]": strings are collected for the
// TJ (spread with blanks when the character spacing exceeds half a space),
// kerning wider than half a space becomes a blank.
void TPDFExtractor::showArray(TRun& run, std::string_view content, size_t& pos) {
  run.tjStartX = run.x;
  const double spaceLimit = run.spaceWidth * run.scale * run.fontSize / 1000;
  for (;;) {
    std::string_view item = NextContentToken(content, pos);
    if (item.empty() || item == "]") break;
    if (item[0] == '(' || item[0] == '<') {
      std::string bytes = item[0] == '(' ? run.syntax.UnescapeLiteral(item) : HexStringToBytes(item);
      if (run.charSpacing > spaceLimit) {
        const TPDFFontCollectionData* font = FontCollection ? FontCollection->CurrentFont : nullptr;
        const std::u16string space = spaceText(run);
        if (font && font->IsComposite) {
          bool firstCode = true;
          for (uint16_t code : FontCollection->TextToCodes(bytes)) {
            if (!firstCode) run.pendingTJ += space;
            run.pendingTJ += FontCollection->CodeToUnicode(code);
            firstCode = false;
          }
        } else {
          for (size_t k = 0; k < bytes.size(); ++k) {
            if (k) run.pendingTJ += space;
            run.pendingTJ += decode(std::string_view(bytes).substr(k, 1));
          }
        }
      } else {
        run.pendingTJ += decode(bytes);
      }
      run.x += run.width(bytes);
    } else if (isNumber(item)) {
      const double n = number(item);
      run.x -= n * run.scale * run.fontSize / 1000;
      if (-n > run.spaceWidth / 2) run.pendingTJ += spaceText(run);
    }
  }
}

// TJ, Tj, ' and ": the collected text goes out (a line break first for the
// quote operators).
void TPDFExtractor::showText(TRun& run, std::string_view op) {
  if (op == "TJ") {
    if (run.plain) run.out += run.pendingTJ;
    writeRow(run, run.tjStartX, run.y, run.pendingTJ);
    run.pendingTJ.clear();
    return;
  }
  if (op != "Tj" && run.plain && !endsWithBreak(run.out)) run.lineBreak();
  const std::u16string text = decode(run.pending);
  if (run.plain) run.out += text;
  writeRow(run, run.x, run.y, text);
  run.x += run.width(run.pending);
  run.pending.clear();
}

// Tm, Td, TD and T*: the new position, with a blank for a jump of half a
// space and line breaks for a jump of lines.
void TPDFExtractor::moveText(TRun& run, std::string_view op) {
  if (op == "Tm") {
    if (run.t[3] == "0" && run.t[4] == "0" && run.t[2] == run.t[5]) run.scale = run.numOr(6, 1);
    const double newX = run.num(2), newY = run.num(1);
    if (run.plain && !endsWithBreak(run.out) &&
        std::fabs(newX - run.x) >= run.spaceWidth / 2 * run.scale * run.fontSize / 1000)
      run.out += u' ';
    run.x = newX;
    if (run.plain && !endsWithBreak(run.out)) run.lineBreaksFor(newY - run.y, false);
    run.y = newY;
    run.lineX = run.x;
    run.lineY = run.y;
  } else if (op == "Td" || op == "TD") {
    run.x = run.num(2) * run.scale + run.lineX;
    if (op == "TD") {
      run.leading = -run.numOr(1, 0) * run.scale;
      run.y = run.lineY - run.leading;
    } else {
      run.y = run.num(1) * run.scale + run.lineY;
    }
    run.lineX = run.x;
    run.lineY = run.y;
    if (run.plain && !endsWithBreak(run.out)) {
      const bool blank = op == "Td" ? std::fabs(run.x - run.lastX) >=
                                          run.spaceWidth / 2 * run.scale * run.fontSize / 1000
                                    : run.width(std::string(1, static_cast<char>(run.spaceCode))) <=
                                          run.x - run.lastX;
      if (blank) run.out += u' ';
      run.lineBreaksFor(run.y - run.lastY, true);
    }
  } else {  // T*
    run.x = run.lineX;
    run.y -= run.leading;
    run.lineY = run.y;
    if (run.plain) run.lineBreak();
  }
}

// rg and g: the colour of the rows' text.
void TPDFExtractor::setColor(std::string_view op, const TRun& run) {
  if (op == "rg") {
    FontColor = "#" + hexByte(run.num(3)) + hexByte(run.num(2)) + hexByte(run.num(1));
  } else {
    const std::string b = hexByte(run.num(1));
    FontColor = "#" + b + b + b;
  }
}

std::u16string TPDFExtractor::Extract(std::string_view content, int32_t option) {
  TRun run;
  run.option = option;
  run.plain = option == 0;
  run.rows = option == 2;
  run.widths.fill(750);
  {
    TPDFGlyphNames names;
    BuildEncodingVector(pdfekStandard, names);
    EncodingVectorToCodes(names, run.codeText);
  }
  FontColor = "#000000";
  fontDictionary_ = resources_ ? PDFAsDictionary(resolve(resources_->GetValue("Font"))) : nullptr;

  TTokenReader rd{content};
  for (;;) {
    std::string_view token = rd.next();
    if (token.empty()) break;
    const char first = token[0];
    try {
      if (first == '(' || first == '<') {
        run.pending = first == '(' ? run.syntax.UnescapeLiteral(token) : HexStringToBytes(token);
      } else if (token == "[") {
        showArray(run, content, rd.pos);
      } else if (token == "rg" || token == "g") {
        setColor(token, run);
      } else if (token == "BT") {
        run.lineX = run.lineY = 0;
      } else if (token == "Tf") {
        setFont(run);
      } else if (token == "TJ" || token == "Tj" || token == "'" || token == "\"") {
        showText(run, token);
      } else if (token == "TL") {
        run.leading = run.numOr(1, 0) * run.scale;
      } else if (token == "Tw") {
        run.wordSpacing = run.numOr(1, 0) * run.scale;
      } else if (token == "Tc") {
        run.charSpacing = run.numOr(1, 0) * run.scale;
      } else if (token == "Tm" || token == "Td" || token == "TD" || token == "T*") {
        moveText(run, token);
      } else if (token == "ID") {
        // Inline image data: skipped through the next "EI".
        size_t ei = content.find("EI", rd.pos);
        rd.pos = ei == std::string_view::npos ? content.size() : ei + 2;
      }
    } catch (const std::exception&) {
      // A problem inside one token costs only that token.
    }
    run.lastX = run.x;
    run.lastY = run.y;
    for (size_t k = run.t.size() - 1; k > 0; --k) run.t[k] = std::move(run.t[k - 1]);
    run.t[0] = std::string(token);
  }
  if (!run.plain && !run.rows) return {};
  return CleanExtractedText(std::move(run.out));
}

std::u16string CleanExtractedText(std::u16string text) {
  // A line holding one blank disappears: "CR LF blank CR LF" loses its first three characters.
  std::u16string a;
  a.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    if (endsWithBreak(a) && text.compare(i, 3, u" \r\n") == 0) {
      i += 3;
      continue;
    }
    a += text[i++];
  }
  // Three line breaks in a row become one (the first four characters of each occurrence go).
  std::u16string b;
  b.reserve(a.size());
  for (size_t i = 0; i < a.size();) {
    size_t breaks = 0;
    while (a.compare(i + breaks * 2, 2, kBreak) == 0) ++breaks;
    if (breaks == 0) {
      b += a[i++];
      continue;
    }
    size_t keep = breaks;
    while (keep >= 3) keep -= 2;
    for (size_t k = 0; k < keep; ++k) b += kBreak;
    i += breaks * 2;
  }
  for (char16_t& c : b)
    if (c == 0) c = u' ';
  return WideTrimSpaces(b);
}
