#include "policy/activation.h"

#include "base/cp1252.h"
#include "machine/machine.h"
#include "machine/win_path.h"
#include "policy/policy_store.h"
#include "registry/registry.h"

namespace tarnwick {

namespace {

constexpr std::string_view kLogonKey = "\\Network\\Logon";
constexpr std::string_view kUpdateKey = "System\\CurrentControlSet\\control\\Update";
constexpr std::string_view kRunKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr std::string_view kPolicyRunKey =
    "\\Computers\\.default\\Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr std::string_view kTrayValue = "TWTray";
// The Default Computer's automatic download, as a new lab's policy file holds it.
constexpr std::string_view kPolicyUpdateKey =
    "\\Computers\\.default\\System\\CurrentControlSet\\control\\Update";
constexpr uint32_t kAutomaticUpdate = 1;

void RefuseOnLab(const PolicyStore& store) {
  if (store.GetMachine().Lab()) throw ActivationError(LabActivationText(store));
}

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

std::string TrayPath(const PolicyStore& store) {
  return TrayPathFor(store.GetMachine().ProgramPath());
}

ActivationState ReadActivationState(const PolicyStore& store) {
  RegistryAccessor reg(store.GetRegistry());
  reg.SetRootKey(RootKey::LocalMachine);
  if (store.GetMachine().Lab()) {
    const bool served = reg.OpenKey(store.HiveKeyName() + std::string(kPolicyUpdateKey), false) &&
                        reg.ReadInteger("UpdateMode") == kAutomaticUpdate;
    return served ? ActivationState::On : ActivationState::Off;
  }
  reg.OpenKey(kLogonKey, !store.PolicyReadOnly());
  if (reg.ReadInteger("UserProfiles") != 1) return ActivationState::Off;
  reg.CloseKey();
  reg.OpenKey(kUpdateKey, !store.PolicyReadOnly());
  const std::string fileName = ExtractFileName(reg.ReadString("NetworkPath"));
  return EqualsIgnoreCase(fileName, "Tarnex.pol") ? ActivationState::On
                                                  : ActivationState::OtherPolicyFile;
}

void TurnActivationOn(const PolicyStore& store) {
  RefuseOnLab(store);
  RegistryAccessor reg(store.GetRegistry());
  reg.SetRootKey(RootKey::LocalMachine);
  reg.OpenKey(kLogonKey, true);
  reg.WriteInteger("UserProfiles", 1);
  reg.CloseKey();

  reg.OpenKey(kUpdateKey, true);
  reg.WriteString("NetworkPath", store.PolicyFilePath());
  reg.WriteInteger("UpdateMode", 2);
  reg.WriteInteger("Verbose", 1);
  reg.CloseKey();

  const std::string tray = TrayPath(store);
  reg.OpenKey(store.HiveKeyName() + std::string(kPolicyRunKey), true);
  reg.WriteString(kTrayValue, tray);
  reg.CloseKey();

  reg.OpenKey(kRunKey, true);
  reg.WriteString(kTrayValue, tray);
  reg.CloseKey();
}

void TurnActivationOff(const PolicyStore& store) {
  RefuseOnLab(store);
  RegistryAccessor reg(store.GetRegistry());
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

std::string LabActivationText(const PolicyStore& store) {
  const std::optional<LabSettings>& lab = store.GetMachine().Lab();
  if (!lab) return {};
  const std::string dir = store.GetMachine().Directory().string();
  const std::string served =
      ReadActivationState(store) == ActivationState::On
          ? "The computers of the domain " + lab->domain + " download " +
                Cp1252ToUtf8(store.PolicyFilePath()) + " at every logon once they have joined it."
          : Cp1252ToUtf8(store.PolicyFilePath()) +
                " does not keep its computers' policy download automatic: the Default "
                "Computer's UpdateMode is not 1.";
  return served +
         "\n\nThis switch changes nothing on a lab's server. Each computer joins the lab once, "
         "while it is shut down: tarnwick-lab join " +
         dir +
         " --machine CLIENTDIR (or --image CLIENT.img), or on the computer itself regedit "
         "with the file that tarnwick-lab join-reg " +
         dir + " prints; then, in its Network settings, log on to the Windows NT domain " +
         lab->domain + " with Client for Microsoft Networks as the primary logon.";
}

}  // namespace tarnwick
