#include "controls/folder_view.h"

#include <gtest/gtest.h>

#include <QImage>
#include <algorithm>

#include "support/test_machine.h"

namespace tarnwick::test {
namespace {

namespace fs = std::filesystem;

QStringList ChildTexts(const QTreeWidgetItem* node) {
  QStringList texts;
  for (int i = 0; i < node->childCount(); ++i) texts << node->child(i)->text(0);
  return texts;
}

QTreeWidgetItem* Child(QTreeWidgetItem* node, const QString& text) {
  for (int i = 0; i < node->childCount(); ++i) {
    if (node->child(i)->text(0) == text) return node->child(i);
  }
  return nullptr;
}

bool HasExpandButton(const QTreeWidgetItem* node) {
  return node->childIndicatorPolicy() == QTreeWidgetItem::ShowIndicator || node->childCount() > 0;
}

class FolderViewTest : public ::testing::Test {
 protected:
  FolderViewTest() {
    machine_.MakeDir("c/WINDOWS/Start Menu/Programs/Accessories");
    machine_.Write("c/WINDOWS/Start Menu/Programs/Accessories/Notepad.lnk", "x");
    machine_.MakeDir("c/WINDOWS/Start Menu/Programs/StartUp");
    machine_.MakeDir("c/WINDOWS/Start Menu/Programs/Hidden only");
    machine_.Write("c/WINDOWS/Start Menu/Programs/Hidden only/.secret", "");
    machine_.Write("c/WINDOWS/Start Menu/Windows Update.lnk", "x");
    machine_.Write("c/WINDOWS/Start Menu/readme.txt", "x");
    view_.SetMachine(machine_.Get());
  }

