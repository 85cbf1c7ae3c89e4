// The records of file signing that need no Windows API: the texts handed to pages, the ".sig"
// file name, the pieces GetSignFileContent hands out, the table of chosen files and the
// counter that stops a page from probing paths.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <random>
#include <string>
#include <string_view>

namespace koba::core {

constexpr size_t kFileRandomBytes = 32;
using FileRandom = std::array<uint8_t, kFileRandomBytes>;

// A signed-file token is the upper-case hex of an SM3 digest.
constexpr size_t kSignedFileTokenLength = 64;

// "TOKEN=%s||FILEPATH=%s||FILESIZE=%d" and "TOKEN=%s||FILENAME=%s||FILESIZE=%d".
std::string FileRecordText(std::string_view token, std::string_view path, uint32_t size);
std::string SignedFileRecordText(std::string_view token, std::string_view name, uint32_t size);

// The signer name of a ".sig" file: the caller's CN when it is not empty, else the text after
// "CN=" in the certificate's subject, else nothing. Characters a file name cannot hold (path
// separators, the colon, wildcards, quotes, control characters) become "_", so the name never
// leads out of the chosen file's folder.
std::string SignerName(std::string_view caller_cn, std::string_view subject);

// Six decimal digits, each 1 to 9, from the process's generator.
std::string SixDigits(std::mt19937& generator);

struct LocalTime {
  int year, month, day, hour, minute;
};

// "%s.%04d%02d%02d%02d%02d.%s.sig".
std::string SignatureFileName(std::string_view signer, const LocalTime& time,
                              std::string_view digits);

// Piece marks: the first piece with more to follow, a middle piece, the piece that reaches the
// end of the file (also a single piece).
constexpr int kMarkFirst = 0;
constexpr int kMarkMiddle = 1;
constexpr int kMarkLast = 2;

struct Piece {
  uint64_t offset = 0;
  size_t length = 0;  // bytes to read; the piece may end earlier, after a line break
  int mark = kMarkFirst;
};

// The piece of a signature file of `size` bytes that GetSignFileContent reads. -106 for a
// negative offset or a length below 1; -302 for an offset at or past the end of the file. The
// length never exceeds what the file holds, whatever `max_length` says.
int PlanPiece(uint64_t size, int64_t offset, int64_t max_length, Piece* piece);

// The mark of a piece of `length` bytes at `offset`: last when it reaches the end of the file
// (with a whole-piece request, when offset + maxLength + 1 exceeds the size).
int MarkOf(uint64_t size, uint64_t offset, size_t length);

// The piece ends after its first line feed, as a line read from the file would.
size_t LineLength(std::string_view bytes);

// Compares two tokens in time that does not depend on where they differ.
bool TokensEqual(std::string_view a, std::string_view b);

// A file a page chose or named, by its token.
struct ChosenFile {
  std::string path;  // as the front end registers it
  FileRandom random{};
  std::string token;
  bool encrypted = false;  // the token is the encrypted digest (NSFileToTokenExt)
};

// The chosen files of one front end: only grows; the first record of a token is kept.
class ChosenFileTable {
 public:
  // False when the token was present already (the record stays as it was).
  bool Add(ChosenFile file);
  // The record whose token equals `token` exactly, or null.
  const ChosenFile* Find(std::string_view token) const;
  size_t size() const { return files_.size(); }

 private:
  std::map<std::string, ChosenFile, std::less<>> files_;
};

// Counts NSFileToTokenExt's failed reads for the life of the front end. Once more than
// kProbeLimit have failed the action stays off: a success in between does not reset the count,
// so a page cannot interleave a readable file to go on probing.
class ProbeCounter {
 public:
  static constexpr int kProbeLimit = 10;
  bool ShutOff() const { return failures_ > kProbeLimit; }
  void Failed() {
    if (failures_ <= kProbeLimit)
      ++failures_;
  }
  int failures() const { return failures_; }

 private:
  int failures_ = 0;
};

}  // namespace koba::core
