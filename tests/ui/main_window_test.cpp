#include "ui/main_window.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QToolButton>
#include <QTreeWidget>
#include <filesystem>
#include <fstream>
#include <set>

#include "base/bytes.h"
#include "controls/drive_ctl.h"
#include "policy/password_store.h"
#include "policy/policy_store.h"
#include "policy/users.h"
#include "shell/folder_explorer.h"
#include "shell/scripted_prompter.h"
#include "support/policy_test_machine.h"
#include "support/run_program.h"

namespace tarnwick {
namespace {

constexpr std::string_view kExplorer =
    "TARNEX\\Users\\Ann\\Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer";
constexpr std::string_view kSystem =
    "TARNEX\\Users\\Ann\\Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\System";

ScriptedPrompter::DialogScript TypePassword(QString text) {
  return [text](QDialog& dialog) {
    dialog.findChild<QLineEdit*>(QStringLiteral("txtPassword"))->setText(text);
    return int{QDialog::Accepted};
  };
}

// A machine with the password "secret" and the users Ann and Bob, before the program starts.
class MainWindowTest : public ::testing::Test {
 protected:
  MainWindowTest() {
    AttachedPolicyFile file{machine_.Store()};
    StorePassword(machine_.Store(), "secret");
    TUsers users{machine_.Store()};
    users.AddUser("Ann");
    users.AddUser("Bob");
  }
  ~MainWindowTest() override {
    if (window_) window_->close();
  }

  // Before the start: a value of Ann in the policy file.
  void PutDword(std::string_view key, std::string_view name, uint32_t value) {
    AttachedPolicyFile file{machine_.Store()};
    machine_.Put(key, name, kRegDword,
                 {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                  static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)});
  }
  std::optional<uint32_t> Dword(std::string_view key, std::string_view name) {
    std::optional<RegValue> value = machine_.Value(key, name);
    if (!value || value->data.size() != 4) return std::nullopt;
    return Get32(value->data, 0);
  }

  // Starts the program with the password typed; Ann, the first user, is shown.
  void Start() {
    prompter_.Queue(TypePassword(QStringLiteral("secret")));
    window_ = std::make_unique<TfrmMain>(detector_, &machine_.Store());
    window_->FormCreate();
    prompter_.ClearRecords();
  }
  template <typename T>
  T* Find(const char* name) {
    T* widget = window_->findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(widget, nullptr) << name;
    return widget;
  }
  QListWidget* Users() { return Find<QListWidget>("lvUsers"); }
  void Select(const QString& name) {
    Users()->clearSelection();
    Users()->findItems(name, Qt::MatchExactly).front()->setSelected(true);
  }
  // A click on a drive-list row, as the administrator makes it.
  void ClickDrive(char letter) {
    auto* drives = Find<TDriveList>("lstHideDrives");
    for (int row = 0; row < drives->count(); ++row) {
      if (drives->item(row)->text().front().toUpper() == QLatin1Char(letter)) {
        QTest::mouseClick(drives->viewport(), Qt::LeftButton, {},
                          drives->visualItemRect(drives->item(row)).center());
        return;
      }
    }
    ADD_FAILURE() << "no drive " << letter;
  }
  QStringList Messages() const {
    QStringList texts;
    for (const PromptRecord& record : prompter_.Records()) texts << record.text;
    return texts;
  }

