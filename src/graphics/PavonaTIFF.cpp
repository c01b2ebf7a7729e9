#include "graphics/PavonaTIFF.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <set>

namespace {

constexpr uint32_t kFieldSizes[13] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8};

int32_t clampInt32(int64_t v) { return static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX)); }

int32_t roundDpi(double v) {
  if (!std::isfinite(v)) return 0;
  double r = std::nearbyint(v);
  return static_cast<int32_t>(std::clamp(r, -2147483648.0, 2147483647.0));
}

}  // namespace

uint16_t TPDFTIFF::get16(std::string_view data, size_t at) const {
  auto b0 = static_cast<uint8_t>(data[at]), b1 = static_cast<uint8_t>(data[at + 1]);
  return bigEndian_ ? static_cast<uint16_t>((b0 << 8) | b1) : static_cast<uint16_t>((b1 << 8) | b0);
}

uint32_t TPDFTIFF::get32(std::string_view data, size_t at) const {
  uint32_t v = 0;
  for (int i = 0; i < 4; ++i) {
    uint32_t b = static_cast<uint8_t>(data[at + (bigEndian_ ? i : 3 - i)]);
    v = (v << 8) | b;
  }
  return v;
}

bool TPDFTIFF::readEntry(std::string_view data, size_t at, TTIFFEntry& entry) const {
  entry = TTIFFEntry();
  entry.Tag = get16(data, at);
  entry.FieldType = get16(data, at + 2);
  entry.Count = get32(data, at + 4);
  entry.ValueOrOffset = get32(data, at + 8);
  if (entry.Count == 0) {
    entry.Integers.push_back(0);
    entry.Reals.push_back(0);
    return true;
  }
  if (entry.FieldType < 1 || entry.FieldType > 12) return true;  // no values
  const uint32_t size = kFieldSizes[entry.FieldType];
  const uint64_t total = uint64_t{entry.Count} * size;
  size_t start = at + 8;
  if (total >= 5) {
    start = entry.ValueOrOffset;
    // Values outside the data: the entry is skipped.
    if (start > data.size() || total > data.size() - start) return false;
  }
  const size_t count = entry.Count;
  auto byteAt = [&](size_t i) { return static_cast<uint8_t>(data[start + i]); };
  switch (entry.FieldType) {
    case 2:  // ASCII
      entry.Text.assign(data.substr(start, count - 1));
      break;
    case 7:  // UNDEFINED
      entry.Text.assign(data.substr(start, count));
      break;
    case 1: case 6:
      entry.Integers.reserve(count);
      for (size_t i = 0; i < count; ++i)
        entry.Integers.push_back(entry.FieldType == 6 ? static_cast<int8_t>(byteAt(i)) : byteAt(i));
      break;
    case 3: case 8:
      entry.Integers.reserve(count);
      for (size_t i = 0; i < count; ++i) {
        uint16_t v = get16(data, start + 2 * i);
        entry.Integers.push_back(entry.FieldType == 8 ? static_cast<int16_t>(v) : v);
      }
      break;
    case 4: case 9:
      entry.Integers.reserve(count);
      for (size_t i = 0; i < count; ++i) {
        uint32_t v = get32(data, start + 4 * i);
        entry.Integers.push_back(entry.FieldType == 9 ? static_cast<int32_t>(v) : static_cast<int64_t>(v));
      }
      break;
    case 5: case 10:
      entry.Reals.reserve(count);
      for (size_t i = 0; i < count; ++i) {
        uint32_t num = get32(data, start + 8 * i), den = get32(data, start + 8 * i + 4);
        double value = 0;
        if (entry.FieldType == 5) {
          value = den == 0 ? 0.0 : static_cast<double>(num) / den;
        } else {
          int32_t n = static_cast<int32_t>(num), d = static_cast<int32_t>(den);
          value = d == 0 ? 0.0 : static_cast<double>(n) / d;
        }
        entry.Reals.push_back(value);
      }
      break;
    case 11:
      entry.Reals.reserve(count);
      for (size_t i = 0; i < count; ++i) {
        uint32_t bits = get32(data, start + 4 * i);
        float f;
        std::memcpy(&f, &bits, 4);
        entry.Reals.push_back(f);
      }
      break;
    case 12:
      entry.Reals.reserve(count);
      for (size_t i = 0; i < count; ++i) {
        uint64_t hi = get32(data, start + 8 * i), lo = get32(data, start + 8 * i + 4);
        uint64_t bits = bigEndian_ ? (hi << 32) | lo : (lo << 32) | hi;
        double d;
        std::memcpy(&d, &bits, 8);
        entry.Reals.push_back(d);
      }
      break;
  }
  return true;
}

