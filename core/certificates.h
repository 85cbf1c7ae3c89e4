// Certificate selection on a key: the candidate list, DN splitting and matching, and the DER
// form of the raw public keys the key's containers return. Shared by the queries and signing.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace koba::core {

// Key algorithms as the CSP reports them.
constexpr uint32_t kAlgRsa = 1;
constexpr uint32_t kAlgSm2 = 2;

// Certificate kinds: the key's special certificate, and a kind that signing skips on an
// administrator key.
constexpr uint32_t kKindSpecial = 1;
constexpr uint32_t kKindSkippedForAdminSigning = 3;

// Limits of the chosen candidate's certificate and public key.
constexpr size_t kMaxCertificateBytes = 4096;
constexpr size_t kMaxPublicKeyBytes = 300;

// One container and key spec of the key that holds a certificate.
struct Candidate {
  std::string serial;   // trimmed
  std::string subject;  // X.500 subject as UTF-8, ", " between attributes
  uint8_t key_type = 0;
  uint32_t algorithm = 0;
  uint32_t key_spec = 0;
  uint32_t kind = 0;
  std::vector<uint8_t> certificate;
  std::vector<uint8_t> public_key;
};

// The parts of a caller's DN that selection compares.
struct WantedDn {
  std::string cn;
  std::string ou;
  std::string o;
  bool Empty() const { return cn.empty() && ou.empty() && o.empty(); }
};

// Splits a caller's DN: "CN=", "OU=" and "O=" each run to the next "," or the end. Without
// "CN=" the whole text is the CN. CN keeps at most 1022 bytes, OU and O at most 255.
WantedDn SplitDn(std::string_view dn);

// Whether `candidate` is the wanted certificate: same serial; with CN, O and OU all given,
// each equals the candidate's attribute exactly; otherwise each given part occurs in the
// candidate's subject.
bool DnMatches(const Candidate& candidate, std::string_view serial, const WantedDn& wanted);

struct SelectOptions {
  bool admin_key = false;      // the key's administrator flag
  bool signing = false;        // the caller signs: kind 3 is skipped on an administrator key
  bool takes_material = true;  // the caller takes certificate and public key: limits apply
};

// Chooses a candidate: by DN when one is wanted (first match), else the only one of kind 1.
// Returns 0 with `chosen` set, -405 when none fits, -413 when several special ones exist.
int SelectCandidate(const std::vector<Candidate>& candidates, std::string_view serial,
                    const WantedDn& wanted, const SelectOptions& options, size_t* chosen);

// The DER form of a raw public key: SM2 X||Y (64 bytes) as an uncompressed point, an RSA-1024
// or RSA-2048 modulus as an RSAPublicKey with exponent 65537. Other lengths give no bytes.
std::vector<uint8_t> DerPublicKey(const uint8_t* raw, size_t length);

// A serial number as the key holds it (16 bytes, space padded) without the trailing spaces.
std::string TrimSerial(const uint8_t* serial, size_t length);

// GMGetCertDN's list form: every ", " becomes ",".
std::string CompactDnSeparators(std::string_view list);

}  // namespace koba::core
