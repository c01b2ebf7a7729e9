// Small pages built here, drawn by us (cairo and GDI) and by the peers
// (pdftoppm, mutool) and compared pixel by pixel: images of every bit depth
// and colour space with /Decode arrays, masks and colour keys; CCITT fax
// images with every coding and the filter's flags; annotations with odd
// appearance streams. Each row names the peers it is compared with: where the
// peers disagree with each other the row says which one we follow and why.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <map>

#include "CodecTestSupport.h"
#include "CorpusPages.h"
#include "PageImageCompare.h"
#include "RendererTestSupport.h"

using namespace pvlrender;
using namespace pvltest;

namespace {

constexpr unsigned kPoppler = ptPoppler, kMupdf = ptMupdf, kBoth = ptPoppler | ptMupdf;

// Anti-aliased edges of a scaled image or a clip differ by a pixel between
// renderers (about 1.6 % of these pages); a black box or a missing picture
// differs over a third of the page or more.
constexpr double kMaxFraction = 0.03;

// Every case drawn by both back-ends and compared with each named peer.
void ComparePages(const std::vector<TPeerCase>& cases) {
  CompareWithPeers(cases, kMaxFraction, [](const TBitmap& ours, const TPeerPage& peer) {
    return DifferingFraction(ours, TReference{peer.width, peer.height, peer.rgb});
  });
}

// Samples packed at bits per component, rows starting on bytes.
std::string Pack(const std::vector<uint32_t>& samples, int bits, int perRow) {
  std::string out;
  for (size_t start = 0; start < samples.size(); start += perRow) {
    uint32_t acc = 0;
    int have = 0;
    for (int i = 0; i < perRow; ++i) {
      acc = (acc << bits) | samples[start + i];
      have += bits;
      while (have >= 8) {
        have -= 8;
        out += static_cast<char>((acc >> have) & 0xFF);
      }
    }
    if (have) out += static_cast<char>((acc << (8 - have)) & 0xFF);
  }
  return out;
}

constexpr int kSide = 10;

// A 10 x 10 image of components per pixel: f(x, y, component) as a sample.
std::string Samples(int components, int bits, const std::function<uint32_t(int, int, int)>& f) {
  std::vector<uint32_t> s;
  for (int y = 0; y < kSide; ++y)
    for (int x = 0; x < kSide; ++x)
      for (int k = 0; k < components; ++k) s.push_back(f(x, y, k) & ((uint64_t(1) << bits) - 1));
  return Pack(s, bits, kSide * components);
}

// A ramp over every sample value, different per component.
std::function<uint32_t(int, int, int)> Ramp(int bits) {
  const uint64_t maxv = (uint64_t(1) << bits) - 1;
  return [maxv](int x, int y, int k) {
    return static_cast<uint32_t>(((x + y * kSide + k * 37) * maxv * 7 / (kSide * kSide)) % (maxv + 1));
  };
}

std::string ImageObject(const std::string& entries, const std::string& data) {
  return StreamObject("/Type /XObject /Subtype /Image /Width 10 /Height 10 " + entries, data);
}

// A page with a blue background and the image (object 4) over most of it.
std::string ImagePage(const std::vector<std::string>& objects, const std::string& before = "") {
  return PagePdf(before + "0 0 1 rg 0 0 100 100 re f q 80 0 0 80 10 10 cm /Im Do Q",
                 "<< /XObject << /Im 4 0 R >> >>", objects);
}

std::string Palette() {
  std::string hex = "<";
  char b[8];
  for (int i = 0; i < 256; ++i) {
    std::snprintf(b, sizeof b, "%02x%02x%02x", (i * 53) % 256, (i * 97) % 256, (i * 151) % 256);
    hex += b;
  }
  return hex + ">";
}

}  // namespace

