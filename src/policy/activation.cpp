#include "policy/activation.h"

#include "machine/machine.h"
#include "machine/win_path.h"
#include "policy/policy_file.h"
#include "registry/registry.h"

namespace tarnwick {

namespace {

constexpr std::string_view kLogonKey = "\\Network\\Logon";
constexpr std::string_view kUpdateKey = "System\\CurrentControlSet\\control\\Update";
constexpr std::string_view kRunKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr std::string_view kPolicyRunKey =
    "\\Computers\\.default\\Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr std::string_view kTrayValue = "TWTray";

// A root such as "C:\" or "\" keeps its backslash.
bool IsRootDirectory(std::string_view directory) {
  return directory == "\\" || (directory.size() == 3 && directory.substr(1) == ":\\");
}

}  // namespace

std::string TrayPathFor(std::string_view programPath) {
  std::string directory = ExtractFilePath(programPath);
  if (!directory.empty() && directory.back() == '\\' && !IsRootDirectory(directory)) {
    directory.pop_back();
  }
  return AddTrailingBackslash(directory) + "TWTray.exe";
}

std::string TrayPath() {
  return TrayPathFor(PolicyRegistry().GetMachine().ProgramPath());
}

ActivationState ReadActivationState() {
  RegistryAccessor reg(PolicyRegistry());
  reg.SetRootKey(RootKey::LocalMachine);
  reg.OpenKey(kLogonKey, !PolicyReadOnly());
  if (reg.ReadInteger("UserProfiles") != 1) return ActivationState::Off;
  reg.CloseKey();
  reg.OpenKey(kUpdateKey, !PolicyReadOnly());
  const std::string fileName = ExtractFileName(reg.ReadString("NetworkPath"));
  return EqualsIgnoreCase(fileName, "Tarnex.pol") ? ActivationState::On
                                                  : ActivationState::OtherPolicyFile;
}

void TurnActivationOn() {
  RegistryAccessor reg(PolicyRegistry());
  reg.SetRootKey(RootKey::LocalMachine);
  reg.OpenKey(kLogonKey, true);
  reg.WriteInteger("UserProfiles", 1);
  reg.CloseKey();

  reg.OpenKey(kUpdateKey, true);
  reg.WriteString("NetworkPath", PolicyFilePath());
  reg.WriteInteger("UpdateMode", 2);
  reg.WriteInteger("Verbose", 1);
  reg.CloseKey();

  const std::string tray = TrayPath();
  reg.OpenKey(HiveKeyName() + std::string(kPolicyRunKey), true);
  reg.WriteString(kTrayValue, tray);
  reg.CloseKey();

  reg.OpenKey(kRunKey, true);
  reg.WriteString(kTrayValue, tray);
  reg.CloseKey();
}

void TurnActivationOff() {
  RegistryAccessor reg(PolicyRegistry());
  reg.SetRootKey(RootKey::LocalMachine);
  reg.OpenKey(kLogonKey, true);
  reg.WriteInteger("UserProfiles", 0);
  reg.CloseKey();

  reg.OpenKey(kUpdateKey, true);
  reg.DeleteValue("NetworkPath");
  reg.WriteInteger("UpdateMode", 0);
  reg.DeleteValue("Verbose");
  reg.CloseKey();

  reg.OpenKey(kRunKey, true);
  reg.DeleteValue(kTrayValue);
  reg.CloseKey();

  reg.OpenKey(kLogonKey, true);
  reg.DeleteValue("username");
  reg.CloseKey();
}

}  // namespace tarnwick
