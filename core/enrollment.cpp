#include "enrollment.h"

#include <objbase.h>

#include <cstring>
#include <string>
#include <vector>

#include "cert_store.h"
#include "containers.h"
#include "enrol_request.h"
#include "key_deletion.h"
#include "result_codes.h"
#include "sign_record.h"
#include "system_library.h"
#include "token_objects.h"

namespace koba::core {
namespace {

constexpr uint32_t kExportBlobCapacity = 2304;
constexpr uint32_t kUserSignatureCapacity = 300;
constexpr int kDigestCapacity = 100;

using Vexlo::CTokenStruct;

// A key request record with the buffers it points at.
struct RecordBuffers {
  std::vector<uint8_t> public_key = std::vector<uint8_t>(kRequestPublicKeyCapacity);
  std::vector<uint8_t> subject = std::vector<uint8_t>(kSubjectCapacity);
  std::vector<uint8_t> signature = std::vector<uint8_t>(kRequestSignatureCapacity);
};

void FillRecord(const EnrolRequest& request, RecordBuffers* buffers, token::KeyRequest* record) {
  std::memset(record, 0, sizeof *record);
  record->size = sizeof *record;
  record->certificate_type = request.certificate_type;
  record->key_bits = request.key_bits;
  record->digest_algorithm = request.digest_code;
  record->public_key_length = kRequestPublicKeyCapacity;
  record->public_key = buffers->public_key.data();
  std::memcpy(buffers->subject.data(), request.common_name.data(), request.common_name.size());
  record->subject_length = static_cast<uint32_t>(request.common_name.size());
  record->subject = buffers->subject.data();
  record->signature_length = kRequestSignatureCapacity;
  record->signature = buffers->signature.data();
}

// The waiting window of key generation, shown by the core's PIN pad library. Its calls'
// results do not matter to enrolment.
class WaitWindow {
 public:
  explicit WaitWindow(TokenCore& core) : core_(core) { Toggle(); }
  ~WaitWindow() { Toggle(); }
  WaitWindow(const WaitWindow&) = delete;
  WaitWindow& operator=(const WaitWindow&) = delete;

 private:
  void Toggle() {
    const PinpadEntryPoints& pinpad = core_.pinpad();
    uint32_t language = core_.device_language();
    if (pinpad.Param != nullptr)
      pinpad.Param(&language, 0);
    if (pinpad.ShowDialog != nullptr)
      pinpad.ShowDialog(5, &handle_);
  }

