// Owners of the GDI and user-interface objects the library's windows make.
#pragma once

#include <windows.h>

#include <memory>
#include <type_traits>

namespace VKey {

struct GdiObjectDeleter {
  void operator()(HGDIOBJ object) const { DeleteObject(object); }
};
using Font = std::unique_ptr<std::remove_pointer_t<HFONT>, GdiObjectDeleter>;
using Bitmap = std::unique_ptr<std::remove_pointer_t<HBITMAP>, GdiObjectDeleter>;
using Region = std::unique_ptr<std::remove_pointer_t<HRGN>, GdiObjectDeleter>;
using Brush = std::unique_ptr<std::remove_pointer_t<HBRUSH>, GdiObjectDeleter>;

// A window's device context, released when the scope ends.
class WindowDc {
 public:
  explicit WindowDc(HWND hwnd) : hwnd_(hwnd), dc_(GetDC(hwnd)) {}
  ~WindowDc() {
    if (dc_ != nullptr) {
      ReleaseDC(hwnd_, dc_);
    }
  }
  WindowDc(const WindowDc&) = delete;
  WindowDc& operator=(const WindowDc&) = delete;
  HDC get() const { return dc_; }

 private:
  HWND hwnd_;
  HDC dc_;
};

// The painting of a WM_PAINT message, ended when the scope ends.
class PaintDc {
 public:
  explicit PaintDc(HWND hwnd) : hwnd_(hwnd), dc_(BeginPaint(hwnd, &paint_)) {}
  ~PaintDc() { EndPaint(hwnd_, &paint_); }
  PaintDc(const PaintDc&) = delete;
  PaintDc& operator=(const PaintDc&) = delete;
  HDC get() const { return dc_; }

 private:
  PAINTSTRUCT paint_{};
  HWND hwnd_;
  HDC dc_;
};

// Selects an object into a device context for the lifetime of the scope.
class SelectScope {
 public:
  SelectScope(HDC dc, HGDIOBJ object) : dc_(dc), previous_(SelectObject(dc, object)) {}
  ~SelectScope() { SelectObject(dc_, previous_); }
  SelectScope(const SelectScope&) = delete;
  SelectScope& operator=(const SelectScope&) = delete;

 private:
  HDC dc_;
  HGDIOBJ previous_;
};

}  // namespace VKey
