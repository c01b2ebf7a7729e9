#include "graphics/PavonaJpeg2000Bitmap.h"

#include <openjpeg.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>

namespace {

// --- JP2 boxes ------------------------------------------------------------------

uint32_t BE32(std::string_view d, size_t at) {
  if (at + 4 > d.size()) return 0;
  return (uint32_t(uint8_t(d[at])) << 24) | (uint32_t(uint8_t(d[at + 1])) << 16) | (uint32_t(uint8_t(d[at + 2])) << 8) |
         uint8_t(d[at + 3]);
}
uint16_t BE16(std::string_view d, size_t at) {
  if (at + 2 > d.size()) return 0;
  return static_cast<uint16_t>((uint8_t(d[at]) << 8) | uint8_t(d[at + 1]));
}

struct TBox {
  std::string type;
  size_t start = 0;    // of the header
  size_t content = 0;  // of the content
  size_t end = 0;      // past the box
};

// The boxes in [from, to); stops at the first malformed header.
std::vector<TBox> Boxes(std::string_view d, size_t from, size_t to) {
  std::vector<TBox> boxes;
  size_t pos = from;
  while (pos + 8 <= to) {
    uint64_t len = BE32(d, pos);
    TBox b;
    b.type = std::string(d.substr(pos + 4, 4));
    b.start = pos;
    b.content = pos + 8;
    if (len == 1) {
      if (pos + 16 > to) break;
      len = (uint64_t(BE32(d, pos + 8)) << 32) | BE32(d, pos + 12);
      b.content = pos + 16;
    } else if (len == 0) {
      len = to - pos;
    }
    if (len < b.content - pos || len > to - pos) break;
    b.end = pos + static_cast<size_t>(len);
    boxes.push_back(b);
    pos = b.end;
  }
  return boxes;
}

const TBox* Find(const std::vector<TBox>& boxes, const char* type) {
  for (const auto& b : boxes)
    if (b.type == type) return &b;
  return nullptr;
}

// The enumerated colour space of the "colr" box in "jp2h" (0 when none).
uint32_t EnumeratedColourSpace(std::string_view d) {
  auto top = Boxes(d, 0, d.size());
  const TBox* h = Find(top, "jp2h");
  if (!h) return 0;
  auto inner = Boxes(d, h->content, h->end);
  const TBox* c = Find(inner, "colr");
  if (!c || c->end - c->content < 7 || d[c->content] != 1) return 0;
  return BE32(d, c->content + 3);
}

// --- memory streams for OpenJPEG --------------------------------------------------

struct TMemoryData {
  std::string_view in;
  std::string* out = nullptr;
  uint64_t pos = 0;
  uint64_t furthest = 0;  // bytes the decoder has taken
};

extern "C" OPJ_SIZE_T PvlJ2kRead(void* buffer, OPJ_SIZE_T n, void* user) {
  auto* m = static_cast<TMemoryData*>(user);
  if (m->pos >= m->in.size()) return static_cast<OPJ_SIZE_T>(-1);
  OPJ_SIZE_T k = static_cast<OPJ_SIZE_T>(std::min<uint64_t>(n, m->in.size() - m->pos));
  std::memcpy(buffer, m->in.data() + m->pos, k);
  m->pos += k;
  m->furthest = std::max(m->furthest, m->pos);
  return k;
}

extern "C" OPJ_SIZE_T PvlJ2kWrite(void* buffer, OPJ_SIZE_T n, void* user) {
  auto* m = static_cast<TMemoryData*>(user);
  if (m->out->size() < m->pos + n) m->out->resize(static_cast<size_t>(m->pos + n));
  std::memcpy(m->out->data() + m->pos, buffer, n);
  m->pos += n;
  return n;
}

extern "C" OPJ_OFF_T PvlJ2kSkip(OPJ_OFF_T n, void* user) {
  auto* m = static_cast<TMemoryData*>(user);
  uint64_t size = m->out ? UINT64_MAX : m->in.size();
  if (n < 0) {
    if (uint64_t(-n) > m->pos) return -1;
    m->pos -= uint64_t(-n);
    return n;
  }
  if (!m->out && m->pos + uint64_t(n) > size) {
    OPJ_OFF_T moved = static_cast<OPJ_OFF_T>(size - std::min(m->pos, size));
    m->pos = size;
    return moved > 0 ? moved : -1;
  }
  m->pos += uint64_t(n);
  return n;
}

extern "C" OPJ_BOOL PvlJ2kSeek(OPJ_OFF_T n, void* user) {
  auto* m = static_cast<TMemoryData*>(user);
  if (n < 0 || (!m->out && uint64_t(n) > m->in.size())) return OPJ_FALSE;
  m->pos = uint64_t(n);
  return OPJ_TRUE;
}

extern "C" void PvlJ2kQuiet(const char*, void*) {}

struct TCodecDeleter {
  void operator()(opj_codec_t* c) const { opj_destroy_codec(c); }
};
struct TStreamDeleter {
  void operator()(opj_stream_t* s) const { opj_stream_destroy(s); }
};
struct TImageDeleter {
  void operator()(opj_image_t* i) const { opj_image_destroy(i); }
};
using TCodec = std::unique_ptr<opj_codec_t, TCodecDeleter>;
using TOpjStream = std::unique_ptr<opj_stream_t, TStreamDeleter>;
using TImage = std::unique_ptr<opj_image_t, TImageDeleter>;

TOpjStream MemoryStream(TMemoryData& m, bool input) {
  TOpjStream s(opj_stream_create(1 << 16, input ? OPJ_TRUE : OPJ_FALSE));
  if (!s) return s;
  opj_stream_set_user_data(s.get(), &m, nullptr);
  if (input) {
    opj_stream_set_read_function(s.get(), PvlJ2kRead);
    opj_stream_set_user_data_length(s.get(), m.in.size());
  } else {
    opj_stream_set_write_function(s.get(), PvlJ2kWrite);
  }
  opj_stream_set_skip_function(s.get(), PvlJ2kSkip);
  opj_stream_set_seek_function(s.get(), PvlJ2kSeek);
  return s;
}

void Quiet(opj_codec_t* codec) {
  // OpenJPEG reports nothing of its own here.
  opj_set_info_handler(codec, PvlJ2kQuiet, nullptr);
  opj_set_warning_handler(codec, PvlJ2kQuiet, nullptr);
  opj_set_error_handler(codec, PvlJ2kQuiet, nullptr);
}

// OpenJPEG moves colour channels to their associated positions while reading
// "cdef"; the roles follow the components the same way.
void FollowChannelMoves(std::string_view d, std::vector<int32_t>& roles) {
  auto top = Boxes(d, 0, d.size());
  const TBox* h = Find(top, "jp2h");
  if (!h) return;
  auto inner = Boxes(d, h->content, h->end);
  const TBox* c = Find(inner, "cdef");
  if (!c) return;
  uint16_t n = BE16(d, c->content);
  if (c->content + 2 + size_t(n) * 6 > c->end) return;
  struct TEntry {
    uint16_t cn, typ, asoc;
  };
  std::vector<TEntry> e(n);
  for (uint16_t i = 0; i < n; ++i)
    e[i] = {BE16(d, c->content + 2 + i * 6u), BE16(d, c->content + 4 + i * 6u), BE16(d, c->content + 6 + i * 6u)};
  for (size_t i = 0; i < e.size(); ++i) {
    uint16_t cn = e[i].cn, asoc = e[i].asoc;
    if (cn >= roles.size() || asoc == 0 || asoc == 65535) continue;
    uint16_t acn = static_cast<uint16_t>(asoc - 1);
    if (acn >= roles.size() || cn == acn || e[i].typ != 0) continue;
    std::swap(roles[cn], roles[acn]);
    for (size_t j = i + 1; j < e.size(); ++j) {
      if (e[j].cn == cn)
        e[j].cn = acn;
      else if (e[j].cn == acn)
        e[j].cn = cn;
    }
  }
}

}  // namespace

