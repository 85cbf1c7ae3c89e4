// The two key lists the page helper reads from the device (parameter 13, the key list, and
// parameter 14, the RSA public-key list) and the texts it makes of them. Windows-free.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace koba::pagehelper {

// The device's list buffer.
constexpr size_t kKeyListBufferBytes = 5160;

// A 32-bit little-endian total T of the bytes that follow, then entries of a 32-bit
// little-endian length L and L bytes until T bytes are consumed. False (and no entries) when
// T or an entry runs past the buffer or past T.
bool ParseKeyList(const uint8_t* data, size_t size, std::vector<std::string_view>* entries);

// GetPublicKey: each modulus with its DER header and the exponent 65537 in Base64, joined by
// "||". False for a modulus too long for the 512-byte work buffer.
bool RsaPublicKeyText(const std::vector<std::string_view>& moduli, std::string* text);

// GetPublicKeyC: each entry's bytes as characters (zero bytes add nothing), joined by "||".
std::string KeyListText(const std::vector<std::string_view>& entries);

}  // namespace koba::pagehelper