  testing::PolicyMachine machine_;
  ScriptedPrompter prompter_;
  PrompterGuard guard_{prompter_};
  TInstanceDetector detector_{machine_.GetMachine()};
  std::unique_ptr<TfrmMain> window_;
};

TEST_F(MainWindowTest, LoadingWritesTickedSwitchesAgainWithTheirCompanions) {
  PutDword(kExplorer, "NoSetFolders", 1);
  PutDword("TARNEX\\Users\\Ann\\Software\\Family\\Preferences", "NoConfigure", 1);
  PutDword(kExplorer, "NoRun", 2);
  Start();
  ASSERT_EQ(window_->CurrentUser()->Name(), "Ann");
  EXPECT_TRUE(Find<QCheckBox>("chkNoSettings")->isChecked());
  EXPECT_EQ(Dword(kExplorer, "NoSetTaskbar"), 1u);
  EXPECT_TRUE(Find<QCheckBox>("chkNoConfigure")->isChecked());
  for (const char* name : {"NoDispSettingsPage", "NoDevMgrPage", "NoFileSysPage", "NoVirtMemPage",
                           "NoProfilePage", "NoAdminPage"}) {
    EXPECT_EQ(Dword(kSystem, name), 1u) << name;
  }
  EXPECT_EQ(Dword(kExplorer, "NoAddPrinter"), 1u);
  // A stored 2 is not on; the switch stays unticked and the value as it was.
  EXPECT_FALSE(Find<QCheckBox>("chkNoRun")->isChecked());
  EXPECT_EQ(Dword(kExplorer, "NoRun"), 2u);

  // Clearing unticks every switch and writes nothing.
  window_->RefreshUserList();
  EXPECT_EQ(window_->CurrentUser(), nullptr);
  EXPECT_FALSE(Find<QCheckBox>("chkNoSettings")->isChecked());
  EXPECT_EQ(Dword(kExplorer, "NoSetFolders"), 1u);
  EXPECT_EQ(Dword(kExplorer, "NoSetTaskbar"), 1u);
  // With nobody selected a click changes the tick only.
  Find<QCheckBox>("chkNoFind")->click();
  EXPECT_EQ(Dword(kExplorer, "NoFind"), std::nullopt);
}

TEST_F(MainWindowTest, SwitchesWriteZeroOrOneWithTheirCompanions) {
  Start();
  Find<QCheckBox>("chkNoSettings")->click();
  EXPECT_EQ(Dword(kExplorer, "NoSetFolders"), 1u);
  EXPECT_EQ(Dword(kExplorer, "NoSetTaskbar"), 1u);
  Find<QCheckBox>("chkNoSettings")->click();
  EXPECT_EQ(Dword(kExplorer, "NoSetFolders"), 0u);
  EXPECT_EQ(Dword(kExplorer, "NoSetTaskbar"), 0u);
  Find<QCheckBox>("chkNoConfigure")->click();
  EXPECT_EQ(Dword(kSystem, "NoVirtMemPage"), 1u);
  EXPECT_EQ(Dword(kExplorer, "NoDeletePrinter"), 1u);
}

TEST_F(MainWindowTest, HiddenDrivesShowTheMaskAndTheNextClickDropsAbsentDrives) {
  PutDword(kExplorer, "NoDrives", 5);
  Start();
  auto* drives = Find<TDriveList>("lstHideDrives");
  QStringList selected;
  for (QListWidgetItem* item : drives->selectedItems()) selected << item->text().left(1).toUpper();
  selected.sort();
  EXPECT_EQ(selected, QStringList({"A", "C"}));
  ClickDrive('A');
  EXPECT_EQ(Dword(kExplorer, "NoDrives"), 4u);
  ClickDrive('C');
  EXPECT_EQ(Dword(kExplorer, "NoDrives"), 0u);

  // Every bit set, those of missing drives and bits 26 to 31 included (demo drives: A, C, D).
  machine_.Put(kExplorer, "NoDrives", kRegDword, {0xFF, 0xFF, 0xFF, 0xFF});
  Select(QStringLiteral("Bob"));
  Select(QStringLiteral("Ann"));
  EXPECT_EQ(drives->selectedItems().size(), drives->count());
  ClickDrive('D');
  EXPECT_EQ(Dword(kExplorer, "NoDrives"), 1u + 4u);
}

TEST_F(MainWindowTest, DraggingOverTheDrivesWritesWhatTheListShows) {
  Start();
  Find<QTabWidget>("PageControl1")->setCurrentWidget(Find<QWidget>("TabSheet5"));
  auto* drives = Find<TDriveList>("lstHideDrives");
  const auto at = [drives](char letter) {
    for (int row = 0; row < drives->count(); ++row) {
      if (drives->item(row)->text().front().toUpper() == QLatin1Char(letter)) {
        return drives->visualItemRect(drives->item(row)).center();
      }
    }
    ADD_FAILURE() << "no drive " << letter;
    return QPoint();
  };
  // Pressed on a:, dragged over c: to d: (the demo drives are A, C and D).
  QTest::mousePress(drives->viewport(), Qt::LeftButton, {}, at('A'));
  QTest::mouseMove(drives->viewport(), at('C'));
  QTest::mouseMove(drives->viewport(), at('D'));
  QTest::mouseRelease(drives->viewport(), Qt::LeftButton, {}, at('D'));
  EXPECT_EQ(drives->selectedItems().size(), 3);
  EXPECT_EQ(Dword(kExplorer, "NoDrives"), 1u + 4u + 8u);

  // Bob: pressed on a: and released on c:.
  Select(QStringLiteral("Bob"));
  QTest::mousePress(drives->viewport(), Qt::LeftButton, {}, at('A'));
  QTest::mouseMove(drives->viewport(), at('C'));
  QTest::mouseRelease(drives->viewport(), Qt::LeftButton, {}, at('C'));
  EXPECT_EQ(drives->selectedItems().size(), 2);
  std::string bob(kExplorer);
  bob.replace(bob.find("Ann"), 3, "Bob");
  EXPECT_EQ(Dword(bob, "NoDrives"), 1u + 4u);
  EXPECT_EQ(Dword(kExplorer, "NoDrives"), 1u + 4u + 8u);
}

TEST_F(MainWindowTest, AClickBesideTheUsersClearsAndDisablesThePages) {
  Start();
  ASSERT_NE(window_->CurrentUser(), nullptr);
  QListWidget* users = Users();
  QTest::mouseClick(users->viewport(), Qt::LeftButton, {},
                    users->viewport()->rect().bottomRight() - QPoint(5, 5));
  EXPECT_TRUE(users->selectedItems().isEmpty());
  EXPECT_EQ(window_->CurrentUser(), nullptr);
  EXPECT_TRUE(Find<QLabel>("lblSelection")->text().isEmpty());
  auto* noFind = Find<QCheckBox>("chkNoFind");
  EXPECT_FALSE(noFind->isEnabled());
  noFind->click();
  EXPECT_FALSE(noFind->isChecked());
  EXPECT_EQ(Dword(kExplorer, "NoFind"), std::nullopt);
  EXPECT_FALSE(Find<QWidget>("lstHideDrives")->isEnabled());

  // Clicking Ann shows her again, and the pages take edits.
  const QListWidgetItem* ann = users->findItems(QStringLiteral("Ann"), Qt::MatchExactly).front();
  QTest::mouseClick(users->viewport(), Qt::LeftButton, {}, users->visualItemRect(ann).center());
  ASSERT_NE(window_->CurrentUser(), nullptr);
  EXPECT_EQ(window_->CurrentUser()->Name(), "Ann");
  noFind->click();
  EXPECT_EQ(Dword(kExplorer, "NoFind"), 1u);

  // A drag from Ann's icon into empty space leaves the pages showing whom the list selects.
  QTest::mousePress(users->viewport(), Qt::LeftButton, {}, users->visualItemRect(ann).center());
  QTest::mouseMove(users->viewport(), users->viewport()->rect().bottomRight() - QPoint(5, 5));
  QTest::mouseRelease(users->viewport(), Qt::LeftButton, {},
                      users->viewport()->rect().bottomRight() - QPoint(5, 5));
  EXPECT_EQ(users->selectedItems().isEmpty(), window_->CurrentUser() == nullptr);
  EXPECT_EQ(noFind->isEnabled(), window_->CurrentUser() != nullptr);
}

TEST_F(MainWindowTest, RemoveUserRefusesAndAsksBeforeDeletingTheProfileFirst) {
  Start();
  Users()->clearSelection();
  window_->RemoveUser1Click();
  ASSERT_EQ(prompter_.Records().size(), 1u);
  EXPECT_EQ(prompter_.Records()[0].text, "Select a User to Remove");
  EXPECT_EQ(prompter_.Records()[0].title, "Remove User");

  // No to the profile: the user goes, the directory stays.
  Select(QStringLiteral("Bob"));
  const std::string bobProfile = window_->Users().FindUser("Bob")->ProfilePath();
  const std::filesystem::path bobHost = machine_.Host(bobProfile);
  prompter_.ClearRecords();
  prompter_.Queue(QMessageBox::Yes);
  prompter_.Queue(QMessageBox::No);
  window_->RemoveUser1Click();
  EXPECT_EQ(Messages(), QStringList({"Are you sure you want to remove the following user: Bob?",
                                     QStringLiteral("Do you want to remove the user's profile "
                                                    "directory: ") +
                                         QString::fromStdString(bobProfile) +
                                         "?  WARNING: All subdirectories and files in the path "
                                         "will be deleted!"}));
  EXPECT_EQ(window_->Users().Count(), 1u);
  EXPECT_TRUE(std::filesystem::exists(bobHost));
  EXPECT_TRUE(Users()->selectedItems().isEmpty());
  EXPECT_EQ(Users()->count(), 1);

  // The last user is kept before any question.
  Select(QStringLiteral("Ann"));
  prompter_.ClearRecords();
  window_->RemoveUser1Click();
  EXPECT_EQ(Messages(), QStringList({"You Must Keep at Least one User in the List"}));
}

TEST_F(MainWindowTest, RemovingWithYesRecyclesTheProfileDirectory) {
  Start();
  Select(QStringLiteral("Bob"));
  const std::filesystem::path bobHost =
      machine_.Host(window_->Users().FindUser("Bob")->ProfilePath());
  prompter_.Queue(QMessageBox::Yes);
  prompter_.Queue(QMessageBox::Yes);
  window_->RemoveUser1Click();
  EXPECT_FALSE(std::filesystem::exists(bobHost));
  EXPECT_EQ(window_->Users().FindUser("Bob"), nullptr);
  EXPECT_TRUE(std::filesystem::exists(machine_.Host("C:\\RECYCLED\\INFO")));
}

TEST_F(MainWindowTest, ActivationSwitchTurnsOffAndOnAndReturnsToItsPlace) {
  Start();
  auto* image = Find<QLabel>("imgOnOff");
  auto* frame = Find<QFrame>("bevelOnOff");
  const QPoint designed = image->pos();
  ASSERT_EQ(frame->frameShadow(), QFrame::Sunken);  // a new machine starts off

  window_->imgOnOffClick();
  EXPECT_EQ(frame->frameShadow(), QFrame::Raised);
  EXPECT_EQ(image->pos(), designed - QPoint(1, 1));
  EXPECT_EQ(Find<QLabel>("lblOnOff")->text(),
            "Windows 95 will start up with Tarnwick restrictions");
  EXPECT_EQ(ReadActivationState(machine_.Store()), ActivationState::On);
  ASSERT_EQ(prompter_.Records().size(), 1u);
  EXPECT_EQ(prompter_.Records()[0].title, "Tarnwick");
  EXPECT_TRUE(prompter_.Records()[0].text.startsWith(
      "Windows will now start-up with Tarnwick restrictions in effect.  You must restart Windows "
      "for this change to take effect.  \r\n\r\nWindows will prompt you"));

  window_->imgOnOffClick();
  EXPECT_EQ(frame->frameShadow(), QFrame::Sunken);
  EXPECT_EQ(image->pos(), designed);
  EXPECT_EQ(Find<QLabel>("lblOnOff")->text(),
            "Windows 95 will NOT start up with Tarnwick restrictions");
  EXPECT_EQ(ReadActivationState(machine_.Store()), ActivationState::Off);
  EXPECT_TRUE(prompter_.Records()[1].text.endsWith(
      "Windows will continue to prompt you for a password each time Windows is started."));
}

TEST_F(MainWindowTest, ANewIconKeepsTheUserSelectedAndCancelChangesNothing) {
  Start();
  Select(QStringLiteral("Bob"));
  window_->GetUserIcon();  // cancelled
  EXPECT_EQ(window_->CurrentUser()->UserIcon(), "");
  prompter_.Queue(std::optional<std::string>("C:\\TARNEX\\UserIcon\\Cat.ico"));
  window_->GetUserIcon();
  ASSERT_NE(window_->CurrentUser(), nullptr);
  EXPECT_EQ(window_->CurrentUser()->Name(), "Bob");
  EXPECT_EQ(window_->CurrentUser()->UserIcon(), "C:\\TARNEX\\UserIcon\\Cat.ico");
  EXPECT_FALSE(Find<QLabel>("imgUserIcon")->pixmap().isNull());
  EXPECT_EQ(prompter_.Records()[0].type, PromptRecord::Type::File);
}

TEST_F(MainWindowTest, AFailedStartClosesAtTheTimerAndDetachesThePolicyFile) {
  prompter_.Queue(TypePassword(QStringLiteral("wrong")));
  window_ = std::make_unique<TfrmMain>(detector_, &machine_.Store());
  window_->FormCreate();
  EXPECT_TRUE(window_->CloseRequested());
  EXPECT_TRUE(window_->isVisible());
  QTRY_VERIFY_WITH_TIMEOUT(!window_->isVisible(), 3000);
  EXPECT_FALSE(machine_.Store().PolicyLoaded());
}

TEST_F(MainWindowTest, ADamagedPolicyFileIsShownOnceAndLeftAsItWas) {
  {
    std::ofstream out(machine_.PolicyFile(), std::ios::binary | std::ios::trunc);
    out << "not a hive";
  }
  window_ = std::make_unique<TfrmMain>(detector_, &machine_.Store());
  window_->FormCreate();
  EXPECT_TRUE(window_->StartFailed());
  window_->close();
  ASSERT_EQ(prompter_.Records().size(), 1u);
  EXPECT_EQ(prompter_.Records()[0].kind, MessageKind::Error);
  EXPECT_TRUE(prompter_.Records()[0].text.contains("C:\\WINDOWS\\Tarnex.pol"));
  EXPECT_EQ(testing::Slurp(machine_.PolicyFile()), "not a hive");
}

// Ann with the demo machine's Programs folder and three allowed programs, the switch off.
class MainWindowPagesTest : public MainWindowTest {
 protected:
  MainWindowPagesTest() {
    AttachedPolicyFile file{machine_.Store()};
    TUsers users{machine_.Store()};
    TUser& ann = *users.FindUser("Ann");
    ann.SetProgramsFolder(kPrograms);
    for (const char* app : {"tarnex.exe", "TWTRAY.EXE", "tarnex.exe2"}) ann.AddAllowedApp(app);
  }
  void SelectRow(QListWidget* list, const QString& text) {
    list->clearSelection();
    list->findItems(text, Qt::MatchExactly).front()->setSelected(true);
  }
  QTreeWidgetItem* Node(const QString& text) {
    const QList<QTreeWidgetItem*> found =
        Find<QTreeWidget>("fvCustomFolder")->findItems(text, Qt::MatchExactly | Qt::MatchRecursive);
    return found.isEmpty() ? nullptr : found.front();
  }
  void SelectNode(const QString& text) {
    auto* tree = Find<QTreeWidget>("fvCustomFolder");
    tree->clearSelection();
    Node(text)->setSelected(true);
  }
  static constexpr char kPrograms[] = "C:\\WINDOWS\\Start Menu\\Programs";
};

TEST_F(MainWindowPagesTest, TheProgramFilesAreRefusedInAnyCaseAndTheButtonsWorkWhileOff) {
  Start();
  auto* apps = Find<QListWidget>("lstApplications");
  EXPECT_FALSE(apps->isEnabled());
  ASSERT_EQ(apps->count(), 3);
  for (const char* kept : {"TWTRAY.EXE", "tarnex.exe"}) {
    SelectRow(apps, QString::fromLatin1(kept));
    Find<QPushButton>("btnRemoveApplication")->click();
  }
  EXPECT_EQ(Messages(), QStringList(2,
                                    "The Tarnwick application files cannot be removed from "
                                    "the list of allowed applications"));
  prompter_.ClearRecords();
  SelectRow(apps, QStringLiteral("tarnex.exe2"));
  prompter_.Queue(QMessageBox::Yes);
  Find<QPushButton>("btnRemoveApplication")->click();
  EXPECT_EQ(Messages(), QStringList({"Are you sure you want to remove the following application "
                                     "from the user's list of allowed applications: "
                                     "tarnex.exe2?"}));
  EXPECT_EQ(apps->count(), 2);

  // Add Application, browsing for the program and answering Yes to its shortcut.
  prompter_.Queue(ScriptedPrompter::DialogScript([](QDialog&) { return 100; }));
  prompter_.Queue(std::optional<std::string>("C:\\WINDOWS\\NOTEPAD.EXE"));
  prompter_.Queue(QMessageBox::Yes);
  Find<QPushButton>("btnAddApplication")->click();
  EXPECT_TRUE(std::filesystem::exists(machine_.Host(kPrograms) / "NOTEPAD.lnk"));
  EXPECT_FALSE(apps->findItems(QStringLiteral("NOTEPAD.EXE"), Qt::MatchExactly).isEmpty());
  EXPECT_NE(Node(QStringLiteral("NOTEPAD.lnk")), nullptr);

  // A shortcut that cannot be written is reported; the program is allowed all the same.
  std::filesystem::permissions(machine_.Host(kPrograms) / "NOTEPAD.lnk",
                               std::filesystem::perms::owner_read);
  prompter_.ClearRecords();
  prompter_.Queue(ScriptedPrompter::DialogScript([](QDialog&) { return 100; }));
  prompter_.Queue(std::optional<std::string>("C:\\WINDOWS\\NOTEPAD.EXE"));
  prompter_.Queue(QMessageBox::Yes);
  Find<QPushButton>("btnAddApplication")->click();
  EXPECT_EQ(Messages().back(),
            "The shortcut C:\\WINDOWS\\Start Menu\\Programs\\NOTEPAD.lnk to "
            "C:\\WINDOWS\\NOTEPAD.EXE could not be created.");
  EXPECT_EQ(apps->findItems(QStringLiteral("NOTEPAD.EXE"), Qt::MatchExactly).size(), 2);
}

TEST_F(MainWindowPagesTest, FolderCommandsTakeAFileNodesFolderExceptRemoveItem) {
  Start();
  const std::filesystem::path programs = machine_.Host(kPrograms);
  SelectNode(QStringLiteral("MS-DOS Prompt.lnk"));
  prompter_.Queue(std::optional<QString>(QStringLiteral("Games")));
  Find<QPushButton>("btnAddFolder")->click();
  EXPECT_TRUE(std::filesystem::is_directory(programs / "Games"));
  EXPECT_NE(Node(QStringLiteral("Games")), nullptr);
  // The same name in other letter case is an error.
  prompter_.ClearRecords();
  prompter_.Queue(std::optional<QString>(QStringLiteral("gAMES")));
  SelectNode(QStringLiteral("Programs"));
  Find<QPushButton>("btnAddFolder")->click();
  EXPECT_EQ(Messages().back(), "An error occurred creating the new directory");

  // A read-only file stays, as on Windows 95.
  const std::filesystem::path link = programs / "MS-DOS Prompt.lnk";
  std::filesystem::permissions(link, std::filesystem::perms::owner_read);
  SelectNode(QStringLiteral("MS-DOS Prompt.lnk"));
  prompter_.Queue(QMessageBox::Yes);
  Find<QPushButton>("btnRemoveItem")->click();
  const std::string shown = Messages().back().toStdString();
  EXPECT_TRUE(shown.starts_with("Error deleting file ")) << shown;
  EXPECT_TRUE(shown.ends_with("\n\nThe file is read-only.")) << shown;
  EXPECT_TRUE(std::filesystem::exists(link));
  std::filesystem::permissions(link, std::filesystem::perms::owner_write,
                               std::filesystem::perm_options::add);

  // Remove Item deletes the file itself, then the root folder into the Recycle Bin.
  SelectNode(QStringLiteral("MS-DOS Prompt.lnk"));
  prompter_.Queue(QMessageBox::Yes);
  Find<QPushButton>("btnRemoveItem")->click();
  EXPECT_FALSE(std::filesystem::exists(programs / "MS-DOS Prompt.lnk"));
  EXPECT_EQ(Node(QStringLiteral("MS-DOS Prompt.lnk")), nullptr);
  SelectNode(QStringLiteral("Programs"));
  prompter_.Queue(QMessageBox::Yes);
  Find<QPushButton>("btnRemoveItem")->click();
  EXPECT_FALSE(std::filesystem::exists(programs));
  EXPECT_EQ(Find<QTreeWidget>("fvCustomFolder")->topLevelItemCount(), 0);
}

TEST_F(MainWindowPagesTest, AddFolderRefusesWhatWindows95CannotCreate) {
  Start();
  const std::filesystem::path programs = machine_.Host(kPrograms);
  const auto entries = [&] {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(programs)) {
      names.insert(entry.path().filename().string());
    }
    return names;
  };
  const std::set<std::string> before = entries();
  // 31 characters of "C:\WINDOWS\Start Menu\Programs\" and 229 of the name make 260.
  const QString tooLong(229, QLatin1Char('n'));
  for (const QString& name :
       {QStringLiteral("Dots..."), QStringLiteral("Space  "), QStringLiteral("a*b"),
        QStringLiteral("a/b"), QStringLiteral("tab\tin"), QStringLiteral("CON"),
        QStringLiteral("con.txt"), QStringLiteral("Lpt9"), QStringLiteral("Nul .log"), tooLong,
        QString::fromUtf8("\xce\xa9mega")}) {
    SelectNode(QStringLiteral("Programs"));
    prompter_.ClearRecords();
    prompter_.Queue(std::optional<QString>(name));
    Find<QPushButton>("btnAddFolder")->click();
    // The input box, then the refusal.
    ASSERT_EQ(Messages().size(), 2) << name.toStdString();
    EXPECT_TRUE(Messages()[1].startsWith("An error occurred creating the new directory: "))
        << Messages()[1].toStdString();
  }
  EXPECT_TRUE(Messages()[1].contains("code page 1252")) << Messages()[1].toStdString();
  EXPECT_EQ(entries(), before);

