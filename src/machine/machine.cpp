#include "machine/machine.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <system_error>

#include "base/cp1252.h"
#include "base/data_home.h"
#include "machine/drive_walk.h"
#include "machine/host_dir.h"
#include "machine/host_volume.h"
#include "machine/image_volume.h"
#include "machine/ini_file.h"
#include "machine/win_path.h"

namespace tarnwick {

namespace fs = std::filesystem;

namespace {

constexpr const char* kDefaultWindowsDirectory = "C:\\WINDOWS";
constexpr const char* kDefaultProgramPath = "C:\\TARNEX\\TARNEX.EXE";
// machine.ini describes a few drives; a larger file is not one.
constexpr size_t kMaxIniSize = 1024 * 1024;

bool IsDriveLetter(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// "X:\..." with a drive letter.
bool IsAbsoluteDrivePath(std::string_view path) {
  return path.size() >= 3 && IsDriveLetter(path[0]) && path[1] == ':' && path[2] == '\\';
}

// Reads machine.ini into the parts of a Machine, with errors naming the file and line.
class MachineIniReader {
 public:
  explicit MachineIniReader(fs::path dir) : dir_(std::move(dir)), file_(dir_ / "machine.ini") {}

  void Read(std::string& windowsDir, std::string& programPath, std::vector<DriveInfo>& drives) {
    CheckIsFile();
    IniFile ini;
    try {
      const std::vector<uint8_t> bytes = ReadWholeFile(file_, kMaxIniSize);
      ini = IniFile::Parse(
          std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()),
          file_.string());
    } catch (const Error& e) {
      throw MachineError(e.what());
    }
    for (const IniSection& section : ini.Sections()) {
      if (EqualsIgnoreCase(section.Name(), "Machine")) {
        ReadMachineSection(section, windowsDir, programPath);
      } else if (section.Name().size() == 7 &&
                 EqualsIgnoreCase(section.Name().substr(0, 6), "Drive ") &&
                 IsDriveLetter(section.Name()[6])) {
        drives.push_back(ReadDriveSection(section));
      } else {
        Fail(section.Line(), "unknown section [" + section.Name() +
                                 "] (expected [Machine] or [Drive X] with a letter A to Z)");
      }
    }
    std::sort(drives.begin(), drives.end(),
              [](const DriveInfo& a, const DriveInfo& b) { return a.letter < b.letter; });
    CheckOnDrive(ini, "WindowsDirectory", windowsDir, drives);
    CheckOnDrive(ini, "ProgramPath", programPath, drives);
  }

 private:
  // What stands at machine.ini's place when it is not a file to read.
  void CheckIsFile() const {
    std::error_code ec;
    const fs::file_status status = fs::status(file_, ec);
    std::string what;
    switch (status.type()) {
      case fs::file_type::regular:
        return;
      case fs::file_type::not_found:
        what = fs::is_symlink(fs::symlink_status(file_, ec))
                   ? "a symbolic link that points to nothing"
                   : "not found";
        break;
      case fs::file_type::directory:
        what = "a directory, not a file";
        break;
      case fs::file_type::fifo:
        what = "a named pipe (FIFO), not a file";
        break;
      case fs::file_type::character:
      case fs::file_type::block:
        what = "a device, not a file";
        break;
      case fs::file_type::socket:
        what = "a socket, not a file";
        break;
      default:
        what = ec ? ec.message() : "not a regular file";
    }
    throw MachineError(file_.string() + ": " + what);
  }

  [[noreturn]] void Fail(int line, const std::string& what) const {
    throw MachineError(file_.string() + (line > 0 ? ", line " + std::to_string(line) : "") + ": " +
                       what);
  }

  std::string Ansi(const IniEntry& entry) const {
    std::optional<std::string> ansi = Utf8ToCp1252(entry.value);
    if (!ansi) Fail(entry.line, entry.key + " holds a character that code page 1252 cannot hold");
    return *ansi;
  }

  std::string WindowsPathValue(const IniEntry& entry) const {
    std::string path = Ansi(entry);
    if (!IsAbsoluteDrivePath(path)) {
      Fail(entry.line, entry.key + " must be a full Windows path such as C:\\WINDOWS, not \"" +
                           entry.value + "\"");
    }
    path[0] = UpperAscii(path[0]);
    while (path.size() > 3 && path.back() == '\\') path.pop_back();
    return path;
  }

  void ReadMachineSection(const IniSection& section, std::string& windowsDir,
                          std::string& programPath) const {
    for (const IniEntry& entry : section.Entries()) {
      if (EqualsIgnoreCase(entry.key, "WindowsDirectory")) {
        windowsDir = WindowsPathValue(entry);
      } else if (EqualsIgnoreCase(entry.key, "ProgramPath")) {
        programPath = WindowsPathValue(entry);
        if (programPath.size() <= 3) Fail(entry.line, "ProgramPath must name the program's file");
      } else {
        Fail(entry.line, "unknown key " + entry.key +
                             " in [Machine] (expected WindowsDirectory or ProgramPath)");
      }
    }
  }

  DriveInfo ReadDriveSection(const IniSection& section) const {
    DriveInfo drive;
    drive.letter = UpperAscii(section.Name()[6]);
    const IniEntry* type = section.Find("Type");
    if (type == nullptr) Fail(section.Line(), "[" + section.Name() + "] lacks Type=");
    for (const IniEntry& entry : section.Entries()) {
      if (EqualsIgnoreCase(entry.key, "Type")) {
        drive.type = ParseType(entry);
      } else if (EqualsIgnoreCase(entry.key, "Path")) {
        drive.hostDir = HostDirectory(entry);
      } else if (EqualsIgnoreCase(entry.key, "Image")) {
        drive.image = ImagePath(entry);
      } else if (EqualsIgnoreCase(entry.key, "Partition")) {
        drive.partition = ParseNumber(entry, 0, 255);
      } else if (EqualsIgnoreCase(entry.key, "CodePage")) {
        drive.codePage = ParseNumber(entry, 0, 65535);
        if (drive.codePage != 437 && drive.codePage != 850) {
          Fail(entry.line, "CodePage must be 437 or 850, not " + entry.value);
        }
      } else if (EqualsIgnoreCase(entry.key, "Label")) {
        drive.label = Ansi(entry);
        if (drive.label.size() > 11) Fail(entry.line, "a volume label holds at most 11 characters");
      } else if (EqualsIgnoreCase(entry.key, "Serial")) {
        drive.serial = ParseSerial(entry);
      } else if (EqualsIgnoreCase(entry.key, "RemoteName")) {
        drive.remoteName = RemoteName(entry);
      } else {
        Fail(entry.line, "unknown key " + entry.key + " in [" + section.Name() +
                             "] (expected Type, Path, Image, Partition, CodePage, Label, Serial "
                             "or RemoteName)");
      }
    }
    if (!drive.hostDir.empty() && !drive.image.empty()) {
      Fail(section.Find("Image")->line, "a drive has either Path= or Image=, not both");
    }
    if (drive.partition && drive.image.empty()) {
      Fail(section.Find("Partition")->line, "Partition= is only for a drive with Image=");
    }
    if (!drive.remoteName.empty() && drive.type != DriveType::Remote) {
      Fail(section.Find("RemoteName")->line, "RemoteName is only for a drive of Type=remote");
    }
    return drive;
  }

  DriveType ParseType(const IniEntry& entry) const {
    static constexpr std::pair<const char*, DriveType> kTypes[] = {
        {"removable", DriveType::Removable}, {"fixed", DriveType::Fixed},
        {"remote", DriveType::Remote},       {"cdrom", DriveType::CdRom},
        {"ramdisk", DriveType::RamDisk},
    };
    for (const auto& [name, type] : kTypes) {
      if (EqualsIgnoreCase(entry.value, name)) return type;
    }
    Fail(entry.line, "unknown drive type \"" + entry.value +
                         "\" (expected removable, fixed, remote, cdrom or ramdisk)");
  }

  fs::path HostDirectory(const IniEntry& entry) const {
    if (entry.value.empty()) return {};
    const fs::path given =
        fs::path(entry.value).is_absolute() ? fs::path(entry.value) : dir_ / entry.value;
    std::error_code ec;
    const fs::path resolved = fs::canonical(given, ec);
    if (ec) Fail(entry.line, "the drive's directory " + given.string() + " does not exist");
    if (!fs::is_directory(resolved, ec)) {
      Fail(entry.line, "the drive's directory " + given.string() + " is not a directory");
    }
    return resolved;
  }

  fs::path ImagePath(const IniEntry& entry) const {
    if (entry.value.empty()) return {};
    const fs::path given =
        fs::path(entry.value).is_absolute() ? fs::path(entry.value) : dir_ / entry.value;
    std::error_code ec;
    if (!fs::is_regular_file(given, ec)) {
      Fail(entry.line, "the drive's image " + given.string() + " is not a file");
    }
    return fs::canonical(given, ec);
  }

  int ParseNumber(const IniEntry& entry, int low, int high) const {
    int value = -1;
    const auto [end, error] =
        std::from_chars(entry.value.data(), entry.value.data() + entry.value.size(), value);
    if (error != std::errc() || end != entry.value.data() + entry.value.size() || value < low ||
        value > high) {
      Fail(entry.line, entry.key + " must be a number from " + std::to_string(low) + " to " +
                           std::to_string(high) + ", not \"" + entry.value + "\"");
    }
    return value;
  }

  // "1A2B-3C4D" as Windows shows it, or up to 8 hex digits.
  uint32_t ParseSerial(const IniEntry& entry) const {
    std::string digits = entry.value;
    if (digits.size() == 9 && digits[4] == '-') digits.erase(4, 1);
    if (digits.empty() || digits.size() > 8 ||
        digits.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
      Fail(entry.line, "Serial must be hexadecimal such as 1A2B-3C4D, not \"" + entry.value + "\"");
    }
    return static_cast<uint32_t>(std::stoul(digits, nullptr, 16));
  }

  std::string RemoteName(const IniEntry& entry) const {
    std::string name = Ansi(entry);
    while (name.size() > 2 && name.back() == '\\') name.pop_back();
    const std::vector<std::string> parts = SplitWindowsPath(name);
    const bool valid = name.starts_with("\\\\") && name.find("\\\\", 2) == std::string::npos &&
                       parts.size() >= 2 &&
                       std::all_of(parts.begin(), parts.end(),
                                   [](const std::string& part) { return IsValidComponent(part); });
    if (!valid) {
      Fail(entry.line, "RemoteName must be \\\\SERVER\\SHARE, not \"" + entry.value + "\"");
    }
    return name;
  }

  void CheckOnDrive(const IniFile& ini, const char* key, const std::string& path,
                    const std::vector<DriveInfo>& drives) const {
    const IniSection* section = ini.FindSection("Machine");
    const IniEntry* entry = section != nullptr ? section->Find(key) : nullptr;
    const int line = entry != nullptr ? entry->line : 0;
    const auto drive = std::find_if(drives.begin(), drives.end(),
                                    [&](const DriveInfo& d) { return d.letter == path[0]; });
    if (drive == drives.end()) {
      Fail(line, std::string(key) + " " + Cp1252ToUtf8(path) + " is on drive " + path[0] +
                     ":, which has no [Drive " + path[0] + "] section");
    }
    if (!drive->HasMedium()) {
      Fail(line, std::string(key) + " " + Cp1252ToUtf8(path) + " is on drive " + path[0] +
                     ":, which has no Path= or Image= (no medium)");
    }
  }

  fs::path dir_;
  fs::path file_;
};

// The [Paths] WinDir= of C:\MSDOS.SYS, else C:\WINDOWS. MSDOS.SYS is a text file since Windows
// 95; an older or damaged one names no directory.
std::string WindowsDirectoryOf(const Machine& machine) {
  constexpr size_t kMaxMsdosSys = 64 * 1024;
  try {
    const std::vector<uint8_t> bytes = machine.ReadFile("C:\\MSDOS.SYS", kMaxMsdosSys);
    const IniFile ini = IniFile::Parse(
        std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()), "MSDOS.SYS");
    const IniSection* paths = ini.FindSection("Paths");
    const IniEntry* winDir = paths != nullptr ? paths->Find("WinDir") : nullptr;
    if (winDir != nullptr && IsAbsoluteDrivePath(winDir->value) &&
        UpperAscii(winDir->value[0]) == 'C') {
      std::string dir = winDir->value;
      dir[0] = 'C';
      while (dir.size() > 3 && dir.back() == '\\') dir.pop_back();
      return dir;
    }
  } catch (const Error&) {
  }
  return kDefaultWindowsDirectory;
}

// A folder of a lab that clients reach through the UNC name remoteName.
DriveInfo LabShare(char letter, std::string remoteName, const fs::path& folder,
                   const std::string& what) {
  std::error_code ec;
  if (!fs::is_directory(folder, ec)) {
    throw MachineError(folder.string() + ": the lab's " + what + " folder does not exist");
  }
  DriveInfo share;
  share.letter = letter;
  share.type = DriveType::Remote;
  share.hostDir = fs::canonical(folder, ec);
  if (ec) throw MachineError(folder.string() + ": " + ec.message());
  share.remoteName = std::move(remoteName);
  return share;
}

}  // namespace

