// HTML-subset layout on arbitrary text: the first byte picks the box height
// (0: no limit), the rest is UTF-16BE markup, optionally with a state stack.
// Every layout must end; a returned rest is laid out again in a second box.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "objects/PavonaStructure.h"
#include "pages/PavonaFont.h"
#include "pages/PavonaHTMLRender.h"
#include "pages/PavonaPainter.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  TPDFStructure pool;
  int32_t next = 0;
  pool.OnGetObjectNumber = [&next](TPDFStructure*, TPDFObject*, int32_t& number, int32_t& generation) {
    number = ++next;
    generation = 0;
  };
  static const std::pair<const char*, int32_t> kFaces[4] = {
      {"Helvetica", 5}, {"Helvetica-Bold", 6}, {"Helvetica-Oblique", 8}, {"Helvetica-BoldOblique", 7}};
  std::unique_ptr<TPDFFont> fonts[4];
  for (int i = 0; i < 4; ++i) {
    fonts[i] = std::make_unique<TPDFFont>(&pool, std::string("H") + char('1' + i));
    fonts[i]->CreateStandardFont(kFaces[i].first, kFaces[i].second);
  }
  THTMLSettings settings;
  settings.RegularFont = fonts[0].get();
  settings.BoldFont = fonts[1].get();
  settings.ItalicFont = fonts[2].get();
  settings.BoldItalicFont = fonts[3].get();
  settings.Left = 50;
  settings.Top = 700;
  settings.Width = 1 + data[0] % 200;
  settings.TagAliases = {{"x", "font:size=20:color=red"}};
  const double height = (data[0] >> 4) * 20.0;
  const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
  TPDFPainter painter;
  THTMLRenderer renderer(&painter);
  std::string rest;
  try {
    renderer.DrawText(text, settings, rest, height, false);
    for (int round = 0; round < 3 && !rest.empty(); ++round) {
      const std::string again = rest;
      renderer.DrawText(again, settings, rest, height, round == 1);
    }
  } catch (const std::exception&) {
  }
  return 0;
}
