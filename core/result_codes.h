// Result codes of the token operations, their messages, and the mapping of the statuses that
// come back from PIN-pad-driven token functions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace koba::core {

enum ResultCode : int {
  kOk = 0,
  kCancelled = -100,
  kLibraryMissing = -101,
  kNoKey = -102,
  kNoKeyToo = -103,
  kSeveralKeys = -104,
  kTimeout = -105,
  kBadParameter = -106,
  kPinError = -200,
  kPinLocked = -221,
  kPinErrorToo = -222,
  kOtherError = -300,
  kReadError = -302,
  kNotFirefox = -333,
  kExportPublicKeyError = -351,
  kWriteObjectError = -352,
  kCertAlreadyWritten = -353,
  kNoRandom = -359,
  kOpenFileError = -360,
  kSeveralRequests = -361,
  kFormatBeforeEnrol = -362,
  kErrorState = -363,       // browser controls only
  kEnvironmentGone = -393,  // also the mapping of PIN pad status 0xE011FFFE
  kNoMemory = -400,
  kKeyPairError = -403,
  kPkcs10Error = -404,
  kCertNotFound = -405,
  kPkcs7ParseError = -407,
  kCertWriteError = -408,
  kPkcs7BuildError = -409,
  kPkcs7VerifyError = -410,
  kNotSupported = -411,
  kTooManySpecialCerts = -413,
};

// Statuses of the token library and the PIN pad that the core maps.
constexpr uint32_t kStatusCancelled = static_cast<uint32_t>(-100);
constexpr uint32_t kStatusNoCard = 0x8010002E;
constexpr uint32_t kStatusTimeout = 0xE011000F;
// A wrong PIN: 0xE0110010 plus the tries left.
constexpr uint32_t kStatusWrongPinFirst = 0xE0110010;
constexpr uint32_t kStatusWrongPinLast = 0xE011001E;
constexpr uint32_t kStatusEnvironmentGone = 0xE011FFFE;
constexpr uint32_t kStatusNoPinpad = 0xE011FFFF;

// The message for a code: exact lookup, "Other error." for every code not in the table
// (0 and positive numbers included).
std::wstring MessageFor(int code);

// The same message written into `buffer` of `capacity` wide characters (at most 256 are used,
// always NUL-terminated when capacity > 0). Returns the characters written, NUL excluded.
size_t MessageFor(int code, wchar_t* buffer, size_t capacity);

// The texts that the browser controls attach to their own two codes instead of a lookup.
std::wstring ControlMessageFor(int code);

enum class PinOperation { kLogin, kChangePin, kInitToken };

// Maps the status a PIN-pad-driven token function returned. For a wrong PIN during a PIN
// change (0xE0110010..0xE011001E) the code depends on the tries left, which the caller reads
// from the key: see WrongPinCode and IsWrongPinStatus.
int MapPinStatus(PinOperation op, uint32_t status);
bool IsWrongPinStatus(uint32_t status);

// -(200 + remaining tries), or -221 when none remain.
int WrongPinCode(int remaining_tries);

}  // namespace koba::core
