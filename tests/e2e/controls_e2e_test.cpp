// The main window's drive list and the copy of a new account's Program folder, driven with the
// mouse and the keyboard under a virtual X server; what the program wrote is read back.
#include <gtest/gtest.h>

#include <QPoint>
#include <QThread>
#include <filesystem>
#include <fstream>
#include <string>

#include "base/bytes.h"
#include "base/text.h"
#include "e2e/desktop.h"
#include "registry/reg_tree.h"
#include "support/independent_readers.h"
#include "support/run_program.h"
#include "support/temp_machine_dir.h"

namespace tarnwick::test {
namespace {

// A 32-bit value as both registry readers report it; empty when absent or when they disagree.
std::optional<uint32_t> Dword(const std::filesystem::path& file, std::string_view key,
                              std::string_view name) {
  std::optional<uint32_t> result;
  for (const ReaderOutput& output : {ReadWithCregexport(file), ReadWithParseWin32Registry(file)}) {
    EXPECT_TRUE(output.ok()) << output.diagnostics;
    std::optional<uint32_t> value;
    for (const ExportedKey& exported : output.keys) {
      if (!EqualsIgnoreCase(exported.path, key)) continue;
      for (const ExportedValue& v : exported.values) {
        if (v.name == name && v.type == kRegDword && v.data.size() == 4) value = Get32(v.data, 0);
      }
    }
    if (!value || (result && result != value)) return std::nullopt;
    result = value;
  }
  return result;
}

std::string Slurp(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class ControlsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!x_.Running()) GTEST_SKIP() << "no Xvfb";
  }
  std::filesystem::path Machine() const { return temp_.Path() / "machine"; }
  std::filesystem::path Windows() const { return Machine() / "c" / "WINDOWS"; }
  void Policy(std::vector<std::string> command) {
    command.insert(command.begin(), {TARNWICK_POLICY_PROGRAM, "--machine", Machine().string()});
    const ProgramRun run = RunProgram(command);
    ASSERT_EQ(run.status, 0) << run.err;
  }
  void EnterPassword() {
    const std::optional<QString> dialog = x_.WaitForWindow(QStringLiteral("Tarnwick Password"));
    ASSERT_TRUE(dialog);
    x_.Type(*dialog, QStringLiteral("Secret1"));
    x_.Keys(*dialog, {QStringLiteral("Return")});
    x_.WaitUntilGone(*dialog);
  }
  // Return on the newest box titled like the main window.
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
  // A machine's first start: the new password twice and its notice.
  void FirstPassword() {
    EnterPassword();
    EnterPassword();
    AcknowledgeMessage();
  }
  QString MainWindow() {
    const std::optional<QString> window = x_.WaitForWindow(QStringLiteral("Tarnwick"));
    EXPECT_TRUE(window);
    return window.value_or(QString());
  }
  // Height of the main window's menu bar: the window less its fixed 355-pixel client area.
  int MenuHeight(const QString& window) {
    const QString geometry =
        x_.Xdo({QStringLiteral("getwindowgeometry"), QStringLiteral("--shell"), window});
    for (const QString& line : geometry.split(QLatin1Char('\n'))) {
      if (line.startsWith(QStringLiteral("HEIGHT="))) return line.mid(7).toInt() - 355;
    }
    ADD_FAILURE() << geometry.toStdString();
    return 0;
  }
  // The mouse moved to a point of the main window's client area.
  void MoveTo(const QString& window, int menu, int x, int y) {
    x_.Xdo({QStringLiteral("mousemove"), QStringLiteral("--sync"), QStringLiteral("--window"),
            window, QString::number(x), QString::number(menu + y)});
    QThread::msleep(100);
  }
  void Button(const char* action) {
    x_.Xdo({QString::fromLatin1(action), QStringLiteral("1")});
    QThread::msleep(150);
  }

