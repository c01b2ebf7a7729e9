// PDF functions from arbitrary bytes. The first byte chooses how the rest is
// used: as a calculator (type 4) program, as the samples of a sampled
// function, or as a function dictionary in PDF syntax. Creation may refuse
// the function; evaluation must never crash, hang or give non-finite values.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "graphics/PavonaFunctions.h"
#include "objects/PavonaStructure.h"

namespace {

void evaluateSome(const TPDFFunction& f) {
  std::vector<double> out;
  const double probes[] = {-1, 0, 0.25, 0.5, 0.999, 1, 7};
  for (double p : probes) {
    std::vector<double> in(static_cast<size_t>(f.GetInputCount()), p);
    try {
      f.Evaluate(in, out);
    } catch (const EPDFFunctionError&) {
      continue;  // calculator stack overflow
    }
    if (out.size() != static_cast<size_t>(f.GetOutputCount())) std::abort();
    for (double v : out)
      if (!std::isfinite(v)) std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const std::string rest(reinterpret_cast<const char*>(data) + 1, size - 1);
  TPDFStructure pool;
  TPDFObject* obj = nullptr;
  switch (data[0] % 3) {
    case 0:
      obj = pool.NewStreamWith(rest, PDFAsDictionary(pool.ParseObject(
                                         "<< /FunctionType 4 /Domain [-10 10 -10 10] /Range [-1e9 1e9 -1e9 1e9 -1e9 1e9] >>")));
      break;
    case 1: {
      static const char* kDicts[] = {
          "<< /FunctionType 0 /Domain [0 1 0 1] /Range [0 1 0 1 0 1] /Size [3 5] /BitsPerSample 12 >>",
          "<< /FunctionType 0 /Domain [0 1] /Range [0 1] /Size [17] /BitsPerSample 1 /Encode [16 0] >>",
          "<< /FunctionType 0 /Domain [0 1 0 1 0 1] /Range [0 1 0 1] /Size [2 2 2] /BitsPerSample 32 >>"};
      const size_t pick = size > 1 ? data[1] % 3 : 0;
      obj = pool.NewStreamWith(rest, PDFAsDictionary(pool.ParseObject(kDicts[pick])));
      break;
    }
    default: obj = pool.ParseObject(rest); break;
  }
  try {
    auto f = CreatePDFFunction(obj);
    if (f) evaluateSome(*f);
  } catch (const EPDFFunctionError&) {
  }
  return 0;
}
