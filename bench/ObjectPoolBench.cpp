// Object-pool operations on pools of growing size: freeing, name lookup and
// reference search must not slow down with the number of live objects.
//   bench-build/bench/objectpool_bench
#include <benchmark/benchmark.h>

#include <string>

#include "objects/PavonaStructure.h"

namespace {

// A pool holding about n objects, as a loaded document's pool does: page-like
// dictionaries with arrays, names, numbers and references.
void fillPool(TPDFStructure& pool, int64_t n) {
  for (int64_t i = 0; i < n / 12; ++i)
    pool.ParseObject("<< /Type /Page /Parent 2 0 R /MediaBox [ 0 0 612 792 ] /Contents " + std::to_string(i + 3) +
                     " 0 R /Rotate 0 >>");
}

// A stream's data replaced: every SetData frees the old /Filter entries.
void BM_StreamSetData(benchmark::State& state) {
  TPDFStructure pool;
  fillPool(pool, state.range(0));
  TPDFStream* stream = pool.NewStream("q Q", false);
  for (auto _ : state) {
    stream->SetData("0 0 m 10 10 l S", false);
    benchmark::DoNotOptimize(stream->GetData().size());
  }
}
BENCHMARK(BM_StreamSetData)->Arg(1000)->Arg(10000)->Arg(100000);

// An entry set and freed again.
void BM_FreeKey(benchmark::State& state) {
  TPDFStructure pool;
  fillPool(pool, state.range(0));
  TPDFDictionary* dict = pool.NewDictionary();
  for (auto _ : state) {
    dict->SetValue("Thumb", pool.NewArrayOf({pool.NewNumeric(1), pool.NewNumeric(2)}));
    dict->FreeKey("Thumb");
  }
  state.counters["live"] = pool.GetCount();
}
BENCHMARK(BM_FreeKey)->Arg(1000)->Arg(10000)->Arg(100000);

// Lookup of a name by its text.
void BM_FindName(benchmark::State& state) {
  TPDFStructure pool;
  fillPool(pool, state.range(0));
  pool.NewName("Needle");
  for (auto _ : state) benchmark::DoNotOptimize(pool.FindName("Needle"));
}
BENCHMARK(BM_FindName)->Arg(1000)->Arg(10000)->Arg(100000);

// A reference searched in a long /Annots-like array.
void BM_IndexOfRef(benchmark::State& state) {
  TPDFStructure pool;
  TPDFArray* refs = pool.NewArray();
  for (int32_t i = 0; i < state.range(0); ++i) refs->Add(pool.NewIndRef(i + 1, 0));
  TPDFIndRef* last = pool.NewIndRef(static_cast<int32_t>(state.range(0)), 0);
  for (auto _ : state) benchmark::DoNotOptimize(refs->IndexOfRef(last));
}
BENCHMARK(BM_IndexOfRef)->Arg(100)->Arg(1000)->Arg(10000);

}  // namespace

BENCHMARK_MAIN();
