#include "demo/demo_machine.h"

#include <gtest/gtest.h>

#include "demo/demo_shortcuts.h"
#include "formats/shell_link.h"
#include "formats/shell_link_resolve.h"
#include "machine/machine.h"
#include "machine/win_path.h"
#include "registry/creg_file.h"
#include "support/temp_machine_dir.h"

namespace tarnwick::test {
namespace {

namespace fs = std::filesystem;

std::string Text(const RegNode& root, std::string_view keyPath, std::string_view valueName) {
  const RegNode* node = &root;
  for (const std::string& part : SplitWindowsPath(keyPath)) {
    node = node->FindSubkey(part);
    if (node == nullptr) return "(no key " + std::string(keyPath) + ")";
  }
  const RegValue* value = node->FindValue(valueName);
  if (value == nullptr) return "(no value " + std::string(valueName) + ")";
  EXPECT_EQ(value->type, kRegSz) << valueName;
  return std::string(value->data.begin(), value->data.end());
}

class DemoMachineTest : public ::testing::Test {
 protected:
  void SetUp() override { machine_ = OpenOrCreateMachine(dir_.Path() / "new" / "machine"); }

  bool IsDirectory(std::string_view windowsPath) const {
    const std::optional<fs::path> host = machine_.HostPath(windowsPath);
    return host && fs::is_directory(*host);
  }
  bool IsFile(std::string_view windowsPath) const {
    const std::optional<fs::path> host = machine_.HostPath(windowsPath);
    return host && fs::is_regular_file(*host);
  }

  TempMachineDir dir_;
  Machine machine_;
};

TEST_F(DemoMachineTest, HasTheDrivesOfASmallInstallation) {
  const std::vector<DriveInfo>& drives = machine_.Drives();
  ASSERT_EQ(drives.size(), 3u);
  EXPECT_EQ(drives[0].letter, 'A');
  EXPECT_EQ(drives[0].type, DriveType::Removable);
  EXPECT_FALSE(drives[0].HasMedium());
  EXPECT_EQ(drives[1].letter, 'C');
  EXPECT_EQ(drives[1].type, DriveType::Fixed);
  EXPECT_EQ(drives[1].label, "SYSTEM");
  EXPECT_EQ(drives[1].hostDir, machine_.Directory() / "c");
  EXPECT_EQ(drives[2].letter, 'D');
  EXPECT_EQ(drives[2].type, DriveType::CdRom);
  EXPECT_FALSE(drives[2].HasMedium());
  EXPECT_EQ(machine_.WindowsDirectory(), "C:\\WINDOWS");
  EXPECT_EQ(machine_.ProgramPath(), "C:\\TARNEX\\TARNEX.EXE");
  EXPECT_TRUE(IsFile(machine_.ProgramPath()));
  EXPECT_TRUE(IsFile("C:\\WINDOWS\\SYSTRAY.EXE"));
  EXPECT_TRUE(IsDirectory("C:\\Program Files\\Accessories"));
  EXPECT_TRUE(IsFile("C:\\Program Files\\Accessories\\WORDPAD.EXE"));
  EXPECT_FALSE(IsFile("C:\\WINDOWS\\Tarnex.pol"));
}

TEST_F(DemoMachineTest, RegistryNamesFoldersThatExist) {
  const std::unique_ptr<RegNode> system =
      ReadRegistryFile(*machine_.HostPath("C:\\WINDOWS\\SYSTEM.DAT"));
  const std::string version = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion";
  EXPECT_EQ(Text(*system, version, "ProgramFilesDir"), "C:\\Program Files");
  EXPECT_EQ(Text(*system, version, "VersionNumber"), "4.00.950");
  EXPECT_EQ(Text(*system, version + "\\Run", "SystemTray"), "C:\\WINDOWS\\SYSTRAY.EXE");
  EXPECT_TRUE(IsDirectory(Text(*system, version, "ProgramFilesDir")));
  EXPECT_TRUE(IsFile(Text(*system, version + "\\Run", "SystemTray")));
  ASSERT_NE(system->FindSubkey("SOFTWARE"), nullptr);
  EXPECT_NE(system->FindSubkey("Network")->FindSubkey("Logon"), nullptr);

  const std::unique_ptr<RegNode> users =
      ReadRegistryFile(*machine_.HostPath("C:\\WINDOWS\\USER.DAT"));
  for (const char* key : {"Shell Folders", "User Shell Folders"}) {
    const std::string path =
        std::string(".Default\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\") + key;
    for (const char* folder :
         {"Programs", "Start Menu", "Desktop", "Favorites", "Recent", "Startup"}) {
      const std::string windowsPath = Text(*users, path, folder);
      EXPECT_TRUE(windowsPath.starts_with("C:\\WINDOWS\\")) << key << " " << folder;
      EXPECT_TRUE(IsDirectory(windowsPath)) << windowsPath;
    }
  }
}

TEST_F(DemoMachineTest, OpeningAgainKeepsTheMachine) {
  const fs::path marker = machine_.Directory() / "c" / "WINDOWS" / "marker.txt";
  std::ofstream(marker) << "kept";
  const Machine again = OpenOrCreateMachine(machine_.Directory());
  EXPECT_TRUE(fs::exists(marker));
  EXPECT_EQ(again.Drives().size(), 3u);
  // Nothing of the construction is left beside the machine.
  EXPECT_EQ(std::distance(fs::directory_iterator(machine_.Directory().parent_path()),
                          fs::directory_iterator()),
            1);
}

TEST(DemoMachineCreationTest, FailureLeavesNothingBehind) {
  TempMachineDir dir;
  fs::create_directory(dir.Path() / "machine");  // the target exists and is not empty
  dir.WriteFile("machine/other.txt", "");
  EXPECT_THROW(CreateDemoMachine(dir.Path() / "machine"), MachineError);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path()), fs::directory_iterator()), 1);
  EXPECT_FALSE(fs::exists(dir.Path() / "machine" / "machine.ini"));
}

