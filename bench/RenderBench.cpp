// Rendering the first pages of corpus files at 72 dpi: our renderer (cairo
// back-end and the GDI stand-in) beside pdftoppm doing the same pages in one
// run. Our side includes opening the file; pdftoppm's includes its start-up.
//   build/bench/render_bench
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "document/PavonaDocument.h"
#include "platform/GdiCanvas.h"
#include "render/PavonaRenderer.h"

namespace {

const char* const kFiles[] = {
    "pdfjs/tracemonkey.pdf",         "pdfjs/TAMReview.pdf",          "pdfjs/alphatrans.pdf",
    "pdfjs/devicen.pdf",             "pdfjs/cmykjpeg.pdf",           "pdfjs/annotation-square-circle.pdf",
    "samples/GeoTopo-komprimiert.pdf", "samples/pdflatex-4-pages.pdf", "samples/cmyk-image.pdf",
    "samples/multicolumn.pdf",
};

std::string CorpusDir() {
  if (const char* dir = std::getenv("PVL_CORPUS")) return dir;
  return (std::filesystem::path(__FILE__).parent_path() / ".." / ".." / "shared" / "corpus").lexically_normal();
}

std::string ReadWhole(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

TPDFDictionary* FirstPage(TPDFDocument& doc) {
  TPDFDictionary* trailer = doc.GetTrailer();
  TPDFDictionary* root = trailer ? PDFAsDictionary(PDFResolve(trailer->GetValue("Root"))) : nullptr;
  TPDFDictionary* node = root ? PDFAsDictionary(PDFResolve(root->GetValue("Pages"))) : nullptr;
  for (int depth = 0; node && depth < 32; ++depth) {
    TPDFArray* kids = PDFAsArray(PDFResolve(node->GetValue("Kids")));
    if (!kids || node->GetNameValue("Type") == "Page") return node;
    node = kids->GetCount() > 0 ? PDFAsDictionary(PDFResolve(kids->GetItem(0))) : nullptr;
  }
  return nullptr;
}

void RenderOurs(benchmark::State& state, bool cairo) {
  std::vector<std::string> files;
  for (const char* f : kFiles) files.push_back(ReadWhole(CorpusDir() + "/" + f));
  for (auto _ : state) {
    for (const std::string& bytes : files) {
      TPDFDocument doc;
      doc.SetFileText(bytes);
      if (!doc.ReadXRef()) continue;
      doc.BuildObjectTable();
      TPDFDictionary* page = FirstPage(doc);
      if (!page) continue;
      TPDFRenderer renderer(nullptr);
      renderer.PageObject = page;
      if (!cairo) {
        renderer.RenderPage();
        benchmark::DoNotOptimize(renderer.GetBitmap().Bits());
        continue;
      }
      renderer.OutputKind = rokCairo;
      renderer.MeasurePage();
      TBitmap target(renderer.GetOutputWidth(), renderer.GetOutputHeight(), TPixelFormat::pf24bit);
      TCanvas canvas(target);
      renderer.SetCairoTarget(canvas.Handle(), "libcairo.so.2", true);
      renderer.RenderPage();
      canvas.Flush();
      benchmark::DoNotOptimize(target.Bits());
    }
  }
  state.counters["pages"] = static_cast<double>(files.size());
}

void BM_OursCairo(benchmark::State& state) { RenderOurs(state, true); }
void BM_OursGDI(benchmark::State& state) { RenderOurs(state, false); }

void BM_Pdftoppm(benchmark::State& state) {
  const std::string out = (std::filesystem::temp_directory_path() / "render_bench_page").string();
  for (auto _ : state) {
    for (const char* f : kFiles) {
      const std::string command = "pdftoppm -r 72 -f 1 -l 1 -singlefile '" + CorpusDir() + "/" + f + "' '" + out +
                                  "' >/dev/null 2>&1";
      benchmark::DoNotOptimize(std::system(command.c_str()));
    }
  }
  std::filesystem::remove(out + ".ppm");
  state.counters["pages"] = static_cast<double>(std::size(kFiles));
}

BENCHMARK(BM_OursCairo)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OursGDI)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Pdftoppm)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
