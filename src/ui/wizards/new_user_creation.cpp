#include "ui/wizards/new_user_creation.h"

#include <cstdint>
#include <filesystem>
#include <string_view>

#include "base/text.h"
#include "controls/wait_cursor.h"
#include "machine/machine.h"
#include "machine/win_path.h"
#include "policy/policy_file.h"
#include "policy/users.h"
#include "registry/registry.h"
#include "shell/file_operations.h"
#include "shell/machine_dir.h"
#include "shell/prompts.h"
#include "shell/shell_links.h"

namespace tarnwick {

namespace {

int32_t Flag(bool on) {
  return on ? 1 : 0;
}

void MakeWhereMissing(const Machine& machine, const std::string& path) {
  if (!ExistingDirectory(machine, path)) MakeDirectory(machine, path);
}

// "Kids'" but "Guest's" and "GUESTS's": only a lower-case final s takes the apostrophe alone.
std::string Possessive(const std::string& name) {
  return name + (!name.empty() && name.back() == 's' ? "'" : "'s");
}

// The trimmed choice, else default.ico beside the program; empty when no file exists there.
std::string IconFile(const Machine& machine, std::string_view chosen) {
  std::string icon(Trim(chosen));
  if (icon.empty()) {
    icon = AddTrailingBackslash(ExtractFilePath(machine.ProgramPath())) + "default.ico";
  }
  const std::optional<std::filesystem::path> host = machine.HostPath(icon);
  std::error_code ec;
  if (!host || !std::filesystem::is_regular_file(*host, ec)) icon.clear();
  return icon;
}

void SetRestrictions(TUser& user, const NewUserAnswers& answers) {
  user.SetNoRun(Flag(answers.noRun));
  user.SetNoFind(Flag(answers.noFind));
  user.SetNoSetFolders(Flag(answers.noSettings));
  user.SetNoSetTaskbar(Flag(answers.noSettings));
  user.SetNoDesktop(Flag(answers.noDesktop));
  user.SetDisableRegistryTools(Flag(answers.noRegEdit));
  user.SetNoDOS(Flag(answers.noDOS));
  user.SetNoRealMode(Flag(answers.noSDOM));
  user.SetNoConfigure(Flag(answers.restrictSystem));
}

// Bit n for drive A + n, from each entry's first letter.
int32_t DriveMask(const std::vector<std::string>& entries) {
  int32_t mask = 0;
  for (const std::string& entry : entries) {
    const char letter = entry.empty() ? '\0' : UpperAscii(entry.front());
    if (letter >= 'A' && letter <= 'Z') mask += int32_t{1} << (letter - 'A');
  }
  return mask;
}

// An empty Start Menu with its Programs folder, as named.
void MakeEmptyProgramFolder(const Machine& machine, TUser& user, const std::string& profile) {
  const std::string start = profile + "Start Menu";
  const std::string programs = profile + "Start Menu\\Programs";
  MakeWhereMissing(machine, start);
  MakeWhereMissing(machine, programs);
  user.SetStartMenuFolder(start);
  user.SetProgramsFolder(programs);
}

// The source user cannot be found: an empty Start Menu, each folder made as read back.
void MakeFallbackProgramFolder(const Machine& machine, TUser& user, const std::string& profile,
                               QWidget* owner) {
  ShowMessage(owner, MessageKind::Plain,
              QStringLiteral("There was an error accessing the selected user's Program Folder.  "
                             "A blank program folder will be created for the new user."));
  user.SetStartMenuFolder(profile + "Start Menu");
  MakeWhereMissing(machine, user.StartMenuFolder());
  user.SetProgramsFolder(user.StartMenuFolder() + "\\Programs");
  MakeWhereMissing(machine, user.ProgramsFolder());
}

// The source's Start Menu copied into the profile; its Programs folder too when it lies
// elsewhere, or found again inside the copy when it lay within.
void CopyProgramFolder(const Machine& machine, TUser& user, const std::string& profile,
                       const TUser& source, QWidget* owner) {
  const std::string start = profile + "Start Menu";
  const std::string programs = profile + "Start Menu\\Programs";
  user.SetStartMenuFolder(start);
  user.SetProgramsFolder(programs);
  const std::string sourceStart = source.StartMenuFolder();
  const std::string sourcePrograms = source.ProgramsFolder();
  CopyDirectoryTree(machine, sourceStart, start, owner);
  const std::string_view head = std::string_view(sourcePrograms).substr(0, sourceStart.size());
  if (EqualsIgnoreCase(sourceStart, head)) {
    const size_t rest = sourceStart.size() + 1;
    user.SetProgramsFolder(profile + "Start Menu\\" +
                           (rest < sourcePrograms.size() ? sourcePrograms.substr(rest) : ""));
  } else {
    CopyDirectoryTree(machine, sourcePrograms, programs, owner);
  }
}

void SetUpProgramFolder(const Machine& machine, TUser& user, const std::string& profile,
                        const NewUserAnswers& answers, const TUsers& users, QWidget* owner) {
  if (answers.runListed) {
    MakeEmptyProgramFolder(machine, user, profile);
    CreateAllowedAppShortcuts(answers.apps, profile + "Start Menu\\Programs");
    return;
  }
  if (answers.folderChoice == ProgramFolderChoice::Empty) {
    MakeEmptyProgramFolder(machine, user, profile);
    return;
  }
  const TUser* source = answers.sourceUser ? users.FindUser(*answers.sourceUser) : nullptr;
  if (source == nullptr) {
    MakeFallbackProgramFolder(machine, user, profile, owner);
  } else if (answers.folderChoice == ProgramFolderChoice::Share) {
    user.SetStartMenuFolder(source->StartMenuFolder());
    user.SetProgramsFolder(source->ProgramsFolder());
  } else {
    CopyProgramFolder(machine, user, profile, *source, owner);
  }
}

// StartUp inside the Programs folder, then Desktop, Favorites and Recent in the profile.
void MakeUserFolders(const Machine& machine, TUser& user, const std::string& profile) {
  MakeWhereMissing(machine, AddTrailingBackslash(user.ProgramsFolder()) + "StartUp");
  user.SetDesktopFolder(profile + "Desktop");
  MakeWhereMissing(machine, user.DesktopFolder());
  user.SetFavoritesFolder(profile + "Favorites");
  MakeWhereMissing(machine, user.FavoritesFolder());
  user.SetRecentFolder(profile + "Recent");
  MakeWhereMissing(machine, user.RecentFolder());
}

void CreateDesktopShortcuts(const Machine& machine, const TUser& user, const std::string& icon) {
  const std::string whose = Possessive(user.Name());
  CreateShellLink(machine, user.ProgramsFolder(),
                  user.DesktopFolder() + "\\" + whose + " Programs.lnk",
                  "Shortcut to " + whose + " Programs", icon);
  CreateShellLink(machine, user.FavoritesFolder(),
                  user.DesktopFolder() + "\\" + whose + " Favorites.lnk",
                  "Shortcut to " + whose + " Favorites", "");
}

}  // namespace

std::string CreateNewUser(const NewUserAnswers& answers, TUsers& users, QWidget* owner) {
  const WaitCursor hourglass;
  const std::string name(Trim(answers.name));
  if (name.empty()) {
    ShowMessage(owner, MessageKind::Plain, QStringLiteral("You must enter a name for the user"));
    return answers.iconFile;
  }
  TUser& user = users.AddUser(name);
  const Machine& machine = PolicyRegistry().GetMachine();

  const std::string icon = IconFile(machine, answers.iconFile);
  user.SetUserIcon(icon);
  SetRestrictions(user, answers);
  user.SetNoDrives(DriveMask(answers.hiddenDrives));
  user.SetRestrictRun(Flag(answers.runListed));
  for (const AllowedAppEntry& entry : answers.apps) user.AddAllowedApp(entry.text);
  user.AddAllowedApp("Tarnex.exe");
  user.AddAllowedApp("TWTray.exe");

  const std::string profile = AddTrailingBackslash(user.ProfilePath());
  SetUpProgramFolder(machine, user, profile, answers, users, owner);
  MakeUserFolders(machine, user, profile);
  if (answers.createShortcut) CreateDesktopShortcuts(machine, user, icon);
  return icon;
}

void CreateAllowedAppShortcuts(const std::vector<AllowedAppEntry>& apps,
                               const std::string& folder) {
  try {
    const Machine& machine = PolicyRegistry().GetMachine();
    const std::string dir = AddTrailingBackslash(folder);
    for (const AllowedAppEntry& entry : apps) {
      if (!entry.app || !entry.app->MakeShortcut) continue;
      std::string path = entry.app->AppPath.empty() ? entry.text : entry.app->AppPath;
      if (path.empty()) break;
      path.front() = UpperAscii(path.front());
      const std::string name = RemoveFileExt(ExtractFileName(path));
      CreateShellLink(machine, path, dir + name + ".lnk", name, "");
    }
  } catch (...) {
    // A shortcut that fails ends the list; those made stay.
  }
}

}  // namespace tarnwick
