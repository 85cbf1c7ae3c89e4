#include "file_actions.h"

#include <string>
#include <vector>

#include "path_policy.h"
#include "result_codes.h"
#include "text_encoding.h"

namespace koba::host {
namespace {

// Capacities of the result buffers, terminating NUL included.
constexpr size_t kChosenPathCapacity = 520;
constexpr size_t kFileRecordCapacity = 10240;
constexpr size_t kSignedRecordCapacity = 1024;
constexpr size_t kMaxCertDn = 63;

// The page's UTF-8 path in GB18030, the form the file-signing operations take.
bool ToGb18030(std::string_view utf8, std::string* out) {
  std::u16string wide;
  return utf8.find('\0') == std::string_view::npos && text::Utf8ToUtf16(utf8, &wide) &&
         text::Utf16ToGb18030(wide, out);
}

}  // namespace

// The signature goes to the file `fileP7` names; `fileP7` is never checked, and without a text
// that converts to GB18030 the operation has no output file.
Action GMUsbKeySignFileAction(core::TokenCore& core, csp::CspInterface& csp) {
  return CodeAction(
      "GMUsbKeySignFile",
      {{"certDN"},
       {"hashType"},
       {"xmlInfo"},
       {"keyInfo"},
       {"filePath"},
       {"fileP7", MemberType::kAny, true}},
      [&core, &csp](const Args& args) {
        std::string output;
        const rapidjson::Value* p7 = args.Raw(5);
        const bool has_output = p7 != nullptr && p7->IsString() && ToGb18030(args.Str(5), &output);
        return core::GMUsbKeySignFile(core, csp, args.Str(0), args.Str(1), args.Str(2), args.Str(3),
                                      args.Str(4), has_output ? &output : nullptr);
      });
}

// The chosen path, always as text: empty when the user cancels. The reply's JSON escaping
// doubles every backslash, so the page reads the path itself.
Action NSChooseFileAction() {
  return Action{"NSChooseFile", {}, [](const Args&, const Reply& reply) {
                  std::vector<char> path(kChosenPathCapacity, '\0');
                  if (core::NSChooseFile(path.data(), path.size()) != 0)
                    path[0] = '\0';
                  reply.Text(path.data());
                }};
}

Action NSFileToTokenExtAction(core::TokenCore& core, const FileState& files) {
  return TextAction(
      "NSFileToTokenExt", {{"filePath"}}, kFileRecordCapacity,
      [&core, files](const Args& args, char* out, size_t capacity) {
        std::string path;
        if (!ToGb18030(args.Str(0), &path) ||
            paths::DoubleBackslashes(args.Str(0)).size() > core::kMaxRecordPathBytes) {
          return static_cast<int>(core::kBadParameter);
        }
        return core::NSFileToTokenExt(core, *files, path, out, capacity);
      });
}

Action NSChooseFileExtAction(core::TokenCore& core, const FileState& files) {
  return TextAction("NSChooseFileExt", {}, kFileRecordCapacity,
                    [&core, files](const Args&, char* out, size_t capacity) {
                      return core::NSChooseFileExt(core, *files, out, capacity);
                    });
}

Action GMUsbKeySignFileExtAction(core::TokenCore& core, csp::CspInterface& csp,
                                 const FileState& files) {
  Member dn{"certDN"};
  dn.max_bytes = kMaxCertDn;
  return TextAction(
      "GMUsbKeySignFileExt", {dn, {"hashType"}, {"xmlInfo"}, {"keyInfo"}, {"chooseFileToken"}},
      kSignedRecordCapacity, [&core, &csp, files](const Args& args, char* out, size_t capacity) {
        return core::GMUsbKeySignFileExt(core, csp, *files, args.Str(0), args.Str(1), args.Str(2),
                                         args.Str(3), args.Str(4), out, capacity);
      });
}

// "MARK=%d||CONTENT=%s", chunked on the content's length.
Action GetSignFileContentAction(const FileState& files) {
  Member token{"signedFileToken"};
  token.exact_bytes = core::kSignedFileTokenLength;
  return Action{"GetSignFileContent",
                {token, {"maxLength", MemberType::kInt32}, {"fileOffset", MemberType::kInt32}},
                [files](const Args& args, const Reply& reply) {
                  std::string content;
                  int mark = 0;
                  const int code = core::GetSignFileContent(*files, args.Str(0), args.Int(1),
                                                            args.Int(2), &content, &mark);
                  if (code != 0) {
                    reply.Number(code);
                    return;
                  }
                  reply.Chunked(content, "MARK=" + std::to_string(mark) + "||CONTENT=");
                }};
}

}  // namespace koba::host