// --- channel definitions --------------------------------------------------------

std::vector<int32_t> ReadJP2ChannelDefinitionBox(std::string_view d, uint32_t numComponents,
                                                 uint32_t enumeratedColourSpace, bool* present) {
  if (present) *present = false;
  auto top = Boxes(d, 0, d.size());
  const TBox* h = Find(top, "jp2h");
  if (!h) return {};
  auto inner = Boxes(d, h->content, h->end);
  const TBox* c = Find(inner, "cdef");
  if (!c) return {};
  if (present) *present = true;
  std::vector<int32_t> roles(numComponents, crNone);
  uint16_t n = BE16(d, c->content);
  // A box whose length does not match its entries still gives the entries it holds.
  for (uint32_t i = 0; i < n; ++i) {
    size_t at = c->content + 2 + size_t(i) * 6;
    if (at + 6 > c->end) break;
    uint16_t cn = BE16(d, at), typ = BE16(d, at + 2), asoc = BE16(d, at + 4);
    if (cn >= numComponents) continue;
    if (typ == 1 && asoc == 0) {
      roles[cn] = crOpacity;
    } else if (typ == 0 && asoc >= 1 && asoc <= 65534) {
      if (enumeratedColourSpace == 16 && asoc <= 3) roles[cn] = static_cast<int32_t>(asoc);
      if (enumeratedColourSpace == 17 && asoc == 1) roles[cn] = crLuminance;
      if (enumeratedColourSpace == 18 && asoc <= 3) roles[cn] = crLuminance + static_cast<int32_t>(asoc) - 1;
    }
  }
  return roles;
}

