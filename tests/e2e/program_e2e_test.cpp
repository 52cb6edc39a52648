// The built program under a virtual X server, driven by key presses as a person would drive it;
// what it wrote is read back by both independent registry readers.
#include <gtest/gtest.h>

#include <QThread>
#include <filesystem>
#include <string>

#include "base/bytes.h"
#include "base/text.h"
#include "e2e/desktop.h"
#include "support/independent_readers.h"
#include "support/policy_test_machine.h"
#include "support/temp_machine_dir.h"

namespace tarnwick::testing {
namespace {

constexpr char kUserKey[] = "Users\\Alice\\Software\\Microsoft\\Windows\\CurrentVersion\\";

// One value as each reader reports it; both must agree.
class Readers {
 public:
  explicit Readers(const std::filesystem::path& file)
      : creg_(ReadWithCregexport(file)), perl_(ReadWithParseWin32Registry(file)) {}

  bool Ok() const { return creg_.ok() && perl_.ok(); }
  std::string Diagnostics() const { return creg_.diagnostics + perl_.diagnostics; }
  bool HasKey(std::string_view path) const {
    for (const ExportedKey& key : creg_.keys) {
      if (EqualsIgnoreCase(key.path, path)) return true;
    }
    return false;
  }
  // REG_SZ text, without a closing zero; empty optional when absent in either reader.
  std::optional<std::string> Text(std::string_view key, std::string_view name) const {
    const std::optional<std::vector<uint8_t>> data = Data(key, name, kRegSz);
    if (!data) return std::nullopt;
    std::string text(data->begin(), data->end());
    while (!text.empty() && text.back() == '\0') text.pop_back();
    return text;
  }
  std::optional<uint32_t> Dword(std::string_view key, std::string_view name) const {
    const std::optional<std::vector<uint8_t>> data = Data(key, name, kRegDword);
    if (!data || data->size() != 4) return std::nullopt;
    return Get32(*data, 0);
  }
  std::optional<std::vector<uint8_t>> Data(std::string_view key, std::string_view name,
                                           uint32_t type) const {
    const ExportedValue* a = FindExported(creg_, key, name);
    const ExportedValue* b = FindExported(perl_, key, name);
    if (a == nullptr || b == nullptr || a->type != type || !(*a == *b)) return std::nullopt;
    return a->data;
  }

 private:
  ReaderOutput creg_;
  ReaderOutput perl_;
};

class ProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!x_.Running()) GTEST_SKIP() << "no Xvfb";
  }
  std::filesystem::path Windows(const char* file) const {
    return temp_.Path() / "machine" / "c" / "WINDOWS" / file;
  }
  // The password dialog's answers: a password typed and Return on the default OK.
  void EnterPassword(const QString& password) {
    const std::optional<QString> dialog = x_.WaitForWindow(QStringLiteral("Tarnwick Password"));
    ASSERT_TRUE(dialog);
    x_.Type(*dialog, password);
    x_.Keys(*dialog, {QStringLiteral("Return")});
    x_.WaitUntilGone(*dialog);
  }
  // Return on the newest plain message box (titled like the main window, made after it).
  void AcknowledgeMessage() {
    QStringList windows;
    for (int wait = 0; wait < 100 && windows.size() < 2; ++wait) {
      QThread::msleep(100);
      windows = x_.Windows(QStringLiteral("Tarnwick"));
    }
    ASSERT_GE(windows.size(), 2) << "no message box over the main window";
    QThread::msleep(300);
    x_.Keys(windows.back(), {QStringLiteral("Return")});
    EXPECT_TRUE(x_.WaitUntilGone(windows.back()));
  }
  // First start: a new password twice, the notice, and the welcome wizard with the name Alice.
  void FirstStart(ProgramUnderTest& program) {
    EnterPassword(QStringLiteral("Secret1"));
    EnterPassword(QStringLiteral("Secret1"));
    AcknowledgeMessage();
    const std::optional<QString> wizard = x_.WaitForWindow(QStringLiteral("Welcome Wizard"));
    ASSERT_TRUE(wizard) << program.Output().toStdString();
    x_.Keys(*wizard, {QStringLiteral("Return")});  // Next
    x_.Type(*wizard, QStringLiteral("Alice"));
    x_.Keys(*wizard, {QStringLiteral("Return"), QStringLiteral("Return"),  // Next, Next
                      QStringLiteral("Return")});                          // Finish
    EXPECT_TRUE(x_.WaitUntilGone(*wizard, 15s));
  }
  QString MainWindow() {
    const std::optional<QString> window = x_.WaitForWindow(QStringLiteral("Tarnwick"));
    EXPECT_TRUE(window);
    return window.value_or(QString());
  }
  void ExitByMenu() { x_.Keys(MainWindow(), {QStringLiteral("alt+t"), QStringLiteral("x")}); }
  // No end leaves the policy file attached: SYSTEM.DAT holds no key of it.
  void ExpectNoPolicyKeyInSystemDat() {
    const Readers system(Windows("SYSTEM.DAT"));
    ASSERT_TRUE(system.Ok()) << system.Diagnostics();
    EXPECT_FALSE(system.HasKey("TARNEX"));
  }

  XServer x_;
  TempMachineDir temp_;
};

