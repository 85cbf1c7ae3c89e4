// The argument grammar of the plug-in's registry exports: the arguments arrive one at a time
// from the installer's stack and are classified as view switches, the root, the positional
// slots (subkey, value name, data) and the trigger that starts the operation.
#pragma once

#include <string>
#include <string_view>

namespace koba::installer {

enum class RegExport {
  kWriteDword,
  kWriteStr,
  kWriteBin,
  kReadDword,
  kReadStr,
  kReadBin,
  kDeleteKey,
  kDeleteValue,
};

enum class RegRoot { kNone, kLocalMachine, kCurrentUser, kUsers, kCurrentConfig, kClassesRoot };

// "HKLM", "HKCU", "HKU", "HKCC", "HKCR", ASCII case ignored; kNone for anything else.
RegRoot ParseRegRoot(std::wstring_view name);

struct RegRequest {
  RegRoot root = RegRoot::kNone;
  bool view32 = false;    // "/x86"
  bool view64 = false;    // "/x64", where it is recognised
  bool if_empty = false;  // "/ifempty", DeleteRegKey only
  std::wstring subkey;
  std::wstring value_name;
  std::wstring data;
};

class RegArgGrammar {
 public:
  enum class Step {
    kMore,      // feed the next argument
    kEmpty,     // an empty argument: the call ends with "0"
    kNotARoot,  // the first positional argument is no root name: the call ends, result untouched
    kTrigger,   // every slot is filled: run the operation
  };

  // `has_64bit_view`: whether the process can address the 64-bit view at all; for the write and
  // read exports "/x64" is an ordinary argument without it.
  RegArgGrammar(RegExport which, bool has_64bit_view);

  // `repeated`: the stack was empty, so `arg` is the previous argument seen again. A switch seen
  // again that way would be seen forever; it ends the call as an empty argument does.
  Step Feed(std::wstring_view arg, bool repeated = false);

  const RegRequest& request() const { return request_; }

 private:
  int SlotCount() const;

  RegExport which_;
  bool x64_recognised_;
  int filled_ = 0;
  RegRequest request_;
};

bool EqualsAsciiNoCase(std::wstring_view a, std::wstring_view b);

}  // namespace koba::installer
