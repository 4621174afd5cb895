#include "platform/win32/cover_windows.h"

#include <algorithm>
#include <utility>

#include "platform/win32/lock_hold.h"
#include "platform/win32/window_object.h"

namespace qorvel::platform::win32 {
namespace {

constexpr wchar_t kBanner[] = L"当前锁屏中>>>";

guard::ScreenRect FromRect(const RECT& r) { return {r.left, r.top, r.right, r.bottom}; }

HWND ToHwnd(platform::WindowId id) { return reinterpret_cast<HWND>(id); }
platform::WindowId ToId(HWND hwnd) { return reinterpret_cast<platform::WindowId>(hwnd); }

// The main window's banner font: bold 微软雅黑, GB2312, 26.25 pt.
HFONT BannerFont() {
  HDC dc = GetDC(nullptr);
  const int dpi = GetDeviceCaps(dc, LOGPIXELSY);
  ReleaseDC(nullptr, dc);
  return CreateFontW(-MulDiv(2625, dpi > 0 ? dpi : 96, 7200), 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE,
                     GB2312_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY,
                     DEFAULT_PITCH | FF_DONTCARE, L"微软雅黑");
}

}  // namespace

CoverWindows::CoverWindows(HWND main_window, Enumerate enumerate)
    : main_(main_window), enumerate_(std::move(enumerate)), banner_font_(BannerFont()) {
  HINSTANCE instance = GetModuleHandleW(nullptr);
  WNDCLASSEXW wc{};
  if (!GetClassInfoExW(instance, kClassName, &wc)) {
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = &CoverWindows::WndProc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_DESKTOP + 1));
    wc.lpszClassName = kClassName;
    RegisterClassExW(&wc);
  }
  WNDCLASSEXW watch{};
  if (!GetClassInfoExW(instance, kWatchClassName, &watch)) {
    watch.cbSize = sizeof(watch);
    watch.lpfnWndProc = &CoverWindows::WatchProc;
    watch.hInstance = instance;
    watch.lpszClassName = kWatchClassName;
    RegisterClassExW(&watch);
  }
  // Top-level, never shown: a message-only window hears no broadcast.
  watch_ = CreateWindowExW(WS_EX_TOOLWINDOW, kWatchClassName, L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, instance,
                           this);
}

CoverWindows::~CoverWindows() {
  for (HWND cover : covers_) DestroyWindow(cover);
  if (watch_ != nullptr) DestroyWindow(watch_);
  if (banner_font_ != nullptr) DeleteObject(banner_font_);
}

// Every monitor query makes Wine check its display cache with the
// wineserver, which was most of a locked tick's cost; the list is kept until
// the system says it changed. Without the watch window, every tick reads it.
std::optional<std::vector<guard::ScreenRect>> CoverWindows::monitors() {
  if (monitors_ && watch_ != nullptr) return monitors_;
  monitors_ = enumerate_();
  return monitors_;
}

std::optional<std::vector<guard::ScreenRect>> CoverWindows::EnumerateMonitors() {
  std::vector<guard::ScreenRect> found;
  const auto add = [](HMONITOR monitor, HDC, LPRECT, LPARAM param) -> BOOL {
    MONITORINFO info{};
    info.cbSize = sizeof(info);
    // The full monitor, not its work area: the task bar's strip is covered too.
    if (GetMonitorInfoW(monitor, &info))
      reinterpret_cast<std::vector<guard::ScreenRect>*>(param)->push_back(FromRect(info.rcMonitor));
    return TRUE;
  };
  if (!EnumDisplayMonitors(nullptr, nullptr, add, reinterpret_cast<LPARAM>(&found))) return std::nullopt;
  return found;
}

// The kept monitor that holds most of the main window, as MonitorFromWindow
// decides, without asking the system; only a window on none of them asks.
std::optional<guard::ScreenRect> CoverWindows::main_window_monitor() {
  RECT window{};
  if (monitors_ && GetWindowRect(main_, &window)) {
    const guard::ScreenRect* best = nullptr;
    long long best_area = 0;
    for (const auto& m : *monitors_) {
      const long long w = std::min<long long>(m.right, window.right) - std::max<long long>(m.left, window.left);
      const long long h = std::min<long long>(m.bottom, window.bottom) - std::max<long long>(m.top, window.top);
      if (w > 0 && h > 0 && w * h > best_area) {
        best = &m;
        best_area = w * h;
      }
    }
    if (best != nullptr) return *best;
  }
  MONITORINFO info{};
  info.cbSize = sizeof(info);
  if (!GetMonitorInfoW(MonitorFromWindow(main_, MONITOR_DEFAULTTONEAREST), &info)) return std::nullopt;
  return FromRect(info.rcMonitor);
}

