// Finds the maker's keys among the present CD-ROM-class device interfaces.
#pragma once

#include <cstddef>

namespace koba::service {

// Fills `list` (`capacity` bytes) with the device paths of the present keys, each with its NUL,
// and a final NUL; returns the list's size. Paths that no longer fit are left out.
size_t EnumeratePresentKeys(char* list, size_t capacity);

}  // namespace koba::service
