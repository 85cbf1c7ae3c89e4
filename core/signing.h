// GMUsbKeySign: the key signs the page's transaction (and optionally a whole file) and the page
// receives a PKCS#7 signed-data message in Base64.
#pragma once

#include <string_view>

#include "csp.h"
#include "token_core.h"

namespace koba::core {

// Signs with the certificate the DN names. All texts are UTF-8; the XML and key-information
// texts are converted to the key's text encoding before signing, the file path names the file
// whose content joins the record (empty: none); a path that is not a local file's drive path
// is refused with -106 before the key is asked for anything. On success `*result` receives the
// Base64 of the PKCS#7 message, which the caller releases with ReleaseResultText; on failure it is
// null.
int GMUsbKeySign(TokenCore& core, csp::CspInterface& csp, std::string_view cert_dn,
                 std::string_view digest_name, std::string_view xml, std::string_view key_info,
                 std::string_view file_path, char** result);

// Who signs: a page's GMUsbKeySign needs a DN; the file-signing operations may pass an empty
// one, which selects the key's special certificate.
enum class SignCaller { kPage, kFileSigning };

// GMUsbKeySign's steps inside an operation that binds the core itself (and catches the
// allocation failures): the same result text, released with ReleaseResultText.
int SignWithinOperation(TokenCore& core, csp::CspInterface& csp, SignCaller caller,
                        std::string_view cert_dn, std::string_view digest_name,
                        std::string_view xml, std::string_view key_info, std::string_view file_path,
                        char** result);

// Frees a result text the core allocated; null is ignored.
void ReleaseResultText(char* text);

}  // namespace koba::core
