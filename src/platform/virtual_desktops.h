#pragma once
// Virtual desktops (Windows 10 and later). Every answer may be "unavailable"
// (nullopt or false): older Windows and Wine have none, and then the caller
// does nothing.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qorvel::platform {

// A top-level window of this process, as the platform names it; 0 is none.
using WindowId = std::uintptr_t;

class VirtualDesktops {
 public:
  virtual ~VirtualDesktops() = default;
  [[nodiscard]] virtual std::optional<bool> on_current_desktop(WindowId window) = 0;
  // The desktop of the window the user works in, as text.
  [[nodiscard]] virtual std::optional<std::string> foreground_desktop() = 0;
  virtual bool move_to_desktop(WindowId window, std::string_view desktop) = 0;
};

}  // namespace qorvel::platform
