#include "controls/file_view.h"

#include <gtest/gtest.h>

#include <map>

#include <QApplication>
#include <QImage>

#include "support/test_machine.h"

namespace tarnwick::test {
namespace {

QStringList Captions(const TFileView& view) {
  QStringList captions;
  for (int row = 0; row < view.count(); ++row) captions << view.item(row)->text();
  return captions;
}

class FileViewTest : public ::testing::Test {
 protected:
  FileViewTest() {
    machine_.MakeDir("c/ICONS/Sub");
    machine_.Write("c/ICONS/Sub/inner.ico", "");
    machine_.Write("c/ICONS/.hidden", "");
    machine_.Write("c/ICONS/b.txt", "");
    machine_.Write("c/ICONS/a.txt", "");
    view_.SetMachine(machine_.Get());
  }

  test::TestMachine machine_;
  TFileView view_;
};

TEST_F(FileViewTest, ListsFilesInFileSystemOrderWithoutSubdirectories) {
  QStringList expected;
  for (const auto& entry : std::filesystem::directory_iterator(machine_.Host("c/ICONS"))) {
    if (!entry.is_directory()) expected << QString::fromStdString(entry.path().filename().string());
  }
  view_.SetDirectory("C:\\ICONS");
  EXPECT_EQ(Captions(view_), expected);
  EXPECT_EQ(expected.size(), 3);
}

TEST_F(FileViewTest, TrailingBackslashIsDropped) {
  view_.SetDirectory("C:\\ICONS\\");
  EXPECT_EQ(view_.Directory(), "C:\\ICONS");
  const QStringList with = Captions(view_);
  view_.SetDirectory("C:\\ICONS");
  EXPECT_EQ(Captions(view_), with);
}

TEST_F(FileViewTest, MissingDirectoryIsEmptyButKeepsThePath) {
  view_.SetDirectory("C:\\ICONS");
  view_.SetDirectory("C:\\NOWHERE\\");
  EXPECT_EQ(view_.count(), 0);
  EXPECT_TRUE(view_.LargeImages().empty());
  EXPECT_EQ(view_.Directory(), "C:\\NOWHERE");
  view_.SetDirectory("");
  EXPECT_EQ(view_.count(), 0);
  EXPECT_EQ(view_.Directory(), "");
}

void WriteIcon(const std::filesystem::path& file, const QColor& colour) {
  QImage image(32, 32, QImage::Format_ARGB32);
  image.fill(colour);
  ASSERT_TRUE(image.save(QString::fromStdString(file.string()), "ICO"));
}

QColor Centre(const QPixmap& pixmap) {
  const QImage image = pixmap.toImage();
  return image.pixelColor(image.width() / 2, image.height() / 2);
}

TEST_F(FileViewTest, ThreeIconFilesShowTheirOwnIconsAtIndexesZeroToTwo) {
  machine_.MakeDir("c/TARNEX/UserIcon");
  const std::map<QString, QColor> colours = {{"RED.ICO", QColor(255, 0, 0)},
                                             {"green.ico", QColor(0, 128, 0)},
                                             {"Blue.Ico", QColor(0, 0, 255)}};
  for (const auto& [name, colour] : colours) {
    WriteIcon(machine_.Host("c/TARNEX/UserIcon/" + name.toStdString()), colour);
  }
  view_.SetDirectory("C:\\TARNEX\\UserIcon");
  ASSERT_EQ(view_.count(), 3);
  ASSERT_EQ(view_.LargeImages().size(), 3u);
  ASSERT_EQ(view_.SmallImages().size(), 3u);
  for (int row = 0; row < 3; ++row) {
    const QListWidgetItem* item = view_.item(row);
    EXPECT_EQ(TFileView::ImageIndex(item), row);
    const QColor colour = colours.at(item->text());
    EXPECT_EQ(view_.LargeImages()[static_cast<size_t>(row)].size(), QSize(32, 32));
    EXPECT_EQ(Centre(view_.LargeImages()[static_cast<size_t>(row)]), colour)
        << item->text().toStdString();
    EXPECT_EQ(view_.SmallImages()[static_cast<size_t>(row)].size(), QSize(16, 16));
    EXPECT_EQ(Centre(view_.SmallImages()[static_cast<size_t>(row)]), colour)
        << item->text().toStdString();
    EXPECT_EQ(Centre(item->icon().pixmap(32, 32)), colour);
  }
  // Each icon is drawn on screen in full.
  QFont font = view_.font();
  font.setPointSize(8);
  view_.setFont(font);
  view_.setFixedSize(300, 150);
  view_.show();
  QApplication::processEvents();
  const QImage shown = view_.grab().toImage();
  for (const auto& [name, colour] : colours) {
    int pixels = 0;
    for (int y = 0; y < shown.height(); ++y) {
      for (int x = 0; x < shown.width(); ++x) pixels += shown.pixelColor(x, y) == colour;
    }
    EXPECT_GE(pixels, 32 * 32) << name.toStdString();
  }
  view_.SetViewStyle(TViewStyle::vsSmallIcon);
  EXPECT_EQ(view_.iconSize(), QSize(16, 16));
  EXPECT_EQ(Centre(view_.item(0)->icon().pixmap(16, 16)), colours.at(view_.item(0)->text()));
}

}  // namespace
}  // namespace tarnwick::test
