// The metafile converter's bitmap records: blits, stretches, masks,
// parallelograms, colour keys and alpha, each as an image XObject.
#include <algorithm>
#include <cmath>

#include "objects/PavonaFlate.h"
#include "pages/PavonaImage.h"
#include "pages/PavonaMetafile.h"
#include "pages/PavonaMetafileInternal.h"
#include "pages/PavonaPainter.h"
#include "platform/Dib.h"
#include "platform/EmfReader.h"

namespace {

// Raster operations whose bitmap keeps black out (K) or white out (W).
bool ropKeysBlack(uint32_t rop) {
  static const uint8_t kSet[] = {34, 38, 42, 46, 98, 102, 106, 110, 145, 162, 174, 226, 230, 234, 238};
  return std::find(std::begin(kSet), std::end(kSet), rop) != std::end(kSet);
}
bool ropKeysWhite(uint32_t rop) {
  return (rop >= 136 && rop <= 139) || (rop >= 152 && rop <= 155) || rop == 166 || rop == 168 || rop == 169 ||
         rop == 171 || (rop >= 184 && rop <= 187);
}

// The largest bitmap header with a full colour table: a 124-byte V5 header,
// three masks and 256 entries (a cap of 1064 bytes would cut V4/V5 palettes).
constexpr size_t kMaxHeader = 124 + 12 + 256 * 4;

// How a raster operation recolours a 1-bit source: the colour its black
// pixels and its white pixels take. k black, w white, c the brush colour,
// i its inverse, n near black (1, 0, 0), m near white (254, 255, 255).
struct TMonoRule {
  std::initializer_list<uint8_t> rops;
  char black, white;
};
const TMonoRule kMonoRules[] = {
    {{0, 1, 4, 5, 16, 17, 20, 21, 64, 65, 68, 69, 80, 81, 84, 85}, 'k', 'k'},
    {{2, 3, 6, 7, 18, 19, 22, 23, 66, 67, 70, 71, 82, 83, 86, 87}, 'i', 'k'},
    {{32, 33, 36, 37, 48, 49, 52, 53, 96, 97, 100, 101, 112, 113, 116, 117, 173}, 'c', 'k'},
    {{8, 9, 12, 13, 24, 25, 28, 29, 42, 46, 72, 73, 76, 77, 88, 89, 92, 93, 106, 110, 129}, 'k', 'i'},
    {{10, 11, 14, 15, 26, 27, 30, 31, 74, 75, 78, 79, 90, 91, 94, 95}, 'i', 'i'},
    {{34, 38, 98, 102}, 'k', 'n'},
    {{128, 132, 133, 144, 145, 148, 149, 162, 166, 192, 193, 196, 197, 208, 209, 212, 213, 226, 230}, 'k', 'c'},
    {{35, 50, 51, 54, 55, 99, 103, 114, 115, 118, 119}, 'w', 'k'},
    {{40, 41, 44, 45, 56, 57, 60, 61, 104, 105, 108, 109, 120, 121, 124, 125}, 'c', 'i'},
    {{43, 47, 58, 59, 107, 111, 122, 123, 126, 127}, 'w', 'i'},
    {{163, 167, 178, 179, 182, 183, 227, 231, 242, 243, 246, 247}, 'w', 'c'},
    {{62, 63, 138, 139, 142, 143, 154, 155, 158, 159, 202, 203, 206, 207, 218, 219, 222, 223}, 'i', 'w'},
    {{130, 131, 134, 135, 146, 147, 150, 151, 194, 195, 198, 199, 210, 211, 214, 215}, 'i', 'c'},
    {{152}, 'n', 'w'},
    {{168, 169, 172, 184, 185, 188, 189, 232, 233, 236, 237, 248, 249, 252, 253}, 'c', 'w'},
    {{160, 161, 164, 165, 176, 177, 180, 181, 224, 225, 228, 229, 240, 241, 244, 245}, 'c', 'c'},
    {{171, 186, 187}, 'm', 'w'},
    {{174}, 'k', 'm'},
    {{175, 190, 191, 235, 239, 250, 251, 254, 255}, 'w', 'w'},
};

// Recolours the pure black and pure white pixels of a 1-bit source.
void recolorMono(TDibImage& dib, uint32_t rop, uint8_t r, uint8_t g, uint8_t b) {
  const TMonoRule* rule = nullptr;
  for (const TMonoRule& m : kMonoRules)
    if (std::find(m.rops.begin(), m.rops.end(), rop) != m.rops.end()) rule = &m;
  if (!rule) return;
  // The brush colour is kept off pure black and white so keyed masks do not take it.
  if (r == 255 && g == 255 && b == 255) r = 254;
  if (r == 0 && g == 0 && b == 0) r = 1;
  auto colour = [&](char code, uint8_t* out) {
    switch (code) {
      case 'k': out[0] = out[1] = out[2] = 0; break;
      case 'w': out[0] = out[1] = out[2] = 255; break;
      case 'c': out[0] = r, out[1] = g, out[2] = b; break;
      case 'i': out[0] = uint8_t(255 - r), out[1] = uint8_t(255 - g), out[2] = uint8_t(255 - b); break;
      case 'n': out[0] = 1, out[1] = 0, out[2] = 0; break;
      default: out[0] = 254, out[1] = 255, out[2] = 255; break;
    }
  };
  uint8_t forBlack[3], forWhite[3];
  colour(rule->black, forBlack);
  colour(rule->white, forWhite);
  for (size_t i = 0; i < dib.Rgba.size(); i += 4) {
    uint8_t* p = &dib.Rgba[i];
    if (p[0] == 0 && p[1] == 0 && p[2] == 0)
      std::copy_n(forBlack, 3, p);
    else if (p[0] == 255 && p[1] == 255 && p[2] == 255)
      std::copy_n(forWhite, 3, p);
  }
}

}  // namespace

