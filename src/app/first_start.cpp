#include "app/first_start.h"

#include <QDialog>
#include <optional>
#include <string>
#include <string_view>

#include "base/text.h"
#include "controls/wait_cursor.h"
#include "policy/activation.h"
#include "policy/policy_store.h"
#include "policy/users.h"
#include "registry/registry.h"
#include "shell/prompts.h"
#include "ui/wizards/welcome_wizard.h"

namespace tarnwick {

namespace {

constexpr std::string_view kShellFoldersKey =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
constexpr std::string_view kPolicyRunKey =
    "\\Computers\\.default\\Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr std::string_view kLogonKey = "\\Network\\Logon";

struct ShellFolders {
  std::string programs, startMenu, desktop, favorites, recent;
};

// The current Windows user's folders.
ShellFolders ReadShellFolders(Registry& registry) {
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

// An account with the current folders, the program and its tray allowed, no restriction.
void SetUpAccount(TUser& user) {
  const ShellFolders folders = ReadShellFolders(user.Store().GetRegistry());
  user.SetStartMenuFolder(folders.startMenu);
  user.SetProgramsFolder(folders.programs);
  user.SetDesktopFolder(folders.desktop);
  user.SetFavoritesFolder(folders.favorites);
  user.SetRecentFolder(folders.recent);

  user.SetRestrictRun(0);
  user.AddAllowedApp("tarnex.exe");
  user.AddAllowedApp("twtray.exe");

  user.SetNoRun(0);
  user.SetNoFind(0);
  user.SetNoDesktop(0);
  user.SetNoSetFolders(0);
  user.SetNoSetTaskbar(0);
  user.SetDisableRegistryTools(0);
  user.SetNoDOS(0);
  user.SetNoRealMode(0);
  user.SetNoConfigure(0);
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

bool FirstStartSetup(QWidget* owner, TUsers& users) {
  std::string name;
  std::string iconFile;
  {
    TfrmWelcomeWizard wizard(owner, users.Store().GetMachine());
    if (RunDialog(wizard) != QDialog::Accepted) {
      TurnActivationOff(users.Store());
      return false;
    }
    const std::optional<std::string> typed = wizard.UserName();
    if (!typed) throw AccountError(TfrmWelcomeWizard::kNameNotAnsi);
    name = *typed;
    iconFile = wizard.IconFile();
  }
  TUser& user = users.AddUser(name);
  user.SetUserIcon(iconFile);
  {
    const WaitCursor hourglass;
    SetUpAccount(user);
    RegisterLogon(users.Store(), name);
  }
  TurnActivationOn(users.Store());
  return true;
}

}  // namespace tarnwick
