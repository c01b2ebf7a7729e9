// The HTML-subset parser on small UTF-16BE texts: tags and attributes, word
// runs with their space and entity rules, the state-stack prefix, colour
// names, and hostile markup that must stay linear.
#include <gtest/gtest.h>

#include "pages/PavonaHTMLRender.h"

namespace {

std::string W(std::u16string_view text) {
  std::string out;
  for (char16_t c : text) {
    out += static_cast<char>(c >> 8);
    out += static_cast<char>(c & 0xFF);
  }
  return out;
}

std::string W(std::string_view ascii) {
  std::string out;
  for (char c : ascii) {
    out += '\0';
    out += c;
  }
  return out;
}

// "tag:name attr|attr" or "words:w1|w2" (words shown as their low bytes).
std::vector<std::string> Describe(const THTMLParser& p) {
  std::vector<std::string> out;
  for (const auto& e : p.ElementList) {
    std::string d;
    if (auto* t = dynamic_cast<const THTMLTag*>(e.get())) {
      d = "tag:" + t->TagName;
      for (int32_t i = 0; i < t->AttrList.GetCount(); ++i) d += (i ? "|" : " ") + t->AttrList.GetString(i);
    } else if (auto* w = dynamic_cast<const THTMLWords*>(e.get())) {
      d = "words:";
      for (int32_t i = 0; i < w->WordList.GetCount(); ++i) {
        if (i) d += "|";
        const std::string& word = w->WordList.GetString(i);
        for (size_t k = 1; k < word.size(); k += 2) d += word[k - 1] ? '?' : word[k];
      }
    }
    out.push_back(d);
  }
  return out;
}

std::vector<std::string> ParseAscii(std::string_view markup) {
  THTMLParser p;
  p.Parse(W(markup));
  return Describe(p);
}

}  // namespace

TEST(HTMLParser, TagsAndAttributes) {
  struct Case {
    const char* markup;
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      {"<BR/>", {"tag:br"}},
      {"<br />", {"tag:br"}},
      {"<FONT COLOR=Red size=3>x</font>", {"tag:font color=red|size=3", "words:x", "tag:/font"}},
      {"<font face=\"Times New Roman\" color=#FF0000>", {"tag:font face=\"times new roman\"|color=#ff0000"}},
      // A bare word before a later name=value is an entry; bare words after the last "=" are dropped.
      {"<p bare align=center tail>", {"tag:p bare|align=center"}},
      // An unclosed quote takes the rest of the tag.
      {"<font face=\"Arial size=3>", {"tag:font face=\"arial size=3"}},
      {"<unknown>", {"tag:unknown"}},
      {"a > b<b>c", {"words:a|>|b", "tag:b", "words:c"}},  // a stray ">" is text
      {"text <b", {"words:text|<b"}},                      // an unclosed "<" is text
  };
  for (const Case& c : cases) EXPECT_EQ(ParseAscii(c.markup), c.expected) << c.markup;
}

TEST(HTMLParser, WordRunsSpacesAndEntities) {
  struct Case {
    const char* markup;
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      {"one  two", {"words:one|two"}},
      {" one two ", {"words:|one|two|"}},
      {"one   two", {"words:one||two"}},
      {"one\ttwo\r\nthree", {"words:one|two||three"}},  // CR LF: two spaces, then one
      {"&lt;b&gt;bold&lt;/b&gt;", {"words:<b>bold</b>"}},
      {"fish &amp; chips", {"words:fish|&amp;|chips"}},
  };
  for (const Case& c : cases) EXPECT_EQ(ParseAscii(c.markup), c.expected) << c.markup;
  // &nbsp; becomes U+00A0 inside the word; offsets are 1-based bytes.
  THTMLParser p;
  p.Parse(W("<b>a&nbsp;b</b>"));
  ASSERT_EQ(p.ElementList.size(), 3u);
  auto* words = dynamic_cast<THTMLWords*>(p.ElementList[1].get());
  ASSERT_NE(words, nullptr);
  EXPECT_EQ(words->WordList.GetString(0), W(u"a\u00A0b"));
  EXPECT_EQ(p.ElementList[0]->StartOffset, 1);
  EXPECT_EQ(p.ElementList[1]->StartOffset, 7);
  EXPECT_EQ(p.ElementList[2]->StartOffset, 7 + 2 * 8);
  EXPECT_EQ(p.ElementList[0]->AsText(), "<b>");
  EXPECT_TRUE(p.WideText);
  // Non-Latin text stays UTF-16BE; a character whose low byte is "<" is not a tag.
  p.Clear();
  p.Parse(W(u"\u043C\u0438\u0440 \u013C"));  // U+013C has the low byte 0x3C
  ASSERT_EQ(p.ElementList.size(), 1u);
  words = dynamic_cast<THTMLWords*>(p.ElementList[0].get());
  ASSERT_NE(words, nullptr);
  EXPECT_EQ(words->AsText(), W(u"\u043C\u0438\u0440 \u013C"));
}

TEST(HTMLParser, StateStackPrefixIsSkipped) {
  const std::string stack = "<stack><!--00000000 N--></stack>";
  EXPECT_EQ(ParseAscii(stack + "<b>x"), (std::vector<std::string>{"tag:b", "words:x"}));
  THTMLParser p;
  p.Parse("\xFE\xFF" + W(stack + "y"));
  EXPECT_EQ(Describe(p), std::vector<std::string>{"words:y"});
  // Without its end the prefix swallows the text.
  EXPECT_TRUE(ParseAscii("<stack><!--00000000 N--><b>x").empty());
}

TEST(HTMLParser, ColourNames) {
  EXPECT_EQ(ColorNameToHex(" Navy "), "##000080");
  EXPECT_EQ(ColorNameToHex("red"), "##FF0000");
  EXPECT_EQ(ColorNameToHex("lightgrey"), "##D3D3D3");
  EXPECT_EQ(ColorNameToHex("yellowgreen"), "##9ACD32");
  EXPECT_EQ(ColorNameToHex("aliceblue"), "##F0F8FF");
  // Alternate spellings, unknown words and hex values stand as given.
  for (const char* v : {"grey", "lightgray", "#FF0000", "nosuchcolour", "", " 12"})
    EXPECT_EQ(ColorNameToHex(v), v) << v;
}

TEST(HTMLParser, HostileMarkupStaysLinear) {
  // A tag with 200,000 bare words and one "=" at the end, and 100,000 stray
  // "<" without ">": both parse in time proportional to their length (a
  // rescan per attribute or per "<" would not finish).
  std::string tag = "<p";
  for (int i = 0; i < 200000; ++i) tag += " a";
  tag += " x=1>";
  std::string opens(100000, '<');
  THTMLParser p;
  p.Parse(W(tag));
  ASSERT_EQ(p.ElementList.size(), 1u);
  EXPECT_EQ(dynamic_cast<THTMLTag*>(p.ElementList[0].get())->AttrList.GetCount(), 200001);
  p.Clear();
  p.Parse(W(opens + "a>" + opens));
  EXPECT_EQ(Describe(p).size(), 2u);
  // An odd trailing byte forms no character.
  p.Clear();
  p.Parse(W("ab") + "\x01");
  EXPECT_EQ(Describe(p), std::vector<std::string>{"words:ab"});
}
