#include "platform/qt/notice_widget.h"

#include <QApplication>

#include "platform/qt/look.h"

namespace qorvel::platform::qt {

NoticeWidget::NoticeWidget()
    : QLabel(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                          Qt::WindowDoesNotAcceptFocus | Qt::WindowTransparentForInput) {
  // Mapped without the window manager handing it the focus.
  setAttribute(Qt::WA_ShowWithoutActivating);
  setTextFormat(Qt::PlainText);
  setFont(LabelFont(1050));
  setMargin(6);
  QPalette colours = palette();
  colours.setColor(QPalette::WindowText, kLabelText);
  colours.setColor(QPalette::Window, MenuTextColour());
  setPalette(colours);
  setAutoFillBackground(true);
  end_.setSingleShot(true);
  end_.setInterval(kShownMs);
  connect(&end_, &QTimer::timeout, this, &QWidget::hide);
}

void NoticeWidget::Show(const QString& text, QPoint at) {
  setText(text);
  // Its title too: what the window list and tests see.
  setWindowTitle(text);
  adjustSize();
  move(at);
  show();
  raise();
  QApplication::beep();
  end_.start();
}

}  // namespace qorvel::platform::qt
