#pragma once
// The window manager's states of a top-level window (_NET_WM_STATE). Qt
// keeps maximised and minimised in step with the window manager but not
// always-on-top, so that one is read and asked for here. Off X11 every
// answer is "unknown" and every request does nothing.
#include <QWidget>

#include <optional>
#include <string_view>

namespace qorvel::platform::qt {

// An atom such as "_NET_WM_STATE_ABOVE" in the window's _NET_WM_STATE;
// nullopt when it cannot be read (not X11, no window).
[[nodiscard]] std::optional<bool> HasNetWmState(WId window, std::string_view state);

// Asks the window manager to add or remove a state of a mapped window, the
// way a pager does; on an unmapped window it edits the property, which the
// window manager reads when mapping it. False when not on X11.
bool RequestNetWmState(WId window, std::string_view state, bool on);

// Always-on-top on or off without hiding and re-showing the window, and only
// when it changes. Asked again when the window manager has dropped it (its
// window menu can), so a topmost window stays topmost.
void SetStaysOnTop(QWidget& window, bool on);

// No task-bar or pager entry. Before the first show.
void SkipTaskbar(QWidget& window);

// On every workspace, so switching to another one does not leave the lock
// behind (openbox switches with Ctrl+Alt+arrows). Before the first show.
void OnEveryDesktop(QWidget& window);

}  // namespace qorvel::platform::qt
