// Decoding time of the corpus's JBIG2, CCITT and JPEG images by our codecs,
// printed beside jbig2dec and djpeg decoding the same data. The peers run as
// processes, so their times include starting the program (measured and shown
// separately as "start").
//   build/bench/codec_bench [repetitions]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "graphics/PavonaCCITT.h"
#include "graphics/PavonaJBIG2.h"
#include "graphics/PavonaJPEG.h"

namespace fs = std::filesystem;

namespace {

const fs::path kRepo = fs::path(__FILE__).parent_path().parent_path();
const fs::path kCorpus = kRepo.parent_path() / "shared" / "corpus";

std::string ReadAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

struct TImage {
  std::string name, data, globals, dir;
  std::vector<std::pair<std::string, int>> parms;
  int width = 0, height = 0;
  int Parm(const std::string& k, int d) const {
    for (auto& [key, v] : parms)
      if (key == k) return v;
    return d;
  }
};

// Images of one filter, extracted by the test suite's helper script.
std::vector<TImage> Extract(const fs::path& pdf, const std::string& filter, const fs::path& dir) {
  fs::create_directories(dir);
  std::string cmd = "/usr/bin/python3 '" + (kRepo / "tests/graphics/pdf_images.py").string() + "' '" + pdf.string() +
                    "' " + filter + " '" + dir.string() + "'";
  std::vector<TImage> images;
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return images;
  char line[4096];
  while (fgets(line, sizeof line, p)) {
    std::istringstream w(line);
    TImage img;
    std::string obj;
    w >> obj >> img.width >> img.height;
    for (std::string kv; w >> kv;) {
      auto eq = kv.find('=');
      if (eq == std::string::npos) continue;
      if (kv.substr(0, eq) == "globals")
        img.globals = ReadAll(dir / (obj + ".globals"));
      else
        img.parms.emplace_back(kv.substr(0, eq), std::atoi(kv.c_str() + eq + 1));
    }
    img.name = pdf.filename().string() + "#" + obj;
    img.data = ReadAll(dir / (obj + ".bin"));
    img.dir = dir.string();
    images.push_back(std::move(img));
  }
  pclose(p);
  return images;
}

double Seconds(const std::function<void()>& f, int reps) {
  auto t0 = std::chrono::steady_clock::now();
  for (int i = 0; i < reps; ++i) f();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count() / reps;
}

double Command(const std::string& cmd, int reps) {
  return Seconds([&] { (void)!std::system((cmd + " >/dev/null 2>&1").c_str()); }, reps);
}

}  // namespace

int main(int argc, char** argv) {
  int reps = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  fs::path tmp = fs::temp_directory_path() / "codec_bench";
  fs::remove_all(tmp);
  double start = Command("true", reps);
  std::printf("process start: %.2f ms (included in the peers' times)\n\n", start * 1e3);
  std::printf("%-58s %12s %12s\n", "image", "ours ms", "peer ms");

  double oursTotal = 0, peerTotal = 0;
  int n = 0;
  for (auto& e : fs::directory_iterator(kCorpus / "pdfjs")) {
    std::string f = e.path().filename().string();
    if (f.rfind("bitmap-", 0) != 0 && f.rfind("jbig2_", 0) != 0) continue;
    for (auto& img : Extract(e.path(), "JBIG2Decode", tmp / f)) {
      double ours = Seconds([&] { TPVLJBIG2Decoder d; d.DecodeWithGlobals(img.data, img.globals); }, reps);
      std::string page = img.dir + "/page.jb2", globals = img.dir + "/globals.jb2";
      std::ofstream(page, std::ios::binary) << img.data;
      std::string cmd = "jbig2dec -q -e -t pbm -o /dev/null ";
      if (!img.globals.empty()) {
        std::ofstream(globals, std::ios::binary) << img.globals;
        cmd += globals + " ";
      }
      double peer = Command(cmd + page, reps);
      std::printf("%-58s %12.3f %12.3f\n", ("JBIG2 " + img.name).c_str(), ours * 1e3, peer * 1e3);
      oursTotal += ours;
      peerTotal += peer;
      ++n;
    }
  }
  std::printf("JBIG2: %d images, ours %.1f ms, jbig2dec %.1f ms (%.1f ms without process starts)\n\n", n,
              oursTotal * 1e3, peerTotal * 1e3, (peerTotal - n * start) * 1e3);

  for (const char* rel : {"pdfjs/ccitt_EndOfBlock_false.pdf", "samples/imagemagick-CCITTFaxDecode.pdf"}) {
    for (auto& img : Extract(kCorpus / rel, "CCITTFaxDecode", tmp / fs::path(rel).filename())) {
      int k = img.Parm("K", 0);
      double ours = Seconds(
          [&] {
            TPVLCCITTDecoder d(img.Parm("Columns", 1728), img.height, 1, img.Parm("EncodedByteAlign", 0) != 0, false);
            std::vector<uint8_t> out;
            try {
              if (k < 0) d.DecodeT6(out, img.data);
              if (k == 0) d.Decode1D(out, img.data);
              if (k > 0) d.Decode2D(out, img.data);
            } catch (const ECCITTError&) {
            }
          },
          reps * 20);
      std::printf("%-58s %12.4f %12s\n", ("CCITT " + img.name).c_str(), ours * 1e3, "-");
    }
  }
  std::printf("\n");

  oursTotal = peerTotal = 0;
  n = 0;
  for (const char* rel : {"pdfjs/alphatrans.pdf", "pdfjs/cmykjpeg.pdf", "samples/pdflatex-image.pdf",
                          "samples/imagemagick-images.pdf", "pdfjs/large_jpeg_downscale.pdf"}) {
    for (auto& img : Extract(kCorpus / rel, "DCTDecode", tmp / fs::path(rel).filename())) {
      double ours = Seconds(
          [&] {
            TPDFJPEGImage j;
            TMemoryStream s(img.data);
            j.LoadFromStream(s);
            j.GetBitmap();
          },
          reps);
      std::string file = img.dir + "/in.jpg";
      std::ofstream(file, std::ios::binary) << img.data;
      double peer = Command("djpeg -bmp -outfile /dev/null " + file, reps);
      std::printf("%-58s %12.3f %12.3f\n", ("JPEG " + img.name).c_str(), ours * 1e3, peer * 1e3);
      oursTotal += ours;
      peerTotal += peer;
      ++n;
    }
  }
  std::printf("JPEG: %d images, ours %.1f ms, djpeg %.1f ms (%.1f ms without process starts)\n", n, oursTotal * 1e3,
              peerTotal * 1e3, (peerTotal - n * start) * 1e3);
  fs::remove_all(tmp);
  return 0;
}
