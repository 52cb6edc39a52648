// Files of the policy store never written outside the machine, nor through a link.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <thread>

#include "base/file_io.h"
#include "policy/policy_store.h"
#include "policy/users.h"
#include "registry/registry.h"
#include "support/policy_test_machine.h"

namespace tarnwick {
namespace {

namespace fs = std::filesystem;
using testing::PolicyMachine;

std::string Slurp(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

size_t Entries(const fs::path& dir) {
  return static_cast<size_t>(std::distance(fs::directory_iterator(dir), {}));
}

TEST(PolicyStorePathsTest, APolicyFileThatCannotBeReachedIsAnErrorNotAMissingFile) {
  PolicyMachine machine;
  const fs::path outside = machine.GetMachine().Directory() / "outside";
  fs::create_directory(outside);
  { std::ofstream(outside / "x.pol") << "elsewhere"; }
  const std::string system = Slurp(machine.SystemDat());
  const fs::path policyFile = machine.PolicyFile();
  for (const fs::path& target : {outside / "x.pol", fs::path("nowhere.pol")}) {
    fs::remove(policyFile);
    fs::create_symlink(target, policyFile);
    machine.Restart();
    try {
      machine.Store().LoadPolicyFile();
      ADD_FAILURE() << "took a link to " << target << " for a missing policy file";
    } catch (const PolicyFileError& error) {
      EXPECT_NE(std::string(error.what())
                    .find("The policy file C:\\WINDOWS\\Tarnex.pol cannot be "
                          "reached: it is a symbolic link leading outside"),
                std::string::npos)
          << error.what();
    }
    EXPECT_FALSE(machine.Store().PolicyLoaded());
    machine.GetRegistry().Flush();
    EXPECT_FALSE(machine.KeyExists("TARNEX"));
    EXPECT_EQ(Slurp(machine.SystemDat()), system);
    EXPECT_EQ(Slurp(outside / "x.pol"), "elsewhere");
  }
}

TEST(PolicyStorePathsTest, TheBackupReplacesALinkInsteadOfWritingThroughIt) {
  PolicyMachine machine;
  {
    const AttachedPolicyFile attached{machine.Store()};
    TUsers(machine.Store()).AddUser("ann");
  }
  const std::string policy = Slurp(machine.PolicyFile());
  const fs::path backup = machine.Host("C:\\WINDOWS\\SYSTEM.DA0");
  fs::remove(backup);
  fs::create_symlink("Tarnex.pol", backup);
  machine.Restart();
  {
    const AttachedPolicyFile attached{machine.Store()};
    TUsers(machine.Store())
        .AddUser("bob");  // SYSTEM.DAT changes: its first change of the run makes the backup
  }
  EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(backup)));
  machine.Restart();
  const AttachedPolicyFile attached{machine.Store()};
  TUsers users{machine.Store()};
  EXPECT_NE(users.FindUser("ann"), nullptr);
  EXPECT_NE(users.FindUser("bob"), nullptr);
}

// A thread swaps the real profile folder with a link to a folder outside the machine while
// accounts are added and removed: nothing may land outside.
TEST(PolicyStorePathsTest, ALinkSwappedInDuringAddUserNeverLeadsOutside) {
  PolicyMachine machine;
  const AttachedPolicyFile attached{machine.Store()};
  const fs::path profiles = machine.Host("C:\\WINDOWS\\Profiles");
  const fs::path outside = machine.GetMachine().Directory() / "outside";
  fs::create_directories(profiles / "bob");
  fs::create_directory(outside);
  fs::create_directory_symlink(outside, profiles / ".swap");
  const UniqueFd profilesFd(open(profiles.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  const UniqueFd bobFd(open((profiles / "bob").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  ASSERT_TRUE(profilesFd.Valid() && bobFd.Valid());

  std::atomic<bool> stop{false};
  std::atomic<long> swaps{0};
  std::thread swapper([&] {
    while (!stop) {
      if (renameat2(profilesFd.Get(), "bob", profilesFd.Get(), ".swap", RENAME_EXCHANGE) == 0) {
        ++swaps;
      }
    }
  });
  const char* setting = std::getenv("TARNWICK_RACE_ATTEMPTS");
  const int attempts = setting != nullptr ? std::atoi(setting) : 1000;
  int added = 0;
  for (int i = 0; i < attempts && Entries(outside) == 0; ++i) {
    unlinkat(bobFd.Get(), "user.dat", 0);  // so that every attempt writes one
    TUsers users{machine.Store()};
    try {
      users.AddUser("bob");
      ++added;
    } catch (const AccountError&) {
      // The link was in place: refused, as it must be.
    }
    users.RemoveUser("bob");
  }
  stop = true;
  swapper.join();
  EXPECT_EQ(Entries(outside), 0u) << "after " << attempts << " attempts";
  EXPECT_GT(swaps.load(), attempts);
  EXPECT_GT(added, 0);
}

}  // namespace
}  // namespace tarnwick
