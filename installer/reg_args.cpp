#include "reg_args.h"

namespace koba::installer {
namespace {

wchar_t AsciiUpper(wchar_t c) {
  return c >= L'a' && c <= L'z' ? c - L'a' + L'A' : c;
}

struct RootName {
  std::wstring_view name;
  RegRoot root;
};
constexpr RootName kRootNames[] = {
    {L"HKLM", RegRoot::kLocalMachine},  {L"HKCU", RegRoot::kCurrentUser}, {L"HKU", RegRoot::kUsers},
    {L"HKCC", RegRoot::kCurrentConfig}, {L"HKCR", RegRoot::kClassesRoot},
};

}  // namespace

bool EqualsAsciiNoCase(std::wstring_view a, std::wstring_view b) {
  if (a.size() != b.size())
    return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (AsciiUpper(a[i]) != AsciiUpper(b[i]))
      return false;
  }
  return true;
}

RegRoot ParseRegRoot(std::wstring_view name) {
  for (const RootName& entry : kRootNames) {
    if (EqualsAsciiNoCase(name, entry.name))
      return entry.root;
  }
  return RegRoot::kNone;
}

RegArgGrammar::RegArgGrammar(RegExport which, bool has_64bit_view)
    : which_(which),
      x64_recognised_(has_64bit_view || which == RegExport::kDeleteKey ||
                      which == RegExport::kDeleteValue) {}

int RegArgGrammar::SlotCount() const {
  switch (which_) {
    case RegExport::kWriteDword:
    case RegExport::kWriteStr:
    case RegExport::kWriteBin:
      return 3;
    case RegExport::kDeleteKey:
      return 1;
    default:
      return 2;
  }
}

RegArgGrammar::Step RegArgGrammar::Feed(std::wstring_view arg, bool repeated) {
  bool* flag = nullptr;
  if (EqualsAsciiNoCase(arg, L"/x86")) {
    flag = &request_.view32;
  } else if (x64_recognised_ && EqualsAsciiNoCase(arg, L"/x64")) {
    flag = &request_.view64;
  } else if (which_ == RegExport::kDeleteKey && EqualsAsciiNoCase(arg, L"/ifempty")) {
    flag = &request_.if_empty;
  }
  if (flag != nullptr) {
    if (repeated)
      return Step::kEmpty;
    *flag = true;
    return Step::kMore;
  }
  if (arg.empty())
    return Step::kEmpty;
  if (request_.root == RegRoot::kNone) {
    request_.root = ParseRegRoot(arg);
    return request_.root == RegRoot::kNone ? Step::kNotARoot : Step::kMore;
  }
  if (filled_ == SlotCount())
    return Step::kTrigger;
  std::wstring* const slots[] = {&request_.subkey,
                                 which_ == RegExport::kDeleteKey ? nullptr : &request_.value_name,
                                 &request_.data};
  slots[filled_]->assign(arg);
  ++filled_;
  return Step::kMore;
}

}  // namespace koba::installer
