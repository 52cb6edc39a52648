#include "machine/machine.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/temp_machine_dir.h"

namespace tarnwick::test {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kMachineIni =
    "[Machine]\n"
    "WindowsDirectory=C:\\WINDOWS\n"
    "ProgramPath=C:\\TARNEX\\TARNEX.EXE\n"
    "[Drive D]\nType=cdrom\nPath=\n"
    "[Drive C]\nType=fixed\nPath=c\nLabel=SYSTEM\nSerial=2A1B-07C4\n"
    "[Drive n]\nType=remote\nPath=net\nRemoteName=\\\\Server\\Share\\\n"
    "[Drive A]\nType=removable\n";

class MachineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_.WriteFile("machine.ini", kMachineIni);
    dir_.WriteFile("c/WINDOWS/SYSTEM.DAT", "");
    dir_.WriteFile("c/Program Files/Accessories/WORDPAD.EXE", "");
    dir_.WriteFile("c/caf\u00E9/menu.txt", "");
    dir_.WriteFile("net/Public/readme.txt", "");
    dir_.WriteFile("outside/secret.txt", "");
    machine_ = Machine::Open(dir_.Path());
  }

  fs::path C() const { return dir_.Path() / "c"; }
  std::optional<fs::path> Host(std::string_view windowsPath) const {
    return machine_.HostPath(windowsPath);
  }

  TempMachineDir dir_;
  Machine machine_;
};

TEST_F(MachineTest, ReadsDrivesInLetterOrder) {
  const std::vector<DriveInfo>& drives = machine_.Drives();
  ASSERT_EQ(drives.size(), 4u);
  EXPECT_EQ(drives[0].letter, 'A');
  EXPECT_EQ(drives[0].type, DriveType::Removable);
  EXPECT_FALSE(drives[0].HasMedium());
  EXPECT_EQ(drives[1].letter, 'C');
  EXPECT_EQ(drives[1].type, DriveType::Fixed);
  EXPECT_EQ(drives[1].hostDir, fs::canonical(C()));
  EXPECT_EQ(drives[1].label, "SYSTEM");
  EXPECT_EQ(drives[1].serial, 0x2A1B07C4u);
  EXPECT_EQ(drives[2].type, DriveType::CdRom);
  EXPECT_FALSE(drives[2].HasMedium());
  EXPECT_EQ(drives[3].letter, 'N');
  EXPECT_EQ(drives[3].remoteName, "\\\\Server\\Share");
  EXPECT_EQ(machine_.FindDrive('n'), &drives[3]);
  EXPECT_EQ(machine_.FindDrive('Q'), nullptr);
  EXPECT_EQ(machine_.WindowsDirectory(), "C:\\WINDOWS");
  EXPECT_EQ(machine_.ProgramPath(), "C:\\TARNEX\\TARNEX.EXE");
}

TEST_F(MachineTest, MatchesExistingComponentsIgnoringCase) {
  EXPECT_EQ(Host("c:\\windows\\system.dat"), C() / "WINDOWS" / "SYSTEM.DAT");
  EXPECT_EQ(Host("C:\\PROGRAM FILES\\accessories\\WordPad.exe"),
            C() / "Program Files" / "Accessories" / "WORDPAD.EXE");
  // Code page 1252 components match their UTF-8 names on the host; case folds ASCII only.
  EXPECT_EQ(Host("C:\\CAF\xE9\\MENU.TXT"), C() / "caf\u00E9" / "menu.txt");
  EXPECT_EQ(Host("C:\\CAF\xC9\\"), C() / "caf\u00E9");  // its 8.3 alias
  EXPECT_EQ(Host("C:\\CAF\xC9S"), C() / "CAF\u00C9S");
}

TEST_F(MachineTest, MatchesShortAliasesOfLongNames) {
  EXPECT_EQ(Host("C:\\PROGRA~1\\ACCESS~1\\WORDPAD.EXE"),
            C() / "Program Files" / "Accessories" / "WORDPAD.EXE");
  EXPECT_EQ(Host("c:\\progra~1"), C() / "Program Files");
  // An alias nothing carries is a new name like any other.
  EXPECT_EQ(Host("C:\\PROGRA~2"), C() / "PROGRA~2");
}

