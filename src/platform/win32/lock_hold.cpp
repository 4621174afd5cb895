#include "platform/win32/lock_hold.h"

#include <map>
#include <string>

namespace qorvel::platform::win32 {
namespace {

struct Held {
  bool cover;
  RECT place;  // a cover's; the main window's is its monitor
};

// Only the window's thread touches it: the windows and the loop share one.
std::map<HWND, Held>& HeldWindows() {
  static std::map<HWND, Held> held;
  return held;
}
bool g_restoring = false;
bool g_own_quit = false;

RECT PlaceOf(HWND window, const Held& held) {
  if (held.cover) return held.place;
  MONITORINFO info{};
  info.cbSize = sizeof info;
  GetMonitorInfoW(MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST), &info);
  return info.rcMonitor;
}

// What a change that skipped WM_WINDOWPOSCHANGING (SWP_NOSENDCHANGING), or
// one that sets the state before it (a minimise), left behind.
bool Slipped(HWND window, const Held& held) {
  RECT r{};
  GetWindowRect(window, &r);
  const RECT place = PlaceOf(window, held);
  return !IsWindowVisible(window) || IsIconic(window) || (!held.cover && !IsZoomed(window)) ||
         !EqualRect(&r, &place) || (GetWindowLongPtrW(window, GWL_EXSTYLE) & WS_EX_TOPMOST) == 0;
}

void Restore(HWND window, const Held& held) {
  g_restoring = true;
  // Showing a minimised window focuses it; a cover hands the focus back.
  const HWND foreground = GetForegroundWindow();
  if (IsIconic(window) || !IsWindowVisible(window) || (!held.cover && !IsZoomed(window)))
    ShowWindow(window, held.cover ? SW_SHOWNOACTIVATE : SW_SHOWMAXIMIZED);
  const RECT place = PlaceOf(window, held);
  SetWindowPos(window, HWND_TOPMOST, place.left, place.top, place.right - place.left, place.bottom - place.top,
               SWP_NOACTIVATE | SWP_SHOWWINDOW);
  if (held.cover && foreground != window && GetForegroundWindow() == window) SetForegroundWindow(foreground);
  g_restoring = false;
}

std::wstring DesktopName(HDESK desktop) {
  wchar_t name[256] = {};
  DWORD needed = 0;
  if (desktop == nullptr || !GetUserObjectInformationW(desktop, UOI_NAME, name, sizeof name, &needed)) return {};
  return name;
}

// The system sends these, never posts them: posted, they come from another
// program (WM_NCDESTROY would part the window from its object). Every loop
// on the thread takes its posted messages through this hook, the modal loops
// of the start-up prompt and the other message boxes too.
LRESULT CALLBACK DropForeignPosts(int code, WPARAM wp, LPARAM lp) {
  auto* msg = reinterpret_cast<MSG*>(lp);
  if (code == HC_ACTION && (msg->message == WM_NCDESTROY || msg->message == WM_ENDSESSION)) msg->message = WM_NULL;
  return CallNextHookEx(nullptr, code, wp, lp);
}

}  // namespace

void HoldPosition(WINDOWPOS& pos, const RECT& place) {
  pos.flags &= ~SWP_HIDEWINDOW;
  if ((pos.flags & SWP_NOMOVE) == 0) {
    pos.x = place.left;
    pos.y = place.top;
  }
  if ((pos.flags & SWP_NOSIZE) == 0) {
    pos.cx = place.right - place.left;
    pos.cy = place.bottom - place.top;
  }
  // HWND_TOP keeps a topmost window in its band; its owned windows (the
  // password prompt) still stand above it.
  if ((pos.flags & SWP_NOZORDER) == 0 && pos.hwndInsertAfter != HWND_TOPMOST && pos.hwndInsertAfter != HWND_TOP)
    pos.hwndInsertAfter = HWND_TOPMOST;
}

void HoldMainWindow(HWND window, bool locked) {
  if (window == nullptr) return;
  if (!locked || !IsZoomed(window)) {
    HeldWindows().erase(window);
    return;
  }
  HeldWindows()[window] = Held{false, {}};
  if (InputDesktopIsAnother()) SwitchToOwnDesktop();
}