bool TPDFMetafile::imageFromRecord(const TEmfRecord& r, size_t offBmi, size_t cbBmi, size_t offBits, size_t cbBits,
                                   uint32_t usage, int64_t sx, int64_t sy, int64_t sw, int64_t sh, TDibImage& out) {
  if (cbBmi == 0 || cbBits == 0) return false;
  TDibImage dib;
  std::string error;
  if (!DecodeDib(r.Slice(offBmi, std::min(cbBmi, kMaxHeader)), r.Slice(offBits, cbBits), usage, dib, error))
    return false;
  if (dib.PassThroughKind) {
    out = std::move(dib);
    return true;
  }
  // The source rectangle, cut to the bitmap (rows counted from the top).
  if (sw < 0) sx += sw, sw = -sw;
  if (sh < 0) sy += sh, sh = -sh;
  const int64_t x0 = std::clamp<int64_t>(sx, 0, dib.Width), y0 = std::clamp<int64_t>(sy, 0, dib.Height);
  const int64_t x1 = std::clamp<int64_t>(sx + sw, 0, dib.Width), y1 = std::clamp<int64_t>(sy + sh, 0, dib.Height);
  if (x1 <= x0 || y1 <= y0) return false;
  if (x0 == 0 && y0 == 0 && x1 == dib.Width && y1 == dib.Height) {
    out = std::move(dib);
    return true;
  }
  out = TDibImage();
  out.Width = int32_t(x1 - x0);
  out.Height = int32_t(y1 - y0);
  out.BitsPerPixel = dib.BitsPerPixel;
  out.HasAlphaByte = dib.HasAlphaByte;
  out.Rgba.resize(size_t(out.Width) * size_t(out.Height) * 4);
  for (int64_t y = y0; y < y1; ++y)
    std::copy_n(dib.Pixel(int32_t(x0), int32_t(y)), size_t(out.Width) * 4, out.Pixel(0, int32_t(y - y0)));
  return true;
}

