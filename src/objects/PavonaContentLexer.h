// The one reader of content-stream tokens (page content, forms, appearance
// streams, Type 3 glyph procedures), shared by every interpreter so that all
// of them agree on where a token ends.
#pragma once

#include <cstddef>
#include <string_view>

// The next token of content text from pos (0-based), moving pos past it;
// empty at the end. White space and "%" comments are skipped. Strings
// "(...)" (nested, with escapes) and "<...>" run to their closing byte,
// dictionaries "<<...>>" to their matching ">>", "[", "]" and "'" stand
// alone; anything else runs to white space or a delimiter. An unterminated
// string or dictionary runs to the end of the text.
std::string_view NextContentToken(std::string_view text, size_t& pos);
