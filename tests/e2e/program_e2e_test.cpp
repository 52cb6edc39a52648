// The built program under a virtual X server, driven by key presses as a person would drive it;
// what it wrote is read back by both independent registry readers.
#include <gtest/gtest.h>

#include <QByteArray>
#include <QProcess>
#include <QThread>
#include <filesystem>
#include <fstream>
#include <string>

#include "base/bytes.h"
#include "base/text.h"
#include "e2e/desktop.h"
#include "support/independent_readers.h"
#include "support/lnkinfo.h"
#include "support/policy_test_machine.h"
#include "support/run_program.h"
#include "support/temp_machine_dir.h"
#include "support/unwritable_dir.h"

namespace tarnwick::test {
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
    // The window closes by itself three quarters of a second later: a failed start.
    ASSERT_EQ(program.WaitForExit(), 1) << program.Output().toStdString();
  }
  {
    ProgramUnderTest program(x_, temp_.Path() / "machine");
    const std::optional<QString> dialog = x_.WaitForWindow(QStringLiteral("Tarnwick Password"));
    ASSERT_TRUE(dialog);
    x_.Keys(*dialog, {QStringLiteral("Escape")});
    ASSERT_EQ(program.WaitForExit(), 1) << program.Output().toStdString();
  }
  ExpectNoPolicyKeyInSystemDat();
}

// An environment variable set for one scope, and restored after it.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const QByteArray& value)
      : name_(name), had_(qEnvironmentVariableIsSet(name)), old_(qgetenv(name)) {
    qputenv(name, value);
  }
  ~ScopedEnv() {
    if (had_) {
      qputenv(name_, old_);
    } else {
      qunsetenv(name_);
    }
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  const char* name_;
  bool had_;
  QByteArray old_;
};

// Starts the program, cancels its password prompt and returns what it wrote on stderr.
QString StartAndCancel(const XServer& x, const std::filesystem::path& machine) {
  ProgramUnderTest program(x, machine);
  const std::optional<QString> dialog = x.WaitForWindow(QStringLiteral("Tarnwick Password"));
  EXPECT_TRUE(dialog) << program.Output().toStdString();
  if (dialog) x.Keys(*dialog, {QStringLiteral("Escape")});
  EXPECT_TRUE(program.WaitForExit());
  return program.Output();
}

