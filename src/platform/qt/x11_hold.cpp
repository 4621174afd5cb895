#include "platform/qt/x11_hold.h"

#include <QApplication>
#include <QGuiApplication>
#include <QScreen>
#include <QWindow>
#include <xcb/xcb.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>


namespace qorvel::platform::qt {
namespace {

X11Hold* g_hold = nullptr;

xcb_connection_t* Connection() {
  auto* x11 = qGuiApp == nullptr ? nullptr : qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
  return x11 == nullptr ? nullptr : x11->connection();
}

template <class T> using Reply = std::unique_ptr<T, decltype(&std::free)>;

// The guard's own window above the lock, if any: a popup menu first, then a
// modal dialog (the password prompt, a message box).
QWidget* OwnDialog() {
  if (QWidget* popup = QApplication::activePopupWidget()) return popup;
  QWidget* modal = QApplication::activeModalWidget();
  return modal != nullptr && modal->isVisible() ? modal : nullptr;
}

// Our own event selection on a window plus VisibilityNotify: Qt does not ask
// for it, and resets the selection whenever the window's flags change.
void SelectVisibility(xcb_connection_t* c, xcb_window_t window) {
  Reply<xcb_get_window_attributes_reply_t> attributes(
      xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, window), nullptr), &std::free);
  if (!attributes || (attributes->your_event_mask & XCB_EVENT_MASK_VISIBILITY_CHANGE) != 0) return;
  const uint32_t mask = attributes->your_event_mask | XCB_EVENT_MASK_VISIBILITY_CHANGE;
  xcb_change_window_attributes(c, window, XCB_CW_EVENT_MASK, &mask);
}

xcb_atom_t Atom(xcb_connection_t* c, const char* name) {
  Reply<xcb_intern_atom_reply_t> reply(
      xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, static_cast<uint16_t>(std::strlen(name)), name), nullptr),
      &std::free);
  return reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
}

// The child of the root holding `window`: the window manager's frame of a
// managed window, the window itself otherwise.
xcb_window_t TopLevel(xcb_connection_t* c, xcb_window_t window) {
  for (int depth = 0; depth < 8; ++depth) {
    Reply<xcb_query_tree_reply_t> tree(xcb_query_tree_reply(c, xcb_query_tree(c, window), nullptr), &std::free);
    if (!tree || tree->parent == XCB_WINDOW_NONE || tree->parent == tree->root) return window;
    window = tree->parent;
  }
  return window;
}

}  // namespace

X11Hold::X11Hold(QWidget& lock) : lock_(lock) {
  xcb_connection_t* c = Connection();
  if (c == nullptr) return;
  g_hold = this;
  atoms_ = {Atom(c, "_NET_WM_STATE"),          Atom(c, "_NET_WM_DESKTOP"),
            Atom(c, "_NET_WM_STATE_ABOVE"),    Atom(c, "_NET_WM_STATE_SKIP_TASKBAR"),
            Atom(c, "_NET_WM_STATE_SKIP_PAGER"), Atom(c, "_NET_WM_STATE_MAXIMIZED_VERT"),
            Atom(c, "_NET_WM_STATE_MAXIMIZED_HORZ")};
  Add(lock);
  retry_.setInterval(kRetryMs);
  connect(&retry_, &QTimer::timeout, this, &X11Hold::Check);
  QCoreApplication::instance()->installNativeEventFilter(this);
}

X11Hold::~X11Hold() {
  if (g_hold != this) return;
  g_hold = nullptr;
  QCoreApplication::instance()->removeNativeEventFilter(this);
  Release();
}

void X11Hold::Follow() {
  if (g_hold != nullptr) g_hold->Check();
}

void X11Hold::Watch(QWidget& cover) {
  if (g_hold == nullptr) return;
  g_hold->Add(cover);
  g_hold->Check();
}

void X11Hold::Add(QWidget& widget) {
  std::erase_if(held_, [](const Held& h) { return h.widget.isNull(); });
  held_.push_back({&widget, static_cast<std::uint32_t>(widget.winId()), true, {}, false, {}});
}

X11Hold::Held* X11Hold::Find(std::uint32_t window) {
  const auto it = std::find_if(held_.begin(), held_.end(),
                               [window](const Held& h) { return !h.widget.isNull() && h.window == window; });
  return it == held_.end() ? nullptr : &*it;
}

// Held while the lock is up and topmost: the locked layout, or the password
// prompt over it. Not topmost: compact, or the settings window open.
bool X11Hold::Holding() const {
  return lock_.isVisible() && lock_.windowFlags().testFlag(Qt::WindowStaysOnTopHint);
}

void X11Hold::CheckSoon() {
  if (check_pending_) return;
  check_pending_ = true;
  QMetaObject::invokeMethod(this, [this] { Check(); }, Qt::QueuedConnection);
}

