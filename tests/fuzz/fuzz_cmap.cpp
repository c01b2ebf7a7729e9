// CMap parser and binary CMap reader on arbitrary bytes: no crash, no hang,
// memory bounded by the input whatever ranges it claims.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "render/PavonaCMap.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  TPavonaCMapParser parser;
  auto map = parser.Parse(text);
  std::string value;
  for (uint32_t length = 1; length <= 4; ++length) {
    for (uint32_t code : {0u, 1u, 0x20u, 0x41u, 0xFFu, 0x8140u, 0xFFFFu, 0xFFFFFFFFu}) {
      map->LookupUnicode(length, code);
      map->LookupCID(length, code);
      map->EncodeCode(length, code, value);
    }
  }
  TPavonaCMap binary;
  binary.LoadFromString(text);
  binary.LookupUnicode(2, 0x41);
  binary.LookupCID(0, 0x8140);
  return 0;
}
