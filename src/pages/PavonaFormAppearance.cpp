// Field values, the default appearance string (/DA) and the appearance
// streams that show a field's value.
//
// Our renderer, like most viewers, draws a widget only through its /AP
// stream, so every edit of a text, choice or push-button field writes that
// stream anew; /NeedAppearances is raised only when no stream could be
// written (no usable font), so that other viewers rebuild it.
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "pages/PavonaFont.h"
#include "pages/PavonaForm.h"
#include "pages/PavonaPainter.h"
#include "objects/PavonaExtra.h"
#include "objects/PavonaCharClass.h"
#include "objects/PavonaStructure.h"

namespace {

constexpr char16_t kValueSeparator = u'\r';

double numberOf(TPDFObject* obj) {
  TPDFNumeric* n = PDFAsNumeric(obj);
  return n && std::isfinite(n->GetValue()) ? n->GetValue() : 0;
}

// Whitespace-separated tokens of a content-operator string; a name starts a
// token of its own even when it follows another without a space.
std::vector<std::string> tokenize(std::string_view text) {
  std::vector<std::string> tokens;
  std::string current;
  auto flush = [&] {
    if (!current.empty()) tokens.push_back(std::move(current));
    current.clear();
  };
  for (char c : text) {
    if (PDFIsWhite(c)) {
      flush();
    } else if (c == '/') {
      flush();
      current.push_back(c);
    } else {
      current.push_back(c);
    }
  }
  flush();
  return tokens;
}

std::string joinTokens(const std::vector<std::string>& tokens) {
  std::string out;
  for (const std::string& t : tokens) {
    if (!out.empty()) out.push_back(' ');
    out += t;
  }
  return out;
}

bool isColorOperator(std::string_view t) {
  return t == "g" || t == "rg" || t == "k" || t == "sc" || t == "scn";
}

// Index of the operand tokens of the last colour operator of the string and
// the operator itself; -1 when the string sets no fill colour.
int32_t lastColorOperator(const std::vector<std::string>& tokens) {
  for (int32_t i = static_cast<int32_t>(tokens.size()) - 1; i >= 0; --i) {
    if (isColorOperator(tokens[size_t(i)])) return i;
  }
  return -1;
}

double tokenNumber(const std::vector<std::string>& tokens, int32_t index) {
  if (index < 0 || index >= static_cast<int32_t>(tokens.size())) return 0;
  const std::string& t = tokens[size_t(index)];
  if (!IsNumberText(t)) return 0;
  const double v = PDFTextToFloat(t);
  return std::isfinite(v) ? v : 0;
}

// The standard face whose metrics stand in for a form font: its number in
// the standard-font table (1-based) and its name.
std::pair<int32_t, const char*> standardFaceFor(TPDFDictionary* fontDict, std::string_view resourceName) {
  static const char* const kNames[14] = {"Courier",     "Courier-Bold",   "Courier-BoldOblique",   "Courier-Oblique",
                                         "Helvetica",   "Helvetica-Bold", "Helvetica-BoldOblique", "Helvetica-Oblique",
                                         "Times-Roman", "Times-Bold",     "Times-Italic",          "Times-BoldItalic",
                                         "Symbol",      "ZapfDingbats"};
  std::string base = fontDict ? fontDict->GetNameValue("BaseFont") : std::string();
  if (base.size() > 7 && base[6] == '+') base = base.substr(7);  // subset tag
  if (base.empty()) {
    for (int32_t i = 0; i < 14; ++i) {
      if (resourceName == kFormFontNames[i]) return {i + 1, kNames[i]};
    }
  }
  const std::string lower = LowerCaseA(base);
  for (int32_t i = 0; i < 14; ++i) {
    if (LowerCaseA(kNames[i]) == lower) return {i + 1, kNames[i]};
  }
  auto has = [&](std::string_view part) { return lower.find(part) != std::string::npos; };
  if (has("zapf") || has("dingbat")) return {14, kNames[13]};
  if (has("symbol")) return {13, kNames[12]};
  const bool bold = has("bold") || has("black") || has("heavy");
  const bool italic = has("italic") || has("oblique");
  int32_t family = 4;  // Helvetica
  if (has("courier") || has("mono"))
    family = 0;
  else if (has("times") || has("roman") || (has("serif") && !has("sans")))
    family = 8;
  int32_t index = family;
  if (family == 8) {
    index += bold && italic ? 3 : bold ? 1 : italic ? 2 : 0;
  } else {
    index += bold && italic ? 2 : bold ? 1 : italic ? 3 : 0;
  }
  return {index + 1, kNames[index]};
}

}  // namespace

