#include "registration.h"

#include <oleauto.h>
#include <olectl.h>

#include "module.h"
#include "win_handle.h"

namespace koba::com {
namespace {

std::wstring GuidText(const GUID& guid) {
  wchar_t text[40] = {};
  StringFromGUID2(guid, text, 40);
  return text;
}

struct Row {
  const wchar_t* key;
  const wchar_t* value;  // nullptr: the default value
  const wchar_t* data;   // nullptr: the key only
};

// Placeholders: %APPID% %APPNAME% %CLSID% %CLASS% %PROGID% %VIPROGID% %LIBID% %MODULE%.
constexpr Row kRows[] = {
    {L"AppID\\%APPID%", nullptr, L"%APPNAME%"},
    {L"AppID\\%APPNAME%.DLL", L"AppID", L"%APPID%"},
    {L"%PROGID%", nullptr, L"%CLASS%"},
    {L"%PROGID%\\CLSID", nullptr, L"%CLSID%"},
    {L"%VIPROGID%", nullptr, L"%CLASS%"},
    {L"%VIPROGID%\\CLSID", nullptr, L"%CLSID%"},
    {L"%VIPROGID%\\CurVer", nullptr, L"%PROGID%"},
    {L"CLSID\\%CLSID%", nullptr, L"%CLASS%"},
    {L"CLSID\\%CLSID%", L"AppID", L"%APPID%"},
    {L"CLSID\\%CLSID%\\ProgID", nullptr, L"%PROGID%"},
    {L"CLSID\\%CLSID%\\VersionIndependentProgID", nullptr, L"%VIPROGID%"},
    {L"CLSID\\%CLSID%\\Programmable", nullptr, nullptr},
    {L"CLSID\\%CLSID%\\InprocServer32", nullptr, L"%MODULE%"},
    {L"CLSID\\%CLSID%\\InprocServer32", L"ThreadingModel", L"Apartment"},
    {L"CLSID\\%CLSID%\\TypeLib", nullptr, L"%LIBID%"},
};

constexpr const wchar_t* kOwnedKeys[] = {L"CLSID\\%CLSID%", L"%PROGID%", L"%VIPROGID%",
                                         L"AppID\\%APPID%", L"AppID\\%APPNAME%.DLL"};

std::wstring Fill(const wchar_t* pattern, const ServerIdentity& id, const std::wstring& module) {
  const std::pair<const wchar_t*, std::wstring> names[] = {
      {L"%APPID%", GuidText(id.appid)}, {L"%APPNAME%", id.appid_name},
      {L"%CLSID%", GuidText(id.clsid)}, {L"%CLASS%", id.class_name},
      {L"%PROGID%", id.prog_id},        {L"%VIPROGID%", id.version_independent_prog_id},
      {L"%LIBID%", GuidText(id.libid)}, {L"%MODULE%", module}};
  std::wstring text = pattern;
  for (const auto& [name, value] : names) {
    const std::wstring placeholder = name;
    for (size_t at = text.find(placeholder); at != std::wstring::npos;
         at = text.find(placeholder, at + value.size())) {
      text.replace(at, placeholder.size(), value);
    }
  }
  return text;
}

LSTATUS DeleteTree(const std::wstring& key) {
  const LSTATUS status = RegDeleteTreeW(HKEY_CLASSES_ROOT, key.c_str());
  if (status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND)
    RegDeleteKeyW(HKEY_CLASSES_ROOT, key.c_str());
  return status == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : status;
}

SYSKIND ThisSysKind() {
  return sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32;
}

}  // namespace

std::vector<RegistryEntry> RegistryEntries(const ServerIdentity& id, const std::wstring& module) {
  std::vector<RegistryEntry> entries;
  for (const Row& row : kRows) {
    RegistryEntry entry{Fill(row.key, id, module), row.value != nullptr ? row.value : L"",
                        row.data != nullptr,
                        row.data != nullptr ? Fill(row.data, id, module) : L""};
    entries.push_back(std::move(entry));
  }
  return entries;
}

std::vector<std::wstring> OwnedKeys(const ServerIdentity& id) {
  std::vector<std::wstring> keys;
  for (const wchar_t* key : kOwnedKeys)
    keys.push_back(Fill(key, id, L""));
  return keys;
}

HRESULT RegisterServer(const ServerIdentity& id) {
  const std::wstring module = ModulePath();
  if (module.empty())
    return SELFREG_E_CLASS;
  // The class key is rewritten from scratch at every registration.
  DeleteTree(Fill(L"CLSID\\%CLSID%", id, module));
  for (const RegistryEntry& entry : RegistryEntries(id, module)) {
    HKEY raw = nullptr;
    if (RegCreateKeyExW(HKEY_CLASSES_ROOT, entry.key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr,
                        &raw, nullptr) != ERROR_SUCCESS) {
      UnregisterServer(id);
      return SELFREG_E_CLASS;
    }
    const win::UniqueRegKey key(raw);
    if (!entry.has_data)
      continue;
    const DWORD bytes = static_cast<DWORD>((entry.data.size() + 1) * sizeof(wchar_t));
    if (RegSetValueExW(key.get(), entry.value.empty() ? nullptr : entry.value.c_str(), 0, REG_SZ,
                       reinterpret_cast<const BYTE*>(entry.data.c_str()), bytes) != ERROR_SUCCESS) {
      UnregisterServer(id);
      return SELFREG_E_CLASS;
    }
  }
  ITypeLib* typelib = nullptr;
  const HRESULT hr = LoadTypeLibEx(module.c_str(), REGKIND_REGISTER, &typelib);
  if (FAILED(hr)) {
    UnregisterServer(id);
    return SELFREG_E_TYPELIB;
  }
  typelib->Release();
  return S_OK;
}

HRESULT UnregisterServer(const ServerIdentity& id) {
  bool failed = false;
  for (const std::wstring& key : OwnedKeys(id))
    failed |= DeleteTree(key) != ERROR_SUCCESS;
  const HRESULT hr = UnRegisterTypeLib(id.libid, id.typelib_major, id.typelib_minor, LOCALE_NEUTRAL,
                                       ThisSysKind());
  // A library that was never registered is no failure of the unregistration.
  if (FAILED(hr) && hr != TYPE_E_REGISTRYACCESS && hr != TYPE_E_CANTLOADLIBRARY)
    failed = true;
  return failed ? SELFREG_E_CLASS : S_OK;
}

}  // namespace koba::com
