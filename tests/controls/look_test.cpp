#include "controls/look.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QFont>
#include <QPalette>
#include <QStyle>
#include <QStyleFactory>

namespace tarnwick {
namespace {

TEST(Look, Windows95StylePaletteAndFont) {
  const QString oldStyle = QApplication::style()->name();
  const QPalette oldPalette = QApplication::palette();
  const QFont oldFont = QApplication::font();
  ApplyLook(*qApp);
  EXPECT_EQ(QApplication::style()->name().toLower(), "windows");
  const QPalette palette = QApplication::palette();
  EXPECT_EQ(palette.color(QPalette::Button), QColor(0xC0, 0xC0, 0xC0));
  EXPECT_EQ(palette.color(QPalette::Window), QColor(0xC0, 0xC0, 0xC0));
  EXPECT_EQ(palette.color(QPalette::Highlight), QColor(0x00, 0x00, 0x80));
  EXPECT_EQ(palette.color(QPalette::Base), QColor(Qt::white));
  EXPECT_EQ(QApplication::font().pointSize(), 8);
  QApplication::setStyle(QStyleFactory::create(oldStyle));
  QApplication::setPalette(oldPalette);
  QApplication::setFont(oldFont);
}

TEST(Look, BitmapResourcesHaveTheirSizes) {
  for (const char* name : {"FLOPPY", "HARD", "NETWORK", "CDROM", "RAM"}) {
    EXPECT_EQ(ResourceBitmap(name).size(), QSize(16, 11)) << name;
    EXPECT_EQ(DriveBitmap(DriveType::Fixed).size(), QSize(16, 11));
  }
  EXPECT_EQ(ResourceBitmap("SmallImages").size(), QSize(48, 16));
  EXPECT_TRUE(ResourceBitmap("smallimages").isNull());
  for (int i = 0; i < 3; ++i) {
    const QImage image = SmallImage(i).toImage();
    EXPECT_EQ(image.size(), QSize(16, 16));
    EXPECT_EQ(qAlpha(image.pixel(0, 15)), 0) << i;  // fuchsia is transparent
  }
  // Index 0 is the closed yellow folder.
  EXPECT_EQ(SmallImage(0).toImage().pixelColor(5, 8), QColor(0xFF, 0xFF, 0x00));
}

}  // namespace
}  // namespace tarnwick