// ---------------------------------------------------------------------------
// Values

std::u16string TPDFField::GetValue() {
  if (!Dict) return {};
  return GetValueText(GetInheritedValue(Dict, "V"));
}

std::u16string TPDFField::GetValueText(TPDFObject* value) {
  value = ResolveObject(value);
  auto nameText = [](TPDFName* n) {
    std::u16string out;
    for (unsigned char c : n->GetValue()) out.push_back(c >= 127 ? u'\uFFFD' : char16_t(c));
    return out;
  };
  switch (GetFieldKind()) {
    case pdffkText:
      if (TPDFString* s = PDFAsString(value)) return s->GetText();
      if (TPDFStream* st = PDFAsStream(value)) return PDFTextOrUTF8ToWide(st->GetDecodedData());
      return {};
    case pdffkCheckBox:
    case pdffkRadioGroup:
      if (TPDFName* n = PDFAsName(value)) return nameText(n);
      return u"Off";
    case pdffkChoice: {
      if (TPDFName* n = PDFAsName(value)) return nameText(n);
      if (TPDFString* s = PDFAsString(value)) return s->GetText();
      std::u16string out;
      if (TPDFArray* a = PDFAsArray(value)) {
        bool first = true;
        for (TPDFObject* item : a->Items()) {
          TPDFString* s = PDFAsString(ResolveObject(item));
          if (!s) continue;
          if (!first) out.push_back(kValueSeparator);
          out += s->GetText();
          first = false;
        }
      }
      return out;
    }
    case pdffkSignature:
      if (TPDFDictionary* d = PDFAsDictionary(value)) {
        try {
          return AsciiToWide(d->WriteText());
        } catch (const std::exception&) {
          return {};
        }
      }
      return {};
    default:
      return {};
  }
}

bool TPDFField::SetValue(std::u16string_view text) {
  const bool taken = SetValueByKey(text, "V");
  if (taken) RefreshAppearance();
  return taken;
}

void TPDFField::setKidStates(const std::string& state) {
  TPDFArray* kids = kidsArray();
  if (!kids || !Pool) return;
  for (TPDFObject* item : kids->Items()) {
    TPDFDictionary* kid = PDFAsDictionary(ResolveObject(PDFAsIndRef(item)));
    if (!kid) continue;
    std::string shown = "Off";
    if (TPDFDictionary* ap = PDFAsDictionary(ResolveObject(kid->GetValue("AP")))) {
      for (const char* key : {"N", "R", "D"}) {
        TPDFDictionary* states = PDFAsDictionary(ResolveObject(ap->GetValue(key)));
        if (states && states->IndexOfKey(state) >= 0) shown = state;
      }
    }
    kid->SetValue("AS", Pool->NewName(shown));
  }
}

