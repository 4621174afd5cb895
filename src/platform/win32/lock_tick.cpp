#include "platform/win32/lock_tick.h"

namespace qorvel::platform::win32 {

bool StandsInFront(HWND window, const RECT& placed) {
  RECT r{};
  if (!IsWindowVisible(window) || IsIconic(window) || !IsZoomed(window)) return false;
  if ((GetWindowLongPtrW(window, GWL_EXSTYLE) & WS_EX_TOPMOST) == 0) return false;
  if (!GetWindowRect(window, &r) || !EqualRect(&r, &placed)) return false;
  if (GetForegroundWindow() != window) return false;
  // The covers stand above it on the other monitors, its prompt is its own.
  for (HWND above = GetWindow(window, GW_HWNDPREV); above != nullptr; above = GetWindow(above, GW_HWNDPREV)) {
    RECT a{}, overlap{};
    if (!IsWindowVisible(above) || GetWindow(above, GW_OWNER) == window) continue;
    if (GetWindowRect(above, &a) && IntersectRect(&overlap, &a, &r)) return false;
  }
  return true;
}

}  // namespace qorvel::platform::win32
