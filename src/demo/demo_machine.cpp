#include "demo/demo_machine.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <string_view>

#include "demo/demo_shortcuts.h"
#include "demo/project_icons.h"
#include "machine/ini_file.h"
#include "machine/machine.h"
#include "machine/win_path.h"
#include "registry/creg_file.h"

namespace tarnwick {

namespace fs = std::filesystem;

namespace {

// Removes a half-made machine unless it was committed.
class TemporaryDirectory {
 public:
  explicit TemporaryDirectory(const fs::path& target) {
    std::string pattern = target.string() + ".new-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
      throw MachineError(target.parent_path().string() + ": " + std::strerror(errno));
    }
    path_ = pattern;
  }
  ~TemporaryDirectory() {
    std::error_code ec;
    if (!path_.empty()) fs::remove_all(path_, ec);
  }
  TemporaryDirectory(const TemporaryDirectory&) = delete;
  TemporaryDirectory& operator=(const TemporaryDirectory&) = delete;

  const fs::path& Path() const { return path_; }
  void Release() { path_.clear(); }

 private:
  fs::path path_;
};

void WriteText(const fs::path& file, std::string_view text) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out << text;
  out.flush();
  if (!out) throw MachineError(file.string() + ": cannot be written");
}

void WritePlaceholder(const fs::path& file) {
  WriteText(file,
            "Placeholder for " + file.filename().string() + " on a Tarnwick demo machine.\r\n");
}

RegNode& Key(RegNode& root, std::string_view path) {
  RegNode* node = &root;
  for (const std::string& part : SplitWindowsPath(path)) node = &node->AddSubkey(part);
  return *node;
}

void SetString(RegNode& key, std::string_view name, std::string_view text) {
  key.SetValue(name, kRegSz, std::vector<uint8_t>(text.begin(), text.end()));
}

void SetBinary(RegNode& key, std::string_view name, std::vector<uint8_t> data) {
  key.SetValue(name, kRegBinary, std::move(data));
}

constexpr std::string_view kCurrentVersion = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion";

// HKEY_LOCAL_MACHINE.
std::unique_ptr<RegNode> SystemRegistry() {
  auto root = std::make_unique<RegNode>();
  Key(*root, "Config\\0001");
  Key(*root, "Enum");
  Key(*root, "hardware");

  RegNode& version = Key(*root, kCurrentVersion);
  SetString(version, "ProgramFilesDir", "C:\\Program Files");
  SetString(version, "CommonFilesDir", "C:\\Program Files\\Common Files");
  SetString(version, "SystemRoot", "C:\\WINDOWS");
  SetString(version, "DevicePath", "C:\\WINDOWS\\INF");
  SetString(version, "MediaPath", "C:\\WINDOWS\\MEDIA");
  SetString(version, "ProductName", "Microsoft Windows 95");
  SetString(version, "Version", "Windows 95");
  SetString(version, "VersionNumber", "4.00.950");
  SetString(version, "SubVersionNumber", "");
  SetString(version, "RegisteredOwner", "Owner");
  SetString(version, "RegisteredOrganization", "Tarnwick Demo");
  SetString(version, "ProductId", "00000-OEM-0000000-00000");

  SetString(Key(version, "Run"), "SystemTray", "C:\\WINDOWS\\SYSTRAY.EXE");
  Key(version, "ProfileList");
  RegNode& appPaths = Key(version, "App Paths");
  SetString(Key(appPaths, "WORDPAD.EXE"), "", "C:\\Program Files\\Accessories\\WORDPAD.EXE");
  SetString(Key(appPaths, "MSPAINT.EXE"), "", "C:\\Program Files\\Accessories\\MSPAINT.EXE");
  SetString(Key(appPaths, "WINZIP32.EXE"), "", "C:\\Program Files\\WinZip\\WINZIP32.EXE");

  SetString(Key(*root, "Network\\Logon"), "username", "Owner");
  RegNode& control = Key(*root, "System\\CurrentControlSet\\control");
  SetBinary(Key(control, "Update"), "UpdateMode", {0x01});
  SetString(Key(control, "ComputerName\\ComputerName"), "ComputerName", "TARNWICK");
  RegNode& vnetsup = Key(*root, "System\\CurrentControlSet\\Services\\VxD\\VNETSUP");
  SetString(vnetsup, "ComputerName", "TARNWICK");
  SetString(vnetsup, "Workgroup", "WORKGROUP");
  return root;
}

