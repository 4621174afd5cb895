#pragma once
// The lock as another program in the session sees it, for program_test.cpp
// and guard_probe.cpp.
#include <windows.h>

namespace qorvel::test {

// Shown, maximised over its whole monitor, in the topmost band and the first
// shown window of the screen: a window of the guard's own (a prompt, a
// cover) may stand above it.
inline bool LockHolds(HWND lock) {
  if (!IsWindowVisible(lock) || IsIconic(lock) || !IsZoomed(lock)) return false;
  // Topmost, and neither see-through nor letting the clicks pass.
  if ((GetWindowLongPtrW(lock, GWL_EXSTYLE) & (WS_EX_TOPMOST | WS_EX_LAYERED | WS_EX_TRANSPARENT)) != WS_EX_TOPMOST)
    return false;
  MONITORINFO info{};
  info.cbSize = sizeof info;
  RECT r{};
  if (!GetWindowRect(lock, &r) || !GetMonitorInfoW(MonitorFromWindow(lock, MONITOR_DEFAULTTONEAREST), &info))
    return false;
  const RECT& m = info.rcMonitor;
  if (r.left > m.left || r.top > m.top || r.right < m.right || r.bottom < m.bottom) return false;
  DWORD guard = 0, first = 0;
  GetWindowThreadProcessId(lock, &guard);
  for (HWND w = GetTopWindow(nullptr); w != nullptr; w = GetWindow(w, GW_HWNDNEXT)) {
    if (!IsWindowVisible(w)) continue;
    GetWindowThreadProcessId(w, &first);
    return first == guard;
  }
  return false;
}

// Hides the lock every 20 ms for `ms` and looks at it halfway between two
// hides: the share of looks in which it held, in percent.
inline double HeldUnderHiding(HWND lock, ULONGLONG ms, int* looks = nullptr) {
  int held = 0, count = 0;
  for (const ULONGLONG end = GetTickCount64() + ms; GetTickCount64() < end; Sleep(10)) {
    ShowWindow(lock, SW_HIDE);
    Sleep(10);
    held += LockHolds(lock) ? 1 : 0;
    ++count;
  }
  if (looks != nullptr) *looks = count;
  return count == 0 ? 0 : 100.0 * held / count;
}

}  // namespace qorvel::test
