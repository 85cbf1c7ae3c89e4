#include "actions.h"

#include <string>

#include "diag_log.h"
#include "settings.h"

namespace koba::host {
namespace {

// Capacities of the result buffers, terminating NUL included.
constexpr size_t kVersionCapacity = 64;

Action GetDriverVersionAction() {
  return TextAction("GetDriverVersion", {}, kVersionCapacity,
                    [](const Args&, char* result, size_t capacity) {
                      return settings::GetDriverVersion(result, capacity);
                    });
}

Action GetVersionAction() {
  return TextAction("GetVersion", {}, kVersionCapacity,
                    [](const Args&, char* result, size_t capacity) {
                      return settings::GetVersion(result, capacity);
                    });
}

// The Base64 text of the key's log tail, chunked; -300 for every failure.
Action GetLogFileContentAction() {
  return Action{"GetLogFileContent",
                {{"MediaID"}, {"LineNum", MemberType::kNumber}},
                [](const Args& args, const Reply& reply) {
                  const std::string media_id(args.Str(0));
                  std::string base64;
                  // A NUL inside the ID would make a different, shorter ID of it.
                  const int code =
                      media_id.find('\0') != std::string::npos
                          ? diaglog::kErrLogUnreadable
                          : diaglog::GetLogFileContent(media_id.c_str(), args.Int(1), &base64);
                  if (code != 0) {
                    reply.Number(code);
                  } else {
                    reply.Chunked(base64);
                  }
                }};
}

}  // namespace

ActionTable BuildActionTable() {
  ActionTable table;
  table.Add(IsExtensionOkAction());
  table.Add(GetDriverVersionAction());
  table.Add(GetVersionAction());
  table.Add(GetLogFileContentAction());
  return table;
}

}  // namespace koba::host
