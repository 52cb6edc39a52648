#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "demo/demo_machine.h"
#include "machine/machine.h"
#include "registry/creg_file.h"
#include "support/fixtures.h"
#include "support/independent_readers.h"
#include "support/run_program.h"

namespace tarnwick::test {
namespace {

namespace fs = std::filesystem;

class TarnwickRegTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "tarnwick-reg-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { fs::remove_all(dir_); }

  static ProgramRun Tool(std::vector<std::string> args, const fs::path& input = {}) {
    args.insert(args.begin(), TARNWICK_REG_PROGRAM);
    return RunProgram(std::move(args), input);
  }
  std::string Path(const std::string& name) const { return (dir_ / name).string(); }
  void Put(const std::string& name, const std::string& text) const {
    std::ofstream(dir_ / name, std::ios::binary) << text;
  }

  fs::path dir_;
};

const std::string kText =
    "REGEDIT4\r\n"
    "\r\n"
    "[Software]\r\n"
    "@=\"Demo\"\r\n"
    "\"NoRun\"=dword:00000001\r\n"
    "\r\n"
    "[Software\\Empty]\r\n"
    "\r\n"
    "[Software\\Types]\r\n"
    "\"Lines\"=hex(1):61,0d,0a,00\r\n"
    "\"Expand\"=hex(2):25,78,25,00\r\n"
    "\"Bin\"=hex:de,ad\r\n"
    "\"Odd\"=hex(80000005):01\r\n"
    "\"Caf\xE9 \\\"q\\\"\"=\"C:\\\\WINDOWS\"\r\n"
    "\r\n";

TEST_F(TarnwickRegTest, HelpAndWrongUsage) {
  ProgramRun help = Tool({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("tarnwick-reg export [--root KEY] FILE"), std::string::npos);
  EXPECT_NE(help.out.find("tarnwick-reg import [--root KEY] REGFILE FILE"), std::string::npos);
  EXPECT_NE(help.out.find("tarnwick-reg --machine DIR import REGFILE"), std::string::npos);
  EXPECT_EQ(Tool({}).status, 2);
  ProgramRun wrong = Tool({"export"});
  EXPECT_EQ(wrong.status, 2);
  EXPECT_NE(wrong.err.find("Usage"), std::string::npos);
}

TEST_F(TarnwickRegTest, ImportCreatesTheFileAndExportGivesTheTextBack) {
  Put("in.reg", kText);
  ProgramRun import = Tool({"import", Path("in.reg"), Path("USER.DAT")});
  ASSERT_EQ(import.status, 0) << import.err;
  ProgramRun exported = Tool({"export", Path("USER.DAT")});
  ASSERT_EQ(exported.status, 0) << exported.err;
  EXPECT_EQ(exported.out, kText);
  // An independent reader accepts the file.
  EXPECT_EQ(RunProgram({"cregexport", Path("USER.DAT")}).status, 0);

  // A second import merges into the file; standard input works as REGFILE.
  Put("more.reg", "REGEDIT4\n[Software]\n\"NoRun\"=-\n[-Software\\Empty]\n[Added]\n");
  ASSERT_EQ(Tool({"import", "-", Path("USER.DAT")}, Path("more.reg")).status, 0);
  exported = Tool({"export", Path("USER.DAT")});
  EXPECT_EQ(exported.out.find("NoRun"), std::string::npos);
  EXPECT_EQ(exported.out.find("[Software\\Empty]"), std::string::npos);
  EXPECT_NE(exported.out.find("\r\n[Added]\r\n"), std::string::npos);
  EXPECT_NE(exported.out.find("[Software\\Types]"), std::string::npos);
}

TEST_F(TarnwickRegTest, ImportIntoAFolderNamedThroughALinkAndOverALink) {
  Put("in.reg", kText);
  fs::create_directory(dir_ / "real");
  fs::create_directory_symlink("real", dir_ / "named");
  Put("other.reg", "REGEDIT4\r\n\r\n[Other]\r\n\r\n");
  ASSERT_EQ(Tool({"import", Path("other.reg"), Path("other.dat")}).status, 0);
  const std::string other = Slurp(dir_ / "other.dat");
  fs::create_symlink("../other.dat", dir_ / "real" / "USER.DAT");
  ProgramRun import = Tool({"import", Path("in.reg"), Path("named/USER.DAT")});
  ASSERT_EQ(import.status, 0) << import.err;
  // The link in the file's place gives way to the file; what it pointed to stays.
  EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(dir_ / "real" / "USER.DAT")));
  EXPECT_EQ(Slurp(dir_ / "other.dat"), other);
  EXPECT_NE(Tool({"export", Path("named/USER.DAT")}).out.find("[Other]"), std::string::npos);
}

