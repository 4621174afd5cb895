#pragma once
// What a person sees of the real program on an X display: its top-level
// windows, their geometry and EWMH state, their pixels; and the client
// messages a window manager sends. Input goes through xdotool.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace qorvel::blackbox {

struct Rect {
  int x = 0, y = 0, width = 0, height = 0;
  friend bool operator==(const Rect&, const Rect&) = default;
  [[nodiscard]] bool contains(int px, int py) const { return px >= x && py >= y && px < x + width && py < y + height; }
};
inline std::string ToString(const Rect& r) {
  return std::to_string(r.width) + "x" + std::to_string(r.height) + "+" + std::to_string(r.x) + "+" + std::to_string(r.y);
}

class X11 {
 public:
  explicit X11(const std::string& display) : display_(XOpenDisplay(display.c_str())) {
    if (display_ == nullptr) return;
    // Windows come and go while they are looked at: a vanished one is no error.
    XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
    root_ = DefaultRootWindow(display_);
    // Answers to _NET_WM_PING come back to the root window.
    XSelectInput(display_, root_, StructureNotifyMask | SubstructureNotifyMask);
    XFlush(display_);
  }
  ~X11() {
    if (display_ != nullptr) XCloseDisplay(display_);
  }
  X11(const X11&) = delete;
  X11& operator=(const X11&) = delete;

  [[nodiscard]] bool ok() const { return display_ != nullptr; }
  [[nodiscard]] Rect screen() const {
    return {0, 0, DisplayWidth(display_, DefaultScreen(display_)), DisplayHeight(display_, DefaultScreen(display_))};
  }
  // A viewable client window of the process (by _NET_WM_PID) with this title; 0 if none.
  [[nodiscard]] Window find(int pid, const std::string& title) {
    XSync(display_, False);
    return find_in(root_, 0, pid, title);
  }
  [[nodiscard]] bool viewable(Window w) {
    XWindowAttributes a{};
    return XGetWindowAttributes(display_, w, &a) && a.map_state == IsViewable;
  }
  // The client area in root coordinates.
  [[nodiscard]] Rect geometry(Window w) {
    XWindowAttributes a{};
    if (!XGetWindowAttributes(display_, w, &a)) return {};
    int x = 0, y = 0;
    Window child = 0;
    XTranslateCoordinates(display_, w, root_, 0, 0, &x, &y, &child);
    return {x, y, a.width, a.height};
  }
  // The atom is in the window's _NET_WM_STATE.
  [[nodiscard]] bool has_state(Window w, const char* state) {
    bool found = false;
    property(w, "_NET_WM_STATE", XA_ATOM, 64, [&](unsigned char* data, unsigned long count, int) {
      for (unsigned long i = 0; i < count; ++i) found = found || reinterpret_cast<Atom*>(data)[i] == atom(state);
    });
    return found;
  }
  // The process whose window is on top at a point: the topmost viewable
  // root child there, or a client inside it. 0 for none.
  [[nodiscard]] long pid_on_top_at(int x, int y) {
    XSync(display_, False);
    const std::vector<Window> list = children(root_);
    for (auto it = list.rbegin(); it != list.rend(); ++it) {  // bottom to top
      XWindowAttributes a{};
      if (!XGetWindowAttributes(display_, *it, &a) || a.map_state != IsViewable || a.c_class == InputOnly) continue;
      if (Rect{a.x, a.y, a.width + 2 * a.border_width, a.height + 2 * a.border_width}.contains(x, y))
        return pid_in(*it, 0).value_or(-1);
    }
    return 0;
  }

