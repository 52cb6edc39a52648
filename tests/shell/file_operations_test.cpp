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

#include "shell/scripted_prompter.h"
#include "support/test_machine.h"

namespace fs = std::filesystem;

namespace tarnwick {
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

TEST_F(FileOperationsTest, ChecksThatStopAnOperationAreWarningsAndFailuresErrors) {
  Write("c/A/file.txt", "a");
  Write("c/file.txt", "x");
  CopyDirectoryTree(machine(), " \t\r\n", "C:\\B", nullptr);
  CopyDirectoryTree(machine(), "C:\\A", "", nullptr);
  DeleteDirectoryTree(machine(), "", nullptr);
  EXPECT_TRUE(prompter_.Records().empty());

  CopyDirectoryTree(machine(), " C:\\Missing\\ ", "C:\\B", nullptr);
  CopyDirectoryTree(machine(), "C:\\A", "c:\\a", nullptr);
  DeleteDirectoryTree(machine(), "C:\\file.txt", nullptr);
  DeleteDirectoryTree(machine(), "C:\\", nullptr);
  EXPECT_EQ(Shown(), (Texts{"warning: Source Directory - C:\\Missing - not found.",
                            "error: Cannot copy file.txt: The source and destination file names "
                            "are the same.",
                            "warning: Directory to delete not found.",
                            "error: Cannot delete C:\\: It is the root folder of the drive."}));
  EXPECT_EQ(Read("c/A/file.txt"), "a");
  EXPECT_TRUE(fs::exists(Host("c/file.txt")));
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
  CopyDirectoryTree(machine.Get(), "C:\\A", "C:\\B", nullptr);
  ASSERT_EQ(prompter.Records().size(), 1u);
  EXPECT_EQ(prompter.Records()[0].kind, MessageKind::Error);
  EXPECT_EQ(prompter.Records()[0].text, QString::fromUtf8("no replace question for café"));
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
  CopyDirectoryTree(machine(), "C:\\A", "C:\\B", nullptr, 0);
  EXPECT_TRUE(shown);
  EXPECT_TRUE(prompter_.Records().empty());  // Cancel is no failure
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

TEST(FileOperations, TheProgressWindowNeverCoversAQuestionOrAnError) {
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
  CopyDirectoryTree(machine.Get(), "C:\\A", "C:\\B", nullptr, 100);
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
  CopyDirectoryTree(machine.Get(), "C:\\C", "C:\\D", nullptr, 0);
  EXPECT_FALSE(prompter.covered);
  EXPECT_EQ(prompter.ownedByProgress, std::vector<bool>{true});
  EXPECT_EQ(ReadText(machine.Host("c/D/b.txt")), "new");
}

}  // namespace
}  // namespace tarnwick