Machine Machine::Open(const fs::path& dir) {
  if (dir.empty()) throw MachineError("The machine directory is an empty path");
  std::error_code ec;
  const fs::file_status status = fs::status(dir, ec);
  if (status.type() == fs::file_type::not_found) {
    throw MachineError(dir.string() + ": no such machine directory");
  }
  if (ec) {
    throw MachineError(dir.string() + ": " + ec.message());
  } else if (!fs::is_directory(status)) {
    throw MachineError(dir.string() + ": not a directory");
  }
  Machine machine;
  machine.dir_ = fs::canonical(dir, ec);
  if (ec) throw MachineError(dir.string() + ": " + ec.message());
  if (IsLabDirectory(machine.dir_)) return OpenLab(machine.dir_);
  machine.windowsDir_ = kDefaultWindowsDirectory;
  machine.programPath_ = kDefaultProgramPath;
  MachineIniReader(machine.dir_).Read(machine.windowsDir_, machine.programPath_, machine.drives_);
  machine.OpenVolumes();
  return machine;
}

Machine Machine::OpenLab(const fs::path& dir) {
  LabSettings settings;
  try {
    settings = ReadLab(dir);
  } catch (const Error& e) {
    throw MachineError(e.what());
  }
  const fs::path server = dir / kLabServerFolder;
  std::error_code ec;
  if (!fs::is_directory(server, ec)) {
    throw MachineError(server.string() + ": the lab's server machine does not exist");
  }
  Machine machine = Open(server);
  machine.dir_ = dir;
  const std::string unc = "\\\\" + settings.server;
  // Letters for the device a shortcut names: the drives a logon script would map.
  machine.shares_.push_back(
      LabShare('N', unc + "\\NETLOGON", LabFolder(dir, settings.netlogon), "netlogon"));
  machine.shares_.push_back(LabShare('H', unc, LabFolder(dir, settings.homes), "homes"));
  const fs::path policyFile = machine.shares_.front().hostDir / kPolicyFileName;
  if (!fs::is_regular_file(policyFile, ec)) {
    throw MachineError(policyFile.string() +
                       ": the lab's policy file is missing; the clients download it at every "
                       "logon. Put it back from a backup, or make the lab anew with "
                       "tarnwick-lab init");
  }
  for (const DriveInfo& share : machine.shares_) {
    machine.shareVolumes_.push_back(std::make_shared<HostVolume>(
        share.hostDir, share.letter, machine.hostNames_, machine.flush_));
  }
  machine.lab_ = std::move(settings);
  return machine;
}

