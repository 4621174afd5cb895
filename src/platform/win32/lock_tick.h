#pragma once
// A locked tick asks the main window to be topmost and in front twice a
// second. Under Wine each such SetWindowPos costs some 25 wineserver requests,
// most of them display-cache checks, even when nothing changes; the lock hold
// already keeps the window in place, so the tick asks only when something
// slipped that the hold does not hear of.
#include <windows.h>

namespace qorvel::platform::win32 {

// Whether `window` is still shown, maximised, topmost, on `placed` (where the
// last full request left it) and in front, with no window of another program
// over it: a window raised above it or the focus taken sends the lock window
// nothing, so they are looked at here.
bool StandsInFront(HWND window, const RECT& placed);

}  // namespace qorvel::platform::win32
