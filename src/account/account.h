// Accounts as a whole: a new account made from the new-user answers, the first account, and
// removing an account; each with its policies, folders, shortcuts and allowed programs.
#pragma once

#include <array>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwick {

class AccountShell;
class Machine;
class TUser;
class TUsers;

// A program added with Add Program: where it is and whether it gets a shortcut.
struct TAllowedApp {
  std::string AppPath;
  bool MakeShortcut = false;
};

// One entry of the allowed-application list; those taken from the machine's start-up programs
// carry no TAllowedApp.
struct AllowedAppEntry {
  std::string text;
  std::optional<TAllowedApp> app;
};

enum class ProgramFolderChoice { Empty, Copy, Share };

// The answers for a new account, Windows text in code page 1252.
struct NewUserAnswers {
  std::string name;      // trimmed of blanks before use
  std::string iconFile;  // a Windows path; empty for the default icon
  // Names from NewUserRestrictions() that are switched on; the others are written as 0.
  std::vector<std::string> restrictions;
  std::string hiddenDrives;  // drive letters
  bool runListed = false;    // RestrictRun: only the listed programs may run
  std::vector<AllowedAppEntry> apps;
  ProgramFolderChoice folderChoice = ProgramFolderChoice::Copy;
  std::optional<std::string> sourceUser;  // whom to copy from or share with
  bool createShortcut = true;             // the two desktop shortcuts
};

// The restrictions a new account is asked for, in the order they are written: NoRun, NoFind,
// NoSetFolders (which writes NoSetTaskbar alongside), NoDesktop, DisableRegistryTools, NoDOS,
// NoRealMode, NoConfigure (which writes its five Control Panel companions).
std::span<const std::string_view> NewUserRestrictions();
// The name as NewUserRestrictions() spells it, letters a to z compared without regard to case;
// empty when it is none of them.
std::optional<std::string_view> FindNewUserRestriction(std::string_view name);

// The sum of the drive bits of the letters (A is 1, C is 4); other characters count nothing.
int32_t DriveMask(std::string_view letters);

// The program's own two allowed entries, its file name and its tray companion's: as a new account
// lists them ("Tarnex.exe", "TWTray.exe" for C:\TARNEX\TARNEX.EXE), or in lower case as the first
// account does.
enum class EntrySpelling { Capitalised, LowerCase };
std::array<std::string, 2> OwnAllowedEntries(const Machine& machine, EntrySpelling spelling);

// What CreateAccount made.
struct CreatedAccount {
  TUser* user = nullptr;
  std::string iconFile;               // the icon file written as UserIcon
  std::vector<std::string> problems;  // what could not be done, Windows text
  // "The user N has been created, but:" and each problem; empty when there is none.
  std::string ProblemsText() const;
};

// Makes the account the answers describe: AddUser with the trimmed name, then the icon (the
// answer trimmed; default.ico beside the program when empty or gone; empty when that is missing
// too), the restrictions, the hidden drives, RestrictRun and the allowed programs (the answers'
// entries, then the program's own two), the Start Menu and Programs folders by the choice (copied
// through shell, or shared, or empty; an empty one holding a shortcut for every listed program
// answered Yes when only listed programs may run), StartUp, Desktop, Favorites and Recent, and
// the two desktop shortcuts. A source user that cannot be found is told through shell and gives
// an empty program folder. An error of AddUser (a refused or taken name) is thrown before
// anything is made; later errors are thrown with what was written left in place.
CreatedAccount CreateAccount(TUsers& users, const NewUserAnswers& answers, AccountShell& shell);

// Makes folder + name + ".lnk" for every entry added with Add Program and answered Yes, in list
// order: the program's path with its first letter in upper case, described by its file name
// without extension. An entry without any path ends the loop; so does an error, silently, the
// shortcuts made so far staying. A shortcut that cannot be written is passed over.
void CreateAllowedAppShortcuts(const Machine& machine, const std::vector<AllowedAppEntry>& apps,
                               const std::string& folder);

// The first account, for the administrator: AddUser, the icon file as given, the current Windows
// user's folders, RestrictRun 0 with the program's own two entries, no restriction; the tray
// companion registered in the policy file, the name offered at the next logon, activation on.
TUser& CreateFirstAccount(TUsers& users, std::string_view name, std::string_view iconFile);

// Removes the account; with deleteProfile its profile directory is first deleted through shell
// (a failure there is shell's to report, and the removal goes on). Returns whether the
// ProfileList entry was deleted. Throws the store's error when the profile path cannot be read,
// before anything is removed.
bool RemoveAccount(TUsers& users, const std::string& name, bool deleteProfile, AccountShell& shell);

}  // namespace tarnwick
