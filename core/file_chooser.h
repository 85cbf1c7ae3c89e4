// The open-file dialog through which the user picks the file a page may sign.
#pragma once

#include <string>

namespace koba::core {

// Shows the standard open-file dialog (owner: the foreground window, filter "*.*") for a path
// of at most `max_chars` characters. 0 with the chosen path; -100 when the user cancels or the
// dialog cannot be shown.
int ChooseFile(size_t max_chars, std::wstring* path);

}  // namespace koba::core