void X11Hold::Check() {
  check_pending_ = false;
  xcb_connection_t* c = Connection();
  if (c == nullptr) return;
  const bool holding = Holding();
  for (Held& h : held_) {
    if (!h.widget.isNull() && h.widget->isVisible() && h.bypassing != holding) Bypass(h, holding);
  }
  if (!holding) {
    Release();
    retry_.stop();
    return;
  }
  bool missing = false;
  for (Held& h : held_) {
    if (h.widget.isNull() || !h.widget->isVisible()) continue;
    if (h.bypassing && !h.on_root) LeaveFrame(h);
    if (h.widget->windowFlags() != h.selected_with) {
      SelectVisibility(c, h.window);
      h.selected_with = h.widget->windowFlags();
    }
    if (!h.mapped) {
      Restore(h);
      missing = true;
    }
  }
  QWidget* dialog = OwnDialog();
  if (dialog != nullptr && QApplication::activePopupWidget() == nullptr) StackUnder(*dialog);
  // The grab stays on the lock: the prompt above it gets its input through
  // owner_events. A popup takes its own grab and gives it up when it closes.
  if (QApplication::activePopupWidget() == nullptr) {
    if (!grabbed_) Grab(lock_);
    missing = missing || !grabbed_;
  } else {
    missing = true;
  }
  if (dialog == nullptr && focus_lost_ && !missing) {
    focus_lost_ = false;
    Reply<xcb_get_input_focus_reply_t> focus(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr),
                                              &std::free);
    if (focus && focus->focus != grab_window_) {
      xcb_set_input_focus(c, XCB_INPUT_FOCUS_POINTER_ROOT, grab_window_, XCB_CURRENT_TIME);
      xcb_flush(c);
    }
  }
  if (missing) {
    if (!retry_.isActive()) retry_.start();
  } else {
    retry_.stop();
  }
}

// owner_events: the guard's own windows (its buttons, the prompt) get their
// events as usual; everything else comes to the grab window.
void X11Hold::Grab(QWidget& target) {
  xcb_connection_t* c = Connection();
  const auto window = static_cast<xcb_window_t>(target.winId());
  Reply<xcb_grab_keyboard_reply_t> keyboard(
      xcb_grab_keyboard_reply(c,
                              xcb_grab_keyboard(c, 1, window, XCB_CURRENT_TIME, XCB_GRAB_MODE_ASYNC,
                                                XCB_GRAB_MODE_ASYNC),
                              nullptr),
      &std::free);
  const uint16_t pointer_events = XCB_EVENT_MASK_BUTTON_PRESS | XCB_EVENT_MASK_BUTTON_RELEASE |
                                  XCB_EVENT_MASK_POINTER_MOTION | XCB_EVENT_MASK_ENTER_WINDOW |
                                  XCB_EVENT_MASK_LEAVE_WINDOW;
  Reply<xcb_grab_pointer_reply_t> pointer(
      xcb_grab_pointer_reply(c,
                             xcb_grab_pointer(c, 1, window, pointer_events, XCB_GRAB_MODE_ASYNC,
                                              XCB_GRAB_MODE_ASYNC, XCB_NONE, XCB_NONE, XCB_CURRENT_TIME),
                             nullptr),
      &std::free);
  grabbed_ = keyboard && keyboard->status == XCB_GRAB_STATUS_SUCCESS && pointer &&
             pointer->status == XCB_GRAB_STATUS_SUCCESS;
  if (grab_window_ != window) focus_lost_ = true;  // a new hold takes the focus too
  grab_window_ = window;
}

void X11Hold::Release() {
  if (grab_window_ == 0) return;
  xcb_connection_t* c = Connection();
  if (c != nullptr) {
    xcb_ungrab_keyboard(c, XCB_CURRENT_TIME);
    xcb_ungrab_pointer(c, XCB_CURRENT_TIME);
    xcb_flush(c);
  }
  grab_window_ = 0;
  grabbed_ = false;
}

// Unmapped by another client: the window manager lets the window go and
// forgets its states, so they are written back before it is mapped anew.
// No round trip on this road: each one lets the window stay unmapped longer.
void X11Hold::Restore(Held& held) {
  xcb_connection_t* c = Connection();
  if (held.bypassing) {
    // No window manager forgets anything here (KeepStates answers one that
    // lets the window go); each property written would cost Qt a round trip.
    xcb_map_window(c, held.window);
    Raise(held);
    return;
  }
  WriteStates(held.window, HeldStates(held));
  xcb_map_window(c, held.window);
  Raise(held);
}

