// The system checks and small system changes around an installation: Windows version and
// WOW64, a COM server's version, the maker's virtual smart-card reader, the trusted sites
// zone, removing a text from a file and creating a folder or file that everyone may write.
#include <windows.h>

#include <aclapi.h>
#include <initguid.h>
#include <sddl.h>
#include <setupapi.h>
#include <urlmon.h>

#include <memory>
#include <string>
#include <vector>

#include "file_text.h"
#include "nsis_plugin.h"
#include "system_info.h"
#include "value_rules.h"
#include "win_handle.h"

namespace koba::installer {
namespace {

// GUID_DEVINTERFACE_SMARTCARD_READER, which the SDK headers here lack.
constexpr GUID kSmartCardReaderInterface = {
    0x50DD5230, 0xBA8A, 0x11D1, {0xBF, 0x5D, 0x00, 0x00, 0xF8, 0x05, 0xF5, 0x30}};

const wchar_t* SysVersionName(const OSVERSIONINFOEXW& v) {
  if (v.dwPlatformId != VER_PLATFORM_WIN32_NT)
    return L"unknown";
  if (v.dwMajorVersion <= 4)
    return L"98";
  if (v.dwMajorVersion == 5 && v.dwMinorVersion == 0)
    return L"2K";
  if (v.dwMajorVersion == 5 && v.dwMinorVersion == 1)
    return L"XP";
  if (v.dwMajorVersion == 5 && v.dwMinorVersion == 2 && v.wProductType == VER_NT_SERVER)
    return L"2003";
  if (v.dwMajorVersion == 6 && v.dwMinorVersion == 0)
    return L"Vista";
  if (v.dwMajorVersion >= 6 && v.dwMinorVersion >= 1)
    return L"Win7";
  return L"unknown";
}

// The product version of a file's version resource; 0.0.0.0 without one.
Version FileProductVersion(const wchar_t* path) {
  DWORD handle = 0;
  const DWORD size = GetFileVersionInfoSizeW(path, &handle);
  if (size == 0)
    return {};
  std::vector<BYTE> info(size);
  if (!GetFileVersionInfoW(path, 0, size, info.data()))
    return {};
  const WORD* translation = nullptr;
  UINT length = 0;
  if (!VerQueryValueW(info.data(), L"\\VarFileInfo\\Translation",
                      reinterpret_cast<void**>(const_cast<WORD**>(&translation)), &length) ||
      length < 2 * sizeof(WORD))
    return {};
  wchar_t query[64];
  wsprintfW(query, L"\\StringFileInfo\\%04x%04x\\ProductVersion", translation[0], translation[1]);
  wchar_t* text = nullptr;
  if (!VerQueryValueW(info.data(), query, reinterpret_cast<void**>(&text), &length) ||
      text == nullptr || length == 0)
    return {};
  return ParseVersion(ToAnsi(std::wstring_view(text, wcsnlen(text, length))));
}

// "1" when the server registered for the class is missing or older at any place.
bool ServerNeedsUpdate(const std::wstring& class_id, const std::wstring& required) {
  const std::wstring subkey = L"CLSID\\" + class_id + L"\\InprocServer32";
  HKEY raw = nullptr;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, subkey.c_str(), 0, KEY_QUERY_VALUE, &raw) != ERROR_SUCCESS)
    return true;
  const win::UniqueRegKey key(raw);
  // At most 260 bytes; one spare character keeps the path terminated.
  wchar_t path[MAX_PATH / sizeof(wchar_t) + 1] = {};
  DWORD size = MAX_PATH;
  if (RegQueryValueExW(key.get(), nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(path),
                       &size) != ERROR_SUCCESS)
    return true;
  return IsOlderAtAnyPlace(FileProductVersion(path), ParseVersion(ToAnsi(required)));
}

struct DeviceInfoSetCloser {
  void operator()(HDEVINFO set) const { SetupDiDestroyDeviceInfoList(set); }
};

