// Pages whose images, masks and constant alpha came out wrong, drawn by us
// (cairo and GDI) and by the peers (pdftoppm, mutool) and compared pixel by
// pixel: masks finer than their picture, JPEG 2000 images in Indexed spaces,
// the edges of pictures that end between device pixels, and fills and
// strokes with constant alpha.
#include <gtest/gtest.h>
#include <lcms2.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "IccProfileBytes.h"
#include "PageImageCompare.h"
#include "RendererTestSupport.h"

using namespace pvlrender;
using namespace pvltest;

namespace {

// A colour channel further than this from the peer's counts as a different
// pixel; anti-aliased edges of strokes stay within a few per cent of a page.
constexpr int kChannelTolerance = 48;

double DifferingShare(const TBitmap& ours, const TPeerPage& peer) {
  const int w = std::min(ours.Width(), peer.width), h = std::min(ours.Height(), peer.height);
  if (w <= 0 || h <= 0) return 1.0;
  int64_t differing = 0;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const uint32_t a = Rgb(ours, x, y), b = peer.Rgb(x, y);
      for (int shift : {0, 8, 16})
        if (std::abs(int((a >> shift) & 0xFF) - int((b >> shift) & 0xFF)) > kChannelTolerance) {
          ++differing;
          break;
        }
    }
  return double(differing) / (double(w) * h);
}

// Each case drawn by both back-ends and compared with each named peer: at
// most maxShare of the pixels may differ.
void CompareWithPeers(const std::vector<TPeerCase>& cases, double maxShare) {
  pvlrender::CompareWithPeers(cases, maxShare, DifferingShare);
}

std::string Image(const std::string& entries, const std::string& data) {
  return StreamObject("/Type /XObject /Subtype /Image " + entries, data);
}

// width x height samples of one byte each: f(x, y).
std::string Bytes(int width, int height, const std::function<int(int, int)>& f) {
  std::string s;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) s += static_cast<char>(f(x, y));
  return s;
}

// A 1-bit picture, rows padded to whole bytes: f(x, y) gives the bit.
std::string Bits(int width, int height, const std::function<int(int, int)>& f) {
  std::string s;
  for (int y = 0; y < height; ++y) {
    int acc = 0, n = 0;
    for (int x = 0; x < width; ++x) {
      acc = (acc << 1) | (f(x, y) & 1);
      if (++n == 8) s += static_cast<char>(acc), acc = 0, n = 0;
    }
    if (n) s += static_cast<char>(acc << (8 - n));
  }
  return s;
}

// An sRGB profile, as the ICCBased spaces of real files carry.
std::string SrgbProfile() {
  return ProfileBytes(cmsCreate_sRGBProfile());
}

uint32_t BigEndian32(const std::string& s, size_t at) {
  return (uint32_t(uint8_t(s[at])) << 24) | (uint32_t(uint8_t(s[at + 1])) << 16) | (uint32_t(uint8_t(s[at + 2])) << 8) |
         uint8_t(s[at + 3]);
}

std::string Box(const std::string& type, const std::string& content) {
  const uint32_t n = uint32_t(8 + content.size());
  return std::string{char(n >> 24), char(n >> 16), char(n >> 8), char(n)} + type + content;
}

// The JP2 file with a palette box ("pclr": colours of 8 bits) and a
// component mapping ("cmap") that sends its one component through it, as
// the files of real documents in Indexed spaces carry.
std::string WithFilePalette(const std::string& jp2, const std::vector<uint32_t>& colours) {
  for (size_t at = 0; at + 8 <= jp2.size();) {
    const uint32_t length = BigEndian32(jp2, at);
    if (length < 8 || at + length > jp2.size()) break;
    if (jp2.compare(at + 4, 4, "jp2h") == 0) {
      std::string pclr{char(colours.size() >> 8), char(colours.size()), 3, 7, 7, 7};
      for (uint32_t c : colours) pclr += std::string{char(c >> 16), char(c >> 8), char(c)};
      std::string cmap;
      for (char column = 0; column < 3; ++column) cmap += std::string{0, 0, 1, column};
      const std::string header = Box("jp2h", jp2.substr(at + 8, length - 8) + Box("pclr", pclr) + Box("cmap", cmap));
      return jp2.substr(0, at) + header + jp2.substr(at + length);
    }
    at += length;
  }
  return {};
}

}  // namespace

