#include "x11.h"

#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>

namespace qorvel::blackbox {

std::string ToString(const Rect& r) {
  return std::to_string(r.width) + "x" + std::to_string(r.height) + "+" + std::to_string(r.x) + "+" +
         std::to_string(r.y);
}

X11::X11(const std::string& display) : display_(XOpenDisplay(display.c_str())) {
  if (display_ == nullptr) return;
  // Windows come and go while they are looked at: a vanished one is no error.
  XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
  root_ = DefaultRootWindow(display_);
  // Answers to _NET_WM_PING come back to the root window.
  XSelectInput(display_, root_, StructureNotifyMask | SubstructureNotifyMask);
  XFlush(display_);
}

X11::~X11() {
  if (display_ == nullptr) return;
  XCloseDisplay(display_);
}

unsigned long X11::atom(const char* name) { return XInternAtom(display_, name, False); }

Rect X11::screen() const {
  return {0, 0, DisplayWidth(display_, DefaultScreen(display_)), DisplayHeight(display_, DefaultScreen(display_))};
}

std::optional<long> X11::cardinal(Window w, const char* property) {
  Atom type = 0;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  std::optional<long> value;
  if (XGetWindowProperty(display_, w, atom(property), 0, 1, False, XA_CARDINAL, &type, &format, &count, &after,
                         &data) == Success &&
      data != nullptr && count == 1 && format == 32)
    value = *reinterpret_cast<long*>(data);
  if (data != nullptr) XFree(data);
  return value;
}

void X11::walk(Window w, int depth, std::vector<Window>& out, int pid) {
  Window root = 0, parent = 0, *children = nullptr;
  unsigned int count = 0;
  if (!XQueryTree(display_, w, &root, &parent, &children, &count)) return;
  for (unsigned int i = 0; i < count; ++i) {
    if (cardinal(children[i], "_NET_WM_PID") == pid) out.push_back(children[i]);
    if (depth < 3) walk(children[i], depth + 1, out, pid);
  }
  if (children != nullptr) XFree(children);
}

std::vector<Window> X11::windows_of(int pid) {
  std::vector<Window> found;
  XSync(display_, False);
  walk(root_, 0, found, pid);
  return found;
}

bool X11::viewable(Window w) {
  XWindowAttributes a{};
  return XGetWindowAttributes(display_, w, &a) && a.map_state == IsViewable;
}

std::string X11::title(Window w) {
  Atom type = 0;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  std::string text;
  if (XGetWindowProperty(display_, w, atom("_NET_WM_NAME"), 0, 1024, False, atom("UTF8_STRING"), &type, &format,
                         &count, &after, &data) == Success &&
      data != nullptr && format == 8)
    text.assign(reinterpret_cast<char*>(data), count);
  if (data != nullptr) XFree(data);
  return text;
}

Window X11::find(int pid, const std::string& wanted) {
  for (const Window w : windows_of(pid))
    if (viewable(w) && title(w) == wanted) return w;
  return 0;
}

Rect X11::geometry(Window w) {
  XWindowAttributes a{};
  if (!XGetWindowAttributes(display_, w, &a)) return {};
  int x = 0, y = 0;
  Window child = 0;
  XTranslateCoordinates(display_, w, root_, 0, 0, &x, &y, &child);
  return {x, y, a.width, a.height};
}

std::vector<std::string> X11::net_wm_state(Window w) {
  Atom type = 0;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  std::vector<std::string> names;
  if (XGetWindowProperty(display_, w, atom("_NET_WM_STATE"), 0, 64, False, XA_ATOM, &type, &format, &count, &after,
                         &data) == Success &&
      data != nullptr) {
    const auto* atoms = reinterpret_cast<Atom*>(data);
    for (unsigned long i = 0; i < count; ++i) {
      char* name = XGetAtomName(display_, atoms[i]);
      if (name != nullptr) {
        names.emplace_back(name);
        XFree(name);
      }
    }
  }
  if (data != nullptr) XFree(data);
  return names;
}

bool X11::has_state(Window w, const std::string& state) {
  for (const auto& s : net_wm_state(w))
    if (s == state) return true;
  return false;
}

std::optional<long> X11::pid_in(Window w, int depth) {
  if (auto pid = cardinal(w, "_NET_WM_PID")) return pid;
  if (depth >= 3) return std::nullopt;
  Window root = 0, parent = 0, *children = nullptr;
  unsigned int count = 0;
  if (!XQueryTree(display_, w, &root, &parent, &children, &count)) return std::nullopt;
  std::optional<long> found;
  for (unsigned int i = 0; i < count && !found; ++i) found = pid_in(children[i], depth + 1);
  if (children != nullptr) XFree(children);
  return found;
}

int X11::pid_on_top_at(int x, int y) {
  XSync(display_, False);
  Window root = 0, parent = 0, *children = nullptr;
  unsigned int count = 0;
  if (!XQueryTree(display_, root_, &root, &parent, &children, &count)) return 0;
  int pid = 0;
  // Bottom to top: the last viewable one containing the point is on top.
  for (unsigned int i = count; i-- > 0;) {
    XWindowAttributes a{};
    if (!XGetWindowAttributes(display_, children[i], &a) || a.map_state != IsViewable || a.c_class == InputOnly)
      continue;
    const Rect r{a.x, a.y, a.width + 2 * a.border_width, a.height + 2 * a.border_width};
    if (!r.contains(x, y)) continue;
    // The client is the frame itself or a window inside it.
    pid = static_cast<int>(pid_in(children[i], 0).value_or(-1));
    break;
  }
  if (children != nullptr) XFree(children);
  return pid;
}

void X11::send_delete(Window w) {
  XEvent ev{};
  ev.xclient.type = ClientMessage;
  ev.xclient.window = w;
  ev.xclient.message_type = atom("WM_PROTOCOLS");
  ev.xclient.format = 32;
  ev.xclient.data.l[0] = static_cast<long>(atom("WM_DELETE_WINDOW"));
  ev.xclient.data.l[1] = CurrentTime;
  XSendEvent(display_, w, False, NoEventMask, &ev);
  XFlush(display_);
}

bool X11::ping(Window w, std::chrono::milliseconds limit) {
  static long stamp = 0x5150;
  const long mine = ++stamp;
  XEvent ev{};
  ev.xclient.type = ClientMessage;
  ev.xclient.window = w;
  ev.xclient.message_type = atom("WM_PROTOCOLS");
  ev.xclient.format = 32;
  ev.xclient.data.l[0] = static_cast<long>(atom("_NET_WM_PING"));
  ev.xclient.data.l[1] = mine;
  ev.xclient.data.l[2] = static_cast<long>(w);
  XSendEvent(display_, w, False, NoEventMask, &ev);
  XFlush(display_);
  const auto end = std::chrono::steady_clock::now() + limit;
  const Atom ping = atom("_NET_WM_PING");
  while (std::chrono::steady_clock::now() < end) {
    while (XPending(display_) > 0) {
      XEvent got{};
      XNextEvent(display_, &got);
      if (got.type == ClientMessage && static_cast<Atom>(got.xclient.data.l[0]) == ping &&
          got.xclient.data.l[1] == mine)
        return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

std::vector<Rgb> RootPixels(Display* d, Window root, const Rect& r) {
  std::vector<Rgb> pixels;
  XImage* image = XGetImage(d, root, r.x, r.y, static_cast<unsigned>(r.width), static_cast<unsigned>(r.height),
                            AllPlanes, ZPixmap);
  if (image == nullptr) return pixels;
  auto channel = [](unsigned long pixel, unsigned long mask) {
    if (mask == 0) return 0;
    int shift = 0;
    while (((mask >> shift) & 1) == 0) ++shift;
    return static_cast<int>((pixel & mask) >> shift);
  };
  for (int y = 0; y < r.height; ++y)
    for (int x = 0; x < r.width; ++x) {
      const unsigned long p = XGetPixel(image, x, y);
      pixels.push_back({channel(p, image->red_mask), channel(p, image->green_mask), channel(p, image->blue_mask)});
    }
  XDestroyImage(image);
  return pixels;
}

bool Xdotool(const std::string& display, const std::vector<std::string>& args) {
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