TPDFImage* TPDFMetafile::makeImage(const TDibImage& dib, bool alpha) {
  auto image = std::make_unique<TPDFImage>(pool_, "PavonaI" + newTag());
  image->Compress = true;
  try {
    if (dib.PassThroughKind) {
      TMemoryStream stream(dib.PassThrough);
      if (!image->LoadFromStream(stream, 0)) return nullptr;
    } else {
      TBitmap bitmap(dib.Width, dib.Height);
      for (int32_t y = 0; y < dib.Height; ++y) {
        uint8_t* row = bitmap.ScanLine(y);
        for (int32_t x = 0; x < dib.Width; ++x) {
          const uint8_t* px = dib.Pixel(x, y);
          row[x * 3] = px[2], row[x * 3 + 1] = px[1], row[x * 3 + 2] = px[0];
        }
      }
      image->LoadFromBitmap(bitmap, nullptr, false);
      if (alpha) {
        // Per-pixel alpha becomes a soft mask of its own.
        std::string samples(size_t(dib.Width) * size_t(dib.Height), '\0');
        for (size_t i = 0; i < samples.size(); ++i) samples[i] = char(dib.Rgba[i * 4 + 3]);
        TPDFDictionary* dict = pool_->NewDictionary();
        dict->SetValue("Type", pool_->NewName("XObject"));
        dict->SetValue("Subtype", pool_->NewName("Image"));
        dict->SetValue("Width", pool_->NewNumeric(dib.Width));
        dict->SetValue("Height", pool_->NewNumeric(dib.Height));
        dict->SetValue("ColorSpace", pool_->NewName("DeviceGray"));
        dict->SetValue("BitsPerComponent", pool_->NewNumeric(8));
        dict->SetValue("Filter", pool_->NewName("FlateDecode"));
        TPDFStream* mask = pool_->NewStreamWith(CompressString(samples), dict);
        int32_t number = 0, generation = 0;
        if (pool_->OnGetObjectNumber) pool_->OnGetObjectNumber(pool_, mask, number, generation);
        if (number > 0) image->SetMaskObject(number, generation, 2);
      }
    }
  } catch (const std::exception&) {
    return nullptr;
  }
  if (!image->GetObject()) return nullptr;
  lists_.Images.push_back(std::move(image));
  return lists_.Images.back().get();
}

// The image's unit square onto the logical rectangle, through the full
// transform (rotation and mirroring included).
void TPDFMetafile::drawImageAt(TPDFImage* image, int32_t x, int32_t y, int32_t w, int32_t h) {
  const double ex = MapX(x, double(y) + h), ey = MapY(x, double(y) + h);
  const double a = MapX(double(x) + w, double(y) + h) - ex, b = MapY(double(x) + w, double(y) + h) - ey;
  const double c = MapX(x, y) - ex, d = MapY(x, y) - ey;
  TPDFPainter& p = *painter_;
  p.WriteOp("q " + p.FormatNumber(a) + p.FormatNumber(b) + p.FormatNumber(c) + p.FormatNumber(d) +
            p.FormatNumber(ex) + p.FormatNumber(ey) + "cm /" + image->GetResourceName() + " Do Q");
}

void TPDFMetafile::fillBoxAt(int32_t x, int32_t y, int32_t w, int32_t h) {
  pathMove(x, y, false);
  pathLine(double(x) + w, y);
  pathLine(double(x) + w, double(y) + h);
  pathLine(x, double(y) + h);
  painter_->ClosePath();
  painter_->PaintPath(true, false);
}

std::span<const TPDFMetafile::TRecordHandler> TPDFMetafile::BitmapRecords() {
  using M = TPDFMetafile;
  using R = TEmfRecord;
  auto blt = [](M& m, const R& r) { m.bltRecord(r); };
  static const TRecordHandler table[] = {
      {76, 100, blt},  // BITBLT
      {77, 108, blt},  // STRETCHBLT
      {78, 128, blt},  // MASKBLT
      {81, 80, blt},   // STRETCHDIBITS
      {79, 140, [](M& m, const R& r) { m.plgBltRecord(r); }},
      {114, 108, [](M& m, const R& r) { m.alphaBlendRecord(r); }},
      {116, 108, [](M& m, const R& r) { m.transparentBltRecord(r); }},
  };
  return table;
}

// A blit whose source cannot be decoded (or that has none) paints what the
// raster operation paints without it: nothing, black, white or the brush.
void TPDFMetafile::fillWithoutBitmap(uint32_t rop, int32_t x, int32_t y, int32_t w, int32_t h) {
  if (rop == 170) return;
  if (rop == 0 || rop == 255) {
    const std::string keep = painter_->SaveTextState();
    painter_->SetFillColor(rop ? 1 : 0, rop ? 1 : 0, rop ? 1 : 0);
    fillBoxAt(x, y, w, h);
    restorePainterState(keep);
    return;
  }
  const uint32_t brush = state_->BrushColor & 0xFFFFFF;
  if ((ropKeysBlack(rop) && brush == 0) || (ropKeysWhite(rop) && brush == 0xFFFFFF)) return;
  fillBoxAt(x, y, w, h);
}