Machine Machine::OpenImage(const fs::path& image) {
  std::error_code ec;
  if (!fs::is_regular_file(image, ec))
    throw MachineError(image.string() + ": not a disk image file");
  Machine machine;
  machine.dir_ = fs::canonical(image, ec);
  if (ec) throw MachineError(image.string() + ": " + ec.message());
  DriveInfo drive;
  drive.image = machine.dir_;
  machine.drives_.push_back(std::move(drive));
  machine.programPath_ = kDefaultProgramPath;
  machine.OpenVolumes();
  machine.windowsDir_ = WindowsDirectoryOf(machine);
  return machine;
}

void Machine::OpenVolumes() {
  for (DriveInfo& drive : drives_) {
    if (!drive.image.empty()) {
      try {
        auto volume = std::make_shared<ImageVolume>(drive.image, drive.partition, drive.codePage);
        if (drive.label.empty()) drive.label = volume->Label().value_or(std::string());
        if (drive.serial == 0) drive.serial = volume->Serial().value_or(0);
        volumes_.push_back(std::move(volume));
      } catch (const Error& e) {
        throw MachineError(std::string("Drive ") + drive.letter + ": " + e.what());
      }
    } else if (!drive.hostDir.empty()) {
      volumes_.push_back(
          std::make_shared<HostVolume>(drive.hostDir, drive.letter, hostNames_, flush_));
    } else {
      volumes_.push_back(nullptr);
    }
  }
}

