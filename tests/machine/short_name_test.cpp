#include "machine/short_name.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "machine/machine.h"
#include "support/temp_machine_dir.h"

namespace tarnwick::test {
namespace {

namespace fs = std::filesystem;

TEST(ShortName, WorkedExamples) {
  const std::pair<const char*, const char*> examples[] = {
      {"Program Files", "PROGRA~1"},
      {"Internet Explorer", "INTERN~1"},
      {"My Documents", "MYDOCU~1"},
      {"Start Menu", "STARTM~1"},
      {"Accessories", "ACCESS~1"},
      {"readme.txt", "README.TXT"},
      {"README.TXT", "README.TXT"},
      {"Profiles", "PROFILES"},
      {"kid.ico", "KID.ICO"},
      {"a.b.c.txt", "ABC~1.TXT"},
      {"My File.txt", "MYFILE~1.TXT"},
      {"A file.doc", "AFILE~1.DOC"},
      {"A_file.doc", "A_FILE.DOC"},
      {".profile", "PROFIL~1"},
      {"...test", "TEST~1"},
      {"a+b.txt", "A_B~1.TXT"},
      {"x.html", "X~1.HTM"},
      {"Long Extension.html", "LONGEX~1.HTM"},
      {"This is a really long filename.123.456.789.txt", "THISIS~1.TXT"},
      {"Kids' Programs.lnk", "KIDS'P~1.LNK"},
      {"caf\xE9.txt", "CAF\xC9.TXT"},  // upper-cased in the OEM code page
      {"\x80uro.txt", "_URO~1.TXT"},   // the euro sign has no OEM form
      {"   ", "_~1"},                  // nothing left of the name
  };
  for (const auto& [longName, alias] : examples) {
    EXPECT_EQ(MakeShortName(longName, {}), alias) << longName;
  }
}

TEST(ShortName, NumericTailsTakeTheLowestFreeNumber) {
  EXPECT_EQ(MakeShortName("Program Files", {"PROGRA~1"}), "PROGRA~2");
  EXPECT_EQ(MakeShortName("Program Files", {"PROGRA~1", "PROGRA~3"}), "PROGRA~2");
  EXPECT_EQ(MakeShortName("readme.txt", {"README.TXT"}), "README~1.TXT");
  std::set<std::string> taken;
  for (int n = 1; n <= 9; ++n) taken.insert("PROGRA~" + std::to_string(n));
  EXPECT_EQ(MakeShortName("Programs Old", taken), "PROGR~10");
  taken.insert("PROGR~10");
  EXPECT_EQ(MakeShortName("Programs Old", taken), "PROGR~11");
}

TEST(ShortName, BareShortNames) {
  EXPECT_TRUE(IsBareShortName("WINDOWS"));
  EXPECT_TRUE(IsBareShortName("NOTEPAD.EXE"));
  EXPECT_TRUE(IsBareShortName("PROGRA~1"));
  EXPECT_FALSE(IsBareShortName("readme.txt"));
  EXPECT_FALSE(IsBareShortName("A.B.C"));
  EXPECT_FALSE(IsBareShortName("ABCDEFGHI"));
  EXPECT_FALSE(IsBareShortName("MY FILE"));
  EXPECT_FALSE(IsBareShortName(""));
}

class ShortNameOnDisk : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(dir_ / "c");
    std::ofstream(dir_ / "machine.ini") << "[Machine]\nWindowsDirectory=C:\\WINDOWS\n"
                                        << "ProgramPath=C:\\TARNEX\\TARNEX.EXE\n"
                                        << "[Drive C]\nType=fixed\nPath=c\nLabel=WIN95\n";
  }
  void Touch(const fs::path& relative) {
    fs::create_directories((dir_ / "c" / relative).parent_path());
    std::ofstream(dir_ / "c" / relative) << "x";
  }
  std::string Alias(const std::vector<DirectoryEntryName>& names, std::string_view longName) {
    for (const auto& entry : names) {
      if (entry.longName == longName) return entry.shortName;
    }
    return "(missing)";
  }

  TempMachineDir temp_;
  const fs::path& dir_ = temp_.Path();
};

TEST_F(ShortNameOnDisk, GeneratedAliasesDependOnlyOnTheDirectoryContents) {
  for (const char* name : {"Program Files", "Program Data", "PROGRA~1", "readme.txt", "README.TXT",
                           "Profiles", "PROFILES.TXT", "Start Menu"}) {
    fs::create_directories(dir_ / "c" / name);
  }
  const auto names = ReadDirectoryNames(dir_ / "c");
  ASSERT_EQ(names.size(), 8u);
  EXPECT_EQ(Alias(names, "PROGRA~1"), "PROGRA~1");  // a bare 8.3 name keeps itself
  EXPECT_EQ(Alias(names, "Program Data"), "PROGRA~2");
  EXPECT_EQ(Alias(names, "Program Files"), "PROGRA~3");
  EXPECT_EQ(Alias(names, "README.TXT"), "README.TXT");
  EXPECT_EQ(Alias(names, "readme.txt"), "README~1.TXT");
  EXPECT_EQ(Alias(names, "Profiles"), "PROFILES");
  EXPECT_EQ(Alias(names, "Start Menu"), "STARTM~1");
  EXPECT_EQ(ReadDirectoryNames(dir_ / "c").size(), names.size());
  for (const auto& entry : ReadDirectoryNames(dir_ / "c")) {
    EXPECT_EQ(entry.shortName, Alias(names, entry.longName)) << entry.longName;
  }
  EXPECT_TRUE(ReadDirectoryNames(dir_ / "missing").empty());
}