std::string WriteJP2ChannelDefinitionBox(const std::vector<int32_t>& roles) {
  if (roles.empty() || roles.size() > 0xFFFF) return {};
  for (int32_t r : roles)
    if (r < crRed || r > crOpacity) return {};
  auto be32 = [](uint32_t v) {
    return std::string{char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
  };
  auto be16 = [](uint32_t v) { return std::string{char(v >> 8), char(v)}; };
  std::string box = be32(8 + 2 + 6 * static_cast<uint32_t>(roles.size())) + "cdef" + be16(static_cast<uint32_t>(roles.size()));
  for (size_t i = 0; i < roles.size(); ++i) {
    int32_t r = roles[i];
    uint32_t assoc = r == crRed || r == crLuminance ? 1 : r == crGreen || r == crCb ? 2 : r == crBlue || r == crCr ? 3 : 0;
    box += be16(static_cast<uint32_t>(i)) + be16(r == crOpacity ? 1 : 0) + be16(assoc);
  }
  return box;
}

float Jpeg2000Rate(uint8_t quality, int width, int height, int components) {
  float x = float(width) * float(height) * float(components);
  float q = 115.0f - float(quality);
  return x / (x * (100.0f / (q * q)) + 550.0f + 142.0f * float(components - 1));
}

int DetectJpeg2000FileType(TStream& stream) {
  unsigned char sig[8] = {};
  int64_t n = stream.Read(sig, 8);
  if (n > 0) stream.Seek(-n, TSeekOrigin::soCurrent);
  static const unsigned char kJP2[8] = {0x00, 0x00, 0x00, 0x0C, 0x6A, 0x50, 0x20, 0x20};
  static const unsigned char kJ2K[4] = {0xFF, 0x4F, 0xFF, 0x51};
  if (n >= 8 && std::memcmp(sig, kJP2, 8) == 0) return 1;
  if (n >= 4 && std::memcmp(sig, kJ2K, 4) == 0) return 2;
  return 0;
}

// --- loading ------------------------------------------------------------------------

namespace {

// Reads the image and tile sizes from the codestream's SIZ marker (right
// after SOC, also inside a JP2 file's codestream box) and tells whether they
// are beyond what the data can hold. OpenJPEG allocates the parameters of
// every tile while it reads the header and the whole canvas before it finds
// the data missing, so a tiny codestream declaring millions of pixels in
// tens of thousands of tiles is refused before OpenJPEG sees it.
bool DeclaredSizeBeyondData(std::string_view bytes, int64_t maxPixels) {
  constexpr int64_t kFreePixels = int64_t(1) << 24;
  constexpr int64_t kMaxPixelsPerByte = int64_t(1) << 16;
  constexpr int64_t kFreeTiles = 4096;
  constexpr int64_t kMaxTilesPerByte = 16;
  const size_t at = bytes.find(std::string_view("\xFF\x4F\xFF\x51", 4));
  if (at == std::string_view::npos || bytes.size() - at < 4 + 40) return false;  // OpenJPEG judges the rest
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data() + at + 4);
  auto u32 = [&](size_t o) { return (int64_t(p[o]) << 24) | (int64_t(p[o + 1]) << 16) | (int64_t(p[o + 2]) << 8) | p[o + 3]; };
  const int64_t xsiz = u32(4), ysiz = u32(8), xo = u32(12), yo = u32(16);
  const int64_t xt = u32(20), yt = u32(24), xto = u32(28), yto = u32(32);
  const int64_t comps = (int64_t(p[36]) << 8) | p[37];
  if (xsiz <= xo || ysiz <= yo || xt <= 0 || yt <= 0 || xsiz <= xto || ysiz <= yto) return false;
  // Each side is checked before the product (two sides near 2^32 would
  // overflow it).
  if (xsiz - xo > maxPixels || ysiz - yo > maxPixels || (xsiz - xo) > maxPixels / (ysiz - yo)) return true;
  const int64_t pixels = (xsiz - xo) * (ysiz - yo);
  const int64_t size = static_cast<int64_t>(bytes.size());
  if (pixels > kFreePixels && pixels / kMaxPixelsPerByte > size) return true;
  // Tiles across and down are each below 2^32; their product and the
  // component count are compared by division, so nothing overflows.
  const int64_t across = (xsiz - xto + xt - 1) / xt, down = (ysiz - yto + yt - 1) / yt;
  const int64_t allowed = std::max(kFreeTiles, size * kMaxTilesPerByte) / std::max<int64_t>(comps, 1);
  return across > allowed || down > allowed || across * down > allowed;
}

// Decodes JP2 (type 1) or codestream (type 2) bytes. An image of more than
// maxPixels pixels, or whose components would need more than maxSamples
// samples, is refused after its header and before any sample is decoded.
// consumed tells how far the decoder read.
TImage DecodeImage(std::string_view bytes, int type, int64_t maxPixels, uint64_t& consumed,
                   bool paletteIndices = false) {
  constexpr uint32_t kMaxComponents = 16384;  // the codestream's own limit
  constexpr int64_t kMaxSamples = int64_t(1) << 29;
  TMemoryData mem;
  mem.in = bytes;
  TImage image;
  bool decoded = false, tooLarge = DeclaredSizeBeyondData(bytes, maxPixels);
  if (!tooLarge) {
    TCodec codec(opj_create_decompress(type == 1 ? OPJ_CODEC_JP2 : OPJ_CODEC_J2K));
    TOpjStream s = MemoryStream(mem, true);
    if (codec && s) {
      Quiet(codec.get());
      opj_dparameters_t params;
      opj_set_default_decoder_parameters(&params);
      // Indices stay indices: the file's palette, component mapping and
      // channel definitions would turn them into colours.
      if (paletteIndices) params.flags |= OPJ_DPARAMETERS_IGNORE_PCLR_CMAP_CDEF_FLAG;
      opj_image_t* raw = nullptr;
      if (opj_setup_decoder(codec.get(), &params) && opj_read_header(s.get(), codec.get(), &raw)) {
        image.reset(raw);
        const int64_t pixels = (int64_t(raw->x1) - raw->x0) * (int64_t(raw->y1) - raw->y0);
        tooLarge = pixels > maxPixels || raw->numcomps > kMaxComponents ||
                   (pixels > 0 && int64_t(raw->numcomps) > kMaxSamples / pixels);
        // A decode that fails leaves samples that must not be drawn.
        decoded = !tooLarge && opj_decode(codec.get(), s.get(), raw) && opj_end_decompress(codec.get(), s.get());
      } else if (raw) {
        image.reset(raw);
      }
    }
  }
  consumed = std::min<uint64_t>(mem.furthest, bytes.size());
  if (tooLarge) throw EJpeg2000Error("JPEG 2000 image too large");
  if (!decoded || !image) throw EJpeg2000Error("JPEG 2000 image decoding failed");
  return image;
}

}  // namespace

