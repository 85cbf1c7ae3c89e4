#include "balloon.h"

#include <algorithm>
#include <atomic>

#include "pad_module.h"

namespace VKey {
namespace {

constexpr int kMargin = 8;
constexpr int kIconSize = 16;
constexpr int kIconGap = 6;
constexpr int kCornerRadius = 12;
constexpr int kPointerHeight = 16;
constexpr int kPointerWidth = 14;
constexpr int kPointerInset = 16;
constexpr int kMaxTextWidth = 320;
constexpr UINT_PTR kCloseTimer = 1;

// Set once the class is registered: a library that never showed a balloon has nothing to
// unregister, and need not load user32 when it is unloaded.
std::atomic<bool> g_classRegistered{false};

ATOM RegisterBalloonClass(WNDPROC procedure) {
  WNDCLASSEXW cls{};
  if (GetClassInfoExW(PadModule(), kBalloonClassName, &cls)) {
    return 1;
  }
  cls.cbSize = sizeof cls;
  cls.style = CS_DROPSHADOW;
  cls.lpfnWndProc = procedure;
  cls.hInstance = PadModule();
  cls.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  cls.hbrBackground = nullptr;
  cls.lpszClassName = kBalloonClassName;
  const ATOM atom = RegisterClassExW(&cls);
  if (atom != 0) {
    g_classRegistered = true;
  }
  return atom;
}

Font MakeFont(bool bold) {
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof metrics;
  SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
  LOGFONTW face = metrics.lfStatusFont;
  if (bold) {
    face.lfWeight = FW_BOLD;
  }
  return Font(CreateFontIndirectW(&face));
}

SIZE MeasureText(HDC dc, HFONT font, const std::wstring& text) {
  if (text.empty()) {
    return {0, 0};
  }
  const SelectScope select(dc, font);
  RECT box{0, 0, kMaxTextWidth, 0};
  DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &box,
            DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
  return {box.right - box.left, box.bottom - box.top};
}

}  // namespace

void UnregisterBalloonClass() {
  if (g_classRegistered.exchange(false)) {
    UnregisterClassW(kBalloonClassName, PadModule());
  }
}

CBalloonHelp::~CBalloonHelp() {
  if (hwnd_ != nullptr) {
    DestroyWindow(hwnd_);
  }
}

bool CBalloonHelp::Show(HWND owner, const std::wstring& title, const std::wstring& text, HICON icon,
                        POINT anchor, UINT timeoutMs) {
  if (RegisterBalloonClass(&CBalloonHelp::Procedure) == 0) {
    return false;
  }
  title_ = title;
  text_ = text;
  icon_ = icon;
  anchor_ = anchor;
  if (!titleFont_) {
    titleFont_ = MakeFont(true);
    textFont_ = MakeFont(false);
  }
  if (hwnd_ == nullptr) {
    hwnd_ =
        CreateWindowExW(WS_EX_TOOLWINDOW | WS_EX_TOPMOST | WS_EX_NOACTIVATE, kBalloonClassName,
                        title_.c_str(), WS_POPUP, 0, 0, 0, 0, owner, nullptr, PadModule(), this);
    if (hwnd_ == nullptr) {
      return false;
    }
  }
  SetWindowTextW(hwnd_, title_.c_str());
  Layout();
  ShowWindow(hwnd_, SW_SHOWNOACTIVATE);
  InvalidateRect(hwnd_, nullptr, TRUE);
  if (timeoutMs != 0) {
    SetTimer(hwnd_, kCloseTimer, timeoutMs, nullptr);
  } else {
    KillTimer(hwnd_, kCloseTimer);
  }
  return true;
}

void CBalloonHelp::MoveTo(POINT anchor) {
  anchor_ = anchor;
  if (hwnd_ != nullptr) {
    Layout();
    InvalidateRect(hwnd_, nullptr, TRUE);
  }
}

void CBalloonHelp::Hide() {
  if (hwnd_ != nullptr) {
    KillTimer(hwnd_, kCloseTimer);
    ShowWindow(hwnd_, SW_HIDE);
  }
}

void CBalloonHelp::Layout() {
  SIZE titleSize{};
  SIZE textSize{};
  {
    const WindowDc dc(hwnd_);
    titleSize = MeasureText(dc.get(), titleFont_.get(), title_);
    textSize = MeasureText(dc.get(), textFont_.get(), text_);
  }

  const int headWidth = kIconSize + kIconGap + titleSize.cx;
  const int headHeight = std::max<int>(kIconSize, titleSize.cy);
  const int bodyWidth = std::max<int>(headWidth, textSize.cx);
  const int boxWidth = std::max(bodyWidth + 2 * kMargin, kPointerInset + kPointerWidth + kMargin);
  const int boxHeight =
      headHeight + (textSize.cy > 0 ? kMargin / 2 + textSize.cy : 0) + 2 * kMargin;
  size_ = {boxWidth, boxHeight + kPointerHeight};

  // The balloon hangs below its anchor unless it would leave the work area there.
  RECT area{};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
  pointerUp_ = anchor_.y + size_.cy <= area.bottom;
  int left = anchor_.x - kPointerInset;
  left = std::max<int>(area.left, std::min<int>(left, area.right - size_.cx));
  const int top = pointerUp_ ? anchor_.y : anchor_.y - size_.cy;
  const int boxTop = pointerUp_ ? kPointerHeight : 0;

  titleRect_ = {kMargin + kIconSize + kIconGap, boxTop + kMargin, boxWidth - kMargin,
                boxTop + kMargin + headHeight};
  textRect_ = {kMargin, titleRect_.bottom + kMargin / 2, boxWidth - kMargin,
               boxTop + boxHeight - kMargin};

  // The shape: the rounded box joined with a triangle whose tip is the anchor.
  const int tipX = std::clamp<int>(anchor_.x - left, kCornerRadius, boxWidth - kCornerRadius);
  const int baseX = std::clamp<int>(tipX, kCornerRadius, boxWidth - kCornerRadius - kPointerWidth);
  Region shape(CreateRoundRectRgn(0, boxTop, boxWidth + 1, boxTop + boxHeight + 1, kCornerRadius,
                                  kCornerRadius));
  const POINT pointer[3] = {
      {tipX, pointerUp_ ? 0 : size_.cy},
      {baseX, pointerUp_ ? kPointerHeight + 1 : boxHeight - 1},
      {baseX + kPointerWidth, pointerUp_ ? kPointerHeight + 1 : boxHeight - 1},
  };
  const Region tail(CreatePolygonRgn(pointer, 3, WINDING));
  CombineRgn(shape.get(), shape.get(), tail.get(), RGN_OR);
  SetWindowPos(hwnd_, HWND_TOPMOST, left, top, size_.cx, size_.cy, SWP_NOACTIVATE);
  // The window owns the region from here on.
  if (SetWindowRgn(hwnd_, shape.get(), TRUE)) {
    static_cast<void>(shape.release());
  }
}

void CBalloonHelp::Paint(HDC dc) const {
  Region shape(CreateRectRgn(0, 0, 0, 0));
  const bool shaped = GetWindowRgn(hwnd_, shape.get()) != ERROR;
  const Brush background(CreateSolidBrush(GetSysColor(COLOR_INFOBK)));
  const Brush border(CreateSolidBrush(GetSysColor(COLOR_INFOTEXT)));
  if (shaped) {
    FillRgn(dc, shape.get(), background.get());
    FrameRgn(dc, shape.get(), border.get(), 1, 1);
  } else {
    const RECT all{0, 0, size_.cx, size_.cy};
    FillRect(dc, &all, background.get());
  }
  if (icon_ != nullptr) {
    DrawIconEx(dc, kMargin, titleRect_.top, icon_, kIconSize, kIconSize, 0, nullptr, DI_NORMAL);
  }
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, GetSysColor(COLOR_INFOTEXT));
  RECT titleBox = titleRect_;
  {
    const SelectScope select(dc, titleFont_.get());
    DrawTextW(dc, title_.c_str(), static_cast<int>(title_.size()), &titleBox,
              DT_WORDBREAK | DT_NOPREFIX);
  }
  RECT textBox = textRect_;
  const SelectScope select(dc, textFont_.get());
  DrawTextW(dc, text_.c_str(), static_cast<int>(text_.size()), &textBox,
            DT_WORDBREAK | DT_NOPREFIX);
}

LRESULT CALLBACK CBalloonHelp::Procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* self = reinterpret_cast<CBalloonHelp*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (self == nullptr) {
    return DefWindowProcW(hwnd, message, wParam, lParam);
  }
  switch (message) {
    case WM_MOUSEACTIVATE:
      return MA_NOACTIVATE;
    case WM_ERASEBKGND:
      return 1;
    case WM_PAINT: {
      const PaintDc dc(hwnd);
      self->Paint(dc.get());
      return 0;
    }
    case WM_TIMER:
      if (wParam == kCloseTimer) {
        self->Hide();
        return 0;
      }
      break;
    case WM_LBUTTONDOWN:
      self->Hide();
      return 0;
    case WM_NCDESTROY:
      SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
      self->hwnd_ = nullptr;
      break;
    default:
      break;
  }
  return DefWindowProcW(hwnd, message, wParam, lParam);
}

}  // namespace VKey
