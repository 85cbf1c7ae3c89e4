// Feeds arbitrary UTF-16 text to the page path rule: no crash, no overread, and no accepted
// path that reaches outside the local file system.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "path_policy.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::u16string path(size / 2, u'\0');
  for (size_t i = 0; i < path.size(); ++i)
    path[i] = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
  if (!koba::paths::IsAcceptedPagePath(path))
    return 0;
  const bool drive = path.size() >= 3 && path[1] == u':' && (path[2] == u'\\' || path[2] == u'/');
  if (!drive || path.find(u':', 2) != std::u16string::npos ||
      path.find(u'\0') != std::u16string::npos)
    std::abort();
  return 0;
}