  // Where the window lies on the screen: X and Y of xdotool's report.
  QPoint Position(const QString& window) {
    QPoint at;
    const QString geometry =
        x_.Xdo({QStringLiteral("getwindowgeometry"), QStringLiteral("--shell"), window});
    for (const QString& line : geometry.split(QLatin1Char('\n'))) {
      if (line.startsWith(QStringLiteral("X="))) at.setX(line.mid(2).toInt());
      if (line.startsWith(QStringLiteral("Y="))) at.setY(line.mid(2).toInt());
    }
    return at;
  }
  // The pixels of a rectangle of the screen, row by row, from the XWD file Xvfb keeps.
  std::string ScreenArea(QPoint topLeft, int width, int height) const {
    const std::string file = Slurp(screen_.Path() / "Xvfb_screen0");
    const auto field = [&file](size_t index) {  // the header is big-endian
      uint32_t value = 0;
      for (size_t i = 0; i < 4; ++i) value = value << 8 | static_cast<uint8_t>(file[index * 4 + i]);
      return value;
    };
    if (file.size() < 100) return {};
    const size_t pixel = field(11) / 8;                      // bits per pixel
    const size_t start = field(0) + size_t{field(19)} * 12;  // header, then the colours
    std::string area;
    for (int y = topLeft.y(); y < topLeft.y() + height; ++y) {
      const size_t at = start + static_cast<size_t>(y) * field(12) + topLeft.x() * pixel;
      if (at + width * pixel > file.size()) return {};
      area.append(file, at, width * pixel);
    }
    return area;
  }

  TempMachineDir screen_;
  XServer x_{screen_.Path()};
  TempMachineDir temp_;
};

TEST_F(ControlsTest, ADragOverTheHiddenDrivesWritesNoDrives) {
  ASSERT_EQ(RunProgram({TARNWICK_PROGRAM, "--machine", Machine().string(), "--describe"}).status,
            0);
  Policy({"add-user", "Ann"});
  ProgramUnderTest program(x_, Machine());
  FirstPassword();
  const QString window = MainWindow();
  // From the user list Tab reaches the page tabs, Right three times "Hidden Drives".
  x_.Keys(window, {QStringLiteral("Tab"), QStringLiteral("Right"), QStringLiteral("Right"),
                   QStringLiteral("Right")});
  const int menu = MenuHeight(window);
  // The list lies 30 pixels into the page, which starts below the tabs (about 25 pixels) at
  // y = 61; it is 121 pixels high. Pressed below the three drives (a:, c:, d:) and dragged up
  // past the first, it selects all three whatever the exact height of the tabs and the items.
  const int x = 222 + 8 + 40;
  const int listTop = 61 + 25 + 30;
  MoveTo(window, menu, x, listTop + 121 - 16);
  Button("mousedown");
  for (int y = listTop + 80; y >= listTop - 40; y -= 20) MoveTo(window, menu, x, y);
  Button("mouseup");
  x_.Keys(window, {QStringLiteral("alt+t"), QStringLiteral("x")});
  ASSERT_EQ(program.WaitForExit(), 0) << program.Output().toStdString();

  EXPECT_EQ(Dword(Windows() / "Tarnex.pol",
                  "Users\\Ann\\Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer",
                  "NoDrives"),
            1u + 4u + 8u);
}