bool TPDFField::SetValueByKey(std::u16string_view text, std::string_view key) {
  if (!Dict || !Pool) return false;
  const std::string bytes = WideToPDFDocBytes(text);
  const std::string utf8 = WideToUTF8(text);
  switch (GetFieldKind()) {
    case pdffkText:
    case pdffkParent:
      Dict->DeleteKey(key);
      Dict->SetValue(key, Pool->NewTextString(text));
      return true;
    case pdffkCheckBox:
    case pdffkRadioGroup: {
      // A state that no widget can show would leave /V saying one thing and
      // the page another; such a value is refused.
      LoadOptions();
      int32_t found = -1;
      for (int32_t i = 0; i < GetOptionCount(); ++i) {
        if (GetOptionName(i) == bytes) found = i;
      }
      if (found < 0 && GetOptionCount() > 1) return false;
      setKidStates(bytes);
      // A new name object rather than an edit of the old one, which another
      // dictionary may hold too.
      Dict->SetValue(key, Pool->NewName(bytes));
      // The field's own /AS only where the field is itself a widget.
      if (key == "V" && (Dict->GetValue("AS") || !kidsArray())) {
        std::string shown = bytes;
        if (TPDFDictionary* ap = PDFAsDictionary(ResolveObject(Dict->GetValue("AP")))) {
          TPDFDictionary* n = PDFAsDictionary(ResolveObject(ap->GetValue("N")));
          if (n && n->IndexOfKey(bytes) < 0) shown = "Off";
        }
        Dict->SetValue("AS", Pool->NewName(shown));
      }
      return true;
    }
    case pdffkChoice: {
      LoadOptions();
      int32_t index = -1;
      for (int32_t i = 0; i < GetOptionCount(); ++i) {
        if (CompareTextA(GetOptionName(i), utf8) == 0) {
          index = i;
          break;
        }
      }
      const uint32_t flags = static_cast<uint32_t>(GetFlags());
      if (index < 0) {
        if (text.empty() && key == "V") {  // clearing the selection
          Dict->DeleteKey("V");
          Dict->DeleteKey("I");
          return true;
        }
        if ((flags & (1u << 18)) && key == "V") {  // an editable combo box takes any text
          Dict->DeleteKey("I");
          Dict->DeleteKey("V");
          Dict->SetValue("V", Pool->NewTextString(text));
          return true;
        }
        return false;  // the current value stays
      }
      if (flags & (1u << 21)) {  // multiple selection: the value is added
        // The selections so far, written into a new array: the old one may
        // be shared.
        std::vector<std::u16string> chosen;
        TPDFObject* current = ResolveObject(Dict->GetValue(key));
        if (TPDFString* s = PDFAsString(current)) chosen.push_back(s->GetText());
        if (TPDFArray* old = PDFAsArray(current)) {
          for (TPDFObject* item : old->Items()) {
            if (TPDFString* s = PDFAsString(ResolveObject(item))) chosen.push_back(s->GetText());
          }
        }
        TPDFArray* values = Pool->NewArray();
        bool present = false;
        for (const std::u16string& c : chosen) {
          values->Add(Pool->NewTextString(c));
          if (c == text) present = true;
        }
        Dict->DeleteKey(key);
        Dict->SetValue(key, values);
        if (!present) values->Add(Pool->NewTextString(text));
        if (key == "V") {
          std::vector<int32_t> selected;
          if (TPDFArray* old = PDFAsArray(ResolveObject(Dict->GetValue("I")))) {
            for (TPDFObject* item : old->Items()) {
              if (TPDFNumeric* n = PDFAsNumeric(ResolveObject(item))) {
                const double v = n->GetValue();
                if (v >= 0 && v < 1e9) selected.push_back(static_cast<int32_t>(v));
              }
            }
          }
          selected.push_back(index);
          std::sort(selected.begin(), selected.end());
          selected.erase(std::unique(selected.begin(), selected.end()), selected.end());
          Dict->DeleteKey("I");
          Dict->SetValue("I", Pool->NewIntegerArray(selected));
        }
        return true;
      }
      // Single selection: the value becomes exactly this option.
      Dict->DeleteKey(key);
      Dict->SetValue(key, Pool->NewTextString(text));
      if (key == "V") {
        Dict->DeleteKey("I");
        const int32_t one[1] = {index};
        Dict->SetValue("I", Pool->NewIntegerArray(one));
      }
      return true;
    }
    default:
      return false;
  }
}

// ---------------------------------------------------------------------------
// The default appearance string

std::string TPDFField::GetDefaultAppearance() {
  if (!Dict) return {};
  if (TPDFString* s = PDFAsString(ResolveObject(GetInheritedValue(Dict, "DA")))) return s->GetValue();
  if (Form && Form->Dict) {
    if (TPDFString* s = PDFAsString(Form->ResolveObject(Form->Dict->GetValue("DA")))) return s->GetValue();
  }
  return {};
}

std::string TPDFField::formatNumber(double v) const {
  const int32_t digits = Pool ? std::clamp(Pool->GetPrecisionDigits(), 0, 10) : 4;
  if (!std::isfinite(v)) v = 0;
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.*f", digits, v);
  std::string s = buffer;
  if (s.find('.') != std::string::npos) {
    while (!s.empty() && s.back() == '0') s.pop_back();
    if (!s.empty() && s.back() == '.') s.pop_back();
  }
  if (s == "-0") s = "0";
  return s;
}

double TPDFField::GetFontSize() {
  const std::vector<std::string> tokens = tokenize(GetDefaultAppearance());
  for (size_t i = 0; i < tokens.size(); ++i) {
    if (tokens[i] == "Tf") return i >= 1 ? tokenNumber(tokens, static_cast<int32_t>(i) - 1) : 0;
  }
  return 0;
}