void TJpeg2000Bitmap::LoadFromStream(TStream& stream) {
  int type = DetectJpeg2000FileType(stream);
  if (type == 0) throw EJpeg2000Error("Unknown JPEG 2000 file type");
  int64_t start = stream.GetPosition();
  std::string bytes = stream.ReadAll();
  uint64_t consumed = 0;
  TImage image;
  try {
    image = DecodeImage(bytes, type, TBitmap::MaxPixels(), consumed);
  } catch (const EJpeg2000Error&) {
    stream.SetPosition(start + static_cast<int64_t>(consumed));
    throw;
  }
  stream.SetPosition(start + static_cast<int64_t>(consumed));

  opj_image_t* img = image.get();
  // Everything the file says about sizes is checked before use.
  if (img->numcomps < 1 || !img->comps || img->x1 <= img->x0 || img->y1 <= img->y0)
    throw EJpeg2000Error("JPEG 2000 image decoding failed");
  uint64_t width = uint64_t(img->x1) - img->x0, height = uint64_t(img->y1) - img->y0;
  if (width > INT32_MAX || height > INT32_MAX || width * height > uint64_t(TBitmap::MaxPixels()))
    throw EJpeg2000Error("JPEG 2000 image too large");
  uint32_t numcomps = img->numcomps;
  int bpp = numcomps == 3 ? 3 : numcomps == 4 ? 4 : 1;
  uint32_t used = bpp == 1 ? 1 : numcomps;
  for (uint32_t i = 0; i < used; ++i) {
    const opj_image_comp_t& c = img->comps[i];
    if (!c.data || c.w == 0 || c.h == 0 || c.dx == 0 || c.dy == 0 || c.prec < 1 || c.prec > 30)
      throw EJpeg2000Error("JPEG 2000 image decoding failed");
  }

  uint32_t enumcs = type == 1 ? EnumeratedColourSpace(bytes) : 0;
  int colourSpace = enumcs == 16 ? 1 : enumcs == 17 ? 2 : enumcs == 18 ? 3 : -1;
  std::vector<int32_t> roles;
  if (type == 1) {
    roles = ReadJP2ChannelDefinitionBox(bytes, numcomps, enumcs);
    FollowChannelMoves(bytes, roles);
  }
  roles.resize(numcomps, crNone);

  TBitmap bm(static_cast<int>(width), static_cast<int>(height),
             bpp == 3 ? TPixelFormat::pf24bit : bpp == 4 ? TPixelFormat::pf32bit : TPixelFormat::pf8bit);
  if (bpp == 1) {
    std::vector<TRGBQuad> gray(256);
    for (int v = 0; v < 256; ++v) gray[static_cast<size_t>(v)] = TRGBQuad{uint8_t(v), uint8_t(v), uint8_t(v), 0};
    bm.SetPalette(gray);
  }
  int W = bm.Width(), H = bm.Height();
  for (uint32_t i = 0; i < used; ++i) {
    const opj_image_comp_t& c = img->comps[i];
    int offset;
    switch (roles[i]) {
      case crRed:
        offset = 2;
        break;
      case crGreen:
      case crCb:
        offset = 1;
        break;
      case crBlue:
      case crCr:
        offset = 0;
        break;
      case crOpacity:
        offset = 3;
        break;
      case crLuminance:
        offset = colourSpace == 3 ? 2 : 0;
        break;
      default:
        offset = bpp == 1 ? 0 : static_cast<int>(numcomps - 1 - i);
        break;
    }
    if (offset >= bpp) offset = bpp - 1;
    int64_t maxValue = (int64_t(1) << c.prec) - 1;
    int64_t signedOffset = c.sgnd ? int64_t(1) << (c.prec - 1) : 0;
    auto sample = [&](int32_t s) -> uint8_t {
      int64_t v = int64_t(s) + signedOffset;
      if (c.prec == 8) return static_cast<uint8_t>(v & 0xFF);
      return static_cast<uint8_t>(std::clamp<int64_t>(v * 255 / maxValue, 0, 255));
    };
    int dx = static_cast<int>(std::min<uint32_t>(c.dx, static_cast<uint32_t>(W)));
    int dy = static_cast<int>(std::min<uint32_t>(c.dy, static_cast<uint32_t>(H)));
    // Component rows are c.w samples long; positions stay inside the bitmap.
    for (uint32_t y = 0; y < c.h; ++y) {
      int64_t py = int64_t(y) * dy;
      if (py >= H) break;
      uint8_t* row = bm.ScanLine(static_cast<int>(py));
      for (uint32_t x = 0; x < c.w; ++x) {
        int64_t px = int64_t(x) * dx;
        if (px >= W) break;
        uint8_t v = sample(c.data[size_t(y) * c.w + x]);
        for (int k = 0; k < dx && px + k < W; ++k) row[(px + k) * bpp + offset] = v;
      }
      for (int k = 1; k < dy && py + k < H; ++k) {
        uint8_t* dst = bm.ScanLine(static_cast<int>(py + k));
        for (int x = 0; x < W; ++x) dst[x * bpp + offset] = row[x * bpp + offset];
      }
    }
  }
  if (colourSpace == 3 && bpp >= 3) {
    for (int y = 0; y < H; ++y) {
      uint8_t* p = bm.ScanLine(y);
      for (int x = 0; x < W; ++x, p += bpp) {
        double Y = p[2], Cb = p[1] - 128.0, Cr = p[0] - 128.0;
        auto clamp = [](double v) { return static_cast<uint8_t>(std::clamp<double>(std::nearbyint(v), 0, 255)); };
        p[2] = clamp(Y + 1.402 * Cr);
        p[1] = clamp(Y - 0.34414 * Cb - 0.71414 * Cr);
        p[0] = clamp(Y + 1.772 * Cb);
      }
    }
  }
  if (bpp == 4) bm.SetAlphaFormat(TAlphaFormat::afDefined);
  static_cast<TBitmap&>(*this) = std::move(bm);
}