void HoldCover(HWND window, bool held) {
  RECT place{};
  if (!held || !GetWindowRect(window, &place)) {
    HeldWindows().erase(window);
    return;
  }
  HeldWindows()[window] = Held{true, place};
}

bool HoldLockWindow(HWND window, UINT msg, WPARAM wp, LPARAM lp, LRESULT* result) {
  auto& windows = HeldWindows();
  const auto it = windows.find(window);
  if (it == windows.end()) return false;
  const Held held = it->second;
  switch (msg) {
    case WM_NCDESTROY:
      windows.erase(it);
      return false;
    case WM_WINDOWPOSCHANGING: {
      auto& pos = *reinterpret_cast<WINDOWPOS*>(lp);
      HoldPosition(pos, PlaceOf(window, held));
      return false;
    }
    case WM_WINDOWPOSCHANGED:
      *result = DefWindowProcW(window, msg, wp, lp);
      if (!g_restoring && Slipped(window, held)) Restore(window, held);
      return true;
    // Another program may take WS_VISIBLE away, or make it see-through and
    // let the clicks pass.
    case WM_STYLECHANGING: {
      auto& style = *reinterpret_cast<STYLESTRUCT*>(lp);
      if (wp == static_cast<WPARAM>(GWL_STYLE)) {
        style.styleNew = (style.styleNew | WS_VISIBLE) & ~static_cast<DWORD>(WS_MINIMIZE);
      } else if (wp == static_cast<WPARAM>(GWL_EXSTYLE)) {
        style.styleNew &= ~static_cast<DWORD>(WS_EX_LAYERED | WS_EX_TRANSPARENT);
      }
      return false;
    }
    case WM_SYSCOMMAND:
      switch (wp & 0xFFF0) {
        case SC_MINIMIZE:
        case SC_MAXIMIZE:
        case SC_RESTORE:
        case SC_MOVE:
        case SC_SIZE:
          *result = 0;
          return true;
        default:
          return false;
      }
    default:
      return false;
  }
}

bool InputDesktopIsAnother() {
  static const std::wstring own = DesktopName(GetThreadDesktop(GetCurrentThreadId()));
  // The secure desktop (Ctrl+Alt+Del, the consent prompt) opens for nobody:
  // it is never fought.
  HDESK input = OpenInputDesktop(0, FALSE, DESKTOP_READOBJECTS);
  const std::wstring name = DesktopName(input);
  if (input != nullptr) CloseDesktop(input);
  return IsAnotherDesktop(own, name);
}

bool IsAnotherDesktop(const std::wstring& own, const std::wstring& input) {
  return !input.empty() && !own.empty() && lstrcmpiW(input.c_str(), own.c_str()) != 0;
}

bool SwitchToOwnDesktop() {
  if (SwitchDesktop(GetThreadDesktop(GetCurrentThreadId()))) return true;
  // The handle the process was given may lack the right to switch.
  const std::wstring own = DesktopName(GetThreadDesktop(GetCurrentThreadId()));
  HDESK desktop = OpenDesktopW(own.c_str(), 0, FALSE, DESKTOP_SWITCHDESKTOP);
  const bool switched = desktop != nullptr && SwitchDesktop(desktop);
  if (desktop != nullptr) CloseDesktop(desktop);
  return switched;
}

void PostOwnQuit(int code) {
  g_own_quit = true;
  PostQuitMessage(code);
}

int RunGuardMessageLoop() {
  const HHOOK posts = SetWindowsHookExW(WH_GETMESSAGE, &DropForeignPosts, nullptr, GetCurrentThreadId());
  MSG msg{};
  int code = 1;
  for (;;) {
    const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
    if (got == -1) break;
    if (got == 0) {
      if (!g_own_quit) continue;
      code = static_cast<int>(msg.wParam);
      break;
    }
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  if (posts != nullptr) UnhookWindowsHookEx(posts);
  return code;
}

}  // namespace qorvel::platform::win32
