// The real main window, in-process with fake services, under openbox.
#include <gtest/gtest.h>

#include <QDialog>
#include <QFontDatabase>
#include <QFontInfo>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTest>

#include "platform/qt/form1_widget.h"
#include "platform/qt/look.h"
#include "platform/qt/net_wm_state.h"
#include "qt_support.h"
#include "store/module1.h"
#include "support/fakes.h"

namespace qorvel {
namespace {

using platform::qt::Form1Widget;
using test::NetWmState;
using test::WaitFor;

// Counts the window's hides and shows: a tick must not remap it.
struct MapCounter : QObject {
  bool eventFilter(QObject*, QEvent* e) override {
    if (e->type() == QEvent::Hide || e->type() == QEvent::Show) ++maps;
    if (e->type() == QEvent::Close) ++closes;
    return false;
  }
  int maps = 0, closes = 0;
};

class Form1WidgetTest : public ::testing::Test, guard::SettingsDoor {
 protected:
  void SetUp() override {
    if (window.logicalDpiX() != 96) GTEST_SKIP() << "pixel checks assume 96 DPI";
    fx.profile.set_text(store::kSettingsFile, test::FirstRunFileText());
    window.form().set_settings_door(this);
    window.set_enabled(false);  // ticks are the test's own unless it says so
    window.show_design();
    ASSERT_TRUE(WaitFor([&] { return test::Settled(window); }));
  }
  void open() override { fx.log.push_back("settings door"); }
  void Tick(int hour) {
    fx.clock.set_hour(hour, 7);
    window.form().CheckHour();
  }
  // Ticks as Timer1 does until the window manager has caught up: the window
  // manager may finish an un-maximise after the tick's own move and resize.
  bool TickUntil(int hour, const std::function<bool()>& cond) {
    for (int i = 0; i < 30; ++i) {
      Tick(hour);
      if (WaitFor(cond, 500)) return true;
    }
    return false;
  }
  bool Shown() { return !window.isMinimized() && !NetWmState(window, "_NET_WM_STATE_HIDDEN") && test::Settled(window); }
  bool Locked() {
    const QRect screen = window.screen()->geometry();
    const auto x = test::XGeometry(window);
    return Shown() && window.isMaximized() && NetWmState(window, "_NET_WM_STATE_ABOVE") &&
           NetWmState(window, "_NET_WM_STATE_MAXIMIZED_VERT") && x && x->contains(screen);
  }
  bool Compact() {
    return Shown() && !window.isMaximized() && !NetWmState(window, "_NET_WM_STATE_ABOVE") &&
           test::XGeometry(window) == QRect(0, 0, 41, 17);  // 615 x 260 twips
  }

