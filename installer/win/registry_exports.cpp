// The seven registry exports: values and keys in either registry view, for a 32-bit installer
// on 64-bit Windows. The arguments follow the grammar of reg_args.h; results go to $R0.
#include <windows.h>

#include <string>

#include "nsis_plugin.h"
#include "reg_args.h"
#include "system_info.h"
#include "value_rules.h"
#include "win_handle.h"

namespace koba::installer {
namespace {

// Value reads never take more than this many bytes.
constexpr DWORD kReadCapacity = 260;

HKEY RootKey(RegRoot root) {
  switch (root) {
    case RegRoot::kLocalMachine:
      return HKEY_LOCAL_MACHINE;
    case RegRoot::kCurrentUser:
      return HKEY_CURRENT_USER;
    case RegRoot::kUsers:
      return HKEY_USERS;
    case RegRoot::kCurrentConfig:
      return HKEY_CURRENT_CONFIG;
    default:
      return HKEY_CLASSES_ROOT;
  }
}

// Pops and classifies arguments until the trigger; false when the call has already ended.
bool ReadArguments(RegExport which, RegRequest* request) {
  EnableDebugPrivilege();
  RegArgGrammar grammar(which, Has64BitView());
  nsis::Arg<> arg;
  for (;;) {
    const nsis::Pop pop = arg.Take();
    if (pop == nsis::Pop::kTooLong) {
      nsis::SetResult(L"0");
      return false;
    }
    switch (grammar.Feed(arg.view(), pop == nsis::Pop::kEmpty)) {
      case RegArgGrammar::Step::kMore:
        continue;
      case RegArgGrammar::Step::kEmpty:
        nsis::SetResult(L"0");
        return false;
      case RegArgGrammar::Step::kNotARoot:
        return false;
      case RegArgGrammar::Step::kTrigger:
        *request = grammar.request();
        return true;
    }
  }
}

// The views an operation touches, in its order.
struct ViewPass {
  bool selected;
  REGSAM flag;
};

void WriteValue(RegExport which, const RegRequest& r) {
  const ViewPass passes[] = {{r.view32, KEY_WOW64_32KEY}, {r.view64, KEY_WOW64_64KEY}};
  for (const ViewPass& pass : passes) {
    if (!pass.selected)
      continue;
    HKEY raw = nullptr;
    if (RegCreateKeyExW(RootKey(r.root), r.subkey.c_str(), 0, nullptr, 0,
                        KEY_ALL_ACCESS | pass.flag, nullptr, &raw, nullptr) != ERROR_SUCCESS) {
      OutputDebugStringW(L"Reg Create ERROR");
      return;
    }
    const win::UniqueRegKey key(raw);
    LONG status = ERROR_SUCCESS;
    if (which == RegExport::kWriteDword) {
      const DWORD value = ParseDecimalDword(r.data);
      status = RegSetValueExW(key.get(), r.value_name.c_str(), 0, REG_DWORD,
                              reinterpret_cast<const BYTE*>(&value), sizeof value);
    } else if (which == RegExport::kWriteStr) {
      status = RegSetValueExW(key.get(), r.value_name.c_str(), 0, REG_SZ,
                              reinterpret_cast<const BYTE*>(r.data.c_str()),
                              static_cast<DWORD>((r.data.size() + 1) * sizeof(wchar_t)));
    } else {
      const std::vector<uint8_t> bytes = ParseHexBytes(r.data);
      status = RegSetValueExW(key.get(), r.value_name.c_str(), 0, REG_BINARY, bytes.data(),
                              static_cast<DWORD>(bytes.size()));
    }
    if (status != ERROR_SUCCESS)
      OutputDebugStringW(L"Could not set the Key Value.");
  }
}

std::wstring ReadValue(RegExport which, HKEY key, const std::wstring& name) {
  if (which == RegExport::kReadDword) {
    DWORD value = 0;
    DWORD size = sizeof value;
    if (key == nullptr ||
        RegQueryValueExW(key, name.c_str(), nullptr, nullptr, reinterpret_cast<BYTE*>(&value),
                         &size) != ERROR_SUCCESS ||
        size != sizeof value)
      value = 0;
    return std::to_wstring(static_cast<int32_t>(value));
  }
  // One spare character keeps a text that fills the whole capacity terminated.
  wchar_t buffer[kReadCapacity / sizeof(wchar_t) + 1] = {};
  DWORD size = kReadCapacity;
  if (key == nullptr || RegQueryValueExW(key, name.c_str(), nullptr, nullptr,
                                         reinterpret_cast<BYTE*>(buffer), &size) != ERROR_SUCCESS)
    return {};
  if (which == RegExport::kReadStr)
    return buffer;
  return FormatHexBytes(reinterpret_cast<const uint8_t*>(buffer), size);
}

void ReadValueIntoResult(RegExport which, const RegRequest& r) {
  const ViewPass passes[] = {{r.view64, KEY_WOW64_64KEY}, {r.view32, KEY_WOW64_32KEY}};
  for (const ViewPass& pass : passes) {
    if (!pass.selected)
      continue;
    HKEY raw = nullptr;
    if (RegOpenKeyExW(RootKey(r.root), r.subkey.c_str(), 0, KEY_ALL_ACCESS | pass.flag, &raw) !=
        ERROR_SUCCESS) {
      OutputDebugStringW(L"Reg Open ERROR");
      raw = nullptr;
    }
    const win::UniqueRegKey key(raw);
    nsis::SetResult(ReadValue(which, key.get(), r.value_name));
  }
}

DWORD CountSubkeys(HKEY root, const std::wstring& subkey, REGSAM view) {
  HKEY raw = nullptr;
  if (RegOpenKeyExW(root, subkey.c_str(), 0, KEY_READ | view, &raw) != ERROR_SUCCESS)
    return 0;
  const win::UniqueRegKey key(raw);
  DWORD count = 0;
  if (RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, &count, nullptr, nullptr, nullptr,
                       nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
    return 0;
  return count;
}

// RegDeleteKeyExW where advapi32 offers it (every Windows with two views does).
LONG DeleteKeyInView(HKEY root, const std::wstring& subkey, REGSAM view) {
  using RegDeleteKeyExWFn = LONG(WINAPI*)(HKEY, LPCWSTR, REGSAM, DWORD);
  const HMODULE advapi32 = GetModuleHandleW(L"Advapi32.dll");
  const auto delete_ex = advapi32 == nullptr
                             ? nullptr
                             : reinterpret_cast<RegDeleteKeyExWFn>(reinterpret_cast<void (*)()>(
                                   GetProcAddress(advapi32, "RegDeleteKeyExW")));
  if (delete_ex != nullptr)
    return delete_ex(root, subkey.c_str(), view, 0);
  return view == KEY_WOW64_32KEY ? RegDeleteKeyW(root, subkey.c_str()) : ERROR_NOT_SUPPORTED;
}

bool DeleteKey(const RegRequest& r) {
  const HKEY root = RootKey(r.root);
  const ViewPass passes[] = {{r.view64 && Has64BitView(), KEY_WOW64_64KEY},
                             {r.view32, KEY_WOW64_32KEY}};
  for (const ViewPass& pass : passes) {
    if (!pass.selected)
      continue;
    // With "/ifempty" a key that still has subkeys stays and counts as done.
    if (r.if_empty && CountSubkeys(root, r.subkey, pass.flag) > 0)
      continue;
    if (DeleteKeyInView(root, r.subkey, pass.flag) != ERROR_SUCCESS)
      return false;
  }
  return true;
}

bool DeleteValue(const RegRequest& r) {
  const ViewPass passes[] = {{r.view64 && Has64BitView(), KEY_WOW64_64KEY},
                             {r.view32, KEY_WOW64_32KEY}};
  for (const ViewPass& pass : passes) {
    if (!pass.selected)
      continue;
    HKEY raw = nullptr;
    if (RegOpenKeyExW(RootKey(r.root), r.subkey.c_str(), 0, KEY_ALL_ACCESS | pass.flag, &raw) !=
        ERROR_SUCCESS)
      return false;
    const win::UniqueRegKey key(raw);
    if (RegDeleteValueW(key.get(), r.value_name.c_str()) != ERROR_SUCCESS)
      return false;
  }
  return true;
}

void RunRegistryExport(RegExport which) {
  RegRequest request;
  if (!ReadArguments(which, &request))
    return;
  switch (which) {
    case RegExport::kWriteDword:
    case RegExport::kWriteStr:
    case RegExport::kWriteBin:
      WriteValue(which, request);
      break;
    case RegExport::kReadDword:
    case RegExport::kReadStr:
    case RegExport::kReadBin:
      ReadValueIntoResult(which, request);
      break;
    case RegExport::kDeleteKey:
      nsis::SetResult(DeleteKey(request) ? L"1" : L"0");
      break;
    case RegExport::kDeleteValue:
      nsis::SetResult(DeleteValue(request) ? L"1" : L"0");
      break;
  }
}

}  // namespace
}  // namespace koba::installer

using koba::installer::RegExport;
using koba::installer::RunRegistryExport;

KOBA_NSIS_EXPORT(WriteRegDWORD) {
  RunRegistryExport(RegExport::kWriteDword);
}
KOBA_NSIS_EXPORT(WriteRegStr) {
  RunRegistryExport(RegExport::kWriteStr);
}
KOBA_NSIS_EXPORT(WriteRegBin) {
  RunRegistryExport(RegExport::kWriteBin);
}
KOBA_NSIS_EXPORT(ReadRegDWORD) {
  RunRegistryExport(RegExport::kReadDword);
}
KOBA_NSIS_EXPORT(ReadRegStr) {
  RunRegistryExport(RegExport::kReadStr);
}
KOBA_NSIS_EXPORT(ReadRegBin) {
  RunRegistryExport(RegExport::kReadBin);
}
KOBA_NSIS_EXPORT(DeleteRegKey) {
  RunRegistryExport(RegExport::kDeleteKey);
}
KOBA_NSIS_EXPORT(DeleteRegValue) {
  RunRegistryExport(RegExport::kDeleteValue);
}
