#include "shell/file_operations.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QProgressDialog>
#include <QThread>
#include <QTimer>
#include <functional>
#include <iterator>
#include <utility>

#include "formats/recycle_bin.h"
#include "shell/scripted_prompter.h"
#include "shell/tree_copy.h"
#include "support/test_machine.h"

namespace fs = std::filesystem;

namespace tarnwick::test {
namespace {

std::string ReadText(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class FileOperationsTest : public ::testing::Test {
 protected:
  FileOperationsTest()
      : machine_(
            "[Drive A]\nType=removable\nPath=a\n[Drive C]\nType=fixed\nPath=c\nLabel=SYSTEM\n"
            "[Drive D]\nType=cdrom\nPath=d\n"),
        guard_(prompter_) {}

  const Machine& machine() { return machine_.Get(); }
  void Write(const std::string& relative, const std::string& text) {
    machine_.Write(relative, text);
  }
  fs::path Host(const std::string& relative) const { return machine_.Host(relative); }
  std::string Read(const std::string& relative) const { return ReadText(Host(relative)); }

  // The texts of the prompts shown so far, each prefixed by its kind.
  std::vector<std::string> Shown() const {
    std::vector<std::string> texts;
    for (const PromptRecord& record : prompter_.Records()) {
      const char* kind = record.type == PromptRecord::Type::Replace ? "replace: "
                         : record.kind == MessageKind::Warning      ? "warning: "
                         : record.kind == MessageKind::Error        ? "error: "
                                                                    : "other: ";
      texts.push_back(kind + record.text.toStdString());
    }
    return texts;
  }

  ScriptedPrompter prompter_;

 private:
  test::TestMachine machine_;
  PrompterGuard guard_;
};

using Texts = std::vector<std::string>;

TEST_F(FileOperationsTest, MakeDirectoryCreatesOneLevelAndNeverComplains) {
  MakeDirectory(machine(), "C:\\New\\");
  EXPECT_TRUE(fs::is_directory(Host("c/New")));
  MakeDirectory(machine(), "C:\\NEW");
  MakeDirectory(machine(), "C:\\Missing\\Child");
  MakeDirectory(machine(), "C:\\..\\Outside");
  MakeDirectory(machine(), "Q:\\NoDrive");
  MakeDirectory(machine(), "");
  EXPECT_FALSE(fs::exists(Host("c/Missing")));
  EXPECT_FALSE(fs::exists(Host("Outside")));
  EXPECT_TRUE(prompter_.Records().empty());
}

TEST_F(FileOperationsTest, CopyChecksItsArgumentsFirst) {
  Write("c/A/file.txt", "a");
  Write("c/A.txt", "not a folder");

  EXPECT_EQ(CopyDirectoryTree(machine(), " \t\r\n", "C:\\B", nullptr), kFileOpNotStarted);
  EXPECT_EQ(CopyDirectoryTree(machine(), "C:\\A", "", nullptr), kFileOpNotStarted);
  EXPECT_EQ(CopyDirectoryTree(machine(), "C:\\A", "\\", nullptr), kFileOpNotStarted);
  EXPECT_TRUE(prompter_.Records().empty());

  CopyDirectoryTree(machine(), " C:\\Missing\\ ", "C:\\B", nullptr);
  CopyDirectoryTree(machine(), "C:\\A.txt", "C:\\B", nullptr);
  CopyDirectoryTree(machine(), "C:\\A", "C:\\No\\Such", nullptr);
  CopyDirectoryTree(machine(), "C:\\A", "C:\\A.txt", nullptr);
  CopyDirectoryTree(machine(), "C:\\A\\", "C:\\A", nullptr);
  EXPECT_EQ(Shown(), (Texts{"warning: Source Directory - C:\\Missing - not found.",
                            "warning: Source Directory - C:\\A.txt - not found.",
                            "warning: Destination Directory not found.",
                            "warning: Destination Directory not found.",
                            "warning: Can not overwrite source files."}));
  EXPECT_FALSE(fs::exists(Host("c/B")));
  EXPECT_FALSE(fs::exists(Host("c/No")));
}

TEST_F(FileOperationsTest, CopyMergesFoldersAndAsksBeforeReplacing) {
  Write("c/A/one.txt", "new one");
  Write("c/A/Sub/three.txt", "new three");
  Write("c/A/Sub/Deep/four.txt", "four");
  Write("c/A/two.txt", "two");
  fs::create_directories(Host("c/A/Empty"));
  Write("c/B/one.txt", "old one");
  Write("c/B/SUB/THREE.TXT", "old three");
  Write("c/B/SUB/kept.txt", "kept");

  prompter_.Queue(ReplaceAnswer::YesToAll);  // one.txt
  prompter_.Queue(ReplaceAnswer::Yes);       // the folder Sub
  EXPECT_EQ(CopyDirectoryTree(machine(), "  C:\\A\\", "c:\\b\\", nullptr), kFileOpSuccess);

  const Texts prompts = Shown();
  ASSERT_EQ(prompts.size(), 2u);
  EXPECT_TRUE(
      prompts[0].starts_with("replace: This folder already contains a file named "
                             "'one.txt'."))
      << prompts[0];
  EXPECT_TRUE(
      prompts[1].starts_with("replace: This folder already contains a folder named "
                             "'SUB'."))
      << prompts[1];
  EXPECT_EQ(Read("c/B/one.txt"), "new one");
  EXPECT_EQ(Read("c/B/SUB/THREE.TXT"), "new three");
  EXPECT_FALSE(fs::exists(Host("c/B/SUB/three.txt")));
  EXPECT_EQ(Read("c/B/SUB/kept.txt"), "kept");
  EXPECT_EQ(Read("c/B/SUB/Deep/four.txt"), "four");
  EXPECT_EQ(Read("c/B/two.txt"), "two");
  EXPECT_TRUE(fs::is_directory(Host("c/B/Empty")));
  EXPECT_EQ(fs::last_write_time(Host("c/B/two.txt")), fs::last_write_time(Host("c/A/two.txt")));
}

// A prompter whose replace question fails, as a dialog that cannot be shown would.
class FailingReplacePrompter : public ScriptedPrompter {
 public:
  ReplaceAnswer AskReplace(QWidget*, const QString&) override {
    throw std::runtime_error("no replace question for caf\xc3\xa9");
  }
};

TEST(FileOperations, AFailureInsideTheCopyIsShown) {
  test::TestMachine machine("[Drive C]\nType=fixed\nPath=c\n");
  machine.Write("c/A/one.txt", "new");
  machine.Write("c/B/one.txt", "old");
  FailingReplacePrompter prompter;
  PrompterGuard guard(prompter);
  EXPECT_EQ(CopyDirectoryTree(machine.Get(), "C:\\A", "C:\\B", nullptr), kFileOpFailed);
  ASSERT_EQ(prompter.Records().size(), 1u);
  EXPECT_EQ(prompter.Records()[0].kind, MessageKind::Error);
  EXPECT_EQ(prompter.Records()[0].text, QString::fromUtf8("no replace question for café"));
}

TEST_F(FileOperationsTest, CopyStopsAtCancelAndSkipsOnNo) {
  for (const char* name : {"a.txt", "b.txt", "c.txt", "d.txt", "e.txt"}) {
    Write(std::string("c/A/") + name, std::string("new ") + name);
  }
  for (const char* name : {"b.txt", "c.txt", "d.txt"}) {
    Write(std::string("c/B/") + name, std::string("old ") + name);
  }
  prompter_.Queue(ReplaceAnswer::Yes);
  prompter_.Queue(ReplaceAnswer::No);
  prompter_.Queue(ReplaceAnswer::Cancel);
  EXPECT_EQ(CopyDirectoryTree(machine(), "C:\\A", "C:\\B", nullptr), kFileOpCancelled);
  EXPECT_EQ(prompter_.Records().size(), 3u);
  EXPECT_EQ(Read("c/B/a.txt"), "new a.txt");
  EXPECT_EQ(Read("c/B/b.txt"), "new b.txt");
  EXPECT_EQ(Read("c/B/c.txt"), "old c.txt");
  EXPECT_EQ(Read("c/B/d.txt"), "old d.txt");
  EXPECT_FALSE(fs::exists(Host("c/B/e.txt")));
}

TEST_F(FileOperationsTest, CopyNeverCopiesADirectoryOntoItselfOrIntoItself) {
  Write("c/A/file.txt", "keep me");
  Write("c/A/Sub/inner.txt", "inner");
  EXPECT_EQ(CopyDirectoryTree(machine(), "C:\\A", "c:\\a", nullptr), kFileOpSameFile);
  EXPECT_EQ(Read("c/A/file.txt"), "keep me");

  EXPECT_EQ(CopyDirectoryTree(machine(), "C:\\A", "C:\\A\\Sub\\Copy", nullptr),
            kFileOpDestinationInSource);
  EXPECT_FALSE(fs::exists(Host("c/A/Sub/Copy/Sub")));
  EXPECT_EQ(Shown(), (Texts{"error: Cannot copy file.txt: The source and destination file "
                            "names are the same.",
                            "error: Cannot copy Sub: The destination folder is a subfolder of "
                            "the source folder."}));

  fs::create_directories(Host("c/Empty"));
  EXPECT_EQ(CopyDirectoryTree(machine(), "C:\\Empty", "c:\\EMPTY", nullptr), kFileOpSuccess);
  EXPECT_EQ(CopyDirectoryTree(machine(), "C:\\Empty", "C:\\Fresh", nullptr), kFileOpSuccess);
  EXPECT_TRUE(fs::is_directory(Host("c/Fresh")));
}

TEST_F(FileOperationsTest, CopyReplacesSymbolicLinksInsteadOfWritingThroughThem) {
  Write("outside.txt", "outside the drive");
  Write("c/A/file.txt", "new");
  fs::create_directories(Host("c/B"));
  fs::create_symlink(Host("outside.txt"), Host("c/B/file.txt"));
  fs::create_symlink(Host("nowhere.txt"), Host("c/B/FILE2.TXT"));
  Write("c/A/file2.txt", "two");
  prompter_.Queue(ReplaceAnswer::YesToAll);
  EXPECT_EQ(CopyDirectoryTree(machine(), "C:\\A", "C:\\B", nullptr), kFileOpSuccess);
  EXPECT_EQ(Read("outside.txt"), "outside the drive");
  EXPECT_FALSE(fs::exists(Host("nowhere.txt")));
  EXPECT_FALSE(fs::is_symlink(Host("c/B/file.txt")));
  EXPECT_EQ(Read("c/B/file.txt"), "new");
  EXPECT_EQ(Read("c/B/FILE2.TXT"), "two");
}

// Another program puts a link to a folder outside the drive in the destination folder's place
// while the question is open: the copy goes into no folder reached through it.
class SwappingPrompter : public ScriptedPrompter {
 public:
  std::function<void()> swap;
  ReplaceAnswer AskReplace(QWidget* owner, const QString& text) override {
    if (swap) std::exchange(swap, nullptr)();
    return ScriptedPrompter::AskReplace(owner, text);
  }
};

TEST(FileOperations, AFolderSwappedForALinkDuringTheCopyTakesNothing) {
  test::TestMachine machine("[Drive C]\nType=fixed\nPath=c\n");
  machine.Write("c/A/Sub/one.txt", "new");
  machine.Write("c/A/Sub/two.txt", "two");
  machine.Write("c/B/Sub/one.txt", "old");
  fs::create_directories(machine.Host("outside"));
  SwappingPrompter prompter;
  prompter.swap = [&] {
    fs::rename(machine.Host("c/B/Sub"), machine.Host("c/B/Sub.real"));
    fs::create_directory_symlink(machine.Host("outside"), machine.Host("c/B/Sub"));
  };
  prompter.Queue(ReplaceAnswer::Yes);  // the folder Sub
  prompter.Queue(ReplaceAnswer::Yes);  // one.txt
  PrompterGuard guard(prompter);
  EXPECT_EQ(CopyDirectoryTree(machine.Get(), "C:\\A", "C:\\B", nullptr), kFileOpFailed);
  EXPECT_TRUE(fs::is_empty(machine.Host("outside")));
  EXPECT_EQ(ReadText(machine.Host("c/B/Sub.real/one.txt")), "old");
}

TEST_F(FileOperationsTest, CancelInTheProgressWindowLeavesNoPartialFile) {
  Write("c/A/big.bin", std::string(5 << 20, 'x'));
  Write("c/A/small.txt", "small");
  fs::create_directories(Host("c/B"));
  bool shown = false;
  QTimer::singleShot(0, [&] {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
      if (auto* dialog = qobject_cast<QProgressDialog*>(widget); dialog && dialog->isVisible()) {
        shown = true;
        dialog->cancel();
      }
    }
  });
  EXPECT_EQ(TreeCopy(nullptr, 0).Run(Host("c/A"), Host("c/B")), kFileOpCancelled);
  EXPECT_TRUE(shown);
  EXPECT_TRUE(fs::is_empty(Host("c/B")));
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    EXPECT_EQ(qobject_cast<QProgressDialog*>(widget), nullptr);
  }
}

// Answers as a person does, some time after the question appears, and notes whether meanwhile a
// progress window showed that the question does not belong to: one that would cover it.
class SlowPrompter : public ScriptedPrompter {
 public:
  QMessageBox::StandardButton Message(QWidget* owner, MessageKind kind, const QString& title,
                                      const QString& text,
                                      QMessageBox::StandardButtons buttons) override {
    Wait(owner);
    return ScriptedPrompter::Message(owner, kind, title, text, buttons);
  }
  ReplaceAnswer AskReplace(QWidget* owner, const QString& text) override {
    Wait(owner);
    return ScriptedPrompter::AskReplace(owner, text);
  }
  std::vector<bool> ownedByProgress;  // per prompt: the progress window is its owner
  bool covered = false;

