#pragma once
// What the logic may do to a window and its timer. Geometry is in twips
// (1440 to the inch, 15 to the pixel at 96 DPI).

namespace qorvel::platform {

enum class WindowState { normal = 0, maximized = 2 };

// SetWindowPos arguments, kept as the platform's literal values.
inline constexpr int kHwndTopmost = -1;
inline constexpr int kHwndNotopmost = -2;
inline constexpr unsigned kSwpNoSizeNoMove = 3;  // SWP_NOSIZE | SWP_NOMOVE

class Window {
 public:
  virtual ~Window() = default;
  // SetWindowPos(handle, insert_after, 0, 0, 0, 0, flags).
  virtual void set_window_pos(int insert_after, unsigned flags) = 0;
  virtual void set_window_state(WindowState state) = 0;
  // Each takes effect at once, in the order called.
  virtual void set_top(int twips) = 0;
  virtual void set_left(int twips) = 0;
  virtual void set_width(int twips) = 0;
  virtual void set_height(int twips) = 0;
};

// A periodic timer; no tick is delivered while it is disabled.
class Timer {
 public:
  virtual ~Timer() = default;
  virtual void set_enabled(bool enabled) = 0;
  [[nodiscard]] virtual bool enabled() const = 0;
};

}  // namespace qorvel::platform
