// The Qt view tests run under X11 with a window manager (on_xvfb_openbox.sh
// provides both); they wait for it before the first test.
#include <gtest/gtest.h>

#include <QApplication>
#include <QGuiApplication>
#include <QWidget>
#include <xcb/xcb.h>

#include <cstdlib>
#include <iostream>

#include "qt_support.h"

namespace {

bool WindowManagerRunning() {
  auto* c = qGuiApp->nativeInterface<QNativeInterface::QX11Application>()->connection();
  const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
  const char name[] = "_NET_SUPPORTING_WM_CHECK";
  auto* atom = xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, sizeof name - 1, name), nullptr);
  if (atom == nullptr) return false;
  auto* prop = xcb_get_property_reply(c, xcb_get_property(c, 0, root, atom->atom, XCB_ATOM_WINDOW, 0, 1), nullptr);
  const bool running = prop != nullptr && prop->value_len == 1;
  std::free(prop);
  std::free(atom);
  return running;
}

}  // namespace

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  if (std::getenv("DISPLAY") == nullptr) {
    std::cerr << "no X display: run through on_xvfb_openbox.sh\n";
    return 1;
  }
  qputenv("QT_QPA_PLATFORM", "xcb");
  QApplication app(argc, argv);
  // The check window comes before openbox manages windows, and a window
  // mapped in between stays unmanaged: a probe window is shown until openbox
  // frames it.
  QWidget probe;
  probe.resize(50, 50);
  const bool managing = qorvel::test::WaitFor(WindowManagerRunning, 30000) && [&] {
    for (int attempt = 0; attempt < 10; ++attempt) {
      probe.show();
      if (qorvel::test::WaitFor([&] { return qorvel::test::Settled(probe); }, 3000)) return true;
      probe.hide();
    }
    return false;
  }();
  if (!managing) {
    std::cerr << "no window manager came up\n";
    return 1;
  }
  probe.hide();
  return RUN_ALL_TESTS();
}
