// The host's reply templates and the chunking of long results.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace koba::host {

// Receives each reply text that is to be sent as one frame.
using FrameWriter = std::function<void(std::string_view reply)>;

// Result text is sent in frames of at most this many bytes of text.
constexpr size_t kChunkBytes = 1024000;

// Result codes produced by the dispatcher itself.
constexpr int kErrBadParameter = -106;
constexpr int kErrNotSupported = -411;

std::string TextReply(int tab_id, bool is_over, std::string_view action, std::string_view text);
std::string NumberReply(int tab_id, bool is_over, std::string_view action, int number);
std::string InvalidActionReply(int tab_id);
std::string NotSupportedReply(int tab_id, std::string_view action);

// Writes the replies of one request: bound to its tab number and action name.
class Reply {
 public:
  Reply(int tab_id, std::string_view action, const FrameWriter& write)
      : tab_id_(tab_id), action_(action), write_(write) {}

  void Number(int number) const { write_(NumberReply(tab_id_, true, action_, number)); }
  void Text(std::string_view text) const { write_(TextReply(tab_id_, true, action_, text)); }

  // Sends `text` in pieces of kChunkBytes: every piece but the last with IsOver 0, and an empty
  // last piece when the length is an exact multiple. `prefix` goes before the first piece and
  // does not count towards the length that decides the split.
  void Chunked(std::string_view text, std::string_view prefix = {}) const;

  int tab_id() const { return tab_id_; }
  std::string_view action() const { return action_; }

 private:
  int tab_id_;
  std::string_view action_;
  const FrameWriter& write_;
};

}  // namespace koba::host
