// What the code-signature checks ask WinVerifyTrust: the Authenticode signature of one file,
// with no user interface, no revocation checks and nothing fetched from the network.
#pragma once

#include <windows.h>

#include <softpub.h>
#include <wintrust.h>

namespace koba::codesign {

struct TrustRequest {
  // `file` may be null: the verifier then opens `path` itself.
  TrustRequest(const wchar_t* path, HANDLE file) {
    file_info.cbStruct = sizeof file_info;
    file_info.pcwszFilePath = path;
    file_info.hFile = file;
    data.cbStruct = sizeof data;
    data.dwUIChoice = WTD_UI_NONE;
    data.fdwRevocationChecks = WTD_REVOKE_NONE;
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &file_info;
    data.dwStateAction = WTD_STATEACTION_VERIFY;
    data.dwProvFlags = WTD_CACHE_ONLY_URL_RETRIEVAL;
  }
  TrustRequest(const TrustRequest&) = delete;
  TrustRequest& operator=(const TrustRequest&) = delete;

  GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
  WINTRUST_FILE_INFO file_info{};
  WINTRUST_DATA data{};
};

}  // namespace koba::codesign
