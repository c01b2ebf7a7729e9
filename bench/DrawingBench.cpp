// Fills and strokes a page of 10,000 path segments through each drawing
// back-end (GDI, GDI+, cairo, HTML5 canvas) at 72 and 300 DPI, then prints
// the times side by side.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <map>

#include "graphics/PavonaPicasso.h"

namespace {

constexpr int kPaths = 100;
constexpr int kSegmentsPerPath = 100;  // 10,000 segments per page
const char* const kNames[] = {"", "GDI", "GDI+", "HTML5", "cairo"};

std::map<std::pair<int, int>, double> gMillis;  // (kind, dpi) -> ms per page

// One page in A4 points, scaled to the resolution: star-like closed paths
// of lines and curves, each filled and stroked.
void DrawPage(TPDFPicasso& p, double scale) {
  p.SetLineWidth(1.5 * scale);
  p.SetLineJoin(1);
  p.SetFillRule(frEvenOdd);
  for (int i = 0; i < kPaths; ++i) {
    double cx = 60 + (i % 10) * 50.0, cy = 80 + (i / 10) * 75.0;
    p.SetFillColor(RGB(uint8_t(i * 37), uint8_t(i * 91), uint8_t(255 - i)));
    p.SetStrokeColor(RGB(0, 0, uint8_t(i * 2)));
    p.BeginPath();
    for (int s = 0; s < kSegmentsPerPath; ++s) {
      double a = s * 2 * M_PI / kSegmentsPerPath * 7;
      double r = (s % 2 ? 10.0 : 24.0);
      double x = (cx + r * std::cos(a)) * scale, y = (cy + r * std::sin(a)) * scale;
      if (s == 0)
        p.MoveTo(x, y);
      else if (s % 5 == 0)
        p.CurveTo(x - 3 * scale, y, x, y + 3 * scale, x, y);
      else
        p.LineTo(x, y);
    }
    p.ClosePath();
    p.FillAndStrokePath();
  }
}

void BM_FillAndStroke(benchmark::State& state) {
  const int kind = static_cast<int>(state.range(0));
  const int dpi = static_cast<int>(state.range(1));
  const double scale = dpi / 72.0;
  TBitmap page(static_cast<int>(std::lround(595 * scale)), static_cast<int>(std::lround(842 * scale)),
               TPixelFormat::pf24bit);
  TCanvas canvas(page);
  TGDIPlusSettings settings;
  settings.AntiAlias = 1;
  for (auto _ : state) {
    TMemoryStream html;
    TPDFPicasso p;
    switch (kind) {
      case pkGDI: p.SetCanvas(canvas); break;
      case pkGDIPlus: p.AttachCanvas(&canvas, settings); break;
      case pkHTML: p.BeginHTMLCanvas(html); break;
      case pkCairo: p.BeginCairo(canvas.Handle(), "libcairo.so.2", true); break;
    }
    if (p.Kind() != kind) {
      state.SkipWithError("back-end not available");
      return;
    }
    DrawPage(p, scale);
    if (kind == pkHTML) p.EndHTMLCanvas(page.Width(), page.Height());
  }
  canvas.Flush();
  state.SetLabel(kNames[kind]);
}
BENCHMARK(BM_FillAndStroke)
    ->ArgsProduct({{pkGDI, pkGDIPlus, pkCairo, pkHTML}, {72, 300}})
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime()
    ->UseRealTime();

// Collects the per-page times for the summary table.
class SummaryReporter : public benchmark::ConsoleReporter {
public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& r : runs) {
      if (r.error_occurred || r.iterations == 0) continue;
      // Name: BM_FillAndStroke/<kind>/<dpi>/...
      int kind = 0, dpi = 0;
      if (std::sscanf(r.benchmark_name().c_str(), "BM_FillAndStroke/%d/%d", &kind, &dpi) == 2)
        gMillis[{kind, dpi}] = r.GetAdjustedRealTime();
    }
  }
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  SummaryReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  std::printf("\n%d path segments per page, fill and stroke, ms per page\n", kPaths * kSegmentsPerPath);
  std::printf("%6s %10s %10s %10s %10s\n", "DPI", "GDI", "GDI+", "cairo", "HTML5");
  for (int dpi : {72, 300}) {
    std::printf("%6d", dpi);
    for (int kind : {int(pkGDI), int(pkGDIPlus), int(pkCairo), int(pkHTML)}) {
      auto it = gMillis.find({kind, dpi});
      if (it == gMillis.end())
        std::printf(" %10s", "-");
      else
        std::printf(" %10.2f", it->second);
    }
    std::printf("\n");
  }
  benchmark::Shutdown();
  return 0;
}