// The states, and every desktop, for the window manager that next manages the window.
void X11Hold::WriteStates(std::uint32_t window, const std::vector<std::uint32_t>& states) {
  xcb_connection_t* c = Connection();
  xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, atoms_.state, XCB_ATOM_ATOM, 32,
                      static_cast<uint32_t>(states.size()), states.data());
  const uint32_t all = 0xFFFFFFFF;
  xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, atoms_.desktop, XCB_ATOM_CARDINAL, 32, 1, &all);
}

// What the window manager would keep in _NET_WM_STATE for a held window;
// without a window manager the hold keeps it, for the tools that read it.
std::vector<std::uint32_t> X11Hold::HeldStates(const Held& held) const {
  std::vector<xcb_atom_t> states{atoms_.above, atoms_.skip_taskbar, atoms_.skip_pager};
  if (held.widget.data() == &lock_) states.insert(states.end(), {atoms_.maximized_vert, atoms_.maximized_horz});
  return states;
}

// Into and out of the window manager's hands. The change of override-redirect
// takes effect at the next map, so the window is unmapped and mapped again:
// held, the unmap lets the window manager go, and the map is the window's own;
// let go, the map is a request the window manager answers by managing it.
void X11Hold::Bypass(Held& held, bool on) {
  xcb_connection_t* c = Connection();
  Qt::WindowFlags flags = held.widget->windowFlags();
  flags.setFlag(Qt::X11BypassWindowManagerHint, on);
  // Through the QWindow, as SetStaysOnTop does: QWidget::setWindowFlags would
  // hide the window and show it anew.
  held.widget->overrideWindowFlags(flags);
  if (QWindow* handle = held.widget->windowHandle()) handle->setFlags(flags);
  held.bypassing = on;
  held.on_root = false;
  if (on) {
    const QScreen* screen = held.widget.data() == &lock_
                                ? QGuiApplication::screenAt(lock_.frameGeometry().center())
                                : nullptr;
    if (screen == nullptr && held.widget.data() == &lock_) screen = lock_.screen();
    held.place = screen != nullptr ? screen->geometry() : held.widget->geometry();
  }
  xcb_unmap_window(c, held.window);
  if (on) {
    xcb_map_window(c, held.window);
    Fit(held);
    return;
  }
  // The states the window manager reads when it manages the window again:
  // not above (the settings window comes over it), no task-bar entry.
  WriteStates(held.window, {atoms_.skip_taskbar, atoms_.skip_pager});
  xcb_map_window(c, held.window);
  xcb_flush(c);
}

// A window made override-redirect while the window manager was still taking
// it in (its first map not yet answered) can stay inside a frame, hidden with
// it: unmapped and mapped again, the window manager lets it go.
void X11Hold::LeaveFrame(Held& held) {
  xcb_connection_t* c = Connection();
  if (TopLevel(c, held.window) == held.window) {
    held.on_root = true;
    return;
  }
  xcb_unmap_window(c, held.window);
  xcb_map_window(c, held.window);  // its own map: override-redirect now
  xcb_flush(c);
}

// A held window covers its place and lies above the rest; with no window
// manager between, nothing else sizes it.
void X11Hold::Fit(Held& held) {
  xcb_connection_t* c = Connection();
  const uint32_t values[] = {static_cast<uint32_t>(held.place.x()), static_cast<uint32_t>(held.place.y()),
                             static_cast<uint32_t>(held.place.width()),
                             static_cast<uint32_t>(held.place.height()), XCB_STACK_MODE_ABOVE};
  xcb_configure_window(c, held.window,
                       XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y | XCB_CONFIG_WINDOW_WIDTH |
                           XCB_CONFIG_WINDOW_HEIGHT | XCB_CONFIG_WINDOW_STACK_MODE,
                       values);
  xcb_flush(c);
}

// Someone (the window manager letting the window go, or another client)
// changed a held window's states: the ones it must show are written back.
void X11Hold::KeepStates(Held& held) {
  xcb_connection_t* c = Connection();
  const auto cookie = xcb_get_property(c, 0, held.window, atoms_.state, XCB_ATOM_ATOM, 0, 64);
  Reply<xcb_get_property_reply_t> reply(xcb_get_property_reply(c, cookie, nullptr), &std::free);
  std::vector<xcb_atom_t> now;
  if (reply && reply->type == XCB_ATOM_ATOM && reply->format == 32) {
    const auto* data = static_cast<const xcb_atom_t*>(xcb_get_property_value(reply.get()));
    now.assign(data, data + xcb_get_property_value_length(reply.get()) / 4);
  }
  const std::vector<xcb_atom_t> wanted = HeldStates(held);
  const bool kept = std::all_of(wanted.begin(), wanted.end(), [&now](xcb_atom_t a) {
    return std::find(now.begin(), now.end(), a) != now.end();
  });
  if (kept) return;
  xcb_change_property(c, XCB_PROP_MODE_REPLACE, held.window, atoms_.state, XCB_ATOM_ATOM, 32,
                      static_cast<uint32_t>(wanted.size()), wanted.data());
  xcb_flush(c);
}

