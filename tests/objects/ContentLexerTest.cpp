// The shared reader of content-stream tokens.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "objects/PavonaContentLexer.h"

namespace {

std::vector<std::string> Tokens(std::string_view text) {
  std::vector<std::string> out;
  size_t pos = 0;
  for (std::string_view t; !(t = NextContentToken(text, pos)).empty();) out.emplace_back(t);
  EXPECT_EQ(pos, text.size());
  return out;
}

TEST(ContentLexer, SplitsContentAsEveryInterpreterReadsIt) {
  struct TCase {
    std::string text;
    std::vector<std::string> tokens;
  } cases[] = {
      {"1 0 0 rg/F1 12 Tf", {"1", "0", "0", "rg", "/F1", "12", "Tf"}},
      {"% a comment (x) Tj\r(y)Tj", {"(y)", "Tj"}},
      {"(a (nested) \\) string)Tj", {"(a (nested) \\) string)", "Tj"}},
      {"[(a)-20<41>]TJ", {"[", "(a)", "-20", "<41>", "]", "TJ"}},
      {"/P <</MCID 3 /T (>>)>> BDC", {"/P", "<</MCID 3 /T (>>)>>", "BDC"}},
      {"/OC <</Name <41>>> BDC", {"/OC", "<</Name <41>>>", "BDC"}},
      {"/P <</A <3E3E> /B 1>> BDC", {"/P", "<</A <3E3E> /B 1>>", "BDC"}},
      {"(x)'", {"(x)", "'"}},
      // A regular token ends at every delimiter, closing ones included.
      {"12 Tf)Tj", {"12", "Tf", ")", "Tj"}},
      {"1 d0}{2", {"1", "d0", "}", "{", "2"}},
      {"/Im1>>", {"/Im1", ">", ">"}},
      {"1 2%c\n3", {"1", "2", "3"}},
      // Damaged content still ends: unterminated string, hex string and dictionary.
      {"(open", {"(open"}},
      {"<414", {"<414"}},
      {"<< /A (b", {"<< /A (b"}},
      {std::string("a\0b", 3), {"a", "b"}},
  };
  for (const TCase& c : cases) EXPECT_EQ(Tokens(c.text), c.tokens) << c.text;
}

}  // namespace
