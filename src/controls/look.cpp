#include "controls/look.h"

#include <QApplication>
#include <QBitmap>
#include <QFont>
#include <QPalette>
#include <QStyleFactory>

namespace tarnwick {

namespace {

#include "controls/resources/cdrom.xpm"
#include "controls/resources/computer.xpm"
#include "controls/resources/floppy.xpm"
#include "controls/resources/hard.xpm"
#include "controls/resources/network.xpm"
#include "controls/resources/ram.xpm"
#include "controls/resources/smallimages.xpm"
#include "controls/resources/upfolder.xpm"

QPalette Windows95Palette() {
  const QColor face(0xC0, 0xC0, 0xC0);
  const QColor shadow(0x80, 0x80, 0x80);
  const QColor navy(0x00, 0x00, 0x80);
  QPalette palette(Qt::black, face, Qt::white, shadow, shadow, Qt::black, Qt::white, Qt::white,
                   face);
  palette.setColor(QPalette::Midlight, face);
  palette.setColor(QPalette::Shadow, Qt::black);
  palette.setColor(QPalette::Highlight, navy);
  palette.setColor(QPalette::HighlightedText, Qt::white);
  palette.setColor(QPalette::ToolTipBase, QColor(0xFF, 0xFF, 0xE1));
  palette.setColor(QPalette::ToolTipText, Qt::black);
  palette.setColor(QPalette::Link, navy);
  palette.setColor(QPalette::PlaceholderText, shadow);
  for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText}) {
    palette.setColor(QPalette::Disabled, role, shadow);
  }
  palette.setColor(QPalette::Disabled, QPalette::Base, face);
  palette.setColor(QPalette::Disabled, QPalette::Highlight, shadow);
  return palette;
}

}  // namespace

void ApplyLook(QApplication& app) {
  if (QStyle* style = QStyleFactory::create(QStringLiteral("Windows"))) app.setStyle(style);
  app.setPalette(Windows95Palette());
  // A disabled menu item under the keyboard shows grey text on the navy bar.
  QPalette menu = Windows95Palette();
  menu.setColor(QPalette::Disabled, QPalette::Highlight,
                menu.color(QPalette::Active, QPalette::Highlight));
  app.setPalette(menu, "QMenu");
  QFont font;
  font.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("Microsoft Sans Serif"),
                    QStringLiteral("Nimbus Sans"), QStringLiteral("Liberation Sans"),
                    QStringLiteral("Arial"), QStringLiteral("DejaVu Sans")});
  font.setStyleHint(QFont::SansSerif);
  font.setPointSize(8);
  app.setFont(font);
}

QPixmap ResourceBitmap(const QString& name) {
  const char* const* xpm = nullptr;
  if (name == QLatin1String("FLOPPY")) xpm = floppy_xpm;
  if (name == QLatin1String("HARD")) xpm = hard_xpm;
  if (name == QLatin1String("NETWORK")) xpm = network_xpm;
  if (name == QLatin1String("CDROM")) xpm = cdrom_xpm;
  if (name == QLatin1String("RAM")) xpm = ram_xpm;
  if (name == QLatin1String("SmallImages")) xpm = smallimages_xpm;
  if (name == QLatin1String("COMPUTER")) xpm = computer_xpm;
  if (name == QLatin1String("UPFOLDER")) xpm = upfolder_xpm;
  return xpm != nullptr ? QPixmap(xpm) : QPixmap();
}

QPixmap TransparentBitmap(const QString& name) {
  QPixmap bitmap = ResourceBitmap(name);
  if (bitmap.isNull()) return bitmap;
  const QImage image = bitmap.toImage();
  bitmap.setMask(QBitmap::fromImage(image.createMaskFromColor(image.pixel(0, image.height() - 1))));
  return bitmap;
}

QPixmap DriveBitmap(DriveType type) {
  switch (type) {
    case DriveType::Removable:
      return TransparentBitmap(QStringLiteral("FLOPPY"));
    case DriveType::Fixed:
      return TransparentBitmap(QStringLiteral("HARD"));
    case DriveType::Remote:
      return TransparentBitmap(QStringLiteral("NETWORK"));
    case DriveType::CdRom:
      return TransparentBitmap(QStringLiteral("CDROM"));
    case DriveType::RamDisk:
      break;
  }
  return TransparentBitmap(QStringLiteral("RAM"));
}

QPixmap SmallImage(int index) {
  return TransparentBitmap(QStringLiteral("SmallImages")).copy(index * 16, 0, 16, 16);
}

QIcon NodeIcon(const QPixmap& pixmap) {
  QIcon icon(pixmap);
  icon.addPixmap(pixmap, QIcon::Selected);
  return icon;
}

}  // namespace tarnwick
