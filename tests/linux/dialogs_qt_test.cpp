// The Qt message box that nobody answers: above the guard's window even when
// none of ours is active, and given up as Cancel. Offscreen: what X11 and
// the window manager make of it is the black-box test's.
#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <chrono>

#include "platform/qt/dialogs_qt.h"
#include "support/fakes.h"

namespace qorvel {
namespace {

TEST(QtMessageBox, BelongsToTheGuardsWindowStaysOnTopAndGivesUpAsCancel) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  int argc = 1;
  char name[] = "qt_dialogs_tests";
  char* argv[] = {name, nullptr};
  QApplication app(argc, argv);
  test::FakeServices fx;
  platform::qt::QtDialogs dialogs(fx.system);
  QWidget lock;  // never shown, so no window of ours is active
  dialogs.set_owner(&lock);

  const QMessageBox* seen = nullptr;
  QWidget* owner = nullptr;
  bool on_top = false, rescued = false;
  QElapsedTimer asked;
  asked.start();
  QTimer look;
  QObject::connect(&look, &QTimer::timeout, [&] {
    for (QWidget* w : QApplication::topLevelWidgets()) {
      auto* box = qobject_cast<QMessageBox*>(w);
      if (box == nullptr || !box->isVisible()) continue;
      if (seen == nullptr) {
        seen = box;
        owner = box->parentWidget();
        on_top = box->windowFlags().testFlag(Qt::WindowStaysOnTopHint);
      } else if (asked.elapsed() > 30000) {
        rescued = true;
        box->buttons().front()->click();
      }
    }
  });
  look.start(20);
  const int answer = dialogs.message_box("是否加入开机启动", platform::kMbOkCancel, std::chrono::seconds(1));
  const auto took = asked.elapsed();
  EXPECT_TRUE(seen != nullptr && owner == &lock && on_top) << "not above the guard's window";
  EXPECT_FALSE(rescued) << "it never gave up";
  EXPECT_EQ(answer, platform::kIdCancel);
  EXPECT_GE(took, 900) << "gave up before its time";
}

}  // namespace
}  // namespace qorvel
