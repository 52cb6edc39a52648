#include "operations/file_operations.h"

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <iterator>
#include <sstream>
#include <utility>

#include "formats/recycle_bin.h"
#include "operations/operation_prompter.h"
#include "operations/text_prompter.h"
#include "support/image_machine.h"
#include "support/run_program.h"
#include "support/test_machine.h"

namespace fs = std::filesystem;

namespace tarnwick::test {
namespace {

using Texts = std::vector<std::string>;

std::string ReadText(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Answers replace questions from a script (Cancel when it runs out) and records what it is told.
class ScriptedPrompter : public OperationPrompter {
 public:
  std::deque<ReplaceAnswer> answers;
  std::function<void()> beforeAnswer;
  size_t cancelAfterFiles = SIZE_MAX;  // asks to stop once this many files were started
  Texts questions;
  Texts copied;  // the files started, as "FOLDER/NAME"
  uint64_t done = 0;
  uint64_t total = 0;

  ReplaceAnswer ConfirmReplace(const ReplaceQuestion& question) override {
    questions.push_back(question.Text([](std::chrono::sys_seconds) { return "TIME"; }));
    if (beforeAnswer) std::exchange(beforeAnswer, nullptr)();
    if (answers.empty()) return ReplaceAnswer::Cancel;
    const ReplaceAnswer answer = answers.front();
    answers.pop_front();
    return answer;
  }
  void Copying(const fs::path& from, const fs::path&) override {
    copied.push_back(from.parent_path().filename().string() + "/" + from.filename().string());
  }
  void Progress(uint64_t doneNow, uint64_t totalNow) override {
    EXPECT_GE(doneNow, done);
    done = doneNow;
    total = totalNow;
  }
  bool Cancelled() override { return copied.size() >= cancelAfterFiles; }
};

class FileOperationsTest : public ::testing::Test {
 protected:
  FileOperationsTest()
      : machine_(
            "[Drive A]\nType=removable\nPath=a\n[Drive C]\nType=fixed\nPath=c\nLabel=SYSTEM\n"
            "[Drive D]\nType=cdrom\nPath=d\n") {}

  const Machine& machine() { return machine_.Get(); }
  void Write(const std::string& relative, const std::string& text) {
    machine_.Write(relative, text);
  }
  fs::path Host(const std::string& relative) const { return machine_.Host(relative); }
  std::string Read(const std::string& relative) const { return ReadText(Host(relative)); }

  OperationResult Copy(const std::string& from, const std::string& to) {
    return CopyDirectoryTree(machine(), from, to, prompter_);
  }
  // The text of the FileOperationError the call throws, prefixed "not started: " for a check.
  std::string Failure(const std::function<void()>& call) {
    try {
      call();
    } catch (const FileOperationNotStarted& e) {
      return std::string("not started: ") + e.what();
    } catch (const Error& e) {
      return e.what();
    }
    return "no failure";
  }

  ScriptedPrompter prompter_;

 private:
  test::TestMachine machine_;
};

TEST_F(FileOperationsTest, MakeDirectoryCreatesOneLevelAndNeverFails) {
  MakeDirectory(machine(), "C:\\New\\");
  EXPECT_TRUE(fs::is_directory(Host("c/New")));
  for (const char* path : {"C:\\NEW", "C:\\Missing\\Child", "C:\\..\\Outside", "Q:\\NoDrive", ""}) {
    MakeDirectory(machine(), path);
  }
  EXPECT_FALSE(fs::exists(Host("c/Missing")));
  EXPECT_FALSE(fs::exists(Host("Outside")));
}

TEST_F(FileOperationsTest, CopyChecksItsArgumentsFirst) {
  Write("c/A/file.txt", "a");
  Write("c/A.txt", "not a folder");

  EXPECT_EQ(Copy(" \t\r\n", "C:\\B"), OperationResult::NothingNamed);
  EXPECT_EQ(Copy("C:\\A", ""), OperationResult::NothingNamed);
  EXPECT_EQ(Copy("C:\\A", "\\"), OperationResult::NothingNamed);

  Texts failures;
  for (const auto& [from, to] :
       std::vector<std::pair<std::string, std::string>>{{" C:\\Missing\\ ", "C:\\B"},
                                                        {"C:\\A.txt", "C:\\B"},
                                                        {"C:\\A", "C:\\No\\Such"},
                                                        {"C:\\A", "C:\\A.txt"},
                                                        {"C:\\A\\", "C:\\A"}}) {
    failures.push_back(Failure([&] { Copy(from, to); }));
  }
  EXPECT_EQ(failures, (Texts{"not started: Source Directory - C:\\Missing - not found.",
                             "not started: Source Directory - C:\\A.txt - not found.",
                             "not started: Destination Directory not found.",
                             "not started: Destination Directory not found.",
                             "not started: Can not overwrite source files."}));
  EXPECT_FALSE(fs::exists(Host("c/B")));
  EXPECT_FALSE(fs::exists(Host("c/No")));
  EXPECT_TRUE(prompter_.questions.empty());
}

TEST_F(FileOperationsTest, CopyMergesFoldersAndAsksBeforeReplacing) {
  Write("c/A/one.txt", "new one");
  Write("c/A/Sub/three.txt", "new three");
  Write("c/A/Sub/Deep/four.txt", "four");
  Write("c/A/two.txt", "two");
  fs::create_directories(Host("c/A/Empty"));
  Write("c/B/one.txt", "old");
  Write("c/B/SUB/THREE.TXT", "old three");
  Write("c/B/SUB/kept.txt", "kept");

  prompter_.answers = {ReplaceAnswer::YesToAll, ReplaceAnswer::Yes};  // one.txt, the folder Sub
  EXPECT_EQ(Copy("  C:\\A\\", "c:\\b\\"), OperationResult::Done);

  EXPECT_EQ(prompter_.questions,
            (Texts{"This folder already contains a file named 'one.txt'.\n\nWould you like to "
                   "replace the existing file\n\n    3 bytes\n    modified on TIME\n\nwith this "
                   "one?\n\n    7 bytes\n    modified on TIME",
                   "This folder already contains a folder named 'SUB'.\n\nIf the files in the "
                   "existing folder have the same name as files in the folder you are copying, "
                   "they will be replaced. Do you still want to copy the folder?"}));
  EXPECT_EQ(Read("c/B/one.txt"), "new one");
  EXPECT_EQ(Read("c/B/SUB/THREE.TXT"), "new three");
  EXPECT_FALSE(fs::exists(Host("c/B/SUB/three.txt")));
  EXPECT_EQ(Read("c/B/SUB/kept.txt"), "kept");
  EXPECT_EQ(Read("c/B/SUB/Deep/four.txt"), "four");
  EXPECT_EQ(Read("c/B/two.txt"), "two");
  EXPECT_TRUE(fs::is_directory(Host("c/B/Empty")));
  EXPECT_EQ(fs::last_write_time(Host("c/B/two.txt")), fs::last_write_time(Host("c/A/two.txt")));
  EXPECT_EQ(prompter_.done, prompter_.total);
}

TEST_F(FileOperationsTest, CopyStopsAtCancelAndSkipsOnNo) {
  for (const char* name : {"a.txt", "b.txt", "c.txt", "d.txt", "e.txt"}) {
    Write(std::string("c/A/") + name, std::string("new ") + name);
  }
  for (const char* name : {"b.txt", "c.txt", "d.txt"}) {
    Write(std::string("c/B/") + name, std::string("old ") + name);
  }
  prompter_.answers = {ReplaceAnswer::Yes, ReplaceAnswer::No, ReplaceAnswer::Cancel};
  EXPECT_EQ(Copy("C:\\A", "C:\\B"), OperationResult::Cancelled);
  EXPECT_EQ(prompter_.questions.size(), 3u);
  EXPECT_EQ(Read("c/B/a.txt"), "new a.txt");
  EXPECT_EQ(Read("c/B/b.txt"), "new b.txt");
  EXPECT_EQ(Read("c/B/c.txt"), "old c.txt");
  EXPECT_EQ(Read("c/B/d.txt"), "old d.txt");
  EXPECT_FALSE(fs::exists(Host("c/B/e.txt")));
}

TEST_F(FileOperationsTest, ACancelMidwayKeepsWhatWasCopiedAndLeavesNoPartialFile) {
  Write("c/A/a.txt", "a");
  Write("c/A/b.bin", std::string(3 << 20, 'b'));
  Write("c/A/Sub/c.txt", "c");
  prompter_.cancelAfterFiles = 2;  // while b.bin is read
  EXPECT_EQ(Copy("C:\\A", "C:\\B"), OperationResult::Cancelled);
  EXPECT_EQ(prompter_.copied, (Texts{"A/a.txt", "A/b.bin"}));
  EXPECT_EQ(Read("c/B/a.txt"), "a");
  EXPECT_FALSE(fs::exists(Host("c/B/b.bin")));
  EXPECT_FALSE(fs::exists(Host("c/B/Sub")));
  EXPECT_LT(prompter_.done, prompter_.total);
}

TEST_F(FileOperationsTest, CopyNeverCopiesADirectoryOntoItselfOrIntoItself) {
  Write("c/A/file.txt", "keep me");
  Write("c/A/Sub/inner.txt", "inner");
  EXPECT_EQ(Failure([&] { Copy("C:\\A", "c:\\a"); }),
            "Cannot copy file.txt: The source and destination file names are the same.");
  EXPECT_EQ(Read("c/A/file.txt"), "keep me");
  EXPECT_EQ(Failure([&] { Copy("C:\\A", "C:\\A\\Sub\\Copy"); }),
            "Cannot copy Sub: The destination folder is a subfolder of the source folder.");
  EXPECT_FALSE(fs::exists(Host("c/A/Sub/Copy/Sub")));

  fs::create_directories(Host("c/Empty"));
  EXPECT_EQ(Copy("C:\\Empty", "c:\\EMPTY"), OperationResult::Done);
  EXPECT_EQ(Copy("C:\\Empty", "C:\\Fresh"), OperationResult::Done);
  EXPECT_TRUE(fs::is_directory(Host("c/Fresh")));
}

TEST_F(FileOperationsTest, CopyReplacesSymbolicLinksInsteadOfWritingThroughThem) {
  Write("outside.txt", "outside the drive");
  Write("c/A/file.txt", "new");
  fs::create_directories(Host("c/B"));
  fs::create_symlink(Host("outside.txt"), Host("c/B/file.txt"));
  fs::create_symlink(Host("nowhere.txt"), Host("c/B/FILE2.TXT"));
  Write("c/A/file2.txt", "two");
  prompter_.answers = {ReplaceAnswer::YesToAll};
  EXPECT_EQ(Copy("C:\\A", "C:\\B"), OperationResult::Done);
  EXPECT_EQ(Read("outside.txt"), "outside the drive");
  EXPECT_FALSE(fs::exists(Host("nowhere.txt")));
  EXPECT_FALSE(fs::is_symlink(Host("c/B/file.txt")));
  EXPECT_EQ(Read("c/B/file.txt"), "new");
  EXPECT_EQ(Read("c/B/FILE2.TXT"), "two");
}

TEST_F(FileOperationsTest, CopyLeavesOutSymbolicLinksOfTheSource) {
  Write("c/A/file.txt", "file");
  fs::create_directory_symlink(Host("c/A"), Host("c/A/Loop"));
  fs::create_symlink(Host("c/A/file.txt"), Host("c/A/link.txt"));
  EXPECT_EQ(Copy("C:\\A", "C:\\B"), OperationResult::Done);
  EXPECT_EQ(Read("c/B/file.txt"), "file");
  EXPECT_FALSE(fs::exists(fs::symlink_status(Host("c/B/Loop"))));
  EXPECT_FALSE(fs::exists(fs::symlink_status(Host("c/B/link.txt"))));
  EXPECT_EQ(prompter_.total, 5u);
}

// Another program puts a link to a folder outside the drive in the destination folder's place
// while the question is open: the copy goes into no folder reached through it.
TEST_F(FileOperationsTest, AFolderSwappedForALinkDuringTheCopyTakesNothing) {
  Write("c/A/Sub/one.txt", "new");
  Write("c/A/Sub/two.txt", "two");
  Write("c/B/Sub/one.txt", "old");
  fs::create_directories(Host("outside"));
  prompter_.beforeAnswer = [&] {
    fs::rename(Host("c/B/Sub"), Host("c/B/Sub.real"));
    fs::create_directory_symlink(Host("outside"), Host("c/B/Sub"));
  };
  prompter_.answers = {ReplaceAnswer::Yes, ReplaceAnswer::Yes};  // the folder Sub, one.txt
  EXPECT_NE(Failure([&] { Copy("C:\\A", "C:\\B"); }), "no failure");
  EXPECT_TRUE(fs::is_empty(Host("outside")));
  EXPECT_EQ(Read("c/B/Sub.real/one.txt"), "old");
}

TEST_F(FileOperationsTest, TheTextPrompterAsksUntilAnsweredAndCancelsAtTheEndOfItsInput) {
  for (const char* name : {"one.txt", "three.txt", "two.txt"})
    Write(std::string("c/A/") + name, "new");
  Write("c/B/one.txt", "old");
  Write("c/B/two.txt", "old");
  std::istringstream in("what\n no \n");
  std::ostringstream out;
  TextPrompter text(in, out);
  EXPECT_EQ(CopyDirectoryTree(machine(), "C:\\A", "C:\\B", text), OperationResult::Cancelled);
  EXPECT_EQ(Read("c/B/one.txt"), "old");
  EXPECT_EQ(Read("c/B/three.txt"), "new");
  EXPECT_EQ(Read("c/B/two.txt"), "old");
  const std::string shown = out.str();
  const std::string ask = "[Y]es, Yes to [A]ll, [N]o, [C]ancel? ";
  EXPECT_TRUE(shown.starts_with("This folder already contains a file named 'one.txt'.")) << shown;
  EXPECT_NE(shown.find(ask + ask +
                       "Copying three.txt from 'A' to 'B'\n"
                       "This folder already contains a file named 'two.txt'."),
            std::string::npos)
      << shown;
  EXPECT_TRUE(shown.ends_with("\n" + ask)) << shown;  // the end of the input answered it
}

TEST_F(FileOperationsTest, DeleteChecksItsArgument) {
  Write("c/file.txt", "x");
  EXPECT_EQ(DeleteDirectoryTree(machine(), ""), OperationResult::NothingNamed);
  EXPECT_EQ(Failure([&] { DeleteDirectoryTree(machine(), "C:\\file.txt"); }),
            "not started: Directory to delete not found.");
  EXPECT_EQ(Failure([&] { DeleteDirectoryTree(machine(), "C:\\Missing\\"); }),
            "not started: Directory to delete not found.");
  EXPECT_EQ(Failure([&] { DeleteDirectoryTree(machine(), "C:\\"); }),
            "Cannot delete C:\\: It is the root folder of the drive.");
  EXPECT_TRUE(fs::exists(Host("c/file.txt")));
}

TEST_F(FileOperationsTest, DeleteMovesTheTreeIntoTheRecycleBinThatRifiuti2Reads) {
  Write("c/Profiles/Anna/user.dat", "anna");
  Write("c/Profiles/Anna/Desktop/note.txt", "note");
  Write("c/Profiles/Ben/user.dat", "ben");

  EXPECT_EQ(DeleteDirectoryTree(machine(), "c:\\profiles\\ANNA\\"), OperationResult::Done);
  EXPECT_EQ(DeleteDirectoryTree(machine(), "C:\\Profiles\\Ben"), OperationResult::Done);
  EXPECT_FALSE(fs::exists(Host("c/Profiles/Anna")));
  EXPECT_FALSE(fs::exists(Host("c/Profiles/Ben")));
  EXPECT_EQ(Read("c/RECYCLED/Dc1.dat"), "anna");
  EXPECT_EQ(Read("c/RECYCLED/Dc2.dat"), "ben");

  const test::ProgramRun bin =
      test::RunProgram({"rifiuti2", "-l", "CP1252", Host("c/RECYCLED/INFO").string()});
  ASSERT_EQ(bin.status, 0) << bin.err;
  for (const char* path : {"C:\\Profiles\\Anna\\Desktop\\note.txt", "C:\\Profiles\\Anna\\user.dat",
                           "C:\\Profiles\\Ben\\user.dat"}) {
    EXPECT_NE(bin.out.find(path), std::string::npos) << path << "\n" << bin.out;
  }
}

TEST_F(FileOperationsTest, DeleteReportsWhatTheRecycleBinRefusesAndDeletesAtOnceWithoutOne) {
  Write("c/Kept/file.txt", "kept");
  Write("c/RECYCLED/INFO", "damaged");
  EXPECT_NE(
      Failure([&] { DeleteDirectoryTree(machine(), "C:\\Kept"); }).find("Nothing was deleted."),
      std::string::npos);
  EXPECT_EQ(Read("c/Kept/file.txt"), "kept");

  Write("a/Floppy/file.txt", "floppy");
  EXPECT_EQ(DeleteDirectoryTree(machine(), "A:\\Floppy"), OperationResult::Done);
  EXPECT_FALSE(fs::exists(Host("a/Floppy")));
  EXPECT_FALSE(fs::exists(Host("a/RECYCLED")));

  // A CD-ROM is read-only.
  Write("d/Setup/setup.exe", "setup");
  EXPECT_TRUE(Failure([&] {
                DeleteDirectoryTree(machine(), "D:\\Setup");
              }).starts_with("Cannot delete D:\\Setup: Access is denied."));
  EXPECT_EQ(Read("d/Setup/setup.exe"), "setup");
}

TEST_F(FileOperationsTest, DeleteAtOnceKeepsReadOnlyFilesAndNeverFollowsLinks) {
  Write("a/Floppy/sub/file.txt", "floppy");
  Write("a/Floppy/locked.txt", "locked");
  Write("outside/keep.txt", "keep");
  fs::permissions(Host("a/Floppy/locked.txt"), fs::perms::owner_read);
  const std::string failure = Failure([&] { DeleteDirectoryTree(machine(), "A:\\Floppy"); });
  EXPECT_NE(failure.find("locked.txt: the file is read-only"), std::string::npos) << failure;
  EXPECT_EQ(Read("a/Floppy/sub/file.txt"), "floppy");  // nothing was deleted

  fs::permissions(Host("a/Floppy/locked.txt"), fs::perms::owner_write, fs::perm_options::add);
  fs::create_directory_symlink(Host("outside"), Host("a/Floppy/sub/link"));
  EXPECT_EQ(DeleteDirectoryTree(machine(), "A:\\Floppy"), OperationResult::Done);
  EXPECT_FALSE(fs::exists(fs::symlink_status(Host("a/Floppy"))));
  EXPECT_EQ(Read("outside/keep.txt"), "keep");
}

// A profile's Start Menu copied on a FAT16 image the way an emulator's disk holds it, given by
// long names, aliases and any letter case; mtools reads every copy by both names, fsck.fat finds
// the volume sound, and the profile deleted again leaves nothing behind.
TEST(FileOperationsOnImage, CopyMergeAndDeleteOnAFat16ImageThatMtoolsAndFsckAccept) {
  const std::string big(70000, 'B');
  const ImageMachine image(
      16, {{"WINDOWS/Start Menu/Programs/Accessories/WordPad Notes.txt", "notes"},
           {"WINDOWS/Start Menu/Programs/Accessories/Paint.txt", "new paint"},
           {"WINDOWS/Start Menu/Programs/MS-DOS Prompt.pif", "pif"},
           {"WINDOWS/Start Menu/Programs/Big Program Data.bin", big},
           {"WINDOWS/Start Menu/Programs/StartUp/", ""},
           {"WINDOWS/Profiles/Kids/Start Menu/Programs/Accessories/Paint.txt", "old paint"},
           {"WINDOWS/Profiles/Kids/Start Menu/Programs/Old Game.txt", "old"}});
  {
    const Machine machine = image.Open();
    ScriptedPrompter prompter;
    // Merge Programs with all that follows, then replace Paint.txt.
    prompter.answers = {ReplaceAnswer::YesToAll, ReplaceAnswer::Yes};
    EXPECT_EQ(CopyDirectoryTree(machine, "c:\\windows\\STARTM~1",
                                "C:\\WINDOWS\\PROFILES\\kids\\STARTM~1\\", prompter),
              OperationResult::Done);
    ASSERT_EQ(prompter.questions.size(), 2u);
    EXPECT_TRUE(prompter.questions[0].starts_with(
        "This folder already contains a folder named 'Programs'."));
    EXPECT_TRUE(prompter.questions[1].starts_with(
        "This folder already contains a file named 'Paint.txt'.\n\nWould you like to replace the "
        "existing file\n\n    9 bytes"))
        << prompter.questions[1];
    EXPECT_EQ(prompter.copied,
              (Texts{"Accessories/Paint.txt", "Accessories/WordPad Notes.txt",
                     "Programs/Big Program Data.bin", "Programs/MS-DOS Prompt.pif"}));
    EXPECT_EQ(prompter.done, prompter.total);
    EXPECT_EQ(prompter.total, 6u + 10 + 4 + 70001);
    // A copy into its own subfolder is refused on an image too.
    EXPECT_THROW(CopyDirectoryTree(machine, "C:\\WINDOWS\\Start Menu",
                                   "C:\\WINDOWS\\STARTM~1\\Programs\\Copy", prompter),
                 FileOperationError);
  }
  const std::string kids = "/WINDOWS/Profiles/Kids/Start Menu/Programs/";
  const std::string shortKids = "/WINDOWS/PROFILES/KIDS/STARTM~1/PROGRAMS/";
  for (const auto& [name, alias, content] :
       std::vector<std::tuple<std::string, std::string, std::string>>{
           {"Accessories/WordPad Notes.txt", "ACCESS~1/WORDPA~1.TXT", "notes"},
           {"Accessories/Paint.txt", "ACCESS~1/PAINT.TXT", "new paint"},
           {"MS-DOS Prompt.pif", "MS-DOS~1.PIF", "pif"},
           {"Big Program Data.bin", "BIGPRO~1.BIN", big},
           {"Old Game.txt", "OLDGAM~1.TXT", "old"}}) {
    EXPECT_EQ(image.Type(kids + name), content) << name;
    EXPECT_EQ(image.Type(shortKids + alias), content) << alias;
  }
  const ProgramRun listing = image.Mtools("mdir", {"-/", "::" + kids});
  EXPECT_NE(listing.out.find("StartUp"), std::string::npos) << listing.out;
  image.ExpectClean();

  {
    const Machine machine = image.Open();
    EXPECT_EQ(DeleteDirectoryTree(machine, "c:\\windows\\profiles\\KIDS\\"), OperationResult::Done);
    EXPECT_FALSE(machine.Stat("C:\\WINDOWS\\Profiles\\Kids"));
    EXPECT_TRUE(machine.Stat("C:\\WINDOWS\\Start Menu\\Programs\\Big Program Data.bin"));
  }
  EXPECT_NE(image.Mtools("mdir", {"::/WINDOWS/Profiles/Kids"}).status, 0);
  EXPECT_EQ(image.Mtools("mdir", {"::/WINDOWS/Profiles"}).status, 0);
  image.ExpectClean();
}

}  // namespace
}  // namespace tarnwick::test
