// A lab: the folder on a Samba server from which one policy file and the users' roaming profiles
// reach a room of Windows 95 computers that log on to the server's domain.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "machine/lab.h"

namespace tarnwick {

class Machine;

inline constexpr std::string_view kLogonScriptName = "LOGON.BAT";

// Makes the lab: lab.ini, the netlogon folder with CONFIG.POL and LOGON.BAT, the homes folder.
// Everything is made in temporary folders beside its place and renamed into place at the end, so
// that a failure leaves nothing behind. Refuses a directory that holds a lab or anything else,
// and netlogon or homes folders that exist and are not empty. The password is the program's
// own (code page 1252); without one the first start of Tarnwick on the lab asks for it.
void InitLab(const std::filesystem::path& dir, const LabSettings& settings,
             const std::optional<std::string>& password);

// The policy file of a new lab: Default User and Default Computer entries, the latter keeping
// the clients' policy download automatic, and the program's scrambled password.
std::vector<uint8_t> NewPolicyFile(const std::optional<std::string>& password);
// The logon script, CR LF.
std::string LogonScript(const LabSettings& settings);

// smb.conf lines serving the lab; throws LabError when the policy file is missing or damaged or
// a folder's path cannot stand in smb.conf.
std::string SmbConfLines(const std::filesystem::path& dir, const LabSettings& settings);

// What joins a client to the lab, as REGEDIT4 text of HKEY_LOCAL_MACHINE keys.
std::string JoinText(const LabSettings& settings);
// Installs the program's icons in the machine's program folder, where the lab's shortcuts look
// for them, and merges JoinText into its SYSTEM.DAT (the old file kept as SYSTEM.DA0). Throws
// LabError while Tarnwick administers the machine.
void JoinMachine(const Machine& machine, const LabSettings& settings);

}  // namespace tarnwick
