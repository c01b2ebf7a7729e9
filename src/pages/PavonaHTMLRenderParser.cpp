// The HTML-subset parser: UTF-16BE markup into tags and word runs. Every scan
// moves forward only, so hostile markup (huge tags, thousands of attributes)
// costs time in proportion to its length.
#include <algorithm>
#include <array>
#include <cctype>

#include "pages/PavonaHTMLRender.h"

namespace {

constexpr char16_t kSpace = u' ';

std::u16string FromUTF16BE(std::string_view bytes) {
  std::u16string out(bytes.size() / 2, u'\0');  // an odd last byte forms no character
  for (size_t i = 0; i < out.size(); ++i)
    out[i] = static_cast<char16_t>((static_cast<uint8_t>(bytes[2 * i]) << 8) | static_cast<uint8_t>(bytes[2 * i + 1]));
  return out;
}

std::string ToUTF16BE(std::u16string_view chars) {
  std::string out;
  out.reserve(chars.size() * 2);
  for (char16_t c : chars) {
    out += static_cast<char>(c >> 8);
    out += static_cast<char>(c & 0xFF);
  }
  return out;
}

std::string WideOf(std::string_view ascii) {
  std::string out;
  for (char c : ascii) {
    out += '\0';
    out += c;
  }
  return out;
}

// Byte offset of the first character c at or after character index from; npos when absent.
size_t FindChar(std::string_view text, char c, size_t from) {
  for (size_t i = from * 2; i + 1 < text.size(); i += 2)
    if (text[i] == '\0' && text[i + 1] == c) return i / 2;
  return std::string_view::npos;
}

// The CSS colour names (alternate "grey" spellings left out, "lightgrey"
// kept), sorted for binary search.
struct TColorName {
  std::string_view name;
  std::string_view hex;
};
constexpr std::array<TColorName, 140> kColorNames = {{
    {"aliceblue", "F0F8FF"},
    {"antiquewhite", "FAEBD7"},
    {"aqua", "00FFFF"},
    {"aquamarine", "7FFFD4"},
    {"azure", "F0FFFF"},
    {"beige", "F5F5DC"},
    {"bisque", "FFE4C4"},
    {"black", "000000"},
    {"blanchedalmond", "FFEBCD"},
    {"blue", "0000FF"},
    {"blueviolet", "8A2BE2"},
    {"brown", "A52A2A"},
    {"burlywood", "DEB887"},
    {"cadetblue", "5F9EA0"},
    {"chartreuse", "7FFF00"},
    {"chocolate", "D2691E"},
    {"coral", "FF7F50"},
    {"cornflowerblue", "6495ED"},
    {"cornsilk", "FFF8DC"},
    {"crimson", "DC143C"},
    {"cyan", "00FFFF"},
    {"darkblue", "00008B"},
    {"darkcyan", "008B8B"},
    {"darkgoldenrod", "B8860B"},
    {"darkgray", "A9A9A9"},
    {"darkgreen", "006400"},
    {"darkkhaki", "BDB76B"},
    {"darkmagenta", "8B008B"},
    {"darkolivegreen", "556B2F"},
    {"darkorange", "FF8C00"},
    {"darkorchid", "9932CC"},
    {"darkred", "8B0000"},
    {"darksalmon", "E9967A"},
    {"darkseagreen", "8FBC8F"},
    {"darkslateblue", "483D8B"},
    {"darkslategray", "2F4F4F"},
    {"darkturquoise", "00CED1"},
    {"darkviolet", "9400D3"},
    {"deeppink", "FF1493"},
    {"deepskyblue", "00BFFF"},
    {"dimgray", "696969"},
    {"dodgerblue", "1E90FF"},
    {"firebrick", "B22222"},
    {"floralwhite", "FFFAF0"},
    {"forestgreen", "228B22"},
    {"fuchsia", "FF00FF"},
    {"gainsboro", "DCDCDC"},
    {"ghostwhite", "F8F8FF"},
    {"gold", "FFD700"},
    {"goldenrod", "DAA520"},
    {"gray", "808080"},
    {"green", "008000"},
    {"greenyellow", "ADFF2F"},
    {"honeydew", "F0FFF0"},
    {"hotpink", "FF69B4"},
    {"indianred", "CD5C5C"},
    {"indigo", "4B0082"},
    {"ivory", "FFFFF0"},
    {"khaki", "F0E68C"},
    {"lavender", "E6E6FA"},
    {"lavenderblush", "FFF0F5"},
    {"lawngreen", "7CFC00"},
    {"lemonchiffon", "FFFACD"},
    {"lightblue", "ADD8E6"},
    {"lightcoral", "F08080"},
    {"lightcyan", "E0FFFF"},
    {"lightgoldenrodyellow", "FAFAD2"},
    {"lightgreen", "90EE90"},
    {"lightgrey", "D3D3D3"},
    {"lightpink", "FFB6C1"},
    {"lightsalmon", "FFA07A"},
    {"lightseagreen", "20B2AA"},
    {"lightskyblue", "87CEFA"},
    {"lightslategray", "778899"},
    {"lightsteelblue", "B0C4DE"},
    {"lightyellow", "FFFFE0"},
    {"lime", "00FF00"},
    {"limegreen", "32CD32"},
    {"linen", "FAF0E6"},
    {"magenta", "FF00FF"},
    {"maroon", "800000"},
    {"mediumaquamarine", "66CDAA"},
    {"mediumblue", "0000CD"},
    {"mediumorchid", "BA55D3"},
    {"mediumpurple", "9370DB"},
    {"mediumseagreen", "3CB371"},
    {"mediumslateblue", "7B68EE"},
    {"mediumspringgreen", "00FA9A"},
    {"mediumturquoise", "48D1CC"},
    {"mediumvioletred", "C71585"},
    {"midnightblue", "191970"},
    {"mintcream", "F5FFFA"},
    {"mistyrose", "FFE4E1"},
    {"moccasin", "FFE4B5"},
    {"navajowhite", "FFDEAD"},
    {"navy", "000080"},
    {"oldlace", "FDF5E6"},
    {"olive", "808000"},
    {"olivedrab", "6B8E23"},
    {"orange", "FFA500"},
    {"orangered", "FF4500"},
    {"orchid", "DA70D6"},
    {"palegoldenrod", "EEE8AA"},
    {"palegreen", "98FB98"},
    {"paleturquoise", "AFEEEE"},
    {"palevioletred", "DB7093"},
    {"papayawhip", "FFEFD5"},
    {"peachpuff", "FFDAB9"},
    {"peru", "CD853F"},
    {"pink", "FFC0CB"},
    {"plum", "DDA0DD"},
    {"powderblue", "B0E0E6"},
    {"purple", "800080"},
    {"red", "FF0000"},
    {"rosybrown", "BC8F8F"},
    {"royalblue", "4169E1"},
    {"saddlebrown", "8B4513"},
    {"salmon", "FA8072"},
    {"sandybrown", "F4A460"},
    {"seagreen", "2E8B57"},
    {"seashell", "FFF5EE"},
    {"sienna", "A0522D"},
    {"silver", "C0C0C0"},
    {"skyblue", "87CEEB"},
    {"slateblue", "6A5ACD"},
    {"slategray", "708090"},
    {"snow", "FFFAFA"},
    {"springgreen", "00FF7F"},
    {"steelblue", "4682B4"},
    {"tan", "D2B48C"},
    {"teal", "008080"},
    {"thistle", "D8BFD8"},
    {"tomato", "FF6347"},
    {"turquoise", "40E0D0"},
    {"violet", "EE82EE"},
    {"wheat", "F5DEB3"},
    {"white", "FFFFFF"},
    {"whitesmoke", "F5F5F5"},
    {"yellow", "FFFF00"},
    {"yellowgreen", "9ACD32"},
}};

}  // namespace

