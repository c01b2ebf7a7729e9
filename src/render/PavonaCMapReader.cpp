// Parsing from the engine's byte reader; apart from the parser so that it
// alone needs the object layer.
#include "objects/PavonaBuffer.h"
#include "render/PavonaCMap.h"

std::unique_ptr<TPavonaCMap> TPavonaCMapParser::Parse(TPVLBuffer& reader) {
  reader.SetPosition(0);
  std::string text = reader.ReadBytes(reader.GetLength());
  return Parse(std::string_view(text));
}