TEST_F(ControlsTest, AClickBesideTheUsersEmptiesThePagesAndTheyTakeNoKeys) {
  ASSERT_EQ(RunProgram({TARNWICK_PROGRAM, "--machine", Machine().string(), "--describe"}).status,
            0);
  Policy({"add-user", "Ann"});
  ProgramUnderTest program(x_, Machine());
  FirstPassword();
  const QString window = MainWindow();
  const int menu = MenuHeight(window);
  // The page area below the tabs.
  const QPoint pages = Position(window) + QPoint(222, menu + 61 + 30);
  // The list holds Ann's icon at its top left; its bottom right corner is empty. The pointer
  // goes there first: the screen file shows it.
  MoveTo(window, menu, 8 + 190, 82 + 240);
  QThread::msleep(500);
  const std::string shown = ScreenArea(pages, 364, 240);
  ASSERT_FALSE(shown.empty());
  Button("click");
  QThread::msleep(500);
  EXPECT_TRUE(ScreenArea(pages, 364, 240) != shown) << "the pages still show the deselected user";
  // Tab to the page tabs, Right twice "Win 95 Restrictions", Tab and space: with a user shown
  // this ticks "Disable 'Run' Command on Start Menu".
  x_.Keys(window, {QStringLiteral("Tab"), QStringLiteral("Right"), QStringLiteral("Right"),
                   QStringLiteral("Tab"), QStringLiteral("space")});
  x_.Keys(window, {QStringLiteral("alt+t"), QStringLiteral("x")});
  ASSERT_EQ(program.WaitForExit(), 0) << program.Output().toStdString();
  EXPECT_NE(Dword(Windows() / "Tarnex.pol",
                  "Users\\Ann\\Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer",
                  "NoRun"),
            1u);
}

TEST_F(ControlsTest, TheCopysReplaceQuestionIsAnsweredByKeysWithNoProgressWindowOverIt) {
  // The first start's account, whose Programs folder is C:\WINDOWS\Start Menu\Programs.
  ProgramUnderTest program(x_, Machine());
  FirstPassword();
  const std::optional<QString> welcome = x_.WaitForWindow(QStringLiteral("Welcome Wizard"));
  ASSERT_TRUE(welcome) << program.Output().toStdString();
  x_.Keys(*welcome, {QStringLiteral("Return")});
  x_.Type(*welcome, QStringLiteral("Alice"));
  x_.Keys(*welcome, {QStringLiteral("Return"), QStringLiteral("Return"), QStringLiteral("Return")});
  ASSERT_TRUE(x_.WaitUntilGone(*welcome, 15s));
  // Kids's profile directory was kept from an earlier account of that name.
  const std::filesystem::path programs = Windows() / "Start Menu" / "Programs";
  const std::filesystem::path kept = Windows() / "Profiles" / "Kids" / "Start Menu" / "Programs";
  std::filesystem::create_directories(kept);
  std::ofstream(programs / "Readme.txt") << "new";
  std::ofstream(kept / "Readme.txt") << "old";

  const QString window = MainWindow();
  x_.Keys(window, {QStringLiteral("ctrl+a")});
  const std::optional<QString> wizard = x_.WaitForWindow(QStringLiteral("New User Wizard"));
  ASSERT_TRUE(wizard) << program.Output().toStdString();
  x_.Type(*wizard, QStringLiteral("Kids"));
  // Return takes every page's default, the Program folder copied from Alice's, and finishes.
  int questions = 0;
  for (int step = 0; step < 12 && !x_.Windows(QStringLiteral("New User Wizard")).isEmpty();
       ++step) {
    if (x_.Windows(QStringLiteral("Confirm File Replace")).isEmpty()) {
      x_.Keys(*wizard, {QStringLiteral("Return")});
    }
    const std::optional<QString> question =
        x_.WaitForWindow(QStringLiteral("Confirm File Replace"), 2s);
    if (!question) continue;
    ++questions;
    // Longer than the progress window's delay: it must not come over the question.
    QThread::msleep(1500);
    EXPECT_TRUE(x_.Windows(QStringLiteral("Copying...")).isEmpty());
    x_.Keys(*question, {QStringLiteral("Return")});  // Yes
    ASSERT_TRUE(x_.WaitUntilGone(*question)) << "the question took no key";
  }
  EXPECT_GE(questions, 1);
  ASSERT_TRUE(x_.WaitUntilGone(*wizard, 15s));
  EXPECT_EQ(Slurp(kept / "Readme.txt"), "new");
  x_.Keys(window, {QStringLiteral("alt+t"), QStringLiteral("x")});
  ASSERT_EQ(program.WaitForExit(), 0) << program.Output().toStdString();
}

}  // namespace
}  // namespace tarnwick::test
