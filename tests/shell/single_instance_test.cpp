#include "shell/single_instance.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QEventLoop>
#include <QProcess>
#include <QTimer>

#include "support/test_machine.h"

namespace tarnwick::test {
namespace {

constexpr int kOnlyCopy = 3;

// Starts another copy for a machine and keeps this copy's events flowing until it ends.
int RunCopy(const std::filesystem::path& machineDir, const std::string& endMark = {}) {
  QProcess child;
  child.setProcessChannelMode(QProcess::ForwardedChannels);
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("QT_QPA_PLATFORM", "offscreen");
  child.setProcessEnvironment(env);
  QEventLoop loop;
  QObject::connect(&child, &QProcess::finished, &loop, &QEventLoop::quit);
  QObject::connect(&child, &QProcess::errorOccurred, &loop, &QEventLoop::quit);
  QTimer::singleShot(30000, &loop, &QEventLoop::quit);
  child.start(TARNWICK_INSTANCE_CHILD,
              endMark.empty() ? QStringList{QString::fromStdString(machineDir.string())}
                              : QStringList{QString::fromStdString(machineDir.string()),
                                            QString::fromStdString(endMark)});
  loop.exec();
  if (child.state() != QProcess::NotRunning) {
    child.kill();
    child.waitForFinished();
    return -1;
  }
  return child.exitStatus() == QProcess::NormalExit ? child.exitCode() : -2;
}

class SingleInstanceTest : public ::testing::Test {
 protected:
  test::TestMachine machine_;
};

TEST_F(SingleInstanceTest, NamesComeFromTheProgramsFileName) {
  TInstanceDetector detector(machine_.Get());
  EXPECT_FALSE(detector.PreviousInstanceFound());
  EXPECT_EQ(detector.WindowTitle(), "TARNEX");
  EXPECT_TRUE(detector.ServerName().contains("TARNEX.EXE"));
  test::TestMachine other;
  EXPECT_NE(TInstanceDetector(other.Get()).ServerName(), detector.ServerName());
}

TEST_F(SingleInstanceTest, WindowTitleNeedsTheExtensionExeInAnyLetterCase) {
  for (const auto& [program, title] :
       {std::pair<std::string, std::string>{"C:\\TARNEX\\tarnex.exe", "tarnex"},
        {"C:\\TARNEX.EXE\\TARNEX.COM", ""},
        {"C:\\TARNEX\\TARNEX.EXE.BAK", ""}}) {
    test::TestMachine machine("[Drive C]\nType=fixed\nPath=c\n");
    machine.Write("machine.ini",
                  "[Machine]\nProgramPath=" + program + "\n[Drive C]\nType=fixed\nPath=c\n");
    TInstanceDetector detector(machine.Get());
    EXPECT_EQ(detector.WindowTitle(), title) << program;
    EXPECT_FALSE(detector.PreviousInstanceFound());
  }
}

TEST_F(SingleInstanceTest, ALockThatCannotBeTakenIsRefused) {
  std::filesystem::create_directory(machine_.Dir() / "tarnwick.lock");
  try {
    TInstanceDetector detector(machine_.Get());
    FAIL() << "ran without the lock";
  } catch (const MachineError& e) {
    EXPECT_NE(std::string(e.what()).find("tarnwick.lock"), std::string::npos) << e.what();
  }
}

TEST_F(SingleInstanceTest, SecondCopyRestoresMinimisedFirstWindowAndEndsWithZero) {
  TInstanceDetector detector(machine_.Get());
  QWidget window;
  TSingleInstance guard(detector, &window);
  window.showMinimized();
  int activations = 0;
  QObject::connect(&detector, &TInstanceDetector::Activated, [&] { ++activations; });
  EXPECT_EQ(RunCopy(machine_.Dir()), 0);
  QApplication::processEvents();
  EXPECT_EQ(activations, 1);
  EXPECT_FALSE(window.isMinimized());
  EXPECT_TRUE(window.isVisible());
}

TEST_F(SingleInstanceTest, SecondCopyBringsFirstWindowToTheFront) {
  TInstanceDetector detector(machine_.Get());
  QWidget window;
  TSingleInstance guard(detector, &window);
  window.show();
  QWidget other;
  other.show();
  other.activateWindow();
  QApplication::processEvents();
  EXPECT_EQ(RunCopy(machine_.Dir()), 0);
  QApplication::processEvents();
  EXPECT_EQ(QApplication::activeWindow(), &window);
}

TEST_F(SingleInstanceTest, CopiesForAnotherMachineBothRun) {
  TInstanceDetector detector(machine_.Get());
  QWidget window;
  TSingleInstance guard(detector, &window);
  test::TestMachine other;
  other.Get();
  EXPECT_EQ(RunCopy(other.Dir()), kOnlyCopy);
}

TEST_F(SingleInstanceTest, NextStartRunsNormallyAfterTheFirstCopyEnds) {
  {
    TInstanceDetector detector(machine_.Get());
    EXPECT_FALSE(detector.PreviousInstanceFound());
  }
  machine_.Get();
  EXPECT_EQ(RunCopy(machine_.Dir()), kOnlyCopy);
  EXPECT_EQ(RunCopy(machine_.Dir()), kOnlyCopy);
}

TEST_F(SingleInstanceTest, SecondCopyEndsAlsoWhenTheFirstHasNoWindowThroughItsDestructors) {
  TInstanceDetector detector(machine_.Get());
  const std::filesystem::path mark = machine_.Dir() / "ended";
  EXPECT_EQ(RunCopy(machine_.Dir(), mark.string()), 0);
  EXPECT_TRUE(std::filesystem::exists(mark));
}

}  // namespace
}  // namespace tarnwick::test
