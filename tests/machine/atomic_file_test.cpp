#include "machine/atomic_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <iterator>

#include "support/temp_machine_dir.h"

namespace tarnwick::test {
namespace {

class AtomicFileTest : public ::testing::Test {
 protected:
  TempMachineDir temp_;
  const std::filesystem::path& dir_ = temp_.Path();

  static std::string Contents(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  static std::vector<uint8_t> Bytes(std::string_view text) { return {text.begin(), text.end()}; }
  size_t Entries() const { return std::distance(std::filesystem::directory_iterator(dir_), {}); }
};

TEST_F(AtomicFileTest, CreatesAndReplacesLeavingNothingElse) {
  std::filesystem::path file = dir_ / "USER.DAT";
  WriteFileAtomically(file, Bytes("first"));
  EXPECT_EQ(Contents(file), "first");
  WriteFileAtomically(file, Bytes("second, longer"));
  EXPECT_EQ(Contents(file), "second, longer");
  WriteFileAtomically(file, {});
  EXPECT_EQ(Contents(file), "");
  EXPECT_EQ(Entries(), 1u);
}

TEST_F(AtomicFileTest, KeepsThePermissionsOfTheReplacedFile) {
  std::filesystem::path file = dir_ / "SYSTEM.DAT";
  WriteFileAtomically(file, Bytes("x"));
  ASSERT_EQ(chmod(file.c_str(), 0640), 0);
  WriteFileAtomically(file, Bytes("y"));
  struct stat info {};
  ASSERT_EQ(stat(file.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0640u);
}

TEST_F(AtomicFileTest, FailureNamesTheFileAndLeavesNoTemporaryFile) {
  // A non-empty directory in the way: the rename fails after the data was written.
  std::filesystem::path blocked = dir_ / "Tarnex.pol";
  std::filesystem::create_directory(blocked);
  WriteFileAtomically(blocked / "inside", Bytes("keep"));
  try {
    WriteFileAtomically(blocked, Bytes("new"));
    ADD_FAILURE() << "rename over a directory succeeded";
  } catch (const FileWriteError& e) {
    EXPECT_NE(std::string(e.what()).find(blocked.string()), std::string::npos) << e.what();
  }
  EXPECT_EQ(Entries(), 1u);
  EXPECT_EQ(Contents(blocked / "inside"), "keep");

  std::filesystem::path missing = dir_ / "no such dir" / "USER.DAT";
  try {
    WriteFileAtomically(missing, Bytes("x"));
    ADD_FAILURE() << "wrote into a missing directory";
  } catch (const FileWriteError& e) {
    EXPECT_NE(std::string(e.what()).find(missing.string()), std::string::npos) << e.what();
  }
}

TEST_F(AtomicFileTest, ALinkAtTheTargetIsReplacedNeverWrittenThrough) {
  const std::filesystem::path policy = dir_ / "Tarnex.pol";
  WriteFileAtomically(policy, Bytes("accounts"));
  std::filesystem::create_symlink("Tarnex.pol", dir_ / "SYSTEM.DA0");
  WriteFileAtomically(dir_ / "SYSTEM.DA0", Bytes("backup"));
  EXPECT_EQ(Contents(policy), "accounts");
  EXPECT_TRUE(
      std::filesystem::is_regular_file(std::filesystem::symlink_status(dir_ / "SYSTEM.DA0")));
  EXPECT_EQ(Contents(dir_ / "SYSTEM.DA0"), "backup");
  EXPECT_EQ(Entries(), 2u);
}

TEST_F(AtomicFileTest, AFolderThatIsALinkIsRefused) {
  std::filesystem::create_directory(dir_ / "outside");
  std::filesystem::create_directory_symlink(dir_ / "outside", dir_ / "bob");
  try {
    WriteFileAtomically(dir_ / "bob" / "user.dat", Bytes("x"));
    ADD_FAILURE() << "wrote through a linked folder";
  } catch (const FileWriteError& e) {
    EXPECT_NE(std::string(e.what()).find("a folder on the way is a symbolic link"),
              std::string::npos)
        << e.what();
  }
  EXPECT_TRUE(std::filesystem::is_empty(dir_ / "outside"));
}

TEST_F(AtomicFileTest, AReadOnlyFileIsRefusedUnlessTheCallerIsTheRegistry) {
  const std::filesystem::path file = dir_ / "Tarnex.pol";
  WriteFileAtomically(file, Bytes("old"));
  ASSERT_EQ(chmod(file.c_str(), 0444), 0);
  try {
    WriteFileAtomically(file, Bytes("new"));
    ADD_FAILURE() << "replaced a read-only file";
  } catch (const FileWriteError& e) {
    EXPECT_NE(std::string(e.what()).find(file.string() + ": the file is read-only"),
              std::string::npos)
        << e.what();
  }
  EXPECT_EQ(Contents(file), "old");
  EXPECT_EQ(Entries(), 1u);

  WriteFileAtomically(file, Bytes("new"), ReadOnlyFiles::Replace);
  EXPECT_EQ(Contents(file), "new");
  struct stat info {};
  ASSERT_EQ(stat(file.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0444u);
}

TEST_F(AtomicFileTest, NewFilesInAFlushSpanAreWrittenAndTheOutermostSpanEndsIt) {
  DeferredFlush flush;
  const UniqueFd dir(::open(dir_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  EXPECT_FALSE(flush.Defer(dir.Get(), dir_));
  flush.Begin();
  flush.Begin();
  EXPECT_TRUE(flush.Defer(dir.Get(), dir_));
  const std::filesystem::path file = dir_ / "Desktop.lnk";
  WriteFileAtomically(HoldParentNoFollow(file), Bytes("new"), ReadOnlyFiles::Refuse, &flush);
  WriteFileAtomically(HoldParentNoFollow(file), Bytes("replaced"), ReadOnlyFiles::Refuse, &flush);
  EXPECT_EQ(Contents(file), "replaced");
  EXPECT_EQ(Entries(), 1u);
  flush.End();
  EXPECT_TRUE(flush.Defer(dir.Get(), dir_));  // the inner span ends nothing
  flush.End();
  EXPECT_FALSE(flush.Defer(dir.Get(), dir_));
}

}  // namespace
}  // namespace tarnwick::test
