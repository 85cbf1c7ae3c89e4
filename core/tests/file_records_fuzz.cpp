// Feeds arbitrary bytes to the file-signing rules that page input reaches: a signer name never
// leads out of its folder, and a planned piece never reaches outside its file.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "file_records.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 24)
    return 0;
  uint64_t file_size;
  int64_t offset, max_length;
  std::memcpy(&file_size, data, 8);
  std::memcpy(&offset, data + 8, 8);
  std::memcpy(&max_length, data + 16, 8);
  koba::core::Piece piece;
  if (koba::core::PlanPiece(file_size, offset, max_length, &piece) == 0) {
    if (piece.offset >= file_size || piece.length == 0 || piece.length > file_size - piece.offset ||
        static_cast<int64_t>(piece.length) > max_length)
      std::abort();
  }
  const std::string_view rest(reinterpret_cast<const char*>(data + 24), size - 24);
  const size_t half = rest.size() / 2;
  const std::string name = koba::core::SignerName(rest.substr(0, half), rest.substr(half));
  if (name.find_first_of("\\/:*?\"<>|") != std::string::npos)
    std::abort();
  for (char c : name) {
    if (static_cast<unsigned char>(c) < 0x20)
      std::abort();
  }
  return 0;
}
