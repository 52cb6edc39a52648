#include "controls/file_chooser.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

#include "shell/scripted_prompter.h"
#include "support/test_machine.h"

namespace tarnwick::test {
namespace {

QStringList Texts(const QListWidget* list) {
  QStringList texts;
  for (int row = 0; row < list->count(); ++row) texts << list->item(row)->text();
  return texts;
}

TEST(WindowsFilter, SplitsDescriptionsAndPatterns) {
  const auto filters = ParseWindowsFilter(
      "Applications(*.exe,*.com,*.bat,*.pif)|*.exe;*.com;*.bat;*.pif|Icon files(*.ico)|*.ICO");
  ASSERT_EQ(filters.size(), 2u);
  EXPECT_EQ(filters[0].description, "Applications(*.exe,*.com,*.bat,*.pif)");
  EXPECT_EQ(filters[0].patterns, (std::vector<std::string>{"*.exe", "*.com", "*.bat", "*.pif"}));
  EXPECT_EQ(filters[1].patterns, std::vector<std::string>{"*.ICO"});
  EXPECT_TRUE(ParseWindowsFilter("").empty());
  EXPECT_EQ(ParseWindowsFilter("Odd|").size(), 0u);
  EXPECT_EQ(ParseWindowsFilter("All|*.*|Dangling").size(), 1u);
}

TEST(WindowsFilter, WildcardsMatchWithoutRegardToCase) {
  EXPECT_TRUE(MatchesWildcard("happy.ico", "*.ICO"));
  EXPECT_TRUE(MatchesWildcard("SAD.Ico", "*.ico"));
  EXPECT_FALSE(MatchesWildcard("icon.icon", "*.ico"));
  EXPECT_FALSE(MatchesWildcard("ico", "*.ico"));
  EXPECT_TRUE(MatchesWildcard("README", "*.*"));
  EXPECT_TRUE(MatchesWildcard("a.b.c", "*.c"));
  EXPECT_TRUE(MatchesWildcard("FILE1.TXT", "file?.txt"));
  EXPECT_FALSE(MatchesWildcard("FILE10.TXT", "file?.txt"));
  EXPECT_TRUE(MatchesWildcard("abc", "*"));
  EXPECT_TRUE(MatchesWildcard("abcabd", "*abd"));
}

class FileChooserTest : public ::testing::Test {
 protected:
  FileChooserTest() {
    machine_.MakeDir("c/TARNEX/UserIcon");
    machine_.Write("c/TARNEX/UserIcon/Happy.ICO", "x");
    machine_.Write("c/TARNEX/UserIcon/sad.ico", "x");
    machine_.Write("c/TARNEX/UserIcon/notes.txt", "x");
    machine_.MakeDir("c/TARNEX/UserIcon/More");
    machine_.Write("c/TARNEX/TARNEX.EXE", "x");
    machine_.Write("c/TARNEX/setup.bat", "x");
    machine_.Write("c/TARNEX/readme.txt", "x");
    request_.filter = "Icon files(*.ico)|*.ICO|All files|*.*";
    request_.initialFolder = "C:\\TARNEX\\UserIcon";
  }