 private:
  void Wait(QWidget* owner) {
    ownedByProgress.push_back(qobject_cast<QProgressDialog*>(owner) != nullptr);
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < 300) {
      QApplication::processEvents(QEventLoop::AllEvents, 10);
      for (QWidget* widget : QApplication::topLevelWidgets()) {
        auto* progress = qobject_cast<QProgressDialog*>(widget);
        if (progress != nullptr && progress->isVisible() && progress != owner) covered = true;
      }
      QThread::msleep(10);
    }
  }
};

TEST(TreeCopy, TheProgressWindowNeverCoversAQuestionOrAnError) {
  test::TestMachine machine("[Drive C]\nType=fixed\nPath=c\n");
  SlowPrompter prompter;
  PrompterGuard guard(prompter);
  // Questions before the progress window is due: it stays hidden while they wait.
  for (const char* name : {"one.txt", "two.txt", "zz"}) {
    machine.Write(std::string("c/A/") + name, "new");
  }
  machine.Write("c/B/one.txt", "old");
  machine.Write("c/B/two.txt", "old");
  fs::create_directories(machine.Host("c/B/zz"));
  prompter.Queue(ReplaceAnswer::Yes);
  prompter.Queue(ReplaceAnswer::Yes);
  EXPECT_EQ(TreeCopy(nullptr, 100).Run(machine.Host("c/A"), machine.Host("c/B")), kFileOpFailed);
  EXPECT_FALSE(prompter.covered);
  ASSERT_EQ(prompter.Records().size(), 3u);
  EXPECT_EQ(prompter.Records()[2].kind, MessageKind::Error);
  EXPECT_EQ(ReadText(machine.Host("c/B/two.txt")), "new");
  // The first question waits past the 100 ms: waiting for an answer is no copying time.
  ASSERT_EQ(prompter.ownedByProgress.size(), 3u);
  EXPECT_FALSE(prompter.ownedByProgress[0]);

  // Once the progress window shows, a question belongs to it.
  machine.Write("c/C/a.bin", std::string(3 << 20, 'a'));
  machine.Write("c/C/b.txt", "new");
  machine.Write("c/D/b.txt", "old");
  prompter.ownedByProgress.clear();
  prompter.Queue(ReplaceAnswer::Yes);
  EXPECT_EQ(TreeCopy(nullptr, 0).Run(machine.Host("c/C"), machine.Host("c/D")), kFileOpSuccess);
  EXPECT_FALSE(prompter.covered);
  EXPECT_EQ(prompter.ownedByProgress, std::vector<bool>{true});
  EXPECT_EQ(ReadText(machine.Host("c/D/b.txt")), "new");
}