TEST(RendererPeerFixtures, ImagesOfEveryDepthAndDecodeMatchThePeers) {
  std::vector<TPeerCase> cases;
  const char* spaces[] = {"", "/DeviceGray", "", "/DeviceRGB", "/DeviceCMYK"};
  for (int n : {1, 3, 4})
    for (int bits : {1, 2, 4, 8, 16})
      for (bool inverted : {false, true}) {
        std::string decode;
        if (inverted)
          for (int k = 0; k < n; ++k) decode += " 1 0";
        // mutool converts CMYK through an ICC profile, pdftoppm and we by formula.
        cases.push_back({std::string(spaces[n]) + " " + std::to_string(bits) + (inverted ? " inverted" : ""),
                         ImagePage({ImageObject("/ColorSpace " + std::string(spaces[n]) +
                                                    " /BitsPerComponent " + std::to_string(bits) +
                                                    (inverted ? " /Decode [" + decode + "]" : ""),
                                                Samples(n, bits, Ramp(bits)))}),
                         n == 4 ? kPoppler : kBoth});
      }
  // Indexed with the default and unusual /Decode ranges: a range other than
  // [0 2^bits-1] maps samples onto other palette entries. mutool ignores such
  // ranges; pdftoppm applies them as we do.
  for (int bits : {1, 2, 4, 8}) {
    const int maxv = (1 << bits) - 1;
    for (std::string decode : {std::string(), "[" + std::to_string(maxv) + " 0]", std::string("[0 1]"),
                               std::string("[1 0]"), "[0 " + std::to_string(std::max(1, maxv / 2)) + "]"}) {
      const bool standard = decode.empty() || decode == "[" + std::to_string(maxv) + " 0]" || bits == 1;
      cases.push_back({"Indexed " + std::to_string(bits) + " " + decode,
                       ImagePage({ImageObject("/ColorSpace [/Indexed /DeviceRGB 255 " + Palette() +
                                                  "] /BitsPerComponent " + std::to_string(bits) +
                                                  (decode.empty() ? "" : " /Decode " + decode),
                                              Samples(1, bits, Ramp(bits)))}),
                       standard ? unsigned(kBoth) : unsigned(kPoppler)});
    }
  }
  // Separation and DeviceN (alternate CMYK, so compared with pdftoppm).
  const std::string tint = "<< /FunctionType 2 /Domain [0 1] /C0 [0 0 0 0] /C1 [0.1 0.8 0 0.2] /N 1 >>";
  for (int bits : {1, 2, 4, 8, 16})
    for (bool inverted : {false, true}) {
      cases.push_back({"Separation " + std::to_string(bits) + (inverted ? " inverted" : ""),
                       ImagePage({ImageObject("/ColorSpace [/Separation /Spot /DeviceCMYK " + tint +
                                                  "] /BitsPerComponent " + std::to_string(bits) +
                                                  (inverted ? " /Decode [1 0]" : ""),
                                              Samples(1, bits, Ramp(bits)))}),
                       kPoppler});
      cases.push_back(
          {"DeviceN " + std::to_string(bits) + (inverted ? " inverted" : ""),
           ImagePage({ImageObject("/ColorSpace [/DeviceN [/Cyan /Magenta] /DeviceCMYK 5 0 R] /BitsPerComponent " +
                                      std::to_string(bits) + (inverted ? " /Decode [1 0 0 1]" : ""),
                                  Samples(2, bits, Ramp(bits))),
                      StreamObject("/FunctionType 4 /Domain [0 1 0 1] /Range [0 1 0 1 0 1 0 1]", "{ 0 0 exch }")}),
           kPoppler});
    }
  // Stencil masks, with and without /Decode [1 0].
  auto stencil = [](int x, int y, int) { return uint32_t(x < 5 ? (x ^ y) & 1 : (x + y) % 3 == 0); };
  for (std::string decode : {"", " /Decode [1 0]", " /Decode [0 1]"})
    cases.push_back({"image mask" + decode,
                     PagePdf("1 0 0 rg q 80 0 0 80 10 10 cm /Im Do Q", "<< /XObject << /Im 4 0 R >> >>",
                             {ImageObject("/ImageMask true /BitsPerComponent 1" + decode, Samples(1, 1, stencil))})});
  // Soft masks of every depth, inverted or not, and explicit masks.
  const std::string red = Samples(3, 8, [](int, int, int k) { return uint32_t(k == 0 ? 200 : k == 1 ? 30 : 90); });
  for (int bits : {1, 2, 4, 8, 16})
    for (bool inverted : {false, true}) {
      const uint32_t maxv = (uint32_t(1) << bits) - 1;
      const std::string decode = inverted ? " /Decode [1 0]" : "";
      cases.push_back({"SMask " + std::to_string(bits) + decode,
                       ImagePage({ImageObject("/ColorSpace /DeviceRGB /BitsPerComponent 8 /SMask 5 0 R", red),
                                  ImageObject("/ColorSpace /DeviceGray /BitsPerComponent " + std::to_string(bits) +
                                                  decode,
                                              Samples(1, bits, [maxv](int x, int, int) { return x * maxv / 9; }))})});
    }
  for (std::string decode : {"", " /Decode [1 0]"})
    cases.push_back({"Mask" + decode,
                     ImagePage({ImageObject("/ColorSpace /DeviceRGB /BitsPerComponent 8 /Mask 5 0 R", red),
                                ImageObject("/ImageMask true" + decode,
                                            Samples(1, 1, [](int x, int, int) { return uint32_t(x < 4); }))})});
  // Colour-key masks. pdftoppm keys 16-bit samples after reducing them to
  // 8 bits, which widens the range; mutool and we compare the 16-bit samples.
  for (int n : {1, 3})
    for (int bits : {1, 2, 4, 8, 16}) {
      const uint32_t maxv = (uint32_t(1) << bits) - 1;
      std::string key = "[";
      for (int k = 0; k < n; ++k) key += std::to_string(maxv / 3) + " " + std::to_string(maxv / 2) + " ";
      cases.push_back({std::string("colour key ") + spaces[n] + " " + std::to_string(bits),
                       ImagePage({ImageObject("/ColorSpace " + std::string(spaces[n]) + " /BitsPerComponent " +
                                                  std::to_string(bits) + " /Mask " + key + "]",
                                              Samples(n, bits, [maxv](int x, int, int) { return x * maxv / 9; }))}),
                       bits == 16 ? unsigned(kMupdf) : unsigned(kBoth)});
    }
  ComparePages(cases);
}