  // 259 characters are a path Windows 95 can hold; COM10 is no device.
  for (const QString& name :
       {QString(228, QLatin1Char('n')), QStringLiteral("COM10"), QStringLiteral(".profile")}) {
    SelectNode(QStringLiteral("Programs"));
    prompter_.ClearRecords();
    prompter_.Queue(std::optional<QString>(name));
    Find<QPushButton>("btnAddFolder")->click();
    EXPECT_EQ(Messages().size(), 1) << Messages().join(QLatin1Char('|')).toStdString();
    EXPECT_TRUE(std::filesystem::is_directory(programs / name.toStdString())) << name.toStdString();
  }
}

TEST_F(MainWindowPagesTest, AFolderThatCannotBeRemovedStaysInTheView) {
  const std::filesystem::path programs = machine_.Host(kPrograms);
  // A file whose path is too long for the Recycle Bin keeps the folder from going.
  std::filesystem::create_directories(programs / "Games");
  std::ofstream(programs / "Games" / std::string(240, 'g')) << "game";
  std::ofstream(programs / "Games" / "short.txt") << "short";
  Start();
  SelectNode(QStringLiteral("Games"));
  prompter_.Queue(QMessageBox::Yes);
  Find<QPushButton>("btnRemoveItem")->click();
  ASSERT_EQ(Messages().size(), 2);
  EXPECT_TRUE(Messages()[1].contains("too long")) << Messages()[1].toStdString();
  EXPECT_TRUE(std::filesystem::is_directory(programs / "Games"));
  ASSERT_NE(Node(QStringLiteral("Games")), nullptr);
  EXPECT_NE(Node(QStringLiteral("short.txt")), nullptr);
}

