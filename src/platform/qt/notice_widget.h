#pragma once
// The notice before a lock on Qt: a small window on top, beside the compact
// main window, that takes no focus and lets every click through, so typing
// and games go on. It leaves by itself.
#include <QLabel>
#include <QTimer>

namespace qorvel::platform::qt {

class NoticeWidget final : public QLabel {
 public:
  static constexpr int kShownMs = 10000;

  NoticeWidget();
  // Shows the text with its top-left corner at `at` (global pixels), with a
  // beep; a notice still shown is replaced.
  void Show(const QString& text, QPoint at);

 private:
  QTimer end_;
};

}  // namespace qorvel::platform::qt