TEST_F(MachineTest, NewComponentsKeepTheCaseGiven) {
  EXPECT_EQ(Host("C:\\windows\\Profiles\\Anna\\USER.DAT"),
            C() / "WINDOWS" / "Profiles" / "Anna" / "USER.DAT");
}

TEST_F(MachineTest, RootsTrailingBackslashesAndDots) {
  EXPECT_EQ(Host("C:"), C());
  EXPECT_EQ(Host("C:\\"), C());
  EXPECT_EQ(Host("C:\\WINDOWS\\\\"), C() / "WINDOWS");
  EXPECT_EQ(Host("C:\\.\\WINDOWS\\.\\SYSTEM.DAT"), C() / "WINDOWS" / "SYSTEM.DAT");
  EXPECT_EQ(Host("C:\\WINDOWS\\..\\Program Files"), C() / "Program Files");
  EXPECT_EQ(Host("C:/WINDOWS/SYSTEM.DAT"), C() / "WINDOWS" / "SYSTEM.DAT");
}

TEST_F(MachineTest, UncPathsMapThroughTheRemoteName) {
  const fs::path net = dir_.Path() / "net";
  EXPECT_EQ(Host("\\\\SERVER\\share\\public\\README.TXT"), net / "Public" / "readme.txt");
  EXPECT_EQ(Host("\\\\server\\share"), net);
  EXPECT_EQ(Host("N:\\Public"), net / "Public");
  EXPECT_FALSE(Host("\\\\SERVER\\OTHER\\x"));
  EXPECT_FALSE(Host("\\\\SERVER"));
  EXPECT_FALSE(Host("\\\\?\\C:\\WINDOWS"));
}

TEST_F(MachineTest, RefusesPathsWithoutADriveWithMedium) {
  EXPECT_FALSE(Host("A:\\"));
  EXPECT_FALSE(Host("D:\\SETUP.EXE"));
  EXPECT_FALSE(Host("Q:\\"));
  EXPECT_FALSE(Host("WINDOWS\\SYSTEM.DAT"));
  EXPECT_FALSE(Host("\\WINDOWS"));
  EXPECT_FALSE(Host(""));
  EXPECT_FALSE(Host("1:\\"));
}

TEST_F(MachineTest, NeverLeavesTheDrive) {
  EXPECT_FALSE(Host("C:\\..\\..\\etc\\passwd"));
  EXPECT_FALSE(Host("C:\\..\\outside\\secret.txt"));
  EXPECT_FALSE(Host("C:\\WINDOWS\\..\\..\\outside"));
  EXPECT_FALSE(Host("C:/../outside"));
  EXPECT_FALSE(Host("\\\\SERVER\\SHARE\\..\\c"));
  EXPECT_FALSE(Host("C:\\...\\outside"));
  EXPECT_FALSE(Host("C:\\WINDOWS\\A:B"));
  EXPECT_FALSE(Host(std::string("C:\\WINDOWS\\a\0b", 14)));
}

TEST_F(MachineTest, FollowsSymbolicLinksOnlyWithinTheDrive) {
  fs::create_directory_symlink(dir_.Path() / "outside", C() / "escape");
  fs::create_directory_symlink("/", C() / "Root");
  fs::create_symlink(dir_.Path() / "outside" / "new.txt", C() / "dangling.txt");
  fs::create_directory_symlink(C() / "Program Files", C() / "PROGRA~1");
  fs::create_symlink("loop", C() / "loop");
  fs::create_directory_symlink(".", C() / "self");
  fs::create_symlink("../WINDOWS/./SYSTEM.DAT", C() / "Program Files" / "system");
  fs::create_symlink("system", C() / "Program Files" / "chain");
  fs::create_directory_symlink("../c/WINDOWS", C() / "around");
  EXPECT_FALSE(Host("C:\\escape\\secret.txt"));
  EXPECT_FALSE(Host("C:\\ESCAPE"));
  EXPECT_FALSE(Host("C:\\root\\etc\\passwd"));
  EXPECT_FALSE(Host("C:\\dangling.txt"));
  EXPECT_FALSE(Host("C:\\loop\\x"));
  EXPECT_FALSE(Host("C:\\around"));  // climbs above the drive on the way
  EXPECT_EQ(Host("C:\\SELF\\self\\self\\Program Files\\CHAIN"),
            fs::canonical(C() / "WINDOWS" / "SYSTEM.DAT"));
  EXPECT_EQ(Host("C:\\self\\new\\x"), fs::canonical(C()) / "new" / "x");
  EXPECT_EQ(Host("C:\\progra~1\\ACCESSORIES"),
            fs::canonical(C() / "Program Files") / "Accessories");
}

