#pragma once
// While locked, the lock window and the covers hold themselves: whoever asks,
// they are not hidden, minimised, moved, resized or put under another window.
// The window procedures call HoldLockWindow first; the views say when a
// window is held.
#include <windows.h>

#include <string>

namespace qorvel::platform::win32 {

// The decision: rewrites a change asked of a window held on `place` in the
// topmost band so that it neither hides, moves, resizes nor lowers it.
void HoldPosition(WINDOWPOS& pos, const RECT& place);

// The main window is held while it is maximised and asked to be topmost: the
// locked layout, or the wrong password's return to it. Its place is its
// monitor. At each locked call the guard also takes the input back to its
// own desktop.
void HoldMainWindow(HWND window, bool locked);
// A cover is held where it stands while it is topmost.
void HoldCover(HWND window, bool held);

// The window procedures' hook: true when it answered `msg` itself, with
// `*result`.
bool HoldLockWindow(HWND window, UINT msg, WPARAM wp, LPARAM lp, LRESULT* result);

// Whether the input desktop is another than the guard's own, and switching to
// the guard's own. Apart for a test with a second desktop.
bool InputDesktopIsAnother();
bool SwitchToOwnDesktop();
// The decision: an input desktop that cannot be read (the secure desktop of
// Ctrl+Alt+Del) is left alone; names are compared as Windows does, ignoring
// case.
bool IsAnotherDesktop(const std::wstring& own, const std::wstring& input);

// The program's own end of the message loop: a WM_QUIT posted by another
// program is ignored, and so are posted messages that only the system sends.
void PostOwnQuit(int code);
int RunGuardMessageLoop();

}  // namespace qorvel::platform::win32
