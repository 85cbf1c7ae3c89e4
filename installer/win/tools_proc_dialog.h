// CToolsProc: the dialog that lists the processes holding a DLL and asks whether to end them.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "process_list.h"

namespace koba::installer {

class CToolsProc {
 public:
  enum Texts { kTitle, kMessage, kFirstColumn, kSecondColumn, kAccept, kRefuse, kTextCount };
  // Captions are cut to this many characters.
  static constexpr size_t kTextCapacity = 256;

  CToolsProc(const std::wstring (&texts)[kTextCount], const std::vector<OwnerProcess>* owners);

  // Modal over `owner`: IDOK when accepted, IDCANCEL when refused or closed, -1 when the
  // dialog could not be shown.
  INT_PTR Show(HWND owner);

 private:
  static INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);
  void Init(HWND dialog);

  std::wstring texts_[kTextCount];
  const std::vector<OwnerProcess>* owners_;
};

}  // namespace koba::installer