std::string TPDFField::GetFontName() {
  const std::vector<std::string> tokens = tokenize(GetDefaultAppearance());
  for (size_t i = 0; i < tokens.size(); ++i) {
    if (tokens[i] != "Tf") continue;
    if (i >= 2 && tokens[i - 2].size() > 1 && tokens[i - 2][0] == '/') return tokens[i - 2].substr(1);
    return {};
  }
  return {};
}

TPDFIndRef* TPDFField::GetFontRef() {
  const std::string name = GetFontName();
  if (name.empty() || !Form) return nullptr;
  return Form->FindFontRef(name);
}

std::string TPDFField::GetColorSpace() {
  const std::vector<std::string> tokens = tokenize(GetDefaultAppearance());
  const int32_t op = lastColorOperator(tokens);
  if (op < 0) return {};
  const std::string& t = tokens[size_t(op)];
  if (t == "rg") return "DeviceRGB";
  if (t == "k") return "DeviceCMYK";
  if (t == "g") return "DeviceGray";
  // sc / scn: the colour space set by the nearest cs before it.
  for (int32_t i = op - 1; i >= 1; --i) {
    if (tokens[size_t(i)] == "cs") return "Separation: " + tokens[size_t(i - 1)];
  }
  return "Separation: ";
}

double TPDFField::GetColorComponent(int32_t n) {
  // The operands of the colour operator itself: letters inside a font name
  // ("/Calligraph") are not an operator.
  const std::vector<std::string> tokens = tokenize(GetDefaultAppearance());
  const int32_t op = lastColorOperator(tokens);
  if (op < 0 || n < 1) return 0;
  const std::string& t = tokens[size_t(op)];
  const int32_t count = t == "rg" ? 3 : t == "k" ? 4 : 1;
  if (n > count) return 0;
  return tokenNumber(tokens, op - count + n - 1);
}

void TPDFField::writeDefaultAppearance(const std::string& da) {
  if (!Dict || !Pool) return;
  Dict->DeleteKey("DA");
  Dict->SetValue("DA", Pool->NewString(da));
}

void TPDFField::SetAlignment(int32_t q) {
  if (!Dict || !Pool) return;
  Dict->DeleteKey("Q");
  Dict->SetValue("Q", Pool->NewNumeric(q));
  RefreshAppearance();
}

void TPDFField::SetFont(int32_t n) {
  const std::string name = Form ? Form->GetFontName(n) : std::string();
  if (!name.empty()) {
    std::vector<std::string> tokens = tokenize(GetDefaultAppearance());
    bool replaced = false;
    for (size_t i = 0; i < tokens.size(); ++i) {
      if (tokens[i] == "Tf" && i >= 2 && !tokens[i - 2].empty() && tokens[i - 2][0] == '/') {
        tokens[i - 2] = "/" + name;
        replaced = true;
        break;
      }
    }
    std::string da;
    if (replaced) {
      da = joinTokens(tokens);
    } else if (!tokens.empty()) {
      da = joinTokens(tokens) + " /" + name + " 0 Tf";
    } else {
      da = "/" + name + " 0 Tf 0 0 0 rg";
    }
    writeDefaultAppearance(da);
  }
  RefreshAppearance();
}

void TPDFField::SetFontSize(double size) {
  std::vector<std::string> tokens = tokenize(GetDefaultAppearance());
  bool replaced = false;
  for (size_t i = 0; i < tokens.size(); ++i) {
    if (tokens[i] == "Tf" && i >= 1) {
      tokens[i - 1] = formatNumber(size);
      replaced = true;
      break;
    }
  }
  std::string font = Form ? Form->GetFirstFontName() : std::string();
  // Without any form font the standard Helvetica name is used; the form
  // makes that font when the appearance is drawn.
  if (font.empty()) font = "Helv";
  std::string da;
  if (replaced) {
    da = joinTokens(tokens);
  } else if (!tokens.empty()) {
    da = joinTokens(tokens) + " /" + font + " " + formatNumber(size) + " Tf";
  } else {
    da = "/" + font + " " + formatNumber(size) + " Tf 0 0 0 rg";
  }
  writeDefaultAppearance(da);
  RefreshAppearance();
}

std::u16string TPDFField::GetCaption() {
  if (!Dict) return {};
  TPDFDictionary* mk = PDFAsDictionary(ResolveObject(Dict->GetValue("MK")));
  TPDFString* ca = mk ? PDFAsString(ResolveObject(mk->GetValue("CA"))) : nullptr;
  return ca ? ca->GetText() : std::u16string();
}

