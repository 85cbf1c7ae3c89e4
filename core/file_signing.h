// File signing: the page has a file chosen or names one and receives an opaque file record;
// the key signs the file of a token into a ".sig" file beside it; the signature's text goes
// back piece by piece, only to a caller that presents the signed file's token.
#pragma once

#include <windows.h>

#include <cstdint>
#include <random>
#include <string>
#include <string_view>

#include "csp.h"
#include "file_records.h"
#include "token_core.h"
#include "win_handle.h"

namespace koba::core {

// Longest page path the file-signing operations take, in bytes once its backslashes are doubled.
constexpr size_t kMaxRecordPathBytes = 519;

// What a front end keeps between file-signing requests for as long as it lives: the chosen
// files, the counter of NSFileToTokenExt's failed reads and the last signed file. The last
// signed file stays open, readable by others but not writable, so the content handed out is
// the content its token was made for.
class FileSigningState {
 public:
  FileSigningState();

  ChosenFileTable& chosen() { return chosen_; }
  ProbeCounter& probes() { return probes_; }
  std::mt19937& generator() { return generator_; }

  struct SignedFile {
    win::UniqueHandle file;
    std::wstring path;
    uint64_t size = 0;
    std::string token;
  };
  // Replaces the last signed file (the previous token stops working).
  void Remember(SignedFile signed_file) { signed_ = std::move(signed_file); }
  const SignedFile& last_signed() const { return signed_; }

 private:
  ChosenFileTable chosen_;
  ProbeCounter probes_;
  std::mt19937 generator_;
  SignedFile signed_;
};

// The open-file dialog: the chosen path as UTF-8 (capacity bytes, NUL included); -100 when the
// user cancels, the dialog fails or the path does not fit.
int NSChooseFile(char* out, size_t capacity);

// Lets the user choose a file, registers it under a new token and writes the Base64 of its
// file record. -100 cancelled, -106 a path that is no local file's drive path or too long,
// -302/-400 unreadable, -101/-102/-104 key, -359 no random bytes, -300 digest.
int NSChooseFileExt(TokenCore& core, FileSigningState& state, char* out, size_t capacity);

// The same for a file the page names (GB18030). Every failed read counts; once more than ten
// have failed in this process the action answers -101 without touching any file.
int NSFileToTokenExt(TokenCore& core, FileSigningState& state, std::string_view path_gb18030,
                     char* out, size_t capacity);

// Signs the file at `file_path` (UTF-8) as GMUsbKeySign does and writes the Base64 PKCS#7 text
// to `output_path` (GB18030, created or truncated; null: none). An empty DN selects the key's
// special certificate. -360 when the output cannot be written; no output file is left behind
// on any failure.
int GMUsbKeySignFile(TokenCore& core, csp::CspInterface& csp, std::string_view cert_dn,
                     std::string_view digest_name, std::string_view xml, std::string_view key_info,
                     std::string_view file_path, const std::string* output_path_gb18030);

// Signs the file of a chosen-file token into "<signer>.<local time>.<digits>.sig" beside it
// (in the temporary folder when its folder cannot be written) and writes the Base64 of the
// signed-file record. -106 for a token not registered in this process, or whose file changed
// since it was chosen.
int GMUsbKeySignFileExt(TokenCore& core, csp::CspInterface& csp, FileSigningState& state,
                        std::string_view cert_dn, std::string_view digest_name,
                        std::string_view xml, std::string_view key_info,
                        std::string_view choose_file_token, char* out, size_t capacity);

// One piece of the last signed file for the holder of its token: at most `max_length` bytes
// from `file_offset` (ending after a line feed), and its mark. -106 for another token (or
// none signed yet), a negative offset or a length below 1; -302 past the end.
int GetSignFileContent(FileSigningState& state, std::string_view signed_file_token,
                       int32_t max_length, int32_t file_offset, std::string* content, int* mark);

}  // namespace koba::core
