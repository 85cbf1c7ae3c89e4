// The plug-in interface with a stack and variables laid out as the installer lays them out:
// the pop rule, the argument capacity and result writing, through the exports themselves.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "nsis_plugin.h"

using koba::installer::nsis::StackEntry;

extern "C" void __cdecl ReadRegStr(HWND, int, wchar_t*, StackEntry**, void*);
extern "C" void __cdecl FindProc(HWND, int, wchar_t*, StackEntry**, void*);

namespace {

// An installer's stack and variables of a given string size.
class FakeInstaller {
 public:
  explicit FakeInstaller(int string_size)
      : size_(string_size), variables_(static_cast<size_t>(string_size) * 25, L'\0') {}
  ~FakeInstaller() {
    while (top_ != nullptr) {
      StackEntry* next = top_->next;
      GlobalFree(top_);
      top_ = next;
    }
  }

  void Push(const std::wstring& text) {
    auto* entry = static_cast<StackEntry*>(
        GlobalAlloc(GPTR, sizeof(StackEntry) + static_cast<size_t>(size_) * sizeof(wchar_t)));
    lstrcpynW(entry->text, text.c_str(), size_);
    entry->next = top_;
    top_ = entry;
  }
  void SetR0(const std::wstring& text) { lstrcpynW(&variables_[10 * size_], text.c_str(), size_); }
  std::wstring R0() const { return &variables_[10 * size_]; }
  size_t Depth() const {
    size_t n = 0;
    for (StackEntry* e = top_; e != nullptr; e = e->next)
      ++n;
    return n;
  }
  template <typename Export>
  void Call(Export fn) {
    fn(nullptr, size_, variables_.data(), &top_, nullptr);
  }

 private:
  int size_;
  std::vector<wchar_t> variables_;
  StackEntry* top_ = nullptr;
};

TEST(PluginInterface, ArgumentsOverTheCapacityAreRefused) {
  FakeInstaller installer(8192);
  const std::wstring long_name(1024, L'N');
  installer.Push(L"go");
  installer.Push(long_name);
  installer.Push(L"Software\\KobaInterfaceTest");
  installer.Push(L"HKCU");
  installer.Push(L"/x86");
  installer.SetR0(L"unset");
  installer.Call(ReadRegStr);
  EXPECT_EQ(installer.R0(), L"0");
  EXPECT_EQ(installer.Depth(), 1u);  // the trigger stays: the call ended at the long argument

  FakeInstaller find(8192);
  find.Push(std::wstring(1023, L'a'));
  find.Call(FindProc);
  EXPECT_EQ(find.R0(), L"632");
  find.Push(std::wstring(2000, L'a'));
  find.Call(FindProc);
  EXPECT_EQ(find.R0(), L"632");
  EXPECT_EQ(find.Depth(), 0u);
}

TEST(PluginInterface, EmptyStackRepeatsTheLastArgument) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\KobaInterfaceTest", 0, nullptr, 0,
                            KEY_ALL_ACCESS | KEY_WOW64_32KEY, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  const wchar_t value[] = L"seen";
  RegSetValueExW(key, L"Name", 0, REG_SZ, reinterpret_cast<const BYTE*>(value), sizeof value);
  RegCloseKey(key);

  FakeInstaller installer(1024);
  installer.Push(L"Name");
  installer.Push(L"Software\\KobaInterfaceTest");
  installer.Push(L"HKCU");
  installer.Push(L"/x86");
  installer.Call(ReadRegStr);
  EXPECT_EQ(installer.R0(), L"seen");

  FakeInstaller empty(1024);
  empty.SetR0(L"unset");
  empty.Call(ReadRegStr);
  EXPECT_EQ(empty.R0(), L"0");
  RegDeleteKeyExW(HKEY_CURRENT_USER, L"Software\\KobaInterfaceTest", KEY_WOW64_32KEY, 0);
}

TEST(PluginInterface, ResultsAreCutToTheStringSize) {
  FakeInstaller installer(3);
  installer.Push(L"");
  installer.SetR0(L"xy");
  installer.Call(FindProc);
  EXPECT_EQ(installer.R0(), L"63");
}

}  // namespace