// A picture of a few pixels whose mask is much finer (the text of a heading
// cut out of a colour) is drawn with the mask at its own resolution, or the
// device's where that is lower; it was reduced to the picture's size, and
// the text came out as blocks.
TEST(RendererImageFaults, MasksFinerThanTheirPictureKeepTheirResolution) {
  // One colour: the peers smooth enlarged pictures, we keep their pixels.
  const std::string picture = Bytes(12, 4, [](int x, int) { return x % 3 == 0 ? 240 : x % 3 == 1 ? 140 : 20; });
  // Bars and a diagonal of cells 4 mask pixels wide.
  auto shape = [](int scale) {
    return [scale](int x, int y) {
      const int u = x * 80 / scale, v = y * 80 / scale;
      return int((u / 4) % 3 == 0 || (u / 4 + v / 4) % 5 == 0);
    };
  };
  auto page = [&](const std::string& maskKey, const std::string& mask, const std::string& content) {
    return PagePdf(
        content, "<< /XObject << /Im 4 0 R >> >>",
        {Image("/Width 4 /Height 4 /ColorSpace /DeviceRGB /BitsPerComponent 8 " + maskKey + " 5 0 R", picture), mask});
  };
  auto softMask = [&](int side) {
    return Image("/Width " + std::to_string(side) + " /Height " + std::to_string(side) +
                     " /ColorSpace /DeviceGray /BitsPerComponent 8",
                 Bytes(side, side, [&](int x, int y) { return shape(side)(x, y) ? 255 : 0; }));
  };
  auto stencil = [&](int side) {
    // Painted where the sample is 0.
    return Image("/Width " + std::to_string(side) + " /Height " + std::to_string(side) + " /ImageMask true",
                 Bits(side, side, [&](int x, int y) { return 1 - shape(side)(x, y); }));
  };
  const std::string once = "0 0 1 rg 0 0 100 100 re f q 80 0 0 80 10 10 cm /Im Do Q";
  // The same image again, smaller: the picture kept for the first size is
  // not taken for the second.
  const std::string twice = once + " q 20 0 0 20 75 75 cm /Im Do Q";
  // pdftoppm resamples masks with a smoothing filter even at their own
  // size (half the edge pixels differ); mutool draws them as we do.
  std::vector<TPeerCase> cases;
  for (int side : {80, 160, 240}) {
    const std::string size = std::to_string(side);
    cases.push_back({"SMask " + size, page("/SMask", softMask(side), once), ptMupdf});
    cases.push_back({"Mask " + size, page("/Mask", stencil(side), once), ptMupdf});
  }
  cases.push_back({"SMask 80, drawn twice", page("/SMask", softMask(80), twice), ptMupdf});
  cases.push_back({"Mask 160, drawn twice", page("/Mask", stencil(160), twice), ptMupdf});
  CompareWithPeers(cases, 0.03);
}

// JPEG 2000 images in an Indexed space over ICCBased: the codestream's
// samples are the palette's indices. A palette in the file itself is not
// applied (it turned the indices into colours, read again as indices), and
// samples of fewer than 8 bits keep their values (they were scaled to 8
// bits, past the palette's end): the picture came out as a black bar.
TEST(RendererImageFaults, JpegTwoThousandIndicesGoThroughThePagePalette) {
  std::string missing;
  if (!RequireTool("opj_compress", missing)) GTEST_SKIP() << missing;
  TempDir dir;
  // Four bands of indices 0 to 3.
  const std::string indices = Bytes(40, 10, [](int x, int) { return x / 10; });
  WriteFile(dir.File("indices.raw"), indices);
  WriteFile(dir.File("indices.pgm"), "P5\n40 10\n255\n" + indices);
  auto compress = [&](const std::string& in, const std::string& out, std::vector<std::string> extra) {
    std::vector<std::string> argv = {"opj_compress", "-i", dir.File(in), "-o", dir.File(out), "-n", "2"};
    argv.insert(argv.end(), extra.begin(), extra.end());
    const CommandResult r = RunCommand(argv);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    return ReadFile(dir.File(out));
  };
  const std::string fourBits = compress("indices.raw", "four.j2k", {"-F", "40,10,1,4,u"});
  const std::string eightBits = compress("indices.pgm", "eight.jp2", {});
  const std::string filePalette = WithFilePalette(eightBits, {0x000000, 0xFFFFFF, 0x808080, 0x000000});
  ASSERT_FALSE(fourBits.empty());
  ASSERT_FALSE(filePalette.empty());
  auto page = [](const std::string& jpx) {
    return PagePdf(
        "0.9 g 0 0 100 100 re f q 80 0 0 40 10 30 cm /Im Do Q", "<< /XObject << /Im 4 0 R >> >>",
        {Image("/Width 40 /Height 10 /ColorSpace [/Indexed [/ICCBased 5 0 R] 3 <FF0000 00C000 0000FF 000000>] "
               "/Filter /JPXDecode",
               jpx),
         StreamObject("/N 3 /Alternate /DeviceRGB", SrgbProfile())});
  };
  CompareWithPeers({{"8-bit samples", page(eightBits)},
                    {"4-bit samples", page(fourBits)},
                    {"8-bit samples with the file's own palette", page(filePalette)}},
                   0.03);
}

