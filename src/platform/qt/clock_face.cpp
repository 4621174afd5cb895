#include "platform/qt/clock_face.h"

#include <QFontMetrics>
#include <QPainter>

namespace qorvel::platform::qt {

QPixmap ClockFace::Draw(const QString& text, const QFont& font, const QColor& ink, const QColor& paper) {
  // A new DPI brings a new font: every picture is drawn again.
  if (font != font_ || ink != ink_ || paper != paper_) {
    glyphs_.clear();
    font_ = font;
    ink_ = ink;
    paper_ = paper;
  }
  int width = 0;
  for (const QChar c : text) width += Glyph(c).width();
  QImage face(qMax(width, 1), QFontMetrics(font_).height(), QImage::Format_RGB32);
  face.fill(paper_);
  QPainter painter(&face);
  int x = 0;
  for (const QChar c : text) {
    painter.drawImage(x, 0, Glyph(c));
    x += Glyph(c).width();
  }
  painter.end();
  return QPixmap::fromImage(face);
}

const QImage& ClockFace::Glyph(QChar c) {
  const auto it = glyphs_.find(c.unicode());
  if (it != glyphs_.end()) return it->second;
  const QFontMetrics metrics(font_);
  QImage glyph(qMax(metrics.horizontalAdvance(c), 1), metrics.height(), QImage::Format_RGB32);
  glyph.fill(paper_);
  QPainter painter(&glyph);
  painter.setFont(font_);
  painter.setPen(ink_);
  painter.drawText(0, metrics.ascent(), QString(c));
  painter.end();
  return glyphs_.emplace(c.unicode(), std::move(glyph)).first->second;
}

}  // namespace qorvel::platform::qt
