#pragma once
// The covers over the monitors the main window does not cover: borderless
// topmost tool windows in the desktop colour with the lock banner. They never
// take the focus, ignore clicks and refuse to close.
#include <windows.h>

#include <functional>
#include <optional>
#include <vector>

#include "guard/covers.h"

namespace qorvel::platform::win32 {

class CoverWindows final : public guard::CoverView {
 public:
  static constexpr wchar_t kClassName[] = L"QorvelCover";
  // A hidden top-level window of this class hears WM_DISPLAYCHANGE.
  static constexpr wchar_t kWatchClassName[] = L"QorvelDisplayWatch";
  using Enumerate = std::function<std::optional<std::vector<guard::ScreenRect>>()>;

  // The monitor list is kept until the system announces a display change;
  // `enumerate` reads it (the system's monitors unless a test gives others).
  explicit CoverWindows(HWND main_window, Enumerate enumerate = EnumerateMonitors);
  ~CoverWindows() override;  // the covers end with the program
  CoverWindows(const CoverWindows&) = delete;
  CoverWindows& operator=(const CoverWindows&) = delete;

  std::optional<std::vector<guard::ScreenRect>> monitors() override;
  std::optional<guard::ScreenRect> main_window_monitor() override;
  platform::WindowId main_window() override;
  platform::WindowId create_cover(const guard::ScreenRect& rect) override;
  void destroy_cover(platform::WindowId cover) override;
  void set_cover_topmost(platform::WindowId cover, bool topmost) override;

  [[nodiscard]] static std::optional<std::vector<guard::ScreenRect>> EnumerateMonitors();

 private:
  static LRESULT CALLBACK WndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
  static LRESULT CALLBACK WatchProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
  void Paint(HWND hwnd);

  HWND main_;
  Enumerate enumerate_;
  std::optional<std::vector<guard::ScreenRect>> monitors_;  // empty: read at the next tick
  HWND watch_ = nullptr;
  HFONT banner_font_ = nullptr;
  std::vector<HWND> covers_;
};

}  // namespace qorvel::platform::win32
