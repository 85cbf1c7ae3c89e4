// Runs GMUsbKeySign on the installed system with the recording PIN pad in place of the real
// one, so that tests can sign against keys laid out with `vkey` and judge the result:
//   signing_probe REQUEST OUT
// REQUEST is a UTF-8 file of lines: the PIN pad's answers ("pin:<PIN>" enters a PIN,
// "status:<hex>" returns a PIN pad status; one answer per sign call, separated by ","), the
// certificate DN, the digest name, the key-information text, the file path, then the XML text
// (the rest of the file). Each sign call prints "<code> <1 when the PIN pad was asked, else 0>"
// on a line; OUT receives the Base64 of the last successful call.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "signing.h"

namespace {

std::wstring BesideProgram(const wchar_t* name) {
  wchar_t exe[MAX_PATH];
  GetModuleFileNameW(nullptr, exe, MAX_PATH);
  std::wstring dir(exe);
  dir.resize(dir.find_last_of(L'\\') + 1);
  return dir + name;
}

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::stringstream in(text);
  std::string part;
  while (std::getline(in, part, separator))
    parts.push_back(part);
  return parts;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3)
    return 2;
  std::ifstream in(argv[1], std::ios::binary);
  std::string answers, dn, digest, key_info, path;
  if (!std::getline(in, answers) || !std::getline(in, dn) || !std::getline(in, digest) ||
      !std::getline(in, key_info) || !std::getline(in, path)) {
    return 2;
  }
  const std::string xml((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());

  koba::core::LibraryPaths paths = koba::core::LibraryPaths::System();
  paths.pinpad = BesideProgram(L"recording_pinpad.dll");
  HMODULE pinpad = LoadLibraryW(paths.pinpad.c_str());
  if (pinpad == nullptr)
    return 3;
  auto script = reinterpret_cast<void(__stdcall*)(const char*, uint32_t)>(
      reinterpret_cast<void (*)()>(GetProcAddress(pinpad, "Recording_Script")));
  auto last = reinterpret_cast<BOOL(__stdcall*)(VKey::PinpadParam*, void**, uint32_t*, uint32_t*)>(
      reinterpret_cast<void (*)()>(GetProcAddress(pinpad, "Recording_Last")));
  if (script == nullptr || last == nullptr)
    return 3;
  koba::core::TokenCore core(paths);
  for (const std::string& answer : Split(answers, ',')) {
    if (answer.rfind("pin:", 0) == 0) {
      script(answer.c_str() + 4, 0);
    } else {
      script(nullptr, static_cast<uint32_t>(std::strtoul(answer.c_str() + 7, nullptr, 16)));
    }
    char* result = nullptr;
    const int code = koba::core::GMUsbKeySign(core, koba::csp::SystemCsp(), dn, digest, xml,
                                              key_info, path, &result);
    VKey::PinpadParam block;
    void* function = nullptr;
    uint32_t pad_key_info = 0;
    uint32_t language = 0;
    const bool asked = last(&block, &function, &pad_key_info, &language) != FALSE;
    std::printf("%d %d\n", code, asked ? 1 : 0);
    if (result != nullptr) {
      std::ofstream(argv[2], std::ios::binary) << result;
      koba::core::ReleaseResultText(result);
    }
  }
  FreeLibrary(pinpad);
  return 0;
}
