// One account of the policy file: its name, and one property per policy, read and written in the
// attached policy file at every call.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwick {

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

  // Flags: 1 is on. Setters ignore every value but 0 and 1.
  int32_t NoRun() const;
  void SetNoRun(int32_t v);
  int32_t NoFind() const;
  void SetNoFind(int32_t v);
  int32_t NoDesktop() const;
  void SetNoDesktop(int32_t v);
  int32_t NoSetFolders() const;
  void SetNoSetFolders(int32_t v);
  void SetNoSetTaskbar(int32_t v);
  int32_t RestrictRun() const;
  void SetRestrictRun(int32_t v);
  int32_t NoPrinterChanges() const;
  void SetNoPrinterChanges(int32_t v);
  int32_t DisableRegistryTools() const;
  void SetDisableRegistryTools(int32_t v);
  int32_t NoDispSettingsPage() const;
  void SetNoDispSettingsPage(int32_t v);
  int32_t NoSystemPages() const;
  void SetNoSystemPages(int32_t v);
  int32_t NoPasswordPages() const;
  void SetNoPasswordPages(int32_t v);
  int32_t NoNetSetup() const;
  void SetNoNetSetup(int32_t v);
  int32_t NoDOS() const;
  void SetNoDOS(int32_t v);
  int32_t NoRealMode() const;
  void SetNoRealMode(int32_t v);
  // Also sets the five Control Panel restrictions to v.
  int32_t NoConfigure() const;
  void SetNoConfigure(int32_t v);

  // Bit n hides drive A + n. The setter ignores negative values.
  int32_t NoDrives() const;
  void SetNoDrives(int32_t v);

  // Folder paths and the icon path, stored as given. An empty Start Menu or Recent folder deletes
  // its value; the others store an empty text. A text with a control character throws Error and
  // changes nothing.
  std::string ProgramsFolder() const;
  void SetProgramsFolder(std::string_view v);
  std::string StartMenuFolder() const;
  void SetStartMenuFolder(std::string_view v);
  std::string DesktopFolder() const;
  void SetDesktopFolder(std::string_view v);
  std::string FavoritesFolder() const;
  void SetFavoritesFolder(std::string_view v);
  std::string RecentFolder() const;
  void SetRecentFolder(std::string_view v);
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
  int32_t ReadFlag(std::string_view relativeKey, std::string_view valueName) const;
  void WriteFlag(std::string_view relativeKey, std::initializer_list<std::string_view> valueNames,
                 int32_t v);
  std::string ReadText(std::string_view relativeKey, std::string_view valueName) const;
  void WriteText(std::string_view relativeKey, std::string_view valueName, std::string_view v,
                 bool deleteWhenEmpty);

  PolicyStore& store_;
  std::string name_;
};

}  // namespace tarnwick
