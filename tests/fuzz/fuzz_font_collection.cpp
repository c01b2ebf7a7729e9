// Font collection: a font dictionary and the bytes of one stream. The input
// is the dictionary's PDF syntax (object 1), a NUL byte, then the stream
// data (object 2, with /Length1 /Length2 /Length3 of a third each). The
// dictionary may refer to itself, to the stream and to object 3, a copy of
// itself without the stream. A leading blank switches installed-font
// outlines on. Every code is then split, mapped to Unicode, measured and
// drawn.
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>

#include "FuzzGlyphCanvas.h"
#include "render/PavonaFontCollection.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  size_t split = input.find('\0');
  std::string_view dictText = input.substr(0, split);
  std::string_view program = split == std::string_view::npos ? std::string_view() : input.substr(split + 1);

  TPDFStructure pool;
  std::map<int32_t, TPDFObject*> objects;
  pool.OnLookupObject = [&objects](TPDFIndRef*, int32_t number, int32_t) -> TPDFObject* {
    auto it = objects.find(number);
    return it == objects.end() ? nullptr : it->second;
  };
  TPDFObject* font = pool.ParseObject(dictText);
  font->SetIndirect(1, 0);
  objects[1] = font;
  objects[3] = pool.ParseObject(dictText);
  const std::string third = std::to_string(program.size() / 3);
  TPDFDictionary* streamDict =
      PDFAsDictionary(pool.ParseObject("<< /Length1 " + third + " /Length2 " + third + " /Length3 " + third + " >>"));
  TPDFStream* stream = pool.NewStreamWith(std::string(program), streamDict);
  stream->SetIndirect(2, 0);
  objects[2] = stream;

  TPDFFontCollection fc;
  fc.LoadOutlines = !dictText.empty() && dictText[0] == ' ';
  fc.SelectFont(pool.NewIndRef(1, 0));
  fc.SelectFont(objects[3]);
  fc.SelectFont(pool.NewIndRef(1, 0));
  TPDFFontCollectionData* f = fc.CurrentFont;
  if (!f) return 0;
  TFuzzNullCanvas canvas;
  std::string all;
  for (int c = 0; c < 256; ++c) all += static_cast<char>(c);
  int drawn = 0;
  for (uint16_t code : fc.TextToCodes(all)) {
    fc.CodeToUnicode(code);
    double w = 0;
    f->GetCIDWidth(code, w);
    if (f->Rasterizer && drawn < 64) {
      ++drawn;
      std::string key = f->IsComposite ? "GID:" + std::to_string(f->GlyphIndexOfCode(code)) : f->GlyphNames[code & 0xFF];
      f->Rasterizer->DrawGlyph(&canvas, IdentityMatrix, key, 0, 0);
    }
  }
  return 0;
}
