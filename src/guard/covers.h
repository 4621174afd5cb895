#pragma once
// The lock on every other monitor: while the main window is locked, each
// monitor it does not cover gets a cover window. Also keeps the lock on the
// virtual desktop the user is looking at.
#include <optional>
#include <vector>

#include "platform/virtual_desktops.h"

namespace qorvel::guard {

// Pixels, in virtual-screen coordinates; right and bottom are exclusive.
struct ScreenRect {
  int left = 0, top = 0, right = 0, bottom = 0;
  [[nodiscard]] bool empty() const { return right <= left || bottom <= top; }
  [[nodiscard]] bool overlaps(const ScreenRect& o) const {
    return left < o.right && o.left < right && top < o.bottom && o.top < bottom;
  }
  friend bool operator==(const ScreenRect&, const ScreenRect&) = default;
};

class CoverView {
 public:
  virtual ~CoverView() = default;
  // The full rectangle of every monitor; nullopt when they cannot be read.
  [[nodiscard]] virtual std::optional<std::vector<ScreenRect>> monitors() = 0;
  // The monitor the main window is on; nullopt when unknown.
  [[nodiscard]] virtual std::optional<ScreenRect> main_window_monitor() = 0;
  [[nodiscard]] virtual platform::WindowId main_window() = 0;
  // A cover shown over the rectangle, topmost, without taking the focus;
  // 0 if it could not be made.
  virtual platform::WindowId create_cover(const ScreenRect& rect) = 0;
  virtual void destroy_cover(platform::WindowId cover) = 0;
  virtual void set_cover_topmost(platform::WindowId cover, bool topmost) = 0;
};

class Covers {
 public:
  // desktops may be null: no virtual desktops.
  Covers(CoverView& view, platform::VirtualDesktops* desktops) : view_(view), desktops_(desktops) {}
  Covers(const Covers&) = delete;
  Covers& operator=(const Covers&) = delete;

  // A locked tick: follows the monitor set, re-asserts topmost, and brings
  // every lock window to the current virtual desktop.
  void Lock();
  // A compact tick: no cover is left.
  void Release();
  // The settings window opens: covers stop being topmost until the next Lock.
  void Lower();

  [[nodiscard]] std::size_t count() const { return covers_.size(); }

 private:
  struct Cover {
    ScreenRect rect;
    platform::WindowId id;
  };
  void Follow(const std::vector<ScreenRect>& wanted);
  void KeepOnCurrentDesktop();

  CoverView& view_;
  platform::VirtualDesktops* desktops_;
  std::vector<Cover> covers_;
};

}  // namespace qorvel::guard
