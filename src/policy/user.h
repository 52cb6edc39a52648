// One account of the policy file: its name, and one property per policy, read and written in the
// attached policy file at every call.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "policy/restrictions.h"

namespace tarnwick {

// The special folders of an account, in the order the folders page lists them.
enum class FolderKind { Programs, StartMenu, Desktop, Favorites, Recent };

// Where an entry of a user's allowed-program list lives.
struct TAppEntry {
  std::string ValueName;  // "0", "1", ...
  std::string KeyPath;    // the user's RestrictRun key, below HKEY_LOCAL_MACHINE
};

// One entry of a user's allowed-program list: the program's name as stored, and where it is.
struct AllowedApp {
  std::string text;
  TAppEntry entry;
};

class PolicyStore;

class TUser {
 public:
  TUser(PolicyStore& store, std::string name) : store_(store), name_(std::move(name)) {}

  const std::string& Name() const { return name_; }
  PolicyStore& Store() const { return store_; }

  // Flags: 1 is on. Setters ignore every value but 0 and 1. A setter writes every value name of
  // its restriction, then sets the restrictions of its cascade; the getter reads the first name.
  int32_t Restriction(RestrictionId id) const;
  void SetRestriction(RestrictionId id, int32_t v);

  int32_t NoRun() const { return Restriction(RestrictionId::NoRun); }
  void SetNoRun(int32_t v) { SetRestriction(RestrictionId::NoRun, v); }
  int32_t NoFind() const { return Restriction(RestrictionId::NoFind); }
  void SetNoFind(int32_t v) { SetRestriction(RestrictionId::NoFind, v); }
  int32_t NoDesktop() const { return Restriction(RestrictionId::NoDesktop); }
  void SetNoDesktop(int32_t v) { SetRestriction(RestrictionId::NoDesktop, v); }
  int32_t NoSetFolders() const { return Restriction(RestrictionId::NoSetFolders); }
  void SetNoSetFolders(int32_t v) { SetRestriction(RestrictionId::NoSetFolders, v); }
  void SetNoSetTaskbar(int32_t v) { SetRestriction(RestrictionId::NoSetTaskbar, v); }
  int32_t RestrictRun() const { return Restriction(RestrictionId::RestrictRun); }
  void SetRestrictRun(int32_t v) { SetRestriction(RestrictionId::RestrictRun, v); }
  int32_t NoPrinterChanges() const { return Restriction(RestrictionId::NoPrinterChanges); }
  void SetNoPrinterChanges(int32_t v) { SetRestriction(RestrictionId::NoPrinterChanges, v); }
  int32_t DisableRegistryTools() const { return Restriction(RestrictionId::DisableRegistryTools); }
  void SetDisableRegistryTools(int32_t v) {
    SetRestriction(RestrictionId::DisableRegistryTools, v);
  }
  int32_t NoDispSettingsPage() const { return Restriction(RestrictionId::NoDispSettingsPage); }
  void SetNoDispSettingsPage(int32_t v) { SetRestriction(RestrictionId::NoDispSettingsPage, v); }
  int32_t NoSystemPages() const { return Restriction(RestrictionId::NoSystemPages); }
  void SetNoSystemPages(int32_t v) { SetRestriction(RestrictionId::NoSystemPages, v); }
  int32_t NoPasswordPages() const { return Restriction(RestrictionId::NoPasswordPages); }
  void SetNoPasswordPages(int32_t v) { SetRestriction(RestrictionId::NoPasswordPages, v); }
  int32_t NoNetSetup() const { return Restriction(RestrictionId::NoNetSetup); }
  void SetNoNetSetup(int32_t v) { SetRestriction(RestrictionId::NoNetSetup, v); }
  int32_t NoDOS() const { return Restriction(RestrictionId::NoDOS); }
  void SetNoDOS(int32_t v) { SetRestriction(RestrictionId::NoDOS, v); }
  int32_t NoRealMode() const { return Restriction(RestrictionId::NoRealMode); }
  void SetNoRealMode(int32_t v) { SetRestriction(RestrictionId::NoRealMode, v); }
  // Also sets the five Control Panel restrictions to v.
  int32_t NoConfigure() const { return Restriction(RestrictionId::NoConfigure); }
  void SetNoConfigure(int32_t v) { SetRestriction(RestrictionId::NoConfigure, v); }

  // Bit n hides drive A + n. The setter ignores negative values.
  int32_t NoDrives() const;
  void SetNoDrives(int32_t v);

  // Folder paths and the icon path, stored as given. An empty Start Menu or Recent folder deletes
  // its value; the others store an empty text. A text with a control character throws Error and
  // changes nothing.
  std::string Folder(FolderKind kind) const;
  void SetFolder(FolderKind kind, std::string_view v);

  std::string ProgramsFolder() const { return Folder(FolderKind::Programs); }
  void SetProgramsFolder(std::string_view v) { SetFolder(FolderKind::Programs, v); }
  std::string StartMenuFolder() const { return Folder(FolderKind::StartMenu); }
  void SetStartMenuFolder(std::string_view v) { SetFolder(FolderKind::StartMenu, v); }
  std::string DesktopFolder() const { return Folder(FolderKind::Desktop); }
  void SetDesktopFolder(std::string_view v) { SetFolder(FolderKind::Desktop, v); }
  std::string FavoritesFolder() const { return Folder(FolderKind::Favorites); }
  void SetFavoritesFolder(std::string_view v) { SetFolder(FolderKind::Favorites, v); }
  std::string RecentFolder() const { return Folder(FolderKind::Recent); }
  void SetRecentFolder(std::string_view v) { SetFolder(FolderKind::Recent, v); }
  std::string UserIcon() const;
  void SetUserIcon(std::string_view v);

  // The profile directory, from the machine's ProfileList (not the policy file).
  std::string ProfilePath() const;

  // The allowed-program list below RestrictRun: values "0", "1", ... AddAllowedApp takes a bare
  // file name (calc.exe); an empty or blank name, a path or a control character throws Error and
  // changes nothing.
  void AddAllowedApp(std::string_view app);
  // Deletes the first entry equal to app (letters a to z without regard to case).
  bool RemoveAllowedApp(std::string_view app);
  // Clears list and fills it with the entries that are not blank, last enumerated first.
  std::vector<AllowedApp>& GetAllowedApps(std::vector<AllowedApp>& list) const;

 private:
  std::string KeyPath(std::string_view relativeKey) const;
  std::string ReadText(std::string_view relativeKey, std::string_view valueName) const;
  void WriteText(std::string_view relativeKey, std::string_view valueName, std::string_view v,
                 bool deleteWhenEmpty);

  PolicyStore& store_;
  std::string name_;
};

}  // namespace tarnwick
