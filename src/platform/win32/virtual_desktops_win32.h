#pragma once
// Virtual desktops through the documented IVirtualDesktopManager. Where the
// system has none (before Windows 10, Wine), every answer is "unavailable".
#include <windows.h>
#include <shobjidl.h>

#include "platform/virtual_desktops.h"

namespace qorvel::platform::win32 {

class Win32VirtualDesktops final : public platform::VirtualDesktops {
 public:
  Win32VirtualDesktops() = default;
  ~Win32VirtualDesktops() override;
  Win32VirtualDesktops(const Win32VirtualDesktops&) = delete;
  Win32VirtualDesktops& operator=(const Win32VirtualDesktops&) = delete;

  std::optional<bool> on_current_desktop(platform::WindowId window) override;
  std::optional<std::string> foreground_desktop() override;
  bool move_to_desktop(platform::WindowId window, std::string_view desktop) override;
  // Whether the manager could be made; asked once.
  [[nodiscard]] bool available();

 private:
  IVirtualDesktopManager* manager_ = nullptr;
  bool tried_ = false;
  bool com_started_ = false;
};

}  // namespace qorvel::platform::win32