TEST(RendererPeerFixtures, CCITTImagesMatchThePeers) {
  std::string missing;
  if (!RequireTool("convert", missing) || !RequireTool("tiffcp", missing)) GTEST_SKIP() << missing;
  TempDir dir;
  // A 200 x 60 picture: a square and a disc.
  auto r = RunCommand({"convert", "-size", "200x60", "xc:white", "-fill", "black", "-draw", "rectangle 10,10 60,50",
                       "-draw", "circle 120,30 120,10", "-monochrome", dir.File("img.pbm")});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  r = RunCommand({"convert", dir.File("img.pbm"), "-define", "quantum:polarity=min-is-white", "-compress", "none",
                  dir.File("img.tif")});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  std::map<std::string, std::string> coded;
  for (const char* coding : {"g4", "g3:1d", "g3:2d"}) {
    r = RunCommand({"tiffcp", "-c", coding, "-r", "100000", dir.File("img.tif"), dir.File("out.tif")});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    coded[coding] = codectest::ReadSingleStripTiff(ReadFile(dir.File("out.tif"))).data;
    ASSERT_FALSE(coded[coding].empty()) << coding;
  }
  const std::string g4 = coded["g4"], g31 = coded["g3:1d"], g32 = coded["g3:2d"];
  // Group 4 without its end-of-block code.
  const std::string g4bits = codectest::BytesToBits(g4);
  const std::string g4NoEOFB = codectest::BitsToBytes(g4bits.substr(0, g4bits.rfind("000000000001000000000001")));
  struct TCCITTCase {
    const char* name;
    std::string data;
    std::string parms;
    int height = 60;
    std::string entries = "/ColorSpace /DeviceGray /BitsPerComponent 1";
    unsigned peers = kBoth;
  };
  const TCCITTCase table[] = {
      {"K -1", g4, "/K -1 /Rows 60"},
      {"K -1 without /Rows", g4, "/K -1"},
      {"K -1 with a wrong /Rows", g4, "/K -1 /Rows 30"},
      {"K -1, /Height above the data's rows", g4, "/K -1", 90, "/ColorSpace /DeviceGray /BitsPerComponent 1", kPoppler},
      {"K -1, /Height below the data's rows", g4, "/K -1", 40},
      {"K -1 BlackIs1", g4, "/K -1 /BlackIs1 true"},
      {"K -1 with /Decode [1 0]", g4, "/K -1", 60, "/ColorSpace /DeviceGray /BitsPerComponent 1 /Decode [1 0]"},
      {"K -1 image mask", g4, "/K -1", 60, "/ImageMask true"},
      {"K -1 image mask, /Decode [1 0]", g4, "/K -1", 60, "/ImageMask true /Decode [1 0]"},
      {"K -1 EndOfBlock false", g4, "/K -1 /EndOfBlock false"},
      {"K -1 without EOFB", g4NoEOFB, "/K -1"},
      {"K -1 without EOFB, EndOfBlock false", g4NoEOFB, "/K -1 /EndOfBlock false"},
      {"K 0", g31, "/K 0"},
      {"K 0 EndOfLine", g31, "/K 0 /EndOfLine true"},
      {"K 0 BlackIs1", g31, "/K 0 /BlackIs1 true"},
      {"K 0 without EOLs", codectest::WithoutEOL(g31, false), "/K 0"},
      {"K 0 without EOLs, EncodedByteAlign", codectest::WithoutEOL(g31, true), "/K 0 /EncodedByteAlign true"},
      {"K 0 EndOfBlock false", g31, "/K 0 /EndOfBlock false"},
      {"K 1", g32, "/K 1"},
      {"K 4", g32, "/K 4"},
      {"K 1 without EOLs, EncodedByteAlign", codectest::WithoutEOL(g32, true), "/K 1 /EncodedByteAlign true"},
      // mutool fills the rows past the data black; pdftoppm and we leave them white.
      {"K 1, /Height above the data's rows", g32, "/K 1", 80, "/ColorSpace /DeviceGray /BitsPerComponent 1", kPoppler},
  };
  std::vector<TPeerCase> cases;
  for (const TCCITTCase& c : table)
    cases.push_back({c.name,
                     PagePdf("1 0 0 rg q 90 0 0 27 5 30 cm /Im Do Q", "<< /XObject << /Im 4 0 R >> >>",
                             {StreamObject("/Type /XObject /Subtype /Image /Width 200 /Height " +
                                               std::to_string(c.height) + " " + c.entries +
                                               " /Filter /CCITTFaxDecode /DecodeParms << /Columns 200 " + c.parms +
                                               " >>",
                                           c.data)}),
                     c.peers});
  ComparePages(cases);
}

