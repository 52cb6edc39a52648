#include "account/account.h"

#include <cstdint>
#include <exception>
#include <string_view>

#include "account/account_shell.h"
#include "account/machine_settings.h"
#include "base/cp1252.h"
#include "base/text.h"
#include "formats/shell_link.h"
#include "formats/shell_link_write.h"
#include "machine/machine.h"
#include "machine/win_path.h"
#include "operations/file_operations.h"
#include "policy/activation.h"
#include "policy/policy_store.h"
#include "policy/restrictions.h"
#include "policy/users.h"
#include "registry/registry.h"

namespace tarnwick {

namespace {

constexpr std::string_view kPolicyRunKey =
    "\\Computers\\.default\\Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr std::string_view kLogonKey = "\\Network\\Logon";

constexpr std::string_view kNewUserRestrictions[] = {
    "NoRun", "NoFind",     "NoSetFolders", "NoDesktop", "DisableRegistryTools",
    "NoDOS", "NoRealMode", "NoConfigure"};

int32_t Flag(bool on) {
  return on ? 1 : 0;
}

// The one place a restriction of a new or first account is written by name, with its companion.
void SetRestriction(TUser& user, std::string_view name, bool on) {
  const RestrictionSetting setting[] = {{FindRestriction(name)->id, on}};
  ApplyRestrictions(user, setting);
}

bool Contains(const std::vector<std::string>& names, std::string_view name) {
  for (const std::string& each : names) {
    if (EqualsIgnoreCase(each, name)) return true;
  }
  return false;
}

// Makes the one folder level a path names unless it exists; a failure is passed over.
void MakeWhereMissing(const Machine& machine, const std::string& path) {
  if (!ExistingDirectory(machine, path)) MakeDirectory(machine, path);
}

bool WriteShortcut(const Machine& machine, const std::string& target, const std::string& linkFile,
                   const std::string& description, const std::string& icon) {
  try {
    WriteShellLinkFile(machine, target, linkFile, description, icon);
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

// "Kids'" but "Guest's" and "GUESTS's": only a lower-case final s takes the apostrophe alone.
std::string Possessive(const std::string& name) {
  return name + (!name.empty() && name.back() == 's' ? "'" : "'s");
}

// The trimmed choice, else default.ico beside the program; empty when no file exists there. A
// chosen file that has gone is reported in problems and replaced so.
std::string IconFile(const Machine& machine, std::string_view chosen,
                     std::vector<std::string>& problems) {
  std::string icon(Trim(chosen));
  if (!icon.empty() && !ExistingFile(machine, icon)) {
    problems.push_back("The icon file " + icon +
                       " cannot be found; the user gets the default icon.");
    icon.clear();
  }
  if (icon.empty()) {
    icon = AddTrailingBackslash(ExtractFilePath(machine.ProgramPath())) + "default.ico";
  }
  if (!ExistingFile(machine, icon)) icon.clear();
  return icon;
}

void AddOwnEntries(TUser& user, const Machine& machine, EntrySpelling spelling) {
  for (const std::string& entry : OwnAllowedEntries(machine, spelling)) user.AddAllowedApp(entry);
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
                               AccountShell& shell) {
  shell.Tell(
      "There was an error accessing the selected user's Program Folder.  A blank program folder "
      "will be created for the new user.");
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
                       const TUser& source, AccountShell& shell) {
  const std::string start = profile + "Start Menu";
  std::string programs = profile + "Start Menu\\Programs";
  const std::string sourceStart(Trim(source.StartMenuFolder()));
  const std::string sourcePrograms = source.ProgramsFolder();
  user.SetStartMenuFolder(start);
  if (!sourceStart.empty()) shell.CopyFolder(sourceStart, start);
  MakeWhereMissing(machine, start);
  if (const std::optional<std::string> below = PathBelow(sourcePrograms, sourceStart)) {
    programs = below->empty() ? start : start + "\\" + *below;
  } else if (!Trim(sourcePrograms).empty()) {
    shell.CopyFolder(sourcePrograms, programs);
  }
  MakeWhereMissing(machine, programs);
  user.SetProgramsFolder(programs);
}

void SetUpProgramFolder(const Machine& machine, TUser& user, const std::string& profile,
                        const NewUserAnswers& answers, const TUsers& users, AccountShell& shell) {
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
    MakeFallbackProgramFolder(machine, user, profile, shell);
  } else if (answers.folderChoice == ProgramFolderChoice::Share) {
    user.SetStartMenuFolder(source->StartMenuFolder());
    user.SetProgramsFolder(source->ProgramsFolder());
  } else {
    CopyProgramFolder(machine, user, profile, *source, shell);
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
void MakeDesktopShortcut(const Machine& machine, const std::string& target,
                         const std::string& linkFile, const std::string& description,
                         const std::string& icon, std::vector<std::string>& problems) {
  if (WriteShortcut(machine, target, linkFile, description, icon)) return;
  std::string problem = "The shortcut " + linkFile + " could not be created.";
  if (linkFile.size() >= kMaxShellPath) {
    problem += " Its path is longer than " + std::to_string(kMaxShellPath - 1) + " characters.";
  }
  problems.push_back(problem);
}

void CreateDesktopShortcuts(const Machine& machine, const TUser& user, const std::string& icon,
                            std::vector<std::string>& problems) {
  const std::string whose = Possessive(user.Name());
  MakeDesktopShortcut(machine, user.ProgramsFolder(),
                      user.DesktopFolder() + "\\" + whose + " Programs.lnk",
                      "Shortcut to " + whose + " Programs", icon, problems);
  MakeDesktopShortcut(machine, user.FavoritesFolder(),
                      user.DesktopFolder() + "\\" + whose + " Favorites.lnk",
                      "Shortcut to " + whose + " Favorites", "", problems);
}

// The first account gets the current Windows user's folders.
void GiveCurrentFolders(TUser& user, const ShellFolders& folders) {
  user.SetStartMenuFolder(folders.startMenu);
  user.SetProgramsFolder(folders.programs);
  user.SetDesktopFolder(folders.desktop);
  user.SetFavoritesFolder(folders.favorites);
  user.SetRecentFolder(folders.recent);
}

// The tray companion in the policy file's machine entry, the name at the next logon prompt.
void RegisterLogon(const PolicyStore& store, std::string_view name) {
  RegistryAccessor reg(store.GetRegistry());
  reg.SetRootKey(RootKey::LocalMachine);
  reg.OpenKey(store.HiveKeyName() + std::string(kPolicyRunKey), true);
  reg.WriteString("TWTray", TrayPath(store));
  reg.CloseKey();
  reg.OpenKey(kLogonKey, true);
  reg.WriteString("username", name);
}

}  // namespace

std::span<const std::string_view> NewUserRestrictions() {
  return kNewUserRestrictions;
}

std::optional<std::string_view> FindNewUserRestriction(std::string_view name) {
  for (std::string_view each : kNewUserRestrictions) {
    if (EqualsIgnoreCase(each, name)) return each;
  }
  return std::nullopt;
}

int32_t DriveMask(std::string_view letters) {
  int32_t mask = 0;
  for (char c : letters) {
    const char letter = UpperAscii(c);
    if (letter >= 'A' && letter <= 'Z') mask += int32_t{1} << (letter - 'A');
  }
  return mask;
}

std::array<std::string, 2> OwnAllowedEntries(const Machine& machine, EntrySpelling spelling) {
  std::string program = LowerAscii(ExtractFileName(machine.ProgramPath()));
  std::string tray = ExtractFileName(TrayPathFor(machine.ProgramPath()));
  if (spelling == EntrySpelling::LowerCase) return {program, LowerAscii(tray)};
  if (!program.empty()) program.front() = UpperAscii(program.front());
  return {program, tray};
}

std::string CreatedAccount::ProblemsText() const {
  if (problems.empty() || user == nullptr) return {};
  std::string text = "The user " + user->Name() + " has been created, but:";
  for (const std::string& problem : problems) text += "\n\n" + problem;
  return text;
}

CreatedAccount CreateAccount(TUsers& users, const NewUserAnswers& answers, AccountShell& shell) {
  TUser& user = users.AddUser(Trim(answers.name));
  const Machine& machine = users.Store().GetMachine();

  CreatedAccount created;
  created.user = &user;
  created.iconFile = IconFile(machine, answers.iconFile, created.problems);
  user.SetUserIcon(created.iconFile);
  for (std::string_view restriction : kNewUserRestrictions) {
    SetRestriction(user, restriction, Contains(answers.restrictions, restriction));
  }
  user.SetNoDrives(DriveMask(answers.hiddenDrives));
  user.SetRestrictRun(Flag(answers.runListed));
  for (const AllowedAppEntry& entry : answers.apps) user.AddAllowedApp(entry.text);
  AddOwnEntries(user, machine, EntrySpelling::Capitalised);

  const std::string profile = AddTrailingBackslash(user.ProfilePath());
  SetUpProgramFolder(machine, user, profile, answers, users, shell);
  MakeUserFolders(machine, user, profile);
  if (answers.createShortcut) {
    CreateDesktopShortcuts(machine, user, created.iconFile, created.problems);
  }
  return created;
}

void CreateAllowedAppShortcuts(const Machine& machine, const std::vector<AllowedAppEntry>& apps,
                               const std::string& folder) {
  const std::string dir = AddTrailingBackslash(folder);
  for (const AllowedAppEntry& entry : apps) {
    if (!entry.app || !entry.app->MakeShortcut) continue;
    std::string path = entry.app->AppPath.empty() ? entry.text : entry.app->AppPath;
    if (path.empty()) break;
    path.front() = UpperAscii(path.front());
    const std::string name = RemoveFileExt(ExtractFileName(path));
    WriteShortcut(machine, path, dir + name + ".lnk", name, "");
  }
}

TUser& CreateFirstAccount(TUsers& users, std::string_view name, std::string_view iconFile) {
  PolicyStore& store = users.Store();
  TUser& user = users.AddUser(name);
  user.SetUserIcon(iconFile);
  GiveCurrentFolders(user, CurrentUserShellFolders(store.GetRegistry()));
  user.SetRestrictRun(0);
  AddOwnEntries(user, store.GetMachine(), EntrySpelling::LowerCase);
  for (std::string_view restriction :
       {"NoRun", "NoFind", "NoDesktop", "NoSetFolders", "DisableRegistryTools", "NoDOS",
        "NoRealMode", "NoConfigure"}) {
    SetRestriction(user, restriction, false);
  }
  // A lab's clients log on to its domain and download its policies once joined, not here.
  if (!store.GetMachine().Lab()) {
    RegisterLogon(store, name);
    TurnActivationOn(store);
  }
  return user;
}

bool RemoveAccount(TUsers& users, const std::string& name, bool deleteProfile,
                   AccountShell& shell) {
  const TUser* user = users.FindUser(name);
  if (user == nullptr) throw AccountError("The selected user was not found");
  const std::string stored = user->Name();
  if (deleteProfile) {
    const std::string profile = user->ProfilePath();
    if (!profile.empty()) shell.DeleteFolder(profile);
  }
  return users.RemoveUser(stored);
}

}  // namespace tarnwick