TEST_F(ShortNameOnDisk, NumberedNamesTakeTailsAcrossTheirShortenedBases) {
  // Pupil0001 .. Pupil1000 all lose their last letters and meet in the same cut bases; a bare
  // name holds one tail already.
  for (int n = 1; n <= 1000; ++n) {
    char name[16];
    std::snprintf(name, sizeof name, "Pupil%04d", n);
    fs::create_directories(dir_ / "c" / name);
  }
  fs::create_directories(dir_ / "c" / "PUPIL~12");
  const auto names = ReadDirectoryNames(dir_ / "c");
  ASSERT_EQ(names.size(), 1001u);
  EXPECT_EQ(Alias(names, "PUPIL~12"), "PUPIL~12");
  EXPECT_EQ(Alias(names, "Pupil0001"), "PUPIL0~1");
  EXPECT_EQ(Alias(names, "Pupil0009"), "PUPIL0~9");
  EXPECT_EQ(Alias(names, "Pupil0010"), "PUPIL~10");
  EXPECT_EQ(Alias(names, "Pupil0011"), "PUPIL~11");
  EXPECT_EQ(Alias(names, "Pupil0012"), "PUPIL~13");
  EXPECT_EQ(Alias(names, "Pupil0098"), "PUPIL~99");
  EXPECT_EQ(Alias(names, "Pupil0099"), "PUPI~100");
  EXPECT_EQ(Alias(names, "Pupil0998"), "PUPI~999");
  EXPECT_EQ(Alias(names, "Pupil0999"), "PUP~1000");
  EXPECT_EQ(Alias(names, "Pupil1000"), "PUPIL1~1");
  // Each the lowest tail free after the names before it, as one name alone finds it.
  std::set<std::string> taken = {"PUPIL~12"};
  for (const auto& entry : names) {
    if (entry.longName == "PUPIL~12") continue;
    EXPECT_EQ(entry.shortName, MakeShortName(entry.longName, taken)) << entry.longName;
    taken.insert(entry.shortName);
  }
}

TEST_F(ShortNameOnDisk, AliasesFollowChangesThroughTheMachineAndBehindItsBack) {
  Touch("Folder/Long Name One.txt");
  const Machine machine = Machine::Open(dir_);
  const Machine copy = machine;  // shares what the machine has read
  EXPECT_EQ(ShortPathName(machine, "C:\\Folder\\Long Name One.txt"), "C:\\FOLDER\\LONGNA~1.TXT");
  EXPECT_FALSE(machine.Stat("C:\\Folder\\long name two.txt"));

  // Made by another program: the alias of the older file moves on.
  Touch("Folder/Long Name Another.txt");
  EXPECT_EQ(ShortPathName(machine, "C:\\Folder\\Long Name One.txt"), "C:\\FOLDER\\LONGNA~2.TXT");
  EXPECT_EQ(LocateMachinePath(machine, "C:\\FOLDER\\LONGNA~1.TXT")->LongPath(),
            "C:\\Folder\\Long Name Another.txt");

  // Written through a copy of the machine: seen at once, by name in any case and by alias.
  const std::vector<uint8_t> bytes = {'x'};
  copy.WriteFile("C:\\Folder\\Long Name Also.txt", bytes);
  EXPECT_TRUE(machine.Stat("C:\\folder\\LONG NAME ALSO.TXT"));
  EXPECT_EQ(ShortPathName(machine, "C:\\Folder\\Long Name One.txt"), "C:\\FOLDER\\LONGNA~3.TXT");
  copy.WriteFile("C:\\Folder\\long name two.txt", bytes);
  EXPECT_TRUE(machine.Stat("C:\\Folder\\Long Name Two.txt"));
  EXPECT_TRUE(copy.MakeDirectory("C:\\Folder\\Sub Folder"));
  copy.WriteFile("C:\\Folder\\Sub Folder\\Inner File.txt", bytes);
  EXPECT_EQ(ShortPathName(machine, "C:\\Folder\\Sub Folder\\Inner File.txt"),
            "C:\\FOLDER\\SUBFOL~1\\INNERF~1.TXT");

  // Removed, whole trees and single files.
  copy.RemoveTree("C:\\Folder\\Sub Folder");
  EXPECT_FALSE(machine.Stat("C:\\FOLDER\\SUBFOL~1"));
  EXPECT_FALSE(ShortPathName(machine, "C:\\Folder\\Sub Folder\\Inner File.txt"));
  copy.RemoveTree("C:\\Folder\\Long Name Another.txt");
  EXPECT_EQ(LocateMachinePath(machine, "C:\\FOLDER\\LONGNA~1.TXT")->LongPath(),
            "C:\\Folder\\Long Name Also.txt");
  EXPECT_TRUE(copy.Move("C:\\Folder\\Long Name Also.txt", "C:\\Folder\\Moved Away.txt"));
  EXPECT_EQ(ShortPathName(machine, "C:\\Folder\\Long Name One.txt"), "C:\\FOLDER\\LONGNA~1.TXT");
  EXPECT_EQ(ShortPathName(machine, "c:\\folder\\moved away.txt"), "C:\\FOLDER\\MOVEDA~1.TXT");

  // Replaced behind its back by a folder of the same name.
  fs::remove_all(dir_ / "c" / "Folder");
  Touch("Folder/Other File.txt");
  EXPECT_FALSE(machine.Stat("C:\\FOLDER\\LONGNA~1.TXT"));
  EXPECT_EQ(ShortPathName(machine, "C:\\folder\\other file.txt"), "C:\\FOLDER\\OTHERF~1.TXT");
}

