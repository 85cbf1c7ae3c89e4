// Text helpers for the host's JSON replies.
#pragma once

#include <string>
#include <string_view>

namespace koba::host {

// Appends `text` to `out` as the inside of a JSON string: quotation marks, backslashes and
// control characters are escaped, and bytes that are not well-formed UTF-8 become U+FFFD, so
// the reply is JSON that the browser accepts whatever the text holds.
void AppendJsonEscaped(std::string& out, std::string_view text);

}  // namespace koba::host