TEST_F(FileOperationsTest, DeleteChecksItsArgument) {
  Write("c/file.txt", "x");
  EXPECT_EQ(DeleteDirectoryTree(machine(), "", true, nullptr), kFileOpNotStarted);
  EXPECT_TRUE(prompter_.Records().empty());
  DeleteDirectoryTree(machine(), "C:\\file.txt", true, nullptr);
  DeleteDirectoryTree(machine(), "C:\\Missing\\", true, nullptr);
  EXPECT_EQ(DeleteDirectoryTree(machine(), "C:\\", true, nullptr), kFileOpFailed);
  EXPECT_EQ(Shown(), (Texts{"warning: Directory to delete not found.",
                            "warning: Directory to delete not found.",
                            "error: Cannot delete C:\\: It is the root folder of the drive."}));
  EXPECT_TRUE(fs::exists(Host("c/file.txt")));
}

TEST_F(FileOperationsTest, DeleteMovesTheTreeIntoTheRecycleBinWithOrWithoutTheFlag) {
  Write("c/Profiles/Anna/user.dat", "anna");
  Write("c/Profiles/Anna/Desktop/note.txt", "note");
  Write("c/Profiles/Ben/user.dat", "ben");

  EXPECT_EQ(DeleteDirectoryTree(machine(), "c:\\profiles\\ANNA\\", true, nullptr), kFileOpSuccess);
  EXPECT_EQ(DeleteDirectoryTree(machine(), "C:\\Profiles\\Ben", false, nullptr), kFileOpSuccess);
  EXPECT_TRUE(prompter_.Records().empty());
  EXPECT_FALSE(fs::exists(Host("c/Profiles/Anna")));
  EXPECT_FALSE(fs::exists(Host("c/Profiles/Ben")));

  const RecycleIndex index = ReadRecycleIndex(Host("c/RECYCLED/INFO"));
  std::vector<std::string> paths;
  for (const RecycleRecord& record : index.records) paths.push_back(record.path);
  EXPECT_EQ(paths, (std::vector<std::string>{"C:\\Profiles\\Anna\\Desktop\\note.txt",
                                             "C:\\Profiles\\Anna\\user.dat",
                                             "C:\\Profiles\\Ben\\user.dat"}));
  EXPECT_EQ(Read("c/RECYCLED/Dc1.dat"), "anna");
  EXPECT_EQ(Read("c/RECYCLED/Dc2.dat"), "ben");
}