TEST(DemoMachineCreationTest, AMachineNamedThroughALinkedFolderIsMade) {
  TempMachineDir dir;
  fs::create_directory(dir.Path() / "real");
  fs::create_directory_symlink("real", dir.Path() / "named");
  const Machine machine = OpenOrCreateMachine(dir.Path() / "named" / "machine");
  EXPECT_TRUE(
      fs::is_regular_file(dir.Path() / "real" / "machine" / "c" / "WINDOWS" / "SYSTEM.DAT"));
  EXPECT_EQ(machine.Directory(), fs::canonical(dir.Path() / "real" / "machine"));
}

TEST(DemoShortcuts, NewMachineHasItsStartMenuShortcuts) {
  const TempMachineDir temp;
  const Machine machine = OpenOrCreateMachine(temp.Path() / "machine");
  const std::string programs = "C:\\WINDOWS\\Start Menu\\Programs\\";
  const std::pair<std::string, std::string> expected[] = {
      {"Accessories\\Notepad.lnk", "C:\\WINDOWS\\NOTEPAD.EXE"},
      {"Accessories\\WordPad.lnk", "C:\\PROGRA~1\\ACCESS~1\\WORDPAD.EXE"},
      {"Accessories\\Paint.lnk", "C:\\PROGRA~1\\ACCESS~1\\MSPAINT.EXE"},
      {"Accessories\\Calculator.lnk", "C:\\WINDOWS\\CALC.EXE"},
      {"MS-DOS Prompt.lnk", "C:\\WINDOWS\\COMMAND.COM"},
      {"Windows Explorer.lnk", "C:\\WINDOWS\\EXPLORER.EXE"},
  };
  for (const auto& [link, target] : expected) {
    EXPECT_EQ(ResolveShellLinkFile(machine, programs + link), target) << link;
  }
  const ShellLink paint = ReadShellLinkFile(*machine.HostPath(programs + "Accessories\\Paint.lnk"));
  EXPECT_EQ(paint.TargetPath(), "C:\\Program Files\\Accessories\\MSPAINT.EXE");
  EXPECT_EQ(paint.description, "Paint");
  EXPECT_EQ(paint.iconLocation, "");

  // A second run keeps what is there and restores what is missing.
  const fs::path notepad = *machine.HostPath("C:\\WINDOWS\\NOTEPAD.EXE");
  fs::remove(notepad);
  const fs::path calculator = *machine.HostPath(programs + "Accessories\\Calculator.lnk");
  fs::resize_file(calculator, 10);
  InstallDemoShortcuts(machine);
  EXPECT_TRUE(fs::exists(notepad));
  EXPECT_EQ(fs::file_size(calculator), 10u);
}

}  // namespace
}  // namespace tarnwick::test
