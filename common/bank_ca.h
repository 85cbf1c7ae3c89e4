// The bank's CA certificates, built into every deliverable that installs them (the tray
// monitor's "installRoot" into the Windows stores, the installer plug-in into Firefox's
// certificate database). The DER files are common/bank_ca/ca01.cer ... ca08.cer.
#pragma once

#include <cstddef>

namespace koba::bankca {

struct Certificate {
  const unsigned char* der;
  size_t size;
};

// How many there are, and the order in which they are installed: the first three and the
// sixth are self-signed roots, the fourth and fifth are issued by the first, the last two by
// the sixth.
constexpr int kCount = 8;

// Certificate `index` (0 .. kCount - 1) in that order.
const Certificate& At(int index);

}  // namespace koba::bankca
