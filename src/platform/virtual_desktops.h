#pragma once
// Virtual desktops (Windows 10 and later). Older Windows and Wine have none,
// and then nothing is ever answered and nothing moves.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qorvel::platform {

// A top-level window of this process, as the platform names it; 0 is none.
using WindowId = std::uintptr_t;

// What the lock asks, from the window's thread. Never waits: the answers
// come from another thread whenever the system gives them.
class VirtualDesktops {
 public:
  struct Answer {
    std::vector<WindowId> away;  // not on the desktop the user sees
    std::string desktop;         // the desktop of the window the user works in; empty if unknown
  };
  virtual ~VirtualDesktops() = default;
  // Hands over the lock's current windows, to be checked.
  virtual void ask(std::vector<WindowId> windows) = 0;
  // The latest answer, once: nullopt until a new one has come.
  [[nodiscard]] virtual std::optional<Answer> take_answer() = 0;
  virtual void move(std::vector<WindowId> windows, std::string desktop) = 0;
};

// The system's manager. Its calls may wait on another process (Explorer on
// Windows) for as long as that one hangs, so only a worker thread makes them.
// Every answer may be "unavailable" (nullopt or false).
class DesktopManager {
 public:
  virtual ~DesktopManager() = default;
  [[nodiscard]] virtual std::optional<bool> on_current_desktop(WindowId window) = 0;
  // The desktop of the window the user works in, as text.
  [[nodiscard]] virtual std::optional<std::string> foreground_desktop() = 0;
  virtual bool move_to_desktop(WindowId window, std::string_view desktop) = 0;
};

}  // namespace qorvel::platform
