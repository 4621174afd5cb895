#include "qt_support.h"

#include <QDialog>
#include <QGuiApplication>
#include <QThread>
#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>

#include "platform/qt/net_wm_state.h"

namespace qorvel::test {
namespace {

xcb_connection_t* Connection() {
  return qGuiApp->nativeInterface<QNativeInterface::QX11Application>()->connection();
}
template <class T> using Reply = std::unique_ptr<T, decltype(&std::free)>;

xcb_atom_t Atom(std::string_view name) {
  auto* c = Connection();
  Reply<xcb_intern_atom_reply_t> r(
      xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, static_cast<uint16_t>(name.size()), name.data()), nullptr),
      &std::free);
  return r ? r->atom : xcb_atom_t{XCB_ATOM_NONE};
}

xcb_window_t Root() { return xcb_setup_roots_iterator(xcb_get_setup(Connection())).data->root; }

}  // namespace

bool WaitFor(const std::function<bool()>& cond, int deadline_ms) {
  QElapsedTimer clock;
  clock.start();
  while (!cond()) {
    if (clock.elapsed() > deadline_ms) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    QThread::msleep(5);
  }
  return true;
}

std::optional<QRect> XGeometry(const QWidget& window) {
  auto* c = Connection();
  const auto id = static_cast<xcb_window_t>(window.winId());
  Reply<xcb_get_geometry_reply_t> g(xcb_get_geometry_reply(c, xcb_get_geometry(c, id), nullptr), &std::free);
  Reply<xcb_translate_coordinates_reply_t> t(
      xcb_translate_coordinates_reply(c, xcb_translate_coordinates(c, id, Root(), 0, 0), nullptr), &std::free);
  if (!g || !t) return std::nullopt;
  return QRect(t->dst_x, t->dst_y, g->width, g->height);
}

bool NetWmState(const QWidget& window, std::string_view atom) {
  return platform::qt::HasNetWmState(window.winId(), atom).value_or(false);
}

bool Settled(const QWidget& window) {
  auto* c = Connection();
  const auto id = static_cast<xcb_window_t>(window.winId());
  Reply<xcb_get_window_attributes_reply_t> a(xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, id), nullptr),
                                             &std::free);
  if (!a || a->map_state != XCB_MAP_STATE_VIEWABLE) return false;
  // openbox sets _NET_FRAME_EXTENTS once it manages the window.
  Reply<xcb_get_property_reply_t> p(
      xcb_get_property_reply(c, xcb_get_property(c, 0, id, Atom("_NET_FRAME_EXTENTS"), XCB_ATOM_CARDINAL, 0, 4), nullptr),
      &std::free);
  return p && p->value_len == 4;
}

std::optional<unsigned long> ActiveWindow() {
  auto* c = Connection();
  Reply<xcb_get_property_reply_t> p(
      xcb_get_property_reply(c, xcb_get_property(c, 0, Root(), Atom("_NET_ACTIVE_WINDOW"), XCB_ATOM_WINDOW, 0, 1), nullptr),
      &std::free);
  if (!p || p->value_len != 1) return std::nullopt;
  return *static_cast<const xcb_window_t*>(xcb_get_property_value(p.get()));
}

bool SwitchDesktop(unsigned desktop) {
  auto* c = Connection();
  xcb_client_message_event_t event{};
  event.response_type = XCB_CLIENT_MESSAGE;
  event.format = 32;
  event.window = Root();
  event.type = Atom("_NET_CURRENT_DESKTOP");
  event.data.data32[0] = desktop;
  xcb_send_event(c, 0, Root(), XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                 reinterpret_cast<const char*>(&event));
  xcb_flush(c);
  return WaitFor([&] {
    Reply<xcb_get_property_reply_t> p(
        xcb_get_property_reply(c, xcb_get_property(c, 0, Root(), Atom("_NET_CURRENT_DESKTOP"), XCB_ATOM_CARDINAL, 0, 1),
                               nullptr),
        &std::free);
    return p && p->value_len == 1 && *static_cast<const uint32_t*>(xcb_get_property_value(p.get())) == desktop;
  });
}

void SendDeleteWindow(const QWidget& window) {
  auto* c = Connection();
  xcb_client_message_event_t event{};
  event.response_type = XCB_CLIENT_MESSAGE;
  event.format = 32;
  event.window = static_cast<xcb_window_t>(window.winId());
  event.type = Atom("WM_PROTOCOLS");
  event.data.data32[0] = Atom("WM_DELETE_WINDOW");
  event.data.data32[1] = XCB_CURRENT_TIME;
  xcb_send_event(c, 0, event.window, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&event));
  xcb_flush(c);
}

ModalSteps::ModalSteps(std::vector<ModalStep> steps) : steps_(std::move(steps)) {
  waited_.start();
  timer_.setInterval(20);
  QObject::connect(&timer_, &QTimer::timeout, [this] { Poll(); });
  timer_.start();
}

ModalSteps::~ModalSteps() { timer_.stop(); }

void ModalSteps::Poll() {
  QWidget* top = QApplication::activeModalWidget();
  if (next_ == steps_.size() && top == nullptr) {
    waited_.restart();  // nothing left over
  } else if (next_ < steps_.size() && top != nullptr && top->isVisible() && steps_[next_].is(top)) {
    const auto& step = steps_[next_++];  // first: the action's own loop polls too
    waited_.restart();
    step.act(top);
  } else if (waited_.elapsed() > 20000) {
    for (QWidget* w : QApplication::topLevelWidgets()) {
      if (auto* dialog = dynamic_cast<QDialog*>(w); dialog != nullptr && dialog->isVisible()) dialog->reject();
    }
    waited_.restart();
  }
}

}  // namespace qorvel::test
