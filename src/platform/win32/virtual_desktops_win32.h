#pragma once
// Virtual desktops through the documented IVirtualDesktopManager, made on the
// desktop worker's thread in a multithreaded apartment.
#include <memory>

#include "platform/virtual_desktops.h"

namespace qorvel::platform::win32 {

// Starts COM on the calling thread and makes the manager; null where the
// system has none (before Windows 10, Wine).
[[nodiscard]] std::unique_ptr<platform::DesktopManager> MakeDesktopManager();

}  // namespace qorvel::platform::win32