void TPDFTIFF::LoadFromStream(TStream& stream) {
  stream.SetPosition(0);
  std::string data = stream.ReadAll();
  LoadFromString(data);
}

void TPDFTIFF::LoadFromString(std::string_view data) {
  Valid = false;
  Pages.clear();
  PageCount = 0;
  IFDPointers.clear();
  FirstIFDPointerOffset = 4;
  if (data.size() < 8) return;
  if (data.substr(0, 2) == "II") {
    bigEndian_ = false;
  } else if (data.substr(0, 2) == "MM") {
    bigEndian_ = true;
  } else {
    return;
  }
  if (get16(data, 2) != 42) return;
  Valid = true;
  IFDPointers.emplace_back(data.substr(4, 4));

  // Walk the chain first: it ends at offset 0, at an offset outside the
  // data, at an IFD that does not fit, or where it comes back to an IFD
  // already seen.
  std::vector<size_t> offsets;
  std::set<uint32_t> seen;
  uint32_t offset = get32(data, 4);
  while (offset != 0 && offsets.size() < kMaxPages) {
    if (!seen.insert(offset).second) break;
    if (offset > data.size() || data.size() - offset < 2) break;
    const uint16_t count = get16(data, offset);
    if (count == 0) break;
    const uint64_t end = uint64_t{offset} + 2 + uint64_t{count} * 12;
    if (end > data.size()) break;
    offsets.push_back(offset);
    if (data.size() - end < 4) break;  // no next pointer: the chain ends here
    offset = get32(data, static_cast<size_t>(end));
  }

  // Strips are copied out of the file; a budget keeps IFDs that share one
  // large strip from multiplying memory.
  uint64_t stripBudget = uint64_t{data.size()} * 2 + (uint64_t{1} << 20);

  for (size_t ifd : offsets) {
    TTIFFPage page;
    page.Compression = tcUnknown;
    std::vector<int64_t> stripOffsets, stripLengths;
    double resX = 0, resY = 0;
    int64_t unit = 2;
    const uint16_t count = get16(data, ifd);
    TTIFFEntry e;
    for (uint16_t i = 0; i < count; ++i) {
      if (!readEntry(data, ifd + 2 + size_t{i} * 12, e)) continue;
      const int64_t first = e.Integers.empty() ? 0 : e.Integers[0];
      switch (e.Tag) {
        case 256: page.Width = clampInt32(first); break;
        case 257: page.Height = clampInt32(first); break;
        case 258: page.BitsPerSample = clampInt32(first); break;
        case 259:
          switch (first) {
            case 1: page.Compression = tcNone; break;
            case 3: page.Compression = tcCCITTGroup3; break;
            case 4: page.Compression = tcCCITTGroup4; break;
            case 5: page.Compression = tcLZW; break;
            // Old-style JPEG (6) is not a JPEG stream a DCT decoder can
            // take; it stays unknown.
            case 7: page.Compression = tcJPEG; break;
            case 32773: page.Compression = tcPackBits; break;
            default: break;
          }
          break;
        case 262:
          if (first >= 0 && first <= 7) {
            page.Photometric = static_cast<uint8_t>(first);
            page.BlackIsZero = first == 1;
          }
          break;
        case 266: page.FillOrder = clampInt32(first); break;
        case 273: stripOffsets = e.Integers; break;
        case 277: page.SamplesPerPixel = clampInt32(first); break;
        case 278:
          page.RowsPerStrip = clampInt32(first);
          if (stripOffsets.size() == 1 && first <= 1) page.RowsPerStrip = page.Height;
          // The "whole image in one strip" value 2^32 - 1 and anything past
          // the height mean the height.
          if (page.Height > 0 && (first > page.Height || first <= 0)) page.RowsPerStrip = page.Height;
          break;
        case 279: stripLengths = e.Integers; break;
        case 282: resX = e.Reals.empty() ? 0 : e.Reals[0]; break;
        case 283: resY = e.Reals.empty() ? 0 : e.Reals[0]; break;
        case 284:
          if (first == 2) page.SeparatePlanes = true;
          break;
        case 292:
          if (page.Compression == tcCCITTGroup3) {
            if (first & 1) page.Compression = tcCCITTGroup3_2D;
            page.FillBits = (first & 4) != 0;
          }
          break;
        case 296: unit = first; break;
        case 317: page.Predictor = clampInt32(first); break;
        case 320: page.ColorMap = e.Integers; break;
        default: break;
      }
    }
    if (ifd + 2 + size_t{count} * 12 + 4 <= data.size())
      IFDPointers.emplace_back(data.substr(ifd + 2 + size_t{count} * 12, 4));

    stripLengths.resize(stripOffsets.size(), 0);
    page.Strips.reserve(stripOffsets.size());
    bool overBudget = false;
    for (size_t s = 0; s < stripOffsets.size(); ++s) {
      const int64_t at = stripOffsets[s];
      int64_t length = std::max<int64_t>(stripLengths[s], 0);
      if (at < 0 || static_cast<uint64_t>(at) >= data.size()) {
        page.Strips.emplace_back();
        continue;
      }
      length = std::min<int64_t>(length, static_cast<int64_t>(data.size()) - at);
      if (static_cast<uint64_t>(length) > stripBudget) {
        overBudget = true;
        break;
      }
      stripBudget -= static_cast<uint64_t>(length);
      page.Strips.emplace_back(data.substr(static_cast<size_t>(at), static_cast<size_t>(length)));
    }
    if (overBudget) break;
    if (unit == 3) {
      page.DpiX = roundDpi(resX * 2.54);
      page.DpiY = roundDpi(resY * 2.54);
    } else {
      page.DpiX = roundDpi(resX);
      page.DpiY = roundDpi(resY);
    }
    if (page.BitsPerSample > 32) page.BitsPerSample = 0;
    if (page.BitsPerSample == 0 && page.Compression == tcPackBits) page.BitsPerSample = 1;
    Pages.push_back(std::move(page));
  }
  PageCount = static_cast<int32_t>(Pages.size());
}

