// ReadLogTail end to end under Windows (or Wine): mutex, file, tail and Base64, on a log of
// 10 000 lines with 45 request records in a temporary folder of its own. Prints the median
// and mean time of one call.
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <numeric>
#include <string>
#include <vector>

#include "diag_log.h"
#include "log_fixture.h"

int main() {
  wchar_t base[MAX_PATH + 1];
  GetTempPathW(MAX_PATH + 1, base);
  const std::wstring folder =
      std::wstring(base) + L"koba_bench_" + std::to_wstring(GetCurrentProcessId()) + L"\\";
  CreateDirectoryW(folder.c_str(), nullptr);
  SetEnvironmentVariableW(L"TMP", folder.c_str());
  SetEnvironmentVariableW(L"TEMP", folder.c_str());
  const std::wstring path = folder + L"KVN_BENCH";
  {
    const std::string log = koba::bench::BenchLog();
    std::ofstream out(path.c_str(), std::ios::binary);
    out.write(log.data(), static_cast<std::streamsize>(log.size()));
  }
  koba::diaglog::DiagnosticLog reader;
  std::string base64;
  constexpr int kRuns = 200;
  std::vector<double> us;
  us.reserve(kRuns);
  int failures = 0;
  for (int i = 0; i < kRuns; ++i) {
    const auto start = std::chrono::steady_clock::now();
    failures += reader.ReadLogTail("BENCH", 40, &base64) == 1 ? 0 : 1;
    us.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start)
                     .count());
  }
  DeleteFileW(path.c_str());
  RemoveDirectoryW(folder.c_str());
  std::sort(us.begin(), us.end());
  std::printf(
      "ReadLogTail, 10000 lines, 45 records, count 40: median %.1f us, mean %.1f us, "
      "%zu Base64 bytes, %d failures in %d runs\n",
      us[us.size() / 2], std::accumulate(us.begin(), us.end(), 0.0) / us.size(), base64.size(),
      failures, kRuns);
  return failures == 0 ? 0 : 1;
}
