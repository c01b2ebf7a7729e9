// Prepares decoded images for drawing at the sizes pages draw them: a
// 4,958 x 3,508 colour picture (an A4 page at 600 dpi) reduced to a small
// tile and to a 72 dpi page, and a 1-bit scan of 2,550 x 3,300 pixels (300
// dpi, left packed) reduced to 72 and 150 dpi pages.
#include <benchmark/benchmark.h>

#include <string>

#include "graphics/PavonaImageDecoder.h"
#include "render/PavonaImageCache.h"

namespace {

std::unique_ptr<TPDFImageDecoder> Decoded(int width, int height, const std::string& colorSpace, int bits) {
  const int components = colorSpace == "/DeviceRGB" ? 3 : 1;
  const size_t rowBytes = (size_t(width) * components * bits + 7) / 8;
  TPDFInlineImage image;
  image.Width = width, image.Height = height, image.BitsPerComponent = bits;
  image.ColorSpace = colorSpace;
  image.Data.resize(rowBytes * height);
  // Text-like detail: runs of ink and paper of varying length.
  uint32_t state = 12345;
  for (char& c : image.Data) {
    state = state * 1103515245u + 12345u;
    c = static_cast<char>((state >> 16) & 0xFF);
  }
  auto decoder = std::make_unique<TPDFImageDecoder>();
  decoder->KeepBilevel = true;
  decoder->ExpandInlineImage(image, nullptr);
  return decoder;
}

void Prepare(benchmark::State& state, int width, int height, const char* colorSpace, int bits, int targetWidth,
             int targetHeight) {
  auto decoder = Decoded(width, height, colorSpace, bits);
  if (!decoder->IsReady()) {
    state.SkipWithError("the image was not decoded");
    return;
  }
  for (auto _ : state) {
    auto prepared = PrepareImage(*decoder, targetWidth, targetHeight);
    benchmark::DoNotOptimize(prepared.get());
  }
  state.SetItemsProcessed(state.iterations() * int64_t(width) * height);
}

BENCHMARK_CAPTURE(Prepare, rgb_600dpi_to_tile, 4958, 3508, "/DeviceRGB", 8, 113, 80)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Prepare, rgb_600dpi_to_72dpi, 4958, 3508, "/DeviceRGB", 8, 595, 421)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Prepare, bilevel_300dpi_to_72dpi, 2550, 3300, "/DeviceGray", 1, 612, 792)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Prepare, bilevel_300dpi_to_150dpi, 2550, 3300, "/DeviceGray", 1, 1275, 1650)
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