bool VirtualReaderPresent() {
  const HDEVINFO raw = SetupDiGetClassDevsW(&kSmartCardReaderInterface, nullptr, nullptr,
                                            DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  if (raw == INVALID_HANDLE_VALUE)
    return false;
  const std::unique_ptr<void, DeviceInfoSetCloser> set(raw);
  SP_DEVINFO_DATA device{};
  device.cbSize = sizeof device;
  for (DWORD i = 0; SetupDiEnumDeviceInfo(raw, i, &device); ++i) {
    // A multi-string; two spare NULs keep the first string terminated.
    wchar_t ids[2048 / sizeof(wchar_t) + 2] = {};
    if (SetupDiGetDeviceRegistryPropertyW(raw, &device, SPDRP_HARDWAREID, nullptr,
                                          reinterpret_cast<BYTE*>(ids), 2048, nullptr) &&
        lstrcmpiW(ids, L"root\\KvnVirtualReader") == 0)
      return true;
  }
  return false;
}

void AddTrustedSite(const wchar_t* site) {
  const HRESULT init = CoInitialize(nullptr);
  IInternetSecurityManager* manager = nullptr;
  if (SUCCEEDED(CoCreateInstance(CLSID_InternetSecurityManager, nullptr, CLSCTX_INPROC_SERVER,
                                 IID_IInternetSecurityManager,
                                 reinterpret_cast<void**>(&manager)))) {
    manager->SetZoneMapping(URLZONE_TRUSTED, site, SZM_CREATE);
    manager->Release();
  }
  if (SUCCEEDED(init))
    CoUninitialize();
}

// Reads a whole file; false unless every byte of its size was read.
bool ReadWholeFile(const wchar_t* path, std::string* content) {
  const win::UniqueHandle file = win::OwnFile(CreateFileW(
      path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file)
    return false;
  DWORD high = 0;
  const DWORD size = GetFileSize(file.get(), &high);
  if (size == INVALID_FILE_SIZE || high != 0)
    return false;
  content->resize(size);
  DWORD total = 0;
  while (total < size) {
    DWORD got = 0;
    const DWORD piece = size - total < 1024 ? size - total : 1024;
    if (!ReadFile(file.get(), &(*content)[total], piece, &got, nullptr) || got == 0)
      break;
    total += got;
  }
  return total == size;
}

// Writes the new content beside the file and then puts it in the file's place, so a failed
// write leaves the old file as it was.
void ReplaceFileContent(const std::wstring& path, const std::string& content) {
  const std::wstring temporary = path + L".koba-new";
  {
    const win::UniqueHandle file =
        win::OwnFile(CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
      return;
    for (size_t done = 0; done < content.size();) {
      const DWORD piece = content.size() - done < 4096 ? DWORD(content.size() - done) : 4096;
      DWORD written = 0;
      if (!WriteFile(file.get(), content.data() + done, piece, &written, nullptr) || written == 0) {
        DeleteFileW(temporary.c_str());
        return;
      }
      done += written;
    }
  }
  if (!MoveFileExW(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING))
    DeleteFileW(temporary.c_str());
}

void RemoveTextFromFile(const std::wstring& path, const std::wstring& text) {
  const std::string ansi_text = ToAnsi(text);
  std::string content;
  if (ansi_text.empty() || !ReadWholeFile(path.c_str(), &content))
    return;
  if (RemoveTextEverywhere(&content, ansi_text))
    ReplaceFileContent(path, content);
}

bool IsNt61OrLater(const OSVERSIONINFOEXW& v) {
  return v.dwMajorVersion >= 6 && v.dwMinorVersion >= 1;
}

// Everyone may write: a present NULL DACL, and from NT 6.1 on the low mandatory label.
win::UniqueLocal<void> EveryoneWritesDescriptor(const OSVERSIONINFOEXW& version) {
  const wchar_t* sddl =
      IsNt61OrLater(version) ? L"D:NO_ACCESS_CONTROLS:(ML;;NW;;;LW)" : L"D:NO_ACCESS_CONTROL";
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor,
                                                            nullptr))
    return nullptr;
  return win::UniqueLocal<void>(descriptor);
}

// The access list granting Everyone full access with inheritance; built as a check that the
// account database answers, not attached to the new object.
bool EveryoneAccessListBuilds() {
  SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
  PSID everyone = nullptr;
  if (!AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone))
    return false;
  EXPLICIT_ACCESSW access{};
  access.grfAccessPermissions = FILE_ALL_ACCESS;
  access.grfAccessMode = SET_ACCESS;
  access.grfInheritance = SUB_CONTAINERS_AND_OBJECTS_INHERIT;
  access.Trustee.TrusteeForm = TRUSTEE_IS_SID;
  access.Trustee.TrusteeType = TRUSTEE_IS_WELL_KNOWN_GROUP;
  access.Trustee.ptstrName = static_cast<LPWSTR>(everyone);
  PACL acl = nullptr;
  const DWORD status = SetEntriesInAclW(1, &access, nullptr, &acl);
  FreeSid(everyone);
  if (acl != nullptr)
    LocalFree(acl);
  return status == ERROR_SUCCESS;
}

