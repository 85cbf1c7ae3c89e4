#include "result_codes.h"

#include <cwchar>

namespace koba::core {
namespace {

struct Message {
  int code;
  const wchar_t* text;
};

constexpr wchar_t kOther[] = L"Other error.";
constexpr size_t kMessageCapacity = 256;

constexpr Message kMessages[] = {
    {-100, L"The operation canceled."},
    {-101, L"The system cannot find the file specified."},
    {-102, L"There is not any UsbKey."},
    {-103, L"There is not any UsbKey."},
    {-104, L"It should exist only one UsbKey."},
    {-105, L"An internal consistency timer has expired."},
    {-106, L"The parameter is error."},
    {-200, L"The Pin verifed error."},
    {-215, L"The Pin verifed error."},
    {-221, L"The UsbKey is locked."},
    {-222, L"The Pin verifed error."},
    {-300, kOther},
    {-302, L"Read data error."},
    {-333, L"The process isnot firefox."},
    {-351, L"The error occurred when exporting public key."},
    {-352, L"The error occurred when writing objects."},
    {-353, L"Do not write cert again."},
    {-359, L"Did not get the random!"},
    {-360, L"The error occurred when openning file!"},
    {-361, L"It should exist only one certificate request."},
    {-362, L"It should format device before enrolling a certificate request."},
    {-400, L"Not enough memory available to complete this command."},
    {-403, L"The error occurred when Generating keypair."},
    {-404, L"The error occurred when creating pkcs10."},
    {-405, L"The certificate does not exist."},
    {-407, L"The error occurred when parsing the PKCS#7 pacage."},
    {-408, L"The error occurred when writing certificate to usbkey."},
    {-409, L"The error occurred when construting PKCS#7 package."},
    {-410, L"The error occurred when verify PKCS#7 package."},
    {-411, L"Function is not supported."},
    {-413, L"Too many special cert."},
};

const wchar_t* Lookup(int code) {
  for (const Message& m : kMessages) {
    if (m.code == code)
      return m.text;
  }
  return kOther;
}

}  // namespace

std::wstring MessageFor(int code) {
  return Lookup(code);
}

size_t MessageFor(int code, wchar_t* buffer, size_t capacity) {
  if (buffer == nullptr || capacity == 0)
    return 0;
  const wchar_t* text = Lookup(code);
  const size_t limit = (capacity < kMessageCapacity ? capacity : kMessageCapacity) - 1;
  size_t n = 0;
  for (; n < limit && text[n] != L'\0'; ++n)
    buffer[n] = text[n];
  buffer[n] = L'\0';
  return n;
}

std::wstring ControlMessageFor(int code) {
  switch (code) {
    case kErrorState:
      return L"Error state.";
    case kEnvironmentGone:
      return L"Environment is destroyed.";
    default:
      return MessageFor(code);
  }
}

bool IsWrongPinStatus(uint32_t status) {
  return status >= kStatusWrongPinFirst && status <= kStatusWrongPinLast;
}

int MapPinStatus(PinOperation op, uint32_t status) {
  switch (status) {
    case 0:
      return kOk;
    case kStatusCancelled:
      return kCancelled;
    case kStatusTimeout:
      return kTimeout;
    case kStatusEnvironmentGone:
      return kEnvironmentGone;
    case kStatusNoCard:
      return op == PinOperation::kLogin ? kNoKey : kOtherError;
    case kStatusWrongPinFirst:
      if (op == PinOperation::kLogin)
        return kPinLocked;
      break;
    default:
      break;
  }
  return kOtherError;
}

int WrongPinCode(int remaining_tries) {
  if (remaining_tries <= 0)
    return kPinLocked;
  return -(200 + remaining_tries);
}

}  // namespace koba::core