  test::FakeServices fx;
  Form1Widget window{fx.services};
};

TEST_F(Form1WidgetTest, OpensAtDesignGeometryWithoutTaskBarEntry) {
  EXPECT_EQ(window.windowTitle(), "Qorvel");
  EXPECT_TRUE(window.windowFlags().testFlag(Qt::FramelessWindowHint));
  EXPECT_EQ(window.windowType(), Qt::Tool);
  EXPECT_TRUE(NetWmState(window, "_NET_WM_STATE_SKIP_TASKBAR"));
  EXPECT_FALSE(NetWmState(window, "_NET_WM_STATE_ABOVE"));
  EXPECT_EQ(window.size(), QSize(1037, 937));  // 15555 x 14055 twips

  struct Case { test::Placed placed; int pixel_size; };
  for (const auto& c : {Case{{Form1Widget::kCommand2, "设置", 0, 0, 41, 17}, 0},
                        Case{{Form1Widget::kCommand3, "关机", 40, 0, 41, 17}, 0},
                        Case{{Form1Widget::kCommand1, "锁屏", 80, 0, 41, 17}, 0},
                        Case{{Form1Widget::kCommand5, "学习加时", 120, 0, 60, 17}, 0},
                        Case{{Form1Widget::kCommand4, "可用时段", 180, 0, 60, 17}, 0},
                        Case{{Form1Widget::kLabel2, "", 248, 0, 0, -1}, 14},  // empty: no width, as on Windows
                        Case{{Form1Widget::kL1, "Label1", 0, 24, -1, -1}, 96},                 // 72 pt
                        Case{{Form1Widget::kLabel1, "当前锁屏中>>>", 0, 136, -1, -1}, 35}}) {  // 26.25 pt
    SCOPED_TRACE(c.placed.name);
    const auto* label = dynamic_cast<const QLabel*>(test::ExpectPlaced(window, c.placed));
    if (label == nullptr) continue;
    const QFontInfo font(label->font());
    EXPECT_TRUE(font.bold());
    EXPECT_EQ(font.pixelSize(), c.pixel_size);
    EXPECT_EQ(font.family(), platform::qt::LabelFamily());
    EXPECT_EQ(label->palette().color(QPalette::WindowText), QColor(255, 0, 0));
  }
  // The stand-in must write Chinese, or the banner would be boxes.
  EXPECT_TRUE(QFontDatabase::writingSystems(platform::qt::LabelFamily()).contains(QFontDatabase::SimplifiedChinese));
}

TEST_F(Form1WidgetTest, EachTickAppliesItsLayoutWhateverTheUserDid) {
  enum Meddle { kNone, kMinimize, kMoveAway, kDropAbove, kOtherDesktop };
  struct Step { int hour; Meddle meddle; bool locked; };
  // The first-run file allows 1 to 23; hour 0 locks.
  for (const auto& s : {Step{0, kNone, true}, Step{0, kMinimize, true}, Step{0, kDropAbove, true}, Step{0, kOtherDesktop, true},
                        Step{1, kMinimize, false}, Step{1, kMoveAway, false}, Step{0, kNone, true},
                        Step{23, kNone, false}}) {
    SCOPED_TRACE(testing::Message() << "hour " << s.hour << " meddle " << s.meddle);
    if (s.meddle == kMinimize) {
      window.showMinimized();
      ASSERT_TRUE(WaitFor([&] { return NetWmState(window, "_NET_WM_STATE_HIDDEN"); }));
    }
    if (s.meddle == kMoveAway) {
      window.setGeometry(300, 200, 400, 300);
      ASSERT_TRUE(WaitFor([&] { return test::XGeometry(window) == QRect(300, 200, 400, 300); }));
    }
    if (s.meddle == kDropAbove) {  // the window manager's menu can do this
      platform::qt::RequestNetWmState(window.winId(), "_NET_WM_STATE_ABOVE", false);
      ASSERT_TRUE(WaitFor([&] { return !NetWmState(window, "_NET_WM_STATE_ABOVE"); }));
    }
    if (s.meddle == kOtherDesktop) {  // Ctrl+Alt+Right under openbox
      ASSERT_TRUE(test::SwitchDesktop(1));
    }
    EXPECT_TRUE(TickUntil(s.hour, [&] { return s.locked ? Locked() : Compact(); }));
    if (s.meddle == kOtherDesktop) {
      ASSERT_TRUE(test::SwitchDesktop(0));
    }
    if (!s.locked) continue;
    const auto* clock = test::Child<QLabel>(&window, Form1Widget::kL1);
    EXPECT_EQ(clock->text().toStdString(), fx.clock.general_date(fx.clock.time));
    EXPECT_GT(clock->width(), 600);  // sized to the date, not to "Label1"
  }
}

// Twice a second the same layout again: nothing is hidden and shown anew,
// and the window keeps its X window.
TEST_F(Form1WidgetTest, RepeatedTicksNeitherRemapNorRecreate) {
  for (const int hour : {0, 1}) {
    SCOPED_TRACE(hour);
    Tick(hour);
    ASSERT_TRUE(WaitFor([&] { return hour == 0 ? Locked() : Compact(); }));
    MapCounter counter;
    window.installEventFilter(&counter);
    const WId id = window.winId();
    for (int i = 0; i < 6; ++i) {
      Tick(hour);
      QTest::qWait(30);
    }
    EXPECT_TRUE(hour == 0 ? Locked() : Compact());
    EXPECT_EQ(counter.maps, 0);
    EXPECT_EQ(window.winId(), id);
    window.removeEventFilter(&counter);
  }
}

// Real ticks: none before show_design(), none while disabled, then every 500 ms.
TEST_F(Form1WidgetTest, Timer1TicksOnlyWhenShownAndEnabled) {
  Form1Widget hidden{fx.services};
  fx.clock.set_hour(0);
  window.set_enabled(true);
  EXPECT_TRUE(WaitFor([&] { return Locked(); }));
  QTest::qWait(1200);  // time for a tick that must not come
  EXPECT_EQ(hidden.findChild<QLabel*>(Form1Widget::kL1)->text(), "Label1");
  EXPECT_FALSE(hidden.isVisible());
  window.set_enabled(false);
  fx.clock.set_hour(1);
  QTest::qWait(1200);
  EXPECT_TRUE(Locked());
  window.set_enabled(true);
  EXPECT_TRUE(WaitFor([&] { return Compact(); }));
}

TEST_F(Form1WidgetTest, RefusesEveryCloseUntilUnloaded) {
  MapCounter counter;
  window.installEventFilter(&counter);
  EXPECT_FALSE(window.close());
  test::SendDeleteWindow(window);  // what the window manager's close sends
  ASSERT_TRUE(WaitFor([&] { return counter.closes == 2; }));
  QTest::keyClick(&window, Qt::Key_F4, Qt::AltModifier);
  QCoreApplication::processEvents();
  EXPECT_TRUE(window.isVisible());
  EXPECT_TRUE(test::Settled(window));
  // unload() ends the program's loop even from inside a modal one.
  QTimer::singleShot(0, [&] {
    QDialog modal;
    QTimer::singleShot(0, [&] { window.form().Unload(); });
    modal.exec();
  });
  EXPECT_EQ(QApplication::exec(), 0);
  EXPECT_FALSE(window.isVisible());
}

TEST_F(Form1WidgetTest, ButtonsReachTheirHandlers) {
  std::string hours;
  for (int h = 23; h >= 1; --h) hours += std::to_string(h) + "点  ";
  struct Case { const char* name; const char* file; test::Log log; std::string label2; };
  for (const auto& c : {Case{Form1Widget::kCommand4, nullptr, {}, hours},
                        Case{Form1Widget::kCommand5, nullptr, {}, hours},
                        Case{Form1Widget::kCommand1, nullptr, {"start RunDll32.exe user32.dll,LockWorkStation /1"}, hours},
                        Case{Form1Widget::kCommand3, nullptr, {"exit_windows 12 0"}, hours},
                        Case{Form1Widget::kCommand2, nullptr, {"settings door"}, hours},
                        Case{Form1Widget::kCommand4, "[HOUR]\r\n", {}, ""}}) {  // shrinks back
    SCOPED_TRACE(c.name);
    if (c.file != nullptr) fx.profile.set_text(store::kSettingsFile, c.file);
    fx.log.clear();
    auto* button = test::Child<QPushButton>(&window, c.name);
    QTest::mouseClick(button, Qt::LeftButton, {}, button->rect().center());
    EXPECT_EQ(fx.log, c.log);
    EXPECT_EQ(window.hours_text(), c.label2);
    EXPECT_EQ(test::Child<QLabel>(&window, Form1Widget::kLabel2)->width() > 500, !c.label2.empty())
        << "sized to its text";
  }
}

}  // namespace
}  // namespace qorvel
