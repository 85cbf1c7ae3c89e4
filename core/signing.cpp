#include "signing.h"

#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "certificates.h"
#include "path_policy.h"
#include "queries.h"
#include "result_codes.h"
#include "sign_record.h"
#include "text_encoding.h"
#include "token_api.h"
#include "win_handle.h"

namespace koba::core {
namespace {

uint32_t Handle(uint32_t slot) {
  return slot | token::kTokenHandleFlag;
}

// The content of the file at `path_utf8`: kReadError when it cannot be opened or read whole,
// kBadParameter when it is too large to be carried in a signing record.
int ReadWholeFile(std::string_view path_utf8, std::vector<uint8_t>* content) {
  std::u16string wide;
  // A NUL inside the path would name a different, shorter path.
  if (path_utf8.find('\0') != std::string_view::npos || !text::Utf8ToUtf16(path_utf8, &wide))
    return kReadError;
  const std::wstring name(wide.begin(), wide.end());
  const win::UniqueHandle file = win::OwnFile(
      CreateFileW(name.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  if (!file)
    return kReadError;
  LARGE_INTEGER size;
  if (!GetFileSizeEx(file.get(), &size))
    return kReadError;
  // Base64 grows the content by 4/3; the file part's length fields hold eight digits.
  const uint64_t encoded = (static_cast<uint64_t>(size.QuadPart) + 2) / 3 * 4;
  if (encoded + path_utf8.size() + 8 > kFilePartLengthLimit)
    return kBadParameter;
  const size_t length = static_cast<size_t>(size.QuadPart);
  content->resize(length + 10);
  size_t done = 0;
  while (done < length) {
    DWORD got = 0;
    if (!ReadFile(file.get(), content->data() + done, static_cast<DWORD>(length - done), &got,
                  nullptr) ||
        got == 0) {
      return kReadError;
    }
    done += got;
  }
  content->resize(length);
  return kOk;
}

// The file part of the record for the file at `path` (as the caller passed it).
int FilePartOf(TokenCore& core, std::string_view path, std::string* part) {
  std::vector<uint8_t> content;
  const int read = ReadWholeFile(path, &content);
  if (read != kOk)
    return read;
  // Left uninitialised: only the pages the library writes are ever touched.
  const size_t capacity = content.size() * 3 / 2 + 100;
  std::unique_ptr<uint8_t[]> encoded(new uint8_t[capacity]);
  int encoded_length = static_cast<int>(capacity);
  if (core.api().Base64P7FileData(content.data(), static_cast<int>(content.size()), encoded.get(),
                                  &encoded_length) != 1 ||
      encoded_length < 0 || static_cast<size_t>(encoded_length) > capacity) {
    return kOtherError;
  }
  // The file's bytes are let go before the part is made from their Base64 text.
  std::vector<uint8_t>().swap(content);
  const std::string_view base64(reinterpret_cast<const char*>(encoded.get()),
                                static_cast<size_t>(encoded_length));
  return BuildFilePart(path, base64, part) ? kOk : kBadParameter;
}

// The signing record over the file at `file_path` (none when empty). The file part is as large
// as the record and is let go when this returns: assigning an empty string would keep its
// buffer allocated until the signature is made.
int RecordOf(TokenCore& core, RecordForm form, std::string_view xml, std::string_view key_info,
             std::string_view file_path, std::string* record) {
  std::string file_part;
  if (!file_path.empty()) {
    const int part = FilePartOf(core, file_path, &file_part);
    if (part != kOk)
      return part;
  }
  return BuildSigningRecord(form, xml, key_info, file_part, record) ? kOk : kBadParameter;
}

// The PKCS#7 message the token library allocated, released on every path.
class Pkcs7Buffer {
 public:
  explicit Pkcs7Buffer(token::PFN_Ossl_PKCS7_free release) : release_(release) {}
  ~Pkcs7Buffer() { Reset(); }
  Pkcs7Buffer(const Pkcs7Buffer&) = delete;
  Pkcs7Buffer& operator=(const Pkcs7Buffer&) = delete;
  uint8_t** out() { return &data_; }
  void Reset() {
    if (data_ != nullptr)
      release_(data_);
    data_ = nullptr;
  }
  const uint8_t* get() const { return data_; }

 private:
  token::PFN_Ossl_PKCS7_free release_;
  uint8_t* data_ = nullptr;
};

// Whether a page may make the core open `path_utf8`: a local file's drive path only.
bool AcceptedPath(std::string_view path_utf8) {
  std::u16string wide;
  return text::Utf8ToUtf16(path_utf8, &wide) && paths::IsAcceptedPagePath(wide);
}

int Sign(TokenCore& core, csp::CspInterface& csp, SignCaller caller, std::string_view cert_dn,
         std::string_view digest_name, std::string_view xml, std::string_view key_info,
         std::string_view file_path, char** result) {
  if (cert_dn.empty() && caller == SignCaller::kPage)
    return core.Finish(kBadParameter);
  // Refused before the key is asked for anything.
  if (!file_path.empty() && !AcceptedPath(file_path))
    return core.Finish(kBadParameter);
  uint32_t slot;
  DeviceInfo info;
  const int found = core.FindKey(BindSet::kFull, &slot, &info);
  if (found != kOk)
    return found;
  const TokenEntryPoints& api = core.api();

  int32_t encoding = 0;
  if (api.ManTokenParam(Handle(slot), token::kParamCharsetRead, &encoding) != 0)
    return core.Finish(kReadError);
  core.set_text_encoding(encoding);

  const std::string serial =
      TrimSerial(info.data() + token::devinfo::kSerial, token::devinfo::kSerialSize);
  std::vector<Candidate> candidates;
  bool admin = false;
  CollectCandidates(core, csp, slot, info, &candidates, &admin);
  SelectOptions options;
  options.admin_key = admin;
  options.signing = true;
  size_t chosen_index = 0;
  const int selected =
      SelectCandidate(candidates, serial, SplitDn(cert_dn), options, &chosen_index);
  if (selected != kOk)
    return core.Finish(selected);
  const Candidate& chosen = candidates[chosen_index];

  std::string device_xml;
  std::string device_key_info;
  if (!ToDeviceText(xml, encoding, &device_xml) ||
      !ToDeviceText(key_info, encoding, &device_key_info)) {
    return core.Finish(kBadParameter);
  }
  if (chosen.key_type == 0)
    return core.Finish(kBadParameter);
  std::string record;
  const int built = RecordOf(core, RecordFormFor(admin ? 1 : 0, chosen.kind), device_xml,
                             device_key_info, file_path, &record);
  if (built != kOk)
    return core.Finish(built);

  DigestChoice digest;
  if (!LookupDigest(digest_name, chosen.algorithm, &digest))
    return core.Finish(kBadParameter);

  std::vector<uint8_t> signature(kSignatureCapacity);
  token::SignRequest request = {};
  request.size = sizeof(request);
  request.key_type = chosen.key_type;
  request.key_algorithm = chosen.algorithm;
  request.certificate_kind = chosen.kind;
  request.digest_algorithm = digest.code;
  request.data = reinterpret_cast<const uint8_t*>(record.data());
  request.data_length = static_cast<uint32_t>(record.size());
  request.public_key = chosen.public_key.data();
  request.public_key_length = static_cast<uint32_t>(chosen.public_key.size());
  request.signature_length = kSignatureCapacity;
  request.signature = signature.data();

  const int logged_in = core.Login(slot);
  if (logged_in < 0)
    return logged_in;

  const uint32_t status = api.RsaSignKoba(Handle(slot), &request);
  if (status == kStatusCancelled)
    return core.Finish(kCancelled);
  if (status == kStatusTimeout)
    return core.Finish(kTimeout);
  if (status != 0 || request.signature_length == 0 ||
      request.signature_length > kSignatureCapacity) {
    return core.Finish(kOtherError);
  }

  Pkcs7Buffer pkcs7(api.Pkcs7Free);
  const uint64_t hint =
      uint64_t{request.signature_length} + record.size() + chosen.certificate.size() + 4096;
  if (hint > static_cast<uint64_t>(std::numeric_limits<int>::max()))
    return core.Finish(kNoMemory);
  int pkcs7_length = static_cast<int>(hint);
  const int signed_data = api.Pkcs7Sign(
      digest.ossl_algorithm, request.data, static_cast<int>(record.size()), signature.data(),
      static_cast<int>(request.signature_length), chosen.certificate.data(),
      static_cast<int>(chosen.certificate.size()), pkcs7.out(), &pkcs7_length);
  if (pkcs7.get() == nullptr)
    return core.Finish(kNoMemory);
  if (signed_data != 1 || pkcs7_length <= 0)
    return core.Finish(kPkcs7BuildError);

  // A file part makes these texts large: each is let go as soon as the next one is made, and the
  // Base64 text is written straight into the buffer handed to the caller.
  std::string().swap(record);
  const std::string_view der(reinterpret_cast<const char*>(pkcs7.get()),
                             static_cast<size_t>(pkcs7_length));
  const size_t text_length = text::Base64EncodedSize(der.size());
  std::unique_ptr<char[]> text(new char[text_length + 1]);
  text::Base64EncodeTo(der, text.get());
  text[text_length] = '\0';
  pkcs7.Reset();
  *result = text.release();
  return core.Finish(kOk);
}

}  // namespace

int GMUsbKeySign(TokenCore& core, csp::CspInterface& csp, std::string_view cert_dn,
                 std::string_view digest_name, std::string_view xml, std::string_view key_info,
                 std::string_view file_path, char** result) {
  if (result == nullptr)
    return core.Finish(kBadParameter);
  *result = nullptr;
  BindingGuard guard(core);
  try {
    return Sign(core, csp, SignCaller::kPage, cert_dn, digest_name, xml, key_info, file_path,
                result);
  } catch (const std::bad_alloc&) {
    return core.Finish(kNoMemory);
  } catch (const std::length_error&) {
    return core.Finish(kNoMemory);
  }
}

int SignWithinOperation(TokenCore& core, csp::CspInterface& csp, SignCaller caller,
                        std::string_view cert_dn, std::string_view digest_name,
                        std::string_view xml, std::string_view key_info, std::string_view file_path,
                        char** result) {
  *result = nullptr;
  return Sign(core, csp, caller, cert_dn, digest_name, xml, key_info, file_path, result);
}

void ReleaseResultText(char* text) {
  delete[] text;
}

}  // namespace koba::core