// A genuine Windows Me hive, as text and back: the same text, and cregexport sees the same tree.
TEST_F(TarnwickRegTest, AGenuineHiveSurvivesExportAndImport) {
  const std::string hive = Fixture("creg/winme_USER.DAT").string();
  ASSERT_FIXTURE(hive);
  ProgramRun first = Tool({"export", hive});
  ASSERT_EQ(first.status, 0) << first.err;
  EXPECT_NE(first.out.find("\r\n[.DEFAULT\\Control Panel]\r\n"), std::string::npos);
  Put("me.reg", first.out);
  ASSERT_EQ(Tool({"import", Path("me.reg"), Path("copy.dat")}).status, 0);
  EXPECT_EQ(Tool({"export", Path("copy.dat")}).out, first.out);
  const ProgramRun original = RunProgram({"cregexport", hive});
  const ProgramRun copy = RunProgram({"cregexport", Path("copy.dat")});
  ASSERT_EQ(original.status, 0) << original.err;
  ASSERT_EQ(copy.status, 0) << copy.err;
  EXPECT_TRUE(original.out == copy.out);
  EXPECT_EQ(original.err, copy.err);
}

TEST_F(TarnwickRegTest, BadInputReportsTheLineAndLeavesTheFileAsItWas) {
  Put("in.reg", kText);
  ASSERT_EQ(Tool({"import", Path("in.reg"), Path("SYSTEM.DAT")}).status, 0);
  const std::string before = Slurp(dir_ / "SYSTEM.DAT");
  Put("bad.reg", "REGEDIT4\n\n[Software]\n\"Path\"=\"C:\\WINDOWS\"\n");
  ProgramRun bad = Tool({"import", Path("bad.reg"), Path("SYSTEM.DAT")});
  EXPECT_EQ(bad.status, 1);
  EXPECT_NE(bad.err.find("bad.reg, line 4: "), std::string::npos) << bad.err;
  EXPECT_EQ(Slurp(dir_ / "SYSTEM.DAT"), before);

  EXPECT_EQ(Tool({"import", Path("bad.reg"), Path("new.dat")}).status, 1);
  EXPECT_FALSE(fs::exists(dir_ / "new.dat"));
  EXPECT_EQ(Tool({"import", Path("missing.reg"), Path("new.dat")}).status, 1);
}

// Windows 95's regedit writes code page 1252: UTF-8 would be stored byte for byte.
TEST_F(TarnwickRegTest, UnicodeTextIsRefusedAndCodePage1252Imported) {
  Put("utf8.reg", "REGEDIT4\r\n\r\n[K]\r\n\"v\"=\"Caf\xC3\xA9\"\r\n");
  Put("bom.reg", "\xEF\xBB\xBFREGEDIT4\r\n\r\n[K]\r\n\"v\"=\"x\"\r\n");
  Put("ansi.reg", "REGEDIT4\r\n\r\n[K]\r\n\"v\"=\"Caf\xE9\"\r\n\r\n");
  for (const char* file : {"utf8.reg", "bom.reg"}) {
    const ProgramRun refused = Tool({"import", Path(file), Path("a.pol")});
    EXPECT_EQ(refused.status, 1) << file;
    EXPECT_NE(refused.err.find("UTF-8"), std::string::npos) << refused.err;
    EXPECT_FALSE(fs::exists(Path("a.pol"))) << file;
  }
  ASSERT_EQ(Tool({"import", Path("ansi.reg"), Path("a.pol")}).status, 0);
  EXPECT_EQ(Tool({"export", Path("a.pol")}).out, Slurp(Path("ansi.reg")));
}