// ---------------------------------------------------------------------------
// Appearances

void TPDFField::RemoveAppearance() {
  if (!Dict) return;
  // Only the entry goes: the streams may be shared with other widgets, so
  // nothing is handed back to the pool.
  Dict->DeleteKey("AP");
  if (TPDFArray* kids = kidsArray()) {
    for (int32_t i = 0; i < kids->GetCount(); ++i) {
      TPDFIndRef* ref = PDFAsIndRef(kids->GetItem(i));
      TPDFField* kid = ref && Form ? Form->FindFieldByRef(ref) : nullptr;
      // A kid that is no field of its own is one of this field's widgets.
      std::unique_ptr<TPDFField> widget;
      if (!kid && HasKids) kid = (widget = GetKid(i + 1)).get();
      if (kid && kid != this && kid->Dict) kid->Dict->DeleteKey("AP");
    }
  }
}

void TPDFField::RefreshAppearance() {
  if (!Dict) return;
  const uint8_t kind = GetFieldKind();
  // Check boxes and radio groups switch between their states through /AS;
  // a signature's appearance belongs to the signature.
  if (kind != pdffkText && kind != pdffkChoice && kind != pdffkPushButton) return;
  bool built = true;
  // The field's own appearance only where it is a widget itself (a field
  // shown through widget kids carries their first one's place, not a /Rect).
  if (Width > 0 && Height > 0 && Dict->GetValue("Rect")) built = BuildAppearance() && built;
  if (TPDFArray* kids = kidsArray()) {
    for (int32_t i = 0; i < kids->GetCount(); ++i) {
      TPDFIndRef* ref = PDFAsIndRef(kids->GetItem(i));
      TPDFField* kid = ref && Form ? Form->FindFieldByRef(ref) : nullptr;
      // A kid that is no field of its own is one of this field's widgets.
      std::unique_ptr<TPDFField> widget;
      if (!kid && HasKids) kid = (widget = GetKid(i + 1)).get();
      if (kid && kid != this && kid->Width > 0 && kid->Height > 0) built = kid->BuildAppearance() && built;
    }
  }
  // Where we could not draw, other viewers are asked to.
  if (!built && Form && Form->GetNeedAppearances() != "true") Form->SetNeedAppearances(true);
}

bool TPDFField::BuildAppearance() {
  if (!Dict || !Pool) return false;
  return buildWidgetAppearance(Dict);
}

bool TPDFField::buildWidgetAppearance(TPDFDictionary* widget) {
  const double fieldW = Width, fieldH = Height;
  if (!(fieldW > 0) || !(fieldH > 0) || !Form) return false;
  const uint8_t kind = GetFieldKind();
  std::u16string text;
  if (kind == pdffkText || kind == pdffkChoice) {
    text = GetValue();
  } else if (kind == pdffkPushButton) {
    text = GetCaption();
    // A button without a caption shows an icon or a picture of its own:
    // that appearance is kept.
    if (text.empty() && widget->GetValue("AP")) return true;
  } else {
    return true;
  }
  if (kind == pdffkChoice && (static_cast<uint32_t>(GetFlags()) & (1u << 17)) == 0 && text.empty()) {
    // A list box without a selection still draws its frame (below).
  }

  // The font: the /DA name, resolved through /DR or made as a standard font.
  const std::string fontName = GetFontName();
  TPDFIndRef* fontRef = GetFontRef();
  TPDFDictionary* fontDict = fontRef ? PDFAsDictionary(Form->ResolveObject(fontRef)) : nullptr;
  if (!fontRef || !fontDict || fontDict->GetNameValue("Subtype") == "Type0") return false;

  // Measuring needs only metrics; the font object made for it lives in a
  // scratch pool so that nothing is added to the document.
  TPDFStructure scratch;
  const auto face = standardFaceFor(fontDict, fontName);
  TPDFFont font(&scratch, fontName);
  font.CreateStandardFont(face.second, face.first);

  const int32_t q = static_cast<int32_t>(
      std::clamp<int64_t>(PDFAsNumeric(ResolveObject(GetInheritedValue(Dict, "Q")))
                              ? PDFAsNumeric(ResolveObject(GetInheritedValue(Dict, "Q")))->AsInteger()
                              : 0,
                          0, 2));
  TPDFDictionary* mk = PDFAsDictionary(ResolveObject(widget->GetValue("MK")));
  int32_t rotation = 0;
  if (mk) {
    if (TPDFNumeric* r = PDFAsNumeric(ResolveObject(mk->GetValue("R")))) {
      rotation = static_cast<int32_t>(std::clamp<int64_t>(r->AsInteger(), -3600, 3600));
      rotation = ((rotation % 360) + 360) % 360;
    }
  }
  double w = fieldW, h = fieldH;
  if ((rotation / 90) % 2 == 1) std::swap(w, h);

  TPDFPainter painter;
  painter.SetPrecision(Pool->GetPrecisionDigits());
  if (rotation == 90) painter.RotateAround(fieldW, 0, 90);
  if (rotation == 180) painter.RotateAround(fieldW, fieldH, 180);
  if (rotation == 270) painter.RotateAround(0, fieldH, 270);

  const int32_t maxLen = GetMaxLen();
  const bool comb = kind == pdffkText && HasFieldFlag(25) && !HasFieldFlag(14) && !HasFieldFlag(21) && maxLen >= 1;
  const double inset = writeBorderAndBackground(painter, widget, comb ? maxLen : 0, h, w);

  if (!text.empty()) writeFieldText(painter, font, text, q, w, h, inset, comb, maxLen);
  return storeAppearance(widget, painter.GetContent(), fontName, fontRef);
}

