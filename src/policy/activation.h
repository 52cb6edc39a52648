// The activation switch: whether Windows 95 applies the policy file at logon.
#pragma once

#include <string>
#include <string_view>

#include "base/error.h"

namespace tarnwick {

class PolicyStore;

// The switch thrown on a lab, where it is no machine's own: the text explains the step instead.
class ActivationError : public Error {
 public:
  using Error::Error;
};

enum class ActivationState {
  On = 0,
  Off = 1,
  OtherPolicyFile = 2,  // user profiles on, the policy download points at another file
};

// The tray companion beside the program: C:\TARNEX\TARNEX.EXE gives C:\TARNEX\TWTray.exe.
std::string TrayPathFor(std::string_view programPath);
// The tray path of the store's machine.
std::string TrayPath(const PolicyStore& store);

// On a lab: On while the policy file, which the lab always has, keeps its clients' download
// automatic (the Default Computer's UpdateMode 1), else Off.
ActivationState ReadActivationState(const PolicyStore& store);
// Enables user profiles, points the policy download at the policy file and registers the tray
// companion, in the machine registry and in the policy file. Throws ActivationError with
// LabActivationText on a lab.
void TurnActivationOn(const PolicyStore& store);
// Undoes TurnActivationOn in the machine registry; the policy file's entry stays. Throws
// ActivationError with LabActivationText on a lab.
void TurnActivationOff(const PolicyStore& store);
// What makes a lab's clients apply its policy file: each client's own step, which the switch
// cannot take (UTF-8). Empty on a machine that is no lab.
std::string LabActivationText(const PolicyStore& store);

}  // namespace tarnwick
