// How the PIN pad library picks the owner window of its dialogs from the name of the process
// that loaded it: the parts of the choice that need no window.
#pragma once

#include <string_view>

namespace VKey {

enum class OwnerSource {
  kEdgeWindow,    // the browser window of Microsoft Edge
  kDesktop,       // the desktop window
  kActiveWindow,  // the root of the calling thread's active window, else the foreground window
};

// The file name of an executable path: the text after the last backslash.
std::u16string_view ExecutableFileName(std::u16string_view path);

// Where the first owner of a process comes from. File names compare without regard to case.
OwnerSource OwnerSourceFor(std::u16string_view executableName);

// True when an owner of another process is dropped: in Internet Explorer a window of another
// process must not own the library's dialogs.
bool DropsForeignOwner(std::u16string_view executableName);

// The exact title of Edge's main window.
constexpr std::u16string_view kEdgeTitle = u"Microsoft Edge";
// Edge's page windows: "<page> - Microsoft<U+200B> Edge". The character between the two words
// varies (a zero-width space in Edge's titles, "?" once converted to a code page), so any one
// character matches there. Only the first 200 characters of a title are looked at.
bool IsEdgePageTitle(std::u16string_view title);

}  // namespace VKey
