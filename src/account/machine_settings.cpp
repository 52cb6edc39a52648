#include "account/machine_settings.h"

#include "base/text.h"
#include "machine/machine.h"
#include "machine/win_path.h"
#include "policy/activation.h"
#include "registry/registry.h"

namespace tarnwick {

namespace {

constexpr std::string_view kShellFoldersKey =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
constexpr std::string_view kRunKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr std::string_view kCurrentVersionKey = "Software\\Microsoft\\Windows\\CurrentVersion";

}  // namespace

ShellFolders CurrentUserShellFolders(Registry& registry) {
  RegistryAccessor reg(registry);
  reg.SetRootKey(RootKey::CurrentUser);
  reg.OpenKey(kShellFoldersKey, true);
  const auto read = [&reg](std::string_view name) {
    return std::string(Trim(reg.ReadString(name)));
  };
  ShellFolders folders;
  folders.programs = read("Programs");
  folders.startMenu = read("Start Menu");
  folders.desktop = read("Desktop");
  folders.favorites = read("Favorites");
  folders.recent = read("Recent");
  return folders;
}

std::string DefaultProgramsFolder(Registry& registry) {
  RegistryAccessor reg(registry);
  reg.SetRootKey(RootKey::Users);
  reg.OpenKey(".default\\" + std::string(kShellFoldersKey), true);
  return reg.ReadString("Programs");
}

std::string ProgramOfCommandLine(const Machine& machine, std::string_view commandLine) {
  constexpr std::string_view kBlanks = " \t";
  std::string_view text = TrimLeft(commandLine);
  std::string_view program;
  if (text.starts_with('"')) {
    text.remove_prefix(1);
    program = text.substr(0, text.find('"'));
  } else {
    program = text.substr(0, text.find_first_of(kBlanks));
    const auto exists = [&machine](std::string_view path) {
      return ExistingFile(machine, path) ||
             (ExtractFileExt(path).empty() && ExistingFile(machine, std::string(path) + ".exe"));
    };
    for (size_t end = text.find_first_of(kBlanks);; end = text.find_first_of(kBlanks, end + 1)) {
      const std::string_view prefix = Trim(text.substr(0, end));
      if (exists(prefix)) {
        program = prefix;
        break;
      }
      if (end == std::string_view::npos) break;
    }
  }
  std::string name = ExtractFileName(program);
  if (!name.empty() && ExtractFileExt(name).empty()) name += ".exe";
  return name;
}

std::vector<std::string> StartupPrograms(Registry& registry) {
  const Machine& machine = registry.GetMachine();
  const std::string tray = ExtractFileName(TrayPathFor(machine.ProgramPath()));
  RegistryAccessor reg(registry);
  reg.SetRootKey(RootKey::LocalMachine);
  std::vector<std::string> programs;
  if (!reg.OpenKey(kRunKey, true)) return programs;
  const std::vector<std::string> names = reg.GetValueNames();
  for (auto name = names.rbegin(); name != names.rend(); ++name) {
    std::string file = ProgramOfCommandLine(machine, reg.ReadString(*name));
    if (!file.empty() && !EqualsIgnoreCase(file, tray)) programs.push_back(std::move(file));
  }
  return programs;
}

std::string ProgramFilesFolder(Registry& registry) {
  RegistryAccessor reg(registry);
  reg.SetRootKey(RootKey::LocalMachine);
  reg.OpenKey(kCurrentVersionKey, false);
  std::string folder = reg.ReadString("ProgramFilesDir");
  if (folder.empty() || !ExistingDirectory(registry.GetMachine(), folder)) return {};
  return folder;
}

}  // namespace tarnwick