TEST_F(TarnwickRegTest, ControlCharactersInArgumentsAreRefused) {
  Put("ok.reg", "REGEDIT4\r\n");
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"export", Path("a\nb")},
        {"import", Path("ok.reg"), Path("x\ry.pol")},
        {"export", "--root", "HKEY_LOCAL_MACHINE\\a\tb", Path("a.pol")},
        {"--machine", Path("m\n"), "export"}}) {
    const ProgramRun refused = Tool(args);
    EXPECT_EQ(refused.status, 1) << args[1];
    EXPECT_NE(refused.err.find("cannot hold a control character"), std::string::npos)
        << refused.err;
  }
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), {}), 1);
}

TEST_F(TarnwickRegTest, DamagedOrMissingFilesAreReportedByName) {
  Put("broken.dat", "CREG and then nothing useful");
  ProgramRun broken = Tool({"export", Path("broken.dat")});
  EXPECT_EQ(broken.status, 1);
  EXPECT_NE(broken.err.find("broken.dat"), std::string::npos) << broken.err;
  EXPECT_TRUE(broken.out.empty());

  Put("ok.reg", kText);
  ProgramRun into = Tool({"import", Path("ok.reg"), Path("broken.dat")});
  EXPECT_EQ(into.status, 1);
  EXPECT_EQ(Slurp(dir_ / "broken.dat"), "CREG and then nothing useful");

  ProgramRun missing = Tool({"export", Path("nothing.dat")});
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.err.find("nothing.dat"), std::string::npos);
}

// Text as regedit exports a machine: key paths with their root keys.
const std::string kMachineSystem =
    "[HKEY_LOCAL_MACHINE\\Tarnwick]\r\n"
    "\"Owner\"=\"Ann\"\r\n"
    "\r\n"
    "[HKEY_LOCAL_MACHINE\\Tarnwick\\Sub]\r\n"
    "\"Bin\"=hex:01,02\r\n"
    "\r\n";
const std::string kMachineUsers =
    "[HKEY_USERS\\.Default\\Tarnwick]\r\n"
    "\"Colour\"=dword:00000007\r\n"
    "\r\n";
const std::string kHeader = "REGEDIT4\r\n\r\n";

TEST_F(TarnwickRegTest, RootKeyPathsInAFileNeedRoot) {
  Put("system.reg", kHeader + kMachineSystem);
  Put("machine.reg", kHeader + kMachineSystem + kMachineUsers);
  // Without --root a root key is refused with its line, and no file is made.
  ProgramRun bare = Tool({"import", Path("system.reg"), Path("SYSTEM.DAT")});
  EXPECT_EQ(bare.status, 1);
  EXPECT_NE(bare.err.find("system.reg, line 3: "), std::string::npos) << bare.err;
  EXPECT_NE(bare.err.find("--root HKEY_LOCAL_MACHINE"), std::string::npos) << bare.err;
  EXPECT_FALSE(fs::exists(dir_ / "SYSTEM.DAT"));

  // With it, the keys land without the root name and export puts it back.
  ASSERT_EQ(Tool({"import", "--root", "HKEY_LOCAL_MACHINE", Path("system.reg"), Path("SYSTEM.DAT")})
                .status,
            0);
  EXPECT_EQ(Tool({"export", Path("SYSTEM.DAT")}).out,
            kHeader +
                "[Tarnwick]\r\n\"Owner\"=\"Ann\"\r\n\r\n[Tarnwick\\Sub]\r\n"
                "\"Bin\"=hex:01,02\r\n\r\n");
  EXPECT_EQ(Tool({"export", "--root", "HKEY_LOCAL_MACHINE", Path("SYSTEM.DAT")}).out,
            kHeader + "[HKEY_LOCAL_MACHINE]\r\n\r\n" + kMachineSystem);

  // A key below another root key is refused with its line; the file stays as it was.
  const std::string before = Slurp(dir_ / "SYSTEM.DAT");
  ProgramRun other =
      Tool({"import", "--root", "HKEY_LOCAL_MACHINE", Path("machine.reg"), Path("SYSTEM.DAT")});
  EXPECT_EQ(other.status, 1);
  EXPECT_NE(other.err.find("machine.reg, line 9: "), std::string::npos) << other.err;
  EXPECT_EQ(Slurp(dir_ / "SYSTEM.DAT"), before);
}

