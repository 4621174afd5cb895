#include "platform/win32/virtual_desktops_win32.h"

#include <windows.h>
#include <shobjidl.h>

#include <array>

namespace qorvel::platform::win32 {
namespace {

// CLSID_VirtualDesktopManager; MinGW declares the interface but not the class.
constexpr GUID kVirtualDesktopManager = {0xaa509086, 0x5ca9, 0x4c25, {0x8f, 0x95, 0x58, 0x9d, 0x3c, 0x07, 0xb4, 0x8a}};
constexpr GUID kIVirtualDesktopManager = {0xa5cd92ff, 0x29be, 0x454c,
                                          {0x8d, 0x04, 0xd8, 0x28, 0x79, 0xfb, 0x3f, 0x1b}};

std::string GuidText(const GUID& id) {
  std::array<wchar_t, 64> text{};
  const int n = StringFromGUID2(id, text.data(), static_cast<int>(text.size()));
  std::string out;
  for (int i = 0; i + 1 < n; ++i) out.push_back(static_cast<char>(text[static_cast<std::size_t>(i)]));
  return out;
}

std::optional<GUID> GuidFromText(std::string_view text) {
  std::wstring wide(text.begin(), text.end());
  GUID id{};
  if (FAILED(CLSIDFromString(wide.c_str(), &id))) return std::nullopt;
  return id;
}

class Win32DesktopManager final : public platform::DesktopManager {
 public:
  explicit Win32DesktopManager(IVirtualDesktopManager* manager) : manager_(manager) {}
  ~Win32DesktopManager() override {
    manager_->Release();
    CoUninitialize();
  }
  Win32DesktopManager(const Win32DesktopManager&) = delete;
  Win32DesktopManager& operator=(const Win32DesktopManager&) = delete;

  std::optional<bool> on_current_desktop(platform::WindowId window) override {
    BOOL on = FALSE;
    if (FAILED(manager_->IsWindowOnCurrentVirtualDesktop(reinterpret_cast<HWND>(window), &on))) return std::nullopt;
    return on != FALSE;
  }

  std::optional<std::string> foreground_desktop() override {
    HWND foreground = GetForegroundWindow();
    GUID id{};
    if (foreground == nullptr || FAILED(manager_->GetWindowDesktopId(foreground, &id)) || id == GUID_NULL)
      return std::nullopt;
    return GuidText(id);
  }

  bool move_to_desktop(platform::WindowId window, std::string_view desktop) override {
    const auto id = GuidFromText(desktop);
    return id && SUCCEEDED(manager_->MoveWindowToDesktop(reinterpret_cast<HWND>(window), *id));
  }

 private:
  IVirtualDesktopManager* manager_;
};

}  // namespace

std::unique_ptr<platform::DesktopManager> MakeDesktopManager() {
  // A multithreaded apartment: no message loop needed here, and nothing of
  // the window's thread is dispatched while a call waits.
  if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) return nullptr;
  void* manager = nullptr;
  if (FAILED(CoCreateInstance(kVirtualDesktopManager, nullptr, CLSCTX_ALL, kIVirtualDesktopManager, &manager))) {
    CoUninitialize();
    return nullptr;
  }
  return std::make_unique<Win32DesktopManager>(static_cast<IVirtualDesktopManager*>(manager));
}

}  // namespace qorvel::platform::win32
