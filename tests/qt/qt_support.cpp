#include "qt_support.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QDialog>
#include <QGroupBox>
#include <QLabel>
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

// The first 32-bit value of the property, if it has `length` of them.
std::optional<uint32_t> Property(xcb_window_t window, std::string_view name, xcb_atom_t type, uint32_t length = 1) {
  auto* c = Connection();
  Reply<xcb_get_property_reply_t> p(
      xcb_get_property_reply(c, xcb_get_property(c, 0, window, Atom(name), type, 0, length), nullptr), &std::free);
  if (!p || p->value_len != length) return std::nullopt;
  return *static_cast<const uint32_t*>(xcb_get_property_value(p.get()));
}

void SendClientMessage(xcb_window_t window, std::string_view type, uint32_t data0, uint32_t data1, uint32_t mask) {
  xcb_client_message_event_t event{};
  event.response_type = XCB_CLIENT_MESSAGE;
  event.format = 32;
  event.window = window;
  event.type = Atom(type);
  event.data.data32[0] = data0;
  event.data.data32[1] = data1;
  xcb_send_event(Connection(), 0, window, mask, reinterpret_cast<const char*>(&event));
  xcb_flush(Connection());
}

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
  // openbox sets _NET_FRAME_EXTENTS once it manages the window.
  return a && a->map_state == XCB_MAP_STATE_VIEWABLE && Property(id, "_NET_FRAME_EXTENTS", XCB_ATOM_CARDINAL, 4);
}

bool WindowManagerRunning() { return Property(Root(), "_NET_SUPPORTING_WM_CHECK", XCB_ATOM_WINDOW).has_value(); }

std::optional<unsigned long> ActiveWindow() { return Property(Root(), "_NET_ACTIVE_WINDOW", XCB_ATOM_WINDOW); }

bool SwitchDesktop(unsigned desktop) {
  SendClientMessage(Root(), "_NET_CURRENT_DESKTOP", desktop, 0,
                    XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY);
  return WaitFor([&] { return Property(Root(), "_NET_CURRENT_DESKTOP", XCB_ATOM_CARDINAL) == desktop; });
}

void SendDeleteWindow(const QWidget& window) {
  SendClientMessage(static_cast<xcb_window_t>(window.winId()), "WM_PROTOCOLS", Atom("WM_DELETE_WINDOW"),
                    XCB_CURRENT_TIME, XCB_EVENT_MASK_NO_EVENT);
}

const QWidget* ExpectPlaced(const QWidget& parent, const Placed& p) {
  const auto* w = parent.findChild<QWidget*>(QString::fromUtf8(p.name));
  if (w == nullptr) {
    ADD_FAILURE() << "no " << p.name;
    return nullptr;
  }
  QString text;
  if (const auto* b = dynamic_cast<const QAbstractButton*>(w)) text = b->text();
  if (const auto* l = dynamic_cast<const QLabel*>(w)) text = l->text();
  if (const auto* g = dynamic_cast<const QGroupBox*>(w)) text = g->title();
  EXPECT_EQ(text, QString::fromUtf8(p.text));
  EXPECT_EQ(w->pos(), QPoint(p.left, p.top));
  EXPECT_EQ(w->width(), p.width >= 0 ? p.width : std::max(w->width(), 1));
  EXPECT_EQ(w->height(), p.height >= 0 ? p.height : std::max(w->height(), 1));
  return w;
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