// BITBLT, STRETCHBLT, MASKBLT, STRETCHDIBITS.
void TPDFMetafile::bltRecord(const TEmfRecord& r) {
  TDibImage dib;
  int32_t x, y, w, h;
  uint32_t rop;
  bool have;
  if (r.Type == 81) {
    x = r.I32(24), y = r.I32(28), w = r.I32(72), h = r.I32(76), rop = (r.U32(68) >> 16) & 0xFF;
    // The source rectangle of a bottom-up bitmap counts its rows from the bottom.
    int64_t sy = r.I32(36);
    const uint32_t offBmi = r.U32(48);
    if (r.U32(52) >= 12 && r.Has(offBmi, 12) && r.U32(offBmi) >= 16 && r.Has(offBmi, 12) && r.I32(offBmi + 8) > 0)
      sy = int64_t(r.I32(offBmi + 8)) - sy - r.I32(44);
    have = imageFromRecord(r, offBmi, r.U32(52), r.U32(56), r.U32(60), r.U32(64), r.I32(32), sy, r.I32(40),
                           r.I32(44), dib);
  } else {
    x = r.I32(24), y = r.I32(28), w = r.I32(32), h = r.I32(36), rop = (r.U32(40) >> 16) & 0xFF;
    const int64_t sw = r.Type == 77 ? r.I32(100) : w, sh = r.Type == 77 ? r.I32(104) : h;
    have = imageFromRecord(r, r.U32(84), r.U32(88), r.U32(92), r.U32(96), r.U32(80), r.I32(44), r.I32(48), sw, sh,
                           dib);
  }
  if (!have) return fillWithoutBitmap(rop, x, y, w, h);
  if (rop == 170 && r.Type != 78) return;  // the destination stays as it was
  if (dib.BitsPerPixel == 1 && r.Type != 78) {
    uint8_t br, bg, bb;
    decodeColor(state_->BrushColor, br, bg, bb);
    recolorMono(dib, rop, br, bg, bb);
  }
  TPDFImage* image = makeImage(dib, false);
  if (!image) return;
  if (r.Type == 78) {
    TDibImage mask;
    if (imageFromRecord(r, r.U32(112), r.U32(116), r.U32(120), r.U32(124), r.U32(108), r.I32(100), r.I32(104), w, h,
                        mask) &&
        !mask.PassThroughKind && mask.Width == dib.Width && mask.Height == dib.Height) {
      TDibImage alpha = dib;
      for (size_t i = 0; i < alpha.Rgba.size(); i += 4) alpha.Rgba[i + 3] = mask.Rgba[i];
      if (TPDFImage* masked = makeImage(alpha, true)) image = masked;
    }
  } else if (ropKeysBlack(rop)) {
    image->SetColorKeyMask(0, 0, 0, 0, 0, 0);
  } else if (ropKeysWhite(rop)) {
    image->SetColorKeyMask(1, 1, 1, 1, 1, 1);
  }
  drawImageAt(image, x, y, w, h);
}

// PLGBLT: the unit square onto the parallelogram.
void TPDFMetafile::plgBltRecord(const TEmfRecord& r) {
  TPDFPainter& p = *painter_;
  TDibImage dib;
  const double x0 = r.I32(24), y0 = r.I32(28), x1 = r.I32(32), y1 = r.I32(36), x2 = r.I32(40), y2 = r.I32(44);
  if (!imageFromRecord(r, r.U32(96), r.U32(100), r.U32(104), r.U32(108), r.U32(92), r.I32(48), r.I32(52), r.I32(56),
                       r.I32(60), dib)) {
    pathMove(x0, y0, false);
    pathLine(x1, y1);
    pathLine(x1 + x2 - x0, y1 + y2 - y0);
    pathLine(x2, y2);
    p.ClosePath();
    p.PaintPath(true, false);
    return;
  }
  TDibImage mask;
  bool masked = false;
  if (imageFromRecord(r, r.U32(124), r.U32(128), r.U32(132), r.U32(136), r.U32(120), r.I32(112), r.I32(116),
                      r.I32(56), r.I32(60), mask) &&
      !mask.PassThroughKind && mask.Width == dib.Width && mask.Height == dib.Height) {
    for (size_t i = 0; i < dib.Rgba.size(); i += 4) dib.Rgba[i + 3] = mask.Rgba[i];
    masked = true;
  }
  TPDFImage* image = makeImage(dib, masked);
  if (!image) return;
  const double ex = MapX(x2, y2), ey = MapY(x2, y2);
  const double a = MapX(x1, y1) - MapX(x0, y0), b = MapY(x1, y1) - MapY(x0, y0);
  const double c = MapX(x0, y0) - ex, d = MapY(x0, y0) - ey;
  p.WriteOp("q " + p.FormatNumber(a) + p.FormatNumber(b) + p.FormatNumber(c) + p.FormatNumber(d) +
            p.FormatNumber(ex) + p.FormatNumber(ey) + "cm /" + image->GetResourceName() + " Do Q");
}

