// The HTML subset the engine draws as page content: the parser that turns
// markup (UTF-16BE text) into a flat list of tags and word runs, and the
// colour names its attribute values may use.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "objects/PavonaExtra.h"

class THTMLElement {
public:
  explicit THTMLElement(int32_t startOffset) : StartOffset(startOffset) {}
  virtual ~THTMLElement() = default;
  THTMLElement(const THTMLElement&) = delete;
  THTMLElement& operator=(const THTMLElement&) = delete;
  // The element as text: a tag as "<name attr ...>" (8-bit), a word run as
  // its words joined by single spaces (UTF-16BE).
  virtual std::string AsText() const = 0;

  // 1-based byte offset of the element in the text that was tokenised.
  int32_t StartOffset;
};

class THTMLTag : public THTMLElement {
public:
  using THTMLElement::THTMLElement;
  std::string AsText() const override;

  // Lower case, with a leading "/" for end tags: "b", "/b", "font".
  std::string TagName;
  // One entry per attribute, lower case, name=value as written (a quoted
  // value keeps its quotes).
  TPavonaCaseSensitiveStringList AttrList;
};

class THTMLWords : public THTMLElement {
public:
  using THTMLElement::THTMLElement;
  std::string AsText() const override;

  // The run's words (UTF-16BE). An empty first entry: the run began with a
  // space; an empty last entry: it ended with one.
  TPavonaCaseSensitiveStringList WordList;
};

class THTMLParser {
public:
  // Frees every element.
  void Clear();
  // Appends the elements of a UTF-16BE text. A text that begins with the
  // state-stack prefix ("<stack><!--", optionally after FE FF) is tokenised
  // after its "</stack>"; without one it adds nothing.
  void Parse(std::string_view text);
  void Tokenize(std::string_view text);
  // A tag in UTF-16BE: the low byte of each character makes its 8-bit text.
  void AddWideTag(std::string_view tag, int32_t position);
  // An 8-bit tag text from "<" to ">".
  void AddTag(std::string_view tag, int32_t position);
  void AddWords(std::string_view words, int32_t position);

  bool WideText = false;
  std::vector<std::unique_ptr<THTMLElement>> ElementList;
};

class TPDFPainter;
class TPDFFont;

// What the painter hands the layout: the four preset fonts, the box (PDF
// user space, y up), the extra space below every line and tag aliases.
struct THTMLSettings {
  TPDFFont* RegularFont = nullptr;
  TPDFFont* BoldFont = nullptr;
  TPDFFont* ItalicFont = nullptr;
  TPDFFont* BoldItalicFont = nullptr;
  double Top = 0;
  double Left = 0;
  double Width = 0;
  double LineSpacing = 0;
  // (name, "tag:attr=value:attr=value"): every tag of that name becomes the
  // named tag with those attributes.
  std::vector<std::pair<std::string, std::string>> TagAliases;
  int32_t Reserved = 0;
};

// One open formatting tag.
struct THTMLStyle {
  TPDFFont* Font = nullptr;
  double Size = 10;
  std::string TextColor = "##000000";  // "##RRGGBB" or CMYK as eight hex digits
  std::string BackColor;               // same form; empty for none
  uint8_t Decoration = 0;              // 0 none, 1 underline, 2 double, 3 strikeout, 4 overline
  uint32_t Flags = 0;                  // bit 0 rounded background, 1 superscript, 2 subscript
  double LineSpacing = 0;
  std::string Link;
};

// A stretch of the line being assembled, in one style.
struct THTMLRun {
  TPDFFont* Font = nullptr;
  double Size = 0;
  std::u16string Text;
  double X = 0;  // from the box's left edge (indentation included)
  double Y = 0;  // top of the line
  double Width = 0;
  std::string TextColor;
  uint8_t Decoration = 0;
  std::string BackColor;
  uint32_t Flags = 0;
  double LineSpacing = 0;
  uint8_t Hyphen = 0;
  std::string Link;
};

// Lays out and draws HTML-subset text into a box through a page's painter.
class THTMLRenderer {
public:
  explicit THTMLRenderer(TPDFPainter* painter);
  // text: UTF-16BE, optionally prefixed by a state stack. Returns the height
  // used; rest receives what did not fit (state stack first), empty when all
  // did. maxHeight below 0.1 means no limit; hideText draws no text.
  double DrawText(std::string_view text, const THTMLSettings& settings, std::string& rest, double maxHeight,
                  bool hideText);

private:
  struct TLayout;
  void handleTag(TLayout& l, size_t index);
  void handleWords(TLayout& l, size_t index);
  void flushLine(TLayout& l, int32_t alignment);
  void push(TLayout& l, THTMLStyle style);
  void pop(TLayout& l);
  void selectTop(TLayout& l);
  void selectFont(TPDFFont* font, double size);
  void setTextColor(const std::string& color);
  void setFillColor(const std::string& color);
  void addPageLink(const std::string& target, double left, double top, double width, double height);
  bool roomFor(const TLayout& l) const;
  std::string writeState(const TLayout& l) const;
  void readState(TLayout& l, std::string_view text);

  TPDFPainter* painter_;
  THTMLParser parser_;
};

// The colour of an attribute value: quotes removed, "#RRGGBB" and colour
// names to "##RRGGBB"; eight hex digits stay CMYK; anything else is black.
std::string HTMLColorValue(std::string_view value);

// "##" and the six hex digits of a colour name (trimmed, any case); any other
// value is returned as it stands.
std::string ColorNameToHex(std::string_view value);
