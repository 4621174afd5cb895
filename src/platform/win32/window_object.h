// The object behind a window: passed as the creation parameter, kept in the
// window's user data from WM_NCCREATE on. Null before that and after the
// owner clears it.
#pragma once

#include <windows.h>

namespace qorvel::platform::win32 {

template <typename T>
T* WindowObject(HWND hwnd, UINT message, LPARAM lparam) {
  if (message == WM_NCCREATE) {
    auto* self = static_cast<T*>(reinterpret_cast<CREATESTRUCTW*>(lparam)->lpCreateParams);
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    return self;
  }
  return reinterpret_cast<T*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
}

}  // namespace qorvel::platform::win32
