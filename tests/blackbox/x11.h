#pragma once
// What a person sees of the real program on an X display: its top-level
// windows, their geometry and EWMH state, their pixels; and the
// client messages a window manager sends. Input goes through xdotool.
#include <X11/Xlib.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace qorvel::blackbox {

struct Rect {
  int x = 0, y = 0, width = 0, height = 0;
  friend bool operator==(const Rect&, const Rect&) = default;
  [[nodiscard]] bool contains(int px, int py) const {
    return px >= x && py >= y && px < x + width && py < y + height;
  }
};
std::string ToString(const Rect& r);

class X11 {
 public:
  explicit X11(const std::string& display);
  ~X11();
  X11(const X11&) = delete;
  X11& operator=(const X11&) = delete;

  [[nodiscard]] bool ok() const { return display_ != nullptr; }
  [[nodiscard]] Rect screen() const;

  // Client windows of a process (by _NET_WM_PID), mapped or not.
  [[nodiscard]] std::vector<Window> windows_of(int pid);
  // A viewable window of the process with this title; 0 if none.
  [[nodiscard]] Window find(int pid, const std::string& title);
  [[nodiscard]] bool viewable(Window w);
  [[nodiscard]] std::string title(Window w);
  // The client area in root coordinates.
  [[nodiscard]] Rect geometry(Window w);
  [[nodiscard]] std::vector<std::string> net_wm_state(Window w);
  [[nodiscard]] bool has_state(Window w, const std::string& state);
  // The process whose window is on top at a point of the root window: the
  // topmost viewable root child there, or a client inside it. 0 for none.
  [[nodiscard]] int pid_on_top_at(int x, int y);

  // WM_DELETE_WINDOW, as a window manager sends it for the close button.
  void send_delete(Window w);
  // _NET_WM_PING: returns once the client has answered, so every event sent
  // to it before has been handled. False if it did not answer in time.
  bool ping(Window w, std::chrono::milliseconds limit = std::chrono::seconds(20));

  // Pixels of the root window within r matching pred(r, g, b).
  template <typename Pred>
  int count_pixels(const Rect& r, Pred pred);

 private:
  unsigned long atom(const char* name);
  std::optional<long> cardinal(Window w, const char* property);
  void walk(Window w, int depth, std::vector<Window>& out, int pid);
  // The _NET_WM_PID of w or of the first window inside it that has one.
  std::optional<long> pid_in(Window w, int depth);

  Display* display_ = nullptr;
  Window root_ = 0;
};

// Colour channels of a pixel of a 24-bit TrueColor root window.
struct Rgb {
  int r, g, b;
};
std::vector<Rgb> RootPixels(Display* d, Window root, const Rect& r);

template <typename Pred>
int X11::count_pixels(const Rect& r, Pred pred) {
  int n = 0;
  for (const Rgb& p : RootPixels(display_, root_, r)) n += pred(p.r, p.g, p.b) ? 1 : 0;
  return n;
}

// Runs xdotool with these arguments on the display; true when it succeeded.
bool Xdotool(const std::string& display, const std::vector<std::string>& args);

}  // namespace qorvel::blackbox
