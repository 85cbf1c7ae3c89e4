#include "actions.h"

#include <memory>
#include <string>

#include "cert_install.h"
#include "diag_log.h"
#include "enrollment.h"
#include "file_actions.h"
#include "queries.h"
#include "result_codes.h"
#include "settings.h"
#include "signing.h"
#include "text_encoding.h"
#include "ui_settings.h"

namespace koba::host {
namespace {

// Capacities of the result buffers, terminating NUL included.
constexpr size_t kVersionCapacity = 64;
constexpr size_t kListCapacity = 256;
constexpr size_t kPkcs7ListCapacity = 10240;

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

// The Base64 PKCS#7 message, chunked; the core's text is released once it is sent.
Action GMUsbKeySignAction(core::TokenCore& core, csp::CspInterface& csp) {
  return Action{"GMUsbKeySign",
                {{"certDN"}, {"hashType"}, {"xmlInfo"}, {"keyInfo"}, {"filePath"}},
                [&core, &csp](const Args& args, const Reply& reply) {
                  char* text = nullptr;
                  const int code = core::GMUsbKeySign(core, csp, args.Str(0), args.Str(1),
                                                      args.Str(2), args.Str(3), args.Str(4), &text);
                  const std::unique_ptr<char, void (*)(char*)> owned(text,
                                                                     &core::ReleaseResultText);
                  if (code != 0 || owned == nullptr) {
                    reply.Number(code != 0 ? code : core::kOtherError);
                  } else {
                    reply.Chunked(owned.get());
                  }
                }};
}

// The page's UTF-8 text as the UTF-16 the PIN pad's warning is stored in.
Action SetWarningMsgAction() {
  return CodeAction("SetWarningMsg", {{"warningMsg"}}, [](const Args& args) -> int {
    std::u16string text;
    if (!text::Utf8ToUtf16(args.Str(0), &text))
      return core::kBadParameter;
    return core::SetWarningMsg(reinterpret_cast<const wchar_t*>(text.c_str()));
  });
}

Action GMGetPKCS7Action(core::TokenCore& core, csp::CspInterface& csp) {
  return TextAction("GMGetPKCS7", {}, kPkcs7ListCapacity,
                    [&core, &csp](const Args&, char* out, size_t cap) {
                      size_t length = 0;
                      return core::GMGetPKCS7(core, csp, out, cap, &length);
                    });
}

}  // namespace

// Rows in the order the pages' actions are compared.
ActionTable BuildActionTable(core::TokenCore& core, csp::CspInterface& csp) {
  const FileState files = std::make_shared<core::FileSigningState>();
  ActionTable table;
  table.Add(TextAction("GetMediaID", {}, 60, [&core](const Args&, char* out, size_t cap) {
    return core.GetMediaID(out, cap);
  }));
  table.Add(IsExtensionOkAction());
  table.Add(GetDriverVersionAction());
  table.Add(TextAction("GMGetCertDN", {}, 1024, [&core, &csp](const Args&, char* out, size_t cap) {
    return core::GMGetCertDN(core, csp, out, cap);
  }));
  table.Add(TextAction("GetPublicKeyC", {}, 5160, [&core](const Args&, char* out, size_t cap) {
    return core::GetPublicKeyC(core, out, cap);
  }));
  table.Add(TextAction("GMGetAdminKeyInfo", {}, 80, [&core](const Args&, char* out, size_t cap) {
    return core::GMGetAdminKeyInfo(core, out, cap);
  }));
  table.Add(GetVersionAction());
  table.Add(
      CodeAction("CustInitCard", {}, [&core](const Args&) { return core::CustInitCard(core); }));
  table.Add(
      TextAction("GetCharsetList", {}, kListCapacity, [&core](const Args&, char* out, size_t cap) {
        return core::GetCharsetList(core, out, cap);
      }));
  table.Add(CodeAction("SetCharset", {{"charset"}},
                       [&core](const Args& a) { return core::SetCharset(core, a.Str(0)); }));
  table.Add(
      TextAction("GetLanguageList", {}, kListCapacity, [&core](const Args&, char* out, size_t cap) {
        return core::GetLanguageList(core, out, cap);
      }));
  table.Add(CodeAction("GMJudgeAndDelOlderDN", {}, [&core, &csp](const Args&) {
    return core::GMJudgeAndDelOlderDN(core, csp);
  }));
  table.Add(CodeAction("SetLanguage", {{"language"}},
                       [&core](const Args& a) { return core::SetLanguage(core, a.Str(0)); }));
  table.Add(SetWarningMsgAction());
  table.Add(TextAction("GMGetPublicKey", {{"keyType"}}, 8192,
                       [&core, &csp](const Args& a, char* out, size_t cap) {
                         return core::GMGetPublicKey(core, csp, a.Str(0), out, cap);
                       }));
  table.Add(TextAction("GMCreatePKCS10", {{"info"}}, core::kPkcs10Capacity,
                       [&core, &csp](const Args& a, char* out, size_t cap) {
                         return core::GMCreatePKCS10(core, csp, a.Str(0), out, cap);
                       }));
  table.Add(CodeAction("GMWritePKCS7", {{"p7"}}, [&core, &csp](const Args& a) {
    return core::GMWritePKCS7(core, csp, a.Str(0));
  }));
  table.Add(GMGetPKCS7Action(core, csp));
  table.Add(GMUsbKeySignFileAction(core, csp));
  table.Add(TextAction("GMGetPublicKeyC", {{"KeyType"}, {"dnOrID"}, {"Base64SerRand"}}, 12288,
                       [&core, &csp](const Args& a, char* out, size_t cap) {
                         return core::GMGetPublicKeyC(core, csp, a.Str(0), a.Str(1), a.Str(2), out,
                                                      cap);
                       }));
  table.Add(CodeAction("GMDelTempKey", {{"CertDn"}, {"PublicKeyId"}}, [&core, &csp](const Args& a) {
    return core::GMDelTempKey(core, csp, a.Str(0), a.Str(1));
  }));
  table.Add(CodeAction("ChangePin", {}, [&core](const Args&) { return core::ChangePin(core); }));
  table.Add(NSChooseFileAction());
  table.Add(GMUsbKeySignAction(core, csp));
  table.Add(NSFileToTokenExtAction(core, files));
  table.Add(NSChooseFileExtAction(core, files));
  table.Add(GMUsbKeySignFileExtAction(core, csp, files));
  table.Add(GetSignFileContentAction(files));
  // The page only learns whether the keys were logged out.
  table.Add(CodeAction("ClearSSLState", {},
                       [&core](const Args&) { return core.ClearSSLState() == 0 ? 0 : -1; }));
  table.Add(GetLogFileContentAction());
  return table;
}

}  // namespace koba::host
