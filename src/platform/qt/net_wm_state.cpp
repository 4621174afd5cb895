#include "platform/qt/net_wm_state.h"

#include <QAbstractNativeEventFilter>
#include <QGuiApplication>
#include <QWindow>
#include <xcb/xcb.h>

#include <algorithm>
#include <vector>

#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <utility>

namespace qorvel::platform::qt {
namespace {

xcb_connection_t* Connection() {
  auto* x11 = qGuiApp == nullptr ? nullptr : qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
  return x11 == nullptr ? nullptr : x11->connection();
}

template <class T> using Reply = std::unique_ptr<T, decltype(&std::free)>;

xcb_atom_t Atom(xcb_connection_t* c, std::string_view name) {
  static std::map<std::string, xcb_atom_t, std::less<>> known;
  if (const auto it = known.find(name); it != known.end()) return it->second;
  Reply<xcb_intern_atom_reply_t> reply(
      xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, static_cast<uint16_t>(name.size()), name.data()), nullptr),
      &std::free);
  const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
  if (atom != XCB_ATOM_NONE) known.emplace(std::string(name), atom);
  return atom;
}

std::optional<std::vector<xcb_atom_t>> States(xcb_connection_t* c, xcb_window_t window) {
  const auto cookie = xcb_get_property(c, 0, window, Atom(c, "_NET_WM_STATE"), XCB_ATOM_ATOM, 0, 64);
  Reply<xcb_get_property_reply_t> reply(xcb_get_property_reply(c, cookie, nullptr), &std::free);
  if (!reply) return std::nullopt;
  std::vector<xcb_atom_t> atoms;
  if (reply->type == XCB_ATOM_ATOM && reply->format == 32) {
    const auto* data = static_cast<const xcb_atom_t*>(xcb_get_property_value(reply.get()));
    atoms.assign(data, data + xcb_get_property_value_length(reply.get()) / 4);
  }
  return atoms;
}

bool Mapped(xcb_connection_t* c, xcb_window_t window) {
  Reply<xcb_get_window_attributes_reply_t> reply(
      xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, window), nullptr), &std::free);
  return reply && reply->map_state != XCB_MAP_STATE_UNMAPPED;
}

xcb_window_t Root(xcb_connection_t* c, xcb_window_t window) {
  Reply<xcb_get_geometry_reply_t> reply(xcb_get_geometry_reply(c, xcb_get_geometry(c, window), nullptr),
                                        &std::free);
  return reply ? reply->root : xcb_window_t{XCB_WINDOW_NONE};
}

// The states read since the last change of each window's _NET_WM_STATE, so
// that a tick needs no round trip to the X server: the wait for the reply
// woke both of Qt's threads twice a second, most of the locked program's CPU.
// Qt asks for property changes of its top-level windows.
class KnownStates final : public QAbstractNativeEventFilter {
 public:
  explicit KnownStates(xcb_atom_t property) : property_(property) { qGuiApp->installNativeEventFilter(this); }
  bool nativeEventFilter(const QByteArray& type, void* message, qintptr* /*result*/) override {
    if (type != "xcb_generic_event_t") return false;
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    if ((event->response_type & 0x7F) != XCB_PROPERTY_NOTIFY) return false;
    const auto* notify = reinterpret_cast<const xcb_property_notify_event_t*>(event);
    if (notify->atom == property_) states.erase(notify->window);
    return false;
  }
  std::map<xcb_window_t, std::vector<xcb_atom_t>> states;

 private:
  xcb_atom_t property_;
};

}  // namespace

std::optional<bool> HasNetWmState(WId window, std::string_view state) {
  xcb_connection_t* c = Connection();
  if (c == nullptr || window == 0) return std::nullopt;
  static KnownStates known(Atom(c, "_NET_WM_STATE"));
  const auto id = static_cast<xcb_window_t>(window);
  auto it = known.states.find(id);
  if (it == known.states.end()) {
    auto atoms = States(c, id);
    if (!atoms) return std::nullopt;
    it = known.states.emplace(id, std::move(*atoms)).first;
  }
  return std::find(it->second.begin(), it->second.end(), Atom(c, state)) != it->second.end();
}

bool RequestNetWmState(WId window, std::string_view state, bool on) {
  xcb_connection_t* c = Connection();
  if (c == nullptr || window == 0) return false;
  const auto id = static_cast<xcb_window_t>(window);
  const xcb_atom_t atom = Atom(c, state);
  if (!Mapped(c, id)) {
    auto atoms = States(c, id).value_or(std::vector<xcb_atom_t>{});
    const auto it = std::find(atoms.begin(), atoms.end(), atom);
    if (on == (it != atoms.end())) return true;
    if (on) atoms.push_back(atom); else atoms.erase(it);
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, id, Atom(c, "_NET_WM_STATE"), XCB_ATOM_ATOM, 32,
                        static_cast<uint32_t>(atoms.size()), atoms.data());
  } else {
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = id;
    event.type = Atom(c, "_NET_WM_STATE");
    event.data.data32[0] = on ? 1 : 0;  // _NET_WM_STATE_ADD or _REMOVE
    event.data.data32[1] = atom;
    event.data.data32[3] = 1;  // from an application
    xcb_send_event(c, 0, Root(c, id), XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char*>(&event));
  }
  xcb_flush(c);
  return true;
}

void SetStaysOnTop(QWidget& window, bool on) {
  Qt::WindowFlags flags = window.windowFlags();
  if (flags.testFlag(Qt::WindowStaysOnTopHint) != on) {
    flags.setFlag(Qt::WindowStaysOnTopHint, on);
    // QWidget::setWindowFlags would hide the window and map it anew; the
    // QWindow sends the window manager a state change instead.
    window.overrideWindowFlags(flags);
    if (QWindow* handle = window.windowHandle()) handle->setFlags(flags);
    return;
  }
  if (on && window.isVisible() && HasNetWmState(window.winId(), "_NET_WM_STATE_ABOVE") == false) {
    RequestNetWmState(window.winId(), "_NET_WM_STATE_ABOVE", true);
  }
}

void SkipTaskbar(QWidget& window) {
  RequestNetWmState(window.winId(), "_NET_WM_STATE_SKIP_TASKBAR", true);
  RequestNetWmState(window.winId(), "_NET_WM_STATE_SKIP_PAGER", true);
}

void OnEveryDesktop(QWidget& window) {
  xcb_connection_t* c = Connection();
  if (c == nullptr) return;
  const uint32_t all = 0xFFFFFFFF;
  xcb_change_property(c, XCB_PROP_MODE_REPLACE, static_cast<xcb_window_t>(window.winId()),
                      Atom(c, "_NET_WM_DESKTOP"), XCB_ATOM_CARDINAL, 32, 1, &all);
  xcb_flush(c);
}

}  // namespace qorvel::platform::qt
