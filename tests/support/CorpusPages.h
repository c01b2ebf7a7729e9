// The corpus pages whose rendering is compared with pdftoppm's, each with the
// fraction of pixels allowed to differ (through cairo and through the GDI
// stand-in) and the reason for what remains; and the comparison itself.
// Shared by the renderer's own test and the facade's page-image test.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>

#include "CodecTestSupport.h"
#include "TestSupport.h"
#include "platform/Bitmap.h"

namespace pvltest {

// A pixel differs when one of its channels is further off than this.
inline constexpr int kChannelThreshold = 48;

struct TCorpusPage {
  const char* file;
  double cairoMax;  // allowed fraction of differing pixels, cairo
  double gdiMax;    // the same through the GDI stand-in
  const char* reason;
};

inline const TCorpusPage kPages[] = {
    // Pages without text: what remains is anti-aliasing at edges.
    {"pdfjs/devicen.pdf", 0.002, 0.003, "edges"},
    {"pdfjs/annotation-line.pdf", 0.002, 0.003, "edges"},
    {"pdfjs/annotation-square-circle.pdf", 0.004, 0.004, "edges of the appearance streams"},
    {"pdfjs/annotation-stamp.pdf", 0.003, 0.003, "edges of the appearance streams"},
    {"pdfjs/annotation-highlight.pdf", 0.003, 0.003, "edges, highlight blending"},
    {"pdfjs/bug_jpx.pdf", 0.003, 0.002, "image resampling"},
    {"pdfjs/cmykjpeg.pdf", 0.004, 0.005, "image resampling"},
    {"pdfjs/smaskdim.pdf", 0.002, 0.003, "image resampling"},
    {"pdfjs/zerowidthline.pdf", 0.007, 0.009, "hairline placement"},
    {"samples/cmyk-image.pdf", 0.006, 0.009, "image resampling"},
    {"samples/inline-image.pdf", 0.003, 0.003, "image resampling"},
    {"samples/grayscale-image.pdf", 0.029, 0.027, "glyph edges; image resampling"},
    {"samples/GeoTopo-komprimiert.pdf", 0.007, 0.058, "map drawing; GDI draws without anti-aliasing"},
    {"pdfjs/jbig2_symbol_offset.pdf", 0.019, 0.019, "JBIG2 image resampling at 72 dpi"},
    {"pdfjs/ccitt_EndOfBlock_false.pdf", 0.022, 0.022, "CCITT image resampling at 72 dpi"},
    {"pdfjs/smask_luminosity_oob_transfer.pdf", 0.044, 0.04, "soft-mask transfer function edge"},
    {"pdfjs/colorkeymask.pdf", 0.097, 0.097, "colour-key edges of a small image scaled up"},
    {"pdfjs/jp2k-resetprob.pdf", 0.07, 0.087, "small JPEG 2000 image scaled"},
    // Differences that come from features the renderer does not draw.
    {"pdfjs/alphatrans.pdf", 0.176, 0.243, "transparency groups and soft masks are not composited"},
    {"pdfjs/tiling_patterns_variations.pdf", 0.219, 0.193, "pattern fills are not painted"},
    {"pdfjs/tiling-pattern-box.pdf", 0.01, 0.01, "pattern fills are not painted"},
    {"pdfjs/shading_extend.pdf", 0.439, 0.441, "shadings (sh) are not painted"},
    {"pdfjs/function_based_shading.pdf", 0.589, 0.589, "shadings (sh) are not painted"},
    {"pdfjs/smask_alpha_oob.pdf", 1.0, 1.0, "ExtGState soft masks are not applied: the whole page is darker"},
    {"pdfjs/jpx_smaskindata.pdf", 0.7, 0.7,
     "the JPEG 2000 images are drawn with their own alpha (SMaskInData), as mutool draws them; poppler leaves the "
     "alpha out"},
    // Text pages: small glyphs differ at their anti-aliased edges; GDI draws them aliased.
    {"pdfjs/annotation-freetext.pdf", 0.003, 0.003, "glyph edges of small text at 72 dpi"},
    {"pdfjs/arial_unicode_ab_cidfont.pdf", 0.003, 0.003, "glyph edges of small text at 72 dpi"},
    {"pdfjs/asciihexdecode.pdf", 0.003, 0.004, "glyph edges of small text at 72 dpi"},
    {"pdfjs/basicapi.pdf", 0.005, 0.009, "glyph edges of small text at 72 dpi"},
    {"pdfjs/annotation-button-widget.pdf", 0.003, 0.008, "glyph edges of small text at 72 dpi"},
    {"pdfjs/annotation-text-widget.pdf", 0.021, 0.032, "glyph edges of small text at 72 dpi"},
    {"pdfjs/ArabicCIDTrueType.pdf", 0.008, 0.009, "glyph edges of small text at 72 dpi"},
    {"pdfjs/TAMReview.pdf", 0.055, 0.08, "glyph edges of small text at 72 dpi"},
    {"pdfjs/tracemonkey.pdf", 0.077, 0.158, "glyph edges of small text at 72 dpi"},
    {"pdfjs/text_clip_cff_cid.pdf", 0.003, 0.011, "glyph edges; text used as a clip"},
    {"pdfjs/simpletype3font.pdf", 0.002, 0.002, "edges of Type 3 glyphs"},
    {"samples/pdflatex-4-pages.pdf", 0.089, 0.151, "glyph edges of small text at 72 dpi"},
    {"samples/multicolumn.pdf", 0.075, 0.124, "glyph edges of small text at 72 dpi"},
    {"samples/google-doc-document.pdf", 0.038, 0.065, "glyph edges of small text at 72 dpi"},
    {"samples/002-trivial-libre-office-writer.pdf", 0.016, 0.025, "glyph edges of small text at 72 dpi"},
    {"samples/reportlab-overlay.pdf", 0.004, 0.006, "glyph edges of small text at 72 dpi"},
};

// pdftoppm's page as 0xRRGGBB pixels.
struct TReference {
  int width = 0, height = 0;
  std::string pixels;  // RGB bytes
};

inline bool RenderReference(const std::string& file, const pvltest::TempDir& dir, TReference& ref) {
  auto r = pvltest::RunCommand({"pdftoppm", "-r", "72", "-f", "1", "-l", "1", "-singlefile", file, dir.File("ref")});
  return r.exitCode == 0 &&
         codectest::ReadPpmRgb(pvltest::ReadFile(dir.File("ref.ppm")), ref.width, ref.height, ref.pixels);
}

// Fraction of pixels (over the area both images cover) that differ.
inline double DifferingFraction(const TBitmap& ours, const TReference& ref) {
  const int w = std::min(ours.Width(), ref.width), h = std::min(ours.Height(), ref.height);
  if (w <= 0 || h <= 0) return 1.0;
  int64_t differing = 0;
  for (int y = 0; y < h; ++y) {
    const uint8_t* row = ours.ScanLine(y);  // B, G, R
    const auto* q = reinterpret_cast<const uint8_t*>(ref.pixels.data()) + size_t(y) * ref.width * 3;
    for (int x = 0; x < w; ++x) {
      int d = std::max({std::abs(row[3 * x + 2] - q[3 * x]), std::abs(row[3 * x + 1] - q[3 * x + 1]),
                        std::abs(row[3 * x] - q[3 * x + 2])});
      if (d > kChannelThreshold) ++differing;
    }
  }
  return static_cast<double>(differing) / (static_cast<double>(w) * h);
}

}  // namespace pvltest