// The guard's own dialog is managed: the window manager stacks it among its
// windows, which may be under the held lock. The lock goes just under it.
void X11Hold::StackUnder(QWidget& dialog) {
  Held* lock = Find(static_cast<std::uint32_t>(lock_.winId()));
  if (lock == nullptr || !lock->bypassing) return;
  xcb_connection_t* c = Connection();
  const uint32_t values[] = {TopLevel(c, static_cast<xcb_window_t>(dialog.winId())), XCB_STACK_MODE_BELOW};
  xcb_configure_window(c, lock->window, XCB_CONFIG_WINDOW_SIBLING | XCB_CONFIG_WINDOW_STACK_MODE, values);
  xcb_flush(c);
}

void X11Hold::Raise(Held& held) {
  xcb_connection_t* c = Connection();
  const uint32_t above = XCB_STACK_MODE_ABOVE;
  xcb_configure_window(c, held.window, XCB_CONFIG_WINDOW_STACK_MODE, &above);
  xcb_flush(c);
}

bool X11Hold::nativeEventFilter(const QByteArray& type, void* message, qintptr* /*result*/) {
  if (type != "xcb_generic_event_t" || !Holding()) return false;
  const auto* event = static_cast<const xcb_generic_event_t*>(message);
  switch (event->response_type & 0x7F) {
    case XCB_UNMAP_NOTIFY: {
      const auto* e = reinterpret_cast<const xcb_unmap_notify_event_t*>(event);
      if (e->window == grab_window_) grabbed_ = false;  // a grab ends with its window's view
      if (Held* h = Find(e->window); h != nullptr && h->widget->isVisible()) {
        h->mapped = false;
        focus_lost_ = true;  // the focus left with the window's view
        Restore(*h);  // at once, not after the events queued behind this one
      }
      CheckSoon();  // also when the prompt closes: the grab goes back to the lock
      break;
    }
    case XCB_MAP_NOTIFY: {
      const auto* e = reinterpret_cast<const xcb_map_notify_event_t*>(event);
      if (Held* h = Find(e->window)) h->mapped = true;
      CheckSoon();  // a window of ours shown: maybe the prompt, to be given the grab
      break;
    }
    case XCB_VISIBILITY_NOTIFY: {
      const auto* e = reinterpret_cast<const xcb_visibility_notify_event_t*>(event);
      Held* h = Find(e->window);
      // The lock stays under the guard's own dialog; the covers never hide it.
      if (h != nullptr && e->state != XCB_VISIBILITY_UNOBSCURED &&
          (h->widget.data() != &lock_ || OwnDialog() == nullptr)) {
        Raise(*h);
      }
      break;
    }
    case XCB_CONFIGURE_NOTIFY: {
      const auto* e = reinterpret_cast<const xcb_configure_notify_event_t*>(event);
      Held* h = Find(e->window);
      if (h != nullptr && h->bypassing && QRect(e->x, e->y, e->width, e->height) != h->place) Fit(*h);
      break;
    }
    case XCB_REPARENT_NOTIFY: {
      const auto* e = reinterpret_cast<const xcb_reparent_notify_event_t*>(event);
      // Let go by the window manager: back on the root, where it left it.
      if (Held* h = Find(e->window); h != nullptr && h->bypassing) {
        h->on_root = false;  // checked at once: a frame may have taken it instead
        Fit(*h);
        CheckSoon();
      }
      break;
    }
    case XCB_PROPERTY_NOTIFY: {
      const auto* e = reinterpret_cast<const xcb_property_notify_event_t*>(event);
      if (Held* h = Find(e->window); h != nullptr && h->bypassing && e->atom == atoms_.state) KeepStates(*h);
      break;
    }
    case XCB_FOCUS_IN:
    case XCB_FOCUS_OUT: {
      const auto* e = reinterpret_cast<const xcb_focus_in_event_t*>(event);
      // Someone took or gave up a grab (a popup of ours, or our own): see whether ours still holds.
      if (e->mode == XCB_NOTIFY_MODE_GRAB || e->mode == XCB_NOTIFY_MODE_UNGRAB) {
        grabbed_ = false;
        CheckSoon();
      }
      if ((event->response_type & 0x7F) == XCB_FOCUS_OUT && e->event == grab_window_ &&
          e->detail != XCB_NOTIFY_DETAIL_INFERIOR && e->detail != XCB_NOTIFY_DETAIL_POINTER) {
        focus_lost_ = true;
        CheckSoon();
      }
      break;
    }
    default:
      break;
  }
  return false;
}

}  // namespace qorvel::platform::qt