TEST_F(MachineTest, LookUpTellsAPathThatLeavesTheDriveFromAMissingOne) {
  fs::create_directory_symlink(dir_.Path() / "outside", C() / "escape");
  fs::create_symlink("nowhere", C() / "dangling.txt");
  fs::create_symlink("WINDOWS/SYSTEM.DAT", C() / "SYSTEM.LNK");
  const auto status = [this](std::string_view path) { return machine_.LookUp(path).status; };
  EXPECT_EQ(status("C:\\WINDOWS\\missing\\file"), PathStatus::Found);
  EXPECT_EQ(status("C:\\escape\\secret.txt"), PathStatus::Unreachable);
  EXPECT_EQ(status("C:\\dangling.txt"), PathStatus::Unreachable);
  EXPECT_EQ(status("C:\\..\\outside"), PathStatus::Unreachable);
  EXPECT_EQ(status("D:\\x"), PathStatus::NoDrive);
  EXPECT_EQ(status("Q:\\x"), PathStatus::NoDrive);
  EXPECT_EQ(status("C:\\a|b"), PathStatus::Malformed);
  EXPECT_EQ(status("WINDOWS"), PathStatus::Malformed);

  // Not following the last link gives the link itself, as a replace or delete needs it.
  EXPECT_EQ(machine_.LookUp("C:\\system.lnk", false).host, fs::canonical(C()) / "SYSTEM.LNK");
  EXPECT_EQ(machine_.LookUp("C:\\dangling.txt", false).host, fs::canonical(C()) / "dangling.txt");
  EXPECT_EQ(machine_.LookUp("C:\\system.lnk").host, fs::canonical(C() / "WINDOWS" / "SYSTEM.DAT"));
}

TEST_F(MachineTest, HoldOpensTheParentWithoutFollowingLinks) {
  fs::create_directory_symlink(dir_.Path() / "outside", C() / "escape");
  fs::create_directory_symlink("WINDOWS", C() / "win");
  HeldPath held = machine_.Hold("C:\\windows\\system.dat");
  ASSERT_TRUE(held.dir.Valid());
  EXPECT_EQ(held.name, "SYSTEM.DAT");
  EXPECT_EQ(held.host, fs::canonical(C()) / "WINDOWS" / "SYSTEM.DAT");
  struct stat info {};
  EXPECT_TRUE(StatEntry(held, info) && S_ISREG(info.st_mode));

  // A link inside the drive is followed by the program's rules, never by the kernel.
  held = machine_.Hold("C:\\WIN\\new.txt");
  ASSERT_TRUE(held.dir.Valid());
  EXPECT_EQ(held.host, fs::canonical(C()) / "WINDOWS" / "new.txt");

  held = machine_.Hold("C:\\missing\\new.txt");
  EXPECT_FALSE(held.dir.Valid());
  EXPECT_EQ(held.error, ENOENT);
  for (const char* refused : {"C:\\escape\\new.txt", "C:\\", "D:\\x", "C:\\..\\outside\\x"}) {
    EXPECT_THROW(machine_.Hold(refused), MachineError) << refused;
  }

  // A host path whose folder became a link since it was looked up is refused.
  held = HoldParentNoFollow(C() / "win" / "SYSTEM.DAT");
  EXPECT_FALSE(held.dir.Valid());
  EXPECT_EQ(held.error, ELOOP);
  EXPECT_NE(WalkErrorText(held.error).find("symbolic link"), std::string::npos);
}

