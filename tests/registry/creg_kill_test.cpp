// A writer killed at random moments leaves the old or the new registry file, never a damaged one.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <random>

#include "machine/atomic_file.h"
#include "registry/creg_file.h"
#include "registry/creg_test_trees.h"
#include "support/independent_readers.h"

namespace tarnwick::test {
namespace {

std::unique_ptr<RegNode> Tree(int generation) {
  std::mt19937 random(generation);
  auto root = std::make_unique<RegNode>();
  RegNode& software = root->AddSubkey("Software");
  software.SetValue("Generation", kRegDword, {static_cast<uint8_t>(generation), 0, 0, 0});
  size_t n = 0;
  for (int i = 0; i < 800 + generation * 50; ++i) {
    RegNode& key = software.AddSubkey("Key " + std::to_string(i));
    for (int v = 0; v < 3; ++v) test::AddSampleValue(key, n++, random);
  }
  return root;
}

// Reads until `count` bytes arrived or the writer closed its end; returns the bytes read.
int ReadNotices(int fd, int count) {
  int got = 0;
  char buffer[64];
  while (got < count) {
    ssize_t n = read(fd, buffer, std::min<size_t>(sizeof buffer, static_cast<size_t>(count - got)));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<int>(n);
  }
  return got;
}

TEST(CregKill, KilledWriterLeavesOldOrNewFile) {
  char pattern[] = "/tmp/creg-kill-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  std::filesystem::path dir = pattern;
  std::filesystem::path file = dir / "SYSTEM.DAT";
  // Write k of a writer stores tree k % 3; three trees tell the last completed write from the
  // one in flight.
  constexpr int kTrees = 3;
  std::vector<std::unique_ptr<RegNode>> trees;
  std::vector<std::vector<test::ExportedKey>> exported;
  std::vector<std::vector<uint8_t>> encoded;
  for (int t = 0; t < kTrees; ++t) {
    trees.push_back(Tree(t));
    exported.push_back(test::ExportTree(*trees.back()));
    encoded.push_back(EncodeRegistryFile(*trees.back(), file.string()));
  }

  std::mt19937 random(1995);
  int interrupted = 0;
  int leftovers = 0;
  for (int round = 0; round < 30; ++round) {
    WriteRegistryFile(file, *trees[0]);
    int notices[2];
    ASSERT_EQ(pipe(notices), 0);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      // Writes until killed and reports every completed write with one byte. Most writes reuse
      // the encoded bytes, so that most kills fall into the file operations.
      close(notices[0]);
      try {
        for (int k = 1;; ++k) {
          if (k % 4 == 1) {
            WriteRegistryFile(file, *trees[k % kTrees]);
          } else {
            WriteFileAtomically(file, encoded[k % kTrees]);
          }
          if (write(notices[1], "w", 1) != 1) _exit(3);
        }
      } catch (...) {
        _exit(2);
      }
    }
    close(notices[1]);
    // Let at least one write complete, then kill at a random moment of a later one.
    int completed = ReadNotices(notices[0], 1 + static_cast<int>(random() % 4));
    usleep(random() % 20000);
    kill(child, SIGKILL);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the writer stopped on its own: " << status;
    completed += ReadNotices(notices[0], 1 << 30);
    close(notices[0]);
    ASSERT_GE(completed, 1) << "round " << round;

    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
      if (entry.path() == file) continue;
      // An unfinished temporary file of the killed writer: never the registry file itself.
      EXPECT_EQ(entry.path().filename().string().rfind(".SYSTEM.DAT.tmp-", 0), 0u) << entry.path();
      std::filesystem::remove(entry.path());
      ++leftovers;
    }
    std::unique_ptr<RegNode> now;
    ASSERT_NO_THROW(now = ReadRegistryFile(file)) << "round " << round;
    // The last reported write, or the next one when the kill came between its rename and its
    // report.
    int last = completed % kTrees;
    int next = (completed + 1) % kTrees;
    int which = SameTree(*now, *trees[last]) ? last : next;
    ASSERT_TRUE(SameTree(*now, *trees[which])) << "round " << round << ", writes " << completed;
    if (which == next) ++interrupted;
    if (round % 5 == 0) {
      test::ReaderOutput creg = test::ReadWithCregexport(file);
      EXPECT_TRUE(creg.ok()) << creg.diagnostics;
      EXPECT_TRUE(creg.keys == exported[which]) << "round " << round;
    }
  }
  RecordProperty("unfinished_temporary_files", leftovers);
  RecordProperty("kills_after_rename", interrupted);
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace tarnwick::test
