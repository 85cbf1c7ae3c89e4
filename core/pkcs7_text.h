// The bank's PKCS#7 reply text as GMWritePKCS7 receives it: one message or two joined by "||",
// each PEM (between certificate markers, any line ends) or bare Base64, and the form the
// token library's decoder takes. Windows-free.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace koba::core {

// A part longer than this is no reply of the bank's CA.
constexpr size_t kMaxPkcs7Text = 1 << 20;

// Splits at the first "||": one part, or two when the second holds no further "||". False
// for three or more parts.
bool SplitPkcs7Parts(std::string_view text, std::vector<std::string_view>* parts);

// The Base64 of one part for the decoder: the text between "-----BEGIN CERTIFICATE-----" and
// "-----END CERTIFICATE-----" when the first marker occurs, without leading CR and LF; used as
// it is when it has a CR or LF at position 64, else with a LF after every 64 characters.
std::string PreparePkcs7Text(std::string_view part);

}  // namespace koba::core
