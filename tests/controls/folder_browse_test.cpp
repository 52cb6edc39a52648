#include "controls/folder_browse.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>

#include "shell/scripted_prompter.h"
#include "support/test_machine.h"

namespace tarnwick::test {
namespace {

QStringList ChildTexts(const QTreeWidgetItem* node) {
  QStringList texts;
  for (int i = 0; i < node->childCount(); ++i) texts << node->child(i)->text(0);
  return texts;
}

class FolderBrowseTest : public ::testing::Test {
 protected:
  FolderBrowseTest() {
    machine_.MakeDir("c/WINDOWS/Desktop");
    machine_.MakeDir("c/WINDOWS/Start Menu/Programs");
    machine_.MakeDir("c/Program Files");
    machine_.Write("c/WINDOWS/WIN.INI", "");
  }

  test::TestMachine machine_{
      "[Drive A]\nType=removable\n"
      "[Drive C]\nType=fixed\nPath=c\nLabel=SYSTEM\n"
      "[Drive D]\nType=cdrom\n"};
};

TEST_F(FolderBrowseTest, DrivesRootStartsAtMyComputer) {
  FolderPickerRequest request;
  request.title = "Select a Desktop for Anna";
  request.flags = kReturnOnlyFsDirs;
  FolderBrowseDialog dialog(machine_.Get(), request);
  EXPECT_EQ(dialog.windowTitle(), "Browse for Folder");
  EXPECT_NE(dialog.findChild<QLabel*>(), nullptr);
  ASSERT_EQ(dialog.Tree()->topLevelItemCount(), 1);
  QTreeWidgetItem* computer = dialog.Tree()->topLevelItem(0);
  EXPECT_EQ(computer->text(0), "My Computer");
  EXPECT_EQ(ChildTexts(computer),
            QStringList({QString::fromUtf8("3½ Floppy (A:)"), "System (C:)", "(D:)"}));
  // My Computer and drives without medium hold no folder of the file system.
  EXPECT_FALSE(dialog.OkButton()->isEnabled());
  dialog.Tree()->setCurrentItem(computer->child(2));
  EXPECT_FALSE(dialog.OkButton()->isEnabled());
  QTreeWidgetItem* c = computer->child(1);
  c->setExpanded(true);
  EXPECT_EQ(ChildTexts(c), QStringList({"Program Files", "TARNEX", "WINDOWS"}));
  QTreeWidgetItem* windows = c->child(2);
  windows->setExpanded(true);
  EXPECT_EQ(ChildTexts(windows), QStringList({"Desktop", "Start Menu"}));  // no files
}

TEST_F(FolderBrowseTest, OkReturnsTheWindowsPathOfTheChosenFolder) {
  FolderPickerRequest request;
  request.flags = kReturnOnlyFsDirs;
  FolderBrowseDialog dialog(machine_.Get(), request);
  ASSERT_TRUE(dialog.SelectPath("c:\\windows\\desktop"));
  EXPECT_TRUE(dialog.OkButton()->isEnabled());
  dialog.OkButton()->click();
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  EXPECT_EQ(dialog.Result(), "C:\\WINDOWS\\Desktop");

  FolderBrowseDialog root(machine_.Get(), request);
  ASSERT_TRUE(root.SelectPath("C:\\"));
  root.OkButton()->click();
  EXPECT_EQ(root.Result(), "C:\\");
}

TEST_F(FolderBrowseTest, RequestedDirectoryIsSelectedAtFirst) {
  FolderPickerRequest request;
  request.directory = "C:\\WINDOWS\\Start Menu";
  FolderBrowseDialog dialog(machine_.Get(), request);
  ASSERT_NE(dialog.Tree()->currentItem(), nullptr);
  EXPECT_EQ(dialog.Tree()->currentItem()->text(0), "Start Menu");
}

TEST_F(FolderBrowseTest, CancelReturnsNothing) {
  FolderBrowseDialog dialog(machine_.Get(), {});
  ASSERT_TRUE(dialog.SelectPath("C:\\WINDOWS"));
  dialog.reject();
  EXPECT_EQ(dialog.result(), QDialog::Rejected);
  EXPECT_FALSE(dialog.Result().has_value());
}

TEST_F(FolderBrowseTest, WithoutFileSystemFlagMyComputerGivesItsName) {
  FolderBrowseDialog dialog(machine_.Get(), {});
  EXPECT_TRUE(dialog.OkButton()->isEnabled());
  dialog.OkButton()->click();
  EXPECT_EQ(dialog.Result(), "My Computer");
}

TEST_F(FolderBrowseTest, SpecialFolderRootStartsThere) {
  FolderPickerRequest request;
  request.root = "C:\\WINDOWS\\Start Menu";
  FolderBrowseDialog dialog(machine_.Get(), request);
  ASSERT_EQ(dialog.Tree()->topLevelItemCount(), 1);
  EXPECT_EQ(dialog.Tree()->topLevelItem(0)->text(0), "Start Menu");
  EXPECT_EQ(ChildTexts(dialog.Tree()->topLevelItem(0)), QStringList("Programs"));
  EXPECT_FALSE(dialog.SelectPath("C:\\WINDOWS\\Desktop"));
}

TEST_F(FolderBrowseTest, NewFolderIsMadeInTheSelectedFolder) {
  ScriptedPrompter prompter;
  PrompterGuard guard(prompter);
  FolderPickerRequest request;
  request.newFolderButton = true;
  request.flags = kReturnOnlyFsDirs;
  FolderBrowseDialog dialog(machine_.Get(), request);
  ASSERT_TRUE(dialog.SelectPath("C:\\Program Files"));
  QPushButton* newFolder = nullptr;
  for (QPushButton* button : dialog.findChildren<QPushButton*>()) {
    if (button->text() == "&New Folder") newFolder = button;
  }
  ASSERT_NE(newFolder, nullptr);
  QTreeWidgetItem* programFiles = dialog.Tree()->currentItem();
  newFolder->click();
  newFolder->click();
  EXPECT_TRUE(std::filesystem::is_directory(machine_.Host("c/Program Files/New Folder")));
  EXPECT_TRUE(
      std::filesystem::is_directory(machine_.Host("c/Program Files/New Folder/New Folder")));
  EXPECT_EQ(ChildTexts(programFiles), QStringList("New Folder"));
  EXPECT_EQ(ChildTexts(programFiles->child(0)), QStringList("New Folder"));
  dialog.OkButton()->click();
  EXPECT_EQ(dialog.Result(), "C:\\Program Files\\New Folder\\New Folder");

  // In a folder already read, a name taken in another letter case is not used again.
  machine_.MakeDir("c/WINDOWS/new folder (2)");
  FolderBrowseDialog windows(machine_.Get(), request);
  ASSERT_TRUE(windows.SelectPath("C:\\WINDOWS"));
  QTreeWidgetItem* folder = windows.Tree()->currentItem();
  folder->setExpanded(true);
  machine_.MakeDir("c/WINDOWS/NEW FOLDER");
  for (QPushButton* button : windows.findChildren<QPushButton*>()) {
    if (button->text() == "&New Folder") button->click();
  }
  EXPECT_TRUE(std::filesystem::is_directory(machine_.Host("c/WINDOWS/New Folder (3)")));
  EXPECT_EQ(ChildTexts(folder),
            QStringList({"Desktop", "new folder (2)", "Start Menu", "New Folder (3)"}));
}

TEST_F(FolderBrowseTest, EnterTakesTheFolderAndEscapeCancels) {
  FolderPickerRequest request;
  request.flags = kReturnOnlyFsDirs;
  const auto press = [](QWidget* widget, Qt::Key key) {
    QKeyEvent event(QEvent::KeyPress, key, Qt::NoModifier);
    QApplication::sendEvent(widget, &event);
  };
  FolderBrowseDialog dialog(machine_.Get(), request);
  dialog.show();
  dialog.activateWindow();
  QApplication::processEvents();
  EXPECT_EQ(QApplication::focusWidget(), dialog.Tree());
  EXPECT_TRUE(dialog.OkButton()->isDefault());
  ASSERT_TRUE(dialog.SelectPath("C:\\WINDOWS"));
  press(dialog.Tree(), Qt::Key_Return);
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  EXPECT_EQ(dialog.Result(), "C:\\WINDOWS");

  FolderBrowseDialog cancelled(machine_.Get(), request);
  cancelled.show();
  ASSERT_TRUE(cancelled.SelectPath("C:\\WINDOWS"));
  press(cancelled.Tree(), Qt::Key_Escape);
  EXPECT_EQ(cancelled.result(), QDialog::Rejected);
  EXPECT_FALSE(cancelled.Result().has_value());
}

}  // namespace
}  // namespace tarnwick::test
