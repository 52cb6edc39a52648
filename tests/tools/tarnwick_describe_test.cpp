// tarnwick --describe run as a program: a new demo machine and what it holds.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "support/run_program.h"

namespace tarnwick::test {
namespace {

namespace fs = std::filesystem;

struct Output {
  int status = -1;
  std::string text;  // standard output, then standard error
};

Output RunTarnwick(std::vector<std::string> args) {
  args.insert(args.begin(), TARNWICK_PROGRAM);
  const ProgramRun run = RunProgram(std::move(args));
  return {run.status, run.out + run.err};
}

class DescribeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() / ("tarnwick-describe-" + std::to_string(::getpid()));
    fs::remove_all(root_);
    fs::create_directories(root_);
  }
  void TearDown() override { fs::remove_all(root_); }

  fs::path root_;
};

TEST_F(DescribeTest, CreatesAndDescribesADemoMachine) {
  const fs::path machine = root_ / "machine";
  const Output first = RunTarnwick({"--machine", machine.string(), "--describe"});
  ASSERT_EQ(first.status, 0) << first.text;
  EXPECT_TRUE(fs::is_regular_file(machine / "machine.ini"));
  EXPECT_NE(first.text.find("Windows directory: C:\\WINDOWS"), std::string::npos) << first.text;
  EXPECT_NE(first.text.find("Program path:      C:\\TARNEX\\TARNEX.EXE"), std::string::npos);
  EXPECT_NE(first.text.find("Tarnex.pol (not present)"), std::string::npos);
  EXPECT_NE(first.text.find("A:  removable  no medium"), std::string::npos) << first.text;
  EXPECT_NE(first.text.find("label \"SYSTEM\""), std::string::npos);
  EXPECT_NE(first.text.find("D:  cdrom      no medium"), std::string::npos);
  // Run from the build tree, the program finds the help collection built there.
  EXPECT_NE(first.text.find("help/tarnwick.qhc\n"), std::string::npos) << first.text;

  // A second start opens the same machine and sees a policy file that appeared meanwhile.
  fs::path windows;
  for (const auto& entry : fs::directory_iterator(machine / "c")) {
    if (entry.path().filename() == "WINDOWS") windows = entry.path();
  }
  ASSERT_FALSE(windows.empty());
  std::FILE* policy = std::fopen((windows / "Tarnex.pol").c_str(), "w");
  ASSERT_NE(policy, nullptr);
  std::fclose(policy);
  const Output second = RunTarnwick({"--machine", machine.string(), "--describe"});
  EXPECT_EQ(second.status, 0);
  EXPECT_NE(second.text.find("Tarnex.pol (present)"), std::string::npos) << second.text;
}

TEST_F(DescribeTest, CommandLineErrorsExitWithStatusOne) {
  EXPECT_EQ(RunTarnwick({"stray-argument"}).status, 1);
  // A directory that exists but is no machine is refused, not turned into one.
  const Output notMachine = RunTarnwick({"--machine", root_.string(), "--describe"});
  EXPECT_EQ(notMachine.status, 1);
  EXPECT_NE(notMachine.text.find("machine.ini"), std::string::npos) << notMachine.text;
  EXPECT_FALSE(fs::exists(root_ / "machine.ini"));
}

TEST_F(DescribeTest, HelpAndVersionExitWithStatusZero) {
  const Output help = RunTarnwick({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.text.find("--machine"), std::string::npos);
  EXPECT_TRUE(help.text.starts_with(std::string("Usage: ") + TARNWICK_PROGRAM + " [options]"))
      << help.text;
  const Output version = RunTarnwick({"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_NE(version.text.find("Tarnwick"), std::string::npos);
}

}  // namespace
}  // namespace tarnwick::test
