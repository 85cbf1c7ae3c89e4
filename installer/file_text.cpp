#include "file_text.h"

namespace koba::installer {

bool RemoveTextEverywhere(std::string* content, std::string_view text) {
  if (text.empty())
    return false;
  size_t searched = content->find('\0');
  if (searched == std::string::npos)
    searched = content->size();
  bool removed = false;
  size_t from = 0;
  for (;;) {
    const std::string_view region(content->data(), searched);
    const size_t at = region.find(text, from);
    if (at == std::string_view::npos)
      return removed;
    content->erase(at, text.size());
    searched -= text.size();
    removed = true;
    // Earlier places held no occurrence; a new one can only span the cut.
    from = at >= text.size() - 1 ? at - (text.size() - 1) : 0;
  }
}

}  // namespace koba::installer
