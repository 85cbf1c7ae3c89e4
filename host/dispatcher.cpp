#include "dispatcher.h"

#include <cmath>
#include <cstring>
#include <limits>

namespace koba::host {
namespace {

bool MemberPasses(const Member& m, const rapidjson::Value* v) {
  if (m.type == MemberType::kAny)
    return true;
  if (v == nullptr)
    return m.optional;
  switch (m.type) {
    case MemberType::kString: {
      if (!v->IsString())
        return false;
      const size_t len = v->GetStringLength();
      if (m.max_bytes != 0 && len > m.max_bytes)
        return false;
      if (m.exact_bytes != 0 && len != m.exact_bytes)
        return false;
      return true;
    }
    case MemberType::kInt32:
      return v->IsInt();
    case MemberType::kNumber:
      return v->IsNumber();
    case MemberType::kAny:
      break;
  }
  return true;
}

const rapidjson::Value* FindMember(const rapidjson::Value& doc, const char* name) {
  if (!doc.IsObject())
    return nullptr;
  const auto it = doc.FindMember(name);
  return it == doc.MemberEnd() ? nullptr : &it->value;
}

}  // namespace

std::string_view Args::Str(size_t i) const {
  const rapidjson::Value* v = Raw(i);
  if (v == nullptr || !v->IsString())
    return {};
  return {v->GetString(), v->GetStringLength()};
}

int32_t Args::Int(size_t i) const {
  const rapidjson::Value* v = Raw(i);
  if (v == nullptr || !v->IsNumber())
    return 0;
  if (v->IsInt())
    return v->GetInt();
  const double d = std::trunc(v->GetDouble());
  if (std::isnan(d))
    return 0;
  if (d >= static_cast<double>(std::numeric_limits<int32_t>::max())) {
    return std::numeric_limits<int32_t>::max();
  }
  if (d <= static_cast<double>(std::numeric_limits<int32_t>::min())) {
    return std::numeric_limits<int32_t>::min();
  }
  return static_cast<int32_t>(d);
}

const Action* ActionTable::Find(std::string_view name) const {
  if (name.size() > kMaxActionName)
    return nullptr;
  for (const Action& row : rows_) {
    if (row.name == name)
      return &row;
  }
  return nullptr;
}

Action TextAction(std::string name, std::vector<Member> members, size_t capacity,
                  TextOperation op) {
  return Action{std::move(name), std::move(members),
                [capacity, op = std::move(op)](const Args& args, const Reply& reply) {
                  std::vector<char> result(capacity + 1, '\0');
                  const int code = op(args, result.data(), capacity);
                  if (code != 0) {
                    reply.Number(code);
                  } else {
                    reply.Text({result.data(), strnlen(result.data(), capacity)});
                  }
                }};
}

Action CodeAction(std::string name, std::vector<Member> members, CodeOperation op) {
  return Action{
      std::move(name), std::move(members),
      [op = std::move(op)](const Args& args, const Reply& reply) { reply.Number(op(args)); }};
}

Action IsExtensionOkAction() {
  return CodeAction("IsExtensionOK", {}, [](const Args&) { return 0; });
}

void Dispatch(const rapidjson::Document& request, const ActionTable& table,
              const FrameWriter& write) {
  const rapidjson::Value* tab = FindMember(request, "tabID");
  const int tab_id = (tab != nullptr && tab->IsInt()) ? tab->GetInt() : 0;

  const rapidjson::Value* type = FindMember(request, "type");
  if (type == nullptr || !type->IsString()) {
    write(InvalidActionReply(tab_id));
    return;
  }
  // The whole name takes part in the comparison, embedded NUL bytes included; an over-long
  // name is answered under its first kMaxActionName bytes.
  std::string_view name(type->GetString(), type->GetStringLength());
  const Action* row = table.Find(name);
  if (row == nullptr) {
    write(NotSupportedReply(tab_id, name.substr(0, kMaxActionName)));
    return;
  }

  const Reply reply(tab_id, row->name, write);
  std::vector<const rapidjson::Value*> values;
  values.reserve(row->members.size());
  for (const Member& m : row->members) {
    const rapidjson::Value* v = FindMember(request, m.name);
    if (!MemberPasses(m, v)) {
      reply.Number(kErrBadParameter);
      return;
    }
    values.push_back(v);
  }
  row->handler(Args(std::move(values)), reply);
}

}  // namespace koba::host
