#include "demo/demo_machine.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <span>
#include <string>
#include <string_view>

#include "base/file_io.h"
#include "demo/demo_shortcuts.h"
#include "demo/project_icons.h"
#include "fat/fat_format.h"
#include "machine/ini_file.h"
#include "machine/machine.h"
#include "machine/win_path.h"
#include "registry/creg_file.h"
#include "volume/image_file.h"
#include "volume/partition.h"
#include "volume/partition_table_write.h"

namespace tarnwick {

namespace fs = std::filesystem;

namespace {

// Room for many users' profiles and programs; the file is sparse, so a new image takes about a
// megabyte of the host's disk. FORMAT gives a FAT16 volume of this size 4 KB clusters.
constexpr uint64_t kDemoImageSize = uint64_t{256} << 20;

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

std::span<const uint8_t> Bytes(std::string_view text) {
  return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

void WriteText(const Machine& machine, const std::string& file, std::string_view text) {
  machine.WriteFile(file, Bytes(text));
}

void WritePlaceholder(const Machine& machine, const std::string& file) {
  WriteText(machine, file,
            "Placeholder for " + ExtractFileName(file) + " on a Tarnwick demo machine.\r\n");
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

// Each folder is a path below base; its missing levels are made.
void CreateFolders(const Machine& machine, const std::string& base,
                   std::initializer_list<std::string_view> folders) {
  for (const std::string_view folder : folders) {
    std::string level = base;
    for (const std::string& part : SplitWindowsPath(folder)) {
      level += "\\" + part;
      machine.MakeDirectory(level);
    }
  }
}

void CreatePlaceholders(const Machine& machine, const std::string& base,
                        std::initializer_list<std::string_view> files) {
  for (const std::string_view file : files) {
    WritePlaceholder(machine, base + "\\" + std::string(file));
  }
}

void InstallWindows(const Machine& machine, const std::string& windows) {
  machine.MakeDirectory(windows);
  CreateFolders(machine, windows,
                {"SYSTEM", "INF", "MEDIA", "FONTS", "SendTo", "NetHood", "ShellNew", "Desktop",
                 "Favorites", "Recent"});
  CreatePlaceholders(machine, windows,
                     {"SYSTRAY.EXE", "EXPLORER.EXE", "REGEDIT.EXE", "NOTEPAD.EXE", "CALC.EXE",
                      "WINHELP.EXE", "COMMAND.COM"});
  WriteText(machine, windows + "\\WIN.INI",
            "[windows]\r\nload=\r\nrun=\r\nNullPort=None\r\n\r\n"
            "[Desktop]\r\nWallpaper=(None)\r\nTileWallpaper=1\r\n");
  WriteText(machine, windows + "\\SYSTEM.INI",
            "[boot]\r\nshell=Explorer.exe\r\nsystem.drv=system.drv\r\n\r\n[386Enh]\r\n");
  machine.WriteFile(windows + "\\SYSTEM.DAT", EncodeRegistryFile(*SystemRegistry(), "SYSTEM.DAT"));
  machine.WriteFile(windows + "\\USER.DAT", EncodeRegistryFile(*UserRegistry(), "USER.DAT"));
}

void InstallPrograms(const Machine& machine, const std::string& programFiles) {
  machine.MakeDirectory(programFiles);
  CreateFolders(machine, programFiles, {"Accessories", "Common Files", "WinZip"});
  CreatePlaceholders(
      machine, programFiles,
      {"Accessories\\WORDPAD.EXE", "Accessories\\MSPAINT.EXE", "WinZip\\WINZIP32.EXE"});
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

// Drive C of a Windows 95 installation, written through the machine's calls so that a host
// directory and a disk image get the same files.
void InstallDriveC(const Machine& machine) {
  CreateFolders(machine, "C:", {"My Documents"});
  WriteText(machine, "C:\\AUTOEXEC.BAT", "");
  WriteText(machine, "C:\\CONFIG.SYS", "");
  WriteText(machine, "C:\\MSDOS.SYS",
            "[Paths]\r\nWinDir=C:\\WINDOWS\r\nWinBootDir=C:\\WINDOWS\r\nHostWinBootDrv=C\r\n\r\n"
            "[Options]\r\nBootGUI=1\r\n");
  VolumeLocation msdosSys;
  if (machine.Locate("C:\\MSDOS.SYS", msdosSys) == PathStatus::Found) {
    msdosSys.volume->AddAttributes(msdosSys.path,
                                   file_attr::kHidden | file_attr::kSystem | file_attr::kReadOnly);
  }
  WritePlaceholder(machine, "C:\\COMMAND.COM");
  InstallWindows(machine, "C:\\WINDOWS");
  // The default user's Start Menu: the folders its Shell Folders name.
  CreateFolders(machine, "C:\\WINDOWS",
                {"Start Menu\\Programs\\Accessories", "Start Menu\\Programs\\StartUp"});
  InstallPrograms(machine, "C:\\Program Files");
  // Tarnwick's own directory on the machine, the folder of ProgramPath.
  CreateFolders(machine, "C:", {"TARNEX"});
  CreatePlaceholders(machine, "C:\\TARNEX", {"TARNEX.EXE", "TWTray.exe"});
  InstallDemoShortcuts(machine);
  InstallProgramIcons(machine);
}

void Populate(const fs::path& dir) {
  fs::create_directory(dir / "c");
  WriteMachineIni(dir / "machine.ini");
  InstallDriveC(Machine::Open(dir));
}

// A new file beside the target, removed at the end: a link to it commits it as the target.
class TemporaryFile {
 public:
  // Made as any new file, its mode from the umask.
  explicit TemporaryFile(const fs::path& target) {
    for (int attempt = 0;; ++attempt) {
      path_ = target.string() + ".new-" + std::to_string(getpid()) + "-" + std::to_string(attempt);
      const UniqueFd fd(open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
      if (fd.Valid()) return;
      if (errno != EEXIST || attempt == 100) {
        const std::string why = std::strerror(errno);
        path_.clear();
        throw MachineError(target.parent_path().string() + ": " + why);
      }
    }
  }
  ~TemporaryFile() {
    std::error_code ec;
    if (!path_.empty()) fs::remove(path_, ec);
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;

  const fs::path& Path() const { return path_; }

 private:
  fs::path path_;
};

// A raw disk of one primary FAT16 partition over its whole cylinders, formatted as Windows 95
// formats it.
void PartitionAndFormat(const fs::path& image) {
  fs::resize_file(image, kDemoImageSize);  // sparse: only what is written takes room
  ImageFile disk(image, ImageFile::Mode::ReadWrite);
  const Partition partition = WriteSinglePartitionTable(disk, 0x06);
  PartitionDevice volume(disk, partition.offset, partition.length);
  const DiskGeometry geometry = TranslatedGeometry(disk.Size() / 512);
  const int64_t now = std::time(nullptr);
  Fat16FormatOptions options;
  options.label = "SYSTEM";
  options.serial = VolumeSerialAt(now);
  options.unixTime = now;
  options.hiddenSectors = static_cast<uint32_t>(partition.offset / 512);
  options.heads = static_cast<uint16_t>(geometry.heads);
  options.sectorsPerTrack = static_cast<uint16_t>(geometry.sectorsPerTrack);
  FormatFat16(volume, options);
}

// The absolute target with the links of its folders resolved, which are created.
fs::path PrepareTarget(const fs::path& path) {
  fs::path target = fs::absolute(path).lexically_normal();
  if (!target.has_filename()) target = target.parent_path();
  fs::create_directories(target.parent_path());
  return fs::canonical(target.parent_path()) / target.filename();
}

}  // namespace

void CreateDemoMachine(const fs::path& dir) {
  fs::path target = dir;
  try {
    // Links on the way are resolved once here: the files below are written following none.
    target = PrepareTarget(dir);
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
  // A lab's server machine is made on its first opening.
  if (IsLabDirectory(dir) &&
      fs::symlink_status(dir / kLabServerFolder, ec).type() == fs::file_type::not_found) {
    CreateDemoMachine(dir / kLabServerFolder);
  }
  return Machine::Open(dir);
}

void CreateDemoImage(const fs::path& image) {
  // Emulators take an image's format from its name.
  std::string extension = image.extension().string();
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  for (const char* other : {".vhd", ".vpc", ".vhdx", ".qcow2", ".qcow", ".vdi", ".vmdk"}) {
    if (extension != other) continue;
    const std::string raw = fs::path(image).replace_extension(".img").string();
    throw MachineError(image.string() +
                       " does not exist, and a new demo image is a raw disk: " + "name it " + raw +
                       ", and make a VHD copy with\n  qemu-img convert -O vpc \"" + raw + "\" \"" +
                       fs::path(image).replace_extension(".vhd").string() + "\"");
  }
  fs::path target = image;
  try {
    target = PrepareTarget(image);
    const TemporaryFile temporary(target);
    PartitionAndFormat(temporary.Path());
    InstallDriveC(Machine::OpenImage(temporary.Path()));
    // A link never replaces: an image another process made meanwhile stands.
    if (link(temporary.Path().c_str(), target.c_str()) != 0 && errno != EEXIST) {
      throw MachineError(target.string() + ": " + std::strerror(errno));
    }
  } catch (const MachineError&) {
    throw;
  } catch (const std::exception& e) {
    throw MachineError("Cannot create the demo image " + target.string() + ": " + e.what());
  }
}

Machine OpenOrCreateImage(const fs::path& image) {
  if (image.empty()) throw MachineError("The disk image is an empty path");
  std::error_code ec;
  if (fs::symlink_status(image, ec).type() == fs::file_type::not_found) CreateDemoImage(image);
  return Machine::OpenImage(image);
}

}  // namespace tarnwick
