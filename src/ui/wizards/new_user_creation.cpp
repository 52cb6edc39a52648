#include "ui/wizards/new_user_creation.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string_view>

#include "base/text.h"
#include "controls/wait_cursor.h"
#include "formats/shell_link.h"
#include "machine/cp1252.h"
#include "machine/machine.h"
#include "machine/win_path.h"
#include "policy/policy_store.h"
#include "policy/users.h"
#include "registry/registry.h"
#include "shell/ansi_qstring.h"
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

bool IsFile(const Machine& machine, const std::string& path) {
  const std::optional<std::filesystem::path> host = machine.HostPath(path);
  std::error_code ec;
  return host && std::filesystem::is_regular_file(*host, ec);
}

// The trimmed choice, else default.ico beside the program; empty when no file exists there. A
// chosen file that has gone is reported in problems and replaced so.
std::string IconFile(const Machine& machine, std::string_view chosen,
                     std::vector<std::string>& problems) {
  std::string icon(Trim(chosen));
  if (!icon.empty() && !IsFile(machine, icon)) {
    problems.push_back("The icon file " + icon +
                       " cannot be found; the user gets the default icon.");
    icon.clear();
  }
  if (icon.empty()) {
    icon = AddTrailingBackslash(ExtractFilePath(machine.ProgramPath())) + "default.ico";
  }
  if (!IsFile(machine, icon)) icon.clear();
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

// The path of folder below start ("" for start itself), or empty when it lies outside; letters
// compared without regard to case.
std::optional<std::string> PathBelow(std::string_view folder, std::string_view start) {
  const auto strip = [](std::string_view path) {
    while (!path.empty() && path.back() == '\\') path.remove_suffix(1);
    return path;
  };
  folder = strip(folder);
  start = strip(start);
  if (start.empty()) return std::nullopt;
  if (EqualsIgnoreCaseCp1252(folder, start)) return std::string();
  if (folder.size() <= start.size() + 1 || folder[start.size()] != '\\' ||
      !EqualsIgnoreCaseCp1252(folder.substr(0, start.size()), start)) {
    return std::nullopt;
  }
  return std::string(folder.substr(start.size() + 1));
}

// The source's Start Menu copied into the profile; its Programs folder too when it lies
// elsewhere, or found again inside the copy when it lay within. A source without a Start Menu
// copies only its Programs folder; both folders exist afterwards.
void CopyProgramFolder(const Machine& machine, TUser& user, const std::string& profile,
                       const TUser& source, QWidget* owner) {
  const std::string start = profile + "Start Menu";
  std::string programs = profile + "Start Menu\\Programs";
  const std::string sourceStart(Trim(source.StartMenuFolder()));
  const std::string sourcePrograms = source.ProgramsFolder();
  user.SetStartMenuFolder(start);
  if (!sourceStart.empty()) CopyDirectoryTree(machine, sourceStart, start, owner);
  MakeWhereMissing(machine, start);
  if (const std::optional<std::string> below = PathBelow(sourcePrograms, sourceStart)) {
    programs = below->empty() ? start : start + "\\" + *below;
  } else {
    CopyDirectoryTree(machine, sourcePrograms, programs, owner);
  }
  MakeWhereMissing(machine, programs);
  user.SetProgramsFolder(programs);
}

void SetUpProgramFolder(const Machine& machine, TUser& user, const std::string& profile,
                        const NewUserAnswers& answers, const TUsers& users, QWidget* owner) {
  if (answers.runListed) {
    MakeEmptyProgramFolder(machine, user, profile);
    CreateAllowedAppShortcuts(machine, answers.apps, profile + "Start Menu\\Programs");
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

// Makes one shortcut; one that cannot be written is reported in problems.
void MakeShortcut(const Machine& machine, const std::string& target, const std::string& linkFile,
                  const std::string& description, const std::string& icon,
                  std::vector<std::string>& problems) {
  if (CreateShellLink(machine, target, linkFile, description, icon) >= 0) return;
  std::string problem = "The shortcut " + linkFile + " could not be created.";
  if (linkFile.size() >= kMaxShellPath) {
    problem += " Its path is longer than " + std::to_string(kMaxShellPath - 1) + " characters.";
  }
  problems.push_back(problem);
}

void CreateDesktopShortcuts(const Machine& machine, const TUser& user, const std::string& icon,
                            std::vector<std::string>& problems) {
  const std::string whose = Possessive(user.Name());
  MakeShortcut(machine, user.ProgramsFolder(),
               user.DesktopFolder() + "\\" + whose + " Programs.lnk",
               "Shortcut to " + whose + " Programs", icon, problems);
  MakeShortcut(machine, user.FavoritesFolder(),
               user.DesktopFolder() + "\\" + whose + " Favorites.lnk",
               "Shortcut to " + whose + " Favorites", "", problems);
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
  const Machine& machine = users.Store().GetMachine();

  std::vector<std::string> problems;
  const std::string icon = IconFile(machine, answers.iconFile, problems);
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
  if (answers.createShortcut) CreateDesktopShortcuts(machine, user, icon, problems);
  if (!problems.empty()) {
    std::string text = "The user " + name + " has been created, but:";
    for (const std::string& problem : problems) text += "\n\n" + problem;
    ShowMessage(owner, MessageKind::Warning, FromAnsi(text));
  }
  return icon;
}

void CreateAllowedAppShortcuts(const Machine& machine, const std::vector<AllowedAppEntry>& apps,
                               const std::string& folder) {
  try {
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