  TokenCore& core_;
  VKey::GenKeyWaitHandle handle_ = {};
};

// Removes the key pairs without a certificate that a request of certificate type `type` and
// `bits` would leave behind.
int RemoveTemporaryKeys(csp::CspInterface& csp, uint32_t slot, bool admin, uint32_t type,
                        uint32_t bits) {
  const uint32_t algorithm = bits == 256 ? token::kKeyAlgSm2 : token::kKeyAlgRsa;
  const std::string reader = csp::ReaderPath(slot);
  DeletionBatch batch(slot);
  uint32_t status = 0;
  ForEachContainerKey(csp, slot, [&](const std::string& name, const csp::KeyInfo& key) {
    if (status != 0 || !key.certificate.empty() || key.certificate_kind != type ||
        key.key_algorithm != algorithm) {
      return;
    }
    if (admin) {
      batch.Add(name, key.key_type, static_cast<uint8_t>(key.key_spec));
    } else {
      status = csp.DeleteContainerKey(reader + name, key.key_spec);
    }
  });
  if (admin && !batch.empty())
    status = csp.DeleteKeyBatch(batch.record());
  return MapDeletionStatus(status);
}

int MapGenerationStatus(uint32_t status) {
  if (status == 0)
    return kOk;
  return status == token::kStatusNoMemory ? kNoMemory : kKeyPairError;
}

std::string NewLabel() {
  // Without a new GUID the last label is used again.
  static std::string last;
  static const win::SystemLibrary ole32(L"ole32.dll");
  decltype(&CoCreateGuid) create_guid = nullptr;
  GUID guid;
  if (ole32.Resolve("CoCreateGuid", &create_guid) && create_guid(&guid) == S_OK)
    last = KeyLabel(guid.Data1, guid.Data2, guid.Data3);
  return last;
}

int StoreKeyObjects(TokenCore& core, uint32_t slot, const token::KeyRequest& record) {
  const std::string label = NewLabel();
  const uint8_t key_id = record.key_id[0];
  const uint8_t type = static_cast<uint8_t>(record.certificate_type);
  const uint32_t algorithm = record.key_bits == 256 ? token::kKeyAlgSm2 : token::kKeyAlgRsa;
  constexpr uint8_t kSpec = token::kKeySpecSignature;
  // Key ids beyond the flag word's 32 bits carry no flag.
  const uint32_t private_flags = key_id >= 1 && key_id <= 32 ? 1u << (key_id - 1) : 0;
  struct Object {
    Vexlo::Bytes bytes;
    uint32_t flags;
  };
  const Object objects[] = {
      {CTokenStruct::NamesObject(label.data(), label.size()), 0},
      {CTokenStruct::PrivateKeyObject(label.data(), label.size(), key_id, kSpec, type, algorithm),
       private_flags},
      {CTokenStruct::PublicKeyObject(label.data(), label.size(), key_id, kSpec, type,
                                     record.public_key, record.public_key_length, algorithm),
       0},
  };
  for (const Object& o : objects) {
    uint32_t handle = 0;
    if (core.api().CreateObject(DeviceHandle(slot), token::kObjectClassKey, &handle, o.bytes.data(),
                                static_cast<uint32_t>(o.bytes.size()), o.flags) != 0) {
      return kWriteObjectError;
    }
  }
  return kOk;
}

// The user key's public key from VexloT_ExportPairKey, into the record.
int ExportPublicKey(TokenCore& core, uint32_t slot, token::KeyRequest* record) {
  std::vector<uint8_t> blob(kExportBlobCapacity);
  uint32_t length = kExportBlobCapacity;
  if (core.api().ExportPairKey(DeviceHandle(slot), record->key_id[0], token::kExportPublicKey,
                               blob.data(), &length) != 0 ||
      length > kExportBlobCapacity) {
    return kExportPublicKeyError;
  }
  size_t offset = 0, key_length = 0;
  if (!ExportedPublicKey(blob.data(), length, &offset, &key_length) || key_length == 0 ||
      key_length > kRequestPublicKeyCapacity) {
    return kExportPublicKeyError;
  }
  std::memcpy(record->public_key, blob.data() + offset, key_length);
  record->public_key_length = static_cast<uint32_t>(key_length);
  return kOk;
}

int PackageRequest(TokenCore& core, const token::KeyRequest& record, const uint8_t* public_key,
                   int public_key_length, const uint8_t* signature, int signature_length,
                   std::vector<uint8_t>* der) {
  der->assign(kPkcs10Capacity, 0);
  int length = static_cast<int>(kPkcs10Capacity);
  if (core.api().PackageP10(record.subject, static_cast<int>(record.subject_length), public_key,
                            public_key_length, signature, signature_length, record.digest_algorithm,
                            der->data(), &length) != 1 ||
      length <= 0 || length > static_cast<int>(kPkcs10Capacity)) {
    return kPkcs10Error;
  }
  der->resize(static_cast<size_t>(length));
  return kOk;
}

// The user key signs the request body through VexloT_RsaSign after a log-in.
int SignOnUserKey(TokenCore& core, uint32_t slot, const token::KeyRequest& record,
                  std::vector<uint8_t>* der) {
  const int public_key_length = static_cast<int>(record.public_key_length);
  std::vector<uint8_t> body;
  if (PackageRequest(core, record, record.public_key, public_key_length, nullptr, 0, &body) !=
      kOk) {
    return kPkcs10Error;
  }
  const int logged_in = core.Login(slot);
  if (logged_in != kOk)
    return logged_in;
  const TokenEntryPoints& api = core.api();
  void* context = nullptr;
  uint8_t digest[kDigestCapacity] = {};
  int digest_length = kDigestCapacity;
  if (api.DigestInit(&context, OsslAlgorithmOfCode(record.digest_algorithm)) != 1)
    return kOtherError;
  const bool updated = api.DigestUpdate(context, body.data(), static_cast<int>(body.size())) == 1;
  // Final releases the context on every path.
  if (api.DigestFinal(context, digest, &digest_length) != 1 || !updated || digest_length <= 0 ||
      digest_length > kDigestCapacity) {
    return kOtherError;
  }
  uint8_t signature[kUserSignatureCapacity] = {};
  uint32_t signature_length = kUserSignatureCapacity;
  if (api.RsaSign(DeviceHandle(slot), record.key_id[0], record.digest_algorithm, digest,
                  static_cast<uint32_t>(digest_length), signature, &signature_length) != 0 ||
      signature_length > kUserSignatureCapacity) {
    return kOtherError;
  }
  return PackageRequest(core, record, record.public_key, public_key_length, signature,
                        static_cast<int>(signature_length), der);
}

// Builds the request of one generated key pair: public key, key objects, signed PKCS#10,
// Base64 without line breaks.
int BuildRequest(TokenCore& core, uint32_t slot, bool admin, token::KeyRequest* record,
                 std::string* base64) {
  if (!admin) {
    if (record->key_bits == 256)
      return kBadParameter;
    const int exported = ExportPublicKey(core, slot, record);
    if (exported != kOk)
      return exported;
  }
  const int stored = StoreKeyObjects(core, slot, *record);
  if (stored != kOk)
    return stored;
  std::vector<uint8_t> der;
  if (admin) {
    const uint8_t* key = record->public_key;
    int key_length = static_cast<int>(record->public_key_length);
    // An SM3 request takes the SM2 point without its leading 04.
    if (record->digest_algorithm == token::kDigestSm3 && key_length == 65 && key[0] == 0x04) {
      ++key;
      --key_length;
    }
    if (record->signature_length > kRequestSignatureCapacity)
      return kPkcs10Error;
    const int packaged = PackageRequest(core, *record, key, key_length, record->signature,
                                        static_cast<int>(record->signature_length), &der);
    if (packaged != kOk)
      return packaged;
  } else {
    const int signed_request = SignOnUserKey(core, slot, *record, &der);
    if (signed_request != kOk)
      return signed_request;
  }
  std::vector<uint8_t> text(kPkcs10Capacity);
  int text_length = static_cast<int>(kPkcs10Capacity);
  if (core.api().Base64Encode(der.data(), static_cast<int>(der.size()), text.data(),
                              &text_length) != 1 ||
      text_length <= 0 || text_length > static_cast<int>(kPkcs10Capacity)) {
    return kPkcs10Error;
  }
  *base64 = WithoutLineBreaks(std::string_view(reinterpret_cast<const char*>(text.data()),
                                               static_cast<size_t>(text_length)));
  return kOk;
}

void MarkChanged(TokenCore& core, uint32_t slot) {
  int32_t changed = 1;
  core.api().ManTokenParam(DeviceHandle(slot), token::kParamChanged, &changed);
}

}  // namespace

int GMCreatePKCS10(TokenCore& core, csp::CspInterface& csp, std::string_view info, char* out,
                   size_t capacity) {
  BindingGuard guard(core);
  if (out == nullptr || capacity == 0)
    return core.Finish(kBadParameter);
  out[0] = '\0';
  std::vector<EnrolRequest> requests;
  if (!ParseEnrolRequests(info, &requests))
    return core.Finish(kBadParameter);
  uint32_t slot;
  DeviceInfo device;
  const int found = core.FindKey(BindSet::kFull, &slot, &device);
  if (found != kOk)
    return found;
  const bool admin = AdminFlag(core, slot) != 0;
  if (!admin) {
    if (requests.size() == 2)
      return core.Finish(kSeveralRequests);
    if (requests[0].key_bits == 256)
      return core.Finish(kBadParameter);
  }
  for (const EnrolRequest& r : requests) {
    const int removed = RemoveTemporaryKeys(csp, slot, admin, r.certificate_type, r.key_bits);
    if (removed != kOk)
      return core.Finish(removed);
  }

  RecordBuffers buffers[2];
  token::KeyRequest records[2];
  for (size_t i = 0; i < requests.size(); ++i)
    FillRecord(requests[i], &buffers[i], &records[i]);
  uint32_t status;
  if (admin) {
    const int logged_in = core.Login(slot);
    if (logged_in != kOk)
      return logged_in;
    WaitWindow wait(core);
    status = core.api().GeneratePairKeyEx(
        DeviceHandle(slot), static_cast<uint32_t>(requests.size()), records, nullptr, nullptr);
  } else {
    WaitWindow wait(core);
    status = core.api().GeneratePairKey(DeviceHandle(slot), records[0].key_id, records[0].key_bits,
                                        0, 0);
  }
  if (status != 0)
    return core.Finish(MapGenerationStatus(status));
  if (!admin) {
    buffers[0].public_key.assign(kRequestPublicKeyCapacity, 0);
    records[0].public_key = buffers[0].public_key.data();
    records[0].public_key_length = kRequestPublicKeyCapacity;
  }

  std::string text;
  for (size_t i = 0; i < requests.size(); ++i) {
    std::string request;
    const int built = BuildRequest(core, slot, admin, &records[i], &request);
    if (built != kOk)
      return core.Finish(built);
    if (i > 0)
      text += "||";
    text += request;
  }
  MarkChanged(core, slot);
  if (text.size() >= capacity)
    return core.Finish(kNoMemory);
  std::memcpy(out, text.c_str(), text.size() + 1);
  return core.Finish(kOk);
}

int CustInitCard(TokenCore& core) {
  BindingGuard guard(core);
  uint32_t slot;
  DeviceInfo device;
  const int found = core.FindKey(BindSet::kDevice, &slot, &device);
  if (found != kOk)
    return found;
  if (!PassesModeCheck(core, slot))
    return core.Finish(kNotSupported);
  const uint32_t status =
      core.RunPinPad(slot, VKey::PAD_USE_INITDEV, reinterpret_cast<void*>(core.api().InitToken));
  if (status != 0)
    return core.Finish(MapPinStatus(PinOperation::kInitToken, status));
  certstore::DeleteStoredCertificates(csp::kProviderName, nullptr, 0);
  MarkChanged(core, slot);
  return core.Finish(kOk);
}

int ChangePin(TokenCore& core) {
  BindingGuard guard(core);
  uint32_t slot;
  DeviceInfo device;
  const int found = core.FindKey(BindSet::kDevice, &slot, &device);
  if (found != kOk)
    return found;
  const uint32_t status =
      core.RunPinPad(slot, VKey::PAD_USE_CHANGEPIN, reinterpret_cast<void*>(core.api().ChangePin));
  if (IsWrongPinStatus(status)) {
    uint8_t pin_info[8] = {};
    core.api().ManTokenParam(DeviceHandle(slot), token::kParamPinInfo, pin_info);
    return core.Finish(WrongPinCode(pin_info[2]));
  }
  return core.Finish(MapPinStatus(PinOperation::kChangePin, status));
}

}  // namespace koba::core