bool TPDFTIFF::GetPage(int32_t n, TTIFFPage& page) const {
  if (n < 1 || n > PageCount) return false;
  page = Pages[static_cast<size_t>(n - 1)];
  return true;
}

// ---------------------------------------------------------------------------
// Writers

namespace {

void put16(std::string& out, size_t at, uint16_t v) {
  if (out.size() < at + 2) out.resize(at + 2, '\0');
  out[at] = static_cast<char>(v);
  out[at + 1] = static_cast<char>(v >> 8);
}

void put32(std::string& out, size_t at, uint32_t v) {
  if (out.size() < at + 4) out.resize(at + 4, '\0');
  for (int i = 0; i < 4; ++i) out[at + i] = static_cast<char>(v >> (8 * i));
}

size_t roundUp32(size_t v) { return (v + 31) / 32 * 32; }

struct TEntry {
  uint16_t tag, type;
  uint32_t count, value;
};

// Writes the IFD (entries must be in tag order) at offset.
void writeIFD(std::string& out, size_t offset, const std::vector<TEntry>& entries) {
  put16(out, offset, static_cast<uint16_t>(entries.size()));
  size_t at = offset + 2;
  for (const TEntry& e : entries) {
    put16(out, at, e.tag);
    put16(out, at + 2, e.type);
    put32(out, at + 4, e.count);
    if (e.type == 3 && e.count == 1) {
      put16(out, at + 8, static_cast<uint16_t>(e.value));
      put16(out, at + 10, 0);
    } else {
      put32(out, at + 8, e.value);
    }
    at += 12;
  }
  put32(out, at, 0);
}

}  // namespace