void TPDFField::writeFieldText(TPDFPainter& painter, TPDFFont& font, const std::u16string& text, int32_t q, double w,
                               double h, double inset, bool comb, int32_t maxLen) {
  const uint8_t kind = GetFieldKind();
  double size = GetFontSize();
  const bool autoSize = !(size > 0);
  const bool multiLine = kind == pdffkText && HasFieldFlag(13);
  if (autoSize) size = multiLine ? 12 : h - 4;
  if (!(size > 0)) size = 1;
  painter.SetFont(&font, size);
  // The text colour exactly as /DA sets it.
  const std::vector<std::string> tokens = tokenize(GetDefaultAppearance());
  const int32_t op = lastColorOperator(tokens);
  if (op >= 0) {
    int32_t first = op - (tokens[size_t(op)] == "rg" ? 3 : tokens[size_t(op)] == "k" ? 4 : 1);
    if (tokens[size_t(op)] == "sc" || tokens[size_t(op)] == "scn") {
      for (int32_t i = op - 1; i >= 1; --i) {
        if (tokens[size_t(i)] == "cs") {
          first = i - 1;
          break;
        }
      }
    }
    first = std::max(first, 0);
    painter.SetRawFillColor(joinTokens(std::vector<std::string>(tokens.begin() + first, tokens.begin() + op + 1)));
  } else {
    painter.SetRawFillColor("0 g");
  }
  double x = inset + 2;
  int32_t align = 0;
  if ((kind == pdffkText || kind == pdffkChoice) && q == 1) {
    x = w / 2;
    align = 1;
  } else if ((kind == pdffkText || kind == pdffkChoice) && q == 2) {
    x = w - 2 - inset;
    align = 2;
  } else if (kind == pdffkPushButton) {
    x = w / 2;
    align = 1;
  }
  painter.SetTextAlignment(align);
  const double innerW = w - 4 - 2 * inset, innerH = h - 4 - 2 * inset;
  if (multiLine || (kind == pdffkChoice && text.find(kValueSeparator) != std::u16string::npos)) {
    if (autoSize) {
      while (size > 4 && painter.GetTextBlockHeight(text, std::u16string(1, kValueSeparator), innerW) > innerH) {
        size -= 0.5;
        painter.SetFont(&font, size);
      }
    }
    painter.DrawTextBlockW(text, std::u16string(1, kValueSeparator), x, h - 2 - inset - painter.GetLineHeight(),
                           innerW);
  } else {
    if (autoSize) {
      const double tw = painter.GetTextWidthW(text);
      if (tw > 0 && size > innerW / tw * size) {
        size = std::max(innerW / tw * size, 1.0);
        painter.SetFont(&font, size);
      }
    }
    if (comb) {
      painter.DrawCombText(text, maxLen, 0, h - 2 - inset, w, innerH);
    } else {
      painter.DrawTextW(text, x, (h - painter.GetLineHeight()) / 2 - painter.GetFontDescent());
    }
  }
}