TEST_F(ShortNameOnDisk, ShortFormOfWholePaths) {
  Touch("Program Files/Accessories/WORDPAD.EXE");
  Touch("WINDOWS/Start Menu/Programs/Accessories/Notepad.lnk");
  const Machine machine = Machine::Open(dir_);
  EXPECT_EQ(ShortPathName(machine, "C:\\Program Files\\Accessories\\WORDPAD.EXE"),
            "C:\\PROGRA~1\\ACCESS~1\\WORDPAD.EXE");
  EXPECT_EQ(ShortPathName(machine, "c:\\program files\\accessories\\wordpad.exe"),
            "C:\\PROGRA~1\\ACCESS~1\\WORDPAD.EXE");
  EXPECT_EQ(ShortPathName(machine, "C:\\PROGRA~1\\ACCESS~1\\WORDPAD.EXE"),
            "C:\\PROGRA~1\\ACCESS~1\\WORDPAD.EXE");
  EXPECT_EQ(ShortPathName(machine, "C:\\WINDOWS\\Start Menu\\Programs\\Accessories\\Notepad.lnk"),
            "C:\\WINDOWS\\STARTM~1\\PROGRAMS\\ACCESS~1\\NOTEPAD.LNK");
  EXPECT_EQ(ShortPathName(machine, "C:\\"), "C:\\");
  EXPECT_EQ(ShortPathName(machine, "C:\\Program Files\\"), "C:\\PROGRA~1");

  const auto located = LocateMachinePath(machine, "c:\\PROGRA~1\\access~1");
  ASSERT_TRUE(located);
  EXPECT_EQ(located->LongPath(), "C:\\Program Files\\Accessories");
  EXPECT_EQ(located->HostPath(), fs::canonical(dir_ / "c" / "Program Files" / "Accessories"));

  for (const char* missing :
       {"C:\\Program Files\\WORDPAD.EXE", "C:\\Program Files\\..\\WINDOWS", "D:\\", "C:relative",
        "C:\\Program Files\\Accessories\\WORDPAD.EXE\\x", "", "\\\\SERVER\\SHARE\\x"}) {
    EXPECT_FALSE(ShortPathName(machine, missing)) << missing;
  }
}

TEST_F(ShortNameOnDisk, ShortPathsOfAccentedNamesLeadBackToTheirFiles) {
  // "Caf\xE9" would take the alias CAF\xC9, which the long name "caf\xC9" matches ignoring case.
  for (const char* name :
       {"caf\u00E9/menu.txt", "na\u00EFve.txt", "Cr\u00E8me br\u00FBl\u00E9e.txt", "x/Caf\u00E9",
        "x/caf\u00C9", "\u00C9T\u00C9"}) {
    Touch(name);
  }
  const Machine machine = Machine::Open(dir_);
  for (const char* path : {"C:\\caf\xE9\\menu.txt", "C:\\na\xEFve.txt",
                           "C:\\Cr\xE8me br\xFBl\xE9"
                           "e.txt",
                           "C:\\x\\Caf\xE9", "C:\\x\\caf\xC9", "C:\\\xC9T\xC9"}) {
    const auto shortPath = ShortPathName(machine, path);
    ASSERT_TRUE(shortPath) << path;
    EXPECT_EQ(machine.HostPath(*shortPath), machine.HostPath(path)) << *shortPath;
    const auto located = LocateMachinePath(machine, *shortPath);
    ASSERT_TRUE(located) << *shortPath;
    EXPECT_EQ(located->LongPath(), path);
  }
  EXPECT_EQ(ShortPathName(machine, "C:\\caf\xE9\\menu.txt"), "C:\\CAF\xC9\\MENU.TXT");
}

TEST_F(ShortNameOnDisk, SymbolicLinksDoNotLeaveTheDrive) {
  fs::create_directory_symlink(fs::temp_directory_path(), dir_ / "c" / "Outside");
  const Machine machine = Machine::Open(dir_);
  EXPECT_FALSE(LocateMachinePath(machine, "C:\\Outside"));
}

}  // namespace
}  // namespace tarnwick::test
