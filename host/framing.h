// Native-messaging frames: a 4-byte little-endian length, then that many bytes of UTF-8 JSON.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string_view>

#include <rapidjson/document.h>

namespace koba::host {

// The largest request the host reads into memory. Chrome sends at most 64 MiB to a native
// host; a longer frame is read past (so the stream stays in step) and left unparsed.
constexpr int32_t kMaxRequestBytes = 64 * 1024 * 1024;

// What one request may make the parser build. A page's request is one object of a few members;
// a text nested deeper or holding more values is refused before it is parsed, so that no frame
// can make the parse allocate more than the frame's own strings and a small fixed part (the
// parser does not survive a failed allocation, so its work must be bounded beforehand).
constexpr int kMaxRequestDepth = 16;
constexpr size_t kMaxRequestValues = 4096;

// The NUL-terminated JSON text nests at most kMaxRequestDepth arrays and objects and holds at
// most kMaxRequestValues values, keys included. Structure inside strings does not count.
bool WithinRequestBounds(const char* text);

// Reads one frame from `in` and parses its payload into `doc`. Returns 0 when a frame was read,
// whether or not its text parsed (a request that did not parse, was too long, exceeded the
// bounds above or could not be held in memory leaves `doc` null); returns -1 when input has ended
// or the length is not positive.
int ReadRequest(std::FILE* in, rapidjson::Document& doc);

// Writes one frame holding `reply` to `out`. A failed write is not reported: the browser has
// gone, and the next read finds the end of input.
void WriteReply(std::FILE* out, std::string_view reply);

}  // namespace koba::host
