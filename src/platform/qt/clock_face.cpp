#include "platform/qt/clock_face.h"

#include <QFontMetrics>
#include <QPainter>

namespace qorvel::platform::qt {

bool ClockFace::Use(const QFont& font, const QColor& ink, const QColor& paper) {
  // A new DPI brings a new font: every picture is drawn again.
  if (font == font_ && ink == ink_ && paper == paper_) return false;
  glyphs_.clear();
  font_ = font;
  ink_ = ink;
  paper_ = paper;
  return true;
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

int ClockFace::Width(const QString& text) {
  int width = 0;
  for (const QChar c : text) width += Glyph(c).width();
  return width;
}

int ClockFace::Height() const { return QFontMetrics(font_).height(); }

QRect ClockFace::Changed(const QString& from, const QString& to) {
  qsizetype same = 0;
  while (same < from.size() && same < to.size() && from[same] == to[same]) ++same;
  const int left = Width(to.left(same));
  return {left, 0, Width(to) - left, Height()};
}

void ClockLabel::Show(const QString& text, const QColor& ink, const QColor& paper) {
  // New pictures (a new font after a DPI change, or new colours) change
  // every character.
  const bool redrawn = face_.Use(font(), ink, paper);
  const QRect changed = redrawn ? rect() : face_.Changed(text_, text);
  text_ = text;
  const QSize wanted = sizeHint();
  if (size() != wanted) {
    resize(wanted);  // repainted whole
  } else {
    update(changed);  // nothing for the same text
  }
}

QSize ClockLabel::sizeHint() const { return {qMax(face_.Width(text_), 1), face_.Height()}; }

// Qt clips the painter to the repainted part.
void ClockLabel::paintEvent(QPaintEvent* /*event*/) {
  QPainter painter(this);
  int x = 0;
  for (const QChar c : text_) {
    const QImage& glyph = face_.Glyph(c);
    painter.drawImage(x, 0, glyph);
    x += glyph.width();
  }
}

}  // namespace qorvel::platform::qt
