#include "file_signing.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <vector>

#include "certificates.h"
#include "file_chooser.h"
#include "path_policy.h"
#include "queries.h"
#include "result_codes.h"
#include "signing.h"
#include "text_encoding.h"
#include "token_api.h"

namespace koba::core {
namespace {

constexpr size_t kReadBlock = 1 << 20;
constexpr size_t kWriteBlock = 4096;
constexpr size_t kNsChooseFileChars = 520;
constexpr size_t kChooseFileExtChars = 260;
// New digits are drawn when a ".sig" file of the same name exists already.
constexpr int kNameAttempts = 8;

std::wstring Wide(std::u16string_view text) {
  return std::wstring(text.begin(), text.end());
}

bool Utf8OfWide(const std::wstring& wide, std::string* utf8) {
  return text::Utf16ToUtf8(std::u16string(wide.begin(), wide.end()), utf8);
}

// The page's path as the file system receives it, when the path rule accepts it and it is on a
// drive of this machine.
bool LocalFilePath(std::u16string_view path, std::wstring* wide) {
  if (!paths::IsAcceptedPagePath(path))
    return false;
  const wchar_t root[] = {static_cast<wchar_t>(path[0]), L':', L'\\', L'\0'};
  const UINT type = GetDriveTypeW(root);
  if (type == DRIVE_REMOTE || type == DRIVE_NO_ROOT_DIR)
    return false;
  *wide = Wide(path);
  return true;
}

// Opens a page's file for reading; others may read it but not change it while it is open.
int OpenForReading(const std::wstring& path, win::UniqueHandle* file, uint64_t* size) {
  *file = win::OwnFile(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!*file || GetFileType(file->get()) != FILE_TYPE_DISK)
    return kReadError;
  LARGE_INTEGER length;
  if (!GetFileSizeEx(file->get(), &length))
    return kReadError;
  // Records carry the size as a signed 32-bit number.
  if (length.QuadPart > std::numeric_limits<int32_t>::max())
    return kNoMemory;
  *size = static_cast<uint64_t>(length.QuadPart);
  return kOk;
}

// SM3 through the token library (which must be bound with the full set).
class Sm3 {
 public:
  explicit Sm3(const TokenEntryPoints& api) : api_(api) {
    ok_ = api_.DigestInit(&context_, token::kOsslSm3) == 1 && context_ != nullptr;
  }
  ~Sm3() {
    if (context_ != nullptr) {
      uint8_t ignored[64];
      int length = sizeof ignored;
      api_.DigestFinal(context_, ignored, &length);
    }
  }
  Sm3(const Sm3&) = delete;
  Sm3& operator=(const Sm3&) = delete;

  void Update(const void* data, size_t length) {
    const auto* bytes = static_cast<const uint8_t*>(data);
    while (ok_ && length > 0) {
      const int part = static_cast<int>(std::min<size_t>(length, 1 << 30));
      ok_ = api_.DigestUpdate(context_, bytes, part) == 1;
      bytes += part;
      length -= static_cast<size_t>(part);
    }
  }
  bool Final(std::vector<uint8_t>* digest) {
    if (!ok_)
      return false;
    uint8_t out[64];
    int length = sizeof out;
    void* context = context_;
    context_ = nullptr;
    if (api_.DigestFinal(context, out, &length) != 1 || length != 32)
      return false;
    digest->assign(out, out + length);
    return true;
  }