fs::path Machine::DefaultDirectory() {
  if (const char* env = std::getenv("TARNWICK_MACHINE"); env != nullptr && *env != '\0') {
    return env;
  }
  const std::optional<fs::path> dataHome = DataHome();
  if (!dataHome) throw MachineError("no home directory: give the machine with --machine DIR");
  return *dataHome / "tarnwick" / "machine";
}

const DriveInfo* Machine::FindDrive(char letter) const {
  const char upper = UpperAscii(letter);
  for (const DriveInfo& drive : drives_) {
    if (drive.letter == upper) return &drive;
  }
  return nullptr;
}

std::optional<fs::path> Machine::HostPath(std::string_view windowsPath) const {
  PathLookup lookup = LookUp(windowsPath);
  if (lookup.status != PathStatus::Found) return std::nullopt;
  return std::move(lookup.host);
}

PathStatus Machine::Locate(std::string_view windowsPath, VolumeLocation& location) const {
  std::string path(windowsPath);
  std::replace(path.begin(), path.end(), '/', '\\');

  const DriveInfo* drive = nullptr;
  DriveVolume* volume = nullptr;
  std::vector<std::string> components;
  if (path.starts_with("\\\\")) {
    components = SplitWindowsPath(path);
    size_t longest = 0;
    const auto match = [&](const std::vector<DriveInfo>& drives,
                           const std::vector<std::shared_ptr<DriveVolume>>& volumes) {
      for (size_t i = 0; i < drives.size(); ++i) {
        const DriveInfo& candidate = drives[i];
        if (candidate.remoteName.empty()) continue;
        const std::vector<std::string> remote = SplitWindowsPath(candidate.remoteName);
        if (remote.size() > longest && remote.size() <= components.size() &&
            std::equal(remote.begin(), remote.end(), components.begin(),
                       [](const std::string& a, const std::string& b) {
                         return EqualsIgnoreCase(a, b);
                       })) {
          drive = &candidate;
          volume = volumes[i].get();
          longest = remote.size();
        }
      }
    };
    match(drives_, volumes_);
    match(shares_, shareVolumes_);
    components.erase(components.begin(), components.begin() + static_cast<ptrdiff_t>(longest));
  } else if (path.size() >= 2 && IsDriveLetter(path[0]) && path[1] == ':') {
    drive = FindDrive(path[0]);
    if (drive != nullptr) volume = volumes_[static_cast<size_t>(drive - drives_.data())].get();
    components = SplitWindowsPath(std::string_view(path).substr(2));
  } else {
    return PathStatus::Malformed;
  }
  if (drive == nullptr || !drive->HasMedium()) return PathStatus::NoDrive;

  VolumePath parts;
  for (std::string& component : components) {
    if (component == ".") continue;
    if (component == "..") {
      if (parts.empty()) return PathStatus::Unreachable;
      parts.pop_back();
      continue;
    }
    if (!IsValidComponent(component)) return PathStatus::Malformed;
    parts.push_back(std::move(component));
  }
  location.drive = drive;
  location.volume = volume;
  location.path = std::move(parts);
  return PathStatus::Found;
}