std::string THTMLTag::AsText() const {
  std::string out = "<" + TagName;
  for (int32_t i = 0; i < AttrList.GetCount(); ++i) out += " " + AttrList.GetString(i);
  return out + ">";
}

std::string THTMLWords::AsText() const {
  std::string out;
  for (int32_t i = 0; i < WordList.GetCount(); ++i) {
    if (i > 0) out += std::string("\0 ", 2);
    out += WordList.GetString(i);
  }
  return out;
}

void THTMLParser::Clear() {
  ElementList.clear();
}

void THTMLParser::Parse(std::string_view text) {
  WideText = true;
  static const std::string prefix = WideOf("<stack><!--");
  static const std::string bomPrefix = "\xFE\xFF" + prefix;
  static const std::string stackEnd = WideOf("</stack>");
  if (text.substr(0, prefix.size()) == prefix || text.substr(0, bomPrefix.size()) == bomPrefix) {
    for (size_t at = text.find(stackEnd); at != std::string_view::npos; at = text.find(stackEnd, at + 1))
      if (at % 2 == 0) {
        Tokenize(text.substr(at + stackEnd.size()));
        return;
      }
    return;  // a state prefix without its end: nothing to draw
  }
  Tokenize(text);
}

void THTMLParser::Tokenize(std::string_view text) {
  const size_t chars = text.size() / 2;
  size_t at = 0;  // characters consumed
  size_t lt = FindChar(text, '<', 0), gt = FindChar(text, '>', 0);
  while (at < chars) {
    if (lt != std::string_view::npos && lt < at) lt = FindChar(text, '<', at);
    if (gt != std::string_view::npos && gt < at) gt = FindChar(text, '>', at);
    const auto position = static_cast<int32_t>(std::min<size_t>(2 * at + 1, INT32_MAX));
    size_t take;
    if (lt != std::string_view::npos && gt != std::string_view::npos && lt < gt) {
      if (lt == at) {
        take = gt - at + 1;
        AddWideTag(text.substr(2 * at, 2 * take), position);
      } else {
        take = lt - at;
        AddWords(text.substr(2 * at, 2 * take), position);
      }
    } else if (lt != std::string_view::npos && gt != std::string_view::npos) {
      take = lt - at;  // a stray ">" before the next "<" is text
      AddWords(text.substr(2 * at, 2 * take), position);
    } else {
      take = chars - at;
      AddWords(text.substr(2 * at, 2 * take), position);
    }
    at += take;
  }
}

