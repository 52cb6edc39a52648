// A writer killed at random moments leaves the old or the new registry file, never a damaged one.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <random>

#include "platform/atomic_file.h"
#include "platform/creg_file.h"
#include "platform/creg_test_trees.h"
#include "platform/independent_readers.h"

namespace tarnwick {
namespace {

std::unique_ptr<RegNode> Tree(int generation) {
  std::mt19937 random(generation);
  auto root = std::make_unique<RegNode>();
  RegNode& software = root->AddSubkey("Software");
  software.SetValue("Generation", kRegDword, {static_cast<uint8_t>(generation), 0, 0, 0});
  size_t n = 0;
  for (int i = 0; i < 800 + generation * 50; ++i) {
    RegNode& key = *software.subkeys.emplace_back(std::make_unique<RegNode>());
    key.name = "Key " + std::to_string(i);
    for (int v = 0; v < 3; ++v) testing::AddSampleValue(key, n++, random);
  }
  return root;
}

TEST(CregKill, KilledWriterLeavesOldOrNewFile) {
  char pattern[] = "/tmp/creg-kill-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  std::filesystem::path dir = pattern;
  std::filesystem::path file = dir / "SYSTEM.DAT";
  const std::unique_ptr<RegNode> trees[] = {Tree(0), Tree(1)};
  const std::vector<testing::ExportedKey> exported[] = {testing::ExportTree(*trees[0]),
                                                        testing::ExportTree(*trees[1])};
  const std::vector<uint8_t> encoded[] = {EncodeRegistryFile(*trees[0], file.string()),
                                          EncodeRegistryFile(*trees[1], file.string())};
  WriteRegistryFile(file, *trees[0]);

  std::mt19937 random(1995);
  int seen[2] = {0, 0};
  int leftovers = 0;
  for (int round = 0; round < 30; ++round) {
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      // Alternates the two trees until killed. Every other write reuses the encoded bytes, so
      // that most of the child's time, and so most kills, fall into the file operations.
      try {
        for (int i = 1;; ++i) {
          if (i % 4 == 1) {
            WriteRegistryFile(file, *trees[i % 2]);
          } else {
            WriteFileAtomically(file, encoded[i % 2]);
          }
        }
      } catch (...) {
        _exit(2);
      }
    }
    usleep(1000 + random() % 100000);
    kill(child, SIGKILL);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the writer stopped on its own: " << status;

    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
      if (entry.path() == file) continue;
      // An unfinished temporary file of the killed writer: never the registry file itself.
      EXPECT_EQ(entry.path().filename().string().rfind(".SYSTEM.DAT.tmp-", 0), 0u) << entry.path();
      std::filesystem::remove(entry.path());
      ++leftovers;
    }
    std::unique_ptr<RegNode> now;
    ASSERT_NO_THROW(now = ReadRegistryFile(file)) << "round " << round;
    int which = SameTree(*now, *trees[0]) ? 0 : 1;
    ASSERT_TRUE(SameTree(*now, *trees[which])) << "round " << round;
    ++seen[which];
    if (round % 5 == 0) {
      testing::ReaderOutput creg = testing::ReadWithCregexport(file);
      EXPECT_TRUE(creg.ok()) << creg.diagnostics;
      EXPECT_TRUE(creg.keys == exported[which]) << "round " << round;
    }
  }
  // Both states were left behind at some point, so kills did interrupt a run of writes.
  EXPECT_GT(seen[0], 0);
  EXPECT_GT(seen[1], 0);
  RecordProperty("unfinished_temporary_files", leftovers);
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace tarnwick
