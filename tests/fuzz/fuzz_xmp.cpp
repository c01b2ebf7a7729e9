// XMP metadata packets on arbitrary bytes: parsed, every mirrored property
// set (dates in both forms), and written out again. The written packet must
// parse once more. Crashes, hangs, leaks and entity blow-ups are looked for.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "document/PavonaXMP.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  TPavonaXMP xmp;
  if (!xmp.LoadFromString(bytes)) return 0;
  // Values are UTF-8 by contract: the first bytes taken as ASCII.
  std::string text(bytes.substr(0, 40));
  for (char& c : text) c = static_cast<char>(0x20 + (static_cast<uint8_t>(c) % 0x5F));
  xmp.SetTitle(text);
  xmp.SetCreator(text);
  xmp.SetDescription("d");
  xmp.SetKeywords(text);
  xmp.SetCreatorTool("t");
  xmp.SetProducer("p");
  xmp.SetCreateDate(text);
  xmp.SetModifyDate("D:20240102030405+01'00'");
  const std::string out = xmp.SaveToString();
  TPavonaXMP again;
  if (!out.empty() && !again.LoadFromString(out)) abort();
  return 0;
}