void THTMLParser::AddWideTag(std::string_view tag, int32_t position) {
  std::string narrow(tag.size() / 2, '\0');
  for (size_t i = 0; i < narrow.size(); ++i) narrow[i] = tag[2 * i + 1];
  AddTag(narrow, position);
}

void THTMLParser::AddTag(std::string_view tag, int32_t position) {
  auto element = std::make_unique<THTMLTag>(position);
  // The text between "<" and ">".
  std::string_view inner = tag;
  if (!inner.empty() && inner.front() == '<') inner.remove_prefix(1);
  if (!inner.empty() && inner.back() == '>') inner.remove_suffix(1);
  const size_t space = tag.find(' ');
  if (space == std::string_view::npos) {
    if (!inner.empty() && inner.back() == '/') inner.remove_suffix(1);
    element->TagName = LowerCaseA(inner);
  } else {
    const size_t nameEnd = inner.find(' ');
    element->TagName = LowerCaseA(inner.substr(0, nameEnd));
    const std::string attrs = TrimStr(inner.substr(nameEnd)) + " ";
    // Attributes are cut from the front while some "=" remains: a quoted value
    // runs through its closing quote (or, unclosed, to the end), any other
    // entry up to the next space. A bare word before a later name=value is an
    // entry of its own; bare words after the last "=" are dropped.
    size_t i = 0, eq = attrs.find('=');
    while (eq != std::string::npos) {
      while (i < attrs.size() && static_cast<uint8_t>(attrs[i]) <= ' ') ++i;
      if (i >= attrs.size()) break;
      if (eq < i) {
        eq = attrs.find('=', i);
        if (eq == std::string::npos) break;
      }
      size_t end;
      if (eq + 1 < attrs.size() && attrs[eq + 1] == '"') {
        size_t close = attrs.find('"', eq + 2);
        end = close == std::string::npos ? attrs.size() : close + 1;
      } else {
        end = attrs.find(' ', i);
        if (end == std::string::npos) end = attrs.size();
      }
      element->AttrList.Add(LowerCaseA(TrimStr(std::string_view(attrs).substr(i, end - i))));
      i = end;
    }
  }
  ElementList.push_back(std::move(element));
}

void THTMLParser::AddWords(std::string_view words, int32_t position) {
  auto element = std::make_unique<THTMLWords>(position);
  const std::u16string in = FromUTF16BE(words);
  std::u16string text;
  text.reserve(in.size());
  for (size_t i = 0; i < in.size(); ++i) {
    char16_t c = in[i];
    if (c == u'\t' || c == u'\n' || c == u'\r') c = kSpace;
    if (c == kSpace && i + 1 < in.size() && in[i + 1] == kSpace) {
      // Of two spaces the first goes; the walk goes on after the second.
      text += kSpace;
      ++i;
      continue;
    }
    if (c == u'&') {
      const std::u16string_view rest = std::u16string_view(in).substr(i);
      if (rest.starts_with(u"&lt;")) {
        text += u'<';
        i += 3;
        continue;
      }
      if (rest.starts_with(u"&gt;")) {
        text += u'>';
        i += 3;
        continue;
      }
      if (rest.starts_with(u"&nbsp;")) {
        text += u'\u00A0';
        i += 5;
        continue;
      }
    }
    text += c;
  }
  std::u16string_view rest = text;
  if (!rest.empty() && rest.front() == kSpace) {
    element->WordList.Add("");
    rest.remove_prefix(1);
  }
  for (size_t cut = rest.find(kSpace); cut != std::u16string_view::npos; cut = rest.find(kSpace)) {
    element->WordList.Add(ToUTF16BE(rest.substr(0, cut)));
    rest.remove_prefix(cut + 1);
  }
  if (!rest.empty()) element->WordList.Add(ToUTF16BE(rest));
  if (!text.empty() && text.back() == kSpace && text.size() > 1) element->WordList.Add("");
  ElementList.push_back(std::move(element));
}

std::string ColorNameToHex(std::string_view value) {
  const std::string key = LowerCaseA(TrimStr(value));
  if (key.empty() || key[0] < 'a' || key[0] > 'z') return std::string(value);
  auto it = std::lower_bound(kColorNames.begin(), kColorNames.end(), key,
                             [](const TColorName& entry, const std::string& k) { return entry.name < k; });
  if (it != kColorNames.end() && it->name == key) return "##" + std::string(it->hex);
  return std::string(value);
}
