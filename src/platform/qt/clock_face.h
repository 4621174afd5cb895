#pragma once
// The locked clock, put together from pictures of its characters, each drawn
// once. Qt keeps glyphs of at most 64 pixels rendered; the 72-point digits
// were filled from their outlines at every second's repaint, and raising
// Qt's limit left them undrawn on Xvfb with Qt 6.4.
#include <QColor>
#include <QFont>
#include <QImage>
#include <QLabel>
#include <QString>

#include <map>

namespace qorvel::platform::qt {

class ClockFace {
 public:
  // Starts over, and says so, when the font or colours differ from the
  // last call's.
  bool Use(const QFont& font, const QColor& ink, const QColor& paper);
  [[nodiscard]] const QImage& Glyph(QChar c);
  [[nodiscard]] int Width(const QString& text);
  [[nodiscard]] int Height() const;
  // What a repaint from `from` to `to` on a label as wide as `to` must
  // cover: from the first character that differs to the end.
  [[nodiscard]] QRect Changed(const QString& from, const QString& to);

 private:
  QFont font_;
  QColor ink_, paper_;
  std::map<char16_t, QImage> glyphs_;
};

// The clock label: a change repaints only the characters from the first that
// differs, usually the last digit, so the second's repaint stays small.
class ClockLabel final : public QLabel {
 public:
  using QLabel::QLabel;
  void Show(const QString& text, const QColor& ink, const QColor& paper);
  [[nodiscard]] QSize sizeHint() const override;
  [[nodiscard]] const QString& shown() const { return text_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  mutable ClockFace face_;  // measuring draws the pictures it lacks
  QString text_;
};

}  // namespace qorvel::platform::qt