void TPDFTIFFMaker::SaveToStream(TStream& stream) {
  std::string out(128, '\0');
  out += Data;
  size_t next = roundUp32(out.size());
  const bool withDpi = DpiX > 0 && DpiY > 0;
  const size_t resX = next, resY = next + 8;
  if (withDpi) {
    put32(out, resX, static_cast<uint32_t>(DpiX));
    put32(out, resX + 4, 1);
    put32(out, resY, static_cast<uint32_t>(DpiY));
    put32(out, resY + 4, 1);
  }
  const size_t ifd = roundUp32(next + 32);
  out[0] = 'I';
  out[1] = 'I';
  put16(out, 2, 42);
  put32(out, 4, static_cast<uint32_t>(ifd));

  std::vector<TEntry> e;
  e.push_back({256, 4, 1, static_cast<uint32_t>(Width)});
  e.push_back({257, 4, 1, static_cast<uint32_t>(Height)});
  e.push_back({258, 3, 1, 1});
  switch (Compression) {
    case tcCCITTGroup4: e.push_back({259, 3, 1, 4}); break;
    case tcLZW: e.push_back({259, 3, 1, 5}); break;
    case tcCCITTGroup3: case tcCCITTGroup3_2D: e.push_back({259, 3, 1, 3}); break;
    default: break;
  }
  e.push_back({262, 3, 1, BlackIsZero ? 1u : 0u});
  e.push_back({266, 3, 1, 1});
  e.push_back({273, 4, 1, 128});
  e.push_back({277, 3, 1, 1});
  e.push_back({278, 4, 1, static_cast<uint32_t>(Height)});
  e.push_back({279, 4, 1, static_cast<uint32_t>(Data.size())});
  if (withDpi) {
    e.push_back({282, 5, 1, static_cast<uint32_t>(resX)});
    e.push_back({283, 5, 1, static_cast<uint32_t>(resY)});
  }
  if (Compression == tcCCITTGroup3 || Compression == tcCCITTGroup3_2D)
    e.push_back({292, 4, 1, (FillBits ? 4u : 0u) + (Compression == tcCCITTGroup3_2D ? 1u : 0u)});
  if (Compression == tcCCITTGroup4) e.push_back({293, 4, 1, 0});
  if (withDpi) e.push_back({296, 3, 1, 2});
  writeIFD(out, ifd, e);

  entries_.clear();
  for (const TEntry& x : e) entries_.push_back({x.tag, x.type, x.count, x.value});
  stream.WriteString(out);
}

