// The locked clock repaints only the characters that changed: each table row
// shows the clock at one time, moves it to the next, and checks that what was
// repainted, laid over the old picture, gives the new one drawn whole.
#include <gtest/gtest.h>

#include <QApplication>
#include <QPaintEvent>

#include "platform/qt/clock_face.h"

namespace qorvel::platform::qt {
namespace {

const QColor kInk(255, 0, 0), kPaper(0, 0, 0);

// The regions the label is asked to paint.
struct PaintSpy : QObject {
  QRegion painted;
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint) painted += static_cast<QPaintEvent*>(event)->region();
    return false;
  }
};

QImage Picture(QWidget& w) { return w.grab().toImage().convertToFormat(QImage::Format_RGB32); }

struct Step {
  const char* from;
  const char* to;
  int repainted;  // characters at the end, at most; -1: the whole label
};

TEST(ClockLabel, RepaintsOnlyWhatChanged) {
  const Step steps[] = {
      {"2026/12/7 17:10:58", "2026/12/7 17:10:59", 1},
      {"2026/12/7 17:10:59", "2026/12/7 17:11:00", 4},
      {"2026/12/7 17:59:59", "2026/12/7 18:00:00", 7},
      {"2026/12/7 9:59:59", "2026/12/7 10:00:00", -1},  // longer
      {"2026/12/9 23:59:59", "2026/12/10 0:00:00", 10},  // the day one longer, the hour one shorter
      {"2026/12/7 17:10:58", "2026/12/7 17:10:58", 0},
  };
  for (const auto& s : steps) {
    SCOPED_TRACE(std::string(s.from) + " -> " + s.to);
    ClockLabel label;
    QFont font = label.font();
    font.setPointSize(40);
    label.setFont(font);
    label.Show(QString::fromUtf8(s.from), kInk, kPaper);
    label.show();
    QApplication::processEvents();
    const QImage before = Picture(label);

    PaintSpy spy;
    label.installEventFilter(&spy);
    label.Show(QString::fromUtf8(s.to), kInk, kPaper);
    QApplication::processEvents();
    label.removeEventFilter(&spy);

    const QImage after = Picture(label);
    EXPECT_EQ(label.size(), after.size());
    if (s.repainted == 0) {
      EXPECT_TRUE(spy.painted.isEmpty()) << "repainted the same time";
      continue;
    }
    ASSERT_FALSE(spy.painted.isEmpty()) << "never repainted";
    if (s.repainted < 0) {
      EXPECT_EQ(spy.painted.boundingRect(), label.rect());
      continue;
    }
    EXPECT_EQ(before.size(), after.size());
    const QString to = QString::fromUtf8(s.to);
    int tail = 0;
    for (const QChar c : to.right(s.repainted)) tail += QFontMetrics(font).horizontalAdvance(c);
    EXPECT_GE(spy.painted.boundingRect().left(), label.width() - tail - 1) << "repainted more than the changed characters";
    // The old picture with only the repainted part drawn anew.
    QImage laid = before;
    label.render(&laid, spy.painted.boundingRect().topLeft(), spy.painted, QWidget::DrawChildren);
    EXPECT_EQ(laid, after) << "the repainted part leaves old characters";
  }
}

// A new font (another DPI) or new colours draw every character again.
TEST(ClockLabel, ANewFaceRepaintsItWhole) {
  ClockLabel label;
  label.Show(QStringLiteral("2026/12/7 17:10:58"), kInk, kPaper);
  label.show();
  QApplication::processEvents();
  const QSize small = label.size();
  QFont font = label.font();
  font.setPointSize(font.pointSize() * 2);
  label.setFont(font);
  PaintSpy spy;
  label.installEventFilter(&spy);
  label.Show(QStringLiteral("2026/12/7 17:10:58"), kInk, kPaper);
  QApplication::processEvents();
  EXPECT_GT(label.height(), small.height());
  EXPECT_EQ(spy.painted.boundingRect(), label.rect());

  spy.painted = {};
  label.Show(QStringLiteral("2026/12/7 17:10:58"), Qt::white, kPaper);
  QApplication::processEvents();
  EXPECT_EQ(spy.painted.boundingRect(), label.rect());
}

}  // namespace
}  // namespace qorvel::platform::qt

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