TEST_F(MachineTest, RemoveTreeStaysInTheTreeAndSparesReadOnlyFiles) {
  dir_.WriteFile("c/Old/sub/a.txt", "a");
  dir_.WriteFile("c/Old/b.txt", "b");
  fs::create_directory_symlink(dir_.Path() / "outside", C() / "Old" / "sub" / "escape");
  EXPECT_EQ(RemoveTree(machine_.Hold("C:\\OLD")), "");
  EXPECT_FALSE(fs::exists(C() / "Old"));
  EXPECT_TRUE(fs::exists(dir_.Path() / "outside" / "secret.txt"));

  dir_.WriteFile("c/Kept/sub/a.txt", "a");
  dir_.WriteFile("c/Kept/z.txt", "z");
  fs::permissions(C() / "Kept" / "z.txt", fs::perms::owner_read | fs::perms::group_read);
  const std::string failure = RemoveTree(machine_.Hold("C:\\Kept"));
  EXPECT_NE(failure.find("z.txt: the file is read-only"), std::string::npos) << failure;
  EXPECT_TRUE(fs::exists(C() / "Kept" / "sub" / "a.txt"));  // nothing at all was deleted
  EXPECT_NE(RemoveTree(machine_.Hold("C:\\Gone")).find("No such file"), std::string::npos);
}

TEST_F(MachineTest, WindowsPathIsTheReverse) {
  EXPECT_EQ(machine_.WindowsPath(C()), "C:\\");
  EXPECT_EQ(machine_.WindowsPath(C() / "WINDOWS" / "SYSTEM.DAT"), "C:\\WINDOWS\\SYSTEM.DAT");
  EXPECT_EQ(machine_.WindowsPath(C() / "caf\u00E9" / ""), "C:\\caf\xE9");
  EXPECT_EQ(machine_.WindowsPath(dir_.Path() / "net" / "Public"), "N:\\Public");
  EXPECT_EQ(machine_.WindowsPath(C() / "WINDOWS" / ".." / "x"), "C:\\x");
  EXPECT_FALSE(machine_.WindowsPath(dir_.Path() / "outside"));
  EXPECT_FALSE(machine_.WindowsPath(C() / "\u4E2D"));
}

TEST(MachineIniTest, DefaultsForTheMachineSection) {
  TempMachineDir dir;
  dir.WriteFile("machine.ini", "[Drive C]\nType=fixed\nPath=" + (dir.Path() / "disk").string());
  fs::create_directory(dir.Path() / "disk");
  const Machine machine = Machine::Open(dir.Path());
  EXPECT_EQ(machine.WindowsDirectory(), "C:\\WINDOWS");
  EXPECT_EQ(machine.ProgramPath(), "C:\\TARNEX\\TARNEX.EXE");
  EXPECT_EQ(machine.Drives().at(0).hostDir, fs::canonical(dir.Path() / "disk"));
  EXPECT_EQ(machine.Drives().at(0).label, "");
}