// A picture upright or turned by quarter turns whose edges fall between
// device pixels covers every pixel it touches, with crisp edges, as the
// peers draw it; it had a soft border one pixel wide (cairo) or lost the
// pixels it covered less than half (GDI).
TEST(RendererImageFaults, PicturesBetweenDevicePixelsHaveCrispEdges) {
  std::string missing;
  if (!RequireTool("opj_compress", missing)) GTEST_SKIP() << missing;
  TempDir dir;
  // One dark colour: only the edges can differ.
  const std::string grey = Bytes(8, 8, [](int, int) { return 40; });
  WriteFile(dir.File("grey.pgm"), "P5\n8 8\n255\n" + grey);
  CommandResult r = RunCommand({"opj_compress", "-i", dir.File("grey.pgm"), "-o", dir.File("grey.jp2"), "-n", "2"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const std::string jpx = ReadFile(dir.File("grey.jp2"));
  const std::string raw = "/Width 8 /Height 8 /ColorSpace /DeviceGray /BitsPerComponent 8";
  const std::string jpxEntries = "/Width 8 /Height 8 /ColorSpace /DeviceGray /Filter /JPXDecode";
  std::vector<TPeerCase> cases;
  for (const char* matrix : {"79.3 0 0 39.4 10.3 30.4", "79.8 0 0 39.8 10.6 30.6", "-80.4 0 0 -40.4 90.2 70.2",
                             "0 40.6 -60.2 0 80.3 10.5", "50.5 0 0 50.5 20.25 20.25"})
    for (bool isJpx : {false, true})
      cases.push_back({std::string(isJpx ? "JPEG 2000 " : "samples ") + matrix,
                       PagePdf(std::string("q ") + matrix + " cm /Im Do Q", "<< /XObject << /Im 4 0 R >> >>",
                               {Image(isJpx ? jpxEntries : raw, isJpx ? jpx : grey)})});
  // Not a pixel apart.
  CompareWithPeers(cases, 0.0);
}

// Fills and strokes with constant alpha: GDI painted them opaque, so a fill
// that shows nothing (alpha 0) covered the text under it, and faint ones
// painted solid colour. They blend now, and a fully transparent part
// paints nothing.
TEST(RendererImageFaults, ConstantAlphaBlendsOrPaintsNothing) {
  std::vector<TPeerCase> cases;
  for (const char* alpha : {"0", "0.001", "0.02", "0.04", "0.5", "0.9", "1"}) {
    const std::string state = std::string("<< /ExtGState << /G << /ca ") + alpha + " /CA " + alpha + " >> >> >>";
    const std::string under = "0 0 1 rg 10 10 80 80 re f 1 1 0 rg 30 45 40 10 re f /G gs ";
    cases.push_back({std::string("fill ") + alpha, PagePdf(under + "1 0 0 rg 20 20 60 60 re f", state)});
    cases.push_back({std::string("stroke ") + alpha, PagePdf(under + "0 1 0 RG 6 w 5 50 m 95 50 l S", state)});
    // mutool blends the stroke of B onto the fill differently where they
    // overlap (cairo as well as GDI); pdftoppm and we paint one after the
    // other.
    cases.push_back({std::string("fill and stroke ") + alpha,
                     PagePdf(under + "1 0 0 rg 0 1 0 RG 6 w 20 20 60 60 re B", state), ptPoppler});
  }
  CompareWithPeers(cases, 0.03);
}

// A soft mask whose dictionary leaves out its colour space or bit depth, or
// names another space, still masks its picture as one grey sample a pixel
// (as mutool draws it); it was dropped and the picture drawn as a box over
// what lies under it. pdftoppm leaves such pictures out altogether.
TEST(RendererImageFaults, SoftMasksReadAsGreyWhateverTheirDictionarySays) {
  // At the device's size: the peers smooth enlarged masks.
  const std::string stripes = Bytes(80, 80, [](int x, int) { return (x / 10) % 2 ? 0 : 255; });
  auto page = [&](const std::string& maskEntries) {
    return PagePdf(
        "0 0 1 rg 0 0 100 100 re f 1 1 0 rg 20 45 60 10 re f q 80 0 0 80 10 10 cm /Im Do Q",
        "<< /XObject << /Im 4 0 R >> >>",
        {Image("/Width 4 /Height 4 /ColorSpace /DeviceRGB /BitsPerComponent 8 /SMask 5 0 R", std::string(48, '\0')),
         Image("/Width 80 /Height 80 " + maskEntries, stripes)});
  };
  CompareWithPeers({{"no colour space", page("/BitsPerComponent 8"), ptMupdf},
                    {"no bit depth", page("/ColorSpace /DeviceGray"), ptMupdf},
                    {"an RGB space", page("/ColorSpace /DeviceRGB /BitsPerComponent 8"), ptMupdf},
                    {"grey", page("/ColorSpace /DeviceGray /BitsPerComponent 8"), ptMupdf}},
                   0.03);
}
