// CFF programs (bare, CID-keyed or inside OpenType): the data is loaded and
// every glyph (up to 64) is translated and drawn by index.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "FuzzGlyphCanvas.h"
#include "render/PavonaType1.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TPDFType1Decoder dec;
  dec.LoadCFFData(std::string_view(reinterpret_cast<const char*>(data), size));
  TFuzzNullCanvas canvas;
  const auto& names = dec.GetGlyphNames();
  for (int32_t g = 0; g < names.GetCount() && g < 64; ++g) {
    dec.DrawGlyph(&canvas, IdentityMatrix, "GID:" + std::to_string(g), 0, 0);
    dec.DrawGlyph(&canvas, IdentityMatrix, names.GetString(g), 0, 0);
  }
  return 0;
}