TEST_F(FileOperationsTest, DeleteReportsWhatTheRecycleBinRefusesAndDeletesAtOnceWithoutOne) {
  Write("c/Kept/file.txt", "kept");
  Write("c/RECYCLED/INFO", "damaged");
  EXPECT_EQ(DeleteDirectoryTree(machine(), "C:\\Kept", true, nullptr), kFileOpFailed);
  ASSERT_EQ(prompter_.Records().size(), 1u);
  EXPECT_EQ(prompter_.Records()[0].kind, MessageKind::Error);
  EXPECT_TRUE(prompter_.Records()[0].text.contains("Nothing was deleted."));
  EXPECT_EQ(Read("c/Kept/file.txt"), "kept");

  Write("a/Floppy/file.txt", "floppy");
  EXPECT_EQ(DeleteDirectoryTree(machine(), "A:\\Floppy", true, nullptr), kFileOpSuccess);
  EXPECT_FALSE(fs::exists(Host("a/Floppy")));
  EXPECT_FALSE(fs::exists(Host("a/RECYCLED")));

  // A CD-ROM is read-only.
  Write("d/Setup/setup.exe", "setup");
  EXPECT_EQ(DeleteDirectoryTree(machine(), "D:\\Setup", true, nullptr), kFileOpFailed);
  ASSERT_EQ(prompter_.Records().size(), 2u);
  EXPECT_TRUE(prompter_.Records()[1].text.startsWith("Cannot delete D:\\Setup: Access is denied."));
  EXPECT_EQ(Read("d/Setup/setup.exe"), "setup");
}