platform::WindowId CoverWindows::main_window() { return ToId(main_); }

platform::WindowId CoverWindows::create_cover(const guard::ScreenRect& r) {
  // A tool window: no task-bar button, not in Alt+Tab. No owner, so it does
  // not hide when the main window is minimised.
  HWND cover = CreateWindowExW(WS_EX_TOOLWINDOW | WS_EX_TOPMOST | WS_EX_NOACTIVATE, kClassName, L"Qorvel",
                               WS_POPUP, r.left, r.top, r.right - r.left, r.bottom - r.top, nullptr, nullptr,
                               GetModuleHandleW(nullptr), this);
  if (cover == nullptr) return 0;
  SetWindowPos(cover, HWND_TOPMOST, r.left, r.top, r.right - r.left, r.bottom - r.top,
               SWP_NOACTIVATE | SWP_SHOWWINDOW);
  HoldCover(cover, true);
  covers_.push_back(cover);
  return ToId(cover);
}

void CoverWindows::destroy_cover(platform::WindowId id) {
  const auto it = std::find(covers_.begin(), covers_.end(), ToHwnd(id));
  if (it == covers_.end()) return;
  DestroyWindow(*it);
  covers_.erase(it);
}

void CoverWindows::set_cover_topmost(platform::WindowId id, bool topmost) {
  HoldCover(ToHwnd(id), topmost);
  SetWindowPos(ToHwnd(id), topmost ? HWND_TOPMOST : HWND_NOTOPMOST, 0, 0, 0, 0,
               SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

void CoverWindows::Paint(HWND hwnd) {
  PAINTSTRUCT ps{};
  HDC dc = BeginPaint(hwnd, &ps);
  RECT client{};
  GetClientRect(hwnd, &client);
  // Red on the menu-text colour, like the main window's banner, centred.
  HGDIOBJ old = SelectObject(dc, banner_font_);
  SetTextColor(dc, RGB(255, 0, 0));
  SetBkColor(dc, GetSysColor(COLOR_MENUTEXT));
  SetBkMode(dc, OPAQUE);
  SIZE extent{};
  const int length = static_cast<int>(std::size(kBanner) - 1);
  GetTextExtentPoint32W(dc, kBanner, length, &extent);
  TextOutW(dc, (client.right - extent.cx) / 2, (client.bottom - extent.cy) / 2, kBanner, length);
  SelectObject(dc, old);
  EndPaint(hwnd, &ps);
}

LRESULT CALLBACK CoverWindows::WatchProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  auto* self = WindowObject<CoverWindows>(hwnd, msg, lp);
  if (self != nullptr && msg == WM_DISPLAYCHANGE) self->monitors_.reset();
  if (msg == WM_NCDESTROY) SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
  return DefWindowProcW(hwnd, msg, wp, lp);
}

LRESULT CALLBACK CoverWindows::WndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  auto* self = WindowObject<CoverWindows>(hwnd, msg, lp);
  if (LRESULT held = 0; HoldLockWindow(hwnd, msg, wp, lp, &held)) return held;
  switch (msg) {
    case WM_PAINT:
      if (self != nullptr) {
        self->Paint(hwnd);
        return 0;
      }
      break;
    // Clicks neither activate it nor reach anything.
    case WM_MOUSEACTIVATE:
      return MA_NOACTIVATE;
    // Like the main window: Alt+F4, the close command and WM_CLOSE from any
    // program are refused; only the program itself removes a cover.
    case WM_CLOSE:
      return 0;
    case WM_SYSCOMMAND:
      if ((wp & 0xFFF0) == SC_CLOSE) return 0;
      break;
    case WM_NCDESTROY:
      SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
      break;
    default:
      break;
  }
  return DefWindowProcW(hwnd, msg, wp, lp);
}

}  // namespace qorvel::platform::win32
