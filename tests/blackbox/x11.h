#pragma once
// What a person sees of the real program on an X display: its top-level
// windows, their geometry and EWMH state, their pixels; and the
// client messages a window manager sends. Input goes through xdotool.
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
  [[nodiscard]] bool contains(int px, int py) const {
    return px >= x && py >= y && px < x + width && py < y + height;
  }
};
inline std::string ToString(const Rect& r) {
  return std::to_string(r.width) + "x" + std::to_string(r.height) + "+" + std::to_string(r.x) + "+" +
         std::to_string(r.y);
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

  // Client windows of a process (by _NET_WM_PID), mapped or not.
  [[nodiscard]] std::vector<Window> windows_of(int pid) {
    std::vector<Window> found;
    XSync(display_, False);
    walk(root_, 0, found, pid);
    return found;
  }
  // A viewable window of the process with this title; 0 if none.
  [[nodiscard]] Window find(int pid, const std::string& wanted) {
    for (const Window w : windows_of(pid))
      if (viewable(w) && title(w) == wanted) return w;
    return 0;
  }
  [[nodiscard]] bool viewable(Window w) {
    XWindowAttributes a{};
    return XGetWindowAttributes(display_, w, &a) && a.map_state == IsViewable;
  }
  [[nodiscard]] std::string title(Window w) {
    std::string text;
    property(w, "_NET_WM_NAME", atom("UTF8_STRING"), 1024, [&](unsigned char* data, unsigned long count, int format) {
      if (format == 8) text.assign(reinterpret_cast<char*>(data), count);
    });
    return text;
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
      const Atom wanted = atom(state);
      for (unsigned long i = 0; i < count; ++i) found = found || reinterpret_cast<Atom*>(data)[i] == wanted;
    });
    return found;
  }
  // The process whose window is on top at a point of the root window: the
  // topmost viewable root child there, or a client inside it. 0 for none.
  [[nodiscard]] int pid_on_top_at(int x, int y) {
    XSync(display_, False);
    const std::vector<Window> list = children(root_);
    // Bottom to top: the last viewable one containing the point is on top.
    for (auto it = list.rbegin(); it != list.rend(); ++it) {
      XWindowAttributes a{};
      if (!XGetWindowAttributes(display_, *it, &a) || a.map_state != IsViewable || a.c_class == InputOnly) continue;
      if (Rect{a.x, a.y, a.width + 2 * a.border_width, a.height + 2 * a.border_width}.contains(x, y))
        return static_cast<int>(pid_in(*it, 0).value_or(-1));  // the frame itself or a client inside it
    }
    return 0;
  }

  // WM_DELETE_WINDOW, as a window manager sends it for the close button.
  void send_delete(Window w) { send_protocol(w, "WM_DELETE_WINDOW", CurrentTime); }
  // _NET_WM_PING: returns once the client has answered, so every event sent
  // to it before has been handled. False if it did not answer in time.
  bool ping(Window w, std::chrono::milliseconds limit = std::chrono::seconds(20)) {
    static long stamp = 0x5150;
    const long mine = ++stamp;
    send_protocol(w, "_NET_WM_PING", mine);
    const Atom ping = atom("_NET_WM_PING");
    for (const auto end = std::chrono::steady_clock::now() + limit; std::chrono::steady_clock::now() < end;
         std::this_thread::sleep_for(std::chrono::milliseconds(10))) {
      while (XPending(display_) > 0) {
        XEvent got{};
        XNextEvent(display_, &got);
        if (got.type == ClientMessage && static_cast<Atom>(got.xclient.data.l[0]) == ping &&
            got.xclient.data.l[1] == mine)
          return true;
      }
    }
    return false;
  }

  // Pixels of the root window within r matching pred(red, green, blue).
  int count_pixels(const Rect& r, const std::function<bool(int red, int green, int blue)>& pred) {
    XImage* image = XGetImage(display_, root_, r.x, r.y, static_cast<unsigned>(r.width),
                              static_cast<unsigned>(r.height), AllPlanes, ZPixmap);
    if (image == nullptr) return 0;
    auto channel = [](unsigned long pixel, unsigned long mask) {
      if (mask == 0) return 0;
      int shift = 0;
      while (((mask >> shift) & 1) == 0) ++shift;
      return static_cast<int>((pixel & mask) >> shift);
    };
    int n = 0;
    for (int y = 0; y < r.height; ++y)
      for (int x = 0; x < r.width; ++x) {
        const unsigned long p = XGetPixel(image, x, y);
        n += pred(channel(p, image->red_mask), channel(p, image->green_mask), channel(p, image->blue_mask)) ? 1 : 0;
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
            Success &&
        data != nullptr)
      use(data, count, format);
    if (data != nullptr) XFree(data);
  }
  std::optional<long> cardinal(Window w, const char* name) {
    std::optional<long> value;
    property(w, name, XA_CARDINAL, 1, [&](unsigned char* data, unsigned long count, int format) {
      if (count == 1 && format == 32) value = *reinterpret_cast<long*>(data);
    });
    return value;
  }
  std::vector<Window> children(Window w) {
    Window root = 0, parent = 0, *list = nullptr;
    unsigned int count = 0;
    std::vector<Window> found;
    if (XQueryTree(display_, w, &root, &parent, &list, &count) != 0) found.assign(list, list + count);
    if (list != nullptr) XFree(list);
    return found;
  }
  void walk(Window w, int depth, std::vector<Window>& out, int pid) {
    for (const Window child : children(w)) {
      if (cardinal(child, "_NET_WM_PID") == pid) out.push_back(child);
      if (depth < 3) walk(child, depth + 1, out, pid);
    }
  }
  // The _NET_WM_PID of w or of the first window inside it that has one.
  std::optional<long> pid_in(Window w, int depth) {
    if (auto pid = cardinal(w, "_NET_WM_PID")) return pid;
    if (depth >= 3) return std::nullopt;
    for (const Window child : children(w))
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
  if (pid < 0) return false;
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace qorvel::blackbox