TEST_F(ProgramTest, FirstStartMakesTheAdministratorsAccountAndExitsByTheMenu) {
  ProgramUnderTest program(x_, temp_.Path() / "machine");
  FirstStart(program);
  ExitByMenu();
  const std::optional<int> status = program.WaitForExit();
  ASSERT_EQ(status, 0) << program.Output().toStdString();

  const Readers policy(Windows("Tarnex.pol"));
  ASSERT_TRUE(policy.Ok()) << policy.Diagnostics();
  const std::string folders = std::string(kUserKey) + "Explorer\\User Shell Folders";
  EXPECT_EQ(policy.Text(folders, "Programs"), "C:\\WINDOWS\\Start Menu\\Programs");
  EXPECT_EQ(policy.Text(folders, "Start Menu"), "C:\\WINDOWS\\Start Menu");
  EXPECT_EQ(policy.Text(folders, "Desktop"), "C:\\WINDOWS\\Desktop");
  EXPECT_EQ(policy.Text(folders, "Favorites"), "C:\\WINDOWS\\Favorites");
  EXPECT_EQ(policy.Text(folders, "Recent"), "C:\\WINDOWS\\Recent");
  const std::string explorer = std::string(kUserKey) + "Policies\\Explorer";
  EXPECT_EQ(policy.Text(explorer + "\\RestrictRun", "0"), "tarnex.exe");
  EXPECT_EQ(policy.Text(explorer + "\\RestrictRun", "1"), "twtray.exe");
  for (const char* flag : {"RestrictRun", "NoRun", "NoFind", "NoDesktop", "NoSetFolders",
                           "NoSetTaskbar", "NoAddPrinter", "NoDeletePrinter"}) {
    EXPECT_EQ(policy.Dword(explorer, flag), 0u) << flag;
  }
  const std::string system = std::string(kUserKey) + "Policies\\System";
  for (const char* flag : {"DisableRegistryTools", "NoDispSettingsPage", "NoDevMgrPage",
                           "NoFileSysPage", "NoVirtMemPage", "NoProfilePage", "NoAdminPage"}) {
    EXPECT_EQ(policy.Dword(system, flag), 0u) << flag;
  }
  EXPECT_EQ(policy.Dword(std::string(kUserKey) + "Policies\\Network", "NoNetSetup"), 0u);
  EXPECT_EQ(policy.Dword(std::string(kUserKey) + "Policies\\WinOldApp", "Disabled"), 0u);
  EXPECT_EQ(policy.Dword(std::string(kUserKey) + "Policies\\WinOldApp", "NoRealMode"), 0u);
  EXPECT_EQ(policy.Dword("Users\\Alice\\Software\\Family\\Preferences", "NoConfigure"), 0u);
  EXPECT_EQ(policy.Text("Computers\\.default\\Software\\Microsoft\\Windows\\CurrentVersion\\Run",
                        "TWTray"),
            "C:\\TARNEX\\TWTray.exe");
  // The password is kept scrambled: as many bytes as it has characters, not the text itself.
  const std::optional<std::string> mode = policy.Text("Config", "Mode");
  ASSERT_TRUE(mode);
  EXPECT_EQ(mode->size(), 7u);
  EXPECT_NE(*mode, "Secret1");

  const Readers machine(Windows("SYSTEM.DAT"));
  ASSERT_TRUE(machine.Ok()) << machine.Diagnostics();
  EXPECT_EQ(machine.Text("Network\\Logon", "username"), "Alice");
  EXPECT_EQ(machine.Dword("Network\\Logon", "UserProfiles"), 1u);
  EXPECT_EQ(machine.Text("System\\CurrentControlSet\\control\\Update", "NetworkPath"),
            "C:\\WINDOWS\\Tarnex.pol");
  EXPECT_EQ(machine.Dword("System\\CurrentControlSet\\control\\Update", "UpdateMode"), 2u);
  EXPECT_EQ(machine.Text("Software\\Microsoft\\Windows\\CurrentVersion\\Run", "TWTray"),
            "C:\\TARNEX\\TWTray.exe");
  EXPECT_FALSE(machine.HasKey("TARNEX"));
}

