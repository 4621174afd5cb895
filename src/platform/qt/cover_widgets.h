#pragma once
// The covers over the monitors the main window does not cover: frameless
// always-on-top windows in the desktop colour with the lock banner. They
// never take the focus and refuse to close.
#include <QWidget>

#include <memory>
#include <vector>

#include "guard/covers.h"

namespace qorvel::platform::qt {

class CoverWidget;

class CoverWidgets final : public guard::CoverView {
 public:
  explicit CoverWidgets(QWidget& main_window);  // covers are destroyed with this object
  ~CoverWidgets() override;
  CoverWidgets(const CoverWidgets&) = delete;
  CoverWidgets& operator=(const CoverWidgets&) = delete;

  std::optional<std::vector<guard::ScreenRect>> monitors() override;
  std::optional<guard::ScreenRect> main_window_monitor() override;
  platform::WindowId main_window() override;
  platform::WindowId create_cover(const guard::ScreenRect& rect) override;
  void destroy_cover(platform::WindowId cover) override;
  void set_cover_topmost(platform::WindowId cover, bool topmost) override;

  // The cover with this id, or null; for tests.
  [[nodiscard]] QWidget* cover(platform::WindowId id) const;

 private:
  QWidget& main_;
  std::vector<std::unique_ptr<CoverWidget>> covers_;
};

}  // namespace qorvel::platform::qt
