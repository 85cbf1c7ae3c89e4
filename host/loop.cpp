#include "loop.h"

#include "framing.h"

namespace koba::host {

int RunHost(std::FILE* in, std::FILE* out, const ActionTable& table) {
  const FrameWriter write = [out](std::string_view reply) { WriteReply(out, reply); };
  rapidjson::Document request;
  while (ReadRequest(in, request) == 0) {
    Dispatch(request, table, write);
  }
  return -1;
}

}  // namespace koba::host
