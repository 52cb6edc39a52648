// Files replaced as one, the locks of machines and files, and what a kill leaves behind.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <iostream>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "machine/file_commit.h"
#include "machine/file_lock.h"
#include "machine/machine.h"
#include "support/run_program.h"
#include "support/temp_machine_dir.h"
#include "support/test_machine.h"

namespace tarnwick::test {
namespace {

namespace fs = std::filesystem;

std::vector<uint8_t> Bytes(const std::string& text) {
  return {text.begin(), text.end()};
}

std::set<std::string> Entries(const fs::path& dir) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir)) names.insert(entry.path().filename());
  return names;
}

TEST(FileCommit, ReplacesEveryFileKeepsModesAndReplacesLinks) {
  TempMachineDir dir;
  dir.WriteFile("a", "old a");
  fs::permissions(dir.Path() / "a", fs::perms(0640));
  dir.WriteFile("outside/target", "kept");
  fs::create_symlink(dir.Path() / "outside/target", dir.Path() / "b");
  {
    FileCommit commit(dir.Path());
    commit.Stage(dir.Path() / "a", Bytes("new a"));
    commit.Stage(dir.Path() / "b", Bytes("new b"));
    commit.Stage(dir.Path() / "c", Bytes("new c"));
    // Nothing visible before the commit, besides the temporaries.
    EXPECT_EQ(Slurp(dir.Path() / "a"), "old a");
    commit.Commit();
  }
  EXPECT_EQ(Slurp(dir.Path() / "a"), "new a");
  EXPECT_EQ(fs::status(dir.Path() / "a").permissions(), fs::perms(0640));
  EXPECT_FALSE(fs::is_symlink(dir.Path() / "b"));
  EXPECT_EQ(Slurp(dir.Path() / "b"), "new b");
  EXPECT_EQ(Slurp(dir.Path() / "outside/target"), "kept");
  EXPECT_EQ(Slurp(dir.Path() / "c"), "new c");
  EXPECT_EQ(Entries(dir.Path()), (std::set<std::string>{"a", "b", "c", "outside"}));

  // Staged but not committed: nothing changes and nothing is left.
  {
    FileCommit commit(dir.Path());
    commit.Stage(dir.Path() / "a", Bytes("never"));
  }
  EXPECT_EQ(Slurp(dir.Path() / "a"), "new a");
  EXPECT_EQ(Entries(dir.Path()), (std::set<std::string>{"a", "b", "c", "outside"}));
}

TEST(FileCommit, ARecordLeftByAKillIsCompletedAndLeftoversGo) {
  TempMachineDir dir;
  dir.WriteFile("a", "old a");
  dir.WriteFile("b", "new b");  // its rename happened before the kill
  dir.WriteFile(".a.tmp-1-2", "new a");
  const std::string record =
      std::string("tarnwick commit\n") + (dir.Path() / ".a.tmp-1-2").string() + '\0' +
      (dir.Path() / "a").string() + '\0' + (dir.Path() / ".b.tmp-1-3").string() + '\0' +
      (dir.Path() / "b").string() + '\0';
  dir.WriteFile(kCommitRecordName, record);
  CompleteFileCommit(dir.Path());
  EXPECT_EQ(Slurp(dir.Path() / "a"), "new a");
  EXPECT_EQ(Slurp(dir.Path() / "b"), "new b");
  EXPECT_EQ(Entries(dir.Path()), (std::set<std::string>{"a", "b"}));
  EXPECT_NO_THROW(CompleteFileCommit(dir.Path()));  // none left

  dir.WriteFile(kCommitRecordName, "something else");
  EXPECT_THROW(CompleteFileCommit(dir.Path()), FileWriteError);
  fs::remove(dir.Path() / kCommitRecordName);

  dir.WriteFile(".A.tmp-4-5", "x");
  dir.WriteFile(".b.tmp-6", "x");
  dir.WriteFile(".notes.txt.tmp-7", "x");
  dir.WriteFile("a.tmp-8", "x");
  const std::string names[] = {"a", "b"};
  RemoveTemporaryFiles(dir.Path(), names);
  EXPECT_EQ(Entries(dir.Path()), (std::set<std::string>{"a", "b", ".notes.txt.tmp-7", "a.tmp-8"}));
}

// A writer committing generation after generation to two files, killed at random moments: once
// the leftovers are dealt with, both files hold one generation.
TEST(FileCommit, AKilledCommitEndsWithAllFilesOrNone) {
  TempMachineDir dir;
  const fs::path a = dir.Path() / "a";
  const fs::path b = dir.Path() / "b";
  const std::string names[] = {"a", "b", kCommitRecordName};
  std::mt19937 random(17);
  int records = 0;
  for (int trial = 0; trial < 300; ++trial) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      for (unsigned generation = 0;; ++generation) {
        const std::string text(4096 + generation % 4096, static_cast<char>('a' + generation % 26));
        FileCommit commit(dir.Path());
        commit.Stage(a, Bytes(text));
        commit.Stage(b, Bytes(text));
        commit.Commit();
      }
    }
    usleep(random() % 3000);
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    records += fs::exists(dir.Path() / kCommitRecordName);
    CompleteFileCommit(dir.Path());
    RemoveTemporaryFiles(dir.Path(), names);
    ASSERT_EQ(Slurp(a), Slurp(b)) << "trial " << trial;
    const std::set<std::string> left = Entries(dir.Path());
    ASSERT_TRUE(left.empty() || left == (std::set<std::string>{"a", "b"})) << "trial " << trial;
  }
  std::cout << "records completed after a kill: " << records << " of 300\n";
}