// --- components for callers of their own ----------------------------------------------

void DecodeJpeg2000Components(std::string_view data, int64_t maxPixels, TJpeg2000Components& out, bool paletteIndices) {
  out = TJpeg2000Components();
  int type = data.size() >= 8 && BE32(data, 0) == 12 && data.substr(4, 4) == "jP  " ? 1
             : data.size() >= 4 && BE32(data, 0) == 0xFF4FFF51u                  ? 2
                                                                                  : 0;
  if (type == 0) throw EJpeg2000Error("Unknown JPEG 2000 file type");
  uint64_t consumed = 0;
  TImage image = DecodeImage(data, type, maxPixels, consumed, paletteIndices);
  const opj_image_t* img = image.get();
  if (img->numcomps < 1 || !img->comps || img->x1 <= img->x0 || img->y1 <= img->y0)
    throw EJpeg2000Error("JPEG 2000 image decoding failed");
  const int64_t w = int64_t(img->x1) - img->x0, h = int64_t(img->y1) - img->y0;
  for (uint32_t i = 0; i < img->numcomps; ++i) {
    const opj_image_comp_t& c = img->comps[i];
    if (!c.data || c.w == 0 || c.h == 0 || c.dx == 0 || c.dy == 0 || c.prec < 1 || c.prec > 30)
      throw EJpeg2000Error("JPEG 2000 image decoding failed");
  }
  out.Width = static_cast<int>(w);
  out.Height = static_cast<int>(h);
  const uint32_t enumcs = type == 1 ? EnumeratedColourSpace(data) : 0;
  out.ColourSpace = enumcs == 16 ? 1 : enumcs == 17 ? 2 : enumcs == 18 ? 3 : -1;
  if (type == 1 && !paletteIndices) {
    out.Roles = ReadJP2ChannelDefinitionBox(data, img->numcomps, enumcs);
    FollowChannelMoves(data, out.Roles);
  }
  out.Roles.resize(img->numcomps, crNone);
  for (uint32_t i = 0; i < img->numcomps; ++i) {
    const opj_image_comp_t& c = img->comps[i];
    out.Alpha.push_back(static_cast<uint8_t>(std::min<uint32_t>(c.alpha, 2)));
    std::string plane(size_t(w * h), '\0');
    const int64_t maxValue = (int64_t(1) << c.prec) - 1;
    const int64_t signedOffset = c.sgnd ? int64_t(1) << (c.prec - 1) : 0;
    // Components that cover fewer pixels (subsampled, or short of the image's
    // edge) repeat their last sample.
    for (int64_t y = 0; y < h; ++y) {
      const int64_t cy = std::min<int64_t>(y / c.dy, int64_t(c.h) - 1);
      const OPJ_INT32* src = c.data + cy * c.w;
      char* dst = &plane[size_t(y * w)];
      for (int64_t x = 0; x < w; ++x) {
        const int64_t v = int64_t(src[std::min<int64_t>(x / c.dx, int64_t(c.w) - 1)]) + signedOffset;
        dst[x] = static_cast<char>(c.prec == 8      ? v & 0xFF
                                   : paletteIndices ? std::clamp<int64_t>(v, 0, 255)
                                                    : std::clamp<int64_t>(v * 255 / maxValue, 0, 255));
      }
    }
    out.Planes.push_back(std::move(plane));
  }
  // sYCC colour becomes RGB; the luminance and chroma planes are the first
  // three colour components.
  if (out.ColourSpace == 3 && out.Planes.size() >= 3) {
    std::string& Y = out.Planes[0];
    std::string& Cb = out.Planes[1];
    std::string& Cr = out.Planes[2];
    auto clamp = [](double v) { return static_cast<char>(std::clamp<double>(std::nearbyint(v), 0, 255)); };
    for (size_t i = 0; i < Y.size(); ++i) {
      const double y = uint8_t(Y[i]), cb = uint8_t(Cb[i]) - 128.0, cr = uint8_t(Cr[i]) - 128.0;
      Y[i] = clamp(y + 1.402 * cr);
      Cb[i] = clamp(y - 0.34414 * cb - 0.71414 * cr);
      Cr[i] = clamp(y + 1.772 * cb);
    }
    out.ColourSpace = 1;
  }
}