// HKEY_USERS, with the default user's settings below ".Default".
std::unique_ptr<RegNode> UserRegistry() {
  auto root = std::make_unique<RegNode>();
  RegNode& user = Key(*root, ".Default");
  RegNode& explorer = Key(user, "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer");

  static constexpr std::pair<std::string_view, std::string_view> kUserFolders[] = {
      {"Desktop", "C:\\WINDOWS\\Desktop"},
      {"Programs", "C:\\WINDOWS\\Start Menu\\Programs"},
      {"Start Menu", "C:\\WINDOWS\\Start Menu"},
      {"Startup", "C:\\WINDOWS\\Start Menu\\Programs\\StartUp"},
      {"Favorites", "C:\\WINDOWS\\Favorites"},
      {"Recent", "C:\\WINDOWS\\Recent"},
  };
  RegNode& shellFolders = Key(explorer, "Shell Folders");
  RegNode& userShellFolders = Key(explorer, "User Shell Folders");
  for (const auto& [name, path] : kUserFolders) {
    SetString(shellFolders, name, path);
    SetString(userShellFolders, name, path);
  }
  SetString(shellFolders, "Fonts", "C:\\WINDOWS\\FONTS");
  SetString(shellFolders, "NetHood", "C:\\WINDOWS\\NetHood");
  SetString(shellFolders, "SendTo", "C:\\WINDOWS\\SendTo");
  SetString(shellFolders, "Templates", "C:\\WINDOWS\\ShellNew");
  SetString(shellFolders, "Personal", "C:\\My Documents");

  RegNode& desktop = Key(user, "Control Panel\\Desktop");
  SetString(desktop, "Wallpaper", "(None)");
  SetString(desktop, "TileWallpaper", "1");
  SetString(desktop, "ScreenSaveActive", "0");
  SetString(Key(user, "Control Panel\\International"), "Locale", "00000409");
  return root;
}

void CreateFolders(const fs::path& base, std::initializer_list<std::string_view> folders) {
  for (const std::string_view folder : folders) fs::create_directories(base / folder);
}

void CreatePlaceholders(const fs::path& base, std::initializer_list<std::string_view> files) {
  for (const std::string_view file : files) WritePlaceholder(base / file);
}

void InstallWindows(const fs::path& windows) {
  CreateFolders(windows, {"SYSTEM", "INF", "MEDIA", "FONTS", "SendTo", "NetHood", "ShellNew",
                          "Desktop", "Favorites", "Recent"});
  CreatePlaceholders(windows, {"SYSTRAY.EXE", "EXPLORER.EXE", "REGEDIT.EXE", "NOTEPAD.EXE",
                               "CALC.EXE", "WINHELP.EXE", "COMMAND.COM"});
  WriteText(windows / "WIN.INI",
            "[windows]\r\nload=\r\nrun=\r\nNullPort=None\r\n\r\n"
            "[Desktop]\r\nWallpaper=(None)\r\nTileWallpaper=1\r\n");
  WriteText(windows / "SYSTEM.INI",
            "[boot]\r\nshell=Explorer.exe\r\nsystem.drv=system.drv\r\n\r\n[386Enh]\r\n");
  WriteRegistryFile(windows / "SYSTEM.DAT", *SystemRegistry());
  WriteRegistryFile(windows / "USER.DAT", *UserRegistry());
}