TEST_F(MainWindowTest, CtrlTabPassesOverTheHiddenControlPanelPage) {
  Start();
  auto* pages = Find<QTabWidget>("PageControl1");
  pages->setCurrentWidget(Find<QWidget>("TabSheet5"));
  Find<QWidget>("lstHideDrives")->setFocus();
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab, Qt::ControlModifier);
  EXPECT_EQ(pages->currentWidget()->objectName(), "TabSheet7");
}

TEST_F(MainWindowPagesTest, RecentFolderDisablesTheItemButtonsAndExploreOpensTheHostFolder) {
  struct Recorder : FolderExplorer {
    void Open(const std::filesystem::path& dir) override { opened.push_back(dir); }
    std::vector<std::filesystem::path> opened;
  } recorder;
  FolderExplorer::Install(&recorder);
  Start();
  Find<QToolButton>("btnExploreCustomFolder")->click();
  FolderExplorer::Install(nullptr);
  ASSERT_EQ(recorder.opened.size(), 1u);
  EXPECT_EQ(recorder.opened[0], machine_.Host(kPrograms));

  auto* combo = Find<QComboBox>("comboFolders");
  combo->setCurrentIndex(4);
  emit combo->activated(4);
  for (const char* button : {"btnAddShortcut", "btnAddFolder", "btnRemoveItem"}) {
    EXPECT_FALSE(Find<QPushButton>(button)->isEnabled()) << button;
  }
  EXPECT_TRUE(Find<QToolButton>("btnBrowseDir")->isEnabled());
  combo->setCurrentIndex(0);
  emit combo->activated(0);
  EXPECT_TRUE(Find<QPushButton>("btnRemoveItem")->isEnabled());
}

}  // namespace
}  // namespace tarnwick