TEST(RendererPeerFixtures, AnnotationAppearancesMatchThePeers) {
  // A square annotation at [20 20 60 40] whose normal appearance is object 5.
  auto page = [](const std::string& content, const std::string& form, const std::string& data,
                 const std::string& annotExtra = "", const std::string& rect = "[20 20 60 40]") {
    return pvlrender::MakePdf({"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
                    "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 100 100] /Resources << >> /Contents 6 0 R "
                    "/Annots [4 0 R] >>",
                    "<< /Type /Annot /Subtype /Square /Rect " + rect + " /AP << /N 5 0 R >> " + annotExtra + " >>",
                    StreamObject("/Type /XObject /Subtype /Form " + form, data), StreamObject("", content)});
  };
  const std::string box = "/BBox [0 0 40 20]";
  const std::string blueBox = "0 0 1 rg 0 0 40 20 re f 1 0 0 rg 5 5 10 10 re f";
  const std::vector<TPeerCase> cases = {
      {"plain", page("", box, blueBox)},
      // The page content ends with a path it never paints: the annotation's
      // clip took it in, and nothing (or a page-sized shape) was drawn.
      {"page leaves an open path", page("0 0 100 100 re", box, "0 0 1 rg 5 5 10 10 re f")},
      {"page leaves an open path, appearance fills without one", page("0 0 100 100 re", box, "f " + blueBox)},
      {"page leaves a clip, colour, matrix and width", page("q 0 0 10 10 re W n 0 1 0 rg 3 0 0 3 0 0 cm 20 w", box,
                                                            "0 0 40 20 re f 1 0 0 RG 0 10 m 40 10 l S")},
      {"page leaves text open", page("BT 0 0 1 rg", box, "0 0 40 20 re f")},
      {"fill without a path", page("", box, "0 0 1 rg f 1 0 0 rg 5 5 10 10 re f")},
      {"fill beyond the box", page("", box, "0 0 1 rg -1000 -1000 5000 5000 re f")},
      // A box without area clips everything: the peers draw nothing.
      {"box without area", page("", "/BBox [0 0 0 0]", blueBox)},
      {"no box", page("", "", blueBox)},
      {"rect without area", page("", box, blueBox, "", "[20 20 20 20]")},
      {"rect corners swapped", page("", box, blueBox, "", "[60 40 20 20]")},
      {"box corners swapped", page("", "/BBox [40 20 0 0]", blueBox)},
      {"box away from the origin", page("", "/BBox [100 100 140 120]", "0 0 1 rg 100 100 40 20 re f")},
      {"rotating matrix", page("", box + " /Matrix [0 1 -1 0 0 0]", blueBox)},
      {"scaling matrix", page("", box + " /Matrix [2 0 0 2 0 0]", blueBox)},
      {"hidden", page("", box, blueBox, "/F 2")},
      {"no view", page("", box, blueBox, "/F 32")},
  };
  ComparePages(cases);
}
