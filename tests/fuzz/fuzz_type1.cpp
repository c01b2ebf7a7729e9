// Type 1 font programs: the first six bytes give Length1 and Length2 (three
// bytes each, taken modulo the data size); the rest is the program. Every
// glyph (up to 64) is translated and drawn.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "FuzzGlyphCanvas.h"
#include "render/PavonaType1.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 6) return 0;
  std::string_view program(reinterpret_cast<const char*>(data + 6), size - 6);
  int64_t n = static_cast<int64_t>(program.size()) + 1;
  int64_t l1 = ((data[0] << 16) | (data[1] << 8) | data[2]) % n;
  int64_t l2 = ((data[3] << 16) | (data[4] << 8) | data[5]) % n;
  TPDFType1Decoder dec;
  dec.SplitFontData(program, l1, l2, n);
  dec.ParseCleartext();
  dec.ParsePrivate();
  TFuzzNullCanvas canvas;
  const auto& names = dec.GetGlyphNames();
  for (int32_t g = 0; g < names.GetCount() && g < 64; ++g) dec.DrawGlyph(&canvas, IdentityMatrix, names.GetString(g), 0, 0);
  return 0;
}
