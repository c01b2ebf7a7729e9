// TrueType parser on arbitrary bytes: every glyph, character map, name and
// advance is read; damaged fonts give empty glyphs, never a crash, a hang or
// unbounded memory.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "render/PavonaTrueTypeParser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  TPDFTrueTypeParser parser;
  parser.LoadFromString(bytes);
  TPDFGlyphOutline outline;
  const int32_t glyphs = parser.GetGlyphCount() < 512 ? parser.GetGlyphCount() : 512;
  for (int32_t g = 0; g < glyphs; ++g) {
    parser.GetGlyphOutline(g, outline);
    parser.GetAdvance(g);
  }
  for (int32_t s = 0; s < parser.GetCmapSubtableCount() && s < 8; ++s) {
    for (uint32_t code : {0u, 0x20u, 0x41u, 0xFFu, 0xF041u, 0xFFFEu, 0x1F600u}) parser.CmapLookup(s, code);
    parser.CmapLookupLowByte(s, 0x41);
    parser.CmapCodeCount(s);
  }
  parser.FindGlyphName("A");
  std::string copy(bytes);
  TPDFTrueTypeParser::RebaseTableOffsets(copy, 12);
  return 0;
}