  test::TestMachine machine_;
  FileChooserRequest request_;
  ScriptedPrompter prompter_;
  PrompterGuard guard_{prompter_};
};

TEST_F(FileChooserTest, ListsFoldersThenMatchingFiles) {
  FileChooserDialog dialog(machine_.Get(), request_);
  EXPECT_EQ(dialog.windowTitle(), "Open");
  EXPECT_EQ(dialog.Folder(), "C:\\TARNEX\\UserIcon");
  EXPECT_EQ(Texts(dialog.Files()), QStringList({"More", "Happy.ICO", "sad.ico"}));
  dialog.FileTypes()->setCurrentIndex(1);
  EXPECT_EQ(Texts(dialog.Files()), QStringList({"More", "Happy.ICO", "notes.txt", "sad.ico"}));
  EXPECT_EQ(dialog.LookIn()->currentText().trimmed(), "UserIcon");
}

TEST_F(FileChooserTest, ApplicationFilterAndProgramFolderByDefault) {
  request_.filter = "Applications(*.exe,*.com,*.bat,*.pif)|*.exe;*.com;*.bat;*.pif";
  request_.initialFolder = "C:\\NOWHERE";
  request_.title = "Browse";
  FileChooserDialog dialog(machine_.Get(), request_);
  EXPECT_EQ(dialog.windowTitle(), "Browse");
  EXPECT_EQ(dialog.Folder(), "C:\\TARNEX");
  EXPECT_EQ(Texts(dialog.Files()), QStringList({"UserIcon", "setup.bat", "TARNEX.EXE"}));
}

TEST_F(FileChooserTest, TypedNameOfAnExistingFileIsTheResult) {
  FileChooserDialog dialog(machine_.Get(), request_);
  dialog.FileName()->setText("happy.ico");
  dialog.OpenButton()->click();
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  EXPECT_EQ(dialog.Result(), "C:\\TARNEX\\UserIcon\\Happy.ICO");
  EXPECT_TRUE(prompter_.Records().empty());
}

TEST_F(FileChooserTest, FullAndDriveRelativePathsAreTaken) {
  FileChooserDialog dialog(machine_.Get(), request_);
  dialog.FileName()->setText("C:\\TARNEX\\setup.bat");
  dialog.OpenButton()->click();
  EXPECT_EQ(dialog.Result(), "C:\\TARNEX\\setup.bat");
  FileChooserDialog relative(machine_.Get(), request_);
  relative.FileName()->setText("\\TARNEX\\readme.txt");
  relative.OpenButton()->click();
  EXPECT_EQ(relative.Result(), "C:\\TARNEX\\readme.txt");
}

TEST_F(FileChooserTest, MissingFileIsRefusedAndTheDialogStays) {
  FileChooserDialog dialog(machine_.Get(), request_);
  dialog.FileName()->setText("gone.ico");
  dialog.OpenButton()->click();
  EXPECT_FALSE(dialog.Result().has_value());
  EXPECT_NE(dialog.result(), QDialog::Accepted);
  ASSERT_EQ(prompter_.Records().size(), 1u);
  EXPECT_EQ(prompter_.Records()[0].text,
            "C:\\TARNEX\\UserIcon\\gone.ico\nFile not found.\nPlease verify the correct filename "
            "was given.");
}

TEST_F(FileChooserTest, TypedFolderOpensItAndTypedWildcardFilters) {
  FileChooserDialog dialog(machine_.Get(), request_);
  dialog.FileName()->setText("..");
  dialog.OpenButton()->click();
  EXPECT_FALSE(dialog.Result().has_value());
  EXPECT_TRUE(dialog.FileName()->text().isEmpty());
  EXPECT_EQ(Texts(dialog.Files()), QStringList("UserIcon"));
  dialog.FileName()->setText("*.TXT");
  dialog.OpenButton()->click();
  EXPECT_EQ(Texts(dialog.Files()), QStringList({"UserIcon", "readme.txt"}));
  EXPECT_FALSE(dialog.Result().has_value());
}

TEST_F(FileChooserTest, DoubleClickOnAFolderOpensItAndOnAFileChoosesIt) {
  FileChooserDialog dialog(machine_.Get(), request_);
  emit dialog.Files()->itemDoubleClicked(dialog.Files()->item(0));
  EXPECT_EQ(dialog.Folder(), "C:\\TARNEX\\UserIcon\\More");
  EXPECT_EQ(dialog.Files()->count(), 0);
  dialog.SetFolder("C:\\TARNEX\\UserIcon\\");
  dialog.Files()->setCurrentRow(2);
  EXPECT_EQ(dialog.FileName()->text(), "sad.ico");
  emit dialog.Files()->itemDoubleClicked(dialog.Files()->item(2));
  EXPECT_EQ(dialog.Result(), "C:\\TARNEX\\UserIcon\\sad.ico");
}

TEST_F(FileChooserTest, KeyboardOpensFoldersAndChoosesFilesFromTheList) {
  request_.fileName = "happy.ico";
  FileChooserDialog dialog(machine_.Get(), request_);
  dialog.show();
  dialog.activateWindow();
  QApplication::processEvents();
  EXPECT_EQ(QApplication::focusWidget(), dialog.FileName());
  EXPECT_TRUE(dialog.OpenButton()->isDefault());
  const auto press = [](QWidget* widget, Qt::Key key) {
    QKeyEvent event(QEvent::KeyPress, key, Qt::NoModifier);
    QApplication::sendEvent(widget, &event);
  };
  // Tab goes round as in the shell's Open dialog; the Up button is no tab stop.
  QPushButton* cancel = nullptr;
  for (QPushButton* button : dialog.findChildren<QPushButton*>()) {
    if (button->text() == "Cancel") cancel = button;
  }
  const std::vector<QWidget*> order = {dialog.FileTypes(), dialog.OpenButton(), cancel,
                                       dialog.LookIn(),    dialog.Files(),      dialog.FileName()};
  for (QWidget* next : order) {
    press(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), next);
  }
  dialog.Files()->setFocus();
  dialog.Files()->setCurrentRow(0);  // the folder More
  press(dialog.Files(), Qt::Key_Return);
  EXPECT_EQ(dialog.Folder(), "C:\\TARNEX\\UserIcon\\More");
  EXPECT_TRUE(dialog.isVisible());
  EXPECT_TRUE(prompter_.Records().empty());
  dialog.SetFolder("C:\\TARNEX\\UserIcon");
  dialog.Files()->setCurrentRow(2);
  press(dialog.Files(), Qt::Key_Return);
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  EXPECT_EQ(dialog.Result(), "C:\\TARNEX\\UserIcon\\sad.ico");

  FileChooserDialog cancelled(machine_.Get(), request_);
  cancelled.show();
  press(&cancelled, Qt::Key_Escape);
  EXPECT_EQ(cancelled.result(), QDialog::Rejected);
  EXPECT_FALSE(cancelled.Result().has_value());
}

TEST_F(FileChooserTest, FolderThatIsNoDirectoryIsRefused) {
  FileChooserDialog dialog(machine_.Get(), request_);
  EXPECT_FALSE(dialog.SetFolder("C:\\TARNEX\\readme.txt"));
  EXPECT_FALSE(dialog.SetFolder("A:\\"));
  EXPECT_EQ(dialog.Folder(), "C:\\TARNEX\\UserIcon");
  EXPECT_TRUE(dialog.SetFolder("c:"));
  EXPECT_EQ(dialog.Folder(), "c:\\");
}

}  // namespace
}  // namespace tarnwick::test