TEST_F(ProgramTest, DrawsInWineMsSansSerifOrSaysItUsesALookAlike) {
  const QString note = QStringLiteral("MS Sans Serif (package fonts-wine) not found");
  if (std::filesystem::exists("/usr/share/wine/fonts/ms_sans_serif.ttf")) {
    EXPECT_FALSE(StartAndCancel(x_, temp_.Path() / "machine").contains(note));
  }
  // With neither Wine's file in the data directories nor the family installed, a note.
  QProcess list;
  list.start(QStringLiteral("fc-list"), {QStringLiteral("MS Sans Serif")});
  list.waitForFinished();
  if (!list.readAllStandardOutput().trimmed().isEmpty()) return;
  const std::filesystem::path empty = temp_.Path() / "no-data";
  std::filesystem::create_directories(empty);
  const ScopedEnv dataDirs("XDG_DATA_DIRS", QByteArray::fromStdString(empty.string()));
  const ScopedEnv dataHome("XDG_DATA_HOME", QByteArray::fromStdString(empty.string()));
  EXPECT_TRUE(StartAndCancel(x_, temp_.Path() / "machine").contains(note));
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

TEST_F(ProgramTest, TheNewUserWizardMakesAnAccountWithItsFoldersAndShortcuts) {
  ProgramUnderTest program(x_, temp_.Path() / "machine");
  FirstStart(program);
  const QString window = MainWindow();
  x_.Keys(window, {QStringLiteral("ctrl+a")});
  const std::optional<QString> wizard = x_.WaitForWindow(QStringLiteral("New User Wizard"));
  ASSERT_TRUE(wizard) << program.Output().toStdString();
  x_.Type(*wizard, QStringLiteral("Kids"));
  // The second icon of the list; drives A and C; the first two restrictions; only listed
  // programs, with Add Program.
  x_.Keys(*wizard, {QStringLiteral("Return"), QStringLiteral("Tab"), QStringLiteral("Right"),
                    QStringLiteral("Return"), QStringLiteral("Tab"), QStringLiteral("space"),
                    QStringLiteral("Down"), QStringLiteral("space"), QStringLiteral("Return"),
                    QStringLiteral("Tab"), QStringLiteral("space"), QStringLiteral("Tab"),
                    QStringLiteral("space"), QStringLiteral("Return"), QStringLiteral("alt+o"),
                    QStringLiteral("alt+a")});
  // Programs > Accessories > Notepad.lnk in the "System" tree, OK, and Yes to the shortcut.
  const std::optional<QString> tree = x_.WaitForWindow(QStringLiteral("Add Allowed Application"));
  ASSERT_TRUE(tree);
  x_.Keys(*tree, {QStringLiteral("Tab"), QStringLiteral("Down"), QStringLiteral("Right"),
                  QStringLiteral("Down"), QStringLiteral("Return")});
  ASSERT_TRUE(x_.WaitUntilGone(*tree));
  const std::optional<QString> question = x_.WaitForWindow(QStringLiteral("Confirm"));
  ASSERT_TRUE(question);
  x_.Keys(*question, {QStringLiteral("Return")});
  ASSERT_TRUE(x_.WaitUntilGone(*question));
  // Next passes over the Program-folder page; Return on the summary is Finish.
  x_.Keys(*wizard, {QStringLiteral("alt+n"), QStringLiteral("Return")});
  ASSERT_TRUE(x_.WaitUntilGone(*wizard, 15s));
  ExitByMenu();
  ASSERT_EQ(program.WaitForExit(), 0) << program.Output().toStdString();

  const Readers policy(Windows("Tarnex.pol"));
  ASSERT_TRUE(policy.Ok()) << policy.Diagnostics();
  const std::string kids = "Users\\Kids\\Software\\Microsoft\\Windows\\CurrentVersion\\";
  const std::string explorer = kids + "Policies\\Explorer";
  EXPECT_EQ(policy.Dword(explorer, "NoRun"), 1u);
  EXPECT_EQ(policy.Dword(explorer, "NoFind"), 1u);
  for (const char* flag : {"NoSetFolders", "NoSetTaskbar", "NoDesktop", "NoAddPrinter"}) {
    EXPECT_EQ(policy.Dword(explorer, flag), 0u) << flag;
  }
  EXPECT_EQ(policy.Dword(kids + "Policies\\System", "DisableRegistryTools"), 0u);
  EXPECT_EQ(policy.Dword(kids + "Policies\\System", "NoDevMgrPage"), 0u);
  EXPECT_EQ(policy.Dword(kids + "Policies\\WinOldApp", "Disabled"), 0u);
  EXPECT_EQ(policy.Dword(kids + "Policies\\WinOldApp", "NoRealMode"), 0u);
  EXPECT_EQ(policy.Dword("Users\\Kids\\Software\\Family\\Preferences", "NoConfigure"), 0u);
  EXPECT_EQ(policy.Dword(explorer, "NoDrives"), 5u);
  EXPECT_EQ(policy.Dword(explorer, "RestrictRun"), 1u);
  const std::string run = explorer + "\\RestrictRun";
  EXPECT_EQ(policy.Text(run, "0"), "SYSTRAY.EXE");
  EXPECT_EQ(policy.Text(run, "1"), "NOTEPAD.EXE");
  EXPECT_EQ(policy.Text(run, "2"), "Tarnex.exe");
  EXPECT_EQ(policy.Text(run, "3"), "TWTray.exe");
  EXPECT_EQ(policy.Text(run, "4"), std::nullopt);
  const std::string profile = "C:\\WINDOWS\\Profiles\\Kids\\";
  const std::string folders = kids + "Explorer\\User Shell Folders";
  EXPECT_EQ(policy.Text(folders, "Start Menu"), profile + "Start Menu");
  EXPECT_EQ(policy.Text(folders, "Programs"), profile + "Start Menu\\Programs");
  EXPECT_EQ(policy.Text(folders, "Desktop"), profile + "Desktop");
  EXPECT_EQ(policy.Text(folders, "Favorites"), profile + "Favorites");
  EXPECT_EQ(policy.Text(folders, "Recent"), profile + "Recent");
  const std::optional<std::string> icon =
      policy.Text("Users\\Kids\\Software\\Family\\Preferences", "UserIcon");
  ASSERT_TRUE(icon);
  EXPECT_TRUE(icon->starts_with("C:\\TARNEX\\UserIcon\\") && icon->ends_with(".ico")) << *icon;

  const std::filesystem::path home = Windows("Profiles") / "Kids";
  for (const char* folder : {"Start Menu/Programs/StartUp", "Desktop", "Favorites", "Recent"}) {
    EXPECT_TRUE(std::filesystem::is_directory(home / folder)) << folder;
  }
  const Readers userDat(home / "user.dat");
  EXPECT_TRUE(userDat.Ok()) << userDat.Diagnostics();

  const std::string programs = Lnkinfo(home / "Desktop" / "Kids' Programs.lnk");
  EXPECT_EQ(LnkField(programs, "Local path"), profile + "Start Menu\\Programs");
  EXPECT_EQ(LnkField(programs, "Description"), "Shortcut to Kids' Programs");
  EXPECT_EQ(LnkField(programs, "Icon location"), *icon);
  const std::string favorites = Lnkinfo(home / "Desktop" / "Kids' Favorites.lnk");
  EXPECT_EQ(LnkField(favorites, "Local path"), profile + "Favorites");
  EXPECT_EQ(LnkField(favorites, "Description"), "Shortcut to Kids' Favorites");
  const std::string notepad = Lnkinfo(home / "Start Menu" / "Programs" / "NOTEPAD.lnk");
  EXPECT_EQ(LnkField(notepad, "Local path"), "C:\\WINDOWS\\NOTEPAD.EXE");
  EXPECT_EQ(LnkField(notepad, "Description"), "NOTEPAD");
}

// Ann and Kids made with tarnwick-policy; Kids's Desktop holds a file and a folder with a file.
TEST_F(ProgramTest, TheProgramsAndFoldersPagesFillAUsersFolders) {
  const std::string dir = (temp_.Path() / "machine").string();
  ASSERT_EQ(RunProgram({TARNWICK_PROGRAM, "--machine", dir, "--describe"}).status, 0);
  const std::string kidsProfile = "C:\\WINDOWS\\Profiles\\Kids\\";
  for (std::vector<std::string> command :
       {std::vector<std::string>{"add-user", "Ann"},
        {"add-user", "Kids"},
        {"set", "Kids", "ProgramsFolder", kidsProfile + "Programs"},
        {"set", "Kids", "DesktopFolder", kidsProfile + "Desktop"},
        {"set", "Kids", "FavoritesFolder", kidsProfile + "Favorites"}}) {
    command.insert(command.begin(), {TARNWICK_POLICY_PROGRAM, "--machine", dir});
    const ProgramRun run = RunProgram(command);
    ASSERT_EQ(run.status, 0) << run.err;
  }
  const std::filesystem::path home = Windows("Profiles") / "Kids";
  for (const char* folder : {"Programs", "Desktop/Junk", "Favorites", "Favorites2"}) {
    std::filesystem::create_directories(home / folder);
  }
  std::ofstream(home / "Desktop" / "Readme.txt") << "read me";
  std::ofstream(home / "Desktop" / "Junk" / "Old.txt") << "old";
  std::ofstream(home / "Favorites" / "Kept.url") << "[InternetShortcut]";

  ProgramUnderTest program(x_, temp_.Path() / "machine");
  EnterPassword(QStringLiteral("Secret1"));
  EnterPassword(QStringLiteral("Secret1"));
  AcknowledgeMessage();
  const QString window = MainWindow();
  // Kids, the Programs page, only listed programs, and Add Application.
  x_.Keys(window, {QStringLiteral("Right"), QStringLiteral("Tab"), QStringLiteral("Right"),
                   QStringLiteral("Tab"), QStringLiteral("space"), QStringLiteral("Tab"),
                   QStringLiteral("Tab"), QStringLiteral("space")});
  const auto pickNotepad = [this](const QString& title) {
    const std::optional<QString> tree = x_.WaitForWindow(title);
    ASSERT_TRUE(tree) << title.toStdString();
    x_.Keys(*tree, {QStringLiteral("Tab"), QStringLiteral("Down"), QStringLiteral("Right"),
                    QStringLiteral("Down"), QStringLiteral("Return")});
    ASSERT_TRUE(x_.WaitUntilGone(*tree));
  };
  pickNotepad(QStringLiteral("Add Allowed Application"));
  const std::optional<QString> question = x_.WaitForWindow(QStringLiteral("Confirm"));
  ASSERT_TRUE(question);
  x_.Keys(*question, {QStringLiteral("Return")});
  ASSERT_TRUE(x_.WaitUntilGone(*question));

  // The Win 95 Folders page on the Desktop folder: a shortcut picked in the tree.
  x_.Keys(window, {QStringLiteral("ctrl+Tab"), QStringLiteral("ctrl+Tab"),
                   QStringLiteral("ctrl+Tab"), QStringLiteral("Down"), QStringLiteral("Down"),
                   QStringLiteral("Tab"), QStringLiteral("Tab"), QStringLiteral("Tab"),
                   QStringLiteral("Tab"), QStringLiteral("Tab"), QStringLiteral("space")});
  pickNotepad(QStringLiteral("Select Application Shortcut"));
  // One made with the create-shortcut wizard.
  x_.Keys(window, {QStringLiteral("space")});
  const std::optional<QString> tree =
      x_.WaitForWindow(QStringLiteral("Select Application Shortcut"));
  ASSERT_TRUE(tree);
  x_.Keys(*tree, {QStringLiteral("alt+n")});
  const std::optional<QString> create = x_.WaitForWindow(QStringLiteral("Create Shortcut"));
  ASSERT_TRUE(create);
  x_.Type(*create, QStringLiteral("C:\\WINDOWS\\REGEDIT.EXE"));
  x_.Keys(*create, {QStringLiteral("Return"), QStringLiteral("Return")});
  ASSERT_TRUE(x_.WaitUntilGone(*create));
  // A subfolder.
  x_.Keys(window, {QStringLiteral("Tab"), QStringLiteral("space")});
  const std::optional<QString> input = x_.WaitForWindow(QStringLiteral("Create Folder"));
  ASSERT_TRUE(input);
  x_.Type(*input, QStringLiteral("Games"));
  x_.Keys(*input, {QStringLiteral("Return")});
  ASSERT_TRUE(x_.WaitUntilGone(*input));
  // Remove Item on a file, then on a folder, each picked by typing its name in the tree: from
  // Add Folder, then from Remove Item, back to the tree.
  for (const auto& [item, back] :
       {std::pair{QStringLiteral("readme"), 2}, std::pair{QStringLiteral("junk"), 3}}) {
    x_.Keys(window, QStringList(back, QStringLiteral("shift+Tab")));
    x_.Type(window, item);
    x_.Keys(window, {QStringLiteral("Tab"), QStringLiteral("Tab"), QStringLiteral("Tab"),
                     QStringLiteral("space")});
    const std::optional<QString> sure = x_.WaitForWindow(QStringLiteral("Confirm"));
    ASSERT_TRUE(sure) << item.toStdString();
    x_.Keys(*sure, {QStringLiteral("Return")});
    ASSERT_TRUE(x_.WaitUntilGone(*sure));
  }
  // Favorites pointed at Favorites2 in the folder picker.
  x_.Keys(window,
          {QStringLiteral("shift+Tab"), QStringLiteral("shift+Tab"), QStringLiteral("shift+Tab"),
           QStringLiteral("shift+Tab"), QStringLiteral("shift+Tab"), QStringLiteral("shift+Tab"),
           QStringLiteral("shift+Tab"), QStringLiteral("Down"), QStringLiteral("Tab"),
           QStringLiteral("Tab"), QStringLiteral("space")});
  const std::optional<QString> advanced = x_.WaitForWindow(QStringLiteral("Confirm"));
  ASSERT_TRUE(advanced);
  x_.Keys(*advanced, {QStringLiteral("Return")});
  const std::optional<QString> picker = x_.WaitForWindow(QStringLiteral("Browse for Folder"));
  ASSERT_TRUE(picker);
  x_.Type(*picker, QStringLiteral("favorites2"));
  x_.Keys(*picker, {QStringLiteral("Return")});
  ASSERT_TRUE(x_.WaitUntilGone(*picker));
  ExitByMenu();
  ASSERT_EQ(program.WaitForExit(), 0) << program.Output().toStdString();

  const Readers policy(Windows("Tarnex.pol"));
  ASSERT_TRUE(policy.Ok()) << policy.Diagnostics();
  const std::string explorer =
      "Users\\Kids\\Software\\Microsoft\\Windows\\CurrentVersion\\"
      "Policies\\Explorer";
  EXPECT_EQ(policy.Dword(explorer, "RestrictRun"), 1u);
  // add-user listed the start-up program, Tarnex.exe and TWTray.exe first.
  EXPECT_EQ(policy.Text(explorer + "\\RestrictRun", "3"), "NOTEPAD.EXE");
  EXPECT_EQ(policy.Text("Users\\Kids\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\"
                        "User Shell Folders",
                        "Favorites"),
            kidsProfile + "Favorites2");

  const std::string added = Lnkinfo(home / "Programs" / "NOTEPAD.lnk");
  EXPECT_EQ(LnkField(added, "Local path"), "C:\\WINDOWS\\NOTEPAD.EXE");
  EXPECT_EQ(LnkField(added, "Description"), "NOTEPAD");
  const std::string picked = Lnkinfo(home / "Desktop" / "Notepad.lnk");
  EXPECT_TRUE(EqualsIgnoreCase(LnkField(picked, "Local path"),
                               "C:\\WINDOWS\\Start Menu\\Programs\\Accessories\\Notepad.lnk"))
      << picked;
  EXPECT_EQ(LnkField(picked, "Description"), "Notepad");
  const std::string made = Lnkinfo(home / "Desktop" / "REGEDIT.lnk");
  EXPECT_EQ(LnkField(made, "Local path"), "C:\\WINDOWS\\REGEDIT.EXE");
  EXPECT_EQ(LnkField(made, "Description"), "REGEDIT");
  EXPECT_TRUE(std::filesystem::is_directory(home / "Desktop" / "Games"));
  EXPECT_FALSE(std::filesystem::exists(home / "Desktop" / "Readme.txt"));
  EXPECT_FALSE(std::filesystem::exists(home / "Desktop" / "Junk"));
  EXPECT_TRUE(std::filesystem::exists(home / "Favorites" / "Kept.url"));

  const std::filesystem::path index = temp_.Path() / "machine" / "c" / "RECYCLED" / "INFO";
  const ProgramRun bin = RunProgram({"rifiuti2", "-l", "CP1252", index.string()});
  EXPECT_EQ(bin.status, 0) << bin.err;
  EXPECT_NE(bin.out.find(kidsProfile + "Desktop\\Junk\\Old.txt"), std::string::npos) << bin.out;
}

// The switch's message comes only once the change is in SYSTEM.DAT: a kill while it is open
// loses nothing.
TEST_F(ProgramTest, TheSwitchsChangeIsInSystemDatWhileItsMessageIsOpen) {
  ProgramUnderTest program(x_, temp_.Path() / "machine");
  FirstStart(program);  // ends with the switch on
  const QString window = MainWindow();
  // imgOnOff's middle, below the menu bar (the window's inside less its fixed 355 pixels).
  x_.Click(window, QPoint(195, x_.Height(window) - 355 + 30));
  QStringList windows;
  for (int wait = 0; wait < 100 && windows.size() < 2; ++wait) {
    QThread::msleep(100);
    windows = x_.Windows(QStringLiteral("Tarnwick"));
  }
  ASSERT_EQ(windows.size(), 2) << "no message box: " << program.Output().toStdString();
  program.Kill();
  program.WaitForExit();

  const Readers machine(Windows("SYSTEM.DAT"));
  ASSERT_TRUE(machine.Ok()) << machine.Diagnostics();
  EXPECT_EQ(machine.Dword("Network\\Logon", "UserProfiles"), 0u);
  EXPECT_EQ(machine.Dword("System\\CurrentControlSet\\control\\Update", "UpdateMode"), 0u);
  EXPECT_EQ(machine.Text("System\\CurrentControlSet\\control\\Update", "NetworkPath"),
            std::nullopt);
  EXPECT_EQ(machine.Text("Network\\Logon", "username"), std::nullopt);
}

// A first start that cannot write the Windows directory says so once and ends with status 1,
// leaving the machine free.
TEST_F(ProgramTest, AFirstStartThatCannotWriteEndsAndFreesTheMachine) {
  const std::filesystem::path dir = temp_.Path() / "machine";
  ASSERT_EQ(RunProgram({TARNWICK_PROGRAM, "--machine", dir.string(), "--describe"}).status, 0);
  {
    const UnwritableDir windows(dir / "c" / "WINDOWS");
    ProgramUnderTest program(x_, dir);
    // Passwords are typed while they are asked for; the error ends the start.
    int boxes = 0;
    std::optional<int> status;
    for (int step = 0; step < 20 && !(status = program.WaitForExit(1s)); ++step) {
      const QStringList windows = x_.Windows(QStringLiteral("Tarnwick"));
      if (!x_.Windows(QStringLiteral("Tarnwick Password")).isEmpty()) {
        EnterPassword(QStringLiteral("Secret1"));
      } else if (windows.size() >= 2) {
        x_.Keys(windows.back(), {QStringLiteral("Return")});
        x_.WaitUntilGone(windows.back());
        ++boxes;
      }
    }
    EXPECT_EQ(status, 1) << program.Output().toStdString();
    EXPECT_EQ(boxes, 1);
  }
  EXPECT_FALSE(std::filesystem::exists(Windows("Tarnex.pol")));
  const ProgramRun users =
      RunProgram({TARNWICK_POLICY_PROGRAM, "--machine", dir.string(), "users"});
  EXPECT_EQ(users.status, 0) << users.err;
}

// The Policies window by keyboard alone: a policy of a template given with --template set for
// Default User and for a new group, each with its part's text.
TEST_F(ProgramTest, ThePoliciesWindowSetsAPolicyWithAPartForDefaultUserAndForAGroup) {
  const std::filesystem::path adm = temp_.Path() / "tests.adm";
  std::ofstream(adm) << "CLASS USER\r\n"
                        "CATEGORY \"Tarnwick tests\"\r\n"
                        "  KEYNAME \"Software\\Tarnwick Tests\"\r\n"
                        "  POLICY \"Greeting\"\r\n"
                        "    PART \"Text\" EDITTEXT\r\n"
                        "      VALUENAME \"Greeting\"\r\n"
                        "    END PART\r\n"
                        "  END POLICY\r\n"
                        "END CATEGORY\r\n";
  ProgramUnderTest program(x_, temp_.Path() / "machine", QStringLiteral("--machine"),
                           {QStringLiteral("--template"), QString::fromStdString(adm.string())});
  FirstStart(program);
  x_.Keys(MainWindow(), {QStringLiteral("ctrl+p")});
  const std::optional<QString> policies = x_.WaitForWindow(QStringLiteral("Policies"));
  ASSERT_TRUE(policies) << program.Output().toStdString();
  // The test's category is the last; End, Right and Down reach its one policy whether it is
  // folded or not; the space bar ticks it and Tab goes to its part.
  const QStringList toThePart = {QStringLiteral("alt+p"), QStringLiteral("End"),
                                 QStringLiteral("Right"), QStringLiteral("Down"),
                                 QStringLiteral("space"), QStringLiteral("Tab")};
  x_.Keys(*policies, {QStringLiteral("alt+e"), QStringLiteral("Home")});  // Default User
  x_.Keys(*policies, toThePart);
  x_.Type(*policies, QStringLiteral("Hello everyone"));
  x_.Keys(*policies, {QStringLiteral("Tab")});

  x_.Keys(*policies, {QStringLiteral("alt+g")});
  const std::optional<QString> name = x_.WaitForWindow(QStringLiteral("Add Group"));
  ASSERT_TRUE(name);
  x_.Type(*name, QStringLiteral("Pupils"));
  x_.Keys(*name, {QStringLiteral("Return")});
  ASSERT_TRUE(x_.WaitUntilGone(*name));
  x_.Keys(*policies, toThePart);
  x_.Type(*policies, QStringLiteral("Hello pupils"));
  x_.Keys(*policies, {QStringLiteral("Tab"), QStringLiteral("Escape")});
  ASSERT_TRUE(x_.WaitUntilGone(*policies));
  ExitByMenu();
  ASSERT_EQ(program.WaitForExit(), 0) << program.Output().toStdString();

  const Readers policy(Windows("Tarnex.pol"));
  ASSERT_TRUE(policy.Ok()) << policy.Diagnostics();
  EXPECT_EQ(policy.Text("Users\\.default\\Software\\Tarnwick Tests", "Greeting"), "Hello everyone");
  EXPECT_EQ(policy.Text("UserGroups\\Pupils\\Software\\Tarnwick Tests", "Greeting"),
            "Hello pupils");
  EXPECT_EQ(policy.Text("GroupData\\UserGroups\\Priority", "1"), "Pupils");
  // Alice, the account the main window showed, is untouched.
  EXPECT_FALSE(policy.HasKey("Users\\Alice\\Software\\Tarnwick Tests"));
}

TEST_F(ProgramTest, ATemplateThatCannotBeReadIsNamedWithItsLineAndTheStartEnds) {
  const std::filesystem::path adm = temp_.Path() / "broken.adm";
  std::ofstream(adm) << "CLASS USER\r\nCATEGORY \"Tests\"\r\n  POLICY \"Cut short\"\r\n";
  ProgramUnderTest program(x_, temp_.Path() / "machine", QStringLiteral("--machine"),
                           {QStringLiteral("--template"), QString::fromStdString(adm.string())});
  const std::optional<QString> box = x_.WaitForWindow(QStringLiteral("Tarnwick"));
  ASSERT_TRUE(box) << program.Output().toStdString();
  x_.Keys(*box, {QStringLiteral("Return")});
  ASSERT_EQ(program.WaitForExit(), 1);
  const std::string output = program.Output().toStdString();
  EXPECT_NE(output.find("broken.adm(3): the file ends inside POLICY"), std::string::npos) << output;
  // Nothing was started: no policy file.
  EXPECT_FALSE(std::filesystem::exists(Windows("Tarnex.pol")));
}

}  // namespace
}  // namespace tarnwick::test