 private:
  const TokenEntryPoints& api_;
  void* context_ = nullptr;
  bool ok_ = false;
};

// Feeds `size` bytes of `file`, from its start, to `digest`.
int HashContent(HANDLE file, uint64_t size, Sm3* digest) {
  LARGE_INTEGER start = {};
  if (!SetFilePointerEx(file, start, nullptr, FILE_BEGIN))
    return kReadError;
  std::vector<uint8_t> block(static_cast<size_t>(std::min<uint64_t>(size, kReadBlock)) + 1);
  uint64_t done = 0;
  while (done < size) {
    DWORD got = 0;
    const auto want = static_cast<DWORD>(std::min<uint64_t>(size - done, block.size()));
    if (!ReadFile(file, block.data(), want, &got, nullptr) || got == 0)
      return kReadError;
    digest->Update(block.data(), got);
    done += got;
  }
  return kOk;
}

// hex(SM3(name ‖ content ‖ random)), or of its encryption with the fixed key for the tokens of
// NSFileToTokenExt.
int MakeToken(const TokenEntryPoints& api, std::string_view name, HANDLE file, uint64_t size,
              const FileRandom& random, bool encrypted, std::string* token) {
  Sm3 digest(api);
  digest.Update(name.data(), name.size());
  const int read = HashContent(file, size, &digest);
  if (read != kOk)
    return read;
  digest.Update(random.data(), random.size());
  std::vector<uint8_t> value;
  if (!digest.Final(&value))
    return kOtherError;
  if (!encrypted) {
    *token = text::HexUpper(value.data(), value.size());
    return kOk;
  }
  // The key and IV are made here rather than stored as they are.
  uint8_t key[24];
  uint8_t iv[8];
  for (size_t i = 0; i < sizeof key; ++i)
    key[i] = static_cast<uint8_t>(0x4B + 29 * i);
  for (size_t i = 0; i < sizeof iv; ++i)
    iv[i] = static_cast<uint8_t>(0xB4 ^ (17 * i));
  void* context = nullptr;
  if (api.EncryptInit(&context, token::kOsslCipherDesEde3Cbc, key, iv) != 1 || context == nullptr) {
    return kOtherError;
  }
  uint8_t out[64];
  int first = static_cast<int>(sizeof out);
  const bool updated =
      api.EncryptUpdate(context, value.data(), static_cast<int>(value.size()), out, &first) == 1 &&
      first >= 0 && first <= 48;
  int last = static_cast<int>(sizeof out) - (updated ? first : 0);
  const bool finished = api.EncryptFinal(context, out + (updated ? first : 0), &last) == 1;
  if (!updated || !finished || last < 0 || first + last > static_cast<int>(sizeof out))
    return kOtherError;
  *token = text::HexUpper(out, static_cast<size_t>(first + last));
  return kOk;
}

int RandomBytes(TokenCore& core, FileRandom* random) {
  uint32_t slot;
  DeviceInfo info;
  const int found = core.FindKey(BindSet::kFull, &slot, &info);
  if (found != kOk)
    return found;
  if (core.api().GetRandBytes(slot, random->data(), static_cast<uint32_t>(random->size())) < 0)
    return kNoRandom;
  return kOk;
}

// The Base64 of `record` into the caller's buffer.
int WriteRecord(const std::string& record, char* out, size_t capacity) {
  const std::string base64 = text::Base64Encode(record);
  if (base64.size() + 1 > capacity)
    return kOtherError;
  std::memcpy(out, base64.c_str(), base64.size() + 1);
  return kOk;
}

// Registers the file at `wide` (accepted by the path rule) under a new token. `read_failed`
// tells whether the failure was the file's.
int RegisterFile(TokenCore& core, FileSigningState& state, const std::wstring& wide, bool encrypted,
                 char* out, size_t capacity, bool* read_failed) {
  *read_failed = true;
  std::string utf8;
  if (!Utf8OfWide(wide, &utf8))
    return kBadParameter;
  ChosenFile file;
  file.path = paths::DoubleBackslashes(utf8);
  file.encrypted = encrypted;
  if (file.path.size() > kMaxRecordPathBytes)
    return kBadParameter;
  win::UniqueHandle handle;
  uint64_t size = 0;
  const int opened = OpenForReading(wide, &handle, &size);
  if (opened != kOk)
    return opened;
  *read_failed = false;
  const int random = RandomBytes(core, &file.random);
  if (random != kOk)
    return random;
  const int made =
      MakeToken(core.api(), file.path, handle.get(), size, file.random, encrypted, &file.token);
  if (made != kOk) {
    *read_failed = made == kReadError;
    return made;
  }
  const int written =
      WriteRecord(FileRecordText(file.token, utf8, static_cast<uint32_t>(size)), out, capacity);
  if (written != kOk)
    return written;
  state.chosen().Add(std::move(file));
  return kOk;
}

template <class F>
int Guarded(TokenCore& core, F&& operation) {
  BindingGuard guard(core);
  try {
    return core.Finish(operation());
  } catch (const std::bad_alloc&) {
    return core.Finish(kNoMemory);
  } catch (const std::length_error&) {
    return core.Finish(kNoMemory);
  }
}

// A ".sig" file being made: deleted when it goes out of scope unless it was kept.
class NewSignatureFile {
 public:
  NewSignatureFile() = default;
  ~NewSignatureFile() {
    if (path_.empty())
      return;
    file_.reset();
    DeleteFileW(path_.c_str());
  }
  NewSignatureFile(const NewSignatureFile&) = delete;
  NewSignatureFile& operator=(const NewSignatureFile&) = delete;

