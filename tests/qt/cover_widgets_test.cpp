// The cover windows on the wrapper's second monitor, following the main
// window's layout through guard::Covers.
#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QScreen>

#include "platform/qt/cover_widgets.h"
#include "platform/qt/form1_widget.h"
#include "qt_support.h"
#include "store/module1.h"
#include "support/fakes.h"

namespace qorvel {
namespace {

using test::NetWmState;
using test::WaitFor;

class CoverWidgetsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (QGuiApplication::screens().size() != 2) GTEST_SKIP() << "needs the wrapper's two monitors";
    fx.profile.set_text(store::kSettingsFile, test::FirstRunFileText());
    main.form().set_covers(&covers);
    main.set_enabled(false);
    main.show_design();
    ASSERT_TRUE(WaitFor([&] { return test::Settled(main); }));
  }
  QWidget* OnlyCover() {
    for (QWidget* w : QApplication::topLevelWidgets()) {
      if (w != &main && w->isVisible() && w->windowTitle() == "Qorvel") return w;
    }
    return nullptr;
  }

  test::FakeServices fx;
  platform::qt::Form1Widget main{fx.services};
  platform::qt::CoverWidgets view{main};
  guard::Covers covers{view, nullptr};
};

// Locked: the other monitor (only it: the main window holds its own) gets a
// cover over all of it, above everything, on every workspace, that takes no
// focus and cannot be closed; the settings window lowers it, the next locked
// tick raises it, a compact tick removes it.
TEST_F(CoverWidgetsTest, CoverFollowsTheLayout) {
  enum Action { kTick, kLower, kClose, kOtherDesktop };
  struct Step { Action action; int hour; bool covered, above; };
  for (const auto& s : {Step{kTick, 0, true, true}, Step{kClose, 0, true, true}, Step{kOtherDesktop, 0, true, true},
                        Step{kLower, 0, true, false},
                        Step{kTick, 0, true, true}, Step{kTick, 0, true, true}, Step{kTick, 12, false, false},
                        Step{kTick, 0, true, true}}) {
    SCOPED_TRACE(testing::Message() << "action " << s.action << " hour " << s.hour);
    const auto active = test::ActiveWindow();
    if (s.action == kTick) {
      fx.clock.set_hour(s.hour);
      main.form().CheckHour();
    }
    if (s.action == kLower) covers.Lower();
    if (s.action == kClose) test::SendDeleteWindow(*OnlyCover());
    if (s.action == kOtherDesktop) {
      ASSERT_TRUE(test::SwitchDesktop(1));
    }
    EXPECT_EQ(covers.count(), s.covered ? 1U : 0U);
    if (!s.covered) {
      EXPECT_TRUE(WaitFor([&] { return OnlyCover() == nullptr; }));
      continue;
    }
    QWidget* cover = OnlyCover();
    ASSERT_NE(cover, nullptr);
    EXPECT_TRUE(WaitFor([&] {
      return test::Settled(*cover) && test::XGeometry(*cover) == QRect(1280, 0, 768, 768) &&
             NetWmState(*cover, "_NET_WM_STATE_ABOVE") == s.above;
    }));
    EXPECT_TRUE(NetWmState(*cover, "_NET_WM_STATE_SKIP_TASKBAR"));
    EXPECT_TRUE(cover->windowFlags().testFlag(Qt::WindowDoesNotAcceptFocus));
    EXPECT_NE(test::ActiveWindow().value_or(0), cover->winId());
    EXPECT_TRUE(!active || test::ActiveWindow() == active);  // nothing took the focus
    if (s.action == kOtherDesktop) {
      ASSERT_TRUE(test::SwitchDesktop(0));
    }
  }
}

}  // namespace
}  // namespace qorvel