bool TPDFField::storeAppearance(TPDFDictionary* widget, const std::string& painted, const std::string& fontName,
                                TPDFIndRef* fontRef) {
  std::string content = painted;
  if (content.substr(0, 3).find('q') == std::string::npos) content = "q " + content;
  if (content.size() < 3 || content.substr(content.size() - 3).find('Q') == std::string::npos) content += " Q";
  content = "/Tx BMC " + content + " EMC\n";

  // Our own stream from an earlier edit is written over; any other stream
  // (it may be shared with other widgets) is left alone and replaced.
  TPDFDictionary* ap = PDFAsDictionary(ResolveObject(widget->GetValue("AP")));
  TPDFIndRef* current = ap ? PDFAsIndRef(ap->GetValue("N")) : nullptr;
  TPDFStream* stream = nullptr;
  TPDFIndRef* streamRef = nullptr;
  if (current && Form->OwnsAppearance(current->GetRefNumber())) {
    stream = PDFAsStream(Form->ResolveObject(current));
    if (stream) streamRef = current;
  }
  if (!stream) {
    stream = Pool->NewStream("", false);
    streamRef = Form->NewIndirectRef(stream);
    if (!streamRef) return false;
    Form->NoteOwnAppearance(streamRef->GetRefNumber());
  }
  TPDFDictionary* sd = stream->GetDictionary();
  sd->SetValue("Type", Pool->NewName("XObject"));
  sd->SetValue("Subtype", Pool->NewName("Form"));
  const double box[4] = {0, 0, Width, Height};
  sd->SetValue("BBox", Pool->NewRealArray(box));
  // The stream's own resources: the font it uses (and /DR's colour spaces),
  // copied, never /DR itself.
  TPDFDictionary* resources = Pool->NewDictionary();
  TPDFDictionary* fonts = Pool->NewDictionary();
  fonts->SetValue(fontName, Pool->NewIndRef(fontRef->GetRefNumber(), fontRef->GetRefGeneration()));
  resources->SetValue("Font", fonts);
  if (TPDFDictionary* dr = Form->GetDR(false)) {
    if (TPDFObject* cs = dr->GetValue("ColorSpace")) {
      try {
        resources->SetValue("ColorSpace", Pool->ParseObject(cs->WriteText()));
      } catch (const std::exception&) {
      }
    }
  }
  sd->SetValue("Resources", resources);
  stream->SetData(content, true);
  // A fresh /AP: a shared /AP dictionary must not change under other
  // widgets, and a down appearance would show the old value.
  TPDFDictionary* newAp = Pool->NewDictionary();
  newAp->SetValue("N", Pool->NewIndRef(streamRef->GetRefNumber(), streamRef->GetRefGeneration()));
  widget->SetValue("AP", newAp);
  return true;
}