TEST_F(TarnwickRegTest, AMachineTakesRegeditTextAndGivesItBack) {
  const fs::path machineDir = dir_ / "machine";
  const tarnwick::Machine machine = tarnwick::OpenOrCreateMachine(machineDir);
  const std::string windows = machine.WindowsDirectory() + "\\";
  const fs::path system = *machine.HostPath(windows + "SYSTEM.DAT");
  const fs::path user = *machine.HostPath(windows + "USER.DAT");
  auto onMachine = [&](std::vector<std::string> args, const fs::path& input = {}) {
    args.insert(args.begin(), {"--machine", machineDir.string()});
    return Tool(std::move(args), input);
  };
  Put("machine.reg", kHeader + kMachineSystem + kMachineUsers);
  ProgramRun import = onMachine({"import", Path("machine.reg")});
  ASSERT_EQ(import.status, 0) << import.err;
  EXPECT_TRUE(fs::exists(system.parent_path() / "SYSTEM.DA0"));

  EXPECT_EQ(onMachine({"export", "HKEY_LOCAL_MACHINE\\tarnwick"}).out, kHeader + kMachineSystem);
  ProgramRun all = onMachine({"export"});
  ASSERT_EQ(all.status, 0) << all.err;
  EXPECT_EQ(all.out.rfind(kHeader + "[HKEY_LOCAL_MACHINE]\r\n\r\n", 0), 0u);
  EXPECT_NE(all.out.find(kMachineSystem + "[HKEY_USERS]\r\n"), std::string::npos);
  EXPECT_NE(all.out.find(kMachineUsers), std::string::npos);
  // The whole export goes back in unchanged.
  Put("all.reg", all.out);
  ASSERT_EQ(onMachine({"import", Path("all.reg")}).status, 0);
  EXPECT_EQ(onMachine({"export"}).out, all.out);

  // Both independent readers see in SYSTEM.DAT exactly the tree we hold.
  const auto expected = ExportTree(*tarnwick::ReadRegistryFile(system));
  for (const auto& read : {ReadWithCregexport(system), ReadWithParseWin32Registry(system)}) {
    ASSERT_TRUE(read.ok()) << read.diagnostics;
    EXPECT_EQ(FirstDifference(read.keys, expected), "");
  }

  // HKEY_CURRENT_USER and HKEY_CLASSES_ROOT are keys of the two files.
  Put("alias.reg",
      "REGEDIT4\n[HKEY_CURRENT_USER\\Tarnwick]\n\"Alias\"=\"cu\"\n"
      "[HKEY_CLASSES_ROOT\\.tarnwick]\n@=\"cr\"\n");
  ASSERT_EQ(onMachine({"import", Path("alias.reg")}).status, 0);
  EXPECT_NE(onMachine({"export", "HKEY_USERS\\.DEFAULT\\Tarnwick"}).out.find("\"Alias\"=\"cu\""),
            std::string::npos);
  EXPECT_NE(onMachine({"export", "HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\.tarnwick"})
                .out.find("@=\"cr\""),
            std::string::npos);

  // A bad line anywhere changes neither file; nor does an import while Tarnwick holds the lock.
  const std::string systemBefore = Slurp(system);
  const std::string userBefore = Slurp(user);
  Put("bad.reg", "REGEDIT4\n[HKEY_USERS\\X]\n[HKEY_LOCAL_MACHINE\\Y]\n[HKEY_DYN_DATA\\Z]\n");
  ProgramRun bad = onMachine({"import", Path("bad.reg")});
  EXPECT_EQ(bad.status, 1);
  EXPECT_NE(bad.err.find("bad.reg, line 4: "), std::string::npos) << bad.err;
  {
    const auto lock = tarnwick::MachineLock::TryAcquire(machine);
    ASSERT_TRUE(lock);
    ProgramRun locked = onMachine({"import", Path("machine.reg")});
    EXPECT_EQ(locked.status, 1);
    EXPECT_NE(locked.err.find("Tarnwick is running"), std::string::npos) << locked.err;
  }
  EXPECT_EQ(Slurp(system), systemBefore);
  EXPECT_EQ(Slurp(user), userBefore);
  EXPECT_EQ(onMachine({"export", "HKEY_LOCAL_MACHINE\\Missing"}).status, 1);
  EXPECT_EQ(Tool({"--machine", Path("nowhere"), "export"}).status, 1);
}

}  // namespace
}  // namespace tarnwick::test
