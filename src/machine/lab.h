// A lab: a folder on a Samba server from which a room of Windows 95 computers, logged on to the
// server's domain, gets one policy file (netlogon's CONFIG.POL) and keeps its users' roaming
// profiles in their home shares.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "base/error.h"

namespace tarnwick {

// A lab that cannot be made, read or joined; the text names the file or folder.
class LabError : public Error {
 public:
  using Error::Error;
};

inline constexpr std::string_view kLabFile = "lab.ini";
inline constexpr std::string_view kLabSection = "Lab";
inline constexpr std::string_view kPolicyFileName = "CONFIG.POL";
// The folder of a lab directory that plays the server's own Windows machine: its registry holds
// the program's ProfileList entries, its drive C the program's files.
inline constexpr std::string_view kLabServerFolder = "server";

struct LabSettings {
  std::string domain;  // NetBIOS names, upper case
  std::string server;
  std::string netlogon;  // folders as lab.ini holds them: absolute, or relative to the lab
  std::string homes;
};

// True when dir holds a lab.ini.
bool IsLabDirectory(const std::filesystem::path& dir);
// The lab in dir; throws LabError for a missing or damaged lab.ini.
LabSettings ReadLab(const std::filesystem::path& dir);
// A folder of lab.ini as a host path: relative ones below the lab directory.
std::filesystem::path LabFolder(const std::filesystem::path& dir, const std::string& folder);

// Why a domain or server name cannot be a NetBIOS name that Windows 95 accepts; empty when it can.
std::string NetbiosNameProblem(std::string_view name);
// Why a folder of lab.ini cannot be one (empty, a control character, ".." in a relative one);
// empty when it can.
std::string LabFolderProblem(const std::string& folder);
// Why a name cannot be both a Windows 95 logon name and a Samba (Unix) account; empty when it can.
std::string AccountNameProblem(std::string_view name);

// What clients see: "\\SERVER\NETLOGON\CONFIG.POL", and the roaming profile of an account,
// "\\SERVER\name\.profiles" with the home share named in lower case, as the Unix account.
std::string LabPolicyFilePath(const LabSettings& settings);
std::string LabProfileDirectory(const LabSettings& settings, std::string_view name);

}  // namespace tarnwick