// The default user's Start Menu: the folders its Shell Folders name.
void InstallStartMenu(const fs::path& startMenu) {
  CreateFolders(startMenu, {"Programs/Accessories", "Programs/StartUp"});
}

void InstallPrograms(const fs::path& programFiles) {
  CreateFolders(programFiles, {"Accessories", "Common Files", "WinZip"});
  CreatePlaceholders(programFiles,
                     {"Accessories/WORDPAD.EXE", "Accessories/MSPAINT.EXE", "WinZip/WINZIP32.EXE"});
}

// Tarnwick's own directory on the machine, the folder of ProgramPath.
void InstallProgramFiles(const fs::path& programDir) {
  fs::create_directories(programDir);
  CreatePlaceholders(programDir, {"TARNEX.EXE", "TWTray.exe"});
}

void WriteMachineIni(const fs::path& file) {
  IniFile ini;
  IniSection& machine = ini.AddSection("Machine");
  machine.Set("WindowsDirectory", "C:\\WINDOWS");
  machine.Set("ProgramPath", "C:\\TARNEX\\TARNEX.EXE");
  IniSection& a = ini.AddSection("Drive A");
  a.Set("Type", "removable");
  a.Set("Path", "");
  IniSection& c = ini.AddSection("Drive C");
  c.Set("Type", "fixed");
  c.Set("Path", "c");
  c.Set("Label", "SYSTEM");
  c.Set("Serial", "2A1B-07C4");
  IniSection& d = ini.AddSection("Drive D");
  d.Set("Type", "cdrom");
  d.Set("Path", "");
  ini.Write(file);
}

void Populate(const fs::path& dir) {
  const fs::path c = dir / "c";
  CreateFolders(c, {"My Documents"});
  WriteText(c / "AUTOEXEC.BAT", "");
  WriteText(c / "CONFIG.SYS", "");
  WriteText(c / "MSDOS.SYS",
            "[Paths]\r\nWinDir=C:\\WINDOWS\r\nWinBootDir=C:\\WINDOWS\r\nHostWinBootDrv=C\r\n\r\n"
            "[Options]\r\nBootGUI=1\r\n");
  WritePlaceholder(c / "COMMAND.COM");
  InstallWindows(c / "WINDOWS");
  InstallStartMenu(c / "WINDOWS" / "Start Menu");
  InstallPrograms(c / "Program Files");
  InstallProgramFiles(c / "TARNEX");
  WriteMachineIni(dir / "machine.ini");
  InstallDemoShortcuts(Machine::Open(dir));
  InstallProgramIcons(Machine::Open(dir));
}

}  // namespace

void CreateDemoMachine(const fs::path& dir) {
  fs::path target = fs::absolute(dir).lexically_normal();
  if (!target.has_filename()) target = target.parent_path();
  try {
    fs::create_directories(target.parent_path());
    // Links on the way are resolved once here: the files below are written following none.
    target = fs::canonical(target.parent_path()) / target.filename();
    TemporaryDirectory temporary(target);
    Populate(temporary.Path());
    std::error_code ec;
    fs::rename(temporary.Path(), target, ec);
    if (ec) {
      // Another process may have created the machine meanwhile; then that one stands.
      if (fs::exists(target / "machine.ini")) return;
      throw MachineError(target.string() + ": " + ec.message());
    }
    temporary.Release();
  } catch (const MachineError&) {
    throw;
  } catch (const std::exception& e) {
    throw MachineError("Cannot create the demo machine " + target.string() + ": " + e.what());
  }
}

Machine OpenOrCreateMachine(const fs::path& dir) {
  if (dir.empty()) throw MachineError("The machine directory is an empty path");
  std::error_code ec;
  if (fs::symlink_status(dir, ec).type() == fs::file_type::not_found) CreateDemoMachine(dir);
  return Machine::Open(dir);
}

}  // namespace tarnwick
