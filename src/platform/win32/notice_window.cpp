#include "platform/win32/notice_window.h"

#include "platform/win32/window_object.h"

namespace qorvel::platform::win32 {
namespace {

constexpr int kMargin = 6;  // pixels around the text, and from the main window

HFONT NoticeFont() {
  HDC dc = GetDC(nullptr);
  const int dpi = GetDeviceCaps(dc, LOGPIXELSY);
  ReleaseDC(nullptr, dc);
  return CreateFontW(-MulDiv(1050, dpi > 0 ? dpi : 96, 7200), 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE,
                     GB2312_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY,
                     DEFAULT_PITCH | FF_DONTCARE, L"微软雅黑");
}

}  // namespace

NoticeWindow::NoticeWindow() : font_(NoticeFont()) {
  WNDCLASSEXW wc{};
  HINSTANCE instance = GetModuleHandleW(nullptr);
  if (GetClassInfoExW(instance, kClassName, &wc)) return;
  wc.cbSize = sizeof(wc);
  wc.lpfnWndProc = &NoticeWindow::WndProc;
  wc.hInstance = instance;
  wc.hbrBackground = GetSysColorBrush(COLOR_MENUTEXT);
  wc.lpszClassName = kClassName;
  RegisterClassExW(&wc);
}

NoticeWindow::~NoticeWindow() {
  if (hwnd_ != nullptr) DestroyWindow(hwnd_);
  if (font_ != nullptr) DeleteObject(font_);
}

void NoticeWindow::Show(HWND beside, const std::wstring& text) {
  if (hwnd_ != nullptr) DestroyWindow(hwnd_);
  text_ = text;
  HDC dc = GetDC(nullptr);
  HGDIOBJ old = SelectObject(dc, font_);
  SIZE extent{};
  GetTextExtentPoint32W(dc, text_.c_str(), static_cast<int>(text_.size()), &extent);
  SelectObject(dc, old);
  ReleaseDC(nullptr, dc);
  RECT main{};
  GetWindowRect(beside, &main);
  // Never activated, clicks fall through (transparent takes effect on a
  // layered window), no task-bar button; no owner, so the main window's
  // state never hides it.
  CreateWindowExW(WS_EX_NOACTIVATE | WS_EX_TOPMOST | WS_EX_TRANSPARENT | WS_EX_LAYERED | WS_EX_TOOLWINDOW, kClassName,
                  text_.c_str(),
                  WS_POPUP | WS_BORDER, main.right + kMargin, main.top, extent.cx + 2 * kMargin,
                  extent.cy + 2 * kMargin, nullptr, nullptr, GetModuleHandleW(nullptr), this);
  if (hwnd_ == nullptr) return;
  SetLayeredWindowAttributes(hwnd_, 0, 255, LWA_ALPHA);
  ShowWindow(hwnd_, SW_SHOWNOACTIVATE);
  SetTimer(hwnd_, kEndTimer, kShownMs, nullptr);
  MessageBeep(MB_ICONINFORMATION);
}

void NoticeWindow::Paint() {
  PAINTSTRUCT ps{};
  HDC dc = BeginPaint(hwnd_, &ps);
  HGDIOBJ old = SelectObject(dc, font_);
  SetTextColor(dc, RGB(255, 0, 0));
  SetBkMode(dc, TRANSPARENT);
  TextOutW(dc, kMargin - 1, kMargin - 1, text_.c_str(), static_cast<int>(text_.size()));
  SelectObject(dc, old);
  EndPaint(hwnd_, &ps);
}

LRESULT CALLBACK NoticeWindow::WndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  auto* self = WindowObject<NoticeWindow>(hwnd, msg, lp);
  if (self == nullptr) return DefWindowProcW(hwnd, msg, wp, lp);
  switch (msg) {
    case WM_NCCREATE:
      self->hwnd_ = hwnd;
      break;
    case WM_PAINT:
      self->Paint();
      return 0;
    case WM_TIMER:
      if (wp == kEndTimer) DestroyWindow(hwnd);
      return 0;
    // Clicks pass through; should one arrive, it still does not activate.
    case WM_MOUSEACTIVATE:
      return MA_NOACTIVATE;
    case WM_NCHITTEST:
      return HTTRANSPARENT;
    case WM_NCDESTROY:
      SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
      if (self->hwnd_ == hwnd) self->hwnd_ = nullptr;
      break;
    default:
      break;
  }
  return DefWindowProcW(hwnd, msg, wp, lp);
}

}  // namespace qorvel::platform::win32