  // WM_DELETE_WINDOW, as a window manager sends it for the close button.
  void send_delete(Window w) { send_protocol(w, "WM_DELETE_WINDOW", CurrentTime); }
  // _NET_WM_PING: true once the client has answered, so every event sent to
  // it before has been handled.
  bool ping(Window w) {
    static long stamp = 0x5150;
    const long mine = ++stamp;
    send_protocol(w, "_NET_WM_PING", mine);
    for (const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
         std::chrono::steady_clock::now() < end; std::this_thread::sleep_for(std::chrono::milliseconds(10))) {
      for (XEvent got{}; XPending(display_) > 0;) {
        XNextEvent(display_, &got);
        if (got.type == ClientMessage && got.xclient.data.l[0] == static_cast<long>(atom("_NET_WM_PING")) &&
            got.xclient.data.l[1] == mine)
          return true;
      }
    }
    return false;
  }
  // Pixels of the root window within r matching pred(red, green, blue), 8 bits each.
  int count_pixels(const Rect& r, const std::function<bool(int, int, int)>& pred) {
    XImage* image = XGetImage(display_, root_, r.x, r.y, static_cast<unsigned>(r.width),
                              static_cast<unsigned>(r.height), AllPlanes, ZPixmap);
    if (image == nullptr) return 0;
    int n = 0;
    for (int y = 0; y < r.height; ++y)
      for (int x = 0; x < r.width; ++x) {
        const unsigned long p = XGetPixel(image, x, y);  // 24-bit TrueColor
        n += pred(static_cast<int>(p >> 16 & 0xFF), static_cast<int>(p >> 8 & 0xFF), static_cast<int>(p & 0xFF));
      }
    XDestroyImage(image);
    return n;
  }

 private:
  unsigned long atom(const char* name) { return XInternAtom(display_, name, False); }
  // Calls use(data, count, format) with the property when it is there.
  template <typename Use>
  void property(Window w, const char* name, unsigned long type, long length, Use use) {
    Atom got = 0;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(display_, w, atom(name), 0, length, False, type, &got, &format, &count, &after, &data) ==
            Success && data != nullptr)
      use(data, count, format);
    if (data != nullptr) XFree(data);
  }
  std::optional<long> pid_of(Window w) {
    std::optional<long> value;
    property(w, "_NET_WM_PID", XA_CARDINAL, 1, [&](unsigned char* data, unsigned long count, int format) {
      if (count == 1 && format == 32) value = *reinterpret_cast<long*>(data);
    });
    return value;
  }
  std::string title(Window w) {
    std::string text;
    property(w, "_NET_WM_NAME", atom("UTF8_STRING"), 1024, [&](unsigned char* data, unsigned long count, int format) {
      if (format == 8) text.assign(reinterpret_cast<char*>(data), count);
    });
    return text;
  }
  std::vector<Window> children(Window w) {
    Window root = 0, parent = 0, *list = nullptr;
    unsigned int count = 0;
    std::vector<Window> found;
    if (XQueryTree(display_, w, &root, &parent, &list, &count) != 0) found.assign(list, list + count);
    if (list != nullptr) XFree(list);
    return found;
  }
  Window find_in(Window w, int depth, int pid, const std::string& wanted) {
    for (const Window child : children(w)) {
      if (pid_of(child) == pid && viewable(child) && title(child) == wanted) return child;
      if (const Window found = depth < 3 ? find_in(child, depth + 1, pid, wanted) : 0) return found;
    }
    return 0;
  }
  // The _NET_WM_PID of w or of the first window inside it that has one.
  std::optional<long> pid_in(Window w, int depth) {
    if (auto pid = pid_of(w)) return pid;
    for (const Window child : depth < 3 ? children(w) : std::vector<Window>{})
      if (auto pid = pid_in(child, depth + 1)) return pid;
    return std::nullopt;
  }
  void send_protocol(Window w, const char* protocol, long data1) {
    XEvent ev{};
    ev.xclient.type = ClientMessage;
    ev.xclient.window = w;
    ev.xclient.message_type = atom("WM_PROTOCOLS");
    ev.xclient.format = 32;
    ev.xclient.data.l[0] = static_cast<long>(atom(protocol));
    ev.xclient.data.l[1] = data1;
    ev.xclient.data.l[2] = static_cast<long>(w);
    XSendEvent(display_, w, False, NoEventMask, &ev);
    XFlush(display_);
  }

  Display* display_ = nullptr;
  Window root_ = 0;
};

// Runs xdotool with these arguments on the display; true when it succeeded.
inline bool Xdotool(const std::string& display, const std::vector<std::string>& args) {
  const pid_t pid = fork();
  if (pid == 0) {
    setenv("DISPLAY", display.c_str(), 1);
    std::vector<char*> argv{const_cast<char*>("xdotool")};
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execvp("xdotool", argv.data());
    _exit(127);
  }
  int status = 0;
  while (pid > 0 && waitpid(pid, &status, 0) < 0) {
  }
  return pid > 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace qorvel::blackbox
