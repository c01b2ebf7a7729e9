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

// "##" and the six hex digits of a colour name (trimmed, any case); any other
// value is returned as it stands.
std::string ColorNameToHex(std::string_view value);