TEST(MachineIniTest, BadFilesNameTheFileLineAndFault) {
  const std::string drive = "[Drive C]\nType=fixed\nPath=c\n";
  const std::pair<std::string, std::string> cases[] = {
      {drive + "Type=floppy\n", "line 4: key Type given twice"},
      {"[Drive C]\nType=floppy\nPath=c\n", "line 2: unknown drive type \"floppy\""},
      {"[Drive C]\nPath=c\n", "line 1: [Drive C] lacks Type="},
      {drive + "Colour=red\n", "line 4: unknown key Colour"},
      {drive + "Serial=XYZ\n", "line 4: Serial must be hexadecimal"},
      {drive + "Label=TWELVE CHARS\n", "line 4: a volume label holds at most 11 characters"},
      {drive + "Label=\u4E2D\n", "line 4: Label holds a character that code page 1252"},
      {drive + "Label=AB\rCD\n", "line 4: The value of Label cannot hold a control character"},
      {drive + "RemoteName=\\\\S\\T\n", "line 4: RemoteName is only for a drive of Type=remote"},
      {"[Drive N]\nType=remote\nRemoteName=\\\\SERVER\n", "line 3: RemoteName must be"},
      {"[Drive C]\nType=fixed\nPath=missing\n", "line 3: the drive's directory"},
      {"[Drive CC]\nType=fixed\n", "line 1: unknown section [Drive CC]"},
      {"[Machine]\nWindowsDirectory=WINDOWS\n" + drive, "line 2: WindowsDirectory must be"},
      {"[Machine]\nWindowsDirectory=E:\\WINDOWS\n" + drive, "line 2: WindowsDirectory E:\\WINDOWS"},
      {"[Machine]\nProgramPath=C:\\\n" + drive, "line 2: ProgramPath must name"},
      {"[Drive C]\nType=fixed\n",
       "WindowsDirectory C:\\WINDOWS is on drive C:, which has no Path="},
      {"[Machine]\nProgramPath\n", "line 2: expected"},
  };
  for (const auto& [text, message] : cases) {
    TempMachineDir dir;
    fs::create_directory(dir.Path() / "c");
    dir.WriteFile("machine.ini", text);
    try {
      Machine::Open(dir.Path());
      ADD_FAILURE() << "accepted:\n" << text;
    } catch (const MachineError& e) {
      const std::string what = e.what();
      EXPECT_TRUE(what.starts_with((dir.Path() / "machine.ini").string())) << what;
      EXPECT_NE(what.find(message), std::string::npos) << what;
    }
  }
}

TEST(MachineIniTest, SaysWhatStandsWhereMachineIniOrADriveShouldBe) {
  const auto failure = [](const TempMachineDir& dir) -> std::string {
    try {
      Machine::Open(dir.Path());
    } catch (const MachineError& e) {
      return e.what();
    }
    return "opened";
  };
  {
    TempMachineDir dir;
    ASSERT_EQ(mkfifo((dir.Path() / "machine.ini").c_str(), 0644), 0);
    EXPECT_NE(failure(dir).find("machine.ini: a named pipe (FIFO), not a file"), std::string::npos)
        << failure(dir);
  }
  {
    TempMachineDir dir;
    fs::create_directory(dir.Path() / "machine.ini");
    EXPECT_NE(failure(dir).find("machine.ini: a directory, not a file"), std::string::npos);
  }
  {
    TempMachineDir dir;
    fs::create_symlink("/dev/zero", dir.Path() / "machine.ini");
    EXPECT_NE(failure(dir).find("machine.ini: a device, not a file"), std::string::npos);
  }
  {
    TempMachineDir dir;
    fs::create_symlink("gone.ini", dir.Path() / "machine.ini");
    EXPECT_NE(failure(dir).find("a symbolic link that points to nothing"), std::string::npos);
  }
  {
    // A sparse file of 4 GB is refused by its size, without being read.
    TempMachineDir dir;
    dir.WriteFile("machine.ini", "[Drive C]\nType=fixed\nPath=c\n");
    fs::resize_file(dir.Path() / "machine.ini", uintmax_t{4} << 30);
    EXPECT_NE(failure(dir).find("too large (4294967296 bytes, at most 1048576)"), std::string::npos)
        << failure(dir);
  }
  {
    TempMachineDir dir;
    dir.WriteFile("c", "a file");
    dir.WriteFile("machine.ini", "[Drive C]\nType=fixed\nPath=c\n");
    EXPECT_NE(failure(dir).find("line 3: the drive's directory " + (dir.Path() / "c").string() +
                                " is not a directory"),
              std::string::npos)
        << failure(dir);
  }
  try {
    Machine::Open("");
    ADD_FAILURE() << "opened an empty path";
  } catch (const MachineError& e) {
    EXPECT_STREQ(e.what(), "The machine directory is an empty path");
  }
}

