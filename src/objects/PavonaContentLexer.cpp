#include "objects/PavonaContentLexer.h"

#include "objects/PavonaCharClass.h"

std::string_view NextContentToken(std::string_view text, size_t& pos) {
  const size_t n = text.size();
  for (;;) {
    while (pos < n && PDFIsWhite(text[pos])) ++pos;
    if (pos < n && text[pos] == '%') {  // comment to the end of the line
      while (pos < n && text[pos] != 10 && text[pos] != 13) ++pos;
      continue;
    }
    break;
  }
  if (pos >= n) return {};
  const size_t start = pos;
  const char c = text[pos];
  if (pos + 1 == n) {
    pos = n;
    return text.substr(start, 1);
  }
  if (c == '(') {
    int depth = 0;
    while (pos < n) {
      char b = text[pos++];
      if (b == '\\') {
        if (pos < n) ++pos;
      } else if (b == '(') {
        ++depth;
      } else if (b == ')') {
        if (--depth == 0) break;
      }
    }
    return text.substr(start, pos - start);
  }
  if (c == '<') {
    if (text[pos + 1] == '<') {
      // An inline dictionary (marked-content properties) runs to its
      // matching ">>", strings inside skipped.
      int depth = 0;
      while (pos < n) {
        if (text[pos] == '<' && pos + 1 < n && text[pos + 1] == '<') {
          ++depth;
          pos += 2;
        } else if (text[pos] == '>' && pos + 1 < n && text[pos + 1] == '>') {
          pos += 2;
          if (--depth == 0) break;
        } else if (text[pos] == '<') {
          // A hex string: its closing '>' is not half of a dictionary's end
          // ("<< /Name <41>>>").
          const size_t end = text.find('>', pos + 1);
          pos = end == std::string_view::npos ? n : end + 1;
        } else if (text[pos] == '(') {
          int d = 0;
          while (pos < n) {
            char b = text[pos++];
            if (b == '\\') {
              if (pos < n) ++pos;
            } else if (b == '(') {
              ++d;
            } else if (b == ')' && --d == 0) {
              break;
            }
          }
        } else {
          ++pos;
        }
      }
      return text.substr(start, pos - start);
    }
    size_t end = text.find('>', pos);
    pos = end == std::string_view::npos ? n : end + 1;
    return text.substr(start, pos - start);
  }
  // Quote operators, brackets and stray closing delimiters stand alone.
  if (c == '\'' || c == '[' || c == ']' || c == '{' || c == '}' || c == ')' || c == '>') {
    ++pos;
    return text.substr(start, 1);
  }
  ++pos;
  while (pos < n && PDFIsRegular(text[pos])) ++pos;
  return text.substr(start, pos - start);
}