// --- saving -----------------------------------------------------------------------------

void TJpeg2000Bitmap::SaveToStream(TStream& stream) const {
  const TBitmap* src = this;
  TBitmap converted;
  if (PixelFormat() != TPixelFormat::pf24bit && PixelFormat() != TPixelFormat::pf32bit) {
    converted = static_cast<const TBitmap&>(*this);
    converted.SetPixelFormat(TPixelFormat::pf24bit);
    src = &converted;
  }
  int n = src->PixelFormat() == TPixelFormat::pf32bit ? 4 : 3;
  int W = src->Width(), H = src->Height();
  if (W <= 0 || H <= 0) throw EJpeg2000Error("Failed to create JPEG 2000 image struct for saving");
  opj_image_cmptparm_t parms[4];
  std::memset(parms, 0, sizeof parms);
  for (int i = 0; i < n; ++i) {
    parms[i].dx = parms[i].dy = 1;
    parms[i].w = static_cast<OPJ_UINT32>(W);
    parms[i].h = static_cast<OPJ_UINT32>(H);
    parms[i].prec = 8;
    parms[i].sgnd = 0;
  }
  TImage image(opj_image_create(static_cast<OPJ_UINT32>(n), parms, OPJ_CLRSPC_SRGB));
  if (!image) throw EJpeg2000Error("Failed to create JPEG 2000 image struct for saving");
  image->x0 = image->y0 = 0;
  image->x1 = static_cast<OPJ_UINT32>(W);
  image->y1 = static_cast<OPJ_UINT32>(H);
  static const int kByte[4] = {2, 1, 0, 3};
  for (int i = 0; i < n; ++i) {
    OPJ_INT32* data = image->comps[i].data;
    for (int y = 0; y < H; ++y) {
      const uint8_t* row = src->ScanLine(y);
      for (int x = 0; x < W; ++x) data[size_t(y) * size_t(W) + size_t(x)] = row[x * n + kByte[i]];
    }
  }
  if (n == 4) image->comps[3].alpha = 1;

  opj_cparameters_t params;
  opj_set_default_encoder_parameters(&params);
  params.tcp_numlayers = 1;
  params.cp_disto_alloc = 1;
  params.tcp_rates[0] = Lossless ? 0.0f : Jpeg2000Rate(Quality, W, H, n);
  // Six resolution levels need 32 pixels each way; smaller pictures get fewer.
  int levels = 6;
  while (levels > 1 && ((W >> (levels - 1)) == 0 || (H >> (levels - 1)) == 0)) --levels;
  params.numresolution = levels;

  std::string out;
  TMemoryData mem;
  mem.out = &out;
  bool ok = false;
  {
    TCodec codec(opj_create_compress(OPJ_CODEC_JP2));
    TOpjStream s = MemoryStream(mem, false);
    if (codec && s) {
      Quiet(codec.get());
      ok = opj_setup_encoder(codec.get(), &params, image.get()) && opj_start_compress(codec.get(), image.get(), s.get()) &&
           opj_encode(codec.get(), s.get()) && opj_end_compress(codec.get(), s.get());
    }
  }
  if (!ok) throw EJpeg2000Error("JPEG 2000 image encoding failed");

  // Channel roles: red, green, blue and, for 32 bits, opacity. OpenJPEG writes
  // a "cdef" box only for images with opacity; otherwise one is added as the
  // last box of the JP2 header.
  std::vector<int32_t> roles = {crRed, crGreen, crBlue};
  if (n == 4) roles.push_back(crOpacity);
  auto top = Boxes(out, 0, out.size());
  const TBox* h = Find(top, "jp2h");
  if (h && !Find(Boxes(out, h->content, h->end), "cdef") && h->content == h->start + 8) {
    std::string box = WriteJP2ChannelDefinitionBox(roles);
    uint32_t len = static_cast<uint32_t>(h->end - h->start + box.size());
    out.insert(h->end, box);
    out[h->start] = char(len >> 24);
    out[h->start + 1] = char(len >> 16);
    out[h->start + 2] = char(len >> 8);
    out[h->start + 3] = char(len);
  }
  stream.WriteString(out);
}