  // Creates `path` only when no file of that name exists; false with the system's error.
  bool Create(const std::wstring& path, DWORD* error) {
    file_ = win::OwnFile(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
    *error = file_ ? 0 : GetLastError();
    if (file_)
      path_ = path;
    return static_cast<bool>(file_);
  }
  // Once written, the file is held for reading only: others may read it, nobody may change it.
  bool Reopen() {
    file_.reset();
    file_ = win::OwnFile(CreateFileW(path_.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                     OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    return static_cast<bool>(file_);
  }
  HANDLE get() const { return file_.get(); }
  const std::wstring& path() const { return path_; }
  // The file stays; its handle passes to the caller.
  win::UniqueHandle Keep() {
    path_.clear();
    return std::move(file_);
  }

 private:
  win::UniqueHandle file_;
  std::wstring path_;
};

bool WriteAll(HANDLE file, const char* text, size_t length) {
  while (length > 0) {
    const auto part = static_cast<DWORD>(std::min(length, kWriteBlock));
    DWORD written = 0;
    if (!WriteFile(file, text, part, &written, nullptr) || written != part)
      return false;
    text += part;
    length -= part;
  }
  return FlushFileBuffers(file) != 0;
}

// The signed text, written to `file`.
int SignInto(TokenCore& core, csp::CspInterface& csp, std::string_view cert_dn,
             std::string_view digest_name, std::string_view xml, std::string_view key_info,
             std::string_view file_path, HANDLE file) {
  char* text = nullptr;
  const int code = SignWithinOperation(core, csp, SignCaller::kFileSigning, cert_dn, digest_name,
                                       xml, key_info, file_path, &text);
  const std::unique_ptr<char, void (*)(char*)> owned(text, &ReleaseResultText);
  if (code != kOk)
    return code;
  if (owned == nullptr)
    return kOtherError;
  return WriteAll(file, owned.get(), std::strlen(owned.get())) ? kOk : kOpenFileError;
}

// The name of the signer of a ".sig" file, from the DN or the certificate chosen for signing.
int SignerOf(TokenCore& core, csp::CspInterface& csp, std::string_view cert_dn,
             std::string* signer) {
  uint32_t slot;
  DeviceInfo info;
  const int found = core.FindKey(BindSet::kFull, &slot, &info);
  if (found != kOk)
    return found;
  const std::string serial =
      TrimSerial(info.data() + token::devinfo::kSerial, token::devinfo::kSerialSize);
  std::vector<Candidate> candidates;
  bool admin = false;
  CollectCandidates(core, csp, slot, info, &candidates, &admin);
  SelectOptions options;
  options.admin_key = admin;
  options.signing = true;
  const WantedDn wanted = SplitDn(cert_dn);
  size_t chosen = 0;
  const int selected = SelectCandidate(candidates, serial, wanted, options, &chosen);
  if (selected != kOk)
    return selected;
  *signer = SignerName(wanted.cn, candidates[chosen].subject);
  return kOk;
}

// Creates the ".sig" file beside the chosen file, or in the temporary folder when its folder
// cannot take it.
int CreateSignatureFile(FileSigningState& state, const std::wstring& chosen,
                        const std::string& signer, const LocalTime& time, NewSignatureFile* sig,
                        std::string* name_utf8) {
  const std::wstring folder = chosen.substr(0, chosen.find_last_of(L"\\/") + 1);
  wchar_t temp[MAX_PATH + 1] = {};
  const DWORD temp_length = GetTempPathW(MAX_PATH + 1, temp);
  for (const std::wstring& dir :
       {folder, temp_length > 0 && temp_length <= MAX_PATH ? std::wstring(temp) : L""}) {
    if (dir.empty())
      continue;
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
      *name_utf8 = SignatureFileName(signer, time, SixDigits(state.generator()));
      std::u16string name;
      if (!text::Utf8ToUtf16(*name_utf8, &name))
        return kBadParameter;
      DWORD error = 0;
      if (sig->Create(dir + Wide(name), &error))
        return kOk;
      if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS)
        break;
    }
  }
  return kOpenFileError;
}

int SignFileExt(TokenCore& core, csp::CspInterface& csp, FileSigningState& state,
                std::string_view cert_dn, std::string_view digest_name, std::string_view xml,
                std::string_view key_info, std::string_view choose_file_token, char* out,
                size_t capacity) {
  const ChosenFile* chosen = state.chosen().Find(choose_file_token);
  if (chosen == nullptr)
    return kBadParameter;
  SYSTEMTIME now;
  GetLocalTime(&now);
  const LocalTime time{now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute};

  std::string signer;
  const int named = SignerOf(core, csp, cert_dn, &signer);
  if (named != kOk)
    return named;

  // The chosen file is held against writers from here on, and must still be the file its
  // token was made for.
  std::u16string chosen_wide;
  if (!text::Utf8ToUtf16(paths::UndoubleBackslashes(chosen->path), &chosen_wide))
    return kBadParameter;
  const std::wstring chosen_path = Wide(chosen_wide);
  win::UniqueHandle held;
  uint64_t chosen_size = 0;
  const int opened = OpenForReading(chosen_path, &held, &chosen_size);
  if (opened != kOk)
    return opened;
  std::string current;
  const int remade = MakeToken(core.api(), chosen->path, held.get(), chosen_size, chosen->random,
                               chosen->encrypted, &current);
  if (remade != kOk)
    return remade;
  if (!TokensEqual(current, chosen->token))
    return kBadParameter;

  NewSignatureFile sig;
  std::string name;
  const int created = CreateSignatureFile(state, chosen_path, signer, time, &sig, &name);
  if (created != kOk)
    return created;
  const int signed_code =
      SignInto(core, csp, cert_dn, digest_name, xml, key_info, chosen->path, sig.get());
  if (signed_code != kOk)
    return signed_code;
  if (!sig.Reopen())
    return kReadError;

  LARGE_INTEGER length;
  if (!GetFileSizeEx(sig.get(), &length) || length.QuadPart > std::numeric_limits<int32_t>::max()) {
    return kReadError;
  }
  const auto size = static_cast<uint64_t>(length.QuadPart);
  FileRandom random{};
  const int fetched = RandomBytes(core, &random);
  if (fetched != kOk)
    return fetched;
  std::string sig_path;
  if (!Utf8OfWide(sig.path(), &sig_path))
    return kBadParameter;
  FileSigningState::SignedFile result;
  const int made = MakeToken(core.api(), sig_path, sig.get(), size, random, false, &result.token);
  if (made != kOk)
    return made;
  const int written = WriteRecord(
      SignedFileRecordText(result.token, name, static_cast<uint32_t>(size)), out, capacity);
  if (written != kOk)
    return written;
  result.path = sig.path();
  result.size = size;
  result.file = sig.Keep();
  state.Remember(std::move(result));
  return kOk;
}

}  // namespace

FileSigningState::FileSigningState() {
  std::random_device device;
  std::seed_seq seed{device(), device(), static_cast<unsigned>(GetTickCount()),
                     static_cast<unsigned>(GetCurrentProcessId())};
  generator_.seed(seed);
}

int NSChooseFile(char* out, size_t capacity) {
  if (out == nullptr || capacity == 0)
    return kBadParameter;
  out[0] = '\0';
  std::wstring path;
  const int chosen = ChooseFile(kNsChooseFileChars, &path);
  if (chosen != kOk)
    return chosen;
  std::string utf8;
  if (!Utf8OfWide(path, &utf8) || utf8.size() + 1 > capacity)
    return kCancelled;
  std::memcpy(out, utf8.c_str(), utf8.size() + 1);
  return kOk;
}

int NSChooseFileExt(TokenCore& core, FileSigningState& state, char* out, size_t capacity) {
  if (out == nullptr || capacity == 0)
    return core.Finish(kBadParameter);
  out[0] = '\0';
  return Guarded(core, [&]() -> int {
    std::wstring path;
    const int chosen = ChooseFile(kChooseFileExtChars, &path);
    if (chosen != kOk)
      return chosen;
    std::wstring local;
    if (!LocalFilePath(std::u16string(path.begin(), path.end()), &local))
      return kBadParameter;
    bool read_failed = false;
    return RegisterFile(core, state, local, false, out, capacity, &read_failed);
  });
}

int NSFileToTokenExt(TokenCore& core, FileSigningState& state, std::string_view path_gb18030,
                     char* out, size_t capacity) {
  if (out == nullptr || capacity == 0)
    return core.Finish(kBadParameter);
  out[0] = '\0';
  if (state.probes().ShutOff())
    return core.Finish(kLibraryMissing);
  return Guarded(core, [&]() -> int {
    std::u16string wide;
    std::wstring local;
    bool read_failed = true;
    int code = kBadParameter;
    if (text::Gb18030ToUtf16(path_gb18030, &wide) && LocalFilePath(wide, &local))
      code = RegisterFile(core, state, local, true, out, capacity, &read_failed);
    if (code != kOk && read_failed) {
      state.probes().Failed();
      if (state.probes().ShutOff())
        return kLibraryMissing;
    }
    return code;
  });
}

int GMUsbKeySignFile(TokenCore& core, csp::CspInterface& csp, std::string_view cert_dn,
                     std::string_view digest_name, std::string_view xml, std::string_view key_info,
                     std::string_view file_path, const std::string* output_path_gb18030) {
  return Guarded(core, [&]() -> int {
    std::u16string wide;
    if (output_path_gb18030 == nullptr || !text::Gb18030ToUtf16(*output_path_gb18030, &wide))
      return kOpenFileError;
    std::wstring output;
    if (!LocalFilePath(wide, &output))
      return kBadParameter;
    char* text = nullptr;
    const int code = SignWithinOperation(core, csp, SignCaller::kFileSigning, cert_dn, digest_name,
                                         xml, key_info, file_path, &text);
    const std::unique_ptr<char, void (*)(char*)> owned(text, &ReleaseResultText);
    if (code != kOk)
      return code;
    if (owned == nullptr)
      return kOtherError;
    // Made only once the signature exists, and removed again when it cannot be written whole.
    win::UniqueHandle file = win::OwnFile(CreateFileW(
        output.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
      return kOpenFileError;
    if (!WriteAll(file.get(), owned.get(), std::strlen(owned.get()))) {
      file.reset();
      DeleteFileW(output.c_str());
      return kOpenFileError;
    }
    return kOk;
  });
}

int GMUsbKeySignFileExt(TokenCore& core, csp::CspInterface& csp, FileSigningState& state,
                        std::string_view cert_dn, std::string_view digest_name,
                        std::string_view xml, std::string_view key_info,
                        std::string_view choose_file_token, char* out, size_t capacity) {
  if (out == nullptr || capacity == 0)
    return core.Finish(kBadParameter);
  out[0] = '\0';
  return Guarded(core, [&]() {
    return SignFileExt(core, csp, state, cert_dn, digest_name, xml, key_info, choose_file_token,
                       out, capacity);
  });
}

int GetSignFileContent(FileSigningState& state, std::string_view signed_file_token,
                       int32_t max_length, int32_t file_offset, std::string* content, int* mark) {
  content->clear();
  const FileSigningState::SignedFile& last = state.last_signed();
  if (signed_file_token.size() != kSignedFileTokenLength || !last.file ||
      !TokensEqual(signed_file_token, last.token)) {
    return kBadParameter;
  }
  Piece piece;
  const int planned = PlanPiece(last.size, file_offset, max_length, &piece);
  if (planned != kOk)
    return planned;
  try {
    content->resize(piece.length);
  } catch (const std::bad_alloc&) {
    return kNoMemory;
  }
  LARGE_INTEGER at;
  at.QuadPart = static_cast<LONGLONG>(piece.offset);
  if (!SetFilePointerEx(last.file.get(), at, nullptr, FILE_BEGIN))
    return kReadError;
  size_t done = 0;
  while (done < piece.length) {
    DWORD got = 0;
    const auto want = static_cast<DWORD>(std::min<size_t>(piece.length - done, 1u << 30));
    if (!ReadFile(last.file.get(), content->data() + done, want, &got, nullptr) || got == 0) {
      content->clear();
      return kReadError;
    }
    done += got;
  }
  content->resize(LineLength(*content));
  *mark = MarkOf(last.size, piece.offset, content->size());
  return kOk;
}

}  // namespace koba::core
