#pragma once
// The locked clock's text as one picture, put together from pictures of its
// characters, each drawn once. Qt keeps glyphs of at most 64 pixels rendered;
// the 72-point digits were filled from their outlines at every second's
// repaint, and raising Qt's limit left them undrawn on Xvfb with Qt 6.4.
#include <QColor>
#include <QFont>
#include <QImage>
#include <QPixmap>
#include <QString>

#include <map>

namespace qorvel::platform::qt {

class ClockFace {
 public:
  [[nodiscard]] QPixmap Draw(const QString& text, const QFont& font, const QColor& ink, const QColor& paper);

 private:
  const QImage& Glyph(QChar c);

  QFont font_;
  QColor ink_, paper_;
  std::map<char16_t, QImage> glyphs_;
};

}  // namespace qorvel::platform::qt
