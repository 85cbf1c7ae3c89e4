// X.500 name strings as Windows writes them ("CN=Name, O=Org, C=CN"): a value is put in
// double quotes only when it needs them, that is when it is empty, starts or ends with a space,
// or holds one of , + = " < > # ; or a line break. Some crypt32 implementations quote every value
// that holds a space; NormalizeQuoting takes such needless quotes away, so that names read back
// the same on every platform and match the names pages send.
#pragma once

#include <string>
#include <string_view>

namespace koba::x500 {

std::string NormalizeQuoting(std::string_view name);
std::wstring NormalizeQuoting(std::wstring_view name);

}  // namespace koba::x500
