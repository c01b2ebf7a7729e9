#include "render/PavonaResources.h"

#include <zlib.h>

std::string InflateProgramResource(int32_t id) {
  std::string_view packed = GetProgramResource(id);
  if (packed.empty()) return {};
  // Our own resources inflate to well under this; the cap only guards a damaged build.
  constexpr size_t kMaxInflated = 16u << 20;
  z_stream zs{};
  if (inflateInit(&zs) != Z_OK) return {};
  zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(packed.data()));
  zs.avail_in = static_cast<uInt>(packed.size());
  std::string out;
  char chunk[16384];
  int rc = Z_OK;
  while (rc == Z_OK) {
    zs.next_out = reinterpret_cast<Bytef*>(chunk);
    zs.avail_out = sizeof chunk;
    rc = inflate(&zs, Z_NO_FLUSH);
    out.append(chunk, sizeof chunk - zs.avail_out);
    if (out.size() > kMaxInflated) rc = Z_DATA_ERROR;
  }
  inflateEnd(&zs);
  if (rc != Z_STREAM_END) return {};
  return out;
}
