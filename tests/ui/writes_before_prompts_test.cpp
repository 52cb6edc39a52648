// With each event one action, as in the running program: nothing is said or asked while a change
// of the action is still unwritten, and a change that cannot be written is not shown as made.
#include <gtest/gtest.h>

#include <QDialog>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <fstream>
#include <functional>
#include <optional>
#include <vector>

#include "base/bytes.h"
#include "controls/error_box.h"
#include "machine/win_path.h"
#include "policy/password_store.h"
#include "policy/policy_store.h"
#include "policy/users.h"
#include "registry/creg_file.h"
#include "shell/scripted_prompter.h"
#include "support/policy_test_machine.h"
#include "support/unwritable_dir.h"
#include "ui/main_window.h"

namespace tarnwick {
namespace {

// Events delivered while it lives are actions whose writes are gathered, as in the program.
class EventsAreActions {
 public:
  explicit EventsAreActions(Registry& registry) { App().SetRegistry(&registry); }
  ~EventsAreActions() { App().SetRegistry(nullptr); }
  EventsAreActions(const EventsAreActions&) = delete;
  EventsAreActions& operator=(const EventsAreActions&) = delete;

 private:
  static TarnwickApplication& App() { return *qobject_cast<TarnwickApplication*>(qApp); }
};

// Runs a check whenever a message box is asked for.
class CheckingPrompter : public ScriptedPrompter {
 public:
  QMessageBox::StandardButton Message(QWidget* owner, MessageKind kind, const QString& title,
                                      const QString& text,
                                      QMessageBox::StandardButtons buttons) override {
    if (onMessage) onMessage();
    return ScriptedPrompter::Message(owner, kind, title, text, buttons);
  }
  std::function<void()> onMessage;
};

// The data of a value as the file on disk holds it; empty when absent.
std::optional<std::vector<uint8_t>> DataOnDisk(const std::filesystem::path& file,
                                               std::string_view key, std::string_view name) {
  const std::unique_ptr<RegNode> root = ReadRegistryFile(file);
  const RegNode* node = root.get();
  for (const std::string& part : SplitWindowsPath(key)) {
    if (node == nullptr) break;
    node = node->FindSubkey(part);
  }
  const RegValue* value = node != nullptr ? node->FindValue(name) : nullptr;
  if (value == nullptr) return std::nullopt;
  return value->data;
}

// A DWORD as the file on disk holds it; empty when absent.
std::optional<uint32_t> DwordOnDisk(const std::filesystem::path& file, std::string_view key,
                                    std::string_view name) {
  const auto data = DataOnDisk(file, key, name);
  if (!data || data->size() != 4) return std::nullopt;
  return Get32(*data, 0);
}

std::string TextOnDisk(const std::filesystem::path& file, std::string_view key,
                       std::string_view name) {
  const auto data = DataOnDisk(file, key, name);
  return data ? std::string(data->begin(), data->end()) : std::string();
}

// The started program on a machine with the users Ann and Bob, the switch off.
class WritesBeforePromptsTest : public ::testing::Test {
 protected:
  WritesBeforePromptsTest() {
    {
      AttachedPolicyFile file{machine_.Store()};
      StorePassword(machine_.Store(), "secret");
      TUsers users{machine_.Store()};
      users.AddUser("Ann");
      users.AddUser("Bob");
    }
    prompter_.Queue([](QDialog& dialog) {
      dialog.findChild<QLineEdit*>(QStringLiteral("txtPassword"))
          ->setText(QStringLiteral("secret"));
      return int{QDialog::Accepted};
    });
    window_ = std::make_unique<TfrmMain>(detector_, &machine_.Store());
    window_->FormCreate();
    prompter_.ClearRecords();
  }
  ~WritesBeforePromptsTest() override { window_->close(); }

  template <typename T>
  T* Find(const char* name) {
    return window_->findChild<T*>(QString::fromLatin1(name));
  }
  std::optional<uint32_t> UserProfilesOnDisk() {
    return DwordOnDisk(machine_.SystemDat(), "Network\\Logon", "UserProfiles");
  }