double TPDFField::writeBorderAndBackground(TPDFPainter& painter, TPDFDictionary* widget, int32_t combCells, double h,
                                           double w) {
  double inset = 0, b = 0;
  std::string style;
  painter.SetFillColor(1, 1, 1);
  painter.SetLineColor(0, 0, 0);
  painter.SetLineWidth(1);
  std::vector<double> bg;
  bool background = false;
  bool borderColor = false;
  TPDFDictionary* mk = PDFAsDictionary(ResolveObject(widget->GetValue("MK")));
  auto numbers = [&](TPDFArray* a) {
    std::vector<double> v;
    for (TPDFObject* item : a->Items()) {
      TPDFNumeric* n = PDFAsNumeric(ResolveObject(item));
      v.push_back(n && std::isfinite(n->GetValue()) ? n->GetValue() : 0);
    }
    return v;
  };
  if (mk) {
    // An empty /BC or /BG is transparent: no border, no box.
    if (TPDFArray* bc = PDFAsArray(ResolveObject(mk->GetValue("BC"))); bc && bc->GetCount() > 0) {
      const std::vector<double> v = numbers(bc);
      b = 1;
      style = "S";
      borderColor = true;
      if (v.size() == 1) {
        TPDFName* cs = PDFAsName(ResolveObject(mk->GetValue("PavonaBCColorSpace")));
        if (cs)
          painter.SetLineColorSpace(cs->GetValue(), v[0]);
        else
          painter.SetLineColor(v[0], v[0], v[0]);
      } else if (v.size() == 3) {
        painter.SetLineColor(v[0], v[1], v[2]);
      } else if (v.size() >= 4) {
        painter.SetLineColorCMYK(v[0], v[1], v[2], v[3]);
      }
    }
    if (TPDFArray* a = PDFAsArray(ResolveObject(mk->GetValue("BG"))); a && a->GetCount() > 0) {
      bg = numbers(a);
      background = true;
      if (bg.size() == 1) {
        TPDFName* cs = PDFAsName(ResolveObject(mk->GetValue("PavonaBGColorSpace")));
        if (cs)
          painter.SetFillColorSpace(cs->GetValue(), bg[0]);
        else
          painter.SetFillColor(bg[0], bg[0], bg[0]);
      } else if (bg.size() == 3) {
        painter.SetFillColor(bg[0], bg[1], bg[2]);
      } else if (bg.size() >= 4) {
        painter.SetFillColorCMYK(bg[0], bg[1], bg[2], bg[3]);
      } else {
        background = false;
      }
    }
  }
  if (background) painter.DrawBox(true, false, 0, h, w, h);
  TPDFDictionary* bs = PDFAsDictionary(ResolveObject(widget->GetValue("BS")));
  if (bs) {
    if (TPDFNumeric* n = PDFAsNumeric(ResolveObject(bs->GetValue("W")))) {
      b = std::isfinite(n->GetValue()) ? std::clamp(n->GetValue(), 0.0, std::min(w, h) / 4) : 0;
    }
    if (TPDFName* s = PDFAsName(ResolveObject(bs->GetValue("S")))) style = s->GetValue();
  }
  // Without a border colour (no /BC, or an empty one) the border is
  // transparent, whatever /BS says.
  if (!borderColor || style.empty()) b = 0;
  painter.SetLineWidth(b > 0 ? b : 1);
  if (b > 0) {
    inset = b;
    if (GetFieldKind() == pdffkText) {
      b = 1;
      inset = 0;
      painter.SetLineWidth(1);
    }
    auto strokeRect = [&] { painter.DrawBox(false, true, b / 2, h - b / 2, w - b, h - b); };
    auto polygon = [&](std::initializer_list<std::pair<double, double>> points) {
      bool first = true;
      for (const auto& p : points) {
        if (first)
          painter.MoveTo(p.first, p.second);
        else
          painter.LineTo(p.first, p.second);
        first = false;
      }
      painter.ClosePath();
      painter.PaintPath(true, false);
    };
    if (style == "D") {
      TPDFArray* d = bs ? PDFAsArray(ResolveObject(bs->GetValue("D"))) : nullptr;
      if (d && d->GetCount() == 2) {
        painter.SetLineDash(numberOf(ResolveObject(d->GetItem(0))), numberOf(ResolveObject(d->GetItem(1))));
      } else {
        painter.SetLineDash(3, 3);
      }
      strokeRect();
    } else if (style == "U") {
      painter.DrawLine(0, b / 2, w, b / 2);
    } else if (style == "B" || style == "I") {
      inset = 3 * b;
      strokeRect();
      if (style == "B")
        painter.SetFillColor(1, 1, 1);
      else
        painter.SetFillColor(0.5, 0.5, 0.5);
      polygon({{b, h - b}, {w - b, h - b}, {w - 2 * b, h - 2 * b}, {2 * b, h - 2 * b}, {2 * b, 2 * b}, {b, b}});
      if (style == "B") {
        // The shade of the background: darker by the same factor in every
        // colour model (in CMYK by raising black, not by halving inks,
        // which would lighten it).
        if (bg.size() >= 4) {
          painter.SetFillColorCMYK(bg[0], bg[1], bg[2], 1 - 0.7 * (1 - std::clamp(bg[3], 0.0, 1.0)));
        } else if (bg.size() == 3) {
          painter.SetFillColor(bg[0] * 0.7, bg[1] * 0.7, bg[2] * 0.7);
        } else {
          painter.SetFillColor(1, 1, 1);
        }
      } else {
        painter.SetFillColor(0.7, 0.7, 0.7);
      }
      polygon({{b, b}, {2 * b, 2 * b}, {w - 2 * b, 2 * b}, {w - 2 * b, h - 2 * b}, {w - b, h - b}, {w - b, b}});
    } else {
      strokeRect();
      for (int32_t t = 0; t < combCells; ++t) {
        if (t == 0) continue;  // the first divider would lie on the frame
        const double xLine = w * t / combCells;
        painter.DrawLine(xLine, b / 2, xLine, h - b);
      }
    }
  }
  return inset;
}
