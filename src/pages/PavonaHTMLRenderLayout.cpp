// HTML-subset layout: word wrapping, alignment, styles, lists, soft
// hyphens, page links and the rest of a text that does not fit its box.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "objects/PavonaStructure.h"
#include "pages/PavonaFont.h"
#include "pages/PavonaHTMLRender.h"
#include "pages/PavonaPageTree.h"
#include "pages/PavonaPainter.h"

namespace {

constexpr double kNoLimit = 999999;
// A state stack entry: font, size, two colours, decoration, flags.
constexpr size_t kStateEntryLength = 41;

std::u16string fromBE(std::string_view bytes) {
  std::u16string out;
  out.reserve(bytes.size() / 2);
  for (size_t i = 0; i + 1 < bytes.size(); i += 2)
    out += char16_t(uint8_t(bytes[i]) << 8 | uint8_t(bytes[i + 1]));
  return out;
}

std::string toBE(std::u16string_view text) {
  std::string out;
  out.reserve(text.size() * 2);
  for (char16_t c : text) out += char(c >> 8), out += char(c & 0xFF);
  return out;
}

std::string wideFrom8(std::string_view text) {
  std::string out;
  for (char c : text) out += '\0', out += c;
  return out;
}

std::string unquote(std::string_view v) {
  while (!v.empty() && (v.front() == ' ' || v.front() == '"' || v.front() == '\'')) v.remove_prefix(1);
  while (!v.empty() && (v.back() == ' ' || v.back() == '"' || v.back() == '\'')) v.remove_suffix(1);
  return std::string(v);
}

// The value of the first attribute whose text starts with name ("size=").
bool attribute(const THTMLTag& tag, std::string_view name, std::string& value) {
  for (int32_t i = 0; i < tag.AttrList.GetCount(); ++i) {
    const std::string& a = tag.AttrList.GetString(i);
    if (a.compare(0, name.size(), name) == 0) {
      value = unquote(std::string_view(a).substr(name.size()));
      return true;
    }
  }
  return false;
}

bool isSpace(char16_t c) { return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r'; }

std::u16string trimWord(std::u16string w) {
  size_t a = 0, b = w.size();
  while (a < b && isSpace(w[a])) ++a;
  while (b > a && isSpace(w[b - 1])) --b;
  return w.substr(a, b - a);
}

bool hexValue(std::string_view text, uint32_t& value) {
  if (text.empty() || text.size() > 8) return false;
  value = 0;
  for (char c : text) {
    int d = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
    if (d < 0) return false;
    value = value * 16 + uint32_t(d);
  }
  return true;
}

}  // namespace

std::string HTMLColorValue(std::string_view value) {
  std::string v = unquote(value);
  if (!v.empty() && v[0] == '#') v = "#" + v;
  v = ColorNameToHex(v);
  uint32_t dummy;
  if (v.size() == 8 && v.compare(0, 2, "##") == 0 && hexValue(std::string_view(v).substr(2), dummy)) return v;
  if (v.size() == 8 && hexValue(v, dummy)) return v;
  return "##000000";
}

struct THTMLRenderer::TLayout {
  THTMLSettings Settings;
  std::vector<THTMLStyle> Styles;
  std::vector<THTMLRun> Runs;
  double CurX = 0, CurY = 0, Indent = 0;
  int32_t Alignment = 0, ListMode = 0, ListCounter = 1;
  bool MarkerPending = false, FirstParagraph = true, AfterParagraphTag = false;
  double LastDescent = 0;
  double MaxHeight = kNoLimit;
  bool Hide = false;
  bool Overflow = false;
  std::u16string Unplaced;  // words of an element that did not fit
  int32_t PageCount = 0;
  const THTMLStyle& Top() const { return Styles.back(); }
};

THTMLRenderer::THTMLRenderer(TPDFPainter* painter) : painter_(painter) {}

void THTMLRenderer::selectFont(TPDFFont* font, double size) {
  if (font) painter_->SetFont(font, size);
}

void THTMLRenderer::setTextColor(const std::string& c) {
  uint32_t v = 0;
  if (c.size() == 8 && c.compare(0, 2, "##") == 0 && hexValue(std::string_view(c).substr(2), v))
    painter_->SetTextColor(((v >> 16) & 0xFF) / 255.0, ((v >> 8) & 0xFF) / 255.0, (v & 0xFF) / 255.0);
  else if (c.size() == 8 && hexValue(c, v))
    painter_->SetTextColorCMYK((v >> 24) / 255.0, ((v >> 16) & 0xFF) / 255.0, ((v >> 8) & 0xFF) / 255.0,
                               (v & 0xFF) / 255.0);
  else
    painter_->SetTextColor(0, 0, 0);
}

void THTMLRenderer::setFillColor(const std::string& c) {
  uint32_t v = 0;
  if (c.size() == 8 && c.compare(0, 2, "##") == 0 && hexValue(std::string_view(c).substr(2), v))
    painter_->SetFillColor(((v >> 16) & 0xFF) / 255.0, ((v >> 8) & 0xFF) / 255.0, (v & 0xFF) / 255.0);
  else if (c.size() == 8 && hexValue(c, v))
    painter_->SetFillColorCMYK((v >> 24) / 255.0, ((v >> 16) & 0xFF) / 255.0, ((v >> 8) & 0xFF) / 255.0,
                               (v & 0xFF) / 255.0);
}

void THTMLRenderer::push(TLayout& l, THTMLStyle style) { l.Styles.push_back(std::move(style)); }

void THTMLRenderer::pop(TLayout& l) {
  if (l.Styles.size() > 1) l.Styles.pop_back();
  selectTop(l);
}

void THTMLRenderer::selectTop(TLayout& l) {
  const THTMLStyle& t = l.Top();
  selectFont(t.Font, t.Size);
  setTextColor(t.TextColor);
  if (!t.BackColor.empty()) setFillColor(t.BackColor);
}

bool THTMLRenderer::roomFor(const TLayout& l) const {
  return painter_->GetLineHeight() + (l.Settings.Top - l.CurY + l.LastDescent) + l.Settings.LineSpacing <=
         l.MaxHeight;
}

// ---- State stack ----------------------------------------------------------------

std::string THTMLRenderer::writeState(const TLayout& l) const {
  const TPDFFont* fonts[4] = {l.Settings.RegularFont, l.Settings.BoldFont, l.Settings.ItalicFont,
                              l.Settings.BoldItalicFont};
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%08X", unsigned(l.Styles.size()));
  std::string body = buffer;
  for (const THTMLStyle& s : l.Styles) {
    // The font is named by its place among the four preset fonts, never by address.
    unsigned id = 0;
    for (unsigned i = 0; i < 4; ++i)
      if (fonts[i] == s.Font) id = i;
    std::snprintf(buffer, sizeof buffer, "%08X", id);
    body += buffer;
    std::snprintf(buffer, sizeof buffer, "%.3f", std::clamp(s.Size, 0.0, 9999.0));
    std::string size = buffer;
    while (size.size() > 1 && size.find('.') != std::string::npos && (size.back() == '0' || size.back() == '.')) {
      const bool dot = size.back() == '.';
      size.pop_back();
      if (dot) break;
    }
    body += std::string(8 - std::min<size_t>(8, size.size()), '0') + size.substr(0, 8);
    body += s.TextColor.size() == 8 ? s.TextColor : "##000000";
    body += s.BackColor.size() == 8 ? s.BackColor : std::string(8, ' ');
    body += "NUDSO"[std::min<uint8_t>(s.Decoration, 4)];
    std::snprintf(buffer, sizeof buffer, "%08X", unsigned(s.Flags));
    body += buffer;
  }
  body += l.Alignment >= 0 && l.Alignment <= 5 ? "LCRJFT"[l.Alignment] : ' ';
  body += "NOU"[std::clamp(l.ListMode, 0, 2)];
  return wideFrom8("<stack><!--" + body + "--></stack>");
}

void THTMLRenderer::readState(TLayout& l, std::string_view text) {
  // The prefix in 8-bit form (the low bytes of a UTF-16BE text).
  std::string narrow;
  const bool wide = text.size() >= 2 && text[0] == '\0';
  if (wide) {
    for (size_t i = 1; i < text.size(); i += 2) narrow += text[i];
  } else {
    narrow.assign(text);
  }
  const size_t start = narrow.find("<stack><!--"), end = narrow.find("--></stack>");
  if (start != 0 || end == std::string::npos) return;
  std::string_view body = std::string_view(narrow).substr(11, end - 11);
  uint32_t count = 0;
  if (!hexValue(body.substr(0, 8), count)) return;
  body.remove_prefix(std::min<size_t>(8, body.size()));
  TPDFFont* fonts[4] = {l.Settings.RegularFont, l.Settings.BoldFont, l.Settings.ItalicFont,
                        l.Settings.BoldItalicFont};
  for (uint32_t i = 0; i < count && body.size() > 40; ++i) {
    const std::string_view e = body.substr(0, kStateEntryLength);
    body.remove_prefix(kStateEntryLength);
    THTMLStyle s = l.Top();
    uint32_t id = 0, flags = 0;
    s.Font = hexValue(e.substr(0, 8), id) && id < 4 && fonts[id] ? fonts[id] : l.Settings.RegularFont;
    const std::string size(e.substr(8, 8));
    char* stop = nullptr;
    const double v = std::strtod(size.c_str(), &stop);
    s.Size = stop && *stop == '\0' && std::isfinite(v) && v >= 0 && v < 10000 ? v : 0;
    // Colours stand in their stored form: "##RRGGBB" or eight CMYK digits.
    auto stored = [](std::string_view c) {
      uint32_t v;
      const bool rgb = c.size() == 8 && c.substr(0, 2) == "##" && hexValue(c.substr(2), v);
      return rgb || (c.size() == 8 && hexValue(c, v)) ? std::string(c) : std::string("##000000");
    };
    s.TextColor = stored(e.substr(16, 8));
    const std::string back(e.substr(24, 8));
    s.BackColor = back == std::string(8, ' ') ? std::string() : stored(back);
    const size_t deco = std::string_view("NUDSO").find(e[32]);
    s.Decoration = deco == std::string_view::npos ? 0 : uint8_t(deco);
    s.Flags = hexValue(e.substr(33, 8), flags) ? flags & 7 : 0;
    push(l, s);
  }
  if (!body.empty()) {
    const size_t a = std::string_view("LCRJFT").find(body[0]);
    if (a != std::string_view::npos) l.Alignment = int32_t(a);
    body.remove_prefix(1);
  }
  if (!body.empty() && (body[0] == 'O' || body[0] == 'U')) {
    l.ListMode = body[0] == 'O' ? 1 : 2;
    l.ListCounter = 1;
    l.Indent = body[0] == 'O' ? 20 : 15;
    l.MarkerPending = false;  // the list went on before: its item's marker is drawn already
  }
}

// ---- Lines ----------------------------------------------------------------------

void THTMLRenderer::flushLine(TLayout& l, int32_t alignment) {
  TPDFPainter& p = *painter_;
  TPDFFont* keptFont = p.GetFont();
  const double keptSize = p.GetFontSize();
  if (!l.Runs.empty() && l.Runs.back().Text.empty()) l.Runs.pop_back();
  if (l.Runs.empty()) return;
  if (l.Runs.back().Hyphen) {
    THTMLRun& last = l.Runs.back();
    selectFont(last.Font, last.Size);
    last.Text += u'-';
    last.Width += p.GetTextWidthW(u"-");
  }
  double lineHeight = 0, descent = 0, total = 0;
  {
    THTMLRun& last = l.Runs.back();
    if (!last.Text.empty() && last.Text.back() == u' ') {
      last.Text.pop_back();
      selectFont(last.Font, last.Size);
      last.Width = p.GetTextWidthW(last.Text);
    }
  }
  std::u16string lineText;
  double spacing = l.Settings.LineSpacing;
  for (const THTMLRun& r : l.Runs) {
    selectFont(r.Font, r.Size);
    if (!r.Text.empty()) {
      lineHeight = std::max(lineHeight, p.GetLineHeight());
      descent = std::max(descent, std::fabs(p.GetFontMetric(4)));
    }
    total += r.Width;
    lineText += r.Text;
    spacing = std::max(spacing, r.LineSpacing);
  }
  double s = 0, wordSpacing = 0, charSpacing = 0;
  if (alignment == 1) s = (l.Settings.Width - total) / 2;
  if (alignment == 2) s = l.Settings.Width - total;
  if (alignment >= 3 && alignment <= 5) {
    const double extra = l.Settings.Width - total;
    const size_t words = size_t(std::count(lineText.begin(), lineText.end(), u' ')) + 1;
    if (words >= 2)
      wordSpacing = extra / double(words - 1);
    else if (lineText.size() >= 2)
      charSpacing = extra / double(lineText.size() - 1);
  }
  const double baseline = lineHeight - descent;
  l.CurY -= lineHeight + spacing;
  l.LastDescent = descent;
  bool firstRun = true;
  for (const THTMLRun& r : l.Runs) {
    selectFont(r.Font, r.Size);
    p.SetTextScaling(100);
    p.SetTextRise(0);
    setTextColor(r.TextColor);
    if (!r.BackColor.empty()) setFillColor(r.BackColor);
    p.SetDecorationKind(r.Decoration);
    p.SetWordSpacing(wordSpacing);
    p.SetCharSpacing(charSpacing);
    const double x = l.Settings.Left + s + r.X;
    if (!r.BackColor.empty()) {
      if (r.Flags & 1)
        p.DrawRoundedBox(true, false, x, r.Y, r.Width, lineHeight, lineHeight / 3);
      else
        p.DrawBox(true, false, x, r.Y, r.Width, lineHeight);
    }
    if (r.Flags & 2) {
      p.SetDecorationWidth(r.Size * 3 / 2 * 6.25 / 100);
      p.SetDecorationOffset(r.Size * 3 / 2 * 12.5 / 100 / 3);
      p.SetTextRise(r.Size * 2 / 3);
    } else if (r.Flags & 4) {
      p.SetTextRise(-r.Size / 3);
      p.SetDecorationOffset(r.Size / 3);
    }
    if (!r.Link.empty()) addPageLink(r.Link, x, r.Y, r.Width, lineHeight);
    if (!l.Hide) {
      if (!r.Text.empty()) p.DrawTextW(r.Text, x, r.Y - baseline);
      if (l.MarkerPending && firstRun && l.ListMode != 0) {
        const double space = p.GetTextWidthW(u" ");
        p.SetWordSpacing(0);
        p.SetCharSpacing(0);
        p.SetDecorationKind(0);
        if (l.ListMode == 2) {
          p.DrawTextW(u"\u2022", x - 2 * space - p.GetTextWidthW(u"\u2022"), r.Y - baseline);
        } else {
          std::u16string number;
          for (char c : std::to_string(l.ListCounter) + ".") number += char16_t(c);
          p.DrawTextW(number, x - space - p.GetTextWidthW(number), r.Y - baseline);
        }
      }
    }
    if (l.MarkerPending && firstRun && l.ListMode != 0) {
      l.MarkerPending = false;
      if (l.ListMode == 1) ++l.ListCounter;
    }
    firstRun = false;
    if (alignment >= 3 && alignment <= 5 && !r.Text.empty()) {
      const double words = double(std::count(r.Text.begin(), r.Text.end(), u' ')) + 1;
      s += (words - 1) * wordSpacing + double(r.Text.size() - 1) * charSpacing;
      // The gap between this run and the next counts as well when it ends in a space.
    }
    p.SetDecorationKind(0);
    p.SetWordSpacing(0);
    p.SetCharSpacing(0);
    p.SetTextRise(0);
  }
  l.Runs.clear();
  selectFont(keptFont, keptSize);
}

void THTMLRenderer::addPageLink(const std::string& target, double left, double top, double width, double height) {
  TPDFPageTree* tree = painter_->Owner;
  if (!tree || target.compare(0, 5, "page:") != 0) return;
  const std::string spec = target.substr(5);
  const size_t comma = spec.find(',');
  char* end = nullptr;
  const std::string pageText = spec.substr(0, comma);
  const long page = std::strtol(pageText.c_str(), &end, 10);
  if (pageText.empty() || *end || page < 1 || page > tree->GetPageCount()) return;
  double destTop = tree->GetPageHeight();
  if (comma != std::string::npos) {
    const std::string t = spec.substr(comma + 1);
    const double v = std::strtod(t.c_str(), &end);
    if (!t.empty() && !*end && std::isfinite(v)) destTop = v;
  }
  TPDFDictionary* pageDict = tree->GetSelectedPage();
  TPDFStructure* pool = tree->GetPool();
  TPDFIndRef* target_ref = tree->GetPageRef(int32_t(page));
  if (!pageDict || !pool || !target_ref || !pool->OnGetObjectNumber) return;
  TPDFDictionary* annot = pool->NewDictionary();
  annot->SetValue("Type", pool->NewName("Annot"));
  annot->SetValue("Subtype", pool->NewName("Link"));
  const double rect[] = {left, top - height, left + width, top};
  annot->SetValue("Rect", pool->NewRealArray(rect));
  const int32_t border[] = {0, 0, 0};
  annot->SetValue("Border", pool->NewIntegerArray(border));
  TPDFArray* dest = pool->NewArray();
  dest->Add(pool->NewIndRef(target_ref->GetRefNumber(), target_ref->GetRefGeneration()));
  dest->Add(pool->NewName("XYZ"));
  dest->Add(pool->NewNumeric(0));
  dest->Add(pool->NewNumeric(destTop));
  dest->Add(pool->NewNumeric(0));
  annot->SetValue("Dest", dest);
  int32_t number = 0, generation = 0;
  pool->OnGetObjectNumber(pool, annot, number, generation);
  if (number <= 0) return;
  TPDFArray* annots = PDFAsArray(pageDict->GetValue("Annots", true));
  if (!annots) {
    annots = pool->NewArray();
    pageDict->SetValue("Annots", annots);
  }
  annots->Add(pool->NewIndRef(number, generation));
}

// ---- Elements -------------------------------------------------------------------

void THTMLRenderer::handleTag(TLayout& l, size_t index) {
  const THTMLTag& tag = static_cast<const THTMLTag&>(*parser_.ElementList[index]);
  const std::string& name = tag.TagName;
  const THTMLSettings& set = l.Settings;
  THTMLStyle s = l.Top();
  std::string v;
  const double lineStart = set.Left + l.Indent;
  if (name == "b" || name == "strong") {
    if (s.Font == set.RegularFont) s.Font = set.BoldFont;
    else if (s.Font == set.ItalicFont) s.Font = set.BoldItalicFont;
    push(l, s);
  } else if (name == "i" || name == "em") {
    if (s.Font == set.RegularFont) s.Font = set.ItalicFont;
    else if (s.Font == set.BoldFont) s.Font = set.BoldItalicFont;
    push(l, s);
  } else if (name == "span" || name == "font") {
    if (attribute(tag, "background=", v)) s.BackColor = HTMLColorValue(v);
    if (attribute(tag, "roundback=", v) && LowerCaseA(v) == "yes") s.Flags |= 1;
    if (name == "font") {
      if (attribute(tag, "size=", v)) {
        const bool points = v.size() > 2 && v.compare(v.size() - 2, 2, "pt") == 0;
        const std::string number = points ? v.substr(0, v.size() - 2) : v;
        char* end = nullptr;
        double n = std::strtod(number.c_str(), &end);
        if (number.empty() || *end || !std::isfinite(n)) n = 0;
        s.Size = std::clamp(points ? n : (n + 1) * 2, 0.0, 1000.0);
      }
      if (attribute(tag, "color=", v)) s.TextColor = HTMLColorValue(v);
      if (attribute(tag, "mode=", v) && v.size() == 1 && v[0] >= '0' && v[0] <= '7') painter_->SetTextMode(v[0] - '0');
      if (attribute(tag, "outlinecolor=", v)) {
        const std::string c = HTMLColorValue(v);
        uint32_t x = 0;
        if (c.compare(0, 2, "##") == 0 && hexValue(c.substr(2), x))
          painter_->SetLineColor(((x >> 16) & 0xFF) / 255.0, ((x >> 8) & 0xFF) / 255.0, (x & 0xFF) / 255.0);
        else if (hexValue(c, x))
          painter_->SetLineColorCMYK((x >> 24) / 255.0, ((x >> 16) & 0xFF) / 255.0, ((x >> 8) & 0xFF) / 255.0,
                                     (x & 0xFF) / 255.0);
      }
      if (attribute(tag, "outlinewidth=", v) && v.size() > 2 && v.compare(v.size() - 2, 2, "pt") == 0) {
        const double w = std::strtod(v.c_str(), nullptr);
        if (std::isfinite(w) && w >= 0) painter_->SetLineWidth(std::min(w, 1000.0));
      }
    }
    push(l, s);
  } else if (name == "a") {
    if (attribute(tag, "href=", v)) s.Link = v;
    push(l, s);
  } else if (name == "sup" || name == "sub") {
    const uint32_t bit = name == "sup" ? 2 : 4;
    if (!(s.Flags & bit)) {
      s.Size = s.Size * 2 / 3;
      s.Flags |= bit;
    }
    push(l, s);
  } else if (name == "u") {
    s.Decoration = 1;
    if (attribute(tag, "style=", v)) {
      if (v == "double") s.Decoration = 2;
      else if (v == "strikeout") s.Decoration = 3;
      else if (v == "over") s.Decoration = 4;
    }
    push(l, s);
  } else if (name == "/b" || name == "/strong" || name == "/i" || name == "/em" || name == "/span" || name == "/a" ||
             name == "/sup" || name == "/sub" || name == "/u" || name == "/font") {
    pop(l);
    return;
  } else if (name == "p") {
    flushLine(l, l.Alignment);
    l.CurX = lineStart;
    if (!l.FirstParagraph) l.CurY -= l.Top().Size / 2;
    l.Alignment = 0;
    if (attribute(tag, "align=", v)) {
      if (v == "right") l.Alignment = 2;
      else if (v == "center") l.Alignment = 1;
      else if (v == "justified") l.Alignment = 3;
      else if (v == "forcejustified") l.Alignment = 4;
      else if (v == "lastjustified") l.Alignment = 5;
    } else if (attribute(tag, "spacing=", v) && v.size() > 2 && v.compare(v.size() - 2, 2, "pt") == 0) {
      const double sp = std::strtod(v.c_str(), nullptr);
      s.LineSpacing = std::isfinite(sp) ? std::clamp(sp, 0.0, 1000.0) : 0;
      l.Settings.LineSpacing = s.LineSpacing;
      push(l, s);
    }
  } else if (name == "/p") {
    flushLine(l, l.Alignment == 3 ? 0 : l.Alignment);
    l.Alignment = 0;
    l.CurX = lineStart;
  } else if (name == "br") {
    if (index > 0) {
      const auto* before = dynamic_cast<const THTMLTag*>(parser_.ElementList[index - 1].get());
      if (before && before->TagName == "br") {
        selectFont(s.Font, s.Size);
        THTMLRun run;
        run.Font = s.Font, run.Size = s.Size, run.Text = u" ", run.X = l.CurX - set.Left, run.Y = l.CurY;
        run.Width = painter_->GetTextWidthW(u" ");
        run.TextColor = s.TextColor, run.LineSpacing = s.LineSpacing;
        l.Runs.push_back(run);
      }
    }
    flushLine(l, l.Alignment == 3 || l.Alignment == 5 ? 0 : l.Alignment);
    l.CurX = set.Left + l.Indent;
  } else if (name == "ispvsbr") {
    if (attribute(tag, "hyphen=", v) && v == "true" && !l.Runs.empty() && index + 1 < parser_.ElementList.size()) {
      const auto* next = dynamic_cast<const THTMLWords*>(parser_.ElementList[index + 1].get());
      const std::u16string& last = l.Runs.back().Text;
      if (next && next->WordList.GetCount() > 0 && !next->WordList.GetString(0).empty() && !last.empty() && last.back() != u' ')
        l.Runs.back().Hyphen = 1;
    }
  } else if (name == "ul" || name == "ol") {
    flushLine(l, l.Alignment);
    l.CurX = set.Left + l.Indent;
    l.ListMode = name == "ul" ? 2 : 1;
    l.ListCounter = 1;
    l.Indent = name == "ul" ? 15 : 20;
    l.MarkerPending = true;
  } else if (name == "/ul" || name == "/ol") {
    flushLine(l, l.Alignment);
    l.ListMode = 0;
    l.Indent = 0;
    l.CurX = set.Left;
  } else if (name == "li") {
    if (l.ListMode == 0) {
      flushLine(l, l.Alignment);
      l.ListMode = 2;
      l.ListCounter = 1;
      l.Indent = 15;
    }
    flushLine(l, l.Alignment);
    l.MarkerPending = true;
    l.CurX = set.Left + l.Indent;
  } else {
    return;  // not part of the subset
  }
  if (name.size() > 0 && name[0] != '/' && name != "p" && name != "br" && name != "ispvsbr" && name != "ul" &&
      name != "ol" && name != "li")
    selectTop(l);
}

void THTMLRenderer::handleWords(TLayout& l, size_t index) {
  const THTMLWords& element = static_cast<const THTMLWords&>(*parser_.ElementList[index]);
  std::vector<std::u16string> words;
  for (int32_t i = 0; i < element.WordList.GetCount(); ++i) words.push_back(fromBE(element.WordList.GetString(i)));
  TPDFPainter& p = *painter_;
  const THTMLStyle& style = l.Top();
  selectFont(style.Font, style.Size);
  const double lineStart = l.Settings.Left + l.Indent;
  const double right = l.Settings.Left + l.Settings.Width;
  auto makeRun = [&](std::u16string text) {
    THTMLRun run;
    run.Font = style.Font, run.Size = style.Size, run.Text = std::move(text);
    run.X = l.CurX - l.Settings.Left, run.Y = l.CurY;
    run.Width = p.GetTextWidthW(run.Text);
    run.TextColor = style.TextColor, run.Decoration = style.Decoration, run.BackColor = style.BackColor;
    run.Flags = style.Flags, run.LineSpacing = style.LineSpacing, run.Link = style.Link;
    return run;
  };
  std::u16string pending;
  size_t pendingWords = 0;
  for (size_t w = 0; w < words.size(); ++w) {
    std::u16string word = trimWord(words[w]);
    const bool lineEmpty = l.Runs.empty() && pending.empty();
    if (word.empty()) {
      if (lineEmpty) {
        l.AfterParagraphTag = false;
        continue;
      }
      if (l.AfterParagraphTag) continue;
    }
    double spaceWidth = 0;
    if (w + 1 < words.size() || (word.empty() && words.size() == 1)) {
      // A run of nothing but white space still separates its neighbours.
      word += u' ';
      spaceWidth = p.GetTextWidthW(u" ");
    }
    pending += word;
    ++pendingWords;
    if (l.CurX + p.GetTextWidthW(pending) - spaceWidth <= right + 1e-9) continue;
    std::u16string runText;
    if (pendingWords == 1 && l.Runs.empty() && l.CurX <= lineStart + 1e-9) {
      // A word wider than the line: its tail goes to a new word after it.
      std::u16string head = trimWord(pending), tail;
      while (head.size() > 1 && l.CurX + p.GetTextWidthW(head) > right + 1e-9) {
        tail.insert(tail.begin(), head.back());
        head.pop_back();
      }
      if (!tail.empty()) words.insert(words.begin() + std::ptrdiff_t(w) + 1, tail + (w + 1 < words.size() ? u" " : u""));
      runText = head;
    } else {
      runText = pending.substr(0, pending.size() - word.size());
      --w;  // placed again on the next line
    }
    while (!runText.empty() && runText.back() == u' ') runText.pop_back();
    l.Runs.push_back(makeRun(runText));
    flushLine(l, l.Alignment);
    selectFont(style.Font, style.Size);
    pending.clear();
    pendingWords = 0;
    l.CurX = lineStart;
    if (!roomFor(l)) {
      l.Overflow = true;
      for (size_t k = w + 1; k < words.size(); ++k) {
        const std::u16string rest = trimWord(words[k]);
        if (!rest.empty()) l.Unplaced += rest + u" ";
      }
      return;
    }
  }
  if (!pending.empty()) {
    THTMLRun run = makeRun(pending);
    l.CurX += run.Width;
    l.Runs.push_back(std::move(run));
  }
}

double THTMLRenderer::DrawText(std::string_view text, const THTMLSettings& settings, std::string& rest,
                               double maxHeight, bool hideText) {
  rest.clear();
  parser_.Clear();
  if (text.empty() || !(settings.Width > 0) || !settings.RegularFont) return 0;
  parser_.Parse(text);
  // Tag aliases: the alias name becomes the tag named in the value, with its attributes.
  for (const auto& [alias, value] : settings.TagAliases) {
    for (auto& element : parser_.ElementList) {
      auto* tag = dynamic_cast<THTMLTag*>(element.get());
      if (!tag || tag->TagName != alias) continue;
      size_t colon = value.find(':');
      tag->TagName = value.substr(0, colon);
      while (colon != std::string::npos) {
        const size_t next = value.find(':', colon + 1);
        tag->AttrList.Add(LowerCaseA(value.substr(colon + 1, next == std::string::npos ? std::string::npos : next - colon - 1)));
        colon = next;
      }
    }
  }
  TLayout l;
  l.Settings = settings;
  l.MaxHeight = maxHeight < 0.1 ? kNoLimit : maxHeight;
  l.Hide = hideText;
  THTMLStyle base;
  base.Font = settings.RegularFont;
  l.Styles.push_back(base);
  // What follows a state-stack prefix is what the parser tokenised.
  std::string_view body = text;
  const std::string prefix = wideFrom8("<stack><!--"), prefixEnd = wideFrom8("</stack>");
  std::string_view probe = text;
  if (probe.size() >= 2 && uint8_t(probe[0]) == 0xFE && uint8_t(probe[1]) == 0xFF) probe.remove_prefix(2);
  if (probe.compare(0, prefix.size(), prefix) == 0) {
    readState(l, probe);
    size_t end = probe.find(prefixEnd);
    while (end != std::string_view::npos && end % 2) end = probe.find(prefixEnd, end + 1);
    body = end == std::string_view::npos ? std::string_view() : probe.substr(end + prefixEnd.size());
  }
  selectTop(l);
  l.CurX = settings.Left + l.Indent;
  l.CurY = settings.Top;
  for (size_t i = 0; i < parser_.ElementList.size(); ++i) {
    const bool isTag = dynamic_cast<const THTMLTag*>(parser_.ElementList[i].get()) != nullptr;
    if (isTag) {
      handleTag(l, i);
      const std::string& name = static_cast<const THTMLTag&>(*parser_.ElementList[i]).TagName;
      l.AfterParagraphTag = name == "p" || name == "/p";
    } else {
      handleWords(l, i);
    }
    l.FirstParagraph = false;
    // A box takes at least one line, so a rest passed on always shrinks.
    if (!l.Overflow && (roomFor(l) || l.CurY >= settings.Top)) continue;
    if (i + 1 >= parser_.ElementList.size() && l.Unplaced.empty()) break;
    rest = writeState(l) + toBE(l.Unplaced);
    if (i + 1 < parser_.ElementList.size()) {
      const int32_t offset = parser_.ElementList[i + 1]->StartOffset;
      if (offset >= 1 && size_t(offset - 1) <= body.size()) rest += std::string(body.substr(size_t(offset - 1)));
    }
    l.Runs.clear();
    return settings.Top - l.CurY;
  }
  flushLine(l, l.Alignment);
  return settings.Top - l.CurY;
}