PathLookup Machine::LookUp(std::string_view windowsPath, bool followFinalLink) const {
  VolumeLocation location;
  if (const PathStatus status = Locate(windowsPath, location); status != PathStatus::Found) {
    return {status, {}};
  }
  if (location.drive->hostDir.empty()) return {PathStatus::OnImage, {}};
  std::optional<fs::path> host =
      static_cast<const HostVolume*>(location.volume)->Resolve(location.path, followFinalLink);
  if (!host) return {PathStatus::Unreachable, {}};
  return {PathStatus::Found, std::move(*host)};
}

HeldPath Machine::Hold(std::string_view windowsPath) const {
  // Each retry follows, under the rules above, a link swapped in after the look-up before it.
  constexpr int kAttempts = 8;
  for (int attempt = 1;; ++attempt) {
    const PathLookup lookup = LookUp(windowsPath, false);
    const std::string shown = Cp1252ToUtf8(windowsPath);
    switch (lookup.status) {
      case PathStatus::Found:
        break;
      case PathStatus::Malformed:
        throw MachineError(shown + ": not a valid Windows path");
      case PathStatus::NoDrive:
        throw MachineError(shown + ": not on a drive of the machine with a medium");
      case PathStatus::Unreachable:
        throw MachineError(shown +
                           ": the path leads outside its drive (through \"..\" or a symbolic "
                           "link) or to a link that points nowhere");
      case PathStatus::OnImage:
        throw MachineError(shown + ": on a disk image, not a host directory");
    }
    const auto isRoot = [&](const DriveInfo& drive) { return lookup.host == drive.hostDir; };
    if (std::any_of(drives_.begin(), drives_.end(), isRoot) ||
        std::any_of(shares_.begin(), shares_.end(), isRoot)) {
      throw MachineError(shown + ": the root folder of a drive");
    }
    HeldPath held = HoldParentNoFollow(lookup.host);
    if (held.dir.Valid() || (held.error != ELOOP && held.error != ENOTDIR) ||
        attempt == kAttempts) {
      return held;
    }
  }
}

