// The Qt view tests run under X11 with a window manager (on_xvfb_openbox.sh
// provides both); they wait for it before the first test.
#include <gtest/gtest.h>

#include <QApplication>
#include <QWidget>

#include <cstdlib>
#include <iostream>

#include "qt_support.h"

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
  const bool managing = qorvel::test::WaitFor(qorvel::test::WindowManagerRunning, 30000) && [&] {
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
