// The activation switch: whether Windows 95 applies the policy file at logon.
#pragma once

#include <string>
#include <string_view>

namespace tarnwick {

class PolicyStore;

enum class ActivationState {
  On = 0,
  Off = 1,
  OtherPolicyFile = 2,  // user profiles on, the policy download points at another file
};

// The tray companion beside the program: C:\TARNEX\TARNEX.EXE gives C:\TARNEX\TWTray.exe.
std::string TrayPathFor(std::string_view programPath);
// The tray path of the store's machine.
std::string TrayPath(const PolicyStore& store);

ActivationState ReadActivationState(const PolicyStore& store);
// Enables user profiles, points the policy download at the policy file and registers the tray
// companion, in the machine registry and in the policy file.
void TurnActivationOn(const PolicyStore& store);
// Undoes TurnActivationOn in the machine registry; the policy file's entry stays.
void TurnActivationOff(const PolicyStore& store);

}  // namespace tarnwick