  testing::PolicyMachine machine_;
  CheckingPrompter prompter_;
  PrompterGuard guard_{prompter_};
  TInstanceDetector detector_{machine_.GetMachine()};
  std::unique_ptr<TfrmMain> window_;
};

TEST_F(WritesBeforePromptsTest, TheSwitchTellsOfItsChangeOnlyOnceItIsInTheFiles) {
  const EventsAreActions actions(machine_.GetRegistry());
  std::optional<uint32_t> atMessage;
  std::string trayAtMessage;
  prompter_.onMessage = [&] {
    atMessage = UserProfilesOnDisk();
    trayAtMessage = TextOnDisk(
        machine_.PolicyFile(),
        "Computers\\.default\\Software\\Microsoft\\Windows\\CurrentVersion\\Run", "TWTray");
  };
  QTest::mouseClick(Find<QLabel>("imgOnOff"), Qt::LeftButton);
  EXPECT_EQ(atMessage, 1u);
  EXPECT_EQ(trayAtMessage, "C:\\TARNEX\\TWTray.exe");
  QTest::mouseClick(Find<QLabel>("imgOnOff"), Qt::LeftButton);
  EXPECT_EQ(atMessage, 0u);
  ASSERT_EQ(prompter_.Records().size(), 2u);
  EXPECT_EQ(prompter_.Records()[1].kind, MessageKind::Information);
}

TEST_F(WritesBeforePromptsTest, ASwitchThatCannotBeWrittenKeepsItsLookAndShowsTheError) {
  auto* frame = Find<QFrame>("bevelOnOff");
  auto* image = Find<QLabel>("imgOnOff");
  const QPoint place = image->pos();
  {
    const EventsAreActions actions(machine_.GetRegistry());
    const testing::UnwritableDir windows(machine_.Host("C:\\WINDOWS"));
    QTest::mouseClick(image, Qt::LeftButton);
  }
  EXPECT_EQ(frame->frameShadow(), QFrame::Sunken);
  EXPECT_EQ(image->pos(), place);
  EXPECT_EQ(Find<QLabel>("lblOnOff")->text(),
            "Windows 95 will NOT start up with Tarnwick restrictions");
  ASSERT_EQ(prompter_.Records().size(), 1u);
  EXPECT_EQ(prompter_.Records()[0].kind, MessageKind::Error);
  EXPECT_TRUE(prompter_.Records()[0].text.contains("SYSTEM.DA"))
      << prompter_.Records()[0].text.toStdString();
  EXPECT_EQ(UserProfilesOnDisk(), std::nullopt);
}

TEST_F(WritesBeforePromptsTest, ANewIconIsInThePolicyFileBeforeTheBoxThatRefusesItsPicture) {
  std::ofstream(machine_.Host("C:\\TARNEX\\UserIcon\\Plain.ico"), std::ios::binary) << "text";
  const EventsAreActions actions(machine_.GetRegistry());
  std::string atMessage;
  prompter_.onMessage = [&] {
    atMessage =
        TextOnDisk(machine_.PolicyFile(), "Users\\Ann\\Software\\Family\\Preferences", "UserIcon");
  };
  prompter_.Queue(std::optional<std::string>("C:\\TARNEX\\UserIcon\\Plain.ico"));
  QTest::mouseClick(Find<QLabel>("imgUserIcon"), Qt::LeftButton);
  ASSERT_EQ(prompter_.Records().size(), 2u);
  EXPECT_EQ(prompter_.Records()[1].text,
            "The file C:\\TARNEX\\UserIcon\\Plain.ico is not an icon file.");
  EXPECT_EQ(atMessage, "C:\\TARNEX\\UserIcon\\Plain.ico");
}

TEST_F(WritesBeforePromptsTest, AnIconThatCannotBeWrittenLeavesThePictureAsItWas) {
  {
    const EventsAreActions actions(machine_.GetRegistry());
    const testing::UnwritableDir windows(machine_.Host("C:\\WINDOWS"));
    prompter_.Queue(std::optional<std::string>("C:\\TARNEX\\UserIcon\\Cat.ico"));
    QTest::mouseClick(Find<QLabel>("imgUserIcon"), Qt::LeftButton);
  }
  EXPECT_TRUE(Find<QLabel>("imgUserIcon")->pixmap().isNull());
  ASSERT_EQ(prompter_.Records().size(), 2u);
  EXPECT_EQ(prompter_.Records()[1].kind, MessageKind::Error);
  EXPECT_EQ(
      TextOnDisk(machine_.PolicyFile(), "Users\\Ann\\Software\\Family\\Preferences", "UserIcon"),
      "");
}

// After a write that fails, a message telling of success is not shown; an error box is, and it
// names the failure too, once.
TEST_F(WritesBeforePromptsTest, AFailedWriteStopsAMessageAndJoinsAnErrorBox) {
  const EventsAreActions actions(machine_.GetRegistry());
  const testing::UnwritableDir windows(machine_.Host("C:\\WINDOWS"));
  QObject receiver;
  bool refused = false;
  QMetaObject::invokeMethod(
      &receiver,
      [&] {
        window_->Users()[0].SetNoRun(1);
        try {
          ShowMessage(nullptr, MessageKind::Information, QStringLiteral("Done"));
        } catch (const std::exception&) {
          refused = true;
        }
        window_->Users()[0].SetNoFind(1);
        ShowMessage(nullptr, MessageKind::Error, QStringLiteral("Something else went wrong"));
      },
      Qt::QueuedConnection);
  QCoreApplication::sendPostedEvents(&receiver);
  EXPECT_TRUE(refused);
  ASSERT_EQ(prompter_.Records().size(), 1u);
  const QString text = prompter_.Records()[0].text;
  EXPECT_TRUE(text.startsWith("Something else went wrong\n\n")) << text.toStdString();
  EXPECT_TRUE(text.contains("Tarnex.pol")) << text.toStdString();
}

}  // namespace
}  // namespace tarnwick
