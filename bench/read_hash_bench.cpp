// The cost GetSignFileContent would pay for every piece if it re-read and re-hashed the whole
// signature file: one full read of FILE plus one SM3 over it through the token library, timed
// under Windows (or Wine) beside the host's piece fetching (bench/file_sign_bench.py).
//
//     read_hash_bench.exe TOKEN_LIBRARY FILE RUNS      # prints the median seconds
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "token_api.h"

namespace {

template <class F>
F Entry(HMODULE module, const char* name) {
  return reinterpret_cast<F>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: read_hash_bench TOKEN_LIBRARY FILE RUNS\n");
    return 1;
  }
  const HMODULE token = LoadLibraryW(argv[1]);
  if (token == nullptr)
    return 2;
  const auto init = Entry<koba::token::PFN_Ossl_DigestInit>(token, "Ossl_DigestInit");
  const auto update = Entry<koba::token::PFN_Ossl_DigestUpdate>(token, "Ossl_DigestUpdate");
  const auto final = Entry<koba::token::PFN_Ossl_DigestFinal>(token, "Ossl_DigestFinal");
  if (init == nullptr || update == nullptr || final == nullptr)
    return 2;
  const int runs = std::max(1, _wtoi(argv[3]));
  std::vector<double> seconds;
  for (int run = 0; run < runs; ++run) {
    const auto start = std::chrono::steady_clock::now();
    const HANDLE file = CreateFileW(argv[2], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
      return 3;
    LARGE_INTEGER size;
    GetFileSizeEx(file, &size);
    std::string content(static_cast<size_t>(size.QuadPart), '\0');
    DWORD got = 0;
    size_t done = 0;
    while (
        done < content.size() &&
        ReadFile(file, &content[done], static_cast<DWORD>(content.size() - done), &got, nullptr) &&
        got > 0) {
      done += got;
    }
    CloseHandle(file);
    void* context = nullptr;
    uint8_t digest[64];
    int length = sizeof digest;
    if (done != content.size() || init(&context, koba::token::kOsslSm3) != 1 ||
        update(context, reinterpret_cast<const uint8_t*>(content.data()),
               static_cast<int>(content.size())) != 1 ||
        final(context, digest, &length) != 1) {
      return 4;
    }
    seconds.push_back(
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  std::sort(seconds.begin(), seconds.end());
  std::printf("%.4f\n", seconds[seconds.size() / 2]);
  return 0;
}