TEST(MachineIniTest, AnExistingDirectoryNeedsAMachineIni) {
  TempMachineDir dir;
  EXPECT_THROW(Machine::Open(dir.Path()), MachineError);
  dir.WriteFile("file", "");
  EXPECT_THROW(Machine::Open(dir.Path() / "file"), MachineError);
  EXPECT_FALSE(fs::exists(dir.Path() / "machine.ini"));
}

class EnvironmentVariable {
 public:
  EnvironmentVariable(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value != nullptr) {
      setenv(name, value, 1);
    } else {
      unsetenv(name);
    }
  }
  ~EnvironmentVariable() {
    if (old_) {
      setenv(name_, old_->c_str(), 1);
    } else {
      unsetenv(name_);
    }
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

TEST(MachineDirectoryTest, DefaultDirectoryFollowsTheEnvironment) {
  EnvironmentVariable home("HOME", "/home/anna");
  {
    EnvironmentVariable machine("TARNWICK_MACHINE", "/srv/win95");
    EXPECT_EQ(Machine::DefaultDirectory(), "/srv/win95");
  }
  EnvironmentVariable machine("TARNWICK_MACHINE", nullptr);
  {
    EnvironmentVariable xdg("XDG_DATA_HOME", "/data");
    EXPECT_EQ(Machine::DefaultDirectory(), "/data/tarnwick/machine");
  }
  EnvironmentVariable xdg("XDG_DATA_HOME", "relative");
  EXPECT_EQ(Machine::DefaultDirectory(), "/home/anna/.local/share/tarnwick/machine");
}

// Runs body in a child process and returns its exit status.
template <typename Body>
int InChild(Body body) {
  const pid_t pid = fork();
  if (pid == 0) _exit(body());
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(MachineTest, OneProcessAtATimeHoldsTheLock) {
  const auto childAcquires = [this] { return MachineLock::TryAcquire(machine_) ? 1 : 0; };
  {
    std::optional<MachineLock> lock = MachineLock::TryAcquire(machine_);
    ASSERT_TRUE(lock);
    EXPECT_EQ(InChild(childAcquires), 0);
    MachineLock moved = std::move(*lock);
    lock.reset();
    EXPECT_EQ(InChild(childAcquires), 0);
  }
  EXPECT_EQ(InChild(childAcquires), 1);

  // A child holding the lock keeps the parent out until it ends.
  int toParent[2];
  int toChild[2];
  ASSERT_EQ(pipe(toParent), 0);
  ASSERT_EQ(pipe(toChild), 0);
  const pid_t pid = fork();
  if (pid == 0) {
    const std::optional<MachineLock> lock = MachineLock::TryAcquire(machine_);
    char c = lock ? 'y' : 'n';
    (void)!write(toParent[1], &c, 1);
    (void)!read(toChild[0], &c, 1);
    _exit(0);
  }
  char c = 0;
  ASSERT_EQ(read(toParent[0], &c, 1), 1);
  EXPECT_EQ(c, 'y');
  EXPECT_FALSE(MachineLock::TryAcquire(machine_));
  ASSERT_EQ(write(toChild[1], &c, 1), 1);
  waitpid(pid, nullptr, 0);
  EXPECT_TRUE(MachineLock::TryAcquire(machine_));
  for (const int fd : {toParent[0], toParent[1], toChild[0], toChild[1]}) close(fd);
}

TEST_F(MachineTest, TheLockFileIsNeverFollowed) {
  fs::create_symlink(dir_.Path() / "outside" / "x", dir_.Path() / "tarnwick.lock");
  try {
    MachineLock::TryAcquire(machine_);
    ADD_FAILURE() << "locked through a link";
  } catch (const MachineError& e) {
    EXPECT_NE(std::string(e.what()).find("tarnwick.lock: the lock file is a symbolic link"),
              std::string::npos)
        << e.what();
  }
  EXPECT_FALSE(fs::exists(dir_.Path() / "outside" / "x"));
}

}  // namespace
}  // namespace tarnwick::test