  test::TestMachine machine_;
  TFolderView view_;
};

TEST_F(FolderViewTest, SubfoldersComeFirstInReverseAndFilesInOrder) {
  for (const char* name : {"B", "A", "Y dir"}) machine_.MakeDir(std::string("c/list/") + name);
  for (const char* name : {"y", "x", "z.txt"}) machine_.Write(std::string("c/list/") + name, "");
  // The file system's own order decides.
  QStringList folders, files;
  for (const auto& entry : fs::directory_iterator(machine_.Host("c/list"))) {
    const QString name = QString::fromStdString(entry.path().filename().string());
    if (entry.is_directory()) {
      folders.prepend(name);
    } else {
      files.append(name);
    }
  }
  view_.SetRootFolder("C:\\list");
  ASSERT_EQ(view_.topLevelItemCount(), 1);
  QTreeWidgetItem* root = view_.topLevelItem(0);
  EXPECT_EQ(root->text(0), "list");
  EXPECT_EQ(ChildTexts(root), folders + files);
  for (int i = 0; i < root->childCount(); ++i) {
    const QTreeWidgetItem* node = root->child(i);
    EXPECT_EQ(TFolderView::IsFolder(node), i < 3) << i;
    EXPECT_EQ(TFolderView::ImageIndex(node) >= TFolderView::kProgramImage, i >= 3) << i;
  }
  EXPECT_TRUE(root->isExpanded());
  EXPECT_EQ(view_.currentItem(), root);
  // The selected root keeps its yellow folder, untinted by the selection.
  EXPECT_EQ(root->icon(0).pixmap(QSize(16, 16), QIcon::Selected).toImage().pixelColor(5, 8),
            QColor(0xFF, 0xFF, 0x00));
}

TEST_F(FolderViewTest, TrailingBackslashMakesNoDifference) {
  view_.SetRootFolder("C:\\WINDOWS\\Start Menu\\");
  EXPECT_EQ(view_.RootFolder(), "C:\\WINDOWS\\Start Menu");
  const QStringList with = ChildTexts(view_.topLevelItem(0));
  view_.SetRootFolder("C:\\WINDOWS\\Start Menu");
  EXPECT_EQ(view_.RootFolder(), "C:\\WINDOWS\\Start Menu");
  EXPECT_EQ(ChildTexts(view_.topLevelItem(0)), with);
  EXPECT_EQ(with.size(), 3);
}

TEST_F(FolderViewTest, RootOfDriveIsStoredWithoutBackslash) {
  view_.SetRootFolder("C:\\");
  EXPECT_EQ(view_.RootFolder(), "C:");
  QTreeWidgetItem* root = view_.topLevelItem(0);
  EXPECT_EQ(root->text(0), "");
  EXPECT_EQ(view_.GetNodePath(root), "C:");
  QTreeWidgetItem* windows = Child(root, "WINDOWS");
  ASSERT_NE(windows, nullptr);
  EXPECT_EQ(view_.GetNodePath(windows), "C:\\WINDOWS");
}

TEST_F(FolderViewTest, MissingRootLeavesViewEmptyAndRootFolderUnchanged) {
  view_.SetRootFolder("C:\\WINDOWS");
  view_.SetRootFolder("C:\\NOWHERE");
  EXPECT_EQ(view_.topLevelItemCount(), 0);
  EXPECT_EQ(view_.RootFolder(), "C:\\WINDOWS");
  view_.SetRootFolder("A:\\");
  EXPECT_EQ(view_.topLevelItemCount(), 0);
  view_.SetRootFolder("");
  EXPECT_EQ(view_.topLevelItemCount(), 0);
}

TEST_F(FolderViewTest, OnlyFoldersWithEntriesGetExpandButtons) {
  view_.SetRootFolder("C:\\WINDOWS\\Start Menu");
  QTreeWidgetItem* programs = Child(view_.topLevelItem(0), "Programs");
  ASSERT_NE(programs, nullptr);
  EXPECT_TRUE(HasExpandButton(programs));
  EXPECT_EQ(programs->childCount(), 0);  // not read before it expands
  programs->setExpanded(true);
  EXPECT_TRUE(HasExpandButton(Child(programs, "Accessories")));
  EXPECT_TRUE(HasExpandButton(Child(programs, "Hidden only")));
  EXPECT_FALSE(HasExpandButton(Child(programs, "StartUp")));
}

TEST_F(FolderViewTest, FolderIsReadOnceHoweverOftenItExpands) {
  view_.SetRootFolder("C:\\WINDOWS\\Start Menu");
  QTreeWidgetItem* programs = Child(view_.topLevelItem(0), "Programs");
  programs->setExpanded(true);
  const QStringList first = ChildTexts(programs);
  machine_.Write("c/WINDOWS/Start Menu/Programs/New.lnk", "");
  programs->setExpanded(false);
  programs->setExpanded(true);
  programs->setExpanded(false);
  programs->setExpanded(true);
  EXPECT_EQ(ChildTexts(programs), first);
  view_.RefreshNode(programs);
  EXPECT_EQ(ChildTexts(programs), first + QStringList("New.lnk"));
}

TEST_F(FolderViewTest, NodePathsJoinTextsBelowTheRoot) {
  view_.SetRootFolder("c:\\windows\\START MENU");
  EXPECT_EQ(view_.RootFolder(), "c:\\windows\\START MENU");
  QTreeWidgetItem* root = view_.topLevelItem(0);
  EXPECT_EQ(root->text(0), "START MENU");
  EXPECT_EQ(view_.GetNodePath(root), "c:\\windows\\START MENU");
  QTreeWidgetItem* programs = Child(root, "Programs");
  programs->setExpanded(true);
  QTreeWidgetItem* accessories = Child(programs, "Accessories");
  EXPECT_EQ(view_.GetNodePath(accessories), "c:\\windows\\START MENU\\Programs\\Accessories");
  accessories->setExpanded(true);
  EXPECT_EQ(view_.GetNodePath(Child(accessories, "Notepad.lnk")),
            "c:\\windows\\START MENU\\Programs\\Accessories\\Notepad.lnk");
}

TEST_F(FolderViewTest, FilesGetImagesAppendedAfterTheBaseImages) {
  view_.SetRootFolder("C:\\WINDOWS\\Start Menu");
  EXPECT_GE(view_.ImageCount(), 3);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(view_.Image(i).size(), QSize(16, 16));
  QTreeWidgetItem* root = view_.topLevelItem(0);
  std::vector<int> fileImages;
  for (int i = 0; i < root->childCount(); ++i) {
    if (!TFolderView::IsFolder(root->child(i)))
      fileImages.push_back(TFolderView::ImageIndex(root->child(i)));
  }
  ASSERT_EQ(fileImages.size(), 2u);
  for (int image : fileImages) EXPECT_LT(image, view_.ImageCount());
  view_.Clear();
  EXPECT_EQ(view_.topLevelItemCount(), 0);
  EXPECT_EQ(view_.ImageCount(), 3);
}

TEST_F(FolderViewTest, FileIconsAreAppendedOnePerFileNode) {
  QImage image(32, 32, QImage::Format_ARGB32);
  image.fill(QColor(0, 0, 255));
  machine_.MakeDir("c/icons");
  for (const char* name : {"one.ico", "two.ico"}) {
    ASSERT_TRUE(image.save(
        QString::fromStdString(machine_.Host(std::string("c/icons/") + name).string()), "ICO"));
  }
  view_.SetRootFolder("C:\\icons");
  QTreeWidgetItem* root = view_.topLevelItem(0);
  ASSERT_EQ(root->childCount(), 2);
  EXPECT_EQ(TFolderView::ImageIndex(root->child(0)), 3);
  EXPECT_EQ(TFolderView::ImageIndex(root->child(1)), 4);
  EXPECT_EQ(view_.ImageCount(), 5);
  EXPECT_EQ(view_.Image(4).toImage().pixelColor(8, 8), QColor(0, 0, 255));
  view_.SetRootFolder("C:\\icons");
  EXPECT_EQ(view_.ImageCount(), 5);
}

TEST_F(FolderViewTest, NamesOutsideCodePage1252AreLeftOut) {
  machine_.Write("c/odd/caf\xc3\xa9.txt", "");
  machine_.Write("c/odd/\xe2\x82\xac.txt", "");  // the euro sign is in code page 1252
  machine_.Write("c/odd/\xe6\x97\xa5.txt", "");  // a CJK character is not
  machine_.Write("c/odd/only/\xe6\x97\xa5.txt", "");
  view_.SetRootFolder("C:\\odd");
  QStringList texts = ChildTexts(view_.topLevelItem(0));
  texts.sort();
  EXPECT_EQ(texts,
            QStringList({QString::fromUtf8("café.txt"), "only", QString::fromUtf8("€.txt")}));
  // A folder whose entries are all left out has nothing to expand.
  EXPECT_FALSE(HasExpandButton(Child(view_.topLevelItem(0), "only")));
  EXPECT_EQ(view_.GetNodePath(Child(view_.topLevelItem(0), QString::fromUtf8("café.txt"))),
            "C:\\odd\\caf\xe9.txt");
}

}  // namespace
}  // namespace tarnwick::test
