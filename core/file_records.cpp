#include "file_records.h"

#include <algorithm>
#include <cstdio>

#include "result_codes.h"

namespace koba::core {

std::string FileRecordText(std::string_view token, std::string_view path, uint32_t size) {
  std::string out = "TOKEN=";
  out.append(token).append("||FILEPATH=").append(path).append("||FILESIZE=");
  return out + std::to_string(size);
}

std::string SignedFileRecordText(std::string_view token, std::string_view name, uint32_t size) {
  std::string out = "TOKEN=";
  out.append(token).append("||FILENAME=").append(name).append("||FILESIZE=");
  return out + std::to_string(size);
}

std::string SignerName(std::string_view caller_cn, std::string_view subject) {
  std::string_view name = caller_cn;
  if (name.empty()) {
    const size_t cn = subject.find("CN=");
    if (cn != std::string_view::npos)
      name = subject.substr(cn + 3);
  }
  std::string out(name);
  for (char& c : out) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F || std::string_view("\\/:*?\"<>|").find(c) != std::string_view::npos)
      c = '_';
  }
  return out;
}

std::string SixDigits(std::mt19937& generator) {
  std::uniform_int_distribution<int> digit(1, 9);
  std::string out(6, '1');
  for (char& c : out)
    c = static_cast<char>('0' + digit(generator));
  return out;
}

std::string SignatureFileName(std::string_view signer, const LocalTime& t,
                              std::string_view digits) {
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, ".%04d%02d%02d%02d%02d.", t.year % 10000, t.month % 100,
                t.day % 100, t.hour % 100, t.minute % 100);
  std::string out(signer);
  out.append(stamp).append(digits).append(".sig");
  return out;
}

int PlanPiece(uint64_t size, int64_t offset, int64_t max_length, Piece* piece) {
  if (offset < 0 || max_length < 1)
    return kBadParameter;
  const auto start = static_cast<uint64_t>(offset);
  if (start >= size)
    return kReadError;
  const auto wanted = static_cast<uint64_t>(max_length);
  piece->offset = start;
  piece->length = static_cast<size_t>(std::min(wanted, size - start));
  piece->mark = MarkOf(size, start, piece->length);
  return kOk;
}

int MarkOf(uint64_t size, uint64_t offset, size_t length) {
  if (offset + length >= size)
    return kMarkLast;
  return offset == 0 ? kMarkFirst : kMarkMiddle;
}

size_t LineLength(std::string_view bytes) {
  const size_t feed = bytes.find('\n');
  return feed == std::string_view::npos ? bytes.size() : feed + 1;
}

bool TokensEqual(std::string_view a, std::string_view b) {
  if (a.size() != b.size())
    return false;
  unsigned char diff = 0;
  for (size_t i = 0; i < a.size(); ++i)
    diff |= static_cast<unsigned char>(a[i] ^ b[i]);
  return diff == 0;
}

bool ChosenFileTable::Add(ChosenFile file) {
  const std::string key = file.token;
  return files_.emplace(key, std::move(file)).second;
}

const ChosenFile* ChosenFileTable::Find(std::string_view token) const {
  if (token.empty())
    return nullptr;
  const auto it = files_.find(token);
  return it == files_.end() ? nullptr : &it->second;
}

}  // namespace koba::core
