// The text rule of ModifyFileData: a text is taken out of a file's content wherever it occurs,
// again and again, until it no longer occurs.
#pragma once

#include <string>
#include <string_view>

namespace koba::installer {

// Removes the first occurrence of `text` while there is one, searching the content only up to
// its first NUL byte (bytes from there on are kept as they are). An empty text removes nothing.
// Returns whether anything was removed.
bool RemoveTextEverywhere(std::string* content, std::string_view text);

}  // namespace koba::installer