bool SaveBitmapAsTIFF(const TBitmap& bitmap, TStream& stream, int32_t dpi) {
  if (bitmap.Empty()) return false;
  const int width = bitmap.Width(), height = bitmap.Height();
  const TPixelFormat format = bitmap.PixelFormat();
  const bool palette = format == TPixelFormat::pf1bit || format == TPixelFormat::pf8bit;
  const bool alpha = format == TPixelFormat::pf32bit && bitmap.AlphaFormat() != TAlphaFormat::afIgnored;
  const int bits = format == TPixelFormat::pf1bit ? 1 : 8;
  const int samples = palette ? 1 : alpha ? 4 : 3;
  const size_t rowBytes = (static_cast<size_t>(width) * samples * bits + 7) / 8;

  // Pixel rows as TIFF wants them: palette indexes, or R, G, B (, A) with
  // straight alpha.
  std::string pixels;
  pixels.reserve(rowBytes * height);
  for (int y = 0; y < height; ++y) {
    const uint8_t* line = bitmap.ScanLine(y);
    if (palette) {
      pixels.append(reinterpret_cast<const char*>(line), rowBytes);
    } else if (format == TPixelFormat::pf24bit) {
      for (int x = 0; x < width; ++x) {
        pixels.push_back(static_cast<char>(line[3 * x + 2]));
        pixels.push_back(static_cast<char>(line[3 * x + 1]));
        pixels.push_back(static_cast<char>(line[3 * x]));
      }
    } else {
      for (int x = 0; x < width; ++x) {
        const uint8_t* p = line + 4 * x;
        uint8_t a = p[3];
        uint8_t rgb[3] = {p[2], p[1], p[0]};
        if (alpha && bitmap.AlphaFormat() == TAlphaFormat::afPremultiplied && a != 0 && a != 255) {
          for (uint8_t& c : rgb) c = static_cast<uint8_t>(std::min(255, (c * 255 + a / 2) / a));
        }
        pixels.append(reinterpret_cast<const char*>(rgb), 3);
        if (alpha) pixels.push_back(static_cast<char>(a));
      }
    }
  }

  // Layout: header, pixel data, then the extra values and the IFD.
  std::string out(8, '\0');
  out[0] = 'I';
  out[1] = 'I';
  put16(out, 2, 42);
  const size_t dataOffset = out.size();
  out += pixels;
  auto align = [&out]() {
    if (out.size() % 2) out.push_back('\0');
  };
  align();
  size_t bitsOffset = 0;
  if (samples > 1) {
    bitsOffset = out.size();
    for (int s = 0; s < samples; ++s) put16(out, out.size(), 8);
  }
  size_t mapOffset = 0;
  if (palette) {
    // ColorMap: all reds, then greens, then blues, 16 bits each.
    const int entries = 1 << bits;
    const auto& pal = bitmap.Palette();
    mapOffset = out.size();
    std::string map(static_cast<size_t>(entries) * 6, '\0');
    for (int i = 0; i < entries; ++i) {
      TRGBQuad q = static_cast<size_t>(i) < pal.size() ? pal[i] : TRGBQuad();
      put16(map, 2 * i, static_cast<uint16_t>(q.rgbRed * 257));
      put16(map, 2 * (entries + i), static_cast<uint16_t>(q.rgbGreen * 257));
      put16(map, 2 * (2 * entries + i), static_cast<uint16_t>(q.rgbBlue * 257));
    }
    out += map;
  }
  size_t resOffset = 0;
  if (dpi > 0) {
    resOffset = out.size();
    put32(out, resOffset, static_cast<uint32_t>(dpi));
    put32(out, resOffset + 4, 1);
    put32(out, resOffset + 8, static_cast<uint32_t>(dpi));
    put32(out, resOffset + 12, 1);
  }
  align();
  const size_t ifd = out.size();
  put32(out, 4, static_cast<uint32_t>(ifd));

  std::vector<TEntry> e;
  e.push_back({256, 4, 1, static_cast<uint32_t>(width)});
  e.push_back({257, 4, 1, static_cast<uint32_t>(height)});
  if (samples > 1) {
    e.push_back({258, 3, static_cast<uint32_t>(samples), static_cast<uint32_t>(bitsOffset)});
  } else {
    e.push_back({258, 3, 1, static_cast<uint32_t>(bits)});
  }
  e.push_back({259, 3, 1, 1});
  e.push_back({262, 3, 1, palette ? 3u : 2u});
  e.push_back({273, 4, 1, static_cast<uint32_t>(dataOffset)});
  e.push_back({277, 3, 1, static_cast<uint32_t>(samples)});
  e.push_back({278, 4, 1, static_cast<uint32_t>(height)});
  e.push_back({279, 4, 1, static_cast<uint32_t>(pixels.size())});
  if (dpi > 0) {
    e.push_back({282, 5, 1, static_cast<uint32_t>(resOffset)});
    e.push_back({283, 5, 1, static_cast<uint32_t>(resOffset + 8)});
  }
  e.push_back({284, 3, 1, 1});
  if (dpi > 0) e.push_back({296, 3, 1, 2});
  if (palette) e.push_back({320, 3, static_cast<uint32_t>(3 << bits), static_cast<uint32_t>(mapOffset)});
  if (alpha) e.push_back({338, 3, 1, 2});  // unassociated alpha
  writeIFD(out, ifd, e);
  stream.WriteString(out);
  return true;
}

std::string FilledBitMask(int32_t bitCount) {
  if (bitCount < 0) bitCount = 0;
  return std::string(static_cast<size_t>(bitCount / 8 + 1), '\xFF');
}