void CreateForEveryone(const std::wstring& kind, const std::wstring& path) {
  const bool dir = kind == L"DIR";
  if (!dir && kind != L"FILE")
    return;
  OSVERSIONINFOEXW version;
  if (!GetOsVersion(&version))
    version = {};
  const win::UniqueLocal<void> descriptor = EveryoneWritesDescriptor(version);
  if (!descriptor)
    return;
  if (version.dwMajorVersion > 4 && !EveryoneAccessListBuilds())
    return;
  SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor.get(), FALSE};
  if (dir) {
    const BOOL created = CreateDirectoryW(path.c_str(), &attributes);
    OutputDebugStringW(L"createD:ret");
    nsis::SetResult(created ? L"1" : L"0");
    return;
  }
  const win::UniqueHandle file =
      win::OwnFile(CreateFileW(path.c_str(), FILE_ALL_ACCESS, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               &attributes, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  OutputDebugStringW(L"createFile::handle");
  nsis::SetResult(file ? path : std::wstring(L"0"));
}

}  // namespace
}  // namespace koba::installer

namespace installer = koba::installer;
namespace nsis = koba::installer::nsis;

KOBA_NSIS_EXPORT(GetSysVersion) {
  OSVERSIONINFOEXW version;
  nsis::SetResult(installer::GetOsVersion(&version) ? installer::SysVersionName(version)
                                                    : L"unknown");
}

KOBA_NSIS_EXPORT(IsSupport64) {
  nsis::SetResult(installer::IsWow64() ? L"1" : L"0");
}

KOBA_NSIS_EXPORT(CheckATLVersion) {
  nsis::Arg<MAX_PATH> class_id, required;
  class_id.Take();
  required.Take();
  nsis::SetResult(installer::ServerNeedsUpdate(class_id.text, required.text) ? L"1" : L"0");
}

KOBA_NSIS_EXPORT(CheckInstalledVSC) {
  nsis::SetResult(installer::VirtualReaderPresent() ? L"1" : L"0");
}

KOBA_NSIS_EXPORT(MicroAddTrustSite) {
  nsis::Arg<MAX_PATH> site;
  if (site.Take() == nsis::Pop::kTaken)
    installer::AddTrustedSite(site.text);
}

KOBA_NSIS_EXPORT(ModifyFileData) {
  nsis::Arg<> path, text;
  if (path.Take() == nsis::Pop::kTooLong || text.Take() == nsis::Pop::kTooLong)
    return;
  installer::RemoveTextFromFile(path.text, text.text);
}

KOBA_NSIS_EXPORT(RWCreate) {
  nsis::Arg<> kind;
  nsis::Arg<MAX_PATH> path;
  if (kind.Take() == nsis::Pop::kTooLong || path.Take() == nsis::Pop::kTooLong)
    return;
  installer::CreateForEveryone(kind.text, path.text);
}