TEST_F(FileOperationsTest, DeleteAtOnceKeepsReadOnlyFilesAndNeverFollowsLinks) {
  Write("a/Floppy/sub/file.txt", "floppy");
  Write("a/Floppy/locked.txt", "locked");
  Write("outside/keep.txt", "keep");
  fs::permissions(Host("a/Floppy/locked.txt"), fs::perms::owner_read);
  EXPECT_EQ(DeleteDirectoryTree(machine(), "A:\\Floppy", true, nullptr), kFileOpFailed);
  ASSERT_EQ(prompter_.Records().size(), 1u);
  EXPECT_TRUE(prompter_.Records()[0].text.contains("locked.txt: the file is read-only"))
      << prompter_.Records()[0].text.toStdString();
  EXPECT_EQ(Read("a/Floppy/sub/file.txt"), "floppy");  // nothing was deleted

  fs::permissions(Host("a/Floppy/locked.txt"), fs::perms::owner_write, fs::perm_options::add);
  fs::create_directory_symlink(Host("outside"), Host("a/Floppy/sub/link"));
  EXPECT_EQ(DeleteDirectoryTree(machine(), "A:\\Floppy", true, nullptr), kFileOpSuccess);
  EXPECT_FALSE(fs::exists(fs::symlink_status(Host("a/Floppy"))));
  EXPECT_EQ(Read("outside/keep.txt"), "keep");
}

}  // namespace
}  // namespace tarnwick::test