std::optional<std::string> Machine::WindowsPath(const fs::path& hostPath) const {
  std::error_code ec;
  fs::path path = fs::absolute(hostPath, ec).lexically_normal();
  if (ec) return std::nullopt;
  if (!path.has_filename() && path.has_relative_path()) path = path.parent_path();

  const auto findDrive = [this](const fs::path& p) {
    const DriveInfo* best = nullptr;
    for (const DriveInfo& drive : drives_) {
      if (drive.HasMedium() && IsWithin(p, drive.hostDir) &&
          (best == nullptr || drive.hostDir.native().size() > best->hostDir.native().size())) {
        best = &drive;
      }
    }
    return best;
  };
  const DriveInfo* drive = findDrive(path);
  if (drive == nullptr) {
    path = fs::weakly_canonical(path, ec);
    if (ec) return std::nullopt;
    drive = findDrive(path);
    if (drive == nullptr) return std::nullopt;
  }

  std::string result{drive->letter, ':', '\\'};
  bool first = true;
  for (const fs::path& part : path.lexically_relative(drive->hostDir)) {
    if (part == ".") continue;
    const std::optional<std::string> ansi = Utf8ToCp1252(part.string());
    if (!ansi) return std::nullopt;
    if (!first) result += '\\';
    result += *ansi;
    first = false;
  }
  return result;
}

DeferredFlushScope::DeferredFlushScope(const Machine& machine) : flush_(machine.flush_) {
  flush_->Begin();
}

DeferredFlushScope::~DeferredFlushScope() {
  try {
    Finish();
  } catch (const FileWriteError&) {
    // Finish reports it to a caller who asks.
  }
}

void DeferredFlushScope::Finish() {
  if (!open_) return;
  open_ = false;
  flush_->End();
}

bool ExistingDirectory(const Machine& machine, std::string_view windowsPath) {
  if (windowsPath.empty()) return false;
  const std::optional<VolumeEntry> entry = machine.Stat(windowsPath);
  return entry && entry->IsDirectory();
}

bool ExistingFile(const Machine& machine, std::string_view windowsPath) {
  const std::optional<VolumeEntry> entry = machine.Stat(windowsPath);
  return entry && !entry->IsDirectory();
}

}  // namespace tarnwick
