#include "controls/glyphs.h"

#include <QPainter>
#include <QPen>

#include "shell/file_icons.h"

namespace tarnwick {

QIcon Glyph(StockIcon picture, GlyphMark mark) {
  QPixmap glyph = IconFilePixmap(StockIconFile(picture), 16);
  if (mark == GlyphMark::None) return QIcon(glyph);
  QPainter painter(&glyph);
  painter.setPen(QPen(mark == GlyphMark::Plus ? QColor(0, 128, 0) : QColor(192, 0, 0), 2));
  if (mark == GlyphMark::Plus) {
    painter.drawLine(12, 8, 12, 15);
    painter.drawLine(8, 12, 15, 12);
  } else {
    painter.drawLine(9, 9, 15, 15);
    painter.drawLine(15, 9, 9, 15);
  }
  return QIcon(glyph);
}

}  // namespace tarnwick
