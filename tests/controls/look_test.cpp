#include "controls/look.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QFont>
#include <QFontInfo>
#include <QHelpEvent>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPalette>
#include <QProxyStyle>
#include <QScreen>
#include <QStyle>
#include <QTimer>
#include <QToolTip>
#include <QTreeWidget>

#include "controls/real_prompter.h"
#include "support/look_guard.h"

namespace tarnwick::test {
namespace {

TEST(Look, Windows95StylePaletteAndFont) {
  const test::LookGuard look;
  const auto* style = qobject_cast<QProxyStyle*>(QApplication::style());
  ASSERT_NE(style, nullptr);
  EXPECT_EQ(style->baseStyle()->name().toLower(), "windows");
  const QPalette palette = QApplication::palette();
  EXPECT_EQ(palette.color(QPalette::Button), QColor(0xC0, 0xC0, 0xC0));
  EXPECT_EQ(palette.color(QPalette::Window), QColor(0xC0, 0xC0, 0xC0));
  EXPECT_EQ(palette.color(QPalette::Highlight), QColor(0x00, 0x00, 0x80));
  EXPECT_EQ(palette.color(QPalette::Base), QColor(Qt::white));
  const QFont font = QApplication::font();
  if (look.HasWindows95Font()) {
    EXPECT_EQ(QFontInfo(font).family(), "MS Sans Serif");
    EXPECT_EQ(QFontInfo(font).pixelSize(), 13);
  } else {
    EXPECT_EQ(font.pointSize(), 8);
  }
}

TEST(Look, ElidedLabelKeepsTheWholeTextAsToolTip) {
  QLabel label;
  label.setFixedWidth(60);
  SetElidedText(label, QStringLiteral("Administrator of the Science Laboratory"));
  EXPECT_TRUE(label.text().endsWith(QChar(0x2026)));
  EXPECT_LE(label.fontMetrics().horizontalAdvance(label.text()), 60);
  EXPECT_EQ(label.toolTip(), "Administrator of the Science Laboratory");
  SetElidedText(label, QStringLiteral("Ann"));
  EXPECT_EQ(label.text(), "Ann");
  EXPECT_TRUE(label.toolTip().isEmpty());
}

// A tool-tip request over an item, answered as the view would show it.
QString ToolTipOver(QAbstractItemView& view, const QModelIndex& index) {
  QToolTip::hideText();
  const QPoint at = view.visualRect(index).topLeft() + QPoint(2, 2);
  QHelpEvent event(QEvent::ToolTip, at, view.viewport()->mapToGlobal(at));
  QApplication::sendEvent(view.viewport(), &event);
  return QToolTip::isVisible() ? QToolTip::text() : QString();
}

TEST(Look, CutItemsOfTreesAndIconListsShowTheirWholeText) {
  const QString longName = QStringLiteral("Pictures drawn for the pupils of the school");
  QTreeWidget tree;
  tree.setHeaderHidden(true);
  tree.setFixedSize(150, 100);
  auto* shortItem = new QTreeWidgetItem(&tree, QStringList(QStringLiteral("Icons")));
  auto* longItem = new QTreeWidgetItem(shortItem, QStringList(longName));
  shortItem->setExpanded(true);
  ShowCutTextsAsToolTips(tree);
  tree.show();
  EXPECT_FALSE(ItemTextIsCut(tree, tree.indexFromItem(shortItem)));
  EXPECT_TRUE(ItemTextIsCut(tree, tree.indexFromItem(longItem)));
  EXPECT_EQ(ToolTipOver(tree, tree.indexFromItem(shortItem)), QString());
  EXPECT_EQ(ToolTipOver(tree, tree.indexFromItem(longItem)), longName);

  QListWidget list;
  list.setViewMode(QListView::IconMode);
  list.setIconSize(QSize(32, 32));
  list.setGridSize(QSize(66, 58));
  list.setWordWrap(true);
  list.setFixedSize(206, 255);
  QPixmap icon(32, 32);
  icon.fill(Qt::blue);
  auto* ann = new QListWidgetItem(QIcon(icon), QStringLiteral("Ann"), &list);
  auto* administrator = new QListWidgetItem(QIcon(icon), longName, &list);
  ShowCutTextsAsToolTips(list);
  list.show();
  EXPECT_FALSE(ItemTextIsCut(list, list.indexFromItem(ann)));
  EXPECT_TRUE(ItemTextIsCut(list, list.indexFromItem(administrator)));
  EXPECT_EQ(ToolTipOver(list, list.indexFromItem(administrator)), longName);
  // An item's own tool tip wins.
  administrator->setToolTip(QStringLiteral("own"));
  EXPECT_EQ(ToolTipOver(list, list.indexFromItem(administrator)), "own");
  QToolTip::hideText();
}

TEST(Look, MessageWithALongPathWrapsWithinTheScreen) {
  const test::LookGuard look;
  QString path = QStringLiteral("C:\\WINDOWS\\Profiles");
  while (path.size() < 300) path += QStringLiteral("\\LongFolderName");
  QSize size;
  QTimer::singleShot(0, [&] {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
      size = box->size();
      box->accept();
    }
  });
  RealPrompter().Message(nullptr, MessageKind::Error, QStringLiteral("Tarnwick"),
                         QStringLiteral("Cannot create ") + path, QMessageBox::Ok);
  ASSERT_TRUE(size.isValid());
  EXPECT_LE(size.width(), 600);
  EXPECT_LE(size.width(), QApplication::primaryScreen()->availableGeometry().width());
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
}  // namespace tarnwick::test
