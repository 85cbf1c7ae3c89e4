// The request dispatcher: finds the action a request names in the action table, checks the
// members the action reads and runs it; answers the requests that need no action itself.
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include <rapidjson/document.h>

#include "reply.h"

namespace koba::host {

// Action names longer than this are not in the table.
constexpr size_t kMaxActionName = 99;

enum class MemberType {
  kString,  // a JSON string
  kInt32,   // a JSON integer within the signed 32-bit range
  kNumber,  // any JSON number, used as a 32-bit integer
  kAny,     // any value or none; never checked
};

struct Member {
  const char* name;
  MemberType type = MemberType::kString;
  bool optional = false;
  // For strings: a byte length limit (0 = none) and an exact byte length (0 = any).
  size_t max_bytes = 0;
  size_t exact_bytes = 0;
};

// The members of one request, in the order of the action's member list.
class Args {
 public:
  explicit Args(std::vector<const rapidjson::Value*> values) : values_(std::move(values)) {}

  // The i-th member, or null when an optional member is absent.
  const rapidjson::Value* Raw(size_t i) const { return values_.at(i); }
  bool Has(size_t i) const { return Raw(i) != nullptr; }
  std::string_view Str(size_t i) const;
  int32_t Int(size_t i) const;  // kInt32 and kNumber members (saturated, truncated to zero)

 private:
  std::vector<const rapidjson::Value*> values_;
};

using Handler = std::function<void(const Args& args, const Reply& reply)>;

struct Action {
  std::string name;
  std::vector<Member> members;
  Handler handler;
};

// Rows are compared in the order they were added; the first equal name wins.
class ActionTable {
 public:
  ActionTable() = default;
  ActionTable(std::initializer_list<Action> rows) : rows_(rows) {}
  void Add(Action row) { rows_.push_back(std::move(row)); }
  const Action* Find(std::string_view name) const;

 private:
  std::vector<Action> rows_;
};

// Row helpers for the common kinds of action.

// An operation that writes a NUL-terminated text into a buffer of `capacity` bytes and returns
// a result code: success answers the text, failure the code.
using TextOperation = std::function<int(const Args&, char* result, size_t capacity)>;
Action TextAction(std::string name, std::vector<Member> members, size_t capacity, TextOperation op);

// An operation whose result is its code alone: the reply carries the code.
using CodeOperation = std::function<int(const Args&)>;
Action CodeAction(std::string name, std::vector<Member> members, CodeOperation op);

// "IsExtensionOK": answers 0 without touching any key.
Action IsExtensionOkAction();

// Answers one parsed request through `write`: exactly one reply or one complete sequence of
// chunks.
void Dispatch(const rapidjson::Document& request, const ActionTable& table,
              const FrameWriter& write);

}  // namespace koba::host
