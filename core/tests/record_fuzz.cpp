// Page input on its way into a signature: the caller's DN split and matched against a
// certificate subject, the digest name, the device text and the signing record's parts.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "certificates.h"
#include "sign_record.h"

namespace core = koba::core;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The input is cut into three page texts at its first two NUL bytes.
  const std::string in(reinterpret_cast<const char*>(data), size);
  const size_t first = in.find('\0');
  const size_t second = first == std::string::npos ? first : in.find('\0', first + 1);
  const std::string dn = in.substr(0, first);
  const std::string xml =
      first == std::string::npos ? "" : in.substr(first + 1, second - first - 1);
  const std::string key_info = second == std::string::npos ? "" : in.substr(second + 1);

  const core::WantedDn wanted = core::SplitDn(dn);
  if (wanted.cn.size() > 1022 || wanted.ou.size() > 255 || wanted.o.size() > 255)
    std::abort();
  core::Candidate candidate;
  candidate.serial = "AB12";
  candidate.subject = xml;
  candidate.kind = 1;
  core::DnMatches(candidate, "AB12", wanted);
  size_t chosen = 0;
  core::SelectCandidate({candidate}, "AB12", wanted, core::SelectOptions{}, &chosen);
  core::CompactDnSeparators(xml);

  core::DigestChoice digest;
  core::LookupDigest(key_info, size % 3, &digest);
  std::string device_text;
  core::ToDeviceText(xml, static_cast<int>(size % 3), &device_text);
  std::string file_part;
  core::BuildFilePart(dn, key_info, &file_part);
  for (const core::RecordForm form : {core::RecordForm::kText, core::RecordForm::kBinary}) {
    std::string record;
    if (core::BuildSigningRecord(form, xml, key_info, file_part, &record) &&
        record.size() < xml.size() + key_info.size() + file_part.size())
      std::abort();
  }
  return 0;
}
