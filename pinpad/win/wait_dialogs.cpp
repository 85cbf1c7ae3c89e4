#include "wait_dialogs.h"

#include <wincodec.h>
#include <wrl/client.h>

#include <string>

#include "pinpad_texts.h"
#include "resource.h"
#include "wait_layout.h"
#include "wide_text.h"

using Microsoft::WRL::ComPtr;

namespace VKey {
namespace {

class ComScope {
 public:
  ComScope() : result_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
  ~ComScope() {
    if (SUCCEEDED(result_)) {
      CoUninitialize();
    }
  }
  ComScope(const ComScope&) = delete;
  ComScope& operator=(const ComScope&) = delete;

 private:
  HRESULT result_;
};

struct DcReleaser {
  HWND window;
  void operator()(HDC dc) const { ReleaseDC(window, dc); }
};

struct GdiObjectDeleter {
  void operator()(HGDIOBJ object) const { DeleteObject(object); }
};
using GdiObject = std::unique_ptr<std::remove_pointer_t<HGDIOBJ>, GdiObjectDeleter>;

struct DcDeleter {
  void operator()(HDC dc) const { DeleteDC(dc); }
};
using MemoryDc = std::unique_ptr<std::remove_pointer_t<HDC>, DcDeleter>;

int ScreenDpi(HWND window) {
  const std::unique_ptr<std::remove_pointer_t<HDC>, DcReleaser> dc(GetDC(window), {window});
  return dc ? GetDeviceCaps(dc.get(), LOGPIXELSX) : 96;
}

void MoveItem(HWND item, const PixelRect& rect) {
  SetWindowPos(item, nullptr, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top,
               SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace

// The picture as a top-down 32-bit DIB with premultiplied alpha, ready for AlphaBlend.
struct CDlgDisplayProc::Picture {
  GdiObject bitmap;
  int width = 0;
  int height = 0;

  static std::unique_ptr<Picture> Load(const std::wstring& path) {
    const ComScope com;
    ComPtr<IWICImagingFactory> factory;
    if (FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                IID_PPV_ARGS(&factory)))) {
      return nullptr;
    }
    ComPtr<IWICBitmapDecoder> decoder;
    ComPtr<IWICBitmapFrameDecode> frame;
    ComPtr<IWICFormatConverter> converter;
    UINT width = 0;
    UINT height = 0;
    if (FAILED(factory->CreateDecoderFromFilename(path.c_str(), nullptr, GENERIC_READ,
                                                  WICDecodeMetadataCacheOnDemand, &decoder)) ||
        FAILED(decoder->GetFrame(0, &frame)) ||
        FAILED(factory->CreateFormatConverter(&converter)) ||
        FAILED(converter->Initialize(frame.Get(), GUID_WICPixelFormat32bppPBGRA,
                                     WICBitmapDitherTypeNone, nullptr, 0.0,
                                     WICBitmapPaletteTypeCustom)) ||
        FAILED(converter->GetSize(&width, &height)) || width == 0 || height == 0 || width > 4096 ||
        height > 4096) {
      return nullptr;
    }
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = static_cast<LONG>(width);
    info.bmiHeader.biHeight = -static_cast<LONG>(height);
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    auto picture = std::make_unique<Picture>();
    picture->bitmap.reset(CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!picture->bitmap || bits == nullptr) {
      return nullptr;
    }
    const UINT stride = width * 4;
    if (FAILED(converter->CopyPixels(nullptr, stride, stride * height, static_cast<BYTE*>(bits)))) {
      return nullptr;
    }
    picture->width = static_cast<int>(width);
    picture->height = static_cast<int>(height);
    return picture;
  }
};

bool UsesPictureWaitWindow(uint32_t language) {
  return language == 1028 || language == 1033 || language == 2052;
}

CDlgDisplayProc::CDlgDisplayProc(std::wstring picturePath)
    : PadDialog(IDD_DIALOG_PROC), picturePath_(std::move(picturePath)) {}

CDlgDisplayProc::~CDlgDisplayProc() = default;

BOOL CDlgDisplayProc::OnInit() {
  const std::u16string text = PinpadTexts::Get().table().LoadText("GenKeyWaiting");
  SetWindowTextW(hwnd(), Wide(WaitingTitle(text)).c_str());
  SetDlgItemTextW(hwnd(), IDC_PROC_TEXT, Wide(WaitingMessage(text)).c_str());
  dpi_ = ScreenDpi(hwnd());
  const WaitWindowSize size = WaitWindowSizeFor(dpi_);
  SetWindowPos(hwnd(), nullptr, 0, 0, size.width, size.height,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  RECT client{};
  GetClientRect(hwnd(), &client);
  const WaitWindowLayout layout = WaitWindowLayoutFor(client.right, client.bottom, dpi_);
  MoveItem(Item(IDC_PROC_TEXT), layout.message);
  picture_ = Picture::Load(picturePath_);
  CenterOnOwner();
  SetTimer(hwnd(), kStripTimer, kStripTimerMs, nullptr);
  return TRUE;
}

bool CDlgDisplayProc::OnCommand(WORD id, WORD, HWND) {
  // Neither Enter nor Escape ends the wait; the window is closed from outside.
  return id == IDOK || id == IDCANCEL;
}

void CDlgDisplayProc::Paint(HDC dc) const {
  RECT client{};
  GetClientRect(hwnd(), &client);
  const WaitWindowLayout layout = WaitWindowLayoutFor(client.right, client.bottom, dpi_);
  if (picture_) {
    const MemoryDc memory(CreateCompatibleDC(dc));
    if (memory) {
      const HGDIOBJ old = SelectObject(memory.get(), picture_->bitmap.get());
      BLENDFUNCTION blend{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
      AlphaBlend(dc, layout.pictureX, layout.pictureY, picture_->width, picture_->height,
                 memory.get(), 0, 0, picture_->width, picture_->height, blend);
      SelectObject(memory.get(), old);
    }
  }
  RECT strip{layout.strip.left, layout.strip.top, layout.strip.right, layout.strip.bottom};
  DrawEdge(dc, &strip, EDGE_SUNKEN, BF_RECT | BF_ADJUST);
  FillRect(dc, &strip, GetSysColorBrush(COLOR_WINDOW));
  const int filled = StripFilledWidth(position_, strip.right - strip.left);
  if (filled > 0) {
    RECT bar = strip;
    bar.right = bar.left + filled;
    FillRect(dc, &bar, GetSysColorBrush(COLOR_HIGHLIGHT));
  }
}

// Only the strip is drawn again: the picture is blended onto the background once per erase.
void CDlgDisplayProc::InvalidateStrip() const {
  RECT client{};
  GetClientRect(hwnd(), &client);
  const PixelRect strip = WaitWindowLayoutFor(client.right, client.bottom, dpi_).strip;
  const RECT rect{strip.left, strip.top, strip.right, strip.bottom};
  InvalidateRect(hwnd(), &rect, FALSE);
}

bool CDlgDisplayProc::OnMessage(UINT message, WPARAM wParam, LPARAM, INT_PTR* result) {
  switch (message) {
    case WM_TIMER:
      if (wParam != kStripTimer) {
        return false;
      }
      position_ = NextStripPosition(position_);
      InvalidateStrip();
      *result = 0;
      return true;
    case WM_PAINT: {
      PAINTSTRUCT paint;
      const HDC dc = BeginPaint(hwnd(), &paint);
      Paint(dc);
      EndPaint(hwnd(), &paint);
      *result = 0;
      return true;
    }
    case WM_CLOSE: {
      // Show the strip full for a moment; the window ends when its thread gets WM_QUIT.
      KillTimer(hwnd(), kStripTimer);
      position_ = kStripClosedPosition;
      InvalidateStrip();
      UpdateWindow(hwnd());
      for (int i = 0; i < 10; ++i) {
        MSG pending;
        while (PeekMessageW(&pending, nullptr, 0, 0, PM_REMOVE)) {
          if (pending.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(pending.wParam));
            break;
          }
          TranslateMessage(&pending);
          DispatchMessageW(&pending);
        }
        Sleep(1);
      }
      Sleep(1000);
      *result = 0;
      return true;
    }
    default:
      return false;
  }
}

CDlgDisplayProc_Old::CDlgDisplayProc_Old() : PadDialog(IDD_DIALOG_PROC_OLD) {}

BOOL CDlgDisplayProc_Old::OnInit() {
  const std::u16string text = PinpadTexts::Get().table().LoadText("GenKeyWaiting");
  text_ = Wide(WaitingParagraph(text));
  SetWindowTextW(hwnd(), Wide(WaitingTitle(text)).c_str());
  ShowStep();
  CenterOnOwner();
  SetTimer(hwnd(), kDotsTimer, 1000, nullptr);
  return TRUE;
}

void CDlgDisplayProc_Old::ShowStep() const {
  static const wchar_t* const kDots[] = {L"", L"...", L"......", L""};
  SetDlgItemTextW(hwnd(), IDC_PROC_TEXT, (text_ + kDots[step_]).c_str());
}

bool CDlgDisplayProc_Old::OnCommand(WORD id, WORD, HWND) {
  return id == IDOK || id == IDCANCEL;
}

bool CDlgDisplayProc_Old::OnMessage(UINT message, WPARAM wParam, LPARAM, INT_PTR* result) {
  if (message == WM_TIMER && wParam == kDotsTimer) {
    step_ = (step_ + 1) % 4;
    ShowStep();
    *result = 0;
    return true;
  }
  if (message == WM_CLOSE) {
    KillTimer(hwnd(), kDotsTimer);
    End(2);
    *result = 0;
    return true;
  }
  return false;
}

}  // namespace VKey
