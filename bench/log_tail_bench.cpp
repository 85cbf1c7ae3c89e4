// The log reader's work without the Windows parts: split the file into lines, find the last
// 40 request records, join them with LF line ends and encode them.
#include <benchmark/benchmark.h>

#include "log_fixture.h"
#include "log_text.h"
#include "text_encoding.h"

namespace {

void BM_TailText(benchmark::State& state) {
  const std::string log = koba::bench::BenchLog();
  for (auto _ : state) {
    std::string base64 = koba::text::Base64Encode(koba::diaglog::TailText(log, 40));
    benchmark::DoNotOptimize(base64);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * log.size()));
}
BENCHMARK(BM_TailText)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
