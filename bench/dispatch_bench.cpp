// The host's own cost per request, without processes or pipes: parse, dispatch, format.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

#include "dispatcher.h"
#include "framing.h"
#include "json_text.h"

namespace {

using koba::host::ActionTable;

void BM_DispatchIsExtensionOK(benchmark::State& state) {
  const ActionTable table{koba::host::IsExtensionOkAction()};
  rapidjson::Document doc;
  doc.Parse(R"({"type":"IsExtensionOK","tabID":5})");
  size_t bytes = 0;
  const koba::host::FrameWriter write = [&](std::string_view r) { bytes += r.size(); };
  for (auto _ : state) {
    koba::host::Dispatch(doc, table, write);
  }
  benchmark::DoNotOptimize(bytes);
}
BENCHMARK(BM_DispatchIsExtensionOK);

// Chunking and escaping a Base64 result of the given size (bytes per second is the figure).
void BM_ChunkedReply(benchmark::State& state) {
  const std::string text(static_cast<size_t>(state.range(0)), 'Q');
  size_t frames = 0;
  const koba::host::FrameWriter write = [&](std::string_view) { ++frames; };
  for (auto _ : state) {
    koba::host::Reply(1, "GMUsbKeySign", write).Chunked(text);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
  benchmark::DoNotOptimize(frames);
}
BENCHMARK(BM_ChunkedReply)->Arg(1 << 10)->Arg(3 << 20);

// Reading and parsing one framed request of the given payload size from a stream.
void BM_ReadRequest(benchmark::State& state) {
  std::string payload = R"({"type":"GMUsbKeySign","xmlInfo":")";
  payload.append(static_cast<size_t>(state.range(0)), 'x');
  payload += "\"}";
  const auto n = static_cast<uint32_t>(payload.size());
  std::string frame{static_cast<char>(n), static_cast<char>(n >> 8), static_cast<char>(n >> 16),
                    static_cast<char>(n >> 24)};
  frame += payload;
  std::FILE* in = std::tmpfile();
  std::fwrite(frame.data(), 1, frame.size(), in);
  rapidjson::Document doc;
  for (auto _ : state) {
    std::rewind(in);
    koba::host::ReadRequest(in, doc);
  }
  std::fclose(in);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_ReadRequest)->Arg(1 << 10)->Arg(8 << 20);

}  // namespace

BENCHMARK_MAIN();