std::string SharedDiskDrives(const fs::path& disk) {
  return "[Drive C]\nType=fixed\nPath=" + disk.string() +
         "\n[Drive D]\nType=fixed\nPath=" + disk.string() + "\n";
}

TEST(MachineLock, TwoMachinesOnOneDiskDoNotBothHoldIt) {
  TempMachineDir disk;
  test::TestMachine first(SharedDiskDrives(disk.Path()));
  // The same directory by another path.
  fs::create_symlink(disk.Path(), first.Host("disk-link"));
  test::TestMachine second("[Drive C]\nType=fixed\nPath=" + first.Host("disk-link").string() +
                           "\n");
  test::TestMachine other;
  {
    // C and D on one disk: one machine, one lock.
    const std::optional<MachineLock> lock = MachineLock::TryAcquire(first.Get());
    ASSERT_TRUE(lock);
    try {
      MachineLock::TryAcquire(second.Get());
      ADD_FAILURE() << "a second machine locked the same disk";
    } catch (const MachineError& e) {
      EXPECT_NE(std::string(e.what()).find("Drive C: ("), std::string::npos) << e.what();
    }
    EXPECT_TRUE(MachineLock::TryAcquire(other.Get()));
    EXPECT_FALSE(MachineLock::TryAcquire(first.Get()));
  }
  EXPECT_TRUE(MachineLock::TryAcquire(second.Get()));
}

TEST(MachineLock, TakingItClearsWhatAKillLeft) {
  test::TestMachine machine;
  machine.Write("c/WINDOWS/.SYSTEM.DAT.tmp-12-34", "x");
  machine.Write("c/WINDOWS/.tarnex.POL.tmp-1-2", "x");
  machine.Write("c/WINDOWS/.SYSTEM.DA0.tmp-3-4", "x");
  machine.Write("c/WINDOWS/.WIN.INI.tmp-1-2", "mine");
  machine.Write("c/WINDOWS/Profiles/bob/.user.dat.tmp-5-6", "x");
  machine.Write("c/WINDOWS/Profiles/bob/user.dat", "x");
  machine.Write(".tarnwick.commit.tmp-7-8", "x");
  // A commit of two files that a kill cut off after its record.
  machine.Write("c/WINDOWS/.USER.DAT.tmp-9-9", "new user");
  machine.Write("c/WINDOWS/USER.DAT", "old user");
  machine.Write(kCommitRecordName,
                std::string("tarnwick commit\n") +
                    fs::absolute(machine.Host("c/WINDOWS/.USER.DAT.tmp-9-9")).string() + '\0' +
                    fs::absolute(machine.Host("c/WINDOWS/USER.DAT")).string() + '\0');
  ASSERT_TRUE(MachineLock::TryAcquire(machine.Get()));
  EXPECT_EQ(Slurp(machine.Host("c/WINDOWS/USER.DAT")), "new user");
  EXPECT_EQ(Entries(machine.Host("c/WINDOWS")),
            (std::set<std::string>{".WIN.INI.tmp-1-2", "Profiles", "USER.DAT"}));
  EXPECT_EQ(Entries(machine.Host("c/WINDOWS/Profiles/bob")), (std::set<std::string>{"user.dat"}));
  EXPECT_EQ(Entries(machine.Dir()), (std::set<std::string>{"c", "machine.ini", "tarnwick.lock"}));
}

TEST(FileLock, KeepsOutMachinesOnTheFilesDiskAndOtherRunsInItsDirectory) {
  TempMachineDir disk;
  fs::create_directories(disk.Path() / "WINDOWS");
  fs::create_directories(disk.Path() / "OTHER");
  const fs::path file = disk.Path() / "WINDOWS" / "Tarnex.pol";
  test::TestMachine machine("[Drive C]\nType=fixed\nPath=" + disk.Path().string() + "\n");
  {
    const std::optional<FileLock> lock = FileLock::TryAcquire(file);
    ASSERT_TRUE(lock);
    EXPECT_FALSE(FileLock::TryAcquire(file));
    EXPECT_FALSE(FileLock::TryAcquire(disk.Path() / "WINDOWS" / "other.pol"));
    EXPECT_TRUE(FileLock::TryAcquire(disk.Path() / "OTHER" / "x.pol"));
    EXPECT_THROW(MachineLock::TryAcquire(machine.Get()), MachineError);
  }
  const std::optional<MachineLock> machineLock = MachineLock::TryAcquire(machine.Get());
  ASSERT_TRUE(machineLock);
  EXPECT_FALSE(FileLock::TryAcquire(file));
  EXPECT_THROW(FileLock::TryAcquire(disk.Path() / "missing" / "x.pol"), FileReadError);
}

}  // namespace
}  // namespace tarnwick::test