// TRANSPARENTBLT: one colour of the source keyed out.
void TPDFMetafile::transparentBltRecord(const TEmfRecord& r) {
  const int32_t x = r.I32(24), y = r.I32(28), w = r.I32(32), h = r.I32(36);
  TDibImage dib;
  if (!imageFromRecord(r, r.U32(84), r.U32(88), r.U32(92), r.U32(96), r.U32(80), r.I32(44), r.I32(48), r.I32(100),
                       r.I32(104), dib)) {
    fillBoxAt(x, y, w, h);
    return;
  }
  TPDFImage* image = makeImage(dib, false);
  if (!image) return;
  uint8_t kr, kg, kb;
  decodeColor(r.U32(40), kr, kg, kb);
  image->SetColorKeyMask(kr / 255.0, kg / 255.0, kb / 255.0, kr / 255.0, kg / 255.0, kb / 255.0);
  drawImageAt(image, x, y, w, h);
}

// The graphics state of a constant alpha, made once per value.
TEMFGraphicState* TPDFMetafile::alphaState(double alpha) {
  for (const auto& g : lists_.GraphicStates)
    if (g->Purpose == "AlphaBlend" && g->Alpha == alpha) return g.get();
  auto made = std::make_unique<TEMFGraphicState>();
  made->Name = "PavonaGS" + newTag();
  made->Alpha = alpha;
  made->Purpose = "AlphaBlend";
  TPDFDictionary* dict = pool_->NewDictionary();
  dict->SetValue("Type", pool_->NewName("ExtGState"));
  dict->SetValue("SMask", pool_->NewName("None"));
  dict->SetValue("ca", pool_->NewNumeric(alpha));
  dict->SetValue("CA", pool_->NewNumeric(alpha));
  int32_t number = 0, generation = 0;
  if (pool_->OnGetObjectNumber) pool_->OnGetObjectNumber(pool_, dict, number, generation);
  if (number <= 0) return nullptr;
  made->Reference = pool_->NewIndRef(number, generation);
  lists_.GraphicStates.push_back(std::move(made));
  return lists_.GraphicStates.back().get();
}

// ALPHABLEND: a constant alpha, and per-pixel alpha when the source has it.
void TPDFMetafile::alphaBlendRecord(const TEmfRecord& r) {
  TPDFPainter& p = *painter_;
  const int32_t x = r.I32(24), y = r.I32(28), w = r.I32(32), h = r.I32(36);
  TDibImage dib;
  const bool have = imageFromRecord(r, r.U32(84), r.U32(88), r.U32(92), r.U32(96), r.U32(80), r.I32(44), r.I32(48),
                                    r.I32(100), r.I32(104), dib);
  const double alpha = r.U8(42) / 255.0;
  const bool perPixel = (r.U8(43) & 1) && have && !dib.PassThroughKind && dib.HasAlphaByte;
  if (perPixel) {
    // Premultiplied colours back to straight ones.
    for (size_t i = 0; i < dib.Rgba.size(); i += 4) {
      const uint32_t a = dib.Rgba[i + 3];
      if (a > 0 && a < 255)
        for (int j = 0; j < 3; ++j) dib.Rgba[i + j] = uint8_t(std::min<uint32_t>(255, dib.Rgba[i + j] * 255 / a));
    }
  }
  p.WriteOp("q");
  if (alpha < 1)
    if (TEMFGraphicState* gs = alphaState(alpha)) p.WriteOp("/" + gs->Name + " gs");
  if (have) {
    if (TPDFImage* image = makeImage(dib, perPixel)) drawImageAt(image, x, y, w, h);
  } else {
    fillBoxAt(x, y, w, h);
  }
  p.WriteOp("Q");
  p.MarkAllDirty();
}