TEST_F(ProgramTest, StartsWithThePasswordInOtherCaseAndEndsAfterThreeWrongOnes) {
  {
    ProgramUnderTest program(x_, temp_.Path() / "machine");
    FirstStart(program);
    ExitByMenu();
    ASSERT_EQ(program.WaitForExit(), 0) << program.Output().toStdString();
  }
  {
    ProgramUnderTest program(x_, temp_.Path() / "machine");
    EnterPassword(QStringLiteral("sECRET1"));
    const QString window = MainWindow();
    EXPECT_TRUE(x_.Windows(QStringLiteral("Tarnwick Password")).isEmpty());
    ExitByMenu();
    ASSERT_EQ(program.WaitForExit(), 0) << program.Output().toStdString();
  }
  {
    ProgramUnderTest program(x_, temp_.Path() / "machine");
    for (int attempt = 0; attempt < 3; ++attempt) {
      EnterPassword(QStringLiteral("Secret2"));
      AcknowledgeMessage();  // "The Password you entered is invalid"
    }
    // The window closes by itself three quarters of a second later.
    ASSERT_EQ(program.WaitForExit(), 0) << program.Output().toStdString();
  }
  ExpectNoPolicyKeyInSystemDat();
}

TEST_F(ProgramTest, ASecondCopyEndsAtOnceAndSigtermSaves) {
  ProgramUnderTest first(x_, temp_.Path() / "machine");
  FirstStart(first);
  const QString window = MainWindow();
  const int windowsBefore = x_.Windows(QStringLiteral("Tarnwick")).size();
  {
    ProgramUnderTest second(x_, temp_.Path() / "machine");
    EXPECT_EQ(second.WaitForExit(5s), 0) << second.Output().toStdString();
  }
  EXPECT_EQ(x_.Windows(QStringLiteral("Tarnwick")).size(), windowsBefore);

  // From the user list Tab reaches the page tabs, Right twice "Win 95 Restrictions", Tab its
  // first switch, and space ticks "Disable 'Run' Command on Start Menu".
  x_.Keys(window, {QStringLiteral("Tab"), QStringLiteral("Right"), QStringLiteral("Right"),
                   QStringLiteral("Tab"), QStringLiteral("space")});
  first.Terminate();
  ASSERT_EQ(first.WaitForExit(), 0) << first.Output().toStdString();
  const Readers policy(Windows("Tarnex.pol"));
  ASSERT_TRUE(policy.Ok()) << policy.Diagnostics();
  EXPECT_EQ(policy.Dword(std::string(kUserKey) + "Policies\\Explorer", "NoRun"), 1u);
  ExpectNoPolicyKeyInSystemDat();
}

}  // namespace
}  // namespace tarnwick::testing
